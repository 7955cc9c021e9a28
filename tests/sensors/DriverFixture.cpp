#include "DriverFixture.h"

#include "sensors/SensorBase.h"

namespace qvsim {

std::vector<TraceStep> GpioPulse(int pin) {
    return {Call("SetGpioMode", {pin, 0}), Call("WriteGpio", {pin, 0}), Sleep(10),
            Call("WriteGpio", {pin, 1}), Sleep(10)};
}

std::vector<TraceStep> GpioPairTogetherPulse(int pin, int pin2) {
    return {Call("SetGpioMode", {pin, 0}),
            Call("SetGpioMode", {pin2, 0}),
            Call("WriteGpio", {pin, 0}),
            Call("WriteGpio", {pin2, 0}),
            Sleep(10),
            Call("WriteGpio", {pin, 1}),
            Call("WriteGpio", {pin2, 1}),
            Sleep(10)};
}

std::vector<TraceStep> FpgaBitPulse(uint32_t fpga15) {
    return {Call("ReadFpga", {15}), Fpga(15, fpga15 & ~0x10000u), Sleep(10),
            Fpga(15, fpga15 | 0x10000u), Sleep(10)};
}

::testing::AssertionResult ContainsInOrder(const std::vector<TraceStep>& actual,
                                           const std::vector<TraceStep>& expected) {
    size_t at = 0;
    for (const TraceStep& want : expected) {
        while (at < actual.size() && !want.Matches(actual[at])) ++at;
        if (at == actual.size()) {
            auto failure = ::testing::AssertionFailure()
                           << "missing " << want.ToString() << " in order; the trace is:";
            for (const TraceStep& step : actual) failure << "\n  " << step.ToString();
            return failure;
        }
        ++at;
    }
    return ::testing::AssertionSuccess();
}

std::vector<std::pair<uint16_t, uint16_t>> ChipIdentity(SensorTypeE code) {
    switch (code) {
        case SENSOR_TYPE_AR0130:
            return {{0x3000, 0x2402}};
        case SENSOR_TYPE_AR0134M:
        case SENSOR_TYPE_AR0134C:
            return {{0x3000, 0x2406}};
        case SENSOR_TYPE_AR0135C:
        case SENSOR_TYPE_AR0135M:
            return {{0x3000, 0x0754}};
        case SENSOR_TYPE_AR0144:
            return {{0x3000, 0x0356}};
        case SENSOR_TYPE_AR0234M:
        case SENSOR_TYPE_AR0234C:
            return {{0x3000, 0x0A56}};
        case SENSOR_TYPE_AR0521C:
        case SENSOR_TYPE_AR0521M:
        case SENSOR_TYPE_AR0522M:
            return {{0x3000, 0x0457}};
        case SENSOR_TYPE_MT9J003C:
        case SENSOR_TYPE_MT9J003M:
            return {{0x0000, 0x2C01}};
        case SENSOR_TYPE_MT9M001:
            return {{0x00, 0x8431}};
        case SENSOR_TYPE_MT9M001_B:
            return {{0x00, 0x8421}};
        case SENSOR_TYPE_MT9P031C:
        case SENSOR_TYPE_MT9P031M:
            return {{0x00, 0x1801}};
        case SENSOR_TYPE_OV7725:
            return {{0x0A, 0x77}};
        case SENSOR_TYPE_MT9T001:
            return {{0x00, 0x1621}};
        case SENSOR_TYPE_MT9V024C:
        case SENSOR_TYPE_MT9V024M:
            return {{0x00, 0x1324}};
        case SENSOR_TYPE_EV76C560C:
        case SENSOR_TYPE_EV76C560M:
            return {{0x7F, 0x0800}};
        case SENSOR_TYPE_EV76C570C:
        case SENSOR_TYPE_EV76C570M:
            return {{0x7F, 0x0900}};
        case SENSOR_TYPE_PYTHON1300C:
        case SENSOR_TYPE_PYTHON1300M:
            return {{0x000, 0x50D0}, {0x001, 0x0001}};
        case SENSOR_TYPE_JXF28PC:
            return {{0x0A, 0x08}, {0x0B, 0x50}};
        default:
            return {};
    }
}

void DriverFixture::Make(int hw, SensorTypeE code) {
    trace.reset();  // before the next one installs its clock
    sensor.reset();
    dev = std::make_shared<CFakeDevice>();
    dev->SetHardwareType(hw);
    dev->SetFpgaReg(15, kFpga15);
    for (const auto& [reg, value] : ChipIdentity(code)) dev->SetSensorReg(reg, value);
    sensor.reset(SensorInf::CreateSensor(code, dev.get()));
    ASSERT_NE(sensor, nullptr) << code;
    trace = std::make_unique<CSensorTrace>(*dev);
}

void DriverFixture::Start(int hw, SensorTypeE code, const tSdkResolution& res, int speed,
                          uint32_t mediaType, int channelMask) {
    Make(hw, code);
    param = Stream(res, speed, mediaType, channelMask);
    ASSERT_EQ(sensor->Init(&param), 0) << code << " on " << hw;
    trace->Clear();
}

uint32_t DriverFixture::SensorValue(
    std::initializer_list<std::pair<uint16_t, uint32_t>> lanes) const {
    uint32_t value = 0;
    int shift = 0;
    for (const auto& [reg, mask] : lanes) {
        value |= (dev->SensorReg(reg) & mask) << shift;
        shift += 8;
    }
    return value;
}

uint32_t DriverFixture::ImageTimingFrame() const {
    const auto calls = dev->CallsNamed({"SetImageTiming"});
    return calls.empty() ? 0 : static_cast<uint32_t>(calls.back().args[0]);
}

double DriverFixture::ExposureUs() const {
    double us = 0;
    sensor->GetExposure(&us);
    return us;
}

double DriverFixture::LineUs() const {
    double us = 0;
    sensor->GetExposureLineTime(&us);
    return us;
}

int DriverFixture::Gain() const {
    int gain = 0;
    sensor->GetAnalogGain(&gain);
    return gain;
}

int DriverFixture::Speed() const {
    int speed = -1;
    sensor->GetFrameSpeed(&speed);
    return speed;
}

SensorParam DriverFixture::Param() const {
    SensorParam p{};
    sensor->GetSensorParam(&p);
    return p;
}

stImageInfo DriverFixture::ImageInfo() const {
    stImageInfo info{};
    sensor->GetImageInfo(&info);
    return info;
}

SensorCapability DriverFixture::Capability() const {
    SensorCapability cap;
    sensor->GetCapability(cap);
    return cap;
}

}  // namespace qvsim
