#include "manager/JNCameraMgr.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "control/CameraControl.h"
#include "common/Log.h"

namespace {

std::mutex g_instanceMutex;  // guards the creation of the manager and the factory seam
std::atomic<JNCameraMgr*> g_instance{nullptr};
bool g_factoriesInstalled = false;  // guarded by g_instanceMutex
std::unique_ptr<CCameraFactory> g_usbFactory;
std::unique_ptr<CCameraFactory> g_gigeFactory;

// Product series whose firmware cannot take a temporary address below version word 0x0206.
// The maker's model names are not known here, so no series is gated.
constexpr std::span<const char* const> kIpGatedSeries{};
constexpr unsigned kFirstFirmwareTakingTemporaryIp = 0x0206 + 1;

// A controller that answered one of these stays: -51 and -58 leave a handle without device
// parameters that the host releases with CameraUnInit.
bool KeepsController(int result) {
    return result == CAMERA_STATUS_SUCCESS || result == CAMERA_STATUS_EEPROM_NOT_WRITTEN ||
           result == CAMERA_STATUS_PROPERTY_NOT_WRITTEN;
}

}  // namespace

JNCameraMgr* JNCameraMgr::GetInstance() {
    if (JNCameraMgr* mgr = g_instance.load(std::memory_order_acquire)) return mgr;
    std::lock_guard lock(g_instanceMutex);
    if (JNCameraMgr* mgr = g_instance.load(std::memory_order_relaxed)) return mgr;
    std::unique_ptr<CCameraFactory> usb, gige;
    if (g_factoriesInstalled) {
        usb = std::move(g_usbFactory);
        gige = std::move(g_gigeFactory);
    } else {
        usb = MakeUsbCameraFactory();
        gige = MakeGigeCameraFactory();
    }
    JNCameraMgr* mgr = new JNCameraMgr(std::move(usb), std::move(gige));
    g_instance.store(mgr, std::memory_order_release);
    return mgr;
}

bool qv::internal::InstallManagerFactories(std::unique_ptr<CCameraFactory> usbFactory,
                                           std::unique_ptr<CCameraFactory> gigeFactory) {
    std::lock_guard lock(g_instanceMutex);
    if (g_instance.load(std::memory_order_relaxed) != nullptr) return false;
    g_factoriesInstalled = true;
    g_usbFactory = std::move(usbFactory);
    g_gigeFactory = std::move(gigeFactory);
    return true;
}

JNCameraMgr::JNCameraMgr(std::unique_ptr<CCameraFactory> usbFactory,
                         std::unique_ptr<CCameraFactory> gigeFactory)
    : CJNDeviceMgr(std::move(usbFactory), std::move(gigeFactory)) {}

JNCameraMgr::~JNCameraMgr() = default;

int JNCameraMgr::CameraEnumerateDevice(int* count) {
    return CameraEnumerateDeviceEx(count, static_cast<int>(kEnumAll));
}

int JNCameraMgr::CameraEnumerateDeviceEx(int* count, int flags) {
    EnumerateDevice(static_cast<unsigned>(flags));
    const int n = DeviceCount();
    if (count != nullptr) *count = n;
    if (n == 0) {
        qv::Log("No camera was found!!!!\n");
        return CAMERA_STATUS_NO_DEVICE_FOUND;
    }
    return CAMERA_STATUS_SUCCESS;
}

int JNCameraMgr::CameraEnumerateDeviceFromOpenedDevList(int* count, int n, const int* fds,
                                                        const unsigned* vidPid,
                                                        const char* const* paths) {
    EnumerateFromOpenedDevList(n, fds, vidPid, paths);
    const int found = DeviceCount();
    if (count != nullptr) *count = found;
    if (found == 0) {
        qv::Log("No camera was found!!!!\n");
        return CAMERA_STATUS_NO_DEVICE_FOUND;
    }
    return CAMERA_STATUS_SUCCESS;
}

int JNCameraMgr::CameraGetEnumIndexInfo(int index, tDevInfo* info) {
    std::lock_guard lock(m_mgrMutex);
    return GetEnumIndexInfo(index, info);
}

int JNCameraMgr::CameraGigeGetIp(const char* sn, tGigeIpConfig* config) {
    std::lock_guard lock(m_mgrMutex);
    std::shared_ptr<CJNDevice> device;
    const int r = FindDevice(DeviceKey::kSerialNumber, sn, device);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (config == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return device->GetIpConfig(config);
}

bool JNCameraMgr::FirmwareRefusesIp(const tDevInfo& info, const tGigeIpConfig& config,
                                    std::span<const char* const> gatedSeries) {
    if (config.uPersistent != 0) return false;
    for (const char* series : gatedSeries) {
        // The model name and its terminator must match: "ABC" does not gate "ABCD".
        const size_t bytes = std::strlen(series) + 1;
        if (bytes <= sizeof info.acProductSeries &&
            std::memcmp(info.acProductSeries, series, bytes) == 0)
            return info.uDeviceType < kFirstFirmwareTakingTemporaryIp;
    }
    return false;
}

int JNCameraMgr::CameraGigeSetIp(const char* sn, tGigeIpConfig* config) {
    std::lock_guard lock(m_mgrMutex);
    std::shared_ptr<CJNDevice> device;
    tDevInfo info;
    const int r = FindDevice(DeviceKey::kSerialNumber, sn, device, &info);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (config == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    if (FirmwareRefusesIp(info, *config, kIpGatedSeries)) return CAMERA_STATUS_NOT_SUPPORTED;
    return device->SetIpConfig(config);
}

int JNCameraMgr::CameraGigeBroadcastSoftTrigger(const char* localIp, int value) {
    if (localIp == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    std::lock_guard lock(m_mgrMutex);
    return GigeBroadcastSoftTrigger(localIp, value);
}

// ---- Opening and release -----------------------------------------------------------------------

bool JNCameraMgr::IsCameraHeldLocked(const std::shared_ptr<CJNDevice>& device) {
    for (CameraControl* control : m_cameraList)
        if (control->HoldsCamera(device)) return true;
    for (CameraControl* control : m_closingList)
        if (control->HoldsCamera(device)) return true;
    for (const auto& opening : m_openingDevices)
        if (opening == device || opening->CompareSymbolicName(device.get())) return true;
    return false;
}

int JNCameraMgr::CameraInit(HANDLE* handle, int index) {
    if (handle == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    std::unique_ptr<CameraControl> control;
    std::lock_guard lock(m_mgrMutex);
    std::shared_ptr<CJNDevice> device;
    const int r0 = GetDevice(index, device);
    if (r0 != CAMERA_STATUS_SUCCESS) return r0;
    // Opening a USB camera resets it and stops its stream: never under another controller.
    if (IsCameraHeldLocked(device)) return CAMERA_STATUS_DEVICE_IS_OPENED;
    control = std::make_unique<CameraControl>(this);
    const int r = control->CameraInit(device, -1, -1, nullptr);
    if (!KeepsController(r)) return r;
    *handle = static_cast<HANDLE>(control.get());
    m_cameraList.push_back(control.release());
    qv::Log("CameraInit, camera control:%p\n", *handle);
    return r;
}

int JNCameraMgr::OpenController(const std::shared_ptr<CJNDevice>& device, int paramMode,
                                int paramGroup, const CameraInitOption* options,
                                CameraControl** out) {
    *out = nullptr;
    auto control = std::make_unique<CameraControl>(this);
    const int r = control->CameraInit(device, paramMode, paramGroup, options);
    {
        std::lock_guard lock(m_mgrMutex);
        auto it = std::find(m_openingDevices.begin(), m_openingDevices.end(), device);
        if (it != m_openingDevices.end()) m_openingDevices.erase(it);
        if (KeepsController(r)) {
            *out = control.get();
            m_cameraList.push_back(control.release());
        }
    }
    return r;  // a controller not kept is destroyed here, without the manager mutex
}

int JNCameraMgr::CameraInitEx(HANDLE* handle, int index, int paramMode, int paramGroup) {
    if (handle == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    std::shared_ptr<CJNDevice> device;
    {
        std::lock_guard lock(m_mgrMutex);
        const int r = GetDevice(index, device);
        if (r != CAMERA_STATUS_SUCCESS) return r;
        if (IsCameraHeldLocked(device)) return CAMERA_STATUS_DEVICE_IS_OPENED;
        m_openingDevices.push_back(device);
    }
    CameraControl* control = nullptr;
    const int r = OpenController(device, paramMode, paramGroup, nullptr, &control);
    if (control == nullptr) return r;
    *handle = static_cast<HANDLE>(control);
    qv::Log("CameraInitEx, camera control:%p\n", *handle);
    return r;
}

int JNCameraMgr::InitByKey(HANDLE* handle, DeviceKey key, const char* value,
                           const CameraInitOption* options) {
    if (handle == nullptr || value == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    std::shared_ptr<CJNDevice> device;
    {
        std::lock_guard lock(m_mgrMutex);
        // The device found is the one opened, whatever a concurrent enumeration does to the
        // indices meanwhile.
        tDevInfo info;
        const int r = FindDevice(key, value, device, &info);
        if (r != CAMERA_STATUS_SUCCESS) return r;
        if (info.uInUse != 0 || IsCameraHeldLocked(device)) return CAMERA_STATUS_DEVICE_IS_OPENED;
        m_openingDevices.push_back(device);
    }
    CameraControl* control = nullptr;
    const int r = OpenController(device, -1, -1, options, &control);
    if (control != nullptr) *handle = static_cast<HANDLE>(control);
    return r;
}

int JNCameraMgr::CameraInitEx2(HANDLE* handle, const char* name) {
    return InitByKey(handle, DeviceKey::kFriendlyName, name, nullptr);
}

int JNCameraMgr::CameraInitEx3(HANDLE* handle, const char* sn) {
    return InitByKey(handle, DeviceKey::kSerialNumber, sn, nullptr);
}

int JNCameraMgr::CameraInitEx3WithParam(HANDLE* handle, const char* sn,
                                        const CameraInitOption* options) {
    return InitByKey(handle, DeviceKey::kSerialNumber, sn, options);
}

int JNCameraMgr::CameraDevUnInit(HANDLE handle) {
    auto* control = static_cast<CameraControl*>(handle);
    {
        std::lock_guard lock(m_mgrMutex);
        qv::Log("CameraDevUnInit %p\r\n", handle);
        auto it = std::find(m_cameraList.begin(), m_cameraList.end(), control);
        if (it == m_cameraList.end()) return CAMERA_STATUS_PARAMETER_INVALID;
        if (control->IsCaptureThread()) return CAMERA_STATUS_BUSY;
        m_cameraList.erase(it);
        m_closingList.push_back(control);
    }
    // Destroyed without the manager mutex: its capture thread is joined, and a frame callback
    // still running may call the manager (an index query, another camera's release).
    delete control;
    std::lock_guard lock(m_mgrMutex);
    m_closingList.remove(control);
    return CAMERA_STATUS_SUCCESS;
}

size_t JNCameraMgr::CameraCount() {
    std::lock_guard lock(m_mgrMutex);
    return m_cameraList.size();
}
