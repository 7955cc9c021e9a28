// The embedded FPGA images: which image each hardware and sensor type gets, that every image
// inflates whole, and that a damaged or oversized stream is refused without harm.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "QVDeviceDef.h"
#include "SimUsbFpga.h"
#include "usb/FpgaImages.h"

namespace {

using namespace qv::usb;

std::vector<uint8_t> Inflate(FpgaImageId id) {
    std::vector<uint8_t> out;
    EXPECT_EQ(InflateFpgaImage(id, out), 0) << FpgaImageFileName(id);
    return out;
}

// The build's placeholders name their types; a build with the maker's images cannot be checked
// this way.
bool PlaceholderBuild() {
    return CSimUsbFpga::Parse(Inflate(FpgaImageId::kCommon)).has_value();
}

TEST(FpgaImages, FortySixStreamsEachInflatingWholeWithinOneMebibyte) {
    EXPECT_EQ(kFpgaImageCount, 46u);
    std::set<std::string> names;
    for (size_t i = 0; i < kFpgaImageCount; ++i) {
        const auto id = static_cast<FpgaImageId>(i);
        names.insert(FpgaImageFileName(id));
        const std::vector<uint8_t> bytes = Inflate(id);
        EXPECT_GT(bytes.size(), 0u);
        EXPECT_LE(bytes.size(), 1048576u);
        EXPECT_EQ(bytes.size(), kFpgaImageBlobs[i].inflatedSize);
    }
    EXPECT_EQ(names.size(), kFpgaImageCount);
}

struct Selection {
    int hardwareType;
    int sensorType;
    int imageType;        // the hardware type the image's header names (0: the common image)
    const char* sensors;  // the sensor types it names
};

// One row per group of the image table, with a sensor type from inside the group.
const Selection kProgSelections[] = {
    {100, 22, 100, "22-23"}, {100, 23, 100, "22-23"}, {100, 25, 100, "24-27"},
    {100, 28, 100, "28-29"}, {100, 31, 100, "30-31"}, {100, 33, 100, "32-35"},
    {100, 47, 100, "46-47"}, {100, 57, 100, "57"},    {100, 58, 100, "58"},
    {100, 1, 100, "other"},  {100, 59, 100, "other"}, {102, 14, 102, ""},
    {103, 14, 103, ""},      {104, 14, 104, ""},      {105, 14, 105, ""},
    {106, 14, 106, "14,37"}, {106, 37, 106, "14,37"}, {106, 40, 106, "40-41"},
    {106, 54, 106, "53-54"}, {106, 55, 106, "55-56"}, {106, 19, 106, "other"},
    {107, 38, 107, "38"},    {107, 39, 107, "39"},    {110, 9, 110, "8-9"},
    {110, 21, 110, "17,21"}, {110, 19, 110, "19-20"}, {110, 22, 110, "22-23"},
    {110, 30, 110, "30-31"}, {110, 35, 110, "32-35"}, {110, 69, 110, "40,41,68,69"},
    {110, 46, 110, "46-47"}, {110, 53, 110, "53-54"}, {110, 59, 110, "57,59"},
    {110, 58, 110, "58"},    {110, 67, 110, "67"},    {110, 72, 110, "71-72"},
    {111, 57, 111, "57,59"}, {111, 58, 110, "58"},    {111, 73, 111, "73"},
    {3, 1, 3, ""},           {4, 1, 4, ""},           {5, 1, 5, ""},
    {6, 1, 6, ""},           {7, 1, 7, ""},           {1, 1, 0, ""},
    {2, 5, 0, ""},           {101, 22, 0, ""},        {109, 30, 0, ""},
};

TEST(FpgaImages, ProgImageByHardwareAndSensorType) {
    if (!PlaceholderBuild()) GTEST_SKIP() << "built with the maker's images";
    for (const Selection& s : kProgSelections) {
        SCOPED_TRACE(testing::Message()
                     << "hardware " << s.hardwareType << " sensor " << s.sensorType);
        const auto id = SelectProgImage(s.hardwareType, s.sensorType);
        ASSERT_TRUE(id.has_value());
        const auto image = CSimUsbFpga::Parse(Inflate(*id));
        ASSERT_TRUE(image.has_value());
        EXPECT_EQ(image->hardwareType, s.imageType);
        EXPECT_EQ(image->sensors, s.sensors);
        EXPECT_EQ(image->kind, 0);
    }
}

TEST(FpgaImages, TypesWithoutAnImageForTheSensor) {
    EXPECT_FALSE(SelectProgImage(107, 40).has_value());
    EXPECT_FALSE(SelectProgImage(107, 14).has_value());
    EXPECT_FALSE(SelectProgImage(110, 14).has_value());
    EXPECT_FALSE(SelectProgImage(110, 73).has_value());
    EXPECT_FALSE(SelectProgImage(111, 22).has_value());
    EXPECT_FALSE(SelectJtagImage(22).has_value());
    EXPECT_FALSE(SelectJtagImage(0).has_value());
}

TEST(FpgaImages, InstructionPortAndFlashImages) {
    if (!PlaceholderBuild()) GTEST_SKIP() << "built with the maker's images";
    struct Row {
        int sensorType;
        const char* sensors;
    } rows[] = {{8, "8-9"}, {9, "8-9"}, {14, "14,37"}, {37, "14,37"}};
    for (const Row& r : rows) {
        const auto id = SelectJtagImage(r.sensorType);
        ASSERT_TRUE(id.has_value()) << r.sensorType;
        const auto image = CSimUsbFpga::Parse(Inflate(*id));
        ASSERT_TRUE(image.has_value());
        EXPECT_EQ(image->hardwareType, 108);
        EXPECT_EQ(image->kind, 2);
        EXPECT_EQ(image->sensors, r.sensors);
    }
    const auto flash = CSimUsbFpga::Parse(Inflate(kFlashImageType7));
    ASSERT_TRUE(flash.has_value());
    EXPECT_EQ(flash->hardwareType, 7);
    EXPECT_EQ(flash->kind, 1);
    // The two images no path selects are there too.
    for (auto id : {FpgaImageId::kJtag8, FpgaImageId::kJtag9}) {
        const auto image = CSimUsbFpga::Parse(Inflate(id));
        ASSERT_TRUE(image.has_value());
        EXPECT_EQ(image->kind, 2);
    }
}

TEST(FpgaImages, DescriptorVersionsOfTheSelfConfiguringTypes) {
    for (int type : {300, 301, 302, 303}) EXPECT_EQ(FpgaDescriptorVersion(type), 0x2201) << type;
    for (int type : {8, 9, 108, 304, 305, 306, 100}) EXPECT_FALSE(FpgaDescriptorVersion(type));
}

// ---- damaged streams -----------------------------------------------------------------------

FpgaImageBlob BlobOf(const std::vector<uint8_t>& stream, const std::vector<uint8_t>& inflated) {
    return {stream.data(), stream.size(), inflated.size(),
            static_cast<uint32_t>(
                crc32(crc32(0L, Z_NULL, 0), inflated.data(), static_cast<uInt>(inflated.size())))};
}

std::vector<uint8_t> Deflate(const std::vector<uint8_t>& bytes) {
    uLongf n = compressBound(static_cast<uLong>(bytes.size()));
    std::vector<uint8_t> out(n);
    EXPECT_EQ(compress(out.data(), &n, bytes.data(), static_cast<uLong>(bytes.size())), Z_OK);
    out.resize(n);
    return out;
}

TEST(FpgaImages, DamagedStreamsAreRefused) {
    std::vector<uint8_t> bytes(300000);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + (i >> 9));
    std::vector<uint8_t> stream = Deflate(bytes);
    std::vector<uint8_t> out;

    ASSERT_EQ(InflateFpgaBlob(BlobOf(stream, bytes), out), 0);
    EXPECT_EQ(out, bytes);

    // Cut short anywhere: the stream never completes.
    for (size_t cut : {size_t{1}, size_t{2}, stream.size() / 2, stream.size() - 1}) {
        std::vector<uint8_t> shortStream(stream.begin(), stream.begin() + static_cast<long>(cut));
        FpgaImageBlob blob = BlobOf(stream, bytes);
        blob.zlib = shortStream.data();
        blob.zlibSize = shortStream.size();
        EXPECT_EQ(InflateFpgaBlob(blob, out), CAMERA_STATUS_FPGA_ERROR) << cut;
        EXPECT_TRUE(out.empty());
    }
    // A flipped bit inside the data: zlib's own check or the recorded CRC catches it.
    for (size_t at : {size_t{5}, stream.size() / 3, stream.size() - 3}) {
        std::vector<uint8_t> bad = stream;
        bad[at] ^= 0x10;
        EXPECT_EQ(InflateFpgaBlob(BlobOf(bad, bytes), out), CAMERA_STATUS_FPGA_ERROR) << at;
    }
    // A recorded length or CRC that does not match.
    FpgaImageBlob blob = BlobOf(stream, bytes);
    blob.inflatedCrc ^= 1;
    EXPECT_EQ(InflateFpgaBlob(blob, out), CAMERA_STATUS_FPGA_ERROR);
    blob = BlobOf(stream, bytes);
    blob.inflatedSize -= 1;
    EXPECT_EQ(InflateFpgaBlob(blob, out), CAMERA_STATUS_FPGA_ERROR);
    // Nothing at all.
    EXPECT_EQ(InflateFpgaBlob({nullptr, 0, 0, 0}, out), CAMERA_STATUS_FPGA_ERROR);
    EXPECT_EQ(InflateFpgaBlob({stream.data(), 0, bytes.size(), 0}, out), CAMERA_STATUS_FPGA_ERROR);
}

TEST(FpgaImages, StreamInflatingBeyondOneMebibyteIsRefused) {
    // 1 MiB + 1 zero bytes deflate to about a kilobyte; the inflate must stop at its limit.
    const std::vector<uint8_t> big(1048577, 0);
    std::vector<uint8_t> stream = Deflate(big);
    FpgaImageBlob blob = BlobOf(stream, big);
    blob.inflatedSize = 1048576;  // even a record that claims it fits
    std::vector<uint8_t> out;
    EXPECT_EQ(InflateFpgaBlob(blob, out), CAMERA_STATUS_FPGA_ERROR);
    EXPECT_TRUE(out.empty());

    const std::vector<uint8_t> exact(1048576, 0x5A);
    stream = Deflate(exact);
    EXPECT_EQ(InflateFpgaBlob(BlobOf(stream, exact), out), 0);
    EXPECT_EQ(out.size(), 1048576u);
}

}  // namespace
