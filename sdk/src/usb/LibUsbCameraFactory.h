// CLibUsbCameraFactory: USB camera discovery. It initialises libusb's default context and runs
// the libusb event thread, on which every bulk-transfer completion of every USB camera of the
// process runs; it lists the cameras present (by the camera family's vendor and product
// identifiers; other devices are skipped without being opened), each as an opened CLibUsbCamera,
// and keeps the list of devices that the host program opened itself.
//
// The camera manager holds one for the life of the process. A factory made elsewhere (tests)
// stops its thread and leaves libusb when destroyed; the cameras it made must be gone by then.
//
// Threads: the list operations run on the caller's thread and may run concurrently (manager and
// keep-alive thread); libusb locks its own device list, and the opened-device list has its own
// mutex. The event thread takes no lock of this class.
#pragma once

#include <condition_variable>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

#include "manager/CameraFactory.h"
#include "usb/UsbOpenedDeviceList.h"

class CLibUsbCamera;

class CLibUsbCameraFactory : public CCameraFactory {
  public:
    // libusb's event waits: short, so that stopping the thread is quick.
    static constexpr int kEventWaitMs = 10;
    // The pause after a failed round of event handling, so a broken context cannot spin.
    static constexpr int kErrorPauseMs = 100;

    // Initialises libusb's default context and, when that worked, starts the event thread.
    CLibUsbCameraFactory();
    ~CLibUsbCameraFactory() override;
    CLibUsbCameraFactory(const CLibUsbCameraFactory&) = delete;
    CLibUsbCameraFactory& operator=(const CLibUsbCameraFactory&) = delete;

    // Appends every camera present that opens and answers; the camera stays open (count 1) as
    // long as a holder keeps it. 0 (also with none), or CAMERA_STATUS_IO_ERROR when libusb is
    // not initialised or cannot list its devices.
    int GetDeviceList(std::vector<std::shared_ptr<CJNDevice>>& devices) override;
    // As GetDeviceList for the cameras whose symbolic name no device of the list has, appended
    // to it. CAMERA_STATUS_IO_ERROR without libusb, CAMERA_STATUS_FAILED when the device list
    // cannot be read.
    int RefreshDeviceList(std::list<std::shared_ptr<CJNDevice>>& devices) override;
    // Registers the host's devices (see CUsbOpenedDeviceList) and appends the cameras among the
    // entries of this call that open through the host's descriptor and answer; nothing else on
    // the bus. Unusable entries are skipped. CAMERA_STATUS_PARAMETER_INVALID for a negative n or
    // missing arrays; CAMERA_STATUS_IO_ERROR without libusb or when the registration fails
    // ("==libusb_set_device_list err").
    int EnumerateFromOpenedDevList(std::vector<std::shared_ptr<CJNDevice>>& devices, int n,
                                   const int* fds, const unsigned* vidPid,
                                   const char* const* paths) override;

    bool IsInitialised() const { return m_initialised; }
    CUsbOpenedDeviceList& OpenedDevices() { return m_openedDevices; }

  private:
    using Known = std::function<bool(const char* symbolicName)>;
    using Sink = std::function<void(std::shared_ptr<CJNDevice>)>;

    // Makes, opens and checks a camera for every recognised device libusb lists and every
    // registered one, skipping those known already; a negative libusb code when the list cannot
    // be read, else 0.
    int Enumerate(const char* versionFormat, const Known& known, const Sink& add);
    // The registered cameras (only those at the ports in `only`, when given), each opened through
    // a duplicate of the host's descriptor.
    void OpenHostDevices(const char* version, const Known& known, const Sink& add,
                         const std::vector<CUsbOpenedDeviceList::Port>* only);
    static void VersionText(const char* format, char (&out)[32]);
    static std::shared_ptr<CJNDevice> OpenCamera(std::unique_ptr<CLibUsbCamera> camera);
    void EventLoop(std::stop_token stop);

    bool m_initialised = false;
    std::mutex m_pauseMutex;  // guards nothing; the error pause waits on it
    std::condition_variable_any m_pauseCond;
    CUsbOpenedDeviceList m_openedDevices;
    std::jthread m_eventThread;
};
