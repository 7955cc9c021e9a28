#include "SimUsbTestbed.h"

#include <algorithm>

CSimUsbTestbed::CSimUsbTestbed() : m_testbed(umockdev_testbed_new()) {}

CSimUsbTestbed::~CSimUsbTestbed() {
    m_devices.clear();
    g_object_unref(m_testbed);
}

bool CSimUsbTestbed::PreloadActive() {
    return umockdev_in_mock_environment();
}

CSimUsbDevice& CSimUsbTestbed::AddCamera(std::shared_ptr<CSimUsbCamera> model,
                                         const SimUsbDeviceOptions& options) {
    m_devices.push_back(std::make_unique<CSimUsbDevice>(m_testbed, std::move(model), options));
    return *m_devices.back();
}

void CSimUsbTestbed::RemoveDevice(CSimUsbDevice& device) {
    auto it = std::find_if(m_devices.begin(), m_devices.end(),
                           [&](const auto& d) { return d.get() == &device; });
    if (it == m_devices.end()) return;
    device.Unplug();
    // The transfers the unplug ended have to reach the host while the node still answers.
    device.WaitUntilReaped(std::chrono::seconds(2));
    m_devices.erase(it);
}
