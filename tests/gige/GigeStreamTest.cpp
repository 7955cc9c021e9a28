// The GigE camera's stream and register operations against the simulated camera: stream open
// with packet-size negotiation and its failures, capture start and stop, and the flash, sensor
// and FPGA operations that open and the sensor set-up reach.
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
using gigetest::Transactions;
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

// ---- Stream ---------------------------------------------------------------------------------

TEST(GigeStream, NegotiationFindsTheLargestSizeThatPasses) {
    SimGigeImx290Options o;
    o.testPacketLimit = 7000;
    CameraRig rig(o);
    ASSERT_EQ(rig.Open(), 0);
    CFrameBucket bucket(2);
    CameraInitParam p = StreamParam(9000);
    rig.Camera().ClearCommands();
    ASSERT_EQ(rig.Device().OpenStream(bucket.GetProducer(), &p), 0);
    int size = 0;
    ASSERT_EQ(rig.Device().GetOptimalPacketSize(&size), 0);
    EXPECT_EQ(size, 7000);
    std::vector<uint32_t> tried;
    for (const auto& c : Transactions(rig.Camera(), kWriteReg)) {
        const auto w = Pairs(c);
        if (w.size() == 2 && w[0] == 0x0D04) tried.push_back(w[1]);
    }
    EXPECT_EQ(tried,
              (std::vector<uint32_t>{9000 | 0xC0000000u, 8000 | 0xC0000000u, 7000 | 0xC0000000u}));
    EXPECT_NE(rig.Sim().Firmware().Register(0x0D24) & 0x200000u, 0u);
    rig.Device().CloseStream();
}

TEST(GigeStream, NoTestPacketEndsAt1500AfterEightTries) {
    SimGigeImx290Options o;
    o.testPacketLimit = 1000;
    CameraRig rig(o);
    ASSERT_EQ(rig.Open(), 0);
    CFrameBucket bucket(2);
    CameraInitParam p = StreamParam(9000);
    rig.Camera().ClearCommands();
    ASSERT_EQ(rig.Device().OpenStream(bucket.GetProducer(), &p), 0);
    int size = 0;
    rig.Device().GetOptimalPacketSize(&size);
    EXPECT_EQ(size, 1500);
    int tries = 0;
    for (const auto& c : Transactions(rig.Camera(), kWriteReg))
        if (Pairs(c)[0] == 0x0D04) ++tries;
    EXPECT_EQ(tries, 8);
    rig.Device().CloseStream();
}

TEST(GigeStream, PacketSizesWithoutNegotiation) {
    struct Case {
        int asked;
        uint32_t capability;
        int used;
        bool traffic;
    };
    const Case cases[] = {
        {1500, 0x300000, 1500, false},  // nothing to negotiate
        {8191, 0, 8188, false},         // low bits cleared; camera without negotiation
        {8191, 0x100000, 8188, false},  // negotiation without acquisition control
        {100, 0, 1500, false},          // brought into 1500..9000
        {20000, 0, 9000, false},
    };
    for (const Case& c : cases) {
        SimGigeImx290Options o;
        o.streamCapability = c.capability;
        CameraRig rig(o);
        ASSERT_EQ(rig.Open(), 0);
        CFrameBucket bucket(2);
        CameraInitParam p = StreamParam(c.asked);
        rig.Camera().ClearCommands();
        ASSERT_EQ(rig.Device().OpenStream(bucket.GetProducer(), &p), 0) << c.asked;
        int size = 0;
        rig.Device().GetOptimalPacketSize(&size);
        EXPECT_EQ(size, c.used) << c.asked;
        bool negotiated = false;
        for (const auto& cmd : Transactions(rig.Camera(), kWriteReg))
            negotiated |= Pairs(cmd)[0] == 0x0D04;
        EXPECT_EQ(negotiated, c.traffic) << c.asked;
        rig.Device().CloseStream();
    }
}

TEST(GigeStream, CaptureStartAndStopRegisters) {
    CameraRig rig;
    ASSERT_EQ(rig.Open(), 0);
    EXPECT_EQ(rig.Device().StartCapture(), -1);  // no receiver yet
    CFrameBucket bucket(2);
    CameraInitParam p = StreamParam(1500);
    ASSERT_EQ(rig.Device().OpenStream(bucket.GetProducer(), &p), 0);
    EXPECT_EQ(rig.Sim().Firmware().Register(0x0D00), 0u);
    rig.Camera().ClearCommands();
    ASSERT_EQ(rig.Device().StartCapture(), 0);
    auto writes = Transactions(rig.Camera(), kWriteReg);
    ASSERT_EQ(writes.size(), 2u);
    const auto start = Pairs(writes[0]);
    ASSERT_EQ(start.size(), 6u);
    EXPECT_EQ(start[0], 0x0D04u);
    EXPECT_EQ(start[1], 1500u);
    EXPECT_EQ(start[2], 0x0D00u);
    EXPECT_NE(start[3], 0u);
    EXPECT_EQ(start[4], 0x0D18u);
    EXPECT_EQ(start[5], 0xFFFFFFFFu);
    EXPECT_EQ(Pairs(writes[1]), (std::vector<uint32_t>{0x20000000, 1}));
    EXPECT_TRUE(rig.Sim().Firmware().AcquisitionRunning());
    EXPECT_GE(rig.Camera().DummiesReceived(), 1u);  // the receiver's first dummy

    rig.Camera().ClearCommands();
    ASSERT_EQ(rig.Device().StopCapture(), 0);
    writes = Transactions(rig.Camera(), kWriteReg);
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(Pairs(writes[0]), (std::vector<uint32_t>{0x20000004, 1}));
    EXPECT_EQ(Pairs(writes[1]), (std::vector<uint32_t>{0x0D00, 0, 0x0D18, 0}));
    EXPECT_FALSE(rig.Sim().Firmware().AcquisitionRunning());
    rig.Device().CloseStream();
    EXPECT_EQ(rig.Device().StopCapture(), -1);

    // Without acquisition control the acquisition registers are never written.
    SimGigeImx290Options o;
    o.streamCapability = 0;
    CameraRig plain(o);
    ASSERT_EQ(plain.Open(), 0);
    ASSERT_EQ(plain.Device().OpenStream(bucket.GetProducer(), &p), 0);
    ASSERT_EQ(plain.Device().StartCapture(), 0);
    ASSERT_EQ(plain.Device().StopCapture(), 0);
    for (const auto& c : Transactions(plain.Camera(), kWriteReg))
        EXPECT_NE(Pairs(c)[0], 0x20000000u);
    plain.Device().CloseStream();
}

// The receiver starts before the start registers are written; when they fail it is stopped
// again, so the stream stays as a stop left it (its buffer count can change, a start can follow).
TEST(GigeStream, FailedCaptureStartLeavesTheReceiverStopped) {
    CameraRig rig;
    ASSERT_EQ(rig.Open(), 0);
    CFrameBucket bucket(2);
    CameraInitParam p = StreamParam(1500);
    ASSERT_EQ(rig.Device().OpenStream(bucket.GetProducer(), &p), 0);
    rig.Camera().AddRule({kWriteReg, -1, SimGvcpFault::kDropCommand, 0});
    EXPECT_NE(rig.Device().StartCapture(), 0);
    rig.Camera().ClearRules();
    EXPECT_EQ(rig.Sim().Firmware().Register(0x0D00), 0u);
    EXPECT_EQ(rig.Device().SetStreamBufferCount(3), 0);  // -28 while the receiver runs
    ASSERT_EQ(rig.Device().StartCapture(), 0);
    EXPECT_EQ(rig.Device().SetStreamBufferCount(4), -28);
    ASSERT_EQ(rig.Device().StopCapture(), 0);
    rig.Device().CloseStream();
}

TEST(GigeStream, OpenFailuresReleaseThePrivilegeAndThrowNothing) {
    {
        CameraRig rig;
        ASSERT_EQ(rig.Open(), 0);
        CFrameBucket bucket(2);
        CameraInitParam p = StreamParam(1500);
        // The source port read fails.
        rig.Camera().AddRule({kReadReg, -1, SimGvcpFault::kErrorStatus, 0x8003});
        EXPECT_EQ(rig.Device().OpenStream(bucket.GetProducer(), &p), -1);
        rig.Camera().ClearRules();
        EXPECT_TRUE(WroteRegister(rig.Camera(), 0x0A00, 0));
        EXPECT_FALSE(rig.Sim().Firmware().CcpHolder().has_value());
    }
    {
        // A camera reporting source port 0: the dummy cannot be sent.
        CameraRig rig;
        ASSERT_EQ(rig.Open(), 0);
        rig.Sim().Firmware().SetStreamSourcePort(0);
        CFrameBucket bucket(2);
        CameraInitParam p = StreamParam(1500);
        EXPECT_EQ(rig.Device().OpenStream(bucket.GetProducer(), &p), CAMERA_STATUS_IO_ERROR);
        // With negotiation its dummy fails first; the stream then runs at 1500 and fails in
        // the receiver's open the same way.
        CameraInitParam q = StreamParam(9000);
        EXPECT_EQ(rig.Device().OpenStream(bucket.GetProducer(), &q), CAMERA_STATUS_IO_ERROR);
    }
}

// ---- Flash, sensor and FPGA ------------------------------------------------------------------

class GigeOpened : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(rig.Open(), 0);
        rig.Camera().ClearCommands();
    }
    std::vector<uint32_t> Lengths(uint16_t code, size_t at) {
        std::vector<uint32_t> out;
        for (const auto& c : Transactions(rig.Camera(), code)) out.push_back(Be32(c.payload, at));
        return out;
    }
    CameraRig rig;
};

TEST_F(GigeOpened, FlashInPieces) {
    std::vector<uint8_t> data(1200);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
    ASSERT_EQ(rig.Device().EraseFlashSector(0x300000, 0), 0);
    ASSERT_EQ(rig.Device().WriteFlash(0x300000, 1200, data.data()), 0);
    EXPECT_EQ(Lengths(kFlashWrite, 4), (std::vector<uint32_t>{532, 532, 136}));
    EXPECT_EQ(rig.Sim().Firmware().ErasedSectors().back(), 0x300000u);
    std::vector<uint8_t> back(1200);
    ASSERT_EQ(rig.Device().ReadFlash(0x300000, 1200, back.data()), 0);
    EXPECT_EQ(Lengths(kFlashRead, 4), (std::vector<uint32_t>{540, 540, 120}));
    EXPECT_EQ(back, data);
    EXPECT_EQ(rig.Device().ReadFlash(0x300000, 0, back.data()), 0);
    uint8_t eeprom[4];
    EXPECT_EQ(rig.Device().ReadEEProm(0, eeprom, 4), CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(rig.Device().WriteEEProm(0, eeprom, 4), CAMERA_STATUS_NOT_SUPPORTED);
}

TEST_F(GigeOpened, FlashAnswersOfTheWrongLength) {
    std::vector<uint8_t> back(600, 0xAB);
    // An answer without data would never advance; one with more than asked was not copied.
    rig.Camera().SetAnswerEditor([](uint16_t command, std::vector<uint8_t>& d) {
        if (command == kFlashRead) {
            d.resize(8);
            d[4] = d[5] = 0;
        }
    });
    EXPECT_EQ(rig.Device().ReadFlash(0, 100, back.data()), CAMERA_STATUS_COMM_ERROR);
    rig.Camera().SetAnswerEditor({});
    rig.Camera().AddRule({kFlashRead, 1, SimGvcpFault::kLong, 16});
    EXPECT_EQ(rig.Device().ReadFlash(0, 100, back.data()), CAMERA_STATUS_COMM_ERROR);
    // A failed piece ends the write; the pieces before it stay written.
    rig.Camera().ClearCommands();
    std::vector<uint8_t> zeros(1200, 0);
    rig.Camera().AddRule({kFlashWrite, 0, SimGvcpFault::kDropAnswer});
    rig.Camera().ClearRules();
    ASSERT_EQ(rig.Device().EraseFlashSector(0x301000, 0), 0);
    rig.Camera().AddRule({kFlashWrite, -1, SimGvcpFault::kErrorStatus, 0x8002});
    EXPECT_EQ(rig.Device().WriteFlash(0x301000, 1200, zeros.data()), -1);
    EXPECT_EQ(Only(rig.Camera(), kFlashWrite).size(), 3u);  // the first piece, three tries
}

TEST_F(GigeOpened, SensorListsInChunksWithTheirTimeouts) {
    std::vector<uint16_t> list;
    for (uint16_t i = 0; i < 300; ++i)
        list.insert(list.end(), {static_cast<uint16_t>(0x3000 + i), i});
    ASSERT_EQ(rig.Device().SetSensorBus(0x34, 0x12), 0);
    ASSERT_EQ(rig.Device().WriteSensorRegs(list), 0);
    const auto writes = Transactions(rig.Camera(), 0x8007);
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[0].payload.size(), 2u + 4 * 134);
    EXPECT_EQ(writes[1].payload.size(), 2u + 4 * 134);
    EXPECT_EQ(writes[2].payload.size(), 2u + 4 * 32);
    EXPECT_EQ(rig.Sim().Firmware().SensorBusAddress(), 0x34);
    EXPECT_EQ(rig.Sim().Firmware().SensorBusWidths(), 0x12);
    EXPECT_EQ(rig.Sim().Firmware().SensorRegister(0x34, 0x3000 + 299), 299);
    // A pause in the list lengthens its chunk's wait: the camera answers after 800 ms, beyond
    // the 620 ms a two-pair list waits otherwise.
    rig.Camera().ClearCommands();
    EXPECT_EQ(rig.Device().WriteSensorRegs({0x3001, 5, 0xFFFF, 800}), 0);
    EXPECT_EQ(Transactions(rig.Camera(), 0x8007).size(), 1u);
    uint16_t value = 0;
    ASSERT_EQ(rig.Device().ReadSensorReg(0x3001, &value), 0);
    EXPECT_EQ(value, 5);
    rig.Camera().AddRule({0x8008, 1, SimGvcpFault::kLong, 2});
    EXPECT_EQ(rig.Device().ReadSensorReg(0x3001, &value), CAMERA_STATUS_COMM_ERROR);
    rig.Camera().AddRule({0x8008, -1, SimGvcpFault::kDropAnswer});
    EXPECT_EQ(rig.Device().ReadSensorReg(0x3001, &value), CAMERA_STATUS_COMM_ERROR);
}

TEST_F(GigeOpened, FpgaRegistersAndTheImagePath) {
    qvsim::CSimGigeFirmware& fw = rig.Sim().Firmware();
    CGigeCamera& d = rig.Device();
    ASSERT_EQ(d.SetImageWindow(16, 8, 1280, 1024, 1920, 1080, 8), 0);
    EXPECT_EQ(fw.FpgaRegister(14), 1310720u);
    EXPECT_EQ(fw.FpgaRegister(10), (8u << 16) | 16u);
    EXPECT_EQ(fw.FpgaRegister(6), 1280u);
    EXPECT_EQ(fw.FpgaRegister(7), 1024u);
    EXPECT_EQ(fw.FpgaRegister(33), (1080u << 16) | 1920u);
    ASSERT_EQ(d.SetImageWindow(0, 0, 1280, 1024, 0, 0, 12), 0);
    EXPECT_EQ(fw.FpgaRegister(14), 1966080u);
    // b below c + 1: the low half wraps within itself, the high half stays (a - 1).
    ASSERT_EQ(d.SetImageTiming(100, 5, 10), 0);
    EXPECT_EQ(fw.FpgaRegister(31), (99u << 16) | 0xFFFAu);
    EXPECT_EQ(fw.FpgaRegister(32), 9u);
    ASSERT_EQ(d.SetFrameBuffer(0x100, 0x900, 0x200, 1), 0);
    EXPECT_EQ(fw.FpgaRegister(13), 0x200u | (1u << 30));
    fw.SetFpgaRegister(15, 0xFFFF0000);
    ASSERT_EQ(d.SetSensorInterface(0xFFFF), 0);
    EXPECT_EQ(fw.FpgaRegister(15), 0xFFFF31FFu);
    ASSERT_EQ(d.WriteFpgaRegs({40, 1, 0xFFFFFFFF, 300, 41, 2}), 0);  // a 300 ms pause inside
    EXPECT_EQ(fw.FpgaRegister(41), 2u);
    fw.SetFpgaRegister(0, 0xABCD1234);
    uint16_t version = 0;
    ASSERT_EQ(d.GetFpgaVersion(&version), 0);
    EXPECT_EQ(version, 0x1234);
    ASSERT_EQ(d.SetPll(1, 2, 3, 4, 5, 6, 7, 8), 0);
    EXPECT_EQ(fw.GetCounters().lastPll, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
    rig.Camera().AddRule({0x8011, -1, SimGvcpFault::kShort, 10});
    uint32_t v = 0;
    EXPECT_EQ(d.ReadFpgaReg(0, &v), CAMERA_STATUS_COMM_ERROR);
    rig.Camera().ClearRules();
    // A two-byte answer announced as such.
    rig.Camera().SetAnswerEditor([](uint16_t command, std::vector<uint8_t>& dg) {
        if (command == 0x8011) {
            dg.resize(10);
            dg[5] = 2;
        }
    });
    EXPECT_EQ(d.ReadFpgaReg(0, &v), CAMERA_STATUS_COMM_ERROR);
}

}  // namespace
