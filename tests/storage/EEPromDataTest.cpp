// The USB 2.0 EEPROM layouts, on an in-memory EEPROM behind the fake device. Stored images come
// from the test-data builder, so reads and writes are checked against the layout tables and not
// against the classes' own offsets.
#include <gtest/gtest.h>

#include <cstring>

#include "StorageTestUtil.h"
#include "storage/EEPromData0.h"
#include "storage/EEPromData1.h"

using namespace storagetest;
using qvsim::StorageLayout;
using qvsim::StorageOp;

namespace {

constexpr uint32_t kBase = 0x3800;
constexpr uint32_t kUserData = kBase + 1024;

class EEPromLayoutTest : public ::testing::TestWithParam<StorageLayout> {
  protected:
    void SetUp() override {
        dev.SetDeviceType(kUsb2);
        eeprom.Attach(dev);
    }

    // Stores the image of fields and opens the storage through the factory.
    std::unique_ptr<CStorageData> Open(const qvsim::StoredFields& fields) {
        qvsim::WriteStorageImage(eeprom.Bytes(), GetParam(), fields);
        return OpenStored();
    }
    std::unique_ptr<CStorageData> OpenStored() {
        std::unique_ptr<CStorageData> storage(CreateStorageData(&dev, nullptr));
        EXPECT_NE(storage, nullptr);
        if (storage == nullptr) return storage;
        if (GetParam() == StorageLayout::kEeprom0)
            EXPECT_NE(dynamic_cast<CEEPromData0*>(storage.get()), nullptr);
        else
            EXPECT_NE(dynamic_cast<CEEPromData1*>(storage.get()), nullptr);
        return storage;
    }
    bool HasSensorTypeField() const { return GetParam() == StorageLayout::kEeprom1; }

    qvsim::CMemEeprom eeprom;
    qvsim::CFakeDevice dev;
};

// Every field the layout keeps, read back as stored; the layout without header takes the sensor
// type from the low half of the device ID word.
void ExpectFields(CStorageData& s, const qvsim::StoredFields& f, bool sensorTypeField) {
    ExpectStoredFields(
        s, f, sensorTypeField ? static_cast<uint32_t>(f.sensorType) : (f.deviceId & 0xFFFF));
    EXPECT_EQ(s.GetUserDataSize(), 0x4000);
}

TEST_P(EEPromLayoutTest, ReadsEveryFieldOfAStoredImage) {
    const auto f = SampleFields(1);
    auto s = Open(f);
    ASSERT_NE(s, nullptr);
    ExpectFields(*s, f, HasSensorTypeField());
}

// Written through the class, the EEPROM holds exactly the builder's image of the new values,
// and a new object reads them back.
TEST_P(EEPromLayoutTest, WritesEveryFieldAtItsLayoutOffset) {
    qvsim::StoredFields empty;  // zero fields: text setters leave the bytes after the terminator
    auto s = Open(empty);
    ASSERT_NE(s, nullptr);
    auto f = SampleFields(2);
    if (!HasSensorTypeField()) f.sensorType = 0;  // not stored by this layout

    for (int level = 0; level < 3; ++level) {
        uint8_t sn[32] = {};
        std::memcpy(sn, f.serial[level].data(), f.serial[level].size());
        ASSERT_EQ(s->WriteSN(sn, level), 0);
    }
    std::string t = f.friendlyName;
    ASSERT_EQ(s->SetFriendlyName(t.data()), 0);
    t = f.productSeries;
    ASSERT_EQ(s->SetProductSeries(t.data()), 0);
    t = f.productName;
    ASSERT_EQ(s->SetProductName(t.data()), 0);
    t = f.portType;
    ASSERT_EQ(s->SetDevicePortType(t.data()), 0);
    ASSERT_EQ(s->SetDeviceID(f.deviceId), 0);
    ASSERT_EQ(s->SetDeviceMonoCfg(f.monoCfg), 0);
    if (HasSensorTypeField())
        ASSERT_EQ(s->SetSensorType(static_cast<SensorTypeE>(f.sensorType)), 0);
    else
        EXPECT_EQ(s->SetSensorType(static_cast<SensorTypeE>(5)), CAMERA_STATUS_NOT_SUPPORTED);
    const CameraProperty prop = PropertyFrom(f.property);
    ASSERT_EQ(s->WriteDeviceProperty(&prop), 0);
    ASSERT_EQ(s->SaveUserData(0, f.userData.data(), static_cast<int>(f.userData.size())), 0);

    const auto expected = qvsim::EepromImage(GetParam(), f);
    EXPECT_EQ(eeprom.Snapshot(kBase, expected.size()), expected);

    s.reset();
    auto reopened = OpenStored();
    ASSERT_NE(reopened, nullptr);
    ExpectFields(*reopened, f, HasSensorTypeField());
}

// A 40-character name fills the field without terminator; reading gives its first 31.
TEST_P(EEPromLayoutTest, LongTextIsCutToTheField) {
    auto f = SampleFields();
    auto s = Open(f);
    ASSERT_NE(s, nullptr);
    std::string name(40, 'n');
    for (size_t i = 0; i < name.size(); ++i) name[i] = static_cast<char>('A' + i % 26);
    ASSERT_EQ(s->SetFriendlyName(name.data()), 0);
    const uint32_t field = GetParam() == StorageLayout::kEeprom0 ? 96 : 104;
    const auto stored = eeprom.Snapshot(kBase + field, 32);
    EXPECT_EQ(std::string(stored.begin(), stored.end()), name.substr(0, 32));

    char out[32];
    std::memset(out, 0x55, sizeof out);
    ASSERT_EQ(s->GetFriendlyName(out), 0);
    EXPECT_EQ(out[31], 0);
    EXPECT_EQ(std::string(out), name.substr(0, 31));
}

// The setter writes the text and its terminator only, never reading past the caller's text.
TEST_P(EEPromLayoutTest, ShortTextWritesTextAndTerminator) {
    auto s = Open(SampleFields());
    ASSERT_NE(s, nullptr);
    dev.ClearCalls();
    auto name = std::make_unique<char[]>(4);
    std::memcpy(name.get(), "abc", 4);
    ASSERT_EQ(s->SetProductName(name.get()), 0);
    const uint32_t field = GetParam() == StorageLayout::kEeprom0 ? 160 : 168;
    const auto writes = dev.CallsNamed({"WriteEEProm"});
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].args, (std::vector<int64_t>{kBase + field, 4}));
    char out[32];
    ASSERT_EQ(s->GetProductName(out), 0);
    EXPECT_STREQ(out, "abc");
}

// Offset and length are checked against the 0x4000-byte area without wrapping, before any
// EEPROM access.
TEST_P(EEPromLayoutTest, UserDataBounds) {
    auto s = Open(SampleFields());
    ASSERT_NE(s, nullptr);
    struct Case {
        uint32_t offset;
        int len;
        int expected;
    };
    const Case cases[] = {
        {0x3FFF, 2, CAMERA_STATUS_PARAMETER_INVALID},
        {0x3FFF, 1, 0},
        {0, 0x4000, 0},
        {0, 0x4001, CAMERA_STATUS_PARAMETER_INVALID},
        {0x4000, 1, CAMERA_STATUS_PARAMETER_INVALID},
        {0xFFFFFFF0u, 0x20, CAMERA_STATUS_PARAMETER_INVALID},  // offset + len wraps to 0x10
        {0xFFFFFFFFu, 1, CAMERA_STATUS_PARAMETER_INVALID},
        {0, 0, CAMERA_STATUS_PARAMETER_INVALID},
        {0, -1, CAMERA_STATUS_PARAMETER_INVALID},
        {16, INT32_MIN, CAMERA_STATUS_PARAMETER_INVALID},
    };
    std::vector<uint8_t> buffer(0x4001, 0x5A);
    for (const Case& c : cases) {
        for (bool save : {true, false}) {
            dev.ClearCalls();
            const int r = save ? s->SaveUserData(c.offset, buffer.data(), c.len)
                               : s->LoadUserData(c.offset, buffer.data(), c.len);
            EXPECT_EQ(r, c.expected)
                << (save ? "save" : "load") << " offset " << c.offset << " len " << c.len;
            if (c.expected != 0) {
                EXPECT_TRUE(dev.Calls().empty());
            }
        }
    }
    EXPECT_EQ(s->SaveUserData(0, nullptr, 1), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(s->LoadUserData(0, nullptr, 1), CAMERA_STATUS_PARAMETER_INVALID);

    // The last byte of the area is EEPROM address 0x3800 + 1024 + 0x3FFF.
    dev.ClearCalls();
    uint8_t one = 0xC3;
    ASSERT_EQ(s->SaveUserData(0x3FFF, &one, 1), 0);
    const auto writes = dev.CallsNamed({"WriteEEProm"});
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].args, (std::vector<int64_t>{kUserData + 0x3FFF, 1}));
    EXPECT_EQ(eeprom.Snapshot(kUserData + 0x3FFF, 1)[0], 0xC3);
}

// Transfers go in pieces of at most 512 bytes at increasing addresses and stop at the first
// error, which is returned unchanged.
TEST_P(EEPromLayoutTest, UserDataMovesInPiecesOf512) {
    auto s = Open(SampleFields());
    ASSERT_NE(s, nullptr);
    std::vector<uint8_t> data(1100, 0x11);
    dev.ClearCalls();
    ASSERT_EQ(s->SaveUserData(100, data.data(), 1100), 0);
    std::vector<std::vector<int64_t>> args;
    for (const auto& c : dev.CallsNamed({"WriteEEProm"})) args.push_back(c.args);
    EXPECT_EQ(args, (std::vector<std::vector<int64_t>>{
                        {kUserData + 100, 512}, {kUserData + 612, 512}, {kUserData + 1124, 76}}));

    eeprom.Fail(StorageOp::kWrite, CAMERA_STATUS_COMM_ERROR, 1, 1);  // the second piece
    dev.ClearCalls();
    EXPECT_EQ(s->SaveUserData(100, data.data(), 1100), CAMERA_STATUS_COMM_ERROR);
    EXPECT_EQ(dev.CallCount("WriteEEProm"), 2u);

    eeprom.Fail(StorageOp::kRead, CAMERA_STATUS_IO_ERROR);
    EXPECT_EQ(s->LoadUserData(0, data.data(), 1100), CAMERA_STATUS_IO_ERROR);
}

TEST_P(EEPromLayoutTest, TransferErrorsAreReturnedUnchanged) {
    auto s = Open(SampleFields());
    ASSERT_NE(s, nullptr);
    char text[32];
    uint8_t sn[32];
    uint32_t word;
    eeprom.Fail(StorageOp::kRead, CAMERA_STATUS_IO_ERROR, qvsim::StorageFaults::kAlways);
    EXPECT_EQ(s->GetFriendlyName(text), CAMERA_STATUS_IO_ERROR);
    EXPECT_EQ(s->ReadSN(sn, 1), CAMERA_STATUS_IO_ERROR);
    EXPECT_EQ(s->GetDeviceID(&word), CAMERA_STATUS_IO_ERROR);
    SensorTypeE type;
    // The layout without header derives the type from the ID word and reports a failed read
    // as -1; the other layout returns the transfer error.
    EXPECT_EQ(s->GetSensorType(&type),
              HasSensorTypeField() ? CAMERA_STATUS_IO_ERROR : CAMERA_STATUS_FAILED);
    eeprom.ClearFaults();
    eeprom.Fail(StorageOp::kWrite, CAMERA_STATUS_TIMEOUT, qvsim::StorageFaults::kAlways);
    std::string name = "x";
    EXPECT_EQ(s->SetProductSeries(name.data()), CAMERA_STATUS_TIMEOUT);
    EXPECT_EQ(s->SetDeviceMonoCfg(3), CAMERA_STATUS_TIMEOUT);
    EXPECT_EQ(s->WriteSN(sn, 2), CAMERA_STATUS_TIMEOUT);
}

// The record is read once; a failed write leaves the cached copy as it was.
TEST_P(EEPromLayoutTest, PropertyRecordIsCached) {
    const auto f = SampleFields(3);
    auto s = Open(f);
    ASSERT_NE(s, nullptr);
    CameraProperty prop;
    dev.ClearCalls();
    ASSERT_EQ(s->ReadDeviceProperty(&prop), 0);
    EXPECT_EQ(dev.CallCount("ReadEEProm"), 2u);  // 712 bytes: 512 + 200
    dev.ClearCalls();
    ASSERT_EQ(s->ReadDeviceProperty(&prop), 0);
    EXPECT_EQ(dev.CallCount("ReadEEProm"), 0u);
    EXPECT_EQ(BytesOf(prop), f.property);

    CameraProperty changed = prop;
    changed.modelNumber = 4105;
    eeprom.Fail(StorageOp::kWrite, CAMERA_STATUS_IO_ERROR, 1, 1);  // the second piece fails
    EXPECT_EQ(s->WriteDeviceProperty(&changed), CAMERA_STATUS_IO_ERROR);
    ASSERT_EQ(s->ReadDeviceProperty(&prop), 0);
    EXPECT_EQ(BytesOf(prop), f.property);

    ASSERT_EQ(s->WriteDeviceProperty(&changed), 0);
    dev.ClearCalls();
    ASSERT_EQ(s->ReadDeviceProperty(&prop), 0);
    EXPECT_EQ(prop.modelNumber, 4105);
    EXPECT_EQ(dev.CallCount("ReadEEProm"), 0u);
}

TEST_P(EEPromLayoutTest, FailedFirstPropertyReadIsTriedAgain) {
    const auto f = SampleFields(4);
    auto s = Open(f);
    ASSERT_NE(s, nullptr);
    CameraProperty prop;
    eeprom.Fail(StorageOp::kRead, CAMERA_STATUS_IO_ERROR);
    EXPECT_EQ(s->ReadDeviceProperty(&prop), CAMERA_STATUS_IO_ERROR);
    ASSERT_EQ(s->ReadDeviceProperty(&prop), 0);
    EXPECT_EQ(BytesOf(prop), f.property);
}

TEST_P(EEPromLayoutTest, NullPointersAndBadLevels) {
    auto s = Open(SampleFields());
    ASSERT_NE(s, nullptr);
    dev.ClearCalls();
    EXPECT_EQ(s->WriteSN(nullptr, 1), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(s->ReadSN(nullptr, 0), CAMERA_STATUS_PARAMETER_INVALID);
    uint8_t sn[32] = {};
    for (int level : {-1, 3}) {
        EXPECT_EQ(s->WriteSN(sn, level), CAMERA_STATUS_PARAMETER_INVALID);
        EXPECT_EQ(s->ReadSN(sn, level), CAMERA_STATUS_PARAMETER_INVALID);
    }
    ExpectNullBuffersRefused(*s);
    EXPECT_TRUE(dev.Calls().empty());
}

TEST_P(EEPromLayoutTest, NoBadPixelTableAndNoBlocks) {
    auto s = Open(SampleFields());
    ASSERT_NE(s, nullptr);
    uint8_t data[8] = {};
    EXPECT_EQ(s->SaveBadPixelTable(data, 8), CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(s->LoadBadPixelTable(data, 8), CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(s->LoadParam(), 0);
    EXPECT_EQ(s->Flush(), 0);
}

INSTANTIATE_TEST_SUITE_P(Layouts, EEPromLayoutTest,
                         ::testing::Values(StorageLayout::kEeprom0, StorageLayout::kEeprom1),
                         [](const auto& info) {
                             return info.param == StorageLayout::kEeprom0 ? std::string("NoHeader")
                                                                          : std::string("Header");
                         });

// ---- Layout-specific rules ----------------------------------------------------------------

TEST(EEPromData0, SensorTypeIsTheLowHalfOfTheDeviceId) {
    qvsim::CFakeDevice dev;
    qvsim::CMemEeprom eeprom;
    dev.SetDeviceType(kUsb2);
    eeprom.Attach(dev);
    auto f = SampleFields();
    f.deviceId = 0x12340021;
    qvsim::WriteStorageImage(eeprom.Bytes(), StorageLayout::kEeprom0, f);
    CEEPromData0 s(&dev, kBase);
    SensorTypeE type{};
    ASSERT_EQ(s.GetSensorType(&type), 0);
    EXPECT_EQ(type, static_cast<SensorTypeE>(0x21));
    dev.ClearCalls();
    EXPECT_EQ(s.Format(), 0);  // no header to write
    EXPECT_EQ(dev.CallCount("WriteEEProm"), 0u);
}

TEST(EEPromData1, FormatWritesMagicAndVersion) {
    qvsim::CFakeDevice dev;
    qvsim::CMemEeprom eeprom;
    dev.SetDeviceType(kUsb2);
    eeprom.Attach(dev);
    CEEPromData1 s(&dev, kBase);
    ASSERT_EQ(s.Format(), 0);
    EXPECT_EQ(eeprom.Snapshot(kBase, 8),
              (std::vector<uint8_t>{0x01, 0x00, 0xAA, 0xEE, 0x01, 0x00, 0x00, 0x00}));
    // A formatted EEPROM is now recognised as the layout with header.
    std::unique_ptr<CStorageData> made(CreateStorageData(&dev, nullptr));
    EXPECT_NE(dynamic_cast<CEEPromData1*>(made.get()), nullptr);

    // Both words are written even when the first fails; the first error is the result.
    eeprom.Fail(StorageOp::kWrite, CAMERA_STATUS_IO_ERROR);
    dev.ClearCalls();
    EXPECT_EQ(s.Format(), CAMERA_STATUS_IO_ERROR);
    EXPECT_EQ(dev.CallCount("WriteEEProm"), 2u);
}

}  // namespace
