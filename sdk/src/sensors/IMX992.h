// CIMX992: the 5-megapixel Sony IMX992 SWIR chip, code 73 "IMX992I", on hardware types 111 and 205
// (board 110 only resets it). The FPGA generates its frame on both boards.
#pragma once

#include "IMX990Family.h"

class CIMX992 : public CIMX990Family {
  public:
    CIMX992(SensorTypeE type, imginf* inf);

    static int GetSensorInfo(SensorTypeE type, SensorInfo* info);
    static int Probe(SensorTypeE type, imginf* inf);  // 0: no identity check
};
