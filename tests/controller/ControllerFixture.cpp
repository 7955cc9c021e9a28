#include "ControllerFixture.h"

#include <cstring>
#include <thread>

namespace ctltest {

namespace {

tSdkResolution Preset(int index, uint32_t width, uint32_t height, uint32_t skip) {
    tSdkResolution r{};
    r.iIndex = index;
    std::snprintf(r.acDescription, sizeof r.acDescription, "%ux%u", width, height);
    r.uModeC = skip;
    r.iSensorWidth = 640;
    r.iSensorHeight = 480;
    r.uWidth = width;
    r.uHeight = height;
    return r;
}

}  // namespace

CameraProperty TestProperty() {
    CameraProperty p{};
    p.redGainRange[0] = p.greenGainRange[0] = p.blueGainRange[0] = 50;
    p.redGainRange[1] = p.greenGainRange[1] = p.blueGainRange[1] = 400;
    p.presetCount = 2;
    p.presetMaskLow = 0x3;
    p.outputIoCount = 4;
    p.inputIoCount = 2;
    p.bayerAlgMode = 2;
    p.writtenFlag = 1;
    CameraSettings& s = p.defaultSettings;
    s.exposureTime = 10000.0;
    s.analogGain = 1000;
    s.aeTarget = 120;
    s.aeExposureMin = -1;
    s.aeExposureMax = -1;
    s.lightFrequency = 1;
    s.rgbGain[0] = s.rgbGain[1] = s.rgbGain[2] = 100;
    s.triggerMode = TRIGGER_MODE_CONTINUOUS;
    s.resolutionIndex = 0;
    s.ispOutFormat = CAMERA_MEDIA_TYPE_MONO8;
    s.frameSpeed = 1;
    s.contrast = 50;
    s.saturation = 128;
    s.gamma = 100;
    s.contrastLut = 100;
    s.blackLevel = 5;
    return p;
}

tSdkCapability TestCapability() {
    tSdkCapability c{};
    for (int i = 0; i < 3; ++i) {
        c.aiGainRange[2 * i] = 50;
        c.aiGainRange[2 * i + 1] = 400;
    }
    c.uOutputIoCount = 4;
    c.uInputIoCount = 2;
    // AE target, analog gain, exposure lines, height, width ranges.
    const UINT sensor[10] = {16, 220, 1000, 16000, 1, 10000, 480, 8, 640, 8};
    std::memcpy(c.auSensorParam, sensor, sizeof sensor);
    return c;
}

DeviceMiscInfo TestMisc() {
    DeviceMiscInfo m{};
    std::snprintf(m.firmwareVersion, sizeof m.firmwareVersion, "v1.2.3.4");
    m.defaultRedGain = 150;
    m.defaultGreenGain = 100;
    m.defaultBlueGain = 180;
    m.defaultFrameSpeed = 2;
    return m;
}

CTestCamera::CTestCamera(const char* sn, const char* name, const char* symbolicName)
    : CFakeDevice(sn, name, symbolicName) {
    tDevInfo info = DeviceInfo();
    info.uDeviceId = kDeviceId;
    SetDeviceInfo(info);
    ScriptParameters();
}

void CTestCamera::ScriptParameters(int result, const std::function<void(CameraProperty&)>& edit,
                                   const std::function<void(tSdkCapability&)>& editCapability) {
    CameraProperty prop = TestProperty();
    if (edit) edit(prop);
    tSdkCapability cap = TestCapability();
    if (editCapability) editCapability(cap);
    const DeviceMiscInfo misc = TestMisc();
    ScriptDevParam(result, &cap, &prop, &misc);
}

void CTestCamera::SetMediaTypes(std::vector<uint32_t> types) {
    m_mediaTypes = std::move(types);
}

int CTestCamera::PushTestFrame(uint8_t fill, uint32_t frameNo) {
    std::vector<uint8_t> data(kWidth * kHeight, fill);
    stImageInfo info{};
    info.iWidth = kWidth;
    info.iHeight = kHeight;
    info.TotalBytes = kWidth * kHeight;
    info.uiMediaType = CAMERA_MEDIA_TYPE_MONO8;
    info.ExpTime = 10000.0;
    info.Gain = 1000;
    return PushFrame(data.data(), static_cast<uint32_t>(data.size()), info, frameNo, frameNo);
}

void CTestCamera::CountFrameTimeReads(std::function<void(double last)> check) {
    std::lock_guard lock(m_readsMutex);
    m_readCheck = std::move(check);
}

int CTestCamera::GetFrameTime(double* us) {
    const int r = Rec("GetFrameTime");
    if (r != CAMERA_STATUS_SUCCESS || us == nullptr) return r;
    std::lock_guard lock(m_readsMutex);
    if (m_readCheck) {
        const double last = m_frameTimeUs.load();
        m_readCheck(last);
        m_frameTimeUs.store(last + 1);
    }
    *us = m_frameTimeUs.load();
    return r;
}

void CTestCamera::SetSensorGainLimits(uint32_t min, uint32_t max) {
    m_gainMin.store(min);
    m_gainMax.store(max);
    {
        std::lock_guard lock(m_limitsLock);
        m_wholeLimits = false;
    }
    m_reportsLimits.store(true);
}

void CTestCamera::SetSensorLimits(const SensorParam& limits) {
    {
        std::lock_guard lock(m_limitsLock);
        m_limits = limits;
        m_wholeLimits = true;
    }
    m_reportsLimits.store(true);
}

void CTestCamera::SetSensorLineLimits(uint32_t min, uint32_t max) {
    m_linesMin.store(min);
    m_linesMax.store(max);
    m_reportsLimits.store(true);
}

int CTestCamera::GetSensorParam(SensorParam* param) {
    if (!m_reportsLimits.load()) return qvsim::CFakeDevice::GetSensorParam(param);
    if (param == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    {
        std::lock_guard lock(m_limitsLock);
        if (m_wholeLimits) {
            *param = m_limits;
            return CAMERA_STATUS_SUCCESS;
        }
    }
    SensorParam limits{};
    static_assert(sizeof m_sensorWords <= sizeof limits);
    {
        std::lock_guard lock(m_wordsMutex);
        if (m_wordsRead) {
            std::memcpy(&limits, m_sensorWords.data(), sizeof m_sensorWords);
        } else {
            const tSdkCapability capability = TestCapability();
            std::memcpy(&limits, capability.auSensorParam, sizeof capability.auSensorParam);
        }
    }
    if (m_gainMax.load() != 0) {
        limits.analogGainMin = m_gainMin.load();
        limits.analogGainMax = m_gainMax.load();
    }
    if (m_linesMax.load() != 0) {
        limits.expLinesMin = m_linesMin.load();
        limits.expLinesMax = m_linesMax.load();
    }
    *param = limits;
    return CAMERA_STATUS_SUCCESS;
}

int CTestCamera::SetWdrMode(int mode) {
    return Rec("SetWdrMode", {mode});
}

int CTestCamera::SetBlackLevel(uint32_t level) {
    return Rec("SetBlackLevel", {level});
}

int CTestCamera::SetAeTarget(int target) {
    return Rec("SetAeTarget", {target});
}

int CTestCamera::GetCameraDevParam(tSdkCapability* cap, tDevInfo* info, CameraProperty* prop,
                                   DeviceMiscInfo* misc) {
    const int r = CFakeDevice::GetCameraDevParam(cap, info, prop, misc);
    if (cap != nullptr) {
        {
            std::lock_guard lock(m_wordsMutex);
            std::memcpy(m_sensorWords.data(), cap->auSensorParam, sizeof m_sensorWords);
            m_wordsRead = true;
        }
        cap->iImageSizeDesc = 2;
        cap->pImageSizeDesc = new tSdkResolution[2]{Preset(0, 640, 480, 0), Preset(1, 320, 240, 1)};
        cap->iMediaTypeDesc = static_cast<INT>(m_mediaTypes.size());
        cap->pMediaTypeDesc = nullptr;
        if (!m_mediaTypes.empty()) {
            cap->pMediaTypeDesc = new tSdkBayerType[m_mediaTypes.size()]();
            for (size_t i = 0; i < m_mediaTypes.size(); ++i)
                cap->pMediaTypeDesc[i].uMediaType = m_mediaTypes[i];
        }
    }
    return r;
}

std::vector<std::string> CallsFrom(const qvsim::CFakeDevice& device, const std::string& from) {
    std::vector<std::string> out;
    bool started = false;
    for (const qvsim::FakeCall& call : device.Calls()) {
        if (call.name == from) started = true;
        if (!started) continue;
        out.push_back(call.name == "OpenStream" ? std::string("OpenStream") : call.ToString());
    }
    return out;
}

bool WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace ctltest
