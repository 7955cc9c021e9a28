// Software resize of 8-bit raw frames against the interpolation as written.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "RawResizer.h"

using namespace qv::isp;

namespace {

stImageInfo Source(UINT w, UINT h, UINT type = 0x01080008u) {
    stImageInfo info{};
    info.iWidth = w;
    info.iHeight = h;
    info.TotalBytes = w * h;
    info.uiMediaType = type;
    return info;
}

// Cell-wise bilinear interpolation with 4096 = 1.0; a neighbour of weight 0 is not read.
std::vector<uint8_t> Reference(const std::vector<uint8_t>& s, int W, int H, int w, int h,
                               uint8_t fill) {
    std::vector<uint8_t> out(static_cast<size_t>(w) * h, fill);
    auto cell = [](double pos, int last, int64_t* c, int64_t* weight) {
        *c = static_cast<int64_t>(pos);
        if (*c < last) {
            *weight = static_cast<int64_t>((1 - (pos - *c)) * 4096);
        } else {
            *c = last;
            *weight = 4096;
        }
    };
    for (int i = 0; i < h / 2; ++i)
        for (int j = 0; j < w / 2; ++j) {
            int64_t cx, a, cy, t;
            cell(static_cast<double>(W) / w * j, (W - 2) / 2, &cx, &a);
            cell(static_cast<double>(H) / h * i, (H - 2) / 2, &cy, &t);
            const int64_t b = 4096 - t;
            for (int dy = 0; dy < 2; ++dy)
                for (int dx = 0; dx < 2; ++dx) {
                    auto S = [&](int64_t row, int64_t col, int64_t weight) -> int64_t {
                        if (weight == 0) return 0;
                        EXPECT_LT(row, H);
                        EXPECT_LT(col, W);
                        return s[static_cast<size_t>(row * W + col)];
                    };
                    const int64_t r0 = 2 * cy + dy, c0 = 2 * cx + dx;
                    const int64_t v = (a * (t * S(r0, c0, t) + b * S(r0 + 2, c0, b)) +
                                       (4096 - a) * (t * S(r0, c0 + 2, t * (4096 - a)) +
                                                     b * S(r0 + 2, c0 + 2, b * (4096 - a)))) >>
                                      24;
                    out[static_cast<size_t>(2 * i + dy) * w + 2 * j + dx] = static_cast<uint8_t>(v);
                }
        }
    return out;
}

std::vector<uint8_t> Resize(const std::vector<uint8_t>& src, int W, int H, int w, int h,
                            int* rc = nullptr, uint8_t fill = 0xEE) {
    CRawResizer resizer;
    std::vector<uint8_t> out(static_cast<size_t>(w) * h, fill);
    const int r = resizer.Resize(Source(W, H), src.data(), out.data(), w, h);
    if (rc) *rc = r;
    return out;
}

std::vector<uint8_t> RandomBytes(std::mt19937& rng, size_t n) {
    std::vector<uint8_t> v(n);
    for (auto& b : v) b = static_cast<uint8_t>(rng());
    return v;
}

TEST(RawResize, MatchesTheInterpolationOnRandomSizes) {
    std::mt19937 rng(7);
    const int sizes[][4] = {{64, 48, 32, 24},   {64, 48, 128, 96}, {37, 29, 20, 14},
                            {2, 2, 9, 7},       {9, 7, 2, 2},      {1284, 9, 641, 5},
                            {100, 60, 100, 60}, {30, 30, 46, 46},  {5, 5, 4, 4}};
    for (auto& sz : sizes) {
        const auto src = RandomBytes(rng, static_cast<size_t>(sz[0]) * sz[1]);
        int rc = -1;
        const auto got = Resize(src, sz[0], sz[1], sz[2], sz[3], &rc);
        ASSERT_EQ(rc, 0);
        EXPECT_EQ(got, Reference(src, sz[0], sz[1], sz[2], sz[3], 0xEE))
            << sz[0] << "x" << sz[1] << " -> " << sz[2] << "x" << sz[3];
    }
}

TEST(RawResize, HalvingTakesEveryOtherCellUnchanged) {
    std::mt19937 rng(3);
    const int W = 1280, H = 960;
    const auto src = RandomBytes(rng, static_cast<size_t>(W) * H);
    const auto got = Resize(src, W, H, 640, 480);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x) {
            const int sy = 2 * (y / 2) * 2 + y % 2, sx = 2 * (x / 2) * 2 + x % 2;
            ASSERT_EQ(got[y * 640 + x], src[sy * W + sx]) << x << "," << y;
        }
}

TEST(RawResize, SameSizeCopiesAndFullWhiteStaysWhite) {
    std::mt19937 rng(4);
    const auto src = RandomBytes(rng, 48 * 20);
    EXPECT_EQ(Resize(src, 48, 20, 48, 20), src);
    // 4096 x 4096 x 255 does not fit 32-bit signed arithmetic.
    const std::vector<uint8_t> white(37 * 23, 255);
    for (uint8_t v : Resize(white, 37, 23, 58, 40)) ASSERT_EQ(v, 255);
    for (uint8_t v : Resize(white, 37, 23, 13, 9)) {
        if (v != 0xEE) {
            ASSERT_EQ(v, 255);
        }
    }
}

TEST(RawResize, OddTargetLeavesLastRowAndColumn) {
    std::mt19937 rng(5);
    const auto src = RandomBytes(rng, 40 * 30);
    const auto got = Resize(src, 40, 30, 21, 15, nullptr, 0xEE);
    for (int x = 0; x < 21; ++x) EXPECT_EQ(got[14 * 21 + x], 0xEE);
    for (int y = 0; y < 15; ++y) EXPECT_EQ(got[y * 21 + 20], 0xEE);
}

TEST(RawResize, RefusesWhatItCannotResize) {
    CRawResizer resizer;
    std::vector<uint8_t> src(64 * 2, 1), out(16 * 16, 0xEE);
    // 16-bit samples would come out as w x h bytes labelled with a 16-bit format.
    for (UINT type : {0x01100010u, 0x01100005u}) {
        stImageInfo in = Source(8, 8, type);
        in.TotalBytes = 128;
        EXPECT_EQ(resizer.Resize(in, src.data(), out.data(), 4, 4), CAMERA_STATUS_NOT_SUPPORTED);
    }
    stImageInfo in = Source(8, 8);
    EXPECT_EQ(resizer.Resize(in, src.data(), out.data(), 1, 4), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(resizer.Resize(Source(1, 8), src.data(), out.data(), 4, 4),
              CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(resizer.Resize(in, nullptr, out.data(), 4, 4), CAMERA_STATUS_PARAMETER_INVALID);
    in.TotalBytes = 63;
    EXPECT_EQ(resizer.Resize(in, src.data(), out.data(), 4, 4), CAMERA_STATUS_DATA_INVALID);
    for (uint8_t v : out) ASSERT_EQ(v, 0xEE);
}

}  // namespace
