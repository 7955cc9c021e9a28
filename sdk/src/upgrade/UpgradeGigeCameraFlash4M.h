// CUpgradeGigeCameraFlash4M: GigE cameras of hardware types 203 and 204 (see
// CUpgradeGigeCamera for the regions).
#pragma once

#include "upgrade/UpgradeGigeCamera.h"

class CUpgradeGigeCameraFlash4M : public CUpgradeGigeCamera {
  public:
    static constexpr FlashMap kMap{.type1 = 0x185000,
                                   .type1Size = 0x40000,
                                   .type2 = 0x1C5000,
                                   .type2Size = 0x200000,
                                   .hasType3 = true,
                                   .type3 = 0x3C5000,
                                   .type3Size = kFlashEnd - 0x3C5000,
                                   .bootRecord = 0x184000};
    static_assert(kMap.type1 + kMap.type1Size == kMap.type2);
    static_assert(kMap.type2 + kMap.type2Size == kMap.type3);

    explicit CUpgradeGigeCameraFlash4M(CJNDevice* device) : CUpgradeGigeCamera(device, kMap) {}
};
