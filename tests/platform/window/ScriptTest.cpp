#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "platform/window/AutomationScript.h"
#include "platform/window/Transcript.h"
#include "tests/support/TempHost.h"

namespace {

using Kind = ScriptStep::Kind;

TEST(AutomationScriptTest, ParsesEveryStep) {
    struct Case {
        const char* line;
        Kind kind;
        const char* name;
        long number;
    };
    const Case cases[] = {
        {"answer 1", Kind::answer, "", 1},
        {"answer -1", Kind::answer, "", -1},
        {"  answer   0  # refuse", Kind::answer, "", 0},
        {"choose /tmp/My BIOS#2.rom", Kind::choose, "/tmp/My BIOS#2.rom", 0},
        {"choose /tmp/bios.rom # comment", Kind::choose, "/tmp/bios.rom", 0},
        {"choose-cancel", Kind::chooseCancel, "", 0},
        {"press default", Kind::press, "default", 0},
        {"press write\r", Kind::press, "write", 0},
        {"select out_hostSCSIID 7", Kind::select, "out_hostSCSIID", 7},
        {"select tag:105 -1", Kind::select, "tag:105", -1},
        {"set out_parity_D 1", Kind::set, "out_parity_D", 1},
        {"set tag:415 0", Kind::set, "tag:415", 0},
        {"close", Kind::close, "", 0},
        {"dump", Kind::dump, "", 0},
    };
    for (const Case& c : cases) {
        std::string error;
        auto script = AutomationScript::parse(c.line, &error);
        ASSERT_TRUE(script.has_value()) << c.line << ": " << error;
        ASSERT_EQ(script->steps().size(), 1u) << c.line;
        const ScriptStep& step = script->steps()[0];
        EXPECT_EQ(step.kind, c.kind) << c.line;
        EXPECT_EQ(step.name, c.name) << c.line;
        EXPECT_EQ(step.number, c.number) << c.line;
        EXPECT_EQ(step.answersQuestion(),
                  c.kind == Kind::answer || c.kind == Kind::choose || c.kind == Kind::chooseCancel);
    }
}

TEST(AutomationScriptTest, SkipsCommentsAndBlankLinesAndKeepsLineNumbers) {
    std::string error;
    auto script = AutomationScript::parse("# start\n\nanswer 1\n   \n\t# x\ndump\n", &error);
    ASSERT_TRUE(script.has_value()) << error;
    ASSERT_EQ(script->steps().size(), 2u);
    EXPECT_EQ(script->steps()[0].line, 3);
    EXPECT_EQ(script->steps()[1].line, 6);
    EXPECT_FALSE(script->atEnd());
    script->take();
    script->take();
    EXPECT_TRUE(script->atEnd());
}

TEST(AutomationScriptTest, RefusesLinesThatAreNotSteps) {
    const char* bad[] = {
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
    };
    for (const char* line : bad) {
        std::string error;
        EXPECT_FALSE(AutomationScript::parse(std::string("answer 1\n") + line, &error)) << line;
        EXPECT_NE(error.find("line 2"), std::string::npos) << error;
    }
}

TEST(TranscriptTest, EscapesSoThatEveryEventIsOneLine) {
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"plain 100% %s %n", "plain 100% %s %n"},
        {"a\tb", "a\\tb"},
        {"a\nb", "a\\nb"},
        {"a\rb", "a\\rb"},
        {"a\\b", "a\\\\b"},
        {"\\t", "\\\\t"},  // a backslash before a t is not a tab
        {"MSG_PATHERROR\r\rMSG_CHECKPATH/x", "MSG_PATHERROR\\r\\rMSG_CHECKPATH/x"},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(Transcript::escape(c.in), c.out) << c.in;
}

TEST(TranscriptTest, WritesTabSeparatedLines) {
    TempDir dir;
    std::string path = dir.path() + "/transcript";
    {
        Transcript transcript(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), true);
        transcript.writeLine({"alert", "SC820 Utility", "two\nlines", "OK", "", "1"});
        transcript.writeLine({"end"});
    }
    EXPECT_EQ(ReadFileBytes(path), "alert\tSC820 Utility\ttwo\\nlines\tOK\t\t1\nend\n");
}

}  // namespace
