// Shared pieces of the controller tests: a camera double with valid device parameters, a clock
// moved by hand, and a private HOME for the parameter files.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "control/CameraControl.h"
#include "control/ControlClock.h"
#include "FakeDevice.h"
#include "ScopedHome.h"

namespace ctltest {

// Time of the loss rule, moved by the test.
class CManualClock : public CControlClock {
  public:
    uint64_t NowMs() override { return m_now.load(); }
    void Advance(uint64_t ms) { m_now.fetch_add(ms); }

  private:
    std::atomic<uint64_t> m_now{1'000'000};
};

// The frames the tests push: 8-bit mono, kWidth x kHeight.
constexpr uint32_t kWidth = 64;
constexpr uint32_t kHeight = 48;
constexpr uint32_t kDeviceId = 0x4321;

// Records of a camera with written device parameters: presets 0 (640 x 480) and 1 (320 x 240,
// skipping 2), four output and two input lines, factory exposure 10 ms at unity gain.
CameraProperty TestProperty();
tSdkCapability TestCapability();
DeviceMiscInfo TestMisc();

// A camera double whose device-parameter read answers the records above (or a scripted result),
// with a scripted frame time, and which logs the sensor operations the stream open sends.
class CTestCamera : public qvsim::CFakeDevice {
  public:
    explicit CTestCamera(const char* sn = "SN0001", const char* name = "Cam",
                         const char* symbolicName = nullptr);

    // The device-parameter read answers result with the test records; edit and editCapability
    // may change the property record and the capability first.
    void ScriptParameters(int result = 0,
                          const std::function<void(CameraProperty&)>& edit = nullptr,
                          const std::function<void(tSdkCapability&)>& editCapability = nullptr);
    // Sensor formats the capability lists (none by default).
    void SetMediaTypes(std::vector<uint32_t> types);
    void SetFrameTimeUs(double us) { m_frameTimeUs.store(us); }
    // One mono frame of kWidth x kHeight filled with fill: 0, or -1 without a stream.
    int PushTestFrame(uint8_t fill = 0x80, uint32_t frameNo = 0);

    // From now on the driver reports sensor limits: the scripted capability's words (the test
    // capability's before a device-parameter read) with these gain or exposure-line limits
    // (drivers change them at run time, with the trigger mode for one). Until then it answers as
    // a camera without a sensor driver.
    void SetSensorGainLimits(uint32_t min, uint32_t max);
    void SetSensorLineLimits(uint32_t min, uint32_t max);

    // From now on every frame-time read answers one microsecond more than the read before it,
    // and calls check with that earlier value first (inside the read, under the controller's
    // device lock); null ends it.
    void CountFrameTimeReads(std::function<void(double last)> check);
    // From now on the driver reports these limits, all of them.
    void SetSensorLimits(const SensorParam& limits);

    int GetFrameTime(double* us) override;
    int GetSensorParam(SensorParam* param) override;
    int SetWdrMode(int mode) override;
    int SetBlackLevel(uint32_t level) override;
    int SetAeTarget(int target) override;
    // The capability's lists belong to whoever reads them: each read gets fresh ones.
    int GetCameraDevParam(tSdkCapability* cap, tDevInfo* info, CameraProperty* prop,
                          DeviceMiscInfo* misc) override;

  private:
    std::atomic<double> m_frameTimeUs{33333.0};
    std::mutex m_readsMutex;  // guards m_readCheck
    std::function<void(double)> m_readCheck;
    std::atomic<bool> m_reportsLimits{false};
    std::atomic<uint32_t> m_gainMin{0};
    std::atomic<uint32_t> m_gainMax{0};  // 0: the scripted words' gain limits
    std::atomic<uint32_t> m_linesMin{0};
    std::atomic<uint32_t> m_linesMax{0};  // 0: the scripted words' line limits
    std::mutex m_wordsMutex;              // guards m_sensorWords
    std::array<UINT, sizeof(tSdkCapability::auSensorParam) / sizeof(UINT)> m_sensorWords{};
    bool m_wordsRead = false;
    std::mutex m_limitsLock;  // guards m_limits and m_wholeLimits
    bool m_wholeLimits = false;
    SensorParam m_limits{};
    std::vector<uint32_t> m_mediaTypes;  // set before use
};

// The calls from the first one named `from` on, as "Name(args)" texts; pointer arguments of
// OpenStream are left out.
std::vector<std::string> CallsFrom(const qvsim::CFakeDevice& device, const std::string& from);

// Waits until pred holds (polling); false when limit passed first.
bool WaitFor(const std::function<bool()>& pred,
             std::chrono::milliseconds limit = std::chrono::seconds(30));

// A fresh folder as HOME (so the parameter files land there); a test fails when none can be
// made.
class ScopedHome : public qvsim::ScopedHome {
  public:
    ScopedHome() { EXPECT_TRUE(Made()); }
};

}  // namespace ctltest
