// Rows of the packed YUV 4:2:2 conversion shared by its instruction-set families.
#pragma once

#include <cstdint>

namespace qv::isp::yuv {

// The conversion of an output format: luma only, the integer form or the floating form.
enum class Form { kGrey, kInteger, kFloating };

// Converts the first pairs of a row sixteen at a time in AVX2 (U, Y0, V, Y1 per pair in; 2, 3
// or 4 bytes per pixel out, red first when `rgbOrder`); returns the pairs done, the rest being
// left to the caller. The same bytes as the SSE4.1 rows. Only where the processor runs AVX2.
int ConvertRowAvx2(const uint8_t* src, uint8_t* dst, int pairs, Form form, bool lumaOnly,
                   bool rgbOrder, int bpp);

}  // namespace qv::isp::yuv
