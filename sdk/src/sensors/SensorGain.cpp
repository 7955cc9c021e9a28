#include "SensorGain.h"

#include <cmath>

namespace sensor {

LogGainCode EncodeLogGain(uint32_t gainMilli, const LogGainStep& step) {
    if (gainMilli <= 1000) return {0, false};
    // Evaluated as 20 log10 (g / 1000) x 10 / step: the edges of the code table (for example
    // 31622 and 31623 on either side of 30 dB) depend on this order.
    const double db = 20.0 * std::log10(gainMilli / 1000.0);
    if (db <= step.hcgThresholdDb) {
        return {static_cast<uint32_t>(db * 10.0 / step.stepTenthsDb), false};
    }
    return {static_cast<uint32_t>((db - step.hcgDb) * 10.0 / step.stepTenthsDb), true};
}

uint32_t EncodeInverseGain(uint32_t gainMilli, uint32_t scale) {
    if (gainMilli <= 1000) return 0;
    const double x = gainMilli / 1000.0;
    return static_cast<uint32_t>((1.0 - 1.0 / x) * scale);
}

uint32_t DecodeInverseGain(uint32_t code, uint32_t scale) {
    if (code >= scale) return 0;
    return static_cast<uint32_t>(static_cast<uint64_t>(scale) * 1000 / (scale - code));
}

InverseGainCode EncodeInverseGainStep(uint32_t gainMilli, uint32_t scale, uint32_t maxDigitalStep) {
    constexpr double kAnalogMax = 16.0;
    const double x = gainMilli / 1000.0;
    uint32_t step = 0;
    while (step < maxDigitalStep && x / (1u << step) > kAnalogMax) ++step;
    const double factor = 1u << step;
    // Below the factor (unity at step 0) the analog stage stays at unity: a negative code would
    // wrap into the top of the register.
    const uint32_t code = x > factor ? static_cast<uint32_t>((1.0 - factor / x) * scale) : 0;
    const uint64_t gain = (uint64_t{1} << step) * scale * 1000 / (scale - code);
    return {code, step, static_cast<uint32_t>(gain)};
}

const GainStep& PickGainStep(std::span<const GainStep> steps, uint32_t gainMilli) {
    for (const GainStep& step : steps)
        if (gainMilli >= step.gain) return step;
    return steps.back();
}

uint32_t EncodeMicronGain(uint32_t gainMilli, MicronHighGain high) {
    uint32_t code = 0;
    if (gainMilli < 4250) {
        code = gainMilli / 125;
    } else if (gainMilli <= 8000) {
        code = gainMilli / 250 + 64;
    } else {
        const uint32_t steps = (gainMilli - 8000) / 1000;
        code = (high == MicronHighGain::DigitalSteps ? steps * 256 : steps) + 96;
    }
    return code & 0xFFFF;
}

uint32_t DecodeMicronGain(uint32_t code, MicronHighGain high) {
    if (high == MicronHighGain::DigitalSteps && code >= 256) return (code >> 8) * 1000 + 8000;
    if (high == MicronHighGain::FineSteps && code >= 96) return code * 1000 - 88000;
    if (code > 80) return (code * 1000 - 64000) / 4;
    return code * 1000 / 8;
}

}  // namespace sensor
