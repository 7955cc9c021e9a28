#include "control/AeLimits.h"

#include <algorithm>

namespace qv::control {

void ClampAeLimits(CameraSettings& s, const SensorParam& sensor, bool timed, double lineTime) {
    // Stored gain limits are unsigned in the record; a value that reads negative as int32 was
    // never set.
    if (static_cast<int32_t>(s.aeAnalogGainMax) < 0 || s.aeAnalogGainMax > sensor.analogGainMax)
        s.aeAnalogGainMax = sensor.analogGainMax;
    if (static_cast<int32_t>(s.aeAnalogGainMin) < 0 || s.aeAnalogGainMin < sensor.analogGainMin)
        s.aeAnalogGainMin = sensor.analogGainMin;
    // A pair the range setters would refuse (minimum above maximum, e.g. a minimum above a
    // maximum the sensor has since lowered) is the sensor's whole range; for the exposure "not
    // set", which the sensor's limits replace.
    if (s.aeAnalogGainMin > s.aeAnalogGainMax) {
        s.aeAnalogGainMin = sensor.analogGainMin;
        s.aeAnalogGainMax = sensor.analogGainMax;
    }
    const double maxUs = sensor.expLinesMax * lineTime;
    const double minUs = sensor.expLinesMin * lineTime;
    if (timed) {
        if (s.aeExposureMax < 0 || s.aeExposureMax > maxUs) s.aeExposureMax = maxUs;
        if (s.aeExposureMin < 0 || s.aeExposureMin < minUs) s.aeExposureMin = minUs;
    }
    if (s.aeExposureMin > s.aeExposureMax) {
        s.aeExposureMin = timed ? minUs : -1;
        s.aeExposureMax = timed ? maxUs : -1;
    }
}

void FollowAeLimits(CameraSettings& s, HeldAeRanges& held, const SensorParam& before,
                    const SensorParam& now, bool timed, double lineTime) {
    UnsetWholeAeLimits(s, held, before, timed, lineTime);
    SettleHeldAeLimits(s, held, now, timed, lineTime);
    ClampAeLimits(s, now, timed, lineTime);
}

void UnsetWholeAeLimits(CameraSettings& s, HeldAeRanges& held, const SensorParam& before,
                        bool timed, double lineTime) {
    // An end never set is the sensor's, as the clamp makes it.
    const auto gainEnd = [](uint32_t v, uint32_t whole) {
        return static_cast<int32_t>(v) < 0 || v == whole;
    };
    const bool gainWhole = !held.gain && gainEnd(s.aeAnalogGainMin, before.analogGainMin) &&
                           gainEnd(s.aeAnalogGainMax, before.analogGainMax);
    if (gainWhole) s.aeAnalogGainMin = s.aeAnalogGainMax = UINT32_MAX;  // negative as int32
    held.gain = !gainWhole;
    // Without a line time the clamp leaves the exposure range as it is.
    if (!timed) return;
    // Compared as the clamp computes the whole range, at the same line time.
    const auto exposureEnd = [](double v, double whole) { return v < 0 || v == whole; };
    const bool exposureWhole = !held.exposure &&
                               exposureEnd(s.aeExposureMin, before.expLinesMin * lineTime) &&
                               exposureEnd(s.aeExposureMax, before.expLinesMax * lineTime);
    if (exposureWhole) s.aeExposureMin = s.aeExposureMax = -1;
    held.exposure = !exposureWhole;
}

void SettleHeldAeLimits(const CameraSettings& s, HeldAeRanges& held, const SensorParam& now,
                        bool timed, double lineTime) {
    // Ends never set are the sensor's, as the clamp makes them.
    const auto gain = [](uint32_t v, uint32_t sensor) {
        return static_cast<int32_t>(v) < 0 ? sensor : v;
    };
    if (held.gain && std::max(gain(s.aeAnalogGainMin, now.analogGainMin), now.analogGainMin) >
                         std::min(gain(s.aeAnalogGainMax, now.analogGainMax), now.analogGainMax))
        held.gain = false;
    const double minUs = now.expLinesMin * lineTime, maxUs = now.expLinesMax * lineTime;
    const auto exposure = [](double v, double sensor) { return v < 0 ? sensor : v; };
    if (held.exposure && timed &&
        std::max(exposure(s.aeExposureMin, minUs), minUs) >
            std::min(exposure(s.aeExposureMax, maxUs), maxUs))
        held.exposure = false;
}

}  // namespace qv::control
