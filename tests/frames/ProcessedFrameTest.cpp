// Processed frames: frames pushed through the camera double come out of the Ex family and
// CameraGetOutImageBuffer processed, with the output descriptor; refusals, time-outs and
// callback mode fail without a stale buffer; the exports' handle checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "FramesTestBase.h"
#include "QVCameraApi.h"

namespace {

using ctltest::CTestCamera;
using framestest::FramesTest;
using framestest::Pattern;
using framestest::RawFrame;

using Processed = FramesTest;

constexpr uint32_t kW = ctltest::kWidth;
constexpr uint32_t kH = ctltest::kHeight;
constexpr uint8_t kCanary = 0xC5;

// Gamma 100, LUT contrast 100, contrast 50 and sharpness 0 leave an 8-bit grey frame as it
// is: the processed mono frame is the raw pattern.
void ExpectPattern(const BYTE* out, uint32_t width, uint32_t height) {
    for (uint32_t r = 0; r < height; ++r)
        for (uint32_t c = 0; c < width; ++c)
            ASSERT_EQ(out[r * width + c], Pattern(r, c)) << r << "," << c;
}

void ExpectMonoHead(const stImageInfo& info, uint32_t width, uint32_t height) {
    EXPECT_EQ(info.iWidth, width);
    EXPECT_EQ(info.iHeight, height);
    EXPECT_EQ(info.TotalBytes, width * height);
    EXPECT_EQ(info.uiMediaType, 0x01080000u);
    EXPECT_EQ(info.ExpTime, 10000.0);
    EXPECT_EQ(info.ExpLineTime, 12.5);
    EXPECT_EQ(info.Gain, 1000u);
}

bool AllAre(const std::vector<BYTE>& bytes, BYTE value) {
    for (BYTE b : bytes)
        if (b != value) return false;
    return true;
}

// ---- The four waits ----------------------------------------------------------------------------

TEST_F(Processed, ExIntoTheControllersBuffer) {
    auto camera = std::make_shared<CTestCamera>();
    CameraControl* control = OpenWith(camera);
    ASSERT_EQ(control->CameraPlay(), 0);

    RawFrame raw;
    raw.timestamp = 111;
    ASSERT_EQ(Push(*camera, raw), 0);
    stImageInfo info{};
    const BYTE* first = control->CameraGetImageBufferEx(&info, 1000);
    ASSERT_NE(first, nullptr);
    ExpectMonoHead(info, kW, kH);
    ExpectPattern(first, kW, kH);

    // Ex3 adds the timestamp; the same size keeps the same buffer.
    raw.timestamp = 222;
    ASSERT_EQ(Push(*camera, raw), 0);
    uint64_t timestamp = 0;
    EXPECT_EQ(control->CameraGetImageBufferEx3(&info, &timestamp, 1000), first);
    EXPECT_EQ(timestamp, 222u);

    // Descriptor and timestamp may be left out.
    ASSERT_EQ(Push(*camera, raw), 0);
    EXPECT_EQ(control->CameraGetImageBufferEx3(nullptr, nullptr, 1000), first);
    ASSERT_EQ(Push(*camera, raw), 0);
    EXPECT_EQ(control->CameraGetImageBufferEx(nullptr, 1000), first);

    // Each processed frame was given back to the pool.
    ExpectAllBuffersFree(*camera, control);
}

TEST_F(Processed, Ex1AndEx2IntoTheCallersBuffer) {
    auto camera = std::make_shared<CTestCamera>();
    CameraControl* control = OpenWith(camera);
    RawFrame raw;
    raw.timestamp = 0xFEDC'BA98'7654'3210ull;
    std::vector<BYTE> out(kW * kH, kCanary);
    stImageInfo info{};
    uint64_t timestamp = 0;

    ASSERT_EQ(Push(*camera, raw), 0);
    ASSERT_EQ(control->CameraGetImageBufferEx2(out.data(), &info, &timestamp, 1000), 0);
    ExpectMonoHead(info, kW, kH);
    ExpectPattern(out.data(), kW, kH);
    EXPECT_EQ(timestamp, 0xFEDC'BA98'7654'3210ull);

    std::fill(out.begin(), out.end(), kCanary);
    info = stImageInfo{};
    ASSERT_EQ(Push(*camera, raw), 0);
    ASSERT_EQ(control->CameraGetImageBufferEx1(out.data(), &info, 1000), 0);
    ExpectMonoHead(info, kW, kH);
    ExpectPattern(out.data(), kW, kH);

    ASSERT_EQ(Push(*camera, raw), 0);
    EXPECT_EQ(control->CameraGetImageBufferEx2(out.data(), nullptr, nullptr, 1000), 0);

    // A null buffer is refused before any wait: the frame stays for the next taker.
    ASSERT_EQ(Push(*camera, raw), 0);
    EXPECT_EQ(control->CameraGetImageBufferEx1(nullptr, &info, 1000),
              CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(control->CameraGetImageBufferEx2(nullptr, &info, &timestamp, 1000),
              CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(TakeFrame(control, 0), 0);
}

// The output format decides the bytes per pixel; the controller's buffer holds the largest
// (4 bytes) and grey is replicated into each colour byte.
TEST_F(Processed, OutputFormatsOfAMonoFrame) {
    struct Row {
        uint32_t format;
        uint32_t bytesPerPixel;
    };
    for (const Row& row : {Row{CAMERA_MEDIA_TYPE_MONO8, 1}, Row{CAMERA_MEDIA_TYPE_RGB8, 3},
                           Row{CAMERA_MEDIA_TYPE_BGRA8, 4}}) {
        SCOPED_TRACE(row.format);
        ctltest::ScopedHome home;
        auto camera = std::make_shared<CTestCamera>();
        CameraControl* control =
            OpenWith(camera, [&](CameraParameter& r) { r.settings.ispOutFormat = row.format; });
        ASSERT_EQ(Push(*camera, RawFrame{}), 0);
        stImageInfo info{};
        const BYTE* out = control->CameraGetImageBufferEx(&info, 1000);
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(info.uiMediaType, row.format);
        EXPECT_EQ(info.TotalBytes, kW * kH * row.bytesPerPixel);
        // The grey value in each of the first (up to three) bytes of every pixel.
        for (uint32_t r = 0; r < kH; ++r)
            for (uint32_t c = 0; c < kW; ++c)
                for (uint32_t b = 0; b < std::min(row.bytesPerPixel, 3u); ++b)
                    ASSERT_EQ(out[(r * kW + c) * row.bytesPerPixel + b], Pattern(r, c))
                        << r << "," << c << "," << b;
        m_controls.clear();
    }
}

// The controller's buffer grows for a larger frame and is kept for smaller ones.
TEST_F(Processed, OwnedBufferGrowsOnlyForLargerFrames) {
    auto camera = std::make_shared<CTestCamera>();
    CameraControl* control = OpenWith(camera);
    RawFrame small;
    RawFrame large;
    large.width = 4 * kW;
    large.height = 4 * kH;
    ASSERT_EQ(Push(*camera, large), 0);
    stImageInfo info{};
    const BYTE* big = control->CameraGetImageBufferEx(&info, 1000);
    ASSERT_NE(big, nullptr);
    ExpectPattern(big, large.width, large.height);
    ASSERT_EQ(Push(*camera, small), 0);
    EXPECT_EQ(control->CameraGetImageBufferEx(&info, 1000), big);
    ExpectMonoHead(info, kW, kH);
    ExpectPattern(big, kW, kH);
}

// 12-bit samples in 16-bit words are processed to bytes (the upper 8 of the 12 bits).
TEST_F(Processed, TwelveBitMonoFrame) {
    auto camera = std::make_shared<CTestCamera>();
    CameraControl* control = OpenWith(camera);
    RawFrame raw;
    raw.mediaType = CAMERA_MEDIA_TYPE_MONO12_16;
    raw.sample = [](uint32_t r, uint32_t c) { return static_cast<uint16_t>(Pattern(r, c) << 4); };
    ASSERT_EQ(Push(*camera, raw), 0);
    stImageInfo info{};
    const BYTE* out = control->CameraGetImageBufferEx(&info, 1000);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(info.uiMediaType, 0x01080000u);
    EXPECT_EQ(info.TotalBytes, kW * kH);
    ExpectPattern(out, kW, kH);
}

// The resized raw frame is what gets processed.
TEST_F(Processed, ResizedFrameIsProcessed) {
    auto camera = std::make_shared<CTestCamera>();
    CameraControl* control = OpenWith(camera, [](CameraParameter& r) {
        r.settings.resolutionIndex = 255;
        r.resolution.iIndex = 255;
        r.resolution.iSensorWidth = kW;
        r.resolution.iSensorHeight = kH;
        r.resolution.uWidth = kW;
        r.resolution.uHeight = kH;
        r.resolution.uResizeWidth = kW / 2;
        r.resolution.uResizeHeight = kH / 2;
    });
    ASSERT_EQ(Push(*camera, RawFrame{}), 0);
    stImageInfo info{};
    const BYTE* out = control->CameraGetImageBufferEx(&info, 1000);
    ASSERT_NE(out, nullptr);
    ExpectMonoHead(info, kW / 2, kH / 2);
    EXPECT_EQ(out[kW / 2 + 1], Pattern(1, 1));
    EXPECT_EQ(out[2 * (kW / 2) + 2], Pattern(4, 4));

    // A 12-bit frame cannot be resized: the wait fails and the frame goes back.
    RawFrame wide;
    wide.mediaType = CAMERA_MEDIA_TYPE_MONO12_16;
    ASSERT_EQ(Push(*camera, wide), 0);
    EXPECT_EQ(control->CameraGetImageBufferEx(&info, 1000), nullptr);
    ASSERT_EQ(Push(*camera, wide), 0);
    std::vector<BYTE> mine(kW * kH, kCanary);
    EXPECT_EQ(control->CameraGetImageBufferEx1(mine.data(), &info, 1000), CAMERA_STATUS_FAILED);
    EXPECT_TRUE(AllAre(mine, kCanary));
}

// ---- Failures: nothing stale ---------------------------------------------------------------

// Frames the pipeline cannot process: a colour mosaic of another Bayer order than GRBG and a
// mono frame with an output format the mono kernels do not write. Every wait fails, the caller's
// buffer and descriptor stay as they were, and Ex does not hand out the previous frame's buffer.
TEST_F(Processed, RefusedFramesLeaveNothingStale) {
    struct Row {
        const char* name;
        uint32_t ispOutFormat;
        uint32_t goodMedia;
        uint32_t badMedia;
    };
    const Row rows[] = {
        {"RGGB mosaic", CAMERA_MEDIA_TYPE_MONO8, CAMERA_MEDIA_TYPE_MONO8, 0x01080009u},
        // 16-bit grey is written from 12-bit input only.
        {"16-bit grey from 8-bit input", CAMERA_MEDIA_TYPE_MONO12_16, CAMERA_MEDIA_TYPE_MONO12_16,
         CAMERA_MEDIA_TYPE_MONO8},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ctltest::ScopedHome home;
        auto camera = std::make_shared<CTestCamera>();
        CameraControl* control = OpenWith(
            camera, [&](CameraParameter& r) { r.settings.ispOutFormat = row.ispOutFormat; });
        // A good frame first, so there is a buffer that could be handed out again.
        RawFrame good;
        good.mediaType = row.goodMedia;
        ASSERT_EQ(Push(*camera, good), 0);
        ASSERT_NE(control->CameraGetImageBufferEx(nullptr, 1000), nullptr);
        RawFrame bad;
        bad.mediaType = row.badMedia;

        stImageInfo info{};
        info.iWidth = 0xDEAD;
        uint64_t timestamp = 0xBEEF;
        std::vector<BYTE> out(kW * kH * 4, kCanary);
        ASSERT_EQ(Push(*camera, bad), 0);
        EXPECT_EQ(control->CameraGetImageBufferEx(&info, 1000), nullptr);
        ASSERT_EQ(Push(*camera, bad), 0);
        EXPECT_EQ(control->CameraGetImageBufferEx3(&info, &timestamp, 1000), nullptr);
        ASSERT_EQ(Push(*camera, bad), 0);
        EXPECT_EQ(control->CameraGetImageBufferEx1(out.data(), &info, 1000), CAMERA_STATUS_FAILED);
        ASSERT_EQ(Push(*camera, bad), 0);
        EXPECT_EQ(control->CameraGetImageBufferEx2(out.data(), &info, &timestamp, 1000),
                  CAMERA_STATUS_FAILED);
        EXPECT_EQ(info.iWidth, 0xDEADu);
        EXPECT_EQ(timestamp, 0xBEEFu);
        EXPECT_TRUE(AllAre(out, kCanary));

        // The host's own frame through CameraGetOutImageBuffer: the pipeline's -4.
        stImageInfo head = bad.Info();
        std::vector<BYTE> data = bad.Bytes();
        EXPECT_EQ(control->CameraGetOutImageBuffer(&head, data.data(), out.data()),
                  CAMERA_STATUS_NOT_SUPPORTED);
        const stImageInfo unchanged = bad.Info();
        EXPECT_EQ(std::memcmp(&head, &unchanged, sizeof head), 0);
        EXPECT_TRUE(AllAre(out, kCanary));
        // The refused frames were given back.
        ExpectAllBuffersFree(*camera, control);
        m_controls.clear();
    }
}

TEST_F(Processed, TimeOutFailsEveryWait) {
    auto camera = std::make_shared<CTestCamera>();
    CameraControl* control = OpenWith(camera);
    ASSERT_EQ(control->CameraPlay(), 0);
    stImageInfo info{};
    info.iWidth = 0xDEAD;
    std::vector<BYTE> out(kW * kH, kCanary);
    EXPECT_EQ(control->CameraGetImageBufferEx(&info, 5), nullptr);
    EXPECT_EQ(control->CameraGetImageBufferEx3(&info, nullptr, 5), nullptr);
    EXPECT_EQ(control->CameraGetImageBufferEx1(out.data(), &info, 5), CAMERA_STATUS_FAILED);
    EXPECT_EQ(control->CameraGetImageBufferEx2(out.data(), &info, nullptr, 0),
              CAMERA_STATUS_FAILED);
    EXPECT_EQ(info.iWidth, 0xDEADu);
    EXPECT_TRUE(AllAre(out, kCanary));
}

// A lost camera: the wait that finds the loss and every later one fail.
TEST_F(Processed, LossFailsTheWaits) {
    auto camera = std::make_shared<CTestCamera>();
    CameraControl* control = OpenWith(camera);
    ASSERT_EQ(control->CameraPlay(), 0);
    ASSERT_EQ(camera->PostStatus(CAMERA_STATUS_DEVICE_LOST), 0);
    std::vector<BYTE> out(kW * kH, kCanary);
    EXPECT_EQ(control->CameraGetImageBufferEx1(out.data(), nullptr, 5), CAMERA_STATUS_FAILED);
    EXPECT_TRUE(control->IsRegistered());
    EXPECT_EQ(control->CameraGetImageBufferEx(nullptr, 5), nullptr);
    EXPECT_TRUE(AllAre(out, kCanary));
}

void IgnoreFrame(HANDLE, BYTE*, stImageInfo*, void*) {}

// In callback mode the capture thread owns the frames: every Ex call fails at once and takes
// nothing.
TEST_F(Processed, CallbackModeFailsAtOnce) {
    auto camera = std::make_shared<CTestCamera>();
    CameraControl* control = OpenWith(camera);
    ASSERT_EQ(control->CameraSetCallbackFunction(&IgnoreFrame, nullptr, nullptr), 0);
    ASSERT_EQ(Push(*camera, RawFrame{}), 0);
    std::vector<BYTE> out(kW * kH, kCanary);
    EXPECT_EQ(control->CameraGetImageBufferEx(nullptr, 1000), nullptr);
    EXPECT_EQ(control->CameraGetImageBufferEx3(nullptr, nullptr, 1000), nullptr);
    EXPECT_EQ(control->CameraGetImageBufferEx1(out.data(), nullptr, 1000), CAMERA_STATUS_FAILED);
    EXPECT_EQ(control->CameraGetImageBufferEx2(nullptr, nullptr, nullptr, 1000),
              CAMERA_STATUS_FAILED);
    EXPECT_TRUE(AllAre(out, kCanary));
    // The frame is still there (not playing, so no capture thread took it).
    EXPECT_EQ(TakeFrame(control, 0), 0);
}

// ---- The host's own frame ------------------------------------------------------------------

TEST_F(Processed, OutImageBufferOfAHostFrame) {
    auto camera = std::make_shared<CTestCamera>();
    CameraControl* control = OpenWith(camera);
    const RawFrame raw;
    std::vector<BYTE> data = raw.Bytes();
    std::vector<BYTE> out(kW * kH, kCanary);
    stImageInfo head = raw.Info();
    EXPECT_EQ(control->CameraGetOutImageBuffer(nullptr, data.data(), out.data()),
              CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(control->CameraGetOutImageBuffer(&head, nullptr, out.data()),
              CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(control->CameraGetOutImageBuffer(&head, data.data(), nullptr),
              CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_TRUE(AllAre(out, kCanary));

    ASSERT_EQ(control->CameraGetOutImageBuffer(&head, data.data(), out.data()), 0);
    ExpectMonoHead(head, kW, kH);
    ExpectPattern(out.data(), kW, kH);
}

// Auto exposure runs on cameras that have it (capability word 76) and owns the stored gain only
// while it is on: a frame taken with another gain does not take the host's gain back.
TEST_F(Processed, AutoExposureOwnsTheGainOnlyWhileOn) {
    for (int aeState : {0, 1}) {
        SCOPED_TRACE(aeState);
        ctltest::ScopedHome home;
        auto camera = std::make_shared<CTestCamera>();
        tSdkCapability cap = ctltest::TestCapability();
        const int32_t softwareAe = 1;
        std::memcpy(cap.abPropertyFlags + (76 - 64), &softwareAe, sizeof softwareAe);
        const CameraProperty prop = ctltest::TestProperty();
        const DeviceMiscInfo misc = ctltest::TestMisc();
        camera->ScriptDevParam(0, &cap, &prop, &misc);
        CameraControl* control = OpenWith(camera, [&](CameraParameter& r) {
            r.settings.aeState = aeState;
            r.settings.analogGain = 2000;
        });
        camera->ClearCalls();
        RawFrame raw;  // taken at gain 1000
        std::vector<BYTE> data = raw.Bytes();
        std::vector<BYTE> out(kW * kH);
        stImageInfo head = raw.Info();
        ASSERT_EQ(control->CameraGetOutImageBuffer(&head, data.data(), out.data()), 0);
        EXPECT_EQ(control->GetParameterRecord().settings.analogGain, aeState ? 1000u : 2000u);
        // The pattern's brightness (about 127) is within the hold band of the target 120:
        // nothing to program.
        EXPECT_EQ(camera->CallCount("SetExposureLines"), 0u);
        EXPECT_EQ(camera->CallCount("SetAnalogGain"), 0u);
        m_controls.clear();
    }
}

// A black frame with auto exposure on: the exposure is programmed (800 lines of 12.5 us wanted
// three times over, half of the way now: 1600), the unchanged gain is not; with it off nothing
// is programmed.
TEST_F(Processed, AutoExposureProgramsTheDeviceWhileOn) {
    for (int aeState : {1, 0}) {
        SCOPED_TRACE(aeState);
        ctltest::ScopedHome home;
        auto camera = std::make_shared<CTestCamera>();
        tSdkCapability cap = ctltest::TestCapability();
        const int32_t softwareAe = 1;
        std::memcpy(cap.abPropertyFlags + (76 - 64), &softwareAe, sizeof softwareAe);
        const CameraProperty prop = ctltest::TestProperty();
        const DeviceMiscInfo misc = ctltest::TestMisc();
        camera->ScriptDevParam(0, &cap, &prop, &misc);
        CameraControl* control =
            OpenWith(camera, [&](CameraParameter& r) { r.settings.aeState = aeState; });
        camera->ClearCalls();
        RawFrame raw;
        raw.sample = [](uint32_t, uint32_t) { return uint16_t{0}; };
        std::vector<BYTE> data = raw.Bytes();
        std::vector<BYTE> out(kW * kH);
        stImageInfo head = raw.Info();
        ASSERT_EQ(control->CameraGetOutImageBuffer(&head, data.data(), out.data()), 0);
        const auto lines = camera->CallsNamed({"SetExposureLines"});
        if (aeState == 1) {
            ASSERT_EQ(lines.size(), 1u);
            EXPECT_EQ(lines[0].args, std::vector<int64_t>{1600});
        } else {
            EXPECT_TRUE(lines.empty());
        }
        EXPECT_EQ(camera->CallCount("SetAnalogGain"), 0u);
        m_controls.clear();
    }
}

// ---- Exports -------------------------------------------------------------------------------

TEST_F(Processed, ExportsCheckTheHandle) {
    stImageInfo info{};
    BYTE byte = 0;
    BYTE* data = &byte;
    uint64_t value = 0;
    tSdkResolution res{};
    CameraFrameHandle frame = &byte;
    EXPECT_EQ(CameraGetImageInfo(nullptr, frame, &info), nullptr);
    EXPECT_EQ(CameraGetImageBufferEx(nullptr, &info, 0), nullptr);
    EXPECT_EQ(CameraGetImageBufferEx3(nullptr, &info, &value, 0), nullptr);
    const int results[] = {
        CameraGetImageTimestamp(nullptr, frame, &value),
        CameraGetImageFrameNo(nullptr, frame, &value),
        CameraResetTimestamp(nullptr),
        CameraGetOutImageBuffer(nullptr, &info, &byte, &byte),
        CameraGetImageBufferEx1(nullptr, &byte, &info, 0),
        CameraGetImageBufferEx2(nullptr, &byte, &info, &value, 0),
        CameraSnapToBuffer(nullptr, &frame, &info, &data, 0),
        CameraSetResolutionForSnap(nullptr, &res),
        CameraGetResolutionForSnap(nullptr, &res),
    };
    for (int r : results) EXPECT_EQ(r, CAMERA_STATUS_PARAMETER_INVALID);

    // Through a live handle the exports reach the controller.
    auto camera = std::make_shared<CTestCamera>();
    HANDLE handle = static_cast<HANDLE>(OpenWith(camera));
    RawFrame raw;
    raw.timestamp = 42;
    raw.frameNo = 7;
    ASSERT_EQ(Push(*camera, raw), 0);
    ASSERT_EQ(CameraGetRawImageBuffer(handle, &frame, 1000), 0);
    EXPECT_EQ(CameraGetImageTimestamp(handle, frame, &value), 0);
    EXPECT_EQ(value, 42u);
    EXPECT_EQ(CameraGetImageFrameNo(handle, frame, &value), 0);
    EXPECT_EQ(value, 7u);
    data = CameraGetImageInfo(handle, frame, &info);
    ASSERT_NE(data, nullptr);
    std::vector<BYTE> out(kW * kH);
    EXPECT_EQ(CameraGetOutImageBuffer(handle, &info, data, out.data()), 0);
    ExpectPattern(out.data(), kW, kH);
    EXPECT_EQ(CameraReleaseFrameHandle(handle, frame), 0);
    ASSERT_EQ(Push(*camera, raw), 0);
    EXPECT_EQ(CameraGetImageBufferEx2(handle, out.data(), &info, &value, 1000), 0);
    ASSERT_EQ(Push(*camera, raw), 0);
    EXPECT_NE(CameraGetImageBufferEx(handle, &info, 1000), nullptr);
    EXPECT_EQ(CameraGetResolutionForSnap(handle, &res), 0);
    EXPECT_EQ(res.uWidth, 640u);
}

}  // namespace
