// Start-up of the real program, offscreen, against a fresh emulated host: through to the
// last question (answered Cancel), and through to the first display (then Cancel), side by
// side with a bare Qt program that opens an empty window and quits. Reports wall time per run
// and each run's peak resident memory (counter "peak_kib").
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/TempHost.h"

namespace {

struct ChildRun {
    int status = -1;
    long peakKib = 0;
};

ChildRun Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> envStrings = MergedEnvironment(env);
    std::vector<char*> envp;
    for (auto& e : envStrings) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    ChildRun run;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data()) == 0) {
        struct rusage usage {};
        wait4(pid, &run.status, 0, &usage);
        run.peakKib = usage.ru_maxrss;
    }
    posix_spawn_file_actions_destroy(&actions);
    return run;
}

// Each run starts from the default host, made outside the timed region; `settle` waits for the
// host's files to reach the disk first so that their write-back does not land inside a run.
void RunUtility(benchmark::State& state, const std::string& script) {
    TempHost host;
    TempDir work;
    WriteFileBytes(work.path() + "/script", script);
    const std::vector<std::string> env = {
        "QT_QPA_PLATFORM=offscreen", "SC820_HOST_ROOT=" + host.root(),
        "SC820_AUTOMATION=" + work.path() + "/script", "SC820_TRANSCRIPT=" + work.path() + "/t"};
    long peak = 0;
    for (auto _ : state) {
        state.PauseTiming();
        host.hostOk({"init", "--force"});
        sync();
        state.ResumeTiming();
        const ChildRun run = Spawn({SC820_UTILITY_BINARY}, env);
        if (run.status != 0) state.SkipWithError("the utility failed");
        peak = std::max(peak, run.peakKib);
    }
    state.counters["peak_kib"] = static_cast<double>(peak);
}

void BM_StartupToLastQuestion(benchmark::State& state) {
    RunUtility(state, "answer 0\n");
}
void BM_StartupToFirstDisplay(benchmark::State& state) {
    RunUtility(state, "answer 1\npress cancel\n");
}

void BM_BareQtWindow(benchmark::State& state) {
    long peak = 0;
    for (auto _ : state) {
        const ChildRun run = Spawn({SC820_BARE_WINDOW}, {"QT_QPA_PLATFORM=offscreen"});
        if (run.status != 0) state.SkipWithError("the bare program failed");
        peak = std::max(peak, run.peakKib);
    }
    state.counters["peak_kib"] = static_cast<double>(peak);
}

BENCHMARK(BM_BareQtWindow)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StartupToLastQuestion)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StartupToFirstDisplay)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
