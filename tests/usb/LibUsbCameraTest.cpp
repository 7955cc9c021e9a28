// The USB camera device on the real libusb, with simulated cameras behind umockdev: open with
// the stored identity, the hardware type and device information, the open count, a failed open,
// stream open (reset, stream stop, claim) and its failures, a second handle refused without
// disturbing the stream, a stall, a short reply, an unplug and the liveness poll. The executable
// runs itself under the umockdev preload (UmockdevPreload.cpp).
#include <libusb.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "device/CameraInitParam.h"
#include "FakeSensor.h"
#include "frames/FrameBucket.h"
#include "LogCapture.h"
#include "UsbTestRig.h"
#include "UsbTestbedFixture.h"
#include "usb/LibUsbCamera.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kModel107 = 0xAA220007;

using usbtest::TestCamera;

struct Port {
    int bus, address;
};

class LibUsbCameraTest : public usbtest::TestbedTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(TestbedTest::SetUp());
        ASSERT_EQ(libusb_init(&m_ctx), 0);
    }

    void TearDown() override {
        m_cameras.clear();
        libusb_exit(m_ctx);
        RemoveDevices();
    }

    // A camera whose storage holds a valid identity with this model code.
    std::shared_ptr<CSimUsbCamera> Plug(Port port, uint32_t modelCode,
                                        SimUsbGeneration generation = SimUsbGeneration::kUsb3,
                                        bool superSpeedPlus = false) {
        usbtest::Identity id;
        id.modelCode = modelCode;
        id.generation = generation;
        id.portType = "stored text";
        auto model = usbtest::MakeStoredCamera(id);
        PlugModel(port, model, superSpeedPlus);
        return model;
    }

    CSimUsbDevice& PlugModel(Port port, std::shared_ptr<CSimUsbCamera> model,
                             bool superSpeedPlus = false) {
        return TestbedTest::Plug(
            std::move(model), {.port = {port.bus, port.address}, .superSpeedPlus = superSpeedPlus});
    }

    // A device object for the camera at port on this test's context (not opened).
    std::shared_ptr<TestCamera> Make(Port port) {
        auto camera = usbtest::MakeTestCamera(port.bus, port.address, m_ctx);
        if (camera) m_cameras.push_back(camera);
        return camera;
    }

    static bool Logged(const qvsim::LogCapture& log, const std::string& prefix) {
        const auto lines = log.Lines();
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
    }

    libusb_context* m_ctx = nullptr;
    std::vector<std::shared_ptr<TestCamera>> m_cameras;
};

TEST_F(LibUsbCameraTest, OpenReadsTheStoredIdentity) {
    qvsim::LogCapture log;
    Plug({1, 10}, kModel107);
    auto camera = Make({1, 10});
    ASSERT_TRUE(camera);
    ASSERT_EQ(camera->Open(nullptr), 0);
    EXPECT_TRUE(Logged(log, "open device:"));
    EXPECT_TRUE(Logged(log, "Open usb device handle successfully, device handle 0x"));

    char sn[32] = {};
    EXPECT_EQ(camera->GetSN(sn), 0);
    EXPECT_STREQ(sn, "QV0001");
    EXPECT_EQ(camera->GetHardwareType(), 107);
    CameraProperty prop{};
    EXPECT_EQ(camera->GetDeviceProperty(&prop), 0);
    EXPECT_EQ(prop.modelCode, kModel107);
    EXPECT_EQ(prop.userDataSize, 0xB000);  // the flash map's user-data area

    tDevInfo info{};
    DeviceMiscInfo misc{};
    EXPECT_EQ(camera->GetDeviceInfo(&info, &misc), 0);
    EXPECT_STREQ(info.acSn, "QV0001");
    EXPECT_STREQ(info.acFriendlyName, "Line 3");
    EXPECT_STREQ(info.acProductName, "QV-U3");
    EXPECT_STREQ(info.acProductSeries, "QV");
    EXPECT_STREQ(info.acDriverName, "libusb camera");
    EXPECT_STREQ(info.acSymbolicName, "bus:1:address:10");
    EXPECT_STREQ(info.acPortType, "USB3.0");  // the link, whatever the stored text
    EXPECT_STREQ(info.acSensorName, "Sensor Unknow");
    EXPECT_EQ(info.uDeviceType, 0x1301);
    EXPECT_EQ(info.uFirmwareVersion, 0x1234);
    EXPECT_EQ(info.uSignature, 0x1216);
    EXPECT_STREQ(misc.firmwareVersion, "v1.2.3.4");
    EXPECT_EQ(misc.defaultFrameSpeed, 2);

    DevAccessStatus access{};
    std::strcpy(access.description, "kept");
    access.inUse = 1;
    access.openCount = 3;
    EXPECT_EQ(camera->GetAccessStatus(&access), 0);
    EXPECT_EQ(access.openCount, 0);
    EXPECT_EQ(access.inUse, 0);
    EXPECT_STREQ(access.description, "kept");
    EXPECT_FALSE(camera->IsInUse());
    EXPECT_EQ(camera->GetAccessStatus(nullptr), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(camera->Close(), 0);
}

TEST_F(LibUsbCameraTest, HardwareTypeAndLinkByBoard) {
    struct Row {
        uint32_t modelCode;
        SimUsbGeneration generation;
        bool superSpeedPlus;
        int type;
        const char* port;
        int frameSpeed;
        uint32_t header;
    };
    const Row rows[] = {
        {0xAA22000B, SimUsbGeneration::kUsb3, true, 111, "USB3.2", 2, 16},
        {0xAA070001, SimUsbGeneration::kUsb3, false, 303, "USB3.0", 1, 16},
        {0xAA220009, SimUsbGeneration::kUsb3, false, 109, "USB3.0", 2, 0},
        {0x12345678, SimUsbGeneration::kUsb3, false, 0, "USB3.0", 1, 0},  // opens all the same
        {0xAA0C0001, SimUsbGeneration::kUsb2, false, 9, "USB2.0", 2, 16},
    };
    int address = 20;
    for (const Row& r : rows) {
        const Port port{2, address++};
        Plug(port, r.modelCode, r.generation, r.superSpeedPlus);
        auto camera = Make(port);
        ASSERT_TRUE(camera);
        ASSERT_EQ(camera->Open(nullptr), 0) << std::hex << r.modelCode;
        EXPECT_EQ(camera->GetHardwareType(), r.type);
        EXPECT_EQ(camera->GetFrameHeaderSize(), r.header);
        tDevInfo info{};
        DeviceMiscInfo misc{};
        EXPECT_EQ(camera->GetDeviceInfo(&info, &misc), 0);
        EXPECT_STREQ(info.acPortType, r.port) << r.type;
        EXPECT_EQ(misc.defaultFrameSpeed, r.frameSpeed) << r.type;
        EXPECT_EQ(info.uDeviceType, r.generation == SimUsbGeneration::kUsb3 ? 0x1301 : 0x1201);
    }
}

TEST_F(LibUsbCameraTest, OpenIsCountedAndTheLastCloseEndsIt) {
    auto model = Plug({1, 11}, kModel107);
    auto camera = Make({1, 11});
    ASSERT_TRUE(camera);
    ASSERT_EQ(camera->Open(nullptr), 0);
    model->ClearRequests();
    EXPECT_EQ(camera->Open(nullptr), 0);
    EXPECT_TRUE(model->Requests().empty());  // counted, no traffic
    EXPECT_EQ(camera->Close(), 0);
    uint16_t type = 0;
    EXPECT_EQ(camera->GetDeviceType(&type), 0);  // still open
    EXPECT_EQ(camera->Close(), 0);
    model->ClearRequests();
    EXPECT_EQ(camera->GetDeviceType(&type), CAMERA_STATUS_HARDWARE_NOT_FOUND);
    EXPECT_EQ(camera->GetAccessStatus(nullptr), CAMERA_STATUS_PARAMETER_INVALID);
    DevAccessStatus access{};
    EXPECT_EQ(camera->GetAccessStatus(&access), CAMERA_STATUS_HARDWARE_NOT_FOUND);
    EXPECT_TRUE(model->Requests().empty());
    // Open again after the last close.
    EXPECT_EQ(camera->Open(nullptr), 0);
    EXPECT_EQ(camera->GetDeviceType(&type), 0);
}

TEST_F(LibUsbCameraTest, FailedOpenLeavesTheCameraClosed) {
    qvsim::LogCapture log;
    // An erased flash holds no parameter blocks: no storage object can be made.
    PlugModel({1, 12}, std::make_shared<CSimUsbCamera>());
    auto camera = Make({1, 12});
    ASSERT_TRUE(camera);
    EXPECT_EQ(camera->Open(nullptr), CAMERA_STATUS_DEVICE_OPEN_FAILED);
    EXPECT_EQ(log.Count("Make EEPROM instance failed\n"), 1);
    uint16_t type = 0;
    EXPECT_EQ(camera->GetDeviceType(&type), CAMERA_STATUS_HARDWARE_NOT_FOUND);
    // The count went back to 0: the next open tries again.
    EXPECT_EQ(camera->Open(nullptr), CAMERA_STATUS_DEVICE_OPEN_FAILED);
    EXPECT_EQ(log.Count("Make EEPROM instance failed\n"), 2);

    // A camera that is gone cannot be opened.
    CSimUsbDevice& gone = PlugModel({1, 13}, std::make_shared<CSimUsbCamera>());
    auto lost = Make({1, 13});
    ASSERT_TRUE(lost);
    gone.Unplug();
    EXPECT_EQ(lost->Open(nullptr), CAMERA_STATUS_DEVICE_OPEN_FAILED);
    EXPECT_EQ(lost->GetDeviceType(&type), CAMERA_STATUS_HARDWARE_NOT_FOUND);
}

TEST_F(LibUsbCameraTest, StreamOpenResetsStopsAndClaims) {
    auto model = Plug({1, 14}, 0x12345678);  // type 0: no FPGA, no header
    CSimUsbDevice& dev = *m_devices.back();
    auto camera = Make({1, 14});
    ASSERT_TRUE(camera);
    ASSERT_EQ(camera->Open(nullptr), 0);
    camera->AdoptFakeSensor(640 * 480);
    // The camera streams from an earlier session; stream open must stop it.
    ASSERT_EQ(camera->StartStream(), 0);
    ASSERT_TRUE(model->IsStreaming());
    model->ClearRequests();

    CFrameBucket bucket(3);
    bucket.SetStatus(CAMERA_STATUS_DEVICE_LOST);
    CameraInitParam param{};
    EXPECT_EQ(camera->OpenStream(bucket.GetProducer(), &param), 0);
    EXPECT_EQ(model->BusResets(), 1);
    EXPECT_FALSE(model->IsStreaming());
    const auto log = model->Requests();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front().setup.request, 0xB8);
    EXPECT_GE(dev.GetStats().claims, 1u);
    EXPECT_EQ(bucket.GetStatus(), 0);  // the stream is up again

    // The interface is this handle's until the stream closes.
    auto other = Make({1, 14});
    ASSERT_TRUE(other);
    ASSERT_EQ(other->Open(nullptr), 0);
    other->AdoptFakeSensor(640 * 480);
    EXPECT_EQ(other->OpenStream(nullptr, &param), CAMERA_STATUS_DEVICE_IS_OPENED);
    EXPECT_EQ(camera->CloseStream(), 0);
    EXPECT_EQ(camera->CloseStream(), 0);
    EXPECT_EQ(other->OpenStream(nullptr, &param), 0);
    EXPECT_EQ(other->CloseStream(), 0);
}

// A second handle on a streaming camera (another object of this process here; another process
// alike) is refused before it touches the camera: no reset, no stream stop.
TEST_F(LibUsbCameraTest, SecondHandleIsRefusedWithoutDisturbingTheStream) {
    qvsim::LogCapture log;
    auto model = Plug({1, 15}, 0x12345678);
    auto first = Make({1, 15});
    auto second = Make({1, 15});
    ASSERT_TRUE(first && second);
    ASSERT_EQ(first->Open(nullptr), 0);
    ASSERT_EQ(second->Open(nullptr), 0);
    first->AdoptFakeSensor(4096);
    second->AdoptFakeSensor(4096);
    CameraInitParam param{};
    ASSERT_EQ(first->OpenStream(nullptr, &param), 0);
    ASSERT_EQ(first->StartStream(), 0);
    ASSERT_TRUE(model->IsStreaming());
    const int resets = model->BusResets();
    model->ClearRequests();

    EXPECT_EQ(second->OpenStream(nullptr, &param), CAMERA_STATUS_DEVICE_IS_OPENED);
    EXPECT_EQ(first->OpenStream(nullptr, &param), CAMERA_STATUS_DEVICE_IS_OPENED);
    EXPECT_EQ(model->BusResets(), resets);
    EXPECT_TRUE(model->IsStreaming());
    EXPECT_TRUE(model->Requests().empty());
    // Its close touches nothing of the stream either.
    EXPECT_EQ(second->CloseStream(), 0);
    EXPECT_EQ(second->Close(), 0);
    EXPECT_TRUE(model->IsStreaming());
    EXPECT_TRUE(model->Requests().empty());
    EXPECT_EQ(first->StopStream(), 0);
    EXPECT_EQ(first->CloseStream(), 0);
}

TEST_F(LibUsbCameraTest, StreamOpenFailuresLeaveNothingBehind) {
    qvsim::LogCapture log;
    auto model = Plug({1, 16}, 0x12345678);
    auto camera = Make({1, 16});
    ASSERT_TRUE(camera);
    CameraInitParam param{};
    EXPECT_EQ(camera->OpenStream(nullptr, &param), CAMERA_STATUS_STREAM_OPEN_FAILED);
    EXPECT_EQ(log.Count("No open device handle\n"), 1);
    ASSERT_EQ(camera->Open(nullptr), 0);

    // No driver for the stored sensor type.
    EXPECT_EQ(camera->OpenStream(nullptr, &param), CAMERA_STATUS_STREAM_OPEN_FAILED);
    EXPECT_EQ(log.Count("sensor manual set failed\r\n"), 1);
    EXPECT_EQ(log.Count("Sensor initialize failed\r\n"), 1);

    qvsim::CFakeSensor* sensor = camera->AdoptFakeSensor(4096);
    sensor->SetResult("Init", CAMERA_STATUS_IO_ERROR);
    EXPECT_EQ(camera->OpenStream(nullptr, &param), CAMERA_STATUS_STREAM_OPEN_FAILED);
    EXPECT_EQ(log.Count("Sensor initialize failed\r\n"), 2);
    sensor->SetResult("Init", 0);
    sensor->SetResult("GetImageInfo", CAMERA_STATUS_FAILED);
    EXPECT_EQ(camera->OpenStream(nullptr, &param), CAMERA_STATUS_STREAM_OPEN_FAILED);
    EXPECT_EQ(log.Count("Get image information failed\r\n"), 1);
    sensor->SetResult("GetImageInfo", 0);
    model->InjectFault({.kind = SimFaultKind::kWrongStatus, .request = 0xB8});
    EXPECT_EQ(camera->OpenStream(nullptr, &param), CAMERA_STATUS_STREAM_OPEN_FAILED);
    EXPECT_EQ(log.Count("Stop stream failed\r\n"), 1);

    // After every failure the interface was given back: another handle can claim it.
    auto other = Make({1, 16});
    ASSERT_TRUE(other);
    ASSERT_EQ(other->Open(nullptr), 0);
    other->AdoptFakeSensor(4096);
    EXPECT_EQ(other->OpenStream(nullptr, &param), 0);
    EXPECT_EQ(other->CloseStream(), 0);
    EXPECT_EQ(camera->OpenStream(nullptr, &param), 0);
}

TEST_F(LibUsbCameraTest, FpgaBoardWithoutImageCannotCreateItsSensor) {
    qvsim::LogCapture log;
    Plug({1, 17}, kModel107);
    auto camera = Make({1, 17});
    ASSERT_TRUE(camera);
    ASSERT_EQ(camera->Open(nullptr), 0);
    CameraInitParam param{};
    EXPECT_EQ(camera->OpenStream(nullptr, &param), CAMERA_STATUS_STREAM_OPEN_FAILED);
    EXPECT_EQ(log.Count("sensor manual set failed\r\n"), 1);
}

TEST_F(LibUsbCameraTest, StallAndShortReplyAreIoErrors) {
    qvsim::LogCapture log;
    auto model = Plug({1, 18}, kModel107);
    auto camera = Make({1, 18});
    ASSERT_TRUE(camera);
    ASSERT_EQ(camera->Open(nullptr), 0);
    model->InjectFault({.kind = SimFaultKind::kStall, .request = 0xD7});
    uint32_t value = 7;
    EXPECT_EQ(camera->ReadFpgaReg(129, &value), CAMERA_STATUS_IO_ERROR);
    EXPECT_EQ(log.Count("ioctl:err=-9, cmd 215, value 0, index 129\n"), 1);
    EXPECT_EQ(value, 7u);
    model->SetFpgaReg(129, 0x1306);
    EXPECT_EQ(camera->ReadFpgaReg(129, &value), 0);  // endpoint 0 recovers
    EXPECT_EQ(value, 0x1306u);

    // Two of the three reply bytes: the status byte never came, so no value either.
    model->InjectFault({.kind = SimFaultKind::kShortReply, .request = 0xD7});
    value = 7;
    EXPECT_EQ(camera->ReadFpgaReg(129, &value), CAMERA_STATUS_IO_ERROR);
    EXPECT_EQ(value, 7u);
    model->InjectFault({.kind = SimFaultKind::kShortReply, .request = 0xB9, .missing = 1});
    uint16_t type = 0;
    EXPECT_EQ(camera->GetDeviceType(&type), CAMERA_STATUS_IO_ERROR);
    EXPECT_EQ(type, 0);
    EXPECT_TRUE(camera->CheckAlive());
}

TEST_F(LibUsbCameraTest, RebootThroughTheControlEndpoint) {
    auto model = Plug({1, 19}, kModel107);
    auto camera = Make({1, 19});
    ASSERT_TRUE(camera);
    ASSERT_EQ(camera->Open(nullptr), 0);
    EXPECT_EQ(camera->Reboot(), 0);
    EXPECT_EQ(model->CpuResets(), 1);
}

void CountDisconnect(void* device, int status, void* context) {
    if (device == nullptr && status == 0) ++*static_cast<std::atomic<int>*>(context);
}

TEST_F(LibUsbCameraTest, UnplugGivesIoErrorsAndIsReported) {
    auto model = Plug({1, 21}, 0x12345678);
    CSimUsbDevice& dev = *m_devices.back();
    auto camera = Make({1, 21});
    ASSERT_TRUE(camera);
    ASSERT_EQ(camera->Open(nullptr), 0);
    camera->AdoptFakeSensor(4096);
    CameraInitParam param{};
    ASSERT_EQ(camera->OpenStream(nullptr, &param), 0);
    std::atomic<int> reports{0};
    ASSERT_EQ(camera->SetDisconnectCallback(CountDisconnect, &reports), 0);

    dev.Unplug();
    uint16_t type = 0;
    EXPECT_EQ(camera->GetDeviceType(&type), CAMERA_STATUS_IO_ERROR);
    EXPECT_FALSE(camera->CheckAlive());
    const auto deadline = Clock::now() + 10s;
    while (reports.load() == 0 && Clock::now() < deadline) std::this_thread::sleep_for(5ms);
    EXPECT_GE(reports.load(), 1);
    EXPECT_EQ(camera->SetDisconnectCallback(nullptr, nullptr), 0);
    // Closing a camera that is gone still ends cleanly.
    EXPECT_EQ(camera->CloseStream(), 0);
    EXPECT_EQ(camera->Close(), 0);
}

}  // namespace
