// The terminal backend as a person sees it: the real program in a pseudo-terminal, keys typed,
// the screen read back through a terminal emulator. No automation runs: the program's own
// alerts and file prompt take the keys.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>

#include "driverif/def.h"
#include "platform/foundation/Foundation.h"
#include "tests/support/TempHost.h"
#include "tests/support/TerminalProgram.h"

namespace {

// What the keys send with the keypad in application mode, as curses asks the terminal.
const std::string kEnter = "\r", kEscape = "\033", kTab = "\t", kUp = "\033OA", kDown = "\033OB",
                  kRight = "\033OC", kF10 = "\033[21~", kCtrlC = "\003";
const std::string kProgram = std::string(SC820_BUNDLE_DIR) + "/Contents/bin/sc820-utility";
using Rows = std::vector<std::pair<int, std::string>>;

// A left-button press at the 0-based cell, as a terminal reports it in SGR mouse mode.
std::string Click(int row, int column) {
    const std::string at = std::to_string(column + 1) + ";" + std::to_string(row + 1);
    return "\033[<0;" + at + "M\033[<0;" + at + "m";
}

// 5000 bytes that differ for each seed.
std::string Image(int seed) {
    std::string image(5000, '\0');
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 7 + seed);
    return image;
}

class TerminalScreen : public ::testing::Test {
protected:
    std::unique_ptr<TerminalProgram> start(const std::vector<std::string>& extraEnv = {},
                                           int rows = 24, int columns = 80,
                                           std::vector<std::string> options = {"--terminal"},
                                           const std::string& program = kProgram) {
        std::vector<std::string> env = {"SC820_HOST_ROOT=" + host.root(), "HOME=" + work.path(),
                                        "LANG=en_US.UTF-8", "LC_ALL=C.UTF-8", "QT_QPA_PLATFORM="};
        env.insert(env.end(), extraEnv.begin(), extraEnv.end());
        options.insert(options.begin(), program);
        return std::make_unique<TerminalProgram>(options, env, rows, columns);
    }

    // Answers the start-up question with OK and waits for the card's configuration.
    static void reachMainScreen(TerminalProgram& program) {
        ASSERT_TRUE(program.waitForText("Continue?")) << program.screen();
        program.send(kEnter);
        ASSERT_TRUE(program.waitForText("Circuit board: 1.20")) << program.screen();
    }

    // Waits until each row reads as written and the focus cell is drawn reversed.
    static void expectRows(TerminalProgram& program, const Rows& rows, std::pair<int, int> focus) {
        const auto shown = [&](const std::pair<int, std::string>& r) {
            return program.row(r.first) == r.second;
        };
        program.waitUntil([&] {
            return std::all_of(rows.begin(), rows.end(), shown) &&
                   (focus.first < 0 || program.reversed(focus.first, focus.second));
        });
        for (const auto& [row, text] : rows) EXPECT_EQ(program.row(row), text) << row;
        EXPECT_TRUE(focus.first < 0 || program.reversed(focus.first, focus.second))
            << program.screen();
    }

    static void expectRestored(const TerminalProgram& program) {
        EXPECT_FALSE(program.alternateScreen()) << "left on the alternate screen";
        EXPECT_TRUE(program.cursorVisible()) << "left with the cursor hidden";
        const struct termios modes = program.modes();
        EXPECT_TRUE(modes.c_lflag & ICANON) << "left without line editing";
        EXPECT_TRUE(modes.c_lflag & ECHO) << "left without echo";
        EXPECT_TRUE(modes.c_lflag & ISIG) << "left without Ctrl-C";
        EXPECT_TRUE(modes.c_iflag & ICRNL) << "left with Enter not ending lines";
        // Mouse reporting ("...1000h") is switched off ("...1000l") after it was last switched on.
        const size_t on = program.output().rfind("1000h");
        const size_t off = program.output().rfind("1000l");
        EXPECT_TRUE(on == std::string::npos || (off != std::string::npos && off > on))
            << "left reporting the mouse";
    }

    std::string flash() const {
        host.hostOk({"flash", "get", work.path() + "/flash.bin"});
        return ReadFileBytes(work.path() + "/flash.bin").substr(0, 5000);
    }

    TempHost host;
    TempDir work;
};

// Without a display the terminal is used when standard input and output are a terminal. The
// start-up alert shows its title, text and buttons, OK (the default) focused; Escape declines
// and leaves the drivers as they were.
TEST_F(TerminalScreen, TheStartUpAlertIsDrawnAndEscapeDeclinesIt) {
    auto program = start({}, 24, 80, {});
    ASSERT_TRUE(program->waitUntil([&] {
        const auto [row, column] = program->find("[ Cancel ]  [ OK ]");
        return row >= 0 && program->find("Continue?").first >= 0 &&
               program->reversed(row, column + 12);
    })) << program->screen();
    const int title = program->find("┌─ SC820 Utility ─").first;
    ASSERT_GE(title, 0) << program->screen();
    EXPECT_GT(program->find("The utility will now unload the card's SCSI driver").first, title);
    const auto [buttons, cancel] = program->find("[ Cancel ]  [ OK ]");
    EXPECT_GT(buttons, title) << program->screen();
    EXPECT_FALSE(program->reversed(buttons, cancel));
    program->send(kEscape);
    EXPECT_EQ(program->waitForExit(), 4);  // declined
    expectRestored(*program);
    EXPECT_NE(host.hostOk({"status"}).find("com.tavik.driver.ZolSC820"), std::string::npos);
}

// Without a terminal, or on one that cannot place the cursor, the program refuses in one line.
TEST_F(TerminalScreen, WithoutAUsableTerminalTheProgramRefusesInOneLine) {
    std::string output;
    EXPECT_EQ(RunProgram({kProgram, "--terminal"}, &output,
                         {"SC820_HOST_ROOT=" + host.root(), "DISPLAY="}),
              1);
    EXPECT_EQ(output,
              "sc820-utility: the terminal backend needs a terminal on standard input and "
              "output\n");
    auto dumb = start({"TERM=dumb"});
    EXPECT_EQ(dumb->waitForExit(), 1);
    EXPECT_NE(
        dumb->output().find("sc820-utility: the terminal type dumb cannot show a full screen"),
        std::string::npos)
        << dumb->output();
    expectRestored(*dumb);
}

TEST_F(TerminalScreen, AKnownRecordShowsItsValuesInTheirPlaces) {
    SCSIUTY_CFG record = host.eeprom();
    record.HA_ScsiID = 5;
    record.ResetToSelTime = 4;  // 5 s
    record.RQdelay = 2;         // 250 ms
    record.Burst = 0;           // enabled: the record's sense is inverted
    record.ParityEnable = 0;
    record.TermMode = ENABLE_HIGHTERM;
    record.SyncEnable[5] = 0;
    record.WideEnable[5] = 1;
    record.DisconnectEnable[5] = 1;
    record.SyncSpeed[5] = SYNC_13p3MB;  // 26.6 MB/s on a wide target
    record.SyncEnable[6] = 1;
    record.WideEnable[6] = 0;
    record.DisconnectEnable[6] = 0;
    host.putEeprom(record);
    auto program = start();
    reachMainScreen(*program);
    expectRows(
        *program,
        {{2, "│Host adapter SCSI ID:  [5 ▾]     │ Target ID Max transfer Sync Wide Disconnect│"},
         {3, "│Reset recovering time: [5 s  ▾]  │         0 [40 MB/s  ▾] [x]  [x]     [x]    │"},
         {4, "│Request-sense delay:   [250 ms▾] │         1 [26.6 MB/s▾] [x]  [x]     [x]    │"},
         {6, "││(*) Enabled ( ) Disabled      │ │         3 [16 MB/s  ▾] [x]  [x]     [ ]    │"},
         {8, "│┌─ SCSI parity ────────────────┐ │         5 [26.6 MB/s▾] [ ]  [x]     [x]    │"},
         {9, "││( ) Enabled (*) Disabled      │ │         6 [5 MB/s   ▾] [x]  [ ]     [ ]    │"},
         {13, "││(*) High byte only            │ │        10 [16 MB/s  ▾] [x]  [x]     [x]    │"},
         {20, "│Circuit board: 1.20           SCSI BIOS:        3.1.4                         │"}},
        {2, 24});
    // The README's picture of the terminal screen is painted from this capture.
    if (const char* capture = std::getenv("SC820_SCREEN_CAPTURE")) {
        WriteFileBytes(capture, program->capture());
    }
    program->send(kCtrlC);
    program->waitForExit();
}

// The keys open and change a list and toggle a box, the mouse clicks a box, and the window's
// close key stores the form.
TEST_F(TerminalScreen, KeysAndTheMouseChangeTheFormAndClosingStoresIt) {
    SCSIUTY_CFG record = host.eeprom();
    record.HA_ScsiID = 7;
    record.SyncEnable[0] = 0;
    record.WideEnable[0] = 1;
    record.DisconnectEnable[2] = 1;
    host.putEeprom(record);
    auto program = start();
    reachMainScreen(*program);
    program->send(kEnter);  // the focused host SCSI ID list opens at its current entry
    ASSERT_TRUE(program->waitUntil([&] {
        const auto [row, column] = program->find("│ 7    │");
        return row > 0 && program->reversed(row, column + 1) &&
               !program->reversed(row - 1, column + 1);
    })) << program->screen();
    program->send(kDown + kDown + kEnter);
    ASSERT_TRUE(program->waitForText("Host adapter SCSI ID:  [9 ▾]")) << program->screen();
    // From the host SCSI ID list: right to target 0's transfer list, right to its Sync box.
    program->send(kDown + kUp + kRight + kRight);
    ASSERT_TRUE(program->waitUntil([&] {
        const auto at = program->find("0 [");
        return at.first == 3 && program->reversed(3, at.second + 15);
    })) << program->screen();
    program->send(" ");
    ASSERT_TRUE(program->waitUntil([&] {
        return program->row(3).find("▾] [x]  [x]") != std::string::npos;
    })) << program->screen();
    const auto [target2, column] = program->find("2 [");
    ASSERT_EQ(target2, 5) << program->screen();
    program->send(Click(target2, column + 29));  // "2 [20 MB/s  ▾] [x]  [x]     [x]"
    ASSERT_TRUE(program->waitUntil([&] { return program->cell(target2, column + 29) == " "; }))
        << program->screen();
    program->send(kF10);  // the window's close box: stores, then says so
    ASSERT_TRUE(program->waitForText("stored")) << program->screen();
    program->send(kEnter);
    EXPECT_EQ(program->waitForExit(), 0) << program->screen();
    expectRestored(*program);
    const SCSIUTY_CFG stored = host.eeprom();
    EXPECT_EQ(stored.HA_ScsiID, 9);
    EXPECT_EQ(stored.SyncEnable[0], 1);
    EXPECT_EQ(stored.WideEnable[0], 1);
    EXPECT_EQ(stored.DisconnectEnable[2], 0);
}

// Write BIOS… asks first, then prompts for the file: the prompt lists its folder at once, and
// typing, Tab, the arrows and Enter pick the file. A name that is not UTF-8 is used byte for
// byte where paths keep their bytes, else refused: never another file's name. Escape at the
// question or at the prompt writes nothing.
TEST_F(TerminalScreen, TheWriteQuestionAndFilePromptTakeTheKeys) {
    const bool bytesKept = NSString(std::string("a\xff")).UTF8String() == "a\xff";
    WriteFileBytes(work.path() + "/img\xff.bin", Image(1));
    WriteFileBytes(work.path() + "/img\xef\xbf\xbd.bin", Image(2));  // U+FFFD as UTF-8
    WriteFileBytes(work.path() + "/bios\xe9.rom", Image(3));         // Latin-1
    WriteFileBytes(work.path() + "/bios-image.rom", Image(4));
    std::filesystem::create_directories(work.path() + "/other");
    WriteFileBytes(work.path() + "/other/image.rom", Image(5));
    const struct Case {
        const char* name;
        std::string question;  // the keys at the question before the prompt
        std::string keys;      // at the prompt
        int written;           // the image then in the flash; 0: the flash as it was
    } cases[] = {
        {"Escape declines the question", kEscape, "", 0},
        {"Escape cancels the prompt", kEnter, kEscape, 0},
        {"Tab completes", kEnter, "bios-" + kTab + kEnter, 4},
        {"the arrows pick from the list", kEnter, kDown + kEnter, 4},
        {"a typed / starts a new path", kEnter,
         "/" + work.path().substr(1) + "/other/image.rom" + kEnter, 5},
        {"a typed ~ starts at home", kEnter, "~/bios-image.rom" + kEnter, 4},
        {"a name that is not UTF-8", kEnter, "img" + kDown + kDown + kEnter, bytesKept ? 1 : 0},
        {"a Latin-1 name", kEnter, "bios" + kDown + kDown + kEnter, bytesKept ? 3 : 0},
    };
    auto program = start();
    reachMainScreen(*program);
    std::string before = flash();
    bool listed = false;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        program->send("w");  // the Write BIOS… button's letter
        ASSERT_TRUE(program->waitForText("[ Cancel ]  [ OK ]")) << program->screen();
        program->send(c.question);
        if (c.question == kEnter) {
            ASSERT_TRUE(program->waitForText("File: " + work.path() + "/")) << program->screen();
            // The first time, before any key: the names sorted by their bytes, the one that is
            // not UTF-8 told apart from its look-alike.
            for (const char* name : {"bios-image.rom", "bios\\xE9.rom", "img\xef\xbf\xbd.bin",
                                     "img\\xFF.bin", "other/"}) {
                EXPECT_TRUE(listed || program->find(std::string("│  ") + name).first >= 0) << name;
            }
            listed = true;
            program->send(c.keys);
        }
        if (!c.keys.empty() && c.written == 0 && c.keys != kEscape) {
            ASSERT_TRUE(program->waitForText("is not UTF-8")) << program->screen();
            program->send(kEscape);
        } else if (c.written != 0) {
            ASSERT_TRUE(program->waitUntil([&] { return program->find("Folder:").first < 0; }))
                << program->screen();
            ASSERT_TRUE(program->waitForText("[ Cancel ]  [ OK ]")) << program->screen();
            program->send(kEnter);  // the last question before the flash is written
            ASSERT_TRUE(program->waitForText("written and verified")) << program->screen();
            program->send(kEnter);
        }
        ASSERT_TRUE(program->waitUntil([&] {
            return program->find("[ OK ] [ Cancel ]").first >= 0 &&
                   program->find("Folder:").first < 0 && program->find("[ Cancel ]  [").first < 0;
        })) << program->screen();
        const std::string now = flash();
        EXPECT_EQ(now, c.written == 0 ? before : Image(c.written));
        before = now;
    }
    program->send("c");  // Cancel: quit without storing
    EXPECT_EQ(program->waitForExit(), 0);
    expectRestored(*program);
}

// Each language fits the documented 80x24 with every column in reach, a larger screen shows the
// window centred, a terminal too small clips it, and after a shrink (where a terminal keeps
// cells the program no longer knows of) or Ctrl-L the screen is painted from scratch.
TEST_F(TerminalScreen, TheScreenFitsEachLanguageAndEachSize) {
    const std::string l = std::string(60, ' ');
    const std::string de = "LANGUAGE=de";
    const struct Case {
        const char* name;
        std::vector<std::string> env;
        std::vector<std::pair<int, int>> sizes;  // at the start, then after the card is read
        std::string keys;
        std::pair<int, int> focus;  // a cell drawn reversed
        Rows expected;
        std::string scribble = "";  // written by another program before the keys
    } cases[] = {
        // The title bar says what closing does, the bottom line names the keys.
        {"grown, then shrunk back",
         {},
         {{24, 80}, {30, 100}, {24, 80}},
         "",
         {2, 24},
         {{0, " SC820 Utility      F10/Ctrl-W close: stores the form on the card · Ctrl-C quit"},
          {18, "┌─ Versions ───────────────────────────────────────────────────────────────────┐"},
          {23, " Tab/←↑↓→ move · Space toggle · Enter open/press · D E W O C · Esc cancel"}}},
        {"Ctrl-L after another program wrote",
         {},
         {{24, 80}},
         "\014",
         {2, 24},
         {{2, "│Host adapter SCSI ID:  [7 ▾]     │ Target ID Max transfer Sync Wide Disconnect│"},
          {19, "│Utility:       1.0.2          Driver extension: 2.1.0                         │"}},
         "\033[3;1HBroadcast message\033[20;30Hfrom root"},
        {"from a large screen",
         {},
         {{60, 200}, {24, 80}},
         "",
         {2, 24},
         {{1, "┌─ SCSI configuration ─────────────────────────────────────────────────────────┐"},
          {17, "└──────────────────────────────────────────────────────────────────────────────┘"},
          {22, "[ Default ] [ Erase Flash ] [ Write BIOS… ] [ OK ] [ Cancel ]"}}},
        {"a large screen, centred",
         {},
         {{60, 200}},
         "",
         {19, 84},
         {{18, l + "┌─ SCSI configuration ───────────────────────────────────────────────────"
                   "──────┐"},
          {35, l + "│                                 │        15 [13.3 MB/s▾] [x]  [ ]     [x] "
                   "   │"},
          {41, l + "[ Default ] [ Erase Flash ] [ Write BIOS… ] [ OK ] [ Cancel ]"}}},
        // A list still opens and closes there.
        {"far too small",
         {},
         {{24, 80}, {6, 20}},
         kEnter + kEscape,
         {-1, -1},
         {{5, " Tab/←↑↓→ move · Spa"}}},
        {"German, its widest columns scrolled in",
         {de},
         {{24, 80}},
         "",
         {2, 28},
         {{0, " SC820 Utility   F10/Strg-W schließen: speichert auf der Karte · Strg-C beenden"},
          {2, "│SCSI-ID des Hostadapters:  [7 ▾]     │ Ziel-ID Max. Übertragung Synchron Wide▶│"},
          {3, "│Wartezeit nach Reset:      [2 s  ▾]  │       0 [40 MB/s  ▾]       [x]    [x]  │"},
          {22, "[ Standard ] [ Flash löschen ] [ BIOS schreiben… ] [ OK ] [ Abbrechen ]"},
          {23, " Tab/←↑↓→ wechseln · Leertaste wählt · Eingabe öffnet · S L H O A · Esc zurück"}}},
        {"German, the focus on a Disconnect box",
         {de},
         {{24, 80}},
         kRight + kRight + kRight + kRight,
         {3, 65},
         {{2, "│SCSI-ID des Hostadapters:  [7 ▾]     │ Ziel-ID◀Synchron Wide Disconnect       │"},
          {3, "│Wartezeit nach Reset:      [2 s  ▾]  │       0   [x]    [x]     [x]           │"}}},
        // Shift-Tab from the first control: the buttons lie below the screen and are passed
        // over; the last target row is scrolled in, the target rows fill their group.
        {"a short screen, the focus on what is shown",
         {},
         {{20, 80}},
         "\033[Z",
         {16, 72},
         {{3, "│Reset recovering time: [2 s  ▾]  │         2 [20 MB/s  ▾] [x]  [x]     [x]    ▲"},
          {16, "│└──────────────────────────────┘ │        15 [13.3 MB/s▾] [x]  [ ]     [x]    │"},
          {19, " Tab/←↑↓→ move · Space toggle · Enter open/press · Esc cancel"}}},
        // A terminal type without the repeat-character capability, which the emulator lacks.
        {"outside a UTF-8 locale, plain ASCII",
         {"LC_ALL=C", "LANG=C", "TERM=xterm-color"},
         {{24, 80}},
         "",
         {2, 24},
         {{2, "│Host adapter SCSI ID:  [7 v]     │ Target ID Max transfer Sync Wide Disconnect│"},
          {22, "[ Default ] [ Erase Flash ] [ Write BIOS... ] [ OK ] [ Cancel ]"},
          {23, " Tab/arrows move, Space toggle, Enter open/press, D E W O C, Esc cancel"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto program = start(c.env, c.sizes[0].first, c.sizes[0].second);
        ASSERT_TRUE(program->waitForText("[ Cancel ]  [ OK ]")) << program->screen();
        program->send(kEnter);
        ASSERT_TRUE(program->waitForText("[7 ")) << program->screen();  // the card is read
        for (size_t i = 1; i < c.sizes.size(); ++i) {
            const int rows = c.sizes[i].first;
            program->resize(rows, c.sizes[i].second);
            // A grown terminal adds blank rows: the bottom line is there once it is drawn.
            ASSERT_TRUE(program->waitUntil([&] {
                return program->row(rows - 1).find(" Tab") == 0;
            })) << program->screen();
        }
        program->scribble(c.scribble);
        program->send(c.keys);
        expectRows(*program, c.expected, c.focus);
        if (program->rows() >= 20) {
            int versions = 0;
            for (int row = 0; row < program->rows(); ++row) {
                versions += program->row(row).find("Version") != std::string::npos;
            }
            EXPECT_EQ(versions, 1) << program->screen();
        }
        program->send(kCtrlC);
        EXPECT_EQ(program->waitForExit(), 128 + SIGINT);
        expectRestored(*program);
    }
}

// Every way the program can end gives the terminal back as it was.
TEST_F(TerminalScreen, TheTerminalIsRestoredHoweverTheProgramEnds) {
    const struct Case {
        const char* name;
        std::function<void(TerminalProgram&)> end;
        int status;
        bool atStartQuestion = false;  // ended while the start-up question is open
    } cases[] = {
        {"Cancel clicked",
         [](TerminalProgram& p) {
             const auto [row, column] = p.find("[ Cancel ]");
             p.send(Click(row, column + 3));
         },
         0},
        {"SIGTERM", [](TerminalProgram& p) { p.signal(SIGTERM); }, 128 + SIGTERM},
        {"hang-up", [](TerminalProgram& p) { p.signal(SIGHUP); }, 128 + SIGHUP},
        {"crash", [](TerminalProgram& p) { p.signal(SIGSEGV); }, 128 + SIGSEGV},
        {"SIGTERM at the start-up question", [](TerminalProgram& p) { p.signal(SIGTERM); },
         128 + SIGTERM, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        host.hostOk({"init", "--force"});
        auto program = start();
        if (c.atStartQuestion) {
            ASSERT_TRUE(program->waitForText("Continue?")) << program->screen();
        } else {
            reachMainScreen(*program);
        }
        c.end(*program);
        EXPECT_EQ(program->waitForExit(), c.status) << program->screen();
        expectRestored(*program);
        if (c.atStartQuestion) {
            // The drivers were never swapped: the card's own driver is the one loaded.
            const std::string status = host.hostOk({"status"});
            EXPECT_NE(status.find("extension com.tavik.driver.ZolSC820 (3.1.4)"), std::string::npos)
                << status;
            EXPECT_NE(status.find("utility-services 0"), std::string::npos) << status;
        }
    }
}

// The message's line breaks are the window's: "\r\r" leaves a blank line, nothing shows as '?'.
TEST_F(TerminalScreen, AnAlertThatEndsTheProgramGivesTheTerminalBack) {
    const std::string bundle = work.path() + "/notest/SC820 Utility";
    std::filesystem::create_directories(bundle);
    std::filesystem::copy(SC820_BUNDLE_DIR, bundle, std::filesystem::copy_options::recursive);
    std::filesystem::remove(bundle + "/Contents/Resources/test");  // the path check fails
    const struct Case {
        const char* name;
        std::string program;
        std::vector<std::string> host;   // set up before the start
        std::vector<std::string> lines;  // on consecutive rows, in the same column
    } cases[] = {
        {"a device in use",
         kProgram,
         {"attach", "2"},
         {"the card and start the utility again.", std::string(37, ' '),
          "Nothing has been changed. The utility will now quit."}},
        {"the composed path message",
         bundle + "/Contents/bin/sc820-utility",
         {"detach", "2"},
         {"Nothing has been changed. The utility will now quit.", std::string(52, ' '),
          "Make sure the utility is complete and that its folder path"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        host.hostOk(c.host);
        auto program = start({}, 24, 80, {"--terminal"}, c.program);
        const auto shown = [&] {
            const auto [first, column] = program->find(c.lines[0]);
            for (size_t i = 1; first >= 0 && i < c.lines.size(); ++i) {
                std::string cells;
                for (size_t at = 0; at < c.lines[i].size(); ++at) {
                    cells +=
                        program->cell(first + static_cast<int>(i), column + static_cast<int>(at));
                }
                if (cells != c.lines[i]) return false;
            }
            return first >= 0 && program->find("[ OK ]").first > first;
        };
        EXPECT_TRUE(program->waitUntil(shown)) << program->screen();
        EXPECT_EQ(program->screen().find('?'), std::string::npos) << program->screen();
        program->send(kEnter);
        EXPECT_EQ(program->waitForExit(), 1) << program->screen();  // ended by a failure
        expectRestored(*program);
    }
}

}  // namespace
