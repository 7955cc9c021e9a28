// CIMX265: the 3-megapixel Sony IMX265 global-shutter chip, codes 34 "IMX265C" and 35
// "IMX265M", on hardware types 100, 110, 201, 203 and 205. Its exposure times count the 14 us the
// chip adds to every shutter.
#pragma once

#include <cstdint>

#include "IMX264Family.h"

class CIMX265 : public CIMX264Family {
  public:
    CIMX265(SensorTypeE type, imginf* inf);

    static int GetSensorInfo(SensorTypeE type, SensorInfo* info);
    static int Probe(SensorTypeE type, imginf* inf);  // 0: no identity check

  private:
    int ApplyClock(CameraInitParam& param) override;
    uint32_t SpeedLineLength(int hw) const override;
};
