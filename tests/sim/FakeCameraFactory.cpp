#include "FakeCameraFactory.h"

#include <algorithm>

#include "manager/JNCameraMgr.h"
#include "device/JNDevice.h"

namespace qvsim {

void CFakeCameraFactory::SetDevices(std::vector<std::shared_ptr<CJNDevice>> devices) {
    std::lock_guard lock(m_mutex);
    m_devices = std::move(devices);
}

void CFakeCameraFactory::AddDevice(std::shared_ptr<CJNDevice> device) {
    std::lock_guard lock(m_mutex);
    m_devices.push_back(std::move(device));
}

void CFakeCameraFactory::RemoveDevice(const std::shared_ptr<CJNDevice>& device) {
    std::lock_guard lock(m_mutex);
    m_devices.erase(std::remove(m_devices.begin(), m_devices.end(), device), m_devices.end());
}

void CFakeCameraFactory::SetResult(int result) {
    std::lock_guard lock(m_mutex);
    m_result = result;
}

void CFakeCameraFactory::HoldFirstScan(std::chrono::milliseconds limit) {
    std::lock_guard lock(m_mutex);
    m_scanPending = true;
    m_scanLimit = limit;
}

void CFakeCameraFactory::CompleteFirstScan() {
    std::lock_guard lock(m_mutex);
    m_scanPending = false;
    m_scanDone.notify_all();
}

int CFakeCameraFactory::FirstScanWaiters() {
    std::lock_guard lock(m_mutex);
    return m_waiters;
}

int CFakeCameraFactory::GetDeviceListCalls() {
    std::lock_guard lock(m_mutex);
    return m_listCalls;
}

int CFakeCameraFactory::RefreshCalls() {
    std::lock_guard lock(m_mutex);
    return m_refreshCalls;
}

int CFakeCameraFactory::GetDeviceList(std::vector<std::shared_ptr<CJNDevice>>& devices) {
    std::unique_lock lock(m_mutex);
    ++m_listCalls;
    if (m_scanPending) {
        ++m_waiters;
        m_scanDone.wait_for(lock, m_scanLimit, [this] { return !m_scanPending; });
        --m_waiters;
    }
    devices.insert(devices.end(), m_devices.begin(), m_devices.end());
    return m_result;
}

int CFakeCameraFactory::RefreshDeviceList(std::list<std::shared_ptr<CJNDevice>>& devices) {
    std::vector<std::shared_ptr<CJNDevice>> present;
    {
        std::lock_guard lock(m_mutex);
        ++m_refreshCalls;
        present = m_devices;
    }
    for (const auto& device : present) {
        if (!device->CheckAlive()) continue;
        auto same = std::find_if(devices.begin(), devices.end(), [&](const auto& listed) {
            return listed && listed->CompareSymbolicName(device.get());
        });
        if (same == devices.end())
            devices.push_back(device);
        else if (m_style == RefreshStyle::kGige)
            *same = device;
    }
    std::lock_guard lock(m_mutex);
    return m_result;
}

ManagerFakes InstallManagerFakes() {
    static const ManagerFakes fakes = [] {
        auto usb = std::make_unique<CFakeCameraFactory>(CFakeCameraFactory::RefreshStyle::kUsb);
        auto gige = std::make_unique<CFakeCameraFactory>();
        const ManagerFakes made{usb.get(), gige.get()};
        if (!qv::internal::InstallManagerFactories(std::move(usb), std::move(gige)))
            return ManagerFakes{};
        return made;
    }();
    return fakes;
}

}  // namespace qvsim
