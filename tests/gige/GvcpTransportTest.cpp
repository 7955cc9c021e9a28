// The GVCP channel through an installed transport backend: the channel's own framing,
// transaction and acknowledge wait running without a socket, on the backend's clock, against the
// simulated camera's firmware in-process (the way the GVCP fuzz target drives it).
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <chrono>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "SimGigeFirmware.h"
#include "SimGigeImx290Camera.h"
#include "SimGvcpDatagram.h"
#include "gige/GigeCameraBySocket.h"
#include "gige/GvcpProtocol.h"
#include "gige/GvcpTransport.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace gige = qv::gige;

// Each command goes to the firmware at once; its answer waits in the inbox. A receive takes the
// next datagram, or, when there is none, returns nothing and moves the clock on by the wait's
// timeout. With foreign datagrams on, every receive instead gets a datagram that answers
// nothing, 100 ms after the last.
class FirmwareLink : public CGvcpTransport::Backend {
  public:
    explicit FirmwareLink(qvsim::CSimGigeFirmware& firmware) : m_firmware(firmware) {}

    size_t Send(const LQComponent::Address&, const void* data, size_t len) override {
        qvsim::CSimGigeFirmware::Request r;
        EXPECT_TRUE(qvsim::ParseGvcpCommand({static_cast<const uint8_t*>(data), len},
                                            htonl(INADDR_LOOPBACK), 50000, &r));
        sent.push_back(r);
        if (silent) return len;
        const auto a = m_firmware.Execute(r, now);
        if (!a.reply) return len;
        std::vector<uint8_t> datagram;
        qvsim::BuildGvcpAnswer(a, r.reqId, &datagram);
        m_inbox.push_back(std::move(datagram));
        return len;
    }

    uint32_t Receive(int timeoutMs, LQComponent::Address&, void* buffer, uint32_t* len) override {
        ++receives;
        std::vector<uint8_t> datagram;
        if (foreign) {
            datagram.assign(gige::kHeaderSize, 0);
            gige::EncodeAckHeader(datagram.data(), {0, 0x7777, 0, 0});
            now += 100ms;
        } else if (!m_inbox.empty()) {
            datagram = std::move(m_inbox.front());
            m_inbox.pop_front();
        } else {
            now += std::chrono::milliseconds(timeoutMs);
            return 0;
        }
        *len = static_cast<uint32_t>(std::min<size_t>(*len, datagram.size()));
        std::memcpy(buffer, datagram.data(), *len);
        return *len;
    }

    Clock::time_point Now() override { return now; }

    bool silent = false;
    bool foreign = false;
    int receives = 0;
    Clock::time_point now = Clock::time_point{} + 1h;
    std::vector<qvsim::CSimGigeFirmware::Request> sent;

  private:
    qvsim::CSimGigeFirmware& m_firmware;
    std::deque<std::vector<uint8_t>> m_inbox;
};

class GvcpTransport : public ::testing::Test {
  protected:
    void SetUp() override {
        SimGigeImx290Options options;
        firmware = std::make_unique<qvsim::CSimGigeFirmware>(
            CSimGigeImx290Camera::MakeConfig(options).firmware);
        CSimGigeImx290Camera::StoreIdentity(*firmware, options);
        link = std::make_unique<FirmwareLink>(*firmware);
        CGvcpTransport::InstallBackendForTest(link.get());
        gige::DISCOVERY_ACK_DATA ack;
        const std::vector<uint8_t> answer = firmware->DiscoveryAnswer();
        ASSERT_EQ(answer.size(), sizeof ack);
        std::memcpy(&ack, answer.data(), sizeof ack);
        device = std::make_unique<CGigeCameraBySocket>("QVG0001", "QV-G2M-290", "v1.2", "lo", ack);
    }
    void TearDown() override {
        device.reset();  // its channel closes while the backend is still there
        CGvcpTransport::InstallBackendForTest(nullptr);
    }

    std::unique_ptr<qvsim::CSimGigeFirmware> firmware;
    std::unique_ptr<FirmwareLink> link;
    std::unique_ptr<CGigeCameraBySocket> device;
};

TEST_F(GvcpTransport, OpenReadAndCloseGoThroughTheBackend) {
    ASSERT_EQ(device->Open(nullptr), 0);
    ASSERT_FALSE(link->sent.empty());
    // The privilege is taken first, with the channel's first request id after Open.
    EXPECT_EQ(link->sent.front().command, gige::kWriteRegCmd);
    EXPECT_EQ(link->sent.front().reqId, 2);
    for (size_t i = 1; i < link->sent.size(); ++i)
        EXPECT_EQ(link->sent[i].reqId, link->sent[i - 1].reqId + 1) << "command " << i;
    ASSERT_TRUE(firmware->CcpHolder().has_value());

    firmware->SetRegister(0x1234, 0xCAFEF00D);
    uint32_t value = 0;
    ASSERT_EQ(device->ReadReg(0x1234, &value, 100, 3), 0);
    EXPECT_EQ(value, 0xCAFEF00Du);
    char name[32] = {};
    ASSERT_EQ(device->DevGetFriendlyName(name), 0);
    EXPECT_STREQ(name, "QVG0001");

    EXPECT_EQ(device->Close(), 0);
    EXPECT_FALSE(firmware->CcpHolder().has_value());
}

TEST_F(GvcpTransport, EveryTryWaitsItsTimeoutOnTheBackendClock) {
    ASSERT_EQ(device->Open(nullptr), 0);
    link->sent.clear();
    link->silent = true;
    const Clock::time_point before = link->now;
    uint32_t value = 0;
    EXPECT_EQ(device->ReadReg(gige::kRegCcp, &value, 30, 3), CAMERA_STATUS_TIMEOUT);
    EXPECT_EQ(link->now - before, 90ms);
    ASSERT_EQ(link->sent.size(), 3u);
    EXPECT_EQ(link->sent[0].reqId, link->sent[2].reqId);  // one id for every try
    link->silent = false;
    EXPECT_EQ(device->Close(), 0);
}

TEST_F(GvcpTransport, ForeignDatagramsEndTheWaitAtItsDeadlineOnTheBackendClock) {
    ASSERT_EQ(device->Open(nullptr), 0);
    link->foreign = true;
    link->receives = 0;
    const Clock::time_point before = link->now;
    uint32_t value = 0;
    // One datagram every 100 ms: the tenth reaches the one-second deadline.
    EXPECT_EQ(device->ReadReg(gige::kRegCcp, &value, 500, 1), CAMERA_STATUS_TIMEOUT);
    EXPECT_EQ(link->receives, 10);
    EXPECT_EQ(link->now - before, 1s);
    link->foreign = false;
    EXPECT_EQ(device->Close(), 0);
}

}  // namespace
