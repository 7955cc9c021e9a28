// CIMX392: the 2.3-megapixel Sony IMX392 global-shutter chip, codes 55 "IMX392C" and 56
// "IMX392M", on hardware types 9, 100, 106 and 201. Board 106 reads up to four chips side by
// side, enabled by the stream's channel mask; the chip reads no window narrower than 516 pixels.
#pragma once

#include <cstdint>

#include "IMX264Family.h"

class CIMX392 : public CIMX264Family {
  public:
    CIMX392(SensorTypeE type, imginf* inf);

    static int GetSensorInfo(SensorTypeE type, SensorInfo* info);
    static int Probe(SensorTypeE type, imginf* inf);  // 0: no identity check

  private:
    int ApplyClock(CameraInitParam& param) override;
};
