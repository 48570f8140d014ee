// Start-up from the program entry to the first display, and every way it can end early.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/Messages.h"
#include "driverif/CommandCodes.h"
#include "tests/e2e/Scenario.h"

namespace {

namespace fs = std::filesystem;

bool Contains(const std::string& haystack, const std::string& needle) {
    return haystack.find(needle) != std::string::npos;
}

using Startup = Scenario;

TEST_F(Startup, CancelAtTheLastQuestionLeavesTheDriversAsTheyWere) {
    const RunResult r = run("answer 0\n");
    EXPECT_EQ(r.exitCode, 4) << r.output;  // the user declined
    EXPECT_EQ(r.alertMessages(), std::vector<std::string>{text(MSG_START)});
    EXPECT_EQ(r.lastKind(), "terminate");
    ASSERT_FALSE(r.transcript.empty());
    const auto& alert = r.transcript.front().fields;
    ASSERT_EQ(alert.size(), 6u);
    EXPECT_EQ(alert[1], text(MSG_APPNAME));
    EXPECT_EQ(alert[3], "OK");
    EXPECT_EQ(alert[4], "Cancel");
    EXPECT_EQ(alert[5], "0");
    EXPECT_TRUE(Contains(kextstat(), "com.tavik.driver.ZolSC820 ("));
    EXPECT_EQ(host.commandCounts(), (std::vector<int>{0, 0, 0, 0, 0, 0}));
    // The version was read (and logged) before the question.
    bool versionLogged = false;
    for (const auto& line : host.logLines())
        versionLogged |=
            Contains(line, "sc820-utility[") && Contains(line, "com.tavik.driver.ZolSC820 (");
    EXPECT_TRUE(versionLogged);
}

TEST_F(Startup, ReachesTheFirstDisplayWithTheCardsConfiguration) {
    const SCSIUTY_CFG before = eeprom();
    const RunResult r = run("answer 1\ndump\npress cancel\n");
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.lastKind(), "terminate");
    EXPECT_EQ(r.control("out_hostSCSIID"), std::to_string(before.HA_ScsiID));
    EXPECT_EQ(r.control("out_verPCB"), "1.20");
    EXPECT_NE(r.control("out_verSCSIBIOS"), "0");
    EXPECT_NE(r.control("out_verSCSIBIOS"), "<none>");
    EXPECT_NE(r.control("out_verConfigurateionDriver"), "---");
    EXPECT_EQ(r.control("tag:400"), std::to_string(before.DisconnectEnable[0] != 0 ? 1 : 0));
    // The drivers were swapped: the normal driver is gone, the utility's extension is loaded.
    const std::string listing = kextstat();
    EXPECT_FALSE(Contains(listing, "com.tavik.driver.ZolSC820 (")) << listing;
    EXPECT_TRUE(Contains(host.hostOk({"status"}), "utility-services 1"));
    // One read at start-up, one flash sweep for the display; Cancel stored nothing.
    const auto counts = host.commandCounts();
    EXPECT_EQ(counts[kGetEEPConfig], 1);
    EXPECT_EQ(counts[kSetEEPConfig], 0);
    EXPECT_EQ(counts[kReadFlash], 17);

    // The emulated computer restarts: the normal driver serves the card again, the utility's
    // extension is gone, and the card and the counts are as they were.
    host.hostOk({"restart"});
    EXPECT_TRUE(Contains(kextstat(), "com.tavik.driver.ZolSC820 ("));
    EXPECT_FALSE(Contains(kextstat(), "com.tavik.iokit.sc820utl ("));
    EXPECT_TRUE(Contains(host.hostOk({"status"}), "utility-services 0"));
    EXPECT_EQ(host.commandCounts(), counts);
    const SCSIUTY_CFG after = eeprom();
    EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
}

TEST_F(Startup, ADeviceOnTheCardStopsStartUpBeforeAnythingChanges) {
    host.hostOk({"attach", "3"});
    const RunResult r = run("answer 1\n");
    EXPECT_EQ(r.alertMessages(), std::vector<std::string>{text(MSG_WARN)});
    EXPECT_EQ(r.transcript.front().fields[4], "");  // no Cancel button
    EXPECT_EQ(r.lastKind(), "terminate");
    EXPECT_EQ(r.exitCode, 1);  // ended by an alert that reports a refusal
    EXPECT_TRUE(Contains(kextstat(), "com.tavik.driver.ZolSC820 ("));
    for (const auto& line : host.logLines()) EXPECT_FALSE(Contains(line, "sc820-utility[")) << line;
}

TEST_F(Startup, RegistryAndCardFailuresEndWithTheirMessage) {
    struct Case {
        const char* fault;  // null: no host at all
        const char* message;
        const char* informative;  // the key of the text beneath the message, or null
    };
    const Case cases[] = {
        {"master-port", MSG_SLOTERROR, MSG_HOSTINIT},
        {nullptr, MSG_SLOTERROR, MSG_HOSTINIT},
        {"matching", MSG_SLOTERROR, nullptr},
        {"search", MSG_SLOTERROR, nullptr},
        {"open", MSG_INITIALIZE, nullptr},
        {"refuse-0", MSG_READFAIL, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault != nullptr ? c.fault : "no host");
        host.hostOk({"init", "--force"});
        const SCSIUTY_CFG before = eeprom();
        const std::string hidden = work.path() + "/hidden-host";
        if (c.fault != nullptr) host.hostOk({"fault", c.fault, "on"});
        if (c.fault == nullptr) fs::rename(host.root(), hidden);
        const RunResult r = run("answer 1\nanswer 1\n");
        if (c.fault == nullptr) fs::rename(hidden, host.root());
        ASSERT_FALSE(r.alertMessages().empty()) << r.output;
        EXPECT_EQ(r.alertMessages().back(), text(c.message));
        EXPECT_EQ(r.informativeTexts().back(), c.informative ? text(c.informative) : "");
        EXPECT_EQ(r.lastKind(), "terminate");
        EXPECT_EQ(r.exitCode, 1);
        const SCSIUTY_CFG after = eeprom();
        EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
    }
}

TEST_F(Startup, RefusedAuthorizationGoesOnAndTheMissingServiceIsReported) {
    host.hostOk({"auth", "deny"});
    const RunResult r = run("answer 1\nanswer 1\n");
    EXPECT_EQ(r.alertMessages(), (std::vector<std::string>{text(MSG_START), text(MSG_INITIALIZE)}));
    EXPECT_EQ(r.lastKind(), "terminate");
    // Nothing could be run with privileges: no version, the drivers are unchanged.
    EXPECT_TRUE(Contains(kextstat(), "com.tavik.driver.ZolSC820 ("));
}

// When the normal driver cannot be unloaded, the utility's extension loads but the card stays
// with the normal driver: the utility reaches no card, says so, stores nothing and quits.
TEST_F(Startup, AnUnloadThatFailsLeavesTheCardToTheNormalDriver) {
    // An extension that links against the normal driver keeps it from being unloaded.
    const std::string kext = work.path() + "/Dependent.kext";
    fs::create_directories(kext + "/Contents");
    WriteFileBytes(kext + "/Contents/Info.plist",
                   "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                   "<key>CFBundleIdentifier</key><string>host.driver.dependent</string>"
                   "<key>CFBundleVersion</key><string>1.0</string>"
                   "<key>OSBundleLibraries</key><dict><key>com.tavik.driver.ZolSC820</key>"
                   "<string>3.0</string></dict></dict></plist>\n");
    std::string out;
    ASSERT_EQ(RunProgram({host.root() + "/sbin/kextload", kext}, &out), 0) << out;
    const SCSIUTY_CFG before = eeprom();
    const RunResult r = run("answer 1\nanswer 1\nclose\nanswer 1\n");
    EXPECT_EQ(r.alertMessages(), (std::vector<std::string>{text(MSG_START), text(MSG_INITIALIZE)}))
        << r.output;
    EXPECT_EQ(r.lastKind(), "terminate");
    EXPECT_TRUE(Contains(kextstat(), "com.tavik.driver.ZolSC820 ("));
    EXPECT_TRUE(Contains(kextstat(), "com.tavik.iokit.sc820utl ("));
    EXPECT_TRUE(Contains(host.hostOk({"status"}), "utility-services 0"));
    EXPECT_EQ(host.commandCounts(), (std::vector<int>{0, 0, 0, 0, 0, 0}));
    const SCSIUTY_CFG after = eeprom();
    EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
}

// The circuit-board version reads the same under every locale: a German user sees 1.20, not
// 1,20. The German locale is compiled into the test's own folder, so no system change is needed.
TEST_F(Startup, TheBoardVersionIgnoresTheNumericLocale) {
    const std::string locales = work.path() + "/locales";
    fs::create_directories(locales);
    std::string out;
    if (RunProgram({"/usr/bin/localedef", "-i", "de_DE", "-f", "UTF-8", locales + "/de_DE.UTF-8"},
                   &out) != 0 &&
        !fs::exists(locales + "/de_DE.UTF-8")) {
        GTEST_SKIP() << "cannot compile the de_DE.UTF-8 locale: " << out;
    }
    const RunResult r = run("answer 1\ndump\npress cancel\n", SC820_BUNDLE_DIR,
                            {"LOCPATH=" + locales, "LC_ALL=de_DE.UTF-8", "LANG=de_DE.UTF-8"});
    ASSERT_EQ(r.lastKind(), "terminate") << r.output;
    // The German table was in use, so the locale was.
    ASSERT_FALSE(r.alertMessages().empty());
    EXPECT_NE(r.alertMessages()[0], text(MSG_START));
    EXPECT_EQ(r.control("out_verPCB"), "1.20");
}

// The program "test" in a copied bundle, changed to print a given number of lines.
void WriteTestProgram(const std::string& bundle, int lines) {
    const std::string path = bundle + "/Contents/Resources/test";
    std::ofstream out(path, std::ios::trunc);
    out << "#!/bin/sh\n";
    for (int i = 0; i < lines; ++i) out << "echo line" << i << (i % 2 ? " >&2" : "") << "\n";
    out.close();
    fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
}

TEST_F(Startup, PathTestNeedsExactlyTenLines) {
    const std::pair<int, bool> cases[] = {{9, false}, {10, true}, {11, false}};
    for (const auto& [lines, passes] : cases) {
        SCOPED_TRACE(lines);
        const std::string bundle = copyBundle("lines" + std::to_string(lines) + "/SC820 Utility");
        WriteTestProgram(bundle, lines);
        const RunResult r = run("answer 0\n", bundle);
        ASSERT_EQ(r.alertMessages().size(), 1u) << r.output;
        EXPECT_EQ(r.alertMessages()[0], passes ? text(MSG_START) : pathMessage(bundle));
        EXPECT_EQ(r.lastKind(), "terminate");
    }
}

TEST_F(Startup, BundleFoldersThatFailOrPassThePathTest) {
    // A command smuggled in a folder name would create this file in the current directory.
    const std::string marker = (fs::current_path() / "pwned").string();
    fs::remove(marker);
    struct Case {
        std::string folder;
        bool passes;
    };
    const Case cases[] = {
        {"with space and 100% sign", true}, {"caf\xc3\xa9", false},  // outside ASCII
        {"a$(touch${IFS}pwned)b", false},                            // would run a command
        {"back`touch${IFS}pwned`q", false}, {"quote\"d", false},    {"slash\\ed", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.folder);
        const std::string bundle = copyBundle(c.folder + "/SC820 Utility");
        const RunResult r = run("answer 0\n", bundle);
        ASSERT_EQ(r.alertMessages().size(), 1u) << r.output;
        EXPECT_EQ(r.alertMessages()[0], c.passes ? text(MSG_START) : pathMessage(bundle));
        EXPECT_FALSE(fs::exists(marker));
    }
}

TEST_F(Startup, AVeryLongBundlePathFailsThePathTest) {
    std::string folder;
    for (int i = 0; i < 5; ++i) folder += std::string(200, 'a' + i) + "/";
    const std::string bundle = copyBundle(folder + "SC820 Utility");
    const RunResult r = run("answer 0\n", bundle);
    EXPECT_EQ(r.alertMessages(), std::vector<std::string>{pathMessage(bundle)});
}

TEST_F(Startup, MissingOrBrokenResources) {
    const std::string noTest = copyBundle("notest/SC820 Utility");
    fs::remove(noTest + "/Contents/Resources/test");
    RunResult r = run("answer 0\n", noTest);
    EXPECT_EQ(r.alertMessages(), std::vector<std::string>{pathMessage(noTest)});

    // Without the string table every text shows its key.
    const std::string noStrings = copyBundle("nostrings/SC820 Utility");
    fs::remove_all(noStrings + "/Contents/Resources/translations");
    r = run("answer 0\n", noStrings);
    ASSERT_EQ(r.transcript.size(), 2u) << r.output;
    EXPECT_EQ(r.transcript[0].fields[1], "MSG_APPNAME");
    EXPECT_EQ(r.transcript[0].fields[2], "MSG_START");
}

TEST_F(Startup, WithoutADisplayItSaysSoAndStops) {
    // No display at all, and a display that names an X server nobody runs.
    const std::vector<std::vector<std::string>> environments = {
        {"/usr/bin/env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM"},
        {"/usr/bin/env", "-u", "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM", "DISPLAY=:97"},
    };
    for (auto argv : environments) {
        argv.push_back(SC820_UTILITY_BINARY);
        std::string out;
        const int rc = RunProgram(argv, &out);
        EXPECT_EQ(rc, 1) << out;
        EXPECT_TRUE(Contains(out, "display")) << out;
        EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    }
}

}  // namespace
