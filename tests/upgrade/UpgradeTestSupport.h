// Helpers of the firmware update tests: the progress a callback saw, a clock that records the
// pauses instead of taking them, and a fake camera whose flash holds a stored identity.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "FakeDevice.h"
#include "NorFlash.h"
#include "StorageImage.h"
#include "storage/StorageData.h"
#include "upgrade/UpgradeClock.h"

namespace upgradetest {

// What the progress callback was given, in order.
struct ProgressLog {
    std::vector<int> values;
    static void Callback(int percent, void* context) {
        static_cast<ProgressLog*>(context)->values.push_back(percent);
    }
    // 0 first, 100 last, rising in between and within 1..99.
    bool Sound() const {
        if (values.size() < 2 || values.front() != 0 || values.back() != 100) return false;
        for (size_t i = 1; i + 1 < values.size(); ++i)
            if (values[i] < 1 || values[i] > 99 || values[i] <= values[i - 1]) return false;
        return true;
    }
};

// Installed for its lifetime: pauses are added up, not taken.
class RecordingClock : public UpgradeClock {
  public:
    RecordingClock() : m_replaced(UpgradeClock::Install(this)) {}
    ~RecordingClock() override { UpgradeClock::Install(m_replaced); }
    void SleepUs(unsigned us) override {
        m_totalUs += us;
        ++m_sleeps;
    }
    uint64_t TotalUs() const { return m_totalUs.load(); }
    uint64_t Sleeps() const { return m_sleeps.load(); }

  private:
    UpgradeClock* m_replaced;
    std::atomic<uint64_t> m_totalUs{0};
    std::atomic<uint64_t> m_sleeps{0};
};

constexpr int32_t kSensorType = 37;
constexpr uint32_t kBoardCode = 0xAA220002;

// A fake camera with a NOR flash holding a stored identity in the given layout, its storage
// object made over it as the transport's open makes it.
class FlashCamera {
  public:
    // deviceId: the high half of the stored device ID word, which files must name.
    FlashCamera(qvsim::StorageLayout layout, uint16_t deviceId, const char* hardwareVersion);

    qvsim::CFakeDevice& Device() { return m_device; }
    qvsim::CNorFlash& Flash() { return m_flash; }
    std::vector<uint8_t> FlashBytes(uint32_t address, size_t len) const {
        return m_flash.Snapshot(address, len);
    }
    // The whole flash as it is now, to compare after a refused upgrade.
    std::vector<uint8_t> Image() const {
        return m_flash.Snapshot(0, qvsim::CNorFlash::kDefaultSize);
    }
    // Erases and writes the device saw since the last ClearCalls.
    size_t FlashChanges() const {
        return m_device.CallCount("EraseFlashSector") + m_device.CallCount("WriteFlash");
    }

  private:
    qvsim::CNorFlash m_flash;  // outlives the device, which reaches it through hooks
    qvsim::CFakeDevice m_device;
};

}  // namespace upgradetest
