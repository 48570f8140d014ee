#include "emulator/host/HostView.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "emulator/host/HostError.h"
#include "emulator/host/HostFiles.h"

namespace emu {

namespace {

// Reads and parses the state file. What was read is kept for the next operation only when the
// file was the same version before and after the read: one replaced meanwhile is read again
// next time instead of being kept under the wrong version.
std::shared_ptr<const HostState> ReadState(HostHandles& kept, const FileVersion& before) {
    const std::string& stateFile = kept.names.state;
    std::string bytes;
    if (!ReadHostFile(stateFile, &bytes, kStateFileLimit))
        throw HostError(NoHostMessage(kept.paths.root()));
    auto state = std::make_shared<const HostState>(ParseState(bytes, stateFile));
    if (StateVersionOf(kept) == before) {
        kept.keepState(state, before);
        kept.stateUnderConfirmedLock = false;
    }
    return state;
}

}  // namespace

HostView::HostView(const std::string& root)
    : handles_(HandlesOf(root)), inProcess_(handles_->operations) {
    HostHandles& kept = *handles_;
    std::optional<FileVersion> version = StateVersionOf(kept);
    if (!version) throw HostError(NoHostMessage(kept.paths.root()));
    state_ = kept.state && kept.stateVersion == version ? kept.state : ReadState(kept, *version);
}

}  // namespace emu
