// A Write of a 64 KiB image through the controller, with the user's answers given by a test
// backend, side by side with the two mandated pauses alone.
#include <benchmark/benchmark.h>

#include "app/SC820Controller.h"
#include "card/CommandCodes.h"
#include "driverctl/Pause.h"
#include "tests/support/FakeControls.h"
#include "tests/support/PlatformProbes.h"
#include "tests/support/RecordingBackend.h"
#include "tests/support/TempHost.h"

namespace {

void BM_WriteImage64KiB(benchmark::State& state) {
    TempHost host;
    host.swapDrivers();
    TempDir work;
    std::string image(kFlashSize, '\0');
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 7 + 1);
    WriteFileBytes(work.path() + "/image.bin", image);
    UseMainBundleAt(SC820_BUNDLE_DIR);
    RecordingBackend backend;
    FakeTextField version;
    SC820Controller controller;
    controller.out_verSCSIBIOS = &version;
    controller.doGetEEPConfig();
    for (auto _ : state) {
        backend.alertAnswers = {1, 1, 1};
        backend.panelChoices = {work.path() + "/image.bin"};
        controller.act_write(nullptr);
        if (version.value != "updated.") state.SkipWithError("the write did not verify");
    }
}

void BM_TwoFlashPauses(benchmark::State& state) {
    for (auto _ : state) {
        BusyPause(kFlashPauseCount);
        BusyPause(kFlashPauseCount);
    }
}

BENCHMARK(BM_TwoFlashPauses)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteImage64KiB)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
