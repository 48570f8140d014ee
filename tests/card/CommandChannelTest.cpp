// The command channel against an emulated host: what reaches the utility driver, what comes
// back, how failures end the program, and that no handle outlives a command.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "app/Messages.h"
#include "app/SC820Controller.h"
#include "driverif/CommandCodes.h"
#include "tests/support/PlatformProbes.h"
#include "tests/support/RecordingBackend.h"
#include "tests/support/TempHost.h"

namespace {

using Ctl = SC820Controller;
const std::vector<std::pair<int, int (*)(Ctl&, uint8_t*)>> kCommands = {
    {kGetEEPConfig, [](Ctl& c, uint8_t*) { return c.doGetEEPConfig(); }},
    {kSetEEPConfig, [](Ctl& c, uint8_t*) { return c.doSetEEPConfig(); }},
    {kGetEEPDefault, [](Ctl& c, uint8_t*) { return c.doGetEEPDefault(); }},
    {kEraseFlash, [](Ctl& c, uint8_t*) { return c.doEraseFlash(); }},
    {kReadFlash, [](Ctl& c, uint8_t* b) { return c.doReadFlash(b); }},
    {kWriteFlash, [](Ctl& c, uint8_t* b) { return c.doWriteFlash(b); }},
};

// After a command: the alerts shown (message, OK only) and the ends of the program.
void ExpectAlerts(const RecordingBackend& backend, const std::vector<std::string>& messages) {
    std::vector<std::string> shown;
    for (const auto& alert : backend.alerts)
        shown.push_back(
            alert.message +
            (alert.defaultButton == "OK" && alert.alternateButton.empty() ? "" : " (not OK only)"));
    EXPECT_EQ(shown, messages);
    EXPECT_EQ(backend.terminateCount, static_cast<int>(messages.size()));
}

class CommandChannelTest : public testing::Test {
protected:
    void SetUp() override { host.swapDrivers(); }
    std::string hostFiles() { return file("eeprom.bin") + file("flash.bin"); }
    std::string file(const char* name) {
        return ReadFileBytes(host.root() + "/var/db/sc820/" + name);
    }
    std::string record() {
        return std::string(reinterpret_cast<const char*>(&controller.eep_config_buf), 308);
    }
    void setRecord(const std::string& bytes) {
        std::memcpy(&controller.eep_config_buf, bytes.data(), 308);
    }
    // After every command: no connection open, no handle held or released twice, nothing shown.
    void expectClosed() {
        EXPECT_EQ(controller.mDataPort, 0u);
        EXPECT_EQ(IORegistryHandlesHeld(), handlesBefore) << "a handle outlived the command";
        EXPECT_EQ(IORegistryStrayReleases(), 0u) << "a handle was released twice";
        ExpectAlerts(backend, {});
    }
    TempHost host;
    RecordingBackend backend;
    SC820Controller controller;
    size_t handlesBefore = IORegistryHandlesHeld();
};

// The driver takes a command only in its exact form and size (2, 308 or 4000 bytes), so an
// accepted command proves both; the counts prove the index. Refused, a command returns 0 and
// leaves the buffers and the host as they were. Of two utility services the last one found
// takes the commands (the record's bytes travel whole: the batch export and import).
TEST_F(CommandChannelTest, EachCommandReachesTheDriverWithItsIndexAndARefusalReturns0) {
    host.hostOk({"fault", "duplicate-service", "on"});
    const std::string status = host.hostOk({"status"});
    const size_t last = status.rfind("utility-service ") + 16;
    std::vector<int> counts(6, 0);
    for (auto [code, run] : kCommands) {
        std::vector<uint8_t> chunk(kFlashChunkSize, 0x5A);
        EXPECT_EQ(run(controller, chunk.data()), 1) << code;
        host.hostOk({"fault", "refuse-" + std::to_string(code), "on"});  // stays on
        setRecord(testhost::PatternRecord(code));
        chunk.assign(kFlashChunkSize, 0xC3);
        const std::string files = hostFiles();
        EXPECT_EQ(run(controller, chunk.data()), 0) << code;
        EXPECT_TRUE(record() == testhost::PatternRecord(code) && hostFiles() == files) << code;
        EXPECT_EQ(chunk, std::vector<uint8_t>(kFlashChunkSize, 0xC3)) << code;
        counts[static_cast<size_t>(code)] = 2;
        EXPECT_EQ(host.commandCounts(), counts) << code;
        expectClosed();
    }
    EXPECT_EQ(testhost::StatusFact(host, "last-service"),
              status.substr(last, status.find('\n', last) - last));
}

// The failure points of the search and the open: each shows its message with OK only and ends
// the program before anything is sent. No fault: the utility driver is not loaded.
TEST(CommandChannelFailureTest, EachFailurePointShowsItsMessageAndSendsNothing) {
    for (auto [fault, message] : {std::pair{"master-port", MSG_SLOTERROR},
                                  {"matching", MSG_SLOTERROR},
                                  {"search", MSG_SLOTERROR},
                                  {"", MSG_INITIALIZE},
                                  {"open", MSG_INITIALIZE}}) {
        TempHost host;
        if (*fault != '\0') host.swapDrivers(), host.hostOk({"fault", fault, "on"});
        for (auto [code, run] : kCommands) {
            RecordingBackend backend;
            SC820Controller controller;
            std::vector<uint8_t> chunk(kFlashChunkSize, 0x11);
            EXPECT_THROW(run(controller, chunk.data()), Terminated) << fault << " " << code;
            ExpectAlerts(backend, {message});
            EXPECT_EQ(IORegistryHandlesHeld() + IORegistryStrayReleases(), 0u) << fault << code;
            EXPECT_EQ(chunk, std::vector<uint8_t>(kFlashChunkSize, 0x11)) << fault << " " << code;
        }
        EXPECT_EQ(host.commandCounts(), std::vector<int>(6, 0)) << fault;
    }
}

}  // namespace
