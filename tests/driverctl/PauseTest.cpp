// The busy pause must really count: an optimised-away loop would make the flash pause free.
#include <gtest/gtest.h>

#include <chrono>

#include "driverctl/Pause.h"

TEST(BusyPause, FlashPauseTakesMeasurableTime) {
    // 16,777,216 increments through memory cannot finish in under a millisecond; a loop the
    // compiler removed would take microseconds.
    const auto start = std::chrono::steady_clock::now();
    BusyPause(kFlashPauseCount);
    EXPECT_GT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1));
}
