// The driver tools: their listings, loading and unloading, and which host they act on.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "card/DriverNames.h"
#include "emulator/DriverTools.h"
#include "tests/emulator/EmulatedHost.h"
#include "tests/support/TempHost.h"

using testhost::RunTool;
using testhost::StatusFact;
using testing::HasSubstr;
using testing::Not;

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

struct ListedExtension {
    int index;
    int refs;
    std::string identifier;
    std::string version;
    std::vector<int> linked;
};

// Parses a listing line by line; fails the test on a line of the wrong shape.
std::vector<ListedExtension> ParseListing(const std::string& text, bool withLinked) {
    static const std::regex kextstat(
        R"(^ *(\d+) +(\d+) 0x[0-9a-f]+ +0x[0-9a-f]+ +0x[0-9a-f]+ +(\S+) \(([^()]*)\)(?: <([0-9 ]+)>)?$)");
    static const std::regex kmodstat(
        R"(^ *(\d+) +(\d+) 0x[0-9a-f]+ +0x[0-9a-f]+ +0x[0-9a-f]+ +(\S+) \(([^()]*)\)$)");
    std::vector<std::string> lines = Lines(text);
    std::vector<ListedExtension> listed;
    if (lines.empty()) {
        ADD_FAILURE() << "empty listing";
        return listed;
    }
    EXPECT_EQ(lines[0].rfind("Index Refs Address", 0), 0u) << lines[0];
    EXPECT_EQ(lines[0].find("<Linked Against>") != std::string::npos, withLinked) << lines[0];
    for (size_t i = 1; i < lines.size(); ++i) {
        std::smatch m;
        if (!std::regex_match(lines[i], m, withLinked ? kextstat : kmodstat)) {
            ADD_FAILURE() << "bad listing line: " << lines[i];
            continue;
        }
        ListedExtension e{std::stoi(m[1]), std::stoi(m[2]), m[3], m[4], {}};
        if (withLinked && m[5].matched) {
            std::istringstream links(m[5].str());
            int index;
            while (links >> index) e.linked.push_back(index);
        }
        listed.push_back(e);
    }
    return listed;
}

const ListedExtension* Find(const std::vector<ListedExtension>& listed,
                            const std::string& identifier) {
    for (const auto& e : listed) {
        if (e.identifier == identifier) return &e;
    }
    return nullptr;
}

class DriverToolsTest : public testing::Test {
protected:
    std::string listing(const char* tool = "kextstat") {
        std::string out;
        EXPECT_EQ(RunTool(host, tool, {}, &out), 0) << out;
        return out;
    }
    TempHost host;
    TempDir scratch;
};

TEST_F(DriverToolsTest, KextstatListsEveryExtensionWithItsLinksAndReferenceCounts) {
    std::vector<ListedExtension> listed = ParseListing(listing(), true);
    const ListedExtension* driver = Find(listed, kSC820DriverBundleID);
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(driver->version, "3.1.4");
    EXPECT_FALSE(driver->linked.empty());
    for (const auto& e : listed) {
        int refs = 0;
        for (const auto& other : listed)
            refs += static_cast<int>(std::count(other.linked.begin(), other.linked.end(), e.index));
        EXPECT_EQ(e.refs, refs) << e.identifier;
        for (int link : e.linked) {
            bool listedBefore = std::any_of(
                listed.begin(), listed.end(),
                [&](const ListedExtension& x) { return x.index == link && link < e.index; });
            EXPECT_TRUE(listedBefore) << e.identifier << " links against " << link;
        }
    }
    EXPECT_THAT(listing(), HasSubstr(" com.tavik.driver.ZolSC820 (3.1.4) <"));
}

TEST_F(DriverToolsTest, KmodstatListsTheSameWithoutLinks) {
    std::filesystem::create_symlink(SC820_HOST_BINARY, host.root() + "/usr/sbin/kmodstat");
    std::vector<ListedExtension> withLinks = ParseListing(listing("kextstat"), true);
    std::vector<ListedExtension> without = ParseListing(listing("kmodstat"), false);
    ASSERT_EQ(without.size(), withLinks.size());
    for (size_t i = 0; i < without.size(); ++i) {
        EXPECT_EQ(without[i].identifier, withLinks[i].identifier);
        EXPECT_EQ(without[i].version, withLinks[i].version);
        EXPECT_EQ(without[i].index, withLinks[i].index);
    }
}

TEST_F(DriverToolsTest, LoadRegistersTheClassesAndUnloadRemovesThem) {
    std::string kext = testhost::WriteKext(scratch.path(), "Two.kext", "com.example.two", "1.2",
                                           {"ClassA", "ClassB"});
    std::string out;
    ASSERT_EQ(RunTool(host, "kextload", {kext}, &out), 0) << out;
    EXPECT_THAT(out, HasSubstr("kextload: " + kext + " loaded as com.example.two (1.2)"));
    const std::vector<ListedExtension> listed = ParseListing(listing(), true);
    const ListedExtension* loaded = Find(listed, "com.example.two");
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->version, "1.2");

    ASSERT_EQ(RunTool(host, "kextunload", {"-m", "com.example.two"}, &out), 0) << out;
    EXPECT_THAT(out, HasSubstr("kextunload: com.example.two unloaded\n"));
    EXPECT_EQ(Find(ParseListing(listing(), true), "com.example.two"), nullptr);

    std::vector<std::string> log = host.logLines();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_THAT(log[0], HasSubstr(" kernel["));
    EXPECT_THAT(log[0], HasSubstr("]: kext com.example.two (1.2) loaded from " + kext));
    EXPECT_THAT(log[1], HasSubstr("]: kext com.example.two (1.2) unloaded"));
}

TEST_F(DriverToolsTest, TheUtilityClassIsRegisteredOnceOrTwiceWithTheFault) {
    testhost::SwapInUtilityDriver(host, scratch.path());
    EXPECT_EQ(StatusFact(host, "utility-services"), "1");
    host.hostOk({"fault", "duplicate-service", "on"});
    EXPECT_EQ(StatusFact(host, "utility-services"), "2");
    host.hostOk({"fault", "duplicate-service", "off"});
    EXPECT_EQ(StatusFact(host, "utility-services"), "1");
    // Loaded while the fault is on: registered twice at once.
    host.hostOk({"fault", "duplicate-service", "on"});
    ASSERT_EQ(RunTool(host, "kextunload", {"-m", testhost::kUtilityKextID}), 0);
    EXPECT_EQ(StatusFact(host, "utility-services"), "0");
    std::string kext = scratch.path() + "/Utility.kext";
    ASSERT_EQ(RunTool(host, "kextload", {kext}), 0);
    EXPECT_EQ(StatusFact(host, "utility-services"), "2");
}

TEST_F(DriverToolsTest, LoadingWhatIsLoadedChangesNothing) {
    std::string kext = testhost::WriteKext(scratch.path(), "Again.kext", kSC820DriverBundleID,
                                           "9.9", {"ZolSC820"});
    std::string before = host.hostOk({"status"});
    std::string out;
    EXPECT_EQ(RunTool(host, "kextload", {kext}, &out), 0);
    EXPECT_EQ(out, "kextload: com.tavik.driver.ZolSC820 (3.1.4) is already loaded\n");
    EXPECT_EQ(host.hostOk({"status"}), before);
    EXPECT_TRUE(host.logLines().empty());
}

TEST_F(DriverToolsTest, UnloadIsRefusedWhileADeviceHangsFromTheDriver) {
    host.hostOk({"attach", "3"});
    std::string out;
    EXPECT_EQ(RunTool(host, "kextunload", {"-m", kSC820DriverBundleID}, &out), 1);
    EXPECT_EQ(out,
              "kextunload: com.tavik.driver.ZolSC820 is in use: a SCSI device (target 3) is "
              "attached to it\n");
    EXPECT_NE(Find(ParseListing(listing(), true), kSC820DriverBundleID), nullptr);
    EXPECT_EQ(StatusFact(host, "card-targets"), "3");
    EXPECT_TRUE(host.logLines().empty());

    host.hostOk({"detach", "3"});
    EXPECT_EQ(RunTool(host, "kextunload", {"-m", kSC820DriverBundleID}, &out), 0) << out;
    EXPECT_EQ(Find(ParseListing(listing(), true), kSC820DriverBundleID), nullptr);
}

struct ToolFailure {
    const char* tool;
    std::vector<std::string> args;
    std::string message;
};

TEST_F(DriverToolsTest, FailuresAreOneLineAndExit1) {
    std::string noPlist = scratch.path() + "/Empty.kext";
    std::filesystem::create_directories(noPlist + "/Contents");
    std::string garbage = scratch.path() + "/Garbage.kext";
    std::filesystem::create_directories(garbage + "/Contents");
    WriteFileBytes(garbage + "/Contents/Info.plist", "<plist><dict><key>oops");
    std::string noId = scratch.path() + "/NoId.kext";
    std::filesystem::create_directories(noId + "/Contents");
    WriteFileBytes(
        noId + "/Contents/Info.plist",
        "<plist version=\"1.0\"><dict><key>CFBundleVersion</key><string>1</string></dict></plist>");
    const std::vector<ToolFailure> cases = {
        {"kextload", {noPlist}, noPlist + "/Contents/Info.plist: no such file"},
        {"kextload", {garbage}, garbage + "/Contents/Info.plist: not a property list dictionary"},
        {"kextload", {noId}, "no CFBundleIdentifier string"},
        {"kextload", {}, "usage: kextload BUNDLE"},
        {"kextunload", {"-m", "com.example.absent"}, "com.example.absent is not loaded"},
        {"kextunload", {"com.tavik.driver.ZolSC820"}, "usage: kextunload -m BUNDLE_ID"},
        {"kextunload",
         {"-m", "host.kernel.iokit"},
         "host.kernel.iokit is in use: other extensions link against it"},
        {"kextstat", {"-l"}, "usage: kextstat"},
    };
    std::string before = host.hostOk({"status"});
    for (const auto& c : cases) {
        std::string out;
        EXPECT_EQ(RunTool(host, c.tool, c.args, &out), 1) << c.message;
        EXPECT_THAT(out, HasSubstr(c.message));
        EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    }
    EXPECT_EQ(host.hostOk({"status"}), before);
}

// The tools find their host from the path they were started by, not from the environment.
TEST_F(DriverToolsTest, ToolsStartedFromAShellActOnTheirOwnHost) {
    TempHost other;  // SC820_HOST_ROOT now names this one
    TempDir home;
    std::string path = "PATH=" + host.root() + "/sbin:" + host.root() + "/usr/sbin:/usr/bin:/bin";
    std::string out;
    int rc =
        RunProgram({"/usr/bin/env", "-u", "SC820_HOST_ROOT", "HOME=" + home.path(), path, "/bin/sh",
                    "-c", "kextunload -m com.tavik.driver.ZolSC820 2>/dev/null && kextstat"},
                   &out);
    EXPECT_EQ(rc, 0) << out;
    EXPECT_THAT(out, Not(HasSubstr("com.tavik.driver.ZolSC820 (")));
    EXPECT_THAT(host.hostOk({"status"}), Not(HasSubstr("extension com.tavik.driver.ZolSC820")));
    EXPECT_THAT(other.hostOk({"status"}), HasSubstr("extension com.tavik.driver.ZolSC820"));

    // A relative path counts from the working directory; SC820_HOST_ROOT names the other host.
    std::string kext = testhost::WriteKext(scratch.path(), "Rel.kext", "com.example.rel", "1", {});
    rc = RunProgram({"/bin/sh", "-c", "cd '" + host.root() + "' && ./sbin/kextload '" + kext + "'"},
                    &out);
    EXPECT_EQ(rc, 0) << out;
    EXPECT_THAT(host.hostOk({"status"}), HasSubstr("extension com.example.rel (1)"));
    EXPECT_THAT(other.hostOk({"status"}), Not(HasSubstr("com.example.rel")));
}

TEST_F(DriverToolsTest, AToolOutsideAHostSaysSo) {
    std::string link = scratch.path() + "/kextstat";
    std::filesystem::create_symlink(SC820_HOST_BINARY, link);
    std::string out;
    EXPECT_EQ(RunProgram({link}, &out), 1);
    EXPECT_THAT(out, HasSubstr("is not a tool inside an emulated host"));
}

struct RootCase {
    std::string execPath;
    std::string tool;
    std::string cwd;
    std::optional<std::string> root;
};

TEST(ToolHostRootTest, StripsTheToolsFolderWithoutFollowingLinks) {
    const std::vector<RootCase> cases = {
        {"/h/sbin/kextload", "kextload", "/", "/h"},
        {"/h/sbin/kextunload", "kextunload", "/x", "/h"},
        {"/h/usr/sbin/kextstat", "kextstat", "/", "/h"},
        {"/h/usr/sbin/kmodstat", "kmodstat", "/", "/h"},
        {"sbin/kextload", "kextload", "/h", "/h"},
        {"./usr/sbin/kextstat", "kextstat", "/h", "/h"},
        {"kextstat", "kextstat", "/h/usr/sbin", "/h"},
        {"/h/sbin/../sbin/kextload", "kextload", "/", "/h"},
        {"/a b/sbin/kextload", "kextload", "/", "/a b"},
        {"/h/bin/kextload", "kextload", "/", std::nullopt},
        {"/h/kextload", "kextload", "/", std::nullopt},
        {"/h/usr/bin/kextstat", "kextstat", "/", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(emu::ToolHostRoot(c.execPath, c.tool, c.cwd), c.root) << c.execPath;
}

TEST(ToolHostRootTest, AToolInTheOtherFolderStillFindsTheHostThatExists) {
    TempHost host;
    EXPECT_EQ(emu::ToolHostRoot(host.root() + "/usr/sbin/kextload", "kextload", "/"), host.root());
    EXPECT_EQ(emu::ToolHostRoot(host.root() + "/sbin/kextstat", "kextstat", "/"), host.root());
}

}  // namespace
