// CMT9J003: the 10-megapixel MT9J003, codes 8 "MT9J003C" and 9 "MT9J003M", on the widest range
// of boards (USB 1, 2, 3, 7, 9, 100, 108, 110 and 300 to 305, GigE 200 to 205; any other board
// runs at 36 MHz without FPGA set-up). Its registers are of the SMIA kind (exposure 0x0202, line
// and frame length 0x0342/0x0340, output size 0x034C/0x034E, odd increments for skipping); its
// gain is one register with four coarse ranges; board 7 reads one or two chips side by side.
#pragma once

#include <cstdint>

#include "AptinaSensor.h"

class CMT9J003 : public CAptinaSensor {
  public:
    CMT9J003(SensorTypeE type, imginf* inf);

    static int GetSensorInfo(SensorTypeE type, SensorInfo* info);
    static int Probe(SensorTypeE type, imginf* inf);  // 0x0000 must read 0x2C01

    int Init(CameraInitParam* param) override;
    int SetFrameSpeed(int speed) override;
    int SetAnalogGain(uint32_t gain) override;
    int StreamOn() override;
    int StreamOff() override;
    int SetTriggerMode(int mode) override;
    int SoftTrigger() override;
    void GetCapability(SensorCapability& cap) override;

    // The gain register code of a gain and the gain (thousandths) a code gives.
    static uint16_t EncodeGain(uint32_t gainMilli);
    static uint32_t DecodeGain(uint16_t code, uint32_t previous);

  private:
    void ApplyWindow();
    int BoardStep(uint32_t width);
    bool Triggers();  // the FPGA group and board 110

    uint16_t m_endColumn = 0;
    uint16_t m_endRow = 0;
    uint16_t m_increment = 1;  // odd increment of columns and rows (3 or 7 when skipping)
};
