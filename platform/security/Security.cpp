// The authorization stand-in. Rights are granted by the emulated host's policy; a tool run with
// privileges is the host's own (its absolute path is resolved inside the host root), started
// without a shell, and its output comes back through a stream whose fclose also reaps it,
// stopping it when it does not end within a short grace period.
#include "platform/security/Security.h"

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
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "common/ProgramPath.h"
#include "emulator/Emulator.h"
#include "platform/security/CallObserver.h"

extern char** environ;

// What a reference holds: the names of the rights granted to it.
struct AuthorizationOpaqueRef {
    std::set<std::string> rights;
};

namespace {

constexpr const char kAdminRight[] = "system.privilege.admin";

// The service owns every reference it handed out until it is freed; a process that ends
// while holding one (as the utility does when it quits without closing its window) leaves it
// to the service, which lets it go with the process.
std::map<AuthorizationRef, std::unique_ptr<AuthorizationOpaqueRef>>& LiveRefs() {
    static std::map<AuthorizationRef, std::unique_ptr<AuthorizationOpaqueRef>> live;
    return live;
}

AuthorizationCallObserver& Observer() {
    static AuthorizationCallObserver observer = nullptr;
    return observer;
}

OSStatus Record(const char* operation, AuthorizationFlags flags, OSStatus status,
                std::string detail) {
    if (Observer() != nullptr) Observer()({operation, flags, status, std::move(detail)});
    return status;
}

bool IsLive(AuthorizationRef ref) {
    return ref != nullptr && LiveRefs().count(ref) != 0;
}

// ---------------------------------------------------------------------------------------------
// Rights

bool ValidSet(const AuthorizationRights* rights) {
    if (rights == nullptr || (rights->count > 0 && rights->items == nullptr)) return false;
    for (uint32_t i = 0; i < rights->count; ++i) {
        if (rights->items[i].name == nullptr) return false;
    }
    return true;
}

bool HoldsAll(AuthorizationRef ref, const AuthorizationRights& rights) {
    for (uint32_t i = 0; i < rights.count; ++i) {
        if (ref->rights.count(rights.items[i].name) == 0) return false;
    }
    return true;
}

// The host's answer to a request that needs the user; nothing when the host cannot be read.
std::optional<emu::AuthPolicy> HostPolicy() {
    std::string problem;
    std::optional<emu::AuthPolicy> policy =
        emu::KernelAuthorizationPolicy(emu::DefaultHostRoot(), &problem);
    if (!policy) std::cerr << "AuthorizationCopyRights: " << problem << "\n";
    return policy;
}

OSStatus Grant(AuthorizationRef ref, const AuthorizationRights& rights, AuthorizationFlags flags) {
    if (HoldsAll(ref, rights)) return errAuthorizationSuccess;
    if ((flags & kAuthorizationFlagInteractionAllowed) == 0)
        return errAuthorizationInteractionNotAllowed;
    std::optional<emu::AuthPolicy> policy = HostPolicy();
    if (!policy) return errAuthorizationInternal;
    switch (*policy) {
        case emu::AuthPolicy::deny:
            return errAuthorizationDenied;
        case emu::AuthPolicy::cancel:
            return errAuthorizationCanceled;
        case emu::AuthPolicy::allow:
            break;
    }
    for (uint32_t i = 0; i < rights.count; ++i) ref->rights.insert(rights.items[i].name);
    return errAuthorizationSuccess;
}

// ---------------------------------------------------------------------------------------------
// Running a tool

// The tool's output end of the pipe and its process, owned by the stream handed to the caller.
struct ToolStream {
    int fd;
    pid_t pid;
    std::string name;     // the tool's path as the caller gave it, for the log
    bool silent = false;  // stayed silent too long: its output counts as ended
};

// How long a tool may stay silent, its output still open, before the reader stops waiting.
constexpr std::chrono::milliseconds kToolSilence{10000};

// The utility's system log, as NSLog writes it: "TOOL (pid N) TEXT".
void LogTool(const ToolStream& tool, const std::string& text) {
    emu::AppendSystemLog(emu::DefaultHostRoot(), sc820::ProgramName(),
                         tool.name + " (pid " + std::to_string(tool.pid) + ") " + text);
}

// A tool that keeps its output open without printing anything more would hold a reader that
// reads to the end forever: after a long silence the output counts as ended.
ssize_t ReadTool(void* cookie, char* buffer, size_t size) {
    auto* tool = static_cast<ToolStream*>(cookie);
    if (tool->silent) return 0;
    for (;;) {
        pollfd ready{tool->fd, POLLIN, 0};
        int events = poll(&ready, 1, static_cast<int>(kToolSilence.count()));
        if (events < 0 && errno == EINTR) continue;
        if (events == 0) {
            tool->silent = true;
            LogTool(*tool, "printed nothing for " + std::to_string(kToolSilence.count() / 1000) +
                               " s: its output is no longer read");
            return 0;
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

// How long a tool may go on after the utility has closed its output, and after it was asked to
// stop, before it is stopped by force.
constexpr std::chrono::milliseconds kToolGrace{2000};
constexpr std::chrono::milliseconds kStopGrace{1000};

// Reaps the process if it ends within `limit`; false when it is still running then.
bool ReapWithin(pid_t pid, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    auto pause = std::chrono::microseconds(500);
    for (;;) {
        int status = 0;
        pid_t ended = waitpid(pid, &status, WNOHANG);
        if (ended == pid || (ended < 0 && errno != EINTR)) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(20000));
    }
}

void LogToolStopped(const ToolStream& tool, const char* how) {
    LogTool(tool, "still running " + std::to_string(kToolGrace.count() / 1000) +
                      " s after its output was closed: stopped with " + how);
}

// A tool that goes on running once the utility is done with its output (a status tool that
// lists the driver and then keeps running, say) must not hold the utility: it is asked to
// stop, then stopped by force, and always reaped.
void EndTool(const ToolStream& tool) {
    if (ReapWithin(tool.pid, kToolGrace)) return;
    kill(tool.pid, SIGTERM);
    if (ReapWithin(tool.pid, kStopGrace)) {
        LogToolStopped(tool, "SIGTERM");
        return;
    }
    kill(tool.pid, SIGKILL);
    Reap(tool.pid);
    LogToolStopped(tool, "SIGKILL");
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
    int rc = posix_spawn(pid, tool.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0;
}

OSStatus RunWithoutStream(const std::string& tool, char* const* arguments) {
    int devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (devnull < 0) return errAuthorizationInternal;
    pid_t pid = 0;
    bool started = Spawn(tool, arguments, devnull, &pid);
    close(devnull);
    if (!started) return errAuthorizationToolExecuteFailure;
    Reap(pid);
    return errAuthorizationSuccess;
}

OSStatus RunWithStream(const std::string& tool, const char* name, char* const* arguments,
                       FILE** stream) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return errAuthorizationInternal;
    pid_t pid = 0;
    bool started = Spawn(tool, arguments, pipeFds[1], &pid);
    close(pipeFds[1]);
    if (!started) {
        close(pipeFds[0]);
        return errAuthorizationToolExecuteFailure;
    }
    auto* cookie = new ToolStream{pipeFds[0], pid, name};
    FILE* file =
        fopencookie(cookie, "r", cookie_io_functions_t{ReadTool, nullptr, nullptr, CloseTool});
    if (file == nullptr) {
        CloseTool(cookie);
        return errAuthorizationInternal;
    }
    *stream = file;
    return errAuthorizationSuccess;
}

}  // namespace

OSStatus AuthorizationCreate(const AuthorizationRights* /*rights*/,
                             const AuthorizationEnvironment* /*environment*/,
                             AuthorizationFlags flags, AuthorizationRef* authorization) {
    if (authorization == nullptr)
        return Record("create", flags, errAuthorizationInvalidPointer, "");
    auto ref = std::make_unique<AuthorizationOpaqueRef>();
    *authorization = ref.get();
    LiveRefs().emplace(*authorization, std::move(ref));
    return Record("create", flags, errAuthorizationSuccess, "");
}

OSStatus AuthorizationCopyRights(AuthorizationRef authorization, const AuthorizationRights* rights,
                                 const AuthorizationEnvironment* environment,
                                 AuthorizationFlags flags, AuthorizationRights** authorizedRights) {
    std::string detail =
        "environment=" + std::to_string(environment != nullptr ? environment->count : 0);
    // No copy of the granted rights is handed out; the utility asks for none.
    if (authorizedRights != nullptr) *authorizedRights = nullptr;
    OSStatus status = errAuthorizationSuccess;
    if (!IsLive(authorization)) {
        status = errAuthorizationInvalidRef;
    } else if (!ValidSet(rights)) {
        status = errAuthorizationInvalidSet;
    } else {
        status = Grant(authorization, *rights, flags);
    }
    return Record("copy-rights", flags, status, detail);
}

OSStatus AuthorizationExecuteWithPrivileges(AuthorizationRef authorization, const char* pathToTool,
                                            AuthorizationFlags options, char* const* arguments,
                                            FILE** communicationsPipe) {
    std::string detail = pathToTool != nullptr ? pathToTool : "";
    if (communicationsPipe != nullptr) *communicationsPipe = nullptr;
    if (!IsLive(authorization))
        return Record("execute", options, errAuthorizationInvalidRef, detail);
    if (pathToTool == nullptr)
        return Record("execute", options, errAuthorizationInvalidPointer, detail);
    if (authorization->rights.count(kAdminRight) == 0)
        return Record("execute", options, errAuthorizationDenied, detail);
    std::optional<std::string> tool = ResolveTool(pathToTool);
    if (!tool) return Record("execute", options, errAuthorizationToolExecuteFailure, detail);
    OSStatus status = communicationsPipe != nullptr
                          ? RunWithStream(*tool, pathToTool, arguments, communicationsPipe)
                          : RunWithoutStream(*tool, arguments);
    return Record("execute", options, status, detail);
}

OSStatus AuthorizationFree(AuthorizationRef authorization, AuthorizationFlags flags) {
    if (!IsLive(authorization)) return Record("free", flags, errAuthorizationInvalidRef, "");
    LiveRefs().erase(authorization);
    return Record("free", flags, errAuthorizationSuccess, "");
}

AuthorizationCallObserver SetAuthorizationCallObserver(AuthorizationCallObserver observer) {
    AuthorizationCallObserver previous = Observer();
    Observer() = observer;
    return previous;
}
