// Start-up from the program entry to the first display, and every way it ends early; and the
// script lines and answers the automation refuses.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "app/Messages.h"
#include "emulator/card/UtilityClientOwner.h"
#include "tests/e2e/Scenario.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using Startup = Scenario;

bool Loaded(Scenario& s, const std::string& driver) {
    std::string out;
    RunProgram({s.host.root() + "/usr/sbin/kextstat"}, &out);
    return Contains(out, driver + " (");
}
const std::string kNormal = "com.tavik.driver.ZolSC820", kOwn = "com.tavik.iokit.sc820utl";
bool Serving(Scenario& s, int services) {
    return Contains(s.host.hostOk({"status"}), "utility-services " + std::to_string(services));
}

// Nothing changed: the normal driver serves the card, and no smuggled command ran.
void Untouched(Scenario& s, const RunResult&) {
    EXPECT_TRUE(Loaded(s, kNormal));
    EXPECT_FALSE(fs::exists(fs::current_path() / "pwned"));
}

// The program "test" of a copied bundle, changed to print a given number of lines.
SetUp TestPrinting(int lines) {
    return [lines](Scenario& s) {
        std::ofstream out(s.copyBundle("lines" + std::to_string(lines) + "/SC820 Utility") +
                          "/Contents/Resources/test");
        out << "#!/bin/sh\n";
        for (int i = 0; i < lines; ++i) out << "echo line" << i << (i % 2 ? " >&2" : "") << "\n";
    };
}
SetUp Folder(const std::string& folder) {
    return [folder](Scenario& s) { s.copyBundle(folder + "/SC820 Utility"); };
}

// A bundle whose path fails the path test: its alert, answered, ends the program; or passes it.
Row Path(const std::string& name, SetUp setUp, bool fails = true) {
    const char* alert = fails ? MSG_PATHERROR : MSG_START;
    return R(name, fails ? "answer 1\n" : "answer 0\n", {alert}, fails ? 1 : 4, setUp,
             {.counts = kNoCommand, .check = Untouched});
}

Row Fault(const char* fault, std::vector<std::string> alerts, const char* informative = "") {
    return R(fault, "answer 1\nanswer 1\n", alerts, 1, HostDoes({"fault", fault, "on"}),
             {.informs = {informative}});
}

// An answer the alert's buttons cannot give, or a line that is no step, ends the run with an
// error line and status 3.
Row Refused(const std::string& line, std::vector<std::string> alerts = {}, SetUp setUp = {},
            const std::string& error = "line 2") {
    return R(testing::PrintToString(line), "answer 1\n" + line + "\n", alerts, 3, setUp,
             {.last = "error",
              .counts = alerts.empty() ? kNoCommand : std::vector<int>{},
              .check = [=](Scenario&, const RunResult& r) {
                  EXPECT_TRUE(!alerts.empty() || r.transcript.size() == 1);
                  EXPECT_TRUE(Contains(r.transcript.back().at(1), error)) << r.transcript.back()[1];
              }});
}

// Another utility holds the card (the test takes its lock) until the row ends.
void Held(Scenario& s) {
    const std::string lock = emu::UtilityClientLockFile(emu::HostPaths(s.host.root()));
    const int fd = open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    s.held = std::shared_ptr<void>(nullptr, [fd](void*) { close(fd); });
}

TEST_F(Startup, EndsAndFirstDisplay) {
    std::string longFolder(200, 'a');
    for (char c : {'b', 'c', 'd', 'e'}) longFolder += "/" + std::string(200, c);
    const std::string refused = "answer 1\nanswer 1\n";
    runTable({
        // First, so that the system log holds no earlier run's lines.
        R("a device on the card", "answer 1\n", {MSG_WARN}, 1, HostDoes({"attach", "3"}),
          {.counts = kNoCommand,
           .check =
               [](Scenario& s, const RunResult& r) {
                   Untouched(s, r);
                   EXPECT_EQ(r.transcript.front()[4], "");  // no Cancel button
                   for (const auto& line : s.host.logLines())
                       EXPECT_FALSE(Contains(line, "utility["));
               }}),
        // The version was read (and logged) before the question.
        R("cancel at the last question", "answer 0\n", {MSG_START}, 4, {},
          {.counts = kNoCommand,
           .check =
               [](Scenario& s, const RunResult& r) {
                   Untouched(s, r);
                   int logged = 0;
                   for (const auto& line : s.host.logLines())
                       logged += Contains(line, "sc820-utility[") && Contains(line, kNormal + " (");
                   EXPECT_EQ(logged, 1);
               }}),
        // One read at start-up, one flash sweep for the display; Cancel stores nothing and
        // keeps the rights to the end, and the utility's driver serves until the restart.
        R("first display, then the computer restarts", "answer 1\ndump\npress cancel\n",
          {MSG_START}, 0, {},
          {.controls = {"out_hostSCSIID=7", "out_verPCB=1.20", "out_verSCSIBIOS=3.1.4",
                        "out_verConfigurateionDriver=2.1.0", "tag:400=1"},
           .counts = {1, 0, 0, 0, 17, 0},
           .check =
               [](Scenario& s, const RunResult& r) {
                   EXPECT_TRUE(!Loaded(s, kNormal) && Serving(s, 1) && !r.has("rights-freed"));
                   s.host.hostOk({"restart"});
                   EXPECT_TRUE(Loaded(s, kNormal) && !Loaded(s, kOwn) && Serving(s, 0));
               }}),
        Fault("master-port", {MSG_SLOTERROR}, MSG_HOSTINIT),
        // The other failures of the search for the card: CommandChannelTest.
        Fault("open", {MSG_START, MSG_INITIALIZE}),
        Fault("refuse-0", {MSG_START, MSG_READFAIL}),
        R("authorization refused", refused, {MSG_START, MSG_INITIALIZE}, 1,
          HostDoes({"auth", "deny"}), {.counts = kNoCommand, .check = Untouched}),
        // The card belongs to one utility at a time (the emulator's tests: until it ends).
        R("another utility holds the card", refused, {MSG_START, MSG_INITIALIZE}, 1, Held,
          {.counts = kNoCommand}),
        Path("test prints 9 lines", TestPrinting(9)),
        Path("test prints 10 lines", TestPrinting(10), false),
        Path("test prints 11 lines", TestPrinting(11)),
        Path("space and percent sign", Folder("with space and 100% sign"), false),
        Path("outside ASCII", Folder("caf\xc3\xa9")),
        // A command smuggled in a folder name would create "pwned" in the current directory.
        Path("$()", Folder("a$(touch${IFS}pwned)b")),
        Path("backquotes", Folder("back`touch${IFS}pwned`q")),
        Path("quote", Folder("quote\"d")),
        Path("backslash", Folder("slash\\ed")),
        Path("very long path", Folder(longFolder)),
        Path("no test program",
             [](Scenario& s) {
                 fs::remove(s.copyBundle("notest/SC820 Utility") + "/Contents/Resources/test");
             }),
        Refused("answer 0", {MSG_START}, HostDoes({"fault", "open", "on"}),
                "line 2 (answer 0): no button of the alert gives this answer: " +
                    Scenario::text(MSG_INITIALIZE)),
        R("OK-Cancel alert answered -1", "answer -1\n", {}, 3, {},
          {.last = "error",
           .counts = kNoCommand,
           .check =
               [](Scenario& s, const RunResult& r) {
                   EXPECT_TRUE(Contains(r.transcript.at(0).at(1), "line 1 (answer -1): no button"));
                   Untouched(s, r);
               }}),
        // The other odd lines: AutomationScriptTest.
        Refused("answer 1\0"s),
    });
}

}  // namespace
