// CIMX577: the 12-megapixel colour Sony IMX577, code 74 "IMX577C", on hardware types 110 and 205.
// The exposure is a line count of its own (0x0202/0x0203) written under the grouped-update hold
// 0x0104; longer exposures stretch the frame; the gain is an analog code plus a digital one.
#pragma once

#include <cstdint>

#include "IMX377Family.h"

class CIMX577 : public CIMX377Family {
  public:
    CIMX577(SensorTypeE type, imginf* inf);

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

    bool m_longExposure = false;  // the frame is stretched for a long exposure
};
