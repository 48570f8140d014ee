// The files of one emulated host, and the three ways the host touches a file: a whole file
// replaced atomically, a small state written in place, and a whole file read with a bound.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <limits>
#include <string>
#include <string_view>

namespace emu {

// The driver tools of a host, and the one place that says where each lives under the root.
struct DriverTool {
    const char* name;
    const char* folder;  // relative to the host root
    bool laidOut;        // made by init; the others exist only where a test adds them
};
inline constexpr DriverTool kDriverTools[] = {
    {"kextload", "sbin", true},
    {"kextunload", "sbin", true},
    {"kextstat", "usr/sbin", true},
    {"kmodstat", "usr/sbin", false},
};
// The tool of that name, or null when the name is not a driver tool.
const DriverTool* FindDriverTool(std::string_view name);

// Where each part of a host lives under its root directory.
class HostPaths {
public:
    explicit HostPaths(std::string root);
    const std::string& root() const { return root_; }
    std::string stateDir() const { return root_ + "/var/db/sc820"; }
    std::string lockFile() const { return stateDir() + "/lock"; }
    std::string stateFile() const { return stateDir() + "/state.json"; }
    std::string driverStateFile() const { return stateDir() + "/driver.bin"; }
    std::string eepromFile() const { return stateDir() + "/eeprom.bin"; }
    std::string factoryFile() const { return stateDir() + "/factory.bin"; }
    std::string flashFile() const { return stateDir() + "/flash.bin"; }
    std::string logDir() const { return root_ + "/var/log"; }
    std::string systemLog() const { return logDir() + "/system.log"; }
    // The copy of the sc820-host program that the driver tools of this host link to.
    std::string hostProgram() const { return root_ + "/usr/libexec/sc820-host"; }
    // A driver tool's path (see kDriverTools).
    std::string tool(const DriverTool& tool) const {
        return root_ + "/" + tool.folder + "/" + tool.name;
    }
    std::string tool(std::string_view name) const { return tool(*FindDriverTool(name)); }

private:
    std::string root_;
};

// Replaces the file at `path` with `bytes` as a whole, or not at all. The bytes go to a new
// temporary file beside it (".NAME.tmp-XXXXXX"), which is written completely, flushed to the
// disk and closed, each step checked, before it is renamed over the old file; the folder is
// flushed afterwards so that the rename survives a power cut. On any failure before the rename
// (a full disk, a read-only folder, ...) the temporary is removed, the old file stays as it was
// and HostError is thrown. Once renamed, the new file is the outcome: a failed flush of the
// folder only makes it return false (replaced, but perhaps not on the disk yet). A new file gets
// the usual mode (0666 less the umask); a replaced one keeps its mode. `path` itself is never
// followed: a symbolic link there is replaced, not its target, so callers that must not replace
// links check first (see RequireReplaceable).
bool ReplaceFile(const std::string& path, std::string_view bytes);

// What a command adds to its report when a replacement returned false.
inline constexpr char kNotYetOnDisk[] = "done, but it may not be on the disk yet";

// Removes the temporaries that replacements killed half-way left in `dir`. Only for folders
// whose writers all hold one lock, called while holding it: no replacement is running then.
void RemoveStaleTemporaries(const std::string& dir);

// Refuses (HostError) an existing `path` that is not a regular file: a symbolic link, a device,
// a FIFO, a socket or a folder. A missing path is accepted.
void RequireReplaceable(const std::string& path);

// Writes all of `bytes` at `offset` of an open file, or throws HostError naming `path`. This
// is the one way the host updates a file in place (the flash chunks, the driver's two-slot
// state): it is not atomic, so the file format itself must tolerate a torn write.
void WriteAt(int fd, off_t offset, std::string_view bytes, const std::string& path);

inline constexpr size_t kNoSizeLimit = std::numeric_limits<size_t>::max() - 1;

// What ReadWholeFile accepts besides regular files.
enum class FileKinds {
    regularOnly,  // files given by a user (a bundle's): anything but a regular file is refused
    hostFile,     // the host's own files: also refused through a link, or with a second name
    streams,      // input given by a user: also a FIFO or a character device
};

// Why the file `info` describes cannot be one of the host's own files ("" when it can): the
// host writes only regular files that it reaches without following links and that have no
// other name, so that a link planted in the root never makes it write outside.
std::string NotAHostFile(const struct stat& info);
// The error for a host file that is not one: it names the file and the mend.
std::string NotAHostFileMessage(const std::string& path, const std::string& why);

// Bounds on reading the host's files, each well above what the host writes.
inline constexpr size_t kStateFileLimit = 4u << 20;
inline constexpr size_t kBundleInfoLimit = 64u << 20;
inline constexpr size_t kLogShown = 1u << 20;  // sc820-host log shows at most this much

// Makes the host file at `path` a plain one again (see NotAHostFile): a file with another name
// becomes a copy of its own, anything else in its place (a link, a FIFO, a device) is replaced
// by `fallback`. A missing file and a plain one are left as they are; a folder is refused.
// Returns what it did ("" when nothing).
std::string MendHostFile(const std::string& path, std::string_view fallback);

// Refuses (HostError) a host whose folders of state and log are symbolic links: the host's
// files are reached only inside its root.
void RequireHostFolders(const HostPaths& paths);

// Reads a host file of at most `limit` bytes; a longer one is reported as corrupt. Returns
// false when it does not exist.
bool ReadHostFile(const std::string& path, std::string* bytes, size_t limit);

// The last `limit` bytes of a host file at most, starting at a line; `cut` tells whether the
// start was left out. Returns false when it does not exist.
bool ReadHostFileEnd(const std::string& path, std::string* bytes, size_t limit, bool* cut);

// Reads a whole file, but never more than `limit` + 1 bytes, so that a caller sees that a file
// is too long without reading all of it (/dev/zero ends). The kind is checked before reading;
// a host file is opened without waiting, so that a FIFO planted there is refused instead of
// blocking. Reading a stream may wait for its writer: callers read input before they lock the
// host. Returns false when the file does not exist; throws HostError on other errors.
bool ReadWholeFile(const std::string& path, std::string* bytes, size_t limit = kNoSizeLimit,
                   FileKinds kinds = FileKinds::regularOnly);

// Reads a host file that must hold exactly `size` bytes; anything else is reported as corrupt.
// Like every host file, it is refused through a link or with a second name (NotAHostFile).
std::string ReadSizedFile(const std::string& path, size_t size);

}  // namespace emu
