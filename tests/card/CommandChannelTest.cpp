// The command channel against an emulated host: what reaches the utility driver, what comes
// back, how failures end the program, and that no handle outlives a command.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "app/Messages.h"
#include "app/SC820Controller.h"
#include "driverif/CommandCodes.h"
#include "tests/emulator/EmulatedHost.h"
#include "tests/support/PlatformProbes.h"
#include "tests/support/RecordingBackend.h"
#include "tests/support/TempHost.h"

namespace {

std::string HostFile(const TempHost& host, const char* name) {
    return ReadFileBytes(host.root() + "/var/db/sc820/" + name);
}

std::string RecordBytes(const SCSIUTY_CFG& record) {
    return std::string(reinterpret_cast<const char*>(&record), sizeof record);
}

class CommandChannelTest : public testing::Test {
protected:
    void SetUp() override {
        host.swapDrivers();
        handlesBefore = IORegistryHandlesHeld();
    }
    // After every command: no connection open, no handle held, nothing shown.
    void expectClosed() {
        EXPECT_EQ(controller.mDataPort, 0u);
        EXPECT_EQ(IORegistryHandlesHeld(), handlesBefore) << "a handle outlived the command";
        EXPECT_TRUE(backend.alerts.empty());
        EXPECT_EQ(backend.terminateCount, 0);
    }
    TempHost host;
    RecordingBackend backend;
    SC820Controller controller;
    size_t handlesBefore = 0;
};

// The record's fields: name, offset, size, and how to set it through the structure.
using Cfg = SCSIUTY_CFG;
const std::vector<std::tuple<const char*, size_t, size_t, void (*)(Cfg&)>> kFields = {
    {"Valid", 0, 4, [](Cfg& r) { r.Valid = 0x01020304; }},
    {"HA_ScsiID", 4, 1, [](Cfg& r) { r.HA_ScsiID = 0x05; }},
    {"BootTargetID", 5, 1, [](Cfg& r) { r.BootTargetID = 0x06; }},
    {"BiosEnable", 8, 4, [](Cfg& r) { r.BiosEnable = 0x0708090a; }},
    {"BootCDROM", 12, 4, [](Cfg& r) { r.BootCDROM = 0x0b0c0d0e; }},
    {"RemovalHD", 16, 4, [](Cfg& r) { r.RemovalHD = 0x0f101112; }},
    {"ResetToSelTime", 20, 1, [](Cfg& r) { r.ResetToSelTime = 0x13; }},
    {"Targets", 21, 1, [](Cfg& r) { r.Targets = 0x14; }},
    {"ParityEnable", 24, 4, [](Cfg& r) { r.ParityEnable = 0x15161718; }},
    {"TermMode", 28, 4, [](Cfg& r) { r.TermMode = static_cast<TERM_MODE>(0x191a1b1c); }},
    {"SyncEnable[0]", 32, 4, [](Cfg& r) { r.SyncEnable[0] = 0x1d1e1f20; }},
    {"SyncEnable[15]", 92, 4, [](Cfg& r) { r.SyncEnable[15] = 0x21222324; }},
    {"WideEnable[0]", 96, 4, [](Cfg& r) { r.WideEnable[0] = 0x25262728; }},
    {"WideEnable[15]", 156, 4, [](Cfg& r) { r.WideEnable[15] = 0x292a2b2c; }},
    {"DisconnectEnable[0]", 160, 4, [](Cfg& r) { r.DisconnectEnable[0] = 0x2d2e2f30; }},
    {"DisconnectEnable[15]", 220, 4, [](Cfg& r) { r.DisconnectEnable[15] = 0x31323334; }},
    {"SyncSpeed[0]", 224, 4, [](Cfg& r) { r.SyncSpeed[0] = static_cast<SYNC_SPEED>(0x35363738); }},
    {"SyncSpeed[15]", 284, 4,
     [](Cfg& r) { r.SyncSpeed[15] = static_cast<SYNC_SPEED>(0x393a3b3c); }},
    {"Reserved0", 288, 1, [](Cfg& r) { r.Reserved0 = 0x3d; }},
    {"PcbVersion", 290, 2, [](Cfg& r) { r.PcbVersion = 0x3e3f; }},
    {"PcbRevision", 292, 1, [](Cfg& r) { r.PcbRevision = 0x40; }},
    {"Reserved1", 296, 4, [](Cfg& r) { r.Reserved1 = 0x41424344; }},
    {"Burst", 300, 4, [](Cfg& r) { r.Burst = 0x45464748; }},
    {"RQdelay", 304, 1, [](Cfg& r) { r.RQdelay = 0x49; }},
};

// Every field lands at its offset, every byte comes back, and of two utility services the last
// one takes the commands.
TEST_F(CommandChannelTest, EveryFieldTravelsAtItsOffsetAndEveryByteComesBack) {
    host.hostOk({"fault", "duplicate-service", "on"});
    std::string status = host.hostOk({"status"});
    size_t last = status.rfind("utility-service ");
    ASSERT_NE(last, std::string::npos);
    std::string lastService = status.substr(last + 16, status.find('\n', last) - last - 16);
    ASSERT_EQ(testhost::StatusFact(host, "utility-services"), "2");
    // Bytes that differ everywhere, padding included, then each field set.
    std::string pattern = testhost::PatternRecord(7);
    std::memcpy(&controller.eep_config_buf, pattern.data(), sizeof controller.eep_config_buf);
    for (auto [name, offset, size, set] : kFields) set(controller.eep_config_buf);
    const std::string sent = RecordBytes(controller.eep_config_buf);
    ASSERT_EQ(controller.doSetEEPConfig(), 1);
    expectClosed();
    std::string stored = HostFile(host, "eeprom.bin");
    ASSERT_EQ(stored, sent);
    for (auto [name, offset, size, set] : kFields) {
        SCSIUTY_CFG alone;
        std::memset(&alone, 0, sizeof alone);
        set(alone);
        EXPECT_EQ(stored.substr(offset, size), RecordBytes(alone).substr(offset, size)) << name;
    }
    for (size_t pad : {6, 7, 22, 23, 289, 293, 294, 295, 305, 306, 307})
        EXPECT_EQ(stored[pad], pattern[pad]) << "padding byte " << pad;
    std::memset(&controller.eep_config_buf, 0, sizeof controller.eep_config_buf);
    ASSERT_EQ(controller.doGetEEPConfig(), 1);
    EXPECT_EQ(RecordBytes(controller.eep_config_buf), sent);
    EXPECT_EQ(testhost::StatusFact(host, "last-service"), lastService);
    expectClosed();
}

using Ctl = SC820Controller;
const std::vector<std::pair<int, int (*)(Ctl&, uint8_t*)>> kCommands = {
    {kGetEEPConfig, [](Ctl& c, uint8_t*) { return c.doGetEEPConfig(); }},
    {kSetEEPConfig, [](Ctl& c, uint8_t*) { return c.doSetEEPConfig(); }},
    {kGetEEPDefault, [](Ctl& c, uint8_t*) { return c.doGetEEPDefault(); }},
    {kEraseFlash, [](Ctl& c, uint8_t*) { return c.doEraseFlash(); }},
    {kReadFlash, [](Ctl& c, uint8_t* b) { return c.doReadFlash(b); }},
    {kWriteFlash, [](Ctl& c, uint8_t* b) { return c.doWriteFlash(b); }},
};

// The driver takes a command only in its exact form and size (2, 308 or 4000 bytes), so an
// accepted command proves both; the counts prove the index. Refused, a command returns 0 and
// leaves the buffers and the host as they were.
TEST_F(CommandChannelTest, EachCommandReachesTheDriverWithItsIndexAndARefusalReturns0) {
    std::vector<int> counts(6, 0);
    for (auto [code, run] : kCommands) {
        std::vector<uint8_t> chunk(kFlashChunkSize, 0x5A);
        EXPECT_EQ(run(controller, chunk.data()), 1) << code;
        ++counts[static_cast<size_t>(code)];
        EXPECT_EQ(host.commandCounts(), counts) << code;
        expectClosed();
        host.hostOk({"fault", "refuse-" + std::to_string(code), "on"});  // stays on
        std::string pattern = testhost::PatternRecord(code);
        std::memcpy(&controller.eep_config_buf, pattern.data(), sizeof controller.eep_config_buf);
        chunk.assign(kFlashChunkSize, 0xC3);
        std::string files = HostFile(host, "eeprom.bin") + HostFile(host, "flash.bin");
        EXPECT_EQ(run(controller, chunk.data()), 0) << code;
        EXPECT_EQ(RecordBytes(controller.eep_config_buf), pattern) << code;
        EXPECT_EQ(chunk, std::vector<uint8_t>(kFlashChunkSize, 0xC3)) << code;
        EXPECT_EQ(HostFile(host, "eeprom.bin") + HostFile(host, "flash.bin"), files) << code;
        ++counts[static_cast<size_t>(code)];
        EXPECT_EQ(host.commandCounts(), counts) << code;
        expectClosed();
    }
}

TEST_F(CommandChannelTest, AWriteSweepThenAReadSweepGivesBackWhatTheFlashHolds) {
    std::vector<uint8_t> image(kFlashBufferSize, 0);
    for (size_t i = 0; i < kFlashSweepSize; ++i) image[i] = static_cast<uint8_t>(i * 5 + i / 4000);
    std::vector<uint8_t> readBack(kFlashBufferSize, 0);
    // An interrupted read sweep first: its cursor must not move the sweeps that follow.
    for (int k = 0; k < 5; ++k) ASSERT_EQ(controller.doReadFlash(readBack.data()), 1);
    ASSERT_EQ(controller.doGetEEPConfig(), 1);
    for (uint32_t k = 0; k < kFlashSweepChunks; ++k)
        ASSERT_EQ(controller.doWriteFlash(image.data() + k * 4000), 1);
    for (uint32_t k = 0; k < kFlashSweepChunks; ++k)
        ASSERT_EQ(controller.doReadFlash(readBack.data() + k * 4000), 1);
    EXPECT_TRUE(HostFile(host, "flash.bin") ==
                std::string(image.begin(), image.begin() + kFlashSize));
    EXPECT_TRUE(std::equal(readBack.begin(), readBack.begin() + kFlashSize, image.begin()));
    EXPECT_TRUE(std::all_of(readBack.begin() + kFlashSize, readBack.begin() + kFlashSweepSize,
                            [](uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(std::count(readBack.begin() + kFlashSweepSize, readBack.end(), 0),
              kFlashBufferSize - kFlashSweepSize)
        << "a read wrote past its chunk";
    expectClosed();
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
        if (*fault != '\0') {
            host.swapDrivers();
            host.hostOk({"fault", fault, "on"});
        }
        for (auto [code, run] : kCommands) {
            RecordingBackend backend;
            SC820Controller controller;
            std::vector<uint8_t> chunk(kFlashChunkSize, 0x11);
            EXPECT_THROW(run(controller, chunk.data()), Terminated) << fault << " " << code;
            ASSERT_EQ(backend.alerts.size(), 1u) << fault;
            EXPECT_EQ(backend.alerts[0].message, message) << fault;
            EXPECT_EQ(backend.alerts[0].defaultButton, "OK");
            EXPECT_EQ(backend.alerts[0].alternateButton, "");
            EXPECT_EQ(backend.terminateCount, 1);
            EXPECT_EQ(chunk, std::vector<uint8_t>(kFlashChunkSize, 0x11)) << fault << " " << code;
        }
        EXPECT_EQ(host.commandCounts(), std::vector<int>(6, 0)) << fault;
    }
}

}  // namespace
