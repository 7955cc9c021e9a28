#include "IMX296.h"

#include <iterator>

#include "SensorFactory.h"

using namespace sensor;

namespace {

constexpr BoardReset kResets[] = {{100, GpioReset(28)},
                                  {9, GpioReset(23)},
                                  {201, FpgaBitReset()},
                                  {204, FpgaBitReset()},
                                  {205, FpgaBitReset()}};
constexpr int kServed[] = {9, 100, 201, 204, 205};
constexpr int kFormatBoards[] = {9, 100, 201, 205};
constexpr uint16_t kChannelMaskReg = 37;  // FPGA register of board 204's enabled chips

// The FPGA's copy of the shutter: (line, 0x400 | high byte).
constexpr uint16_t kShutterMirrorFlag = 0x400;
constexpr uint32_t kShutterMirrorLead = 4;  // the FPGA line the shutter starts on, past SHS

// clang-format off
constexpr uint16_t kReadout[] = {
    0x3089, 0xB0,  0x308A, 0x0F,  0x308B, 0xB0,  0x308C, 0x0C,  0x418C, 0xA8,  0x4114, 0x45,
    0x3212, 0x08,  0x300E, 0x00,  0x3254, 0x3C,  0x3255, 0x00,
};
constexpr uint16_t kFullWindow[] = {0x3300, 0x00};

// ---- Chip maker's settings ------------------------------------------------------------------
// QV_MAKER_ROW rows are placeholders for values the chip maker supplies (see SensorTables.h).

// Initialisation, 47 rows: 3 known, 41 from the maker, 3 known.
constexpr uint16_t kInit[] = {
    0x3000, 0x01,  0x3A00, 0x80,  0x3005, 0xF0,
    QV_MAKER_ROWS_32, QV_MAKER_ROWS_8, QV_MAKER_ROW,
    0x31C8, 0xF3,  0x31D0, 0xF4,  0x30DF, 0x00,
};
// clang-format on
static_assert(std::size(kInit) == 2 * 47);
static_assert(std::size(kReadout) == 2 * 10);

constexpr CIMX264Family::Chip kChip{
    .instanceName = "IMX296",
    .kind = "CMOS_1.6M10B",
    .auxValue = 30,
    .monoCode = SENSOR_TYPE_IMX296M,
    .monoAsksMono8 = false,
    .bank = 0x2E00,
    .busAddress = 0x34,
    .resets = kResets,
    .served = kServed,
    .formatBoards = kFormatBoards,
    .widthCode8 = 1,
    .widthCode12 = 1,
    .defaultIndex = 30,  // "1440X1080"
    .redGain = 144,
    .greenGain = 100,
    .blueGain = 205,
    .defaultBlackLevel = 0,
    .fullWidth = 1440,
    .fullHeight = 1080,
    .expLinesMax = 540,
    .maxExposureUs = 3000000,
    .margin = 8,
    .maxLines = 0xFFFF7,
    .reportedExtraUs = 0,
    .minLines = 1,
    .pulse = CIMX264Family::Pulse::Min15,
    .pulseReportUs = 0,
    .triggerTimingOffset = -1,
    .reapplyOnSoftware = false,
    .startGainExposure = false,
    .logs = true,
    .noTriggerResetBoard = 204,
    .fpgaFirst = false,
    .masterWaitMs = 100,
    .roiHold = 0,
    .roiXHighMask = 0,
    .roiYHighMask = 0,
    .roiStatusIgnored = false,
    .minWindowWidth = 0,
    .maxColumnForMin = 0,
    .windowPad = 4,
    .init = kInit,
    .readout = kReadout,
    .fullWindow = kFullWindow,
    .speedPrefix = {},
    .outputMode = {},
    .outputModeFirst = false,
    .lengthsFromClock = false,
    .fullFrameLength = 1118,
    .fullOffsetX = 1,
    .fullOffsetY = 0,
    .extraLines = 30,
    .offsetX = 1,
    .offsetY = 0,
    .initLineLength = 1120,
};

}  // namespace

CIMX296::CIMX296(SensorTypeE type, imginf* inf) : CIMX264Family(type, inf, kChip) {}

int CIMX296::GetSensorInfo(SensorTypeE type, SensorInfo* info) {
    return FillSensorInfo("CIMX296", type, info);
}

int CIMX296::Probe(SensorTypeE type, imginf* inf) {
    (void)type, (void)inf;
    return CAMERA_STATUS_SUCCESS;
}

int CIMX296::ApplyClock(CameraInitParam& param) {
    const int hw = GetHardwareType();
    m_channelCount = 1;
    int r = CAMERA_STATUS_SUCCESS;
    switch (hw) {
        case 100:
            r = ApplyPll(Pll({27, 1, 1, 1, 10, 13, 13, 6}, 74250000));
            break;
        case 201:
            r = ApplyPll(Pll({18, 1, 2, 2, 24, 12, 6, 27}, 37125000));
            break;
        case 205:
            m_inputClock = 74250000;
            return CAMERA_STATUS_SUCCESS;  // its clock runs before the chip does
        case 9:
            SetPll(1, 8, 128, 0, 0, 0, 0, 0);  // the clock chip's answer is not checked
            m_inputClock = 37125000;
            break;
        default:  // 204
            r = TakeChannelMask(param, m_channelCount, kChannelMaskReg);
            if (r == CAMERA_STATUS_SUCCESS)
                r = ApplyPll(Pll({18, 1, 1, 1, 48, 12, 8, 27}, 18562500));
            break;
    }
    if (r != CAMERA_STATUS_SUCCESS) return r;
    Pause(20);
    return CAMERA_STATUS_SUCCESS;
}

// Ten and twelve bits take twice the line on boards 100 and 204 ...
uint32_t CIMX296::SpeedLineLength(int hw) const {
    const bool wide = m_bitMode == 32 && (hw == 100 || hw == 204);
    return wide ? 2 * m_baseLineLength : m_baseLineLength;
}

// ... and a frame of 30/19 as many lines on the GigE boards.
uint32_t CIMX296::SpeedFrameLength(int hw, uint32_t scaled) const {
    if (m_bitMode == 32 && (hw == 201 || hw == 205)) return scaled * 60 / 2 / 19;
    return scaled;
}

// The FPGA follows the shutter: a stretched frame starts it at line 8, an ordinary one four lines
// past SHS, counted round the frame.
void CIMX296::BeforeShutter(bool longFrame, uint32_t shutter) {
    if (longFrame) {
        SetTriggerTiming(8, kShutterMirrorFlag);
        return;
    }
    uint32_t line = shutter + kShutterMirrorLead;
    if (line > m_frameLength) line -= m_frameLength;
    SetTriggerTiming(line & 0xFFFF, kShutterMirrorFlag | ((line >> 16) & 0xFF));
}
