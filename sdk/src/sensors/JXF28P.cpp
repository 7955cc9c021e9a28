#include "JXF28P.h"

#include <algorithm>
#include <iterator>

#include "common/Log.h"
#include "SensorFactory.h"

using namespace sensor;

namespace {

constexpr uint8_t kBusAddress = 0x80;
constexpr uint8_t kBusWidths = 0x11;  // 8-bit registers, 8-bit data
constexpr uint16_t kIfBits = 1 | 8;   // lane bit and the format bits of this chip's port
constexpr uint16_t kRegGain = 0x00;
constexpr uint16_t kRegExposureLow = 0x01, kRegExposureHigh = 0x02;
constexpr uint16_t kRegFrameLow = 0x22, kRegFrameHigh = 0x23;
constexpr uint32_t kClockHz = 43200000;
constexpr double kMaxExposureUs = 90000000;  // 90 s

struct SpeedRow {
    uint32_t line, frame;
    uint16_t reg29, reg2B;
};
constexpr SpeedRow kSpeeds[] = {{6400, 1125, 14, 30}, {1280, 2250, 4, 20}, {1280, 1125, 4, 20}};

// The closing list leaves gain code 0 and 8 lines of exposure.
constexpr uint16_t kClosing[] = {0x00, 0x00, 0x01, 0x08, 0x02, 0x00};

// ---- Chip maker's settings ------------------------------------------------------------------
// QV_MAKER_ROW rows are placeholders for values the chip maker supplies (see SensorTables.h).

// clang-format off
// Initialisation, 108 rows: 4 known, 101 from the maker, 3 known.
constexpr uint16_t kInit[] = {
    0x12, 0x40,  0x48, 0x8A,  0x48, 0x0A,  0x0E, 0x11,
    QV_MAKER_ROWS_32, QV_MAKER_ROWS_32, QV_MAKER_ROWS_32, QV_MAKER_ROWS_4, QV_MAKER_ROW,
    0x9B, 0x83,  0x79, 0x00,  0x12, 0x00,
};
// clang-format on
static_assert(std::size(kInit) == 2 * 108);

constexpr uint32_t kFormats110[] = {kMono8, kMono12};

}  // namespace

CJXF28P::CJXF28P(SensorTypeE type, imginf* inf) : CSensorBase(type, inf) {
    m_auxValue = 15;
    m_inputClock = 24000000;
    m_frameTimeNs = 200000000.0;
    m_frameSpeed = 2;
    SetInstanceInfo("JXF28P", "CMOS_2M");
    SetLimits({.aeTargetMin = 60,
               .aeTargetMax = 160,
               .gainMax = 30000,
               .expLinesMax = 3780,
               .maxWidth = 1920,
               .maxHeight = 1080,
               .reductionModeMask = 3});
    SetPixelFormat(kBayerGR8);  // not listed: the chip's first format, Mono8
}

int CJXF28P::GetSensorInfo(SensorTypeE type, SensorInfo* info) {
    return FillSensorInfo("CJXF28P", type, info);
}

int CJXF28P::Probe(SensorTypeE type, imginf* inf) {
    CJXF28P probe(type, inf);
    return CheckChipIdentity(probe, {{0x0A, 0x08}, {0x0B, 0x50}});
}

int CJXF28P::Reset() {
    if (!OnItsBoard()) return CAMERA_STATUS_NOT_SUPPORTED;
    int r = PulseGpio(29);
    if (r == CAMERA_STATUS_SUCCESS) r = SetSensorBus(kBusAddress, kBusWidths);
    if (r == CAMERA_STATUS_SUCCESS) r = SetSensorInterface(kIfSetup);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    Pause(20);
    return CAMERA_STATUS_SUCCESS;
}

int CJXF28P::Init(CameraInitParam* param) {
    if (param == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    int r = Reset();
    if (r != CAMERA_STATUS_SUCCESS) return r;
    SetPixelFormat(param->mediaType);
    m_streaming = false;
    m_inputClock = kClockHz;
    if ((r = SetSensorInterface(kIfBits | m_bitMode | kIfSetup)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = SetTriggerControl(0, 0, 1, 0)) != CAMERA_STATUS_SUCCESS) return r;
    SetResolution(&param->resolution);
    ApplyResolution();
    m_fpgaOffsetX = m_roiX;
    m_fpgaOffsetY = m_roiY;
    if ((r = WriteSensorRegs(kInit)) != CAMERA_STATUS_SUCCESS) return r;
    SetFrameSpeed(param->frameSpeed);
    Pause(10);
    r = SetupImageWindow(m_fpgaOffsetX, m_fpgaOffsetY, m_width, m_height, m_fovWidth, m_fovHeight,
                         kFrameBufferLimit,
                         GetFrameBufferMode(static_cast<unsigned>(param->transferMode)));
    if (r != CAMERA_STATUS_SUCCESS) return r;
    // The exposure and gain members keep their values: the stream open sets both next.
    return WriteSensorRegs(kClosing);
}

// ---- Timing and exposure -----------------------------------------------------------------------

int CJXF28P::SetFrameSpeed(int speed) {
    if (!OnItsBoard()) return CAMERA_STATUS_NOT_SUPPORTED;
    if (speed < 0 || speed > 2) return CAMERA_STATUS_PARAMETER_INVALID;
    const SpeedRow& row = kSpeeds[speed];
    const int r = WriteSensorRegs(
        {0x29, row.reg29, 0x2B, row.reg2B, kRegFrameLow, static_cast<uint16_t>(row.frame & 0xFF),
         kRegFrameHigh, static_cast<uint16_t>(row.frame >> 8), 0x20,
         static_cast<uint16_t>(row.line & 0xFF), 0x21, static_cast<uint16_t>(row.line >> 8)});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_frameSpeed = static_cast<uint32_t>(speed);
    m_lineLength = row.line;
    m_frameLength = row.frame;
    RecomputeTiming(m_inputClock);
    if (m_lineTimeUs > 0)
        m_param.expLinesMax = static_cast<uint32_t>(kMaxExposureUs / m_lineTimeUs);
    return CAMERA_STATUS_SUCCESS;
}

// The exposure registers hold 16 bits of lines; a longer exposure than the frame stretches the
// frame registers to it (the frame of the speed stays the one to come back to).
int CJXF28P::SetExposureLines(uint32_t lines) {
    qv::Log("explines:%d\n", static_cast<int>(lines));
    lines = std::clamp(lines, 1u, 0xFFFFu);
    const uint32_t frame = std::max(lines, m_frameLength) & 0xFFFF;
    const int r = WriteSensorRegs({kRegExposureLow, static_cast<uint16_t>(lines & 0xFF),
                                   kRegExposureHigh, static_cast<uint16_t>(lines >> 8),
                                   kRegFrameLow, static_cast<uint16_t>(frame & 0xFF), kRegFrameHigh,
                                   static_cast<uint16_t>(frame >> 8)});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    RecordExposureLines(lines);
    return CAMERA_STATUS_SUCCESS;
}

int CJXF28P::SetExposure(double us) {
    return SetExposureLines(LinesForUs(us, 1));
}

// Doublings in the high nibble (x2 to x16) and sixteenths of the doubling in the low one.
int CJXF28P::SetAnalogGain(uint32_t gain) {
    gain = std::clamp(gain, m_param.analogGainMin, m_param.analogGainMax);
    const double x = gain / 1000.0;
    double factor = 1;
    uint16_t base = 0x00;
    if (x >= 16) {
        factor = 16, base = 0x40;
    } else if (x >= 8) {
        factor = 8, base = 0x30;
    } else if (x >= 4) {
        factor = 4, base = 0x20;
    } else if (x >= 2) {
        factor = 2, base = 0x10;
    }
    const auto fine = static_cast<uint32_t>(std::min((x / factor - 1) * 16, 15.0));
    const uint16_t code = static_cast<uint16_t>(base | fine);
    const int r = WriteSensorReg(kRegGain, code);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_gainReg = code;
    m_gain = static_cast<uint32_t>(factor * (1 + fine / 16.0) * 1000);
    return CAMERA_STATUS_SUCCESS;
}

// ---- Streaming and trigger ---------------------------------------------------------------------

int CJXF28P::StreamOn() {
    if (!OnItsBoard()) return CAMERA_STATUS_SUCCESS;
    const int r = SetSensorInterface(kIfBits | m_bitMode | kIfRun);
    if (r == CAMERA_STATUS_SUCCESS) m_streaming = true;
    return r;
}

int CJXF28P::StreamOff() {
    if (!OnItsBoard()) return CAMERA_STATUS_SUCCESS;
    const int r = SetSensorInterface(kIfBits | m_bitMode | kIfStop);
    if (r == CAMERA_STATUS_SUCCESS) m_streaming = false;
    return r;
}

int CJXF28P::SetTriggerMode(int mode) {
    return OnItsBoard() ? ApplyTriggerMode(mode, 10, 50000) : CAMERA_STATUS_SUCCESS;
}

int CJXF28P::SoftTrigger() {
    if (OnItsBoard()) SendSoftTrigger();
    return CAMERA_STATUS_SUCCESS;
}

void CJXF28P::GetCapability(SensorCapability& cap) {
    cap.isMono = 1;
    cap.driverWord = 1;
    cap.defaultResolutionIndex = 15;  // "1920X1080"
    cap.presetMask = uint64_t{1} << 15;
    using Formats = std::span<const uint32_t>;
    SetFormats(cap, OnItsBoard() ? Formats(kFormats110) : Formats(kMono8Only));
}
