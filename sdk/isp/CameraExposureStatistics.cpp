// CameraExposure: the brightness measurements of a raw frame. Each reads every sample of its
// region once, keeps its sums and histograms on the stack and allocates nothing.
//
// Bayer frames are GRBG: on even rows the even columns are green (the first green) and the odd
// ones red; on odd rows the even columns are blue and the odd ones green (the second green).
#include <algorithm>
#include <cstring>

#include "CameraExposure.h"

namespace {

enum class Layout { kNone, kBayer, kMono };

struct Format {
    Layout layout = Layout::kNone;
    bool wide = false;  // 12-bit samples in 16-bit words
};

Format FormatOf(uint32_t mediaType) {
    switch (mediaType) {
        case 0x01080008u:
            return {Layout::kBayer, false};  // "Bayer GRBG8"
        case 0x01100010u:
            return {Layout::kBayer, true};  // "Bayer GRBG12"
        case 0x01080000u:
            return {Layout::kMono, false};  // "Mono8"
        case 0x01100005u:
            return {Layout::kMono, true};  // "Mono12"
        default:
            return {};
    }
}

// Whether the frame data holds what the descriptor says.
bool Holds(const stImageInfo& info, const Format& f) {
    const uint64_t need = uint64_t{info.iWidth} * info.iHeight * (f.wide ? 2 : 1);
    return info.TotalBytes >= need;
}

uint16_t Word(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <bool kWide>
uint32_t Sample(const uint8_t* row, uint32_t x) {
    if constexpr (kWide)
        return Word(row + 2 * size_t{x});
    else
        return row[x];
}

// Sum of the samples [from, to) of a row, every step-th.
template <bool kWide>
uint64_t SumRow(const uint8_t* row, uint32_t from, uint32_t to, uint32_t step) {
    uint64_t sum = 0;
    for (uint32_t x = from; x < to; x += step) sum += Sample<kWide>(row, x);
    return sum;
}

uint8_t Byte(uint64_t v) {
    return static_cast<uint8_t>(std::min<uint64_t>(v, 255));
}

// ---- Histograms ------------------------------------------------------------------------------

constexpr int kBins = CameraExposure::RGBRANGE;
constexpr int kCopies = 2;  // per channel: consecutive samples of a channel count apart
enum Channel { kRed = 0, kGreen1 = 1, kGreen2 = 2, kBlue = 3 };

// The bin of every sample value of one channel: black offset off, white-balance gain applied
// (except at exactly 100 %), at most 255. Indexed by the 8-bit sample, or by the 12-bit sample
// shifted right by 4.
void MakeBins(uint8_t* bins, int values, int blackOffset, uint32_t gain) {
    for (int v = 0; v < values; ++v) {
        int64_t x = v <= blackOffset ? 0 : int64_t{v} - blackOffset;
        if (gain != 100) x = x * gain / 100;
        bins[v] = static_cast<uint8_t>(std::min<int64_t>(x, kBins - 1));
    }
}

using Histograms = uint32_t[4][kCopies][kBins];

// One row's samples [left, right) as pairs: the first of each pair into channel a, the second
// into channel b.
template <bool kWide>
void CountPairs(const uint8_t* row, uint32_t left, uint32_t right, const uint8_t* binsA,
                const uint8_t* binsB, uint32_t (*a)[kBins], uint32_t (*b)[kBins]) {
    auto bin = [&](const uint8_t* bins, uint32_t x) -> uint8_t {
        if constexpr (kWide) {
            return bins[Word(row + 2 * size_t{x}) >> 4];  // 4096 entries
        } else {
            return bins[row[x]];
        }
    };
    uint32_t x = left;
    for (; x + 4 <= right; x += 4) {
        ++a[0][bin(binsA, x)];
        ++b[0][bin(binsB, x + 1)];
        ++a[1][bin(binsA, x + 2)];
        ++b[1][bin(binsB, x + 3)];
    }
    for (; x + 2 <= right; x += 2) {
        ++a[0][bin(binsA, x)];
        ++b[0][bin(binsB, x + 1)];
    }
    if (x < right) ++a[0][bin(binsA, x)];
}

}  // namespace

// ---- Mean --------------------------------------------------------------------------------------

int CameraExposure::StatisticsMean(const uint8_t* raw, const stImageInfo* info,
                                   uint8_t* brightness) {
    Lock lock(m_mutex);
    if (raw == nullptr || info == nullptr) return -6;
    const Format f = FormatOf(info->uiMediaType);
    const uint32_t width = info->iWidth, height = info->iHeight;
    const uint64_t n = uint64_t{width} * height;
    uint8_t result = 0;
    std::memset(m_channelStats, 0, sizeof m_channelStats);
    if (f.layout == Layout::kNone || n == 0) {
        if (brightness != nullptr) *brightness = 0;
        return 0;
    }
    if (!Holds(*info, f)) return -8;
    const size_t stride = size_t{width} * (f.wide ? 2 : 1);
    if (f.layout == Layout::kMono) {
        uint64_t sum = 0;
        for (uint32_t y = 0; y < height; ++y)
            sum += f.wide ? SumRow<true>(raw + y * stride, 0, width, 1)
                          : SumRow<false>(raw + y * stride, 0, width, 1);
        const uint64_t mean = sum / n;
        result = Byte(f.wide ? mean >> 4 : mean);
    } else {
        uint64_t red = 0, green = 0, blue = 0;
        for (uint32_t y = 0; y < height; ++y) {
            const uint8_t* row = raw + y * stride;
            auto sum = [&](uint32_t from) {
                return f.wide ? SumRow<true>(row, from, width, 2)
                              : SumRow<false>(row, from, width, 2);
            };
            if (y % 2 == 0) {
                green += sum(0);
                red += sum(1);
            } else {
                blue += sum(0);
                green += sum(1);
            }
        }
        const uint64_t r = 4 * red / n, g = 2 * green / n, b = 4 * blue / n;
        const int shift = f.wide ? 12 : 8;
        result = Byte((150 * g + 76 * r + 29 * b) >> shift);
        const int statShift = f.wide ? 4 : 0;
        m_channelStats[0] = Byte(r >> statShift);
        m_channelStats[1] = m_channelStats[2] = m_channelStats[3] = Byte(g >> statShift);
        m_channelStats[4] = Byte(b >> statShift);
    }
    if (brightness != nullptr) *brightness = result;
    return 0;
}

// ---- Zones -------------------------------------------------------------------------------------

int CameraExposure::StatisticsZone(const uint8_t* raw, const stImageInfo* info, int noDivide,
                                   uint8_t* brightness) {
    Lock lock(m_mutex);
    if (raw == nullptr || info == nullptr) return -6;
    const Format f = FormatOf(info->uiMediaType);
    if (f.layout == Layout::kNone) {
        if (brightness != nullptr) *brightness = 0;
        return 0;
    }
    if (!Holds(*info, f)) return -8;
    // Centre-weighted: the middle counts four times, the edges twice, the corners once.
    static constexpr int kWeight[3][3] = {{1, 2, 1}, {2, 4, 2}, {1, 2, 1}};
    const bool bayer = f.layout == Layout::kBayer;
    // Zones in cells: 2 x 2 blocks for Bayer, pixels for mono.
    const uint32_t cell = bayer ? 2 : 1;
    const uint32_t cellsW = info->iWidth / cell, cellsH = info->iHeight / cell;
    const uint32_t zw = cellsW / 3, zh = cellsH / 3;
    if (zw == 0 || zh == 0) return -8;  // smaller than one cell per zone
    const uint32_t x0 = (cellsW - 3 * zw) / 2, y0 = (cellsH - 3 * zh) / 2;
    const size_t stride = size_t{info->iWidth} * (f.wide ? 2 : 1);

    // Per zone: red, green (both), blue for Bayer; the sum in [1] for mono.
    uint64_t sums[3][3][3] = {};
    for (uint32_t zr = 0; zr < 3; ++zr) {
        for (uint32_t cy = y0 + zr * zh; cy < y0 + (zr + 1) * zh; ++cy) {
            for (uint32_t zc = 0; zc < 3; ++zc) {
                const uint32_t from = (x0 + zc * zw) * cell, to = (x0 + (zc + 1) * zw) * cell;
                uint64_t* s = sums[zr][zc];
                if (!bayer) {
                    const uint8_t* row = raw + cy * stride;
                    s[1] +=
                        f.wide ? SumRow<true>(row, from, to, 1) : SumRow<false>(row, from, to, 1);
                    continue;
                }
                const uint8_t* even = raw + 2 * cy * stride;
                const uint8_t* odd = even + stride;
                auto sum = [&](const uint8_t* row, uint32_t start) {
                    return f.wide ? SumRow<true>(row, start, to, 2)
                                  : SumRow<false>(row, start, to, 2);
                };
                s[1] += sum(even, from) + sum(odd, from + 1);
                s[0] += sum(even, from + 1);
                s[2] += sum(odd, from);
            }
        }
    }
    const uint64_t n = uint64_t{zw} * zh;
    uint64_t weighted = 0;
    for (int zr = 0; zr < 3; ++zr) {
        for (int zc = 0; zc < 3; ++zc) {
            const uint64_t* s = sums[zr][zc];
            uint64_t value;
            if (bayer) {
                const uint64_t r = s[0] / n, g = s[1] / (2 * n), b = s[2] / n;
                value = (76 * r + 150 * g + 29 * b) >> (f.wide ? 12 : 8);
            } else {
                value = s[1] / n;
                if (f.wide) value >>= 4;
            }
            weighted += kWeight[zr][zc] * value;
        }
    }
    if (brightness != nullptr) *brightness = Byte(noDivide != 0 ? weighted : weighted >> 4);
    return 0;
}

// ---- Histograms --------------------------------------------------------------------------------

int CameraExposure::StatisticsHist(const uint8_t* raw, const stImageInfo* info,
                                   uint8_t* brightness) {
    Lock lock(m_mutex);
    if (raw == nullptr || info == nullptr) return -6;
    return HistogramOfRegion(raw, *info, 0, 0, info->iWidth, info->iHeight, brightness);
}

int CameraExposure::StatisticsHistWindow(const uint8_t* raw, const stImageInfo* info,
                                         uint8_t* brightness) {
    Lock lock(m_mutex);
    if (raw == nullptr || info == nullptr) return -6;
    const int64_t width = info->iWidth, height = info->iHeight;
    const int* w = m_active.window;
    // The window's part of the frame; one that starts beyond the frame leaves nothing, and the
    // whole frame is measured.
    const int64_t left = std::min<int64_t>(std::max(w[0], 0), width);
    const int64_t top = std::min<int64_t>(std::max(w[1], 0), height);
    const int64_t right = std::clamp<int64_t>(int64_t{w[0]} + std::max(w[2], 0), left, width);
    const int64_t bottom = std::clamp<int64_t>(int64_t{w[1]} + std::max(w[3], 0), top, height);
    return HistogramOfRegion(raw, *info, static_cast<uint32_t>(left), static_cast<uint32_t>(top),
                             static_cast<uint32_t>(right), static_cast<uint32_t>(bottom),
                             brightness);
}

int CameraExposure::HistogramOfRegion(const uint8_t* raw, const stImageInfo& info, uint32_t left,
                                      uint32_t top, uint32_t right, uint32_t bottom,
                                      uint8_t* brightness) {
    const Format f = FormatOf(info.uiMediaType);
    if (f.layout == Layout::kNone) return -4;
    if (!Holds(info, f)) return -8;
    const bool bayer = f.layout == Layout::kBayer;
    // A region without a whole cell (a 2 x 2 block for Bayer) measures the whole frame; each
    // histogram's pixel count is the region's, so the shares add up to the region.
    const uint32_t cell = bayer ? 2 : 1;
    if ((right - left) / cell == 0 || (bottom - top) / cell == 0) {
        left = top = 0;
        right = info.iWidth;
        bottom = info.iHeight;
        if (right / cell == 0 || bottom / cell == 0) return -8;
    }
    const uint32_t countW = (right - left) / cell, countH = (bottom - top) / cell;

    const int values = f.wide ? 4096 : 256;
    const int offset = m_active.blackOffset;
    uint8_t bins[3][4096];  // red, green, blue; mono uses the green one
    if (bayer) {
        MakeBins(bins[0], values, offset, m_wbGains[0]);
        MakeBins(bins[1], values, offset, m_wbGains[1]);
        MakeBins(bins[2], values, offset, m_wbGains[2]);
    } else {
        MakeBins(bins[1], values, offset, 100);
    }

    Histograms h = {};
    const size_t stride = size_t{info.iWidth} * (f.wide ? 2 : 1);
    for (uint32_t y = top; y < bottom; ++y) {
        const uint8_t* row = raw + y * stride;
        Channel a, b;
        const uint8_t *binsA, *binsB;
        if (!bayer) {
            // Mono: every sample into one histogram, spread over its copies.
            a = kGreen1;
            b = kGreen2;
            binsA = binsB = bins[1];
        } else if (y % 2 == 0) {
            a = kGreen1;
            b = kRed;
            binsA = bins[1];
            binsB = bins[0];
        } else {
            a = kBlue;
            b = kGreen2;
            binsA = bins[2];
            binsB = bins[1];
        }
        if (f.wide)
            CountPairs<true>(row, left, right, binsA, binsB, h[a], h[b]);
        else
            CountPairs<false>(row, left, right, binsA, binsB, h[a], h[b]);
    }
    uint32_t merged[4][kBins];
    for (int c = 0; c < 4; ++c)
        for (int i = 0; i < kBins; ++i) merged[c][i] = h[c][0][i] + h[c][1][i];

    if (!bayer) {
        for (int i = 0; i < kBins; ++i) merged[kGreen1][i] += merged[kGreen2][i];
        const uint8_t level = Byte(
            static_cast<uint64_t>(AnalyzePeaks(countW, countH, merged[kGreen1], nullptr, nullptr)));
        std::memset(m_channelStats, level, sizeof m_channelStats);
        if (brightness != nullptr) *brightness = level;
        return 0;
    }
    const uint64_t r = AnalyzePeaks(countW, countH, merged[kRed], nullptr, nullptr);
    const uint64_t g1 = AnalyzePeaks(countW, countH, merged[kGreen1], nullptr, nullptr);
    const uint64_t g2 = AnalyzePeaks(countW, countH, merged[kGreen2], nullptr, nullptr);
    const uint64_t b = AnalyzePeaks(countW, countH, merged[kBlue], nullptr, nullptr);
    const uint64_t g = (g1 + g2) >> 1;
    m_channelStats[0] = Byte(r);
    m_channelStats[1] = Byte(g);
    m_channelStats[2] = Byte(g1);
    m_channelStats[3] = Byte(g2);
    m_channelStats[4] = Byte(b);
    if (brightness != nullptr) *brightness = Byte((76 * r + 150 * g + 29 * b) >> 8);
    return 0;
}

// ---- Peak analysis -----------------------------------------------------------------------------

int CameraExposure::AnalyzePeaks(uint32_t width, uint32_t height,
                                 const uint32_t histogram[RGBRANGE], uint8_t* peakCount,
                                 Peak peaks[3]) {
    // 85 groups of three bins (the first takes bins 0 to 3), and group 85, which is empty, as
    // the end of a run still open at the last group.
    constexpr int kGroups = 85;
    uint64_t groups[kGroups + 1] = {};
    for (int k = 0; k < kGroups; ++k) {
        const int first = k == 0 ? 0 : 3 * k + 1;
        for (int i = first; i <= 3 * k + 3; ++i) groups[k] += histogram[i];
    }
    const uint64_t n = uint64_t{width} * height;
    if (peakCount != nullptr) *peakCount = 0;
    if (n == 0) return 0;
    const uint64_t litAbove = n / 200;  // a group is lit above 0.5 % of the pixels
    const uint64_t peakAbove = n / 20;  // a run is a peak above 5 %

    struct Run {
        int start, end;
    };
    Run found[3];
    int count = 0;
    auto keep = [&](Run run) {
        // A fourth or later peak takes the place of the third.
        if (count < 3)
            found[count++] = run;
        else
            found[2] = run;
    };
    bool open = false;
    int start = 0, unlit = 0;
    uint64_t accumulated = 0;
    for (int k = 0; k < kGroups; ++k) {
        const bool lit = groups[k] > litAbove;
        if (!open) {
            if (!lit) continue;
            open = true;
            start = k;
            unlit = 0;
            accumulated = 0;
        }
        if (lit) {
            unlit = 0;
            accumulated += groups[k];
            continue;
        }
        // Three unlit groups in a row are a gap inside the run; the fourth ends it.
        if (++unlit == 4) {
            if (accumulated > peakAbove) keep({start, k - 3});
            open = false;
        }
    }
    if (open) keep({start, kGroups});

    uint64_t weighted = 0;
    for (int p = 0; p < count; ++p) {
        uint64_t total = 0;
        double levelSum = 0;
        for (int k = found[p].start; k <= found[p].end; ++k) {
            total += groups[k];
            levelSum += static_cast<double>(3 * k + 1) * static_cast<double>(groups[k]);
        }
        const auto level = static_cast<uint64_t>(levelSum / static_cast<double>(total));
        const uint64_t share = total * 100 / n;
        weighted += level * share;
        if (peaks != nullptr)
            peaks[p] = {found[p].start * 3, std::min(found[p].end * 3, 255),
                        static_cast<int>(level), static_cast<int>(share)};
    }
    if (peakCount != nullptr) *peakCount = static_cast<uint8_t>(count);
    return static_cast<int>(std::min<uint64_t>(weighted / 100, 255));
}
