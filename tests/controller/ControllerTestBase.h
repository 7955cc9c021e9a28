// A controller on its own device manager (fake USB factory, 10 ms keep-alive period) with a
// clock moved by hand, and parameter-group files in a private HOME.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "params/CameraParameterBuilder.h"
#include "ControllerFixture.h"
#include "FakeCameraFactory.h"
#include "manager/JNDeviceMgr.h"

namespace ctltest {

class ControllerTest : public ::testing::Test {
  public:
    static constexpr unsigned kKeepAlivePeriodMs = 10;

    ControllerTest() {
        auto usb = std::make_unique<qvsim::CFakeCameraFactory>(
            qvsim::CFakeCameraFactory::RefreshStyle::kUsb);
        m_factory = usb.get();
        m_mgr = std::make_unique<CJNDeviceMgr>(std::move(usb), nullptr, kKeepAlivePeriodMs);
    }

    // A camera present in the factory.
    std::shared_ptr<CTestCamera> AddCamera(const char* sn = "SN0001",
                                           const char* symbolic = nullptr) {
        auto camera = std::make_shared<CTestCamera>(sn, "Cam", symbolic);
        m_factory->AddDevice(camera);
        return camera;
    }

    // A controller opened on camera (mode and group as CameraInit takes them); its result in r.
    CameraControl* Open(const std::shared_ptr<CJNDevice>& camera, int mode = -1, int group = -1,
                        int* r = nullptr) {
        m_controls.push_back(std::make_unique<CameraControl>(m_mgr.get()));
        CameraControl* control = m_controls.back().get();
        control->SetClock(&m_clock);
        const int result = control->CameraInit(camera, mode, group, nullptr);
        if (r != nullptr)
            *r = result;
        else
            EXPECT_EQ(result, 0);
        return control;
    }

    // The parameter record a camera with the test property would have after SetDefault.
    static CameraParameter BaseRecord() {
        CameraParameter r{};
        CameraParameterBuilder().SetDefault(&r);
        r.deviceId = kDeviceId;
        r.aeProcessArg = r.awbProcessArg = 1;
        r.settings = TestProperty().defaultSettings;
        return r;
    }
    // Writes record as group file (mode 0: the product name "FAKE-CAM", group).
    void SaveGroup(CameraParameter record, int group, int mode = 0,
                   const char* friendlyName = "Cam") {
        tDevInfo info{};
        std::snprintf(info.acProductName, sizeof info.acProductName, "FAKE-CAM");
        std::snprintf(info.acFriendlyName, sizeof info.acFriendlyName, "%s", friendlyName);
        std::snprintf(info.acSn, sizeof info.acSn, "SN0001");
        CameraParameterBuilder::MakeConfigFolder(m_dir);
        ASSERT_EQ(CameraParameterBuilder().SaveGroup(m_dir.c_str(), &record, mode, group, &info,
                                                     nullptr, nullptr, nullptr),
                  0);
    }

    // A frame the caller then releases; the result of the wait.
    static int TakeFrame(CameraControl* control, int timeoutMs = 1000) {
        CameraFrameHandle frame = nullptr;
        const int r = control->CameraGetRawImageBuffer(&frame, timeoutMs);
        if (r == 0) {
            EXPECT_EQ(control->CameraReleaseFrameHandle(frame), 0);
        }
        return r;
    }

    ScopedHome m_home;
    std::string m_dir;
    CManualClock m_clock;
    qvsim::CFakeCameraFactory* m_factory;
    std::unique_ptr<CJNDeviceMgr> m_mgr;
    std::vector<std::unique_ptr<CameraControl>> m_controls;  // die before the manager
};

// A call made while a snapshot waits: its name, the call, the result it must give.
struct CallRow {
    const char* name;
    std::function<int(CameraControl*)> call;
    int result;
};

// Makes each call of rows while a snapshot of c waits up to waitMs for its frame, then gives
// camera that frame: the snapshot must get it. A paused camera's stream is switched on for the
// shot under the controller's lock, so from then on a call that took that lock would wait for a
// frame nobody gives, and the snapshot would end with its time-out instead.
inline void CallWhileASnapshotWaits(CameraControl* c, CTestCamera& camera,
                                    const std::vector<CallRow>& rows, unsigned waitMs) {
    const size_t streamOnsBefore = camera.CallCount("StreamOn");
    std::atomic<int> snapResult{1};
    CameraFrameHandle frame = nullptr;
    std::thread snap([&] { snapResult = c->CameraSnapToBuffer(&frame, nullptr, nullptr, waitMs); });
    EXPECT_TRUE(WaitFor([&] { return camera.CallCount("StreamOn") > streamOnsBefore; }));
    for (const CallRow& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.call(c), row.result);
    }
    EXPECT_EQ(camera.PushTestFrame(), 0);
    snap.join();
    EXPECT_EQ(snapResult.load(), 0);
    if (frame != nullptr) {
        EXPECT_EQ(c->CameraReleaseFrameHandle(frame), 0);
    }
}

// A resolution record: a region of windowW x windowH sensor pixels at (x, y) shown as a w x h
// image with skip mode skip; index 255 is a custom region.
inline tSdkResolution Region(int x, int y, int windowW, int windowH, unsigned w, unsigned h,
                             unsigned skip = 0, int index = 255) {
    tSdkResolution r{};
    r.iIndex = index;
    r.iOffsetX = x;
    r.iOffsetY = y;
    r.iSensorWidth = windowW;
    r.iSensorHeight = windowH;
    r.uWidth = w;
    r.uHeight = h;
    r.uModeC = skip;
    return r;
}

}  // namespace ctltest
