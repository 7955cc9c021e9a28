// The AVX2 family against the SSE4.1 family, byte for byte, at every width from 1 to 200: each
// vector kernel takes its wide blocks, its narrow fallbacks and the joins between them at
// widths that depend on its own limits, so a slip in one limit shows only at a width or two.
// Small heights put the processed rows in every slot of the kernels' row rings; the frames and
// the outputs end right before a guard page, so a read or write past either faults.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "ColourKernels.h"
#include "KernelTestSupport.h"
#include "MonoKernels.h"
#include "RawYuvKernels.h"

using namespace qv::isp;

namespace {

constexpr int kMaxWidth = 200;
constexpr uint8_t kFill = 0xCD;
constexpr uint32_t kBayer8 = 0x01080008u;
constexpr uint32_t kBayer12 = 0x01100010u;
constexpr uint32_t kYuv = 0x0210001Fu;
constexpr uint32_t kOutFormats[] = {CAMERA_MEDIA_TYPE_MONO8, CAMERA_MEDIA_TYPE_RGB8,
                                    CAMERA_MEDIA_TYPE_BGR8, CAMERA_MEDIA_TYPE_RGBA8,
                                    CAMERA_MEDIA_TYPE_BGRA8};

qvtest::GuardedBuffer g_raw;
qvtest::GuardedBuffer g_out;

struct Outcome {
    int rc = 0;
    std::vector<uint8_t> out;
    std::vector<uint8_t> rawAfter;  // dead-pixel correction works on the caller's samples
    stImageInfo outInfo{};
    IspFrameStatistics stats;

    bool operator==(const Outcome& o) const {
        return rc == o.rc && out == o.out && rawAfter == o.rawAfter &&
               std::memcmp(&outInfo, &o.outInfo, sizeof outInfo) == 0 &&
               stats.greenPivot == o.stats.greenPivot;
    }
};

// One frame through `kernel` in `family`, the raw frame and the output each ending right before
// a guard page.
template <class Kernel>
Outcome RunIn(KernelFamily family, const std::vector<uint8_t>& raw, int W, int H,
              uint32_t mediaType, uint32_t outFormat, const IspFrameStatistics& stats,
              Kernel&& kernel) {
    Outcome r;
    const qvtest::ScopedKernelFamily scope(family);
    EXPECT_TRUE(scope.Runs());
    uint8_t* rawData = g_raw.Place(raw.size());
    std::memcpy(rawData, raw.data(), raw.size());
    const int bpp = std::max(1, static_cast<int>((outFormat >> 16) & 0xFF) / 8);
    const size_t outSize = static_cast<size_t>(W) * H * bpp;
    uint8_t* out = g_out.Place(outSize);
    std::memset(out, kFill, outSize);
    stImageInfo in{};
    in.iWidth = static_cast<UINT>(W);
    in.iHeight = static_cast<UINT>(H);
    in.TotalBytes = static_cast<UINT>(raw.size());
    in.uiMediaType = mediaType;
    in.ExpTime = 5000;
    std::memset(&r.outInfo, 0x77, sizeof r.outInfo);
    IspFrame frame{&in, rawData, &r.outInfo, out, 0};
    r.stats = stats;
    r.rc = kernel(frame, r.stats);
    r.out.assign(out, out + outSize);
    r.rawAfter.assign(rawData, rawData + raw.size());
    return r;
}

// Samples with noise, hot and dark cells and (12-bit) words beyond 12 bits, so that the dead-pixel
// test, the green balance and the clamps all take both ways.
// The sweep draws millions of samples; a xorshift keeps that cheap in the sanitizer build,
// where the standard engine and distributions cost more than the kernels.
class Xorshift {
  public:
    explicit Xorshift(uint32_t seed) : m_s(seed | 1) {}
    uint32_t Next() {
        m_s ^= m_s << 13;
        m_s ^= m_s >> 17;
        m_s ^= m_s << 5;
        return m_s;
    }

  private:
    uint32_t m_s;
};

std::vector<uint8_t> RandomSamples(std::mt19937& rng, int W, int H, int sampleBytes) {
    const size_t n = static_cast<size_t>(W) * H;
    std::vector<uint8_t> raw(n * sampleBytes);
    Xorshift x(static_cast<uint32_t>(rng()));
    const int base = static_cast<int>(x.Next() & 255);
    for (size_t i = 0; i < n; ++i) {
        const uint32_t r = x.Next();
        const int k = static_cast<int>((r >> 16) % 50);
        int v = std::clamp(base + static_cast<int>((i * 37) % 41) - 20, 0, 255);
        if (k == 0) v = 255;
        if (k == 1) v = 0;
        if (k == 2) v = static_cast<int>(r & 255);
        if (sampleBytes == 1) {
            raw[i] = static_cast<uint8_t>(v);
        } else {
            uint16_t w = static_cast<uint16_t>(v * 16 + ((r >> 8) & 15));
            if (k == 3) w = static_cast<uint16_t>(4096 + (r & 255) * 240);
            std::memcpy(&raw[2 * i], &w, 2);
        }
    }
    return raw;
}

std::vector<uint16_t> RandomTable(std::mt19937& rng, int n) {
    std::vector<uint16_t> t(n);
    for (int i = 0; i < n; ++i)
        t[i] = static_cast<uint16_t>(std::clamp(
            n - 1 - i + std::uniform_int_distribution<int>(-n / 8, n / 8)(rng), 0, n - 1));
    return t;
}

// Tables of both sizes made once (drawing them for every case would cost more than the
// kernels): case k takes tables k, k + 1 and k + 2 of the set.
class TableSet {
  public:
    explicit TableSet(std::mt19937& rng) {
        for (int i = 0; i < kCount; ++i) {
            m_small[i] = RandomTable(rng, 256);
            m_large[i] = RandomTable(rng, 4096);
        }
    }
    const std::vector<uint16_t>& Get(int sampleBytes, int k) const {
        return sampleBytes == 2 ? m_large[k % kCount] : m_small[k % kCount];
    }

  private:
    static constexpr int kCount = 5;
    std::vector<uint16_t> m_small[kCount];
    std::vector<uint16_t> m_large[kCount];
};

IspFrameStatistics RandomStats(std::mt19937& rng) {
    std::uniform_int_distribution<int> mean(0, 255);
    IspFrameStatistics s;
    s.redMean = mean(rng);
    s.green1Mean = mean(rng);
    s.green2Mean = mean(rng);
    s.blueMean = mean(rng);
    return s;
}

// The settings that choose a kernel's code path, walked in every combination at every width
// (with each output format); the settings that only change values inside a path are drawn from
// a hash of the width and the case, so that every width sees many of their values.
struct Axes {
    int sampleBytes;
    bool mirrorH;
    bool mirrorV;
    bool sharpen;
    bool contrast;  // other than neutral
    bool tables;
};

std::vector<Axes> AllAxes() {
    std::vector<Axes> all;
    for (int sampleBytes : {1, 2})
        for (bool mirrorH : {false, true})
            for (bool mirrorV : {false, true})
                for (bool sharpen : {false, true})
                    for (bool contrast : {false, true})
                        for (bool tables : {false, true})
                            all.push_back(
                                {sampleBytes, mirrorH, mirrorV, sharpen, contrast, tables});
    return all;
}

// A well-mixed number from the width and the case (splitmix64's finaliser).
uint32_t Mix(int W, int k) {
    uint64_t z = (static_cast<uint64_t>(W) << 32 | static_cast<uint32_t>(k)) + 0x9E3779B97F4A7C15u;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
    return static_cast<uint32_t>(z ^ (z >> 31));
}

// The settings that choose among the sharpening kernels (neighbours one or two samples away, as
// the sensor is mono or a mosaic; a strength that fits 8 bits or not), with the mosaic's other
// paths: drawn from the axes that do not bear on them, so that every group of cases alike in
// output, mirror, contrast and input type meets all four at every width.
struct Variant {
    bool monoCamera;
    int sharpness;
};

Variant VariantOf(const Axes& a, int W, uint32_t h) {
    const int pick = (a.mirrorV ? 1 : 0) + (a.tables ? 2 : 0) + W;
    const bool narrow = (pick / 2) % 2 == 0;
    const int narrowStrengths[] = {10, 3};
    const int wideStrengths[] = {100, 7000};
    return {pick % 2 == 0, narrow ? narrowStrengths[(h >> 20) % 2] : wideStrengths[(h >> 20) % 2]};
}

std::string Where(const char* kernel, int W, int H, uint32_t format, const Axes& a, int k) {
    return std::string(kernel) + " " + std::to_string(W) + "x" + std::to_string(H) +
           " out=" + std::to_string(format) + " in=" + std::to_string(8 * a.sampleBytes) +
           " mirrorH=" + std::to_string(a.mirrorH) + " mirrorV=" + std::to_string(a.mirrorV) +
           " sharpen=" + std::to_string(a.sharpen) + " contrast=" + std::to_string(a.contrast) +
           " tables=" + std::to_string(a.tables) + " case=" + std::to_string(k);
}

void ExpectSame(const Outcome& sse, const Outcome& avx, const std::string& where) {
    ASSERT_EQ(avx.rc, sse.rc) << where;
    if (avx.out != sse.out) {
        size_t i = 0;
        while (avx.out[i] == sse.out[i]) ++i;
        FAIL() << where << ": first difference at output byte " << i << ": " << int(avx.out[i])
               << " instead of " << int(sse.out[i]);
    }
    ASSERT_TRUE(avx == sse) << where << ": raw frame after correction, head or statistics";
}

class KernelFamilySweep : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!KernelFamilySupported(KernelFamily::kAvx2))
            GTEST_SKIP() << "no avx2 on this processor";
    }
};

TEST_F(KernelFamilySweep, ColourKernelsAtEveryWidth) {
    std::mt19937 rng(49);
    const TableSet tableSet(rng);
    const int gainSets[][3] = {{100, 100, 100}, {150, 100, 60}, {400, 123, 250}, {50, 50, 50}};
    // The last has entries beyond 16 bits, which take the kernels' wide products.
    const int matrices[][9] = {{256, 0, 0, 0, 256, 0, 0, 0, 256},
                               {310, -40, -14, -30, 300, -14, -6, -60, 322},
                               {40000, -200, -39000, 0, 256, 0, 100, -50, 33000}};
    const int contrast[] = {51, 100, 0, 27};
    const std::vector<Axes> all = AllAxes();
    for (int W = 1; W <= kMaxWidth; ++W) {
        int k = 0;
        for (const Axes& a : all)
            for (uint32_t format : kOutFormats) {
                ++k;
                const uint32_t h = Mix(W, k);
                const Variant v = VariantOf(a, W, h);
                // Enough row pairs to wrap the ring of three (four with sharpening) pairs; over
                // the widths each case puts the last pair in every slot in turn.
                const int H = (a.sharpen ? 8 : 4) + 2 * ((W + k) % 5);
                const std::vector<uint8_t> raw = RandomSamples(rng, W, H, a.sampleBytes);
                ColourSettings s;
                s.ispOutFormat = format;
                s.mirrorH = a.mirrorH;
                s.mirrorV = a.mirrorV;
                s.sharpness = a.sharpen ? v.sharpness : 0;
                s.contrast = a.contrast ? contrast[(h >> 2) % 4] : 50;
                s.saturation = (h >> 4) % 3 == 0 ? 128 : ((h >> 4) % 3 == 1 ? 0 : 160);
                s.monochrome = (h >> 6) % 7 == 2;
                s.monoCamera = v.monoCamera;
                s.deadPixel = (h >> 12) % 3 != 1;
                const int* g = gainSets[(h >> 14) % 4];
                s.redGain = g[0];
                s.greenGain = g[1];
                s.blueGain = g[2];
                const int* m = matrices[(h >> 16) % 8 == 0 ? 2 : (h >> 16) % 2];
                std::copy(m, m + 9, s.colorMatrix);
                const int entries = a.sampleBytes == 2 ? 4096 : 256;
                const int first = static_cast<int>((h >> 17) % 5);
                auto view = [&](int ch) {
                    return LutView{tableSet.Get(a.sampleBytes, first + ch).data(),
                                   static_cast<uint32_t>(entries), a.tables};
                };
                const ColourLuts luts{view(0), view(1), view(2)};
                const IspFrameStatistics stats = RandomStats(rng);
                auto kernel = [&](IspFrame& frame, IspFrameStatistics& st) {
                    IspWorkBuffers work;
                    return a.sampleBytes == 2 ? ProcessBayer16(frame, s, luts, st, work)
                                              : ProcessBayer8(frame, s, luts, st, work);
                };
                const uint32_t type = a.sampleBytes == 2 ? kBayer12 : kBayer8;
                const Outcome sse =
                    RunIn(KernelFamily::kSse41, raw, W, H, type, format, stats, kernel);
                const Outcome avx =
                    RunIn(KernelFamily::kAvx2, raw, W, H, type, format, stats, kernel);
                ExpectSame(sse, avx,
                           Where("ProcessBayer", W, H, format, a, k) +
                               " monoCamera=" + std::to_string(s.monoCamera) +
                               " sharpness=" + std::to_string(s.sharpness));
                if (HasFatalFailure()) return;
                // The rules refuse narrow and odd frames; the sweep must also reach the frames
                // they accept.
                if (W >= 12 && W % 2 == 0) {
                    ASSERT_EQ(sse.rc, 0) << W << "x" << H;
                }
            }
    }
}

TEST_F(KernelFamilySweep, MonoKernelsAtEveryWidth) {
    std::mt19937 rng(4949);
    const TableSet tableSet(rng);
    const int contrast[] = {51, 100, 0, 27};
    const std::vector<Axes> all = AllAxes();
    for (int W = 1; W <= kMaxWidth; ++W) {
        int k = 0;
        for (const Axes& a : all)
            for (uint32_t format : kOutFormats) {
                ++k;
                const uint32_t h = Mix(W, k);
                const Variant v = VariantOf(a, W, h);
                // Heights from one row: the first and last rows take their own path, and from
                // three rows on the sharpening ring of four wraps.
                const int H = 1 + (W + k) % 8;
                const std::vector<uint8_t> raw = RandomSamples(rng, W, H, a.sampleBytes);
                MonoSettings s;
                s.ispOutFormat = format;
                s.mirrorH = a.mirrorH;
                s.mirrorV = a.mirrorV;
                s.sharpness = a.sharpen ? v.sharpness : 0;
                s.contrast = a.contrast ? contrast[(h >> 2) % 4] : 50;
                s.deadPixel = (h >> 4) % 3 != 1;
                s.monoCamera = v.monoCamera;
                // An offset makes a map even without tables.
                s.blackOffset = (h >> 8) % 4 == 3 ? 7 : 0;
                const int entries = a.sampleBytes == 2 ? 4096 : 256;
                const LutView lut{
                    tableSet.Get(a.sampleBytes, static_cast<int>((h >> 10) % 5)).data(),
                    static_cast<uint32_t>(entries), a.tables};
                const IspFrameStatistics stats = RandomStats(rng);
                auto kernel = [&](IspFrame& frame, IspFrameStatistics& st) {
                    IspWorkBuffers work;
                    return a.sampleBytes == 2 ? ProcessMono12(frame, s, lut, st, work)
                                              : ProcessMono8(frame, s, lut, st, work);
                };
                const uint32_t type =
                    a.sampleBytes == 2 ? CAMERA_MEDIA_TYPE_MONO12_16 : CAMERA_MEDIA_TYPE_MONO8;
                const Outcome sse =
                    RunIn(KernelFamily::kSse41, raw, W, H, type, format, stats, kernel);
                const Outcome avx =
                    RunIn(KernelFamily::kAvx2, raw, W, H, type, format, stats, kernel);
                ExpectSame(sse, avx,
                           Where("ProcessMono", W, H, format, a, k) +
                               " monoCamera=" + std::to_string(s.monoCamera) +
                               " sharpness=" + std::to_string(s.sharpness));
                if (HasFatalFailure()) return;
                ASSERT_EQ(sse.rc, 0) << W << "x" << H;
            }
    }
}

TEST_F(KernelFamilySweep, YuvKernelAtEveryWidth) {
    std::mt19937 rng(494949);
    std::uniform_int_distribution<int> any(0, 255);
    int turn = 0;
    for (int W = 1; W <= kMaxWidth; ++W)
        for (bool mono : {false, true})
            for (uint32_t format : kOutFormats) {
                ++turn;
                const int H = 1 + turn % 3;
                std::vector<uint8_t> raw(static_cast<size_t>(W) * H * 2);
                for (uint8_t& b : raw) b = static_cast<uint8_t>(any(rng));
                ColourSettings s;
                s.ispOutFormat = format;
                s.monochrome = mono;
                auto kernel = [&](IspFrame& frame, IspFrameStatistics&) {
                    return ProcessYuv422(frame, s);
                };
                const IspFrameStatistics stats;
                const Outcome sse =
                    RunIn(KernelFamily::kSse41, raw, W, H, kYuv, format, stats, kernel);
                const Outcome avx =
                    RunIn(KernelFamily::kAvx2, raw, W, H, kYuv, format, stats, kernel);
                ExpectSame(sse, avx,
                           "ProcessYuv422 " + std::to_string(W) + "x" + std::to_string(H) +
                               " out=" + std::to_string(format) + " mono=" + std::to_string(mono));
                if (HasFatalFailure()) return;
                if (W % 2 == 0) {
                    ASSERT_EQ(sse.rc, 0) << W << "x" << H;
                }
            }
}

}  // namespace
