// Frames of a simulated GigE camera through the exported functions, behind a veth link: raw
// frames byte-exact against the camera's pattern, processed mono frames, nothing lost on a clean
// stream at the camera's rate, at least 99.9 % of frames recovered by resend at 1 % packet loss,
// and the frame statistics agreeing with the frames the camera sent.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "QVCameraApi.h"
#include "SimGigeImx290Camera.h"
#include "SimGigeNetwork.h"
#include "params/CameraParameter.h"
#include "params/CameraParameterBuilder.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

bool Eventually(const std::function<bool()>& condition, std::chrono::seconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

class GigeFramesEndToEnd : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        static bool done = false;
        if (done) return;
        done = true;
        s_home = std::filesystem::temp_directory_path() /
                 ("qv-gige-frames-" + std::to_string(static_cast<long>(getpid())));
        std::filesystem::create_directories(s_home);
        setenv("HOME", s_home.c_str(), 1);
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(s_home, ec);
        });
    }
    static std::filesystem::path s_home;
};
std::filesystem::path GigeFramesEndToEnd::s_home;

// The next CameraInit of the simulated camera runs at preset resolution index with its factory
// settings otherwise: the parameter file the controller reads first.
bool UseResolution(int index) {
    std::string dir;
    if (CameraParameterBuilder::MakeConfigFolder(dir) != 0) return false;
    CameraParameterBuilder builder;
    CameraParameter record{};
    builder.SetDefault(&record);
    uint8_t block[240];
    CSimGigeImx290Camera::FactorySettings(block);
    static_assert(sizeof block == sizeof record.settings);
    std::memcpy(&record.settings, block, sizeof block);
    record.settings.resolutionIndex = index;
    record.settings.parameterMode = 0;
    record.settings.parameterGroup = CameraParameterBuilder::kSaveGroup;
    tDevInfo info{};
    std::strncpy(info.acProductName, CSimGigeImx290Camera::kProductName,
                 sizeof info.acProductName - 1);
    return builder.SaveGroup(dir.c_str(), &record, 0, CameraParameterBuilder::kSaveGroup, &info,
                             nullptr, nullptr, nullptr) == 0;
}

// Frames through the exports: raw frames byte-exact against the camera's pattern, processed mono
// frames, no frame lost on a clean stream at the camera's rate, at least 99.9 % of frames
// recovered by resend at 1 % packet loss, and the frame statistics agreeing with the camera.
TEST_F(GigeFramesEndToEnd, FramesThroughTheExports) {
    ASSERT_TRUE(UseResolution(8));  // the 320 x 240 region
    qvsim::CSimGigeNetwork net;
    const int ns = net.AddNamespace();
    const int link = net.AddLink(ns, "198.18.40.1");
    SimGigeImx290Options o;
    o.serial = "FRAMES-1";
    o.ip = "198.18.40.2";
    o.mask = "255.255.255.0";
    o.gvcpCapability = 4;
    o.stream.fps = 30;
    auto& cam = net.AddCamera(link, o);
    qvsim::CSimGvspStreamer& streamer = cam.Camera().Streamer();

    int index = -1;
    ASSERT_TRUE(Eventually(
        [&] {
            int count = 0;
            CameraEnumerateDevice(&count);
            for (int i = 0; i < count; ++i) {
                tDevInfo info{};
                if (CameraGetEnumIndexInfo(i, &info) == 0 && std::string(info.acSn) == "FRAMES-1")
                    index = i;
            }
            return index >= 0;
        },
        15s));
    HANDLE h = nullptr;
    ASSERT_EQ(CameraInit(&h, index), 0);
    ASSERT_EQ(CameraPlay(h), 0);

    // Raw frames, byte for byte.
    for (int i = 0; i < 5; ++i) {
        CameraFrameHandle raw = nullptr;
        ASSERT_EQ(CameraGetRawImageBuffer(h, &raw, 5000), 0) << i;
        stImageInfo info{};
        const BYTE* data = CameraGetImageInfo(h, raw, &info);
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(info.iWidth, 320u);
        EXPECT_EQ(info.iHeight, 240u);
        uint64_t no = 0;
        ASSERT_EQ(CameraGetImageFrameNo(h, raw, &no), 0);
        size_t wrong = 0;
        for (size_t k = 0; k < info.TotalBytes; ++k)
            wrong += data[k] != qvsim::CSimGvspStreamer::PatternByte(static_cast<uint32_t>(no), k);
        EXPECT_EQ(wrong, 0u) << "frame " << no;
        CameraReleaseFrameHandle(h, raw);
    }
    // Processed mono frames.
    for (int i = 0; i < 3; ++i) {
        stImageInfo info{};
        ASSERT_NE(CameraGetImageBufferEx(h, &info, 5000), nullptr) << i;
        EXPECT_EQ(info.uiMediaType, 0x01080000u);
        EXPECT_EQ(info.iWidth, 320u);
        EXPECT_EQ(info.TotalBytes, 320u * 240u);
    }

    // Stops the camera at a frame boundary, lets `flush` clean frames through (a frame still
    // assembling is completed or given up by the next ones) and waits until the statistics
    // account for every frame sent.
    auto settle = [&](unsigned flush) {
        qvsim::SimStreamConfig gated = streamer.GetConfig();
        gated.gated = true;
        streamer.SetConfig(gated);
        EXPECT_TRUE(streamer.WaitGateClosed(10s));
        streamer.SetLoss(0);
        const uint64_t target = streamer.GetStats().framesSent + flush;
        streamer.GrantFrames(flush);
        EXPECT_TRUE(streamer.WaitFramesSent(target, 10s));
        EXPECT_TRUE(streamer.WaitGateClosed(10s));
        tSdkFrameStatistic st{};
        EXPECT_TRUE(Eventually(
            [&] { return CameraGetFrameStatistic(h, &st) == 0 && st.uTotalFrames >= target; },
            10s));
        return st;
    };

    // A clean stream at the camera's rate for two seconds: nothing lost, and the statistics
    // count exactly the frames the camera sent.
    std::this_thread::sleep_for(2s);
    tSdkFrameStatistic st = settle(0);
    EXPECT_EQ(st.iLostFrames, 0);
    EXPECT_GE(st.uGoodFrames, 60u);
    EXPECT_EQ(st.uTotalFrames, streamer.GetStats().framesSent);

    // 1 % of the packets lost: resend recovers at least 99.9 % of the frames, and every frame is
    // counted once, good or lost. The camera sends each frame once the one before is accounted
    // for (or after 2 s): what is measured is resend, not how long a loaded machine leaves the
    // receive thread without a processor.
    const uint64_t sentBefore = streamer.GetStats().framesSent;
    streamer.SetSeed(23);
    streamer.SetLoss(10);
    constexpr unsigned kFrames = 1000;
    for (unsigned i = 1; i <= kFrames; ++i) {
        streamer.GrantFrames(1);
        const auto until = Clock::now() + 2s;
        tSdkFrameStatistic now{};
        while (CameraGetFrameStatistic(h, &now) == 0 && now.uTotalFrames < st.uTotalFrames + i &&
               Clock::now() < until)
            std::this_thread::sleep_for(200us);
    }
    const uint64_t dropped = streamer.GetStats().packetsDropped;
    const tSdkFrameStatistic lossy = settle(3);
    const uint64_t frames = streamer.GetStats().framesSent - sentBefore;
    const uint64_t good = lossy.uGoodFrames - st.uGoodFrames;
    const uint64_t lost = static_cast<uint64_t>(lossy.iLostFrames - st.iLostFrames);
    EXPECT_GT(dropped, kFrames * 53 / 200);  // about 1 % of 53 packets a frame
    EXPECT_GE(good * 1000, frames * 999) << good << " of " << frames;
    EXPECT_EQ(good + lost, frames);
    EXPECT_EQ(lossy.uTotalFrames, streamer.GetStats().framesSent);
    ASSERT_EQ(CameraUnInit(h), 0);
    int count = 0;
    CameraEnumerateDeviceEx(&count, 0);
}

}  // namespace
