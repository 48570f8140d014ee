// The terminal backend as a person sees it: the real program in a pseudo-terminal, keys typed,
// the screen read back through a terminal emulator.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "driverif/def.h"
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
                                           const std::vector<std::string>& extraEnv = {}) {
        std::vector<std::string> env = {"SC820_HOST_ROOT=" + host.root(), "HOME=" + work.path(),
                                        "LANG=en_US.UTF-8", "LC_ALL=C.UTF-8", "QT_QPA_PLATFORM="};
        env.insert(env.end(), extraEnv.begin(), extraEnv.end());
        options.insert(options.begin(), kProgram);
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
    // The first control has the focus, drawn reversed; the close key is named.
    const auto [hostRow, hostColumn] = program->find("[5 ▾]");
    EXPECT_TRUE(program->reversed(hostRow, hostColumn));
    EXPECT_NE(program->row(23).find("F10 close window"), std::string::npos);
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

TEST_F(TerminalScreen, WriteThroughTheFilePromptWithTabCompletion) {
    std::string image(5000, '\0');
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 7 + 3);
    WriteFileBytes(work.path() + "/bios-image.rom", image);
    auto program = start();
    reachMainScreen(*program);
    program->send("w");  // the Write BIOS… button's letter
    ASSERT_TRUE(program->waitForText("[ Cancel ]  [ OK ]")) << program->screen();
    program->send(kEnter);
    ASSERT_TRUE(program->waitForText("Folder: " + work.path())) << program->screen();
    EXPECT_NE(program->find("File: " + work.path() + "/").first, -1) << program->screen();
    program->send("bios" + kTab);
    ASSERT_TRUE(program->waitForText(work.path() + "/bios-image.rom")) << program->screen();
    program->send(kEnter);
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
    const std::string flash = [&] {
        const std::string file = work.path() + "/flash.bin";
        host.hostOk({"flash", "get", file});
        return ReadFileBytes(file);
    }();
    ASSERT_GE(flash.size(), image.size());
    EXPECT_EQ(flash.substr(0, image.size()), image);
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
    // The frame uses the whole width and the help line sits on the last row.
    EXPECT_EQ(program->cell(1, 99), "┐") << program->screen();
    EXPECT_NE(program->row(39).find("F10 close window"), std::string::npos) << program->screen();
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
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto program = start();
        reachMainScreen(*program);
        c.end(*program);
        EXPECT_EQ(program->waitForExit(), c.status) << program->screen();
        expectRestored(*program);
    }
}

TEST_F(TerminalScreen, AnAlertThatEndsTheProgramGivesTheTerminalBack) {
    host.hostOk({"attach", "2"});  // a device in use on the card stops the start-up
    auto program = start();
    ASSERT_TRUE(program->waitForText("[ OK ]")) << program->screen();
    program->send(kEnter);
    EXPECT_EQ(program->waitForExit(), 1) << program->screen();
    expectRestored(*program);
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
