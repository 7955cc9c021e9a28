// CIMX294: the 10-megapixel Sony IMX294 colour chip, code 39 "IMX294C", on hardware types 107 and
// 201. Exposures of a second and more run the host-timed long-exposure cycle.
#pragma once

#include <cstdint>

#include "IMX294Family.h"

class CIMX294 : public CIMX294Family {
  public:
    CIMX294(SensorTypeE type, imginf* inf);

    static int GetSensorInfo(SensorTypeE type, SensorInfo* info);
    static int Probe(SensorTypeE type, imginf* inf);  // 0: no identity check

    int Init(CameraInitParam* param) override;
    int SetExposureLines(uint32_t lines) override;
    int SetFrameSpeed(int speed) override;
    int SetAnalogGain(uint32_t gain) override;
    int SetRoiOffset(int x, int y) override;  // the window moves with the next Init

  private:
    int WriteWindow() override;
    int WriteStandby() override;
    bool CycleRunning() override;
    int SoftTriggerPeriod() override;
};
