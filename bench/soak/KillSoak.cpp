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

#include "card/CommandCodes.h"
#include "card/def.h"
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
        WriteFileBytes(dir_ + "/close.txt", "answer 1\nselect out_hostSCSIID 5\nclose\nanswer 1\n");
        WriteFileBytes(dir_ + "/write.txt", "answer 1\npress write\nanswer 1\nchoose " + dir_ +
                                                "/image-b.bin\nanswer 1\nanswer 1\npress cancel\n");
        WriteFileBytes(dir_ + "/start.txt", "answer 1\ndump\npress cancel\n");
    }

    // Runs each operation once to the end: how long it takes, and the records it leaves.
    bool calibrate() {
        for (Operation operation : kOperations) {
            prepare(operation);
            auto start = Clock::now();
            int status = finish(startOperation(operation));
            usual_[operation] = std::chrono::duration_cast<Micros>(Clock::now() - start);
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

    void round(Operation operation, std::mt19937& random) {
        Counts& c = counts_[operation];
        ++c.rounds;
        prepare(operation);
        std::uniform_int_distribution<long> delay(0, usual_[operation].count());
        pid_t pid = startOperation(operation);
        if (killAfter(pid, Micros(delay(random)))) ++c.killed;
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
                "failed-starts %d  (usual %.1f ms)\n",
                Name(operation), c.rounds, c.killed, c.oldState, c.newState, c.mixed, c.torn,
                c.badStarts, static_cast<double>(usual_.at(operation).count()) / 1000.0);
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

    // Kills the process when it is still running after `delay`; true when it was killed.
    static bool killAfter(pid_t pid, Micros delay) {
        const auto deadline = Clock::now() + delay;
        int status = 0;
        while (Clock::now() < deadline) {
            if (waitpid(pid, &status, WNOHANG) == pid) return false;
            std::this_thread::sleep_for(Micros(200));
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

    bool nextStartWorks() {
        if (finish(spawnUtility("start.txt")) != 0) return false;
        return ReadFileBytes(dir_ + "/transcript.txt").find("control\tout_hostSCSIID\t") !=
               std::string::npos;
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
    std::map<Operation, Counts> counts_;
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
