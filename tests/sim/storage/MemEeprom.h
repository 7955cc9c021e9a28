// CMemEeprom: a 64 KiB EEPROM in memory (16-bit addresses, new parts read 0xFF) with fault
// injection, for the fake device's ReadEEProm and WriteEEProm. A transfer past the end fails
// with CAMERA_STATUS_IO_ERROR, as the controller's request would.
//
//   qvsim::CFakeDevice dev;
//   qvsim::CMemEeprom eeprom;
//   eeprom.Attach(dev);                       // the device's EEPROM operations now land here
//   qvsim::WriteStorageImage(eeprom.Bytes(), qvsim::StorageLayout::kEeprom1, fields);
//
// The model must outlive every EEPROM call of the device it is attached to.
// Thread safety: as CStoreModel.
#pragma once

#include <cstdint>

#include "StoreModel.h"

namespace qvsim {

class CFakeDevice;

class CMemEeprom : public CStoreModel {
  public:
    static constexpr size_t kSize = 0x10000;

    CMemEeprom();

    void Attach(CFakeDevice& device);
    static void Detach(CFakeDevice& device);

    int Read(uint16_t address, uint8_t* data, uint16_t len);
    int Write(uint16_t address, const uint8_t* data, uint16_t len);
};

}  // namespace qvsim
