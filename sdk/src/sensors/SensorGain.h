// Analog gain encoders shared by the chip families. Gains arrive in thousandths (1000 = unity);
// each encoder turns one into the chip's register code and says which gain that code really
// gives, so a driver can report the gain in force.
#pragma once

#include <cstdint>
#include <span>

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

// Gain tables of the chips that take their gain in steps: from `gain` (thousandths) on, the step
// programs column bits and a register code. The tables run from the highest step down.
struct GainStep {
    uint32_t gain;
    uint16_t column;
    uint16_t code;
};
// The first step whose gain the request reaches; below all of them, the last (lowest) step.
const GainStep& PickGainStep(std::span<const GainStep> steps, uint32_t gainMilli);

// The Micron global gain code (register 0x35 of the 8-bit-register chips): below 4250 eighths
// (g / 125), from 4250 to 8000 quarters above the doubling bit (g / 250 + 64), above 8000 whole
// steps on top of code 96, which some chips count as x1 digital steps in the high byte
// ((g - 8000) / 1000 x 256 + 96) and others as fine steps ((g - 8000) / 1000 + 96); integer
// divisions throughout, 16-bit codes. The decoder gives the gain in thousandths a code programs.
enum class MicronHighGain : uint8_t {
    DigitalSteps,  // MT9M001, MT9P031, OV5640
    FineSteps,     // MT9T001
};
uint32_t EncodeMicronGain(uint32_t gainMilli, MicronHighGain high);
uint32_t DecodeMicronGain(uint32_t code, MicronHighGain high);

}  // namespace sensor
