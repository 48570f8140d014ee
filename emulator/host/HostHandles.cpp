#include "emulator/host/HostHandles.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
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

namespace {

// The file system's own name for the inode at `path` (for most, its number and generation: a
// reused inode number comes with a new generation). False where the file system has none.
bool HandleOf(const std::string& path, std::string* handle) {
    alignas(struct file_handle) char room[sizeof(struct file_handle) + MAX_HANDLE_SZ] = {};
    auto* h = reinterpret_cast<struct file_handle*>(room);
    h->handle_bytes = MAX_HANDLE_SZ;
    int mountId = 0;
    if (name_to_handle_at(AT_FDCWD, path.c_str(), h, &mountId, 0) != 0) return false;
    handle->assign(reinterpret_cast<const char*>(h->f_handle), h->handle_bytes);
    *handle += static_cast<char>(h->handle_type);
    return true;
}

// The stamp the state file's first bytes hold. Opened without following links and without
// waiting: whatever is not a plain file gets no stamp, and the read that follows refuses it
// with the message that says how to mend it.
std::string StampAt(const std::string& path) {
    sc820::OwnedFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat info {};
    if (file.get() < 0 || fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return "";
    char lead[kStateStampArea];
    ssize_t got = pread(file.get(), lead, sizeof lead, 0);
    return got > 0 ? StampOfState(std::string_view(lead, static_cast<size_t>(got))) : "";
}

// The coarsest clock a local file system keeps times with (ext2's one second), plus the
// kernel's own tick, by which the times it gives files lag its clock, with room to spare.
constexpr int64_t kCoarsestTickNs = 1'100'000'000;

int64_t Nanoseconds(const timespec& t) {
    return static_cast<int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// Whether the file system holding `path` takes its times from this machine's clock. Network
// file systems take them from the server's, which may run behind; unknown kinds count as such.
bool TimesFromThisClock(const std::string& path) {
    struct statfs info {};
    if (statfs(path.c_str(), &info) != 0) return false;
    switch (static_cast<unsigned long>(info.f_type)) {
        case 0xEF53:      // ext2, ext3, ext4
        case 0x01021994:  // tmpfs
        case 0x858458F6:  // ramfs
        case 0x58465342:  // xfs
        case 0x9123683E:  // btrfs
        case 0xF2F52010:  // f2fs
        case 0x2FC12FC1:  // zfs
        case 0x794C7630:  // overlay
            return true;
        default:
            return false;
    }
}

bool SameStatus(const FileVersion& a, const FileVersion& b) {
    return a.device == b.device && a.inode == b.inode && a.size == b.size &&
           SameTime(a.modified, b.modified) && SameTime(a.changed, b.changed);
}

}  // namespace

std::optional<FileVersion> StateVersionOf(HostHandles& kept) {
    const std::string& path = kept.names.state;
    std::optional<FileVersion> version = VersionOf(path);
    if (!version) return version;
    const bool known = kept.stateVersion && SameStatus(*version, *kept.stateVersion);
    if (known && kept.stateSettled) {
        version->stamp = kept.stateVersion->stamp;
        return version;
    }
    timespec seen{};
    clock_gettime(CLOCK_REALTIME, &seen);
    if (!HandleOf(path, &version->stamp)) version->stamp = "stamp " + StampAt(path);
    if (known && version->stamp == kept.stateVersion->stamp) {
        if (!kept.stateTimesFromThisClock) kept.stateTimesFromThisClock = TimesFromThisClock(path);
        kept.stateSettled = *kept.stateTimesFromThisClock &&
                            Nanoseconds(seen) - Nanoseconds(version->changed) > kCoarsestTickNs;
    }
    return version;
}

bool FileVersion::operator==(const FileVersion& o) const {
    return SameStatus(*this, o) && stamp == o.stamp;
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
