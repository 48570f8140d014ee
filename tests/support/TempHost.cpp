#include "tests/support/TempHost.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

extern char** environ;

namespace fs = std::filesystem;

TempDir::TempDir() : path_((fs::temp_directory_path() / "sc820-test-XXXXXX").string()) {
    if (mkdtemp(path_.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::vector<std::string> MergedEnvironment(const std::vector<std::string>& extra) {
    std::map<std::string, std::string> byName;  // a later entry replaces one of the same name
    for (char** e = environ; *e != nullptr; ++e)
        byName[std::string(*e).substr(0, std::string(*e).find('='))] = *e;
    for (const auto& x : extra) byName[x.substr(0, x.find('='))] = x;
    std::vector<std::string> merged;
    for (const auto& [name, entry] : byName) merged.push_back(entry);
    return merged;
}

int RunProgram(const std::vector<std::string>& argv, std::string* output,
               const std::vector<std::string>& extraEnv, long* peakKib) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    std::vector<std::string> envStrings = MergedEnvironment(extraEnv);
    std::vector<char*> args, env;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    for (auto& e : envStrings) env.push_back(e.data());
    args.push_back(nullptr);
    env.push_back(nullptr);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    std::string collected;
    char buf[4096];
    for (ssize_t n; rc == 0 && (n = read(pipeFds[0], buf, sizeof buf)) > 0;)
        collected.append(buf, n);
    close(pipeFds[0]);
    if (output != nullptr) *output = collected;
    if (rc != 0) return -1;
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    if (peakKib != nullptr) *peakKib = usage.ru_maxrss;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

TempHost::TempHost() : dir_(scratch_.path()), root_(dir_ + "/root") {
    if (const char* previous = std::getenv("SC820_HOST_ROOT")) previousRoot_ = previous;
    hostOk({"init"});
    setenv("SC820_HOST_ROOT", root_.c_str(), 1);
}

TempHost::~TempHost() {
    if (previousRoot_) {
        setenv("SC820_HOST_ROOT", previousRoot_->c_str(), 1);
    } else {
        unsetenv("SC820_HOST_ROOT");
    }
}

int TempHost::host(const std::vector<std::string>& args, std::string* output) const {
    std::vector<std::string> argv = {SC820_HOST_BINARY, "--root", root_};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, output);
}

std::string TempHost::hostOk(const std::vector<std::string>& args) const {
    std::string out;
    EXPECT_EQ(host(args, &out), 0) << "sc820-host " << args[0] << ": " << out;
    return out;
}

void TempHost::swapDrivers() const {
    std::string out;
    EXPECT_EQ(RunProgram({root_ + "/sbin/kextunload", "-m", "com.tavik.driver.ZolSC820"}, &out), 0)
        << out;
    EXPECT_EQ(RunProgram({root_ + "/sbin/kextload",
                          SC820_BUNDLE_DIR "/Contents/Resources/ZOL_SC820_DRVR_X.kext"},
                         &out),
              0)
        << out;
}

std::vector<std::string> TempHost::logLines() const {
    std::vector<std::string> lines;
    std::ifstream in(root_ + "/var/log/system.log");
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<int> TempHost::commandCounts() const {
    std::istringstream fields(testhost::StatusFact(*this, "commands"));
    std::vector<int> counts(std::istream_iterator<int>(fields), {});
    if (counts.empty()) ADD_FAILURE() << "no commands line in status";
    return counts;
}

SCSIUTY_CFG TempHost::eeprom() const {
    hostOk({"eeprom", "get", dir_ + "/eeprom-out.bin"});
    SCSIUTY_CFG record{};
    const std::string bytes = ReadFileBytes(dir_ + "/eeprom-out.bin");
    EXPECT_EQ(bytes.size(), sizeof record);
    std::memcpy(&record, bytes.data(), std::min(bytes.size(), sizeof record));
    return record;
}

void TempHost::putEeprom(const SCSIUTY_CFG& record) const {
    WriteFileBytes(dir_ + "/eeprom-in.bin",
                   std::string(reinterpret_cast<const char*>(&record), sizeof record));
    hostOk({"eeprom", "put", dir_ + "/eeprom-in.bin"});
}
