// The rights acquisition's call sequence, freeing the authorization, and the password dialog's
// actions.
#include <gtest/gtest.h>

#include <string>

#include "app/SC820Controller.h"
#include "tests/driverctl/HostTools.h"
#include "tests/support/RecordingBackend.h"
#include "tests/support/TempHost.h"

namespace {

class RightsAcquisition : public ::testing::TestWithParam<const char*> {};

TEST_P(RightsAcquisition, MakesTheThreeCallsInOrderWhateverThePolicyAnswers) {
    TempHost host;
    RecordingBackend backend;
    host.hostOk({"auth", GetParam()});
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
    EXPECT_TRUE(backend.alerts.empty());
    EXPECT_EQ(backend.terminateCount, 0);
}

INSTANTIATE_TEST_SUITE_P(Policies, RightsAcquisition, ::testing::Values("allow", "deny", "cancel"));

TEST(FreeAuthorization, DestroysTheRightsSoNoToolStartsAfterwards) {
    TempHost host;
    hosttools::InstallTool(host.root(), "/usr/sbin/hello", "echo hello");
    SC820Controller controller;
    controller.acquireRights();
    char* noArguments[] = {nullptr};
    ASSERT_EQ(controller.authLog("/usr/sbin/hello", noArguments), 1);

    AuthorizationClearCallJournal();
    controller.freeAuthorization();
    const auto& journal = AuthorizationCallJournal();
    ASSERT_EQ(journal.size(), 1u);
    EXPECT_EQ(journal[0].operation, "free");
    EXPECT_EQ(journal[0].flags, kAuthorizationFlagDestroyRights);
    EXPECT_EQ(journal[0].status, errAuthorizationSuccess);
    EXPECT_EQ(controller.authLog("/usr/sbin/hello", noArguments), 0);
}

TEST(PasswordDialog, OkEndsTheModalLoopAndNothingElse) {
    RecordingBackend backend;
    SC820Controller controller;
    controller.dlgOk(nullptr);
    EXPECT_EQ(backend.stopModalCount, 1);
    EXPECT_EQ(backend.abortModalCount, 0);
    EXPECT_EQ(backend.terminateCount, 0);
}

TEST(PasswordDialog, CancelAbortsTheModalLoopThenQuits) {
    RecordingBackend backend;
    SC820Controller controller;
    EXPECT_THROW(controller.dlgCancel(nullptr), Terminated);
    EXPECT_EQ(backend.abortModalCount, 1);
    EXPECT_EQ(backend.stopModalCount, 0);
    EXPECT_EQ(backend.terminateCount, 1);
}

}  // namespace
