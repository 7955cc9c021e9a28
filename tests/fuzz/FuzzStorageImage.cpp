// A camera's stored identity from arbitrary bytes: the EEPROM layouts and the flash parameter
// blocks of every family, read through the storage classes from an in-memory device. The first
// byte chooses the layout; the rest fills the EEPROM from its base address, or the flash's block
// A page, block B page, user data (64 bytes times the second byte's upper six bits) and, on the
// maps that keep one, the dead-pixel table. Both blocks carry their magic and a valid checksum
// unless the second byte's low bits say otherwise, so the fields behind them are reached. The
// table can be read only as far as the input gave it. Every getter runs into buffers exactly as
// large as the interface says; texts come back terminated; the user data is read at its start
// and its last byte, and a range past its end is refused; reading never writes.
//
// One device and one EEPROM and flash model serve every input: a new device and a 4 MiB flash
// filled for each input were most of the time an input took. Each input puts back to erased
// only the bytes the previous one wrote.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <utility>
#include <vector>

#include "FakeDevice.h"
#include "MemEeprom.h"
#include "NorFlash.h"
#include "StorageImage.h"
#include "storage/BadPixelTable.h"
#include "storage/CameraProperty.h"
#include "storage/StorageData.h"

namespace {

using qvsim::StorageLayout;

constexpr size_t kEepromBase = 0x3800;
constexpr size_t kPageA = 1024;
constexpr size_t kPageB = 256;
constexpr size_t kTableBytes = 4096;  // of the dead-pixel table, from the input
constexpr int kUserBytes = 4096;      // of the user data read back
constexpr uint32_t kBadPixelTableBytes = 0x40000;
constexpr int kLargestUserData = 0x40000;  // of any map

// The fake device with its storage operations going straight to the models (no call record),
// and a trap for any write: reading the identity must not change the camera.
class StoreDevice : public qvsim::CFakeDevice {
  public:
    void SetType(uint16_t type) { m_type = type; }
    qvsim::CMemEeprom& Eeprom() { return m_eeprom; }
    qvsim::CNorFlash& Flash() { return m_flash; }

    int GetDeviceType(uint16_t* type) override {
        *type = m_type;
        return CAMERA_STATUS_SUCCESS;
    }
    int ReadEEProm(uint16_t address, uint8_t* data, uint16_t len) override {
        return m_eeprom.Read(address, data, len);
    }
    int ReadFlash(uint32_t address, uint16_t len, uint8_t* data) override {
        if (uint64_t{address} + len > m_unreadableFrom && address < m_unreadableTo)
            return CAMERA_STATUS_IO_ERROR;
        return m_flash.Read(address, data, len);
    }
    // Reads that reach into [from, to) fail. The dead-pixel table is readable only as far as the
    // input gave it: a count it does not back costs a failed read, not reading (and allocating)
    // up to 256 KiB of erased positions, which made such inputs a hundred times slower.
    void SetUnreadable(uint32_t from, uint32_t to) {
        m_unreadableFrom = from;
        m_unreadableTo = to;
    }
    int WriteEEProm(uint16_t, uint8_t*, uint16_t) override { __builtin_trap(); }
    int EraseFlashSector(uint32_t, uint8_t) override { __builtin_trap(); }
    int WriteFlash(uint32_t, uint16_t, uint8_t*) override { __builtin_trap(); }

  private:
    uint16_t m_type = 0;
    uint32_t m_unreadableFrom = 0;
    uint32_t m_unreadableTo = 0;
    qvsim::CMemEeprom m_eeprom;
    qvsim::CNorFlash m_flash;
};

// Copies into the store and remembers the range, so that the next input can erase it again.
class Store {
  public:
    explicit Store(std::span<uint8_t> bytes) : m_bytes(bytes) {}
    void Put(size_t at, const uint8_t* data, size_t n) {
        std::copy(data, data + n, m_bytes.begin() + static_cast<std::ptrdiff_t>(at));
        m_written.emplace_back(at, n);
    }
    void Erase() {
        for (auto [at, n] : m_written)
            std::fill_n(m_bytes.begin() + static_cast<std::ptrdiff_t>(at), n, uint8_t{0xFF});
        m_written.clear();
    }

  private:
    std::span<uint8_t> m_bytes;
    std::vector<std::pair<size_t, size_t>> m_written;
};

void Terminated(const char* text) {
    if (strnlen(text, 32) >= 32) __builtin_trap();
}

void ReadEverything(CStorageData& s, std::vector<uint8_t>& user) {
    char text[32];
    using Getter = int (CStorageData::*)(char*);
    for (Getter g : {&CStorageData::GetFriendlyName, &CStorageData::GetProductName,
                     &CStorageData::GetProductSeries, &CStorageData::GetDevicePortType}) {
        if ((s.*g)(text) == 0) Terminated(text);
    }
    uint8_t sn[32];
    for (int level = 0; level < 3; ++level) s.ReadSN(sn, level);
    uint32_t word;
    s.GetDeviceID(&word);
    s.GetDeviceMonoCfg(&word);
    SensorTypeE type;
    s.GetSensorType(&type);
    CameraProperty prop;
    s.ReadDeviceProperty(&prop);
    // The start of the user data, and its last byte; a range past the area is refused.
    const int userSize = s.GetUserDataSize();
    if (userSize < 0 || userSize > kLargestUserData) __builtin_trap();
    if (userSize > 0) {
        s.LoadUserData(0, user.data(), std::min(userSize, kUserBytes));
        s.LoadUserData(static_cast<uint32_t>(userSize - 1), user.data(), 1);
        if (s.LoadUserData(static_cast<uint32_t>(userSize - 1), user.data(), 2) !=
                CAMERA_STATUS_PARAMETER_INVALID ||
            s.LoadUserData(static_cast<uint32_t>(userSize), user.data(), 1) !=
                CAMERA_STATUS_PARAMETER_INVALID)
            __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    static const StorageLayout kLayouts[] = {
        StorageLayout::kEeprom0,   StorageLayout::kEeprom1,     StorageLayout::kUsb3Flash,
        StorageLayout::kGigeFlash, StorageLayout::kGigeFlash4M, StorageLayout::kGigeFlash4MEF};
    static const char* const kVersions[] = {nullptr, nullptr, nullptr, "v1.0", "v3.0", "v4.0"};
    static StoreDevice& device = *new StoreDevice();
    static Store& eeprom = *new Store(device.Eeprom().Bytes());
    static Store& flash = *new Store(device.Flash().Bytes());
    static std::vector<uint8_t>& user = *new std::vector<uint8_t>(kUserBytes);
    eeprom.Erase();
    flash.Erase();

    const size_t which = data[0] % std::size(kLayouts);
    const uint8_t flags = data[1];
    data += 2;
    size -= 2;

    device.SetUnreadable(0, 0);
    if (which < 2) {
        device.SetType(0x1201);
        eeprom.Put(kEepromBase, data, std::min(size, qvsim::CMemEeprom::kSize - kEepromBase));
        if (which == 1) {
            const uint8_t magic[4] = {0x01, 0x00, 0xAA, 0xEE};
            eeprom.Put(kEepromBase, magic, std::min<size_t>(size, 4));
        }
    } else {
        device.SetType(which == 2 ? 0x1301 : 0x2001);
        const auto map = qvsim::FlashAddressesOf(kLayouts[which]);
        std::vector<uint8_t> pageA(kPageA, 0xFF), pageB(kPageB, 0xFF);
        const size_t a = std::min(size, kPageA);
        std::copy(data, data + a, pageA.begin());
        const size_t b = std::min(size - a, kPageB);
        std::copy(data + a, data + a + b, pageB.begin());
        const size_t u = std::min<size_t>(
            {size - a - b, static_cast<size_t>(flags >> 2) * 64, map.userDataSize});
        if (!(flags & 1)) {
            const uint8_t magicA[4] = {0x02, 0x00, 0xAA, 0x55};
            std::copy(magicA, magicA + 4, pageA.begin());
            qvsim::FixBlockChecksum(pageA, 872, 864);
        }
        if (!(flags & 2)) {
            const uint8_t magicB[4] = {0x01, 0x00, 0xAA, 0x55};
            std::copy(magicB, magicB + 4, pageB.begin());
            qvsim::FixBlockChecksum(pageB, 108, 104);
        }
        flash.Put(map.blockA, pageA.data(), pageA.size());
        flash.Put(map.blockB, pageB.data(), pageB.size());
        flash.Put(map.userData, data + a + b, u);
        if (map.badPixelTable != 0) {
            const size_t t = std::min<size_t>(size - a - b - u, kTableBytes);
            flash.Put(map.badPixelTable, data + a + b + u, t);
            device.SetUnreadable(map.badPixelTable + static_cast<uint32_t>(t),
                                 map.badPixelTable + kBadPixelTableBytes);
        }
    }

    CStorageData* storage = CreateStorageData(&device, kVersions[which]);
    if (storage == nullptr) return 0;
    ReadEverything(*storage, user);
    device.AdoptStorage(storage);
    std::vector<uint32_t> positions;
    const int r = ReadBadPixelList(device, positions);
    if (r == 0 && positions.size() > kBadPixelMaxCount) __builtin_trap();
    device.AdoptStorage(nullptr);
    return 0;
}
