// Test-data builder for the cameras' stored identity: the raw bytes of every EEPROM and flash
// layout, made from field values. It is written from the layout tables alone and shares no code
// or type with the SDK's storage classes, so a wrong offset on either side shows up as a
// mismatch. Any simulated device whose EEPROM or flash is a byte store can be filled with it
// (the fake device's storage models, the simulated USB camera).
//
//   qvsim::StoredFields f;
//   f.serial[0] = "SN0001"; f.productName = "QV-USB3"; f.sensorType = 17;
//   qvsim::SetPropertyWord(f.property, qvsim::kPropModelCode, 0xAA220001);
//   qvsim::SetPropertyWord(f.property, qvsim::kPropWrittenFlag, 1);
//   std::vector<uint8_t> flash(4 << 20, 0xFF);              // erased part
//   qvsim::WriteStorageImage(flash, qvsim::StorageLayout::kUsb3Flash, f);
//
// Depends on nothing but the standard library.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qvsim {

enum class StorageLayout {
    kEeprom0,        // USB 2.0 EEPROM without header
    kEeprom1,        // USB 2.0 EEPROM with header (magic 0xEEAA0001, version 1)
    kUsb3Flash,      // USB 3.0 flash
    kGigeFlash,      // GigE flash, hardware version other than "v3.0" / "v4.0"
    kGigeFlash4M,    // GigE flash, "v3.0"
    kGigeFlash4MEF,  // GigE flash, "v4.0"
};

// Property record offsets (712 bytes, little-endian int32 words unless noted).
constexpr size_t kPropertySize = 712;
constexpr size_t kPropRedGainRange = 0;  // {min, max}
constexpr size_t kPropGammaRange = 32;
constexpr size_t kPropContrastRange = 40;
constexpr size_t kPropSharpnessRange = 48;
constexpr size_t kPropMonoSensor = 56;
constexpr size_t kPropAeTargetOnSensor = 88;
constexpr size_t kPropWdrSupported = 96;
constexpr size_t kPropTriggerModeCount = 112;
constexpr size_t kPropTriggerModeMask = 116;
constexpr size_t kPropPresetCount = 120;
constexpr size_t kPropPresetMaskLow = 124;
constexpr size_t kPropBayerAlgDefault = 136;
constexpr size_t kPropBayerAlgMask = 140;
constexpr size_t kPropOutputFormatCount = 144;
constexpr size_t kPropOutputFormatMask = 148;
constexpr size_t kPropFrameSpeedCount = 152;
constexpr size_t kPropFrameSpeedMask = 156;
constexpr size_t kPropOutputIoCount = 168;
constexpr size_t kPropInputIoCount = 172;
constexpr size_t kPropAuxListCount = 176;
constexpr size_t kPropAuxListMask = 180;
constexpr size_t kPropUserDataSize = 184;
constexpr size_t kPropHostWord = 188;
constexpr size_t kPropBayerAlgCount = 208;
constexpr size_t kPropBayerAlgMode = 212;
constexpr size_t kPropDefaultSettings = 224;  // 240-byte settings block
constexpr size_t kPropDefaultAeTarget = 244;
constexpr size_t kPropDefaultLightFrequency = 284;
constexpr size_t kPropDefaultColorMatrix = 336;  // nine words
constexpr size_t kPropDefaultResolutionIndex = 376;
constexpr size_t kPropDefaultGamma = 404;
constexpr size_t kPropDefaultContrastLut = 408;
constexpr size_t kPropDefaultLutPreset = 412;
constexpr size_t kPropDefaultBlackLevel = 456;
constexpr size_t kPropModelNumber = 464;
constexpr size_t kPropWrittenFlag = 468;
constexpr size_t kPropSensorLimits = 472;  // eight words
constexpr size_t kPropContrastLutRange = 508;
constexpr size_t kPropModelCode = 516;
constexpr size_t kPropPresetMaskHigh = 520;

using PropertyBytes = std::array<uint8_t, kPropertySize>;
void SetPropertyWord(PropertyBytes& prop, size_t offset, uint32_t value);
uint32_t PropertyWord(const PropertyBytes& prop, size_t offset);

// What a camera keeps. Texts and serial numbers are stored as their first 32 bytes, zero-padded
// (a text of 32 characters or more is stored without terminator).
struct StoredFields {
    std::string serial[3];
    std::string friendlyName;
    std::string productSeries;
    std::string productName;
    std::string portType;
    uint32_t monoCfg = 0;
    uint32_t deviceId = 0;  // the EEPROM layout without header takes the sensor type from it
    int32_t sensorType = 0;
    PropertyBytes property{};
    std::vector<uint8_t> userData;       // from the start of the user-data area
    std::vector<uint8_t> badPixelTable;  // flash maps with a table only
};

// ---- EEPROM (USB 2.0) ----
constexpr uint32_t kEepromBase = 0x3800;
constexpr uint32_t kEepromUserDataOffset = 1024;  // from the base
constexpr uint32_t kEepromUserDataSize = 0x4000;
// The layout's bytes from the base: the 1024-byte identity area (unused bytes zero) followed by
// the user data given.
std::vector<uint8_t> EepromImage(StorageLayout layout, const StoredFields& fields);

// ---- Flash (USB 3.0, GigE) ----
struct FlashAddresses {
    uint32_t blockA;
    uint32_t blockB;
    uint32_t userData;
    uint32_t userDataSize;
    uint32_t badPixelTable;  // 0: the map has none
};
FlashAddresses FlashAddressesOf(StorageLayout layout);
constexpr size_t kBlockASize = 872;
constexpr size_t kBlockBSize = 108;
constexpr size_t kBlockAPageSize = 1024;
constexpr size_t kBlockBPageSize = 256;
constexpr size_t kBlockAChecksumOffset = 864;
constexpr size_t kBlockBChecksumOffset = 104;
// Pages as written to flash: magic, fields, checksum (8-bit sum of the block = 0xFF), zero pad.
std::vector<uint8_t> FlashBlockAPage(const StoredFields& fields);
std::vector<uint8_t> FlashBlockBPage(const StoredFields& fields);
// Sets the checksum byte of a block page again after a test changed its bytes.
void FixBlockChecksum(std::span<uint8_t> page, size_t blockSize, size_t checksumOffset);

// Writes the whole layout into a raw store indexed by device address: the 64 KiB EEPROM or the
// flash (at least 4 MiB covers every map). Bytes the layout does not name are left as they are,
// so start from a store filled with 0xFF like a new part.
void WriteStorageImage(std::span<uint8_t> store, StorageLayout layout, const StoredFields& fields);

}  // namespace qvsim
