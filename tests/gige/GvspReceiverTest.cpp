// The GVSP receiver against a camera test double, fed by datagrams injected on loopback: block
// ids with their wrap and lost-image counting, late and old packets, packets before their
// leader, duplicates, all-in packets, two frames assembling, one frame starving later blocks,
// timestamps, closing with frames assembling, error statuses, foreign senders and hostile
// datagrams.
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "GvspTestRig.h"
#include "LogCapture.h"
#include "frames/FrameBucket.h"
#include "gige/GVSPReceiverBySocket.h"
#include "gige/GvspProtocol.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using namespace gvsptest;
using Bytes = std::vector<uint8_t>;

// A socket on 127.0.0.1 (the "camera") or another loopback address (a foreign sender).
class Injector {
  public:
    explicit Injector(const char* ip = "127.0.0.1") {
        m_fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        inet_pton(AF_INET, ip, &a.sin_addr);
        bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
    }
    ~Injector() { close(m_fd); }
    uint16_t Port() const { return m_port; }
    void Send(uint16_t port, const Bytes& d) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sendto(m_fd, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }

  private:
    int m_fd = -1;
    uint16_t m_port = 0;
};

class GvspReceiver : public ::testing::Test {
  protected:
    static constexpr int kPayload = 24;  // 64 bytes: data packets 1..3 (24, 24, 16), trailer 4

    void Make(int frameCount = 6, int payload = kPayload) {
        receiver = std::make_unique<CGVSPReceiverBySocket>(
            &camera, LQComponent::Address("127.0.0.1", injector.Port()), frameCount);
        ASSERT_EQ(receiver->Init(payload), 0);
        ASSERT_EQ(receiver->OpenStream(bucket.GetProducer()), 0);
        ASSERT_EQ(receiver->Start(), 0);
    }
    void TearDown() override {
        if (receiver) {
            receiver->Stop();
            receiver->CloseStream();
            receiver->Uninit();
        }
        if (client) bucket.DestroyBucketClient(client);
    }
    void Send(const Bytes& d) {
        injector.Send(receiver->GetLocalPort(), d);
        ++sent;
    }
    // Waits until the receive thread has looked at everything sent so far.
    void Settle() {
        const auto deadline = Clock::now() + 10s;
        while (Clock::now() < deadline) {
            const auto s = receiver->GetStats();
            if (s.datagrams + s.foreign >= sent) return;
            std::this_thread::sleep_for(1ms);
        }
        FAIL() << "datagrams not taken in time";
    }
    void Frame(uint32_t block, bool trailer = true, bool leader = true) {
        if (leader) Send(Leader(block));
        Send(Data(block, 1, 0, 24));
        Send(Data(block, 2, 24, 24));
        Send(Data(block, 3, 48, 16));
        if (trailer) Send(Trailer(block, 4));
    }
    tSdkFrameStatistic Statistic() {
        tSdkFrameStatistic s{};
        bucket.GetStatistic(&s);
        return s;
    }
    // The newest full frame not taken yet: its number and bytes (number 0: none).
    std::pair<uint32_t, Bytes> Take(int timeoutMs = 0) {
        if (client == nullptr) client = bucket.CreateBucketClient();
        CFrameBufferShared f;
        if (client->GetFullFrame(f, timeoutMs) != 0) return {0, {}};
        const uint8_t* data = f->GetData();
        Bytes bytes(data, data + f->GetFilledSize());
        const uint32_t no = f->GetFrameNo();
        client->ReleaseFrame(f);
        return {no, bytes};
    }
    static Bytes Expected(uint32_t block) {
        Bytes b(64);
        for (size_t i = 0; i < b.size(); ++i) b[i] = ImageByte(block, i);
        return b;
    }

    CCameraDouble camera;
    CFrameBucket bucket{4};
    CFrameBucketClient* client = nullptr;
    Injector injector;
    std::unique_ptr<CGVSPReceiverBySocket> receiver;
    uint64_t sent = 0;
};

TEST_F(GvspReceiver, CompleteFramesByteExact) {
    Make();
    Frame(7);
    Settle();
    auto [no, bytes] = Take();
    EXPECT_EQ(no, 7u);
    EXPECT_EQ(bytes, Expected(7));
    // Arrival order does not matter: data before the leader, trailer first.
    Send(Trailer(8, 4));
    Send(Data(8, 3, 48, 16));
    Send(Data(8, 1, 0, 24));
    Send(Leader(8));
    Send(Data(8, 2, 24, 24));
    Send(Data(8, 2, 24, 24));  // a duplicate changes nothing
    Settle();
    std::tie(no, bytes) = Take();
    EXPECT_EQ(no, 8u);
    EXPECT_EQ(bytes, Expected(8));
    EXPECT_EQ(Statistic().uGoodFrames, 2u);
    EXPECT_EQ(Statistic().iLostFrames, 0);
}

TEST_F(GvspReceiver, LostImagesFromBlockIds) {
    struct Case {
        std::vector<uint32_t> blocks;
        int lost;
    };
    const Case cases[] = {
        {{65535, 1}, 0},    {{65534, 1}, 1}, {{65535, 3}, 2},
        {{10, 13}, 2},      {{5}, 0},  // the first block after Start counts nothing below it
        {{65000, 10}, 544},
    };
    Make();
    for (const Case& c : cases) {
        receiver->Stop();
        const int before = Statistic().iLostFrames;
        const uint32_t goodBefore = Statistic().uGoodFrames;
        ASSERT_EQ(receiver->Start(), 0);
        for (uint32_t b : c.blocks) Frame(b);
        Settle();
        EXPECT_EQ(Statistic().iLostFrames - before, c.lost) << c.blocks.front();
        EXPECT_EQ(Statistic().uGoodFrames - goodBefore, c.blocks.size()) << c.blocks.front();
    }
}

TEST_F(GvspReceiver, LateAndOldPacketsAreDropped) {
    qvsim::LogCapture log;
    Make();
    Frame(100);
    Settle();
    Send(Data(100, 1, 0, 24));  // of a block completed already
    Send(Data(99, 1, 0, 24));   // of an older one
    Settle();
    EXPECT_EQ(log.Count("Can't get a frame.\r\n"), 2);
    Frame(101);
    Settle();
    EXPECT_EQ(Take().first, 101u);
    EXPECT_EQ(Statistic().iLostFrames, 0);
}

// A frame given up is counted once: not again by the gap in block ids when a later one
// completes.
TEST_F(GvspReceiver, GivenUpFramesCountOnce) {
    camera.SetResendSupported(false);  // nothing to wait for
    Make(2);
    Frame(1);
    Frame(2, false);  // no trailer
    Frame(3, false);
    Frame(4);  // no free frame: 2 goes at once; completing 4 gives up 3
    Settle();
    EXPECT_EQ(Take().first, 4u);
    EXPECT_EQ(Statistic().iLostFrames, 2);
    EXPECT_EQ(Statistic().uGoodFrames, 2u);
}

TEST_F(GvspReceiver, OlderFrameGivenUpOnlyWhenIdle) {
    qvsim::LogCapture log;
    // Without resend: the requests for a missing tail would keep the frames fresh.
    camera.SetResendSupported(false);
    Make(6);
    Frame(1, false);
    Frame(2, false);
    Frame(3, false);  // two assembling and free frames left: 1 stays (it just had packets)
    Settle();
    EXPECT_EQ(log.Count("Get a frame from reading map11111, previous block id 1, block id 3\r\n"),
              0);
    std::this_thread::sleep_for(150ms);  // more than 100 ms without a packet for 1
    Frame(4, false);
    Settle();
    EXPECT_EQ(log.Count("Get a frame from reading map11111, previous block id 1, block id 4\r\n"),
              1);
    // The trailers complete 2, 3 and 4.
    Send(Trailer(2, 4));
    Send(Trailer(3, 4));
    Send(Trailer(4, 4));
    Settle();
    EXPECT_EQ(Statistic().uGoodFrames, 3u);
    EXPECT_EQ(Statistic().iLostFrames, 1);
}

// A newer frame complete while an older one waits for packets it asked to be resent is held
// back: the resent packet completes the older one and both go to the pool in block order. Without
// the resent packet the older one is given up after the resend timeout.
TEST_F(GvspReceiver, NewerFrameWaitsForAnOlderOnesResend) {
    Make();
    Send(Leader(5));
    Send(Data(5, 1, 0, 24));
    Send(Data(5, 3, 48, 16));  // 2 is missing: asked for at once
    Send(Trailer(5, 4));
    Frame(6);
    Settle();
    EXPECT_EQ(Statistic().uGoodFrames, 0u);  // 6 waits for 5
    ASSERT_FALSE(camera.Requests().empty());
    Bytes resent = Data(5, 2, 24, 24);
    resent[0] = 0x01;  // status 0x0100: resent
    Send(resent);
    Settle();
    EXPECT_EQ(Statistic().uGoodFrames, 2u);
    EXPECT_EQ(Statistic().iLostFrames, 0);
    EXPECT_EQ(Take().first, 6u);  // the newest: 5 went first
    EXPECT_EQ(receiver->GetStats().resent, 1u);

    // No resent packet comes: after the resend timeout the older one is given up.
    Send(Leader(7));
    Send(Data(7, 1, 0, 24));
    Send(Data(7, 3, 48, 16));
    Send(Trailer(7, 4));
    Frame(8);
    Settle();
    const auto deadline = Clock::now() + 10s;
    while (Statistic().uGoodFrames < 3 && Clock::now() < deadline) std::this_thread::sleep_for(5ms);
    EXPECT_EQ(Statistic().uGoodFrames, 3u);
    EXPECT_EQ(Statistic().iLostFrames, 1);
    EXPECT_EQ(Take().first, 8u);
}

TEST_F(GvspReceiver, OneFrameStarvesLaterBlocksUntilItCompletes) {
    qvsim::LogCapture log;
    Make(1);
    Frame(1, false);
    Frame(2);
    Settle();
    EXPECT_GE(log.Count("Can't get a gvsp frame buffer from queue."), 1);
    EXPECT_EQ(Statistic().uGoodFrames, 0u);
    Send(Trailer(1, 4));
    Settle();
    EXPECT_EQ(Take().first, 1u);
    Frame(3);
    Settle();
    EXPECT_EQ(Take().first, 3u);
}

TEST_F(GvspReceiver, AllInSetsOnlyTheFlags) {
    Make();
    Send(Leader(5));
    Send(Header(0, 5, 4, 0));  // all-in, no data: not complete
    Settle();
    EXPECT_EQ(Statistic().uGoodFrames, 0u);
    Send(Data(5, 1, 0, 24));
    Send(Data(5, 2, 24, 24));
    Send(Data(5, 3, 48, 16));
    Send(Header(0, 5, 4, 0));
    Settle();
    EXPECT_EQ(Take().first, 5u);
}

TEST_F(GvspReceiver, TimestampsTimesAThousandExceptOnType205) {
    for (int type : {201, 205}) {
        camera.SetType(type);
        Make();
        Send(Leader(9, 0x123456789ULL));
        Send(Data(9, 1, 0, 24));
        Send(Data(9, 2, 24, 24));
        Send(Data(9, 3, 48, 16));
        Send(Trailer(9, 4));
        Settle();
        if (client == nullptr) client = bucket.CreateBucketClient();
        CFrameBufferShared f;
        ASSERT_EQ(client->GetFullFrame(f, 0), 0);
        EXPECT_EQ(f->GetTimestamp(), type == 205 ? 0x123456789ULL : 0x123456789ULL * 1000);
        stImageInfo info{};
        f->GetImageInfo(&info);
        EXPECT_EQ(info.iWidth, 16u);
        EXPECT_EQ(info.TotalBytes, 64u);
        client->ReleaseFrame(f);
        receiver->Stop();
        receiver->CloseStream();
        receiver.reset();
        sent = 0;
    }
}

TEST_F(GvspReceiver, CloseWithFramesAssemblingGivesThemBack) {
    Make(4);
    Frame(1, false);
    Frame(2, false);
    Settle();
    receiver->Stop();
    ASSERT_EQ(receiver->CloseStream(), 0);
    EXPECT_EQ(Statistic().iLostFrames, 0);
    EXPECT_EQ(Statistic().uGoodFrames, 0u);
    // Every buffer of the pool is free again.
    std::vector<CFrameBufferShared> all;
    for (int i = 0; i < 4; ++i) {
        all.push_back(bucket.GetProducer()->GetEmptyFrame());
        EXPECT_NE(all.back(), nullptr) << i;
    }
    for (auto& f : all) bucket.GetProducer()->PutEmptyFrame(f);
    receiver.reset();
}

TEST_F(GvspReceiver, FrameCountAndPayloadChecks) {
    Make();
    EXPECT_EQ(receiver->SetFrameCount(3), CAMERA_STATUS_BUSY);
    receiver->Stop();
    EXPECT_EQ(receiver->SetFrameCount(0), -6);
    EXPECT_EQ(receiver->SetFrameCount(11), -6);
    EXPECT_EQ(receiver->SetFrameCount(3), 0);
    int n = 0;
    EXPECT_EQ(receiver->GetFrameCount(&n), 0);
    EXPECT_EQ(n, 3);
    CGVSPReceiverBySocket other(&camera, LQComponent::Address(), 0);
    EXPECT_EQ(other.Init(0), -6);
    EXPECT_EQ(other.Init(-36), -6);
}

TEST_F(GvspReceiver, ErrorStatusDropsTheFrameButAResendAnswerOnlyItsPacket) {
    qvsim::LogCapture log;
    Make();
    Frame(1);
    Send(Leader(2));
    Send(Data(2, 1, 0, 24, 0x8001));  // an error packet of the stream: the frame goes
    Settle();
    EXPECT_EQ(log.Count("frame packet status error\n"), 1);
    EXPECT_EQ(Statistic().iLostFrames, 1);
    // Packet 2 of block 3 is missing and asked for; the camera answers it is unavailable: the
    // packet is given up, not the frame, and nothing more is asked.
    camera.ClearRequests();
    Send(Leader(3));
    Send(Data(3, 1, 0, 24));
    Send(Data(3, 3, 48, 16));
    Settle();
    ASSERT_FALSE(camera.Requests().empty());
    EXPECT_EQ(camera.Requests()[0], (CCameraDouble::Request{3, 2, 2}));
    Send(Header(0x800C, 3, 3, 2));
    Settle();
    EXPECT_EQ(log.Count("frame packet status error\n"), 1);
    EXPECT_EQ(Statistic().iLostFrames, 1);
    camera.ClearRequests();
    Send(Trailer(3, 4));
    std::this_thread::sleep_for(100ms);  // past the 30 ms resend timeout: a scan would ask
    Send(Data(3, 1, 0, 24));             // (a duplicate, to run the scan)
    Settle();
    EXPECT_TRUE(camera.Requests().empty());
}

TEST_F(GvspReceiver, ForeignSendersAndHostileDatagrams) {
    Make();
    Injector foreign("127.0.0.9");
    // Another sender on the stream port: a whole frame of it is not taken (the socket's filter
    // drops it before the receiver sees it, so it is not waited for).
    for (const Bytes& d :
         {Leader(1), Data(1, 1, 0, 24), Data(1, 2, 24, 24), Data(1, 3, 48, 16), Trailer(1, 4)})
        foreign.Send(receiver->GetLocalPort(), d);
    const Bytes leader = Leader(2);
    Bytes big(9300, 0x33);
    big[4] = 3;
    big[7] = 1;
    const std::vector<Bytes> hostile = {
        {},
        {0x00},
        {0, 0, 0, 2, 3, 0, 0},                       // shorter than the header
        Bytes(leader.begin(), leader.begin() + 20),  // a 20-byte leader
        Leader(3, 0, 16, 4, 0x0002),                 // another payload type
        Leader(4, 0, 17, 4),                         // another width
        Leader(5, 0, 16, 5),                         // another height
        Data(6, 0, 0, 24),                           // data with packet id 0
        Trailer(6, 0),                               // trailer with packet id 0
        Data(6, 0xFFFFFF, 0, 24),                    // beyond every table
        Data(6, 200000, 0, 24),
        big,                 // longer than the packet buffer
        Header(0, 7, 9, 1),  // another format
        Header(0, 7, 5, 1),
        Header(0, 7, 6, 1),
        Header(0, 7, 0, 1),
    };
    for (const Bytes& d : hostile) Send(d);
    Settle();
    // Blocks the hostile datagrams started hold pool buffers until they are 100 ms old; each
    // new block then gives up the oldest.
    std::this_thread::sleep_for(150ms);
    // Data and trailer ids beyond the frame's, and a padded last packet.
    Send(Leader(8));
    Send(Data(8, 1, 0, 24));
    Send(Data(8, 2, 24, 24));
    Bytes padded = Data(8, 3, 48, 16);
    padded.resize(padded.size() + 8, 0xEE);  // 8 bytes beyond the image
    Send(padded);
    Send(Data(8, 4, 72, 24));   // the trailer's id as data
    Send(Data(8, 9, 200, 24));  // offset beyond the buffer
    Send(Trailer(8, 40));       // a trailer id beyond the frame
    Send(Trailer(8, 4));
    Settle();
    // Frame 8 may wait behind an older block that asked for packets (the one made of packets
    // without a leader), for at most the resend timeout.
    auto [no, bytes] = Take(5000);
    EXPECT_EQ(no, 8u);
    EXPECT_EQ(bytes, Expected(8));
    // Only the camera's own datagrams that are too short or too long: the other sender's never
    // reached the receive loop.
    EXPECT_EQ(receiver->GetStats().foreign, 4u);
    // The stream goes on.
    Frame(9);
    Settle();
    EXPECT_EQ(Take(5000).first, 9u);
}

}  // namespace

// Pause and play with a complete frame held behind an older one that waits for resent packets,
// and another frame half received: the pause hands the held frame to the pool and gives up the
// one it waited for; the half frame goes back unfilled and uncounted. After the play every block
// reaches the pool as it completes, one at a time as frames come in trigger mode.
TEST_F(GvspReceiver, PauseAndPlayWithAFrameHeldAndFramesAssembling) {
    Make();
    receiver->SetResendParam(true, 0, 20000, 3);  // 6 would wait 20 s for 5
    Send(Leader(5));
    Send(Data(5, 1, 0, 24));
    Send(Data(5, 3, 48, 16));  // 2 is missing: asked for
    Send(Trailer(5, 4));
    Frame(6);
    Send(Leader(7));
    Send(Data(7, 1, 0, 24));
    Settle();
    EXPECT_EQ(Statistic().uGoodFrames, 0u);

    receiver->Stop();
    auto [no, bytes] = Take();
    EXPECT_EQ(no, 6u);
    EXPECT_EQ(bytes, Expected(6));
    EXPECT_EQ(Statistic().iLostFrames, 1);

    ASSERT_EQ(receiver->Start(), 0);
    for (uint32_t block = 8; block <= 12; ++block) {
        Frame(block);
        Settle();
        std::tie(no, bytes) = Take(5000);
        EXPECT_EQ(no, block);
        EXPECT_EQ(bytes, Expected(block));
    }
    EXPECT_EQ(Statistic().uGoodFrames, 6u);
    EXPECT_EQ(Statistic().iLostFrames, 1);
}

// An all-in packet that begins a block finds a pool buffer with nothing expected (a fresh one,
// or one that held an earlier image): the block is not complete, is never delivered, and the
// blocks before it are still taken.
TEST_F(GvspReceiver, AllInFirstInABlockOnFreshAndReusedBuffers) {
    Make();
    Frame(1);
    Settle();
    EXPECT_EQ(Take().first, 1u);
    Send(Header(0, 3, 4, 0));  // begins block 3 on a buffer never filled
    Settle();
    EXPECT_EQ(Statistic().uGoodFrames, 1u);
    Frame(2);  // completes: 3 is given up
    Settle();
    auto [no, bytes] = Take(5000);
    EXPECT_EQ(no, 2u);
    EXPECT_EQ(bytes, Expected(2));
    for (uint32_t block = 4; block <= 6; ++block) Frame(block);  // the other buffers
    Settle();
    EXPECT_EQ(Take().first, 6u);
    Send(Header(0, 8, 4, 0));  // begins block 8 on the buffer that held block 2
    Settle();
    EXPECT_EQ(Statistic().uGoodFrames, 5u);
    Frame(7);
    Settle();
    std::tie(no, bytes) = Take(5000);
    EXPECT_EQ(no, 7u);
    EXPECT_EQ(bytes, Expected(7));
    EXPECT_EQ(Statistic().uGoodFrames, 6u);
    EXPECT_EQ(Statistic().iLostFrames, 1);  // block 3; 8 comes after 7 and still assembles
}

// An error-status packet drops its block once; the rest of that block's packets start nothing
// (no frame without a leader that would ask for it and hold the next one back).
TEST_F(GvspReceiver, ErrorStatusFollowedByTheRestOfItsBlock) {
    qvsim::LogCapture log;
    Make();
    Frame(1);
    Send(Leader(2));
    Send(Data(2, 1, 0, 24, 0x8001));
    Send(Data(2, 2, 24, 24));
    Send(Data(2, 3, 48, 16));
    Send(Trailer(2, 4));
    Settle();
    EXPECT_EQ(log.Count("frame packet status error\n"), 1);
    EXPECT_EQ(Statistic().iLostFrames, 1);
    Frame(3);
    Settle();
    EXPECT_EQ(Take().first, 3u);  // at once: nothing older waits
    EXPECT_EQ(Statistic().uGoodFrames, 2u);
    EXPECT_EQ(Statistic().iLostFrames, 1);
    for (const auto& [block, first, last] : camera.Requests()) EXPECT_NE(block, 2) << first;
}

// A camera streaming another image size than its settings describe: said once per stream
// start, and its blocks are dropped.
TEST_F(GvspReceiver, LeaderOfAnotherSizeLoggedOncePerStart) {
    qvsim::LogCapture log;
    camera.SetResendSupported(false);
    Make();
    const std::string line =
        "GVSP leader of 17 x 4 does not match the camera's image of 16 x 4, block dropped\r\n";
    for (uint32_t block = 1; block <= 3; ++block) Send(Leader(block, 0, 17, 4));
    Settle();
    EXPECT_EQ(log.Count(line), 1);
    receiver->Stop();
    ASSERT_EQ(receiver->Start(), 0);
    Send(Leader(4, 0, 17, 4));
    Send(Leader(5, 0, 17, 4));
    Settle();
    EXPECT_EQ(log.Count(line), 2);
    Frame(6);
    Settle();
    EXPECT_EQ(Take(5000).first, 6u);
}

// Blocks given up one after another while none completes: the receiver remembers a bounded
// number of them, and each is still counted lost once when a block finally completes.
TEST_F(GvspReceiver, ManyBlocksGivenUpWithoutADelivery) {
    camera.SetResendSupported(false);
    Make(2);
    Frame(1);
    for (uint32_t block = 2; block <= 201; ++block) Send(Data(block, 1, 0, 24));
    Settle();
    EXPECT_LE(receiver->GivenUpBlocksKept(), CGVSPReceiverBySocket::kGivenUpKept);
    EXPECT_EQ(Statistic().iLostFrames, 198);
    Frame(202);
    Settle();
    EXPECT_EQ(Take(5000).first, 202u);
    EXPECT_EQ(Statistic().iLostFrames, 200);
    EXPECT_EQ(Statistic().uGoodFrames, 2u);
}

namespace {

// A pause that cuts a block: the rest of it reaches the socket after the pause (still in
// flight, or queued behind the thread's last batch). After the play it starts no frame, asks
// for nothing and counts nothing lost, whether the camera goes on with its block ids or
// numbers afresh from 1 (its first new block then has the id of the cut one).
TEST_F(GvspReceiver, PauseCuttingABlockLeavesNothingForThePlay) {
    struct Case {
        const char* camera;
        std::vector<uint32_t> after;  // blocks sent after the play
        bool tailAfterPlay;  // the cut block's tail reaches the socket only after Start read it
    };
    const Case cases[] = {{"goes on", {3, 4, 5}, false},
                          {"numbers afresh", {1, 2, 3}, false},
                          {"goes on, tail late", {3, 4, 5}, true},
                          {"numbers afresh, tail late", {1, 2, 3}, true}};
    Make();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.camera);
        const int lostBefore = Statistic().iLostFrames;
        const uint32_t goodBefore = Statistic().uGoodFrames;
        Frame(1);
        Send(Leader(2));
        Send(Data(2, 1, 0, 24));
        Settle();
        EXPECT_EQ(Take(5000).first, 1u);
        receiver->Stop();
        const auto tail = [&] {
            Send(Data(2, 2, 24, 24));
            Send(Data(2, 3, 48, 16));
            Send(Trailer(2, 4));
        };
        if (!c.tailAfterPlay) tail();
        camera.ClearRequests();
        ASSERT_EQ(receiver->Start(), 0);
        if (c.tailAfterPlay) tail();
        for (uint32_t block : c.after) {
            Frame(block);
            Settle();
            auto [no, bytes] = Take(5000);
            EXPECT_EQ(no, block);
            EXPECT_EQ(bytes, Expected(block));
        }
        EXPECT_EQ(Statistic().iLostFrames, lostBefore);
        EXPECT_EQ(Statistic().uGoodFrames - goodBefore, 1u + c.after.size());
        for (const auto& [block, first, last] : camera.Requests())
            ADD_FAILURE() << "resend asked for block " << block << " " << first << "-" << last;
        receiver->Stop();
        ASSERT_EQ(receiver->Start(), 0);
    }
}

// Blocks whose first packets come in another order than their ids, at stream start and after a
// play: frames reach the pool in block order only, a block that can no longer come in order is
// given up and counted lost once, and the last block id never moves back (the next block counts
// no gap).
TEST_F(GvspReceiver, BlocksStartingOutOfOrderLeaveInBlockOrder) {
    struct Case {
        const char* when;
        bool afterARun;          // a play after a stream that delivered a block
        uint32_t first, second;  // second's first packet comes before first's
        bool firstCompletesFirst;
        uint32_t good, lost;  // of the two
    };
    const Case cases[] = {
        {"start, lower completes first", false, 9, 10, true, 2, 0},
        {"start, higher completes first", false, 9, 10, false, 1, 1},
        {"start, across the wrap", false, 65535, 1, false, 1, 1},
        {"play, lower completes first", true, 40, 41, true, 2, 0},
        {"play, higher completes first", true, 60, 61, false, 1, 1},
    };
    camera.SetResendSupported(false);  // an incomplete older block waits for nothing
    Make();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.when);
        if (c.afterARun) {
            Frame(c.first - 5);
            Settle();
            EXPECT_EQ(Take(5000).first, c.first - 5);
        }
        receiver->Stop();
        ASSERT_EQ(receiver->Start(), 0);
        const int lostBefore = Statistic().iLostFrames;
        const uint32_t goodBefore = Statistic().uGoodFrames;
        Send(Leader(c.second));
        Send(Leader(c.first));
        const uint32_t order[2] = {c.firstCompletesFirst ? c.first : c.second,
                                   c.firstCompletesFirst ? c.second : c.first};
        for (uint32_t block : order) Frame(block, true, false);
        Settle();
        EXPECT_EQ(Take(5000).first, c.second);
        EXPECT_EQ(Statistic().uGoodFrames - goodBefore, c.good);
        EXPECT_EQ(Statistic().iLostFrames - lostBefore, static_cast<int>(c.lost));
        const uint32_t next = c.second % 65535 + 1;
        Frame(next);
        Settle();
        EXPECT_EQ(Take(5000).first, next);
        EXPECT_EQ(Statistic().iLostFrames - lostBefore, static_cast<int>(c.lost));
    }
}

// Data packets out of turn, another block's packets and a duplicate right behind a leader: the
// receive puts the image bytes of the packets it expects next straight into the frame; those
// that turn out to be others must still land where they belong, and both frames come out byte
// for byte (whichever way the datagrams fall into batches).
TEST_F(GvspReceiver, PacketsOutOfTurnBehindALeaderByteExact) {
    Make();
    for (uint32_t block = 1; block <= 20; block += 2) {
        SCOPED_TRACE(block);
        Send(Leader(block));
        Settle();
        Send(Data(block, 2, 24, 24));
        Send(Data(block + 1, 1, 0, 24));  // the next block, before its leader
        Send(Data(block, 1, 0, 24));
        Send(Data(block, 2, 24, 24));  // a duplicate
        Send(Data(block, 3, 48, 16));
        Send(Trailer(block, 4));
        Settle();
        auto [no, bytes] = Take(5000);
        EXPECT_EQ(no, block);
        EXPECT_EQ(bytes, Expected(block));
        Send(Leader(block + 1));
        Send(Data(block + 1, 2, 24, 24));
        Send(Data(block + 1, 3, 48, 16));
        Send(Trailer(block + 1, 4));
        Settle();
        std::tie(no, bytes) = Take(5000);
        EXPECT_EQ(no, block + 1);
        EXPECT_EQ(bytes, Expected(block + 1));
    }
    EXPECT_EQ(Statistic().iLostFrames, 0);
    EXPECT_EQ(Statistic().uGoodFrames, 20u);
}

}  // namespace

namespace {

// A block of the new run given up (an error status) before an older block of that run is
// delivered stays given up: the rest of it, arriving after that first delivery, starts no frame,
// asks for nothing and is not counted lost a second time, whether the camera went on with its
// ids after the play or numbers afresh from 1 (ids the pause's range had used).
TEST_F(GvspReceiver, BlockGivenUpBeforeTheFirstDeliveryAfterAPlayStaysGivenUp) {
    struct Case {
        const char* camera;
        uint32_t first, second, third;  // blocks sent after the play
    };
    const Case cases[] = {{"goes on", 51, 52, 53}, {"numbers afresh", 1, 2, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.camera);
        Make();
        Frame(50);
        Settle();
        ASSERT_EQ(Take(5000).first, 50u);
        receiver->Stop();
        ASSERT_EQ(receiver->Start(), 0);
        const int lostBefore = Statistic().iLostFrames;
        const uint32_t goodBefore = Statistic().uGoodFrames;
        // first: packet 2 missing, asked for; second: an error status gives it up.
        Send(Leader(c.first));
        Send(Data(c.first, 1, 0, 24));
        Send(Data(c.first, 3, 48, 16));
        Send(Trailer(c.first, 4));
        Send(Leader(c.second));
        Send(Data(c.second, 1, 0, 24, 0x8001));
        Settle();
        EXPECT_EQ(Statistic().iLostFrames - lostBefore, 1);
        Bytes resent = Data(c.first, 2, 24, 24);
        resent[0] = 0x01;  // status 0x0100: resent
        Send(resent);
        Settle();
        EXPECT_EQ(Take(5000).first, c.first);
        camera.ClearRequests();
        // The rest of the given-up block, then the next one.
        Send(Data(c.second, 2, 24, 24));
        Send(Data(c.second, 3, 48, 16));
        Send(Trailer(c.second, 4));
        Frame(c.third);
        Settle();
        EXPECT_EQ(Take(5000).first, c.third);
        EXPECT_EQ(Statistic().uGoodFrames - goodBefore, 2u);
        EXPECT_EQ(Statistic().iLostFrames - lostBefore, 1);
        for (const auto& [block, first, last] : camera.Requests())
            ADD_FAILURE() << "resend asked for block " << block << " " << first << "-" << last;
        receiver->Stop();
        receiver->CloseStream();
        receiver->Uninit();
        receiver.reset();
        sent = 0;
    }
}

// A whole block the camera sent before it stopped (a frame it had begun) that reaches the socket
// during the pause, after Stop has read the socket empty: the play starts from the camera's new
// blocks only. It is neither delivered nor counted lost, and the new run's blocks all come,
// whether the camera goes on with its ids or numbers afresh from 1.
TEST_F(GvspReceiver, WholeBlockReachingTheSocketDuringThePauseIsNotPlayed) {
    struct Case {
        const char* camera;
        std::vector<uint32_t> after;  // blocks sent after the play
    };
    const Case cases[] = {{"goes on", {3, 4, 5}}, {"numbers afresh", {1, 2, 3}}};
    Make();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.camera);
        Frame(1);
        Settle();
        EXPECT_EQ(Take(5000).first, 1u);
        receiver->Stop();
        const int lostBefore = Statistic().iLostFrames;
        const uint32_t goodBefore = Statistic().uGoodFrames;
        Frame(2);  // sent before the camera stopped, queued while paused
        camera.ClearRequests();
        ASSERT_EQ(receiver->Start(), 0);
        for (uint32_t block : c.after) {
            Frame(block);
            Settle();
            EXPECT_EQ(Take(5000).first, block);
        }
        EXPECT_EQ(Statistic().uGoodFrames - goodBefore, c.after.size());
        EXPECT_EQ(Statistic().iLostFrames, lostBefore);
        for (const auto& [block, first, last] : camera.Requests())
            ADD_FAILURE() << "resend asked for block " << block << " " << first << "-" << last;
        receiver->Stop();
        ASSERT_EQ(receiver->Start(), 0);
    }
}

// A block a little older than the last one delivered (by more than the 4094 ids the wrap
// allows on that side, less than 61440) is old, not new: it is dropped, the last block id does
// not move back and no cycle of ids is counted lost; the next block after the last one follows
// with no gap. Only an id just beyond the wrap comes after.
TEST_F(GvspReceiver, BlockOlderThanTheLastIsNotTakenForANewOne) {
    struct Case {
        uint32_t last, stray;
        bool taken;  // stray comes after last (the wrap)
    };
    const Case cases[] = {
        {10000, 5000, false}, {10000, 9000, false}, {65000, 40000, false}, {65000, 4000, false},
        {61440, 1, false},    {61442, 1, true},     {65000, 10, true},     {65535, 4094, true},
    };
    camera.SetResendSupported(false);
    Make();
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.last << " then " << c.stray);
        receiver->Stop();
        ASSERT_EQ(receiver->Start(), 0);
        Frame(c.last);
        Settle();
        EXPECT_EQ(Take(5000).first, c.last);
        const int lostBefore = Statistic().iLostFrames;
        const uint32_t goodBefore = Statistic().uGoodFrames;
        Frame(c.stray);
        const uint32_t next = c.taken ? c.stray % 65535 + 1 : c.last % 65535 + 1;
        Frame(next);
        Settle();
        EXPECT_EQ(Take(5000).first, next);
        EXPECT_EQ(Statistic().uGoodFrames - goodBefore, c.taken ? 2u : 1u);
        const int gap = c.taken ? static_cast<int>(qv::gige::BlocksBetween(c.last, c.stray)) : 0;
        EXPECT_EQ(Statistic().iLostFrames - lostBefore, gap);
    }
}

}  // namespace
