#include "FlashData.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "common/ByteOrder.h"
#include "device/JNDevice.h"
#include "common/Log.h"
#include "common/TextCopy.h"

namespace {

constexpr size_t kFieldSize = 32;

// The byte that makes the 8-bit sum of the block 0xFF: the complement of the sum of the others.
uint8_t BlockChecksum(const uint8_t* block, size_t size, size_t checksumOffset) {
    uint8_t sum = 0;
    for (size_t i = 0; i < size; ++i)
        if (i != checksumOffset) sum = static_cast<uint8_t>(sum + block[i]);
    return static_cast<uint8_t>(~sum);
}

uint8_t BlockSum(const uint8_t* block, size_t size) {
    uint8_t sum = 0;
    for (size_t i = 0; i < size; ++i) sum = static_cast<uint8_t>(sum + block[i]);
    return sum;
}

// Getter side of a text field: at most 31 characters and a terminator in the caller's 32 bytes,
// whatever the field holds; -6 for a null buffer.
int CopyTextOut(char* out, const char* field) {
    if (out == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    qv::CopyText(out, kFieldSize, field);
    return CAMERA_STATUS_SUCCESS;
}

// Setter side: the text with its terminator, at most 32 bytes (a longer text fills the field
// without one); the rest of the field is cleared. Never reads past the caller's text.
void CopyTextIn(char* field, const char* text) {
    std::memset(field, 0, kFieldSize);
    std::memcpy(field, text, strnlen(text, kFieldSize));
}

}  // namespace

CFlashData::CFlashData(CJNDevice* device) : CFlashData(device, kUsb3Map) {}

CFlashData::CFlashData(CJNDevice* device, const FlashMap& map) : CStorageData(device), m_map(map) {}

const char* CFlashData::DefaultParamLog() const {
    return "flash param error, use default param\n";
}

bool CFlashData::BlocksValid() const {
    return m_blockA.magic == kFlashBlockAMagic && m_blockB.magic == kFlashBlockBMagic;
}

// ---- Parameter blocks ----------------------------------------------------------------------

int CFlashData::LoadParam() {
    std::memset(&m_blockA, 0, sizeof m_blockA);
    std::memset(&m_blockB, 0, sizeof m_blockB);
    m_blockADirty = m_blockBDirty = false;
    int r = ReadBlockA(m_map.blockA, &m_blockA);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    r = ReadBlockB(m_map.blockB, &m_blockB);
    if (r != CAMERA_STATUS_SUCCESS || m_blockB.magic != kFlashBlockBMagic) {
        qv::Log("%s", DefaultParamLog());
        std::memset(&m_blockB, 0, sizeof m_blockB);
        m_blockB.magic = kFlashBlockBMagic;
        std::memcpy(m_blockB.friendlyName, m_blockA.productName, kFieldSize);
    }
    return CAMERA_STATUS_SUCCESS;
}

int CFlashData::ReadPage(uint32_t address, uint8_t* page, size_t pageSize, uint32_t magic,
                         size_t blockSize) {
    const int r = m_pDevice->ReadFlash(address, static_cast<uint16_t>(pageSize), page);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (qv::LoadLe32(page) != magic || BlockSum(page, blockSize) != 0xFF)
        return CAMERA_STATUS_FAILED;
    return CAMERA_STATUS_SUCCESS;
}

template <class Block>
int CFlashData::ReadBlock(uint32_t address, Block* block, uint32_t magic, size_t pageSize) {
    if (block == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    uint8_t page[kMaxPageSize];
    const int r = ReadPage(address, page, pageSize, magic, sizeof *block);
    if (r == CAMERA_STATUS_SUCCESS) std::memcpy(block, page, sizeof *block);
    return r;
}

int CFlashData::ReadBlockA(uint32_t address, FlashBlockAImage* block) {
    return ReadBlock(address, block, kFlashBlockAMagic, kFlashBlockAPageSize);
}

int CFlashData::ReadBlockB(uint32_t address, FlashBlockBImage* block) {
    return ReadBlock(address, block, kFlashBlockBMagic, kFlashBlockBPageSize);
}

// A page write that cannot be read back as written is a failure, not a success: otherwise the
// in-memory image and the flash part ways silently and the next open finds the old values (or
// a block that no longer passes its checksum).
int CFlashData::WritePage(uint32_t address, const uint8_t* page, size_t pageSize) {
    const uint16_t len = static_cast<uint16_t>(pageSize);
    uint8_t readBack[kMaxPageSize];
    int r = CAMERA_STATUS_IO_ERROR;
    for (int attempt = 0; attempt < kWriteTries; ++attempt) {
        r = m_pDevice->EraseFlashSector(address, 0);
        if (r != CAMERA_STATUS_SUCCESS) continue;
        r = m_pDevice->WriteFlash(address, len, const_cast<uint8_t*>(page));
        if (r != CAMERA_STATUS_SUCCESS) continue;
        r = m_pDevice->ReadFlash(address, len, readBack);
        if (r != CAMERA_STATUS_SUCCESS) continue;
        if (std::memcmp(readBack, page, pageSize) == 0) return CAMERA_STATUS_SUCCESS;
        r = CAMERA_STATUS_IO_ERROR;
    }
    return r;
}

template <class Block>
int CFlashData::WriteBlock(uint32_t address, Block& block, uint32_t magic, size_t pageSize) {
    block.magic = magic;
    block.checksum = BlockChecksum(reinterpret_cast<const uint8_t*>(&block), sizeof block,
                                   offsetof(Block, checksum));
    uint8_t page[kMaxPageSize] = {};
    std::memcpy(page, &block, sizeof block);
    return WritePage(address, page, pageSize);
}

int CFlashData::WriteBlockA(uint32_t address) {
    return WriteBlock(address, m_blockA, kFlashBlockAMagic, kFlashBlockAPageSize);
}

int CFlashData::WriteBlockB(uint32_t address) {
    return WriteBlock(address, m_blockB, kFlashBlockBMagic, kFlashBlockBPageSize);
}

// Through the virtual block operations, so a subclass's page format is the one verified.
template <class Block>
int CFlashData::FlushBlock(uint32_t address, const Block& image, int (CFlashData::*write)(uint32_t),
                           int (CFlashData::*read)(uint32_t, Block*)) {
    int r = CAMERA_STATUS_IO_ERROR;
    for (int attempt = 0; attempt < kWriteTries; ++attempt) {
        r = (this->*write)(address);
        if (r != CAMERA_STATUS_SUCCESS) continue;
        Block stored;
        r = (this->*read)(address, &stored);
        if (r != CAMERA_STATUS_SUCCESS) continue;
        if (std::memcmp(&stored, &image, sizeof stored) == 0) return CAMERA_STATUS_SUCCESS;
        r = CAMERA_STATUS_IO_ERROR;
    }
    return r;
}

int CFlashData::FlushBlockA() {
    return FlushBlock(m_map.blockA, m_blockA, &CFlashData::WriteBlockA, &CFlashData::ReadBlockA);
}

int CFlashData::FlushBlockB() {
    return FlushBlock(m_map.blockB, m_blockB, &CFlashData::WriteBlockB, &CFlashData::ReadBlockB);
}

int CFlashData::Flush() {
    if (m_blockADirty) {
        const int r = FlushBlockA();
        if (r != CAMERA_STATUS_SUCCESS) {
            qv::Log("flash block A write failed: %d\n", r);
            return r;
        }
        m_blockADirty = false;
    }
    if (m_blockBDirty) {
        const int r = FlushBlockB();
        if (r != CAMERA_STATUS_SUCCESS) {
            qv::Log("flash block B write failed: %d\n", r);
            return r;
        }
        m_blockBDirty = false;
    }
    return CAMERA_STATUS_SUCCESS;
}

int CFlashData::MarkBlockBAndFlush() {
    m_blockBDirty = true;
    return Flush();
}

// ---- Fields --------------------------------------------------------------------------------

int CFlashData::Format() {
    return CAMERA_STATUS_SUCCESS;
}

int CFlashData::WriteSN(uint8_t* sn, INT level) {
    if (sn == nullptr || level < 0 || level > 2) return CAMERA_STATUS_PARAMETER_INVALID;
    if (level == 0) {
        std::memcpy(m_blockA.serial0, sn, kFieldSize);
        m_blockADirty = true;
        return CAMERA_STATUS_SUCCESS;
    }
    std::memcpy(level == 1 ? m_blockB.serial1 : m_blockB.serial2, sn, kFieldSize);
    return MarkBlockBAndFlush();
}

int CFlashData::ReadSN(uint8_t* sn, INT level) {
    if (sn == nullptr || level < 0 || level > 2) return CAMERA_STATUS_PARAMETER_INVALID;
    const uint8_t* field = level == 0   ? m_blockA.serial0
                           : level == 1 ? m_blockB.serial1
                                        : m_blockB.serial2;
    std::memcpy(sn, field, kFieldSize);
    return CAMERA_STATUS_SUCCESS;
}

int CFlashData::SetBlockAText(char* field, const char* text) {
    if (text == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    CopyTextIn(field, text);
    m_blockADirty = true;
    return CAMERA_STATUS_SUCCESS;
}

int CFlashData::GetFriendlyName(char* name) {
    return CopyTextOut(name, m_blockB.friendlyName);
}

int CFlashData::SetFriendlyName(char* name) {
    if (name == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    CopyTextIn(m_blockB.friendlyName, name);
    return MarkBlockBAndFlush();
}

int CFlashData::GetProductName(char* name) {
    return CopyTextOut(name, m_blockA.productName);
}

int CFlashData::SetProductName(char* name) {
    return SetBlockAText(m_blockA.productName, name);
}

int CFlashData::GetProductSeries(char* series) {
    return CopyTextOut(series, m_blockA.productSeries);
}

int CFlashData::SetProductSeries(char* series) {
    return SetBlockAText(m_blockA.productSeries, series);
}

int CFlashData::GetDevicePortType(char* text) {
    return CopyTextOut(text, m_blockA.portType);
}

int CFlashData::SetDevicePortType(char* text) {
    return SetBlockAText(m_blockA.portType, text);
}

int CFlashData::GetDeviceID(uint32_t* id) {
    if (id == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    *id = m_blockA.deviceId;
    return CAMERA_STATUS_SUCCESS;
}

int CFlashData::SetDeviceID(uint32_t id) {
    m_blockA.deviceId = id;
    m_blockADirty = true;
    return CAMERA_STATUS_SUCCESS;
}

int CFlashData::GetDeviceMonoCfg(uint32_t* word) {
    if (word == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    *word = m_blockA.monoCfg;
    return CAMERA_STATUS_SUCCESS;
}

int CFlashData::SetDeviceMonoCfg(uint32_t word) {
    m_blockA.monoCfg = word;
    m_blockADirty = true;
    return CAMERA_STATUS_SUCCESS;
}

int CFlashData::GetSensorType(SensorTypeE* type) {
    if (type == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    *type = static_cast<SensorTypeE>(m_blockA.sensorType);
    return CAMERA_STATUS_SUCCESS;
}

int CFlashData::SetSensorType(SensorTypeE type) {
    m_blockA.sensorType = type;
    m_blockADirty = true;
    return CAMERA_STATUS_SUCCESS;
}

int CFlashData::ReadDeviceProperty(CameraProperty* prop) {
    if (prop == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    std::memcpy(prop, &m_blockA.property, sizeof *prop);
    return CAMERA_STATUS_SUCCESS;
}

int CFlashData::WriteDeviceProperty(const CameraProperty* prop) {
    if (prop == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    std::memcpy(&m_blockA.property, prop, sizeof *prop);
    m_blockADirty = true;
    return CAMERA_STATUS_SUCCESS;
}

// ---- User data and bad-pixel table ---------------------------------------------------------

int CFlashData::GetUserDataSize() {
    return static_cast<int>(m_map.userDataSize);
}

int CFlashData::SaveUserData(uint32_t offset, uint8_t* data, int len) {
    if (!RangeValid(offset, data, len, m_map.userDataSize)) return CAMERA_STATUS_PARAMETER_INVALID;
    return WriteRange(m_map.userData + offset, data, static_cast<size_t>(len));
}

int CFlashData::LoadUserData(uint32_t offset, uint8_t* data, int len) {
    if (!RangeValid(offset, data, len, m_map.userDataSize)) return CAMERA_STATUS_PARAMETER_INVALID;
    return ReadRange(m_map.userData + offset, data, static_cast<size_t>(len));
}

int CFlashData::SaveBadPixelTable(uint8_t* data, int len) {
    if (m_map.badPixelTable == kNoTable) return CAMERA_STATUS_NOT_SUPPORTED;
    if (!RangeValid(0, data, len, kBadPixelTableSize)) return CAMERA_STATUS_PARAMETER_INVALID;
    return WriteRange(m_map.badPixelTable, data, static_cast<size_t>(len));
}

int CFlashData::LoadBadPixelTable(uint8_t* data, int len) {
    if (m_map.badPixelTable == kNoTable) return CAMERA_STATUS_NOT_SUPPORTED;
    if (!RangeValid(0, data, len, kBadPixelTableSize)) return CAMERA_STATUS_PARAMETER_INVALID;
    return ReadRange(m_map.badPixelTable, data, static_cast<size_t>(len));
}

int CFlashData::ReadRange(uint32_t address, uint8_t* data, size_t len) {
    for (size_t done = 0; done < len;) {
        const size_t piece = std::min(kChunkSize, len - done);
        const int r = m_pDevice->ReadFlash(address + static_cast<uint32_t>(done),
                                           static_cast<uint16_t>(piece), data + done);
        if (r != CAMERA_STATUS_SUCCESS) return r;
        done += piece;
    }
    return CAMERA_STATUS_SUCCESS;
}

// Read-modify-write of the whole sectors the range touches. Example: 10 bytes at 0x15FFA give
// first = 0x15000 and span = (10 + 0xFFA) rounded up to 4096 = 0x2000, so the sectors 0x15000
// and 0x16000 are read, erased and rewritten with only those 10 bytes changed. The rewritten
// sectors are read back: a write that did not stick is reported, not taken for success.
int CFlashData::WriteRange(uint32_t address, const uint8_t* data, size_t len) {
    const uint32_t first = address & ~(kSectorSize - 1);
    const size_t lead = address - first;
    const size_t span = (lead + len + kSectorSize - 1) / kSectorSize * kSectorSize;
    std::vector<uint8_t> sectors(span);
    int r = ReadRange(first, sectors.data(), span);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    for (size_t at = 0; at < span; at += kSectorSize) {
        r = m_pDevice->EraseFlashSector(first + static_cast<uint32_t>(at), 0);
        if (r != CAMERA_STATUS_SUCCESS) return r;
    }
    std::memcpy(sectors.data() + lead, data, len);
    for (size_t done = 0; done < span;) {
        const size_t piece = std::min(kChunkSize, span - done);
        r = m_pDevice->WriteFlash(first + static_cast<uint32_t>(done), static_cast<uint16_t>(piece),
                                  sectors.data() + done);
        if (r != CAMERA_STATUS_SUCCESS) return r;
        done += piece;
    }
    std::vector<uint8_t> readBack(span);
    r = ReadRange(first, readBack.data(), span);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (readBack != sectors) {
        qv::Log("flash write at 0x%x did not read back\n", static_cast<unsigned>(first));
        return CAMERA_STATUS_IO_ERROR;
    }
    return CAMERA_STATUS_SUCCESS;
}
