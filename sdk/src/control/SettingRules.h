// What the setters of the controller take: the ranges and offered values that a setting must
// meet, shared by the setters and by the check of a record loaded from a parameter file, so a
// file cannot put into force what the matching setter would have refused or clamped.
#pragma once

#include <algorithm>
#include <cstdint>

#include "QVDeviceDef.h"

namespace qv::control {

// Sensor limits in the capability's sensor-parameter words (SensorParam order).
constexpr int kAeTargetMinWord = 0;
constexpr int kAeTargetMaxWord = 1;
constexpr int kGainMinWord = 2;
constexpr int kGainMaxWord = 3;
constexpr int kLinesMinWord = 4;
constexpr int kLinesMaxWord = 5;

constexpr int kSpeedBits = 32;
constexpr int kLastPresetIndex = 63;

// v brought into [lo, hi] (the sensor's limits are unsigned).
inline uint32_t ClampToLimits(uint32_t v, uint32_t lo, uint32_t hi) {
    if (v > hi) v = hi;
    if (v < lo) v = lo;
    return v;
}

// A capability range [min, max] with the value compared unsigned, as the camera's ranges are
// never negative: a negative value counts as a very large one and becomes the maximum.
inline int ClampUnsigned(int value, const INT range[2]) {
    const auto v = static_cast<uint32_t>(value);
    if (v > static_cast<uint32_t>(range[1])) return range[1];
    if (v < static_cast<uint32_t>(range[0])) return range[0];
    return value;
}

// Whether the camera states a range at all: cameras without the setting leave both words 0.
inline bool RangeStated(const INT range[2]) {
    return range[1] > range[0];
}

// A capability range compared signed.
inline int ClampSigned(int value, const INT range[2]) {
    if (value > range[1]) return range[1];
    if (value < range[0]) return range[0];
    return value;
}

// The AE target as the sensor takes it: its low 16 bits, within the sensor's target range.
inline uint32_t AeTargetInRange(int target, uint32_t lo, uint32_t hi) {
    return ClampToLimits(static_cast<uint32_t>(target) & 0xFFFF, lo, hi);
}

// A white-balance gain (hundredths) of one channel: its low 16 bits within the capability's
// range of that channel, compared as the camera keeps the range.
inline uint32_t RgbGainInRange(int gain, const INT range[2]) {
    const int v = gain & 0xFFFF;
    return static_cast<uint32_t>(std::clamp(v, range[0], std::max(range[0], range[1])));
}

// The masks have one bit per value; a value outside a mask has none (and must not be a shift).
inline bool FrameSpeedOffered(int speed, uint32_t mask) {
    return speed >= 0 && speed < kSpeedBits && (mask >> speed & 1u) != 0;
}

inline bool TriggerModeOffered(int mode, uint32_t mask) {
    return mode >= TRIGGER_MODE_CONTINUOUS && mode <= TRIGGER_MODE_HARDWARE &&
           (mask & (1u << mode)) != 0;
}

// For a value kept in a record: offered by the camera's mask, or, on a camera whose mask lists
// none (it did not state them), one of the values any camera may have: frame speeds 0 to 2,
// trigger modes 0 to 2.
constexpr int kFrameSpeeds = 3;
inline bool FrameSpeedKept(int speed, uint32_t mask) {
    return mask != 0 ? FrameSpeedOffered(speed, mask) : speed >= 0 && speed < kFrameSpeeds;
}
inline bool TriggerModeKept(int mode, uint32_t mask) {
    return mask != 0 ? TriggerModeOffered(mode, mask)
                     : mode >= TRIGGER_MODE_CONTINUOUS && mode <= TRIGGER_MODE_HARDWARE;
}

// Preset indices are 0 to 63, one bit each in the low and high masks.
inline bool PresetOffered(int index, uint32_t maskLow, uint32_t maskHigh) {
    if (index < 0 || index > kLastPresetIndex) return false;
    const uint32_t mask = index < 32 ? maskLow : maskHigh;
    return (mask >> (index % 32) & 1u) != 0;
}

// The output-line modes a stream open knows how to send.
inline bool OutputIoModeKnown(int mode) {
    return mode >= IOMODE_STROBE_OUTPUT && mode <= IOMODE_PWM_OUTPUT;
}

// An input line's mode is kept in a byte (0 makes it a trigger input; the others are the
// device's): a mode beyond it would be stored as another.
inline bool InputIoModeFits(int mode) {
    return mode >= 0 && mode <= 0xFF;
}

}  // namespace qv::control
