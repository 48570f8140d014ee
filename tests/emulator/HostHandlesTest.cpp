// What a process keeps of a host between kernel operations (descriptors, the parsed state, the
// card's records) must never hide a change, and the host's lock holds against other holders.
// The utility driver's user client is owned by one process at a time, freed when the owner
// dies, and never through a link or a FIFO put in the lock file's place.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
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

using emu::CallForm;
using emu::ClaimUtilityClient;
using emu::HostPaths;
using emu::UserClientCall;

class HostHandlesTest : public testing::Test {
public:
    void SetUp() override { fresh(); }
    void fresh() {
        host.hostOk({"init", "--force"});
        host.swapDrivers();
        service = static_cast<uint32_t>(std::stoul(testhost::StatusFact(host, "utility-service")));
    }
    std::string db(const char* name) const { return host.root() + "/var/db/sc820/" + name; }
    IOReturn masterPort() { return emu::KernelMasterPort(host.root(), nullptr); }
    size_t utilityServices() {
        std::vector<emu::ServiceRef> found;
        emu::KernelMatchServices(host.root(), emu::MatchBy::className,
                                 "com_tavik_iokit_sc820utl_drvr", &found, nullptr);
        return found.size();
    }
    IOReturn call(int selector, std::string& buffer, std::string* problem = nullptr) {
        UserClientCall c{
            selector == kEraseFlash ? CallForm::structureInput : CallForm::structureOutput,
            selector,
            0,
            reinterpret_cast<uint8_t*>(buffer.data()),
            static_cast<uint32_t>(buffer.size()),
            0};
        return emu::CallUtilityDriver(host.root(), service, c, problem);
    }
    std::string readRecord() {
        std::string record(308, '\0');
        EXPECT_EQ(call(kGetEEPConfig, record), kIOReturnSuccess);
        return record;
    }
    // The first chunk of a read sweep (any command before it starts the sweep over).
    std::string firstChunk() {
        readRecord();
        std::string chunk(kFlashChunkSize, '\0');
        EXPECT_EQ(call(kReadFlash, chunk), kIOReturnSuccess);
        return chunk;
    }
    // Puts `bytes` in the place of the host file `name` as every writer does: a new file renamed
    // over the old one.
    void replaceFile(const char* name, const std::string& bytes) {
        WriteFileBytes(db(name) + ".new", bytes);
        ASSERT_EQ(std::rename((db(name) + ".new").c_str(), db(name).c_str()), 0);
    }
    TempHost host;
    uint32_t service = 0;
};

std::string FlashPattern(int seed) {
    std::string bytes(kFlashSize, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 5 + seed);
    return bytes;
}

// Waits until process `pid` is listed in /proc/locks as waiting for a lock (true) or `done`
// says the waiter went on (false). The 30 s ceiling is a safety net only: it decides nothing
// that the state has not decided.
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

// Holds the host's lock through a descriptor of its own, as another process does.
struct ForeignLock {
    explicit ForeignLock(const std::string& root)
        : fd(open((root + "/var/db/sc820/lock").c_str(), O_RDWR | O_CLOEXEC)) {
        EXPECT_EQ(flock(fd, LOCK_EX), 0);
    }
    ~ForeignLock() { close(fd); }
    int fd;
};

struct ChangeCase {
    const char* what;
    std::function<void(HostHandlesTest&)> change;  // from outside this process's operations
    std::function<std::string(HostHandlesTest&)> probe;
    std::string before, after;  // what the probe sees
};

// The second operation runs on what the first one kept; the one after the change sees it.
TEST_F(HostHandlesTest, AChangeMadeBetweenTwoOperationsIsSeenByTheNext) {
    TempDir work;
    WriteFileBytes(work.path() + "/record", testhost::PatternRecord(7));
    WriteFileBytes(work.path() + "/flash", FlashPattern(3));
    const std::string record = ReadFileBytes(db("eeprom.bin"));
    const std::string chunk = ReadFileBytes(db("flash.bin")).substr(0, kFlashChunkSize);
    auto status = [](HostHandlesTest& t) { return std::to_string(t.masterPort()); };
    auto command = [](std::vector<std::string> words) {
        return std::function<void(HostHandlesTest&)>([=](auto& t) { t.host.hostOk(words); });
    };
    auto recordNow = [](HostHandlesTest& t) { return t.readRecord(); };
    auto chunkNow = [](HostHandlesTest& t) { return t.firstChunk(); };
    const std::vector<ChangeCase> cases = {
        {"fault switched", command({"fault", "master-port", "on"}), status,
         std::to_string(KERN_SUCCESS), std::to_string(KERN_FAILURE)},
        {"record put", command({"eeprom", "put", work.path() + "/record"}), recordNow, record,
         testhost::PatternRecord(7)},
        {"flash put", command({"flash", "put", work.path() + "/flash"}), chunkNow, chunk,
         FlashPattern(3).substr(0, kFlashChunkSize)},
        {"flash file replaced under the held descriptor",
         [](auto& t) { t.replaceFile("flash.bin", FlashPattern(9)); }, chunkNow, chunk,
         FlashPattern(9).substr(0, kFlashChunkSize)},
        {"record file replaced",
         [](auto& t) { t.replaceFile("eeprom.bin", testhost::PatternRecord(4)); }, recordNow,
         record, testhost::PatternRecord(4)},
        {"host reset by init --force", command({"init", "--force"}),
         [](auto& t) { return std::to_string(t.utilityServices()); }, "1", "0"},
    };
    for (const ChangeCase& c : cases) {
        SCOPED_TRACE(c.what);
        fresh();
        EXPECT_TRUE(c.probe(*this) == c.before && c.probe(*this) == c.before);
        c.change(*this);
        EXPECT_TRUE(c.probe(*this) == c.after);
    }
    fresh();
    // A cached version holds its file open, so that a replacement can never take its inode and
    // look like it on a file system with coarse times.
    readRecord();
    bool held = false;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd"))
        held |= std::filesystem::read_symlink(fd.path()).string() == db("eeprom.bin");
    EXPECT_TRUE(held);
    // A command lands in the driver state file the path names now, not in the one held before.
    const std::string oneCommand = ReadFileBytes(db("driver.bin"));
    readRecord();
    replaceFile("driver.bin", oneCommand);
    readRecord();
    EXPECT_EQ(host.commandCounts(), (std::vector<int>{2, 0, 0, 0, 0, 0}));
}

// While another holder has the lock of a host made anew in the place, an operation waits for
// it, even when the new state was first read without the lock (a registry search).
TEST_F(HostHandlesTest, AHostMadeAnewIsLockedThroughItsNewLockFile) {
    for (bool readFirst : {false, true}) {
        SCOPED_TRACE(readFirst ? "read without the lock first" : "locked operation first");
        { emu::HostSession keep(host.root()); }  // the old lock file's descriptor is kept
        std::filesystem::remove_all(host.root());
        host.hostOk({"init"});
        if (readFirst) {
            EXPECT_EQ(masterPort(), KERN_SUCCESS);
        }
        std::atomic<bool> released = false;
        std::optional<ForeignLock> other(host.root());
        auto operation = std::async(std::launch::async, [&] {
            emu::HostSession session(host.root());
            return released.load();
        });
        auto done = [&] {
            return operation.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
        };
        EXPECT_TRUE(WaitsForALock(getpid(), done));
        released = true;
        other.reset();
        EXPECT_TRUE(operation.get()) << "the operation ran while another held the lock";
    }
}

// Reading the kernel state takes no lock: a search goes on while another holds the lock.
TEST_F(HostHandlesTest, AReadOfTheKernelStateDoesNotWaitForTheLock) {
    std::optional<ForeignLock> other(host.root());
    auto search = std::async(std::launch::async, [this] { return utilityServices(); });
    auto done = [&] {
        return search.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    };
    EXPECT_FALSE(WaitsForALock(getpid(), done)) << "the search waited for the lock";
    EXPECT_TRUE(done());
    other.reset();  // a search that waits ends now, so the test fails instead of hanging
    EXPECT_EQ(search.get(), 1u);
}

// A forked child waits for the lock its parent holds, whether it ends its copy of the parent's
// operation first (which must not release the parent's lock) or leaves it alone.
TEST_F(HostHandlesTest, AForkedChildWaitsForTheLockItsParentHolds) {
    const std::string marker = host.root() + "/released";
    { emu::HostSession keep(host.root()); }  // the lock file's descriptor is kept
    for (bool childEndsItsCopy : {true, false}) {
        SCOPED_TRACE(childEndsItsCopy ? "the child ends its copy" : "the child leaves its copy");
        std::filesystem::remove(marker);
        int done[2];
        ASSERT_EQ(pipe(done), 0);
        std::optional<emu::HostSession> held(host.root());
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (childEndsItsCopy) held.reset();
            char result = 'n';
            try {
                emu::HostSession locked(host.root());
                result = std::filesystem::exists(marker) ? 'y' : 'e';
            } catch (...) {
            }
            _exit(write(done[1], &result, 1) == 1 ? 0 : 1);
        }
        close(done[1]);
        pollfd ready{done[0], POLLIN, 0};
        EXPECT_TRUE(WaitsForALock(child, [&] { return poll(&ready, 1, 0) == 1; }));
        WriteFileBytes(marker, "");
        held.reset();
        char result = 0;
        EXPECT_EQ(poll(&ready, 1, 30000), 1);  // a safety net against a child that hangs
        EXPECT_EQ(read(done[0], &result, 1), 1);
        EXPECT_EQ(result, 'y') << "e: the child ran while the parent held the lock";
        close(done[0]);
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
}

// A child process that claims the client, reports the result and waits to be killed; with a
// child of its own, forked after the claim, that outlives it.
class OtherOwner {
public:
    explicit OtherOwner(const std::string& root, bool forks = false) {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            close(fds[0]);
            IOReturn result = ClaimUtilityClient(HostPaths(root));
            // The child says when it runs, so the owner is never killed before the child has
            // given up its copies of the claim.
            int ready[2] = {-1, -1};
            if (forks && pipe(ready) != 0) _exit(1);
            pid_t child = forks ? fork() : 0;
            if (forks && child == 0) {
                if (write(ready[1], "x", 1) != 1) _exit(1);
                pause();
                _exit(0);
            }
            char byte = 0;
            if (forks && read(ready[0], &byte, 1) != 1) _exit(1);
            if (write(fds[1], &result, sizeof result) != sizeof result) _exit(1);
            if (write(fds[1], &child, sizeof child) != sizeof child) _exit(1);
            pause();
            _exit(0);
        }
        close(fds[1]);
        if (read(fds[0], &result_, sizeof result_) != sizeof result_) result_ = -1;
        if (read(fds[0], &child_, sizeof child_) != sizeof child_) child_ = 0;
        close(fds[0]);
    }
    ~OtherOwner() {
        killNow();
        if (child_ > 0) kill(child_, SIGKILL);
    }
    IOReturn result() const { return result_; }
    void killNow() {
        if (pid_ <= 0) return;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    pid_t child_ = 0;  // reparented when the owner dies: not ours to wait for
    IOReturn result_ = -1;
};

TEST(UtilityClientOwnerTest, OneProcessAtATimeUntilTheOwnerDies) {
    TempHost host;
    for (bool forks : {true, false}) {  // a child forked by the owner owns nothing
        SCOPED_TRACE(forks);
        OtherOwner other(host.root(), forks);
        ASSERT_EQ(other.result(), kIOReturnSuccess);
        EXPECT_EQ(ClaimUtilityClient(HostPaths(host.root())), kIOReturnExclusiveAccess);
        other.killNow();
        EXPECT_EQ(OtherOwner(host.root()).result(), kIOReturnSuccess);
    }
    EXPECT_EQ(ClaimUtilityClient(HostPaths(host.root())), kIOReturnSuccess);
    // The owner may claim again, under any spelling of the root; others may not.
    EXPECT_EQ(ClaimUtilityClient(HostPaths(host.root() + "/./")), kIOReturnSuccess);
    EXPECT_EQ(ClaimUtilityClient(HostPaths(host.root())), kIOReturnSuccess);
}

TEST(UtilityClientOwnerTest, ALinkOrAFifoInTheLockFilesPlaceIsRefused) {
    alarm(30);  // a claim that waits on the FIFO ends the test program instead of hanging it
    for (const char* kind : {"link", "fifo", "folder"}) {
        SCOPED_TRACE(kind);
        TempHost host;
        const std::string lock = emu::UtilityClientLockFile(HostPaths(host.root()));
        const std::string target = host.root() + "/elsewhere";
        WriteFileBytes(target, "keep");
        if (std::string(kind) == "link") std::filesystem::create_symlink(target, lock);
        if (std::string(kind) == "fifo") mkfifo(lock.c_str(), 0644);
        if (std::string(kind) == "folder") std::filesystem::create_directory(lock);
        std::string problem;
        EXPECT_EQ(ClaimUtilityClient(HostPaths(host.root()), &problem), kIOReturnError);
        EXPECT_NE(problem.find(lock), std::string::npos) << problem;
        EXPECT_EQ(ReadFileBytes(target), "keep");
    }
    alarm(0);
}

TEST_F(HostHandlesTest, TheUserClientIsClaimedAgainOnAHostMadeAnew) {
    ASSERT_EQ(emu::KernelOpenUserClient(host.root(), service, 0, nullptr), kIOReturnSuccess);
    ASSERT_EQ(emu::KernelOpenUserClient(host.root(), service, 0, nullptr), kIOReturnSuccess);
    std::filesystem::remove_all(host.root());
    host.hostOk({"init"});
    fresh();
    // Another process owns the new host's user client before this one asks again.
    OtherOwner other(host.root());
    EXPECT_EQ(other.result(), kIOReturnSuccess);
    EXPECT_EQ(emu::KernelOpenUserClient(host.root(), service, 0, nullptr),
              kIOReturnExclusiveAccess);
}

// Something in the place of a file the card works on in place is refused at once, naming the
// file and the mend; the file outside stays as it was and `repair` makes the host's file its own.
TEST_F(HostHandlesTest, AnythingButAPlainFileInThePlaceOfTheFlashOrTheDriverStateIsRefused) {
    alarm(30);  // a command that waits on the FIFO ends the test program instead of hanging it
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"flash.bin", "fifo",
         "flash.bin is a FIFO, not a file of the host's own: sc820-host repair mends it"},
        {"driver.bin", "fifo", "driver.bin is a FIFO"},
        {"flash.bin", "symlink", "flash.bin is a symbolic link, not a file of the host's own"},
        {"driver.bin", "symlink", "driver.bin is a symbolic link"},
        {"flash.bin", "hardlink", "flash.bin is a file with another name (2 links)"},
        {"driver.bin", "hardlink", "driver.bin is a file with another name (2 links)"},
    };
    TempDir outside;
    const std::string other = outside.path() + "/other";
    for (const auto& [name, planted, message] : cases) {
        SCOPED_TRACE(std::string(name) + " " + planted);
        fresh();
        firstChunk();  // the file's descriptor is kept
        const std::string original = ReadFileBytes(db(name));
        WriteFileBytes(other, original);
        ASSERT_EQ(std::remove(db(name).c_str()), 0);
        const std::string kind = planted;
        ASSERT_EQ(kind == "fifo"      ? mkfifo(db(name).c_str(), 0644)
                  : kind == "symlink" ? symlink(other.c_str(), db(name).c_str())
                                      : link(other.c_str(), db(name).c_str()),
                  0);
        std::string placeholder(2, '\0'), problem;
        EXPECT_EQ(call(kEraseFlash, placeholder, &problem), kIOReturnError);
        EXPECT_NE(problem.find(message), std::string::npos) << problem;
        host.hostOk({"repair"});
        struct stat info {};
        ASSERT_EQ(lstat(db(name).c_str(), &info), 0);
        EXPECT_TRUE(S_ISREG(info.st_mode) && info.st_nlink == 1);
        EXPECT_EQ(ReadFileBytes(other), original);
        std::remove(other.c_str());
    }
    alarm(0);
}

TEST_F(HostHandlesTest, AChangedStateThatIsNotSavedIsSeenByNoOtherOperation) {
    for (bool saved : {false, true}) {
        {
            emu::HostSession session(host.root());
            session.state().faults.insert(emu::kFaultMasterPort);
            EXPECT_TRUE(session.current().faultOn(emu::kFaultMasterPort));
            if (saved) session.save();
        }
        EXPECT_EQ(masterPort(), saved ? KERN_FAILURE : KERN_SUCCESS);
    }
}

}  // namespace
