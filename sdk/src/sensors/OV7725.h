// COV7725: the OmniVision OV7725 VGA chip, code 18 "OV7725", on any board (a reset line only on
// board 303). It sits on an 8-bit bus (address 0x42, 8-bit registers and data), takes one
// initialisation list with its window in it, runs at three fixed speeds and delivers two bytes
// per pixel; the FPGA takes the frames as they come, without an image window.
#pragma once

#include <cstdint>

#include "SensorBase.h"

class COV7725 : public CSensorBase {
  public:
    COV7725(SensorTypeE type, imginf* inf);

    static int GetSensorInfo(SensorTypeE type, SensorInfo* info);
    // Register 0x0A must read 0x77; -56 when it holds another value.
    static int Probe(SensorTypeE type, imginf* inf);

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
    int GetImageInfo(stImageInfo* info) override;
    int SetRoiOffset(int x, int y) override;
    void GetCapability(SensorCapability& cap) override;

  private:
    void ApplyWindow();
};
