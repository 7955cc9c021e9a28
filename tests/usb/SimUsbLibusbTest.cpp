// The simulated USB camera behind the real libusb, through umockdev's emulated sysfs, udev and
// usbfs: enumeration, open, vendor requests, stall, timeout, reset and claim, bulk streaming,
// unplug while streaming, and two cameras at once. The executable runs itself under the
// umockdev preload (UmockdevPreload.cpp).
#include <fcntl.h>
#include <libusb.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "UsbTestbedFixture.h"
#include "usb/UsbFrameHeader.h"
#include "usb/UsbIds.h"
#include "usb/UsbVendorRequest.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace usb = qv::usb;

// The vendor transfer operation on a libusb handle, as the device class does it: any libusb
// error or a short transfer is -13.
struct LibusbLink {
    libusb_device_handle* handle;
    unsigned timeoutMs = usb::kControlTimeoutMs;

    int operator()(uint8_t request, uint16_t value, uint16_t index, uint16_t inLen, uint8_t* inBuf,
                   uint16_t outLen, uint8_t* outBuf) const {
        const int n = inLen ? libusb_control_transfer(handle, usb::kRequestTypeIn, request, value,
                                                      index, inBuf, inLen, timeoutMs)
                            : libusb_control_transfer(handle, usb::kRequestTypeOut, request, value,
                                                      index, outBuf, outLen, timeoutMs);
        return usb::CheckTransferred(inLen ? inLen : outLen, n);
    }
};

// Bulk frames received on 0x82, one frame per transfer (the device ends each frame short).
struct FrameSink {
    std::mutex mutex;  // guards everything below
    std::condition_variable arrived;
    std::vector<std::vector<uint8_t>> frames;
    // Statuses of transfers that were not resubmitted (NO_DEVICE also for a completed one whose
    // resubmission the vanished device refused).
    std::vector<int> endStatus;
    bool resubmit = true;
};

void LIBUSB_CALL OnBulk(libusb_transfer* t) {
    auto* sink = static_cast<FrameSink*>(t->user_data);
    std::lock_guard lock(sink->mutex);
    int status = t->status;
    if (status == LIBUSB_TRANSFER_COMPLETED) {
        sink->frames.emplace_back(t->buffer, t->buffer + t->actual_length);
        if (sink->resubmit) {
            const int r = libusb_submit_transfer(t);
            if (r == 0) {
                sink->arrived.notify_all();
                return;
            }
            // A chunk that completed just before the unplug cannot go out again: it ends as
            // the transfers in flight do.
            if (r == LIBUSB_ERROR_NO_DEVICE) status = LIBUSB_TRANSFER_NO_DEVICE;
        }
    }
    sink->endStatus.push_back(status);
    sink->arrived.notify_all();
}

class UsbEmulationTest : public usbtest::TestbedTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(TestbedTest::SetUp());
        ASSERT_EQ(libusb_init(&m_ctx), 0);
    }

    void TearDown() override {
        StopEvents();
        for (auto* h : m_handles) libusb_close(h);
        libusb_exit(m_ctx);
        RemoveDevices();
    }

    // The camera at bus/address, opened.
    libusb_device_handle* Open(int bus, int address) {
        libusb_device** list = nullptr;
        const ssize_t n = libusb_get_device_list(m_ctx, &list);
        libusb_device_handle* handle = nullptr;
        for (ssize_t i = 0; i < n; ++i) {
            if (libusb_get_bus_number(list[i]) == bus &&
                libusb_get_device_address(list[i]) == address) {
                EXPECT_EQ(libusb_open(list[i], &handle), 0);
            }
        }
        libusb_free_device_list(list, 1);
        if (handle) m_handles.push_back(handle);
        return handle;
    }

    void StartEvents() {
        m_eventStop = 0;
        m_events = std::thread([this] {
            while (!m_eventStop.load()) {
                timeval tv{0, 100000};
                libusb_handle_events_timeout_completed(m_ctx, &tv, nullptr);
            }
        });
    }

    void StopEvents() {
        if (!m_events.joinable()) return;
        m_eventStop = 1;
        libusb_interrupt_event_handler(m_ctx);
        m_events.join();
    }

    // n transfers of `length` bytes on 0x82, submitted.
    std::vector<libusb_transfer*> SubmitBulk(libusb_device_handle* h, FrameSink& sink, int n,
                                             int length) {
        std::vector<libusb_transfer*> transfers;
        for (int i = 0; i < n; ++i) {
            libusb_transfer* t = libusb_alloc_transfer(0);
            m_buffers.emplace_back(static_cast<size_t>(length));
            libusb_fill_bulk_transfer(t, h, usb::kBulkInEndpoint, m_buffers.back().data(), length,
                                      OnBulk, &sink, 0);
            EXPECT_EQ(libusb_submit_transfer(t), 0);
            transfers.push_back(t);
        }
        return transfers;
    }

    libusb_context* m_ctx = nullptr;
    std::vector<libusb_device_handle*> m_handles;
    std::thread m_events;
    std::atomic<int> m_eventStop{0};
    std::vector<std::vector<uint8_t>> m_buffers;
};

template <typename Pred>
bool WaitUntil(FrameSink& sink, Pred pred, std::chrono::milliseconds limit = 30s) {
    std::unique_lock lock(sink.mutex);
    return sink.arrived.wait_for(lock, limit, [&] { return pred(); });
}

void FreeWhenDone(FrameSink& sink, std::vector<libusb_transfer*>& transfers) {
    for (auto* t : transfers) libusb_cancel_transfer(t);
    EXPECT_TRUE(WaitUntil(sink, [&] { return sink.endStatus.size() == transfers.size(); }));
    for (auto* t : transfers) libusb_free_transfer(t);
    transfers.clear();
}

TEST_F(UsbEmulationTest, EnumeratesByIdentityAndAnswersVendorRequests) {
    auto cameraPtr = std::make_shared<CSimUsbCamera>();
    CSimUsbCamera& camera = *cameraPtr;
    Plug(cameraPtr, {.port = {1, 2}});
    Plug(std::make_shared<CSimUsbCamera>(),
         {.port = {1, 3}, .vendorId = 0x1234, .productId = 0x5678});

    libusb_device** list = nullptr;
    const ssize_t n = libusb_get_device_list(m_ctx, &list);
    ASSERT_GE(n, 2);
    int cameras = 0;
    for (ssize_t i = 0; i < n; ++i) {
        libusb_device_descriptor dd{};
        ASSERT_EQ(libusb_get_device_descriptor(list[i], &dd), 0);
        if (!usb::IsCameraUsbId(dd.idVendor, dd.idProduct)) continue;
        ++cameras;
        EXPECT_EQ(libusb_get_bus_number(list[i]), 1);
        EXPECT_EQ(libusb_get_device_address(list[i]), 2);
        EXPECT_EQ(dd.idProduct, usb::kCameraProductIdUsb3);
        EXPECT_EQ(libusb_get_device_speed(list[i]), LIBUSB_SPEED_SUPER);
        libusb_config_descriptor* cd = nullptr;
        ASSERT_EQ(libusb_get_active_config_descriptor(list[i], &cd), 0);
        EXPECT_EQ(cd->interface[0].altsetting[0].endpoint[0].bEndpointAddress, 0x82);
        libusb_free_config_descriptor(cd);
    }
    libusb_free_device_list(list, 1);
    EXPECT_EQ(cameras, 1);

    libusb_device_handle* h = Open(1, 2);
    ASSERT_NE(h, nullptr);
    LibusbLink link{h};
    uint16_t type = 0;
    EXPECT_EQ(usb::GetDeviceType(link, &type), 0);
    EXPECT_EQ(type, 0x1301);

    // The property record, read from flash block A as storage lays it out: the 32-bit model
    // code at byte 516 of the record, which starts 152 bytes into the block at 0x10000.
    const uint8_t model[4] = {0x07, 0x00, 0x22, 0xAA};  // 0xAA220007
    camera.WriteStorage(0x10000 + 152 + 516, model);
    uint8_t page[1024];
    EXPECT_EQ(usb::ReadFlash(link, 0x10000, sizeof page, page), 0);
    uint32_t modelCode;
    std::memcpy(&modelCode, page + 152 + 516, 4);
    EXPECT_EQ(modelCode, 0xAA220007u);

    // OUT requests with data: erase and program a page.
    EXPECT_EQ(usb::EraseFlashSector(link, 0x15000, 0), 0);
    const uint8_t user[3] = {1, 2, 3};
    EXPECT_EQ(usb::WriteFlash(link, 0x15000, 3, user), 0);
    EXPECT_EQ(camera.ReadStorage(0x15000, 4), (std::vector<uint8_t>{1, 2, 3, 0xFF}));

    EXPECT_EQ(usb::WriteFpgaReg(link, 33, 0x12345), 0);
    uint32_t value = 0;
    EXPECT_EQ(usb::ReadFpgaReg(link, 33, &value), 0);
    EXPECT_EQ(value, 0x2345u);
}

TEST_F(UsbEmulationTest, StallTimeoutShortReplyAndWrongStatus) {
    auto cameraPtr = std::make_shared<CSimUsbCamera>();
    CSimUsbCamera& camera = *cameraPtr;
    Plug(cameraPtr, {.port = {1, 4}});
    libusb_device_handle* h = Open(1, 4);
    ASSERT_NE(h, nullptr);
    LibusbLink link{h};

    camera.InjectFault({.kind = SimFaultKind::kStall, .request = 0xD7});
    uint8_t reply[3];
    EXPECT_EQ(libusb_control_transfer(h, 0xC0, 0xD7, 0, 129, reply, 3, 2000), LIBUSB_ERROR_PIPE);
    uint32_t value = 0;
    EXPECT_EQ(usb::ReadFpgaReg(link, 129, &value), 0);  // endpoint 0 recovers after a stall
    camera.InjectFault({.kind = SimFaultKind::kStall, .request = 0xD7});
    EXPECT_EQ(usb::ReadFpgaReg(link, 129, &value), -13);

    // A request the device never answers ends with libusb's timeout (short here; 2000 ms in
    // the SDK) and the next one goes through.
    camera.InjectFault({.kind = SimFaultKind::kNoAnswer, .request = 0xB9});
    EXPECT_EQ(libusb_control_transfer(h, 0xC0, 0xB9, 0, 0, reply, 2, 150), LIBUSB_ERROR_TIMEOUT);
    uint16_t type = 0;
    EXPECT_EQ(usb::GetDeviceType(link, &type), 0);
    EXPECT_EQ(type, 0x1301);

    camera.InjectFault({.kind = SimFaultKind::kShortReply, .request = 0xD7});
    EXPECT_EQ(libusb_control_transfer(h, 0xC0, 0xD7, 0, 129, reply, 3, 2000), 2);
    camera.InjectFault({.kind = SimFaultKind::kShortReply, .request = 0xD7});
    value = 7;
    EXPECT_EQ(usb::ReadFpgaReg(link, 129, &value), -13);
    EXPECT_EQ(value, 7u);

    camera.InjectFault({.kind = SimFaultKind::kWrongStatus, .request = 0xD6});
    EXPECT_EQ(usb::WriteFpgaReg(link, 1, 1), -13);
}

TEST_F(UsbEmulationTest, ResetAndClaimAsStreamOpenDoesThem) {
    auto cameraPtr = std::make_shared<CSimUsbCamera>();
    CSimUsbCamera& camera = *cameraPtr;
    CSimUsbDevice& dev = Plug(cameraPtr, {.port = {1, 6}});
    libusb_device_handle* h = Open(1, 6);
    ASSERT_NE(h, nullptr);
    uint8_t st;
    LibusbLink link{h};
    ASSERT_EQ(usb::Execute(link, usb::StreamStart(), &st), 0);
    EXPECT_TRUE(camera.IsStreaming());

    EXPECT_EQ(libusb_reset_device(h), 0);
    EXPECT_EQ(camera.BusResets(), 1);
    EXPECT_FALSE(camera.IsStreaming());  // a port reset stops the camera's stream
    EXPECT_EQ(usb::Execute(link, usb::StreamStop(), &st), 0);
    EXPECT_EQ(libusb_claim_interface(h, 0), 0);
    EXPECT_EQ(libusb_claim_interface(h, 1), LIBUSB_ERROR_NOT_FOUND);

    // A second handle on the same device cannot claim the interface the first one holds.
    libusb_device_handle* second = Open(1, 6);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(libusb_claim_interface(second, 0), LIBUSB_ERROR_BUSY);
    EXPECT_EQ(libusb_release_interface(h, 0), 0);
    EXPECT_EQ(libusb_claim_interface(second, 0), 0);
    EXPECT_EQ(libusb_release_interface(second, 0), 0);
    EXPECT_GE(dev.GetStats().claims, 2u);
    EXPECT_EQ(dev.GetStats().unknown, 0u);
}

uint64_t Le64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

TEST_F(UsbEmulationTest, StreamsFramesWithTheirHeader) {
    constexpr uint32_t kImage = 64 * 1024;
    constexpr int kFrame = static_cast<int>(kImage + usb::kFrameHeaderSize);
    Plug(std::make_shared<CSimUsbCamera>(
             SimUsbCameraConfig{.frames = {.imageBytes = kImage, .fps = 200}}),
         {.port = {1, 8}});
    libusb_device_handle* h = Open(1, 8);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(libusb_claim_interface(h, 0), 0);

    // Not streaming: a bulk read times out (the cancel goes through the emulated discard).
    uint8_t scratch[512];
    int got = -1;
    EXPECT_EQ(libusb_bulk_transfer(h, 0x82, scratch, sizeof scratch, &got, 50),
              LIBUSB_ERROR_TIMEOUT);
    EXPECT_EQ(got, 0);

    StartEvents();
    FrameSink sink;
    // Transfers one byte longer than a frame: each must still end at the frame boundary.
    auto transfers = SubmitBulk(h, sink, 2, kFrame + 1);
    LibusbLink link{h};
    uint8_t st;
    ASSERT_EQ(usb::Execute(link, usb::StreamStart(), &st), 0);
    constexpr size_t kFrames = 12;
    ASSERT_TRUE(WaitUntil(sink, [&] { return sink.frames.size() >= kFrames; }));
    {
        std::lock_guard lock(sink.mutex);
        sink.resubmit = false;
    }
    EXPECT_EQ(usb::Execute(link, usb::StreamStop(), &st), 0);
    FreeWhenDone(sink, transfers);

    std::lock_guard lock(sink.mutex);
    uint64_t lastStamp = 0;
    for (size_t i = 0; i < kFrames; ++i) {
        const auto& f = sink.frames[i];
        ASSERT_EQ(f.size(), static_cast<size_t>(kFrame)) << "frame " << i;
        usb::FrameHeader header;
        ASSERT_TRUE(usb::ParseFrameHeader(f.data(), f.size(), &header));
        EXPECT_EQ(header.frameNumber, i);
        if (i > 0) {
            EXPECT_GT(header.timestamp, lastStamp);
        }
        lastStamp = header.timestamp;
        for (uint32_t off : {0u, 1u, 255u, 256u, kImage - 1})
            ASSERT_EQ(f[16 + off], CSimFrameGenerator::RampByte(i, off)) << i << "@" << off;
    }
}

TEST_F(UsbEmulationTest, UnplugWhileStreamingEndsTransfersWithNoDevice) {
    CSimUsbDevice& dev = Plug(std::make_shared<CSimUsbCamera>(
                                  SimUsbCameraConfig{.frames = {.imageBytes = 4096, .fps = 100}}),
                              {.port = {1, 9}});

    std::atomic<int> left{0};
    libusb_hotplug_callback_handle hotplug;
    ASSERT_EQ(libusb_hotplug_register_callback(
                  m_ctx, LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT, LIBUSB_HOTPLUG_NO_FLAGS,
                  usb::kCameraVendorId, usb::kCameraProductIdUsb3, LIBUSB_HOTPLUG_MATCH_ANY,
                  [](libusb_context*, libusb_device*, libusb_hotplug_event, void* count) {
                      ++*static_cast<std::atomic<int>*>(count);
                      return 0;
                  },
                  &left, &hotplug),
              0);

    libusb_device_handle* h = Open(1, 9);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(libusb_claim_interface(h, 0), 0);
    StartEvents();
    FrameSink sink;
    auto transfers = SubmitBulk(h, sink, 3, 4096 + 16);
    LibusbLink link{h};
    uint8_t st;
    ASSERT_EQ(usb::Execute(link, usb::StreamStart(), &st), 0);
    ASSERT_TRUE(WaitUntil(sink, [&] { return sink.frames.size() >= 3; }));

    dev.Unplug();
    ASSERT_TRUE(WaitUntil(sink, [&] { return sink.endStatus.size() == transfers.size(); }));
    {
        std::lock_guard lock(sink.mutex);
        for (int status : sink.endStatus) EXPECT_EQ(status, LIBUSB_TRANSFER_NO_DEVICE);
    }
    const auto deadline = Clock::now() + 5s;
    while (left.load() == 0 && Clock::now() < deadline) std::this_thread::sleep_for(1ms);
    EXPECT_EQ(left.load(), 1);

    uint8_t reply[2];
    EXPECT_EQ(libusb_control_transfer(h, 0xC0, 0xB9, 0, 0, reply, 2, 2000), LIBUSB_ERROR_NO_DEVICE);
    uint16_t type;
    EXPECT_EQ(usb::GetDeviceType(link, &type), -13);
    libusb_hotplug_deregister_callback(m_ctx, hotplug);
    for (auto* t : transfers) libusb_free_transfer(t);
}

TEST_F(UsbEmulationTest, TwoCamerasAtOnce) {
    auto usb3 = std::make_shared<CSimUsbCamera>(
        SimUsbCameraConfig{.frames = {.imageBytes = 8192,
                                      .fps = 100,
                                      .pattern = SimFramePattern::kConstant,
                                      .constant = 0x33}});
    auto usb2 = std::make_shared<CSimUsbCamera>(
        SimUsbCameraConfig{.generation = SimUsbGeneration::kUsb2,
                           .frames = {.imageBytes = 4096,
                                      .fps = 100,
                                      .pattern = SimFramePattern::kConstant,
                                      .constant = 0x22}});
    Plug(usb3, {.port = {2, 5}});
    Plug(usb2, {.port = {3, 7}});

    libusb_device_handle* h3 = Open(2, 5);
    libusb_device_handle* h2 = Open(3, 7);
    ASSERT_NE(h3, nullptr);
    ASSERT_NE(h2, nullptr);
    EXPECT_EQ(libusb_get_device_speed(libusb_get_device(h2)), LIBUSB_SPEED_HIGH);
    LibusbLink link3{h3};
    LibusbLink link2{h2};
    uint16_t type = 0;
    EXPECT_EQ(usb::GetDeviceType(link3, &type), 0);
    EXPECT_EQ(type, 0x1301);
    EXPECT_EQ(usb::GetDeviceType(link2, &type), 0);
    EXPECT_EQ(type, 0x1201);

    const uint8_t magic[4] = {0x01, 0x00, 0xAA, 0xEE};
    EXPECT_EQ(usb::WriteEEProm(link2, 0x3800, magic, 4), 0);
    uint8_t back[4] = {};
    EXPECT_EQ(usb::ReadEEProm(link2, 0x3800, back, 4), 0);
    EXPECT_EQ(std::memcmp(back, magic, 4), 0);

    ASSERT_EQ(libusb_claim_interface(h3, 0), 0);
    ASSERT_EQ(libusb_claim_interface(h2, 0), 0);
    StartEvents();
    FrameSink sink3;
    FrameSink sink2;
    auto t3 = SubmitBulk(h3, sink3, 2, 8192 + 16);
    auto t2 = SubmitBulk(h2, sink2, 2, 4096 + 16);
    uint8_t st;
    ASSERT_EQ(usb::Execute(link3, usb::StreamStart(), &st), 0);
    ASSERT_EQ(usb::Execute(link2, usb::StreamStart(), &st), 0);
    ASSERT_TRUE(WaitUntil(sink3, [&] { return sink3.frames.size() >= 4; }));
    ASSERT_TRUE(WaitUntil(sink2, [&] { return sink2.frames.size() >= 4; }));
    for (FrameSink* s : {&sink3, &sink2}) {
        std::lock_guard lock(s->mutex);
        s->resubmit = false;
    }
    FreeWhenDone(sink3, t3);
    FreeWhenDone(sink2, t2);

    std::lock_guard lock3(sink3.mutex);
    std::lock_guard lock2(sink2.mutex);
    for (size_t i = 0; i < 4; ++i) {
        ASSERT_EQ(sink3.frames[i].size(), 8192u + 16);
        ASSERT_EQ(sink2.frames[i].size(), 4096u + 16);
        EXPECT_EQ(sink3.frames[i][16], 0x33);
        EXPECT_EQ(sink2.frames[i].back(), 0x22);
        EXPECT_EQ(Le64(sink3.frames[i].data() + 8), i);
        EXPECT_EQ(Le64(sink2.frames[i].data() + 8), i);
    }
}

// A device with a plain node can also be reached through a descriptor the host opened itself.
TEST_F(UsbEmulationTest, PlainNodeOpensThroughAHostDescriptor) {
    CSimUsbDevice& dev =
        Plug(std::make_shared<CSimUsbCamera>(), {.port = {4, 3}, .fifoNode = false});
    const int fd = open(dev.DevNode().c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    libusb_device_handle* h = nullptr;
    ASSERT_EQ(libusb_wrap_sys_device(m_ctx, static_cast<intptr_t>(fd), &h), 0);
    libusb_device_descriptor dd{};
    ASSERT_EQ(libusb_get_device_descriptor(libusb_get_device(h), &dd), 0);
    EXPECT_EQ(dd.idVendor, usb::kCameraVendorId);
    EXPECT_EQ(libusb_get_device_address(libusb_get_device(h)), 3);
    LibusbLink link{h};
    uint16_t type = 0;
    EXPECT_EQ(usb::GetDeviceType(link, &type), 0);
    EXPECT_EQ(type, 0x1301);
    EXPECT_EQ(dev.GetStats().unknown, 0u);
    libusb_close(h);
    close(fd);
}

}  // namespace
