// CIMX990: the 1.3-megapixel Sony IMX990 SWIR chip, code 57 "IMX990I", on hardware types 9, 100,
// 110, 111, 201 and 205.
#pragma once

#include "IMX990Family.h"

class CIMX990 : public CIMX990Family {
  public:
    CIMX990(SensorTypeE type, imginf* inf);

    static int GetSensorInfo(SensorTypeE type, SensorInfo* info);
    static int Probe(SensorTypeE type, imginf* inf);  // 0: no identity check
};
