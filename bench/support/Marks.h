// Timestamps that a child program prints for its parent: "mark NAME NANOSECONDS" on standard
// output, on the monotonic clock, which every process on the machine shares.
#pragma once

#include <chrono>
#include <cstdio>

inline long long MonotonicNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

inline void Mark(const char* name) {
    std::printf("mark %s %lld\n", name, MonotonicNanos());
}
