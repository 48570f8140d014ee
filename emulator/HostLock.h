// The host's kernel lock: every kernel operation holds it, exclusively, for its whole span, so
// that processes acting on one host (the utility, the driver tools, sc820-host) never see each
// other's half-done work.
#pragma once

#include "emulator/HostFiles.h"

namespace emu {

class HostLock {
public:
    // Locks an existing host; a root without its lock file holds no host (HostError).
    explicit HostLock(const HostPaths& paths);
    // Creates the lock file (and its folder) when missing, then locks: for `init` only.
    static HostLock createAndLock(const HostPaths& paths);
    ~HostLock();
    HostLock(HostLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    HostLock(const HostLock&) = delete;
    HostLock& operator=(const HostLock&) = delete;
    HostLock& operator=(HostLock&&) = delete;

private:
    explicit HostLock(int fd) : fd_(fd) {}
    static int lockFd(int fd, const std::string& path);
    int fd_;
};

}  // namespace emu
