// The backup folder: whole writes through a flushed temporary file, no duplicate of the newest
// copy, and a bounded number of copies per kind.
#include "platform/foundation/BackupCopies.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "common/FileIO.h"
#include "platform/foundation/CommonDigest.h"
#include "platform/foundation/Foundation.h"

namespace {

struct Copy {
    std::string name;
    std::string stamp;  // the time part of the name
    timespec modified{};
};

std::string Failure(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// Creates each missing folder of the path (mode 0700) and opens the last one.
int OpenFolder(const std::string& path, std::string* detail) {
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            *detail = Failure("cannot create " + part);
            return -1;
        }
        if (slash == std::string::npos) break;
    }
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) *detail = Failure("cannot open " + path);
    return fd;
}

// The copies of a kind, oldest first: by the time in the name, then by modification time for
// copies made within the same second.
std::vector<Copy> CopiesOfKind(int folder, const std::string& kind) {
    std::vector<Copy> copies;
    const int listing = dup(folder);
    DIR* dir = listing >= 0 ? fdopendir(listing) : nullptr;
    if (dir == nullptr) {
        if (listing >= 0) close(listing);
        return copies;
    }
    rewinddir(dir);
    const std::string prefix = kind + "-";
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.rfind(prefix, 0) != 0 || name.size() < prefix.size() + 16 + 4 ||
            name.compare(name.size() - 4, 4, ".bin") != 0) {
            continue;
        }
        struct stat st {};
        if (fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
            continue;
        copies.push_back({name, name.substr(prefix.size(), 16), st.st_mtim});
    }
    closedir(dir);
    std::sort(copies.begin(), copies.end(), [](const Copy& a, const Copy& b) {
        if (a.stamp != b.stamp) return a.stamp < b.stamp;
        if (a.modified.tv_sec != b.modified.tv_sec) return a.modified.tv_sec < b.modified.tv_sec;
        if (a.modified.tv_nsec != b.modified.tv_nsec)
            return a.modified.tv_nsec < b.modified.tv_nsec;
        return a.name < b.name;
    });
    return copies;
}

// Whether the file holds exactly these bytes; read through a descriptor that never follows a
// link or blocks, and never more than one byte past the expected length.
bool HoldsBytes(int folder, const std::string& name, const uint8_t* bytes, size_t length) {
    const int fd = openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    std::vector<uint8_t> held;
    const bool read = sc820::ReadAtMost(fd, length, &held, length);
    close(fd);
    return read && held.size() == length && std::equal(bytes, bytes + length, held.begin());
}

std::string CopyName(const std::string& kind, const uint8_t* bytes, size_t length) {
    unsigned char digest[CC_SHA256_DIGEST_LENGTH];
    CC_SHA256(bytes, static_cast<CC_LONG>(length), digest);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string prefix;
    for (size_t i = 0; i < 4; ++i) {  // the first 8 hex digits
        prefix += kHex[digest[i] >> 4];
        prefix += kHex[digest[i] & 0xF];
    }
    char stamp[32];
    const time_t now = time(nullptr);
    struct tm utc {};
    gmtime_r(&now, &utc);
    strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
    return kind + "-" + stamp + "-" + prefix + ".bin";
}

// Writes the copy under a temporary name, flushes it and renames it into place.
bool WriteCopy(int folder, const std::string& name, const uint8_t* bytes, size_t length,
               std::string* detail) {
    // The process id keeps two programs keeping the same bytes in the same second apart.
    const std::string temporary = "." + name + "." + std::to_string(getpid()) + ".tmp";
    unlinkat(folder, temporary.c_str(), 0);
    const int fd = openat(folder, temporary.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        *detail = Failure("cannot create " + temporary);
        return false;
    }
    bool ok = sc820::WriteAll(fd, std::string_view(reinterpret_cast<const char*>(bytes), length)) &&
              fsync(fd) == 0;
    if (!ok) *detail = Failure("cannot write " + temporary);
    if (close(fd) != 0 && ok) {
        ok = false;
        *detail = Failure("cannot write " + temporary);
    }
    if (ok && renameat(folder, temporary.c_str(), folder, name.c_str()) != 0) {
        ok = false;
        *detail = Failure("cannot rename " + temporary);
    }
    if (!ok) {
        unlinkat(folder, temporary.c_str(), 0);
        return false;
    }
    if (fsync(folder) != 0) {
        *detail = Failure("cannot flush the backups folder");
        return false;
    }
    return true;
}

}  // namespace

std::string BackupFolder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    // A relative XDG_STATE_HOME is invalid and ignored, as the base directory rules say.
    const std::string base = state != nullptr && state[0] == '/'
                                 ? std::string(state)
                                 : NSHomeDirectory().UTF8String() + std::string("/.local/state");
    return base + "/sc820/backups";
}

BackupOutcome KeepBackupCopy(const char* kind, const uint8_t* bytes, size_t length,
                             std::string* detail) {
    std::string ignored;
    if (detail == nullptr) detail = &ignored;
    const int folder = OpenFolder(BackupFolder(), detail);
    if (folder < 0) return BackupOutcome::failed;

    std::vector<Copy> copies = CopiesOfKind(folder, kind);
    if (!copies.empty() && HoldsBytes(folder, copies.back().name, bytes, length)) {
        close(folder);
        return BackupOutcome::alreadyKept;
    }
    if (!WriteCopy(folder, CopyName(kind, bytes, length), bytes, length, detail)) {
        close(folder);
        return BackupOutcome::failed;
    }
    copies = CopiesOfKind(folder, kind);
    for (size_t i = 0; i + kBackupCopiesKept < copies.size(); ++i)
        unlinkat(folder, copies[i].name.c_str(), 0);
    close(folder);
    return BackupOutcome::written;
}
