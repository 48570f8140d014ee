// The conversions between list positions and speed codes, and terminator buttons and modes.
#include <gtest/gtest.h>

#include <array>

#include "driverif/def.h"
#include "form/SpeedTable.h"

namespace {

constexpr int kNone = -100;  // the row names no speed for that width

// Position -> speed code for each width, fastest first. A wide target keeps its former code at
// a rate no wide speed gives; a narrow one then stores 20 MB/s.
TEST(SpeedTable, EveryPositionShowsAndStoresItsSpeedForBothWidths) {
    const int positions[][2] = {
        {SYNC_20MB, kNone},        {SYNC_13p3MB, kNone}, {SYNC_10MB, SYNC_20MB}, {SYNC_8MB, kNone},
        {SYNC_6p6MB, SYNC_13p3MB}, {SYNC_5p7MB, kNone},  {SYNC_5MB, SYNC_10MB},  {kNone, SYNC_8MB},
        {kNone, SYNC_6p6MB},       {kNone, SYNC_5p7MB},  {kNone, SYNC_5MB}};
    for (int position = 0; position < 11; ++position) {
        for (const bool wide : {true, false}) {
            const int speed = positions[position][wide ? 0 : 1];
            const int stored = speed != kNone ? speed : (wide ? 11 : SYNC_20MB);
            EXPECT_EQ(SyncSpeedForPosition(position, wide, 11), stored);
            if (speed != kNone) {
                EXPECT_EQ(MaxTransferPosition(speed, wide), position) << speed;
            }
        }
    }
    // No selection, positions beyond the list; the position is taken plus one in 16 bits.
    for (const auto& [position, wide, speed] : {std::tuple{-1, true, SYNC_RESERVED},
                                                {-1, false, SYNC_20MB},
                                                {11, false, SYNC_20MB},
                                                {11, true, SYNC_8MB},
                                                {65535, true, SYNC_RESERVED}}) {
        EXPECT_EQ(SyncSpeedForPosition(position, wide, SYNC_8MB), speed) << position;
    }
}

TEST(SpeedTable, CodesOutsideTheListShowAsTheTableSays) {
    for (const auto& [speed, wide, position] : {std::tuple<int, bool, int>{SYNC_RESERVED, false, 2},
                                                {9, false, 2},
                                                {-3, false, 2},
                                                {SYNC_RESERVED, true, -1},
                                                {8, true, 7},
                                                {11, true, 10},
                                                {12, true, 11}}) {
        EXPECT_EQ(MaxTransferPosition(speed, wide), position) << speed << wide;
    }
}

TEST(SpeedTable, TerminatorModesAndButtons) {
    for (const auto& [mode, button] : {std::pair<int, int>{DISABLE_TERM, 3},
                                       {ENABLE_HIGHTERM, 1},
                                       {ENABLE_LOWTERM, 0},
                                       {ENABLE_TERM, 2},
                                       {AUTO_TERM, 0},
                                       {9, 0},
                                       {-1, 0}}) {
        EXPECT_EQ(TerminatorButtonForMode(mode), button) << mode;
    }
    const std::pair<std::array<int, 4>, int32_t> store[] = {
        {{1, 0, 0, 0}, AUTO_TERM},       {{0, 1, 0, 0}, ENABLE_HIGHTERM},
        {{0, 0, 1, 0}, ENABLE_TERM},     {{0, 0, 0, 1}, DISABLE_TERM},
        {{0, 0, 0, 0}, ENABLE_LOWTERM},  // none on: the former mode
        {{0, 1, 1, 1}, ENABLE_HIGHTERM}, {{0, 0, 5, 1}, ENABLE_TERM}};
    for (const auto& [states, stored] : store)
        EXPECT_EQ(TermModeForButtons(states.data(), ENABLE_LOWTERM), stored);
}

}  // namespace
