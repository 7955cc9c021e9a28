#include "StoreModel.h"

#include "QVDeviceDef.h"

namespace qvsim {

std::vector<uint8_t> CStoreModel::Snapshot(size_t address, size_t len) const {
    std::lock_guard lock(m_mutex);
    if (address > m_bytes.size() || len > m_bytes.size() - address) return {};
    return {m_bytes.begin() + static_cast<std::ptrdiff_t>(address),
            m_bytes.begin() + static_cast<std::ptrdiff_t>(address + len)};
}

void CStoreModel::Fail(StorageOp op, int code, int count, int skip, AddressRange range) {
    std::lock_guard lock(m_mutex);
    m_faults.Fail(op, code, count, skip, range);
}

void CStoreModel::Drop(int count, int skip, AddressRange range) {
    std::lock_guard lock(m_mutex);
    m_faults.Drop(count, skip, range);
}

void CStoreModel::ClearFaults() {
    std::lock_guard lock(m_mutex);
    m_faults.Clear();
}

bool CStoreModel::Admit(StorageOp op, uint32_t address, uint32_t len, const void* data,
                        int* result) {
    int code = 0;
    switch (m_faults.Check(op, address, len, &code)) {
        case StorageFaults::Verdict::kFail:
            *result = code;
            return false;
        case StorageFaults::Verdict::kDrop:
            *result = CAMERA_STATUS_SUCCESS;
            return false;
        case StorageFaults::Verdict::kPass:
            break;
    }
    if ((op != StorageOp::kErase && data == nullptr) ||
        static_cast<size_t>(address) + len > m_bytes.size()) {
        *result = CAMERA_STATUS_IO_ERROR;
        return false;
    }
    return true;
}

}  // namespace qvsim
