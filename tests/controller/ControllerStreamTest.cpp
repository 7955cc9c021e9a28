// The controller's stream: parameter-group choice at opening, trigger modes at stream open, the
// software-trigger emulation, callback mode, the device-loss rule on a clock moved by hand, the
// transfer mode and the window mapping.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "ControllerTestBase.h"
#include "LogCapture.h"
#include "control/WindowGeometry.h"

namespace {

using ctltest::ControllerTest;
using ctltest::CTestCamera;

using Stream = ControllerTest;

// ---- Parameter group at opening ------------------------------------------------------------

TEST_F(Stream, ParameterGroupChosenAtOpening) {
    struct Row {
        const char* name;
        std::function<void(Stream&)> files;
        int mode, group;
        int wantMode, wantGroup;
        double wantExposure;   // tells which record is in force
        uint32_t wantRedGain;  // 150: the device's default after SetDefault
        int32_t wantPacketSize;
    };
    auto saved = [](double exposure, int mode, int group) {
        CameraParameter r = Stream::BaseRecord();
        r.settings.exposureTime = exposure;
        r.settings.parameterMode = mode;
        r.settings.parameterGroup = group;
        return r;
    };
    const std::vector<Row> rows = {
        // No "_SAVE" file: defaults, mode 0, group 0.
        {"no files", [](Stream&) {}, -1, -1, 0, 0, 10000.0, 150, 9000},
        // Group 255: defaults; the mode asked for (at least 0) with group 255.
        {"defaults", [](Stream&) {}, 2, 255, 2, 255, 10000.0, 150, 9000},
        {"defaults, mode below 0", [](Stream&) {}, -1, 255, 0, 255, 10000.0, 150, 9000},
        // "_SAVE" names mode 1 (friendly-name key) group 2, whose file is loaded.
        {"save names a group",
         [&](Stream& t) {
             t.SaveGroup(saved(111.0, 1, 2), 255, 0);
             t.SaveGroup(saved(222.0, 1, 2), 2, 1);
         },
         -1, -1, 1, 2, 222.0, 100, 9000},
        // The named group is missing: the "_SAVE" record stays, under the names it holds.
        {"save names a missing group", [&](Stream& t) { t.SaveGroup(saved(111.0, 0, 3), 255, 0); },
         -1, -1, 0, 3, 111.0, 100, 9000},
        // An explicit group that cannot be read: the camera's defaults under the asked names,
        // without SetDefault (packet size stays 0).
        {"explicit group missing", [](Stream&) {}, 0, 1, 0, 1, 10000.0, 100, 0},
        {"explicit group", [&](Stream& t) { t.SaveGroup(saved(333.0, 0, 1), 1, 0); }, 0, 1, 0, 1,
         333.0, 100, 9000},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ctltest::ScopedHome home;
        row.files(*this);
        auto camera = std::make_shared<CTestCamera>();
        CameraControl* control = Open(camera, row.mode, row.group);
        const CameraParameter p = control->GetParameterRecord();
        EXPECT_EQ(p.settings.parameterMode, row.wantMode);
        EXPECT_EQ(p.settings.parameterGroup, row.wantGroup);
        EXPECT_EQ(p.settings.exposureTime, row.wantExposure);
        EXPECT_EQ(p.settings.rgbGain[0], row.wantRedGain);
        EXPECT_EQ(p.packetSize, row.wantPacketSize);
        EXPECT_EQ(p.deviceId, ctltest::kDeviceId);
        // The stream opened with what the record holds.
        EXPECT_EQ(camera->CallsNamed({"SetExposure"}).back().value, row.wantExposure);
        m_controls.clear();
    }
}

// A resolution index no preset has (a damaged or foreign file) falls back to the default one.
TEST_F(Stream, UnknownResolutionIndexFallsBackToTheDefault) {
    for (int index : {70, -3, 2, 255}) {
        SCOPED_TRACE(index);
        CameraParameter r = BaseRecord();
        r.settings.resolutionIndex = index;  // 255 without a custom region
        SaveGroup(r, 0);
        auto camera = std::make_shared<CTestCamera>();
        CameraControl* control = Open(camera, 0, 0);
        EXPECT_EQ(control->GetParameterRecord().settings.resolutionIndex, 0);
        EXPECT_EQ(camera->LastInitParam().resolution.uWidth, 640u);
        m_controls.clear();
    }
    CameraParameter r = BaseRecord();
    r.settings.resolutionIndex = 1;
    SaveGroup(r, 0);
    auto camera = std::make_shared<CTestCamera>();
    Open(camera, 0, 0);
    EXPECT_EQ(camera->LastInitParam().resolution.uWidth, 320u);
}

TEST_F(Stream, SensorFormatTheCameraDoesNotListGivesWayToItsFirst) {
    auto camera = std::make_shared<CTestCamera>();
    camera->SetMediaTypes({0x01080001, 0x01080009});
    Open(camera);
    EXPECT_EQ(camera->LastInitParam().mediaType, 0x01080001u);

    CameraParameter r = BaseRecord();
    r.sensorOutFormat = 0x01080009;
    SaveGroup(r, 0);
    auto second = std::make_shared<CTestCamera>("SN0002");
    second->SetMediaTypes({0x01080001, 0x01080009});
    Open(second, 0, 0);
    EXPECT_EQ(second->LastInitParam().mediaType, 0x01080009u);
}

// ---- Trigger modes at stream open ------------------------------------------------------------

TEST_F(Stream, TriggerModeAtStreamOpen) {
    struct Row {
        const char* name;
        int mode;
        int setTriggerModeResult;
        bool emulated;
        std::vector<std::string> calls;
    };
    const std::vector<Row> rows = {
        {"continuous", 0, 0, false, {"SetTriggerMode(0)", "StartStream()", "StopCapture()"}},
        {"software",
         1,
         0,
         false,
         {"SetTriggerMode(1)", "SetTriggerFrameCount(3)", "SetTriggerDelayTime(250)",
          "StartStream()", "StopCapture()"}},
        // The device has no software trigger: its stream stays stopped until one is emulated.
        {"software, emulated",
         1,
         CAMERA_STATUS_NOT_SUPPORTED,
         true,
         {"SetTriggerMode(1)", "SetTriggerFrameCount(3)", "SetTriggerDelayTime(250)",
          "StopStream()", "StopCapture()"}},
        // Input 0 is a trigger input, input 1 is not.
        {"hardware",
         2,
         0,
         false,
         {"SetTriggerMode(2)", "SetTriggerFrameCount(3)", "SetTriggerDelayTime(250)",
          "SetTriggerSignalType(0,2)", "SetTriggerJitterTime(0,900)", "StartStream()",
          "StopCapture()"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CameraParameter r = BaseRecord();
        r.settings.triggerMode = row.mode;
        r.triggerFrameCount = 3;
        r.triggerDelayTime = 250;
        r.inputLines[0] = {0, {}, 2, 900};
        r.inputLines[1] = {1, {}, 1, 700};
        SaveGroup(r, 0);
        auto camera = std::make_shared<CTestCamera>();
        camera->SetResult("SetTriggerMode", row.setTriggerModeResult);
        CameraControl* control = Open(camera, 0, 0);
        std::vector<std::string> trigger;
        for (const std::string& call : ctltest::CallsFrom(*camera, "OpenStream"))
            if (call.rfind("SetTrigger", 0) == 0 || call.rfind("St", 0) == 0)
                trigger.push_back(call);
        EXPECT_EQ(trigger, row.calls);
        EXPECT_EQ(control->IsSoftTriggerEmulated(), row.emulated);
        m_controls.clear();
    }
}

TEST_F(Stream, SoftwareTriggerEmulationPassesOneFramePerTrigger) {
    CameraParameter r = BaseRecord();
    r.settings.triggerMode = TRIGGER_MODE_SOFTWARE;
    SaveGroup(r, 0);
    auto camera = std::make_shared<CTestCamera>();
    camera->SetResult("SetTriggerMode", CAMERA_STATUS_NOT_SUPPORTED);
    CameraControl* control = Open(camera, 0, 0);
    ASSERT_EQ(control->CameraPlay(), 0);

    // A frame that comes without a trigger is dropped.
    ASSERT_EQ(camera->PushTestFrame(1), 0);
    EXPECT_EQ(TakeFrame(control), CAMERA_STATUS_NOT_TRIGGERED);

    camera->ClearCalls();
    ASSERT_EQ(control->CameraSoftTrigger(), 0);
    EXPECT_EQ(camera->CallNames(), (std::vector<std::string>{"StreamOn", "StartStream"}));
    EXPECT_EQ(control->GetPendingSoftTriggers(), 1);
    ASSERT_EQ(camera->PushTestFrame(2), 0);
    CameraFrameHandle frame = nullptr;
    ASSERT_EQ(control->CameraGetRawImageBuffer(&frame, 1000), 0);
    EXPECT_EQ(control->GetPendingSoftTriggers(), 0);
    camera->ClearCalls();
    EXPECT_EQ(control->CameraReleaseFrameHandle(frame), 0);
    EXPECT_EQ(camera->CallNames(), (std::vector<std::string>{"StopStream"}));

    // Exactly one frame per trigger.
    ASSERT_EQ(camera->PushTestFrame(3), 0);
    EXPECT_EQ(TakeFrame(control), CAMERA_STATUS_NOT_TRIGGERED);
}

TEST_F(Stream, SoftwareTriggerOutsideTheEmulation) {
    CameraParameter r = BaseRecord();
    r.settings.triggerMode = TRIGGER_MODE_SOFTWARE;
    SaveGroup(r, 0);
    auto camera = std::make_shared<CTestCamera>();
    CameraControl* control = Open(camera, 0, 0);
    // The device's own trigger and its answer (the fake has no sensor driver).
    EXPECT_EQ(control->CameraSoftTrigger(), CAMERA_STATUS_NO_SENSOR);
    EXPECT_EQ(control->GetPendingSoftTriggers(), 0);

    auto continuous = std::make_shared<CTestCamera>("SN0002");
    CameraControl* other = Open(continuous);
    EXPECT_EQ(other->CameraSoftTrigger(), CAMERA_STATUS_FAILED);
}

// ---- Callback mode ---------------------------------------------------------------------------

struct CallbackLog {
    std::atomic<int> frames{0};
    std::atomic<uint32_t> width{0};
    std::atomic<int> firstByte{-1};
    std::atomic<HANDLE> handle{nullptr};
};

void CountFrame(HANDLE h, BYTE* data, stImageInfo* info, void* context) {
    auto* log = static_cast<CallbackLog*>(context);
    log->handle = h;
    log->width = info->iWidth;
    log->firstByte = data[0];
    log->frames.fetch_add(1);
}

TEST_F(Stream, CallbackSetBeforePlayRunsTheCaptureThreadUntilPause) {
    auto camera = std::make_shared<CTestCamera>();
    CameraControl* control = Open(camera);
    CallbackLog log;
    CameraFrameCallback previous = &CountFrame;
    ASSERT_EQ(control->CameraSetCallbackFunction(&CountFrame, &log, &previous), 0);
    EXPECT_EQ(previous, nullptr);
    ASSERT_EQ(control->CameraPlay(), 0);
    EXPECT_EQ(control->CameraSetCallbackFunction(nullptr, nullptr, nullptr), CAMERA_STATUS_BUSY);

    ASSERT_TRUE(ctltest::WaitFor([&] {
        camera->PushTestFrame(0x5A);
        return log.frames.load() >= 3;
    }));
    EXPECT_EQ(log.handle.load(), static_cast<HANDLE>(control));
    EXPECT_EQ(log.width.load(), ctltest::kWidth);
    EXPECT_EQ(log.firstByte.load(), 0x5A);

    ASSERT_EQ(control->CameraPause(), 0);
    const int after = log.frames.load();
    camera->PushTestFrame();
    // The thread is joined: nothing takes the frame but this caller.
    EXPECT_EQ(TakeFrame(control, 0), 0);
    EXPECT_EQ(log.frames.load(), after);
    EXPECT_EQ(control->CameraSetCallbackFunction(nullptr, nullptr, &previous), 0);
    EXPECT_EQ(previous, &CountFrame);
}

TEST_F(Stream, PlayBeforeTheCallbackStartsNoThread) {
    auto camera = std::make_shared<CTestCamera>();
    CameraControl* control = Open(camera);
    ASSERT_EQ(control->CameraPlay(), 0);
    CallbackLog log;
    EXPECT_EQ(control->CameraSetCallbackFunction(&CountFrame, &log, nullptr), CAMERA_STATUS_BUSY);
    ASSERT_EQ(control->CameraPause(), 0);
    ASSERT_EQ(control->CameraSetCallbackFunction(&CountFrame, &log, nullptr), 0);
    // Set while paused: no thread until the next play, so the host takes every frame.
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(camera->PushTestFrame(), 0);
        EXPECT_EQ(TakeFrame(control, 0), 0);
    }
    EXPECT_EQ(log.frames.load(), 0);
    ASSERT_EQ(control->CameraPlay(), 0);
    ASSERT_TRUE(ctltest::WaitFor([&] {
        camera->PushTestFrame();
        return log.frames.load() >= 1;
    }));
    m_controls.clear();  // before the callback's context goes
}

// ---- The device-loss rule ----------------------------------------------------------------------

// Loss time e from d, the larger of frame time and exposure in ms: 5000 below 2500 ms,
// 2d + 500 below 5000 ms, d + 4000 beyond.
TEST(LossTimeout, FollowsFrameAndExposureTime) {
    struct Row {
        double frameUs, exposureUs;
        uint64_t e;
    };
    const Row rows[] = {
        {33'333, 10'000, 5000},        {0, 0, 5000},
        {2'499'999, 0, 5000},          {0, 2'500'000, 5500},  // 2 x 2500 + 500
        {100'000, 3'000'000, 6500},    {2'600'400, 0, 5700},  // 5700.8, integer part
        {0, 4'999'000, 10498},         {5'000'000, 0, 9000},  // d + 4000 from 5 s
        {1'000'000, 8'000'000, 12000}, {-5.0, -1.0, 5000},
    };
    for (const Row& r : rows)
        EXPECT_EQ(CameraControl::DeviceLossTimeoutMs(r.frameUs, r.exposureUs), r.e)
            << r.frameUs << " " << r.exposureUs;
}

// While playing in continuous mode the camera is lost once no frame came for e ms: the wait
// that finds it answers -12, every later one -38.
TEST_F(Stream, ContinuousStreamIsLostAfterTheLossTime) {
    struct Row {
        double frameUs, exposureUs;
        uint64_t e;
    };
    const Row rows[] = {{33'333, 10'000, 5000},
                        {100'000, 3'000'000, 6500},
                        {8'000'000, 1'000'000, 12000},
                        {-1, 3'000'000, 6500}};  // frame time unreadable: the exposure decides
    for (const Row& row : rows) {
        SCOPED_TRACE(row.e);
        auto camera = std::make_shared<CTestCamera>();
        camera->ScriptParameters(
            0, [&](CameraProperty& p) { p.defaultSettings.exposureTime = row.exposureUs; });
        if (row.frameUs < 0)
            camera->SetResult("GetFrameTime", -13);
        else
            camera->SetFrameTimeUs(row.frameUs);
        CameraControl* control = Open(camera);
        ASSERT_EQ(control->CameraPlay(), 0);
        ASSERT_EQ(camera->PushTestFrame(), 0);
        ASSERT_EQ(TakeFrame(control), 0);

        m_clock.Advance(row.e - 1);
        EXPECT_EQ(TakeFrame(control, 1), CAMERA_STATUS_TIMEOUT);
        EXPECT_FALSE(control->IsRegistered());
        m_clock.Advance(1);
        EXPECT_EQ(TakeFrame(control, 1), CAMERA_STATUS_TIMEOUT);
        EXPECT_TRUE(control->IsRegistered());
        EXPECT_EQ(camera->OpenCount(), 0);
        EXPECT_EQ(TakeFrame(control, 1), CAMERA_STATUS_DEVICE_LOST);
        EXPECT_EQ(TakeFrame(control, 1000), CAMERA_STATUS_DEVICE_LOST);
        m_controls.clear();
    }
}

// Every delivered frame starts the loss time again.
TEST_F(Stream, EachFrameRestartsTheLossTime) {
    auto camera = std::make_shared<CTestCamera>();
    CameraControl* control = Open(camera);
    ASSERT_EQ(control->CameraPlay(), 0);
    for (int i = 0; i < 4; ++i) {
        m_clock.Advance(4000);
        ASSERT_EQ(camera->PushTestFrame(), 0);
        ASSERT_EQ(TakeFrame(control), 0);
    }
    m_clock.Advance(4999);
    EXPECT_EQ(TakeFrame(control, 1), CAMERA_STATUS_TIMEOUT);
    EXPECT_FALSE(control->IsRegistered());
}

// In the trigger modes no trigger may come for any time: only a camera that stops answering
// is lost.
TEST_F(Stream, TriggerModesLoseOnlyACameraThatStopsAnswering) {
    for (int mode : {TRIGGER_MODE_SOFTWARE, TRIGGER_MODE_HARDWARE}) {
        SCOPED_TRACE(mode);
        CameraParameter r = BaseRecord();
        r.settings.triggerMode = mode;
        SaveGroup(r, 0);
        auto camera = std::make_shared<CTestCamera>();
        CameraControl* control = Open(camera, 0, 0);
        ASSERT_EQ(control->CameraPlay(), 0);
        for (int i = 0; i < 3; ++i) {
            m_clock.Advance(3'600'000);
            EXPECT_EQ(TakeFrame(control, 1), CAMERA_STATUS_TIMEOUT);
        }
        EXPECT_FALSE(control->IsRegistered());
        camera->SetAlive(false);
        EXPECT_EQ(TakeFrame(control, 1), CAMERA_STATUS_TIMEOUT);
        EXPECT_TRUE(control->IsRegistered());
        EXPECT_EQ(TakeFrame(control, 1), CAMERA_STATUS_DEVICE_LOST);
        m_controls.clear();
    }
}

// A loss the transport posts into the pool counts in every mode while playing.
TEST_F(Stream, PostedLossWhilePlaying) {
    auto camera = std::make_shared<CTestCamera>();
    CameraControl* control = Open(camera);
    ASSERT_EQ(control->CameraPlay(), 0);
    ASSERT_EQ(camera->PostStatus(CAMERA_STATUS_DEVICE_LOST), 0);
    EXPECT_EQ(TakeFrame(control, 1), CAMERA_STATUS_TIMEOUT);
    EXPECT_TRUE(control->IsRegistered());
    EXPECT_EQ(TakeFrame(control, 1), CAMERA_STATUS_DEVICE_LOST);
}

// Before CameraPlay and during a pause a wait only times out, however long no frame came, and
// even when the transport posts a loss.
TEST_F(Stream, NoLossUnlessPlaying) {
    auto camera = std::make_shared<CTestCamera>();
    CameraControl* control = Open(camera);
    m_clock.Advance(3'600'000);
    EXPECT_EQ(TakeFrame(control, 1), CAMERA_STATUS_TIMEOUT);
    EXPECT_EQ(TakeFrame(control, 1), CAMERA_STATUS_TIMEOUT);

    ASSERT_EQ(control->CameraPlay(), 0);
    ASSERT_EQ(camera->PushTestFrame(), 0);
    ASSERT_EQ(TakeFrame(control), 0);
    ASSERT_EQ(control->CameraPause(), 0);
    m_clock.Advance(3'600'000);
    EXPECT_EQ(TakeFrame(control, 1), CAMERA_STATUS_TIMEOUT);
    ASSERT_EQ(camera->PostStatus(CAMERA_STATUS_DEVICE_LOST), 0);
    EXPECT_EQ(TakeFrame(control, 1), CAMERA_STATUS_TIMEOUT);
    EXPECT_FALSE(control->IsRegistered());
    EXPECT_EQ(camera->OpenCount(), 1);

    // Play again: the loss time counts from the start of capture, not from the last frame.
    ASSERT_EQ(camera->PostStatus(0), 0);
    ASSERT_EQ(control->CameraPlay(), 0);
    m_clock.Advance(4999);
    EXPECT_EQ(TakeFrame(control, 1), CAMERA_STATUS_TIMEOUT);
    EXPECT_FALSE(control->IsRegistered());
}

TEST_F(Stream, FailedCaptureStartIsALossButPlayAnswers0) {
    auto camera = std::make_shared<CTestCamera>();
    CameraControl* control = Open(camera);
    camera->SetResult("StartCapture", -13);
    qvsim::LogCapture log;
    EXPECT_EQ(control->CameraPlay(), 0);
    EXPECT_TRUE(control->IsPlaying());
    EXPECT_TRUE(control->IsRegistered());
    EXPECT_EQ(camera->OpenCount(), 0);
    EXPECT_EQ(log.Count("CAMERA_STATUS_DEVICE_LOST!!!!\n"), 1);
    EXPECT_EQ(TakeFrame(control, 1), CAMERA_STATUS_DEVICE_LOST);
}

TEST_F(Stream, FrameHandlesAreChecked) {
    auto camera = std::make_shared<CTestCamera>();
    CameraControl* control = Open(camera);
    EXPECT_EQ(control->CameraGetRawImageBuffer(nullptr, 1), CAMERA_STATUS_PARAMETER_INVALID);
    int notAFrame = 0;
    EXPECT_EQ(control->CameraReleaseFrameHandle(nullptr), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(control->CameraReleaseFrameHandle(&notAFrame), CAMERA_STATUS_PARAMETER_INVALID);
    ASSERT_EQ(camera->PushTestFrame(7), 0);
    CameraFrameHandle frame = nullptr;
    ASSERT_EQ(control->CameraGetRawImageBuffer(&frame, 1000), 0);
    stImageInfo info{};
    const BYTE* data = control->CameraGetImageInfo(frame, &info);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data[0], 7);
    EXPECT_EQ(info.iHeight, ctltest::kHeight);
    EXPECT_EQ(control->CameraReleaseFrameHandle(frame), 0);
    // The same frame is not delivered twice.
    EXPECT_EQ(TakeFrame(control, 1), CAMERA_STATUS_TIMEOUT);
}

// ---- Transfer mode -------------------------------------------------------------------------

TEST_F(Stream, TransferModeChangeReopensTheStream) {
    auto camera = std::make_shared<CTestCamera>();
    CameraControl* control = Open(camera);
    int mode = -1;
    EXPECT_EQ(control->CameraGetImageTransferMode(nullptr), CAMERA_STATUS_PARAMETER_INVALID);
    ASSERT_EQ(control->CameraGetImageTransferMode(&mode), 0);
    EXPECT_EQ(mode, 0);

    camera->ClearCalls();
    ASSERT_EQ(control->CameraSetImageTransferMode(2), 0);
    EXPECT_EQ(camera->CallCount("CloseStream"), 1u);
    EXPECT_EQ(camera->CallCount("OpenStream"), 1u);
    EXPECT_EQ(camera->LastInitParam().transferMode, 2);
    ASSERT_EQ(control->CameraGetImageTransferMode(&mode), 0);
    EXPECT_EQ(mode, 2);

    camera->ClearCalls();
    ASSERT_EQ(control->CameraSetImageTransferMode(2), 0);
    EXPECT_TRUE(camera->Calls().empty());

    // A stream that does not open again is reported, not hidden behind 0.
    camera->SetResult("OpenStream", CAMERA_STATUS_STREAM_OPEN_FAILED);
    EXPECT_EQ(control->CameraSetImageTransferMode(1), CAMERA_STATUS_FAILED);

    EXPECT_EQ(control->CameraRequestTransferImage(), CAMERA_STATUS_FAILED);  // not playing
}

// A reopen maps the stored AE and WB windows again, from the resolution they were set on to the
// current one, and hands them to the pipeline.
TEST_F(Stream, ReopenSendsTheWindowsInRawCoordinates) {
    CameraParameter r = BaseRecord();
    r.settings.resolutionIndex = 1;  // now: 320 x 240, skipping 2
    const int32_t ae[4] = {10, 20, 100, 50};
    const int32_t wb[4] = {0, 0, 64, 32};
    std::memcpy(r.settings.aeWindow, ae, sizeof ae);
    std::memcpy(r.settings.wbWindow, wb, sizeof wb);
    // Both were set on the full 640 x 480 frame without mirroring.
    struct {
        tSdkResolution resolution;
        int32_t mirrorH, mirrorV;
    } snapshot{};
    snapshot.resolution.iSensorWidth = 640;
    snapshot.resolution.iSensorHeight = 480;
    snapshot.resolution.uWidth = 640;
    snapshot.resolution.uHeight = 480;
    static_assert(sizeof snapshot == sizeof r.aeWindowBlock);
    std::memcpy(r.aeWindowBlock, &snapshot, sizeof snapshot);
    std::memcpy(r.wbWindowBlock, &snapshot, sizeof snapshot);
    SaveGroup(r, 0);
    auto camera = std::make_shared<CTestCamera>();
    CameraControl* control = Open(camera, 0, 0);
    qvsim::LogCapture log;
    ASSERT_EQ(control->CameraSetImageTransferMode(1), 0);
    EXPECT_EQ(log.Count("mExposure.CE_CameraSetAeWindow  left:5,top:10,width:50,height:25\n"), 1);
    EXPECT_EQ(log.Count("mWb.CWB_CameraSetWbWindow  left:0,top:0,width:32,height:16\n"), 1);
}

// Stored AE gain limits outside the sensor's (or never set: all ones) are brought to them.
TEST_F(Stream, AeGainLimitsAreClampedToTheSensor) {
    auto camera = std::make_shared<CTestCamera>();
    camera->ScriptParameters(0, [](CameraProperty& p) {
        p.defaultSettings.aeAnalogGainMin = 200;
        p.defaultSettings.aeAnalogGainMax = 0xFFFFFFFF;
    });
    CameraControl* control = Open(camera);
    const CameraParameter p = control->GetParameterRecord();
    EXPECT_EQ(p.settings.aeAnalogGainMin, 1000u);   // the sensor's minimum
    EXPECT_EQ(p.settings.aeAnalogGainMax, 16000u);  // and maximum
    m_controls.clear();

    auto inside = std::make_shared<CTestCamera>();
    inside->ScriptParameters(0, [](CameraProperty& p) {
        p.defaultSettings.aeAnalogGainMin = 2000;
        p.defaultSettings.aeAnalogGainMax = 8000;
    });
    const CameraParameter q = Open(inside)->GetParameterRecord();
    EXPECT_EQ(q.settings.aeAnalogGainMin, 2000u);
    EXPECT_EQ(q.settings.aeAnalogGainMax, 8000u);
}

// ---- Window mapping ------------------------------------------------------------------------

TEST(WindowMapping, OutputWindowToRawFrame) {
    auto res = [](int x, int y, uint32_t skip, int sensorW, int sensorH) {
        tSdkResolution r{};
        r.iOffsetX = x;
        r.iOffsetY = y;
        r.uModeC = skip;
        r.iSensorWidth = sensorW;
        r.iSensorHeight = sensorH;
        r.uWidth = static_cast<uint32_t>(sensorW) / (skip + 1);
        r.uHeight = static_cast<uint32_t>(sensorH) / (skip + 1);
        return r;
    };
    struct Row {
        const char* name;
        int32_t window[4];
        tSdkResolution rs;
        bool h, v;
        tSdkResolution rc;
        int out[4];  // left, top, right, bottom
    };
    const Row rows[] = {
        {"same resolution",
         {10, 20, 100, 50},
         res(0, 0, 0, 640, 480),
         false,
         false,
         res(0, 0, 0, 640, 480),
         {10, 20, 110, 70}},
        {"empty",
         {10, 20, 0, 50},
         res(0, 0, 0, 640, 480),
         false,
         false,
         res(0, 0, 0, 640, 480),
         {0, 0, 0, 0}},
        // Set on the full frame, now skipping 2: (10 / 2, 20 / 2) and half the size.
        {"skip 2 now",
         {10, 20, 100, 50},
         res(0, 0, 0, 640, 480),
         false,
         false,
         res(0, 0, 1, 640, 480),
         {5, 10, 55, 35}},
        // Set while skipping 2 at offset (8, 4): sensor x = 8 + 10 x 2 = 28, y = 4 + 40 = 44.
        {"skip 2 then",
         {10, 20, 30, 10},
         res(8, 4, 1, 640, 480),
         false,
         false,
         res(0, 0, 0, 640, 480),
         {28, 44, 88, 64}},
        // Mirrored: x = 640 - 0 - 10 - 100 = 530, y = 480 - 0 - (20 + 50) = 410.
        {"mirrored",
         {10, 20, 100, 50},
         res(0, 0, 0, 640, 480),
         true,
         true,
         res(0, 0, 0, 640, 480),
         {530, 410, 630, 460}},
        // A region on the left of a 1920-wide sensor, mirrored: the image is mirrored within
        // the region, so its left edge is the region's right edge, 640 - 100 = 540.
        {"mirrored in a region off the centre",
         {0, 0, 100, 100},
         res(0, 0, 0, 640, 480),
         true,
         false,
         res(0, 0, 0, 640, 480),
         {540, 0, 640, 100}},
        // Sensor x = 800 + 640 - 10 - 100 = 1330, y = 300 + 480 - 70 = 710: in the region at
        // (530, 410), where the full-sensor mirror of the same window lies in its image.
        {"mirrored both ways off the centre",
         {10, 20, 100, 50},
         res(800, 300, 0, 640, 480),
         true,
         true,
         res(800, 300, 0, 640, 480),
         {530, 410, 630, 460}},
        // Skipping 2 in a region at (100, 60): sensor x = 100 + 640 - 20 - 200 = 520, the raw
        // column (520 - 100) / 2 = 210 = 320 - 10 - 100 of the 320-wide image.
        {"mirrored while skipping",
         {10, 20, 100, 50},
         res(100, 60, 1, 640, 480),
         true,
         false,
         res(100, 60, 1, 640, 480),
         {210, 20, 310, 70}},
        {"mirrored while skipping, now the whole sensor",
         {10, 20, 100, 50},
         res(100, 60, 1, 640, 480),
         true,
         false,
         res(0, 0, 0, 1920, 1080),
         {520, 100, 720, 200}},
        // The window starts left of the current region (offset 40): 30 columns cut off.
        {"cut at the region",
         {10, 20, 100, 50},
         res(0, 0, 0, 640, 480),
         false,
         false,
         res(40, 0, 0, 320, 480),
         {0, 20, 70, 70}},
    };
    for (const Row& r : rows) {
        int out[4] = {-1, -1, -1, -1};
        CWindowGeometry::MapWindowToRaw(r.window, r.rs, r.h, r.v, r.rc, out);
        EXPECT_EQ(std::vector<int>(out, out + 4), std::vector<int>(r.out, r.out + 4)) << r.name;
    }
}

}  // namespace
