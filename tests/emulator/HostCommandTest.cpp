// The sc820-host admin command: wrong forms and failures, what verbs do to the host, and how
// unusable host files are reported and left as they are.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "driverif/CommandCodes.h"
#include "tests/support/TempHost.h"

using testhost::PatternRecord;
using testhost::StatusFact;
using testing::HasSubstr;

namespace {

using Words = std::vector<std::string>;

class HostCommandTest : public testing::Test {
protected:
    std::string file(const std::string& name, const std::string& bytes) {
        WriteFileBytes(scratch.path() + "/" + name, bytes);
        return scratch.path() + "/" + name;
    }
    std::string db(const char* name) {
        return ReadFileBytes(host.root() + "/var/db/sc820/" + name);
    }
    TempHost host;
    TempDir scratch;
};

struct CommandCase {
    std::string command;  // words; "@NAME" is the scratch file NAME
    int status;
    const char* message;
};

// Each wrong form exits 2 with the usage and each failing operation exits 1 with one line;
// neither changes the host. A row exiting 0 prepares the next.
TEST_F(HostCommandTest, WrongFormsExit2AndFailingOperationsExit1ChangingNothing) {
    file("r307", std::string(307, 'x'));
    file("r309", std::string(309, 'x'));
    file("empty", "");
    file("big", std::string(kFlashSize + 1, 'x'));
    std::vector<CommandCase> cases = {
        {"init", 1, "already exists"},
        {"eeprom put @r307", 1, "307 bytes; a record holds 308"},
        {"eeprom put @r309", 1, "309 bytes; a record holds 308"},
        {"factory put @empty", 1, "0 bytes; a record holds 308"},
        {"eeprom put @missing", 1, "no such file"},
        {"flash put @big", 1, "65537 bytes; the flash holds 65536"},
        {"detach 5", 1, "no device with target 5"},
        {"attach 4", 0, ""},
        {"attach 4", 1, "already attached"},
        {"--help", 0, "  --root DIR                  the host's root folder"},
        {"--help", 0, "${XDG_STATE_HOME:-$HOME/.local/state}/sc820/host)"},
    };
    std::istringstream wrongForms(
        ";bogus;--root;init --now;status all;eeprom;eeprom show extra;eeprom get;"
        "factory show;factory put a b;flash erase now;attach 16;attach -1;attach x;"
        "attach 1 2;detach 99;auth maybe;fault master-port;fault nonsense on;"
        "fault refuse-6 on;fault open yes;restart now;");
    for (std::string form; std::getline(wrongForms, form, ';');)
        cases.push_back({form, 2, "usage: sc820-host"});
    for (const auto& c : cases) {
        Words words;
        std::istringstream in(c.command);
        for (std::string w; in >> w;)
            words.push_back(w[0] == '@' ? scratch.path() + "/" + w.substr(1) : w);
        std::string before = host.hostOk({"status"}) + db("eeprom.bin") + db("flash.bin");
        std::string out;
        EXPECT_EQ(host.host(words, &out), c.status) << c.command;
        EXPECT_THAT(out, HasSubstr(c.message)) << c.command;
        if (c.status == 0) continue;
        if (c.status == 1) {
            EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
        }
        EXPECT_EQ(host.hostOk({"status"}) + db("eeprom.bin") + db("flash.bin"), before)
            << c.command;
    }
}

struct FaultCase {
    std::string command;  // words; "@NAME" is the scratch file NAME
    std::string fault;    // KIND:N, on paths that start with var/db/sc820 and `under`
    const char* under;
    int status;
    const char* message;
    const char* changed;  // the file in var/db/sc820 that the command replaces, or ""
};

// With a file operation failed under it, a verb reports what is on the disk: a failure leaves
// the file as it was, and a file replaced is reported done.
TEST_F(HostCommandTest, AFailedFileOperationIsReportedAsWhatHappened) {
    file("rec", PatternRecord(5));
    file("img", std::string(100, 'i'));
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
    const std::string dbDir = host.root() + "/var/db/sc820";
    for (const auto& c : cases) {
        Words words = {SC820_HOST_BINARY, "--root", host.root()};
        std::istringstream in(c.command);
        for (std::string w; in >> w;)
            words.push_back(w[0] == '@' ? scratch.path() + "/" + w.substr(1) : w);
        std::string before = db("flash.bin") + db("driver.bin");
        std::string changed = *c.changed ? db(c.changed) : "";
        std::string out;
        EXPECT_EQ(
            RunProgram(words, &out,
                       {std::string("LD_PRELOAD=") + SC820_FAULT_LIBRARY,
                        "SC820_FAULT=" + c.fault + ":5", "SC820_FAULT_PATH=" + dbDir + c.under}),
            c.status)
            << c.command << ": " << out;
        EXPECT_THAT(out, HasSubstr(c.message)) << c.command;
        if (*c.changed) {
            EXPECT_NE(db(c.changed), changed) << c.command;
        }
        if (c.status != 0 && c.command != "init --force") {
            EXPECT_EQ(db("flash.bin") + db("driver.bin"), before) << c.command;
        }
    }
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

TEST(StateFileTest, CorruptStateIsReportedByEveryVerbAndNeverReplaced) {
    const std::vector<Damage> damages = {
        {"not json", [](const std::string&) { return std::string("{not json"); }, "is corrupt: "},
        {"truncated", [](const std::string& s) { return s.substr(0, s.size() / 2); },
         "is corrupt: "},
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
         [](const std::string& s) {
             return Replaced(s, "\"auth\": \"allow\"", "\"auth\": \"ask\"");
         },
         "\"auth\" is not allow, deny or cancel"},
    };
    for (const auto& damage : damages) {
        TempHost host;
        std::string path = host.root() + "/var/db/sc820/state.json";
        std::string broken = damage.damage(ReadFileBytes(path));
        WriteFileBytes(path, broken);
        for (const Words& verb : {Words{"status"}, Words{"auth", "deny"}, Words{"attach", "1"},
                                  Words{"flash", "erase"}}) {
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
        EXPECT_EQ(StatusFact(host, "auth"), "allow") << damage.name;
        std::filesystem::remove(path);
        EXPECT_EQ(host.host({"status"}, &out), 1);
        EXPECT_THAT(out, HasSubstr("no emulated host at " + host.root()));
    }
}

struct RecordDamage {
    const char* file;
    Words verb;
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

}  // namespace
