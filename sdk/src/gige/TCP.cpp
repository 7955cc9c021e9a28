#include "gige/TCP.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <sstream>

#include "gige/SocketException.h"

namespace LQComponent {

namespace {

std::string PortMessage(const char* op, uint16_t port, const std::string& what) {
    std::ostringstream m;
    m << "[" << op << "] with [port=" << port << "] " << what;
    return m.str();
}

}  // namespace

TCP::TCP() : CommonSocket(kStream), m_clients(std::make_shared<ClientList>()) {}

void TCP::listen_on_port(uint16_t port, int listeners) {
    if (m_binded) {
        const uint16_t bound = get_port();
        if (port != 0 && port != bound) {
            std::ostringstream what;
            what << "Cannot listen on a port other than the bound one (" << bound << ")";
            throw SocketException(PortMessage("listen_on_port", port, what.str()));
        }
    } else if (bind(port) != 0) {
        throw SocketException(PortMessage("listen_on_port", port, "Cannot bind"));
    }
    if (::listen(m_socketId, listeners) != 0)
        throw SocketException(PortMessage("listen_on_port", port, "Cannot listen"));
    m_listening = true;
}

TCP TCP::accept_client() {
    if (!m_opened || !m_listening) throw SocketException("[accept_client] Not listening");
    sockaddr_in peer{};
    int fd;
    for (;;) {
        socklen_t len = sizeof peer;
        fd = ::accept4(m_socketId, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
        if (fd >= 0) break;
        // A connection that went away before it was taken is no failure of the listener.
        if (errno != EINTR && errno != ECONNABORTED)
            throw SocketException("[accept_client] Cannot accept");
    }
    TCP client;
    client.m_socketId = fd;
    client.m_opened = true;
    client.m_binded = true;
    client.m_accepted = true;
    client.m_connected = true;
    client.m_peer = Address(peer);
    client.m_clients = m_clients;
    {
        std::lock_guard lock(m_clients->mutex);
        if (m_clients->clients.size() < kMaxClients) {
            m_clients->clients.push_back({fd, client.m_peer});
            return client;
        }
    }
    client.CommonSocket::close();
    std::ostringstream m;
    m << "[accept_client] Too many clients (" << kMaxClients << ")";
    throw SocketException(m.str());
}

std::vector<TCP::Client> TCP::clients() const {
    std::lock_guard lock(m_clients->mutex);
    return m_clients->clients;
}

void TCP::connect_to(const std::string& ip, uint16_t port) {
    const Address server(ip, port);
    open();
    const sockaddr_in& a = server.sockaddr();
    int r = ::connect(m_socketId, reinterpret_cast<const sockaddr*>(&a), sizeof a);
    if (r != 0 && errno == EINTR) {
        // The connection goes on being made: wait for its outcome.
        const int fd = m_socketId;
        while (WaitReady({&fd, 1}, POLLOUT, INT_MAX, "connect_to") < 0) {
        }
        int error = 0;
        socklen_t len = sizeof error;
        r = getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0 ? 0 : -1;
    }
    if (r != 0) {
        std::ostringstream m;
        m << "[connect_to] with [ip=" << ip << "] [port=" << port << "] Cannot connect";
        throw SocketException(m.str());
    }
    m_peer = server;
    m_binded = true;
    m_connected = true;
}

void TCP::connect_to(const Address& server) {
    connect_to(server.ip(), server.port());
}

void TCP::CheckConnected(const char* op) const {
    if (!IsConnected()) throw SocketException(std::string("[") + op + "] Not connected");
}

size_t TCP::send(const void* data, size_t len) {
    CheckConnected("send");
    const auto* p = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < len) {
        const ssize_t n = ::send(m_socketId, p + done, len - done, MSG_NOSIGNAL);
        if (n >= 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) break;
        std::ostringstream m;
        m << "[send] with [len=" << len << "] Cannot send";
        throw SocketException(m.str());
    }
    return done;
}

size_t TCP::send_timeout(int timeoutMs, const void* data, size_t len) {
    using Clock = std::chrono::steady_clock;
    CheckConnected("send_timeout");
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
    const auto* p = static_cast<const uint8_t*>(data);
    const int fd = m_socketId;
    size_t done = 0;
    while (done < len) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (WaitReady({&fd, 1}, POLLOUT, static_cast<int>(std::max<int64_t>(left.count(), 0)),
                      "send_timeout") < 0)
            break;
        const ssize_t n = ::send(fd, p + done, len - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
        std::ostringstream m;
        m << "[send_timeout] with [len=" << len << "] Cannot send";
        throw SocketException(m.str());
    }
    return done;
}

int TCP::ReceiveSome(void* buffer, size_t capacity, int flags, const char* op) {
    const size_t most = std::min<size_t>(capacity, INT_MAX);
    for (;;) {
        const ssize_t n = ::recv(m_socketId, buffer, most, flags);
        if (n > 0) return static_cast<int>(n);
        if (n == 0) return most == 0 ? 0 : -2;  // the peer closed its end
        if (errno == EINTR) continue;
        if (errno == ECONNRESET) return -2;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        throw SocketException(std::string("[") + op + "] Cannot receive");
    }
}

int TCP::receive(void* buffer, size_t capacity) {
    CheckConnected("receive");
    return ReceiveSome(buffer, capacity, 0, "receive");
}

int TCP::receive_timeout(int timeoutMs, void* buffer, size_t capacity) {
    CheckConnected("receive_timeout");
    const int fd = m_socketId;
    if (WaitReady({&fd, 1}, POLLIN, timeoutMs, "receive_timeout") < 0) return 0;
    return ReceiveSome(buffer, capacity, MSG_DONTWAIT, "receive_timeout");
}

void TCP::close() {
    if (m_opened && m_accepted) {
        // Out of the list before the number can be given to another connection.
        std::lock_guard lock(m_clients->mutex);
        auto& list = m_clients->clients;
        list.erase(std::remove_if(list.begin(), list.end(),
                                  [&](const Client& c) { return c.descriptor == m_socketId; }),
                   list.end());
    }
    CommonSocket::close();
    m_listening = false;
    m_connected = false;
}

}  // namespace LQComponent
