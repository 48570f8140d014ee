// Erase and Write end to end, checked against the card's flash byte for byte.
#include <sys/stat.h>

#include <filesystem>

#include "app/Messages.h"
#include "tests/e2e/Scenario.h"

namespace {

namespace fs = std::filesystem;
using Flash = Scenario;

// The alerts of a Write up to its last question, then the given ones.
std::vector<std::string> Writing(std::vector<std::string> then) {
    then.insert(then.begin(), {MSG_START, MSG_WRITE, MSG_WRITESTART});
    return then;
}

// Commands sent: the start-up read, erases, 17-chunk read sweeps and write sweeps.
std::vector<int> Sent(int erases, int reads, int writes = 0) {
    return {1, 0, 0, erases, 17 * reads, 17 * writes};
}

// A file refused after the panel, before the flash is touched, and why.
Row Refused(const std::string& name, std::function<void(Scenario&)> setUp, const char* reason) {
    return {{name, "", {MSG_START, MSG_WRITE, MSG_FILEERROR}, 0, setUp},
            {.informs = {reason}, .counts = Sent(0, 1)}};
}
std::function<void(Scenario&)> File(const std::string& image) {
    return [image](Scenario& s) {
        fs::remove_all(s.home("image.bin"));
        WriteFileBytes(s.home("image.bin"), image);
    };
}
std::function<void(Scenario&)> Made(void (*make)(const std::string& path)) {
    return [make](Scenario& s) {
        fs::remove_all(s.home("image.bin"));
        make(s.home("image.bin"));
    };
}

// After a failed change the window is refreshed from the card (the edit of the host ID undone).
std::vector<std::string> Refreshed(const std::string& version) {
    return {"out_verSCSIBIOS<3.1.4", "out_verSCSIBIOS=" + version, "out_hostSCSIID=7"};
}

TEST_F(Flash, EraseAndWrite) {
    std::string fits = Image(69536, 3);  // bytes from 65,536 read back erased, from 68,000 zero
    std::fill(fits.begin() + kFlashSize, fits.begin() + 68000, '\xFF');
    std::fill(fits.begin() + 68000, fits.end(), '\0');
    std::string firstOff = fits, lastOff = fits, tooLong = Image(65537, 9);
    firstOff[68000] = lastOff[69535] = tooLong.back() = '\x01';
    // The last question names the file, its size and its digest.
    const auto writes = [this](size_t length, int erases, const char* digest) -> Row {
        const std::string image = Image(length, static_cast<int>(length % 256));
        return {
            {std::to_string(length) + " bytes", "", Writing({MSG_WRITESUCCESS})},
            {.files = {{"image.bin", image}},
             .controls = {"out_verSCSIBIOS=updated."},
             .informs = {home("image.bin\n") + std::to_string(length) + " bytes, SHA-256 " + digest,
                         ""},
             .counts = Sent(erases, 4, 1),
             .flash = FlashAfterWrite(image)}};
    };
    const auto blocked = [](Scenario& s) {
        WriteFileBytes(s.home("blocked"), "");
        s.env = {"XDG_STATE_HOME=" + s.home("blocked")};
    };
    std::vector<Row> rows = {
        writes(1, 0, "dbc1b4c900ffe48d"),
        writes(4095, 0, "372b621daded9c82"),
        writes(4096, 1, "93a0b997eb799c7c"),
        writes(65536, 1, "bf42498166147695"),
        {{"bytes beyond the flash that read back as written", "", Writing({MSG_WRITESUCCESS})},
         {.files = {{"image.bin", fits}}, .counts = Sent(1, 4, 1), .flash = FlashAfterWrite(fits)}},
        Refused("byte 68,000 not zero", File(firstOff), MSG_FILEUNVERIFIABLE),
        Refused("byte 69,535 not zero", File(lastOff), MSG_FILEUNVERIFIABLE),
        // The panel started in the home folder and returned the chosen file.
        {{"byte 65,536 differs: the write fails and the flash is erased", "",
          Writing({MSG_WRITEFAIL})},
         {.files = {{"image.bin", tooLong}},
          .controls = Refreshed("0"),
          .counts = Sent(2, 4, 1),
          .flash = kErased,
          .check =
              [](Scenario& s, const RunResult& r) {
                  const std::vector<std::string> panel = {"panel", s.work.path(), "1",
                                                          s.home("image.bin")};
                  for (const auto& l : r.transcript)
                      EXPECT_TRUE(l[0] != "panel" || l == panel) << testing::PrintToString(l);
              }}},
        {{"refused write chunks, even of what the flash holds", "", Writing({MSG_WRITEFAIL}), 0,
          [](Scenario& s) {
              File(s.flashBefore.substr(0, 1000))(s);
              s.host.hostOk({"fault", "refuse-5", "on"});
          }},
         {.controls = Refreshed("0"), .counts = Sent(1, 4, 1), .flash = kErased}},
        // An image that needs an erase is not written over contents the card refused to erase.
        {{"the erase before the write refused", "", Writing({MSG_ERASEFAIL}), 0,
          HostDoes({"fault", "refuse-3", "on"})},
         {.files = {{"image.bin", Image(5000, 7)}},
          .controls = Refreshed("3.1.4"),
          .counts = Sent(1, 3)}},
        // A failed write whose erase is refused claims neither an erased nor an old flash.
        {{"failed write, erase refused", "", Writing({MSG_WRITEFAIL, MSG_WRITEERASEFAIL}), 0,
          [](Scenario& s) {
              s.host.hostOk({"fault", "refuse-5", "on"});
              s.host.hostOk({"fault", "refuse-3", "on"});
          }},
         {.files = {{"image.bin", Image(1000, 7)}},
          .controls = Refreshed(""),
          .counts = Sent(1, 4, 1)}},
        {{"Write declined",
          "answer 1\npress write\nanswer 0\npress cancel\n",
          {MSG_START, MSG_WRITE}},
         {.counts = Sent(0, 1)}},
        {{"panel cancelled",
          "answer 1\npress write\nanswer 1\nchoose-cancel\npress cancel\n",
          {MSG_START, MSG_WRITE}},
         {.counts = Sent(0, 2)}},
        {{"last question declined",
          "answer 1\npress write\nanswer 1\nchoose image.bin\nanswer 0\npress cancel\n",
          {MSG_START, MSG_WRITE, MSG_WRITESTART}},
         {.files = {{"image.bin", Image(5000, 4)}}, .counts = Sent(0, 1)}},
        {{"Erase declined",
          "answer 1\npress erase\nanswer 0\npress cancel\n",
          {MSG_START, MSG_ERASE}},
         {.counts = Sent(0, 1)}},
        // The copy kept before, and the refresh.
        {{"Erase", "answer 1\npress erase\nanswer 1\ndump\npress cancel\n", {MSG_START, MSG_ERASE}},
         {.controls = {"out_verSCSIBIOS=0"},
          .counts = Sent(1, 3),
          .flash = kErased,
          .keeps = "flash"}},
        {{"Erase refused",
          "answer 1\npress erase\nanswer 1\nanswer 1\ndump\npress cancel\n",
          {MSG_START, MSG_ERASE, MSG_ERASEFAIL},
          0,
          HostDoes({"fault", "refuse-3", "on"})},
         {.controls = {"out_verSCSIBIOS=3.1.4"}, .counts = Sent(1, 3)}},
        // Going on without a copy (the flash read, not stored) cannot be undone: Cancel is the
        // default button.
        {{"no copy possible, Cancel",
          "answer 1\npress erase\nanswer 1\nanswer 1\npress cancel\n",
          {MSG_START, MSG_ERASE, MSG_NOBACKUP},
          0,
          blocked},
         {.counts = Sent(0, 2),
          .check = [](Scenario&, const RunResult& r) { EXPECT_EQ(r.transcript[2][3], "Cancel"); }}},
        {{"no copy possible, OK",
          "answer 1\npress erase\nanswer 1\nanswer -1\npress cancel\n",
          {MSG_START, MSG_ERASE, MSG_NOBACKUP},
          0,
          blocked},
         {.flash = kErased}},
        // The second run keeps, and overwrites, what the first one wrote.
        {{"a second run", "", Writing({MSG_WRITESUCCESS}), 0,
          [](Scenario& s) {
              File(Image(30000, 5))(s);
              EXPECT_EQ(s.run(WriteScript("image.bin")).exitCode, 0);
              File(Image(20000, 6))(s);
          }},
         {.flash = FlashAfterWrite(Image(20000, 6)),
          .check =
              [](Scenario& s, const RunResult&) {
                  const auto kept = s.kept("flash");
                  ASSERT_EQ(kept.size(), 2u);
                  const auto first = FlashAfterWrite(Image(30000, 5));
                  EXPECT_TRUE(ReadFileBytes(s.backups() + "/" + kept[0]) == first ||
                              ReadFileBytes(s.backups() + "/" + kept[1]) == first);
              }}},
        Refused("empty", File(""), MSG_FILEEMPTY),
        Refused("too large", File(std::string(69537, '\0')), MSG_FILETOOLARGE),
        Refused("a FIFO", Made([](const std::string& p) { mkfifo(p.c_str(), 0600); }),
                MSG_FILEUNREADABLE),
        // A sparse file of 8 GiB: reading it whole would exhaust memory.
        Refused("sparse", Made([](const std::string& p) {
                    WriteFileBytes(p, "");
                    fs::resize_file(p, 8ULL << 30);
                }),
                MSG_FILETOOLARGE),
        Refused("a folder", Made([](const std::string& p) { fs::create_directory(p); }),
                MSG_FILEUNREADABLE),
        Refused("a dangling link",
                Made([](const std::string& p) { fs::create_symlink(p + "-no", p); }),
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
