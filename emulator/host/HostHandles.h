// What this process keeps of one host between kernel operations: descriptors on the lock file,
// the driver's state file and the flash, the parsed kernel state and the card's records, each
// tied to the identity of the file it came from. A flash sweep makes some hundred kernel
// operations; opening, reading and parsing the same files for each of them would cost more
// than the operations themselves. Nothing here is trusted blindly: every use first asks the
// file system whether the path still names the same file (and, for contents, the same
// version of it), so that a file replaced by another process (sc820-host, the driver tools, a
// second utility, `init --force`) is read afresh and a descriptor on a replaced file is never
// used. Two things are asked less often: the lock file and the user-client claim are checked
// again when the state file is another version than the one last seen, since they change only
// when a host is made anew, and making a host writes a new state file.
//
// Everything here is used while holding `operations`, which HostLock and HostView take and which
// serialises this process's own threads on the host; the descriptors and the records are used
// only under the host lock as well.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "emulator/host/HostFiles.h"
#include "emulator/host/HostState.h"

namespace emu {

// What identifies one version of a file. Every replacement renames a new file over the old
// one; the new file existed beside the old one, so its inode number differs while the old one
// is held open (see VersionPin). An edit in place shows in the times or the size. Without a
// pin, a file system whose clock ticks coarsely can give a replacement made within one tick
// the old file's inode number, size and times: the state file, which is not pinned, is told
// apart by the file system's handle for it (inode number and generation), or where there is
// none by the stamp the file starts with (see NewStateStamp).
struct FileVersion {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    timespec modified{};
    timespec changed{};
    std::string stamp;  // the state file's handle or stamp; empty for other files

    static FileVersion of(const struct stat& info);
    bool operator==(const FileVersion& o) const;
};

// The version of the file at `path`; nothing when there is no file there. Any other failure
// throws HostError.
std::optional<FileVersion> VersionOf(const std::string& path);
struct HostHandles;
// The version of the host's state file, with what tells it apart from any other file that
// could take its place (see KnownState).
std::optional<FileVersion> StateVersionOf(HostHandles& kept);

// A descriptor held open on the file a cached version was read from. While it is held, the
// file's inode cannot be given to another file, so a path that names the same device and inode
// with the same size and times still names that very version, however coarse the file system's
// clock: without it, a replacement made within one tick could take the old file's inode back
// and hide behind the old version.
class VersionPin {
public:
    VersionPin() = default;
    ~VersionPin() { release(); }
    VersionPin(const VersionPin&) = delete;
    VersionPin& operator=(const VersionPin&) = delete;
    // Holds the file at `path` when it is the one `version` describes; false otherwise (then
    // the version must not be cached).
    bool hold(const std::string& path, const FileVersion& version);
    void release();

private:
    int fd_ = -1;
};

// A descriptor kept open on one file of the host. It is handed out only while the path still
// names the file it was opened on (same device and inode), and never in a child process that
// inherited it across fork(): a child locking or writing through the parent's open file would
// share the parent's lock instead of competing for it.
class KeptFile {
public:
    KeptFile() = default;
    ~KeptFile() { drop(); }
    KeptFile(const KeptFile&) = delete;
    KeptFile& operator=(const KeptFile&) = delete;

    // The descriptor on what `path` names now: the kept one when it still names that file,
    // else a new one (read-write, or read-only where writing is not allowed). `info` receives
    // the path's status. A path that is not a plain host file (see NotAHostFile) is never
    // opened: HostError naming it. On other failures -1 with errno set, and nothing is kept.
    int open(const std::string& path, struct stat* info);
    // The kept descriptor without asking the file system; -1 when there is none.
    int kept() const;
    // Whether the kept descriptor is open on the file `info` describes.
    bool names(const struct stat& info) const;
    bool writable() const { return writable_; }
    // Opens `path` as it is now, dropping what was kept; -1 with errno on failure, HostError
    // when it is not a plain host file.
    int reopen(const std::string& path);
    void drop();

private:
    int fd_ = -1;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    bool writable_ = false;
    unsigned generation_ = 0;  // the process generation (see ProcessGeneration) it was opened in
};

// A record file's bytes as last read, with the version they were read from.
struct CachedRecord {
    std::optional<FileVersion> version;
    VersionPin pin;  // on the file of `version`
    std::string bytes;
};

// The names of the host's files that every operation uses, spelled once.
struct HostFileNames {
    explicit HostFileNames(const HostPaths& paths)
        : lock(paths.lockFile()),
          state(paths.stateFile()),
          driverState(paths.driverStateFile()),
          flash(paths.flashFile()),
          eeprom(paths.eepromFile()),
          factory(paths.factoryFile()) {}
    const std::string lock, state, driverState, flash, eeprom, factory;
};

struct HostHandles {
    explicit HostHandles(const std::string& root) : paths(root), names(paths) {}
    const HostPaths paths;
    const HostFileNames names;
    std::mutex operations;  // one operation of this process on the host at a time
    KeptFile lock;
    KeptFile driverState;
    KeptFile flash;
    // The kernel state last read or saved, shared read-only with the sessions that use it.
    // Not pinned (see VersionPin): a replaced state held open would keep its blocks in use
    // until this process looks again, so that whether a full disk has room would depend on it.
    // Its version carries the file system's handle for the file (inode number and generation)
    // or, where there is none, the stamp the file starts with. Checking that costs a system
    // call more than the file's status; it is spared once the version is settled: its change
    // time lies so far before a moment at which it was seen in place that no file put there
    // later can carry the same time, on a file system that takes its times from this
    // machine's clock.
    std::optional<FileVersion> stateVersion;
    bool stateSettled = false;                    // see keepState
    std::optional<bool> stateTimesFromThisClock;  // asked of the file system once
    uint64_t stateGeneration = 0;  // counts the versions cached, so that no count repeats
    std::shared_ptr<const HostState> state;
    // Whether that state was read or saved under a lock confirmed to be on the host's lock
    // file. A state read without the lock (HostView) says nothing about the lock file, so a
    // session that finds it still confirms its lock once.
    bool stateUnderConfirmedLock = false;
    CachedRecord eeprom;
    CachedRecord factory;
    // Keeps `kept` as the state of the file's `version` (nothing for neither). The version is
    // not settled yet: StateVersionOf settles it when it finds it in place again.
    void keepState(std::shared_ptr<const HostState> kept, std::optional<FileVersion> version) {
        state = std::move(kept);
        stateVersion = std::move(version);
        stateSettled = false;
        if (state) ++stateGeneration;
    }
    // The state file's generation when this process last confirmed that it owns the utility
    // driver's user client (0: never).
    uint64_t claimedUnder = 0;
};

// The handles of the host at `root` (trailing slashes do not count, as for HostPaths). A few hosts
// are kept at a time; the least recently used one is let go when another is needed, so a process
// that works on many hosts one after another (a test run) does not pile up descriptors. A session
// holds its host's handles for its span, so letting go never closes a descriptor in use.
std::shared_ptr<HostHandles> HandlesOf(const std::string& root);

// Counts the fork()s this process descends from; a child sees a new value at once.
unsigned ProcessGeneration();

}  // namespace emu
