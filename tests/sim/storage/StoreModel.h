// CStoreModel: the byte store with fault rules that the in-memory EEPROM and NOR flash models
// share. A new part reads 0xFF. The models add their own transfer semantics on top.
//
// Thread safety: every public member may be called from any thread; m_mutex guards the bytes,
// the fault rules and whatever the deriving model declares.
#pragma once

#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

#include "StorageFaults.h"

namespace qvsim {

class CStoreModel {
  public:
    CStoreModel(const CStoreModel&) = delete;
    CStoreModel& operator=(const CStoreModel&) = delete;

    // The raw bytes, for tests to fill and inspect (not while the device is in use elsewhere).
    std::span<uint8_t> Bytes() { return m_bytes; }
    // A copy of len bytes at address; empty when the range leaves the store.
    std::vector<uint8_t> Snapshot(size_t address, size_t len) const;

    // Rules for the following calls (kRead, kWrite, kErase; Drop: a write that does not stick).
    void Fail(StorageOp op, int code, int count = 1, int skip = 0, AddressRange range = {});
    void Drop(int count = 1, int skip = 0, AddressRange range = {});
    void ClearFaults();

  protected:
    explicit CStoreModel(size_t size) : m_bytes(size, 0xFF) {}
    ~CStoreModel() = default;

    // With m_mutex held: whether a transfer of len bytes at address goes ahead. The fault rules
    // decide first; then a null buffer (reads and writes) or a range past the end fails with
    // CAMERA_STATUS_IO_ERROR, as the device's request would. When it does not go ahead, *result
    // is the answer: the failure, or success for a dropped write.
    bool Admit(StorageOp op, uint32_t address, uint32_t len, const void* data, int* result);

    mutable std::mutex m_mutex;  // guards everything below and the deriving model's members
    std::vector<uint8_t> m_bytes;
    StorageFaults m_faults;
};

}  // namespace qvsim
