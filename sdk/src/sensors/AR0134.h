// CAR0134: the 1.2-megapixel AR0134, codes 10 "AR0134M" and 11 "AR0134C", on the USB boards 1, 2,
// 3, 100 and 300 to 305 and the GigE boards 200 to 205; any other board takes the defaults of an
// unknown board. Register 0x30B0 carries both the column gain and the trigger bit (bit 10), so
// the driver keeps its own copy of it and changes only its bits.
#pragma once

#include <cstdint>

#include "AptinaSensor.h"

class CAR0134 : public CAptinaSensor {
  public:
    CAR0134(SensorTypeE type, imginf* inf);

    static int GetSensorInfo(SensorTypeE type, SensorInfo* info);
    static int Probe(SensorTypeE type, imginf* inf);  // 0x3000 must read 0x2406

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
    int BoardStep();
    bool Mono() const { return m_sensorType == SENSOR_TYPE_AR0134M; }

    uint16_t m_gainCtrl = 0x0080;  // the driver's copy of register 0x30B0
};
