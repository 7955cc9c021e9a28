#include "AR0144.h"

#include <algorithm>
#include <bit>

#include "SensorFactory.h"

using namespace sensor;

namespace {

constexpr int kBoard = 201;
constexpr BoardReset kBoards[] = {{kBoard, FpgaBitReset()}};
constexpr int kFpgaGroup[] = {kBoard};
constexpr CAptinaSensor::Chip kChip{kBoards, false, {0x20, kReg16Data16, 20}, kFpgaGroup, 0x3012};

constexpr int kAllChips = 0xF;  // the board always runs its four chips

// clang-format off
constexpr uint16_t kSerial[] = {0x3F4C, 0x003F,  0x3F4E, 0x0018,  0x3F50, 0x17DF};
constexpr uint16_t kInterfaceTiming[] = {
    0x30B0, 0x0028,  0x31B0, 0x005A,  0x31B2, 0x002E,  0x31B4, 0x2633,  0x31B6, 0x210E,
    0x31B8, 0x20C7,  0x31BA, 0x0105,  0x31BC, 0x0004,
};
// clang-format on

}  // namespace

CAR0144::CAR0144(SensorTypeE type, imginf* inf) : CAptinaSensor(type, inf, kChip) {
    m_auxValue = 31;
    m_inputClock = 74250000;
    m_imgPadH = 208;
    m_imgPadV = 27;
    GetSensorInfo(type, &m_info);
    SetLimits({.aeTargetMin = 10,
               .aeTargetMax = 10,
               .gainMax = 10000,
               .expLinesMax = 25,
               .maxWidth = 1280,
               .maxHeight = 800,
               .reductionModeMask = 1});
    // The chip is mono only: the Bayer default falls back to its first format.
    SetPixelFormat(kBayerGR8);
}

int CAR0144::GetSensorInfo(SensorTypeE type, SensorInfo* info) {
    return FillSensorInfo("CAR0144", type, info);
}

int CAR0144::Probe(SensorTypeE type, imginf* inf) {
    return ProbeIdentity<CAR0144>(type, inf, {kRegIdentity, 0x0356});
}

void CAR0144::ApplyWindow() {
    ApplyResolution();
    m_roiMode = 0;
    m_fpgaOffsetX = m_roiX + 4;
    m_fpgaOffsetY = m_roiY;
    m_lineLength = static_cast<uint32_t>(std::max<int64_t>(1430, m_width + m_imgPadH));
    m_frameLength = static_cast<uint32_t>(m_height + m_imgPadV);
}

int CAR0144::Init(CameraInitParam* param) {
    if (param == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    if (!InFpgaGroup()) return CAMERA_STATUS_NOT_SUPPORTED;  // before any traffic
    int r = Reset();
    if (r != CAMERA_STATUS_SUCCESS) return r;
    SetPixelFormat(param->mediaType);
    m_ifMode = 0;
    m_imgPadH = 208;
    m_imgPadV = 27;
    if ((r = ApplyPll(Pll({18, 1, 2, 2, 24, 12, 4, 27}, 74250000))) != CAMERA_STATUS_SUCCESS)
        return r;
    Pause(20);
    m_laneBits = 4;
    if ((r = SetSensorInterface(m_ifMode | m_bitMode | 0x04)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = SetTriggerControl(0, 0, 1, 0)) != CAMERA_STATUS_SUCCESS) return r;
    param->channelMask = kAllChips;
    m_chipCount = static_cast<uint8_t>(std::popcount(static_cast<unsigned>(kAllChips)));
    SetResolution(&param->resolution);
    ApplyWindow();

    if ((r = WriteSensorReg(kRegControl, 0x0059)) != CAMERA_STATUS_SUCCESS) return r;
    Pause(1);
    if ((r = WriteSensorReg(kRegControl, 0x0058)) != CAMERA_STATUS_SUCCESS) return r;
    Pause(10);
    if ((r = WriteSensorRegs(kSerial)) != CAMERA_STATUS_SUCCESS) return r;
    WriteSensorReg(0x31AE, 0x0202);  // the serial interface settings are not checked
    WriteSensorReg(0x31AC, 0x0C0C);
    WriteSensorReg(0x3354, 0x002C);
    if ((r = SetFrameSpeed(param->frameSpeed)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = WriteSensorRegs(kInterfaceTiming)) != CAMERA_STATUS_SUCCESS) return r;
    RegList setup;
    setup.Add(0x300C, m_lineLength).Add(0x300A, m_frameLength);
    AddWindow(setup, m_width, m_height);
    setup.Add(0x306E, 0x9010).Add(0x30A2, 1).Add(0x30A6, 1).Add(0x3082, 3).Add(0x3040, 0);
    setup.Add(0x31D0, 0).Add(0x311C, 0x033B);
    if ((r = WriteRegs(setup)) != CAMERA_STATUS_SUCCESS) return r;
    r = SetupImageWindow(0, 0, m_chipCount * m_width, m_height, m_width, m_height,
                         kFrameBufferLimit,
                         GetFrameBufferMode(static_cast<unsigned>(param->transferMode)));
    m_gain = 1000;
    RecordExposureLines(m_expLines);
    return r;
}

int CAR0144::Uninit() {
    WriteSensorReg(kRegControl, 0x0058);
    return CAMERA_STATUS_SUCCESS;
}

// One chip counts at 18.6, 37.1 or 74.3 MHz; several share a slower clock.
int CAR0144::SetFrameSpeed(int speed) {
    if (!InFpgaGroup()) return CAMERA_STATUS_NOT_SUPPORTED;
    if (speed < 0 || speed > 2) return CAMERA_STATUS_PARAMETER_INVALID;
    static constexpr uint16_t kDividers[] = {4, 2, 1};
    const bool several = m_chipCount >= 2;
    const uint16_t m = several ? 30 : 66, n = several ? 8 : 4;
    const uint32_t fastest = several ? 16875000 : 74250000;
    const uint16_t p1 = kDividers[speed];
    const int r = WriteRegs({0x302C, p1, 0x302A, 6, 0x302E, n, 0x3030, m, 0x3036, 12, 0x3038, p1});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_frameSpeed = static_cast<uint32_t>(speed);
    RecomputeTiming(fastest / p1);
    return CAMERA_STATUS_SUCCESS;
}

// A power of two (coarse, 0 to 7) times 1 + sixteenths (fine, 0 to 15) in 0x3060.
int CAR0144::SetAnalogGain(uint32_t gain) {
    gain = std::clamp(gain, m_param.analogGainMin, m_param.analogGainMax);
    uint32_t coarse = 0;
    while (coarse < 7 && 1000u << (coarse + 1) <= gain) ++coarse;
    const auto fine = static_cast<uint32_t>((gain / (1000.0 * (1u << coarse)) - 1) * 16);
    const uint32_t code = coarse << 4 | std::min(fine, 15u);
    const int r = WriteSensorReg(0x3060, static_cast<uint16_t>(code));
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_gainReg = code;
    m_gain = ((std::min(fine, 15u) + 16) << coarse) * 1000 / 16;
    return CAMERA_STATUS_SUCCESS;
}

int CAR0144::StreamOn() {
    if (!InFpgaGroup()) return CAMERA_STATUS_SUCCESS;
    const int r = SetSensorInterface(m_ifMode | m_bitMode | kIfRun | m_laneBits);
    if (r == CAMERA_STATUS_SUCCESS) m_streaming = true;
    return r;
}

int CAR0144::StreamOff() {
    if (!InFpgaGroup()) return CAMERA_STATUS_SUCCESS;
    WriteSensorReg(kRegControl, 0x0058);
    const int r = SetSensorInterface(m_ifMode | m_bitMode | kIfStop | m_laneBits);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    SetFpgaImageEnable(0);
    m_streaming = false;
    return CAMERA_STATUS_SUCCESS;
}

int CAR0144::SetTriggerMode(int mode) {
    if (mode < 0 || mode > 2 || !InFpgaGroup()) return CAMERA_STATUS_SUCCESS;
    const int r = ApplyFpgaTrigger(mode, {1, 50000}, {2000, 50000});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    return WriteSensorReg(kRegControl, mode == 0 ? 0x005C : 0x0058);
}

int CAR0144::SoftTrigger() {
    return SoftTriggerVia(InFpgaGroup());
}

int CAR0144::SetRoiOffset(int x, int y) {
    m_resolution.iOffsetX = x;
    m_resolution.iOffsetY = y;
    ApplyWindow();
    WriteSensorReg(0x300C, static_cast<uint16_t>(m_lineLength));
    WriteSensorReg(0x300A, static_cast<uint16_t>(m_frameLength));
    WriteWindowSingly(m_width, m_height);
    return CAMERA_STATUS_SUCCESS;
}

void CAR0144::GetCapability(SensorCapability& cap) {
    cap.isMono = 1;
    cap.driverWord = 1;
    cap.defaultResolutionIndex = 31;  // "1280X800", the only preset
    cap.presetMask = 0x80000000;
    cap.defaultRedGain = cap.defaultGreenGain = cap.defaultBlueGain = 100;
    SetFormats(cap, kMono8And12);
}
