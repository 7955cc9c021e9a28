#include "upgrade/UpgradeU3Camera.h"

const CUpgradeU3Camera::Region* CUpgradeU3Camera::RegionOf(uint32_t type) {
    for (const Region& r : kRegions)
        if (r.type == type) return &r;
    return nullptr;
}

int CUpgradeU3Camera::Upgrade(const char* path, ProgressCallback progress, void* context) {
    return RunUpgrade(path, progress, context);
}

CUpgrade::ElementKind CUpgradeU3Camera::KindOf(uint32_t type) const {
    return RegionOf(type) != nullptr ? ElementKind::kBytes : ElementKind::kUnknown;
}

int CUpgradeU3Camera::CheckElement(uint32_t type, uint32_t length, const BYTE* data) {
    (void)data;
    const Region* region = RegionOf(type);
    return region != nullptr && FitsRegion(type, region->start, region->size, length)
               ? CAMERA_STATUS_SUCCESS
               : CAMERA_STATUS_FAILED;
}

int CUpgradeU3Camera::WriteElement(uint32_t type, uint32_t length, BYTE* data,
                                   const ElementProgress& progress) {
    const Region* region = RegionOf(type);
    if (region == nullptr) return CAMERA_STATUS_FAILED;
    // A writer failure of any kind is the same to the flow: the element was not written.
    return WriteFlashRegion(region->start, length, data, kPageSize, progress) < 0
               ? CAMERA_STATUS_FAILED
               : CAMERA_STATUS_SUCCESS;
}
