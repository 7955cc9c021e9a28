// The dead-pixel table codec over a camera's bad-pixel area: header, positions, and a stored
// count that is checked before it is used.
#include <gtest/gtest.h>

#include "StorageTestUtil.h"
#include "storage/BadPixelTable.h"

using namespace storagetest;
using qvsim::StorageLayout;
using qvsim::StorageOp;

namespace {

constexpr uint32_t kTable = 0xC0000;  // USB 3.0 map

void Put32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

// The stored table, written out from its layout: magic, count, 24 zero bytes, positions.
std::vector<uint8_t> TableBytes(uint32_t magic, uint32_t count,
                                const std::vector<uint32_t>& positions) {
    std::vector<uint8_t> bytes(32 + 4 * positions.size(), 0);
    Put32(bytes, 0, magic);
    Put32(bytes, 4, count);
    for (size_t i = 0; i < positions.size(); ++i) Put32(bytes, 32 + 4 * i, positions[i]);
    return bytes;
}

class BadPixelTableTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dev.SetDeviceType(kUsb3);
        flash.Attach(dev);
        qvsim::WriteStorageImage(flash.Bytes(), StorageLayout::kUsb3Flash, SampleFields());
        dev.AdoptStorage(CreateStorageData(&dev, nullptr));
        ASSERT_TRUE(dev.HasStorage());
    }
    void Store(const std::vector<uint8_t>& bytes) {
        std::copy(bytes.begin(), bytes.end(), flash.Bytes().begin() + kTable);
    }

    qvsim::CNorFlash flash;
    qvsim::CFakeDevice dev;
};

TEST_F(BadPixelTableTest, WritesHeaderAndPositions) {
    const std::vector<uint32_t> positions = {(5u << 16) | 7, (100u << 16) | 2047, 3};
    ASSERT_EQ(WriteBadPixelList(dev, positions.data(), 3), 0);
    EXPECT_EQ(flash.Snapshot(kTable, 44), TableBytes(0x20231205, 3, positions));

    std::vector<uint32_t> read = {42};
    ASSERT_EQ(ReadBadPixelList(dev, read), 0);
    EXPECT_EQ(read, positions);
}

TEST_F(BadPixelTableTest, ReadsAStoredTable) {
    std::vector<uint32_t> positions(1000);
    for (uint32_t i = 0; i < positions.size(); ++i) positions[i] = (i << 16) | (i * 3);
    Store(TableBytes(0x20231205, 1000, positions));
    std::vector<uint32_t> read;
    ASSERT_EQ(ReadBadPixelList(dev, read), 0);
    EXPECT_EQ(read, positions);
}

// The largest table the area holds: 65528 positions fill the 0x40000 bytes exactly.
TEST_F(BadPixelTableTest, FullTable) {
    std::vector<uint32_t> positions(65528);
    for (uint32_t i = 0; i < positions.size(); ++i) positions[i] = i * 0x10001u;
    ASSERT_EQ(WriteBadPixelList(dev, positions.data(), 65528), 0);
    std::vector<uint32_t> read;
    ASSERT_EQ(ReadBadPixelList(dev, read), 0);
    EXPECT_EQ(read, positions);
    EXPECT_EQ(WriteBadPixelList(dev, positions.data(), 65529), CAMERA_STATUS_PARAMETER_INVALID);
}

// A stored count is bounded by the area before it sizes anything; only the header is read.
TEST_F(BadPixelTableTest, StoredHeaderIsChecked) {
    struct Case {
        const char* what;
        uint32_t magic;
        uint32_t count;
        int expected;
    };
    const Case cases[] = {
        {"other magic", 0x20231204, 3, CAMERA_STATUS_DATA_INVALID},
        {"erased area", 0xFFFFFFFF, 0xFFFFFFFF, CAMERA_STATUS_DATA_INVALID},
        {"count one past the area", 0x20231205, 65529, CAMERA_STATUS_DATA_INVALID},
        {"count that would wrap 4 * n", 0x20231205, 0x40000001, CAMERA_STATUS_DATA_INVALID},
        {"count 0xFFFFFFFF", 0x20231205, 0xFFFFFFFF, CAMERA_STATUS_DATA_INVALID},
        {"empty table", 0x20231205, 0, 0},
    };
    for (const Case& c : cases) {
        Store(TableBytes(c.magic, c.count, {}));
        std::vector<uint32_t> read = {1, 2};
        dev.ClearCalls();
        EXPECT_EQ(ReadBadPixelList(dev, read), c.expected) << c.what;
        EXPECT_TRUE(read.empty()) << c.what;
        const auto reads = dev.CallsNamed({"ReadFlash"});
        ASSERT_EQ(reads.size(), 1u) << c.what;
        EXPECT_EQ(reads[0].args, (std::vector<int64_t>{kTable, 32})) << c.what;
    }
}

TEST_F(BadPixelTableTest, ErrorsPassThrough) {
    uint32_t one = 1;
    EXPECT_EQ(WriteBadPixelList(dev, nullptr, 1), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(WriteBadPixelList(dev, &one, 0), CAMERA_STATUS_PARAMETER_INVALID);
    flash.Fail(StorageOp::kRead, CAMERA_STATUS_COMM_ERROR);
    std::vector<uint32_t> read;
    EXPECT_EQ(ReadBadPixelList(dev, read), CAMERA_STATUS_COMM_ERROR);

    // A map without table answers -4 through the codec too.
    qvsim::CFakeDevice gige;
    qvsim::CNorFlash gigeFlash;
    gige.SetDeviceType(kGige);
    gigeFlash.Attach(gige);
    qvsim::WriteStorageImage(gigeFlash.Bytes(), StorageLayout::kGigeFlash, SampleFields());
    gige.AdoptStorage(CreateStorageData(&gige, "v1.0"));
    ASSERT_TRUE(gige.HasStorage());
    EXPECT_EQ(WriteBadPixelList(gige, &one, 1), CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(ReadBadPixelList(gige, read), CAMERA_STATUS_NOT_SUPPORTED);
}

}  // namespace
