// The four mono kernels against references written here from the kernels' rules, on random
// frames of awkward sizes, plus the edge cases of the rules themselves.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "KernelTestSupport.h"
#include "MonoKernels.h"

using namespace qv::isp;

namespace {

constexpr uint32_t kMono8 = CAMERA_MEDIA_TYPE_MONO8;
constexpr uint32_t kMono12 = CAMERA_MEDIA_TYPE_MONO12_16;
constexpr uint32_t kMono16Out = 0x01100005u;

using Kernel = int (*)(IspFrame&, const MonoSettings&, const LutView&, IspFrameStatistics&,
                       IspWorkBuffers&);

struct KernelInfo {
    const char* name;
    Kernel kernel;
    int sampleBytes;  // 1: "Mono8", 2: "Mono12"
    bool vector;
    KernelFamily family;  // the instruction set of a vector kernel
};

// Every kernel in every family: the scalar kernels, the vector ones in SSE4.1 and AVX2.
const KernelInfo kKernels[] = {
    {"ProcessMono8Sse41", &ProcessMono8, 1, true, KernelFamily::kSse41},
    {"ProcessMono8Scalar", &ProcessMono8Scalar, 1, false, KernelFamily::kSse41},
    {"ProcessMono12Sse41", &ProcessMono12, 2, true, KernelFamily::kSse41},
    {"ProcessMono12Scalar", &ProcessMono12Scalar, 2, false, KernelFamily::kSse41},
    {"ProcessMono8Avx2", &ProcessMono8, 1, true, KernelFamily::kAvx2},
    {"ProcessMono12Avx2", &ProcessMono12, 2, true, KernelFamily::kAvx2},
};
const KernelInfo& kMono8Avx2 = kKernels[4];

// Whether this processor runs the kernel's family.
bool Runs(const KernelInfo& k) {
    return KernelFamilySupported(k.family);
}

struct Case {
    int width = 0;
    int height = 0;
    MonoSettings s;
    bool lutOn = false;
    std::vector<uint16_t> table;
    IspFrameStatistics stats;
};

int BytesPerPixel(uint32_t format) {
    return static_cast<int>((format >> 16) & 0xFF) / 8;
}

// ---- The references ------------------------------------------------------------------------

// Dead-pixel correction of the scalar kernels: threshold 29, every sample whose neighbours at
// distance d lie in the frame, one at a time, row by row, left to right.
void RefCorrectScalar(std::vector<int>& raw, int W, int H, int d) {
    auto at = [&](int x, int y) -> int& { return raw[static_cast<size_t>(y) * W + x]; };
    for (int y = d; y <= H - 1 - d; ++y)
        for (int x = d; x <= W - 1 - d; ++x) {
            const int v = at(x, y), u = at(x, y - d), dn = at(x, y + d), l = at(x - d, y),
                      r = at(x + d, y);
            if (v > 29 && v - u > 29 && v - dn > 29 && v - l > 29 && v - r > 29)
                at(x, y) = std::min(std::max(u, dn), std::max(l, r));
        }
}

// Dead-pixel correction of the vector kernels: threshold 30; when row r is read (2 <= r <=
// H - 3), rows r and r + 1 are tested in groups of eight from column 8 to the last complete
// group but one, each group against the values before any of its eight was replaced. A row
// whose neighbour d rows below would lie outside the frame is not tested.
void RefCorrectVector(std::vector<int>& raw, int W, int H, int d) {
    auto at = [&](int x, int y) -> int& { return raw[static_cast<size_t>(y) * W + x]; };
    const int groups = W / 8;
    for (int r = 2; r <= H - 3; ++r)
        for (int row : {r, r + 1}) {
            if (row + d > H - 1) continue;
            for (int g = 1; g <= groups - 2; ++g) {
                int repl[8];
                bool dead[8];
                for (int i = 0; i < 8; ++i) {
                    const int x = 8 * g + i;
                    const int v = at(x, row), u = at(x, row - d), dn = at(x, row + d),
                              l = at(x - d, row), rt = at(x + d, row);
                    dead[i] = v > 30 && v - u > 30 && v - dn > 30 && v - l > 30 && v - rt > 30;
                    repl[i] = std::min(std::max(u, dn), std::max(l, rt));
                }
                for (int i = 0; i < 8; ++i)
                    if (dead[i]) at(8 * g + i, row) = repl[i];
            }
        }
}

int RefContrastDouble(int v, int contrast, int pivot, int maxValue) {
    const double k = contrast * 2.0 / 100.0;
    const double y = std::trunc(k * (v - pivot) + pivot);
    return static_cast<int>(std::clamp(y, 0.0, static_cast<double>(maxValue)));
}

int RefContrastFloat(int v, int contrast, int pivot) {
    const float f = static_cast<float>(2 * contrast) / 100.0f;
    const float y =
        (static_cast<float>(v) - static_cast<float>(pivot)) * f + static_cast<float>(pivot);
    return static_cast<int>(std::clamp(std::nearbyint(y), 0.0f, 255.0f));
}

std::vector<uint8_t> Reference(const KernelInfo& k, std::vector<int>& raw, const Case& c, int bpp,
                               int outId) {
    const int W = c.width, H = c.height;
    const MonoSettings& s = c.s;
    const int d = s.monoCamera ? 1 : 2;
    const int inDepth = k.sampleBytes == 2 ? 12 : 8;
    const int workDepth = (!k.vector && inDepth == 12) ? 12 : 8;
    const int maxValue = (1 << workDepth) - 1;
    const int greenPivot = (c.stats.green1Mean + c.stats.green2Mean) / 2;

    if (s.deadPixel) {
        if (k.vector)
            RefCorrectVector(raw, W, H, d);
        else
            RefCorrectScalar(raw, W, H, d);
    }

    std::vector<std::vector<int>> w(H, std::vector<int>(W));
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            int v = raw[static_cast<size_t>(y) * W + x];
            if (inDepth == 12) v = std::min(v, 4095);
            v = std::max(0, v - std::max(0, s.blackOffset));
            if (c.lutOn) v = std::min<int>(c.table[v], (1 << inDepth) - 1);
            if (k.vector && inDepth == 12) v >>= 4;
            w[y][x] = v;
        }

    const int64_t t = static_cast<int64_t>(s.sharpness) * 128 / 25;
    auto sharpened = [&](int y) {
        std::vector<int> out = w[y];
        if (!k.vector) {
            for (int x = 1; x <= W - 2; ++x) {
                int sum = 0;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) sum += w[y + dy][x + dx];
                const int v = w[y][x];
                out[x] =
                    static_cast<int>(std::clamp<int64_t>(v + t * (v - sum / 9) / 100, 0, maxValue));
            }
            return out;
        }
        const int st = s.monoCamera ? 1 : 2;
        if (W < 2 * st) return out;
        const int blocksEnd = 2 * st + 8 * ((W - 2 * st) / 8);
        for (int x = 2 * st; x < blocksEnd; ++x) {
            if (x + 2 * st > W - 1) continue;  // the window would leave the row: copied
            int sum = 0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int o = -2; o <= 2; ++o) sum += w[y + dy][x + o * st];
            const int v = w[y][x];
            const int m = (v + sum) >> 4;
            const int64_t diff = std::clamp(v - m, -255, 255);
            out[x] = static_cast<int>(std::clamp<int64_t>(v + ((diff * t) >> 7), 0, 255));
        }
        return out;
    };

    std::vector<uint8_t> out(static_cast<size_t>(W) * H * bpp, 0);
    for (int y = 0; y < H; ++y) {
        const bool border = y == 0 || y == H - 1;
        const std::vector<int> vals = (!border && s.sharpness != 0) ? sharpened(y) : w[y];
        uint8_t* row = out.data() + static_cast<size_t>(s.mirrorV ? H - 1 - y : y) * W * bpp;
        for (int j = 0; j < W; ++j) {
            int g = vals[s.mirrorH ? W - 1 - j : j];
            if (s.contrast != 50) {
                if (border)
                    g = RefContrastDouble(g, s.contrast, greenPivot,
                                          (workDepth == 12 || bpp == 2) ? 4095 : 255);
                else if (k.vector)
                    g = RefContrastFloat(g, s.contrast, c.stats.redMean);
                else
                    g = RefContrastDouble(g, s.contrast, greenPivot, maxValue);
            }
            uint8_t* px = row + static_cast<size_t>(j) * bpp;
            if (bpp == 2) {
                px[0] = static_cast<uint8_t>(g & 0xFF);
                px[1] = static_cast<uint8_t>(g >> 8);
                continue;
            }
            const int b = workDepth == 12 ? g >> 4 : g;
            if (bpp == 1) {
                px[0] = static_cast<uint8_t>(b);
            } else {
                EXPECT_TRUE(outId == 20 || outId == 21);
                px[0] = px[1] = px[2] = static_cast<uint8_t>(b);
                if (bpp == 4) px[3] = 255;
            }
        }
    }
    return out;
}

// ---- Running a kernel on exact-size buffers ------------------------------------------------

qvtest::GuardedBuffer g_rawBuffer;
qvtest::GuardedBuffer g_outBuffer;

struct Result {
    int rc = 0;
    std::vector<uint8_t> out;
    std::vector<int> rawAfter;
    stImageInfo outInfo{};
    IspFrameStatistics stats;
    int demosaicKind = 0;
};

std::vector<uint8_t> PackRaw(const std::vector<int>& raw, int sampleBytes) {
    std::vector<uint8_t> bytes(raw.size() * sampleBytes);
    for (size_t i = 0; i < raw.size(); ++i) {
        if (sampleBytes == 1) {
            bytes[i] = static_cast<uint8_t>(raw[i]);
        } else {
            const uint16_t v = static_cast<uint16_t>(raw[i]);
            std::memcpy(&bytes[2 * i], &v, 2);
        }
    }
    return bytes;
}

Result RunKernel(const KernelInfo& k, const std::vector<int>& raw, const Case& c,
                 IspWorkBuffers* work = nullptr, uint8_t fill = 0xCD) {
    Result r;
    const qvtest::ScopedKernelFamily family(k.family);
    EXPECT_TRUE(family.Runs()) << k.name;
    // The frame and the output end right before a guard page.
    const std::vector<uint8_t> packed = PackRaw(raw, k.sampleBytes);
    uint8_t* rawBytes = g_rawBuffer.Place(packed.size());
    std::memcpy(rawBytes, packed.data(), packed.size());
    stImageInfo in{};
    in.iWidth = static_cast<UINT>(c.width);
    in.iHeight = static_cast<UINT>(c.height);
    in.TotalBytes = static_cast<UINT>(packed.size());
    in.uiMediaType = k.sampleBytes == 2 ? kMono12 : kMono8;
    in.ExpTime = 5000;
    in.Gain = 1000;
    const int bpp = std::max(1, BytesPerPixel(c.s.ispOutFormat));
    const size_t outSize = static_cast<size_t>(c.width) * c.height * bpp;
    uint8_t* out = g_outBuffer.Place(outSize);
    std::memset(out, fill, outSize);
    std::memset(&r.outInfo, 0x77, sizeof r.outInfo);
    IspFrame frame;
    frame.inInfo = &in;
    frame.raw = rawBytes;
    frame.outInfo = &r.outInfo;
    frame.out = out;
    LutView lut;
    lut.table = c.table.empty() ? nullptr : c.table.data();
    lut.size = static_cast<uint32_t>(c.table.size());
    lut.inEffect = c.lutOn;
    r.stats = c.stats;
    IspWorkBuffers local;
    r.rc = k.kernel(frame, c.s, lut, r.stats, work ? *work : local);
    r.demosaicKind = frame.demosaicKind;
    r.out.assign(out, out + outSize);
    r.rawAfter.resize(raw.size());
    for (size_t i = 0; i < raw.size(); ++i) {
        if (k.sampleBytes == 1) {
            r.rawAfter[i] = rawBytes[i];
        } else {
            uint16_t v;
            std::memcpy(&v, &rawBytes[2 * i], 2);
            r.rawAfter[i] = v;
        }
    }
    return r;
}

std::string Describe(const KernelInfo& k, const Case& c) {
    char buf[320];
    std::snprintf(buf, sizeof buf,
                  "%s %dx%d out=%08x sharp=%d contrast=%d mirror=%d/%d dpc=%d monoCam=%d "
                  "lut=%d offset=%d red=%d g1=%d g2=%d",
                  k.name, c.width, c.height, c.s.ispOutFormat, c.s.sharpness, c.s.contrast,
                  c.s.mirrorH, c.s.mirrorV, c.s.deadPixel, c.s.monoCamera, c.lutOn, c.s.blackOffset,
                  c.stats.redMean, c.stats.green1Mean, c.stats.green2Mean);
    return buf;
}

void ExpectMatchesReference(const KernelInfo& k, const std::vector<int>& raw, const Case& c) {
    const int bpp = BytesPerPixel(c.s.ispOutFormat);
    const int outId = (c.s.ispOutFormat & 0xFF) == 0x14   ? 20
                      : (c.s.ispOutFormat & 0xFF) == 0x15 ? 21
                                                          : 0;
    std::vector<int> refRaw = raw;
    const std::vector<uint8_t> expected = Reference(k, refRaw, c, bpp, outId);
    const Result got = RunKernel(k, raw, c);
    ASSERT_EQ(got.rc, 0) << Describe(k, c);
    ASSERT_EQ(got.rawAfter, refRaw) << "raw frame after correction: " << Describe(k, c);
    if (got.out != expected) {
        size_t i = 0;
        while (got.out[i] == expected[i]) ++i;
        const size_t px = i / bpp;
        FAIL() << Describe(k, c) << ": first difference at output row " << px / c.width << " pixel "
               << px % c.width << " byte " << i % bpp << ": " << int(got.out[i]) << " instead of "
               << int(expected[i]);
    }
    EXPECT_EQ(got.outInfo.TotalBytes, static_cast<UINT>(c.width * c.height * bpp));
    EXPECT_EQ(got.outInfo.uiMediaType, c.s.ispOutFormat);
    EXPECT_EQ(got.stats.greenPivot, (c.stats.green1Mean + c.stats.green2Mean) / 2);
    if (k.vector) {
        EXPECT_EQ(got.demosaicKind, c.s.monoCamera ? 3 : 4);
    }
}

// Frames with a dark, noisy background and bright spikes, so that dead-pixel correction,
// sharpening and contrast all have work; 12-bit frames also carry words above 4095.
std::vector<int> RandomFrame(std::mt19937& rng, int W, int H, int sampleBytes) {
    std::vector<int> raw(static_cast<size_t>(W) * H);
    const int maxV = sampleBytes == 2 ? 4095 : 255;
    std::uniform_int_distribution<int> kind(0, 99);
    for (int& v : raw) {
        const int k = kind(rng);
        if (k < 4)
            v = std::uniform_int_distribution<int>(maxV / 2, maxV)(rng);
        else if (k < 5 && sampleBytes == 2)
            v = std::uniform_int_distribution<int>(4096, 65535)(rng);
        else
            v = std::uniform_int_distribution<int>(0, maxV / 4)(rng);
    }
    return raw;
}

Case RandomCase(std::mt19937& rng, const KernelInfo& k, int W, int H) {
    auto pick = [&](std::initializer_list<int> values) {
        std::vector<int> v(values);
        return v[std::uniform_int_distribution<size_t>(0, v.size() - 1)(rng)];
    };
    Case c;
    c.width = W;
    c.height = H;
    c.s.sharpness = pick({0, 0, 25, 50, 100, 7000});
    c.s.contrast = pick({50, 50, 0, 27, 60, 100, 150});
    c.s.mirrorH = pick({0, 1});
    c.s.mirrorV = pick({0, 1});
    c.s.deadPixel = pick({0, 1, 1});
    c.s.monoCamera = pick({0, 1, 1});
    c.s.blackOffset = pick({0, 0, 0, 7});
    std::vector<int> formats = {int(kMono8), int(CAMERA_MEDIA_TYPE_RGB8),
                                int(CAMERA_MEDIA_TYPE_BGR8), int(CAMERA_MEDIA_TYPE_RGBA8),
                                int(CAMERA_MEDIA_TYPE_BGRA8)};
    if (!k.vector && k.sampleBytes == 2) formats.push_back(int(kMono16Out));
    c.s.ispOutFormat = static_cast<uint32_t>(
        formats[std::uniform_int_distribution<size_t>(0, formats.size() - 1)(rng)]);
    c.lutOn = pick({0, 1});
    const int n = k.sampleBytes == 2 ? 4096 : 256;
    c.table.resize(n);
    for (auto& e : c.table)
        e = static_cast<uint16_t>(std::uniform_int_distribution<int>(0, n - 1)(rng));
    std::uniform_int_distribution<int> mean(0, 255);
    c.stats.redMean = mean(rng);
    c.stats.green1Mean = mean(rng);
    c.stats.green2Mean = mean(rng);
    return c;
}

// ---- Against the references -------------------------------------------------------------------

class MonoKernelReference : public ::testing::TestWithParam<int> {};

TEST_P(MonoKernelReference, RandomFramesOfAwkwardSizes) {
    const KernelInfo& k = kKernels[GetParam()];
    if (!Runs(k)) GTEST_SKIP() << "no " << KernelFamilyName(k.family) << " on this processor";
    std::mt19937 rng(1234u + static_cast<unsigned>(GetParam()));
    const int widths[] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 15,
                          16, 17, 19, 20, 23, 24, 25, 28, 31, 32, 33, 36, 40, 1284};
    const int heights[] = {1, 2, 3, 4, 5, 6, 7, 9};
    for (int W : widths)
        for (int H : heights)
            for (int i = 0; i < 6; ++i) {
                const Case c = RandomCase(rng, k, W, H);
                ExpectMatchesReference(k, RandomFrame(rng, W, H, k.sampleBytes), c);
                if (HasFatalFailure()) return;
            }
}

TEST_P(MonoKernelReference, EveryFeatureTogetherOnLargerFrames) {
    const KernelInfo& k = kKernels[GetParam()];
    if (!Runs(k)) GTEST_SKIP() << "no " << KernelFamilyName(k.family) << " on this processor";
    std::mt19937 rng(99u + static_cast<unsigned>(GetParam()));
    for (auto [W, H] : {std::pair{1284, 37}, std::pair{1280, 64}, std::pair{644, 21}}) {
        for (bool monoCamera : {true, false}) {
            Case c = RandomCase(rng, k, W, H);
            c.s.sharpness = 60;
            c.s.contrast = 73;
            c.s.mirrorH = c.s.mirrorV = true;
            c.s.deadPixel = true;
            c.s.monoCamera = monoCamera;
            c.lutOn = true;
            ExpectMatchesReference(k, RandomFrame(rng, W, H, k.sampleBytes), c);
        }
    }
}

TEST_P(MonoKernelReference, TableOfFrameShapes) {
    const KernelInfo& k = kKernels[GetParam()];
    if (!Runs(k)) GTEST_SKIP() << "no " << KernelFamilyName(k.family) << " on this processor";
    std::mt19937 rng(777u + static_cast<unsigned>(GetParam()));
    for (int W : qvtest::kShapeWidths)
        for (int H : {1, 2, 3, 4, 5, 8, 17})
            for (int i = 0; i < 3; ++i) {
                Case c = RandomCase(rng, k, W, H);
                if (i == 0) {
                    // Sharpening and contrast on, whatever the draw.
                    c.s.sharpness = 50;
                    c.s.contrast = 60;
                }
                ExpectMatchesReference(k, RandomFrame(rng, W, H, k.sampleBytes), c);
                if (HasFatalFailure()) return;
            }
}

INSTANTIATE_TEST_SUITE_P(Kernels, MonoKernelReference,
                         ::testing::Range(0, static_cast<int>(std::size(kKernels))),
                         [](const auto& info) { return std::string(kKernels[info.param].name); });

// ---- Edge cases of the rules -------------------------------------------------------------------

Case Plain(int W, int H, uint32_t out = kMono8) {
    Case c;
    c.width = W;
    c.height = H;
    c.s.ispOutFormat = out;
    return c;
}

std::vector<int> Ramp(int W, int H, int maxV) {
    std::vector<int> raw(static_cast<size_t>(W) * H);
    for (size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<int>((i * 37) % (maxV + 1));
    return raw;
}

TEST(MonoKernels, NeutralSettingsCopyTheFrame) {
    for (const KernelInfo& k : {kKernels[0], kKernels[1], kMono8Avx2}) {
        if (!Runs(k)) continue;
        const std::vector<int> raw = Ramp(13, 5, 255);
        const Result r = RunKernel(k, raw, Plain(13, 5));
        ASSERT_EQ(r.rc, 0);
        EXPECT_EQ(std::vector<int>(r.out.begin(), r.out.end()), raw) << k.name;
    }
}

TEST(MonoKernels, MirrorsAndBgraPacking) {
    for (const KernelInfo& k : {kKernels[0], kKernels[1], kMono8Avx2}) {
        if (!Runs(k)) continue;
        const std::vector<int> raw = Ramp(11, 4, 255);
        Case c = Plain(11, 4, CAMERA_MEDIA_TYPE_BGRA8);
        c.s.mirrorV = true;
        Result r = RunKernel(k, raw, c);
        ASSERT_EQ(r.rc, 0);
        for (int x = 0; x < 11; ++x) {  // output row 0 holds input row 3: g, g, g, 255
            const uint8_t g = static_cast<uint8_t>(raw[3 * 11 + x]);
            EXPECT_EQ(std::vector<uint8_t>(r.out.begin() + 4 * x, r.out.begin() + 4 * x + 4),
                      (std::vector<uint8_t>{g, g, g, 255}));
        }
        c = Plain(11, 4);
        c.s.mirrorH = true;
        r = RunKernel(k, raw, c);
        for (int y = 0; y < 4; ++y) EXPECT_EQ(r.out[y * 11], raw[y * 11 + 10]) << k.name;
    }
}

// A flat field of 20 with one sample in the middle of a 32 x 9 frame.
std::vector<int> FlatWithSpike(int value, int W = 32, int H = 9, int x = 12, int y = 4) {
    std::vector<int> raw(static_cast<size_t>(W) * H, 20);
    raw[static_cast<size_t>(y) * W + x] = value;
    return raw;
}

TEST(MonoKernels, DeadPixelThresholdsOfBothFamilies) {
    struct Row {
        int spike;
        int vectorResult;
        int scalarResult;
    };
    // Difference 180 is dead for both; 25 for neither; 30 only for the scalar test (>= 30).
    for (Row row : {Row{200, 20, 20}, Row{45, 45, 45}, Row{50, 50, 20}}) {
        for (const KernelInfo& k : kKernels) {
            if (!Runs(k)) continue;
            Case c = Plain(32, 9, k.sampleBytes == 2 && !k.vector ? kMono16Out : kMono8);
            c.s.deadPixel = true;
            const Result r = RunKernel(k, FlatWithSpike(row.spike), c);
            ASSERT_EQ(r.rc, 0);
            EXPECT_EQ(r.rawAfter[4 * 32 + 12], k.vector ? row.vectorResult : row.scalarResult)
                << k.name << " spike " << row.spike;
        }
    }
}

TEST(MonoKernels, VectorDeadPixelCoverage) {
    // Not tested: the first group, the last complete group, the tail and rows 0, 1, H - 1.
    for (int x : {3, 35, 41}) {
        Case c = Plain(42, 9);
        c.s.deadPixel = true;
        EXPECT_EQ(RunKernel(kKernels[0], FlatWithSpike(200, 42, 9, x, 4), c).rawAfter[4 * 42 + x],
                  200)
            << x;
    }
    for (int y : {1, 8}) {
        Case c = Plain(42, 9);
        c.s.deadPixel = true;
        EXPECT_EQ(RunKernel(kKernels[0], FlatWithSpike(200, 42, 9, 12, y), c).rawAfter[y * 42 + 12],
                  200);
    }
    Case c = Plain(42, 9);
    c.s.deadPixel = true;
    EXPECT_EQ(RunKernel(kKernels[0], FlatWithSpike(200, 42, 9, 12, 7), c).rawAfter[7 * 42 + 12],
              20);
}

TEST(MonoKernels, VectorGroupSeesUnreplacedNeighbours) {
    // A field of 100s, neighbours two samples apart (colour camera). Row 2 is tested once (when
    // it is read); row 4 twice (as the row below row 3, then when it is read).
    auto frame = [](int y, int xa, int xb) {
        std::vector<int> raw(static_cast<size_t>(48) * 9, 100);
        raw[y * 48 + xa] = 200;
        raw[y * 48 + xb] = 160;
        return raw;
    };
    Case c = Plain(48, 9);
    c.s.deadPixel = true;
    c.s.monoCamera = false;
    // One group: the 160 is judged against the unreplaced 200 and stays.
    Result r = RunKernel(kKernels[0], frame(2, 10, 12), c);
    EXPECT_EQ(r.rawAfter[2 * 48 + 10], 100);
    EXPECT_EQ(r.rawAfter[2 * 48 + 12], 160);
    // Two groups: the second sees the replacement.
    r = RunKernel(kKernels[0], frame(2, 14, 16), c);
    EXPECT_EQ(r.rawAfter[2 * 48 + 14], 100);
    EXPECT_EQ(r.rawAfter[2 * 48 + 16], 100);
    // A row tested twice: the second test sees the first one's replacement.
    r = RunKernel(kKernels[0], frame(4, 10, 12), c);
    EXPECT_EQ(r.rawAfter[4 * 48 + 10], 100);
    EXPECT_EQ(r.rawAfter[4 * 48 + 12], 100);
}

TEST(MonoKernels, ColourCameraNeighboursStayInsideTheFrame) {
    // With neighbours two rows and columns away, a spike next to the border has no neighbour
    // outside the frame to be judged by: it stays; the vector kernel's lowest tested row pair
    // stops where row + 2 would leave the frame.
    for (const KernelInfo& k : kKernels) {
        if (!Runs(k)) continue;
        Case c = Plain(40, 6, k.sampleBytes == 2 && !k.vector ? kMono16Out : kMono8);
        c.s.deadPixel = true;
        c.s.monoCamera = false;
        for (auto [x, y] :
             {std::pair{1, 3}, std::pair{12, 1}, std::pair{38, 2}, std::pair{12, 4}}) {
            const Result r = RunKernel(k, FlatWithSpike(250, 40, 6, x, y), c);
            ASSERT_EQ(r.rc, 0);
            EXPECT_EQ(r.rawAfter[y * 40 + x], 250) << k.name << " at " << x << "," << y;
        }
    }
}

TEST(MonoKernels, SharpeningLeavesBorderRowsAndWindowlessColumns) {
    // Width 1284 (4 mod 8) on a colour camera: the last group of eight from column 4 would
    // reach four columns past the row; its last two columns keep their values.
    std::mt19937 rng(5);
    const int W = 1284, H = 6;
    std::vector<int> raw = RandomFrame(rng, W, H, 1);
    for (const KernelInfo& k : {kKernels[0], kKernels[1], kMono8Avx2}) {
        if (!Runs(k)) continue;
        Case c = Plain(W, H);
        c.s.sharpness = 100;
        c.s.monoCamera = false;
        const Result r = RunKernel(k, raw, c);
        ASSERT_EQ(r.rc, 0);
        for (int x = 0; x < W; ++x) {
            EXPECT_EQ(r.out[x], raw[x]);
            EXPECT_EQ(r.out[(H - 1) * W + x], raw[(H - 1) * W + x]);
        }
        for (int y = 1; y < H - 1; ++y) {
            EXPECT_EQ(r.out[y * W], raw[y * W]) << k.name;
            EXPECT_EQ(r.out[y * W + W - 1], raw[y * W + W - 1]) << k.name;
            if (k.vector) {
                EXPECT_EQ(r.out[y * W + W - 3], raw[y * W + W - 3]);
            }
        }
    }
}

TEST(MonoKernels, TwelveBitToSixteenBitKeepsTwelveBitsAndBytesShiftByFour) {
    const std::vector<int> raw = Ramp(9, 4, 4095);
    Result r = RunKernel(kKernels[3], raw, Plain(9, 4, kMono16Out));
    ASSERT_EQ(r.rc, 0);
    for (size_t i = 0; i < raw.size(); ++i)
        EXPECT_EQ(r.out[2 * i] | (r.out[2 * i + 1] << 8), raw[i]);
    for (const KernelInfo& k : {kKernels[2], kKernels[3], kKernels[5]}) {
        if (!Runs(k)) continue;
        r = RunKernel(k, raw, Plain(9, 4, kMono8));
        ASSERT_EQ(r.rc, 0);
        for (size_t i = 0; i < raw.size(); ++i) EXPECT_EQ(r.out[i], raw[i] >> 4) << k.name;
    }
}

TEST(MonoKernels, TwelveBitWordsAboveTheRangeAreSaturatedBeforeTheLookup) {
    for (const KernelInfo& k : {kKernels[2], kKernels[3], kKernels[5]}) {
        if (!Runs(k)) continue;
        Case c = Plain(9, 3, kMono8);
        c.lutOn = true;
        c.table.assign(4096, 0);
        c.table[4095] = 4000;
        const std::vector<int> raw(27, 65535);
        const Result r = RunKernel(k, raw, c);
        ASSERT_EQ(r.rc, 0);
        for (uint8_t b : r.out) EXPECT_EQ(b, 4000 >> 4) << k.name;
    }
}

TEST(MonoKernels, RowWriterAndInteriorRowsUseTheirOwnContrast) {
    // Contrast 100 (factor 2): first and last rows around the green pivot in double precision,
    // inner rows of the vector kernel around the red mean in single precision.
    Case c = Plain(8, 3);
    c.s.contrast = 100;
    c.stats.redMean = 100;
    c.stats.green1Mean = 40;
    c.stats.green2Mean = 61;  // pivot 50
    const std::vector<int> raw(24, 90);
    for (const KernelInfo& k : {kKernels[0], kMono8Avx2}) {
        if (!Runs(k)) continue;
        const Result v = RunKernel(k, raw, c);
        EXPECT_EQ(v.out[0], 130) << k.name;  // 2 x (90 - 50) + 50
        EXPECT_EQ(v.out[8], 80) << k.name;   // 2 x (90 - 100) + 100
        EXPECT_EQ(v.out[16], 130) << k.name;
    }
    const Result s = RunKernel(kKernels[1], raw, c);
    EXPECT_EQ(s.out[8], 130);
}

TEST(MonoKernels, RefusedFramesLeaveOutputAndDescriptorUntouched) {
    struct Refusal {
        const KernelInfo* kernel;
        uint32_t format;
        int totalBytesCut;
        int lutSize;
        int expected;
    };
    const Refusal cases[] = {
        {&kKernels[0], 0x01080008u, 0, 0, CAMERA_STATUS_NOT_SUPPORTED},  // Bayer layout
        {&kKernels[1], 0x01100010u, 0, 0, CAMERA_STATUS_NOT_SUPPORTED},
        {&kKernels[0], kMono16Out, 0, 0, CAMERA_STATUS_NOT_SUPPORTED},  // 16-bit from 8-bit
        {&kKernels[1], kMono16Out, 0, 0, CAMERA_STATUS_NOT_SUPPORTED},
        {&kKernels[2], kMono16Out, 0, 0, CAMERA_STATUS_NOT_SUPPORTED},   // vector 12-bit
        {&kKernels[0], 0x01180000u, 0, 0, CAMERA_STATUS_NOT_SUPPORTED},  // 3 bytes, no order
        {&kKernels[0], 0x01080014u, 0, 0, CAMERA_STATUS_NOT_SUPPORTED},  // 1 byte, RGB order
        {&kKernels[0], 0x02280014u, 0, 0, CAMERA_STATUS_NOT_SUPPORTED},  // 40 bits
        {&kKernels[0], kMono8, 1, 0, CAMERA_STATUS_DATA_INVALID},        // short frame
        {&kKernels[3], kMono16Out, 1, 0, CAMERA_STATUS_DATA_INVALID},
        {&kKernels[2], kMono8, 0, 256, CAMERA_STATUS_PARAMETER_MISMATCH},  // 8-bit table
        {&kKernels[0], kMono8, 0, 4096, CAMERA_STATUS_PARAMETER_MISMATCH},
    };
    for (const Refusal& rf : cases) {
        const KernelInfo& k = *rf.kernel;
        std::vector<uint8_t> raw(9 * 4 * k.sampleBytes, 200);
        std::vector<uint8_t> out(9 * 4 * 4, 0xAB);
        std::vector<uint16_t> table(rf.lutSize, 1);
        stImageInfo in{9,
                       4,
                       static_cast<UINT>(raw.size() - rf.totalBytesCut),
                       k.sampleBytes == 2 ? kMono12 : kMono8,
                       0,
                       0,
                       0,
                       {}};
        stImageInfo outInfo;
        std::memset(&outInfo, 0x5C, sizeof outInfo);
        IspFrame frame{&in, raw.data(), &outInfo, out.data(), 0};
        MonoSettings s;
        s.ispOutFormat = rf.format;
        const LutView lut{table.empty() ? nullptr : table.data(),
                          static_cast<uint32_t>(table.size()), rf.lutSize != 0};
        IspFrameStatistics stats;
        IspWorkBuffers work;
        EXPECT_EQ(k.kernel(frame, s, lut, stats, work), rf.expected)
            << k.name << " " << std::hex << rf.format;
        EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == 0xAB; }));
        EXPECT_EQ(outInfo.iWidth, 0x5C5C5C5Cu);
    }
    // Another input media type, zero sizes and null pointers.
    for (const KernelInfo& k : kKernels) {
        std::vector<uint8_t> raw(64, 1), out(64 * 4, 0xAB);
        stImageInfo in{4, 4, 64, k.sampleBytes == 2 ? kMono8 : kMono12, 0, 0, 0, {}};
        stImageInfo outInfo{};
        IspFrame frame{&in, raw.data(), &outInfo, out.data(), 0};
        MonoSettings s;
        IspFrameStatistics stats;
        IspWorkBuffers work;
        EXPECT_EQ(k.kernel(frame, s, {}, stats, work), CAMERA_STATUS_NOT_SUPPORTED);
        in.uiMediaType = k.sampleBytes == 2 ? kMono12 : kMono8;
        in.iWidth = 0;
        EXPECT_EQ(k.kernel(frame, s, {}, stats, work), CAMERA_STATUS_DATA_INVALID);
        in.iWidth = 4;
        frame.out = nullptr;
        EXPECT_EQ(k.kernel(frame, s, {}, stats, work), CAMERA_STATUS_PARAMETER_INVALID);
        EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == 0xAB; }));
    }
}

TEST(MonoKernels, SteadyFramesReuseTheWorkBuffers) {
    std::mt19937 rng(11);
    IspWorkBuffers work;
    for (const KernelInfo& k : kKernels) {
        if (!Runs(k)) continue;
        Case c = RandomCase(rng, k, 1284, 20);
        c.s.sharpness = 40;
        const std::vector<int> raw = RandomFrame(rng, 1284, 20, k.sampleBytes);
        ASSERT_EQ(RunKernel(k, raw, c, &work).rc, 0);
        const uint16_t* ring = work.rowRing.data();
        const uint16_t* finished = work.finishedRows.data();
        const size_t capacity = work.rowRing.capacity();
        // A smaller frame and another of the same size: the buffers stay as they are, and the
        // results still match a fresh run.
        const Case small = RandomCase(rng, k, 640, 9);
        const std::vector<int> smallRaw = RandomFrame(rng, 640, 9, k.sampleBytes);
        EXPECT_EQ(RunKernel(k, smallRaw, small, &work).out, RunKernel(k, smallRaw, small).out);
        ASSERT_EQ(RunKernel(k, raw, c, &work).rc, 0);
        EXPECT_EQ(work.rowRing.data(), ring);
        EXPECT_EQ(work.finishedRows.data(), finished);
        EXPECT_EQ(work.rowRing.capacity(), capacity);
    }
}

}  // namespace
