#include "EEPromData.h"

#include <algorithm>
#include <cstring>

#include "common/ByteOrder.h"
#include "device/JNDevice.h"

namespace {
// The EEPROM is addressed with 16 bits.
constexpr uint64_t kAddressSpace = 0x10000;
}  // namespace

CEEPromData::CEEPromData(CJNDevice* device, uint32_t baseAddress, const Layout& layout)
    : CStorageData(device), m_baseAddress(baseAddress), m_layout(layout) {}

// ---- Chunked transfers ---------------------------------------------------------------------

int CEEPromData::ReadBytes(uint32_t offset, uint8_t* data, int len) {
    if (len <= 0 || data == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    const uint64_t start = static_cast<uint64_t>(m_baseAddress) + offset;
    if (start + static_cast<uint64_t>(len) > kAddressSpace) return CAMERA_STATUS_PARAMETER_INVALID;
    for (int done = 0; done < len;) {
        const int piece = std::min(kChunkSize, len - done);
        const int r = m_pDevice->ReadEEProm(static_cast<uint16_t>(start + done), data + done,
                                            static_cast<uint16_t>(piece));
        if (r != CAMERA_STATUS_SUCCESS) return r;
        done += piece;
    }
    return CAMERA_STATUS_SUCCESS;
}

int CEEPromData::WriteBytes(uint32_t offset, const uint8_t* data, int len) {
    if (len <= 0 || data == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    const uint64_t start = static_cast<uint64_t>(m_baseAddress) + offset;
    if (start + static_cast<uint64_t>(len) > kAddressSpace) return CAMERA_STATUS_PARAMETER_INVALID;
    for (int done = 0; done < len;) {
        const int piece = std::min(kChunkSize, len - done);
        // The device interface takes a non-const buffer; a write never changes it.
        const int r =
            m_pDevice->WriteEEProm(static_cast<uint16_t>(start + done),
                                   const_cast<uint8_t*>(data + done), static_cast<uint16_t>(piece));
        if (r != CAMERA_STATUS_SUCCESS) return r;
        done += piece;
    }
    return CAMERA_STATUS_SUCCESS;
}

int CEEPromData::ReadWord(uint32_t offset, uint32_t* word) {
    if (word == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    uint8_t bytes[4];
    const int r = ReadBytes(offset, bytes, sizeof bytes);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    *word = qv::LoadLe32(bytes);
    return CAMERA_STATUS_SUCCESS;
}

int CEEPromData::WriteWord(uint32_t offset, uint32_t word) {
    uint8_t bytes[4];
    qv::StoreLe32(bytes, word);
    return WriteBytes(offset, bytes, sizeof bytes);
}

// The stored field may be full or hold anything: only 31 bytes are read into a zeroed buffer,
// so the caller always gets a terminated text.
int CEEPromData::ReadText(uint32_t offset, char* text) {
    if (text == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    std::memset(text, 0, kFieldSize);
    return ReadBytes(offset, reinterpret_cast<uint8_t*>(text), kFieldSize - 1);
}

// The text with its terminator, cut to the 32-byte field (a longer text is stored without one).
// Bytes of the field after the terminator keep what they held.
int CEEPromData::WriteText(uint32_t offset, const char* text) {
    if (text == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    const size_t len = std::min<size_t>(strnlen(text, kFieldSize) + 1, kFieldSize);
    return WriteBytes(offset, reinterpret_cast<const uint8_t*>(text), static_cast<int>(len));
}

// ---- Serial numbers, texts and words -------------------------------------------------------

int CEEPromData::WriteSN(uint8_t* sn, INT level) {
    if (sn == nullptr || level < 0 || level > 2) return CAMERA_STATUS_PARAMETER_INVALID;
    return WriteBytes(m_layout.serial[level], sn, kFieldSize);
}

int CEEPromData::ReadSN(uint8_t* sn, INT level) {
    if (sn == nullptr || level < 0 || level > 2) return CAMERA_STATUS_PARAMETER_INVALID;
    return ReadBytes(m_layout.serial[level], sn, kFieldSize);
}

int CEEPromData::GetFriendlyName(char* name) {
    return ReadText(m_layout.friendlyName, name);
}
int CEEPromData::SetFriendlyName(char* name) {
    return WriteText(m_layout.friendlyName, name);
}
int CEEPromData::GetProductName(char* name) {
    return ReadText(m_layout.productName, name);
}
int CEEPromData::SetProductName(char* name) {
    return WriteText(m_layout.productName, name);
}
int CEEPromData::GetProductSeries(char* series) {
    return ReadText(m_layout.productSeries, series);
}
int CEEPromData::SetProductSeries(char* series) {
    return WriteText(m_layout.productSeries, series);
}
int CEEPromData::GetDevicePortType(char* text) {
    return ReadText(m_layout.portType, text);
}
int CEEPromData::SetDevicePortType(char* text) {
    return WriteText(m_layout.portType, text);
}
int CEEPromData::GetDeviceID(uint32_t* id) {
    return ReadWord(m_layout.deviceId, id);
}
int CEEPromData::SetDeviceID(uint32_t id) {
    return WriteWord(m_layout.deviceId, id);
}
int CEEPromData::GetDeviceMonoCfg(uint32_t* word) {
    return ReadWord(m_layout.monoCfg, word);
}
int CEEPromData::SetDeviceMonoCfg(uint32_t word) {
    return WriteWord(m_layout.monoCfg, word);
}

// ---- Property record -----------------------------------------------------------------------

int CEEPromData::ReadDeviceProperty(CameraProperty* prop) {
    if (prop == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    if (!m_propertyValid) {
        CameraProperty read;
        const int r = ReadBytes(m_layout.property, reinterpret_cast<uint8_t*>(&read), sizeof read);
        if (r != CAMERA_STATUS_SUCCESS) return r;
        m_property = read;
        m_propertyValid = true;
    }
    *prop = m_property;
    return CAMERA_STATUS_SUCCESS;
}

int CEEPromData::WriteDeviceProperty(const CameraProperty* prop) {
    if (prop == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    const int r =
        WriteBytes(m_layout.property, reinterpret_cast<const uint8_t*>(prop), sizeof *prop);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_property = *prop;
    m_propertyValid = true;
    return CAMERA_STATUS_SUCCESS;
}

// ---- User data -----------------------------------------------------------------------------

int CEEPromData::GetUserDataSize() {
    return kUserDataSize;
}

int CEEPromData::SaveUserData(uint32_t offset, uint8_t* data, int len) {
    if (!RangeValid(offset, data, len, kUserDataSize)) return CAMERA_STATUS_PARAMETER_INVALID;
    return WriteBytes(kUserDataOffset + offset, data, len);
}

int CEEPromData::LoadUserData(uint32_t offset, uint8_t* data, int len) {
    if (!RangeValid(offset, data, len, kUserDataSize)) return CAMERA_STATUS_PARAMETER_INVALID;
    return ReadBytes(kUserDataOffset + offset, data, len);
}

// ---- Not kept in EEPROM --------------------------------------------------------------------

int CEEPromData::SaveBadPixelTable(uint8_t* data, int len) {
    (void)data, (void)len;
    return CAMERA_STATUS_NOT_SUPPORTED;
}
int CEEPromData::LoadBadPixelTable(uint8_t* data, int len) {
    (void)data, (void)len;
    return CAMERA_STATUS_NOT_SUPPORTED;
}
int CEEPromData::LoadParam() {
    return CAMERA_STATUS_SUCCESS;
}
int CEEPromData::Flush() {
    return CAMERA_STATUS_SUCCESS;
}
