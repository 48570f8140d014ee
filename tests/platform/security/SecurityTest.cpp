// The authorization stand-in: rights follow the host's policy; tools are the host's own, reaped.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "platform/security/Security.h"
#include "tests/support/TempHost.h"

using testing::AllOf;
using testing::HasSubstr;

namespace {

AuthorizationItem gRight[] = {{"system.privilege.admin", 0, nullptr, 0}};
AuthorizationRights gRights = {1, gRight};
AuthorizationItem gEnvironmentItems[] = {{"username", 0, nullptr, 0}, {"password", 0, nullptr, 0}};
AuthorizationEnvironment gEnvironment = {2, gEnvironmentItems};
constexpr AuthorizationFlags kInteractive =
    kAuthorizationFlagInteractionAllowed | kAuthorizationFlagExtendRights;

// Everything the tool printed; the stream is closed.
std::string ReadAll(FILE* stream) {
    std::string text;
    char buffer[256];
    while (fgets(buffer, sizeof buffer, stream) != nullptr) text += buffer;
    fclose(stream);
    return text;
}

// No child of this process is left, running or unreaped.
bool NoChildLeft() {
    errno = 0;
    return waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD;
}

class SecurityTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(AuthorizationCreate(nullptr, nullptr, kAuthorizationFlagDefaults, &ref),
                  errAuthorizationSuccess);
    }
    void TearDown() override {
        AuthorizationFree(ref, kAuthorizationFlagDestroyRights);
        EXPECT_TRUE(NoChildLeft());
    }
    void authorize() {
        ASSERT_EQ(AuthorizationCopyRights(ref, &gRights, nullptr, kInteractive, nullptr),
                  errAuthorizationSuccess);
    }
    // Installs a script as a tool of the host.
    void addTool(const std::string& path, const std::string& script, mode_t mode = 0755) {
        std::filesystem::create_directories(
            std::filesystem::path(host.root() + path).parent_path());
        WriteFileBytes(host.root() + path, "#!/bin/sh\n" + script + "\n");
        chmod((host.root() + path).c_str(), mode);
    }
    OSStatus execute(const char* tool, std::vector<const char*> args, FILE** stream) {
        args.push_back(nullptr);
        return AuthorizationExecuteWithPrivileges(ref, tool, kAuthorizationFlagDefaults,
                                                  const_cast<char* const*>(args.data()), stream);
    }
    TempHost host;
    AuthorizationRef ref = nullptr;
};

TEST_F(SecurityTest, TheHostPolicyAnswersARequestThatMayAskTheUser) {
    for (auto [policy, copy, executed] :
         {std::tuple{"allow", errAuthorizationSuccess, errAuthorizationSuccess},
          std::tuple{"deny", errAuthorizationDenied, errAuthorizationDenied},
          std::tuple{"cancel", errAuthorizationCanceled, errAuthorizationDenied}}) {
        host.hostOk({"auth", policy});
        AuthorizationFree(ref, kAuthorizationFlagDestroyRights);
        ASSERT_EQ(AuthorizationCreate(nullptr, nullptr, kAuthorizationFlagDefaults, &ref),
                  errAuthorizationSuccess);
        EXPECT_EQ(AuthorizationCopyRights(ref, &gRights, nullptr, kInteractive, nullptr), copy)
            << policy;
        // The request without interaction that follows: it succeeds only on a right already held.
        EXPECT_EQ(AuthorizationCopyRights(ref, &gRights, &gEnvironment,
                                          kAuthorizationFlagExtendRights, nullptr),
                  copy == errAuthorizationSuccess ? errAuthorizationSuccess
                                                  : errAuthorizationInteractionNotAllowed)
            << policy;
        FILE* stream = nullptr;
        EXPECT_EQ(execute("/usr/sbin/kextstat", {}, &stream), executed) << policy;
        // The tool is the host's own and its output arrives through the stream.
        if (stream != nullptr) {
            EXPECT_THAT(ReadAll(stream), AllOf(HasSubstr("Index Refs Address"),
                                               HasSubstr(" com.tavik.driver.ZolSC820 (3.1.4) <")));
        }
    }
}

TEST_F(SecurityTest, ClosingBeforeTheEndStillReapsTheTool) {
    authorize();
    FILE* stream = nullptr;
    addTool("/usr/sbin/kmodstat",
            "i=0; while [ $i -lt 100000 ]; do echo line $i; i=$((i+1)); done");
    ASSERT_EQ(execute("/usr/sbin/kmodstat", {}, &stream), errAuthorizationSuccess);
    char line[64];
    ASSERT_NE(fgets(line, sizeof line, stream), nullptr);
    EXPECT_STREQ(line, "line 0\n");
    fclose(stream);
    EXPECT_TRUE(NoChildLeft());
}

// A tool that prints its line and then keeps running, whether it keeps its output open or
// not, is stopped once its stream is closed and a grace period has passed (by force when it
// ignores the request), reaped, and the system log says so. A tool that ends is left alone.
TEST_F(SecurityTest, AToolThatKeepsRunningIsStoppedAfterAGracePeriod) {
    authorize();
    const std::pair<const char*, const char*> cases[] = {
        {"echo listed", nullptr},
        {"echo listed; exec sleep 30", "stopped with SIGTERM"},
        {"echo listed; exec >&-; exec sleep 30", "stopped with SIGTERM"},
        {"trap '' TERM; echo listed; for i in 1 2 3 4 5 6 7 8 9 10; do sleep 1; done",
         "stopped with SIGKILL"},
    };
    for (const auto& [script, logged] : cases) {
        SCOPED_TRACE(script);
        const size_t loggedBefore = host.logLines().size();
        addTool("/usr/sbin/kmodstat", script);
        FILE* stream = nullptr;
        ASSERT_EQ(execute("/usr/sbin/kmodstat", {}, &stream), errAuthorizationSuccess);
        char line[64];
        ASSERT_NE(fgets(line, sizeof line, stream), nullptr);
        EXPECT_STREQ(line, "listed\n");
        fclose(stream);
        EXPECT_TRUE(NoChildLeft());
        std::vector<std::string> log = host.logLines();
        log.erase(log.begin(), log.begin() + static_cast<long>(loggedBefore));
        if (logged == nullptr) {
            EXPECT_TRUE(log.empty()) << log.front();
        } else {
            ASSERT_EQ(log.size(), 1u);
            EXPECT_THAT(log[0], AllOf(HasSubstr("/usr/sbin/kmodstat (pid "),
                                      HasSubstr("still running 2 s after its output was closed"),
                                      HasSubstr(logged)));
        }
    }
}

// A tool that keeps its output open and prints nothing more, or keeps printing, does not hold a
// reader that reads to the end: after a long silence, or once the tool has run too long, the
// output ends, and the tool is then stopped.
TEST_F(SecurityTest, AToolThatHoldsItsOutputOpenEndsItsOutput) {
    authorize();
    struct Case {
        const char* script;
        const char* firstLines;  // what the reader gets first
        const char* ended;       // the log line that ends the output
    };
    const Case cases[] = {
        {"echo loading; exec sleep 60", "loading\n",
         "printed nothing for 10 s: its output is no longer read"},
        {"while :; do echo tick; sleep 1; done", "tick\ntick\n",
         "still running after 20 s: its output is no longer read"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        addTool("/usr/sbin/kmodstat", c.script);
        FILE* stream = nullptr;
        ASSERT_EQ(execute("/usr/sbin/kmodstat", {}, &stream), errAuthorizationSuccess);
        EXPECT_EQ(ReadAll(stream).substr(0, std::string(c.firstLines).size()), c.firstLines);
        EXPECT_TRUE(NoChildLeft());
        const std::vector<std::string> log = host.logLines();
        ASSERT_GE(log.size(), 2u);
        EXPECT_THAT(log[log.size() - 2],
                    AllOf(HasSubstr("/usr/sbin/kmodstat (pid "), HasSubstr(c.ended)));
        EXPECT_THAT(log.back(), HasSubstr("stopped with SIGTERM"));
    }
}

// A tool runs in a process group of its own: a Ctrl-C at the utility's terminal, sent to the
// utility's group, does not cut it off half-way.
TEST_F(SecurityTest, AToolRunsInAProcessGroupOfItsOwn) {
    authorize();
    addTool("/usr/sbin/kmodstat", "cut -d' ' -f5 /proc/$$/stat");
    FILE* stream = nullptr;
    ASSERT_EQ(execute("/usr/sbin/kmodstat", {}, &stream), errAuthorizationSuccess);
    const std::string group = ReadAll(stream);
    EXPECT_NE(group, std::to_string(getpgrp()) + "\n");
    EXPECT_NE(group, "");
}

TEST_F(SecurityTest, ToolsThatCannotRunFailBeforeAnythingStarts) {
    authorize();
    addTool("/usr/sbin/kmodstat", "echo never", 0644);
    std::filesystem::create_directories(host.root() + "/sbin/folder");
    addTool("/bin/sh-lookalike", "echo inside");
    for (const char* tool : {"/usr/sbin/kmodstat", "/sbin/missing", "/sbin/folder",
                             "usr/sbin/kextstat", "/../../bin/sh", ""}) {
        FILE* stream = reinterpret_cast<FILE*>(1);
        EXPECT_EQ(execute(tool, {}, &stream), errAuthorizationToolExecuteFailure) << tool;
        EXPECT_EQ(stream, nullptr) << tool;
    }
    // A path climbing above the root stays inside it.
    FILE* stream = nullptr;
    ASSERT_EQ(execute("/../bin/sh-lookalike", {}, &stream), errAuthorizationSuccess);
    EXPECT_EQ(ReadAll(stream), "inside\n");
}

}  // namespace
