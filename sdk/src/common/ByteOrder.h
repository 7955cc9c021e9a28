// Little-endian words in byte buffers. What a camera stores (EEPROM and flash fields, the
// bad-pixel table) and what it sends (frame headers, replies) is little-endian whatever the
// host, so words are assembled byte by byte rather than copied.
#pragma once

#include <cstdint>

namespace qv {

inline uint32_t LoadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline void StoreLe32(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
    p[2] = static_cast<uint8_t>(value >> 16);
    p[3] = static_cast<uint8_t>(value >> 24);
}

inline uint64_t LoadLe64(const uint8_t* p) {
    return static_cast<uint64_t>(LoadLe32(p + 4)) << 32 | LoadLe32(p);
}

inline void StoreLe64(uint8_t* p, uint64_t value) {
    StoreLe32(p, static_cast<uint32_t>(value));
    StoreLe32(p + 4, static_cast<uint32_t>(value >> 32));
}

}  // namespace qv
