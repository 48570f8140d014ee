// How sc820-host treats files under trouble: a full disk, outputs that are not regular files,
// endless or blocking inputs, a read-only host, temporaries left by a killed process, and a
// program that is moved away after it made a host.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <thread>
#include <tuple>

#include "emulator/host/SystemLog.h"
#include "tests/support/SmallDisk.h"
#include "tests/support/TempHost.h"

namespace fs = std::filesystem;
using testhost::PatternRecord;
using testing::EndsWith;
using testing::HasSubstr;
using testing::Not;

namespace {

using Words = std::vector<std::string>;

std::map<std::string, std::string> FilesIn(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(folder))
        files[entry.path().filename().string()] = ReadFileBytes(entry.path().string());
    return files;
}

int CountLines(const std::string& text) {
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

// The host's folder of records moved onto a small disk that is then filled up.
TEST(FullDiskTest, EveryWriteFailsAsAWholeAndKeepsTheOldFiles) {
    TempHost host;
    TempDir scratch;
    const std::string db = host.root() + "/var/db/sc820";
    std::map<std::string, std::string> files = FilesIn(db);
    SmallDisk disk(db, 512 * 1024);
    if (!disk.mounted()) GTEST_SKIP() << disk.reason();
    for (const auto& [name, bytes] : files) WriteFileBytes(db + "/" + name, bytes);
    const std::string output = db + "/copy.bin";
    WriteFileBytes(output, "the old copy");
    files["copy.bin"] = "the old copy";
    const std::string record = scratch.path() + "/record";
    WriteFileBytes(record, PatternRecord(1));
    const std::string image = scratch.path() + "/image";
    WriteFileBytes(image, std::string(4000, '\x11'));
    disk.fill();
    files["filler"] = ReadFileBytes(db + "/filler");

    const std::vector<Words> commands = {
        {"eeprom", "put", record}, {"factory", "put", record}, {"flash", "put", image},
        {"flash", "erase"},        {"eeprom", "get", output},  {"flash", "get", output},
        {"attach", "3"},           {"auth", "deny"},
    };
    for (const Words& command : commands) {
        std::string out;
        EXPECT_EQ(host.host(command, &out), 1) << command[0] << " " << command[1] << ": " << out;
        EXPECT_THAT(out, HasSubstr("No space left on device")) << command[0];
        EXPECT_EQ(CountLines(out), 1) << out;
        EXPECT_EQ(FilesIn(db), files) << command[0] << " " << command[1] << " changed a file";
    }
    fs::remove(db + "/filler");
    host.hostOk({"eeprom", "put", record});
    EXPECT_EQ(ReadFileBytes(db + "/eeprom.bin"), PatternRecord(1));
}

struct HostileOutput {
    const char* kind;
    void (*make)(const std::string& path, const std::string& target);
    const char* message;
};

// `get FILE` replaces a regular file and nothing else: not a link (nor its target), not a
// device, a FIFO or a folder.
TEST(HostileFilesTest, GetRefusesToReplaceAnythingButARegularFile) {
    TempHost host;
    TempDir scratch;
    const std::string target = scratch.path() + "/target";
    const std::vector<HostileOutput> outputs = {
        {"symbolic link",
         [](const std::string& p, const std::string& t) { fs::create_symlink(t, p); },
         "is a symbolic link"},
        {"dangling link",
         [](const std::string& p, const std::string& t) { fs::create_symlink(t + "-none", p); },
         "is a symbolic link"},
        {"FIFO", [](const std::string& p, const std::string&) { mkfifo(p.c_str(), 0644); },
         "is a FIFO"},
        {"device",
         [](const std::string& p, const std::string&) {
             ASSERT_EQ(mknod(p.c_str(), S_IFCHR | 0666, makedev(1, 3)), 0) << "mknod";
         },
         "is a device"},
        {"folder", [](const std::string& p, const std::string&) { fs::create_directory(p); },
         "is a folder"},
    };
    for (const auto& output : outputs) {
        WriteFileBytes(target, "keep me");
        const std::string path = scratch.path() + "/out-" + output.kind;
        output.make(path, target);
        struct stat before {};
        ASSERT_EQ(lstat(path.c_str(), &before), 0) << output.kind;
        for (const char* part : {"eeprom", "factory", "flash"}) {
            std::string out;
            EXPECT_EQ(host.host({part, "get", path}, &out), 1) << output.kind << " " << part;
            EXPECT_THAT(out, HasSubstr(output.message)) << output.kind;
            struct stat after {};
            ASSERT_EQ(lstat(path.c_str(), &after), 0) << output.kind;
            EXPECT_EQ(after.st_ino, before.st_ino) << output.kind << " was replaced";
            EXPECT_EQ(after.st_mode, before.st_mode) << output.kind;
            EXPECT_EQ(ReadFileBytes(target), "keep me") << output.kind;
        }
    }
}

// A regular file is replaced whole and keeps its mode.
TEST(HostileFilesTest, GetReplacesARegularFileKeepingItsMode) {
    TempHost host;
    TempDir scratch;
    const std::string path = scratch.path() + "/eeprom.out";
    WriteFileBytes(path, std::string(5000, 'x'));
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    host.hostOk(
        {"eeprom", "put",
         (WriteFileBytes(scratch.path() + "/in", PatternRecord(4)), scratch.path() + "/in")});
    host.hostOk({"eeprom", "get", path});
    EXPECT_EQ(ReadFileBytes(path), PatternRecord(4));
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(FilesIn(scratch.path()).size(), 2u) << "a temporary was left behind";
}

// Endless and wrong inputs fail cleanly without touching the card.
TEST(HostileFilesTest, EndlessAndWrongInputsAreRefusedBeforeTheCardIsTouched) {
    TempHost host;
    TempDir scratch;
    struct Input {
        Words command;
        const char* message;
    };
    const std::vector<Input> inputs = {
        {{"flash", "put", "/dev/zero"}, "/dev/zero: more than 65536 bytes; the flash holds 65536"},
        {{"eeprom", "put", "/dev/zero"}, "/dev/zero: more than 308 bytes; a record holds 308"},
        {{"factory", "put", "/dev/null"}, "/dev/null: 0 bytes; a record holds 308"},
        {{"flash", "put", scratch.path()}, "is a folder"},
    };
    const std::string db = host.root() + "/var/db/sc820";
    const auto before = FilesIn(db);
    for (const auto& input : inputs) {
        std::string out;
        EXPECT_EQ(host.host(input.command, &out), 1) << input.command[2];
        EXPECT_THAT(out, HasSubstr(input.message));
        EXPECT_EQ(CountLines(out), 1) << out;
        EXPECT_EQ(FilesIn(db), before);
    }
}

struct Planted {
    const char* file;     // under the root
    const char* planted;  // fifo, dangling, symlink, hardlink, huge (1 TiB, sparse), bundle-id
    Words command;        // "@BUNDLE" is a bundle whose identifier is not UTF-8
    int status;
    const char* message;
};

// Whatever is planted in the host's root, a command neither waits, nor reaches outside, nor
// runs out of memory: it is refused naming the file, and `sc820-host repair` mends the host.
TEST(HostileFilesTest, FilesPlantedInTheHostAreRefusedWithoutWaitingAndRepairMendsThem) {
    alarm(60);  // a command that waits on a FIFO ends the test program instead of hanging it
    TempHost host;
    TempDir outside;
    const std::string target = outside.path() + "/target";
    const std::string bundle = outside.path() + "/Bad.kext";
    fs::create_directories(bundle + "/Contents");
    WriteFileBytes(bundle + "/Contents/Info.plist",
                   "<plist><dict><key>CFBundleIdentifier</key><string>com.example.\xff</string>"
                   "<key>CFBundleVersion</key><string>1</string></dict></plist>");
    const std::vector<Planted> cases = {
        {"var/log/system.log", "fifo", {"log"}, 1, "system.log is a FIFO"},
        {"var/log/system.log", "symlink", {"log"}, 1, "system.log is a symbolic link"},
        {"var/log/system.log", "huge", {"log"}, 0, "(earlier entries left out"},
        {"var/db/sc820/state.json",
         "huge",
         {"status"},
         1,
         "state.json is corrupt: more than 4194304 bytes"},
        {"var/db/sc820/eeprom.bin",
         "symlink",
         {"eeprom", "show"},
         1,
         "eeprom.bin is a symbolic link, not a file of the host's own: sc820-host repair mends it"},
        {"var/db/sc820/eeprom.bin",
         "hardlink",
         {"eeprom", "show"},
         1,
         "eeprom.bin is a file with another name (2 links)"},
        {"var/db/sc820/lock", "dangling", {"init", "--force"}, 0, "initialised"},
        {"var/db/sc820/lock", "symlink", {"status"}, 1, "lock is a symbolic link"},
        {"", "bundle-id", {"@BUNDLE"}, 1, "CFBundleIdentifier is not valid UTF-8"},
    };
    for (const Planted& c : cases) {
        const std::string planted = c.planted;
        SCOPED_TRACE(std::string(c.file) + " " + planted);
        const std::string path = host.root() + "/" + c.file;
        WriteFileBytes(target, planted == "hardlink" ? ReadFileBytes(path) : "outside");
        const std::string outsideBefore = ReadFileBytes(target);
        if (planted == "huge") {
            ASSERT_EQ(truncate(target.c_str(), 1ll << 40), 0);
        }
        if (*c.file) {
            ASSERT_EQ(std::remove(path.c_str()), 0);
        }
        int made = planted == "fifo"       ? mkfifo(path.c_str(), 0644)
                   : planted == "dangling" ? symlink((target + ".new").c_str(), path.c_str())
                   : planted == "symlink"  ? symlink(target.c_str(), path.c_str())
                   : planted == "hardlink" ? link(target.c_str(), path.c_str())
                   : planted == "huge"     ? rename(target.c_str(), path.c_str())
                                           : 0;
        ASSERT_EQ(made, 0);
        const std::string stateFile = host.root() + "/var/db/sc820/state.json";
        const std::string state = planted == "bundle-id" ? ReadFileBytes(stateFile) : "";
        std::string out;
        int status = c.command[0] == "@BUNDLE" ? testhost::RunTool(host, "kextload", {bundle}, &out)
                                               : host.host(c.command, &out);
        EXPECT_EQ(status, c.status) << out;
        EXPECT_THAT(out, HasSubstr(c.message));
        EXPECT_EQ(fs::exists(target + ".new"), false);
        if (planted != "huge") {
            EXPECT_EQ(ReadFileBytes(target), outsideBefore);
        }
        if (planted == "bundle-id") {
            EXPECT_EQ(ReadFileBytes(stateFile), state);
        }
        host.hostOk({"repair"});
        EXPECT_EQ(host.host(c.command[0] == "@BUNDLE" ? Words{"status"} : c.command, &out), 0)
            << out;
        std::remove(target.c_str());
    }
    alarm(0);
}

// The input of `put` is read before the host is locked: a FIFO nobody writes to yet keeps
// only its own command waiting.
TEST(HostileFilesTest, AFifoGivenToPutBlocksNoOtherCommand) {
    TempHost host;
    TempDir scratch;
    const std::string fifo = scratch.path() + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    int putStatus = -1;
    std::thread put([&] { putStatus = host.host({"eeprom", "put", fifo}); });
    // timeout(1) ends a command that would wait for the lock: exit 124 instead of a hang.
    std::string out;
    EXPECT_EQ(RunProgram({"/usr/bin/timeout", "10", SC820_HOST_BINARY, "--root", host.root(),
                          "auth", "deny"},
                         &out),
              0)
        << out;
    int writer = open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(writer, 0);
    const std::string record = PatternRecord(9);
    EXPECT_EQ(write(writer, record.data(), record.size()), static_cast<ssize_t>(record.size()));
    close(writer);
    put.join();
    EXPECT_EQ(putStatus, 0);
    EXPECT_EQ(testhost::StatusFact(host, "auth"), "deny");
    EXPECT_EQ(ReadFileBytes(host.root() + "/var/db/sc820/eeprom.bin"), record);
}

// Reading needs no write access; changing is refused with the system's reason.
TEST(ReadOnlyHostTest, StatusShowAndListingsWorkOnAReadOnlyHost) {
    TempDir scratch;
    const std::string mountPoint = scratch.path() + "/disk";
    fs::create_directory(mountPoint);
    SmallDisk disk(mountPoint, 64 << 20);
    if (!disk.mounted()) GTEST_SKIP() << disk.reason();
    const std::string root = mountPoint + "/host";
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
TEST(StandardStreamsTest, OutputErrorsFailAndClosedStreamsStayClosedToHostFiles) {
    TempHost host;
    const std::string tool =
        "'" + std::string(SC820_HOST_BINARY) + "' --root '" + host.root() + "' ";
    const std::string kextstat = "'" + host.root() + "/usr/sbin/kextstat' ";
    const std::string lock = host.root() + "/var/db/sc820/lock";
    const std::string lockBefore = ReadFileBytes(lock);
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
        EXPECT_EQ(ReadFileBytes(lock), lockBefore) << command;
    }
}

// A replacement killed half-way leaves a temporary; the next replacement in the host's folder
// removes it, and only it.
TEST(StaleTemporaryTest, TheNextReplacementRemovesTemporariesOfKilledOnes) {
    TempHost host;
    TempDir scratch;
    const std::string db = host.root() + "/var/db/sc820";
    const auto before = FilesIn(db);
    for (const char* verb : {"eeprom", "state"}) {
        for (const char* name : {".eeprom.bin.tmp-k1ll3d", ".state.json.tmp-abcdef"})
            WriteFileBytes(db + "/" + name, "half");
        WriteFileBytes(db + "/.keep", "not ours");
        if (std::string(verb) == "eeprom") {
            WriteFileBytes(scratch.path() + "/r", before.at("eeprom.bin"));
            host.hostOk({"eeprom", "put", scratch.path() + "/r"});
        } else {
            host.hostOk({"auth", "allow"});
        }
        auto after = FilesIn(db);
        EXPECT_EQ(after.count(".eeprom.bin.tmp-k1ll3d"), 0u) << verb;
        EXPECT_EQ(after.count(".state.json.tmp-abcdef"), 0u) << verb;
        EXPECT_EQ(after.count(".keep"), 1u) << verb;
        after.erase(".keep");
        EXPECT_EQ(after.size(), before.size()) << verb;
    }
}

// So does the next init or repair for a copy of the program killed half-way.
TEST(StaleTemporaryTest, RepairRemovesAHalfCopiedProgram) {
    TempHost host;
    const std::string libexec = host.root() + "/usr/libexec";
    WriteFileBytes(libexec + "/.sc820-host.tmp-k1ll3d", "half a program");
    host.hostOk({"repair"});
    EXPECT_EQ(FilesIn(libexec).size(), 1u);
    EXPECT_TRUE(fs::exists(libexec + "/sc820-host"));
}

// The tools of a host link, relatively, to the host's own copy of the program: the host keeps
// working when the program that made it is deleted.
TEST(HostProgramTest, AHostOutlivesTheProgramThatMadeIt) {
    TempDir scratch;
    const std::string program = scratch.path() + "/build/sc820-host";
    fs::create_directories(scratch.path() + "/build");
    fs::copy_file(SC820_HOST_BINARY, program);
    const std::string root = scratch.path() + "/host";
    std::string out;
    ASSERT_EQ(RunProgram({program, "--root", root, "init"}, &out), 0) << out;
    fs::remove_all(scratch.path() + "/build");
    const std::map<std::string, std::string> links = {
        {"/sbin/kextload", "../usr/libexec/sc820-host"},
        {"/sbin/kextunload", "../usr/libexec/sc820-host"},
        {"/usr/sbin/kextstat", "../libexec/sc820-host"},
    };
    for (const auto& [tool, target] : links)
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
TEST(SystemLogTest, TheEchoOnStandardErrorEndsInARealLineEnd) {
    TempHost host;
    TempDir scratch;
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
    EXPECT_EQ(CountLines(echo), 2) << echo;
    EXPECT_THAT(echo, HasSubstr("]: first line\\nsecond line\n"));
    EXPECT_THAT(echo, EndsWith("]: plain\n"));
    const std::vector<std::string> lines = host.logLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_THAT(lines[0], EndsWith("]: first line\\nsecond line\\n"));
    EXPECT_THAT(lines[1], EndsWith("]: plain"));
}

}  // namespace
