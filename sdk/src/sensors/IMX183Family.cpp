#include "IMX183Family.h"

#include <algorithm>

#include "SensorGain.h"

using namespace sensor;

namespace {

constexpr uint8_t kBusAddress = 0x81;
constexpr uint8_t kBusWidths = 0x12;
constexpr unsigned kBusSettleMs = 20;
constexpr uint32_t kMinLines = 2;
constexpr uint32_t kGainScale = 2048;

}  // namespace

CIMX183Family::CIMX183Family(SensorTypeE type, imginf* inf, const Chip& chip)
    : CSensorBase(type, inf), m_chip(chip) {
    m_pixelClock = 72000000;
    m_frameTimeNs = 200000000.0;
    m_frameSpeed = 2;
    SetLimits({.aeTargetMin = 10,
               .aeTargetMax = 160,
               .gainMax = 16000,
               .expLinesMin = 4,
               .expLinesMax = chip.maxLines,
               .maxWidth = chip.maxWidth,
               .maxHeight = chip.maxHeight,
               .reductionModeMask = 7});
}

const BoardReset* CIMX183Family::CurrentBoard() {
    const int hw = GetHardwareType();
    for (const BoardReset& board : m_chip.boards)
        if (board.hwType == hw) return &board;
    return nullptr;
}

int CIMX183Family::Reset() {
    const BoardReset* board = CurrentBoard();
    if (board == nullptr) return CAMERA_STATUS_NOT_SUPPORTED;
    return ResetAndSelectBus(board->reset, kBusAddress, kBusWidths, kBusSettleMs);
}

// ---- Init steps --------------------------------------------------------------------------------

int CIMX183Family::WriteSetupWord() {
    const int r = SetSensorInterface(WordBits() | kIfSetup);
    return r == CAMERA_STATUS_SUCCESS ? SetTriggerControl(0, 0, 1, 0) : r;
}

int CIMX183Family::WriteLaneMode() {
    return WriteSensorReg(0x03, m_laneBits == 12 ? 0 : 0x33);
}

int CIMX183Family::StartChip(uint16_t reg01) {
    int r = WriteSensorReg(0x00, 2);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    Pause(1);
    if ((r = WriteSensorReg(0x00, 0)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = WriteSensorReg(0x01, reg01)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = WriteSensorReg(0x02, 1)) != CAMERA_STATUS_SUCCESS) return r;
    Pause(100);
    return CAMERA_STATUS_SUCCESS;
}

int CIMX183Family::WriteModeList(std::span<const uint16_t> list, uint32_t lineLength,
                                 uint32_t frameLength) {
    const int r = WriteSensorRegs(list);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_baseLineLength = m_lineLength = lineLength;
    m_baseFrameLength = m_frameLength = frameLength;
    return CAMERA_STATUS_SUCCESS;
}

int CIMX183Family::FinishInit(const CameraInitParam& param) {
    const int r = SetupImageWindow(m_fpgaOffsetX, m_fpgaOffsetY, m_width, m_height, m_width,
                                   m_height, kFrameBufferLimit,
                                   GetFrameBufferMode(static_cast<unsigned>(param.transferMode)));
    if (r != CAMERA_STATUS_SUCCESS) return r;
    // Starting values; a failure here shows at the first setter call again.
    SetAnalogGain(1000);
    SetExposureLines(2);
    return CAMERA_STATUS_SUCCESS;
}

// ---- Timing, exposure, gain ------------------------------------------------------------------

int CIMX183Family::SetFrameSpeed(int speed) {
    if (!OnItsBoard()) return CAMERA_STATUS_NOT_SUPPORTED;
    if (speed < 0 || speed > 2) return CAMERA_STATUS_PARAMETER_INVALID;
    // Always from the mode list's lengths, so that speeds never compound.
    uint32_t line = m_baseLineLength, frame = m_baseFrameLength;
    ScaleLengths(speed, line, frame);
    m_lineLength = line;
    m_frameLength = frame;
    m_frameSpeed = static_cast<uint32_t>(speed);
    RecomputeTiming(m_pixelClock);
    m_param.expLinesMax = MaxExposureLines();
    return CAMERA_STATUS_SUCCESS;
}

int CIMX183Family::SetExposure(double us) {
    return SetExposureLines(LinesForUs(us, kMinLines));
}

int CIMX183Family::SetAnalogGain(uint32_t gain) {
    gain = std::min(gain, m_param.analogGainMax);
    const uint32_t q = EncodeInverseGain(gain, kGainScale) & 0xFFFF;
    int r = WriteSensorReg(0x11, 0);
    if (r == CAMERA_STATUS_SUCCESS) r = WriteSensorReg(0x0A, (q >> 8) & 0xFF);
    if (r == CAMERA_STATUS_SUCCESS) r = WriteSensorReg(0x09, q & 0xFF);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_gain = DecodeInverseGain(q, kGainScale);
    return CAMERA_STATUS_SUCCESS;
}

// ---- Streaming, trigger, window ----------------------------------------------------------------

int CIMX183Family::StreamOn() {
    if (OnItsBoard()) {
        const int r = SetSensorInterface(WordBits() | kIfRun);
        if (r != CAMERA_STATUS_SUCCESS) return r;
    }
    m_streaming = true;
    return CAMERA_STATUS_SUCCESS;
}

int CIMX183Family::StreamOff() {
    if (OnItsBoard()) {
        const int r = SetSensorInterface(WordBits() | kIfStop);
        if (r != CAMERA_STATUS_SUCCESS) return r;
        SetFpgaImageEnable(0);
    }
    m_streaming = false;
    return CAMERA_STATUS_SUCCESS;
}

int CIMX183Family::SetTriggerMode(int mode) {
    return OnItsBoard() ? ApplyTriggerMode(mode, 10, 50000) : CAMERA_STATUS_SUCCESS;
}

int CIMX183Family::SoftTrigger() {
    return OnItsBoard() ? SendSoftTrigger() : CAMERA_STATUS_NOT_SUPPORTED;
}

// The new start takes effect at the next Init; the chip is not reprogrammed while it runs.
int CIMX183Family::SetRoiOffset(int x, int y) {
    m_resolution.iOffsetX = x;
    m_resolution.iOffsetY = y;
    ApplyWindow();
    return CAMERA_STATUS_SUCCESS;
}
