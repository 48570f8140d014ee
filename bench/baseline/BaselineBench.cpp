// The hot paths of the program, each beside its yardstick, interleaved round by round in one
// run (usage: baseline_bench [--rounds N]):
//
// - a Write of a 64 KiB image through the controller (the user's answers from a test backend)
//   against its two busy pauses run alone;
// - one driver command (search, open, transfer, close) and one 17-chunk read sweep, with the
//   command split into its parts through the same registry calls the command channel makes;
// - one driver tool process (kextstat started through the host's link) against /bin/true,
//   both started the same way.
//
// Everything runs against one emulated host with the utility driver swapped in.
#include <cstdio>
#include <string>
#include <vector>

#include "app/SC820Controller.h"
#include "bench/support/PairedRuns.h"
#include "driverctl/Pause.h"
#include "driverif/CommandCodes.h"
#include "driverif/DriverNames.h"
#include "tests/support/FakeControls.h"
#include "tests/support/PlatformProbes.h"
#include "tests/support/RecordingBackend.h"
#include "tests/support/TempHost.h"

namespace {

// Commands per timed batch: one command is well above the clock's resolution, but a batch
// keeps the per-round overhead of the harness out of the figure.
constexpr int kCommandsPerBatch = 50;
constexpr int kSweepsPerBatch = 5;

[[noreturn]] void Die(const std::string& what) {
    std::fprintf(stderr, "baseline_bench: %s\n", what.c_str());
    std::exit(1);
}

void Check(bool ok, const char* what) {
    if (!ok) Die(what);
}

// The parts of one command, timed one by one with the calls the command channel makes.
struct CommandParts {
    std::vector<double> search, open, transfer, close;

    void measureOnce() {
        Stopwatch searchClock;
        mach_port_t masterPort = 0;
        io_iterator_t iterator = 0;
        Check(IOMasterPort(MACH_PORT_NULL, &masterPort) == KERN_SUCCESS, "no master port");
        Check(IOServiceGetMatchingServices(masterPort, IOServiceMatching(kUtilityDriverClass),
                                           &iterator) == KERN_SUCCESS,
              "the search failed");
        io_service_t device = 0;
        while (io_service_t service = IOIteratorNext(iterator)) {
            if (device != 0) IOObjectRelease(device);
            device = service;
        }
        Check(device != 0, "no utility driver");
        IOObjectRelease(iterator);
        mach_port_deallocate(mach_task_self(), masterPort);
        search.push_back(searchClock.seconds());

        Stopwatch openClock;
        io_connect_t connection = 0;
        Check(IOServiceOpen(device, mach_task_self(), 0, &connection) == KERN_SUCCESS,
              "the open failed");
        open.push_back(openClock.seconds());

        Stopwatch transferClock;
        SCSIUTY_CFG record{};
        mach_msg_type_number_t size = sizeof record;
        Check(io_connect_method_scalarI_structureO(connection, kGetEEPConfig, nullptr, 0,
                                                   reinterpret_cast<char*>(&record),
                                                   &size) == KERN_SUCCESS,
              "the transfer failed");
        transfer.push_back(transferClock.seconds());

        Stopwatch closeClock;
        IOServiceClose(connection);
        IOObjectRelease(device);
        close.push_back(closeClock.seconds());
    }
};

std::string Image64KiB() {
    std::string image(kFlashSize, '\0');
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 7 + 1);
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = RoundsArgument(argc, argv, 21);
    TempHost host;
    host.swapDrivers();
    TempDir work;
    const std::string imagePath = work.path() + "/image.bin";
    WriteFileBytes(imagePath, Image64KiB());
    UseMainBundleAt(SC820_BUNDLE_DIR);

    RecordingBackend backend;
    FakeTextField version;
    SC820Controller controller;
    controller.out_verSCSIBIOS = &version;
    Check(controller.doGetEEPConfig() == 1, "the first read was refused");
    std::vector<uint8_t> flash(kFlashBufferSize, 0);
    CommandParts parts;
    const std::string kextstat = host.root() + "/usr/sbin/kextstat";
    const std::string loadBefore = MachineLoad();

    const std::vector<Side> sides = {
        [&] {  // 0: Write of a 64 KiB image
            backend.alertAnswers = {1, 1, 1};
            backend.panelChoices = {imagePath};
            Stopwatch clock;
            controller.act_write(nullptr);
            const double seconds = clock.seconds();
            Check(version.value == "updated.", "the write did not verify");
            return seconds;
        },
        [&] {  // 1: the Write's two pauses alone
            Stopwatch clock;
            BusyPause(kFlashPauseCount);
            BusyPause(kFlashPauseCount);
            return clock.seconds();
        },
        [&] {  // 2: one command, as the mean of a batch
            Stopwatch clock;
            for (int i = 0; i < kCommandsPerBatch; ++i) {
                Check(controller.doGetEEPConfig() == 1, "the driver refused the command");
            }
            return clock.seconds() / kCommandsPerBatch;
        },
        [&] {  // 3: one 17-chunk read sweep, as the mean of a batch
            Stopwatch clock;
            for (int s = 0; s < kSweepsPerBatch; ++s) {
                for (uint32_t k = 0; k < kFlashSweepChunks; ++k) {
                    Check(controller.doReadFlash(flash.data() + k * kFlashChunkSize) == 1,
                          "the driver refused a chunk");
                }
            }
            return clock.seconds() / kSweepsPerBatch;
        },
        [&] {  // 4: a driver tool process
            std::string out;
            Stopwatch clock;
            Check(RunProgram({kextstat}, &out) == 0, "kextstat failed");
            return clock.seconds();
        },
        [&] {  // 5: the smallest process
            std::string out;
            Stopwatch clock;
            Check(RunProgram({"/bin/true"}, &out) == 0, "/bin/true failed");
            return clock.seconds();
        },
        [&] {  // 6: the parts of one command
            Stopwatch clock;
            parts.measureOnce();
            return clock.seconds();
        },
    };
    const auto r = RunInterleaved(sides, rounds);
    Check(IORegistryHandlesHeld() == 0, "registry handles leaked");

    std::printf("baseline_bench: %d rounds; %s before, %s after\n", rounds, loadBefore.c_str(),
                MachineLoad().c_str());
    PrintTable(
        "Hot paths beside their yardsticks (interleaved, medians, ratio = median of the pairs)",
        {"what", "measured", "yardstick", "ratio", "target"},
        {{"Write of a 64 KiB image vs its two pauses alone", FormatSeconds(Median(r[0])),
          FormatSeconds(Median(r[1])), FormatRatio(MedianRatio(r[0], r[1])), "≤ 1.3×"},
         {"one driver command (search, open, transfer, close)", FormatSeconds(Median(r[2])), "", "",
          "< 30 µs"},
         {"one 17-chunk sweep (read)", FormatSeconds(Median(r[3])), "", "", "< 0.6 ms"},
         {"one tool process (kextstat through the host's link) vs /bin/true",
          FormatSeconds(Median(r[4])), FormatSeconds(Median(r[5])),
          FormatRatio(MedianRatio(r[4], r[5])), "tool_bench: net of its work"}});
    PrintTable("One command, part by part (the command channel's registry calls, one at a time)",
               {"part", "median", "", "", ""},
               {{"search (master port, matching, iterate, release)",
                 FormatSeconds(Median(parts.search)), "", "", ""},
                {"open", FormatSeconds(Median(parts.open)), "", "", ""},
                {"transfer (read the configuration record)", FormatSeconds(Median(parts.transfer)),
                 "", "", ""},
                {"close (connection and service)", FormatSeconds(Median(parts.close)), "", "", ""},
                {"all four, timed one by one", FormatSeconds(Median(r[6])),
                 "one command: " + FormatSeconds(Median(r[2])),
                 FormatRatio(MedianRatio(r[6], r[2])), ""}});
    return 0;
}
