#include "usb/LibUsbCameraFactory.h"

#include <libusb.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "common/Log.h"
#include "usb/LibUsbCamera.h"
#include "usb/UsbIds.h"

namespace {

constexpr const char* kDriverName = "libusb camera";
// libusb's version in the driver version text: enumeration writes "V1.0", the keep-alive
// refresh and the host-opened path "1.0".
constexpr const char* kListVersionFormat = "V%hu.%hu";
constexpr const char* kRefreshVersionFormat = "%hu.%hu";

bool IsCamera(uint16_t vendorId, uint16_t productId) {
    return qv::usb::IsCameraUsbId(vendorId, productId);
}

struct Name {
    char text[32];
    Name(uint8_t bus, uint8_t address) {
        std::snprintf(text, sizeof text, "bus:%hhu:address:%hhu", bus, address);
    }
};

}  // namespace

CLibUsbCameraFactory::CLibUsbCameraFactory() {
    if (libusb_init(nullptr) < 0) return;
    m_initialised = true;
    m_eventThread = std::jthread([this](std::stop_token stop) { EventLoop(stop); });
}

CLibUsbCameraFactory::~CLibUsbCameraFactory() {
    if (!m_initialised) return;
    m_eventThread.request_stop();
    // Ends the event wait in progress at once instead of at its 10 ms timeout.
    libusb_interrupt_event_handler(nullptr);
    m_pauseCond.notify_all();
    m_eventThread.join();
    libusb_exit(nullptr);
}

void CLibUsbCameraFactory::EventLoop(std::stop_token stop) {
    qv::Log("libusb event handle thread start\n");
    while (!stop.stop_requested()) {
        timeval wait{0, kEventWaitMs * 1000};
        const int r = libusb_handle_events_timeout(nullptr, &wait);
        // A signal that ended the wait (a host's interval timer, say) is no
        // fault: pausing for it would hold back every camera's frames.
        if (r == 0 || r == LIBUSB_ERROR_INTERRUPTED) continue;
        std::unique_lock lock(m_pauseMutex);
        m_pauseCond.wait_for(lock, stop, std::chrono::milliseconds(kErrorPauseMs),
                             [] { return false; });
        qv::Log("ev:%d\n", r);
    }
    qv::Log("libusb event handle thread end\n");
}

std::shared_ptr<CJNDevice> CLibUsbCameraFactory::OpenCamera(std::unique_ptr<CLibUsbCamera> camera) {
    // A camera that does not open or answer is destroyed: it closes what it opened and lets its
    // device go.
    if (camera->Open(nullptr) != CAMERA_STATUS_SUCCESS) return nullptr;
    if (!camera->CheckAlive()) return nullptr;
    return std::shared_ptr<CJNDevice>(std::move(camera));
}

int CLibUsbCameraFactory::Enumerate(const char* versionFormat, const Known& known,
                                    const Sink& add) {
    char version[32];
    VersionText(versionFormat, version);

    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(nullptr, &list);
    if (count < 0) return static_cast<int>(count);
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device* device = list[i];
        libusb_device_descriptor descriptor;
        if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS ||
            !IsCamera(descriptor.idVendor, descriptor.idProduct))
            continue;
        const uint8_t bus = libusb_get_bus_number(device);
        const uint8_t address = libusb_get_device_address(device);
        // The host opened this one itself: it is opened through the host's descriptor below.
        if (m_openedDevices.Contains(bus, address, descriptor.idVendor, descriptor.idProduct))
            continue;
        const Name name(bus, address);
        if (known && known(name.text)) continue;
        auto camera = std::make_unique<CLibUsbCamera>(libusb_ref_device(device), name.text,
                                                      kDriverName, version);
        if (auto opened = OpenCamera(std::move(camera))) add(std::move(opened));
    }
    libusb_free_device_list(list, 1);

    OpenHostDevices(version, known, add, nullptr);
    return 0;
}

void CLibUsbCameraFactory::OpenHostDevices(const char* version, const Known& known, const Sink& add,
                                           const std::vector<CUsbOpenedDeviceList::Port>* only) {
    for (const CUsbOpenedDeviceList::Entry& entry : m_openedDevices.TakeDuplicates(IsCamera)) {
        const Name name(entry.bus, entry.address);
        const bool wanted =
            only == nullptr ||
            std::find(only->begin(), only->end(),
                      CUsbOpenedDeviceList::Port{entry.bus, entry.address}) != only->end();
        if (!wanted || (known && known(name.text))) {
            close(entry.fd);
            continue;
        }
        auto camera =
            std::make_unique<CLibUsbCamera>(nullptr, entry.fd, name.text, kDriverName, version);
        if (auto opened = OpenCamera(std::move(camera))) add(std::move(opened));
    }
}

void CLibUsbCameraFactory::VersionText(const char* format, char (&out)[32]) {
    const libusb_version* v = libusb_get_version();
    std::snprintf(out, sizeof out, format, v->major, v->minor);
}

int CLibUsbCameraFactory::GetDeviceList(std::vector<std::shared_ptr<CJNDevice>>& devices) {
    if (!m_initialised) return CAMERA_STATUS_IO_ERROR;
    const int r = Enumerate(kListVersionFormat, nullptr,
                            [&](std::shared_ptr<CJNDevice> d) { devices.push_back(std::move(d)); });
    return r < 0 ? CAMERA_STATUS_IO_ERROR : CAMERA_STATUS_SUCCESS;
}

int CLibUsbCameraFactory::RefreshDeviceList(std::list<std::shared_ptr<CJNDevice>>& devices) {
    if (!m_initialised) return CAMERA_STATUS_IO_ERROR;
    const auto known = [&](const char* name) {
        for (const auto& d : devices)
            if (d && d->IsSameSymbolicName(name)) return true;
        return false;
    };
    const int r = Enumerate(kRefreshVersionFormat, known,
                            [&](std::shared_ptr<CJNDevice> d) { devices.push_back(std::move(d)); });
    return r < 0 ? CAMERA_STATUS_FAILED : CAMERA_STATUS_SUCCESS;
}

int CLibUsbCameraFactory::EnumerateFromOpenedDevList(
    std::vector<std::shared_ptr<CJNDevice>>& devices, int n, const int* fds, const unsigned* vidPid,
    const char* const* paths) {
    if (n < 0 || (n > 0 && (fds == nullptr || vidPid == nullptr || paths == nullptr)))
        return CAMERA_STATUS_PARAMETER_INVALID;
    if (!m_initialised) return CAMERA_STATUS_IO_ERROR;
    std::vector<CUsbOpenedDeviceList::Port> given;
    if (m_openedDevices.SetDeviceList(n, fds, vidPid, paths, &given) != 0) {
        qv::Log("==libusb_set_device_list err\n");
        return CAMERA_STATUS_IO_ERROR;
    }
    // The host asked about its own devices: only those are listed, never the rest of the bus
    // (which this host may not be allowed to open, or which another program uses).
    char version[32];
    VersionText(kRefreshVersionFormat, version);
    OpenHostDevices(
        version, nullptr, [&](std::shared_ptr<CJNDevice> d) { devices.push_back(std::move(d)); },
        &given);
    return CAMERA_STATUS_SUCCESS;
}
