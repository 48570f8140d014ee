#include "emulator/tools/HostCommand.h"

#include <sys/stat.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <functional>
#include <optional>

#include "Sc820Version.h"
#include "driverif/DriverNames.h"
#include "emulator/card/DriverState.h"
#include "emulator/card/RecordFormat.h"
#include "emulator/card/Sc820Card.h"
#include "emulator/host/HostError.h"
#include "emulator/host/HostFiles.h"
#include "emulator/host/HostRoot.h"
#include "emulator/host/HostSession.h"
#include "emulator/kernel/KernelRegistry.h"
#include "emulator/tools/DefaultHost.h"

namespace emu {

namespace {

// Every form on one screen: printed after a wrong form and at the end of --help.
const char kUsage[] =
    "usage: sc820-host [--root DIR] COMMAND\n"
    "commands:\n"
    "  init [--force]              lay out the default host (--force resets an existing one)\n"
    "  repair                      rebuild the kernel and driver state from the defaults,\n"
    "                              keeping the card's records, its flash and the log\n"
    "  restart                     restart the emulated computer: the card's normal driver\n"
    "                              loaded, the utility's driver unloaded, all else kept\n"
    "  status                      the host's state, one fact a line\n"
    "  log                         the system log\n"
    "  eeprom show|get FILE|put FILE\n"
    "  factory get FILE|put FILE   the 308-byte configuration records\n"
    "  flash get FILE|put FILE|erase\n"
    "                              the 65536-byte flash; put takes at most 65536 bytes\n"
    "  attach ID | detach ID       a SCSI device with target ID 0-15 on the card\n"
    "  auth allow|deny|cancel      the answer to requests for administrator rights\n"
    "  fault NAME on|off           NAME: master-port matching search open duplicate-service\n"
    "                              refuse-0 ... refuse-5\n";

// The rest of the program's --help, after the forms: the options, and where the host is.
const char kOptions[] =
    "options:\n"
    "  --root DIR                  the host's root folder (default: $SC820_HOST_ROOT, else\n"
    "                              ${XDG_STATE_HOME:-$HOME/.local/state}/sc820/host)\n"
    "  -h, --help                  this help; COMMAND --help: the command's own\n"
    "  --version                   the version\n"
    "Exit status: 0 done, 1 the operation failed, 2 a wrong form.\n";

std::string JoinTargets(const std::vector<int>& targets) {
    if (targets.empty()) return "none";
    std::string text;
    for (int t : targets) text += (text.empty() ? "" : " ") + std::to_string(t);
    return text;
}

// Reads a file given as input, before the host is locked: a FIFO may keep us waiting, and
// nobody else must wait with us. At most `limit` + 1 bytes are read.
std::string ReadInput(const std::string& path, size_t limit, const char* holds) {
    std::string bytes;
    if (!ReadWholeFile(path, &bytes, limit, FileKinds::streams))
        throw HostError(path + ": no such file");
    if (bytes.size() > limit) {
        struct stat info {};
        bool regular = stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
        throw HostError(
            path + ": " +
            (regular ? std::to_string(info.st_size) : "more than " + std::to_string(limit)) +
            " bytes; " + holds + " " + std::to_string(limit));
    }
    return bytes;
}

std::string ReadRecordInput(const std::string& path) {
    std::string record = ReadInput(path, kRecordSize, "a record holds");
    if (record.size() != kRecordSize) {
        throw HostError(path + ": " + std::to_string(record.size()) + " bytes; a record holds " +
                        std::to_string(kRecordSize));
    }
    return record;
}

// The verbs. Each opens its own session: the host is locked from reading to saving.
class HostCommand {
public:
    HostCommand(std::string hostBinary, std::ostream& out)
        : hostBinary_(std::move(hostBinary)), out_(out) {}

    std::string root;

    void init(bool force) {
        InitHost(root, force, hostBinary_);
        out_ << "initialised the default host at " << root << "\n";
    }

    void repair() {
        RepairHost(root, hostBinary_);
        out_ << "repaired the host at " << root
             << ": kernel and driver state rebuilt; the card's records, flash and log kept\n";
    }

    // The computer restarts: the kernel comes up with the normal driver serving the card and
    // without the utility's extension; what is hardware or configuration (the devices on the
    // card, the card's records and flash, the command counts, the authorization policy and the
    // fault switches) stays.
    void restart() {
        HostSession session(root);
        HostState& state = session.state();
        const std::vector<int> targets = KernelRegistry(state).cardTargets();
        HostState restarted = DefaultHostState();
        restarted.auth = state.auth;
        restarted.faults = state.faults;
        KernelRegistry registry(restarted);
        for (int target : targets) registry.attachDevice(target);
        state = std::move(restarted);
        DriverStateFile driverFile(session.paths());
        DriverState driver = driverFile.load();
        driver.readCursor = driver.writeCursor = 0;
        driver.lastService = 0;
        driverFile.store(driver);
        session.save();
        out_ << "restarted the host at " << root
             << ": the card's normal driver is loaded, the utility's driver is not\n";
    }

    void status() {
        HostSession session(root);
        const HostState& s = session.state();
        KernelRegistry registry(session.state());
        out_ << "host " << root << "\n";
        out_ << "auth " << AuthPolicyName(s.auth) << "\n";
        std::string faults;
        for (const auto& name : KnownFaults()) {
            if (s.faultOn(name)) faults += " " + name;
        }
        out_ << "faults" << (faults.empty() ? " none" : faults) << "\n";
        for (const auto& e : s.extensions)
            out_ << "extension " << e.identifier << " (" << e.version << ")\n";
        std::vector<uint32_t> services = registry.matchClass(kUtilityDriverClass);
        out_ << "utility-services " << services.size() << "\n";
        for (uint32_t id : services) out_ << "utility-service " << id << "\n";
        out_ << "card-targets " << JoinTargets(registry.cardTargets()) << "\n";
        out_ << "other-targets " << JoinTargets(registry.otherTargets()) << "\n";
        DriverState driver = DriverStateFile(session.paths()).load();
        out_ << "commands";
        for (uint64_t count : driver.commands) out_ << " " << count;
        out_ << "\n";
        out_ << "last-service "
             << (driver.lastService != 0 ? std::to_string(driver.lastService) : "none") << "\n";
        out_ << "flash-cursors read " << driver.readCursor << " write " << driver.writeCursor
             << "\n";
    }

    void log() {
        HostSession session(root);
        std::string text;
        bool cut = false;
        if (!ReadHostFileEnd(session.paths().systemLog(), &text, kLogShown, &cut))
            throw HostError(session.paths().systemLog() + ": no such file");
        if (cut) out_ << "(earlier entries left out: the log's last " << kLogShown << " bytes)\n";
        out_ << text;
    }

    // eeprom|factory|flash get FILE: the contents are read under the lock, written after it.
    void get(const std::string& part, const std::string& file) {
        RequireReplaceable(file);
        std::string bytes;
        {
            HostSession session(root);
            Sc820Card card(session.paths());
            bytes = part == "eeprom"    ? card.readEeprom()
                    : part == "factory" ? card.readFactory()
                                        : card.readFlash();
        }
        RequireReplaceable(file);
        if (!ReplaceFile(file, bytes)) out_ << part << " get: " << kNotYetOnDisk << "\n";
    }

    void eepromShow() {
        HostSession session(root);
        out_ << DescribeRecord(Sc820Card(session.paths()).readEeprom());
    }

    void putRecord(const std::string& part, const std::string& file) {
        std::string record = ReadRecordInput(file);
        HostSession session(root);
        Sc820Card card(session.paths());
        bool durable = part == "eeprom" ? card.storeEeprom(record) : card.storeFactory(record);
        if (!durable) out_ << part << " put: " << kNotYetOnDisk << "\n";
    }

    // flash put FILE and flash erase (an empty image): a new flash starts new sweeps. The
    // cursors are put back first, so that nothing can fail once the flash is replaced.
    void putFlash(const std::string* file) {
        std::string image = file != nullptr ? ReadInput(*file, kFlashSize, "the flash holds") : "";
        HostSession session(root);
        DriverStateFile driverFile(session.paths());
        DriverState driver = driverFile.load();
        if (driver.readCursor != 0 || driver.writeCursor != 0) {
            driver.readCursor = 0;
            driver.writeCursor = 0;
            driverFile.store(driver);
        }
        if (!Sc820Card(session.paths()).storeFlash(image))
            out_ << "flash " << (file != nullptr ? "put" : "erase") << ": " << kNotYetOnDisk
                 << "\n";
    }

    void device(const std::string& id, bool attach) {
        HostSession session(root);
        KernelRegistry registry(session.state());
        if (attach) {
            registry.attachDevice(std::stoi(id));
        } else {
            registry.detachDevice(std::stoi(id));
        }
        saved(session, attach ? "attach" : "detach");
    }

    void auth(const std::string& policy) {
        HostSession session(root);
        session.state().auth = *ParseAuthPolicy(policy);
        saved(session, "auth");
    }

    void fault(const std::string& name, const std::string& state) {
        bool on = state == "on";
        HostSession session(root);
        HostState& s = session.state();
        if (on) {
            s.faults.insert(name);
        } else {
            s.faults.erase(name);
        }
        if (name == kFaultDuplicateService) KernelRegistry(s).setDuplicateServices(on);
        saved(session, "fault");
    }

private:
    void saved(HostSession& session, const char* verb) {
        if (!session.save()) out_ << verb << ": " << kNotYetOnDisk << "\n";
    }

    std::string hostBinary_;
    std::ostream& out_;
};

// A SCSI target ID as written: one or two decimal digits, 0 to 15.
const CLI::Validator kTargetId(
    [](std::string& word) -> std::string {
        bool digits =
            !word.empty() && word.size() <= 2 &&
            std::all_of(word.begin(), word.end(), [](char c) { return c >= '0' && c <= '9'; });
        return digits && std::stoi(word) < kSCSITargetIDs ? "" : "not a target ID from 0 to 15";
    },
    "ID");

// Unnamed, so that the help shows the option's value as DIR alone.
const CLI::Validator kNotEmpty(
    [](std::string& word) -> std::string { return word.empty() ? "an empty folder name" : ""; },
    "");

// The command line grammar. Each leaf sets `action`; nothing runs while parsing.
class Grammar {
public:
    Grammar(HostCommand& command)
        : command_(command),
          app_("Lays out, shows and changes an emulated SC820 host.", "sc820-host") {
        app_.set_version_flag("--version", std::string("sc820-host ") + kSc820Version);
        app_.add_option("--root", command_.root,
                        "the host's root folder (default: $SC820_HOST_ROOT, else "
                        "${XDG_STATE_HOME:-$HOME/.local/state}/sc820/host)")
            ->type_name("DIR")
            ->check(kNotEmpty);
        app_.require_subcommand(1);
        CLI::App* init =
            leaf(app_, "init", "lay out the default host", [this] { command_.init(force_); });
        init->add_flag("--force", force_, "reset an existing host, keeping its log");
        leaf(app_, "repair", "rebuild the kernel and driver state, keeping the card's records",
             [this] { command_.repair(); });
        leaf(app_, "restart", "restart the emulated computer: the normal driver serves the card",
             [this] { command_.restart(); });
        leaf(app_, "status", "the host's state, one fact a line", [this] { command_.status(); });
        leaf(app_, "log", "the system log", [this] { command_.log(); });
        addRecord("eeprom", "the card's EEPROM configuration record (308 bytes)");
        addRecord("factory", "the card's factory record (308 bytes)");
        CLI::App* flash = group("flash", "the card's 65536-byte flash");
        withFile(leaf(*flash, "get", "copy the flash into FILE",
                      [this] { command_.get("flash", file_); }));
        withFile(leaf(*flash, "put",
                      "write FILE (at most 65536 bytes) into the flash, erasing the rest",
                      [this] { command_.putFlash(&file_); }));
        leaf(*flash, "erase", "erase the whole flash", [this] { command_.putFlash(nullptr); });
        withTarget(leaf(app_, "attach", "attach a SCSI device to the card",
                        [this] { command_.device(word_, true); }));
        withTarget(leaf(app_, "detach", "detach a SCSI device from the card",
                        [this] { command_.device(word_, false); }));
        leaf(app_, "auth", "the answer to requests for administrator rights",
             [this] { command_.auth(word_); })
            ->add_option("POLICY", word_, "allow, deny or cancel")
            ->required()
            ->check(CLI::IsMember({"allow", "deny", "cancel"}));
        CLI::App* fault = leaf(app_, "fault", "switch a fault of the emulated kernel",
                               [this] { command_.fault(word_, state_); });
        fault->add_option("NAME", word_, "the fault")
            ->required()
            ->check(CLI::IsMember(KnownFaults()));
        fault->add_option("STATE", state_, "on or off")
            ->required()
            ->check(CLI::IsMember({"on", "off"}));
    }

    // Parses `args` (without the program name); returns the exit status when it is not a
    // verb to run: 0 after --help or --version, 2 after a wrong form.
    std::optional<int> parse(const std::vector<std::string>& args, std::ostream& out,
                             std::ostream& err) {
        std::vector<std::string> reversed(args.rbegin(), args.rend());
        try {
            app_.parse(reversed);
        } catch (const CLI::CallForVersion&) {
            out << app_.version() << "\n";
            return 0;
        } catch (const CLI::Success&) {
            // --help on a verb: that verb's usage; on the program: every form, once.
            if (app_.get_subcommands().empty()) {
                out << app_.get_description() << "\n" << kUsage << kOptions;
            } else {
                out << app_.help();
            }
            return 0;
        } catch (const CLI::ParseError& wrong) {
            err << "sc820-host: " << wrong.what() << "\n" << kUsage;
            return 2;
        }
        return std::nullopt;
    }

    void run() { action_(); }

private:
    CLI::App* leaf(CLI::App& parent, const char* name, const char* help,
                   std::function<void()> action) {
        CLI::App* verb = parent.add_subcommand(name, help);
        verb->callback([this, action] { action_ = action; });
        return verb;
    }
    CLI::App* group(const char* name, const char* help) {
        CLI::App* verb = app_.add_subcommand(name, help);
        verb->require_subcommand(1);
        return verb;
    }
    void addRecord(const std::string& part, const char* help) {
        CLI::App* record = group(part.c_str(), help);
        if (part == "eeprom")
            leaf(*record, "show", "every field of the record", [this] { command_.eepromShow(); });
        withFile(leaf(*record, "get", "copy the record into FILE",
                      [this, part] { command_.get(part, file_); }));
        withFile(leaf(*record, "put", "store the 308 bytes of FILE as the record",
                      [this, part] { command_.putRecord(part, file_); }));
    }
    void withFile(CLI::App* verb) { verb->add_option("FILE", file_, "the file")->required(); }
    void withTarget(CLI::App* verb) {
        verb->add_option("ID", word_, "the target ID, 0 to 15")->required()->check(kTargetId);
    }

    HostCommand& command_;
    CLI::App app_;
    std::function<void()> action_;
    bool force_ = false;
    std::string file_;
    std::string word_;
    std::string state_;
};

}  // namespace

int RunHostCommand(const std::vector<std::string>& args, const std::string& hostBinary,
                   std::ostream& out, std::ostream& err) {
    HostCommand command(hostBinary, out);
    Grammar grammar(command);
    if (std::optional<int> status = grammar.parse(args, out, err)) return *status;
    if (command.root.empty()) command.root = DefaultHostRoot();
    try {
        grammar.run();
        return 0;
    } catch (const HostError& error) {
        err << "sc820-host: " << error.what() << "\n";
        return 1;
    }
}

}  // namespace emu
