// NSData: whole-file reading. Files are opened without blocking and checked on the open
// descriptor, so a FIFO or device named in place of a file never hangs the program, and the
// size limit holds even for a file that grows while it is read.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/FileIO.h"
#include "common/OwnedFd.h"
#include "platform/foundation/Foundation.h"

namespace {

void Report(NSData::ReadStatus* status, NSData::ReadStatus value) {
    if (status != nullptr) *status = value;
}

}  // namespace

std::optional<NSData> NSData::dataWithContentsOfRegularFile(const NSString& path, size_t maxLength,
                                                            ReadStatus* status) {
    sc820::OwnedFd fd(open(path.UTF8String().c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
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
    if (!sc820::ReadAtMost(fd.get(), maxLength, &data.bytes_, static_cast<size_t>(info.st_size))) {
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
