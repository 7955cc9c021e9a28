#include "IMX377Family.h"

using namespace sensor;

namespace {

constexpr uint8_t kBusAddress = 0x34;
constexpr uint8_t kBusWidths = 0x12;
constexpr unsigned kBusSettleMs = 20;

constexpr BoardReset kBoards[] = {{110, GpioReset(29)}, {205, FpgaBitReset()}};
constexpr int kGigEBoard = 205;

// The shortest frame in continuous mode on board 205: the image of w x h pixels at 8 bits per
// pixel through the FPGA at 90 % of 1 Gbit/s, in ns.
double FreeRunningMinimumNs(uint32_t width, uint32_t height) {
    const uint32_t bits = width * height * 8;  // 32-bit, as the FPGA counts it
    return bits * 100.0 / 90.0;
}

}  // namespace

CIMX377Family::CIMX377Family(SensorTypeE type, imginf* inf, const Chip& chip)
    : CSensorBase(type, inf), m_chip(chip) {
    m_auxValue = 24;
    m_pixelClock = chip.pixelClock;
    m_frameTimeNs = 200000000.0;
    m_frameSpeed = 2;
    SetInstanceInfo(chip.instanceName, "CMOS_12M");
    SetLimits({.aeTargetMin = 60,
               .aeTargetMax = 160,
               .gainMax = 30000,
               .expLinesMax = 168000,
               .maxWidth = 4000,
               .maxHeight = 3000,
               .reductionModeMask = 3});
}

bool CIMX377Family::OnItsBoard() {
    return FindBoard(kBoards, GetHardwareType()) != nullptr;
}

int CIMX377Family::Reset() {
    const BoardReset* board = FindBoard(kBoards, GetHardwareType());
    if (board == nullptr) return CAMERA_STATUS_NOT_SUPPORTED;
    return ResetAndSelectBus(board->reset, kBusAddress, kBusWidths, kBusSettleMs);
}

int CIMX377Family::Init(CameraInitParam* param) {
    if (param == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    int r = Reset();
    if (r != CAMERA_STATUS_SUCCESS) return r;
    SetPixelFormat(param->mediaType);
    m_lowBit = m_bitMode != 32 ? 1 : 0;
    m_laneBits = 4;
    m_streaming = false;
    const bool gige = GetHardwareType() == kGigEBoard;
    if (gige) m_pixelClock = m_chip.pixelClock;
    if ((r = SetSensorInterface(WordBits() | kIfSetup)) != CAMERA_STATUS_SUCCESS) return r;
    if (!gige && (r = SetTriggerControl(0, 0, 1, 0)) != CAMERA_STATUS_SUCCESS) return r;
    m_pixelPeriodNs = 1e9 / m_pixelClock;

    SetResolution(&param->resolution);
    ApplyResolution();
    m_fpgaOffsetX = m_roiX + m_chip.windowDx;
    m_fpgaOffsetY = m_roiY + m_chip.windowDy;

    if ((r = WriteChipTables()) != CAMERA_STATUS_SUCCESS) return r;
    SetFrameSpeed(param->frameSpeed);
    if ((r = WriteWindow()) != CAMERA_STATUS_SUCCESS) return r;
    r = SetupImageWindow(m_chip.fpgaSkipX, m_chip.fpgaSkipY, m_width, m_height, m_fovWidth,
                         m_fovHeight, kFrameBufferLimit,
                         GetFrameBufferMode(static_cast<unsigned>(param->transferMode)));
    if (r != CAMERA_STATUS_SUCCESS) return r;
    return WriteClosing();
}

int CIMX377Family::SetFrameSpeed(int speed) {
    const int hw = GetHardwareType();
    if (FindBoard(kBoards, hw) == nullptr) return CAMERA_STATUS_NOT_SUPPORTED;
    if (speed < 0 || speed > 2) return CAMERA_STATUS_PARAMETER_INVALID;
    uint32_t line = 0, frame = 0;
    const bool scale = BaseLengths(hw, speed, line, frame);
    if (hw == kGigEBoard && m_triggerMode == 0) {
        // Continuous frames no shorter than the FPGA needs to move one image.
        const double lineNs = line * m_pixelPeriodNs;
        const double minimumNs = FreeRunningMinimumNs(m_width, m_height);
        if (lineNs > 0 && frame * lineNs < minimumNs)
            frame = static_cast<uint32_t>(minimumNs / lineNs);
    }
    if (scale) frame *= speed == 0 ? 3 : speed == 1 ? 2 : 1;
    if (m_bitMode == 32) frame *= 2;
    const int r = WriteLengths(line, frame);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_frameSpeed = static_cast<uint32_t>(speed);
    m_lineLength = line;
    m_frameLength = frame;
    m_lineTimeNs = m_lineLength * m_pixelPeriodNs;
    m_frameTimeNs = m_frameLength * m_lineTimeNs;
    m_lineTimeUs = m_lineTimeNs / 1000.0;
    return CAMERA_STATUS_SUCCESS;
}

int CIMX377Family::StreamOn() {
    if (OnItsBoard()) {
        const int r = SetSensorInterface(WordBits() | kIfRun);
        if (r != CAMERA_STATUS_SUCCESS) return r;
    }
    const int r = StartChip();
    if (r == CAMERA_STATUS_SUCCESS) m_streaming = true;
    return r;
}

int CIMX377Family::StreamOff() {
    const bool onBoard = OnItsBoard();
    if (onBoard) {
        const int r = SetSensorInterface(WordBits() | kIfStop);
        if (r != CAMERA_STATUS_SUCCESS) return r;
    }
    const int r = StopChip(onBoard);
    if (r == CAMERA_STATUS_SUCCESS) m_streaming = false;
    return r;
}

// The trigger mode decides the shortest frame on board 205, so the frame speed is worked out
// again for it. Modes other than 0 to 2 change nothing.
int CIMX377Family::SetTriggerMode(int mode) {
    if (mode < 0 || mode > 2) return CAMERA_STATUS_SUCCESS;
    if (OnItsBoard()) {
        const int r = ApplyTriggerControl(mode);
        if (r != CAMERA_STATUS_SUCCESS) return r;
    }
    m_triggerMode = mode;
    SetFrameSpeed(static_cast<int>(m_frameSpeed));
    return CAMERA_STATUS_SUCCESS;
}

int CIMX377Family::SoftTrigger() {
    if (OnItsBoard()) SendSoftTrigger();
    return CAMERA_STATUS_SUCCESS;
}

void CIMX377Family::GetCapability(SensorCapability& cap) {
    cap.isMono = 0;
    cap.driverWord = 1;
    cap.defaultResolutionIndex = 24;  // "4000X3000", the only preset
    cap.presetMask = uint64_t{1} << 24;
    cap.defaultRedGain = 176;
    cap.defaultGreenGain = 100;
    cap.defaultBlueGain = 168;
    // Other boards (a camera whose storage names this chip on a board it does not serve) get
    // the 8-bit format, so the device can still describe itself.
    SetFormats8Or12(cap, false, OnItsBoard());
}
