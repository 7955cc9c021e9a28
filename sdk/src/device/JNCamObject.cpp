#include "device/JNCamObject.h"

#include <cstring>

#include "common/Log.h"

namespace {
// The kept serial number as a terminated text for the log.
struct SnText {
    explicit SnText(const char (&sn)[32]) { std::memcpy(text, sn, sizeof sn); }
    char text[33] = {};
};
}  // namespace

CJNCamObject::CJNCamObject(CJNDeviceMgr* manager) : m_manager(manager) {}

CJNCamObject::~CJNCamObject() {
    Detach();
    if (CDevKeepAliveObj* self = m_registeredSelf.load()) UnregisterKeepAlive(self);
}

// ---- Attachment ----------------------------------------------------------------------------

void CJNCamObject::RemoveDisconnectCallbackLocked() {
    if (m_device && m_disconnectCallback != nullptr) {
        if (m_manager != nullptr)
            m_manager->ForwardSetDisconnectCallback(m_device, nullptr, nullptr);
        else
            m_device->SetDisconnectCallback(nullptr, nullptr);
    }
}

int CJNCamObject::Attach(std::shared_ptr<CJNDevice> device) {
    if (!device) return CAMERA_STATUS_PARAMETER_INVALID;
    std::lock_guard lock(m_devMutex);
    Detach();
    if (device->Open(this) != CAMERA_STATUS_SUCCESS) {
        qv::Log("open failed\n");
        return CAMERA_STATUS_DEVICE_OPEN_FAILED;
    }
    char sn[32] = {};
    const int r = device->GetSN(sn);
    if (r != CAMERA_STATUS_SUCCESS) {
        qv::Log("get device sn failed\n");
        // Not attached, so nothing would ever close it.
        device->Close();
        return r;
    }
    std::memcpy(m_sn, sn, sizeof m_sn);
    m_device = std::move(device);
    if (m_disconnectCallback != nullptr) {
        if (m_manager != nullptr)
            m_manager->ForwardSetDisconnectCallback(m_device, m_disconnectCallback,
                                                    m_disconnectContext);
        else
            m_device->SetDisconnectCallback(m_disconnectCallback, m_disconnectContext);
    }
    qv::Log("attach successfully, device SN %s\n", SnText(m_sn).text);
    return CAMERA_STATUS_SUCCESS;
}

void CJNCamObject::Detach() {
    std::lock_guard lock(m_devMutex);
    if (!m_device) return;
    RemoveDisconnectCallbackLocked();
    m_device->Close();
    qv::Log("%p: detach device %p, SN %s\n", static_cast<void*>(this),
            static_cast<void*>(m_device.get()), SnText(m_sn).text);
    m_device.reset();
}

bool CJNCamObject::IsAttached() {
    std::lock_guard lock(m_devMutex);
    return m_device != nullptr;
}

bool CJNCamObject::IsSameDevice(const std::shared_ptr<CJNDevice>& candidate) {
    std::lock_guard lock(m_devMutex);
    if (!candidate) return false;
    return candidate->IsSameDevice(m_sn);
}

bool CJNCamObject::IsAttachedTo(const std::shared_ptr<CJNDevice>& candidate) {
    std::lock_guard lock(m_devMutex);
    if (!m_device || !candidate) return false;
    return m_device == candidate || m_device->CompareSymbolicName(candidate.get());
}

int CJNCamObject::CheckAlive() {
    std::lock_guard lock(m_devMutex);
    if (!m_device) return CAMERA_STATUS_FAILED;
    return m_device->CheckAlive() ? 1 : 0;
}

std::string CJNCamObject::SerialNumber() {
    std::lock_guard lock(m_devMutex);
    return SnText(m_sn).text;
}

// ---- Keep-alive registration ---------------------------------------------------------------

int CJNCamObject::RegisterKeepAlive(CDevKeepAliveObj* self) {
    if (self == nullptr || m_manager == nullptr) return CAMERA_STATUS_FAILED;
    uint8_t expected = 0;
    if (!m_registered.compare_exchange_strong(expected, 1)) return CAMERA_STATUS_SUCCESS;
    m_lostCount.fetch_add(1);
    m_registeredSelf.store(self);
    const int r = m_manager->KLive_RegisterDev(self);
    if (r != CAMERA_STATUS_SUCCESS) {
        m_registeredSelf.store(nullptr);
        m_registered.store(0);
    }
    return r;
}

int CJNCamObject::TryRegisterKeepAlive(CDevKeepAliveObj* self) {
    if (self == nullptr || m_manager == nullptr) return CAMERA_STATUS_FAILED;
    uint8_t expected = 0;
    if (!m_registered.compare_exchange_strong(expected, 1)) return CAMERA_STATUS_SUCCESS;
    m_registeredSelf.store(self);
    const int r = m_manager->KLive_TryRegisterDev(self);
    if (r != CAMERA_STATUS_SUCCESS) {
        m_registeredSelf.store(nullptr);
        m_registered.store(0);
        return r;
    }
    m_lostCount.fetch_add(1);
    return r;
}

int CJNCamObject::UnregisterKeepAlive(CDevKeepAliveObj* self) {
    uint8_t expected = 1;
    if (!m_registered.compare_exchange_strong(expected, 0)) return CAMERA_STATUS_SUCCESS;
    m_registeredSelf.store(nullptr);
    return m_manager->KLive_UnregisterDev(self);
}

// ---- Forwarded device operations -----------------------------------------------------------

int CJNCamObject::Open() {
    return Call(&CJNDevice::Open, nullptr);
}
int CJNCamObject::Close() {
    return Call(&CJNDevice::Close);
}

int CJNCamObject::SetDisconnectCallback(CJNDevice::DisconnectCallback callback, void* context) {
    std::lock_guard lock(m_devMutex);
    if (!m_device) return CAMERA_STATUS_FAILED;
    const int r = m_manager != nullptr
                      ? m_manager->ForwardSetDisconnectCallback(m_device, callback, context)
                      : m_device->SetDisconnectCallback(callback, context);
    if (r == CAMERA_STATUS_SUCCESS) {
        m_disconnectCallback = callback;
        m_disconnectContext = context;
    }
    return r;
}

int CJNCamObject::InitSensor(CameraInitParam* param) {
    return Call(&CJNDevice::InitSensor, param);
}
int CJNCamObject::UnInitSensor() {
    return Call(&CJNDevice::UnInitSensor);
}
int CJNCamObject::SetSensorAuxValue(int value) {
    return Call(&CJNDevice::SetSensorAuxValue, value);
}
int CJNCamObject::GetLineTime(int* ns) {
    return Call(&CJNDevice::GetLineTime, ns);
}
int CJNCamObject::SetExposureLines(uint32_t lines) {
    return Call(&CJNDevice::SetExposureLines, lines);
}
int CJNCamObject::SetExposure(double us) {
    return Call(&CJNDevice::SetExposure, us);
}
int CJNCamObject::GetExposure(double* us) {
    return Call(&CJNDevice::GetExposure, us);
}
int CJNCamObject::GetExposureLineTime(double* us) {
    return Call(&CJNDevice::GetExposureLineTime, us);
}
int CJNCamObject::SetFrameTime(double us) {
    return Call(&CJNDevice::SetFrameTime, us);
}
int CJNCamObject::GetFrameTime(double* us) {
    return Call(&CJNDevice::GetFrameTime, us);
}
int CJNCamObject::SetFrameSpeed(int speed) {
    return Call(&CJNDevice::SetFrameSpeed, speed);
}
int CJNCamObject::GetFrameSpeed(int* speed) {
    return Call(&CJNDevice::GetFrameSpeed, speed);
}
int CJNCamObject::GetFrameTimeRange(int* min, int* max) {
    return Call(&CJNDevice::GetFrameTimeRange, min, max);
}
int CJNCamObject::SetSensorAuxPair(int a, unsigned b) {
    return Call(&CJNDevice::SetSensorAuxPair, a, b);
}
int CJNCamObject::GetAnalogGainRange(int* min, int* max) {
    return Call(&CJNDevice::GetAnalogGainRange, min, max);
}
int CJNCamObject::SetAnalogGain(uint32_t gain) {
    return Call(&CJNDevice::SetAnalogGain, gain);
}
int CJNCamObject::GetAnalogGain(int* gain) {
    return Call(&CJNDevice::GetAnalogGain, gain);
}
int CJNCamObject::SetBlackLevel(uint32_t level) {
    return Call(&CJNDevice::SetBlackLevel, level);
}
int CJNCamObject::GetBlackLevel(int* level) {
    return Call(&CJNDevice::GetBlackLevel, level);
}
int CJNCamObject::SetWdrMode(int mode) {
    return Call(&CJNDevice::SetWdrMode, mode);
}
int CJNCamObject::GetWdrMode(int* mode) {
    return Call(&CJNDevice::GetWdrMode, mode);
}
int CJNCamObject::StreamOn() {
    return Call(&CJNDevice::StreamOn);
}
int CJNCamObject::StreamOff() {
    return Call(&CJNDevice::StreamOff);
}
int CJNCamObject::SetTriggerMode(int mode) {
    return Call(&CJNDevice::SetTriggerMode, mode);
}
int CJNCamObject::SoftTrigger() {
    return Call(&CJNDevice::SoftTrigger);
}
int CJNCamObject::GetSensorTypeInfo(SensorInfo* info) {
    return Call(&CJNDevice::GetSensorTypeInfo, info);
}
int CJNCamObject::GetSensorParam(SensorParam* param) {
    return Call(&CJNDevice::GetSensorParam, param);
}
int CJNCamObject::GetImageInfo(stImageInfo* info) {
    return Call(&CJNDevice::GetImageInfo, info);
}
int CJNCamObject::SetResolution(tSdkResolution* res) {
    return Call(&CJNDevice::SetResolution, res);
}
int CJNCamObject::GetResolution(tSdkResolution* res) {
    return Call(&CJNDevice::GetResolution, res);
}
int CJNCamObject::SetRoiOffset(int x, int y) {
    return Call(&CJNDevice::SetRoiOffset, x, y);
}
int CJNCamObject::SetAeTarget(int target) {
    return Call(&CJNDevice::SetAeTarget, target);
}
int CJNCamObject::Reboot() {
    return Call(&CJNDevice::Reboot);
}
int CJNCamObject::ResetTimestamp() {
    return Call(&CJNDevice::ResetTimestamp);
}
int CJNCamObject::GetDeviceType(uint16_t* type) {
    return Call(&CJNDevice::GetDeviceType, type);
}
int CJNCamObject::GetSN(char* sn) {
    return Call(&CJNDevice::GetSN, sn);
}
int CJNCamObject::GetFirmwareVersion(uint16_t* version) {
    return Call(&CJNDevice::GetFirmwareVersion, version);
}
int CJNCamObject::GetDriverVersion(char* version) {
    return Call(&CJNDevice::GetDriverVersion, version);
}
int CJNCamObject::GetCameraDevParam(tSdkCapability* cap, tDevInfo* info, CameraProperty* prop,
                                    DeviceMiscInfo* misc) {
    return Call(&CJNDevice::GetCameraDevParam, cap, info, prop, misc);
}
int CJNCamObject::DevWriteSN(uint8_t* sn, INT level) {
    return Call(&CJNDevice::DevWriteSN, sn, level);
}
int CJNCamObject::DevReadSN(uint8_t* sn, INT level) {
    return Call(&CJNDevice::DevReadSN, sn, level);
}
int CJNCamObject::DevSaveUserData(uint32_t offset, uint8_t* data, int len) {
    return Call(&CJNDevice::DevSaveUserData, offset, data, len);
}
int CJNCamObject::DevLoadUserData(uint32_t offset, uint8_t* data, int len) {
    return Call(&CJNDevice::DevLoadUserData, offset, data, len);
}
int CJNCamObject::DevSaveBadPixelTable(uint8_t* data, int len) {
    return Call(&CJNDevice::DevSaveBadPixelTable, data, len);
}
int CJNCamObject::DevLoadBadPixelTable(uint8_t* data, int len) {
    return Call(&CJNDevice::DevLoadBadPixelTable, data, len);
}
int CJNCamObject::DevGetFriendlyName(char* name) {
    return Call(&CJNDevice::DevGetFriendlyName, name);
}
int CJNCamObject::DevSetFriendlyName(char* name) {
    return Call(&CJNDevice::DevSetFriendlyName, name);
}
int CJNCamObject::SetTriggerFrameCount(uint32_t count) {
    return Call(&CJNDevice::SetTriggerFrameCount, count);
}
int CJNCamObject::SetTriggerJitterTime(int line, uint32_t time) {
    return Call(&CJNDevice::SetTriggerJitterTime, line, time);
}
int CJNCamObject::SetTriggerDelayTime(uint32_t time) {
    return Call(&CJNDevice::SetTriggerDelayTime, time);
}
int CJNCamObject::SetTriggerSignalType(int line, int type) {
    return Call(&CJNDevice::SetTriggerSignalType, line, type);
}
int CJNCamObject::SetStrobeMode(int line, int mode) {
    return Call(&CJNDevice::SetStrobeMode, line, mode);
}
int CJNCamObject::SetStrobeDelayTime(int line, uint32_t time) {
    return Call(&CJNDevice::SetStrobeDelayTime, line, time);
}
int CJNCamObject::SetStrobePolarity(int line, int polarity) {
    return Call(&CJNDevice::SetStrobePolarity, line, polarity);
}
int CJNCamObject::SetStrobePulseWidth(int line, uint32_t width) {
    return Call(&CJNDevice::SetStrobePulseWidth, line, width);
}
int CJNCamObject::SetOutputIOMode(int line, int mode) {
    return Call(&CJNDevice::SetOutputIOMode, line, mode);
}
int CJNCamObject::SetTriggerInhibit(int line, int inhibit) {
    return Call(&CJNDevice::SetTriggerInhibit, line, inhibit);
}
int CJNCamObject::SetOutputIOState(int line, int state) {
    return Call(&CJNDevice::SetOutputIOState, line, state);
}
int CJNCamObject::SetOutputIOPWM(int line, uint32_t period, uint32_t duty) {
    return Call(&CJNDevice::SetOutputIOPWM, line, period, duty);
}
int CJNCamObject::GetInputIOState(int line, int* state) {
    return Call(&CJNDevice::GetInputIOState, line, state);
}
int CJNCamObject::GetIpConfig(tGigeIpConfig* config) {
    return Call(&CJNDevice::GetIpConfig, config);
}
int CJNCamObject::SetIpConfig(tGigeIpConfig* config) {
    return Call(&CJNDevice::SetIpConfig, config);
}
int CJNCamObject::SetPacketDelay(uint32_t delay) {
    return Call(&CJNDevice::SetPacketDelay, delay);
}
int CJNCamObject::SetResend(int enable, int a, int b, int c) {
    return Call(&CJNDevice::SetResend, static_cast<uint8_t>(enable), a, b, c);
}
int CJNCamObject::GetOptimalPacketSize(int* size) {
    return Call(&CJNDevice::GetOptimalPacketSize, size);
}
int CJNCamObject::RequestTransferImage() {
    return Call(&CJNDevice::RequestTransferImage);
}
int CJNCamObject::RequestTransferImageEx(int value) {
    return Call(&CJNDevice::RequestTransferImageEx, value);
}
int CJNCamObject::Upgrade(const char* path, CJNDevice::UpgradeProgress progress, void* context) {
    return Call(&CJNDevice::Upgrade, path, progress, context);
}
int CJNCamObject::SetIntValue(int id, int value) {
    return Call(&CJNDevice::SetIntValue, id, value);
}
int CJNCamObject::GetIntValue(int id, int* value) {
    return Call(&CJNDevice::GetIntValue, id, value);
}
int CJNCamObject::StartStream() {
    return Call(&CJNDevice::StartStream);
}
int CJNCamObject::StopStream() {
    return Call(&CJNDevice::StopStream);
}
int CJNCamObject::StartCapture() {
    return Call(&CJNDevice::StartCapture);
}
int CJNCamObject::StopCapture() {
    return Call(&CJNDevice::StopCapture);
}
int CJNCamObject::OpenStream(CFrameBucketProducer* producer, CameraInitParam* param) {
    return Call(&CJNDevice::OpenStream, producer, param);
}
int CJNCamObject::CloseStream() {
    return Call(&CJNDevice::CloseStream);
}
