// The sc820-host admin command and the driver tools on the host's files: wrong forms, failing
// and refused operations, corrupt files, failed file operations, repair, help and listings.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>

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

// A change of the state file's text through its JSON.
std::function<std::string(std::string)> Edit(std::function<void(Json&)> edit) {
    return [edit](std::string text) {
        Json state = Json::parse(text);
        edit(state);
        return state.dump(4);
    };
}

Json& Entry(Json& state, int id) {
    for (Json& entry : state["entries"])
        if (entry["id"] == id) return entry;
    ADD_FAILURE() << "no entry " << id;
    return state["entries"][0];
}

struct CommandCase {
    std::string command;  // a row exiting 0 prepares the next
    int status;
    const char* says;
    std::function<std::string(std::string)> state = {};  // edits the host's first state first
};

// Each wrong form exits 2 with the usage, each failing or refused operation exits 1 with one
// line; neither changes a file of the host.
TEST_F(HostCommandTest, WrongFormsExit2AndFailingOperationsExit1ChangingNothing) {
    put("r307", std::string(307, 'x'));
    put("r309", std::string(309, 'x'));
    put("empty", "");
    put("big", std::string(kFlashSize + 1, 'x'));
    std::filesystem::create_directory_symlink(kKext, scratch.path() + "/kext");
    const std::string firstState = ReadFileBytes(db("state.json"));
    const char* unsaved = "refused to save a state that could not be read back";
    std::vector<CommandCase> cases = {
        {"init", 1, "already exists"},
        {"eeprom put @r307", 1, "307 bytes; a record holds 308"},
        {"eeprom put @r309", 1, "309 bytes; a record holds 308"},
        {"factory put @empty", 1, "0 bytes; a record holds 308"},
        {"eeprom put @missing", 1, "no such file"},
        {"flash put @big", 1, "65537 bytes; the flash holds 65536"},
        {"flash put /dev/zero", 1, "/dev/zero: more than 65536 bytes; the flash holds 65536"},
        {"eeprom put /dev/zero", 1, "/dev/zero: more than 308 bytes; a record holds 308"},
        {"factory put /dev/null", 1, "/dev/null: 0 bytes; a record holds 308"},
        {"flash put " + scratch.path(), 1, "is a folder"},
        {"detach 5", 1, "no device with target 5"},
        {"attach 4", 0, ""},
        {"attach 4", 1, "already attached"},
        {"--help", 0, "  --root DIR                  the host's root folder"},
        {"--help", 0, "${XDG_STATE_HOME:-$HOME/.local/state}/sc820/host)"},
        // At the edge of a counter the state reads; the operation that would pass it is refused.
        {"attach 3", 1, unsaved, Edit([](Json& s) { s["nextEntryId"] = 4294967295u; })},
        {"/sbin/kextload @kext", 1, unsaved,
         Edit([](Json& s) { s["nextExtensionIndex"] = 1073741824; })},
        {"/sbin/kextload @kext", 1, unsaved,
         Edit([](Json& s) { s["nextLoadAddress"] = 4503599627370000; })},
    };
    std::istringstream wrongForms(
        ";bogus;--root;init --now;status all;eeprom;eeprom show extra;eeprom get;"
        "factory show;factory put a b;flash erase now;attach 16;attach -1;attach x;"
        "attach 1 2;detach 99;auth maybe;fault master-port;fault nonsense on;"
        "fault refuse-6 on;fault open yes;restart now;");
    for (std::string form; std::getline(wrongForms, form, ';');)
        cases.push_back({form, 2, "usage: sc820-host"});
    for (const auto& c : cases) {
        if (c.state) WriteFileBytes(db("state.json"), c.state(firstState));
        const auto before = Files(db());
        run(c.command, c.status, c.says);
        if (c.status != 0) {
            EXPECT_EQ(Files(db()), before) << c.command;
        }
    }
}

struct CorruptCase {
    const char* file;
    std::function<std::string(std::string)> damage;
    const char* verb;  // "" for the state: every verb and kextstat
    const char* reason;
};

// A corrupt file is reported, naming it and why, by every command that reads it, and left as it
// is; `init --force` makes a new host.
TEST_F(HostCommandTest, CorruptFilesAreReportedAndNeverReplaced) {
    auto text = [](const char* t) { return [t](std::string) { return std::string(t); }; };
    auto size = [](size_t n) { return [n](std::string s) { return s.resize(n, 'B'), s; }; };
    const std::vector<CorruptCase> cases = {
        {"state.json", text("{not json"), "", ""},
        {"state.json", [](std::string s) { return s.substr(0, s.size() / 2); }, "", ""},
        {"state.json", text("[]"), "", "the file is not an object"},
        {"state.json", Edit([](Json& s) { s.erase("faults"); }), "", "missing \"faults\""},
        {"state.json", Edit([](Json& s) { Entry(s, 7)["parent"] = 99; }), "",
         "registry entry 7 has no parent 99"},
        {"state.json", Edit([](Json& s) { s["cardEntry"] = 3.5; }), "",
         "\"cardEntry\" is not an integer"},
        {"state.json", Edit([](Json& s) { s["auth"] = "ask"; }), "",
         "\"auth\" is not allow, deny or cancel"},
        // States that no operation could carry (entries 1 Root, 2 pci, 3 the card, 4 another
        // card, 5 and 6 their drivers, 7 a device under 6; extensions 1 to 8).
        {"state.json", Edit([](Json& s) { s["cardEntry"] = 5; }), "",
         "\"cardEntry\" lies under an extension's entry"},
        {"state.json", Edit([](Json& s) { s["cardEntry"] = 7; }), "",
         "\"cardEntry\" names a device"},
        {"state.json", Edit([](Json& s) {
             s["entries"].push_back(Json{{"id", 8}, {"name", "x"}, {"class", "x"}, {"parent", 5}});
             s["nextEntryId"] = 9;
             s["cardEntry"] = 8;
         }),
         "", "\"cardEntry\" lies under an extension's entry"},
        {"state.json", Edit([](Json& s) { Entry(s, 2)["parent"] = 3; }), "",
         "registry entry 2 has no parent 3 registered before it"},
        {"state.json", Edit([](Json& s) { Entry(s, 4)["parent"] = 4; }), "",
         "registry entry 4 has no parent 4 registered before it"},
        {"state.json", Edit([](Json& s) {
             s["entries"].push_back(Json{{"id", 8}, {"name", "x"}, {"class", "x"}, {"parent", 7}});
             s["nextEntryId"] = 9;
         }),
         "", "registry entry 8 hangs from a SCSI device"},
        {"state.json", Edit([](Json& s) { s["nextEntryId"] = 7; }), "",
         "\"nextEntryId\" is not above every entry id"},
        {"state.json", Edit([](Json& s) { s["nextExtensionIndex"] = 8; }), "",
         "\"nextExtensionIndex\" is not above every index"},
        {"state.json", Edit([](Json& s) { s["nextExtensionIndex"] = 1073741825; }), "",
         "\"nextExtensionIndex\" is not an integer from 1 to 1073741824"},
        {"state.json", Edit([](Json& s) { s["extensions"][7]["address"] = 4503599627370490; }), "",
         "com.tavik.driver.ZolSC820 lies beyond the largest load address"},
        {"state.json", Edit([](Json& s) { s["nextEntryId"] = 4294967296; }), "",
         "\"nextEntryId\" is not an integer from 1 to 4294967295"},
        {"eeprom.bin", size(200), "eeprom show", "200 bytes, expected 308"},
        {"eeprom.bin", size(309), "eeprom get @out", "309 bytes, expected 308"},
        {"factory.bin", nullptr, "factory get @out", "the file is missing"},
        {"flash.bin", size(1000), "flash get @out", "1000 bytes, expected 65536"},
        {"flash.bin", size(65537), "flash get @out", "65537 bytes, expected 65536"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        host.hostOk({"init", "--force"});
        const std::string path = db(c.file);
        const std::string damaged = c.damage ? c.damage(ReadFileBytes(path)) : "";
        if (c.damage) {
            WriteFileBytes(path, damaged);
        } else {
            std::filesystem::remove(path);
        }
        const std::string says = path + " is corrupt: " + c.reason;
        for (const char* verb :
             {"status", "auth deny", "attach 1", "flash erase", "/usr/sbin/kextstat"})
            if (!*c.verb) run(verb, 1, says);
        if (*c.verb) run(c.verb, 1, says);
        EXPECT_EQ(ReadFileBytes(path), damaged);
        EXPECT_FALSE(std::filesystem::exists(scratch.path() + "/out"));
    }
    host.hostOk({"init", "--force"});
    EXPECT_EQ(StatusFact(host, "auth"), "allow");
    std::filesystem::remove(db("state.json"));
    run("status", 1, "no emulated host at " + host.root());
}

struct FaultCase {
    std::string command;
    std::string fault;  // KIND:N, on paths that start with var/db/sc820 and `under`
    const char* under;
    int status;
    const char* says;
    const char* changed;  // the file that the command replaces, or ""
};

// With a file operation failed under it, a verb reports what is on the disk: a failure leaves
// the file as it was, and a file replaced is reported done.
TEST_F(HostCommandTest, AFailedFileOperationIsReportedAsWhatHappened) {
    put("rec", PatternRecord(5));
    put("img", std::string(100, 'i'));
    const std::vector<FaultCase> cases = {
        {"eeprom put @rec", "sync:2", "", 0, "eeprom put: done, but it may not be on the disk yet",
         "eeprom.bin"},
        {"flash put @img", "sync:2", "", 0, "flash put: done, but it may not be on the disk yet",
         "flash.bin"},
        {"flash erase", "rename:1", "/flash.bin", 1, "cannot replace", ""},
        {"attach 5", "sync:2", "", 0, "attach: done, but it may not be on the disk yet",
         "state.json"},
        {"init --force", "rename:1", "/flash.bin", 1,
         "partly laid out (the tools, the EEPROM record, the factory record replaced)", ""},
    };
    for (const auto& c : cases) {
        const std::string before = ReadFileBytes(db("flash.bin")) + ReadFileBytes(db("driver.bin"));
        const std::string changed = *c.changed ? ReadFileBytes(db(c.changed)) : "";
        run(c.command, c.status, c.says,
            {std::string("LD_PRELOAD=") + SC820_FAULT_LIBRARY, "SC820_FAULT=" + c.fault + ":5",
             "SC820_FAULT_PATH=" + db() + c.under});
        if (*c.changed) {
            EXPECT_NE(ReadFileBytes(db(c.changed)), changed) << c.command;
        }
        if (c.status != 0 && c.command != "init --force") {
            EXPECT_EQ(ReadFileBytes(db("flash.bin")) + ReadFileBytes(db("driver.bin")), before);
        }
    }
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
    const std::vector<std::string> log = host.logLines();
    const std::string card = ReadFileBytes(db("eeprom.bin")) + ReadFileBytes(db("factory.bin")) +
                             ReadFileBytes(db("flash.bin"));
    WriteFileBytes(db("state.json"), "{\"format\": 1, \"entries\": [");
    WriteFileBytes(db("driver.bin"), std::string(176, '\0'));
    std::filesystem::remove(host.root() + "/sbin/kextload");
    run("status", 1, "is corrupt");
    run("repair", 0, "repaired the host at " + host.root());
    EXPECT_EQ(ReadFileBytes(db("eeprom.bin")) + ReadFileBytes(db("factory.bin")) +
                  ReadFileBytes(db("flash.bin")),
              card);
    EXPECT_EQ(host.logLines(), log);
    EXPECT_EQ(StatusFact(host, "commands"), "0 0 0 0 0 0");
    EXPECT_EQ(StatusFact(host, "utility-services"), "0");
    host.swapDrivers();  // the tools are back
    EXPECT_EQ(StatusFact(host, "utility-services"), "1");
    std::string out;
    EXPECT_EQ(RunProgram({SC820_HOST_BINARY, "--root", scratch.path(), "repair"}, &out), 1);
    EXPECT_THAT(out, HasSubstr("no emulated host at " + scratch.path()));
}

// --help, --version and VERB --help print to standard output and exit 0 without a host.
TEST(CommandLineTest, HelpAndVersionPrintAndExit0) {
    TempDir nowhere;
    const std::vector<std::pair<Words, std::vector<const char*>>> cases = {
        {{"--version"}, {"sc820-host ", kSc820Version}},
        {{"--help"},
         {"usage: sc820-host [--root DIR] COMMAND", "init", "repair", "status", "log", "eeprom",
          "factory", "flash", "attach", "detach", "auth", "fault"}},
        {{"-h"}, {"--root"}},
        {{"eeprom", "get", "--help"}, {"sc820-host eeprom get", "FILE"}},
        {{"fault", "--help"}, {"sc820-host fault", "NAME", "STATE"}},
        {{"repair", "--help"}, {"sc820-host repair"}},
    };
    for (const auto& [words, shows] : cases) {
        Words argv = {"/usr/bin/env", "SC820_HOST_ROOT=" + nowhere.path(), SC820_HOST_BINARY};
        argv.insert(argv.end(), words.begin(), words.end());
        std::string out;
        EXPECT_EQ(RunProgram(argv, &out), 0) << words[0] << ": " << out;
        for (const char* text : shows) EXPECT_THAT(out, HasSubstr(text)) << words[0];
    }
    EXPECT_TRUE(std::filesystem::is_empty(nowhere.path()));
    EXPECT_EQ(emu::Crc16X25("123456789"), 0x906E);  // the driver state's checksum: X.25's check
    EXPECT_EQ(emu::Crc16X25(""), 0x0000);
}

// Reference counts of the listing: repeated links count each time, links to unloaded
// extensions count for nobody.
TEST_F(HostCommandTest, ListingReferenceCountsCountEveryLink) {
    Json state = Json::parse(ReadFileBytes(db("state.json")));
    const std::vector<std::vector<int>> links = {{}, {1}, {1, 1}, {2, 99}, {}, {5}, {1}, {6}};
    for (size_t i = 0; i < links.size(); ++i) state["extensions"][i]["linked"] = links[i];
    WriteFileBytes(db("state.json"), state.dump());
    std::istringstream in(run("/usr/sbin/kextstat", 0, "Index"));
    std::string line;
    std::getline(in, line);
    std::vector<int> refs;
    for (int index, count; in >> index >> count; std::getline(in, line)) refs.push_back(count);
    EXPECT_EQ(refs, (std::vector<int>{4, 1, 0, 0, 1, 1, 0, 0}));
}

}  // namespace
