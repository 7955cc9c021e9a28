// CIMX335: the 5-megapixel Sony IMX335, codes 40 "IMX335C" and 41 "IMX335M" (the chip generates
// its frame timing) and 68 "IMX335C" and 69 "IMX335M" (the FPGA generates it), on hardware types
// 9, 106, 110, 201, 205 and 306. Board 106 carries up to four chips side by side, enabled by the
// stream's channel mask; board 9 has a skipping mode for preset 32.
#pragma once

#include <cstdint>

#include "SensorBase.h"

class CIMX335 : public CSensorBase {
  public:
    CIMX335(SensorTypeE type, imginf* inf);

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
    int GetImageInfo(stImageInfo* info) override;
    void GetCapability(SensorCapability& cap) override;

  private:
    bool FpgaTimed() const;
    bool InitServed();  // the boards Init serves (Reset serves board 100 too)
    uint16_t WordBits() const { return m_lowBit | m_bitMode | m_laneBits; }
    int ApplyClock(CameraInitParam& param);
    int WriteWindow();
    uint16_t TimingRegister();  // FPGA registers of the frame timing; 0: SetImageTiming
    int FpgaTimedExposure(uint32_t lines);

    uint16_t m_lowBit = 0;     // 1 with 8-bit output on the boards that have it
    uint16_t m_laneBits = 4;   // in every sensor-interface word
    uint16_t m_extraBits = 0;  // 0x1000 in the run word for board 9's skipping mode
    uint8_t m_channelCount = 1;
    bool m_longExposure = false;  // the frame is stretched for a long exposure
};
