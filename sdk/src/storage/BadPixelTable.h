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
#include <vector>

class imginf;

constexpr uint32_t kBadPixelTableMagic = 0x20231205;
constexpr uint32_t kBadPixelHeaderSize = 32;
// The storage holds at most 0x40000 bytes: (0x40000 - 32) / 4 = 65528 positions.
constexpr uint32_t kBadPixelMaxCount = 65528;
static_assert(kBadPixelHeaderSize + 4 * kBadPixelMaxCount == 0x40000);

// Stores header and positions: -6 for a null list, a count of 0 or above kBadPixelMaxCount;
// else the device's result.
int WriteBadPixelList(imginf& device, const uint32_t* positions, uint32_t count);
// Reads the header (its error returned), then header and positions together. -8
// (CAMERA_STATUS_DATA_INVALID) for another magic or a count above kBadPixelMaxCount; positions
// is cleared first and filled only on success.
int ReadBadPixelList(imginf& device, std::vector<uint32_t>& positions);
