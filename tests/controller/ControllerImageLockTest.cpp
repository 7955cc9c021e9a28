// The image settings beside long calls on the same camera: a snapshot holds the camera for its
// whole wait, and the exposure, white-balance, lookup-table, window, mirror and dead-pixel calls,
// the stream getters, the saves and the current device information must answer meanwhile (a
// host that adjusts the image while another of its threads waits for a trigger could otherwise
// not go on). No timing: the snapshot's frame comes only once every call of the table has
// answered, so a call that waited for the snapshot would leave it to its time-out.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "ControllerTestBase.h"
#include "SettingsCamera.h"

namespace {

using ctltest::CallRow;
using ctltest::CallWhileASnapshotWaits;
using ctltest::ControllerTest;
using ctltest::CSettingsCamera;

// Long enough for any machine to run the table; only a broken lock rule lets it pass.
constexpr unsigned kSnapWaitMs = 20000;

constexpr int kLutEntries = 4096;

class ImageLocks : public ControllerTest {
  protected:
    // The settings camera (auto exposure on every processed frame, one-push white balance)
    // with all three trigger modes, in hardware-trigger mode with a display.
    CameraControl* OpenCamera() {
        CSettingsCamera::Options options;
        options.softwareAe = true;
        m_camera = std::make_shared<CSettingsCamera>(options);
        CameraProperty property = ctltest::TestProperty();
        property.frameSpeedMask = 0x7;
        property.triggerModeMask = 0x7;
        const tSdkCapability capability = ctltest::SettingsCapability(options);
        const DeviceMiscInfo misc = ctltest::TestMisc();
        m_camera->ScriptDevParam(0, &capability, &property, &misc);
        CameraControl* c = Open(m_camera);
        EXPECT_EQ(c->CameraSetTriggerMode(TRIGGER_MODE_HARDWARE), 0);
        EXPECT_EQ(c->CameraDisplayInit(1), 0);
        m_camera->ClearCalls();
        return c;
    }
    std::string FilePath(const char* name) const { return m_home.Path() + "/" + name; }
    std::shared_ptr<CSettingsCamera> m_camera;
};

// An 8 x 8 mono frame at 10 with two neighbouring pixels at 200: a defect the finder lists.
struct DefectFrame {
    DefectFrame() {
        pixels.assign(64, 10);
        pixels[3 * 8 + 3] = pixels[3 * 8 + 4] = 200;
        head.iWidth = head.iHeight = 8;
        head.TotalBytes = 64;
        head.uiMediaType = CAMERA_MEDIA_TYPE_MONO8;
    }
    std::vector<BYTE> pixels;
    stImageInfo head{};
};

TEST_F(ImageLocks, ImageSettingsSavesAndDeviceInformationAnswerWhileASnapshotWaits) {
    CameraControl* c = OpenCamera();
    int i = 0, j = 0, k = 0, l = 0;
    uint8_t flag = 0;
    uint16_t r16 = 0, g16 = 0, b16 = 0;
    uint32_t u = 0;
    double d = 0, e = 0;
    std::vector<uint16_t> lut(kLutEntries, 0);
    tSdkFrameStatistic statistic{};
    tSdkResolution resolution{};
    tSdkDeadPixelList found{}, loaded{};
    CameraCurDevInfo devInfo{};
    const DefectFrame defect;
    const std::string file = FilePath("image-lock.bin");
    const std::vector<CallRow> rows = {
        // Auto exposure: its range setters need it on.
        {"AE on", [](auto* c) { return c->CameraSetAeState(1); }, 0},
        {"its getter", [&](auto* c) { return c->CameraGetAeState(&flag); }, 0},
        {"AE target", [](auto* c) { return c->CameraSetAeTarget(100); }, 0},
        {"its getter", [&](auto* c) { return c->CameraGetAeTarget(&r16); }, 0},
        {"AE exposure mode", [](auto* c) { return c->CameraSetAeExposureMode(0); }, 0},
        {"its getter", [&](auto* c) { return c->CameraGetAeExposureMode(&i); }, 0},
        {"AE exposure range", [](auto* c) { return c->CameraSetAeExposureRange(100, 200000); }, 0},
        {"its getter", [&](auto* c) { return c->CameraGetAeExposureRange(&d, &e); }, 0},
        {"AE gain range", [](auto* c) { return c->CameraSetAeAnalogGainRange(1000, 8000); }, 0},
        {"its getter", [&](auto* c) { return c->CameraGetAeAnalogGainRange(&i, &j); }, 0},
        {"anti-flicker", [](auto* c) { return c->CameraSetAntiFlick(1); }, 0},
        {"its getter", [&](auto* c) { return c->CameraGetAntiFlick(&flag); }, 0},
        {"light frequency", [](auto* c) { return c->CameraSetLightFrequency(0); }, 0},
        {"its getter", [&](auto* c) { return c->CameraGetLightFrequency(&i); }, 0},
        // Manual exposure: with auto exposure off.
        {"AE off", [](auto* c) { return c->CameraSetAeState(0); }, 0},
        {"analog gain", [](auto* c) { return c->CameraSetAnalogGain(2000); }, 0},
        {"its getter", [&](auto* c) { return c->CameraGetAnalogGain(&i); }, 0},
        {"exposure time", [](auto* c) { return c->CameraSetExposureTime(5000); }, 0},
        {"its getter", [&](auto* c) { return c->CameraGetExposureTime(&d); }, 0},
        {"line time", [&](auto* c) { return c->CameraGetExposureLineTime(&d); }, 0},
        {"frame time", [&](auto* c) { return c->CameraGetFrameTime(&d); }, 0},
        // Windows.
        {"AE window", [](auto* c) { return c->CameraSetAeWindow(10, 20, 100, 80); }, 0},
        {"its getter", [&](auto* c) { return c->CameraGetAeWindow(&i, &j, &k, &l); }, 0},
        {"AE window shown", [](auto* c) { return c->CameraSetAeWinVisible(1); }, 0},
        {"its getter", [&](auto* c) { return c->CameraGetAeWinVisible(&flag); }, 0},
        {"WB window", [](auto* c) { return c->CameraSetWbWindow(30, 40, 60, 50); }, 0},
        {"its getter", [&](auto* c) { return c->CameraGetWbWindow(&i, &j, &k, &l); }, 0},
        {"WB window shown", [](auto* c) { return c->CameraSetWbWinVisible(1); }, 0},
        {"its getter", [&](auto* c) { return c->CameraGetWbWinVisible(&flag); }, 0},
        // White balance.
        {"WB mode", [](auto* c) { return c->CameraSetWbMode(0); }, 0},
        {"its getter", [&](auto* c) { return c->CameraGetWbMode(&flag); }, 0},
        {"gains", [](auto* c) { return c->CameraSetGain(120, 110, 140); }, 0},
        {"their getter", [&](auto* c) { return c->CameraGetGain(&r16, &g16, &b16); }, 0},
        {"one-push WB", [](auto* c) { return c->CameraSetOnceWB(); }, 0},
        // Lookup tables (presets and custom curves belong to the other LUT modes).
        {"LUT mode", [](auto* c) { return c->CameraSetLutMode(0); }, 0},
        {"its getter", [&](auto* c) { return c->CameraGetLutMode(&i); }, 0},
        {"gamma", [](auto* c) { return c->CameraSetGamma(150); }, 0},
        {"its getter", [&](auto* c) { return c->CameraGetGamma(&i); }, 0},
        {"LUT contrast", [](auto* c) { return c->CameraSetContrastLut(120); }, 0},
        {"its getter", [&](auto* c) { return c->CameraGetContrastLut(&i); }, 0},
        {"LUT preset", [](auto* c) { return c->CameraSelectLutPreset(1); },
         CAMERA_STATUS_PARAMETER_INVALID},
        {"its getter", [&](auto* c) { return c->CameraGetLutPresetSel(&i); }, 0},
        {"custom LUT", [&](auto* c) { return c->CameraSetCustomLut(1, lut.data()); },
         CAMERA_STATUS_PARAMETER_INVALID},
        {"its getter", [&](auto* c) { return c->CameraGetCustomLut(1, lut.data()); }, 0},
        {"current LUT", [&](auto* c) { return c->CameraGetCurrentLut(1, lut.data()); }, 0},
        // Sharpness, saturation, contrast, mirror, monochrome, output format.
        {"sharpness", [](auto* c) { return c->CameraSetSharpness(30); }, 0},
        {"its getter", [&](auto* c) { return c->CameraGetSharpness(&i); }, 0},
        {"saturation", [](auto* c) { return c->CameraSetSaturation(90); }, 0},
        {"its getter", [&](auto* c) { return c->CameraGetSaturation(&i); }, 0},
        {"contrast", [](auto* c) { return c->CameraSetContrast(40); }, 0},
        {"its getter", [&](auto* c) { return c->CameraGetContrast(&i); }, 0},
        {"mirror", [](auto* c) { return c->CameraSetMirror(0, 1); }, 0},
        {"its getter", [&](auto* c) { return c->CameraGetMirror(0, &flag); }, 0},
        {"monochrome", [](auto* c) { return c->CameraSetMonochrome(1); }, 0},
        {"its getter", [&](auto* c) { return c->CameraGetMonochrome(&flag); }, 0},
        {"ISP output", [](auto* c) { return c->CameraSetIspOutFormat(CAMERA_MEDIA_TYPE_MONO); }, 0},
        {"its getter", [&](auto* c) { return c->CameraGetIspOutFormat(&u); }, 0},
        // Black level, Bayer algorithm, dead pixels.
        {"black level", [](auto* c) { return c->CameraSetBlackLevel(7); }, 0},
        {"its getter", [&](auto* c) { return c->CameraGetBlackLevel(&i); }, 0},
        {"Bayer algorithm", [](auto* c) { return c->CameraSetBayerAlgMode(1); }, 0},
        {"its getter", [&](auto* c) { return c->CameraGetBayerAlgMode(&i); }, 0},
        {"Bayer threshold", [](auto* c) { return c->CameraSetBayerAlgThreshold(12); }, 0},
        {"dead-pixel correction", [](auto* c) { return c->CameraSetCorrectDeadPixel(0); }, 0},
        {"its getter", [&](auto* c) { return c->CameraGetCorrectDeadPixel(&flag); }, 0},
        {"dead-pixel finder",
         [&](auto* c) {
             return c->CameraFindDeadPixels(defect.pixels.data(), &defect.head, 10, 50, &found);
         },
         0},
        {"dead-pixel table saved", [&](auto* c) { return c->CameraSaveDeadPixels(&found); }, 0},
        {"dead-pixel table loaded", [&](auto* c) { return c->CameraLoadDeadPixels(&loaded); }, 0},
        // Frames and the stream settings in force.
        {"frame statistic", [&](auto* c) { return c->CameraGetFrameStatistic(&statistic); }, 0},
        {"output size", [&](auto* c) { return c->CameraGetOutImageSize(&i, &j); }, 0},
        {"frame speed", [&](auto* c) { return c->CameraGetFrameSpeed(&i); }, 0},
        {"resolution", [&](auto* c) { return c->CameraGetResolution(&i); }, 0},
        {"preset", [&](auto* c) { return c->CameraGetResolutionEx(1, &resolution); }, 0},
        {"current resolution", [&](auto* c) { return c->CameraGetCurResolution(&resolution); }, 0},
        {"sensor format", [&](auto* c) { return c->CameraGetSensorOutPixelFormat(&u); }, 0},
        // Saves and the current device information.
        {"group saved", [](auto* c) { return c->CameraSaveParameter(1); }, 0},
        {"file saved", [&](auto* c) { return c->CameraSaveParameterToFile(file.c_str()); }, 0},
        {"current device information", [&](auto* c) { return c->CameraGetCurDevInfo(&devInfo); },
         0},
    };

    CallWhileASnapshotWaits(c, *m_camera, rows, kSnapWaitMs);

    // What the calls did is in force, and the save holds it.
    const CameraParameter record = c->GetParameterRecord();
    const CameraSettings& s = record.settings;
    EXPECT_EQ(s.aeState, 0);
    EXPECT_EQ(s.analogGain, 2000u);
    EXPECT_EQ(s.gamma, 150);
    EXPECT_EQ(s.sharpness, 30);
    EXPECT_EQ(s.mirrorH, 1);
    EXPECT_EQ(s.ispOutFormat, static_cast<uint32_t>(CAMERA_MEDIA_TYPE_MONO8));
    EXPECT_EQ(s.rgbGain[0], 120u);
    EXPECT_EQ(s.rgbGain[2], 140u);
    EXPECT_EQ(record.aeWindowVisible, 1);
    EXPECT_EQ(found.count, loaded.count);
    EXPECT_GT(found.count, 0u);
    EXPECT_EQ(s.parameterGroup, 1);
    CameraParameter saved{};
    ASSERT_EQ(
        CameraParameterBuilder().LoadFromFile(file.c_str(), &saved, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(saved.settings.gamma, 150);
    EXPECT_EQ(saved.settings.analogGain, 2000u);
    EXPECT_EQ(saved.settings.rgbGain[1], 110u);
    EXPECT_EQ(devInfo.sDevInfo.uInUse, 1u);
}

// The image settings from one thread while another processes frames with auto exposure on,
// changes the stream, saves and loads the record and waits in a snapshot: every call answers
// (the snapshot's frame comes only after calls made while it waits), and a sanitizer build
// checks that the setters, the per-frame steps and the saves share nothing unguarded.
TEST_F(ImageLocks, ImageSettingsBesideFramesStreamChangesLoadsAndSnapshots) {
    CameraControl* c = OpenCamera();
    constexpr int kRounds = 40;
    // A group whose record the loads bring back: auto exposure off, manual white balance.
    ASSERT_EQ(c->CameraSaveParameter(2), 0);
    // Each snapshot of a paused camera switches its stream on once.
    const size_t snapshotsBefore = m_camera->CallCount("StreamOn");
    std::atomic<bool> stop{false};
    std::thread settings([&] {
        int i = 0, j = 0, k = 0, l = 0;
        uint8_t flag = 0;
        uint16_t r16 = 0, g16 = 0, b16 = 0;
        double d = 0, e = 0;
        CameraCurDevInfo info{};
        const DefectFrame defect;
        tSdkDeadPixelList found{};
        const std::string file = FilePath("beside.bin");
        for (int round = 0; round < kRounds; ++round) {
            EXPECT_EQ(c->CameraSetGamma(100 + round), 0);
            EXPECT_EQ(c->CameraSetContrastLut(80 + round), 0);
            EXPECT_EQ(c->CameraSetSharpness(round), 0);
            EXPECT_EQ(c->CameraSetSaturation(2 * round), 0);
            EXPECT_EQ(c->CameraSetContrast(round), 0);
            EXPECT_EQ(c->CameraSetMonochrome(round & 1), 0);
            EXPECT_EQ(c->CameraSetMirror(1, round & 1), 0);
            EXPECT_EQ(c->CameraSetCorrectDeadPixel(round & 1), 0);
            EXPECT_EQ(c->CameraSetBlackLevel(round), 0);
            EXPECT_EQ(c->CameraSetAeTarget(60 + round), 0);
            EXPECT_EQ(c->CameraSetAntiFlick(round & 1), 0);
            EXPECT_EQ(c->CameraSetAeWindow(round, round, 64, 48), 0);
            EXPECT_EQ(c->CameraSetWbWindow(round, 0, 32, 32), 0);
            EXPECT_EQ(c->CameraSetWbMode(0), 0);
            // A load may bring auto exposure back off (or leave it on) at any point: both
            // answers are the rule's, neither is a wait.
            EXPECT_EQ(c->CameraSetAeState(round & 1), 0);
            for (const int r :
                 {c->CameraSetAnalogGain(1000 + 10 * round), c->CameraSetExposureTime(1000 + round),
                  c->CameraSetAeExposureRange(100, 20000),
                  c->CameraSetAeAnalogGainRange(1000, 4000)})
                EXPECT_TRUE(r == 0 || r == CAMERA_STATUS_PARAMETER_INVALID) << r;
            EXPECT_EQ(c->CameraSetGain(100 + round, 100, 200 - round), 0);
            if (round % 8 == 0) {
                EXPECT_EQ(c->CameraSetOnceWB(), 0);
            }
            EXPECT_EQ(c->CameraGetAeExposureRange(&d, &e), 0);
            EXPECT_EQ(c->CameraGetAeWindow(&i, &j, &k, &l), 0);
            EXPECT_EQ(c->CameraGetMirror(1, &flag), 0);
            EXPECT_EQ(c->CameraGetResolution(&i), 0);
            EXPECT_EQ(c->CameraFindDeadPixels(defect.pixels.data(), &defect.head, 10, 50, &found),
                      0);
            // Then beside this round's snapshot, which waits for the frame pushed below.
            if (!ctltest::WaitFor([&] {
                    return stop || m_camera->CallCount("StreamOn") > snapshotsBefore + round;
                }) ||
                stop)
                break;
            EXPECT_EQ(c->CameraSetGamma(200 - round), 0);
            EXPECT_EQ(c->CameraSetGain(120, 100, 100 + round), 0);
            EXPECT_EQ(c->CameraGetGain(&r16, &g16, &b16), 0);
            EXPECT_EQ(c->CameraGetAnalogGain(&i), 0);
            EXPECT_EQ(c->CameraGetExposureTime(&d), 0);
            EXPECT_EQ(c->CameraGetCurDevInfo(&info), 0);
            EXPECT_EQ(c->CameraSaveParameterToFile(file.c_str()), 0);
            if (round % 4 == 0) {
                EXPECT_EQ(c->CameraSaveParameter(3), 0);
            }
            EXPECT_EQ(m_camera->PushTestFrame(), 0);
        }
    });
    for (int round = 0; round < kRounds; ++round) {
        EXPECT_EQ(
            c->CameraSetTriggerMode(round & 1 ? TRIGGER_MODE_CONTINUOUS : TRIGGER_MODE_HARDWARE),
            0);
        EXPECT_EQ(c->CameraSetResolution(round & 1), 0);
        EXPECT_EQ(c->CameraSetFrameSpeed(round % 3), 0);
        if (round % 5 == 0) {
            EXPECT_EQ(c->CameraLoadParameter(2), 0);
        }
        EXPECT_EQ(m_camera->PushTestFrame(), 0);
        EXPECT_NE(c->CameraGetImageBufferEx(nullptr, 1000), nullptr);
        CameraFrameHandle frame = nullptr;
        const int snapped = c->CameraSnapToBuffer(&frame, nullptr, nullptr, kSnapWaitMs);
        if (snapped != 0) {
            // The calls waited for the snapshot: no point in more rounds of time-outs.
            ADD_FAILURE() << "snapshot of round " << round << ": " << snapped;
            break;
        }
        EXPECT_EQ(c->CameraReleaseFrameHandle(frame), 0);
    }
    stop = true;
    settings.join();
    // A stream open sends the exposure settings as the record holds them.
    EXPECT_EQ(c->CameraSetResolution(0), 0);
    const CameraParameter record = c->GetParameterRecord();
    const auto last = [&](const char* name) {
        const std::vector<qvsim::FakeCall> calls = m_camera->CallsNamed({name});
        return calls.empty() ? std::vector<int64_t>{} : calls.back().args;
    };
    EXPECT_EQ(last("SetAnalogGain"), std::vector<int64_t>{record.settings.analogGain});
    EXPECT_EQ(last("SetBlackLevel"), std::vector<int64_t>{record.settings.blackLevel});
}

// The image settings from one thread while another releases the camera: each call answers
// either as before or as an uninitialised camera (-5), and none touches what the release frees
// (the dead-pixel positions, the frame pool); afterwards the checked setters answer -5.
TEST_F(ImageLocks, ImageSettingsBesideTheRelease) {
    CameraControl* c = OpenCamera();
    std::atomic<bool> stop{false};
    std::atomic<int> rounds{0};
    std::thread settings([&] {
        const DefectFrame defect;
        tSdkDeadPixelList found{};
        tSdkFrameStatistic statistic{};
        uint8_t flag = 0;
        double d = 0;
        while (!stop) {
            for (const int r : {c->CameraSetMonochrome(rounds & 1), c->CameraSetIspOutFormat(0),
                                c->CameraSetAeTarget(80), c->CameraSetMirror(0, rounds & 1)})
                EXPECT_TRUE(r == 0 || r == CAMERA_STATUS_NOT_INITIALIZED) << r;
            EXPECT_EQ(c->CameraSetGamma(120), 0);
            EXPECT_EQ(c->CameraSetGain(110, 100, 90), 0);
            EXPECT_EQ(c->CameraGetExposureTime(&d), 0);
            EXPECT_EQ(c->CameraGetFrameStatistic(&statistic), 0);
            EXPECT_EQ(c->CameraFindDeadPixels(defect.pixels.data(), &defect.head, 10, 50, &found),
                      0);
            EXPECT_EQ(c->CameraGetCorrectDeadPixel(&flag), 0);
            ++rounds;
        }
    });
    EXPECT_TRUE(ctltest::WaitFor([&] { return rounds > 10; }));
    EXPECT_EQ(c->CameraUninit(), 0);
    const int after = rounds;
    EXPECT_TRUE(ctltest::WaitFor([&] { return rounds > after + 10; }));
    stop = true;
    settings.join();
    EXPECT_EQ(c->CameraSetMonochrome(1), CAMERA_STATUS_NOT_INITIALIZED);
    EXPECT_EQ(c->CameraSetAeTarget(80), CAMERA_STATUS_NOT_INITIALIZED);
    tSdkFrameStatistic statistic{};
    statistic.uTotalFrames = 7;
    EXPECT_EQ(c->CameraGetFrameStatistic(&statistic), 0);
    EXPECT_EQ(statistic.uTotalFrames, 0u);  // no pool after the release
}

}  // namespace
