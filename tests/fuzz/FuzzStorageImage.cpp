// A camera's stored identity from arbitrary bytes: the EEPROM layouts and the flash parameter
// blocks of every family, read through the storage classes from an in-memory device. The first
// byte chooses the layout; the rest fills the EEPROM from its base address, or the flash's block
// A page, block B page and user data (both blocks carry their magic and a valid checksum
// unless the second byte says otherwise, so the fields behind them are reached). Every getter
// runs into buffers exactly as large as the interface says; texts come back terminated.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
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

void Terminated(const char* text) {
    if (strnlen(text, 32) >= 32) __builtin_trap();
}

void ReadEverything(CStorageData& s) {
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
    const int userSize = s.GetUserDataSize();
    if (userSize < 0 || userSize > (1 << 20)) __builtin_trap();
    std::vector<uint8_t> user(static_cast<size_t>(userSize));
    if (!user.empty()) s.LoadUserData(0, user.data(), userSize);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    static const StorageLayout kLayouts[] = {
        StorageLayout::kEeprom0,   StorageLayout::kEeprom1,     StorageLayout::kUsb3Flash,
        StorageLayout::kGigeFlash, StorageLayout::kGigeFlash4M, StorageLayout::kGigeFlash4MEF};
    static const char* const kVersions[] = {nullptr, nullptr, nullptr, "v1.0", "v3.0", "v4.0"};
    const size_t which = data[0] % std::size(kLayouts);
    const uint8_t flags = data[1];
    data += 2;
    size -= 2;

    qvsim::CFakeDevice device;
    if (which < 2) {
        static qvsim::CMemEeprom eeprom;
        device.SetDeviceType(0x1201);
        std::fill(eeprom.Bytes().begin(), eeprom.Bytes().end(), 0xFF);
        eeprom.Attach(device);
        const size_t n = std::min(size, eeprom.Bytes().size() - kEepromBase);
        std::copy(data, data + n, eeprom.Bytes().begin() + kEepromBase);
        if (which == 1) {
            const uint8_t magic[4] = {0x01, 0x00, 0xAA, 0xEE};
            std::copy(magic, magic + 4, eeprom.Bytes().begin() + kEepromBase);
        }
    } else {
        static qvsim::CNorFlash flash;
        device.SetDeviceType(which == 2 ? 0x1301 : 0x2001);
        std::fill(flash.Bytes().begin(), flash.Bytes().end(), 0xFF);
        flash.Attach(device);
        const auto map = qvsim::FlashAddressesOf(kLayouts[which]);
        std::vector<uint8_t> pageA(kPageA, 0xFF), pageB(kPageB, 0xFF);
        const size_t a = std::min(size, kPageA);
        std::copy(data, data + a, pageA.begin());
        const size_t b = std::min(size - a, kPageB);
        std::copy(data + a, data + a + b, pageB.begin());
        const size_t u = std::min<size_t>(size - a - b, map.userDataSize);
        std::copy(data + a + b, data + a + b + u, flash.Bytes().begin() + map.userData);
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
        std::copy(pageA.begin(), pageA.end(), flash.Bytes().begin() + map.blockA);
        std::copy(pageB.begin(), pageB.end(), flash.Bytes().begin() + map.blockB);
        if (map.badPixelTable != 0 && size > a + b + u) {
            const size_t t = std::min<size_t>(size - a - b - u, 4096);
            std::copy(data + a + b + u, data + a + b + u + t,
                      flash.Bytes().begin() + map.badPixelTable);
        }
    }

    CStorageData* storage = CreateStorageData(&device, kVersions[which]);
    if (storage == nullptr) return 0;
    ReadEverything(*storage);
    device.AdoptStorage(storage);
    std::vector<uint32_t> positions;
    const int r = ReadBadPixelList(device, positions);
    if (r == 0 && positions.size() > kBadPixelMaxCount) __builtin_trap();
    return 0;
}
