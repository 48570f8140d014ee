// The sc820-host admin command and the driver tools on the host's files: wrong forms, failing
// and refused operations, corrupt files, failed file operations, repair; loading and unloading,
// and which host the tools act on. Files under trouble: a full disk, hostile files in and outside
// the host, a read-only host, broken standard streams, temporaries left by a killed process, a
// program moved away after it made a host. The registry's device scans: a device belongs to the
// card when it hangs from the card's SCSI driver, whatever its target ID, and a registry opened to
// read refuses every change; the nesting bound checked before the property-list library parses a
// file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <thread>

#include "common/PropertyListDepth.h"
#include "driverif/CommandCodes.h"
#include "driverif/DriverNames.h"
#include "emulator/card/DriverState.h"
#include "emulator/card/UtilityClientOwner.h"
#include "emulator/host/HostError.h"
#include "emulator/kernel/KernelCalls.h"
#include "emulator/kernel/KernelRegistry.h"
#include "emulator/tools/DefaultHost.h"
#include "tests/emulator/HostFixture.h"
#include "tests/support/NestedPlists.h"
#include "tests/support/SmallDisk.h"

namespace fs = std::filesystem;
using testhost::PatternRecord;
using testhost::StatusFact;
using testing::HasSubstr;
using testing::Not;
using Json = nlohmann::json;

namespace {

class HostCommandTest : public HostFixture {};
class HostFilesTest : public HostFixture {};

// Edits the host's state file: "POINTER JSON;..." (a pointer alone removes the member).
void EditState(const std::string& path, const std::string& edits) {
    Json state = Json::parse(ReadFileBytes(path));
    std::istringstream in(edits);
    for (std::string e; std::getline(in, e, ';');) {
        const Json::json_pointer at(e.substr(0, e.find(' ')));
        if (e.find(' ') == std::string::npos) {
            state[at.parent_pointer()].erase(at.back());
        } else {
            state[at] = Json::parse(e.substr(e.find(' ')));
        }
    }
    WriteFileBytes(path, state.dump(4));
}

// Each wrong form exits 2 with the usage, each failing or refused operation exits 1 with one
// line; neither changes a file of the host.
TEST_F(HostCommandTest, WrongFormsExit2AndFailingOperationsExit1ChangingNothing) {
    put("r307", std::string(307, 'x'));
    put("big", std::string(kFlashSize + 1, 'x'));
    const std::string firstState = ReadFileBytes(db("state.json"));
    const char* unsaved = "refused to save a state that could not be read back";
    // The command (a row exiting 0 prepares the next), its status and text, the state's edits.
    std::vector<std::tuple<std::string, int, const char*, const char*>> cases = {
        {"init", 1, "already exists", ""},
        {"eeprom put @r307", 1, "307 bytes; a record holds 308", ""},
        {"factory put /dev/null", 1, "/dev/null: 0 bytes; a record holds 308", ""},
        {"eeprom put @missing", 1, "no such file", ""},
        {"flash put @big", 1, "65537 bytes; the flash holds 65536", ""},
        {"flash put /dev/zero", 1, "/dev/zero: more than 65536 bytes; the flash holds 65536", ""},
        {"flash put " + scratch.path(), 1, "is a folder", ""},
        {"detach 5", 1, "no device with target 5", ""},
        {"attach 4", 0, "", ""},
        {"attach 4", 1, "already attached", ""},
        // At the edge of a counter the state reads; the operation that would pass it is refused.
        {"attach 3", 1, unsaved, "/nextEntryId 4294967295"},
        {"/sbin/kextload @utility", 1, unsaved, "/nextExtensionIndex 1073741824"},
        {"/sbin/kextload @utility", 1, unsaved, "/nextLoadAddress 4503599627370000"},
    };
    std::istringstream wrongForms(
        ";bogus;--root;init --now;status all;eeprom;eeprom show extra;eeprom get;"
        "factory show;factory put a b;flash erase now;attach 16;attach -1;attach x;"
        "attach 1 2;detach 99;auth maybe;fault master-port;fault nonsense on;"
        "fault refuse-6 on;fault open yes;restart now;");
    for (std::string form; std::getline(wrongForms, form, ';');)
        cases.push_back({form, 2, "usage: sc820-host", ""});
    for (const auto& [command, status, says, edits] : cases) {
        if (*edits)
            WriteFileBytes(db("state.json"), firstState), EditState(db("state.json"), edits);
        const auto before = Files(db());
        run(command, status, says);
        EXPECT_TRUE(status == 0 || Files(db()) == before) << command;
    }
}

// A corrupt file is reported, naming it and why, by every command that reads it, and left as it
// is; `init --force` makes a new host.
TEST_F(HostCommandTest, CorruptFilesAreReportedAndNeverReplaced) {
    // state.json: its text, or edits "POINTER JSON;..." (no JSON: the member goes); its entries
    // are 1 Root, 2 pci, 3 the card, 4 another card, 5 and 6 their drivers, 7 a device under 6,
    // and extensions 1 to 8. Other files: their bytes ("" removes them).
    const char* state = "state.json";
    const std::string add8 = R"(/entries/- {"id": 8, "name": "x", "class": "x", "parent": )";
    const std::tuple<const char*, std::string, const char*, const char*> cases[] = {
        {state, "{not json", "status", ""},
        {state, "[]", "status", "the file is not an object"},
        {state, "/faults", "status", "missing \"faults\""},
        {state, "/entries/6/parent 99", "", "registry entry 7 has no parent 99"},
        {state, "/cardEntry 3.5", "status", "\"cardEntry\" is not an integer"},
        {state, "/auth \"ask\"", "status", "\"auth\" is not allow, deny or cancel"},
        {state, "/cardEntry 5", "status", "\"cardEntry\" lies under an extension's entry"},
        {state, "/cardEntry 7", "status", "\"cardEntry\" names a device"},
        {state, add8 + "5};/nextEntryId 9;/cardEntry 8", "status", "\"cardEntry\" lies under"},
        {state, "/entries/1/parent 3", "status", "registry entry 2 has no parent 3"},
        {state, "/entries/3/parent 4", "status", "registry entry 4 has no parent 4"},
        {state, add8 + "7};/nextEntryId 9", "status", "registry entry 8 hangs from a SCSI"},
        {state, "/nextEntryId 7", "status", "\"nextEntryId\" is not above every entry id"},
        {state, "/nextExtensionIndex 8", "status", "\"nextExtensionIndex\" is not above"},
        {state, "/nextExtensionIndex 1073741825", "status", "\"nextExtensionIndex\" is not an"},
        {state, "/extensions/7/address 4503599627370490", "status", "com.tavik.driver.ZolSC820"},
        {state, "/nextEntryId 4294967296", "status", "\"nextEntryId\" is not an integer"},
        {"eeprom.bin", std::string(200, 'B'), "eeprom show", "200 bytes, expected 308"},
        {"eeprom.bin", std::string(309, 'B'), "eeprom get @out", "309 bytes, expected 308"},
        {"factory.bin", "", "factory get @out", "the file is missing"},
        {"flash.bin", std::string(65537, 'B'), "flash get @out", "65537 bytes, expected 65536"},
        {"driver.bin", std::string(200, 'B'), "flash erase", "200 bytes, expected 176"},
    };
    for (const auto& [file, edit, verb, reason] : cases) {
        host.hostOk({"init", "--force"});
        edit.empty()     ? void(fs::remove(db(file)))
        : edit[0] == '/' ? EditState(db(file), edit)
                         : WriteFileBytes(db(file), edit);
        const std::string bytes = ReadFileBytes(db(file));
        for (const char* each : *verb
                                    ? std::vector<const char*>{verb}  // else every verb
                                    : std::vector<const char*>{"status", "auth deny", "attach 1",
                                                               "flash erase", "/usr/sbin/kextstat"})
            run(each, 1, db(file) + " is corrupt: " + reason);
        EXPECT_EQ(ReadFileBytes(db(file)), bytes) << reason;
        EXPECT_FALSE(std::filesystem::exists(scratch.path() + "/out"));
    }
    std::filesystem::remove(db("state.json"));
    run("status", 1, "no emulated host at " + host.root());
}

// With a file operation failed under it, a verb reports what is on the disk (the fault sweep
// checks that every verb leaves the old file or the new one): a file replaced whose folder was
// not flushed is reported done, a host partly laid out says how far it came.
TEST_F(HostCommandTest, AFailedFileOperationIsReportedAsWhatHappened) {
    const std::string state = ReadFileBytes(db("state.json"));
    run("attach 5", 0, "attach: done, but it may not be on the disk yet",
        {std::string("LD_PRELOAD=") + SC820_FAULT_LIBRARY, "SC820_FAULT=sync:2:5",
         "SC820_FAULT_PATH=" + db()});
    EXPECT_NE(ReadFileBytes(db("state.json")), state);
    run("init --force", 1,
        "partly laid out (the tools, the EEPROM record, the factory record replaced)",
        {std::string("LD_PRELOAD=") + SC820_FAULT_LIBRARY, "SC820_FAULT=rename:1:5",
         "SC820_FAULT_PATH=" + db("flash.bin")});
}

// `repair` rebuilds a corrupt kernel and driver state and the tools, and keeps the card's
// records, its flash and the log.
TEST_F(HostCommandTest, RepairRebuildsTheStateAndKeepsTheCard) {
    host.hostOk({"factory", "put", put("factory", PatternRecord(6))});
    host.hostOk({"flash", "put", put("img", std::string(5000, '\x5a'))});
    host.swapDrivers();
    const auto log = host.logLines();
    const auto before = Files(db());
    EXPECT_EQ(before.at("factory.bin"), PatternRecord(6));
    WriteFileBytes(db("state.json"), "{\"format\": 1, \"entries\": [");
    WriteFileBytes(db("driver.bin"), std::string(176, '\0'));
    std::filesystem::remove(host.root() + "/sbin/kextload");
    run("repair", 0, "repaired the host at " + host.root());
    for (const char* name : {"eeprom.bin", "factory.bin", "flash.bin"})
        EXPECT_EQ(ReadFileBytes(db(name)), before.at(name)) << name;
    EXPECT_EQ(host.logLines(), log);
    EXPECT_EQ(StatusFact(host, "commands"), "0 0 0 0 0 0");
    host.swapDrivers();  // the tools are back
    EXPECT_EQ(StatusFact(host, "utility-services"), "1");
    std::string out;
    EXPECT_EQ(RunProgram({SC820_HOST_BINARY, "--root", scratch.path(), "repair"}, &out), 1);
    EXPECT_THAT(out, HasSubstr("no emulated host at " + scratch.path()));
}

// A new host's card holds these records (the configuration: host ID 7, BIOS and CD-ROM boot
// on, 16 targets, parity on, the per-target pattern, board 2.01, distinctive padding; the
// factory settings: board 1.10, burst off, automatic terminators) and a 32 KiB option ROM
// whose bytes sum to zero, followed by erased flash.
TEST_F(HostCommandTest, ANewCardHoldsTheDefaultRecordsAndBios) {
    auto hex = [&](const char* name, size_t from, size_t count) {
        std::string text;
        for (unsigned char byte : ReadFileBytes(db(name)).substr(from, count)) {
            text += "0123456789abcdef"[byte >> 4];
            text += "0123456789abcdef"[byte & 15];
        }
        return text;
    };
    std::string ones;  // the factory record's 64 per-target settings
    for (int i = 0; i < 64; ++i) ones += "01000000";
    const std::pair<const char*, std::string> records[] = {
        {"eeprom.bin",
         "010000000700a55a01000000010000000000000002103cc30100000003000000010000000100000001000000"
         "0100000000000000010000000100000001000000010000000000000001000000010000000100000001000000"
         "0000000001000000010000000100000001000000010000000100000001000000010000000100000001000000"
         "0000000001000000000000000100000000000000010000000000000001000000010000000100000000000000"
         "0100000001000000010000000100000001000000010000000100000001000000010000000100000001000000"
         "0100000001000000020000000300000004000000050000000600000007000000010000000200000003000000"
         "0400000005000000060000000700000001000000020000005e990120020ff01edec0200801000000034dd47"
         "7"},
        {"factory.bin", "0100000007000000010000000000000000000000001000000100000004000000" + ones +
                            "0000011001000000000000000000000000000000"},
    };
    for (const auto& [name, bytes] : records) EXPECT_EQ(hex(name, 0, 308), bytes) << name;
    EXPECT_EQ(hex("flash.bin", 0, 3) + hex("flash.bin", 0x80, 8) + hex("flash.bin", 0x7ff8, 9),
              "55aa403d02a12d1569efd266266e9fcd90fa6dff");
    const std::string flash = ReadFileBytes(db("flash.bin"));
    EXPECT_EQ(flash.substr(0x20, 26), "SC820 PCI SCSI BIOS 1.20\r\n");
    EXPECT_EQ(flash.find_first_not_of('\xff', 0x8000), std::string::npos);
    EXPECT_EQ(flash.size(), 65536u);
    EXPECT_EQ(emu::Crc16X25("123456789"), 0x906E);  // the driver state's checksum: X.25's check
    const std::string shown = run("eeprom show", 0, "ResetToSelTime 2\nTargets 16\n");
    EXPECT_EQ(std::count(shown.begin(), shown.end(), '\n'), 85) << "one line per field";
}

// A driver with a device hanging from it is not unloaded (and nothing is logged); the card holds
// one driver at a time: the utility extension loaded while the normal driver serves the card
// stays without a service until the card is free and it is loaded again.
TEST_F(HostCommandTest, TheCardServesOneDriverAtATimeAndAnInUseDriverStays) {
    const std::string unload = std::string("/sbin/kextunload -m ") + kSC820DriverBundleID;
    // The command, its status, what it says, the utility services after it.
    const std::tuple<std::string, int, std::string, const char*> steps[] = {
        {"attach 3", 0, "", "0"},
        {unload, 1, "ZolSC820 is in use: a SCSI device (target 3) is attached to it\n", "0"},
        {"detach 3", 0, "", "0"},
        {"/sbin/kextload @utility", 0, "the card is held by another driver", "0"},
        {"/usr/sbin/kextstat", 0, " com.tavik.iokit.sc820utl (2.1.0)", "0"},
        {unload, 0, "", "0"},
        {"/sbin/kextload @utility", 0, "now serves the card", "1"},
        {"/sbin/kextload @utility", 0, "", "1"},  // served once
        // The fault registers the service twice, once however often it is switched on.
        {"fault duplicate-service on", 0, "", "2"},
        {"fault duplicate-service on", 0, "", "2"},
        {"fault duplicate-service off", 0, "", "1"},
    };
    for (const auto& [command, status, says, services] : steps) {
        run(command, status, says);
        EXPECT_EQ(testhost::StatusFact(host, "utility-services"), services);
        EXPECT_TRUE(status == 0 || host.logLines().empty()) << command;
    }
}

TEST(KernelRegistryTest, DevicesAreToldApartByTheDriverTheyHangFrom) {
    // The default host has one device, target 2, on another controller; a target 0 follows it.
    emu::HostState state = emu::DefaultHostState();
    auto other = state.entries.back();
    other.id = state.nextEntryId++, other.target = 0;
    state.entries.push_back(other);
    emu::KernelRegistry registry(state);
    registry.attachDevice(7);
    registry.attachDevice(2);  // the other controller's device has this target too
    EXPECT_EQ(registry.cardTargets(), (std::vector<int>{2, 7}));
    EXPECT_EQ(registry.otherTargets(), (std::vector<int>{0, 2}));
    registry.detachDevice(2);  // the card's target 2, not the other controller's
    EXPECT_EQ(registry.cardTargets(), (std::vector<int>{7}));
    EXPECT_EQ(registry.otherTargets(), (std::vector<int>{0, 2}));
    EXPECT_THROW(registry.detachDevice(2), emu::HostError);
    emu::KernelRegistry reader(static_cast<const emu::HostState&>(state));
    EXPECT_THROW(reader.attachDevice(9), emu::HostError);
    EXPECT_THROW(reader.removeOwnedBy(kSC820DriverBundleID), emu::HostError);
    EXPECT_EQ(reader.cardTargets(), (std::vector<int>{7}));  // unchanged, and reading works
}

using nested::BinaryArrays;
using nested::XmlArrays;

// `n` times `open`, then `n` times `close`.
std::string Nest(size_t n, const char* open = "<array>", const char* close = "</array>") {
    return n ? open + Nest(n - 1, open, close) + close : "";
}

TEST(PropertyListDepthTest, XmlCountsNestedElementsAndBinaryFollowsReferencesAndCountsCopies) {
    std::string truncated = BinaryArrays(3), badRef = BinaryArrays(2);
    truncated.erase(10, 4);  // the trailer's offsets now point past the table
    badRef[12] = 9;          // array 0 refers to object 9 of 2
    const std::pair<std::string, bool> cases[] = {
        {XmlArrays(63), true},  // 64 levels with <plist>
        {XmlArrays(64), false},
        {"<?xml version=\"1.0\"?><!DOCTYPE plist SYSTEM \"x.dtd\"><plist><dict/></plist>", true},
        // Empty elements, comments, CDATA and quoted '>' add nothing and take nothing away.
        {"<plist><array>" + Nest(100, "<array/><array /><true/>", "") + "</array></plist>", true},
        {"<plist><!-- " + Nest(100) + " --></plist>", true},
        {"<plist a=\"<array>\" b='>'><string><![CDATA[</a></a><a>]]></string></plist>", true},
        // A closing tag hidden in CDATA must not let more levels in: 65 levels.
        {"<plist><array><![CDATA[</array></array>]]>" + Nest(63) + "</array></plist>", false},
        {"<plist><!-- never ends", false},
        {"<plist><array", false},
        {BinaryArrays(64), true},
        {BinaryArrays(65), false},
        {BinaryArrays(19, 2), true},        // 2^19 - 1 copies
        {BinaryArrays(21, 2), false},       // 2^21 - 1 copies
        {BinaryArrays(60, 2), false},       // 2^60: shallow enough, far too many
        {BinaryArrays(1, 1, true), false},  // an array holding itself
        {truncated, false},
        {badRef, false},
        {"bplist00", false},
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(sc820::PropertyListWithinDepth(cases[i].first), cases[i].second) << "case " << i;
}

// The host's folder of records moved onto a small disk that is then filled up: every write
// fails as a whole and keeps the old files. Made read-only, the disk still serves every read.
TEST_F(HostFilesTest, OnAFullOrReadOnlyDiskWritesFailWholeAndReadsWork) {
    auto files = Files(db());
    SmallDisk disk(db(), 512 * 1024);
    if (!disk.mounted()) GTEST_SKIP() << disk.reason();
    for (const auto& [name, bytes] : files) WriteFileBytes(db(name), bytes);
    WriteFileBytes(db("copy.bin"), files["copy.bin"] = "the old copy");
    put("record", PatternRecord(1));
    put("image", std::string(4000, '\x11'));
    disk.fill();
    files["filler"] = ReadFileBytes(db("filler"));
    for (const std::string& command :
         Words{"eeprom put @record", "factory put @record", "flash put @image", "flash erase",
               "attach 3", "auth deny", "eeprom get " + db("copy.bin"),
               "flash get " + db("copy.bin")})
        run(command, 1, "No space left on device");
    EXPECT_EQ(Files(db()), files);
    fs::remove(db("filler"));
    run("eeprom put @record", 0, "");
    EXPECT_EQ(ReadFileBytes(db("eeprom.bin")), PatternRecord(1));
    disk.makeReadOnly();
    put("r", PatternRecord(2));
    for (const char* command : {"status", "eeprom show", "log"}) run(command, 0, "");
    run("/usr/sbin/kextstat", 0, "com.tavik.driver.ZolSC820");
    run("auth deny", 1, "Read-only file system");
}

// Whatever is planted, a command neither waits, nor reaches outside, nor runs out of memory:
// `get FILE` replaces a regular file (whole, keeping its mode) and nothing else; a file planted in
// the host is refused naming it, and `sc820-host repair` mends the host. "*erase" and "*claim"
// erase the flash and claim the user client in this process, whose descriptors of the host's
// files (worked on in place) are kept from before the file was planted.
TEST_F(HostFilesTest, HostileFilesAreRefusedWithoutWaitingOrReachingOutside) {
    alarm(60);  // a command that waits on a FIFO ends the test program instead of hanging it
    const std::string target = scratch.path() + "/target";
    put("Bad.kext/Contents/Info.plist",
        "<plist><dict><key>CFBundleIdentifier</key><string>com.example.\xff</string>"
        "<key>CFBundleVersion</key><string>1</string></dict></plist>");
    put("Xml.kext/Contents/Info.plist", nested::XmlArrays(1'000'000));
    put("Binary.kext/Contents/Info.plist", nested::BinaryArrays(1'000'000));
    put("Array.kext/Contents/Info.plist", "<plist><array/></plist>");
    // The path planted (in the host's folder of records, or "@out" in scratch; "" plants nothing),
    // its kind (huge: 1 TiB, sparse), the command, its status and what it says.
    const std::tuple<std::string, std::string, std::string, int, std::string> cases[] = {
        {"../../log/system.log", "fifo", "log", 1, "system.log is a FIFO"},
        {"../../log/system.log", "symlink", "log", 1, "system.log is a symbolic link"},
        {"../../log/system.log", "huge", "log", 0, "(earlier entries left out"},
        {"state.json", "huge", "status", 1, "state.json is corrupt: more than 4194304 bytes"},
        {"eeprom.bin", "symlink", "eeprom show", 1, "eeprom.bin is a symbolic link"},
        {"eeprom.bin", "hardlink", "eeprom show", 1, "eeprom.bin is a file with another name"},
        {"lock", "dangling", "init --force", 0, "initialised"},
        {"lock", "symlink", "status", 1, "lock is a symbolic link"},
        {"", "", "/sbin/kextload @Bad.kext", 1, "CFBundleIdentifier is not valid UTF-8"},
        {"", "", "/sbin/kextload @Xml.kext", 1, "nested too deeply"},
        {"", "", "/sbin/kextload @Binary.kext", 1, "nested too deeply"},
        {"", "", "/sbin/kextload @Array.kext", 1, "not a property list dictionary"},
        {"@out", "symlink", "eeprom get @out", 1, "is a symbolic link"},
        {"@out", "dangling", "factory get @out", 1, "is a symbolic link"},
        {"@out", "fifo", "flash get @out", 1, "is a FIFO"},
        {"@out", "device", "eeprom get @out", 1, "is a device"},
        {"@out", "folder", "factory get @out", 1, "is a folder"},
        {"@out", "plain", "eeprom get @out", 0, ""},
        {"flash.bin", "fifo", "*erase", 1,
         "flash.bin is a FIFO, not a file of the host's own: sc820-host repair mends it"},
        {"driver.bin", "symlink", "*erase", 1, "driver.bin is a symbolic link, not a file of"},
        {"flash.bin", "hardlink", "*erase", 1, "flash.bin is a file with another name (2 links)"},
        {"utility-client.lock", "symlink", "*claim", 1, "utility-client.lock"},
        {"utility-client.lock", "fifo", "*claim", 1, "utility-client.lock"},
        {"utility-client.lock", "folder", "*claim", 1, "utility-client.lock"},
    };
    for (const auto& [planted, kind, command, status, says] : cases) {
        SCOPED_TRACE(command + " " + kind);
        const bool inHost = planted[0] != '@';
        const std::string path = inHost ? db(planted) : scratch.path() + "/out";
        std::string chunk(4000, '\0'), problem;
        if (command[0] == '*') {
            serve();
            call(emu::CallForm::structureOutput, kReadFlash, chunk.data(), 4000);
        }
        WriteFileBytes(target, kind == "hardlink" ? ReadFileBytes(path) : "outside");
        const std::string outside = ReadFileBytes(target);
        ASSERT_TRUE(kind != "huge" || truncate(target.c_str(), 1ll << 40) == 0);
        if (!planted.empty()) fs::remove(path);
        ASSERT_EQ(kind == "fifo"       ? mkfifo(path.c_str(), 0644)
                  : kind == "symlink"  ? symlink(target.c_str(), path.c_str())
                  : kind == "dangling" ? symlink((target + ".new").c_str(), path.c_str())
                  : kind == "hardlink" ? link(target.c_str(), path.c_str())
                  : kind == "huge"     ? rename(target.c_str(), path.c_str())
                  : kind == "device"   ? mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 3))
                  : kind == "folder"   ? mkdir(path.c_str(), 0755)
                  : kind == "plain"    ? (WriteFileBytes(path, outside), chmod(path.c_str(), 0640))
                                       : 0,
                  0);
        struct stat before = {}, after = {};
        lstat(path.c_str(), &before);
        const auto files = planted.empty() ? Files(db()) : decltype(Files(db()))();
        if (command[0] != '*') {
            run(command, status, says);
        } else {
            EXPECT_EQ(
                command == "*claim"
                    ? emu::ClaimUtilityClient(emu::HostPaths(host.root()), &problem)
                    : call(emu::CallForm::structureInput, kEraseFlash, chunk.data(), 2, &problem),
                kIOReturnError);
            EXPECT_THAT(problem, HasSubstr(says));
        }
        EXPECT_FALSE(fs::exists(target + ".new"));
        EXPECT_TRUE(kind == "huge" || ReadFileBytes(target) == outside);
        EXPECT_TRUE(!planted.empty() || Files(db()) == files);
        lstat(path.c_str(), &after);
        EXPECT_TRUE(inHost || (after.st_ino == before.st_ino) == (status != 0));
        EXPECT_EQ(after.st_mode, inHost || status != 0 ? after.st_mode : S_IFREG | 0640);
        if (inHost) {
            if (kind == "folder") fs::remove(path);  // repair leaves a folder to its owner
            run("repair", 0, "repaired");
            run(planted.empty() || command[0] == '*' ? "status" : command, 0, "");
            EXPECT_TRUE(planted.empty() || kind == "folder" ||
                        (lstat(path.c_str(), &after) == 0 && S_ISREG(after.st_mode) &&
                         after.st_nlink == 1));
        }
        fs::remove(target);
    }
    alarm(0);
    EXPECT_EQ(ReadFileBytes(scratch.path() + "/out"), ReadFileBytes(db("eeprom.bin")));
    for (const auto& entry : fs::directory_iterator(scratch.path()))
        EXPECT_NE(entry.path().filename().string()[0], '.') << "a temporary was left behind";
}

// The input of `put` is read before the host is locked: a FIFO nobody writes to yet keeps
// only its own command waiting (timeout(1) ends one that would wait for the lock: exit 124).
TEST_F(HostFilesTest, AFifoGivenToPutBlocksNoOtherCommand) {
    ASSERT_EQ(mkfifo((scratch.path() + "/fifo").c_str(), 0600), 0);
    std::thread putter([&] { run("eeprom put @fifo", 0, ""); });
    std::string out;
    EXPECT_EQ(RunProgram({"/usr/bin/timeout", "30", SC820_HOST_BINARY, "--root", host.root(),
                          "auth", "deny"},
                         &out),
              0)
        << out;
    WriteFileBytes(scratch.path() + "/fifo", PatternRecord(9));
    putter.join();
    EXPECT_EQ(testhost::StatusFact(host, "auth"), "deny");
    EXPECT_EQ(ReadFileBytes(db("eeprom.bin")), PatternRecord(9));
}

// Output that cannot be written makes the command fail; a standard descriptor closed at the
// start is never taken by a file of the host, whose text would then land in it.
TEST_F(HostFilesTest, OutputErrorsFailAndClosedStreamsStayClosedToHostFiles) {
    const std::string tool = SC820_HOST_BINARY " --root '" + host.root() + "' ",
                      kextstat = "'" + host.root() + "/usr/sbin/kextstat' ";
    WriteFileBytes(host.root() + "/var/log/system.log", "2026-01-01 00:00:00.000 test[1]: one\n");
    const std::tuple<std::string, int, const char*> cases[] = {
        {tool + "status >/dev/full", 1, "sc820-host: cannot write the output"},
        {kextstat + ">/dev/full", 1, "kextstat: cannot write the output"},
        {tool + "status <&- >&- 2>&-", 0, ""},
        {kextstat + ">&-", 0, ""},
    };
    for (const auto& [command, status, says] : cases) {
        std::string out;
        EXPECT_EQ(RunProgram({"/bin/sh", "-c", command}, &out), status) << command << ": " << out;
        EXPECT_THAT(out, HasSubstr(says)) << command;
        EXPECT_EQ(ReadFileBytes(db("lock")), "") << command;
    }
}

// A replacement killed half-way leaves a temporary; the next replacement in the host's folder,
// or the next repair for a copy of the program, removes it, and only it.
TEST_F(HostFilesTest, TheNextReplacementRemovesTemporariesOfKilledOnes) {
    const std::string libexec = host.root() + "/usr/libexec";
    put("r", PatternRecord(2));
    for (const char* command : {"eeprom put @r", "auth allow", "repair"}) {
        for (const char* name : {".eeprom.bin.tmp-k1ll3d", ".state.json.tmp-abcdef", ".keep"})
            WriteFileBytes(db(name), "half");
        WriteFileBytes(libexec + "/.sc820-host.tmp-k1ll3d", "half a program");
        run(command, 0, "");
        std::string names;
        for (const auto& [name, bytes] : Files(db())) names += name + " ";
        EXPECT_EQ(names, ".keep driver.bin eeprom.bin factory.bin flash.bin lock state.json ");
    }
    EXPECT_EQ(Files(libexec).size(), 1u);
}

// The tools of a host link, relatively, to the host's own copy of the program: the host keeps
// working when the program that made it is deleted, and when it is moved.
TEST(HostProgramTest, AHostOutlivesTheProgramThatMadeIt) {
    TempDir scratch;
    const std::string program = scratch.path() + "/build/sc820-host";
    fs::create_directories(scratch.path() + "/build");
    fs::copy_file(SC820_HOST_BINARY, program);
    std::string out;
    ASSERT_EQ(RunProgram({program, "--root", scratch.path() + "/host", "init"}, &out), 0) << out;
    // The copy is a hard link where the file system allows it.
    EXPECT_TRUE(fs::equivalent(program, scratch.path() + "/host/usr/libexec/sc820-host"));
    fs::remove_all(scratch.path() + "/build");
    fs::rename(scratch.path() + "/host", scratch.path() + "/moved");
    // A tool finds its host from the path it was started by, not from the environment.
    const std::string unload =
        "cd '" + scratch.path() + "/moved' && PATH=./sbin kextunload -m " + kSC820DriverBundleID;
    EXPECT_EQ(RunProgram({"/bin/sh", "-c", unload}, &out, {"SC820_HOST_ROOT=/no"}), 0) << out;
}

}  // namespace
