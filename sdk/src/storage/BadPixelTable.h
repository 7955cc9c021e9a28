// The dead-pixel table a camera keeps in its storage (read and written whole through the
// device's DevLoadBadPixelTable and DevSaveBadPixelTable), little-endian:
//   0   magic 0x20231205
//   4   count n
//   8   24 zero bytes
//   32  n positions, (y << 16) | x each
// The count comes from the camera and is checked against the table's room before anything is
// read by it.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

constexpr uint32_t kBadPixelTableMagic = 0x20231205;
constexpr uint32_t kBadPixelHeaderSize = 32;
// The storage holds at most 0x40000 bytes: (0x40000 - 32) / 4 = 65528 positions.
constexpr uint32_t kBadPixelMaxCount = 65528;
static_assert(kBadPixelHeaderSize + 4 * kBadPixelMaxCount == 0x40000);

// The table is moved whole through an operation (data, len) -> status: the device's or the
// attachment holder's DevSaveBadPixelTable / DevLoadBadPixelTable.
using BadPixelTableIo = std::function<int(uint8_t* data, int len)>;

// Stores header and positions: -6 for a null list, a count of 0 or above kBadPixelMaxCount;
// else the result of save.
int WriteBadPixelTable(const BadPixelTableIo& save, const uint32_t* positions, uint32_t count);
// Reads the header (its error returned), then header and positions together. -8
// (CAMERA_STATUS_DATA_INVALID) for another magic or a count above kBadPixelMaxCount; positions
// is cleared first and filled only on success.
int ReadBadPixelTable(const BadPixelTableIo& load, std::vector<uint32_t>& positions);

// The same through anything that has DevSaveBadPixelTable / DevLoadBadPixelTable.
template <class Device>
int WriteBadPixelList(Device& device, const uint32_t* positions, uint32_t count) {
    return WriteBadPixelTable(
        [&device](uint8_t* data, int len) { return device.DevSaveBadPixelTable(data, len); },
        positions, count);
}
template <class Device>
int ReadBadPixelList(Device& device, std::vector<uint32_t>& positions) {
    return ReadBadPixelTable(
        [&device](uint8_t* data, int len) { return device.DevLoadBadPixelTable(data, len); },
        positions);
}
