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
// Thread safety: every member may be called from any thread; one mutex guards the bytes and
// the fault rules.
#pragma once

#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

#include "StorageFaults.h"

namespace qvsim {

class CFakeDevice;

class CMemEeprom {
  public:
    static constexpr size_t kSize = 0x10000;

    CMemEeprom();

    void Attach(CFakeDevice& device);
    static void Detach(CFakeDevice& device);

    int Read(uint16_t address, uint8_t* data, uint16_t len);
    int Write(uint16_t address, const uint8_t* data, uint16_t len);

    // The raw bytes, for tests to fill and inspect (not while the device is in use elsewhere).
    std::span<uint8_t> Bytes() { return m_bytes; }
    std::vector<uint8_t> Snapshot(size_t address, size_t len) const;

    // Rules for the following calls (kRead and kWrite; kDrop for a write that does not stick).
    void Fail(StorageOp op, int code, int count = 1, int skip = 0, AddressRange range = {});
    void Drop(int count = 1, int skip = 0, AddressRange range = {});
    void ClearFaults();

  private:
    mutable std::mutex m_mutex;  // guards m_bytes and m_faults
    std::vector<uint8_t> m_bytes;
    StorageFaults m_faults;
};

}  // namespace qvsim
