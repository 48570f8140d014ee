// The utility's command line: its own options, Qt's options handed on, and the forms that end
// the program before any window.
#include <gtest/gtest.h>

#include <sstream>
#include <tuple>

#include "platform/window/CommandLine.h"
#include "tests/support/TempHost.h"

namespace {

const std::string kProgram = "/usr/bin/sc820-utility";

// Each form: its exit status (-1: the program goes on), whether the terminal is asked for, the
// arguments handed on to Qt, and a text each of the outputs holds (empty: that output is empty).
TEST(CommandLine, EachFormGivesItsStatusOptionsAndOutput) {
    const struct Case {
        std::vector<std::string> arguments;
        int exitStatus;
        bool terminal;
        std::vector<std::string> qtArguments;
        const char* out;
        const char* err;
    } cases[] = {
        {{kProgram}, -1, false, {kProgram}, "", ""},
        {{kProgram, "--terminal"}, -1, true, {kProgram}, "", ""},
        {{kProgram, "--help"}, 0, false, {}, "Usage: sc820-utility", ""},
        {{kProgram, "-h"}, 0, false, {}, "--terminal", ""},
        {{kProgram, "--help"}, 0, false, {}, "-platform NAME", ""},
        {{kProgram, "--help"}, 0, false, {}, "4 you declined", ""},
        {{kProgram, "--version"}, 0, false, {}, "sc820-utility 1.0.2\n", ""},
        {{kProgram, "--frobnicate"}, 2, false, {}, "", "Usage:"},
        {{kProgram, "file.bin"}, 2, false, {}, "", "file.bin"},
        {{kProgram, "-platform", "offscreen", "--terminal", "--style", "Fusion", "-reverse"},
         -1,
         true,
         {kProgram, "-platform", "offscreen", "--style", "Fusion", "-reverse"},
         "",
         ""},
        // A Qt option without its value is not Qt's to take: the parser refuses it.
        {{kProgram, "-platform"}, 2, false, {}, "", "Usage:"},
        {{kProgram, "flash"}, 2, false, {}, "", "Usage:"},
        {{kProgram, "config", "import"}, 2, false, {}, "", "FILE"},
        {{kProgram, "flash", "erase", "--json"}, 2, false, {}, "", "--json"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.back());
        std::ostringstream out;
        std::ostringstream err;
        CommandLineResult result = ParseCommandLine(c.arguments, out, err);
        EXPECT_EQ(result.exitStatus.value_or(-1), c.exitStatus);
        EXPECT_EQ(result.options.terminal, c.terminal);
        EXPECT_TRUE(c.exitStatus != -1 || result.options.qtArguments == c.qtArguments);
        for (const auto& [text, shown] :
             {std::pair{c.out, out.str()}, std::pair{c.err, err.str()}}) {
            EXPECT_TRUE(*text == '\0' ? shown.empty() : shown.find(text) != std::string::npos)
                << shown;
        }
    }
}

TEST(CommandLine, ASubcommandIsABatchRequestWithItsFileAndAnswers) {
    std::ostringstream out;
    std::ostringstream err;
    const CommandLineResult result = ParseCommandLine(
        {kProgram, "config", "import", "my file.json", "--json", "--yes", "--no-backup"}, out, err);
    ASSERT_FALSE(result.exitStatus) << err.str();
    ASSERT_TRUE(result.options.batch);
    EXPECT_EQ(result.options.batch->command, "config import");
    EXPECT_EQ(result.options.batch->file, "my file.json");
    EXPECT_TRUE(result.options.batch->yes);
    EXPECT_TRUE(result.options.batch->json);
    EXPECT_TRUE(result.options.batch->noBackup);
    EXPECT_FALSE(ParseCommandLine({kProgram}, out, err).options.batch);
}

// The real program answers --version, and refuses a wrong form, without a display and without
// starting the window; with neither a display nor a terminal it says how to run it.
TEST(CommandLine, TheProgramNeedsNoDisplayForItsForms) {
    const std::tuple<std::vector<std::string>, int, const char*> cases[] = {
        {{"--version"}, 0, "sc820-utility 1.0.2"},
        {{"--bogus"}, 2, "Usage:"},
        {{},
         1,
         "no display and no terminal: run it on a terminal, for example ssh -t HOST "
         "sc820-utility"},
    };
    for (const auto& [arguments, status, contains] : cases) {
        std::vector<std::string> argv = {SC820_UTILITY_BINARY};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        std::string output;
        EXPECT_EQ(RunProgram(
                      argv, &output,
                      {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=xcb", "SC820_AUTOMATION="}),
                  status)
            << output;
        EXPECT_NE(output.find(contains), std::string::npos) << output;
    }
}

}  // namespace
