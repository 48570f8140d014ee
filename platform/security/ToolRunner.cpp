// Runs a privileged tool of the host: its absolute path is resolved inside the host root, it is
// started without a shell, and its output comes back through a stream whose fclose also reaps
// it, stopping it when it does not end within a short grace period.
#include "platform/security/ToolRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/ProgramPath.h"
#include "emulator/Emulator.h"

extern char** environ;

namespace security {
namespace {

using Clock = std::chrono::steady_clock;

// The tool's output end of the pipe and its process, owned by the stream handed to the caller.
struct ToolStream {
    int fd;
    pid_t pid;
    std::string name;  // the tool's path as the caller gave it, for the log
    ToolLimits limits;
    Clock::time_point deadline = Clock::now() + limits.run;
    bool ended = false;    // stayed silent or ran too long: its output counts as ended
    bool overran = false;  // ran too long: stopped at once when the stream is closed
};

std::string Seconds(std::chrono::milliseconds span) {
    if (span.count() % 1000 != 0) return std::to_string(span.count()) + " ms";
    return std::to_string(span.count() / 1000) + " s";
}

// The utility's system log, as NSLog writes it: "TOOL (pid N) TEXT".
void LogTool(const std::string& name, pid_t pid, const std::string& text) {
    emu::AppendSystemLog(emu::DefaultHostRoot(), sc820::ProgramName(),
                         name + " (pid " + std::to_string(pid) + ") " + text);
}

// The output counts as ended: the reader sees its end from now on.
ssize_t EndOutput(ToolStream& tool, const std::string& why) {
    tool.ended = true;
    LogTool(tool.name, tool.pid, why + ": its output is no longer read");
    return 0;
}

// A tool that keeps its output open without printing anything more, or keeps printing, would
// hold a reader that reads to the end for ever: after a long silence, or once the tool has run
// too long, the output counts as ended.
ssize_t ReadTool(void* cookie, char* buffer, size_t size) {
    auto* tool = static_cast<ToolStream*>(cookie);
    if (tool->ended) return 0;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(tool->deadline - Clock::now());
        if (left.count() <= 0) {
            tool->overran = true;
            return EndOutput(*tool, "still running after " + Seconds(tool->limits.run));
        }
        const auto wait = std::min(left, tool->limits.silence);
        pollfd ready{tool->fd, POLLIN, 0};
        int events = poll(&ready, 1, static_cast<int>(wait.count()));
        if (events < 0 && errno == EINTR) continue;
        if (events == 0 && wait < tool->limits.silence) continue;  // the run limit, checked above
        if (events == 0) {
            return EndOutput(*tool, "printed nothing for " + Seconds(tool->limits.silence));
        }
        ssize_t n = read(tool->fd, buffer, size);
        if (n >= 0 || errno != EINTR) return n;
    }
}

void Reap(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

// Reaps the process if it ends within `limit`; false when it is still running then.
bool ReapWithin(pid_t pid, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    auto pause = std::chrono::microseconds(500);
    for (;;) {
        int status = 0;
        pid_t ended = waitpid(pid, &status, WNOHANG);
        if (ended == pid || (ended < 0 && errno != EINTR)) return true;
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(20000));
    }
}

// Asks the tool to stop, then stops it by force, reaps it, and logs which it took.
void StopTool(const std::string& name, pid_t pid, const std::string& why,
              std::chrono::milliseconds stopGrace) {
    kill(-pid, SIGTERM);  // the tool's whole group: what it started goes with it
    if (ReapWithin(pid, stopGrace)) {
        LogTool(name, pid, why + ": stopped with SIGTERM");
        return;
    }
    kill(-pid, SIGKILL);
    Reap(pid);
    LogTool(name, pid, why + ": stopped with SIGKILL");
}

// A tool that goes on running once the utility is done with its output (a status tool that
// lists the driver and then keeps running, say) must not hold the utility: it is asked to
// stop, then stopped by force, and always reaped. One that ran too long is stopped at once.
void EndTool(const ToolStream& tool) {
    const ToolLimits& limits = tool.limits;
    if (tool.overran) {
        StopTool(tool.name, tool.pid, "still running after " + Seconds(limits.run),
                 limits.stopGrace);
        return;
    }
    if (ReapWithin(tool.pid, limits.grace)) return;
    StopTool(tool.name, tool.pid,
             "still running " + Seconds(limits.grace) + " after its output was closed",
             limits.stopGrace);
}

// Closing the stream closes the pipe first, so a tool still writing ends on a broken pipe,
// then ends the tool: no process is left behind, and none holds the utility for long.
int CloseTool(void* cookie) {
    auto* tool = static_cast<ToolStream*>(cookie);
    close(tool->fd);
    EndTool(*tool);
    delete tool;
    return 0;
}

// Starts the tool with its standard input on /dev/null, its standard output on `output`, and
// standard error shared with this process.
bool Spawn(const std::string& tool, char* const* arguments, int output, pid_t* pid) {
    std::vector<char*> argv = {const_cast<char*>(tool.c_str())};
    for (char* const* a = arguments; a != nullptr && *a != nullptr; ++a) argv.push_back(*a);
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, output, 1);
    // A process group of its own: Ctrl-C or a hang-up at the utility's terminal goes to the
    // utility, which lets its steps finish, and never cuts a tool off half-way.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    int rc = posix_spawn(pid, tool.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0;
}

}  // namespace

// The tool's absolute path inside the host root, or nothing when it is not an executable file.
std::optional<std::string> ResolveTool(const char* pathToTool) {
    std::filesystem::path path(pathToTool);
    if (!path.is_absolute()) return std::nullopt;
    std::string resolved = emu::DefaultHostRoot() + path.lexically_normal().string();
    struct stat info {};
    if (stat(resolved.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
        access(resolved.c_str(), X_OK) != 0) {
        return std::nullopt;
    }
    return resolved;
}

OSStatus RunWithoutStream(const std::string& tool, const char* name, char* const* arguments,
                          const ToolLimits& limits) {
    int devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (devnull < 0) return errAuthorizationInternal;
    pid_t pid = 0;
    bool started = Spawn(tool, arguments, devnull, &pid);
    close(devnull);
    if (!started) return errAuthorizationToolExecuteFailure;
    if (!ReapWithin(pid, limits.run)) {
        StopTool(name, pid, "still running after " + Seconds(limits.run), limits.stopGrace);
    }
    return errAuthorizationSuccess;
}

OSStatus RunWithStream(const std::string& tool, const char* name, char* const* arguments,
                       FILE** stream, const ToolLimits& limits) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return errAuthorizationInternal;
    pid_t pid = 0;
    bool started = Spawn(tool, arguments, pipeFds[1], &pid);
    close(pipeFds[1]);
    if (!started) {
        close(pipeFds[0]);
        return errAuthorizationToolExecuteFailure;
    }
    auto* cookie = new ToolStream{pipeFds[0], pid, name, limits};
    FILE* file =
        fopencookie(cookie, "r", cookie_io_functions_t{ReadTool, nullptr, nullptr, CloseTool});
    if (file == nullptr) {
        CloseTool(cookie);
        return errAuthorizationInternal;
    }
    *stream = file;
    return errAuthorizationSuccess;
}

}  // namespace security
