#include "imagefile/JpegImageFile.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

#include "imagefile/AtomicFile.h"
#include "imagefile/PixelRows.h"

namespace {

using qv::imagefile::EncoderRows;
using qv::imagefile::PixelLayout;

// libjpeg refuses larger sides (JPEG_MAX_DIMENSION); checked first so that nothing is
// allocated or created for such a frame.
constexpr int kMaxSide = 65500;

// libjpeg's own error handler ends the process; this one returns to Compress instead.
struct JpegErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void JpegErrorExit(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<JpegErrorManager*>(cinfo->err)->jump, 1);
}

void JpegSilent(j_common_ptr) {}

// The libjpeg part on its own, so that the jump crosses no C++ object with a destructor.
// 0, or -1 when libjpeg reported an error.
// The input rows: components per pixel and their colour space.
struct JpegInput {
    int components;
    J_COLOR_SPACE space;
};

// Grey and R, G, B rows, and the colour frames libjpeg-turbo reorders itself while it converts
// to its own colour space (so B, G, R and four-byte frames need no pass of their own).
constexpr JpegInput kGreyInput{1, JCS_GRAYSCALE};
constexpr JpegInput kRgbInput{3, JCS_RGB};

JpegInput DirectInput(PixelLayout layout) {
    switch (layout) {
        case PixelLayout::kMono8:
            return kGreyInput;
        case PixelLayout::kRgb8:
            return kRgbInput;
#ifdef JCS_EXTENSIONS
        case PixelLayout::kBgr8:
            return {3, JCS_EXT_BGR};
        case PixelLayout::kRgba8:
            return {4, JCS_EXT_RGBX};  // the fourth byte is skipped
        case PixelLayout::kBgra8:
            return {4, JCS_EXT_BGRX};
#endif
        default:
            return {0, JCS_UNKNOWN};  // converted to grey or R, G, B rows first
    }
}

int Compress(FILE* file, int width, int height, JpegInput input, int quality,
             const EncoderRows& rows) {
    jpeg_compress_struct cinfo;
    // Zeroed, so that the clean-up after a failed creation finds no memory manager to release.
    std::memset(&cinfo, 0, sizeof cinfo);
    JpegErrorManager err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = JpegErrorExit;
    err.pub.output_message = JpegSilent;
    if (setjmp(err.jump) != 0) {
        jpeg_destroy_compress(&cinfo);
        return -1;
    }
    // The interface version of the header this is built with.
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = input.components;
    cinfo.in_color_space = input.space;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality & 0xFF, TRUE);  // baseline-compatible tables
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(rows.Row(cinfo.next_scanline));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return 0;
}

int EncodeFile(const char* fileName, int width, int height, JpegInput input, int quality,
               const EncoderRows& rows) {
    qv::imagefile::CAtomicFile file;
    if (!file.Create(fileName)) return CAMERA_STATUS_FAILED;
    if (Compress(file.Stream(), width, height, input, quality, rows) != 0)
        return std::ferror(file.Stream()) ? CAMERA_STATUS_IO_ERROR : CAMERA_STATUS_FAILED;
    return file.Commit() ? CAMERA_STATUS_SUCCESS : CAMERA_STATUS_IO_ERROR;
}

}  // namespace

int save_jpeg_file(int width, int height, int kind, int quality, const BYTE* pixels,
                   const char* fileName) {
    if (pixels == nullptr || fileName == nullptr || width <= 0 || height <= 0 ||
        (kind != 1 && kind != 2))
        return CAMERA_STATUS_PARAMETER_INVALID;
    if (width > kMaxSide || height > kMaxSide) return CAMERA_STATUS_FAILED;
    const size_t rowBytes = static_cast<size_t>(width) * (kind == 1 ? 1 : 3);
    const EncoderRows rows{pixels, rowBytes, PixelLayout::kUnknown, 0, nullptr};
    return EncodeFile(fileName, width, height, kind == 1 ? kGreyInput : kRgbInput, quality, rows);
}

int SaveJpegImage(const BYTE* image, const char* fileName, int width, int height,
                  uint32_t mediaType, int quality) {
    using namespace qv::imagefile;
    if (image == nullptr || fileName == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    const PixelLayout layout = LayoutOf(mediaType);
    if (layout == PixelLayout::kUnknown) return CAMERA_STATUS_NOT_SUPPORTED;
    uint64_t bytes = 0;
    if (!ImageBytes(width, height, InputBytesPerPixel(layout), &bytes))
        return CAMERA_STATUS_PARAMETER_INVALID;
    if (width > kMaxSide || height > kMaxSide) return CAMERA_STATUS_FAILED;
    const size_t w = static_cast<size_t>(width);
    const size_t inRowBytes = w * InputBytesPerPixel(layout);
    const JpegInput direct = DirectInput(layout);
    if (direct.components != 0)
        return EncodeFile(fileName, width, height, direct, quality,
                          EncoderRows{image, inRowBytes, PixelLayout::kUnknown, 0, nullptr});

    const unsigned channels = EncoderBytesPerPixel(layout);
    std::unique_ptr<BYTE[]> row(new (std::nothrow) BYTE[w * channels]);
    if (!row) return CAMERA_STATUS_FAILED;
    return EncodeFile(fileName, width, height, channels == 1 ? kGreyInput : kRgbInput, quality,
                      EncoderRows{image, inRowBytes, layout, w, row.get()});
}
