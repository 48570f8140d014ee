// Method indices of the utility driver's user client, and the transfer sizes each uses.
#pragma once

#include <cstdint>

enum IOCDBUserClientCommandCodes {
    kGetEEPConfig = 0,
    kSetEEPConfig = 1,
    kGetEEPDefault = 2,
    kEraseFlash = 3,
    kReadFlash = 4,
    kWriteFlash = 5,
    kDataAcquirerNumCommands = 6,
};

// One flash chunk: the structure size of every flash read and write. It stays below the
// platform's 4096-byte limit for a structure passed in line with the call.
inline constexpr uint32_t kFlashChunkSize = 4000;
// A flash sweep is 17 chunk commands at buffer offsets 0, 4000, ... 64000.
inline constexpr uint32_t kFlashSweepChunks = 17;
inline constexpr uint32_t kFlashSweepSize = kFlashChunkSize * kFlashSweepChunks;  // 68,000
// The card's flash holds 64 KiB; image buffers hold that plus one chunk.
inline constexpr uint32_t kFlashSize = 65536;
inline constexpr uint32_t kFlashBufferSize = kFlashSize + kFlashChunkSize;  // 69,536
// The erase command carries a 2-byte placeholder that no side interprets.
inline constexpr uint32_t kEraseInputSize = 2;
