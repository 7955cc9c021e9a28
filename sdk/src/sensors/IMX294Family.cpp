#include "IMX294Family.h"

#include <algorithm>

#include "SensorGain.h"

using namespace sensor;

namespace {

constexpr BoardReset kBoards[] = {{107, GpioReset(45)}, {201, FpgaBitReset()}};
constexpr uint16_t kTimingReg107 = 35;  // board 107's frame timing, FPGA registers 35 to 37
constexpr uint8_t kTimingC = 18;

}  // namespace

CIMX294Family::CIMX294Family(SensorTypeE type, imginf* inf, const Chip& chip)
    : CSensorBase(type, inf), m_chip(chip), m_cycle(*inf, chip.cycle, this) {
    m_auxValue = chip.auxValue;
    m_frameTimeNs = 200000000.0;
    m_frameSpeed = 2;
    SetInstanceInfo(chip.instanceName, chip.kind);
    SetLimits({.aeTargetMin = 10,
               .aeTargetMax = 10,
               .gainMax = chip.gainMax,
               .expLinesMin = 4,
               .expLinesMax = chip.expLinesMax,
               .maxWidth = chip.fullWidth,
               .maxHeight = chip.fullHeight,
               .reductionModeMask = 7});
    SetPixelFormat(kBayerGR8);
}

// The cycle goes first (its member would go last, after this driver's own parts), and leaves
// the camera out of long exposure as a stream close does.
CIMX294Family::~CIMX294Family() {
    m_cycle.Stop();
}

int CIMX294Family::Reset() {
    const BoardReset* board = FindBoard(kBoards, GetHardwareType());
    if (board == nullptr) return CAMERA_STATUS_NOT_SUPPORTED;
    return ResetAndSelectBus(board->reset, m_chip.busAddress, 0x12, 20);
}

// Every stream close comes here. The FPGA word and the chip's exposure register outlive it (the
// FPGA is not loaded again at the next open), so a running cycle is ended with the camera out
// of long exposure, and none starts again before the stream opens (Init).
int CIMX294Family::Uninit() {
    m_cycle.Close();
    return CAMERA_STATUS_SUCCESS;
}

void CIMX294Family::ApplyWindow() {
    ApplyResolution();
    m_windowX = static_cast<uint16_t>(m_roiX + m_chip.columnAdd);
    m_windowY = static_cast<uint16_t>(m_roiY + m_chip.rowAdd);
}

int CIMX294Family::WriteImageTiming(uint32_t frameLength, uint32_t lineLength,
                                    uint32_t* frameInForce) {
    const uint16_t reg = GetHardwareType() == 107 ? kTimingReg107 : 0;
    return WriteFrameTiming(frameLength, lineLength, reg, frameInForce, kTimingC);
}

InverseGainCode CIMX294Family::EncodeGain(uint32_t gain) const {
    // Below unity the analog code would be negative; above the cap the code stays at the cap's.
    gain = std::clamp(gain, 1000u, std::min(m_param.analogGainMax, m_chip.gainCap));
    return EncodeInverseGainStep(gain, m_chip.gainScale, 3);
}

int CIMX294Family::ExposureMs() const {
    const double ms = m_expTimeUs / 1000.0;
    return ms >= 2147483647.0 ? 2147483647 : static_cast<int>(ms);
}

// ---- Timing and exposure -----------------------------------------------------------------------

// The speed changes no length: the FPGA's timing holds the frame. It sets the times and the
// exposure range (2000 s of lines).
int CIMX294Family::SetFrameSpeed(int speed) {
    if (!Serves(GetHardwareType())) return CAMERA_STATUS_NOT_SUPPORTED;
    if (speed < 0 || speed > 2) return CAMERA_STATUS_PARAMETER_INVALID;
    m_frameSpeed = static_cast<uint32_t>(speed);
    RecomputeTiming(m_inputClock);
    if (m_lineTimeUs > 0) {
        const double lines = 2e9 / m_lineTimeUs;
        m_param.expLinesMax = lines >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<uint32_t>(lines);
    }
    return CAMERA_STATUS_SUCCESS;
}

int CIMX294Family::SetExposure(double us) {
    return SetExposureLines(LinesForUs(us, 2));
}

// ---- Streaming and trigger ---------------------------------------------------------------------

int CIMX294Family::StreamOn() {
    if (!Serves(GetHardwareType())) return CAMERA_STATUS_SUCCESS;
    const int r = SetSensorInterface(WordBits() | kIfRun);
    if (r == CAMERA_STATUS_SUCCESS) m_streaming = true;
    return r;
}

int CIMX294Family::StreamOff() {
    int r = WriteStandby();
    if (r != CAMERA_STATUS_SUCCESS || !Serves(GetHardwareType())) return r;
    if ((r = SetSensorInterface(WordBits() | kIfStop)) != CAMERA_STATUS_SUCCESS) return r;
    SetFpgaImageEnable(0);
    m_streaming = false;
    return CAMERA_STATUS_SUCCESS;
}

// The trigger modes take one frame per trigger: a running cycle ends, and continuous mode
// applies the exposure again (which starts the cycle again when the exposure needs it). Every
// failing call ends the change with its status, the read of the trigger word too.
int CIMX294Family::SetTriggerMode(int mode) {
    if (!Serves(GetHardwareType()) || mode < 0 || mode > 2) return CAMERA_STATUS_SUCCESS;
    int r = ApplyTriggerControl(mode, 1, true);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (mode == 0) {
        SetExposure(m_expTimeUs);
        return CAMERA_STATUS_SUCCESS;
    }
    if ((r = SetTriggerTiming(10, 50000)) != CAMERA_STATUS_SUCCESS) return r;
    if (CycleRunning()) m_cycle.Stop();
    return CAMERA_STATUS_SUCCESS;
}

int CIMX294Family::SoftTrigger() {
    if (!Serves(GetHardwareType())) return CAMERA_STATUS_NOT_SUPPORTED;
    const int period = SoftTriggerPeriod();
    if (period >= 0) m_cycle.Start(period, ExposureMs());
    return SendSoftTrigger();
}

int CIMX294Family::SetRoiOffset(int x, int y) {
    m_resolution.iOffsetX = x;
    m_resolution.iOffsetY = y;
    ApplyWindow();
    return WriteWindow();
}

void CIMX294Family::GetCapability(SensorCapability& cap) {
    cap.isMono = 0;
    cap.driverWord = 1;
    cap.defaultResolutionIndex = m_chip.defaultIndex;
    cap.presetMask = uint64_t{1} << m_chip.defaultIndex;
    cap.defaultRedGain = 172;
    cap.defaultGreenGain = 100;
    cap.defaultBlueGain = 178;
    SetFormats8Or12(cap, false, Serves(GetHardwareType()));
}
