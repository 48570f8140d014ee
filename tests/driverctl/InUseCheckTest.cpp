// The driver in-use check against the emulated host's registry.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/Messages.h"
#include "app/SC820Controller.h"
#include "card/DriverNames.h"
#include "driverctl/InUseCheck.h"
#include "tests/support/RecordingBackend.h"
#include "tests/support/TempHost.h"

namespace fs = std::filesystem;

namespace {

struct ClassNameCase {
    const char* name;
    NSString className;
    bool matches;
};
void PrintTo(const ClassNameCase& c, std::ostream* os) {
    *os << c.name;
}

class ClassName : public ::testing::TestWithParam<ClassNameCase> {};

TEST_P(ClassName, OnlyTheExactEightCharactersMatch) {
    EXPECT_EQ(IsCardDriverClassName(GetParam().className), GetParam().matches);
}

INSTANTIATE_TEST_SUITE_P(
    Names, ClassName,
    ::testing::Values(ClassNameCase{"Exact", NSString("ZolSC820"), true},
                      ClassNameCase{"LowerCase", NSString("zolsc820"), false},
                      ClassNameCase{"UpperCase", NSString("ZOLSC820"), false},
                      ClassNameCase{"OneCaseDiffers", NSString("ZolSc820"), false},
                      ClassNameCase{"LastCharacterDiffers", NSString("ZolSC821"), false},
                      ClassNameCase{"WithSuffix", NSString("ZolSC820X"), false},
                      ClassNameCase{"WithTrailingSpace", NSString("ZolSC820 "), false},
                      ClassNameCase{"WithPrefix", NSString("XZolSC820"), false},
                      ClassNameCase{"Shorter", NSString("ZolSC82"), false},
                      ClassNameCase{"Empty", NSString(""), false},
                      ClassNameCase{"NonAsciiInside",
                                    NSString("Zol\xc3\xa9"
                                             "C820"),
                                    false},
                      ClassNameCase{"OtherController", NSString("IOSCSIParallelController"),
                                    false}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

// Loads an extension into the host whose one registry entry is named like a SCSI device but
// hangs from the card's PCI entry, not from the card's driver: a device entry on a parent of
// another class, placed at the current end of the registry's iteration order.
void LoadForeignDevice(const TempHost& host, const TempDir& dir, const std::string& identifier) {
    const std::string bundle = dir.path() + "/" + identifier + ".kext";
    fs::create_directories(bundle + "/Contents");
    WriteFileBytes(bundle + "/Contents/Info.plist",
                   "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                   "<key>CFBundleIdentifier</key><string>" +
                       identifier +
                       "</string>"
                       "<key>CFBundleVersion</key><string>1.0</string>"
                       "<key>IOKitPersonalities</key><dict><key>Device</key><dict>"
                       "<key>IOClass</key><string>IOSCSIParallelDevice</string>"
                       "</dict></dict></dict></plist>\n");
    std::string output;
    ASSERT_EQ(RunProgram({host.root() + "/sbin/kextload", bundle}, &output), 0) << output;
}

// Shapes the registry of a fresh host with sc820-host commands and foreign extensions.
struct RegistryCase {
    const char* name;
    std::vector<std::vector<std::string>> steps;  // {"foreign"} loads a foreign device
    int expected;
};
void PrintTo(const RegistryCase& c, std::ostream* os) {
    *os << c.name;
}

class InUseCheck : public ::testing::TestWithParam<RegistryCase> {};

TEST_P(InUseCheck, AnswersWhetherADeviceHangsFromTheCardDriver) {
    TempHost host;
    TempDir bundles;
    RecordingBackend backend;
    int foreign = 0;
    for (const auto& step : GetParam().steps) {
        if (step.front() == "foreign") {
            LoadForeignDevice(host, bundles, "com.example.foreign" + std::to_string(++foreign));
        } else if (step.front() == "kextunload") {
            std::string output;
            ASSERT_EQ(RunProgram({host.root() + "/sbin/kextunload", "-m", step.back()}, &output), 0)
                << output;
        } else {
            host.hostOk(step);
        }
    }
    SC820Controller controller;
    EXPECT_EQ(controller.canUnloadDriver(), GetParam().expected);
    EXPECT_TRUE(backend.alerts.empty());
    EXPECT_EQ(IORegistryHandlesHeld(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Registries, InUseCheck,
    ::testing::Values(
        RegistryCase{"OnlyADeviceOnAnotherController", {}, 1},
        RegistryCase{"ForeignDevicesOnly", {{"foreign"}, {"foreign"}}, 1},
        RegistryCase{"CardDeviceLast", {{"attach", "0"}}, 0},
        RegistryCase{"CardDeviceInTheMiddle", {{"attach", "9"}, {"foreign"}}, 0},
        RegistryCase{"CardDeviceAmongForeignOnes", {{"foreign"}, {"attach", "4"}, {"foreign"}}, 0},
        RegistryCase{"SeveralCardDevices", {{"attach", "0"}, {"attach", "7"}, {"attach", "15"}}, 0},
        RegistryCase{"DeviceDetachedAgain", {{"attach", "6"}, {"detach", "6"}}, 1},
        RegistryCase{"NormalDriverUnloaded", {{"kextunload", kSC820DriverBundleID}}, 1},
        // A failed name match or search leaves the answer at "may unload", with a device on
        // the card that would otherwise give 0.
        RegistryCase{"MatchingFails", {{"attach", "1"}, {"fault", "matching", "on"}}, 1},
        RegistryCase{"SearchFails", {{"attach", "1"}, {"fault", "search", "on"}}, 1}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(InUseCheckWithoutRegistry, MasterPortFaultShowsTheSlotErrorAndQuits) {
    TempHost host;
    RecordingBackend backend;
    host.hostOk({"attach", "2"});
    host.hostOk({"fault", "master-port", "on"});
    SC820Controller controller;
    EXPECT_THROW(controller.canUnloadDriver(), Terminated);
    ASSERT_EQ(backend.alerts.size(), 1u);
    EXPECT_EQ(backend.alerts[0].message, LocalizedMessage(MSG_SLOTERROR).UTF8String());
    EXPECT_EQ(backend.alerts[0].defaultButton, "OK");
    EXPECT_EQ(backend.alerts[0].alternateButton, "");
    EXPECT_EQ(backend.terminateCount, 1);
    EXPECT_EQ(IORegistryHandlesHeld(), 0u);
}

TEST(InUseCheckWithoutRegistry, MissingHostShowsTheSlotErrorAndQuits) {
    TempHost host;
    RecordingBackend backend;
    fs::remove_all(host.root());
    SC820Controller controller;
    EXPECT_THROW(controller.canUnloadDriver(), Terminated);
    ASSERT_EQ(backend.alerts.size(), 1u);
    EXPECT_EQ(backend.alerts[0].message, LocalizedMessage(MSG_SLOTERROR).UTF8String());
    EXPECT_EQ(IORegistryHandlesHeld(), 0u);
}

}  // namespace
