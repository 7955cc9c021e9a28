#include "MemEeprom.h"

#include <cstring>

#include "FakeDevice.h"

namespace qvsim {

CMemEeprom::CMemEeprom() : m_bytes(kSize, 0xFF) {}

void CMemEeprom::Attach(CFakeDevice& device) {
    device.onReadEEProm = [this](uint16_t address, uint8_t* data, uint16_t len) {
        return Read(address, data, len);
    };
    device.onWriteEEProm = [this](uint16_t address, uint8_t* data, uint16_t len) {
        return Write(address, data, len);
    };
}

void CMemEeprom::Detach(CFakeDevice& device) {
    device.onReadEEProm = nullptr;
    device.onWriteEEProm = nullptr;
}

int CMemEeprom::Read(uint16_t address, uint8_t* data, uint16_t len) {
    std::lock_guard lock(m_mutex);
    int code = 0;
    if (m_faults.Check(StorageOp::kRead, address, len, &code) == StorageFaults::Verdict::kFail)
        return code;
    if (data == nullptr || static_cast<size_t>(address) + len > kSize)
        return CAMERA_STATUS_IO_ERROR;
    std::memcpy(data, m_bytes.data() + address, len);
    return CAMERA_STATUS_SUCCESS;
}

int CMemEeprom::Write(uint16_t address, const uint8_t* data, uint16_t len) {
    std::lock_guard lock(m_mutex);
    int code = 0;
    switch (m_faults.Check(StorageOp::kWrite, address, len, &code)) {
        case StorageFaults::Verdict::kFail:
            return code;
        case StorageFaults::Verdict::kDrop:
            return CAMERA_STATUS_SUCCESS;
        case StorageFaults::Verdict::kPass:
            break;
    }
    if (data == nullptr || static_cast<size_t>(address) + len > kSize)
        return CAMERA_STATUS_IO_ERROR;
    std::memcpy(m_bytes.data() + address, data, len);
    return CAMERA_STATUS_SUCCESS;
}

std::vector<uint8_t> CMemEeprom::Snapshot(size_t address, size_t len) const {
    std::lock_guard lock(m_mutex);
    if (address > kSize || len > kSize - address) return {};
    return {m_bytes.begin() + static_cast<std::ptrdiff_t>(address),
            m_bytes.begin() + static_cast<std::ptrdiff_t>(address + len)};
}

void CMemEeprom::Fail(StorageOp op, int code, int count, int skip, AddressRange range) {
    std::lock_guard lock(m_mutex);
    m_faults.Fail(op, code, count, skip, range);
}

void CMemEeprom::Drop(int count, int skip, AddressRange range) {
    std::lock_guard lock(m_mutex);
    m_faults.Drop(count, skip, range);
}

void CMemEeprom::ClearFaults() {
    std::lock_guard lock(m_mutex);
    m_faults.Clear();
}

}  // namespace qvsim
