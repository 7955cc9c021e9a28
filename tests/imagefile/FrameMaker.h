// Synthetic frames in every format the image files and recordings take, and what a reader of
// the written file must see, worked out here pixel by pixel (not with the library's own
// conversions).
#pragma once

#include <cstdint>
#include <vector>

#include "QVDeviceDef.h"

namespace filetest {

constexpr uint32_t kBayerGrbg8 = 0x01080009;  // a raw code without an image-file form

struct TestFrame {
    std::vector<uint8_t> bytes;
    stImageInfo head{};
};

// A width x height frame of mediaType with smooth content that differs per pixel and per
// seed; mono 12-bit frames use 12 bits of each little-endian word.
TestFrame MakeFrame(uint32_t width, uint32_t height, uint32_t mediaType, int seed = 0);
// A frame filled with one pixel value: its bytes (one, two, three or four).
TestFrame UniformFrame(uint32_t width, uint32_t height, uint32_t mediaType,
                       std::vector<uint8_t> pixel);

// The frame as grey bytes (mono) or R, G, B (colour), top row first: what PIL decodes from a
// BMP, PNG or JPEG of it.
std::vector<uint8_t> ExpectedGreyOrRgb(const TestFrame& frame);
// The frame as B, G, R rows top first: what ffmpeg decodes from a recording of it.
std::vector<uint8_t> ExpectedBgr(const TestFrame& frame);

}  // namespace filetest
