// The driver swap against the emulated host: the tools run with the authorization's rights,
// the normal driver goes and the carried extension comes from wherever the bundle is.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/SC820Controller.h"
#include "card/DriverNames.h"
#include "tests/driverctl/HostTools.h"
#include "tests/support/RecordingBackend.h"
#include "tests/support/TempHost.h"

namespace fs = std::filesystem;

namespace {

const std::string kNormalDriverLine = std::string("extension ") + kSC820DriverBundleID + " (";

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Copies the carried extension into a bundle laid out at another place.
std::string CopyBundleTo(const std::string& bundlePath) {
    const std::string kext = bundlePath + kUtilityKextSubpath;
    fs::create_directories(kext + "/Contents");
    fs::copy_file(std::string(SC820_BUNDLE_DIR) + kUtilityKextInfoSubpath,
                  kext + "/Contents/Info.plist");
    return kext;
}

class DriverSwap : public ::testing::Test {
protected:
    void SetUp() override { NSBundle::setMainBundlePathForTesting(SC820_BUNDLE_DIR); }
    void TearDown() override { NSBundle::setMainBundlePathForTesting(SC820_BUNDLE_DIR); }
    std::string swap() {
        controller.acquireRights();
        controller.swapDrivers();
        return host.hostOk({"status"});
    }

    TempHost host;
    RecordingBackend backend;
    SC820Controller controller;
};

TEST_F(DriverSwap, UnloadsTheNormalDriverAndRegistersTheUtilityDriver) {
    ASSERT_TRUE(Contains(host.hostOk({"status"}), kNormalDriverLine));
    const std::string status = swap();
    EXPECT_FALSE(Contains(status, kNormalDriverLine)) << status;
    EXPECT_TRUE(Contains(status, "utility-services 1\n")) << status;
    EXPECT_TRUE(backend.alerts.empty());
}

TEST_F(DriverSwap, RunsUnloadThenLoadWithTheAuthorization) {
    AuthorizationClearCallJournal();
    swap();
    std::vector<std::string> tools;
    for (const auto& call : AuthorizationCallJournal()) {
        if (call.operation == "execute") tools.push_back(call.detail);
    }
    EXPECT_EQ(tools, (std::vector<std::string>{"/sbin/kextunload", "/sbin/kextload"}));
}

TEST_F(DriverSwap, ToolOutputGoesToTheLog) {
    swap();
    const std::vector<std::string> texts = hosttools::LogTexts(host);
    const std::string kextPath = std::string(SC820_BUNDLE_DIR) + kUtilityKextSubpath;
    auto logged = [&](const std::string& text) {
        return std::find(texts.begin(), texts.end(), text) != texts.end();
    };
    EXPECT_TRUE(logged(std::string("kextunload: ") + kSC820DriverBundleID + " unloaded\n"));
    EXPECT_TRUE(std::any_of(texts.begin(), texts.end(), [&](const std::string& t) {
        return t.rfind("kextload: " + kextPath + " loaded as ", 0) == 0;
    }));
}

TEST_F(DriverSwap, DeviceOnTheCardKeepsTheNormalDriverAndNothingIsShown) {
    host.hostOk({"attach", "3"});
    const std::string status = swap();
    EXPECT_TRUE(Contains(status, kNormalDriverLine)) << status;
    EXPECT_TRUE(Contains(status, "card-targets 3\n")) << status;
    EXPECT_TRUE(backend.alerts.empty());
    EXPECT_EQ(backend.terminateCount, 0);
}

TEST_F(DriverSwap, MovedBundleLoadsTheExtensionFromItsNewPlace) {
    TempDir elsewhere;
    // A folder name with a space and characters outside ASCII: the path travels as UTF-8.
    const std::string moved = elsewhere.path() + "/Moved Utilit\xc3\xa9";
    const std::string kext = CopyBundleTo(moved);
    NSBundle::setMainBundlePathForTesting(moved);
    const std::string status = swap();
    EXPECT_TRUE(Contains(status, "utility-services 1\n")) << status;
    bool loadedFromMoved = false;
    for (const std::string& text : hosttools::LogTexts(host)) {
        loadedFromMoved =
            loadedFromMoved || text.rfind("kextload: " + kext + " loaded as ", 0) == 0;
    }
    EXPECT_TRUE(loadedFromMoved);
}

class RefusedSwap : public ::testing::TestWithParam<const char*> {};

TEST_P(RefusedSwap, ChangesNothingAndShowsNothing) {
    TempHost host;
    RecordingBackend backend;
    NSBundle::setMainBundlePathForTesting(SC820_BUNDLE_DIR);
    host.hostOk({"auth", GetParam()});
    SC820Controller controller;
    controller.acquireRights();
    controller.swapDrivers();
    const std::string status = host.hostOk({"status"});
    EXPECT_TRUE(Contains(status, kNormalDriverLine)) << status;
    EXPECT_TRUE(Contains(status, "utility-services 0\n")) << status;
    EXPECT_TRUE(backend.alerts.empty());
}

INSTANTIATE_TEST_SUITE_P(Policies, RefusedSwap, ::testing::Values("deny", "cancel"));

}  // namespace
