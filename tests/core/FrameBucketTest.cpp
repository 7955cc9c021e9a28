#include "frames/FrameBucket.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

int PositionOf(const CFrameBucket& bucket, const CFrameBuffer* frame) {
    for (int i = 0; i < bucket.GetFrameCount(); ++i)
        if (bucket.GetFrameAt(i) == frame) return i;
    return -1;
}

// ---- Scripted producer/consumer sequences ----------------------------------------------------

enum class Op {
    Get,      // producer GetEmptyFrame: expect the ring position, or -1 for a dropped frame
    Full,     // producer PutFullFrame of the buffer at position arg
    Empty,    // producer PutEmptyFrame of the buffer at position arg (a broken frame)
    Take,     // client arg takes without waiting: expect a position, or -1 for a timeout
    Release,  // client arg releases the frame it took last
    Reset,    // bucket and client reset, as at stream close
};

struct Step {
    Op op;
    int arg;
    int expect;
};

struct SequenceCase {
    const char* name;
    int frames;
    std::vector<Step> steps;
};

class FrameBucketSequence : public testing::TestWithParam<SequenceCase> {};

TEST_P(FrameBucketSequence, ChoosesBuffersAndFrames) {
    const SequenceCase& c = GetParam();
    CFrameBucket bucket(c.frames);
    CFrameBucketProducer* producer = bucket.GetProducer();
    CFrameBucketClient* clients[2] = {bucket.CreateBucketClient(), bucket.CreateBucketClient()};
    CFrameBufferShared held[2];
    std::vector<CFrameBufferShared> filling(static_cast<size_t>(std::max(c.frames, 1)));

    for (size_t i = 0; i < c.steps.size(); ++i) {
        const Step& s = c.steps[i];
        SCOPED_TRACE("step " + std::to_string(i));
        switch (s.op) {
            case Op::Get: {
                CFrameBufferShared f = producer->GetEmptyFrame();
                const int pos = f ? PositionOf(bucket, f.get()) : -1;
                ASSERT_EQ(pos, s.expect);
                if (f) {
                    EXPECT_EQ(f->GetState(), CFrameBuffer::kFilling);
                    ASSERT_TRUE(f->Reserve(16, 16));
                    filling[static_cast<size_t>(pos)] = f;
                }
                break;
            }
            case Op::Full:
            case Op::Empty: {
                CFrameBufferShared f = std::move(filling[static_cast<size_t>(s.arg)]);
                ASSERT_TRUE(f) << "no buffer being filled at " << s.arg;
                if (s.op == Op::Full) {
                    f->SetFrameNo(static_cast<int>(i));
                    producer->PutFullFrame(f);
                    EXPECT_EQ(f->GetState(), CFrameBuffer::kFull);
                } else {
                    producer->PutEmptyFrame(f);
                    EXPECT_EQ(f->GetState(), CFrameBuffer::kFree);
                }
                break;
            }
            case Op::Take: {
                CFrameBufferShared f;
                const int rc = clients[s.arg]->GetFullFrame(f, 0);
                if (s.expect < 0) {
                    EXPECT_EQ(rc, CAMERA_STATUS_TIMEOUT);
                    EXPECT_FALSE(f);
                } else {
                    ASSERT_EQ(rc, CAMERA_STATUS_SUCCESS);
                    ASSERT_EQ(PositionOf(bucket, f.get()), s.expect);
                    EXPECT_TRUE(f->HasReaders());
                    held[s.arg] = f;
                }
                break;
            }
            case Op::Release:
                ASSERT_TRUE(held[s.arg]);
                clients[s.arg]->ReleaseFrame(held[s.arg]);
                held[s.arg].reset();
                break;
            case Op::Reset:
                bucket.Reset();
                clients[0]->Reset();
                clients[1]->Reset();
                break;
        }
    }
}

const SequenceCase kSequences[] = {
    {"RingOrderOverwritesOldestFullFrame",
     3,
     {{Op::Get, 0, 0},
      {Op::Full, 0, 0},
      {Op::Get, 0, 1},
      {Op::Full, 1, 0},
      {Op::Get, 0, 2},
      {Op::Full, 2, 0},
      {Op::Get, 0, 0},
      {Op::Full, 0, 0},
      {Op::Get, 0, 1}}},
    {"SkipsBuffersBeingFilled",
     3,
     {{Op::Get, 0, 0},
      {Op::Get, 0, 1},
      {Op::Get, 0, 2},
      {Op::Get, 0, -1},
      {Op::Full, 1, 0},
      {Op::Get, 0, -1},
      {Op::Full, 0, 0},
      {Op::Get, 0, 1}}},
    {"SkipsNewestFullFrame",
     2,
     {{Op::Get, 0, 0},
      {Op::Full, 0, 0},
      {Op::Get, 0, 1},
      {Op::Full, 1, 0},
      {Op::Get, 0, 0},
      {Op::Get, 0, -1}}},
    {"SkipsHeldFrame",
     3,
     {{Op::Get, 0, 0},
      {Op::Full, 0, 0},
      {Op::Take, 0, 0},
      {Op::Get, 0, 1},
      {Op::Full, 1, 0},
      {Op::Get, 0, 2},
      {Op::Full, 2, 0},
      {Op::Get, 0, 1},
      {Op::Full, 1, 0},
      {Op::Get, 0, 2},
      {Op::Full, 2, 0},
      {Op::Release, 0, 0},
      {Op::Get, 0, 0}}},
    {"ConsumerGetsNewestNotOldest",
     4,
     {{Op::Get, 0, 0},
      {Op::Full, 0, 0},
      {Op::Get, 0, 1},
      {Op::Full, 1, 0},
      {Op::Get, 0, 2},
      {Op::Full, 2, 0},
      {Op::Take, 0, 2},
      {Op::Take, 0, -1},
      {Op::Release, 0, 0},
      {Op::Get, 0, 3},
      {Op::Full, 3, 0},
      {Op::Take, 0, 3}}},
    {"TwoBuffersHeldFrameDropsUntilRelease",
     2,
     {{Op::Get, 0, 0},
      {Op::Full, 0, 0},
      {Op::Take, 0, 0},
      {Op::Get, 0, 1},
      {Op::Full, 1, 0},
      {Op::Get, 0, -1},
      {Op::Get, 0, -1},
      {Op::Release, 0, 0},
      {Op::Get, 0, 0}}},
    {"TwoBuffersRecoverAfterBrokenFrame",
     2,
     {{Op::Get, 0, 0},
      {Op::Full, 0, 0},
      {Op::Get, 0, 1},
      {Op::Empty, 1, 0},
      {Op::Get, 0, 1},
      {Op::Full, 1, 0},
      {Op::Take, 0, 1}}},
    {"BrokenFrameBufferIsReusedLast",
     3,
     {{Op::Get, 0, 0},
      {Op::Full, 0, 0},
      {Op::Get, 0, 1},
      {Op::Empty, 1, 0},
      {Op::Get, 0, 2},
      {Op::Full, 2, 0},
      {Op::Get, 0, 0}}},
    {"OneBufferDeliversOneFramePerStream",
     1,
     {{Op::Get, 0, 0},
      {Op::Full, 0, 0},
      {Op::Get, 0, -1},
      {Op::Take, 0, 0},
      {Op::Release, 0, 0},
      {Op::Get, 0, -1},
      {Op::Reset, 0, 0},
      {Op::Get, 0, 0}}},
    {"EmptyPoolDropsEverything", 0, {{Op::Get, 0, -1}, {Op::Get, 0, -1}, {Op::Take, 0, -1}}},
    {"ResetForgetsNewestAndRestartsScan",
     3,
     {{Op::Get, 0, 0},
      {Op::Full, 0, 0},
      {Op::Get, 0, 1},
      {Op::Full, 1, 0},
      {Op::Reset, 0, 0},
      {Op::Take, 0, -1},
      {Op::Get, 0, 0},
      {Op::Full, 0, 0},
      {Op::Take, 0, 0}}},
    // A consumer that took a frame, then let the ring go round once (a burst of triggers, say),
    // gets the frame that landed in the buffer it took last: a new frame, not the one it saw.
    {"FrameInTheBufferTakenLastAfterTheRingWraps",
     3,
     {{Op::Get, 0, 0},
      {Op::Full, 0, 0},
      {Op::Take, 0, 0},
      {Op::Release, 0, 0},
      {Op::Get, 0, 1},
      {Op::Full, 1, 0},
      {Op::Get, 0, 2},
      {Op::Full, 2, 0},
      {Op::Get, 0, 0},
      {Op::Full, 0, 0},
      {Op::Take, 0, 0},
      {Op::Take, 0, -1}}},
    {"TwoClientsShareNewestFrame",
     3,
     {{Op::Get, 0, 0},
      {Op::Full, 0, 0},
      {Op::Take, 0, 0},
      {Op::Take, 1, 0},
      {Op::Release, 0, 0},
      {Op::Get, 0, 1},
      {Op::Full, 1, 0},
      {Op::Get, 0, 2},
      {Op::Full, 2, 0},
      {Op::Get, 0, 1},
      {Op::Full, 1, 0},
      {Op::Release, 1, 0},
      {Op::Get, 0, 2}}},
};

INSTANTIATE_TEST_SUITE_P(Sequences, FrameBucketSequence, testing::ValuesIn(kSequences),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Waiting, status and statistics ------------------------------------------------------

class FrameBucketTest : public testing::Test {
  protected:
    // Puts one complete frame whose first byte is value.
    CFrameBufferShared Produce(uint8_t value) {
        CFrameBufferShared f = bucket.GetProducer()->GetEmptyFrame();
        if (!f) return f;
        EXPECT_TRUE(f->Reserve(64, 64));
        f->GetBuffer()[0] = value;
        f->SetFilledSize(64);
        bucket.GetProducer()->PutFullFrame(f);
        return f;
    }

    CFrameBucket bucket{6};
    CFrameBucketClient* client = bucket.CreateBucketClient();
};

TEST_F(FrameBucketTest, TimesOutAfterTheTimeoutWithoutAFrame) {
    CFrameBufferShared f;
    const auto start = Clock::now();
    EXPECT_EQ(client->GetFullFrame(f, 50), CAMERA_STATUS_TIMEOUT);
    EXPECT_GE(Clock::now() - start, 50ms);
    EXPECT_FALSE(f);
}

TEST_F(FrameBucketTest, ZeroOrNegativeTimeoutReturnsAtOnce) {
    CFrameBufferShared f;
    EXPECT_EQ(client->GetFullFrame(f, 0), CAMERA_STATUS_TIMEOUT);
    EXPECT_EQ(client->GetFullFrame(f, -5), CAMERA_STATUS_TIMEOUT);
}

TEST_F(FrameBucketTest, SecondTakeWithoutNewFrameTimesOut) {
    Produce(1);
    CFrameBufferShared f;
    ASSERT_EQ(client->GetFullFrame(f, 10), 0);
    client->ReleaseFrame(f);
    EXPECT_EQ(client->GetFullFrame(f, 10), CAMERA_STATUS_TIMEOUT);
}

TEST_F(FrameBucketTest, WaitingConsumerWakesForNewFrame) {
    CFrameBufferShared f;
    std::thread producer([this] {
        std::this_thread::sleep_for(20ms);
        Produce(42);
    });
    EXPECT_EQ(client->GetFullFrame(f, 5000), CAMERA_STATUS_SUCCESS);
    producer.join();
    ASSERT_TRUE(f);
    EXPECT_EQ(f->GetData()[0], 42);
}

// A wake-up that brings no unseen frame (here: the frame taken last comes back as newest after
// a pool reset) must not end the wait early.
TEST_F(FrameBucketTest, WaitEndsWithTheFrameThatLandsInTheBufferTakenLast) {
    CFrameBufferShared f;
    Produce(1);
    ASSERT_EQ(client->GetFullFrame(f, 0), 0);
    const CFrameBuffer* first = f.get();
    client->ReleaseFrame(f);
    bucket.Reset();  // the pool's scan starts over at the buffer the client took last

    std::atomic<int> result{1};
    CFrameBufferShared got;
    std::thread consumer([&] { result = client->GetFullFrame(got, 20000); });
    ASSERT_EQ(Produce(2).get(), first);
    consumer.join();
    EXPECT_EQ(result.load(), CAMERA_STATUS_SUCCESS);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->GetData()[0], 2);
}

TEST_F(FrameBucketTest, PostedStatusIsReturnedAtOnceUntilCleared) {
    Produce(1);
    bucket.GetProducer()->SetStatus(CAMERA_STATUS_DEVICE_LOST);
    CFrameBufferShared f;
    const auto start = Clock::now();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(client->GetFullFrame(f, 10000), CAMERA_STATUS_DEVICE_LOST);
    EXPECT_LT(Clock::now() - start, 5s);
    EXPECT_FALSE(f);
    bucket.GetProducer()->SetStatus(0);
    EXPECT_EQ(client->GetFullFrame(f, 0), CAMERA_STATUS_SUCCESS);
}

TEST_F(FrameBucketTest, FrameIsFreeOnlyAfterEveryReaderReleased) {
    CFrameBucketClient* other = bucket.CreateBucketClient();
    Produce(7);
    CFrameBufferShared a, b;
    ASSERT_EQ(client->GetFullFrame(a, 0), 0);
    ASSERT_EQ(other->GetFullFrame(b, 0), 0);
    ASSERT_EQ(a.get(), b.get());
    client->ReleaseFrame(a);
    EXPECT_TRUE(b->HasReaders());
    EXPECT_EQ(b->GetState(), CFrameBuffer::kFull);
    other->ReleaseFrame(b);
    EXPECT_FALSE(b->HasReaders());
    EXPECT_EQ(b->GetState(), CFrameBuffer::kFree);
    // Extra releases of a handle must not drive the count below zero, or the next reader of
    // that buffer would not protect it from the producer.
    client->ReleaseFrame(a);
    client->ReleaseFrame(a);
    CFrameBufferShared c;
    for (int i = 0; i < 6 && c.get() != a.get(); ++i) {
        Produce(static_cast<uint8_t>(i));
        ASSERT_EQ(client->GetFullFrame(c, 0), 0);
        if (c.get() != a.get()) client->ReleaseFrame(c);
    }
    ASSERT_EQ(c.get(), a.get());
    EXPECT_TRUE(c->HasReaders());
    client->ReleaseFrame(c);
    bucket.DestroyBucketClient(other);
}

TEST_F(FrameBucketTest, StatisticsCountGoodAndLostFrames) {
    Produce(1);
    Produce(2);
    bucket.GetProducer()->AddLostFrames(3);
    tSdkFrameStatistic stat{};
    EXPECT_EQ(bucket.GetStatistic(&stat), 0);
    EXPECT_EQ(stat.uTotalFrames, 5u);
    EXPECT_EQ(stat.uGoodFrames, 2u);
    EXPECT_EQ(stat.iLostFrames, 3);
}

TEST(FrameBucket, FrameCountIsClampedBelow32) {
    CFrameBucket big(40);
    EXPECT_EQ(big.GetFrameCount(), CFrameBucket::kMaxFrames);
    CFrameBucket none(-3);
    EXPECT_EQ(none.GetFrameCount(), 0);
}

TEST(FrameBuffer, ReserveGrowsOnlyAndResetsFill) {
    CFrameBuffer b;
    ASSERT_TRUE(b.Reserve(100, 128));
    uint32_t cap = 0, expected = 0;
    uint8_t* first = b.GetBuffer(&cap, &expected);
    EXPECT_EQ(cap, 128u);
    EXPECT_EQ(expected, 100u);
    b.SetFilledSize(100);
    EXPECT_TRUE(b.IsComplete());
    ASSERT_TRUE(b.Reserve(50, 64));
    EXPECT_EQ(b.GetBuffer(&cap), first);
    EXPECT_EQ(cap, 128u);
    EXPECT_FALSE(b.IsComplete());
    b.SetDataOffset(16);
    int room = 0;
    EXPECT_EQ(b.GetData(&room), first + 16);
    EXPECT_EQ(room, 112);
}

// A buffer handed out by the pool expects nothing, fresh or after a complete frame: it is not
// complete before the producer reserves a frame in it.
TEST(FrameBuffer, HandedOutEmptyAndIncomplete) {
    CFrameBucket bucket(1);
    CFrameBufferShared f = bucket.GetProducer()->GetEmptyFrame();
    ASSERT_NE(f, nullptr);
    EXPECT_FALSE(f->IsComplete());
    ASSERT_TRUE(f->Reserve(10, 16));
    f->SetFilledSize(10);
    ASSERT_TRUE(f->IsComplete());
    bucket.GetProducer()->PutEmptyFrame(f);
    f = bucket.GetProducer()->GetEmptyFrame();
    ASSERT_NE(f, nullptr);
    uint32_t expected = 1;
    f->GetBuffer(nullptr, &expected);
    EXPECT_EQ(expected, 0u);
    EXPECT_EQ(f->GetFilledSize(), 0u);
    EXPECT_FALSE(f->IsComplete());
}

// ---- Stress: producer, two consumers and stream resets at once (run under TSan in CI) ----

TEST(FrameBucketStress, ConcurrentProducerConsumersAndResets) {
    constexpr size_t kSize = 4096;
    CFrameBucket bucket(4);
    CFrameBucketProducer* producer = bucket.GetProducer();
    std::atomic<bool> stop{false};
    std::atomic<int> corrupt{0};
    std::atomic<int> delivered{0};

    std::thread prod([&] {
        for (uint32_t n = 1; !stop; ++n) {
            CFrameBufferShared f = producer->GetEmptyFrame();
            if (!f) {
                producer->AddLostFrames(1);
                std::this_thread::yield();
                continue;
            }
            f->Reserve(kSize, kSize);
            std::memset(f->GetBuffer(), static_cast<int>(n & 0xFF), kSize);
            f->SetFrameNo(static_cast<int>(n));
            f->SetFilledSize(kSize);
            if (n % 13 == 0)
                producer->PutEmptyFrame(f);
            else
                producer->PutFullFrame(f);
        }
    });
    auto consume = [&] {
        CFrameBucketClient* client = bucket.CreateBucketClient();
        while (!stop) {
            CFrameBufferShared f;
            if (client->GetFullFrame(f, 20) != 0) continue;
            // The producer must never write into a frame that a consumer holds.
            const uint8_t* data = f->GetData();
            const uint8_t expected = static_cast<uint8_t>(f->GetFrameNo() & 0xFF);
            for (size_t i = 0; i < kSize; i += 97)
                if (data[i] != expected) ++corrupt;
            ++delivered;
            client->ReleaseFrame(f);
        }
        bucket.DestroyBucketClient(client);
    };
    std::thread c1(consume), c2(consume);
    std::thread resetter([&] {
        while (!stop) {
            std::this_thread::sleep_for(5ms);
            bucket.Reset();
        }
    });
    // Half a second of traffic, and on until the consumers have checked a few hundred frames:
    // a busy machine may give them few turns.
    std::this_thread::sleep_for(500ms);
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (delivered.load() < 200 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(10ms);
    stop = true;
    prod.join();
    c1.join();
    c2.join();
    resetter.join();
    EXPECT_EQ(corrupt.load(), 0);
    EXPECT_GE(delivered.load(), 200);
}

}  // namespace
