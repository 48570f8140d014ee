// What a process keeps of a host between kernel operations (descriptors, the parsed state, the
// card's records) must never hide a change, and the host's lock holds against other holders.
// The utility driver's user client is owned by one process at a time, freed when the owner
// dies. The utility driver's six commands: call forms and sizes, refusals, counts, where flash
// chunks land, and a store killed halfway.
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
#include <random>
#include <thread>

#include "driverif/CommandCodes.h"
#include "emulator/card/UtilityClientOwner.h"
#include "emulator/host/HostSession.h"
#include "emulator/kernel/KernelCalls.h"
#include "tests/emulator/HostFixture.h"

namespace {

using emu::ClaimUtilityClient;
using emu::HostPaths;

constexpr emu::CallForm kIn = emu::CallForm::structureInput;
constexpr emu::CallForm kOut = emu::CallForm::structureOutput;
constexpr IOReturn kBad = kIOReturnBadArgument;

class HostHandlesTest : public HostFixture {
public:
    void SetUp() override { serve(); }
    size_t utilityServices() {
        std::vector<emu::ServiceRef> found;
        emu::KernelMatchServices(host.root(), emu::MatchBy::className,
                                 "com_tavik_iokit_sc820utl_drvr", &found, nullptr);
        return found.size();
    }
    // Each command in its own form and size.
    IOReturn command(int selector, void* structure) {
        const char* rows[] = {"o0/308", "i1/308", "o2/308", "i3/2", "o4/4000", "i5/4000"};
        return callRow(rows[selector], structure);
    }
    // The record, or the first chunk of a read sweep (the record read first starts it over).
    std::string fetch(int selector) {
        std::string record(308, '\0'), chunk(kFlashChunkSize, '\0');
        EXPECT_EQ(command(kGetEEPConfig, record.data()), kIOReturnSuccess);
        if (selector == kGetEEPConfig) return record;
        EXPECT_EQ(command(kReadFlash, chunk.data()), kIOReturnSuccess);
        return chunk;
    }
    // A full sweep of 17 chunks; a write sweep checks where it landed, a read sweep returns it.
    std::vector<uint8_t> sweep(int selector, int seed = 0) {
        std::vector<uint8_t> bytes(kFlashSweepSize);
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<uint8_t>((i / kFlashChunkSize) * 16 + i * 3 + seed);
        for (uint32_t k = 0; k < kFlashSweepChunks; ++k)
            EXPECT_EQ(command(selector, bytes.data() + k * kFlashChunkSize), kIOReturnSuccess);
        if (selector == kWriteFlash) {
            EXPECT_TRUE(file("flash.bin") ==
                        std::string(bytes.begin(), bytes.begin() + kFlashSize));
            std::fill(bytes.begin() + kFlashSize, bytes.end(), 0xFF);  // as a read sweep gives it
        }
        return bytes;
    }
    // A call written "o0/308/1": output (o) or input (i), the selector, the size, the scalars.
    IOReturn callRow(const std::string& row, void* structure) {
        int selector = 0;
        uint32_t size = 0, scalars = 0;
        sscanf(row.c_str(), "%*c%d/%u/%u", &selector, &size, &scalars);
        return call(row[0] == 'i' ? kIn : kOut, selector, structure, size, nullptr, scalars);
    }
    std::string file(const char* name) { return ReadFileBytes(db(name)); }
    std::string cursors() { return testhost::StatusFact(host, "flash-cursors"); }
    // Puts `bytes` in the place of a host file as every writer does: a new file renamed over it.
    void replace(const std::string& name, const std::string& bytes) {
        WriteFileBytes(db(name) + ".new", bytes);
        ASSERT_EQ(std::rename((db(name) + ".new").c_str(), db(name).c_str()), 0);
    }
};
class UtilityDriverTest : public HostHandlesTest {};

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
    const std::string record = ReadFileBytes(db("eeprom.bin")), image(kFlashSize, '\x3c');
    const std::string chunk = ReadFileBytes(db("flash.bin")).substr(0, kFlashChunkSize);
    auto see = [this](const std::string& what) {
        if (what == "master port") return std::to_string(emu::KernelMasterPort(host.root(), 0));
        if (what == "services") return std::to_string(utilityServices());
        return fetch(what == "record" ? kGetEEPConfig : kReadFlash);
    };
    // A command of the host tool, "replace" for a record renamed over the host's, or "session"
    // for a fault set in this process (and saved), and what this process sees before and after.
    const std::tuple<std::vector<std::string>, const char*, std::string, std::string> cases[] = {
        {{"fault", "master-port", "on"}, "master port", "0", "5"},
        {{"flash", "put", put("flash", image)}, "flash", chunk, std::string(4000, '\x3c')},
        {{"replace"}, "record", record, testhost::PatternRecord(4)},
        {{"init", "--force"}, "services", "1", "0"},
        {{"session"}, "master port", "0", "0"},  // changed in this process, not saved
        {{"session", "save"}, "master port", "0", "5"},
    };
    for (const auto& [change, probe, before, after] : cases) {
        serve();
        EXPECT_TRUE(see(probe) == before && see(probe) == before);
        if (change[0] == "session") {
            emu::HostSession session(host.root());
            session.state().faults.insert(emu::kFaultMasterPort);
            if (change.size() > 1) session.save();
        } else {
            change[0] == "replace" ? replace("eeprom.bin", testhost::PatternRecord(4))
                                   : void(host.hostOk(change));
        }
        EXPECT_TRUE(see(probe) == after) << probe;
    }
    serve();
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
    serve();
    OtherOwner other(host.root());
    EXPECT_EQ(other.result, kIOReturnSuccess);
    EXPECT_EQ(emu::KernelOpenUserClient(host.root(), service, 0, nullptr),
              kIOReturnExclusiveAccess);
}

// On a disk whose clock keeps whole seconds, replacements within one second can hand a replaced
// state's inode back with its size and times; what a process kept is still told apart.
TEST(StateCacheTest, AStateReplacedWithinOneTickOfACoarseClockIsSeen) {
    TempDir work;
    const std::string disk = work.path() + "/disk", root = disk + "/host", image = disk + ".img";
    std::filesystem::create_directories(disk);
    // ext2 with 128-byte inodes keeps times in whole seconds.
    if (std::system(("truncate -s 512M " + image + " && mkfs.ext2 -q -I 128 " + image +
                     " 2>/dev/null && mount -o loop " + image + " " + disk + " 2>/dev/null")
                        .c_str()) != 0)
        GTEST_SKIP() << "no loop-mounted ext2 image here";
    auto host = [&](const std::string& commands) {  // h: sc820-host on the disk's host
        std::string out, h = "set -e; h() { " SC820_HOST_BINARY " --root " + root + " \"$@\"; }; ";
        ASSERT_EQ(RunProgram({"/bin/sh", "-c", h + commands}, &out), 0) << out;
    };
    host("h init");
    // Two states of one size, four replacements apart: the last one takes the first's inode.
    for (int round = 0; round < 5; ++round) {
        host("h auth cancel; h fault open on; h fault search off");
        EXPECT_EQ(emu::KernelAuthorizationPolicy(root, nullptr), emu::AuthPolicy::cancel);
        host("h auth deny; h fault open off; h fault search on; h fault search on");
        EXPECT_EQ(emu::KernelAuthorizationPolicy(root, nullptr), emu::AuthPolicy::deny) << round;
    }
    umount2(disk.c_str(), MNT_DETACH);
}

// Only the one form and size is taken; a refused call writes no output and changes nothing,
// but counts. Only a registered utility service takes commands.
TEST_F(UtilityDriverTest, EachCommandTakesOneFormAndSizeAndCountsEveryCall) {
    // The calls as callRow writes them; "+": the call is taken.
    std::istringstream cases(
        "o0/308+ o0/307 i0/308 o0/308/1 o1/308 i1/309 o2/4000 o2/308+ i3/308 "
        "o3/2 i3/2/2 o4/3999 i4/4000 i5/4001 o5/4000 o6/308 i-1/2");
    const std::vector<int> counts = {4, 3, 2, 3, 3, 2};  // with the two calls without a structure
    const std::string files = file("eeprom.bin") + file("flash.bin");
    for (std::string row; cases >> row;) {
        std::vector<uint8_t> buffer(5000, 0xEE);
        const bool taken = row.back() == '+';
        EXPECT_EQ(callRow(row, buffer.data()), taken ? kIOReturnSuccess : kBad) << row;
        EXPECT_TRUE(taken || buffer == std::vector<uint8_t>(5000, 0xEE)) << row;
    }
    EXPECT_EQ(call(kIn, kSetEEPConfig, nullptr, 308), kBad);
    EXPECT_EQ(call(kOut, kReadFlash, nullptr, 4000), kBad);
    EXPECT_EQ(host.commandCounts(), counts);
    EXPECT_EQ(file("eeprom.bin") + file("flash.bin"), files);
    std::vector<uint8_t> record(308);
    for (uint32_t other : {1u, 999u})  // the registry root and no entry
        EXPECT_EQ(call(kOut, kGetEEPConfig, record.data(), 308, nullptr, 0, other),
                  kIOReturnNotAttached);
    ASSERT_EQ(
        RunProgram({host.root() + "/sbin/kextunload", "-m", "com.tavik.iokit.sc820utl"}, nullptr),
        0);
    EXPECT_EQ(call(kOut, kGetEEPConfig, record.data(), 308), kIOReturnNotAttached);
    EXPECT_EQ(host.commandCounts(), counts);
}

// A read sweep after a write sweep returns what the flash holds and erased bytes after it,
// whatever ran before: part of a sweep, ended by another command or by a chunk of the other
// direction (one command code a digit). (Records, the factory record and erase: the end-to-end
// form and flash scenarios.)
TEST_F(UtilityDriverTest, ASweepIsEndedByAnyOtherCommand) {
    int seed = 0;
    // Descriptors with every record's cache in use: a record read anew keeps no more.
    long open = -1;
    std::string factory(308, '\0');
    ASSERT_EQ(command(kGetEEPDefault, factory.data()), kIOReturnSuccess);
    for (std::string_view before : {"", "44444", "444440", "555552", "5555544", "444445550",
                                    "55555555555555550", "44444444444444443"}) {
        std::vector<uint8_t> buffer(4000, 0x77);
        for (char digit : before) ASSERT_EQ(command(digit - '0', buffer.data()), kIOReturnSuccess);
        const std::vector<uint8_t> written = sweep(kWriteFlash, ++seed);
        EXPECT_TRUE(sweep(kReadFlash) == written) << before;
        EXPECT_EQ(cursors(), "read 0 write 0");
        std::string record = testhost::PatternRecord(seed);
        ASSERT_EQ(command(kSetEEPConfig, record.data()), kIOReturnSuccess);
        EXPECT_EQ(fetch(kGetEEPConfig), record);
        const long now = std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
        EXPECT_TRUE(open < 0 || now == open) << now << " descriptors, " << open << " before";
        open = now;
    }
}

// A command the driver does not carry out still ends a sweep in progress: both cursors go back.
// (What a command failed on the disk leaves, the fault sweep checks.)
TEST_F(UtilityDriverTest, ARefusedOrMalformedCommandPutsTheCursorsBack) {
    // The part sweep before (4: read, 5: write), the fault switched on for the command, the
    // command.
    std::istringstream cases(
        "4 - o4/3999  5 - o5/4000  4 - o6/308  4 refuse-4 o4/4000  "
        "5 refuse-5 i5/4000  5 refuse-3 i3/2  4 refuse-0 o0/308");
    for (std::string part, fault, row; cases >> part >> fault >> row;) {
        std::vector<uint8_t> buffer(4000, 0x5A);
        for (int k = 0; k < 5; ++k) ASSERT_EQ(command(stoi(part), buffer.data()), kIOReturnSuccess);
        if (fault != "-") host.hostOk({"fault", fault, "on"});
        EXPECT_NE(callRow(row, buffer.data()), kIOReturnSuccess) << row;
        EXPECT_EQ(cursors(), "read 0 write 0") << row << " " << fault;
        if (fault != "-") host.hostOk({"fault", fault, "off"});
    }
}

// A process killed while it stores leaves the old record or the new one, never a mixture, and
// the host's state stays readable.
TEST_F(UtilityDriverTest, AKilledStoreNeverLeavesATornRecord) {
    const std::string original = file("eeprom.bin");
    std::string records[2] = {testhost::PatternRecord(1), testhost::PatternRecord(2)};
    std::mt19937 random(820);
    for (int round = 0; round < 30; ++round) {
        pid_t child = fork();
        if (child == 0)
            for (unsigned n = 0;; ++n)
                command(kSetEEPConfig, reinterpret_cast<uint8_t*>(records[n % 2].data()));
        // The first child finishes a store, so that the rounds compare real replacements.
        for (int wait = 0; round == 0 && wait < 3000 && file("eeprom.bin") == original; ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 10000));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        const std::string record = file("eeprom.bin");
        ASSERT_TRUE(record == records[0] || record == records[1]) << "round " << round;
        ASSERT_EQ(host.commandCounts().size(), 6u) << "state unreadable in round " << round;
    }
}

}  // namespace
