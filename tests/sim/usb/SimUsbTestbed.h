// The simulated USB cameras behind the real libusb: umockdev emulates sysfs, udev and the usbfs
// device nodes, and each emulated node answers with a CSimUsbCamera model. libusb enumerates,
// opens, claims, resets and transfers exactly as on hardware.
//
// Set-up order matters: create the testbed before libusb_init (and before any other thread) in
// a process that runs under the umockdev preload; link qv_umockdev_preload into the executable
// and it re-executes itself under the preload on its own.
#pragma once

#include <umockdev.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "SimUsbDevice.h"

class CSimUsbTestbed {
  public:
    CSimUsbTestbed();
    ~CSimUsbTestbed();
    CSimUsbTestbed(const CSimUsbTestbed&) = delete;
    CSimUsbTestbed& operator=(const CSimUsbTestbed&) = delete;

    // True when this process runs under the umockdev preload (without it libusb sees the real
    // machine, and the tests must not run).
    static bool PreloadActive();

    // Plugs a camera in at options.port (each device needs its own bus/address pair). The device
    // shares the model, so the test may keep using it after the device is gone.
    CSimUsbDevice& AddCamera(std::shared_ptr<CSimUsbCamera> model,
                             const SimUsbDeviceOptions& options = {});
    // Takes the device out of the testbed: unplugs it if it is still attached and waits (at most
    // 2 s) until the host has reaped the transfers that ended with it. A handle left open on it
    // must have nothing in flight any more.
    void RemoveDevice(CSimUsbDevice& device);

    UMockdevTestbed* Raw() { return m_testbed; }

  private:
    UMockdevTestbed* m_testbed;
    std::vector<std::unique_ptr<CSimUsbDevice>> m_devices;
};
