// Ownership of the utility driver's user client: one process at a time, freed when the owner
// dies, and never through a link or a FIFO put in the lock file's place.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "emulator/card/UtilityClientOwner.h"
#include "tests/support/TempHost.h"

namespace {

using emu::ClaimUtilityClient;
using emu::HostPaths;

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

}  // namespace
