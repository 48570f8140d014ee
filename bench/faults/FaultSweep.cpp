// Fails each file operation of a writer in turn (the Nth open, write, flush or rename, for
// every N) and checks after each run that every record, the flash and the state are the old or
// the new, never torn, and that what the writer reported is what is on the disk. The writers:
// each verb of sc820-host that writes (with the failing library preloaded), and the utility
// driver's commands as a Write and an Erase send them (in this process). Prints the points
// injected and the false reports; exits 1 when there is a false report or a torn file.
//
//   fault_sweep [--sample N]   at most N points per kind of operation and writer (all when 0)
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "driverif/CommandCodes.h"
#include "emulator/card/DriverState.h"
#include "emulator/card/Sc820Card.h"
#include "emulator/card/UtilityDriver.h"
#include "emulator/host/HostFiles.h"
#include "tests/emulator/EmulatedHost.h"
#include "tests/support/FaultInjection.h"
#include "tests/support/TempHost.h"

namespace {

using faults::Kind;
using Words = std::vector<std::string>;

struct Tally {
    unsigned points = 0;
    unsigned falseReports = 0;
    unsigned torn = 0;
};

std::string Db(const TempHost& host, const char* name) {
    return host.root() + "/var/db/sc820/" + name;
}

std::string Record(int seed) {
    return testhost::PatternRecord(seed);
}

std::string Flash(char fill) {
    return std::string(kFlashSize, fill);
}

// Whether the host's files are whole: records and flash of their sizes, the state readable.
std::string Torn(const TempHost& host) {
    if (ReadFileBytes(Db(host, "eeprom.bin")).size() != emu::kRecordSize) return "eeprom.bin";
    if (ReadFileBytes(Db(host, "factory.bin")).size() != emu::kRecordSize) return "factory.bin";
    if (ReadFileBytes(Db(host, "flash.bin")).size() != kFlashSize) return "flash.bin";
    std::string out;
    if (host.host({"status"}, &out) != 0) return "state: " + out;
    return "";
}

// One sc820-host verb and the file it changes: done, the file holds `after` (or, without one,
// differs from what it held); not done, it holds what it held.
struct Verb {
    std::string name;
    Words words;
    std::string file;  // in var/db/sc820, or @OUT; "" when none is to be compared
    std::function<std::string()> after;
};

// Runs `words` with the failing library preloaded; returns the exit status and the counts.
int RunFailing(const TempHost& host, const Words& words, const std::string& spec,
               const std::string& prefix, std::map<std::string, unsigned>* counts,
               std::string* out) {
    const std::string countsFile = prefix + "/counts";
    Words argv = {SC820_HOST_BINARY, "--root", host.root()};
    argv.insert(argv.end(), words.begin(), words.end());
    int status =
        RunProgram(argv, out,
                   {std::string("LD_PRELOAD=") + SC820_FAULT_LIBRARY, "SC820_FAULT=" + spec,
                    "SC820_FAULT_PATH=" + host.root(), "SC820_FAULT_COUNTS=" + countsFile});
    std::istringstream in(ReadFileBytes(countsFile));
    for (std::string kind; in >> kind;) in >> (*counts)[kind];
    std::remove(countsFile.c_str());
    return status;
}

// The points to fail out of `count`: all of them, or `sample` spread over them.
std::vector<unsigned> Points(unsigned count, unsigned sample) {
    std::vector<unsigned> points;
    if (sample == 0 || count <= sample) {
        for (unsigned n = 1; n <= count; ++n) points.push_back(n);
        return points;
    }
    for (unsigned i = 0; i < sample; ++i) points.push_back(1 + i * (count - 1) / (sample - 1));
    return points;
}

void SweepVerb(Verb verb, const TempDir& work, unsigned sample, Tally& tally) {
    TempHost host;
    // A file the verb writes outside the host's folders, still under the failing prefix.
    const std::string output = host.root() + "/out";
    for (std::string& word : verb.words)
        if (word == "@OUT") word = output;
    auto prepare = [&] {
        host.hostOk({"init", "--force"});
        WriteFileBytes(Db(host, "eeprom.bin"), Record(1));
        WriteFileBytes(Db(host, "flash.bin"), Flash('\x22'));
        WriteFileBytes(output, "old");
    };
    prepare();
    std::map<std::string, unsigned> counts;
    std::string out;
    RunFailing(host, verb.words, "open:0", work.path(), &counts, &out);
    for (int k = 0; k < static_cast<int>(Kind::count); ++k) {
        const char* kind = faults::kKindNames[k];
        for (unsigned n : Points(counts[kind], sample)) {
            prepare();
            const std::string path = verb.file.empty()     ? ""
                                     : verb.file == "@OUT" ? output
                                                           : Db(host, verb.file.c_str());
            const std::string before = path.empty() ? "" : ReadFileBytes(path);
            std::map<std::string, unsigned> seen;
            int status =
                RunFailing(host, verb.words, std::string(kind) + ":" + std::to_string(n) + ":5",
                           work.path(), &seen, &out);
            ++tally.points;
            if (std::string why = Torn(host); !why.empty()) {
                ++tally.torn;
                std::cout << "torn: " << verb.name << " " << kind << " " << n << ": " << why
                          << "\n";
            }
            if (path.empty()) continue;
            const std::string now = ReadFileBytes(path);
            const bool done = verb.after ? now == verb.after() : now != before;
            const bool honest = status == 0 ? done : now == before;
            if (!honest) {
                ++tally.falseReports;
                std::cout << "false report: " << verb.name << " " << kind << " " << n << " exit "
                          << status << ": " << out;
            }
        }
    }
}

// The driver's commands as the utility sends them, each checked against the disk: a success
// must show on the card, a failure must leave it as it was. The sequence stops at a failure,
// as the utility does.
struct Step {
    int selector;
    std::vector<uint8_t> input;
};

bool RunDriverSteps(const TempHost& host, uint32_t service, const std::vector<Step>& steps,
                    Tally& tally, const std::string& label) {
    for (size_t i = 0; i < steps.size(); ++i) {
        Step step = steps[i];
        const bool record = step.selector == kSetEEPConfig;
        const std::string file = Db(host, record ? "eeprom.bin" : "flash.bin");
        faults::Disarm();
        const std::string before = ReadFileBytes(file);
        std::string expected = before;
        if (record) expected.assign(step.input.begin(), step.input.end());
        if (step.selector == kEraseFlash) expected = Flash('\xFF');
        if (step.selector == kWriteFlash) {
            const size_t at = (i - 1) * kFlashChunkSize;  // steps 1..17 are the chunks in turn
            for (size_t b = 0; b < kFlashChunkSize && at + b < kFlashSize; ++b)
                expected[at + b] = static_cast<char>(step.input[b]);
        }
        faults::Resume();
        const bool output = step.selector == kReadFlash || step.selector == kGetEEPConfig;
        emu::UserClientCall call{
            output ? emu::CallForm::structureOutput : emu::CallForm::structureInput,
            step.selector,
            0,
            step.input.data(),
            static_cast<uint32_t>(step.input.size()),
            0};
        IOReturn status = emu::CallUtilityDriver(host.root(), service, call);
        faults::Disarm();
        const std::string now = ReadFileBytes(file);
        const bool honest = status == kIOReturnSuccess ? now == expected : now == before;
        if (!honest && !output) {
            ++tally.falseReports;
            std::cout << "false report: " << label << " step " << i << " status " << status << "\n";
        }
        if (status != kIOReturnSuccess) return false;
        faults::Resume();
    }
    return true;
}

std::vector<Step> WriteThenClose() {
    std::vector<Step> steps = {{kEraseFlash, std::vector<uint8_t>(2, 0)}};
    for (uint32_t k = 0; k < kFlashSweepChunks; ++k)
        steps.push_back(
            {kWriteFlash, std::vector<uint8_t>(kFlashChunkSize, static_cast<uint8_t>(k + 1))});
    for (uint32_t k = 0; k < kFlashSweepChunks; ++k)
        steps.push_back({kReadFlash, std::vector<uint8_t>(kFlashChunkSize, 0)});
    const std::string record = Record(2);
    steps.push_back({kSetEEPConfig, std::vector<uint8_t>(record.begin(), record.end())});
    return steps;
}

void SweepDriver(const std::string& name, const std::vector<Step>& steps, unsigned sample,
                 Tally& tally) {
    TempHost host;
    host.swapDrivers();
    const uint32_t service =
        static_cast<uint32_t>(std::stoul(testhost::StatusFact(host, "utility-service")));
    faults::Arm(Kind::open, 0, EIO, host.root());
    RunDriverSteps(host, service, steps, tally, name);
    faults::Disarm();
    unsigned counts[static_cast<int>(Kind::count)];
    for (int k = 0; k < static_cast<int>(Kind::count); ++k)
        counts[k] = faults::Counted(static_cast<Kind>(k));
    for (int k = 0; k < static_cast<int>(Kind::count); ++k) {
        for (unsigned n : Points(counts[k], sample)) {
            // A record and a flash unlike the new ones.
            host.hostOk({"eeprom", "put", Db(host, "factory.bin")});
            WriteFileBytes(Db(host, "flash.bin"), Flash('\x22'));
            faults::Arm(static_cast<Kind>(k), n, EIO, host.root());
            RunDriverSteps(host, service, steps, tally,
                           name + " " + faults::kKindNames[k] + " " + std::to_string(n));
            faults::Disarm();
            ++tally.points;
            if (std::string why = Torn(host); !why.empty()) {
                ++tally.torn;
                std::cout << "torn: " << name << ": " << why << "\n";
            }
        }
    }
}

// The utility itself: a setting changed and the window closed, which stores the record. The
// record is changed exactly when the utility says it is stored.
void SweepUtilityClose(const TempDir& work, unsigned sample, Tally& tally) {
    TempHost host;
    const std::string script = work.path() + "/script";
    const std::string transcript = work.path() + "/transcript";
    WriteFileBytes(script, "answer 1\nselect out_hostSCSIID 5\nclose\nanswer 1\npress cancel\n");
    auto run = [&](const std::string& spec, std::map<std::string, unsigned>* counts) {
        std::remove(transcript.c_str());
        const std::string countsFile = work.path() + "/counts";
        std::string out;
        RunProgram({SC820_UTILITY_BINARY}, &out,
                   {"SC820_HOST_ROOT=" + host.root(), "SC820_AUTOMATION=" + script,
                    "SC820_TRANSCRIPT=" + transcript, "QT_QPA_PLATFORM=offscreen", "LC_ALL=C.UTF-8",
                    "HOME=" + work.path(), std::string("LD_PRELOAD=") + SC820_FAULT_LIBRARY,
                    "SC820_FAULT=" + spec, "SC820_FAULT_PATH=" + host.root(),
                    "SC820_FAULT_COUNTS=" + countsFile});
        std::istringstream in(ReadFileBytes(countsFile));
        for (std::string kind; in >> kind;) in >> (*counts)[kind];
        std::remove(countsFile.c_str());
        return ReadFileBytes(transcript).find("The configuration has been stored on the card.") !=
               std::string::npos;
    };
    std::map<std::string, unsigned> counts;
    host.hostOk({"init", "--force"});
    if (!run("open:0", &counts)) std::cout << "the close scenario itself did not store\n";
    for (int k = 0; k < static_cast<int>(Kind::count); ++k) {
        const char* kind = faults::kKindNames[k];
        for (unsigned n : Points(counts[kind], sample)) {
            host.hostOk({"init", "--force"});
            const std::string before = ReadFileBytes(Db(host, "eeprom.bin"));
            std::map<std::string, unsigned> seen;
            const bool reported = run(std::string(kind) + ":" + std::to_string(n) + ":5", &seen);
            ++tally.points;
            const bool stored = ReadFileBytes(Db(host, "eeprom.bin")) != before;
            if (stored != reported) {
                ++tally.falseReports;
                std::cout << "false report: utility close " << kind << " " << n << ": "
                          << (reported ? "reported stored" : "reported not stored") << ", record "
                          << (stored ? "stored" : "kept") << "\n";
            }
            if (std::string why = Torn(host); !why.empty()) {
                ++tally.torn;
                std::cout << "torn: utility close " << kind << " " << n << ": " << why << "\n";
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    unsigned sample = 0;
    if (argc == 3 && std::strcmp(argv[1], "--sample") == 0)
        sample = static_cast<unsigned>(std::stoul(argv[2]));
    TempDir work;
    const std::string input = work.path() + "/input";
    const std::string image = work.path() + "/image";
    WriteFileBytes(input, Record(3));
    WriteFileBytes(image, std::string(5000, '\x33'));
    std::string flashed = std::string(5000, '\x33') + std::string(kFlashSize - 5000, '\xFF');
    const std::vector<Verb> verbs = {
        {"eeprom put", {"eeprom", "put", input}, "eeprom.bin", [] { return Record(3); }},
        {"factory put", {"factory", "put", input}, "factory.bin", [] { return Record(3); }},
        {"flash put", {"flash", "put", image}, "flash.bin", [flashed] { return flashed; }},
        {"flash erase", {"flash", "erase"}, "flash.bin", [] { return Flash('\xFF'); }},
        {"eeprom get", {"eeprom", "get", "@OUT"}, "@OUT", [] { return Record(1); }},
        {"attach", {"attach", "5"}, "state.json", nullptr},
        {"auth", {"auth", "deny"}, "state.json", nullptr},
        {"fault", {"fault", "open", "on"}, "state.json", nullptr},
        {"repair", {"repair"}, "", nullptr},
        {"init --force", {"init", "--force"}, "", nullptr},
    };
    Tally tally;
    for (const Verb& verb : verbs) SweepVerb(verb, work, sample, tally);
    SweepDriver("Write then close", WriteThenClose(), sample, tally);
    SweepDriver("Erase", {{kEraseFlash, std::vector<uint8_t>(2, 0)}}, sample, tally);
    SweepUtilityClose(work, sample, tally);
    std::cout << "points injected: " << tally.points << "\nfalse reports: " << tally.falseReports
              << "\ntorn files: " << tally.torn << "\n";
    return tally.falseReports == 0 && tally.torn == 0 ? 0 : 1;
}
