// Start-up from the program entry to the first display, and every way it ends early; and the
// script lines and answers the automation refuses.
#include <filesystem>
#include <fstream>

#include "app/Messages.h"
#include "driverif/CommandCodes.h"
#include "tests/e2e/Scenario.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using Startup = Scenario;

const std::string kNormal = "com.tavik.driver.ZolSC820 (";
const std::vector<int> kNoCommand(6, 0);

// Nothing changed: the normal driver serves the card, which was sent no command.
void Untouched(Scenario& s, const RunResult& r) {
    EXPECT_EQ(r.lastKind(), "terminate");
    EXPECT_TRUE(Contains(s.kextstat(), kNormal));
    EXPECT_EQ(s.host.commandCounts(), kNoCommand);
}

// The program "test" of a copied bundle, changed to print a given number of lines.
std::function<void(Scenario&)> TestPrinting(int lines) {
    return [lines](Scenario& s) {
        const std::string path = s.copyBundle("lines" + std::to_string(lines) + "/SC820 Utility") +
                                 "/Contents/Resources/test";
        std::ofstream out(path, std::ios::trunc);
        out << "#!/bin/sh\n";
        for (int i = 0; i < lines; ++i) out << "echo line" << i << (i % 2 ? " >&2" : "") << "\n";
    };
}

// A bundle in a folder whose path fails the path test: its alert, answered, ends the program.
Row PathFails(const std::string& name, std::function<void(Scenario&)> setUp) {
    return {name, "answer 1\n", {MSG_PATHERROR}, 1, setUp, [](Scenario& s, const RunResult& r) {
                EXPECT_FALSE(fs::exists(fs::current_path() / "pwned"));
                Untouched(s, r);
            }};
}

Row PathPasses(const std::string& name, std::function<void(Scenario&)> setUp) {
    return {name, "answer 0\n", {MSG_START}, 4, setUp, Untouched};
}

std::function<void(Scenario&)> Folder(const std::string& folder) {
    return [folder](Scenario& s) { s.copyBundle(folder + "/SC820 Utility"); };
}

Row Fault(const char* fault, std::vector<std::string> alerts, const char* informative) {
    return {{fault, "answer 1\nanswer 1\n", alerts, 1},
            [fault](Scenario& s) {
                s.host.hostOk({"fault", fault, "on"});
            },
            [informative](Scenario& s, const RunResult& r) {
                EXPECT_EQ(r.informativeTexts().back(), informative ? s.text(informative) : "");
                EXPECT_EQ(r.lastKind(), "terminate");
            }};
}

TEST_F(Startup, EndsAndFirstDisplay) {
    std::string longFolder;
    for (int i = 0; i < 5; ++i)
        longFolder += std::string(i > 0 ? "/" : "") + std::string(200, 'a' + i);
    const std::string script = "answer 1\nanswer 1\nclose\nanswer 1\n";
    runTable({
        // First, so that the system log holds no earlier run's lines.
        {{"a device on the card", "answer 1\n", {MSG_WARN}, 1},
         HostDoes({"attach", "3"}),
         [](Scenario& s, const RunResult& r) {
             Untouched(s, r);
             EXPECT_EQ(r.transcript.front().fields[4], "");  // no Cancel button
             for (const auto& line : s.host.logLines())
                 EXPECT_FALSE(Contains(line, "sc820-utility[")) << line;
         }},
        {{"cancel at the last question", "answer 0\n", {MSG_START}, 4},
         {},
         [](Scenario& s, const RunResult& r) {
             Untouched(s, r);
             const auto& alert = r.transcript.front().fields;
             EXPECT_EQ(alert, (std::vector<std::string>{"alert", s.text(MSG_APPNAME),
                                                        s.text(MSG_START), "OK", "Cancel", "0"}));
             // The version was read (and logged) before the question.
             bool logged = false;
             for (const auto& line : s.host.logLines())
                 logged |= Contains(line, "sc820-utility[") && Contains(line, kNormal);
             EXPECT_TRUE(logged);
         }},
        {{"first display, then the computer restarts",
          "answer 1\ndump\npress cancel\n",
          {MSG_START}},
         {},
         [](Scenario& s, const RunResult& r) {
             EXPECT_EQ(r.lastKind(), "terminate");
             EXPECT_EQ(r.control("out_hostSCSIID"), "7");
             EXPECT_EQ(r.control("out_verPCB"), "1.20");
             EXPECT_EQ(r.control("out_verSCSIBIOS"), "3.1.4");
             EXPECT_EQ(r.control("out_verConfigurateionDriver"), "2.1.0");
             EXPECT_EQ(r.control("tag:400"), "1");
             EXPECT_FALSE(Contains(s.kextstat(), kNormal));
             EXPECT_TRUE(Contains(s.host.hostOk({"status"}), "utility-services 1"));
             // One read at start-up, one flash sweep for the display; Cancel stores nothing
             // and keeps the rights to the end.
             EXPECT_EQ(s.host.commandCounts(), (std::vector<int>{1, 0, 0, 0, 17, 0}));
             EXPECT_FALSE(r.has("rights-freed"));
             s.host.hostOk({"restart"});
             EXPECT_TRUE(Contains(s.kextstat(), kNormal));
             EXPECT_FALSE(Contains(s.kextstat(), "com.tavik.iokit.sc820utl ("));
             EXPECT_TRUE(Contains(s.host.hostOk({"status"}), "utility-services 0"));
             EXPECT_EQ(s.host.commandCounts(), (std::vector<int>{1, 0, 0, 0, 17, 0}));
         }},
        Fault("master-port", {MSG_SLOTERROR}, MSG_HOSTINIT),
        Fault("matching", {MSG_START, MSG_SLOTERROR}, nullptr),
        Fault("search", {MSG_START, MSG_SLOTERROR}, nullptr),
        Fault("open", {MSG_START, MSG_INITIALIZE}, nullptr),
        Fault("refuse-0", {MSG_START, MSG_READFAIL}, nullptr),
        {{"no host at all", "answer 1\n", {MSG_SLOTERROR}, 1},
         [](Scenario& s) { fs::rename(s.host.root(), s.work.path() + "/hidden"); },
         [](Scenario& s, const RunResult& r) {
             fs::rename(s.work.path() + "/hidden", s.host.root());
             EXPECT_EQ(r.informativeTexts().back(), s.text(MSG_HOSTINIT));
         }},
        {{"authorization refused", "answer 1\nanswer 1\n", {MSG_START, MSG_INITIALIZE}, 1},
         HostDoes({"auth", "deny"}),
         Untouched},
        // An extension that links against the normal driver keeps it from being unloaded: the
        // utility's extension loads, but the card stays with the normal driver.
        {{"the unload fails", script, {MSG_START, MSG_INITIALIZE}, 1},
         [](Scenario& s) {
             const std::string kext = s.work.path() + "/Dependent.kext";
             fs::create_directories(kext + "/Contents");
             WriteFileBytes(kext + "/Contents/Info.plist",
                            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">"
                            "<dict><key>CFBundleIdentifier</key><string>host.driver.dependent"
                            "</string><key>CFBundleVersion</key><string>1.0</string>"
                            "<key>OSBundleLibraries</key><dict><key>com.tavik.driver.ZolSC820"
                            "</key><string>3.0</string></dict></dict></plist>\n");
             std::string out;
             ASSERT_EQ(RunProgram({s.host.root() + "/sbin/kextload", kext}, &out), 0) << out;
         },
         [](Scenario& s, const RunResult& r) {
             Untouched(s, r);
             EXPECT_TRUE(Contains(s.kextstat(), "com.tavik.iokit.sc820utl ("));
             EXPECT_TRUE(Contains(s.host.hostOk({"status"}), "utility-services 0"));
         }},
        // The German table is in use, and the board version still reads 1.20, not 1,20. The
        // locale is compiled into the test's own folder.
        {"German locale",
         "answer 1\ndump\npress cancel\n",
         {"Das Programm entlädt jetzt den SCSI-Treiber der Karte und lädt seinen eigenen "
          "Treiber, um auf die Karte zuzugreifen. SCSI-Geräte an der Karte bleiben bis zum "
          "Neustart des Computers nicht verfügbar.\n\nFortfahren?"},
         0,
         [](Scenario& s) {
             // Compiled once into the build folder, and put in place whole, for later runs.
             const std::string locales = fs::path(SC820_BUNDLE_DIR).parent_path() / "locales";
             const std::string made = s.work.path() + "/de_DE.UTF-8";
             std::string out;
             if (!fs::exists(locales + "/de_DE.UTF-8")) {
                 RunProgram({"/usr/bin/localedef", "-i", "de_DE", "-f", "UTF-8", made}, &out);
                 fs::create_directories(locales);
                 std::error_code ignored;  // another run may have put it in place meanwhile
                 fs::rename(made, locales + "/de_DE.UTF-8", ignored);
             }
             if (!fs::exists(locales + "/de_DE.UTF-8")) s.skip = "no de_DE.UTF-8 locale: " + out;
             s.env = {"LOCPATH=" + locales, "LC_ALL=de_DE.UTF-8", "LANG=de_DE.UTF-8"};
         },
         [](Scenario&, const RunResult& r) { EXPECT_EQ(r.control("out_verPCB"), "1.20"); }},
        PathFails("test prints 9 lines", TestPrinting(9)),
        PathPasses("test prints 10 lines", TestPrinting(10)),
        PathFails("test prints 11 lines", TestPrinting(11)),
        PathPasses("space and percent sign", Folder("with space and 100% sign")),
        PathFails("outside ASCII", Folder("caf\xc3\xa9")),
        // A command smuggled in a folder name would create "pwned" in the current directory.
        PathFails("$()", Folder("a$(touch${IFS}pwned)b")),
        PathFails("backquotes", Folder("back`touch${IFS}pwned`q")),
        PathFails("quote", Folder("quote\"d")),
        PathFails("backslash", Folder("slash\\ed")),
        PathFails("very long path", Folder(longFolder)),
        PathFails("no test program",
                  [](Scenario& s) {
                      fs::remove(s.copyBundle("notest/SC820 Utility") + "/Contents/Resources/test");
                  }),
        // Without the string table every text shows its key.
        {{"no string table", "answer 0\n", {"=MSG_START"}, 4},
         [](Scenario& s) {
             fs::remove_all(s.copyBundle("nostrings/SC820 Utility") +
                            "/Contents/Resources/translations");
         },
         [](Scenario&, const RunResult& r) {
             EXPECT_EQ(r.transcript[0].fields[1], "MSG_APPNAME");
         }},
        // An answer that the alert's buttons cannot give, and lines that are no step, end the
        // run with an error line and status 3.
        {{"OK-only alert answered 0", "answer 1\nanswer 0\n", {MSG_START}, 3},
         HostDoes({"fault", "open", "on"}),
         [](Scenario& s, const RunResult& r) {
             EXPECT_EQ(r.lastKind(), "error");
             EXPECT_EQ(r.transcript.back().fields[1],
                       "line 2 (answer 0): no button of the alert gives this answer: " +
                           s.text(MSG_INITIALIZE));
         }},
        {{"OK-Cancel alert answered -1", "answer -1\n", {}, 3},
         {},
         [](Scenario& s, const RunResult& r) {
             ASSERT_EQ(r.transcript.size(), 1u);
             EXPECT_TRUE(Contains(r.transcript[0].fields[1], "line 1 (answer -1): no button"));
             EXPECT_TRUE(Contains(s.kextstat(), kNormal));
             EXPECT_EQ(s.host.commandCounts(), kNoCommand);
         }},
    });
    for (const std::string& line : {"\v"s, "\f"s, "answer\v1"s, "answer 1\0"s, "\0"s}) {
        SCOPED_TRACE(testing::PrintToString(line));
        const RunResult r = run("answer 1\n" + line + "\n");
        EXPECT_EQ(r.exitCode, 3) << r.output;
        ASSERT_EQ(r.transcript.size(), 1u) << r.output;
        EXPECT_EQ(r.transcript[0].fields[0], "error");
        EXPECT_TRUE(Contains(r.transcript[0].fields.at(1), "line 2"));
    }
    EXPECT_EQ(host.commandCounts(), kNoCommand);
}

TEST_F(Startup, WithoutADisplayItSaysSoAndStops) {
    if (RunsInTerminal()) GTEST_SKIP() << "the window's case; the terminal needs no display";
    for (auto argv : std::vector<std::vector<std::string>>{
             {"/usr/bin/env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM"},
             {"/usr/bin/env", "-u", "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM", "DISPLAY=:97"}}) {
        argv.push_back(SC820_UTILITY_BINARY);
        std::string out;
        EXPECT_EQ(RunProgram(argv, &out), 1) << out;
        EXPECT_TRUE(Contains(out, "display")) << out;
        EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    }
}

}  // namespace
