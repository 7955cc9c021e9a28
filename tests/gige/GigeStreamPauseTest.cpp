// Pause and play of a stream that is running: the simulated camera streams 640 x 480 paced at
// 200 frames a second (or one frame per trigger) over a veth link, and capture stops and starts
// again with no wait for the socket to drain. The frame the pause cut, whose tail may reach the
// socket after the play, must not come back: after every play only blocks the camera sent after
// it are delivered, nothing is counted lost and no resend is asked for.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "GigeTestRig.h"
#include "SimGigeNetwork.h"
#include "device/CameraInitParam.h"
#include "frames/FrameBucket.h"

namespace {

using namespace std::chrono_literals;
using qvsim::CSimGvspStreamer;

class GigeStreamPause : public ::testing::Test {
  protected:
    void Open(bool triggered) {
        const int ns = net.AddNamespace();
        const int link = net.AddLink(ns, "198.18.31.1", "", 24, 1500);
        SimGigeImx290Options o;
        o.ip = "198.18.31.2";
        o.mask = "255.255.255.0";
        o.gvcpCapability = 4;  // packet resend
        o.stream.gated = triggered;
        o.stream.fps = 200;
        cam = &net.AddCamera(link, o);
        device = gigetest::DeviceFor(cam->Firmware(), net.HostInterface(link).c_str());
        ASSERT_EQ(device->Open(nullptr), 0);
        opened = true;
        CameraInitParam p{};
        p.packetSize = 1500;
        p.mediaType = 0x01080000;
        p.resolution.iIndex = 255;
        p.resolution.iSensorWidth = 640;
        p.resolution.iSensorHeight = 480;
        p.resolution.uWidth = 640;
        p.resolution.uHeight = 480;
        ASSERT_EQ(device->OpenStream(bucket.GetProducer(), &p), 0);
        streamOpened = true;
        // A camera thread held off the processor for a while (a busy machine) would rightly be
        // asked for a tail that is only late: ask only after a long wait.
        ASSERT_EQ(device->SetResend(1, 0, 2000, 3), 0);
        ASSERT_EQ(device->StartCapture(), 0);
        client = bucket.CreateBucketClient();
    }
    void TearDown() override {
        if (client != nullptr) bucket.DestroyBucketClient(client);
        // Only what Open got to open: a device that failed to open has nothing to close.
        if (streamOpened) {
            device->StopCapture();
            device->CloseStream();
        }
        if (opened) device->Close();
    }
    CSimGvspStreamer& Streamer() { return cam->Camera().Streamer(); }
    tSdkFrameStatistic Statistic() {
        tSdkFrameStatistic s{};
        bucket.GetStatistic(&s);
        return s;
    }
    // The next frame delivered, checked byte for byte; its block id (0: none in time).
    uint32_t NextFrame() {
        CFrameBufferShared f;
        if (client->GetFullFrame(f, 10000) != 0 || f == nullptr) return 0;
        const uint32_t block = static_cast<uint32_t>(f->GetFrameNo());
        const uint8_t* data = f->GetData();
        size_t wrong = 0;
        for (size_t i = 0; i < f->GetFilledSize(); i += 97)
            wrong += data[i] != CSimGvspStreamer::PatternByte(block, i);
        EXPECT_EQ(wrong, 0u) << "block " << block;
        client->ReleaseFrame(f);
        return block;
    }
    // Frames delivered and not taken yet, dropped.
    void Forget() {
        CFrameBufferShared f;
        while (client->GetFullFrame(f, 0) == 0 && f != nullptr) client->ReleaseFrame(f);
    }

    qvsim::CSimGigeNetwork net;
    CSimGigeImx290Camera* cam = nullptr;
    std::shared_ptr<CGigeCameraBySocket> device;
    CFrameBucket bucket{4};
    CFrameBucketClient* client = nullptr;
    bool opened = false;
    bool streamOpened = false;
};

// Free run. The camera either goes on with its block ids (each play here starts a range of its
// own, far beyond what was sent before) or numbers afresh from 1 at every start.
TEST_F(GigeStreamPause, RunningStreamPausedAndPlayed) {
    constexpr int kCycles = 40;
    Open(false);
    for (const bool afresh : {false, true}) {
        SCOPED_TRACE(afresh ? "numbers afresh" : "goes on");
        uint32_t base = 1;
        for (int cycle = 0; cycle < kCycles; ++cycle) {
            // Some frames go through, and the pause falls on one in flight.
            ASSERT_NE(NextFrame(), 0u);
            const uint64_t sent = Streamer().GetStats().framesSent;
            ASSERT_TRUE(Streamer().WaitFramesSent(sent + 1, 10s));
            ASSERT_EQ(device->StopCapture(), 0);
            // A frame the camera began before the stop is not sent after the play.
            ASSERT_TRUE(Streamer().WaitIdle(10s));
            base = afresh ? 1 : (base + 1000) % 60000 + 1;
            Streamer().SetNextBlockId(base);
            Forget();
            const int lost = Statistic().iLostFrames;
            const uint64_t asked = Streamer().GetStats().resendRequests;
            const uint64_t sentAtPlay = Streamer().GetStats().framesSent;
            ASSERT_EQ(device->StartCapture(), 0);
            const uint32_t first = NextFrame();
            ASSERT_NE(first, 0u) << "cycle " << cycle;
            // Sent after the play: from the new range, however far the pool let the consumer fall
            // behind, and one the camera does send since the play (it counts a frame only once
            // all of it is sent, which may be after the frame is delivered).
            ASSERT_GE(first, base) << "cycle " << cycle;
            EXPECT_TRUE(Streamer().WaitFramesSent(sentAtPlay + (first - base) + 1, 10s))
                << "cycle " << cycle << " block " << first;
            EXPECT_EQ(Statistic().iLostFrames, lost) << "cycle " << cycle;
            EXPECT_EQ(Streamer().GetStats().resendRequests, asked) << "cycle " << cycle;
        }
    }
}

// Trigger mode: every trigger after a play gives its own image and only it, though the pause
// cut the image of the trigger before.
TEST_F(GigeStreamPause, TriggeredStreamPausedAndPlayed) {
    constexpr int kCycles = 3;
    Open(true);
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        const uint64_t sent = Streamer().GetStats().framesSent;
        Streamer().GrantFrames(1);
        // The pause comes while the image is on its way, or just after.
        if (cycle % 2 == 0) {
            ASSERT_TRUE(Streamer().WaitFramesSent(sent + 1, 10s));
        }
        ASSERT_EQ(device->StopCapture(), 0);
        ASSERT_TRUE(Streamer().WaitGateClosed(10s));
        // A trigger the camera had not begun before the pause waits for the play.
        const uint32_t cut = Streamer().GetStats().lastBlockId;
        const uint64_t sentAtPause = Streamer().GetStats().framesSent;
        Forget();
        const uint32_t good = Statistic().uGoodFrames;
        const int lost = Statistic().iLostFrames;
        const uint64_t asked = Streamer().GetStats().resendRequests;
        ASSERT_EQ(device->StartCapture(), 0);
        Streamer().GrantFrames(1);
        ASSERT_TRUE(Streamer().WaitFramesSent(sent + 2, 10s));
        ASSERT_TRUE(Streamer().WaitGateClosed(10s));
        const uint32_t newest = Streamer().GetStats().lastBlockId;
        const uint64_t images = Streamer().GetStats().framesSent - sentAtPause;
        // The images of the triggers after the play, in order, and nothing else.
        for (uint32_t taken = 0; taken != newest;) {
            taken = NextFrame();
            ASSERT_GT(taken, cut) << "cycle " << cycle;  // no wrap in so few blocks
            ASSERT_LE(taken, newest) << "cycle " << cycle;
        }
        EXPECT_EQ(Statistic().uGoodFrames, good + images) << "cycle " << cycle;
        EXPECT_EQ(Statistic().iLostFrames, lost) << "cycle " << cycle;
        EXPECT_EQ(Streamer().GetStats().resendRequests, asked) << "cycle " << cycle;
    }
}

// The receiver runs, its socket emptied of what the pause left, before the camera is told to
// stream: an image the camera sends the moment its acquisition starts (before the host has its
// answer) is the first one delivered, not read away as a leftover of the pause.
TEST_F(GigeStreamPause, ImageSentAsTheAcquisitionStartsIsKept) {
    Open(true);
    for (int cycle = 0; cycle < 3; ++cycle) {
        ASSERT_EQ(device->StopCapture(), 0);
        ASSERT_TRUE(Streamer().WaitGateClosed(10s));
        Forget();
        const uint32_t good = Statistic().uGoodFrames;
        const uint64_t sent = Streamer().GetStats().framesSent;
        bool granted = false;
        cam->Camera().SetAnswerEditor([&](uint16_t command, std::vector<uint8_t>&) {
            if (command != 0x0082 || granted) return;  // a register write
            // The write that set the camera streaming: the acquisition start, here.
            qvsim::CSimGigeFirmware& fw = cam->Firmware();
            if (fw.StreamHostPort() == 0 || !fw.AcquisitionRunning()) return;
            granted = true;
            Streamer().GrantFrames(1);
            EXPECT_TRUE(Streamer().WaitFramesSent(sent + 1, 10s));
        });
        ASSERT_EQ(device->StartCapture(), 0);
        cam->Camera().SetAnswerEditor(nullptr);
        ASSERT_TRUE(granted);
        const uint32_t block = Streamer().GetStats().lastBlockId;
        EXPECT_EQ(NextFrame(), block) << "cycle " << cycle;
        EXPECT_EQ(Statistic().uGoodFrames, good + 1) << "cycle " << cycle;
    }
}

}  // namespace
