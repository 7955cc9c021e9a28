// Data of the Spartan-6 PLL reconfiguration: register addresses and kept-bit masks, the lock and
// loop-filter tables, and the map of setting bits onto register bits.
//
// PLACEHOLDER DATA. The lock table, the filter table and the bit map belong to the FPGA maker's
// PLL dynamic-reconfiguration reference, which this tree does not have yet. Until they are
// entered here from that reference:
//   - the lock table holds placeholder lock settings (not checked against the maker's values);
//   - the filter table is all zero;
//   - the bit map lays the setting bits into the free bits of the 23 registers in order
//     (filter, lock word, then the counters of settings 0 to 7, the input divider setting 1
//     without a phase), which keeps every kept bit intact but is not the silicon's layout.
// The addresses and kept-bit masks are final. Nothing else in the SDK depends on the three
// provisional tables' contents, so replacing them is a change to this file alone.
#include <array>

#include "usb/S6Pll.h"

namespace qv::usb {

const std::array<uint8_t, kS6DrpCount> kS6DrpAddress = {
    0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10,
    0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1D};

namespace {

constexpr std::array<uint16_t, kS6DrpCount> kMasks = {
    0x50FF, 0x010B, 0xE02C, 0x4001, 0x0D03, 0xB001, 0x110B, 0x0B00, 0x0008, 0x00D0, 0x0003, 0x800C,
    0xFC00, 0xF0FF, 0x5120, 0x2FFF, 0xBFF4, 0x0A55, 0xFFD0, 0x1039, 0x0000, 0xFFFC, 0x2FFF};

// Lock word fields, high to low: reference delay (5), feedback delay (5), lock count (10),
// saturation high (10), unlock count (10).
constexpr uint64_t Lock(uint64_t refDly, uint64_t fbDly, uint64_t lockCnt) {
    return refDly << 35 | fbDly << 30 | lockCnt << 20 | uint64_t{0x3E9} << 10 | 1;
}

constexpr std::array<uint64_t, 64> MakeLockTable() {
    std::array<uint64_t, 64> t{};
    constexpr uint8_t kDelay[10] = {6, 6, 8, 11, 14, 17, 19, 22, 25, 28};
    constexpr uint16_t kCount[26] = {0x384, 0x339, 0x2EE, 0x2BC, 0x28A, 0x271, 0x23F, 0x226, 0x20D,
                                     0x1F4, 0x1DB, 0x1C2, 0x1A9, 0x190, 0x190, 0x177, 0x15E, 0x15E,
                                     0x145, 0x145, 0x12C, 0x12C, 0x12C, 0x113, 0x113, 0x113};
    for (size_t d = 0; d < 64; ++d) {
        if (d < 10)
            t[d] = Lock(kDelay[d], kDelay[d], 0x3E8);
        else if (d < 36)
            t[d] = Lock(31, 31, kCount[d - 10]);
        else
            t[d] = Lock(31, 31, 0xFA);
    }
    return t;
}

constexpr size_t SourceBits(uint8_t source) {
    if (source == kS6SourceFilter) return 10;
    if (source == kS6SourceLock) return 40;
    return source == 1 ? 14 : 23;  // the input divider has no phase
}

constexpr std::array<S6DrpBit, 224> MakeBitMap() {
    std::array<S6DrpBit, 224> map{};
    constexpr uint8_t kOrder[10] = {kS6SourceFilter, kS6SourceLock, 0, 1, 2, 3, 4, 5, 6, 7};
    size_t reg = 0;
    unsigned bit = 0;
    size_t n = 0;
    for (uint8_t source : kOrder) {
        for (size_t b = 0; b < SourceBits(source) && n < map.size(); ++b) {
            // The next free bit, in address order and from bit 0 up.
            while (kMasks[reg] & (1u << bit)) {
                if (++bit == 16) bit = 0, ++reg;
            }
            map[n++] = {source, static_cast<uint8_t>(b), static_cast<uint8_t>(reg),
                        static_cast<uint8_t>(bit)};
            if (++bit == 16) bit = 0, ++reg;
        }
    }
    // 225 setting bits for 224 free register bits: the last one, the top phase-mux bit of
    // setting 7, is always 0 (only setting 3 has a phase) and has no place.
    return map;
}

}  // namespace

const std::array<uint16_t, kS6DrpCount> kS6DrpKeepMask = kMasks;
const std::array<uint64_t, 64> kS6PllLockTable = MakeLockTable();
const std::array<uint32_t, 64> kS6PllFilterTable = {};
const std::array<S6DrpBit, 224> kS6DrpBitMap = MakeBitMap();

}  // namespace qv::usb
