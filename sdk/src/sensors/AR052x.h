// CAR052x: the 5-megapixel AR0521 and AR0522, codes 64 "AR0521C", 65 "AR0521M" and 66 "AR0522M",
// on hardware types 9 and 201. The timing model (line 8000, frame 2346 lines, counted up for
// the slower speeds) is what the chip is programmed with. The gain stays at unity: the chips'
// gain is not driven.
#pragma once

#include <cstdint>

#include "AptinaSensor.h"

class CAR052x : public CAptinaSensor {
  public:
    CAR052x(SensorTypeE type, imginf* inf);

    static int GetSensorInfo(SensorTypeE type, SensorInfo* info);
    // 0x3000 must read 0x0457, bit 12 aside (0x1457 is a revision of the same chip).
    static int Probe(SensorTypeE type, imginf* inf);

    int Init(CameraInitParam* param) override;
    int Uninit() override;
    int SetFrameSpeed(int speed) override;
    int SetAnalogGain(uint32_t gain) override;  // nothing written: unity stays in force
    int StreamOn() override;
    int StreamOff() override;
    int SetTriggerMode(int mode) override;
    int SoftTrigger() override;
    int SetRoiOffset(int x, int y) override;
    void GetCapability(SensorCapability& cap) override;

  private:
    void ApplyWindow();
    bool Mono() const { return m_sensorType != SENSOR_TYPE_AR0521C; }

    uint32_t m_baseFrameLength = 0;  // the model's frame length before the speed
};
