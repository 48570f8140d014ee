// The authorization stand-in: rights follow the host's policy; tools are the host's own, reaped.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "platform/security/Security.h"
#include "platform/security/ToolRunner.h"
#include "tests/support/TempHost.h"

using testing::AllOf;
using testing::EndsWith;
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

// A tool that goes on once the utility is done with it never holds the utility: after its
// stream is closed and a grace period has passed it is asked to stop, then stopped by force,
// and reaped; a reader that reads to the end gets the end after a long silence or once the tool
// has run too long. The system log says which. A tool that ends is left alone.
TEST_F(SecurityTest, AToolThatKeepsRunningIsStoppedAndReaped) {
    authorize();
    using ms = std::chrono::milliseconds;
    const security::ToolLimits quick{ms(20000), ms(20000), ms(100), ms(100)};
    const char* const closedLate = "still running 100 ms after its output was closed: ";
    const struct Case {
        const char* script;
        security::ToolLimits limits;
        bool readToEnd;  // else one line is read
        std::vector<std::string> logged;
    } cases[] = {
        {"echo listed", {}, false, {}},
        // Closing the stream closes the pipe first: a tool still printing ends on it.
        {"while :; do echo listed; done", {}, false, {}},
        {"echo listed; exec sleep 30",
         quick,
         false,
         {closedLate + std::string("stopped with SIGTERM")}},
        {"echo listed; exec >&-; exec sleep 30",
         quick,
         false,
         {closedLate + std::string("stopped with SIGTERM")}},
        {"trap '' TERM; echo listed; exec sleep 30",
         quick,
         false,
         {closedLate + std::string("stopped with SIGKILL")}},
        {"echo listed; exec sleep 30",
         {ms(200), ms(20000), ms(100), ms(100)},
         true,
         {"printed nothing for 200 ms: its output is no longer read",
          closedLate + std::string("stopped with SIGTERM")}},
        {"while :; do echo listed; sleep 0.1; done",
         {ms(20000), ms(1000), ms(100), ms(100)},
         true,
         {"still running after 1 s: its output is no longer read",
          "still running after 1 s: stopped with SIGTERM"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        const size_t loggedBefore = host.logLines().size();
        addTool("/usr/sbin/kmodstat", c.script);
        const std::optional<std::string> tool = security::ResolveTool("/usr/sbin/kmodstat");
        ASSERT_TRUE(tool);
        FILE* stream = nullptr;
        char* const arguments[] = {nullptr};
        ASSERT_EQ(
            security::RunWithStream(*tool, "/usr/sbin/kmodstat", arguments, &stream, c.limits),
            errAuthorizationSuccess);
        char line[64];
        ASSERT_NE(fgets(line, sizeof line, stream), nullptr);
        EXPECT_STREQ(line, "listed\n");
        if (c.readToEnd) {
            ReadAll(stream);
        } else {
            fclose(stream);
        }
        EXPECT_TRUE(NoChildLeft());
        std::vector<std::string> log = host.logLines();
        log.erase(log.begin(), log.begin() + static_cast<long>(loggedBefore));
        ASSERT_EQ(log.size(), c.logged.size());
        for (size_t i = 0; i < log.size(); ++i) {
            EXPECT_THAT(log[i],
                        AllOf(HasSubstr("/usr/sbin/kmodstat (pid "), EndsWith(c.logged[i])));
        }
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
