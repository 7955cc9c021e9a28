#include "MemEeprom.h"

#include <cstring>

#include "FakeDevice.h"

namespace qvsim {

CMemEeprom::CMemEeprom() : CStoreModel(kSize) {}

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
    int result = 0;
    if (!Admit(StorageOp::kRead, address, len, data, &result)) return result;
    std::memcpy(data, m_bytes.data() + address, len);
    return CAMERA_STATUS_SUCCESS;
}

int CMemEeprom::Write(uint16_t address, const uint8_t* data, uint16_t len) {
    std::lock_guard lock(m_mutex);
    int result = 0;
    if (!Admit(StorageOp::kWrite, address, len, data, &result)) return result;
    std::memcpy(m_bytes.data() + address, data, len);
    return CAMERA_STATUS_SUCCESS;
}

}  // namespace qvsim
