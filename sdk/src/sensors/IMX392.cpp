#include "IMX392.h"

#include <iterator>

#include "SensorFactory.h"

using namespace sensor;

namespace {

constexpr BoardReset kResets[] = {
    {100, GpioReset(28)}, {106, GpioReset(28)}, {9, GpioReset(23)}, {201, FpgaBitReset()}};
constexpr int kServed[] = {9, 100, 106, 201};
constexpr uint16_t kChannelMaskReg = 40;  // FPGA register of board 106's enabled chips

// clang-format off
constexpr uint16_t kReadout[] = {
    0x3089, 0xB0,  0x308A, 0x0C,  0x308B, 0xB0,  0x308C, 0x0C,  0x3005, 0x20,  0x301C, 0x30,
    0x3212, 0x08,  0x300E, 0x00,  0x301B, 0x00,
};
// Output modes by width code: 0 for 10/12-bit, 2 for 8-bit output (the lane timing, then the
// converter and black level).
constexpr uint16_t kOutput12[] = {
    0x309E, 0x04,  0x30A0, 0x04,  0x30AF, 0x0B,
    0x4014, 0x16,  0x40A2, 0x0A,  0x300C, 0x01,  0x3016, 0x01,  0x3254, 0xF0,  0x3255, 0x00,
};
constexpr uint16_t kOutput8[] = {
    0x309E, 0x06,  0x30A0, 0x06,  0x30AF, 0x0D,
    0x4010, 0xFC,  0x4011, 0x0B,  0x3165, 0x40,  0x3169, 0x50,  0x3182, 0x01,  0x300C, 0x02,
    0x3016, 0x02,  0x3254, 0x0F,  0x3255, 0x00,
};
constexpr uint16_t kFullWindow[] = {0x300D, 0x00};

// ---- Chip maker's settings ------------------------------------------------------------------
// QV_MAKER_ROW rows are placeholders for values the chip maker supplies (see SensorTables.h).

// Initialisation, 38 rows: 3 known, 33 from the maker, 2 known.
constexpr uint16_t kInit[] = {
    0x3000, 0x01,  0x3502, 0x82,  0x3503, 0x2B,
    QV_MAKER_ROWS_32, QV_MAKER_ROW,
    0x31D0, 0xFF,  0x31D1, 0x00,
};
// clang-format on
static_assert(std::size(kInit) == 2 * 38);
static_assert(std::size(kReadout) == 2 * 9);

constexpr CIMX264Family::Chip kChip{
    .instanceName = "IMX392",
    .kind = "CMOS_2.3M",
    .auxValue = 21,
    .monoCode = SENSOR_TYPE_IMX392M,
    .monoAsksMono8 = false,
    .bank = 0x2E00,
    .busAddress = 0x34,
    .resets = kResets,
    .served = kServed,
    .formatBoards = kServed,
    .widthCode8 = 2,
    .widthCode12 = 0,
    .defaultIndex = 21,  // "1920X1200"
    .redGain = 100,
    .greenGain = 100,
    .blueGain = 100,
    .defaultBlackLevel = 60,
    .fullWidth = 1920,
    .fullHeight = 1200,
    .expLinesMax = 9600,
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
    .noTriggerResetBoard = 0,
    .fpgaFirst = false,
    .masterWaitMs = 10,
    .roiHold = 0x3008,
    .roiXHighMask = 7,
    .roiYHighMask = 7,
    .roiStatusIgnored = false,
    .minWindowWidth = 516,
    .maxColumnForMin = 1420,  // the widened window ends at the sensor's last column
    .windowPad = 0,
    .init = kInit,
    .readout = kReadout,
    .fullWindow = kFullWindow,
    .speedPrefix = {},
    .outputMode = {kOutput12, {}, kOutput8},
    .outputModeFirst = false,
    .lengthsFromClock = true,
    .fullFrameLength = 0,
    .fullOffsetX = 8,
    .fullOffsetY = 19,
    .extraLines = 0,
    .offsetX = 0,
    .offsetY = 11,
    .initLineLength = 0,
};

}  // namespace

CIMX392::CIMX392(SensorTypeE type, imginf* inf) : CIMX264Family(type, inf, kChip) {}

int CIMX392::GetSensorInfo(SensorTypeE type, SensorInfo* info) {
    return FillSensorInfo("CIMX392", type, info);
}

int CIMX392::Probe(SensorTypeE type, imginf* inf) {
    (void)type, (void)inf;
    return CAMERA_STATUS_SUCCESS;
}

// The clock and the line and frame lengths, which depend on how many chips board 106 reads. The
// single-chip boards run the lengths of one chip on board 106 (at their own clock).
int CIMX392::ApplyClock(CameraInitParam& param) {
    const int hw = GetHardwareType();
    const bool wide = m_bitMode != 0;
    uint32_t line = wide ? 994 : 540;
    uint32_t frame = 1244;
    PllSetting pll;
    bool pllChecked = true;
    if (hw == 106) {
        const int r = TakeChannelMask(param, m_channelCount, kChannelMaskReg);
        if (r != CAMERA_STATUS_SUCCESS) return r;
        if (m_channelCount == 1) {
            pll = Pll({27, 1, 1, 1, 10, 13, 13, 8}, 74250000);
        } else if (m_channelCount == 2) {
            line = wide ? 1988 : 994;
            pll = wide ? Pll({27, 1, 1, 1, 10, 13, 13, 13}, 74250000)
                       : Pll({27, 1, 1, 1, 10, 13, 13, 8}, 74250000);
        } else {
            line = 1772;
            frame = 1242;
            pll = wide ? Pll({24, 1, 1, 1, 7, 26, 13, 13}, 33000000)
                       : Pll({24, 1, 1, 1, 7, 13, 13, 8}, 66000000);
        }
    } else {
        m_channelCount = 1;
        if (hw == 100) {
            pll = Pll({27, 1, 2, 2, 10, 13, 13, 6}, 74250000);
        } else if (hw == 201) {
            pll = Pll({18, 1, 2, 2, 24, 12, 6, 27}, 37125000);
        } else {  // 9: the clock chip's answer is not checked
            pll = Pll({1, 8, 128, 0, 0, 0, 0, 0}, 37125000);
            pllChecked = false;
        }
    }
    const int r = ApplyPll(pll);
    if (r != CAMERA_STATUS_SUCCESS) {
        if (pllChecked) return r;
        m_inputClock = pll.inputClock;
    }
    Pause(20);
    m_baseLineLength = line;
    m_baseFrameLength = frame;
    return CAMERA_STATUS_SUCCESS;
}
