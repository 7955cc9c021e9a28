// CIMX290_WDR: a colour IMX290 camera module with its own exposure control and wide dynamic
// range, code 50 "IMX290C WDR", on the GigE board 201 only. The module is programmed through
// registers in the 0x8000 range written as sensor registers; its line time is fixed at 20 us, the
// exposure is a step code, and the AE target and the WDR switch live on the module, so the
// capability declares both and the controller sends them here.
#pragma once

#include <cstdint>

#include "SensorBase.h"

class CIMX290_WDR : public CSensorBase {
  public:
    CIMX290_WDR(SensorTypeE type, imginf* inf);

    static int GetSensorInfo(SensorTypeE type, SensorInfo* info);
    static int Probe(SensorTypeE type, imginf* inf);  // 0: no identity check

    int Reset() override;
    int Init(CameraInitParam* param) override;
    int SetExposureLines(uint32_t lines) override;
    int SetExposure(double us) override;
    int SetFrameSpeed(int speed) override;  // any speed: the module's timing is fixed
    int SetAnalogGain(uint32_t gain) override;
    int SetWdrMode(int mode) override;
    int GetWdrMode(int* mode) override;
    int SetAeTarget(int target) override;
    int StreamOn() override;
    int StreamOff() override;
    int SetTriggerMode(int mode) override;
    int SoftTrigger() override;
    int GetImageInfo(stImageInfo* info) override;
    void GetCapability(SensorCapability& cap) override;

  private:
    bool OnItsBoard();

    int32_t m_wdrMode = 0;
    int32_t m_aeTarget = 48;
};
