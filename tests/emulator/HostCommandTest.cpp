// The sc820-host admin command: its forms, its failures and what each verb does to the host.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "card/CommandCodes.h"
#include "tests/emulator/EmulatedHost.h"
#include "tests/support/TempHost.h"

using testhost::PatternRecord;
using testhost::StatusFact;
using testing::HasSubstr;

namespace {

using Words = std::vector<std::string>;

class HostCommandTest : public testing::Test {
protected:
    std::string file(const std::string& name, const std::string& bytes) {
        std::string path = scratch.path() + "/" + name;
        WriteFileBytes(path, bytes);
        return path;
    }
    TempHost host;
    TempDir scratch;
};

TEST_F(HostCommandTest, WrongFormsPrintUsageAndExit2) {
    const std::vector<Words> forms = {
        {},
        {"bogus"},
        {"--root"},
        {"init", "--now"},
        {"init", "--force", "again"},
        {"status", "all"},
        {"log", "tail"},
        {"eeprom"},
        {"eeprom", "show", "extra"},
        {"eeprom", "get"},
        {"eeprom", "put"},
        {"eeprom", "dump", "file"},
        {"factory", "show"},
        {"factory", "get"},
        {"factory", "put", "a", "b"},
        {"flash"},
        {"flash", "erase", "now"},
        {"flash", "get"},
        {"flash", "show"},
        {"attach"},
        {"attach", "16"},
        {"attach", "-1"},
        {"attach", "x"},
        {"attach", "1", "2"},
        {"detach"},
        {"detach", "99"},
        {"auth"},
        {"auth", "maybe"},
        {"auth", "allow", "deny"},
        {"fault", "master-port"},
        {"fault", "nonsense", "on"},
        {"fault", "refuse-6", "on"},
        {"fault", "open", "yes"},
    };
    std::string before = host.hostOk({"status"});
    for (const auto& form : forms) {
        std::string out;
        std::string joined;
        for (const auto& w : form) joined += w + " ";
        EXPECT_EQ(host.host(form, &out), 2) << joined;
        EXPECT_THAT(out, HasSubstr("usage: sc820-host")) << joined;
    }
    EXPECT_EQ(host.hostOk({"status"}), before);
}

struct FailingCase {
    Words setup;
    Words command;
    std::string message;
};

TEST_F(HostCommandTest, FailingOperationsSayWhyAndExit1) {
    const std::string record307 = file("r307", std::string(307, 'x'));
    const std::string record309 = file("r309", std::string(309, 'x'));
    const std::string empty = file("empty", "");
    const std::string tooBig = file("big", std::string(kFlashSize + 1, 'x'));
    const std::vector<FailingCase> cases = {
        {{}, {"init"}, "already exists"},
        {{}, {"eeprom", "put", record307}, "307 bytes; a record holds 308"},
        {{}, {"eeprom", "put", record309}, "309 bytes; a record holds 308"},
        {{}, {"factory", "put", empty}, "0 bytes; a record holds 308"},
        {{}, {"factory", "put", record309}, "309 bytes"},
        {{}, {"eeprom", "put", scratch.path() + "/missing"}, "no such file"},
        {{}, {"flash", "put", tooBig}, "65537 bytes; the flash holds 65536"},
        {{}, {"detach", "5"}, "no device with target 5"},
        {{"attach", "4"}, {"attach", "4"}, "already attached"},
    };
    for (const auto& c : cases) {
        TempHost fresh;
        if (!c.setup.empty()) fresh.hostOk(c.setup);
        std::string eeprom = ReadFileBytes(fresh.root() + "/var/db/sc820/eeprom.bin");
        std::string flash = ReadFileBytes(fresh.root() + "/var/db/sc820/flash.bin");
        std::string out;
        EXPECT_EQ(fresh.host(c.command, &out), 1) << c.command[0];
        EXPECT_THAT(out, HasSubstr(c.message));
        EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << "one line: " << out;
        EXPECT_EQ(ReadFileBytes(fresh.root() + "/var/db/sc820/eeprom.bin"), eeprom);
        EXPECT_EQ(ReadFileBytes(fresh.root() + "/var/db/sc820/flash.bin"), flash);
    }
}

TEST_F(HostCommandTest, EveryVerbOnAMissingHostNamesItAndExits1) {
    const std::string missing = scratch.path() + "/nohost";
    const std::string record = file("record", PatternRecord(1));
    const std::vector<Words> verbs = {
        {"status"},
        {"log"},
        {"eeprom", "show"},
        {"eeprom", "get", scratch.path() + "/x"},
        {"eeprom", "put", record},
        {"factory", "put", record},
        {"flash", "erase"},
        {"attach", "1"},
        {"auth", "deny"},
        {"fault", "open", "on"},
    };
    for (const auto& verb : verbs) {
        Words argv = {SC820_HOST_BINARY, "--root", missing};
        argv.insert(argv.end(), verb.begin(), verb.end());
        std::string out;
        EXPECT_EQ(RunProgram(argv, &out), 1) << verb[0];
        EXPECT_THAT(out, HasSubstr("no emulated host at " + missing + ": run sc820-host init"));
    }
    EXPECT_FALSE(std::filesystem::exists(missing)) << "a failed command made the host's folder";
}

TEST_F(HostCommandTest, InitRefusesAFolderWithOtherContentsButForceMakesAHostThere) {
    std::string dir = scratch.path() + "/busy";
    std::filesystem::create_directories(dir);
    WriteFileBytes(dir + "/notes.txt", "mine");
    Words argv = {SC820_HOST_BINARY, "--root", dir, "init"};
    std::string out;
    EXPECT_EQ(RunProgram(argv, &out), 1);
    EXPECT_THAT(out, HasSubstr("is not empty"));
    argv.push_back("--force");
    EXPECT_EQ(RunProgram(argv, &out), 0) << out;
    EXPECT_EQ(ReadFileBytes(dir + "/notes.txt"), "mine");
}

TEST_F(HostCommandTest, InitForceResetsTheHostButKeepsTheSystemLog) {
    std::string defaults = ReadFileBytes(host.root() + "/var/db/sc820/eeprom.bin");
    host.hostOk({"eeprom", "put", file("record", PatternRecord(2))});
    host.hostOk({"auth", "deny"});
    host.hostOk({"fault", "open", "on"});
    host.hostOk({"attach", "6"});
    WriteFileBytes(host.root() + "/var/log/system.log", "earlier entry\n");
    std::filesystem::create_symlink(SC820_HOST_BINARY, host.root() + "/usr/sbin/kmodstat");

    host.hostOk({"init", "--force"});
    EXPECT_EQ(ReadFileBytes(host.root() + "/var/db/sc820/eeprom.bin"), defaults);
    EXPECT_EQ(StatusFact(host, "auth"), "allow");
    EXPECT_EQ(StatusFact(host, "faults"), "none");
    EXPECT_EQ(StatusFact(host, "card-targets"), "none");
    EXPECT_EQ(ReadFileBytes(host.root() + "/var/log/system.log"), "earlier entry\n");
    EXPECT_FALSE(std::filesystem::exists(
        std::filesystem::symlink_status(host.root() + "/usr/sbin/kmodstat")));
}

TEST_F(HostCommandTest, DefaultHostServesTheCardWithItsNormalDriver) {
    const std::vector<std::pair<std::string, std::string>> facts = {
        {"auth", "allow"},         {"faults", "none"},
        {"utility-services", "0"}, {"card-targets", "none"},
        {"other-targets", "2"},    {"commands", "0 0 0 0 0 0"},
        {"last-service", "none"},  {"flash-cursors", "read 0 write 0"},
    };
    for (const auto& [key, value] : facts) EXPECT_EQ(StatusFact(host, key), value) << key;
    EXPECT_THAT(host.hostOk({"status"}),
                HasSubstr("extension com.tavik.driver.ZolSC820 (3.1.4)\n"));
    EXPECT_EQ(ReadFileBytes(host.root() + "/var/log/system.log"), "");
    for (const char* tool : {"/sbin/kextload", "/sbin/kextunload", "/usr/sbin/kextstat"}) {
        EXPECT_EQ(std::filesystem::read_symlink(host.root() + tool),
                  std::filesystem::path(SC820_HOST_BINARY))
            << tool;
    }
    EXPECT_FALSE(std::filesystem::exists(host.root() + "/usr/sbin/kmodstat"));
}

TEST_F(HostCommandTest, DefaultRecordsDifferButShareTheBoardVersion) {
    std::string eeprom = ReadFileBytes(host.root() + "/var/db/sc820/eeprom.bin");
    std::string factory = ReadFileBytes(host.root() + "/var/db/sc820/factory.bin");
    ASSERT_EQ(eeprom.size(), 308u);
    ASSERT_EQ(factory.size(), 308u);
    EXPECT_NE(eeprom, factory);
    // Version 1.20: integer digits in the low byte of the host-order value, fraction in the high.
    uint16_t version = 0x2001;
    std::string bytes(reinterpret_cast<const char*>(&version), 2);
    EXPECT_EQ(eeprom.substr(290, 2), bytes);
    EXPECT_EQ(factory.substr(290, 2), bytes);
    std::string flash = ReadFileBytes(host.root() + "/var/db/sc820/flash.bin");
    ASSERT_EQ(flash.size(), kFlashSize);
    EXPECT_EQ(flash.substr(0, 2), "\x55\xAA");
    EXPECT_EQ(flash.substr(32768), std::string(32768, '\xFF'));
}

TEST_F(HostCommandTest, RecordsRoundTripThroughGetAndPutByteForByte) {
    for (const char* record : {"eeprom", "factory"}) {
        std::string bytes = PatternRecord(record[0]);
        host.hostOk({record, "put", file(std::string(record) + ".in", bytes)});
        std::string out = scratch.path() + "/" + record + ".out";
        host.hostOk({record, "get", out});
        EXPECT_EQ(ReadFileBytes(out), bytes) << record;
    }
}

TEST_F(HostCommandTest, EepromShowDecodesEveryFieldAtItsOffset) {
    std::string record(308, '\0');
    auto put32 = [&](size_t offset, uint32_t v) { std::memcpy(&record[offset], &v, 4); };
    auto put16 = [&](size_t offset, uint16_t v) { std::memcpy(&record[offset], &v, 2); };
    put32(0, 0x11223344);
    record[4] = 9;     // HA_ScsiID
    record[5] = 5;     // BootTargetID
    record[6] = 0x6a;  // pad0
    record[7] = 0x7b;
    put32(8, 2);      // BiosEnable
    put32(12, 3);     // BootCDROM
    put32(16, 4);     // RemovalHD
    record[20] = 6;   // ResetToSelTime
    record[21] = 12;  // Targets
    record[22] = 0x01;
    record[23] = 0x02;
    put32(24, 7);            // ParityEnable
    put32(28, 2);            // TermMode
    put32(32 + 4 * 15, 21);  // SyncEnable[15]
    put32(96 + 4 * 1, 22);   // WideEnable[1]
    put32(160 + 4 * 9, 23);  // DisconnectEnable[9]
    put32(224 + 4 * 15, 7);  // SyncSpeed[15]
    record[288] = 0x5e;      // Reserved0
    record[289] = 0x33;      // pad2
    put16(290, 0x0100);  // PcbVersion: integer digits 00 in the low byte, fraction 01 in the high
    record[292] = 8;     // PcbRevision
    record[293] = 0x0a;  // pad3
    record[294] = 0x0b;
    record[295] = 0x0c;
    put32(296, 0xcafef00d);  // Reserved1
    put32(300, 1);           // Burst
    record[304] = 4;         // RQdelay
    record[305] = 0x0d;      // pad4
    record[306] = 0x0e;
    record[307] = 0x0f;
    host.hostOk({"eeprom", "put", file("record", record)});
    std::string shown = host.hostOk({"eeprom", "show"});
    const std::vector<std::string> lines = {
        "Valid 287454020\n",
        "HA_ScsiID 9\n",
        "BootTargetID 5\n",
        "pad0 6a 7b\n",
        "BiosEnable 2\n",
        "BootCDROM 3\n",
        "RemovalHD 4\n",
        "ResetToSelTime 6\n",
        "Targets 12\n",
        "pad1 01 02\n",
        "ParityEnable 7\n",
        "TermMode 2 ENABLE_LOWTERM\n",
        "SyncEnable[14] 0\n",
        "SyncEnable[15] 21\n",
        "WideEnable[1] 22\n",
        "DisconnectEnable[9] 23\n",
        "SyncSpeed[15] 7 SYNC_5MB\n",
        "SyncSpeed[0] 0 SYNC_RESERVED\n",
        "Reserved0 0x5e\n",
        "pad2 33\n",
        "PcbVersion 0.01 (0x0100)\n",
        "PcbRevision 8\n",
        "pad3 0a 0b 0c\n",
        "Reserved1 0xcafef00d\n",
        "Burst 1\n",
        "RQdelay 4\n",
        "pad4 0d 0e 0f\n",
    };
    for (const auto& line : lines) EXPECT_THAT(shown, HasSubstr(line));
    EXPECT_EQ(std::count(shown.begin(), shown.end(), '\n'), 21 + 4 * 16);
}

TEST_F(HostCommandTest, FlashPutFillsTheRestWithErasedBytesAndEraseClearsAll) {
    std::string image = "BIOS" + std::string(96, '\x01');
    host.hostOk({"flash", "put", file("image", image)});
    std::string out = scratch.path() + "/flash.out";
    host.hostOk({"flash", "get", out});
    std::string flash = ReadFileBytes(out);
    ASSERT_EQ(flash.size(), kFlashSize);
    EXPECT_EQ(flash.substr(0, 100), image);
    EXPECT_EQ(flash.substr(100), std::string(kFlashSize - 100, '\xFF'));

    host.hostOk({"flash", "put", file("full", std::string(kFlashSize, '\x5a'))});
    host.hostOk({"flash", "get", out});
    EXPECT_EQ(ReadFileBytes(out), std::string(kFlashSize, '\x5a'));

    host.hostOk({"flash", "erase"});
    host.hostOk({"flash", "get", out});
    EXPECT_EQ(ReadFileBytes(out), std::string(kFlashSize, '\xFF'));
}

TEST_F(HostCommandTest, AttachDetachAuthAndFaultsShowInStatus) {
    host.hostOk({"attach", "0"});
    host.hostOk({"attach", "15"});
    EXPECT_EQ(StatusFact(host, "card-targets"), "0 15");
    host.hostOk({"detach", "0"});
    EXPECT_EQ(StatusFact(host, "card-targets"), "15");
    EXPECT_EQ(StatusFact(host, "other-targets"), "2");

    for (const char* policy : {"deny", "cancel", "allow"}) {
        host.hostOk({"auth", policy});
        EXPECT_EQ(StatusFact(host, "auth"), policy);
    }
    host.hostOk({"fault", "refuse-5", "on"});
    host.hostOk({"fault", "master-port", "on"});
    host.hostOk({"fault", "master-port", "on"});
    EXPECT_EQ(StatusFact(host, "faults"), "master-port refuse-5");
    host.hostOk({"fault", "master-port", "off"});
    host.hostOk({"fault", "search", "off"});
    EXPECT_EQ(StatusFact(host, "faults"), "refuse-5");
}

TEST_F(HostCommandTest, AttachNeedsTheCardDriverLoaded) {
    ASSERT_EQ(testhost::RunTool(host, "kextunload", {"-m", "com.tavik.driver.ZolSC820"}), 0);
    std::string out;
    EXPECT_EQ(host.host({"attach", "3"}, &out), 1);
    EXPECT_THAT(out, HasSubstr("com.tavik.driver.ZolSC820 is not loaded"));
}

TEST_F(HostCommandTest, LogPrintsTheSystemLog) {
    WriteFileBytes(host.root() + "/var/log/system.log", "one\ntwo\n");
    EXPECT_EQ(host.hostOk({"log"}), "one\ntwo\n");
}

}  // namespace
