// CIMX533: the 9-megapixel Sony IMX533 colour chip, code 38 "IMX533C", on hardware types 107 and
// 201. Its shutter reaches further through a frame multiplier (x2, x4); past four frames of 16383
// lines the host-timed long-exposure cycle takes over.
#pragma once

#include <cstdint>

#include "IMX294Family.h"

class CIMX533 : public CIMX294Family {
  public:
    CIMX533(SensorTypeE type, imginf* inf);

    static int GetSensorInfo(SensorTypeE type, SensorInfo* info);
    static int Probe(SensorTypeE type, imginf* inf);  // 0: no identity check

    int Init(CameraInitParam* param) override;
    int SetExposureLines(uint32_t lines) override;
    int SetAnalogGain(uint32_t gain) override;

  private:
    int WriteWindow() override;
    int WriteStandby() override;
    bool CycleRunning() override;
    int SoftTriggerPeriod() override;
    int WriteLongShutter(uint16_t multiplier);

    // 0 ordinary shutter, 1 frame stretched by the multiplier, 2 the host times the exposure.
    int32_t m_longExpMode = 0;
};
