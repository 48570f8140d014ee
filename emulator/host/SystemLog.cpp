#include "emulator/host/SystemLog.h"

#include <fcntl.h>
#include <unistd.h>

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

void AppendSystemLog(const std::string& root, const std::string& program, const std::string& text) {
    using sc820::EscapeLogText;
    std::string prefix = Timestamp() + " " + program + "[" + std::to_string(getpid()) + "]: ";
    int fd = open((root + "/var/log/system.log").c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd >= 0) {
        sc820::WriteAll(fd, prefix + EscapeLogText(text) + "\n");
        close(fd);
    }
    // People read the echo: the line ends of the text (a tool's output ends in one) would show
    // as a literal \n there, so they are left out; the log file keeps the text as it was.
    size_t end = text.find_last_not_of("\r\n");
    sc820::WriteAll(
        2, prefix + EscapeLogText(text.substr(0, end == std::string::npos ? 0 : end + 1)) + "\n");
}

}  // namespace emu
