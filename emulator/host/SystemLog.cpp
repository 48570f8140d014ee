#include "emulator/host/SystemLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>

#include "common/FileIO.h"
#include "common/LogText.h"

namespace emu {

static std::string Timestamp() {
    using namespace std::chrono;
    auto now = system_clock::now();
    std::time_t seconds = system_clock::to_time_t(now);
    auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char buf[64];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &local);
    char full[80];
    std::snprintf(full, sizeof full, "%s.%03lld", buf, static_cast<long long>(millis));
    return full;
}

// Opens the log to append, or -1 with a note when it is not the host's own plain file: never
// through a link (of the file or of its folder), never waiting on a FIFO, never into a file
// that has another name.
static int OpenLog(const std::string& root, std::string* note) {
    const std::string folder = root + "/var/log";
    const std::string log = folder + "/system.log";
    struct stat info {};
    if (lstat(folder.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        *note = folder + " is a symbolic link; the system log is not written";
        return -1;
    }
    int fd = open(log.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ELOOP || errno == ENXIO)
            *note = log + " is not a file of the host's own: sc820-host repair mends it";
        return -1;
    }
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1) {
        close(fd);
        *note = log + " is not a file of the host's own: sc820-host repair mends it";
        return -1;
    }
    return fd;
}

void AppendSystemLog(const std::string& root, const std::string& program, const std::string& text) {
    using sc820::EscapeLogText;
    std::string prefix = Timestamp() + " " + program + "[" + std::to_string(getpid()) + "]: ";
    std::string note;
    int fd = OpenLog(root, &note);
    if (fd >= 0) {
        sc820::WriteAll(fd, prefix + EscapeLogText(text) + "\n");
        close(fd);
    }
    if (!note.empty()) sc820::WriteAll(2, prefix + EscapeLogText(note) + "\n");
    // People read the echo: the line ends of the text (a tool's output ends in one) would show
    // as a literal \n there, so they are left out; the log file keeps the text as it was.
    size_t end = text.find_last_not_of("\r\n");
    sc820::WriteAll(
        2, prefix + EscapeLogText(text.substr(0, end == std::string::npos ? 0 : end + 1)) + "\n");
}

}  // namespace emu
