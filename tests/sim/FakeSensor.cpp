#include "FakeSensor.h"

namespace qvsim {

CFakeSensor::CFakeSensor(SensorTypeE type, imginf* inf) : SensorInf(type, inf) {
    info.type = type;
    capability.supportMediaType = {CAMERA_MEDIA_TYPE_MONO8};
}

void CFakeSensor::SetResult(const std::string& op, int result) {
    std::lock_guard lock(m_mutex);
    m_results[op] = result;
}

std::vector<std::string> CFakeSensor::CallNames() {
    std::lock_guard lock(m_mutex);
    return m_calls;
}

int CFakeSensor::Rec(const char* op) {
    std::lock_guard lock(m_mutex);
    m_calls.emplace_back(op);
    auto it = m_results.find(op);
    return it == m_results.end() ? 0 : it->second;
}

int CFakeSensor::Reset() {
    return Rec("Reset");
}
int CFakeSensor::Init(CameraInitParam* p) {
    (void)p;
    const int r = Rec("Init");
    if (r != CAMERA_STATUS_SUCCESS) return r;
    return onInit ? onInit(*m_inf) : CAMERA_STATUS_SUCCESS;
}
int CFakeSensor::Uninit() {
    return Rec("Uninit");
}
int CFakeSensor::SetAuxValue(int value) {
    (void)value;
    return Rec("SetAuxValue");
}
int CFakeSensor::GetLineTime(int* ns) {
    const int r = Rec("GetLineTime");
    std::lock_guard lock(m_mutex);
    if (r == CAMERA_STATUS_SUCCESS && ns != nullptr) *ns = static_cast<int>(m_lineTimeUs * 1000);
    return r;
}
int CFakeSensor::SetExposureLines(uint32_t lines) {
    const int r = Rec("SetExposureLines");
    std::lock_guard lock(m_mutex);
    if (r == CAMERA_STATUS_SUCCESS) m_exposureUs = lines * m_lineTimeUs;
    return r;
}
int CFakeSensor::SetExposure(double us) {
    const int r = Rec("SetExposure");
    std::lock_guard lock(m_mutex);
    if (r == CAMERA_STATUS_SUCCESS) m_exposureUs = us;
    return r;
}
int CFakeSensor::GetExposure(double* us) {
    const int r = Rec("GetExposure");
    std::lock_guard lock(m_mutex);
    if (r == CAMERA_STATUS_SUCCESS && us != nullptr) *us = m_exposureUs;
    return r;
}
int CFakeSensor::GetExposureLineTime(double* us) {
    const int r = Rec("GetExposureLineTime");
    std::lock_guard lock(m_mutex);
    if (r == CAMERA_STATUS_SUCCESS && us != nullptr) *us = m_lineTimeUs;
    return r;
}
int CFakeSensor::GetFrameTime(double* us) {
    const int r = Rec("GetFrameTime");
    if (r == CAMERA_STATUS_SUCCESS && us != nullptr) *us = 33333.0;
    return r;
}
int CFakeSensor::SetFrameSpeed(int speed) {
    const int r = Rec("SetFrameSpeed");
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (speed < 0 || speed > 2) return CAMERA_STATUS_PARAMETER_INVALID;
    std::lock_guard lock(m_mutex);
    m_frameSpeed = speed;
    return r;
}
int CFakeSensor::GetFrameSpeed(int* speed) {
    const int r = Rec("GetFrameSpeed");
    std::lock_guard lock(m_mutex);
    if (r == CAMERA_STATUS_SUCCESS && speed != nullptr) *speed = m_frameSpeed;
    return r;
}
int CFakeSensor::GetAnalogGainRange(int* min, int* max) {
    const int r = Rec("GetAnalogGainRange");
    if (r == CAMERA_STATUS_SUCCESS) {
        if (min) *min = static_cast<int>(param.analogGainMin);
        if (max) *max = static_cast<int>(param.analogGainMax);
    }
    return r;
}
int CFakeSensor::SetAnalogGain(uint32_t gain) {
    const int r = Rec("SetAnalogGain");
    std::lock_guard lock(m_mutex);
    if (r == CAMERA_STATUS_SUCCESS) m_gain = static_cast<int>(gain);
    return r;
}
int CFakeSensor::GetAnalogGain(int* gain) {
    const int r = Rec("GetAnalogGain");
    std::lock_guard lock(m_mutex);
    if (r == CAMERA_STATUS_SUCCESS && gain != nullptr) *gain = m_gain;
    return r;
}
int CFakeSensor::SetBlackLevel(uint32_t level) {
    const int r = Rec("SetBlackLevel");
    std::lock_guard lock(m_mutex);
    if (r == CAMERA_STATUS_SUCCESS) m_blackLevel = static_cast<int>(level);
    return r;
}
int CFakeSensor::GetBlackLevel(int* level) {
    const int r = Rec("GetBlackLevel");
    std::lock_guard lock(m_mutex);
    if (r == CAMERA_STATUS_SUCCESS && level != nullptr) *level = m_blackLevel;
    return r;
}
int CFakeSensor::StreamOn() {
    return Rec("StreamOn");
}
int CFakeSensor::StreamOff() {
    return Rec("StreamOff");
}
int CFakeSensor::SetTriggerMode(int mode) {
    (void)mode;
    return Rec("SetTriggerMode");
}
int CFakeSensor::SoftTrigger() {
    return Rec("SoftTrigger");
}
int CFakeSensor::GetInfo(SensorInfo* out) {
    const int r = Rec("GetInfo");
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (out == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    *out = info;
    return CAMERA_STATUS_SUCCESS;
}
int CFakeSensor::GetSensorParam(SensorParam* out) {
    const int r = Rec("GetSensorParam");
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (out == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    *out = param;
    return CAMERA_STATUS_SUCCESS;
}
int CFakeSensor::GetImageInfo(stImageInfo* out) {
    const int r = Rec("GetImageInfo");
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (out == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    *out = imageInfo;
    return CAMERA_STATUS_SUCCESS;
}
int CFakeSensor::SetResolution(tSdkResolution* res) {
    const int r = Rec("SetResolution");
    std::lock_guard lock(m_mutex);
    if (r == CAMERA_STATUS_SUCCESS && res != nullptr) m_resolution = *res;
    return r;
}
int CFakeSensor::GetResolution(tSdkResolution* res) {
    const int r = Rec("GetResolution");
    std::lock_guard lock(m_mutex);
    if (r == CAMERA_STATUS_SUCCESS && res != nullptr) *res = m_resolution;
    return r;
}
void CFakeSensor::GetCapability(SensorCapability& cap) {
    Rec("GetCapability");
    cap = capability;
}

}  // namespace qvsim
