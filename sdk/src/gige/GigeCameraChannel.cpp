// CGigeCamera: the GVCP channel (command, acknowledge wait, transaction, register and memory
// helpers, PACKETRESEND) and the control address.
#include <chrono>
#include <cstring>
#include <map>
#include <vector>

#include "common/ByteOrder.h"
#include "common/Log.h"
#include "gige/GigeCamera.h"
#include "gige/SocketException.h"

namespace gige = qv::gige;

namespace {

// Datagrams that are not the awaited acknowledge are skipped for at most this long.
constexpr auto kForeignDeadline = std::chrono::seconds(1);
constexpr size_t kPacketResendSize = gige::kHeaderSize + 12;

}  // namespace

LQComponent::Address CGigeCamera::GetPeerAddress() {
    std::lock_guard lock(m_peerMutex);
    return m_peerAddr;
}

void CGigeCamera::SetPeerIp(const uint8_t (&ip)[4]) {
    uint32_t raw;
    std::memcpy(&raw, ip, sizeof raw);
    std::lock_guard lock(m_peerMutex);
    m_peerAddr.ip(raw);
}

int CGigeCamera::SendCmd(uint16_t command, const void* payload, size_t len) {
    QV_ASSERT(gige::kHeaderSize + len < sizeof m_msgBuf);
    gige::EncodeCmdHeader(m_msgBuf,
                          {gige::kFlagAckRequired, command, static_cast<uint16_t>(len), m_reqId});
    if (len > 0) std::memcpy(m_msgBuf + gige::kHeaderSize, payload, len);
    try {
        const size_t sent = m_gvcpSocket.send(GetPeerAddress(), m_msgBuf, gige::kHeaderSize + len);
        return sent == gige::kHeaderSize + len ? CAMERA_STATUS_SUCCESS : CAMERA_STATUS_FAILED;
    } catch (const LQComponent::SocketException&) {
        return CAMERA_STATUS_COMM_ERROR;
    }
}

int CGigeCamera::WaitAck(uint16_t ackCode, void* out, size_t* outLen, int timeoutMs) {
    const auto deadline = m_gvcpSocket.Now() + kForeignDeadline;
    try {
        for (;;) {
            LQComponent::Address from;
            uint32_t n = sizeof m_msgBuf;
            if (m_gvcpSocket.receive_timeout(timeoutMs, from, m_msgBuf, &n) == 0) {
                qv::Log("gige camera receive timeout\r\n");
                qv::Log("GigeCamera receive ack timeout\r\n");
                return CAMERA_STATUS_TIMEOUT;
            }
            gige::AckHeader ack{};
            // A datagram shorter than its header, or than the payload it announces, is no
            // acknowledge: the rest of the buffer still holds the command just sent.
            if (gige::DecodeAckHeader(m_msgBuf, n, &ack) && ack.ackId == m_reqId &&
                ack.ackCode == ackCode) {
                if (ack.status != 0) return CAMERA_STATUS_FAILED;
                const size_t capacity = outLen != nullptr ? *outLen : 0;
                if (out != nullptr && ack.length != 0 && ack.length <= capacity)
                    std::memcpy(out, m_msgBuf + gige::kHeaderSize, ack.length);
                if (outLen != nullptr) *outLen = ack.length;
                return CAMERA_STATUS_SUCCESS;
            }
            if (m_gvcpSocket.Now() >= deadline) {
                qv::Log("GigeCamera receive ack timeout\r\n");
                return CAMERA_STATUS_TIMEOUT;
            }
        }
    } catch (const LQComponent::SocketException&) {
        qv::Log("GigeCamera receive ack error\r\n");
        return CAMERA_STATUS_COMM_ERROR;
    }
}

int CGigeCamera::Transact(uint16_t command, const void* payload, size_t len, uint16_t ackCode,
                          void* out, size_t* outLen, int timeoutMs, int tries) {
    std::lock_guard lock(m_cmdMutex);
    // A closed device has no channel: a send would open a socket nobody closes.
    if (!m_gvcpSocket.IsOpened()) return CAMERA_STATUS_HARDWARE_NOT_FOUND;
    // Once per transaction: every try carries the same id, so the late answer of an earlier
    // try satisfies a later wait.
    if (++m_reqId == 0) m_reqId = 1;
    const size_t capacity = outLen != nullptr ? *outLen : 0;
    int r = CAMERA_STATUS_SUCCESS;
    for (int i = 0; i < tries; ++i) {
        r = SendCmd(command, payload, len);
        if (r != CAMERA_STATUS_SUCCESS) continue;
        if (outLen != nullptr) *outLen = capacity;
        r = WaitAck(ackCode, out, outLen, timeoutMs);
        if (r == CAMERA_STATUS_SUCCESS) break;
    }
    return r;
}

int CGigeCamera::Vendor(uint16_t command, const void* payload, size_t len, void* out,
                        size_t* outLen, int timeoutMs, int tries) {
    return Transact(command, payload, len, command, out, outLen, timeoutMs, tries);
}

int CGigeCamera::ReadReg(uint32_t address, uint32_t* value, int timeoutMs, int tries) {
    uint8_t request[4];
    qv::StoreBe32(request, address);
    uint8_t answer[4];
    size_t len = sizeof answer;
    const int r = Transact(gige::kReadRegCmd, request, sizeof request, gige::kReadRegAck, answer,
                           &len, timeoutMs, tries);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    // Any other length leaves nothing usable in the answer.
    if (len != sizeof answer) return CAMERA_STATUS_COMM_ERROR;
    *value = qv::LoadBe32(answer);
    return CAMERA_STATUS_SUCCESS;
}

int CGigeCamera::WriteReg(uint32_t address, uint32_t value, int timeoutMs, int tries) {
    // Every single write uses the same timing, whatever a caller asks for.
    (void)timeoutMs, (void)tries;
    return WriteRegs({address, value}, 100, 3);
}

int CGigeCamera::WriteRegs(std::initializer_list<uint32_t> regAndVal, int timeoutMs, int tries) {
    return WriteRegs(std::span<const uint32_t>(regAndVal.begin(), regAndVal.size()), timeoutMs,
                     tries);
}

int CGigeCamera::WriteRegs(std::span<const uint32_t> regAndVal, int timeoutMs, int tries) {
    QV_ASSERT(regAndVal.size() > 0 && (regAndVal.size() % 2) == 0);
    std::vector<uint8_t> payload(regAndVal.size() * 4);
    for (size_t i = 0; i < regAndVal.size(); ++i) qv::StoreBe32(&payload[4 * i], regAndVal[i]);
    return Transact(gige::kWriteRegCmd, payload.data(), payload.size(), gige::kWriteRegAck, nullptr,
                    nullptr, timeoutMs, tries);
}

int CGigeCamera::ReadMem(uint32_t address, void* dst, size_t len) {
    QV_ASSERT(len <= gige::kMaxPayload - 4);
    uint8_t request[8];
    qv::StoreBe32(request, address);
    qv::StoreBe16(request + 4, 0);
    qv::StoreBe16(request + 6, static_cast<uint16_t>(len));
    uint8_t answer[gige::kMaxPayload + 4];
    size_t got = sizeof answer;
    const int r = Transact(gige::kReadMemCmd, request, sizeof request, gige::kReadMemAck, answer,
                           &got, 100, 3);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    // The address and every byte asked for, or the data would be stale.
    if (got != len + 4) return CAMERA_STATUS_COMM_ERROR;
    std::memcpy(dst, answer + 4, len);
    return CAMERA_STATUS_SUCCESS;
}

int CGigeCamera::ReadRegs(std::map<unsigned int, unsigned int>& regAndVal, int timeoutMs,
                          int tries) {
    QV_ASSERT(regAndVal.size() > 0);
    QV_ASSERT(regAndVal.size() * 4 <= gige::kMaxPayload);
    std::vector<uint8_t> request;
    request.reserve(regAndVal.size() * 4);
    for (const auto& [address, value] : regAndVal) {
        (void)value;
        uint8_t word[4];
        qv::StoreBe32(word, address);
        request.insert(request.end(), word, word + 4);
    }
    std::vector<uint8_t> answer(request.size());
    size_t len = answer.size();
    const int r = Transact(gige::kReadRegCmd, request.data(), request.size(), gige::kReadRegAck,
                           answer.data(), &len, timeoutMs, tries);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    // One value for each address, in the order asked, or none of them is to be trusted.
    if (len != answer.size()) return CAMERA_STATUS_COMM_ERROR;
    size_t at = 0;
    for (auto& [address, value] : regAndVal) {
        (void)address;
        value = qv::LoadBe32(&answer[at]);
        at += 4;
    }
    return CAMERA_STATUS_SUCCESS;
}

int CGigeCamera::WriteMem(uint32_t address, const void* data, size_t len) {
    QV_ASSERT(len <= gige::kMaxPayload - 4);
    if (data == nullptr && len != 0) return CAMERA_STATUS_PARAMETER_INVALID;
    uint8_t payload[gige::kMaxPayload];
    qv::StoreBe32(payload, address);
    if (len != 0) std::memcpy(payload + 4, data, len);
    return Transact(gige::kWriteMemCmd, payload, 4 + len, gige::kWriteMemAck, nullptr, nullptr, 100,
                    3);
}

int CGigeCamera::SendPacketResend(int blockId, int firstPacket, int lastPacket) {
    std::lock_guard lock(m_cmdMutex);
    if (!m_gvcpSocket.IsOpened()) return CAMERA_STATUS_HARDWARE_NOT_FOUND;
    uint8_t* p = m_msgBuf;
    gige::EncodeCmdHeader(p, {0x00, gige::kPacketResendCmd, 12, 0});
    qv::StoreBe16(p + 8, 0);
    qv::StoreBe16(p + 10, static_cast<uint16_t>(blockId));
    qv::StoreBe32(p + 12, static_cast<uint32_t>(firstPacket));
    qv::StoreBe32(p + 16, static_cast<uint32_t>(lastPacket));
    try {
        return m_gvcpSocket.send(GetPeerAddress(), p, kPacketResendSize) == kPacketResendSize
                   ? CAMERA_STATUS_SUCCESS
                   : CAMERA_STATUS_FAILED;
    } catch (const LQComponent::SocketException&) {
        return CAMERA_STATUS_COMM_ERROR;
    }
}
