// A USB camera end to end: simulated mono IMX290 cameras (board 102: FPGA configured at the
// first stream open, 16-byte frame headers) behind the real libusb, driven through the
// exported functions: enumeration past a device of another maker, initialisation, play,
// processed and raw frames, pause and release; the cable pulled while streaming and put back;
// two cameras at once; a camera of another chip and board; the host-opened rescan.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "CallCounter.h"
#include "TimerServiceTurns.h"
#include "control/CameraControl.h"
#include "StorageImage.h"
#include "UsbEndToEndFixture.h"

namespace {

using namespace std::chrono_literals;
using e2etest::CManualClock;
using e2etest::kMono8;
using e2etest::UsbEndToEnd;
using Clock = std::chrono::steady_clock;

TEST_F(UsbEndToEnd, EnumerateInitPlayFramesPauseUnInit) {
    CSimUsbImx290Camera& cam = Plug(10, "E2E-A");
    CSimUsbDevice& foreign =
        s_testbed->AddCamera(std::make_shared<CSimUsbCamera>(),
                             {.port = {1, 11}, .vendorId = 0x046D, .productId = 0x0825});
    m_others.push_back(&foreign);

    ASSERT_EQ(EnumerateUntil(1), 0);
    EXPECT_EQ(foreign.GetStats().ioctls, 0u);  // never opened
    tDevInfo info{};
    ASSERT_EQ(CameraGetEnumIndexInfo(0, &info), 0);
    EXPECT_STREQ(info.acSn, "E2E-A");
    EXPECT_STREQ(info.acDriverName, "libusb camera");
    EXPECT_STREQ(info.acSymbolicName, "bus:1:address:10");
    EXPECT_STREQ(info.acPortType, "USB3.0");

    HANDLE h = Init(0);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(cam.Fpga().Loaded().size(), 1u);  // configured by the first stream open
    ASSERT_EQ(CameraPlay(h), 0);

    // Processed frames: mono at the sensor's size, taken in time order.
    uint64_t lastStamp = 0;
    for (int i = 0; i < 5; ++i) {
        stImageInfo frame{};
        uint64_t stamp = 0;
        const BYTE* data = CameraGetImageBufferEx3(h, &frame, &stamp, 5000);
        ASSERT_NE(data, nullptr) << i;
        EXPECT_EQ(frame.uiMediaType, kMono8);
        EXPECT_EQ(frame.iWidth, 320u);
        EXPECT_EQ(frame.iHeight, 240u);
        EXPECT_EQ(frame.TotalBytes, frame.iWidth * frame.iHeight);
        if (i > 0) {
            EXPECT_GT(stamp, lastStamp);
        }
        lastStamp = stamp;
    }
    stImageInfo frame{};
    ASSERT_NE(CameraGetImageBufferEx(h, &frame, 5000), nullptr);
    EXPECT_EQ(frame.uiMediaType, kMono8);

    // Raw frames: the camera's rising numbers and timestamps (33 ms apart at 30 frames/s).
    std::optional<RawFrame> last;
    for (int i = 0; i < 4; ++i) {
        const auto f = TakeRaw(h);
        ASSERT_TRUE(f) << i;
        if (last) {
            EXPECT_GT(f->no, last->no);
            EXPECT_GE(f->stamp - last->stamp, (f->no - last->no) * 30000);
        }
        last = f;
    }

    // Paused: a frame that completed before the pause may still be taken, then none comes.
    ASSERT_EQ(CameraPause(h), 0);
    const uint64_t completed = cam.Model().FramesCompleted();
    if (CameraGetImageBufferEx(h, &frame, 100) != nullptr) {
        EXPECT_EQ(CameraGetImageBufferEx(h, &frame, 300), nullptr);
    }
    EXPECT_LE(cam.Model().FramesCompleted(), completed + 1);
    UnInit(h);
    EXPECT_FALSE(cam.Model().IsStreaming());
}

// The cable is pulled while the camera plays: the wait that finds no frame for the loss time
// answers -12, every later one -38; once the camera is back at its port the keep-alive service
// opens it again with the settings it ran with, and frames come again.
TEST_F(UsbEndToEnd, UnplugWhileStreamingThenReplugResumes) {
    CSimUsbImx290Camera& cam = Plug(20, "E2E-LOSS");
    ASSERT_EQ(EnumerateUntil(1), 0);
    HANDLE h = Init(0);
    ASSERT_NE(h, nullptr);
    CManualClock clock;
    static_cast<CameraControl*>(h)->SetClock(&clock);
    ASSERT_EQ(CameraPlay(h), 0);
    ASSERT_TRUE(TakeRaw(h));

    // What the camera runs with: the sensor's and the FPGA's registers as the SDK set them.
    auto sensorRegs = [](CSimUsbCamera& m) {
        std::vector<uint16_t> v;
        for (uint16_t r = 0x3000; r < 0x3500; ++r)
            v.push_back(m.SensorReg(CSimUsbImx290Camera::kSensorBusAddress, r).value_or(0));
        return v;
    };
    auto fpgaRegs = [](CSimUsbCamera& m) {
        std::vector<uint16_t> v;
        for (uint16_t r = 0; r < 64; ++r) v.push_back(m.FpgaReg(r));
        return v;
    };
    const auto sensorBefore = sensorRegs(cam.Model());
    const auto fpgaBefore = fpgaRegs(cam.Model());

    cam.Pull();
    // Frames that arrived before the cable went are still handed out; then the waits time out.
    CameraFrameHandle raw = nullptr;
    int r = 0;
    for (int i = 0; i < 4 && (r = CameraGetRawImageBuffer(h, &raw, 100)) == 0; ++i)
        CameraReleaseFrameHandle(h, raw);
    ASSERT_EQ(r, CAMERA_STATUS_TIMEOUT);
    // No frame for the loss time: the wait that finds it answers -12, the next ones -38.
    clock.Advance(5000);
    EXPECT_EQ(CameraGetRawImageBuffer(h, &raw, 100), CAMERA_STATUS_TIMEOUT);
    EXPECT_EQ(CameraGetRawImageBuffer(h, &raw, 100), CAMERA_STATUS_DEVICE_LOST);
    stImageInfo frame{};
    EXPECT_EQ(CameraGetImageBufferEx(h, &frame, 100), nullptr);
    EXPECT_EQ(CameraGetRawImageBuffer(h, &raw, 100), CAMERA_STATUS_DEVICE_LOST);

    cam.PlugAgain();
    std::optional<RawFrame> back;
    // The keep-alive service looks once a second; the camera's FPGA and sensor are set up again.
    const auto deadline = Clock::now() + 60s;
    while (!back && Clock::now() < deadline) back = TakeRaw(h, 200);
    ASSERT_TRUE(back) << "no frame after the camera came back";
    EXPECT_EQ(cam.Fpga().Loaded().size(), 1u);
    EXPECT_EQ(sensorRegs(cam.Model()), sensorBefore);
    EXPECT_EQ(fpgaRegs(cam.Model()), fpgaBefore);
    ASSERT_TRUE(TakeRaw(h));
    ASSERT_NE(CameraGetImageBufferEx(h, &frame, 5000), nullptr);
    EXPECT_EQ(frame.uiMediaType, kMono8);
    UnInit(h);
}

// Two cameras stream at once, each into its own controller.
TEST_F(UsbEndToEnd, TwoCamerasAtOnce) {
    Plug(30, "E2E-ONE", 30);
    // The second sends a flat grey image, so a frame of the wrong camera shows.
    Plug(31, "E2E-TWO", 30, SimFramePattern::kConstant, 0x80);
    ASSERT_EQ(EnumerateUntil(2), 0);
    HANDLE one = InitBySerial("E2E-ONE");
    HANDLE two = InitBySerial("E2E-TWO");
    ASSERT_TRUE(one && two);
    ASSERT_EQ(CameraPlay(one), 0);
    ASSERT_EQ(CameraPlay(two), 0);
    for (int i = 0; i < 6; ++i) {
        for (HANDLE h : {one, two}) {
            stImageInfo frame{};
            const BYTE* data = CameraGetImageBufferEx(h, &frame, 5000);
            ASSERT_NE(data, nullptr);
            ASSERT_EQ(frame.TotalBytes, 320u * 240u);
            const bool flat =
                std::all_of(data, data + frame.TotalBytes, [&](BYTE b) { return b == data[0]; });
            EXPECT_EQ(flat, h == two) << i;
        }
        ASSERT_TRUE(TakeRaw(one));
    }
    UnInit(one);
    UnInit(two);
}

// Another chip on another board: a mono IMX178 on board 104. The SDK makes its driver from the
// stored sensor type, the driver programs the chip on its bus, and frames come at the window the
// driver sets in the FPGA.
TEST_F(UsbEndToEnd, Imx178OnBoard104) {
    SimImx290Options o;
    o.sensorType = 21;         // "IMX178M"
    o.modelCode = 0xAA220004;  // hardware type 104
    o.fpga.configuredVersion = 0x1301;
    o.productName = "QV-U3M-178";
    o.serial = "E2E-178";
    o.port = {1, 50};
    ASSERT_TRUE(qvsim::UseResolution("QV-U3M-178", qvsim::CustomResolution(16, 8, 320, 240)));
    m_cameras.push_back(std::make_unique<CSimUsbImx290Camera>(*s_testbed, o));
    CSimUsbImx290Camera& cam = *m_cameras.back();
    ASSERT_EQ(EnumerateUntil(1), 0);
    tDevInfo info{};
    ASSERT_EQ(CameraGetEnumIndexInfo(0, &info), 0);
    EXPECT_STREQ(info.acSn, "E2E-178");

    HANDLE h = Init(0);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(cam.Fpga().Loaded().size(), 1u);
    EXPECT_EQ(cam.Fpga().Loaded()[0].hardwareType, 104);
    ASSERT_EQ(CameraPlay(h), 0);
    for (int i = 0; i < 3; ++i) {
        stImageInfo frame{};
        ASSERT_NE(CameraGetImageBufferEx(h, &frame, 5000), nullptr) << i;
        EXPECT_EQ(frame.uiMediaType, kMono8);
        EXPECT_EQ(frame.iWidth, 320u);
        EXPECT_EQ(frame.iHeight, 240u);
    }
    ASSERT_TRUE(TakeRaw(h));
    // The chip runs: out of standby and master mode, its window 320 + 4 wide from column 16.
    const CSimUsbCamera& m = cam.Model();
    EXPECT_EQ(m.SensorReg(0x34, 0x3000).value_or(0xFF), 0);
    EXPECT_EQ(m.SensorReg(0x34, 0x3008).value_or(0xFF), 0);
    EXPECT_EQ(m.SensorReg(0x34, 0x319C).value_or(0), 16);
    EXPECT_EQ(m.SensorReg(0x34, 0x319E).value_or(0) | m.SensorReg(0x34, 0x319F).value_or(0) << 8,
              324);
    UnInit(h);
    EXPECT_FALSE(cam.Model().IsStreaming());
}

// A chip the SDK checks before it makes its driver: a mono AR0134 on board 100 answers its
// identity (register 0x3000 on the 16-bit bus 0x20) through the vendor read; a camera whose chip
// answers another value gets no driver, and CameraInit fails at the stream open.
TEST_F(UsbEndToEnd, Ar0134OnBoard100AndAWrongChip) {
    auto plug = [&](const char* serial, int address, uint16_t identity) -> CSimUsbImx290Camera& {
        SimImx290Options o;
        o.sensorType = 10;         // "AR0134M"
        o.modelCode = 0xAA210001;  // hardware type 100
        o.sensorBusAddress = 0x20;
        o.sensorRegisters = {{0x3000, identity}};
        o.fpga = {.progPin = 25, .initPin = 23, .donePin = 27, .configuredVersion = 0x1306};
        o.productName = "QV-U3M-134";
        o.serial = serial;
        o.port = {1, address};
        m_cameras.push_back(std::make_unique<CSimUsbImx290Camera>(*s_testbed, o));
        return *m_cameras.back();
    };
    ASSERT_TRUE(qvsim::UseResolution("QV-U3M-134", qvsim::CustomResolution(0, 0, 320, 240)));
    CSimUsbImx290Camera& cam = plug("E2E-134", 60, 0x2406);
    ASSERT_EQ(EnumerateUntil(1), 0);
    HANDLE h = Init(0);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(cam.Fpga().Loaded().at(0).hardwareType, 100);
    ASSERT_EQ(CameraPlay(h), 0);
    for (int i = 0; i < 3; ++i) {
        stImageInfo frame{};
        ASSERT_NE(CameraGetImageBufferEx(h, &frame, 5000), nullptr) << i;
        EXPECT_EQ(frame.uiMediaType, kMono8);
        EXPECT_EQ(frame.iWidth, 320u);
        EXPECT_EQ(frame.iHeight, 240u);
    }
    ASSERT_TRUE(TakeRaw(h));
    // The chip's window: columns 0 to 319, rows 2 to 241.
    const CSimUsbCamera& m = cam.Model();
    EXPECT_EQ(m.SensorReg(0x20, 0x3008).value_or(0), 319);
    EXPECT_EQ(m.SensorReg(0x20, 0x3006).value_or(0), 241);
    UnInit(h);

    // Another chip answers: no driver, and the stream cannot open.
    m_cameras.clear();
    int count = 0;
    CameraEnumerateDeviceEx(&count, 0);
    plug("E2E-NOT-134", 61, 0x2407);
    ASSERT_EQ(EnumerateUntil(1), 0);
    HANDLE none = nullptr;
    EXPECT_EQ(CameraInit(&none, 0), CAMERA_STATUS_STREAM_OPEN_FAILED);
    if (none != nullptr) m_handles.push_back(none);
}

// A colour IMX294 on board 107 whose stored exposure is longer than a second: the driver times
// that exposure from the host (the chip's exposure register and FPGA register 39, switched by a
// timer), frames flow, the release ends that timer without waiting for the camera and switches
// the camera out of long exposure, and the camera opens again.
TEST_F(UsbEndToEnd, Imx294LongExposureOnBoard107) {
    SimImx290Options o;
    o.sensorType = 39;         // "IMX294C"
    o.modelCode = 0xAA220007;  // hardware type 107
    o.fpga = {.progPin = 25, .initPin = 23, .donePin = 27, .configuredVersion = 0x1204};
    o.productName = "QV-U3C-294";
    o.serial = "E2E-294";
    o.port = {1, 70};
    ASSERT_TRUE(qvsim::UseResolution("QV-U3C-294", qvsim::CustomResolution(0, 0, 320, 240), 1.2e6));
    m_cameras.push_back(std::make_unique<CSimUsbImx290Camera>(*s_testbed, o));
    CSimUsbImx290Camera& cam = *m_cameras.back();
    ASSERT_EQ(EnumerateUntil(1), 0);
    // FPGA register 39 of the model, once the cycle has switched it (it starts at 0).
    auto cycleRuns = [&] {
        const auto deadline = Clock::now() + 20s;
        while (Clock::now() < deadline) {
            if (cam.Model().FpgaReg(39) != 0) return true;
            std::this_thread::sleep_for(5ms);
        }
        return false;
    };

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        HANDLE h = Init(0);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(cam.Fpga().Loaded().back().hardwareType, 107);
        double exposure = 0;
        ASSERT_EQ(CameraGetExposureTime(h, &exposure), 0);
        EXPECT_NEAR(exposure, 1.2e6, 100);
        ASSERT_EQ(CameraPlay(h), 0);
        for (int i = 0; i < 3; ++i) {
            stImageInfo frame{};
            ASSERT_NE(CameraGetImageBufferEx(h, &frame, 5000), nullptr) << i;
            EXPECT_EQ(frame.iWidth, 320u);
            EXPECT_EQ(frame.iHeight, 240u);
        }
        ASSERT_TRUE(cycleRuns());
        // The chip's long-exposure shutter: 25 lines from the frame start.
        EXPECT_EQ(cam.Model().SensorReg(0x34, 0x302C).value_or(0), 25);

        auto released = std::async(std::launch::async, [&] { UnInit(h); });
        ASSERT_EQ(released.wait_for(20s), std::future_status::ready);
        released.get();
        // The release switched the camera out of long exposure (the FPGA is not loaded again
        // at the next open, so nothing else would), and no step of the cycle follows it.
        EXPECT_EQ(cam.Model().FpgaReg(39), 0);
        EXPECT_EQ(cam.Model().SensorReg(0x34, 0x3111).value_or(0xFFFF), 0);
        std::this_thread::sleep_for(250ms);
        EXPECT_EQ(cam.Model().FpgaReg(39), 0);
    }
}

// The same camera after a process ended during a long exposure without releasing it: the
// FPGA word and the chip's exposure register are still on, and the FPGA is not loaded again.
// The next process's open switches the camera out of long exposure, and a short exposure runs
// on the chip's shutter. Then long exposures set on another thread while the controller releases
// the camera: once the release has returned, nothing writes to the camera any more.
TEST_F(UsbEndToEnd, Imx294LongExposureLeftOnAndExposuresDuringTheRelease) {
    SimImx290Options o;
    o.sensorType = 39;         // "IMX294C"
    o.modelCode = 0xAA220007;  // hardware type 107
    o.fpga = {.progPin = 25, .initPin = 23, .donePin = 27, .configuredVersion = 0x1204};
    o.productName = "QV-U3C-294";
    o.serial = "E2E-294-LEFT";
    o.port = {1, 71};
    ASSERT_TRUE(qvsim::UseResolution("QV-U3C-294", qvsim::CustomResolution(0, 0, 320, 240), 1e4));
    m_cameras.push_back(std::make_unique<CSimUsbImx290Camera>(*s_testbed, o));
    CSimUsbImx290Camera& cam = *m_cameras.back();
    ASSERT_EQ(EnumerateUntil(1), 0);
    cam.Model().SetFpgaReg(39, 7);
    cam.Model().SetSensorReg(0x34, 0x3111, 1);

    constexpr int kRounds = 6;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(round);
        HANDLE h = Init(0);
        ASSERT_NE(h, nullptr);
        if (round == 0) {
            EXPECT_EQ(cam.Model().FpgaReg(39), 0);
            EXPECT_EQ(cam.Model().SensorReg(0x34, 0x3111).value_or(0xFFFF), 0);
        }
        ASSERT_EQ(CameraSetExposureTime(h, 1e4), 0);
        ASSERT_EQ(CameraPlay(h), 0);
        stImageInfo frame{};
        ASSERT_NE(CameraGetImageBufferEx(h, &frame, 5000), nullptr);
        EXPECT_EQ(cam.Model().FpgaReg(39), 0);

        // On the controller: the export's release also frees the handle the setter uses.
        auto* control = static_cast<CameraControl*>(h);
        qvsim::CCallCounter calls;
        std::atomic<bool> stop{false};
        std::thread setter([&] {
            for (int i = 0; !stop; ++i) {
                control->CameraSetExposureTime(i % 2 == 0 ? 1.2e6 : 2e6);
                calls.Count();
            }
        });
        EXPECT_TRUE(calls.WaitFor(1 + round % 3, 20s));
        EXPECT_EQ(control->CameraUninit(), 0);
        EXPECT_TRUE(calls.WaitForMore(2, 20s));
        stop = true;
        setter.join();
        const size_t writes = cam.Model().I2cWrites().size();
        EXPECT_EQ(cam.Model().FpgaReg(39), 0);
        // A cycle's next step would come within 100 ms of the service's time.
        ASSERT_TRUE(qvsim::TimerServiceRanPast(100, 20s));
        EXPECT_EQ(cam.Model().I2cWrites().size(), writes);
        EXPECT_EQ(cam.Model().FpgaReg(39), 0);
        UnInit(h);
    }
}

// A SWIR IMX990 on the cooled board 111: frames of its window, and the camera's temperature
// (integer value 16, tenths of a degree) read from the chip's own thermometer registers.
TEST_F(UsbEndToEnd, Imx990OnBoard111AndItsTemperature) {
    SimImx290Options o;
    o.sensorType = 57;         // "IMX990I"
    o.modelCode = 0xAA22000B;  // hardware type 111
    o.fpga = {.progPin = 25, .initPin = -1, .donePin = 27, .configuredVersion = 0x2300};
    o.productName = "QV-U3I-990";
    o.serial = "E2E-990";
    o.port = {1, 80};
    o.sensorRegisters = {{0x3490, 0x38}, {0x3491, 0x0F}};  // -25.0 degrees
    ASSERT_TRUE(qvsim::UseResolution("QV-U3I-990", qvsim::CustomResolution(0, 0, 320, 240)));
    m_cameras.push_back(std::make_unique<CSimUsbImx290Camera>(*s_testbed, o));
    CSimUsbImx290Camera& cam = *m_cameras.back();
    ASSERT_EQ(EnumerateUntil(1), 0);
    HANDLE h = Init(0);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(cam.Fpga().Loaded().at(0).hardwareType, 111);
    ASSERT_EQ(CameraPlay(h), 0);
    for (int i = 0; i < 3; ++i) {
        stImageInfo frame{};
        ASSERT_NE(CameraGetImageBufferEx(h, &frame, 5000), nullptr) << i;
        EXPECT_EQ(frame.uiMediaType, kMono8);
        EXPECT_EQ(frame.iWidth, 320u);
        EXPECT_EQ(frame.iHeight, 240u);
    }
    // The chip runs a window 320 wide, its frame counted by the FPGA: height + 44 lines, here
    // stretched for the stored 10 ms exposure to the exposure and the shutter's 15 lines.
    const CSimUsbCamera& m = cam.Model();
    EXPECT_EQ(m.SensorReg(0x34, 0x3000).value_or(0xFF), 0);
    EXPECT_EQ(m.SensorReg(0x34, 0x3124).value_or(0) | m.SensorReg(0x34, 0x3125).value_or(0) << 8,
              320);
    EXPECT_EQ(m.FpgaReg(40), 240 + 44);
    double exposureUs = 0, lineUs = 0;
    ASSERT_EQ(CameraGetExposureTime(h, &exposureUs), 0);
    ASSERT_EQ(CameraGetExposureLineTime(h, &lineUs), 0);
    EXPECT_NEAR(m.FpgaReg(35) + 1 - m.SensorReg(0x34, 0x3240).value_or(0), exposureUs / lineUs, 1);

    int tenths = 0;
    ASSERT_EQ(CameraGetIntValue(h, 16, &tenths), 0);
    EXPECT_EQ(tenths, -250);
    // The reading follows the chip: 0x0147 is 40.875 degrees.
    ASSERT_TRUE(cam.Model().SetSensorReg(0x34, 0x3490, 0x47));
    ASSERT_TRUE(cam.Model().SetSensorReg(0x34, 0x3491, 0x01));
    ASSERT_EQ(CameraGetIntValue(h, 16, &tenths), 0);
    EXPECT_EQ(tenths, 408);
    // The latch bit the reading sets is let go again.
    EXPECT_EQ(m.SensorReg(0x34, 0x3588).value_or(1) & 1, 0);
    UnInit(h);
    EXPECT_FALSE(cam.Model().IsStreaming());
}

// The host-opened rescan lists the host's devices alone: with none, or with none usable, it
// finds nothing (-16, count 0), whatever cameras the bus has, and opens none of them.
TEST_F(UsbEndToEnd, HostOpenedRescanListsOnlyTheHostsDevices) {
    CSimUsbImx290Camera& camera = Plug(40, "E2E-H");
    ASSERT_EQ(EnumerateUntil(1), 0);
    int count = -1;
    ASSERT_EQ(CameraEnumerateDeviceFromOpenedDevList(&count, 0, nullptr, nullptr, nullptr),
              CAMERA_STATUS_NO_DEVICE_FOUND);
    EXPECT_EQ(count, 0);
    tDevInfo info{};
    EXPECT_EQ(CameraGetEnumIndexInfo(0, &info), CAMERA_STATUS_PARAMETER_INVALID);

    const int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
    ASSERT_GE(devNull, 0);
    constexpr int kClosed = -2;  // made just before its call: a number closed long before may
                                 // be some other descriptor by then
    const std::string node = camera.Device()->DevNode();
    std::string tooLong(4096, 'x');
    tooLong.append("/001/040");
    const unsigned ids =
        (unsigned{camera.Device()->VendorId()} << 16) | camera.Device()->ProductId();
    struct Row {
        const char* what;
        int fd;
        const char* path;
    };
    const Row rows[] = {
        {"descriptor -1", -1, node.c_str()},
        {"a closed descriptor", kClosed, node.c_str()},
        {"a descriptor far beyond the open ones", 1 << 30, node.c_str()},
        // (At a free address: the registration outlives the call, and at the camera's own
        // address it would stand for the camera in the later enumerations of this process.)
        {"/dev/null, no USB device", devNull, "/dev/bus/usb/001/099"},
        {"no path", devNull, nullptr},
        {"a path longer than any", devNull, tooLong.c_str()},
    };
    const uint64_t ioctls = camera.Device()->GetStats().ioctls;
    std::vector<int> fds;
    std::vector<unsigned> vidPids;
    std::vector<char*> paths;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        int fd = r.fd;
        if (fd == kClosed) {
            fd = dup(devNull);
            close(fd);
        }
        unsigned id = ids;
        char* path = const_cast<char*>(r.path);
        count = -1;
        EXPECT_EQ(CameraEnumerateDeviceFromOpenedDevList(&count, 1, &fd, &id, &path),
                  CAMERA_STATUS_NO_DEVICE_FOUND);
        EXPECT_EQ(count, 0);
        if (r.fd == kClosed) continue;
        fds.push_back(fd);
        vidPids.push_back(id);
        paths.push_back(path);
    }
    // All of them at once (but the closed one).
    count = -1;
    EXPECT_EQ(CameraEnumerateDeviceFromOpenedDevList(&count, static_cast<int>(fds.size()),
                                                     fds.data(), vidPids.data(), paths.data()),
              CAMERA_STATUS_NO_DEVICE_FOUND);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(camera.Device()->GetStats().ioctls, ioctls);
    close(devNull);

    // The full enumeration still finds the camera.
    ASSERT_EQ(EnumerateUntil(1), 0);
}

// The friendly name, the serial numbers of levels 1 and 2 and the user data land in the
// camera's flash where its layout puts them (block B and the user-data area), and read back
// through the exports; a user-data span that wraps around is refused before the flash is
// touched.
TEST_F(UsbEndToEnd, NamesSerialNumbersAndUserDataInTheFlash) {
    CSimUsbImx290Camera& cam = Plug(41, "E2E-S");
    ASSERT_EQ(EnumerateUntil(1), 0);
    HANDLE h = Init(0);
    ASSERT_NE(h, nullptr);
    const qvsim::FlashAddresses at = qvsim::FlashAddressesOf(qvsim::StorageLayout::kUsb3Flash);
    const CSimUsbCamera& m = cam.Model();

    ASSERT_EQ(CameraSetFriendlyName(h, "Line 3, top camera"), 0);
    BYTE sn1[32] = "SN-LEVEL-ONE";
    BYTE sn2[32] = "SN-LEVEL-TWO-0123456789";
    ASSERT_EQ(CameraWriteSN(h, sn1, 1), 0);
    ASSERT_EQ(CameraWriteSN(h, sn2, 2), 0);
    auto text32 = [](const char* t) {
        std::vector<uint8_t> f(32, 0);
        std::memcpy(f.data(), t, std::strlen(t));
        return f;
    };
    const std::vector<uint8_t> b = m.ReadStorage(at.blockB, qvsim::kBlockBPageSize);
    EXPECT_EQ(std::vector<uint8_t>(b.begin(), b.begin() + 4),
              (std::vector<uint8_t>{0x01, 0x00, 0xAA, 0x55}));
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 8, b.begin() + 40), text32("SN-LEVEL-ONE"));
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 40, b.begin() + 72),
              text32("SN-LEVEL-TWO-0123456789"));
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 72, b.begin() + 104), text32("Line 3, top camera"));
    unsigned sum = 0;
    for (size_t i = 0; i < qvsim::kBlockBSize; ++i) sum += b[i];
    EXPECT_EQ(sum & 0xFF, 0xFFu);

    BYTE back[32] = {};
    ASSERT_EQ(CameraReadSN(h, back, 1), 0);
    EXPECT_STREQ(reinterpret_cast<char*>(back), "SN-LEVEL-ONE");
    ASSERT_EQ(CameraReadSN(h, back, 2), 0);
    EXPECT_STREQ(reinterpret_cast<char*>(back), "SN-LEVEL-TWO-0123456789");
    ASSERT_EQ(CameraReadSN(h, back, 0), 0);
    EXPECT_STREQ(reinterpret_cast<char*>(back), "E2E-S");
    char name[32] = {};
    ASSERT_EQ(CameraGetFriendlyName(h, name), 0);
    EXPECT_STREQ(name, "Line 3, top camera");

    tSdkCapability cap{};
    ASSERT_EQ(CameraGetCapability(h, &cap), 0);
    EXPECT_EQ(cap.uUserDataSize, at.userDataSize);
    std::vector<uint8_t> data(20);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(0x30 + i);
    ASSERT_EQ(CameraSaveUserData(h, 100, data.data(), 20), 0);
    EXPECT_EQ(m.ReadStorage(at.userData + 100, 20), data);
    std::vector<uint8_t> loaded(20, 0);
    ASSERT_EQ(CameraLoadUserData(h, 100, loaded.data(), 20), 0);
    EXPECT_EQ(loaded, data);

    const int erases = m.FlashErases();
    const std::vector<uint8_t> area = m.ReadStorage(at.userData, 64);
    std::vector<uint8_t> big(0x20, 0xEE);
    EXPECT_EQ(CameraSaveUserData(h, 0xFFFFFFF0u, big.data(), 0x20),
              CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(CameraSaveUserData(h, at.userDataSize - 4, big.data(), 8),
              CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(m.FlashErases(), erases);
    EXPECT_EQ(m.ReadStorage(at.userData, 64), area);
}

}  // namespace
