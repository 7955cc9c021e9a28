// One simulated camera plugged into a umockdev testbed: its sysfs device, its udev properties,
// its /dev/bus/usb node, and the usbfs ioctls the real libusb issues on that node, answered by
// a CSimUsbCamera model.
//
// The node is a FIFO kept full while no URB can be reaped, so libusb's poll() sleeps instead of
// spinning; it is drained whenever a URB becomes reapable (a control or discard completes, or a
// bulk read has data, possibly only at the frame rate's next due time, which a small thread per
// device watches). Such a node cannot be opened with libusb_wrap_sys_device (libusb seeks in it);
// a device made with fifoNode = false has a plain node that can, at the price of libusb polling
// it continuously while a handle is open.
//
// Threads: umockdev runs the ioctl handler on its own worker thread; the wake thread and the test
// thread (Unplug, Wake, stats) meet it under one mutex, taken before the model's.
#pragma once

#include <umockdev.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "SimUsbCamera.h"

struct SimUsbPort {
    int bus = 1;
    int address = 2;
};

struct SimUsbDeviceOptions {
    SimUsbPort port{};
    // Default: the camera family's vendor identifier and the product identifier of the model's
    // generation; other values make a device discovery must skip.
    std::optional<uint16_t> vendorId{};
    std::optional<uint16_t> productId{};
    bool fifoNode = true;
    // A USB 3.0 camera on a SuperSpeedPlus (10 Gbit/s) link instead of a SuperSpeed one.
    bool superSpeedPlus = false;
};

class CSimUsbDevice {
  public:
    struct Stats {
        uint64_t ioctls = 0;
        uint64_t submits = 0;
        uint64_t controls = 0;
        uint64_t reaped = 0;
        uint64_t reapEmpty = 0;  // REAPURBNDELAY answered EAGAIN
        uint64_t discards = 0;
        uint64_t resets = 0;
        uint64_t claims = 0;
        uint64_t unknown = 0;  // ioctls not emulated (ENOTTY)
        uint64_t bulkBytes = 0;
        uint64_t bulkSubmits = 0;  // bulk URBs accepted
        uint64_t bulkRefused = 0;  // bulk URBs refused by FailBulkSubmits
        // Time the handler spent on bulk reads, submits and reaps, umockdev's copies of their
        // buffers to and from the client included.
        double bulkSeconds = 0;
    };

    // Made by CSimUsbTestbed::AddCamera.
    CSimUsbDevice(UMockdevTestbed* testbed, std::shared_ptr<CSimUsbCamera> model,
                  const SimUsbDeviceOptions& options);
    ~CSimUsbDevice();
    CSimUsbDevice(const CSimUsbDevice&) = delete;
    CSimUsbDevice& operator=(const CSimUsbDevice&) = delete;

    std::string DevNode() const;  // "/dev/bus/usb/001/002"
    std::string SysPath() const;  // "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2"
    SimUsbPort Port() const { return m_options.port; }
    uint16_t VendorId() const { return m_vendorId; }
    uint16_t ProductId() const { return m_productId; }
    CSimUsbCamera& Model() { return *m_model; }

    // Pulls the cable: the model stops answering, URBs in flight complete as the kernel completes
    // them for a vanished device (libusb: LIBUSB_TRANSFER_NO_DEVICE), later ioctls fail with
    // ENODEV, and udev reports the removal (libusb hotplug: DEVICE_LEFT).
    void Unplug();
    bool Unplugged() const;
    // Waits until the host has reaped every URB the device completed (after an unplug: the ones
    // it ended), at most `limit`; false when some are left. A node whose ioctl handler is gone
    // can no longer hand them out, and libusb would wait for them for ever.
    bool WaitUntilReaped(std::chrono::milliseconds limit);
    // Refuses `count` bulk URB submissions (-1: all) with errno `error`, after `skip` more were
    // accepted, as usbfs does when it runs out of memory (ENOMEM) or the device went (ENODEV).
    void FailBulkSubmits(int skip, int count, int error);
    // The buffer lengths of the last bulk URBs accepted (at most 64), oldest first.
    std::vector<uint32_t> BulkSubmitLengths() const;
    // Re-checks whether a bulk read can complete, after the model was changed directly (for
    // example its frame rate).
    void Wake();
    Stats GetStats() const;

  private:
    struct Urb;
    struct Client;
    struct Core;

    static gboolean OnIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, gpointer self);
    gboolean HandleIoctl(UMockdevIoctlClient* client);
    // Standard requests answered here, vendor requests by the model.
    SimControlResult Control(const SimControlSetup& setup, uint8_t* data);
    void BuildDescriptors();
    std::string SysfsRecord() const;
    const char* LinkSpeedText() const;
    void WakeLoop();

    UMockdevTestbed* m_testbed;
    std::shared_ptr<CSimUsbCamera> m_model;
    SimUsbDeviceOptions m_options;
    uint16_t m_vendorId;
    uint16_t m_productId;
    bool m_superSpeed;
    std::vector<uint8_t> m_descriptors;  // device descriptor, then the configuration
    UMockdevIoctlBase* m_handler = nullptr;
    std::shared_ptr<Core> m_core;  // shared with the per-client state umockdev owns
    std::thread m_wakeThread;
};
