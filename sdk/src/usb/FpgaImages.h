// The FPGA configuration images built into the SDK: which image a camera gets, and the image's
// bytes. Each image is embedded as a zlib stream together with the length and CRC-32 of its
// inflated bytes, which the build records when it embeds the image; a download only ever gets
// bytes that inflated completely and match both.
//
// Where the images come from is the build's choice (see the README): the camera maker's files
// from a folder, or generated placeholders of the same sizes that name their hardware and sensor
// types in a header, so that the tests can tell which image a simulated camera received.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "usb/FpgaImageList.h"

namespace qv::usb {

enum class FpgaImageId : uint8_t {
#define QV_FPGA_IMAGE_ID(id, file, kind, hw, sensors) id,
    QV_FPGA_IMAGE_LIST(QV_FPGA_IMAGE_ID)
#undef QV_FPGA_IMAGE_ID
};

#define QV_FPGA_IMAGE_COUNT(id, file, kind, hw, sensors) +1
inline constexpr size_t kFpgaImageCount = 0 QV_FPGA_IMAGE_LIST(QV_FPGA_IMAGE_COUNT);
#undef QV_FPGA_IMAGE_COUNT

// Every image inflates to at most 1 MiB.
inline constexpr size_t kFpgaImageMaxBytes = 1u << 20;

// One embedded image, as the build recorded it.
struct FpgaImageBlob {
    const uint8_t* zlib;   // the zlib stream
    size_t zlibSize;       // its length
    size_t inflatedSize;   // the length it inflates to
    uint32_t inflatedCrc;  // CRC-32 (zlib's) of the inflated bytes
};

// Filled by the build (the generated image table).
extern const FpgaImageBlob kFpgaImageBlobs[kFpgaImageCount];

// The image's file name (without ".zlib").
const char* FpgaImageFileName(FpgaImageId id);

// The image a host-configured camera of this hardware type gets through its PROG/INIT/DONE
// path, for this sensor type; nothing when the type has none for the sensor.
std::optional<FpgaImageId> SelectProgImage(int hardwareType, int sensorType);
// The image a hardware type 108 camera gets through its instruction port.
std::optional<FpgaImageId> SelectJtagImage(int sensorType);
// Hardware type 7's second image, written to the camera's flash.
inline constexpr FpgaImageId kFlashImageType7 = FpgaImageId::kHw7Flash;

// The version word of the configuration descriptors kept with the images for the
// self-configuring hardware types 300 to 303; nothing for other types.
std::optional<uint16_t> FpgaDescriptorVersion(int hardwareType);

// Inflates the image into out (resized to the inflated length). 0, or CAMERA_STATUS_FPGA_ERROR
// when the stream does not inflate within kFpgaImageMaxBytes, or its length or CRC-32 differs
// from what the build recorded.
int InflateFpgaImage(FpgaImageId id, std::vector<uint8_t>& out);
// The same on any blob (the tests feed damaged ones).
int InflateFpgaBlob(const FpgaImageBlob& blob, std::vector<uint8_t>& out);

}  // namespace qv::usb
