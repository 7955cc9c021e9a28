#include "gige/UDP.h"

#include <sys/socket.h>

#include <cerrno>
#include <sstream>

#include "gige/SocketException.h"

namespace LQComponent {

size_t UDP::send(const std::string& ip, uint16_t port, const void* data, size_t len) {
    open();
    if (len > kMaxDatagramLength) {
        std::ostringstream m;
        m << "[send] with [ip=" << ip << "] [port=" << port << "] [len=" << len
          << "] Data length higher then max buffer len (" << kMaxDatagramLength << ")";
        throw SocketException(m.str());
    }
    const Address to(ip, port);
    for (;;) {
        const sockaddr_in& a = to.sockaddr();
        const ssize_t n = ::sendto(m_socketId, data, len, MSG_NOSIGNAL,
                                   reinterpret_cast<const ::sockaddr*>(&a), sizeof a);
        if (n >= 0) return static_cast<size_t>(n);
        if (errno == EINTR) continue;
        std::ostringstream m;
        m << "[send] with [ip=" << ip << "] [port=" << port << "] [data=" << Printable(data, len)
          << "] [len=" << len << "] Cannot send";
        throw SocketException(m.str());
    }
}

size_t UDP::send(const Address& to, const void* data, size_t len) {
    return send(to.ip(), to.port(), data, len);
}

uint32_t UDP::receive_timeout(int timeoutMs, Address& from, void* buffer, uint32_t* len) {
    if (!m_opened) throw SocketException("[receive_timeout] Not open");
    if (!m_binded)
        throw SocketException("[receive_timeout] Make the socket listening before receiving");
    CheckReceiveCapacity(buffer, *len);
    const int fd = m_socketId;
    if (WaitReadable({&fd, 1}, timeoutMs) < 0) return 0;
    *len = ReceiveFrom(m_socketId, from, buffer, *len);
    return *len;
}

}  // namespace LQComponent
