// One kernel operation on a host: holds the host lock from construction to destruction and
// gives the operation the host's state, which it may change and save before it ends.
#pragma once

#include <string>

#include "emulator/HostFiles.h"
#include "emulator/HostLock.h"
#include "emulator/HostState.h"

namespace emu {

class HostSession {
public:
    // Locks the host at `root` and loads its state. Throws HostError when the root holds no host
    // or its state file is corrupt.
    explicit HostSession(const std::string& root);

    const HostPaths& paths() const { return paths_; }
    HostState& state() { return state_; }
    // Replaces the state file with the current state.
    void save();

private:
    HostPaths paths_;
    HostLock lock_;
    HostState state_;
};

}  // namespace emu
