#include "platform/window/CommandLine.h"

#include <CLI/CLI.hpp>
#include <array>
#include <filesystem>
#include <map>
#include <sstream>

#include "Sc820Version.h"
#include "platform/window/ExitStatus.h"

namespace {

// Qt's own options that take a value, and those that stand alone. Both the one-dash and the
// two-dash spelling are Qt's.
constexpr std::array kQtOptionsWithValue = {
    "platform",   "platformpluginpath", "platformtheme", "display",    "style",
    "stylesheet", "qwindowgeometry",    "qwindowtitle",  "qwindowicon"};
constexpr std::array kQtFlags = {"reverse"};

// "-platform" or "--platform" -> "platform"; anything else -> "".
std::string QtOptionName(const std::string& argument) {
    if (argument.size() < 2 || argument[0] != '-') return {};
    std::string name = argument.substr(argument[1] == '-' ? 2 : 1);
    if (name.find('=') != std::string::npos) return {};
    return name;
}

template <std::size_t N>
bool Contains(const std::array<const char*, N>& names, const std::string& name) {
    for (const char* known : names) {
        if (name == known) return true;
    }
    return false;
}

constexpr char kFooter[] =
    "Batch mode (no window; every subcommand runs the same start-up and checks):\n"
    "  show [--json]              the four versions and the configuration\n"
    "  config export FILE         the configuration as a JSON document\n"
    "  config import FILE         store a JSON document's configuration (unchanged\n"
    "                             when the card already holds it)\n"
    "  config default             store the card's factory settings\n"
    "  flash backup FILE          the 65,536-byte flash as read from the card\n"
    "  flash erase                erase the flash BIOS\n"
    "  flash write FILE           write a BIOS image and verify it\n"
    "  --yes answers the questions (start-up, Erase, Write); without it the batch mode asks\n"
    "  on the terminal, or declines when there is none. --no-backup goes on when no copy of\n"
    "  what a change replaces can be kept in ${XDG_STATE_HOME:-$HOME/.local/state}/sc820/backups.\n"
    "  Each message is one line on standard error, naming its message key.\n"
    "\n"
    "Qt options, handed to the window system:\n"
    "  -platform NAME        the display platform (xcb, wayland, offscreen, ...)\n"
    "  -display DISPLAY      the X display to use\n"
    "  -style NAME           the widget style\n"
    "  -stylesheet FILE, -platformtheme NAME, -platformpluginpath DIR,\n"
    "  -qwindowgeometry GEOMETRY, -qwindowtitle TITLE, -qwindowicon FILE, -reverse\n"
    "\n"
    "Environment: SC820_HOST_ROOT names the emulated host (default\n"
    "${XDG_STATE_HOME:-$HOME/.local/state}/sc820/host); LANGUAGE, LC_ALL, LC_MESSAGES and\n"
    "LANG choose the language.\n"
    "\n"
    "Without a display the terminal interface starts on a terminal; over SSH use ssh -t.\n"
    "\n"
    "Exit status: 0 success, or the program ended as you chose (window closed, Cancel,\n"
    "--help, --version); 1 a failure or refusal reported by a message (on the card, in the\n"
    "start-up checks, no copy kept), or no display and no terminal; 2 a wrong command line\n"
    "or an unusable FILE; 3 an automation script error; 4 you declined (the start-up\n"
    "question, or a question without --yes and no terminal); 128 + the signal when ended\n"
    "by one (130 for Ctrl-C).";

void Describe(CLI::App& app, CommandLineOptions& options) {
    app.description(
        "Shows and edits the SC820 card's EEPROM configuration, loads its factory settings,\n"
        "erases its flash BIOS and writes a BIOS image with read-back verification.");
    app.footer(kFooter);
    app.set_version_flag("--version", std::string("sc820-utility ") + kSc820Version,
                         "Print the version and exit");
    app.set_help_flag("-h,--help", "Print this help and exit");
    app.add_flag("--terminal", options.terminal,
                 "Use the terminal interface even when a display is available");
}

struct BatchCommand {
    const char* group;  // null: a top-level subcommand
    const char* name;
    const char* help;
    bool takesFile;
    bool takesJson;
    bool takesNoBackup;
};

constexpr std::array kBatchCommands = {
    BatchCommand{nullptr, "show", "Print the versions and the configuration", false, true, false},
    BatchCommand{"config", "export", "Write the configuration to a JSON file", true, false, false},
    BatchCommand{"config", "import", "Store the configuration of a JSON file", true, true, true},
    BatchCommand{"config", "default", "Store the factory settings", false, true, true},
    BatchCommand{"flash", "backup", "Write the flash as read from the card to a file", true, false,
                 false},
    BatchCommand{"flash", "erase", "Erase the flash BIOS", false, false, true},
    BatchCommand{"flash", "write", "Write a BIOS image and verify it", true, false, true},
};

// One parsed leaf per command, with the request it fills.
std::vector<std::pair<CLI::App*, std::string>> DescribeBatch(CLI::App& app, BatchRequest& request) {
    std::vector<std::pair<CLI::App*, std::string>> leaves;
    std::map<std::string, CLI::App*> groups;
    for (const char* group : {"config", "flash"}) {
        CLI::App* sub = app.add_subcommand(
            group, std::string("The card's ") + (group[0] == 'c' ? "configuration" : "flash BIOS"));
        sub->require_subcommand(1);
        groups[group] = sub;
    }
    for (const BatchCommand& c : kBatchCommands) {
        CLI::App* parent = c.group != nullptr ? groups[c.group] : &app;
        CLI::App* leaf = parent->add_subcommand(c.name, c.help);
        if (c.takesFile) leaf->add_option("FILE", request.file, "The file")->required();
        leaf->add_flag("--yes,-y", request.yes, "Answer the questions with OK");
        if (c.takesJson) leaf->add_flag("--json", request.json, "Answer in JSON");
        if (c.takesNoBackup) {
            leaf->add_flag("--no-backup", request.noBackup,
                           "Go on when no copy of what is replaced can be kept");
        }
        leaves.emplace_back(
            leaf, c.group != nullptr ? std::string(c.group) + " " + c.name : std::string(c.name));
    }
    app.require_subcommand(0, 1);
    return leaves;
}

}  // namespace

CommandLineResult ParseCommandLine(const std::vector<std::string>& arguments, std::ostream& out,
                                   std::ostream& err) {
    CommandLineResult result;
    const std::string program = arguments.empty()
                                    ? std::string("sc820-utility")
                                    : std::filesystem::path(arguments[0]).filename().string();
    result.options.qtArguments.push_back(arguments.empty() ? program : arguments[0]);

    // Qt's options are set aside first, so the parser sees only the utility's own.
    std::vector<std::string> own;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string name = QtOptionName(arguments[i]);
        if (Contains(kQtOptionsWithValue, name) && i + 1 < arguments.size()) {
            result.options.qtArguments.push_back(arguments[i]);
            result.options.qtArguments.push_back(arguments[++i]);
        } else if (Contains(kQtFlags, name)) {
            result.options.qtArguments.push_back(arguments[i]);
        } else {
            own.push_back(arguments[i]);
        }
    }

    CLI::App app;
    app.name(program);
    Describe(app, result.options);
    BatchRequest request;
    const auto leaves = DescribeBatch(app, request);
    try {
        // CLI11 takes the arguments last to first.
        std::vector<std::string> reversed(own.rbegin(), own.rend());
        app.parse(reversed);
        for (const auto& [leaf, command] : leaves) {
            if (!leaf->parsed()) continue;
            request.command = command;
            result.options.batch = request;
        }
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        result.exitStatus = 0;
    } catch (const CLI::CallForVersion& version) {
        out << version.what() << '\n';
        result.exitStatus = 0;
    } catch (const CLI::ParseError& error) {
        err << program << ": " << error.what() << "\n\n" << app.help();
        result.exitStatus = kExitUsage;
    }
    return result;
}

namespace {

CommandLineOptions& StoredOptions() {
    static CommandLineOptions options;
    return options;
}

}  // namespace

const CommandLineOptions& ProgramOptions() {
    return StoredOptions();
}

void SetProgramOptions(CommandLineOptions options) {
    StoredOptions() = std::move(options);
}
