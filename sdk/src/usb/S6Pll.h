// Arithmetic of the Spartan-6 PLL's dynamic reconfiguration: the counter words for a divider and
// phase, the lock and loop-filter settings for a feedback multiplier, and the 23 register values
// of the reconfiguration port (DRP) that carry them. Pure functions; the camera procedure that
// moves the values is in UsbPll.h.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace qv::usb {

// DRP registers rewritten on a reconfiguration, in this order: 0x05 to 0x1A and 0x1D.
inline constexpr size_t kS6DrpCount = 23;
extern const std::array<uint8_t, kS6DrpCount> kS6DrpAddress;
// Bits of each register that a reconfiguration keeps as it found them.
extern const std::array<uint16_t, kS6DrpCount> kS6DrpKeepMask;

// The eight PLL settings a sensor driver passes: counter i divides by p[i]; p[0] is the
// feedback multiplier, and p[3]'s output runs at 180 degrees.
using S6PllSettings = std::array<uint8_t, 8>;

// The 23-bit counter word: the 9-bit phase word (bits 0-5 delay time, 6-8 phase mux) shifted
// left by 14, or the 14-bit divider word (bits 0-5 low time, 6-11 high time, 12 no-count,
// 13 edge). phase in thousandths of a degree (negative allowed), duty in thousandths of a
// percent.
uint32_t S6PllCounterWord(uint8_t divide, int32_t phase, uint32_t duty);

// Lock settings for a feedback multiplier of 1 to 64: bits 32-39, 16-31 and 0-15 of the 40-bit
// lock word, in this order.
void s6_pll_lock_lookup(unsigned divide, uint16_t out[3]);
// Loop-filter setting (10 bits) for a feedback multiplier of 1 to 64, high or low bandwidth.
uint16_t s6_pll_filter_lookup(unsigned divide, bool highBandwidth);

// The new DRP values: each register's kept bits from `current`, or'ed with the bits the
// settings give it. settings[0] must be 1 to 64.
std::array<uint16_t, kS6DrpCount> S6PllDrpValues(const S6PllSettings& settings,
                                                 const std::array<uint16_t, kS6DrpCount>& current);

// ---- the lookup tables and the bit map (S6PllTables.cpp) ----
extern const std::array<uint64_t, 64> kS6PllLockTable;    // 40-bit lock words, divide 1 first
extern const std::array<uint32_t, 64> kS6PllFilterTable;  // 20-bit: high bandwidth in 10-19
// Where one bit of a setting lands: source (0-7 counter of settings[i], 8 filter, 9 lock), the
// bit of that source, the DRP register index (0-22) and the bit in it.
struct S6DrpBit {
    uint8_t source;
    uint8_t sourceBit;
    uint8_t reg;
    uint8_t regBit;
};
inline constexpr uint8_t kS6SourceFilter = 8;
inline constexpr uint8_t kS6SourceLock = 9;
extern const std::array<S6DrpBit, 224> kS6DrpBitMap;

}  // namespace qv::usb
