#include "emulator/card/UtilityClientOwner.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>

namespace emu {

namespace {

// The lock files this process holds, by file identity: two spellings of one host root name
// the same file, and a second descriptor on it would not share the first one's lock.
using FileId = std::pair<dev_t, ino_t>;

// Never closed: ownership ends with the process. A child of fork() owns nothing: it closes
// its copies of the descriptors (the parent's lock stays with the parent) and starts a table of
// its own, since the parent's mutex may have been held by the forking thread.
struct Claims {
    std::mutex mutex;
    std::map<FileId, int> held;
};

Claims* gClaims = nullptr;

void ForgetParentClaims() {
    for (const auto& [id, fd] : gClaims->held) close(fd);
    gClaims = new Claims();
}

Claims& TheClaims() {
    static const bool once = [] {
        gClaims = new Claims();
        pthread_atfork(nullptr, nullptr, ForgetParentClaims);
        return true;
    }();
    (void)once;
    return *gClaims;
}

std::mutex& HeldMutex() {
    return TheClaims().mutex;
}

std::map<FileId, int>& Held() {
    return TheClaims().held;
}

IOReturn Fail(std::string* problem, const std::string& text) {
    if (problem != nullptr) *problem = text;
    return kIOReturnError;
}

}  // namespace

std::string UtilityClientLockFile(const HostPaths& paths) {
    return paths.stateDir() + "/utility-client.lock";
}

IOReturn ClaimUtilityClient(const HostPaths& paths, std::string* problem) {
    const std::string path = UtilityClientLockFile(paths);
    // The owner's every command asks again: a look at the path is enough to see that it still
    // names the file whose lock this process holds.
    struct stat named {};
    if (lstat(path.c_str(), &named) == 0 && S_ISREG(named.st_mode)) {
        std::lock_guard<std::mutex> guard(HeldMutex());
        if (Held().count({named.st_dev, named.st_ino}) != 0) return kIOReturnSuccess;
    }
    // Never through a link, and never waiting on a FIFO put in the file's place.
    constexpr int kFlags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    int fd = open(path.c_str(), O_RDWR | O_CREAT | kFlags, 0644);
    if (fd < 0 && (errno == EACCES || errno == EROFS)) fd = open(path.c_str(), O_RDONLY | kFlags);
    if (fd < 0) return Fail(problem, "cannot open " + path + ": " + std::strerror(errno));
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return Fail(problem, path + ": not a regular file");
    }
    std::lock_guard<std::mutex> guard(HeldMutex());
    if (Held().count({info.st_dev, info.st_ino}) != 0) {
        close(fd);  // this process owns the client already
        return kIOReturnSuccess;
    }
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        const int saved = errno;
        close(fd);
        if (saved == EWOULDBLOCK) return kIOReturnExclusiveAccess;
        return Fail(problem, "cannot lock " + path + ": " + std::strerror(saved));
    }
    Held().emplace(FileId{info.st_dev, info.st_ino}, fd);
    return kIOReturnSuccess;
}

}  // namespace emu
