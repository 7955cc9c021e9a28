// CMT9P031: the 5-megapixel MT9P031, codes 3 "MT9P031C" and 4 "MT9P031M". The frame speed sets
// the chip's own clock registers (0x10 to 0x12); the line time is the longer of the chip's two
// readout limits; the exposure runs the shutter delay short of its lines.
#pragma once

#include <cstdint>

#include "MicronSensor.h"

class CMT9P031 : public CMicronSensor {
  public:
    CMT9P031(SensorTypeE type, imginf* inf);

    static int GetSensorInfo(SensorTypeE type, SensorInfo* info);
    // Register 0x00 must read 0x1801 (whatever the reset answered).
    static int Probe(SensorTypeE type, imginf* inf);

    int Init(CameraInitParam* param) override;
    int SetFrameSpeed(int speed) override;
    int StreamOn() override;
    int StreamOff() override;
    int SetTriggerMode(int mode) override;
    int SoftTrigger() override;
    int SetRoiOffset(int x, int y) override;
    void GetCapability(SensorCapability& cap) override;

  private:
    void ApplyWindow();
    int BoardStep();
    bool Mono() const { return m_sensorType == SENSOR_TYPE_MT9P031M; }
};
