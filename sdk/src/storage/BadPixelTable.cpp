#include "BadPixelTable.h"

#include <cstring>

#include "common/ByteOrder.h"
#include "QVDeviceDef.h"

using qv::LoadLe32;
using qv::StoreLe32;

int WriteBadPixelTable(const BadPixelTableIo& save, const uint32_t* positions, uint32_t count) {
    if (!save || positions == nullptr || count == 0 || count > kBadPixelMaxCount)
        return CAMERA_STATUS_PARAMETER_INVALID;
    std::vector<uint8_t> table(kBadPixelHeaderSize + 4 * static_cast<size_t>(count), 0);
    StoreLe32(table.data(), kBadPixelTableMagic);
    StoreLe32(table.data() + 4, count);
    for (uint32_t i = 0; i < count; ++i)
        StoreLe32(table.data() + kBadPixelHeaderSize + 4 * static_cast<size_t>(i), positions[i]);
    return save(table.data(), static_cast<int>(table.size()));
}

int ReadBadPixelTable(const BadPixelTableIo& load, std::vector<uint32_t>& positions) {
    positions.clear();
    if (!load) return CAMERA_STATUS_PARAMETER_INVALID;
    uint8_t header[kBadPixelHeaderSize];
    int r = load(header, sizeof header);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (LoadLe32(header) != kBadPixelTableMagic) return CAMERA_STATUS_DATA_INVALID;
    const uint32_t count = LoadLe32(header + 4);
    if (count > kBadPixelMaxCount) return CAMERA_STATUS_DATA_INVALID;
    if (count == 0) return CAMERA_STATUS_SUCCESS;
    std::vector<uint8_t> table(kBadPixelHeaderSize + 4 * static_cast<size_t>(count));
    r = load(table.data(), static_cast<int>(table.size()));
    if (r != CAMERA_STATUS_SUCCESS) return r;
    // The second read is the one used: a header that changed in between is checked again.
    if (LoadLe32(table.data()) != kBadPixelTableMagic || LoadLe32(table.data() + 4) != count)
        return CAMERA_STATUS_DATA_INVALID;
    positions.resize(count);
    for (uint32_t i = 0; i < count; ++i)
        positions[i] = LoadLe32(table.data() + kBadPixelHeaderSize + 4 * static_cast<size_t>(i));
    return CAMERA_STATUS_SUCCESS;
}
