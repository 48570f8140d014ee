// The kill soak: kills the utility and sc820-host at random moments, hundreds of times, and
// checks after each kill that every record of the card is whole (the old one or the new one),
// that the flash holds no torn piece, and that the next start of the utility works.
//
//   kill-soak [--rounds N] [--seed S]      (default: 300 rounds, a seed from the clock)
//
// Each round picks one of four operations, lets it run for a random time between nothing and
// its usual duration, kills it with SIGKILL, checks the host, and starts the utility once more.
// Prints one line of counts per operation and exits 1 when any check failed.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "driverif/CommandCodes.h"
#include "driverif/def.h"
#include "tests/support/TempHost.h"

namespace {

using Clock = std::chrono::steady_clock;
using Micros = std::chrono::microseconds;

constexpr size_t kChunk = 4000;
constexpr size_t kPage = 4096;

enum class Operation { storeAtClose, write, eepromPut, flashPut };
constexpr Operation kOperations[] = {Operation::storeAtClose, Operation::write,
                                     Operation::eepromPut, Operation::flashPut};

const char* Name(Operation operation) {
    switch (operation) {
        case Operation::storeAtClose:
            return "store-at-close";
        case Operation::write:
            return "write";
        case Operation::eepromPut:
            return "eeprom-put";
        case Operation::flashPut:
            return "flash-put";
    }
    return "?";
}

struct Counts {
    int rounds = 0;
    int killed = 0;     // the kill came before the operation ended
    int oldState = 0;   // the records (or the flash) as before
    int newState = 0;   // as after an uninterrupted run
    int mixed = 0;      // write only: a flash partly written, piece by piece
    int torn = 0;       // a record that is neither, or a torn flash piece
    int badStarts = 0;  // the next start of the utility failed
};

struct Options {
    int rounds = 300;
    unsigned seed = static_cast<unsigned>(Clock::now().time_since_epoch().count());
};

bool ParseOptions(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (i + 1 >= argc) return false;
        if (arg == "--rounds") {
            options->rounds = std::atoi(argv[++i]);
        } else if (arg == "--seed") {
            options->seed = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
        } else {
            return false;
        }
    }
    return options->rounds > 0;
}

std::string Pattern(size_t length, int seed) {
    std::string bytes(length, '\0');
    for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>((i * 13 + seed * 7 + 1) % 251);
    return bytes;
}

class Soak {
public:
    Soak() : program_(std::string(SC820_BUNDLE_DIR) + "/Contents/bin/sc820-utility") {
        dir_ = work_.path();
        eepromA_ = eeprom();  // the default host's configuration
        WriteFileBytes(dir_ + "/image-a.bin", imageA_);
        WriteFileBytes(dir_ + "/image-b.bin", imageB_);
        WriteFileBytes(dir_ + "/eeprom-b.bin", eepromB_);
        WriteFileBytes(dir_ + "/close.txt",
                       "answer 1\nselect out_hostSCSIID 5\ndump\nclose\nanswer 1\n");
        WriteFileBytes(dir_ + "/write.txt",
                       "answer 1\npress write\nanswer 1\nchoose " + dir_ +
                           "/image-b.bin\nanswer 1\nanswer 1\ndump\npress cancel\n");
        WriteFileBytes(dir_ + "/start.txt", "answer 1\ndump\npress cancel\n");
    }

    // Runs each operation once to the end: how long it takes, and the records it leaves.
    // Three runs of each; the longest times count, since a busy machine only slows them.
    bool calibrate() {
        for (int run = 0; run < 3; ++run) {
            if (!calibrateOnce()) return false;
        }
        return true;
    }

    bool calibrateOnce() {
        for (Operation operation : kOperations) {
            prepare(operation);
            auto start = Clock::now();
            pid_t pid = startOperation(operation);
            Micros markerAt{-1};  // stays negative when the run ends before the marker is seen
            int status = 0;
            if (IsUtility(operation)) {
                // Never killed: the delay outlasts the run. Notes when the marker showed.
                killAfter(pid, Marker(operation), std::chrono::seconds(600), &markerAt);
            } else {
                status = finish(pid);
            }
            const auto run = std::chrono::duration_cast<Micros>(Clock::now() - start);
            usual_[operation] = std::max(usual_[operation], run);
            if (!IsUtility(operation)) {
                tail_[operation] = usual_[operation];
            } else if (markerAt.count() >= 0) {
                tail_[operation] = std::max(tail_[operation], run - markerAt);
            }
            if (operation == Operation::write &&
                ReadFileBytes(dir_ + "/transcript.txt").find("updated.") == std::string::npos) {
                status = -1;
            }
            if (status != 0) {
                std::cerr << Name(operation) << " does not run to its end (status " << status
                          << ")\n";
                return false;
            }
            if (operation == Operation::storeAtClose) eepromAfterClose_ = eeprom();
        }
        prepare(Operation::storeAtClose);
        if (eepromAfterClose_ == eepromA_) {
            std::cerr << "closing the window stored nothing\n";
            return false;
        }
        return true;
    }

    // A quarter of the kills fall anywhere in the run (start-up and the driver swap included);
    // the rest fall in the critical part: for the utility from the transcript line that comes
    // just before it (the dump before the close, the Write's last confirmation) to the end, for
    // sc820-host in the last third of its usual run.
    void round(Operation operation, std::mt19937& random) {
        Counts& c = counts_[operation];
        ++c.rounds;
        prepare(operation);
        const bool anywhere = std::uniform_int_distribution<int>(0, 3)(random) == 0;
        const Micros span = anywhere ? usual_[operation] : tail_[operation];
        // sc820-host spends most of its run starting up: its kills go to the last third.
        const long from = anywhere || IsUtility(operation) ? 0 : span.count() * 2 / 3;
        const Micros delay(std::uniform_int_distribution<long>(from, span.count())(random));
        pid_t pid = startOperation(operation);
        if (killAfter(pid, anywhere ? nullptr : Marker(operation), delay)) ++c.killed;
        judge(operation, c);
        if (!nextStartWorks()) ++c.badStarts;
    }

    bool report() const {
        bool clean = true;
        for (Operation operation : kOperations) {
            auto found = counts_.find(operation);
            if (found == counts_.end()) continue;
            const Counts& c = found->second;
            std::printf(
                "%-15s rounds %4d  killed %4d  old %4d  new %4d  mixed %4d  torn %d  "
                "failed-starts %d  (run %.1f ms, critical part %.1f ms)\n",
                Name(operation), c.rounds, c.killed, c.oldState, c.newState, c.mixed, c.torn,
                c.badStarts, static_cast<double>(usual_.at(operation).count()) / 1000.0,
                static_cast<double>(tail_.at(operation).count()) / 1000.0);
            clean = clean && c.torn == 0 && c.badStarts == 0;
        }
        return clean;
    }

private:
    // Puts the card in the state the operation starts from: EEPROM A and flash A.
    void prepare(Operation /*operation*/) {
        WriteFileBytes(dir_ + "/eeprom-a.bin", eepromA_);
        host_.hostOk({"eeprom", "put", dir_ + "/eeprom-a.bin"});
        host_.hostOk({"flash", "put", dir_ + "/image-a.bin"});
    }

    pid_t startOperation(Operation operation) {
        switch (operation) {
            case Operation::storeAtClose:
                return spawnUtility("close.txt");
            case Operation::write:
                return spawnUtility("write.txt");
            case Operation::eepromPut:
                return spawn({SC820_HOST_BINARY, "--root", host_.root(), "eeprom", "put",
                              dir_ + "/eeprom-b.bin"},
                             {});
            case Operation::flashPut:
                return spawn({SC820_HOST_BINARY, "--root", host_.root(), "flash", "put",
                              dir_ + "/image-b.bin"},
                             {});
        }
        return -1;
    }

    pid_t spawnUtility(const std::string& script) {
        std::remove((dir_ + "/transcript.txt").c_str());  // no marker left from the last run
        return spawn({program_},
                     {"SC820_HOST_ROOT=" + host_.root(), "SC820_AUTOMATION=" + dir_ + "/" + script,
                      "SC820_TRANSCRIPT=" + dir_ + "/transcript.txt", "QT_QPA_PLATFORM=offscreen",
                      "LC_ALL=C.UTF-8", "HOME=" + dir_});
    }

    static pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
        std::vector<std::string> environment = MergedEnvironment(env);
        std::vector<char*> envp;
        for (auto& e : environment) envp.push_back(e.data());
        envp.push_back(nullptr);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        pid_t pid = -1;
        if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data()) != 0) pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        return pid;
    }

    static int finish(pid_t pid) {
        int status = 0;
        if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    static bool IsUtility(Operation operation) {
        return operation == Operation::storeAtClose || operation == Operation::write;
    }

    // The transcript text that shows the utility has reached its critical part.
    static const char* Marker(Operation operation) {
        return operation == Operation::storeAtClose ? "control\t" : "\t1\nalert\t";
    }
    bool markerSeen(const char* marker) const {
        const std::string text = ReadFileBytes(dir_ + "/transcript.txt");
        // The Write's last confirmation is the third alert.
        if (std::strcmp(marker, "control\t") != 0) return CountOf(text, "alert\t") >= 3;
        return text.find(marker) != std::string::npos;
    }
    static size_t CountOf(const std::string& text, const std::string& part) {
        size_t count = 0;
        for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
            ++count;
        return count;
    }

    // Kills the process when it is still running `delay` after the marker appeared in its
    // transcript (after its start when there is no marker); true when it was killed.
    bool killAfter(pid_t pid, const char* marker, Micros delay, Micros* markerAt = nullptr) const {
        const auto start = Clock::now();
        auto deadline = marker == nullptr ? start + delay : Clock::time_point::max();
        int status = 0;
        while (Clock::now() < deadline) {
            if (waitpid(pid, &status, WNOHANG) == pid) return false;
            if (marker != nullptr && deadline == Clock::time_point::max() && markerSeen(marker)) {
                if (markerAt != nullptr)
                    *markerAt = std::chrono::duration_cast<Micros>(Clock::now() - start);
                deadline = Clock::now() + delay;
            }
            std::this_thread::sleep_for(Micros(100));
        }
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    }

    std::string eeprom() {
        host_.hostOk({"eeprom", "get", dir_ + "/eeprom-out.bin"});
        return ReadFileBytes(dir_ + "/eeprom-out.bin");
    }
    std::string flash() {
        host_.hostOk({"flash", "get", dir_ + "/flash-out.bin"});
        return ReadFileBytes(dir_ + "/flash-out.bin");
    }

    // Every piece of the flash between chunk and page boundaries is all old, all new or all
    // erased; a kill may stop a sweep between pieces, never inside one.
    bool flashPiecesWhole(const std::string& now) const {
        std::vector<size_t> cuts;
        for (size_t at = 0; at < now.size(); at += kChunk) cuts.push_back(at);
        for (size_t at = 0; at < now.size(); at += kPage) cuts.push_back(at);
        cuts.push_back(now.size());
        std::sort(cuts.begin(), cuts.end());
        const std::string newFlash = FlashAfterWrite(imageB_);
        for (size_t i = 0; i + 1 < cuts.size(); ++i) {
            size_t at = cuts[i];
            size_t length = cuts[i + 1] - at;
            if (length == 0) continue;
            std::string piece = now.substr(at, length);
            if (piece != imageA_.substr(at, length) && piece != newFlash.substr(at, length) &&
                piece != std::string(length, '\xFF')) {
                return false;
            }
        }
        return true;
    }

    static std::string FlashAfterWrite(const std::string& image) {
        std::string flash = image.substr(0, std::min<size_t>(image.size(), kFlashSize));
        flash.resize(kFlashSize, '\0');
        return flash;
    }

    void judge(Operation operation, Counts& c) {
        const std::string record = eeprom();
        const std::string now = flash();
        switch (operation) {
            case Operation::storeAtClose:
                if (record == eepromA_) {
                    ++c.oldState;
                } else if (record == eepromAfterClose_) {
                    ++c.newState;
                } else {
                    ++c.torn;
                }
                if (now != imageA_) ++c.torn;
                break;
            case Operation::write:
                if (record != eepromA_ || !flashPiecesWhole(now)) {
                    ++c.torn;
                } else if (now == imageA_) {
                    ++c.oldState;
                } else if (now == FlashAfterWrite(imageB_)) {
                    ++c.newState;
                } else {
                    ++c.mixed;
                }
                break;
            case Operation::eepromPut:
                if (now != imageA_ || (record != eepromA_ && record != eepromB_)) {
                    ++c.torn;
                } else {
                    ++(record == eepromA_ ? c.oldState : c.newState);
                }
                break;
            case Operation::flashPut:
                if (record != eepromA_ || (now != imageA_ && now != imageB_)) {
                    ++c.torn;
                } else {
                    ++(now == imageA_ ? c.oldState : c.newState);
                }
                break;
        }
    }

    // The utility starts, shows its window and quits; the first few failures are described.
    bool nextStartWorks() {
        const int status = finish(spawnUtility("start.txt"));
        const std::string transcript = ReadFileBytes(dir_ + "/transcript.txt");
        if (status == 0 && transcript.find("control\tout_hostSCSIID\t") != std::string::npos)
            return true;
        if (++failedStarts_ <= 3) {
            std::cerr << "a start failed with status " << status << ":\n" << transcript << "\n";
        }
        return false;
    }

    TempHost host_;
    TempDir work_;
    std::string dir_;
    std::string program_;
    const std::string imageA_ = Pattern(kFlashSize, 1);
    const std::string imageB_ = Pattern(kFlashSize, 2);
    std::string eepromA_;
    const std::string eepromB_ = Pattern(sizeof(SCSIUTY_CFG), 4);
    std::string eepromAfterClose_;
    std::map<Operation, Micros> usual_;
    std::map<Operation, Micros> tail_;  // from the marker to the end
    std::map<Operation, Counts> counts_;
    int failedStarts_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        std::cerr << "usage: kill-soak [--rounds N] [--seed S]\n";
        return 2;
    }
    std::cout << "kill-soak: " << options.rounds << " rounds, seed " << options.seed << "\n";
    Soak soak;
    if (!soak.calibrate()) return 1;
    std::mt19937 random(options.seed);
    std::uniform_int_distribution<size_t> pick(0, std::size(kOperations) - 1);
    for (int i = 0; i < options.rounds; ++i) soak.round(kOperations[pick(random)], random);
    return soak.report() ? 0 : 1;
}
