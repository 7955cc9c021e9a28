#include "CameraExposure.h"

#include <cmath>
#include <limits>

#include "control/CameraSettings.h"
#include "sensors/SensorInf.h"

namespace {

// Anti-flicker quanta: the light of a lamp on 50 Hz mains pulses at 100 Hz, one pulse every
// 10000 us; on 60 Hz mains every 8333 us (1e6 / 120, truncated).
constexpr double kQuantum50Hz = 10000.0;
constexpr double kQuantum60Hz = 8333.0;
// Until the controller reports the sensor's frame time, exposures may reach 200 ms.
constexpr double kDefaultFrameTimeUs = 200000.0;

}  // namespace

uint32_t CameraExposure::ExposureLinesOf(const stImageInfo& info) {
    if (!(info.ExpLineTime > 0.0)) return 0;
    const double lines = std::trunc(info.ExpTime / info.ExpLineTime + 0.5);
    if (!(lines > 0.0)) return 0;
    if (lines >= static_cast<double>(std::numeric_limits<uint32_t>::max()))
        return std::numeric_limits<uint32_t>::max();
    return static_cast<uint32_t>(lines);
}

CameraExposure::CameraExposure() = default;

CameraExposure::~CameraExposure() = default;

int CameraExposure::LoadParameter(const SensorParam& limits, const CameraSettings& settings,
                                  int blackOffset) {
    Lock lock(m_mutex);
    m_targetMin = limits.aeTargetMin;
    m_targetMax = limits.aeTargetMax;
    m_sensorGainMin = limits.analogGainMin;
    m_sensorGainMax = limits.analogGainMax;
    m_linesMin = limits.expLinesMin;
    m_linesMax = limits.expLinesMax;

    Settings s;
    s.aeState = settings.aeState;
    s.aeTarget = static_cast<uint16_t>(settings.aeTarget & 0xFFFF);
    s.exposureMode = settings.aeExposureMode;
    s.exposureMin = settings.aeExposureMin;
    s.exposureMax = settings.aeExposureMax;
    s.antiFlick = settings.antiFlick;
    s.lightFrequency = static_cast<uint8_t>(settings.lightFrequency);
    LoadWindow(s, settings.aeWindow);
    s.frameTimeLimit = kDefaultFrameTimeUs;
    s.blackOffset = blackOffset;
    if (s.antiFlick == 1) m_flickerQuantum = s.lightFrequency == 2 ? kQuantum60Hz : kQuantum50Hz;
    if (s.lightFrequency != 1 && s.lightFrequency != 2) s.lightFrequency = 1;

    // The AE gain range of the parameter group, brought into the sensor's range, so that a
    // saved range is in force after a load as the controller reports it. A group that holds no
    // usable range (maximum 0, or minimum above maximum) gets the sensor's full range.
    auto intoSensorRange = [&](uint32_t v) {
        if (v > m_sensorGainMax) v = m_sensorGainMax;
        if (v < m_sensorGainMin) v = m_sensorGainMin;
        return v;
    };
    s.aeGainMin = intoSensorRange(settings.aeAnalogGainMin);
    s.aeGainMax = intoSensorRange(settings.aeAnalogGainMax);
    if (settings.aeAnalogGainMax == 0 || s.aeGainMin > s.aeGainMax) {
        s.aeGainMin = m_sensorGainMin;
        s.aeGainMax = m_sensorGainMax;
    }

    LoadSettings(s);
    m_brightness = 128;
    m_wbGains[0] = m_wbGains[1] = m_wbGains[2] = 100;
    m_frameCounter = m_frameInterval;  // the first processed frame is measured
    return 0;
}

int CameraExposure::SetFrameTime(double frameTimeUs) {
    Lock lock(m_mutex);
    // Compared with both copies: a value equal to the active limit must still replace an
    // older pending one.
    if (frameTimeUs != m_active.frameTimeLimit || frameTimeUs != m_pending.frameTimeLimit) {
        m_pending.frameTimeLimit = frameTimeUs;
        m_dirty = kDirtyFrameTime;
    }
    return 0;
}

int CameraExposure::SetFrameInterval(int n) {
    Lock lock(m_mutex);
    m_frameInterval = n;
    return 0;
}

int CameraExposure::SetWbGains(uint32_t red, uint32_t green, uint32_t blue) {
    Lock lock(m_mutex);
    m_wbGains[0] = red;
    m_wbGains[1] = green;
    m_wbGains[2] = blue;
    return 0;
}

void CameraExposure::ApplyPending() {
    if (m_dirty == kDirtyNone) return;
    Settings& a = m_active;
    const Settings& p = m_pending;
    if (p.aeState != a.aeState) {
        a.aeState = p.aeState;
        m_frameCounter = m_frameInterval;  // measure the frame right away
    }
    a.aeTarget = p.aeTarget;
    ApplyPendingWindow();
    // Taken whatever the AE state, so the setting the host made is the one in force when auto
    // exposure runs.
    if (p.antiFlick != a.antiFlick) {
        a.antiFlick = p.antiFlick;
        if (a.antiFlick == 1)
            m_flickerQuantum = a.lightFrequency == 2 ? kQuantum60Hz : kQuantum50Hz;
    }
    if (p.lightFrequency != a.lightFrequency) {
        a.lightFrequency = p.lightFrequency;
        if (a.lightFrequency == 1) m_flickerQuantum = kQuantum50Hz;
        if (a.lightFrequency == 2) m_flickerQuantum = kQuantum60Hz;
    }
    a.frameTimeLimit = p.frameTimeLimit;
    a.blackOffset = p.blackOffset;
    a.aeGainMax = p.aeGainMax;
    a.aeGainMin = p.aeGainMin;
    a.exposureMax = p.exposureMax;
    a.exposureMin = p.exposureMin;
    a.exposureMode = p.exposureMode;
    m_dirty = kDirtyNone;
}

int CameraExposure::ProcessFrame(const stImageInfo* info, const uint8_t* raw, int statisticsMethod,
                                 uint32_t* exposureLines, uint32_t* gain) {
    (void)raw;
    (void)statisticsMethod;
    Lock lock(m_mutex);
    ApplyPending();
    if (info == nullptr) return 0;
    // The measurement and the exposure step are not built yet: every frame keeps the exposure
    // and the gain it was taken with, so the controller has nothing to program.
    if (exposureLines != nullptr) *exposureLines = ExposureLinesOf(*info);
    if (gain != nullptr) *gain = info->Gain;
    return 0;
}

int CameraExposure::GetBrightness(uint8_t* brightness) const {
    Lock lock(m_mutex);
    if (brightness != nullptr) *brightness = m_brightness;
    return 0;
}

int CameraExposure::GetFrameStatistics(uint8_t* red, uint8_t* green1, uint8_t* green2,
                                       uint8_t* blue) const {
    Lock lock(m_mutex);
    if (red != nullptr) *red = m_channelStats[0];
    if (green1 != nullptr) *green1 = m_channelStats[2];
    if (green2 != nullptr) *green2 = m_channelStats[3];
    if (blue != nullptr) *blue = m_channelStats[4];
    return 0;
}

int CameraExposure::RestartCount() {
    Lock lock(m_mutex);
    m_frameCounter = m_frameInterval;
    return 0;
}

int CameraExposure::CE_CameraSetAeState(int on) {
    return SetPending(&Settings::aeState, on, kDirtyAeState);
}

int CameraExposure::CE_CameraSetAeTarget(uint32_t target) {
    Lock lock(m_mutex);
    uint32_t t = target & 0xFFFF;
    if (t > m_targetMax)
        t = m_targetMax;
    else if (t < m_targetMin)
        t = m_targetMin;
    m_pending.aeTarget = static_cast<uint16_t>(t);
    m_dirty = kDirtyAeTarget;
    return 0;
}

int CameraExposure::CE_CameraSetAeWindow(int left, int top, int width, int height) {
    return SetPendingWindow(left, top, width, height, kDirtyAeWindow);
}

int CameraExposure::CE_CameraSetAntiFlick(int on) {
    return SetPending(&Settings::antiFlick, on, kDirtyAntiFlick);
}

int CameraExposure::CE_CameraSetLightFrequency(int frequency) {
    return SetPending(&Settings::lightFrequency, frequency, kDirtyLightFrequency);
}

int CameraExposure::CE_CameraSetAeExposureMode(int mode) {
    return SetPending(&Settings::exposureMode, mode, kDirtyExposureMode);
}

int CameraExposure::CE_CameraSetAeExposureRange(double minUs, double maxUs) {
    Lock lock(m_mutex);
    m_pending.exposureMin = minUs;
    m_pending.exposureMax = maxUs;
    m_dirty = kDirtyExposureRange;
    return 0;
}

int CameraExposure::CE_CameraSetAeAnalogGainRange(uint32_t minGain, uint32_t maxGain) {
    Lock lock(m_mutex);
    if (maxGain > m_sensorGainMax)
        maxGain = m_sensorGainMax;
    else if (minGain < m_sensorGainMin)
        minGain = m_sensorGainMin;
    m_pending.aeGainMin = minGain;
    m_pending.aeGainMax = maxGain;
    m_dirty = kDirtyGainRange;
    return 0;
}

int CameraExposure::SetBlackOffset(int offset) {
    return SetPending(&Settings::blackOffset, offset, kDirtyBlackOffset);
}

int CameraExposure::CE_CameraGetAeState() const {
    return GetActive(&Settings::aeState);
}

uint16_t CameraExposure::CE_CameraGetAeTarget() const {
    return GetActive(&Settings::aeTarget);
}

int CameraExposure::CE_CameraGetAeWindow(int* left, int* top, int* width, int* height) const {
    return GetWindow(left, top, width, height);
}

int CameraExposure::CE_CameraGetAntiFlick() const {
    return GetActive(&Settings::antiFlick);
}

int CameraExposure::CE_CameraGetLightFrequency() const {
    return GetActive(&Settings::lightFrequency);
}

int CameraExposure::CE_CameraGetAeExposureMode() const {
    return GetActive(&Settings::exposureMode);
}

int CameraExposure::CE_CameraGetAeExposureRange(double* minUs, double* maxUs) const {
    Lock lock(m_mutex);
    if (minUs != nullptr) *minUs = m_active.exposureMin;
    if (maxUs != nullptr) *maxUs = m_active.exposureMax;
    return 0;
}

int CameraExposure::CE_CameraGetAeAnalogGainRange(uint32_t* minGain, uint32_t* maxGain) const {
    Lock lock(m_mutex);
    if (minGain != nullptr) *minGain = m_active.aeGainMin;
    if (maxGain != nullptr) *maxGain = m_active.aeGainMax;
    return 0;
}

double CameraExposure::GetFrameTime() const {
    return GetActive(&Settings::frameTimeLimit);
}

int CameraExposure::GetFrameInterval() const {
    Lock lock(m_mutex);
    return m_frameInterval;
}
