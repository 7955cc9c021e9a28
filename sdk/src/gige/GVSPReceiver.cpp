#include "gige/GVSPReceiver.h"

#include <linux/filter.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <iterator>

#include "QVDeviceDef.h"
#include "common/Log.h"
#include "gige/SocketException.h"

namespace {

// 10 MiB: about 85 ms of a 1 Gb/s stream, so a receive thread that is not scheduled for a while
// loses nothing.
constexpr int kReceiveBuffer = 0xA00000;

}  // namespace

CGVSPReceiver::CGVSPReceiver(CGigeCamera* camera, const LQComponent::Address& streamAddress)
    : m_camera(camera), m_streamAddress(streamAddress) {}

void CGVSPReceiver::SetResendParam(bool enable, int percent, int timeoutMs, int retries) {
    m_resendEnable = enable;
    m_resendPercent = std::clamp(percent, 0, 100);
    m_resendTimeoutMs = std::max(timeoutMs, 0);
    m_resendRetries = std::max(retries, 0);
}

CGVSPReceiver::ResendParam CGVSPReceiver::GetResendParam() const {
    return {m_resendEnable.load(), m_resendPercent.load(), m_resendTimeoutMs.load(),
            m_resendRetries.load()};
}

void CGVSPReceiver::SendDummy() {
    const uint8_t zero = 0;
    if (m_socket.send(m_streamAddress, &zero, 1) != 1)
        throw LQComponent::SocketException("[send] dummy not sent");
}

bool CGVSPReceiver::FilterSender() {
    // The IPv4 source address (12 bytes into the network header) against the camera's; the
    // rest of the datagram when it matches, nothing when not.
    const uint32_t camera = ntohl(m_streamAddress.raw());
    sock_filter code[] = {
        {BPF_LD | BPF_W | BPF_ABS, 0, 0, static_cast<uint32_t>(SKF_NET_OFF + 12)},
        {BPF_JMP | BPF_JEQ | BPF_K, 0, 1, camera},
        {BPF_RET | BPF_K, 0, 0, 0xFFFFFFFFu},
        {BPF_RET | BPF_K, 0, 0, 0},
    };
    sock_fprog program{static_cast<unsigned short>(std::size(code)), code};
    return setsockopt(m_socket.GetSocket(), SOL_SOCKET, SO_ATTACH_FILTER, &program,
                      sizeof program) == 0;
}

int CGVSPReceiver::OpenSocket() {
    m_socket.open();
    // Before the bind, so that no other sender's datagram is ever queued.
    m_senderFiltered = FilterSender();
    m_socket.bind(static_cast<uint16_t>(0));
    try {
        SendDummy();
    } catch (const LQComponent::SocketException&) {
        qv::Log("Send a GVSP dummy packet to GigE Camera failed\r\n");
        m_socket.close();
        return CAMERA_STATUS_FAILED;
    }
    m_socket.SetBufferSize(0, kReceiveBuffer);
    // The system grants at most its limit (net.core.rmem_max); a privileged process may go
    // beyond it. Whatever it grants is what a busy stream has to live with: say so.
    int granted = 0;
    socklen_t len = sizeof granted;
    getsockopt(m_socket.GetSocket(), SOL_SOCKET, SO_RCVBUF, &granted, &len);
    if (granted / 2 < kReceiveBuffer) {
        const int size = kReceiveBuffer;
        setsockopt(m_socket.GetSocket(), SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size);
        getsockopt(m_socket.GetSocket(), SOL_SOCKET, SO_RCVBUF, &granted, &len);
    }
    // The kernel reports twice the usable size (its bookkeeping share included).
    qv::Log("GVSP receive buffer %d bytes of %d asked\r\n", granted / 2, kReceiveBuffer);
    m_localPort = m_socket.get_port();
    qv::Log("GVSP local port is %u\r\n", m_localPort);
    return CAMERA_STATUS_SUCCESS;
}

void CGVSPReceiver::CloseSocket() {
    m_socket.close();
    m_localPort = 0;
}
