// One kernel operation on a host: holds the host lock from construction to destruction and
// gives the operation the host's state, which it may change and save before it ends.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "emulator/host/HostFiles.h"
#include "emulator/host/HostLock.h"
#include "emulator/host/HostState.h"

namespace emu {

class HostSession {
public:
    // Locks the host at `root` and loads its state. Throws HostError when the root holds no host
    // or its state file is corrupt.
    explicit HostSession(const std::string& root);

    const HostPaths& paths() const { return lock_.handles().paths; }
    // The state as the operation found it, for operations that only read it: shared with this
    // process's other operations, never copied.
    const HostState& current() const { return changed_ ? *changed_ : *found_; }
    // The state to change: the first call makes the operation its own copy, so that changes
    // that are not saved are seen by nobody else.
    HostState& state();
    // Replaces the state file with the current state; false when it is replaced but perhaps
    // not on the disk yet (see ReplaceFile).
    bool save();
    // What this process keeps of the host, while this operation holds the lock.
    HostHandles& handles() const { return lock_.handles(); }

private:
    std::shared_ptr<const HostState> load();
    HostLock lock_;
    std::shared_ptr<const HostState> found_;
    std::optional<HostState> changed_;
};

}  // namespace emu
