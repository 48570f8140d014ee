// What the utility does when the world fails under it: signals in the middle of a change, a
// registry lost during a Write, a full disk, a status tool that never ends, a second utility.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "app/Messages.h"
#include "driverif/CommandCodes.h"
#include "tests/e2e/Scenario.h"
#include "tests/support/SmallDisk.h"
#include "tests/support/TerminalProgram.h"

namespace {

namespace fs = std::filesystem;
using Reliability = Scenario;

const std::string kErased(kFlashSize, '\xFF');

// The utility under strace (-f: and the programs it starts), one system call made to fail or to
// bring a signal; with `file`, only calls on that file of the card's folder count.
std::function<void(Scenario&)> Traced(bool follow, const std::string& file, const std::string& call,
                                      const std::string& injection, std::string image = "") {
    return [=](Scenario& s) {
        s.runner = {"/usr/bin/strace", "-qq", "-o", "/dev/null"};
        if (follow) s.runner.push_back("-f");
        if (!file.empty())
            s.runner.insert(s.runner.end(), {"-P", s.host.root() + "/var/db/sc820/" + file});
        s.runner.insert(s.runner.end(),
                        {"-e", "trace=" + call, "-e", "inject=" + call + ":" + injection});
        if (!image.empty()) WriteFileBytes(s.work.path() + "/image.bin", image);
    };
}

// A hang-up, Ctrl-C or SIGTERM in the middle of a Write (sent at the 10th chunk written into
// the flash: its first write is the erase) lets the Write finish, verified or erased again; then
// the program ends by the signal at the idle loop, taking no further step and storing nothing.
Row Signalled(const char* signal, int status, const std::string& image, int erases) {
    return {
        {std::string(signal) + (erases == 2 ? ", failed verification" : ""),
         WriteScript("image.bin"),
         {MSG_START, MSG_WRITE, MSG_WRITESTART},
         status},
        Traced(true, "flash.bin", "pwrite64", std::string("signal=") + signal + ":when=11", image),
        [=](Scenario& s, const RunResult& r) {
            EXPECT_EQ(r.lastKind(), "end");
            EXPECT_FALSE(r.has("control"));
            EXPECT_TRUE(s.flash() ==
                        (erases == 1 ? image + std::string(kFlashSize - 30000, '\0') : kErased));
            const auto counts = s.host.commandCounts();
            EXPECT_EQ(counts[kWriteFlash], 17);
            EXPECT_EQ(counts[kEraseFlash], erases);
            EXPECT_EQ(counts[kReadFlash], 17 * 4);
        },
        true};
}

std::map<std::string, std::string> FilesIn(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(folder))
        files[entry.path().filename().string()] = ReadFileBytes(entry.path().string());
    return files;
}

TEST_F(Reliability, SignalsFullDisksAndLingeringTools) {
    std::string out;
    if (RunProgram({"/usr/bin/strace", "-qq", "-o", "/dev/null", "/bin/true"}, &out) != 0)
        GTEST_SKIP() << "strace cannot trace here: " << out;
    std::string fails = Image(65537, 9);
    fails.back() = '\x42';  // the flash cannot hold byte 65,536: the image never verifies
    runTable({
        Signalled("SIGHUP", 129, Image(30000, 8), 1),
        Signalled("SIGTERM", 143, Image(30000, 8), 1),
        Signalled("SIGINT", 130, Image(30000, 8), 1),
        Signalled("SIGTERM", 143, fails, 2),
        // A signal while closing: the store finishes, its success is answered without being
        // shown (nobody may be there to read it), then the program ends by the signal. Only
        // the utility is traced; its first rename is the record's replacement.
        {{"SIGTERM while closing",
          "answer 1\nselect out_hostSCSIID 5\nclose\nanswer 1\n",
          {MSG_START},
          143},
         Traced(false, "", "rename", "signal=SIGTERM:when=1"),
         [](Scenario& s, const RunResult& r) {
             EXPECT_EQ(r.lastKind(), "terminate");
             EXPECT_EQ(s.host.eeprom().HA_ScsiID, 5);
         },
         false,
         true},
        // A registry that cannot be searched in the middle of the sweeps (the kernel state
        // unreadable once, at about the 16th chunk written) ends the program, but only after
        // the Write has verified and erased what failed.
        {{"registry lost during a Write",
          "answer 1\npress write\nanswer 1\nchoose image.bin\nanswer 1\nanswer 1\nanswer 1\n",
          {MSG_START, MSG_WRITE, MSG_WRITESTART, MSG_WRITEFAIL, MSG_SLOTERROR},
          1},
         Traced(false, "state.json", "newfstatat", "error=EIO:when=260", Image(30000, 8)),
         [](Scenario& s, const RunResult&) {
             EXPECT_TRUE(s.flash() == kErased);
             EXPECT_EQ(s.host.commandCounts()[kEraseFlash], 2);
         },
         true},
        // The card's folder lies on a small disk that fills up once start-up has swapped the
        // drivers (kextload, start-up's last tool, is wrapped to fill it): the store fails as a
        // whole, and nothing of it is left behind.
        {{"a store on a full disk",
          "answer 1\nselect out_hostSCSIID 5\nclose\nanswer 1\n"
          "press cancel\n",
          {MSG_START, MSG_STOREFAIL}},
         [](Scenario& s) {
             const std::string db = s.host.root() + "/var/db/sc820";
             const auto files = FilesIn(db);
             auto disk = std::make_shared<SmallDisk>(db, 512 * 1024);
             if (!disk->mounted()) s.skip = disk->reason();
             s.held = disk;
             for (const auto& [name, bytes] : files) WriteFileBytes(db + "/" + name, bytes);
             const std::string twin = s.work.path() + "/twin";
             fs::remove_all(twin);
             fs::create_directories(twin + "/sbin");
             fs::create_symlink(s.host.root() + "/var", twin + "/var");
             fs::create_symlink(s.host.root() + "/usr/libexec/sc820-host", twin + "/sbin/kextload");
             const std::string wrapper = s.host.root() + "/sbin/kextload";
             fs::remove(wrapper);
             WriteFileBytes(wrapper, "#!/bin/sh\n'" + twin +
                                         "/sbin/kextload' \"$@\" || exit $?\n"
                                         "cat /dev/zero > '" +
                                         db + "/filler' 2>/dev/null\nexit 0\n");
             chmod(wrapper.c_str(), 0755);
         },
         [](Scenario& s, const RunResult& r) {
             const std::string db = s.host.root() + "/var/db/sc820";
             ASSERT_TRUE(fs::exists(db + "/filler")) << "the disk was never filled";
             fs::remove(db + "/filler");
             for (const auto& [name, bytes] : FilesIn(db))
                 EXPECT_FALSE(Contains(name, ".tmp-")) << name << " was left behind";
             EXPECT_EQ(s.host.commandCounts()[kSetEEPConfig], 1);
             EXPECT_EQ(r.lastKind(), "terminate");
         }},
        // A status tool that lists the driver and keeps running is stopped after a short
        // grace, which the system log says, and start-up goes on.
        {{"a status tool that keeps running", "answer 1\ndump\npress cancel\n", {MSG_START}},
         [](Scenario& s) {
             const std::string tool = s.host.root() + "/usr/sbin/kmodstat";
             WriteFileBytes(tool,
                            "#!/bin/sh\necho 'Index Refs Address    Size       Wired      "
                            "Name (Version)'\necho '   12    0 0x0        0x0        0x0 "
                            "       com.tavik.driver.ZolSC820 (7.7.7)'\nexec sleep 60\n");
             chmod(tool.c_str(), 0755);
         },
         [](Scenario& s, const RunResult& r) {
             EXPECT_EQ(r.control("out_hostSCSIID"), "7");
             int stopped = 0;
             for (const auto& line : s.host.logLines())
                 stopped += Contains(line, "/usr/sbin/kmodstat (pid ") &&
                            Contains(line, "stopped with SIGTERM");
             EXPECT_EQ(stopped, 1);
         }},
    });
}

int OpenPipe(const std::string& path) {
    mkfifo(path.c_str(), 0600);
    return open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
}

// A utility running in the background, driven by its own script. Its transcript is a pipe
// that the test reads only when asked to: once the test stops reading, the utility's
// transcript writes fill the pipe and hold it, idle, wherever its script has got to.
class BackgroundUtility {
public:
    BackgroundUtility(Scenario& s, const std::string& script)
        : pipe_(OpenPipe(s.work.path() + "/held")),
          program_({s.bundle + "/Contents/bin/sc820-utility"}, [&] {
              WriteFileBytes(s.work.path() + "/held-script", script);
              auto env = s.environment();
              env.insert(env.end(), {"SC820_AUTOMATION=" + s.work.path() + "/held-script",
                                     "SC820_TRANSCRIPT=" + s.work.path() + "/held",
                                     "QT_QPA_PLATFORM=offscreen"});
              return env;
          }()) {}
    ~BackgroundUtility() { close(pipe_); }
    // Reads the transcript as it comes until it holds a line of this kind (at most 60 s).
    bool readUntil(const std::string& kind) {
        struct pollfd ready = {pipe_, POLLIN, 0};
        while (!Contains("\n" + text_, "\n" + kind + "\t")) {
            if (poll(&ready, 1, 60000) != 1 || !read()) return false;
        }
        return true;
    }
    // Reads the rest of the transcript, which lets the utility go on, until it ends: its exit
    // status, or 128 + the signal that ended it.
    int wait(int signal = 0) {
        if (signal != 0) program_.signal(signal);
        fcntl(pipe_, F_SETFL, 0);
        while (read()) {
        }
        return program_.waitForExit(60000);
    }
    std::vector<std::string> alertMessages() const {
        return RunResult{0, "", ParseTranscript(text_)}.alertMessages();
    }

private:
    bool read() {
        char buffer[4096];
        const ssize_t n = ::read(pipe_, buffer, sizeof buffer);
        if (n > 0) text_.append(buffer, n);
        return n > 0;
    }
    int pipe_;
    TerminalProgram program_;
    std::string text_;
};

// The card belongs to the first utility until it ends, however it ends: the second one's open
// is refused, so it says so and quits without sending the card a command. The first one is
// held, idle, before its Write (80 dumps fill the transcript pipe) while the second one runs.
TEST_F(Reliability, TwoUtilities) {
    std::string hold;
    for (int i = 0; i < 80; ++i) hold += "dump\n";
    const std::string image = Image(65536, 3);
    WriteFileBytes(work.path() + "/image.bin", image);
    const std::vector<std::string> refused = {text(MSG_START), text(MSG_INITIALIZE)};
    {
        BackgroundUtility first(*this, "answer 1\n" + hold + WriteScript("image.bin").substr(9));
        ASSERT_TRUE(first.readUntil("control")) << "the first utility never showed its window";
        const RunResult second = run("answer 1\nanswer 1\n");
        EXPECT_EQ(second.alertMessages(), refused) << second.output;
        EXPECT_EQ(second.exitCode, 1);
        EXPECT_EQ(first.wait(), 0);
        EXPECT_EQ(first.alertMessages(),
                  (std::vector<std::string>{text(MSG_START), text(MSG_WRITE), text(MSG_WRITESTART),
                                            text(MSG_WRITESUCCESS)}));
        EXPECT_TRUE(flash() == image);
        // Only the first one's commands reached the card.
        EXPECT_EQ(host.commandCounts(), (std::vector<int>{1, 0, 0, 1, 17 * 4, 17}));
    }
    fs::remove(work.path() + "/held");
    BackgroundUtility first(*this, "answer 1\n" + hold);
    ASSERT_TRUE(first.readUntil("control"));
    EXPECT_EQ(run("answer 1\nanswer 1\n").alertMessages(), refused);
    EXPECT_EQ(first.wait(SIGKILL), 128 + SIGKILL);
    const RunResult next = run("answer 1\ndump\npress cancel\n");
    EXPECT_EQ(next.alertMessages(), std::vector<std::string>{text(MSG_START)}) << next.output;
    EXPECT_EQ(next.exitCode, 0);
}

}  // namespace
