// What a process keeps of a host between kernel operations (descriptors, the parsed state, the
// card's records) must never hide a change: another process's change between two operations,
// a host made anew in the same place, a file replaced under a held descriptor, a fork, and a
// change that was never saved.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "driverif/CommandCodes.h"
#include "emulator/card/UtilityClientOwner.h"
#include "emulator/card/UtilityDriver.h"
#include "emulator/host/HostSession.h"
#include "emulator/host/HostState.h"
#include "emulator/kernel/KernelCalls.h"
#include "tests/emulator/EmulatedHost.h"
#include "tests/support/TempHost.h"

namespace {

using emu::CallForm;
using emu::UserClientCall;

class HostHandlesTest : public testing::Test {
public:
    void SetUp() override {
        host.swapDrivers();
        service = static_cast<uint32_t>(std::stoul(testhost::StatusFact(host, "utility-service")));
    }
    std::string db(const char* name) const { return host.root() + "/var/db/sc820/" + name; }
    IOReturn masterPort() {
        std::string problem;
        return emu::KernelMasterPort(host.root(), &problem);
    }
    size_t utilityServices() {
        std::vector<emu::ServiceRef> found;
        std::string problem;
        emu::KernelMatchServices(host.root(), emu::MatchBy::className,
                                 "com_tavik_iokit_sc820utl_drvr", &found, &problem);
        return found.size();
    }
    std::string readRecord() {
        std::string record(308, '\0');
        UserClientCall call{CallForm::structureOutput,
                            kGetEEPConfig,
                            0,
                            reinterpret_cast<uint8_t*>(record.data()),
                            308,
                            0};
        EXPECT_EQ(emu::CallUtilityDriver(host.root(), service, call), kIOReturnSuccess);
        return record;
    }
    // The first chunk of a read sweep (any command before it starts the sweep over).
    std::string firstChunk() {
        readRecord();
        std::string chunk(kFlashChunkSize, '\0');
        UserClientCall call{
            CallForm::structureOutput, kReadFlash, 0, reinterpret_cast<uint8_t*>(chunk.data()),
            kFlashChunkSize,           0};
        EXPECT_EQ(emu::CallUtilityDriver(host.root(), service, call), kIOReturnSuccess);
        return chunk;
    }
    // Puts `bytes` in the place of the host file `name` the way every writer does: a new file
    // renamed over the old one.
    void replaceFile(const char* name, const std::string& bytes) {
        const std::string fresh = db(name) + ".new";
        WriteFileBytes(fresh, bytes);
        ASSERT_EQ(std::rename(fresh.c_str(), db(name).c_str()), 0);
    }
    TempHost host;
    uint32_t service = 0;
};

std::string FlashPattern(int seed) {
    std::string bytes(kFlashSize, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 5 + seed);
    return bytes;
}

// Whether this process has a descriptor open on the file at `path`.
bool HeldOpen(const std::string& path) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (std::filesystem::read_symlink(entry.path(), error).string() == path) return true;
    }
    return false;
}

// A cached version holds its file open: the inode cannot go to a replacement then, so a file
// system with coarse times cannot make a replacement look like the version cached.
TEST_F(HostHandlesTest, ACachedVersionHoldsItsFileOpen) {
    readRecord();
    EXPECT_TRUE(HeldOpen(db("eeprom.bin")));
    replaceFile("eeprom.bin", testhost::PatternRecord(3));
    EXPECT_EQ(readRecord(), testhost::PatternRecord(3));
    EXPECT_TRUE(HeldOpen(db("eeprom.bin")));
}

struct ChangeCase {
    const char* what;
    // Makes the change from outside this process's kernel operations.
    std::function<void(HostHandlesTest&)> change;
    // What the next operation sees, before and after the change.
    std::function<std::string(HostHandlesTest&)> probe;
    std::function<std::string()> before;
    std::function<std::string()> after;
};

TEST_F(HostHandlesTest, AChangeMadeBetweenTwoOperationsIsSeenByTheSecond) {
    TempDir work;
    const std::string recordFile = work.path() + "/record.bin";
    const std::string flashFile = work.path() + "/flash.bin";
    WriteFileBytes(recordFile, testhost::PatternRecord(7));
    WriteFileBytes(flashFile, FlashPattern(3));
    const std::string defaultRecord = ReadFileBytes(db("eeprom.bin"));
    const std::string defaultChunk = ReadFileBytes(db("flash.bin")).substr(0, kFlashChunkSize);
    auto status = [](IOReturn value) { return std::to_string(value); };

    const std::vector<ChangeCase> cases = {
        {"a fault switched by sc820-host",
         [](HostHandlesTest& t) {
             t.host.hostOk({"fault", "master-port", "on"});
         },
         [&](HostHandlesTest& t) { return status(t.masterPort()); },
         [&] { return status(KERN_SUCCESS); }, [&] { return status(KERN_FAILURE); }},
        {"the EEPROM record put by sc820-host",
         [&](HostHandlesTest& t) {
             t.host.hostOk({"eeprom", "put", recordFile});
         },
         [](HostHandlesTest& t) { return t.readRecord(); }, [&] { return defaultRecord; },
         [&] { return testhost::PatternRecord(7); }},
        {"the flash put by sc820-host",
         [&](HostHandlesTest& t) {
             t.host.hostOk({"flash", "put", flashFile});
         },
         [](HostHandlesTest& t) { return t.firstChunk(); }, [&] { return defaultChunk; },
         [&] { return FlashPattern(3).substr(0, kFlashChunkSize); }},
        {"the flash file replaced under the held descriptor",
         [](HostHandlesTest& t) { t.replaceFile("flash.bin", FlashPattern(9)); },
         [](HostHandlesTest& t) { return t.firstChunk(); }, [&] { return defaultChunk; },
         [&] { return FlashPattern(9).substr(0, kFlashChunkSize); }},
        {"the EEPROM file replaced",
         [](HostHandlesTest& t) { t.replaceFile("eeprom.bin", testhost::PatternRecord(4)); },
         [](HostHandlesTest& t) { return t.readRecord(); }, [&] { return defaultRecord; },
         [&] { return testhost::PatternRecord(4); }},
        {"the host reset by init --force",
         [](HostHandlesTest& t) {
             t.host.hostOk({"init", "--force"});
         },
         [](HostHandlesTest& t) { return std::to_string(t.utilityServices()); },
         [] { return std::string("1"); }, [] { return std::string("0"); }},
    };
    for (const ChangeCase& c : cases) {
        SCOPED_TRACE(c.what);
        host.hostOk({"init", "--force"});
        host.swapDrivers();
        service = static_cast<uint32_t>(std::stoul(testhost::StatusFact(host, "utility-service")));
        // Twice before: the second operation runs on what the first one kept. (Compared as
        // booleans: the values are kilobytes of binary.)
        EXPECT_TRUE(c.probe(*this) == c.before()) << "first operation";
        EXPECT_TRUE(c.probe(*this) == c.before()) << "second operation";
        c.change(*this);
        EXPECT_TRUE(c.probe(*this) == c.after()) << "the operation after the change";
    }
}

TEST_F(HostHandlesTest, ADriverStateFileReplacedUnderTheHeldDescriptorIsNotWritten) {
    readRecord();
    const std::string oneCommand = ReadFileBytes(db("driver.bin"));
    readRecord();
    readRecord();
    replaceFile("driver.bin", oneCommand);  // counts: 1 configuration read
    readRecord();
    // The command lands in the file the path names now, not in the one held before.
    EXPECT_EQ(host.commandCounts(), (std::vector<int>{2, 0, 0, 0, 0, 0}));
}

// Holds the lock of the host at `root` through a descriptor of its own, as another process does.
class ForeignLock {
public:
    explicit ForeignLock(const std::string& root)
        : fd_(open((root + "/var/db/sc820/lock").c_str(), O_RDWR | O_CLOEXEC)) {
        EXPECT_GE(fd_, 0);
        EXPECT_EQ(flock(fd_, LOCK_EX), 0);
    }
    ~ForeignLock() { close(fd_); }

private:
    int fd_;
};

TEST_F(HostHandlesTest, AHostMadeAnewInThePlaceIsLockedThroughItsNewLockFile) {
    // The new host's state may first be read without the lock (a registry search): that read
    // says nothing of the lock file, and the next locked operation must still find the new one.
    for (bool readFirst : {false, true}) {
        SCOPED_TRACE(readFirst ? "read without the lock first" : "locked operation first");
        { emu::HostSession keep(host.root()); }  // the old lock file's descriptor is kept
        std::filesystem::remove_all(host.root());
        host.hostOk({"init"});
        if (readFirst) {
            EXPECT_EQ(masterPort(), KERN_SUCCESS);
        }
        std::optional<ForeignLock> other(host.root());
        auto operation = std::async(std::launch::async, [this] {
            emu::HostSession session(host.root());
            return session.current().faults.size();
        });
        // While another holder has the new host's lock, the operation waits for it.
        EXPECT_EQ(operation.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
        other.reset();
        EXPECT_EQ(operation.get(), 0u);
    }
}

// Reading the kernel state takes no lock: a search goes on while another process holds the
// host's lock, and finds the state as the last complete change left it.
TEST_F(HostHandlesTest, AReadOfTheKernelStateDoesNotWaitForTheLock) {
    ASSERT_EQ(utilityServices(), 1u);
    std::optional<ForeignLock> other(host.root());
    auto search = std::async(std::launch::async, [this] { return utilityServices(); });
    EXPECT_EQ(search.wait_for(std::chrono::seconds(10)), std::future_status::ready)
        << "the search waited for the lock";
    other.reset();  // a search that waits ends now, so the test fails instead of hanging
    EXPECT_EQ(search.get(), 1u);
}

TEST_F(HostHandlesTest, AForkedChildWaitsForTheLockItsParentHolds) {
    { emu::HostSession keep(host.root()); }  // the lock file's descriptor is kept
    // The child's copy of the parent's operation either ends first (its end must not release
    // the parent's lock) or is left alone (its hold on this process's handles must not stop
    // the child).
    for (bool childEndsItsCopy : {true, false}) {
        SCOPED_TRACE(childEndsItsCopy ? "the child ends its copy" : "the child leaves its copy");
        int done[2];
        ASSERT_EQ(pipe(done), 0);
        std::optional<emu::HostSession> held(host.root());
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (childEndsItsCopy) held.reset();
            char result = 'y';
            try {
                emu::HostSession locked(host.root());
            } catch (...) {
                result = 'n';
            }
            _exit(write(done[1], &result, 1) == 1 ? 0 : 1);
        }
        close(done[1]);
        pollfd ready{done[0], POLLIN, 0};
        EXPECT_EQ(poll(&ready, 1, 300), 0) << "the child ran while the parent held the lock";
        held.reset();
        EXPECT_EQ(poll(&ready, 1, 10000), 1) << "the child never ran";
        char result = 0;
        EXPECT_EQ(read(done[0], &result, 1), 1);
        EXPECT_EQ(result, 'y');
        close(done[0]);
        kill(child, SIGKILL);  // only matters when it hangs
        waitpid(child, nullptr, 0);
    }
}

TEST_F(HostHandlesTest, TheUserClientIsClaimedAgainOnAHostMadeAnew) {
    std::string problem;
    ASSERT_EQ(emu::KernelOpenUserClient(host.root(), service, 0, &problem), kIOReturnSuccess);
    ASSERT_EQ(emu::KernelOpenUserClient(host.root(), service, 0, &problem), kIOReturnSuccess);
    std::filesystem::remove_all(host.root());
    host.hostOk({"init"});
    host.swapDrivers();
    service = static_cast<uint32_t>(std::stoul(testhost::StatusFact(host, "utility-service")));
    // Another process owns the new host's user client before this one asks again.
    int claimed[2];
    ASSERT_EQ(pipe(claimed), 0);
    pid_t other = fork();
    ASSERT_GE(other, 0);
    if (other == 0) {
        char result = emu::ClaimUtilityClient(emu::HostPaths(host.root())) == kIOReturnSuccess;
        if (write(claimed[1], &result, 1) != 1) _exit(1);
        pause();
        _exit(0);
    }
    close(claimed[1]);
    char result = 0;
    ASSERT_EQ(read(claimed[0], &result, 1), 1);
    close(claimed[0]);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(emu::KernelOpenUserClient(host.root(), service, 0, &problem),
              kIOReturnExclusiveAccess);
    kill(other, SIGKILL);
    waitpid(other, nullptr, 0);
}

// Something put in the place of a file the card works on in place is refused at once, naming
// the file and the mend: a FIFO (opening it would wait for a writer that never comes), a link
// to a file outside the host, a second name of one. The file outside stays as it was, and
// `sc820-host repair` makes the host's file its own again.
TEST_F(HostHandlesTest, AnythingButAPlainFileInThePlaceOfTheFlashOrTheDriverStateIsRefused) {
    alarm(30);  // a command that waits on the FIFO ends the test program instead of hanging it
    struct Case {
        const char* name;
        const char* planted;  // fifo, symlink, hardlink
        const char* message;
    };
    const Case cases[] = {
        {"flash.bin", "fifo",
         "flash.bin is a FIFO, not a file of the host's own: sc820-host "
         "repair mends it"},
        {"driver.bin", "fifo", "driver.bin is a FIFO"},
        {"flash.bin", "symlink", "flash.bin is a symbolic link, not a file of the host's own"},
        {"driver.bin", "symlink", "driver.bin is a symbolic link"},
        {"flash.bin", "hardlink", "flash.bin is a file with another name (2 links)"},
        {"driver.bin", "hardlink", "driver.bin is a file with another name (2 links)"},
    };
    TempDir outside;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + c.planted);
        host.hostOk({"init", "--force"});
        host.swapDrivers();
        service = static_cast<uint32_t>(std::stoul(testhost::StatusFact(host, "utility-service")));
        firstChunk();  // the file's descriptor is kept
        const std::string other = outside.path() + "/other";
        const std::string original = ReadFileBytes(db(c.name));
        WriteFileBytes(other, original);
        ASSERT_EQ(std::remove(db(c.name).c_str()), 0);
        const std::string planted = c.planted;
        int made = planted == "fifo"      ? mkfifo(db(c.name).c_str(), 0644)
                   : planted == "symlink" ? symlink(other.c_str(), db(c.name).c_str())
                                          : link(other.c_str(), db(c.name).c_str());
        ASSERT_EQ(made, 0);
        std::vector<uint8_t> placeholder(2, 0);
        UserClientCall erase{CallForm::structureInput, kEraseFlash, 0, placeholder.data(), 2, 0};
        std::string problem;
        EXPECT_EQ(emu::CallUtilityDriver(host.root(), service, erase, &problem), kIOReturnError);
        EXPECT_NE(problem.find(c.message), std::string::npos) << problem;
        EXPECT_EQ(ReadFileBytes(other), original);
        host.hostOk({"repair"});
        struct stat info {};
        ASSERT_EQ(lstat(db(c.name).c_str(), &info), 0);
        EXPECT_TRUE(S_ISREG(info.st_mode) && info.st_nlink == 1);
        EXPECT_EQ(ReadFileBytes(other), original);
        std::remove(other.c_str());
    }
    alarm(0);
}

TEST_F(HostHandlesTest, AChangedStateThatIsNotSavedIsSeenByNoOtherOperation) {
    ASSERT_EQ(masterPort(), KERN_SUCCESS);
    {
        emu::HostSession session(host.root());
        session.state().faults.insert(emu::kFaultMasterPort);
        EXPECT_TRUE(session.current().faultOn(emu::kFaultMasterPort));
    }
    EXPECT_EQ(masterPort(), KERN_SUCCESS);
    {
        emu::HostSession session(host.root());
        session.state().faults.insert(emu::kFaultMasterPort);
        session.save();
    }
    EXPECT_EQ(masterPort(), KERN_FAILURE);
}

}  // namespace
