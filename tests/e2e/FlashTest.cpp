// Erase and Write end to end, checked against the card's flash through the host tool.
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <regex>

#include "app/Messages.h"
#include "driverif/CommandCodes.h"
#include "tests/e2e/Scenario.h"

namespace {

namespace fs = std::filesystem;
using Flash = Scenario;

const std::string kErased(kFlashSize, '\xFF');

// What the flash holds after a sweep wrote an image: the image followed by zero bytes, cut at
// the flash's 64 KiB.
std::string FlashAfterWrite(const std::string& image) {
    std::string flash = image.substr(0, std::min<size_t>(image.size(), kFlashSize));
    flash.resize(kFlashSize, '\0');
    return flash;
}

// The image the panel chooses, "image.bin" in the home folder, and faults of the card.
std::function<void(Scenario&)> File(const std::string& image, const char* fault = nullptr,
                                    const char* second = nullptr) {
    return [=](Scenario& s) {
        fs::remove_all(s.work.path() + "/image.bin");
        WriteFileBytes(s.work.path() + "/image.bin", image);
        for (const char* f : {fault, second})
            if (f != nullptr) s.host.hostOk({"fault", f, "on"});
    };
}

// The alerts of a Write up to its last question, then the given ones.
std::vector<std::string> Writing(std::vector<std::string> then) {
    then.insert(then.begin(), {MSG_START, MSG_WRITE, MSG_WRITESTART});
    return then;
}

// Commands sent: erases, write chunks and read chunks.
void Sent(Scenario& s, int erases, int writes, int reads) {
    const auto counts = s.host.commandCounts();
    EXPECT_EQ(counts[kEraseFlash], erases);
    EXPECT_EQ(counts[kWriteFlash], writes);
    EXPECT_EQ(counts[kReadFlash], reads);
}

Row Writes(size_t length, int erases, const char* digest) {
    const std::string image = Image(length, static_cast<int>(length % 256));
    return {{std::to_string(length) + " bytes", "", Writing({MSG_WRITESUCCESS})},
            File(image),
            [=](Scenario& s, const RunResult& r) {
                // The last question names the file, its size and its digest.
                EXPECT_EQ(r.informativeTexts()[2], s.work.path() + "/image.bin\n" +
                                                       std::to_string(length) + " bytes, SHA-256 " +
                                                       digest);
                EXPECT_EQ(r.control("out_verSCSIBIOS"), "updated.");
                EXPECT_TRUE(s.flash() == FlashAfterWrite(image));
                // Start-up, the copy kept before the change, the read-back, the refresh.
                Sent(s, erases, 17, 17 * 4);
            },
            true};
}

std::function<void(Scenario&, const RunResult&)> Sends(int erases, int writes, int reads) {
    return [=](Scenario& s, const RunResult&) { Sent(s, erases, writes, reads); };
}

// A file refused after the panel, before the flash is touched, and why.
Row Refused(const std::string& name, std::function<void(Scenario&)> setUp, const char* reason) {
    return {{name, "", {MSG_START, MSG_WRITE, MSG_FILEERROR}},
            setUp,
            [=](Scenario& s, const RunResult& r) {
                EXPECT_EQ(r.informativeTexts().back(), s.text(reason));
                Sent(s, 0, 0, 17);
            }};
}

// A failed write: the window is refreshed from the card (the edit of the host ID is undone).
void Refreshed(const RunResult& r, const std::string& version) {
    EXPECT_EQ(r.control("out_verSCSIBIOS", true), "3.1.4");
    EXPECT_EQ(r.control("out_verSCSIBIOS"), version);
    EXPECT_EQ(r.control("out_hostSCSIID"), "7");
    EXPECT_EQ(r.lastKind(), "terminate");
}

TEST_F(Flash, EraseAndWrite) {
    std::string fits = Image(69536, 3);  // bytes from 65,536 read back erased, from 68,000 zero
    std::fill(fits.begin() + kFlashSize, fits.begin() + 68000, '\xFF');
    std::fill(fits.begin() + 68000, fits.end(), '\0');
    std::string firstOff = fits, lastOff = fits, tooLong = Image(65537, 9);
    firstOff[68000] = lastOff[69535] = tooLong.back() = '\x01';
    // Files that are no usable image, made in place of image.bin.
    const auto unusable = [](const char* name, void (*make)(const std::string&),
                             const char* reason) {
        return Refused(
            name,
            [make](Scenario& s) {
                fs::remove_all(s.work.path() + "/image.bin");
                make(s.work.path() + "/image.bin");
            },
            reason);
    };
    std::vector<Row> rows = {
        Writes(1, 0, "dbc1b4c900ffe48d"),
        Writes(4095, 0, "372b621daded9c82"),
        Writes(4096, 1, "93a0b997eb799c7c"),
        Writes(65536, 1, "bf42498166147695"),
        {{"bytes beyond the flash that read back as written", "", Writing({MSG_WRITESUCCESS})},
         File(fits),
         [&](Scenario& s, const RunResult&) {
             EXPECT_TRUE(s.flash() == FlashAfterWrite(fits));
             Sent(s, 1, 17, 17 * 4);
         },
         true},
        Refused("byte 68,000 not zero", File(firstOff), MSG_FILEUNVERIFIABLE),
        Refused("byte 69,535 not zero", File(lastOff), MSG_FILEUNVERIFIABLE),
        {{"byte 65,536 differs: the write fails and the flash is erased", "",
          Writing({MSG_WRITEFAIL})},
         File(tooLong),
         [](Scenario& s, const RunResult& r) {
             Refreshed(r, "0");
             EXPECT_TRUE(s.flash() == kErased);
             Sent(s, 2, 17, 17 * 4);
             // The panel started in the home folder and returned the chosen file.
             for (const auto& l : r.transcript) {
                 if (l.fields[0] != "panel") continue;
                 EXPECT_EQ(l.fields, (std::vector<std::string>{"panel", s.work.path(), "1",
                                                               s.work.path() + "/image.bin"}));
             }
         },
         true},
        {{"refused write chunks, even of what the flash holds", "", Writing({MSG_WRITEFAIL})},
         [](Scenario& s) { File(s.flashBefore.substr(0, 1000), "refuse-5")(s); },
         [](Scenario& s, const RunResult& r) {
             Refreshed(r, "0");
             EXPECT_TRUE(s.flash() == kErased);
             Sent(s, 1, 17, 17 * 4);
         },
         true},
        // An image that needs an erase is not written over contents the card refused to erase.
        {{"the erase before the write refused", "", Writing({MSG_ERASEFAIL})},
         File(Image(5000, 7), "refuse-3"),
         [](Scenario& s, const RunResult& r) {
             Refreshed(r, "3.1.4");
             Sent(s, 1, 0, 17 * 3);
         }},
        // A failed write whose erase is refused claims neither an erased nor an old flash.
        {{"failed write, erase refused", "", Writing({MSG_WRITEFAIL, MSG_WRITEERASEFAIL})},
         File(Image(1000, 7), "refuse-5", "refuse-3"),
         [](Scenario& s, const RunResult& r) {
             Refreshed(r, "");
             Sent(s, 1, 17, 17 * 4);
         }},
        {{"Write declined",
          "answer 1\npress write\nanswer 0\npress cancel\n",
          {MSG_START, MSG_WRITE}},
         {},
         Sends(0, 0, 17)},
        {{"panel cancelled",
          "answer 1\npress write\nanswer 1\nchoose-cancel\npress cancel\n",
          {MSG_START, MSG_WRITE}},
         {},
         Sends(0, 0, 34)},
        {{"last question declined",
          "answer 1\npress write\nanswer 1\nchoose image.bin\nanswer 0\npress cancel\n",
          {MSG_START, MSG_WRITE, MSG_WRITESTART}},
         File(Image(5000, 4)),
         Sends(0, 0, 17)},
        {{"Erase declined",
          "answer 1\npress erase\nanswer 0\npress cancel\n",
          {MSG_START, MSG_ERASE}},
         {},
         Sends(0, 0, 17)},
        {{"Erase", "answer 1\npress erase\nanswer 1\ndump\npress cancel\n", {MSG_START, MSG_ERASE}},
         {},
         [](Scenario& s, const RunResult& r) {
             EXPECT_EQ(r.control("out_verSCSIBIOS"), "0");
             EXPECT_TRUE(s.flash() == kErased);
             Sent(s, 1, 0, 17 * 3);  // and the copy kept before, and the refresh
             const auto kept = s.kept("flash");
             ASSERT_EQ(kept.size(), 1u);
             EXPECT_TRUE(ReadFileBytes(s.backups() + "/" + kept[0]) == s.flashBefore);
             EXPECT_TRUE(std::regex_match(kept[0], std::regex("flash-2\\d{7}T\\d{6}Z-[0-9a-f]{8}"
                                                              "\\.bin")))
                 << kept[0];
         },
         true},
        {{"Erase refused",
          "answer 1\npress erase\nanswer 1\nanswer 1\ndump\npress cancel\n",
          {MSG_START, MSG_ERASE, MSG_ERASEFAIL}},
         HostDoes({"fault", "refuse-3", "on"}),
         [](Scenario&, const RunResult& r) { EXPECT_EQ(r.control("out_verSCSIBIOS"), "3.1.4"); }},
        // Going on without a copy cannot be undone: Cancel is the default button.
        {{"no copy possible, Cancel",
          "answer 1\npress erase\nanswer 1\nanswer 1\npress cancel\n",
          {MSG_START, MSG_ERASE, MSG_NOBACKUP}},
         [](Scenario& s) {
             WriteFileBytes(s.work.path() + "/blocked", "");
             s.env = {"XDG_STATE_HOME=" + s.work.path() + "/blocked"};
         },
         [](Scenario&, const RunResult& r) { EXPECT_EQ(r.transcript[2].fields[3], "Cancel"); }},
        {{"no copy possible, OK",
          "answer 1\npress erase\nanswer 1\nanswer -1\npress cancel\n",
          {MSG_START, MSG_ERASE, MSG_NOBACKUP}},
         [](Scenario& s) { s.env = {"XDG_STATE_HOME=" + s.work.path() + "/blocked"}; },
         [](Scenario& s, const RunResult&) { EXPECT_TRUE(s.flash() == kErased); },
         true},
        // The second run keeps, and overwrites, what the first one wrote.
        {{"a second run", "", Writing({MSG_WRITESUCCESS})},
         [](Scenario& s) {
             File(Image(30000, 5))(s);
             EXPECT_EQ(s.run(WriteScript("image.bin")).exitCode, 0);
             File(Image(20000, 6))(s);
         },
         [](Scenario& s, const RunResult&) {
             EXPECT_TRUE(s.flash() == FlashAfterWrite(Image(20000, 6)));
             const auto kept = s.kept("flash");
             ASSERT_EQ(kept.size(), 2u);
             const auto first = FlashAfterWrite(Image(30000, 5));
             EXPECT_TRUE(ReadFileBytes(s.backups() + "/" + kept[0]) == first ||
                         ReadFileBytes(s.backups() + "/" + kept[1]) == first);
         },
         true},
        unusable(
            "empty", [](const std::string& p) { WriteFileBytes(p, ""); }, MSG_FILEEMPTY),
        unusable(
            "too large", [](const std::string& p) { WriteFileBytes(p, std::string(69537, '\0')); },
            MSG_FILETOOLARGE),
        unusable(
            "a FIFO", [](const std::string& p) { mkfifo(p.c_str(), 0600); }, MSG_FILEUNREADABLE),
        // A sparse file of 8 GiB: reading it whole would exhaust memory.
        unusable(
            "sparse",
            [](const std::string& p) {
                WriteFileBytes(p, "");
                fs::resize_file(p, 8ULL << 30);
            },
            MSG_FILETOOLARGE),
        unusable(
            "a folder", [](const std::string& p) { fs::create_directory(p); }, MSG_FILEUNREADABLE),
        unusable(
            "a dangling link", [](const std::string& p) { fs::create_symlink(p + "-no", p); },
            MSG_FILEUNREADABLE),
    };
    for (Row& row : rows) {
        if (!row.script.empty()) continue;
        row.script = "answer 1\ndump\nselect out_hostSCSIID 5\n" +
                     WriteScript("image.bin", static_cast<int>(row.alerts.size()) - 2).substr(9);
    }
    runTable(rows);
}

}  // namespace
