#include "gige/SocketGroup.h"

#include <sys/socket.h>

#include "gige/SocketException.h"

namespace LQComponent {

namespace {

// Exposes the protected wait and receive of the socket base to the group.
class GroupIo : public CommonSocket {
  public:
    using CommonSocket::CheckReceiveCapacity;
    using CommonSocket::ReceiveFrom;
    using CommonSocket::WaitReadable;
};

}  // namespace

void SocketGroup::add(const UDP& socket) {
    if (!socket.IsOpened()) throw SocketException("[receive_timeout] Not open");
    if (!socket.IsBinded())
        throw SocketException("[receive_timeout] Make the socket listening before receiving");
    m_sockets.push_back(socket);
}

uint32_t SocketGroup::receive_timeout(int timeoutMs, Address& from, void* buffer, uint32_t* len,
                                      int* descriptor) {
    GroupIo::CheckReceiveCapacity(buffer, *len);
    std::vector<int> fds;
    fds.reserve(m_sockets.size());
    for (const UDP& s : m_sockets) fds.push_back(s.GetSocket());
    const int ready = GroupIo::WaitReadable(fds, timeoutMs);
    if (ready < 0) return 0;
    const int fd = fds[static_cast<size_t>(ready)];
    // Not waiting again: what poll saw may be gone (a datagram the system dropped on reading).
    const std::optional<uint32_t> got = GroupIo::ReceiveFrom(fd, from, buffer, *len, MSG_DONTWAIT);
    if (!got) return 0;
    *len = *got;
    if (descriptor != nullptr) *descriptor = fd;
    return *len;
}

}  // namespace LQComponent
