// CMT9V024: the 0.36-megapixel Micron MT9V024, codes 5 "MT9V024C" and 6 "MT9V024M". Its clock is
// fixed per board and the frame speed changes nothing. On boards whose FPGA has no trigger input
// the chip takes the software trigger on GPIO 67.
#pragma once

#include <cstdint>

#include "MicronSensor.h"

class CMT9V024 : public CMicronSensor {
  public:
    CMT9V024(SensorTypeE type, imginf* inf);

    static int GetSensorInfo(SensorTypeE type, SensorInfo* info);
    // Register 0x00 must read 0x1324; -56 when it holds another value.
    static int Probe(SensorTypeE type, imginf* inf);

    int Init(CameraInitParam* param) override;
    int Uninit() override;
    int SetFrameSpeed(int speed) override;  // any speed; the timing stays
    int SetExposureLines(uint32_t lines) override;
    int SetExposure(double us) override;
    int SetAnalogGain(uint32_t gain) override;
    int StreamOn() override;
    int StreamOff() override;
    int SetTriggerMode(int mode) override;
    int SoftTrigger() override;
    void GetCapability(SensorCapability& cap) override;

  private:
    void ApplyWindow();
    bool Mono() const { return m_sensorType == SENSOR_TYPE_MT9V024M; }
};
