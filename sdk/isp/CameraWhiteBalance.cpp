#include "CameraWhiteBalance.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "common/Log.h"
#include "control/CameraSettings.h"

namespace {

constexpr uint32_t kBayer8 = 0x01080008u;
constexpr uint32_t kBayer12 = 0x01100010u;
// White dots have a luma up to this, and at least kLowLuma over the whole frame.
constexpr int kHighLuma = 199;
constexpr int kLowLuma = 21;

// Red, green (mean of the two) and blue of the 2 x 2 block whose first green is at (x, y), on
// the 8-bit scale, less the black offset.
struct Block {
    int r, g, b;
};

inline uint32_t Word(const uint8_t* row, int x) {
    uint16_t v;
    std::memcpy(&v, row + 2 * x, 2);
    return v;
}

template <int kSampleBytes>
inline Block ReadBlock(const uint8_t* raw, size_t rowBytes, int x, int y, int offset) {
    const uint8_t* top = raw + static_cast<size_t>(y) * rowBytes;
    const uint8_t* bottom = top + rowBytes;
    int r, g, b;
    if constexpr (kSampleBytes == 1) {
        r = top[x + 1];
        b = bottom[x];
        g = (top[x] + bottom[x + 1]) >> 1;
    } else {
        // 12-bit samples, held to 4095 like everywhere in the pipeline.
        r = static_cast<int>(std::min<uint32_t>(Word(top, x + 1), 4095)) >> 4;
        b = static_cast<int>(std::min<uint32_t>(Word(bottom, x), 4095)) >> 4;
        g = static_cast<int>(std::min<uint32_t>(Word(top, x), 4095) +
                             std::min<uint32_t>(Word(bottom, x + 1), 4095)) >>
            5;
    }
    auto less = [offset](int v) { return v > offset ? v - offset : 0; };
    return {less(r), less(g), less(b)};
}

// Centre of the acceptance window: one spread further from neutral.
inline int PushedCentre(int mean, int spread) {
    return mean > 0 ? mean + spread : (mean < 0 ? mean - spread : mean);
}

}  // namespace

CameraWhiteBalance::CameraWhiteBalance() = default;

CameraWhiteBalance::~CameraWhiteBalance() = default;

int CameraWhiteBalance::LoadParameter(const CameraSettings& settings, int autoFlag, int onceFlag,
                                      uint32_t redMin, uint32_t redMax, uint32_t greenMin,
                                      uint32_t greenMax, uint32_t blueMin, uint32_t blueMax) {
    Lock lock(m_mutex);
    Settings s;
    s.wbMode = settings.wbMode;
    LoadWindow(s, settings.wbWindow);
    LoadSettings(s);
    for (int c = 0; c < 3; ++c) {
        const auto gain = static_cast<uint16_t>(settings.rgbGain[c]);
        m_currentGains[c] = m_startGains[c] = m_targetGains[c] = gain;
    }
    const uint32_t ranges[6] = {redMin, redMax, greenMin, greenMax, blueMin, blueMax};
    for (int i = 0; i < 6; ++i) m_gainRanges[i] = ranges[i];
    m_smoothStep = 1;
    m_autoFlag = autoFlag;
    m_onceFlag = onceFlag;
    return 0;
}

int CameraWhiteBalance::SetFrameInterval(uint32_t n) {
    Lock lock(m_mutex);
    m_frameInterval = n;
    return 0;
}

void CameraWhiteBalance::ApplyPending() {
    if (m_dirty == kDirtyNone) return;
    Settings& a = m_active;
    Settings& p = m_pending;
    a.wbMode = p.wbMode;
    if (p.onceRequest != a.onceRequest) {
        if (a.wbMode != 0) {
            // Automatic white balance is on: a one-shot request has nothing to do.
            p.onceRequest = a.onceRequest;
        } else if (p.onceRequest != 0) {
            a.onceRequest = 1;
            p.onceRequest = 0;
        }
    }
    ApplyPendingWindow();
    a.blackOffset = p.blackOffset;
    m_dirty = kDirtyNone;
}

int CameraWhiteBalance::ProcessFrame(const uint8_t* raw, const stImageInfo* info, uint32_t* redGain,
                                     uint32_t* greenGain, uint32_t* blueGain, int statisticsFlag,
                                     int brightness) {
    (void)brightness;
    Lock lock(m_mutex);
    ApplyPending();
    const Settings& a = m_active;
    if (a.wbMode == 1 && m_autoFlag == 1) {
        const uint32_t counter = m_frameCounter;
        m_frameCounter = counter + 1;
        if (counter >= m_frameInterval) {
            m_frameCounter = 0;
            if (statisticsFlag == 1) {
                if (a.windowEnabled)
                    FindWhiteDotsInWindow(raw, info);
                else
                    FindWhiteDots(raw, info);
            }
        }
        Smooth(redGain, greenGain, blueGain);
    } else if (a.onceRequest != 0 && m_onceFlag == 1) {
        // The whole frame, whatever the window; the result at once.
        FindWhiteDots(raw, info);
        if (redGain != nullptr) *redGain = m_targetGains[0];
        if (greenGain != nullptr) *greenGain = m_targetGains[1];
        if (blueGain != nullptr) *blueGain = m_targetGains[2];
        m_active.onceRequest = 0;
    }
    return 0;
}

void CameraWhiteBalance::Smooth(uint32_t* red, uint32_t* green, uint32_t* blue) {
    uint32_t* out[3] = {red, green, blue};
    for (int c = 0; c < 3; ++c) {
        m_startGains[c] = m_currentGains[c];
        const int current = m_currentGains[c];
        const int target = m_targetGains[c];
        if (current != target) {
            int next =
                static_cast<int>(std::trunc(current + (target - current) * m_smoothStep / 3.0));
            // A step too small to move takes the target itself.
            if (next == current) next = target;
            m_currentGains[c] = static_cast<uint16_t>(next);
        }
        if (out[c] != nullptr) *out[c] = m_currentGains[c];
    }
    m_smoothStep = std::min(m_smoothStep + 1, 3);
}

int CameraWhiteBalance::FindWhiteDots(const uint8_t* raw, const stImageInfo* info) {
    if (raw == nullptr || info == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    Lock lock(m_mutex);
    return Measure(raw, *info, 0, 0, static_cast<int>(std::min<UINT>(info->iWidth, 65535) / 2),
                   static_cast<int>(std::min<UINT>(info->iHeight, 65535) / 2), kLowLuma);
}

int CameraWhiteBalance::FindWhiteDotsInWindow(const uint8_t* raw, const stImageInfo* info) {
    if (raw == nullptr || info == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    Lock lock(m_mutex);
    // The window in whole blocks: left and top, right and bottom edges rounded up to even,
    // then clipped to the frame. A window that keeps no whole block measures nothing.
    const int64_t W = std::min<UINT>(info->iWidth, 65535);
    const int64_t H = std::min<UINT>(info->iHeight, 65535);
    auto up = [](int64_t v) { return v + (v & 1); };
    const int* w = m_active.window;
    const int64_t left = std::max<int64_t>(up(w[0]), 0);
    const int64_t top = std::max<int64_t>(up(w[1]), 0);
    const int64_t right = std::min(up(static_cast<int64_t>(up(w[0])) + w[2]), W);
    const int64_t bottom = std::min(up(static_cast<int64_t>(up(w[1])) + w[3]), H);
    const int64_t blocksX = right > left ? (right - left) / 2 : 0;
    const int64_t blocksY = bottom > top ? (bottom - top) / 2 : 0;
    return Measure(raw, *info, static_cast<int>(left / 2), static_cast<int>(top / 2),
                   static_cast<int>(blocksX), static_cast<int>(blocksY), 0);
}

namespace {

// What one measurement found: the white dots and the mean colour of the brightest of them.
struct WhiteDotResult {
    int64_t dots = 0;
    int spreadU = 0;
    int spreadV = 0;
    int64_t meanR = 1, meanG = 1, meanB = 1;
};

// The statistics over bh rows of bw blocks from block (bx0, by0). `records` holds 3 x bw x bh
// values.
template <int kSampleBytes>
WhiteDotResult MeasureBlocks(const uint8_t* raw, size_t rowBytes, int bx0, int by0, int bw, int bh,
                             int lowLuma, int offset, int32_t* __restrict records) {
    WhiteDotResult result;
    const int64_t blocks = static_cast<int64_t>(bw) * bh;
    const size_t count = static_cast<size_t>(blocks) * 3;
    auto rowOf = [&](int by) { return raw + static_cast<size_t>(2 * (by0 + by)) * rowBytes; };

    // Records and the mean colour.
    int64_t sumU = 0, sumV = 0;
    int32_t* rec = records;
    for (int by = 0; by < bh; ++by) {
        const uint8_t* top = rowOf(by);
        for (int bx = 0; bx < bw; ++bx, rec += 3) {
            const Block k = ReadBlock<kSampleBytes>(top, rowBytes, 2 * (bx0 + bx), 0, offset);
            const int32_t u = (111 * k.b - 37 * k.r - 74 * k.g) >> 8;
            const int32_t v = (157 * k.r - 131 * k.g - 26 * k.b) >> 8;
            rec[0] = (150 * k.g + 76 * k.r + 29 * k.b) >> 8;
            rec[1] = u;
            rec[2] = v;
            sumU += u;
            sumV += v;
        }
    }
    const int mU = static_cast<int>(sumU / blocks);
    const int mV = static_cast<int>(sumV / blocks);

    // Spread: the mean distance from the mean over the blocks that differ from it.
    int64_t distU = 0, distV = 0, countU = 0, countV = 0;
    for (size_t j = 0; j < count; j += 3) {
        const int du = std::abs(records[j + 1] - mU);
        const int dv = std::abs(records[j + 2] - mV);
        distU += du;
        distV += dv;
        countU += du != 0;
        countV += dv != 0;
    }
    const int dU = countU ? static_cast<int>(distU / countU) : 0;
    const int dV = countV ? static_cast<int>(distV / countV) : 0;
    result.spreadU = dU;
    result.spreadV = dV;
    const float tU = std::max(3.0f, 1.5f * static_cast<float>(dU));
    const float tV = std::max(3.0f, 1.5f * static_cast<float>(dV));
    const int cU = PushedCentre(mU, dU);
    const int cV = PushedCentre(mV, dV);

    // White dots, counted by luma; every other block's luma becomes 0.
    uint32_t histogram[256] = {};
    int64_t n = 0;
    for (size_t j = 0; j < count; j += 3) {
        const int y = records[j];
        const bool white = y >= lowLuma && y <= kHighLuma &&
                           static_cast<float>(std::abs(records[j + 1] - cU)) < tU &&
                           static_cast<float>(std::abs(records[j + 2] - cV)) < tV;
        if (white) {
            ++histogram[y];
            ++n;
        } else {
            records[j] = 0;
        }
    }
    result.dots = n;
    if (n <= blocks / 20) return result;

    // The brightest tenth: the luma from which, walking down from 200, the counts exceed it.
    int threshold = 0;
    int64_t sum = 0;
    for (int level = 200; level >= 0; --level) {
        sum += histogram[level];
        if (static_cast<double>(sum) > 0.1 * static_cast<double>(n)) {
            threshold = level;
            break;
        }
    }
    int64_t sumR = 0, sumG = 0, sumB = 0, selected = 0;
    rec = records;
    for (int by = 0; by < bh; ++by) {
        const uint8_t* top = rowOf(by);
        for (int bx = 0; bx < bw; ++bx, rec += 3) {
            if (rec[0] < threshold) continue;
            const Block k = ReadBlock<kSampleBytes>(top, rowBytes, 2 * (bx0 + bx), 0, offset);
            sumR += k.r;
            sumG += k.g;
            sumB += k.b;
            ++selected;
        }
    }
    // Every mean of 0 counts as 1.
    result.meanR = std::max<int64_t>(sumR / selected, 1);
    result.meanG = std::max<int64_t>(sumG / selected, 1);
    result.meanB = std::max<int64_t>(sumB / selected, 1);
    return result;
}

}  // namespace

int CameraWhiteBalance::Measure(const uint8_t* raw, const stImageInfo& info, int bx0, int by0,
                                int bw, int bh, int lowLuma) {
    const uint32_t type = info.uiMediaType;
    if (type != kBayer8 && type != kBayer12) return CAMERA_STATUS_NOT_SUPPORTED;
    const int sampleBytes = type == kBayer12 ? 2 : 1;
    const uint64_t W = info.iWidth;
    const uint64_t H = info.iHeight;
    if (W * H * static_cast<uint64_t>(sampleBytes) > info.TotalBytes)
        return CAMERA_STATUS_DATA_INVALID;
    const int64_t blocks = static_cast<int64_t>(bw) * bh;
    if (blocks <= 0) return CAMERA_STATUS_DATA_INVALID;
    const size_t need = static_cast<size_t>(blocks) * 3;
    if (m_whiteDots.size() < need) m_whiteDots.resize(need);
    const size_t rowBytes = static_cast<size_t>(W) * sampleBytes;
    const int offset = m_active.blackOffset;
    const WhiteDotResult r =
        sampleBytes == 1
            ? MeasureBlocks<1>(raw, rowBytes, bx0, by0, bw, bh, lowLuma, offset, m_whiteDots.data())
            : MeasureBlocks<2>(raw, rowBytes, bx0, by0, bw, bh, lowLuma, offset,
                               m_whiteDots.data());
    if (r.dots <= blocks / 20) {
        for (int c = 0; c < 3; ++c) m_targetGains[c] = m_startGains[c];
        m_smoothStep = 1;
        qv::Log("===NONE WhiteDot====   Dr:%d,Db:%d,rate:%d\n", r.spreadU, r.spreadV,
                static_cast<int>(r.dots * 100 / blocks));
        return 0;
    }
    // Green stays at 100; red and blue match it, within their ranges.
    const auto red = static_cast<uint16_t>(100 * r.meanG / r.meanR);
    const auto blue = static_cast<uint16_t>(100 * r.meanG / r.meanB);
    auto limit = [](uint16_t v, uint32_t lo, uint32_t hi) {
        if (v > hi) return static_cast<uint16_t>(hi);
        if (v < lo) return static_cast<uint16_t>(lo);
        return v;
    };
    m_targetGains[0] = limit(red, m_gainRanges[0], m_gainRanges[1]);
    m_targetGains[1] = 100;
    m_targetGains[2] = limit(blue, m_gainRanges[4], m_gainRanges[5]);
    m_smoothStep = 1;
    return 0;
}

int CameraWhiteBalance::GetTargetGains(uint32_t* red, uint32_t* green, uint32_t* blue) const {
    Lock lock(m_mutex);
    if (red != nullptr) *red = m_targetGains[0];
    if (green != nullptr) *green = m_targetGains[1];
    if (blue != nullptr) *blue = m_targetGains[2];
    return 0;
}

size_t CameraWhiteBalance::WhiteDotCapacity() const {
    Lock lock(m_mutex);
    return m_whiteDots.capacity();
}

int CameraWhiteBalance::CWB_CameraSetWbMode(int mode) {
    return SetPending(&Settings::wbMode, mode, kDirtyWbMode);
}

int CameraWhiteBalance::CWB_CameraSetOnceWB() {
    return SetPending(&Settings::onceRequest, 1, kDirtyOnceWb);
}

int CameraWhiteBalance::CWB_CameraSetWbWindow(int left, int top, int width, int height) {
    // Whole 2 x 2 Bayer cells in both directions.
    return SetPendingWindow(left, top, width, height & ~1, kDirtyWbWindow);
}

int CameraWhiteBalance::SetBlackOffset(int offset) {
    return SetPending(&Settings::blackOffset, offset, kDirtyBlackOffset);
}

int CameraWhiteBalance::CWB_CameraGetWbMode() const {
    return GetActive(&Settings::wbMode);
}

int CameraWhiteBalance::CWB_CameraGetWbWindow(int* left, int* top, int* width, int* height) const {
    return GetWindow(left, top, width, height);
}

bool CameraWhiteBalance::CWB_CameraGetOnceWB() const {
    Lock lock(m_mutex);
    return m_active.onceRequest != 0;
}

int CameraWhiteBalance::GetCurrentGains(uint32_t* red, uint32_t* green, uint32_t* blue) const {
    Lock lock(m_mutex);
    if (red != nullptr) *red = m_currentGains[0];
    if (green != nullptr) *green = m_currentGains[1];
    if (blue != nullptr) *blue = m_currentGains[2];
    return 0;
}

int CameraWhiteBalance::GetGainRanges(uint32_t ranges[6]) const {
    Lock lock(m_mutex);
    for (int i = 0; i < 6; ++i) ranges[i] = m_gainRanges[i];
    return 0;
}

uint32_t CameraWhiteBalance::GetFrameInterval() const {
    Lock lock(m_mutex);
    return m_frameInterval;
}
