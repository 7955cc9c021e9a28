// The 240-byte settings block: the part of a controller's parameter record that a camera also
// carries as its factory defaults (the property record's default settings). One layout serves
// both, so the defaults are copied over the controller's settings byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>

// Little-endian, int32 unless noted. Fields not named here are carried unchanged.
struct CameraSettings {
    int32_t aeState;
    uint8_t _reserved4[4];
    double exposureTime;  // microseconds
    uint32_t analogGain;  // thousandths, 1000 = unity
    int32_t aeTarget;     // low 16 bits used
    int32_t aeExposureMode;
    uint8_t _reserved28[4];
    double aeExposureMin;  // microseconds, -1 = not set
    double aeExposureMax;
    uint32_t aeAnalogGainMin;
    uint32_t aeAnalogGainMax;
    int32_t antiFlick;
    int32_t lightFrequency;  // 1 = 50 Hz, 2 = 60 Hz
    int32_t aeWindow[4];     // left, top, width, height
    int32_t wbMode;
    uint32_t rgbGain[3];  // red, green, blue in hundredths
    int32_t wbWindow[4];
    int32_t colorMatrix[9];   // row by row, 256 = 1.0
    int32_t triggerMode;      // 0 continuous, 1 software, 2 hardware
    int32_t resolutionIndex;  // preset index, or 255 for a custom region
    uint32_t ispOutFormat;
    int32_t frameSpeed;
    int32_t sharpness;
    int32_t saturation;
    int32_t contrast;
    int32_t lutMode;
    int32_t gamma;
    int32_t contrastLut;
    int32_t lutPreset;
    uint8_t _reserved192[20];
    int32_t parameterMode;  // file key: 0 product name, 1 friendly name, 2 serial number
    int32_t parameterGroup;
    int32_t mirrorH;
    int32_t mirrorV;
    int32_t monochrome;
    int32_t blackLevel;
    uint8_t correctDeadPixel;
    uint8_t intValueFlag;
    uint8_t _reserved238[2];
};

static_assert(sizeof(CameraSettings) == 240, "settings block is 240 bytes");
static_assert(offsetof(CameraSettings, exposureTime) == 8);
static_assert(offsetof(CameraSettings, aeTarget) == 20);
static_assert(offsetof(CameraSettings, aeExposureMin) == 32);
static_assert(offsetof(CameraSettings, lightFrequency) == 60);
static_assert(offsetof(CameraSettings, aeWindow) == 64);
static_assert(offsetof(CameraSettings, wbMode) == 80);
static_assert(offsetof(CameraSettings, rgbGain) == 84);
static_assert(offsetof(CameraSettings, colorMatrix) == 112);
static_assert(offsetof(CameraSettings, triggerMode) == 148);
static_assert(offsetof(CameraSettings, resolutionIndex) == 152);
static_assert(offsetof(CameraSettings, gamma) == 180);
static_assert(offsetof(CameraSettings, contrastLut) == 184);
static_assert(offsetof(CameraSettings, lutPreset) == 188);
static_assert(offsetof(CameraSettings, parameterMode) == 212);
static_assert(offsetof(CameraSettings, blackLevel) == 232);
static_assert(offsetof(CameraSettings, correctDeadPixel) == 236);
