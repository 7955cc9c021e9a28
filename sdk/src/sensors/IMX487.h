// CIMX487: the 2848 x 2848 Sony IMX487 mono chip, code 58 "IMX487U", on hardware types 100, 110,
// 201 and 205. Its windows move in steps of 16 pixels; Init picks its timing tables by the
// readout speed, the output width and the lane count.
#pragma once

#include <cstdint>

#include "ImxHoldMap.h"

class CIMX487 : public CImxHoldMap {
  public:
    CIMX487(SensorTypeE type, imginf* inf);

    static int GetSensorInfo(SensorTypeE type, SensorInfo* info);
    static int Probe(SensorTypeE type, imginf* inf);  // 0: no identity check

    int Reset() override;
    int Init(CameraInitParam* param) override;
    int SetExposure(double us) override;
    int SetFrameSpeed(int speed) override;
    int StreamOn() override;
    int StreamOff() override;
    int SetTriggerMode(int mode) override;
    int SoftTrigger() override;
    int SetResolution(tSdkResolution* res) override;  // every value down to a multiple of 16
    int SetRoiOffset(int x, int y) override;
    void GetCapability(SensorCapability& cap) override;

  private:
    bool Serves(int hw) const;
    bool AnyModeFlag() const { return m_modeA != 0 || m_modeB != 0 || m_roiMode != 0; }
    uint16_t WordBits() const { return m_widthCode | m_bitMode | m_laneBits; }
    int ApplyClock(int hw);
    int WriteSpeedTables();

    uint16_t m_laneBits = 0;         // 0 on the USB boards, 4 on the GigE ones
    uint16_t m_widthCode = 0;        // 2 with 8-bit output, 0 with 12
    uint8_t m_speedMode = 0;         // the readout speed: 0, 1 (12-bit) on USB, 2 on GigE
    uint32_t m_modeA = 0;            // the binning flags of the resolution record (the skipping one
    uint32_t m_modeB = 0;            // is m_roiMode)
    uint32_t m_baseFrameLength = 0;  // the window's, before the frame speed
};
