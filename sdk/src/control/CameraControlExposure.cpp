// CameraControl: the exposure and white-balance settings. Each one is kept in the parameter
// record; auto exposure and auto white balance take theirs as pending values at the next
// processed frame, while the exposure time, the analog gain and the AE target of a camera that
// runs its own exposure control reach the device at once.
//
// None of these takes the API mutex (a host may set the exposure while another of its threads
// waits for a frame). The pipeline objects guard their pending values; the record fields and
// the sensor limits are read and written under the device mutex, which is also held across a
// device setting and its record field, so that a stream open, which sends the record under it,
// and the per-frame auto exposure see the two agree.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

#include "control/CameraControl.h"
#include "control/SettingRules.h"
#include "common/Log.h"

using namespace qv::control;

namespace {

constexpr int kExposureModeFrameTime = 1;  // the exposure maximum is the frame time
// A one-push white balance gets the next processed frame; the host waits at most this long.
constexpr auto kOnceWbWait = std::chrono::seconds(1);

// An exposure limit in microseconds cut to whole microseconds as an unsigned 32-bit value
// (saturating: a line time from a damaged device must not make the cut undefined).
double CutToU32(double us) {
    if (!(us > 0.0)) return 0.0;
    if (us >= static_cast<double>(std::numeric_limits<uint32_t>::max()))
        return static_cast<double>(std::numeric_limits<uint32_t>::max());
    return std::trunc(us);
}

}  // namespace

// ---- Auto exposure on/off and target ------------------------------------------------------------

int CameraControl::CameraSetAeState(int on) {
    mExposure.CE_CameraSetAeState(on);
    {
        const DeviceHold hold = HoldDevice();
        m_param.settings.aeState = on;
    }
    qv::Log("CameraSetAeState  %d\n", on);
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetAeState(uint8_t* on) {
    const DeviceHold hold = HoldDevice();
    if (on != nullptr) *on = m_param.settings.aeState != 0 ? 1 : 0;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSetAeTarget(int target) {
    if (!m_initialized) return CAMERA_STATUS_NOT_INITIALIZED;
    if (!m_devParamValid) return CAMERA_STATUS_FAILED;
    DeviceHold hold = HoldDevice();
    const uint32_t t =
        AeTargetInRange(target, SensorLimit(kAeTargetMinWord), SensorLimit(kAeTargetMaxWord));
    if (FeatureWord(kAeTargetWord) != 0) {
        SetAeTarget(static_cast<int>(t));
        m_param.settings.aeTarget = static_cast<int32_t>(t);
    } else {
        m_param.settings.aeTarget = static_cast<int32_t>(t);
        hold.unlock();
        mExposure.CE_CameraSetAeTarget(t);
    }
    qv::Log("CameraSetAeTarget  %d\n", static_cast<int>(t));
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetAeTarget(uint16_t* target) {
    const DeviceHold hold = HoldDevice();
    if (target != nullptr) *target = static_cast<uint16_t>(m_param.settings.aeTarget & 0xFFFF);
    return CAMERA_STATUS_SUCCESS;
}

// ---- Manual gain and exposure ---------------------------------------------------------------

int CameraControl::CameraSetAnalogGain(int gain) {
    if (!m_initialized) return CAMERA_STATUS_NOT_INITIALIZED;
    if (!m_devParamValid) return CAMERA_STATUS_FAILED;
    uint32_t stored = 0;
    {
        const DeviceHold hold = HoldDevice();
        const uint32_t g = ClampToLimits(static_cast<uint32_t>(gain), SensorLimit(kGainMinWord),
                                         SensorLimit(kGainMaxWord));
        // Auto exposure owns the gain while it runs.
        if (m_param.settings.aeState != 0) return CAMERA_STATUS_PARAMETER_INVALID;
        SetAnalogGain(g);
        int readBack = 0;
        stored =
            GetAnalogGain(&readBack) == CAMERA_STATUS_SUCCESS ? static_cast<uint32_t>(readBack) : g;
        m_param.settings.analogGain = stored;
    }
    mExposure.RestartCount();
    qv::Log("CameraSetAnalogGain:%d\n", static_cast<int>(stored));
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetAnalogGain(int* gain) {
    if (gain == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    const DeviceHold hold = HoldDevice();
    if (GetAnalogGain(gain) != CAMERA_STATUS_SUCCESS)
        *gain = static_cast<int>(m_param.settings.analogGain);
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSetExposureTime(double us) {
    if (!m_initialized) return CAMERA_STATUS_NOT_INITIALIZED;
    if (!m_devParamValid) return CAMERA_STATUS_FAILED;
    double stored = us;
    {
        const DeviceHold hold = HoldDevice();
        if (m_param.settings.aeState != 0) return CAMERA_STATUS_PARAMETER_INVALID;
        SetExposure(us);
        double readBack = 0;
        if (GetExposure(&readBack) == CAMERA_STATUS_SUCCESS) stored = readBack;
        m_param.settings.exposureTime = stored;
    }
    mExposure.RestartCount();
    qv::Log("CameraSetExposureTime:%f\n", stored);
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetExposureTime(double* us) {
    if (us == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    const DeviceHold hold = HoldDevice();
    if (GetExposure(us) != CAMERA_STATUS_SUCCESS) *us = m_param.settings.exposureTime;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetExposureLineTime(double* us) {
    if (us == nullptr) return CAMERA_STATUS_FAILED;
    return GetExposureLineTime(us);
}

int CameraControl::CameraGetFrameTime(double* us) {
    double frameTime = 0;
    {
        // Read and handed on in one hold, as a stream reopen does with its own: a value read
        // before a reopen must not reach auto exposure after the reopen's.
        const DeviceHold hold = HoldDevice();
        if (GetFrameTime(&frameTime) == CAMERA_STATUS_SUCCESS)
            mExposure.SetFrameTime(frameTime);
        else
            frameTime = 0;  // unknown without a device; never handed to auto exposure
    }
    qv::Log("==CameraGetFrame==%f\n", frameTime);
    if (us != nullptr) *us = frameTime;
    return CAMERA_STATUS_SUCCESS;
}

// ---- Anti-flicker and exposure limits -----------------------------------------------------------

int CameraControl::CameraSetAntiFlick(int on) {
    mExposure.CE_CameraSetAntiFlick(on);
    const DeviceHold hold = HoldDevice();
    m_param.settings.antiFlick = on;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetAntiFlick(uint8_t* on) {
    const DeviceHold hold = HoldDevice();
    if (on != nullptr) *on = m_param.settings.antiFlick != 0 ? 1 : 0;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSetLightFrequency(int frequency) {
    mExposure.CE_CameraSetLightFrequency(frequency);
    const DeviceHold hold = HoldDevice();
    m_param.settings.lightFrequency = frequency;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetLightFrequency(int* frequency) {
    const DeviceHold hold = HoldDevice();
    if (frequency != nullptr) *frequency = m_param.settings.lightFrequency;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSetAeExposureMode(int mode) {
    if (!m_initialized) return CAMERA_STATUS_NOT_INITIALIZED;
    if (!m_devParamValid) return CAMERA_STATUS_FAILED;
    {
        const DeviceHold hold = HoldDevice();
        if (m_param.settings.aeState == 0) return CAMERA_STATUS_PARAMETER_INVALID;
    }
    mExposure.CE_CameraSetAeExposureMode(mode);
    {
        const DeviceHold hold = HoldDevice();
        m_param.settings.aeExposureMode = mode;
    }
    qv::Log("CameraSetAeExposureMode  mode:%d\n", mode);
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetAeExposureMode(int* mode) {
    const DeviceHold hold = HoldDevice();
    if (mode != nullptr) *mode = m_param.settings.aeExposureMode;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSetAeExposureRange(double minUs, double maxUs) {
    if (!m_initialized) return CAMERA_STATUS_NOT_INITIALIZED;
    if (!m_devParamValid) return CAMERA_STATUS_FAILED;
    {
        const DeviceHold hold = HoldDevice();
        if (m_param.settings.aeState == 0 || !(minUs <= maxUs))
            return CAMERA_STATUS_PARAMETER_INVALID;
        double lineTime = 0;
        const int r = GetExposureLineTime(&lineTime);
        if (r != CAMERA_STATUS_SUCCESS) return r;
        const double lo = CutToU32(SensorLimit(kLinesMinWord) * lineTime);
        const double hi = CutToU32(SensorLimit(kLinesMaxWord) * lineTime);
        if (maxUs < lo || minUs > hi) return CAMERA_STATUS_PARAMETER_INVALID;
        // A maximum beyond the sensor's is brought back to it and leaves the minimum as asked.
        if (maxUs <= hi)
            minUs = std::max(minUs, lo);
        else
            maxUs = hi;
        // Cut and stored in the hold that read the limits: a capability refresh between would
        // be undone, and the record and auto exposure get the range in the same order as the
        // refresh gives them its own.
        mExposure.CE_CameraSetAeExposureRange(minUs, maxUs);
        m_param.settings.aeExposureMin = minUs;
        m_param.settings.aeExposureMax = maxUs;
        m_heldAe.exposure = false;
    }
    qv::Log("CameraSetAeExposureRange  min:%f,max:%f\n", minUs, maxUs);
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetAeExposureRange(double* minUs, double* maxUs) {
    const DeviceHold hold = HoldDevice();
    const CameraSettings& s = m_param.settings;
    double lo = s.aeExposureMin, hi = s.aeExposureMax;
    if (s.aeExposureMode == kExposureModeFrameTime) {
        double frameTime = 0, lineTime = 0;
        if (GetFrameTime(&frameTime) == CAMERA_STATUS_SUCCESS) hi = frameTime;
        if (GetExposureLineTime(&lineTime) == CAMERA_STATUS_SUCCESS) lo = lineTime;
    } else if (lo == -1 || hi == -1) {
        stImageInfo head{};
        if (GetImageInfo(&head) == CAMERA_STATUS_SUCCESS) {
            if (lo == -1) lo = SensorLimit(kLinesMinWord) * head.ExpLineTime;
            if (hi == -1) hi = SensorLimit(kLinesMaxWord) * head.ExpLineTime;
        }
    }
    if (minUs != nullptr) *minUs = lo;
    if (maxUs != nullptr) *maxUs = hi;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSetAeAnalogGainRange(int minGain, int maxGain) {
    if (!m_initialized) return CAMERA_STATUS_NOT_INITIALIZED;
    if (!m_devParamValid) return CAMERA_STATUS_FAILED;
    int64_t lo = minGain, hi = maxGain;
    {
        const DeviceHold hold = HoldDevice();
        // Both ends onto the sensor's range before they are compared: a range that leaves
        // nothing of it (wholly above or below, or inverted once cut) would have auto exposure
        // drive the gain to a minimum above its maximum, or never raise it.
        lo = std::max<int64_t>(lo, SensorLimit(kGainMinWord));
        hi = std::min<int64_t>(hi, SensorLimit(kGainMaxWord));
        if (hi < lo) return CAMERA_STATUS_PARAMETER_INVALID;
        // Checked before anything is stored, so a refused range leaves the record as it was.
        if (m_param.settings.aeState == 0) return CAMERA_STATUS_PARAMETER_INVALID;
        // Under the hold, so that the record and auto exposure get the range in the same order
        // as other setters of it.
        if (mExposure.CE_CameraSetAeAnalogGainRange(static_cast<uint32_t>(lo),
                                                    static_cast<uint32_t>(hi)) != 0)
            return CAMERA_STATUS_PARAMETER_INVALID;
        m_param.settings.aeAnalogGainMin = static_cast<uint32_t>(lo);
        m_param.settings.aeAnalogGainMax = static_cast<uint32_t>(hi);
        m_heldAe.gain = false;
    }
    qv::Log("CameraSetAeAnalogGainRange  min:%d,max:%d\n", static_cast<int>(lo),
            static_cast<int>(hi));
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetAeAnalogGainRange(int* minGain, int* maxGain) {
    const DeviceHold hold = HoldDevice();
    if (minGain != nullptr) *minGain = static_cast<int>(m_param.settings.aeAnalogGainMin);
    if (maxGain != nullptr) *maxGain = static_cast<int>(m_param.settings.aeAnalogGainMax);
    return CAMERA_STATUS_SUCCESS;
}

// ---- White balance --------------------------------------------------------------------------

int CameraControl::CameraSetWbMode(int automatic) {
    mWb.CWB_CameraSetWbMode(automatic);
    {
        const DeviceHold hold = HoldDevice();
        m_param.settings.wbMode = automatic;
    }
    qv::Log("CameraSetWbMode  %d\n", automatic);
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetWbMode(uint8_t* automatic) {
    const DeviceHold hold = HoldDevice();
    if (automatic != nullptr) *automatic = m_param.settings.wbMode != 0 ? 1 : 0;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSetGain(int red, int green, int blue) {
    const DeviceHold hold = HoldDevice();
    // Auto white balance owns the gains while it runs.
    if (m_param.settings.wbMode != 0) return CAMERA_STATUS_PARAMETER_INVALID;
    const int gains[3] = {red, green, blue};
    const INT* ranges = m_capability.aiGainRange;
    for (int c = 0; c < 3; ++c)
        m_param.settings.rgbGain[c] = RgbGainInRange(gains[c], ranges + 2 * c);
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetGain(uint16_t* red, uint16_t* green, uint16_t* blue) {
    const DeviceHold hold = HoldDevice();
    uint16_t* out[3] = {red, green, blue};
    for (int c = 0; c < 3; ++c)
        if (out[c] != nullptr) *out[c] = static_cast<uint16_t>(m_param.settings.rgbGain[c]);
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSetOnceWB() {
    bool wait = false;
    {
        const DeviceHold hold = HoldDevice();
        if (FeatureWord(kOnceWbWord) == 0) return CAMERA_STATUS_NOT_SUPPORTED;
        if (m_param.settings.wbMode != 0) return CAMERA_STATUS_PARAMETER_INVALID;
        wait = m_param.settings.triggerMode == TRIGGER_MODE_CONTINUOUS;
    }
    std::unique_lock onceLock(m_onceWbMutex);
    mWb.CWB_CameraSetOnceWB();
    if (!wait) return CAMERA_STATUS_SUCCESS;
    // One wait, whatever ends it: the call does not report whether a frame came.
    m_aeAwbDone.wait_until(onceLock, std::chrono::system_clock::now() + kOnceWbWait);
    return CAMERA_STATUS_SUCCESS;
}
