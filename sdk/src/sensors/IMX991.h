// CIMX991: the 0.33-megapixel Sony IMX991 SWIR chip, code 59 "IMX991I", on hardware types 9, 100,
// 110, 111, 201 and 205.
#pragma once

#include "IMX990Family.h"

class CIMX991 : public CIMX990Family {
  public:
    CIMX991(SensorTypeE type, imginf* inf);

    static int GetSensorInfo(SensorTypeE type, SensorInfo* info);
    static int Probe(SensorTypeE type, imginf* inf);  // 0: no identity check
};
