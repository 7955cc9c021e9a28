// The socket component: exception texts, binds, waits (also when signals interrupt them), the
// datagram limit and the socket group, on loopback in a namespace of the test's own.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "SocketTestSupport.h"
#include "gige/Address.h"
#include "gige/SocketException.h"
#include "gige/SocketGroup.h"
#include "gige/UDP.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using LQComponent::Address;
using LQComponent::SocketException;
using LQComponent::SocketGroup;
using LQComponent::UDP;
using sockettest::Bound;
using sockettest::MessageOf;

TEST(Socket, ExceptionMessages) {
    std::vector<uint8_t> big(65537, 'x');
    UDP bound = Bound();
    UDP opened;
    opened.open();
    UDP closed;
    struct Case {
        const char* what;
        std::function<void()> call;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"invalid address text", [] { Address a("1.2.3.256", 1); },
         "[ip] with [ip=1.2.3.256] Invalid ip address provided"},
        {"invalid address to ip()", [] { Address().ip("camera"); },
         "[ip] with [ip=camera] Invalid ip address provided"},
        {"receive on a closed socket",
         [&] {
             Address from;
             uint32_t len = 16;
             uint8_t buf[16];
             closed.receive_timeout(1, from, buf, &len);
         },
         "[receive_timeout] Not open"},
        {"receive on an unbound socket",
         [&] {
             Address from;
             uint32_t len = 16;
             uint8_t buf[16];
             opened.receive_timeout(1, from, buf, &len);
         },
         "[receive_timeout] Make the socket listening before receiving"},
        {"receive capacity above the limit",
         [&] {
             Address from;
             uint32_t len = 65537;
             bound.receive_timeout(1, from, big.data(), &len);
         },
         "[receive_timeout] with [buffer=xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx...] [len=65537] Data "
         "length higher then max buffer length (65536)"},
        {"group capacity above the limit",
         [&] {
             SocketGroup g;
             Address from;
             uint32_t len = 70000;
             g.receive_timeout(1, from, big.data(), &len, nullptr);
         },
         "[receive_timeout] with [buffer=xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx...] [len=70000] Data "
         "length higher then max buffer length (65536)"},
        {"send above the limit", [&] { bound.send("127.0.0.1", 9, big.data(), 65537); },
         "[send] with [ip=127.0.0.1] [port=9] [len=65537] Data length higher then max buffer len "
         "(65536)"},
        {"send to port 0", [&] { bound.send("127.0.0.1", 0, "ab\x01", 3); },
         "[send] with [ip=127.0.0.1] [port=0] [data=ab.] [len=3] Cannot send"},
        {"send to an invalid text", [&] { bound.send("300.1.1.1", 9, "a", 1); },
         "[ip] with [ip=300.1.1.1] Invalid ip address provided"},
        {"local address of a closed socket", [&] { closed.get_address(); },
         "[get_address] getsockname() error"},
        {"group of a closed socket", [&] { SocketGroup().add(closed); },
         "[receive_timeout] Not open"},
        {"group of an unbound socket", [&] { SocketGroup().add(opened); },
         "[receive_timeout] Make the socket listening before receiving"},
    };
    for (const Case& c : cases) EXPECT_EQ(MessageOf(c.call), c.message) << c.what;
    bound.close();
    opened.close();
}

TEST(Socket, ExactlyTheLimitPassesTheLengthTest) {
    UDP s = Bound();
    std::vector<uint8_t> data(65536, 0);
    // The datagram is too big for UDP itself, so the system refuses it: the send fails, not the
    // length test.
    const std::string m = MessageOf([&] { s.send("127.0.0.1", 9, data.data(), data.size()); });
    EXPECT_NE(m.find("Cannot send"), std::string::npos) << m;
    s.close();
}

TEST(Socket, BindsAndFlags) {
    UDP s;
    EXPECT_FALSE(s.IsOpened());
    s.close();  // never opened: only the flags
    EXPECT_FALSE(s.IsOpened());
    EXPECT_EQ(s.bind(static_cast<uint16_t>(0)), 0);
    EXPECT_TRUE(s.IsOpened());
    EXPECT_TRUE(s.IsBinded());
    const int fd = s.GetSocket();
    const uint16_t port = s.get_port();
    EXPECT_NE(port, 0);
    EXPECT_EQ(s.bind(static_cast<uint16_t>(0)), -1);  // already bound: refused at once
    EXPECT_EQ(s.GetSocket(), fd);
    EXPECT_EQ(s.get_port(), port);
    EXPECT_EQ(s.bind("127.0.0.1", 0), -1);  // the system refuses a second bind
    EXPECT_EQ(s.get_address().ip(), "0.0.0.0");
    EXPECT_EQ(s.set_reuseaddr(1), 0);
    EXPECT_EQ(s.set_broadcast(1), 0);
    EXPECT_EQ(s.SetBufferSize(0, 65536), 0);
    s.close();
    EXPECT_FALSE(s.IsOpened());
    EXPECT_FALSE(s.IsBinded());
    EXPECT_EQ(s.set_broadcast(1), -1);  // no descriptor: a failure, not an exception

    // A copy shares the descriptor; destroying it closes nothing.
    UDP a = Bound();
    { UDP copy = a; }
    EXPECT_GE(fcntl(a.GetSocket(), F_GETFD), 0);
    a.close();
}

TEST(Socket, AddressTexts) {
    const uint8_t bytes[4] = {192, 168, 1, 10};
    uint32_t raw;
    std::memcpy(&raw, bytes, 4);
    Address a(raw, 13956);
    EXPECT_EQ(a.ip(), "192.168.1.10");
    EXPECT_EQ(a.port(), 13956);
    EXPECT_EQ(Address("10.1.2.3", 7).ip(), "10.1.2.3");
    EXPECT_EQ(Address().ip(), "0.0.0.0");
    Address b;
    EXPECT_EQ(b.ip("0x7f.1"), "127.0.0.1");  // the dotted forms of inet_aton
    b.port(80);
    EXPECT_EQ(b.port(), 80);
}

TEST(Socket, ReceiveTimesOutAndReadsDatagrams) {
    UDP rx = Bound();
    UDP tx = Bound();
    Address from;
    uint8_t buf[64];
    uint32_t len = sizeof buf;
    auto start = Clock::now();
    EXPECT_EQ(rx.receive_timeout(30, from, buf, &len), 0u);
    EXPECT_GE(Clock::now() - start, 30ms);
    EXPECT_EQ(len, sizeof buf);  // unchanged on a timeout

    tx.send("127.0.0.1", rx.get_port(), "hello", 5);
    len = sizeof buf;
    EXPECT_EQ(rx.receive_timeout(5000, from, buf, &len), 5u);
    EXPECT_EQ(len, 5u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 5), "hello");
    EXPECT_EQ(from.port(), tx.get_port());
    EXPECT_EQ(from.ip(), "127.0.0.1");

    // An empty datagram reads like a timeout.
    tx.send("127.0.0.1", rx.get_port(), "", 0);
    len = sizeof buf;
    EXPECT_EQ(rx.receive_timeout(5000, from, buf, &len), 0u);
    rx.close();
    tx.close();
}

// Waits (test side) until fd has a datagram queued.
bool Readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 5000) == 1;
}

TEST(Socket, GroupReadsTheFirstReadySocketInOrder) {
    UDP a = Bound();
    UDP b = Bound();
    UDP tx = Bound();
    SocketGroup g;
    g.add(a);
    g.add(b);
    tx.send("127.0.0.1", b.get_port(), "b", 1);
    tx.send("127.0.0.1", a.get_port(), "a", 1);
    ASSERT_TRUE(Readable(a.GetSocket()));
    ASSERT_TRUE(Readable(b.GetSocket()));
    Address from;
    uint8_t buf[16];
    std::vector<int> order;
    for (int i = 0; i < 2; ++i) {
        uint32_t len = sizeof buf;
        int fd = -1;
        ASSERT_EQ(g.receive_timeout(5000, from, buf, &len, &fd), 1u);
        order.push_back(fd);
        EXPECT_EQ(buf[0], fd == a.GetSocket() ? 'a' : 'b');
    }
    EXPECT_EQ(order, (std::vector<int>{a.GetSocket(), b.GetSocket()}));
    SocketGroup empty;
    uint32_t len = sizeof buf;
    EXPECT_EQ(empty.receive_timeout(20, from, buf, &len, nullptr), 0u);
    a.close();
    b.close();
    tx.close();
}

std::atomic<int> g_signals{0};
void CountSignal(int) {
    g_signals.fetch_add(1);
}

// A host may catch signals without SA_RESTART: a wait a signal interrupts goes on for the rest
// of its time instead of failing.
TEST(Socket, InterruptedWaitGoesOn) {
    struct sigaction sa {};
    sa.sa_handler = CountSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART
    struct sigaction old {};
    ASSERT_EQ(sigaction(SIGUSR1, &sa, &old), 0);

    UDP rx = Bound();
    UDP tx = Bound();
    std::atomic<bool> waiting{false};
    std::atomic<int> result{-1};
    std::string error;
    const auto start = Clock::now();
    std::thread waiter([&] {
        Address from;
        uint8_t buf[16];
        uint32_t len = sizeof buf;
        waiting = true;
        try {
            result = static_cast<int>(rx.receive_timeout(200, from, buf, &len));
        } catch (const SocketException& e) {
            error = e.what();
        }
    });
    while (!waiting) std::this_thread::yield();
    const int before = g_signals.load();
    // Interrupt it many times while it waits (some signals may land before the wait).
    while (result.load() == -1 && error.empty() && Clock::now() - start < 150ms) {
        pthread_kill(waiter.native_handle(), SIGUSR1);
        std::this_thread::sleep_for(5ms);
    }
    waiter.join();
    EXPECT_TRUE(error.empty()) << error;
    EXPECT_EQ(result.load(), 0);
    EXPECT_GE(Clock::now() - start, 200ms);
    EXPECT_GT(g_signals.load(), before);

    // Interrupted, then a datagram: it is read.
    result = -1;
    waiting = false;
    std::thread reader([&] {
        Address from;
        uint8_t buf[16];
        uint32_t len = sizeof buf;
        waiting = true;
        try {
            result = static_cast<int>(rx.receive_timeout(20000, from, buf, &len));
        } catch (const SocketException& e) {
            error = e.what();
        }
    });
    while (!waiting) std::this_thread::yield();
    for (int i = 0; i < 10; ++i) {
        pthread_kill(reader.native_handle(), SIGUSR1);
        std::this_thread::sleep_for(5ms);
    }
    tx.send("127.0.0.1", rx.get_port(), "late", 4);
    reader.join();
    EXPECT_TRUE(error.empty()) << error;
    EXPECT_EQ(result.load(), 4);
    sigaction(SIGUSR1, &old, nullptr);
    rx.close();
    tx.close();
}

}  // namespace
