// The driver tools: their listings, unloading, and which host they act on.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>

#include "driverif/DriverNames.h"
#include "emulator/kernel/KernelCalls.h"
#include "tests/emulator/HostFixture.h"

using testhost::RunTool;
using testing::HasSubstr;
using testing::Not;

namespace {

class DriverToolsTest : public HostFixture {
protected:
    std::string listing(const char* tool = "kextstat") {
        return run(std::string("/usr/sbin/") + tool, 0, "");
    }
};

// Every line has its shape, every reference count matches the links against the extension, and
// links point to extensions listed before; kmodstat lists the same without the links.
TEST_F(DriverToolsTest, ListingsShowEachExtensionWithLinksAndReferenceCounts) {
    static const std::regex shape(
        R"(^ *(\d+) +(\d+) 0x[0-9a-f]+ +0x[0-9a-f]+ +0x[0-9a-f]+ +(\S+) \(([^()]*)\)(?: <([0-9 ]+)>)?$)");
    const std::string kextstat = listing();
    std::istringstream in(kextstat);
    std::string header;
    std::getline(in, header);
    EXPECT_EQ(header.rfind("Index Refs Address", 0), 0u) << header;
    EXPECT_THAT(header, HasSubstr("<Linked Against>"));
    std::map<int, int> refs, counted;
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, shape)) << line;
        int index = std::stoi(m[1]);
        refs[index] = std::stoi(m[2]);
        counted[index] += 0;
        std::istringstream links(m[5].str());
        for (int link; links >> link; ++counted[link])
            EXPECT_TRUE(refs.count(link) && link < index) << index << " links against " << link;
    }
    EXPECT_EQ(refs.size(), 8u);
    EXPECT_EQ(refs, counted);
    EXPECT_THAT(kextstat, HasSubstr(" com.tavik.driver.ZolSC820 (3.1.4) <"));
    std::filesystem::create_symlink(SC820_HOST_BINARY, host.root() + "/usr/sbin/kmodstat");
    EXPECT_EQ(listing("kmodstat"), std::regex_replace(kextstat, std::regex(" <[^>]*>"), ""));
}

struct Step {
    std::string command;
    int status;
    std::string says, absent;
    const char* utilityServices;
};

// A driver with a device hanging from it is not unloaded (and nothing is logged); the card holds
// one driver at a time: the utility extension loaded while the normal driver serves the card
// stays without a service until the card is free and it is loaded again.
TEST_F(DriverToolsTest, TheCardServesOneDriverAtATimeAndAnInUseDriverStays) {
    std::filesystem::create_directory_symlink(
        std::string(SC820_BUNDLE_DIR) + "/Contents/Resources/" + kUtilityKextName,
        scratch.path() + "/utility");
    const std::string unload = std::string("/sbin/kextunload -m ") + kSC820DriverBundleID;
    const std::string normal = std::string(" ") + kSC820DriverBundleID + " (";
    const Step steps[] = {
        {"attach 3", 0, "", "", "0"},
        {unload, 1,
         "kextunload: com.tavik.driver.ZolSC820 is in use: a SCSI device (target 3) is attached "
         "to it\n",
         "", "0"},
        {"/usr/sbin/kextstat", 0, normal, "", "0"},
        {"detach 3", 0, "", "", "0"},
        {"/sbin/kextload @utility", 0, "the card is held by another driver", "", "0"},
        {"/usr/sbin/kextstat", 0, " com.tavik.iokit.sc820utl (2.1.0)", "", "0"},
        {unload, 0, "", "", "0"},
        {"/usr/sbin/kextstat", 0, "", normal, "0"},
        {"/sbin/kextload @utility", 0, "now serves the card", "", "1"},
        {"/sbin/kextload @utility", 0, "", "now serves the card", "1"},
    };
    for (const Step& step : steps) {
        const std::string out = run(step.command, step.status, step.says);
        if (!step.absent.empty()) {
            EXPECT_THAT(out, Not(HasSubstr(step.absent))) << step.command;
        }
        EXPECT_EQ(testhost::StatusFact(host, "utility-services"), step.utilityServices);
        if (step.status == 1) {
            EXPECT_TRUE(host.logLines().empty()) << step.command;
            EXPECT_EQ(testhost::StatusFact(host, "card-targets"), "3");
        }
    }
}

// Whether a service takes user-client connections is the data of the extension that registered
// it: a personality that names a user-client class, not the service's class name.
TEST_F(DriverToolsTest, OnlyServicesWhosePersonalityNamesAUserClientTakeConnections) {
    ASSERT_EQ(RunTool(host, "kextunload", {"-m", kSC820DriverBundleID}), 0);
    for (bool withUserClient : {false, true}) {
        SCOPED_TRACE(withUserClient);
        const std::string kext = scratch.path() + (withUserClient ? "/With.kext" : "/Without.kext");
        std::filesystem::create_directories(kext + "/Contents");
        WriteFileBytes(
            kext + "/Contents/Info.plist",
            std::string("<plist><dict><key>CFBundleIdentifier</key><string>com.example.") +
                (withUserClient ? "with" : "without") +
                "</string><key>CFBundleVersion</key><string>1</string>"
                "<key>IOKitPersonalities</key><dict><key>P</key><dict>"
                "<key>IOClass</key><string>ExampleDriver</string>" +
                (withUserClient ? "<key>IOUserClientClass</key><string>ExampleClient</string>"
                                : "") +
                "</dict></dict></dict></plist>");
        ASSERT_EQ(RunTool(host, "kextload", {kext}), 0);
        std::vector<emu::ServiceRef> found;
        ASSERT_EQ(emu::KernelMatchServices(host.root(), emu::MatchBy::className, "ExampleDriver",
                                           &found, nullptr),
                  kIOReturnSuccess);
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(emu::KernelOpenUserClient(host.root(), found[0].id, 0, nullptr),
                  withUserClient ? kIOReturnSuccess : kIOReturnUnsupported);
        ASSERT_EQ(RunTool(host, "kextunload",
                          {"-m", withUserClient ? "com.example.with" : "com.example.without"}),
                  0);
    }
}

// The tools find their host from the path they were started by, not from the environment.
TEST_F(DriverToolsTest, ToolsStartedFromAShellActOnTheirOwnHost) {
    TempHost other;  // SC820_HOST_ROOT now names this one
    std::string path = "PATH=" + host.root() + "/sbin:" + host.root() + "/usr/sbin:/usr/bin:/bin";
    std::string out;
    int rc = RunProgram(
        {"/usr/bin/env", "-u", "SC820_HOST_ROOT", "HOME=" + scratch.path(), path, "/bin/sh", "-c",
         "kextunload -m com.tavik.driver.ZolSC820 2>/dev/null && kextstat"},
        &out);
    EXPECT_EQ(rc, 0) << out;
    EXPECT_THAT(out, Not(HasSubstr("com.tavik.driver.ZolSC820 (")));
    EXPECT_THAT(host.hostOk({"status"}), Not(HasSubstr("extension com.tavik.driver.ZolSC820")));
    EXPECT_THAT(other.hostOk({"status"}), HasSubstr("extension com.tavik.driver.ZolSC820"));

    // A relative path counts from the working directory; SC820_HOST_ROOT names the other host.
    std::string kext = std::string(SC820_BUNDLE_DIR) + "/Contents/Resources/ZOL_SC820_DRVR_X.kext";
    rc = RunProgram({"/bin/sh", "-c", "cd '" + host.root() + "' && ./sbin/kextload '" + kext + "'"},
                    &out);
    EXPECT_EQ(rc, 0) << out;
    EXPECT_THAT(host.hostOk({"status"}), HasSubstr("extension com.tavik.iokit.sc820utl (2.1.0)"));
    EXPECT_THAT(other.hostOk({"status"}), Not(HasSubstr("com.tavik.iokit.sc820utl")));
}

// The property-list library is loaded by the one tool that reads a bundle, when it reads it:
// the others start without it (the dynamic loader's log names every library it loads).
TEST_F(DriverToolsTest, OnlyKextloadLoadsThePropertyListLibrary) {
    std::string kext = std::string(SC820_BUNDLE_DIR) + "/Contents/Resources/ZOL_SC820_DRVR_X.kext";
    struct Case {
        std::vector<std::string> command;
        bool loadsLibrary;
    };
    const Case cases[] = {
        {{host.root() + "/usr/sbin/kextstat"}, false},
        {{host.root() + "/sbin/kextunload", "-m", "com.tavik.driver.ZolSC820"}, false},
        {{host.root() + "/sbin/kextload", kext}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command.front());
        std::vector<std::string> argv = {"/usr/bin/env", "LD_DEBUG=files"};
        argv.insert(argv.end(), c.command.begin(), c.command.end());
        std::string out;
        ASSERT_EQ(RunProgram(argv, &out), 0) << out;
        EXPECT_EQ(out.find("libplist") != std::string::npos, c.loadsLibrary) << out;
    }
    EXPECT_THAT(host.hostOk({"status"}), HasSubstr("extension com.tavik.iokit.sc820utl (2.1.0)"));
}

}  // namespace
