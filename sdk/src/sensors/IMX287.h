// CIMX287: the 0.4-megapixel Sony IMX287 global-shutter chip, codes 46 "IMX287C" and 47
// "IMX287M", on hardware types 100, 110, 201 and 205. Its frame keeps 14 lines past the shutter,
// and its shortest trigger pulse is 100 us.
#pragma once

#include <cstdint>

#include "IMX264Family.h"

class CIMX287 : public CIMX264Family {
  public:
    CIMX287(SensorTypeE type, imginf* inf);

    static int GetSensorInfo(SensorTypeE type, SensorInfo* info);
    static int Probe(SensorTypeE type, imginf* inf);  // 0: no identity check

  private:
    int ApplyClock(CameraInitParam& param) override;
    uint32_t SpeedLineLength(int hw) const override;
};
