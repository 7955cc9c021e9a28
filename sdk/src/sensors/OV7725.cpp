#include "OV7725.h"

#include <algorithm>
#include <iterator>

#include "SensorFactory.h"

using namespace sensor;

namespace {

constexpr uint8_t kBusAddress = 0x42;
constexpr uint8_t kBusWidths = 0x11;  // 8-bit registers, 8-bit data
constexpr uint16_t kRegChipId = 0x0A;
constexpr uint16_t kChipId = 0x77;

// Where the sensor's own window starts inside its array, and the blanking around it.
constexpr uint32_t kWindowStartX = 136;
constexpr uint32_t kWindowStartY = 15;
constexpr uint32_t kHorizontalBlank = 18;
constexpr uint32_t kVerticalBlank = 8;

// Interface words: the set-up, run (0x80 pixels flow, 4 the chip's byte order) and stop.
constexpr uint16_t kIfSetupWord = 0;
constexpr uint16_t kIfRunWord = 0x84;
constexpr uint16_t kIfStopWord = 4;

// The gain that holds in 16 steps of 1/16 per doubling: x2 per set bit of 0x10, 0x20, 0x40,
// 0x80, times (16 + low nibble) / 16.
constexpr uint32_t kMaxGain = 31000;  // x16 with 15/16 on top

// A line is 784 periods and a frame 510 lines of the clock divided by 0x11's divider.
struct SpeedRow {
    uint16_t divider, reg22, reg23;
    double periodNs, lineNs, frameNs;
};
constexpr SpeedRow kSpeeds[] = {
    {3, 0x3F, 7, 166, 130144, 66373440},
    {1, 0x7F, 3, 83, 65072, 33186720},
    {0, 0xFF, 1, 41, 32144, 16393440},
};

constexpr uint32_t kFormats[] = {kBayerGR8};

}  // namespace

COV7725::COV7725(SensorTypeE type, imginf* inf) : CSensorBase(type, inf) {
    m_auxValue = 1;
    m_pixelClock = 24000000;
    m_frameTimeNs = 200000000.0;
    m_frameSpeed = 2;
    SetInstanceInfo("OV7725", "CMOS_36W");
    SetLimits({.aeTargetMin = 60,
               .aeTargetMax = 160,
               .gainMin = 0,
               .gainMax = 32000,
               .expLinesMax = 510,
               .maxWidth = 640,
               .maxHeight = 480,
               .reductionModeMask = 7});
    SetPixelFormat(kBayerGR8);
}

int COV7725::GetSensorInfo(SensorTypeE type, SensorInfo* info) {
    return FillSensorInfo("COV7725", type, info);
}

int COV7725::Probe(SensorTypeE type, imginf* inf) {
    COV7725 probe(type, inf);
    return CheckChipIdentity(probe, {{kRegChipId, kChipId}});
}

// Only board 303 wires the chip's reset (GPIO 23 and 71) and power-down (GPIO 65, low = on).
int COV7725::Reset() {
    if (GetHardwareType() == 303) {
        int r = PulseGpioPair(23, 71);
        if (r == CAMERA_STATUS_SUCCESS) r = SetGpioMode(65, 0);
        if (r == CAMERA_STATUS_SUCCESS) r = WriteGpio(65, 0);
        if (r != CAMERA_STATUS_SUCCESS) return r;
    }
    return SetSensorBus(kBusAddress, kBusWidths);
}

void COV7725::ApplyWindow() {
    ApplyResolution();
    m_fpgaOffsetX = static_cast<uint16_t>(m_roiX + kWindowStartX);
    m_fpgaOffsetY = static_cast<uint16_t>(m_roiY + kWindowStartY);
    m_lineLength = m_width + kHorizontalBlank;
    m_frameLength = m_height + kVerticalBlank;
}

int COV7725::Init(CameraInitParam* param) {
    if (param == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    int r = Reset();
    if (r != CAMERA_STATUS_SUCCESS) return r;
    SetPixelFormat(param->mediaType);
    SetResolution(&param->resolution);
    ApplyWindow();
    if ((r = SetSensorInterface(kIfSetupWord)) != CAMERA_STATUS_SUCCESS) return r;

    const uint32_t x = m_fpgaOffsetX, y = m_fpgaOffsetY, l = m_lineLength, f = m_frameLength;
    const uint32_t w = m_width, h = m_height;
    // clang-format off
    const uint16_t list[] = {
        0x12, 0x80,  kPauseReg, 10,  0x12, 3,  0x15, 2,  0x0C, 0,  0x3D, 3,
        // The sensor window: start, size and their low bits in 0x32 and 0x2A.
        0x17, static_cast<uint16_t>(x >> 2),  0x18, static_cast<uint16_t>(l >> 2),
        0x19, static_cast<uint16_t>(y >> 1),  0x1A, static_cast<uint16_t>(f >> 1),
        0x32, static_cast<uint16_t>(((x & 3) << 4) | ((y & 1) << 6) | ((f & 1) << 2) | (l & 3)),
        0x29, static_cast<uint16_t>(w >> 2),  0x2C, static_cast<uint16_t>(h >> 1),
        0x2A, static_cast<uint16_t>(((h & 1) << 2) | (w & 3)),
        0x42, 0x7F,  0x4D, 0x09,  0x63, 0xF0,  0x64, 0xFF,  0x65, 0,  0x66, 0,  0x67, 2,
        0x13, 0xF0,  0x0D, 0x41,  0x0F, 0xC5,  0x14, 0x11,  0x24, 0x40,  0x25, 0x30,
        0x26, 0xA1,  0x2B, 0,  0x6B, 0xAA,  0x13, 0,
        0x90, 5,  0x91, 1,  0x92, 5,  0x93, 0,  0x94, 0x78,  0x95, 0x64,  0x96, 0x14,
        0x97, 0x12,  0x98, 0x72,  0x99, 0x84,  0x9A, 0x1E,  0x9B, 8,  0x9C, 0x20,
        0x9E, 0,  0x9F, 0,  0xA6, 4,
        // Gamma curve.
        0x7E, 0x0C,  0x7F, 0x16,  0x80, 0x2A,  0x81, 0x4E,  0x82, 0x61,  0x83, 0x6F,
        0x84, 0x7B,  0x85, 0x86,  0x86, 0x8E,  0x87, 0x97,  0x88, 0xA4,  0x89, 0xAF,
        0x8A, 0xC5,  0x8B, 0xD7,  0x8C, 0xE8,  0x8D, 0x20,
    };
    // clang-format on
    static_assert(std::size(list) == 2 * 63);
    if ((r = WriteSensorRegs(list)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = SetFrameSpeed(param->frameSpeed)) != CAMERA_STATUS_SUCCESS) return r;
    SetExposureLines(10);
    return CAMERA_STATUS_SUCCESS;
}

// A speed outside 0 to 2 runs as the middle one; the speed is kept as asked.
int COV7725::SetFrameSpeed(int speed) {
    const SpeedRow& row = kSpeeds[speed >= 0 && speed <= 2 ? speed : 1];
    const int r = WriteSensorRegs({0x11, row.divider, 0x22, row.reg22, 0x23, row.reg23});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_frameSpeed = static_cast<uint32_t>(speed);
    m_pixelPeriodNs = row.periodNs;
    m_lineTimeNs = row.lineNs;
    m_frameTimeNs = row.frameNs;
    m_lineTimeUs = row.lineNs / 1000.0;
    return CAMERA_STATUS_SUCCESS;
}

// The exposure registers hold 16 bits (0x08 the high byte, 0x10 the low one).
int COV7725::SetExposureLines(uint32_t lines) {
    lines = std::clamp(lines, 1u, 0xFFFFu);
    m_expLines = lines;
    const int r = WriteSensorRegs(
        {0x08, static_cast<uint16_t>(lines >> 8), 0x10, static_cast<uint16_t>(lines & 0xFF)});
    if (r == CAMERA_STATUS_SUCCESS) m_expTimeUs = lines * m_lineTimeNs / 1000.0;
    return r;
}

int COV7725::SetExposure(double us) {
    return SetExposureLines(LinesForUs(us, 1));
}

// Below unity the per-channel gains (0x80 = x1) scale down; from unity the gain register's high
// nibble doubles per set bit and its low nibble adds sixteenths. The fine step stops at 15: a
// 16th sixteenth would carry into the doubling bits and halve the top gain.
int COV7725::SetAnalogGain(uint32_t gain) {
    gain = std::min(gain, kMaxGain);
    uint32_t code = 0, channel = 128;
    if (gain < 1000) {
        channel = gain * 128 / 1000;
    } else {
        struct Range {
            uint32_t below, base, high;
        };
        constexpr Range kRanges[] = {
            {2000, 1000, 0x00},  {4000, 2000, 0x10},        {8000, 4000, 0x30},
            {16000, 8000, 0x70}, {0xFFFFFFFF, 16000, 0xF0},
        };
        for (const Range& range : kRanges) {
            if (gain >= range.below) continue;
            const auto fine =
                static_cast<uint32_t>((static_cast<double>(gain) / range.base - 1) * 16);
            code = std::min(fine, 15u) | range.high;
            break;
        }
    }
    m_gainReg = code;
    // A failed write leaves the previous gain on the chip; the request is what the SDK reports.
    WriteSensorRegs({0x00, static_cast<uint16_t>(code), 0x01, static_cast<uint16_t>(channel), 0x02,
                     static_cast<uint16_t>(channel), 0x03, static_cast<uint16_t>(channel)});
    m_gain = gain;
    return CAMERA_STATUS_SUCCESS;
}

int COV7725::StreamOn() {
    const int r = SetSensorInterface(kIfRunWord);
    if (r == CAMERA_STATUS_SUCCESS) m_streaming = true;
    return r;
}

int COV7725::StreamOff() {
    WriteSensorReg(0x12, 0x80);  // soft reset: the chip stops driving its outputs
    const int r = SetSensorInterface(kIfStopWord);
    if (r == CAMERA_STATUS_SUCCESS) m_streaming = false;
    return r;
}

int COV7725::SetTriggerMode(int mode) {
    (void)mode;
    return CAMERA_STATUS_SUCCESS;
}

int COV7725::SoftTrigger() {
    return CAMERA_STATUS_SUCCESS;
}

// Two bytes per pixel whatever the format; the FPGA counts them as pixels of an image twice as
// wide.
int COV7725::GetImageInfo(stImageInfo* info) {
    const int r = CSensorBase::GetImageInfo(info);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    info->iWidth = 2 * m_width;
    info->TotalBytes = m_width * m_height * 2;
    return CAMERA_STATUS_SUCCESS;
}

int COV7725::SetRoiOffset(int x, int y) {
    m_resolution.iOffsetX = x;
    m_resolution.iOffsetY = y;
    ApplyWindow();
    return CAMERA_STATUS_SUCCESS;
}

void COV7725::GetCapability(SensorCapability& cap) {
    cap.isMono = 0;
    cap.driverWord = 1;
    cap.defaultResolutionIndex = 1;  // "640X480"
    cap.presetMask = uint64_t{1} << 1;
    SetFormats(cap, kFormats);
}
