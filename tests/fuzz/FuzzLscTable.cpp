// Lens-shading tables from arbitrary bytes, as a host may load them from a file of its own: the
// correction either refuses the table or writes exactly width x height samples of the output.
// The first bytes choose the image (size, depth, records whose sizes do not fit); calibration
// runs on the same image into a table of the size the input asks. Nothing may crash or read or
// write outside the caller's buffers.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "CameraISP.h"

namespace {

constexpr uint32_t kMediaTypes[] = {0x01000000u, 0x01080000u, 0x01100005u,
                                    0x01100007u, 0x01100025u, 0x02180015u};
constexpr uint8_t kGuard = 0xA5;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6) return 0;
    static CameraISP isp;
    const uint32_t width = 1 + data[0] % 48;
    const uint32_t height = 1 + data[1] % 32;
    const uint32_t mediaType = kMediaTypes[data[2] % std::size(kMediaTypes)];
    const uint8_t shape = data[3];  // records that claim more than their buffers hold
    const uint32_t gridColumns = data[4] % 12;
    const uint32_t gridRows = data[5] % 12;
    data += 6;
    size -= 6;
    const size_t sample = (mediaType >> 16 & 0xFF) > 8 ? 2 : 1;
    const size_t samples = size_t{width} * height;

    // The image: the input's bytes over a flat field; every buffer has a guard after it.
    std::vector<uint8_t> image(samples * sample + 16, kGuard);
    for (size_t i = 0; i < samples * sample; ++i) image[i] = static_cast<uint8_t>(100 + i % 7);
    std::vector<uint8_t> table(size + 16, kGuard);
    if (size > 0) std::memcpy(table.data(), data, size);
    std::vector<uint8_t> out(samples * sample + 16, kGuard);

    tSdkLscCorrectParam correct{};
    correct.uWidth = width;
    correct.uHeight = height;
    correct.uMediaType = mediaType;
    correct.pInput = image.data();
    correct.uInputSize = static_cast<UINT>(samples - ((shape & 1) ? 1 : 0));
    correct.pOutput = (shape & 2) ? image.data() : out.data();
    correct.uOutputCapacity = static_cast<UINT>(samples - ((shape & 4) ? 1 : 0));
    correct.pTable = table.data();
    correct.uTableSize = static_cast<UINT>(size);
    const int r = isp.LscCorrect(&correct);
    if (r != 0 && r != CAMERA_STATUS_PARAMETER_INVALID && r != CAMERA_STATUS_NOT_SUPPORTED)
        __builtin_trap();
    if (r != 0 && !(shape & 2)) {
        for (size_t i = 0; i < samples * sample; ++i)
            if (out[i] != kGuard) __builtin_trap();  // a refusal wrote
    }
    for (size_t i = samples * sample; i < out.size(); ++i)
        if (out[i] != kGuard || image[i] != kGuard) __builtin_trap();
    for (size_t i = size; i < table.size(); ++i)
        if (table[i] != kGuard) __builtin_trap();

    // Calibration of the same image into a table of the input's size.
    tSdkLscCalibParam calib{};
    calib.uWidth = width;
    calib.uHeight = height;
    calib.uMediaType = mediaType;
    calib.pImage = image.data();
    calib.uImageSize = static_cast<UINT>(samples - ((shape & 8) ? 1 : 0));
    calib.pTable = table.data();
    calib.uTableCapacity = static_cast<UINT>(size);
    calib.uGridColumns = gridColumns;
    calib.uGridRows = gridRows;
    calib.uWindowSize = shape >> 4 & 7;
    calib.uRefMode = shape >> 7;
    calib.usRefValue = static_cast<USHORT>(0x80 + (shape & 0x0F));
    const int c = isp.LscCalibrate(&calib);
    if (c != 0 && c != CAMERA_STATUS_PARAMETER_INVALID && c != CAMERA_STATUS_NOT_SUPPORTED)
        __builtin_trap();
    if (c == 0 && calib.uTableSize > size) __builtin_trap();
    for (size_t i = size; i < table.size(); ++i)
        if (table[i] != kGuard) __builtin_trap();
    return 0;
}
