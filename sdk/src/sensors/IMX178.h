// CIMX178: the 6-megapixel Sony IMX178, codes 17 "IMX178C" and 21 "IMX178M", on hardware types
// 104, 110, 201, 203 and 205. Its shutter counts back from the frame end and stretches the frame
// for long exposures; gain is logarithmic in 0.1 dB steps.
#pragma once

#include <cstdint>

#include "SensorBase.h"

class CIMX178 : public CSensorBase {
  public:
    CIMX178(SensorTypeE type, imginf* inf);

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

  private:
    bool OnItsBoard();
    uint16_t WordBits() const { return m_lowBit | m_bitMode | m_laneBits; }
    int ApplyClock();

    bool m_longExposure = false;  // the frame is stretched for a long exposure
    uint16_t m_laneBits = 0;      // 4 on board 205, else 0
    uint16_t m_lowBit = 0;        // 1 with 8-bit output
};
