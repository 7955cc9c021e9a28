#include "gige/GvcpProtocol.h"

#include <atomic>
#include <cstring>

#include "common/ByteOrder.h"

namespace qv::gige {

namespace {

std::atomic<uint16_t> g_gvcpPort{kGvcpPort};

}  // namespace

uint16_t GvcpPort() {
    return g_gvcpPort.load(std::memory_order_relaxed);
}

void SetGvcpPortForTest(uint16_t port) {
    g_gvcpPort.store(port, std::memory_order_relaxed);
}

void EncodeCmdHeader(uint8_t* p, const CmdHeader& header) {
    p[0] = kGvcpKey;
    p[1] = header.flags;
    StoreBe16(p + 2, header.command);
    StoreBe16(p + 4, header.length);
    StoreBe16(p + 6, header.reqId);
}

bool DecodeCmdHeader(const uint8_t* p, size_t n, CmdHeader* header) {
    if (n < kHeaderSize || p[0] != kGvcpKey) return false;
    header->flags = p[1];
    header->command = LoadBe16(p + 2);
    header->length = LoadBe16(p + 4);
    header->reqId = LoadBe16(p + 6);
    return true;
}

void EncodeAckHeader(uint8_t* p, const AckHeader& header) {
    StoreBe16(p, header.status);
    StoreBe16(p + 2, header.ackCode);
    StoreBe16(p + 4, header.length);
    StoreBe16(p + 6, header.ackId);
}

bool DecodeAckHeader(const uint8_t* p, size_t n, AckHeader* header) {
    if (n < kHeaderSize) return false;
    header->status = LoadBe16(p);
    header->ackCode = LoadBe16(p + 2);
    header->length = LoadBe16(p + 4);
    header->ackId = LoadBe16(p + 6);
    return n >= kHeaderSize + header->length;
}

void BuildForceIpCommand(uint8_t (&out)[kForceIpCommandSize], const DISCOVERY_ACK_DATA& ack,
                         uint32_t ip, uint32_t mask, uint32_t gateway) {
    std::memset(out, 0, sizeof out);
    EncodeCmdHeader(out, {static_cast<uint8_t>(kFlagAckRequired | kFlagBroadcastAck), kForceIpCmd,
                          static_cast<uint16_t>(kForceIpPayloadSize), 1});
    uint8_t* payload = out + kHeaderSize;
    std::memcpy(payload + 2, ack.macHigh, 2);
    std::memcpy(payload + 4, ack.macLow, 4);
    std::memcpy(payload + 20, &ip, 4);
    std::memcpy(payload + 36, &mask, 4);
    std::memcpy(payload + 52, &gateway, 4);
}

}  // namespace qv::gige
