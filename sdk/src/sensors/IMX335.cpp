#include "IMX335.h"

#include <algorithm>
#include <iterator>

#include "SensorFactory.h"
#include "SensorGain.h"

using namespace sensor;

namespace {

constexpr uint8_t kBusAddress = 0x34;
constexpr uint8_t kBusWidths = 0x12;
constexpr unsigned kBusSettleMs = 20;

constexpr BoardReset kBoards[] = {
    {100, GpioReset(28)},
    {106, GpioReset(28)},
    {110, GpioReset(29)},
    {9, GpioReset(23)},
    {306, GpioPairTogetherReset(23, 71)},
    {201, FpgaBitReset()},
    {205, FpgaBitReset()},
};
constexpr int kResetOnlyBoard = 100;

constexpr uint16_t kRegStandby = 0x3000;
constexpr uint16_t kRegHold = 0x3001;
constexpr uint16_t kRegMaster = 0x3002;
constexpr RegField kVmax[] = {{0x3030, 0, 0xFF}, {0x3031, 8, 0xFF}, {0x3032, 16, 0x01}};
constexpr RegField kHmax[] = {{0x3034, 0, 0xFF}, {0x3035, 8, 0xFF}};
constexpr RegField kShs[] = {{0x3058, 0, 0xFF}, {0x3059, 8, 0xFF}, {0x305A, 16, 0x0F}};

// Sensor timing: SHS = frame length - lines; exposures past frame length - 9 stretch the frame to
// lines + 9 with SHS 9, up to the 17-bit frame length 0x1FFFF (131062 lines).
constexpr ShutterLayout kShutter{
    .frameLength = kVmax,
    .shutter = kShs,
    .fitMargin = 9,
    .stretchExtra = 9,
    .stretchShutter = 9,
    .shutterOffset = 0,
    .restoreFirst = false,
    .maxFrameLength = 0x1FFFF,
};
constexpr uint32_t kShutterMargin = 9;
constexpr uint32_t kMaxLines = 131064;
constexpr uint32_t kMinLines = 2;

// Board 9 times FPGA-timed frames through registers 18 to 20 and ends a long exposure with a
// pulse on register 22 when the exposure in force was longer than 2 s.
constexpr int kBoardFpgaRegs = 9;
constexpr uint16_t kRegFrameTiming9 = 18;
constexpr uint16_t kRegFrameLength9 = 21;
constexpr uint16_t kRegLongPulse9 = 22;
constexpr double kLongPulseAboveUs = 2000000.0;
constexpr uint16_t kChannelReg = 40;  // board 106's chip mask

constexpr int32_t kPresetSkip = 32;  // "1296x972 skip", board 9
constexpr uint16_t kSkipRunBit = 0x1000;

constexpr LogGainStep kGainStep{.stepTenthsDb = 3, .hcgThresholdDb = 1e9, .hcgDb = 0};

// clang-format off
constexpr uint16_t kFpgaTimedMode[] = {0x31A0, 0x2A,  0x31A1, 0x0F,  0x37B0, 0x37};
constexpr uint16_t kBits8[]  = {0x3050, 0,  0x319D, 0,  0x341C, 0xFF,  0x341D, 1};
constexpr uint16_t kBits12[] = {0x3050, 1,  0x319D, 1,  0x341C, 0x47,  0x341D, 0};
// Interface timing: boards 306 and 9, the others.
constexpr uint16_t kInterfaceSlow[] = {
    0x300C, 0x3B,  0x300D, 0x2A,  0x314C, 0xC6,  0x314D, 0,  0x315A, 2,  0x3168, 0xA0,
    0x316A, 0x7E,  0x319E, 1,
};
constexpr uint16_t kInterface[] = {
    0x300C, 0x42,  0x300D, 0x2E,  0x314C, 0xB0,  0x314D, 0,  0x315A, 2,  0x3168, 0x8F,
    0x316A, 0x7E,  0x319E, 1,
};
constexpr uint16_t kBlackLevelPair[] = {0x3302, 0,  0x3303, 0};
constexpr uint16_t kClosing[] = {
    0x30E8, 0,  0x30E9, 0,  0x3058, 0xF6,  0x3059, 0x0D,  0x305A, 0,
};

// ---- Chip maker's settings ------------------------------------------------------------------
// QV_MAKER_ROW rows are placeholders for values the chip maker supplies (see SensorTables.h).

// Main settings, 91 rows (to 0x377D): 4 known (the start and a 10 ms pause), 87 from the maker.
constexpr uint16_t kMain[] = {
    0x3000, 1,  0x3001, 0,  kPauseReg, 10,  0x304C, 0x14,
    QV_MAKER_ROWS_32, QV_MAKER_ROWS_32, QV_MAKER_ROWS_16, QV_MAKER_ROWS_4, QV_MAKER_ROWS_2,
    QV_MAKER_ROW,
};
// Fixed settings 0x3078 to 0x3199, 32 rows, all from the maker.
constexpr uint16_t kSettings[] = {
    QV_MAKER_ROWS_32,
};
// clang-format on
static_assert(std::size(kMain) == 2 * 91 && std::size(kSettings) == 2 * 32);

// Board 106's clock by chips in use and bit depth; the 104 MHz settings count at half rate.
PllSetting Clock106(uint8_t channels, bool twelveBit) {
    if (channels == 1) {
        return twelveBit ? Pll({27, 1, 1, 1, 9, 52, 13, 16}, 37125000)
                         : Pll({27, 1, 2, 2, 9, 52, 13, 8}, 37125000);
    }
    if (channels == 2) {
        return twelveBit ? Pll({27, 1, 1, 1, 9, 104, 13, 16}, 18562500)
                         : Pll({27, 1, 1, 1, 9, 52, 13, 8}, 37125000);
    }
    return twelveBit ? Pll({27, 1, 1, 1, 9, 104, 13, 12}, 18562500)
                     : Pll({27, 1, 1, 1, 9, 52, 13, 6}, 37125000);
}

}  // namespace

CIMX335::CIMX335(SensorTypeE type, imginf* inf) : CSensorBase(type, inf) {
    m_auxValue = 11;
    m_pixelClock = 37125000;
    m_frameTimeNs = 200000000.0;
    m_frameSpeed = 2;
    SetInstanceInfo("IMX335", "CMOS_5M");
    SetLimits({.aeTargetMin = 60,
               .aeTargetMax = 160,
               .gainMax = 30000,
               .expLinesMax = 108864,
               .maxWidth = 2592,
               .maxHeight = 1944,
               .reductionModeMask = 3});
    // The mono variants have no Bayer format and take their own first one.
    SetPixelFormat(kBayerGR8);
}

int CIMX335::GetSensorInfo(SensorTypeE type, SensorInfo* info) {
    return FillSensorInfo("CIMX335", type, info);
}

int CIMX335::Probe(SensorTypeE type, imginf* inf) {
    (void)type, (void)inf;
    return CAMERA_STATUS_SUCCESS;
}

bool CIMX335::FpgaTimed() const {
    return m_sensorType == SENSOR_TYPE_IMX335C_B || m_sensorType == SENSOR_TYPE_IMX335M_B;
}

bool CIMX335::InitServed() {
    const int hw = GetHardwareType();
    return hw != kResetOnlyBoard && FindBoard(kBoards, hw) != nullptr;
}

uint16_t CIMX335::TimingRegister() {
    return GetHardwareType() == kBoardFpgaRegs ? kRegFrameTiming9 : 0;
}

// ---- Reset and initialisation ------------------------------------------------------------------

int CIMX335::Reset() {
    const BoardReset* board = FindBoard(kBoards, GetHardwareType());
    if (board == nullptr) return CAMERA_STATUS_NOT_SUPPORTED;
    return ResetAndSelectBus(board->reset, kBusAddress, kBusWidths, kBusSettleMs);
}

int CIMX335::ApplyClock(CameraInitParam& param) {
    const int hw = GetHardwareType();
    const bool fpgaTimed = FpgaTimed();
    const bool twelveBit = m_bitMode == 32;
    m_channelCount = 1;
    m_extraBits = 0;
    int r = CAMERA_STATUS_SUCCESS;
    switch (hw) {
        case 110:
            m_pixelClock = fpgaTimed ? 27000000 : 74250000;
            break;
        case 201: {
            const uint8_t k = m_lowBit != 0 ? 2 : 1;
            if ((r = ApplyPll(Pll({18, 1, k, k, 48, 12, 5, 27}, 37125000))) !=
                CAMERA_STATUS_SUCCESS)
                return r;
            m_pixelClock = 37125000;
            Pause(20);
            break;
        }
        case 205:
            m_pixelClock = fpgaTimed ? 13500000 : 37125000;
            Pause(20);
            break;
        case 106: {
            if ((r = TakeChannelMask(param, m_channelCount, 0)) != CAMERA_STATUS_SUCCESS) return r;
            WriteFpgaReg(kChannelReg, static_cast<uint32_t>(param.channelMask));  // not checked
            const PllSetting pll = Clock106(m_channelCount, twelveBit);
            if ((r = ApplyPll(pll)) != CAMERA_STATUS_SUCCESS) return r;
            m_pixelClock = pll.inputClock;
            Pause(20);
            break;
        }
        default: {  // 306, 9; their clock results are not checked
            const bool skip = hw == kBoardFpgaRegs && param.resolution.iIndex == kPresetSkip;
            const PllSetting pll = skip ? Pll({5, 16, 64, 0, 0, 0, 0, 0}, 46406250)
                                        : Pll({1, 8, 128, 0, 0, 0, 0, 0}, 18562500);
            ApplyPll(pll);
            m_extraBits = skip ? kSkipRunBit : 0;
            m_pixelClock = fpgaTimed ? 48000000 : pll.inputClock;
            Pause(20);
            break;
        }
    }
    m_laneBits = 4;
    if ((r = SetSensorInterface(WordBits() | kIfSetup)) != CAMERA_STATUS_SUCCESS) return r;
    return SetTriggerControl(0, 0, 1, 0);
}

int CIMX335::Init(CameraInitParam* param) {
    if (param == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    // Board 100 resets the chip but runs no stream of it: refused before any traffic.
    if (!InitServed()) return CAMERA_STATUS_NOT_SUPPORTED;
    int r = Reset();
    if (r != CAMERA_STATUS_SUCCESS) return r;
    const int hw = GetHardwareType();
    SetPixelFormat(param->mediaType);
    m_lowBit = m_bitMode == 32 || hw == 306 || hw == 9 ? 0 : 1;
    m_longExposure = false;
    m_streaming = false;
    if ((r = ApplyClock(*param)) != CAMERA_STATUS_SUCCESS) return r;
    SetResolution(&param->resolution);
    ApplyResolution();
    m_fpgaOffsetX = m_roiX + 48;
    m_fpgaOffsetY = m_roiY;

    if ((r = WriteSensorRegs(kMain)) != CAMERA_STATUS_SUCCESS) return r;
    r = FpgaTimed() ? WriteSensorRegs(kFpgaTimedMode) : WriteSensorReg(0x37B0, 0x36);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if ((r = WriteSensorRegs(kSettings)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = WriteSensorRegs(m_lowBit != 0 ? std::span<const uint16_t>(kBits8)
                                           : std::span<const uint16_t>(kBits12))) !=
        CAMERA_STATUS_SUCCESS)
        return r;
    const bool slowInterface = hw == 306 || hw == 9;
    if ((r = WriteSensorRegs(slowInterface ? std::span<const uint16_t>(kInterfaceSlow)
                                           : std::span<const uint16_t>(kInterface))) !=
        CAMERA_STATUS_SUCCESS)
        return r;
    if ((r = WriteSensorRegs(kBlackLevelPair)) != CAMERA_STATUS_SUCCESS) return r;
    SetFrameSpeed(param->frameSpeed);
    WriteWindow();  // not checked: Init goes on with the window the chip has
    Pause(10);
    if (FpgaTimed()) {
        if (hw == kBoardFpgaRegs &&
            (r = WriteFpgaReg(kRegFrameLength9, m_frameLength)) != CAMERA_STATUS_SUCCESS)
            return r;
        r = WriteFrameTiming(m_frameLength, m_lineLength, TimingRegister());
        if (r != CAMERA_STATUS_SUCCESS) return r;
    }
    const unsigned x = hw == 205 || hw == 110 || hw == 106 ? 13 : 12;
    r = SetupImageWindow(x, 8, m_channelCount * m_width, m_height, m_fovWidth, m_fovHeight,
                         kFrameBufferLimit,
                         GetFrameBufferMode(static_cast<unsigned>(param->transferMode)));
    if (r != CAMERA_STATUS_SUCCESS) return r;
    return WriteSensorRegs(kClosing);
}

// The chip's window: widths on a 24-column grid (at least 360), rows in steps of 4 from row 176
// with at least 372 + 20 of them read.
int CIMX335::WriteWindow() {
    const uint32_t x = m_fpgaOffsetX, y = m_fpgaOffsetY, w = m_fovWidth, h = m_fovHeight;
    const uint32_t wide = w <= 311 ? 360 : w > 799 ? w + 24 - w % 24 : w + 48 - w % 24;
    const uint32_t top = 2 * (y & ~3u) + 176;
    const uint32_t rows = std::max(h, 372u) + 20;
    const uint32_t v = 2 * (rows & ~3u);
    const uint32_t end = std::min(top + v + 208, 4172u);
    const bool low = top >= 276;
    RegList list;
    list.Add(0x3018, 4).Add(0x302C, x & 0xFF).Add(0x302D, x >> 8);
    list.Add(0x302E, wide & 0xFF).Add(0x302F, wide >> 8);
    list.Add(0x3056, rows & 0xFC).Add(0x3057, (rows >> 8) & 0x7F);
    list.Add(0x3074, top & 0xFF).Add(0x3075, top >> 8).Add(0x3076, v & 0xFF).Add(0x3077, v >> 8);
    list.Add(0x30D8, end & 0xFF).Add(0x30D9, end >> 8);
    list.Add(0x30C6, low ? 0x12 : 0).Add(0x30C7, 0).Add(0x30CE, low ? 0x64 : 0).Add(0x30CF, 0);
    return WriteRegs(list);
}

// ---- Timing ------------------------------------------------------------------------------------

int CIMX335::SetFrameSpeed(int speed) {
    if (!InitServed()) return CAMERA_STATUS_NOT_SUPPORTED;
    if (speed < 0 || speed > 2) return CAMERA_STATUS_PARAMETER_INVALID;
    const int hw = GetHardwareType();
    const bool fpgaTimed = FpgaTimed();
    const bool twelveBit = m_bitMode == 32;
    uint32_t line = 0, frame = 0;
    switch (hw) {
        case 110:
            line = fpgaTimed ? 100 : 275;
            frame = m_height * 4500 / 1944;
            if (twelveBit) line *= 2;
            break;
        case 106:
            line = m_channelCount == 1 ? (twelveBit ? 616 : 308) : m_channelCount == 2 ? 420 : 550;
            frame = m_height * 4024 / 1944;
            break;
        case 201:
        case 205:
            line = fpgaTimed ? 152 : 418;
            frame = m_height * 4024 / 1944;
            if (twelveBit) frame *= 2;
            break;
        case 306:
            line = fpgaTimed ? 1422 : 550;
            frame = m_fovHeight * 4500 / 1944;
            if (twelveBit) frame *= 2;
            break;
        default:  // 9
            line = twelveBit ? (fpgaTimed ? 3102 : 1200) : (fpgaTimed ? 1422 : 550);
            frame = m_fovHeight * 4500 / 1944;
            break;
    }
    frame *= speed == 0 ? 3 : speed == 1 ? 2 : 1;
    if (!fpgaTimed) {
        const int r = WriteRegs(RegList().Add(kVmax, frame).Add(kHmax, line));
        if (r != CAMERA_STATUS_SUCCESS) return r;
    }
    m_frameSpeed = static_cast<uint32_t>(speed);
    m_lineLength = line;
    m_frameLength = frame;
    m_longExposure = false;
    RecomputeTiming(m_pixelClock);
    return CAMERA_STATUS_SUCCESS;
}

// ---- Exposure ----------------------------------------------------------------------------------

int CIMX335::SetExposureLines(uint32_t lines) {
    if (FpgaTimed()) return FpgaTimedExposure(lines);
    lines = std::min(lines, kMaxLines);
    RecordExposureLines(lines);
    uint32_t inForce = lines;
    const int r = WriteShutter(kShutter, lines, m_frameLength, m_longExposure, &inForce);
    // The 17-bit frame length holds 131062 lines at most.
    if (r == CAMERA_STATUS_SUCCESS) RecordExposureLines(inForce);
    return r;
}

// The FPGA counts the frame: a long exposure is a frame of n + 9 lines with the shutter at 9,
// which exposes n lines. Frames longer than the timing path holds stop there.
int CIMX335::FpgaTimedExposure(uint32_t lines) {
    const uint16_t timingReg = TimingRegister();
    lines = std::clamp(lines, kMinLines, FrameTimingMaxFrame(timingReg) - kShutterMargin);
    const double previousUs = m_expTimeUs;
    int r;
    if (m_frameLength <= lines + kShutterMargin) {
        r = WriteRegs({kRegHold, 1, 0x3058, kShutterMargin, 0x3059, 0, 0x305A, 0, kRegHold, 0});
        if (r == CAMERA_STATUS_SUCCESS)
            r = WriteFrameTiming(lines + kShutterMargin, m_lineLength, timingReg);
        if (r != CAMERA_STATUS_SUCCESS) return r;
        m_longExposure = true;
    } else {
        if (m_longExposure) {
            r = WriteFrameTiming(m_frameLength, m_lineLength, timingReg);
            if (r != CAMERA_STATUS_SUCCESS) return r;
            m_longExposure = false;
        }
        const uint32_t s = m_frameLength - lines;
        r = WriteRegs({kRegHold, 1, 0x305A, static_cast<uint16_t>((s >> 16) & 0xF), 0x3059,
                       static_cast<uint16_t>((s >> 8) & 0xFF), 0x3058,
                       static_cast<uint16_t>(s & 0xFF), kRegHold, 0});
        if (r != CAMERA_STATUS_SUCCESS) return r;
    }
    // An exposure longer than 2 s still running on board 9 is ended at once.
    if (previousUs > kLongPulseAboveUs && GetHardwareType() == kBoardFpgaRegs) {
        WriteFpgaReg(kRegLongPulse9, 8);
        WriteFpgaReg(kRegLongPulse9, 0);
    }
    RecordExposureLines(lines);
    return CAMERA_STATUS_SUCCESS;
}

int CIMX335::SetExposure(double us) {
    return SetExposureLines(LinesForUs(us, kMinLines));
}

// ---- Gain and black level ----------------------------------------------------------------------

int CIMX335::SetAnalogGain(uint32_t gain) {
    gain = std::min(gain, m_param.analogGainMax);
    const uint32_t code = EncodeLogGain(gain, kGainStep).code;
    int r = WriteSensorReg(0x30E8, code & 0xFF);
    if (r == CAMERA_STATUS_SUCCESS) r = WriteSensorReg(0x30E9, (code >> 8) & 1);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_gainReg = code;
    // Below unity the chip stays at unity (code 0); report what is in force.
    m_gain = std::max(gain, 1000u);
    return CAMERA_STATUS_SUCCESS;
}

int CIMX335::SetBlackLevel(uint32_t level) {
    m_blackLevel = level & 0xFF;
    const int r = WriteSensorReg(0x3302, level & 0xFF);
    return r == CAMERA_STATUS_SUCCESS ? WriteSensorReg(0x3303, 0) : r;
}

// ---- Streaming and trigger ---------------------------------------------------------------------

int CIMX335::StreamOn() {
    if (InitServed()) {
        const int r = SetSensorInterface(m_extraBits | WordBits() | kIfRun);
        if (r != CAMERA_STATUS_SUCCESS) return r;
    }
    int r = WriteSensorReg(kRegStandby, 0);
    if (r == CAMERA_STATUS_SUCCESS && !FpgaTimed()) {
        Pause(20);
        r = WriteSensorReg(kRegMaster, 0);
    }
    if (r == CAMERA_STATUS_SUCCESS) m_streaming = true;
    return r;
}

int CIMX335::StreamOff() {
    if (!InitServed()) return CAMERA_STATUS_SUCCESS;
    int r = SetSensorInterface(WordBits() | kIfStop);
    if (r == CAMERA_STATUS_SUCCESS) r = WriteSensorReg(kRegStandby, 1);
    if (r == CAMERA_STATUS_SUCCESS && !FpgaTimed()) r = WriteSensorReg(kRegMaster, 1);
    if (r == CAMERA_STATUS_SUCCESS) m_streaming = false;
    return r;
}

int CIMX335::SetTriggerMode(int mode) {
    return InitServed() ? ApplyTriggerControl(mode) : CAMERA_STATUS_SUCCESS;
}

int CIMX335::SoftTrigger() {
    if (InitServed()) SendSoftTrigger();
    return CAMERA_STATUS_SUCCESS;
}

// ---- Image and capability ----------------------------------------------------------------------

int CIMX335::GetImageInfo(stImageInfo* info) {
    const int r = CSensorBase::GetImageInfo(info);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    info->iWidth = m_channelCount * m_width;
    const bool oneByte = CAMERA_MEDIA_TYPE_BITS(m_pixelFormat) == 8;
    info->TotalBytes = info->iWidth * m_height * (oneByte ? 1 : 2);
    return CAMERA_STATUS_SUCCESS;
}

void CIMX335::GetCapability(SensorCapability& cap) {
    const bool mono = m_sensorType == SENSOR_TYPE_IMX335M || m_sensorType == SENSOR_TYPE_IMX335M_B;
    const int hw = GetHardwareType();
    cap.isMono = mono ? 1 : 0;
    cap.driverWord = 1;
    cap.defaultResolutionIndex = 11;  // "2592X1944"
    cap.presetMask = uint64_t{1} << 11;
    if (hw == kBoardFpgaRegs) cap.presetMask |= uint64_t{1} << kPresetSkip;
    if (mono) {
        cap.defaultRedGain = cap.defaultGreenGain = cap.defaultBlueGain = 100;
    } else {
        cap.defaultRedGain = 172;
        cap.defaultGreenGain = 100;
        cap.defaultBlueGain = 187;
    }
    const bool served = FindBoard(kBoards, hw) != nullptr;
    SetFormats8Or12(cap, mono, served);
}
