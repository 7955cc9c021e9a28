// CUpgradeU3Camera: the update of a USB 3.0 camera (device type 0x1301), written into the
// camera's flash through the device's flash operations. Element types:
//   1  flash image at 0        at most 0x10000 bytes (parameter block A lies at 0x10000)
//   2  flash image at 0x20000  at most 0xA0000 bytes (the bad-pixel table lies at 0xC0000)
// Other types are skipped. Each element is erased sector by sector and written in 1024-byte
// pages, each read back and compared; progress counts the bytes. The flash ends with the
// bad-pixel table at 1 MiB: the elements of one file together write at most that much.
#pragma once

#include "upgrade/Upgrade.h"

class CUpgradeU3Camera : public CUpgrade {
  public:
    static constexpr uint32_t kPageSize = 1024;
    static constexpr uint32_t kFlashSize = 0x100000;
    struct Region {
        uint32_t type;
        uint32_t start;
        uint32_t size;
    };
    static constexpr Region kRegions[] = {
        {1, 0x00000, 0x10000},
        {2, 0x20000, 0xA0000},
    };

    explicit CUpgradeU3Camera(CJNDevice* device) : CUpgrade(device) {}

    int Upgrade(const char* path, ProgressCallback progress, void* context) override;

  protected:
    ElementKind KindOf(uint32_t type) const override;
    uint64_t MaxWrittenBytes() const override { return kFlashSize; }
    int CheckElement(uint32_t type, uint32_t length, const BYTE* data) override;
    int WriteElement(uint32_t type, uint32_t length, BYTE* data,
                     const ElementProgress& progress) override;

  private:
    static const Region* RegionOf(uint32_t type);
};
