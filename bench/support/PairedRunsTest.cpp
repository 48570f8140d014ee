// The statistics every benchmark table rests on: a wrong median or a ratio of the wrong pairs
// would misreport every row.
#include <gtest/gtest.h>

#include <string>

#include "bench/support/PairedRuns.h"

namespace {

TEST(PairedRuns, Median) {
    struct Case {
        std::vector<double> values;
        double median;
    };
    const Case cases[] = {
        {{}, 0},
        {{7}, 7},
        {{9, 1, 5}, 5},         // unsorted input
        {{4, 1, 3, 2}, 2.5},    // even count: mean of the middle two
        {{1, 1, 100, 2}, 1.5},  // an outlier does not move it
    };
    for (const Case& c : cases) EXPECT_DOUBLE_EQ(Median(c.values), c.median);
}

TEST(PairedRuns, MedianRatioPairsRoundsInOrder) {
    struct Case {
        std::vector<double> numerator;
        std::vector<double> denominator;
        double ratio;
    };
    const Case cases[] = {
        // Per-round ratios 2, 3, 4: the median is 3. The ratio of the medians would be 4/2 = 2.
        {{2, 12, 4}, {1, 4, 1}, 3},
        // A round whose reference measured nothing is left out: ratios 2 and 4.
        {{2, 5, 8}, {1, 0, 2}, 3},
        // Extra values without a partner are not paired.
        {{3, 6, 100}, {1, 2}, 3},
    };
    for (const Case& c : cases) EXPECT_DOUBLE_EQ(MedianRatio(c.numerator, c.denominator), c.ratio);
}

TEST(PairedRuns, InterleavingRotatesWhichSideGoesFirst) {
    std::string order;
    std::vector<Side> sides;
    for (char name : std::string("abc")) {
        sides.push_back([&order, name] {
            order += name;
            return static_cast<double>(order.size());
        });
    }
    const auto results = RunInterleaved(sides, 4);
    EXPECT_EQ(order, "abcbcacababc");
    // Each side's results are its own, in round order.
    const std::vector<std::vector<double>> expected = {{1, 6, 8, 10}, {2, 4, 9, 11}, {3, 5, 7, 12}};
    EXPECT_EQ(results, expected);
}

}  // namespace
