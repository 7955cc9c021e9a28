// CIMX225: the 1280 x 960 colour Sony IMX225, code 51 "IMX225C", on hardware types 100, 201 and
// 8. Its shutter counts back from the frame end and stretches the frame for long exposures; on
// board 8 exposures above 20 s move the chip to a 1 MHz input clock and stretch the line.
#pragma once

#include <cstdint>

#include "SensorBase.h"

class CIMX225 : public CSensorBase {
  public:
    CIMX225(SensorTypeE type, imginf* inf);

    static int GetSensorInfo(SensorTypeE type, SensorInfo* info);
    static int Probe(SensorTypeE type, imginf* inf);  // 0: no identity check

    int Reset() override;
    int Init(CameraInitParam* param) override;
    int SetExposureLines(uint32_t lines) override;
    int SetExposure(double us) override;
    int SetFrameSpeed(int speed) override;
    int SetAnalogGain(uint32_t gain) override;
    int SetBlackLevel(uint32_t level) override;
    int StreamOn() override;
    int StreamOff() override;
    int SetTriggerMode(int mode) override;
    int SoftTrigger() override;
    void GetCapability(SensorCapability& cap) override;

    struct Board;  // a row of the board table (in the source)

  private:
    const Board* CurrentBoard();
    bool TwelveBit() const { return m_bitMode == 32; }
    uint16_t WordBits() const { return m_slowClockBits | m_adc10Bit | m_bitMode | m_ifModeBits; }
    int WriteNormalClock();  // the clock set of the normal input clock, halved for 12 bits
    void UpdateTiming();
    // Board 8: the slow clock above 20 s, the normal one below, with the chip in standby.
    int SwitchClock(bool slow);
    int RunAfterClockSwitch();
    int SetLineLength(uint32_t lineLength);
    int StretchLine(double us, double divisor);

    bool m_longFrame = false;        // the frame length is stretched to the exposure
    uint16_t m_ifModeBits = 0;       // 0 or 4, in every sensor-interface word
    uint8_t m_readoutReg = 0;        // register 0x3009: readout rate bits 0-1, HCG bit 4
    uint16_t m_adc10Bit = 0;         // 1 with the 10-bit converter
    uint32_t m_savedLineLength = 0;  // line length before a long-exposure stretch (0: none)
    uint16_t m_slowClockBits = 0;    // 0x1000 while the slow clock runs
    int32_t m_presetIndex = 0;       // index of the last resolution record
    uint16_t m_windowX = 0;          // the chip's window start
    uint16_t m_windowY = 0;
    uint32_t m_baseLineLength = 0;  // the window's lengths before the frame speed (board 8)
    uint32_t m_baseFrameLength = 0;
};
