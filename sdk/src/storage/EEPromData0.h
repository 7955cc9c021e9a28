// CEEPromData0: the EEPROM layout without header. Offsets from the base address: serial numbers
// of levels 0, 1, 2 at 0, 32, 64; friendly name 96, product series 128, product name 160 (32
// bytes each); the 712-byte property record at 192; 80 unused bytes at 904; mono configuration
// word 984, port type text 988, device ID word 1020; user data from 1024. The layout stores no
// sensor type: it is the low half of the device ID word.
#pragma once

#include "EEPromData.h"

class CEEPromData0 : public CEEPromData {
  public:
    CEEPromData0(CJNDevice* device, uint32_t baseAddress);

    int Format() override;  // no header: 0
    // The low 16 bits of the device ID word; -1 when that word cannot be read.
    int GetSensorType(SensorTypeE* type) override;
    int SetSensorType(SensorTypeE type) override;  // -4
};
