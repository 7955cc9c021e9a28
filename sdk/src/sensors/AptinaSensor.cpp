#include "AptinaSensor.h"

#include <algorithm>

using namespace sensor;

CAptinaSensor::CAptinaSensor(SensorTypeE type, imginf* inf, const Chip& chip)
    : CSensorBase(type, inf), m_chip(chip) {
    m_frameTimeNs = 200000000.0;
    m_frameSpeed = 2;
}

const BoardReset* CAptinaSensor::BoardRow() {
    const int hw = GetHardwareType();
    for (const BoardReset& row : m_chip.boards)
        if (row.hwType == hw) return &row;
    return nullptr;
}

bool CAptinaSensor::InFpgaGroup() {
    const int hw = GetHardwareType();
    return std::find(m_chip.fpgaGroup.begin(), m_chip.fpgaGroup.end(), hw) !=
           m_chip.fpgaGroup.end();
}

int CAptinaSensor::Reset() {
    const BoardReset* row = BoardRow();
    if (row == nullptr && m_chip.refuseOtherBoards) return CAMERA_STATUS_NOT_SUPPORTED;
    return ResetAndSelectBus(row != nullptr ? row->reset : ResetSequence{}, m_chip.bus);
}

int CAptinaSensor::SetExposureLines(uint32_t lines) {
    lines = std::min(lines, kMaxExposureLines);
    const int r = WriteSensorReg(m_chip.exposureReg, static_cast<uint16_t>(lines));
    // Recorded as the Aptina drivers always have: also when the write failed, the next write
    // brings the chip to it.
    RecordExposureLines(lines);
    return r;
}

int CAptinaSensor::SetExposure(double us) {
    return SetExposureLines(LinesForUs(us, 1));
}

int CAptinaSensor::SetBlackLevel(uint32_t level) {
    (void)level;
    return CAMERA_STATUS_SUCCESS;
}

int CAptinaSensor::GetImageInfo(stImageInfo* info) {
    const int r = CSensorBase::GetImageInfo(info);
    if (r != CAMERA_STATUS_SUCCESS || m_chipCount <= 1) return r;
    info->iWidth = m_chipCount * m_width;
    const bool oneByte = CAMERA_MEDIA_TYPE_BITS(m_pixelFormat) == 8;
    info->TotalBytes = info->iWidth * m_height * (oneByte ? 1 : 2);
    return CAMERA_STATUS_SUCCESS;
}

RegList& CAptinaSensor::AddWindow(RegList& list, uint32_t width, uint32_t height) {
    list.Add(0x3004, m_fpgaOffsetX).Add(0x3002, m_fpgaOffsetY);
    list.Add(0x3008, m_fpgaOffsetX + width - 1).Add(0x3006, m_fpgaOffsetY + height - 1);
    return list;
}

void CAptinaSensor::WriteWindowSingly(uint32_t width, uint32_t height) {
    RegList list;
    AddWindow(list, width, height);
    const auto words = list.Words();
    for (size_t i = 0; i < words.size(); i += 2) WriteSensorReg(words[i], words[i + 1]);
}

int CAptinaSensor::ApplyFpgaTrigger(int mode, TriggerTiming mode1, TriggerTiming mode2) {
    const TriggerTiming timing = mode == 1 ? mode1 : mode2;
    return ApplyTriggerMode(mode, timing.a, timing.b);
}
