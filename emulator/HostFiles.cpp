#include "emulator/HostFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QSaveFile>
#include <QString>
#include <cerrno>
#include <cstring>

#include "emulator/HostError.h"

namespace emu {

std::string NoHostMessage(const std::string& root) {
    return "no emulated host at " + root + ": run sc820-host init";
}

std::string CorruptMessage(const std::string& path, const std::string& why) {
    return path + " is corrupt: " + why;
}

HostPaths::HostPaths(std::string root) : root_(std::move(root)) {
    while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
}

std::string HostPaths::tool(std::string_view name) const {
    if (name == "kextload" || name == "kextunload") return root_ + "/sbin/" + std::string(name);
    return root_ + "/usr/sbin/" + std::string(name);
}

namespace {

std::string SystemError(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

bool WriteAll(int fd, std::string_view bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

void ReplaceDurably(const std::string& path, std::string_view bytes) {
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(bytes.data(), static_cast<qint64>(bytes.size())) !=
            static_cast<qint64>(bytes.size()) ||
        !file.commit()) {
        throw HostError("cannot write " + path + ": " + file.errorString().toStdString());
    }
}

// The temporary name is fixed: every writer holds the host lock, and a temporary left by a
// killed process is simply overwritten by the next replacement.
void ReplaceForProcesses(const std::string& path, std::string_view bytes) {
    std::string temporary = path + ".tmp";
    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw HostError(SystemError("cannot create", temporary));
    bool written = WriteAll(fd, bytes);
    int saved = errno;
    if (close(fd) != 0 && written) {
        written = false;
        saved = errno;
    }
    if (!written) {
        unlink(temporary.c_str());
        errno = saved;
        throw HostError(SystemError("cannot write", temporary));
    }
    if (rename(temporary.c_str(), path.c_str()) != 0) {
        saved = errno;
        unlink(temporary.c_str());
        errno = saved;
        throw HostError(SystemError("cannot replace", path));
    }
}

}  // namespace

void ReplaceFile(const std::string& path, std::string_view bytes, Durability durability) {
    if (durability == Durability::durable) {
        ReplaceDurably(path, bytes);
    } else {
        ReplaceForProcesses(path, bytes);
    }
}

bool ReadWholeFile(const std::string& path, std::string* bytes) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return false;
        throw HostError(SystemError("cannot open", path));
    }
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        int saved = errno;
        close(fd);
        errno = saved;
        throw HostError(SystemError("cannot read", path));
    }
    // Reads what fstat reported, then goes on only if the file turns out longer.
    size_t expected = info.st_size > 0 ? static_cast<size_t>(info.st_size) : 0;
    bytes->assign(expected + 1, '\0');
    size_t done = 0;
    for (;;) {
        if (done == bytes->size()) bytes->resize(bytes->size() * 2);
        ssize_t n = read(fd, bytes->data() + done, bytes->size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            int saved = errno;
            close(fd);
            errno = saved;
            throw HostError(SystemError("cannot read", path));
        }
        done += static_cast<size_t>(n);
        if (n == 0 || done == expected) break;
    }
    close(fd);
    bytes->resize(done);
    return true;
}

std::string ReadSizedFile(const std::string& path, size_t size) {
    std::string bytes;
    if (!ReadWholeFile(path, &bytes)) throw HostError(CorruptMessage(path, "the file is missing"));
    if (bytes.size() != size) {
        throw HostError(CorruptMessage(
            path, std::to_string(bytes.size()) + " bytes, expected " + std::to_string(size)));
    }
    return bytes;
}

}  // namespace emu
