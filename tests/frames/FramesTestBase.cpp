#include "FramesTestBase.h"

#include <cstring>

namespace framestest {

stImageInfo RawFrame::Info() const {
    stImageInfo info{};
    info.iWidth = width;
    info.iHeight = height;
    info.TotalBytes = static_cast<UINT>(Bytes().size());
    info.uiMediaType = mediaType;
    info.ExpTime = expTime;
    info.ExpLineTime = expLineTime;
    info.Gain = gain;
    return info;
}

std::vector<uint8_t> RawFrame::Bytes() const {
    const bool wide = CAMERA_MEDIA_TYPE_BITS(mediaType) > 8;
    std::vector<uint8_t> bytes(size_t{width} * height * (wide ? 2 : 1));
    for (uint32_t r = 0; r < height; ++r) {
        for (uint32_t c = 0; c < width; ++c) {
            const uint16_t v = sample(r, c);
            const size_t i = size_t{r} * width + c;
            if (wide)
                std::memcpy(&bytes[2 * i], &v, 2);
            else
                bytes[i] = static_cast<uint8_t>(v);
        }
    }
    return bytes;
}

int HeadCamera::GetImageInfo(stImageInfo* info) {
    const int r = Rec("GetImageInfo");
    stImageInfo head{};
    head.iWidth = 640;
    head.iHeight = 480;
    head.TotalBytes = 640 * 480;
    head.uiMediaType = CAMERA_MEDIA_TYPE_MONO8;
    head.ExpTime = 20000.0;
    head.ExpLineTime = 15.5;
    head.Gain = 2500;
    *info = head;
    return r;
}

CameraControl* FramesTest::OpenWith(const std::shared_ptr<ctltest::CTestCamera>& camera,
                                    const std::function<void(CameraParameter&)>& edit) {
    CameraParameter record = BaseRecord();
    record.settings.correctDeadPixel = 0;
    record.settings.ispOutFormat = CAMERA_MEDIA_TYPE_MONO8;
    if (edit) edit(record);
    SaveGroup(record, 0);
    return Open(camera, 0, 0);
}

int FramesTest::Push(ctltest::CTestCamera& camera, const RawFrame& frame) {
    const std::vector<uint8_t> bytes = frame.Bytes();
    return camera.PushFrame(bytes.data(), static_cast<uint32_t>(bytes.size()), frame.Info(),
                            frame.frameNo, frame.timestamp);
}

void FramesTest::ExpectAllBuffersFree(ctltest::CTestCamera& camera, CameraControl* control) {
    std::vector<CameraFrameHandle> held;
    for (int i = 0; i < CameraControl::kDefaultFrameCount; ++i) {
        ASSERT_EQ(Push(camera, RawFrame{}), 0) << "buffer " << i;
        CameraFrameHandle frame = nullptr;
        int r = control->CameraGetRawImageBuffer(&frame, 1000);
        if (r == CAMERA_STATUS_TIMEOUT) {
            // The pool knows a client's last frame by its buffer: a frame written into the buffer
            // the controller took last (the ring comes round to it after as many frames as the
            // earlier traffic happened to leave) is not new to it. The next one lands elsewhere.
            ASSERT_EQ(Push(camera, RawFrame{}), 0) << "buffer " << i;
            r = control->CameraGetRawImageBuffer(&frame, 1000);
        }
        ASSERT_EQ(r, 0) << "buffer " << i;
        held.push_back(frame);
    }
    for (CameraFrameHandle frame : held) EXPECT_EQ(control->CameraReleaseFrameHandle(frame), 0);
}

}  // namespace framestest
