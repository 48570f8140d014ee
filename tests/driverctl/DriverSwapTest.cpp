// The driver swap against the emulated host: the tools run with the authorization's rights,
// the normal driver goes and the carried extension comes from wherever the bundle is.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "app/SC820Controller.h"
#include "driverif/DriverNames.h"
#include "tests/support/PlatformProbes.h"
#include "tests/support/RecordingBackend.h"
#include "tests/support/TempHost.h"

namespace {

const std::string kNormalDriverLine = std::string("extension ") + kSC820DriverBundleID + " (";

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Swaps the drivers with the bundle at the given place and gives the host's status.
std::string Swap(const TempHost& host, const std::string& bundle = SC820_BUNDLE_DIR) {
    UseMainBundleAt(bundle);
    SC820Controller controller;
    controller.acquireRights();
    controller.swapDrivers();
    UseMainBundleAt(SC820_BUNDLE_DIR);
    return host.hostOk({"status"});
}

// The bundle has moved to a folder whose name holds a space and characters outside ASCII: the
// extension's path travels as UTF-8.
TEST(DriverSwap, UnloadsTheNormalDriverThenLoadsTheUtilityDriverFromWhereverTheBundleIs) {
    TempHost host;
    RecordingBackend backend;
    TempDir elsewhere;
    const std::string moved = elsewhere.path() + "/Moved Utilit\xc3\xa9";
    const std::string kext = moved + kUtilityKextSubpath;
    std::filesystem::create_directories(kext + "/Contents");
    std::filesystem::copy_file(std::string(SC820_BUNDLE_DIR) + kUtilityKextInfoSubpath,
                               kext + "/Contents/Info.plist");
    AuthorizationClearCallJournal();
    const std::string status = Swap(host, moved);
    EXPECT_FALSE(Contains(status, kNormalDriverLine)) << status;
    EXPECT_TRUE(Contains(status, "utility-services 1\n")) << status;
    EXPECT_TRUE(backend.alerts.empty());
    std::vector<std::string> tools;
    for (const auto& call : AuthorizationCallJournal()) {
        if (call.operation == "execute") tools.push_back(call.detail);
    }
    EXPECT_EQ(tools, (std::vector<std::string>{"/sbin/kextunload", "/sbin/kextload"}));
    const auto texts = hosttools::LogTexts(host);
    EXPECT_TRUE(std::any_of(texts.begin(), texts.end(), [&](const std::string& t) {
        return t.rfind("kextload: " + kext + " loaded as ", 0) == 0;
    }));
}

TEST(DriverSwap, DeviceOnTheCardOrRefusedRightsChangeNothingAndShowNothing) {
    for (const auto& step : std::vector<std::vector<std::string>>{
             {"attach", "3"}, {"auth", "deny"}, {"auth", "cancel"}}) {
        SCOPED_TRACE(step.back());
        TempHost host;
        RecordingBackend backend;
        host.hostOk(step);
        const std::string status = Swap(host);
        EXPECT_TRUE(Contains(status, kNormalDriverLine)) << status;
        EXPECT_TRUE(step[0] == "attach" || Contains(status, "utility-services 0\n")) << status;
        EXPECT_EQ(Contains(status, "card-targets 3\n"), step[0] == "attach") << status;
        EXPECT_TRUE(backend.alerts.empty());
        EXPECT_EQ(backend.terminateCount, 0);
    }
}

}  // namespace
