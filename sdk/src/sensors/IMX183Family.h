// CIMX183Family: what the Sony IMX183, IMX206 and IMX226 drivers share. The three chips have one
// register map (8-bit data, registers up to 0x7FF, bus 0x81/0x12), a 2048-step analog gain code
// in 0x09/0x0A, the same start sequence and the same FPGA sensor interface; each driver adds its
// boards, clocks, register lists and long-exposure scheme.
#pragma once

#include <cstdint>
#include <span>

#include "SensorBase.h"

class CIMX183Family : public CSensorBase {
  public:
    int Reset() override;
    int SetExposure(double us) override;
    int SetFrameSpeed(int speed) override;
    int SetAnalogGain(uint32_t gain) override;
    int StreamOn() override;
    int StreamOff() override;
    int SetTriggerMode(int mode) override;
    int SoftTrigger() override;
    int SetRoiOffset(int x, int y) override;

    // A member's boards and the limits of its SensorParam.
    struct Chip {
        std::span<const sensor::BoardReset> boards;
        uint32_t maxHeight, maxWidth;
        uint32_t maxLines;  // exposure-lines maximum before the first frame speed
    };

  protected:
    CIMX183Family(SensorTypeE type, imginf* inf, const Chip& chip);

    bool OnItsBoard() { return CurrentBoard() != nullptr; }
    const sensor::BoardReset* CurrentBoard();
    uint16_t WordBits() const { return m_lowBit | m_bitMode | m_laneBits; }

    // ---- Steps of the members' Init ----
    // The interface word of the set-up and the trigger reset.
    int WriteSetupWord();
    // Register 0x03, the lane mode, for chips whose lanes are chosen per board.
    int WriteLaneMode();
    // The start sequence with register 0x01 = reg01.
    int StartChip(uint16_t reg01);
    // The image window through the FPGA (the output size as the field of view too), then the
    // starting gain and exposure; the window's status is the result.
    int FinishInit(const CameraInitParam& param);
    // A mode list and, when it was written, the line and frame lengths it sets.
    int WriteModeList(std::span<const uint16_t> list, uint32_t lineLength, uint32_t frameLength);

    // ---- What the members decide ----
    // The lengths of a frame speed from the mode list's own, and the exposure maximum at them.
    virtual void ScaleLengths(int speed, uint32_t& lineLength, uint32_t& frameLength) = 0;
    virtual uint32_t MaxExposureLines() const = 0;
    // The resolution record into the window members (Init and SetRoiOffset).
    virtual void ApplyWindow() { ApplyResolution(); }

    const Chip& m_chip;
    uint16_t m_laneBits = 0;        // 12 or 4, in every sensor-interface word
    uint16_t m_lowBit = 0;          // bit 0 of the sensor-interface word
    uint32_t m_baseLineLength = 0;  // the mode list's lengths before the frame speed
    uint32_t m_baseFrameLength = 0;
};
