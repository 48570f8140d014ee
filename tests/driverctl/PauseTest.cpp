// The busy pauses: their counts are what defines them, not a time.
#include <gtest/gtest.h>

#include "driverctl/Pause.h"

TEST(BusyPause, CountsExactlyToItsLimit) {
    EXPECT_EQ(kStartupPauseCount, 1048576u);
    EXPECT_EQ(kFlashPauseCount, 16777216u);
    const std::pair<uint32_t, uint32_t> cases[] = {{0, 0}, {1, 1}, {7, 7}, {1u << 20, 1u << 20}};
    for (const auto& [limit, counted] : cases) EXPECT_EQ(BusyPause(limit), counted) << limit;
}
