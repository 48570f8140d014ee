// Start-up of the real program, offscreen, against a fresh emulated host: through to the
// last question (answered Cancel), and through to the first display (then Cancel), side by
// side with a bare Qt program that opens an empty window and quits. Reports wall time per run
// and each run's peak resident memory (counter "peak_kib").
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/TempHost.h"

namespace {

// Each run starts from the default host, made outside the timed region; the host's files are
// flushed to disk first so that their write-back does not land inside a run.
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
        long runPeak = 0;
        if (RunProgram({SC820_UTILITY_BINARY}, nullptr, env, &runPeak) != 0)
            state.SkipWithError("the utility failed");
        peak = std::max(peak, runPeak);
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
        long runPeak = 0;
        if (RunProgram({SC820_BARE_WINDOW}, nullptr, {"QT_QPA_PLATFORM=offscreen"}, &runPeak) != 0)
            state.SkipWithError("the bare program failed");
        peak = std::max(peak, runPeak);
    }
    state.counters["peak_kib"] = static_cast<double>(peak);
}

BENCHMARK(BM_BareQtWindow)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StartupToLastQuestion)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_StartupToFirstDisplay)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
