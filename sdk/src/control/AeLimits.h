// The AE limits of a settings block (gain range, exposure range) against the sensor's limits:
// the clamp every reader of a record applies, and the rule by which they follow limits that a
// driver changed at run time. The controller reads the sensor and its line time; these only
// compute, so that a load can apply them where it cannot ask the device.
#pragma once

#include <cstdint>

#include "control/CameraSettings.h"
#include "sensors/SensorInf.h"

namespace qv::control {

// The sensor's limits a record was brought onto: the limit words, the exposure line time (when
// the sensor told it) and the controller's count of limit refreshes at that moment.
struct ClampedLimits {
    SensorParam sensor{};
    bool timed = false;
    double lineTime = 0;
    uint64_t refreshes = 0;
};

// Each AE limit within the sensor's (negative ones, "not set", become them; the exposure ones
// only with a line time); a minimum then above its maximum gives the sensor's whole range
// (for the exposure without a line time, "not set").
void ClampAeLimits(CameraSettings& s, const SensorParam& sensor, bool timed, double lineTime);

// Which AE ranges of a record are the host's own although they may equal the sensor's whole
// range: a range set (by the host or a file) narrower than the whole range of that moment, which
// a refresh has since cut, possibly to exactly the new whole range. Equality alone cannot tell
// such a range from a whole one; without these, a limit lowered and restored would widen it past
// the host's maximum. Cleared whenever a range is set or a record stored.
struct HeldAeRanges {
    bool gain = false;
    bool exposure = false;
};

// Limits that changed from before to now: a range that was the whole range before (the host
// set none, or the whole one, and held does not keep it) becomes the whole range now, so that a
// limit lowered and restored, raised or lowered is followed both ways; any other range is cut
// to the new limits and held, and one with nothing left on them becomes their whole range
// (ClampAeLimits) and is no longer held. Auto exposure's gain range follows by the same rule
// (CameraExposure::SetSensorLimits is told which ranges are whole).
void FollowAeLimits(CameraSettings& s, HeldAeRanges& held, const SensorParam& before,
                    const SensorParam& now, bool timed, double lineTime);
// Its first half, for a reader that clamps to the new limits itself: each range that is the
// whole range of before and not held is marked "not set", which the clamp replaces by the new
// whole range; the others become held.
void UnsetWholeAeLimits(CameraSettings& s, HeldAeRanges& held, const SensorParam& before,
                        bool timed, double lineTime);
// Its second half, before the clamp to now: a held range with nothing left on now becomes the
// whole range, so it is no longer held.
void SettleHeldAeLimits(const CameraSettings& s, HeldAeRanges& held, const SensorParam& now,
                        bool timed, double lineTime);

}  // namespace qv::control
