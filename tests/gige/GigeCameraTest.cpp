// The GigE camera device against the simulated camera: Open's command sequence and failures,
// reference counting, the alive check and the heartbeat.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <atomic>
#include <functional>
#include <chrono>
#include <thread>
#include <vector>

#include "GigeTestRig.h"
#include "LogCapture.h"
#include "device/CameraInitParam.h"
#include "frames/FrameBucket.h"
#include "gige/GVSPReceiver.h"
#include "services/TimerMng.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using gigetest::Be32;
using gigetest::CameraRig;
using gigetest::Only;
using gigetest::Pairs;
using gigetest::ScopedEnv;
using qvsim::SimGvcpFault;

constexpr uint16_t kReadReg = 0x0080;
constexpr uint16_t kWriteReg = 0x0082;
constexpr uint16_t kReadMem = 0x0084;
constexpr uint16_t kFlashRead = 0x8003;
constexpr uint16_t kFlashWrite = 0x8002;

CameraInitParam StreamParam(int packetSize = 1500, int heartbeat = 0) {
    CameraInitParam p{};
    p.packetSize = packetSize;
    p.heartbeat = heartbeat;
    p.mediaType = 0x01080000;
    return p;
}

bool WroteRegister(qvsim::CSimGigeCamera& camera, uint32_t address, uint32_t value) {
    for (const auto& c : Only(camera, kWriteReg)) {
        const auto words = Pairs(c);
        for (size_t i = 0; i + 1 < words.size(); i += 2)
            if (words[i] == address && words[i + 1] == value) return true;
    }
    return false;
}

// ---- Open and close --------------------------------------------------------------------------

TEST(GigeOpen, CommandSequenceAndReferenceCount) {
    ScopedEnv env("QVCAM_GIGE_DEBUG_HEARTBEAT", nullptr);
    CameraRig rig;
    qvsim::LogCapture log;
    ASSERT_EQ(rig.Open(), 0);
    const auto c = gigetest::AllTransactions(rig.Camera());
    ASSERT_GE(c.size(), 5u);
    EXPECT_EQ(c[0].command, kWriteReg);
    EXPECT_EQ(Pairs(c[0]), (std::vector<uint32_t>{0x0A00, 2, 0x0938, 5000, 0x0954, 0}));
    EXPECT_EQ(c[0].reqId, 2);  // 1 after Open, advanced once per transaction
    EXPECT_EQ(c[1].command, kReadReg);
    EXPECT_EQ(Be32(c[1].payload, 0), 0x0934u);
    EXPECT_EQ(c[2].command, kReadReg);
    EXPECT_EQ(Be32(c[2].payload, 0), 0x0D20u);
    EXPECT_EQ(c[3].command, kReadMem);
    EXPECT_EQ(Be32(c[3].payload, 0), 0x30024u);
    EXPECT_EQ(c[4].command, kFlashRead);  // the storage object reads its blocks
    EXPECT_EQ(log.Count("GigE Camera open successfully!\n"), 1);
    EXPECT_EQ(rig.Device().GetHardwareType(), 201);
    EXPECT_TRUE(rig.Sim().Firmware().CcpHolder().has_value());
    DevAccessStatus status{};
    ASSERT_EQ(rig.Device().GetAccessStatus(&status), 0);
    EXPECT_EQ(status.openCount, 1);
    EXPECT_STREQ(status.description, "QV GiGEVison camera");

    // A second open shares the device without traffic; only the last close lets it go.
    rig.Camera().ClearCommands();
    ASSERT_EQ(rig.Open(), 0);
    rig.Close();
    std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(rig.Camera().Commands().empty());
    EXPECT_TRUE(rig.Sim().Firmware().CcpHolder().has_value());
    rig.Close();
    EXPECT_TRUE(WroteRegister(rig.Camera(), 0x0A00, 0));
    EXPECT_FALSE(rig.Sim().Firmware().CcpHolder().has_value());
    EXPECT_EQ(log.Count("GigE Camera close\r\n"), 1);
    // Closed: the in-use bits of its own answer are cleared until the camera answers again.
    EXPECT_FALSE(rig.Device().IsInUse());
}

TEST(GigeOpen, HeartbeatTimeoutFromTheEnvironment) {
    struct Case {
        const char* value;
        int expected;
    };
    const Case cases[] = {{nullptr, 5000},  {"", 5000}, {"1", 5000},    {"4999", 5000},
                          {"0", 0},         {"abc", 0}, {"5000", 5000}, {"20000", 20000},
                          {"7000ms", 7000}, {"-5", -5}};
    for (const Case& c : cases) {
        ScopedEnv env("QVCAM_GIGE_DEBUG_HEARTBEAT", c.value);
        EXPECT_EQ(CGigeCamera::HeartbeatTimeoutFromEnvironment(), c.expected)
            << (c.value != nullptr ? c.value : "unset");
    }
    ScopedEnv env("QVCAM_GIGE_DEBUG_HEARTBEAT", "20000");
    CameraRig rig;
    ASSERT_EQ(rig.Open(), 0);
    EXPECT_EQ(rig.Sim().Firmware().Register(0x0938), 20000u);
}

TEST(GigeOpen, Failures) {
    struct Case {
        const char* what;
        std::function<void(CameraRig&)> arrange;
        int expected;
        bool privilegeReleased;
        bool privilegeHeld;  // by anyone, afterwards
    };
    const Case cases[] = {
        // The camera granted the privilege, but the answers were lost: it keeps it for the dead
        // socket until its heartbeat expires.
        {"answers to the privilege request lost",
         [](CameraRig& r) {
             r.Camera().AddRule({kWriteReg, -1, SimGvcpFault::kDropAnswer});
         },
         -1, false, true},
        {"privilege held by another host",
         [](CameraRig& r) {
             qvsim::CSimGigeFirmware::Request take;
             take.command = kWriteReg;
             take.payload = {0, 0, 0x0A, 0, 0, 0, 0, 2};
             take.fromIp = htonl(0x7F000009);
             take.fromPort = 4000;
             r.Sim().Firmware().Execute(take, Clock::now());
         },
         -1, false, true},
        {"flash never written",
         [](CameraRig& r) {
             const std::vector<uint8_t> erased(4u << 20, 0xFF);
             r.Sim().Firmware().WriteFlashBytes(0, erased);
         },
         CAMERA_STATUS_DEVICE_OPEN_FAILED, true, false},
        {"a model word no GigE board carries",
         [](CameraRig& r) {
             SimGigeImx290Options o;
             o.modelCode = 0xAA220002;  // a USB board's
             CSimGigeImx290Camera::StoreIdentity(r.Sim().Firmware(), o);
         },
         CAMERA_STATUS_DEVICE_OPEN_FAILED, true, false},
    };
    for (const Case& c : cases) {
        CameraRig rig;
        c.arrange(rig);
        EXPECT_EQ(rig.Open(), c.expected) << c.what;
        EXPECT_EQ(rig.Sim().Firmware().CcpHolder().has_value(), c.privilegeHeld) << c.what;
        EXPECT_EQ(WroteRegister(rig.Camera(), 0x0A00, 0), c.privilegeReleased) << c.what;
        DevAccessStatus status{};
        rig.Device().GetAccessStatus(&status);
        EXPECT_EQ(status.openCount, 0) << c.what;
        // The device is closed: it sends nothing.
        rig.Camera().ClearRules();
        uint32_t v = 0;
        EXPECT_EQ(rig.Device().ReadReg(0x0A00, &v, 50, 1), CAMERA_STATUS_HARDWARE_NOT_FOUND);
    }
    // Requests that never reached the camera: a later open starts over and succeeds.
    CameraRig rig;
    rig.Camera().AddRule({kWriteReg, 3, SimGvcpFault::kDropCommand});
    EXPECT_EQ(rig.Open(), -1);
    EXPECT_EQ(rig.Open(), 0);
}

// ---- Alive check ----------------------------------------------------------------------------

TEST(GigeAlive, ProbeOfAnUnopenedCamera) {
    CameraRig rig;
    EXPECT_TRUE(rig.Device().CheckAlive());
    auto probes = Only(rig.Camera(), kReadReg);
    ASSERT_GE(probes.size(), 1u);  // sent again only when the answer was late
    EXPECT_EQ(probes[0].reqId, 1);
    EXPECT_EQ(Be32(probes[0].payload, 0), 0x0A00u);

    struct Case {
        const char* what;
        SimGvcpFault fault;
        int value;
    };
    const Case cases[] = {{"another id", SimGvcpFault::kWrongId, 1},
                          {"longer answer", SimGvcpFault::kLong, 4},
                          {"error status", SimGvcpFault::kErrorStatus, 0x8001},
                          {"another code", SimGvcpFault::kWrongCode, 0}};
    for (const Case& c : cases) {
        rig.Camera().ClearRules();
        rig.Camera().AddRule({kReadReg, 1, c.fault, c.value});
        EXPECT_FALSE(rig.Device().CheckAlive()) << c.what;
    }
    rig.Camera().ClearRules();
    rig.Camera().ClearCommands();
    rig.Camera().Mute(true);
    EXPECT_FALSE(rig.Device().CheckAlive());
    rig.Camera().Mute(false);
    EXPECT_TRUE(rig.Device().CheckAlive());
}

TEST(GigeAlive, OpenCameraAnswersOverItsChannel) {
    CameraRig rig;
    ASSERT_EQ(rig.Open(), 0);
    EXPECT_TRUE(rig.Device().CheckAlive());
    rig.Camera().Mute(true);
    EXPECT_FALSE(rig.Device().CheckAlive());
    rig.Camera().Mute(false);
}

// ---- Heartbeat -------------------------------------------------------------------------------

int g_callbacks = 0;
void CountDisconnect(void*, int status, void* context) {
    EXPECT_EQ(status, 0);
    EXPECT_EQ(context, &g_callbacks);
    ++g_callbacks;
}

class GigeHeartbeat : public ::testing::Test {
  protected:
    void OpenStream() {
        ASSERT_EQ(rig.Open(), 0);
        CameraInitParam p = StreamParam();
        ASSERT_EQ(rig.Device().OpenStream(bucket.GetProducer(), &p), 0);
        rig.Device().SetDisconnectCallback(CountDisconnect, &g_callbacks);
        g_callbacks = 0;
    }
    void TearDown() override {
        rig.Device().SetDisconnectCallback(nullptr, nullptr);
        rig.Device().CloseStream();
    }
    CameraRig rig;
    CFrameBucket bucket{2};
};

TEST_F(GigeHeartbeat, TwoMissesThenAPassIsNoLoss) {
    OpenStream();
    rig.Camera().Mute(true);
    EXPECT_EQ(rig.Device().HeartbeatCheck(100), 0);
    EXPECT_EQ(rig.Device().HeartbeatCheck(100), 0);
    rig.Camera().Mute(false);
    EXPECT_EQ(rig.Device().HeartbeatCheck(100), 0);
    rig.Camera().Mute(true);
    EXPECT_EQ(rig.Device().HeartbeatCheck(100), 0);
    EXPECT_EQ(rig.Device().HeartbeatCheck(100), 0);
    EXPECT_EQ(bucket.GetStatus(), 0);
    EXPECT_EQ(g_callbacks, 0);
    rig.Camera().Mute(false);
}

TEST_F(GigeHeartbeat, ThreeMissesWithAStreamReportLossOnce) {
    OpenStream();
    rig.Camera().Mute(true);
    for (int i = 0; i < 3; ++i) rig.Device().HeartbeatCheck(100);
    EXPECT_EQ(bucket.GetStatus(), CAMERA_STATUS_DEVICE_LOST);
    EXPECT_EQ(g_callbacks, 1);
    // Counting starts again: two more misses report nothing more.
    rig.Device().HeartbeatCheck(100);
    rig.Device().HeartbeatCheck(100);
    EXPECT_EQ(g_callbacks, 1);
    rig.Device().HeartbeatCheck(100);
    EXPECT_EQ(g_callbacks, 2);
    rig.Camera().Mute(false);
}

TEST_F(GigeHeartbeat, ChecksOfTheReceiveThreadNeverCount) {
    OpenStream();
    rig.Camera().Mute(true);
    for (int i = 0; i < 5; ++i) rig.Device().HeartbeatCheck(0);
    EXPECT_EQ(bucket.GetStatus(), 0);
    EXPECT_EQ(g_callbacks, 0);
    rig.Camera().Mute(false);
}

TEST_F(GigeHeartbeat, WithoutAStreamNothingIsPosted) {
    ASSERT_EQ(rig.Open(), 0);
    rig.Device().SetDisconnectCallback(CountDisconnect, &g_callbacks);
    g_callbacks = 0;
    rig.Camera().Mute(true);
    for (int i = 0; i < 4; ++i) rig.Device().HeartbeatCheck(100);
    EXPECT_EQ(g_callbacks, 0);
    rig.Camera().Mute(false);
    // A closed stream's producer is forgotten: a loss afterwards posts nowhere.
    CameraInitParam p = StreamParam();
    ASSERT_EQ(rig.Device().OpenStream(bucket.GetProducer(), &p), 0);
    ASSERT_EQ(rig.Device().CloseStream(), 0);
    rig.Camera().Mute(true);
    for (int i = 0; i < 3; ++i) rig.Device().HeartbeatCheck(100);
    EXPECT_EQ(g_callbacks, 0);
    EXPECT_EQ(bucket.GetStatus(), 0);
    rig.Camera().Mute(false);
}

// A stream opened with a heartbeat time of its own: the camera gets it (raised to 5000 ms when
// shorter), the record shows what was used, and the checks go on keeping the privilege. Zero
// leaves the camera with the time of the open.
TEST(GigeStreamHeartbeat, NonZeroValueReachesTheCameraAndTheRecord) {
    struct Case {
        int asked;
        int used;      // 0: nothing written
        int periodMs;  // of the heartbeat timer afterwards
    };
    // Zero first: it keeps the period of the open, which a later stream would have changed.
    const Case cases[] = {{0, 0, 3000},         {1, 5000, 3000},    {3000, 5000, 3000},
                          {4999, 5000, 3000},   {5000, 5000, 3000}, {10000, 10000, 8000},
                          {12000, 12000, 10000}};
    CameraRig rig;
    ASSERT_EQ(rig.Open(), 0);
    EXPECT_EQ(rig.Device().HeartbeatPeriodMs(), 3000);
    qvsim::CSimGigeFirmware& fw = rig.Sim().Firmware();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.asked);
        fw.SetRegister(0x0938, 7777);  // what the camera had before this stream
        CFrameBucket bucket(2);
        CameraInitParam p = StreamParam(1500, c.asked);
        rig.Camera().ClearCommands();
        ASSERT_EQ(rig.Device().OpenStream(bucket.GetProducer(), &p), 0);
        EXPECT_EQ(p.heartbeat, c.used);
        EXPECT_EQ(rig.Device().HeartbeatPeriodMs(), c.periodMs);
        if (c.used != 0) {
            EXPECT_TRUE(WroteRegister(rig.Camera(), 0x0938, static_cast<uint32_t>(c.used)));
            EXPECT_EQ(fw.Register(0x0938), static_cast<uint32_t>(c.used));
        } else {
            for (const auto& w : Only(rig.Camera(), kWriteReg)) EXPECT_NE(Pairs(w)[0], 0x0938u);
            EXPECT_EQ(fw.Register(0x0938), 7777u);
        }
        // The checks still pass and keep the privilege, through the stream's close too.
        EXPECT_EQ(rig.Device().HeartbeatCheck(100), 0);
        EXPECT_TRUE(fw.CcpHolder().has_value());
        EXPECT_EQ(bucket.GetStatus(), 0);
        ASSERT_EQ(rig.Device().CloseStream(), 0);
        EXPECT_TRUE(fw.CcpHolder().has_value());
    }
    rig.Close();
    EXPECT_EQ(rig.Device().HeartbeatPeriodMs(), 0);
}

TEST(GigeHeartbeatType200, RewritesThePrivilege) {
    SimGigeImx290Options o;
    o.modelCode = 0xAA310001;
    CameraRig rig(o);
    ASSERT_EQ(rig.Open(), 0);
    EXPECT_EQ(rig.Device().GetHardwareType(), 200);
    rig.Camera().ClearCommands();
    rig.Device().HeartbeatCheck(100);
    const auto c = rig.Camera().Commands();
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].command, kWriteReg);
    EXPECT_EQ(Pairs(c[0]), (std::vector<uint32_t>{0x0A00, 2}));
}

}  // namespace
