// The processed-raw kernels and the YUV 4:2:2 conversion against plain models of their rules,
// their identities and worked numbers, and the frames they refuse.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "KernelTestSupport.h"
#include "RawYuvKernels.h"

using namespace qv::isp;

namespace {

constexpr uint32_t kBayer8 = 0x01080008u;
constexpr uint32_t kBayer12 = 0x01100010u;
constexpr uint32_t kYuv = 0x0210001Fu;
constexpr uint8_t kFill = 0xCD;

using RawKernel = int (*)(IspFrame&, const ColourSettings&, const ColourLuts&);

struct RawKernelInfo {
    const char* name;
    RawKernel kernel;
    int inBytes;
    int outBytes;
};

const RawKernelInfo kRawKernels[] = {
    {"ProcessRaw8ToRaw8", &ProcessRaw8ToRaw8, 1, 1},
    {"ProcessRaw8ToRaw16", &ProcessRaw8ToRaw16, 1, 2},
    {"ProcessRaw16ToRaw16", &ProcessRaw16ToRaw16, 2, 2},
    {"ProcessRaw16ToRaw8", &ProcessRaw16ToRaw8, 2, 1},
};

struct RawCase {
    int width = 8;
    int height = 8;
    ColourSettings s;
    bool tableOn = false;
    std::vector<uint16_t> tables[3];  // red, green, blue
};

uint32_t OutFormatOf(const RawKernelInfo& k) {
    return k.outBytes == 2 ? kBayer12 : kBayer8;
}

// ---- The model ---------------------------------------------------------------------------------

std::vector<int> RawModel(const RawKernelInfo& k, const std::vector<int>& raw, const RawCase& c) {
    const int W = c.width, H = c.height;
    const int vmax = k.inBytes == 1 ? 255 : 4095;
    auto in = [&](int x, int y) { return std::min(raw[static_cast<size_t>(y) * W + x], vmax); };
    const ColourSettings& s = c.s;
    const int64_t kk = int64_t{s.sharpness} * 128 / 25;
    int64_t m[9] = {256, 0, 0, 0, 256, 0, 0, 0, 256};
    if (!(s.monoCamera || s.monochrome || s.saturation == 0 ||
          (k.inBytes == 2 && k.outBytes == 1))) {
        const int D = s.saturation - 128, u = -(D / 2);
        for (int i = 0; i < 9; ++i)
            m[i] = s.colorMatrix[i] + ((i == 0 || i == 4 || i == 8) ? D : u);
    }
    const int64_t L =
        76 * int64_t{s.redGain} + 150 * int64_t{s.greenGain} + 29 * int64_t{s.blueGain};
    const int64_t comp =
        static_cast<int64_t>(std::trunc((25500.0 - static_cast<double>(L)) * 100.0 / 25500.0)) +
        100;
    std::vector<int> out(static_cast<size_t>(W) * H);
    for (int y = 0; y < H; y += 2)
        for (int x = 0; x < W; x += 2) {
            int64_t v[4];  // G1, R, B, G2
            const int px[4] = {x, x + 1, x, x + 1}, py[4] = {y, y, y + 1, y + 1};
            for (int i = 0; i < 4; ++i) {
                int64_t sv = in(px[i], py[i]);
                if (kk > 0 && x >= 2 && x <= W - 4 && y >= 2 && y <= H - 4) {
                    int sum = 0;
                    for (int dy : {-2, 0, 2})
                        for (int dx : {-2, 0, 2})
                            if (dx != 0 || dy != 0) sum += in(px[i] + dx, py[i] + dy);
                    sv = std::max<int64_t>(sv + ((kk * (sv - (sum >> 3))) >> 7), 0);
                }
                v[i] = sv;
            }
            int64_t g1 = v[0] * s.greenGain / 100, r = v[1] * s.redGain / 100,
                    b = v[2] * s.blueGain / 100, g2 = v[3] * s.greenGain / 100;
            int64_t gm = std::min<int64_t>((g1 + g2) >> 1, vmax);
            g1 = std::min<int64_t>(g1, vmax);
            g2 = std::min<int64_t>(g2, vmax);
            r = std::min<int64_t>(r, vmax);
            b = std::min<int64_t>(b, vmax);
            int64_t o[4] = {
                (m[3] * r + m[4] * g1 + m[5] * b) >> 8, (m[0] * r + m[1] * gm + m[2] * b) >> 8,
                (m[6] * r + m[7] * gm + m[8] * b) >> 8, (m[3] * r + m[4] * g2 + m[5] * b) >> 8};
            const int tableOf[4] = {1, 0, 2, 1};
            for (int i = 0; i < 4; ++i) {
                if (comp > 100) o[i] = o[i] * comp / 100;
                int value = static_cast<int>(std::clamp<int64_t>(o[i], 0, vmax));
                if (c.tableOn) value = std::min<int>(c.tables[tableOf[i]][value], vmax);
                if (s.contrast != 50) {
                    const int P = k.inBytes == 1 ? 128 : 2048;
                    value = static_cast<int>(
                        std::clamp(std::trunc((value - P) * (s.contrast / 50.0) + P), 0.0,
                                   static_cast<double>(vmax)));
                }
                if (k.inBytes == 1 && k.outBytes == 2) value <<= 4;
                if (k.inBytes == 2 && k.outBytes == 1) value >>= 4;
                out[static_cast<size_t>(py[i]) * W + px[i]] = value;
            }
        }
    return out;
}

// ---- Running ------------------------------------------------------------------------------------

struct RawResult {
    int rc = 0;
    std::vector<int> out;
    std::vector<uint8_t> bytes;
    stImageInfo outInfo{};
    int demosaicKind = 0;
};

RawResult RunRaw(const RawKernelInfo& k, const std::vector<int>& raw, const RawCase& c,
                 uint32_t mediaType = 0, int totalLess = 0) {
    RawResult r;
    // Never empty, so that an empty frame still comes with buffers.
    std::vector<uint8_t> in(std::max<size_t>(raw.size() * k.inBytes, 16));
    for (size_t i = 0; i < raw.size(); ++i) {
        const uint16_t v = static_cast<uint16_t>(raw[i]);
        std::memcpy(&in[i * k.inBytes], &v, k.inBytes);
    }
    stImageInfo info{};
    info.iWidth = static_cast<UINT>(c.width);
    info.iHeight = static_cast<UINT>(c.height);
    info.TotalBytes = static_cast<UINT>(raw.size() * k.inBytes - totalLess);
    info.uiMediaType = mediaType ? mediaType : (k.inBytes == 2 ? kBayer12 : kBayer8);
    r.bytes.assign(std::max<size_t>(raw.size() * k.outBytes, 16), kFill);
    std::memset(&r.outInfo, 0x77, sizeof r.outInfo);
    IspFrame frame{&info, in.data(), &r.outInfo, r.bytes.data(), 0};
    auto view = [&](int ch) {
        LutView v;
        v.table = c.tables[ch].empty() ? nullptr : c.tables[ch].data();
        v.size = static_cast<uint32_t>(c.tables[ch].size());
        v.inEffect = c.tableOn;
        return v;
    };
    ColourSettings s = c.s;
    if (s.ispOutFormat == CAMERA_MEDIA_TYPE_BGR8) s.ispOutFormat = OutFormatOf(k);
    r.rc = k.kernel(frame, s, ColourLuts{view(0), view(1), view(2)});
    r.demosaicKind = frame.demosaicKind;
    for (size_t i = 0; i < raw.size(); ++i) {
        uint16_t v = 0;
        std::memcpy(&v, &r.bytes[i * k.outBytes], k.outBytes);
        r.out.push_back(v);
    }
    return r;
}

std::vector<int> RandomRaw(std::mt19937& rng, int W, int H, int inBytes) {
    std::vector<int> raw(static_cast<size_t>(W) * H);
    const int top = inBytes == 2 ? 4095 : 255;
    for (int& v : raw) {
        v = std::uniform_int_distribution<int>(0, top)(rng);
        if (inBytes == 2 && rng() % 50 == 0) v = 4096 + static_cast<int>(rng() % 60000);
    }
    return raw;
}

RawCase RandomRawCase(std::mt19937& rng, const RawKernelInfo& k, int W, int H) {
    auto pick = [&](std::initializer_list<int> values) {
        std::vector<int> v(values);
        return v[std::uniform_int_distribution<size_t>(0, v.size() - 1)(rng)];
    };
    RawCase c;
    c.width = W;
    c.height = H;
    c.s.sharpness = pick({0, 0, 10, 50, 100, 7000, -30});
    c.s.saturation = pick({0, 128, 160, 90});
    c.s.contrast = pick({50, 50, 51, 100, 20});
    c.s.monochrome = pick({0, 0, 1});
    c.s.monoCamera = pick({0, 0, 0, 1});
    c.s.redGain = static_cast<uint32_t>(pick({100, 80, 150, 400, 0}));
    c.s.greenGain = static_cast<uint32_t>(pick({100, 100, 60, 150}));
    c.s.blueGain = static_cast<uint32_t>(pick({100, 120, 250, 150}));
    const int matrix[9] = {310, -40, -14, -30, 300, -14, -6, -60, 322};
    std::copy(matrix, matrix + 9, c.s.colorMatrix);
    c.tableOn = pick({0, 1});
    const int n = k.inBytes == 2 ? 4096 : 256;
    for (auto& t : c.tables) {
        t.resize(n);
        for (int i = 0; i < n; ++i)
            t[i] = static_cast<uint16_t>(
                std::clamp(i + std::uniform_int_distribution<int>(-n / 8, n / 8)(rng), 0, n - 1));
    }
    return c;
}

// ---- Tests: processed raw -----------------------------------------------------------------------

class RawKernelModel : public ::testing::TestWithParam<int> {};

TEST_P(RawKernelModel, RandomFramesAndSettings) {
    const RawKernelInfo& k = kRawKernels[GetParam()];
    std::mt19937 rng(40u + static_cast<unsigned>(GetParam()));
    for (auto [W, H] : {std::pair{2, 2}, std::pair{4, 4}, std::pair{6, 8}, std::pair{12, 6},
                        std::pair{36, 10}, std::pair{68, 12}})
        for (int i = 0; i < 40; ++i) {
            const RawCase c = RandomRawCase(rng, k, W, H);
            const std::vector<int> raw = RandomRaw(rng, W, H, k.inBytes);
            const RawResult r = RunRaw(k, raw, c);
            ASSERT_EQ(r.rc, 0);
            ASSERT_EQ(r.out, RawModel(k, raw, c))
                << k.name << " " << W << "x" << H << " case " << i;
            EXPECT_EQ(r.outInfo.uiMediaType, OutFormatOf(k));
            EXPECT_EQ(r.outInfo.TotalBytes, static_cast<UINT>(W * H * k.outBytes));
            EXPECT_EQ(r.demosaicKind, c.s.monoCamera ? 3 : 4);
        }
}

INSTANTIATE_TEST_SUITE_P(Kernels, RawKernelModel, ::testing::Range(0, 4), [](const auto& info) {
    return std::string(kRawKernels[info.param].name);
});

TEST(RawKernels, NeutralSettingsAreIdentities) {
    std::mt19937 rng(1);
    RawCase c;
    c.width = 10;
    c.height = 6;
    const std::vector<int> raw8 = RandomRaw(rng, 10, 6, 1);
    std::vector<int> raw12 = RandomRaw(rng, 10, 6, 2);
    for (int& v : raw12) v = std::min(v, 4095);
    EXPECT_EQ(RunRaw(kRawKernels[0], raw8, c).out, raw8);
    std::vector<int> times16 = raw8;
    for (int& v : times16) v *= 16;
    EXPECT_EQ(RunRaw(kRawKernels[1], raw8, c).out, times16);
    EXPECT_EQ(RunRaw(kRawKernels[2], raw12, c).out, raw12);
    std::vector<int> shifted = raw12;
    for (int& v : shifted) v >>= 4;
    EXPECT_EQ(RunRaw(kRawKernels[3], raw12, c).out, shifted);
}

TEST(RawKernels, Raw8ToRaw16IsRaw8ToRaw8ShiftedByFour) {
    std::mt19937 rng(2);
    for (int i = 0; i < 200; ++i) {
        const RawCase c = RandomRawCase(rng, kRawKernels[0], 14, 8);
        const std::vector<int> raw = RandomRaw(rng, 14, 8, 1);
        std::vector<int> eight = RunRaw(kRawKernels[0], raw, c).out;
        for (int& v : eight) v <<= 4;
        ASSERT_EQ(RunRaw(kRawKernels[1], raw, c).out, eight) << "case " << i;
    }
}

TEST(RawKernels, WorkedNumbers) {
    struct Row {
        const char* what;
        int kernel;
        int flat;           // every input sample
        uint32_t gains[3];  // red, green, blue
        int saturation;
        int sharpness;
        int x, y;  // probed output sample
        int expected;
        int spike;          // value at (x, y) before processing, or -1
        bool mixingMatrix;  // a colour matrix that mixes the channels
    };
    const Row rows[] = {
        // 76 x 80 + 150 x 100 + 29 x 120 = 24560: Comp = trunc(940 x 100 / 25500) + 100 = 103.
        {"gains 80/100/120 raise by 3 %", 0, 100, {80, 100, 120}, 128, 0, 0, 0, 103, -1, false},
        {"gains 150/150/150: Comp 50 changes nothing",
         0,
         100,
         {150, 150, 150},
         128,
         0,
         0,
         0,
         150,
         -1,
         false},
        // A red 150 among 0s at sharpness 25 becomes 300, and with gain 50 % 150: clamped only
        // after the gains (green and blue gains 150 keep the compensation off).
        {"sharpened above the range, then halved",
         0,
         0,
         {50, 150, 150},
         128,
         25,
         5,
         4,
         150,
         150,
         false},
        {"the outermost two rows are not sharpened",
         0,
         100,
         {100, 100, 100},
         128,
         100,
         1,
         1,
         200,
         200,
         false},
        {"saturation 0 is the identity, not grey",
         0,
         0,
         {100, 100, 100},
         0,
         0,
         1,
         0,
         200,
         200,
         true},
        {"Raw16ToRaw8: saturation has no effect",
         3,
         0,
         {100, 100, 100},
         255,
         0,
         1,
         0,
         200,
         3200,
         true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const RawKernelInfo& k = kRawKernels[row.kernel];
        RawCase c;
        c.width = 12;
        c.height = 10;
        c.s.redGain = row.gains[0];
        c.s.greenGain = row.gains[1];
        c.s.blueGain = row.gains[2];
        c.s.saturation = row.saturation;
        c.s.sharpness = row.sharpness;
        if (row.mixingMatrix) {
            const int matrix[9] = {200, 40, 16, 20, 220, 16, 0, 10, 246};
            std::copy(matrix, matrix + 9, c.s.colorMatrix);
        }
        std::vector<int> raw(12 * 10, row.flat);
        if (row.spike >= 0) raw[static_cast<size_t>(row.y) * 12 + row.x] = row.spike;
        const RawResult r = RunRaw(k, raw, c);
        ASSERT_EQ(r.rc, 0);
        EXPECT_EQ(r.out[static_cast<size_t>(row.y) * 12 + row.x], row.expected);
    }
    // A table entry above the sample range is held to it before the store.
    RawCase c;
    c.width = c.height = 4;
    c.tableOn = true;
    for (auto& t : c.tables) t.assign(256, 4095);
    EXPECT_EQ(RunRaw(kRawKernels[0], std::vector<int>(16, 7), c).out, std::vector<int>(16, 255));
    EXPECT_EQ(RunRaw(kRawKernels[1], std::vector<int>(16, 7), c).out, std::vector<int>(16, 4080));
}

TEST(RawKernels, RefusedFramesTouchNothing) {
    struct Row {
        const char* what;
        int width, height;
        uint32_t mediaType;
        int totalLess;
        int tableSize;
        int status;
    };
    const Row rows[] = {
        {"odd width", 7, 4, 0, 0, 0, CAMERA_STATUS_NOT_SUPPORTED},
        {"odd height", 8, 5, 0, 0, 0, CAMERA_STATUS_NOT_SUPPORTED},
        {"empty", 0, 4, 0, 0, 0, CAMERA_STATUS_NOT_SUPPORTED},
        {"other Bayer order", 8, 4, 0x01080009u, 0, 0, CAMERA_STATUS_NOT_SUPPORTED},
        {"short frame", 8, 4, 0, 1, 0, CAMERA_STATUS_DATA_INVALID},
        {"table of the wrong size", 8, 4, 0, 0, 1024, CAMERA_STATUS_PARAMETER_MISMATCH},
    };
    for (const RawKernelInfo& k : kRawKernels)
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(k.name) + ": " + row.what);
            RawCase c;
            c.width = row.width;
            c.height = row.height;
            if (row.tableSize) {
                c.tableOn = true;
                for (auto& t : c.tables) t.assign(row.tableSize, 0);
            }
            uint32_t media = row.mediaType;
            if (media && k.inBytes == 2) media = 0x01100011u;
            const RawResult r =
                RunRaw(k, std::vector<int>(row.width * row.height, 9), c, media, row.totalLess);
            EXPECT_EQ(r.rc, row.status);
            EXPECT_TRUE(
                std::all_of(r.bytes.begin(), r.bytes.end(), [](uint8_t b) { return b == kFill; }));
        }
}

// ---- Tests: YUV 4:2:2 ---------------------------------------------------------------------------

std::vector<uint8_t> YuvModel(const std::vector<uint8_t>& in, int W, int H, uint32_t format,
                              bool mono) {
    const int bpp = static_cast<int>(CAMERA_MEDIA_TYPE_BITS(format) / 8);
    std::vector<uint8_t> out(static_cast<size_t>(W) * H * bpp);
    const bool integer = format == CAMERA_MEDIA_TYPE_RGB8 || format == CAMERA_MEDIA_TYPE_BGRA8;
    const bool rgb = (format & 0xFF) == 0x14;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const uint8_t* g = &in[(static_cast<size_t>(y) * W + (x & ~1)) * 2];
            const int Y = g[1 + 2 * (x & 1)], U = g[0] - 128, V = g[2] - 128;
            uint8_t* p = &out[(static_cast<size_t>(y) * W + x) * bpp];
            if (bpp == 1) {
                p[0] = static_cast<uint8_t>(Y);
                continue;
            }
            int r = Y, gg = Y, b = Y;
            if (!mono && integer) {
                r = Y + ((360 * V) >> 8);
                gg = Y - ((88 * U) >> 8) - ((184 * V) >> 8);
                b = Y + ((455 * U) >> 8);
            } else if (!mono) {
                r = Y + static_cast<int>(std::trunc(1.4025 * V));
                gg = Y - static_cast<int>(std::trunc(0.3443 * U)) -
                     static_cast<int>(std::trunc(0.7144 * V));
                b = Y + static_cast<int>(std::trunc(1.773 * U));
            }
            auto c8 = [](int v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); };
            p[0] = c8(rgb ? r : b);
            p[1] = c8(gg);
            p[2] = c8(rgb ? b : r);
            if (bpp == 4) p[3] = 255;
        }
    return out;
}

struct YuvResult {
    int rc;
    std::vector<uint8_t> out;
    stImageInfo outInfo;
};

qvtest::GuardedBuffer g_yuvIn;
qvtest::GuardedBuffer g_yuvOut;

// One frame through the kernel in `family`, the input and the output each ending right before
// a guard page.
YuvResult RunYuv(const std::vector<uint8_t>& in, int W, int H, uint32_t format, bool mono = false,
                 KernelFamily family = ActiveKernelFamily()) {
    YuvResult r{};
    const qvtest::ScopedKernelFamily scope(family);
    EXPECT_TRUE(scope.Runs());
    stImageInfo info{};
    info.iWidth = static_cast<UINT>(W);
    info.iHeight = static_cast<UINT>(H);
    info.TotalBytes = static_cast<UINT>(in.size());
    info.uiMediaType = kYuv;
    const int bpp = std::max(1, static_cast<int>((format >> 16) & 0xFF) / 8);
    const size_t outSize = static_cast<size_t>(W) * H * bpp;
    uint8_t* out = g_yuvOut.Place(outSize);
    std::memset(out, kFill, outSize);
    std::memset(&r.outInfo, 0x77, sizeof r.outInfo);
    uint8_t* copy = g_yuvIn.Place(in.size());
    std::memcpy(copy, in.data(), in.size());
    IspFrame frame{&info, copy, &r.outInfo, out, 7};
    ColourSettings s;
    s.ispOutFormat = format;
    s.monochrome = mono;
    r.rc = ProcessYuv422(frame, s);
    EXPECT_EQ(frame.demosaicKind, 7);  // left alone
    r.out.assign(out, out + outSize);
    return r;
}

// The vector conversion in each instruction-set family.
class Yuv422Family : public ::testing::TestWithParam<KernelFamily> {
  protected:
    void SetUp() override {
        if (!KernelFamilySupported(GetParam()))
            GTEST_SKIP() << "no " << KernelFamilyName(GetParam()) << " on this processor";
    }
};

TEST_P(Yuv422Family, EveryFormatMatchesTheModelOnTheTableOfShapes) {
    std::mt19937 rng(9);
    const uint32_t formats[] = {CAMERA_MEDIA_TYPE_MONO8, CAMERA_MEDIA_TYPE_RGB8,
                                CAMERA_MEDIA_TYPE_BGR8, CAMERA_MEDIA_TYPE_RGBA8,
                                CAMERA_MEDIA_TYPE_BGRA8};
    for (int W : qvtest::kShapeWidths) {
        if (W % 2 != 0) continue;  // pairs of pixels
        for (int H : {1, 3, 9})
            for (uint32_t format : formats)
                for (bool mono : {false, true}) {
                    std::vector<uint8_t> in(static_cast<size_t>(W) * H * 2);
                    for (auto& b : in) b = static_cast<uint8_t>(rng());
                    const YuvResult r = RunYuv(in, W, H, format, mono, GetParam());
                    ASSERT_EQ(r.rc, 0);
                    EXPECT_EQ(r.out, YuvModel(in, W, H, format, mono))
                        << std::hex << format << std::dec << " mono " << mono << " " << W << "x"
                        << H;
                    EXPECT_EQ(r.outInfo.uiMediaType, format);
                }
    }
}

// Every combination of U and V, in every format: the conversion's arithmetic is exact for all.
TEST_P(Yuv422Family, EveryChromaValue) {
    constexpr int W = 512, H = 256;
    std::vector<uint8_t> in(static_cast<size_t>(W) * H * 2);
    for (int y = 0; y < H; ++y)
        for (int p = 0; p < W / 2; ++p) {
            uint8_t* g = &in[(static_cast<size_t>(y) * W + 2 * p) * 2];
            g[0] = static_cast<uint8_t>(p);
            g[1] = static_cast<uint8_t>(p * 7 + y);
            g[2] = static_cast<uint8_t>(y);
            g[3] = static_cast<uint8_t>(255 - p + y * 3);
        }
    for (uint32_t format : {CAMERA_MEDIA_TYPE_RGB8, CAMERA_MEDIA_TYPE_BGR8, CAMERA_MEDIA_TYPE_RGBA8,
                            CAMERA_MEDIA_TYPE_BGRA8, CAMERA_MEDIA_TYPE_MONO8}) {
        const YuvResult r = RunYuv(in, W, H, format, false, GetParam());
        ASSERT_EQ(r.rc, 0);
        EXPECT_EQ(r.out, YuvModel(in, W, H, format, false)) << std::hex << format;
    }
}

INSTANTIATE_TEST_SUITE_P(Families, Yuv422Family,
                         ::testing::Values(KernelFamily::kSse41, KernelFamily::kAvx2),
                         [](const auto& info) {
                             return std::string(info.param == KernelFamily::kAvx2 ? "Avx2"
                                                                                  : "Sse41");
                         });

TEST(Yuv422, WorkedNumbers) {
    // Y 250 and V 200: red clamps to 255 in both forms.
    const std::vector<uint8_t> bright = {128, 250, 200, 250};
    EXPECT_EQ(RunYuv(bright, 2, 1, CAMERA_MEDIA_TYPE_RGB8).out[0], 255);
    EXPECT_EQ(RunYuv(bright, 2, 1, CAMERA_MEDIA_TYPE_BGR8).out[2], 255);
    // V' = -1: the integer form shifts -360 down to -2, the floating form truncates -1.4025 to
    // -1, so RGB8 and BGR8 of the same frame differ in red by one.
    const std::vector<uint8_t> pair = {128, 100, 127, 100};
    EXPECT_EQ(RunYuv(pair, 2, 1, CAMERA_MEDIA_TYPE_RGB8).out[0], 98);
    EXPECT_EQ(RunYuv(pair, 2, 1, CAMERA_MEDIA_TYPE_BGR8).out[2], 99);
    EXPECT_EQ(RunYuv(pair, 2, 1, CAMERA_MEDIA_TYPE_RGBA8).out[0], 99);
    EXPECT_EQ(RunYuv(pair, 2, 1, CAMERA_MEDIA_TYPE_BGRA8).out[2], 98);
    // Grey output carries Y0, Y1.
    const std::vector<uint8_t> two = {10, 20, 30, 40};
    const YuvResult grey = RunYuv(two, 2, 1, CAMERA_MEDIA_TYPE_MONO8);
    EXPECT_EQ(grey.out[0], 20);
    EXPECT_EQ(grey.out[1], 40);
}

TEST(Yuv422, RefusedFramesTouchNothing) {
    const std::vector<uint8_t> in(8 * 2 * 2, 100);
    for (uint32_t format : {0x01080008u, 0x01100010u, 0x01100005u, 0x02180000u}) {
        const YuvResult r = RunYuv(in, 8, 2, format);
        EXPECT_EQ(r.rc, CAMERA_STATUS_NOT_SUPPORTED) << std::hex << format;
        EXPECT_TRUE(std::all_of(r.out.begin(), r.out.end(), [](uint8_t b) { return b == kFill; }));
    }
    EXPECT_EQ(RunYuv(std::vector<uint8_t>(7 * 2 * 2, 1), 7, 2, CAMERA_MEDIA_TYPE_RGB8).rc,
              CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(RunYuv(std::vector<uint8_t>(8 * 2 * 2 - 1, 1), 8, 2, CAMERA_MEDIA_TYPE_RGB8).rc,
              CAMERA_STATUS_DATA_INVALID);
    IspFrame nothing{};
    ColourSettings s;
    s.ispOutFormat = CAMERA_MEDIA_TYPE_RGB8;
    EXPECT_EQ(ProcessYuv422(nothing, s), CAMERA_STATUS_PARAMETER_INVALID);
}

}  // namespace
