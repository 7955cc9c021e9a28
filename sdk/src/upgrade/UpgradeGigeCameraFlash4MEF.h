// CUpgradeGigeCameraFlash4MEF: GigE cameras of hardware type 205 (see CUpgradeGigeCamera for
// the regions). The map has no type 3 region: such elements are accepted and write nothing.
#pragma once

#include "upgrade/UpgradeGigeCamera.h"

class CUpgradeGigeCameraFlash4MEF : public CUpgradeGigeCamera {
  public:
    static constexpr FlashMap kMap{.type1 = 0x231000,
                                   .type1Size = 0x80000,
                                   .type2 = 0x138000,
                                   .type2Size = 0xF9000,
                                   .hasType3 = false,
                                   .type3 = 0,
                                   .type3Size = 0,
                                   .bootRecord = 0x2B1000};
    static_assert(kMap.type2 + kMap.type2Size == kMap.type1);
    static_assert(kMap.type1 + kMap.type1Size == kMap.bootRecord);

    explicit CUpgradeGigeCameraFlash4MEF(CJNDevice* device) : CUpgradeGigeCamera(device, kMap) {}

    int WriteType3Element(int length, BYTE* data, std::function<void(unsigned)> progress) override {
        (void)length, (void)data, (void)progress;
        return CAMERA_STATUS_SUCCESS;
    }
};
