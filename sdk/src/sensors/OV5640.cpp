#include "OV5640.h"

#include "SensorFactory.h"
#include "SensorGain.h"

using namespace sensor;

namespace {

constexpr uint32_t kWidth = 1280;
constexpr uint32_t kHeight = 720;
constexpr uint32_t kHorizontalBlank = 300;
constexpr uint32_t kVerticalBlank = 10;
constexpr double kPixelPeriodNs = 20;  // the 48 MHz clock counted in 50 MHz steps

constexpr uint32_t kFormats[] = {kBayerGR8};

}  // namespace

COV5640::COV5640(SensorTypeE type, imginf* inf) : CSensorBase(type, inf) {
    m_auxValue = 11;
    m_pixelClock = 48000000;
    m_frameTimeNs = 200000000.0;
    // The lengths of the fixed output, so that the first Init computes its timing from them
    // before the window is applied (1580 x 20 ns = 31.6 us lines).
    m_lineLength = kWidth + kHorizontalBlank;
    m_frameLength = kHeight + kVerticalBlank;
    m_frameSpeed = 2;
    SetInstanceInfo("OV5640", "CMOS_5M");
    SetLimits({.aeTargetMin = 10,
               .aeTargetMax = 160,
               .gainMax = 8000,
               .expLinesMax = 15552,
               .maxWidth = 2592,
               .maxHeight = 1944,
               .reductionModeMask = 7});
    SetPixelFormat(kBayerGR8);
}

int COV5640::GetSensorInfo(SensorTypeE type, SensorInfo* info) {
    return FillSensorInfo("COV5640", type, info);
}

int COV5640::Probe(SensorTypeE type, imginf* inf) {
    (void)type, (void)inf;
    return CAMERA_STATUS_SUCCESS;
}

int COV5640::Reset() {
    return CAMERA_STATUS_SUCCESS;
}

void COV5640::ApplyWindow() {
    ApplyResolution();
    m_width = kWidth;
    m_height = kHeight;
    m_lineLength = kWidth + kHorizontalBlank;
    m_frameLength = kHeight + kVerticalBlank;
}

int COV5640::Init(CameraInitParam* param) {
    if (param == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    SetPixelFormat(param->mediaType);
    SetFrameSpeed(param->frameSpeed);
    m_lineTimeUs = m_lineTimeNs / 1000.0;
    m_expTimeUs = m_expLines * m_lineTimeNs / 1000.0;
    SetResolution(&param->resolution);
    ApplyWindow();
    return CAMERA_STATUS_SUCCESS;
}

int COV5640::SetFrameSpeed(int speed) {
    // The chip's timing does not depend on the speed: every value is kept.
    m_frameSpeed = static_cast<uint32_t>(speed);
    m_pixelPeriodNs = kPixelPeriodNs;
    m_lineTimeNs = m_lineLength * kPixelPeriodNs;
    m_frameTimeNs = m_frameLength * m_lineTimeNs;
    m_lineTimeUs = m_lineTimeNs / 1000.0;
    return CAMERA_STATUS_SUCCESS;
}

int COV5640::SetExposureLines(uint32_t lines) {
    m_expLines = lines;
    return CAMERA_STATUS_SUCCESS;
}

int COV5640::SetExposure(double us) {
    RecordExposureLines(LinesForUs(us, 1));
    return CAMERA_STATUS_SUCCESS;
}

// The Micron gain code with whole digital steps from x8, decoded back to the gain it gives.
int COV5640::SetAnalogGain(uint32_t gain) {
    m_gainReg = EncodeMicronGain(gain, MicronHighGain::DigitalSteps);
    m_gain = DecodeMicronGain(m_gainReg, MicronHighGain::DigitalSteps);
    return CAMERA_STATUS_SUCCESS;
}

int COV5640::StreamOn() {
    return CAMERA_STATUS_SUCCESS;
}

int COV5640::StreamOff() {
    return CAMERA_STATUS_SUCCESS;
}

int COV5640::SetTriggerMode(int mode) {
    (void)mode;
    return CAMERA_STATUS_SUCCESS;
}

int COV5640::SoftTrigger() {
    return CAMERA_STATUS_SUCCESS;
}

int COV5640::GetResolution(tSdkResolution* res) {
    const int r = CSensorBase::GetResolution(res);
    if (res != nullptr) {
        res->uWidth = kWidth;
        res->uHeight = kHeight;
    }
    return r;
}

void COV5640::GetCapability(SensorCapability& cap) {
    cap.isMono = 0;
    cap.driverWord = 1;
    cap.defaultResolutionIndex = 11;  // "2592X1944"
    cap.presetMask = uint64_t{1} << 11;
    SetFormats(cap, kFormats);
}
