// CIMX290: the 1920 x 1080 Sony IMX290 on thirteen carrier boards (hardware types 4, 5, 9, 102,
// 105, 106, 108, 200, 201, 202, 204, 205 and 304), for the codes 13 "IMX290C_AST", 14 "IMX290C",
// 36 "IMX290M_AST" and 37 "IMX290M". Boards 106 and 204 carry up to four chips side by side on a
// serial receiver, enabled by the stream's channel mask; the image is then that many windows
// wide. The AST variants (13, 36) reach exposures of many minutes by switching the chip to a slow
// input clock above 100 s and stretching the line length.
#pragma once

#include <cstdint>

#include "SensorBase.h"

class CIMX290 : public CSensorBase {
  public:
    CIMX290(SensorTypeE type, imginf* inf);

    static int GetSensorInfo(SensorTypeE type, SensorInfo* info);
    static int Probe(SensorTypeE type, imginf* inf);  // 0: the chip has no identity check

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
    int GetImageInfo(stImageInfo* info) override;
    int SetRoiOffset(int x, int y) override;
    void GetCapability(SensorCapability& cap) override;

    struct Board;  // a row of the board table (in the source)

  private:
    const Board* CurrentBoard();
    bool IsAst() const;
    bool TwelveBit() const { return m_bitMode == 32; }
    uint16_t InterfaceBits() const { return m_adc10Bit | m_bitMode | m_ifModeBits; }
    // Line and frame length of a window other than the fixed modes (serial and parallel alike).
    void WindowLengths(uint32_t& widthPadded, uint32_t& heightPadded);
    int WriteWindow(uint32_t widthPadded, uint32_t heightPadded);
    int InitSerial(const CameraInitParam& param);
    int InitParallel(const Board& board, const CameraInitParam& param);
    int WriteConverter(const Board& board);
    // The timing members after a change of clock or line length, and the AST exposure maximum.
    void UpdateTiming();
    double LongestExposureUs();
    int SwitchClock(const Board& board, bool slow);
    int StretchLineLength(double us, bool atLongest);

    bool m_longFrame = false;        // the frame length is stretched to the exposure
    bool m_slowClock = false;        // the AST slow clock is in use
    uint16_t m_ifModeBits = 0;       // 0, 4 or 12, in every sensor-interface word
    uint8_t m_readoutReg = 0;        // register 0x3009: readout rate bits 0-1, HCG bit 4
    uint16_t m_adc10Bit = 0;         // 1 with the 10-bit converter, 0 with 12 bits
    uint16_t m_ifRoiBits = 0;        // 0x2000 in the run word for the skipping mode
    int32_t m_lastFrameSpeed = 0;    // speed of the last SetFrameSpeed
    uint32_t m_savedLineLength = 0;  // HMAX before a long-exposure stretch (0: none)
    uint8_t m_channelCount = 1;      // chips in use on boards 106 and 204
    // The line and frame lengths the window gives before the frame speed scales them.
    uint32_t m_baseLineLength = 0;
    uint32_t m_baseFrameLength = 0;
};
