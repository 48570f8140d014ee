// The sc820-host admin command and the driver tools on the host's files: wrong forms, failing
// and refused operations, corrupt files, failed file operations, repair, help and listings.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>
#include <regex>

#include "Sc820Version.h"
#include "driverif/CommandCodes.h"
#include "emulator/card/DriverState.h"
#include "tests/emulator/HostFixture.h"

using testhost::PatternRecord;
using testhost::StatusFact;
using testing::HasSubstr;
using Json = nlohmann::json;

namespace {

class HostCommandTest : public HostFixture {};

const std::string kKext =
    std::string(SC820_BUNDLE_DIR) + "/Contents/Resources/ZOL_SC820_DRVR_X.kext";

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
    std::filesystem::create_directory_symlink(
        SC820_BUNDLE_DIR "/Contents/Resources/ZOL_SC820_DRVR_X.kext", scratch.path() + "/kext");
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
        {"eeprom show", 0, "\npad3 0f f0 1e\nReserved1 0x0820c0de\n", ""},
        {"attach 4", 1, "already attached", ""},
        // At the edge of a counter the state reads; the operation that would pass it is refused.
        {"attach 3", 1, unsaved, "/nextEntryId 4294967295"},
        {"/sbin/kextload @kext", 1, unsaved, "/nextExtensionIndex 1073741824"},
        {"/sbin/kextload @kext", 1, unsaved, "/nextLoadAddress 4503599627370000"},
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
    // and extensions 1 to 8. Other files: the size they are cut or grown to ("" removes them).
    const std::string add8 = R"(/entries/- {"id": 8, "name": "x", "class": "x", "parent": )";
    const std::tuple<const char*, std::string, const char*, const char*> cases[] = {
        {"state.json", "{not json", "status", ""},
        {"state.json", "[]", "status", "the file is not an object"},
        {"state.json", "/faults", "status", "missing \"faults\""},
        {"state.json", "/entries/6/parent 99", "", "registry entry 7 has no parent 99"},
        {"state.json", "/cardEntry 3.5", "status", "\"cardEntry\" is not an integer"},
        {"state.json", "/auth \"ask\"", "status", "\"auth\" is not allow, deny or cancel"},
        {"state.json", "/cardEntry 5", "status", "\"cardEntry\" lies under an extension's entry"},
        {"state.json", "/cardEntry 7", "status", "\"cardEntry\" names a device"},
        {"state.json", add8 + "5};/nextEntryId 9;/cardEntry 8", "status",
         "\"cardEntry\" lies under an extension's entry"},
        {"state.json", "/entries/1/parent 3", "status",
         "registry entry 2 has no parent 3 registered before it"},
        {"state.json", "/entries/3/parent 4", "status",
         "registry entry 4 has no parent 4 registered before it"},
        {"state.json", add8 + "7};/nextEntryId 9", "status",
         "registry entry 8 hangs from a SCSI device"},
        {"state.json", "/nextEntryId 7", "status", "\"nextEntryId\" is not above every entry id"},
        {"state.json", "/nextExtensionIndex 8", "status",
         "\"nextExtensionIndex\" is not above every index"},
        {"state.json", "/nextExtensionIndex 1073741825", "status",
         "\"nextExtensionIndex\" is not an integer from 1 to 1073741824"},
        {"state.json", "/extensions/7/address 4503599627370490", "status",
         "com.tavik.driver.ZolSC820 lies beyond the largest load address"},
        {"state.json", "/nextEntryId 4294967296", "status",
         "\"nextEntryId\" is not an integer from 1 to 4294967295"},
        {"eeprom.bin", "200", "eeprom show", "200 bytes, expected 308"},
        {"eeprom.bin", "309", "eeprom get @out", "309 bytes, expected 308"},
        {"factory.bin", "", "factory get @out", "the file is missing"},
        {"flash.bin", "65537", "flash get @out", "65537 bytes, expected 65536"},
        {"driver.bin", "200", "flash erase", "200 bytes, expected 176"},
    };
    for (const auto& [file, edit, verb, reason] : cases) {
        host.hostOk({"init", "--force"});
        if (edit[0] == '/') {
            EditState(db(file), edit);
        } else if (*file == 's' || edit.empty()) {
            edit.empty() ? void(std::filesystem::remove(db(file))) : WriteFileBytes(db(file), edit);
        } else {
            WriteFileBytes(db(file), std::string(std::stoul(edit), 'B'));
        }
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
// records, its flash and the log; records travel through get and put byte for byte.
TEST_F(HostCommandTest, RepairRebuildsTheStateAndKeepsTheCard) {
    for (const char* part : {"eeprom", "factory"}) {
        host.hostOk({part, "put", put(part, PatternRecord(part[0]))});
        host.hostOk({part, "get", scratch.path() + "/out"});
        EXPECT_EQ(ReadFileBytes(scratch.path() + "/out"), PatternRecord(part[0])) << part;
    }
    host.hostOk({"flash", "put", put("img", std::string(5000, '\x5a'))});
    host.swapDrivers();
    const auto log = host.logLines();
    const auto before = Files(db());
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

// --help, --version and VERB --help print to standard output and exit 0 without a host.
TEST(CommandLineTest, HelpAndVersionPrintAndExit0) {
    TempDir nowhere;
    const std::pair<std::string, std::string> cases[] = {
        {"--version", std::string("sc820-host ") + kSc820Version},
        {"--help", "  --root DIR                  the host's root folder"},
        {"-h", "${XDG_STATE_HOME:-$HOME/.local/state}/sc820/host)"},
        {"eeprom get --help", "sc820-host eeprom get"},
    };
    for (const auto& [words, shows] : cases) {
        std::string out;
        const std::string env = "SC820_HOST_ROOT=" + nowhere.path() + " ";
        EXPECT_EQ(RunProgram({"/bin/sh", "-c", env + SC820_HOST_BINARY " " + words}, &out), 0);
        EXPECT_THAT(out, HasSubstr(shows)) << words;
    }
    EXPECT_TRUE(std::filesystem::is_empty(nowhere.path()));
    EXPECT_EQ(emu::Crc16X25("123456789"), 0x906E);  // the driver state's checksum: X.25's check
}

// Every line of the listing has its shape; repeated links count each time, links to unloaded
// extensions count for nobody; kmodstat lists the same without the links.
TEST_F(HostCommandTest, ListingsShowEachExtensionAndCountEveryLink) {
    Json state = Json::parse(ReadFileBytes(db("state.json")));
    const std::vector<std::vector<int>> links = {{}, {1}, {1, 1}, {2, 99}, {}, {5}, {1}, {6}};
    for (size_t i = 0; i < links.size(); ++i) state["extensions"][i]["linked"] = links[i];
    WriteFileBytes(db("state.json"), state.dump());
    static const std::regex shape(
        R"(^ *\d+ +(\d+) 0x[0-9a-f]+ +0x[0-9a-f]+ +0x[0-9a-f]+ +\S+ \([^()]*\)(?: <[0-9 ]+>)?$)");
    const std::string kextstat =
        run("/usr/sbin/kextstat", 0, " com.tavik.driver.ZolSC820 (3.1.4) <6>");
    std::istringstream in(kextstat);
    std::string line, refs;
    std::getline(in, line);
    EXPECT_THAT(line, testing::MatchesRegex("Index Refs Address .*<Linked Against>"));
    for (std::smatch m; std::getline(in, line);)
        refs += std::regex_match(line, m, shape) ? m[1].str() + " " : line;
    EXPECT_EQ(refs, "4 1 0 0 1 1 0 0 ");
    std::filesystem::create_symlink(SC820_HOST_BINARY, host.root() + "/usr/sbin/kmodstat");
    EXPECT_EQ(run("/usr/sbin/kmodstat", 0, ""),
              std::regex_replace(kextstat, std::regex(" <[^>]*>"), ""));
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
}

}  // namespace
