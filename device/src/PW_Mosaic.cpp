#include "PW_Mosaic.h"

#include <emmintrin.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

using Clock = std::chrono::steady_clock;

// A pixel counts as changed when it is brighter than the background by more than this.
constexpr int kChangeThreshold = 28;
// A foot is present when more changed pixels than this lie inside the counting window.
constexpr int kPresenceCount = 1500;
// A frame is quiet when its count grew by less than this over the last frame without a foot.
constexpr int kQuietStep = 50;
// Quiet frames in a row after which the background is learned again.
constexpr int kRelearnFrames = 7;
// How long a foot may stand before the accumulation starts over.
constexpr auto kTimeLimit = std::chrono::seconds(6);

bool MOSAIC_flag = false;
int IMAGEWIDTH = 0;
int IMAGEHEIGHT = 0;
unsigned char* buf = nullptr;
unsigned char* background = nullptr;
unsigned char* buf_image = nullptr;
unsigned char* temp_image = nullptr;
int cst = 0;
int cstold = 0;
int th1 = 0;
int th2 = 0;
uint8_t FramCnt = 0;
bool ch_flg = false;
// Whether the seconds of a foot are being counted, and since when. Only the sole thread reads
// and writes them.
bool t_flag = false;
Clock::time_point t_start;

// Set by a test while the sole thread may be reading it.
std::atomic<MosaicClock> g_clock{nullptr};

Clock::time_point Now() {
    const MosaicClock clock = g_clock.load(std::memory_order_relaxed);
    return clock != nullptr ? clock() : Clock::now();
}

void FreeImages() {
    for (unsigned char** image : {&buf, &background, &buf_image, &temp_image}) {
        delete[] * image;
        *image = nullptr;
    }
}

// Copies `in` to buf and writes the saturated difference buf - background to buf_image, 16
// pixels at a time. The difference is what both the count and the accumulation need, so one
// pass over the frame serves both.
void CopyAndSubtract(const unsigned char* in, size_t n) {
    size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(background + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(buf + i), v);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(buf_image + i), _mm_subs_epu8(v, b));
    }
    for (; i < n; ++i) {
        buf[i] = in[i];
        buf_image[i] =
            in[i] > background[i] ? static_cast<unsigned char>(in[i] - background[i]) : 0;
    }
}

// Pixels of buf_image above the change threshold inside the window. A saturated difference
// above 28 is exactly "brighter by more than 28": a darker pixel gives 0, never a wrapped value.
int CountChanged(int width, int height) {
    const __m128i threshold = _mm_set1_epi8(static_cast<char>(kChangeThreshold + 1));
    const __m128i ones = _mm_set1_epi8(1);
    __m128i sums = _mm_setzero_si128();
    int tail = 0;
    for (int y = th2; y < height - th2; ++y) {
        const unsigned char* row = buf_image + static_cast<size_t>(y) * width;
        int x = th1;
        for (; x + 16 <= width - th1; x += 16) {
            const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
            // d >= 29 exactly where max(d, 29) == d.
            const __m128i hit = _mm_cmpeq_epi8(_mm_max_epu8(d, threshold), d);
            sums = _mm_add_epi64(sums, _mm_sad_epu8(_mm_and_si128(hit, ones), _mm_setzero_si128()));
        }
        for (; x < width - th1; ++x) tail += row[x] > kChangeThreshold;
    }
    return tail + _mm_cvtsi128_si32(sums) + _mm_cvtsi128_si32(_mm_srli_si128(sums, 8));
}

// temp_image := max(temp_image, buf_image); out := temp_image.
void Accumulate(unsigned char* out, size_t n) {
    size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf_image + i));
        const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(temp_image + i));
        const __m128i m = _mm_max_epu8(t, d);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(temp_image + i), m);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), m);
    }
    for (; i < n; ++i) {
        if (buf_image[i] > temp_image[i]) temp_image[i] = buf_image[i];
        out[i] = temp_image[i];
    }
}

}  // namespace

void MOSAIC_SetClock(MosaicClock clock) {
    g_clock.store(clock, std::memory_order_relaxed);
}

int MOSAIC_Init(int nWidth, int nHeight) {
    if (MOSAIC_flag) return 1;
    if (nWidth <= 0 || nHeight <= 0) return -1;

    const size_t n = static_cast<size_t>(nWidth) * static_cast<size_t>(nHeight);
    for (unsigned char** image : {&buf, &background, &buf_image, &temp_image}) {
        *image = new (std::nothrow) unsigned char[n]();
        if (*image == nullptr) {
            FreeImages();
            return -1;
        }
    }
    MOSAIC_flag = true;
    IMAGEWIDTH = nWidth;
    IMAGEHEIGHT = nHeight;
    t_flag = false;
    ch_flg = false;
    FramCnt = 0;
    cst = 0;
    cstold = 0;
    return 1;
}

int MOSAIC_DoMosaic(unsigned char* pInBuf, unsigned char* pOutBuf, int nWidth, int nHeight) {
    if (!MOSAIC_flag) return -1;
    // The images are sized at initialisation: any other size would read or write past them.
    if (pInBuf == nullptr || pOutBuf == nullptr || nWidth != IMAGEWIDTH || nHeight != IMAGEHEIGHT)
        return -1;

    // Margins of the counting window; 52 columns and 30 rows for an upright 520x1200 sole.
    if (nWidth > nHeight) {
        th1 = nWidth / 40;
        th2 = nHeight / 10;
    } else {
        th1 = nWidth / 10;
        th2 = nHeight / 40;
    }
    const size_t n = static_cast<size_t>(nWidth) * static_cast<size_t>(nHeight);
    CopyAndSubtract(pInBuf, n);
    cst = CountChanged(nWidth, nHeight);

    if (cst > kPresenceCount && ch_flg) {
        const Clock::time_point now = Now();
        if (!t_flag) {
            t_flag = true;
            t_start = now;
        }
        Accumulate(pOutBuf, n);
        if (now - t_start >= kTimeLimit) {
            ch_flg = false;
            t_flag = false;
            std::memset(temp_image, 0, n);
            std::memset(pOutBuf, 0, n);
            puts("Timer expired  times");
            return -2;
        }
        return 1;
    }

    if (!ch_flg) {
        std::memset(pOutBuf, 0, n);
        std::memcpy(background, buf, n);
        ch_flg = true;
    }
    // Cleared on every frame without a foot, however long the foot stood: a count kept over the
    // empty plate would reset the next foot on its first frame.
    t_flag = false;
    if (cst >= cstold + kQuietStep)
        FramCnt = 0;
    else
        ++FramCnt;
    if (FramCnt >= kRelearnFrames) {
        FramCnt = 0;
        ch_flg = true;
        std::memcpy(background, buf, n);
        std::memset(temp_image, 0, n);
    }
    cstold = cst;
    return 0;
}

int MOSAIC_Close() {
    if (!MOSAIC_flag) return -1;
    MOSAIC_flag = false;
    FreeImages();
    return 1;
}
