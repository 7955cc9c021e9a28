// Analog gain encoders shared by the chip families. Gains arrive in thousandths (1000 = unity);
// each encoder turns one into the chip's register code and says which gain that code really
// gives, so a driver can report the gain in force.
#pragma once

#include <cstdint>

namespace sensor {

// Logarithmic gain registers of the Sony rolling-shutter and global-shutter chips: the code counts
// steps of stepTenthsDb tenths of a decibel (3 = 0.3 dB, 1 = 0.1 dB). Above hcgThresholdDb the
// chip switches on its high conversion gain, which adds hcgDb, and the code counts only the rest.
// Gains below unity give code 0: a negative code would wrap into the top of the register.
struct LogGainStep {
    int stepTenthsDb;
    double hcgThresholdDb;  // a huge value for chips without high conversion gain
    double hcgDb;
};

struct LogGainCode {
    uint32_t code;  // register code, never negative
    bool highConversion;
};

LogGainCode EncodeLogGain(uint32_t gainMilli, const LogGainStep& step);

// The Sony inverse gain code of the frame-count chips: q = (1 - 1 / x) x scale for a gain x,
// truncated (scale 2048: x1 gives 0, x16 gives 1920). DecodeInverseGain gives the gain in
// thousandths that the code really programs: scale x 1000 / (scale - q), truncated.
uint32_t EncodeInverseGain(uint32_t gainMilli, uint32_t scale);
uint32_t DecodeInverseGain(uint32_t code, uint32_t scale);

// The same code with a digital gain step in front for the chips whose analog stage ends at x16:
// above x16 the digital factor f = 2^step doubles (step up to maxDigitalStep) until x / f is at
// most 16, and the analog code carries the rest, q = (1 - f / x) x scale, truncated.
// gainMilli is the gain the pair really gives: f x scale x 1000 / (scale - q), truncated.
struct InverseGainCode {
    uint32_t code;
    uint32_t digitalStep;
    uint32_t gainMilli;
};
InverseGainCode EncodeInverseGainStep(uint32_t gainMilli, uint32_t scale, uint32_t maxDigitalStep);

}  // namespace sensor
