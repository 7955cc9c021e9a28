#include "LensShading.h"

#include <algorithm>
#include <cstring>

namespace qv::isp {

namespace {

// Samples through memcpy: the caller's buffers need not be aligned for 16-bit words.
template <class T>
inline uint32_t SampleAt(const void* image, uint64_t index) {
    T v;
    std::memcpy(&v, static_cast<const uint8_t*>(image) + index * sizeof(T), sizeof(T));
    return v;
}

template <class T>
inline uint32_t SampleAt(const void* image, uint64_t width, uint64_t x, uint64_t y) {
    return SampleAt<T>(image, y * width + x);
}

template <class T>
inline void StoreAt(void* image, uint64_t index, uint64_t value) {
    const T v = static_cast<T>(value);
    std::memcpy(static_cast<uint8_t*>(image) + index * sizeof(T), &v, sizeof(T));
}

inline uint32_t ReadWord(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline void WriteWord(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

inline uint16_t ReadGain(const uint8_t* table, uint64_t index) {
    const uint8_t* p = table + kLscHeaderBytes + 2 * index;
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

inline uint64_t TableBytes(uint64_t columns, uint64_t rows) {
    return (rows + 1) * (columns + 1) * 2 + kLscHeaderBytes;
}

// First column (row) of cell c of `count` cells over `extent` samples; the last cell reaches the
// end.
inline uint64_t CellStart(uint64_t c, uint64_t count, uint64_t extent) {
    return c == count ? extent : c * (extent / count);
}

// Node position: j x (extent / count), the last node on the last sample.
inline uint64_t NodeAt(uint64_t j, uint64_t count, uint64_t extent) {
    return j == count ? extent - 1 : j * (extent / count);
}

template <class T>
int Calibrate(tSdkLscCalibParam* p) {
    if (p == nullptr || p->pImage == nullptr || p->pTable == nullptr)
        return CAMERA_STATUS_PARAMETER_INVALID;
    const uint64_t W = p->uWidth;
    const uint64_t H = p->uHeight;
    const uint64_t m = p->uGridColumns;
    const uint64_t n = p->uGridRows;
    // Every cell needs a sample in each direction, or cells of width 0 would divide by zero.
    if (W * H > p->uImageSize || m < 2 || n < 2 || m > W || n > H)
        return CAMERA_STATUS_PARAMETER_INVALID;
    if (p->uWindowSize > W || p->uWindowSize > H) return CAMERA_STATUS_PARAMETER_INVALID;
    const uint64_t tableBytes = TableBytes(m, n);
    if (tableBytes > p->uTableCapacity || p->uRefMode > 2) return CAMERA_STATUS_PARAMETER_INVALID;

    const void* image = p->pImage;
    uint64_t reference = 0;
    if (p->uRefMode == 0) {
        reference = SampleAt<T>(image, W, W / 2, H / 2);
    } else if (p->uRefMode == 1) {
        // The brightest cell's mean; sums of 16-bit samples need 64 bits.
        for (uint64_t r = 0; r < n; ++r)
            for (uint64_t c = 0; c < m; ++c) {
                const uint64_t x0 = CellStart(c, m, W), x1 = CellStart(c + 1, m, W);
                const uint64_t y0 = CellStart(r, n, H), y1 = CellStart(r + 1, n, H);
                uint64_t sum = 0;
                for (uint64_t y = y0; y < y1; ++y)
                    for (uint64_t x = x0; x < x1; ++x) sum += SampleAt<T>(image, W, x, y);
                reference = std::max(reference, sum / ((x1 - x0) * (y1 - y0)));
            }
    } else {
        reference = sizeof(T) == 1 ? (p->usRefValue & 0xFFu) : p->usRefValue;
    }
    const uint64_t k = p->uWindowSize == 0 ? 1 : std::min<uint64_t>(p->uWindowSize, 5);

    uint8_t* table = p->pTable;
    for (uint64_t i = 0; i <= n; ++i)
        for (uint64_t j = 0; j <= m; ++j) {
            const int64_t x = static_cast<int64_t>(NodeAt(j, m, W));
            const int64_t y = static_cast<int64_t>(NodeAt(i, n, H));
            const int64_t half = static_cast<int64_t>(k / 2);
            const uint64_t x0 = static_cast<uint64_t>(
                std::min(std::max<int64_t>(x - half, 0), static_cast<int64_t>(W - k)));
            const uint64_t y0 = static_cast<uint64_t>(
                std::min(std::max<int64_t>(y - half, 0), static_cast<int64_t>(H - k)));
            uint64_t sum = 0;
            for (uint64_t yy = y0; yy < y0 + k; ++yy)
                for (uint64_t xx = x0; xx < x0 + k; ++xx) sum += SampleAt<T>(image, W, xx, yy);
            const uint64_t a = sum / (k * k);
            // Held to 4095 rather than cut to 16 bits: a dark node gets the largest gain, not
            // an arbitrary small one.
            const uint64_t gain = a == 0 ? 0 : std::min<uint64_t>(reference * 128 / a, kLscMaxGain);
            uint8_t* dst = table + kLscHeaderBytes + 2 * (i * (m + 1) + j);
            dst[0] = static_cast<uint8_t>(gain);
            dst[1] = static_cast<uint8_t>(gain >> 8);
        }
    WriteWord(table, kLscMagic);
    WriteWord(table + 4, static_cast<uint32_t>(m));
    WriteWord(table + 8, static_cast<uint32_t>(n));
    p->uTableSize = static_cast<UINT>(tableBytes);
    return CAMERA_STATUS_SUCCESS;
}

template <class T>
int Correct(tSdkLscCorrectParam* p) {
    if (p == nullptr || p->pInput == nullptr || p->pOutput == nullptr || p->pTable == nullptr)
        return CAMERA_STATUS_PARAMETER_INVALID;
    const uint64_t W = p->uWidth;
    const uint64_t H = p->uHeight;
    // Whole images in, whole images out: never read or write past the caller's buffers.
    if (W * H > p->uInputSize || W * H > p->uOutputCapacity || p->uTableSize < kLscHeaderBytes)
        return CAMERA_STATUS_PARAMETER_INVALID;
    const uint8_t* table = p->pTable;
    if (ReadWord(table) != kLscMagic) return CAMERA_STATUS_PARAMETER_INVALID;
    const uint64_t m = ReadWord(table + 4);
    const uint64_t n = ReadWord(table + 8);
    if (m == 0 || n == 0 || m > W || n > H || TableBytes(m, n) > p->uTableSize)
        return CAMERA_STATUS_PARAMETER_INVALID;

    const void* in = p->pInput;
    void* out = p->pOutput;
    const uint64_t top = sizeof(T) == 1 ? 255 : 65535;
    for (uint64_t r = 0; r < n; ++r) {
        const uint64_t y0 = CellStart(r, n, H), y1 = CellStart(r + 1, n, H);
        for (uint64_t c = 0; c < m; ++c) {
            const uint64_t x0 = CellStart(c, m, W), x1 = CellStart(c + 1, m, W);
            const uint64_t t = ReadGain(table, r * (m + 1) + c);
            const uint64_t u = ReadGain(table, r * (m + 1) + c + 1);
            const uint64_t v = ReadGain(table, (r + 1) * (m + 1) + c);
            const uint64_t s = ReadGain(table, (r + 1) * (m + 1) + c + 1);
            for (uint64_t y = y0; y < y1; ++y) {
                const uint64_t fy = (y - y0) * 1024 / (y1 - y0);
                const uint64_t left = v * fy + t * (1024 - fy);
                const uint64_t right = s * fy + u * (1024 - fy);
                for (uint64_t x = x0; x < x1; ++x) {
                    const uint64_t fx = (x - x0) * 1024 / (x1 - x0);
                    const uint64_t g = ((1024 - fx) * left + fx * right) >> 20;
                    const uint64_t i = y * W + x;
                    StoreAt<T>(out, i, std::min<uint64_t>((SampleAt<T>(in, i) * g) >> 7, top));
                }
            }
        }
    }
    p->uOutputSize = p->uInputSize;
    return CAMERA_STATUS_SUCCESS;
}

}  // namespace

int LscSampleBytes(uint32_t mediaType) {
    switch (mediaType) {
        case 0x01000000u:  // CAMERA_MEDIA_TYPE_MONO
        case 0x01080000u:  // "Mono8"
            return 1;
        case 0x01100005u:  // "Mono12"
        case 0x01100007u:  // "Mono16"
        case 0x01100025u:  // "Mono14"
            return 2;
        default:
            return 0;
    }
}

int CalibrateLsc8(tSdkLscCalibParam* param) {
    return Calibrate<uint8_t>(param);
}

int CalibrateLsc16(tSdkLscCalibParam* param) {
    return Calibrate<uint16_t>(param);
}

int CorrectLsc8(tSdkLscCorrectParam* param) {
    return Correct<uint8_t>(param);
}

int CorrectLsc16(tSdkLscCorrectParam* param) {
    return Correct<uint16_t>(param);
}

}  // namespace qv::isp
