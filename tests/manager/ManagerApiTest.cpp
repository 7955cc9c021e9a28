// The enumeration exports on the process-wide manager, made with fake factories through the
// internal seam.
#include <gtest/gtest.h>

#include <cstring>

#include "api/ApiInternal.h"
#include "FakeCameraFactory.h"
#include "FakeDevice.h"
#include "manager/JNCameraMgr.h"
#include "ManagerFakesTest.h"
#include "QVCameraApi.h"

namespace {

using qvsim::CFakeDevice;

using ManagerApi = qvsim::ManagerFakesTest;

TEST_F(ManagerApi, SingletonWithFixedProcessLevelAndClosedSeam) {
    JNCameraMgr* mgr = JNCameraMgr::GetInstance();
    EXPECT_EQ(mgr, JNCameraMgr::GetInstance());
    EXPECT_EQ(mgr->GetProcessLevel(), 6);
    EXPECT_FALSE(qv::internal::InstallManagerFactories(nullptr, nullptr));
}

TEST_F(ManagerApi, EnumerateAndQueryThroughTheExports) {
    EXPECT_EQ(CameraEnumerateDevice(nullptr), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(CameraEnumerateDeviceEx(nullptr, 3), CAMERA_STATUS_PARAMETER_INVALID);
    int count = -1;
    EXPECT_EQ(CameraEnumerateDevice(&count), CAMERA_STATUS_NO_DEVICE_FOUND);
    EXPECT_EQ(count, 0);

    s_usb->AddDevice(std::make_shared<CFakeDevice>("U1", "Zulu"));
    s_gige->AddDevice(std::make_shared<CFakeDevice>("G1", "Alpha"));
    EXPECT_EQ(CameraEnumerateDevice(&count), 0);
    EXPECT_EQ(count, 2);
    tDevInfo info{};
    EXPECT_EQ(CameraGetEnumIndexInfo(0, &info), 0);
    EXPECT_STREQ(info.acFriendlyName, "Alpha");
    EXPECT_EQ(CameraGetEnumIndexInfo(2, &info), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(CameraGetEnumIndexInfo(0, nullptr), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(CameraEnumerateDeviceEx(&count, 2), 0);
    EXPECT_EQ(count, 1);
}

// The host-opened rescan asks the USB transport alone and rebuilds the list from its answer: a
// transport without such devices leaves nothing listed.
TEST_F(ManagerApi, HostOpenedRescanReplacesTheList) {
    s_gige->AddDevice(std::make_shared<CFakeDevice>("G1", "Alpha"));
    int count = -1;
    ASSERT_EQ(CameraEnumerateDevice(&count), 0);
    ASSERT_EQ(count, 1);
    int fds[] = {0};
    unsigned ids[] = {0x3A6E1301};
    char path[] = "/dev/bus/usb/001/002";
    char* paths[] = {path};
    EXPECT_EQ(CameraEnumerateDeviceFromOpenedDevList(&count, 1, fds, ids, paths),
              CAMERA_STATUS_NO_DEVICE_FOUND);
    EXPECT_EQ(count, 0);
    tDevInfo info{};
    EXPECT_EQ(CameraGetEnumIndexInfo(0, &info), CAMERA_STATUS_PARAMETER_INVALID);
}

TEST_F(ManagerApi, GigeIpEntriesCheckTheSerialNumber) {
    tGigeIpConfig config{};
    EXPECT_EQ(CameraGigeGetIp(nullptr, &config), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(CameraGigeSetIp(nullptr, &config), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(CameraGigeGetIp("none", &config), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(CameraGigeBroadcastSoftTrigger(nullptr, 1), CAMERA_STATUS_PARAMETER_INVALID);
}

}  // namespace
