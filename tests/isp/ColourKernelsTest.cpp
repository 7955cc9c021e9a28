// The four colour kernels against the per-pixel models of ColourReference, on a table of frame
// shapes and a grid of settings, with guard pages after the raw frame and the output; the
// worked numbers of the rules as one table; and the frames the kernels refuse.
#include <gtest/gtest.h>
#include <cfenv>

#include <algorithm>
#include <array>
#include <functional>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "CameraISP.h"
#include "ColourKernels.h"
#include "ColourReference.h"
#include "KernelTestSupport.h"
#include "LutTables.h"
#include "control/CameraSettings.h"

using namespace qv::isp;

namespace {

constexpr uint32_t kBayer8 = 0x01080008u;
constexpr uint32_t kBayer12 = 0x01100010u;
constexpr uint32_t kMono8 = 0x01080000u;
constexpr uint32_t kFormats[] = {kMono8, CAMERA_MEDIA_TYPE_RGB8, CAMERA_MEDIA_TYPE_BGR8,
                                 CAMERA_MEDIA_TYPE_RGBA8, CAMERA_MEDIA_TYPE_BGRA8};
constexpr uint8_t kFill = 0xCD;

using Kernel = int (*)(IspFrame&, const ColourSettings&, const ColourLuts&, IspFrameStatistics&,
                       IspWorkBuffers&);

struct KernelInfo {
    const char* name;
    Kernel kernel;
    int sampleBytes;
    bool vector;
    KernelFamily family;  // the instruction set of a vector kernel
};

// Every kernel in every family: the vector ones in SSE4.1 and AVX2, and the scalar ones.
const KernelInfo kKernels[] = {
    {"ProcessBayer8", &ProcessBayer8, 1, true, KernelFamily::kSse41},
    {"ProcessBayer16", &ProcessBayer16, 2, true, KernelFamily::kSse41},
    {"ProcessBayer8Scalar", &ProcessBayer8Scalar, 1, false, KernelFamily::kSse41},
    {"ProcessBayer16Scalar", &ProcessBayer16Scalar, 2, false, KernelFamily::kSse41},
    {"ProcessBayer8Avx2", &ProcessBayer8, 1, true, KernelFamily::kAvx2},
    {"ProcessBayer16Avx2", &ProcessBayer16, 2, true, KernelFamily::kAvx2},
};

// Whether this processor runs the kernel's family.
bool Runs(const KernelInfo& k) {
    return KernelFamilySupported(k.family);
}

qvtest::GuardedBuffer g_rawBuffer;
qvtest::GuardedBuffer g_outBuffer;

struct Case {
    int width = 0;
    int height = 0;
    uint32_t format = CAMERA_MEDIA_TYPE_BGR8;
    colourref::Settings s;
};

struct Result {
    int rc = 0;
    std::vector<uint8_t> out;
    std::vector<int> rawAfter;
    stImageInfo outInfo{};
    IspFrameStatistics stats;
    int demosaicKind = 0;
};

int BytesPerPixelOf(uint32_t format) {
    return static_cast<int>((format >> 16) & 0xFF) / 8;
}

// Completes the model's settings from the output format.
void SetFormat(Case& c, uint32_t format) {
    c.format = format;
    c.s.bytesPerPixel = BytesPerPixelOf(format);
    c.s.rgbOrder = (format & 0xFF) == 0x14;
}

ColourSettings KernelSettings(const Case& c) {
    ColourSettings k;
    k.sharpness = c.s.sharpness;
    k.saturation = c.s.saturation;
    k.contrast = c.s.contrast;
    k.mirrorH = c.s.mirrorH;
    k.mirrorV = c.s.mirrorV;
    k.monochrome = c.s.monochrome;
    k.blackOffset = c.s.blackOffset;
    k.deadPixel = c.s.deadPixel;
    k.monoCamera = c.s.monoCamera;
    k.ispOutFormat = c.format;
    std::copy(c.s.matrix, c.s.matrix + 9, k.colorMatrix);
    k.redGain = c.s.gains[0];
    k.greenGain = c.s.gains[1];
    k.blueGain = c.s.gains[2];
    return k;
}

Result RunKernel(const KernelInfo& k, const std::vector<int>& raw, const Case& c,
                 IspWorkBuffers* work = nullptr, uint32_t mediaType = 0, UINT totalBytes = 0) {
    Result r;
    const qvtest::ScopedKernelFamily family(k.family);
    EXPECT_TRUE(family.Runs()) << k.name;
    const size_t rawSize = raw.size() * k.sampleBytes;
    uint8_t* rawData = g_rawBuffer.Place(rawSize);
    for (size_t i = 0; i < raw.size(); ++i) {
        if (k.sampleBytes == 1) {
            rawData[i] = static_cast<uint8_t>(raw[i]);
        } else {
            const uint16_t v = static_cast<uint16_t>(raw[i]);
            std::memcpy(rawData + 2 * i, &v, 2);
        }
    }
    const int bpp = std::max(1, BytesPerPixelOf(c.format));
    const size_t outSize = static_cast<size_t>(c.width) * c.height * bpp;
    uint8_t* outData = g_outBuffer.Place(outSize);
    std::memset(outData, kFill, outSize);
    stImageInfo in{};
    in.iWidth = static_cast<UINT>(c.width);
    in.iHeight = static_cast<UINT>(c.height);
    in.TotalBytes = totalBytes != 0 ? totalBytes : static_cast<UINT>(rawSize);
    in.uiMediaType = mediaType != 0 ? mediaType : (k.sampleBytes == 2 ? kBayer12 : kBayer8);
    in.ExpTime = 5000;
    std::memset(&r.outInfo, 0x77, sizeof r.outInfo);
    IspFrame frame{&in, rawData, &r.outInfo, outData, 0};
    auto view = [&](int ch) {
        LutView v;
        v.table = c.s.tables[ch].empty() ? nullptr : c.s.tables[ch].data();
        v.size = static_cast<uint32_t>(c.s.tables[ch].size());
        v.inEffect = c.s.tableOn;
        return v;
    };
    const ColourLuts luts{view(0), view(1), view(2)};
    r.stats.redMean = c.s.redMean;
    r.stats.green1Mean = c.s.green1Mean;
    r.stats.green2Mean = c.s.green2Mean;
    r.stats.blueMean = c.s.blueMean;
    IspWorkBuffers local;
    r.rc = k.kernel(frame, KernelSettings(c), luts, r.stats, work ? *work : local);
    r.demosaicKind = frame.demosaicKind;
    r.out.assign(outData, outData + outSize);
    r.rawAfter.resize(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        if (k.sampleBytes == 1) {
            r.rawAfter[i] = rawData[i];
        } else {
            uint16_t v;
            std::memcpy(&v, rawData + 2 * i, 2);
            r.rawAfter[i] = v;
        }
    }
    return r;
}

std::string Describe(const KernelInfo& k, const Case& c) {
    char buf[400];
    std::snprintf(buf, sizeof buf,
                  "%s (%s) %dx%d out=%08x sharp=%d sat=%d contrast=%d mirror=%d/%d mono=%d dpc=%d "
                  "monoCam=%d lut=%d gains=%u/%u/%u stats=%d/%d/%d/%d",
                  k.name, k.vector ? KernelFamilyName(k.family) : "scalar", c.width, c.height,
                  c.format, c.s.sharpness, c.s.saturation, c.s.contrast, c.s.mirrorH, c.s.mirrorV,
                  c.s.monochrome, c.s.deadPixel, c.s.monoCamera, c.s.tableOn, c.s.gains[0],
                  c.s.gains[1], c.s.gains[2], c.s.redMean, c.s.green1Mean, c.s.green2Mean,
                  c.s.blueMean);
    return buf;
}

// The kernel against its model; a vector kernel in each family the processor runs, against the
// one model (which is what costs the time).
void ExpectMatchesModel(const KernelInfo& kernel, const std::vector<int>& raw, const Case& c) {
    colourref::Frame f{c.width, c.height, kernel.sampleBytes, raw};
    const std::vector<uint8_t> expected =
        kernel.vector ? colourref::RunVector(f, c.s) : colourref::RunScalar(f, c.s);
    for (const KernelInfo& k : kKernels) {
        if (k.kernel != kernel.kernel || !Runs(k)) continue;
        const Result got = RunKernel(k, raw, c);
        ASSERT_EQ(got.rc, 0) << Describe(k, c);
        ASSERT_EQ(got.rawAfter, f.raw) << "raw frame after correction: " << Describe(k, c);
        const int bpp = BytesPerPixelOf(c.format);
        if (got.out != expected) {
            size_t i = 0;
            while (got.out[i] == expected[i]) ++i;
            const size_t px = i / bpp;
            FAIL() << Describe(k, c) << ": first difference at output row " << px / c.width
                   << " pixel " << px % c.width << " byte " << i % bpp << ": " << int(got.out[i])
                   << " instead of " << int(expected[i]);
        }
        EXPECT_EQ(got.outInfo.TotalBytes, static_cast<UINT>(c.width * c.height * bpp));
        EXPECT_EQ(got.outInfo.uiMediaType, c.format);
        EXPECT_EQ(got.outInfo.iWidth, static_cast<UINT>(c.width));
        EXPECT_EQ(got.stats.greenPivot, (c.s.green1Mean + c.s.green2Mean) / 2);
        EXPECT_EQ(got.demosaicKind, c.s.monoCamera ? 3 : 4);
    }
}

// Scenes of a few colours with noise, bright spikes, hot cells and grey areas where red and
// blue meet, so that every condition of the green balance and the dead-pixel test occurs.
std::vector<int> RandomFrame(std::mt19937& rng, int W, int H, int sampleBytes) {
    std::vector<int> raw(static_cast<size_t>(W) * H);
    const int palette[][3] = {{120, 60, 200}, {40, 45, 40},    {210, 220, 230},
                              {90, 150, 92},  {250, 250, 250}, {10, 200, 15}};
    std::uniform_int_distribution<int> noise(-9, 9);
    std::uniform_int_distribution<int> kind(0, 99);
    std::uniform_int_distribution<int> any(0, 255);
    for (int y = 0; y < H; y += 2)
        for (int x = 0; x < W; x += 2) {
            const int* p = palette[((x / 16) + (y / 6) * 3) % 6];
            const int base[4] = {p[1], p[0], p[2], p[1]};  // G1, R, B, G2
            for (int i = 0; i < 4; ++i) {
                const int k = kind(rng);
                int v = std::clamp(base[i] + noise(rng), 0, 255);
                if (k < 3) v = any(rng);
                if (k == 3) v = 255;
                int stored = v;
                if (sampleBytes == 2) {
                    stored = v * 16 + (any(rng) & 15);
                    if (kind(rng) == 0) stored = 4096 + any(rng) * 240;  // beyond 12 bits
                }
                const int sx = x + i % 2, sy = y + i / 2;
                if (sx < W && sy < H) raw[static_cast<size_t>(sy) * W + sx] = stored;
            }
        }
    return raw;
}

template <class T>
T Pick(std::mt19937& rng, std::initializer_list<T> values) {
    std::vector<T> v(values);
    return v[std::uniform_int_distribution<size_t>(0, v.size() - 1)(rng)];
}

void RandomTables(std::mt19937& rng, Case& c, int sampleBytes) {
    const int n = sampleBytes == 2 ? 4096 : 256;
    for (auto& t : c.s.tables) {
        t.resize(n);
        // A rising curve with noise: realistic enough, and every entry differs.
        for (int i = 0; i < n; ++i)
            t[i] = static_cast<uint16_t>(
                std::clamp(i + std::uniform_int_distribution<int>(-n / 8, n / 8)(rng), 0, n - 1));
    }
}

Case RandomCase(std::mt19937& rng, const KernelInfo& k, int W, int H) {
    Case c;
    c.width = W;
    c.height = H;
    c.s.sharpness = Pick(rng, {0, 0, 10, 25, 100, 7000});
    if (H < 8) c.s.sharpness = 0;
    c.s.saturation = Pick(rng, {0, 128, 128, 160, 77});
    c.s.contrast = Pick(rng, {50, 50, 51, 100, 60, 27, 0});
    c.s.mirrorH = Pick(rng, {false, true});
    c.s.mirrorV = Pick(rng, {false, true});
    c.s.monochrome = Pick(rng, {false, false, false, true});
    c.s.deadPixel = Pick(rng, {false, true});
    c.s.monoCamera = Pick(rng, {false, false, false, true});
    const uint32_t gainSets[][3] = {{100, 100, 100}, {150, 100, 60},  {50, 50, 50},
                                    {95, 100, 100},  {400, 123, 250}, {0, 0, 0}};
    const auto& g = gainSets[std::uniform_int_distribution<int>(0, 5)(rng)];
    std::copy(g, g + 3, c.s.gains);
    const int matrices[][9] = {{256, 0, 0, 0, 256, 0, 0, 0, 256},
                               {310, -40, -14, -30, 300, -14, -6, -60, 322},
                               {200, 40, 16, 20, 220, 16, 0, 10, 246}};
    const auto& m = matrices[std::uniform_int_distribution<int>(0, 2)(rng)];
    std::copy(m, m + 9, c.s.matrix);
    c.s.tableOn = Pick(rng, {false, true});
    RandomTables(rng, c, k.sampleBytes);
    std::uniform_int_distribution<int> mean(0, 255);
    c.s.redMean = mean(rng);
    c.s.green1Mean = mean(rng);
    c.s.green2Mean = mean(rng);
    c.s.blueMean = mean(rng);
    SetFormat(c, kFormats[std::uniform_int_distribution<int>(0, 4)(rng)]);
    return c;
}

// ---- Against the models ------------------------------------------------------------------------

class ColourKernelModel : public ::testing::TestWithParam<int> {};

// Every shape of the table, every output format, every mirror (the frames 1024 rows high once).
TEST_P(ColourKernelModel, FrameShapesFormatsAndMirrors) {
    const KernelInfo& k = kKernels[GetParam()];
    if (!Runs(k)) GTEST_SKIP() << "no " << KernelFamilyName(k.family) << " on this processor";
    std::mt19937 rng(700u + static_cast<unsigned>(GetParam()));
    // The table of shapes (even widths from 12), and 1280.
    std::vector<int> widths = {1280};
    for (int W : qvtest::kShapeWidths)
        if (W >= 12 && W % 2 == 0) widths.push_back(W);
    // Two to seven row pairs: the last pair lands in each slot of the ring of three pairs and,
    // from eight rows (where sharpening may be on), of the ring of four.
    const int heights[] = {4, 6, 8, 10, 12, 14, 1024};
    for (int W : widths)
        for (int H : heights) {
            const bool large = H >= 1024;
            const std::vector<int> raw = RandomFrame(rng, W, H, k.sampleBytes);
            // Frames 1024 rows high: one run, with a format of its own and both mirrors.
            for (int mirror = 0; mirror < 4; ++mirror)
                for (uint32_t format : kFormats) {
                    if (large && !(mirror == 3 && format == kFormats[(W + GetParam()) % 5]))
                        continue;
                    Case c = RandomCase(rng, k, W, H);
                    SetFormat(c, format);
                    c.s.mirrorH = mirror & 1;
                    c.s.mirrorV = (mirror & 2) != 0;
                    ExpectMatchesModel(k, raw, c);
                    if (HasFatalFailure()) return;
                }
        }
}

// The grid of settings on a frame with a partial last group (68 = 4 mod 8).
TEST_P(ColourKernelModel, SettingsGrid) {
    const KernelInfo& k = kKernels[GetParam()];
    if (!Runs(k)) GTEST_SKIP() << "no " << KernelFamilyName(k.family) << " on this processor";
    std::mt19937 rng(900u + static_cast<unsigned>(GetParam()));
    const std::vector<int> raw = RandomFrame(rng, 68, 10, k.sampleBytes);
    const uint32_t gainSets[][3] = {{100, 100, 100}, {140, 100, 70}, {50, 50, 50}};
    for (const auto& gains : gainSets)
        for (int saturation : {0, 128, 160})
            for (int contrast : {50, 51, 100})
                for (int sharpness : {0, 10, 100})
                    for (int flags = 0; flags < 8; ++flags) {
                        Case c = RandomCase(rng, k, 68, 10);
                        std::copy(gains, gains + 3, c.s.gains);
                        c.s.saturation = saturation;
                        c.s.contrast = contrast;
                        c.s.sharpness = sharpness;
                        c.s.tableOn = flags & 1;
                        c.s.deadPixel = (flags & 2) != 0;
                        c.s.monoCamera = (flags & 4) != 0;
                        ExpectMatchesModel(k, raw, c);
                        if (HasFatalFailure()) return;
                    }
}

// The four kernels; each vector kernel runs in every family inside the test.
INSTANTIATE_TEST_SUITE_P(Kernels, ColourKernelModel, ::testing::Range(0, 4),
                         [](const auto& info) { return std::string(kKernels[info.param].name); });

// Mirrored and unmirrored output of the same frame are exact mirror images at every width.
TEST(ColourKernels, MirroredOutputIsTheExactMirrorImage) {
    std::mt19937 rng(5);
    for (const KernelInfo& k : kKernels) {
        if (!Runs(k)) continue;
        for (int W = 12; W <= 70; W += 2) {
            const std::vector<int> raw = RandomFrame(rng, W, 8, k.sampleBytes);
            Case c = RandomCase(rng, k, W, 8);
            SetFormat(c, CAMERA_MEDIA_TYPE_RGB8);
            c.s.mirrorH = c.s.mirrorV = false;
            const Result plain = RunKernel(k, raw, c);
            c.s.mirrorH = c.s.mirrorV = true;
            const Result mirrored = RunKernel(k, raw, c);
            ASSERT_EQ(plain.rc, 0);
            ASSERT_EQ(mirrored.rc, 0);
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < W; ++x)
                    for (int b = 0; b < 3; ++b)
                        ASSERT_EQ(
                            plain.out[(static_cast<size_t>(y) * W + x) * 3 + b],
                            mirrored.out[(static_cast<size_t>(7 - y) * W + W - 1 - x) * 3 + b])
                            << k.name << " width " << W << " at " << x << "," << y;
        }
    }
}

// The results do not depend on the caller's rounding mode: the single-precision steps round
// with explicit modes.
TEST(ColourKernels, ResultsDoNotFollowTheCallersRoundingMode) {
    std::mt19937 rng(21);
    for (size_t k = 0; k < std::size(kKernels); ++k) {
        if (!Runs(kKernels[k])) continue;
        const std::vector<int> raw = RandomFrame(rng, 36, 10, kKernels[k].sampleBytes);
        Case c = RandomCase(rng, kKernels[k], 36, 10);
        c.s.contrast = 73;
        c.s.gains[0] = 150;
        c.s.gains[1] = 250;
        c.s.gains[2] = 350;
        const Result plain = RunKernel(kKernels[k], raw, c);
        for (int mode : {FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
            ASSERT_EQ(std::fesetround(mode), 0);
            const Result other = RunKernel(kKernels[k], raw, c);
            std::fesetround(FE_TONEAREST);
            ASSERT_EQ(other.rc, 0);
            EXPECT_EQ(other.out, plain.out) << kKernels[k].name << " rounding mode " << mode;
        }
    }
}

// Frames of a steady size allocate nothing once the work buffers have grown.
TEST(ColourKernels, WorkBuffersGrowOnceAndNeverShrink) {
    std::mt19937 rng(8);
    IspWorkBuffers work;
    Case big = RandomCase(rng, kKernels[0], 68, 12);
    big.s.sharpness = 10;
    const std::vector<int> bigRaw = RandomFrame(rng, 68, 12, 1);
    ASSERT_EQ(RunKernel(kKernels[0], bigRaw, big, &work).rc, 0);
    const uint16_t* ring = work.rowRing.data();
    const uint16_t* finished = work.finishedRows.data();
    const size_t ringSize = work.rowRing.size();
    Case small = RandomCase(rng, kKernels[0], 20, 8);
    ASSERT_EQ(RunKernel(kKernels[0], RandomFrame(rng, 20, 8, 1), small, &work).rc, 0);
    ASSERT_EQ(RunKernel(kKernels[0], bigRaw, big, &work).rc, 0);
    EXPECT_EQ(work.rowRing.data(), ring);
    EXPECT_EQ(work.finishedRows.data(), finished);
    EXPECT_EQ(work.rowRing.size(), ringSize);
}

// ---- The worked numbers of the rules ---------------------------------------------------------

// A frame of the given size whose samples come from `sample(x, y)`, plain settings (identity
// matrix, saturation 128, gains 100, BGR8) changed by `edit`, through kernel k.
Result RunFrame(const KernelInfo& k, int W, int H, const std::function<int(int, int)>& sample,
                const std::function<void(Case&)>& edit) {
    Case c;
    c.width = W;
    c.height = H;
    SetFormat(c, CAMERA_MEDIA_TYPE_BGR8);
    edit(c);
    std::vector<int> raw(static_cast<size_t>(W) * H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) raw[static_cast<size_t>(y) * W + x] = sample(x, y);
    return RunKernel(k, raw, c);
}

// Red, green, blue of output pixel (x, y) of a BGR8 frame W pixels wide.
std::array<int, 3> Rgb(const Result& r, int W, int x, int y) {
    const uint8_t* p = &r.out[(static_cast<size_t>(y) * W + x) * 3];
    return {p[2], p[1], p[0]};
}

// The GRBG cell pattern g1, r, b, g2 repeated over the frame.
std::function<int(int, int)> Cells(int g1, int r, int b, int g2) {
    return [=](int x, int y) { return y % 2 == 0 ? (x % 2 == 0 ? g1 : r) : (x % 2 == 0 ? b : g2); };
}

struct Worked {
    const char* what;
    int kernel;  // index into kKernels
    int width, height;
    std::function<int(int, int)> sample;
    std::function<void(Case&)> edit;
    int x, y;                     // the probed output pixel
    std::array<int, 3> expected;  // its red, green, blue
};

TEST(ColourKernels, WorkedNumbers) {
    auto none = [](Case&) {};
    auto gains = [](uint32_t r, uint32_t g, uint32_t b) {
        return [=](Case& c) {
            c.s.gains[0] = r;
            c.s.gains[1] = g;
            c.s.gains[2] = b;
        };
    };
    auto flat = [](int v) { return [=](int, int) { return v; }; };
    auto spike = [](int x0, int y0, int v, int rest) {
        return [=](int x, int y) { return x == x0 && y == y0 ? v : rest; };
    };
    auto contrast = [](int value, int red, int green, int blue) {
        return [=](Case& c) {
            c.s.contrast = value;
            c.s.redMean = red;
            c.s.green1Mean = c.s.green2Mean = green;
            c.s.blueMean = blue;
        };
    };
    auto sharpness = [](int v) { return [=](Case& c) { c.s.sharpness = v; }; };
    auto greenSpike = [](int x, int y) {
        return x == 6 && y == 4 ? 100 : Cells(50, 150, 0, 50)(x, y);
    };
    const Worked rows[] = {
        // Gains 50, 50, 50: c = 64, F = 192; 200 x 50 % = 100 after the matrix becomes 150.
        {"compensation 50/50/50", 0, 16, 8, flat(200), gains(50, 50, 50), 6, 4, {150, 150, 150}},
        {"compensation 50/50/50, scalar",
         2,
         16,
         8,
         flat(200),
         gains(50, 50, 50),
         6,
         4,
         {150, 150, 150}},
        // Gains 95, 100, 100: the scalar percentage is 101; the vector exponent 1 does nothing.
        {"compensation 95/100/100", 0, 16, 8, flat(100), gains(95, 100, 100), 7, 4, {95, 100, 100}},
        {"compensation 95/100/100, scalar",
         2,
         16,
         8,
         flat(100),
         gains(95, 100, 100),
         7,
         4,
         {95, 101, 101}},
        // Green gain on a green sample of 1 (an interior green site keeps the cell's green).
        {"gain 1.5 rounds to 2", 0, 16, 8, flat(1), gains(100, 150, 100), 6, 4, {1, 2, 1}},
        {"gain 2.5 rounds to 2", 0, 16, 8, flat(1), gains(100, 250, 100), 6, 4, {1, 2, 1}},
        {"gain 3.5 rounds to 4", 0, 16, 8, flat(1), gains(100, 350, 100), 6, 4, {1, 4, 1}},
        {"gain 1.5 truncates to 1, scalar",
         2,
         16,
         8,
         flat(1),
         gains(100, 150, 100),
         6,
         4,
         {1, 1, 1}},
        // Green balance, seen in the first row pair: (R, G1, B) above, (R, G2, B) below.
        {"greens 100/105 -> 103", 0, 16, 8, Cells(100, 50, 200, 105), none, 0, 0, {50, 103, 200}},
        {"greens 100/105 -> 103, second row",
         0,
         16,
         8,
         Cells(100, 50, 200, 105),
         none,
         0,
         1,
         {50, 103, 200}},
        {"greens 100/111 -> 106", 0, 16, 8, Cells(100, 50, 200, 111), none, 0, 1, {50, 106, 200}},
        {"greens 100/113 stay", 0, 16, 8, Cells(100, 50, 200, 113), none, 0, 1, {50, 113, 200}},
        {"no green balance, scalar",
         2,
         16,
         8,
         Cells(100, 50, 200, 105),
         none,
         1,
         1,
         {50, 105, 200}},
        // A red sample of 200 among 100s: A = 112, d = 88 (vector); mean 111 (scalar).
        {"sharpness 10: 200 -> 235",
         0,
         32,
         16,
         spike(13, 6, 200, 100),
         sharpness(10),
         13,
         6,
         {235, 100, 100}},
        {"sharpness 25: 200 -> 255",
         0,
         32,
         16,
         spike(13, 6, 200, 100),
         sharpness(25),
         13,
         6,
         {255, 100, 100}},
        {"sharpness 10: 200 -> 245, scalar",
         2,
         32,
         16,
         spike(13, 6, 200, 100),
         sharpness(10),
         13,
         6,
         {245, 100, 100}},
        // Contrast 100 (factor 2) around a red mean of 100, green pivot 120, blue mean 80.
        {"contrast: interior grey 150 -> 198",
         0,
         16,
         8,
         flat(150),
         contrast(100, 100, 120, 80),
         6,
         4,
         {198, 198, 198}},
        {"contrast: border row channels",
         0,
         16,
         8,
         flat(150),
         contrast(100, 100, 120, 80),
         6,
         0,
         {200, 180, 220}},
        {"contrast: green site, scalar",
         2,
         16,
         8,
         flat(150),
         contrast(100, 100, 120, 80),
         6,
         4,
         {178, 178, 178}},
        {"contrast: red site, scalar",
         2,
         16,
         8,
         flat(150),
         contrast(100, 100, 120, 80),
         7,
         4,
         {198, 198, 198}},
        {"contrast: blue site, scalar",
         2,
         16,
         8,
         flat(150),
         contrast(100, 100, 120, 80),
         6,
         5,
         {218, 218, 218}},
        {"(255, 0, 0) at contrast 60",
         0,
         16,
         8,
         Cells(0, 255, 0, 0),
         contrast(60, 100, 0, 0),
         7,
         4,
         {247, 0, 0}},
        // Border cells: the green 20 of the pattern 10/200/50/30 on the red and blue sites.
        {"border cell, red site", 0, 16, 8, Cells(10, 200, 50, 30), none, 1, 2, {200, 20, 50}},
        {"border cell, blue site", 0, 16, 8, Cells(10, 200, 50, 30), none, 14, 3, {200, 20, 50}},
        {"border rows, scalar", 2, 16, 8, Cells(10, 200, 50, 30), none, 1, 0, {200, 20, 50}},
        // The left border cell of an inner row of the narrowest frames with a block of sixteen
        // on either side of it: each site keeps the cell's own values.
        {"border cell, G1 site, 18 wide",
         0,
         18,
         6,
         Cells(10, 200, 50, 30),
         none,
         0,
         2,
         {200, 10, 50}},
        {"border cell, blue site, 18 wide",
         0,
         18,
         6,
         Cells(10, 200, 50, 30),
         none,
         0,
         3,
         {200, 20, 50}},
        {"border cell, G2 site, 18 wide",
         0,
         18,
         6,
         Cells(10, 200, 50, 30),
         none,
         1,
         3,
         {200, 30, 50}},
        {"border cell, G2 site, 20 wide",
         0,
         20,
         6,
         Cells(10, 200, 50, 30),
         none,
         1,
         3,
         {200, 30, 50}},
        // Green of a green site: own 100, diagonal greens 50 (red and blue far from the greens
        // and from each other, so the green balance leaves the cell alone).
        {"green site 100 among 50s", 0, 16, 8, greenSpike, none, 6, 4, {150, 75, 0}},
        {"green site 100 among 50s, scalar", 2, 16, 8, greenSpike, none, 6, 4, {150, 60, 0}},
        // 12-bit samples keep their top 8 bits; words beyond 12 bits count as 4095.
        {"4095 -> 255", 1, 16, 8, flat(4095), none, 6, 4, {255, 255, 255}},
        {"65535 -> 255", 1, 16, 8, flat(65535), none, 0, 0, {255, 255, 255}},
        {"4095 -> 255, scalar", 3, 16, 8, flat(4095), none, 6, 4, {255, 255, 255}},
    };
    for (const Worked& w : rows) {
        // A vector kernel's numbers hold in each family.
        for (int index : {w.kernel, w.kernel + 4}) {
            if (index >= static_cast<int>(std::size(kKernels)) || !Runs(kKernels[index]) ||
                (index != w.kernel && !kKernels[w.kernel].vector))
                continue;
            SCOPED_TRACE(std::string(w.what) + " " + kKernels[index].name);
            const Result r = RunFrame(kKernels[index], w.width, w.height, w.sample, w.edit);
            ASSERT_EQ(r.rc, 0);
            EXPECT_EQ(Rgb(r, w.width, w.x, w.y), w.expected);
        }
    }
}

// Dead-pixel correction in the raw frame: the vector threshold 30 in groups of eight, the
// scalar threshold 29 cell by cell.
TEST(ColourKernels, DeadPixelWorkedNumbers) {
    struct Row {
        const char* what;
        int kernel;
        std::vector<std::pair<int, int>> hot;  // column, value in row 8 of a flat frame
        int flat;
        std::vector<std::pair<int, int>> after;  // column, raw value afterwards
    };
    const Row rows[] = {
        {"200 among 100s", 0, {{16, 200}}, 100, {{16, 100}}},
        {"200 among 100s, 12-bit words", 1, {{16, 200}}, 100, {{16, 100}}},
        {"30 among zeros stays", 0, {{16, 30}}, 0, {{16, 30}}},
        {"31 among zeros", 0, {{16, 31}}, 0, {{16, 0}}},
        {"30 among zeros, scalar", 2, {{16, 30}}, 0, {{16, 0}}},
        {"29 among zeros stays, scalar", 2, {{16, 29}}, 0, {{16, 29}}},
        {"one group: 160 judged against the unreplaced 200",
         0,
         {{10, 200}, {12, 160}},
         100,
         {{10, 100}, {12, 160}}},
        {"two groups: both replaced", 0, {{14, 200}, {16, 160}}, 100, {{14, 100}, {16, 100}}},
        {"columns 0 to 7 are not tested", 0, {{6, 200}}, 100, {{6, 200}}},
        {"12-bit words are stored back whole", 1, {{16, 3000}}, 1000, {{16, 1000}}},
    };
    for (const Row& row : rows)
        for (int index : {row.kernel, row.kernel + 4}) {
            if (index >= static_cast<int>(std::size(kKernels)) || !Runs(kKernels[index]) ||
                (index != row.kernel && !kKernels[row.kernel].vector))
                continue;
            const KernelInfo& k = kKernels[index];
            SCOPED_TRACE(std::string(row.what) + " " + k.name);
            constexpr int W = 40, H = 16, Y = 8;
            Case c;
            c.width = W;
            c.height = H;
            SetFormat(c, CAMERA_MEDIA_TYPE_BGR8);
            c.s.deadPixel = true;
            std::vector<int> raw(static_cast<size_t>(W) * H, row.flat);
            for (auto [x, v] : row.hot) raw[static_cast<size_t>(Y) * W + x] = v;
            const Result r = RunKernel(k, raw, c);
            ASSERT_EQ(r.rc, 0);
            for (auto [x, v] : row.after) EXPECT_EQ(r.rawAfter[static_cast<size_t>(Y) * W + x], v);
            // Nothing else changed.
            for (int i = 0; i < W * H; ++i) {
                if (i / W != Y) {
                    ASSERT_EQ(r.rawAfter[i], row.flat);
                }
            }
        }
    // A hot sample in the first or last row pair stays.
    for (int y : {1, 14}) {
        Case c;
        c.width = 40;
        c.height = 16;
        SetFormat(c, CAMERA_MEDIA_TYPE_BGR8);
        c.s.deadPixel = true;
        std::vector<int> raw(40 * 16, 100);
        raw[static_cast<size_t>(y) * 40 + 16] = 200;
        for (const KernelInfo& k : kKernels) {
            if (!Runs(k)) continue;
            EXPECT_EQ(RunKernel(k, raw, c).rawAfter[static_cast<size_t>(y) * 40 + 16], 200)
                << k.name << " row " << y;
        }
    }
}

// ---- Refusals
// ------------------------------------------------------------------------------------

TEST(ColourKernels, RefusedFramesTouchNothing) {
    struct Row {
        const char* what;
        int width, height;
        uint32_t format;
        int sharpness;
        uint32_t mediaType;  // 0: the kernel's own
        int totalBytesLess;  // TotalBytes short by this many bytes
        int status;
    };
    const Row rows[] = {
        {"narrower than 12", 10, 8, CAMERA_MEDIA_TYPE_BGR8, 0, 0, 0, CAMERA_STATUS_NOT_SUPPORTED},
        {"lower than 4 rows", 16, 2, CAMERA_MEDIA_TYPE_BGR8, 0, 0, 0, CAMERA_STATUS_NOT_SUPPORTED},
        {"lower than 8 rows, sharpening", 16, 6, CAMERA_MEDIA_TYPE_BGR8, 10, 0, 0,
         CAMERA_STATUS_NOT_SUPPORTED},
        {"odd width", 17, 8, CAMERA_MEDIA_TYPE_BGR8, 0, 0, 0, CAMERA_STATUS_NOT_SUPPORTED},
        {"odd height", 16, 9, CAMERA_MEDIA_TYPE_BGR8, 0, 0, 0, CAMERA_STATUS_NOT_SUPPORTED},
        {"2 bytes per pixel", 16, 8, 0x01100005u, 0, 0, 0, CAMERA_STATUS_NOT_SUPPORTED},
        {"3 bytes, output id 0", 16, 8, 0x02180000u, 0, 0, 0, CAMERA_STATUS_NOT_SUPPORTED},
        {"4 bytes, output id 0", 16, 8, 0x02200000u, 0, 0, 0, CAMERA_STATUS_NOT_SUPPORTED},
        {"1 byte with a colour order", 16, 8, 0x01080015u, 0, 0, 0, CAMERA_STATUS_NOT_SUPPORTED},
        {"40-bit pixels", 16, 8, 0x02280014u, 0, 0, 0, CAMERA_STATUS_NOT_SUPPORTED},
        {"another Bayer order", 16, 8, CAMERA_MEDIA_TYPE_BGR8, 0, 0x01080009u, 0,
         CAMERA_STATUS_NOT_SUPPORTED},
        {"short frame", 16, 8, CAMERA_MEDIA_TYPE_BGR8, 0, 0, 1, CAMERA_STATUS_DATA_INVALID},
    };
    std::mt19937 rng(3);
    for (const KernelInfo& k : kKernels) {
        if (!Runs(k)) continue;
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(k.name) + ": " + row.what);
            Case c = RandomCase(rng, k, row.width, row.height);
            c.s.deadPixel = true;
            c.s.sharpness = row.sharpness;
            c.format = row.format;
            const std::vector<int> raw = RandomFrame(rng, row.width + 1, row.height, k.sampleBytes);
            const std::vector<int> frame(raw.begin(), raw.begin() + row.width * row.height);
            uint32_t media = row.mediaType;
            if (media != 0 && k.sampleBytes == 2) media = 0x01100011u;
            const UINT total =
                static_cast<UINT>(row.width * row.height * k.sampleBytes - row.totalBytesLess);
            const Result r = RunKernel(k, frame, c, nullptr, media, row.totalBytesLess ? total : 0);
            EXPECT_EQ(r.rc, row.status);
            EXPECT_EQ(r.rawAfter, frame);
            EXPECT_TRUE(
                std::all_of(r.out.begin(), r.out.end(), [](uint8_t b) { return b == kFill; }));
            const auto* info = reinterpret_cast<const uint8_t*>(&r.outInfo);
            EXPECT_TRUE(
                std::all_of(info, info + sizeof r.outInfo, [](uint8_t b) { return b == 0x77; }));
        }
    }
}

TEST(ColourKernels, NullBuffersAreRefused) {
    for (const KernelInfo& k : kKernels) {
        if (!Runs(k)) continue;
        std::vector<uint8_t> raw(16 * 8 * 2, 0), out(16 * 8 * 3, kFill);
        stImageInfo in{};
        in.iWidth = 16;
        in.iHeight = 8;
        in.TotalBytes = 16 * 8 * k.sampleBytes;
        in.uiMediaType = k.sampleBytes == 2 ? kBayer12 : kBayer8;
        stImageInfo outInfo{};
        ColourSettings s;
        IspFrameStatistics stats;
        IspWorkBuffers work;
        const ColourLuts luts{};
        const IspFrame frames[] = {{nullptr, raw.data(), &outInfo, out.data(), 0},
                                   {&in, nullptr, &outInfo, out.data(), 0},
                                   {&in, raw.data(), nullptr, out.data(), 0},
                                   {&in, raw.data(), &outInfo, nullptr, 0}};
        for (IspFrame f : frames)
            EXPECT_EQ(k.kernel(f, s, luts, stats, work), CAMERA_STATUS_PARAMETER_INVALID);
        EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == kFill; }));
    }
}

// ---- Through the pipeline object ---------------------------------------------------------------

// Colour frames through CameraISP::ProcessFrame: the camera's colour matrix, the frame's gains,
// saturation, the statistics pivots and a gamma curve reach the colour kernels, at level 6
// (vector) and level 4 (scalar), for both inputs and every output format.
TEST(CameraIspColour, FramesThroughTheObjectMatchTheModel) {
    std::mt19937 rng(11);
    constexpr int W = 36, H = 12;
    const int matrix[9] = {310, -40, -14, -30, 300, -14, -6, -60, 322};
    for (int level : {6, 4})
        for (uint32_t input : {kBayer8, kBayer12})
            for (uint32_t format : kFormats) {
                SCOPED_TRACE(::testing::Message() << "level " << level << " input " << std::hex
                                                  << input << " out " << format);
                CameraSettings cs;
                std::memset(&cs, 0, sizeof cs);
                cs.sharpness = 10;
                cs.saturation = 150;
                cs.contrast = 60;
                cs.ispOutFormat = format;
                cs.mirrorH = 1;
                cs.correctDeadPixel = 1;
                cs.lutMode = 0;
                cs.gamma = 60;
                cs.contrastLut = 100;
                std::copy(matrix, matrix + 9, cs.colorMatrix);
                CameraISP isp;
                ASSERT_EQ(isp.LoadParameter(cs, /*monoCamera=*/0, 0, input, level), 0);
                ASSERT_EQ(isp.SetFrameStatistics(90, 100, 110, 70), 0);

                const int sampleBytes = input == kBayer12 ? 2 : 1;
                const std::vector<int> raw = RandomFrame(rng, W, H, sampleBytes);
                std::vector<uint8_t> bytes(raw.size() * sampleBytes);
                for (size_t i = 0; i < raw.size(); ++i) {
                    const uint16_t v = static_cast<uint16_t>(raw[i]);
                    std::memcpy(&bytes[i * sampleBytes], &v, sampleBytes);
                }
                stImageInfo in{};
                in.iWidth = W;
                in.iHeight = H;
                in.TotalBytes = static_cast<UINT>(bytes.size());
                in.uiMediaType = input;
                stImageInfo outInfo{};
                std::vector<uint8_t> out(W * H * 4, kFill);
                ASSERT_EQ(isp.ProcessFrame(&in, bytes.data(), &outInfo, out.data(), 130, 100, 85),
                          0);

                colourref::Settings s;
                s.sharpness = 10;
                s.saturation = 150;
                s.contrast = 60;
                s.mirrorH = true;
                s.deadPixel = true;
                s.bytesPerPixel = BytesPerPixelOf(format);
                s.rgbOrder = (format & 0xFF) == 0x14;
                std::copy(matrix, matrix + 9, s.matrix);
                s.gains[0] = 130;
                s.gains[1] = 100;
                s.gains[2] = 85;
                s.redMean = 90;
                s.green1Mean = 100;
                s.green2Mean = 110;
                s.blueMean = 70;
                s.tableOn = true;
                std::vector<uint16_t> curve(4096);
                CLutTables::BuildGammaContrastLut(curve.data(), 60, 100);
                const uint32_t n = sampleBytes == 2 ? 4096 : 256;
                for (auto& t : s.tables) {
                    t.resize(n);
                    CLutTables::BuildChannelTable(curve.data(), t.data(), n);
                }
                colourref::Frame f{W, H, sampleBytes, raw};
                const std::vector<uint8_t> expected =
                    level >= 5 ? colourref::RunVector(f, s) : colourref::RunScalar(f, s);
                out.resize(expected.size());
                EXPECT_EQ(out, expected);
                EXPECT_EQ(outInfo.uiMediaType, format);
                EXPECT_EQ(isp.GetActiveSettings().demosaicKind, 4);
            }
}

}  // namespace
