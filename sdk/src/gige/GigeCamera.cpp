// CGigeCamera: construction, Open and Close, the heartbeat, the alive check, and the stream
// (open with packet-size negotiation, capture start and stop, close).
#include "gige/GigeCamera.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/ByteOrder.h"
#include "common/Log.h"
#include "device/CameraInitParam.h"
#include "frames/FrameBucket.h"
#include "gige/GVSPReceiver.h"
#include "gige/SocketException.h"
#include "services/TimerMng.h"
#include "storage/StorageData.h"

namespace gige = qv::gige;

namespace {

constexpr int kHeartbeatPeriodMs = 3000;
constexpr int kDefaultHeartbeatMs = 5000;
// The stream's heartbeat timer runs this much ahead of the camera's timeout.
constexpr int kHeartbeatLeadMs = 2000;
constexpr int kMissesForLoss = 3;
constexpr int kAliveProbeTimeoutMs = 300;
constexpr int kAliveProbeTries = 3;
constexpr int kNegotiationWaitMs = 200;
constexpr int kNegotiationStep = 1000;
constexpr int kStreamReceiveBuffer = 0xA00000;
// The packet sizes a stream may use: an Ethernet frame up to a jumbo frame.
constexpr uint32_t kMinPacketSize = 1500;
constexpr uint32_t kMaxPacketSize = 9000;

struct ModelType {
    uint32_t model;
    int type;
};
constexpr ModelType kModelTypes[] = {
    {0xAA310001, 200}, {0xAA310002, 200}, {0xAA310003, 201}, {0xAA310004, 202},
    {0xAA310005, 203}, {0xAA310006, 204}, {0xAA310007, 204}, {0xAA320001, 205},
};

}  // namespace

CGigeCamera::CGigeCamera(const char* serial, const char* model, const char* version,
                         const char* netcard, const DISCOVERY_ACK_DATA& ack)
    : CJNDevice(serial, model, version),
      m_netcardName(netcard != nullptr ? netcard : ""),
      m_discoveryAck(ack) {
    uint32_t ip;
    std::memcpy(&ip, ack.currentIp, sizeof ip);
    m_peerAddr = LQComponent::Address(ip, gige::GvcpPort());
    std::memset(m_msgBuf, 0, sizeof m_msgBuf);
    // The serial number field of the answer is 16 bytes and need not be terminated.
    std::memset(m_sn, 0, sizeof m_sn);
    std::memcpy(m_sn, ack.serialNumber, strnlen(ack.serialNumber, sizeof ack.serialNumber));
}

CGigeCamera::~CGigeCamera() {
    Shutdown();
}

int CGigeCamera::GetFpgaType(const CameraProperty* prop) {
    if (prop == nullptr) return 0;
    for (const ModelType& m : kModelTypes)
        if (m.model == prop->modelCode) return m.type;
    return 0;
}

int CGigeCamera::GetHardwareType() {
    return m_hardwareType;
}

// ---- Open and close ------------------------------------------------------------------------

int CGigeCamera::HeartbeatTimeoutFromEnvironment() {
    const char* text = std::getenv("QVCAM_GIGE_DEBUG_HEARTBEAT");
    if (text == nullptr || *text == '\0') return kDefaultHeartbeatMs;
    // Leading digits count; a text without them reads as 0.
    const long value = std::strtol(text, nullptr, 10);
    if (value >= 1 && value < kDefaultHeartbeatMs) return kDefaultHeartbeatMs;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

bool CGigeCamera::ChannelOpen() {
    std::lock_guard lock(m_cmdMutex);
    return m_gvcpSocket.IsOpened();
}

void CGigeCamera::CloseChannel() {
    std::lock_guard lock(m_cmdMutex);
    m_gvcpSocket.close();
}

int CGigeCamera::Open(void* opener) {
    (void)opener;
    std::lock_guard openLock(m_openMutex);
    if (m_openRef.fetch_add(1) > 0) return CAMERA_STATUS_SUCCESS;

    {
        std::lock_guard lock(m_cmdMutex);
        try {
            m_gvcpSocket.open();
            if (m_gvcpSocket.bind(static_cast<uint16_t>(0)) != 0)
                throw LQComponent::SocketException("[bind] Cannot bind");
        } catch (const LQComponent::SocketException& e) {
            qv::Log("GigE camera socket failed: %s\r\n", e.what());
            m_gvcpSocket.close();
            m_openRef.store(0);
            return -2;
        }
        m_reqId = 1;
    }

    const int heartbeat = HeartbeatTimeoutFromEnvironment();
    int r = WriteRegs({gige::kRegCcp, gige::kCcpControl, gige::kRegHeartbeatTimeout,
                       static_cast<uint32_t>(heartbeat), gige::kRegGvcpConfig, 0},
                      100, 3);
    if (r != CAMERA_STATUS_SUCCESS) {
        qv::Log("Take control of GigE camera failed\r\n");
        CloseChannel();
        m_openRef.store(0);
        return CAMERA_STATUS_FAILED;
    }

    uint32_t value = 0;
    m_gvcpCapability = ReadReg(gige::kRegGvcpCapability, &value, 100, 3) == 0 ? value : 0;
    m_acqCtrl = false;
    m_pktNegotiation = false;
    if (ReadReg(gige::kRegStreamCapability, &value, 100, 3) == 0) {
        m_acqCtrl = (value & gige::kStreamCapAcquisitionControl) != 0;
        m_pktNegotiation = (value & gige::kStreamCapPacketNegotiation) != 0;
    }

    char hardwareVersion[gige::kHardwareVersionSize] = {};
    if (ReadMem(gige::kMemHardwareVersion, hardwareVersion, sizeof hardwareVersion) != 0)
        std::memset(hardwareVersion, 0, sizeof hardwareVersion);

    auto fail = [&](const char* message, int code) {
        qv::Log("%s", message);
        delete m_pEEPromData;
        m_pEEPromData = nullptr;
        WriteReg(gige::kRegCcp, 0);
        CloseChannel();
        m_openRef.store(0);
        return code;
    };
    m_pEEPromData = MakeEEPromInstance(hardwareVersion);
    if (m_pEEPromData == nullptr)
        return fail("Make EEPROM instance failed\r\n", CAMERA_STATUS_DEVICE_OPEN_FAILED);
    if ((r = LoadDeviceProperty(&m_devProperty)) != CAMERA_STATUS_SUCCESS)
        return fail("Read device property configure failed\r\n", r);
    m_devProperty.userDataSize = m_pEEPromData->GetUserDataSize();
    m_hardwareType = GetFpgaType(&m_devProperty);
    if (m_hardwareType == 0) {
        qv::Log("Unknown GigE camera model 0x%08x\r\n", m_devProperty.modelCode);
        return fail("Read device property configure failed\r\n", CAMERA_STATUS_DEVICE_OPEN_FAILED);
    }
    if ((r = FillDevInfo(&m_devInfo)) != CAMERA_STATUS_SUCCESS)
        return fail("Get stable param from file failed\r\n", r);

    {
        std::lock_guard lock(m_streamMutex);
        m_missCount = 0;
    }
    m_heartbeatTimer = CTimerMng::GetInstance()->AddTimer(&CGigeCamera::OnHeartbeatTimer,
                                                          kHeartbeatPeriodMs, this);
    if (m_heartbeatTimer == nullptr)
        return fail("Create gvcp timer failed\r\n", CAMERA_STATUS_FAILED);
    {
        std::lock_guard lock(m_receiverMutex);
        m_streamOpened = false;
        m_streamStarted = false;
    }
    qv::Log("GigE Camera open successfully!\n");
    return CAMERA_STATUS_SUCCESS;
}

int CGigeCamera::Close() {
    std::lock_guard openLock(m_openMutex);
    QV_ASSERT(m_openRef > 0);
    if (m_openRef.fetch_sub(1) == 1) Shutdown();
    return CAMERA_STATUS_SUCCESS;
}

void CGigeCamera::Shutdown() {
    CloseStream();
    delete m_pEEPromData;
    m_pEEPromData = nullptr;
    // Without our mutexes: the removal waits for a heartbeat in flight, which takes them.
    if (m_heartbeatTimer != nullptr) {
        CTimerMng::GetInstance()->RemoveTimer(m_heartbeatTimer);
        m_heartbeatTimer = nullptr;
    }
    if (!ChannelOpen()) return;
    WriteReg(gige::kRegCcp, 0);
    {
        std::lock_guard lock(m_infoMutex);
        m_discoveryAck.accessBits = 0;
    }
    CloseChannel();
    qv::Log("GigE Camera close\r\n");
}

// ---- Heartbeat and liveness ----------------------------------------------------------------

int CGigeCamera::OnHeartbeatTimer(TimerEntry* entry, void* user) {
    (void)entry;
    static_cast<CGigeCamera*>(user)->HeartbeatCheck(100);
    return 0;
}

int CGigeCamera::HeartbeatPeriodMs() {
    std::lock_guard openLock(m_openMutex);
    return m_heartbeatTimer != nullptr ? CTimerMng::GetInstance()->GetPeriod(m_heartbeatTimer) : 0;
}

int CGigeCamera::HeartbeatCheck(int timeoutMs) {
    bool passed;
    if (m_hardwareType == 200) {
        passed = WriteReg(gige::kRegCcp, gige::kCcpControl) == CAMERA_STATUS_SUCCESS;
    } else {
        uint32_t ccp = 0;
        passed = ReadReg(gige::kRegCcp, &ccp, timeoutMs, 1) == CAMERA_STATUS_SUCCESS &&
                 (ccp & gige::kCcpControl) != 0;
    }
    bool lost = false;
    {
        std::lock_guard lock(m_streamMutex);
        if (passed) {
            m_missCount = 0;
            return 0;
        }
        // The receive thread's checks (timeout 0) only keep the camera's heartbeat alive.
        if (timeoutMs > 0) ++m_missCount;
        if (m_missCount >= kMissesForLoss && m_producer != nullptr) {
            m_missCount = 0;
            // Under the lock: a stream close forgets the producer under it, so no status ever
            // reaches a pool that is going away.
            m_producer->SetStatus(CAMERA_STATUS_DEVICE_LOST);
            lost = true;
        }
    }
    if (lost) {
        qv::Log("GigE camera heartbeat lost\r\n");
        NotifyDisconnect(0);
    }
    return 0;
}

bool CGigeCamera::CheckAlive() {
    if (ChannelOpen()) {
        uint32_t ccp = 0;
        return ReadReg(gige::kRegCcp, &ccp, 100, 3) == CAMERA_STATUS_SUCCESS;
    }
    // Not open: one READREG of the privilege register from a socket of its own.
    LQComponent::UDP probe;
    bool alive = false;
    try {
        if (probe.bind(static_cast<uint16_t>(0)) != 0) throw LQComponent::SocketException("[bind]");
        uint8_t command[gige::kHeaderSize + 4];
        gige::EncodeCmdHeader(command, {gige::kFlagAckRequired, gige::kReadRegCmd, 4, 1});
        qv::StoreBe32(command + gige::kHeaderSize, gige::kRegCcp);
        const LQComponent::Address peer = GetPeerAddress();
        for (int i = 0; i < kAliveProbeTries; ++i) {
            probe.send(peer, command, sizeof command);
            uint8_t answer[12];
            uint32_t len = sizeof answer;
            LQComponent::Address from;
            if (probe.receive_timeout(kAliveProbeTimeoutMs, from, answer, &len) == 0) continue;
            gige::AckHeader ack{};
            alive = len == sizeof answer && gige::DecodeAckHeader(answer, len, &ack) &&
                    ack.status == 0 && ack.ackId == 1 && ack.ackCode == gige::kReadRegAck;
            break;
        }
    } catch (const LQComponent::SocketException&) {
        alive = false;
    }
    probe.close();
    return alive;
}

// ---- Frame description ---------------------------------------------------------------------

void CGigeCamera::GetFrameInfo(stImageInfo* info) {
    std::lock_guard lock(m_frameInfoMutex);
    *info = m_frameInfo;
}

int CGigeCamera::RefreshFrameInfo(int r) {
    stImageInfo info{};
    if (CJNDevice::GetImageInfo(&info) == CAMERA_STATUS_SUCCESS) {
        std::lock_guard lock(m_frameInfoMutex);
        m_frameInfo = info;
    }
    return r;
}

int CGigeCamera::InitSensor(CameraInitParam* param) {
    return RefreshFrameInfo(CJNDevice::InitSensor(param));
}
int CGigeCamera::SetExposureLines(uint32_t lines) {
    return RefreshFrameInfo(CJNDevice::SetExposureLines(lines));
}
int CGigeCamera::SetExposure(double us) {
    return RefreshFrameInfo(CJNDevice::SetExposure(us));
}
int CGigeCamera::SetFrameTime(double us) {
    return RefreshFrameInfo(CJNDevice::SetFrameTime(us));
}
int CGigeCamera::SetFrameSpeed(int speed) {
    return RefreshFrameInfo(CJNDevice::SetFrameSpeed(speed));
}
int CGigeCamera::SetAnalogGain(uint32_t gain) {
    return RefreshFrameInfo(CJNDevice::SetAnalogGain(gain));
}
int CGigeCamera::SetWdrMode(int mode) {
    return RefreshFrameInfo(CJNDevice::SetWdrMode(mode));
}
int CGigeCamera::SetTriggerMode(int mode) {
    return RefreshFrameInfo(CJNDevice::SetTriggerMode(mode));
}
int CGigeCamera::SetResolution(tSdkResolution* res) {
    return RefreshFrameInfo(CJNDevice::SetResolution(res));
}
int CGigeCamera::SetRoiOffset(int x, int y) {
    return RefreshFrameInfo(CJNDevice::SetRoiOffset(x, y));
}

bool CGigeCamera::GetStreamStats(CGVSPReceiver::Stats* stats) {
    std::lock_guard lock(m_receiverMutex);
    if (m_gvspReceiver == nullptr) return false;
    *stats = m_gvspReceiver->GetStats();
    return true;
}

// ---- Stream --------------------------------------------------------------------------------

void CGigeCamera::ReleasePrivilege() {
    WriteReg(gige::kRegCcp, 0);
}

int CGigeCamera::OpenStream(CFrameBucketProducer* producer, CameraInitParam* param) {
    QV_ASSERT(ChannelOpen());
    QV_ASSERT(param != nullptr);
    std::lock_guard receiverLock(m_receiverMutex);
    if (m_streamOpened) {
        qv::Log("gige stream already open\r\n");
        return CAMERA_STATUS_DEVICE_IS_OPENED;
    }
    // A size outside what an Ethernet link carries would give no payload at all (36 bytes of
    // headers) or datagrams beyond the receiver's buffer.
    uint32_t size = static_cast<uint32_t>(param->packetSize) & ~3u;
    if (param->packetSize < 0 || size < kMinPacketSize) size = kMinPacketSize;
    if (size > kMaxPacketSize) size = kMaxPacketSize;
    m_packetSize = size;

    if (InitSensor(param) != CAMERA_STATUS_SUCCESS) {
        qv::Log("Sensor initialize failed\r\n");
        ReleasePrivilege();
        return CAMERA_STATUS_STREAM_OPEN_FAILED;
    }
    if (param->heartbeat != 0) {
        if (param->heartbeat >= 1 && param->heartbeat < kDefaultHeartbeatMs)
            param->heartbeat = kDefaultHeartbeatMs;
        const int period = param->heartbeat - kHeartbeatLeadMs;
        if (m_heartbeatTimer != nullptr && period > 0)
            CTimerMng::GetInstance()->ResetTimer(m_heartbeatTimer, period);
        WriteReg(gige::kRegHeartbeatTimeout, static_cast<uint32_t>(param->heartbeat));
    }
    WriteRegs({gige::kRegStreamPort, 0, gige::kRegStreamDestination, 0}, 100, 3);

    uint32_t sourcePort = 0;
    int r = ReadReg(gige::kRegStreamSourcePort, &sourcePort, 100, 3);
    if (r != CAMERA_STATUS_SUCCESS) {
        qv::Log("Read stream channel source port failed\r\n");
        ReleasePrivilege();
        return r;
    }
    LQComponent::Address streamAddress = GetPeerAddress();
    streamAddress.port(static_cast<uint16_t>(sourcePort));

    if (m_pktNegotiation && m_acqCtrl && NegotiatePacketSize(streamAddress) != 0)
        m_packetSize = kMinPacketSize;

    std::unique_ptr<CGVSPReceiver> receiver(CreateGVSPReceiver(streamAddress, param->frameCount));
    r = receiver != nullptr
            ? receiver->Init(static_cast<int>(m_packetSize - gige::kStreamHeaderBytes))
            : CAMERA_STATUS_FAILED;
    if (r == CAMERA_STATUS_SUCCESS) r = receiver->OpenStream(producer);
    if (r != CAMERA_STATUS_SUCCESS) {
        qv::Log("Create GVSP Receiver failed\r\n");
        if (receiver != nullptr) receiver->Uninit();
        ReleasePrivilege();
        return r;
    }
    m_gvspReceiver = receiver.release();
    producer->SetStatus(CAMERA_STATUS_SUCCESS);
    {
        std::lock_guard lock(m_streamMutex);
        m_producer = producer;
        m_missCount = 0;
    }
    m_streamOpened = true;
    qv::Log("GigE Open stream successfully\r\n");
    return CAMERA_STATUS_SUCCESS;
}

int CGigeCamera::NegotiatePacketSize(const LQComponent::Address& streamAddress) {
    if (m_packetSize == kMinPacketSize) return 0;
    uint32_t config = 0;
    int r = ReadReg(gige::kRegStreamConfig, &config, 100, 3);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if ((config & gige::kStreamConfigNegotiation) == 0) {
        r = WriteReg(gige::kRegStreamConfig, config | gige::kStreamConfigNegotiation);
        if (r != CAMERA_STATUS_SUCCESS) return r;
    }
    LQComponent::UDP socket;
    r = CAMERA_STATUS_COMM_ERROR;
    try {
        socket.bind(static_cast<uint16_t>(0));
        const uint8_t dummy = 0;
        if (socket.send(streamAddress, &dummy, 1) != 1) {
            qv::Log("Send a GVSP dummy packet to GigE Camera failed\r\n");
            socket.close();
            return CAMERA_STATUS_FAILED;
        }
        socket.SetBufferSize(0, kStreamReceiveBuffer);
        r = WriteRegs(
            {gige::kRegStreamPort, socket.get_port(), gige::kRegStreamDestination, 0xFFFFFFFFu},
            100, 3);
        if (r == CAMERA_STATUS_SUCCESS) {
            uint32_t size = m_packetSize;
            std::unique_ptr<uint8_t[]> buffer(new uint8_t[size]);
            r = CAMERA_STATUS_COMM_ERROR;
            while (size > kMinPacketSize) {
                const int w =
                    WriteReg(gige::kRegStreamPacketSize,
                             size | gige::kPacketSizeFireTest | gige::kPacketSizeDontFragment);
                if (w != CAMERA_STATUS_SUCCESS) {
                    r = w;
                    break;
                }
                uint32_t len = size;
                LQComponent::Address from;
                if (socket.receive_timeout(kNegotiationWaitMs, from, buffer.get(), &len) > 0 &&
                    len == size - gige::kIpUdpHeaderBytes) {
                    m_packetSize = size;
                    r = CAMERA_STATUS_SUCCESS;
                    break;
                }
                size -= kNegotiationStep;
            }
        }
    } catch (const LQComponent::SocketException& e) {
        // A camera reporting source port 0, or an unreachable one, ends here.
        qv::Log("GigE packet size negotiation failed: %s\r\n", e.what());
        r = CAMERA_STATUS_COMM_ERROR;
    }
    socket.close();
    return r;
}

int CGigeCamera::CloseStream() {
    CGVSPReceiver* receiver = nullptr;
    {
        std::lock_guard receiverLock(m_receiverMutex);
        if (!m_streamOpened) return CAMERA_STATUS_SUCCESS;
        m_streamOpened = false;
        m_streamStarted = false;
        {
            std::lock_guard lock(m_streamMutex);
            m_producer = nullptr;
        }
        receiver = m_gvspReceiver;
        m_gvspReceiver = nullptr;
        if (receiver != nullptr) {
            receiver->Stop();
            receiver->CloseStream();
            receiver->Uninit();
        }
    }
    delete receiver;
    UnInitSensor();
    qv::Log("Close gige stream\r\n");
    return CAMERA_STATUS_SUCCESS;
}

int CGigeCamera::StartStream() {
    std::lock_guard lock(m_receiverMutex);
    if (m_gvspReceiver == nullptr) return CAMERA_STATUS_FAILED;
    m_streamStarted = true;
    qv::Log("Start gige camera stream successfully\r\n");
    return CAMERA_STATUS_SUCCESS;
}

int CGigeCamera::StopStream() {
    std::lock_guard lock(m_receiverMutex);
    if (m_streamStarted) {
        m_streamStarted = false;
        qv::Log("Stop gige camera stream\r\n");
    }
    return CAMERA_STATUS_SUCCESS;
}

int CGigeCamera::StartCapture() {
    std::lock_guard lock(m_receiverMutex);
    if (m_gvspReceiver == nullptr) return CAMERA_STATUS_FAILED;
    const uint16_t port = m_gvspReceiver->GetLocalPort();
    // The receiver runs before the camera is told to stream: what its socket holds at its start
    // is then all from before, which it drops, and the camera's first datagram finds it running.
    const int started = m_gvspReceiver->Start();
    const int r = WriteRegs({gige::kRegStreamPacketSize, m_packetSize, gige::kRegStreamPort, port,
                             gige::kRegStreamDestination, 0xFFFFFFFFu},
                            100, 3);
    if (r != CAMERA_STATUS_SUCCESS) {
        qv::Log("Write gige camera start stream register failed\r\n");
        WriteRegs({gige::kRegStreamPort, 0, gige::kRegStreamDestination, 0}, 100, 3);
        m_gvspReceiver->Stop();
        return r;
    }
    if (m_acqCtrl) WriteReg(gige::kRegAcquisitionStart, 1);
    qv::Log("GigE camera start capture, GVSP UDP port %u\r\n", port);
    return started;
}

int CGigeCamera::StopCapture() {
    std::lock_guard lock(m_receiverMutex);
    if (m_acqCtrl) WriteReg(gige::kRegAcquisitionStop, 1);
    WriteRegs({gige::kRegStreamPort, 0, gige::kRegStreamDestination, 0}, 100, 3);
    if (m_gvspReceiver == nullptr) return CAMERA_STATUS_FAILED;
    qv::Log("GigE camera stop capture\r\n");
    m_gvspReceiver->Stop();
    return CAMERA_STATUS_SUCCESS;
}

int CGigeCamera::SetStreamBufferCount(int count) {
    std::lock_guard lock(m_receiverMutex);
    return m_gvspReceiver != nullptr ? m_gvspReceiver->SetFrameCount(count) : CAMERA_STATUS_FAILED;
}

int CGigeCamera::GetStreamBufferCount(int* count) {
    std::lock_guard lock(m_receiverMutex);
    return m_gvspReceiver != nullptr ? m_gvspReceiver->GetFrameCount(count) : CAMERA_STATUS_FAILED;
}
