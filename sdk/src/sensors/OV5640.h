// COV5640: the OmniVision OV5640, code 15 "OV5640", on any board. The camera runs the chip on its
// own, so the driver never touches the device: it keeps the timing, exposure, gain and window
// values the rest of the SDK reads, for a fixed 1280 x 720 output.
#pragma once

#include <cstdint>

#include "SensorBase.h"

class COV5640 : public CSensorBase {
  public:
    COV5640(SensorTypeE type, imginf* inf);

    static int GetSensorInfo(SensorTypeE type, SensorInfo* info);
    static int Probe(SensorTypeE type, imginf* inf);  // always 0, without device traffic

    int Reset() override;
    int Init(CameraInitParam* param) override;
    int SetExposureLines(uint32_t lines) override;
    int SetExposure(double us) override;
    int SetFrameSpeed(int speed) override;
    int SetAnalogGain(uint32_t gain) override;
    int StreamOn() override;
    int StreamOff() override;
    int SetTriggerMode(int mode) override;
    int SoftTrigger() override;
    int GetResolution(tSdkResolution* res) override;
    void GetCapability(SensorCapability& cap) override;

  private:
    void ApplyWindow();
};
