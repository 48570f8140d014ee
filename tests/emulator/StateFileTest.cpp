// A host whose files cannot be used is reported as corrupt and left as it is; only
// `init --force` replaces it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "emulator/DriverState.h"
#include "emulator/HostError.h"
#include "tests/emulator/EmulatedHost.h"
#include "tests/support/TempHost.h"

using testing::HasSubstr;

namespace {

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

struct Damage {
    const char* name;
    std::string (*damage)(const std::string& original);
    const char* reason;
};

const std::vector<Damage> kStateDamage = {
    {"not json", [](const std::string&) { return std::string("{not json"); }, "is corrupt: "},
    {"empty", [](const std::string&) { return std::string(); }, "is corrupt: "},
    {"truncated", [](const std::string& s) { return s.substr(0, s.size() / 2); }, "is corrupt: "},
    {"array", [](const std::string&) { return std::string("[]"); },
     "is corrupt: the file is not an object"},
    {"no faults", [](const std::string& s) { return Replaced(s, "\"faults\"", "\"fault\""); },
     "is corrupt: missing \"faults\""},
    {"dangling parent",
     [](const std::string& s) { return Replaced(s, "\"parent\": 6", "\"parent\": 99"); },
     "has no parent 99"},
    {"bad card entry",
     [](const std::string& s) { return Replaced(s, "\"cardEntry\": 3", "\"cardEntry\": 3.5"); },
     "\"cardEntry\" is not an integer"},
    {"bad policy",
     [](const std::string& s) { return Replaced(s, "\"auth\": \"allow\"", "\"auth\": \"ask\""); },
     "\"auth\" is not allow, deny or cancel"},
};

TEST(StateFileTest, CorruptStateIsReportedByEveryVerbAndNeverReplaced) {
    for (const auto& damage : kStateDamage) {
        TempHost host;
        std::string path = host.root() + "/var/db/sc820/state.json";
        std::string broken = damage.damage(ReadFileBytes(path));
        WriteFileBytes(path, broken);
        for (const std::vector<std::string>& verb : {std::vector<std::string>{"status"},
                                                     {"auth", "deny"},
                                                     {"attach", "1"},
                                                     {"flash", "erase"}}) {
            std::string out;
            EXPECT_EQ(host.host(verb, &out), 1) << damage.name << " " << verb[0];
            EXPECT_THAT(out, HasSubstr(path + " is corrupt: ")) << damage.name;
            EXPECT_THAT(out, HasSubstr(damage.reason)) << damage.name;
        }
        std::string out;
        EXPECT_EQ(testhost::RunTool(host, "kextstat", {}, &out), 1) << damage.name;
        EXPECT_THAT(out, HasSubstr("is corrupt: "));
        EXPECT_EQ(ReadFileBytes(path), broken) << damage.name << ": the state was replaced";

        host.hostOk({"init", "--force"});
        EXPECT_EQ(testhost::StatusFact(host, "auth"), "allow") << damage.name;
    }
}

struct RecordDamage {
    const char* file;
    std::vector<std::string> verb;
    size_t size;  // the damaged file's size; npos removes it
    const char* reason;
};

TEST(StateFileTest, RecordsAndFlashOfTheWrongSizeAreReportedNotReplaced) {
    TempDir scratch;
    const std::string out = scratch.path() + "/out";
    const std::vector<RecordDamage> cases = {
        {"eeprom.bin", {"eeprom", "show"}, 200, "200 bytes, expected 308"},
        {"eeprom.bin", {"eeprom", "get", out}, 309, "309 bytes, expected 308"},
        {"factory.bin", {"factory", "get", out}, std::string::npos, "the file is missing"},
        {"flash.bin", {"flash", "get", out}, 1000, "1000 bytes, expected 65536"},
        {"flash.bin", {"flash", "get", out}, 65537, "65537 bytes, expected 65536"},
    };
    for (const auto& c : cases) {
        TempHost host;
        std::string path = host.root() + "/var/db/sc820/" + c.file;
        std::string damaged;
        if (c.size == std::string::npos) {
            std::filesystem::remove(path);
        } else {
            damaged = ReadFileBytes(path);
            damaged.resize(c.size, '\x42');
            WriteFileBytes(path, damaged);
        }
        std::string output;
        EXPECT_EQ(host.host(c.verb, &output), 1) << c.file;
        EXPECT_THAT(output, HasSubstr(path + " is corrupt: " + c.reason));
        EXPECT_FALSE(std::filesystem::exists(out)) << "wrote a file from a corrupt " << c.file;
        if (c.size != std::string::npos) {
            EXPECT_EQ(ReadFileBytes(path), damaged);
        }
    }
}

emu::DriverState Counted(uint64_t n) {
    emu::DriverState state;
    state.readCursor = static_cast<uint32_t>(n % 17);
    state.writeCursor = static_cast<uint32_t>((n + 3) % 17);
    state.commands = {n, n + 1, n + 2, n + 3, n + 4, n + 5};
    state.lastService = static_cast<uint32_t>(100 + n);
    return state;
}

bool Same(const emu::DriverState& a, const emu::DriverState& b) {
    return a.readCursor == b.readCursor && a.writeCursor == b.writeCursor &&
           a.commands == b.commands && a.lastService == b.lastService;
}

// The driver's working state survives a slot written halfway: the other slot holds the state
// before it.
TEST(StateFileTest, ADamagedDriverSlotFallsBackToThePreviousState) {
    TempHost host;
    emu::HostPaths paths(host.root());
    std::string path = host.root() + "/var/db/sc820/driver.bin";
    for (uint64_t n = 1; n <= 5; ++n) {
        emu::DriverStateFile file(paths);
        file.load();
        file.store(Counted(n));
        EXPECT_TRUE(Same(emu::DriverStateFile(paths).load(), Counted(n))) << n;
    }
    std::string bytes = ReadFileBytes(path);
    ASSERT_EQ(bytes.size(), 176u);
    // The fifth store went into one slot; damage it and the fourth state comes back.
    for (size_t slot : {0u, 88u}) {
        std::string damaged = bytes;
        damaged[slot + 40] = static_cast<char>(damaged[slot + 40] ^ 0x01);
        WriteFileBytes(path, damaged);
        emu::DriverState loaded = emu::DriverStateFile(paths).load();
        EXPECT_TRUE(Same(loaded, Counted(5)) || Same(loaded, Counted(4))) << slot;
        bool damagedNewest = !Same(loaded, Counted(5));
        if (damagedNewest) {
            // The next store must not overwrite the surviving slot.
            emu::DriverStateFile file(paths);
            file.load();
            file.store(Counted(6));
            EXPECT_TRUE(Same(emu::DriverStateFile(paths).load(), Counted(6)));
        }
    }
    std::string both = bytes;
    both[40] = static_cast<char>(both[40] ^ 0x01);
    both[88 + 40] = static_cast<char>(both[88 + 40] ^ 0x01);
    WriteFileBytes(path, both);
    try {
        emu::DriverStateFile(paths).load();
        ADD_FAILURE() << "a file without a valid slot was accepted";
    } catch (const emu::HostError& error) {
        EXPECT_EQ(std::string(error.what()), path + " is corrupt: no valid slot");
    }
    std::string out;
    EXPECT_EQ(host.host({"status"}, &out), 1);
    EXPECT_THAT(out, HasSubstr(path + " is corrupt: no valid slot"));
    WriteFileBytes(path, bytes.substr(0, 100));
    EXPECT_EQ(host.host({"status"}, &out), 1);
    EXPECT_THAT(out, HasSubstr(path + " is corrupt: 100 bytes, expected 176"));
    EXPECT_EQ(ReadFileBytes(path), bytes.substr(0, 100));
}

TEST(StateFileTest, ARootWithoutStateHoldsNoHost) {
    TempHost host;
    std::filesystem::remove(host.root() + "/var/db/sc820/state.json");
    std::string out;
    EXPECT_EQ(host.host({"status"}, &out), 1);
    EXPECT_THAT(out, HasSubstr("no emulated host at " + host.root()));
}

}  // namespace
