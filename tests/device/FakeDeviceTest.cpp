// The device test double itself: what later tests rely on (call log, register views, frames).
#include "FakeDevice.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

namespace {

using qvsim::CFakeDevice;
using qvsim::RegWrite;

TEST(FakeDevice, RecordsRegisterWritesInOrderWithListsExpanded) {
    auto dev = std::make_shared<CFakeDevice>();
    imginf* inf = dev.get();
    EXPECT_EQ(inf->WriteSensorReg(0x3000, 1), 0);
    EXPECT_EQ(inf->WriteSensorRegs({0x3001, 2, 0xFFFF, 10, 0x3002, 3}), 0);
    const uint16_t table[] = {0x3003, 4};
    EXPECT_EQ(inf->WriteSensorRegs(std::span<const uint16_t>(table)), 0);

    const std::vector<RegWrite> expected{
        {0x3000, 1}, {0x3001, 2}, {0xFFFF, 10}, {0x3002, 3}, {0x3003, 4}};
    EXPECT_EQ(dev->SensorRegWrites(), expected);
    uint16_t value = 0;
    EXPECT_EQ(inf->ReadSensorReg(0x3002, &value), 0);
    EXPECT_EQ(value, 3);
    EXPECT_EQ(dev->ContractViolations(), 0);

    EXPECT_EQ(inf->WriteSensorRegs({0x3000}), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(dev->ContractViolations(), 1);
}

TEST(FakeDevice, TriggerControlWordRoundTrips) {
    CFakeDevice dev;
    ASSERT_EQ(dev.SetTriggerControl(0x108, 6, 1, 1), 0);
    uint16_t mode = 0, source = 0, flag = 0, enable = 0;
    ASSERT_EQ(dev.GetTriggerControl(&mode, &source, &flag, &enable), 0);
    EXPECT_EQ(mode, 0x108);
    EXPECT_EQ(source, 6);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(enable, 1);
}

TEST(FakeDevice, FlashWritesClearBitsUntilErased) {
    CFakeDevice dev;
    uint8_t a = 0xF0, b = 0x3C, out = 0;
    ASSERT_EQ(dev.WriteFlash(0x10000, 1, &a), 0);
    ASSERT_EQ(dev.WriteFlash(0x10000, 1, &b), 0);
    ASSERT_EQ(dev.ReadFlash(0x10000, 1, &out), 0);
    EXPECT_EQ(out, 0x30);
    ASSERT_EQ(dev.EraseFlashSector(0x10800, 0), 0);
    ASSERT_EQ(dev.ReadFlash(0x10000, 1, &out), 0);
    EXPECT_EQ(out, 0xFF);
    EXPECT_EQ(dev.ReadFlash(CFakeDevice::kFlashSize - 1, 2, &out), CAMERA_STATUS_IO_ERROR);
}

TEST(FakeDevice, PushedFramesReachTheConsumer) {
    CFakeDevice dev;
    CFrameBucket bucket(3);
    CameraInitParam param{};
    param.frameCount = 3;
    ASSERT_EQ(dev.OpenStream(bucket.GetProducer(), &param), 0);
    CFrameBucketClient* client = bucket.CreateBucketClient();

    std::thread producer([&] {
        const uint8_t pixels[4] = {1, 2, 3, 4};
        stImageInfo info{};
        info.iWidth = 2;
        info.iHeight = 2;
        info.TotalBytes = 4;
        EXPECT_EQ(dev.PushFrame(pixels, sizeof pixels, info, 7), 0);
    });
    CFrameBufferShared frame;
    ASSERT_EQ(client->GetFullFrame(frame, 5000), 0);
    producer.join();
    EXPECT_EQ(frame->GetFrameNo(), 7u);
    EXPECT_EQ(std::memcmp(frame->GetData(), "\x01\x02\x03\x04", 4), 0);
    client->ReleaseFrame(frame);

    ASSERT_EQ(dev.CloseStream(), 0);
    stImageInfo info{};
    EXPECT_EQ(dev.PushFrame("x", 1, info), CAMERA_STATUS_FAILED);
    bucket.DestroyBucketClient(client);
}

}  // namespace
