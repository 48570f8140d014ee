// How sc820-host treats files under trouble: a full disk, hostile files in and outside the host,
// a read-only host, broken standard streams, temporaries left by a killed process, and a
// program moved away after it made a host.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <thread>

#include "emulator/host/SystemLog.h"
#include "tests/emulator/HostFixture.h"
#include "tests/support/SmallDisk.h"

namespace fs = std::filesystem;
using testhost::PatternRecord;
using testing::EndsWith;
using testing::HasSubstr;

namespace {

class HostFilesTest : public HostFixture {};

// The host's folder of records moved onto a small disk that is then filled up: every write
// fails as a whole and keeps the old files.
TEST_F(HostFilesTest, OnAFullDiskEveryWriteFailsAsAWholeAndKeepsTheOldFiles) {
    auto files = Files(db());
    SmallDisk disk(db(), 512 * 1024);
    if (!disk.mounted()) GTEST_SKIP() << disk.reason();
    for (const auto& [name, bytes] : files) WriteFileBytes(db(name), bytes);
    WriteFileBytes(db("copy.bin"), files["copy.bin"] = "the old copy");
    put("record", PatternRecord(1));
    put("image", std::string(4000, '\x11'));
    disk.fill();
    files["filler"] = ReadFileBytes(db("filler"));
    for (const std::string& command :
         Words{"eeprom put @record", "factory put @record", "flash put @image", "flash erase",
               "attach 3", "auth deny", "eeprom get " + db("copy.bin"),
               "flash get " + db("copy.bin")}) {
        run(command, 1, "No space left on device");
        EXPECT_EQ(Files(db()), files) << command << " changed a file";
    }
    fs::remove(db("filler"));
    run("eeprom put @record", 0, "");
    EXPECT_EQ(ReadFileBytes(db("eeprom.bin")), PatternRecord(1));
}

struct Hostile {
    std::string path;  // under the root, or "@out" in scratch; "" plants nothing
    std::string kind;  // fifo, symlink, dangling, hardlink, huge (1 TiB, sparse), device, folder
    std::string command;
    int status;
    std::string says;
};

// Whatever is planted, a command neither waits, nor reaches outside, nor runs out of memory:
// `get FILE` replaces a regular file and nothing else; a file planted in the host is refused
// naming it, and `sc820-host repair` mends the host.
TEST_F(HostFilesTest, HostileFilesAreRefusedWithoutWaitingOrReachingOutside) {
    alarm(60);  // a command that waits on a FIFO ends the test program instead of hanging it
    const std::string target = scratch.path() + "/target";
    fs::create_directories(scratch.path() + "/Bad.kext/Contents");
    put("Bad.kext/Contents/Info.plist",
        "<plist><dict><key>CFBundleIdentifier</key><string>com.example.\xff</string>"
        "<key>CFBundleVersion</key><string>1</string></dict></plist>");
    std::vector<Hostile> cases = {
        {"var/log/system.log", "fifo", "log", 1, "system.log is a FIFO"},
        {"var/log/system.log", "symlink", "log", 1, "system.log is a symbolic link"},
        {"var/log/system.log", "huge", "log", 0, "(earlier entries left out"},
        {"var/db/sc820/state.json", "huge", "status", 1,
         "state.json is corrupt: more than 4194304 bytes"},
        {"var/db/sc820/eeprom.bin", "symlink", "eeprom show", 1,
         "eeprom.bin is a symbolic link, not a file of the host's own: sc820-host repair mends it"},
        {"var/db/sc820/eeprom.bin", "hardlink", "eeprom show", 1,
         "eeprom.bin is a file with another name (2 links)"},
        {"var/db/sc820/lock", "dangling", "init --force", 0, "initialised"},
        {"var/db/sc820/lock", "symlink", "status", 1, "lock is a symbolic link"},
        {"", "", "/sbin/kextload @Bad.kext", 1, "CFBundleIdentifier is not valid UTF-8"},
    };
    for (const auto& [kind, says] :
         std::vector<std::pair<std::string, std::string>>{{"symlink", "is a symbolic link"},
                                                          {"dangling", "is a symbolic link"},
                                                          {"fifo", "is a FIFO"},
                                                          {"device", "is a device"},
                                                          {"folder", "is a folder"}})
        for (const char* part : {"eeprom", "factory", "flash"})
            cases.push_back({"@out", kind, std::string(part) + " get @out", 1, says});
    for (const Hostile& c : cases) {
        SCOPED_TRACE(c.path + " " + c.kind + " " + c.command);
        const bool inHost = c.path[0] != '@';
        const std::string path = inHost ? host.root() + "/" + c.path : scratch.path() + "/out";
        WriteFileBytes(target, c.kind == "hardlink" ? ReadFileBytes(path) : "outside");
        const std::string outside = ReadFileBytes(target);
        if (c.kind == "huge") {
            ASSERT_EQ(truncate(target.c_str(), 1ll << 40), 0);
        }
        if (!c.path.empty()) fs::remove(path);
        ASSERT_EQ(c.kind == "fifo"       ? mkfifo(path.c_str(), 0644)
                  : c.kind == "symlink"  ? symlink(target.c_str(), path.c_str())
                  : c.kind == "dangling" ? symlink((target + ".new").c_str(), path.c_str())
                  : c.kind == "hardlink" ? link(target.c_str(), path.c_str())
                  : c.kind == "huge"     ? rename(target.c_str(), path.c_str())
                  : c.kind == "device"   ? mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 3))
                  : c.kind == "folder"   ? mkdir(path.c_str(), 0755)
                                         : 0,
                  0);
        struct stat before {
        }, after{};
        lstat(path.c_str(), &before);
        const auto files = c.path.empty() ? Files(db()) : std::map<std::string, std::string>();
        run(c.command, c.status, c.says);
        EXPECT_FALSE(fs::exists(target + ".new"));
        if (c.kind != "huge") {
            EXPECT_EQ(ReadFileBytes(target), outside);
        }
        if (c.path.empty()) {
            EXPECT_EQ(Files(db()), files);
        }
        lstat(path.c_str(), &after);
        if (!inHost) {
            EXPECT_TRUE(after.st_ino == before.st_ino && after.st_mode == before.st_mode);
        }
        if (inHost) {
            run("repair", 0, "repaired");
        }
        if (inHost) {
            run(c.path.empty() ? "status" : c.command, 0, "");
        }
        fs::remove(target);
    }
    alarm(0);
    // A regular file is replaced whole and keeps its mode; no temporary is left behind.
    fs::remove(scratch.path() + "/out");
    put("out", std::string(5000, 'x'));
    ASSERT_EQ(chmod((scratch.path() + "/out").c_str(), 0640), 0);
    run("eeprom put " + put("in", PatternRecord(4)), 0, "");
    run("eeprom get @out", 0, "");
    EXPECT_EQ(ReadFileBytes(scratch.path() + "/out"), PatternRecord(4));
    struct stat info {};
    ASSERT_EQ(stat((scratch.path() + "/out").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    for (const auto& entry : fs::directory_iterator(scratch.path()))
        EXPECT_NE(entry.path().filename().string()[0], '.') << "a temporary was left behind";
}

// The input of `put` is read before the host is locked: a FIFO nobody writes to yet keeps
// only its own command waiting.
TEST_F(HostFilesTest, AFifoGivenToPutBlocksNoOtherCommand) {
    const std::string fifo = scratch.path() + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::thread putter([&] { run("eeprom put @fifo", 0, ""); });
    // timeout(1) ends a command that would wait for the lock: exit 124 instead of a hang.
    std::string out;
    EXPECT_EQ(RunProgram({"/usr/bin/timeout", "30", SC820_HOST_BINARY, "--root", host.root(),
                          "auth", "deny"},
                         &out),
              0)
        << out;
    int writer = open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(writer, 0);
    EXPECT_EQ(write(writer, PatternRecord(9).data(), 308), 308);
    close(writer);
    putter.join();
    EXPECT_EQ(testhost::StatusFact(host, "auth"), "deny");
    EXPECT_EQ(ReadFileBytes(db("eeprom.bin")), PatternRecord(9));
}

// Reading needs no write access; changing is refused with the system's reason.
TEST(ReadOnlyHostTest, StatusShowAndListingsWorkOnAReadOnlyHost) {
    TempDir scratch;
    SmallDisk disk(scratch.path(), 64 << 20);
    if (!disk.mounted()) GTEST_SKIP() << disk.reason();
    const std::string root = scratch.path() + "/host";
    std::string out;
    ASSERT_EQ(RunProgram({SC820_HOST_BINARY, "--root", root, "init"}, &out), 0) << out;
    disk.makeReadOnly();
    for (const Words& command : {Words{"status"}, Words{"eeprom", "show"}, Words{"log"}}) {
        Words argv = {SC820_HOST_BINARY, "--root", root};
        argv.insert(argv.end(), command.begin(), command.end());
        EXPECT_EQ(RunProgram(argv, &out), 0) << command[0] << ": " << out;
    }
    EXPECT_EQ(RunProgram({root + "/usr/sbin/kextstat"}, &out), 0) << out;
    EXPECT_THAT(out, HasSubstr("com.tavik.driver.ZolSC820"));
    EXPECT_EQ(RunProgram({SC820_HOST_BINARY, "--root", root, "auth", "deny"}, &out), 1);
    EXPECT_THAT(out, HasSubstr("Read-only file system"));
}

// Output that cannot be written makes the command fail; a standard descriptor closed at the
// start is never taken by a file of the host, whose text would then land in it.
TEST_F(HostFilesTest, OutputErrorsFailAndClosedStreamsStayClosedToHostFiles) {
    const std::string tool =
        "'" + std::string(SC820_HOST_BINARY) + "' --root '" + host.root() + "' ";
    const std::string kextstat = "'" + host.root() + "/usr/sbin/kextstat' ";
    const std::string lock = ReadFileBytes(db("lock"));
    WriteFileBytes(host.root() + "/var/log/system.log", "2026-01-01 00:00:00.000 test[1]: one\n");
    const std::tuple<std::string, int, const char*> cases[] = {
        {tool + "status >/dev/full", 1, "sc820-host: cannot write the output"},
        {tool + "eeprom show >/dev/full", 1, "sc820-host: cannot write the output"},
        {tool + "log >/dev/full", 1, "sc820-host: cannot write the output"},
        {kextstat + ">/dev/full", 1, "kextstat: cannot write the output"},
        {tool + "status >&-", 0, ""},
        {tool + "status <&- >&- 2>&-", 0, ""},
        {kextstat + ">&-", 0, ""},
    };
    for (const auto& [command, status, says] : cases) {
        std::string out;
        EXPECT_EQ(RunProgram({"/bin/sh", "-c", command}, &out), status) << command << ": " << out;
        EXPECT_THAT(out, HasSubstr(says)) << command;
        EXPECT_EQ(ReadFileBytes(db("lock")), lock) << command;
    }
}

// A replacement killed half-way leaves a temporary; the next replacement in the host's folder,
// or the next repair for a copy of the program, removes it, and only it.
TEST_F(HostFilesTest, TheNextReplacementRemovesTemporariesOfKilledOnes) {
    const auto before = Files(db());
    put("r", before.at("eeprom.bin"));
    for (const char* command : {"eeprom put @r", "auth allow"}) {
        for (const char* name : {".eeprom.bin.tmp-k1ll3d", ".state.json.tmp-abcdef"})
            WriteFileBytes(db(name), "half");
        WriteFileBytes(db(".keep"), "not ours");
        run(command, 0, "");
        auto after = Files(db());
        EXPECT_EQ(after.erase(".keep"), 1u) << command;
        // Every save stamps the state anew: the names and the record say what was left behind.
        for (const auto& [name, bytes] : before) EXPECT_EQ(after.erase(name), 1u) << name;
        EXPECT_TRUE(after.empty()) << command << ": " << after.begin()->first;
    }
    const std::string libexec = host.root() + "/usr/libexec";
    WriteFileBytes(libexec + "/.sc820-host.tmp-k1ll3d", "half a program");
    run("repair", 0, "");
    EXPECT_EQ(Files(libexec).size(), 1u);
    EXPECT_TRUE(fs::exists(libexec + "/sc820-host"));
}

// The tools of a host link, relatively, to the host's own copy of the program: the host keeps
// working when the program that made it is deleted, and when it is moved.
TEST(HostProgramTest, AHostOutlivesTheProgramThatMadeIt) {
    TempDir scratch;
    const std::string program = scratch.path() + "/build/sc820-host";
    fs::create_directories(scratch.path() + "/build");
    fs::copy_file(SC820_HOST_BINARY, program);
    const std::string root = scratch.path() + "/host";
    std::string out;
    ASSERT_EQ(RunProgram({program, "--root", root, "init"}, &out), 0) << out;
    fs::remove_all(scratch.path() + "/build");
    for (const auto& [tool, target] :
         std::map<std::string, std::string>{{"/sbin/kextload", "../usr/libexec/sc820-host"},
                                            {"/sbin/kextunload", "../usr/libexec/sc820-host"},
                                            {"/usr/sbin/kextstat", "../libexec/sc820-host"}})
        EXPECT_EQ(fs::read_symlink(root + tool).string(), target) << tool;
    const std::string moved = scratch.path() + "/moved";
    fs::rename(root, moved);
    EXPECT_EQ(RunProgram({moved + "/usr/sbin/kextstat"}, &out), 0) << out;
    EXPECT_THAT(out, HasSubstr("com.tavik.driver.ZolSC820"));
    EXPECT_EQ(RunProgram({moved + "/sbin/kextunload", "-m", "com.tavik.driver.ZolSC820"}, &out), 0)
        << out;
}

// The log file keeps one escaped line per entry; the echo on standard error leaves out the
// text's line ends instead of showing them as \n.
TEST_F(HostFilesTest, TheLogsEchoOnStandardErrorEndsInARealLineEnd) {
    const std::string captured = scratch.path() + "/stderr";
    int saved = dup(2);
    int file = open(captured.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(file, 0);
    dup2(file, 2);
    close(file);
    emu::AppendSystemLog(host.root(), "tool", "first line\nsecond line\n");
    emu::AppendSystemLog(host.root(), "tool", "plain");
    dup2(saved, 2);
    close(saved);
    const std::string echo = ReadFileBytes(captured);
    EXPECT_EQ(std::count(echo.begin(), echo.end(), '\n'), 2) << echo;
    EXPECT_THAT(echo, HasSubstr("]: first line\\nsecond line\n"));
    EXPECT_THAT(echo, EndsWith("]: plain\n"));
    const std::vector<std::string> lines = host.logLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_THAT(lines[0], EndsWith("]: first line\\nsecond line\\n"));
    EXPECT_THAT(lines[1], EndsWith("]: plain"));
}

}  // namespace
