// LQComponent::SocketGroup: waits on several datagram sockets at once and reads from the first
// ready one in the order they were added. It holds copies of the sockets and never opens or
// closes a descriptor, so the sockets must stay open while the group is used.
#pragma once

#include <cstdint>
#include <vector>

#include "gige/UDP.h"

namespace LQComponent {

class SocketGroup {
  public:
    // The socket must be opened ("[receive_timeout] Not open") and bound ("[receive_timeout]
    // Make the socket listening before receiving").
    void add(const UDP& socket);
    void clear() { m_sockets.clear(); }
    size_t size() const { return m_sockets.size(); }

    // As UDP::receive_timeout, over the whole group; *descriptor (when not null) gets the
    // descriptor the datagram came from. An empty group waits out the time and returns 0.
    uint32_t receive_timeout(int timeoutMs, Address& from, void* buffer, uint32_t* len,
                             int* descriptor);

  private:
    std::vector<UDP> m_sockets;
};

}  // namespace LQComponent
