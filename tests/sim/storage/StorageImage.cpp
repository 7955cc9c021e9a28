#include "StorageImage.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace qvsim {

namespace {

constexpr size_t kField = 32;

void Put32(std::span<uint8_t> bytes, size_t offset, uint32_t value) {
    if (offset + 4 > bytes.size()) throw std::out_of_range("storage image word");
    bytes[offset] = static_cast<uint8_t>(value);
    bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
    bytes[offset + 2] = static_cast<uint8_t>(value >> 16);
    bytes[offset + 3] = static_cast<uint8_t>(value >> 24);
}

void PutText(std::span<uint8_t> bytes, size_t offset, const std::string& text) {
    if (offset + kField > bytes.size()) throw std::out_of_range("storage image text");
    std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset), kField, uint8_t{0});
    std::memcpy(bytes.data() + offset, text.data(), std::min(text.size(), kField));
}

void PutBytes(std::span<uint8_t> bytes, size_t offset, std::span<const uint8_t> data) {
    if (offset + data.size() > bytes.size()) throw std::out_of_range("storage image bytes");
    std::copy(data.begin(), data.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
}

}  // namespace

void SetPropertyWord(PropertyBytes& prop, size_t offset, uint32_t value) {
    Put32(prop, offset, value);
}

uint32_t PropertyWord(const PropertyBytes& prop, size_t offset) {
    if (offset + 4 > prop.size()) throw std::out_of_range("property word");
    return static_cast<uint32_t>(prop[offset]) | static_cast<uint32_t>(prop[offset + 1]) << 8 |
           static_cast<uint32_t>(prop[offset + 2]) << 16 |
           static_cast<uint32_t>(prop[offset + 3]) << 24;
}

// ---- EEPROM --------------------------------------------------------------------------------

std::vector<uint8_t> EepromImage(StorageLayout layout, const StoredFields& f) {
    if (f.userData.size() > kEepromUserDataSize) throw std::length_error("EEPROM user data");
    std::vector<uint8_t> image(kEepromUserDataOffset + f.userData.size(), 0);
    switch (layout) {
        case StorageLayout::kEeprom0:
            PutText(image, 0, f.serial[0]);
            PutText(image, 32, f.serial[1]);
            PutText(image, 64, f.serial[2]);
            PutText(image, 96, f.friendlyName);
            PutText(image, 128, f.productSeries);
            PutText(image, 160, f.productName);
            PutBytes(image, 192, f.property);
            Put32(image, 984, f.monoCfg);
            PutText(image, 988, f.portType);
            Put32(image, 1020, f.deviceId);
            break;
        case StorageLayout::kEeprom1:
            Put32(image, 0, 0xEEAA0001);
            Put32(image, 4, 1);
            PutText(image, 8, f.serial[0]);
            PutText(image, 40, f.serial[1]);
            PutText(image, 72, f.serial[2]);
            PutText(image, 104, f.friendlyName);
            PutText(image, 136, f.productSeries);
            PutText(image, 168, f.productName);
            PutText(image, 200, f.portType);
            Put32(image, 232, f.monoCfg);
            Put32(image, 236, f.deviceId);
            Put32(image, 240, static_cast<uint32_t>(f.sensorType));
            PutBytes(image, 248, f.property);
            break;
        default:
            throw std::invalid_argument("not an EEPROM layout");
    }
    PutBytes(image, kEepromUserDataOffset, f.userData);
    return image;
}

// ---- Flash ---------------------------------------------------------------------------------

FlashAddresses FlashAddressesOf(StorageLayout layout) {
    switch (layout) {
        case StorageLayout::kUsb3Flash:
            return {0x10000, 0x11000, 0x15000, 0xB000, 0xC0000};
        case StorageLayout::kGigeFlash:
            return {0x58000, 0x59000, 0x5A000, 4096, 0};
        case StorageLayout::kGigeFlash4M:
            return {0x102000, 0x103000, 0x104000, 0x40000, 0x144000};
        case StorageLayout::kGigeFlash4MEF:
            return {0x2B8000, 0x2B9000, 0x2BB000, 0x40000, 0x2FB000};
        default:
            throw std::invalid_argument("not a flash layout");
    }
}

void FixBlockChecksum(std::span<uint8_t> page, size_t blockSize, size_t checksumOffset) {
    page[checksumOffset] = 0;
    unsigned sum = 0;
    for (size_t i = 0; i < blockSize; ++i) sum += page[i];
    page[checksumOffset] = static_cast<uint8_t>(0xFF - (sum & 0xFF));
}

std::vector<uint8_t> FlashBlockAPage(const StoredFields& f) {
    std::vector<uint8_t> page(kBlockAPageSize, 0);
    Put32(page, 0, 0x55AA0002);
    PutText(page, 8, f.serial[0]);
    PutText(page, 40, f.productSeries);
    PutText(page, 72, f.productName);
    PutText(page, 104, f.portType);
    Put32(page, 136, f.monoCfg);
    Put32(page, 140, f.deviceId);
    Put32(page, 144, static_cast<uint32_t>(f.sensorType));
    PutBytes(page, 152, f.property);
    FixBlockChecksum(page, kBlockASize, kBlockAChecksumOffset);
    return page;
}

std::vector<uint8_t> FlashBlockBPage(const StoredFields& f) {
    std::vector<uint8_t> page(kBlockBPageSize, 0);
    Put32(page, 0, 0x55AA0001);
    PutText(page, 8, f.serial[1]);
    PutText(page, 40, f.serial[2]);
    PutText(page, 72, f.friendlyName);
    FixBlockChecksum(page, kBlockBSize, kBlockBChecksumOffset);
    return page;
}

// ---- Whole layouts -------------------------------------------------------------------------

void WriteStorageImage(std::span<uint8_t> store, StorageLayout layout, const StoredFields& f) {
    if (layout == StorageLayout::kEeprom0 || layout == StorageLayout::kEeprom1) {
        PutBytes(store, kEepromBase, EepromImage(layout, f));
        return;
    }
    const FlashAddresses map = FlashAddressesOf(layout);
    if (f.userData.size() > map.userDataSize) throw std::length_error("flash user data");
    if (!f.badPixelTable.empty() && map.badPixelTable == 0)
        throw std::invalid_argument("this flash map has no bad-pixel table");
    PutBytes(store, map.blockA, FlashBlockAPage(f));
    PutBytes(store, map.blockB, FlashBlockBPage(f));
    PutBytes(store, map.userData, f.userData);
    if (!f.badPixelTable.empty()) PutBytes(store, map.badPixelTable, f.badPixelTable);
}

}  // namespace qvsim
