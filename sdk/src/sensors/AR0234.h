// CAR0234: the 2-megapixel global-shutter AR0234, codes 19 "AR0234M" and 20 "AR0234C", on
// hardware types 9, 100, 106, 110, 201, 205 and 305. It picks a whole clock table per board (and,
// on boards 100 and 106, per number of chips: board 106 carries up to four side by side), counts
// the frame length up for the slower speeds, and reads binned or skipped windows.
#pragma once

#include <cstdint>

#include "AptinaSensor.h"

class CAR0234 : public CAptinaSensor {
  public:
    CAR0234(SensorTypeE type, imginf* inf);

    static int GetSensorInfo(SensorTypeE type, SensorInfo* info);
    // 0x3000 must read 0x0A56; board 106 leaves its chips unchecked.
    static int Probe(SensorTypeE type, imginf* inf);

    int Init(CameraInitParam* param) override;
    int SetFrameSpeed(int speed) override;
    int SetAnalogGain(uint32_t gain) override;
    int StreamOn() override;
    int StreamOff() override;
    int SetTriggerMode(int mode) override;
    int SoftTrigger() override;
    int SetResolution(tSdkResolution* res) override;
    int GetResolution(tSdkResolution* res) override;
    int SetRoiOffset(int x, int y) override;
    void GetCapability(SensorCapability& cap) override;

  private:
    void ApplyWindow();
    bool WideBoard();  // 100, 106, 110, 201, 205: the serial interface with lane bits
    bool Mono() const { return m_sensorType == SENSOR_TYPE_AR0234M; }
    int WriteClockTable(uint32_t& clock);

    uint32_t m_baseFrameLength = 0;  // the window's frame length before the speed
    uint32_t m_skipWord = 0;         // readout modes of the resolution record: skipping,
    uint32_t m_binWord = 0;          // binning,
    uint32_t m_thirdWord = 0;        // and the record's first mode word
};
