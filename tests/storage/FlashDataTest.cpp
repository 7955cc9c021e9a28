// The flash parameter blocks of USB 3.0 and GigE cameras, on an in-memory NOR flash behind the
// fake device, for each of the four address maps.
#include <gtest/gtest.h>

#include <cstring>

#include "StorageTestUtil.h"
#include "storage/FlashData.h"
#include "storage/GigeFlash4MData.h"
#include "storage/GigeFlash4MDataEF.h"
#include "storage/GigeFlashData.h"

using namespace storagetest;
using qvsim::StorageLayout;
using qvsim::StorageOp;

namespace {

constexpr int kAlways = qvsim::StorageFaults::kAlways;

struct MapCase {
    const char* name;
    StorageLayout layout;
    uint16_t deviceType;
    const char* hardwareVersion;
    bool gige;
    // The address map, as the table gives it.
    uint32_t blockA, blockB, userData, userDataSize, badPixelTable;  // 0: none
};

const MapCase kMaps[] = {
    {"Usb3", StorageLayout::kUsb3Flash, kUsb3, nullptr, false, 0x10000, 0x11000, 0x15000, 0xB000,
     0xC0000},
    {"Gige", StorageLayout::kGigeFlash, kGige, "v2.1", true, 0x58000, 0x59000, 0x5A000, 4096, 0},
    {"Gige4M", StorageLayout::kGigeFlash4M, kGige, "v3.0", true, 0x102000, 0x103000, 0x104000,
     0x40000, 0x144000},
    {"Gige4MEF", StorageLayout::kGigeFlash4MEF, kGige, "v4.0", true, 0x2B8000, 0x2B9000, 0x2BB000,
     0x40000, 0x2FB000},
};

class FlashMapTest : public ::testing::TestWithParam<MapCase> {
  protected:
    void SetUp() override {
        dev.SetDeviceType(GetParam().deviceType);
        flash.Attach(dev);
    }

    std::unique_ptr<CFlashData> Open(const qvsim::StoredFields& fields) {
        qvsim::WriteStorageImage(flash.Bytes(), GetParam().layout, fields);
        return OpenStored();
    }
    std::unique_ptr<CFlashData> OpenStored() {
        std::unique_ptr<CStorageData> made(CreateStorageData(&dev, GetParam().hardwareVersion));
        auto* flashData = dynamic_cast<CFlashData*>(made.get());
        EXPECT_NE(flashData, nullptr);
        if (flashData == nullptr) return nullptr;
        made.release();
        return std::unique_ptr<CFlashData>(flashData);
    }
    std::vector<uint8_t> Stored(uint32_t address, size_t len) const {
        return flash.Snapshot(address, len);
    }

    qvsim::CNorFlash flash;
    qvsim::CFakeDevice dev;
};

void ExpectFields(CStorageData& s, const qvsim::StoredFields& f) {
    ExpectStoredFields(s, f, static_cast<uint32_t>(f.sensorType));
}

TEST_P(FlashMapTest, ReadsEveryFieldOfAStoredImage) {
    const auto f = SampleFields(1);
    auto s = Open(f);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->GetUserDataSize(), static_cast<int>(GetParam().userDataSize));
    EXPECT_EQ(s->Format(), 0);
    ExpectFields(*s, f);
}

// Every field set through the class: the flash then holds the builder's pages of the new values
// (magic, fields, checksum) and a new object reads them back.
TEST_P(FlashMapTest, WritesEveryFieldIntoTheBlocks) {
    auto s = Open(SampleFields(1));
    ASSERT_NE(s, nullptr);
    auto f = SampleFields(2);

    // Block A fields first: they are written with the next block B change.
    uint8_t sn[32] = {};
    std::memcpy(sn, f.serial[0].data(), f.serial[0].size());
    ASSERT_EQ(s->WriteSN(sn, 0), 0);
    std::string t = f.productSeries;
    ASSERT_EQ(s->SetProductSeries(t.data()), 0);
    t = f.productName;
    ASSERT_EQ(s->SetProductName(t.data()), 0);
    t = f.portType;
    ASSERT_EQ(s->SetDevicePortType(t.data()), 0);
    ASSERT_EQ(s->SetDeviceID(f.deviceId), 0);
    ASSERT_EQ(s->SetDeviceMonoCfg(f.monoCfg), 0);
    ASSERT_EQ(s->SetSensorType(static_cast<SensorTypeE>(f.sensorType)), 0);
    const CameraProperty prop = PropertyFrom(f.property);
    ASSERT_EQ(s->WriteDeviceProperty(&prop), 0);
    for (int level : {1, 2}) {
        std::memset(sn, 0, sizeof sn);
        std::memcpy(sn, f.serial[level].data(), f.serial[level].size());
        ASSERT_EQ(s->WriteSN(sn, level), 0);
    }
    t = f.friendlyName;
    ASSERT_EQ(s->SetFriendlyName(t.data()), 0);
    ASSERT_EQ(s->SaveUserData(0, f.userData.data(), static_cast<int>(f.userData.size())), 0);

    EXPECT_EQ(Stored(GetParam().blockA, 1024), qvsim::FlashBlockAPage(f));
    EXPECT_EQ(Stored(GetParam().blockB, 256), qvsim::FlashBlockBPage(f));
    EXPECT_EQ(Stored(GetParam().userData, f.userData.size()), f.userData);
    // The checksum rule, checked on the stored bytes themselves: the 872 and 108 bytes of the
    // blocks each sum to 0xFF.
    for (auto [address, size] :
         {std::pair{GetParam().blockA, size_t{872}}, std::pair{GetParam().blockB, size_t{108}}}) {
        unsigned sum = 0;
        for (uint8_t b : Stored(address, size)) sum += b;
        EXPECT_EQ(sum & 0xFF, 0xFFu);
    }

    s.reset();
    auto reopened = OpenStored();
    ASSERT_NE(reopened, nullptr);
    ExpectFields(*reopened, f);
}

// Block A setters only change memory: closing loses them. A following block B change writes
// both blocks.
TEST_P(FlashMapTest, BlockAChangesWaitForTheNextFlush) {
    const auto f = SampleFields(1);
    auto s = Open(f);
    ASSERT_NE(s, nullptr);
    const auto before = Stored(GetParam().blockA, 1024);
    dev.ClearCalls();
    std::string name = "New product";
    ASSERT_EQ(s->SetProductName(name.data()), 0);
    ASSERT_EQ(s->SetDeviceID(0x55660077), 0);
    EXPECT_EQ(dev.CallCount("EraseFlashSector") + dev.CallCount("WriteFlash"), 0u);
    char out[32];
    ASSERT_EQ(s->GetProductName(out), 0);
    EXPECT_STREQ(out, "New product");

    s.reset();  // closed without flush
    EXPECT_EQ(Stored(GetParam().blockA, 1024), before);
    s = OpenStored();
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(s->GetProductName(out), 0);
    EXPECT_EQ(Text(out), f.productName);

    ASSERT_EQ(s->SetProductName(name.data()), 0);
    std::string friendly = "New friendly";
    ASSERT_EQ(s->SetFriendlyName(friendly.data()), 0);
    s.reset();
    s = OpenStored();
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(s->GetProductName(out), 0);
    EXPECT_STREQ(out, "New product");
    ASSERT_EQ(s->GetFriendlyName(out), 0);
    EXPECT_STREQ(out, "New friendly");
}

// A damaged block B opens with defaults: the product name as friendly name, nothing written
// until a block B field is set.
TEST_P(FlashMapTest, DamagedBlockBIsReplacedByDefaults) {
    const auto f = SampleFields(1);
    qvsim::WriteStorageImage(flash.Bytes(), GetParam().layout, f);
    auto page = qvsim::FlashBlockBPage(f);
    page[80] ^= 0x01;  // a friendly-name byte: the checksum no longer adds up
    std::copy(page.begin(), page.end(), flash.Bytes().begin() + GetParam().blockB);
    const auto damaged = Stored(GetParam().blockB, 256);

    std::unique_ptr<CFlashData> s;
    {
        qvsim::LogCapture log;
        s = OpenStored();
        EXPECT_EQ(log.Count(GetParam().gige ? "gige flash param error, use default param\n"
                                            : "flash param error, use default param\n"),
                  1);
    }
    ASSERT_NE(s, nullptr);
    char out[32];
    ASSERT_EQ(s->GetFriendlyName(out), 0);
    EXPECT_EQ(Text(out), f.productName);
    uint8_t sn[32];
    ASSERT_EQ(s->ReadSN(sn, 1), 0);
    EXPECT_EQ(Serial(sn), "");
    EXPECT_EQ(Stored(GetParam().blockB, 256), damaged);

    uint8_t serial1[32] = "USER-SN-1";
    ASSERT_EQ(s->WriteSN(serial1, 1), 0);
    qvsim::StoredFields expected;
    expected.serial[1] = "USER-SN-1";
    expected.friendlyName = f.productName;
    EXPECT_EQ(Stored(GetParam().blockB, 256), qvsim::FlashBlockBPage(expected));
}

// Offset 4090 with 10 bytes reads, erases and rewrites the two sectors it touches, in pieces
// of 512 bytes, and changes only those 10 bytes.
TEST_P(FlashMapTest, UserDataWriteRewritesWholeSectors) {
    auto f = SampleFields(1);
    f.userData.assign(GetParam().userDataSize, 0);
    for (size_t i = 0; i < f.userData.size(); ++i) f.userData[i] = static_cast<uint8_t>(i * 31);
    auto s = Open(f);
    ASSERT_NE(s, nullptr);
    const uint32_t base = GetParam().userData;
    if (GetParam().userDataSize < 0x2000) {
        // The 4 KiB area holds a single sector: 10 bytes at 4080.
        flash.ClearCounters();
        uint8_t data[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
        ASSERT_EQ(s->SaveUserData(4080, data, 10), 0);
        EXPECT_EQ(flash.Erased(), std::vector<uint32_t>{base});
        return;
    }
    const auto before = Stored(base, 0x3000);
    flash.ClearCounters();
    dev.ClearCalls();
    uint8_t data[10] = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9};
    ASSERT_EQ(s->SaveUserData(4090, data, 10), 0);
    EXPECT_EQ(flash.Erased(), (std::vector<uint32_t>{base, base + 0x1000}));
    auto expected = before;
    std::memcpy(expected.data() + 4090, data, 10);
    EXPECT_EQ(Stored(base, 0x3000), expected);
    const auto writes = dev.CallsNamed({"WriteFlash"});
    ASSERT_EQ(writes.size(), 16u);  // 0x2000 / 512
    for (size_t i = 0; i < writes.size(); ++i)
        EXPECT_EQ(writes[i].args,
                  (std::vector<int64_t>{static_cast<int64_t>(base + 512 * i), 512}));

    std::vector<uint8_t> back(10);
    ASSERT_EQ(s->LoadUserData(4090, back.data(), 10), 0);
    EXPECT_EQ(back, std::vector<uint8_t>(data, data + 10));
}

// Offset and length are checked against the map's capacity without wrapping, before any flash
// access.
TEST_P(FlashMapTest, UserDataBounds) {
    auto s = Open(SampleFields());
    ASSERT_NE(s, nullptr);
    const uint32_t cap = GetParam().userDataSize;
    struct Case {
        uint32_t offset;
        int len;
        int expected;
    };
    const Case cases[] = {
        {cap - 1, 2, CAMERA_STATUS_PARAMETER_INVALID},
        {cap - 1, 1, 0},
        {cap, 1, CAMERA_STATUS_PARAMETER_INVALID},
        {0xFFFFFFF0u, 0x20, CAMERA_STATUS_PARAMETER_INVALID},  // offset + len wraps to 0x10
        {0x100, -4, CAMERA_STATUS_PARAMETER_INVALID},
        {0, 0, CAMERA_STATUS_PARAMETER_INVALID},
    };
    uint8_t buffer[64] = {};
    for (const Case& c : cases) {
        for (bool save : {true, false}) {
            dev.ClearCalls();
            const int r = save ? s->SaveUserData(c.offset, buffer, c.len)
                               : s->LoadUserData(c.offset, buffer, c.len);
            EXPECT_EQ(r, c.expected)
                << (save ? "save" : "load") << " offset " << c.offset << " len " << c.len;
            if (c.expected != 0) {
                EXPECT_TRUE(dev.Calls().empty());
            }
        }
    }
    EXPECT_EQ(s->SaveUserData(0, nullptr, 4), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(s->LoadUserData(0, nullptr, 4), CAMERA_STATUS_PARAMETER_INVALID);
}

TEST_P(FlashMapTest, BadPixelTableArea) {
    auto s = Open(SampleFields());
    ASSERT_NE(s, nullptr);
    std::vector<uint8_t> table(0x40001, 0);
    for (size_t i = 0; i < table.size(); ++i) table[i] = static_cast<uint8_t>(i ^ (i >> 8));
    if (GetParam().badPixelTable == 0) {
        EXPECT_EQ(s->SaveBadPixelTable(table.data(), 100), CAMERA_STATUS_NOT_SUPPORTED);
        EXPECT_EQ(s->LoadBadPixelTable(nullptr, 0), CAMERA_STATUS_NOT_SUPPORTED);
        return;
    }
    EXPECT_EQ(s->SaveBadPixelTable(table.data(), 0x40001), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(s->LoadBadPixelTable(table.data(), 0x40001), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(s->SaveBadPixelTable(nullptr, 16), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(s->SaveBadPixelTable(table.data(), 0), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(s->LoadBadPixelTable(table.data(), -1), CAMERA_STATUS_PARAMETER_INVALID);

    ASSERT_EQ(s->SaveBadPixelTable(table.data(), 0x40000), 0);
    EXPECT_EQ(Stored(GetParam().badPixelTable, 0x40000),
              std::vector<uint8_t>(table.begin(), table.begin() + 0x40000));
    std::vector<uint8_t> back(0x40000);
    ASSERT_EQ(s->LoadBadPixelTable(back.data(), 0x40000), 0);
    EXPECT_EQ(back, std::vector<uint8_t>(table.begin(), table.begin() + 0x40000));
}

// Text getters always terminate within the caller's 32 bytes, whatever the field holds; text
// setters never read past the caller's text.
TEST_P(FlashMapTest, TextsAreTerminatedAndBounded) {
    auto f = SampleFields();
    f.friendlyName = std::string(32, 'F');
    f.productName = std::string(32, 'P');
    f.productSeries = std::string(32, 'S');
    f.portType = std::string(32, 'T');
    auto s = Open(f);
    ASSERT_NE(s, nullptr);
    using Getter = int (CStorageData::*)(char*);
    for (auto [getter, letter] : {std::pair<Getter, char>{&CStorageData::GetFriendlyName, 'F'},
                                  {&CStorageData::GetProductName, 'P'},
                                  {&CStorageData::GetProductSeries, 'S'},
                                  {&CStorageData::GetDevicePortType, 'T'}}) {
        char out[32];
        std::memset(out, 0x55, sizeof out);
        ASSERT_EQ((s.get()->*getter)(out), 0);
        EXPECT_EQ(out[31], 0);
        EXPECT_EQ(std::string(out), std::string(31, letter));
    }

    // A heap text of exactly its length plus terminator: reading further would be caught by the
    // address sanitizer.
    auto name = std::make_unique<char[]>(3);
    std::memcpy(name.get(), "ab", 3);
    ASSERT_EQ(s->SetProductName(name.get()), 0);
    ASSERT_EQ(s->SetFriendlyName(name.get()), 0);  // writes both blocks
    char out[32];
    ASSERT_EQ(s->GetFriendlyName(out), 0);
    EXPECT_STREQ(out, "ab");
    // The stored field is the text and zeros.
    std::vector<uint8_t> expected(32, 0);
    expected[0] = 'a';
    expected[1] = 'b';
    EXPECT_EQ(Stored(GetParam().blockB + 72, 32), expected);
    EXPECT_EQ(Stored(GetParam().blockA + 72, 32), expected);

    // A 40-character name fills the field without terminator.
    std::string longName(40, 'L');
    ASSERT_EQ(s->SetFriendlyName(longName.data()), 0);
    EXPECT_EQ(Stored(GetParam().blockB + 72, 32), std::vector<uint8_t>(32, 'L'));
    ASSERT_EQ(s->GetFriendlyName(out), 0);
    EXPECT_EQ(std::string(out), std::string(31, 'L'));
}

TEST_P(FlashMapTest, SerialNumberLengths) {
    auto f = SampleFields();
    f.serial[0] = "ABCDEFGHIJKLMNOPQRST";             // 20 characters
    f.serial[1] = std::string(32, '1');               // fills the field
    f.serial[2] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234";  // 31
    auto s = Open(f);
    ASSERT_NE(s, nullptr);
    uint8_t sn[32];
    if (GetParam().gige) {
        // GigE cameras give at most 15 characters of level 0 and 31 of the others, always
        // terminated.
        std::memset(sn, 0x55, sizeof sn);
        ASSERT_EQ(s->ReadSN(sn, 0), 0);
        EXPECT_EQ(Serial(sn), "ABCDEFGHIJKLMNO");
        EXPECT_EQ(std::vector<uint8_t>(sn + 15, sn + 32), std::vector<uint8_t>(17, 0));
        std::memset(sn, 0x55, sizeof sn);
        ASSERT_EQ(s->ReadSN(sn, 1), 0);
        EXPECT_EQ(Serial(sn), std::string(31, '1'));
        EXPECT_EQ(sn[31], 0);
        ASSERT_EQ(s->ReadSN(sn, 2), 0);
        EXPECT_EQ(Serial(sn), f.serial[2]);
    } else {
        // The whole 32-byte field.
        ASSERT_EQ(s->ReadSN(sn, 0), 0);
        EXPECT_EQ(Serial(sn), f.serial[0]);
        ASSERT_EQ(s->ReadSN(sn, 1), 0);
        EXPECT_EQ(Serial(sn, 32), f.serial[1]);
    }
    for (int level : {-1, 3}) {
        EXPECT_EQ(s->ReadSN(sn, level), CAMERA_STATUS_PARAMETER_INVALID);
        EXPECT_EQ(s->WriteSN(sn, level), CAMERA_STATUS_PARAMETER_INVALID);
    }
}

TEST_P(FlashMapTest, NullPointers) {
    auto s = Open(SampleFields());
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->ReadSN(nullptr, 1), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(s->WriteSN(nullptr, 1), CAMERA_STATUS_PARAMETER_INVALID);
    ExpectNullBuffersRefused(*s);
    EXPECT_EQ(s->ReadBlockA(GetParam().blockA, nullptr), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(s->ReadBlockB(GetParam().blockB, nullptr), CAMERA_STATUS_PARAMETER_INVALID);
}

INSTANTIATE_TEST_SUITE_P(Maps, FlashMapTest, ::testing::ValuesIn(kMaps),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Block checks and write faults (one map is enough: the code is shared) ----------------

class FlashBlockTest : public ::testing::Test {
  protected:
    static constexpr uint32_t kBlockA = 0x10000;
    static constexpr uint32_t kBlockB = 0x11000;

    void SetUp() override {
        dev.SetDeviceType(kUsb3);
        flash.Attach(dev);
        qvsim::WriteStorageImage(flash.Bytes(), StorageLayout::kUsb3Flash, fields);
    }
    std::unique_ptr<CStorageData> Make() {
        return std::unique_ptr<CStorageData>(CreateStorageData(&dev, nullptr));
    }
    size_t EraseCallsAt(uint32_t sector) const {
        size_t n = 0;
        for (const auto& c : dev.CallsNamed({"EraseFlashSector"})) n += c.args[0] == sector;
        return n;
    }
    void PutPage(uint32_t address, const std::vector<uint8_t>& page) {
        std::copy(page.begin(), page.end(), flash.Bytes().begin() + address);
    }

    qvsim::StoredFields fields = SampleFields(1);
    qvsim::CNorFlash flash;
    qvsim::CFakeDevice dev;
};

TEST_F(FlashBlockTest, BlockAChecksAndMagic) {
    CFlashData s(&dev);
    FlashBlockAImage image{};
    ASSERT_EQ(s.ReadBlockA(kBlockA, &image), 0);
    EXPECT_EQ(image.magic, 0x55AA0002u);

    struct Case {
        const char* what;
        size_t offset;
        uint8_t xorMask;
        bool fixChecksum;
    };
    const Case cases[] = {
        {"checksum byte", 864, 0x01, false},
        {"property byte", 500, 0x80, false},
        {"magic, checksum kept right", 0, 0x01, true},
        {"unused tail byte 870", 870, 0x10, false},  // inside the 872 summed bytes
    };
    for (const Case& c : cases) {
        auto page = qvsim::FlashBlockAPage(fields);
        page[c.offset] ^= c.xorMask;
        if (c.fixChecksum) qvsim::FixBlockChecksum(page, 872, 864);
        PutPage(kBlockA, page);
        FlashBlockAImage untouched;
        std::memset(&untouched, 0x77, sizeof untouched);
        EXPECT_EQ(s.ReadBlockA(kBlockA, &untouched), CAMERA_STATUS_FAILED) << c.what;
        EXPECT_EQ(untouched.magic, 0x77777777u) << c.what << ": image left as it was";
        EXPECT_EQ(Make(), nullptr) << c.what;
    }
    // Bytes of the page after the 872-byte block are not summed.
    auto page = qvsim::FlashBlockAPage(fields);
    page[900] = 0x42;
    PutPage(kBlockA, page);
    EXPECT_EQ(s.ReadBlockA(kBlockA, &image), 0);
}

TEST_F(FlashBlockTest, BlockBChecks) {
    CFlashData s(&dev);
    FlashBlockBImage image{};
    ASSERT_EQ(s.ReadBlockB(kBlockB, &image), 0);
    auto page = qvsim::FlashBlockBPage(fields);
    page[104] ^= 0xFF;
    PutPage(kBlockB, page);
    EXPECT_EQ(s.ReadBlockB(kBlockB, &image), CAMERA_STATUS_FAILED);
    page = qvsim::FlashBlockBPage(fields);
    page[3] = 0x56;  // magic 0x56AA0001
    qvsim::FixBlockChecksum(page, 108, 104);
    PutPage(kBlockB, page);
    EXPECT_EQ(s.ReadBlockB(kBlockB, &image), CAMERA_STATUS_FAILED);
    // The object still opens, with defaults for block B.
    EXPECT_NE(Make(), nullptr);
}

TEST_F(FlashBlockTest, DeviceReadErrorIsReturned) {
    CFlashData s(&dev);
    FlashBlockAImage image{};
    flash.Fail(StorageOp::kRead, CAMERA_STATUS_COMM_ERROR);
    EXPECT_EQ(s.ReadBlockA(kBlockA, &image), CAMERA_STATUS_COMM_ERROR);
    flash.Fail(StorageOp::kRead, CAMERA_STATUS_COMM_ERROR, 1, 0, {kBlockA, kBlockA + 0x1000});
    EXPECT_EQ(s.LoadParam(), CAMERA_STATUS_COMM_ERROR);
}

// The retry table of a block B write (SetFriendlyName flushes at once): each flush try writes
// the page with up to three erase-write-compare rounds, then reads the block back.
TEST_F(FlashBlockTest, BlockWriteRetries) {
    struct Case {
        const char* what;
        StorageOp op;
        bool drop;  // the write reports success and stores nothing
        int count;
        int expected;
        size_t erases;  // erase calls on the block B sector
    };
    const Case cases[] = {
        {"clean", StorageOp::kWrite, false, 0, 0, 1},
        {"one erase fails", StorageOp::kErase, false, 1, 0, 2},
        {"one write fails", StorageOp::kWrite, false, 1, 0, 2},
        {"one write does not stick", StorageOp::kWrite, true, 1, 0, 2},
        {"one read-back fails", StorageOp::kRead, false, 1, 0, 2},
        {"two read-backs fail", StorageOp::kRead, false, 2, 0, 3},
        {"every write fails", StorageOp::kWrite, false, kAlways, CAMERA_STATUS_COMM_ERROR, 9},
        {"every erase fails", StorageOp::kErase, false, kAlways, CAMERA_STATUS_COMM_ERROR, 9},
        // The read-back never matches: an error, not success.
        {"no write sticks", StorageOp::kWrite, true, kAlways, CAMERA_STATUS_IO_ERROR, 9},
    };
    for (const Case& c : cases) {
        flash.ClearFaults();
        qvsim::WriteStorageImage(flash.Bytes(), StorageLayout::kUsb3Flash, fields);
        auto s = Make();
        ASSERT_NE(s, nullptr);
        dev.ClearCalls();
        const qvsim::AddressRange blockB{kBlockB, kBlockB + 0x1000};
        if (c.count != 0) {
            if (c.drop)
                flash.Drop(c.count, 0, blockB);
            else
                flash.Fail(c.op, CAMERA_STATUS_COMM_ERROR, c.count, 0, blockB);
        }
        std::string name = "Renamed";
        EXPECT_EQ(s->SetFriendlyName(name.data()), c.expected) << c.what;
        EXPECT_EQ(EraseCallsAt(kBlockB), c.erases) << c.what;
        if (c.expected == 0) {
            qvsim::StoredFields expected = fields;
            expected.friendlyName = "Renamed";
            EXPECT_EQ(flash.Snapshot(kBlockB, 256), qvsim::FlashBlockBPage(expected)) << c.what;
        }
    }
}

// A block that cannot be written stays pending: the error is returned, a later flush writes it.
// A failed block A keeps block B from being written.
TEST_F(FlashBlockTest, FailedFlushKeepsBlocksPending) {
    auto s = Make();
    ASSERT_NE(s, nullptr);
    dev.ClearCalls();
    flash.Drop(kAlways, 0, {kBlockA, kBlockA + 0x1000});
    std::string product = "Product X";
    ASSERT_EQ(s->SetProductName(product.data()), 0);
    std::string friendly = "Friendly X";
    EXPECT_EQ(s->SetFriendlyName(friendly.data()), CAMERA_STATUS_IO_ERROR);
    EXPECT_EQ(EraseCallsAt(kBlockB), 0u);
    // The image still answers with the new values.
    char out[32];
    ASSERT_EQ(s->GetFriendlyName(out), 0);
    EXPECT_STREQ(out, "Friendly X");

    flash.ClearFaults();
    ASSERT_EQ(s->Flush(), 0);
    auto expected = fields;
    expected.productName = "Product X";
    expected.friendlyName = "Friendly X";
    EXPECT_EQ(flash.Snapshot(kBlockA, 1024), qvsim::FlashBlockAPage(expected));
    EXPECT_EQ(flash.Snapshot(kBlockB, 256), qvsim::FlashBlockBPage(expected));
    // Nothing left to write.
    flash.ClearCounters();
    ASSERT_EQ(s->Flush(), 0);
    EXPECT_TRUE(flash.Erased().empty());
}

// User-data writes: a failed read leaves the flash alone; a failed erase or write is returned;
// a write that does not stick is reported.
TEST_F(FlashBlockTest, UserDataWriteFaults) {
    auto s = Make();
    ASSERT_NE(s, nullptr);
    uint8_t data[100];
    std::memset(data, 0x3C, sizeof data);
    const uint32_t user = 0x15000;

    flash.Fail(StorageOp::kRead, CAMERA_STATUS_COMM_ERROR);
    flash.ClearCounters();
    EXPECT_EQ(s->SaveUserData(0, data, 100), CAMERA_STATUS_COMM_ERROR);
    EXPECT_TRUE(flash.Erased().empty());

    flash.Fail(StorageOp::kErase, CAMERA_STATUS_TIMEOUT);
    EXPECT_EQ(s->SaveUserData(0, data, 100), CAMERA_STATUS_TIMEOUT);

    flash.Fail(StorageOp::kWrite, CAMERA_STATUS_IO_ERROR, 1, 3);
    dev.ClearCalls();
    EXPECT_EQ(s->SaveUserData(0, data, 100), CAMERA_STATUS_IO_ERROR);
    EXPECT_EQ(dev.CallCount("WriteFlash"), 4u);  // stops at the failing piece

    flash.Drop(1, 2);
    EXPECT_EQ(s->SaveUserData(0, data, 100), CAMERA_STATUS_IO_ERROR);

    flash.ClearFaults();
    ASSERT_EQ(s->SaveUserData(0, data, 100), 0);
    EXPECT_EQ(flash.Snapshot(user, 100), std::vector<uint8_t>(100, 0x3C));
}

}  // namespace
