#include "IspVectorConstants.h"

#include <cstring>
#include <initializer_list>

namespace qv::isp {

namespace {

IspVectorConstants g_constants;

void Fill16(uint8_t* reg, uint16_t a, uint16_t b) {
    for (int i = 0; i < 8; ++i) {
        const uint16_t v = (i % 2 == 0) ? a : b;
        std::memcpy(reg + 2 * i, &v, 2);
    }
}

void Fill32(uint8_t* reg, uint32_t a, uint32_t b) {
    for (int i = 0; i < 4; ++i) {
        const uint32_t v = (i % 2 == 0) ? a : b;
        std::memcpy(reg + 4 * i, &v, 4);
    }
}

// A plain mask lists, for each pixel of four, the source bytes of its output bytes; the
// mirrored mask takes the pixels in reverse order. Unused output bytes are zero (0x80).
void FillPackMasks(uint8_t (*masks)[16], std::initializer_list<int> pixelBytes) {
    const int perPixel = static_cast<int>(pixelBytes.size());
    for (int mirrored = 0; mirrored < 2; ++mirrored) {
        uint8_t* m = masks[mirrored];
        std::memset(m, 0x80, 16);
        for (int p = 0; p < 4; ++p) {
            const int src = mirrored ? 3 - p : p;
            int b = 0;
            for (int byte : pixelBytes)
                m[p * perPixel + b++] = static_cast<uint8_t>(4 * src + byte);
        }
    }
}

// Channels of a border-row mask's output pixel.
enum Channel { kRed, kGreen, kBlue, kAlpha };

// Fills the masks [kind][mirrored][row][half] of one layout from the channel order of its
// pixels. The sixteen source bytes hold four cells as B, G2, G1, R.
void FillBorderMasks(uint8_t (*masks)[2][2][2][16], std::initializer_list<Channel> channels) {
    const int perPixel = static_cast<int>(channels.size());
    for (int kind = 0; kind < 2; ++kind)
        for (int mirrored = 0; mirrored < 2; ++mirrored)
            for (int row = 0; row < 2; ++row)
                for (int half = 0; half < 2; ++half) {
                    uint8_t* m = masks[kind][mirrored][row][half];
                    std::memset(m, 0x80, 16);
                    for (int q = 0; q < 4; ++q) {
                        const int p = mirrored ? 7 - (4 * half + q) : 4 * half + q;
                        const int cell = p / 2;
                        const int own = row == 0 ? 4 * cell + 2 + p % 2 : 4 * cell + p % 2;
                        int b = 0;
                        for (Channel ch : channels) {
                            int src = 0x80;
                            if (ch != kAlpha && kind == 1)
                                src = own;
                            else if (ch == kRed)
                                src = 4 * cell + 3;
                            else if (ch == kGreen)
                                src = row == 0 ? 4 * cell + 2 : 4 * cell + 1;
                            else if (ch == kBlue)
                                src = 4 * cell;
                            m[q * perPixel + b++] = static_cast<uint8_t>(src);
                        }
                    }
                }
}

// Loads with the library: the kernels may run on any thread from the first camera on.
struct ConstantsInitialiser {
    ConstantsInitialiser() { InitIspVectorConstants(); }
} g_initialiser;

}  // namespace

void InitIspVectorConstants() {
    IspVectorConstants& c = g_constants;
    Fill16(c.brightThreshold, 200, 200);
    Fill16(c.closenessThreshold, 10, 10);
    Fill32(c.ceiling32, 255, 255);
    Fill16(c.ceiling16, 255, 255);
    std::memset(c.zero, 0, 16);
    for (int i = 0; i < 16; ++i) c.alphaOfWords[i] = (i % 2) ? 0xFF : 0x00;
    for (int i = 0; i < 16; ++i) c.alphaOfPixels[i] = (i % 4 == 3) ? 0xFF : 0x00;
    Fill16(c.evenLaneMask, 0xFFFF, 0x0000);
    Fill16(c.oddLaneMask, 0x0000, 0xFFFF);
    Fill32(c.evenWordMask, 0xFFFFFFFFu, 0);
    Fill32(c.oddWordMask, 0, 0xFFFFFFFFu);
    // Source pixels are B, G, R, 255 in bytes 0 to 3.
    FillPackMasks(c.packRgb8, {2, 1, 0});
    FillPackMasks(c.packBgr8, {0, 1, 2});
    FillPackMasks(c.packRgba8, {2, 1, 0, 3});
    FillPackMasks(c.packBgra8, {0, 1, 2, 3});
    FillPackMasks(c.packMono8, {0});
    FillBorderMasks(c.borderRgb8, {kRed, kGreen, kBlue});
    FillBorderMasks(c.borderBgr8, {kBlue, kGreen, kRed});
    FillBorderMasks(c.borderRgba8, {kRed, kGreen, kBlue, kAlpha});
    FillBorderMasks(c.borderBgra8, {kBlue, kGreen, kRed, kAlpha});
    FillBorderMasks(c.borderMono8, {kGreen});
    for (int lane = 0; lane < 8; ++lane) {
        c.reverseWords[2 * lane] = static_cast<uint8_t>(2 * (7 - lane));
        c.reverseWords[2 * lane + 1] = static_cast<uint8_t>(2 * (7 - lane) + 1);
    }
}

const IspVectorConstants& VectorConstants() {
    return g_constants;
}

const uint8_t* GetPackMaskRgb8(bool mirror) {
    return g_constants.packRgb8[mirror ? 1 : 0];
}
const uint8_t* GetPackMaskBgr8(bool mirror) {
    return g_constants.packBgr8[mirror ? 1 : 0];
}
const uint8_t* GetPackMaskRgba8(bool mirror) {
    return g_constants.packRgba8[mirror ? 1 : 0];
}
const uint8_t* GetPackMaskBgra8(bool mirror) {
    return g_constants.packBgra8[mirror ? 1 : 0];
}
const uint8_t* GetPackMaskMono8(bool mirror) {
    return g_constants.packMono8[mirror ? 1 : 0];
}

const uint8_t* GetBorderMaskRgb8(bool monoCamera, bool mirror) {
    return g_constants.borderRgb8[monoCamera ? 1 : 0][mirror ? 1 : 0][0][0];
}
const uint8_t* GetBorderMaskBgr8(bool monoCamera, bool mirror) {
    return g_constants.borderBgr8[monoCamera ? 1 : 0][mirror ? 1 : 0][0][0];
}
const uint8_t* GetBorderMaskRgba8(bool monoCamera, bool mirror) {
    return g_constants.borderRgba8[monoCamera ? 1 : 0][mirror ? 1 : 0][0][0];
}
const uint8_t* GetBorderMaskBgra8(bool monoCamera, bool mirror) {
    return g_constants.borderBgra8[monoCamera ? 1 : 0][mirror ? 1 : 0][0][0];
}
const uint8_t* GetBorderMaskMono8(bool monoCamera, bool mirror) {
    return g_constants.borderMono8[monoCamera ? 1 : 0][mirror ? 1 : 0][0][0];
}

}  // namespace qv::isp
