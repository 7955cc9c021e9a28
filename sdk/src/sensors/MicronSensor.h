// CMicronSensor: the Micron chips with 8-bit register numbers and 16-bit data (MT9M001, MT9P031,
// and the MT9T001 and MT9V024 families): a window of start row and column, height and width
// (less one) and the two blanks in registers 0x01 to 0x06, the shutter width in 0x09 (with its
// high word in 0x08 where the chip has one), the global gain code in 0x35, the black level in
// 0x4B, the read mode in 0x1E and the restart in 0x0B. Per chip as data: the boards with their
// reset, the bus, the FPGA group, the gain code's upper range and the exposure overhead.
#pragma once

#include <cstdint>
#include <span>

#include "SensorBase.h"
#include "SensorGain.h"

class CMicronSensor : public CSensorBase {
  public:
    struct Chip {
        std::span<const sensor::BoardReset> boards;  // any other board: no reset line
        sensor::SensorBus bus;
        std::span<const int> fpgaGroup;  // stream and trigger through the FPGA
        sensor::MicronHighGain highGain;
        bool shutterHighWord;  // 0x08 holds the upper 16 bits of the shutter width
        // Exposure overhead: the time is n lines less this many pixel periods ...
        uint32_t overheadPeriods;
        // ... and the line count of a time takes the overhead into account (else it is left out).
        bool roundWithOverhead;
    };

    int Reset() override;
    int SetExposureLines(uint32_t lines) override;
    int SetExposure(double us) override;
    int SetAnalogGain(uint32_t gain) override;
    int SetBlackLevel(uint32_t level) override;  // 0x4B; 0 whatever the write did

  protected:
    static constexpr uint16_t kRegIdentity = 0x00;
    static constexpr uint16_t kRegRowStart = 0x01;
    static constexpr uint16_t kRegColumnStart = 0x02;
    static constexpr uint16_t kRegHeight = 0x03;  // height - 1
    static constexpr uint16_t kRegWidth = 0x04;   // width - 1
    static constexpr uint16_t kRegHBlank = 0x05;
    static constexpr uint16_t kRegVBlank = 0x06;
    static constexpr uint16_t kRegOutput = 0x07;
    static constexpr uint16_t kRegShutterHigh = 0x08;
    static constexpr uint16_t kRegShutter = 0x09;
    static constexpr uint16_t kRegRestart = 0x0B;
    static constexpr uint16_t kRegReset = 0x0D;
    static constexpr uint16_t kRegReadMode = 0x1E;
    static constexpr uint16_t kRegGain = 0x35;
    static constexpr uint16_t kRegBlackLevel = 0x4B;

    CMicronSensor(SensorTypeE type, imginf* inf, const Chip& chip);

    bool InFpgaGroup();
    // Boards 301 and 302 of the FPGA group: their interface words end in 0xC (0xD on the other
    // boards of the group) and their FPGA keeps the image enabled when the stream stops.
    bool InFpgaGroupB() { return sensor::IsOneOf(GetHardwareType(), {301, 302}); }
    // The FPGA's part of a stream stop on the boards of the FPGA group: the interface word
    // m_bitMode | 0x10C on group B, m_bitMode | 0x10D and the image disabled on the others.
    // Statuses are not used.
    void StopFpgaStream();
    // A trigger mode held in one chip register: modes outside 0 to 2 do nothing; on the FPGA
    // group the common trigger sequence with the timing (fpgaTimingA, 50000) comes first, and
    // its failure is returned before the chip is written; then reg takes `continuous` (mode 0)
    // or `triggered`.
    struct TriggerModeReg {
        uint16_t fpgaTimingA;
        uint16_t reg;
        uint16_t continuous;
        uint16_t triggered;
    };
    int ApplyTriggerModeReg(int mode, const TriggerModeReg& word);
    // The exposure time of n lines (the overhead taken off).
    void RecordExposure(uint32_t lines);
    // The window start (m_fpgaOffsetY row, m_fpgaOffsetX column), and its size (the field of
    // view, less one) with the two blanks.
    sensor::RegList& AddWindowStart(sensor::RegList& list);
    sensor::RegList& AddWindowSize(sensor::RegList& list);
    // The soft-trigger line of boards without the FPGA's trigger low (the chip's own trigger).
    int TriggerLineLow();

    const Chip& m_chip;
    int64_t m_imgPadH = 0;  // horizontal blank
    int64_t m_imgPadV = 0;  // vertical blank
};
