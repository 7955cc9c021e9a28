// CIMX377Family: what the IMX377 and IMX577 drivers share. Both 4000 x 3000 colour chips sit on
// hardware types 110 (USB) and 205 (GigE) only, reset and stream the same way, take their window
// from the resolution record, and in continuous mode on board 205 never run a frame shorter than
// the FPGA needs to move the image (so every trigger-mode change recomputes the frame speed).
// They differ in the register map: each member writes its own tables, lengths, window and start.
#pragma once

#include <cstdint>

#include "SensorBase.h"

class CIMX377Family : public CSensorBase {
  public:
    int Reset() override;
    int Init(CameraInitParam* param) override;
    int SetFrameSpeed(int speed) override;
    int StreamOn() override;
    int StreamOff() override;
    int SetTriggerMode(int mode) override;
    int SoftTrigger() override;
    void GetCapability(SensorCapability& cap) override;

    struct Chip {
        const char* instanceName;
        uint32_t pixelClock;            // Hz
        uint16_t windowDx, windowDy;    // the chip's window start past the record's
        uint16_t fpgaSkipX, fpgaSkipY;  // what the FPGA discards of each line and frame
    };

  protected:
    CIMX377Family(SensorTypeE type, imginf* inf, const Chip& chip);

    bool OnItsBoard();
    uint16_t WordBits() const { return m_lowBit | m_bitMode | m_laneBits; }

    // ---- What the members decide ----
    virtual int WriteChipTables() = 0;  // the register tables of Init
    // The window; a failure ends Init only where the member says so.
    virtual int WriteWindow() = 0;
    virtual int WriteClosing() = 0;  // Init's last list, whose status is Init's
    // Line length and base frame length of a speed; false when the frame length already holds
    // the speed (no further scaling).
    virtual bool BaseLengths(int hw, int speed, uint32_t& lineLength, uint32_t& frameLength) = 0;
    virtual int WriteLengths(uint32_t lineLength, uint32_t frameLength) = 0;
    virtual int StartChip() = 0;  // the chip's own start after the FPGA runs
    virtual int StopChip(bool onBoard) = 0;

    const Chip& m_chip;
    int32_t m_triggerMode = 0;  // 0 continuous, 1 software, 2 hardware
    uint16_t m_laneBits = 4;
    uint16_t m_lowBit = 0;  // 1 with 8-bit output
};
