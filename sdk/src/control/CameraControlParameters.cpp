// Parameter groups and files, capability and device information.
//
// The loads take the API mutex (they reopen the stream). The saves, the current device
// information, the parameter mode, the current group and the capability take no controller
// lock, so that a host can save while another of its threads waits for a frame: they hold the
// device mutex, under which every change of the record and of the camera records is made (the
// gains every processed frame writes among them), so a save copies a record that was whole.
#include <cstring>
#include <vector>

#include "common/Log.h"
#include "control/AeLimits.h"
#include "control/CameraControl.h"
#include "params/DeviceCapability.h"

namespace {

constexpr int kTable = CameraParameterBuilder::kTableEntries;

// The device-parameter results an opened camera goes on with.
bool DeviceParametersUsable(int result) {
    return result == CAMERA_STATUS_SUCCESS || result == CAMERA_STATUS_EEPROM_NOT_WRITTEN ||
           result == CAMERA_STATUS_PROPERTY_NOT_WRITTEN;
}

}  // namespace

void CameraControl::ReadCustomCurves(std::vector<uint16_t>& tables, uint16_t* curves[3]) const {
    tables.assign(3 * kTable, 0);
    for (int c = 0; c < 3; ++c) {
        curves[c] = tables.data() + c * kTable;
        mIsp.GetCustomLut(c + 1, curves[c]);
    }
}

qv::control::ClampedLimits CameraControl::LimitsNow() {
    qv::control::ClampedLimits limits;
    std::memcpy(&limits.sensor, m_capability.auSensorParam, sizeof m_capability.auSensorParam);
    limits.timed = GetExposureLineTime(&limits.lineTime) == CAMERA_STATUS_SUCCESS;
    limits.refreshes = m_limitRefreshes;
    return limits;
}

int CameraControl::ApplyLoadedRecord(const CameraParameter& record, const uint16_t* const curves[3],
                                     const qv::control::ClampedLimits& limits,
                                     DeviceRecords* device) {
    CloseCameraStream();
    {
        const DeviceHold hold = HoldDevice();
        // A capability refresh (it takes no API mutex) that came after the load read the limits
        // told the host newer ones: they stay, and the record follows them as it would had the
        // refresh come after this store. The stream is closed: a camera may not tell its line
        // time now, so the one the record was clamped at serves.
        const bool refreshed = m_limitRefreshes != limits.refreshes;
        if (device != nullptr) {
            if (refreshed)
                std::memcpy(device->capability.auSensorParam, m_capability.auSensorParam,
                            sizeof m_capability.auSensorParam);
            StoreDeviceRecords(*device);
        }
        m_param = record;
        // The ranges were set with the record, at the limits it was clamped to.
        m_heldAe = {};
        if (refreshed) {
            SensorParam now{};
            std::memcpy(&now, m_capability.auSensorParam, sizeof m_capability.auSensorParam);
            qv::control::FollowAeLimits(m_param.settings, m_heldAe, limits.sensor, now,
                                        limits.timed, limits.lineTime);
        }
    }
    if (curves != nullptr)
        for (int c = 0; c < 3; ++c) mIsp.StoreCustomCurve(c, curves[c]);
    LoadPipeline();
    return ReopenCameraStream(true);
}

int CameraControl::ApplyFileRecord(CameraParameter& record, const uint16_t* const curves[3]) {
    qv::control::ClampedLimits limits;
    {
        // The limits the clamp reads, as the store will find them unless a refresh comes.
        const DeviceHold hold = HoldDevice();
        limits = LimitsNow();
        ClampFileRecord(record);
    }
    const int r = ApplyLoadedRecord(record, curves, limits);
    if (r == CAMERA_STATUS_SUCCESS) KeepDeviceBlackLevel();
    return r;
}

CameraParameter CameraControl::RecordCopy() {
    const DeviceHold hold = HoldDevice();
    return m_param;
}

int CameraControl::CameraSetParameterMode(int mode) {
    const DeviceHold hold = HoldDevice();
    m_param.settings.parameterMode = mode;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetParameterMode(int* mode) {
    if (mode == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    const DeviceHold hold = HoldDevice();
    *mode = m_param.settings.parameterMode;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetCurrentParameterGroup(int* group) {
    if (group == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    const DeviceHold hold = HoldDevice();
    *group = m_param.settings.parameterGroup;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSaveParameter(int group) {
    // Without an opened camera there is no name for the files.
    if (!m_initialized || m_configDir.empty()) return CAMERA_STATUS_FAILED;
    CameraParameter record;
    tDevInfo info;
    {
        const DeviceHold hold = HoldDevice();
        m_param.settings.parameterGroup = group;
        record = m_param;
        info = m_devInfo;
    }
    std::vector<uint16_t> tables;
    uint16_t* curves[3];
    ReadCustomCurves(tables, curves);
    const char* dir = m_configDir.c_str();
    const int saved = mParamBuilder.SaveGroup(dir, &record, record.settings.parameterMode, group,
                                              &info, curves[0], curves[1], curves[2]);
    // The "_SAVE" file names the group saved last for the next opening.
    const int named = mParamBuilder.SaveGroup(dir, &record, 0, CameraParameterBuilder::kSaveGroup,
                                              &info, curves[0], curves[1], curves[2]);
    return saved == 0 && named == 0 ? CAMERA_STATUS_SUCCESS : CAMERA_STATUS_FAILED;
}

int CameraControl::CameraSaveParameterToFile(const char* path) {
    if (path == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    CameraParameter record = RecordCopy();
    std::vector<uint16_t> tables;
    uint16_t* curves[3];
    ReadCustomCurves(tables, curves);
    return mParamBuilder.SaveToFile(path, &record, curves[0], curves[1], curves[2]) == 0
               ? CAMERA_STATUS_SUCCESS
               : CAMERA_STATUS_FAILED;
}

int CameraControl::CameraLoadParameter(int group) {
    ApiLock lock(m_apiMutex);
    if (!m_initialized) return CAMERA_STATUS_NOT_INITIALIZED;
    if (!m_devParamValid) return CAMERA_STATUS_FAILED;
    const CameraParameter before = RecordCopy();
    const int mode = before.settings.parameterMode;
    const int currentGroup = before.settings.parameterGroup;

    if (group == CameraParameterBuilder::kSaveGroup) {
        // The camera's defaults, re-read from the device. Built apart and stored in one step:
        // the saves and getters, which take no API mutex, see the record as it was or as it
        // becomes, never one half made of the factory settings.
        CameraParameter record = before;
        mParamBuilder.SetDefault(&record);
        DeviceRecords device;
        const int r = ReadDeviceRecords(device, record);
        if (!DeviceParametersUsable(r)) {
            qv::Log("CameraGetCameraDevParam err:%d\n", r);
            return CAMERA_STATUS_FAILED;
        }
        qv::control::ClampedLimits limits;
        {
            // Read with the count of refreshes in one hold, so the store can tell one that
            // comes after this read.
            const DeviceHold hold = HoldDevice();
            ReadSensorLimits(device.capability, record.settings, device.defaultResolution);
            limits = LimitsNow();
            std::memcpy(&limits.sensor, device.capability.auSensorParam,
                        sizeof device.capability.auSensorParam);
        }
        record.aeWindowVisible = 0;
        record.wbWindowVisible = 0;
        record.aeProcessArg = 1;
        record.awbProcessArg = 1;
        const tSdkCapability& capability = device.capability;
        if (capability.iMediaTypeDesc > 0 && capability.pMediaTypeDesc != nullptr)
            record.sensorOutFormat = capability.pMediaTypeDesc[0].uMediaType;
        record.transferMode = 0;
        record.settings.correctDeadPixel = 1;
        record.settings.parameterMode = mode;
        record.settings.parameterGroup = currentGroup;
        record.settings.rgbGain[0] = static_cast<uint32_t>(device.misc.defaultRedGain);
        record.settings.rgbGain[1] = static_cast<uint32_t>(device.misc.defaultGreenGain);
        record.settings.rgbGain[2] = static_cast<uint32_t>(device.misc.defaultBlueGain);
        record.settings.frameSpeed = device.misc.defaultFrameSpeed;
        return ApplyLoadedRecord(record, nullptr, limits, &device);
    }

    // Fields a file of an older version does not carry keep their current values, and so do
    // the curves it does not hold.
    CameraParameter record = before;
    tDevInfo info;
    {
        const DeviceHold hold = HoldDevice();
        info = m_devInfo;
    }
    std::vector<uint16_t> tables;
    uint16_t* curves[3];
    ReadCustomCurves(tables, curves);
    const int r = mParamBuilder.LoadGroup(m_configDir.c_str(), mode, group, &info, &record,
                                          curves[0], curves[1], curves[2]);
    if (r != CAMERA_STATUS_SUCCESS) {
        qv::Log("load param failed.\n");
        return r;
    }
    record.settings.parameterMode = mode;
    record.settings.parameterGroup = group;
    const uint16_t* const loaded[3] = {curves[0], curves[1], curves[2]};
    return ApplyFileRecord(record, loaded);
}

int CameraControl::CameraReadParameterFromFile(const char* path) {
    if (path == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    ApiLock lock(m_apiMutex);
    if (!m_initialized) return CAMERA_STATUS_NOT_INITIALIZED;
    if (!m_devParamValid) return CAMERA_STATUS_FAILED;
    // Into temporaries: nothing of the file is in force before its stamp is accepted.
    const CameraParameter current = RecordCopy();
    CameraParameter record = current;
    std::vector<uint16_t> tables;
    uint16_t* curves[3];
    ReadCustomCurves(tables, curves);
    const int r = mParamBuilder.LoadFromFile(path, &record, curves[0], curves[1], curves[2]);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (record.deviceId != m_devInfo.uDeviceId) {
        qv::Log("CameraLoadParameter Fail!!!\n");
        return CAMERA_STATUS_PARAMETER_MISMATCH;
    }
    record.settings.parameterMode = current.settings.parameterMode;
    record.settings.parameterGroup = current.settings.parameterGroup;
    const uint16_t* const loaded[3] = {curves[0], curves[1], curves[2]};
    return ApplyFileRecord(record, loaded);
}

int CameraControl::CameraGetCapability(tSdkCapability* capability) {
    if (!m_initialized) return CAMERA_STATUS_NOT_INITIALIZED;
    if (!m_devParamValid) return CAMERA_STATUS_FAILED;
    if (capability == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    // The sensor's limits as they are now, into the controller's records first, so that the
    // setters, the AE ranges and auto exposure follow what the caller is told.
    const DeviceHold hold = HoldDevice();
    // AE ranges that were the sensor's whole range stay its whole range: the host that set none
    // gets the sensor's, whichever way its limits go (qv::control::FollowAeLimits).
    SensorParam before{};
    std::memcpy(&before, m_capability.auSensorParam, sizeof m_capability.auSensorParam);
    double lineTime = 0;
    const bool timed = GetExposureLineTime(&lineTime) == CAMERA_STATUS_SUCCESS;
    const CameraSettings handed = m_param.settings;
    qv::control::UnsetWholeAeLimits(m_param.settings, m_heldAe, before, timed, lineTime);
    const CameraSettings cut = m_param.settings;
    CameraGetCameraSensorParam(&handed);
    SensorParam now{};
    std::memcpy(&now, m_capability.auSensorParam, sizeof m_capability.auSensorParam);
    qv::control::SettleHeldAeLimits(cut, m_heldAe, now, timed, lineTime);
    std::memcpy(capability, &m_capability, sizeof *capability);
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetCurDevInfo(CameraCurDevInfo* info) {
    if (info == nullptr) return CAMERA_STATUS_SUCCESS;
    std::memset(info, 0, sizeof *info);
    // One hold for the whole block: the getters below hold it too, and their values belong
    // with the copy.
    const DeviceHold hold = HoldDevice();
    info->sDevInfo = m_devInfo;
    CameraSettings s = m_param.settings;
    info->sDevInfo.uInUse = 1;
    // The settings block as the getters report it.
    CameraGetAeExposureRange(&s.aeExposureMin, &s.aeExposureMax);
    int gainMin = 0, gainMax = 0;
    if (CameraGetAeAnalogGainRange(&gainMin, &gainMax) == CAMERA_STATUS_SUCCESS) {
        s.aeAnalogGainMin = static_cast<uint32_t>(gainMin);
        s.aeAnalogGainMax = static_cast<uint32_t>(gainMax);
    }
    CameraGetAeWindow(&s.aeWindow[0], &s.aeWindow[1], &s.aeWindow[2], &s.aeWindow[3]);
    CameraGetWbWindow(&s.wbWindow[0], &s.wbWindow[1], &s.wbWindow[2], &s.wbWindow[3]);
    uint16_t gains[3];
    if (CameraGetGain(&gains[0], &gains[1], &gains[2]) == CAMERA_STATUS_SUCCESS) {
        // Only the low 16 bits of each word carry the reported gain.
        for (int c = 0; c < 3; ++c) s.rgbGain[c] = (s.rgbGain[c] & 0xFFFF0000u) | gains[c];
    }
    static_assert(sizeof info->abCurSettings == sizeof s);
    std::memcpy(info->abCurSettings, &s, sizeof s);
    return CAMERA_STATUS_SUCCESS;
}
