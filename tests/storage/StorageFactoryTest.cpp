// The storage factory: which layout class each device gets, and when it gets none.
#include <gtest/gtest.h>

#include <cstring>

#include "StorageTestUtil.h"
#include "storage/EEPromData0.h"
#include "storage/EEPromData1.h"
#include "storage/FlashData.h"
#include "storage/GigeFlash4MData.h"
#include "storage/GigeFlash4MDataEF.h"
#include "storage/GigeFlashData.h"

using namespace storagetest;
using qvsim::StorageLayout;
using qvsim::StorageOp;

namespace {

enum class Kind { kNone, kEeprom0, kEeprom1, kUsb3, kGige, kGige4M, kGige4MEF };

Kind KindOf(const CStorageData* s) {
    // Most derived first.
    if (s == nullptr) return Kind::kNone;
    if (dynamic_cast<const CGigeFlash4MDataEF*>(s)) return Kind::kGige4MEF;
    if (dynamic_cast<const CGigeFlash4MData*>(s)) return Kind::kGige4M;
    if (dynamic_cast<const CGigeFlashData*>(s)) return Kind::kGige;
    if (dynamic_cast<const CFlashData*>(s)) return Kind::kUsb3;
    if (dynamic_cast<const CEEPromData1*>(s)) return Kind::kEeprom1;
    if (dynamic_cast<const CEEPromData0*>(s)) return Kind::kEeprom0;
    return Kind::kNone;
}

// Every flash map filled, so only the choice of class decides.
void FillAllFlashMaps(qvsim::CNorFlash& flash) {
    const auto f = SampleFields();
    for (auto layout : {StorageLayout::kUsb3Flash, StorageLayout::kGigeFlash,
                        StorageLayout::kGigeFlash4M, StorageLayout::kGigeFlash4MEF})
        qvsim::WriteStorageImage(flash.Bytes(), layout, f);
}

TEST(StorageFactory, GigeHardwareVersionSelectsTheMap) {
    struct Case {
        const char* what;
        std::vector<char> text;  // as read from the camera; empty: null pointer
        Kind expected;
    };
    auto bytes = [](const char* s, size_t size = 32) {
        std::vector<char> v(size, 0);
        std::memcpy(v.data(), s, std::min(strlen(s), size));
        return v;
    };
    const Case cases[] = {
        {"v4.0", bytes("v4.0"), Kind::kGige4MEF},
        {"v3.0", bytes("v3.0"), Kind::kGige4M},
        {"v2.0", bytes("v2.0"), Kind::kGige},
        {"v4.0 with a further character", bytes("v4.0a"), Kind::kGige},
        {"v3.01", bytes("v3.01"), Kind::kGige},
        {"empty", bytes(""), Kind::kGige},
        {"null", {}, Kind::kGige},
        {"32 bytes without terminator", bytes("v4.0v4.0v4.0v4.0v4.0v4.0v4.0v4.0x"), Kind::kGige},
    };
    for (const Case& c : cases) {
        qvsim::CFakeDevice dev;
        qvsim::CNorFlash flash;
        dev.SetDeviceType(kGige);
        flash.Attach(dev);
        FillAllFlashMaps(flash);
        std::unique_ptr<CStorageData> s(
            CreateStorageData(&dev, c.text.empty() ? nullptr : c.text.data()));
        EXPECT_EQ(KindOf(s.get()), c.expected) << c.what;
    }
}

TEST(StorageFactory, LogsTheHardwareVersion) {
    qvsim::CFakeDevice dev;
    qvsim::CNorFlash flash;
    dev.SetDeviceType(kGige);
    flash.Attach(dev);
    FillAllFlashMaps(flash);
    qvsim::LogCapture log;
    std::unique_ptr<CStorageData> s(CreateStorageData(&dev, "v3.0"));
    EXPECT_EQ(log.Count("read hardware version v3.0\n"), 1);
}

TEST(StorageFactory, Usb2PicksTheLayoutByItsMagic) {
    qvsim::CFakeDevice dev;
    qvsim::CMemEeprom eeprom;
    dev.SetDeviceType(kUsb2);
    eeprom.Attach(dev);
    // A new EEPROM (all 0xFF) is taken as the layout without header: no validity test.
    std::unique_ptr<CStorageData> s(CreateStorageData(&dev, nullptr));
    EXPECT_EQ(KindOf(s.get()), Kind::kEeprom0);
    const auto reads = dev.CallsNamed({"ReadEEProm"});
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].args, (std::vector<int64_t>{0x3800, 4}));

    qvsim::WriteStorageImage(eeprom.Bytes(), StorageLayout::kEeprom1, SampleFields());
    s.reset(CreateStorageData(&dev, nullptr));
    EXPECT_EQ(KindOf(s.get()), Kind::kEeprom1);

    // One byte off the magic.
    eeprom.Bytes()[0x3800 + 3] = 0xEF;
    s.reset(CreateStorageData(&dev, nullptr));
    EXPECT_EQ(KindOf(s.get()), Kind::kEeprom0);
}

TEST(StorageFactory, NoStorageObject) {
    struct Case {
        const char* what;
        uint16_t deviceType;
        std::function<void(qvsim::CFakeDevice&, qvsim::CMemEeprom&, qvsim::CNorFlash&)> setup;
    };
    const Case cases[] = {
        {"device type unreadable", kUsb3,
         [](auto& dev, auto&, auto&) { dev.SetResult("GetDeviceType", CAMERA_STATUS_IO_ERROR); }},
        {"unknown device type", 0x1401, [](auto&, auto&, auto&) {}},
        {"USB2 magic unreadable", kUsb2,
         [](auto&, auto& eeprom, auto&) { eeprom.Fail(StorageOp::kRead, CAMERA_STATUS_IO_ERROR); }},
        {"USB3 blank flash", kUsb3,
         [](auto&, auto&, auto& flash) {
             std::fill(flash.Bytes().begin(), flash.Bytes().end(), uint8_t{0xFF});
         }},
        {"USB3 block A unreadable", kUsb3,
         [](auto&, auto&, auto& flash) {
             flash.Fail(StorageOp::kRead, CAMERA_STATUS_COMM_ERROR, 1, 0, {0x10000, 0x11000});
         }},
        {"USB3 block A damaged", kUsb3,
         [](auto&, auto&, auto& flash) { flash.Bytes()[0x10000 + 200] ^= 0x40; }},
        {"GigE v4.0 map blank", kGige,
         [](auto&, auto&, auto& flash) {
             std::fill_n(flash.Bytes().begin() + 0x2B8000, 0x2000, uint8_t{0xFF});
         }},
    };
    for (const Case& c : cases) {
        qvsim::CFakeDevice dev;
        qvsim::CMemEeprom eeprom;
        qvsim::CNorFlash flash;
        dev.SetDeviceType(c.deviceType);
        eeprom.Attach(dev);
        flash.Attach(dev);
        FillAllFlashMaps(flash);
        qvsim::WriteStorageImage(eeprom.Bytes(), StorageLayout::kEeprom1, SampleFields());
        c.setup(dev, eeprom, flash);
        std::unique_ptr<CStorageData> s(CreateStorageData(&dev, "v4.0"));
        EXPECT_EQ(s, nullptr) << c.what;
    }
}

TEST(StorageFactory, DamagedOrUnreadableBlockBStillOpens) {
    for (bool unreadable : {false, true}) {
        qvsim::CFakeDevice dev;
        qvsim::CNorFlash flash;
        dev.SetDeviceType(kUsb3);
        flash.Attach(dev);
        qvsim::WriteStorageImage(flash.Bytes(), StorageLayout::kUsb3Flash, SampleFields());
        if (unreadable)
            flash.Fail(StorageOp::kRead, CAMERA_STATUS_COMM_ERROR, 1, 0, {0x11000, 0x12000});
        else
            std::fill_n(flash.Bytes().begin() + 0x11000, 256, uint8_t{0xFF});
        std::unique_ptr<CStorageData> s(CreateStorageData(&dev, nullptr));
        EXPECT_EQ(KindOf(s.get()), Kind::kUsb3) << (unreadable ? "unreadable" : "blank");
    }
}

// How a device test gets a stored identity: build the image, attach the model, and let the
// fake run the transports' open sequence on it.
TEST(StorageFactory, FakeDeviceOpensOnAStoredImage) {
    qvsim::CFakeDevice dev;
    qvsim::CMemEeprom eeprom;
    dev.SetDeviceType(kUsb2);
    eeprom.Attach(dev);
    auto f = SampleFields(5);
    f.serial[0] = "QV2024000123";
    qvsim::WriteStorageImage(eeprom.Bytes(), StorageLayout::kEeprom1, f);
    dev.SetOpenFollowsTransport(true);

    ASSERT_EQ(dev.Open(nullptr), 0);
    char sn[32];
    ASSERT_EQ(dev.GetSN(sn), 0);
    EXPECT_EQ(Text(sn), "QV2024000123");
    CameraProperty prop;
    ASSERT_EQ(dev.GetDeviceProperty(&prop), 0);
    EXPECT_EQ(prop.userDataSize, 0x4000);
    EXPECT_EQ(prop.modelCode, 0xAA220001u);
    char name[32];
    ASSERT_EQ(dev.DevGetFriendlyName(name), 0);
    EXPECT_EQ(Text(name), f.friendlyName);
    ASSERT_EQ(dev.Close(), 0);
    EXPECT_FALSE(dev.HasStorage());
}

TEST(StorageFactory, FakeDeviceOpenFailsWithoutStorage) {
    qvsim::CFakeDevice dev;
    qvsim::CNorFlash flash;  // blank
    dev.SetDeviceType(kUsb3);
    flash.Attach(dev);
    dev.SetOpenFollowsTransport(true);
    EXPECT_EQ(dev.Open(nullptr), CAMERA_STATUS_DEVICE_OPEN_FAILED);
    EXPECT_EQ(dev.OpenCount(), 0);
}

}  // namespace
