// The fixture of the tests that put simulated cameras behind the real libusb: one umockdev
// testbed per test suite, made before the test's libusb starts (libusb fixes its view of sysfs
// and udev at its initialisation), and the devices a test plugged, taken out after it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "SimUsbTestbed.h"

namespace usbtest {

class TestbedTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { s_testbed = new CSimUsbTestbed(); }
    static void TearDownTestSuite() {
        delete s_testbed;
        s_testbed = nullptr;
    }

    void SetUp() override {
        ASSERT_TRUE(CSimUsbTestbed::PreloadActive()) << "not running under the umockdev preload";
    }

    CSimUsbDevice& Plug(std::shared_ptr<CSimUsbCamera> model,
                        const SimUsbDeviceOptions& options = {}) {
        m_devices.push_back(&s_testbed->AddCamera(std::move(model), options));
        return *m_devices.back();
    }

    // Takes one device out before the test ends.
    void Remove(CSimUsbDevice& device) {
        m_devices.erase(std::remove(m_devices.begin(), m_devices.end(), &device), m_devices.end());
        s_testbed->RemoveDevice(device);
    }

    // Takes out every device the test plugged; the libusb handles on them are closed first.
    void RemoveDevices() {
        for (auto* d : m_devices) s_testbed->RemoveDevice(*d);
        m_devices.clear();
    }

    static inline CSimUsbTestbed* s_testbed = nullptr;
    std::vector<CSimUsbDevice*> m_devices;
};

}  // namespace usbtest
