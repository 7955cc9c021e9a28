#include "usb/S6Pll.h"

#include "common/Log.h"

namespace qv::usb {

namespace {

// The divider word: low time in bits 0-5, high time in 6-11, no-count 12, edge 13.
uint32_t DividerWord(uint8_t divide, uint32_t duty) {
    if (divide == 1) return 0x1041;  // bypassed counter: no-count, high 1, low 1
    // Duty in 1/1024 steps: 50000 (50 %) gives 512; t is the high time in 1/1024 cycles.
    uint32_t t = divide * (duty * 1024u / 100000u);
    if (t & 0x100) t += 512;  // round to the nearest half cycle
    uint32_t high = t >> 10;
    uint32_t edge = (t >> 9) & 1;
    if (high == 0) {
        high = 1;
        edge = 0;
    }
    if (high == divide) {
        high = divide - 1u;
        edge = 1;
    }
    const uint32_t low = static_cast<uint32_t>(divide) - high;
    return (edge << 13) | ((high & 0x3F) << 6) | (low & 0x3F);
}

// The phase word: delay time (whole VCO cycles) in bits 0-5, phase mux (eighths) in 6-8.
uint32_t PhaseWord(uint8_t divide, int32_t phase) {
    int64_t p = phase < 0 ? int64_t{phase} + 360000 : phase;
    // Phase in 1/1024 degree, then in 1/1024 VCO cycles (1/128 of a cycle per mux step).
    int64_t x = p * 1024 / 1000 * divide / 360;
    if (x & 0x40) x += 128;  // round to the nearest mux step
    const uint32_t mux = static_cast<uint32_t>(x >> 7) & 0x7;
    const uint32_t delay = static_cast<uint32_t>(x >> 10) & 0x3F;
    return (mux << 6) | delay;
}

}  // namespace

uint32_t S6PllCounterWord(uint8_t divide, int32_t phase, uint32_t duty) {
    return (PhaseWord(divide, phase) << 14) | DividerWord(divide, duty);
}

void s6_pll_lock_lookup(unsigned divide, uint16_t out[3]) {
    QV_ASSERT(divide >= 1 && divide <= kS6PllLockTable.size());
    const uint64_t word = kS6PllLockTable[divide - 1];
    out[0] = static_cast<uint16_t>((word >> 32) & 0xFF);
    out[1] = static_cast<uint16_t>(word >> 16);
    out[2] = static_cast<uint16_t>(word);
}

uint16_t s6_pll_filter_lookup(unsigned divide, bool highBandwidth) {
    QV_ASSERT(divide >= 1 && divide <= kS6PllFilterTable.size());
    const uint32_t word = kS6PllFilterTable[divide - 1];
    return static_cast<uint16_t>((highBandwidth ? word >> 10 : word) & 0x3FF);
}

std::array<uint16_t, kS6DrpCount> S6PllDrpValues(const S6PllSettings& settings,
                                                 const std::array<uint16_t, kS6DrpCount>& current) {
    uint64_t source[10] = {};
    for (size_t i = 0; i < settings.size(); ++i)
        source[i] = S6PllCounterWord(settings[i], i == 3 ? 180000 : 0, 50000);
    source[kS6SourceFilter] = s6_pll_filter_lookup(settings[0], true);
    uint16_t lock[3];
    s6_pll_lock_lookup(settings[0], lock);
    source[kS6SourceLock] = uint64_t{lock[0]} << 32 | uint64_t{lock[1]} << 16 | lock[2];

    std::array<uint16_t, kS6DrpCount> out{};
    for (size_t i = 0; i < kS6DrpCount; ++i)
        out[i] = static_cast<uint16_t>(current[i] & kS6DrpKeepMask[i]);
    for (const S6DrpBit& b : kS6DrpBitMap) {
        if ((source[b.source] >> b.sourceBit) & 1)
            out[b.reg] = static_cast<uint16_t>(out[b.reg] | (1u << b.regBit));
    }
    return out;
}

}  // namespace qv::usb
