// The command channel's cost against a host root on local disk: one command (search, open,
// transfer, close) and one 17-chunk read sweep.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/SC820Controller.h"
#include "card/CommandCodes.h"
#include "card/DriverNames.h"
#include "tests/support/RecordingBackend.h"
#include "tests/support/TempHost.h"

namespace {

// A fresh host with the utility driver swapped in, kept for the whole run.
class SwappedHost {
public:
    SwappedHost() {
        std::string kext = scratch_.path() + "/Utility.kext";
        std::filesystem::create_directories(kext + "/Contents");
        WriteFileBytes(
            kext + "/Contents/Info.plist",
            std::string("<plist version=\"1.0\"><dict>"
                        "<key>CFBundleIdentifier</key><string>com.tavik.iokit.sc820utl</string>"
                        "<key>CFBundleVersion</key><string>2.1.0</string>"
                        "<key>IOKitPersonalities</key><dict><key>Utility</key><dict>"
                        "<key>IOClass</key><string>") +
                kUtilityDriverClass + "</string></dict></dict></dict></plist>");
        RunProgram({host_.root() + "/sbin/kextunload", "-m", kSC820DriverBundleID}, nullptr);
        RunProgram({host_.root() + "/sbin/kextload", kext}, nullptr);
    }

private:
    TempHost host_;
    TempDir scratch_;
};

SwappedHost& Host() {
    static SwappedHost host;
    return host;
}

void BM_GetEEPConfig(benchmark::State& state) {
    Host();
    RecordingBackend backend;
    SC820Controller controller;
    for (auto _ : state) {
        if (controller.doGetEEPConfig() != 1) state.SkipWithError("the driver refused the command");
    }
}
BENCHMARK(BM_GetEEPConfig)->Unit(benchmark::kMicrosecond);

void BM_ReadSweep(benchmark::State& state) {
    Host();
    RecordingBackend backend;
    SC820Controller controller;
    std::vector<uint8_t> buffer(kFlashBufferSize, 0);
    for (auto _ : state) {
        for (uint32_t k = 0; k < kFlashSweepChunks; ++k) {
            if (controller.doReadFlash(buffer.data() + k * kFlashChunkSize) != 1) {
                state.SkipWithError("the driver refused a chunk");
            }
        }
        benchmark::DoNotOptimize(buffer.data());
    }
}
BENCHMARK(BM_ReadSweep)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
