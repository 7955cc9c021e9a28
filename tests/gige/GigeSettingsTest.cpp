// The GigE camera's trigger, strobe, I/O, GPIO, I2C and setting operations against the
// simulated camera: one table of (operation, arguments) to (command, payload, result), the
// range checks that come before any traffic, the acknowledge time each operation allows, the
// integer settings by id, the transfer test and the stream settings that reach the receiver.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "GigeTestRig.h"
#include "device/CameraInitParam.h"
#include "frames/FrameBucket.h"
#include "gige/GVSPReceiverBySocket.h"

namespace {

using namespace std::chrono_literals;
using gigetest::CameraRig;
using gigetest::Transactions;
using qvsim::SimGvcpFault;

using Bytes = std::vector<uint8_t>;

Bytes Be(std::initializer_list<uint32_t> words) {
    Bytes b;
    for (uint32_t w : words)
        for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(w >> s));
    return b;
}

class GigeSettings : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(rig.Open(), 0);
        rig.Camera().ClearCommands();
    }
    CameraRig rig;
};

TEST_F(GigeSettings, OperationsAsCommands) {
    struct Case {
        const char* what;
        std::function<int(CGigeCamera&)> call;
        int result;
        uint16_t command;  // 0: no traffic at all
        Bytes payload;
    };
    uint8_t i2c[3] = {1, 2, 3};
    uint8_t buffer[8] = {};
    const Case cases[] = {
        {"trigger timing", [](CGigeCamera& d) { return d.SetTriggerTiming(3, 5); }, 0, 0x8010,
         Be({21, 5u << 16 | 3})},
        {"trigger count", [](CGigeCamera& d) { return d.SetTriggerFrameCount(7); }, 0, 0x8010,
         Be({22, 7})},
        {"trigger jitter", [](CGigeCamera& d) { return d.SetTriggerJitterTime(1, 9); }, 0, 0x8010,
         Be({23, 9})},
        {"trigger delay", [](CGigeCamera& d) { return d.SetTriggerDelayTime(100000); }, 0, 0x8010,
         Be({24, 100000})},
        {"trigger control", [](CGigeCamera& d) { return d.SetTriggerControl(0x3FF, 5, 3, 9); }, 0,
         0x8010, Be({20, 0xFFDB})},
        {"strobe mode 0", [](CGigeCamera& d) { return d.SetStrobeMode(0, 1); }, 0, 0x8012,
         Be({20, 0x1C0, 0x40})},
        {"strobe mode 1", [](CGigeCamera& d) { return d.SetStrobeMode(1, 0); }, 0, 0x8012,
         Be({20, 0x3800, 0})},
        {"strobe mode 2 before the output",
         [](CGigeCamera& d) { return d.SetStrobeMode(5, 2); },
         -6,
         0,
         {}},
        {"strobe mode on output 2",
         [](CGigeCamera& d) { return d.SetStrobeMode(2, 1); },
         -4,
         0,
         {}},
        {"strobe delay 0", [](CGigeCamera& d) { return d.SetStrobeDelayTime(0, 11); }, 0, 0x8010,
         Be({26, 11})},
        {"strobe delay 1", [](CGigeCamera& d) { return d.SetStrobeDelayTime(1, 12); }, 0, 0x8010,
         Be({28, 12})},
        {"strobe delay of another output",
         [](CGigeCamera& d) { return d.SetStrobeDelayTime(7, 13); }, 0, 0x8010, Be({28, 13})},
        {"strobe polarity 0", [](CGigeCamera& d) { return d.SetStrobePolarity(0, 5); }, 0, 0x8012,
         Be({20, 0x400, 0x400})},
        {"strobe polarity 1", [](CGigeCamera& d) { return d.SetStrobePolarity(1, 0); }, 0, 0x8012,
         Be({20, 0x8000, 0})},
        {"strobe polarity 2", [](CGigeCamera& d) { return d.SetStrobePolarity(2, 1); }, -4, 0, {}},
        {"pulse width 0", [](CGigeCamera& d) { return d.SetStrobePulseWidth(0, 21); }, 0, 0x8010,
         Be({25, 21})},
        {"pulse width 1", [](CGigeCamera& d) { return d.SetStrobePulseWidth(1, 22); }, 0, 0x8010,
         Be({27, 22})},
        {"output 0 to PWM", [](CGigeCamera& d) { return d.SetOutputIOMode(0, 2); }, 0, 0x8012,
         Be({20, 0x1C0, 4u << 6})},
        {"output 1 to mode 255", [](CGigeCamera& d) { return d.SetOutputIOMode(1, 255); }, 0,
         0x8012, Be({20, 0x3800, 6u << 11})},
        {"output mode 1 writes nothing",
         [](CGigeCamera& d) { return d.SetOutputIOMode(0, 1); },
         0,
         0,
         {}},
        {"output mode 0 writes nothing",
         [](CGigeCamera& d) { return d.SetOutputIOMode(1, 0); },
         0,
         0,
         {}},
        {"output mode 3", [](CGigeCamera& d) { return d.SetOutputIOMode(0, 3); }, -6, 0, {}},
        {"output mode of output 2",
         [](CGigeCamera& d) { return d.SetOutputIOMode(2, 2); },
         -4,
         0,
         {}},
        {"output 0 high", [](CGigeCamera& d) { return d.SetOutputIOState(0, 1); }, 0, 0x8012,
         Be({20, 0x1C0, 2u << 6})},
        {"output 1 low", [](CGigeCamera& d) { return d.SetOutputIOState(1, 0); }, 0, 0x8012,
         Be({20, 0x3800, 3u << 11})},
        {"output 3 state", [](CGigeCamera& d) { return d.SetOutputIOState(3, 1); }, -4, 0, {}},
        {"PWM duty above the period", [](CGigeCamera& d) { return d.SetOutputIOPWM(0, 100, 150); },
         0, 0x8010, Be({26, 100, 25, 100})},
        {"PWM of output 1", [](CGigeCamera& d) { return d.SetOutputIOPWM(1, 100, 30); }, 0, 0x8010,
         Be({28, 100, 27, 30})},
        {"PWM of output 2", [](CGigeCamera& d) { return d.SetOutputIOPWM(2, 100, 30); }, -4, 0, {}},
        {"trigger enabled", [](CGigeCamera& d) { return d.SetTriggerInhibit(0, 0); }, 0, 0x8012,
         Be({20, 1, 1})},
        {"trigger inhibited", [](CGigeCamera& d) { return d.SetTriggerInhibit(0, 1); }, 0, 0x8012,
         Be({20, 1, 0})},
        {"input of line 1",
         [](CGigeCamera& d) {
             int s = 0;
             return d.GetInputIOState(1, &s);
         },
         -4,
         0,
         {}},
        {"input without a pointer",
         [](CGigeCamera& d) { return d.GetInputIOState(0, nullptr); },
         -6,
         0,
         {}},
        {"input of line 0",
         [](CGigeCamera& d) {
             int s = 0;
             return d.GetInputIOState(0, &s);
         },
         0, 0x8011, Be({128})},
        {"trigger signal type 5",
         [](CGigeCamera& d) { return d.SetTriggerSignalType(0, 5); },
         -6,
         0,
         {}},
        {"soft trigger", [](CGigeCamera& d) { return d.SendSoftTrigger(); }, 0, 0x8013, {}},
        {"timestamp reset", [](CGigeCamera& d) { return d.ResetTimestamp(); }, 0, 0x8015, {}},
        {"GPIO mode", [](CGigeCamera& d) { return d.SetGpioMode(3, 1); }, 0, 0x800D, {3, 1}},
        {"GPIO write", [](CGigeCamera& d) { return d.WriteGpio(4, 1); }, 0, 0x800E, {4, 1}},
        {"GPIO read", [&](CGigeCamera& d) { return d.ReadGpio(5, buffer); }, 0, 0x800F, {5}},
        {"I2C write",
         [&](CGigeCamera& d) { return d.I2CWrite(0x50, i2c, 3); },
         0,
         0x8007,
         {0x50, 3, 1, 2, 3}},
        {"I2C read",
         [&](CGigeCamera& d) { return d.I2CRead(0x50, buffer, 4); },
         0,
         0x800C,
         {0x50, 4}},
        {"packet delay", [](CGigeCamera& d) { return d.SetPacketDelay(1234); }, 0, 0x0082,
         Be({0x0D08, 1234})},
        {"transfer request",
         [](CGigeCamera& d) { return d.RequestTransferImage(); },
         0,
         0x8016,
         {}},
        {"transfer request with a value",
         [](CGigeCamera& d) { return d.RequestTransferImageEx(0x107); },
         0,
         0x8016,
         {7}},
        {"vendor value",
         [](CGigeCamera& d) { return d.SetVendorValue(0x01020304); },
         0,
         0x801B,
         {1, 2, 3, 4}},
        {"vendor action", [](CGigeCamera& d) { return d.TriggerVendorAction(); }, 0, 0x801C, {}},
        {"reboot", [](CGigeCamera& d) { return d.Reboot(); }, 0, 0x8000, {}},
    };
    for (const Case& c : cases) {
        rig.Camera().ClearCommands();
        EXPECT_EQ(c.call(rig.Device()), c.result) << c.what;
        if (c.command == 0) {
            std::this_thread::sleep_for(5ms);
            EXPECT_TRUE(rig.Camera().Commands().empty()) << c.what;
            continue;
        }
        const auto sent = gigetest::AllTransactions(rig.Camera());
        ASSERT_EQ(sent.size(), 1u) << c.what;
        EXPECT_EQ(sent[0].command, c.command) << c.what;
        EXPECT_EQ(sent[0].flags, 0x01) << c.what;
        EXPECT_EQ(sent[0].payload, c.payload) << c.what;
    }
}

TEST_F(GigeSettings, ControlWordFieldsOnTheCamera) {
    qvsim::CSimGigeFirmware& fw = rig.Sim().Firmware();
    CGigeCamera& d = rig.Device();
    fw.SetFpgaRegister(20, 0);
    ASSERT_EQ(d.SetTriggerControl(5, 2, 1, 1), 0);
    ASSERT_EQ(d.SetStrobeMode(0, 1), 0);
    ASSERT_EQ(d.SetStrobePolarity(1, 1), 0);
    ASSERT_EQ(d.SetOutputIOState(1, 0), 0);
    const uint32_t word = fw.FpgaRegister(20);
    EXPECT_EQ(word & 1, 1u);
    EXPECT_EQ((word >> 1) & 7, 2u);
    EXPECT_EQ((word >> 4) & 1, 1u);
    EXPECT_EQ((word >> 6) & 7, 1u);   // output 0: strobe mode 1
    EXPECT_EQ((word >> 11) & 7, 3u);  // output 1: general-purpose, low
    EXPECT_EQ((word >> 15) & 1, 1u);  // output 1 polarity
    uint16_t mode = 0, source = 0, flag = 0, enable = 0;
    ASSERT_EQ(d.GetTriggerControl(&mode, &source, &flag, &enable), 0);
    EXPECT_EQ(source, 2);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(enable, 1);
    EXPECT_EQ(mode, word >> 6);
    // The signal type keeps the other fields and sets the code.
    ASSERT_EQ(d.SetTriggerSignalType(0, 3), 0);
    EXPECT_EQ((fw.FpgaRegister(20) >> 1) & 7, 4u);
    EXPECT_EQ(fw.FpgaRegister(20) & ~0xEu, word & ~0xEu);
    // The input line.
    int state = -1;
    fw.SetFpgaRegister(128, 0xFFFFFFFE);
    ASSERT_EQ(d.GetInputIOState(0, &state), 0);
    EXPECT_EQ(state, 0);
    fw.SetFpgaRegister(128, 1);
    ASSERT_EQ(d.GetInputIOState(0, &state), 0);
    EXPECT_EQ(state, 1);
    // A failed read of the word is returned and nothing is written.
    rig.Camera().ClearCommands();
    rig.Camera().AddRule({0x8011, -1, SimGvcpFault::kDropAnswer});
    EXPECT_EQ(d.SetTriggerSignalType(0, 1), CAMERA_STATUS_COMM_ERROR);
    rig.Camera().ClearRules();
    EXPECT_EQ(Transactions(rig.Camera(), 0x8010).size(), 0u);
}

TEST_F(GigeSettings, I2cReadTakesOnlyAnAnswerOfTheLengthAsked) {
    CGigeCamera& d = rig.Device();
    uint8_t written[4] = {0x11, 0x22, 0x33, 0x44};
    ASSERT_EQ(d.I2CWrite(0x50, written, 4), 0);
    uint8_t back[4] = {};
    ASSERT_EQ(d.I2CRead(0x50, back, 4), 0);
    EXPECT_EQ(Bytes(back, back + 4), Bytes(written, written + 4));
    ASSERT_EQ(d.I2CRead(0x50, back, 0), 0);  // nothing asked, nothing answered

    struct Case {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> edit;  // the answer datagram
        int result;
    };
    const Case cases[] = {
        {"two bytes of four",
         [](std::vector<uint8_t>& dg) {
             dg.resize(8 + 2);
             dg[5] = 2;
         },
         CAMERA_STATUS_COMM_ERROR},
        {"no bytes",
         [](std::vector<uint8_t>& dg) {
             dg.resize(8);
             dg[5] = 0;
         },
         CAMERA_STATUS_COMM_ERROR},
        {"six bytes of four",
         [](std::vector<uint8_t>& dg) {
             dg.insert(dg.end(), {0x55, 0x66});
             dg[5] = 6;
         },
         CAMERA_STATUS_COMM_ERROR},
    };
    for (const Case& c : cases) {
        rig.Camera().SetAnswerEditor([&](uint16_t command, std::vector<uint8_t>& dg) {
            if (command == 0x800C) c.edit(dg);
        });
        uint8_t buffer[4] = {0xEE, 0xEE, 0xEE, 0xEE};
        EXPECT_EQ(d.I2CRead(0x50, buffer, 4), c.result) << c.what;
    }
    rig.Camera().SetAnswerEditor({});
    // No answer at all: the transaction's own code.
    rig.Camera().AddRule({0x800C, -1, SimGvcpFault::kDropAnswer});
    EXPECT_EQ(d.I2CRead(0x50, back, 4), CAMERA_STATUS_TIMEOUT);
    rig.Camera().ClearRules();
}

// The acknowledge time each operation allows: an answer 150 ms late is taken by a wait of
// 500 ms or more at the first try; a 100 ms wait sends again (and takes it then), and the
// transfer test, with one try, fails.
TEST_F(GigeSettings, AcknowledgeTimes) {
    uint8_t data[16] = {};
    struct Case {
        const char* what;
        uint16_t command;
        std::function<int(CGigeCamera&)> call;
        int result;
        bool resent;
    };
    const Case cases[] = {
        {"soft trigger, 100 ms", 0x8013, [](CGigeCamera& d) { return d.SendSoftTrigger(); }, 0,
         true},
        {"flash read, 500 ms", 0x8003, [&](CGigeCamera& d) { return d.ReadFlash(0, 16, data); }, 0,
         false},
        {"flash write, 1000 ms", 0x8002,
         [&](CGigeCamera& d) { return d.WriteFlash(0x3F0000, 16, data); }, 0, false},
        {"flash erase, 1000 ms", 0x8001,
         [](CGigeCamera& d) { return d.EraseFlashSector(0x3F0000, 0); }, 0, false},
        {"transfer test, 100 ms once", 0x8F01, [](CGigeCamera& d) { return d.RunTransferTest(0); },
         CAMERA_STATUS_COMM_ERROR, false},
    };
    for (const Case& c : cases) {
        rig.Camera().ClearCommands();
        rig.Camera().AddRule({c.command, 1, SimGvcpFault::kDelay, 150});
        EXPECT_EQ(c.call(rig.Device()), c.result) << c.what;
        rig.Camera().ClearRules();
        const size_t sends = gigetest::Only(rig.Camera(), c.command).size();
        if (c.resent)
            EXPECT_GE(sends, 2u) << c.what;
        else
            EXPECT_EQ(sends, 1u) << c.what;
    }
}

TEST_F(GigeSettings, TransferTest) {
    qvsim::CSimGigeFirmware& fw = rig.Sim().Firmware();
    CGigeCamera& d = rig.Device();
    EXPECT_EQ(d.RunTransferTest(0), 0);
    EXPECT_EQ(gigetest::Only(rig.Camera(), 0x8F02).size(), 0u);
    EXPECT_EQ(gigetest::Only(rig.Camera(), 0x8F01).size(), 1u);
    EXPECT_EQ(gigetest::Only(rig.Camera(), 0x8F03).size(), 1u);
    EXPECT_EQ(d.SetIntValue(10000, 3), 0);
    EXPECT_EQ(fw.GetCounters().testBlocks, 3u);
    for (const auto& c : gigetest::Only(rig.Camera(), 0x8F02)) {
        ASSERT_EQ(c.payload.size(), 540u);
        EXPECT_EQ(c.payload.front(), 0x5A);
        EXPECT_EQ(c.payload.back(), 0x5A);
    }
    fw.SetTransferTestCountOverride(2);
    EXPECT_EQ(d.RunTransferTest(3), CAMERA_STATUS_COMM_ERROR);
    fw.SetTransferTestCountOverride(std::nullopt);
    rig.Camera().AddRule({0x8F02, 1, SimGvcpFault::kErrorStatus, 0x8002});
    EXPECT_EQ(d.RunTransferTest(3), CAMERA_STATUS_COMM_ERROR);
}

TEST(GigeIntSettings, ById) {
    struct Board {
        uint32_t model;
        int outputs;   // id 8
        bool input11;  // id 11 answers
    };
    for (const Board b :
         {Board{0xAA310003, 1, false}, Board{0xAA310006, 4, false}, Board{0xAA320001, 1, true}}) {
        SimGigeImx290Options o;
        o.modelCode = b.model;
        CameraRig rig(o);
        ASSERT_EQ(rig.Open(), 0);
        CGigeCamera& d = rig.Device();
        qvsim::CSimGigeFirmware& fw = rig.Sim().Firmware();
        int v = -99;
        EXPECT_EQ(d.GetIntValue(8, nullptr), -6);
        EXPECT_EQ(d.GetIntValue(12345, nullptr), -6);  // the pointer first
        ASSERT_EQ(d.GetIntValue(8, &v), 0);
        EXPECT_EQ(v, b.outputs);
        EXPECT_EQ(d.SetIntValue(8, 1), -4);
        EXPECT_EQ(d.GetIntValue(9, &v), -1);  // no receiver
        EXPECT_EQ(d.SetIntValue(9, 3), -1);
        EXPECT_EQ(d.SetIntValue(10, 77), 0);
        EXPECT_EQ(fw.GetCounters().vendorValue, 77u);
        EXPECT_EQ(d.GetIntValue(10, &v), -4);
        fw.SetFpgaRegister(128, 0);
        if (b.input11) {
            ASSERT_EQ(d.GetIntValue(11, &v), 0);
            EXPECT_EQ(v, 1);
            fw.SetFpgaRegister(128, 1);
            ASSERT_EQ(d.GetIntValue(11, &v), 0);
            EXPECT_EQ(v, 0);
        } else {
            EXPECT_EQ(d.GetIntValue(11, &v), -4);
        }
        EXPECT_EQ(d.SetIntValue(11, 0), -4);
        EXPECT_EQ(d.GetIntValue(10000, &v), -4);
        EXPECT_EQ(d.GetIntValue(3, &v), -4);
        EXPECT_EQ(d.SetIntValue(3, 0), -4);

        // Id 12: 0 switches the signal to code 1 and keeps the code it had; non-zero puts it
        // back.
        ASSERT_EQ(d.SetTriggerSignalType(0, 3), 0);  // code 4
        ASSERT_EQ(d.GetIntValue(12, &v), 0);
        EXPECT_EQ(v, 1);
        ASSERT_EQ(d.SetIntValue(12, 0), 0);
        EXPECT_EQ((fw.FpgaRegister(20) >> 1) & 7, 1u);
        ASSERT_EQ(d.SetIntValue(12, 1), 0);
        EXPECT_EQ((fw.FpgaRegister(20) >> 1) & 7, 4u);
        fw.SetFpgaRegister(20, 5u << 1);
        ASSERT_EQ(d.GetIntValue(12, &v), 0);
        EXPECT_EQ(v, 0);
    }
}

TEST_F(GigeSettings, StreamSettingsReachTheReceiver) {
    CGigeCamera& d = rig.Device();
    EXPECT_EQ(d.SetResend(1, 10, 30, 3), 0);  // no stream: nothing to do
    EXPECT_EQ(d.SetStreamBufferCount(3), -1);
    CFrameBucket bucket(2);
    CameraInitParam p{};
    p.packetSize = 1500;
    p.frameCount = 4;
    ASSERT_EQ(d.OpenStream(bucket.GetProducer(), &p), 0);
    int count = 0;
    ASSERT_EQ(d.GetStreamBufferCount(&count), 0);
    EXPECT_EQ(count, 4);
    EXPECT_EQ(d.SetStreamBufferCount(0), -6);
    EXPECT_EQ(d.SetStreamBufferCount(11), -6);
    ASSERT_EQ(d.SetIntValue(9, 7), 0);
    ASSERT_EQ(d.GetIntValue(9, &count), 0);
    EXPECT_EQ(count, 7);
    ASSERT_EQ(d.StartCapture(), 0);
    EXPECT_EQ(d.SetStreamBufferCount(5), CAMERA_STATUS_BUSY);
    ASSERT_EQ(d.StopCapture(), 0);
    d.CloseStream();
    // The flash map's update procedure runs: without a file it ends at once.
    EXPECT_EQ(d.Upgrade("/nonexistent", nullptr, nullptr), CAMERA_STATUS_FILE_OPEN_FAILED);
}

// The receiver keeps the resend values in range: negative times and retries mean none.
TEST(GigeResendParam, Clamped) {
    CGVSPReceiverBySocket receiver(nullptr, LQComponent::Address(), 0);
    auto p = receiver.GetResendParam();
    EXPECT_TRUE(p.enable);
    EXPECT_EQ(p.percent, 0);
    EXPECT_EQ(p.timeoutMs, 30);
    EXPECT_EQ(p.retries, 3);
    receiver.SetResendParam(false, -5, -30, -3);
    p = receiver.GetResendParam();
    EXPECT_FALSE(p.enable);
    EXPECT_EQ(p.percent, 0);
    EXPECT_EQ(p.timeoutMs, 0);
    EXPECT_EQ(p.retries, 0);
    receiver.SetResendParam(true, 500, 40, 5);
    p = receiver.GetResendParam();
    EXPECT_EQ(p.percent, 100);
    EXPECT_EQ(p.timeoutMs, 40);
    EXPECT_EQ(p.retries, 5);
    int count = 0;
    ASSERT_EQ(receiver.GetFrameCount(&count), 0);
    EXPECT_EQ(count, 6);
    EXPECT_EQ(receiver.GetFrameCount(nullptr), -6);
}

}  // namespace
