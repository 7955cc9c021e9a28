#include "ImxHoldMap.h"

#include <algorithm>

#include "common/Log.h"
#include "SensorGain.h"

using namespace sensor;

namespace {

constexpr uint16_t kRegVmax = 0x30D4;  // 0x30D4 to 0x30D6
constexpr uint16_t kRegHmax = 0x30D8;  // 0x30D8, 0x30D9
constexpr uint16_t kRegShr = 0x3240;   // 0x3240 to 0x3242
constexpr uint16_t kRegGain = 0x3514;  // bits 0-7; bit 8 in 0x3515
constexpr uint16_t kRegWindowMode = 0x3104;

constexpr double kChipPulseOffsetUs = 14;  // the chip exposes 14 us past the pulse
constexpr LogGainStep kGainStep{.stepTenthsDb = 1, .hcgThresholdDb = 1e9, .hcgDb = 0};

}  // namespace

CImxHoldMap::CImxHoldMap(SensorTypeE type, imginf* inf, uint32_t margin)
    : CSensorBase(type, inf), m_margin(margin) {}

void CImxHoldMap::AddFrameLength(RegList& list, uint32_t frameLength) {
    list.Add(kRegVmax, frameLength & 0xFF)
        .Add(kRegVmax + 1, (frameLength >> 8) & 0xFF)
        .Add(kRegVmax + 2, (frameLength >> 16) & 0xFF);
}

void CImxHoldMap::AddLineLength(RegList& list, uint32_t lineLength) {
    list.Add(kRegHmax, lineLength & 0xFF).Add(kRegHmax + 1, (lineLength >> 8) & 0xFF);
}

void CImxHoldMap::AddShutter(RegList& list, uint32_t shutter) {
    list.Add(kRegShr, shutter & 0xFF)
        .Add(kRegShr + 1, (shutter >> 8) & 0xFF)
        .Add(kRegShr + 2, (shutter >> 16) & 0xFF);
}

void CImxHoldMap::AddWindow(RegList& list, uint32_t x, uint32_t y, uint32_t w, uint32_t h) {
    list.Add(kRegWindowMode, 3);
    list.Add(0x3120, x & 0xFF).Add(0x3121, (x >> 8) & 0x1F);
    list.Add(0x3124, w & 0xFF).Add(0x3125, (w >> 8) & 0x1F);
    list.Add(0x3122, y & 0xFF).Add(0x3123, (y >> 8) & 0x0F);
    list.Add(0x3126, h & 0xFF).Add(0x3127, (h >> 8) & 0x0F);
}

int CImxHoldMap::WriteWindowStart(uint32_t x, uint32_t y) {
    RegList list;
    list.Add(kRegHold, 1);
    list.Add(0x3120, x & 0xFF).Add(0x3121, (x >> 8) & 0x1F);
    list.Add(0x3122, y & 0xFF).Add(0x3123, (y >> 8) & 0x0F);
    list.Add(kRegHold, 0);
    return WriteRegs(list);
}

// ---- Exposure ----------------------------------------------------------------------------------

int CImxHoldMap::WriteLongFrame(uint32_t frameLength) {
    RegList list;
    list.Add(kRegHold, 1);
    AddFrameLength(list, frameLength);
    AddShutter(list, m_margin);
    list.Add(kRegHold, 0);
    return WriteRegs(list);
}

int CImxHoldMap::RestoreFrame() {
    RegList list;
    AddFrameLength(list, m_frameLength);
    return WriteRegs(list);
}

// At least one line; at most what the 20-bit frame length holds once stretched (0xFFFFF less the
// margin), unless the frame in force is already that long.
int CImxHoldMap::SetExposureLines(uint32_t lines) {
    lines = std::clamp(lines, 1u, kMaxLines);
    if (static_cast<uint64_t>(lines) + m_margin <= m_frameLength) {
        RegList list;
        list.Add(kRegHold, 1);
        AddShutter(list, m_frameLength - lines);
        int r = WriteRegs(list);
        if (r != CAMERA_STATUS_SUCCESS) return r;
        if (m_longFrame) {
            if ((r = RestoreFrame()) != CAMERA_STATUS_SUCCESS) return r;
            m_longFrame = false;
        }
        if ((r = WriteSensorReg(kRegHold, 0)) != CAMERA_STATUS_SUCCESS) return r;
        RecordExposureLines(lines);
        return CAMERA_STATUS_SUCCESS;
    }
    const uint32_t frame = std::min(lines + m_margin, kMaxFrameLength);
    const int r = WriteLongFrame(frame);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_longFrame = true;
    RecordExposureLines(frame - m_margin);
    return CAMERA_STATUS_SUCCESS;
}

int CImxHoldMap::ExposeFor(double us) {
    if (!m_triggerWidth) {
        const double t = us > kChipPulseOffsetUs ? us - kChipPulseOffsetUs : 0;
        return SetExposureLines(LinesForUs(t, 1));
    }
    return SetPulseExposure(us);
}

void CImxHoldMap::UsePulseRange() {
    m_param.expLinesMin = 15;
    m_param.expLinesMax = 1000000;
}

void CImxHoldMap::UseLineRange(double maxExposureUs) {
    m_param.expLinesMin = 1;
    if (m_lineTimeUs > 0) m_param.expLinesMax = static_cast<uint32_t>(maxExposureUs / m_lineTimeUs);
}

int CImxHoldMap::GetExposureLineTime(double* us) {
    if (us != nullptr) *us = m_triggerWidth ? 1.0 : m_lineTimeUs;
    return CAMERA_STATUS_SUCCESS;
}

// ---- Gain --------------------------------------------------------------------------------------

int CImxHoldMap::SetAnalogGain(uint32_t gain) {
    // Below unity the code would be negative and wrap into the register's top: unity holds.
    gain = std::clamp(gain, 1000u, m_param.analogGainMax);
    const uint32_t code = EncodeLogGain(gain, kGainStep).code & 0xFFFF;
    const int r = WriteRegs(RegList()
                                .Add(kRegHold, 1)
                                .Add(kRegGain, code & 0xFF)
                                .Add(kRegGain + 1, (code >> 8) & 1)
                                .Add(kRegHold, 0));
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_gainReg = code;
    m_gain = gain;
    return CAMERA_STATUS_SUCCESS;
}

// ---- Temperature -------------------------------------------------------------------------------

double CImxHoldMap::DecodeTemperature(uint16_t raw) {
    const int count = (raw & 0x800) != 0 ? static_cast<int>(raw & 0x7FF) - 0x800 : raw & 0x7FF;
    return count / 8.0;
}

int CImxHoldMap::ReadTemperature(float* celsius) {
    constexpr uint16_t kRegLatch = 0x3588, kRegLow = 0x3490, kRegHigh = 0x3491;
    uint16_t latch = 0;
    int r = ReadSensorReg(kRegLatch, &latch);
    if (r == CAMERA_STATUS_SUCCESS) r = WriteSensorReg(kRegLatch, latch | 1);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    Pause(10);
    uint16_t low = 0, high = 0;
    r = ReadSensorReg(kRegLow, &low);
    if (r == CAMERA_STATUS_SUCCESS) r = ReadSensorReg(kRegHigh, &high);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    const double degrees =
        DecodeTemperature(static_cast<uint16_t>((high & 0xFF) << 8 | (low & 0xFF)));
    qv::Log("IMX992 current temperature %lf\n", degrees);
    if (celsius != nullptr) *celsius = static_cast<float>(degrees);
    return WriteSensorReg(kRegLatch, latch & ~1u);
}
