#include "gige/GVSPReceiverBySocket.h"

#include <chrono>
#include <memory>

#include "common/Log.h"
#include "frames/FrameBucket.h"
#include "gige/GigeCamera.h"
#include "gige/SocketException.h"

namespace {

constexpr int kReceiveWaitMs = 30;
constexpr uint32_t kPacketBufferSize = 9200;
constexpr auto kDummyPeriod = std::chrono::seconds(60);
constexpr auto kHeartbeatPeriod = std::chrono::seconds(3);

}  // namespace

CGVSPReceiverBySocket::CGVSPReceiverBySocket(CGigeCamera* camera,
                                             const LQComponent::Address& streamAddress,
                                             int frameCount)
    : CGVSPReceiver(camera, streamAddress),
      m_frameCount(frameCount > 0 ? frameCount : kDefaultFrameCount) {}

CGVSPReceiverBySocket::~CGVSPReceiverBySocket() {
    Stop();
    Uninit();
}

int CGVSPReceiverBySocket::Init(int payloadSize) {
    m_payloadSize = payloadSize;
    return CAMERA_STATUS_SUCCESS;
}

int CGVSPReceiverBySocket::Uninit() {
    return CAMERA_STATUS_SUCCESS;
}

int CGVSPReceiverBySocket::OpenStream(CFrameBucketProducer* producer) {
    int r;
    try {
        r = OpenSocket();
    } catch (const LQComponent::SocketException& e) {
        qv::Log("GVSP socket failed: %s\r\n", e.what());
        CloseSocket();
        r = CAMERA_STATUS_FAILED;
    }
    if (r != CAMERA_STATUS_SUCCESS) return CAMERA_STATUS_IO_ERROR;
    m_producer = producer;
    if (m_producer != nullptr) m_producer->SetStatus(CAMERA_STATUS_SUCCESS);
    return CAMERA_STATUS_SUCCESS;
}

int CGVSPReceiverBySocket::CloseStream() {
    QV_ASSERT(!m_isRun);
    CloseSocket();
    return CAMERA_STATUS_SUCCESS;
}

int CGVSPReceiverBySocket::Start() {
    if (m_isRun) return CAMERA_STATUS_SUCCESS;
    m_stop = false;
    m_isRun = true;
    m_thread = std::make_unique<std::thread>([this] { ReceiveThread(); });
    return CAMERA_STATUS_SUCCESS;
}

void CGVSPReceiverBySocket::Stop() {
    if (!m_isRun) return;
    m_isRun = false;
    m_stop = true;
    if (m_thread != nullptr && m_thread->joinable()) m_thread->join();
    m_thread.reset();
}

int CGVSPReceiverBySocket::SetFrameCount(int count) {
    if (m_isRun) return CAMERA_STATUS_BUSY;
    if (count < 1 || count > kMaxFrameCount) return CAMERA_STATUS_PARAMETER_INVALID;
    m_frameCount = count;
    return CAMERA_STATUS_SUCCESS;
}

int CGVSPReceiverBySocket::GetFrameCount(int* count) {
    if (count == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    *count = m_frameCount;
    return CAMERA_STATUS_SUCCESS;
}

void CGVSPReceiverBySocket::ReceiveThread() {
    using Clock = std::chrono::steady_clock;
    auto lastDummy = Clock::now();
    auto lastHeartbeat = lastDummy;
    std::unique_ptr<uint8_t[]> packet(new uint8_t[kPacketBufferSize]);
    try {
        while (!m_stop) {
            LQComponent::Address from;
            uint32_t len = kPacketBufferSize;
            if (m_socket.receive_timeout(kReceiveWaitMs, from, packet.get(), &len) > 0) continue;
            const auto now = Clock::now();
            if (now - lastDummy >= kDummyPeriod) {
                SendDummy();
                lastDummy = now;
            }
            if (now - lastHeartbeat >= kHeartbeatPeriod) {
                m_camera->HeartbeatCheck(0);
                lastHeartbeat = now;
            }
        }
    } catch (const LQComponent::SocketException&) {
        qv::Log("gvsp receive error\r\n");
    }
}
