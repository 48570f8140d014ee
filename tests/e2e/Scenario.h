// Runs the real program offscreen against a fresh emulated host, driven by an automation
// script (or, in batch mode, by its arguments), and reads back what a person would have seen.
// The scenarios are tables of rows, and every table runs under both backends: the window and,
// with SC820_E2E_BACKEND=terminal, the terminal in a pseudo-terminal, with the same scripts.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "driverif/CommandCodes.h"
#include "driverif/def.h"
#include "tests/support/PlatformProbes.h"
#include "tests/support/TempHost.h"

bool RunsInTerminal();

struct RunResult {
    int exitCode = -1;
    std::string output;                                // standard output and error
    std::vector<std::vector<std::string>> transcript;  // unescaped fields; [0] is the kind
    bool has(const std::string& kind) const {
        for (const auto& line : transcript)
            if (line[0] == kind) return true;
        return false;
    }
};

class Scenario;
using Check = std::function<void(Scenario&, const RunResult&)>;
using SetUp = std::function<void(Scenario&)>;

// One row of a scenario table: R(name, script, alerts, status, set-up, {.expectations}). Unless
// the row says otherwise, the card's record and flash are byte for byte as before, and the
// program ends by its own end step. Alerts are message keys in order (MSG_PATHERROR: the
// composed path message of the bundle run; "=TEXT": TEXT even when it is a key).
struct RowHead {
    std::string name, script;
    std::vector<std::string> alerts = {};
    int status = 0;
    SetUp setUp = {};
};
struct Expect {
    std::vector<std::string> args = {};  // batch mode: the arguments, instead of a script
    std::vector<std::pair<std::string, std::string>> files = {};  // made in the home folder
    std::vector<std::string> faults = {};                         // of the card, switched on
    std::string last = "terminate";                               // the transcript's last kind
    std::vector<std::string> controls = {};  // "name=value" in the last dump, "name<value" first
    std::vector<std::string> informs = {};   // the informative texts of the last alerts
    std::vector<int> counts = {};            // commands the card was sent, by code
    std::string flash = {};                  // the flash after, when it changes
    std::vector<std::pair<int, std::string>> record = {};  // changed bytes (hex) at offsets
    std::vector<std::string> says = {};                    // texts the output holds
    const char* keeps = nullptr;  // "flash"/"eeprom": one copy kept, of what it held before
    Check check = {};             // may set recordBefore to the record the row must leave
};
struct Row : RowHead, Expect {
    Row(RowHead head, Expect expect = {}) : RowHead(std::move(head)), Expect(std::move(expect)) {}
};

inline Row R(std::string name, std::string script, std::vector<std::string> alerts = {},
             int status = 0, SetUp setUp = {}, Expect expect = {}) {
    return {{std::move(name), std::move(script), std::move(alerts), status, std::move(setUp)},
            std::move(expect)};
}

class Scenario : public ::testing::Test {
public:
    void SetUp() override { UseMainBundleAt(SC820_BUNDLE_DIR); }
    void runTable(const std::vector<Row>& rows);  // each row against a freshly made host
    RunResult run(const std::string& script, const std::vector<std::string>& args = {});
    // What every run's environment holds: the host, English texts, the home and state folders.
    std::vector<std::string> environment() const;
    // A copy of the built bundle at work/name (the program included), used by the next run.
    std::string copyBundle(const std::string& name);
    static std::string text(const std::string& key);  // its English text, or the argument
    std::string card(const char* file) const;         // the card's files, read directly at rest
    std::string record() const { return card("eeprom.bin"); }
    std::string flash() const { return card("flash.bin"); }
    std::string backups() const { return home("state/sc820/backups"); }
    std::vector<std::string> kept(const std::string& kind) const;  // backups, by name
    std::string home(const std::string& name) const { return work.path() + "/" + name; }

    TempHost host;
    TempDir work;
    std::string bundle = SC820_BUNDLE_DIR;
    std::vector<std::string> env;
    std::vector<std::string> runner;  // runs the utility: strace, say, to send a signal
    std::shared_ptr<void> held;       // what a row's set-up keeps for the run (a mounted disk)
    std::string skip;                 // set by a row's set-up that cannot run here: why
    std::string recordBefore, flashBefore;  // the card's files before the row's set-up
};

inline bool Contains(const std::string& haystack, const std::string& needle) {
    return haystack.find(needle) != std::string::npos;
}
inline const std::string kErased(kFlashSize, '\xFF');
inline const std::vector<int> kNoCommand(6, 0);
inline SetUp HostDoes(std::vector<std::string> args) {  // `sc820-host ARGS...`: a fault, say
    return [args](Scenario& s) { s.host.hostOk(args); };
}
// The script that writes `file`, answering every question with its default, then dumps.
std::string WriteScript(const std::string& file, int answersAfterPanel = 2);
// An image of `length` bytes, none of them zero, that differs with the seed.
std::string Image(size_t length, int seed);
// The flash after a sweep wrote an image: the image, then zero bytes, cut at 64 KiB.
std::string FlashAfterWrite(const std::string& image);
// The state folder is a file, so no backups folder can be made in it.
inline void Blocked(Scenario& s) {
    WriteFileBytes(s.home("blocked"), "");
    s.env = {"XDG_STATE_HOME=" + s.home("blocked")};
}
