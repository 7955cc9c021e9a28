#include "MicronSensor.h"

#include <algorithm>

using namespace sensor;

CMicronSensor::CMicronSensor(SensorTypeE type, imginf* inf, const Chip& chip)
    : CSensorBase(type, inf), m_chip(chip) {
    m_frameTimeNs = 200000000.0;
    m_frameSpeed = 2;
}

bool CMicronSensor::InFpgaGroup() {
    const int hw = GetHardwareType();
    return std::find(m_chip.fpgaGroup.begin(), m_chip.fpgaGroup.end(), hw) !=
           m_chip.fpgaGroup.end();
}

void CMicronSensor::StopFpgaStream() {
    if (!InFpgaGroup()) return;
    if (InFpgaGroupB()) {
        SetSensorInterface(m_bitMode | 0x10C);
    } else {
        SetSensorInterface(m_bitMode | 0x10D);
        SetFpgaImageEnable(0);
    }
}

int CMicronSensor::ApplyTriggerModeReg(int mode, const TriggerModeReg& word) {
    if (mode < 0 || mode > 2) return CAMERA_STATUS_SUCCESS;
    if (InFpgaGroup()) {
        const int r = ApplyTriggerMode(mode, word.fpgaTimingA, 50000);
        if (r != CAMERA_STATUS_SUCCESS) return r;
    }
    return WriteSensorReg(word.reg, mode == 0 ? word.continuous : word.triggered);
}

int CMicronSensor::Reset() {
    const int hw = GetHardwareType();
    ResetSequence lines;
    for (const BoardReset& row : m_chip.boards)
        if (row.hwType == hw) lines = row.reset;
    return ResetAndSelectBus(lines, m_chip.bus);
}

void CMicronSensor::RecordExposure(uint32_t lines) {
    m_expLines = lines;
    m_expTimeUs = (lines * m_lineTimeNs - m_chip.overheadPeriods * m_pixelPeriodNs) / 1000.0;
}

int CMicronSensor::SetExposureLines(uint32_t lines) {
    int r;
    if (m_chip.shutterHighWord) {
        r = WriteRegs({kRegShutterHigh, static_cast<uint16_t>(lines >> 16), kRegShutter,
                       static_cast<uint16_t>(lines & 0xFFFF)});
    } else {
        // One 16-bit register: longer exposures stop at 65535 lines.
        lines = std::min(lines, 0xFFFFu);
        r = WriteSensorReg(kRegShutter, static_cast<uint16_t>(lines));
    }
    RecordExposure(lines);
    return r;
}

int CMicronSensor::SetExposure(double us) {
    if (!m_chip.roundWithOverhead) return SetExposureLines(LinesForUs(us, 1));
    // The chip exposes n lines less the overhead: the line count that gives us.
    const double overheadUs = m_chip.overheadPeriods * m_pixelPeriodNs / 1000.0;
    return SetExposureLines(LinesForUs(us + overheadUs, 1));
}

int CMicronSensor::SetAnalogGain(uint32_t gain) {
    const uint32_t code = EncodeMicronGain(gain, m_chip.highGain);
    m_gainReg = code;
    const int r = WriteSensorReg(kRegGain, static_cast<uint16_t>(code));
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_gain = DecodeMicronGain(code, m_chip.highGain);
    return CAMERA_STATUS_SUCCESS;
}

int CMicronSensor::SetBlackLevel(uint32_t level) {
    m_blackLevel = level & 0xFF;
    WriteSensorReg(kRegBlackLevel, static_cast<uint16_t>(m_blackLevel));
    return CAMERA_STATUS_SUCCESS;
}

RegList& CMicronSensor::AddWindowStart(RegList& list) {
    return list.Add(kRegRowStart, m_fpgaOffsetY).Add(kRegColumnStart, m_fpgaOffsetX);
}

RegList& CMicronSensor::AddWindowSize(RegList& list) {
    list.Add(kRegHeight, m_fovHeight - 1).Add(kRegWidth, m_fovWidth - 1);
    return list.Add(kRegHBlank, static_cast<uint32_t>(m_imgPadH))
        .Add(kRegVBlank, static_cast<uint32_t>(m_imgPadV));
}

int CMicronSensor::TriggerLineLow() {
    const int r = SetGpioMode(67, 0);
    return r == CAMERA_STATUS_SUCCESS ? WriteGpio(67, 0) : r;
}
