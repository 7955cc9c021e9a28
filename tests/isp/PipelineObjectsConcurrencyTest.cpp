// The pipeline objects under the controller's threading: frames processed on one thread while
// host threads call the setters and getters. Run under ThreadSanitizer in CI.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "CameraExposure.h"
#include "CameraISP.h"
#include "control/CameraSettings.h"
#include "CameraWhiteBalance.h"
#include "sensors/SensorInf.h"

namespace {

constexpr uint32_t kMono8 = 0x01080000u;
constexpr int kW = 64;
constexpr int kH = 16;
// Enough rounds that the threads overlap for many frames, few enough for ThreadSanitizer.
constexpr int kFrames = 200;
constexpr int kHostRounds = 2000;

CameraSettings NeutralSettings() {
    CameraSettings s;
    std::memset(&s, 0, sizeof(s));
    s.saturation = 128;
    s.contrast = 50;
    s.ispOutFormat = kMono8;
    s.gamma = 100;
    s.contrastLut = 100;
    return s;
}

stImageInfo MonoInfo() {
    stImageInfo info{};
    info.iWidth = kW;
    info.iHeight = kH;
    info.TotalBytes = kW * kH;
    info.uiMediaType = kMono8;
    info.ExpTime = 1000.0;
    info.ExpLineTime = 10.0;
    info.Gain = 1000;
    return info;
}

// Every row its own value, so a frame that mixed two mirror settings would show.
std::vector<uint8_t> RowsFrame() {
    std::vector<uint8_t> raw(kW * kH);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) raw[y * kW + x] = static_cast<uint8_t>(10 + 12 * y + x);
    return raw;
}

std::vector<uint8_t> RunOnce(CameraISP& isp) {
    const stImageInfo in = MonoInfo();
    std::vector<uint8_t> raw = RowsFrame();
    std::vector<uint8_t> out(kW * kH);
    stImageInfo outInfo{};
    EXPECT_EQ(isp.ProcessFrame(&in, raw.data(), &outInfo, out.data(), 100, 100, 100), 0);
    return out;
}

TEST(PipelineConcurrency, SettersFromHostThreadsNeverReachAFrameHalfApplied) {
    // The four outputs a frame may show: vertical mirror off or on, gamma 100 or 45.
    std::vector<std::vector<uint8_t>> valid;
    for (int mirror : {0, 1})
        for (int gamma : {100, 45}) {
            CameraISP ref;
            CameraSettings s = NeutralSettings();
            s.mirrorV = mirror;
            s.gamma = gamma;
            ref.LoadParameter(s, 1, 1, kMono8, 6);
            valid.push_back(RunOnce(ref));
        }
    ASSERT_NE(valid[0], valid[1]);
    ASSERT_NE(valid[0], valid[2]);

    CameraISP isp;
    ASSERT_EQ(isp.LoadParameter(NeutralSettings(), 1, 1, kMono8, 6), 0);
    std::atomic<bool> stop{false};
    std::atomic<int> badFrames{0};

    std::thread frames([&] {
        const stImageInfo in = MonoInfo();
        std::vector<uint8_t> out(kW * kH);
        for (int i = 0; i < kFrames || !stop; ++i) {
            std::vector<uint8_t> raw = RowsFrame();
            stImageInfo outInfo{};
            isp.SetFrameStatistics(0, 0, 0, 0);
            if (isp.ProcessFrame(&in, raw.data(), &outInfo, out.data(), 100, 100, 100) != 0 ||
                std::find(valid.begin(), valid.end(), out) == valid.end())
                badFrames.fetch_add(1);
        }
    });
    std::thread mirror([&] {
        for (int i = 0; i < kHostRounds; ++i) {
            isp.SetMirror(1, i & 1);
            isp.SetSharpness(0);
            std::this_thread::yield();
        }
    });
    std::thread lut([&] {
        for (int i = 0; i < kHostRounds; ++i) {
            isp.SetGamma(i & 1 ? 45 : 100);
            std::this_thread::yield();
        }
    });
    std::thread readers([&] {
        std::vector<uint16_t> curve(4096);
        stImageInfo in = MonoInfo(), out{};
        int bpp = 0, id = 0;
        for (int i = 0; i < kHostRounds; ++i) {
            isp.GetActiveSettings();
            isp.GetDirtyCode();
            isp.GetGamma();
            isp.GetCurrentLut(0, curve.data());
            isp.GetCustomLut(1, curve.data());
            isp.GetOutFormatInfo(&bpp, &id, &in, &out);
        }
    });
    mirror.join();
    lut.join();
    readers.join();
    stop = true;
    frames.join();
    EXPECT_EQ(badFrames.load(), 0);

    // The last values set are the ones the next frame takes over.
    isp.SetMirror(1, 1);
    isp.SetGamma(45);
    EXPECT_EQ(RunOnce(isp), valid[3]);
}

TEST(PipelineConcurrency, ExposureAndWhiteBalanceSettersRaceTheFrameStep) {
    SensorParam limits;
    std::memset(&limits, 0, sizeof(limits));
    limits.aeTargetMin = 0;
    limits.aeTargetMax = 255;
    limits.analogGainMin = 1000;
    limits.analogGainMax = 16000;
    CameraSettings s = NeutralSettings();
    s.aeState = 1;
    s.aeTarget = 128;
    s.rgbGain[0] = s.rgbGain[1] = s.rgbGain[2] = 100;

    CameraExposure ae;
    CameraWhiteBalance wb;
    ASSERT_EQ(ae.LoadParameter(limits, s, 0), 0);
    ASSERT_EQ(wb.LoadParameter(s, 1, 1, 50, 300, 100, 100, 50, 300), 0);
    std::atomic<bool> stop{false};

    std::thread frames([&] {
        const stImageInfo info = MonoInfo();
        std::vector<uint8_t> raw = RowsFrame();
        for (int i = 0; i < kFrames || !stop; ++i) {
            uint32_t lines = 0, gain = 0, r = 100, g = 100, b = 100;
            ae.SetWbGains(r, g, b);
            ae.ProcessFrame(&info, raw.data(), 0, &lines, &gain);
            uint8_t brightness = 0, sr, sg1, sg2, sb;
            ae.GetBrightness(&brightness);
            wb.ProcessFrame(raw.data(), &info, &r, &g, &b, 1, brightness);
            ae.GetFrameStatistics(&sr, &sg1, &sg2, &sb);
        }
    });
    std::thread hostAe([&] {
        for (int i = 0; i < kHostRounds; ++i) {
            ae.SetFrameTime(i & 1 ? 33333.0 : 40000.0);
            ae.CE_CameraSetAeTarget(100 + (i & 7));
            ae.CE_CameraSetAeWindow(0, 0, 32, 8);
            ae.CE_CameraSetAntiFlick(i & 1);
            ae.RestartCount();
            ae.SetFrameInterval(i & 1 ? 2 : 0);
            ae.GetActiveSettings();
        }
    });
    std::thread hostWb([&] {
        for (int i = 0; i < kHostRounds; ++i) {
            wb.CWB_CameraSetWbMode(i & 1);
            wb.CWB_CameraSetOnceWB();
            wb.CWB_CameraSetWbWindow(0, 0, 16, 8);
            wb.SetFrameInterval(i & 1 ? 3 : 0);
            wb.CWB_CameraGetWbMode();
            wb.CWB_CameraGetOnceWB();
        }
    });
    hostAe.join();
    hostWb.join();
    stop = true;
    frames.join();

    ae.SetFrameTime(40000.0);
    ae.CE_CameraSetAeTarget(90);
    wb.CWB_CameraSetWbMode(0);
    const stImageInfo info = MonoInfo();
    std::vector<uint8_t> raw = RowsFrame();
    uint32_t lines = 0, gain = 0, r = 100, g = 100, b = 100;
    ae.ProcessFrame(&info, raw.data(), 0, &lines, &gain);
    wb.ProcessFrame(raw.data(), &info, &r, &g, &b, 1, 128);
    EXPECT_EQ(ae.GetFrameTime(), 40000.0);
    EXPECT_EQ(ae.CE_CameraGetAeTarget(), 90);
    EXPECT_EQ(wb.CWB_CameraGetWbMode(), 0);
    EXPECT_EQ(ae.GetDirtyCode(), 0);
    EXPECT_EQ(wb.GetDirtyCode(), 0);
}

}  // namespace
