#include "emulator/host/HostSession.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "emulator/host/HostError.h"

namespace emu {

HostSession::HostSession(const std::string& root)
    : lock_(root, HostLock::Check::byCaller), found_(load()) {}

// The state file is read and parsed again only when it is another version than the one this
// process last read or wrote: a flash sweep makes some hundred kernel operations, each of
// which needs the state.
std::shared_ptr<const HostState> HostSession::load() {
    HostHandles& kept = lock_.handles();
    const std::string& stateFile = kept.names.state;
    std::optional<FileVersion> version = StateVersionOf(kept);
    // The very version read before, under a lock confirmed to be the host's, means that no host
    // was made anew in this place since (making a host writes a new state file): the lock needs
    // no check of its own then.
    const bool sameVersion = version && kept.state && kept.stateVersion == version;
    if (sameVersion && kept.stateUnderConfirmedLock) return kept.state;
    if (!lock_.confirm()) version = StateVersionOf(kept);
    if (!version) throw HostError(NoHostMessage(kept.paths.root()));
    kept.stateUnderConfirmedLock = true;
    // A state that a lock-free reader parsed is as good, once the lock is confirmed.
    if (kept.state && kept.stateVersion == version) return kept.state;
    kept.keepState(nullptr, std::nullopt);
    std::string bytes;
    if (!ReadHostFile(stateFile, &bytes, kStateFileLimit))
        throw HostError(NoHostMessage(kept.paths.root()));
    kept.keepState(std::make_shared<const HostState>(ParseState(bytes, stateFile)), version);
    return kept.state;
}

HostState& HostSession::state() {
    if (!changed_) changed_.emplace(*found_);
    return *changed_;
}

bool HostSession::save() {
    const HostState& saving = current();
    std::string problem = CheckState(saving);
    if (!problem.empty())
        throw HostError("refused to save a state that could not be read back: " + problem);
    HostHandles& kept = handles();
    // Until the new version is known, nothing cached may stand for the file.
    kept.keepState(nullptr, std::nullopt);
    bool durable = ReplaceFile(kept.names.state, SerializeState(saving, NewStateStamp()));
    RemoveStaleTemporaries(kept.paths.stateDir());
    std::optional<FileVersion> version = StateVersionOf(kept);
    if (version) {
        kept.keepState(std::make_shared<const HostState>(saving), version);
        kept.stateUnderConfirmedLock = true;
    }
    return durable;
}

}  // namespace emu
