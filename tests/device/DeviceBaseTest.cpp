// The transport-neutral part of CJNDevice: identity, sensor ownership and forwarding, the
// open-time fills and the device-parameter read. The base operations are called qualified, so
// the fake device's own behaviour does not stand in for them.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "FakeDevice.h"
#include "FakeSensor.h"
#include "FakeStorage.h"
#include "LogCapture.h"

namespace {

using qvsim::CFakeDevice;
using qvsim::CFakeSensor;
using qvsim::CFakeStorage;
using qvsim::LogCapture;

// A fake device with an in-memory storage object, as after a transport's open.
struct OpenedDevice {
    CFakeDevice dev{"SN-0001", "Cam"};
    CFakeStorage* storage = new CFakeStorage(&dev);
    OpenedDevice() { dev.AdoptStorage(storage); }
};

TEST(DeviceIdentity, SerialNumberCopiesExactly32Bytes) {
    CFakeDevice dev("0123456789ABCDEF0123456789ABCDEF");  // 32 characters, no room for a zero
    EXPECT_EQ(dev.CJNDevice::GetSN(nullptr), CAMERA_STATUS_PARAMETER_INVALID);

    char buffer[40];
    std::memset(buffer, 0x5A, sizeof buffer);
    ASSERT_EQ(dev.CJNDevice::GetSN(buffer), 0);
    EXPECT_EQ(std::memcmp(buffer, "0123456789ABCDEF0123456789ABCDEF", 32), 0);
    for (size_t i = 32; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], 0x5A) << i;

    // The comparison stops at 32 bytes: an unterminated serial still matches itself only.
    EXPECT_TRUE(dev.CJNDevice::IsSameDevice(buffer));
    buffer[31] = 'X';
    EXPECT_FALSE(dev.CJNDevice::IsSameDevice(buffer));
}

TEST(DeviceIdentity, SymbolicNamesAndDriverTexts) {
    CFakeDevice a("SN-A", "Cam", "bus:1:address:4");
    CFakeDevice b("SN-B", "Cam", "bus:1:address:4");
    CFakeDevice c("SN-C", "Cam", "bus:1:address:5");
    EXPECT_STREQ(a.GetSymbolicName(), "bus:1:address:4");
    EXPECT_TRUE(a.IsSameSymbolicName("bus:1:address:4"));
    EXPECT_FALSE(a.IsSameSymbolicName("bus:1:address:44"));
    EXPECT_TRUE(a.CompareSymbolicName(&b));
    EXPECT_FALSE(a.CompareSymbolicName(&c));

    char name[256] = {};
    char version[32] = {};
    EXPECT_EQ(a.GetDriverName(name), 0);
    EXPECT_EQ(a.GetDriverVersion(version), 0);
    EXPECT_STREQ(name, "fake camera");
    EXPECT_STREQ(version, "V1.0");
    EXPECT_EQ(a.GetDriverName(nullptr), 0);
}

TEST(DeviceIdentity, InUseFollowsTheAccessStatusAndIsFalseWhenItFails) {
    CFakeDevice dev;
    dev.SetInUse(true);
    EXPECT_TRUE(dev.CJNDevice::IsInUse());
    dev.SetResult("GetAccessStatus", CAMERA_STATUS_HARDWARE_NOT_FOUND);
    EXPECT_FALSE(dev.CJNDevice::IsInUse());
}

TEST(DeviceIdentity, NetworkSettingsAreNotSupportedByTheBase) {
    CFakeDevice dev;
    tGigeIpConfig config{};
    int size = 0;
    EXPECT_EQ(dev.CJNDevice::GetIpConfig(&config), CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(dev.CJNDevice::SetIpConfig(&config), CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(dev.CJNDevice::SetPacketDelay(10), CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(dev.CJNDevice::SetResend(1, 10, 30, 3), CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(dev.CJNDevice::GetOptimalPacketSize(&size), CAMERA_STATUS_NOT_SUPPORTED);
}

// Every sensor forwarder: -57 without a driver.
TEST(DeviceSensor, ForwardersAnswerNoSensorWithoutADriver) {
    CFakeDevice d;
    int i = 0, j = 0;
    double x = 0;
    unsigned u = 0;
    SensorInfo info{};
    SensorParam param{};
    stImageInfo image{};
    tSdkResolution res{};
    const std::vector<std::pair<const char*, std::function<int()>>> forwarders = {
        {"SetSensorAuxValue", [&] { return d.CJNDevice::SetSensorAuxValue(1); }},
        {"GetLineTime", [&] { return d.CJNDevice::GetLineTime(&i); }},
        {"SetExposureLines", [&] { return d.CJNDevice::SetExposureLines(100); }},
        {"SetExposure", [&] { return d.CJNDevice::SetExposure(1000.0); }},
        {"GetExposure", [&] { return d.CJNDevice::GetExposure(&x); }},
        {"GetExposureLineTime", [&] { return d.CJNDevice::GetExposureLineTime(&x); }},
        {"SetFrameTime", [&] { return d.CJNDevice::SetFrameTime(1000.0); }},
        {"GetFrameTime", [&] { return d.CJNDevice::GetFrameTime(&x); }},
        {"SetFrameSpeed", [&] { return d.CJNDevice::SetFrameSpeed(1); }},
        {"GetFrameSpeed", [&] { return d.CJNDevice::GetFrameSpeed(&i); }},
        {"GetFrameTimeRange", [&] { return d.CJNDevice::GetFrameTimeRange(&i, &j); }},
        {"SetSensorAuxPair", [&] { return d.CJNDevice::SetSensorAuxPair(1, u); }},
        {"GetAnalogGainRange", [&] { return d.CJNDevice::GetAnalogGainRange(&i, &j); }},
        {"SetAnalogGain", [&] { return d.CJNDevice::SetAnalogGain(2000); }},
        {"GetAnalogGain", [&] { return d.CJNDevice::GetAnalogGain(&i); }},
        {"SetBlackLevel", [&] { return d.CJNDevice::SetBlackLevel(60); }},
        {"GetBlackLevel", [&] { return d.CJNDevice::GetBlackLevel(&i); }},
        {"SetWdrMode", [&] { return d.CJNDevice::SetWdrMode(1); }},
        {"GetWdrMode", [&] { return d.CJNDevice::GetWdrMode(&i); }},
        {"StreamOn", [&] { return d.CJNDevice::StreamOn(); }},
        {"StreamOff", [&] { return d.CJNDevice::StreamOff(); }},
        {"SetTriggerMode", [&] { return d.CJNDevice::SetTriggerMode(1); }},
        {"SoftTrigger", [&] { return d.CJNDevice::SoftTrigger(); }},
        {"GetSensorTypeInfo", [&] { return d.CJNDevice::GetSensorTypeInfo(&info); }},
        {"GetSensorParam", [&] { return d.CJNDevice::GetSensorParam(&param); }},
        {"GetImageInfo", [&] { return d.CJNDevice::GetImageInfo(&image); }},
        {"SetResolution", [&] { return d.CJNDevice::SetResolution(&res); }},
        {"GetResolution", [&] { return d.CJNDevice::GetResolution(&res); }},
        {"SetRoiOffset", [&] { return d.CJNDevice::SetRoiOffset(2, 2); }},
        {"SetAeTarget", [&] { return d.CJNDevice::SetAeTarget(120); }},
    };
    ASSERT_EQ(forwarders.size(), 30u);
    for (const auto& [name, call] : forwarders) EXPECT_EQ(call(), CAMERA_STATUS_NO_SENSOR) << name;
}

TEST(DeviceSensor, ForwardersReachTheDriver) {
    CFakeDevice d;
    auto* sensor = new CFakeSensor(SENSOR_TYPE_IMX290C, &d);
    std::strcpy(sensor->info.kind, "CMOS_2M");
    d.AdoptSensor(sensor);

    EXPECT_EQ(d.CJNDevice::SetExposure(1234.5), 0);
    double us = 0;
    EXPECT_EQ(d.CJNDevice::GetExposure(&us), 0);
    EXPECT_EQ(us, 1234.5);
    EXPECT_EQ(d.CJNDevice::SetFrameSpeed(5), CAMERA_STATUS_PARAMETER_INVALID);
    SensorInfo info{};
    EXPECT_EQ(d.CJNDevice::GetSensorTypeInfo(&info), 0);
    EXPECT_EQ(info.type, SENSOR_TYPE_IMX290C);
    int mode = 7;
    EXPECT_EQ(d.CJNDevice::GetWdrMode(&mode), CAMERA_STATUS_NOT_SUPPORTED);  // driver default
    EXPECT_EQ(mode, 0);
}

TEST(DeviceSensor, UnInitKeepsADriverWhoseUninitFailsAndRetries) {
    CFakeDevice d;
    EXPECT_EQ(d.UnInitSensor(), CAMERA_STATUS_NO_SENSOR);

    auto* sensor = new CFakeSensor(SENSOR_TYPE_AR0130, &d);
    sensor->SetResult("Uninit", CAMERA_STATUS_IO_ERROR);
    d.AdoptSensor(sensor);
    EXPECT_EQ(d.UnInitSensor(), CAMERA_STATUS_IO_ERROR);
    ASSERT_EQ(d.Sensor(), sensor);
    sensor->SetResult("Uninit", 0);
    EXPECT_EQ(d.UnInitSensor(), 0);
    EXPECT_EQ(d.Sensor(), nullptr);
    EXPECT_EQ(d.UnInitSensor(), CAMERA_STATUS_NO_SENSOR);
}

TEST(DeviceSensor, InitSensorFailuresAreReportedAndLogged) {
    LogCapture log;
    CameraInitParam param{};

    {  // A device that was never opened has no storage to read the type from.
        CFakeDevice d;
        EXPECT_EQ(d.InitSensor(&param), CAMERA_STATUS_HARDWARE_NOT_FOUND);
        EXPECT_EQ(log.Count("get sensor type failed\r\n"), 1);
    }
    {  // The storage's error comes back.
        OpenedDevice o;
        o.storage->SetResult("GetSensorType", CAMERA_STATUS_IO_ERROR);
        EXPECT_EQ(o.dev.InitSensor(&param), CAMERA_STATUS_IO_ERROR);
        EXPECT_EQ(log.Count("get sensor type failed\r\n"), 2);
    }
    {  // No driver for the stored type; no FPGA load while the hardware type is 0.
        OpenedDevice o;
        o.storage->sensorType = static_cast<SensorTypeE>(44);
        EXPECT_EQ(o.dev.InitSensor(&param), CAMERA_STATUS_NO_SENSOR);
        EXPECT_EQ(log.Count("sensor manual set failed\r\n"), 1);
        EXPECT_EQ(o.dev.CallCount("LoadFpga"), 0u);
    }
    {  // A known hardware type loads the FPGA for the stored type first; its error gives -57.
        OpenedDevice o;
        o.storage->sensorType = SENSOR_TYPE_IMX178C;
        o.dev.SetHardwareType(105);
        o.dev.SetResult("LoadFpga", CAMERA_STATUS_FPGA_ERROR);
        EXPECT_EQ(o.dev.InitSensor(&param), CAMERA_STATUS_NO_SENSOR);
        const auto loads = o.dev.CallsNamed({"LoadFpga"});
        ASSERT_EQ(loads.size(), 1u);
        EXPECT_EQ(loads[0].args, std::vector<int64_t>{SENSOR_TYPE_IMX178C});
        EXPECT_EQ(o.dev.Sensor(), nullptr);
    }
    {  // Any other failure of the load (a failed reset pulse or flash write) stops the sensor
       // creation too, with its own code.
        OpenedDevice o;
        o.storage->sensorType = SENSOR_TYPE_IMX178C;
        o.dev.SetHardwareType(7);
        o.dev.SetResult("LoadFpga", CAMERA_STATUS_IO_ERROR);
        EXPECT_EQ(o.dev.InitSensor(&param), CAMERA_STATUS_IO_ERROR);
        EXPECT_EQ(o.dev.Sensor(), nullptr);
        EXPECT_EQ(log.Count("sensor manual set failed\r\n"), 3);
    }
    {  // An existing driver is initialised; its failure is returned and it stays.
        CFakeDevice d;
        auto* sensor = new CFakeSensor(SENSOR_TYPE_AR0130, &d);
        sensor->SetResult("Init", CAMERA_STATUS_TIMEOUT);
        d.AdoptSensor(sensor);
        EXPECT_EQ(d.InitSensor(&param), CAMERA_STATUS_TIMEOUT);
        EXPECT_EQ(log.Count("InitSensor failed\r\n"), 1);
        EXPECT_EQ(d.Sensor(), sensor);
        sensor->SetResult("Init", 0);
        EXPECT_EQ(d.InitSensor(&param), 0);
    }
}

TEST(DeviceOpenFills, DeviceInformationFromStorageAndDevice) {
    OpenedDevice o;
    std::strcpy(o.storage->friendlyName, "Left camera");
    std::strcpy(o.storage->productSeries, "QV-U3");
    std::strcpy(o.storage->productName, "QV-U3-130M");
    std::strcpy(o.storage->portType, "USB");
    o.storage->deviceId = 0x12340021;                      // the device ID is the high half
    o.storage->sensorType = static_cast<SensorTypeE>(44);  // no driver
    o.dev.SetDeviceType(0x1301);
    o.dev.SetFirmwareVersion(0x1234);

    tDevInfo info;
    std::memset(&info, 0x77, sizeof info);
    ASSERT_EQ(o.dev.FillDevInfo(&info), 0);
    EXPECT_STREQ(info.acFriendlyName, "Left camera");
    EXPECT_STREQ(info.acProductSeries, "QV-U3");
    EXPECT_STREQ(info.acProductName, "QV-U3-130M");
    EXPECT_STREQ(info.acPortType, "USB");
    EXPECT_STREQ(info.acSn, "SN-0001");
    EXPECT_STREQ(info.acDriverName, "fake camera");
    EXPECT_STREQ(info.acDriverVersion, "V1.0");
    EXPECT_STREQ(info.acSymbolicName, "SN-0001");
    EXPECT_EQ(info.uDeviceId, 0x1234u);
    EXPECT_EQ(info.uDeviceType, 0x1301);
    EXPECT_EQ(info.uFirmwareVersion, 0x1234);
    EXPECT_EQ(info.uSignature, 0x1216);
    EXPECT_EQ(info.iAccess, 0);
    EXPECT_EQ(info.uSensorType, 0u);
    EXPECT_STREQ(info.acSensorName, "Sensor Unknow");
    EXPECT_EQ(info.uInUse, 0x77777777u);  // the manager's field is left alone

    // With a driver, its type and family text.
    auto* sensor = new CFakeSensor(SENSOR_TYPE_IMX290C, &o.dev);
    std::strcpy(sensor->info.kind, "CMOS_2M");
    o.dev.AdoptSensor(sensor);
    ASSERT_EQ(o.dev.FillDevInfo(&info), 0);
    EXPECT_EQ(info.uSensorType, static_cast<UINT>(SENSOR_TYPE_IMX290C));
    EXPECT_STREQ(info.acSensorName, "CMOS_2M");
}

TEST(DeviceOpenFills, DeviceInformationReturnsTheFirstFailingStep) {
    // In fill order; a failure of an optional early read (device ID, sensor type) is ignored.
    struct Case {
        const char* failing;  // storage or device operation
        bool onStorage;
        int expected;
    };
    const Case cases[] = {
        {"GetDeviceID", true, 0},
        {"GetSensorType", true, 0},
        {"GetSN", false, -101},
        {"GetDeviceType", false, -102},
        {"GetFirmwareVersion", false, -103},
        {"GetFriendlyName", true, -104},
        {"GetProductSeries", true, -105},
        {"GetProductName", true, -106},
        {"GetDevicePortType", true, -107},
        {"GetAccessStatus", false, -108},
    };
    for (const Case& c : cases) {
        OpenedDevice o;
        const int code = c.expected != 0 ? c.expected : -99;
        if (c.onStorage)
            o.storage->SetResult(c.failing, code);
        else
            o.dev.SetResult(c.failing, code);
        // A later step failing too must not hide the earlier one.
        o.dev.SetResult("GetAccessStatus", c.expected == -108 ? -108 : -200);
        tDevInfo info{};
        const int expected = c.expected != 0 ? c.expected : -200;
        EXPECT_EQ(o.dev.FillDevInfo(&info), expected) << c.failing;
    }
}

struct PropertyCase {
    int32_t modelNumber;
    bool matrixDefault;
    bool commonDefaults;
};

class DevicePropertyDefaults : public ::testing::TestWithParam<PropertyCase> {};

TEST_P(DevicePropertyDefaults, ByModelNumber) {
    const PropertyCase c = GetParam();
    OpenedDevice o;
    CameraProperty& stored = o.storage->property;
    std::memset(&stored, 0x11, sizeof stored);
    stored.modelNumber = c.modelNumber;
    stored.defaultSettings.lightFrequency = 3;

    CameraProperty prop{};
    ASSERT_EQ(o.dev.LoadDeviceProperty(&prop), 0);
    EXPECT_EQ(prop.bayerAlgDefault, 2);
    EXPECT_EQ(prop.bayerAlgMask, 0x101u);
    EXPECT_EQ(prop.defaultSettings.lightFrequency, 1);

    const int32_t untouched = 0x11111111;
    const int32_t* m = prop.defaultSettings.colorMatrix;
    if (c.matrixDefault) {
        const int32_t expected[9] = {336, -40, -40, -40, 336, -40, -40, -40, 336};
        for (int i = 0; i < 9; ++i) EXPECT_EQ(m[i], expected[i]) << i;
    } else {
        for (int i = 0; i < 9; ++i) EXPECT_EQ(m[i], untouched) << i;
    }
    if (c.commonDefaults) {
        EXPECT_EQ(prop.defaultSettings.gamma, 100);
        EXPECT_EQ(prop.defaultSettings.contrastLut, 100);
        EXPECT_EQ(prop.defaultSettings.lutPreset, 0);
        EXPECT_EQ(prop.contrastLutRange[0], 0);
        EXPECT_EQ(prop.contrastLutRange[1], 200);
        EXPECT_EQ(prop.gammaRange[0], 0);
        EXPECT_EQ(prop.gammaRange[1], 1000);
        EXPECT_EQ(prop.auxListCount, 3);
        EXPECT_EQ(prop.auxListMask, 7u);
    } else {
        EXPECT_EQ(prop.defaultSettings.gamma, untouched);
        EXPECT_EQ(prop.gammaRange[1], untouched);
        EXPECT_EQ(prop.auxListCount, untouched);
    }
    EXPECT_EQ(prop.redGainRange[0], untouched);
}

INSTANTIATE_TEST_SUITE_P(Models, DevicePropertyDefaults,
                         ::testing::Values(PropertyCase{4000, true, true},
                                           PropertyCase{4104, true, true},
                                           PropertyCase{4105, false, true},
                                           PropertyCase{4106, false, false}));

TEST(DeviceOpenFills, PropertyReadFailureAndValidLightFrequency) {
    OpenedDevice o;
    CameraProperty prop{};
    o.storage->property.defaultSettings.lightFrequency = 2;
    o.storage->property.modelNumber = 5000;
    ASSERT_EQ(o.dev.LoadDeviceProperty(&prop), 0);
    EXPECT_EQ(prop.defaultSettings.lightFrequency, 2);

    o.storage->SetResult("ReadDeviceProperty", CAMERA_STATUS_IO_ERROR);
    EXPECT_EQ(o.dev.LoadDeviceProperty(&prop), CAMERA_STATUS_IO_ERROR);
}

TEST(DeviceParameters, InformationAndPropertyWithoutCapability) {
    OpenedDevice o;
    CameraProperty stored{};
    stored.modelNumber = 4200;
    stored.writtenFlag = 1;
    o.dev.SetProperty(stored);

    tDevInfo info{};
    CameraProperty prop{};
    DeviceMiscInfo misc{};
    EXPECT_EQ(o.dev.CJNDevice::GetCameraDevParam(nullptr, &info, &prop, &misc), 0);
    EXPECT_STREQ(info.acSn, "SN-0001");
    EXPECT_EQ(prop.modelNumber, 4200);
    EXPECT_EQ(prop.writtenFlag, 1);

    // With a capability the sensor type comes from storage; a type without a driver gives -57.
    tSdkCapability cap{};
    o.storage->sensorType = static_cast<SensorTypeE>(45);
    EXPECT_EQ(o.dev.CJNDevice::GetCameraDevParam(&cap, &info, &prop, &misc),
              CAMERA_STATUS_NO_SENSOR);
    o.storage->SetResult("GetSensorType", CAMERA_STATUS_IO_ERROR);
    EXPECT_EQ(o.dev.CJNDevice::GetCameraDevParam(&cap, &info, &prop, &misc),
              CAMERA_STATUS_IO_ERROR);

    // A device that cannot report its information gives -6.
    o.dev.SetResult("GetDeviceInfo", CAMERA_STATUS_IO_ERROR);
    EXPECT_EQ(o.dev.CJNDevice::GetCameraDevParam(nullptr, &info, &prop, nullptr),
              CAMERA_STATUS_PARAMETER_INVALID);
}

TEST(DeviceStorage, AccessorsForwardToTheStorageObject) {
    OpenedDevice o;
    std::strcpy(o.storage->friendlyName, "Front");
    char name[32] = {};
    EXPECT_EQ(o.dev.CJNDevice::DevGetFriendlyName(name), 0);
    EXPECT_STREQ(name, "Front");
    char renamed[] = "Back";
    EXPECT_EQ(o.dev.CJNDevice::DevSetFriendlyName(renamed), 0);
    EXPECT_STREQ(o.storage->friendlyName, "Back");
    uint8_t data[4] = {1, 2, 3, 4};
    EXPECT_EQ(o.dev.CJNDevice::DevSaveUserData(0x3FFF, data, 2), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(o.dev.CJNDevice::DevSaveUserData(0x10, data, 4), 0);
    EXPECT_EQ(o.storage->userData[0x13], 4);
    EXPECT_EQ(o.dev.CJNDevice::DevSetDeadPixelPosition(data, 4), CAMERA_STATUS_NOT_SUPPORTED);
}

TEST(DeviceDisconnect, CallbackStoredAndCalledWithNullDeviceAndContext) {
    struct Seen {
        void* device = reinterpret_cast<void*>(1);
        int status = -1;
        int calls = 0;
    } seen;
    CFakeDevice dev;
    auto cb = [](void* device, int status, void* ctx) {
        auto* s = static_cast<Seen*>(ctx);
        s->device = device;
        s->status = status;
        ++s->calls;
    };
    EXPECT_EQ(dev.CJNDevice::SetDisconnectCallback(cb, &seen), 0);
    dev.FireDisconnect();
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.device, nullptr);
    EXPECT_EQ(seen.status, 0);
    EXPECT_EQ(dev.CJNDevice::SetDisconnectCallback(nullptr, nullptr), 0);
    dev.FireDisconnect();
    EXPECT_EQ(seen.calls, 1);
}

// The transports' open sequence on the fake: with no storage layout recognised the open fails
// with -52 and its reference is undone.
TEST(DeviceOpenFills, OpenWithoutStorageFailsAndUndoesTheCount) {
    LogCapture log;
    CFakeDevice dev;
    dev.SetOpenFollowsTransport(true);
    EXPECT_EQ(dev.Open(nullptr), CAMERA_STATUS_DEVICE_OPEN_FAILED);
    EXPECT_EQ(dev.OpenCount(), 0);
    EXPECT_EQ(log.Count("Make EEPROM instance failed\n"), 1);
}

}  // namespace
