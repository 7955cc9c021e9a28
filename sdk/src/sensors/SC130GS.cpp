#include "SC130GS.h"

#include <algorithm>
#include <iterator>

#include "SensorFactory.h"

using namespace sensor;

namespace {

constexpr uint8_t kBusAddress = 0x60;
constexpr uint8_t kBusWidths = 0x12;
constexpr BoardReset kBoards[] = {{106, GpioReset(28)},
                                  {110, GpioReset(29)},
                                  {9, GpioReset(23)},
                                  {201, FpgaBitReset()},
                                  {205, FpgaBitReset()}};
constexpr uint16_t kChannelMaskReg = 40;

constexpr double kPeriodNs = 4.963295437580008;  // the chip's fixed 201.48 MHz count
constexpr uint16_t kRegStream = 0x0100;
constexpr uint16_t kRegExposureHigh = 0x3E01, kRegExposureLow = 0x3E02;
constexpr uint16_t kRegCoarseGain = 0x3E08, kRegFineGain = 0x3E09;
constexpr uint16_t kRegTrigger = 0x3234;
constexpr uint32_t kMaxEighths = 0xFFFF;
constexpr uint32_t kLinesMax = 7168;  // the continuous range, in lines

// Line length by output depth and frame length by speed, per board.
struct SpeedRow {
    int hwType;
    uint32_t line8, line12;
    uint32_t frame[3];
};
constexpr SpeedRow kSpeeds[] = {
    {110, 1596, 3192, {3156, 2104, 1052}},
    {201, 2128, 2128, {3156, 2104, 1052}},
    {205, 2128, 2128, {3156, 2104, 1052}},
    {9, 5600, 11200, {3600, 2400, 1200}},
};
constexpr uint32_t kSpeedFactor[] = {3, 2, 1};

// Board 106 by the number of chips read side by side (1, 2, 3 or 4): the clock and the line
// length for 8-bit and for 10/12-bit output.
struct ChannelRow {
    PllSetting pll8, pll12;
    uint32_t line8, line12;
};
constexpr ChannelRow kChannels[] = {
    {Pll({27, 1, 2, 2, 10, 26, 13, 8}, 0), Pll({27, 1, 1, 1, 8, 26, 13, 8}, 0), 1596, 1596},
    {Pll({27, 1, 1, 1, 8, 26, 13, 8}, 0), Pll({27, 1, 1, 1, 8, 26, 13, 12}, 0), 1596, 3192},
    {Pll({27, 1, 1, 1, 8, 26, 13, 8}, 0), Pll({27, 1, 1, 1, 8, 26, 13, 16}, 0), 3192, 6384},
};

constexpr uint16_t kStop[] = {kRegStream, 0x00, kPauseReg, 10};

// ---- Chip maker's settings ------------------------------------------------------------------
// QV_MAKER_ROW rows are placeholders for values the chip maker supplies (see SensorTables.h).

// clang-format off
// Settings, 84 rows: 3 known, the exposure and gain rows (4 known) among 75 from the maker, 2
// known.
constexpr uint16_t kSettings[] = {
    0x3000, 0x00,  0x3001, 0x00,  0x3018, 0x70,
    QV_MAKER_ROWS_32, QV_MAKER_ROWS_8,
    0x3E01, 0x20,  0x3E02, 0x50,  0x3E08, 0x03,  0x3E09, 0x20,
    QV_MAKER_ROWS_32, QV_MAKER_ROW, QV_MAKER_ROWS_2,
    0x5B02, 0x01,  0x5B03, 0x01,
};
// clang-format on
static_assert(std::size(kSettings) == 2 * 84);

}  // namespace

CSC130GS::CSC130GS(SensorTypeE type, imginf* inf) : CSensorBase(type, inf) {
    m_auxValue = 9;
    m_pixelPeriodNs = kPeriodNs;
    m_frameTimeNs = 200000000.0;
    m_frameSpeed = 2;
    GetSensorInfo(type, &m_info);
    SetLimits({.aeTargetMin = 10,
               .aeTargetMax = 160,
               .gainMax = 10000,
               .expLinesMax = kLinesMax,
               .maxWidth = 1280,
               .maxHeight = 1024,
               .reductionModeMask = 1});
    SetPixelFormat(kBayerGR8);  // the mono code's first format is Mono8
}

int CSC130GS::GetSensorInfo(SensorTypeE type, SensorInfo* info) {
    return FillSensorInfo("CSC130GS", type, info);
}

int CSC130GS::Probe(SensorTypeE type, imginf* inf) {
    (void)type, (void)inf;
    return CAMERA_STATUS_SUCCESS;
}

int CSC130GS::Reset() {
    const BoardReset* board = FindBoard(kBoards, GetHardwareType());
    return ResetAndSelectBus(board != nullptr ? board->reset : ResetSequence{}, kBusAddress,
                             kBusWidths, 0);
}

int CSC130GS::Init(CameraInitParam* param) {
    if (param == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    const int hw = GetHardwareType();
    if (!Serves(hw)) return CAMERA_STATUS_NOT_SUPPORTED;
    int r = Reset();
    if (r != CAMERA_STATUS_SUCCESS) return r;
    SetPixelFormat(param->mediaType);
    m_streaming = false;
    m_triggerWidth = false;
    m_channelCount = 1;
    if (hw == 9) {
        SetPll(9, 16, 32, 0, 0, 0, 0, 0);  // the clock chip's answer is not checked
        Pause(10);
    } else if (hw == 201) {
        if ((r = ApplyPll(Pll({24, 1, 3, 3, 18, 16, 36, 36}, 0))) != CAMERA_STATUS_SUCCESS)
            return r;
        Pause(10);
    } else if (hw == 106) {
        if ((r = TakeChannelMask(*param, m_channelCount, kChannelMaskReg)) != CAMERA_STATUS_SUCCESS)
            return r;
        const ChannelRow& row = kChannels[std::min<int>(m_channelCount, 3) - 1];
        const bool wide = m_bitMode != 0;
        if ((r = ApplyPll(wide ? row.pll12 : row.pll8)) != CAMERA_STATUS_SUCCESS) return r;
        m_lineLength = wide ? row.line12 : row.line8;
        m_baseFrameLength = 1052;
        Pause(20);
    }
    if ((r = SetSensorInterface(m_bitMode | 0x0D)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = SetTriggerControl(0, 0, 1, 0)) != CAMERA_STATUS_SUCCESS) return r;
    SetResolution(&param->resolution);
    ApplyResolution();
    m_roiMode = 0;
    const uint32_t row = m_roiY + 5u, column = m_roiX + 12u;
    if ((r = WriteSensorRegs(kStop)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = WriteSensorRegs(kSettings)) != CAMERA_STATUS_SUCCESS) return r;
    RegList window;
    window.Add(0x3211, column & 0xFF).Add(0x3210, (column >> 8) & 7);
    window.Add(0x3209, m_width & 0xFF).Add(0x3208, (m_width >> 8) & 7);
    window.Add(0x3213, row & 0xFF).Add(0x3212, (row >> 8) & 7);
    window.Add(0x320B, m_height & 0xFF).Add(0x320A, (m_height >> 8) & 7);
    WriteRegs(window);  // Init goes on with the chip's own window
    r = SetupImageWindow(0, 0, m_width * m_channelCount, m_height, m_width, m_height,
                         kFrameBufferLimit,
                         GetFrameBufferMode(static_cast<unsigned>(param->transferMode)));
    if (r != CAMERA_STATUS_SUCCESS) return r;
    SetFrameSpeed(param->frameSpeed);
    UseLineRange();
    m_gain = 1000;
    m_lineTimeUs = m_lineTimeNs / 1000.0;
    RecordExposureLines(100);
    return CAMERA_STATUS_SUCCESS;
}

// ---- Timing and exposure -----------------------------------------------------------------------

int CSC130GS::SetFrameSpeed(int speed) {
    const int hw = GetHardwareType();
    const SpeedRow* row = FindBoard(kSpeeds, hw);
    if ((row == nullptr && hw != 106) || speed < 0 || speed > 2)
        return CAMERA_STATUS_PARAMETER_INVALID;
    uint32_t line, frame;
    if (row != nullptr) {
        line = m_bitMode != 0 ? row->line12 : row->line8;
        frame = row->frame[speed];
    } else {
        // Board 106: the line of the chip count, the frame scaled from the chip count's.
        line = m_lineLength;
        frame = m_baseFrameLength * kSpeedFactor[speed];
    }
    const int r = WriteSensorRegs({0x320F, static_cast<uint16_t>((frame / 2) & 0xFF), 0x320E,
                                   static_cast<uint16_t>((frame / 2) >> 8), 0x320D,
                                   static_cast<uint16_t>((line / 2) & 0xFF), 0x320C,
                                   static_cast<uint16_t>((line / 2) >> 8)});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_frameSpeed = static_cast<uint32_t>(speed);
    m_lineLength = line;
    m_frameLength = frame;
    m_pixelPeriodNs = kPeriodNs;
    m_lineTimeNs = line * kPeriodNs;
    m_frameTimeNs = frame * m_lineTimeNs;
    m_lineTimeUs = m_lineTimeNs / 1000.0;
    return CAMERA_STATUS_SUCCESS;
}

int CSC130GS::WriteEighths(uint32_t eighths) {
    eighths = std::clamp(eighths, 1u, kMaxEighths);
    const int r = WriteSensorRegs({kRegExposureHigh, static_cast<uint16_t>((eighths >> 8) & 0xFF),
                                   kRegExposureLow, static_cast<uint16_t>(eighths & 0xFF)});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_expLines = eighths / 8;
    m_expTimeUs = eighths * m_lineTimeNs / 8000.0;
    return CAMERA_STATUS_SUCCESS;
}

// The register pair holds 0xFFFF eighths (8191 lines and 7/8): longer exposures stop there and
// report it.
int CSC130GS::SetExposureLines(uint32_t lines) {
    return WriteEighths(lines > kMaxEighths / 8 ? kMaxEighths : lines * 8);
}

int CSC130GS::SetExposure(double us) {
    if (m_triggerWidth) return SetPulseExposure(us);
    const double eighths = m_lineTimeNs > 0 && us > 0 ? us * 1000.0 / m_lineTimeNs * 8 : 0;
    return WriteEighths(eighths >= kMaxEighths ? kMaxEighths : static_cast<uint32_t>(eighths));
}

int CSC130GS::GetExposureLineTime(double* us) {
    if (us != nullptr) *us = m_triggerWidth ? 1.0 : m_lineTimeUs;
    return CAMERA_STATUS_SUCCESS;
}

// A coarse gain doubling up to x56.32 and a fine one in 32nds of it.
int CSC130GS::SetAnalogGain(uint32_t gain) {
    gain = std::clamp(gain, m_param.analogGainMin, m_param.analogGainMax);
    struct Coarse {
        double below;
        uint16_t code;
        double factor;
    };
    constexpr Coarse kCoarse[] = {{1.95, 0x03, 1},     {3.84, 0x07, 1.95},   {7.04, 0x0F, 3.84},
                                  {14.08, 0x1F, 7.04}, {28.16, 0x3F, 14.08}, {56.32, 0x7F, 28.16},
                                  {1e300, 0xFF, 56.32}};
    double x = gain / 1000.0;
    const Coarse* coarse = &kCoarse[0];
    for (const Coarse& c : kCoarse) {
        if (x < c.below) {
            coarse = &c;
            break;
        }
    }
    x /= coarse->factor;
    const auto fine = static_cast<uint16_t>(std::min(x * 32, 63.0));
    const int r = WriteSensorRegs({kRegCoarseGain, coarse->code, kRegFineGain, fine});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_gainReg = coarse->code;
    m_gain = static_cast<uint32_t>(fine * coarse->factor / 32 * 1000);
    return CAMERA_STATUS_SUCCESS;
}

int CSC130GS::SetBlackLevel(uint32_t level) {
    (void)level;
    return CAMERA_STATUS_SUCCESS;
}

// ---- Streaming and trigger ---------------------------------------------------------------------

int CSC130GS::StreamOn() {
    WriteSensorReg(kRegStream, 1);
    Pause(50);
    if (Serves(GetHardwareType())) SetSensorInterface(m_bitMode | 0x8D);
    m_streaming = true;
    return CAMERA_STATUS_SUCCESS;
}

int CSC130GS::StreamOff() {
    const int r = WriteSensorReg(kRegStream, 0);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (Serves(GetHardwareType())) SetSensorInterface(m_bitMode | 0x10D);
    m_streaming = false;
    return CAMERA_STATUS_SUCCESS;
}

void CSC130GS::UseLineRange() {
    m_param.expLinesMin = 1;
    m_param.expLinesMax = kLinesMax;
}

// The trigger modes switch the chip to expose for the FPGA's pulse (the range then counts
// microseconds, 15 to 1000000); continuous mode switches back, with the range in lines again.
int CSC130GS::SetTriggerMode(int mode) {
    if (mode < 0 || mode > 2) return CAMERA_STATUS_SUCCESS;
    int r;
    if (Serves(GetHardwareType()) && (r = ApplyTriggerControl(mode)) != CAMERA_STATUS_SUCCESS)
        return r;
    if (mode == 0) {
        if ((r = WriteSensorReg(kRegTrigger, 0x30)) != CAMERA_STATUS_SUCCESS) return r;
        m_triggerWidth = false;
        UseLineRange();
        return CAMERA_STATUS_SUCCESS;
    }
    r = WriteSensorRegs({kRegExposureHigh, 0, kRegExposureLow, 0, 0x3225, 2, kRegTrigger, 0xA3});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_triggerWidth = true;
    m_param.expLinesMin = 15;
    m_param.expLinesMax = 1000000;
    return CAMERA_STATUS_SUCCESS;
}

int CSC130GS::SoftTrigger() {
    return Serves(GetHardwareType()) ? SendSoftTrigger() : CAMERA_STATUS_SUCCESS;
}

int CSC130GS::GetImageInfo(stImageInfo* info) {
    const int r = CSensorBase::GetImageInfo(info);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    info->iWidth *= m_channelCount;
    info->TotalBytes *= m_channelCount;
    return CAMERA_STATUS_SUCCESS;
}

void CSC130GS::GetCapability(SensorCapability& cap) {
    const bool mono = m_sensorType == SENSOR_TYPE_SC130GSM;
    cap.isMono = mono ? 1 : 0;
    cap.driverWord = 1;
    cap.defaultResolutionIndex = 9;  // "1280X1024"
    cap.presetMask = uint64_t{1} << 9;
    if (!mono) {
        cap.defaultRedGain = 185;
        cap.defaultGreenGain = 100;
        cap.defaultBlueGain = 150;
    }
    SetFormats8Or12(cap, mono, GetHardwareType() != 0);
}
