// CIMX296: the 1.6-megapixel Sony IMX296 global-shutter chip, codes 48 "IMX296C" and 49
// "IMX296M", on hardware types 9, 100, 201, 204 and 205. The FPGA follows every shutter change;
// board 204 reads up to four chips side by side, enabled by the stream's channel mask.
#pragma once

#include <cstdint>

#include "IMX264Family.h"

class CIMX296 : public CIMX264Family {
  public:
    CIMX296(SensorTypeE type, imginf* inf);

    static int GetSensorInfo(SensorTypeE type, SensorInfo* info);
    static int Probe(SensorTypeE type, imginf* inf);  // 0: no identity check

  private:
    int ApplyClock(CameraInitParam& param) override;
    uint32_t SpeedLineLength(int hw) const override;
    uint32_t SpeedFrameLength(int hw, uint32_t scaled) const override;
    void BeforeShutter(bool longFrame, uint32_t shutter) override;
};
