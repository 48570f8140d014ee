// The utility's command line (its own options, Qt's options handed on, and the forms that end
// the program before any window), automation scripts as they are read, and transcript lines as
// they are written.
#include <gtest/gtest.h>

#include <sstream>

#include "platform/window/CommandLine.h"
#include "platform/window/automation/AutomationScript.h"
#include "platform/window/automation/Transcript.h"
#include "tests/support/TempHost.h"

namespace {

const std::string kProgram = "/usr/bin/sc820-utility";

// Each form: its exit status (-1: the program goes on), whether the terminal is asked for, the
// arguments handed on to Qt, and a text each of the outputs holds (empty: that output is empty).
// A Qt option without its value is not Qt's to take: the parser refuses it.
TEST(CommandLine, EachFormGivesItsStatusOptionsAndOutput) {
    const std::vector<std::string> qt = {"-platform", "offscreen", "--style", "Fusion", "-reverse"},
                                   mixed = {"-platform", "offscreen", "--terminal",
                                            "--style",   "Fusion",    "-reverse"};
    const std::tuple<std::vector<std::string>, int, bool, const char*, const char*> cases[] = {
        {{}, -1, false, "", ""},
        {{"--terminal"}, -1, true, "", ""},
        {mixed, -1, true, "", ""},
        {{"--help"}, 0, false, "Usage: sc820-utility", ""},
        {{"-h"}, 0, false, "-platform NAME", ""},
        {{"--frobnicate"}, 2, false, "", "Usage:"},
        {{"file.bin"}, 2, false, "", "file.bin"},
        {{"-platform"}, 2, false, "", "Usage:"},
        {{"config", "import"}, 2, false, "", "FILE"},
        {{"flash", "erase", "--json"}, 2, false, "", "--json"},
    };
    for (const auto& [arguments, status, terminal, out, err] : cases) {
        std::vector<std::string> argv = {kProgram};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        std::ostringstream outs, errs;
        const CommandLineResult result = ParseCommandLine(argv, outs, errs);
        EXPECT_EQ(std::tuple(result.exitStatus.value_or(-1), result.options.terminal),
                  std::tuple(status, terminal))
            << argv.back();
        std::vector<std::string> handed = {kProgram};
        if (arguments.size() > 1) handed.insert(handed.end(), qt.begin(), qt.end());
        EXPECT_TRUE(status != -1 || result.options.qtArguments == handed) << argv.back();
        EXPECT_TRUE(*out == '\0' ? outs.str().empty() : outs.str().find(out) != std::string::npos)
            << outs.str();
        EXPECT_TRUE(*err == '\0' ? errs.str().empty() : errs.str().find(err) != std::string::npos)
            << errs.str();
    }
}

// The real program answers --version without a display and without starting the window; with
// neither a display (one that names an X server nobody runs counts as none) nor a terminal it
// says how to run it, and the terminal backend without a terminal refuses in one line.
TEST(CommandLine, TheProgramNeedsNoDisplayForItsForms) {
    const std::string none = "no display and no terminal: run it on a terminal, for example ssh";
    for (const auto& [argument, display, status, says] :
         {std::tuple<const char*, const char*, int, std::string>{"--version", "", 0,
                                                                 "sc820-utility 1.0.2"},
          {"--terminal", "", 1,
           "sc820-utility: the terminal backend needs a terminal on standard input and output\n"},
          {"", "", 1, "sc820-utility: " + none},
          {"", ":97", 1, "sc820-utility: cannot reach the display :97; " + none}}) {
        std::vector<std::string> argv = {SC820_UTILITY_BINARY};
        if (*argument != '\0') argv.push_back(argument);
        std::string output;
        EXPECT_EQ(RunProgram(argv, &output,
                             {std::string("DISPLAY=") + display,
                              "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=xcb", "SC820_AUTOMATION="}),
                  status);
        EXPECT_EQ(output.rfind(says, 0), 0u) << output;
    }
}

using Kind = ScriptStep::Kind;

// A step with its name and number, blanks and comments around it; a path keeps its spaces and
// '#' signs; comment and blank lines are skipped, line numbers kept. (Every kind of step is read
// by the end-to-end scripts.)
TEST(AutomationScriptTest, ParsesEveryStep) {
    const std::tuple<const char*, Kind, const char*, long> cases[] = {
        {"  answer   -1  # refuse", Kind::answer, "", -1},
        {"choose /tmp/My BIOS#2.rom", Kind::choose, "/tmp/My BIOS#2.rom", 0},
        {"choose /tmp/bios.rom # comment", Kind::choose, "/tmp/bios.rom", 0},
        {"press write\r", Kind::press, "write", 0},
        {"select tag:105 -1", Kind::select, "tag:105", -1},
    };
    for (const auto& [line, kind, name, number] : cases) {
        std::string error;
        auto script =
            AutomationScript::parse(std::string("# start\n\n") + line + "\n \t# x\n", &error);
        ASSERT_TRUE(script.has_value()) << line << ": " << error;
        ASSERT_EQ(script->steps().size(), 1u) << line;
        const ScriptStep& step = script->steps()[0];
        EXPECT_EQ(std::tuple(step.kind, step.name, step.number, step.line),
                  std::tuple(kind, name, number, 3))
            << line;
        EXPECT_FALSE(script->atEnd());
        script->take();
        EXPECT_TRUE(script->atEnd());
    }
}

// Lines that are not steps, lines with control characters other than blanks, and words that
// only look like numbers are refused with the line's number instead of crashing the reader or
// the step.
// Odd blanks and NULs among them; a path that a NUL would cut short.
TEST(AutomationScriptTest, RefusesLinesThatAreNotStepsWithTheirNumber) {
    using namespace std::string_literals;
    const std::string lines =
        "frobnicate\nanswer\nanswer yes\nanswer 1 2\nanswer 99999999999\nchoose\nchoose-cancel "
        "now\npress\npress apply\npress OK\nselect out_hostSCSIID\nselect out_hostSCSIID "
        "x\nselect tag:abc 1\nset tag: 1\nset out_parity_E 1 2\nclose now\ndump all\nanswer "
        "-\nselect tag:- 1\n\v\n\v\f \v\n\0\nanswer\v1\npress\fwrite\nanswer \0\nanswer 1\0\n"
        "select tag:\0 5 1\nselect tag:\0"
        "105 1\nchoose /tmp/a\0/etc\nset out_parity_E 1\x1b\ndump\x7f\n"s;
    int refused = 0;
    for (size_t at = 0, end; (end = lines.find('\n', at)) != std::string::npos; at = end + 1) {
        const std::string line = lines.substr(at, end - at);
        std::string error;
        ++refused;
        EXPECT_FALSE(AutomationScript::parse("answer 1\n" + line + "\n", &error))
            << Transcript::escape(line);
        EXPECT_NE(error.find("line 2"), std::string::npos) << error;
    }
    EXPECT_EQ(refused, 31);
}

TEST(TranscriptTest, EscapesSoThatEveryEventIsOneLine) {
    const std::pair<const char*, const char*> cases[] = {
        {"plain 100% %s %n", "plain 100% %s %n"},
        {"a\tb\nc\rd", "a\\tb\\nc\\rd"},
        {"a\\b", "a\\\\b"},
        {"\\t", "\\\\t"},              // a backslash before a t is not a tab
        {"a\vb\x7f", "a\\x0bb\\x7f"},  // every other control character: one line per event
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(Transcript::escape(in), out) << in;
}

}  // namespace
