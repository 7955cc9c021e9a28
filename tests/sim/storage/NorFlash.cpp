#include "NorFlash.h"

#include <algorithm>

#include "FakeDevice.h"

namespace qvsim {

CNorFlash::CNorFlash(size_t size) : m_bytes(size, 0xFF) {}

void CNorFlash::Attach(CFakeDevice& device) {
    device.onEraseFlashSector = [this](uint32_t address) { return Erase(address); };
    device.onReadFlash = [this](uint32_t address, uint16_t len, uint8_t* data) {
        return Read(address, data, len);
    };
    device.onWriteFlash = [this](uint32_t address, uint16_t len, uint8_t* data) {
        return Write(address, data, len);
    };
}

void CNorFlash::Detach(CFakeDevice& device) {
    device.onEraseFlashSector = nullptr;
    device.onReadFlash = nullptr;
    device.onWriteFlash = nullptr;
}

int CNorFlash::Erase(uint32_t address) {
    std::lock_guard lock(m_mutex);
    const uint32_t start = address & ~(kSectorSize - 1);
    int code = 0;
    if (m_faults.Check(StorageOp::kErase, start, kSectorSize, &code) ==
        StorageFaults::Verdict::kFail)
        return code;
    if (static_cast<size_t>(start) + kSectorSize > m_bytes.size()) return CAMERA_STATUS_IO_ERROR;
    std::fill_n(m_bytes.begin() + start, kSectorSize, uint8_t{0xFF});
    m_erased.push_back(start);
    return CAMERA_STATUS_SUCCESS;
}

int CNorFlash::Read(uint32_t address, uint8_t* data, uint16_t len) {
    std::lock_guard lock(m_mutex);
    int code = 0;
    if (m_faults.Check(StorageOp::kRead, address, len, &code) == StorageFaults::Verdict::kFail)
        return code;
    if (data == nullptr || static_cast<size_t>(address) + len > m_bytes.size())
        return CAMERA_STATUS_IO_ERROR;
    std::copy_n(m_bytes.begin() + address, len, data);
    return CAMERA_STATUS_SUCCESS;
}

int CNorFlash::Write(uint32_t address, const uint8_t* data, uint16_t len) {
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
    if (data == nullptr || static_cast<size_t>(address) + len > m_bytes.size())
        return CAMERA_STATUS_IO_ERROR;
    for (uint16_t i = 0; i < len; ++i) m_bytes[address + i] &= data[i];
    return CAMERA_STATUS_SUCCESS;
}

std::vector<uint8_t> CNorFlash::Snapshot(size_t address, size_t len) const {
    std::lock_guard lock(m_mutex);
    if (address > m_bytes.size() || len > m_bytes.size() - address) return {};
    return {m_bytes.begin() + static_cast<std::ptrdiff_t>(address),
            m_bytes.begin() + static_cast<std::ptrdiff_t>(address + len)};
}

std::vector<uint32_t> CNorFlash::Erased() const {
    std::lock_guard lock(m_mutex);
    return m_erased;
}

void CNorFlash::ClearCounters() {
    std::lock_guard lock(m_mutex);
    m_erased.clear();
}

void CNorFlash::Fail(StorageOp op, int code, int count, int skip, AddressRange range) {
    std::lock_guard lock(m_mutex);
    m_faults.Fail(op, code, count, skip, range);
}

void CNorFlash::Drop(int count, int skip, AddressRange range) {
    std::lock_guard lock(m_mutex);
    m_faults.Drop(count, skip, range);
}

void CNorFlash::ClearFaults() {
    std::lock_guard lock(m_mutex);
    m_faults.Clear();
}

}  // namespace qvsim
