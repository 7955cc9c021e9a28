#include "IMX990Family.h"

#include <algorithm>
#include <iterator>

using namespace sensor;

namespace {

constexpr uint8_t kBusAddress = 0x34;
constexpr uint8_t kBusWidths = 0x12;
constexpr uint16_t kRegMaster = 0x300C;  // 0: master mode runs
constexpr uint16_t kRegTriggerSel = 0x3230;
constexpr uint16_t kFpgaFrameReg = 40;   // the frame length the FPGA counts
constexpr uint16_t kFpgaTimingReg = 35;  // board 111's frame timing, registers 35 to 37
constexpr uint32_t kExtraLines = 44;     // a frame is the window's height and 44 lines
constexpr uint32_t kSpeedFactor[] = {3, 2, 1};
constexpr double kMaxExposureUs = 3000000;

constexpr uint16_t kFullWindow[] = {0x303C, 0x00, 0x3104, 0x00};
constexpr uint32_t kFormats[] = {kMono8, kMono12};

}  // namespace

CIMX990Family::CIMX990Family(SensorTypeE type, imginf* inf, const Chip& chip)
    : CImxHoldMap(type, inf, chip.margin), m_chip(chip) {
    m_auxValue = chip.auxValue;
    m_inputClock = 74250000;
    m_frameTimeNs = 200000000.0;
    m_frameSpeed = 2;
    SetInstanceInfo(chip.instanceName, chip.kind);
    SetLimits({.aeTargetMin = 60,
               .aeTargetMax = 160,
               .gainMax = 30000,
               .expLinesMax = chip.expLinesMax,
               .maxWidth = chip.fullWidth,
               .maxHeight = chip.fullHeight,
               .minHeight = 8,
               .reductionModeMask = 3});
    SetPixelFormat(chip.mediaAtConstruction);
}

const CIMX990Family::Board* CIMX990Family::CurrentBoard(bool forInit) {
    const int hw = GetHardwareType();
    for (const Board& board : m_chip.boards)
        if (board.hwType == hw && (!forInit || board.initServes)) return &board;
    return nullptr;
}

// ---- Reset and initialisation ------------------------------------------------------------------

int CIMX990Family::Reset() {
    const Board* board = CurrentBoard(false);
    if (board == nullptr) return CAMERA_STATUS_NOT_SUPPORTED;
    return ResetAndSelectBus(board->reset, kBusAddress, kBusWidths, 20);
}

int CIMX990Family::Init(CameraInitParam* param) {
    if (param == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    const Board* board = CurrentBoard(true);
    if (board == nullptr) return CAMERA_STATUS_NOT_SUPPORTED;
    int r = Reset();
    if (r != CAMERA_STATUS_SUCCESS) return r;
    SetPixelFormat(param->mediaType);
    m_widthCode = m_bitMode == 32 ? 0 : m_chip.widthCode8;
    m_hwType = board->hwType;
    // The reset put the chip back to continuous exposure with its own frame.
    m_streaming = false;
    m_triggerWidth = false;
    m_longFrame = false;

    r = ApplyPll(board->pll);
    if (r != CAMERA_STATUS_SUCCESS) {
        if (board->pllChecked) return r;
        m_inputClock = board->pll.inputClock;
    }
    if (board->settle) Pause(20);
    m_laneBits = board->laneBits;
    m_speedTableA = board->speedTableA;
    if ((r = SetSensorInterface(WordBits() | kIfSetup)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = SetTriggerControl(0, 0, 1, 0)) != CAMERA_STATUS_SUCCESS) return r;
    SetResolution(&param->resolution);
    ApplyResolution();
    m_fpgaOffsetX = m_roiX;
    m_fpgaOffsetY = m_roiY;

    for (std::span<const uint16_t> list :
         {m_chip.init, m_chip.settings8, m_chip.outputMode[m_widthCode]}) {
        if ((r = WriteSensorRegs(list)) != CAMERA_STATUS_SUCCESS) return r;
    }
    if (m_width == m_chip.fullWidth && m_height == m_chip.fullHeight) {
        if ((r = WriteSensorRegs(kFullWindow)) != CAMERA_STATUS_SUCCESS) return r;
        m_fpgaOffsetX = m_chip.fullOffsetX;
        m_fpgaOffsetY = m_chip.fullOffsetY;
    } else {
        RegList window;
        window.Add(0x303C, 0);
        AddWindow(window, m_roiX, m_roiY, m_width, m_height);
        if ((r = WriteRegs(window)) != CAMERA_STATUS_SUCCESS) return r;
        m_fpgaOffsetX = m_chip.offsetX;
        m_fpgaOffsetY = m_chip.offsetY;
    }
    m_baseFrameLength = m_height + kExtraLines;
    if ((r = SetFrameSpeed(param->frameSpeed)) != CAMERA_STATUS_SUCCESS) return r;
    Pause(10);
    if (FpgaTimed()) {
        // Statuses not used: a lost write is made again by the next frame change.
        WriteFpgaReg(kFpgaFrameReg, m_frameLength);
        if (m_hwType == 111) WriteFrameTiming(m_frameLength, m_lineLength, kFpgaTimingReg);
    }
    return SetupImageWindow(m_fpgaOffsetX, m_fpgaOffsetY, m_width, m_height, m_fovWidth,
                            m_fovHeight, kFrameBufferLimit,
                            GetFrameBufferMode(static_cast<unsigned>(param->transferMode)));
}

// ---- Timing and exposure -----------------------------------------------------------------------

int CIMX990Family::SetFrameSpeed(int speed) {
    const Board* board = CurrentBoard(true);
    if (board == nullptr) return CAMERA_STATUS_NOT_SUPPORTED;
    if (speed < 0 || speed > 2) return CAMERA_STATUS_PARAMETER_INVALID;
    const uint32_t line = m_bitMode == 32 ? board->line12 : board->line8;
    const uint32_t frame = std::min(m_baseFrameLength * kSpeedFactor[speed], kMaxFrameLength);
    int r = WriteSensorRegs(m_speedTableA ? m_chip.speedA : m_chip.speedB);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (!FpgaTimed()) {
        RegList list;
        AddFrameLength(list, frame);
        AddLineLength(list, line);
        if ((r = WriteRegs(list)) != CAMERA_STATUS_SUCCESS) return r;
    }
    m_frameSpeed = static_cast<uint32_t>(speed);
    m_lineLength = line;
    m_frameLength = frame;
    m_longFrame = false;
    RecomputeTiming(m_inputClock);
    if (m_triggerWidth)
        UsePulseRange();
    else
        UseLineRange(kMaxExposureUs);
    return CAMERA_STATUS_SUCCESS;
}

void CIMX990Family::WriteFpgaFrame(uint32_t frameLength) {
    if (m_hwType == 111)
        WriteFrameTiming(frameLength, m_lineLength, kFpgaTimingReg);
    else
        WriteFpgaReg(kFpgaFrameReg, frameLength);
}

// The stretched frame: SHR at the margin under hold, then the frame length where the frame is
// counted (the chip's VMAX, or the FPGA's).
int CIMX990Family::WriteLongFrame(uint32_t frameLength) {
    RegList shutter;
    shutter.Add(kRegHold, 1);
    AddShutter(shutter, m_margin);
    int r = WriteRegs(shutter);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (!FpgaTimed()) {
        RegList frame;
        AddFrameLength(frame, frameLength);
        frame.Add(kRegHold, 0);
        return WriteRegs(frame);
    }
    if ((r = WriteSensorReg(kRegHold, 0)) != CAMERA_STATUS_SUCCESS) return r;
    WriteFpgaFrame(frameLength);
    return CAMERA_STATUS_SUCCESS;
}

int CIMX990Family::RestoreFrame() {
    if (!FpgaTimed()) return CImxHoldMap::RestoreFrame();
    WriteFpgaFrame(m_frameLength);
    return CAMERA_STATUS_SUCCESS;
}

int CIMX990Family::SetExposure(double us) {
    return ExposeFor(us);
}

// ---- Streaming and trigger ---------------------------------------------------------------------

int CIMX990Family::StreamOn() {
    int r = WriteSensorReg(kRegStandby, 0);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    Pause(1);
    if (m_chip.masterStart && CurrentBoard(true) != nullptr &&
        (r = WriteSensorReg(kRegMaster, 0)) != CAMERA_STATUS_SUCCESS)
        return r;
    Pause(100);
    if ((r = SetSensorInterface(WordBits() | kIfRun)) != CAMERA_STATUS_SUCCESS) return r;
    m_streaming = true;
    return CAMERA_STATUS_SUCCESS;
}

int CIMX990Family::StreamOff() {
    if (CurrentBoard(true) == nullptr) return CAMERA_STATUS_SUCCESS;
    int r = SetSensorInterface(WordBits() | kIfStop);
    if (r == CAMERA_STATUS_SUCCESS) r = WriteSensorReg(kRegStandby, 1);
    if (r == CAMERA_STATUS_SUCCESS && m_chip.masterStart) r = WriteSensorReg(kRegMaster, 1);
    if (r == CAMERA_STATUS_SUCCESS) r = SetFpgaImageEnable(0);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_streaming = false;
    return CAMERA_STATUS_SUCCESS;
}

// The trigger modes count the exposure in microseconds of trigger pulse; continuous mode goes
// back to lines, with the range of the frame speed in force.
int CIMX990Family::SetTriggerMode(int mode) {
    if (mode < 0 || mode > 2) return CAMERA_STATUS_SUCCESS;
    int r;
    if (CurrentBoard(true) != nullptr && (r = ApplyTriggerControl(mode)) != CAMERA_STATUS_SUCCESS)
        return r;
    const bool pulse = mode != 0;
    r = WriteSensorReg(kRegTriggerSel, pulse ? m_chip.triggerOn : m_chip.triggerOff);
    if (r == CAMERA_STATUS_SUCCESS) r = WriteSensorReg(kRegTriggerWidth, pulse ? 1 : 0);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_triggerWidth = pulse;
    if (pulse)
        UsePulseRange();
    else
        UseLineRange(kMaxExposureUs);
    return CAMERA_STATUS_SUCCESS;
}

int CIMX990Family::SoftTrigger() {
    if (CurrentBoard(true) != nullptr) SendSoftTrigger();
    return CAMERA_STATUS_SUCCESS;
}

int CIMX990Family::SetRoiOffset(int x, int y) {
    return WriteWindowStart(static_cast<uint32_t>(x), static_cast<uint32_t>(y));
}

int CIMX990Family::GetTemperature(float* celsius) {
    return ReadTemperature(celsius);
}

void CIMX990Family::GetCapability(SensorCapability& cap) {
    cap.isMono = 1;
    cap.driverWord = 1;
    cap.defaultResolutionIndex = m_chip.defaultIndex;
    cap.presetMask = uint64_t{1} << m_chip.defaultIndex;
    cap.defaultBlackLevel = 60;
    SetFormats(cap, kFormats);
}
