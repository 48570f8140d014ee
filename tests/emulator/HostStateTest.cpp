// The host's state files: the driver state's checksum, the state is checked as a whole, no
// operation can save a state that would not read back, and `repair` rebuilds the kernel's state
// while keeping the card's.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>

#include "Sc820Version.h"
#include "emulator/card/DriverState.h"
#include "emulator/host/HostState.h"
#include "tests/support/TempHost.h"

using testhost::PatternRecord;
using testhost::RunTool;
using testhost::StatusFact;
using testing::HasSubstr;
using Json = nlohmann::json;

namespace {

const std::string kKext =
    std::string(SC820_BUNDLE_DIR) + "/Contents/Resources/ZOL_SC820_DRVR_X.kext";

std::string StatePath(const TempHost& host) {
    return host.root() + "/var/db/sc820/state.json";
}

Json ReadState(const TempHost& host) {
    return Json::parse(ReadFileBytes(StatePath(host)));
}

void WriteState(const TempHost& host, const Json& state) {
    WriteFileBytes(StatePath(host), state.dump(4));
}

TEST(DriverStateFormatTest, SlotChecksumsAreCrc16X25) {
    EXPECT_EQ(emu::Crc16X25("123456789"), 0x906E);  // the published check value
    EXPECT_EQ(emu::Crc16X25(""), 0x0000);
}

struct StateDamage {
    const char* name;
    std::function<void(Json&)> damage;
    const char* reason;
};

Json& EntryWithId(Json& state, int id) {
    for (Json& entry : state["entries"])
        if (entry["id"] == id) return entry;
    ADD_FAILURE() << "no entry " << id;
    return state["entries"][0];
}

// States that one ordinary operation would turn unreadable, or that are so already, are
// refused as corrupt when read; the file stays as it is.
TEST(StateCheckTest, StatesNoOperationCouldCarryAreRefusedWhenRead) {
    // The default host: 1 Root, 2 pci, 3 the card, 4 another card, 5 the card's driver,
    // 6 the other card's driver, 7 a device under it; extensions 1 to 8.
    const std::vector<StateDamage> damages = {
        {"card entry is a driver's", [](Json& s) { s["cardEntry"] = 5; },
         "\"cardEntry\" lies under an extension's entry"},
        {"card entry is a device", [](Json& s) { s["cardEntry"] = 7; },
         "\"cardEntry\" names a device"},
        {"card entry under a driver",
         [](Json& s) {
             s["entries"].push_back(Json{{"id", 8}, {"name", "x"}, {"class", "x"}, {"parent", 5}});
             s["nextEntryId"] = 9;
             s["cardEntry"] = 8;
         },
         "\"cardEntry\" lies under an extension's entry"},
        {"parent cycle", [](Json& s) { EntryWithId(s, 2)["parent"] = 3; },
         "registry entry 2 has no parent 3 registered before it"},
        {"own parent", [](Json& s) { EntryWithId(s, 4)["parent"] = 4; },
         "registry entry 4 has no parent 4 registered before it"},
        {"child of a device",
         [](Json& s) {
             s["entries"].push_back(Json{{"id", 8}, {"name", "x"}, {"class", "x"}, {"parent", 7}});
             s["nextEntryId"] = 9;
         },
         "registry entry 8 hangs from a SCSI device"},
        {"entry id not below the counter", [](Json& s) { s["nextEntryId"] = 7; },
         "\"nextEntryId\" is not above every entry id"},
        {"extension index at the counter", [](Json& s) { s["nextExtensionIndex"] = 8; },
         "\"nextExtensionIndex\" is not above every index"},
        {"extension index beyond the maximum",
         [](Json& s) { s["nextExtensionIndex"] = 1073741825; },
         "\"nextExtensionIndex\" is not an integer from 1 to 1073741824"},
        {"image beyond the address space",
         [](Json& s) { s["extensions"][7]["address"] = 4503599627370490; },
         "com.tavik.driver.ZolSC820 lies beyond the largest load address"},
        {"entry id beyond 32 bits", [](Json& s) { s["nextEntryId"] = 4294967296; },
         "\"nextEntryId\" is not an integer from 1 to 4294967295"},
    };
    for (const auto& damage : damages) {
        TempHost host;
        Json state = ReadState(host);
        damage.damage(state);
        WriteState(host, state);
        const std::string written = ReadFileBytes(StatePath(host));
        std::string out;
        EXPECT_EQ(host.host({"status"}, &out), 1) << damage.name;
        EXPECT_THAT(out, HasSubstr(StatePath(host) + " is corrupt: " + damage.reason))
            << damage.name;
        EXPECT_EQ(RunTool(host, "kextstat", {}, &out), 1) << damage.name;
        EXPECT_EQ(ReadFileBytes(StatePath(host)), written) << damage.name;
    }
}

struct EdgeState {
    const char* name;
    std::function<void(Json&)> edge;
    std::vector<std::string> tool;  // a driver tool and its arguments, or an sc820-host verb
};

// At the edge of a counter the state reads, the operation that would pass the edge is refused,
// and the host stays readable.
TEST(StateCheckTest, OperationsThatWouldPassACounterAreRefusedAndTheHostStaysReadable) {
    const std::vector<EdgeState> edges = {
        {"last entry id", [](Json& s) { s["nextEntryId"] = 4294967295u; }, {"attach", "3"}},
        {"last extension index",
         [](Json& s) { s["nextExtensionIndex"] = 1073741824; },
         {"kextload", kKext}},
        {"last load address",
         [](Json& s) { s["nextLoadAddress"] = 4503599627370000; },
         {"kextload", kKext}},
    };
    for (const auto& edge : edges) {
        TempHost host;
        Json state = ReadState(host);
        edge.edge(state);
        WriteState(host, state);
        const std::string before = host.hostOk({"status"});
        std::string out;
        int status = edge.tool[0] == "kextload" ? RunTool(host, edge.tool[0], {edge.tool[1]}, &out)
                                                : host.host(edge.tool, &out);
        EXPECT_EQ(status, 1) << edge.name << ": " << out;
        EXPECT_THAT(out, HasSubstr("refused to save a state that could not be read back"))
            << edge.name;
        EXPECT_EQ(host.hostOk({"status"}), before) << edge.name;
    }
}

// Reference counts of the listing: repeated links count each time, links to unloaded
// extensions count for nobody.
TEST(ListingTest, ReferenceCountsCountEveryLink) {
    TempHost host;
    Json state = ReadState(host);
    const std::vector<std::vector<int>> links = {{}, {1}, {1, 1}, {2, 99}, {}, {5}, {1}, {6}};
    for (size_t i = 0; i < links.size(); ++i) state["extensions"][i]["linked"] = links[i];
    WriteState(host, state);
    std::string out;
    ASSERT_EQ(RunTool(host, "kextstat", {}, &out), 0) << out;
    std::istringstream in(out);
    std::string line;
    std::getline(in, line);
    std::vector<int> refs;
    for (int index, count; in >> index >> count; std::getline(in, line)) refs.push_back(count);
    EXPECT_EQ(refs, (std::vector<int>{4, 1, 0, 0, 1, 1, 0, 0}));
}

// `repair` rebuilds a corrupt kernel and driver state and keeps the card's records, its flash
// and the log.
TEST(RepairTest, RepairRebuildsTheStateAndKeepsTheCard) {
    TempHost host;
    TempDir scratch;
    const std::string db = host.root() + "/var/db/sc820/";
    WriteFileBytes(scratch.path() + "/e", PatternRecord(2));
    WriteFileBytes(scratch.path() + "/f", PatternRecord(3));
    WriteFileBytes(scratch.path() + "/img", std::string(5000, '\x5a'));
    host.hostOk({"eeprom", "put", scratch.path() + "/e"});
    host.hostOk({"factory", "put", scratch.path() + "/f"});
    host.hostOk({"flash", "put", scratch.path() + "/img"});
    host.swapDrivers();
    const std::vector<std::string> log = host.logLines();
    const std::string card = ReadFileBytes(db + "eeprom.bin") + ReadFileBytes(db + "factory.bin") +
                             ReadFileBytes(db + "flash.bin");
    WriteFileBytes(db + "state.json", "{\"format\": 1, \"entries\": [");
    WriteFileBytes(db + "driver.bin", std::string(176, '\0'));
    std::filesystem::remove(host.root() + "/sbin/kextload");
    std::string out;
    EXPECT_EQ(host.host({"status"}, &out), 1);

    EXPECT_THAT(host.hostOk({"repair"}), HasSubstr("repaired the host at " + host.root()));
    EXPECT_EQ(ReadFileBytes(db + "eeprom.bin") + ReadFileBytes(db + "factory.bin") +
                  ReadFileBytes(db + "flash.bin"),
              card);
    EXPECT_EQ(host.logLines(), log);
    EXPECT_EQ(StatusFact(host, "commands"), "0 0 0 0 0 0");
    EXPECT_EQ(StatusFact(host, "utility-services"), "0");
    host.swapDrivers();  // the tools are back
    EXPECT_EQ(StatusFact(host, "utility-services"), "1");

    TempDir empty;
    EXPECT_EQ(RunProgram({SC820_HOST_BINARY, "--root", empty.path(), "repair"}, &out), 1);
    EXPECT_THAT(out, HasSubstr("no emulated host at " + empty.path()));
}

struct HelpCase {
    std::vector<std::string> words;
    std::vector<const char*> shows;
};

// --help, --version and VERB --help print to standard output and exit 0 without a host.
TEST(CommandLineTest, HelpAndVersionPrintAndExit0) {
    TempDir nowhere;
    const std::vector<HelpCase> cases = {
        {{"--version"}, {"sc820-host ", kSc820Version}},
        {{"--help"},
         {"usage: sc820-host [--root DIR] COMMAND", "init", "repair", "status", "log", "eeprom",
          "factory", "flash", "attach", "detach", "auth", "fault"}},
        {{"-h"}, {"--root"}},
        {{"eeprom", "get", "--help"}, {"sc820-host eeprom get", "FILE"}},
        {{"fault", "--help"}, {"sc820-host fault", "NAME", "STATE"}},
        {{"repair", "--help"}, {"sc820-host repair"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> argv = {"/usr/bin/env", "SC820_HOST_ROOT=" + nowhere.path(),
                                         SC820_HOST_BINARY};
        argv.insert(argv.end(), c.words.begin(), c.words.end());
        std::string out;
        EXPECT_EQ(RunProgram(argv, &out), 0) << c.words[0] << ": " << out;
        for (const char* text : c.shows) EXPECT_THAT(out, HasSubstr(text)) << c.words[0];
    }
    EXPECT_TRUE(std::filesystem::is_empty(nowhere.path()));
}

}  // namespace
