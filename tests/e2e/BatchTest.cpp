// The batch mode end to end: each subcommand against an emulated host, its exit status, what
// it printed, the card's record and flash byte for byte, and the backups folder.
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <regex>

#include "app/Messages.h"
#include "driverif/CommandCodes.h"
#include "tests/e2e/Scenario.h"
#include "tests/support/SmallDisk.h"
#include "tests/support/TerminalProgram.h"

namespace {

namespace fs = std::filesystem;

const std::string kErased(kFlashSize, '\xFF');

struct BatchResult {
    int status = -1;
    std::string out;  // standard output
    std::string err;  // standard error
};

class Batch : public Scenario {
protected:
    void SetUp() override {
        // No window and no terminal screen: one run covers the batch mode.
        if (RunsInTerminal()) GTEST_SKIP() << "the batch mode has no terminal screen";
        Scenario::SetUp();
    }

    BatchResult batch(const std::vector<std::string>& args,
                      const std::vector<std::string>& extra = {}) {
        const std::string outFile = work.path() + "/stdout.txt";
        std::vector<std::string> argv = {
            "/bin/sh", "-c", "exec \"$@\" >\"$0\"", outFile,
            std::string(SC820_BUNDLE_DIR) + "/Contents/bin/sc820-utility"};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<std::string> all = environment();
        all.insert(all.end(), extra.begin(), extra.end());
        BatchResult r;
        r.status = RunProgram(argv, &r.err, all);
        r.out = ReadFileBytes(outFile);
        return r;
    }

    std::string exportedDocument() {
        const std::string file = work.path() + "/config.json";
        const BatchResult r = batch({"config", "export", file, "--yes"});
        EXPECT_EQ(r.status, 0) << r.err;
        return ReadFileBytes(file);
    }
};

std::string Bytes(const SCSIUTY_CFG& r) {
    return std::string(reinterpret_cast<const char*>(&r), sizeof r);
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

// Each subcommand's exit status, the message key standard error names, and the flash after:
// as it was, erased, or holding the image (5000 bytes of 0x5A, then zeros). "blocked" instead of
// a fault: the state folder is a file, so no backups folder can be made in it.
TEST_F(Batch, SubcommandsEndWithTheirStatusAndNameTheMessage) {
    enum Flash { same, erased, written };
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> faults;
        int status;
        const char* inErr;  // a text standard error must hold; null: nothing asked of it
        Flash flashAfter;
    };
    const std::string image = work.path() + "/image.bin";
    WriteFileBytes(image, std::string(5000, '\x5A'));
    WriteFileBytes(work.path() + "/blocked", "");
    const std::string none = work.path() + "/none/config.json", saved = work.path() + "/saved.bin";
    const Case cases[] = {
        {{"show", "--yes"}, {}, 0, nullptr, same},
        {{"show"}, {}, 4, "MSG_START", same},  // no --yes, no terminal
        {{"flash", "burn"}, {}, 2, nullptr, same},
        {{"config", "export"}, {}, 2, nullptr, same},
        {{"flash", "erase", "--yes"}, {}, 0, nullptr, erased},
        {{"flash", "erase", "--yes"}, {"refuse-3"}, 1, "MSG_ERASEFAIL", same},
        {{"show", "--yes"}, {"open"}, 1, "MSG_INITIALIZE", same},
        {{"flash", "write", image, "--yes"}, {}, 0, "MSG_WRITESUCCESS", written},
        {{"config", "export", none, "--yes"}, {}, 1, "cannot create", same},
        {{"flash", "backup", saved, "--yes"}, {"refuse-4"}, 1, "the card refused to read", same},
        {{"flash", "write", work.path(), "--yes"}, {}, 1, "MSG_FILEERROR", same},
        // No copy of the flash, no change, unless --no-backup is given.
        {{"flash", "erase", "--yes"}, {"blocked"}, 1, "MSG_NOBACKUP", same},
        {{"flash", "erase", "--yes", "--no-backup"}, {"blocked"}, 0, "MSG_NOBACKUP", erased},
        {{"flash", "erase", "--yes"}, {"refuse-4"}, 1, "MSG_NOBACKUP", same},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args) + testing::PrintToString(c.faults));
        host.hostOk({"init", "--force"});
        const std::string before = flash();
        std::vector<std::string> state;
        for (const std::string& fault : c.faults) {
            if (fault == "blocked") state.push_back("XDG_STATE_HOME=" + work.path() + "/blocked");
            if (fault != "blocked") host.hostOk({"fault", fault, "on"});
        }
        const BatchResult r = batch(c.args, state);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_TRUE(c.inErr == nullptr || Contains(r.err, c.inErr)) << r.err;
        std::string expected = std::string(5000, '\x5A') + std::string(kFlashSize - 5000, '\0');
        if (c.flashAfter != written) expected = c.flashAfter == same ? before : kErased;
        EXPECT_TRUE(flash() == expected);
    }
}

TEST_F(Batch, WithoutYesTheQuestionsAreAskedOnTheTerminal) {
    struct Case {
        const char* name;
        std::vector<std::string> answers;  // to the start-up question, then Erase's
        int status;
        bool erased;
    };
    const Case cases[] = {
        {"both answered y", {"y", "y"}, 0, true},
        {"start-up declined", {"n"}, 4, false},
        {"erase declined", {"y", ""}, 4, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        host.hostOk({"init", "--force"});
        const std::string before = flash();
        TerminalProgram terminal(
            {std::string(SC820_BUNDLE_DIR) + "/Contents/bin/sc820-utility", "flash", "erase"},
            environment(), 24, 200);
        size_t asked = 0;  // where the last question was found
        for (const std::string& answer : c.answers) {
            const auto next = [&] { return terminal.output().find("[y/N]", asked); };
            ASSERT_TRUE(terminal.waitUntil([&] { return next() != std::string::npos; }))
                << terminal.output();
            asked = next() + 1;
            terminal.send(answer + "\r");
        }
        EXPECT_EQ(terminal.waitForExit(), c.status) << terminal.output();
        EXPECT_TRUE(flash() == (c.erased ? kErased : before));
    }
}

TEST_F(Batch, FlashBackupAndWriteMoveTheFlashByteForByte) {
    const std::string saved = work.path() + "/saved.bin";
    BatchResult r = batch({"flash", "backup", saved, "--yes"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string original = flash();
    EXPECT_TRUE(ReadFileBytes(saved) == original);

    // A copy is an image for Write: erase, then write the copy back.
    ASSERT_EQ(batch({"flash", "erase", "--yes"}).status, 0);
    r = batch({"flash", "write", saved, "--yes"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(flash() == original);
    // Erase and Write each kept the flash first: the original, then the erased flash.
    const auto copies = kept("flash");
    ASSERT_EQ(copies.size(), 2u);
    const std::string first = ReadFileBytes(backups() + "/" + copies[0]);
    const std::string second = ReadFileBytes(backups() + "/" + copies[1]);
    EXPECT_TRUE((first == original && second == kErased) ||
                (first == kErased && second == original));
}

TEST_F(Batch, ShowPrintsTheVersionsAndTheConfiguration) {
    SCSIUTY_CFG record = host.eeprom();
    record.HA_ScsiID = 6;
    record.ResetToSelTime = 0;  // 0.5 s
    record.RQdelay = 2;         // 250 ms
    record.Burst = 1;           // disabled
    record.ParityEnable = 1;
    record.TermMode = DISABLE_TERM;
    record.WideEnable[3] = 1;
    record.SyncSpeed[3] = SYNC_13p3MB;  // 26.6 MB/s on a wide target
    record.WideEnable[4] = 0;
    record.SyncSpeed[4] = SYNC_5p7MB;  // 5.7 MB/s on a narrow one
    host.putEeprom(record);
    const BatchResult r = batch({"show", "--json", "--yes"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* expected :
         {"\"utility\": \"1.0.2\"", "\"scsiBios\": \"3.1.4\"", "\"hostAdapterScsiId\": 6",
          "\"resetRecoveringTimeSeconds\": 0.5", "\"requestSenseDelayMilliseconds\": 250",
          "\"burstTransfer\": false", "\"parity\": true", "\"terminators\": \"off\"",
          "\"id\": 3,\n        \"maxRateMBps\": 26.6",
          "\"id\": 4,\n        \"maxRateMBps\": 5.7"}) {
        EXPECT_NE(r.out.find(expected), std::string::npos) << expected << "\n" << r.out;
    }
}

TEST_F(Batch, ExportImportRoundTripKeepsEveryByteTheFormDoesNotShow) {
    // Odd bytes wherever the form shows nothing.
    SCSIUTY_CFG odd = host.eeprom();
    odd.Valid = 0x5A5A1234;
    odd.BootTargetID = 0xE3;
    odd.pad0[0] = 0x11;
    odd.pad0[1] = 0xEE;
    odd.BiosEnable = -7;
    odd.Targets = 0x99;
    odd.pad1[1] = 0x42;
    odd.Reserved0 = 0xAB;
    odd.pad3[2] = 0xCD;
    odd.Reserved1 = 0xDEADBEEF;
    odd.pad4[0] = 0x7F;
    host.putEeprom(odd);
    const std::string document = exportedDocument();
    std::string hex;
    for (unsigned char byte : Bytes(odd)) {
        static const char digits[] = "0123456789abcdef";
        hex += digits[byte >> 4];
        hex += digits[byte & 15];
    }
    EXPECT_NE(document.find("\"record\": \"" + hex + "\""), std::string::npos) << document;

    // Import a change, then the export again: the card holds the odd record byte for byte.
    const std::string changed = work.path() + "/changed.json";
    WriteFileBytes(changed, Replaced(document, "\"parity\": true", "\"parity\": false"));
    BatchResult r = batch({"config", "import", changed, "--yes", "--json"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "{\"changed\": true}\n");
    EXPECT_EQ(host.eeprom().ParityEnable, 0);
    const std::string original = work.path() + "/config.json";
    r = batch({"config", "import", original, "--yes", "--json"});
    EXPECT_EQ(r.out, "{\"changed\": true}\n") << r.err;
    EXPECT_EQ(Bytes(host.eeprom()), Bytes(odd));
    const auto before = host.commandCounts();

    // Importing what the card holds stores nothing and keeps no copy.
    r = batch({"config", "import", original, "--yes", "--json"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "{\"changed\": false}\n");
    EXPECT_EQ(host.commandCounts()[kSetEEPConfig], before[kSetEEPConfig]);
    EXPECT_EQ(Bytes(host.eeprom()), Bytes(odd));
    // Each store kept the record it replaced: the odd one, then the one without parity.
    const auto copies = kept("eeprom");
    ASSERT_EQ(copies.size(), 2u);
    const std::string first = ReadFileBytes(backups() + "/" + copies[0]);
    const std::string second = ReadFileBytes(backups() + "/" + copies[1]);
    EXPECT_TRUE(first == Bytes(odd) || second == Bytes(odd));
    EXPECT_NE(first, second);

    // The copy without parity, imported, brings its settings back; the bytes the form does not
    // show stay the card's, which meanwhile changed.
    SCSIUTY_CFG restored = odd;
    restored.Reserved1 = 0x01020304;
    restored.pad0[0] = 0x22;
    host.putEeprom(restored);
    const std::string copy = backups() + "/" + (first == Bytes(odd) ? copies[1] : copies[0]);
    r = batch({"config", "import", copy, "--yes", "--json"});
    EXPECT_EQ(r.out, "{\"changed\": true}\n") << r.err;
    restored.ParityEnable = 0;
    EXPECT_EQ(Bytes(host.eeprom()), Bytes(restored));
}

TEST_F(Batch, BadDocumentsAreRefusedWholeBeforeTheCardIsTouched) {
    const std::string good = exportedDocument();
    host.hostOk({"init", "--force"});
    const std::string record = Bytes(host.eeprom());
    struct Case {
        const char* name;
        std::string content;
        const char* error;
    };
    const Case cases[] = {
        {"not JSON", "{\"hostAdapterScsiId\": 7,", "not a JSON document"},
        {"not an object", "[1, 2]", "(document) = [1,2]: not an object"},
        {"unknown key", Replaced(good, "\"parity\"", "\"parityy\""), "parityy = true: unknown key"},
        {"missing key", Replaced(good, "\"parity\": true,", ""), "parity: missing"},
        {"value the form lacks",
         Replaced(good, "\"resetRecoveringTimeSeconds\": 2", "\"resetRecoveringTimeSeconds\": 4"),
         "resetRecoveringTimeSeconds = 4: not a value the form offers"},
        {"id out of range", Replaced(good, "\"hostAdapterScsiId\": 7", "\"hostAdapterScsiId\": 16"),
         "hostAdapterScsiId = 16: not a value the form offers"},
        {"wrong type", Replaced(good, "\"burstTransfer\": false", "\"burstTransfer\": 1"),
         "burstTransfer = 1: not true or false"},
        {"narrow rate above 20 MB/s",
         Replaced(good, "\"maxRateMBps\": 10,\n      \"sync\": false",
                  "\"maxRateMBps\": 40,\n      \"sync\": false"),
         "targets[9].maxRateMBps = 40: not a rate a narrow target keeps"},
        {"too big", std::string(65 * 1024, ' ') + good, "larger than 64 KiB"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = work.path() + "/bad.json";
        WriteFileBytes(file, c.content);
        const BatchResult r = batch({"config", "import", file, "--yes"});
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
        EXPECT_EQ(Bytes(host.eeprom()), record);
        EXPECT_EQ(host.commandCounts(), std::vector<int>(6, 0));
    }
    const std::string fifo = work.path() + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {fifo, work.path(), std::string("/dev/zero")}) {
        const BatchResult r = batch({"config", "import", path, "--yes"});
        EXPECT_EQ(r.status, 2) << path << r.err;
        EXPECT_NE(r.err.find("not a regular file"), std::string::npos) << r.err;
    }
    EXPECT_EQ(host.commandCounts(), std::vector<int>(6, 0));
}

TEST_F(Batch, TheBackupsFolderKeepsTwentyDistinctCopiesNamedByTimeAndHash) {
    // Twenty older copies; a new one pushes the oldest out.
    fs::create_directories(backups());
    for (int i = 0; i < 20; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "eeprom-20200101T0000%02dZ-0000000%d.bin", i, i % 10);
        WriteFileBytes(backups() + "/" + name, "old" + std::to_string(i));
    }
    const std::string holds = Bytes(host.eeprom());
    const std::string file = work.path() + "/config.json";
    ASSERT_EQ(batch({"config", "export", file, "--yes"}).status, 0);
    WriteFileBytes(file, Replaced(ReadFileBytes(file), "\"parity\": true", "\"parity\": false"));
    ASSERT_EQ(batch({"config", "import", file, "--yes"}).status, 0);
    auto copies = kept("eeprom");
    ASSERT_EQ(copies.size(), 20u);
    EXPECT_EQ(copies.front(), "eeprom-20200101T000001Z-00000001.bin");
    EXPECT_TRUE(
        std::regex_match(copies.back(), std::regex("eeprom-2\\d{7}T\\d{6}Z-[0-9a-f]{8}\\.bin")))
        << copies.back();
    EXPECT_EQ(ReadFileBytes(backups() + "/" + copies.back()), holds);

    // The erased flash, kept once, is not written again when the next change replaces the same.
    ASSERT_EQ(batch({"flash", "erase", "--yes"}).status, 0);
    ASSERT_EQ(batch({"flash", "erase", "--yes"}).status, 0);
    const auto inodes = [this] {
        std::vector<ino_t> found;
        struct stat st {};
        for (const std::string& name : kept("flash")) {
            if (stat((backups() + "/" + name).c_str(), &st) == 0) found.push_back(st.st_ino);
        }
        return found;
    };
    const std::vector<ino_t> before = inodes();
    ASSERT_EQ(before.size(), 2u);
    ASSERT_EQ(batch({"flash", "erase", "--yes"}).status, 0);
    EXPECT_EQ(inodes(), before);
}

// A full disk: the copy of the flash cannot be written whole, and nothing of it is left behind.
TEST_F(Batch, NoCopyOnAFullDiskNoChange) {
    fs::create_directories(work.path() + "/full");
    SmallDisk disk(work.path() + "/full", 256 * 1024);
    if (!disk.mounted()) GTEST_SKIP() << disk.reason();
    fs::create_directories(work.path() + "/full/sc820/backups");
    disk.fill();
    host.hostOk({"init", "--force"});
    const std::string before = flash();
    const BatchResult r =
        batch({"flash", "erase", "--yes"}, {"XDG_STATE_HOME=" + work.path() + "/full"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("MSG_NOBACKUP"), std::string::npos) << r.err;
    EXPECT_TRUE(flash() == before);
    EXPECT_TRUE(fs::is_empty(work.path() + "/full/sc820/backups"));
}

}  // namespace
