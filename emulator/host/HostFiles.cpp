#include "emulator/host/HostFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "common/FileIO.h"
#include "common/OwnedFd.h"
#include "emulator/host/HostError.h"

namespace emu {

using sc820::OwnedFd;

std::string NoHostMessage(const std::string& root) {
    return "no emulated host at " + root + ": run sc820-host init";
}

std::string CorruptMessage(const std::string& path, const std::string& why) {
    return path + " is corrupt: " + why;
}

HostPaths::HostPaths(std::string root) : root_(std::move(root)) {
    while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
}

const DriverTool* FindDriverTool(std::string_view name) {
    for (const DriverTool& tool : kDriverTools) {
        if (name == tool.name) return &tool;
    }
    return nullptr;
}

namespace {

constexpr char kTemporaryMark[] = ".tmp-";

[[noreturn]] void Fail(const std::string& what, const std::string& path, int error) {
    throw HostError(what + " " + path + ": " + std::strerror(error));
}

std::string FolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string RandomSuffix() {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char random[6] = {};
    if (getrandom(random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random)) {
        uint64_t seed = static_cast<uint64_t>(getpid()) * 0x9E3779B97F4A7C15ull ^
                        static_cast<uint64_t>(clock());
        std::memcpy(random, &seed, sizeof random);
    }
    std::string suffix;
    for (unsigned char r : random) suffix += kLetters[r % (sizeof kLetters - 1)];
    return suffix;
}

// Creates the temporary beside `path`, never reusing an existing name.
int CreateTemporary(const std::string& path, std::string* temporary) {
    std::string prefix = FolderOf(path) + "/." + NameOf(path) + kTemporaryMark;
    for (int attempt = 0; attempt < 100; ++attempt) {
        *temporary = prefix + RandomSuffix();
        int fd = open(temporary->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

bool FlushFolder(const std::string& folder) {
    OwnedFd dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    // Some file systems refuse to flush a folder (EINVAL); the rename itself has happened.
    if (dir.get() < 0) return false;
    return fsync(dir.get()) == 0 || errno == EINVAL;
}

// Writes, flushes and closes the temporary; any failure leaves it for the caller to remove.
void FillTemporary(int fd, const std::string& temporary, const std::string& path,
                   std::string_view bytes) {
    OwnedFd file(fd);
    struct stat old {};
    if (stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode) &&
        fchmod(file.get(), old.st_mode & 07777) != 0) {
        Fail("cannot set the mode of", temporary, errno);
    }
    WriteAt(file.get(), 0, bytes, temporary);
    if (fsync(file.get()) != 0) Fail("cannot flush", temporary, errno);
    if (file.close() != 0) Fail("cannot write", temporary, errno);
}

}  // namespace

void WriteAt(int fd, off_t offset, std::string_view bytes, const std::string& path) {
    if (!sc820::WriteAll(fd, bytes, offset)) Fail("cannot write", path, errno);
}

bool ReplaceFile(const std::string& path, std::string_view bytes) {
    std::string temporary;
    int fd = CreateTemporary(path, &temporary);
    if (fd < 0) Fail("cannot write", path, errno);
    try {
        FillTemporary(fd, temporary, path, bytes);
        if (rename(temporary.c_str(), path.c_str()) != 0) Fail("cannot replace", path, errno);
    } catch (...) {
        unlink(temporary.c_str());
        throw;
    }
    return FlushFolder(FolderOf(path));
}

void RemoveStaleTemporaries(const std::string& dir) {
    DIR* folder = opendir(dir.c_str());
    if (folder == nullptr) return;
    while (const dirent* entry = readdir(folder)) {
        std::string_view name(entry->d_name);
        if (name.size() > 1 && name[0] == '.' && name.find(kTemporaryMark) != std::string::npos)
            unlinkat(dirfd(folder), entry->d_name, 0);
    }
    closedir(folder);
}

void RequireReplaceable(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) {
        if (errno == ENOENT) return;
        Fail("cannot use", path, errno);
    }
    if (S_ISREG(info.st_mode)) return;
    const char* kind = S_ISLNK(info.st_mode)                            ? "a symbolic link"
                       : S_ISDIR(info.st_mode)                          ? "a folder"
                       : S_ISFIFO(info.st_mode)                         ? "a FIFO"
                       : S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode) ? "a device"
                                                                        : "not a regular file";
    throw HostError(path + " is " + kind + "; only a regular file is replaced");
}

std::string NotAHostFile(const struct stat& info) {
    if (S_ISLNK(info.st_mode)) return "a symbolic link";
    if (S_ISDIR(info.st_mode)) return "a folder";
    if (S_ISFIFO(info.st_mode)) return "a FIFO";
    if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) return "a device";
    if (!S_ISREG(info.st_mode)) return "not a regular file";
    if (info.st_nlink > 1)
        return "a file with another name (" + std::to_string(info.st_nlink) + " links)";
    return "";
}

std::string NotAHostFileMessage(const std::string& path, const std::string& why) {
    return path + " is " + why + ", not a file of the host's own: sc820-host repair mends it";
}

std::string MendHostFile(const std::string& path, std::string_view fallback) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) return "";
    std::string why = NotAHostFile(info);
    if (why.empty()) return "";
    if (S_ISDIR(info.st_mode)) throw HostError(path + " is a folder; remove it and run again");
    std::string own;
    bool copied = S_ISREG(info.st_mode) && ReadWholeFile(path, &own, kStateFileLimit * 16) &&
                  own.size() <= kStateFileLimit * 16;
    (void)ReplaceFile(path, copied ? std::string_view(own) : fallback);
    return path + " was " + why + (copied ? "; it is a copy of its own now" : "; it is replaced");
}

void RequireHostFolders(const HostPaths& paths) {
    // var itself may be shared by a link (a second root over one host's var); the folders that
    // hold the files may not.
    const std::string folders[] = {paths.root() + "/var/db", paths.stateDir(), paths.logDir()};
    for (const std::string& folder : folders) {
        struct stat info {};
        if (lstat(folder.c_str(), &info) == 0 && S_ISLNK(info.st_mode))
            throw HostError(folder + " is a symbolic link; the host's folders must be its own");
    }
}

namespace {

// Opens a file to read without waiting and checks its kind; -1 when it does not exist.
int OpenToRead(const std::string& path, FileKinds kinds, struct stat* info) {
    int flags = O_RDONLY | O_CLOEXEC | (kinds != FileKinds::streams ? O_NONBLOCK : 0) |
                (kinds == FileKinds::hostFile ? O_NOFOLLOW : 0);
    OwnedFd file(open(path.c_str(), flags));
    if (file.get() < 0) {
        if (errno == ENOENT) return -1;
        if (errno == ELOOP && kinds == FileKinds::hostFile)
            throw HostError(NotAHostFileMessage(path, "a symbolic link"));
        Fail("cannot open", path, errno);
    }
    if (fstat(file.get(), info) != 0) Fail("cannot read", path, errno);
    bool stream = S_ISFIFO(info->st_mode) || S_ISCHR(info->st_mode);
    if (kinds == FileKinds::hostFile && !NotAHostFile(*info).empty())
        throw HostError(NotAHostFileMessage(path, NotAHostFile(*info)));
    if (S_ISDIR(info->st_mode)) throw HostError(path + " is a folder");
    if (!S_ISREG(info->st_mode) && !(stream && kinds == FileKinds::streams))
        throw HostError(path + " is not a regular file");
    return file.take();
}

// Reads from `fd` at `offset` until the end or until `limit` + 1 bytes are read.
void ReadUpTo(int fd, const struct stat& info, off_t offset, size_t limit, std::string* bytes,
              const std::string& path) {
    // A regular file's size is known: read it in one go, and one byte more to see growth.
    const bool regular = S_ISREG(info.st_mode);
    size_t expected = regular && info.st_size > offset
                          ? std::min(static_cast<size_t>(info.st_size - offset), limit + 1)
                          : std::min<size_t>(limit + 1, 65536);
    bytes->resize(std::min(expected + 1, limit + 1));
    size_t done = 0;
    while (done <= limit) {
        if (done == bytes->size()) bytes->resize(std::min(bytes->size() * 2, limit + 1));
        char* into = bytes->data() + done;
        size_t room = bytes->size() - done;
        ssize_t n = regular ? pread(fd, into, room, offset + static_cast<off_t>(done))
                            : read(fd, into, room);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) Fail("cannot read", path, errno);
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    bytes->resize(done);
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::string* bytes, size_t limit, FileKinds kinds) {
    struct stat info {};
    OwnedFd file(OpenToRead(path, kinds, &info));
    if (file.get() < 0) return false;
    ReadUpTo(file.get(), info, 0, limit, bytes, path);
    return true;
}

bool ReadHostFile(const std::string& path, std::string* bytes, size_t limit) {
    if (!ReadWholeFile(path, bytes, limit, FileKinds::hostFile)) return false;
    if (bytes->size() > limit) {
        bytes->clear();
        throw HostError(CorruptMessage(path, "more than " + std::to_string(limit) + " bytes"));
    }
    return true;
}

bool ReadHostFileEnd(const std::string& path, std::string* bytes, size_t limit, bool* cut) {
    struct stat info {};
    OwnedFd file(OpenToRead(path, FileKinds::hostFile, &info));
    if (file.get() < 0) return false;
    const off_t bound = static_cast<off_t>(limit);
    const off_t start = info.st_size > bound ? info.st_size - bound : 0;
    ReadUpTo(file.get(), info, start, limit, bytes, path);
    bytes->resize(std::min(bytes->size(), limit));
    *cut = start > 0;
    if (*cut) {
        size_t line = bytes->find('\n');
        bytes->erase(0, line == std::string::npos ? bytes->size() : line + 1);
    }
    return true;
}

std::string ReadSizedFile(const std::string& path, size_t size) {
    std::string bytes;
    if (!ReadWholeFile(path, &bytes, size, FileKinds::hostFile)) {
        throw HostError(CorruptMessage(path, "the file is missing"));
    }
    if (bytes.size() != size) {
        // Only size + 1 bytes were read: the file's length says how much more there is.
        struct stat info {};
        std::string found = bytes.size() > size && stat(path.c_str(), &info) == 0
                                ? std::to_string(info.st_size)
                                : std::to_string(bytes.size());
        throw HostError(CorruptMessage(path, found + " bytes, expected " + std::to_string(size)));
    }
    return bytes;
}

}  // namespace emu
