// Output rows of the vector colour kernels: interior demosaic, border cells and border rows,
// contrast, grey conversion, and packing with the mirrors.
#include <cstring>

#include "BayerVector.h"
#include "IspVectorConstants.h"
#include "IspVectorOps.h"

namespace qv::isp {

using colour::ColourFrameSetup;

namespace colour {

namespace {

inline __m128i Load(const uint16_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Twelve bytes from a register, nothing beyond them.
inline void Store12(uint8_t* dst, __m128i v) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), v);
    const int tail = _mm_extract_epi32(v, 2);
    std::memcpy(dst + 8, &tail, 4);
}

inline __m128i LumaOf(__m128i r, __m128i g, __m128i b) {
    return _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(r, _mm_set1_epi16(76)),
                                                      _mm_mullo_epi16(g, _mm_set1_epi16(150))),
                                        _mm_mullo_epi16(b, _mm_set1_epi16(29))),
                          8);
}

// What the output stage of a frame needs in registers.
struct OutputRegs {
    __m128i packMask;  // 3- and 4-byte layouts
    __m128i reverse;   // reverses eight 16-bit lanes
    __m128 redPivot;
    __m128 pivots;  // border-row cells (B, G2, G1, R): blue mean, green pivot twice, red mean
    __m128 factor;
    __m128i alpha;          // 255 in the fourth byte of each pixel
    const uint8_t* border;  // the border-row masks of the layout
    __m128i yEven;          // luma weights of the cells' even-row pixels (R, G1, B)
    __m128i yOdd;           // the same with G2
};

OutputRegs MakeOutputRegs(const ColourFrameSetup& fs) {
    const IspVectorConstants& k = VectorConstants();
    OutputRegs o;
    const bool m = fs.mirrorH;
    const bool rgb = fs.outputId == 20;
    const uint8_t* pack = nullptr;
    if (fs.bytesPerPixel == 3)
        pack = rgb ? GetPackMaskRgb8(m) : GetPackMaskBgr8(m);
    else if (fs.bytesPerPixel == 4)
        pack = rgb ? GetPackMaskRgba8(m) : GetPackMaskBgra8(m);
    else
        pack = GetPackMaskMono8(m);
    o.packMask = LoadConstant(pack);
    o.reverse = LoadConstant(k.reverseWords);
    // Grey output, from a mono camera or converted, is packed from own samples.
    const bool own = fs.monoCamera || !fs.matrixInUse;
    if (fs.bytesPerPixel == 3)
        o.border = rgb ? GetBorderMaskRgb8(own, m) : GetBorderMaskBgr8(own, m);
    else if (fs.bytesPerPixel == 4)
        o.border = rgb ? GetBorderMaskRgba8(own, m) : GetBorderMaskBgra8(own, m);
    else
        o.border = GetBorderMaskMono8(true, m);
    o.redPivot = _mm_set1_ps(static_cast<float>(fs.redMean));
    if (fs.monoCamera)
        o.pivots = o.redPivot;
    else
        o.pivots = _mm_setr_ps(static_cast<float>(fs.blueMean), static_cast<float>(fs.greenPivot),
                               static_cast<float>(fs.greenPivot), static_cast<float>(fs.redMean));
    o.factor = _mm_set1_ps(fs.factor);
    o.alpha = LoadConstant(k.alphaOfPixels);
    o.yEven = _mm_setr_epi16(29, 0, 150, 76, 29, 0, 150, 76);
    o.yOdd = _mm_setr_epi16(29, 150, 0, 76, 29, 150, 0, 76);
    return o;
}

// Writes eight processed pixels (red, green, blue lanes in processed order) at output pixel
// `outX` of a row; nothing outside those eight pixels is written.
inline void EmitGroup(const ColourFrameSetup& fs, const OutputRegs& o, __m128i r, __m128i g,
                      __m128i b, uint8_t* outRow, int outX) {
    uint8_t* dst = outRow + static_cast<size_t>(outX) * fs.bytesPerPixel;
    if (fs.bytesPerPixel == 1) {
        if (fs.mirrorH) r = _mm_shuffle_epi8(r, o.reverse);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_packus_epi16(r, r));
        return;
    }
    __m128i first, second;
    PackBgraPixels(r, g, b, fs.mirrorH, &first, &second);
    first = _mm_shuffle_epi8(first, o.packMask);
    second = _mm_shuffle_epi8(second, o.packMask);
    if (fs.bytesPerPixel == 4) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), first);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 16), second);
    } else {
        // The first store's four zero bytes are covered by the second.
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), first);
        Store12(dst + 12, second);
    }
}

// Interior demosaic of the eight pixels from column x0 of a row (`up` and `down` are the rows
// above and below; `oddRow` for the second row of a pair).
inline void DemosaicGroup(const ColourFrameSetup& fs, const OutputRegs& o, const uint16_t* up,
                          const uint16_t* row, const uint16_t* down, bool oddRow, int x0,
                          uint8_t* outRow) {
    const __m128i c = Load(row + x0);
    __m128i r, g, b;
    if (fs.monoCamera) {
        r = fs.contrast ? ApplyChannelContrast(c, o.redPivot, o.factor) : c;
        g = b = r;
    } else {
        const __m128i ha = _mm_srli_epi16(_mm_add_epi16(Load(row + x0 - 1), Load(row + x0 + 1)), 1);
        const __m128i va = _mm_srli_epi16(_mm_add_epi16(Load(up + x0), Load(down + x0)), 1);
        const __m128i xa = _mm_srli_epi16(_mm_add_epi16(ha, va), 1);
        const __m128i da =
            _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(Load(up + x0 - 1), Load(up + x0 + 1)),
                                         _mm_add_epi16(Load(down + x0 - 1), Load(down + x0 + 1))),
                           2);
        const __m128i gs = _mm_srli_epi16(_mm_add_epi16(c, da), 1);
        // The odd lanes come from the second operand.
        if (!oddRow) {
            // Green sites in the even lanes, red sites in the odd ones.
            r = _mm_blend_epi16(ha, c, 0xAA);
            g = _mm_blend_epi16(gs, xa, 0xAA);
            b = _mm_blend_epi16(va, da, 0xAA);
        } else {
            // Blue sites in the even lanes, green sites in the odd ones.
            r = _mm_blend_epi16(da, va, 0xAA);
            g = _mm_blend_epi16(xa, gs, 0xAA);
            b = _mm_blend_epi16(c, ha, 0xAA);
        }
        if (fs.contrast) ApplyLumaContrast(r, g, b, o.redPivot, o.factor);
        if (!fs.matrixInUse) r = g = b = LumaOf(r, g, b);
    }
    EmitGroup(fs, o, r, g, b, outRow, fs.mirrorH ? fs.width - 8 - x0 : x0);
}

// The border cell whose first column is x, in one row of a row pair.
inline void WriteBorderCell(const ColourFrameSetup& fs, const uint16_t* pair, int x, int rowInPair,
                            uint8_t* outRow) {
    const uint16_t* even = pair;
    const uint16_t* odd = pair + fs.rowStride;
    WriteBorderCellPixels(fs, even[x], even[x + 1], odd[x], odd[x + 1], rowInPair, x, outRow);
}

}  // namespace

void DemosaicRowPair(const ColourFrameSetup& setup, int j, const uint16_t* above,
                     const uint16_t* pair, const uint16_t* below, uint8_t* out) {
    // Local copies: the byte stores below could otherwise alias them.
    const ColourFrameSetup fs = setup;
    const OutputRegs o = MakeOutputRegs(fs);
    const int W = fs.width;
    const size_t S = fs.rowStride;
    for (int r = 0; r < 2; ++r) {
        const uint16_t* row = pair + r * S;
        const uint16_t* up = r == 0 ? above + S : pair;
        const uint16_t* down = r == 0 ? pair + S : below;
        uint8_t* outRow = fs.OutRow(out, 2 * j + r);
        WriteBorderCell(fs, pair, 0, r, outRow);
        // Groups from column 2; the last one ends at column W - 3, overlapping the one before
        // when the interior is not a whole number of groups (its pixels come out the same).
        for (int x0 = 2;; x0 += 8) {
            const int g = std::min(x0, W - 10);
            DemosaicGroup(fs, o, up, row, down, r == 1, g, outRow);
            if (g + 8 >= W - 2) break;
        }
        WriteBorderCell(fs, pair, W - 2, r, outRow);
    }
}

void WriteBorderRows(const ColourFrameSetup& setup, int j, const uint16_t* pair, uint8_t* out) {
    const ColourFrameSetup fs = setup;
    const OutputRegs o = MakeOutputRegs(fs);
    const int W = fs.width;
    const int bpp = fs.bytesPerPixel;
    const bool grey = !fs.monoCamera && !fs.matrixInUse;
    uint8_t* outRows[2] = {fs.OutRow(out, 2 * j), fs.OutRow(out, 2 * j + 1)};
    const __m128i* masks = reinterpret_cast<const __m128i*>(o.border);
    for (int x0 = 0;; x0 += 8) {
        // Four cells; the last group overlaps the one before when the width is not a whole
        // number of groups.
        const int g = std::min(x0, W - 8);
        const __m128i even = Load(pair + g);
        const __m128i odd = Load(pair + fs.rowStride + g);
        // Cells as B, G2, G1, R: the words of the second row, then those of the first.
        __m128i lo = _mm_unpacklo_epi32(odd, even);
        __m128i hi = _mm_unpackhi_epi32(odd, even);
        if (fs.contrast) {
            lo = ApplyChannelContrast(lo, o.pivots, o.factor);
            hi = ApplyChannelContrast(hi, o.pivots, o.factor);
        }
        if (grey) {
            // Each cell's two grey values, with the green of each row, in place of its
            // samples: (Yodd, Yodd, Yeven, Yeven), packed as own samples.
            const __m128i ye = _mm_srli_epi32(
                _mm_hadd_epi32(_mm_madd_epi16(lo, o.yEven), _mm_madd_epi16(hi, o.yEven)), 8);
            const __m128i yo = _mm_srli_epi32(
                _mm_hadd_epi32(_mm_madd_epi16(lo, o.yOdd), _mm_madd_epi16(hi, o.yOdd)), 8);
            const __m128i ye2 = _mm_or_si128(ye, _mm_slli_epi32(ye, 16));
            const __m128i yo2 = _mm_or_si128(yo, _mm_slli_epi32(yo, 16));
            lo = _mm_unpacklo_epi32(yo2, ye2);
            hi = _mm_unpackhi_epi32(yo2, ye2);
        }
        const __m128i cells = _mm_packus_epi16(lo, hi);
        const int outX = fs.mirrorH ? W - 8 - g : g;
        for (int r = 0; r < 2; ++r) {
            uint8_t* dst = outRows[r] + static_cast<size_t>(outX) * bpp;
            for (int half = 0; half < 2; ++half) {
                __m128i px = _mm_shuffle_epi8(cells, _mm_load_si128(masks + 2 * r + half));
                uint8_t* d = dst + static_cast<size_t>(4 * half) * bpp;
                if (bpp == 4) {
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_or_si128(px, o.alpha));
                } else if (bpp == 3) {
                    Store12(d, px);
                } else {
                    const int four = _mm_cvtsi128_si32(px);
                    std::memcpy(d, &four, 4);
                }
            }
        }
        if (g + 8 >= W) break;
    }
}

}  // namespace colour

}  // namespace qv::isp
