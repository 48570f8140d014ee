// Automation scripts as they are read, and transcript lines as they are written.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "platform/window/automation/AutomationScript.h"
#include "platform/window/automation/Transcript.h"

namespace {

using Kind = ScriptStep::Kind;

// Every step with its name and number; comments and blank lines are skipped, line numbers kept.
TEST(AutomationScriptTest, ParsesEveryStep) {
    const std::tuple<const char*, Kind, const char*, long> cases[] = {
        {"answer 1", Kind::answer, "", 1},
        {"  answer   -1  # refuse", Kind::answer, "", -1},
        {"choose /tmp/My BIOS#2.rom", Kind::choose, "/tmp/My BIOS#2.rom", 0},
        {"choose /tmp/bios.rom # comment", Kind::choose, "/tmp/bios.rom", 0},
        {"choose-cancel", Kind::chooseCancel, "", 0},
        {"press write\r", Kind::press, "write", 0},
        {"select tag:105 -1", Kind::select, "tag:105", -1},
        {"set out_parity_D 1", Kind::set, "out_parity_D", 1},
        {"close", Kind::close, "", 0},
        {"dump", Kind::dump, "", 0},
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
        EXPECT_EQ(step.answersQuestion(),
                  kind == Kind::answer || kind == Kind::choose || kind == Kind::chooseCancel);
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
    std::vector<std::string> cases;
    for (size_t at = 0, end; (end = lines.find('\n', at)) != std::string::npos; at = end + 1) {
        cases.push_back(lines.substr(at, end - at));
    }
    ASSERT_EQ(cases.size(), 31u);
    for (const std::string& line : cases) {
        std::string error;
        EXPECT_FALSE(AutomationScript::parse("answer 1\n" + line + "\n", &error))
            << Transcript::escape(line);
        EXPECT_NE(error.find("line 2"), std::string::npos) << error;
    }
}

TEST(TranscriptTest, EscapesSoThatEveryEventIsOneLine) {
    const std::pair<const char*, const char*> cases[] = {
        {"plain 100% %s %n", "plain 100% %s %n"},
        {"a\tb\nc\rd", "a\\tb\\nc\\rd"},
        {"a\\b", "a\\\\b"},
        {"\\t", "\\\\t"},              // a backslash before a t is not a tab
        {"a\vb\x7f", "a\\x0bb\\x7f"},  // every other control character: one line per event
        {"", ""},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(Transcript::escape(in), out) << in;
}

}  // namespace
