// The utility's command line: its own options, and the options Qt gives every Qt program,
// which are handed on to the application untouched.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

struct CommandLineOptions {
    // Use the terminal interface even when a display is available.
    bool terminal = false;
    // The program name followed by the Qt options given (-platform NAME, -style NAME, ...), in
    // their order: what QApplication is constructed with.
    std::vector<std::string> qtArguments;
};

struct CommandLineResult {
    CommandLineOptions options;
    // Set when the program ends here: 0 after --help or --version, 2 after a wrong form.
    std::optional<int> exitStatus;
};

// Parses the arguments (the first is the program's name). --help and --version print to out;
// a wrong form prints the error and the usage to err.
CommandLineResult ParseCommandLine(const std::vector<std::string>& arguments, std::ostream& out,
                                   std::ostream& err);

// The options as parsed at start-up; default values until NSApplicationMain has parsed them.
const CommandLineOptions& ProgramOptions();
void SetProgramOptions(CommandLineOptions options);
