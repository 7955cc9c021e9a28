// CAR0130C: the 1.2-megapixel colour AR0130, code 2 "AR0130", on the USB boards 1, 2, 3, 9, 100
// and 300 to 305 and the GigE boards 200 to 205; any other board takes the defaults of an
// unknown board (its own pads, GPIO 67 for the soft trigger). The frame speed divides the clock.
#pragma once

#include <cstdint>

#include "AptinaSensor.h"

class CAR0130C : public CAptinaSensor {
  public:
    CAR0130C(SensorTypeE type, imginf* inf);

    static int GetSensorInfo(SensorTypeE type, SensorInfo* info);
    static int Probe(SensorTypeE type, imginf* inf);  // 0x3000 must read 0x2402

    int Init(CameraInitParam* param) override;
    int Uninit() override;
    int SetFrameSpeed(int speed) override;
    int SetAnalogGain(uint32_t gain) override;
    int StreamOn() override;
    int StreamOff() override;
    int SetTriggerMode(int mode) override;
    int SoftTrigger() override;
    int SetRoiOffset(int x, int y) override;
    int GetImageInfo(stImageInfo* info) override;
    void GetCapability(SensorCapability& cap) override;

  private:
    void ApplyWindow();
    int BoardStep();
};
