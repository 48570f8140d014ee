// The conversions between list positions and speed codes, and terminator buttons and modes.
#include <gtest/gtest.h>

#include "driverif/def.h"
#include "form/SpeedTable.h"

namespace {

constexpr int kNone = -100;  // the row names no speed for that width

// Position -> rate -> speed code for each width, fastest first.
struct PositionRow {
    int position;
    int wideSpeed;
    int narrowSpeed;
};
constexpr PositionRow kPositions[] = {
    {0, SYNC_20MB, kNone},    {1, SYNC_13p3MB, kNone},      {2, SYNC_10MB, SYNC_20MB},
    {3, SYNC_8MB, kNone},     {4, SYNC_6p6MB, SYNC_13p3MB}, {5, SYNC_5p7MB, kNone},
    {6, SYNC_5MB, SYNC_10MB}, {7, kNone, SYNC_8MB},         {8, kNone, SYNC_6p6MB},
    {9, kNone, SYNC_5p7MB},   {10, kNone, SYNC_5MB},
};

TEST(SpeedTable, EveryPositionShowsAndStoresItsSpeedForBothWidths) {
    for (const auto& row : kPositions) {
        SCOPED_TRACE(row.position);
        if (row.wideSpeed != kNone) {
            EXPECT_EQ(MaxTransferPosition(row.wideSpeed, true), row.position);
            EXPECT_EQ(SyncSpeedForPosition(row.position, true, SYNC_5MB), row.wideSpeed);
        } else {
            // A wide target keeps its former code at a rate no wide speed gives.
            EXPECT_EQ(SyncSpeedForPosition(row.position, true, 6), 6);
            EXPECT_EQ(SyncSpeedForPosition(row.position, true, 11), 11);
        }
        if (row.narrowSpeed != kNone) {
            EXPECT_EQ(MaxTransferPosition(row.narrowSpeed, false), row.position);
            EXPECT_EQ(SyncSpeedForPosition(row.position, false, SYNC_5MB), row.narrowSpeed);
        } else {
            EXPECT_EQ(SyncSpeedForPosition(row.position, false, SYNC_5MB), SYNC_20MB);
        }
    }
}

TEST(SpeedTable, CodesOutsideTheListShowAsTheTableSays) {
    struct Case {
        int32_t speed;
        bool wide;
        int position;
    };
    const Case cases[] = {
        {SYNC_RESERVED, false, 2}, {SYNC_20MB, false, 2}, {9, false, 2},  {-3, false, 2},
        {SYNC_RESERVED, true, -1}, {8, true, 7},          {11, true, 10}, {12, true, 11},
        {SYNC_5MB, false, 10},     {SYNC_5MB, true, 6},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MaxTransferPosition(c.speed, c.wide), c.position)
            << "speed " << c.speed << " wide " << c.wide;
    }
}

TEST(SpeedTable, NoSelectionAndPositionsBeyondTheList) {
    EXPECT_EQ(SyncSpeedForPosition(-1, true, SYNC_8MB), SYNC_RESERVED);
    EXPECT_EQ(SyncSpeedForPosition(-1, false, SYNC_8MB), SYNC_20MB);
    EXPECT_EQ(SyncSpeedForPosition(11, false, SYNC_8MB), SYNC_20MB);
    EXPECT_EQ(SyncSpeedForPosition(11, true, SYNC_8MB), SYNC_8MB);
    // The position is taken plus one in 16 bits: 65535 wraps to "none".
    EXPECT_EQ(SyncSpeedForPosition(65535, true, SYNC_8MB), SYNC_RESERVED);
}

TEST(SpeedTable, TerminatorModesAndButtons) {
    const std::pair<int32_t, int> show[] = {{DISABLE_TERM, 3},
                                            {ENABLE_HIGHTERM, 1},
                                            {ENABLE_LOWTERM, 0},
                                            {ENABLE_TERM, 2},
                                            {AUTO_TERM, 0},
                                            {9, 0},
                                            {-1, 0}};
    for (const auto& [mode, button] : show)
        EXPECT_EQ(TerminatorButtonForMode(mode), button) << mode;

    struct Case {
        int states[4];
        int32_t stored;
    };
    const Case store[] = {
        {{1, 0, 0, 0}, AUTO_TERM},       {{0, 1, 0, 0}, ENABLE_HIGHTERM},
        {{0, 0, 1, 0}, ENABLE_TERM},     {{0, 0, 0, 1}, DISABLE_TERM},
        {{0, 0, 0, 0}, ENABLE_LOWTERM},  // none on: the former mode stays
        {{0, 1, 1, 1}, ENABLE_HIGHTERM}, {{0, 0, 5, 1}, ENABLE_TERM},
    };
    for (const auto& c : store) EXPECT_EQ(TermModeForButtons(c.states, ENABLE_LOWTERM), c.stored);
}

}  // namespace
