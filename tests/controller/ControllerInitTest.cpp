// Opening and release through the exports on the process-wide manager (fake factories): the
// results of CameraInit and whether the manager keeps the controller, cameras already held,
// the handle checks of the entries, and release from a frame callback.
#include <gtest/gtest.h>

#include <thread>

#include "api/ApiInternal.h"
#include "ControllerFixture.h"
#include "FakeCameraFactory.h"
#include "manager/JNCameraMgr.h"
#include "LogCapture.h"
#include "ManagerFakesTest.h"
#include "QVCameraApi.h"

namespace {

using ctltest::CTestCamera;

class ControllerInit : public qvsim::ManagerFakesTest {
  protected:
    void TearDown() override { EXPECT_EQ(Manager()->CameraCount(), 0u); }

    static JNCameraMgr* Manager() { return JNCameraMgr::GetInstance(); }
    static std::shared_ptr<CTestCamera> AddUsbCamera(const char* sn, const char* symbolic) {
        auto camera = std::make_shared<CTestCamera>(sn, "Cam", symbolic);
        s_usb->AddDevice(camera);
        int count = 0;
        EXPECT_EQ(CameraEnumerateDevice(&count), 0);
        return camera;
    }

    ctltest::ScopedHome m_home;
};

// Device outcome -> CameraInit result, whether a handle is kept, and what the camera is left
// with. A controller not kept must not touch a frame pool it never made (the attach and
// device-parameter rows stop before the pool exists).
TEST_F(ControllerInit, ResultsAndWhetherTheManagerKeepsTheController) {
    struct Row {
        const char* name;
        std::function<void(CTestCamera&)> script;
        int result;
        bool kept;
        bool streamOpened;     // OpenStream reached the device
        int openCountAfter;    // device left attached (1) or closed (0)
        int eepromLogs;        // "Please Write EEprom!!!!"
        const char* otherLog;  // a line that must appear, or null
    };
    const std::vector<Row> rows = {
        {"valid", [](CTestCamera&) {}, 0, true, true, 1, 0, "CameraInit finish:"},
        {"eeprom not written", [](CTestCamera& c) { c.ScriptParameters(-51); }, -51, true, true, 0,
         1, nullptr},
        {"property not written", [](CTestCamera& c) { c.ScriptParameters(-58); }, -51, true, true,
         0, 2, nullptr},
        {"open fails", [](CTestCamera& c) { c.SetResult("Open", -13); }, -52, false, false, 0, 0,
         "attach device failed.\n"},
        {"stream open fails", [](CTestCamera& c) { c.SetResult("OpenStream", -53); }, -53, false,
         true, 0, 0, "open camera device failed\n"},
        {"device parameters unreadable", [](CTestCamera& c) { c.ScriptParameters(-13); }, -1, false,
         false, 0, 0, "CameraGetCameraDevParam err:-13\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        s_usb->SetDevices({});
        auto camera = AddUsbCamera("SN-R", "bus:1:address:2");
        row.script(*camera);
        qvsim::LogCapture log;
        HANDLE handle = reinterpret_cast<HANDLE>(0x1);
        const int r = CameraInit(&handle, 0);
        EXPECT_EQ(r, row.result);
        EXPECT_EQ(Manager()->CameraCount(), row.kept ? 1u : 0u);
        EXPECT_EQ(camera->CallCount("OpenStream"), row.streamOpened ? 1u : 0u);
        EXPECT_EQ(camera->OpenCount(), row.openCountAfter);
        EXPECT_EQ(log.Count("Please Write EEprom!!!!\n"), row.eepromLogs);
        if (row.otherLog != nullptr) {
            bool found = false;
            for (const auto& line : log.Lines()) found |= line.rfind(row.otherLog, 0) == 0;
            EXPECT_TRUE(found) << row.otherLog;
        }
        if (row.kept) {
            ASSERT_NE(handle, reinterpret_cast<HANDLE>(0x1));
            EXPECT_EQ(CameraUnInit(handle), 0);
            EXPECT_EQ(CameraUnInit(handle), CAMERA_STATUS_PARAMETER_INVALID);
        } else {
            EXPECT_EQ(handle, reinterpret_cast<HANDLE>(0x1)) << "handle written";
        }
        EXPECT_EQ(camera->OpenCount(), 0);
        EXPECT_EQ(camera->ContractViolations(), 0);
    }
}

TEST_F(ControllerInit, OpensInTheOrderAttachParametersStreamAndStartsPaused) {
    auto camera = AddUsbCamera("SN-O", "bus:1:address:3");
    HANDLE handle = nullptr;
    ASSERT_EQ(CameraInitEx(&handle, 0, 0, 0), 0);
    const auto names = camera->CallNames();
    auto at = [&](const char* name) {
        return std::find(names.begin(), names.end(), name) - names.begin();
    };
    EXPECT_LT(at("Open"), at("GetCameraDevParam"));
    EXPECT_LT(at("GetCameraDevParam"), at("OpenStream"));
    EXPECT_LT(at("OpenStream"), at("StartStream"));
    // Not playing after the open: the stream's capture is stopped, never started.
    EXPECT_EQ(camera->CallCount("StopCapture"), 1u);
    EXPECT_EQ(camera->CallCount("StartCapture"), 0u);
    EXPECT_EQ(CameraUnInit(handle), 0);
    EXPECT_EQ(camera->CallsNamed({"SetIntValue"}).back().ToString(), "SetIntValue(13,0)");
}

// A handle returned with -51 has no device: play refuses, and a frame wait only times out; it
// never declares the camera lost and never reaches the keep-alive service.
TEST_F(ControllerInit, HandleWithoutDeviceParametersIsNeverDeclaredLost) {
    auto camera = AddUsbCamera("SN-51", "bus:1:address:4");
    camera->ScriptParameters(-51);
    HANDLE handle = nullptr;
    ASSERT_EQ(CameraInit(&handle, 0), -51);
    EXPECT_EQ(CameraPlay(handle), CAMERA_STATUS_FAILED);
    CameraFrameHandle frame = reinterpret_cast<CameraFrameHandle>(0x1);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(CameraGetRawImageBuffer(handle, &frame, 1), -12);
    EXPECT_EQ(frame, nullptr);
    int lost = -1;
    EXPECT_EQ(CameraGetDeviceLostCount(handle, &lost), 0);
    EXPECT_EQ(lost, 0);
    EXPECT_EQ(CameraCheckConnection(handle), 255);
    EXPECT_EQ(CameraUnInit(handle), 0);
}

// Opening a USB camera resets it and stops its stream: a second open while a controller holds
// it is refused before the device is touched, whether the enumeration hands out the same
// object or a new one for the same port.
TEST_F(ControllerInit, CameraHeldByAnotherControllerIsRefusedWithoutTouchingIt) {
    auto camera = AddUsbCamera("SN-H", "bus:2:address:7");
    HANDLE first = nullptr;
    ASSERT_EQ(CameraInit(&first, 0), 0);
    ASSERT_EQ(CameraPlay(first), 0);
    const size_t callsBefore = camera->Calls().size();

    HANDLE second = reinterpret_cast<HANDLE>(0x1);
    EXPECT_EQ(CameraInit(&second, 0), CAMERA_STATUS_DEVICE_IS_OPENED);
    EXPECT_EQ(CameraInitEx(&second, 0, 0, 0), CAMERA_STATUS_DEVICE_IS_OPENED);
    EXPECT_EQ(CameraInitEx3(&second, "SN-H"), CAMERA_STATUS_DEVICE_IS_OPENED);
    EXPECT_EQ(CameraInitEx2(&second, "Cam"), CAMERA_STATUS_DEVICE_IS_OPENED);
    EXPECT_EQ(second, reinterpret_cast<HANDLE>(0x1));
    const auto after = camera->Calls();
    for (size_t i = callsBefore; i < after.size(); ++i)
        EXPECT_TRUE(after[i].name == "IsInUse" || after[i].name == "GetAccessStatus" ||
                    after[i].name == "GetDeviceInfo")
            << after[i].ToString();

    // The USB factory makes a new object for the same camera at every enumeration.
    auto again = std::make_shared<CTestCamera>("SN-H", "Cam", "bus:2:address:7");
    s_usb->SetDevices({again});
    int count = 0;
    ASSERT_EQ(CameraEnumerateDevice(&count), 0);
    EXPECT_EQ(CameraInit(&second, 0), CAMERA_STATUS_DEVICE_IS_OPENED);
    EXPECT_EQ(again->CallCount("Open"), 0u);
    EXPECT_EQ(camera->CallCount("OpenStream"), 1u);

    EXPECT_EQ(CameraUnInit(first), 0);
    ASSERT_EQ(CameraInit(&second, 0), 0);
    EXPECT_EQ(CameraUnInit(second), 0);
}

TEST_F(ControllerInit, ConcurrentOpensOfOneCameraLetExactlyOneThrough) {
    auto camera = AddUsbCamera("SN-C", "bus:3:address:1");
    for (int round = 0; round < 20; ++round) {
        HANDLE handles[2] = {nullptr, nullptr};
        int results[2] = {1, 1};
        std::thread a([&] { results[0] = CameraInitEx(&handles[0], 0, 0, 0); });
        std::thread b([&] { results[1] = CameraInitEx(&handles[1], 0, 0, 0); });
        a.join();
        b.join();
        const int opened = (results[0] == 0) + (results[1] == 0);
        ASSERT_EQ(opened, 1) << results[0] << " " << results[1];
        EXPECT_TRUE(results[0] == CAMERA_STATUS_DEVICE_IS_OPENED ||
                    results[1] == CAMERA_STATUS_DEVICE_IS_OPENED);
        EXPECT_EQ(CameraUnInit(results[0] == 0 ? handles[0] : handles[1]), 0);
    }
    EXPECT_EQ(camera->OpenCount(), 0);
}

TEST_F(ControllerInit, CameraThatReportsItselfInUseIsRefused) {
    auto camera = std::make_shared<CTestCamera>("SN-G", "Gige");
    camera->SetInUse(true);
    s_gige->AddDevice(camera);
    int count = 0;
    ASSERT_EQ(CameraEnumerateDevice(&count), 0);
    HANDLE handle = nullptr;
    EXPECT_EQ(CameraInit(&handle, 0), CAMERA_STATUS_DEVICE_IS_OPENED);
    EXPECT_EQ(CameraInitEx3(&handle, "SN-G"), CAMERA_STATUS_DEVICE_IS_OPENED);
    EXPECT_EQ(camera->CallCount("Open"), 0u);
    EXPECT_EQ(CameraInit(&handle, 1), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(CameraInitEx3(&handle, "none"), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(handle, nullptr);
}

TEST_F(ControllerInit, OptionsOfTheSerialNumberEntryReachTheStreamOpen) {
    auto camera = AddUsbCamera("SN-P", "bus:1:address:9");
    CameraInitOption options{0, 2, -1, TRIGGER_MODE_HARDWARE, 1500, 3, 40, 3000};
    HANDLE handle = nullptr;
    ASSERT_EQ(CameraInitEx3WithParam(&handle, "SN-P", &options), 0);
    const CameraInitParam p = camera->LastInitParam();
    EXPECT_EQ(p.frameSpeed, 0);  // zero is taken for the first four
    EXPECT_EQ(p.transferMode, 2);
    EXPECT_EQ(p.packetSize, 1500);
    EXPECT_EQ(p.channelMask, 3);
    EXPECT_EQ(p.frameCount, CFrameBucket::kMaxFrames);  // 40 asked, the pool holds 31
    EXPECT_EQ(p.heartbeat, 3000);
    EXPECT_EQ(camera->CallsNamed({"SetTriggerMode"}).back().ToString(), "SetTriggerMode(2)");
    int mode = -1;
    EXPECT_EQ(CameraGetImageTransferMode(handle, &mode), 0);
    EXPECT_EQ(mode, 2);
    EXPECT_EQ(CameraUnInit(handle), 0);
}

TEST_F(ControllerInit, EntriesAnswerANullHandle) {
    CameraFrameHandle frame = nullptr;
    int value = 0;
    const std::vector<std::pair<const char*, int>> results = {
        {"CameraInit", CameraInit(nullptr, 0)},
        {"CameraInitEx", CameraInitEx(nullptr, 0, 0, 0)},
        {"CameraInitEx2", CameraInitEx2(nullptr, "x")},
        {"CameraInitEx2 name", CameraInitEx2(reinterpret_cast<HANDLE*>(&frame), nullptr)},
        {"CameraInitEx3", CameraInitEx3(nullptr, "x")},
        {"CameraInitEx3 sn", CameraInitEx3(reinterpret_cast<HANDLE*>(&frame), nullptr)},
        {"CameraInitEx3WithParam", CameraInitEx3WithParam(nullptr, "x", nullptr)},
        {"CameraUnInit", CameraUnInit(nullptr)},
        {"CameraPlay", CameraPlay(nullptr)},
        {"CameraPause", CameraPause(nullptr)},
        {"CameraSetCallbackFunction",
         CameraSetCallbackFunction(nullptr, nullptr, nullptr, nullptr)},
        {"CameraGetRawImageBuffer", CameraGetRawImageBuffer(nullptr, &frame, 1)},
        {"CameraReleaseFrameHandle", CameraReleaseFrameHandle(nullptr, &value)},
        {"CameraSetImageTransferMode", CameraSetImageTransferMode(nullptr, 1)},
        {"CameraGetImageTransferMode", CameraGetImageTransferMode(nullptr, &value)},
        {"CameraRequestTransferImage", CameraRequestTransferImage(nullptr)},
        {"CameraRequestTransferImageEx", CameraRequestTransferImageEx(nullptr, 1)},
        {"CameraReboot", CameraReboot(nullptr)},
        {"CameraSetConnectionStatusCallback",
         CameraSetConnectionStatusCallback(nullptr, nullptr, nullptr)},
        {"CameraGetDeviceLostCount", CameraGetDeviceLostCount(nullptr, &value)},
        {"CameraCheckConnection", CameraCheckConnection(nullptr)},
    };
    for (const auto& [name, r] : results) EXPECT_EQ(r, CAMERA_STATUS_PARAMETER_INVALID) << name;
    EXPECT_EQ(frame, nullptr);
    EXPECT_EQ(CameraUnInit(reinterpret_cast<HANDLE>(&value)), CAMERA_STATUS_PARAMETER_INVALID);
}

// From inside its own frame callback a handle can pause (the thread ends after the callback) but
// not be released (the controller would destroy the thread it runs on).
TEST_F(ControllerInit, FrameCallbackMayPauseButNotReleaseItsHandle) {
    auto camera = AddUsbCamera("SN-CB", "bus:4:address:1");
    HANDLE handle = nullptr;
    ASSERT_EQ(CameraInit(&handle, 0), 0);
    struct Context {
        std::atomic<int> calls{0};
        std::atomic<int> uninit{1};
        std::atomic<int> pause{1};
    } ctx;
    auto callback = [](HANDLE h, BYTE*, stImageInfo*, void* c) {
        auto* context = static_cast<Context*>(c);
        if (context->calls.fetch_add(1) == 0) {
            context->uninit = CameraUnInit(h);
            context->pause = CameraPause(h);
        }
    };
    ASSERT_EQ(CameraSetCallbackFunction(handle, callback, &ctx, nullptr), 0);
    ASSERT_EQ(CameraPlay(handle), 0);
    ASSERT_TRUE(ctltest::WaitFor([&] {
        camera->PushTestFrame();
        return ctx.pause.load() != 1;
    }));
    EXPECT_EQ(ctx.uninit.load(), CAMERA_STATUS_BUSY);
    EXPECT_EQ(ctx.pause.load(), 0);
    // Play again joins the thread that ended itself and starts a new one.
    ASSERT_EQ(CameraPlay(handle), 0);
    ASSERT_TRUE(ctltest::WaitFor([&] {
        camera->PushTestFrame();
        return ctx.calls.load() >= 2;
    }));
    EXPECT_EQ(CameraUnInit(handle), 0);
}

}  // namespace
