// The records of an upgrade file. All fields are little-endian 32-bit words; the file is decoded
// byte by byte (Decode) so the records mean the same on any host.
//
//   offset 0    UpgradeFileHeader (20 bytes)
//   offset 20   support count x Tag_UpgradeCameraInfo (8 bytes each)
//   then        element count x { UpgradeElmentHeader (32 bytes), length data bytes }
//
// Element data is stored masked: data word i (bytes 4i to 4i + 3, little-endian) is XORed with
// mask[i mod 4]; the last length mod 4 bytes are stored plain.
#pragma once

#include <cstddef>
#include <cstdint>

struct UpgradeFileHeader {
    uint32_t magic;         // kUpgradeFileMagic
    uint32_t deviceId;      // the camera's tDevInfo::uDeviceId
    uint32_t total;         // sum of the element lengths: the denominator of the progress
    uint32_t elementCount;  // elements to process
    uint32_t supportCount;  // Tag_UpgradeCameraInfo entries after the header
};
static_assert(sizeof(UpgradeFileHeader) == 20);

struct Tag_UpgradeCameraInfo {
    uint32_t sensorType;  // SensorTypeE
    uint32_t boardCode;   // CameraProperty::modelCode
};
static_assert(sizeof(Tag_UpgradeCameraInfo) == 8);

struct UpgradeElmentHeader {
    uint32_t magic;  // kUpgradeElementMagic
    uint32_t reserved;
    uint32_t length;  // data bytes after the header
    uint32_t type;    // meaning per camera family
    uint32_t mask[4];
};
static_assert(sizeof(UpgradeElmentHeader) == 32);

inline constexpr uint32_t kUpgradeFileMagic = 0xBB7863D1;
inline constexpr uint32_t kUpgradeElementMagic = 0xBB7863DD;

namespace upgrade {

void Decode(const uint8_t (&bytes)[sizeof(UpgradeFileHeader)], UpgradeFileHeader* header);
void Decode(const uint8_t (&bytes)[sizeof(Tag_UpgradeCameraInfo)], Tag_UpgradeCameraInfo* info);
void Decode(const uint8_t (&bytes)[sizeof(UpgradeElmentHeader)], UpgradeElmentHeader* header);

// Restores masked element data in place (see above).
void Unmask(uint8_t* data, size_t length, const uint32_t (&mask)[4]);

}  // namespace upgrade
