// Upgrade files from arbitrary bytes: the header, the support list, every element with its
// mask, and the whole-file check of each camera family (the USB 2.0 one parses JEDEC elements),
// without a camera. Nothing may crash, leak or read outside its buffers.
#include <cstddef>
#include <cstdint>
#include <list>

#include "upgrade/UpgradeGigeCamera.h"
#include "upgrade/UpgradeGigeCameraFlash4M.h"
#include "upgrade/UpgradeGigeCameraFlash4MEF.h"
#include "upgrade/UpgradeU2Camera.h"
#include "upgrade/UpgradeU3Camera.h"

namespace {

template <class Upgrade>
void CheckWhole(const uint8_t* data, size_t size) {
    Upgrade up(nullptr);
    UpgradeFileHeader header{};
    if (up.OpenUpgradeBuffer(data, size, &header) != 0) return;
    std::list<Tag_UpgradeCameraInfo> list;
    if (up.ReadSupportCameraList(&header, list) == 0 && list.size() != header.supportCount)
        __builtin_trap();
    const int r = up.CheckElements(header);
    if (r != 0 && r != CAMERA_STATUS_UPGRADE_READ_FAILED && r != CAMERA_STATUS_UPGRADE_WRITE_FAILED)
        __builtin_trap();
}

// Element by element until none is left: each one read is whole and within the file.
void ReadAll(const uint8_t* data, size_t size) {
    CUpgradeU3Camera up(nullptr);
    UpgradeFileHeader header{};
    if (up.OpenUpgradeBuffer(data, size, &header) != 0) return;
    std::list<Tag_UpgradeCameraInfo> list;
    if (up.ReadSupportCameraList(&header, list) != 0) return;
    size_t used = sizeof(UpgradeFileHeader) + list.size() * sizeof(Tag_UpgradeCameraInfo);
    for (;;) {
        UpgradeElmentHeader element{};
        BYTE* bytes = nullptr;
        const int n = up.ReadUpgradeFile(&element, &bytes);
        if (n < 0) break;
        used += sizeof(UpgradeElmentHeader) + static_cast<size_t>(n);
        if (used > size || static_cast<uint32_t>(n) != element.length) __builtin_trap();
        if (bytes != nullptr) {
            // Every byte handed out is readable.
            volatile uint8_t sum = 0;
            for (int i = 0; i < n; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
            up.FreeReadDataBuffer(bytes);
        } else if (n != 0) {
            __builtin_trap();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ReadAll(data, size);
    CheckWhole<CUpgradeU3Camera>(data, size);
    CheckWhole<CUpgradeU2Camera>(data, size);
    CheckWhole<CUpgradeGigeCamera>(data, size);
    CheckWhole<CUpgradeGigeCameraFlash4M>(data, size);
    CheckWhole<CUpgradeGigeCameraFlash4MEF>(data, size);
    return 0;
}
