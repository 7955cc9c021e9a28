// Parameter groups and files, device information, serial numbers, user data, version texts and
// the integer values on the controller, with the camera double and a private HOME.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <vector>

#include "ControllerTestBase.h"
#include "LogCapture.h"
#include "QVCameraApi.h"

namespace {

using ctltest::ControllerTest;
using ctltest::CTestCamera;

constexpr size_t kRecordBytes = 1216;
constexpr size_t kTableBytes = 4096 * 2;

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good());
}

void Put32(std::vector<uint8_t>& b, size_t offset, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[offset + i] = static_cast<uint8_t>(v >> (8 * i));
}

// The three custom curves of the file (after the record) set to a pattern of seed.
void PatchCurves(std::vector<uint8_t>& file, int seed) {
    ASSERT_EQ(file.size(), kRecordBytes + 3 * kTableBytes);
    for (size_t i = 0; i < 3 * 4096; ++i) {
        const uint16_t v = static_cast<uint16_t>((i * 7 + seed) % 4096);
        file[kRecordBytes + 2 * i] = static_cast<uint8_t>(v);
        file[kRecordBytes + 2 * i + 1] = static_cast<uint8_t>(v >> 8);
    }
}

std::vector<uint16_t> Curves(CameraControl* c) {
    std::vector<uint16_t> all(3 * 4096);
    for (int ch = 0; ch < 3; ++ch)
        EXPECT_EQ(c->CameraGetCustomLut(ch + 1, all.data() + ch * 4096), 0);
    return all;
}

bool SameRecord(const CameraParameter& a, const CameraParameter& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The controller-test camera with a user-data area of 16 bytes kept in memory, serial numbers
// and the friendly name kept in memory, and counts of the storage calls.
class CDeviceCamera : public CTestCamera {
  public:
    uint32_t userDataSize = 16;
    std::vector<uint8_t> userData = std::vector<uint8_t>(16, 0);
    int userDataCalls = 0;

    int GetCameraDevParam(tSdkCapability* cap, tDevInfo* info, CameraProperty* prop,
                          DeviceMiscInfo* misc) override {
        const int r = CTestCamera::GetCameraDevParam(cap, info, prop, misc);
        if (cap != nullptr) cap->uUserDataSize = userDataSize;
        return r;
    }
    int DevSaveUserData(uint32_t offset, uint8_t* data, int len) override {
        ++userDataCalls;
        std::memcpy(userData.data() + offset, data, static_cast<size_t>(len));
        return 0;
    }
    int DevLoadUserData(uint32_t offset, uint8_t* data, int len) override {
        ++userDataCalls;
        std::memcpy(data, userData.data() + offset, static_cast<size_t>(len));
        return 0;
    }
};

using Parameters = ControllerTest;

// Group 2 goes to "_C" and the "_SAVE" file; a new opening with mode and group -1 comes back in
// group 2 with the settings saved.
TEST_F(Parameters, SaveGroupAndOpenAgain) {
    auto camera = AddCamera();
    CameraControl* c = Open(camera);
    HANDLE h = static_cast<HANDLE>(c);
    ASSERT_EQ(CameraSetExposureTime(h, 4321.0), 0);
    ASSERT_EQ(CameraSaveParameter(h, 2), 0);
    int group = -1;
    ASSERT_EQ(CameraGetCurrentParameterGroup(h, &group), 0);
    EXPECT_EQ(group, 2);
    const std::string dir = m_home.ConfigDir();
    for (const char* name : {"FAKE-CAM_Cfg_C.bin", "FAKE-CAM_Cfg_SAVE.bin"}) {
        SCOPED_TRACE(name);
        const std::vector<uint8_t> file = ReadFile(dir + name);
        ASSERT_EQ(file.size(), kRecordBytes + 3 * kTableBytes);
        EXPECT_EQ(std::vector<uint8_t>(file.begin() + 8, file.begin() + 12),
                  (std::vector<uint8_t>{0x21, 0x43, 0, 0}));  // the device stamp
    }
    ASSERT_EQ(c->CameraUninit(), 0);
    m_controls.clear();

    CameraControl* again = Open(camera, -1, -1);
    EXPECT_EQ(CameraGetCurrentParameterGroup(static_cast<HANDLE>(again), &group), 0);
    EXPECT_EQ(group, 2);
    EXPECT_EQ(again->GetParameterRecord().settings.exposureTime, 4321.0);
}

// Group 255 loads the camera's defaults and keeps the current group; the stream reopens.
TEST_F(Parameters, LoadDefaultsKeepsTheGroup) {
    auto camera = AddCamera();
    CameraControl* c = Open(camera);
    HANDLE h = static_cast<HANDLE>(c);
    ASSERT_EQ(CameraSaveParameter(h, 1), 0);
    ASSERT_EQ(CameraSetExposureTime(h, 777.0), 0);
    ASSERT_EQ(CameraSetParameterMode(h, 2), 0);
    camera->ClearCalls();
    ASSERT_EQ(CameraLoadParameter(h, 255), 0);
    const CameraParameter p = c->GetParameterRecord();
    EXPECT_EQ(p.settings.exposureTime, 10000.0);  // the camera's default again
    EXPECT_EQ(p.settings.parameterGroup, 1);
    EXPECT_EQ(p.settings.parameterMode, 2);
    EXPECT_EQ(p.settings.rgbGain[0], 150u);  // the device's default gains
    EXPECT_EQ(p.settings.rgbGain[2], 180u);
    EXPECT_EQ(p.settings.frameSpeed, 2);
    EXPECT_EQ(p.transferMode, 0);
    EXPECT_EQ(p.settings.correctDeadPixel, 1);
    EXPECT_EQ(camera->CallCount("CloseStream"), 1u);
    EXPECT_EQ(camera->CallCount("OpenStream"), 1u);
    int group = -1;
    ASSERT_EQ(CameraGetCurrentParameterGroup(h, &group), 0);
    EXPECT_EQ(group, 1);
}

// A group loads with its curves; a missing group changes nothing and answers the file's code.
TEST_F(Parameters, LoadGroupWithCurves) {
    qvsim::LogCapture log;
    CameraControl* c = Open(AddCamera());
    HANDLE h = static_cast<HANDLE>(c);
    ASSERT_EQ(CameraSetExposureTime(h, 1234.0), 0);
    ASSERT_EQ(CameraSaveParameter(h, 3), 0);
    const std::string path = m_home.ConfigDir() + "FAKE-CAM_Cfg_D.bin";
    std::vector<uint8_t> file = ReadFile(path);
    PatchCurves(file, 11);
    WriteFile(path, file);
    ASSERT_EQ(CameraSetExposureTime(h, 99.0), 0);
    ASSERT_EQ(CameraLoadParameter(h, 3), 0);
    EXPECT_EQ(c->GetParameterRecord().settings.exposureTime, 1234.0);
    const std::vector<uint16_t> curves = Curves(c);
    EXPECT_EQ(curves[0], 11u);
    EXPECT_EQ(curves[4096 + 1], (4096 * 7 + 7 + 11) % 4096u);

    const CameraParameter before = c->GetParameterRecord();
    EXPECT_EQ(CameraLoadParameter(h, 0), CAMERA_STATUS_FILE_IO_FAILED);  // "_A" was never saved
    EXPECT_EQ(log.Count("load param failed.\n"), 1);
    EXPECT_TRUE(SameRecord(c->GetParameterRecord(), before));
    EXPECT_EQ(Curves(c), curves);
}

// Fields an older file does not carry keep their current values: a version-2 file has no
// sensor format.
TEST_F(Parameters, OlderFileKeepsWhatItLacks) {
    auto camera = AddCamera();
    camera->SetMediaTypes({0x01080009, 0x0110000D});
    CameraControl* c = Open(camera);
    HANDLE h = static_cast<HANDLE>(c);
    ASSERT_EQ(CameraSetSensorOutPixelFormat(h, 0x0110000D), 0);
    ASSERT_EQ(CameraSaveParameter(h, 1), 0);
    const std::string path = m_home.ConfigDir() + "FAKE-CAM_Cfg_B.bin";
    std::vector<uint8_t> file = ReadFile(path);
    file.resize(1096);
    Put32(file, 4, 2);                  // version 2
    Put32(file, 568 + 8, 0);            // exposure time (double) 0 ...
    Put32(file, 568 + 12, 0x40A00000);  // ... high word: 2048.0
    WriteFile(path, file);
    ASSERT_EQ(CameraLoadParameter(h, 1), 0);
    const CameraParameter p = c->GetParameterRecord();
    EXPECT_EQ(p.settings.exposureTime, 2048.0);
    EXPECT_EQ(p.sensorOutFormat, 0x0110000Du);
    EXPECT_EQ(p.packetSize, 9000);
}

// A file of another camera model is refused with -40 and changes neither the settings nor the
// curves; a file of this model is taken with its curves, keeping mode and group.
TEST_F(Parameters, ReadFileOfAnotherModel) {
    qvsim::LogCapture log;
    CameraControl* c = Open(AddCamera());
    HANDLE h = static_cast<HANDLE>(c);
    const std::string path = m_home.Path() + "/settings.bin";
    ASSERT_EQ(CameraSetExposureTime(h, 555.0), 0);
    ASSERT_EQ(CameraSaveParameterToFile(h, path.c_str()), 0);
    std::vector<uint8_t> file = ReadFile(path);
    PatchCurves(file, 5);
    std::vector<uint8_t> foreign = file;
    Put32(foreign, 8, 0x9999);
    const std::string foreignPath = m_home.Path() + "/foreign.bin";
    WriteFile(foreignPath, foreign);
    WriteFile(path, file);

    ASSERT_EQ(CameraSetExposureTime(h, 666.0), 0);
    const CameraParameter before = c->GetParameterRecord();
    const std::vector<uint16_t> curves = Curves(c);
    EXPECT_EQ(CameraReadParameterFromFile(h, foreignPath.c_str()),
              CAMERA_STATUS_PARAMETER_MISMATCH);
    EXPECT_EQ(log.Count("CameraLoadParameter Fail!!!\n"), 1);
    EXPECT_TRUE(SameRecord(c->GetParameterRecord(), before));
    EXPECT_EQ(Curves(c), curves);
    const std::string missing = m_home.Path() + "/missing.bin";
    EXPECT_EQ(CameraReadParameterFromFile(h, missing.c_str()), CAMERA_STATUS_FILE_IO_FAILED);
    EXPECT_TRUE(SameRecord(c->GetParameterRecord(), before));

    ASSERT_EQ(CameraSetParameterMode(h, 1), 0);
    ASSERT_EQ(CameraReadParameterFromFile(h, path.c_str()), 0);
    const CameraParameter p = c->GetParameterRecord();
    EXPECT_EQ(p.settings.exposureTime, 555.0);
    EXPECT_EQ(p.settings.parameterMode, 1);
    EXPECT_EQ(Curves(c)[2], 19u);
}

// A save that cannot be written answers -1 (and leaves no file behind).
TEST_F(Parameters, UnwritableSaves) {
    CameraControl* c = Open(AddCamera());
    HANDLE h = static_cast<HANDLE>(c);
    const std::string missing = m_home.Path() + "/no/such/folder/x.bin";
    EXPECT_EQ(CameraSaveParameterToFile(h, missing.c_str()), CAMERA_STATUS_FAILED);
    // The configuration folder replaced by a file: nothing can be created in it.
    const std::string dir = m_home.Path() + "/.QVConfig";
    std::filesystem::remove_all(dir);
    WriteFile(dir, {1, 2, 3});
    EXPECT_EQ(CameraSaveParameter(h, 1), CAMERA_STATUS_FAILED);
    EXPECT_EQ(ReadFile(dir), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(CameraSaveParameterToFile(h, nullptr), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(CameraReadParameterFromFile(h, nullptr), CAMERA_STATUS_PARAMETER_INVALID);
}

// User data: bounds without wrap-around on a 16-byte area; a length of 0 touches nothing.
TEST_F(Parameters, UserDataBounds) {
    auto camera = std::make_shared<CDeviceCamera>();
    m_factory->AddDevice(camera);
    CameraControl* c = Open(camera);
    HANDLE h = static_cast<HANDLE>(c);
    uint8_t data[32];
    for (int i = 0; i < 32; ++i) data[i] = static_cast<uint8_t>(0xA0 + i);
    struct Row {
        uint32_t offset, length;
        int want;
    };
    const std::vector<Row> rows = {
        {0, 16, 0},
        {6, 10, 0},
        {10, 10, CAMERA_STATUS_PARAMETER_INVALID},
        {16, 1, CAMERA_STATUS_PARAMETER_INVALID},
        {17, 0, CAMERA_STATUS_PARAMETER_INVALID},
        {0xFFFFFFF0u, 0x20, CAMERA_STATUS_PARAMETER_INVALID},  // wraps to 0x10
        {1, 0xFFFFFFFFu, CAMERA_STATUS_PARAMETER_INVALID},
        {16, 0, 0},
        {3, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.offset << " + " << row.length);
        camera->userData.assign(16, 0);
        camera->userDataCalls = 0;
        EXPECT_EQ(CameraSaveUserData(h, row.offset, data, row.length), row.want);
        std::vector<uint8_t> want(16, 0);
        if (row.want == 0) std::memcpy(want.data() + row.offset, data, row.length);
        EXPECT_EQ(camera->userData, want);
        uint8_t back[32] = {};
        EXPECT_EQ(CameraLoadUserData(h, row.offset, back, row.length), row.want);
        EXPECT_EQ(camera->userDataCalls, row.want == 0 && row.length > 0 ? 2 : 0);
        if (row.want == 0) {
            EXPECT_EQ(std::memcmp(back, data, row.length), 0);
        }
    }
    EXPECT_EQ(CameraSaveUserData(h, 0, nullptr, 4), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(CameraLoadUserData(h, 0, nullptr, 4), CAMERA_STATUS_PARAMETER_INVALID);
}

TEST_F(Parameters, NoUserDataArea) {
    auto camera = std::make_shared<CDeviceCamera>();
    camera->userDataSize = 0;
    m_factory->AddDevice(camera);
    HANDLE h = static_cast<HANDLE>(Open(camera));
    uint8_t data[4] = {};
    EXPECT_EQ(CameraSaveUserData(h, 0, data, 4), CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(CameraLoadUserData(h, 0, data, 4), CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(camera->userDataCalls, 0);
}

// The integer values: what reaches the device, what is kept, what is answered.
TEST_F(Parameters, IntValueRouting) {
    auto camera = AddCamera();
    CameraControl* c = Open(camera);
    HANDLE h = static_cast<HANDLE>(c);
    auto deviceCalls = [&] {
        std::vector<std::string> out;
        for (const auto& call : camera->CallsNamed({"SetIntValue", "SetWdrMode", "OpenStream"}))
            out.push_back(call.name == "OpenStream" ? "OpenStream" : call.ToString());
        camera->ClearCalls();
        return out;
    };
    using V = std::vector<std::string>;
    camera->ClearCalls();
    int v = -1;

    EXPECT_EQ(CameraSetIntValue(h, 0, 0), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(deviceCalls(), V{});
    EXPECT_EQ(CameraSetIntValue(h, 0, 3), 0);
    const V reopen = deviceCalls();
    EXPECT_NE(std::find(reopen.begin(), reopen.end(), "OpenStream"), reopen.end());
    EXPECT_EQ(camera->LastInitParam().channelMask, 3);
    EXPECT_EQ(CameraGetIntValue(h, 0, &v), 0);
    EXPECT_EQ(v, 3);

    EXPECT_EQ(CameraSetIntValue(h, 1, 7), 0);
    EXPECT_EQ(deviceCalls(), V{"SetIntValue(1,7)"});
    camera->SetResult("SetIntValue", -4);
    EXPECT_EQ(CameraSetIntValue(h, 1, 8), -4);
    EXPECT_EQ(CameraSetIntValue(h, 3, 9), -4);
    camera->SetResult("SetIntValue", 0);
    EXPECT_EQ(CameraGetIntValue(h, 1, &v), 0);
    EXPECT_EQ(v, 7);
    EXPECT_EQ(CameraSetIntValue(h, 3, 9), 0);
    EXPECT_EQ(CameraGetIntValue(h, 3, &v), 0);
    EXPECT_EQ(v, 9);
    deviceCalls();

    EXPECT_EQ(CameraSetIntValue(h, 2, 0x1FF), 0);
    EXPECT_EQ(deviceCalls(), V{"SetWdrMode(511)"});
    EXPECT_EQ(CameraGetIntValue(h, 2, &v), 0);
    EXPECT_EQ(v, 0xFF);

    EXPECT_EQ(CameraSetIntValue(h, 13, 5), 0);
    EXPECT_EQ(deviceCalls(), (V{"SetIntValue(14,0)", "SetIntValue(13,5)"}));
    EXPECT_EQ(c->GetParameterRecord().settings.intValueFlag, 1);
    EXPECT_EQ(CameraSetIntValue(h, 13, 0), 0);
    EXPECT_EQ(deviceCalls(), V{"SetIntValue(13,0)"});
    EXPECT_EQ(c->GetParameterRecord().settings.intValueFlag, 0);

    EXPECT_EQ(CameraSetIntValue(h, 14, 6), 0);
    EXPECT_EQ(deviceCalls(), V{"SetIntValue(14,6)"});

    // 15 is kept before the device is asked, also when the device refuses it.
    camera->SetResult("SetIntValue", -4);
    EXPECT_EQ(CameraSetIntValue(h, 15, 42), -4);
    EXPECT_EQ(c->GetParameterRecord().intValueC, 42);
    camera->SetResult("GetIntValue", -4);
    v = -1;
    EXPECT_EQ(CameraGetIntValue(h, 15, &v), -4);
    EXPECT_EQ(v, 42);
    camera->SetResult("SetIntValue", 0);
    camera->SetResult("GetIntValue", 0);
    ASSERT_EQ(camera->SetIntValue(15, 77), 0);
    EXPECT_EQ(CameraGetIntValue(h, 15, &v), 0);
    EXPECT_EQ(v, 77);
    deviceCalls();

    EXPECT_EQ(CameraSetIntValue(h, 99, 1), 0);
    EXPECT_EQ(deviceCalls(), V{"SetIntValue(99,1)"});
    EXPECT_EQ(CameraGetIntValue(h, 99, &v), 0);
    EXPECT_EQ(v, 1);
    EXPECT_EQ(CameraGetIntValue(h, 99, nullptr), CAMERA_STATUS_PARAMETER_INVALID);
}

// Version texts, device type, serial number of level 0, firmware text of a full field, the
// check for updates and the fixed answers.
TEST_F(Parameters, DeviceInformation) {
    auto camera = AddCamera("SN-INFO");
    CameraProperty prop = ctltest::TestProperty();
    prop.hostWord = 0x1234;
    DeviceMiscInfo misc = ctltest::TestMisc();
    std::memcpy(misc.firmwareVersion, "v255.255.255.255", 16);  // no room for a terminator
    const tSdkCapability cap = ctltest::TestCapability();
    camera->ScriptDevParam(0, &cap, &prop, &misc);
    CameraControl* c = Open(camera);
    HANDLE h = static_cast<HANDLE>(c);

    char text[40];
    std::memset(text, 0x7F, sizeof text);
    ASSERT_EQ(CameraGetInerfaceVersion(h, text), 0);
    EXPECT_STREQ(text, "V1.2.3.4");
    std::memset(text, 0x7F, sizeof text);
    ASSERT_EQ(CameraGetFirmwareVision(h, text), 0);
    EXPECT_STREQ(text, "v255.255.255.255");
    EXPECT_EQ(text[39], 0x7F);
    int type = 0;
    ASSERT_EQ(CameraGetDeviceType(h, &type), 0);
    EXPECT_EQ(type, static_cast<int>(ctltest::kDeviceId));
    BYTE sn[32];
    ASSERT_EQ(CameraReadSN(h, sn, 0), 0);
    EXPECT_STREQ(reinterpret_cast<char*>(sn), "SN-INFO");
    EXPECT_EQ(CameraReadSN(h, sn, 3), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(CameraReadSN(h, sn, -1), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(CameraWriteSN(h, sn, 0), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(CameraWriteSN(h, sn, 3), CAMERA_STATUS_PARAMETER_INVALID);
    char name[32];
    ASSERT_EQ(CameraGetFriendlyName(h, name), 0);
    EXPECT_STREQ(name, "Cam");
    int need = 5;
    ASSERT_EQ(CameraCheckFwUpdate(h, &need), 0);
    EXPECT_EQ(need, 0);
    EXPECT_EQ(CameraShowSettingPage(h, 1), 0);
    EXPECT_EQ(CameraSetActivePage(h, 0x55, 2), 0);
    EXPECT_EQ(CameraCreateSettingPageEx(h), 0);
    EXPECT_EQ(CameraCustomizeReferWin(h, 0, 0, nullptr, nullptr, nullptr, nullptr),
              CAMERA_STATUS_FAILED);
    int progress[2] = {-1, -1};
    ASSERT_EQ(
        CameraUpgrade(
            h, "/fw.bin", [](int p, void* ctx) { static_cast<int*>(ctx)[p == 100] = p; }, progress),
        0);
    EXPECT_EQ(progress[0], 0);
    EXPECT_EQ(progress[1], 100);
    EXPECT_EQ(camera->CallCount("Upgrade"), 1u);

    CameraControl unopened(nullptr);
    EXPECT_EQ(unopened.CameraGetFriendlyName(name), CAMERA_STATUS_NOT_INITIALIZED);
    EXPECT_EQ(CameraGetCapability(h, nullptr), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(unopened.CameraGetCapability(nullptr), CAMERA_STATUS_NOT_INITIALIZED);
}

// CameraCurDevInfo: the device information with in-use 1, then the settings block as the
// getters report it.
TEST_F(Parameters, CurDevInfoMatchesTheGetters) {
    CameraControl* c = Open(AddCamera());
    HANDLE h = static_cast<HANDLE>(c);
    ASSERT_EQ(CameraSetAeWindow(h, 20, 10, 5000, 100), 0);  // clipped by the getter
    ASSERT_EQ(CameraSetGain(h, 120, 130, 140), 0);
    CameraCurDevInfo info;
    std::memset(&info, 0xCC, sizeof info);
    ASSERT_EQ(CameraGetCurDevInfo(h, &info), 0);

    ASSERT_EQ(c->CameraGetCurDevInfo(nullptr), 0);
    CameraSettings s;
    std::memcpy(&s, info.abCurSettings, sizeof s);
    EXPECT_EQ(info.sDevInfo.uInUse, 1u);
    EXPECT_STREQ(info.sDevInfo.acSn, "SN0001");
    EXPECT_EQ(info.sDevInfo.uDeviceId, ctltest::kDeviceId);
    double lo = 0, hi = 0;
    ASSERT_EQ(CameraGetAeExposureRange(h, &lo, &hi), 0);
    EXPECT_EQ(s.aeExposureMin, lo);
    EXPECT_EQ(s.aeExposureMax, hi);
    int gmin = 0, gmax = 0;
    ASSERT_EQ(CameraGetAeAnalogGainRange(h, &gmin, &gmax), 0);
    EXPECT_EQ(s.aeAnalogGainMin, static_cast<uint32_t>(gmin));
    EXPECT_EQ(s.aeAnalogGainMax, static_cast<uint32_t>(gmax));
    int win[4];
    ASSERT_EQ(CameraGetAeWindow(h, &win[0], &win[1], &win[2], &win[3]), 0);
    EXPECT_EQ(std::vector<int>(s.aeWindow, s.aeWindow + 4), std::vector<int>(win, win + 4));
    EXPECT_EQ(win[2], 620);  // cut to the image
    ASSERT_EQ(CameraGetWbWindow(h, &win[0], &win[1], &win[2], &win[3]), 0);
    EXPECT_EQ(std::vector<int>(s.wbWindow, s.wbWindow + 4), std::vector<int>(win, win + 4));
    USHORT r = 0, g = 0, b = 0;
    ASSERT_EQ(CameraGetGain(h, &r, &g, &b), 0);
    EXPECT_EQ(s.rgbGain[0] & 0xFFFF, r);
    EXPECT_EQ(s.rgbGain[1] & 0xFFFF, g);
    EXPECT_EQ(s.rgbGain[2] & 0xFFFF, b);
    // Everything else is the record's settings block.
    CameraSettings rest = c->GetParameterRecord().settings;
    rest.aeExposureMin = s.aeExposureMin;
    rest.aeExposureMax = s.aeExposureMax;
    rest.aeAnalogGainMin = s.aeAnalogGainMin;
    rest.aeAnalogGainMax = s.aeAnalogGainMax;
    std::memcpy(rest.aeWindow, s.aeWindow, sizeof rest.aeWindow);
    std::memcpy(rest.wbWindow, s.wbWindow, sizeof rest.wbWindow);
    std::memcpy(rest.rgbGain, s.rgbGain, sizeof rest.rgbGain);
    EXPECT_EQ(std::memcmp(&rest, &s, sizeof s), 0);
    EXPECT_EQ(CameraGetCurDevInfo(h, nullptr), 0);
}

// Drivers change their sensor limits at run time. CameraGetCapability reports them and makes
// them the controller's: the AE gain range (the sensor's whole range staying whole, any other
// kept within them, one with nothing left on them being their whole range) and the gain setter
// follow.
TEST_F(Parameters, CapabilityRefreshesTheSensorLimits) {
    struct Row {
        const char* name;
        int setMin, setMax;  // AE gain range set before the change; 0, 0: none
        uint32_t sensorMin, sensorMax;
        int wantMin, wantMax;  // the AE gain range after the refresh
        int gain, wantGain;    // a gain set after it, as stored and sent
    };
    const Row rows[] = {
        {"maximum lowered", 0, 0, 1000, 8000, 1000, 8000, 12000, 8000},
        {"maximum lowered, range within", 2000, 6000, 1000, 8000, 2000, 6000, 12000, 8000},
        {"maximum lowered, range cut", 2000, 12000, 1000, 8000, 2000, 8000, 12000, 8000},
        {"maximum lowered below the range", 10000, 16000, 1000, 8000, 1000, 8000, 9000, 8000},
        {"minimum raised", 1000, 4000, 2000, 16000, 2000, 4000, 1500, 2000},
        {"minimum raised above the range", 1000, 4000, 5000, 16000, 5000, 16000, 1500, 5000},
        {"maximum raised", 0, 0, 1000, 32000, 1000, 32000, 24000, 24000},
        {"maximum raised, range set", 2000, 12000, 1000, 32000, 2000, 12000, 24000, 24000},
        {"minimum lowered", 0, 0, 500, 16000, 500, 16000, 700, 700},
        {"minimum lowered, whole range set", 1000, 16000, 500, 16000, 500, 16000, 700, 700},
    };
    auto camera = AddCamera();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        camera->SetSensorGainLimits(1000, 16000);
        CameraControl* c = Open(camera);
        HANDLE h = static_cast<HANDLE>(c);
        ASSERT_EQ(CameraSetAeState(h, 1), 0);
        if (row.setMin != 0) {
            ASSERT_EQ(CameraSetAeAnalogGainRange(h, row.setMin, row.setMax), 0);
        }
        camera->SetSensorGainLimits(row.sensorMin, row.sensorMax);

        tSdkCapability capability{};
        ASSERT_EQ(CameraGetCapability(h, &capability), 0);
        EXPECT_EQ(capability.auSensorParam[2], row.sensorMin);
        EXPECT_EQ(capability.auSensorParam[3], row.sensorMax);
        int lo = 0, hi = 0;
        ASSERT_EQ(CameraGetAeAnalogGainRange(h, &lo, &hi), 0);
        EXPECT_EQ(lo, row.wantMin);
        EXPECT_EQ(hi, row.wantMax);

        // Auto exposure owns the gain while it runs.
        ASSERT_EQ(CameraSetAeState(h, 0), 0);
        camera->ClearCalls();
        ASSERT_EQ(CameraSetAnalogGain(h, row.gain), 0);
        EXPECT_EQ(c->GetParameterRecord().settings.analogGain, static_cast<uint32_t>(row.wantGain));
        const std::vector<qvsim::FakeCall> sent = camera->CallsNamed({"SetAnalogGain"});
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].args, std::vector<int64_t>{row.wantGain});
        ASSERT_EQ(c->CameraUninit(), 0);
    }
}

// A host copies the capability and reads its lists after loads of the camera's defaults, which
// read the device records again: the lists it holds stay valid until the camera is released. A
// list the camera answers alike is kept where it was (new copies point at it too); one it now
// answers differently reaches new copies while the old one stays readable. (Under
// AddressSanitizer a list freed too early shows at the first read.)
TEST_F(Parameters, CapabilityListsOutliveADefaultsLoad) {
    struct Row {
        const char* name;
        std::vector<uint32_t> mediaTypes;  // the sensor formats the camera lists at the load
    };
    const Row rows[] = {
        {"lists answered alike", {0x01080001}},
        {"another sensor format list", {0x01080001, 0x01080009}},
    };
    auto camera = AddCamera();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        camera->SetMediaTypes({0x01080001});
        CameraControl* c = Open(camera);
        HANDLE h = static_cast<HANDLE>(c);
        tSdkCapability before{};
        ASSERT_EQ(CameraGetCapability(h, &before), 0);
        ASSERT_EQ(before.iImageSizeDesc, 2);
        ASSERT_EQ(before.iMediaTypeDesc, 1);
        camera->SetMediaTypes(row.mediaTypes);
        for (int load = 0; load < 3; ++load) ASSERT_EQ(c->CameraLoadParameter(255), 0);

        // The old lists, as the host copied them.
        EXPECT_EQ(before.pImageSizeDesc[0].uWidth, 640u);
        EXPECT_EQ(before.pImageSizeDesc[1].uWidth, 320u);
        EXPECT_EQ(before.pMediaTypeDesc[0].uMediaType, 0x01080001u);
        tSdkCapability after{};
        ASSERT_EQ(CameraGetCapability(h, &after), 0);
        EXPECT_EQ(after.pImageSizeDesc, before.pImageSizeDesc);
        ASSERT_EQ(after.iMediaTypeDesc, static_cast<INT>(row.mediaTypes.size()));
        if (row.mediaTypes.size() == 1) {
            EXPECT_EQ(after.pMediaTypeDesc, before.pMediaTypeDesc);
        } else {
            EXPECT_NE(after.pMediaTypeDesc, before.pMediaTypeDesc);
            EXPECT_EQ(after.pMediaTypeDesc[1].uMediaType, 0x01080009u);
        }
        ASSERT_EQ(c->CameraUninit(), 0);
    }
}

// A camera whose lists go back and forth (a driver answers another sensor format list in one
// trigger mode) while the host loads its defaults again and again: the lists a host may have
// copied stay readable until the release, so what the controller holds stays bounded only if a
// list answered again as before is the one kept, not one more copy for each load. Over 200
// loads the copies see no more than the two lists the camera answers.
TEST_F(Parameters, CapabilityListsAnsweredBackAndForthStayBounded) {
    auto camera = AddCamera();
    const std::vector<uint32_t> lists[2] = {{0x01080001}, {0x01080001, 0x01080009}};
    camera->SetMediaTypes(lists[0]);
    CameraControl* c = Open(camera);
    HANDLE h = static_cast<HANDLE>(c);
    std::set<const void*> seen;
    for (int load = 0; load < 200; ++load) {
        camera->SetMediaTypes(lists[load % 2]);
        ASSERT_EQ(c->CameraLoadParameter(255), 0);
        tSdkCapability copy{};
        ASSERT_EQ(CameraGetCapability(h, &copy), 0);
        ASSERT_EQ(copy.iMediaTypeDesc, static_cast<INT>(lists[load % 2].size()));
        seen.insert(copy.pMediaTypeDesc);
    }
    EXPECT_LE(seen.size(), 2u);
    ASSERT_EQ(c->CameraUninit(), 0);
}

}  // namespace
