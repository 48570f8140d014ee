// The batch mode end to end: each subcommand against an emulated host, its exit status, what
// it printed, the card's record and flash byte for byte, and the backups folder.
#include <sys/stat.h>

#include <filesystem>
#include <regex>
#include <tuple>

#include "app/Messages.h"
#include "tests/e2e/Scenario.h"

namespace {

namespace fs = std::filesystem;

class Batch : public Scenario {
protected:
    void SetUp() override {
        // No window and no terminal screen: one run covers the batch mode.
        if (RunsInTerminal()) GTEST_SKIP() << "the batch mode has no terminal screen";
        Scenario::SetUp();
    }
    int batch(const std::vector<std::string>& args) {
        const RunResult r = run("", args);
        EXPECT_EQ(r.exitCode, 0) << r.output;
        return r.exitCode;
    }
};

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

Row Cmd(std::vector<std::string> args, int status, std::string says = "",
        std::function<void(Scenario&)> setUp = {}, std::string flash = "") {
    return R(testing::PrintToString(args), "", {}, status, setUp,
             {.args = args, .flash = flash, .says = {says}});
}

// Each subcommand's exit status, the text its output holds, and the flash after. "blocked": the
// state folder is a file, so no backups folder can be made in it.
TEST_F(Batch, Subcommands) {
    const std::string image = home("image.bin"), saved = home("saved.bin"), bad = home("bad.json");
    WriteFileBytes(image, std::string(5000, '\x5A'));
    const std::string written = FlashAfterWrite(std::string(5000, '\x5A'));
    ASSERT_EQ(batch({"config", "export", home("good.json"), "--yes"}), 0);
    const std::string good = ReadFileBytes(home("good.json"));
    const auto fault = [](const char* f) { return HostDoes({"fault", f, "on"}); };
    std::vector<Row> rows = {
        Cmd({"show", "--yes"}, 0),
        Cmd({"show"}, 4, "MSG_START"),  // no --yes, no terminal
        Cmd({"flash", "burn"}, 2),
        Cmd({"config", "export"}, 2),
        Cmd({"flash", "erase", "--yes"}, 0, "", {}, kErased),
        Cmd({"flash", "erase", "--yes"}, 1, "MSG_ERASEFAIL", fault("refuse-3")),
        Cmd({"show", "--yes"}, 1, "MSG_INITIALIZE", fault("open")),
        Cmd({"flash", "write", image, "--yes"}, 0, "MSG_WRITESUCCESS", {}, written),
        Cmd({"config", "export", home("none/config.json"), "--yes"}, 1, "cannot create"),
        Cmd({"flash", "backup", saved, "--yes"}, 1, "the card refused to read", fault("refuse-4")),
        Cmd({"flash", "write", work.path(), "--yes"}, 1, "MSG_FILEERROR"),
        // No copy of the flash, no change, unless --no-backup is given.
        Cmd({"flash", "erase", "--yes"}, 1, "MSG_NOBACKUP", Blocked),
        Cmd({"flash", "erase", "--yes", "--no-backup"}, 0, "MSG_NOBACKUP", Blocked, kErased),
        Cmd({"flash", "erase", "--yes"}, 1, "MSG_NOBACKUP", fault("refuse-4")),
        // A copy is an image for Write: erased, then written back, byte for byte.
        R("backup, erase, write the copy back", "", {}, 0,
          [saved](Scenario& s) {
              EXPECT_EQ(s.run("", {"flash", "backup", saved, "--yes"}).exitCode, 0);
              EXPECT_EQ(s.run("", {"flash", "erase", "--yes"}).exitCode, 0);
          },
          {.args = {"flash", "write", saved, "--yes"}}),
        R("show --json", "", {}, 0,
          [](Scenario& s) {
              // Host ID 0, reset 0.5 s, request-sense delay 250 ms, no burst, terminators off,
              // target 3 wide at 26.6 MB/s, target 4 narrow at 5.7 MB/s.
              SCSIUTY_CFG r = s.host.eeprom();
              r.HA_ScsiID = 0, r.ResetToSelTime = 0, r.RQdelay = 2, r.Burst = 1, r.ParityEnable = 1;
              r.TermMode = DISABLE_TERM, r.WideEnable[3] = 1, r.SyncSpeed[3] = SYNC_13p3MB;
              r.WideEnable[4] = 0, r.SyncSpeed[4] = SYNC_5p7MB;
              s.host.putEeprom(r);
              s.recordBefore = s.record();
          },
          {.args = {"show", "--json", "--yes"},
           .says = {"\"utility\": \"1.0.2\"", "\"scsiBios\": \"3.1.4\"",
                    "\"hostAdapterScsiId\": 0,", "\"resetRecoveringTimeSeconds\": 0.5",
                    "\"requestSenseDelayMilliseconds\": 250", "\"burstTransfer\": false",
                    "\"parity\": true", "\"terminators\": \"off\"",
                    "\"id\": 3,\n        \"maxRateMBps\": 26.6",
                    "\"id\": 4,\n        \"maxRateMBps\": 5.7"}}),
    };
    // Documents refused whole, before the card is touched: the good one changed, and why.
    const std::string narrow = "\"maxRateMBps\": 10,\n      \"sync\": false";
    for (const auto& [name, document, error] :
         std::vector<std::tuple<std::string, std::string, std::string>>{
             {"not JSON", "{\"hostAdapterScsiId\": 7,", "not a JSON document"},
             {"not an object", "[1, 2]", "(document) = [1,2]: not an object"},
             {"unknown key", Replaced(good, "\"parity\"", "\"parityy\""),
              "parityy = true: unknown key"},
             {"missing key", Replaced(good, "\"parity\": true,", ""), "parity: missing"},
             {"value the form lacks", Replaced(good, "Seconds\": 2", "Seconds\": 4"),
              "resetRecoveringTimeSeconds = 4: not a value the form offers"},
             {"id out of range", Replaced(good, "ScsiId\": 7", "ScsiId\": 16"),
              "hostAdapterScsiId = 16: not a value the form offers"},
             {"wrong type", Replaced(good, "\"burstTransfer\": false", "\"burstTransfer\": 1"),
              "burstTransfer = 1: not true or false"},
             {"narrow rate above 20 MB/s", Replaced(good, narrow, Replaced(narrow, "10", "40")),
              "targets[9].maxRateMBps = 40: not a rate a narrow target keeps"},
             {"too big", std::string(65 * 1024, ' ') + good, "larger than 64 KiB"},
             {"a FIFO", "", "not a regular file"}}) {  // folders, devices: FileTest
        rows.push_back(
            R(name, "", {}, 2, {},
              {.args = {"config", "import", name == "a FIFO" ? home("fifo") : bad, "--yes"},
               .files = {{"bad.json", document}},
               .counts = kNoCommand,
               .says = {error}}));
    }
    mkfifo(home("fifo").c_str(), 0600);
    runTable(rows);
}

// The record goes out and comes back byte for byte, the bytes the form does not show included;
// each store keeps the record it replaced, twenty copies at most, and a copy is not kept twice.
TEST_F(Batch, ExportImportAndTheBackupsFolder) {
    SCSIUTY_CFG odd = host.eeprom();  // odd bytes wherever the form shows nothing
    odd.Valid = 0x5A5A1234, odd.BootTargetID = 0xE3, odd.pad0[0] = 0x11, odd.BiosEnable = -7;
    odd.Targets = 0x99, odd.pad1[1] = 0x42, odd.Reserved0 = 0xAB, odd.pad3[2] = 0xCD;
    odd.Reserved1 = 0xDEADBEEF, odd.pad4[0] = 0x7F;
    host.putEeprom(odd);
    fs::create_directories(backups());  // twenty older copies; a new one pushes the oldest out
    for (int i = 0; i < 20; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "eeprom-20200101T0000%02dZ-0000000%d.bin", i, i % 10);
        WriteFileBytes(backups() + "/" + name, "old" + std::to_string(i));
    }
    const std::string oddBytes = record(), file = home("config.json"), edited = home("edited.json");
    ASSERT_EQ(batch({"config", "export", file, "--yes"}), 0);
    std::string hex;
    for (unsigned char byte : oddBytes)
        hex += "0123456789abcdef"[byte >> 4], hex += "0123456789abcdef"[byte & 15];
    EXPECT_TRUE(Contains(ReadFileBytes(file), "\"record\": \"" + hex + "\""));
    // The edited document changes the setting, the export brings back every byte, and a
    // document of what the card holds stores nothing and keeps no copy.
    WriteFileBytes(edited, Replaced(ReadFileBytes(file), "\"parity\": true", "\"parity\": false"));
    for (const auto& [document, changed] :
         {std::pair{edited, "true"}, {file, "true"}, {file, "false"}}) {
        const RunResult r = run("", {"config", "import", document, "--yes", "--json"});
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_TRUE(r.output.ends_with(std::string("\n{\"changed\": ") + changed + "}\n"));
        EXPECT_TRUE(document != edited || host.eeprom().ParityEnable == 0);
    }
    EXPECT_TRUE(record() == oddBytes);
    EXPECT_EQ(host.commandCounts()[kSetEEPConfig], 2);
    const auto copies = kept("eeprom");
    ASSERT_EQ(copies.size(), 20u);
    EXPECT_EQ(copies.front(), "eeprom-20200101T000002Z-00000002.bin");
    std::string withoutParity;
    for (const std::string& name : {copies[18], copies[19]}) {
        EXPECT_TRUE(std::regex_match(name, std::regex("eeprom-2\\d{7}T\\d{6}Z-[0-9a-f]{8}\\.bin")));
        if (ReadFileBytes(backups() + "/" + name) != oddBytes)
            withoutParity = backups() + "/" + name;
    }
    // The copy without parity, imported, brings its settings back; the bytes the form does not
    // show stay the card's, which meanwhile changed.
    odd.Reserved1 = 0x01020304;
    host.putEeprom(odd);
    ASSERT_EQ(batch({"config", "import", withoutParity, "--yes"}), 0);
    odd.ParityEnable = 0;
    EXPECT_TRUE(record() == std::string(reinterpret_cast<const char*>(&odd), sizeof odd));
    // The erased flash, kept once, is not kept again when the next change replaces the same.
    for (int i = 0; i < 3; ++i) ASSERT_EQ(batch({"flash", "erase", "--yes"}), 0);
    EXPECT_EQ(kept("flash").size(), 2u);
}

}  // namespace
