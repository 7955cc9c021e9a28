#include "gige/CommonSocket.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <sstream>
#include <vector>

#include "gige/SocketException.h"

namespace LQComponent {

namespace {

// Messages show at most this many bytes of the data they carry.
constexpr size_t kShownBytes = 32;

int DoBind(int fd, const Address& address) {
    const sockaddr_in& a = address.sockaddr();
    return ::bind(fd, reinterpret_cast<const ::sockaddr*>(&a), sizeof a) == 0 ? 0 : -1;
}

}  // namespace

void CommonSocket::open() {
    if (m_opened) return;
    const int fd =
        ::socket(AF_INET, (m_type == kStream ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, 0);
    if (fd < 0) throw SocketException("[open] Cannot create socket");
    m_socketId = fd;
    m_opened = true;
    m_binded = false;
}

void CommonSocket::close() {
    if (m_opened) {
        ::shutdown(m_socketId, SHUT_RDWR);
        ::close(m_socketId);
        m_socketId = -1;
    }
    m_opened = false;
    m_binded = false;
}

int CommonSocket::bind(uint16_t port) {
    if (m_binded) return -1;
    open();
    if (DoBind(m_socketId, Address(port)) != 0) return -1;
    m_binded = true;
    return 0;
}

int CommonSocket::bind(const std::string& ip, uint16_t port) {
    open();
    if (DoBind(m_socketId, Address(ip, port)) != 0) return -1;
    m_binded = true;
    return 0;
}

int CommonSocket::bind(uint32_t ipNetworkOrder, uint16_t port) {
    open();
    if (DoBind(m_socketId, Address(ipNetworkOrder, port)) != 0) return -1;
    m_binded = true;
    return 0;
}

int CommonSocket::SetBufferSize(int sendSize, int recvSize) {
    if (sendSize > 0 &&
        setsockopt(m_socketId, SOL_SOCKET, SO_SNDBUF, &sendSize, sizeof sendSize) != 0)
        return -1;
    if (recvSize > 0)
        return setsockopt(m_socketId, SOL_SOCKET, SO_RCVBUF, &recvSize, sizeof recvSize) == 0 ? 0
                                                                                              : -1;
    return 0;
}

int CommonSocket::set_reuseaddr(int value) {
    return setsockopt(m_socketId, SOL_SOCKET, SO_REUSEADDR, &value, sizeof value) == 0 ? 0 : -1;
}

int CommonSocket::set_broadcast(int value) {
    return setsockopt(m_socketId, SOL_SOCKET, SO_BROADCAST, &value, sizeof value) == 0 ? 0 : -1;
}

Address CommonSocket::get_address() const {
    Address address;
    socklen_t len = sizeof address.sockaddr();
    if (getsockname(m_socketId, reinterpret_cast<::sockaddr*>(&address.sockaddr()), &len) != 0)
        throw SocketException("[get_address] getsockname() error");
    return address;
}

int CommonSocket::WaitReadable(std::span<const int> fds, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    std::vector<pollfd> set(fds.size());
    for (size_t i = 0; i < fds.size(); ++i) set[i] = pollfd{fds[i], POLLIN, 0};
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
    int left = timeoutMs > 0 ? timeoutMs : 0;
    for (;;) {
        const int n = ::poll(set.data(), set.size(), left);
        if (n > 0) break;
        if (n == 0) return -1;
        if (errno != EINTR) throw SocketException("[receive_timeout] select() return SOCKET_ERROR");
        // Interrupted: wait out the rest of the time. Rounded up, so a wait never ends early.
        const auto rest = deadline - Clock::now();
        if (rest <= Clock::duration::zero()) return -1;
        left = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(rest).count());
    }
    for (size_t i = 0; i < set.size(); ++i)
        if (set[i].revents != 0) return static_cast<int>(i);
    return -1;
}

uint32_t CommonSocket::ReceiveFrom(int fd, Address& from, void* buffer, uint32_t capacity) {
    for (;;) {
        socklen_t len = sizeof from.sockaddr();
        const ssize_t n = ::recvfrom(fd, buffer, capacity, 0,
                                     reinterpret_cast<::sockaddr*>(&from.sockaddr()), &len);
        if (n >= 0) return static_cast<uint32_t>(n);
        if (errno != EINTR) throw SocketException("[receive_timeout] Cannot receive");
    }
}

void CommonSocket::CheckReceiveCapacity(const void* buffer, uint32_t capacity) {
    if (capacity <= kMaxDatagramLength) return;
    std::ostringstream m;
    m << "[receive_timeout] with [buffer=" << Printable(buffer, capacity) << "] [len=" << capacity
      << "] Data length higher then max buffer length (" << kMaxDatagramLength << ")";
    throw SocketException(m.str());
}

std::string CommonSocket::Printable(const void* data, size_t len) {
    std::string text;
    if (data == nullptr) return text;
    const auto* p = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < len && i < kShownBytes; ++i)
        text.push_back(p[i] >= 0x20 && p[i] < 0x7F ? static_cast<char>(p[i]) : '.');
    if (len > kShownBytes) text += "...";
    return text;
}

}  // namespace LQComponent
