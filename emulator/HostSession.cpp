#include "emulator/HostSession.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>

#include "emulator/HostError.h"

namespace emu {

namespace {

// What identifies one version of the state file. Every replacement renames a new file over the
// old one; the new file existed beside the old one, so its inode number differs, and a later
// file could take that number back only with the same size and the same times to the
// nanosecond. An edit in place shows in the times or the size.
struct FileVersion {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    timespec modified{};
    timespec changed{};

    bool operator==(const FileVersion& o) const {
        return device == o.device && inode == o.inode && size == o.size &&
               modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec &&
               changed.tv_sec == o.changed.tv_sec && changed.tv_nsec == o.changed.tv_nsec;
    }
};

std::optional<FileVersion> VersionOf(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
        throw HostError("cannot read " + path + ": " + std::strerror(errno));
    }
    return FileVersion{info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
}

// The state last read or written per host root. A flash sweep makes some hundred kernel
// operations, each of which needs the state; reading and parsing the file again only when it is
// another version keeps an operation in the microseconds.
struct CachedState {
    FileVersion version;
    HostState state;
};

std::mutex& CacheMutex() {
    static std::mutex mutex;
    return mutex;
}

std::map<std::string, CachedState>& Cache() {
    static std::map<std::string, CachedState> cache;
    return cache;
}

HostState LoadState(const HostPaths& paths) {
    std::optional<FileVersion> version = VersionOf(paths.stateFile());
    if (!version) throw HostError(NoHostMessage(paths.root()));
    std::lock_guard<std::mutex> guard(CacheMutex());
    auto found = Cache().find(paths.root());
    if (found != Cache().end() && found->second.version == *version) return found->second.state;
    std::string bytes;
    if (!ReadWholeFile(paths.stateFile(), &bytes)) throw HostError(NoHostMessage(paths.root()));
    HostState state = ParseState(bytes, paths.stateFile());
    Cache()[paths.root()] = CachedState{*version, state};
    return state;
}

}  // namespace

HostSession::HostSession(const std::string& root)
    : paths_(root), lock_(paths_), state_(LoadState(paths_)) {}

void HostSession::save() {
    std::string problem = CheckState(state_);
    if (!problem.empty())
        throw HostError("refused to save a state that could not be read back: " + problem);
    ReplaceFile(paths_.stateFile(), SerializeState(state_));
    RemoveStaleTemporaries(paths_.stateDir());
    std::optional<FileVersion> version = VersionOf(paths_.stateFile());
    std::lock_guard<std::mutex> guard(CacheMutex());
    if (version) {
        Cache()[paths_.root()] = CachedState{*version, state_};
    } else {
        Cache().erase(paths_.root());
    }
}

}  // namespace emu
