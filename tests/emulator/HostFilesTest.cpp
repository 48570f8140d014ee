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

#include "driverif/CommandCodes.h"
#include "emulator/card/UtilityClientOwner.h"
#include "emulator/host/SystemLog.h"
#include "tests/emulator/HostFixture.h"
#include "tests/support/NestedPlists.h"
#include "tests/support/SmallDisk.h"

namespace fs = std::filesystem;
using testhost::PatternRecord;
using testing::EndsWith;
using testing::HasSubstr;

namespace {

class HostFilesTest : public HostFixture {};

// The host's folder of records moved onto a small disk that is then filled up: every write
// fails as a whole and keeps the old files. Made read-only, the disk still serves every read.
TEST_F(HostFilesTest, OnAFullOrReadOnlyDiskWritesFailWholeAndReadsWork) {
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
               "flash get " + db("copy.bin")})
        run(command, 1, "No space left on device");
    EXPECT_EQ(Files(db()), files);
    fs::remove(db("filler"));
    run("eeprom put @record", 0, "");
    EXPECT_EQ(ReadFileBytes(db("eeprom.bin")), PatternRecord(1));
    disk.makeReadOnly();
    put("r", PatternRecord(2));
    for (const char* command : {"status", "eeprom show", "log"}) run(command, 0, "");
    run("/usr/sbin/kextstat", 0, "com.tavik.driver.ZolSC820");
    run("auth deny", 1, "Read-only file system");
}

// Whatever is planted, a command neither waits, nor reaches outside, nor runs out of memory:
// `get FILE` replaces a regular file (whole, keeping its mode) and nothing else; a file planted in
// the host is refused naming it, and `sc820-host repair` mends the host. "*erase" and "*claim"
// erase the flash and claim the user client in this process, whose descriptors of the host's
// files (worked on in place) are kept from before the file was planted.
TEST_F(HostFilesTest, HostileFilesAreRefusedWithoutWaitingOrReachingOutside) {
    alarm(60);  // a command that waits on a FIFO ends the test program instead of hanging it
    const std::string target = scratch.path() + "/target";
    fs::create_directories(scratch.path() + "/Bad.kext/Contents");
    put("Bad.kext/Contents/Info.plist",
        "<plist><dict><key>CFBundleIdentifier</key><string>com.example.\xff</string>"
        "<key>CFBundleVersion</key><string>1</string></dict></plist>");
    for (const char* deep : {"Xml", "Binary"}) {
        fs::create_directories(scratch.path() + "/" + deep + ".kext/Contents");
        put(deep + std::string(".kext/Contents/Info.plist"),
            *deep == 'X' ? nested::XmlArrays(1'000'000) : nested::BinaryArrays(1'000'000));
    }
    // The path planted (under the root, or "@out" in scratch; "" plants nothing), its kind (huge:
    // 1 TiB, sparse), the command, its status and what it says.
    const std::tuple<std::string, std::string, std::string, int, std::string> cases[] = {
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
        {"", "", "/sbin/kextload @Xml.kext", 1, "nested too deeply"},
        {"", "", "/sbin/kextload @Binary.kext", 1, "nested too deeply"},
        {"@out", "symlink", "eeprom get @out", 1, "is a symbolic link"},
        {"@out", "dangling", "factory get @out", 1, "is a symbolic link"},
        {"@out", "fifo", "flash get @out", 1, "is a FIFO"},
        {"@out", "device", "eeprom get @out", 1, "is a device"},
        {"@out", "folder", "factory get @out", 1, "is a folder"},
        {"@out", "plain", "eeprom get @out", 0, ""},
        {"var/db/sc820/flash.bin", "fifo", "*erase", 1,
         "flash.bin is a FIFO, not a file of the host's own: sc820-host repair mends it"},
        {"var/db/sc820/driver.bin", "symlink", "*erase", 1,
         "driver.bin is a symbolic link, not a file of the host's own"},
        {"var/db/sc820/flash.bin", "hardlink", "*erase", 1,
         "flash.bin is a file with another name (2 links)"},
        {"var/db/sc820/utility-client.lock", "symlink", "*claim", 1, "utility-client.lock"},
        {"var/db/sc820/utility-client.lock", "fifo", "*claim", 1, "utility-client.lock"},
        {"var/db/sc820/utility-client.lock", "folder", "*claim", 1, "utility-client.lock"},
    };
    for (const auto& [planted, kind, command, status, says] : cases) {
        SCOPED_TRACE(command + " " + kind);
        const bool inHost = planted[0] != '@';
        const std::string path = inHost ? host.root() + "/" + planted : scratch.path() + "/out";
        std::string chunk(4000, '\0'), problem;
        if (command[0] == '*') {
            serve();
            call(emu::CallForm::structureOutput, kReadFlash, chunk.data(), 4000);
        }
        WriteFileBytes(target, kind == "hardlink" ? ReadFileBytes(path) : "outside");
        const std::string outside = ReadFileBytes(target);
        ASSERT_TRUE(kind != "huge" || truncate(target.c_str(), 1ll << 40) == 0);
        if (!planted.empty()) fs::remove(path);
        ASSERT_EQ(kind == "fifo"       ? mkfifo(path.c_str(), 0644)
                  : kind == "symlink"  ? symlink(target.c_str(), path.c_str())
                  : kind == "dangling" ? symlink((target + ".new").c_str(), path.c_str())
                  : kind == "hardlink" ? link(target.c_str(), path.c_str())
                  : kind == "huge"     ? rename(target.c_str(), path.c_str())
                  : kind == "device"   ? mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 3))
                  : kind == "folder"   ? mkdir(path.c_str(), 0755)
                  : kind == "plain"    ? (WriteFileBytes(path, outside), chmod(path.c_str(), 0640))
                                       : 0,
                  0);
        struct stat before {
        }, after{};
        lstat(path.c_str(), &before);
        const auto files = planted.empty() ? Files(db()) : decltype(Files(db()))();
        if (command[0] != '*') {
            run(command, status, says);
        } else {
            EXPECT_EQ(
                command == "*claim"
                    ? emu::ClaimUtilityClient(emu::HostPaths(host.root()), &problem)
                    : call(emu::CallForm::structureInput, kEraseFlash, chunk.data(), 2, &problem),
                kIOReturnError);
            EXPECT_THAT(problem, HasSubstr(says));
        }
        EXPECT_FALSE(fs::exists(target + ".new"));
        EXPECT_TRUE(kind == "huge" || ReadFileBytes(target) == outside);
        EXPECT_TRUE(!planted.empty() || Files(db()) == files);
        lstat(path.c_str(), &after);
        EXPECT_TRUE(inHost || (after.st_ino == before.st_ino) == (status != 0));
        EXPECT_EQ(after.st_mode, inHost || status != 0 ? after.st_mode : S_IFREG | 0640);
        if (inHost) {
            if (kind == "folder") fs::remove(path);  // repair leaves a folder to its owner
            run("repair", 0, "repaired");
            run(planted.empty() || command[0] == '*' ? "status" : command, 0, "");
            EXPECT_TRUE(planted.empty() || kind == "folder" ||
                        (lstat(path.c_str(), &after) == 0 && S_ISREG(after.st_mode) &&
                         after.st_nlink == 1));
        }
        fs::remove(target);
    }
    alarm(0);
    EXPECT_EQ(ReadFileBytes(scratch.path() + "/out"), ReadFileBytes(db("eeprom.bin")));
    for (const auto& entry : fs::directory_iterator(scratch.path()))
        EXPECT_NE(entry.path().filename().string()[0], '.') << "a temporary was left behind";
}

// The input of `put` is read before the host is locked: a FIFO nobody writes to yet keeps
// only its own command waiting (timeout(1) ends one that would wait for the lock: exit 124).
TEST_F(HostFilesTest, AFifoGivenToPutBlocksNoOtherCommand) {
    ASSERT_EQ(mkfifo((scratch.path() + "/fifo").c_str(), 0600), 0);
    std::thread putter([&] { run("eeprom put @fifo", 0, ""); });
    std::string out;
    EXPECT_EQ(RunProgram({"/usr/bin/timeout", "30", SC820_HOST_BINARY, "--root", host.root(),
                          "auth", "deny"},
                         &out),
              0)
        << out;
    WriteFileBytes(scratch.path() + "/fifo", PatternRecord(9));
    putter.join();
    EXPECT_EQ(testhost::StatusFact(host, "auth"), "deny");
    EXPECT_EQ(ReadFileBytes(db("eeprom.bin")), PatternRecord(9));
}

// Output that cannot be written makes the command fail; a standard descriptor closed at the
// start is never taken by a file of the host, whose text would then land in it.
TEST_F(HostFilesTest, OutputErrorsFailAndClosedStreamsStayClosedToHostFiles) {
    const std::string tool = SC820_HOST_BINARY " --root '" + host.root() + "' ";
    const std::string kextstat = "'" + host.root() + "/usr/sbin/kextstat' ";
    WriteFileBytes(host.root() + "/var/log/system.log", "2026-01-01 00:00:00.000 test[1]: one\n");
    const std::tuple<std::string, int, const char*> cases[] = {
        {tool + "status >/dev/full", 1, "sc820-host: cannot write the output"},
        {kextstat + ">/dev/full", 1, "kextstat: cannot write the output"},
        {tool + "status <&- >&- 2>&-", 0, ""},
        {kextstat + ">&-", 0, ""},
    };
    for (const auto& [command, status, says] : cases) {
        std::string out;
        EXPECT_EQ(RunProgram({"/bin/sh", "-c", command}, &out), status) << command << ": " << out;
        EXPECT_THAT(out, HasSubstr(says)) << command;
        EXPECT_EQ(ReadFileBytes(db("lock")), "") << command;
    }
}

// A replacement killed half-way leaves a temporary; the next replacement in the host's folder,
// or the next repair for a copy of the program, removes it, and only it.
TEST_F(HostFilesTest, TheNextReplacementRemovesTemporariesOfKilledOnes) {
    const std::string libexec = host.root() + "/usr/libexec";
    put("r", PatternRecord(2));
    for (const char* command : {"eeprom put @r", "auth allow", "repair"}) {
        for (const char* name : {".eeprom.bin.tmp-k1ll3d", ".state.json.tmp-abcdef", ".keep"})
            WriteFileBytes(db(name), "half");
        WriteFileBytes(libexec + "/.sc820-host.tmp-k1ll3d", "half a program");
        run(command, 0, "");
        std::string names;
        for (const auto& [name, bytes] : Files(db())) names += name + " ";
        EXPECT_EQ(names, ".keep driver.bin eeprom.bin factory.bin flash.bin lock state.json ");
    }
    EXPECT_EQ(Files(libexec).size(), 1u);
}

// The tools of a host link, relatively, to the host's own copy of the program: the host keeps
// working when the program that made it is deleted, and when it is moved.
TEST(HostProgramTest, AHostOutlivesTheProgramThatMadeIt) {
    TempDir scratch;
    const std::string program = scratch.path() + "/build/sc820-host";
    fs::create_directories(scratch.path() + "/build");
    fs::copy_file(SC820_HOST_BINARY, program);
    std::string out;
    ASSERT_EQ(RunProgram({program, "--root", scratch.path() + "/host", "init"}, &out), 0) << out;
    // The copy is a hard link where the file system allows it.
    EXPECT_TRUE(fs::equivalent(program, scratch.path() + "/host/usr/libexec/sc820-host"));
    fs::remove_all(scratch.path() + "/build");
    fs::rename(scratch.path() + "/host", scratch.path() + "/moved");
    EXPECT_EQ(RunProgram({scratch.path() + "/moved/usr/sbin/kextstat"}, &out), 0) << out;
    EXPECT_THAT(out, HasSubstr("com.tavik.driver.ZolSC820"));
    EXPECT_EQ(
        RunProgram({scratch.path() + "/moved/sbin/kextunload", "-m", "com.tavik.driver.ZolSC820"},
                   &out),
        0)
        << out;
}

// The log file keeps one escaped line per entry; the echo on standard error leaves out the
// text's line ends instead of showing them as \n.
TEST_F(HostFilesTest, TheLogsEchoOnStandardErrorEndsInARealLineEnd) {
    const int saved = dup(2);
    ASSERT_EQ(dup2(open(put("stderr", "").c_str(), O_WRONLY | O_CLOEXEC), 2), 2);
    emu::AppendSystemLog(host.root(), "tool", "first line\nsecond line\n");
    emu::AppendSystemLog(host.root(), "tool", "plain");
    dup2(saved, 2);
    EXPECT_THAT(ReadFileBytes(scratch.path() + "/stderr"),
                testing::MatchesRegex("[^\n]*]: first line\\\\nsecond line\n[^\n]*]: plain\n"));
    EXPECT_THAT(host.logLines(), testing::ElementsAre(EndsWith("]: first line\\nsecond line\\n"),
                                                      EndsWith("]: plain")));
}

}  // namespace
