// The counting runner against a real shell; the rights, the privileged runner and the driver
// swap against the emulated host, with small tools placed in its root.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "app/SC820Controller.h"
#include "driverctl/Pause.h"
#include "driverif/DriverNames.h"
#include "tests/support/PlatformProbes.h"
#include "tests/support/RecordingBackend.h"
#include "tests/support/TempHost.h"

namespace {

// The authorization calls made since the journal was cleared, as "operation flags detail".
std::vector<std::string> Calls() {
    std::vector<std::string> calls;
    for (const auto& call : AuthorizationCallJournal())
        calls.push_back(call.operation + " " + std::to_string(call.flags) + " " + call.detail);
    return calls;
}

std::string Call(const char* operation, AuthorizationFlags flags, const std::string& detail) {
    return std::string(operation) + " " + std::to_string(flags) + " " + detail;
}

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
    for (const auto& [command, lines] : cases)
        EXPECT_EQ(controller.execLog(command.c_str()), lines) << command.substr(0, 40);
    EXPECT_GE(controller.execLog("/nonexistent/sc820-no-such-tool"), 1);
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a shell was left unreaped";
}

// A pause is a count, so it must make exactly the increments asked for.
TEST(BusyPause, CountsExactlyToItsCount) {
    for (uint32_t count : {0u, 1u, 7u, 1000001u}) EXPECT_EQ(BusyPause(count), count);
}

// Three calls in order, whatever the policy; only granted rights start a tool, and a tool that
// does not start logs nothing and gives 0.
TEST(RightsAcquisition, MakesTheThreeCallsInOrderAndOnlyGrantedRightsStartTools) {
    const std::string interactive = Call(
        "copy-rights", kAuthorizationFlagInteractionAllowed | kAuthorizationFlagExtendRights, "");
    for (const char* policy : {"allow", "deny", "cancel"}) {
        TempHost host;
        RecordingBackend backend;
        host.hostOk({"auth", policy});
        hosttools::InstallPrintingTool(host.root(), "/usr/sbin/three", "one\ntwo\nthree\n");
        AuthorizationClearCallJournal();
        SC820Controller controller;
        controller.acquireRights();
        auto calls = Calls();
        ASSERT_EQ(calls.size(), 3u);
        EXPECT_TRUE(calls[1].rfind(interactive, 0) == 0 &&
                    calls[1].find("environment=2") == std::string::npos);
        calls[1] = "";
        EXPECT_EQ(calls,
                  (std::vector<std::string>{
                      Call("create", kAuthorizationFlagDefaults, ""), "",
                      Call("copy-rights", kAuthorizationFlagExtendRights, "environment=2")}));
        EXPECT_NE(controller.mAuthRef, nullptr);
        char* noArguments[] = {nullptr};
        const bool granted = policy == std::string("allow");
        EXPECT_EQ(
            controller.authLog(granted ? "/usr/sbin/no-such-tool" : "/usr/sbin/three", noArguments),
            0);
        EXPECT_TRUE(host.logLines().empty() && backend.alerts.empty() &&
                    backend.terminateCount == 0);
    }
}

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
        hosttools::InstallPrintingTool(host.root(), "/usr/sbin/tool", output);
        const size_t from = host.logLines().size();
        EXPECT_EQ(controller.authLog("/usr/sbin/tool", noArguments), 1);
        EXPECT_EQ(hosttools::LogTexts(host, from), texts) << output.substr(0, 20);
    }
    EXPECT_TRUE(backend.alerts.empty());
    AuthorizationClearCallJournal();
    controller.freeAuthorization();
    EXPECT_EQ(Calls(),
              (std::vector<std::string>{Call("free", kAuthorizationFlagDestroyRights, "")}));
    EXPECT_EQ(AuthorizationCallJournal()[0].status, errAuthorizationSuccess);
    EXPECT_EQ(controller.authLog("/usr/sbin/tool", noArguments), 0);
}

// The swap unloads the normal driver, then loads the carried extension from wherever the bundle
// is (here a folder whose name holds a space and characters outside ASCII: the path travels as
// UTF-8). With a device on the card, the normal driver stays and the utility's gets no card;
// nothing is shown either way (refused rights: the start-up table).
TEST(DriverSwap, UnloadsTheNormalDriverThenLoadsTheUtilityDriverFromWhereverTheBundleIs) {
    TempDir elsewhere;
    const std::string moved = elsewhere.path() + "/Moved Utilit\xc3\xa9";
    const std::string kext = moved + kUtilityKextSubpath;
    std::filesystem::create_directories(kext + "/Contents");
    std::filesystem::copy_file(std::string(SC820_BUNDLE_DIR) + kUtilityKextInfoSubpath,
                               kext + "/Contents/Info.plist");
    for (const bool attached : {false, true}) {
        TempHost host;
        RecordingBackend backend;
        if (attached) host.hostOk({"attach", "3"});
        AuthorizationClearCallJournal();
        UseMainBundleAt(moved);
        SC820Controller controller;
        controller.acquireRights();
        controller.swapDrivers();
        UseMainBundleAt(SC820_BUNDLE_DIR);
        const std::string facts = testhost::StatusFact(host, "utility-services") + " " +
                                  testhost::StatusFact(host, "card-targets");
        EXPECT_EQ(facts, attached ? "0 3" : "1 none");
        EXPECT_TRUE(backend.alerts.empty() && backend.terminateCount == 0);
        const auto calls = Calls();
        EXPECT_EQ(std::vector<std::string>(calls.end() - 2, calls.end()),
                  (std::vector<std::string>{Call("execute", 0, "/sbin/kextunload"),
                                            Call("execute", 0, "/sbin/kextload")}));
        const auto texts = hosttools::LogTexts(host);
        EXPECT_EQ(std::count_if(texts.begin(), texts.end(),
                                [&](const std::string& t) {
                                    return t.rfind("kextload: " + kext + " loaded as ", 0) == 0;
                                }),
                  1)
            << attached;
    }
}

}  // namespace
