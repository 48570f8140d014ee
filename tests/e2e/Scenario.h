// Runs the real program offscreen against a fresh emulated host, driven by an automation
// script, and reads back what a person would have seen.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driverif/def.h"
#include "tests/support/TempHost.h"

// Whether the scenarios run the terminal backend (SC820_E2E_BACKEND=terminal) rather than the
// window: every scenario runs under both, with the same script and the same expectations.
bool RunsInTerminal();

struct TranscriptLine {
    std::vector<std::string> fields;  // unescaped; fields[0] is the kind
};

struct RunResult {
    int exitCode = -1;
    std::string output;  // standard output and error
    std::vector<TranscriptLine> transcript;

    // Message texts of the alerts shown, in order.
    std::vector<std::string> alertMessages() const;
    // The informative text beneath each alert shown, in order ("" where there is none).
    std::vector<std::string> informativeTexts() const;
    // The value of a control from the last dump, or "<none>".
    std::string control(const std::string& name) const;
    bool has(const std::string& kind) const;
    std::string lastKind() const;
};

class Scenario : public ::testing::Test {
protected:
    void SetUp() override;

    // Runs the utility of the given bundle (default: the one built) with the script.
    RunResult run(const std::string& script, const std::string& bundle = SC820_BUNDLE_DIR,
                  const std::vector<std::string>& extraEnv = {});
    // A copy of the built bundle at dir/name (the program included), for moved-bundle cases.
    std::string copyBundle(const std::string& name);
    // The English text of a message key, written out in the tests.
    static std::string text(const char* key);
    // The composed path message for a bundle path: MSG_PATHERROR, two carriage returns,
    // MSG_CHECKPATH and the path.
    static std::string pathMessage(const std::string& bundlePath);

    SCSIUTY_CFG eeprom() const;
    void putEeprom(const SCSIUTY_CFG& record) const;
    std::string flash() const;
    std::string kextstat() const;

    TempHost host;
    TempDir work;
    // A program that runs the utility (its absolute path first, the utility's path appended):
    // strace, say, to send a signal at a chosen step. Empty: the utility runs on its own.
    std::vector<std::string> runner;
};
