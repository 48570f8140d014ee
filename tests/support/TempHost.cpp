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
#include <map>
#include <sstream>

extern char** environ;

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "sc820-test-XXXXXX").string();
    char* made = mkdtemp(tmpl.data());
    if (made == nullptr) {
        ADD_FAILURE() << "mkdtemp failed";
    }
    path_ = tmpl;
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
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> envStrings = MergedEnvironment(extraEnv);
    std::vector<char*> env;
    for (auto& e : envStrings) env.push_back(e.data());
    env.push_back(nullptr);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    std::string collected;
    if (rc == 0) {
        char buf[4096];
        ssize_t n;
        while ((n = read(pipeFds[0], buf, sizeof buf)) > 0) collected.append(buf, n);
    }
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
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

TempHost::TempHost() {
    TempDir scratch;  // only to pick a unique name
    dir_ = scratch.path() + "-host";
    fs::create_directories(dir_);
    root_ = dir_ + "/root";
    const char* previous = std::getenv("SC820_HOST_ROOT");
    hadPreviousRoot_ = previous != nullptr;
    if (hadPreviousRoot_) previousRoot_ = previous;
    std::string out;
    int rc = host({"init"}, &out);
    if (rc != 0) ADD_FAILURE() << "sc820-host init failed: " << out;
    setenv("SC820_HOST_ROOT", root_.c_str(), 1);
}

TempHost::~TempHost() {
    if (hadPreviousRoot_) {
        setenv("SC820_HOST_ROOT", previousRoot_.c_str(), 1);
    } else {
        unsetenv("SC820_HOST_ROOT");
    }
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
}

int TempHost::host(const std::vector<std::string>& args, std::string* output) const {
    std::vector<std::string> argv = {SC820_HOST_BINARY, "--root", root_};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, output);
}

std::string TempHost::hostOk(const std::vector<std::string>& args) const {
    std::string out;
    int rc = host(args, &out);
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    EXPECT_EQ(rc, 0) << "sc820-host " << joined << "-> " << out;
    return out;
}

void TempHost::swapDrivers() const {
    std::string out;
    EXPECT_EQ(RunProgram({root_ + "/sbin/kextunload", "-m", "com.tavik.driver.ZolSC820"}, &out), 0)
        << out;
    EXPECT_EQ(
        RunProgram({root_ + "/sbin/kextload",
                    std::string(SC820_BUNDLE_DIR) + "/Contents/Resources/ZOL_SC820_DRVR_X.kext"},
                   &out),
        0)
        << out;
}

std::vector<std::string> TempHost::logLines() const {
    std::vector<std::string> lines;
    std::ifstream in(root_ + "/var/log/system.log");
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

std::vector<int> TempHost::commandCounts() const {
    std::istringstream fields(testhost::StatusFact(*this, "commands"));
    std::vector<int> counts;
    for (int n; fields >> n;) counts.push_back(n);
    if (counts.empty()) ADD_FAILURE() << "no commands line in status";
    return counts;
}

SCSIUTY_CFG TempHost::eeprom() const {
    const std::string file = dir_ + "/eeprom-out.bin";
    hostOk({"eeprom", "get", file});
    SCSIUTY_CFG record{};
    const std::string bytes = ReadFileBytes(file);
    EXPECT_EQ(bytes.size(), sizeof record);
    if (bytes.size() == sizeof record) std::memcpy(&record, bytes.data(), sizeof record);
    return record;
}

void TempHost::putEeprom(const SCSIUTY_CFG& record) const {
    const std::string file = dir_ + "/eeprom-in.bin";
    WriteFileBytes(file, std::string(reinterpret_cast<const char*>(&record), sizeof record));
    hostOk({"eeprom", "put", file});
}
