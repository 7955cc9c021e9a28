// CameraControl: construction, the opening sequence with its device records and parameter group,
// and the release.
#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "control/AeLimits.h"
#include "control/CameraControl.h"
#include "control/SettingRules.h"
#include "display/Display.h"
#include "imagefile/AviWriter.h"
#include "params/DeviceCapability.h"
#include "manager/JNCameraMgr.h"
#include "common/Log.h"
#include "services/TimerMng.h"

namespace {

// The parameter record's fields that the per-frame steps read as 1 after a reset: the AE
// statistics method (12), the white-balance statistics flag (16) and the Bayer algorithm (20).
void SetResetArgs(CameraParameter& record) {
    record.aeProcessArg = 1;
    record.awbProcessArg = 1;
    record.bayerAlgMode = 1;
}

bool KeepsHandle(int result) {
    return result == CAMERA_STATUS_SUCCESS || result == CAMERA_STATUS_EEPROM_NOT_WRITTEN ||
           result == CAMERA_STATUS_PROPERTY_NOT_WRITTEN;
}

}  // namespace

CameraControl::CameraControl(CJNDeviceMgr* manager)
    : CJNCamObject(manager), m_clock(CControlClock::Steady()) {
    ClearRecords();
}

CameraControl::~CameraControl() {
    CameraUninit();
    ReleaseCapabilities();
}

void CameraControl::SetClock(CControlClock* clock) {
    ApiLock lock(m_apiMutex);
    m_clock = clock != nullptr ? clock : CControlClock::Steady();
}

// ---- Opening ---------------------------------------------------------------------------------

int CameraControl::CameraInit(std::shared_ptr<CJNDevice> device, int paramMode, int paramGroup,
                              const CameraInitOption* options) {
    ApiLock lock(m_apiMutex);
    m_initialized = false;
    m_playing = false;

    int r = Attach(std::move(device));
    if (r != CAMERA_STATUS_SUCCESS) {
        qv::Log("attach device failed.\n");
        return r;
    }
    ResetState();

    const int devParam = CameraGetCameraDevParam();
    if (!KeepsHandle(devParam)) {
        qv::Log("CameraGetCameraDevParam err:%d\n", devParam);
        Detach();
        return CAMERA_STATUS_FAILED;
    }
    // The camera's own settings, for an open that the loaded group's settings fail.
    const CameraParameter factory = m_param;
    std::vector<uint16_t> factoryTables;
    uint16_t* factoryCurves[3];
    ReadCustomCurves(factoryTables, factoryCurves);
    std::string loadedFile;
    if (m_devParamValid) loadedFile = LoadParameterGroup(paramMode, paramGroup);

    m_optFrameCount = 0;
    if (options != nullptr) ApplyInitOptions(*options);
    SettleStreamSettings();

    // The pool takes at most CFrameBucket::kMaxFrames; the receivers get the count the pool has.
    if (m_optFrameCount > CFrameBucket::kMaxFrames) m_optFrameCount = CFrameBucket::kMaxFrames;
    m_frameBucket =
        std::make_shared<CFrameBucket>(m_optFrameCount > 0 ? m_optFrameCount : kDefaultFrameCount);
    m_bucketClient = m_frameBucket->CreateBucketClient();

    CameraInitParam param = BuildInitParam();
    r = OpenCameraStream(&param);
    // Only a stream the camera could not set up speaks against the file; a port held by another
    // program or a failing cable says nothing about it, and must not cost the user the file.
    if (r == CAMERA_STATUS_STREAM_OPEN_FAILED && !loadedFile.empty()) {
        // Settings the camera refuses must not lock the user out of it: once more with the
        // camera's defaults under the same mode and group (a later save replaces the file).
        qv::Log("Parameter file %s rejected by the camera, opened with defaults\n",
                loadedFile.c_str());
        const int mode = m_param.settings.parameterMode;
        const int group = m_param.settings.parameterGroup;
        m_param = factory;
        for (int c = 0; c < 3; ++c) mIsp.StoreCustomCurve(c, factoryCurves[c]);
        mParamBuilder.SetDefault(&m_param);
        ApplyDeviceDefaults();
        m_param.settings.parameterMode = mode;
        m_param.settings.parameterGroup = group;
        if (options != nullptr) ApplyInitOptions(*options);
        SettleStreamSettings();
        m_frameBucket->Reset();
        m_bucketClient->Reset();
        loadedFile.clear();
        param = BuildInitParam();
        r = OpenCameraStream(&param);
    }
    if (r != CAMERA_STATUS_SUCCESS) {
        qv::Log("open camera device failed\n");
        Detach();
        return r;
    }
    {
        // The record is new: its ranges are judged as they stand.
        const DeviceHold hold = HoldDevice();
        m_heldAe = {};
    }
    CameraGetCameraSensorParam();
    if (!loadedFile.empty()) ClampFileRecordToSensor();
    StartPipeline();

    {
        std::lock_guard callbackLock(m_callbackMutex);
        m_frameCallback = nullptr;
        m_frameContext = nullptr;
    }
    m_callbackSet = false;
    m_initialized = true;
    qv::Log("CameraInit finish:%p\n", static_cast<void*>(this));

    if (!m_devParamValid) {
        qv::Log("Please Write EEprom!!!!\n");
        CloseCameraStream();
        Detach();
        return CAMERA_STATUS_EEPROM_NOT_WRITTEN;
    }
    return CAMERA_STATUS_SUCCESS;
}

void CameraControl::ClearRecords() {
    std::memset(&m_capability, 0, sizeof m_capability);
    std::memset(&m_devInfo, 0, sizeof m_devInfo);
    std::memset(m_featureWords, 0, sizeof m_featureWords);
    std::memset(&m_property, 0, sizeof m_property);
    std::memset(&m_miscInfo, 0, sizeof m_miscInfo);
    std::memset(&m_param, 0, sizeof m_param);
    std::memset(&m_curResolution, 0, sizeof m_curResolution);
    std::memset(&m_defaultResolution, 0, sizeof m_defaultResolution);
}

void CameraControl::ResetState() {
    const DeviceHold hold = HoldDevice();
    ReleaseCapabilities();
    ClearRecords();
    SetResetArgs(m_param);
    m_sensorMediaType = 0;
    m_devParamValid = false;
    m_playing = false;
    m_callbackSet = false;
    m_softTriggerEmulation = false;
    m_pendingTriggers = 0;
    m_lastFrameMs = 0;
    m_disconnected = false;
    m_lossDetached = false;
    m_intValue1 = m_intValue3 = m_intValue14 = 0;
    FreeFrameBuffers();
    m_brightness = 0;
    // A folder that cannot be made only costs the parameter files; the camera still opens.
    CameraParameterBuilder::MakeConfigFolder(m_configDir);
}

namespace {

// The preset of index (or the custom region the record keeps, 255) in the given records.
int FindResolution(int index, const CameraParameter& record, const CameraProperty& property,
                   const tSdkCapability& capability, tSdkResolution* out) {
    if (index == 255) {
        if (record.resolution.uWidth == 0) return CAMERA_STATUS_PARAMETER_INVALID;
        *out = record.resolution;
        return CAMERA_STATUS_SUCCESS;
    }
    // An index from a parameter file may be anything.
    if (!qv::control::PresetOffered(index, property.presetMaskLow, property.presetMaskHigh))
        return CAMERA_STATUS_PARAMETER_INVALID;
    for (int i = 0; i < capability.iImageSizeDesc && capability.pImageSizeDesc != nullptr; ++i) {
        if (capability.pImageSizeDesc[i].iIndex == index) {
            *out = capability.pImageSizeDesc[i];
            return CAMERA_STATUS_SUCCESS;
        }
    }
    return CAMERA_STATUS_PARAMETER_INVALID;
}

}  // namespace

int CameraControl::CameraGetCameraDevParam() {
    const DeviceHold hold = HoldDevice();
    DeviceRecords device;
    CameraParameter record = m_param;
    const int r = ReadDeviceRecords(device, record);
    StoreDeviceRecords(device);
    if (device.result == CAMERA_STATUS_SUCCESS) m_param = record;
    return r;
}

int CameraControl::ReadDeviceRecords(DeviceRecords& device, CameraParameter& record) {
    device.defaultResolution = m_defaultResolution;
    device.result =
        GetCameraDevParam(&device.capability, &device.info, &device.property, &device.misc);
    if (device.result == CAMERA_STATUS_PROPERTY_NOT_WRITTEN) qv::Log("Please Write EEprom!!!!\n");
    if (device.result != CAMERA_STATUS_SUCCESS) return device.result;
    // The camera's factory defaults become the settings; the device ID stamps the record.
    record.settings = device.property.defaultSettings;
    record.deviceId = device.info.uDeviceId;
    record.bayerAlgMode = device.property.bayerAlgMode;
    return FindResolution(record.settings.resolutionIndex, record, device.property,
                          device.capability, &device.defaultResolution);
}

void CameraControl::ReleaseCapabilities() {
    ReleaseCapabilityLists(&m_capability);
    for (tSdkCapability& replaced : m_replacedCapabilities) ReleaseCapabilityLists(&replaced);
    m_replacedCapabilities.clear();
}

void CameraControl::StoreDeviceRecords(DeviceRecords& device) {
    // A host may still read the lists of a capability it copied, until the camera is released:
    // a list the device answered alike stays where it is, one it replaced is set aside until
    // then. The lists left over go with the records.
    ReuseEqualCapabilityLists(&device.capability, &m_capability);
    // A list answered before and replaced since comes back from where it is kept, so what is
    // kept stays bounded by the lists the camera answers (they hold distinct values, so no
    // list taken above is given up here).
    for (tSdkCapability& kept : m_replacedCapabilities)
        ReuseEqualCapabilityLists(&device.capability, &kept);
    std::erase_if(m_replacedCapabilities,
                  [](const tSdkCapability& kept) { return !HoldsCapabilityLists(kept); });
    std::swap(m_capability, device.capability);
    if (HoldsCapabilityLists(device.capability)) {
        m_replacedCapabilities.push_back(device.capability);
        device.capability = tSdkCapability{};
    }
    m_devInfo = device.info;
    m_property = device.property;
    m_miscInfo = device.misc;
    m_defaultResolution = device.defaultResolution;
    if (device.result == CAMERA_STATUS_PROPERTY_NOT_WRITTEN) m_devParamValid = false;
    if (device.result != CAMERA_STATUS_SUCCESS) return;
    m_devParamValid = true;
    static_assert(sizeof m_featureWords == offsetof(tSdkCapability, pTriggerDesc) -
                                               offsetof(tSdkCapability, abPropertyFlags));
    std::memcpy(m_featureWords, m_capability.abPropertyFlags, sizeof m_featureWords);
}

int CameraControl::GetResolutionDesc(int index, tSdkResolution* out) {
    if (out == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    if (!m_devParamValid) return CAMERA_STATUS_FAILED;
    return FindResolution(index, m_param, m_property, m_capability, out);
}

int CameraControl::CameraGetCameraSensorParam(const CameraSettings* handed) {
    // Drivers change their limits at run time (with the trigger mode, for one): the setters and
    // auto exposure follow what the sensor says now.
    const DeviceHold hold = HoldDevice();
    CameraSettings& s = m_param.settings;
    const double exposureMin = handed != nullptr ? handed->aeExposureMin : s.aeExposureMin;
    const double exposureMax = handed != nullptr ? handed->aeExposureMax : s.aeExposureMax;
    const SensorParam sensor = ReadSensorLimits(m_capability, s, m_defaultResolution);
    // A load that read the limits before this and stores its record after follows these.
    ++m_limitRefreshes;
    // Auto exposure's gain range follows by the same rule as the record's; its exposure range
    // is the record's (they are loaded and set together), so it takes the record's new one.
    mExposure.SetSensorLimits(sensor, !m_heldAe.gain);
    if (s.aeExposureMin != exposureMin || s.aeExposureMax != exposureMax)
        mExposure.CE_CameraSetAeExposureRange(s.aeExposureMin, s.aeExposureMax);
    return CAMERA_STATUS_SUCCESS;
}

SensorParam CameraControl::ReadSensorLimits(tSdkCapability& capability, CameraSettings& settings,
                                            const tSdkResolution& defaultResolution) {
    SensorParam sensor{};
    static_assert(sizeof capability.auSensorParam <= sizeof sensor);
    if (GetSensorParam(&sensor) == CAMERA_STATUS_SUCCESS)
        std::memcpy(capability.auSensorParam, &sensor, sizeof capability.auSensorParam);
    else
        std::memcpy(&sensor, capability.auSensorParam, sizeof capability.auSensorParam);
    ClampAeLimits(settings, sensor);
    capability.sResolutionDefault = defaultResolution;
    return sensor;
}

void CameraControl::ClampAeLimits(CameraSettings& s, const SensorParam& sensor) {
    double lineTime = 0;
    const bool timed = GetExposureLineTime(&lineTime) == CAMERA_STATUS_SUCCESS;
    qv::control::ClampAeLimits(s, sensor, timed, lineTime);
}

void CameraControl::ApplyDeviceDefaults() {
    m_param.settings.rgbGain[0] = static_cast<uint32_t>(m_miscInfo.defaultRedGain);
    m_param.settings.rgbGain[1] = static_cast<uint32_t>(m_miscInfo.defaultGreenGain);
    m_param.settings.rgbGain[2] = static_cast<uint32_t>(m_miscInfo.defaultBlueGain);
    m_param.settings.frameSpeed = m_miscInfo.defaultFrameSpeed;
}

void CameraControl::SettleStreamSettings() {
    const DeviceHold hold = HoldDevice();
    m_param.sensorOutFormat = SensorOutFormatFor(m_param.sensorOutFormat);
    if (GetResolutionDesc(m_param.settings.resolutionIndex, &m_curResolution) != 0) {
        m_curResolution = m_defaultResolution;
        m_param.settings.resolutionIndex = m_defaultResolution.iIndex;
    }
}

std::string CameraControl::LoadParameterGroup(int paramMode, int paramGroup) {
    CameraSettings& s = m_param.settings;
    // A group file carries the three custom curves (red, green, blue) after the record; curves
    // the file lacks keep what the pipeline holds.
    std::vector<uint16_t> curves(3 * CameraParameterBuilder::kTableEntries);
    uint16_t* luts[3];
    for (int c = 0; c < 3; ++c) {
        luts[c] = curves.data() + c * CameraParameterBuilder::kTableEntries;
        mIsp.GetCustomLut(c + 1, luts[c]);
    }
    std::string loaded;  // the file whose record is in force
    const char* dir = m_configDir.c_str();
    auto load = [&](int mode, int group) {
        std::string path;
        mParamBuilder.MakeCfgFilePath(path, dir, mode, group, &m_devInfo);
        if (mParamBuilder.GetCfgFile(path.c_str(), &m_param, luts[0], luts[1], luts[2]) != 0)
            return false;
        loaded = path;
        return true;
    };
    if (paramGroup == CameraParameterBuilder::kSaveGroup) {
        mParamBuilder.SetDefault(&m_param);
        ApplyDeviceDefaults();
        s.parameterMode = std::max(paramMode, 0);
        s.parameterGroup = CameraParameterBuilder::kSaveGroup;
    } else if (paramMode < 0 || paramGroup < 0) {
        // The "_SAVE" file names the mode and group saved last.
        if (load(0, CameraParameterBuilder::kSaveGroup)) {
            const int mode = s.parameterMode;
            const int group = s.parameterGroup;
            if (!load(mode, group)) {
                s.parameterMode = std::max(mode, 0);
                s.parameterGroup = std::max(group, 0);
            }
        } else {
            mParamBuilder.SetDefault(&m_param);
            ApplyDeviceDefaults();
            s.parameterMode = 0;
            s.parameterGroup = 0;
        }
    } else if (!load(paramMode, paramGroup)) {
        // The camera's defaults stay in force under the asked-for names.
        s.parameterMode = paramMode;
        s.parameterGroup = paramGroup;
    }
    if (!loaded.empty()) {
        ClampFileRecord(m_param);
        for (int c = 0; c < 3; ++c) mIsp.StoreCustomCurve(c, luts[c]);
    }
    return loaded;
}

void CameraControl::ApplyInitOptions(const CameraInitOption& o) {
    if (o.frameSpeed >= 0) m_param.settings.frameSpeed = o.frameSpeed;
    if (o.transferMode >= 0) m_param.transferMode = o.transferMode;
    if (o.mediaType >= 0) m_param.sensorOutFormat = static_cast<uint32_t>(o.mediaType);
    if (o.triggerMode >= 0) m_param.settings.triggerMode = o.triggerMode;
    if (o.packetSize > 0) m_param.packetSize = o.packetSize;
    if (o.channelMask > 0) ChannelMask() = o.channelMask;
    if (o.frameCount > 0) m_optFrameCount = o.frameCount;
    if (o.heartbeat > 0) m_optHeartbeat = o.heartbeat;
}

void CameraControl::StartPipeline() {
    stImageInfo info{};
    if (GetImageInfo(&info) == CAMERA_STATUS_SUCCESS) m_sensorMediaType = info.uiMediaType;
    LoadPipeline();
    // Read and handed on in one hold, as every other reader of the frame time does.
    const DeviceHold hold = HoldDevice();
    double frameTime = 0;
    if (GetFrameTime(&frameTime) == CAMERA_STATUS_SUCCESS) mExposure.SetFrameTime(frameTime);
}

int32_t CameraControl::FeatureWord(size_t capabilityOffset) const {
    int32_t word;
    std::memcpy(&word, m_featureWords + (capabilityOffset - kFeatureWordsOffset), sizeof word);
    return word;
}

void CameraControl::LoadPipeline() {
    // The statistics run on the raw frame of the current resolution: the stored windows go to
    // them mapped there, as every stream reopen sends them. Copied and mapped in one hold: the
    // setters change the settings without the API mutex.
    CameraSettings settings;
    int32_t bayerAlgMode = 0;
    {
        const DeviceHold hold = HoldDevice();
        settings = m_param.settings;
        bayerAlgMode = m_param.bayerAlgMode;
        int raw[4];
        if (MapStoredWindow(m_param.settings.aeWindow, m_param.aeWindowBlock,
                            CWindowGeometry::Cells::kExposure, raw))
            std::memcpy(settings.aeWindow, raw, sizeof raw);
        if (MapStoredWindow(m_param.settings.wbWindow, m_param.wbWindowBlock,
                            CWindowGeometry::Cells::kWhiteBalance, raw))
            std::memcpy(settings.wbWindow, raw, sizeof raw);
        // CameraGetCapability refreshes them without the API mutex; auto exposure is loaded in
        // the same hold, so that a refresh comes wholly before the load or wholly after it.
        SensorParam limits{};
        std::memcpy(&limits, m_capability.auSensorParam, sizeof m_capability.auSensorParam);
        mExposure.LoadParameter(limits, settings, 0);
    }
    const INT* gains = m_capability.aiGainRange;
    mWb.LoadParameter(settings, FeatureWord(kAutoWbWord), FeatureWord(kOnceWbWord),
                      static_cast<uint32_t>(gains[0]), static_cast<uint32_t>(gains[1]),
                      static_cast<uint32_t>(gains[2]), static_cast<uint32_t>(gains[3]),
                      static_cast<uint32_t>(gains[4]), static_cast<uint32_t>(gains[5]));
    const auto* cameraMgr = dynamic_cast<const JNCameraMgr*>(m_manager);
    mIsp.LoadParameter(
        settings, FeatureWord(kMonoWord), bayerAlgMode, m_sensorMediaType,
        cameraMgr != nullptr ? cameraMgr->GetProcessLevel() : JNCameraMgr::kProcessLevel);
}

// ---- Release ---------------------------------------------------------------------------------

int CameraControl::CameraUninit() {
    ApiLock lock(m_apiMutex);
    if (m_deviceLostTimer != nullptr) {
        // The task only tries the API mutex, so removing it here cannot wait on us.
        CTimerMng::GetInstance()->RemoveTimer(m_deviceLostTimer);
        m_deviceLostTimer = nullptr;
    }
    StopCaptureThread(lock);
    m_playing = false;
    {
        // An open recording is finished, so that its file plays.
        std::lock_guard<std::mutex> record(m_recordMutex);
        FinishRecording();
    }
    // Without a pool no stream was ever opened (the initialisation stopped before it).
    if (m_frameBucket) {
        SetIntValue(13, 0);
        CloseCameraStream();
    }
    FreeFrameBuffers();
    ReleaseDisplay();
    UnregisterKeepAlive(this);
    Detach();
    {
        // The dead-pixel calls and the frame statistics hold only the device mutex.
        const DeviceHold hold = HoldDevice();
        m_deadPixels.clear();
        m_deadPixels.shrink_to_fit();
        if (m_frameBucket) {
            if (m_bucketClient != nullptr) m_frameBucket->DestroyBucketClient(m_bucketClient);
            m_bucketClient = nullptr;
            m_frameBucket.reset();
        }
    }
    m_initialized = false;
    lock.unlock();
    qv::Log("CameraUninit finish\n");
    return CAMERA_STATUS_SUCCESS;
}

// ---- Test seams --------------------------------------------------------------------------------

CameraParameter CameraControl::GetParameterRecord() {
    ApiLock lock(m_apiMutex);
    return RecordCopy();
}

tSdkResolution CameraControl::GetCurrentResolution() {
    ApiLock lock(m_apiMutex);
    const DeviceHold hold = HoldDevice();
    return m_curResolution;
}

int CameraControl::GetPendingSoftTriggers() {
    ApiLock lock(m_apiMutex);
    return m_pendingTriggers;
}

bool CameraControl::IsSoftTriggerEmulated() {
    ApiLock lock(m_apiMutex);
    return m_softTriggerEmulation;
}
