#include "IMX577.h"

#include <algorithm>
#include <iterator>

#include "common/Log.h"
#include "SensorFactory.h"

using namespace sensor;

namespace {

constexpr uint16_t kRegHold = 0x0104;  // 1: the registers below wait for 0
constexpr uint16_t kRegMode = 0x0100;  // 1: streaming
constexpr uint32_t kFrameMargin = 20;  // a frame holds at most its length - 20 lines
constexpr uint32_t kMaxLines = 65505;  // its frame of n + 20 lines fits the 16-bit length
constexpr double kExposureOffsetLines = 0.429;

// Analog gain: code a gives 1024 / (1024 - a), at most 978 (x22.26); the digital code d gives
// d / 256, from 256 to 4057.
constexpr int kAnalogMax = 978;
constexpr int kDigitalMin = 256;
constexpr int kDigitalMax = 4057;

// clang-format off
constexpr uint16_t kClock[] = {
    0x0301, 5,  0x0303, 2,  0x0305, 4,  0x0306, 0,  0x0307, 0xAF,  0x030B, 1,  0x030D, 2,
    0x030E, 0,  0x030F, 0xAF,  0x0310, 0,
};
constexpr uint16_t kClosing[] = {
    0x0204, 0,  0x0205, 0,  0x020E, 1,  0x020F, 0,  0x0210, 1,  0x0211, 0,  0x0212, 1,
    0x0213, 0,  0x0214, 1,  0x0215, 0,  0x0202, 0,  0x0203, 0x10,
};

// ---- Chip maker's settings ------------------------------------------------------------------
// QV_MAKER_ROW rows are placeholders for values the chip maker supplies (see SensorTables.h).

// Main settings, 112 rows: the first 2 and the last known, 109 from the maker.
constexpr uint16_t kMain[] = {
    0x0136, 0x18,  0x0137, 0,
    QV_MAKER_ROWS_32, QV_MAKER_ROWS_32, QV_MAKER_ROWS_32, QV_MAKER_ROWS_8, QV_MAKER_ROWS_4,
    QV_MAKER_ROW,
    0x5078, 1,
};
// Mode lists of 12-bit and 8-bit output, 68 rows each: the six rows that differ between them
// (the data format and three analog settings) first, 62 rows from the maker.
constexpr uint16_t kMode12[] = {
    0x0112, 0x0C,  0x0113, 0x0C,  0x0309, 0x0C,  0x3F0D, 1,  0x3F4B, 0x85,  0x3F57, 0xB2,
    QV_MAKER_ROWS_32, QV_MAKER_ROWS_16, QV_MAKER_ROWS_8, QV_MAKER_ROWS_4, QV_MAKER_ROWS_2,
};
constexpr uint16_t kMode8[] = {
    0x0112, 0x0A,  0x0113, 0x0A,  0x0309, 0x0A,  0x3F0D, 0,  0x3F4B, 0xBF,  0x3F57, 0x82,
    QV_MAKER_ROWS_32, QV_MAKER_ROWS_16, QV_MAKER_ROWS_8, QV_MAKER_ROWS_4, QV_MAKER_ROWS_2,
};
// clang-format on
static_assert(std::size(kClock) == 2 * 10 && std::size(kClosing) == 2 * 12);
static_assert(std::size(kMain) == 2 * 112);
static_assert(std::size(kMode12) == 2 * 68 && std::size(kMode8) == 2 * 68);

uint16_t Hi(uint32_t v) {
    return static_cast<uint16_t>((v >> 8) & 0xFF);
}
uint16_t Lo(uint32_t v) {
    return static_cast<uint16_t>(v & 0xFF);
}

constexpr CIMX377Family::Chip kChip{"IMX577", 420000000, 28, 20, 1, 0};

}  // namespace

CIMX577::CIMX577(SensorTypeE type, imginf* inf) : CIMX377Family(type, inf, kChip) {
    SetPixelFormat(kBayerGR8);
}

int CIMX577::GetSensorInfo(SensorTypeE type, SensorInfo* info) {
    return FillSensorInfo("CIMX577", type, info);
}

int CIMX577::Probe(SensorTypeE type, imginf* inf) {
    (void)type, (void)inf;
    return CAMERA_STATUS_SUCCESS;
}

// ---- Init --------------------------------------------------------------------------------------

int CIMX577::WriteChipTables() {
    int r = WriteSensorRegs(kMain);
    if (r == CAMERA_STATUS_SUCCESS) r = WriteSensorRegs(kClock);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    WriteSensorRegs(m_lowBit != 0 ? std::span<const uint16_t>(kMode8)
                                  : std::span<const uint16_t>(kMode12));  // not checked
    return CAMERA_STATUS_SUCCESS;
}

int CIMX577::WriteWindow() {
    const uint32_t x = m_fpgaOffsetX, y = m_fpgaOffsetY;
    const uint32_t w2 = m_fovWidth + 2, h = m_fovHeight;
    const uint32_t xe = x + w2 - 1, ye = y + h - 1;
    RegList list;
    list.Add(0x0344, Hi(x)).Add(0x0345, Lo(x)).Add(0x0346, Hi(y)).Add(0x0347, Lo(y));
    list.Add(0x0348, Hi(xe)).Add(0x0349, Lo(xe)).Add(0x034A, Hi(ye)).Add(0x034B, Lo(ye));
    list.Add(0x0401, 0).Add(0x0404, 0).Add(0x0405, 0x10);
    list.Add(0x0408, 0).Add(0x0409, 0).Add(0x040A, 0).Add(0x040B, 0);
    list.Add(0x040C, Hi(w2)).Add(0x040D, Lo(w2)).Add(0x040E, Hi(h)).Add(0x040F, Lo(h));
    list.Add(0x034C, Hi(w2)).Add(0x034D, Lo(w2)).Add(0x034E, Hi(h)).Add(0x034F, Lo(h));
    WriteRegs(list);  // not checked: Init goes on with the window the chip has
    return CAMERA_STATUS_SUCCESS;
}

int CIMX577::WriteClosing() {
    return WriteSensorRegs(kClosing);
}

// ---- Timing and exposure -----------------------------------------------------------------------

bool CIMX577::BaseLengths(int hw, int speed, uint32_t& lineLength, uint32_t& frameLength) {
    (void)hw, (void)speed;
    const bool twelveBit = m_bitMode == 32;
    lineLength = twelveBit ? 6224 : 4512;
    frameLength = twelveBit ? 3364 : 3102;
    return true;
}

int CIMX577::WriteLengths(uint32_t lineLength, uint32_t frameLength) {
    const int r = WriteRegs({0x0341, Lo(frameLength), 0x0340, Hi(frameLength), 0x3210, 0, 0x0343,
                             Lo(lineLength), 0x0342, Hi(lineLength)});
    if (r == CAMERA_STATUS_SUCCESS) m_longExposure = false;
    return r;
}

int CIMX577::SetExposureLines(uint32_t lines) {
    qv::Log("explines:%d\n", static_cast<int>(lines));
    lines = std::clamp(lines, 1u, kMaxLines);
    m_expLines = lines;
    int r;
    if (lines + kFrameMargin > m_frameLength) {
        const uint32_t frame = lines + kFrameMargin;
        r = WriteRegs({kRegHold, 1, 0x0202, Hi(lines), 0x0203, Lo(lines), 0x0341, Lo(frame), 0x0340,
                       Hi(frame), kRegHold, 0});
        if (r != CAMERA_STATUS_SUCCESS) return r;
        m_longExposure = true;
    } else {
        if ((r = WriteSensorReg(kRegHold, 1)) != CAMERA_STATUS_SUCCESS) return r;
        if (m_longExposure) {
            r = WriteRegs({0x0341, Lo(m_frameLength), 0x0340, Hi(m_frameLength)});
            if (r != CAMERA_STATUS_SUCCESS) return r;
            m_longExposure = false;
        }
        if ((r = WriteRegs({0x0202, Hi(lines), 0x0203, Lo(lines)})) != CAMERA_STATUS_SUCCESS)
            return r;
        if ((r = WriteSensorReg(kRegHold, 0)) != CAMERA_STATUS_SUCCESS) return r;
    }
    m_expTimeUs = m_expLines * m_lineTimeNs / 1000.0;
    return CAMERA_STATUS_SUCCESS;
}

// The exposure register counts from 0.429 lines after the line start.
int CIMX577::SetExposure(double us) {
    double n = m_lineTimeNs > 0 ? us * 1000.0 / m_lineTimeNs - kExposureOffsetLines : 0.0;
    n = std::clamp(n, 0.0, 4294967295.0);
    return SetExposureLines(static_cast<uint32_t>(n));
}

int CIMX577::SetAnalogGain(uint32_t gain) {
    gain = std::clamp(gain, m_param.analogGainMin, m_param.analogGainMax);
    const double x = gain / 1000.0;
    const int a = std::min(static_cast<int>(1024 - 1024 / x), kAnalogMax);
    const double analog = 1024.0 / (1024 - a);
    const int d = std::clamp(static_cast<int>(x / analog * 256), kDigitalMin, kDigitalMax);
    const auto inForce = static_cast<uint32_t>(d / 256.0 * analog * 1000);
    const auto ua = static_cast<uint32_t>(a), ud = static_cast<uint32_t>(d);
    const int r = WriteRegs(
        {kRegHold, 1, 0x0204, Hi(ua), 0x0205, Lo(ua), 0x020E, Hi(ud), 0x020F, Lo(ud), kRegHold, 0});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_gain = inForce;
    return CAMERA_STATUS_SUCCESS;
}

// ---- Streaming ---------------------------------------------------------------------------------

int CIMX577::StartChip() {
    return WriteSensorReg(kRegMode, 1);
}

int CIMX577::StopChip(bool onBoard) {
    (void)onBoard;
    return WriteSensorReg(kRegMode, 0);
}
