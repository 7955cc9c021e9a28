#include "gige/UDP.h"

#include <sys/socket.h>

#include <algorithm>
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

size_t UDP::send_text(const std::string& ip, uint16_t port, const std::string& text) {
    return send(ip, port, text.c_str(), text.size() + 1);
}

size_t UDP::send_text(const Address& to, const std::string& text) {
    return send_text(to.ip(), to.port(), text);
}

void UDP::CheckReceive(const char* op, const void* buffer, uint32_t capacity) const {
    const std::string name = std::string("[") + op + "] ";
    if (!m_opened) throw SocketException(name + "Not open");
    if (!m_binded) throw SocketException(name + "Make the socket listening before receiving");
    CheckReceiveCapacity(buffer, capacity, op);
}

uint32_t UDP::receive_timeout(int timeoutMs, Address& from, void* buffer, uint32_t* len) {
    CheckReceive("receive_timeout", buffer, *len);
    const int fd = m_socketId;
    if (WaitReadable({&fd, 1}, timeoutMs) < 0) return 0;
    // Not waiting again: what poll saw may be gone (a datagram the system dropped on reading).
    const std::optional<uint32_t> got = ReceiveFrom(fd, from, buffer, *len, MSG_DONTWAIT);
    if (!got) return 0;
    *len = *got;
    return *len;
}

uint32_t UDP::receive(Address& from, void* buffer, uint32_t* len) {
    CheckReceive("receive", buffer, *len);
    const std::optional<uint32_t> got = ReceiveFrom(m_socketId, from, buffer, *len, 0, "receive");
    if (!got) return 0;
    *len = *got;
    return *len;
}

UDP::Datagram UDP::MakeDatagram(const Address& from, const uint8_t* data, uint32_t len) {
    Datagram d;
    d.from = from;
    d.data.assign(data, data + len);
    d.text.assign(reinterpret_cast<const char*>(data),
                  std::find(data, data + len, uint8_t{0}) - data);
    return d;
}

UDP::Datagram UDP::receive_datagram() {
    std::vector<uint8_t> buffer(kMaxDatagramLength);
    auto len = static_cast<uint32_t>(buffer.size());
    Address from;
    CheckReceive("receive", buffer.data(), len);
    const std::optional<uint32_t> got =
        ReceiveFrom(m_socketId, from, buffer.data(), len, 0, "receive");
    return got ? MakeDatagram(from, buffer.data(), *got) : Datagram{};
}

std::optional<UDP::Datagram> UDP::receive_datagram_timeout(int timeoutMs) {
    std::vector<uint8_t> buffer(kMaxDatagramLength);
    auto len = static_cast<uint32_t>(buffer.size());
    CheckReceive("receive_timeout", buffer.data(), len);
    const int fd = m_socketId;
    if (WaitReadable({&fd, 1}, timeoutMs) < 0) return std::nullopt;
    Address from;
    const std::optional<uint32_t> got = ReceiveFrom(fd, from, buffer.data(), len, MSG_DONTWAIT);
    if (!got) return std::nullopt;
    return MakeDatagram(from, buffer.data(), *got);
}

}  // namespace LQComponent
