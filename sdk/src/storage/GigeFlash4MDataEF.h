// CGigeFlash4MDataEF: GigE cameras with hardware version text "v4.0". Block A at 0x2B8000,
// block B at 0x2B9000, 0x40000 bytes of user data at 0x2BB000 and the bad-pixel table right
// after it at 0x2FB000.
#pragma once

#include "GigeFlashData.h"

class CGigeFlash4MDataEF : public CGigeFlashData {
  public:
    static constexpr FlashMap kMap{.blockA = 0x2B8000,
                                   .blockB = 0x2B9000,
                                   .userData = 0x2BB000,
                                   .userDataSize = 0x40000,
                                   .badPixelTable = 0x2FB000};
    static_assert(kMap.userData + kMap.userDataSize == kMap.badPixelTable);

    explicit CGigeFlash4MDataEF(CJNDevice* device) : CGigeFlashData(device, kMap) {}
};
