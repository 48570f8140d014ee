// What one driver-tool process costs against the smallest program there is: /bin/true, then
// sc820-host doing nothing (--version), then the status tool and `status` on a fresh host.
// Each iteration starts and waits for one process. The tool should stay within 1.5x of
// /bin/true plus the work it does.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "tests/support/TempHost.h"

namespace {

void Spawn(benchmark::State& state, const std::vector<std::string>& argv) {
    std::string out;
    for (auto _ : state) {
        if (RunProgram(argv, &out) != 0) state.SkipWithError(("failed: " + out).c_str());
    }
}

void BM_BinTrue(benchmark::State& state) {
    Spawn(state, {"/bin/true"});
}

void BM_HostVersion(benchmark::State& state) {
    Spawn(state, {SC820_HOST_BINARY, "--version"});
}

void BM_Kextstat(benchmark::State& state) {
    TempHost host;
    Spawn(state, {host.root() + "/usr/sbin/kextstat"});
}

void BM_HostStatus(benchmark::State& state) {
    TempHost host;
    Spawn(state, {SC820_HOST_BINARY, "--root", host.root(), "status"});
}

BENCHMARK(BM_BinTrue)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();
BENCHMARK(BM_HostVersion)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();
BENCHMARK(BM_Kextstat)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();
BENCHMARK(BM_HostStatus)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();

}  // namespace

BENCHMARK_MAIN();
