#include "AR0135.h"

#include "SensorFactory.h"
#include "SensorGain.h"

using namespace sensor;

namespace {

constexpr BoardReset kBoards[] = {
    {110, GpioReset(29)},
    {205, FpgaBitReset()},
    {300, Then(GpioPairReset(23, 71), GpioLevel(65, 0))},
    {301, Then(GpioPairReset(23, 71), GpioLevel(65, 0))},
    {302, Then(GpioPairReset(23, 71), GpioLevel(65, 0))},
    {305, Then(GpioPairReset(23, 71), GpioLevel(65, 0))},
};
constexpr int kFpgaGroup[] = {110, 205};
constexpr CAptinaSensor::Chip kChip{kBoards, false, {0x20, kReg16Data16, 10}, kFpgaGroup, 0x3012};

constexpr uint32_t kClock = 74250000;
constexpr uint32_t kLineLength = 1388;
constexpr uint32_t kFrameLength = 997;

// Gain steps, all in register 0x30B0. 1.25 has no setting of its own: it programs what 1.0 does
// and is reported as such.
constexpr GainStep kGains[] = {
    {8000, 0, 0x04B0},
    {4000, 0, 0x04A0},
    {2000, 0, 0x0490},
    {1000, 0, 0x0480},
};

// clang-format off
constexpr uint16_t kReset[] = {0x301A, 0x00D9,  kPauseReg, 10,  0x301A, 0x10D8};
constexpr uint16_t kClockTable[] = {
    0x302C, 0x0001,  0x302A, 0x0008,  0x302E, 0x0002,  0x3030, 0x002C,  0x30B0, 0x0080,
    kPauseReg, 100,
};
constexpr uint16_t kPostTable[] = {0x3064, 0x1802,  0x3028, 0x0010,  0x3046, 0x0100};
// clang-format on

}  // namespace

CAR0135::CAR0135(SensorTypeE type, imginf* inf) : CAptinaSensor(type, inf, kChip) {
    m_auxValue = 5;
    m_inputClock = kClock;
    GetSensorInfo(type, &m_info);
    SetLimits({.aeTargetMin = 10,
               .aeTargetMax = 10,
               .gainMax = 8000,
               .expLinesMax = 30,
               .maxWidth = 1280,
               .maxHeight = 960,
               .reductionModeMask = 1});
    SetPixelFormat(Mono() ? kMono8 : kBayerGR8);
}

int CAR0135::GetSensorInfo(SensorTypeE type, SensorInfo* info) {
    return FillSensorInfo("CAR0135", type, info);
}

int CAR0135::Probe(SensorTypeE type, imginf* inf) {
    return ProbeIdentity<CAR0135>(type, inf, {kRegIdentity, 0x0754});
}

void CAR0135::ApplyWindow() {
    ApplyResolution();
    m_roiMode = 0;
    m_fpgaOffsetX = m_roiX;
    m_fpgaOffsetY = m_roiY;
}

int CAR0135::Init(CameraInitParam* param) {
    if (param == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    // Refused before any traffic where the chip is not served.
    if (!InFpgaGroup()) return CAMERA_STATUS_NOT_SUPPORTED;
    int r = Reset();
    if (r != CAMERA_STATUS_SUCCESS) return r;
    SetPixelFormat(param->mediaType);
    m_ifMode = 0;
    if ((r = SetSensorInterface(m_ifMode | m_bitMode | 0x0C)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = SetTriggerControl(0, 0, 1, 0)) != CAMERA_STATUS_SUCCESS) return r;
    SetResolution(&param->resolution);
    ApplyWindow();
    if ((r = WriteSensorRegs(kReset)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = WriteSensorRegs(kClockTable)) != CAMERA_STATUS_SUCCESS) return r;
    m_inputClock = kClock;
    SetFrameSpeed(param->frameSpeed);
    r = SetupImageWindow(0, 0, m_width, m_height, m_width, m_height, kFrameBufferLimit,
                         GetFrameBufferMode(static_cast<unsigned>(param->transferMode)));
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if ((r = WriteSensorRegs(kPostTable)) != CAMERA_STATUS_SUCCESS) return r;
    r = WriteRegs({0x3012, 100, 0x305E, 0x0028});
    m_gain = 1000;
    RecordExposureLines(100);
    return r;
}

// Fixed lengths on the boards it serves; the speed is recorded there only.
int CAR0135::SetFrameSpeed(int speed) {
    const bool served = InFpgaGroup();
    if (served) {
        if (speed < 0 || speed > 2) return CAMERA_STATUS_PARAMETER_INVALID;
        m_lineLength = kLineLength;
        m_frameLength = kFrameLength;
    }
    RegList list;
    list.Add(0x300C, m_lineLength).Add(0x300A, m_frameLength);
    AddWindow(list, m_width, m_height);
    list.Add(0x30A2, 1).Add(0x30A6, 1).Add(0x3040, 0);
    const int r = WriteRegs(list);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (served) m_frameSpeed = static_cast<uint32_t>(speed);
    RecomputeTiming(m_inputClock);
    return CAMERA_STATUS_SUCCESS;
}

int CAR0135::SetAnalogGain(uint32_t gain) {
    const GainStep& step = PickGainStep(kGains, gain);
    const int r = WriteSensorReg(0x30B0, step.code);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_gainReg = step.code;
    m_gain = step.gain;
    return CAMERA_STATUS_SUCCESS;
}

int CAR0135::StreamOn() {
    if (InFpgaGroup()) SetSensorInterface(m_ifMode | m_bitMode | 0x8C);
    m_streaming = true;
    return CAMERA_STATUS_SUCCESS;
}

int CAR0135::StreamOff() {
    const int r = WriteSensorReg(kRegControl, 0x10D8);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (InFpgaGroup()) SetSensorInterface(m_ifMode | m_bitMode | 0x0C);
    m_streaming = false;
    return CAMERA_STATUS_SUCCESS;
}

int CAR0135::SetTriggerMode(int mode) {
    if (mode < 0 || mode > 2 || !InFpgaGroup()) return CAMERA_STATUS_SUCCESS;
    int r = ApplyFpgaTrigger(mode, {2000, 50000}, {2000, 50000});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (mode == 0) return WriteRegs({kRegControl, 0x10D4});
    if (mode == 1) return WriteRegs({kRegControl, 0x19D0});
    return WriteSensorReg(kRegControl, 0x19D0);
}

int CAR0135::SoftTrigger() {
    return SoftTriggerVia(InFpgaGroup());
}

int CAR0135::SetRoiOffset(int x, int y) {
    m_resolution.iOffsetX = x;
    m_resolution.iOffsetY = y;
    ApplyWindow();
    WriteSensorReg(0x300C, static_cast<uint16_t>(m_lineLength));
    WriteSensorReg(0x300A, static_cast<uint16_t>(m_frameLength));
    WriteWindowSingly(m_width, m_height);
    return CAMERA_STATUS_SUCCESS;
}

void CAR0135::GetCapability(SensorCapability& cap) {
    const bool mono = Mono();
    cap.isMono = mono ? 1 : 0;
    cap.driverWord = 1;
    cap.unusedWord = 1;
    cap.defaultResolutionIndex = 5;  // "1280X960", the only preset
    cap.presetMask = 0x20;
    cap.defaultRedGain = mono ? 128 : 177;
    cap.defaultGreenGain = 128;
    cap.defaultBlueGain = mono ? 128 : 177;
    SetFormats8Or12(cap, mono, true);
}
