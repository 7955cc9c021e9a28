// The socket component's helpers on loopback in a namespace of the test's own: the blocking
// receive and the receives that return a datagram as a record, texts sent with their zero byte,
// the option setters and getters (buffer sizes, TTL, type of service, multicast TTL, linger,
// non-blocking mode, generic options, time-outs), addresses from system records and the stream
// output of addresses and exceptions.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "SocketTestSupport.h"
#include "gige/Address.h"
#include "gige/SocketException.h"
#include "gige/UDP.h"

namespace {

using LQComponent::Address;
using LQComponent::SocketException;
using LQComponent::UDP;
using sockettest::Bound;
using sockettest::MessageOf;

TEST(SocketHelpers, BlockingReceive) {
    UDP rx = Bound();
    UDP tx = Bound();
    // Sent from another thread while the receive waits, or before: either way it is read.
    std::thread sender([&] { tx.send("127.0.0.1", rx.get_port(), "block", 5); });
    Address from;
    uint8_t buf[32];
    uint32_t len = sizeof buf;
    EXPECT_EQ(rx.receive(from, buf, &len), 5u);
    sender.join();
    EXPECT_EQ(len, 5u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), len), "block");
    EXPECT_EQ(from.port(), tx.get_port());

    // Its time-out ends the wait with nothing, the count unchanged.
    ASSERT_EQ(rx.set_receive_timeout(30), 0);
    len = sizeof buf;
    EXPECT_EQ(rx.receive(from, buf, &len), 0u);
    EXPECT_EQ(len, sizeof buf);
    // So does non-blocking mode.
    ASSERT_EQ(rx.set_receive_timeout(0), 0);
    ASSERT_EQ(rx.set_nonblocking(true), 0);
    EXPECT_EQ(rx.receive(from, buf, &len), 0u);

    UDP opened;
    opened.open();
    UDP closed;
    std::vector<uint8_t> big(65537, 'x');
    struct Case {
        const char* what;
        std::function<void()> call;
        std::string message;
    };
    const Case cases[] = {
        {"closed", [&] { closed.receive(from, buf, &len); }, "[receive] Not open"},
        {"unbound", [&] { opened.receive(from, buf, &len); },
         "[receive] Make the socket listening before receiving"},
        {"capacity",
         [&] {
             uint32_t n = 65537;
             rx.receive(from, big.data(), &n);
         },
         "[receive] with [buffer=xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx...] [len=65537] Data length "
         "higher then max buffer length (65536)"},
        {"record from a closed socket", [&] { closed.receive_datagram(); }, "[receive] Not open"},
        {"record from an unbound socket", [&] { opened.receive_datagram_timeout(1); },
         "[receive_timeout] Make the socket listening before receiving"},
    };
    for (const Case& c : cases) EXPECT_EQ(MessageOf(c.call), c.message) << c.what;
    rx.close();
    tx.close();
    opened.close();
}

TEST(SocketHelpers, DatagramRecordsAndTexts) {
    UDP rx = Bound();
    UDP tx = Bound();
    EXPECT_EQ(tx.send_text("127.0.0.1", rx.get_port(), "hello"), 6u);  // with its zero byte
    const UDP::Datagram d = rx.receive_datagram();
    EXPECT_EQ(d.data, (std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o', 0}));
    EXPECT_EQ(d.text, "hello");
    EXPECT_EQ(d.from.port(), tx.get_port());
    EXPECT_EQ(d.from.ip(), "127.0.0.1");

    // Bytes after a zero byte are data, not text; no zero byte: all of it is text.
    const uint8_t bytes[] = {'a', 'b', 0, 'c'};
    tx.send(Address("127.0.0.1", rx.get_port()), bytes, sizeof bytes);
    std::optional<UDP::Datagram> got = rx.receive_datagram_timeout(5000);
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(got->data.size(), 4u);
    EXPECT_EQ(got->text, "ab");
    tx.send_text(Address("127.0.0.1", rx.get_port()), "");
    got = rx.receive_datagram_timeout(5000);
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(got->data, std::vector<uint8_t>{0});
    EXPECT_EQ(got->text, "");
    tx.send("127.0.0.1", rx.get_port(), "xyz", 3);
    got = rx.receive_datagram_timeout(5000);
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(got->text, "xyz");

    // Unlike the count, a record tells an empty datagram from nothing.
    tx.send("127.0.0.1", rx.get_port(), "", 0);
    got = rx.receive_datagram_timeout(5000);
    ASSERT_TRUE(got.has_value());
    EXPECT_TRUE(got->data.empty());
    EXPECT_FALSE(rx.receive_datagram_timeout(20).has_value());

    // The whole of a large datagram.
    std::vector<uint8_t> large(60000);
    for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<uint8_t>(i * 7 + 1);
    tx.send("127.0.0.1", rx.get_port(), large.data(), large.size());
    got = rx.receive_datagram_timeout(5000);
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(got->data, large);

    // A blocking record receive whose time-out runs out: an empty record.
    ASSERT_EQ(rx.set_receive_timeout(20), 0);
    const UDP::Datagram none = rx.receive_datagram();
    EXPECT_TRUE(none.data.empty());
    EXPECT_EQ(none.from.port(), 0);
    rx.close();
    tx.close();
}

TEST(SocketHelpers, OptionSettersAndGetters) {
    UDP s = Bound();
    EXPECT_EQ(s.set_ttl(17), 0);
    EXPECT_EQ(s.get_ttl(), 17);
    EXPECT_EQ(s.set_tos(0x10), 0);
    EXPECT_EQ(s.get_tos(), 0x10);
    EXPECT_EQ(s.set_multicast_ttl(5), 0);
    EXPECT_EQ(s.get_multicast_ttl(), 5);

    EXPECT_EQ(s.get_linger(), 0);
    EXPECT_EQ(s.set_linger_on(3), 0);
    int seconds = -1;
    EXPECT_EQ(s.get_linger(&seconds), 1);
    EXPECT_EQ(seconds, 3);
    EXPECT_EQ(s.set_linger_off(), 0);
    EXPECT_EQ(s.get_linger(&seconds), 0);
    EXPECT_EQ(s.set_linger_on(-1), -1);

    EXPECT_EQ(s.get_nonblocking(), 0);
    EXPECT_EQ(s.set_nonblocking(true), 0);
    EXPECT_EQ(s.get_nonblocking(), 1);
    EXPECT_EQ(s.set_nonblocking(false), 0);
    EXPECT_EQ(s.get_nonblocking(), 0);

    const int priority = 3;
    EXPECT_EQ(s.set_option(SOL_SOCKET, SO_PRIORITY, &priority, sizeof priority), 0);
    int value = 0;
    uint32_t len = sizeof value;
    EXPECT_EQ(s.get_option(SOL_SOCKET, SO_PRIORITY, &value, &len), 0);
    EXPECT_EQ(value, 3);
    EXPECT_EQ(len, sizeof value);
    EXPECT_EQ(s.get_option(SOL_SOCKET, SO_PRIORITY, &value, nullptr), -1);
    EXPECT_EQ(s.set_option(SOL_SOCKET, -7, &priority, sizeof priority), -1);

    // Whole seconds: the system keeps the times in steps of its own clock tick.
    EXPECT_EQ(s.get_send_timeout(), 0);
    EXPECT_EQ(s.set_send_timeout(2000), 0);
    EXPECT_EQ(s.get_send_timeout(), 2000);
    EXPECT_EQ(s.set_receive_timeout(1000), 0);
    EXPECT_EQ(s.get_receive_timeout(), 1000);
    EXPECT_EQ(s.set_receive_timeout(-1), -1);
    EXPECT_EQ(s.get_receive_timeout(), 1000);

    ASSERT_EQ(s.SetBufferSize(65536, 131072), 0);
    int send = 0, recv = 0;
    ASSERT_EQ(s.GetBufferSize(&send, &recv), 0);
    EXPECT_GE(send, 65536);  // the system keeps room for its own bookkeeping
    EXPECT_GE(recv, 131072);
    EXPECT_EQ(s.GetBufferSize(nullptr, nullptr), 0);

    // Without a descriptor every one of them fails quietly.
    s.close();
    EXPECT_EQ(s.set_ttl(1), -1);
    EXPECT_EQ(s.get_ttl(), -1);
    EXPECT_EQ(s.get_tos(), -1);
    EXPECT_EQ(s.get_multicast_ttl(), -1);
    EXPECT_EQ(s.set_linger_off(), -1);
    EXPECT_EQ(s.get_linger(), -1);
    EXPECT_EQ(s.set_nonblocking(true), -1);
    EXPECT_EQ(s.get_nonblocking(), -1);
    EXPECT_EQ(s.set_send_timeout(1), -1);
    EXPECT_EQ(s.get_receive_timeout(), -1);
    send = recv = 7;
    EXPECT_EQ(s.GetBufferSize(&send, &recv), -1);
    EXPECT_EQ(send, 7);
    EXPECT_FALSE(s.IsOpened());  // none of them opened it
}

TEST(SocketHelpers, AddressFromASystemRecordAndAsText) {
    sockaddr_in raw{};
    std::memset(&raw, 0xA5, sizeof raw);
    raw.sin_port = htons(13956);
    const uint8_t ip[4] = {192, 168, 1, 10};
    std::memcpy(&raw.sin_addr, ip, 4);
    const Address a(raw);
    EXPECT_EQ(a.ip(), "192.168.1.10");
    EXPECT_EQ(a.port(), 13956);
    EXPECT_EQ(a.sockaddr().sin_family, AF_INET);
    const uint8_t zeros[8] = {};
    EXPECT_EQ(std::memcmp(a.sockaddr().sin_zero, zeros, 8), 0);
    EXPECT_EQ(a, Address("192.168.1.10", 13956));

    std::ostringstream text;
    text << a << " " << Address() << " " << Address("10.0.0.1", 7);
    EXPECT_EQ(text.str(), "192.168.1.10:13956 0.0.0.0:0 10.0.0.1:7");

    // A sender's address as the system reports it, and an exception as its message.
    UDP rx = Bound();
    UDP tx = Bound();
    tx.send("127.0.0.1", rx.get_port(), "a", 1);
    const UDP::Datagram d = rx.receive_datagram();
    std::ostringstream from;
    from << d.from;
    EXPECT_EQ(from.str(), "127.0.0.1:" + std::to_string(tx.get_port()));
    std::ostringstream message;
    try {
        Address bad("1.2.3.256", 1);
    } catch (const SocketException& e) {
        message << e;
    }
    EXPECT_EQ(message.str(), "[ip] with [ip=1.2.3.256] Invalid ip address provided");
    rx.close();
    tx.close();
}

}  // namespace
