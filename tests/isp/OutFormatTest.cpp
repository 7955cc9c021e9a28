// Output descriptors and the packing masks of the vector kernels.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "IspVectorConstants.h"
#include "OutFormat.h"

using namespace qv::isp;

namespace {

stImageInfo Frame(UINT w, UINT h, UINT type) {
    stImageInfo info{};
    info.iWidth = w;
    info.iHeight = h;
    info.TotalBytes = w * h;
    info.uiMediaType = type;
    info.ExpTime = 1234.5;
    info.ExpLineTime = 20.25;
    info.Gain = 1500;
    return info;
}

struct FormatCase {
    uint32_t format;
    int bytesPerPixel;
    int outputId;
};

TEST(OutFormat, DerivesBytesPerPixelOutputIdAndDescriptor) {
    const FormatCase cases[] = {
        {CAMERA_MEDIA_TYPE_RGBA8, 4, 20},
        {CAMERA_MEDIA_TYPE_BGRA8, 4, 21},
        {CAMERA_MEDIA_TYPE_RGB8, 3, 20},
        {CAMERA_MEDIA_TYPE_BGR8, 3, 21},
        {0x01080000u, 1, 0},
        {0x01100005u, 2, 0},
        {0x01080008u, 1, 8},
        {0x01100010u, 2, 16},
    };
    const stImageInfo in = Frame(640, 480, CAMERA_MEDIA_TYPE_MONO8);
    for (const FormatCase& c : cases) {
        stImageInfo out{};
        int bpp = -1, id = -1;
        ASSERT_EQ(GetOutFormatInfo(c.format, in, &out, &bpp, &id), 0) << std::hex << c.format;
        EXPECT_EQ(bpp, c.bytesPerPixel) << std::hex << c.format;
        EXPECT_EQ(id, c.outputId) << std::hex << c.format;
        EXPECT_EQ(out.TotalBytes, 640u * 480u * static_cast<UINT>(c.bytesPerPixel));
        EXPECT_EQ(out.uiMediaType, c.format);
        EXPECT_EQ(out.iWidth, 640u);
        EXPECT_EQ(out.iHeight, 480u);
        EXPECT_EQ(out.ExpTime, 1234.5);
        EXPECT_EQ(out.ExpLineTime, 20.25);
        EXPECT_EQ(out.Gain, 1500u);
    }
}

TEST(OutFormat, RefusesUnknownFormatsWithoutTouchingTheDescriptor) {
    // Pixel size 40 bits; a colour code with an unknown layout byte.
    for (uint32_t format : {0x01280000u, 0x02180099u, 0x02000014u}) {
        const stImageInfo in = Frame(8, 8, CAMERA_MEDIA_TYPE_MONO8);
        stImageInfo out;
        std::memset(&out, 0x5A, sizeof out);
        int bpp = -1, id = -1;
        EXPECT_EQ(GetOutFormatInfo(format, in, &out, &bpp, &id), CAMERA_STATUS_NOT_SUPPORTED);
        EXPECT_EQ(out.iWidth, 0x5A5A5A5Au);
        EXPECT_EQ(bpp, -1);
    }
}

std::vector<int> MaskBytes(const uint8_t* mask) {
    std::vector<int> v;
    for (int i = 0; i < 16; ++i) v.push_back(mask[i] & 0x80 ? -1 : mask[i]);
    return v;
}

TEST(VectorConstants, PackingMasksGatherFourPixelsInTheLayout) {
    using V = std::vector<int>;
    const int z = -1;  // a zero byte
    EXPECT_EQ(MaskBytes(GetPackMaskRgb8(false)),
              (V{2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, z, z, z, z}));
    EXPECT_EQ(MaskBytes(GetPackMaskRgb8(true)),
              (V{14, 13, 12, 10, 9, 8, 6, 5, 4, 2, 1, 0, z, z, z, z}));
    EXPECT_EQ(MaskBytes(GetPackMaskBgr8(false)),
              (V{0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, z, z, z, z}));
    EXPECT_EQ(MaskBytes(GetPackMaskRgba8(false)),
              (V{2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15}));
    EXPECT_EQ(MaskBytes(GetPackMaskBgra8(false)),
              (V{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}));
    EXPECT_EQ(MaskBytes(GetPackMaskBgra8(true)),
              (V{12, 13, 14, 15, 8, 9, 10, 11, 4, 5, 6, 7, 0, 1, 2, 3}));
    EXPECT_EQ(MaskBytes(GetPackMaskMono8(false)),
              (V{0, 4, 8, 12, z, z, z, z, z, z, z, z, z, z, z, z}));
    EXPECT_EQ(MaskBytes(GetPackMaskMono8(true)),
              (V{12, 8, 4, 0, z, z, z, z, z, z, z, z, z, z, z, z}));
}

TEST(VectorConstants, LaneConstantsHoldTheirValues) {
    const IspVectorConstants& c = VectorConstants();
    uint16_t w[8];
    std::memcpy(w, c.brightThreshold, 16);
    for (uint16_t v : w) EXPECT_EQ(v, 200);
    std::memcpy(w, c.evenLaneMask, 16);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(w[i], i % 2 ? 0 : 0xFFFF);
    uint32_t d[4];
    std::memcpy(d, c.oddWordMask, 16);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(d[i], i % 2 ? 0xFFFFFFFFu : 0u);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(c.alphaOfPixels[i], i % 4 == 3 ? 0xFF : 0);
}

}  // namespace
