// The counting runner against a real shell, and the privileged runner against the emulated
// host's authorization service with small tools placed in the host root.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/SC820Controller.h"
#include "tests/driverctl/HostTools.h"
#include "tests/support/RecordingBackend.h"
#include "tests/support/TempHost.h"

namespace {

struct CountCase {
    const char* name;
    std::string command;
    int expected;
};
void PrintTo(const CountCase& c, std::ostream* os) {
    *os << c.name;
}

class ExecLogCount : public ::testing::TestWithParam<CountCase> {};

TEST_P(ExecLogCount, CountsNewlinesOfBothStreams) {
    SC820Controller controller;
    EXPECT_EQ(controller.execLog(GetParam().command.c_str()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, ExecLogCount,
    ::testing::Values(CountCase{"TenLines", "seq 10", 10},
                      CountCase{"NineLinesAndAnUnterminatedTenth", "{ seq 9; printf ten; }", 9},
                      CountCase{"OnlyStandardError", "sh -c 'seq 10 >&2'", 10},
                      CountCase{"BothStreamsTogether", "sh -c 'seq 4; seq 6 >&2'", 10},
                      CountCase{"EmptyOutput", "true", 0},
                      CountCase{"EmptyLinesCount", "printf '\\n\\n\\n'", 3},
                      CountCase{"NulBytesAreJustCharacters", "printf 'a\\000\\n\\000\\n'", 2},
                      // The command is an argument of the line's format, never the format itself.
                      CountCase{"PercentSignsInTheCommand", "echo %s%n%x%%", 1},
                      CountCase{"LongOutput", "seq 100000", 100000}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(ExecLog, UnknownCommandCountsTheShellsErrorLines) {
    SC820Controller controller;
    EXPECT_GE(controller.execLog("/nonexistent/sc820-no-such-tool"), 1);
}

TEST(ExecLog, QuotedPathWithSpacesRunsTheProgram) {
    TempDir dir;
    const std::string program = dir.path() + "/a folder/te st";
    hosttools::InstallTool(dir.path(), "/a folder/te st", "seq 10");
    SC820Controller controller;
    EXPECT_EQ(controller.execLog(("\"" + program + "\"").c_str()), 10);
}

TEST(ExecLog, CommandLongerThanAnyFixedBufferIsRunWhole) {
    // 5,000 characters of command: the line is built in a block of exactly the needed size.
    std::string command = "echo " + std::string(5000, 'x') + " | wc -c";
    SC820Controller controller;
    EXPECT_EQ(controller.execLog(command.c_str()), 1);
}

// The privileged runner logs every piece of a tool's output; it needs an authorization that
// the host's policy granted.
class AuthLog : public ::testing::Test {
protected:
    void SetUp() override {
        controller.acquireRights();
        logStart = host.logLines().size();
    }
    std::vector<std::string> newLogTexts() const {
        std::vector<std::string> texts = hosttools::LogTexts(host);
        texts.erase(texts.begin(), texts.begin() + static_cast<long>(logStart));
        return texts;
    }
    int run(const char* tool, std::vector<const char*> arguments = {}) {
        std::vector<char*> argv;
        for (const char* a : arguments) argv.push_back(const_cast<char*>(a));
        argv.push_back(nullptr);
        return controller.authLog(tool, argv.data());
    }

    TempHost host;
    RecordingBackend backend;
    SC820Controller controller;
    size_t logStart = 0;
};

TEST_F(AuthLog, ThreeLinesGiveThreeEntriesWithTheirNewlines) {
    hosttools::InstallPrintingTool(host.root(), "/usr/sbin/three", "one\ntwo\nthree\n");
    EXPECT_EQ(run("/usr/sbin/three"), 1);
    EXPECT_EQ(newLogTexts(), (std::vector<std::string>{"one\n", "two\n", "three\n"}));
    EXPECT_TRUE(backend.alerts.empty());
}

TEST_F(AuthLog, LongLineIsLoggedInPiecesOf1023Characters) {
    hosttools::InstallPrintingTool(host.root(), "/usr/sbin/long", std::string(3000, 'a') + "\n");
    EXPECT_EQ(run("/usr/sbin/long"), 1);
    const std::vector<std::string> texts = newLogTexts();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0], std::string(1023, 'a'));
    EXPECT_EQ(texts[1], std::string(1023, 'a'));
    EXPECT_EQ(texts[2], std::string(954, 'a') + "\n");
}

TEST_F(AuthLog, ArgumentsReachTheToolInOrder) {
    hosttools::InstallTool(host.root(), "/sbin/echoargs",
                           "for a in \"$@\"; do echo \"[$a]\"; done");
    EXPECT_EQ(run("/sbin/echoargs", {"-m", "two words", "%s%n"}), 1);
    EXPECT_EQ(newLogTexts(), (std::vector<std::string>{"[-m]\n", "[two words]\n", "[%s%n]\n"}));
}

TEST_F(AuthLog, OutputIsLoggedAsTextNeverAsFormat) {
    hosttools::InstallPrintingTool(host.root(), "/usr/sbin/percent", "%s %n %x\n");
    EXPECT_EQ(run("/usr/sbin/percent"), 1);
    EXPECT_EQ(newLogTexts(), (std::vector<std::string>{"%s %n %x\n"}));
}

TEST_F(AuthLog, LastLineWithoutNewlineIsLoggedToo) {
    hosttools::InstallPrintingTool(host.root(), "/usr/sbin/unterminated", "a\nb");
    EXPECT_EQ(run("/usr/sbin/unterminated"), 1);
    EXPECT_EQ(newLogTexts(), (std::vector<std::string>{"a\n", "b"}));
}

TEST_F(AuthLog, NulByteEndsWhatThePieceShowsButReadingGoesOn) {
    hosttools::InstallPrintingTool(host.root(), "/usr/sbin/nul",
                                   std::string("ab\0cd\n", 6) + "\xc3\xa9\xff\n");
    EXPECT_EQ(run("/usr/sbin/nul"), 1);
    EXPECT_EQ(newLogTexts(), (std::vector<std::string>{"ab", "\xc3\xa9\xff\n"}));
}

TEST_F(AuthLog, SilentToolIsStartedAndLogsNothing) {
    hosttools::InstallTool(host.root(), "/usr/sbin/silent", "exit 7");
    EXPECT_EQ(run("/usr/sbin/silent"), 1);
    EXPECT_TRUE(newLogTexts().empty());
}

TEST_F(AuthLog, MissingToolGivesZeroAndLogsNothing) {
    EXPECT_EQ(run("/usr/sbin/sc820-no-such-tool"), 0);
    EXPECT_TRUE(newLogTexts().empty());
    EXPECT_TRUE(backend.alerts.empty());
}

class AuthLogRefused : public ::testing::TestWithParam<const char*> {};

TEST_P(AuthLogRefused, GivesZeroAndLogsNothing) {
    TempHost host;
    RecordingBackend backend;
    host.hostOk({"auth", GetParam()});
    hosttools::InstallPrintingTool(host.root(), "/usr/sbin/three", "one\ntwo\nthree\n");
    SC820Controller controller;
    controller.acquireRights();
    const size_t logStart = host.logLines().size();
    char* noArguments[] = {nullptr};
    EXPECT_EQ(controller.authLog("/usr/sbin/three", noArguments), 0);
    EXPECT_EQ(host.logLines().size(), logStart);
    EXPECT_TRUE(backend.alerts.empty());
}

INSTANTIATE_TEST_SUITE_P(Policies, AuthLogRefused, ::testing::Values("deny", "cancel"));

}  // namespace
