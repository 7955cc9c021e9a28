#include "AR052x.h"

#include <iterator>

#include "SensorFactory.h"

using namespace sensor;

namespace {

constexpr BoardReset kBoards[] = {{201, FpgaBitReset()}, {9, GpioReset(23)}};
constexpr int kFpgaGroup[] = {201, 9};
constexpr CAptinaSensor::Chip kChip{kBoards, false, {0x6C, kReg16Data16, 20}, kFpgaGroup, 0x3012};

constexpr uint32_t kModelLineLength = 8000;
constexpr uint32_t kModelFrameLength = 2346;

// clang-format off
// PLL settings of board 201 (0x0306 = 0x7059, multiplier 112) and board 9 (0x3227, 50).
constexpr uint16_t kPll201[] = {
    0x0304, 0x0303,  0x0306, 0x7059,  0x0302, 0x0001,  0x030A, 0x0001,  0x0300, 0x0006,
    0x0308, 0x000C,  0x3016, 0x0111,
};
constexpr uint16_t kPll9[] = {
    0x0304, 0x0303,  0x0306, 0x3227,  0x0302, 0x0001,  0x030A, 0x0001,  0x0300, 0x0006,
    0x0308, 0x000C,  0x3016, 0x0111,
};
constexpr uint16_t kInterface[] = {
    0x31B0, 0x0058,  0x31B2, 0x002C,  0x31B4, 0x23D2,  0x31B6, 0x13E9,  0x31B8, 0x2413,
    0x31BA, 0x1C68,  0x31BC, 0x860B,  0x0112, 0x0C0C,
};
constexpr uint16_t kInterfaceTiming[] = {
    0x30B0, 0x0028,  0x31B0, 0x005A,  0x31B2, 0x002E,  0x31B4, 0x2633,  0x31B6, 0x210E,
    0x31B8, 0x20C7,  0x31BA, 0x0105,  0x31BC, 0x0004,
};
constexpr uint16_t kClosing[] = {0x30EE, 0x1136,  0x3F2C, 0x442E,  0x3120, 0x0001};

// ---- Chip maker's settings ------------------------------------------------------------------
// QV_MAKER_ROW rows are placeholders for values the chip maker supplies (see SensorTables.h).

// Sequencer, 219 rows into 0x3D00 to 0x3EB4: the first 2 known, 217 from the maker.
constexpr uint16_t kSequencer[] = {
    0x3D00, 0x043E,  0x3D02, 0x4760,
    QV_MAKER_ROWS_32, QV_MAKER_ROWS_32, QV_MAKER_ROWS_32, QV_MAKER_ROWS_32, QV_MAKER_ROWS_32,
    QV_MAKER_ROWS_32, QV_MAKER_ROWS_16, QV_MAKER_ROWS_8, QV_MAKER_ROW,
};
// Analog settings, 24 rows: the first 2 known, 16 from the maker, the last 6 known.
constexpr uint16_t kAnalog[] = {
    0x3EB6, 0x004C,  0x3EBA, 0xAAAA,
    QV_MAKER_ROWS_16,
    0x3EDE, 0xC303,  0x3426, 0x1600,  0x342A, 0x0038,  0x3F3E, 0x0001,  0x341A, 0x6051,
    0x3420, 0x6051,
};
// clang-format on
static_assert(std::size(kSequencer) == 2 * 219 && std::size(kAnalog) == 2 * 24);

}  // namespace

CAR052x::CAR052x(SensorTypeE type, imginf* inf) : CAptinaSensor(type, inf, kChip) {
    m_auxValue = 11;
    m_inputClock = 74250000;
    m_gain = 1000;
    GetSensorInfo(type, &m_info);
    SetLimits({.aeTargetMin = 10,
               .aeTargetMax = 10,
               .gainMax = 10000,
               .expLinesMax = 972,
               .maxWidth = 2592,
               .maxHeight = 1944,
               .reductionModeMask = 1});
    // The mono chips fall back to their first format.
    SetPixelFormat(kBayerGR8);
}

int CAR052x::GetSensorInfo(SensorTypeE type, SensorInfo* info) {
    return FillSensorInfo("CAR052x", type, info);
}

int CAR052x::Probe(SensorTypeE type, imginf* inf) {
    return ProbeIdentity<CAR052x>(type, inf, {kRegIdentity, 0x0457, 0xEFFF});
}

void CAR052x::ApplyWindow() {
    ApplyResolution();
    m_roiMode = 0;
    m_fpgaOffsetX = m_roiX + 4;
    m_fpgaOffsetY = m_roiY + 4;
}

int CAR052x::Init(CameraInitParam* param) {
    if (param == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    if (!InFpgaGroup()) return CAMERA_STATUS_NOT_SUPPORTED;  // before any traffic
    int r = Reset();
    if (r != CAMERA_STATUS_SUCCESS) return r;
    const int hw = GetHardwareType();
    SetPixelFormat(param->mediaType);
    m_ifMode = m_bitMode == 32 || hw == 9 ? 0 : 1;
    uint16_t word = 0;
    if (hw == 201) {
        if ((r = ApplyPll(Pll({18, 1, 2, 2, 24, 12, 4, 27}, 74250000))) != CAMERA_STATUS_SUCCESS)
            return r;
        word = m_ifMode | m_bitMode | 0x04;
    } else {
        m_inputClock = 27000000;
        word = m_ifMode | m_bitMode | 0x44;
    }
    Pause(20);
    m_laneBits = 4;
    if ((r = SetSensorInterface(word)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = SetTriggerControl(0, 0, 1, 0)) != CAMERA_STATUS_SUCCESS) return r;
    SetResolution(&param->resolution);
    ApplyWindow();

    if ((r = WriteSensorReg(kRegControl, 0x0011)) != CAMERA_STATUS_SUCCESS) return r;
    Pause(1);
    if ((r = WriteSensorReg(kRegControl, 0x0010)) != CAMERA_STATUS_SUCCESS) return r;
    Pause(10);
    // Not checked: tables the chip misses leave its defaults.
    WriteSensorRegs(kSequencer);
    WriteSensorRegs(kAnalog);
    WriteSensorRegs(kInterface);
    WriteSensorReg(0x31AE, 0x0204);

    m_lineLength = kModelLineLength;
    m_baseFrameLength = m_frameLength = kModelFrameLength;
    if ((r = SetFrameSpeed(param->frameSpeed)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = WriteSensorRegs(kInterfaceTiming)) != CAMERA_STATUS_SUCCESS) return r;
    // The full field, with the line and frame length the timing model says, so that the frame
    // speed reaches the chip and a later window move changes nothing of its timing.
    RegList window{0x3004, 4, 0x3008, 2603, 0x3002, 4, 0x3006, 1955, 0x034C, 2600, 0x034E, 1952};
    window.Add(0x300C, m_lineLength).Add(0x300A, m_frameLength);
    window.Add(0x3040, 0x0041).Add(0x317A, 0x416E).Add(0x3F3C, 0x0003).Add(0x301E, 0x00A8);
    if ((r = WriteRegs(window)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = WriteSensorRegs(kClosing)) != CAMERA_STATUS_SUCCESS) return r;
    r = SetupImageWindow(0, 0, m_width, m_height, m_width, m_height, kFrameBufferLimit,
                         GetFrameBufferMode(static_cast<unsigned>(param->transferMode)));
    m_gain = 1000;
    RecordExposureLines(m_expLines);
    return r;
}

int CAR052x::Uninit() {
    WriteSensorReg(kRegControl, 0x0058);
    return CAMERA_STATUS_SUCCESS;
}

int CAR052x::SetFrameSpeed(int speed) {
    const int hw = GetHardwareType();
    if (hw != 201 && hw != 9) return CAMERA_STATUS_NOT_SUPPORTED;
    if (speed < 0 || speed > 2) return CAMERA_STATUS_PARAMETER_INVALID;  // nothing written
    const int r = WriteSensorRegs(hw == 201 ? std::span<const uint16_t>(kPll201)
                                            : std::span<const uint16_t>(kPll9));
    if (r != CAMERA_STATUS_SUCCESS) return r;
    const uint32_t multiplier = hw == 201 ? 112 : 50;  // the high byte of 0x0306
    // From the model's frame length, so that speeds never compound.
    m_frameLength = m_baseFrameLength * (speed == 0 ? 4 : speed == 1 ? 2 : 1);
    m_frameSpeed = static_cast<uint32_t>(speed);
    const auto clock = static_cast<uint32_t>(uint64_t{m_inputClock} * multiplier / 3 / 6);
    m_pixelPeriodNs = 1e9 / clock;
    m_lineTimeNs = m_lineLength * m_pixelPeriodNs * 0.5;
    m_frameTimeNs = m_frameLength * m_lineTimeNs;
    m_lineTimeUs = m_lineTimeNs / 1000.0;
    return CAMERA_STATUS_SUCCESS;
}

int CAR052x::SetAnalogGain(uint32_t gain) {
    (void)gain;
    m_gain = 1000;
    return CAMERA_STATUS_SUCCESS;
}

int CAR052x::StreamOn() {
    if (!InFpgaGroup()) return CAMERA_STATUS_SUCCESS;
    const int r = SetSensorInterface(m_ifMode | m_bitMode | kIfRun | m_laneBits);
    if (r == CAMERA_STATUS_SUCCESS) m_streaming = true;
    return r;
}

int CAR052x::StreamOff() {
    WriteSensorReg(kRegControl, 0x0218);
    if (!InFpgaGroup()) return CAMERA_STATUS_SUCCESS;
    const int r = SetSensorInterface(m_ifMode | m_bitMode | kIfStop | m_laneBits);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    SetFpgaImageEnable(0);
    m_streaming = false;
    return CAMERA_STATUS_SUCCESS;
}

int CAR052x::SetTriggerMode(int mode) {
    if (mode < 0 || mode > 2) return CAMERA_STATUS_SUCCESS;
    if (InFpgaGroup()) {
        const int r = ApplyFpgaTrigger(mode, {1, 50000}, {2000, 50000});
        if (r != CAMERA_STATUS_SUCCESS) return r;
    }
    return WriteSensorReg(kRegControl, mode == 0 ? 0x021C : 0x0218);
}

int CAR052x::SoftTrigger() {
    return SoftTriggerVia(InFpgaGroup());
}

int CAR052x::SetRoiOffset(int x, int y) {
    m_resolution.iOffsetX = x;
    m_resolution.iOffsetY = y;
    ApplyWindow();
    WriteSensorReg(0x300C, static_cast<uint16_t>(m_lineLength));
    WriteSensorReg(0x300A, static_cast<uint16_t>(m_frameLength));
    WriteWindowSingly(m_width, m_height);
    return CAMERA_STATUS_SUCCESS;
}

void CAR052x::GetCapability(SensorCapability& cap) {
    const bool mono = Mono();
    cap.isMono = mono ? 1 : 0;
    cap.driverWord = 1;
    cap.unusedWord = 1;
    cap.defaultResolutionIndex = 11;  // "2592X1944", the only preset
    cap.presetMask = 0x800;
    cap.defaultRedGain = cap.defaultGreenGain = cap.defaultBlueGain = 100;
    SetFormats8Or12(cap, mono, true);
}
