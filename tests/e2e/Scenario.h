// Runs the real program offscreen against a fresh emulated host, driven by an automation
// script, and reads back what a person would have seen. The scenarios are tables of rows, and
// every table runs under both backends: the window and, with SC820_E2E_BACKEND=terminal, the
// terminal in a pseudo-terminal, with the same scripts and the same expectations.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "driverif/def.h"
#include "tests/support/TempHost.h"

bool RunsInTerminal();

struct TranscriptLine {
    std::vector<std::string> fields;  // unescaped; fields[0] is the kind
};
std::vector<TranscriptLine> ParseTranscript(const std::string& text);

struct RunResult {
    int exitCode = -1;
    std::string output;  // standard output and error
    std::vector<TranscriptLine> transcript;

    // Message texts of the alerts shown, in order.
    std::vector<std::string> alertMessages() const;
    // The informative text beneath each alert shown, in order ("" where there is none).
    std::vector<std::string> informativeTexts() const;
    // The value of a control from the first or the last dump, or "<none>".
    std::string control(const std::string& name, bool first = false) const;
    bool has(const std::string& kind) const;
    std::string lastKind() const;
};

class Scenario;

// One row of a scenario table: {{name, script, alerts, status}, set-up, check, changes}. Unless
// the row says it changes them, the card's record and its flash must be byte for byte as before.
struct RowHead {
    std::string name;
    std::string script;
    // Message keys in order: MSG_PATHERROR stands for the composed path message of the bundle
    // run, a text that is no key for itself, and "=TEXT" for TEXT even when it is a key.
    std::vector<std::string> alerts;
    int status = 0;
};
struct Row : RowHead {
    std::function<void(Scenario&)> setUp = {};  // faults, files, bundle, environment, runner
    std::function<void(Scenario&, const RunResult&)> check = {};
    bool changesFlash = false;
    bool changesRecord = false;
};

class Scenario : public ::testing::Test {
public:
    void SetUp() override;

    // Runs each row against a freshly made host.
    void runTable(const std::vector<Row>& rows);
    // Runs the utility of `bundle` with the script, `env` added to its environment.
    RunResult run(const std::string& script);
    // What every run's environment holds: the host, English texts, the home and state folders.
    std::vector<std::string> environment() const;
    // A copy of the built bundle at dir/name (the program included), used by the next run.
    std::string copyBundle(const std::string& name);
    // The English text of a message key, or the argument itself when it is no key (without
    // the "=" that marks text written out).
    static std::string text(const std::string& key);
    // The composed path message: MSG_PATHERROR, two carriage returns, MSG_CHECKPATH, the path.
    static std::string pathMessage(const std::string& bundlePath);
    std::string record() const;  // the card's EEPROM record, as bytes
    std::string flash() const;
    std::string kextstat() const;
    std::string backups() const { return work.path() + "/state/sc820/backups"; }
    std::vector<std::string> kept(const std::string& kind) const;  // backups, by name

    TempHost host;
    TempDir work;
    std::string bundle = SC820_BUNDLE_DIR;
    std::vector<std::string> env;
    // A program that runs the utility (its absolute path first, the utility's path appended):
    // strace, say, to send a signal at a chosen step. Empty: the utility runs on its own.
    std::vector<std::string> runner;
    std::shared_ptr<void> held;  // what a row's set-up keeps for the run (a mounted disk)
    std::string skip;            // set by a row's set-up that cannot run here: why
    std::string recordBefore;    // the card's record and flash before the row's set-up
    std::string flashBefore;
};

inline bool Contains(const std::string& haystack, const std::string& needle) {
    return haystack.find(needle) != std::string::npos;
}
// A row's set-up that runs `sc820-host ARGS...`: a fault, say.
std::function<void(Scenario&)> HostDoes(std::vector<std::string> args);
// The script that writes `file`, answering every question with its default, then dumps.
std::string WriteScript(const std::string& file, int answersAfterPanel = 2);
// An image of `length` bytes, none of them zero, that differs with the seed.
std::string Image(size_t length, int seed);
