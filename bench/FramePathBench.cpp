// The controller's own cost per processed frame: a camera double hands a grey frame (64 x 48,
// where the fixed costs show, and 1280 x 1024) to the pool (not timed), then CameraGetImageBufferEx
// takes it, runs the exposure and white-balance steps and the pipeline into the controller's buffer
// and gives the frame back. The same frame through a pipeline object of the same settings is timed
// beside it. Reported: median ns per frame of each, their difference (the controller's overhead:
// frame wait, descriptor, locking, per-frame steps, release) and heap allocations per frame of the
// Ex call once its buffers have grown (0 expected). "resize" adds the software resize to
// half size (the pipeline then processes the smaller frame, so the difference includes the
// resize).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "control/CameraControl.h"
#include "CameraISP.h"
#include "FakeCameraFactory.h"
#include "FakeDevice.h"
#include "manager/JNCameraMgr.h"
#include "manager/JNDeviceMgr.h"
#include "ScopedHome.h"
#include "support/AllocCounter.h"
#include "support/BenchStats.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kMaxWidth = 1280;
constexpr uint32_t kMaxHeight = 1024;

// A mono camera with written device parameters and one preset of width x height, optionally
// with a resize to half size.
class BenchCamera : public qvsim::CFakeDevice {
  public:
    BenchCamera(uint32_t width, uint32_t height, bool resize)
        : m_width(width), m_height(height), m_resize(resize) {
        tSdkCapability cap{};
        const int32_t mono = 1;
        std::memcpy(cap.abPropertyFlags, &mono, sizeof mono);
        const UINT sensor[10] = {16, 220, 1000, 16000, 1, 10000, kMaxHeight, 8, kMaxWidth, 8};
        std::memcpy(cap.auSensorParam, sensor, sizeof sensor);
        CameraProperty prop{};
        prop.presetCount = 1;
        prop.presetMaskLow = 0x1;
        prop.writtenFlag = 1;
        CameraSettings& s = prop.defaultSettings;
        s.exposureTime = 10000.0;
        s.analogGain = 1000;
        s.aeExposureMin = -1;
        s.aeExposureMax = -1;
        s.lightFrequency = 1;
        s.rgbGain[0] = s.rgbGain[1] = s.rgbGain[2] = 100;
        s.ispOutFormat = CAMERA_MEDIA_TYPE_MONO8;
        s.contrast = 50;
        s.saturation = 128;
        s.gamma = 100;
        s.contrastLut = 100;
        DeviceMiscInfo misc{};
        misc.defaultRedGain = misc.defaultGreenGain = misc.defaultBlueGain = 100;
        ScriptDevParam(0, &cap, &prop, &misc);
    }
    int GetCameraDevParam(tSdkCapability* cap, tDevInfo* info, CameraProperty* prop,
                          DeviceMiscInfo* misc) override {
        const int r = CFakeDevice::GetCameraDevParam(cap, info, prop, misc);
        if (cap != nullptr) {
            tSdkResolution preset{};
            preset.iSensorWidth = static_cast<INT>(m_width);
            preset.iSensorHeight = static_cast<INT>(m_height);
            preset.uWidth = m_width;
            preset.uHeight = m_height;
            if (m_resize) {
                preset.uResizeWidth = m_width / 2;
                preset.uResizeHeight = m_height / 2;
            }
            cap->iImageSizeDesc = 1;
            cap->pImageSizeDesc = new tSdkResolution[1]{preset};
        }
        return r;
    }

  private:
    uint32_t m_width;
    uint32_t m_height;
    bool m_resize;
};

void BM_ControllerFramePath(benchmark::State& state) {
    const uint32_t kWidth = static_cast<uint32_t>(state.range(0));
    const uint32_t kHeight = static_cast<uint32_t>(state.range(1));
    const bool resize = state.range(2) != 0;

    // Parameter files go to a private HOME.
    qvsim::ScopedHome home;
    if (!home.Made()) {
        state.SkipWithError("no temporary folder");
        return;
    }

    auto mgr = std::make_unique<CJNDeviceMgr>(
        std::make_unique<qvsim::CFakeCameraFactory>(qvsim::CFakeCameraFactory::RefreshStyle::kUsb),
        nullptr, 1000);
    auto camera = std::make_shared<BenchCamera>(kWidth, kHeight, resize);
    auto control = std::make_unique<CameraControl>(mgr.get());
    // Group 255: the camera's defaults (dead-pixel correction on, as a new camera has it).
    if (control->CameraInit(camera, 0, 255, nullptr) != 0 || control->CameraPlay() != 0) {
        state.SkipWithError("camera did not open");
        return;
    }

    // A camera-like frame: a smooth gradient with a little noise (dead-pixel correction, whose
    // cost grows with the pixels it replaces, has little to do on it, as on a good sensor).
    std::mt19937 rng(11);
    std::vector<uint8_t> raw(size_t{kWidth} * kHeight);
    for (uint32_t y = 0; y < kHeight; ++y)
        for (uint32_t x = 0; x < kWidth; ++x)
            raw[size_t{y} * kWidth + x] =
                static_cast<uint8_t>(40 + (x + y) * 160 / (kWidth + kHeight) + rng() % 5);
    stImageInfo in{};
    in.iWidth = kWidth;
    in.iHeight = kHeight;
    in.TotalBytes = static_cast<UINT>(raw.size());
    in.uiMediaType = CAMERA_MEDIA_TYPE_MONO8;
    in.ExpTime = 10000.0;
    in.ExpLineTime = 12.5;
    in.Gain = 1000;

    // The same pipeline settings on their own.
    CameraISP isp;
    isp.LoadParameter(control->GetParameterRecord().settings, 1, 1, CAMERA_MEDIA_TYPE_MONO8,
                      JNCameraMgr::kProcessLevel);
    stImageInfo ispIn = in;
    if (resize) {
        ispIn.iWidth = kWidth / 2;
        ispIn.iHeight = kHeight / 2;
        ispIn.TotalBytes = ispIn.iWidth * ispIn.iHeight;
    }
    std::vector<uint8_t> ispRaw(raw.begin(), raw.begin() + ispIn.TotalBytes);
    std::vector<uint8_t> ispOut(raw.size());
    stImageInfo ispOutInfo{};

    // The first frame grows the buffers.
    camera->PushFrame(raw.data(), static_cast<uint32_t>(raw.size()), in);
    if (control->CameraGetImageBufferEx(nullptr, 1000) == nullptr) {
        state.SkipWithError("frame refused");
        return;
    }

    std::vector<double> path, pipeline;
    uint64_t allocations = 0;
    uint64_t frames = 0;
    for (auto _ : state) {
        camera->PushFrame(raw.data(), static_cast<uint32_t>(raw.size()), in);
        stImageInfo info{};
        const uint64_t before = qvbench::AllocationCount();
        const auto t0 = Clock::now();
        BYTE* out = control->CameraGetImageBufferEx(&info, 1000);
        const auto t1 = Clock::now();
        allocations += qvbench::AllocationCount() - before;
        benchmark::DoNotOptimize(out);
        // Dead-pixel correction works in place and its cost depends on the frame: the pipeline
        // gets the same fresh frame as the controller did.
        std::copy(raw.begin(), raw.begin() + ispIn.TotalBytes, ispRaw.begin());
        const auto t1b = Clock::now();
        isp.ProcessFrame(&ispIn, ispRaw.data(), &ispOutInfo, ispOut.data(), 100, 100, 100);
        const auto t2 = Clock::now();
        benchmark::ClobberMemory();
        if (out == nullptr) {
            state.SkipWithError("frame lost");
            break;
        }
        path.push_back(std::chrono::duration<double, std::nano>(t1 - t0).count());
        pipeline.push_back(std::chrono::duration<double, std::nano>(t2 - t1b).count());
        ++frames;
    }
    const double pathNs = qvbench::Median(path);
    const double pipelineNs = qvbench::Median(pipeline);
    state.counters["ex_ns"] = pathNs;
    state.counters["pipeline_ns"] = pipelineNs;
    state.counters["overhead_ns"] = pathNs - pipelineNs;
    state.counters["allocs_per_frame"] = qvbench::PerFrame(allocations, frames);

    control.reset();
    camera.reset();
    mgr.reset();
}

BENCHMARK(BM_ControllerFramePath)
    ->ArgNames({"w", "h", "resize"})
    ->Args({64, 48, 0})
    ->Args({1280, 1024, 0})
    ->Args({1280, 1024, 1})
    ->MinTime(0.5)
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
