// The terminal backend as a person sees it: the real program in a pseudo-terminal, keys typed,
// the screen read back through a terminal emulator. No automation runs: the program's own
// alerts and file prompt take the keys.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
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
const std::string kAlertButtons = "[ Cancel ]  [ OK ]";
using Rows = std::vector<std::pair<int, std::string>>;

// A left-button press at the 0-based cell, as a terminal reports it in SGR mouse mode.
std::string Click(std::pair<int, int> at) {
    const std::string cell = std::to_string(at.second + 1) + ";" + std::to_string(at.first + 1);
    return "\033[<0;" + cell + "M\033[<0;" + cell + "m";
}

std::string Image(int seed) {
    std::string image(5000, '\0');
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 7 + seed);
    return image;
}

#define WAIT(p, condition) ASSERT_TRUE((p)->waitUntil([&] { return condition; })) << (p)->screen()
#define WAIT_TEXT(p, text) ASSERT_TRUE((p)->waitForText(text)) << (p)->screen()

class TerminalScreen : public ::testing::Test {
protected:
    std::unique_ptr<TerminalProgram> start(const std::vector<std::string>& extraEnv = {},
                                           std::pair<int, int> size = {24, 80},
                                           const char* option = "--terminal",
                                           const std::string& program = kProgram) {
        std::vector<std::string> env = {"SC820_HOST_ROOT=" + host.root(), "HOME=" + work.path(),
                                        "LANG=en_US.UTF-8", "LC_ALL=C.UTF-8", "QT_QPA_PLATFORM="};
        env.insert(env.end(), extraEnv.begin(), extraEnv.end());
        std::vector<std::string> argv = {program};
        if (*option != '\0') argv.push_back(option);
        return std::make_unique<TerminalProgram>(argv, env, size.first, size.second);
    }

    // Answers the start-up question with OK (by its letter) and waits for the card's
    // configuration.
    static void reachMainScreen(TerminalProgram& p) {
        WAIT_TEXT(&p, "Continue?");
        p.send("o");
        WAIT_TEXT(&p, "Circuit board: 1.20");
    }

    // Waits until each row reads as written and the focus cell is drawn reversed.
    static void expectRows(TerminalProgram& p, const Rows& rows, std::pair<int, int> focus) {
        const auto shown = [&](const auto& r) { return p.row(r.first) == r.second; };
        EXPECT_TRUE(p.waitUntil([&] {
            return std::all_of(rows.begin(), rows.end(), shown) &&
                   (focus.first < 0 || p.reversed(focus.first, focus.second));
        })) << p.screen();
    }

    // Whether the cell `offset` columns right of (and `down` rows below) the text is reversed.
    static bool reversedAt(const TerminalProgram& p, const std::string& text, int offset,
                           int down = 0) {
        const auto [row, column] = p.find(text);
        return row >= 0 && p.reversed(row + down, column + offset);
    }

    // The screen, the cursor, line editing, echo, Ctrl-C, Enter and the mouse as they were.
    static void expectRestored(const TerminalProgram& p) {
        const struct termios m = p.modes();
        EXPECT_TRUE(!p.alternateScreen() && p.cursorVisible() && (m.c_lflag & ICANON) &&
                    (m.c_lflag & ECHO) && (m.c_lflag & ISIG) && (m.c_iflag & ICRNL));
        // Mouse reporting ("...1000h") is switched off ("...1000l") after it was last switched on.
        const size_t on = p.output().rfind("1000h"), off = p.output().rfind("1000l");
        EXPECT_TRUE(on == std::string::npos || (off != std::string::npos && off > on));
    }

    std::string flash() const {
        host.hostOk({"flash", "get", work.path() + "/flash.bin"});
        return ReadFileBytes(work.path() + "/flash.bin").substr(0, 5000);
    }

    TempHost host;
    TempDir work;
};

// Without a display the terminal is used when standard input and output are a terminal. The
// start-up alert shows its title, text and buttons below it, OK (the default) focused; Escape
// declines. An alert that ends the program keeps the message's line breaks ("\r\r" leaves a
// blank line), shows nothing as '?', and its OK ends with a failure. A crash, too, gives the
// terminal back; on a terminal that cannot place the cursor the program refuses in one line.
TEST_F(TerminalScreen, TheAlertsAtStartTakeTheKeysAndEveryEndGivesTheTerminalBack) {
    auto p = start({}, {24, 80}, "");
    WAIT(p, reversedAt(*p, kAlertButtons, 12));
    const int title = p->find("┌─ SC820 Utility ─").first, buttons = p->find(kAlertButtons).first;
    EXPECT_LT(title, p->find("The utility will now unload the card's SCSI driver").first);
    EXPECT_TRUE(title >= 0 && title < p->find("Continue?").first && title < buttons);
    EXPECT_FALSE(reversedAt(*p, kAlertButtons, 0));
    p->send(kEscape);
    EXPECT_EQ(p->waitForExit(), 4);  // declined
    expectRestored(*p);
    p = start({"TERM=dumb"});
    EXPECT_EQ(p->waitForExit(), 1);
    EXPECT_NE(p->output().find("sc820-utility: the terminal type dumb cannot show a full"),
              std::string::npos);
    expectRestored(*p);
    const std::string first = "the card and start the utility again.",
                      second = "Nothing has been changed. The utility will now quit.";
    host.hostOk({"attach", "2"});
    p = start();
    WAIT(p, p->find(first).first >= 0 &&
                p->find(second) == std::pair(p->find(first).first + 2, p->find(first).second) &&
                p->cell(p->find(first).first + 1, p->find(first).second) == " " &&
                p->find("[ OK ]").first > p->find(second).first);
    EXPECT_EQ(p->screen().find('?'), std::string::npos) << p->screen();
    p->send(kEnter);
    EXPECT_EQ(p->waitForExit(), 1) << p->screen();  // ended by a failure
    expectRestored(*p);
    host.hostOk({"detach", "2"});
    p = start();
    reachMainScreen(*p);
    p->signal(SIGSEGV);
    EXPECT_EQ(p->waitForExit(), 128 + SIGSEGV) << p->screen();
    expectRestored(*p);
    // A bundle whose path the path test refuses: "\r\r" before the advice is a blank line.
    const std::string moved = work.path() + "/quote\"d/SC820 Utility", advice = "Make sure the";
    std::filesystem::create_directories(work.path() + "/quote\"d");
    std::filesystem::copy(SC820_BUNDLE_DIR, moved, std::filesystem::copy_options::recursive);
    p = start({}, {24, 80}, "--terminal", moved + "/Contents/bin/sc820-utility");
    WAIT(p, p->find(advice).first > 1 && p->find("quit.").first + 2 == p->find(advice).first &&
                p->cell(p->find(advice).first - 1, p->find(advice).second) == " ");
    p->send(kEnter);
    EXPECT_EQ(p->waitForExit(), 1) << p->screen();
}

// Write BIOS… asks first, then prompts for the file: the prompt lists its folder at once, and
// typing, Tab, the arrows and Enter pick the file. A name that is not UTF-8 is used byte for
// byte where paths keep their bytes, else refused: never another file's name. Escape at the
// question or at the prompt writes nothing. Then the mouse opens a list, the keys change it and
// toggle a box, the mouse clicks a box, and the window's close key stores the form.
TEST_F(TerminalScreen, TheWriteQuestionTheFilePromptAndTheFormTakeTheKeys) {
    const bool bytesKept = NSString(std::string("a\xff")).UTF8String() == "a\xff";
    const std::string names[] = {"",
                                 "img\xff.bin",
                                 "img\xef\xbf\xbd.bin",
                                 "bios\xe9.rom",
                                 "bios-image.rom",
                                 "other/image.rom"};  // U+FFFD; Latin-1
    std::filesystem::create_directories(work.path() + "/other");
    for (int i = 1; i < 6; ++i) WriteFileBytes(work.path() + "/" + names[i], Image(i));
    const struct Case {
        std::string question, keys;  // at the question, then at the prompt
        int written;                 // the image then in the flash; 0: the flash as it was
    } cases[] = {
        {kEscape, "", 0},
        {kEnter, kEscape, 0},
        {kEnter, "xyz\025bios-" + kTab + kEnter, 4},  // Ctrl-U clears the line
        {kEnter, kDown + kEnter, 4},
        {kEnter, "/" + work.path().substr(1) + "/other/image.rom" + kEnter, 5},
        {kEnter, "~/bios-image.rom" + kEnter, 4},
        {kEnter, "img" + kDown + kDown + kEnter, bytesKept ? 1 : 0},
        {kEnter, "bios" + kDown + kDown + kEnter, bytesKept ? 3 : 0},
        {kEnter, "bios\033[6~" + kEnter, bytesKept ? 3 : 0},  // Page Down: the last match
    };
    auto p = start();
    reachMainScreen(*p);
    std::string before = flash();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys);
        p->send("w");  // the Write BIOS… button's letter
        WAIT_TEXT(p, kAlertButtons);
        p->send(c.question);
        if (c.question == kEnter) {
            WAIT_TEXT(p, "File: " + work.path() + "/");
            // Before any key: the names sorted by their bytes, the one that is not UTF-8 told
            // apart from its look-alike (waited for: the listing may follow the prompt line).
            const std::vector<std::string> listing = {
                "bios-image.rom", "bios\\xE9.rom", "img\xef\xbf\xbd.bin", "img\\xFF.bin", "other/"};
            WAIT(p, &c != &cases[1] || std::all_of(listing.begin(), listing.end(), [&](auto& name) {
                     return p->find("│  " + name).first >= 0;
                 }));
            p->send(c.keys);
        }
        if (c.written == 0 && c.keys.size() > 1) {
            WAIT_TEXT(p, "is not UTF-8");
            p->send(kEscape);
        } else if (c.written != 0) {
            // The last question: its text, a blank line, then the file it names.
            WAIT(p, p->find("Folder:").first < 0 && p->find(kAlertButtons).first >= 0 &&
                        p->find("Continue?").first + 2 == p->find(work.path()).first);
            p->send(kEnter);  // the last question before the flash is written
            WAIT_TEXT(p, "written and verified");
            p->send(kEnter);
        }
        WAIT(p, p->find("[ OK ] [ Cancel ]").first >= 0 && p->find("Folder:").first < 0 &&
                    p->find("[ Cancel ]  [").first < 0);
        const std::string now = flash();
        EXPECT_EQ(now, c.written == 0 ? before : Image(c.written));
        before = now;
    }
    p->send(Click(p->find("[7 ▾]")));  // the host SCSI ID list opens at its current entry
    WAIT(p, reversedAt(*p, "│ 7    │", 1) && !reversedAt(*p, "│ 7    │", 1, -1));
    p->send(kDown + kEscape);  // Escape closes the list and changes nothing
    WAIT(p, p->find("│ 7    │").first < 0 && p->find("[7 ▾]").first >= 0);
    p->send(Click(p->find("[7 ▾]")));
    WAIT(p, reversedAt(*p, "│ 7    │", 1));
    p->send("\033[5~" + kDown + kDown + kEnter);  // Page Up: the first entry
    WAIT_TEXT(p, "Host adapter SCSI ID:  [2 ▾]");
    // From the host SCSI ID list: right to target 0's transfer list, right to its Sync box.
    p->send(kDown + kUp + kRight + kRight);
    WAIT(p, p->find("0 [").first == 3 && reversedAt(*p, "0 [", 15));
    p->send(" ");
    WAIT(p, p->row(3).find("▾] [ ]  [x]") != std::string::npos);
    const auto [target2, column] = p->find("2 [");
    ASSERT_EQ(target2, 5) << p->screen();
    p->send(Click({target2, column + 29}));  // "2 [20 MB/s  ▾] [x]  [x]     [x]"
    WAIT(p, p->cell(target2, column + 29) == " ");
    p->send("z" + kF10);  // a letter no button takes; the window's close box stores
    WAIT_TEXT(p, "stored");
    p->send(kEnter);
    EXPECT_EQ(p->waitForExit(), 0) << p->screen();
    expectRestored(*p);
    const SCSIUTY_CFG stored = host.eeprom();
    EXPECT_EQ(std::vector<int>({stored.HA_ScsiID, stored.SyncEnable[0], stored.WideEnable[0],
                                stored.DisconnectEnable[2]}),
              std::vector<int>({2, 0, 1, 0}));
}

// Each language fits the documented 80x24 with every column in reach, a larger screen shows the
// window centred, a terminal too small clips it, and after a shrink (where a terminal keeps
// cells the program no longer knows of) or Ctrl-L the screen is painted from scratch. Ctrl-C
// then quits.
TEST_F(TerminalScreen, TheScreenFitsEachLanguageAndEachSize) {
    const std::string l = std::string(60, ' '), de = "LANGUAGE=de";
    const struct Case {
        struct {
            std::vector<std::string> env;
            std::vector<std::pair<int, int>> sizes;  // at the start, then after the card is read
            std::string keys;
            std::pair<int, int> focus;  // a cell drawn reversed
        } at;
        Rows expected;
        std::string scribble = "";  // written by another program before the keys
    } cases[] = {
        // Grown, then shrunk back. The title bar says what closing does, the bottom line names
        // the keys.
        {{{}, {{24, 80}, {30, 100}, {24, 80}}, "", {2, 24}},
         {{18, "┌─ Versions ───────────────────────────────────────────────────────────────────┐"},
          {23, " Tab/←↑↓→ move · Space toggle · Enter open/press · D E W O C · Esc cancel"}}},
        {{{}, {{24, 80}}, "\014", {2, 24}},  // Ctrl-L after another program wrote
         {{2, "│Host adapter SCSI ID:  [7 ▾]     │ Target ID Max transfer Sync Wide Disconnect│"}},
         "\033[3;1HBroadcast message\033[20;30Hfrom root"},
        {{{}, {{60, 200}}, "", {19, 84}},  // a large screen, centred
         {{41, l + "[ Default ] [ Erase Flash ] [ Write BIOS… ] [ OK ] [ Cancel ]"}}},
        // Far too small: a list still opens and closes there.
        {{{}, {{24, 80}, {6, 20}}, kEnter + kEscape, {-1, -1}}, {{5, " Tab/←↑↓→ move · Spa"}}},
        {{{de}, {{24, 80}}, "", {2, 28}},  // German, its widest columns scrolled in
         {{2, "│SCSI-ID des Hostadapters:  [7 ▾]     │ Ziel-ID Max. Übertragung Synchron Wide▶│"},
          {23, " Tab/←↑↓→ wechseln · Leertaste wählt · Eingabe öffnet · S L H O A · Esc zurück"}}},
        {{{de}, {{24, 80}}, kRight + kRight + kRight + kRight, {3, 65}},  // focus on Disconnect
         {{2, "│SCSI-ID des Hostadapters:  [7 ▾]     │ Ziel-ID◀Synchron Wide Disconnect       │"}}},
        // Shift-Tab from the first control on a short screen: the buttons lie below and are
        // passed over; the last target row is scrolled in, the target rows fill their group.
        {{{}, {{20, 80}}, "\033[Z", {16, 72}},
         {{3, "│Reset recovering time: [2 s  ▾]  │         2 [20 MB/s  ▾] [x]  [x]     [x]    ▲"},
          {19, " Tab/←↑↓→ move · Space toggle · Enter open/press · Esc cancel"}}},
        // Outside a UTF-8 locale, plain ASCII; a terminal type without the repeat-character
        // capability, which the emulator lacks.
        {{{"LC_ALL=C", "LANG=C", "TERM=xterm-color"}, {{24, 80}}, "", {2, 24}},
         {{2, "│Host adapter SCSI ID:  [7 v]     │ Target ID Max transfer Sync Wide Disconnect│"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected[0].second);
        auto p = start(c.at.env, c.at.sizes[0]);
        WAIT_TEXT(p, kAlertButtons);
        p->send(kEnter);
        WAIT_TEXT(p, "[7 ");  // the card is read
        for (size_t i = 1; i < c.at.sizes.size(); ++i) {
            p->resize(c.at.sizes[i].first, c.at.sizes[i].second);
            // A grown terminal adds blank rows: the bottom line is there once it is drawn.
            WAIT(p, p->row(c.at.sizes[i].first - 1).find(" Tab") == 0);
        }
        p->scribble(c.scribble);
        p->send(c.at.keys);
        expectRows(*p, c.expected, c.at.focus);
        // The README's picture of the terminal screen is painted from this capture.
        const char* capture = std::getenv("SC820_SCREEN_CAPTURE");
        if (&c == &cases[0] && capture != nullptr) WriteFileBytes(capture, "24 80\n" + p->output());
        // One Versions frame: nothing of an earlier size is left (waited for, as it may follow).
        WAIT(
            p, p->rows() < 20 || [s = p->screen()] {
                return s.find("Version") != std::string::npos &&
                       s.find("Version") == s.rfind("Version");
            }());
        p->send(kCtrlC);
        EXPECT_EQ(p->waitForExit(), 128 + SIGINT);
        expectRestored(*p);
    }
}

}  // namespace
