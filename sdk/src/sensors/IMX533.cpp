#include "IMX533.h"

#include <algorithm>
#include <iterator>

#include "common/Log.h"
#include "SensorFactory.h"

using namespace sensor;

namespace {

constexpr uint32_t kMinLines = 4;
constexpr uint32_t kShutterMargin = 4;
constexpr uint32_t kMaxFrameCount = 16383;  // the FPGA frame length of a multiplied frame
constexpr uint32_t kFrameLength = 3049;
constexpr uint32_t kLineLength = 1188;

// clang-format off
constexpr uint16_t kShutterReset[] = {
    0x0012, 0x00,  0x0013, 0x00,  0x0014, 0x00,  0x0015, 0x00,  0x0016, 0xF1,  0x0017, 0x05,
};
constexpr uint16_t kWake[] = {0x0000, 0x01,  0x019E, 0x01,  0x0000, 0x00};

// ---- Chip maker's settings ------------------------------------------------------------------
// QV_MAKER_ROW rows are placeholders for values the chip maker supplies (see SensorTables.h).

// Four lists, in Init's order: 23 rows (4 known, 19 from the maker), 25 (1 known, 23 from the
// maker, 1 known), 74 (2 known, 70 from the maker, 2 known) and 11 (5 known, 6 from the maker).
constexpr uint16_t kInit1[] = {
    0x019E, 0x01,  0x0133, 0x8D,  0x0368, 0xE1,  0x0000, 0x04,
    QV_MAKER_ROWS_16, QV_MAKER_ROWS_2, QV_MAKER_ROW,
};
constexpr uint16_t kInit2[] = {
    0x0040, 0x0A,
    QV_MAKER_ROWS_16, QV_MAKER_ROWS_4, QV_MAKER_ROWS_2, QV_MAKER_ROW,
    0x00AE, 0x01,
};
constexpr uint16_t kInit3[] = {
    0x0001, 0x40,  0x0025, 0x0A,
    QV_MAKER_ROWS_32, QV_MAKER_ROWS_32, QV_MAKER_ROWS_4, QV_MAKER_ROWS_2,
    0x0A36, 0x73,  0x00AE, 0x01,
};
constexpr uint16_t kInit4[] = {
    0x0016, 0xF1,  0x0017, 0x05,  0x0030, 0x00,  0x0031, 0x00,  0x003E, 0x00,
    QV_MAKER_ROWS_4, QV_MAKER_ROWS_2,
};
// clang-format on
static_assert(std::size(kInit1) == 2 * 23 && std::size(kInit2) == 2 * 25);
static_assert(std::size(kInit3) == 2 * 74 && std::size(kInit4) == 2 * 11);
static_assert(std::size(kShutterReset) == 2 * 6);

// The exposure register is 0x019E = 4 while exposing; off is 1, as the chip's own start (wake
// list) leaves it, both when the cycle stops and between its exposures.
constexpr CIMX294Family::Chip kChip{
    .instanceName = "IMX533",
    .kind = "CMOS_9M",
    .auxValue = 25,
    .busAddress = 0x81,
    .defaultIndex = 25,  // "3008X3008"
    .fullWidth = 3008,
    .fullHeight = 3008,
    .gainMax = 256000,
    .expLinesMax = 24064,
    .gainScale = 4095,
    .gainCap = 128000,  // x8 digital and 15/16 of the analog range
    .columnAdd = 0,
    .rowAdd = 15,
    .cycle = {.exposureReg = 0x019E, .onValue = 4, .offValue = 1, .bitsBeforeOff = true},
};

}  // namespace

CIMX533::CIMX533(SensorTypeE type, imginf* inf) : CIMX294Family(type, inf, kChip) {
    m_inputClock = 72000000;
}

int CIMX533::GetSensorInfo(SensorTypeE type, SensorInfo* info) {
    return FillSensorInfo("CIMX533", type, info);
}

int CIMX533::Probe(SensorTypeE type, imginf* inf) {
    (void)type, (void)inf;
    return CAMERA_STATUS_SUCCESS;
}

int CIMX533::Init(CameraInitParam* param) {
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
    // The shutter reset below leaves the chip's own shutter in force, whatever the last stream
    // ran: the next exposure programs its way from there.
    m_longExpMode = 0;
    m_ifMode = 3;
    m_inputClock = 72000000;
    Pause(10);
    if ((r = SetSensorInterface(WordBits() | kIfSetup)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = SetTriggerControl(0, 0, 1, 0)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = WriteSensorRegs(kInit1)) != CAMERA_STATUS_SUCCESS) return r;
    Pause(140);
    if ((r = WriteSensorRegs(kInit2)) != CAMERA_STATUS_SUCCESS) return r;
    Pause(20);
    if ((r = WriteSensorRegs(kInit3)) != CAMERA_STATUS_SUCCESS) return r;
    Pause(10);
    if ((r = WriteSensorRegs(kInit4)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = WriteSensorReg(0x00, 1)) != CAMERA_STATUS_SUCCESS) return r;
    Pause(5);
    WriteWindow();  // Init goes on with the chip's own window
    m_lineLength = kLineLength;
    m_frameLength = kFrameLength;
    if ((r = WriteSensorRegs(kShutterReset)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = WriteSensorRegs(kWake)) != CAMERA_STATUS_SUCCESS) return r;
    SetFrameSpeed(param->frameSpeed);
    if ((r = WriteImageTiming(m_frameLength, m_lineLength)) != CAMERA_STATUS_SUCCESS) return r;
    return SetupImageWindow(1, 18, m_width, m_height, m_width, m_height, kFrameBufferLimit,
                            GetFrameBufferMode(static_cast<unsigned>(param->transferMode)));
}

int CIMX533::WriteWindow() {
    const uint32_t x = m_windowX, y = m_windowY, w = m_width, h = m_height + 2;
    RegList list;
    list.Add(0x0005, 1).Add(0x00A5, 1);
    list.Add(0x00A6, (x >> 4) & 0xFF).Add(0x00A7, (x >> 12) & 1);
    list.Add(0x0006, y & 0xFF).Add(0x0007, (y >> 8) & 0x3F);
    list.Add(0x0187, 2);
    list.Add(0x018C, w & 0xFF).Add(0x018D, (w >> 8) & 0x7F);
    list.Add(0x0008, h & 0xFF).Add(0x0009, (h >> 8) & 0x3F);
    return WriteRegs(list);
}

// The shortest shutter start (2) of a frame the FPGA stretches, with the chip's frame
// multiplier code: 0 x1, 2 x2, 3 x4.
int CIMX533::WriteLongShutter(uint16_t multiplier) {
    return WriteSensorRegs({0x0016, 2, 0x0017, 0, 0x0012, multiplier, 0x0013, 0});
}

// Three ways to expose: the shutter inside the frame; a frame the FPGA stretches (counted by
// the chip in 1, 2 or 4 frame units of at most 16383 lines); beyond that the host-timed cycle.
int CIMX533::SetExposureLines(uint32_t lines) {
    qv::Log("explines:%d\n", static_cast<int>(lines));
    lines = std::max(lines, kMinLines);
    int r;
    if (uint64_t{lines} + kShutterMargin <= m_frameLength) {
        const uint32_t s = m_frameLength - lines;
        r = WriteSensorRegs({0x0016, static_cast<uint16_t>((s >> 1) & 0xFF), 0x0017,
                             static_cast<uint16_t>((s & 0xFFFF) >> 9), 0x0012, 0, 0x0013, 0});
        if (r != CAMERA_STATUS_SUCCESS) return r;
        // The lines asked: the shutter counts pairs of lines, so an odd start exposes one more.
        RecordExposureLines(lines);
        if (m_longExpMode != 0 &&
            WriteImageTiming(m_frameLength, m_lineLength) == CAMERA_STATUS_SUCCESS) {
            if (m_longExpMode == 2) m_cycle.Stop();
            m_longExpMode = 0;
        }
        return CAMERA_STATUS_SUCCESS;
    }
    const uint64_t t = uint64_t{lines} + kShutterMargin;
    uint16_t code = 0;
    uint64_t frame = t;
    if (t > kMaxFrameCount) {
        code = t / 2 <= kMaxFrameCount ? 2 : 3;
        frame = t / (code == 2 ? 2 : 4);
    }
    if (frame <= kMaxFrameCount) {
        if ((r = WriteImageTiming(static_cast<uint32_t>(frame), m_lineLength)) !=
            CAMERA_STATUS_SUCCESS)
            return r;
        if ((r = WriteLongShutter(code)) != CAMERA_STATUS_SUCCESS) return r;
        // The lines asked: the frame holds whole units, so up to three of them fall off.
        RecordExposureLines(lines);
        if (m_longExpMode == 2) m_cycle.Stop();
        m_longExpMode = 1;
        return CAMERA_STATUS_SUCCESS;
    }
    RecordExposureLines(lines);
    if (m_longExpMode == 2) {
        m_cycle.Start(CLongExposureCycle::kReadOutMs, ExposureMs());
        return CAMERA_STATUS_SUCCESS;
    }
    if ((r = WriteImageTiming(m_frameLength, m_lineLength)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = WriteLongShutter(0)) != CAMERA_STATUS_SUCCESS) return r;
    m_cycle.Start(CLongExposureCycle::kReadOutMs, ExposureMs());
    m_longExpMode = 2;
    return CAMERA_STATUS_SUCCESS;
}

// Registers 0x003E (digital step x16), 0x0031 and 0x0030 (the analog code), each write only when
// the one before it was taken.
int CIMX533::SetAnalogGain(uint32_t gain) {
    const InverseGainCode code = EncodeGain(gain);
    int r = WriteSensorReg(0x003E, static_cast<uint16_t>(16 * code.digitalStep));
    if (r == CAMERA_STATUS_SUCCESS) r = WriteSensorReg(0x0031, (code.code >> 8) & 0x0F);
    if (r == CAMERA_STATUS_SUCCESS) r = WriteSensorReg(0x0030, code.code & 0xFF);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_gainReg = code.code & 0xFFFF;
    m_gain = code.gainMilli;
    return CAMERA_STATUS_SUCCESS;
}

int CIMX533::WriteStandby() {
    return WriteSensorReg(0x0000, 1);
}

bool CIMX533::CycleRunning() {
    return m_longExpMode == 2;
}

int CIMX533::SoftTriggerPeriod() {
    return m_longExpMode == 2 ? ExposureMs() : -1;
}
