// CIMX183: the 20-megapixel Sony IMX183, codes 22 "IMX183C" and 23 "IMX183M", on hardware types
// 100, 110, 201, 203 and 205. Long exposures span whole frames: a frame count in 0x0D/0x0E plus
// a shutter start inside the last frame.
#pragma once

#include <cstdint>

#include "IMX183Family.h"

class CIMX183 : public CIMX183Family {
  public:
    CIMX183(SensorTypeE type, imginf* inf);

    static int GetSensorInfo(SensorTypeE type, SensorInfo* info);
    static int Probe(SensorTypeE type, imginf* inf);  // 0: no identity check

    int Init(CameraInitParam* param) override;
    int SetExposureLines(uint32_t lines) override;
    void GetCapability(SensorCapability& cap) override;

  private:
    void ScaleLengths(int speed, uint32_t& lineLength, uint32_t& frameLength) override;
    uint32_t MaxExposureLines() const override;
    int ApplyClock();

    uint16_t m_frameCount = 0;  // frame count last written to 0x0D/0x0E
};
