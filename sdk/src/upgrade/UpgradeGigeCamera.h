// CUpgradeGigeCamera: the update of a GigE camera, written into its flash through the device's
// flash operations (GVCP vendor commands). Three flash maps exist; the device picks the class
// by hardware type (CUpgradeGigeCameraFlash4M for 203 and 204, CUpgradeGigeCameraFlash4MEF for
// 205, this class for the others). They share everything but their addresses:
//
//   element type   this class (plain map)      Flash4M                     Flash4MEF
//   1              0x05C000, 0x14000 bytes     0x185000, 0x40000 bytes     0x231000, 0x80000 bytes
//   2              0x070000, 0x80000 bytes     0x1C5000, 0x200000 bytes    0x138000, 0xF9000 bytes
//   3              0x0F0000 to the flash end   0x3C5000 to the flash end   accepted, nothing
//   written boot record    0x05B000                    0x184000                    0x2B1000
//
// Each region ends where the next thing the camera needs begins (the next region, the boot
// record, or the parameter blocks: the Flash4MEF blocks lie at 0x2B8000, after the boot record).
// The flash of every map is the 4 MiB part, so type 3 regions end at 0x400000. A region is
// erased sector by sector and written in 512-byte pages, each read back and compared. Type 1 and
// 2 elements then stamp their word of the 8-byte boot record (word 0 and word 1, two
// little-endian words) with 0x20190719; the record's sector is erased and only the record is
// written back. Other element types are skipped. The elements of one file together write at
// most the flash (4 MiB); a file with more is refused before anything is erased.
#pragma once

#include <functional>

#include "upgrade/Upgrade.h"

class CUpgradeGigeCamera : public CUpgrade {
  public:
    static constexpr uint32_t kPageSize = 512;
    static constexpr uint32_t kFlashEnd = 0x400000;
    static constexpr uint32_t kBootStamp = 0x20190719;
    static constexpr uint32_t kBootRecordSize = 8;

    struct FlashMap {
        uint32_t type1;
        uint32_t type1Size;
        uint32_t type2;
        uint32_t type2Size;
        bool hasType3;  // false: type 3 elements are accepted and write nothing
        uint32_t type3;
        uint32_t type3Size;
        uint32_t bootRecord;
    };
    static constexpr FlashMap kMap{.type1 = 0x5C000,
                                   .type1Size = 0x14000,
                                   .type2 = 0x70000,
                                   .type2Size = 0x80000,
                                   .hasType3 = true,
                                   .type3 = 0xF0000,
                                   .type3Size = kFlashEnd - 0xF0000,
                                   .bootRecord = 0x5B000};

    explicit CUpgradeGigeCamera(CJNDevice* device) : CUpgradeGigeCamera(device, kMap) {}

    int Upgrade(const char* path, ProgressCallback progress, void* context) override;

    // The writers of the three element types: 0 or negative.
    virtual int WriteType1Element(int length, BYTE* data, std::function<void(unsigned)> progress);
    virtual int WriteType2Element(int length, BYTE* data, std::function<void(unsigned)> progress);
    virtual int WriteType3Element(int length, BYTE* data, std::function<void(unsigned)> progress);

    const FlashMap& Map() const { return m_map; }

  protected:
    CUpgradeGigeCamera(CJNDevice* device, const FlashMap& map) : CUpgrade(device), m_map(map) {}

    ElementKind KindOf(uint32_t type) const override;
    // A map without a type 3 region writes nothing for type 3 elements.
    bool TakesBytes(uint32_t type) const override { return type != 3 || m_map.hasType3; }
    uint64_t MaxWrittenBytes() const override { return kFlashEnd; }
    int CheckElement(uint32_t type, uint32_t length, const BYTE* data) override;
    int WriteElement(uint32_t type, uint32_t length, BYTE* data,
                     const ElementProgress& progress) override;

    // Sets word (0 or 1) of the boot record to kBootStamp, keeping the other word as read.
    int StampBootRecord(int word);

    const FlashMap m_map;
};
