#include "imagefile/PngImageFile.h"

#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstdio>
#include <memory>
#include <new>

#include "imagefile/AtomicFile.h"
#include "imagefile/PixelRows.h"

namespace {

using qv::imagefile::EncoderRows;
using qv::imagefile::PixelLayout;

// libpng refuses larger sides when it writes the header (its default user limits); checked
// first so that nothing is allocated or created for such a frame.
constexpr int kMaxSide =
    PNG_USER_WIDTH_MAX < PNG_USER_HEIGHT_MAX ? PNG_USER_WIDTH_MAX : PNG_USER_HEIGHT_MAX;

// libpng's default handlers print to standard error; failures come back through the jump.
[[noreturn]] void PngError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}
void PngWarning(png_structp, png_const_charp) {}

// The libpng part on its own, so that the jump crosses no C++ object with a destructor, and
// every outcome leaves through the one release of the structures. 0, or -1 when libpng failed.
int Encode(FILE* file, int width, int height, int colourType, const EncoderRows& rows) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
    if (png == nullptr) return -1;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return -1;
    }
    volatile bool writingEnd = false;
    if (setjmp(png_jmpbuf(png)) != 0) {
        if (writingEnd) std::printf("[write_png_file] Error during end of write\n");
        png_destroy_write_struct(&png, &info);
        return -1;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 colourType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    // Frames are saved while a camera streams: speed before file size (one row filter and
    // zlib's fastest level with run-length matching).
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
    png_set_compression_level(png, Z_BEST_SPEED);
    png_set_compression_strategy(png, Z_RLE);
    png_write_info(png, info);
    for (size_t r = 0; r < static_cast<size_t>(height); ++r) png_write_row(png, rows.Row(r));
    writingEnd = true;
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return 0;
}

int EncodeFile(const char* fileName, int width, int height, int colourType,
               const EncoderRows& rows) {
    qv::imagefile::CAtomicFile file;
    if (!file.Create(fileName)) return CAMERA_STATUS_FAILED;
    if (Encode(file.Stream(), width, height, colourType, rows) != 0)
        return std::ferror(file.Stream()) ? CAMERA_STATUS_IO_ERROR : CAMERA_STATUS_FAILED;
    return file.Commit() ? CAMERA_STATUS_SUCCESS : CAMERA_STATUS_IO_ERROR;
}

}  // namespace

int write_png_file(int width, int height, int colourType, const BYTE* pixels,
                   const char* fileName) {
    if (pixels == nullptr || fileName == nullptr || width <= 0 || height <= 0)
        return CAMERA_STATUS_PARAMETER_INVALID;
    if (colourType != PNG_COLOR_TYPE_GRAY && colourType != PNG_COLOR_TYPE_RGB)
        return CAMERA_STATUS_FAILED;
    if (width > kMaxSide || height > kMaxSide) return CAMERA_STATUS_FAILED;
    const size_t rowBytes =
        static_cast<size_t>(width) * (colourType == PNG_COLOR_TYPE_GRAY ? 1 : 3);
    const EncoderRows rows{pixels, rowBytes, PixelLayout::kUnknown, 0, nullptr};
    return EncodeFile(fileName, width, height, colourType, rows);
}

int SavePngImage(const BYTE* image, const char* fileName, int width, int height,
                 uint32_t mediaType) {
    using namespace qv::imagefile;
    if (image == nullptr || fileName == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    const PixelLayout layout = LayoutOf(mediaType);
    if (layout == PixelLayout::kUnknown) return CAMERA_STATUS_NOT_SUPPORTED;
    uint64_t bytes = 0;
    if (!ImageBytes(width, height, InputBytesPerPixel(layout), &bytes))
        return CAMERA_STATUS_PARAMETER_INVALID;
    const int colourType =
        EncoderBytesPerPixel(layout) == 1 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB;
    // Grey 8-bit and R, G, B frames are the encoder's input as they are.
    if (layout == PixelLayout::kMono8 || layout == PixelLayout::kRgb8)
        return write_png_file(width, height, colourType, image, fileName);
    if (width > kMaxSide || height > kMaxSide) return CAMERA_STATUS_FAILED;

    const size_t w = static_cast<size_t>(width);
    std::unique_ptr<BYTE[]> row(new (std::nothrow) BYTE[w * EncoderBytesPerPixel(layout)]);
    if (!row) return CAMERA_STATUS_FAILED;
    const EncoderRows rows{image, w * InputBytesPerPixel(layout), layout, w, row.get()};
    return EncodeFile(fileName, width, height, colourType, rows);
}
