// One kernel operation that only reads the kernel state: the registry search, the parent look-up,
// the fault switches of the master port and of matching, the opening of a connection (whose
// ownership rule has a lock file of its own). It takes no host lock. The state file
// is only ever replaced whole (a new file renamed over the old one, under the lock), so a reader
// without the lock finds either the state before a change or the state after it, never a mix:
// as if it had run just before or just after the operation that made the change. Operations
// that change anything, or that read more than the state file, are HostSessions.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "emulator/host/HostHandles.h"
#include "emulator/host/HostState.h"

namespace emu {

class HostView {
public:
    // Reads the state of the host at `root`. Throws HostError when the root holds no host or its
    // state file is corrupt.
    explicit HostView(const std::string& root);

    const HostState& current() const { return *state_; }
    const HostPaths& paths() const { return handles_->paths; }
    // What this process keeps of the host, while this operation runs.
    HostHandles& handles() const { return *handles_; }

private:
    std::shared_ptr<HostHandles> handles_;
    std::unique_lock<std::mutex> inProcess_;  // this process's other threads share the cache
    std::shared_ptr<const HostState> state_;
};

}  // namespace emu
