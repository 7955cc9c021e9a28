// CGigeFlashData: the flash parameter blocks of GigE cameras whose hardware version text names
// no other map. Block A at 0x58000, block B at 0x59000, 4 KiB of user data at 0x5A000, and no
// bad-pixel table. The GigE cameras hand out shorter serial numbers than their fields hold.
#pragma once

#include "FlashData.h"

class CGigeFlashData : public CFlashData {
  public:
    static constexpr FlashMap kMap{.blockA = 0x58000,
                                   .blockB = 0x59000,
                                   .userData = 0x5A000,
                                   .userDataSize = 4096,
                                   .badPixelTable = kNoTable};

    explicit CGigeFlashData(CJNDevice* device) : CGigeFlashData(device, kMap) {}

    // At most 15 characters of level 0 and 31 of levels 1 and 2, in a 32-byte buffer that is
    // cleared first, so the text is always terminated.
    int ReadSN(uint8_t* sn, INT level) override;

  protected:
    CGigeFlashData(CJNDevice* device, const FlashMap& map) : CFlashData(device, map) {}
    const char* DefaultParamLog() const override;
};
