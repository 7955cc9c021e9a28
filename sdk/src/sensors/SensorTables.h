// The data vocabulary of the sensor drivers: raw pixel formats, register fields and lists,
// reset lines, clock settings and board lookups. A driver is mostly constant tables written in
// these types (see SensorBase.h for the operations that consume them).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>

#include "common/Log.h"

namespace sensor {

// ---- Raw pixel formats a sensor can deliver (media type codes) ----
inline constexpr uint32_t kMono8 = 0x01080000;        // "Mono8"
inline constexpr uint32_t kMono8Signed = 0x01080002;  // "Mono8 Signed"
inline constexpr uint32_t kBayerGR8 = 0x01080008;     // 8-bit Bayer, GR first (to 0x0108000B)
inline constexpr uint32_t kBayerBG8 = 0x0108000B;
inline constexpr uint32_t kMono12Packed = 0x010C0006;  // "Mono12 Packed"
inline constexpr uint32_t kMono12 = 0x01100005;        // "Mono12"
inline constexpr uint32_t kBayerGR12 = 0x01100010;     // 12-bit Bayer, GR first (to 0x01100013)
inline constexpr uint32_t kBayerBG12 = 0x01100013;
inline constexpr uint32_t kYuv422 = 0x0210001F;  // YUV 4:2:2 packed

// The format lists most chips offer: 8 and 12 bits on the boards they serve, 8 bits elsewhere.
inline constexpr uint32_t kColour8And12[] = {kBayerGR8, kBayerGR12};
inline constexpr uint32_t kMono8And12[] = {kMono8, kMono12};
inline constexpr uint32_t kColour8[] = {kBayerGR8};
inline constexpr uint32_t kMono8Only[] = {kMono8};

// ---- FPGA sensor-interface word ----
// The driver's format and lane bits are OR-ed with one of these: 0x40 while it is being set up,
// 0xC0 to run (pixels flow into the FPGA), 0x140 to stop.
inline constexpr uint16_t kIfSetup = 0x40;
inline constexpr uint16_t kIfRun = 0xC0;
inline constexpr uint16_t kIfStop = 0x140;

// The FPGA's frame-buffer limit every driver hands to SetupImageWindow (128 MiB).
inline constexpr uint32_t kFrameBufferLimit = 0x8000000;

// ---- Register lists ----
// A register list is pairs of 16-bit words {register, value}; register 0xFFFF is a pause of value
// milliseconds that the transport performs in order with the writes.
inline constexpr uint16_t kPauseReg = 0xFFFF;

// Rows of a register table whose values come from the chip maker's settings and are not known to
// this code yet. Each stands as a zero pause, which writes nothing to the chip (the USB transport
// skips it; a GigE camera gets it in its list as a delay of 0 ms), so a table keeps its length and
// its known rows keep their positions until the maker's values are dropped in.
#define QV_MAKER_ROW sensor::kPauseReg, 0
#define QV_MAKER_ROWS_2 QV_MAKER_ROW, QV_MAKER_ROW
#define QV_MAKER_ROWS_4 QV_MAKER_ROWS_2, QV_MAKER_ROWS_2
#define QV_MAKER_ROWS_8 QV_MAKER_ROWS_4, QV_MAKER_ROWS_4
#define QV_MAKER_ROWS_16 QV_MAKER_ROWS_8, QV_MAKER_ROWS_8
#define QV_MAKER_ROWS_32 QV_MAKER_ROWS_16, QV_MAKER_ROWS_16

// One byte lane of a multi-byte register value: the register receives (value >> shift) & mask.
struct RegField {
    uint16_t reg;
    uint8_t shift;
    uint16_t mask;
};

// A register list built at run time (window registers, frame lengths, shutters). It holds up to
// kMaxPairs pairs without touching the heap, so the exposure path allocates nothing.
class RegList {
  public:
    static constexpr size_t kMaxPairs = 64;

    RegList() = default;
    RegList(std::initializer_list<uint16_t> regAndVal) {
        QV_ASSERT(regAndVal.size() % 2 == 0 && regAndVal.size() <= m_words.size());
        for (uint16_t word : regAndVal) m_words[m_size++] = word;
    }

    RegList& Add(uint16_t reg, uint32_t value) {
        QV_ASSERT(m_size + 2 <= m_words.size());
        m_words[m_size++] = reg;
        m_words[m_size++] = static_cast<uint16_t>(value);
        return *this;
    }
    // Every field of a multi-byte value, in the order given.
    RegList& Add(std::span<const RegField> fields, uint32_t value) {
        for (const RegField& f : fields) Add(f.reg, (value >> f.shift) & f.mask);
        return *this;
    }
    RegList& Pause(uint16_t ms) { return Add(kPauseReg, ms); }
    RegList& Append(std::span<const uint16_t> regAndVal) {
        QV_ASSERT(regAndVal.size() % 2 == 0);
        for (uint16_t word : regAndVal) {
            QV_ASSERT(m_size < m_words.size());
            m_words[m_size++] = word;
        }
        return *this;
    }

    bool Empty() const { return m_size == 0; }
    size_t Pairs() const { return m_size / 2; }
    std::span<const uint16_t> Words() const { return {m_words.data(), m_size}; }

  private:
    std::array<uint16_t, 2 * kMaxPairs> m_words{};
    size_t m_size = 0;
};

// ---- Board tables ----

// How a board resets its sensor. A GPIO pulse is SetGpioMode (pin, 0), level 0, 10 ms, level 1,
// 10 ms; a pair pulse does the same on two pins together (mode and level 0 for the first pin,
// then for the second), a together pulse too but with both modes set before both levels; a GPIO
// level sets the pin to mode 0 and the level; the two-line pulse sets both pins to mode 0, the
// first low and the second to `level`, waits 100 ms, drives the first high and waits afterMs;
// the FPGA bit pulse clears and sets bit 16 of FPGA register 15 (GigE boards) with 10 ms after
// each write.
enum class ResetKind : uint8_t {
    None,
    Gpio,
    GpioPair,
    GpioPairTogether,
    GpioLevel,
    TwoLine,
    FpgaBit,
};

struct ResetLine {
    ResetKind kind = ResetKind::None;
    uint8_t pin = 0;
    uint8_t pin2 = 0;     // second pin of a pair or two-line pulse
    uint8_t level = 0;    // GPIO level; the second line's level in the two-line pulse
    uint8_t afterMs = 0;  // two-line pulse: the wait after the first line goes high
};

inline constexpr ResetLine GpioReset(uint8_t pin) {
    return {ResetKind::Gpio, pin, 0};
}
inline constexpr ResetLine GpioPairReset(uint8_t pin, uint8_t pin2) {
    return {ResetKind::GpioPair, pin, pin2};
}
inline constexpr ResetLine GpioPairTogetherReset(uint8_t pin, uint8_t pin2) {
    return {ResetKind::GpioPairTogether, pin, pin2};
}
inline constexpr ResetLine GpioLevel(uint8_t pin, uint8_t level) {
    return {ResetKind::GpioLevel, pin, 0, level};
}
inline constexpr ResetLine TwoLineReset(uint8_t pin, uint8_t pin2, uint8_t level2,
                                        uint8_t afterMs) {
    return {ResetKind::TwoLine, pin, pin2, level2, afterMs};
}
inline constexpr ResetLine FpgaBitReset() {
    return {ResetKind::FpgaBit, 0, 0};
}

// A board's reset: one line, or two one after the other.
struct ResetSequence {
    ResetLine first{};
    ResetLine second{};
    constexpr ResetSequence() = default;
    constexpr ResetSequence(ResetLine line) : first(line) {}  // NOLINT: one line is a sequence
    constexpr ResetSequence(ResetLine a, ResetLine b) : first(a), second(b) {}
};
inline constexpr ResetSequence Then(ResetLine a, ResetLine b) {
    return {a, b};
}

// A board row of the drivers whose boards differ only in how they reset the chip.
struct BoardReset {
    int hwType;
    ResetSequence reset;
};

// The sensor bus: the chip's address, the access widths (data bytes in the high nibble,
// register bytes in the low one) and the settling wait after selecting it.
inline constexpr uint8_t kReg16Data8 = 0x12;   // 16-bit registers, 8-bit data (Sony)
inline constexpr uint8_t kReg16Data16 = 0x22;  // 16-bit registers, 16-bit data (Aptina)
inline constexpr uint8_t kReg8Data16 = 0x21;   // 8-bit registers, 16-bit data (Micron)
struct SensorBus {
    uint8_t address;
    uint8_t widths;
    unsigned settleMs;
};

// One clock-generator setting: the eight SetPll values and the sensor input clock they give.
struct PllSetting {
    std::array<uint8_t, 8> values{};
    uint32_t inputClock = 0;  // Hz
    bool present = false;     // false: the board keeps its clock, nothing is sent
};

inline constexpr PllSetting Pll(std::array<uint8_t, 8> values, uint32_t inputClock) {
    return {values, inputClock, true};
}
inline constexpr PllSetting NoPll(uint32_t inputClock = 0) {
    return {{}, inputClock, false};
}

// The row of a board table for a hardware type, or null. Rows carry their type in `hwType`.
template <class Row, size_t N>
const Row* FindBoard(const Row (&rows)[N], int hwType) {
    for (const Row& row : rows)
        if (row.hwType == hwType) return &row;
    return nullptr;
}

// Whether hwType is one of types.
inline bool IsOneOf(int hwType, std::initializer_list<int> types) {
    for (int t : types)
        if (t == hwType) return true;
    return false;
}

// Lowers v to an even number ("even" in the frame-length tables).
inline constexpr uint32_t Even(uint32_t v) {
    return v & ~1u;
}

}  // namespace sensor
