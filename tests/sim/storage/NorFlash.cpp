#include "NorFlash.h"

#include <algorithm>

#include "FakeDevice.h"

namespace qvsim {

CNorFlash::CNorFlash(size_t size) : CStoreModel(size) {}

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
    int result = 0;
    if (!Admit(StorageOp::kErase, start, kSectorSize, nullptr, &result)) return result;
    std::fill_n(m_bytes.begin() + start, kSectorSize, uint8_t{0xFF});
    m_erased.push_back(start);
    return CAMERA_STATUS_SUCCESS;
}

int CNorFlash::Read(uint32_t address, uint8_t* data, uint16_t len) {
    std::lock_guard lock(m_mutex);
    int result = 0;
    if (!Admit(StorageOp::kRead, address, len, data, &result)) return result;
    std::copy_n(m_bytes.begin() + address, len, data);
    return CAMERA_STATUS_SUCCESS;
}

int CNorFlash::Write(uint32_t address, const uint8_t* data, uint16_t len) {
    std::lock_guard lock(m_mutex);
    int result = 0;
    if (!Admit(StorageOp::kWrite, address, len, data, &result)) return result;
    for (uint16_t i = 0; i < len; ++i) m_bytes[address + i] &= data[i];
    return CAMERA_STATUS_SUCCESS;
}

std::vector<uint32_t> CNorFlash::Erased() const {
    std::lock_guard lock(m_mutex);
    return m_erased;
}

void CNorFlash::ClearCounters() {
    std::lock_guard lock(m_mutex);
    m_erased.clear();
}

}  // namespace qvsim
