// The stream socket on loopback in a namespace of the test's own: a listener bound and listening
// (not on another port than its own), connections made and accepted into the client list, data
// both ways with and without time-outs, a peer that closes or resets, sends into a peer that
// does not read, a full client list, and the exception texts.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "SocketTestSupport.h"
#include "gige/SocketException.h"
#include "gige/TCP.h"

namespace {

using LQComponent::Address;
using LQComponent::SocketException;
using LQComponent::TCP;
using sockettest::MessageOf;

// A listener on 127.0.0.1 and a port of the system's choice.
TCP Listener(int listeners = 8) {
    TCP s;
    EXPECT_EQ(s.bind("127.0.0.1", 0), 0);
    s.listen_on_port(0, listeners);
    return s;
}

TEST(TcpSocket, ConnectAcceptAndDataBothWays) {
    TCP server = Listener();
    EXPECT_TRUE(server.IsListening());
    EXPECT_FALSE(server.IsConnected());
    const uint16_t port = server.get_port();
    // The port it is bound to is the one it listens on.
    server.listen_on_port(port, 8);

    TCP client;
    client.connect_to("127.0.0.1", port);
    EXPECT_TRUE(client.IsConnected());
    EXPECT_FALSE(client.IsAccepted());
    EXPECT_EQ(client.get_peer_address(), Address("127.0.0.1", port));
    TCP conn = server.accept_client();
    EXPECT_TRUE(conn.IsAccepted());
    EXPECT_TRUE(conn.IsConnected());
    EXPECT_EQ(conn.get_peer_address(), client.get_address());
    const std::vector<TCP::Client> list = server.clients();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].descriptor, conn.GetSocket());
    EXPECT_EQ(list[0].address, client.get_address());

    EXPECT_EQ(client.send("ping", 4), 4u);
    char buf[64] = {};
    int got = 0;
    while (got < 4) {
        const int n = conn.receive(buf + got, sizeof buf - static_cast<size_t>(got));
        ASSERT_GT(n, 0);
        got += n;
    }
    EXPECT_EQ(std::string(buf, 4), "ping");
    EXPECT_EQ(conn.send_timeout(5000, "pong!", 5), 5u);
    got = 0;
    while (got < 5) {
        const int n =
            client.receive_timeout(5000, buf + got, sizeof buf - static_cast<size_t>(got));
        ASSERT_GT(n, 0);
        got += n;
    }
    EXPECT_EQ(std::string(buf, 5), "pong!");
    // Nothing more: the wait runs out.
    EXPECT_EQ(client.receive_timeout(20, buf, sizeof buf), 0);

    // The client closes: the other end reads -2, and leaves the list when it is closed.
    client.close();
    EXPECT_EQ(conn.receive(buf, sizeof buf), -2);
    EXPECT_EQ(conn.receive_timeout(5000, buf, sizeof buf), -2);
    conn.close();
    EXPECT_TRUE(server.clients().empty());
    server.close();
}

TEST(TcpSocket, PeerThatResetsReadsAsClosed) {
    TCP server = Listener();
    TCP client;
    client.connect_to(Address("127.0.0.1", server.get_port()));
    TCP conn = server.accept_client();
    // Linger on with no time: the close resets the connection.
    ASSERT_EQ(client.set_linger_on(0), 0);
    client.close();
    char buf[8];
    EXPECT_EQ(conn.receive_timeout(5000, buf, sizeof buf), -2);
    EXPECT_EQ(MessageOf([&] { conn.send("x", 1); }), "[send] with [len=1] Cannot send");
    conn.close();
    server.close();
}

TEST(TcpSocket, SendsIntoAPeerThatDoesNotRead) {
    TCP server = Listener();
    TCP client;
    ASSERT_EQ(client.bind("127.0.0.1", 0), 0);
    ASSERT_EQ(client.SetBufferSize(4096, 0), 0);
    client.connect_to("127.0.0.1", server.get_port());
    TCP conn = server.accept_client();
    ASSERT_EQ(conn.SetBufferSize(0, 4096), 0);
    // Far more than both buffers hold: the peer never reads, so neither send can finish.
    const std::vector<uint8_t> data(16u << 20, 0x5A);
    const size_t sent = client.send_timeout(50, data.data(), data.size());
    EXPECT_LT(sent, data.size());
    ASSERT_EQ(client.set_send_timeout(50), 0);
    EXPECT_LT(client.send(data.data(), data.size()), data.size());
    client.close();
    conn.close();
    server.close();
}

TEST(TcpSocket, ExceptionMessages) {
    TCP server = Listener();
    const uint16_t port = server.get_port();
    const uint16_t other = port == 65535 ? 65534 : port + 1;
    // A port nobody listens on: a listener closed again.
    TCP gone = Listener();
    const uint16_t closedPort = gone.get_port();
    gone.close();
    TCP idle;
    TCP refused;
    struct Case {
        const char* what;
        std::function<void()> call;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"listen on another port", [&] { server.listen_on_port(other); },
         "[listen_on_port] with [port=" + std::to_string(other) +
             "] Cannot listen on a port other than the bound one (" + std::to_string(port) + ")"},
        {"listen where another listens",
         [&] {
             TCP second;
             try {
                 second.listen_on_port(port);
             } catch (...) {
                 second.close();
                 throw;
             }
         },
         "[listen_on_port] with [port=" + std::to_string(port) + "] Cannot bind"},
        {"accept without listening", [&] { idle.accept_client(); },
         "[accept_client] Not listening"},
        {"connect to nobody", [&] { refused.connect_to("127.0.0.1", closedPort); },
         "[connect_to] with [ip=127.0.0.1] [port=" + std::to_string(closedPort) +
             "] Cannot connect"},
        {"connect to an invalid text", [&] { idle.connect_to("127.0.0.300", 1); },
         "[ip] with [ip=127.0.0.300] Invalid ip address provided"},
        {"send unconnected", [&] { idle.send("a", 1); }, "[send] Not connected"},
        {"send with a time unconnected", [&] { idle.send_timeout(1, "a", 1); },
         "[send_timeout] Not connected"},
        {"receive unconnected",
         [&] {
             char b[4];
             server.receive(b, sizeof b);
         },
         "[receive] Not connected"},
        {"receive with a time unconnected",
         [&] {
             char b[4];
             idle.receive_timeout(1, b, sizeof b);
         },
         "[receive_timeout] Not connected"},
    };
    for (const Case& c : cases) EXPECT_EQ(MessageOf(c.call), c.message) << c.what;
    // The failed connect opened a socket: closing it is the owner's, as always.
    EXPECT_TRUE(refused.IsOpened());
    EXPECT_FALSE(refused.IsConnected());
    refused.close();
    idle.close();
    server.close();
}

TEST(TcpSocket, ClientListHoldsAtMost1024) {
    // Two descriptors per connection and a few more: raise the soft limit when it is lower.
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    const rlim_t needed = 2 * (TCP::kMaxClients + 2) + 64;
    if (limit.rlim_cur < needed) {
        if (limit.rlim_max < needed) GTEST_SKIP() << "descriptor limit " << limit.rlim_max;
        rlimit raised = limit;
        raised.rlim_cur = needed;
        ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &raised), 0);
    }
    TCP server = Listener(64);
    std::vector<TCP> clients;
    std::vector<TCP> accepted;
    for (size_t i = 0; i < TCP::kMaxClients; ++i) {
        clients.emplace_back();
        clients.back().connect_to("127.0.0.1", server.get_port());
        accepted.push_back(server.accept_client());
    }
    EXPECT_EQ(server.clients().size(), TCP::kMaxClients);
    // One more is refused and its connection closed.
    TCP extra;
    extra.connect_to("127.0.0.1", server.get_port());
    EXPECT_EQ(MessageOf([&] { server.accept_client(); }),
              "[accept_client] Too many clients (1024)");
    char buf[4];
    EXPECT_EQ(extra.receive_timeout(5000, buf, sizeof buf), -2);
    extra.close();
    // A place freed is taken again.
    accepted.front().close();
    EXPECT_EQ(server.clients().size(), TCP::kMaxClients - 1);
    TCP again;
    again.connect_to("127.0.0.1", server.get_port());
    TCP taken = server.accept_client();
    EXPECT_EQ(server.clients().size(), TCP::kMaxClients);
    EXPECT_EQ(server.clients().back().descriptor, taken.GetSocket());
    taken.close();
    again.close();
    for (size_t i = 1; i < accepted.size(); ++i) accepted[i].close();
    for (TCP& c : clients) c.close();
    EXPECT_TRUE(server.clients().empty());
    server.close();
    setrlimit(RLIMIT_NOFILE, &limit);
}

}  // namespace
