// CPYTHON1300: the 1.3-megapixel ON Semiconductor PYTHON1300, codes 28 "PYTHON1300C" and 29
// "PYTHON1300M", on hardware types 100, 201 and 203 (16-bit registers and data, bus 0x00/0x22).
// It counts exposure and frame period in units of a timer set to one microsecond; exposures past
// 65535 units stretch the unit instead. The chip's sequencer runs continuous or triggered;
// streaming only switches the FPGA.
#pragma once

#include <cstdint>

#include "SensorBase.h"

class CPYTHON1300 : public CSensorBase {
  public:
    CPYTHON1300(SensorTypeE type, imginf* inf);

    static int GetSensorInfo(SensorTypeE type, SensorInfo* info);
    // Registers 0x000 and 0x001 must read 0x50D0 and 0x0001; -56 otherwise.
    static int Probe(SensorTypeE type, imginf* inf);

    int Reset() override;
    int Init(CameraInitParam* param) override;
    int SetExposureLines(uint32_t units) override;  // in timer units (microseconds)
    int SetExposure(double us) override;
    int SetFrameSpeed(int speed) override;
    int SetAnalogGain(uint32_t gain) override;
    int StreamOn() override;
    int StreamOff() override;
    int SetTriggerMode(int mode) override;
    int SoftTrigger() override;
    void GetCapability(SensorCapability& cap) override;

  private:
    static bool Serves(int hw) { return hw == 100 || hw == 201 || hw == 203; }
    uint16_t WordBits() const { return m_laneBits | m_bitMode; }

    uint16_t m_laneBits = 0;
    uint16_t m_multiplier = 1;  // clocks per timer unit
};
