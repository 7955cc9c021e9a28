// CEV76C560: the 1.3-megapixel e2v EV76C560, codes 24 "EV76C560C" and 25 "EV76C560M", on hardware
// types 100, 201, 203 and 305.
#pragma once

#include "EV76Family.h"

class CEV76C560 : public CEV76Family {
  public:
    CEV76C560(SensorTypeE type, imginf* inf);

    static int GetSensorInfo(SensorTypeE type, SensorInfo* info);
    // Register 0x7F must read 0x0800; -56 when it holds another value.
    static int Probe(SensorTypeE type, imginf* inf);
};
