// Erase and Write end to end, checked against the card's flash byte for byte.
#include <sys/stat.h>

#include <filesystem>

#include "app/Messages.h"
#include "tests/e2e/Scenario.h"

namespace {

namespace fs = std::filesystem;
using Flash = Scenario;
using Texts = std::vector<std::string>;

// Commands sent: the start-up read, erases, 17-chunk read sweeps and write sweeps.
std::vector<int> Sent(int erases, int reads, int writes = 0) {
    return {1, 0, 0, erases, 17 * reads, 17 * writes};
}

// A Write of image.bin, the host ID edited first, each question answered by its default: the
// alerts after its last question, faults, the controls after, the commands sent, the flash.
Row Write(const std::string& name, Texts then, const std::string& image, Texts faults,
          Texts controls, std::vector<int> counts, std::string flash = "", Check check = {}) {
    then.insert(then.begin(), {MSG_START, MSG_WRITE, MSG_WRITESTART});
    const int answers = static_cast<int>(then.size()) - 2;
    return {
        {name,
         "answer 1\ndump\nselect out_hostSCSIID 5\n" + WriteScript("image.bin", answers).substr(9),
         then},
        {.files = {{"image.bin", image}},
         .faults = faults,
         .controls = controls,
         .counts = counts,
         .flash = flash,
         .check = check}};
}

// A file refused after the panel, before the flash is touched, and why.
Row Refused(const std::string& name, const std::string& image, const char* reason,
            void (*make)(const std::string& path) = nullptr) {
    Row row = Write(name, {MSG_FILEERROR}, image, {}, {}, Sent(0, 1));
    row.alerts.erase(row.alerts.begin() + 2);
    row.script = "answer 1\npress write\nanswer 1\nchoose image.bin\nanswer 1\npress cancel\n";
    row.informs = {reason};
    if (make)
        row.setUp = [make](Scenario& s) {
            fs::remove(s.home("image.bin")), make(s.home("image.bin"));
        };
    return row;
}

// After a failed change the window is refreshed from the card (the edit of the host ID undone).
Texts Refreshed(const std::string& version) {
    return {"out_verSCSIBIOS<3.1.4", "out_verSCSIBIOS=" + version, "out_hostSCSIID=7"};
}

Row Erase(const std::string& name, const std::string& answers, Texts alerts,
          std::vector<int> counts, Expect more = {}) {
    more.counts = counts;
    return R(name, "answer 1\npress " + answers + "dump\npress cancel\n", alerts, 0, {}, more);
}

Row With(Row row, SetUp setUp) {
    row.setUp = setUp;
    return row;
}

TEST_F(Flash, EraseAndWrite) {
    std::string fits = Image(69536, 3);  // bytes from 65,536 read back erased, from 68,000 zero
    std::fill(fits.begin() + kFlashSize, fits.begin() + 68000, '\xFF');
    std::fill(fits.begin() + 68000, fits.end(), '\0');
    std::string firstOff = fits, lastOff = fits, tooLong = Image(65537, 9);
    firstOff[68000] = lastOff[69535] = tooLong.back() = '\x01';
    // The last question names the file, its size and its digest.
    const auto writes = [this](size_t length, int erases, const char* digest) {
        const std::string image = Image(length, static_cast<int>(length % 256));
        Row row = Write(std::to_string(length) + " bytes", {MSG_WRITESUCCESS}, image, {},
                        {"out_verSCSIBIOS=updated."}, Sent(erases, 4, 1), FlashAfterWrite(image));
        row.informs = {home("image.bin\n") + std::to_string(length) + " bytes, SHA-256 " + digest,
                       ""};
        return row;
    };
    const Texts writing = {MSG_START, MSG_WRITE}, erasing = {MSG_START, MSG_ERASE};
    runTable({
        writes(1, 0, "dbc1b4c900ffe48d"),
        writes(4095, 0, "372b621daded9c82"),
        writes(4096, 1, "93a0b997eb799c7c"),
        writes(65536, 1, "bf42498166147695"),
        Write("bytes beyond the flash that read back as written", {MSG_WRITESUCCESS}, fits, {}, {},
              Sent(1, 4, 1), FlashAfterWrite(fits)),
        Refused("byte 68,000 not zero", firstOff, MSG_FILEUNVERIFIABLE),
        Refused("byte 69,535 not zero", lastOff, MSG_FILEUNVERIFIABLE),
        // The panel started in the home folder and returned the chosen file.
        Write("byte 65,536 differs: the flash is erased", {MSG_WRITEFAIL}, tooLong, {},
              Refreshed("0"), Sent(2, 4, 1), kErased,
              [](Scenario& s, const RunResult& r) {
                  const Texts panel = {"panel", s.work.path(), "1", s.home("image.bin")};
                  for (const auto& l : r.transcript) EXPECT_TRUE(l[0] != "panel" || l == panel);
              }),
        With(Write("refused write chunks, even of what the flash holds", {MSG_WRITEFAIL}, "",
                   {"refuse-5"}, Refreshed("0"), Sent(1, 4, 1), kErased),
             [](Scenario& s) {
                 WriteFileBytes(s.home("image.bin"), s.flashBefore.substr(0, 1000));
             }),
        // An image that needs an erase is not written over contents the card refused to erase.
        Write("the erase before the write refused", {MSG_ERASEFAIL}, Image(5000, 7), {"refuse-3"},
              Refreshed("3.1.4"), Sent(1, 3)),
        // A failed write whose erase is refused claims neither an erased nor an old flash.
        Write("failed write, erase refused", {MSG_WRITEFAIL, MSG_WRITEERASEFAIL}, Image(1000, 7),
              {"refuse-5", "refuse-3"}, Refreshed(""), Sent(1, 4, 1)),
        Erase("Write declined", "write\nanswer 0\n", writing, Sent(0, 1)),
        Erase("panel cancelled", "write\nanswer 1\nchoose-cancel\n", writing, Sent(0, 2)),
        Erase("last question declined", "write\nanswer 1\nchoose image.bin\nanswer 0\n",
              {MSG_START, MSG_WRITE, MSG_WRITESTART}, Sent(0, 1),
              {.files = {{"image.bin", Image(5000, 4)}}}),
        Erase("Erase declined", "erase\nanswer 0\n", erasing, Sent(0, 1)),
        // The copy kept before, and the refresh.
        Erase("Erase", "erase\nanswer 1\n", erasing, Sent(1, 3),
              {.controls = {"out_verSCSIBIOS=0"}, .flash = kErased, .keeps = "flash"}),
        Erase("Erase refused", "erase\nanswer 1\nanswer 1\n", {MSG_START, MSG_ERASE, MSG_ERASEFAIL},
              Sent(1, 3), {.faults = {"refuse-3"}, .controls = {"out_verSCSIBIOS=3.1.4"}}),
        // Going on without a copy (the flash read, not stored) cannot be undone: Cancel is the
        // default button.
        R("no copy possible, Cancel", "answer 1\npress erase\nanswer 1\nanswer 1\npress cancel\n",
          {MSG_START, MSG_ERASE, MSG_NOBACKUP}, 0, Blocked,
          {.counts = Sent(0, 2),
           .check = [](Scenario&,
                       const RunResult& r) { EXPECT_EQ(r.transcript[2][3], "Cancel"); }}),
        R("no copy possible, OK", "answer 1\npress erase\nanswer 1\nanswer -1\npress cancel\n",
          {MSG_START, MSG_ERASE, MSG_NOBACKUP}, 0, Blocked, {.flash = kErased}),
        Refused("empty", "", MSG_FILEEMPTY),
        Refused("too large", std::string(69537, '\0'), MSG_FILETOOLARGE),
        Refused("a FIFO", "", MSG_FILEUNREADABLE,
                [](const std::string& p) { mkfifo(p.c_str(), 0600); }),
        // A sparse file of 8 GiB: reading it whole would exhaust memory.
        Refused(
            "sparse", "", MSG_FILETOOLARGE,
            [](const std::string& p) { WriteFileBytes(p, ""), fs::resize_file(p, 8ULL << 30); }),
        Refused("a folder", "", MSG_FILEUNREADABLE,
                [](const std::string& p) { fs::create_directory(p); }),
        Refused("a dangling link", "", MSG_FILEUNREADABLE,
                [](const std::string& p) { fs::create_symlink(p + "-no", p); }),
    });
}

}  // namespace
