// CAptinaSensor: the register family of the Aptina chips (AR0130, AR0134, AR0135, AR0144,
// AR0234, AR052x and the MT9J003): 16-bit registers with 16-bit data, the chip identity in one
// register, the exposure as a 16-bit line count, a window of start and end registers, the control
// register 0x301A that also carries the trigger modes, and per chip as data: the boards with
// their reset, the bus, the boards whose stream and trigger go through the FPGA, and the
// exposure register. The drivers add their clocks, tables, gain and streaming words.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>

#include "SensorBase.h"

class CAptinaSensor : public CSensorBase {
  public:
    // What a chip of the family is, as data.
    struct Chip {
        std::span<const sensor::BoardReset> boards;
        bool refuseOtherBoards;  // Reset on a board without a row: -4 (else the bus alone)
        sensor::SensorBus bus;
        std::span<const int> fpgaGroup;  // stream and trigger through the FPGA
        uint16_t exposureReg;            // 16 bits of lines
    };

    int Reset() override;
    // n lines in the exposure register; a count past its 16 bits stops at 65535 lines, and the
    // exposure reported is the one in force.
    int SetExposureLines(uint32_t lines) override;
    int SetExposure(double us) override;           // whole lines, at least 1
    int SetBlackLevel(uint32_t level) override;    // these chips keep no black level: 0
    int GetImageInfo(stImageInfo* info) override;  // m_chipCount windows wide

  protected:
    static constexpr uint16_t kRegIdentity = 0x3000;
    static constexpr uint16_t kRegControl = 0x301A;
    static constexpr uint32_t kMaxExposureLines = 0xFFFF;

    CAptinaSensor(SensorTypeE type, imginf* inf, const Chip& chip);

    const sensor::BoardReset* BoardRow();
    bool OnBoard(std::initializer_list<int> types) {
        return sensor::IsOneOf(GetHardwareType(), types);
    }
    bool InFpgaGroup();

    // The window registers from the start (m_fpgaOffsetX column, m_fpgaOffsetY row) over width x
    // height, in the order 0x3004, 0x3002, 0x3008, 0x3006 (start column, start row, end column,
    // end row).
    sensor::RegList& AddWindow(sensor::RegList& list, uint32_t width, uint32_t height);
    // The same four written one at a time, statuses not used (a window move while streaming).
    void WriteWindowSingly(uint32_t width, uint32_t height);

    // The FPGA's part of a trigger-mode change: the control word, then for modes 1 and 2 the
    // trigger timing of that mode.
    struct TriggerTiming {
        uint16_t a, b;
    };
    int ApplyFpgaTrigger(int mode, TriggerTiming mode1, TriggerTiming mode2);

    // The identity check of a class's static Probe (reset, then the register compared).
    template <class Driver>
    static int ProbeIdentity(SensorTypeE type, imginf* inf, ChipId id) {
        Driver probe(type, inf);
        return CheckChipIdentity(probe, {id});
    }

    const Chip& m_chip;
    int64_t m_imgPadH = 0;  // pixel clocks added to the width for the line length
    int64_t m_imgPadV = 0;  // lines added to the height for the frame length
    uint16_t m_ifMode = 0;  // bits OR-ed into every sensor-interface word
    uint16_t m_laneBits = 0;
    uint8_t m_chipCount = 1;  // chips side by side in one image
};
