// Two utility processes on one card: the card belongs to the first until it ends, the second
// one's open is refused, so it says so and quits without sending the card a single command.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <sstream>
#include <thread>

#include "app/Messages.h"
#include "driverif/CommandCodes.h"
#include "tests/e2e/Scenario.h"

namespace {

using TwoUtilities = Scenario;

std::string Image(size_t length) {
    std::string image(length, '\0');
    for (size_t i = 0; i < length; ++i) image[i] = static_cast<char>((i * 7 + 3) % 253 + 1);
    return image;
}

// A transcript field as written: \n, \r, \t and \\ escaped.
std::string Unescaped(const std::string& field) {
    std::string text;
    for (size_t i = 0; i < field.size(); ++i) {
        char c = field[i];
        if (c == '\\' && i + 1 < field.size()) {
            c = field[++i];
            c = c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
        }
        text += c;
    }
    return text;
}

// A utility running in the background, driven by its own script. Its transcript is a pipe
// that the test reads only when asked to: once the test stops reading, the utility's
// transcript writes fill the pipe and hold it, idle, wherever its script has got to.
class BackgroundUtility {
public:
    BackgroundUtility(const std::string& dir, const std::string& root, const std::string& script) {
        const std::string scriptPath = dir + "/first-script.txt";
        const std::string transcriptPath = dir + "/first-transcript";
        WriteFileBytes(scriptPath, script);
        mkfifo(transcriptPath.c_str(), 0600);
        transcript_ = open(transcriptPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        std::vector<std::string> env =
            MergedEnvironment({"SC820_HOST_ROOT=" + root, "SC820_AUTOMATION=" + scriptPath,
                               "SC820_TRANSCRIPT=" + transcriptPath, "QT_QPA_PLATFORM=offscreen",
                               "LANG=en_US.UTF-8", "LC_ALL=C.UTF-8", "HOME=" + dir});
        std::vector<char*> envp;
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        std::string program = std::string(SC820_BUNDLE_DIR) + "/Contents/bin/sc820-utility";
        char* argv[] = {program.data(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, (dir + "/first-stderr.txt").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, envp.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~BackgroundUtility() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (transcript_ >= 0) close(transcript_);
    }

    // Reads the transcript until it holds a line of this kind (at most 60 s), then stops.
    bool readUntil(const std::string& kind) {
        for (int i = 0; i < 6000; ++i) {
            readAvailable();
            if (text_.find("\n" + kind + "\t") != std::string::npos ||
                text_.rfind(kind + "\t", 0) == 0) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    void signal(int number) const { kill(pid_, number); }
    // Reads the rest of the transcript, which lets the utility go on, and waits for its end.
    // Returns the exit status, or 128 + the signal that ended it.
    int wait() {
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            readAvailable();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        readAvailable();
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::vector<std::string> alertMessages() const {
        std::vector<std::string> messages;
        std::istringstream in(text_);
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind("alert\t", 0) != 0) continue;
            size_t message = line.find('\t', 6) + 1;
            messages.push_back(Unescaped(line.substr(message, line.find('\t', message) - message)));
        }
        return messages;
    }

private:
    void readAvailable() {
        char buffer[4096];
        ssize_t n = 0;
        while ((n = read(transcript_, buffer, sizeof buffer)) > 0) text_.append(buffer, n);
    }
    int transcript_ = -1;
    std::string text_;
    pid_t pid_ = -1;
};

// Enough dumps to fill the transcript pipe while the test does not read it.
std::string Hold() {
    std::string steps;
    for (int i = 0; i < 80; ++i) steps += "dump\n";
    return steps;
}

// The first utility has opened the card and is held, idle, before its Write while the second
// one starts. The second is refused at its first command
// and quits; the first one's Write then verifies and the flash holds its image.
TEST_F(TwoUtilities, TheSecondIsRefusedAndTheFirstOnesWriteIsUndisturbed) {
    const std::string image = Image(65536);
    const std::string file = work.path() + "/image.bin";
    WriteFileBytes(file, image);
    const SCSIUTY_CFG before = eeprom();
    BackgroundUtility first(work.path(), host.root(),
                            "answer 1\n" + Hold() + "press write\nanswer 1\nchoose " + file +
                                "\nanswer 1\nanswer 1\ndump\npress cancel\n");
    ASSERT_TRUE(first.readUntil("control")) << "the first utility never showed its window";

    const RunResult second = run("answer 1\nanswer 1\n");

    EXPECT_EQ(second.alertMessages(),
              (std::vector<std::string>{text(MSG_START), text(MSG_INITIALIZE)}))
        << second.output;
    EXPECT_EQ(second.lastKind(), "terminate");
    EXPECT_EQ(second.exitCode, 1);  // the card is in use: failure

    EXPECT_EQ(first.wait(), 0);
    EXPECT_EQ(first.alertMessages(),
              (std::vector<std::string>{text(MSG_START), text(MSG_WRITE), text(MSG_WRITESTART),
                                        text(MSG_WRITESUCCESS)}));
    EXPECT_EQ(flash(), image);
    // Only the first one's commands reached the card: the start-up read and refresh, one
    // erase, the sweep, its read-back and the refresh afterwards.
    const auto counts = host.commandCounts();
    EXPECT_EQ(counts[kGetEEPConfig], 1);
    EXPECT_EQ(counts[kSetEEPConfig], 0);
    EXPECT_EQ(counts[kEraseFlash], 1);
    EXPECT_EQ(counts[kWriteFlash], 17);
    EXPECT_EQ(counts[kReadFlash], 17 * 4);  // and the copy kept before the erase
    const SCSIUTY_CFG after = eeprom();
    EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
}

// Ownership ends with the owning process, however it ends: a killed utility frees the card at
// once for the next one.
TEST_F(TwoUtilities, AKilledOwnerFreesTheCard) {
    BackgroundUtility first(work.path(), host.root(), "answer 1\n" + Hold());
    ASSERT_TRUE(first.readUntil("control"));
    EXPECT_EQ(run("answer 1\nanswer 1\n").alertMessages(),
              (std::vector<std::string>{text(MSG_START), text(MSG_INITIALIZE)}));
    first.signal(SIGKILL);
    EXPECT_EQ(first.wait(), 128 + SIGKILL);

    const RunResult next = run("answer 1\ndump\npress cancel\n");
    EXPECT_EQ(next.alertMessages(), (std::vector<std::string>{text(MSG_START)})) << next.output;
    EXPECT_NE(next.control("out_hostSCSIID"), "<none>");
    EXPECT_EQ(next.exitCode, 0);
}

}  // namespace
