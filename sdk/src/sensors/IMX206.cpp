#include "IMX206.h"

#include <algorithm>

#include "common/Log.h"
#include "SensorFactory.h"

using namespace sensor;

namespace {

constexpr BoardReset kBoards[] = {
    {103, GpioReset(28)},  {6, GpioReset(23)},    {200, FpgaBitReset()},
    {201, FpgaBitReset()}, {203, FpgaBitReset()},
};

constexpr RegField kFrameCount[] = {{0x0D, 0, 0xFF}, {0x0E, 8, 0xFF}};
constexpr RegField kShutter[] = {{0x0C, 8, 0xFF}, {0x0B, 0, 0xFF}};  // high byte first
constexpr FrameCountLayout kExposure{kFrameCount, kShutter, 9, true};
constexpr uint32_t kMinLines = 4;

// Presets 16 "2304X1296 binning crop", 17 "2304X1728 binning", 18 the full 4608 x 3456 frame.
constexpr int32_t kPresetBinnedCrop = 16;
constexpr int32_t kPresetBinned = 17;
constexpr int32_t kPresetFull = 18;

// clang-format off
constexpr uint16_t kClear[] = {0x0D, 0,  0x0E, 0,  0x08, 0};
constexpr uint16_t kReadout[] = {0x5A2, 0x10};
constexpr uint16_t kClamp[] = {0x0B, 0x11,  0x0C, 0x0D};
constexpr uint16_t kGainClear[] = {0x11, 0,  0x09, 0,  0x0A, 0};
constexpr uint16_t kBlack[] = {0x45, 0};
// Mode lists: the full frame at 12 bits, the binned frames, other windows.
constexpr uint16_t kModeFull12[] = {0x04, 0,     0x05, 3,     0x06, 0x30,  0x07, 0,  0x08, 0,  0x1A, 0};
constexpr uint16_t kModeBinned[] = {0x04, 0x10,  0x05, 0x11,  0x06, 0x20,  0x07, 9,  0x08, 0,  0x1A, 0};
constexpr uint16_t kModeOther[]  = {0x04, 0,     0x05, 1,     0x06, 0x20,  0x07, 0,  0x08, 0,  0x1A, 0};
// Windows of the binned presets.
constexpr uint16_t kWindowBinnedCrop[] = {
    0x6F, 0x6C,  0x70, 0,  0x71, 0xD8,  0x72, 0,  0xF8, 0,  0xF9, 0,  0xFA, 0,  0xFB, 0,  0xFC, 0,
};
constexpr uint16_t kWindowBinned[] = {
    0x6F, 0,  0x70, 0,  0x71, 0,  0x72, 0,  0xF8, 0,  0xF9, 0,  0xFA, 0,  0xFB, 0,  0xFC, 0,
};
// clang-format on

// Clock by board and frame speed (0 to 2).
struct ClockRow {
    int hwType;
    PllSetting pll[3];
};
// clang-format off
constexpr ClockRow kClocks[] = {
    {103, {Pll({24, 1, 2, 2, 13, 26, 13, 6}, 24000000),
           Pll({24, 1, 2, 2, 13, 13, 13, 3}, 48000000),
           Pll({36, 1, 2, 2, 12, 13, 13, 4}, 72000000)}},
    {6,   {Pll({26, 1, 2, 2, 13, 104, 13, 10}, 6000000),
           Pll({26, 1, 2, 2, 13, 46, 13, 10}, 13565217),
           Pll({26, 1, 2, 2, 13, 34, 13, 10}, 18352941)}},
    {200, {Pll({18, 1, 2, 2, 54, 12, 16, 27}, 12000000),
           Pll({18, 1, 2, 2, 27, 12, 8, 27}, 24000000),
           Pll({18, 1, 1, 1, 14, 12, 4, 27}, 46285714)}},
};
// clang-format on

constexpr CIMX183Family::Chip kChip{kBoards, 3456, 4608, 27648};

}  // namespace

CIMX206::CIMX206(SensorTypeE type, imginf* inf) : CIMX183Family(type, inf, kChip) {
    m_auxValue = 18;
    SetInstanceInfo("IMX206", "CMOS_16M");
    SetPixelFormat(kBayerGR8);
}

int CIMX206::GetSensorInfo(SensorTypeE type, SensorInfo* info) {
    return FillSensorInfo("CIMX206", type, info);
}

int CIMX206::Probe(SensorTypeE type, imginf* inf) {
    (void)type, (void)inf;
    return CAMERA_STATUS_SUCCESS;
}

// The GigE boards share one clock table. A speed outside 0 to 2 keeps the clock in force.
int CIMX206::ApplyClock(int speed) {
    int hw = GetHardwareType();
    if (hw == 201 || hw == 203) hw = 200;
    m_laneBits = 4;
    if (speed >= 0 && speed <= 2) {
        for (const ClockRow& row : kClocks) {
            if (row.hwType != hw) continue;
            const int r = ApplyPll(row.pll[speed]);
            if (r != CAMERA_STATUS_SUCCESS) return r;
            m_pixelClock = row.pll[speed].inputClock;
        }
    }
    Pause(10);
    return CAMERA_STATUS_SUCCESS;
}

int CIMX206::Init(CameraInitParam* param) {
    if (param == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    int r = Reset();
    if (r != CAMERA_STATUS_SUCCESS) return r;
    SetPixelFormat(param->mediaType);
    SetResolution(&param->resolution);
    ApplyWindow();
    const int32_t index = m_resolution.iIndex;
    m_lowBit = m_bitMode == 32 && index == kPresetFull ? 0 : 1;
    if ((r = ApplyClock(param->frameSpeed)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = WriteSetupWord()) != CAMERA_STATUS_SUCCESS) return r;

    using List = std::span<const uint16_t>;
    for (List list : {List(kClear), List(kReadout), List(kClamp), List(kGainClear)}) {
        if ((r = WriteSensorRegs(list)) != CAMERA_STATUS_SUCCESS) return r;
    }
    if (m_lowBit == 0) {
        r = WriteModeList(kModeFull12, 3360, 3728);
    } else if (index == kPresetBinnedCrop) {
        r = WriteModeList(kModeBinned, 880, 1365);
    } else if (index == kPresetBinned) {
        r = WriteModeList(kModeBinned, 1320, 1820);
    } else {
        r = WriteModeList(kModeOther, 1680, 3575);
    }
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if ((r = WriteSensorRegs(kBlack)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = WriteWindow()) != CAMERA_STATUS_SUCCESS) return r;
    r = WriteRegs({0x7C, static_cast<uint16_t>((m_lineLength >> 1) & 0xFF), 0x7D,
                   static_cast<uint16_t>((m_lineLength >> 9) & 0xFF), 0x0D, 0, 0x0E, 0});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if ((r = WriteSensorReg(0x03, 0)) != CAMERA_STATUS_SUCCESS) return r;
    if ((r = StartChip(1)) != CAMERA_STATUS_SUCCESS) return r;

    if ((r = WriteFrameTiming(m_frameLength, m_lineLength)) != CAMERA_STATUS_SUCCESS) return r;
    m_frameCount = 0;
    SetFrameSpeed(param->frameSpeed);
    const bool binned = index == kPresetBinnedCrop || index == kPresetBinned;
    m_fpgaOffsetY = binned ? 8 : 16;
    m_fpgaOffsetX = binned ? 49 : 97;
    return FinishInit(*param);
}

// The binned presets have fixed windows; any other window is cut by the chip on an 8-pixel grid
// at least 240 wide and centred vertically in 3500 rows.
int CIMX206::WriteWindow() {
    const int32_t index = m_resolution.iIndex;
    if (index == kPresetBinnedCrop) return WriteSensorRegs(kWindowBinnedCrop);
    if (index == kPresetBinned) return WriteSensorRegs(kWindowBinned);
    uint32_t x = m_roiX, y = m_roiY, w = m_width + 2;
    if (x % 8 != 0) {
        w += 8;
        x -= x % 8;
    }
    w = w < 240 ? 240 : (w + 7) / 8 * 8;
    const uint32_t v = std::max(m_height + 2, 1750u);
    const uint32_t e = (3500 - v) / 2;
    const uint32_t xe = x + w;
    RegList list;
    list.Add(0x6F, (y >> 1) & 0xFF).Add(0x70, (y >> 9) & 0xF);
    list.Add(0x71, e & 0xFF).Add(0x72, (e >> 8) & 7);
    list.Add(0xF8, x & 0xFF).Add(0xF9, (x >> 8) & 0x1F);
    list.Add(0xFA, xe & 0xFF).Add(0xFB, (xe >> 8) & 0x1F).Add(0xFC, 1);
    WriteRegs(list);  // not checked: Init goes on with the window the chip has
    return CAMERA_STATUS_SUCCESS;
}

void CIMX206::ScaleLengths(int speed, uint32_t& lineLength, uint32_t& frameLength) {
    (void)speed, (void)lineLength, (void)frameLength;  // the clock carries the speed
}

uint32_t CIMX206::MaxExposureLines() const {
    return m_frameLength * 8 - 10;
}

int CIMX206::SetExposureLines(uint32_t lines) {
    qv::Log("explines:%x\n", lines);
    lines = std::max(lines, kMinLines);
    if (m_frameLength != 0) lines = std::min(lines, FrameCountMaxLines(kExposure, m_frameLength));
    RecordExposureLines(lines);
    return WriteFrameCountShutter(kExposure, lines, m_frameLength, m_frameCount);
}

void CIMX206::GetCapability(SensorCapability& cap) {
    cap.isMono = 0;
    cap.driverWord = 1;
    cap.defaultResolutionIndex = kPresetFull;  // "4608X3456"
    cap.presetMask = (uint64_t{1} << 16) | (uint64_t{1} << 17) | (uint64_t{1} << 18);
    cap.defaultRedGain = 134;
    cap.defaultGreenGain = 100;
    cap.defaultBlueGain = 152;
    // A board of unknown model takes the 8-bit format only.
    SetFormats8Or12(cap, false, GetHardwareType() != 0);
}
