#include "display/DisplayConvert.h"

#include <tmmintrin.h>

#include <cstring>

namespace qv::display {

namespace {

enum class Kind { kNone, kRgb24, kBgr24, kRgba32, kBgra32, kMono };

Kind KindOf(uint32_t mediaType) {
    const uint32_t bits = CAMERA_MEDIA_TYPE_BITS(mediaType);
    if (bits == 24) return mediaType == CAMERA_MEDIA_TYPE_BGR8 ? Kind::kBgr24 : Kind::kRgb24;
    if (bits == 32) {
        if (mediaType == CAMERA_MEDIA_TYPE_BGRA8) return Kind::kBgra32;
        if (mediaType == CAMERA_MEDIA_TYPE_RGBA8) return Kind::kRgba32;
        return Kind::kNone;
    }
    if ((mediaType & 0xFF000000u) == CAMERA_MEDIA_TYPE_MONO_FLAG) return Kind::kMono;
    return Kind::kNone;
}

// Pixels [from, to) of a contiguous image, one at a time.
void ScalarRun(Kind kind, uint8_t* dst, const uint8_t* src, size_t from, size_t to) {
    switch (kind) {
        case Kind::kRgb24:
            for (size_t i = from; i < to; ++i) {
                const uint8_t* s = src + 3 * i;
                uint8_t* d = dst + 4 * i;
                d[0] = s[2];
                d[1] = s[1];
                d[2] = s[0];
                d[3] = 0;
            }
            break;
        case Kind::kBgr24:
            for (size_t i = from; i < to; ++i) {
                const uint8_t* s = src + 3 * i;
                uint8_t* d = dst + 4 * i;
                d[0] = s[0];
                d[1] = s[1];
                d[2] = s[2];
                d[3] = 0;
            }
            break;
        case Kind::kRgba32:
            for (size_t i = from; i < to; ++i) {
                const uint8_t* s = src + 4 * i;
                uint8_t* d = dst + 4 * i;
                d[0] = s[2];
                d[1] = s[1];
                d[2] = s[0];
                d[3] = s[3];
            }
            break;
        case Kind::kBgra32:
            std::memcpy(dst + 4 * from, src + 4 * from, 4 * (to - from));
            break;
        case Kind::kMono:
            for (size_t i = from; i < to; ++i) {
                uint8_t* d = dst + 4 * i;
                d[0] = d[1] = d[2] = src[i];
                d[3] = 0;
            }
            break;
        case Kind::kNone:
            break;
    }
}

// Shuffle masks: output byte n takes input byte mask[n]; 0x80 gives a zero byte.
constexpr uint8_t Z = 0x80;
alignas(16) constexpr uint8_t kRgb24Mask[16] = {2, 1, 0, Z, 5, 4, 3, Z, 8, 7, 6, Z, 11, 10, 9, Z};
alignas(16) constexpr uint8_t kBgr24Mask[16] = {0, 1, 2, Z, 3, 4, 5, Z, 6, 7, 8, Z, 9, 10, 11, Z};
alignas(16) constexpr uint8_t kSwap32Mask[16] = {2,  1, 0, 3,  6,  5,  4,  7,
                                                 10, 9, 8, 11, 14, 13, 12, 15};
alignas(16) constexpr uint8_t kMonoMask[16] = {0, 0, 0, Z, 1, 1, 1, Z, 2, 2, 2, Z, 3, 3, 3, Z};

__m128i Mask(const uint8_t* m) {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(m));
}

}  // namespace

unsigned SourceBytesPerPixel(uint32_t mediaType) {
    switch (KindOf(mediaType)) {
        case Kind::kRgb24:
        case Kind::kBgr24:
            return 3;
        case Kind::kRgba32:
        case Kind::kBgra32:
            return 4;
        case Kind::kMono:
            return 1;
        case Kind::kNone:
            break;
    }
    return 0;
}

void ConvertToDisplayScalar(uint8_t* dst, const uint8_t* image, uint32_t width, uint32_t height,
                            uint32_t mediaType) {
    // Rows are tightly packed in both images, so the image is one run of pixels.
    ScalarRun(KindOf(mediaType), dst, image, 0, static_cast<size_t>(width) * height);
}

void ConvertToDisplayVector(uint8_t* dst, const uint8_t* image, uint32_t width, uint32_t height,
                            uint32_t mediaType) {
    const Kind kind = KindOf(mediaType);
    const size_t n = static_cast<size_t>(width) * height;
    size_t i = 0;
    switch (kind) {
        case Kind::kRgb24:
        case Kind::kBgr24: {
            // A 16-byte load takes four pixels (12 bytes) and four bytes of the next: it stays
            // inside the image while at least two more pixels follow the four.
            const __m128i mask = Mask(kind == Kind::kRgb24 ? kRgb24Mask : kBgr24Mask);
            for (; i + 6 <= n; i += 4) {
                const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(image + 3 * i));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * i),
                                 _mm_shuffle_epi8(s, mask));
            }
            break;
        }
        case Kind::kRgba32: {
            const __m128i mask = Mask(kSwap32Mask);
            for (; i + 4 <= n; i += 4) {
                const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(image + 4 * i));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * i),
                                 _mm_shuffle_epi8(s, mask));
            }
            break;
        }
        case Kind::kBgra32:
            // Already the display's order: one copy (the library's own is faster than
            // 16-byte steps).
            std::memcpy(dst, image, 4 * n);
            return;
        case Kind::kMono: {
            // Four grey bytes per step, loaded as one 32-bit word.
            const __m128i mask = Mask(kMonoMask);
            for (; i + 4 <= n; i += 4) {
                int32_t word;
                std::memcpy(&word, image + i, sizeof word);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * i),
                                 _mm_shuffle_epi8(_mm_cvtsi32_si128(word), mask));
            }
            break;
        }
        case Kind::kNone:
            return;
    }
    ScalarRun(kind, dst, image, i, n);
}

void ConvertToDisplay(uint8_t* dst, const uint8_t* image, const stImageInfo& head, int level) {
    if (level >= kVectorLevel)
        ConvertToDisplayVector(dst, image, head.iWidth, head.iHeight, head.uiMediaType);
    else
        ConvertToDisplayScalar(dst, image, head.iWidth, head.iHeight, head.uiMediaType);
}

}  // namespace qv::display
