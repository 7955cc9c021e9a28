// CFlashData: the flash of a USB 3.0 camera, and (through its subclasses) of GigE cameras,
// reached through the device's EraseFlashSector, ReadFlash and WriteFlash (4 KiB erase sectors,
// a write can only clear bits). The identity data lives in two parameter blocks (see
// FlashBlockImage.h) that are read once by LoadParam and then answer every getter from memory.
// Setters of block A fields only change the image; setters of block B fields change it and
// Flush at once, which also writes a pending block A. Nothing is flushed at close. Beside the
// blocks lie a user-data area and, on most maps, a bad-pixel table, both read and written
// directly. The classes differ only in their address map.
#pragma once

#include <cstddef>
#include <cstdint>

#include "FlashBlockImage.h"
#include "StorageData.h"

struct FlashMap {
    uint32_t blockA;
    uint32_t blockB;
    uint32_t userData;
    uint32_t userDataSize;
    uint32_t badPixelTable;  // CFlashData::kNoTable where the map has none
};

class CFlashData : public CStorageData {
  public:
    static constexpr uint32_t kSectorSize = 0x1000;
    // Flash transfers go in pieces of at most 512 bytes, the largest the transports move in
    // one request.
    static constexpr size_t kChunkSize = 512;
    static constexpr int kBadPixelTableSize = 0x40000;
    static constexpr int kWriteTries = 3;
    static constexpr uint32_t kNoTable = UINT32_MAX;
    static constexpr FlashMap kUsb3Map{.blockA = 0x10000,
                                       .blockB = 0x11000,
                                       .userData = 0x15000,
                                       .userDataSize = 0xB000,
                                       .badPixelTable = 0xC0000};

    explicit CFlashData(CJNDevice* device);

    int Format() override;  // 0
    // Level 0 from block A, levels 1 and 2 from block B: the 32-byte field.
    int WriteSN(uint8_t* sn, INT level) override;
    int ReadSN(uint8_t* sn, INT level) override;
    int GetFriendlyName(char* name) override;
    int SetFriendlyName(char* name) override;
    int GetProductName(char* name) override;
    int SetProductName(char* name) override;
    int GetProductSeries(char* series) override;
    int SetProductSeries(char* series) override;
    int GetDeviceID(uint32_t* id) override;
    int SetDeviceID(uint32_t id) override;
    int GetDevicePortType(char* text) override;
    int SetDevicePortType(char* text) override;
    int GetDeviceMonoCfg(uint32_t* word) override;
    int SetDeviceMonoCfg(uint32_t word) override;
    int GetSensorType(SensorTypeE* type) override;
    int SetSensorType(SensorTypeE type) override;
    int ReadDeviceProperty(CameraProperty* prop) override;
    int WriteDeviceProperty(const CameraProperty* prop) override;
    int GetUserDataSize() override;
    int SaveUserData(uint32_t offset, uint8_t* data, int len) override;
    int LoadUserData(uint32_t offset, uint8_t* data, int len) override;
    int SaveBadPixelTable(uint8_t* data, int len) override;
    int LoadBadPixelTable(uint8_t* data, int len) override;
    // Reads block A (its error is returned) and block B (a damaged or unreadable block B is
    // replaced in memory by defaults: magic, and the product name as friendly name).
    int LoadParam() override;
    // Writes the dirty blocks, A first, each verified by reading it back (up to three tries).
    // An error, or a block that still reads back different, is returned, and the block stays
    // dirty; a failed block A leaves block B unwritten.
    int Flush() override;

    // Read a page at address; 0 and the block copied when it carries its magic and its
    // checksum is right, else -1 (block left as it was); a read error of the device is
    // returned.
    virtual int ReadBlockA(uint32_t address, FlashBlockAImage* block);
    // Set the magic and checksum of the image and write it as a page at address: erase, write,
    // read back and compare, up to three tries. 0 once a read-back matches; else the error of
    // the last try, or CAMERA_STATUS_IO_ERROR when it read back different.
    virtual int WriteBlockA(uint32_t address);
    virtual int ReadBlockB(uint32_t address, FlashBlockBImage* block);
    virtual int WriteBlockB(uint32_t address);

    // Whether both images carry their magic (the factory keeps only such objects).
    bool BlocksValid() const;
    // Where this camera keeps its blocks, user data and bad-pixel table (the firmware update
    // stays clear of them).
    const FlashMap& Map() const { return m_map; }

  protected:
    CFlashData(CJNDevice* device, const FlashMap& map);
    // The log line of a damaged block B replaced by defaults.
    virtual const char* DefaultParamLog() const;

    bool m_blockADirty = false;
    bool m_blockBDirty = false;
    FlashBlockAImage m_blockA{};
    FlashBlockBImage m_blockB{};
    const FlashMap m_map;

  private:
    // The larger of the two pages: one buffer size serves both blocks.
    static constexpr size_t kMaxPageSize = kFlashBlockAPageSize;
    static_assert(kFlashBlockBPageSize <= kMaxPageSize);

    template <class Block>
    int ReadBlock(uint32_t address, Block* block, uint32_t magic, size_t pageSize);
    template <class Block>
    int WriteBlock(uint32_t address, Block& block, uint32_t magic, size_t pageSize);
    // Writes a block and reads it back until it compares equal to image (up to three tries).
    template <class Block>
    int FlushBlock(uint32_t address, const Block& image, int (CFlashData::*write)(uint32_t),
                   int (CFlashData::*read)(uint32_t, Block*));
    int ReadPage(uint32_t address, uint8_t* page, size_t pageSize, uint32_t magic,
                 size_t blockSize);
    int WritePage(uint32_t address, const uint8_t* page, size_t pageSize);
    int FlushBlockA();
    int FlushBlockB();
    int MarkBlockBAndFlush();
    // A text field of block A: set in memory and marked for the next flush; -6 for null.
    int SetBlockAText(char* field, const char* text);
    // Chunked transfers; WriteRange rewrites whole sectors around the range and verifies them.
    int ReadRange(uint32_t address, uint8_t* data, size_t len);
    int WriteRange(uint32_t address, const uint8_t* data, size_t len);
};
