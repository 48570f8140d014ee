#include "emulator/Sc820Card.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "emulator/HostError.h"

namespace emu {

namespace {

std::string FolderOfRecords(const std::string& path) {
    return path.substr(0, path.rfind('/'));
}

void StoreRecord(const std::string& path, const std::string& record) {
    if (record.size() != kRecordSize) {
        throw HostError("a record holds " + std::to_string(kRecordSize) + " bytes, not " +
                        std::to_string(record.size()));
    }
    ReplaceFile(path, record);
    RemoveStaleTemporaries(FolderOfRecords(path));
}

// The part of chunk `chunk` that lies inside the flash: its offset and length.
std::pair<off_t, size_t> ChunkSpan(uint32_t chunk) {
    uint64_t start = uint64_t{chunk} * kFlashChunkSize;
    if (start >= kFlashSize) return {static_cast<off_t>(kFlashSize), 0};
    return {static_cast<off_t>(start), std::min<size_t>(kFlashChunkSize, kFlashSize - start)};
}

}  // namespace

void Sc820Card::storeEeprom(const std::string& record) const {
    StoreRecord(paths_.eepromFile(), record);
}

void Sc820Card::storeFactory(const std::string& record) const {
    StoreRecord(paths_.factoryFile(), record);
}

int Sc820Card::openFlash(int flags) const {
    std::string path = paths_.flashFile();
    int fd = open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) throw HostError(CorruptMessage(path, "the file is missing"));
        throw HostError("cannot open " + path + ": " + std::strerror(errno));
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || info.st_size != static_cast<off_t>(kFlashSize)) {
        close(fd);
        throw HostError(CorruptMessage(
            path, std::to_string(info.st_size) + " bytes, expected " + std::to_string(kFlashSize)));
    }
    return fd;
}

void Sc820Card::readChunk(uint32_t chunk, uint8_t* out) const {
    auto [offset, length] = ChunkSpan(chunk);
    std::memset(out, kErasedByte, kFlashChunkSize);
    if (length == 0) return;
    int fd = openFlash(O_RDONLY);
    ssize_t n;
    do {
        n = pread(fd, out, length, offset);
    } while (n < 0 && errno == EINTR);
    int saved = errno;
    close(fd);
    if (n != static_cast<ssize_t>(length)) {
        errno = saved;
        throw HostError("cannot read " + paths_.flashFile() + ": " +
                        (n < 0 ? std::strerror(saved) : "short read"));
    }
}

void Sc820Card::writeChunk(uint32_t chunk, const uint8_t* in) const {
    auto [offset, length] = ChunkSpan(chunk);
    writeInPlace(offset, in, length);
}

// Erasing, like programming, works on the flash in place: a process killed meanwhile leaves a
// partly erased flash, as the hardware would.
void Sc820Card::eraseFlash() const {
    const std::string erased(kFlashSize, static_cast<char>(kErasedByte));
    writeInPlace(0, reinterpret_cast<const uint8_t*>(erased.data()), erased.size());
}

void Sc820Card::writeInPlace(off_t offset, const uint8_t* in, size_t length) const {
    if (length == 0) return;
    int fd = openFlash(O_WRONLY);
    try {
        WriteAt(fd, offset, std::string_view(reinterpret_cast<const char*>(in), length),
                paths_.flashFile());
    } catch (...) {
        close(fd);
        throw;
    }
    close(fd);
}

void Sc820Card::storeFlash(const std::string& image) const {
    if (image.size() > kFlashSize) {
        throw HostError("an image of " + std::to_string(image.size()) + " bytes does not fit the " +
                        std::to_string(kFlashSize) + "-byte flash");
    }
    std::string flash = image;
    flash.resize(kFlashSize, static_cast<char>(kErasedByte));
    ReplaceFile(paths_.flashFile(), flash);
    RemoveStaleTemporaries(paths_.stateDir());
}

}  // namespace emu
