// A device and its sensor driver together: the driver made from the type in storage, the
// forwarded operations, and the device-parameter read built from the driver's records.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "params/DeviceCapability.h"
#include "FakeDevice.h"
#include "FakeStorage.h"
#include "Imx290Expect.h"
#include "SensorTrace.h"
#include "sensors/IMX290.h"

namespace {

using namespace qvsim;

struct OpenedDevice {
    CVirtualSensorClock clock;
    CFakeDevice dev{"SN-0001", "Cam"};
    CFakeStorage* storage = new CFakeStorage(&dev);
    OpenedDevice(int hw, SensorTypeE type) {
        dev.AdoptStorage(storage);
        dev.SetHardwareType(hw);
        storage->sensorType = type;
    }
};

TEST(SensorDevice, InitSensorMakesTheDriverOfTheStoredTypeAndForwardsToIt) {
    OpenedDevice o(102, SENSOR_TYPE_IMX290C);
    CameraInitParam param = imx290::StreamParam(imx290::Resolution(1920, 1080), 2, 0x01080008);
    ASSERT_EQ(o.dev.InitSensor(&param), 0);
    ASSERT_NE(dynamic_cast<CIMX290*>(o.dev.Sensor()), nullptr);
    const auto loads = o.dev.CallsNamed({"LoadFpga"});
    ASSERT_EQ(loads.size(), 1u);
    EXPECT_EQ(loads[0].args, std::vector<int64_t>{SENSOR_TYPE_IMX290C});
    EXPECT_EQ(o.clock.SleptMs(), 20u + 20 + 20 + 50 + 10);  // reset, bus, clock, tables, window

    // 1000 us at 7.492 us per line: 133 lines.
    ASSERT_EQ(o.dev.SetExposure(1000), 0);
    double us = 0;
    ASSERT_EQ(o.dev.GetExposure(&us), 0);
    EXPECT_NEAR(us, 133 * 1100 * 1e9 / 146823528 / 1000, 1e-9);
    SensorInfo info{};
    ASSERT_EQ(o.dev.GetSensorTypeInfo(&info), 0);
    EXPECT_STREQ(info.name, "IMX290C");
    stImageInfo image{};
    ASSERT_EQ(o.dev.GetImageInfo(&image), 0);
    EXPECT_EQ(image.iWidth, 1920u);
    EXPECT_EQ(image.TotalBytes, 1920u * 1080u);
    EXPECT_EQ(o.dev.UnInitSensor(), 0);
    EXPECT_EQ(o.dev.Sensor(), nullptr);
}

TEST(SensorDevice, DeviceParametersComeFromTheDriversRecords) {
    OpenedDevice o(201, SENSOR_TYPE_IMX290M);
    CameraProperty prop{};
    prop.writtenFlag = 1;
    o.dev.SetProperty(prop);
    tSdkCapability cap{};
    DeviceMiscInfo misc{};
    CameraProperty out{};
    const int r = o.dev.GetCameraDevParam(&cap, nullptr, &out, &misc);
    ReleaseCapabilityLists(&cap);
    ASSERT_EQ(r, 0);
    // Maximum and minimum height, width, then the reduction-mode mask.
    const uint32_t limits[8] = {1080, 32, 1920, 32, 7, 0, 0, 0};
    EXPECT_EQ(std::memcmp(out.sensorLimits, limits, sizeof limits), 0);
    EXPECT_EQ(out.monoSensor, 1);
    EXPECT_EQ(out.presetMaskLow, 0x8110u);
    EXPECT_EQ(out.presetCount, 3);
    EXPECT_EQ(out.defaultSettings.resolutionIndex, 15);
    EXPECT_EQ(misc.defaultRedGain, 100);
    // The temporary driver never touched the hardware.
    EXPECT_EQ(o.dev.CallCount("WriteSensorReg") + o.dev.CallCount("WriteSensorRegs") +
                  o.dev.CallCount("SetGpioMode") + o.dev.CallCount("ReadFpgaReg"),
              0u);
}

}  // namespace
