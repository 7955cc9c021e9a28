// Lens-shading calibration and correction through the pipeline object: the worked cases, the
// refusals (each with canary bytes showing nothing was written), and a synthetic vignette that
// comes out flat.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

#include "CameraISP.h"
#include "LensShading.h"

namespace {

constexpr uint32_t kMono8 = 0x01080000u;
constexpr uint32_t kMono16 = 0x01100007u;
constexpr uint8_t kCanary = 0x5A;

uint32_t Word(const std::vector<uint8_t>& t, size_t at) {
    return t[at] | t[at + 1] << 8 | t[at + 2] << 16 | static_cast<uint32_t>(t[at + 3]) << 24;
}

uint16_t Gain(const std::vector<uint8_t>& t, uint32_t m, uint32_t i, uint32_t j) {
    const size_t at = 64 + 2 * (static_cast<size_t>(i) * (m + 1) + j);
    return static_cast<uint16_t>(t[at] | t[at + 1] << 8);
}

// An image of one depth with a calibration request over it.
template <class T>
struct Calibration {
    std::vector<T> image;
    std::vector<uint8_t> table;
    tSdkLscCalibParam p{};

    Calibration(uint32_t width, uint32_t height, const std::function<T(uint32_t, uint32_t)>& f,
                uint32_t m = 4, uint32_t n = 3, uint32_t capacity = 0) {
        image.resize(static_cast<size_t>(width) * height);
        for (uint32_t y = 0; y < height; ++y)
            for (uint32_t x = 0; x < width; ++x)
                image[static_cast<size_t>(y) * width + x] = f(x, y);
        const uint32_t bytes = capacity ? capacity : (n + 1) * (m + 1) * 2 + 64;
        table.assign(bytes, kCanary);
        p.uWidth = width;
        p.uHeight = height;
        p.uMediaType = sizeof(T) == 1 ? kMono8 : kMono16;
        p.pImage = image.data();
        p.uImageSize = static_cast<UINT>(image.size());
        p.pTable = table.data();
        p.uTableCapacity = bytes;
        p.uTableSize = 0xABCD;
        p.uGridColumns = m;
        p.uGridRows = n;
        p.uWindowSize = 3;
        p.uRefMode = 0;
    }
    bool TableUntouched() const {
        return std::all_of(table.begin(), table.end(), [](uint8_t b) { return b == kCanary; }) &&
               p.uTableSize == 0xABCD;
    }
};

template <class T>
struct Correction {
    std::vector<T> out;
    tSdkLscCorrectParam p{};
    Correction(std::vector<T>& input, uint32_t width, uint32_t height,
               std::vector<uint8_t>& table) {
        out.assign(input.size(), static_cast<T>(kCanary));
        p.uWidth = width;
        p.uHeight = height;
        p.uMediaType = sizeof(T) == 1 ? kMono8 : kMono16;
        p.pInput = input.data();
        p.uInputSize = static_cast<UINT>(input.size());
        p.pOutput = out.data();
        p.uOutputCapacity = static_cast<UINT>(out.size());
        p.uOutputSize = 0xABCD;
        p.pTable = table.data();
        p.uTableSize = static_cast<UINT>(table.size());
    }
    bool OutputUntouched() const {
        return std::all_of(out.begin(), out.end(),
                           [](T v) { return v == static_cast<T>(kCanary); }) &&
               p.uOutputSize == 0xABCD;
    }
};

class LensShading : public ::testing::Test {
  protected:
    CameraISP isp;
};

TEST_F(LensShading, FlatImageGivesUnityAndCorrectsToItself) {
    Calibration<uint8_t> c(40, 30, [](uint32_t, uint32_t) { return uint8_t{100}; });
    ASSERT_EQ(isp.LscCalibrate(&c.p), 0);
    EXPECT_EQ(c.p.uTableSize, 104u);  // m = 4, n = 3: 20 gains
    EXPECT_EQ(Word(c.table, 0), 0x20220813u);
    EXPECT_EQ(Word(c.table, 4), 4u);
    EXPECT_EQ(Word(c.table, 8), 3u);
    // The reserved header bytes stay as they were.
    for (size_t i = 12; i < 64; ++i) ASSERT_EQ(c.table[i], kCanary);
    for (uint32_t i = 0; i <= 3; ++i)
        for (uint32_t j = 0; j <= 4; ++j) EXPECT_EQ(Gain(c.table, 4, i, j), 128);
    Correction<uint8_t> k(c.image, 40, 30, c.table);
    ASSERT_EQ(isp.LscCorrect(&k.p), 0);
    EXPECT_EQ(k.out, c.image);
    EXPECT_EQ(k.p.uOutputSize, c.p.uImageSize);
}

TEST_F(LensShading, BrightCentreGivesCornerGainsOfTwo) {
    // Centre 200, everything else 100; window 1 so each corner node reads one sample.
    Calibration<uint8_t> c(40, 30, [](uint32_t x, uint32_t y) {
        return static_cast<uint8_t>(x == 20 && y == 15 ? 200 : 100);
    });
    c.p.uWindowSize = 0;
    ASSERT_EQ(isp.LscCalibrate(&c.p), 0);
    EXPECT_EQ(Gain(c.table, 4, 0, 0), 256);
    EXPECT_EQ(Gain(c.table, 4, 3, 4), 256);
    // Correction doubles the corner samples.
    Correction<uint8_t> k(c.image, 40, 30, c.table);
    ASSERT_EQ(isp.LscCorrect(&k.p), 0);
    EXPECT_EQ(k.out[0], 200);
}

TEST_F(LensShading, SixteenBitReferenceIsTheCentreSample) {
    Calibration<uint16_t> c(32, 32, [](uint32_t x, uint32_t y) {
        return static_cast<uint16_t>(x == 16 && y == 16 ? 40000 : 20000);
    });
    c.p.uWindowSize = 1;
    ASSERT_EQ(isp.LscCalibrate(&c.p), 0);
    EXPECT_EQ(Gain(c.table, 4, 0, 0), 256);
    // A node darker than 1/32 of the reference is held at 4095 rather than cut to 16 bits.
    Calibration<uint16_t> dark(32, 32, [](uint32_t x, uint32_t y) {
        return static_cast<uint16_t>(x == 16 && y == 16 ? 60000 : (x == 0 && y == 0 ? 1 : 30000));
    });
    dark.p.uWindowSize = 1;
    ASSERT_EQ(isp.LscCalibrate(&dark.p), 0);
    EXPECT_EQ(Gain(dark.table, 4, 0, 0), 4095);
    EXPECT_EQ(Gain(dark.table, 4, 0, 1), 256);
}

TEST_F(LensShading, BrightestCellReferenceSumsBeyondThirtyTwoBits) {
    // Cells of 300 x 300 samples of 60000: each sum exceeds 2^32.
    Calibration<uint16_t> c(
        600, 600, [](uint32_t, uint32_t) { return uint16_t{60000}; }, 2, 2);
    c.p.uRefMode = 1;
    ASSERT_EQ(isp.LscCalibrate(&c.p), 0);
    for (uint32_t i = 0; i <= 2; ++i)
        for (uint32_t j = 0; j <= 2; ++j) EXPECT_EQ(Gain(c.table, 2, i, j), 128);
}

// The reference of each mode and the window of the node averages: mode 1 takes the brightest
// cell's mean (cell (1, 1), 10 x 10 samples of 160, over a field of 100); mode 2 the value given,
// its low byte on 8-bit images; a window of 7 averages 5 x 5 samples, so a dark row and column
// just outside that square leave the corner node at unity.
TEST_F(LensShading, ReferenceModesAndWindow) {
    auto brightCell = [](uint32_t x, uint32_t y) {
        return static_cast<uint8_t>(x >= 10 && x < 20 && y >= 10 && y < 20 ? 160 : 100);
    };
    auto flat = [](uint32_t, uint32_t) { return uint8_t{100}; };
    auto darkCross = [](uint32_t x, uint32_t y) {
        return static_cast<uint8_t>(x == 5 || y == 5 ? 0 : 100);
    };
    struct Row {
        const char* name;
        std::function<uint8_t(uint32_t, uint32_t)> image;
        uint32_t mode, reference, window;
        uint16_t node00, node11, node12;  // gains of nodes (0, 0), (1, 1) and (1, 2)
    };
    const Row rows[] = {
        // 160 x 128 / 100 = 204 on the field; node (1, 1) at (10, 10) lies in the cell.
        {"brightest cell", brightCell, 1, 0, 1, 204, 128, 204},
        // 0x1234 on an 8-bit image: 0x34 = 52, 52 x 128 / 100 = 66.
        {"given value, low byte", flat, 2, 0x1234, 3, 66, 66, 66},
        {"window 7 averages 5 x 5", darkCross, 0, 0, 7, 128, 128, 128},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Calibration<uint8_t> c(40, 30, row.image);
        c.p.uRefMode = row.mode;
        c.p.usRefValue = static_cast<USHORT>(row.reference);
        c.p.uWindowSize = row.window;
        ASSERT_EQ(isp.LscCalibrate(&c.p), 0);
        EXPECT_EQ(Gain(c.table, 4, 0, 0), row.node00);
        EXPECT_EQ(Gain(c.table, 4, 1, 1), row.node11);
        EXPECT_EQ(Gain(c.table, 4, 1, 2), row.node12);
    }
    // A 16-bit image takes the whole given value: 4660 x 128 / 1000 = 596.
    Calibration<uint16_t> wide(32, 32, [](uint32_t, uint32_t) { return uint16_t{1000}; });
    wide.p.uRefMode = 2;
    wide.p.usRefValue = 0x1234;
    ASSERT_EQ(isp.LscCalibrate(&wide.p), 0);
    EXPECT_EQ(Gain(wide.table, 4, 2, 2), 596);
}

// The bilinear interpolation, sample by sample, in the first cell of a 2 x 2 grid on 40 x 30
// (cells of 20 x 15) with corner gains 128, 256 (right), 384 (below), 256 (below right):
// at (5, 0) fx = 256 and g = (768 x 131072 + 256 x 262144) >> 20 = 160, so 100 becomes 125;
// at (0, 6) fy = 409 and g = 230 (179); at (7, 9) g = 272 (212).
TEST_F(LensShading, InterpolationIsExact) {
    std::vector<uint8_t> table(64 + 9 * 2, 0);
    const uint32_t header[3] = {0x20220813u, 2, 2};
    std::memcpy(table.data(), header, sizeof header);
    const uint16_t gains[9] = {128, 256, 128, 384, 256, 128, 128, 128, 128};
    std::memcpy(table.data() + 64, gains, sizeof gains);
    std::vector<uint8_t> input(40 * 30, 100);
    Correction<uint8_t> k(input, 40, 30, table);
    ASSERT_EQ(isp.LscCorrect(&k.p), 0);
    EXPECT_EQ(k.out[0], 100);  // the node itself: gain 128
    EXPECT_EQ(k.out[0 * 40 + 5], 125);
    EXPECT_EQ(k.out[6 * 40 + 0], 179);
    EXPECT_EQ(k.out[9 * 40 + 7], 212);
}

TEST_F(LensShading, VignetteComesOutFlat) {
    // A cos^4 fall-off from 100 in the centre to 45 in the corners. Gains carry 7 fractional
    // bits and every step truncates, so a brighter field would lose more than 2 to rounding.
    constexpr uint32_t W = 160, H = 120;
    auto vignette = [](uint32_t x, uint32_t y) {
        const double dx = (x - W / 2.0) / (W / 2.0), dy = (y - H / 2.0) / (H / 2.0);
        const double c = std::cos(std::atan(std::sqrt(dx * dx + dy * dy) * 0.5));
        return static_cast<uint8_t>(std::lround(100.0 * c * c * c * c));
    };
    Calibration<uint8_t> c(W, H, vignette, 16, 12, 17 * 13 * 2 + 64);
    c.p.uWindowSize = 1;
    ASSERT_EQ(isp.LscCalibrate(&c.p), 0);
    Correction<uint8_t> k(c.image, W, H, c.table);
    // In place.
    k.p.pOutput = c.image.data();
    ASSERT_EQ(isp.LscCorrect(&k.p), 0);
    const int centre = c.image[H / 2 * W + W / 2];
    for (uint32_t y = 0; y < H; ++y)
        for (uint32_t x = 0; x < W; ++x) {
            const int error = std::abs(c.image[y * W + x] - centre);
            // The last cell column and row interpolate toward nodes on the last sample that
            // they reach only one sample past the image: a little more is left there.
            if (x >= 150 || y >= 110)
                EXPECT_LE(error, 4) << x << "," << y;
            else
                EXPECT_LE(error, 2) << x << "," << y;
        }
}

TEST_F(LensShading, RefusedCalibrationsWriteNothing) {
    struct Row {
        const char* what;
        std::function<void(tSdkLscCalibParam&)> edit;
        int status;
    };
    const Row rows[] = {
        {"null image", [](tSdkLscCalibParam& p) { p.pImage = nullptr; }, -6},
        {"null table", [](tSdkLscCalibParam& p) { p.pTable = nullptr; }, -6},
        {"one grid column", [](tSdkLscCalibParam& p) { p.uGridColumns = 1; }, -6},
        {"one grid row", [](tSdkLscCalibParam& p) { p.uGridRows = 1; }, -6},
        {"more columns than samples", [](tSdkLscCalibParam& p) { p.uGridColumns = 41; }, -6},
        {"more rows than rows", [](tSdkLscCalibParam& p) { p.uGridRows = 31; }, -6},
        {"absurd grid", [](tSdkLscCalibParam& p) { p.uGridColumns = p.uGridRows = 0xFFFFFFFFu; },
         -6},
        {"window wider than the image", [](tSdkLscCalibParam& p) { p.uWindowSize = 31; }, -6},
        {"image smaller than the frame", [](tSdkLscCalibParam& p) { p.uImageSize = 40 * 30 - 1; },
         -6},
        {"capacity 103 for 104 bytes", [](tSdkLscCalibParam& p) { p.uTableCapacity = 103; }, -6},
        {"reference mode 3", [](tSdkLscCalibParam& p) { p.uRefMode = 3; }, -6},
        {"colour media type", [](tSdkLscCalibParam& p) { p.uMediaType = 0x01080008u; }, -4},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Calibration<uint8_t> c(40, 30,
                               [](uint32_t x, uint32_t) { return static_cast<uint8_t>(x + 50); });
        row.edit(c.p);
        EXPECT_EQ(isp.LscCalibrate(&c.p), row.status);
        EXPECT_TRUE(c.TableUntouched());
    }
    EXPECT_EQ(isp.LscCalibrate(nullptr), -6);
}

TEST_F(LensShading, RefusedCorrectionsWriteNothing) {
    Calibration<uint8_t> c(40, 30,
                           [](uint32_t x, uint32_t) { return static_cast<uint8_t>(x + 50); });
    ASSERT_EQ(isp.LscCalibrate(&c.p), 0);
    struct Row {
        const char* what;
        std::function<void(tSdkLscCorrectParam&, std::vector<uint8_t>&)> edit;
        int status;
    };
    const Row rows[] = {
        {"null input", [](tSdkLscCorrectParam& p, auto&) { p.pInput = nullptr; }, -6},
        {"null output", [](tSdkLscCorrectParam& p, auto&) { p.pOutput = nullptr; }, -6},
        {"null table", [](tSdkLscCorrectParam& p, auto&) { p.pTable = nullptr; }, -6},
        {"bad magic", [](tSdkLscCorrectParam&, std::vector<uint8_t>& t) { t[0] ^= 1; }, -6},
        {"no columns", [](tSdkLscCorrectParam&, std::vector<uint8_t>& t) { t[4] = 0; }, -6},
        {"more columns than samples",
         [](tSdkLscCorrectParam& p, auto&) {
             p.uWidth = 3;
             p.uHeight = 3;
         },
         -6},
        {"absurd grid",
         [](tSdkLscCorrectParam&, std::vector<uint8_t>& t) { std::memset(&t[4], 0xFF, 8); }, -6},
        {"table shorter than its grid", [](tSdkLscCorrectParam& p, auto&) { p.uTableSize = 103; },
         -6},
        {"table shorter than its header", [](tSdkLscCorrectParam& p, auto&) { p.uTableSize = 10; },
         -6},
        {"input smaller than the frame", [](tSdkLscCorrectParam& p, auto&) { p.uInputSize -= 1; },
         -6},
        {"output smaller than the frame",
         [](tSdkLscCorrectParam& p, auto&) { p.uOutputCapacity -= 1; }, -6},
        {"colour media type", [](tSdkLscCorrectParam& p, auto&) { p.uMediaType = 0x02180014u; },
         -4},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<uint8_t> table = c.table;
        std::vector<uint8_t> input = c.image;
        Correction<uint8_t> k(input, 40, 30, table);
        row.edit(k.p, table);
        EXPECT_EQ(isp.LscCorrect(&k.p), row.status);
        EXPECT_TRUE(k.OutputUntouched());
        EXPECT_EQ(input, c.image);
    }
    EXPECT_EQ(isp.LscCorrect(nullptr), -6);
}

}  // namespace
