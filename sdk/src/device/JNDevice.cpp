#include "device/JNDevice.h"

#include <bit>
#include <cstring>
#include <memory>

#include "common/Log.h"
#include "common/TextCopy.h"
#include "storage/StorageData.h"

namespace {

using qv::CopyText;

// The default colour matrix of early models: 336 on the diagonal and -40 elsewhere, so every
// row sums to 256 (1.0) while saturation is raised by 336 / 256 = 1.31.
constexpr int32_t kMatrixDiagonal = 336;
constexpr int32_t kMatrixOffDiagonal = -40;
static_assert(kMatrixDiagonal + 2 * kMatrixOffDiagonal == 256);

constexpr int32_t kLastModelWithMatrixDefault = 4104;
constexpr int32_t kLastModelWithCommonDefaults = 4105;

}  // namespace

CJNDevice::CJNDevice(const char* symbolicName, const char* driverName, const char* driverVersion) {
    CopyText(m_symbolicName, sizeof m_symbolicName, symbolicName);
    CopyText(m_driverName, sizeof m_driverName, driverName);
    CopyText(m_driverVersion, sizeof m_driverVersion, driverVersion);
    std::memset(m_sn, 0, sizeof m_sn);
    std::memset(&m_devProperty, 0, sizeof m_devProperty);
    std::memset(&m_devInfo, 0, sizeof m_devInfo);
    std::memset(&m_miscInfo, 0, sizeof m_miscInfo);
    qv::Log("new device %p\r\n", static_cast<void*>(this));
}

CJNDevice::~CJNDevice() {
    delete m_pSensor;
    m_pSensor = nullptr;
    qv::Log("delete device %p\r\n", static_cast<void*>(this));
}

// ---- Identity ------------------------------------------------------------------------------

int CJNDevice::GetSN(char* sn) {
    if (sn == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    std::memcpy(sn, m_sn, 32);
    return CAMERA_STATUS_SUCCESS;
}

bool CJNDevice::IsSameDevice(const char* devSn) {
    QV_ASSERT(devSn != NULL);
    // Serial numbers fill up to 32 bytes and need not be terminated.
    return std::strncmp(devSn, m_sn, 32) == 0;
}

bool CJNDevice::IsInUse() {
    DevAccessStatus status{};
    if (GetAccessStatus(&status) != CAMERA_STATUS_SUCCESS) return false;
    return status.inUse != 0;
}

const char* CJNDevice::GetSymbolicName() {
    return m_symbolicName;
}

bool CJNDevice::IsSameSymbolicName(const char* name) {
    QV_ASSERT(name != NULL);
    return std::strncmp(name, m_symbolicName, sizeof m_symbolicName) == 0;
}

bool CJNDevice::CompareSymbolicName(const CJNDevice* other) {
    return other != nullptr &&
           std::strncmp(other->m_symbolicName, m_symbolicName, sizeof m_symbolicName) == 0;
}

int CJNDevice::GetDriverName(char* name) {
    std::lock_guard lock(m_devMutex);
    if (name != nullptr) std::memcpy(name, m_driverName, sizeof m_driverName);
    return CAMERA_STATUS_SUCCESS;
}

int CJNDevice::GetDriverVersion(char* version) {
    std::lock_guard lock(m_devMutex);
    if (version != nullptr) std::memcpy(version, m_driverVersion, sizeof m_driverVersion);
    return CAMERA_STATUS_SUCCESS;
}

int CJNDevice::GetDeviceProperty(CameraProperty* pDevProCfg) {
    QV_ASSERT(pDevProCfg != NULL);
    std::memcpy(pDevProCfg, &m_devProperty, sizeof m_devProperty);
    return CAMERA_STATUS_SUCCESS;
}

// ---- Disconnect callback -------------------------------------------------------------------

int CJNDevice::SetDisconnectCallback(DisconnectCallback callback, void* context) {
    std::lock_guard lock(m_devMutex);
    m_disconnectCallback = callback;
    m_disconnectContext = context;
    return CAMERA_STATUS_SUCCESS;
}

void CJNDevice::NotifyDisconnect(int status) {
    std::lock_guard lock(m_devMutex);
    if (m_disconnectCallback != nullptr) m_disconnectCallback(nullptr, status, m_disconnectContext);
}

// ---- Storage-backed accessors ----------------------------------------------------------------

CStorageData* CJNDevice::GetEEPromData() {
    QV_ASSERT(m_pEEPromData != NULL);
    return m_pEEPromData;
}

CStorageData* CJNDevice::MakeEEPromInstance(const char* hardwareVersion) {
    return CreateStorageData(this, hardwareVersion);
}

int CJNDevice::DevWriteSN(uint8_t* sn, INT level) {
    return GetEEPromData()->WriteSN(sn, level);
}
int CJNDevice::DevReadSN(uint8_t* sn, INT level) {
    return GetEEPromData()->ReadSN(sn, level);
}
int CJNDevice::DevSaveUserData(uint32_t offset, uint8_t* data, int len) {
    return GetEEPromData()->SaveUserData(offset, data, len);
}
int CJNDevice::DevLoadUserData(uint32_t offset, uint8_t* data, int len) {
    return GetEEPromData()->LoadUserData(offset, data, len);
}
int CJNDevice::DevSaveBadPixelTable(uint8_t* data, int len) {
    return GetEEPromData()->SaveBadPixelTable(data, len);
}
int CJNDevice::DevLoadBadPixelTable(uint8_t* data, int len) {
    return GetEEPromData()->LoadBadPixelTable(data, len);
}
int CJNDevice::DevGetFriendlyName(char* name) {
    return GetEEPromData()->GetFriendlyName(name);
}
int CJNDevice::DevSetFriendlyName(char* name) {
    return GetEEPromData()->SetFriendlyName(name);
}
int CJNDevice::DevSetProductName(char* name) {
    return GetEEPromData()->SetProductName(name);
}
int CJNDevice::DevGetProductName(char* name) {
    return GetEEPromData()->GetProductName(name);
}
int CJNDevice::DevSetProductSeries(char* series) {
    return GetEEPromData()->SetProductSeries(series);
}
int CJNDevice::DevGetProductSeries(char* series) {
    return GetEEPromData()->GetProductSeries(series);
}
int CJNDevice::DevGetDeviceID(uint32_t* id) {
    return GetEEPromData()->GetDeviceID(id);
}
int CJNDevice::DevSetDeviceID(uint32_t id) {
    return GetEEPromData()->SetDeviceID(id);
}
int CJNDevice::DevGetDevicePortType(char* text) {
    return GetEEPromData()->GetDevicePortType(text);
}
int CJNDevice::DevSetDevicePortType(char* text) {
    return GetEEPromData()->SetDevicePortType(text);
}
int CJNDevice::DevGetDeviceMonoCfg(uint32_t* word) {
    return GetEEPromData()->GetDeviceMonoCfg(word);
}
int CJNDevice::DevSetDeviceMonoCfg(uint32_t word) {
    return GetEEPromData()->SetDeviceMonoCfg(word);
}
int CJNDevice::DevGetSensorType(SensorTypeE* type) {
    return GetEEPromData()->GetSensorType(type);
}
int CJNDevice::DevSetSensorType(SensorTypeE type) {
    return GetEEPromData()->SetSensorType(type);
}

int CJNDevice::DevSetDeadPixelPosition(BYTE* data, size_t len) {
    (void)data, (void)len;
    GetEEPromData();
    return CAMERA_STATUS_NOT_SUPPORTED;
}

// ---- GigE network settings -------------------------------------------------------------------

int CJNDevice::GetIpConfig(tGigeIpConfig* config) {
    (void)config;
    return CAMERA_STATUS_NOT_SUPPORTED;
}
int CJNDevice::SetIpConfig(tGigeIpConfig* config) {
    (void)config;
    return CAMERA_STATUS_NOT_SUPPORTED;
}
int CJNDevice::SetPacketDelay(uint32_t delay) {
    (void)delay;
    return CAMERA_STATUS_NOT_SUPPORTED;
}
int CJNDevice::SetResend(uint8_t enable, int a, int b, int c) {
    (void)enable, (void)a, (void)b, (void)c;
    return CAMERA_STATUS_NOT_SUPPORTED;
}
int CJNDevice::GetOptimalPacketSize(int* size) {
    (void)size;
    return CAMERA_STATUS_NOT_SUPPORTED;
}

// ---- Sensor driver ---------------------------------------------------------------------------

SensorInf* CJNDevice::NewSensor(SensorTypeE type) {
    return SensorInf::NewSensor(type, this);
}

int CJNDevice::CreateSensor(SensorTypeE type, bool loadFpga) {
    // A sensor behind an FPGA that failed to load (its reset, its download, or the flash write of
    // a flash-booting camera) would be initialised on dead hardware: every failure stops here.
    if (loadFpga) {
        const int r = LoadFpga(type);
        if (r == CAMERA_STATUS_FPGA_ERROR) return CAMERA_STATUS_NO_SENSOR;
        if (r != CAMERA_STATUS_SUCCESS) return r;
    }
    delete m_pSensor;
    m_pSensor = SensorInf::CreateSensor(type, this);
    return m_pSensor != nullptr ? CAMERA_STATUS_SUCCESS : CAMERA_STATUS_NO_SENSOR;
}

bool CJNDevice::ProbeSensor(SensorTypeE type, bool loadFpga) {
    if (loadFpga && LoadFpga(type) != CAMERA_STATUS_SUCCESS) return false;
    return SensorInf::ProbeSensor(type, this);
}

int CJNDevice::InitSensor(CameraInitParam* param) {
    if (m_pSensor == nullptr) {
        // Only an open device has storage; a stream open on a closed one is refused plainly.
        const int r = m_pEEPromData != nullptr ? m_pEEPromData->GetSensorType(&m_sensorType)
                                               : CAMERA_STATUS_HARDWARE_NOT_FOUND;
        if (r != CAMERA_STATUS_SUCCESS) {
            qv::Log("get sensor type failed\r\n");
            return r;
        }
        const int created = CreateSensor(m_sensorType, m_hardwareType != 0);
        if (created != CAMERA_STATUS_SUCCESS) {
            qv::Log("sensor manual set failed\r\n");
            return created;
        }
    }
    const int r = m_pSensor->Init(param);
    if (r != CAMERA_STATUS_SUCCESS) {
        qv::Log("InitSensor failed\r\n");
        return r;
    }
    return CAMERA_STATUS_SUCCESS;
}

int CJNDevice::UnInitSensor() {
    if (m_pSensor == nullptr) return CAMERA_STATUS_NO_SENSOR;
    const int r = m_pSensor->Uninit();
    if (r != CAMERA_STATUS_SUCCESS) return r;
    delete m_pSensor;
    m_pSensor = nullptr;
    return CAMERA_STATUS_SUCCESS;
}

int CJNDevice::SetSensorAuxValue(int value) {
    return m_pSensor ? m_pSensor->SetAuxValue(value) : CAMERA_STATUS_NO_SENSOR;
}
int CJNDevice::GetLineTime(int* ns) {
    return m_pSensor ? m_pSensor->GetLineTime(ns) : CAMERA_STATUS_NO_SENSOR;
}
int CJNDevice::SetExposureLines(uint32_t lines) {
    return m_pSensor ? m_pSensor->SetExposureLines(lines) : CAMERA_STATUS_NO_SENSOR;
}
int CJNDevice::SetExposure(double us) {
    return m_pSensor ? m_pSensor->SetExposure(us) : CAMERA_STATUS_NO_SENSOR;
}
int CJNDevice::GetExposure(double* us) {
    return m_pSensor ? m_pSensor->GetExposure(us) : CAMERA_STATUS_NO_SENSOR;
}
int CJNDevice::GetExposureLineTime(double* us) {
    return m_pSensor ? m_pSensor->GetExposureLineTime(us) : CAMERA_STATUS_NO_SENSOR;
}
int CJNDevice::SetFrameTime(double us) {
    return m_pSensor ? m_pSensor->SetFrameTime(us) : CAMERA_STATUS_NO_SENSOR;
}
int CJNDevice::GetFrameTime(double* us) {
    return m_pSensor ? m_pSensor->GetFrameTime(us) : CAMERA_STATUS_NO_SENSOR;
}
int CJNDevice::SetFrameSpeed(int speed) {
    return m_pSensor ? m_pSensor->SetFrameSpeed(speed) : CAMERA_STATUS_NO_SENSOR;
}
int CJNDevice::GetFrameSpeed(int* speed) {
    return m_pSensor ? m_pSensor->GetFrameSpeed(speed) : CAMERA_STATUS_NO_SENSOR;
}
int CJNDevice::GetFrameTimeRange(int* min, int* max) {
    return m_pSensor ? m_pSensor->GetFrameTimeRange(min, max) : CAMERA_STATUS_NO_SENSOR;
}
int CJNDevice::SetSensorAuxPair(int a, unsigned b) {
    return m_pSensor ? m_pSensor->SetAuxPair(a, b) : CAMERA_STATUS_NO_SENSOR;
}
int CJNDevice::GetAnalogGainRange(int* min, int* max) {
    return m_pSensor ? m_pSensor->GetAnalogGainRange(min, max) : CAMERA_STATUS_NO_SENSOR;
}
int CJNDevice::SetAnalogGain(uint32_t gain) {
    return m_pSensor ? m_pSensor->SetAnalogGain(gain) : CAMERA_STATUS_NO_SENSOR;
}
int CJNDevice::GetAnalogGain(int* gain) {
    return m_pSensor ? m_pSensor->GetAnalogGain(gain) : CAMERA_STATUS_NO_SENSOR;
}
int CJNDevice::SetBlackLevel(uint32_t level) {
    return m_pSensor ? m_pSensor->SetBlackLevel(level) : CAMERA_STATUS_NO_SENSOR;
}
int CJNDevice::GetBlackLevel(int* level) {
    return m_pSensor ? m_pSensor->GetBlackLevel(level) : CAMERA_STATUS_NO_SENSOR;
}
int CJNDevice::SetWdrMode(int mode) {
    return m_pSensor ? m_pSensor->SetWdrMode(mode) : CAMERA_STATUS_NO_SENSOR;
}
int CJNDevice::GetWdrMode(int* mode) {
    return m_pSensor ? m_pSensor->GetWdrMode(mode) : CAMERA_STATUS_NO_SENSOR;
}
int CJNDevice::StreamOn() {
    return m_pSensor ? m_pSensor->StreamOn() : CAMERA_STATUS_NO_SENSOR;
}
int CJNDevice::StreamOff() {
    return m_pSensor ? m_pSensor->StreamOff() : CAMERA_STATUS_NO_SENSOR;
}
int CJNDevice::SetTriggerMode(int mode) {
    return m_pSensor ? m_pSensor->SetTriggerMode(mode) : CAMERA_STATUS_NO_SENSOR;
}
int CJNDevice::SoftTrigger() {
    return m_pSensor ? m_pSensor->SoftTrigger() : CAMERA_STATUS_NO_SENSOR;
}
int CJNDevice::GetSensorTypeInfo(SensorInfo* info) {
    return m_pSensor ? m_pSensor->GetInfo(info) : CAMERA_STATUS_NO_SENSOR;
}
int CJNDevice::GetSensorParam(SensorParam* param) {
    return m_pSensor ? m_pSensor->GetSensorParam(param) : CAMERA_STATUS_NO_SENSOR;
}
int CJNDevice::GetImageInfo(stImageInfo* info) {
    return m_pSensor ? m_pSensor->GetImageInfo(info) : CAMERA_STATUS_NO_SENSOR;
}
int CJNDevice::SetResolution(tSdkResolution* res) {
    return m_pSensor ? m_pSensor->SetResolution(res) : CAMERA_STATUS_NO_SENSOR;
}
int CJNDevice::GetResolution(tSdkResolution* res) {
    return m_pSensor ? m_pSensor->GetResolution(res) : CAMERA_STATUS_NO_SENSOR;
}
int CJNDevice::SetRoiOffset(int x, int y) {
    return m_pSensor ? m_pSensor->SetRoiOffset(x, y) : CAMERA_STATUS_NO_SENSOR;
}
int CJNDevice::SetAeTarget(int target) {
    return m_pSensor ? m_pSensor->SetAeTarget(target) : CAMERA_STATUS_NO_SENSOR;
}

// ---- Open-time fills ---------------------------------------------------------------------

int CJNDevice::LoadDeviceProperty(CameraProperty* prop) {
    const int r = GetEEPromData()->ReadDeviceProperty(prop);
    if (r != CAMERA_STATUS_SUCCESS) return r;

    prop->bayerAlgDefault = 2;
    prop->bayerAlgMask = 0x101;
    CameraSettings& defaults = prop->defaultSettings;
    if (defaults.lightFrequency != 1 && defaults.lightFrequency != 2) defaults.lightFrequency = 1;

    if (prop->modelNumber <= kLastModelWithMatrixDefault) {
        for (int row = 0; row < 3; ++row)
            for (int col = 0; col < 3; ++col)
                defaults.colorMatrix[row * 3 + col] =
                    row == col ? kMatrixDiagonal : kMatrixOffDiagonal;
    }
    if (prop->modelNumber <= kLastModelWithCommonDefaults) {
        defaults.gamma = 100;
        defaults.contrastLut = 100;
        defaults.lutPreset = 0;
        prop->contrastLutRange[0] = 0;
        prop->contrastLutRange[1] = 200;
        prop->gammaRange[0] = 0;
        prop->gammaRange[1] = 1000;
        prop->auxListCount = 3;
        prop->auxListMask = 7;
    }
    return CAMERA_STATUS_SUCCESS;
}

int CJNDevice::FillDevInfo(tDevInfo* info) {
    std::memset(info, 0, offsetof(tDevInfo, uInUse));

    uint32_t deviceId = 0;
    if (DevGetDeviceID(&deviceId) == CAMERA_STATUS_SUCCESS) info->uDeviceId = deviceId >> 16;
    SensorTypeE storedType = SENSOR_TYPE_UNKNOWN;
    if (DevGetSensorType(&storedType) == CAMERA_STATUS_SUCCESS)
        info->uSensorType = static_cast<UINT>(storedType);
    else
        storedType = SENSOR_TYPE_UNKNOWN;

    CopyText(info->acDriverName, sizeof info->acDriverName, m_driverName);
    CopyText(info->acDriverVersion, sizeof info->acDriverVersion, m_driverVersion);
    CopyText(info->acSymbolicName, sizeof info->acSymbolicName, m_symbolicName);
    info->uSignature = 0x1216;

    int r = GetSN(info->acSn);
    if (r == CAMERA_STATUS_SUCCESS) r = GetDeviceType(&info->uDeviceType);
    if (r == CAMERA_STATUS_SUCCESS) r = GetFirmwareVersion(&info->uFirmwareVersion);
    if (r == CAMERA_STATUS_SUCCESS) r = DevGetFriendlyName(info->acFriendlyName);
    if (r == CAMERA_STATUS_SUCCESS) r = DevGetProductSeries(info->acProductSeries);
    if (r == CAMERA_STATUS_SUCCESS) r = DevGetProductName(info->acProductName);
    if (r == CAMERA_STATUS_SUCCESS) r = DevGetDevicePortType(info->acPortType);
    if (r == CAMERA_STATUS_SUCCESS) {
        DevAccessStatus status{};
        r = GetAccessStatus(&status);
        if (r == CAMERA_STATUS_SUCCESS) info->iAccess = status.accessWord;
    }
    if (r != CAMERA_STATUS_SUCCESS) return r;

    std::unique_ptr<SensorInf> temporary;
    SensorInf* driver = m_pSensor;
    if (driver == nullptr) {
        temporary.reset(NewSensor(storedType));
        driver = temporary.get();
    }
    if (driver == nullptr) {
        info->uSensorType = 0;
        CopyText(info->acSensorName, sizeof info->acSensorName, "Sensor Unknow");
        return CAMERA_STATUS_SUCCESS;
    }
    SensorInfo sensorInfo{};
    driver->GetInfo(&sensorInfo);
    info->uSensorType = static_cast<UINT>(sensorInfo.type);
    CopyText(info->acSensorName, sizeof info->acSensorName, sensorInfo.kind);
    return CAMERA_STATUS_SUCCESS;
}

// ---- Device parameters of camera initialisation --------------------------------------------

int CJNDevice::GetCameraDevParam(tSdkCapability* cap, tDevInfo* info, CameraProperty* prop,
                                 DeviceMiscInfo* misc) {
    if (info != nullptr && GetDeviceInfo(info, misc) != CAMERA_STATUS_SUCCESS)
        return CAMERA_STATUS_PARAMETER_INVALID;
    if (prop == nullptr) return CAMERA_STATUS_SUCCESS;
    if (GetDeviceProperty(prop) != CAMERA_STATUS_SUCCESS) return CAMERA_STATUS_PARAMETER_INVALID;
    if (cap == nullptr || m_pEEPromData == nullptr) return CAMERA_STATUS_SUCCESS;

    SensorTypeE type = SENSOR_TYPE_UNKNOWN;
    const int r = m_pEEPromData->GetSensorType(&type);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    std::unique_ptr<SensorInf> driver(NewSensor(type));
    if (!driver) return CAMERA_STATUS_NO_SENSOR;

    SensorParam param{};
    driver->GetSensorParam(&param);

    if (misc != nullptr) {
        SensorCapability gains;
        driver->GetCapability(gains);
        misc->defaultRedGain = static_cast<int32_t>(gains.defaultRedGain);
        misc->defaultGreenGain = static_cast<int32_t>(gains.defaultGreenGain);
        misc->defaultBlueGain = static_cast<int32_t>(gains.defaultBlueGain);
    }

    static_assert(sizeof prop->sensorLimits == 8 * sizeof param.maxHeight);
    std::memcpy(prop->sensorLimits, &param.maxHeight, sizeof prop->sensorLimits);
    SensorCapability sensorCap;
    driver->GetCapability(sensorCap);
    prop->monoSensor = sensorCap.isMono;
    prop->wdrSupported = sensorCap.wdrSupported;
    prop->aeTargetOnSensor = sensorCap.aeTargetOnSensor;
    prop->defaultSettings.resolutionIndex = static_cast<int32_t>(sensorCap.defaultResolutionIndex);
    prop->defaultSettings.aeTarget = static_cast<int32_t>(sensorCap.defaultAeTarget);
    prop->defaultSettings.blackLevel = static_cast<int32_t>(sensorCap.defaultBlackLevel);
    prop->presetCount = std::popcount(sensorCap.presetMask);
    prop->presetMaskLow = static_cast<uint32_t>(sensorCap.presetMask);
    prop->presetMaskHigh = static_cast<uint32_t>(sensorCap.presetMask >> 32);
    driver.reset();

    return MakeCapability(cap, prop, type, &sensorCap);
}
