// The authorization stand-in: rights follow the host's policy; tools are the host's own, reaped.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "platform/security/Security.h"
#include "platform/security/ToolRunner.h"
#include "tests/support/TempHost.h"

namespace {

AuthorizationItem gRight[] = {{"system.privilege.admin", 0, nullptr, 0}};
AuthorizationRights gRights = {1, gRight};
constexpr AuthorizationFlags kInteractive =
    kAuthorizationFlagInteractionAllowed | kAuthorizationFlagExtendRights;
constexpr char kTool[] = "/usr/sbin/kmodstat";

// Everything the tool printed; the stream is closed.
std::string ReadAll(FILE* stream) {
    std::string text;
    for (int c; (c = fgetc(stream)) != EOF;) text += static_cast<char>(c);
    fclose(stream);
    return text;
}

class SecurityTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(AuthorizationCreate(nullptr, nullptr, kAuthorizationFlagDefaults, &ref), 0);
    }
    // No child of this process is left, running or unreaped.
    void TearDown() override {
        AuthorizationFree(ref, kAuthorizationFlagDestroyRights);
        errno = 0;
        EXPECT_TRUE(waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD);
    }
    // Holds the right and installs a script as a tool of the host.
    void addTool(const std::string& path, const std::string& script, mode_t mode = 0755) {
        ASSERT_EQ(AuthorizationCopyRights(ref, &gRights, nullptr, kInteractive, nullptr), 0);
        std::filesystem::create_directories(
            std::filesystem::path(host.root() + path).parent_path());
        WriteFileBytes(host.root() + path, "#!/bin/sh\n" + script + "\n");
        chmod((host.root() + path).c_str(), mode);
    }
    OSStatus execute(const char* tool, FILE** stream) {
        char* const args[] = {nullptr};
        return AuthorizationExecuteWithPrivileges(ref, tool, kAuthorizationFlagDefaults, args,
                                                  stream);
    }
    TempHost host;
    AuthorizationRef ref = nullptr;
};

// A tool that goes on once the utility is done with it never holds the utility: after its
// stream is closed and a grace period has passed it is asked to stop, then stopped by force,
// and reaped; a reader that reads to the end gets the end after a long silence or once the tool
// has run too long. The system log says which. A tool that ends is left alone; closing the
// stream closes the pipe first, so a tool still printing ends on it.
TEST_F(SecurityTest, AToolThatKeepsRunningIsStoppedAndReaped) {
    using ms = std::chrono::milliseconds;
    const security::ToolLimits quick{ms(20000), ms(20000), ms(100), ms(100)};
    const std::string late = "still running 100 ms after its output was closed: stopped with ";
    const struct Case {
        const char* script;
        security::ToolLimits limits;
        bool readToEnd;  // else one line is read
        std::vector<std::string> logged;
    } cases[] = {
        {"echo listed", {}, false, {}},
        {"while :; do echo listed; done", {}, false, {}},
        {"echo listed; exec sleep 30", quick, false, {late + "SIGTERM"}},
        {"trap '' TERM; echo listed; exec sleep 30", quick, false, {late + "SIGKILL"}},
        {"echo listed; exec sleep 30",
         {ms(200), ms(20000), ms(100), ms(100)},
         true,
         {"printed nothing for 200 ms: its output is no longer read", late + "SIGTERM"}},
        {"while :; do echo listed; sleep 0.1; done",
         {ms(20000), ms(1000), ms(100), ms(100)},
         true,
         {"still running after 1 s: its output is no longer read",
          "still running after 1 s: stopped with SIGTERM"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        const size_t loggedBefore = host.logLines().size();
        addTool(kTool, c.script);
        FILE* stream = nullptr;
        char* const arguments[] = {nullptr};
        ASSERT_EQ(security::RunWithStream(*security::ResolveTool(kTool), kTool, arguments, &stream,
                                          c.limits),
                  errAuthorizationSuccess);
        char line[64];
        EXPECT_STREQ(fgets(line, sizeof line, stream), "listed\n");
        c.readToEnd ? (void)ReadAll(stream) : (void)fclose(stream);
        std::vector<std::string> log = host.logLines();
        log.erase(log.begin(), log.begin() + static_cast<long>(loggedBefore));
        for (std::string& entry : log) {
            EXPECT_NE(entry.find("/usr/sbin/kmodstat (pid "), std::string::npos) << entry;
            entry = entry.substr(entry.find(") ") + 2);
        }
        EXPECT_EQ(log, c.logged);
    }
}

// A tool runs in a process group of its own: a Ctrl-C at the utility's terminal, sent to the
// utility's group, does not cut it off half-way.
TEST_F(SecurityTest, AToolRunsInAProcessGroupOfItsOwn) {
    addTool(kTool, "cut -d' ' -f5 /proc/$$/stat");
    FILE* stream = nullptr;
    ASSERT_EQ(execute(kTool, &stream), errAuthorizationSuccess);
    const std::string group = ReadAll(stream);
    EXPECT_TRUE(group != std::to_string(getpgrp()) + "\n" && !group.empty()) << group;
}

// A path climbing above the root stays inside it.
TEST_F(SecurityTest, ToolsThatCannotRunFailBeforeAnythingStarts) {
    addTool(kTool, "echo never", 0644);
    std::filesystem::create_directories(host.root() + "/sbin/folder");
    addTool("/bin/sh-lookalike", "echo inside");
    for (const char* tool :
         {kTool, "/sbin/missing", "/sbin/folder", "usr/sbin/kextstat", "/../../bin/sh", ""}) {
        FILE* stream = reinterpret_cast<FILE*>(1);
        EXPECT_EQ(execute(tool, &stream), errAuthorizationToolExecuteFailure) << tool;
        EXPECT_EQ(stream, nullptr) << tool;
    }
    FILE* stream = nullptr;
    ASSERT_EQ(execute("/../bin/sh-lookalike", &stream), errAuthorizationSuccess);
    EXPECT_EQ(ReadAll(stream), "inside\n");
}

}  // namespace
