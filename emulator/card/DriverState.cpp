#include "emulator/card/DriverState.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>

#include "emulator/host/HostError.h"

namespace emu {

namespace {

// One step of the reflected CRC for each byte value.
constexpr std::array<uint16_t, 256> MakeCrcTable() {
    std::array<uint16_t, 256> table{};
    for (unsigned value = 0; value < 256; ++value) {
        uint16_t crc = static_cast<uint16_t>(value);
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0x8408 : crc >> 1;
        table[value] = crc;
    }
    return table;
}

constexpr std::array<uint16_t, 256> kCrcTable = MakeCrcTable();

}  // namespace

// Every command reads both slots and writes one: a table keeps that off the profile.
uint16_t Crc16X25(std::string_view bytes) {
    uint16_t crc = 0xFFFF;
    for (unsigned char byte : bytes) crc = (crc >> 8) ^ kCrcTable[(crc ^ byte) & 0xFF];
    return static_cast<uint16_t>(~crc);
}

namespace {

constexpr char kMagic[8] = {'S', 'C', '8', '2', '0', 'D', 'R', 'V'};

// One slot as stored, in host byte order.
struct Slot {
    char magic[8];
    uint64_t sequence;
    uint32_t readCursor;
    uint32_t writeCursor;
    uint32_t lastService;
    uint32_t reserved;
    uint64_t commands[kDataAcquirerNumCommands];
    uint16_t checksum;  // over every byte before it
    uint8_t pad[6];
};
static_assert(sizeof(Slot) == 88 && offsetof(Slot, checksum) == 80);
constexpr size_t kFileSize = 2 * sizeof(Slot);

uint16_t Checksum(const Slot& slot) {
    return Crc16X25(
        std::string_view(reinterpret_cast<const char*>(&slot), offsetof(Slot, checksum)));
}

Slot MakeSlot(const DriverState& state, uint64_t sequence) {
    Slot slot{};
    std::memcpy(slot.magic, kMagic, sizeof kMagic);
    slot.sequence = sequence;
    slot.readCursor = state.readCursor;
    slot.writeCursor = state.writeCursor;
    slot.lastService = state.lastService;
    for (size_t i = 0; i < state.commands.size(); ++i) slot.commands[i] = state.commands[i];
    slot.checksum = Checksum(slot);
    return slot;
}

bool Valid(const Slot& slot) {
    return std::memcmp(slot.magic, kMagic, sizeof kMagic) == 0 && slot.checksum == Checksum(slot) &&
           slot.readCursor < kFlashSweepChunks && slot.writeCursor < kFlashSweepChunks;
}

DriverState StateOf(const Slot& slot) {
    DriverState state;
    state.readCursor = slot.readCursor;
    state.writeCursor = slot.writeCursor;
    state.lastService = slot.lastService;
    for (size_t i = 0; i < state.commands.size(); ++i) state.commands[i] = slot.commands[i];
    return state;
}

}  // namespace

int DriverStateFile::openFile() {
    if (fd_ >= 0) return fd_;
    if (!handles_) handles_ = HandlesOf(paths_.root());
    const std::string& path = handles_->names.driverState;
    struct stat info {};
    fd_ = handles_->driverState.open(path, &info);
    if (fd_ < 0 && errno == ENOENT) throw HostError(CorruptMessage(path, "the file is missing"));
    if (fd_ < 0 && errno == EINVAL) throw HostError(path + " is not a regular file");
    if (fd_ < 0) throw HostError("cannot open " + path + ": " + std::strerror(errno));
    return fd_;
}

DriverState DriverStateFile::load() {
    const int fd = openFile();
    const std::string& path = handles_->names.driverState;
    Slot pair[2];
    char extra;
    struct iovec parts[2] = {{pair, kFileSize}, {&extra, 1}};
    ssize_t n;
    do {
        n = preadv(fd, parts, 2, 0);
    } while (n < 0 && errno == EINTR);
    if (n < 0) throw HostError("cannot read " + path + ": " + std::strerror(errno));
    if (n != static_cast<ssize_t>(kFileSize)) {
        struct stat info {};
        fstat(fd_, &info);
        throw HostError(CorruptMessage(
            path, std::to_string(info.st_size) + " bytes, expected " + std::to_string(kFileSize)));
    }
    int current = -1;
    for (int i = 0; i < 2; ++i) {
        if (Valid(pair[i]) && (current < 0 || pair[i].sequence > pair[current].sequence))
            current = i;
    }
    if (current < 0) throw HostError(CorruptMessage(path, "no valid slot"));
    sequence_ = pair[current].sequence;
    slot_ = current;
    return StateOf(pair[current]);
}

void DriverStateFile::store(const DriverState& state) {
    Slot slot = MakeSlot(state, sequence_ + 1);
    int other = 1 - slot_;
    const int fd = openFile();
    WriteAt(fd, static_cast<off_t>(other * sizeof(Slot)),
            std::string_view(reinterpret_cast<const char*>(&slot), sizeof slot),
            handles_->names.driverState);
    sequence_ = slot.sequence;
    slot_ = other;
}

void DriverStateFile::reset(const DriverState& state) {
    Slot pair[2] = {MakeSlot(state, 2), MakeSlot(state, 1)};
    pair[1].magic[0] = '\0';  // only slot 0 holds the state
    ReplaceFile(paths_.driverStateFile(),
                std::string_view(reinterpret_cast<const char*>(pair), kFileSize));
    fd_ = -1;  // open on the file just replaced
    sequence_ = 2;
    slot_ = 0;
}

}  // namespace emu
