#include "IMX377.h"

#include <algorithm>
#include <iterator>

#include "common/Log.h"
#include "SensorFactory.h"
#include "SensorGain.h"

using namespace sensor;

namespace {

constexpr RegField kFrameCount[] = {{0x300D, 0, 0xFF}, {0x300E, 8, 0xFF}};
constexpr RegField kShutter[] = {{0x300C, 8, 0xFF}, {0x300B, 0, 0xFF}};  // high byte first
constexpr FrameCountLayout kExposure{kFrameCount, kShutter, 7, false};
constexpr RegField kVmax[] = {{0x30F7, 0, 0xFF}, {0x30F8, 8, 0xFF}, {0x30F9, 16, 0x0F}};
constexpr RegField kHmax[] = {{0x30F5, 0, 0xFF}, {0x30F6, 8, 0xFF}};
constexpr uint32_t kMinLines = 4;
constexpr uint32_t kMinExposureLines = 2;
constexpr uint32_t kGainScale = 2048;
constexpr uint32_t kMaxDigitalStep = 1;  // x2

constexpr int32_t kPresetFull = 24;

// clang-format off
constexpr uint16_t kInterface[] = {
    0x3123, 0,  0x3124, 0,  0x3127, 2,  0x312D, 2,  0x3125, 1,  0x3120, 0xF0,  0x3121, 0,
    0x3129, 0x90,  0x3122, 2,  0x312A, 2,
};
constexpr uint16_t kFullWindow[] = {
    0x30D5, 0,  0x30D6, 0,  0x30D7, 0,  0x30D8, 0,  0x30D9, 0,  0x3039, 0,  0x303A, 0,
    0x303E, 0,  0x303F, 0,  0x3040, 0,
};
constexpr uint16_t kClosing[] = {
    0x3011, 0,  0x3009, 0,  0x300A, 0,  0x300B, 0x20,  0x300C, 0,  0x300D, 0,  0x300E, 0,
};
constexpr uint16_t kStart[] = {
    kPauseReg, 10,  0x310B, 0,  kPauseReg, 1,  0x3000, 4,  kPauseReg, 7,  0x3001, 0x10,
    0x30F4, 0,
};
constexpr uint16_t kStop[] = {0x30F4, 1,  0x3000, 0x17,  0x310B, 0x11};

// ---- Chip maker's settings ------------------------------------------------------------------
// QV_MAKER_ROW rows are placeholders for values the chip maker supplies (see SensorTables.h).

// Mode lists of 12-bit (0x3005 = 7) and 8-bit (0x3005 = 1) output, 49 rows each (0x3004 to
// 0x3A41): row 2 known, the others from the maker.
constexpr uint16_t kMode12[] = {
    QV_MAKER_ROW,  0x3005, 7,
    QV_MAKER_ROWS_32, QV_MAKER_ROWS_8, QV_MAKER_ROWS_4, QV_MAKER_ROWS_2, QV_MAKER_ROW,
};
constexpr uint16_t kMode8[] = {
    QV_MAKER_ROW,  0x3005, 1,
    QV_MAKER_ROWS_32, QV_MAKER_ROWS_8, QV_MAKER_ROWS_4, QV_MAKER_ROWS_2, QV_MAKER_ROW,
};
// Main settings, 67 rows (0x3003 to 0x3A56): row 1 known, 66 from the maker.
constexpr uint16_t kMain[] = {
    0x3003, 0x20,
    QV_MAKER_ROWS_32, QV_MAKER_ROWS_32, QV_MAKER_ROWS_2,
};
// clang-format on
static_assert(std::size(kInterface) == 2 * 10 && std::size(kFullWindow) == 2 * 10);
static_assert(std::size(kClosing) == 2 * 7);
static_assert(std::size(kMode12) == 2 * 49 && std::size(kMode8) == 2 * 49);
static_assert(std::size(kMain) == 2 * 67);

constexpr CIMX377Family::Chip kChip{"IMX377", 72000000, 48, 0, 75, 24};

}  // namespace

CIMX377::CIMX377(SensorTypeE type, imginf* inf) : CIMX377Family(type, inf, kChip) {
    SetPixelFormat(kBayerGR8);
}

int CIMX377::GetSensorInfo(SensorTypeE type, SensorInfo* info) {
    return FillSensorInfo("CIMX377", type, info);
}

int CIMX377::Probe(SensorTypeE type, imginf* inf) {
    (void)type, (void)inf;
    return CAMERA_STATUS_SUCCESS;
}

// ---- Init --------------------------------------------------------------------------------------

int CIMX377::WriteChipTables() {
    int r = WriteSensorRegs(kInterface);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    WriteSensorRegs(m_lowBit != 0 ? std::span<const uint16_t>(kMode8)
                                  : std::span<const uint16_t>(kMode12));  // not checked
    if ((r = WriteSensorRegs(kMain)) != CAMERA_STATUS_SUCCESS) return r;
    return WriteSensorReg(0x3045, 0);
}

// The full frame clears the window registers; any other window is cut on a 12-column grid and
// at least 1500 rows are read around it.
int CIMX377::WriteWindow() {
    if (m_resolution.iIndex == kPresetFull) return WriteSensorRegs(kFullWindow);
    const uint32_t x = m_fpgaOffsetX, y = m_fpgaOffsetY;
    const uint32_t xs = x / 12 * 12;
    const uint32_t xe = (x + std::max(m_fovWidth, 240u) + 56 + 11) / 12 * 12;
    const uint32_t m = std::min(std::max(m_fovHeight, 1500u), 3000u) / 2;
    const uint32_t v = 2 * m + 46;
    RegList list;
    list.Add(0x30D5, 1).Add(0x30D6, (1500 - m) & 0xFF).Add(0x30D7, (1500 - m) >> 8);
    list.Add(0x30D8, (y >> 1) & 0xFF).Add(0x30D9, y >> 9);
    list.Add(0x312F, (v + 16) & 0xFF).Add(0x3130, (v + 16) >> 8);
    list.Add(0x3131, v & 0xFF).Add(0x3132, v >> 8);
    list.Add(0x3039, xe & 0xFF).Add(0x303A, (xe >> 8) & 0x1F);
    list.Add(0x303E, xs & 0xFF).Add(0x303F, (xs >> 8) & 0x1F).Add(0x3040, 1);
    WriteRegs(list);  // not checked: Init goes on with the window the chip has
    return CAMERA_STATUS_SUCCESS;
}

int CIMX377::WriteClosing() {
    return WriteSensorRegs(kClosing);
}

// ---- Timing and exposure -----------------------------------------------------------------------

bool CIMX377::BaseLengths(int hw, int speed, uint32_t& lineLength, uint32_t& frameLength) {
    if (hw == 110) {
        static constexpr uint32_t kFrames[] = {10557, 7038, 3519};
        lineLength = 819;
        frameLength = kFrames[speed];
        return false;
    }
    lineLength = 750;
    frameLength = std::max(m_fovHeight + 62, 600u);
    return true;
}

int CIMX377::WriteLengths(uint32_t lineLength, uint32_t frameLength) {
    return WriteRegs(RegList().Add(kVmax, frameLength).Add(kHmax, lineLength));
}

int CIMX377::SetExposureLines(uint32_t lines) {
    qv::Log("explines:%d\n", static_cast<int>(lines));
    lines = std::max(lines, kMinLines);
    if (m_frameLength != 0) lines = std::min(lines, FrameCountMaxLines(kExposure, m_frameLength));
    RecordExposureLines(lines);
    uint16_t frameCount = 0;  // written every time: nothing is cached
    return WriteFrameCountShutter(kExposure, lines, m_frameLength, frameCount);
}

int CIMX377::SetExposure(double us) {
    return SetExposureLines(LinesForUs(us, kMinExposureLines));
}

int CIMX377::SetAnalogGain(uint32_t gain) {
    gain = std::min(gain, m_param.analogGainMax);
    const InverseGainCode code = EncodeInverseGainStep(gain, kGainScale, kMaxDigitalStep);
    const uint32_t q = code.code & 0xFFFF;
    int r = WriteSensorReg(0x3011, code.digitalStep);
    if (r == CAMERA_STATUS_SUCCESS) r = WriteSensorReg(0x300A, (q >> 8) & 7);
    if (r == CAMERA_STATUS_SUCCESS) r = WriteSensorReg(0x3009, q & 0xFF);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_gain = code.gainMilli;
    return CAMERA_STATUS_SUCCESS;
}

// ---- Streaming ---------------------------------------------------------------------------------

int CIMX377::StartChip() {
    return WriteSensorRegs(kStart);
}

int CIMX377::StopChip(bool onBoard) {
    if (onBoard) {
        int r = WriteSensorReg(0x3000, 1);
        if (r == CAMERA_STATUS_SUCCESS) r = WriteSensorReg(0x3002, 1);
        if (r != CAMERA_STATUS_SUCCESS) return r;
    }
    return WriteSensorRegs(kStop);
}
