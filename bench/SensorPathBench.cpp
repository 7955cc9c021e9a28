// The sensor driver's share of an auto-exposure step: the exposure and gain calls the pipeline
// makes every few frames, on a device that accepts every write at once. Reports the time per
// step and the heap allocations per step (the register lists are built on the stack).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <span>

#include "FakeDevice.h"
#include "sensors/SensorInf.h"
#include "support/AllocCounter.h"

namespace {

// A device whose register writes cost nothing, so the figure is the driver's own work.
class NullDevice : public qvsim::CFakeDevice {
  public:
    explicit NullDevice(int hw) { SetHardwareType(hw); }
    int GetHardwareType() override { return m_hardwareType; }
    int WriteSensorReg(uint16_t, uint16_t) override { return 0; }
    int WriteSensorRegs(std::span<const uint16_t> regAndVal) override {
        benchmark::DoNotOptimize(regAndVal.data());
        return 0;
    }
    int SetSensorInterface(uint16_t) override { return 0; }
};

void BM_Imx290ExposureAndGainStep(benchmark::State& state) {
    auto dev = std::make_shared<NullDevice>(102);
    std::unique_ptr<SensorInf> sensor(SensorInf::CreateSensor(SENSOR_TYPE_IMX290C, dev.get()));
    CameraInitParam param{};
    param.resolution.uWidth = 1920;
    param.resolution.uHeight = 1080;
    param.resolution.iSensorWidth = 1920;
    param.resolution.iSensorHeight = 1080;
    param.frameSpeed = 2;
    param.mediaType = 0x01080008;
    // Init pauses on the real clock (about 0.1 s), once.
    if (sensor->Init(&param) != 0) state.SkipWithError("Init failed");

    // Alternate inside the frame and across it, and across the 30 dB gain switch.
    const uint32_t lines[] = {400, 1124, 1500, 800};
    const uint32_t gains[] = {1000, 20000, 40000, 3000};
    size_t i = 0;
    const uint64_t allocBefore = qvbench::AllocationCount();
    for (auto _ : state) {
        benchmark::DoNotOptimize(sensor->SetExposureLines(lines[i & 3]));
        benchmark::DoNotOptimize(sensor->SetAnalogGain(gains[i & 3]));
        ++i;
    }
    state.counters["allocs_per_step"] =
        benchmark::Counter(static_cast<double>(qvbench::AllocationCount() - allocBefore) /
                           static_cast<double>(state.iterations()));
}
BENCHMARK(BM_Imx290ExposureAndGainStep);

}  // namespace

BENCHMARK_MAIN();
