// The command channel against an emulated host: what reaches the utility driver, what comes
// back, how failures end the program, and that no handle outlives a command.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/Messages.h"
#include "app/SC820Controller.h"
#include "card/CommandCodes.h"
#include "tests/emulator/EmulatedHost.h"
#include "tests/support/RecordingBackend.h"
#include "tests/support/TempHost.h"

using testhost::StatusFact;

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
        testhost::SwapInUtilityDriver(host, scratch.path());
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
    TempDir scratch;
    RecordingBackend backend;
    SC820Controller controller;
    size_t handlesBefore = 0;
};

// The record's fields at their offsets: each set through the structure, found in the stored
// image at its offset, and read back through the structure.
struct Field {
    const char* name;
    size_t offset;
    size_t size;
    std::function<void(SCSIUTY_CFG&)> set;
};

const std::vector<Field> kFields = {
    {"Valid", 0, 4, [](SCSIUTY_CFG& r) { r.Valid = 0x01020304; }},
    {"HA_ScsiID", 4, 1, [](SCSIUTY_CFG& r) { r.HA_ScsiID = 0x05; }},
    {"BootTargetID", 5, 1, [](SCSIUTY_CFG& r) { r.BootTargetID = 0x06; }},
    {"BiosEnable", 8, 4, [](SCSIUTY_CFG& r) { r.BiosEnable = 0x0708090a; }},
    {"BootCDROM", 12, 4, [](SCSIUTY_CFG& r) { r.BootCDROM = 0x0b0c0d0e; }},
    {"RemovalHD", 16, 4, [](SCSIUTY_CFG& r) { r.RemovalHD = 0x0f101112; }},
    {"ResetToSelTime", 20, 1, [](SCSIUTY_CFG& r) { r.ResetToSelTime = 0x13; }},
    {"Targets", 21, 1, [](SCSIUTY_CFG& r) { r.Targets = 0x14; }},
    {"ParityEnable", 24, 4, [](SCSIUTY_CFG& r) { r.ParityEnable = 0x15161718; }},
    {"TermMode", 28, 4, [](SCSIUTY_CFG& r) { r.TermMode = static_cast<TERM_MODE>(0x191a1b1c); }},
    {"SyncEnable[0]", 32, 4, [](SCSIUTY_CFG& r) { r.SyncEnable[0] = 0x1d1e1f20; }},
    {"SyncEnable[15]", 92, 4, [](SCSIUTY_CFG& r) { r.SyncEnable[15] = 0x21222324; }},
    {"WideEnable[0]", 96, 4, [](SCSIUTY_CFG& r) { r.WideEnable[0] = 0x25262728; }},
    {"WideEnable[15]", 156, 4, [](SCSIUTY_CFG& r) { r.WideEnable[15] = 0x292a2b2c; }},
    {"DisconnectEnable[0]", 160, 4, [](SCSIUTY_CFG& r) { r.DisconnectEnable[0] = 0x2d2e2f30; }},
    {"DisconnectEnable[15]", 220, 4, [](SCSIUTY_CFG& r) { r.DisconnectEnable[15] = 0x31323334; }},
    {"SyncSpeed[0]", 224, 4,
     [](SCSIUTY_CFG& r) { r.SyncSpeed[0] = static_cast<SYNC_SPEED>(0x35363738); }},
    {"SyncSpeed[15]", 284, 4,
     [](SCSIUTY_CFG& r) { r.SyncSpeed[15] = static_cast<SYNC_SPEED>(0x393a3b3c); }},
    {"Reserved0", 288, 1, [](SCSIUTY_CFG& r) { r.Reserved0 = 0x3d; }},
    {"PcbVersion", 290, 2, [](SCSIUTY_CFG& r) { r.PcbVersion = 0x3e3f; }},
    {"PcbRevision", 292, 1, [](SCSIUTY_CFG& r) { r.PcbRevision = 0x40; }},
    {"Reserved1", 296, 4, [](SCSIUTY_CFG& r) { r.Reserved1 = 0x41424344; }},
    {"Burst", 300, 4, [](SCSIUTY_CFG& r) { r.Burst = 0x45464748; }},
    {"RQdelay", 304, 1, [](SCSIUTY_CFG& r) { r.RQdelay = 0x49; }},
};

TEST_F(CommandChannelTest, EveryFieldTravelsAtItsOffsetAndEveryByteComesBack) {
    // Start from bytes that differ everywhere, padding included, then set each field.
    std::string pattern = testhost::PatternRecord(7);
    std::memcpy(&controller.eep_config_buf, pattern.data(), sizeof controller.eep_config_buf);
    for (const auto& field : kFields) field.set(controller.eep_config_buf);
    const std::string sent = RecordBytes(controller.eep_config_buf);
    ASSERT_EQ(controller.doSetEEPConfig(), 1);
    expectClosed();

    std::string stored = HostFile(host, "eeprom.bin");
    ASSERT_EQ(stored, sent);
    for (const auto& field : kFields) {
        SCSIUTY_CFG alone;
        std::memset(&alone, 0, sizeof alone);
        field.set(alone);
        EXPECT_EQ(stored.substr(field.offset, field.size),
                  RecordBytes(alone).substr(field.offset, field.size))
            << field.name;
    }
    for (size_t pad : {6, 7, 22, 23, 289, 293, 294, 295, 305, 306, 307}) {
        EXPECT_EQ(stored[pad], pattern[pad]) << "padding byte " << pad;
    }

    std::memset(&controller.eep_config_buf, 0, sizeof controller.eep_config_buf);
    ASSERT_EQ(controller.doGetEEPConfig(), 1);
    EXPECT_EQ(RecordBytes(controller.eep_config_buf), sent);
    std::string copy = scratch.path() + "/eeprom.out";
    host.hostOk({"eeprom", "get", copy});
    EXPECT_EQ(ReadFileBytes(copy), sent);
    expectClosed();
}

TEST_F(CommandChannelTest, FactoryDefaultsReplaceTheWholeRecord) {
    std::memset(&controller.eep_config_buf, 0xAB, sizeof controller.eep_config_buf);
    ASSERT_EQ(controller.doGetEEPDefault(), 1);
    EXPECT_EQ(RecordBytes(controller.eep_config_buf), HostFile(host, "factory.bin"));
    expectClosed();
}

struct CommandCase {
    const char* name;
    int code;
    std::function<int(SC820Controller&, uint8_t*)> run;
};

const std::vector<CommandCase> kCommands = {
    {"doGetEEPConfig", kGetEEPConfig,
     [](SC820Controller& c, uint8_t*) { return c.doGetEEPConfig(); }},
    {"doSetEEPConfig", kSetEEPConfig,
     [](SC820Controller& c, uint8_t*) { return c.doSetEEPConfig(); }},
    {"doGetEEPDefault", kGetEEPDefault,
     [](SC820Controller& c, uint8_t*) { return c.doGetEEPDefault(); }},
    {"doEraseFlash", kEraseFlash, [](SC820Controller& c, uint8_t*) { return c.doEraseFlash(); }},
    {"doReadFlash", kReadFlash, [](SC820Controller& c, uint8_t* b) { return c.doReadFlash(b); }},
    {"doWriteFlash", kWriteFlash, [](SC820Controller& c, uint8_t* b) { return c.doWriteFlash(b); }},
};

// The driver takes a command only in its exact form and size (2, 308 or 4000 bytes), so an
// accepted command proves both; the counts prove the index.
TEST_F(CommandChannelTest, EachCommandReachesTheDriverWithItsIndex) {
    controller.eep_config_buf.HA_ScsiID = 7;
    std::vector<int> expected(6, 0);
    for (const auto& command : kCommands) {
        std::vector<uint8_t> chunk(kFlashChunkSize, 0x5A);
        EXPECT_EQ(command.run(controller, chunk.data()), 1) << command.name;
        ++expected[static_cast<size_t>(command.code)];
        EXPECT_EQ(host.commandCounts(), expected) << command.name;
        expectClosed();
    }
}

TEST_F(CommandChannelTest, ARefusedCommandReturns0AndLeavesEverythingAsItWas) {
    for (const auto& command : kCommands) {
        std::string fault = "refuse-" + std::to_string(command.code);
        host.hostOk({"fault", fault, "on"});
        std::string pattern = testhost::PatternRecord(command.code);
        std::memcpy(&controller.eep_config_buf, pattern.data(), sizeof controller.eep_config_buf);
        std::vector<uint8_t> chunk(kFlashChunkSize, 0xC3);
        std::string files = HostFile(host, "eeprom.bin") + HostFile(host, "flash.bin");
        std::vector<int> counts = host.commandCounts();

        EXPECT_EQ(command.run(controller, chunk.data()), 0) << command.name;
        EXPECT_EQ(RecordBytes(controller.eep_config_buf), pattern) << command.name;
        EXPECT_EQ(chunk, std::vector<uint8_t>(kFlashChunkSize, 0xC3)) << command.name;
        EXPECT_EQ(HostFile(host, "eeprom.bin") + HostFile(host, "flash.bin"), files)
            << command.name;
        ++counts[static_cast<size_t>(command.code)];
        EXPECT_EQ(host.commandCounts(), counts) << command.name;
        expectClosed();
        host.hostOk({"fault", fault, "off"});
    }
}

TEST_F(CommandChannelTest, WithTwoServicesTheLastOneTakesTheCommand) {
    host.hostOk({"fault", "duplicate-service", "on"});
    std::string status = host.hostOk({"status"});
    size_t last = status.rfind("utility-service ");
    ASSERT_NE(last, std::string::npos);
    std::string lastService = status.substr(last + 16, status.find('\n', last) - last - 16);
    ASSERT_EQ(StatusFact(host, "utility-services"), "2");

    ASSERT_EQ(controller.doGetEEPConfig(), 1);
    EXPECT_EQ(StatusFact(host, "last-service"), lastService);
    expectClosed();
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

    std::string flash = HostFile(host, "flash.bin");
    EXPECT_TRUE(flash == std::string(image.begin(), image.begin() + kFlashSize));
    EXPECT_TRUE(std::equal(readBack.begin(), readBack.begin() + kFlashSize, image.begin()));
    EXPECT_TRUE(std::all_of(readBack.begin() + kFlashSize, readBack.begin() + kFlashSweepSize,
                            [](uint8_t b) { return b == 0xFF; }));
    EXPECT_TRUE(std::all_of(readBack.begin() + kFlashSweepSize, readBack.end(), [](uint8_t b) {
        return b == 0;
    })) << "a read wrote past its chunk";
    expectClosed();
}

struct FailureCase {
    const char* name;
    std::vector<std::string> setup;  // sc820-host command; empty: none
    bool swapDrivers;
    const char* message;
};

// The failure points of the search and the open: each shows its message with OK only and ends
// the program before anything is sent.
TEST(CommandChannelFailureTest, EachFailurePointShowsItsMessageAndSendsNothing) {
    const std::vector<FailureCase> cases = {
        {"master port", {"fault", "master-port", "on"}, true, MSG_SLOTERROR},
        {"matching", {"fault", "matching", "on"}, true, MSG_SLOTERROR},
        {"search", {"fault", "search", "on"}, true, MSG_SLOTERROR},
        {"no service", {}, false, MSG_INITIALIZE},
        {"open", {"fault", "open", "on"}, true, MSG_INITIALIZE},
    };
    for (const auto& c : cases) {
        TempHost host;
        TempDir scratch;
        if (c.swapDrivers) testhost::SwapInUtilityDriver(host, scratch.path());
        if (!c.setup.empty()) host.hostOk(c.setup);
        for (const auto& command : kCommands) {
            RecordingBackend backend;
            SC820Controller controller;
            std::vector<uint8_t> chunk(kFlashChunkSize, 0x11);
            EXPECT_THROW(command.run(controller, chunk.data()), Terminated)
                << c.name << " " << command.name;
            ASSERT_EQ(backend.alerts.size(), 1u) << c.name;
            EXPECT_EQ(backend.alerts[0].message, c.message) << c.name;
            EXPECT_EQ(backend.alerts[0].defaultButton, "OK");
            EXPECT_EQ(backend.alerts[0].alternateButton, "");
            EXPECT_EQ(backend.terminateCount, 1);
            EXPECT_EQ(chunk, std::vector<uint8_t>(kFlashChunkSize, 0x11))
                << c.name << " " << command.name;
        }
        EXPECT_EQ(host.commandCounts(), std::vector<int>(6, 0)) << c.name;
    }
}

TEST(CommandChannelFailureTest, WithoutAHostTheRegistryCannotBeReached) {
    TempDir scratch;
    TempHost host;
    setenv("SC820_HOST_ROOT", (scratch.path() + "/none").c_str(), 1);
    RecordingBackend backend;
    SC820Controller controller;
    EXPECT_THROW(controller.doGetEEPConfig(), Terminated);
    EXPECT_EQ(backend.alertMessages(), std::vector<std::string>{MSG_SLOTERROR});
}

}  // namespace
