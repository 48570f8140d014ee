#include "emulator/HostLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "emulator/HostError.h"

namespace emu {

int HostLock::lockFd(int fd, const std::string& path) {
    while (flock(fd, LOCK_EX) != 0) {
        if (errno == EINTR) continue;
        int saved = errno;
        close(fd);
        throw HostError("cannot lock " + path + ": " + std::strerror(saved));
    }
    return fd;
}

HostLock::HostLock(const HostPaths& paths) : fd_(-1) {
    std::string path = paths.lockFile();
    int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    // flock needs no write access: a host on a read-only file system can still be read.
    if (fd < 0 && (errno == EACCES || errno == EROFS))
        fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) throw HostError(NoHostMessage(paths.root()));
        throw HostError("cannot open " + path + ": " + std::strerror(errno));
    }
    fd_ = lockFd(fd, path);
}

HostLock HostLock::createAndLock(const HostPaths& paths) {
    std::error_code error;
    std::filesystem::create_directories(paths.stateDir(), error);
    if (error) throw HostError("cannot create " + paths.stateDir() + ": " + error.message());
    std::string path = paths.lockFile();
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) throw HostError("cannot create " + path + ": " + std::strerror(errno));
    return HostLock(lockFd(fd, path));
}

HostLock::~HostLock() {
    if (fd_ >= 0) close(fd_);
}

}  // namespace emu
