// Times the part of start-up that runs before the first read of the card: the rights
// acquisition, the version reading and the driver swap, each iteration against a freshly
// initialised emulated host (the re-initialisation is not timed).
#include <benchmark/benchmark.h>

#include <string>

#include "app/SC820Controller.h"
#include "card/DriverNames.h"
#include "tests/support/PlatformProbes.h"
#include "tests/support/TempHost.h"

namespace {

void BM_PreReadStartup(benchmark::State& state) {
    UseMainBundleAt(SC820_BUNDLE_DIR);
    const std::string searchText = std::string(kSC820DriverBundleID) + " (";
    TempHost host;
    for (auto _ : state) {
        state.PauseTiming();
        host.hostOk({"init", "--force"});
        SC820Controller controller;
        state.ResumeTiming();

        controller.acquireRights();
        NSString version = controller.getBiosVersion(searchText.c_str());
        benchmark::DoNotOptimize(version);
        controller.swapDrivers();

        state.PauseTiming();
        controller.freeAuthorization();
        state.ResumeTiming();
    }
}

// Most of the time is spent in the driver tools, which run as separate processes.
BENCHMARK(BM_PreReadStartup)->UseRealTime()->Unit(benchmark::kMillisecond)->Repetitions(9);

}  // namespace

BENCHMARK_MAIN();
