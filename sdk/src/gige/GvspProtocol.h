// GVSP, the stream protocol of the GigE cameras (GigE Vision 1.x with 16-bit block ids): the
// 8-byte packet header, the image leader's fields and the packet formats. Pure; the receiver
// (CGVSPReceiverBySocket) decodes with it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/ByteOrder.h"

namespace qv::gige {

inline constexpr size_t kGvspHeaderSize = 8;
inline constexpr size_t kGvspLeaderSize = 44;

inline constexpr uint8_t kFormatLeader = 1;
inline constexpr uint8_t kFormatTrailer = 2;  // LQ_DATA_TRAILER_FORMAT
inline constexpr uint8_t kFormatPayload = 3;  // LQ_DATA_PAYLOAD_FORMAT_GD
inline constexpr uint8_t kFormatAllIn = 4;
inline constexpr uint8_t kFormatH264 = 5;
inline constexpr uint8_t kFormatMultiZone = 6;

// 0 and 0x0100 (a resent packet) are success; any other value is an error.
inline constexpr uint16_t kStatusResent = 0x0100;
inline bool IsErrorStatus(uint16_t status) {
    return (status & 0xFEFF) != 0;
}

inline constexpr uint16_t kPayloadTypeImage = 0x0001;
inline constexpr uint16_t kPayloadTypeExtendedChunk = 0x4000;

// Block ids run 1..65535 and wrap to 1; a block more than this far below the last one is a
// block after the wrap.
inline constexpr uint32_t kBlockWrapDistance = 0xF000;
inline constexpr uint32_t kBlockIds = 65535;

struct GvspHeader {
    uint16_t status;
    uint32_t blockId;   // 16 bits
    uint8_t format;     // the whole byte
    uint32_t packetId;  // 24 bits
};

inline GvspHeader DecodeGvspHeader(const uint8_t* p) {
    return {LoadBe16(p), LoadBe16(p + 2), p[4],
            static_cast<uint32_t>(p[5]) << 16 | static_cast<uint32_t>(p[6]) << 8 | p[7]};
}

struct GvspLeader {
    uint16_t payloadType;
    uint64_t timestamp;
    uint32_t pixelFormat;
    uint32_t sizeX;
    uint32_t sizeY;
    uint32_t offsetX;
    uint32_t offsetY;
    uint16_t paddingX;
    uint16_t paddingY;
};

// The leader's fields; the datagram holds at least kGvspLeaderSize bytes.
inline GvspLeader DecodeGvspLeader(const uint8_t* p) {
    return {LoadBe16(p + 10), static_cast<uint64_t>(LoadBe32(p + 12)) << 32 | LoadBe32(p + 16),
            LoadBe32(p + 20), LoadBe32(p + 24),
            LoadBe32(p + 28), LoadBe32(p + 32),
            LoadBe32(p + 36), LoadBe16(p + 40),
            LoadBe16(p + 42)};
}

// The number of block ids strictly between last and current in the cycle 1..65535, 1, ...
inline uint32_t BlocksBetween(uint32_t last, uint32_t current) {
    if (current > last) return current - last - 1;
    if (current < last) return current + kBlockIds - last - 1;
    return 0;
}

}  // namespace qv::gige
