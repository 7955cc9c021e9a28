// Raw frames for the host: the descriptor and data of a frame handle with and without the
// software resize, timestamps and frame numbers, and the timestamp reset.
#include <gtest/gtest.h>

#include <cstring>

#include "FramesTestBase.h"

namespace {

using ctltest::CTestCamera;
using framestest::FramesTest;
using framestest::HeadCamera;
using framestest::Pattern;
using framestest::RawFrame;

using Descriptor = FramesTest;

// The current resolution as a custom region of 64 x 48 with a resize size.
std::function<void(CameraParameter&)> ResizeTo(uint32_t width, uint32_t height) {
    return [=](CameraParameter& r) {
        r.settings.resolutionIndex = 255;
        r.resolution.iIndex = 255;
        r.resolution.iSensorWidth = ctltest::kWidth;
        r.resolution.iSensorHeight = ctltest::kHeight;
        r.resolution.uWidth = ctltest::kWidth;
        r.resolution.uHeight = ctltest::kHeight;
        r.resolution.uResizeWidth = width;
        r.resolution.uResizeHeight = height;
    };
}

// A frame held from the raw wait; released by the test.
CameraFrameHandle Take(CameraControl* control) {
    CameraFrameHandle frame = nullptr;
    EXPECT_EQ(control->CameraGetRawImageBuffer(&frame, 1000), 0);
    return frame;
}

TEST_F(Descriptor, WithoutResizeTheFrameItself) {
    // Resize width or height 0 leaves the resize off.
    for (auto [w, h] : {std::pair<uint32_t, uint32_t>{0, 0}, {32, 0}, {0, 24}}) {
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        ctltest::ScopedHome home;
        auto camera = std::make_shared<CTestCamera>();
        CameraControl* control = OpenWith(camera, ResizeTo(w, h));
        RawFrame raw;
        raw.frameNo = 9;
        ASSERT_EQ(Push(*camera, raw), 0);
        CameraFrameHandle frame = Take(control);
        stImageInfo info{};
        const BYTE* data = control->CameraGetImageInfo(frame, &info);
        ASSERT_NE(data, nullptr);
        const stImageInfo want = raw.Info();
        EXPECT_EQ(std::memcmp(&info, &want, sizeof info), 0);
        EXPECT_EQ(std::memcmp(data, raw.Bytes().data(), raw.Bytes().size()), 0);
        // The same data pointer every time: the frame's own buffer, not a copy.
        stImageInfo again{};
        EXPECT_EQ(control->CameraGetImageInfo(frame, &again), data);
        EXPECT_EQ(control->CameraReleaseFrameHandle(frame), 0);
        m_controls.clear();
    }
}

// A 2x downscale takes source cells 0, 2, 4, ... with full weight: every target 2x2 cell is
// the source cell at twice its position, so target (r, c) = source (2r - r % 2, 2c - c % 2).
TEST_F(Descriptor, HalfSizeResizeCopiesEveryOtherCell) {
    auto camera = std::make_shared<CTestCamera>();
    CameraControl* control = OpenWith(camera, ResizeTo(32, 24));
    RawFrame raw;
    raw.expTime = 777.0;
    raw.gain = 2300;
    ASSERT_EQ(Push(*camera, raw), 0);
    CameraFrameHandle frame = Take(control);
    stImageInfo info{};
    const BYTE* data = control->CameraGetImageInfo(frame, &info);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(info.iWidth, 32u);
    EXPECT_EQ(info.iHeight, 24u);
    EXPECT_EQ(info.TotalBytes, 32u * 24u);
    EXPECT_EQ(info.uiMediaType, CAMERA_MEDIA_TYPE_MONO8);
    EXPECT_EQ(info.ExpTime, 777.0);
    EXPECT_EQ(info.Gain, 2300u);
    for (uint32_t r = 0; r < 24; ++r)
        for (uint32_t c = 0; c < 32; ++c)
            ASSERT_EQ(data[r * 32 + c], Pattern(2 * r - r % 2, 2 * c - c % 2)) << r << "," << c;
    // The frame itself is unchanged.
    const BYTE* own = static_cast<CFrameBuffer*>(frame)->GetData();
    EXPECT_EQ(own[1], Pattern(0, 1));
    EXPECT_EQ(control->CameraReleaseFrameHandle(frame), 0);
}

// A constant bright frame stays constant through the interpolation (255 x 4096 x 4096 does
// not fit a signed 32-bit product), and an upscale whose last cells map to the last source cell
// reads nothing past the frame (the pool's buffer is exactly the frame's size).
TEST_F(Descriptor, ResizeOfABrightFrameUpAndDown) {
    for (auto [w, h] : {std::pair<uint32_t, uint32_t>{100, 76}, {40, 30}, {64, 48}}) {
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        ctltest::ScopedHome home;
        auto camera = std::make_shared<CTestCamera>();
        CameraControl* control = OpenWith(camera, ResizeTo(w, h));
        RawFrame raw;
        raw.sample = [](uint32_t, uint32_t) { return uint16_t{255}; };
        ASSERT_EQ(Push(*camera, raw), 0);
        CameraFrameHandle frame = Take(control);
        stImageInfo info{};
        const BYTE* data = control->CameraGetImageInfo(frame, &info);
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(info.TotalBytes, w * h);
        for (uint32_t i = 0; i < w * h; ++i) ASSERT_EQ(data[i], 255) << i;
        EXPECT_EQ(control->CameraReleaseFrameHandle(frame), 0);
        m_controls.clear();
    }
}

// The resize is for 8-bit samples: a 12-bit frame is refused, not read as w x h bytes of the
// wrong depth.
TEST_F(Descriptor, ResizeRefusesWideSamples) {
    auto camera = std::make_shared<CTestCamera>();
    CameraControl* control = OpenWith(camera, ResizeTo(32, 24));
    RawFrame raw;
    raw.mediaType = CAMERA_MEDIA_TYPE_MONO12_16;
    ASSERT_EQ(Push(*camera, raw), 0);
    CameraFrameHandle frame = Take(control);
    stImageInfo info{};
    info.iWidth = 0xABCD;
    EXPECT_EQ(control->CameraGetImageInfo(frame, &info), nullptr);
    EXPECT_EQ(info.iWidth, 0xABCDu);
    EXPECT_EQ(control->CameraReleaseFrameHandle(frame), 0);
}

TEST_F(Descriptor, TimestampAndFrameNumber) {
    auto camera = std::make_shared<CTestCamera>();
    CameraControl* control = OpenWith(camera);
    RawFrame raw;
    raw.frameNo = 4'000'000'001u;
    raw.timestamp = 0x0123'4567'89AB'CDEFull;
    ASSERT_EQ(Push(*camera, raw), 0);
    CameraFrameHandle frame = Take(control);
    uint64_t timestamp = 0, frameNo = 0;
    EXPECT_EQ(control->CameraGetImageTimestamp(frame, &timestamp), 0);
    EXPECT_EQ(timestamp, 0x0123'4567'89AB'CDEFull);
    EXPECT_EQ(control->CameraGetImageFrameNo(frame, &frameNo), 0);
    EXPECT_EQ(frameNo, 4'000'000'001u);

    EXPECT_EQ(control->CameraGetImageTimestamp(frame, nullptr), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(control->CameraGetImageFrameNo(frame, nullptr), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(control->CameraReleaseFrameHandle(frame), 0);
}

// Handles that are not frames of this camera are refused, not read.
TEST_F(Descriptor, ForeignHandlesAreRefused) {
    auto camera = std::make_shared<CTestCamera>();
    CameraControl* control = OpenWith(camera);
    auto other = std::make_shared<CTestCamera>("SN0002");
    CameraControl* otherControl = OpenWith(other);
    ASSERT_EQ(Push(*other, RawFrame{}), 0);
    CameraFrameHandle othersFrame = Take(otherControl);
    int notAFrame = 0;
    for (CameraFrameHandle frame :
         {CameraFrameHandle{nullptr}, othersFrame, static_cast<CameraFrameHandle>(&notAFrame)}) {
        stImageInfo info{};
        uint64_t value = 5;
        EXPECT_EQ(control->CameraGetImageInfo(frame, &info), nullptr);
        EXPECT_EQ(control->CameraGetImageTimestamp(frame, &value), CAMERA_STATUS_PARAMETER_INVALID);
        EXPECT_EQ(control->CameraGetImageFrameNo(frame, &value), CAMERA_STATUS_PARAMETER_INVALID);
        EXPECT_EQ(value, 5u);
    }
    // A null descriptor: nothing, and the frame is still held and released once.
    EXPECT_EQ(otherControl->CameraGetImageInfo(othersFrame, nullptr), nullptr);
    EXPECT_EQ(otherControl->CameraReleaseFrameHandle(othersFrame), 0);
}

TEST_F(Descriptor, TimestampResetIsTheDevicesAnswer) {
    auto camera = std::make_shared<CTestCamera>();
    CameraControl* control = OpenWith(camera);
    camera->ClearCalls();
    EXPECT_EQ(control->CameraResetTimestamp(), 0);
    EXPECT_EQ(camera->CallNames(), std::vector<std::string>{"ResetTimestamp"});
    camera->SetResult("ResetTimestamp", CAMERA_STATUS_COMM_ERROR);
    EXPECT_EQ(control->CameraResetTimestamp(), CAMERA_STATUS_COMM_ERROR);
}

TEST_F(Descriptor, FrameHeadOfTheCurrentSettings) {
    auto camera = std::make_shared<HeadCamera>();
    CameraControl* control = OpenWith(camera);
    struct Row {
        int width, height;
        uint32_t wantWidth, wantHeight, wantBytes;
    };
    for (const Row& row : {Row{0, 0, 640, 480, 640 * 480}, Row{100, 0, 640, 480, 640 * 480},
                           Row{100, 50, 100, 50, 5000}}) {
        stImageInfo head{};
        EXPECT_EQ(control->CameraGetFrameHead(&head, row.width, row.height), 0);
        EXPECT_EQ(head.iWidth, row.wantWidth);
        EXPECT_EQ(head.iHeight, row.wantHeight);
        EXPECT_EQ(head.TotalBytes, row.wantBytes);
        EXPECT_EQ(head.ExpTime, 20000.0);
        EXPECT_EQ(head.Gain, 2500u);
    }
}

}  // namespace
