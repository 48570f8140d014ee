// Fails each file operation of a writer in turn (the Nth open, write, flush or rename, for
// every N) and checks after each run that every record, the flash and the state are the old or
// the new, never torn, and that what the writer reported is what is on the disk. The writers:
// each verb of sc820-host that writes (with the failing library preloaded), the utility
// driver's commands as a Write and an Erase send them (in this process), and the real utility
// doing a Write then closing its window, and an Erase (failed with EIO and with ENOSPC).
// Prints the points injected and the false reports; exits 1 when there is a false report, a
// torn file or a utility run whose script could not be fitted to its alerts.
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
#include "tests/support/FaultInjection.h"
#include "tests/support/TempHost.h"

namespace {

using faults::Kind;
using Words = std::vector<std::string>;

struct Tally {
    unsigned points = 0;
    unsigned falseReports = 0;
    unsigned torn = 0;
    unsigned refitted = 0;  // utility runs whose alerts differed from the script's
    unsigned unfitted = 0;  // utility runs whose script could not be fitted
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
int RunFailing(const TempHost& host, const Words& words, const std::string& injection,
               const std::string& prefix, std::map<std::string, unsigned>* counts,
               std::string* out) {
    const std::string countsFile = prefix + "/counts";
    Words argv = {SC820_HOST_BINARY, "--root", host.root()};
    argv.insert(argv.end(), words.begin(), words.end());
    int status =
        RunProgram(argv, out,
                   {std::string("LD_PRELOAD=") + SC820_FAULT_LIBRARY, "SC820_FAULT=" + injection,
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

// The real utility, end to end, driven by an automation script. A failed file operation may
// add or remove alerts, so the script cannot be fixed in advance: each run is repeated, with
// the same failure, with an answer added where an alert was left unanswered (its default, 1)
// or taken away where none came, until the script fits. What the transcript then reports is
// checked against the disk.
struct Transcript {
    std::vector<std::string> alerts;  // messages, in order
    std::string version = "<none>";   // out_verSCSIBIOS at the last dump
    std::string error;                // the script error, if any
};

Transcript ParseTranscript(const std::string& text) {
    Transcript t;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> fields;
        std::istringstream parts(line);
        for (std::string field; std::getline(parts, field, '\t');) fields.push_back(field);
        if (fields.size() >= 3 && fields[0] == "alert") t.alerts.push_back(fields[2]);
        if (fields.size() >= 3 && fields[0] == "control" && fields[1] == "out_verSCSIBIOS")
            t.version = fields[2];
        if (fields.size() >= 1 && fields[0] == "error")
            t.error = fields.size() > 1 ? fields[1] : "?";
    }
    return t;
}

// Fits `lines` to the run that ended in `error`; false when the error is not about answers.
bool FitScript(const std::string& error, std::vector<std::string>* lines) {
    if (error.rfind("script ended while an alert is open", 0) == 0) {
        lines->push_back("answer 1");
        return true;
    }
    if (error.rfind("line ", 0) != 0) return false;
    const size_t at = std::stoul(error.substr(5)) - 1;
    if (at >= lines->size()) return false;
    if (error.find("an alert is open and needs an answer") != std::string::npos) {
        lines->insert(lines->begin() + static_cast<std::ptrdiff_t>(at), "answer 1");
        return true;
    }
    if (error.find("no alert or open panel is open") != std::string::npos) {
        lines->erase(lines->begin() + static_cast<std::ptrdiff_t>(at));
        return true;
    }
    return false;
}

struct Texts {
    std::string stored = "The configuration has been stored on the card.";
    std::string written = "The SCSI BIOS image has been written and verified.";
    std::string writeFailed = "The flash memory read back differs from the image file.";
    std::string eraseRefused = "The card refused to erase the flash memory.";
};

bool Says(const Transcript& t, const std::string& text) {
    for (const std::string& message : t.alerts)
        if (message.rfind(text, 0) == 0) return true;
    return false;
}

struct UtilityRun {
    const TempHost& host;
    const TempDir& work;

    Transcript operator()(const std::vector<std::string>& lines, const std::string& injection,
                          std::map<std::string, unsigned>* counts) const {
        const std::string script = work.path() + "/script";
        const std::string transcript = work.path() + "/transcript";
        const std::string countsFile = work.path() + "/counts";
        std::string text;
        for (const std::string& line : lines) text += line + "\n";
        WriteFileBytes(script, text);
        std::remove(transcript.c_str());
        std::string out;
        RunProgram({SC820_UTILITY_BINARY}, &out,
                   {"SC820_HOST_ROOT=" + host.root(), "SC820_AUTOMATION=" + script,
                    "SC820_TRANSCRIPT=" + transcript, "QT_QPA_PLATFORM=offscreen", "LC_ALL=C.UTF-8",
                    "HOME=" + work.path(), std::string("LD_PRELOAD=") + SC820_FAULT_LIBRARY,
                    "SC820_FAULT=" + injection, "SC820_FAULT_PATH=" + host.root(),
                    "SC820_FAULT_COUNTS=" + countsFile});
        std::istringstream in(ReadFileBytes(countsFile));
        for (std::string kind; in >> kind;) in >> (*counts)[kind];
        std::remove(countsFile.c_str());
        return ParseTranscript(ReadFileBytes(transcript));
    }
};

struct Disk {
    std::string flash;
    std::string record;
};

// Every outcome the transcript reports must be what is on the disk; "" when all are.
std::string Judge(const Transcript& t, const Disk& old, const Disk& fresh, const Disk& now) {
    const Texts texts;
    const std::string erased = Flash('\xFF');
    const bool failedWrite = Says(t, texts.writeFailed);
    if (Says(t, texts.stored) && now.record != fresh.record) return "stored, record kept";
    if (!Says(t, texts.stored) && now.record != old.record) return "not stored, record changed";
    if (Says(t, texts.written) && now.flash != fresh.flash) return "written, flash not the image";
    if (Says(t, texts.eraseRefused) && !failedWrite && now.flash != old.flash)
        return "erase refused, flash changed";
    if (t.version == "updated." && now.flash != fresh.flash) return "version updated, flash not";
    if (t.version == "0" && now.flash != erased) return "version 0, flash not erased";
    if (t.version == "3.1.4" && now.flash != old.flash) return "old version, flash changed";
    // A failed write is followed by an erase; only a refused one may leave something else.
    if (failedWrite && t.version != "" && now.flash != erased) return "failed write not erased";
    if (!failedWrite && now.flash != old.flash && now.flash != fresh.flash && now.flash != erased)
        return "flash neither old, new nor erased";
    return "";
}

void SweepUtility(const std::string& name, const std::vector<std::string>& script,
                  const TempDir& work, unsigned sample, Tally& tally) {
    TempHost host;
    const UtilityRun run{host, work};
    auto disk = [&] {
        return Disk{ReadFileBytes(Db(host, "flash.bin")), ReadFileBytes(Db(host, "eeprom.bin"))};
    };
    host.hostOk({"init", "--force"});
    const Disk old = disk();
    std::map<std::string, unsigned> counts;
    const Transcript reference = run(script, "open:0", &counts);
    if (!reference.error.empty()) {
        ++tally.unfitted;
        std::cout << name << " itself failed: " << reference.error << "\n";
    }
    const Disk fresh = disk();
    for (int k = 0; k < static_cast<int>(Kind::count); ++k) {
        const char* kind = faults::kKindNames[k];
        for (unsigned n : Points(counts[kind], sample)) {
            for (int error : {EIO, ENOSPC}) {
                const std::string injection =
                    std::string(kind) + ":" + std::to_string(n) + ":" + std::to_string(error);
                std::vector<std::string> lines = script;
                Transcript t;
                for (int attempt = 0; attempt < 8; ++attempt) {
                    host.hostOk({"init", "--force"});
                    std::map<std::string, unsigned> seen;
                    t = run(lines, injection, &seen);
                    if (t.error.empty() || !FitScript(t.error, &lines)) break;
                    if (attempt == 0) ++tally.refitted;
                }
                ++tally.points;
                const std::string label = "utility " + name + " " + injection;
                if (!t.error.empty()) {
                    ++tally.unfitted;
                    std::cout << "script not fitted: " << label << ": " << t.error << "\n";
                }
                if (std::string why = Judge(t, old, fresh, disk()); !why.empty()) {
                    ++tally.falseReports;
                    std::cout << "false report: " << label << ": " << why << "\n";
                }
                if (std::string why = Torn(host); !why.empty()) {
                    ++tally.torn;
                    std::cout << "torn: " << label << ": " << why << "\n";
                }
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
    const std::string chosen = work.path() + "/chosen";
    WriteFileBytes(chosen, std::string(5000, '\x44'));
    SweepUtility("Write then close",
                 {"answer 1", "press write", "answer 1", "choose " + chosen, "answer 1", "answer 1",
                  "dump", "select out_hostSCSIID 5", "close", "answer 1", "press cancel"},
                 work, sample, tally);
    SweepUtility("Erase", {"answer 1", "press erase", "answer 1", "dump", "press cancel"}, work,
                 sample, tally);
    std::cout << "points injected: " << tally.points << "\nfalse reports: " << tally.falseReports
              << "\ntorn files: " << tally.torn << "\nutility runs refitted: " << tally.refitted
              << "\nutility scripts not fitted: " << tally.unfitted << "\n";
    return tally.falseReports == 0 && tally.torn == 0 && tally.unfitted == 0 ? 0 : 1;
}
