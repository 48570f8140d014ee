#include "emulator/host/HostHandles.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "common/OwnedFd.h"
#include "emulator/host/HostError.h"

namespace emu {

namespace {

// Hosts kept at a time: the utility uses one, a test a few; each costs three descriptors.
constexpr size_t kKeptHosts = 4;

std::atomic<unsigned> gGeneration{0};

struct KeptHost {
    std::shared_ptr<HostHandles> handles;
    uint64_t lastUse = 0;
};

struct HandleTable {
    HandleTable* parents = nullptr;  // the tables of the processes this one was forked from
    std::mutex mutex;
    std::vector<KeptHost> hosts;
    uint64_t uses = 0;
};

HandleTable* gTable = nullptr;

// A child of fork() starts with a table of its own: the parent's mutexes may have been held
// by the forking thread, and the parent's descriptors are the parent's. The old table is left
// as it is: unlocking one of its descriptors would release the parent's lock.
void ForgetParentHandles() {
    gGeneration.fetch_add(1, std::memory_order_relaxed);
    auto* table = new HandleTable();
    table->parents = gTable;
    gTable = table;
}

HandleTable& Table() {
    static const bool once = [] {
        gTable = new HandleTable();
        pthread_atfork(nullptr, nullptr, ForgetParentHandles);
        return true;
    }();
    (void)once;
    return *gTable;
}

bool SameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

}  // namespace

unsigned ProcessGeneration() {
    return gGeneration.load(std::memory_order_relaxed);
}

FileVersion FileVersion::of(const struct stat& info) {
    return FileVersion{info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim, {}};
}

std::optional<FileVersion> VersionOf(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
        throw HostError("cannot read " + path + ": " + std::strerror(errno));
    }
    return FileVersion::of(info);
}

std::optional<FileVersion> StateVersionOf(const std::string& path) {
    // Opened without following links and without waiting: a FIFO planted there must not hang
    // the check. Whatever is not a plain file gets a version without a stamp, and the read
    // that follows refuses it with the message that says how to mend it.
    sc820::OwnedFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (file.get() < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
        return VersionOf(path);
    }
    struct stat info {};
    if (fstat(file.get(), &info) != 0)
        throw HostError("cannot read " + path + ": " + std::strerror(errno));
    FileVersion version = FileVersion::of(info);
    if (!S_ISREG(info.st_mode)) return version;
    char lead[kStateStampArea];
    ssize_t got = pread(file.get(), lead, sizeof lead, 0);
    if (got < 0) throw HostError("cannot read " + path + ": " + std::strerror(errno));
    version.stamp = StampOfState(std::string_view(lead, static_cast<size_t>(got)));
    return version;
}

bool FileVersion::operator==(const FileVersion& o) const {
    return device == o.device && inode == o.inode && size == o.size &&
           SameTime(modified, o.modified) && SameTime(changed, o.changed) && stamp == o.stamp;
}

bool VersionPin::hold(const std::string& path, const FileVersion& version) {
    release();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !(FileVersion::of(info) == version)) {
        close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

void VersionPin::release() {
    if (fd_ < 0) return;
    int saved = errno;
    close(fd_);
    errno = saved;
    fd_ = -1;
}

int KeptFile::kept() const {
    return fd_ >= 0 && generation_ == ProcessGeneration() ? fd_ : -1;
}

bool KeptFile::names(const struct stat& info) const {
    return kept() >= 0 && info.st_dev == device_ && info.st_ino == inode_;
}

void KeptFile::drop() {
    if (fd_ < 0) return;
    // An inherited descriptor may be closed too: the parent's open file, and its lock, stay.
    int saved = errno;
    close(fd_);
    errno = saved;
    fd_ = -1;
    writable_ = false;
}

int KeptFile::reopen(const std::string& path) {
    drop();
    // Never through a link planted in the file's place, and never waiting on a FIFO put there
    // (regular files ignore the flag).
    constexpr int kFlags = O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW;
    int fd = ::open(path.c_str(), O_RDWR | kFlags);
    bool writable = fd >= 0;
    if (fd < 0 && (errno == EACCES || errno == EROFS)) fd = ::open(path.c_str(), O_RDONLY | kFlags);
    if (fd < 0 && errno == ELOOP) throw HostError(NotAHostFileMessage(path, "a symbolic link"));
    if (fd < 0) return -1;
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        int saved = errno;
        close(fd);
        errno = saved;
        return -1;
    }
    if (std::string why = NotAHostFile(info); !why.empty()) {
        close(fd);
        throw HostError(NotAHostFileMessage(path, why));
    }
    fd_ = fd;
    device_ = info.st_dev;
    inode_ = info.st_ino;
    writable_ = writable;
    generation_ = ProcessGeneration();
    return fd_;
}

int KeptFile::open(const std::string& path, struct stat* info) {
    if (::lstat(path.c_str(), info) != 0) {
        drop();
        return -1;
    }
    if (std::string why = NotAHostFile(*info); !why.empty()) {
        drop();
        throw HostError(NotAHostFileMessage(path, why));
    }
    if (names(*info)) return fd_;
    int fd = reopen(path);
    // What was opened is what is kept and described: the file cannot change under the lock,
    // but a file replaced between the stat and the open is described as it is.
    if (fd >= 0 && fstat(fd, info) != 0) {
        drop();
        return -1;
    }
    return fd;
}

std::shared_ptr<HostHandles> HandlesOf(const std::string& spelled) {
    std::string_view root(spelled);
    while (root.size() > 1 && root.back() == '/') root.remove_suffix(1);
    HandleTable& table = Table();
    std::lock_guard<std::mutex> guard(table.mutex);
    ++table.uses;
    for (KeptHost& host : table.hosts) {
        if (host.handles->paths.root() == root) {
            host.lastUse = table.uses;
            return host.handles;
        }
    }
    if (table.hosts.size() >= kKeptHosts) {
        auto oldest = table.hosts.begin();
        for (auto it = table.hosts.begin(); it != table.hosts.end(); ++it)
            if (it->lastUse < oldest->lastUse) oldest = it;
        table.hosts.erase(oldest);
    }
    table.hosts.push_back(KeptHost{std::make_shared<HostHandles>(std::string(root)), table.uses});
    return table.hosts.back().handles;
}

}  // namespace emu
