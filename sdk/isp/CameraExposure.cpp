#include "CameraExposure.h"

#include <algorithm>
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

void CameraExposure::TakeSensorLimits(const SensorParam& limits) {
    m_targetMin = limits.aeTargetMin;
    m_targetMax = limits.aeTargetMax;
    m_sensorGainMin = limits.analogGainMin;
    m_sensorGainMax = limits.analogGainMax;
    m_linesMin = limits.expLinesMin;
    m_linesMax = limits.expLinesMax;
}

int CameraExposure::LoadParameter(const SensorParam& limits, const CameraSettings& settings,
                                  int blackOffset) {
    Lock lock(m_mutex);
    TakeSensorLimits(limits);

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

    // The AE gain range starts as the sensor's whole range at every load: the range the
    // parameter group keeps is the host's record of its last request, and a range set with
    // CameraSetAeAnalogGainRange holds until the next load.
    s.aeGainMin = m_sensorGainMin;
    s.aeGainMax = m_sensorGainMax;

    LoadSettings(s);
    m_brightness = 128;
    m_wbGains[0] = m_wbGains[1] = m_wbGains[2] = 100;
    m_avgCount = 0;
    m_frameCounter = m_frameInterval;  // the first processed frame is measured
    return 0;
}

int CameraExposure::SetSensorLimits(const SensorParam& limits) {
    bool whole = false;
    {
        Lock lock(m_mutex);
        whole = m_pending.aeGainMin == m_sensorGainMin && m_pending.aeGainMax == m_sensorGainMax;
    }
    return SetSensorLimits(limits, whole);
}

int CameraExposure::SetSensorLimits(const SensorParam& limits, bool whole) {
    Lock lock(m_mutex);
    TakeSensorLimits(limits);
    uint32_t lo = std::max(m_pending.aeGainMin, m_sensorGainMin);
    uint32_t hi = std::min(m_pending.aeGainMax, m_sensorGainMax);
    // A range with nothing left on the sensor's is its whole range, as at a load.
    if (whole || lo > hi) {
        lo = m_sensorGainMin;
        hi = m_sensorGainMax;
    }
    if (lo != m_pending.aeGainMin || hi != m_pending.aeGainMax) {
        m_pending.aeGainMin = lo;
        m_pending.aeGainMax = hi;
        m_dirty = kDirtyGainRange;
    }
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
    Lock lock(m_mutex);
    ApplyPending();
    if (info == nullptr) return 0;
    m_curGain = info->Gain;
    m_lineTime = info->ExpLineTime;
    m_curExposure = ExposureLinesOf(*info);
    uint32_t lines = m_curExposure;
    uint32_t newGain = m_curGain;

    const int c = m_frameCounter;
    ++m_frameCounter;
    if (c >= m_frameInterval) {
        if (m_active.aeState == 1) {
            Measure(raw, *info, statisticsMethod, true);
            // Without a line time there is no exposure in lines, and without a gain no step in
            // gain: nothing is asked of the device for such a frame.
            if (m_lineTime > 0 && m_curGain != 0) {
                Step();
                ApplyStep(&lines, &newGain);
            }
        } else {
            Measure(raw, *info, statisticsMethod, false);
            m_frameCounter = 0;
        }
    }
    if (exposureLines != nullptr) *exposureLines = lines;
    if (gain != nullptr) *gain = newGain;
    return 0;
}

// ---- Measurement -------------------------------------------------------------------------------

void CameraExposure::Measure(const uint8_t* raw, const stImageInfo& info, int method,
                             bool averaged) {
    uint8_t measured = 0;
    int r = 0;
    switch (method) {
        case kStatMean:
            r = StatisticsMean(raw, &info, &measured);
            break;
        case kStatHistogram:
            r = m_active.windowEnabled ? StatisticsHistWindow(raw, &info, &measured)
                                       : StatisticsHist(raw, &info, &measured);
            break;
        case kStatZones:
            r = StatisticsZone(raw, &info, 0, &measured);
            break;
        default:
            break;  // no method: the frame measures 0
    }
    if (r != 0) return;
    m_brightness = averaged ? MovingAverage(measured) : measured;
}

uint8_t CameraExposure::MovingAverage(uint8_t measurement) {
    if (m_avgCount < 4) {
        m_history[m_avgCount++] = measurement;
    } else {
        for (int i = 0; i < 3; ++i) m_history[i] = m_history[i + 1];
        m_history[3] = measurement;
    }
    int sum = 0;
    for (int i = 0; i < m_avgCount; ++i) sum += m_history[i];
    return static_cast<uint8_t>(sum / m_avgCount);
}

// ---- The step ----------------------------------------------------------------------------------

namespace {

// Brightness within this of the target holds the exposure.
constexpr int kHoldBand = 10;
// One step changes the exposure (or gain) by at most this factor of itself.
constexpr double kMaxRelativeStep = 2.0;
constexpr uint32_t kUnityGain = 1000;

uint32_t ToU32(double v) {
    if (!(v > 0.0)) return 0;
    if (v >= static_cast<double>(std::numeric_limits<uint32_t>::max()))
        return std::numeric_limits<uint32_t>::max();
    return static_cast<uint32_t>(v);
}

}  // namespace

bool CameraExposure::AntiFlickerActive() const {
    return m_active.antiFlick == 1 && m_active.lightFrequency != 0;
}

uint32_t CameraExposure::MaxLines() const {
    const Settings& a = m_active;
    const double limit =
        a.exposureMode == 1 || a.exposureMax == -1 ? a.frameTimeLimit : a.exposureMax;
    return ToU32(std::trunc(limit / m_lineTime + 0.5));
}

uint32_t CameraExposure::MinLines() const {
    const Settings& a = m_active;
    if (a.exposureMode == 1) {
        if (a.frameTimeLimit < 1.0) return ToU32(std::trunc(a.frameTimeLimit / m_lineTime + 0.5));
        return 1;
    }
    if (a.exposureMin != -1 && a.exposureMin > m_lineTime)
        return ToU32(std::trunc(a.exposureMin / m_lineTime + 0.5));
    return 1;
}

double CameraExposure::WholeQuanta(double x) const {
    const double n = std::trunc(x * m_lineTime / m_flickerQuantum);
    return n == 0 ? x : std::trunc(n * m_flickerQuantum / m_lineTime);
}

void CameraExposure::Step() {
    const int d = static_cast<int>(m_active.aeTarget) - static_cast<int>(m_brightness);
    const int magnitude = d < 0 ? -d : d;
    double relative;
    if (m_brightness == 0) {
        m_brightness = 1;
        relative = magnitude;
    } else {
        relative = static_cast<double>(magnitude) / m_brightness;
    }
    const double s = std::min(kMaxRelativeStep, relative);
    if (d > kHoldBand || d < -kHoldBand) {
        // A new exposure: the history belongs to the old one, and the frame after this one
        // still shows the old exposure, so it is not evaluated.
        m_avgCount = 0;
        m_frameCounter = m_frameInterval - 1;
        if (d > 0)
            StepUp(s);
        else
            StepDown(s);
    } else {
        m_frameCounter = 0;
        m_newExposure = m_curExposure;
        m_newGain = m_curGain;
    }
}

void CameraExposure::StepUp(double s) {
    const double L = m_curExposure, G = m_curGain;
    const double lmax = MaxLines();
    if (L >= lmax) {
        m_newExposure = m_curExposure;
        m_newGain = ToU32(std::trunc(G + s * G));
        return;
    }
    // Exposure first: it costs no noise.
    const double wanted = std::trunc(L + std::max(1.0, L * s));
    double taken;
    if (wanted > lmax)
        taken = AntiFlickerActive() ? std::min(lmax, WholeQuanta(wanted)) : lmax;
    else
        taken = AntiFlickerActive() && wanted * m_lineTime > m_flickerQuantum ? WholeQuanta(wanted)
                                                                              : wanted;
    // What the exposure could not take goes to the gain.
    const double rest = s - s * (taken - L) / (wanted - L);
    m_newExposure = ToU32(taken);
    m_newGain = rest > 0 ? ToU32(std::trunc(G + rest * G)) : m_curGain;
}

void CameraExposure::StepDown(double s) {
    const double L = m_curExposure, G = m_curGain;
    // Gain first: lowering it also lowers the noise.
    const double wanted = std::max(0.0, G - s * G);
    const double gainMin = m_active.aeGainMin;
    if (wanted >= gainMin) {
        m_newGain = ToU32(std::trunc(wanted));
        m_newExposure = m_curExposure;
        return;
    }
    m_newGain = m_active.aeGainMin;
    const double rest = s - s * (G - gainMin) / (G - wanted);
    const uint32_t lmin = MinLines();
    if (rest <= 0) {
        m_newExposure = m_curExposure;
    } else if (m_curExposure <= lmin) {
        m_newExposure = lmin;
    } else {
        double e = std::trunc(L - rest * L);
        if (AntiFlickerActive() && (e < lmin || e * m_lineTime > m_flickerQuantum))
            e = WholeQuanta(e);
        m_newExposure = std::max(lmin, ToU32(e));
    }
}

void CameraExposure::ApplyStep(uint32_t* exposureLines, uint32_t* gain) {
    const bool antiFlicker = AntiFlickerActive();
    const double T = m_lineTime, q = m_flickerQuantum;
    const double L = m_curExposure, G = m_curGain;
    double lmax = MaxLines();

    // The limit came down below the exposure in force: back under it first.
    if (L > lmax) {
        double out = lmax;
        if (antiFlicker && m_active.frameTimeLimit > q) {
            const double n = std::trunc(lmax * T / q);
            if (n > 0) out = std::trunc(n * q / T + 0.5);
        }
        *exposureLines = ToU32(out);
        return;
    }
    if (antiFlicker && lmax * T > q) lmax = WholeQuanta(lmax);

    const double gainMax = m_active.aeGainMax;
    double exposure = m_newExposure;
    double outGain = G;
    if (L < lmax && G > kUnityGain) {
        // A gain above unity while the exposure has room: the gain becomes exposure, at once.
        const double F = std::trunc(G / kUnityGain);
        const double X = std::trunc(L * F + L + 0.5);
        double traded;
        if (X > lmax) {
            exposure = lmax;
            traded = std::max<double>(kUnityGain, std::trunc((F - (lmax - L) / L) * kUnityGain));
        } else {
            exposure = std::max<double>(m_newExposure, X);
            traded = kUnityGain;
        }
        outGain = std::min(traded, gainMax);
    } else {
        exposure = std::min<double>(exposure, lmax);
        const double G2 = m_newGain;
        if (G2 != G) {
            // Half the way, so that a frame taken between two settings is not overshot.
            outGain = std::min(std::trunc(G + (G2 - G) / 2), gainMax);
            if (std::trunc(G + (G2 - G) / 2) == G) outGain = std::min(G2, gainMax);
            m_curGain = ToU32(outGain);
        }
        if (exposure != L) {
            const double h = std::trunc((exposure - L) / 2);
            if (h != 0 && G2 == outGain) exposure = L + h;
        }
    }
    // With anti-flicker, an exposure longer than one quantum goes down to whole quanta.
    if (antiFlicker && exposure * T > q) {
        const double n = std::trunc(exposure * T / q + 0.5);
        const double whole = std::trunc(n * q / T + 0.5);
        if (whole < exposure && whole <= lmax) exposure = whole;
    }
    *exposureLines = ToU32(exposure);
    *gain = ToU32(outGain);
    m_curExposure = *exposureLines;
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
    // A range with nothing on the sensor's would step the gain between a minimum above its
    // maximum.
    minGain = std::max(minGain, m_sensorGainMin);
    maxGain = std::min(maxGain, m_sensorGainMax);
    if (maxGain < minGain) return -6;
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
