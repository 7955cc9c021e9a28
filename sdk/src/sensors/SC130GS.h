// CSC130GS: the 1.3-megapixel SmartSens SC130GS global-shutter chip, codes 53 "SC130GSC" and 54
// "SC130GSM", on hardware types 9, 106, 110, 201 and 205 (16-bit registers, 8-bit data, bus
// 0x60/0x12). Its exposure counts eighths of a line; in the trigger modes the exposure is the
// FPGA's trigger pulse. Board 106 reads up to four chips side by side.
#pragma once

#include <cstdint>

#include "SensorBase.h"

class CSC130GS : public CSensorBase {
  public:
    CSC130GS(SensorTypeE type, imginf* inf);

    static int GetSensorInfo(SensorTypeE type, SensorInfo* info);
    static int Probe(SensorTypeE type, imginf* inf);  // always 0, without device traffic

    int Reset() override;
    int Init(CameraInitParam* param) override;
    int SetExposureLines(uint32_t lines) override;
    int SetExposure(double us) override;
    int GetExposureLineTime(double* us) override;  // 1.0 while the exposure is a pulse width
    int SetFrameSpeed(int speed) override;
    int SetAnalogGain(uint32_t gain) override;
    int SetBlackLevel(uint32_t level) override;  // the chip keeps its own: nothing is stored
    int StreamOn() override;
    int StreamOff() override;
    int SetTriggerMode(int mode) override;
    int SoftTrigger() override;
    int GetImageInfo(stImageInfo* info) override;
    void GetCapability(SensorCapability& cap) override;

  private:
    static bool Serves(int hw) { return sensor::IsOneOf(hw, {9, 106, 110, 201, 205}); }
    // Eighths of a line: what the 16-bit register pair holds, the time it makes reported.
    int WriteEighths(uint32_t eighths);
    void UseLineRange();

    uint8_t m_channelCount = 1;
    uint32_t m_baseFrameLength = 0;  // board 106: the frame of the chip count
    bool m_triggerWidth = false;     // the exposure is the FPGA trigger pulse
};
