#include "FrameMaker.h"

#include <gtest/gtest.h>

namespace filetest {

namespace {

unsigned BytesPerPixel(uint32_t mediaType) {
    switch (mediaType) {
        case CAMERA_MEDIA_TYPE_MONO12_16:
            return 2;
        case CAMERA_MEDIA_TYPE_RGB8:
        case CAMERA_MEDIA_TYPE_BGR8:
            return 3;
        case CAMERA_MEDIA_TYPE_RGBA8:
        case CAMERA_MEDIA_TYPE_BGRA8:
            return 4;
        default:
            return 1;
    }
}

TestFrame Empty(uint32_t width, uint32_t height, uint32_t mediaType) {
    TestFrame f;
    f.head.iWidth = width;
    f.head.iHeight = height;
    f.head.uiMediaType = mediaType;
    f.head.TotalBytes = width * height * BytesPerPixel(mediaType);
    f.bytes.resize(f.head.TotalBytes);
    return f;
}

}  // namespace

TestFrame MakeFrame(uint32_t width, uint32_t height, uint32_t mediaType, int seed) {
    TestFrame f = Empty(width, height, mediaType);
    const unsigned bpp = BytesPerPixel(mediaType);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t* p = f.bytes.data() + (static_cast<size_t>(y) * width + x) * bpp;
            if (mediaType == CAMERA_MEDIA_TYPE_MONO12_16) {
                const uint32_t v = (x * 37 + y * 23 + seed * 101) % 4096;
                p[0] = static_cast<uint8_t>(v);
                p[1] = static_cast<uint8_t>(v >> 8);
                continue;
            }
            for (unsigned c = 0; c < bpp; ++c)
                p[c] = static_cast<uint8_t>(20 + x * 2 + y * 3 + c * 30 + seed * 5);
        }
    }
    return f;
}

TestFrame UniformFrame(uint32_t width, uint32_t height, uint32_t mediaType,
                       std::vector<uint8_t> pixel) {
    TestFrame f = Empty(width, height, mediaType);
    EXPECT_EQ(pixel.size(), BytesPerPixel(mediaType));
    for (size_t i = 0; i < f.bytes.size(); ++i) f.bytes[i] = pixel[i % pixel.size()];
    return f;
}

std::vector<uint8_t> ExpectedGreyOrRgb(const TestFrame& f) {
    std::vector<uint8_t> out;
    const size_t n = static_cast<size_t>(f.head.iWidth) * f.head.iHeight;
    const uint8_t* p = f.bytes.data();
    for (size_t i = 0; i < n; ++i) {
        switch (f.head.uiMediaType) {
            case CAMERA_MEDIA_TYPE_MONO8:
                out.push_back(p[i]);
                break;
            case CAMERA_MEDIA_TYPE_MONO12_16:
                out.push_back(static_cast<uint8_t>((p[2 * i] | p[2 * i + 1] << 8) >> 4));
                break;
            case CAMERA_MEDIA_TYPE_RGB8:
                out.insert(out.end(), p + 3 * i, p + 3 * i + 3);
                break;
            case CAMERA_MEDIA_TYPE_BGR8:
                out.insert(out.end(), {p[3 * i + 2], p[3 * i + 1], p[3 * i]});
                break;
            case CAMERA_MEDIA_TYPE_RGBA8:
                out.insert(out.end(), p + 4 * i, p + 4 * i + 3);
                break;
            case CAMERA_MEDIA_TYPE_BGRA8:
                out.insert(out.end(), {p[4 * i + 2], p[4 * i + 1], p[4 * i]});
                break;
            default:
                ADD_FAILURE() << "no expected form";
                return out;
        }
    }
    return out;
}

std::vector<uint8_t> ExpectedBgr(const TestFrame& f) {
    const std::vector<uint8_t> g = ExpectedGreyOrRgb(f);
    const size_t n = static_cast<size_t>(f.head.iWidth) * f.head.iHeight;
    std::vector<uint8_t> out;
    out.reserve(n * 3);
    const bool grey = g.size() == n;
    for (size_t i = 0; i < n; ++i) {
        if (grey)
            out.insert(out.end(), {g[i], g[i], g[i]});
        else
            out.insert(out.end(), {g[3 * i + 2], g[3 * i + 1], g[3 * i]});
    }
    return out;
}

}  // namespace filetest
