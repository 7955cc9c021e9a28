#include "upgrade/UpgradeGigeCamera.h"

#include <cstring>

#include "common/ByteOrder.h"
#include "device/JNDevice.h"

int CUpgradeGigeCamera::Upgrade(const char* path, ProgressCallback progress, void* context) {
    return RunUpgrade(path, progress, context);
}

CUpgrade::ElementKind CUpgradeGigeCamera::KindOf(uint32_t type) const {
    return type >= 1 && type <= 3 ? ElementKind::kBytes : ElementKind::kUnknown;
}

int CUpgradeGigeCamera::CheckElement(uint32_t type, uint32_t length, const BYTE* data) {
    (void)data;
    bool fits = false;
    switch (type) {
        case 1:
            fits = FitsRegion(type, m_map.type1, m_map.type1Size, length);
            break;
        case 2:
            fits = FitsRegion(type, m_map.type2, m_map.type2Size, length);
            break;
        case 3:
            fits = !m_map.hasType3 || FitsRegion(type, m_map.type3, m_map.type3Size, length);
            break;
        default:
            break;
    }
    return fits ? CAMERA_STATUS_SUCCESS : CAMERA_STATUS_FAILED;
}

int CUpgradeGigeCamera::WriteElement(uint32_t type, uint32_t length, BYTE* data,
                                     const ElementProgress& progress) {
    const int n = static_cast<int>(length);  // within its region, checked before
    switch (type) {
        case 1:
            return WriteType1Element(n, data, progress);
        case 2:
            return WriteType2Element(n, data, progress);
        case 3:
            return WriteType3Element(n, data, progress);
        default:
            return CAMERA_STATUS_FAILED;
    }
}

int CUpgradeGigeCamera::WriteType1Element(int length, BYTE* data,
                                          std::function<void(unsigned)> progress) {
    const int r =
        WriteFlashRegion(m_map.type1, static_cast<uint32_t>(length), data, kPageSize, progress);
    return r < 0 ? r : StampBootRecord(0);
}

int CUpgradeGigeCamera::WriteType2Element(int length, BYTE* data,
                                          std::function<void(unsigned)> progress) {
    const int r =
        WriteFlashRegion(m_map.type2, static_cast<uint32_t>(length), data, kPageSize, progress);
    return r < 0 ? r : StampBootRecord(1);
}

int CUpgradeGigeCamera::WriteType3Element(int length, BYTE* data,
                                          std::function<void(unsigned)> progress) {
    return WriteFlashRegion(m_map.type3, static_cast<uint32_t>(length), data, kPageSize, progress);
}

int CUpgradeGigeCamera::StampBootRecord(int word) {
    uint8_t record[kBootRecordSize];
    int r = m_pDevice->ReadFlash(m_map.bootRecord, sizeof record, record);
    if (r < 0) return r;
    if ((r = m_pDevice->EraseFlashSector(m_map.bootRecord, 0)) < 0) return r;
    qv::StoreLe32(record + 4 * word, kBootStamp);
    if ((r = m_pDevice->WriteFlash(m_map.bootRecord, sizeof record, record)) < 0) return r;
    // The camera boots from this record: make sure it holds what was written.
    uint8_t back[kBootRecordSize];
    if ((r = m_pDevice->ReadFlash(m_map.bootRecord, sizeof back, back)) < 0) return r;
    return std::memcmp(back, record, sizeof record) == 0 ? CAMERA_STATUS_SUCCESS
                                                         : CAMERA_STATUS_FAILED;
}
