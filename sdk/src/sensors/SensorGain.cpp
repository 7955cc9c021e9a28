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

}  // namespace sensor
