// What a process keeps of a host between kernel operations (descriptors, the parsed state, the
// card's records) must never hide a change, and the host's lock holds against other holders.
// The utility driver's user client is owned by one process at a time, freed when the owner
// dies, and never through a link or a FIFO put in the lock file's place.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <optional>
#include <thread>

#include "driverif/CommandCodes.h"
#include "emulator/card/UtilityClientOwner.h"
#include "emulator/card/UtilityDriver.h"
#include "emulator/host/HostSession.h"
#include "emulator/kernel/KernelCalls.h"
#include "tests/support/TempHost.h"

namespace {

using emu::ClaimUtilityClient;
using emu::HostPaths;

class HostHandlesTest : public testing::Test {
public:
    void SetUp() override { fresh(); }
    void fresh() {
        host.hostOk({"init", "--force"});
        host.swapDrivers();
        service = static_cast<uint32_t>(std::stoul(testhost::StatusFact(host, "utility-service")));
    }
    std::string db(const std::string& name) const { return host.root() + "/var/db/sc820/" + name; }
    size_t utilityServices() {
        std::vector<emu::ServiceRef> found;
        emu::KernelMatchServices(host.root(), emu::MatchBy::className,
                                 "com_tavik_iokit_sc820utl_drvr", &found, nullptr);
        return found.size();
    }
    IOReturn call(int selector, std::string& buffer, std::string* problem = nullptr) {
        emu::UserClientCall c{selector == kEraseFlash ? emu::CallForm::structureInput
                                                      : emu::CallForm::structureOutput,
                              selector,
                              0,
                              reinterpret_cast<uint8_t*>(buffer.data()),
                              static_cast<uint32_t>(buffer.size()),
                              0};
        return emu::CallUtilityDriver(host.root(), service, c, problem);
    }
    // The record, or the first chunk of a read sweep (the record read first starts it over).
    std::string fetch(int selector) {
        std::string record(308, '\0'), chunk(kFlashChunkSize, '\0');
        EXPECT_EQ(call(kGetEEPConfig, record), kIOReturnSuccess);
        if (selector == kGetEEPConfig) return record;
        EXPECT_EQ(call(kReadFlash, chunk), kIOReturnSuccess);
        return chunk;
    }
    // Puts `bytes` in the place of a host file as every writer does: a new file renamed over it.
    void replace(const std::string& name, const std::string& bytes) {
        WriteFileBytes(db(name) + ".new", bytes);
        ASSERT_EQ(std::rename((db(name) + ".new").c_str(), db(name).c_str()), 0);
    }
    TempHost host;
    uint32_t service = 0;
};

// Waits until process `pid` is listed in /proc/locks as waiting for a lock (true) or `done`
// says the waiter went on (false). The 30 s ceiling is a safety net that decides nothing.
bool WaitsForALock(pid_t pid, const std::function<bool()>& done) {
    const std::string waiter = " " + std::to_string(pid) + " ";
    for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
         std::chrono::steady_clock::now() < end;
         std::this_thread::sleep_for(std::chrono::milliseconds(1))) {
        if (done()) return false;
        std::ifstream locks("/proc/locks");
        for (std::string line; std::getline(locks, line);)
            if (line.find("-> ") != std::string::npos && line.find(waiter) != std::string::npos)
                return true;
    }
    return false;
}

// Runs `operation` on another thread while another descriptor holds the host's lock, released
// once the thread waits for a lock (and `meanwhile` ran) or has ended: whether it waited, and ran
// only after that.
std::pair<bool, bool> WhileLocked(
    const std::string& root, const std::function<void()>& operation,
    const std::function<void()>& meanwhile = [] {}) {
    std::optional<int> held(open((root + "/var/db/sc820/lock").c_str(), O_RDWR | O_CLOEXEC));
    EXPECT_EQ(flock(*held, LOCK_EX), 0);
    std::atomic<bool> released = false;
    auto ran = std::async(std::launch::async, [&] { return operation(), released.load(); });
    const bool waited = WaitsForALock(getpid(), [&] {
        return ran.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    });
    if (waited) meanwhile();
    released = true;
    close(*held);
    return {waited, ran.get()};
}

TEST_F(HostHandlesTest, AChangeMadeBetweenTwoOperationsIsSeenByTheNext) {
    TempDir work;
    WriteFileBytes(work.path() + "/flash", std::string(kFlashSize, '\x3c'));
    const std::string record = ReadFileBytes(db("eeprom.bin"));
    const std::string chunk = ReadFileBytes(db("flash.bin")).substr(0, kFlashChunkSize);
    auto see = [this](const std::string& what) {
        if (what == "master port") return std::to_string(emu::KernelMasterPort(host.root(), 0));
        if (what == "services") return std::to_string(utilityServices());
        return fetch(what == "record" ? kGetEEPConfig : kReadFlash);
    };
    // A command of the host tool, or "replace" for a record renamed over the host's, and what
    // this process sees before and after.
    const std::tuple<std::vector<std::string>, const char*, std::string, std::string> cases[] = {
        {{"fault", "master-port", "on"}, "master port", "0", "5"},
        {{"flash", "put", work.path() + "/flash"}, "flash", chunk, std::string(4000, '\x3c')},
        {{"replace"}, "record", record, testhost::PatternRecord(4)},
        {{"init", "--force"}, "services", "1", "0"},
    };
    for (const auto& [change, probe, before, after] : cases) {
        fresh();
        EXPECT_TRUE(see(probe) == before && see(probe) == before);
        change[0] == "replace" ? replace("eeprom.bin", testhost::PatternRecord(4))
                               : void(host.hostOk(change));
        EXPECT_TRUE(see(probe) == after) << probe;
    }
    fresh();
    // A cached version holds its file open, so that a replacement can never take its inode and
    // look like it on a file system with coarse times.
    fetch(kGetEEPConfig);
    bool held = false;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd"))
        held |= std::filesystem::read_symlink(fd.path()).string() == db("eeprom.bin");
    EXPECT_TRUE(held);
    // A command lands in the driver state file the path names now, not in the one held before.
    const std::string oneCommand = ReadFileBytes(db("driver.bin"));
    fetch(kGetEEPConfig);
    replace("driver.bin", oneCommand);
    fetch(kGetEEPConfig);
    EXPECT_EQ(host.commandCounts(), (std::vector<int>{2, 0, 0, 0, 0, 0}));
}

// An operation waits for the lock of a host made anew in the place (even when the new state was
// first read without the lock, or the lock file is replaced again while it waits); a registry
// search does not wait.
TEST_F(HostHandlesTest, OperationsWaitForTheLockOfAHostMadeAnewAndSearchesDoNot) {
    for (const std::string variant : {"", "read first", "replaced meanwhile"}) {
        { emu::HostSession keep(host.root()); }  // the old lock file's descriptor is kept
        std::filesystem::remove_all(host.root());
        host.hostOk({"init"});
        if (variant == "read first") utilityServices();
        const auto again = [&] { variant == "replaced meanwhile" ? replace("lock", "") : void(); };
        EXPECT_EQ(WhileLocked(
                      host.root(), [&] { emu::HostSession s(host.root()); }, again),
                  std::make_pair(true, true))
            << variant;
    }
    EXPECT_EQ(WhileLocked(host.root(), [&] { utilityServices(); }), std::make_pair(false, false));
}

// A forked child waits for the lock its parent holds, whether it ends its copy of the parent's
// operation first (which must not release the parent's lock) or leaves it alone.
TEST_F(HostHandlesTest, AForkedChildWaitsForTheLockItsParentHolds) {
    const std::string marker = host.root() + "/released";
    for (bool childEndsItsCopy : {true, false}) {
        std::filesystem::remove(marker);
        std::optional<emu::HostSession> held(host.root());
        pid_t child = fork();
        if (child == 0) {
            if (childEndsItsCopy) held.reset();
            emu::HostSession locked(host.root());
            _exit(std::filesystem::exists(marker) ? 0 : 1);
        }
        siginfo_t ended{};
        EXPECT_TRUE(WaitsForALock(child, [&] {
            return waitid(P_PID, child, &ended, WEXITED | WNOHANG | WNOWAIT) == 0 && ended.si_pid;
        }));
        WriteFileBytes(marker, "");
        held.reset();
        int status = -1;
        EXPECT_TRUE(waitpid(child, &status, 0) == child && status == 0);
    }
}

// A child that claims the client and reports the result; with `forks`, it forks a child of its
// own after the claim, which outlives it. Killed with the object.
struct OtherOwner {
    explicit OtherOwner(const std::string& root, bool forks = false) {
        int fds[2], ready[2];
        EXPECT_TRUE(pipe(fds) == 0 && pipe(ready) == 0);
        if ((pid = fork()) == 0) {
            IOReturn claimed = ClaimUtilityClient(HostPaths(root));
            // The owner reports only once its child runs, so it is never killed before the child
            // has given up its copies of the claim.
            pid_t child = forks ? fork() : 0;
            if (forks && child == 0) _exit(write(ready[1], "x", 1) + pause());
            char byte = 0;
            if (forks && read(ready[0], &byte, 1) != 1) _exit(1);
            _exit(write(fds[1], &claimed, sizeof claimed) + write(fds[1], &child, 4) + pause());
        }
        close(fds[1]);
        if (read(fds[0], &result, sizeof result) != sizeof result) result = -1;
        if (read(fds[0], &grandchild, 4) != 4) grandchild = 0;
        for (int fd : {fds[0], ready[0], ready[1]}) close(fd);
    }
    ~OtherOwner() {
        end();
        if (grandchild > 0) kill(grandchild, SIGKILL);  // reparented: not ours to wait for
    }
    void end() {
        if (pid > 0 && kill(pid, SIGKILL) == 0) waitpid(pid, nullptr, 0);
        pid = -1;
    }
    pid_t pid = -1, grandchild = 0;
    IOReturn result = -1;
};

TEST_F(HostHandlesTest, TheUserClientIsOwnedByOneProcessAtATimeUntilTheOwnerDies) {
    for (bool forks : {true, false}) {  // a child forked by the owner owns nothing
        OtherOwner other(host.root(), forks);
        ASSERT_EQ(other.result, kIOReturnSuccess);
        EXPECT_EQ(ClaimUtilityClient(HostPaths(host.root())), kIOReturnExclusiveAccess);
        other.end();
        EXPECT_EQ(OtherOwner(host.root()).result, kIOReturnSuccess);
    }
    // The owner may claim again, under any spelling of the root; on a host made anew, not.
    EXPECT_EQ(emu::KernelOpenUserClient(host.root(), service, 0, nullptr), kIOReturnSuccess);
    EXPECT_EQ(ClaimUtilityClient(HostPaths(host.root() + "/./")), kIOReturnSuccess);
    std::filesystem::remove_all(host.root());
    host.hostOk({"init"});
    fresh();
    OtherOwner other(host.root());
    EXPECT_EQ(other.result, kIOReturnSuccess);
    EXPECT_EQ(emu::KernelOpenUserClient(host.root(), service, 0, nullptr),
              kIOReturnExclusiveAccess);
}

// Something in the place of a file worked on in place (the client's lock, the flash, the driver
// state) is refused at once naming the file; the file outside stays, and `repair` mends the host.
TEST_F(HostHandlesTest, AnythingButAPlainFileInThePlaceOfAFileWorkedOnInPlaceIsRefused) {
    alarm(60);  // an operation that waits on a FIFO ends the test program instead of hanging it
    const std::string other = host.root() + "/../other";
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"flash.bin", "fifo",
         "flash.bin is a FIFO, not a file of the host's own: sc820-host "
         "repair mends it"},
        {"driver.bin", "symlink", "driver.bin is a symbolic link, not a file of the host's own"},
        {"flash.bin", "hardlink", "flash.bin is a file with another name (2 links)"},
        {"utility-client.lock", "symlink", "utility-client.lock"},
        {"utility-client.lock", "fifo", "utility-client.lock"},
        {"utility-client.lock", "folder", "utility-client.lock"},
    };
    for (const auto& [name, kind, message] : cases) {
        SCOPED_TRACE(std::string(name) + " " + kind);
        fresh();
        fetch(kReadFlash);  // the file's descriptor is kept
        const bool client = std::string(name) == "utility-client.lock";
        const std::string path = db(name);
        WriteFileBytes(other, client ? "keep" : ReadFileBytes(path));
        const std::string outside = ReadFileBytes(other);
        std::filesystem::remove(path);
        const std::string k = kind;
        ASSERT_EQ(k == "fifo"      ? mkfifo(path.c_str(), 0644)
                  : k == "symlink" ? symlink(other.c_str(), path.c_str())
                  : k == "folder"  ? mkdir(path.c_str(), 0755)
                                   : link(other.c_str(), path.c_str()),
                  0);
        std::string placeholder(2, '\0'), problem;
        EXPECT_EQ(client ? ClaimUtilityClient(HostPaths(host.root()), &problem)
                         : call(kEraseFlash, placeholder, &problem),
                  kIOReturnError);
        EXPECT_NE(problem.find(message), std::string::npos) << problem;
        EXPECT_EQ(ReadFileBytes(other), outside);
        if (client && std::filesystem::remove(path)) continue;
        host.hostOk({"repair"});
        struct stat info {};
        EXPECT_TRUE(lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_nlink == 1);
    }
    alarm(0);
}

TEST_F(HostHandlesTest, AChangedStateThatIsNotSavedIsSeenByNoOtherOperation) {
    for (bool saved : {false, true}) {
        {
            emu::HostSession session(host.root());
            session.state().faults.insert(emu::kFaultMasterPort);
            if (saved) session.save();
        }
        EXPECT_EQ(emu::KernelMasterPort(host.root(), nullptr), saved ? KERN_FAILURE : KERN_SUCCESS);
    }
}

// On a disk whose clock keeps whole seconds, replacements within one second can hand a replaced
// state's inode back with its size and times; what a process kept is still told apart.
TEST(StateCacheTest, AStateReplacedWithinOneTickOfACoarseClockIsSeen) {
    TempDir work;
    const std::string disk = work.path() + "/disk", root = disk + "/host";
    std::filesystem::create_directories(disk);
    // ext2 with 128-byte inodes keeps times in whole seconds.
    const std::string image = work.path() + "/disk.img";
    if (std::system(("truncate -s 512M " + image + " && mkfs.ext2 -q -I 128 " + image +
                     " 2>/dev/null && mount -o loop " + image + " " + disk + " 2>/dev/null")
                        .c_str()) != 0)
        GTEST_SKIP() << "no loop-mounted ext2 image here";
    auto host = [&](std::vector<std::vector<std::string>> commands) {
        for (auto& words : commands) {
            words.insert(words.begin(), {SC820_HOST_BINARY, "--root", root});
            std::string out;
            ASSERT_EQ(RunProgram(words, &out), 0) << out;
        }
    };
    host({{"init"}});
    // Two states of one size, four replacements apart: the last one takes the first's inode.
    for (int round = 0; round < 5; ++round) {
        host({{"auth", "cancel"}, {"fault", "open", "on"}, {"fault", "search", "off"}});
        EXPECT_EQ(emu::KernelAuthorizationPolicy(root, nullptr), emu::AuthPolicy::cancel);
        host({{"auth", "deny"},
              {"fault", "open", "off"},
              {"fault", "search", "on"},
              {"fault", "search", "on"}});
        EXPECT_EQ(emu::KernelAuthorizationPolicy(root, nullptr), emu::AuthPolicy::deny) << round;
    }
    umount2(disk.c_str(), MNT_DETACH);
}

}  // namespace
