// The GVCP channel of the camera device against the simulated camera: exact command bytes, the
// request-id sequence, tries and timeouts, late, stale, foreign and malformed answers, and
// PACKETRESEND beside transactions from other threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <thread>
#include <vector>

#include "GigeTestRig.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using gigetest::Be32;
using gigetest::CameraRig;
using gigetest::Only;
using qvsim::SimGvcpFault;
namespace gige = qv::gige;

constexpr uint16_t kReadReg = 0x0080;
constexpr uint16_t kWriteReg = 0x0082;
constexpr uint16_t kReadMem = 0x0084;
constexpr uint16_t kWriteMem = 0x0086;
constexpr uint16_t kResend = 0x0040;

class GvcpChannel : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(rig.Open(), 0);
        rig.Camera().ClearCommands();
        rig.Sim().Firmware().SetRegister(0x1234, 0xCAFEF00D);
    }
    CameraRig rig;
};

TEST_F(GvcpChannel, CommandBytes) {
    CGigeCamera& d = rig.Device();
    uint32_t v = 0;
    ASSERT_EQ(d.ReadReg(0x1234, &v, 1000, 3), 0);
    EXPECT_EQ(v, 0xCAFEF00Du);
    ASSERT_EQ(d.WriteRegs({0x2000, 1, 0x2004, 0xFFFFFFFF, 0x2008, 3}, 1000, 3), 0);
    uint8_t mem[32];
    ASSERT_EQ(d.ReadMem(gige::kMemHardwareVersion, mem, sizeof mem), 0);
    EXPECT_STREQ(reinterpret_cast<char*>(mem), "v1.0");
    ASSERT_EQ(d.SendPacketResend(0x1234, 5, 0x010203), 0);
    ASSERT_TRUE(rig.Camera().WaitFor([](const auto& c) { return c.size() >= 4; }, 5s));

    const auto c = gigetest::AllTransactions(rig.Camera());
    ASSERT_EQ(c.size(), 4u);
    EXPECT_EQ(c[0].flags, 0x01);
    EXPECT_EQ(c[0].command, kReadReg);
    EXPECT_EQ(c[0].payload, (std::vector<uint8_t>{0, 0, 0x12, 0x34}));
    EXPECT_EQ(c[1].command, kWriteReg);
    EXPECT_EQ(gigetest::Pairs(c[1]),
              (std::vector<uint32_t>{0x2000, 1, 0x2004, 0xFFFFFFFF, 0x2008, 3}));
    EXPECT_EQ(c[1].reqId, c[0].reqId + 1);
    EXPECT_EQ(c[2].command, kReadMem);
    EXPECT_EQ(c[2].payload, (std::vector<uint8_t>{0, 3, 0, 0x24, 0, 0, 0, 32}));
    // PACKETRESEND: no acknowledge asked for, request id 0, stream channel 0.
    EXPECT_EQ(c[3].command, kResend);
    EXPECT_EQ(c[3].flags, 0x00);
    EXPECT_EQ(c[3].reqId, 0);
    EXPECT_EQ(c[3].payload, (std::vector<uint8_t>{0, 0, 0x12, 0x34, 0, 0, 0, 5, 0, 1, 2, 3}));
    EXPECT_EQ(rig.Sim().Firmware().Register(0x2004), 0xFFFFFFFFu);
    // PACKETRESEND leaves the request id where it was.
    ASSERT_EQ(d.ReadReg(0x1234, &v, 1000, 3), 0);
    EXPECT_EQ(gigetest::Transactions(rig.Camera(), kReadReg).back().reqId, c[2].reqId + 1);
}

TEST_F(GvcpChannel, RequestIdWrapsFromFfffToOne) {
    CGigeCamera& d = rig.Device();
    uint32_t v = 0;
    ASSERT_EQ(d.ReadReg(0x1234, &v, 1000, 3), 0);
    uint16_t id = Only(rig.Camera(), kReadReg).back().reqId;
    // A transaction of no tries advances the id without traffic.
    while (id != 0xFFFE) {
        EXPECT_EQ(d.Transact(kReadReg, nullptr, 0, kReadReg + 1, nullptr, nullptr, 100, 0), 0);
        ++id;
    }
    EXPECT_EQ(gigetest::Transactions(rig.Camera(), kReadReg).size(), 1u);  // tries 0: no send
    ASSERT_EQ(d.ReadReg(0x1234, &v, 1000, 3), 0);
    ASSERT_EQ(d.ReadReg(0x1234, &v, 1000, 3), 0);
    const auto reads = gigetest::Transactions(rig.Camera(), kReadReg);
    ASSERT_EQ(reads.size(), 3u);
    EXPECT_EQ(reads[1].reqId, 0xFFFF);
    EXPECT_EQ(reads[2].reqId, 1);
}

TEST_F(GvcpChannel, LateAnswerOfAnEarlierTrySatisfiesALaterWait) {
    CGigeCamera& d = rig.Device();
    // The first answer comes after the first wait has given up; the second try's wait takes it.
    rig.Camera().AddRule({kReadReg, 1, SimGvcpFault::kDelay, 300});
    uint32_t v = 0;
    EXPECT_EQ(d.ReadReg(0x1234, &v, 100, 10), 0);
    EXPECT_EQ(v, 0xCAFEF00Du);
    const auto reads = Only(rig.Camera(), kReadReg);
    ASSERT_GE(reads.size(), 2u);
    for (const auto& r : reads) EXPECT_EQ(r.reqId, reads[0].reqId);  // one id for every try
    // The answers to the later tries are stale for the next transaction.
    rig.Sim().Firmware().SetRegister(0x1234, 7);
    ASSERT_EQ(d.ReadReg(0x1234, &v, 1000, 3), 0);
    EXPECT_EQ(v, 7u);
}

TEST_F(GvcpChannel, ErrorStatusIsTriedAgain) {
    CGigeCamera& d = rig.Device();
    rig.Camera().AddRule({kReadReg, 1, SimGvcpFault::kErrorStatus, 0x8001});
    uint32_t v = 0;
    EXPECT_EQ(d.ReadReg(0x1234, &v, 2000, 3), 0);
    EXPECT_EQ(Only(rig.Camera(), kReadReg).size(), 2u);
    rig.Camera().ClearCommands();
    rig.Camera().AddRule({kReadReg, -1, SimGvcpFault::kErrorStatus, 0x8006});
    EXPECT_EQ(d.ReadReg(0x1234, &v, 2000, 3), -1);
    EXPECT_EQ(Only(rig.Camera(), kReadReg).size(), 3u);
}

// Answers the wait must not take: each is skipped, so the wait ends when the time runs out.
TEST_F(GvcpChannel, MalformedAnswersAreNotTaken) {
    CGigeCamera& d = rig.Device();
    struct Case {
        const char* what;
        SimGvcpFault fault;
        int value;
        int expected;
    };
    const Case cases[] = {
        {"shorter than the header", SimGvcpFault::kShort, 7, -12},
        {"header only, payload announced", SimGvcpFault::kShort, 8, -12},
        {"payload cut short", SimGvcpFault::kShort, 10, -12},
        {"length beyond the datagram", SimGvcpFault::kLengthBeyond, 4, -12},
        {"another request id", SimGvcpFault::kWrongId, 1, -12},
        {"another acknowledge code", SimGvcpFault::kWrongCode, 0, -12},
        {"eight bytes of value", SimGvcpFault::kLong, 4, -14},
        {"error status", SimGvcpFault::kErrorStatus, 0x8003, -1},
    };
    for (const Case& c : cases) {
        rig.Camera().ClearRules();
        rig.Camera().AddRule({kReadReg, 1, c.fault, c.value});
        uint32_t v = 0xAAAA;
        EXPECT_EQ(d.ReadReg(0x1234, &v, 300, 1), c.expected) << c.what;
        EXPECT_EQ(v, 0xAAAAu) << c.what;
        // The channel works on.
        ASSERT_EQ(d.ReadReg(0x1234, &v, 2000, 3), 0) << c.what;
        EXPECT_EQ(v, 0xCAFEF00Du) << c.what;
    }
}

TEST_F(GvcpChannel, AnswerLargerThanTheCapacityCopiesNothing) {
    CGigeCamera& d = rig.Device();
    const uint8_t address[8] = {0, 0, 0x12, 0x34, 0, 0, 0x12, 0x34};
    uint8_t out[4] = {1, 2, 3, 4};
    size_t len = sizeof out;
    // Two registers asked for, room for one.
    ASSERT_EQ(d.Transact(kReadReg, address, sizeof address, kReadReg + 1, out, &len, 1000, 3), 0);
    EXPECT_EQ(len, 8u);
    EXPECT_EQ(out[0], 1);
    len = 8;
    uint8_t both[8] = {};
    ASSERT_EQ(d.Transact(kReadReg, address, sizeof address, kReadReg + 1, both, &len, 1000, 3), 0);
    EXPECT_EQ(Be32(std::vector<uint8_t>(both, both + 8), 4), 0xCAFEF00Du);
}

TEST_F(GvcpChannel, SeveralRegistersInOneRead) {
    CGigeCamera& d = rig.Device();
    rig.Sim().Firmware().SetRegister(0x2000, 7);
    std::map<unsigned int, unsigned int> regs{{0x2000, 0}, {0x1234, 0}, {gige::kRegCcp, 0}};
    ASSERT_EQ(d.ReadRegs(regs, 1000, 3), 0);
    EXPECT_EQ(regs, (std::map<unsigned int, unsigned int>{
                        {0x1234, 0xCAFEF00D}, {0x2000, 7}, {gige::kRegCcp, gige::kCcpControl}}));
    const auto reads = gigetest::Transactions(rig.Camera(), kReadReg);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].flags, 0x01);
    EXPECT_EQ(reads[0].payload,
              (std::vector<uint8_t>{0, 0, 0x0A, 0, 0, 0, 0x12, 0x34, 0, 0, 0x20, 0}));

    // An answer with a value more or one fewer than asked for leaves every value as it was.
    struct Case {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> edit;
        int result;
    };
    const Case cases[] = {
        {"a value more",
         [](std::vector<uint8_t>& dg) {
             dg.insert(dg.end(), {0, 0, 0, 9});
             dg[5] = static_cast<uint8_t>(dg.size() - 8);
         },
         CAMERA_STATUS_COMM_ERROR},
        {"a value fewer",
         [](std::vector<uint8_t>& dg) {
             dg.resize(dg.size() - 4);
             dg[5] = static_cast<uint8_t>(dg.size() - 8);
         },
         CAMERA_STATUS_COMM_ERROR},
    };
    for (const Case& c : cases) {
        rig.Camera().SetAnswerEditor([&](uint16_t command, std::vector<uint8_t>& dg) {
            if (command == kReadReg) c.edit(dg);
        });
        std::map<unsigned int, unsigned int> two{{0x1234, 1}, {0x2000, 2}};
        EXPECT_EQ(d.ReadRegs(two, 300, 1), c.result) << c.what;
        EXPECT_EQ(two, (std::map<unsigned int, unsigned int>{{0x1234, 1}, {0x2000, 2}})) << c.what;
    }
    rig.Camera().SetAnswerEditor({});
    rig.Camera().AddRule({kReadReg, -1, SimGvcpFault::kErrorStatus, 0x8003});
    std::map<unsigned int, unsigned int> one{{0x1234, 0}};
    EXPECT_EQ(d.ReadRegs(one, 300, 2), CAMERA_STATUS_FAILED);
    rig.Camera().ClearRules();
}

TEST_F(GvcpChannel, MemoryWrite) {
    CGigeCamera& d = rig.Device();
    const uint8_t data[8] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    ASSERT_EQ(d.WriteMem(0x4000, data, sizeof data), 0);
    EXPECT_EQ(rig.Sim().Firmware().Register(0x4000), 0x11223344u);
    EXPECT_EQ(rig.Sim().Firmware().Register(0x4004), 0x55667788u);
    const auto writes = gigetest::Transactions(rig.Camera(), kWriteMem);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].flags, 0x01);
    EXPECT_EQ(writes[0].payload, (std::vector<uint8_t>{0, 0, 0x40, 0, 0x11, 0x22, 0x33, 0x44, 0x55,
                                                       0x66, 0x77, 0x88}));
    uint8_t back[8] = {};
    ASSERT_EQ(d.ReadMem(0x4000, back, sizeof back), 0);
    EXPECT_EQ(std::vector<uint8_t>(back, back + 8), std::vector<uint8_t>(data, data + 8));

    // The camera refuses the read-only hardware version text: an error status each try.
    rig.Camera().ClearCommands();
    EXPECT_EQ(d.WriteMem(gige::kMemHardwareVersion, data, sizeof data), CAMERA_STATUS_FAILED);
    EXPECT_EQ(Only(rig.Camera(), kWriteMem).size(), 3u);
    // Unanswered: three tries of 100 ms.
    rig.Camera().ClearCommands();
    rig.Camera().AddRule({kWriteMem, -1, SimGvcpFault::kDropAnswer});
    EXPECT_EQ(d.WriteMem(0x4000, data, 4), CAMERA_STATUS_TIMEOUT);
    EXPECT_EQ(Only(rig.Camera(), kWriteMem).size(), 3u);
    rig.Camera().ClearRules();
    EXPECT_EQ(d.WriteMem(0x4000, nullptr, 4), CAMERA_STATUS_PARAMETER_INVALID);
}

TEST_F(GvcpChannel, ForeignDatagramsEndTheWaitAtItsDeadline) {
    CGigeCamera& d = rig.Device();
    uint32_t v = 0;
    ASSERT_EQ(d.ReadReg(0x1234, &v, 2000, 3), 0);
    const auto host = rig.Camera().Commands().back();  // where the device's answers go
    rig.Camera().AddRule({kReadReg, 1, SimGvcpFault::kDropAnswer});
    std::atomic<bool> stop{false};
    // A stream of datagrams that are no answer, each well inside the 500 ms wait.
    std::thread flood([&] {
        const std::vector<uint8_t> foreign = {0, 0, 0, 0x81, 0, 4, 0x77, 0x77, 1, 2, 3, 4};
        while (!stop) {
            rig.Camera().SendRaw(host.fromIp, host.fromPort, foreign);
            std::this_thread::sleep_for(10ms);
        }
    });
    const auto start = Clock::now();
    EXPECT_EQ(d.ReadReg(0x1234, &v, 500, 1), -12);
    const auto took = Clock::now() - start;
    stop = true;
    flood.join();
    EXPECT_GE(took, 1s);
    EXPECT_LT(took, 10s);
}

TEST_F(GvcpChannel, NoAnswerTimesOutPerTry) {
    CGigeCamera& d = rig.Device();
    rig.Camera().AddRule({kReadReg, -1, SimGvcpFault::kDropAnswer});
    uint32_t v = 0;
    const auto start = Clock::now();
    EXPECT_EQ(d.ReadReg(0x1234, &v, 50, 3), -12);
    EXPECT_GE(Clock::now() - start, 150ms);
    EXPECT_EQ(Only(rig.Camera(), kReadReg).size(), 3u);
}

// PACKETRESEND from a receive thread while API threads transact: the one message buffer is
// never shared by two messages at once.
TEST_F(GvcpChannel, ResendBesideTransactionsFromOtherThreads) {
    CGigeCamera& d = rig.Device();
    for (uint32_t r = 0; r < 4; ++r) rig.Sim().Firmware().SetRegister(0x3000 + 4 * r, 0x100 + r);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (uint32_t t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                uint32_t v = 0;
                if (d.ReadReg(0x3000 + 4 * t, &v, 1000, 3) != 0 || v != 0x100 + t) ++failures;
            }
        });
    }
    threads.emplace_back([&] {
        for (int i = 0; i < 200; ++i)
            if (d.SendPacketResend(i + 1, i, i + 3) != 0) ++failures;
    });
    for (auto& t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
    ASSERT_TRUE(rig.Camera().WaitFor(
        [](const auto& c) {
            return std::count_if(c.begin(), c.end(),
                                 [](const auto& x) { return x.command == kResend; }) == 200;
        },
        5s));
    for (const auto& c : Only(rig.Camera(), kResend)) {
        ASSERT_EQ(c.payload.size(), 12u);
        const uint32_t block = static_cast<uint32_t>(c.payload[2] << 8 | c.payload[3]);
        EXPECT_EQ(Be32(c.payload, 4), block - 1);
        EXPECT_EQ(Be32(c.payload, 8), block + 2);
    }
}

TEST(GvcpChannelClosed, NoTrafficBeforeOpen) {
    CameraRig rig;
    uint32_t v = 0;
    EXPECT_EQ(rig.Device().ReadReg(0x0A00, &v, 100, 3), CAMERA_STATUS_HARDWARE_NOT_FOUND);
    EXPECT_EQ(rig.Device().SendPacketResend(1, 0, 0), CAMERA_STATUS_HARDWARE_NOT_FOUND);
    std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(rig.Camera().Commands().empty());
}

}  // namespace
