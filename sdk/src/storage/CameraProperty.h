// The device property record kept in the camera's EEPROM or flash: the same 712 bytes in
// storage, in flash block A and in memory (little-endian, int32 unless noted; a range is
// {min, max}). Fields not named are carried unchanged and not interpreted.
#pragma once

#include <cstddef>
#include <cstdint>

#include "control/CameraSettings.h"

struct CameraProperty {
    int32_t redGainRange[2];  // digital gains, hundredths
    int32_t greenGainRange[2];
    int32_t blueGainRange[2];
    int32_t saturationRange[2];
    int32_t gammaRange[2];
    int32_t contrastRange[2];
    int32_t sharpnessRange[2];
    // Bytes 56 to 111 go to the capability unchanged (its property flags and extra bytes).
    int32_t monoSensor;  // 1 for a monochrome sensor, refreshed at every initialisation
    uint8_t _capability60[28];
    int32_t aeTargetOnSensor;  // the sensor takes the AE target itself
    uint8_t _capability92[4];
    int32_t wdrSupported;
    uint8_t _capability100[12];
    int32_t triggerModeCount;
    uint32_t triggerModeMask;  // bit n: trigger mode n allowed
    int32_t presetCount;
    uint32_t presetMaskLow;  // presets 0 to 31
    uint8_t _reserved128[8];
    int32_t bayerAlgDefault;
    uint32_t bayerAlgMask;
    int32_t outputFormatCount;
    uint32_t outputFormatMask;  // bit 0 mono, 1 RGB8, 2 BGR8, 3 RGBA8, 4 BGRA8
    int32_t frameSpeedCount;
    uint32_t frameSpeedMask;
    uint8_t _reserved160[8];
    int32_t outputIoCount;
    int32_t inputIoCount;
    int32_t auxListCount;
    uint32_t auxListMask;
    int32_t userDataSize;  // overwritten at open with the storage's user-data capacity
    uint32_t hostWord;
    uint8_t _reserved192[16];
    int32_t bayerAlgCount;
    int32_t bayerAlgMode;
    uint8_t _reserved216[8];
    CameraSettings defaultSettings;
    int32_t modelNumber;
    int32_t writtenFlag;  // 1 once the record has been written
    // From the sensor's parameters, from the maximum window height on: maximum height, minimum
    // height, maximum width, minimum width, reduction-mode mask and three further words.
    uint32_t sensorLimits[8];
    uint8_t _reserved504[4];
    int32_t contrastLutRange[2];
    uint32_t modelCode;       // board code 0xAAxxyyyy, source of the hardware type
    uint32_t presetMaskHigh;  // presets 32 to 63
    uint8_t _reserved524[188];
};

static_assert(sizeof(CameraProperty) == 712, "CameraProperty is 712 bytes");
static_assert(offsetof(CameraProperty, monoSensor) == 56);
static_assert(offsetof(CameraProperty, aeTargetOnSensor) == 88);
static_assert(offsetof(CameraProperty, wdrSupported) == 96);
static_assert(offsetof(CameraProperty, triggerModeCount) == 112);
static_assert(offsetof(CameraProperty, presetCount) == 120);
static_assert(offsetof(CameraProperty, presetMaskLow) == 124);
static_assert(offsetof(CameraProperty, bayerAlgDefault) == 136);
static_assert(offsetof(CameraProperty, outputFormatCount) == 144);
static_assert(offsetof(CameraProperty, frameSpeedCount) == 152);
static_assert(offsetof(CameraProperty, outputIoCount) == 168);
static_assert(offsetof(CameraProperty, auxListCount) == 176);
static_assert(offsetof(CameraProperty, userDataSize) == 184);
static_assert(offsetof(CameraProperty, hostWord) == 188);
static_assert(offsetof(CameraProperty, bayerAlgCount) == 208);
static_assert(offsetof(CameraProperty, bayerAlgMode) == 212);
static_assert(offsetof(CameraProperty, defaultSettings) == 224);
static_assert(offsetof(CameraProperty, defaultSettings) +
                  offsetof(CameraSettings, lightFrequency) ==
              284);
static_assert(offsetof(CameraProperty, defaultSettings) + offsetof(CameraSettings, colorMatrix) ==
              336);
static_assert(offsetof(CameraProperty, defaultSettings) + offsetof(CameraSettings, blackLevel) ==
              456);
static_assert(offsetof(CameraProperty, modelNumber) == 464);
static_assert(offsetof(CameraProperty, writtenFlag) == 468);
static_assert(offsetof(CameraProperty, sensorLimits) == 472);
static_assert(offsetof(CameraProperty, contrastLutRange) == 508);
static_assert(offsetof(CameraProperty, modelCode) == 516);
static_assert(offsetof(CameraProperty, presetMaskHigh) == 520);
