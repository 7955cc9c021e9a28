// Plain per-pixel models of the colour kernels, written from their rules: the vector family
// (with its grouped evaluation of the dead-pixel test and the green balance) and the scalar
// family. The two differ on purpose; each kernel is held to its own model.
#pragma once

#include <cstdint>
#include <vector>

namespace colourref {

struct Settings {
    int sharpness = 0;
    int saturation = 128;
    int contrast = 50;
    bool mirrorH = false;
    bool mirrorV = false;
    bool monochrome = false;
    bool deadPixel = false;
    bool monoCamera = false;
    int blackOffset = 0;  // scalar family only
    int bytesPerPixel = 3;
    bool rgbOrder = false;  // true: R, G, B byte order; false: B, G, R
    int matrix[9] = {256, 0, 0, 0, 256, 0, 0, 0, 256};
    uint32_t gains[3] = {100, 100, 100};  // red, green, blue
    bool tableOn = false;
    // Per-channel tables (red, green, blue) of 256 entries (8-bit input) or 4096 (12-bit).
    std::vector<uint16_t> tables[3];
    int redMean = 0;
    int green1Mean = 0;
    int green2Mean = 0;
    int blueMean = 0;
};

struct Frame {
    int width = 0;
    int height = 0;
    int sampleBytes = 1;   // 1: "Bayer GRBG8"; 2: "Bayer GRBG12" in 16-bit words
    std::vector<int> raw;  // stored samples, row by row
};

// Runs the model: returns the output bytes and leaves the corrected samples in frame.raw.
std::vector<uint8_t> RunVector(Frame& frame, const Settings& s);
std::vector<uint8_t> RunScalar(Frame& frame, const Settings& s);

// Single-precision contrast of v around pivot: (v - p) x f + p with f = (2 x contrast) / 100,
// rounded to nearest (ties to even), clamped to 0..255.
int ContrastFloat(int v, int pivot, int contrast);

}  // namespace colourref
