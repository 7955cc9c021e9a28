// CIMX264: the 5-megapixel Sony IMX264 global-shutter chip, codes 32 "IMX264C" and 33
// "IMX264M", on hardware types 100, 110, 201, 203 and 205.
#pragma once

#include <cstdint>

#include "IMX264Family.h"

class CIMX264 : public CIMX264Family {
  public:
    CIMX264(SensorTypeE type, imginf* inf);

    static int GetSensorInfo(SensorTypeE type, SensorInfo* info);
    static int Probe(SensorTypeE type, imginf* inf);  // 0: no identity check

  private:
    int ApplyClock(CameraInitParam& param) override;
    uint32_t SpeedLineLength(int hw) const override;
};
