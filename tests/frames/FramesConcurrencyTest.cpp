// Threads around one camera: a transport thread pushes frames while one host thread takes
// processed frames, another processes its own copies and a third snaps and changes the
// snapshot resolution. Every thread runs a fixed number of rounds; the processed frames must
// come out whole (each frame is one grey value, so a torn or stale output shows).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "FramesTestBase.h"

namespace {

using ctltest::CTestCamera;
using framestest::FramesTest;
using framestest::RawFrame;

using FramesConcurrency = FramesTest;

constexpr uint32_t kW = ctltest::kWidth;
constexpr uint32_t kH = ctltest::kHeight;

RawFrame Flat(uint8_t value) {
    RawFrame raw;
    raw.frameNo = value;
    raw.sample = [value](uint32_t, uint32_t) { return uint16_t{value}; };
    return raw;
}

bool IsFlat(const BYTE* data, size_t n) {
    for (size_t i = 1; i < n; ++i)
        if (data[i] != data[0]) return false;
    return true;
}

TEST_F(FramesConcurrency, HostsAndTransportOnOneCamera) {
    auto camera = std::make_shared<CTestCamera>();
    CameraControl* control = OpenWith(camera);
    ASSERT_EQ(control->CameraPlay(), 0);

    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::atomic<int> processed{0};

    std::thread transport([&] {
        for (int i = 0; !done.load() && i < 20000; ++i) {
            Push(*camera, Flat(static_cast<uint8_t>(i)));
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    std::thread owned([&] {
        for (int i = 0; i < 300; ++i) {
            stImageInfo info{};
            const BYTE* out = control->CameraGetImageBufferEx(&info, 20);
            if (out == nullptr) continue;
            processed.fetch_add(1);
            if (info.TotalBytes != kW * kH || !IsFlat(out, kW * kH)) torn.fetch_add(1);
        }
    });
    std::thread caller([&] {
        std::vector<BYTE> out(kW * kH);
        for (int i = 0; i < 300; ++i) {
            stImageInfo info{};
            if (control->CameraGetImageBufferEx1(out.data(), &info, 20) != 0) continue;
            processed.fetch_add(1);
            if (!IsFlat(out.data(), out.size())) torn.fetch_add(1);
        }
    });
    std::thread host([&] {
        const RawFrame raw = Flat(77);
        std::vector<BYTE> data = raw.Bytes();
        std::vector<BYTE> out(kW * kH);
        for (int i = 0; i < 300; ++i) {
            stImageInfo head = raw.Info();
            if (control->CameraGetOutImageBuffer(&head, data.data(), out.data()) != 0 ||
                !IsFlat(out.data(), out.size()) || out[0] != 77)
                torn.fetch_add(1);
        }
    });
    std::thread snapper([&] {
        for (int i = 0; i < 50; ++i) {
            tSdkResolution res{};
            if (i % 2 == 0) {
                res.iSensorWidth = 640;
                res.iSensorHeight = 480;
                res.uWidth = 640;
                res.uHeight = 480;
            }
            control->CameraSetResolutionForSnap(&res);
            control->CameraGetResolutionForSnap(&res);
            CameraFrameHandle frame = nullptr;
            stImageInfo info{};
            BYTE* data = nullptr;
            if (control->CameraSnapToBuffer(&frame, &info, &data, 20) == 0) {
                if (!IsFlat(data, kW * kH)) torn.fetch_add(1);
                control->CameraReleaseFrameHandle(frame);
            }
        }
    });
    owned.join();
    caller.join();
    host.join();
    snapper.join();
    done = true;
    transport.join();

    EXPECT_EQ(torn.load(), 0);
    EXPECT_GT(processed.load(), 0);
    // Every frame taken was given back: the pool still has room for a full round.
    ASSERT_EQ(control->CameraPause(), 0);
    ExpectAllBuffersFree(*camera, control);
}

}  // namespace
