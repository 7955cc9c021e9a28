// Frames from the simulated camera through the device and its receiver, over a veth link with
// jumbo frames: byte-exact against the camera's pattern at packet sizes 1500 and 9000, with
// loss, reordering and duplicates, and with a lost leader and a lost trailer completed by
// resend. The camera sends a frame only when the test lets it (a gate).
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

#include "GigeTestRig.h"
#include "SimGigeNetwork.h"
#include "device/CameraInitParam.h"
#include "frames/FrameBucket.h"

namespace {

using namespace std::chrono_literals;
using qvsim::CSimGvspStreamer;

class GigeStreamFrames : public ::testing::TestWithParam<int> {
  protected:
    void SetUp() override {
        const int ns = net.AddNamespace();
        const int link = net.AddLink(ns, "198.18.30.1", "", 24, 9000);
        SimGigeImx290Options o;
        o.ip = "198.18.30.2";
        o.mask = "255.255.255.0";
        o.gvcpCapability = 4;  // packet resend
        o.stream.gated = true;
        cam = &net.AddCamera(link, o);
        device = gigetest::DeviceFor(cam->Firmware(), net.HostInterface(link).c_str());
        ASSERT_EQ(device->Open(nullptr), 0);
        opened = true;
        CameraInitParam p{};
        p.packetSize = GetParam();
        p.mediaType = 0x01080000;
        p.resolution.iIndex = 255;  // a region of 640 x 480
        p.resolution.iSensorWidth = 640;
        p.resolution.iSensorHeight = 480;
        p.resolution.uWidth = 640;
        p.resolution.uHeight = 480;
        ASSERT_EQ(device->OpenStream(bucket.GetProducer(), &p), 0);
        streamOpened = true;
        int size = 0;
        device->GetOptimalPacketSize(&size);
        ASSERT_EQ(size, GetParam());
        device->GetFrameInfo(&info);
        ASSERT_GT(info.TotalBytes, 0u);
        ASSERT_EQ(device->StartCapture(), 0);
        client = bucket.CreateBucketClient();
    }
    void TearDown() override {
        if (client != nullptr) bucket.DestroyBucketClient(client);
        // Only what SetUp got to open: a device that failed to open has nothing to close.
        if (streamOpened) {
            device->StopCapture();
            device->CloseStream();
        }
        if (opened) device->Close();
    }
    CSimGvspStreamer& Streamer() { return cam->Camera().Streamer(); }
    uint32_t Packets() const {
        const uint32_t payload = static_cast<uint32_t>(GetParam()) - 36;
        return (info.TotalBytes + payload - 1) / payload + 2;
    }
    // Lets one frame go and checks it byte for byte; its block id.
    uint32_t OneFrame() {
        const uint64_t before = Streamer().GetStats().framesSent;
        Streamer().GrantFrames(1);
        EXPECT_TRUE(Streamer().WaitFramesSent(before + 1, 10s));
        const uint32_t block = Streamer().GetStats().lastBlockId;
        CFrameBufferShared f;
        EXPECT_EQ(client->GetFullFrame(f, 10000), 0) << "block " << block;
        if (f == nullptr) return 0;
        EXPECT_EQ(f->GetFrameNo(), block);
        EXPECT_EQ(f->GetFilledSize(), info.TotalBytes);
        const uint8_t* data = f->GetData();
        size_t wrong = 0;
        for (size_t i = 0; i < info.TotalBytes; ++i)
            wrong += data[i] != CSimGvspStreamer::PatternByte(block, i);
        EXPECT_EQ(wrong, 0u) << "block " << block;
        client->ReleaseFrame(f);
        return block;
    }
    tSdkFrameStatistic Statistic() {
        tSdkFrameStatistic s{};
        bucket.GetStatistic(&s);
        return s;
    }

    qvsim::CSimGigeNetwork net;
    CSimGigeImx290Camera* cam = nullptr;
    std::shared_ptr<CGigeCameraBySocket> device;
    CFrameBucket bucket{4};
    CFrameBucketClient* client = nullptr;
    stImageInfo info{};
    bool opened = false;
    bool streamOpened = false;
};

TEST_P(GigeStreamFrames, CleanFramesByteExact) {
    // A camera thread held off the processor for more than the default 30 ms in the middle of a
    // frame (a busy machine, a sanitizer build) would rightly be asked for the frame's tail.
    ASSERT_EQ(device->SetResend(1, 0, 2000, 3), 0);
    for (int i = 0; i < 5; ++i) OneFrame();
    EXPECT_EQ(Statistic().uGoodFrames, 5u);
    EXPECT_EQ(Statistic().iLostFrames, 0);
    // The frame reaches the pool while its last datagram is still being counted.
    CGVSPReceiver::Stats stats;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    do {
        ASSERT_TRUE(device->GetStreamStats(&stats));
    } while (stats.datagrams < 5u * Packets() && std::chrono::steady_clock::now() < deadline);
    EXPECT_EQ(stats.datagrams, 5u * Packets());
    EXPECT_EQ(stats.resent, 0u);
}

TEST_P(GigeStreamFrames, LossReorderingAndDuplicatesRecoveredByResend) {
    Streamer().SetSeed(static_cast<uint32_t>(GetParam()));
    Streamer().SetLoss(20);
    Streamer().SetReorder(20);
    Streamer().SetDuplicates(20);
    for (int i = 0; i < 8; ++i) OneFrame();
    EXPECT_EQ(Statistic().uGoodFrames, 8u);
    EXPECT_EQ(Statistic().iLostFrames, 0);
    CGVSPReceiver::Stats stats;
    ASSERT_TRUE(device->GetStreamStats(&stats));
    EXPECT_GT(Streamer().GetStats().packetsDropped, 0u);
    EXPECT_GT(stats.resent, 0u);
}

TEST_P(GigeStreamFrames, LostLeaderAndLostTrailerCompletedByResend) {
    const uint32_t next = Streamer().GetStats().lastBlockId + 1;
    Streamer().DropPackets(next, 0, 0);                              // its leader
    Streamer().DropPackets(next + 1, Packets() - 1, Packets() - 1);  // its trailer
    Streamer().DropPackets(next + 2, 0, 2);  // the leader and what follows it
    EXPECT_EQ(OneFrame(), next);
    EXPECT_EQ(OneFrame(), next + 1);
    EXPECT_EQ(OneFrame(), next + 2);
    EXPECT_EQ(Statistic().iLostFrames, 0);
    EXPECT_GE(Streamer().GetStats().resendRequests, 3u);
}

// A pause while a complete frame waits behind an older one whose lost packet is asked for but
// never resent (the resend timeout is long): the pause hands the waiting frame to the pool. After
// the play, as in trigger mode, each frame the camera is let to send arrives on its own.
TEST_P(GigeStreamFrames, PauseAndPlayWithAFrameHeld) {
    ASSERT_EQ(device->SetResend(1, 0, 20000, 3), 0);
    Streamer().SetResendLoss(1000);
    const uint32_t next = Streamer().GetStats().lastBlockId + 1;
    Streamer().DropPackets(next, 2, 2);
    const uint64_t before = Streamer().GetStats().framesSent;
    Streamer().GrantFrames(2);
    ASSERT_TRUE(Streamer().WaitFramesSent(before + 2, 10s));
    CGVSPReceiver::Stats stats;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    do {
        ASSERT_TRUE(device->GetStreamStats(&stats));
    } while (stats.datagrams < 2 * Packets() - 1 && std::chrono::steady_clock::now() < deadline);
    ASSERT_EQ(stats.datagrams, 2 * Packets() - 1);
    EXPECT_EQ(Statistic().uGoodFrames, 0u);

    ASSERT_EQ(device->StopCapture(), 0);
    CFrameBufferShared f;
    ASSERT_EQ(client->GetFullFrame(f, 0), 0);
    EXPECT_EQ(f->GetFrameNo(), next + 1);
    client->ReleaseFrame(f);
    EXPECT_EQ(Statistic().iLostFrames, 1);

    Streamer().SetResendLoss(0);
    ASSERT_EQ(device->StartCapture(), 0);
    for (uint32_t i = 2; i < 5; ++i) EXPECT_EQ(OneFrame(), next + i);
    EXPECT_EQ(Statistic().uGoodFrames, 4u);
    EXPECT_EQ(Statistic().iLostFrames, 1);
}

INSTANTIATE_TEST_SUITE_P(PacketSizes, GigeStreamFrames, ::testing::Values(1500, 9000));

}  // namespace
