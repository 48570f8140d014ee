#include "emulator/card/Sc820Card.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "emulator/host/HostError.h"
#include "emulator/host/HostHandles.h"

namespace emu {

namespace {

std::string FolderOfRecords(const std::string& path) {
    return path.substr(0, path.rfind('/'));
}

bool StoreRecord(const std::string& path, const std::string& record) {
    if (record.size() != kRecordSize) {
        throw HostError("a record holds " + std::to_string(kRecordSize) + " bytes, not " +
                        std::to_string(record.size()));
    }
    bool durable = ReplaceFile(path, record);
    RemoveStaleTemporaries(FolderOfRecords(path));
    return durable;
}

// The part of chunk `chunk` that lies inside the flash: its offset and length.
std::pair<off_t, size_t> ChunkSpan(uint32_t chunk) {
    uint64_t start = uint64_t{chunk} * kFlashChunkSize;
    if (start >= kFlashSize) return {static_cast<off_t>(kFlashSize), 0};
    return {static_cast<off_t>(start), std::min<size_t>(kFlashChunkSize, kFlashSize - start)};
}

// The record at `path` from `cache` when the file is still the version read into it.
std::string ReadRecord(const std::string& path, CachedRecord& cache) {
    struct stat info {};
    if (stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        FileVersion version = FileVersion::of(info);
        if (cache.version == version) return cache.bytes;
        cache.version.reset();
        // Pinned before it is read: at worst a file replaced meanwhile is cached under the
        // pinned version, which the next call finds replaced.
        bool pinned = cache.pin.hold(path, version);
        cache.bytes = ReadSizedFile(path, kRecordSize);
        if (pinned) cache.version = version;
        return cache.bytes;
    }
    cache.version.reset();
    cache.pin.release();
    return ReadSizedFile(path, kRecordSize);  // says what is wrong with the file
}

}  // namespace

std::string Sc820Card::readEeprom() const {
    std::shared_ptr<HostHandles> kept = HandlesOf(paths_.root());
    return ReadRecord(kept->names.eeprom, kept->eeprom);
}

std::string Sc820Card::readFactory() const {
    std::shared_ptr<HostHandles> kept = HandlesOf(paths_.root());
    return ReadRecord(kept->names.factory, kept->factory);
}

bool Sc820Card::storeEeprom(const std::string& record) const {
    return StoreRecord(paths_.eepromFile(), record);
}

bool Sc820Card::storeFactory(const std::string& record) const {
    return StoreRecord(paths_.factoryFile(), record);
}

int Sc820Card::openFlash(bool forWriting) const {
    std::shared_ptr<HostHandles> kept = HandlesOf(paths_.root());
    const std::string& path = kept->names.flash;
    KeptFile& flash = kept->flash;
    struct stat info {};
    int fd = flash.open(path, &info);
    if (fd >= 0 && forWriting && !flash.writable()) {
        // Kept for reading only: writing is refused with the reason an open for it gives now.
        int probe = open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
        if (probe >= 0) close(probe);
        fd = probe >= 0 ? flash.reopen(path) : -1;
        if (fd >= 0 && !flash.writable()) {
            errno = EACCES;
            fd = -1;
        }
    }
    if (fd < 0) {
        if (errno == ENOENT) throw HostError(CorruptMessage(path, "the file is missing"));
        if (errno == EINVAL) throw HostError(CorruptMessage(path, "not a regular file"));
        throw HostError("cannot open " + path + ": " + std::strerror(errno));
    }
    if (info.st_size != static_cast<off_t>(kFlashSize)) {
        throw HostError(CorruptMessage(
            path, std::to_string(info.st_size) + " bytes, expected " + std::to_string(kFlashSize)));
    }
    return fd;
}

void Sc820Card::readChunk(uint32_t chunk, uint8_t* out) const {
    auto [offset, length] = ChunkSpan(chunk);
    std::memset(out, kErasedByte, kFlashChunkSize);
    if (length == 0) return;
    int fd = openFlash(false);
    ssize_t n;
    do {
        n = pread(fd, out, length, offset);
    } while (n < 0 && errno == EINTR);
    if (n != static_cast<ssize_t>(length)) {
        throw HostError("cannot read " + paths_.flashFile() + ": " +
                        (n < 0 ? std::strerror(errno) : "short read"));
    }
}

void Sc820Card::writeChunk(uint32_t chunk, const uint8_t* in) const {
    auto [offset, length] = ChunkSpan(chunk);
    writeInPlace(offset, in, length);
}

// Erasing, like programming, works on the flash in place: a process killed meanwhile leaves a
// partly erased flash, as the hardware would.
void Sc820Card::eraseFlash() const {
    // Made once: a 64 KiB buffer made and freed per erase would be faulted in afresh each time.
    static const std::string erased(kFlashSize, static_cast<char>(kErasedByte));
    writeInPlace(0, reinterpret_cast<const uint8_t*>(erased.data()), erased.size());
}

void Sc820Card::writeInPlace(off_t offset, const uint8_t* in, size_t length) const {
    if (length == 0) return;
    WriteAt(openFlash(true), offset, std::string_view(reinterpret_cast<const char*>(in), length),
            paths_.flashFile());
}

bool Sc820Card::storeFlash(const std::string& image) const {
    if (image.size() > kFlashSize) {
        throw HostError("an image of " + std::to_string(image.size()) + " bytes does not fit the " +
                        std::to_string(kFlashSize) + "-byte flash");
    }
    std::string flash = image;
    flash.resize(kFlashSize, static_cast<char>(kErasedByte));
    bool durable = ReplaceFile(paths_.flashFile(), flash);
    RemoveStaleTemporaries(paths_.stateDir());
    return durable;
}

}  // namespace emu
