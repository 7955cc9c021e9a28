// CJXF28P: the 2-megapixel SOI JX-F28P, code 67 "JXF28PC", on hardware type 110 only (8-bit
// registers and data, bus 0x80/0x11). The FPGA cuts the window out of the chip's full frame;
// exposures longer than the frame stretch it, and the next shorter one puts it back.
#pragma once

#include <cstdint>

#include "SensorBase.h"

class CJXF28P : public CSensorBase {
  public:
    CJXF28P(SensorTypeE type, imginf* inf);

    static int GetSensorInfo(SensorTypeE type, SensorInfo* info);
    // Registers 0x0A and 0x0B must read 0x08 and 0x50; -56 otherwise.
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
    void GetCapability(SensorCapability& cap) override;

  private:
    static constexpr int kBoard = 110;
    bool OnItsBoard() { return GetHardwareType() == kBoard; }
};
