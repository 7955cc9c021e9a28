// CIMX206: the 16-megapixel Sony IMX206, code 16 "IMX206", on hardware types 6, 103, 200, 201
// and 203. The frame speed acts through the input clock chosen at Init; the chip cuts its own
// window; long exposures span whole frames (frame count plus shutter start).
#pragma once

#include <cstdint>

#include "IMX183Family.h"

class CIMX206 : public CIMX183Family {
  public:
    CIMX206(SensorTypeE type, imginf* inf);

    static int GetSensorInfo(SensorTypeE type, SensorInfo* info);
    static int Probe(SensorTypeE type, imginf* inf);  // 0: no identity check

    int Init(CameraInitParam* param) override;
    int SetExposureLines(uint32_t lines) override;
    void GetCapability(SensorCapability& cap) override;

  private:
    void ScaleLengths(int speed, uint32_t& lineLength, uint32_t& frameLength) override;
    uint32_t MaxExposureLines() const override;
    int ApplyClock(int speed);
    int WriteWindow();

    uint16_t m_frameCount = 0;  // frame count last written to 0x0D/0x0E
};
