// The utility driver's working state: the flash chunk cursors, the count of commands received
// per code, and the service that received the last one. Every command changes it, so it is kept
// apart from the JSON state in a small binary file that is updated in place instead of being
// rewritten and renamed: the file holds two slots, written alternately, each with a sequence
// number and a checksum. The valid slot with the higher sequence is the state, so a process
// killed while writing one slot leaves the other one, the previous state, intact.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>

#include "driverif/CommandCodes.h"
#include "emulator/host/HostFiles.h"
#include "emulator/host/HostHandles.h"

namespace emu {

struct DriverState {
    uint32_t readCursor = 0;   // next chunk of a read sweep, 0..16
    uint32_t writeCursor = 0;  // next chunk of a write sweep, 0..16
    std::array<uint64_t, kDataAcquirerNumCommands> commands{};  // received, per command code
    uint32_t lastService = 0;  // the registry entry that received the last command; 0: none
};

// The slots' checksum: CRC-16/X.25 (ISO 3309; reflected polynomial 0x8408, initial value and
// final xor 0xFFFF), a published check that catches a slot torn by a write cut short.
uint16_t Crc16X25(std::string_view bytes);

class DriverStateFile {
public:
    explicit DriverStateFile(const HostPaths& paths) : paths_(paths) {}
    ~DriverStateFile() = default;
    DriverStateFile(const DriverStateFile&) = delete;
    DriverStateFile& operator=(const DriverStateFile&) = delete;

    // Reads the current state; a file of the wrong size or without a valid slot throws
    // HostError ("... is corrupt").
    DriverState load();
    // Writes the state into the slot that does not hold the state last loaded.
    void store(const DriverState& state);
    // Replaces the whole file with a fresh state (for init).
    void reset(const DriverState& state);

private:
    int openFile();
    const HostPaths& paths_;
    // The descriptor is the one this process keeps for the host between commands; it is
    // checked against the path once per object, that is once per command.
    std::shared_ptr<HostHandles> handles_;
    int fd_ = -1;
    uint64_t sequence_ = 0;  // of the state last loaded or stored
    int slot_ = 0;           // where that state is
};

}  // namespace emu
