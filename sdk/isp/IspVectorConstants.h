// Constants and byte-shuffle masks of the vector kernels. They are filled once while the
// library loads (a static initialiser runs InitIspVectorConstants), before any camera exists,
// and only read afterwards, so the kernels of all cameras share them without a lock.
#pragma once

#include <cstdint>

namespace qv::isp {

struct alignas(16) IspVectorConstants {
    using Reg = uint8_t[16];
    alignas(16) Reg brightThreshold;     // eight 16-bit 200 (green balance)
    alignas(16) Reg closenessThreshold;  // eight 16-bit 10 (green balance)
    alignas(16) Reg ceiling32;           // four 32-bit 255
    alignas(16) Reg ceiling16;           // eight 16-bit 255
    alignas(16) Reg zero;
    alignas(16) Reg alphaOfWords;   // bytes 0x00, 0xFF repeated
    alignas(16) Reg alphaOfPixels;  // bytes 0x00, 0x00, 0x00, 0xFF repeated
    alignas(16) Reg evenLaneMask;   // 16-bit lanes 0xFFFF, 0x0000 repeated
    alignas(16) Reg oddLaneMask;    // 16-bit lanes 0x0000, 0xFFFF repeated
    alignas(16) Reg evenWordMask;   // 32-bit lanes 0xFFFFFFFF, 0 repeated
    alignas(16) Reg oddWordMask;    // 32-bit lanes 0, 0xFFFFFFFF repeated
    // Packing masks, [0] plain and [1] mirrored: each gathers four output pixels from one
    // register of four B, G, R, 255 pixels; the mirrored one takes them in the order 3, 2, 1, 0.
    // Mask bytes with the top bit set give zero bytes.
    alignas(16) Reg packRgb8[2];
    alignas(16) Reg packBgr8[2];
    alignas(16) Reg packRgba8[2];
    alignas(16) Reg packBgra8[2];
    alignas(16) Reg packMono8[2];
    // Reverses the eight 16-bit lanes of a register (horizontal mirror of a group).
    alignas(16) Reg reverseWords;
    // Border-row masks, [kind][mirrored][row of the pair][half of the group]: each gathers
    // four output pixels of one row from sixteen bytes holding the group's four cells, cell i
    // in bytes 4i to 4i + 3 as B, G2, G1, R. Kind 0 takes R, the row's own green and B of the
    // pixel's cell; kind 1 takes each pixel's own sample into every channel (a mono camera, or
    // grey values put in place of the samples). Half 0 makes the first four output pixels of
    // the group, half 1 the next four; mirrored masks take the pixels from the right. Zero
    // bytes where the 4-byte layouts keep their fourth byte.
    alignas(16) Reg borderRgb8[2][2][2][2];
    alignas(16) Reg borderBgr8[2][2][2][2];
    alignas(16) Reg borderRgba8[2][2][2][2];
    alignas(16) Reg borderBgra8[2][2][2][2];
    alignas(16) Reg borderMono8[2][2][2][2];
};

// Fills the constants; idempotent. Runs from a static initialiser at load time.
void InitIspVectorConstants();
const IspVectorConstants& VectorConstants();

const uint8_t* GetPackMaskRgb8(bool mirror);
const uint8_t* GetPackMaskBgr8(bool mirror);
const uint8_t* GetPackMaskRgba8(bool mirror);
const uint8_t* GetPackMaskBgra8(bool mirror);
const uint8_t* GetPackMaskMono8(bool mirror);

// The border-row masks of a layout for a mono camera (own samples) or not, plain or mirrored:
// four consecutive masks, row 0 half 0, row 0 half 1, row 1 half 0, row 1 half 1.
const uint8_t* GetBorderMaskRgb8(bool monoCamera, bool mirror);
const uint8_t* GetBorderMaskBgr8(bool monoCamera, bool mirror);
const uint8_t* GetBorderMaskRgba8(bool monoCamera, bool mirror);
const uint8_t* GetBorderMaskBgra8(bool monoCamera, bool mirror);
const uint8_t* GetBorderMaskMono8(bool monoCamera, bool mirror);

}  // namespace qv::isp
