// The utility's command line: its own options, Qt's options handed on, and the forms that end
// the program before any window.
#include <gtest/gtest.h>

#include <sstream>

#include "platform/window/CommandLine.h"
#include "tests/support/TempHost.h"

namespace {

struct ParseCase {
    const char* name;
    std::vector<std::string> arguments;
    int exitStatus;  // -1: the program goes on
    bool terminal;
    std::vector<std::string> qtArguments;
    const char* outContains;
    const char* errContains;
};

class CommandLineParse : public testing::TestWithParam<ParseCase> {};

TEST_P(CommandLineParse, ExitStatusOptionsAndOutput) {
    const ParseCase& c = GetParam();
    std::ostringstream out;
    std::ostringstream err;
    CommandLineResult result = ParseCommandLine(c.arguments, out, err);
    EXPECT_EQ(result.exitStatus.value_or(-1), c.exitStatus);
    EXPECT_EQ(result.options.terminal, c.terminal);
    if (c.exitStatus == -1) {
        EXPECT_EQ(result.options.qtArguments, c.qtArguments);
    }
    EXPECT_NE(out.str().find(c.outContains), std::string::npos) << out.str();
    EXPECT_NE(err.str().find(c.errContains), std::string::npos) << err.str();
    if (*c.outContains == '\0') {
        EXPECT_EQ(out.str(), "");
    }
    if (*c.errContains == '\0') {
        EXPECT_EQ(err.str(), "");
    }
}

const std::string kProgram = "/usr/bin/sc820-utility";

INSTANTIATE_TEST_SUITE_P(
    Forms, CommandLineParse,
    testing::Values(
        ParseCase{"NoArguments", {kProgram}, -1, false, {kProgram}, "", ""},
        ParseCase{"Terminal", {kProgram, "--terminal"}, -1, true, {kProgram}, "", ""},
        ParseCase{"Help", {kProgram, "--help"}, 0, false, {}, "Usage: sc820-utility", ""},
        ParseCase{"ShortHelp", {kProgram, "-h"}, 0, false, {}, "--terminal", ""},
        ParseCase{"HelpNamesQtOptions", {kProgram, "--help"}, 0, false, {}, "-platform NAME", ""},
        ParseCase{"Version", {kProgram, "--version"}, 0, false, {}, "sc820-utility 1.0.2\n", ""},
        ParseCase{"UnknownOption", {kProgram, "--frobnicate"}, 2, false, {}, "", "Usage:"},
        ParseCase{"StrayArgument", {kProgram, "file.bin"}, 2, false, {}, "", "file.bin"},
        ParseCase{
            "QtOptionsHandedOn",
            {kProgram, "-platform", "offscreen", "--terminal", "--style", "Fusion", "-reverse"},
            -1,
            true,
            {kProgram, "-platform", "offscreen", "--style", "Fusion", "-reverse"},
            "",
            ""},
        // A Qt option without its value is not Qt's to take: the parser refuses it.
        ParseCase{"QtOptionMissingValue", {kProgram, "-platform"}, 2, false, {}, "", "Usage:"},
        ParseCase{
            "HelpNamesTheExitStatuses", {kProgram, "--help"}, 0, false, {}, "4 you declined", ""},
        ParseCase{"GroupWithoutSubcommand", {kProgram, "flash"}, 2, false, {}, "", "Usage:"},
        ParseCase{
            "SubcommandWithoutFile", {kProgram, "config", "import"}, 2, false, {}, "", "FILE"},
        ParseCase{"OptionOfAnotherSubcommand",
                  {kProgram, "flash", "erase", "--json"},
                  2,
                  false,
                  {},
                  "",
                  "--json"}),
    [](const testing::TestParamInfo<ParseCase>& param) { return std::string(param.param.name); });

TEST(CommandLineBatch, ASubcommandIsABatchRequestWithItsFileAndAnswers) {
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

// The real program answers --help and --version, and refuses a wrong form, without a display
// and without starting the window.
struct ProgramCase {
    const char* name;
    std::vector<std::string> arguments;
    int status;
    const char* contains;
};

class CommandLineProgram : public testing::TestWithParam<ProgramCase> {};

TEST_P(CommandLineProgram, NeedsNoDisplay) {
    const ProgramCase& c = GetParam();
    std::vector<std::string> argv = {SC820_UTILITY_BINARY};
    argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
    std::string output;
    int status =
        RunProgram(argv, &output,
                   {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM=xcb", "SC820_AUTOMATION="});
    EXPECT_EQ(status, c.status) << output;
    EXPECT_NE(output.find(c.contains), std::string::npos) << output;
}

INSTANTIATE_TEST_SUITE_P(
    Forms, CommandLineProgram,
    testing::Values(ProgramCase{"Help", {"--help"}, 0, "--version"},
                    ProgramCase{"Version", {"--version"}, 0, "sc820-utility 1.0.2"},
                    ProgramCase{"Unknown", {"--bogus"}, 2, "Usage:"},
                    ProgramCase{"NoDisplay",
                                {},
                                1,
                                "no display and no terminal: run it on a terminal, for example ssh "
                                "-t HOST sc820-utility"}),
    [](const testing::TestParamInfo<ProgramCase>& param) { return std::string(param.param.name); });

}  // namespace
