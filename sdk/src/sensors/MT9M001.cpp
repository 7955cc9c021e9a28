#include "MT9M001.h"

#include "SensorFactory.h"

using namespace sensor;

namespace {

constexpr BoardReset kBoards[] = {
    {1, GpioReset(23)},
    {2, GpioReset(23)},
    {3, GpioReset(23)},
    {300, Then(GpioPairReset(23, 71), GpioLevel(65, 0))},
    {301, Then(GpioPairReset(23, 71), GpioLevel(65, 0))},
    {302, Then(GpioPairReset(23, 71), GpioLevel(65, 0))},
    {305, Then(GpioPairReset(23, 71), GpioLevel(65, 0))},
    {0, TwoLineReset(66, 65, 0, 0)},
    {200, FpgaBitReset()},
    {201, FpgaBitReset()},
    {203, FpgaBitReset()},
    {205, FpgaBitReset()},
};
constexpr int kFpgaGroup[] = {1, 2, 3, 200, 201, 203, 205, 300, 301, 302, 305};
constexpr CMicronSensor::Chip kChip{
    kBoards, {0xBA, kReg8Data16, 20}, kFpgaGroup, MicronHighGain::DigitalSteps, false, 180, true};

constexpr double kPeriodNs48MHz = 1e9 / 48000000;

// clang-format off
constexpr uint16_t kReset[] = {0x0D, 1,  kPauseReg, 10,  0x0D, 0,  kPauseReg, 20};
constexpr uint16_t kStart[] = {
    0x62, 0x8498,  0x07, 0x0000,  kPauseReg, 100,  0x1E, 0x8000,  0x20, 0x1104,  0x0C, 0x0000,
    0x09, 50,
};
// clang-format on

}  // namespace

CMT9M001::CMT9M001(SensorTypeE type, imginf* inf) : CMicronSensor(type, inf, kChip) {
    m_auxValue = 12;
    m_inputClock = 48000000;
    m_imgPadH = 280;
    m_imgPadV = 60;
    GetSensorInfo(type, &m_info);
    SetLimits({.aeTargetMin = 10,
               .aeTargetMax = 10,
               .gainMax = 8000,
               .expLinesMax = 32,
               .maxWidth = 1280,
               .maxHeight = 1024,
               .reductionModeMask = 1});
    SetPixelFormat(Mono() ? kMono8 : kBayerGR8);
}

int CMT9M001::GetSensorInfo(SensorTypeE type, SensorInfo* info) {
    return FillSensorInfo("CMT9M001", type, info);
}

int CMT9M001::Probe(SensorTypeE type, imginf* inf) {
    CMT9M001 probe(type, inf);
    const uint16_t id = type == SENSOR_TYPE_MT9M001 ? 0x8431 : 0x8421;
    return CheckChipIdentity(probe, {{kRegIdentity, id}});
}

// The chip's window starts 24 columns and 16 rows in.
void CMT9M001::ApplyWindow() {
    ApplyResolution();
    m_fpgaOffsetY = m_roiY + 16;
    m_fpgaOffsetX = m_roiX + 24;
    m_lineLength = static_cast<uint32_t>(m_width + m_imgPadH + 225);
    m_frameLength = static_cast<uint32_t>(m_height + m_imgPadV);
}

int CMT9M001::BoardStep(int speed) {
    const int hw = GetHardwareType();
    const int s = speed == 0 ? 0 : speed == 1 ? 1 : 2;
    PllSetting pll = NoPll();
    if (IsOneOf(hw, {1, 2, 3})) {
        static constexpr uint8_t kE[] = {52, 26, 13}, kD[] = {13, 13, 11};
        pll = Pll({26, 1, 2, 2, 13, kE[s], 13, kD[s]}, 0);
    } else if (IsOneOf(hw, {300, 301, 302, 305})) {
        static constexpr uint8_t kD[] = {47, 23, 11};
        pll = Pll({12, 1, 11, 8, kD[s], 23, 23, 23}, 0);
    } else if (IsOneOf(hw, {200, 201, 203})) {
        static constexpr uint8_t kD[] = {72, 36, 18};
        pll = Pll({24, 1, 3, 3, kD[s], 16, 36, 36}, 0);
    } else if (hw != 205) {
        // No FPGA interface: the pads stay and the chip takes its trigger on GPIO 67.
        return TriggerLineLow();
    }
    m_imgPadH = 10;
    m_imgPadV = 10;
    int r = ApplyPll(pll);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (pll.present) Pause(10);
    r = SetSensorInterface(m_bitMode | 0x0D);
    return r == CAMERA_STATUS_SUCCESS ? SetTriggerControl(0, 0, 1, 0) : r;
}

int CMT9M001::Init(CameraInitParam* param) {
    if (param == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    int r = Reset();
    if (r != CAMERA_STATUS_SUCCESS) return r;
    SetPixelFormat(param->mediaType);
    if ((r = BoardStep(param->frameSpeed)) != CAMERA_STATUS_SUCCESS) return r;
    SetResolution(&param->resolution);
    ApplyWindow();
    if ((r = WriteSensorRegs(kReset)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = WriteSensorRegs(kStart)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = SetFrameSpeed(param->frameSpeed)) != CAMERA_STATUS_SUCCESS) return r;
    RegList window;
    AddWindowStart(window);
    if ((r = WriteRegs(AddWindowSize(window))) != CAMERA_STATUS_SUCCESS) return r;
    if (m_roiMode == 1 && (r = WriteSensorReg(0x20, 0x111C)) != CAMERA_STATUS_SUCCESS) return r;
    r = SetupImageWindow(0, 0, m_width, m_height, m_width, m_height, kFrameBufferLimit,
                         GetFrameBufferMode(static_cast<unsigned>(param->transferMode)));
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_gainReg = 16;
    if ((r = WriteSensorReg(kRegGain, 16)) != CAMERA_STATUS_SUCCESS) return r;
    Pause(10);
    // Code 16 is x2 on this chip's gain scale; report what it programs.
    m_gain = DecodeMicronGain(16, kChip.highGain);
    RecordExposure(50);
    return CAMERA_STATUS_SUCCESS;
}

int CMT9M001::Uninit() {
    WriteSensorReg(kRegOutput, 0);
    return CAMERA_STATUS_SUCCESS;
}

// Any speed is taken. On board 0 it sets the horizontal blank at 48 MHz; elsewhere the clock
// chosen at Init runs at 12, 24 or 48 MHz (always 48 MHz on board 205).
int CMT9M001::SetFrameSpeed(int speed) {
    const int hw = GetHardwareType();
    double period = kPeriodNs48MHz;
    if (hw == 0) {
        const int64_t padH = speed == 0 ? 1840 : speed == 2 ? 350 : 1000;
        const int r = WriteRegs({kRegHBlank, static_cast<uint16_t>(padH), kRegVBlank, 10});
        if (r != CAMERA_STATUS_SUCCESS) return r;
        m_imgPadH = padH;
        m_imgPadV = 10;
        m_lineLength = static_cast<uint32_t>(m_width + m_imgPadH + 225);
        m_frameLength = m_height + 10;
    } else if (hw != 205 && (speed == 0 || speed == 1)) {
        period = speed == 0 ? 1e9 / 12000000 : 1e9 / 24000000;
    }
    m_frameSpeed = static_cast<uint32_t>(speed);
    m_pixelPeriodNs = period;
    m_lineTimeNs = m_lineLength * period;
    m_frameTimeNs = m_frameLength * m_lineTimeNs;
    m_lineTimeUs = m_lineTimeNs / 1000.0;
    return CAMERA_STATUS_SUCCESS;
}

int CMT9M001::StreamOn() {
    const int r = WriteSensorReg(kRegOutput, 2);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    const int hw = GetHardwareType();
    if (hw == 301 || hw == 302) {
        SetSensorInterface(m_bitMode | 0x8C);
    } else if (InFpgaGroup()) {
        SetSensorInterface(m_bitMode | 0x8D);
    }
    m_streaming = true;
    return CAMERA_STATUS_SUCCESS;
}

int CMT9M001::StreamOff() {
    const int r = WriteSensorReg(kRegOutput, 0);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    StopFpgaStream();
    m_streaming = false;
    return CAMERA_STATUS_SUCCESS;
}

// The triggered modes run the FPGA's trigger with its flag cleared and the chip in snapshot mode.
int CMT9M001::SetTriggerMode(int mode) {
    if (mode < 0 || mode > 2) return CAMERA_STATUS_SUCCESS;
    if (InFpgaGroup()) {
        int r = ApplyTriggerControl(mode, 0);
        if (r == CAMERA_STATUS_SUCCESS && mode != 0) r = SetTriggerTiming(10, 50000);
        if (r != CAMERA_STATUS_SUCCESS) return r;
    }
    if (mode == 0) {
        WriteSensorReg(kRegReadMode, 0x8600);
        return CAMERA_STATUS_SUCCESS;
    }
    return WriteSensorReg(kRegReadMode, 0x8700);
}

int CMT9M001::SoftTrigger() {
    return SoftTriggerVia(InFpgaGroup(),
                          {.kind = ChipTrigger::Kind::Register, .target = kRegRestart});
}

void CMT9M001::GetCapability(SensorCapability& cap) {
    const bool mono = Mono();
    cap.isMono = mono ? 1 : 0;
    cap.driverWord = 1;
    cap.unusedWord = 1;
    cap.defaultResolutionIndex = 9;  // "1280X1024"
    cap.presetMask = 0x333F;         // presets 0 to 5, 8, 9, 12 and 13
    cap.defaultRedGain = cap.defaultGreenGain = cap.defaultBlueGain = 100;
    SetFormats8Or12(cap, mono, GetHardwareType() != 0);
}
