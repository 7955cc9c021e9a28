// CIMX226: the 12-megapixel Sony IMX226, codes 30 "IMX226C" and 31 "IMX226M", on hardware types
// 100, 110, 201, 203 and 205. The FPGA cuts the window out of the full sensor output, and long
// exposures stretch the frame timing the FPGA generates, with a divider in register 0x0D for the
// longest ones.
#pragma once

#include <cstdint>

#include "IMX183Family.h"

class CIMX226 : public CIMX183Family {
  public:
    CIMX226(SensorTypeE type, imginf* inf);

    static int GetSensorInfo(SensorTypeE type, SensorInfo* info);
    static int Probe(SensorTypeE type, imginf* inf);  // 0: no identity check

    int Init(CameraInitParam* param) override;
    int SetExposureLines(uint32_t lines) override;
    int SetBlackLevel(uint32_t level) override;
    void GetCapability(SensorCapability& cap) override;

  private:
    void ScaleLengths(int speed, uint32_t& lineLength, uint32_t& frameLength) override;
    uint32_t MaxExposureLines() const override;
    void ApplyWindow() override;
    int ApplyClock();

    bool m_longExposure = false;  // the FPGA frame timing is stretched
};
