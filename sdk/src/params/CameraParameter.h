// The parameter record: every persistent setting of one camera controller, 1216 bytes. It is
// stored byte for byte (little-endian) at the start of a parameter-group file, so its layout is a
// file format: fields may be given meaning, never moved. Bytes 568 to 807 are the settings block
// that a camera also carries as its factory defaults (CameraProperty::defaultSettings).
#pragma once

#include <cstddef>
#include <cstdint>

#include "control/CameraSettings.h"
#include "QVDeviceDef.h"

// One cross line drawn into output images (16 bytes).
struct CrossLine {
    int32_t x;
    int32_t y;
    uint32_t colour;  // 0x00BBGGRR
    int32_t visible;  // 0 or 1
};
static_assert(sizeof(CrossLine) == 16);

// One input line (12 bytes).
struct InputLineSetting {
    uint8_t mode;  // 0 = trigger input
    uint8_t _pad1[3];
    int32_t signalType;   // edge or level kind, as the device defines it
    uint32_t jitterTime;  // debounce time
};
static_assert(sizeof(InputLineSetting) == 12);

// One output line (28 bytes).
struct OutputLineSetting {
    uint8_t mode;   // emSdkOutputIOMode: 0 strobe, 1 general purpose, 2 PWM
    uint8_t state;  // general-purpose level
    uint8_t _pad2[2];
    int32_t strobeMode;
    uint32_t strobeDelay;
    int32_t strobePolarity;
    uint32_t strobePulseWidth;
    uint32_t pwmDuty;
    uint32_t pwmPeriod;
};
static_assert(sizeof(OutputLineSetting) == 28);

struct CameraParameter {
    uint32_t magic;             // CameraParameterBuilder::kMagic
    int32_t version;            // 4 in files written now; 3 after SetDefault
    uint32_t deviceId;          // device stamp: the camera's tDevInfo::uDeviceId
    int32_t aeProcessArg;       // handed to the per-frame exposure step
    int32_t awbProcessArg;      // handed to the per-frame white-balance step
    int32_t bayerAlgMode;       // CameraSetBayerAlgMode
    int32_t bayerAlgThreshold;  // CameraSetBayerAlgThreshold
    tSdkResolution resolution;  // current resolution; the custom region when index 255
    tSdkResolution snapResolution;
    uint8_t aeWindowVisible;
    uint8_t _reserved213[3];
    uint8_t aeWindowBlock[100];  // AE window as passed and as mapped to the raw frame
    uint8_t _reserved316[3];
    uint8_t wbWindowVisible;
    uint8_t wbWindowBlock[100];  // WB window as passed and as mapped
    CrossLine crossLines[9];
    uint8_t _reserved564[4];
    CameraSettings settings;
    int32_t triggerFrameCount;
    uint32_t triggerDelayTime;
    InputLineSetting inputLines[2];
    OutputLineSetting outputLines[4];
    uint32_t sensorOutFormat;  // raw media type asked of the sensor
    int32_t packetSize;        // GigE stream packet size in bytes
    int32_t transferMode;      // image transfer mode
    uint32_t packetDelay;      // GigE packet delay
    int32_t intValueA;         // integer values of CameraSetIntValue
    int32_t intValueB;
    int32_t intValueC;
    uint8_t _reserved980[236];
};

static_assert(sizeof(CameraParameter) == 1216, "the parameter record is 1216 bytes");
static_assert(offsetof(CameraParameter, deviceId) == 8);
static_assert(offsetof(CameraParameter, aeProcessArg) == 12);
static_assert(offsetof(CameraParameter, bayerAlgThreshold) == 24);
static_assert(offsetof(CameraParameter, resolution) == 28);
static_assert(offsetof(CameraParameter, snapResolution) == 120);
static_assert(offsetof(CameraParameter, aeWindowVisible) == 212);
static_assert(offsetof(CameraParameter, aeWindowBlock) == 216);
static_assert(offsetof(CameraParameter, wbWindowVisible) == 319);
static_assert(offsetof(CameraParameter, wbWindowBlock) == 320);
static_assert(offsetof(CameraParameter, crossLines) == 420);
static_assert(offsetof(CameraParameter, settings) == 568);
static_assert(offsetof(CameraParameter, settings) + offsetof(CameraSettings, rgbGain) == 652);
static_assert(offsetof(CameraParameter, settings) + offsetof(CameraSettings, lutMode) == 744);
static_assert(offsetof(CameraParameter, settings) + offsetof(CameraSettings, parameterMode) == 780);
static_assert(offsetof(CameraParameter, settings) + offsetof(CameraSettings, intValueFlag) == 805);
static_assert(offsetof(CameraParameter, triggerFrameCount) == 808);
static_assert(offsetof(CameraParameter, triggerDelayTime) == 812);
static_assert(offsetof(CameraParameter, inputLines) == 816);
static_assert(offsetof(CameraParameter, outputLines) == 840);
static_assert(offsetof(CameraParameter, sensorOutFormat) == 952);
static_assert(offsetof(CameraParameter, packetSize) == 956);
static_assert(offsetof(CameraParameter, transferMode) == 960);
static_assert(offsetof(CameraParameter, packetDelay) == 964);
static_assert(offsetof(CameraParameter, intValueA) == 968);
static_assert(offsetof(CameraParameter, intValueC) == 976);
