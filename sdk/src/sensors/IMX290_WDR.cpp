#include "IMX290_WDR.h"

#include <algorithm>
#include <iterator>

#include "SensorFactory.h"

using namespace sensor;

namespace {

constexpr int kBoard = 201;
constexpr uint8_t kBusAddress = 0x00;
constexpr uint8_t kBusWidths = 0x12;
constexpr unsigned kBusSettleMs = 20;
constexpr PllSetting kPll = Pll({18, 1, 2, 2, 12, 12, 5, 27}, 24000000);

constexpr double kLineTimeNs = 20000.0;  // the module's fixed line

constexpr uint16_t kRegWdr = 0x8168;       // 3 on, 0 off
constexpr uint16_t kRegAeMode = 0x803D;    // 0 before an exposure code
constexpr uint16_t kRegExposure = 0x803C;  // exposure step code
constexpr uint16_t kRegAeTarget = 0x803F;
constexpr uint16_t kRegWdrTarget = 0x8090;    // the AE target in WDR mode ...
constexpr uint16_t kRegWdrTargetHi = 0x808E;  // ... and its upper bound, target + 16
constexpr uint16_t kWdrTargetSettleMs = 100;

// The module's start-up settings, each written alone. Their results are not checked: a setting
// the module misses leaves its own default in force, which still gives a picture.
// clang-format off
constexpr uint16_t kModuleSetup[] = {
    0x8168, 0,     0x803D, 0,     0x306E, 1,     0x82C1, 3,     0x82CA, 0xFF,  0x82CB, 0xFF,
    0x82CC, 0xFF,  0x82CD, 0xFF,  0x8197, 1,     0x8198, 10,    0x819A, 1,     0x81B0, 1,
    0x81B1, 10,    0x8307, 1,     0x8308, 0xA3,  0x803D, 8,     0x803C, 64,    0x803F, 39,
    0x803D, 8,     0x806E, 25,    0x8075, 100,   0x8076, 100,
};
// clang-format on
static_assert(std::size(kModuleSetup) == 2 * 22);
constexpr unsigned kModuleBootMs = 1000;

// Exposure step codes: the first row whose time (ns) the exposure stays below.
struct ExposureStep {
    double belowNs;
    uint16_t code;
};
constexpr ExposureStep kExposureSteps[] = {
    {20000, 74},   {100000, 73},   {200000, 72},   {500000, 71},   {1000000, 70},  {3000000, 69},
    {5000000, 68}, {10000000, 67}, {20000000, 66}, {40000000, 65}, {80000000, 75},
};
constexpr uint16_t kExposureLongest = 76;

uint16_t ExposureCode(double ns) {
    for (const ExposureStep& step : kExposureSteps)
        if (ns < step.belowNs) return step.code;
    return kExposureLongest;
}

}  // namespace

CIMX290_WDR::CIMX290_WDR(SensorTypeE type, imginf* inf) : CSensorBase(type, inf) {
    m_auxValue = 15;
    m_pixelClock = 146824000;
    m_frameTimeNs = 200000000.0;
    m_frameSpeed = 2;
    GetSensorInfo(type, &m_info);
    SetLimits({.aeTargetMin = 1,
               .aeTargetMax = 100,
               .gainMax = 30000,
               .expLinesMax = 8640,
               .maxWidth = 1920,
               .maxHeight = 1080,
               .reductionModeMask = 7});
    SetPixelFormat(kBayerGR8);
}

int CIMX290_WDR::GetSensorInfo(SensorTypeE type, SensorInfo* info) {
    return FillSensorInfo("CIMX290_WDR", type, info);
}

int CIMX290_WDR::Probe(SensorTypeE type, imginf* inf) {
    (void)type, (void)inf;
    return CAMERA_STATUS_SUCCESS;
}

bool CIMX290_WDR::OnItsBoard() {
    return GetHardwareType() == kBoard;
}

int CIMX290_WDR::Reset() {
    if (!OnItsBoard()) return CAMERA_STATUS_NOT_SUPPORTED;
    return ResetAndSelectBus(FpgaBitReset(), kBusAddress, kBusWidths, kBusSettleMs);
}

int CIMX290_WDR::Init(CameraInitParam* param) {
    if (param == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    int r = Reset();
    if (r != CAMERA_STATUS_SUCCESS) return r;
    SetPixelFormat(param->mediaType);
    if ((r = ApplyPll(kPll)) != CAMERA_STATUS_SUCCESS) return r;
    Pause(10);
    Pause(20);
    if ((r = SetSensorInterface(m_bitMode | kIfSetup)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = SetTriggerControl(0, 0, 1, 0)) != CAMERA_STATUS_SUCCESS) return r;
    Pause(kModuleBootMs);
    SetResolution(&param->resolution);
    ApplyResolution();
    for (size_t i = 0; i < std::size(kModuleSetup); i += 2) {
        WriteSensorReg(kModuleSetup[i], kModuleSetup[i + 1]);
    }
    if ((r = SetFrameSpeed(param->frameSpeed)) != CAMERA_STATUS_SUCCESS) return r;
    Pause(10);
    return SetupImageWindow(0, 0, m_width, m_height, m_fovWidth, m_fovHeight, kFrameBufferLimit,
                            GetFrameBufferMode(static_cast<unsigned>(param->transferMode)));
}

int CIMX290_WDR::SetFrameSpeed(int speed) {
    m_frameSpeed = static_cast<uint32_t>(speed);
    m_lineTimeNs = kLineTimeNs;
    m_lineTimeUs = kLineTimeNs / 1000.0;
    return CAMERA_STATUS_SUCCESS;
}

// In WDR mode the module picks its exposure itself and takes none.
int CIMX290_WDR::SetExposureLines(uint32_t lines) {
    const double ns = lines * m_lineTimeNs;
    if (m_wdrMode == 0) {
        int r = WriteSensorReg(kRegAeMode, 0);
        if (r == CAMERA_STATUS_SUCCESS) r = WriteSensorReg(kRegExposure, ExposureCode(ns));
        if (r != CAMERA_STATUS_SUCCESS) return r;
    }
    m_expTimeUs = ns / 1000.0;
    return CAMERA_STATUS_SUCCESS;
}

int CIMX290_WDR::SetExposure(double us) {
    return SetExposureLines(LinesForUs(us, 1));
}

// Gain and black level are the module's own business: only recorded.
int CIMX290_WDR::SetAnalogGain(uint32_t gain) {
    m_gain = std::clamp(gain, m_param.analogGainMin, m_param.analogGainMax);
    return CAMERA_STATUS_SUCCESS;
}

int CIMX290_WDR::SetWdrMode(int mode) {
    const int32_t on = mode != 0 ? 1 : 0;
    const int r = WriteSensorReg(kRegWdr, on != 0 ? 3 : 0);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_wdrMode = on;
    // The AE target sits in another register in each mode.
    return SetAeTarget(m_aeTarget);
}

int CIMX290_WDR::GetWdrMode(int* mode) {
    if (mode != nullptr) *mode = m_wdrMode;
    return CAMERA_STATUS_SUCCESS;
}

int CIMX290_WDR::SetAeTarget(int target) {
    const auto a = static_cast<uint16_t>(target);
    const int r = m_wdrMode != 0 ? WriteRegs(RegList()
                                                 .Add(kRegWdrTarget, a)
                                                 .Pause(kWdrTargetSettleMs)
                                                 .Add(kRegWdrTargetHi, a + 16))
                                 : WriteSensorReg(kRegAeTarget, a);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_aeTarget = target;
    return CAMERA_STATUS_SUCCESS;
}

int CIMX290_WDR::StreamOn() {
    if (OnItsBoard()) {
        const int r = SetSensorInterface(m_bitMode | kIfRun | 4);
        if (r != CAMERA_STATUS_SUCCESS) return r;
    }
    m_streaming = true;
    return CAMERA_STATUS_SUCCESS;
}

int CIMX290_WDR::StreamOff() {
    if (OnItsBoard()) {
        const int r = SetSensorInterface(m_bitMode | kIfStop);
        if (r != CAMERA_STATUS_SUCCESS) return r;
        Pause(10);
    }
    m_streaming = false;
    return CAMERA_STATUS_SUCCESS;
}

int CIMX290_WDR::SetTriggerMode(int mode) {
    return OnItsBoard() ? ApplyTriggerMode(mode, 10, 0xFFFF) : CAMERA_STATUS_SUCCESS;
}

int CIMX290_WDR::SoftTrigger() {
    return OnItsBoard() ? SendSoftTrigger() : CAMERA_STATUS_NOT_SUPPORTED;
}

// The module's frames carry one byte per pixel whatever the format.
int CIMX290_WDR::GetImageInfo(stImageInfo* info) {
    const int r = CSensorBase::GetImageInfo(info);
    if (r == CAMERA_STATUS_SUCCESS) info->TotalBytes = m_width * m_height;
    return r;
}

void CIMX290_WDR::GetCapability(SensorCapability& cap) {
    cap.isMono = 0;
    cap.driverWord = 1;
    cap.defaultResolutionIndex = 15;  // "1920X1080", the only preset
    cap.presetMask = 0x8000;
    cap.defaultRedGain = cap.defaultGreenGain = cap.defaultBlueGain = 100;
    SetFormats(cap, kColour8);
    cap.wdrSupported = 1;
    cap.aeTargetOnSensor = 1;
    cap.defaultAeTarget = 39;
}
