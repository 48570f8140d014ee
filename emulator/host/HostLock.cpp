#include "emulator/host/HostLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "emulator/host/HostError.h"

namespace emu {

namespace {

// Gives up when the lock file is replaced this many times while one lock is being taken.
constexpr int kLockAttempts = 100;

[[noreturn]] void FailOpen(const HostPaths& paths, const std::string& path, int error) {
    if (error == ENOENT || error == ENOTDIR) throw HostError(NoHostMessage(paths.root()));
    throw HostError("cannot open " + path + ": " + std::strerror(error));
}

}  // namespace

void HostLock::lockKept(const std::string& path, int fd) {
    // flock needs no write access: a host on a read-only file system can still be read.
    while (flock(fd, LOCK_EX) != 0) {
        if (errno == EINTR) continue;
        int saved = errno;
        handles_->lock.drop();
        throw HostError("cannot lock " + path + ": " + std::strerror(saved));
    }
    locked_ = fd;
    generation_ = ProcessGeneration();
}

void HostLock::unlock() {
    if (locked_ >= 0) flock(locked_, LOCK_UN);
    locked_ = -1;
}

void HostLock::acquire(Check check) {
    const HostPaths& paths = handles_->paths;
    const std::string& path = handles_->names.lock;
    KeptFile& kept = handles_->lock;
    for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
        int fd = kept.kept();
        if (fd < 0) {
            RequireHostFolders(paths);
            fd = kept.reopen(path);
        }
        if (fd < 0) FailOpen(paths, path, errno);
        lockKept(path, fd);
        if (check == Check::byCaller) return;
        // Only now is it certain that nobody replaces the host under this lock: a lock on a
        // file the path no longer names excludes nobody, so it is let go and the new file
        // locked instead.
        struct stat info {};
        if (stat(path.c_str(), &info) == 0 && kept.names(info)) return;
        int saved = errno;
        unlock();
        kept.drop();
        if (saved == ENOENT || saved == ENOTDIR) FailOpen(paths, path, saved);
    }
    throw HostError("cannot lock " + path + ": the file keeps being replaced");
}

HostLock::HostLock(const HostPaths& paths, Check check) : HostLock(paths.root(), check) {}

HostLock::HostLock(const std::string& root, Check check)
    : handles_(HandlesOf(root)), inProcess_(handles_->operations) {
    acquire(check);
}

bool HostLock::confirm() {
    struct stat info {};
    if (stat(handles_->names.lock.c_str(), &info) == 0 && handles_->lock.names(info)) return true;
    unlock();
    handles_->lock.drop();
    acquire(Check::now);
    return false;
}

HostLock HostLock::createAndLock(const HostPaths& paths) {
    std::error_code error;
    std::filesystem::create_directories(paths.stateDir(), error);
    if (error) throw HostError("cannot create " + paths.stateDir() + ": " + error.message());
    std::string path = paths.lockFile();
    RequireHostFolders(paths);
    // Making a host anew mends a lock file that is not a plain one; never creating through a
    // link planted there.
    (void)MendHostFile(path, "");
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    if (fd < 0) throw HostError("cannot create " + path + ": " + std::strerror(errno));
    close(fd);
    return HostLock(paths);
}

HostLock::~HostLock() {
    // A child of fork() must not unlock: its descriptor shares the parent's lock.
    if (generation_ == ProcessGeneration()) unlock();
}

}  // namespace emu
