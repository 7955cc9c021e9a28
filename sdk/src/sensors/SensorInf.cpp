#include "SensorInf.h"

#include <algorithm>

#include "common/Log.h"
#include "SensorTables.h"

SensorInf::SensorInf(SensorTypeE type, imginf* inf) : m_inf(inf), m_sensorType(type) {
    QV_ASSERT(inf != NULL);
}

SensorInf::~SensorInf() = default;

int SensorInf::SetFrameTime(double us) {
    (void)us;
    return CAMERA_STATUS_SUCCESS;
}

int SensorInf::GetFrameTimeRange(int* min, int* max) {
    (void)min, (void)max;
    return CAMERA_STATUS_SUCCESS;
}

int SensorInf::SetAuxPair(int a, unsigned b) {
    (void)a, (void)b;
    return CAMERA_STATUS_SUCCESS;
}

int SensorInf::SetWdrMode(int mode) {
    (void)mode;
    return CAMERA_STATUS_NOT_SUPPORTED;
}

int SensorInf::GetWdrMode(int* mode) {
    if (mode != nullptr) *mode = 0;
    return CAMERA_STATUS_NOT_SUPPORTED;
}

int SensorInf::SetRoiOffset(int x, int y) {
    (void)x, (void)y;
    return CAMERA_STATUS_SUCCESS;
}

int SensorInf::SetAeTarget(int target) {
    (void)target;
    return CAMERA_STATUS_NOT_SUPPORTED;
}

int SensorInf::GetTemperature(float* celsius) {
    (void)celsius;
    return CAMERA_STATUS_NOT_SUPPORTED;
}

// ---- Helpers ---------------------------------------------------------------------------------

namespace {

// Bytes per pixel mode of a raw format: 0 one byte, 32 twelve bits in two bytes, 48 YUV 4:2:2.
bool BitModeOf(uint32_t mediaType, uint16_t& bitMode) {
    using namespace sensor;
    if (mediaType == kMono8 || mediaType == kMono8Signed ||
        (mediaType >= kBayerGR8 && mediaType <= kBayerBG8)) {
        bitMode = 0;
    } else if (mediaType == kMono12Packed || mediaType == kMono12 ||
               (mediaType >= kBayerGR12 && mediaType <= kBayerBG12)) {
        bitMode = 32;
    } else if (mediaType == kYuv422) {
        bitMode = 48;
    } else {
        bitMode = 0;
        return false;
    }
    return true;
}

// Hardware types whose FPGA has an image window and frame-buffer ring to program.
bool HasImageWindow(int hw) {
    return (hw >= 1 && hw <= 9) || (hw >= 100 && hw <= 108) || hw == 110 || hw == 111 ||
           (hw >= 200 && hw <= 205) || (hw >= 300 && hw <= 302) || (hw >= 304 && hw <= 306);
}

constexpr uint32_t kFrameHeaderBytes = 256;
constexpr uint64_t kRingGranule = 0x100000;  // frames sit on 1 MiB boundaries
constexpr uint32_t kRingStartGigE205 = 0x100000;

}  // namespace

int SensorInf::SetPixelFormat(uint32_t mediaType) {
    SensorCapability cap;
    GetCapability(cap);
    const std::vector<uint32_t>& formats = cap.supportMediaType;
    uint32_t taken = mediaType;
    if (std::find(formats.begin(), formats.end(), mediaType) == formats.end()) {
        qv::Log("Set the pixel format %u current sensor don't support, use the default format\r\n",
                mediaType);
        // Every driver lists at least one format; should one not, its 8-bit default stands in
        // rather than reading an empty list.
        taken =
            !formats.empty() ? formats.front() : (cap.isMono ? sensor::kMono8 : sensor::kBayerGR8);
    }
    if (!BitModeOf(taken, m_bitMode))
        qv::Log("The bayer format we don't recognize, format 0x%x\r\n", taken);
    m_pixelFormat = taken;
    return CAMERA_STATUS_SUCCESS;
}

int SensorInf::SetupImageWindow(unsigned x, unsigned y, unsigned width, unsigned height,
                                unsigned fovWidth, unsigned fovHeight, unsigned frameBufferLimit,
                                unsigned frameBufferMode) {
    const int hw = GetHardwareType();
    if (!HasImageWindow(hw)) return CAMERA_STATUS_SUCCESS;
    const bool twoBytes = m_bitMode != 0;
    const auto w = static_cast<uint16_t>(width), h = static_cast<uint16_t>(height);
    int r = SetImageWindow(static_cast<uint16_t>(x), static_cast<uint16_t>(y), w, h,
                           static_cast<uint16_t>(fovWidth), static_cast<uint16_t>(fovHeight),
                           twoBytes ? 16 : 8);
    if (r != CAMERA_STATUS_SUCCESS) return r;

    uint64_t size = static_cast<uint64_t>(w) * h * (twoBytes ? 2 : 1) + kFrameHeaderBytes;
    size = (size + kRingGranule - 1) / kRingGranule * kRingGranule;
    const uint32_t start = hw == 205 ? kRingStartGigE205 : 0;
    // A ring that cannot hold one whole frame is no ring at all.
    if (frameBufferLimit <= start || size > frameBufferLimit - start)
        return CAMERA_STATUS_PARAMETER_INVALID;
    const uint64_t end = start + size * ((frameBufferLimit - start) / size);
    r = SetFrameBuffer(start, static_cast<uint32_t>(end), static_cast<uint32_t>(size),
                       static_cast<uint8_t>(frameBufferMode));
    if (r != CAMERA_STATUS_SUCCESS) return r;
    return SetFpgaPixelFormat(m_pixelFormat);
}

unsigned SensorInf::GetFrameBufferMode(unsigned mode) {
    return mode >= 1 && mode <= 3 ? mode : 0;
}
