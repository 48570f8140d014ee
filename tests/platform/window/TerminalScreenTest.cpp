// The terminal backend as a person sees it: the real program in a pseudo-terminal, keys typed,
// the screen read back through a terminal emulator.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include "driverif/def.h"
#include "platform/foundation/Foundation.h"
#include "tests/support/TempHost.h"
#include "tests/support/TerminalProgram.h"

namespace {

// What the keys send with the keypad in application mode, as curses asks the terminal.
const std::string kEnter = "\r";
const std::string kEscape = "\033";
const std::string kTab = "\t";
const std::string kUp = "\033OA";
const std::string kDown = "\033OB";
const std::string kRight = "\033OC";
const std::string kF10 = "\033[21~";
const std::string kCtrlC = "\003";
const std::string kProgram = std::string(SC820_BUNDLE_DIR) + "/Contents/bin/sc820-utility";

class TerminalScreen : public ::testing::Test {
protected:
    std::unique_ptr<TerminalProgram> start(int rows = 24, int columns = 80,
                                           std::vector<std::string> options = {"--terminal"},
                                           const std::vector<std::string>& extraEnv = {},
                                           const std::string& program = kProgram) {
        std::vector<std::string> env = {"SC820_HOST_ROOT=" + host.root(), "HOME=" + work.path(),
                                        "LANG=en_US.UTF-8", "LC_ALL=C.UTF-8", "QT_QPA_PLATFORM="};
        env.insert(env.end(), extraEnv.begin(), extraEnv.end());
        options.insert(options.begin(), program);
        return std::make_unique<TerminalProgram>(options, env, rows, columns);
    }

    // Answers the start-up question with OK and waits for the card's configuration.
    void reachMainScreen(TerminalProgram& program) {
        ASSERT_TRUE(program.waitForText("Continue?")) << program.screen();
        program.send(kEnter);
        ASSERT_TRUE(program.waitForText("Circuit board: 1.20")) << program.screen();
    }

    SCSIUTY_CFG eeprom() const { return host.eeprom(); }
    void putEeprom(const SCSIUTY_CFG& record) const { host.putEeprom(record); }

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

    TempHost host;
    TempDir work;
};

TEST_F(TerminalScreen, AKnownRecordShowsItsValuesInTheirPlaces) {
    SCSIUTY_CFG record = eeprom();
    record.HA_ScsiID = 5;
    record.ResetToSelTime = 4;  // 5 s
    record.RQdelay = 2;         // 250 ms
    record.Burst = 0;           // enabled: the record's sense is inverted
    record.ParityEnable = 0;
    record.TermMode = ENABLE_HIGHTERM;
    record.SyncEnable[5] = 0;
    record.WideEnable[5] = 1;
    record.DisconnectEnable[5] = 1;
    record.SyncSpeed[5] = SYNC_13p3MB;
    record.SyncEnable[6] = 1;
    record.WideEnable[6] = 0;
    record.DisconnectEnable[6] = 0;
    putEeprom(record);
    auto program = start();
    reachMainScreen(*program);
    const struct {
        const char* text;
        int row;
    } expected[] = {
        {"Host adapter SCSI ID:  [5 ▾]", 2},
        {"Reset recovering time: [5 s  ▾]", 3},
        {"Request-sense delay:   [250 ms▾]", 4},
        {"│( ) Enabled (*) Disabled", 9},  // parity
        {"│(*) High byte only", 13},
        // 13.3 MB/s narrow is 26.6 MB/s on a wide target.
        {"5 [26.6 MB/s▾] [ ]  [x]     [x]", 8},
        {"6 [", 9},
        {"Utility:       1.0.2", 19},
        {"Circuit board: 1.20", 20},
        {"[ Default ] [ Erase Flash ] [ Write BIOS… ] [ OK ] [ Cancel ]", 22},
    };
    for (const auto& e : expected) {
        EXPECT_EQ(program->find(e.text).first, e.row) << e.text << "\n" << program->screen();
    }
    // Burst transfer: its own group, enabled.
    EXPECT_EQ(program->find("│(*) Enabled ( ) Disabled").first, 6) << program->screen();
    // Target 6: sync on, wide off, disconnect off, in the row under target 5.
    const std::string row6 = program->row(9);
    EXPECT_NE(row6.find("[x]  [ ]     [ ]"), std::string::npos) << row6;
    // The first control has the focus, drawn reversed.
    const auto [hostRow, hostColumn] = program->find("[5 ▾]");
    EXPECT_TRUE(program->reversed(hostRow, hostColumn));
    // The README's picture of the terminal screen is painted from this capture.
    if (const char* capture = std::getenv("SC820_SCREEN_CAPTURE")) {
        WriteFileBytes(capture, program->capture());
    }
}

TEST_F(TerminalScreen, AnAlertShowsItsTitleTextAndButtonsAndEscapeCancels) {
    auto program = start();
    // The box is drawn in one update, but it may reach the terminal in several reads: wait for
    // its last line, the buttons, with the default one highlighted.
    ASSERT_TRUE(program->waitUntil([&] {
        const auto [row, column] = program->find("[ Cancel ]  [ OK ]");
        return row >= 0 && program->find("Continue?").first >= 0 &&
               program->reversed(row, column + 12);
    })) << program->screen();
    const auto [titleRow, titleColumn] = program->find("┌─ SC820 Utility ─");
    ASSERT_GE(titleRow, 0) << program->screen();
    EXPECT_GE(program->find("The utility will now unload the card's SCSI driver").first,
              titleRow + 1);
    const auto [buttonRow, cancelColumn] = program->find("[ Cancel ]  [ OK ]");
    ASSERT_GT(buttonRow, titleRow) << program->screen();
    // OK, the default button, has the focus.
    EXPECT_TRUE(program->reversed(buttonRow, cancelColumn + 12));
    EXPECT_FALSE(program->reversed(buttonRow, cancelColumn));
    program->send(kEscape);
    EXPECT_EQ(program->waitForExit(), 4);  // declined
    expectRestored(*program);
    // Cancel left the drivers as they were: the normal driver still serves the card.
    EXPECT_NE(host.hostOk({"status"}).find("com.tavik.driver.ZolSC820"), std::string::npos);
}

TEST_F(TerminalScreen, AListIsOpenedAndChangedWithTheKeysAndClosingStoresIt) {
    SCSIUTY_CFG record = eeprom();
    record.HA_ScsiID = 7;
    putEeprom(record);
    auto program = start();
    reachMainScreen(*program);
    program->send(kEnter);  // the focused host SCSI ID list opens
    ASSERT_TRUE(program->waitUntil([&] { return program->find(" 15 ").first >= 0; }))
        << program->screen();
    // The list starts at the current entry.
    const auto [openRow, openColumn] = program->find("│ 7    │");
    ASSERT_GE(openRow, 0) << program->screen();
    EXPECT_TRUE(program->reversed(openRow, openColumn + 1)) << program->screen();
    EXPECT_FALSE(program->reversed(openRow - 1, openColumn + 1)) << program->screen();
    program->send(kDown + kDown + kEnter);
    ASSERT_TRUE(program->waitForText("Host adapter SCSI ID:  [9 ▾]")) << program->screen();
    program->send(kF10);  // the window's close box: stores, then says so
    ASSERT_TRUE(program->waitForText("[ OK ]")) << program->screen();
    ASSERT_TRUE(program->waitForText("stored")) << program->screen();
    program->send(kEnter);
    EXPECT_EQ(program->waitForExit(), 0) << program->screen();
    expectRestored(*program);
    EXPECT_EQ(eeprom().HA_ScsiID, 9);
}

TEST_F(TerminalScreen, ACheckBoxIsToggledWithSpace) {
    SCSIUTY_CFG record = eeprom();
    record.SyncEnable[0] = 0;
    record.WideEnable[0] = 1;
    putEeprom(record);
    auto program = start();
    reachMainScreen(*program);
    // From the host SCSI ID list: right to target 0's transfer list, right to its Sync box.
    program->send(kDown + kUp + kRight + kRight);
    const int row = 3;
    ASSERT_TRUE(program->waitUntil([&] {
        const auto at = program->find("0 [");
        return at.first == row && program->reversed(row, at.second + 15);
    })) << program->screen();
    EXPECT_NE(program->row(row).find("▾] [ ]  [x]"), std::string::npos) << program->row(row);
    program->send(" ");
    ASSERT_TRUE(program->waitUntil([&] {
        return program->row(row).find("▾] [x]  [x]") != std::string::npos;
    })) << program->screen();
    program->send(kF10);
    ASSERT_TRUE(program->waitForText("stored")) << program->screen();
    program->send(kEnter);
    EXPECT_EQ(program->waitForExit(), 0);
    EXPECT_EQ(eeprom().SyncEnable[0], 1);
    EXPECT_EQ(eeprom().WideEnable[0], 1);
}

// 5000 bytes that differ for each seed.
std::string Image(int seed) {
    std::string image(5000, '\0');
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 7 + seed);
    return image;
}

// The prompt lists its folder at once; typing, Tab, the arrows and Enter pick the file. A name
// that is not UTF-8 is used byte for byte where paths keep their bytes, else refused: never
// another file's name.
TEST_F(TerminalScreen, WriteThroughTheFilePrompt) {
    const bool bytesKept = NSString(std::string("a\xff")).UTF8String() == "a\xff";
    const std::string nonUtf8 = "img\xff.bin";            // image 1
    const std::string lookAlike = "img\xef\xbf\xbd.bin";  // image 2: U+FFFD, as UTF-8
    const std::string latin1 = "bios\xe9.rom";            // image 3
    const std::string typedPath = work.path().substr(1) + "/other/image.rom";
    const struct Case {
        const char* name;
        std::string keys;
        int written;  // the image that ends up in the flash, 0: none (refused)
    } cases[] = {
        {"Tab completes", "bios-" + kTab, 4},
        {"the arrows pick from the list", kDown, 4},
        {"a typed / starts a new path", "/" + typedPath, 5},
        {"a typed ~ starts at home", "~/bios-image.rom", 4},
        {"a name that is not UTF-8", "img" + kDown + kDown, bytesKept ? 1 : 0},
        {"a Latin-1 name", "bios" + kDown + kDown, bytesKept ? 3 : 0},
    };
    WriteFileBytes(work.path() + "/" + nonUtf8, Image(1));
    WriteFileBytes(work.path() + "/" + lookAlike, Image(2));
    WriteFileBytes(work.path() + "/" + latin1, Image(3));
    WriteFileBytes(work.path() + "/bios-image.rom", Image(4));
    std::filesystem::create_directories(work.path() + "/other");
    WriteFileBytes(work.path() + "/other/image.rom", Image(5));
    const auto flash = [&] {
        host.hostOk({"flash", "get", work.path() + "/other/flash.bin"});
        return ReadFileBytes(work.path() + "/other/flash.bin").substr(0, 5000);
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        host.hostOk({"flash", "erase"});
        auto program = start();
        reachMainScreen(*program);
        program->send("w");  // the Write BIOS… button's letter
        ASSERT_TRUE(program->waitForText("[ Cancel ]  [ OK ]")) << program->screen();
        program->send(kEnter);
        ASSERT_TRUE(program->waitForText("File: " + work.path() + "/")) << program->screen();
        // The folder is listed before any key: the names sorted by their bytes, the one that is
        // not UTF-8 told apart from its look-alike.
        for (const char* name :
             {"bios-image.rom", "bios\\xE9.rom", "img\xef\xbf\xbd.bin", "img\\xFF.bin", "other/"}) {
            EXPECT_NE(program->find(std::string("│  ") + name).first, -1) << name;
        }
        program->send(c.keys + kEnter);
        if (c.written == 0) {
            ASSERT_TRUE(program->waitForText("is not UTF-8")) << program->screen();
            program->send(kEscape + "c");
            EXPECT_EQ(program->waitForExit(), 0);
            EXPECT_EQ(flash(), std::string(5000, '\xff'));
            continue;
        }
        ASSERT_TRUE(program->waitUntil([&] { return program->find("Folder:").first < 0; }))
            << program->screen();
        ASSERT_TRUE(program->waitForText("[ Cancel ]  [ OK ]")) << program->screen();
        program->send(kEnter);  // the last question before the flash is written
        ASSERT_TRUE(program->waitForText("written and verified")) << program->screen();
        program->send(kEnter);
        ASSERT_TRUE(program->waitForText("SCSI BIOS:        updated.")) << program->screen();
        program->send("c");  // Cancel: quit without storing
        EXPECT_EQ(program->waitForExit(), 0);
        expectRestored(*program);
        EXPECT_EQ(flash(), Image(c.written));
    }
}

// A left-button press at the 0-based cell, as a terminal reports it in SGR mouse mode.
std::string Click(int row, int column) {
    const std::string at = std::to_string(column + 1) + ";" + std::to_string(row + 1);
    return "\033[<0;" + at + "M\033[<0;" + at + "m";
}

TEST_F(TerminalScreen, TheMouseClicksControls) {
    SCSIUTY_CFG record = eeprom();
    record.DisconnectEnable[2] = 1;
    putEeprom(record);
    auto program = start();
    reachMainScreen(*program);
    const int row = 5;  // target 2
    const auto [targetRow, targetColumn] = program->find("2 [");
    ASSERT_EQ(targetRow, row) << program->screen();
    const int disconnect = targetColumn + 28;  // "2 [20 MB/s  ▾] [x]  [x]     [x]"
    ASSERT_EQ(program->cell(row, disconnect + 1), "x") << program->row(row);
    program->send(Click(row, disconnect + 1));
    ASSERT_TRUE(program->waitUntil([&] { return program->cell(row, disconnect + 1) == " "; }))
        << program->screen();
    const auto [cancelRow, cancelColumn] = program->find("[ Cancel ]");
    program->send(Click(cancelRow, cancelColumn + 3));
    EXPECT_EQ(program->waitForExit(), 0) << program->screen();
    // Cancel stores nothing.
    EXPECT_EQ(eeprom().DisconnectEnable[2], 1);
}

TEST_F(TerminalScreen, EscapeCancelsTheFilePromptAndTheFlashStaysAsItWas) {
    const std::string before = [&] {
        host.hostOk({"flash", "get", work.path() + "/before.bin"});
        return ReadFileBytes(work.path() + "/before.bin");
    }();
    auto program = start();
    reachMainScreen(*program);
    program->send("w");
    ASSERT_TRUE(program->waitForText("[ Cancel ]  [ OK ]")) << program->screen();
    program->send(kEnter);
    ASSERT_TRUE(program->waitForText("Folder: ")) << program->screen();
    program->send(kEscape);
    ASSERT_TRUE(program->waitUntil([&] { return program->find("Folder: ").first < 0; }))
        << program->screen();
    program->send("c");
    EXPECT_EQ(program->waitForExit(), 0);
    host.hostOk({"flash", "get", work.path() + "/after.bin"});
    EXPECT_EQ(ReadFileBytes(work.path() + "/after.bin"), before);
}

TEST_F(TerminalScreen, TheScreenIsDrawnAgainAfterAResize) {
    auto program = start();
    reachMainScreen(*program);
    // At 80x24 the target rows scroll: the last ones are below the edge.
    EXPECT_EQ(program->find("        15 [").first, -1);
    EXPECT_NE(program->find("▼").first, -1);
    program->resize(40, 100);
    ASSERT_TRUE(program->waitUntil([&] { return program->find("        15 [").first >= 0; }))
        << program->screen();
    EXPECT_EQ(program->find("▼").first, -1) << program->screen();
    // The window is centred at its natural size and the help line sits on the last row.
    EXPECT_EQ(program->cell(8, 89), "┐") << program->screen();
    EXPECT_NE(program->row(39).find("Esc cancel"), std::string::npos) << program->screen();
    // A terminal far too small clips the screen; a list still opens and closes there.
    program->resize(6, 20);
    ASSERT_TRUE(program->waitUntil([&] { return program->row(5).find(" Tab") == 0; }))
        << program->screen();
    program->send(kEnter + kEscape);
    program->resize(24, 80);
    ASSERT_TRUE(program->waitUntil([&] { return program->find("▼").first >= 0; }))
        << program->screen();
    EXPECT_EQ(program->cell(1, 79), "┐") << program->screen();
    program->send(kCtrlC);
    program->waitForExit();
    expectRestored(*program);
}

// Each language fits the documented 80x24 with every column in reach, a larger screen shows the
// window centred, and after a shrink (where a terminal keeps cells the program no longer knows
// of) the screen is painted from scratch.
TEST_F(TerminalScreen, TheScreenFitsEachLanguageAndEachSize) {
    const std::string l = std::string(60, ' ');
    const struct Case {
        const char* name;
        const char* language;
        int rows;
        int columns;
        std::vector<std::pair<int, int>> sizes;
        std::string scribble;  // written by another program before the keys
        std::string keys;
        std::vector<std::pair<int, std::string>> expected;
        std::pair<int, int> focus;  // a cell drawn reversed
    } cases[] = {
        {"grown, then shrunk back",
         "en",
         24,
         80,
         {{30, 100}, {24, 80}},
         "",
         "",
         {
             // The title bar says what closing does, the bottom line names the keys.
             {0, " SC820 Utility      F10/Ctrl-W close: stores the form on the card · Ctrl-C quit"},
             {1,
              "┌─ SCSI configuration ─────────────────────────────────────────────────────────┐"},
             {2,
              "│Host adapter SCSI ID:  [7 ▾]     │ Target ID Max transfer Sync Wide Disconnect│"},
             {17,
              "└──────────────────────────────────────────────────────────────────────────────┘"},
             {18,
              "┌─ Versions ───────────────────────────────────────────────────────────────────┐"},
             {19,
              "│Utility:       1.0.2          Driver extension: 2.1.0                         │"},
             {22, "[ Default ] [ Erase Flash ] [ Write BIOS… ] [ OK ] [ Cancel ]"},
             {23, " Tab/←↑↓→ move · Space toggle · Enter open/press · D E W O C · Esc cancel"},
         },
         {2, 24}},
        // Ctrl-L paints every cell again, whatever else was written to the terminal.
        {"Ctrl-L after another program wrote",
         "en",
         24,
         80,
         {},
         "\033[3;1HBroadcast message\033[20;30Hfrom root",
         "\014",
         {
             {2,
              "│Host adapter SCSI ID:  [7 ▾]     │ Target ID Max transfer Sync Wide Disconnect│"},
             {19,
              "│Utility:       1.0.2          Driver extension: 2.1.0                         │"},
         },
         {2, 24}},
        {"from a large screen",
         "en",
         60,
         200,
         {{24, 80}},
         "",
         "",
         {
             {1,
              "┌─ SCSI configuration ─────────────────────────────────────────────────────────┐"},
             {17,
              "└──────────────────────────────────────────────────────────────────────────────┘"},
             {18,
              "┌─ Versions ───────────────────────────────────────────────────────────────────┐"},
             {22, "[ Default ] [ Erase Flash ] [ Write BIOS… ] [ OK ] [ Cancel ]"},
         },
         {2, 24}},
        {"a large screen, centred",
         "en",
         60,
         200,
         {},
         "",
         "",
         {
             {18, l + "┌─ SCSI configuration "
                      "─────────────────────────────────────────────────────────┐"},
             {35, l + "│                                 │        15 [13.3 MB/s▾] [x]  [ ]     [x] "
                      "   │"},
             {36, l + "└───────────────────────────────────────────────────────────────────────────"
                      "───┘"},
             {41, l + "[ Default ] [ Erase Flash ] [ Write BIOS… ] [ OK ] [ Cancel ]"},
         },
         {19, 84}},
        {"German, its widest columns scrolled in",
         "de",
         24,
         80,
         {},
         "",
         "",
         {
             {1,
              "┌─ SCSI-Konfiguration ─────────────────────────────────────────────────────────┐"},
             {2,
              "│SCSI-ID des Hostadapters:  [7 ▾]     │ Ziel-ID Max. Übertragung Synchron Wide▶│"},
             {3,
              "│Wartezeit nach Reset:      [2 s  ▾]  │       0 [40 MB/s  ▾]       [x]    [x]  │"},
             {0, " SC820 Utility   F10/Strg-W schließen: speichert auf der Karte · Strg-C beenden"},
             {22, "[ Standard ] [ Flash löschen ] [ BIOS schreiben… ] [ OK ] [ Abbrechen ]"},
             {23, " Tab/←↑↓→ wechseln · Leertaste wählt · Eingabe öffnet · S L H O A · Esc zurück"},
         },
         {2, 28}},
        {"German, the focus on a Disconnect box",
         "de",
         24,
         80,
         {},
         "",
         "\033OC\033OC\033OC\033OC",
         {
             {2,
              "│SCSI-ID des Hostadapters:  [7 ▾]     │ Ziel-ID◀Synchron Wide Disconnect       │"},
             {3,
              "│Wartezeit nach Reset:      [2 s  ▾]  │       0   [x]    [x]     [x]           │"},
         },
         {3, 65}},
        // Shift-Tab from the first control: the buttons lie below the screen and are passed
        // over; the last target row is scrolled in, the target rows fill their group.
        {"a short screen, the focus on what is shown",
         "en",
         20,
         80,
         {},
         "",
         "\033[Z",
         {
             {3,
              "│Reset recovering time: [2 s  ▾]  │         2 [20 MB/s  ▾] [x]  [x]     [x]    ▲"},
             {16,
              "│└──────────────────────────────┘ │        15 [13.3 MB/s▾] [x]  [ ]     [x]    │"},
             {19, " Tab/←↑↓→ move · Space toggle · Enter open/press · Esc cancel"},
         },
         {16, 72}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto program =
            start(c.rows, c.columns, {"--terminal"}, {std::string("LANGUAGE=") + c.language});
        ASSERT_TRUE(program->waitForText("[ Cancel ]  [ OK ]")) << program->screen();
        program->send(kEnter);
        ASSERT_TRUE(program->waitForText("[7 ▾]")) << program->screen();  // the card is read
        for (const auto& [rows, columns] : c.sizes) {
            program->resize(rows, columns);
            // A grown terminal adds blank rows: the bottom line is there once it is drawn.
            ASSERT_TRUE(program->waitUntil([&, rows = rows] {
                return program->row(rows - 1).find(" Tab") == 0;
            })) << program->screen();
        }
        program->scribble(c.scribble);
        program->send(c.keys);
        program->waitUntil([&] {
            for (const auto& [row, text] : c.expected) {
                if (program->row(row) != text) return false;
            }
            return program->reversed(c.focus.first, c.focus.second);
        });
        for (const auto& [row, text] : c.expected) EXPECT_EQ(program->row(row), text) << row;
        EXPECT_TRUE(program->reversed(c.focus.first, c.focus.second)) << program->screen();
        int versions = 0;
        for (int row = 0; row < program->rows(); ++row) {
            versions += program->row(row).find("Version") != std::string::npos;
        }
        EXPECT_EQ(versions, 1) << program->screen();
        program->send(kCtrlC);
        program->waitForExit();
    }
}

// (A terminal type without the repeat-character capability, which the emulator lacks.)
TEST_F(TerminalScreen, OutsideAUtf8LocaleTheScreenIsPlainAscii) {
    auto program = start(24, 80, {"--terminal"}, {"LC_ALL=C", "LANG=C", "TERM=xterm-color"});
    ASSERT_TRUE(program->waitForText("Continue?")) << program->screen();
    program->send(kEnter);
    ASSERT_TRUE(program->waitForText("Host adapter SCSI ID:  [7 v]")) << program->screen();
    EXPECT_NE(program->find("[ Write BIOS... ]").first, -1) << program->screen();
    EXPECT_NE(program->find("Tab/arrows move").first, -1) << program->screen();
    program->send("c");
    EXPECT_EQ(program->waitForExit(), 0);
    expectRestored(*program);
}

// Every way the program can end gives the terminal back as it was.
TEST_F(TerminalScreen, TheTerminalIsRestoredHoweverTheProgramEnds) {
    const struct Case {
        const char* name;
        std::function<void(TerminalProgram&)> end;
        int status;
        bool atStartQuestion = false;  // ended while the start-up question is open
    } cases[] = {
        {"Cancel button", [](TerminalProgram& p) { p.send("c"); }, 0},
        {"close and store",
         [](TerminalProgram& p) {
             p.send(kF10);
             p.waitForText("stored");
             p.send(kEnter);
         },
         0},
        {"Ctrl-C", [](TerminalProgram& p) { p.send(kCtrlC); }, 128 + SIGINT},
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
        auto program = start(24, 80, {"--terminal"}, {}, c.program);
        ASSERT_TRUE(program->waitForText("[ OK ]")) << program->screen();
        const auto [first, column] = program->find(c.lines[0]);
        ASSERT_GE(first, 0) << program->screen();
        for (size_t i = 1; i < c.lines.size(); ++i) {
            std::string shown;
            for (size_t at = 0; at < c.lines[i].size(); ++at) {
                shown += program->cell(first + static_cast<int>(i), column + static_cast<int>(at));
            }
            EXPECT_EQ(shown, c.lines[i]) << program->screen();
        }
        EXPECT_EQ(program->screen().find('?'), std::string::npos) << program->screen();
        program->send(kEnter);
        EXPECT_EQ(program->waitForExit(), 1) << program->screen();  // ended by a failure
        expectRestored(*program);
    }
}

// Without a display the terminal is used when standard input and output are a terminal; with
// neither, the one-line refusal stays.
TEST_F(TerminalScreen, TheTerminalIsChosenWithoutADisplayOnATerminal) {
    auto program = start(24, 80, {});
    ASSERT_TRUE(program->waitForText("Continue?")) << program->screen();
    program->send(kEscape);
    EXPECT_EQ(program->waitForExit(), 4);
    expectRestored(*program);

    std::string output;
    const int status = RunProgram({kProgram, "--terminal"}, &output,
                                  {"SC820_HOST_ROOT=" + host.root(), "DISPLAY="});
    EXPECT_EQ(status, 1);
    EXPECT_EQ(output,
              "sc820-utility: the terminal backend needs a terminal on standard input and "
              "output\n");

    // A terminal that cannot place the cursor is refused in one line, and left as it was.
    auto dumb = start(24, 80, {"--terminal"}, {"TERM=dumb"});
    EXPECT_EQ(dumb->waitForExit(), 1);
    EXPECT_NE(
        dumb->output().find("sc820-utility: the terminal type dumb cannot show a full screen"),
        std::string::npos)
        << dumb->output();
    expectRestored(*dumb);
}

}  // namespace
