// CAR0135: the 1.2-megapixel global-shutter AR0135, codes 71 "AR0135C" and 72 "AR0135M", on
// hardware types 110 and 205. Its line and frame length are fixed (1388 x 997 clocks of
// 74.25 MHz); the frame speed changes nothing on the chip.
#pragma once

#include <cstdint>

#include "AptinaSensor.h"

class CAR0135 : public CAptinaSensor {
  public:
    CAR0135(SensorTypeE type, imginf* inf);

    static int GetSensorInfo(SensorTypeE type, SensorInfo* info);
    static int Probe(SensorTypeE type, imginf* inf);  // 0x3000 must read 0x0754

    int Init(CameraInitParam* param) override;
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
    bool Mono() const { return m_sensorType == SENSOR_TYPE_AR0135M; }
};
