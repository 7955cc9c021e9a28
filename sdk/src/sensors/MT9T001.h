// CMT9T001: the 3-megapixel Micron MT9T001, code 1 "MT9T001". Its pixel clock is 48 MHz divided
// by a divider in register 0x0A, set by the frame speed; it is the one chip whose frame time can
// be asked for: the vertical blank, then the divider, then the horizontal blank stretch or
// shorten the frame towards it. On boards whose FPGA has no trigger input the chip takes the
// software trigger itself.
#pragma once

#include <cstdint>

#include "MicronSensor.h"

class CMT9T001 : public CMicronSensor {
  public:
    CMT9T001(SensorTypeE type, imginf* inf);

    static int GetSensorInfo(SensorTypeE type, SensorInfo* info);
    // Register 0x00 must read 0x1621; -56 when it holds another value.
    static int Probe(SensorTypeE type, imginf* inf);

    int Init(CameraInitParam* param) override;
    int Uninit() override;
    int SetFrameSpeed(int speed) override;
    // The frame time nearest t (in us) the blanks and the divider reach; GetFrameTime reports it.
    int SetFrameTime(double us) override;
    // 83333 us to the longest frame the window reaches (at most 2000 s).
    int GetFrameTimeRange(int* min, int* max) override;
    int SetAnalogGain(uint32_t gain) override;
    int SetBlackLevel(uint32_t level) override;
    int StreamOn() override;
    int StreamOff() override;
    int SetTriggerMode(int mode) override;
    int SoftTrigger() override;
    void GetCapability(SensorCapability& cap) override;

  private:
    void ApplyWindow();
    static double PeriodOf(uint8_t divider);
    double LongestFrameUs() const;
    int SetDivider(uint8_t divider);
    // The horizontal blank that makes `frameLines` lines last targetNs at the pixel period.
    void FitLine(double targetNs, uint32_t frameLines);

    uint8_t m_divider = 0;
};
