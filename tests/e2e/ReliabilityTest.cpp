// What the utility does when the world fails under it: signals in the middle of a change, a
// registry lost during a Write and a full disk.
#include <sys/stat.h>

#include <filesystem>
#include <map>

#include "app/Messages.h"
#include "tests/e2e/Scenario.h"
#include "tests/support/SmallDisk.h"

namespace {

namespace fs = std::filesystem;
using Reliability = Scenario;

// The utility under strace (-f: and the programs it starts), one system call made to fail or to
// bring a signal; with `file`, only calls on that file of the card's folder count.
std::function<void(Scenario&)> Traced(bool follow, const std::string& file, const std::string& call,
                                      const std::string& injection) {
    return [=](Scenario& s) {
        s.runner = {"/usr/bin/strace", "-qq", "-o", "/dev/null"};
        if (follow) s.runner.push_back("-f");
        if (!file.empty())
            s.runner.insert(s.runner.end(), {"-P", s.host.root() + "/var/db/sc820/" + file});
        s.runner.insert(s.runner.end(),
                        {"-e", "trace=" + call, "-e", "inject=" + call + ":" + injection});
    };
}

// A hang-up, Ctrl-C or SIGTERM (one handler) in the middle of a Write, sent at the 10th chunk
// written into the flash (its first write is the erase), lets the Write finish, verified or
// erased again; then the program ends by the signal at the idle loop, storing nothing more.
Row Signalled(const char* signal, int status, const std::string& image, int erases) {
    return R(std::string(signal) + (erases == 2 ? ", failed verification" : ", during a sweep"),
             WriteScript("image.bin"), {MSG_START, MSG_WRITE, MSG_WRITESTART}, status,
             Traced(true, "flash.bin", "pwrite64", std::string("signal=") + signal + ":when=11"),
             {.files = {{"image.bin", image}},
              .last = "end",
              .counts = {1, 0, 0, erases, 17 * 4, 17},
              .flash = erases == 1 ? FlashAfterWrite(image) : kErased,
              .check = [](Scenario&, const RunResult& r) { EXPECT_FALSE(r.has("control")); }});
}

std::map<std::string, std::string> FilesIn(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(folder))
        files[entry.path().filename().string()] = ReadFileBytes(entry.path().string());
    return files;
}

TEST_F(Reliability, SignalsLostRegistryAndFullDisk) {
    std::string out;
    if (RunProgram({"/usr/bin/strace", "-qq", "-o", "/dev/null", "/bin/true"}, &out) != 0)
        GTEST_SKIP() << "strace cannot trace here: " << out;
    std::string fails = Image(65537, 9);
    fails.back() = '\x42';  // the flash cannot hold byte 65,536: the image never verifies
    runTable({
        Signalled("SIGHUP", 129, Image(30000, 8), 1),
        Signalled("SIGTERM", 143, fails, 2),
        // A signal while closing: the store finishes, its success is answered without being
        // shown (nobody may be there to read it), then the program ends by the signal. Only
        // the utility is traced; its first rename is the record's replacement.
        R("SIGINT while closing", "answer 1\nselect out_hostSCSIID 5\nclose\nanswer 1\n",
          {MSG_START}, 130, Traced(false, "", "rename", "signal=SIGINT:when=1"),
          {.record = {{4, "05"}}}),
        // A registry that cannot be searched in the middle of the sweeps (the kernel state
        // unreadable once, at about the 16th chunk written) ends the program, but only after
        // the Write has verified and erased what failed (its last chunk never sent).
        R("registry lost during a Write",
          "answer 1\npress write\nanswer 1\nchoose image.bin\nanswer 1\nanswer 1\nanswer 1\n",
          {MSG_START, MSG_WRITE, MSG_WRITESTART, MSG_WRITEFAIL, MSG_SLOTERROR}, 1,
          Traced(false, "state.json", "newfstatat", "error=EIO:when=260"),
          {.files = {{"image.bin", Image(30000, 8)}},
           .counts = {1, 0, 0, 2, 17 * 3, 16},
           .flash = kErased}),
        // The card's folder lies on a small disk that fills up once start-up has swapped the
        // drivers (kextload, start-up's last tool, is wrapped to fill it): the store fails as a
        // whole, nothing of it is left behind, and the form is read again.
        R("a store on a full disk",
          "answer 1\nselect out_hostSCSIID 5\nclose\nanswer 1\npress cancel\n",
          {MSG_START, MSG_STOREFAIL}, 0,
          [](Scenario& s) {
              const std::string db = s.host.root() + "/var/db/sc820", twin = s.home("twin");
              const auto files = FilesIn(db);
              auto disk = std::make_shared<SmallDisk>(db, 512 * 1024);
              if (!disk->mounted()) s.skip = disk->reason();
              s.held = disk;
              for (const auto& [name, bytes] : files) WriteFileBytes(db + "/" + name, bytes);
              fs::remove_all(twin);
              fs::create_directories(twin + "/sbin");
              fs::create_symlink(s.host.root() + "/var", twin + "/var");
              fs::create_symlink(s.host.root() + "/usr/libexec/sc820-host",
                                 twin + "/sbin/kextload");
              const std::string wrapper = s.host.root() + "/sbin/kextload";
              fs::remove(wrapper);
              WriteFileBytes(wrapper,
                             "#!/bin/sh\n'" + twin + "/sbin/kextload' \"$@\" || exit $?\n" +
                                 "cat /dev/zero > '" + db + "/filler' 2>/dev/null\nexit 0\n");
              chmod(wrapper.c_str(), 0755);
          },
          {.counts = {2, 1, 0, 0, 17, 0},
           .check =
               [](Scenario& s, const RunResult&) {
                   const std::string db = s.host.root() + "/var/db/sc820";
                   ASSERT_TRUE(fs::exists(db + "/filler")) << "the disk was never filled";
                   fs::remove(db + "/filler");
                   for (const auto& [name, bytes] : FilesIn(db))
                       EXPECT_FALSE(Contains(name, ".tmp-")) << name << " was left behind";
               }}),
    });
}

}  // namespace
