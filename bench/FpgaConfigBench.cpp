// Cost of the FPGA configuration at stream open, without the USB link: inflating the largest
// embedded image, and a whole configuration against the simulated camera's FPGA through the
// in-process link (the request count is what a real USB link multiplies by its round trip).
#include <benchmark/benchmark.h>

#include <vector>

#include "SimUsbCamera.h"
#include "SimUsbFpga.h"
#include "SimUsbInProcess.h"
#include "usb/FpgaImages.h"
#include "usb/UsbFpgaConfig.h"

namespace {

using namespace qv::usb;

FpgaImageId Largest() {
    size_t best = 0;
    for (size_t i = 1; i < kFpgaImageCount; ++i)
        if (kFpgaImageBlobs[i].inflatedSize > kFpgaImageBlobs[best].inflatedSize) best = i;
    return static_cast<FpgaImageId>(best);
}

void BM_InflateLargestImage(benchmark::State& state) {
    const FpgaImageId id = Largest();
    std::vector<uint8_t> out;
    for (auto _ : state) {
        if (InflateFpgaImage(id, out) != 0) state.SkipWithError("inflate failed");
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * out.size()));
    state.counters["bytes"] = static_cast<double>(out.size());
}
BENCHMARK(BM_InflateLargestImage)->Unit(benchmark::kMillisecond);

void NoPause(unsigned) {}

// Hardware type 100 with sensor type 22, its FPGA unconfigured: PROG, INIT, data, DONE.
void BM_ConfigureInProcess(benchmark::State& state) {
    size_t requests = 0;
    for (auto _ : state) {
        state.PauseTiming();
        CSimUsbCamera camera{SimUsbCameraConfig{}};
        SimUsbFpgaConfig board;
        board.progPin = 25, board.initPin = 23, board.donePin = 27;
        board.configuredVersion = 0x1306;
        CSimUsbFpga fpga(camera, board);
        CSimUsbInProcess link(camera);
        CUsbFpgaConfig config(link, 100, NoPause);
        state.ResumeTiming();
        if (config.LoadFpga(22) != 0) state.SkipWithError("configuration failed");
        state.PauseTiming();
        requests = camera.Requests().size();
        state.ResumeTiming();
    }
    state.counters["requests"] = static_cast<double>(requests);
}
BENCHMARK(BM_ConfigureInProcess)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
