#include "control/AeLimits.h"

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

void FollowAeLimits(CameraSettings& s, const SensorParam& before, const SensorParam& now,
                    bool timed, double lineTime) {
    UnsetWholeAeLimits(s, before, timed, lineTime);
    ClampAeLimits(s, now, timed, lineTime);
}

void UnsetWholeAeLimits(CameraSettings& s, const SensorParam& before, bool timed, double lineTime) {
    if (s.aeAnalogGainMin == before.analogGainMin && s.aeAnalogGainMax == before.analogGainMax)
        s.aeAnalogGainMin = s.aeAnalogGainMax = UINT32_MAX;  // negative as int32
    // Compared as the clamp computes the whole range, at the same line time.
    if (timed && s.aeExposureMin == before.expLinesMin * lineTime &&
        s.aeExposureMax == before.expLinesMax * lineTime)
        s.aeExposureMin = s.aeExposureMax = -1;
}

}  // namespace qv::control
