// The sole thread's image steps: crop and rotation, the contact detector and the contrast
// stretch.
#include <emmintrin.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "Qvcam.h"
#include "TarnLog.h"

namespace {

// A pixel of at least this value touches the glass.
constexpr int binarizationThreshold = 60;
// The detector's windows leave out 60 columns at each side and 80 rows at top and bottom.
constexpr int kMarginColumns = 60;
constexpr int kMarginRows = 80;
// More contact pixels than this start an event.
constexpr int kStartCount = 100;
// More contact pixels than this in the other half allow the shot.
constexpr int upperThreshold = 1000;
constexpr int lowerThreshold = 1000;
// Both halves at this or fewer re-arm the detector after a shot.
constexpr int kReleaseCount = 200;
// Frames in a row without contact in the starting half that abandon the event.
constexpr int kZeroLimit = 3;

// The detector's state, from frame to frame.
int prevUpperForegroundPixels = 0;
int prevLowerForegroundPixels = 0;
int upperDecreaseCount = 0;
int lowerDecreaseCount = 0;
int upperZeroCount = 0;
int lowerZeroCount = 0;
bool hasLowerStarted = false;
bool hasUpperStarted = false;
bool isCase1 = false;
bool isCase2 = false;
bool eventDetected = false;

// Pixels of at least binarizationThreshold in rows [top, bottom) and columns [left, right).
int CountContact(const unsigned char* image, int width, int top, int bottom, int left, int right) {
    const __m128i floor = _mm_set1_epi8(static_cast<char>(binarizationThreshold));
    const __m128i ones = _mm_set1_epi8(1);
    __m128i sums = _mm_setzero_si128();
    int tail = 0;
    for (int y = top; y < bottom; ++y) {
        const unsigned char* row = image + static_cast<size_t>(y) * width;
        int x = left;
        for (; x + 16 <= right; x += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
            const __m128i hit = _mm_cmpeq_epi8(_mm_max_epu8(v, floor), v);  // v >= 60
            sums = _mm_add_epi64(sums, _mm_sad_epu8(_mm_and_si128(hit, ones), _mm_setzero_si128()));
        }
        for (; x < right; ++x) tail += row[x] >= binarizationThreshold;
    }
    return tail + _mm_cvtsi128_si32(sums) + _mm_cvtsi128_si32(_mm_srli_si128(sums, 8));
}

// Everything but the zero counters and eventDetected: what a shot and a re-arm clear.
void ClearEvent() {
    prevUpperForegroundPixels = prevLowerForegroundPixels = 0;
    upperDecreaseCount = lowerDecreaseCount = 0;
    hasLowerStarted = hasUpperStarted = isCase1 = isCase2 = false;
}

// One half's event: the half that touched first (count `own`, its previous count and counters)
// and the other half's count.
bool FollowEvent(int own, int other, int prevOwn, int& zeroCount, int& decreaseCount,
                 int otherThreshold) {
    zeroCount = own != 0 ? 0 : zeroCount + 1;
    if (zeroCount >= kZeroLimit) {
        qvcam_ResetDetector();
        return false;
    }
    decreaseCount = own < prevOwn ? decreaseCount + 1 : 0;
    if (decreaseCount > 0 && other > otherThreshold) {
        TARN_LOG_INFO("抓拍");
        eventDetected = true;
        ClearEvent();
        return true;
    }
    return false;
}

}  // namespace

void qvcam_ResetDetector() {
    ClearEvent();
    upperZeroCount = lowerZeroCount = 0;
    eventDetected = false;
}

void qvcam_processImage(unsigned char* srcImageData, int srcWidth, int srcHeight, int cropX,
                        int cropY, int cropWidth, int cropHeight, bool rotateLeft,
                        unsigned char* dstImageData) {
    if (srcImageData == nullptr || dstImageData == nullptr || cropX < 0 || cropY < 0 ||
        cropWidth <= 0 || cropHeight <= 0 || cropX + cropWidth > srcWidth ||
        cropY + cropHeight > srcHeight)
        return;
    // Destination: cropWidth rows of cropHeight bytes. Walked in tiles, so that both the rows
    // read and the rows written stay in the cache.
    constexpr int kTile = 32;
    const size_t srcStride = static_cast<size_t>(srcWidth);
    const size_t dstStride = static_cast<size_t>(cropHeight);
    for (int y0 = 0; y0 < cropWidth; y0 += kTile) {
        const int y1 = std::min(y0 + kTile, cropWidth);
        for (int x0 = 0; x0 < cropHeight; x0 += kTile) {
            const int x1 = std::min(x0 + kTile, cropHeight);
            for (int y = y0; y < y1; ++y) {
                unsigned char* out = dstImageData + y * dstStride;
                if (!rotateLeft) {
                    // (x, y) <- source row cropY + x, column cropX + cropWidth - 1 - y.
                    const unsigned char* in = srcImageData +
                                              static_cast<size_t>(cropY) * srcStride + cropX +
                                              cropWidth - 1 - y;
                    for (int x = x0; x < x1; ++x) out[x] = in[x * srcStride];
                } else {
                    // (x, y) <- source row cropY + cropHeight - 1 - x, column cropX + y.
                    const unsigned char* in =
                        srcImageData + static_cast<size_t>(cropY + cropHeight - 1) * srcStride +
                        cropX + y;
                    for (int x = x0; x < x1; ++x)
                        out[x] = in[-static_cast<ptrdiff_t>(x * srcStride)];
                }
            }
        }
    }
}

bool qvcam_DetectFullContact(unsigned char* imageData, int width, int height) {
    const int h = height / 2;
    const int left = kMarginColumns;
    const int right = width - kMarginColumns;
    const int upper = CountContact(imageData, width, kMarginRows, h, left, right);
    const int lower = CountContact(imageData, width, h, height - kMarginRows, left, right);

    bool result = false;
    if (!eventDetected) {
        if (!isCase1 && !isCase2) {
            // The lower half (the heel) is tested first.
            if (!hasLowerStarted && lower > kStartCount) {
                hasLowerStarted = true;
                isCase1 = true;
            } else if (!hasUpperStarted && upper > kStartCount) {
                hasUpperStarted = true;
                isCase2 = true;
            }
        }
        if (isCase1)
            result = FollowEvent(lower, upper, prevLowerForegroundPixels, lowerZeroCount,
                                 lowerDecreaseCount, upperThreshold);
        else if (isCase2)
            result = FollowEvent(upper, lower, prevUpperForegroundPixels, upperZeroCount,
                                 upperDecreaseCount, lowerThreshold);
    }
    if (eventDetected && upper <= kReleaseCount && lower <= kReleaseCount) {
        eventDetected = false;
        ClearEvent();
    }
    prevUpperForegroundPixels = upper;
    prevLowerForegroundPixels = lower;
    return result;
}

void qvcam_ContrastStretchingAuto(const unsigned char* srcImage, unsigned char* dstImage, int width,
                                  int height) {
    if (srcImage == nullptr || dstImage == nullptr || width <= 0 || height <= 0) return;
    const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
    __m128i lo = _mm_set1_epi8(static_cast<char>(0xFF));
    __m128i hi = _mm_setzero_si128();
    size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(srcImage + i));
        lo = _mm_min_epu8(lo, v);
        hi = _mm_max_epu8(hi, v);
    }
    uint8_t los[16], his[16];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(los), lo);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(his), hi);
    int smallest = *std::min_element(los, los + 16);
    int largest = *std::max_element(his, his + 16);
    for (; i < n; ++i) {
        smallest = std::min<int>(smallest, srcImage[i]);
        largest = std::max<int>(largest, srcImage[i]);
    }
    if (smallest == largest) {
        smallest = 0;
        largest = 255;
    }
    // The single-precision formula for each of the 256 values, then one lookup per pixel: the
    // same bytes as evaluating it per pixel.
    const float scale = 255.0f / static_cast<float>(largest - smallest);
    uint8_t table[256];
    for (int v = 0; v < 256; ++v) {
        const float stretched = static_cast<float>(v - smallest) * scale;
        const int truncated = static_cast<int>(stretched);
        table[v] = static_cast<uint8_t>(std::clamp(truncated, 0, 255));
    }
    for (i = 0; i < n; ++i) dstImage[i] = table[srcImage[i]];
}
