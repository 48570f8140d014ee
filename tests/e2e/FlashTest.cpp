// Erase and Write end to end, checked against the card's flash through the host tool.
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <regex>

#include "app/Messages.h"
#include "driverif/CommandCodes.h"
#include "tests/e2e/Scenario.h"

namespace {

namespace fs = std::filesystem;

using Flash = Scenario;

std::string Image(size_t length, uint8_t seed) {
    std::string image(length, '\0');
    for (size_t i = 0; i < length; ++i) image[i] = static_cast<char>((i * 31 + seed) % 251 + 1);
    return image;
}

// What the flash holds after a sweep wrote an image: the image followed by zero bytes, cut at
// the flash's 64 KiB.
std::string FlashAfterWrite(const std::string& image) {
    std::string flash = image.substr(0, std::min<size_t>(image.size(), kFlashSize));
    flash.resize(kFlashSize, '\0');
    return flash;
}

const std::string kErased(kFlashSize, '\xFF');

std::string WriteScript(const std::string& file) {
    return "answer 1\npress write\nanswer 1\nchoose " + file +
           "\nanswer 1\nanswer 1\ndump\npress cancel\n";
}

// A file refused after the panel: its alert is the only one answered after the choice.
std::string RefusalScript(const std::string& file) {
    return "answer 1\npress write\nanswer 1\nchoose " + file + "\nanswer 1\ndump\npress cancel\n";
}

TEST_F(Flash, ImagesAreWrittenVerifiedAndEraseOnlyFromTheThreshold) {
    struct Case {
        size_t length;
        int erases;
        const char* digest;  // the first 16 hex digits of the image's SHA-256
    };
    const Case cases[] = {{1, 0, "dbc1b4c900ffe48d"},
                          {4095, 0, "372b621daded9c82"},
                          {4096, 1, "93a0b997eb799c7c"},
                          {65536, 1, "bf42498166147695"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        host.hostOk({"init", "--force"});
        const std::string image = Image(c.length, static_cast<uint8_t>(c.length));
        const std::string file = work.path() + "/image.bin";
        WriteFileBytes(file, image);
        const RunResult r = run(WriteScript(file));
        EXPECT_EQ(r.alertMessages(),
                  (std::vector<std::string>{text(MSG_START), text(MSG_WRITE), text(MSG_WRITESTART),
                                            text(MSG_WRITESUCCESS)}))
            << r.output;
        // The last question names the file, its size and its digest.
        EXPECT_EQ(r.informativeTexts()[2],
                  file + "\n" + std::to_string(c.length) + " bytes, SHA-256 " + c.digest);
        EXPECT_EQ(r.control("out_verSCSIBIOS"), "updated.");
        EXPECT_EQ(flash(), FlashAfterWrite(image));
        const auto counts = host.commandCounts();
        EXPECT_EQ(counts[kEraseFlash], c.erases);
        EXPECT_EQ(counts[kWriteFlash], 17);
        // Start-up refresh, the copy kept before the change, the read-back and the refresh
        // afterwards.
        EXPECT_EQ(counts[kReadFlash], 17 * 4);
    }
}

TEST_F(Flash, ImagesLongerThanTheReadBackAreComparedAgainstWhatWasRead) {
    // Bytes 65,536 to 67,999 read back erased; bytes from 68,000 on are never read back and
    // count as zero, so an image with anything else there is refused before the flash is erased.
    std::string passes = Image(69536, 3);
    std::fill(passes.begin() + kFlashSize, passes.begin() + 68000, '\xFF');
    std::fill(passes.begin() + 68000, passes.end(), '\0');
    std::string firstRefused = passes;
    firstRefused[68000] = '\x01';
    std::string lastRefused = passes;
    lastRefused[69535] = '\x01';
    const std::pair<std::string, bool> cases[] = {
        {passes, true}, {firstRefused, false}, {lastRefused, false}};
    for (const auto& [image, usable] : cases) {
        host.hostOk({"init", "--force"});
        const std::string before = flash();
        const std::string file = work.path() + "/image.bin";
        WriteFileBytes(file, image);
        const RunResult r = run(usable ? WriteScript(file) : RefusalScript(file));
        EXPECT_EQ(r.alertMessages().back(), text(usable ? MSG_WRITESUCCESS : MSG_FILEERROR));
        EXPECT_EQ(r.informativeTexts().back(), usable ? "" : text(MSG_FILEUNVERIFIABLE));
        EXPECT_EQ(flash(), usable ? FlashAfterWrite(image) : before);
        EXPECT_EQ(host.commandCounts()[kEraseFlash], usable ? 1 : 0);
    }
}

TEST_F(Flash, FailedWritesLeaveTheFlashErasedAndShowZero) {
    // A difference in the very last byte (the 64 KiB flash cannot hold byte 65,536), and
    // refused write chunks even for an image that the flash already holds.
    std::string tooLong = Image(65537, 9);
    tooLong.back() = '\x42';
    const std::pair<std::string, const char*> cases[] = {{tooLong, nullptr},
                                                         {flash().substr(0, 1000), "refuse-5"}};
    const std::string file = work.path() + "/image.bin";
    for (const auto& [image, fault] : cases) {
        host.hostOk({"init", "--force"});
        if (fault != nullptr) host.hostOk({"fault", fault, "on"});
        WriteFileBytes(file, image);
        const RunResult r = run(WriteScript(file));
        EXPECT_EQ(r.alertMessages().back(), text(MSG_WRITEFAIL));
        EXPECT_EQ(r.control("out_verSCSIBIOS"), "0");
        EXPECT_EQ(flash(), kErased);
        // The panel started in the home folder and returned the chosen file.
        bool sawPanel = false;
        for (const auto& l : r.transcript) {
            if (l.fields[0] != "panel") continue;
            sawPanel = l.fields.size() >= 4 && l.fields[1] == work.path() && l.fields[3] == file;
        }
        EXPECT_TRUE(sawPanel);
    }
}

// No alert and no field may claim a state the flash is not in. An image that needs an erase is
// not written over contents the card refused to erase; a failed write whose erase is refused
// does not read "0".
TEST_F(Flash, RefusedErasesNeverClaimAnErasedOrUnchangedFlash) {
    struct Case {
        const char* name;
        size_t length;
        std::vector<const char*> faults;
        std::vector<const char*> lastAlerts;
        const char* version;  // the SCSI BIOS field afterwards; null: as at start-up
        int writes;
        int alertsAfterPanel;
    };
    const Case cases[] = {
        {"erase before the write refused",
         5000,
         {"refuse-3"},
         {MSG_WRITESTART, MSG_ERASEFAIL},
         nullptr,
         0,
         2},
        {"failed write, erase refused",
         1000,
         {"refuse-5", "refuse-3"},
         {MSG_WRITEFAIL, MSG_WRITEERASEFAIL},
         "",
         17,
         3},
    };
    const std::string file = work.path() + "/image.bin";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        host.hostOk({"init", "--force"});
        const std::string before = flash();
        for (const char* fault : c.faults) host.hostOk({"fault", fault, "on"});
        WriteFileBytes(file, Image(c.length, 7));
        std::string script = "answer 1\ndump\npress write\nanswer 1\nchoose " + file + "\n";
        for (int i = 0; i < c.alertsAfterPanel; ++i) script += "answer 1\n";
        const RunResult r = run(script + "dump\npress cancel\n");
        const auto alerts = r.alertMessages();
        ASSERT_GE(alerts.size(), 2u) << r.output;
        EXPECT_EQ(alerts[alerts.size() - 2], text(c.lastAlerts[0]));
        EXPECT_EQ(alerts.back(), text(c.lastAlerts[1]));
        EXPECT_EQ(r.lastKind(), "terminate");
        // The first dump shows the start-up version; the second one the outcome.
        std::string startupVersion;
        for (const auto& l : r.transcript) {
            if (l.fields[0] == "control" && l.fields[1] == "out_verSCSIBIOS") {
                startupVersion = l.fields[2];
                break;
            }
        }
        ASSERT_EQ(startupVersion, "3.1.4");
        EXPECT_EQ(r.control("out_verSCSIBIOS"), c.version != nullptr ? c.version : "3.1.4");
        EXPECT_EQ(flash(), before);
        const auto counts = host.commandCounts();
        EXPECT_EQ(counts[kWriteFlash], c.writes);
        // The window was refreshed after the action ended: a second read sweep at least.
        EXPECT_GE(counts[kReadFlash], 34);
    }
}

TEST_F(Flash, RefusingAQuestionOrThePanel) {
    struct Case {
        const char* name;
        std::string script;
        int readSweeps;  // start-up, plus one when the window was refreshed
    };
    const std::string file = work.path() + "/image.bin";
    WriteFileBytes(file, Image(5000, 4));
    const Case cases[] = {
        {"write refused", "answer 1\npress write\nanswer 0\npress cancel\n", 1},
        {"panel cancelled", "answer 1\npress write\nanswer 1\nchoose-cancel\npress cancel\n", 2},
        {"start refused",
         "answer 1\npress write\nanswer 1\nchoose " + file + "\nanswer 0\npress cancel\n", 1},
        {"erase refused", "answer 1\npress erase\nanswer 0\npress cancel\n", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        host.hostOk({"init", "--force"});
        const std::string before = flash();
        const RunResult r = run(c.script);
        EXPECT_EQ(r.lastKind(), "terminate") << r.output;
        EXPECT_EQ(flash(), before);
        const auto counts = host.commandCounts();
        EXPECT_EQ(counts[kReadFlash], 17 * c.readSweeps);
        EXPECT_EQ(counts[kEraseFlash] + counts[kWriteFlash], 0);
    }
}

TEST_F(Flash, EraseEmptiesTheFlashOrReportsTheRefusal) {
    const std::string before = flash();
    RunResult r = run("answer 1\npress erase\nanswer 1\ndump\npress cancel\n");
    EXPECT_EQ(r.alertMessages(), (std::vector<std::string>{text(MSG_START), text(MSG_ERASE)}));
    EXPECT_EQ(r.control("out_verSCSIBIOS"), "0");
    EXPECT_EQ(flash(), kErased);
    // The copy kept before the erase, and the window was refreshed.
    EXPECT_EQ(host.commandCounts()[kReadFlash], 51);

    host.hostOk({"init", "--force"});
    host.hostOk({"fault", "refuse-3", "on"});
    r = run("answer 1\npress erase\nanswer 1\nanswer 1\ndump\npress cancel\n");
    EXPECT_EQ(r.alertMessages(),
              (std::vector<std::string>{text(MSG_START), text(MSG_ERASE), text(MSG_ERASEFAIL)}));
    EXPECT_NE(r.control("out_verSCSIBIOS"), "0");
    EXPECT_EQ(flash(), before);
}

TEST_F(Flash, UnusableFilesAreRefusedBeforeTheFlashIsTouched) {
    const std::string dir = work.path() + "/files";
    fs::create_directories(dir + "/folder");
    WriteFileBytes(dir + "/empty.bin", "");
    WriteFileBytes(dir + "/toolarge.bin", std::string(69537, '\0'));
    mkfifo((dir + "/fifo").c_str(), 0600);
    {
        // A sparse file of 8 GiB: reading it whole would exhaust memory.
        std::FILE* f = std::fopen((dir + "/sparse.bin").c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(ftruncate(fileno(f), 8LL << 30), 0);
        std::fclose(f);
    }
    fs::create_symlink(dir + "/missing", dir + "/dangling");
    const std::pair<const char*, const char*> cases[] = {
        {"empty.bin", MSG_FILEEMPTY},   {"toolarge.bin", MSG_FILETOOLARGE},
        {"fifo", MSG_FILEUNREADABLE},   {"sparse.bin", MSG_FILETOOLARGE},
        {"folder", MSG_FILEUNREADABLE}, {"dangling", MSG_FILEUNREADABLE}};
    for (const auto& [name, reason] : cases) {
        SCOPED_TRACE(name);
        host.hostOk({"init", "--force"});
        const std::string before = flash();
        const RunResult r = run(RefusalScript(dir + "/" + name));
        EXPECT_EQ(r.alertMessages().back(), text(MSG_FILEERROR)) << r.output;
        // The refusal comes before the last question, and says why.
        EXPECT_EQ(r.alertMessages().size(), 3u);
        EXPECT_EQ(r.informativeTexts().back(), text(reason));
        EXPECT_EQ(r.exitCode, 0) << r.output;
        EXPECT_EQ(flash(), before);
        const auto counts = host.commandCounts();
        EXPECT_EQ(counts[kEraseFlash] + counts[kWriteFlash], 0);
    }
}

// A hang-up, Ctrl-C or SIGTERM in the middle of a Write (sent by strace at the 10th chunk
// written into the flash) lets the Write finish: the image is written and verified, or, when
// it does not verify, erased again. Then the program ends by the signal at the idle loop,
// taking no further step of the script and storing nothing.
// The utility under strace, with one system call made to fail or to bring a signal.
std::vector<std::string> Strace(std::vector<std::string> options, const std::string& call,
                                const std::string& injection) {
    std::vector<std::string> argv = {"/usr/bin/strace", "-qq", "-o", "/dev/null"};
    argv.insert(argv.end(), options.begin(), options.end());
    for (const std::string& e : {"trace=" + call, "inject=" + call + ":" + injection}) {
        argv.insert(argv.end(), {"-e", e});
    }
    return argv;
}

TEST_F(Flash, ASignalDuringAWriteLetsItFinishAndThenEndsTheProgram) {
    std::string out;
    if (RunProgram({"/usr/bin/strace", "-qq", "-o", "/dev/null", "/bin/true"}, &out) != 0)
        GTEST_SKIP() << "strace cannot trace here: " << out;
    std::string fails = Image(65537, 9);
    fails.back() = '\x42';  // the flash cannot hold byte 65,536: the image never verifies
    struct Case {
        const char* signal;
        int status;
        std::string image;
        int erases;  // one before the write, one more after a failed verification
    };
    const Case cases[] = {
        {"SIGHUP", 129, Image(30000, 8), 1},
        {"SIGTERM", 143, Image(30000, 8), 1},
        {"SIGINT", 130, Image(30000, 8), 1},
        {"SIGTERM", 143, fails, 2},
    };
    const std::string file = work.path() + "/image.bin";
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.signal) + (c.erases == 2 ? ", failed verification" : ""));
        host.hostOk({"init", "--force"});
        const SCSIUTY_CFG record = eeprom();
        WriteFileBytes(file, c.image);
        // The flash's first write is the erase; the 11th is chunk 9, the 10th chunk.
        runner = Strace({"-f", "-P", host.root() + "/var/db/sc820/flash.bin"}, "pwrite64",
                        std::string("signal=") + c.signal + ":when=11");
        const RunResult r = run(WriteScript(file));
        EXPECT_EQ(r.exitCode, c.status) << r.output;
        EXPECT_EQ(r.lastKind(), "end");
        EXPECT_FALSE(r.has("control"));  // the script's dump after the Write never ran
        // Neither half an image nor an unverified one.
        EXPECT_TRUE(flash() == (c.erases == 1 ? FlashAfterWrite(c.image) : kErased));
        const auto counts = host.commandCounts();
        EXPECT_EQ(counts[kWriteFlash], 17);
        EXPECT_EQ(counts[kEraseFlash], c.erases);
        // start-up, the backup copy, read-back and the refresh after
        EXPECT_EQ(counts[kReadFlash], 17 * 4);
        const SCSIUTY_CFG after = eeprom();
        EXPECT_EQ(std::memcmp(&record, &after, sizeof record), 0);
    }
    // A signal while closing stores the record the user confirmed: the store finishes, and the
    // program then ends by the signal.
    host.hostOk({"init", "--force"});
    // Only the utility is traced; its first rename is the record's replacement.
    runner = Strace({}, "rename", "signal=SIGTERM:when=1");
    const RunResult r = run("answer 1\nselect out_hostSCSIID 5\nclose\nanswer 1\n");
    EXPECT_EQ(r.exitCode, 143) << r.output;
    // The store's success is answered without being shown: nobody may be there to read it.
    EXPECT_EQ(r.alertMessages(), std::vector<std::string>{text(MSG_START)});
    EXPECT_EQ(r.lastKind(), "terminate");
    EXPECT_EQ(eeprom().HA_ScsiID, 5);

    // A registry that cannot be searched in the middle of the sweeps (the kernel state
    // unreadable once, at about the 16th chunk written) ends the program as well, but only after
    // the Write has verified and erased what failed.
    host.hostOk({"init", "--force"});
    runner = Strace({"-P", host.root() + "/var/db/sc820/state.json"}, "newfstatat",
                    "error=EIO:when=260");
    WriteFileBytes(file, Image(30000, 8));
    const RunResult lost =
        run("answer 1\npress write\nanswer 1\nchoose " + file + "\nanswer 1\nanswer 1\nanswer 1\n");
    EXPECT_EQ(lost.exitCode, 1) << lost.output;
    EXPECT_EQ(lost.alertMessages(),
              (std::vector<std::string>{text(MSG_START), text(MSG_WRITE), text(MSG_WRITESTART),
                                        text(MSG_WRITEFAIL), text(MSG_SLOTERROR)}));
    EXPECT_TRUE(flash() == kErased);
    EXPECT_EQ(host.commandCounts()[kEraseFlash], 2);
}

TEST_F(Flash, ASecondRunSeesWhatTheFirstWrote) {
    const std::string first = work.path() + "/first.bin";
    const std::string second = work.path() + "/second.bin";
    WriteFileBytes(first, Image(30000, 5));
    WriteFileBytes(second, Image(20000, 6));
    RunResult r = run(WriteScript(first));
    EXPECT_EQ(r.alertMessages().back(), text(MSG_WRITESUCCESS));
    EXPECT_EQ(flash(), FlashAfterWrite(ReadFileBytes(first)));
    r = run(WriteScript(second));
    EXPECT_EQ(r.alertMessages().back(), text(MSG_WRITESUCCESS));
    EXPECT_EQ(flash(), FlashAfterWrite(ReadFileBytes(second)));
}

TEST_F(Flash, EraseKeepsACopyOfTheFlashOrAsksToGoOnWithout) {
    struct Case {
        const char* name;
        bool blocked;  // the backups folder cannot be made
        const char* answer;
        std::vector<const char*> alerts;
        bool erased;
    };
    const Case cases[] = {
        {"copy kept", false, "", {MSG_START, MSG_ERASE}, true},
        {"no copy, Cancel", true, "answer 1\n", {MSG_START, MSG_ERASE, MSG_NOBACKUP}, false},
        {"no copy, OK", true, "answer -1\n", {MSG_START, MSG_ERASE, MSG_NOBACKUP}, true},
    };
    WriteFileBytes(work.path() + "/blocked", "");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        host.hostOk({"init", "--force"});
        fs::remove_all(work.path() + "/state");
        const std::string before = flash();
        const RunResult r =
            run(std::string("answer 1\npress erase\nanswer 1\n") + c.answer + "press cancel\n",
                SC820_BUNDLE_DIR,
                {c.blocked ? "XDG_STATE_HOME=" + work.path() + "/blocked" : "LANGUAGE="});
        std::vector<std::string> expected;
        for (const char* key : c.alerts) expected.push_back(text(key));
        EXPECT_EQ(r.alertMessages(), expected) << r.output;
        EXPECT_TRUE(flash() == (c.erased ? kErased : before));
        const std::string folder = work.path() + "/state/sc820/backups";
        std::vector<std::string> kept;
        if (fs::exists(folder)) {
            for (const auto& e : fs::directory_iterator(folder)) kept.push_back(e.path().string());
        }
        ASSERT_EQ(kept.size(), c.blocked ? 0u : 1u);
        if (c.blocked) {
            // Going on cannot be undone: Cancel is the default button.
            EXPECT_EQ(r.transcript[2].fields[3], "Cancel");
            continue;
        }
        EXPECT_TRUE(ReadFileBytes(kept[0]) == before);
        EXPECT_TRUE(std::regex_match(fs::path(kept[0]).filename().string(),
                                     std::regex("flash-2\\d{7}T\\d{6}Z-[0-9a-f]{8}\\.bin")))
            << kept[0];
    }
}

}  // namespace
