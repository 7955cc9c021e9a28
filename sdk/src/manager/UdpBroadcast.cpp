#include "manager/UdpBroadcast.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/Log.h"
#include "QVDeviceDef.h"

namespace {

class Socket {
  public:
    Socket() : m_fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP)) {}
    ~Socket() {
        if (m_fd >= 0) ::close(m_fd);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd() const { return m_fd; }

  private:
    int m_fd;
};

int Fail(const char* what) {
    qv::Log("broadcast: %s failed: %s\n", what, std::strerror(errno));
    return CAMERA_STATUS_FAILED;
}

}  // namespace

int SendUdpBroadcast(const char* localIp, uint16_t port, const void* data, size_t len, int repeat) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = 0;
    if (localIp == nullptr || inet_pton(AF_INET, localIp, &local.sin_addr) != 1) {
        qv::Log("broadcast: bad local address\n");
        return CAMERA_STATUS_FAILED;
    }

    Socket sock;
    if (sock.fd() < 0) return Fail("socket");
    const int on = 1;
    if (setsockopt(sock.fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0)
        return Fail("SO_REUSEADDR");
    if (bind(sock.fd(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
        return Fail("bind");
    if (setsockopt(sock.fd(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0)
        return Fail("SO_BROADCAST");

    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    target.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    for (int i = 0; i < repeat; ++i) {
        const ssize_t sent = sendto(sock.fd(), data, len, 0,
                                    reinterpret_cast<const sockaddr*>(&target), sizeof target);
        if (sent < 0) return Fail("send");
        if (static_cast<size_t>(sent) != len) {
            qv::Log("broadcast: short send %zd of %zu bytes\n", sent, len);
            return CAMERA_STATUS_FAILED;
        }
    }
    return CAMERA_STATUS_SUCCESS;
}
