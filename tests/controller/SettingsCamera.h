// A camera double for the image-settings tests: the controller-test camera with capability
// ranges for every clamped setting, one-push white balance, three frame speeds, skipping by 2,
// a sensor line time, a black level it keeps only the low byte of, a region-offset call it
// records, the current frame description and a dead-pixel table in memory.
#pragma once

#include <functional>
#include <mutex>
#include <vector>

#include "ControllerFixture.h"

namespace ctltest {

// Sensor limits of the double: AE target 16..220, gain 1000..16000, exposure 1..50000 lines of
// 20 us (so 20 us to 1 s), window 8..640 x 8..480.
constexpr double kLineTimeUs = 20.0;
constexpr uint32_t kLinesMax = 50000;

class CSettingsCamera : public CTestCamera {
  public:
    struct Options {
        bool onceWb = true;       // capability word at 68
        bool aeOnSensor = false;  // capability word at 96: the sensor takes the AE target
        bool softwareAe = false;  // capability word at 76: auto exposure runs on every frame
        int devParamResult = 0;   // -58: a camera without device parameters
    };
    CSettingsCamera() : CSettingsCamera(Options{}) {}
    explicit CSettingsCamera(const Options& options);

    // The dead-pixel table area as stored (raw bytes, at most 0x40000).
    std::vector<uint8_t> Table();
    void SetTable(std::vector<uint8_t> bytes);

    int GetExposureLineTime(double* us) override;
    int SetBlackLevel(uint32_t level) override;
    int GetBlackLevel(int* level) override;
    int SetRoiOffset(int x, int y) override;
    int GetImageInfo(stImageInfo* info) override;
    int DevSaveBadPixelTable(uint8_t* data, int len) override;
    int DevLoadBadPixelTable(uint8_t* data, int len) override;

  private:
    std::mutex m_lock;  // guards the members below
    uint32_t m_blackLevel = 0;
    std::vector<uint8_t> m_table;
};

// The capability the double reports.
tSdkCapability SettingsCapability(const CSettingsCamera::Options& options);

}  // namespace ctltest
