// CFakeCameraFactory: a transport factory over a test-controlled set of devices.
//
// GetDeviceList appends the devices present now (the same objects each time, as the GigE
// factory hands out its discovery list). RefreshDeviceList follows either transport: USB style
// appends present, answering devices whose symbolic name is not listed yet; GigE style puts each
// present, answering device in place of a listed one with the same symbolic name, or appends it.
//
// A first scan can be held back: GetDeviceList then waits (up to the given limit) until the test
// completes it, as the GigE factory waits for its discovery thread's first scan.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "manager/CameraFactory.h"
#include "FakeDevice.h"

namespace qvsim {

class CFakeCameraFactory : public CCameraFactory {
  public:
    enum class RefreshStyle { kUsb, kGige };
    explicit CFakeCameraFactory(RefreshStyle style = RefreshStyle::kGige) : m_style(style) {}

    void SetDevices(std::vector<std::shared_ptr<CJNDevice>> devices);
    void AddDevice(std::shared_ptr<CJNDevice> device);
    void RemoveDevice(const std::shared_ptr<CJNDevice>& device);
    void SetResult(int result);  // what both operations return (devices are listed anyway)

    // GetDeviceList waits up to limit for CompleteFirstScan.
    void HoldFirstScan(std::chrono::milliseconds limit);
    void CompleteFirstScan();
    int FirstScanWaiters();  // calls waiting now

    int GetDeviceListCalls();
    int RefreshCalls();

    int GetDeviceList(std::vector<std::shared_ptr<CJNDevice>>& devices) override;
    int RefreshDeviceList(std::list<std::shared_ptr<CJNDevice>>& devices) override;

  private:
    const RefreshStyle m_style;
    std::mutex m_mutex;  // guards everything below
    std::condition_variable m_scanDone;
    std::vector<std::shared_ptr<CJNDevice>> m_devices;
    int m_result = 0;
    bool m_scanPending = false;
    std::chrono::milliseconds m_scanLimit{0};
    int m_waiters = 0;
    int m_listCalls = 0;
    int m_refreshCalls = 0;
};

// Fakes in place of the process-wide camera manager's factories (USB style and GigE style). The
// first call installs them, which works only before anything has made the manager; every call
// returns the same pair, both null when the installation was refused.
struct ManagerFakes {
    CFakeCameraFactory* usb = nullptr;
    CFakeCameraFactory* gige = nullptr;
};
ManagerFakes InstallManagerFakes();

}  // namespace qvsim
