#include "emulator/HostCommand.h"

#include <algorithm>
#include <functional>
#include <map>

#include "card/DriverNames.h"
#include "emulator/DefaultHost.h"
#include "emulator/DriverState.h"
#include "emulator/HostError.h"
#include "emulator/HostFiles.h"
#include "emulator/HostRoot.h"
#include "emulator/HostSession.h"
#include "emulator/KernelRegistry.h"
#include "emulator/RecordFormat.h"
#include "emulator/Sc820Card.h"

namespace emu {

namespace {

// A command line that does not follow the grammar.
struct UsageError {};

const char kUsage[] =
    "usage: sc820-host [--root DIR] COMMAND\n"
    "commands:\n"
    "  init [--force]              lay out the default host (--force resets an existing one)\n"
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

using Args = std::vector<std::string>;

void Expect(bool wellFormed) {
    if (!wellFormed) throw UsageError{};
}

std::string ReadInput(const std::string& path) {
    std::string bytes;
    if (!ReadWholeFile(path, &bytes)) throw HostError(path + ": no such file");
    return bytes;
}

int TargetId(const std::string& word) {
    Expect(!word.empty() && word.size() <= 2 &&
           std::all_of(word.begin(), word.end(), [](char c) { return c >= '0' && c <= '9'; }));
    int target = std::stoi(word);
    Expect(target < kSCSITargetIDs);
    return target;
}

std::string JoinTargets(const std::vector<int>& targets) {
    if (targets.empty()) return "none";
    std::string text;
    for (int t : targets) text += (text.empty() ? "" : " ") + std::to_string(t);
    return text;
}

class HostCommand {
public:
    HostCommand(std::string root, std::string hostBinary, std::ostream& out)
        : root_(std::move(root)), hostBinary_(std::move(hostBinary)), out_(out) {}

    void run(const std::string& verb, const Args& a) {
        const std::map<std::string, std::function<void(const Args&)>> verbs = {
            {"init", [this](const Args& x) { init(x); }},
            {"status", [this](const Args& x) { status(x); }},
            {"log", [this](const Args& x) { log(x); }},
            {"eeprom", [this](const Args& x) { eeprom(x); }},
            {"factory", [this](const Args& x) { factory(x); }},
            {"flash", [this](const Args& x) { flash(x); }},
            {"attach", [this](const Args& x) { device(x, true); }},
            {"detach", [this](const Args& x) { device(x, false); }},
            {"auth", [this](const Args& x) { auth(x); }},
            {"fault", [this](const Args& x) { fault(x); }},
        };
        auto found = verbs.find(verb);
        Expect(found != verbs.end());
        found->second(a);
    }

private:
    void init(const Args& a) {
        Expect(a.empty() || (a.size() == 1 && a[0] == "--force"));
        InitHost(root_, !a.empty(), hostBinary_);
        out_ << "initialised the default host at " << root_ << "\n";
    }

    void status(const Args& a) {
        Expect(a.empty());
        HostSession session(root_);
        const HostState& s = session.state();
        KernelRegistry registry(session.state());
        out_ << "host " << root_ << "\n";
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

    void log(const Args& a) {
        Expect(a.empty());
        HostSession session(root_);
        std::string text;
        if (!ReadWholeFile(session.paths().systemLog(), &text))
            throw HostError(session.paths().systemLog() + ": no such file");
        out_ << text;
    }

    void eeprom(const Args& a) {
        Expect((a.size() == 1 && a[0] == "show") ||
               (a.size() == 2 && (a[0] == "get" || a[0] == "put")));
        HostSession session(root_);
        Sc820Card card(session.paths());
        if (a[0] == "show") {
            out_ << DescribeRecord(card.readEeprom());
        } else if (a[0] == "get") {
            ReplaceFile(a[1], card.readEeprom(), Durability::durable);
        } else {
            card.storeEeprom(ReadRecordInput(a[1]));
        }
    }

    void factory(const Args& a) {
        Expect(a.size() == 2 && (a[0] == "get" || a[0] == "put"));
        HostSession session(root_);
        Sc820Card card(session.paths());
        if (a[0] == "get") {
            ReplaceFile(a[1], card.readFactory(), Durability::durable);
        } else {
            card.storeFactory(ReadRecordInput(a[1]));
        }
    }

    void flash(const Args& a) {
        Expect((a.size() == 1 && a[0] == "erase") ||
               (a.size() == 2 && (a[0] == "get" || a[0] == "put")));
        HostSession session(root_);
        Sc820Card card(session.paths());
        if (a[0] == "get") {
            ReplaceFile(a[1], card.readFlash(), Durability::durable);
            return;
        }
        std::string image = a[0] == "put" ? ReadInput(a[1]) : std::string();
        if (image.size() > kFlashSize) {
            throw HostError(a[1] + ": " + std::to_string(image.size()) +
                            " bytes; the flash holds " + std::to_string(kFlashSize));
        }
        card.storeFlash(image);
        DriverStateFile file(session.paths());
        DriverState driver = file.load();
        driver.readCursor = 0;
        driver.writeCursor = 0;
        file.store(driver);
    }

    void device(const Args& a, bool attach) {
        Expect(a.size() == 1);
        int target = TargetId(a[0]);
        HostSession session(root_);
        KernelRegistry registry(session.state());
        if (attach) {
            registry.attachDevice(target);
        } else {
            registry.detachDevice(target);
        }
        session.save();
    }

    void auth(const Args& a) {
        Expect(a.size() == 1);
        std::optional<AuthPolicy> policy = ParseAuthPolicy(a[0]);
        Expect(policy.has_value());
        HostSession session(root_);
        session.state().auth = *policy;
        session.save();
    }

    void fault(const Args& a) {
        const auto& known = KnownFaults();
        Expect(a.size() == 2 && std::find(known.begin(), known.end(), a[0]) != known.end() &&
               (a[1] == "on" || a[1] == "off"));
        bool on = a[1] == "on";
        HostSession session(root_);
        HostState& s = session.state();
        if (on) {
            s.faults.insert(a[0]);
        } else {
            s.faults.erase(a[0]);
        }
        if (a[0] == kFaultDuplicateService) KernelRegistry(s).setDuplicateServices(on);
        session.save();
    }

    static std::string ReadRecordInput(const std::string& path) {
        std::string record = ReadInput(path);
        if (record.size() != kRecordSize) {
            throw HostError(path + ": " + std::to_string(record.size()) +
                            " bytes; a record holds " + std::to_string(kRecordSize));
        }
        return record;
    }

    std::string root_;
    std::string hostBinary_;
    std::ostream& out_;
};

}  // namespace

int RunHostCommand(const std::vector<std::string>& args, const std::string& hostBinary,
                   std::ostream& out, std::ostream& err) {
    Args words = args;
    std::string root = DefaultHostRoot();
    if (!words.empty() && (words[0] == "-h" || words[0] == "--help")) {
        out << kUsage;
        return 0;
    }
    if (words.size() >= 2 && words[0] == "--root") {
        root = words[1];
        words.erase(words.begin(), words.begin() + 2);
    }
    try {
        Expect(!words.empty() && !root.empty());
        std::string verb = words[0];
        words.erase(words.begin());
        HostCommand(root, hostBinary, out).run(verb, words);
        return 0;
    } catch (const UsageError&) {
        err << kUsage;
        return 2;
    } catch (const HostError& error) {
        err << "sc820-host: " << error.what() << "\n";
        return 1;
    }
}

}  // namespace emu
