// Attachment holder: attach and detach, the forwarders with and without a device, keep-alive
// registration, and the disconnect callback's life.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "FakeCameraFactory.h"
#include "FakeDevice.h"
#include "device/JNCamObject.h"
#include "LogCapture.h"

namespace {

using namespace std::chrono_literals;
using qvsim::CFakeDevice;
using qvsim::LogCapture;

struct Holder : CJNCamObject, CDevKeepAliveObj {
    explicit Holder(CJNDeviceMgr* mgr) : CJNCamObject(mgr) {}
    ~Holder() override { UnregisterKeepAlive(this); }
};

class Attach : public ::testing::Test {
  protected:
    CJNDeviceMgr mgr{nullptr, nullptr, 10};
    std::shared_ptr<CFakeDevice> dev = std::make_shared<CFakeDevice>("SN-42", "Cam");
};

TEST_F(Attach, OpensWithTheHolderReadsTheSerialAndDetachCloses) {
    LogCapture log;
    Holder h(&mgr);
    EXPECT_FALSE(h.IsAttached());
    ASSERT_EQ(h.Attach(dev), 0);
    EXPECT_TRUE(h.IsAttached());
    const auto opens = dev->CallsNamed({"Open"});
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].args[0], reinterpret_cast<intptr_t>(static_cast<CJNCamObject*>(&h)));
    EXPECT_EQ(dev->OpenCount(), 1);
    EXPECT_EQ(log.Count("attach successfully, device SN SN-42\n"), 1);

    h.Detach();
    EXPECT_FALSE(h.IsAttached());
    EXPECT_EQ(dev->OpenCount(), 0);
    EXPECT_EQ(h.SerialNumber(), "SN-42");  // kept for the reconnection
    h.Detach();                            // nothing attached: nothing happens
    EXPECT_EQ(dev->CallCount("Close"), 1u);
    EXPECT_EQ(dev->ContractViolations(), 0);
}

TEST_F(Attach, FailuresLeaveTheHolderDetachedAndTheDeviceClosed) {
    LogCapture log;
    Holder h(&mgr);
    dev->SetResult("Open", CAMERA_STATUS_IO_ERROR);
    EXPECT_EQ(h.Attach(dev), CAMERA_STATUS_DEVICE_OPEN_FAILED);
    EXPECT_EQ(log.Count("open failed\n"), 1);
    EXPECT_FALSE(h.IsAttached());

    dev->SetResult("Open", 0);
    dev->SetResult("GetSN", CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(h.Attach(dev), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(log.Count("get device sn failed\n"), 1);
    EXPECT_FALSE(h.IsAttached());
    // The open of the failed attachment is not left behind.
    EXPECT_EQ(dev->OpenCount(), 0);

    EXPECT_EQ(h.Attach(nullptr), CAMERA_STATUS_PARAMETER_INVALID);
}

TEST_F(Attach, AttachingAnotherDeviceClosesThePreviousOne) {
    Holder h(&mgr);
    auto other = std::make_shared<CFakeDevice>("SN-43", "Cam");
    ASSERT_EQ(h.Attach(dev), 0);
    ASSERT_EQ(h.Attach(other), 0);
    EXPECT_EQ(dev->OpenCount(), 0);
    EXPECT_EQ(other->OpenCount(), 1);
    EXPECT_EQ(h.SerialNumber(), "SN-43");
}

TEST_F(Attach, SameDeviceAfterReEnumerationBySerialNumber) {
    Holder h(&mgr);
    EXPECT_FALSE(h.IsSameDevice(nullptr));
    ASSERT_EQ(h.Attach(dev), 0);
    h.Detach();

    // A new object for the same camera (as a USB re-enumeration makes) and another camera.
    auto again = std::make_shared<CFakeDevice>("SN-42", "Cam", "bus:2:address:9");
    auto stranger = std::make_shared<CFakeDevice>("SN-99", "Cam");
    EXPECT_TRUE(h.IsSameDevice(again));
    EXPECT_FALSE(h.IsSameDevice(stranger));
    ASSERT_EQ(h.Attach(again), 0);
    EXPECT_EQ(h.CheckAlive(), 1);
    again->SetAlive(false);
    EXPECT_EQ(h.CheckAlive(), 0);
}

TEST_F(Attach, RegistrationIsIdempotentAndCountsOneLoss) {
    LogCapture log;
    Holder h(&mgr);
    EXPECT_EQ(h.RegisterKeepAlive(&h), 0);
    EXPECT_EQ(h.RegisterKeepAlive(&h), 0);
    EXPECT_TRUE(h.IsRegistered());
    EXPECT_EQ(h.GetLostCount(), 1);
    EXPECT_TRUE(mgr.IsRegistered(&h));
    EXPECT_EQ(h.UnregisterKeepAlive(&h), 0);
    EXPECT_FALSE(h.IsRegistered());
    EXPECT_FALSE(mgr.IsRegistered(&h));
    EXPECT_EQ(h.UnregisterKeepAlive(&h), 0);
    EXPECT_EQ(h.GetLostCount(), 1);

    int adds = 0;
    for (const auto& line : log.Lines())
        if (line.rfind("KLive_RegisterDev:", 0) == 0) ++adds;
    EXPECT_EQ(adds, 1);
}

// Every forwarder: -1 without a device and no device call; with one, the device's answer for
// the same arguments.
TEST_F(Attach, EveryForwarderAnswersMinusOneWithoutADevice) {
    Holder h(&mgr);
    int i = 0, j = 0;
    double x = 0;
    uint16_t w = 0;
    char text[256] = {};
    uint8_t bytes[64] = {};
    SensorInfo info{};
    SensorParam param{};
    stImageInfo image{};
    tSdkResolution res{};
    tSdkCapability cap{};
    tDevInfo devInfo{};
    CameraProperty prop{};
    DeviceMiscInfo misc{};
    tGigeIpConfig ip{};
    CameraInitParam init{};
    CFrameBucket bucket(2);
    auto cb = [](void*, int, void*) {};

    // {wrapper, operation the fake records (null: answered by the base), result when attached}
    struct Row {
        const char* name;
        std::function<int()> call;
        const char* deviceOp;
    };
    const std::vector<Row> rows = {
        {"Open", [&] { return h.Open(); }, "Open"},
        {"Close", [&] { return h.Close(); }, "Close"},
        {"SetDisconnectCallback", [&] { return h.SetDisconnectCallback(cb, &i); },
         "SetDisconnectCallback"},
        {"InitSensor", [&] { return h.InitSensor(&init); }, nullptr},
        {"UnInitSensor", [&] { return h.UnInitSensor(); }, nullptr},
        {"SetSensorAuxValue", [&] { return h.SetSensorAuxValue(1); }, nullptr},
        {"GetLineTime", [&] { return h.GetLineTime(&i); }, nullptr},
        {"SetExposureLines", [&] { return h.SetExposureLines(10); }, "SetExposureLines"},
        {"SetExposure", [&] { return h.SetExposure(100.0); }, "SetExposure"},
        {"GetExposure", [&] { return h.GetExposure(&x); }, "GetExposure"},
        {"GetExposureLineTime", [&] { return h.GetExposureLineTime(&x); }, nullptr},
        {"SetFrameTime", [&] { return h.SetFrameTime(1.0); }, nullptr},
        {"GetFrameTime", [&] { return h.GetFrameTime(&x); }, nullptr},
        {"SetFrameSpeed", [&] { return h.SetFrameSpeed(1); }, nullptr},
        {"GetFrameSpeed", [&] { return h.GetFrameSpeed(&i); }, nullptr},
        {"GetFrameTimeRange", [&] { return h.GetFrameTimeRange(&i, &j); }, nullptr},
        {"SetSensorAuxPair", [&] { return h.SetSensorAuxPair(1, 2); }, nullptr},
        {"GetAnalogGainRange", [&] { return h.GetAnalogGainRange(&i, &j); }, nullptr},
        {"SetAnalogGain", [&] { return h.SetAnalogGain(1000); }, "SetAnalogGain"},
        {"GetAnalogGain", [&] { return h.GetAnalogGain(&i); }, "GetAnalogGain"},
        {"SetBlackLevel", [&] { return h.SetBlackLevel(1); }, nullptr},
        {"GetBlackLevel", [&] { return h.GetBlackLevel(&i); }, nullptr},
        {"SetWdrMode", [&] { return h.SetWdrMode(1); }, nullptr},
        {"GetWdrMode", [&] { return h.GetWdrMode(&i); }, nullptr},
        {"StreamOn", [&] { return h.StreamOn(); }, "StreamOn"},
        {"StreamOff", [&] { return h.StreamOff(); }, "StreamOff"},
        {"SetTriggerMode", [&] { return h.SetTriggerMode(1); }, "SetTriggerMode"},
        {"SoftTrigger", [&] { return h.SoftTrigger(); }, nullptr},
        {"GetSensorTypeInfo", [&] { return h.GetSensorTypeInfo(&info); }, nullptr},
        {"GetSensorParam", [&] { return h.GetSensorParam(&param); }, nullptr},
        {"GetImageInfo", [&] { return h.GetImageInfo(&image); }, nullptr},
        {"SetResolution", [&] { return h.SetResolution(&res); }, nullptr},
        {"GetResolution", [&] { return h.GetResolution(&res); }, nullptr},
        {"SetRoiOffset", [&] { return h.SetRoiOffset(2, 2); }, nullptr},
        {"SetAeTarget", [&] { return h.SetAeTarget(100); }, nullptr},
        {"Reboot", [&] { return h.Reboot(); }, "Reboot"},
        {"ResetTimestamp", [&] { return h.ResetTimestamp(); }, "ResetTimestamp"},
        {"GetDeviceType", [&] { return h.GetDeviceType(&w); }, "GetDeviceType"},
        {"GetSN", [&] { return h.GetSN(text); }, "GetSN"},
        {"GetFirmwareVersion", [&] { return h.GetFirmwareVersion(&w); }, "GetFirmwareVersion"},
        {"GetDriverVersion", [&] { return h.GetDriverVersion(text); }, nullptr},
        {"GetCameraDevParam", [&] { return h.GetCameraDevParam(&cap, &devInfo, &prop, &misc); },
         "GetCameraDevParam"},
        {"DevWriteSN", [&] { return h.DevWriteSN(bytes, 1); }, nullptr},
        {"DevReadSN", [&] { return h.DevReadSN(bytes, 1); }, nullptr},
        {"DevSaveUserData", [&] { return h.DevSaveUserData(0, bytes, 4); }, nullptr},
        {"DevLoadUserData", [&] { return h.DevLoadUserData(0, bytes, 4); }, nullptr},
        {"DevSaveBadPixelTable", [&] { return h.DevSaveBadPixelTable(bytes, 4); }, nullptr},
        {"DevLoadBadPixelTable", [&] { return h.DevLoadBadPixelTable(bytes, 4); }, nullptr},
        {"DevGetFriendlyName", [&] { return h.DevGetFriendlyName(text); }, nullptr},
        {"DevSetFriendlyName", [&] { return h.DevSetFriendlyName(text); }, nullptr},
        {"SetTriggerFrameCount", [&] { return h.SetTriggerFrameCount(2); }, "SetTriggerFrameCount"},
        {"SetTriggerJitterTime", [&] { return h.SetTriggerJitterTime(0, 5); },
         "SetTriggerJitterTime"},
        {"SetTriggerDelayTime", [&] { return h.SetTriggerDelayTime(5); }, "SetTriggerDelayTime"},
        {"SetTriggerSignalType", [&] { return h.SetTriggerSignalType(0, 1); },
         "SetTriggerSignalType"},
        {"SetStrobeMode", [&] { return h.SetStrobeMode(0, 1); }, "SetStrobeMode"},
        {"SetStrobeDelayTime", [&] { return h.SetStrobeDelayTime(0, 7); }, "SetStrobeDelayTime"},
        {"SetStrobePolarity", [&] { return h.SetStrobePolarity(0, 1); }, "SetStrobePolarity"},
        {"SetStrobePulseWidth", [&] { return h.SetStrobePulseWidth(0, 9); }, "SetStrobePulseWidth"},
        {"SetOutputIOMode", [&] { return h.SetOutputIOMode(1, 2); }, "SetOutputIOMode"},
        {"SetTriggerInhibit", [&] { return h.SetTriggerInhibit(0, 1); }, "SetTriggerInhibit"},
        {"SetOutputIOState", [&] { return h.SetOutputIOState(1, 1); }, "SetOutputIOState"},
        {"SetOutputIOPWM", [&] { return h.SetOutputIOPWM(1, 100, 50); }, "SetOutputIOPWM"},
        {"GetInputIOState", [&] { return h.GetInputIOState(0, &i); }, "GetInputIOState"},
        {"GetIpConfig", [&] { return h.GetIpConfig(&ip); }, "GetIpConfig"},
        {"SetIpConfig", [&] { return h.SetIpConfig(&ip); }, "SetIpConfig"},
        {"SetPacketDelay", [&] { return h.SetPacketDelay(3); }, "SetPacketDelay"},
        {"SetResend", [&] { return h.SetResend(0x101, 10, 30, 3); }, "SetResend"},
        {"GetOptimalPacketSize", [&] { return h.GetOptimalPacketSize(&i); },
         "GetOptimalPacketSize"},
        {"RequestTransferImage", [&] { return h.RequestTransferImage(); }, "RequestTransferImage"},
        {"RequestTransferImageEx", [&] { return h.RequestTransferImageEx(2); },
         "RequestTransferImageEx"},
        {"Upgrade", [&] { return h.Upgrade("x.bin", nullptr, nullptr); }, "Upgrade"},
        {"SetIntValue", [&] { return h.SetIntValue(14, 3); }, "SetIntValue"},
        {"GetIntValue", [&] { return h.GetIntValue(14, &i); }, "GetIntValue"},
        {"StartStream", [&] { return h.StartStream(); }, "StartStream"},
        {"StopStream", [&] { return h.StopStream(); }, "StopStream"},
        {"StartCapture", [&] { return h.StartCapture(); }, "StartCapture"},
        {"StopCapture", [&] { return h.StopCapture(); }, "StopCapture"},
        {"OpenStream", [&] { return h.OpenStream(bucket.GetProducer(), &init); }, "OpenStream"},
        {"CloseStream", [&] { return h.CloseStream(); }, "CloseStream"},
    };

    for (const Row& row : rows) EXPECT_EQ(row.call(), CAMERA_STATUS_FAILED) << row.name;
    EXPECT_EQ(h.CheckAlive(), CAMERA_STATUS_FAILED);
    EXPECT_TRUE(dev->Calls().empty());

    // Attached: each recorded operation answers its scripted code through the wrapper.
    ASSERT_EQ(h.Attach(dev), 0);
    int code = -1000;
    for (const Row& row : rows) {
        if (row.deviceOp == nullptr || std::strcmp(row.name, "Open") == 0 ||
            std::strcmp(row.name, "Close") == 0)
            continue;
        dev->SetResult(row.deviceOp, --code);
        dev->ClearCalls();
        EXPECT_EQ(row.call(), code) << row.name;
        const auto names = dev->CallNames();
        ASSERT_FALSE(names.empty()) << row.name;
        EXPECT_EQ(names.front(), row.deviceOp) << row.name;
    }
    // The base-answered sensor operations come back as the device's -57 (no driver).
    EXPECT_EQ(h.GetLineTime(&i), CAMERA_STATUS_NO_SENSOR);
    // The resend flag reaches the device as one byte: 0x101 becomes 1.
    dev->SetResult("SetResend", 0);
    dev->ClearCalls();
    h.SetResend(0x101, 10, 30, 3);
    EXPECT_EQ(dev->Calls().at(0).args, (std::vector<int64_t>{1, 10, 30, 3}));
}

// A disconnect callback installed through the holder never outlives the attachment.
TEST_F(Attach, DisconnectCallbackIsRemovedAtDetachAndReinstalledAtAttach) {
    static std::atomic<int> calls{0};
    auto cb = [](void*, int, void*) { calls.fetch_add(1); };
    calls = 0;
    auto* h = new Holder(&mgr);
    ASSERT_EQ(h->Attach(dev), 0);
    ASSERT_EQ(h->SetDisconnectCallback(cb, h), 0);
    dev->FireDisconnect();
    EXPECT_EQ(calls.load(), 1);

    h->Detach();  // e.g. the camera was lost
    EXPECT_FALSE(dev->HasDisconnectCallback());
    dev->FireDisconnect();  // a late report of the old object reaches nobody
    EXPECT_EQ(calls.load(), 1);

    auto returned = std::make_shared<CFakeDevice>("SN-42", "Cam");
    ASSERT_EQ(h->Attach(returned), 0);
    EXPECT_TRUE(returned->HasDisconnectCallback());

    delete h;  // released while attached
    EXPECT_FALSE(returned->HasDisconnectCallback());
    returned->FireDisconnect();
    EXPECT_EQ(calls.load(), 1);
    EXPECT_EQ(returned->OpenCount(), 0);
}

// Wrappers, attachment and liveness from several threads at once (run under TSan).
TEST_F(Attach, ConcurrentUseThroughTheHolder) {
    Holder h(&mgr);
    std::atomic<bool> stop{false};
    std::atomic<int> minusOnes{0}, answers{0};
    std::vector<std::thread> users;
    for (int t = 0; t < 3; ++t)
        users.emplace_back([&] {
            while (!stop.load()) {
                double us = 0;
                const int r = h.GetExposure(&us);
                (r == CAMERA_STATUS_FAILED ? minusOnes : answers).fetch_add(1);
                h.CheckAlive();
                h.IsSameDevice(dev);
            }
        });
    auto cb = [](void*, int, void*) {};
    // At least 200 rounds, and on until the users have called through the holder a few hundred
    // times: on a busy machine they may not get a turn during the first rounds.
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    for (int k = 0; k < 200 || (minusOnes.load() + answers.load() < 300 &&
                                std::chrono::steady_clock::now() < deadline);
         ++k) {
        ASSERT_EQ(h.Attach(dev), 0);
        h.SetDisconnectCallback(cb, nullptr);
        dev->FireDisconnect();
        h.Detach();
    }
    stop = true;
    for (auto& t : users) t.join();
    EXPECT_EQ(dev->OpenCount(), 0);
    EXPECT_EQ(dev->ContractViolations(), 0);
    EXPECT_GE(minusOnes.load() + answers.load(), 300);
}

}  // namespace
