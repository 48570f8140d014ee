// The start-up phase table is built from these: a mark read from the wrong line, or a phase
// measured from the wrong end, would put time in the wrong row.
#include <gtest/gtest.h>

#include "bench/support/PhaseMarks.h"

namespace {

TEST(PhaseMarks, OnlyMarkLinesAreRead) {
    const std::string output =
        "This plugin does not support propagateSizeHints()\n"
        "mark main 100\n"
        "qt: a warning that says mark 7\n"
        "xmark main 999\n"
        "mark qt 250\n"
        "mark broken x\n"
        "error nothing\n";
    const std::map<std::string, long long> expected = {{"main", 100}, {"qt", 250}};
    EXPECT_EQ(ParseMarks(output), expected);
}

TEST(PhaseMarks, PhasesRunFromMarkToMark) {
    // Three runs in nanoseconds; each phase's median is written out below.
    const std::vector<PhaseRun> runs = {
        {{{"a", 10}, {"b", 30}}, 0, 100},
        {{{"a", 1020}, {"b", 1050}}, 1000, 1200},
        {{{"a", 5}, {"b", 10}}, 0, 20},
    };
    struct Case {
        const char* from;
        const char* to;
        double seconds;
    };
    const Case cases[] = {
        {nullptr, "a", 10e-9},       // start to a: 10, 20, 5
        {"a", "b", 20e-9},           // a to b: 20, 30, 5
        {"b", nullptr, 70e-9},       // b to exit: 70, 150, 10
        {nullptr, nullptr, 100e-9},  // the whole run: 100, 200, 20
    };
    for (const Case& c : cases) {
        const std::optional<double> median = PhaseMedian(runs, c.from, c.to);
        ASSERT_TRUE(median.has_value());
        EXPECT_DOUBLE_EQ(*median, c.seconds);
    }
    EXPECT_FALSE(PhaseMedian(runs, "a", "missing").has_value());
    EXPECT_FALSE(PhaseMedian(runs, "missing", nullptr).has_value());
}

}  // namespace
