// CGigeFlash4MData: GigE cameras with hardware version text "v3.0" (4 MiB flash). Block A at
// 0x102000, block B at 0x103000, 0x40000 bytes of user data at 0x104000 and the bad-pixel table
// right after it at 0x144000.
#pragma once

#include "GigeFlashData.h"

class CGigeFlash4MData : public CGigeFlashData {
  public:
    static constexpr FlashMap kMap{.blockA = 0x102000,
                                   .blockB = 0x103000,
                                   .userData = 0x104000,
                                   .userDataSize = 0x40000,
                                   .badPixelTable = 0x144000};
    static_assert(kMap.userData + kMap.userDataSize == kMap.badPixelTable);

    explicit CGigeFlash4MData(CJNDevice* device) : CGigeFlashData(device, kMap) {}
};
