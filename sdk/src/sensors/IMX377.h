// CIMX377: the 12-megapixel colour Sony IMX377, code 70 "IMX377C", on hardware types 110 and 205.
// Long exposures span whole frames (frame count plus shutter start); the analog gain code out of
// 2048 takes a x2 digital step above x16.
#pragma once

#include <cstdint>

#include "IMX377Family.h"

class CIMX377 : public CIMX377Family {
  public:
    CIMX377(SensorTypeE type, imginf* inf);

    static int GetSensorInfo(SensorTypeE type, SensorInfo* info);
    static int Probe(SensorTypeE type, imginf* inf);  // 0: no identity check

    int SetExposureLines(uint32_t lines) override;
    int SetExposure(double us) override;
    int SetAnalogGain(uint32_t gain) override;

  private:
    int WriteChipTables() override;
    int WriteWindow() override;
    int WriteClosing() override;
    bool BaseLengths(int hw, int speed, uint32_t& lineLength, uint32_t& frameLength) override;
    int WriteLengths(uint32_t lineLength, uint32_t frameLength) override;
    int StartChip() override;
    int StopChip(bool onBoard) override;
};
