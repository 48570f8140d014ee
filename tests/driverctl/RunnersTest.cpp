// The counting runner against a real shell; the rights acquisition, freeing the authorization
// and the privileged runner against the emulated host with small tools placed in its root.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "app/SC820Controller.h"
#include "tests/support/PlatformProbes.h"
#include "tests/support/RecordingBackend.h"
#include "tests/support/TempHost.h"

namespace {

TEST(ExecLog, CountsNewlinesOfBothStreams) {
    const std::pair<std::string, int> cases[] = {
        {"seq 10", 10},
        {"{ seq 9; printf ten; }", 9},
        {"sh -c 'seq 10 >&2'", 10},
        {"true", 0},
        {"echo %s%n%x%%", 1},  // the command is an argument of the line's format, never the format
        {"echo " + std::string(5000, 'x') + " | wc -c", 1},  // longer than any fixed buffer
        {"seq 100000", 100000},
    };
    SC820Controller controller;
    for (const auto& [command, lines] : cases) {
        EXPECT_EQ(controller.execLog(command.c_str()), lines) << command.substr(0, 40);
    }
    EXPECT_GE(controller.execLog("/nonexistent/sc820-no-such-tool"), 1);
}

class RightsAcquisition : public ::testing::TestWithParam<const char*> {};

TEST_P(RightsAcquisition, MakesTheThreeCallsInOrderAndOnlyGrantedRightsStartTools) {
    TempHost host;
    RecordingBackend backend;
    host.hostOk({"auth", GetParam()});
    hosttools::InstallPrintingTool(host.root(), "/usr/sbin/three", "one\ntwo\nthree\n");
    AuthorizationClearCallJournal();
    SC820Controller controller;
    controller.acquireRights();

    const auto& journal = AuthorizationCallJournal();
    ASSERT_EQ(journal.size(), 3u);
    EXPECT_EQ(journal[0].operation, "create");
    EXPECT_EQ(journal[0].flags, kAuthorizationFlagDefaults);
    EXPECT_EQ(journal[1].operation, "copy-rights");
    EXPECT_EQ(journal[1].flags,
              kAuthorizationFlagInteractionAllowed | kAuthorizationFlagExtendRights);
    EXPECT_EQ(journal[1].detail.find("environment=2"), std::string::npos);
    EXPECT_EQ(journal[2].operation, "copy-rights");
    EXPECT_EQ(journal[2].flags, kAuthorizationFlagExtendRights);
    EXPECT_NE(journal[2].detail.find("environment=2"), std::string::npos) << journal[2].detail;
    EXPECT_NE(controller.mAuthRef, nullptr);
    // Refused rights, or a missing tool with granted ones, give 0 and log nothing.
    const size_t from = host.logLines().size();
    char* noArguments[] = {nullptr};
    const bool granted = GetParam() == std::string("allow");
    EXPECT_EQ(
        controller.authLog(granted ? "/usr/sbin/no-such-tool" : "/usr/sbin/three", noArguments), 0);
    EXPECT_EQ(host.logLines().size(), from);
    EXPECT_TRUE(backend.alerts.empty());
    EXPECT_EQ(backend.terminateCount, 0);
}

INSTANTIATE_TEST_SUITE_P(Policies, RightsAcquisition, ::testing::Values("allow", "deny", "cancel"));

TEST(AuthLog, LogsEveryPieceOfTheToolsOutputAsTextUntilTheRightsAreFreed) {
    const std::string a3000(3000, 'a'), a1023(1023, 'a'), a954(954, 'a');
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"one\ntwo\nthree\n", {"one\n", "two\n", "three\n"}},
        {a3000 + "\n", {a1023, a1023, a954 + "\n"}},
        {"%s %n %x\n", {"%s %n %x\n"}},
        {"a\nb", {"a\n", "b"}},
        {std::string("ab\0cd\n", 6) + "\xc3\xa9\xff\n", {"ab", "\xc3\xa9\xff\n"}},
        {"", {}},  // a silent tool is started and logs nothing
    };
    TempHost host;
    RecordingBackend backend;
    SC820Controller controller;
    controller.acquireRights();
    char* noArguments[] = {nullptr};
    for (const auto& [output, texts] : cases) {
        SCOPED_TRACE(output.substr(0, 20));
        hosttools::InstallPrintingTool(host.root(), "/usr/sbin/tool", output);
        const size_t from = host.logLines().size();
        EXPECT_EQ(controller.authLog("/usr/sbin/tool", noArguments), 1);
        EXPECT_EQ(hosttools::LogTexts(host, from), texts);
    }
    EXPECT_TRUE(backend.alerts.empty());
    AuthorizationClearCallJournal();
    controller.freeAuthorization();
    const auto& journal = AuthorizationCallJournal();
    ASSERT_EQ(journal.size(), 1u);
    EXPECT_EQ(journal[0].operation, "free");
    EXPECT_EQ(journal[0].flags, kAuthorizationFlagDestroyRights);
    EXPECT_EQ(journal[0].status, errAuthorizationSuccess);
    EXPECT_EQ(controller.authLog("/usr/sbin/tool", noArguments), 0);
}

}  // namespace
