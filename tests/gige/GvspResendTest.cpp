// Resend bookkeeping of one frame, stepped on a clock of the test's own: the request states of
// a missing packet over its tries, no retries, no support, the budget, ranges of missing ids,
// the tail, a lost leader, and tables that must grow or stay bounded.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "GvspTestRig.h"
#include "frames/FrameBucket.h"
#include "gige/GVSPFrame.h"

namespace {

using namespace gvsptest;
using Request = CCameraDouble::Request;
using Requests = std::vector<Request>;

constexpr int64_t kMs = 1000000;
constexpr uint32_t kBlock = 42;
constexpr uint32_t kPayload = 8;  // 64 bytes: data 1..8, trailer 9, N = 10

class GvspResend : public ::testing::Test {
  protected:
    void SetUp() override { Start(kBlock, 0); }
    void Start(uint32_t block, int64_t t) {
        if (frame.Buffer() != nullptr) bucket.GetProducer()->PutEmptyFrame(frame.Detach());
        frame.Reset(block, t);
        frame.Attach(bucket.GetProducer()->GetEmptyFrame());
        camera.ClearRequests();
    }
    void Leader(int64_t t, uint32_t block = kBlock) {
        ASSERT_EQ(frame.FillByLeaderPacket(Packet(gvsptest::Leader(block)), t),
                  CGVSPFrame::Fill::kTaken);
    }
    void Data(std::initializer_list<uint32_t> ids, int64_t t, uint32_t block = kBlock) {
        const uint32_t last = frame.ExpectedPackets() != 0 ? frame.ExpectedPackets() - 1 : 9;
        for (uint32_t id : ids) {
            if (id == last)
                frame.FillByTrailerPacket(Packet(Trailer(block, id)), t);
            else
                frame.FillByPayloadPacket(
                    Packet(gvsptest::Data(block, id, (id - 1) * kPayload, kPayload)), t);
        }
    }
    Requests Ask(int64_t t, int percent = 0, int timeout = 30, int retries = 3) {
        camera.ClearRequests();
        frame.RequestResend(percent, timeout, retries, t);
        return camera.Requests();
    }

    CCameraDouble camera;
    CFrameBucket bucket{2};
    CGVSPFrame frame{&camera, kPayload};
};

TEST_F(GvspResend, AMissingPacketOverItsTries) {
    Leader(0);
    Data({1, 2, 4, 5, 6, 7, 8, 9}, 0);
    EXPECT_EQ(Ask(0), (Requests{{kBlock, 3, 3}}));
    EXPECT_EQ(frame.State(3).state, 100);
    EXPECT_EQ(Ask(10 * kMs), Requests{});  // asked less than 30 ms ago
    EXPECT_EQ(Ask(30 * kMs), (Requests{{kBlock, 3, 3}}));
    EXPECT_EQ(frame.State(3).state, 101);
    EXPECT_EQ(Ask(60 * kMs), (Requests{{kBlock, 3, 3}}));
    EXPECT_EQ(frame.State(3).state, 102);
    EXPECT_EQ(Ask(70 * kMs), Requests{});
    EXPECT_EQ(Ask(90 * kMs), Requests{});  // given up at the first scan 30 ms after the third
    EXPECT_EQ(frame.State(3).state, CGVSPFrame::kGivenUp);
    EXPECT_NE(frame.Flags() & CGVSPFrame::kFlagResendGivenUp, 0u);
    EXPECT_EQ(Ask(500 * kMs), Requests{});
    EXPECT_FALSE(frame.IsComplete());
    EXPECT_EQ(frame.RequestedPackets(), 3u);
}

TEST_F(GvspResend, NoRetriesOrNoSupportAsksNothing) {
    Leader(0);
    Data({1, 2, 4}, 0);
    EXPECT_EQ(Ask(100 * kMs, 0, 30, 0), Requests{});
    camera.SetResendSupported(false);
    EXPECT_EQ(Ask(100 * kMs), Requests{});
    EXPECT_EQ(frame.RequestedPackets(), 0u);
}

TEST_F(GvspResend, TwoRangesBelowTheHighestId) {
    Leader(0);
    Data({1, 2, 5, 6, 8, 9}, 0);  // 3, 4 and 7 missing below H = 9
    EXPECT_EQ(Ask(0), (Requests{{kBlock, 3, 4}, {kBlock, 7, 7}}));
    EXPECT_EQ(frame.RequestedPackets(), 3u);
    // A request that did not go out is not recorded: the range is asked for again at once.
    camera.SetSendResult(-14);
    Data({3}, 40 * kMs);
    EXPECT_EQ(Ask(40 * kMs), (Requests{{kBlock, 4, 4}, {kBlock, 7, 7}}));
    EXPECT_EQ(frame.State(4).state, 100);
    EXPECT_EQ(Ask(41 * kMs), (Requests{{kBlock, 4, 4}, {kBlock, 7, 7}}));
}

TEST_F(GvspResend, TheTailOnlyAfterTheTimeoutAndOnlyUpToTheTrailer) {
    // A frame before with more packets leaves a larger table behind.
    bucket.GetProducer()->PutEmptyFrame(frame.Detach());
    camera.SetInfo({160, 4, 640, 0x01080000, 0, 0, 0, {}});
    frame.Reset(7, 0);
    frame.Attach(bucket.GetProducer()->GetEmptyFrame());
    ASSERT_EQ(frame.FillByLeaderPacket(Packet(gvsptest::Leader(7, 1, 160, 4)), 0),
              CGVSPFrame::Fill::kTaken);
    EXPECT_EQ(frame.TableEntries(), 82u);
    camera.SetInfo(SmallImage());
    Start(kBlock, 0);
    Leader(0);
    Data({1, 2, 3, 4, 5}, 0);
    EXPECT_EQ(Ask(10 * kMs), Requests{});
    EXPECT_EQ(Ask(30 * kMs), Requests{});  // not more than 30 ms yet
    EXPECT_EQ(Ask(31 * kMs), (Requests{{kBlock, 6, 9}}));
    EXPECT_EQ(Ask(40 * kMs), Requests{});  // the tail waits another 30 ms
    EXPECT_EQ(Ask(62 * kMs), (Requests{{kBlock, 6, 9}}));
}

TEST_F(GvspResend, ALostLeader) {
    Data({5, 6, 7, 8}, 0);
    frame.FillByTrailerPacket(Packet(Trailer(kBlock, 9)), 0);
    EXPECT_EQ(frame.PendingPackets(), 5u);
    EXPECT_EQ(Ask(0), (Requests{{kBlock, 0, 4}}));
    EXPECT_EQ(Ask(10 * kMs), Requests{});
    EXPECT_EQ(Ask(30 * kMs), (Requests{{kBlock, 0, 4}}));
    EXPECT_EQ(Ask(60 * kMs), (Requests{{kBlock, 0, 4}}));
    EXPECT_EQ(Ask(90 * kMs), Requests{});  // asked three times
    // The leader comes after all: the pending packets complete the frame.
    Leader(100 * kMs);
    Data({1, 2, 3, 4}, 100 * kMs);
    EXPECT_TRUE(frame.IsComplete());
    EXPECT_EQ(frame.State(0).state, CGVSPFrame::kReceived);
}

TEST_F(GvspResend, PendingIdsBeyondTheFirstTable) {
    // The earliest packet before the leader lies beyond 1024: the table grows to it.
    camera.SetInfo({8000, 8, 64000, 0x01080000, 0, 0, 0, {}});  // N = 8002
    Start(kBlock, 0);
    frame.FillByPayloadPacket(Packet(gvsptest::Data(kBlock, 5000, 0, kPayload)), 0);
    EXPECT_EQ(Ask(0), (Requests{{kBlock, 0, 4999}}));
    EXPECT_GE(frame.TableEntries(), 5000u);
    EXPECT_EQ(frame.State(4999).state, 100);
    // Beyond what the image can need: not kept, nothing asked for.
    Start(kBlock + 1, 0);
    frame.FillByPayloadPacket(Packet(gvsptest::Data(kBlock + 1, 0x7FFFFF, 0, kPayload)), 0);
    EXPECT_EQ(frame.PendingPackets(), 0u);
    EXPECT_EQ(Ask(0), Requests{});
    // A data packet with id 0 is not kept.
    Start(kBlock + 2, 0);
    EXPECT_EQ(frame.FillByPayloadPacket(Packet(gvsptest::Data(kBlock + 2, 0, 0, kPayload)), 0),
              CGVSPFrame::Fill::kIgnored);
    EXPECT_EQ(frame.PendingPackets(), 0u);
    EXPECT_EQ(Ask(0), Requests{});
}

// P = 50, R = 3, N = 100: the requests stop once more than 150 ids have been asked for.
TEST_F(GvspResend, TheBudget) {
    camera.SetInfo({98 * kPayload, 1, 98 * kPayload, 0x01080000, 0, 0, 0, {}});
    Start(kBlock, 0);
    ASSERT_EQ(frame.FillByLeaderPacket(Packet(gvsptest::Leader(kBlock, 1, 98 * kPayload, 1)), 0),
              CGVSPFrame::Fill::kTaken);
    ASSERT_EQ(frame.ExpectedPackets(), 100u);
    std::vector<uint32_t> present;
    for (uint32_t id = 56; id < 100; ++id) present.push_back(id);
    for (uint32_t id : present)
        id == 99 ? (void)frame.FillByTrailerPacket(Packet(Trailer(kBlock, id)), 0)
                 : (void)frame.FillByPayloadPacket(
                       Packet(gvsptest::Data(kBlock, id, (id - 1) * kPayload, kPayload)), 0);
    // 1..55 missing: 55 ids per request.
    EXPECT_EQ(Ask(0, 50), (Requests{{kBlock, 1, 55}}));
    EXPECT_EQ(Ask(30 * kMs, 50), (Requests{{kBlock, 1, 55}}));
    EXPECT_EQ(Ask(60 * kMs, 50), (Requests{{kBlock, 1, 55}}));
    EXPECT_EQ(frame.RequestedPackets(), 165u);
    EXPECT_EQ(Ask(90 * kMs, 50), Requests{});
    EXPECT_EQ(frame.State(1).state, 102);  // stopped by the budget, not given up
    EXPECT_EQ(frame.Flags() & CGVSPFrame::kFlagResendGivenUp, 0u);
}

TEST_F(GvspResend, AnErrorAnswerGivesUpOnlyAPacketAskedFor) {
    Leader(0);
    Data({1, 2, 4, 5, 6, 7, 8, 9}, 0);
    EXPECT_FALSE(frame.GiveUpRequestedPacket(3));  // not asked for yet
    Ask(0);
    EXPECT_TRUE(frame.GiveUpRequestedPacket(3));
    EXPECT_EQ(frame.State(3).state, CGVSPFrame::kGivenUp);
    EXPECT_FALSE(frame.GiveUpRequestedPacket(1000000));
    EXPECT_EQ(Ask(100 * kMs), Requests{});
}

// Packets before their leader are kept only as far as the camera's image can use them: ids 1
// to N - 1, and no more copies than that.
TEST_F(GvspResend, PacketsBeforeTheLeaderBoundedByTheImage) {
    for (uint32_t id = 10; id < 40; ++id)  // beyond the trailer's id 9
        frame.FillByPayloadPacket(Packet(gvsptest::Data(kBlock, id, 0, kPayload)), 0);
    EXPECT_EQ(frame.PendingPackets(), 0u);
    EXPECT_EQ(Ask(0), Requests{});
    for (int copy = 0; copy < 30; ++copy) Data({5}, 0);  // a packet resent over and over
    EXPECT_EQ(frame.PendingPackets(), 9u);
    Leader(0);
    EXPECT_EQ(frame.PendingPackets(), 0u);
    Data({1, 2, 3, 4, 6, 7, 8, 9}, 0);
    EXPECT_TRUE(frame.IsComplete());
}

// An image of more packets than a table of 2^17 entries: the table is sized from the image and
// every packet lands in it.
TEST_F(GvspResend, TheTableIsSizedFromTheImage) {
    constexpr uint32_t kDataPackets = 140000;
    constexpr uint32_t kWidth = kDataPackets * kPayload;
    camera.SetInfo({kWidth, 1, kWidth, 0x01080000, 0, 0, 0, {}});
    Start(kBlock, 0);
    ASSERT_EQ(frame.FillByLeaderPacket(Packet(gvsptest::Leader(kBlock, 1, kWidth, 1)), 0),
              CGVSPFrame::Fill::kTaken);
    ASSERT_EQ(frame.ExpectedPackets(), kDataPackets + 2);
    ASSERT_GE(frame.TableEntries(), kDataPackets + 2);
    for (uint32_t id = kDataPackets; id >= 1; --id)
        frame.FillByPayloadPacket(Packet(gvsptest::Data(kBlock, id, (id - 1) * kPayload, kPayload)),
                                  0);
    frame.FillByTrailerPacket(Packet(Trailer(kBlock, kDataPackets + 1)), 0);
    EXPECT_TRUE(frame.IsComplete());
    EXPECT_EQ(frame.State(kDataPackets + 1).state, CGVSPFrame::kReceived);
    EXPECT_EQ(frame.ReceivedPackets(), kDataPackets + 2);
}

}  // namespace
