#include "JNCameraMgr.h"

#include <atomic>
#include <cstring>

#include "Log.h"

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
