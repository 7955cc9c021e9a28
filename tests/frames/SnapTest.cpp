// Snapshots: the snapshot resolution and its checks, and CameraSnapToBuffer on a paused and a
// playing camera, at another resolution, under the software-trigger emulation, on time-out and
// loss.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "FramesTestBase.h"
#include "LogCapture.h"

namespace {

using ctltest::CTestCamera;
using framestest::FramesTest;
using framestest::HeadCamera;
using framestest::RawFrame;

// A camera whose sensor takes windows up to 1280 x 1024 (at least 8 x 8) and offers skipping
// mode 1 and binning mode 2 (first binning field); its current output is HeadCamera's.
class SnapCamera : public HeadCamera {
  public:
    explicit SnapCamera(const char* sn = "SN0001") : HeadCamera(sn) {
        tSdkCapability cap = ctltest::TestCapability();
        // AE target, analog gain, exposure lines, height max/min, width max/min, then the
        // skipping mask, the two binning masks.
        const UINT sensor[13] = {16, 220, 1000, 16000, 1, 10000, 1024, 8, 1280, 8, 0x1, 0x2, 0};
        std::memcpy(cap.auSensorParam, sensor, sizeof sensor);
        const CameraProperty prop = ctltest::TestProperty();
        const DeviceMiscInfo misc = ctltest::TestMisc();
        ScriptDevParam(0, &cap, &prop, &misc);
    }
    // Frames come only while the sensor streams: each call named `on` delivers one, numbered
    // with the image width of the stream it came from.
    void DeliverFrameOn(const std::string& on) {
        SetCallHook([this, on](const qvsim::FakeCall& call) {
            if (call.name != on) return;
            RawFrame raw;
            raw.frameNo = LastInitParam().resolution.uWidth;
            FramesTest::Push(*this, raw);
        });
    }
};

tSdkResolution Record(int index, int windowW, int windowH, uint32_t imageW, uint32_t imageH) {
    tSdkResolution r{};
    r.iIndex = index;
    r.iSensorWidth = windowW;
    r.iSensorHeight = windowH;
    r.uWidth = imageW;
    r.uHeight = imageH;
    return r;
}

using Snap = FramesTest;

// ---- Snapshot resolution -------------------------------------------------------------------

TEST_F(Snap, SnapshotResolutionIsNormalisedAndChecked) {
    auto camera = std::make_shared<SnapCamera>();
    CameraControl* control = OpenWith(camera);
    struct Row {
        const char* name;
        tSdkResolution in;
        int result;
        // On success: the record as normalised, and what is stored.
        int wantWindowW = 0, wantWindowH = 0;
        uint32_t wantW = 0, wantH = 0;
        int wantIndex = 0;
        const char* wantDescription = "";
    };
    auto with = [](tSdkResolution r, auto&& edit) {
        edit(r);
        return r;
    };
    const Row rows[] = {
        {"preset of that size",
         with(Record(0, 641, 481, 642, 481),
              [](tSdkResolution& r) {
                  r.uResizeWidth = 100;
                  r.uResizeHeight = 80;
              }),
         0, 640, 480, 640, 480, 0, "640x480"},
        {"1282 wide stores 1280", Record(0, 1280, 960, 1282, 960), 0, 1280, 960, 1280, 960, 255,
         ""},
        {"skipping preset", with(Record(1, 640, 480, 322, 241), [](auto& r) { r.uModeC = 1; }), 0,
         640, 480, 320, 240, 1, "320x240"},
        // Binning by 3 to 320 x 240 under index 1: the preset of that image size is stored.
        {"preset of the same image size",
         with(Record(1, 960, 720, 320, 240), [](auto& r) { r.uModeA = 2; }), 0, 960, 720, 320, 240,
         1, "320x240"},
        {"binning by 3", with(Record(5, 960, 720, 320, 240), [](auto& r) { r.uModeA = 2; }), 0, 960,
         720, 320, 240, 255, ""},
        {"window is not the image times the reduction", Record(5, 640, 480, 320, 240), -6},
        {"binning mode the sensor lacks",
         with(Record(5, 640, 480, 320, 240), [](auto& r) { r.uModeA = 1; }), -6},
        {"mode beyond the mask",
         with(Record(5, 640, 480, 320, 240), [](auto& r) { r.uModeC = 40; }), -6},
        {"mode 33", with(Record(5, 640, 480, 320, 240), [](auto& r) { r.uModeB = 33; }), -6},
        {"wider than the sensor", Record(5, 1284, 960, 1284, 960), -6},
        {"below the minimum", Record(5, 4, 4, 4, 4), -6},
        {"region off the sensor",
         with(Record(5, 640, 480, 640, 480), [](auto& r) { r.iOffsetX = 700; }), -6},
        {"negative offset", with(Record(5, 640, 480, 640, 480), [](auto& r) { r.iOffsetY = -4; }),
         -6},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        // A custom region stored before: a refused record must not replace it.
        tSdkResolution before = Record(9, 1000, 800, 1000, 800);
        ASSERT_EQ(control->CameraSetResolutionForSnap(&before), 0);
        tSdkResolution res = row.in;
        ASSERT_EQ(control->CameraSetResolutionForSnap(&res), row.result);
        tSdkResolution stored{};
        ASSERT_EQ(control->CameraGetResolutionForSnap(&stored), 0);
        if (row.result != 0) {
            EXPECT_EQ(stored.uWidth, 1000u);
            EXPECT_EQ(stored.iIndex, 255);
            continue;
        }
        EXPECT_EQ(res.iSensorWidth, row.wantWindowW);
        EXPECT_EQ(res.iSensorHeight, row.wantWindowH);
        EXPECT_EQ(res.uWidth, row.wantW);
        EXPECT_EQ(res.uHeight, row.wantH);
        EXPECT_EQ(res.uResizeWidth, 0u);
        EXPECT_EQ(res.uResizeHeight, 0u);
        EXPECT_EQ(stored.uWidth, row.wantW);
        EXPECT_EQ(stored.uHeight, row.wantH);
        EXPECT_EQ(stored.iIndex, row.wantIndex);
        EXPECT_STREQ(stored.acDescription, row.wantDescription);
        EXPECT_EQ(res.iIndex, row.wantIndex);
    }
    EXPECT_EQ(control->CameraSetResolutionForSnap(nullptr), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(control->CameraGetResolutionForSnap(nullptr), CAMERA_STATUS_PARAMETER_INVALID);
}

// Width or height 0: the current resolution, whose index the record gets back.
TEST_F(Snap, ZeroSizeAdoptsTheCurrentResolution) {
    auto camera = std::make_shared<SnapCamera>();
    CameraControl* control =
        OpenWith(camera, [](CameraParameter& r) { r.settings.resolutionIndex = 1; });
    tSdkResolution res = Record(7, 0, 0, 0, 5);
    ASSERT_EQ(control->CameraSetResolutionForSnap(&res), 0);
    EXPECT_EQ(res.iIndex, 1);
    tSdkResolution stored{};
    ASSERT_EQ(control->CameraGetResolutionForSnap(&stored), 0);
    EXPECT_EQ(stored.iIndex, 1);
    EXPECT_EQ(stored.uWidth, 320u);
    m_controls.clear();

    // A custom region as the current resolution is followed as it is.
    ctltest::ScopedHome home;
    auto custom = std::make_shared<SnapCamera>();
    control = OpenWith(custom, [](CameraParameter& r) {
        r.settings.resolutionIndex = 255;
        r.resolution = Record(255, 200, 100, 200, 100);
    });
    res = Record(0, 0, 0, 0, 0);
    ASSERT_EQ(control->CameraSetResolutionForSnap(&res), 0);
    EXPECT_EQ(res.iIndex, 255);
    ASSERT_EQ(control->CameraGetResolutionForSnap(&stored), 0);
    EXPECT_EQ(stored.uWidth, 200u);
}

TEST_F(Snap, RefusedBeforeInitialisationAndWithoutDeviceParameters) {
    CameraControl fresh(m_mgr.get());
    tSdkResolution res = Record(0, 640, 480, 640, 480);
    CameraFrameHandle frame = &res;
    EXPECT_EQ(fresh.CameraSetResolutionForSnap(&res), CAMERA_STATUS_NOT_INITIALIZED);
    EXPECT_EQ(fresh.CameraSnapToBuffer(&frame, nullptr, nullptr, 10),
              CAMERA_STATUS_NOT_INITIALIZED);
    EXPECT_EQ(frame, nullptr);

    auto camera = std::make_shared<SnapCamera>();
    camera->ScriptParameters(CAMERA_STATUS_PROPERTY_NOT_WRITTEN);
    int r = 0;
    CameraControl* control = Open(camera, -1, -1, &r);
    ASSERT_EQ(r, CAMERA_STATUS_EEPROM_NOT_WRITTEN);
    EXPECT_EQ(control->CameraSetResolutionForSnap(&res), CAMERA_STATUS_FAILED);
    EXPECT_EQ(control->CameraSnapToBuffer(&frame, nullptr, nullptr, 10), CAMERA_STATUS_FAILED);
    EXPECT_EQ(control->CameraSnapToBuffer(nullptr, nullptr, nullptr, 10),
              CAMERA_STATUS_PARAMETER_INVALID);
}

// ---- Snapshots -------------------------------------------------------------------------------

// A paused camera's sensor is off: the shot switches it on and the camera is paused again
// afterwards.
TEST_F(Snap, PausedCameraIsSwitchedOnForTheShot) {
    auto camera = std::make_shared<SnapCamera>();
    CameraControl* control = OpenWith(camera);
    camera->DeliverFrameOn("StreamOn");
    camera->ClearCalls();
    CameraFrameHandle frame = nullptr;
    stImageInfo info{};
    BYTE* data = nullptr;
    ASSERT_EQ(control->CameraSnapToBuffer(&frame, &info, &data, 2000), 0);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(data, static_cast<CFrameBuffer*>(frame)->GetData());
    EXPECT_EQ(data[1], framestest::Pattern(0, 1));
    // The frame's own size and format, with the exposure as set.
    EXPECT_EQ(info.iWidth, ctltest::kWidth);
    EXPECT_EQ(info.uiMediaType, CAMERA_MEDIA_TYPE_MONO8);
    EXPECT_EQ(info.ExpTime, 20000.0);
    EXPECT_EQ(info.ExpLineTime, 15.5);
    EXPECT_EQ(info.Gain, 2500u);

    EXPECT_FALSE(control->IsPlaying());
    const std::vector<std::string> want = {"GetImageInfo", "StartCapture", "StreamOn", "StreamOff",
                                           "StopCapture"};
    EXPECT_EQ(camera->CallNames(), want);
    // Held until released, like a raw frame.
    EXPECT_EQ(control->CameraReleaseFrameHandle(frame), 0);
}

TEST_F(Snap, PlayingCameraKeepsPlaying) {
    auto camera = std::make_shared<SnapCamera>();
    CameraControl* control = OpenWith(camera);
    ASSERT_EQ(control->CameraPlay(), 0);
    ASSERT_EQ(Push(*camera, RawFrame{}), 0);
    camera->ClearCalls();
    CameraFrameHandle frame = nullptr;
    ASSERT_EQ(control->CameraSnapToBuffer(&frame, nullptr, nullptr, 1000), 0);
    EXPECT_TRUE(control->IsPlaying());
    EXPECT_EQ(camera->CallNames(), std::vector<std::string>{"GetImageInfo"});
    EXPECT_EQ(control->CameraReleaseFrameHandle(frame), 0);
}

// Under the software-trigger emulation the shot fires a trigger and answers it: afterwards no
// trigger is pending, the release stops the stream again, and a frame that comes without a
// trigger is still refused.
TEST_F(Snap, ShotConsumesItsEmulatedTrigger) {
    auto camera = std::make_shared<SnapCamera>();
    camera->SetResult("SetTriggerMode", CAMERA_STATUS_NOT_SUPPORTED);
    CameraControl* control = OpenWith(
        camera, [](CameraParameter& r) { r.settings.triggerMode = TRIGGER_MODE_SOFTWARE; });
    ASSERT_TRUE(control->IsSoftTriggerEmulated());
    ASSERT_EQ(control->CameraPlay(), 0);
    camera->DeliverFrameOn("StartStream");  // the emulated trigger starts the stream
    CameraFrameHandle frame = nullptr;
    ASSERT_EQ(control->CameraSnapToBuffer(&frame, nullptr, nullptr, 2000), 0);
    EXPECT_EQ(control->GetPendingSoftTriggers(), 0);
    camera->ClearCalls();
    EXPECT_EQ(control->CameraReleaseFrameHandle(frame), 0);
    EXPECT_EQ(camera->CallNames(), std::vector<std::string>{"StopStream"});

    camera->SetCallHook(nullptr);
    ASSERT_EQ(Push(*camera, RawFrame{}), 0);
    EXPECT_EQ(TakeFrame(control, 1000), CAMERA_STATUS_NOT_TRIGGERED);
}

// A snapshot resolution other than the current one: the stream is reopened at it for the shot
// and at the current one afterwards; the frame stays valid across the second reopen.
TEST_F(Snap, ShotAtTheSnapshotResolution) {
    auto camera = std::make_shared<SnapCamera>();
    CameraControl* control = OpenWith(camera);
    tSdkResolution res = Record(1, 640, 480, 320, 240);
    res.uModeC = 1;
    ASSERT_EQ(control->CameraSetResolutionForSnap(&res), 0);
    camera->DeliverFrameOn("StreamOn");
    camera->ClearCalls();
    qvsim::LogCapture log;

    CameraFrameHandle frame = nullptr;
    ASSERT_EQ(control->CameraSnapToBuffer(&frame, nullptr, nullptr, 2000), 0);
    uint64_t frameNo = 0;
    ASSERT_EQ(control->CameraGetImageFrameNo(frame, &frameNo), 0);
    EXPECT_EQ(frameNo, 320u);  // taken from the 320-wide stream
    EXPECT_EQ(log.Count("CameraSnapToBuffer 1!!!\n"), 2);
    EXPECT_EQ(camera->CallCount("OpenStream"), 2u);
    EXPECT_EQ(camera->LastInitParam().resolution.uWidth, 640u);
    EXPECT_EQ(control->GetCurrentResolution().uWidth, 640u);
    EXPECT_EQ(control->GetParameterRecord().settings.resolutionIndex, 0);
    EXPECT_FALSE(control->IsPlaying());
    EXPECT_EQ(static_cast<CFrameBuffer*>(frame)->GetData()[1], framestest::Pattern(0, 1));
    EXPECT_EQ(control->CameraReleaseFrameHandle(frame), 0);

    // Back at the current size: the next shot needs no reopen.
    res = Record(0, 0, 0, 0, 0);
    ASSERT_EQ(control->CameraSetResolutionForSnap(&res), 0);
    camera->ClearCalls();
    ASSERT_EQ(control->CameraSnapToBuffer(&frame, nullptr, nullptr, 2000), 0);
    EXPECT_EQ(camera->CallCount("CloseStream"), 0u);
    EXPECT_EQ(control->CameraReleaseFrameHandle(frame), 0);
}

TEST_F(Snap, TimeOutAndLoss) {
    struct Row {
        const char* name;
        bool loss;
        bool otherResolution;
    };
    for (const Row& row : {Row{"time-out", false, false}, Row{"loss", true, false},
                           Row{"loss at the snapshot resolution", true, true}}) {
        SCOPED_TRACE(row.name);
        ctltest::ScopedHome home;
        auto camera = std::make_shared<SnapCamera>();
        CameraControl* control = OpenWith(camera);
        if (row.otherResolution) {
            tSdkResolution res = Record(1, 640, 480, 320, 240);
            res.uModeC = 1;
            ASSERT_EQ(control->CameraSetResolutionForSnap(&res), 0);
        }
        if (row.loss) {
            camera->SetCallHook([&](const qvsim::FakeCall& call) {
                if (call.name == "StreamOn") camera->PostStatus(CAMERA_STATUS_DEVICE_LOST);
            });
        }
        camera->ClearCalls();
        qvsim::LogCapture log;
        BYTE marker = 0;
        CameraFrameHandle frame = &marker;
        BYTE* data = &marker;
        EXPECT_EQ(control->CameraSnapToBuffer(&frame, nullptr, &data, 20), CAMERA_STATUS_TIMEOUT);
        EXPECT_EQ(frame, nullptr);
        EXPECT_EQ(data, nullptr);
        EXPECT_FALSE(control->IsPlaying());
        EXPECT_EQ(control->IsRegistered(), row.loss);
        EXPECT_EQ(log.Count("lost device register!!!!\n"), row.loss ? 1 : 0);
        // The resolution is back in the record; a lost camera is not reopened now (the
        // reconnection does it).
        EXPECT_EQ(control->GetCurrentResolution().uWidth, 640u);
        EXPECT_EQ(camera->CallCount("OpenStream"), row.otherResolution ? 1u : 0u);
        camera->SetCallHook(nullptr);
        m_controls.clear();
    }
}

TEST_F(Snap, FailedCaptureStart) {
    auto camera = std::make_shared<SnapCamera>();
    CameraControl* control = OpenWith(camera);
    camera->SetResult("StartCapture", CAMERA_STATUS_COMM_ERROR);
    CameraFrameHandle frame = nullptr;
    EXPECT_EQ(control->CameraSnapToBuffer(&frame, nullptr, nullptr, 20), CAMERA_STATUS_FAILED);
    EXPECT_FALSE(control->IsPlaying());
    EXPECT_EQ(camera->CallCount("StreamOn"), 0u);
}

// 0xFFFFFFFF waits (for a frame that comes after the wait began), rather than wrapping to a
// negative time that gives up at once.
TEST_F(Snap, LongestTimeoutWaits) {
    auto camera = std::make_shared<SnapCamera>();
    CameraControl* control = OpenWith(camera);
    std::thread late;
    // Started by the shot's first device call, before its wait.
    camera->SetCallHook([&](const qvsim::FakeCall& call) {
        if (call.name != "GetImageInfo" || late.joinable()) return;
        late = std::thread([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            Push(*camera, RawFrame{});
        });
    });
    CameraFrameHandle frame = nullptr;
    EXPECT_EQ(control->CameraSnapToBuffer(&frame, nullptr, nullptr, 0xFFFFFFFFu), 0);
    if (late.joinable()) late.join();
    camera->SetCallHook(nullptr);
    EXPECT_EQ(control->CameraReleaseFrameHandle(frame), 0);
}

}  // namespace
