// A fixture for the sensor drivers' tests: a device of one board with a driver made by the
// factory, on the virtual driver clock, its traffic traced; and the small readers the tests use
// to see what the chip and the FPGA were left holding.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <vector>

#include "FakeDevice.h"
#include "SensorTrace.h"
#include "sensors/SensorInf.h"

namespace qvsim {

inline tSdkResolution Window(unsigned width, unsigned height, int x = 0, int y = 0,
                             int index = 255) {
    tSdkResolution res{};
    res.iIndex = index;
    res.uWidth = width;
    res.uHeight = height;
    res.iOffsetX = x;
    res.iOffsetY = y;
    res.iSensorWidth = static_cast<int>(width);
    res.iSensorHeight = static_cast<int>(height);
    return res;
}

inline CameraInitParam Stream(const tSdkResolution& res, int speed, uint32_t mediaType,
                              int channelMask = 1) {
    CameraInitParam param{};
    param.resolution = res;
    param.frameSpeed = speed;
    param.mediaType = mediaType;
    param.channelMask = channelMask;
    return param;
}

// The reset pulses as the trace shows them: one GPIO, two GPIOs one after the other (mode and
// level per pin), two GPIOs together (both modes, then both levels), bit 16 of FPGA register 15
// (which holds fpga15 before).
std::vector<TraceStep> GpioPulse(int pin);
std::vector<TraceStep> GpioPairTogetherPulse(int pin, int pin2);
std::vector<TraceStep> FpgaBitPulse(uint32_t fpga15);

// Whether every step of `expected` is in `actual`, in this order (other steps may come between).
::testing::AssertionResult ContainsInOrder(const std::vector<TraceStep>& actual,
                                           const std::vector<TraceStep>& expected);

// The identity register a chip answers with (register, value), for the codes the factory checks.
std::vector<std::pair<uint16_t, uint16_t>> ChipIdentity(SensorTypeE code);

class DriverFixture : public ::testing::Test {
  protected:
    static constexpr uint32_t kFpga15 = 0x000310C1;  // GigE interface bits, reset line high

    // A device of the board whose chip answers its identity, and the driver the factory makes.
    void Make(int hw, SensorTypeE code);
    // Make, then Init with the window at the speed and format given; the trace starts after it.
    void Start(int hw, SensorTypeE code, const tSdkResolution& res, int speed, uint32_t mediaType,
               int channelMask = 1);
    std::vector<TraceStep> Steps() const { return trace->Steps(); }

    uint32_t Sensor(uint16_t reg) const { return dev->SensorReg(reg); }
    // A value spread over byte registers, low byte first, each masked.
    uint32_t SensorValue(std::initializer_list<std::pair<uint16_t, uint32_t>> lanes) const;
    // The frame length of the last SetImageTiming call (0: none).
    uint32_t ImageTimingFrame() const;
    double ExposureUs() const;
    double LineUs() const;
    int Gain() const;
    int Speed() const;
    SensorParam Param() const;
    stImageInfo ImageInfo() const;
    SensorCapability Capability() const;

    // The driver clock of the whole test (the factory's identity checks pause on it too); each
    // trace puts its own on top.
    CVirtualSensorClock clock;
    std::shared_ptr<CFakeDevice> dev;
    std::unique_ptr<SensorInf> sensor;
    std::unique_ptr<CSensorTrace> trace;
    CameraInitParam param{};
};

}  // namespace qvsim
