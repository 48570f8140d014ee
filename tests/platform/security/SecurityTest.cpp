// The authorization stand-in: rights follow the host's policy, privileged tools are the host's
// own, their output arrives through the stream, and closing the stream reaps them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/security/Security.h"
#include "tests/support/TempHost.h"

using testing::HasSubstr;

namespace {

AuthorizationItem gRight[] = {{"system.privilege.admin", 0, nullptr, 0}};
AuthorizationRights gRights = {1, gRight};
AuthorizationItem gEnvironmentItems[] = {{"username", 0, nullptr, 0}, {"password", 0, nullptr, 0}};
AuthorizationEnvironment gEnvironment = {2, gEnvironmentItems};
constexpr AuthorizationFlags kInteractive =
    kAuthorizationFlagInteractionAllowed | kAuthorizationFlagExtendRights;

// Everything the tool printed, read to the end; the stream is closed.
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
        AuthorizationClearCallJournal();
        ASSERT_EQ(AuthorizationCreate(nullptr, nullptr, kAuthorizationFlagDefaults, &ref),
                  errAuthorizationSuccess);
    }
    void TearDown() override {
        if (ref != nullptr) AuthorizationFree(ref, kAuthorizationFlagDestroyRights);
        EXPECT_TRUE(NoChildLeft());
    }
    void authorize() {
        ASSERT_EQ(AuthorizationCopyRights(ref, &gRights, nullptr, kInteractive, nullptr),
                  errAuthorizationSuccess);
    }
    // Installs an executable script as a tool of the host.
    void addTool(const std::string& path, const std::string& script) {
        std::filesystem::create_directories(
            std::filesystem::path(host.root() + path).parent_path());
        WriteFileBytes(host.root() + path, "#!/bin/sh\n" + script + "\n");
        chmod((host.root() + path).c_str(), 0755);
    }
    OSStatus execute(const char* tool, std::vector<const char*> args, FILE** stream) {
        args.push_back(nullptr);
        return AuthorizationExecuteWithPrivileges(ref, tool, kAuthorizationFlagDefaults,
                                                  const_cast<char* const*>(args.data()), stream);
    }
    TempHost host;
    AuthorizationRef ref = nullptr;
};

struct PolicyCase {
    const char* policy;
    OSStatus copy;
    OSStatus execute;
};

TEST_F(SecurityTest, TheHostPolicyAnswersARequestThatMayAskTheUser) {
    const std::vector<PolicyCase> cases = {
        {"allow", errAuthorizationSuccess, errAuthorizationSuccess},
        {"deny", errAuthorizationDenied, errAuthorizationDenied},
        {"cancel", errAuthorizationCanceled, errAuthorizationDenied},
    };
    for (const auto& c : cases) {
        host.hostOk({"auth", c.policy});
        AuthorizationRef fresh = nullptr;
        ASSERT_EQ(AuthorizationCreate(nullptr, nullptr, kAuthorizationFlagDefaults, &fresh),
                  errAuthorizationSuccess);
        EXPECT_EQ(AuthorizationCopyRights(fresh, &gRights, nullptr, kInteractive, nullptr), c.copy)
            << c.policy;
        // The request without interaction that follows: it succeeds only on a right already held.
        EXPECT_EQ(AuthorizationCopyRights(fresh, &gRights, &gEnvironment,
                                          kAuthorizationFlagExtendRights, nullptr),
                  c.copy == errAuthorizationSuccess ? errAuthorizationSuccess
                                                    : errAuthorizationInteractionNotAllowed)
            << c.policy;
        FILE* stream = nullptr;
        char* const noArgs[] = {nullptr};
        EXPECT_EQ(
            AuthorizationExecuteWithPrivileges(fresh, "/usr/sbin/kextstat", 0, noArgs, &stream),
            c.execute)
            << c.policy;
        if (stream != nullptr) ReadAll(stream);
        EXPECT_EQ(AuthorizationFree(fresh, kAuthorizationFlagDestroyRights),
                  errAuthorizationSuccess);
    }
}

TEST_F(SecurityTest, AHeldRightOutlivesAChangeOfPolicy) {
    authorize();
    host.hostOk({"auth", "deny"});
    EXPECT_EQ(AuthorizationCopyRights(ref, &gRights, nullptr, kInteractive, nullptr),
              errAuthorizationSuccess);
    EXPECT_EQ(AuthorizationCopyRights(ref, &gRights, nullptr, kAuthorizationFlagDefaults, nullptr),
              errAuthorizationSuccess);
}

TEST_F(SecurityTest, TheToolsOutputArrivesThroughTheStreamAndClosingReapsIt) {
    authorize();
    FILE* stream = nullptr;
    ASSERT_EQ(execute("/usr/sbin/kextstat", {}, &stream), errAuthorizationSuccess);
    ASSERT_NE(stream, nullptr);
    std::string listing = ReadAll(stream);
    EXPECT_THAT(listing, HasSubstr("Index Refs Address"));
    EXPECT_THAT(listing, HasSubstr(" com.tavik.driver.ZolSC820 (3.1.4) <"));
    EXPECT_TRUE(NoChildLeft());
}

TEST_F(SecurityTest, ArgumentsFollowTheToolPath) {
    authorize();
    addTool("/usr/sbin/kmodstat", "echo \"$0\"; for a in \"$@\"; do echo \"[$a]\"; done");
    FILE* stream = nullptr;
    ASSERT_EQ(execute("/usr/sbin/kmodstat", {"-m", "a b", ""}, &stream), errAuthorizationSuccess);
    EXPECT_EQ(ReadAll(stream), host.root() + "/usr/sbin/kmodstat\n[-m]\n[a b]\n[]\n");

    ASSERT_EQ(execute("/sbin/kextunload", {"-m", "com.tavik.driver.ZolSC820"}, &stream),
              errAuthorizationSuccess);
    EXPECT_THAT(ReadAll(stream), HasSubstr("kextunload: com.tavik.driver.ZolSC820 unloaded\n"));
    EXPECT_THAT(host.hostOk({"status"}),
                testing::Not(HasSubstr("extension com.tavik.driver.ZolSC820")));
}

TEST_F(SecurityTest, ClosingBeforeTheEndStillReapsTheTool) {
    authorize();
    addTool("/usr/sbin/kmodstat",
            "i=0; while [ $i -lt 100000 ]; do echo line $i; i=$((i+1)); done");
    FILE* stream = nullptr;
    ASSERT_EQ(execute("/usr/sbin/kmodstat", {}, &stream), errAuthorizationSuccess);
    char line[64];
    ASSERT_NE(fgets(line, sizeof line, stream), nullptr);
    EXPECT_STREQ(line, "line 0\n");
    fclose(stream);
    EXPECT_TRUE(NoChildLeft());
}

TEST_F(SecurityTest, TheToolReadsNothingFromStandardInput) {
    authorize();
    addTool("/usr/sbin/kmodstat", "cat; echo done");
    FILE* stream = nullptr;
    ASSERT_EQ(execute("/usr/sbin/kmodstat", {}, &stream), errAuthorizationSuccess);
    EXPECT_EQ(ReadAll(stream), "done\n");
}

TEST_F(SecurityTest, WithoutAStreamTheToolStillRunsAndIsReaped) {
    authorize();
    addTool("/usr/sbin/kmodstat", "touch \"$1\"");
    std::string marker = host.root() + "/ran";
    ASSERT_EQ(execute("/usr/sbin/kmodstat", {marker.c_str()}, nullptr), errAuthorizationSuccess);
    EXPECT_TRUE(std::filesystem::exists(marker));
}

TEST_F(SecurityTest, ToolsThatCannotRunFailBeforeAnythingStarts) {
    authorize();
    WriteFileBytes(host.root() + "/usr/sbin/kmodstat", "#!/bin/sh\necho never\n");
    chmod((host.root() + "/usr/sbin/kmodstat").c_str(), 0644);
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

TEST_F(SecurityTest, AFreedReferenceIsRefusedEverywhere) {
    authorize();
    AuthorizationRef freed = ref;
    ASSERT_EQ(AuthorizationFree(ref, kAuthorizationFlagDestroyRights), errAuthorizationSuccess);
    ref = nullptr;
    FILE* stream = nullptr;
    char* const noArgs[] = {nullptr};
    EXPECT_EQ(AuthorizationCopyRights(freed, &gRights, nullptr, kInteractive, nullptr),
              errAuthorizationInvalidRef);
    EXPECT_EQ(AuthorizationExecuteWithPrivileges(freed, "/usr/sbin/kextstat", 0, noArgs, &stream),
              errAuthorizationInvalidRef);
    EXPECT_EQ(AuthorizationFree(freed, 0), errAuthorizationInvalidRef);
    EXPECT_EQ(AuthorizationFree(nullptr, 0), errAuthorizationInvalidRef);
    EXPECT_EQ(AuthorizationCopyRights(nullptr, &gRights, nullptr, kInteractive, nullptr),
              errAuthorizationInvalidRef);
}

TEST_F(SecurityTest, WithoutAHostNoRightIsGranted) {
    TempDir empty;
    setenv("SC820_HOST_ROOT", (empty.path() + "/none").c_str(), 1);
    EXPECT_EQ(AuthorizationCopyRights(ref, &gRights, nullptr, kInteractive, nullptr),
              errAuthorizationInternal);
}

TEST_F(SecurityTest, TheJournalRecordsEachCallInOrder) {
    AuthorizationCopyRights(ref, &gRights, nullptr, kInteractive, nullptr);
    AuthorizationCopyRights(ref, &gRights, &gEnvironment, kAuthorizationFlagExtendRights, nullptr);
    FILE* stream = nullptr;
    execute("/sbin/missing", {}, &stream);
    AuthorizationFree(ref, kAuthorizationFlagDestroyRights);
    ref = nullptr;
    const auto& journal = AuthorizationCallJournal();
    ASSERT_EQ(journal.size(), 5u);
    EXPECT_EQ(journal[0].operation, "create");
    EXPECT_EQ(journal[1].operation, "copy-rights");
    EXPECT_EQ(journal[1].flags, 3u);
    EXPECT_EQ(journal[1].detail, "environment=0");
    EXPECT_EQ(journal[2].flags, 2u);
    EXPECT_EQ(journal[2].detail, "environment=2");
    EXPECT_EQ(journal[3].operation, "execute");
    EXPECT_EQ(journal[3].detail, "/sbin/missing");
    EXPECT_EQ(journal[3].status, errAuthorizationToolExecuteFailure);
    EXPECT_EQ(journal[4].operation, "free");
    EXPECT_EQ(journal[4].flags, kAuthorizationFlagDestroyRights);
}

}  // namespace
