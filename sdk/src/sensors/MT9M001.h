// CMT9M001: the 1.3-megapixel MT9M001, codes 7 (mono) and 12 (colour), both "MT9M001". The frame
// speed changes the pixel period only (on an unknown board, hardware type 0, the horizontal
// blank instead); the exposure runs 180 pixel periods short of its lines.
#pragma once

#include <cstdint>

#include "MicronSensor.h"

class CMT9M001 : public CMicronSensor {
  public:
    CMT9M001(SensorTypeE type, imginf* inf);

    static int GetSensorInfo(SensorTypeE type, SensorInfo* info);
    // Register 0x00 must read 0x8431 (code 7) or 0x8421 (code 12).
    static int Probe(SensorTypeE type, imginf* inf);

    int Init(CameraInitParam* param) override;
    int Uninit() override;
    int SetFrameSpeed(int speed) override;  // any speed
    int StreamOn() override;
    int StreamOff() override;
    int SetTriggerMode(int mode) override;
    int SoftTrigger() override;
    void GetCapability(SensorCapability& cap) override;

  private:
    void ApplyWindow();
    int BoardStep(int speed);
    bool Mono() const { return m_sensorType == SENSOR_TYPE_MT9M001; }
};
