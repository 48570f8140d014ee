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
// A Qt option without its value is not Qt's to take: the parser refuses it.
TEST(CommandLine, EachFormGivesItsStatusOptionsAndOutput) {
    const std::vector<std::string> qt = {"-platform", "offscreen", "--style", "Fusion", "-reverse"};
    const std::tuple<std::vector<std::string>, int, bool, const char*, const char*> cases[] = {
        {{}, -1, false, "", ""},
        {{"--terminal"}, -1, true, "", ""},
        {{"-platform", "offscreen", "--terminal", "--style", "Fusion", "-reverse"},
         -1,
         true,
         "",
         ""},
        {{"--help"}, 0, false, "Usage: sc820-utility", ""},
        {{"-h"}, 0, false, "--terminal", ""},
        {{"--help"}, 0, false, "-platform NAME", ""},
        {{"--help"}, 0, false, "4 you declined", ""},
        {{"--version"}, 0, false, "sc820-utility 1.0.2\n", ""},
        {{"--frobnicate"}, 2, false, "", "Usage:"},
        {{"file.bin"}, 2, false, "", "file.bin"},
        {{"-platform"}, 2, false, "", "Usage:"},
        {{"flash"}, 2, false, "", "Usage:"},
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

TEST(CommandLine, ASubcommandIsABatchRequestWithItsFileAndAnswers) {
    std::ostringstream out, err;
    const CommandLineResult result = ParseCommandLine(
        {kProgram, "config", "import", "my file.json", "--json", "--yes", "--no-backup"}, out, err);
    ASSERT_TRUE(!result.exitStatus && result.options.batch) << err.str();
    const auto& batch = *result.options.batch;
    EXPECT_EQ(std::tuple(batch.command, batch.file, batch.yes, batch.json, batch.noBackup),
              std::tuple("config import", "my file.json", true, true, true));
    EXPECT_FALSE(ParseCommandLine({kProgram}, out, err).options.batch);
}

// The real program answers --version, and refuses a wrong form, without a display and without
// starting the window; with neither a display nor a terminal it says how to run it.
TEST(CommandLine, TheProgramNeedsNoDisplayForItsForms) {
    for (const auto& [argument, status, contains] :
         {std::tuple{"--version", 0, "sc820-utility 1.0.2"},
          {"--bogus", 2, "Usage:"},
          {"", 1,
           "no display and no terminal: run it on a terminal, for example ssh -t HOST "
           "sc820-utility"}}) {
        std::vector<std::string> argv = {SC820_UTILITY_BINARY};
        if (*argument != '\0') argv.push_back(argument);
        std::string output;
        EXPECT_EQ(RunProgram(
                      argv, &output,
                      {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=xcb", "SC820_AUTOMATION="}),
                  status);
        EXPECT_NE(output.find(contains), std::string::npos) << output;
    }
}

}  // namespace
