// Expected IMX290 traffic, written out from the chip's programming description: the register
// tables with their known rows (rows the chip maker supplies are left open), the reset and clock
// steps per board, and the register layouts of the frame length, line length, shutter and window.
#pragma once

#include <memory>
#include <vector>

#include "FakeDevice.h"
#include "SensorTrace.h"
#include "sensors/IMX290.h"

namespace qvsim::imx290 {

inline const RegRows kStart = {{0x3000, 1}, {0x3002, 1}, {0xFFFF, 50}, {0x3055, 0},
                               {0x3005, 1}, {0x3007, 0}, {0x3009, 0}};
inline const RegRows kBlackLevel = {{0x300A, 0}, {0x300B, 0}};
inline const RegRows kChipSettings =
    RegRows{{0x3070, 0x02}, {0x3071, 0x11}, {0x309B, 0x10}, {0x309C, 0x22}} + AnyRows(37) +
    RegRows{{0x33B3, 0x04}, {0x3480, 0x49}};
inline const RegRows kSerialTable =
    RegRows{{0x300F, 0}, {0x3010, 0x21}, {0x3012, 0x64}, {0x3013, 0}, {0x3016, 0x09}} + AnyRows(9) +
    RegRows{{0x3443, 0x03}, {0x3444, 0x20}, {0x3445, 0x25}, {0x3480, 0x49}};
inline const RegRows kSerialFullFrame = {
    {0x3007, 0}, {0x3418, 0x49}, {0x3419, 0x04}, {0x3472, 0x9C}, {0x3473, 0x07}};
inline const RegRows kConverter10 = {{0x3005, 0},    {0x3046, 0},    {0x3129, 0x1D}, {0x317C, 0x12},
                                     {0x31EC, 0x37}, {0x3441, 0x0A}, {0x3442, 0x0A}};
inline const RegRows kLaneT0 =
    RegRows{{0x3405, 0x20}, {0x3446, 0x47}, {0x3448, 0x1F}} + AnyRows(14);
inline const RegRows kLaneT1 =
    RegRows{{0x3405, 0x10}, {0x3446, 0x57}, {0x3448, 0x37}} + AnyRows(14);
inline const RegRows kLaneT2 =
    RegRows{{0x3405, 0x00}, {0x3446, 0x77}, {0x3448, 0x67}} + AnyRows(14);
inline const RegRows kParallel = {{0x300F, 0},    {0x3010, 0x21}, {0x3012, 0x64}, {0x3016, 0x09},
                                  {0x3046, 0xE1}, {0x304B, 0x0A}, {0x315E, 0x1A}, {0x3164, 0x1A},
                                  {0x305C, 0x18}, {0x305D, 0}};
inline const RegRows kParallelPair = {{0x305E, 0x20}, {0x305F, 0x10}};
inline const RegRows k720pMode = {{0x3007, 0x10}, {0x3009, 0},    {0x3018, 0xEE},
                                  {0x3019, 0x02}, {0x301C, 0x72}, {0x301D, 0x06}};
inline const RegRows k360pMode = {
    {0x3009, 0}, {0x3018, 0x65}, {0x3019, 0x04}, {0x301C, 0x98}, {0x301D, 0x08}};
inline const RegRows kClosing720p = {
    {0x305C, 0x20}, {0x3129, 0x1D}, {0x317C, 0x12}, {0x31EC, 0x37}};
inline const RegRows kClosing = {{0x305C, 0x18}, {0x3129, 0}, {0x317C, 0}, {0x31EC, 0x0E}};

// VMAX 0x3018 (bits 0-7), 0x3019 (8-15), 0x301A (16-19); HMAX 0x301C (0-7), 0x301D (8-15).
inline RegRows Vmax(int64_t v) {
    return {{0x3018, v & 0xFF}, {0x3019, (v >> 8) & 0xFF}, {0x301A, (v >> 16) & 0xF}};
}
inline RegRows Hmax(int64_t h) {
    return {{0x301C, h & 0xFF}, {0x301D, (h >> 8) & 0xFF}};
}
// SHS1 0x3020 (bits 0-7), 0x3021 (8-15), 0x3022 (bit 16).
inline RegRows Shs1(int64_t s) {
    return {{0x3020, s & 0xFF}, {0x3021, (s >> 8) & 0xFF}, {0x3022, (s >> 16) & 1}};
}
// Window: 0x3040/41 x, 0x3042/43 width, 0x303C/3D y, 0x303E/3F height (bits 0-7, 8-10).
inline RegRows Window(int64_t x, int64_t y, int64_t w, int64_t h) {
    return {{0x3040, x & 0xFF}, {0x3041, (x >> 8) & 7}, {0x3042, w & 0xFF}, {0x3043, (w >> 8) & 7},
            {0x303C, y & 0xFF}, {0x303D, (y >> 8) & 7}, {0x303E, h & 0xFF}, {0x303F, (h >> 8) & 7}};
}

// The frame-speed writes: readout register, then VMAX and HMAX in one list.
inline std::vector<TraceStep> SpeedWrites(int64_t readout, int64_t vmax, int64_t hmax) {
    return {Reg(0x3009, static_cast<uint16_t>(readout)), Regs(Vmax(vmax) + Hmax(hmax))};
}

// Reset by board: GPIO 28 (102, 105, 106), 29 (108), 23 (4, 5, 9, 304), else bit 16 of FPGA
// register 15 (which holds fpga15 before); then bus 0x34/0x12 and 20 ms.
inline std::vector<TraceStep> ResetSteps(int hw, uint32_t fpga15) {
    std::vector<TraceStep> steps;
    const int pin = hw == 102 || hw == 105 || hw == 106          ? 28
                    : hw == 108                                  ? 29
                    : hw == 4 || hw == 5 || hw == 9 || hw == 304 ? 23
                                                                 : 0;
    if (pin != 0) {
        steps = {Call("SetGpioMode", {pin, 0}), Call("WriteGpio", {pin, 0}), Sleep(10),
                 Call("WriteGpio", {pin, 1}), Sleep(10)};
    } else {
        steps = {Call("ReadFpga", {15}), Fpga(15, fpga15 & ~0x10000u), Sleep(10),
                 Fpga(15, fpga15 | 0x10000u), Sleep(10)};
    }
    steps.push_back(Call("SetSensorBus", {0x34, 0x12}));
    steps.push_back(Sleep(20));
    return steps;
}

// The run and stop sequences.
inline std::vector<TraceStep> StreamOnSteps(int64_t runWord) {
    return {Reg(0x3000, 0), Sleep(50), Reg(0x3002, 0), Call("SetSensorInterface", {runWord})};
}
inline std::vector<TraceStep> StreamOffSteps(int64_t stopWord) {
    return {Call("SetSensorInterface", {stopWord}), Sleep(10), Reg(0x3000, 1), Reg(0x3002, 1)};
}

inline tSdkResolution Resolution(unsigned width, unsigned height, int x = 0, int y = 0,
                                 int fovWidth = 0, int fovHeight = 0, unsigned modeC = 0) {
    tSdkResolution res{};
    res.iIndex = 255;
    res.uWidth = width;
    res.uHeight = height;
    res.iOffsetX = x;
    res.iOffsetY = y;
    res.iSensorWidth = fovWidth != 0 ? fovWidth : static_cast<int>(width);
    res.iSensorHeight = fovHeight != 0 ? fovHeight : static_cast<int>(height);
    res.uModeC = modeC;
    return res;
}

inline CameraInitParam StreamParam(const tSdkResolution& res, int speed, uint32_t mediaType,
                                   int channelMask = 1) {
    CameraInitParam param{};
    param.resolution = res;
    param.frameSpeed = speed;
    param.mediaType = mediaType;
    param.channelMask = channelMask;
    return param;
}

// A device of one board with an IMX290 driver made by the factory, on the virtual clock.
class Imx290Fixture : public ::testing::Test {
  protected:
    static constexpr uint32_t kFpga15 = 0x000310C1;  // GigE interface bits, reset line high

    void Make(int hw, SensorTypeE code) {
        trace.reset();  // before the next one installs its clock
        dev = std::make_shared<CFakeDevice>();
        dev->SetHardwareType(hw);
        dev->SetFpgaReg(15, kFpga15);
        sensor.reset(SensorInf::CreateSensor(code, dev.get()));
        ASSERT_NE(sensor, nullptr);
        trace = std::make_unique<CSensorTrace>(*dev);
    }
    // Make, then Init with the window at the speed and format given.
    void Start(int hw, SensorTypeE code, const tSdkResolution& res, int speed,
               uint32_t mediaType = 0x01080008, int channelMask = 1) {
        Make(hw, code);
        param = StreamParam(res, speed, mediaType, channelMask);
        ASSERT_EQ(sensor->Init(&param), 0);
        trace->Clear();
    }
    std::vector<TraceStep> Steps() const { return trace->Steps(); }

    std::shared_ptr<CFakeDevice> dev;
    std::unique_ptr<SensorInf> sensor;
    std::unique_ptr<CSensorTrace> trace;
    CameraInitParam param{};
};

}  // namespace qvsim::imx290
