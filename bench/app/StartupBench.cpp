// Start-up, measured two ways in one run, offscreen, each utility run against a freshly
// initialised emulated host (the re-initialisation is not timed):
//
// - the whole start-up of the real program through the driver swap to the first display (the
//   automation answers the last question with OK, presses OK, which does nothing, so that the
//   window is painted, then presses Cancel), side by side with a bare Qt program that opens an
//   empty window and quits; wall time and peak resident memory. Before measuring, one untimed
//   run of each checks that its window is really painted;
// - the same start-up split into its phases: the child program startup_phases (linked like the
//   utility) does what the program's entry and `awakeFromNib` do, step by step, on the real
//   main window and the real controller against the real host, and prints a monotonic-clock
//   timestamp after each step. This program takes the time just before it starts the child and
//   when the child has exited, so process start and exit are covered too;
// - the floor: floor-window starts the same five processes as the start-up (the shell running
//   the bundle's `test`, then /bin/true standing in for each of the three tools) and paints an
//   empty window; floor-main-window does the same with the real main window. What the utility
//   takes beyond them is its own work.
//
// All kinds of run are interleaved round by round so that the load of the shared machine
// hits them alike. Usage: startup_bench [--rounds N]
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "bench/support/Marks.h"
#include "bench/support/PairedRuns.h"
#include "bench/support/PhaseMarks.h"
#include "tests/support/TempHost.h"

namespace {

// The phases, in the order the child reaches them; each ends at the mark of its name.
struct Phase {
    const char* mark;
    const char* what;
};
constexpr Phase kPhases[] = {
    {"main", "process start and Qt: exec, libraries, to main"},
    {"qt", "process start and Qt: the application object"},
    {"loaded", "window load: description to widgets"},
    {"window", "window load: owner connected, window shown"},
    {"in-use", "in-use check"},
    {"path", "path test (shell running test)"},
    {"rights", "rights (with its two pauses)"},
    {"version", "version reading (status tool)"},
    {"swap", "driver swap (kextunload, kextload)"},
    {"pause", "pause after the swap"},
    {"read", "first read"},
    {"bind", "tag binding (64 look-ups)"},
    {"form", "first display: the form filled (with its read sweep)"},
    {"display", "first display: the window painted"},
};

std::vector<std::string> UtilityEnvironment(const TempHost& host, const TempDir& work,
                                            const std::string& script) {
    return {"QT_QPA_PLATFORM=offscreen", "SC820_HOST_ROOT=" + host.root(),
            "SC820_AUTOMATION=" + work.path() + "/" + script,
            "SC820_TRANSCRIPT=" + work.path() + "/transcript"};
}

void ResetHost(const TempHost& host) {
    host.hostOk({"init", "--force"});
    sync();  // the host's files are written back before, not during, the timed run
}

void Die(const std::string& what, const std::string& output) {
    std::fprintf(stderr, "startup_bench: %s\n%s\n", what.c_str(), output.c_str());
    std::exit(1);
}

// Runs a child that prints marks; the time just before it starts and after it has exited.
PhaseRun RunMarked(const std::string& program, const std::vector<std::string>& env) {
    PhaseRun run;
    std::string out;
    run.start = MonotonicNanos();
    const int status = RunProgram({program}, &out, env);
    run.end = MonotonicNanos();
    if (status != 0) Die(program + " failed", out);
    run.marks = ParseMarks(out);
    return run;
}

// PhaseMedian, for phases whose marks every run must have printed.
double MarkedPhase(const std::vector<PhaseRun>& runs, const char* from, const char* to) {
    const std::optional<double> median = PhaseMedian(runs, from, to);
    if (!median) {
        Die(std::string("a run lacks the mark ") + (from != nullptr ? from : "") + " or " +
                (to != nullptr ? to : ""),
            "");
    }
    return *median;
}

// Qt reports each backing-store flush under this logging category; a window that was never
// flushed was never shown to anyone.
const char kPaintLogging[] = "QT_LOGGING_RULES=qt.widgets.painting=true";

// Runs a program once, untimed, and tells whether its main window was painted.
bool Paints(const std::vector<std::string>& argv, std::vector<std::string> env) {
    env.push_back(kPaintLogging);
    std::string out;
    RunProgram(argv, &out, env);
    return out.find("Syncing QRegion") != std::string::npos;
}

// One run of the utility with the given script: its wall time; its peak memory into *peaks.
double RunUtility(const TempHost& host, const TempDir& work, const std::string& script,
                  std::vector<double>* peaks) {
    ResetHost(host);
    long peak = 0;
    std::string out;
    Stopwatch clock;
    const int status =
        RunProgram({SC820_UTILITY_BINARY}, &out, UtilityEnvironment(host, work, script), &peak);
    const double seconds = clock.seconds();
    if (status != 0) Die("the utility failed", out + ReadFileBytes(work.path() + "/transcript"));
    if (ReadFileBytes(work.path() + "/transcript").find("terminate") == std::string::npos)
        Die("the utility did not reach the first display", out);
    peaks->push_back(static_cast<double>(peak));
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = RoundsArgument(argc, argv, 21);
    TempHost host;
    TempDir work;
    // Cancel ends the program at once. Pressed on the event loop's first turn it ends the
    // program before the window is painted; OK does nothing, and the turn it takes lets the
    // window system paint the window first.
    WriteFileBytes(work.path() + "/to-first-display", "answer 1\npress ok\npress cancel\n");
    WriteFileBytes(work.path() + "/cancel-at-once", "answer 1\npress cancel\n");
    WriteFileBytes(work.path() + "/no-answers", "");

    // Every side that claims a first display must have painted its window.
    const std::vector<std::string> offscreen = {"QT_QPA_PLATFORM=offscreen"};
    if (!Paints({SC820_BARE_WINDOW}, offscreen)) Die("the bare window was not painted", "");
    ResetHost(host);
    if (!Paints({SC820_UTILITY_BINARY}, UtilityEnvironment(host, work, "to-first-display")))
        Die("the utility's window was not painted", "");
    ResetHost(host);
    if (!Paints({SC820_STARTUP_PHASES}, UtilityEnvironment(host, work, "no-answers")))
        Die("the phase run's window was not painted", "");
    ResetHost(host);
    const bool cancelAtOncePaints =
        Paints({SC820_UTILITY_BINARY}, UtilityEnvironment(host, work, "cancel-at-once"));

    const std::string loadBefore = MachineLoad();
    std::vector<double> barePeak, utilityPeak, cancelAtOncePeak;
    std::vector<PhaseRun> phaseRuns, bareRuns;
    std::vector<Side> sides = {
        [&] {
            long peak = 0;
            std::string out;
            Stopwatch clock;
            const int status = RunProgram({SC820_BARE_WINDOW}, &out, offscreen, &peak);
            const double seconds = clock.seconds();
            if (status != 0) Die("the bare program failed", out);
            barePeak.push_back(static_cast<double>(peak));
            return seconds;
        },
        [&] { return RunUtility(host, work, "to-first-display", &utilityPeak); },
        [&] {
            ResetHost(host);
            phaseRuns.push_back(
                RunMarked(SC820_STARTUP_PHASES, UtilityEnvironment(host, work, "no-answers")));
            return (phaseRuns.back().end - phaseRuns.back().start) / 1e9;
        },
        [&] { return RunUtility(host, work, "cancel-at-once", &cancelAtOncePeak); },
        [&] {
            bareRuns.push_back(RunMarked(SC820_BARE_WINDOW_MARKS, offscreen));
            return (bareRuns.back().end - bareRuns.back().start) / 1e9;
        },
    };
    // The floor's processes: the bundle's own test program, and /bin/true for each tool.
    const std::vector<std::string> floorArguments = {
        std::string(SC820_BUNDLE_DIR) + "/Contents/Resources/test", "/bin/true"};
    auto floorCommand = [&](const char* program) {
        std::vector<std::string> command = {program};
        command.insert(command.end(), floorArguments.begin(), floorArguments.end());
        return command;
    };
    std::vector<double> floorPeak, floorWindowPeak;
    auto runFloor = [&](const char* program, std::vector<double>* peaks) {
        const std::vector<std::string> command = floorCommand(program);
        long peak = 0;
        std::string out;
        Stopwatch clock;
        const int status = RunProgram(command, &out, offscreen, &peak);
        const double seconds = clock.seconds();
        if (status != 0) Die("a floor program failed", out);
        peaks->push_back(static_cast<double>(peak));
        return seconds;
    };
    sides.push_back([&] { return runFloor(SC820_FLOOR_WINDOW, &floorPeak); });
    sides.push_back([&] { return runFloor(SC820_FLOOR_MAIN_WINDOW, &floorWindowPeak); });
    for (const char* floor : {SC820_FLOOR_WINDOW, SC820_FLOOR_MAIN_WINDOW}) {
        if (!Paints(floorCommand(floor), offscreen))
            Die("a floor program's window was not painted", floor);
    }
    const auto results = RunInterleaved(sides, rounds);
    const std::string loadAfter = MachineLoad();

    std::printf("startup_bench: %d rounds, offscreen; %s before, %s after\n", rounds,
                loadBefore.c_str(), loadAfter.c_str());
    // A child's reported peak is never below this program's own at the time of the spawn.
    std::printf("startup_bench's own peak memory: %ld KiB (the children's peaks must exceed it)\n",
                OwnPeakKib());

    // Phase medians: each phase from the previous mark (the first from the child's start).
    const double phaseWhole = Median(results[2]);
    auto share = [phaseWhole](double seconds) {
        char text[16];
        std::snprintf(text, sizeof text, "%.0f%%", 100 * seconds / phaseWhole);
        return std::string(text);
    };
    auto row = [&](const std::string& what, const char* from, const char* to, bool bare) {
        const double utility = MarkedPhase(phaseRuns, from, to);
        return TableRow{what, FormatSeconds(utility), share(utility),
                        bare ? FormatSeconds(MarkedPhase(bareRuns, from, to)) : ""};
    };
    std::vector<TableRow> phaseRows;
    double phaseSum = 0;
    const char* previous = nullptr;
    for (const Phase& phase : kPhases) {
        phaseSum += MarkedPhase(phaseRuns, previous, phase.mark);
        const bool bareHasIt = bareRuns.front().marks.count(phase.mark) != 0;
        phaseRows.push_back(row(phase.what, previous, phase.mark, bareHasIt));
        previous = phase.mark;
    }
    phaseSum += MarkedPhase(phaseRuns, previous, nullptr);
    phaseRows.push_back(row("exit (teardown to the parent's wait)", previous, nullptr, false));
    phaseRows.push_back({"sum of the phase medians", FormatSeconds(phaseSum), share(phaseSum), ""});
    phaseRows.push_back(
        row("everything after Qt's start (bare: window, paint, exit)", "qt", nullptr, true));
    phaseRows.push_back(row("the phase run, whole", nullptr, nullptr, true));
    PrintTable(
        "Start-up phases (the child runs the start-up step by step; medians over the rounds)",
        {"phase", "median", "share", "bare window"}, phaseRows);

    auto KiB = [](double kib) {
        char text[32];
        std::snprintf(text, sizeof text, "%.0f KiB", kib);
        return std::string(text);
    };
    PrintTable(
        "Start-up beside a bare Qt window (interleaved, medians, ratio = median of the pairs)",
        {"what", "utility", "bare window", "ratio", "target"},
        {{"start-up through the driver swap to the first display (painted)",
          FormatSeconds(Median(results[1])), FormatSeconds(Median(results[0])),
          FormatRatio(MedianRatio(results[1], results[0])), "≤ 1.5×"},
         {"peak memory, same pair", KiB(Median(utilityPeak)), KiB(Median(barePeak)),
          FormatRatio(MedianRatio(utilityPeak, barePeak)), "≤ 1.3×"},
         {"the phase run, whole (a check of the step-by-step child)", FormatSeconds(phaseWhole),
          FormatSeconds(Median(results[0])), FormatRatio(MedianRatio(results[2], results[0])), ""},
         {std::string("Cancel on the event loop's first turn (window painted: ") +
              (cancelAtOncePaints ? "yes" : "no") + ")",
          FormatSeconds(Median(results[3])), FormatSeconds(Median(results[0])),
          FormatRatio(MedianRatio(results[3], results[0])), ""},
         {"peak memory, same pair", KiB(Median(cancelAtOncePeak)), KiB(Median(barePeak)),
          FormatRatio(MedianRatio(cancelAtOncePeak, barePeak)), ""}});

    PrintTable(
        "Start-up beside its floor (the same five processes, nothing of the program's own work)",
        {"what", "utility", "floor", "ratio", ""},
        {{"floor: the five processes and an empty window (the bare window: " +
              FormatSeconds(Median(results[0])) + ")",
          FormatSeconds(Median(results[1])), FormatSeconds(Median(results[5])),
          FormatRatio(MedianRatio(results[1], results[5])), ""},
         {"peak memory, same pair", KiB(Median(utilityPeak)), KiB(Median(floorPeak)),
          FormatRatio(MedianRatio(utilityPeak, floorPeak)), ""},
         {"floor: the five processes and the real main window, built and painted",
          FormatSeconds(Median(results[1])), FormatSeconds(Median(results[6])),
          FormatRatio(MedianRatio(results[1], results[6])), ""},
         {"peak memory, same pair", KiB(Median(utilityPeak)), KiB(Median(floorWindowPeak)),
          FormatRatio(MedianRatio(utilityPeak, floorWindowPeak)), ""}});
    return 0;
}
