// The utility's command line: its own options, and the options Qt gives every Qt program,
// which are handed on to the application untouched.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

// A batch-mode subcommand: the work to do without a window, and the answers given in advance.
struct BatchRequest {
    // "show", "config export", "config import", "config default", "flash backup",
    // "flash erase" or "flash write".
    std::string command;
    std::string file;       // the FILE argument, where the command takes one
    bool yes = false;       // answers the start-up question and the Erase and Write ones
    bool json = false;      // show and the configuration changes: answer in JSON
    bool noBackup = false;  // go on when no copy of what is replaced can be kept
};

struct CommandLineOptions {
    // Use the terminal interface even when a display is available.
    bool terminal = false;
    // The program name followed by the Qt options given (-platform NAME, -style NAME, ...), in
    // their order: what QApplication is constructed with.
    std::vector<std::string> qtArguments;
    // Set when a subcommand was given: the program runs in the batch mode.
    std::optional<BatchRequest> batch;
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
