// NSData: whole-file reading. Files are opened without blocking and checked on the open
// descriptor, so a FIFO or device named in place of a file never hangs the program, and the
// size limit holds even for a file that grows while it is read.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>

#include "platform/foundation/Foundation.h"

namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

void Report(NSData::ReadStatus* status, NSData::ReadStatus value) {
    if (status != nullptr) *status = value;
}

// Reads to the end of the file, but never more than limit + 1 bytes, so that a file longer
// than the limit is recognised without being read whole. False on a read error.
bool ReadAtMost(int fd, size_t limit, std::vector<uint8_t>* out) {
    constexpr size_t kBlock = 64 * 1024;
    const size_t cap = limit == std::numeric_limits<size_t>::max() ? limit : limit + 1;
    while (out->size() < cap) {
        size_t want = std::min(kBlock, cap - out->size());
        size_t start = out->size();
        out->resize(start + want);
        ssize_t n = read(fd, out->data() + start, want);
        if (n < 0 && errno == EINTR) {
            out->resize(start);
            continue;
        }
        if (n < 0) return false;
        out->resize(start + static_cast<size_t>(n));
        if (n == 0) break;
    }
    return true;
}

}  // namespace

std::optional<NSData> NSData::dataWithContentsOfRegularFile(const NSString& path, size_t maxLength,
                                                            ReadStatus* status) {
    FileDescriptor fd(open(path.UTF8String().c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0) {
        Report(status, ReadStatus::unreadable);
        return std::nullopt;
    }
    struct stat info {};
    if (fstat(fd.get(), &info) != 0) {
        Report(status, ReadStatus::unreadable);
        return std::nullopt;
    }
    if (!S_ISREG(info.st_mode)) {
        Report(status, ReadStatus::notRegularFile);
        return std::nullopt;
    }
    if (static_cast<uintmax_t>(info.st_size) > maxLength) {
        Report(status, ReadStatus::tooLarge);
        return std::nullopt;
    }
    NSData data;
    if (!ReadAtMost(fd.get(), maxLength, &data.bytes_)) {
        Report(status, ReadStatus::unreadable);
        return std::nullopt;
    }
    if (data.bytes_.size() > maxLength) {
        Report(status, ReadStatus::tooLarge);
        return std::nullopt;
    }
    Report(status, ReadStatus::ok);
    return data;
}
