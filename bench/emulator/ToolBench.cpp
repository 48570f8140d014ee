// The driver tools as processes, each beside the smallest process and its own work, interleaved
// round by round in one run (usage: tool_bench [--rounds N]). A tool should cost no more than
// 1.5 times what /bin/true costs, plus its work: what the same tool does when it runs inside an
// already started process (tool-work measures that, cold, in a fresh process of its own).
//
// - kextstat, read-only, against the host as it is;
// - the driver swap's two tools, kextunload then kextload, against a freshly initialised host
//   (the re-initialisation is not timed), against two runs of /bin/true.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/support/PairedRuns.h"
#include "driverif/DriverNames.h"
#include "tests/support/TempHost.h"

namespace {

void Die(const std::string& what, const std::string& output) {
    std::fprintf(stderr, "tool_bench: %s\n%s\n", what.c_str(), output.c_str());
    std::exit(1);
}

// Wall time of one process, started and read to the end as the utility's runners do.
double TimeProcess(const std::vector<std::string>& argv) {
    std::string out;
    Stopwatch clock;
    const int status = RunProgram(argv, &out);
    const double seconds = clock.seconds();
    if (status != 0) Die(argv.front() + " failed", out);
    return seconds;
}

// The work of the tools in `command`, as tool-work reports it.
double ToolWork(const std::vector<std::string>& command) {
    std::vector<std::string> argv = {SC820_TOOL_WORK};
    argv.insert(argv.end(), command.begin(), command.end());
    std::string out;
    // The emulated kernel's log lines come first; the figure is the last line.
    size_t line = std::string::npos;
    if (RunProgram(argv, &out) != 0 || (line = out.rfind("work ")) == std::string::npos)
        Die("tool-work failed", out);
    return std::atof(out.c_str() + line + 5) / 1e9;
}

void ResetHost(const TempHost& host) {
    host.hostOk({"init", "--force"});
    sync();  // the host's files are written back before, not during, the timed run
}

// Per round: (tool - work) / yardstick, the share of the tool's cost that is process start.
std::vector<double> StartCost(const std::vector<double>& tool, const std::vector<double>& work) {
    std::vector<double> start;
    for (size_t i = 0; i < tool.size(); ++i) start.push_back(tool[i] - work[i]);
    return start;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = RoundsArgument(argc, argv, 31);
    TempHost host;
    const std::string root = host.root();
    const std::string kextstat = root + "/usr/sbin/kextstat";
    const std::string unload = root + "/sbin/kextunload";
    const std::string load = root + "/sbin/kextload";
    const std::string kext = std::string(SC820_BUNDLE_DIR) + kUtilityKextSubpath;

    const std::string loadBefore = MachineLoad();
    const std::vector<Side> sides = {
        [&] { return TimeProcess({kextstat}); },
        [&] { return TimeProcess({"/bin/true"}); },
        [&] {
            return ToolWork({root, "kextstat"});
        },
        [&] {
            ResetHost(host);
            return TimeProcess({unload, "-m", kSC820DriverBundleID}) + TimeProcess({load, kext});
        },
        [&] { return TimeProcess({"/bin/true"}) + TimeProcess({"/bin/true"}); },
        [&] {
            ResetHost(host);
            // Each tool cold in a process of its own, as the swap runs them.
            return ToolWork({root, "kextunload", "-m", kSC820DriverBundleID}) +
                   ToolWork({root, "kextload", kext});
        },
    };
    const auto r = RunInterleaved(sides, rounds);
    std::printf("tool_bench: %d rounds; %s before, %s after\n", rounds, loadBefore.c_str(),
                MachineLoad().c_str());
    PrintTable(
        "Driver tools beside /bin/true (interleaved, medians; start cost = (tool - work) / "
        "/bin/true, median of the pairs)",
        {"what", "process", "its work", "/bin/true", "start cost", "target"},
        {{"kextstat", FormatSeconds(Median(r[0])), FormatSeconds(Median(r[2])),
          FormatSeconds(Median(r[1])), FormatRatio(MedianRatio(StartCost(r[0], r[2]), r[1])),
          "≤ 1.5×"},
         {"kextunload, then kextload (the driver swap)", FormatSeconds(Median(r[3])),
          FormatSeconds(Median(r[5])), FormatSeconds(Median(r[4])) + " (two)",
          FormatRatio(MedianRatio(StartCost(r[3], r[5]), r[4])), "≤ 1.5×"}});
    return 0;
}
