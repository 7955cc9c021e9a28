// CAR0144: the 1-megapixel mono AR0144, code 52 "AR0144", on the GigE board 201, which carries
// four of them side by side as one image four windows wide. The gain is a power of two plus
// sixteenths in one register.
#pragma once

#include <cstdint>

#include "AptinaSensor.h"

class CAR0144 : public CAptinaSensor {
  public:
    CAR0144(SensorTypeE type, imginf* inf);

    static int GetSensorInfo(SensorTypeE type, SensorInfo* info);
    static int Probe(SensorTypeE type, imginf* inf);  // 0x3000 must read 0x0356

    int Init(CameraInitParam* param) override;
    int Uninit() override;
    int SetFrameSpeed(int speed) override;
    int SetAnalogGain(uint32_t gain) override;
    int StreamOn() override;
    int StreamOff() override;
    int SetTriggerMode(int mode) override;
    int SoftTrigger() override;
    int SetRoiOffset(int x, int y) override;
    void GetCapability(SensorCapability& cap) override;

  private:
    void ApplyWindow();
};
