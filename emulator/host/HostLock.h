// The host's kernel lock: every operation that changes the host holds it, exclusively, for its
// whole span, so that processes acting on one host (the utility, the driver tools, sc820-host)
// never see each other's half-done work; operations that only read the kernel state read it
// without the lock (HostView.h). The lock file's descriptor stays open between operations (see
// HostHandles.h); each lock checks, once it holds the lock, that the path still names the file
// it locked, so a host made anew in the same place is locked through its new file.
#pragma once

#include <memory>
#include <mutex>
#include <utility>

#include "emulator/host/HostFiles.h"
#include "emulator/host/HostHandles.h"

namespace emu {

class HostLock {
public:
    // Whether the lock checks at once that the path still names the file it locked, or leaves
    // that to its caller (see confirm).
    enum class Check { now, byCaller };
    // Locks an existing host; a root without its lock file holds no host (HostError).
    explicit HostLock(const HostPaths& paths, Check check = Check::now);
    explicit HostLock(const std::string& root, Check check = Check::now);
    // Creates the lock file (and its folder) when missing, then locks: for `init` only.
    static HostLock createAndLock(const HostPaths& paths);
    ~HostLock();
    HostLock(HostLock&& other) noexcept
        : handles_(std::move(other.handles_)),
          inProcess_(std::move(other.inProcess_)),
          locked_(std::exchange(other.locked_, -1)),
          generation_(other.generation_) {}
    HostLock(const HostLock&) = delete;
    HostLock& operator=(const HostLock&) = delete;
    HostLock& operator=(HostLock&&) = delete;

    // Checks that the path still names the locked file. If it does not (the host was made anew
    // in the same place), the lock is moved to the new file and the result is false.
    bool confirm();
    // What this process keeps of the host; only to be used while the lock is held.
    HostHandles& handles() const { return *handles_; }

private:
    void lockKept(const std::string& path, int fd);
    void acquire(Check check);
    void unlock();
    std::shared_ptr<HostHandles> handles_;
    std::unique_lock<std::mutex> inProcess_;  // this process's other threads wait here
    int locked_ = -1;                         // the descriptor holding the lock
    unsigned generation_ = 0;                 // the process generation that took it
};

}  // namespace emu
