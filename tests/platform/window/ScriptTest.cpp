// Automation scripts as they are read, and transcript lines as they are written.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "platform/window/automation/AutomationScript.h"
#include "platform/window/automation/Transcript.h"

namespace {

using Kind = ScriptStep::Kind;

TEST(AutomationScriptTest, ParsesEveryStep) {
    const std::tuple<const char*, Kind, const char*, long> cases[] = {
        {"answer 1", Kind::answer, "", 1},
        {"  answer   -1  # refuse", Kind::answer, "", -1},
        {"choose /tmp/My BIOS#2.rom", Kind::choose, "/tmp/My BIOS#2.rom", 0},
        {"choose /tmp/bios.rom # comment", Kind::choose, "/tmp/bios.rom", 0},
        {"choose-cancel", Kind::chooseCancel, "", 0},
        {"press default", Kind::press, "default", 0},
        {"press write\r", Kind::press, "write", 0},
        {"select out_hostSCSIID 7", Kind::select, "out_hostSCSIID", 7},
        {"select tag:105 -1", Kind::select, "tag:105", -1},
        {"set out_parity_D 1", Kind::set, "out_parity_D", 1},
        {"close", Kind::close, "", 0},
        {"dump", Kind::dump, "", 0},
    };
    for (const auto& [line, kind, name, number] : cases) {
        std::string error;
        auto script = AutomationScript::parse(line, &error);
        ASSERT_TRUE(script.has_value()) << line << ": " << error;
        ASSERT_EQ(script->steps().size(), 1u) << line;
        const ScriptStep& step = script->steps()[0];
        EXPECT_EQ(step.kind, kind) << line;
        EXPECT_EQ(step.name, name) << line;
        EXPECT_EQ(step.number, number) << line;
        EXPECT_EQ(step.answersQuestion(),
                  kind == Kind::answer || kind == Kind::choose || kind == Kind::chooseCancel);
    }
}

TEST(AutomationScriptTest, SkipsCommentsAndBlankLinesAndKeepsLineNumbers) {
    std::string error;
    auto script = AutomationScript::parse("# start\n\nanswer 1\n   \n\t# x\ndump\n", &error);
    ASSERT_TRUE(script.has_value()) << error;
    ASSERT_EQ(script->steps().size(), 2u);
    EXPECT_EQ(script->steps()[0].line, 3);
    EXPECT_EQ(script->steps()[1].line, 6);
    script->take();
    EXPECT_FALSE(script->atEnd());
    script->take();
    EXPECT_TRUE(script->atEnd());
}

// Lines that are not steps, lines with control characters other than blanks, and words that
// only look like numbers are refused with the line's number instead of crashing the reader or
// the step.
TEST(AutomationScriptTest, RefusesLinesThatAreNotStepsWithTheirNumber) {
    using namespace std::string_literals;
    const std::string cases[] = {
        "frobnicate",
        "answer",
        "answer yes",
        "answer 1 2",
        "answer 99999999999",
        "choose",
        "choose-cancel now",
        "press",
        "press apply",
        "press OK",
        "select out_hostSCSIID",
        "select out_hostSCSIID x",
        "select tag:abc 1",
        "set tag: 1",
        "set out_parity_E 1 2",
        "close now",
        "dump all",
        "\v"s,                       // nothing but a vertical tab: no word at all
        "\v\f \v"s,                  // only odd blanks
        "\0"s,                       // a NUL alone
        "answer\v1"s,                // a vertical tab between the words
        "press\fwrite"s,             // a form feed between the words
        "answer \0"s,                // a NUL where the number should be
        "answer 1\0"s,               // a NUL after the number
        "select tag:\0 5 1"s,        // a NUL where the tag's number should be
        "select tag:\0"s + "105 1",  // a tag whose number starts with a NUL
        "choose /tmp/a\0/etc"s,      // a path that a NUL would cut short
        "set out_parity_E 1\x1b"s,   // an escape character
        "dump\x7f"s,                 // a delete character
        "answer -"s,                 // a sign without digits
        "select tag:- 1"s,
    };
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
