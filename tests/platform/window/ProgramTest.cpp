// Whole runs of a windowed program driven by automation scripts: what the transcript shows,
// and how the program ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "tests/platform/foundation/ScopedEnv.h"
#include "tests/support/TempHost.h"

namespace {

struct ProgramRun {
    int status;
    std::vector<std::string> transcript;
    std::string output;
};

std::vector<std::string> Lines(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

class ProgramTest : public ::testing::Test {
protected:
    ProgramRun run(const std::string& script, const std::vector<std::string>& args = {}) {
        std::string scriptPath = dir_.path() + "/script";
        std::string transcriptPath = dir_.path() + "/transcript";
        WriteFileBytes(scriptPath, script);
        ScopedEnv env;
        env.set("SC820_AUTOMATION", scriptPath).set("SC820_TRANSCRIPT", transcriptPath);
        env.set("QT_QPA_PLATFORM", "offscreen");
        std::vector<std::string> argv = {WINDOW_PROBE};
        argv.insert(argv.end(), args.begin(), args.end());
        ProgramRun result;
        result.status = RunProgram(argv, &result.output);
        result.transcript = Lines(ReadFileBytes(transcriptPath));
        return result;
    }
    TempDir dir_;
};

const std::string kStart = "alert\tProbe\tStart?\tOK\tCancel\t1";

TEST_F(ProgramTest, SessionThroughEveryKindOfStep) {
    ProgramRun r =
        run("answer 1            # Start?\n"
            "press ok\n"
            "answer 1\n"
            "press default\n"
            "answer 0            # Confirm? -> Cancel\n"
            "answer 1\n"
            "press default\n"
            "answer 1\n"
            "answer 1\n"
            "press write\n"
            "choose-cancel\n"
            "answer 1\n"
            "press write\n"
            "choose /tmp/bios.rom\n"
            "answer 1\n"
            "press erase\n"
            "select tag:100 10\n"
            "set out_parity_E 0\n"
            "dump\n"
            "close\n"
            "answer 0            # stay open\n"
            "close\n"
            "answer 1\n");
    EXPECT_EQ(r.status, 0) << r.output;
    std::vector<std::string> expectedStart = {
        kStart,
        "alert\tProbe\t100% done %s %n\tOK\t\t1",
        "alert\tProbe\tConfirm?\tOK\tCancel\t0",
        "alert\tProbe\tanswer 0 after 1\tOK\t\t1",
        "alert\tProbe\tConfirm?\tOK\tCancel\t1",
        "alert\tProbe\tanswer 1 after 1\tOK\t\t1",
        "panel\t/tmp\t0\t",
        "alert\tProbe\tpanel 0 \tOK\t\t1",
        "panel\t/tmp\t1\t/tmp/bios.rom",
        "alert\tProbe\tpanel 1 /tmp/bios.rom\tOK\t\t1",
    };
    ASSERT_GT(r.transcript.size(), expectedStart.size());
    EXPECT_EQ(std::vector<std::string>(r.transcript.begin(), r.transcript.begin() + 10),
              expectedStart);
    auto has = [&r](const std::string& line) {
        return std::find(r.transcript.begin(), r.transcript.end(), line) != r.transcript.end();
    };
    EXPECT_TRUE(has("control\tout_hostSCSIID\t7"));
    EXPECT_TRUE(has("control\tout_resetRecoveringTime\t2"));
    EXPECT_TRUE(has("control\tout_parity_E\t0"));
    EXPECT_TRUE(has("control\tout_verPCB\ttab\\there\\nline\\rcr\\\\slash"));
    EXPECT_TRUE(has("control\tout_verSCSIBIOS\terased"));
    EXPECT_TRUE(has("control\ttag:100\t10"));
    EXPECT_TRUE(has("control\ttag:201\t1"));
    EXPECT_TRUE(has("control\ttag:415\t1"));
    std::vector<std::string> expectedEnd = {"alert\tProbe\tClose?\tOK\tCancel\t0",
                                            "alert\tProbe\tClose?\tOK\tCancel\t1", "terminate"};
    EXPECT_EQ(std::vector<std::string>(r.transcript.end() - 3, r.transcript.end()), expectedEnd);
}

TEST_F(ProgramTest, HowRunsEnd) {
    struct Case {
        const char* name;
        std::string script;
        int status;
        std::vector<std::string> transcript;
    };
    const Case cases[] = {
        {"refused start", "answer 0\n", 0, {"alert\tProbe\tStart?\tOK\tCancel\t0", "terminate"}},
        {"cancel", "answer 1\npress cancel\ndump\n", 0, {kStart, "terminate"}},
        {"runs out idle", "answer 1\n", 0, {kStart, "end"}},
        {"runs out at a question", "", 3, {"error\tscript ended while an alert is open: Start?"}},
        {"press at a question",
         "press ok\n",
         3,
         {"error\tline 1 (press ok): an alert is open and needs an answer: Start?"}},
        {"answer when idle",
         "answer 1\nanswer 1\n",
         3,
         {kStart, "error\tline 2 (answer 1): no alert or open panel is open"}},
        {"not a step, before anything runs",
         "answer 1\npress ok\nfrobnicate\n",
         3,
         {"error\tline 3: not a step: frobnicate"}},
        {"no such control",
         "answer 1\nselect out_nothing 2\n",
         3,
         {kStart, "error\tline 2 (select out_nothing 2): no control out_nothing"}},
        {"runs out in the close question",
         "answer 1\nclose\n",
         3,
         {kStart, "error\tscript ended while an alert is open: Close?"}},
    };
    for (const Case& c : cases) {
        ProgramRun r = run(c.script);
        EXPECT_EQ(r.status, c.status) << c.name << "\n" << r.output;
        EXPECT_EQ(r.transcript, c.transcript) << c.name;
    }
}

TEST_F(ProgramTest, TranscriptGoesToStandardErrorWhenNoFileIsNamed) {
    std::string scriptPath = dir_.path() + "/script";
    WriteFileBytes(scriptPath, "answer 1\n");
    ScopedEnv env;
    env.set("SC820_AUTOMATION", scriptPath).unset("SC820_TRANSCRIPT");
    std::string output;
    EXPECT_EQ(RunProgram({WINDOW_PROBE}, &output), 0);
    EXPECT_NE(output.find(kStart + "\nend\n"), std::string::npos) << output;
}

TEST_F(ProgramTest, UnreadableScriptIsAnError) {
    ScopedEnv env;
    env.set("SC820_AUTOMATION", dir_.path() + "/absent")
        .set("SC820_TRANSCRIPT", dir_.path() + "/t");
    std::string output;
    EXPECT_EQ(RunProgram({WINDOW_PROBE}, &output), 3);
    EXPECT_EQ(Lines(ReadFileBytes(dir_.path() + "/t")),
              std::vector<std::string>{"error\tcannot read automation script " + dir_.path() +
                                       "/absent"});
}

TEST_F(ProgramTest, WithoutADisplayItSaysSoInOneLine) {
    const char* platforms[] = {nullptr, "xcb", "wayland"};
    for (const char* platform : platforms) {
        ScopedEnv env;
        env.unset("DISPLAY").unset("WAYLAND_DISPLAY").unset("SC820_AUTOMATION");
        if (platform != nullptr) {
            env.set("QT_QPA_PLATFORM", platform);
        } else {
            env.unset("QT_QPA_PLATFORM");
        }
        std::string output;
        EXPECT_EQ(RunProgram({WINDOW_PROBE}, &output), 1);
        EXPECT_EQ(output, "window_probe: no display: set DISPLAY or run under xvfb-run\n");
    }
}

}  // namespace
