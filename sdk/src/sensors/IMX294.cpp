#include "IMX294.h"

#include <algorithm>
#include <array>
#include <iterator>

#include "common/Log.h"
#include "SensorFactory.h"

using namespace sensor;

namespace {

constexpr uint32_t kFullHeight = 2822;
constexpr uint16_t kRegHold = 0x302B;  // 1 holds the writes until 0
constexpr uint32_t kMinLines = 4;
constexpr uint32_t kFrameMargin = 25;        // the shortest shutter start, in lines
constexpr double kLongExposureUs = 1000000;  // from here the host times the exposure
constexpr uint32_t kFrameLength = 1446;
constexpr uint32_t kLineLength8 = 874;
constexpr uint32_t kLineLength12 = 1022;

// clang-format off
constexpr uint16_t kStart[] = {0x3033, 0x10,  0x303C, 0x02};
constexpr uint16_t kDrive[] = {
    0x3111, 0x00,  0x31E8, 0xF0,  0x31E9, 0x00,  0x3122, 0x02,  0x3129, 0x90,  0x312A, 0x02,
    0x311F, 0x00,  0x3123, 0x01,  0x3124, 0x00,  0x3125, 0x01,  0x3127, 0x02,  0x312D, 0x02,
    0x3AC4, 0x01,
};
constexpr uint16_t kThree[] = {kRegHold, 0x01,  0x3042, 0x08,  kRegHold, 0x00};
// Taken out of standby after every window change: the chip restarts its readout.
constexpr uint16_t kStreamStart[] = {
    0x3000, 0x01,  0x3033, 0x10,  0x303C, 0x02,  0x3000, 0x12,  0x310B, 0x00,  kPauseReg, 20,
    0x3000, 0x02,  0x35E5, 0x9A,  0x3000, 0x00,  kPauseReg, 15,  0x3033, 0x10,
};

// ---- Chip maker's settings ------------------------------------------------------------------
// QV_MAKER_ROW rows are placeholders for values the chip maker supplies (see SensorTables.h).

// Initialisation, 174 rows: 4 known, 166 from the maker, 4 known.
constexpr uint16_t kInit[] = {
    0x3000, 0x12,  0x310B, 0x00,  0x3134, 0x77,  0x3135, 0x00,
    QV_MAKER_ROWS_32, QV_MAKER_ROWS_32, QV_MAKER_ROWS_32, QV_MAKER_ROWS_32, QV_MAKER_ROWS_32,
    QV_MAKER_ROWS_4, QV_MAKER_ROWS_2,
    0x3A3B, 0x00,  0x3010, 0x00,  0x3011, 0x00,  0x3146, 0x00,
};
// Readout modes, 30 rows each in two held groups: 8-bit (A) and 10/12-bit (B). The rows that
// differ between them are known; 7 + 9 rows are the maker's.
constexpr uint16_t kReadoutA[] = {
    kRegHold, 0x01,  0x3005, 0x06,  0x3068, 0x1A,
    0x3084, 0x40,  0x3085, 0x0A,  0x3086, 0x40,  0x3087, 0x0A,
    QV_MAKER_ROWS_4, QV_MAKER_ROWS_2, QV_MAKER_ROW,  kRegHold, 0x00,
    kRegHold, 0x01,  0x357F, 0x0C,  0x3580, 0x0A,  0x3581, 0x08,  0x3582, 0x72,
    QV_MAKER_ROWS_8, QV_MAKER_ROW,  kRegHold, 0x00,
};
constexpr uint16_t kReadoutB[] = {
    kRegHold, 0x01,  0x3005, 0x0B,  0x3068, 0x44,
    0x3084, 0xFB,  0x3085, 0x0B,  0x3086, 0xFB,  0x3087, 0x0B,
    QV_MAKER_ROWS_4, QV_MAKER_ROWS_2, QV_MAKER_ROW,  kRegHold, 0x00,
    kRegHold, 0x01,  0x357F, 0x0A,  0x3580, 0x09,  0x3581, 0x07,  0x3582, 0x51,
    QV_MAKER_ROWS_8, QV_MAKER_ROW,  kRegHold, 0x00,
};
// clang-format on
static_assert(std::size(kDrive) == 2 * 13 && std::size(kStreamStart) == 2 * 11);
static_assert(std::size(kInit) == 2 * 174);
static_assert(std::size(kReadoutA) == 2 * 30 && std::size(kReadoutB) == 2 * 30);

constexpr CIMX294Family::Chip kChip{
    .instanceName = "IMX294",
    .kind = "CMOS_10M",
    .auxValue = 28,
    .busAddress = 0x34,
    .defaultIndex = 28,  // "4144X2822"
    .fullWidth = 4144,
    .fullHeight = kFullHeight,
    .gainMax = 179000,
    .expLinesMax = 22576,
    .gainScale = 2048,
    .gainCap = 0xFFFFFFFF,
    .columnAdd = 48,
    .rowAdd = 0,
    .cycle = {.exposureReg = 0x3111, .onValue = 1, .offValue = 0, .bitsBeforeOff = false},
};

}  // namespace

CIMX294::CIMX294(SensorTypeE type, imginf* inf) : CIMX294Family(type, inf, kChip) {
    m_inputClock = 24000000;
}

int CIMX294::GetSensorInfo(SensorTypeE type, SensorInfo* info) {
    return FillSensorInfo("CIMX294", type, info);
}

int CIMX294::Probe(SensorTypeE type, imginf* inf) {
    (void)type, (void)inf;
    return CAMERA_STATUS_SUCCESS;
}

int CIMX294::Init(CameraInitParam* param) {
    if (param == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    // A cycle of the stream before ends first: its steps must not write into the reset.
    m_cycle.Close();
    int r = Reset();
    if (r != CAMERA_STATUS_SUCCESS) return r;
    // Board 107's FPGA is not loaded again while configured: a process that ended during a long
    // exposure has left its word (and the chip's register) on, and every frame would wait for
    // a read-out pulse that never comes.
    m_cycle.Open(GetHardwareType() == 107);
    SetPixelFormat(param->mediaType);
    SetResolution(&param->resolution);
    ApplyWindow();
    m_streaming = false;
    m_ifMode = m_bitMode == 32 ? 3 : 0;
    m_inputClock = GetHardwareType() == 107 ? 24000000 : 21600000;
    Pause(10);
    if ((r = SetSensorInterface(WordBits() | kIfSetup)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = SetTriggerControl(0, 0, 1, 0)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = WriteSensorRegs(kStart)) != CAMERA_STATUS_SUCCESS) return r;
    Pause(20);
    if ((r = WriteSensorRegs(kDrive)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = WriteSensorRegs(kInit)) != CAMERA_STATUS_SUCCESS) return r;
    Pause(150);
    if ((r = WriteSensorRegs(kThree)) != CAMERA_STATUS_SUCCESS) return r;
    const bool wide = m_ifMode == 3;
    if (WriteSensorRegs(wide ? std::span<const uint16_t>(kReadoutB)
                             : std::span<const uint16_t>(kReadoutA)) == CAMERA_STATUS_SUCCESS) {
        m_fpgaOffsetX = 48;
        m_fpgaOffsetY = 0;
        m_lineLength = wide ? kLineLength12 : kLineLength8;
        m_frameLength = kFrameLength;
    }
    // Not checked: Init goes on with what the chip took.
    SetAnalogGain(1000);
    SetExposureLines(1);
    WriteWindow();
    SetFrameSpeed(param->frameSpeed);
    Pause(150);
    if ((r = WriteImageTiming(m_frameLength, m_lineLength)) != CAMERA_STATUS_SUCCESS) return r;
    return SetupImageWindow(m_fpgaOffsetX, m_fpgaOffsetY, m_width, m_height, m_width, m_height,
                            kFrameBufferLimit,
                            GetFrameBufferMode(static_cast<unsigned>(param->transferMode)));
}

int CIMX294::WriteWindow() {
    const uint32_t x = m_windowX, w = m_width, h = m_height;
    // The full height is read from its first row; shorter windows sit in the middle.
    const uint32_t y = h == kFullHeight ? 0 : m_windowY;
    const uint32_t centre = h == kFullHeight ? 0 : (kFullHeight - std::min(h, kFullHeight)) / 2;
    RegList first;
    first.Add(kRegHold, 1).Add(0x3035, 1).Add(0x30DD, 1);
    first.Add(0x3036, x & 0xFF).Add(0x3037, (x >> 8) & 0xFF);
    first.Add(0x3038, (x + w) & 0xFF).Add(0x3039, ((x + w) >> 8) & 0xFF);
    first.Add(0x30E0, y & 0xFF).Add(0x30E1, (y >> 8) & 0xFF);
    first.Add(0x30DE, centre & 0xFF).Add(0x30DF, (centre >> 8) & 0xFF);
    first.Add(kRegHold, 0);
    int r = WriteRegs(first);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    RegList second;
    second.Add(kRegHold, 1);
    second.Add(0x3130, (h + 62) & 0xFF).Add(0x3131, ((h + 62) >> 8) & 0xFF);
    second.Add(0x3132, (h + 46) & 0xFF).Add(0x3133, ((h + 46) >> 8) & 0xFF);
    second.Add(kRegHold, 0);
    if ((r = WriteRegs(second)) != CAMERA_STATUS_SUCCESS) return r;
    return WriteSensorRegs(kStreamStart);
}

int CIMX294::SetRoiOffset(int x, int y) {
    m_resolution.iOffsetX = x;
    m_resolution.iOffsetY = y;
    ApplyWindow();
    return CAMERA_STATUS_SUCCESS;
}

// The FPGA holds the frame: lines + 25 when the frame in force is too short. Board 201's timing
// path holds 16 bits of frame length, so its exposures stop at 65510 lines (about 2.65 s) and
// report that.
int CIMX294::SetExposureLines(uint32_t lines) {
    qv::Log("explines:%d\n", static_cast<int>(lines));
    lines = std::max(lines, kMinLines);
    uint32_t frame = m_frameLength, shutter;
    if (static_cast<uint64_t>(lines) + kFrameMargin <= m_frameLength) {
        shutter = m_frameLength - lines;
    } else {
        frame =
            static_cast<uint32_t>(std::min<uint64_t>(uint64_t{lines} + kFrameMargin, 0xFFFFFFFFu));
        shutter = kFrameMargin;
    }
    uint32_t frameInForce = frame;
    int r = WriteImageTiming(frame, m_lineLength, &frameInForce);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (frameInForce < frame) lines = frameInForce - kFrameMargin;
    const double expUs = lines * m_lineTimeNs / 1000.0;
    const bool longExposure = expUs >= kLongExposureUs;
    // clang-format off
    const std::array<uint16_t, 28> list = longExposure ? std::array<uint16_t, 28>{
        kRegHold, 1,  0x302C, 0x19,  0x302D, 0x00,  0x332C, 0xFE,  0x332D, 0xFF,  0x334A, 0xFE,
        0x334B, 0xFF,  0x35B6, 0xFE,  0x35B7, 0xFF,  0x35B8, 0xF9,  0x35B9, 0xFF,  0x36BC, 0xFE,
        0x36BD, 0xFF,  kRegHold, 0} : std::array<uint16_t, 28>{
        kRegHold, 1,  0x302C, static_cast<uint16_t>(shutter & 0xFF),
        0x302D, static_cast<uint16_t>((shutter >> 8) & 0xFF),  0x332C, 0xFF,  0x332D, 0x00,
        0x334A, 0xFF,  0x334B, 0x00,  0x35B6, 0xFF,  0x35B7, 0x00,  0x35B8, 0xFA,  0x35B9, 0x00,
        0x36BC, 0xFF,  0x36BD, 0x00,  kRegHold, 0};
    // clang-format on
    if ((r = WriteSensorRegs(std::span<const uint16_t>(list))) != CAMERA_STATUS_SUCCESS) return r;
    RecordExposureLines(lines);
    if (longExposure)
        m_cycle.Start(CLongExposureCycle::kReadOutMs, ExposureMs());
    else
        m_cycle.Stop();
    return CAMERA_STATUS_SUCCESS;
}

// Board 201's 16-bit frame length holds exposures up to 65510 lines: the range says so.
int CIMX294::SetFrameSpeed(int speed) {
    const int r = CIMX294Family::SetFrameSpeed(speed);
    if (r == CAMERA_STATUS_SUCCESS && GetHardwareType() != 107)
        m_param.expLinesMax = std::min(m_param.expLinesMax, kImageTimingMaxFrame - kFrameMargin);
    return r;
}

int CIMX294::SetAnalogGain(uint32_t gain) {
    const InverseGainCode code = EncodeGain(gain);
    const uint16_t a = static_cast<uint16_t>(code.code);
    const int r = WriteSensorRegs({kRegHold, 1, 0x3092, 1, 0x300A, static_cast<uint16_t>(a & 0xFF),
                                   0x300B, static_cast<uint16_t>((a >> 8) & 7), 0x3012,
                                   static_cast<uint16_t>(code.digitalStep), kRegHold, 0});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_gainReg = a;
    m_gain = code.gainMilli;
    return CAMERA_STATUS_SUCCESS;
}

int CIMX294::WriteStandby() {
    return WriteSensorReg(0x3000, 0x1B);
}

bool CIMX294::CycleRunning() {
    return m_cycle.Running();
}

int CIMX294::SoftTriggerPeriod() {
    return m_cycle.Running() ? CLongExposureCycle::kReadOutMs : -1;
}
