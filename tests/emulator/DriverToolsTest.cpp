// The driver tools: unloading, user clients, and which host they act on; the registry's device
// scans: a device belongs to the card when it hangs from the card's SCSI driver, whatever its
// target ID, and a registry opened to read refuses every change; the nesting bound checked before
// the property-list library parses a file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "common/PropertyListDepth.h"
#include "driverif/DriverNames.h"
#include "emulator/host/HostError.h"
#include "emulator/kernel/KernelCalls.h"
#include "emulator/kernel/KernelRegistry.h"
#include "emulator/tools/DefaultHost.h"
#include "tests/emulator/HostFixture.h"
#include "tests/support/NestedPlists.h"

namespace fs = std::filesystem;
using testing::HasSubstr;
using testing::Not;

namespace {

class DriverToolsTest : public HostFixture {};

// A driver with a device hanging from it is not unloaded (and nothing is logged); the card holds
// one driver at a time: the utility extension loaded while the normal driver serves the card
// stays without a service until the card is free and it is loaded again.
TEST_F(DriverToolsTest, TheCardServesOneDriverAtATimeAndAnInUseDriverStays) {
    std::filesystem::create_directory_symlink(
        std::string(SC820_BUNDLE_DIR) + "/Contents/Resources/" + kUtilityKextName,
        scratch.path() + "/utility");
    const std::string unload = std::string("/sbin/kextunload -m ") + kSC820DriverBundleID;
    const std::string normal = std::string(" ") + kSC820DriverBundleID + " (";
    // The command, its status, what it says and does not say, the utility services after it.
    const std::tuple<std::string, int, std::string, std::string, const char*> steps[] = {
        {"attach 3", 0, "", "", "0"},
        {unload, 1,
         "kextunload: com.tavik.driver.ZolSC820 is in use: a SCSI device (target 3) "
         "is attached to it\n",
         "", "0"},
        {"detach 3", 0, "", "", "0"},
        {"/sbin/kextload @utility", 0, "the card is held by another driver", "", "0"},
        {"/usr/sbin/kextstat", 0, " com.tavik.iokit.sc820utl (2.1.0)", "", "0"},
        {unload, 0, "", "", "0"},
        {"/usr/sbin/kextstat", 0, "", normal, "0"},
        {"/sbin/kextload @utility", 0, "now serves the card", "", "1"},
        {"/sbin/kextload @utility", 0, "", "now serves the card", "1"},
        // The fault registers the service twice, once however often it is switched on.
        {"fault duplicate-service on", 0, "", "", "2"},
        {"fault duplicate-service on", 0, "", "", "2"},
        {"fault duplicate-service off", 0, "", "", "1"},
    };
    for (const auto& [command, status, says, absent, services] : steps) {
        const std::string out = run(command, status, says);
        EXPECT_TRUE(absent.empty() || out.find(absent) == std::string::npos) << command;
        EXPECT_EQ(testhost::StatusFact(host, "utility-services"), services);
        EXPECT_TRUE(status == 0 || host.logLines().empty()) << command;
    }
}

// Whether a service takes user-client connections is the data of the extension that registered
// it: a personality that names a user-client class, not the service's class name.
TEST_F(DriverToolsTest, OnlyServicesWhosePersonalityNamesAUserClientTakeConnections) {
    run("/sbin/kextunload -m " + std::string(kSC820DriverBundleID), 0, "");
    for (const std::string client : {"", "<key>IOUserClientClass</key><string>C</string>"}) {
        fs::create_directories(scratch.path() + "/E.kext/Contents");
        put("E.kext/Contents/Info.plist",
            "<plist><dict><key>CFBundleIdentifier</key><string>com.example</string><key>"
            "CFBundleVersion</key><string>1</string><key>IOKitPersonalities</key><dict><key>P</key>"
            "<dict><key>IOClass</key><string>ExampleDriver</string>" +
                client + "</dict></dict></dict></plist>");
        run("/sbin/kextload @E.kext", 0, "");
        std::vector<emu::ServiceRef> found;
        emu::KernelMatchServices(host.root(), emu::MatchBy::className, "ExampleDriver", &found,
                                 nullptr);
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(emu::KernelOpenUserClient(host.root(), found[0].id, 0, nullptr),
                  client.empty() ? kIOReturnUnsupported : kIOReturnSuccess);
        run("/sbin/kextunload -m com.example", 0, "");
    }
}

// The tools find their host from the path they were started by, not from the environment; a
// relative path counts from the working directory. The property-list library is loaded by the one
// tool that reads a bundle (the dynamic loader's log names every library it loads).
TEST_F(DriverToolsTest, ToolsActOnTheirOwnHostAndOnlyKextloadLoadsThePropertyListLibrary) {
    TempHost other;  // SC820_HOST_ROOT now names this one
    const std::string shell = "cd '" + host.root() + "' && PATH=./sbin:./usr/sbin LD_DEBUG=files ";
    for (const std::string command :
         {"kextunload -m com.tavik.driver.ZolSC820", "kextstat",
          "./sbin/kextload '" SC820_BUNDLE_DIR "/Contents/Resources/ZOL_SC820_DRVR_X.kext'"}) {
        std::string out;
        EXPECT_EQ(RunProgram({"/bin/sh", "-c", shell + command}, &out), 0) << out;
        EXPECT_EQ(out.find("libplist") != std::string::npos, command[0] == '.') << command;
    }
    const std::string status = host.hostOk({"status"});
    EXPECT_THAT(status, Not(HasSubstr("extension com.tavik.driver.ZolSC820")));
    EXPECT_THAT(status, HasSubstr("extension com.tavik.iokit.sc820utl (2.1.0)"));
    EXPECT_THAT(other.hostOk({"status"}), HasSubstr("extension com.tavik.driver.ZolSC820"));
    EXPECT_THAT(other.hostOk({"status"}), Not(HasSubstr("com.tavik.iokit.sc820utl")));
}

TEST(KernelRegistryTest, DevicesAreToldApartByTheDriverTheyHangFrom) {
    // The default host has one device, target 2, on another controller; a target 0 follows it.
    emu::HostState state = emu::DefaultHostState();
    auto other = *std::find_if(state.entries.begin(), state.entries.end(),
                               [](const emu::RegistryEntry& e) { return e.target == 2; });
    other.id = state.nextEntryId++, other.target = 0;
    state.entries.push_back(other);
    emu::KernelRegistry registry(state);
    registry.attachDevice(7);
    registry.attachDevice(2);  // the other controller's device has this target too
    EXPECT_EQ(registry.cardTargets(), (std::vector<int>{2, 7}));
    EXPECT_EQ(registry.otherTargets(), (std::vector<int>{0, 2}));
    EXPECT_EQ(registry.deviceUnder({kSC820DriverClass})->target, 7);  // the first attached
    EXPECT_EQ(registry.deviceUnder({"GenericSCSIController"})->target, 2);
    EXPECT_EQ(registry.deviceUnder({"NoSuchDriver"}), nullptr);
    registry.detachDevice(2);  // the card's target 2, not the other controller's
    EXPECT_EQ(registry.cardTargets(), (std::vector<int>{7}));
    EXPECT_EQ(registry.otherTargets(), (std::vector<int>{0, 2}));
    EXPECT_THROW(registry.detachDevice(2), emu::HostError);
    const emu::HostState& view = state;
    const size_t entries = view.entries.size();
    emu::KernelRegistry reader(view);
    EXPECT_THROW(reader.attachDevice(9), emu::HostError);
    EXPECT_THROW(reader.detachDevice(7), emu::HostError);
    EXPECT_THROW(reader.setDuplicateServices(true), emu::HostError);
    EXPECT_THROW(reader.removeOwnedBy(kSC820DriverBundleID), emu::HostError);
    EXPECT_EQ(view.entries.size(), entries);
    EXPECT_EQ(reader.otherTargets(), (std::vector<int>{0, 2}));  // reading still works
}

using nested::BinaryArrays;
using nested::XmlArrays;

std::string Repeated(const std::string& text, size_t times) {
    std::string all;
    while (times-- > 0) all += text;
    return all;
}

TEST(PropertyListDepthTest, XmlCountsNestedElementsAndBinaryFollowsReferencesAndCountsCopies) {
    std::string truncated = BinaryArrays(3), badRef = BinaryArrays(2);
    truncated.erase(10, 4);  // the trailer's offsets now point past the table
    badRef[12] = 9;          // array 0 refers to object 9 of 2
    auto arrays = [](size_t n) { return Repeated("<array>", n) + Repeated("</array>", n); };
    const std::pair<std::string, bool> cases[] = {
        {XmlArrays(63), true},  // 64 levels with <plist>
        {XmlArrays(64), false},
        {XmlArrays(100000), false},
        {"<?xml version=\"1.0\"?><!DOCTYPE plist SYSTEM \"x.dtd\"><plist><dict><key>k</key><dict>"
         "<key>IOClass</key><string>c</string></dict></dict></plist>",
         true},
        // Empty elements, comments, CDATA and quoted '>' add nothing and take nothing away.
        {"<plist><array>" + Repeated("<array/><array /><true/>", 100) + "</array></plist>", true},
        {"<plist><!-- " + arrays(100) + " --></plist>", true},
        {"<plist a=\"<array>\" b='>'><string><![CDATA[</a></a><a>]]></string></plist>", true},
        // A closing tag hidden in CDATA must not let more levels in: 65 levels.
        {"<plist><array><![CDATA[</array></array>]]>" + arrays(63) + "</array></plist>", false},
        {"<plist><!-- never ends", false},
        {"<plist><array", false},
        {BinaryArrays(1), true},
        {BinaryArrays(64), true},
        {BinaryArrays(65), false},
        {BinaryArrays(500000), false},
        {BinaryArrays(19, 2), true},   // 2^19 - 1 copies
        {BinaryArrays(21, 2), false},  // 2^21 - 1 copies
        {BinaryArrays(60, 2), false},  // 2^60: shallow enough, far too many
        {BinaryArrays(3, 1, true), false},
        {BinaryArrays(1, 1, true), false},  // an array holding itself
        {truncated, false},
        {badRef, false},
        {"bplist00", false},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(sc820::PropertyListWithinDepth(cases[i].first), cases[i].second) << "case " << i;
}

}  // namespace
