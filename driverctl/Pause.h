// The busy pauses: an empty count with an unsigned 32-bit counter and no timer. The counter is
// volatile so that the compiler cannot remove the loop.
#pragma once

#include <cstdint>

inline constexpr uint32_t kStartupPauseCount = 1u << 20;  // 1,048,576
inline constexpr uint32_t kFlashPauseCount = 1u << 24;    // 16,777,216

// Counts from 0 up to `count` and returns the number of increments made.
uint32_t BusyPause(uint32_t count);
