// Storage parsers on arbitrary bytes: whatever a camera holds, nothing is read or written out
// of bounds, texts come back terminated within their 32 bytes, and a bad-pixel count is never
// trusted. Best run under the address and undefined-behaviour sanitizers.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "StorageTestUtil.h"
#include "storage/BadPixelTable.h"

using namespace storagetest;
using qvsim::StorageLayout;

namespace {

constexpr int kRounds = 60;

// Calls every getter into buffers that are exactly as large as the interface says, and checks
// that each text is terminated.
void ReadEverything(CStorageData& s, int round) {
    char text[32];
    using Getter = int (CStorageData::*)(char*);
    for (Getter g : {&CStorageData::GetFriendlyName, &CStorageData::GetProductName,
                     &CStorageData::GetProductSeries, &CStorageData::GetDevicePortType}) {
        std::memset(text, 0x55, sizeof text);
        ASSERT_EQ((s.*g)(text), 0);
        EXPECT_LT(strnlen(text, sizeof text), 32u) << "round " << round;
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
    std::vector<uint8_t> user(static_cast<size_t>(std::max(0, s.GetUserDataSize())));
    if (!user.empty()) s.LoadUserData(0, user.data(), static_cast<int>(user.size()));
}

std::vector<uint8_t> RandomBytes(std::mt19937& rng, size_t n) {
    std::vector<uint8_t> bytes(n);
    for (auto& b : bytes) b = static_cast<uint8_t>(rng());
    return bytes;
}

TEST(StorageRobustness, EepromWithArbitraryBytes) {
    std::mt19937 rng(20240611);
    for (int round = 0; round < kRounds; ++round) {
        qvsim::CFakeDevice dev;
        qvsim::CMemEeprom eeprom;
        dev.SetDeviceType(kUsb2);
        eeprom.Attach(dev);
        auto bytes = RandomBytes(rng, eeprom.Bytes().size());
        std::copy(bytes.begin(), bytes.end(), eeprom.Bytes().begin());
        if (round % 2) {  // half of them with the header magic
            const uint8_t magic[4] = {0x01, 0x00, 0xAA, 0xEE};
            std::copy(magic, magic + 4, eeprom.Bytes().begin() + 0x3800);
        }
        std::unique_ptr<CStorageData> s(CreateStorageData(&dev, nullptr));
        ASSERT_NE(s, nullptr);
        ReadEverything(*s, round);
    }
}

// Flash pages with a valid magic and checksum around random contents, so the parser accepts
// them and every field is arbitrary.
TEST(StorageRobustness, FlashWithArbitraryBlocks) {
    std::mt19937 rng(7);
    const StorageLayout layouts[] = {StorageLayout::kUsb3Flash, StorageLayout::kGigeFlash,
                                     StorageLayout::kGigeFlash4M, StorageLayout::kGigeFlash4MEF};
    const char* versions[] = {nullptr, "v1.0", "v3.0", "v4.0"};
    for (int round = 0; round < kRounds; ++round) {
        const int which = round % 4;
        qvsim::CFakeDevice dev;
        qvsim::CNorFlash flash;
        dev.SetDeviceType(which == 0 ? kUsb3 : kGige);
        flash.Attach(dev);
        const auto map = qvsim::FlashAddressesOf(layouts[which]);
        auto pageA = RandomBytes(rng, 1024);
        const uint8_t magicA[4] = {0x02, 0x00, 0xAA, 0x55};
        std::copy(magicA, magicA + 4, pageA.begin());
        qvsim::FixBlockChecksum(pageA, 872, 864);
        auto pageB = RandomBytes(rng, 256);
        const uint8_t magicB[4] = {0x01, 0x00, 0xAA, 0x55};
        if (round % 3) std::copy(magicB, magicB + 4, pageB.begin());
        qvsim::FixBlockChecksum(pageB, 108, 104);
        std::copy(pageA.begin(), pageA.end(), flash.Bytes().begin() + map.blockA);
        std::copy(pageB.begin(), pageB.end(), flash.Bytes().begin() + map.blockB);
        auto user = RandomBytes(rng, map.userDataSize);
        std::copy(user.begin(), user.end(), flash.Bytes().begin() + map.userData);

        std::unique_ptr<CStorageData> s(CreateStorageData(&dev, versions[which]));
        ASSERT_NE(s, nullptr) << "round " << round;
        ReadEverything(*s, round);
        if (which != 0) {
            // GigE serial numbers always come back terminated.
            uint8_t sn[32];
            for (int level = 0; level < 3; ++level) {
                ASSERT_EQ(s->ReadSN(sn, level), 0);
                EXPECT_LT(strnlen(reinterpret_cast<char*>(sn), 32), 32u);
            }
        }
        // A block B replaced by defaults takes block A's product name, which may fill its field.
        char name[32];
        ASSERT_EQ(s->GetFriendlyName(name), 0);
        EXPECT_LT(strnlen(name, 32), 32u);
    }
}

TEST(StorageRobustness, BadPixelAreaWithArbitraryBytes) {
    std::mt19937 rng(99);
    qvsim::CFakeDevice dev;
    qvsim::CNorFlash flash;
    dev.SetDeviceType(kUsb3);
    flash.Attach(dev);
    qvsim::WriteStorageImage(flash.Bytes(), StorageLayout::kUsb3Flash, SampleFields());
    dev.AdoptStorage(CreateStorageData(&dev, nullptr));
    ASSERT_TRUE(dev.HasStorage());
    for (int round = 0; round < kRounds; ++round) {
        auto header = RandomBytes(rng, 32);
        const uint8_t magic[4] = {0x05, 0x12, 0x23, 0x20};
        if (round % 2) std::copy(magic, magic + 4, header.begin());
        std::copy(header.begin(), header.end(), flash.Bytes().begin() + 0xC0000);
        std::vector<uint32_t> positions;
        const int r = ReadBadPixelList(dev, positions);
        EXPECT_TRUE(r == 0 || r == CAMERA_STATUS_DATA_INVALID) << r;
        EXPECT_LE(positions.size(), kBadPixelMaxCount);
    }
}

}  // namespace
