#include "usb/FpgaImages.h"

#include <zlib.h>

#include <initializer_list>
#include <iterator>

#include "common/Log.h"
#include "QVDeviceDef.h"

namespace qv::usb {

namespace {

constexpr const char* kFiles[] = {
#define QV_FPGA_IMAGE_FILE(id, file, kind, hw, sensors) file,
    QV_FPGA_IMAGE_LIST(QV_FPGA_IMAGE_FILE)
#undef QV_FPGA_IMAGE_FILE
};
static_assert(std::size(kFiles) == kFpgaImageCount);

constexpr bool In(int v, int lo, int hi) {
    return v >= lo && v <= hi;
}
constexpr bool OneOf(int v, std::initializer_list<int> set) {
    for (int s : set)
        if (v == s) return true;
    return false;
}

using Id = FpgaImageId;

std::optional<Id> Hw100(int s) {
    if (In(s, 22, 23)) return Id::kHw100S22To23;
    if (In(s, 24, 27)) return Id::kHw100S24To27;
    if (In(s, 28, 29)) return Id::kHw100S28To29;
    if (In(s, 30, 31)) return Id::kHw100S30To31;
    if (In(s, 32, 35)) return Id::kHw100S32To35;
    if (In(s, 46, 47)) return Id::kHw100S46To47;
    if (s == 57) return Id::kHw100S57;
    if (s == 58) return Id::kHw100S58;
    return Id::kHw100Other;
}

std::optional<Id> Hw106(int s) {
    if (OneOf(s, {14, 37})) return Id::kHw106S14And37;
    if (In(s, 40, 41)) return Id::kHw106S40To41;
    if (In(s, 53, 54)) return Id::kHw106S53To54;
    if (In(s, 55, 56)) return Id::kHw106S55To56;
    return Id::kHw106Other;
}

std::optional<Id> Hw107(int s) {
    if (s == 38) return Id::kHw107S38;
    if (s == 39) return Id::kHw107S39;
    return std::nullopt;
}

std::optional<Id> Hw110(int s) {
    if (In(s, 8, 9)) return Id::kHw110S8To9;
    if (OneOf(s, {17, 21})) return Id::kHw110S17And21;
    if (In(s, 19, 20)) return Id::kHw110S19To20;
    if (In(s, 22, 23)) return Id::kHw110S22To23;
    if (In(s, 30, 31)) return Id::kHw110S30To31;
    if (In(s, 32, 35)) return Id::kHw110S32To35;
    if (OneOf(s, {40, 41, 68, 69})) return Id::kHw110S40To69;
    if (In(s, 46, 47)) return Id::kHw110S46To47;
    if (In(s, 53, 54)) return Id::kHw110S53To54;
    if (OneOf(s, {57, 59})) return Id::kHw110S57And59;
    if (s == 58) return Id::kHw110S58;
    if (s == 67) return Id::kHw110S67;
    if (In(s, 71, 72)) return Id::kHw110S71To72;
    return std::nullopt;
}

std::optional<Id> Hw111(int s) {
    if (OneOf(s, {57, 59})) return Id::kHw111S57And59;
    if (s == 58) return Id::kHw110S58;  // the two types share the image for sensor type 58
    if (s == 73) return Id::kHw111S73;
    return std::nullopt;
}

}  // namespace

const char* FpgaImageFileName(FpgaImageId id) {
    return kFiles[static_cast<size_t>(id)];
}

std::optional<FpgaImageId> SelectProgImage(int hardwareType, int sensorType) {
    switch (hardwareType) {
        case 100:
            return Hw100(sensorType);
        case 102:
            return Id::kHw102;
        case 103:
            return Id::kHw103;
        case 104:
            return Id::kHw104;
        case 105:
            return Id::kHw105;
        case 106:
            return Hw106(sensorType);
        case 107:
            return Hw107(sensorType);
        case 110:
            return Hw110(sensorType);
        case 111:
            return Hw111(sensorType);
        case 3:
            return Id::kHw3;
        case 4:
            return Id::kHw4;
        case 5:
            return Id::kHw5;
        case 6:
            return Id::kHw6;
        case 7:
            return Id::kHw7;
        default:
            return Id::kCommon;  // 1, 2, 101, 109 and any other type on this path
    }
}

std::optional<FpgaImageId> SelectJtagImage(int sensorType) {
    if (In(sensorType, 8, 9)) return Id::kJtag108S8To9;
    if (OneOf(sensorType, {14, 37})) return Id::kJtag108S14And37;
    return std::nullopt;
}

std::optional<uint16_t> FpgaDescriptorVersion(int hardwareType) {
    // The four descriptors of the self-configuring types 300-303 all carry version 0x2201.
    if (In(hardwareType, 300, 303)) return uint16_t{0x2201};
    return std::nullopt;
}

int InflateFpgaBlob(const FpgaImageBlob& blob, std::vector<uint8_t>& out) {
    if (blob.zlib == nullptr || blob.zlibSize == 0 || blob.inflatedSize > kFpgaImageMaxBytes)
        return CAMERA_STATUS_FPGA_ERROR;
    out.resize(kFpgaImageMaxBytes);
    uLongf length = static_cast<uLongf>(out.size());
    const int z = uncompress(out.data(), &length, blob.zlib, static_cast<uLong>(blob.zlibSize));
    if (z != Z_OK) {
        qv::Log("fpga image inflate failed: %d\n", z);
        out.clear();
        return CAMERA_STATUS_FPGA_ERROR;
    }
    out.resize(length);
    const uint32_t crc = static_cast<uint32_t>(
        crc32(crc32(0L, Z_NULL, 0), out.data(), static_cast<uInt>(out.size())));
    if (length != blob.inflatedSize || crc != blob.inflatedCrc) {
        qv::Log("fpga image damaged: %lu bytes, crc %08x\n", static_cast<unsigned long>(length),
                crc);
        out.clear();
        return CAMERA_STATUS_FPGA_ERROR;
    }
    return CAMERA_STATUS_SUCCESS;
}

int InflateFpgaImage(FpgaImageId id, std::vector<uint8_t>& out) {
    return InflateFpgaBlob(kFpgaImageBlobs[static_cast<size_t>(id)], out);
}

}  // namespace qv::usb
