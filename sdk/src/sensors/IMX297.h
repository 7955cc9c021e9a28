// CIMX297: the 0.4-megapixel Sony IMX297 global-shutter chip, codes 42 "IMX297C" and 43
// "IMX297M", on hardware types 100 and 201 (board 9 only resets it).
#pragma once

#include <cstdint>

#include "IMX264Family.h"

class CIMX297 : public CIMX264Family {
  public:
    CIMX297(SensorTypeE type, imginf* inf);

    static int GetSensorInfo(SensorTypeE type, SensorInfo* info);
    static int Probe(SensorTypeE type, imginf* inf);  // 0: no identity check

  private:
    int ApplyClock(CameraInitParam& param) override;
    uint32_t SpeedLineLength(int hw) const override;
};
