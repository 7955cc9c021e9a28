#include "gige/CommonSocket.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
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

namespace {

int SetInt(int fd, int level, int name, int value) {
    return setsockopt(fd, level, name, &value, sizeof value) == 0 ? 0 : -1;
}

// The option's value, or -1 when it cannot be read (every option read this way is >= 0).
int GetInt(int fd, int level, int name) {
    int value = 0;
    socklen_t len = sizeof value;
    if (getsockopt(fd, level, name, &value, &len) != 0) return -1;
    // IP_MULTICAST_TTL may come back as a single byte.
    return len == 1 ? static_cast<unsigned char>(value & 0xFF) : value;
}

int SetTime(int fd, int name, int ms) {
    if (ms < 0) return -1;
    const timeval t{ms / 1000, static_cast<suseconds_t>(ms % 1000) * 1000};
    return setsockopt(fd, SOL_SOCKET, name, &t, sizeof t) == 0 ? 0 : -1;
}

int GetTime(int fd, int name) {
    timeval t{};
    socklen_t len = sizeof t;
    if (getsockopt(fd, SOL_SOCKET, name, &t, &len) != 0) return -1;
    const long long ms = static_cast<long long>(t.tv_sec) * 1000 + t.tv_usec / 1000;
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

}  // namespace

int CommonSocket::GetBufferSize(int* sendSize, int* recvSize) const {
    const int send = GetInt(m_socketId, SOL_SOCKET, SO_SNDBUF);
    const int recv = GetInt(m_socketId, SOL_SOCKET, SO_RCVBUF);
    if (send < 0 || recv < 0) return -1;
    if (sendSize != nullptr) *sendSize = send;
    if (recvSize != nullptr) *recvSize = recv;
    return 0;
}

int CommonSocket::set_ttl(int ttl) {
    return SetInt(m_socketId, IPPROTO_IP, IP_TTL, ttl);
}

int CommonSocket::get_ttl() const {
    return GetInt(m_socketId, IPPROTO_IP, IP_TTL);
}

int CommonSocket::set_tos(int tos) {
    return SetInt(m_socketId, IPPROTO_IP, IP_TOS, tos);
}

int CommonSocket::get_tos() const {
    return GetInt(m_socketId, IPPROTO_IP, IP_TOS);
}

int CommonSocket::set_multicast_ttl(int ttl) {
    return SetInt(m_socketId, IPPROTO_IP, IP_MULTICAST_TTL, ttl);
}

int CommonSocket::get_multicast_ttl() const {
    return GetInt(m_socketId, IPPROTO_IP, IP_MULTICAST_TTL);
}

int CommonSocket::set_linger_on(int seconds) {
    if (seconds < 0) return -1;
    const linger l{1, seconds};
    return setsockopt(m_socketId, SOL_SOCKET, SO_LINGER, &l, sizeof l) == 0 ? 0 : -1;
}

int CommonSocket::set_linger_off() {
    const linger l{0, 0};
    return setsockopt(m_socketId, SOL_SOCKET, SO_LINGER, &l, sizeof l) == 0 ? 0 : -1;
}

int CommonSocket::get_linger(int* seconds) const {
    linger l{};
    socklen_t len = sizeof l;
    if (getsockopt(m_socketId, SOL_SOCKET, SO_LINGER, &l, &len) != 0) return -1;
    if (l.l_onoff == 0) return 0;
    if (seconds != nullptr) *seconds = l.l_linger;
    return 1;
}

int CommonSocket::set_nonblocking(bool on) {
    const int flags = fcntl(m_socketId, F_GETFL);
    if (flags < 0) return -1;
    const int wanted = on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK;
    return wanted == flags || fcntl(m_socketId, F_SETFL, wanted) == 0 ? 0 : -1;
}

int CommonSocket::get_nonblocking() const {
    const int flags = fcntl(m_socketId, F_GETFL);
    if (flags < 0) return -1;
    return (flags & O_NONBLOCK) != 0 ? 1 : 0;
}

int CommonSocket::set_option(int level, int name, const void* value, uint32_t len) {
    return setsockopt(m_socketId, level, name, value, len) == 0 ? 0 : -1;
}

int CommonSocket::get_option(int level, int name, void* value, uint32_t* len) const {
    if (len == nullptr) return -1;
    socklen_t n = *len;
    if (getsockopt(m_socketId, level, name, value, &n) != 0) return -1;
    *len = n;
    return 0;
}

int CommonSocket::set_send_timeout(int ms) {
    return SetTime(m_socketId, SO_SNDTIMEO, ms);
}

int CommonSocket::get_send_timeout() const {
    return GetTime(m_socketId, SO_SNDTIMEO);
}

int CommonSocket::set_receive_timeout(int ms) {
    return SetTime(m_socketId, SO_RCVTIMEO, ms);
}

int CommonSocket::get_receive_timeout() const {
    return GetTime(m_socketId, SO_RCVTIMEO);
}

Address CommonSocket::get_address() const {
    Address address;
    socklen_t len = sizeof address.sockaddr();
    if (getsockname(m_socketId, reinterpret_cast<::sockaddr*>(&address.sockaddr()), &len) != 0)
        throw SocketException("[get_address] getsockname() error");
    return address;
}

int CommonSocket::WaitReady(std::span<const int> fds, short events, int timeoutMs, const char* op) {
    using Clock = std::chrono::steady_clock;
    std::vector<pollfd> set(fds.size());
    for (size_t i = 0; i < fds.size(); ++i) set[i] = pollfd{fds[i], events, 0};
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
    int left = timeoutMs > 0 ? timeoutMs : 0;
    for (;;) {
        const int n = ::poll(set.data(), set.size(), left);
        if (n > 0) break;
        if (n == 0) return -1;
        if (errno != EINTR)
            throw SocketException(std::string("[") + op + "] select() return SOCKET_ERROR");
        // Interrupted: wait out the rest of the time. Rounded up, so a wait never ends early.
        const auto rest = deadline - Clock::now();
        if (rest <= Clock::duration::zero()) return -1;
        left = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(rest).count());
    }
    for (size_t i = 0; i < set.size(); ++i)
        if (set[i].revents != 0) return static_cast<int>(i);
    return -1;
}

int CommonSocket::WaitReadable(std::span<const int> fds, int timeoutMs) {
    return WaitReady(fds, POLLIN, timeoutMs, "receive_timeout");
}

std::optional<uint32_t> CommonSocket::ReceiveFrom(int fd, Address& from, void* buffer,
                                                  uint32_t capacity, int flags, const char* op) {
    for (;;) {
        socklen_t len = sizeof from.sockaddr();
        const ssize_t n = ::recvfrom(fd, buffer, capacity, flags,
                                     reinterpret_cast<::sockaddr*>(&from.sockaddr()), &len);
        if (n >= 0) return static_cast<uint32_t>(n);
        if (errno == EAGAIN || errno == EWOULDBLOCK) return std::nullopt;
        if (errno != EINTR) throw SocketException(std::string("[") + op + "] Cannot receive");
    }
}

void CommonSocket::CheckReceiveCapacity(const void* buffer, uint32_t capacity, const char* op) {
    if (capacity <= kMaxDatagramLength) return;
    std::ostringstream m;
    m << "[" << op << "] with [buffer=" << Printable(buffer, capacity) << "] [len=" << capacity
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
