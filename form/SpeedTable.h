// The two conversions between the form's controls and the record's codes, kept pure so they
// can be checked on their own: maximum-transfer list positions and synchronous speeds, and the
// four terminator buttons and the terminator mode.
#pragma once

#include <cstdint>

// The eleven maximum-transfer items, fastest first: 40, 26.6, 20, 16, 13.3, 11.4, 10, 8, 6.6,
// 5.7 and 5 MB/s. A wide target moves two bytes per transfer, so the same position names a
// different speed code for a wide and for a narrow target.
inline constexpr int kMaxTransferItems = 11;

// The list position that shows a target's speed code. A wide target shows code - 1 (so the
// reserved code selects nothing); a narrow target shows 4 for 13.3 MB/s, code + 3 for 10 to
// 5 MB/s, and 20 MB/s (position 2) for every other code.
int MaxTransferPosition(int32_t syncSpeed, bool wide);

// The speed code stored for a selected position (-1: none selected). Positions that name no
// speed of the target's width store 20 MB/s for a narrow target and keep the former code of a
// wide one.
int32_t SyncSpeedForPosition(int position, bool wide, int32_t formerSpeed);

// Which terminator button (0 to 3) shows a mode: off -> 3, high only -> 1, on -> 2, and
// automatic for automatic, low only and any unknown value -> 0.
int TerminatorButtonForMode(int32_t termMode);

// The mode stored from the buttons' states: the first button that is on decides (0 automatic,
// 1 high only, 2 on, 3 off); with none on the former mode stays.
int32_t TermModeForButtons(const int states[4], int32_t formerMode);
