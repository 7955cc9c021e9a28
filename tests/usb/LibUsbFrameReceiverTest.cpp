// The USB frame receiver on the real libusb, with simulated cameras behind umockdev and the
// factory's event thread: frames with and without the 16-byte header, chunks of at most 5 MiB,
// short, empty, stalled and refused transfers, a pool without a free buffer, stop and start
// with a transfer in flight, the pool size, and the frame description. The executable runs
// itself under the umockdev preload (UmockdevPreload.cpp).
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "device/CameraInitParam.h"
#include "frames/FrameBucket.h"
#include "LogCapture.h"
#include "UsbTestRig.h"
#include "UsbTestbedFixture.h"
#include "usb/LibUsbCameraFactory.h"
#include "usb/LibUsbFrameReceiver.h"

namespace {

using namespace std::chrono_literals;
using usbtest::TestCamera;

constexpr uint32_t kHeader = 16;

class FrameReceiverTest : public usbtest::TestbedTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(TestbedTest::SetUp());
        m_factory = std::make_unique<CLibUsbCameraFactory>();
        ASSERT_TRUE(m_factory->IsInitialised());
    }

    void TearDown() override {
        for (auto& camera : m_cameras) {
            camera->StopCapture();
            camera->CloseStream();
        }
        m_cameras.clear();
        m_factory.reset();
        RemoveDevices();
    }

    // A camera at 1:address with frames of imageBytes behind a header (or none), opened, with a
    // fake driver describing them, and its stream open on bucket.
    std::shared_ptr<TestCamera> OpenStream(int address, uint32_t imageBytes, bool header,
                                           CFrameBucket& bucket, double fps = 0,
                                           int frameCount = 0) {
        usbtest::Identity id;
        id.modelCode = header ? usbtest::kModelWithHeader : usbtest::kModelWithoutHeader;
        m_model = usbtest::MakeStoredCamera(
            id, SimFrameFormat{.imageBytes = imageBytes, .header = header, .fps = fps});
        m_device = &Plug(m_model, {.port = {1, address}});
        auto camera = usbtest::MakeTestCamera(1, address);
        if (!camera || camera->Open(nullptr) != 0) return nullptr;
        m_sensor = camera->AdoptFakeSensor(imageBytes);
        CameraInitParam param{};
        param.frameCount = frameCount;
        if (camera->OpenStream(bucket.GetProducer(), &param) != 0) return nullptr;
        m_cameras.push_back(camera);
        return camera;
    }

    // Camera stream start, then the receiver.
    static void Play(TestCamera& camera) {
        ASSERT_EQ(camera.StartStream(), 0);
        ASSERT_EQ(camera.StartCapture(), 0);
    }

    static int Lost(const CFrameBucket& bucket) {
        tSdkFrameStatistic s{};
        bucket.GetStatistic(&s);
        return s.iLostFrames;
    }

    // Whether the image of frame number frameNo lies at data, checked at the given offsets.
    static ::testing::AssertionResult ImageIs(const uint8_t* data, uint32_t frameNo,
                                              const std::vector<uint32_t>& offsets) {
        for (uint32_t o : offsets) {
            const uint8_t want = CSimFrameGenerator::RampByte(frameNo, o);
            if (data[o] != want)
                return ::testing::AssertionFailure()
                       << "byte " << o << " of frame " << frameNo << " is " << int(data[o])
                       << ", not " << int(want);
        }
        return ::testing::AssertionSuccess();
    }

    // Whether data holds one whole image of some frame from its first byte: the pattern's bytes
    // keep their distance from the first one whatever the frame's number.
    static ::testing::AssertionResult ImageIsWhole(const uint8_t* data,
                                                   const std::vector<uint32_t>& offsets) {
        for (uint32_t o : offsets) {
            const auto want = static_cast<uint8_t>(data[0] + CSimFrameGenerator::RampByte(0, o));
            if (data[o] != want)
                return ::testing::AssertionFailure()
                       << "byte " << o << " is " << int(data[o]) << ", not " << int(want);
        }
        return ::testing::AssertionSuccess();
    }

    // A pool that outlives the streams of the test (they are closed in TearDown).
    CFrameBucket& NewBucket(int frames) {
        m_buckets.push_back(std::make_unique<CFrameBucket>(frames));
        return *m_buckets.back();
    }

    std::vector<std::unique_ptr<CFrameBucket>> m_buckets;
    std::unique_ptr<CLibUsbCameraFactory> m_factory;
    std::vector<std::shared_ptr<TestCamera>> m_cameras;
    std::shared_ptr<CSimUsbCamera> m_model;
    CSimUsbDevice* m_device = nullptr;
    qvsim::CFakeSensor* m_sensor = nullptr;
};

// The next frame not taken yet, within timeoutMs; null when none came.
CFrameBufferShared TakeFrame(CFrameBucketClient* client, int timeoutMs = 5000) {
    CFrameBufferShared frame;
    if (client->GetFullFrame(frame, timeoutMs) != 0) return nullptr;
    return frame;
}

TEST_F(FrameReceiverTest, HeaderGivesTheCamerasNumberTimestampAndDataOffset) {
    CFrameBucket& bucket = NewBucket(4);
    CFrameBucketClient* client = bucket.CreateBucketClient();
    auto camera = OpenStream(2, 4096, true, bucket, 100);
    ASSERT_TRUE(camera);
    m_sensor->imageInfo.ExpTime = 1500;
    m_sensor->imageInfo.Gain = 1250;
    ASSERT_EQ(camera->SetAnalogGain(1250), 0);  // the description follows the driver's change
    Play(*camera);

    uint32_t lastNo = 0;
    uint64_t lastStamp = 0;
    for (int i = 0; i < 4; ++i) {
        CFrameBufferShared frame = TakeFrame(client);
        ASSERT_TRUE(frame);
        const uint32_t no = frame->GetFrameNo();
        if (i > 0) {
            EXPECT_GT(no, lastNo);
            // 100 frames/s: the camera stamps them about 10 000 us apart.
            EXPECT_GE(frame->GetTimestamp() - lastStamp, (no - lastNo) * 9000ull);
        }
        lastNo = no;
        lastStamp = frame->GetTimestamp();
        int room = 0;
        const uint8_t* data = frame->GetData(&room);
        EXPECT_EQ(data, frame->GetBuffer() + kHeader);
        EXPECT_TRUE(ImageIs(data, no, {0, 1, 255, 256, 4095}));
        EXPECT_EQ(frame->GetFilledSize(), 4096 + kHeader);
        stImageInfo info{};
        frame->GetImageInfo(&info);
        EXPECT_EQ(info.TotalBytes, 4096u);
        EXPECT_EQ(info.uiMediaType, 0x01080000u);
        EXPECT_EQ(info.ExpTime, 1500);
        EXPECT_EQ(info.Gain, 1250u);
        client->ReleaseFrame(frame);
    }
    EXPECT_EQ(Lost(bucket), 0);
}

TEST_F(FrameReceiverTest, WithoutHeaderFramesAreCountedFromStart) {
    CFrameBucket& bucket = NewBucket(4);
    CFrameBucketClient* client = bucket.CreateBucketClient();
    auto camera = OpenStream(3, 2048, false, bucket);
    ASSERT_TRUE(camera);
    // The camera sends the next frame only once the last one was taken.
    m_model->GateFrames(true);
    for (int run = 0; run < 2; ++run) {
        const uint64_t before = std::chrono::duration_cast<std::chrono::microseconds>(
                                    std::chrono::steady_clock::now().time_since_epoch())
                                    .count();
        // The read in flight at the last stop stays in flight and gives back, unfilled, the
        // first frame the camera sends: let it have one before the count starts again.
        if (camera->Receiver()->TransferInFlight()) {
            ASSERT_EQ(camera->StartStream(), 0);
            m_model->AllowFrames(1);
            m_device->Wake();
            ASSERT_TRUE(
                usbtest::WaitUntil([&] { return !camera->Receiver()->TransferInFlight(); }));
        }
        Play(*camera);
        for (uint32_t want = 1; want <= 3; ++want) {
            m_model->AllowFrames(1);
            m_device->Wake();
            CFrameBufferShared frame = TakeFrame(client);
            ASSERT_TRUE(frame);
            EXPECT_EQ(frame->GetFrameNo(), want) << "run " << run;
            EXPECT_GE(frame->GetTimestamp(), before);  // the host's steady clock
            EXPECT_EQ(frame->GetData(), frame->GetBuffer());
            EXPECT_TRUE(ImageIsWhole(frame->GetData(), {1, 255, 256, 2047}));
            client->ReleaseFrame(frame);
        }
        ASSERT_EQ(camera->StopCapture(), 0);
        ASSERT_EQ(camera->StopStream(), 0);
    }
}

// Bulk transfers ask for at most 5 MiB: the chunks of one frame, by its size on the wire.
TEST_F(FrameReceiverTest, FramesAreReadInChunksOfAtMostFiveMiB) {
    constexpr uint32_t k5MiB = 0x500000;
    struct Row {
        uint32_t wireBytes;
        std::vector<uint32_t> chunks;
    };
    const Row rows[] = {
        {0x4FFFFF, {0x4FFFFF}},
        {0x500000, {0x500000}},
        {0x500001, {k5MiB, 1}},
        {3 * k5MiB + 7, {k5MiB, k5MiB, k5MiB, 7}},
    };
    int address = 4;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.wireBytes);
        CFrameBucket& bucket = NewBucket(2);
        CFrameBucketClient* client = bucket.CreateBucketClient();
        const uint32_t image = r.wireBytes - kHeader;
        auto camera = OpenStream(address++, image, true, bucket, 10);
        ASSERT_TRUE(camera);
        Play(*camera);
        CFrameBufferShared frame = TakeFrame(client, 10000);
        ASSERT_TRUE(frame);
        ASSERT_EQ(camera->StopCapture(), 0);
        // Across every chunk boundary, to the last byte.
        std::vector<uint32_t> offsets = {0, image - 1};
        for (uint32_t b = k5MiB - kHeader; b < image; b += k5MiB) {
            offsets.push_back(b - 1);
            offsets.push_back(b);
        }
        EXPECT_TRUE(ImageIs(frame->GetData(), frame->GetFrameNo(), offsets));
        EXPECT_EQ(frame->GetFilledSize(), r.wireBytes);
        const std::vector<uint32_t> lengths = m_device->BulkSubmitLengths();
        ASSERT_GE(lengths.size(), r.chunks.size());
        EXPECT_EQ(std::vector<uint32_t>(lengths.begin(), lengths.begin() + r.chunks.size()),
                  r.chunks);
        client->ReleaseFrame(frame);
        camera->CloseStream();
    }
}

// The camera ends a frame early (its FIFO lost data): the read comes back short, the frame is
// counted lost and never reaches the pool, and the next frame lands whole. One transfer short
// of a one-chunk frame, and the second chunk of a two-chunk frame.
TEST_F(FrameReceiverTest, ShortChunkDropsTheFrameAndTheNextLandsWhole) {
    struct Row {
        uint32_t image;
        uint32_t cut;
    };
    const Row rows[] = {{64 * 1024, 100}, {0x500000 + 0x1000, 0x800}};
    int address = 10;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.image);
        CFrameBucket& bucket = NewBucket(3);
        CFrameBucketClient* client = bucket.CreateBucketClient();
        auto camera = OpenStream(address++, r.image, true, bucket);
        ASSERT_TRUE(camera);
        const uint64_t cutNo = m_model->NextFrameNumber();
        m_model->CutNextFrame(r.cut);
        m_model->GateFrames(true);
        Play(*camera);
        // The broken frame and the whole one after it, and no third to overtake it.
        m_model->AllowFrames(2);
        m_device->Wake();
        CFrameBufferShared frame = TakeFrame(client, 10000);
        ASSERT_TRUE(frame);
        EXPECT_EQ(frame->GetFrameNo(), cutNo + 1);
        EXPECT_TRUE(ImageIs(frame->GetData(), frame->GetFrameNo(), {0, r.image / 2, r.image - 1}));
        EXPECT_EQ(Lost(bucket), 1);
        client->ReleaseFrame(frame);
        ASSERT_EQ(camera->StopCapture(), 0);
        camera->CloseStream();
    }
}

// A read that ends with no data and one the camera stalls drop nothing that was read, so they
// count no lost frame; reading goes on.
TEST_F(FrameReceiverTest, EmptyAndStalledReadsCountNothing) {
    CFrameBucket& bucket = NewBucket(3);
    CFrameBucketClient* client = bucket.CreateBucketClient();
    auto camera = OpenStream(12, 8192, true, bucket, 50);
    ASSERT_TRUE(camera);
    Play(*camera);
    ASSERT_TRUE(TakeFrame(client));
    m_model->ZeroLengthBulkOnce();
    m_device->Wake();
    const uint64_t after = m_model->NextFrameNumber();
    CFrameBufferShared frame;
    ASSERT_TRUE(usbtest::WaitUntil([&] {
        frame = TakeFrame(client, 100);
        return frame && frame->GetFrameNo() >= after;
    }));
    m_model->StallBulkOnce();
    m_device->Wake();
    const uint64_t afterStall = m_model->NextFrameNumber();
    ASSERT_TRUE(usbtest::WaitUntil([&] {
        frame = TakeFrame(client, 100);
        return frame && frame->GetFrameNo() >= afterStall;
    }));
    EXPECT_TRUE(ImageIs(frame->GetData(), frame->GetFrameNo(), {0, 8191}));
    EXPECT_EQ(Lost(bucket), 0);
}

// The host holds every pool buffer: frames go on being read (and counted lost) so the stream
// never stops, and the first buffer given back is filled again.
TEST_F(FrameReceiverTest, FullPoolDropsFramesButKeepsReading) {
    CFrameBucket& bucket = NewBucket(2);
    CFrameBucketClient* first = bucket.CreateBucketClient();
    CFrameBucketClient* second = bucket.CreateBucketClient();
    auto camera = OpenStream(13, 16384, true, bucket, 100);
    ASSERT_TRUE(camera);
    Play(*camera);
    CFrameBufferShared a = TakeFrame(first);
    ASSERT_TRUE(a);
    CFrameBufferShared b;
    ASSERT_TRUE(usbtest::WaitUntil([&] {
        b = TakeFrame(second, 100);
        if (b && b.get() == a.get()) second->ReleaseFrame(b);
        return b && b.get() != a.get();
    }));
    // Both buffers held: nothing can be delivered, but the transfers go on.
    // Frames may already have been dropped, and one submitted before this point may still be
    // counted after it: four more lost frames take at least three more reads.
    const uint64_t submits = m_device->GetStats().bulkSubmits;
    const auto lost = Lost(bucket);
    ASSERT_TRUE(usbtest::WaitUntil([&] { return Lost(bucket) >= lost + 4; }));
    EXPECT_GE(m_device->GetStats().bulkSubmits, submits + 3);
    EXPECT_TRUE(camera->Receiver()->TransferInFlight() ||
                m_device->GetStats().bulkSubmits > submits + 3);

    first->ReleaseFrame(a);
    CFrameBufferShared next = TakeFrame(second, 5000);
    ASSERT_TRUE(next);
    EXPECT_EQ(next.get(), a.get());  // the buffer given back
    EXPECT_GT(next->GetFrameNo(), b->GetFrameNo());
    EXPECT_TRUE(ImageIs(next->GetData(), next->GetFrameNo(), {0, 16383}));
    second->ReleaseFrame(next);
    second->ReleaseFrame(b);
}

// The next chunk of a frame cannot be submitted (usbfs out of memory once, then a camera that
// is gone): the frame is counted lost and given back, and the stream close ends instead of
// waiting for a transfer that was never made.
TEST_F(FrameReceiverTest, RefusedChunkMidFrameEndsTheFrame) {
    qvsim::LogCapture log;
    constexpr uint32_t kImage = 0x500000 + 0x1000;  // two chunks
    CFrameBucket& bucket = NewBucket(3);
    CFrameBucketClient* client = bucket.CreateBucketClient();
    auto camera = OpenStream(14, kImage, true, bucket, 10);
    ASSERT_TRUE(camera);
    // The first chunk goes, the second is refused once.
    m_device->FailBulkSubmits(1, 1, ENOMEM);
    Play(*camera);
    CFrameBufferShared frame = TakeFrame(client, 10000);
    ASSERT_TRUE(frame);
    EXPECT_GE(Lost(bucket), 1);
    EXPECT_EQ(m_device->GetStats().bulkRefused, 1u);
    EXPECT_EQ(log.Count("Prepare to read usb frame failed\n"), 1);
    EXPECT_TRUE(ImageIs(frame->GetData(), frame->GetFrameNo(), {0, kImage - 1}));
    client->ReleaseFrame(frame);

    // From the next second chunk on, every submission fails.
    m_device->FailBulkSubmits(1, -1, ENODEV);
    ASSERT_TRUE(usbtest::WaitUntil([&] { return !camera->Receiver()->TransferInFlight(); }));
    EXPECT_TRUE(usbtest::FinishesWithin(
        20s,
        [&] {
            camera->StopCapture();
            camera->CloseStream();
        },
        "stream close after a refused chunk"));
    EXPECT_EQ(camera->Receiver(), nullptr);
}

// Stop with a transfer waiting for the camera, then start again at once: the transfer is not
// touched while in flight, its frame is dropped, and reading resumes with the next frame.
TEST_F(FrameReceiverTest, StartRightAfterStopLeavesTheTransferInFlightAlone) {
    qvsim::LogCapture log;
    CFrameBucket& bucket = NewBucket(3);
    CFrameBucketClient* client = bucket.CreateBucketClient();
    auto camera = OpenStream(15, 4096, true, bucket, 5);
    ASSERT_TRUE(camera);
    Play(*camera);
    CFrameBufferShared frame = TakeFrame(client);
    ASSERT_TRUE(frame);
    client->ReleaseFrame(frame);
    // The next frame is due in 200 ms: the transfer waits for it.
    ASSERT_TRUE(camera->Receiver()->TransferInFlight());
    const uint64_t stopped = m_model->NextFrameNumber();
    ASSERT_EQ(camera->StopCapture(), 0);
    ASSERT_EQ(camera->StartCapture(), 0);
    frame = TakeFrame(client, 5000);
    ASSERT_TRUE(frame);
    // The frame that completed the stale transfer was dropped.
    EXPECT_GT(frame->GetFrameNo(), stopped);
    EXPECT_EQ(log.Count("Prepare to read usb frame failed\n"), 0);
    EXPECT_EQ(Lost(bucket), 0);
    client->ReleaseFrame(frame);

    // Stop with the transfer waiting, then close: the transfer is cancelled, not waited out.
    ASSERT_TRUE(usbtest::WaitUntil([&] { return camera->Receiver()->TransferInFlight(); }));
    const auto discards = m_device->GetStats().discards;
    const uint64_t submits = m_device->GetStats().bulkSubmits;
    ASSERT_EQ(camera->StopCapture(), 0);
    EXPECT_EQ(camera->CloseStream(), 0);
    EXPECT_GE(m_device->GetStats().discards, discards + 1);
    EXPECT_EQ(m_device->GetStats().bulkSubmits, submits);
    EXPECT_EQ(log.Count("Stop usb stream\r\n"), 2);
    EXPECT_EQ(log.Count("LibUsbFrameReceiver close stream\n"), 1);
}

TEST_F(FrameReceiverTest, PoolSizeOneToTenWhileStopped) {
    CFrameBucket& bucket = NewBucket(3);
    auto camera = OpenStream(16, 4096, true, bucket, 50);
    ASSERT_TRUE(camera);
    int count = 0;
    ASSERT_EQ(camera->GetStreamBufferCount(&count), 0);
    EXPECT_EQ(count, 6);  // the default for a stream opened with frame count 0
    EXPECT_EQ(camera->GetStreamBufferCount(nullptr), CAMERA_STATUS_PARAMETER_INVALID);
    struct Row {
        int count;
        int result;
    };
    for (const Row& r :
         {Row{0, CAMERA_STATUS_PARAMETER_INVALID}, Row{11, CAMERA_STATUS_PARAMETER_INVALID},
          Row{-1, CAMERA_STATUS_PARAMETER_INVALID}, Row{3, 0}, Row{10, 0}, Row{1, 0}, Row{3, 0}}) {
        EXPECT_EQ(camera->SetStreamBufferCount(r.count), r.result) << r.count;
    }
    ASSERT_EQ(camera->GetStreamBufferCount(&count), 0);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(camera->Receiver()->SlotCount(), 3u);
    Play(*camera);
    EXPECT_EQ(camera->SetStreamBufferCount(4), CAMERA_STATUS_BUSY);
    ASSERT_EQ(camera->StopCapture(), 0);
    EXPECT_EQ(camera->SetStreamBufferCount(4), 0);

    // Without a stream there is no receiver to ask.
    camera->CloseStream();
    EXPECT_EQ(camera->SetStreamBufferCount(4), CAMERA_STATUS_FAILED);
    EXPECT_EQ(camera->GetStreamBufferCount(&count), CAMERA_STATUS_FAILED);
    EXPECT_EQ(camera->StartCapture(), CAMERA_STATUS_FAILED);
    EXPECT_EQ(camera->StopCapture(), CAMERA_STATUS_FAILED);
}

// The frame description comes from the copy the caller's thread keeps: the driver is read when
// a setting changes, never once per frame on the event thread.
TEST_F(FrameReceiverTest, FrameDescriptionFollowsSettingsWithoutReadingTheDriverPerFrame) {
    CFrameBucket& bucket = NewBucket(3);
    CFrameBucketClient* client = bucket.CreateBucketClient();
    auto camera = OpenStream(17, 4096, true, bucket, 100);
    ASSERT_TRUE(camera);
    Play(*camera);
    auto reads = [&] {
        int n = 0;
        for (const auto& name : m_sensor->CallNames()) n += name == "GetImageInfo";
        return n;
    };
    const int before = reads();
    for (int i = 0; i < 3; ++i) {
        CFrameBufferShared frame = TakeFrame(client);
        ASSERT_TRUE(frame);
        client->ReleaseFrame(frame);
    }
    EXPECT_EQ(reads(), before);

    m_sensor->imageInfo.ExpTime = 20000;
    ASSERT_EQ(camera->SetExposure(20000), 0);
    EXPECT_EQ(reads(), before + 1);
    const uint64_t changed = m_model->NextFrameNumber();
    CFrameBufferShared frame;
    ASSERT_TRUE(usbtest::WaitUntil([&] {
        frame = TakeFrame(client, 100);
        if (frame && frame->GetFrameNo() < changed) client->ReleaseFrame(frame);
        return frame && frame->GetFrameNo() >= changed;
    }));
    stImageInfo info{};
    frame->GetImageInfo(&info);
    EXPECT_EQ(info.ExpTime, 20000);
}

// Start, stop and the pool size from the caller's thread while completions run on the event
// thread and a consumer takes frames; the close at the end always returns.
TEST_F(FrameReceiverTest, CaptureSwitchedOnAndOffWhileFramesFlow) {
    CFrameBucket& bucket = NewBucket(3);
    CFrameBucketClient* client = bucket.CreateBucketClient();
    auto camera = OpenStream(18, 32768, true, bucket, 0);
    ASSERT_TRUE(camera);
    ASSERT_EQ(camera->StartStream(), 0);
    std::atomic<bool> stop{false};
    std::atomic<int> taken{0};
    std::thread consumer([&] {
        while (!stop) {
            CFrameBufferShared frame;
            if (client->GetFullFrame(frame, 20) != 0) continue;
            if (ImageIs(frame->GetData(), frame->GetFrameNo(), {0, 32767})) ++taken;
            client->ReleaseFrame(frame);
        }
    });
    for (int i = 0; i < 30; ++i) {
        ASSERT_EQ(camera->StartCapture(), 0);
        std::this_thread::sleep_for(2ms);
        ASSERT_EQ(camera->StopCapture(), 0);
        camera->SetStreamBufferCount(1 + i % 10);
    }
    ASSERT_EQ(camera->StartCapture(), 0);
    ASSERT_TRUE(usbtest::WaitUntil([&] { return taken.load() >= 5; }));
    stop = true;
    consumer.join();
    EXPECT_TRUE(usbtest::FinishesWithin(
        20s,
        [&] {
            camera->StopCapture();
            camera->CloseStream();
        },
        "stream close while streaming"));
}

// The cable is pulled while streaming: the transfer ends, nothing can be submitted any more,
// and the stream close returns.
TEST_F(FrameReceiverTest, UnplugWhileStreaming) {
    CFrameBucket& bucket = NewBucket(3);
    CFrameBucketClient* client = bucket.CreateBucketClient();
    auto camera = OpenStream(19, 65536, true, bucket, 50);
    ASSERT_TRUE(camera);
    Play(*camera);
    ASSERT_TRUE(TakeFrame(client));
    m_device->Unplug();
    ASSERT_TRUE(usbtest::WaitUntil([&] { return !camera->Receiver()->TransferInFlight(); }));
    EXPECT_TRUE(usbtest::FinishesWithin(
        20s,
        [&] {
            camera->StopCapture();
            camera->CloseStream();
        },
        "stream close after an unplug"));
    EXPECT_EQ(Lost(bucket), 0);
}

}  // namespace
