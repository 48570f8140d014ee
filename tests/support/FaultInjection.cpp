#include "tests/support/FaultInjection.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace faults {

namespace {

// Plain storage, so that calls made before any constructor runs find it ready.
std::atomic<bool> gArmed{false};
std::atomic<unsigned> gCounts[static_cast<int>(Kind::count)];
std::atomic<bool> gFailed{false};
Kind gKind = Kind::open;
unsigned gNth = 0;
int gError = EIO;
char gPrefix[4096];

template <typename F>
F Real(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

bool Under(const char* path) {
    return path != nullptr && std::strncmp(path, gPrefix, std::strlen(gPrefix)) == 0;
}

bool FdUnder(int fd) {
    char link[64];
    char target[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, target, sizeof target - 1);
    return n > 0 && (target[n] = '\0', Under(target));
}

// Counts a call on a matching path and says whether it is the one to fail (errno set then).
bool Fails(Kind kind, bool matches) {
    if (!gArmed.load(std::memory_order_acquire) || !matches) return false;
    const unsigned n = gCounts[static_cast<int>(kind)].fetch_add(1) + 1;
    if (kind != gKind || n != gNth) return false;
    gFailed = true, errno = gError;
    return true;
}

// Disarmed, no path is looked at. A relative path under a folder descriptor counts by the
// folder it is in.
bool FailsAt(Kind kind, int dirfd, const char* path) {
    if (!gArmed.load(std::memory_order_acquire)) return false;
    const bool relative = path != nullptr && path[0] != '/' && dirfd != AT_FDCWD;
    return Fails(kind, relative ? FdUnder(dirfd) : Under(path));
}
bool FailsOnFd(Kind kind, int fd) {
    return gArmed.load(std::memory_order_acquire) && Fails(kind, FdUnder(fd));
}

}  // namespace

void WriteCountsNow() {
    const char* file = std::getenv("SC820_FAULT_COUNTS");
    if (file == nullptr) return;
    gArmed = false;
    FILE* out = std::fopen(file, "w");
    if (out == nullptr) return;
    for (int k = 0; k < static_cast<int>(Kind::count); ++k)
        std::fprintf(out, "%s %u\n", kKindNames[k], gCounts[k].load());
    std::fprintf(out, "failed %d\n", gFailed.load() ? 1 : 0);
    std::fclose(out);
}

namespace {

__attribute__((constructor)) void ArmFromEnvironment() {
    const char* injection = std::getenv("SC820_FAULT");
    const char* prefix = std::getenv("SC820_FAULT_PATH");
    if (injection == nullptr || prefix == nullptr) return;
    char kind[16] = {};
    unsigned nth = 0;
    int error = EIO;
    if (std::sscanf(injection, "%15[a-z]:%u:%d", kind, &nth, &error) < 2) return;
    for (int k = 0; k < static_cast<int>(Kind::count); ++k)
        if (std::strcmp(kind, kKindNames[k]) == 0) Arm(static_cast<Kind>(k), nth, error, prefix);
    std::atexit([] { WriteCountsNow(); });
    // Only this process fails: the programs it starts (the driver tools) run as they are.
    unsetenv("LD_PRELOAD");
}

}  // namespace

void Arm(Kind kind, unsigned nth, int error, const std::string& prefix) {
    gArmed = false;
    for (auto& count : gCounts) count = 0;
    gFailed = false;
    gKind = kind;
    gNth = nth;
    gError = error;
    std::snprintf(gPrefix, sizeof gPrefix, "%s", prefix.c_str());
    gArmed.store(true, std::memory_order_release);
}

void Disarm() {
    gArmed = false;
}
void Resume() {
    gArmed = true;
}
unsigned Counted(Kind kind) {
    return gCounts[static_cast<int>(kind)].load();
}
bool Failed() {
    return gFailed.load();
}

}  // namespace faults

using faults::FailsAt;
using faults::FailsOnFd;
using faults::Kind;
using faults::Real;

// Each wrapper fails the call when it is the one armed, else calls the real function.
#define SC820_WRAP(type, name, params, fails, args)     \
    type name params {                                  \
        if (fails) return -1;                           \
        static auto real = Real<type(*) params>(#name); \
        return real args;                               \
    }
// The open calls take a mode only with O_CREAT or O_TMPFILE; open is openat in the current folder.
#define SC820_WRAP_OPEN(name, real_name, dirfd)                                        \
    int name(SC820_OPEN_DIR const char* path, int flags, ...) {                        \
        va_list args;                                                                  \
        va_start(args, flags);                                                         \
        const bool moded = (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE; \
        const mode_t mode = moded ? va_arg(args, mode_t) : 0;                          \
        va_end(args);                                                                  \
        if (FailsAt(Kind::open, dirfd, path)) return -1;                               \
        static auto real = Real<int (*)(int, const char*, int, ...)>(#real_name);      \
        return real(dirfd, path, flags, mode);                                         \
    }

extern "C" {

#define SC820_OPEN_DIR
SC820_WRAP_OPEN(open, openat, AT_FDCWD)
SC820_WRAP_OPEN(open64, openat64, AT_FDCWD)
#undef SC820_OPEN_DIR
#define SC820_OPEN_DIR int dirfd,
SC820_WRAP_OPEN(openat, openat, dirfd)
SC820_WRAP_OPEN(openat64, openat64, dirfd)
SC820_WRAP(ssize_t, write, (int fd, const void* data, size_t size),
           fd > 2 && FailsOnFd(Kind::write, fd), (fd, data, size))
SC820_WRAP(ssize_t, pwrite, (int fd, const void* data, size_t size, off_t offset),
           FailsOnFd(Kind::write, fd), (fd, data, size, offset))
SC820_WRAP(ssize_t, pwrite64, (int fd, const void* data, size_t size, off_t offset),
           FailsOnFd(Kind::write, fd), (fd, data, size, offset))
SC820_WRAP(ssize_t, writev, (int fd, const struct iovec* parts, int count),
           fd > 2 && FailsOnFd(Kind::write, fd), (fd, parts, count))
SC820_WRAP(int, fsync, (int fd), FailsOnFd(Kind::sync, fd), (fd))
SC820_WRAP(int, fdatasync, (int fd), FailsOnFd(Kind::sync, fd), (fd))
SC820_WRAP(int, rename, (const char* from, const char* to), FailsAt(Kind::rename, AT_FDCWD, to),
           (from, to))
SC820_WRAP(int, renameat, (int fromDir, const char* from, int toDir, const char* to),
           FailsAt(Kind::rename, toDir, to), (fromDir, from, toDir, to))

// Programs that end at once (_exit) still leave their counts.
[[noreturn]] void _exit(int status) {
    faults::WriteCountsNow();
    static auto real = Real<void (*)(int)>("_exit");
    real(status);
    __builtin_unreachable();
}

}  // extern "C"
