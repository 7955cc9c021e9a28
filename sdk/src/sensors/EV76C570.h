// CEV76C570: the 2-megapixel e2v EV76C570, codes 26 "EV76C570C" and 27 "EV76C570M", on hardware
// types 100, 201, 203, 205 and 305.
#pragma once

#include "EV76Family.h"

class CEV76C570 : public CEV76Family {
  public:
    CEV76C570(SensorTypeE type, imginf* inf);

    static int GetSensorInfo(SensorTypeE type, SensorInfo* info);
    // Register 0x7F must read 0x0900; -56 when it holds another value.
    static int Probe(SensorTypeE type, imginf* inf);
};
