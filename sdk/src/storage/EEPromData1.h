// CEEPromData1: the EEPROM layout with header. Offsets from the base address: magic 0xEEAA0001
// at 0 and layout version 1 at 4; serial numbers of levels 0, 1, 2 at 8, 40, 72; friendly name
// 104, product series 136, product name 168, port type text 200 (32 bytes each); mono
// configuration word 232, device ID word 236, sensor type 240; the 712-byte property record at
// 248; 64 unused bytes at 960; user data from 1024.
#pragma once

#include "EEPromData.h"

class CEEPromData1 : public CEEPromData {
  public:
    static constexpr uint32_t kMagic = 0xEEAA0001;
    static constexpr uint32_t kVersion = 1;

    CEEPromData1(CJNDevice* device, uint32_t baseAddress);

    // Writes the magic, then the version word (both are written even when the first fails);
    // the first error, or 0.
    int Format() override;
    int GetSensorType(SensorTypeE* type) override;
    int SetSensorType(SensorTypeE type) override;
};
