// The two parameter blocks of the USB 3.0 and GigE cameras' flash, as held in memory and stored
// (little-endian). Block A holds what the factory writes, block B what a user may change. Each
// carries a checksum byte chosen so that the 8-bit sum of all bytes of the block is 0xFF.
#pragma once

#include <cstddef>
#include <cstdint>

#include "CameraProperty.h"

struct FlashBlockAImage {
    uint32_t magic;  // 0x55AA0002
    uint32_t zero;
    uint8_t serial0[32];
    char productSeries[32];
    char productName[32];
    char portType[32];
    uint32_t monoCfg;
    uint32_t deviceId;
    int32_t sensorType;  // SensorTypeE
    uint8_t _unused148[4];
    CameraProperty property;
    uint8_t checksum;
    uint8_t _unused865[7];
};

struct FlashBlockBImage {
    uint32_t magic;  // 0x55AA0001
    uint32_t zero;
    uint8_t serial1[32];
    uint8_t serial2[32];
    char friendlyName[32];
    uint8_t checksum;
    uint8_t _unused105[3];
};

constexpr uint32_t kFlashBlockAMagic = 0x55AA0002;
constexpr uint32_t kFlashBlockBMagic = 0x55AA0001;
// Each block is written as a page of its own, padded with zeros.
constexpr size_t kFlashBlockAPageSize = 1024;
constexpr size_t kFlashBlockBPageSize = 256;

static_assert(sizeof(FlashBlockAImage) == 872, "block A is 872 bytes");
static_assert(offsetof(FlashBlockAImage, serial0) == 8);
static_assert(offsetof(FlashBlockAImage, productSeries) == 40);
static_assert(offsetof(FlashBlockAImage, productName) == 72);
static_assert(offsetof(FlashBlockAImage, portType) == 104);
static_assert(offsetof(FlashBlockAImage, monoCfg) == 136);
static_assert(offsetof(FlashBlockAImage, deviceId) == 140);
static_assert(offsetof(FlashBlockAImage, sensorType) == 144);
static_assert(offsetof(FlashBlockAImage, property) == 152);
static_assert(offsetof(FlashBlockAImage, checksum) == 864);

static_assert(sizeof(FlashBlockBImage) == 108, "block B is 108 bytes");
static_assert(offsetof(FlashBlockBImage, serial1) == 8);
static_assert(offsetof(FlashBlockBImage, serial2) == 40);
static_assert(offsetof(FlashBlockBImage, friendlyName) == 72);
static_assert(offsetof(FlashBlockBImage, checksum) == 104);

static_assert(sizeof(FlashBlockAImage) <= kFlashBlockAPageSize);
static_assert(sizeof(FlashBlockBImage) <= kFlashBlockBPageSize);
