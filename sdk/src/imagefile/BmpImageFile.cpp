#include "imagefile/BmpImageFile.h"

#include <algorithm>
#include <memory>
#include <new>

#include "common/ByteOrder.h"
#include "imagefile/AtomicFile.h"
#include "imagefile/PixelRows.h"

namespace qv::imagefile {

namespace {

// Rows that need converting are gathered into blocks of about this size for each write.
constexpr size_t kBlockBytes = 1 << 20;

void StoreLe16(uint8_t* p, uint16_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
}

}  // namespace

}  // namespace qv::imagefile

int SaveBmpImage(const BYTE* image, const char* fileName, int width, int height,
                 uint32_t mediaType) {
    using namespace qv::imagefile;
    if (image == nullptr || fileName == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    const PixelLayout layout = LayoutOf(mediaType);
    if (layout == PixelLayout::kUnknown) return CAMERA_STATUS_NOT_SUPPORTED;

    const unsigned bpp = BmpBytesPerPixel(layout);
    const bool grey = bpp == 1;
    uint64_t rowBytes = 0;
    if (!ImageBytes(width, 1, bpp, &rowBytes)) return CAMERA_STATUS_PARAMETER_INVALID;
    const uint64_t paddedRow = (rowBytes + 3) & ~uint64_t{3};
    uint64_t pixelBytes = 0;
    if (!ImageBytes(static_cast<int64_t>(paddedRow), height, 1, &pixelBytes))
        return CAMERA_STATUS_PARAMETER_INVALID;
    const size_t headerBytes = grey ? kBmpGreyHeaderBytes : kBmpHeaderBytes;
    // Sizes are 32-bit fields of the file.
    if (pixelBytes > UINT32_MAX - headerBytes) return CAMERA_STATUS_PARAMETER_INVALID;

    uint8_t header[kBmpGreyHeaderBytes] = {};
    header[0] = 'B';
    header[1] = 'M';
    qv::StoreLe32(header + 2, static_cast<uint32_t>(headerBytes + pixelBytes));
    qv::StoreLe32(header + 10, static_cast<uint32_t>(headerBytes));
    qv::StoreLe32(header + 14, 40);
    qv::StoreLe32(header + 18, static_cast<uint32_t>(width));
    // Negative height: the rows are stored top to bottom, as the frame holds them.
    qv::StoreLe32(header + 22, static_cast<uint32_t>(-static_cast<int64_t>(height)));
    StoreLe16(header + 26, 1);
    StoreLe16(header + 28, static_cast<uint16_t>(bpp * 8));
    qv::StoreLe32(header + 34, static_cast<uint32_t>(pixelBytes));
    if (grey) {
        qv::StoreLe32(header + 46, 256);
        for (unsigned i = 0; i < 256; ++i) {
            uint8_t* entry = header + kBmpHeaderBytes + 4 * i;
            entry[0] = entry[1] = entry[2] = static_cast<uint8_t>(i);
        }
    }

    CAtomicFile file;
    if (!file.Create(fileName)) return CAMERA_STATUS_IO_ERROR;
    if (!file.Write(header, headerBytes)) return CAMERA_STATUS_IO_ERROR;

    const size_t inRow = static_cast<size_t>(width) * InputBytesPerPixel(layout);
    const size_t rows = static_cast<size_t>(height);
    if (BmpRowIsInput(layout) && paddedRow == rowBytes) {
        if (!file.Write(image, inRow * rows)) return CAMERA_STATUS_IO_ERROR;
    } else {
        const size_t blockRows = std::clamp<size_t>(kBlockBytes / paddedRow, 1, rows);
        std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[blockRows * paddedRow]());
        if (!block) return CAMERA_STATUS_FAILED;
        for (size_t top = 0; top < rows; top += blockRows) {
            const size_t n = std::min(blockRows, rows - top);
            for (size_t r = 0; r < n; ++r)
                RowToBmp(layout, image + (top + r) * inRow, static_cast<size_t>(width),
                         block.get() + r * paddedRow);  // the padding bytes stay zero
            if (!file.Write(block.get(), n * paddedRow)) return CAMERA_STATUS_IO_ERROR;
        }
    }
    return file.Commit() ? CAMERA_STATUS_SUCCESS : CAMERA_STATUS_IO_ERROR;
}
