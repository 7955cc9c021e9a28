// CNorFlash: a NOR flash in memory with fault injection, for the fake device's
// EraseFlashSector, ReadFlash and WriteFlash. 4 KiB sectors; an erase sets the sector holding
// the address to 0xFF; a write can only clear bits (cell = cell & data), so data written
// without an erase first reads back different. A transfer past the end fails with
// CAMERA_STATUS_IO_ERROR. New parts read 0xFF.
//
//   qvsim::CFakeDevice dev;
//   dev.SetDeviceType(0x1301);
//   qvsim::CNorFlash flash;
//   flash.Attach(dev);
//   qvsim::WriteStorageImage(flash.Bytes(), qvsim::StorageLayout::kUsb3Flash, fields);
//   flash.Drop(StorageFaults::kAlways);           // from now on no write sticks
//
// The model must outlive every flash call of the device it is attached to.
// Thread safety: as CStoreModel; its mutex guards the erase record too.
#pragma once

#include <cstdint>
#include <vector>

#include "StoreModel.h"

namespace qvsim {

class CFakeDevice;

class CNorFlash : public CStoreModel {
  public:
    static constexpr size_t kDefaultSize = 0x400000;  // 4 MiB holds every flash map
    static constexpr uint32_t kSectorSize = 0x1000;

    explicit CNorFlash(size_t size = kDefaultSize);

    void Attach(CFakeDevice& device);
    static void Detach(CFakeDevice& device);

    int Erase(uint32_t address);
    int Read(uint32_t address, uint8_t* data, uint16_t len);
    int Write(uint32_t address, const uint8_t* data, uint16_t len);

    // Sector start addresses in the order they were erased.
    std::vector<uint32_t> Erased() const;
    void ClearCounters();

  private:
    std::vector<uint32_t> m_erased;  // guarded by m_mutex
};

}  // namespace qvsim
