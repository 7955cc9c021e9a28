// CGVSPPacket: one received GVSP datagram with its decoded header. The receiver keeps a fixed set
// of them for its batched receives; a frame keeps copies of the packets that came before their
// leader.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "gige/GvspProtocol.h"

class CGVSPPacket {
  public:
    // The largest datagram taken: a 9000-byte jumbo packet less the IP and UDP headers fits.
    static constexpr uint32_t kCapacity = 9200;

    CGVSPPacket() : m_data(kCapacity) {}
    // A copy of the received bytes only (a pending packet).
    static CGVSPPacket CopyOf(const CGVSPPacket& other) {
        CGVSPPacket copy(other.length);
        const uint32_t head = std::min<uint32_t>(other.length, qv::gige::kGvspHeaderSize);
        std::copy(other.m_data.begin(), other.m_data.begin() + head, copy.m_data.begin());
        if (other.length > head)
            std::copy(other.Payload(), other.Payload() + (other.length - head),
                      copy.m_data.begin() + head);
        copy.status = other.status;
        copy.format = other.format;
        copy.packetId = other.packetId;
        copy.blockId = other.blockId;
        copy.length = other.length;
        return copy;
    }

    uint8_t* Data() { return m_data.data(); }
    const uint8_t* Data() const { return m_data.data(); }
    uint32_t Capacity() const { return static_cast<uint32_t>(m_data.size()); }
    // The bytes after the header: in the buffer, or where the receive put them straight away.
    const uint8_t* Payload() const {
        return payload != nullptr ? payload : m_data.data() + qv::gige::kGvspHeaderSize;
    }

    // Fills the header fields from the first bytes; length must be at least the header's.
    void Decode() {
        const qv::gige::GvspHeader h = qv::gige::DecodeGvspHeader(m_data.data());
        status = h.status;
        blockId = h.blockId;
        format = h.format;
        packetId = h.packetId;
    }

  private:
    explicit CGVSPPacket(uint32_t capacity) : m_data(capacity) {}
    std::vector<uint8_t> m_data;

  public:
    uint16_t status = 0;
    uint8_t format = 0;
    uint32_t packetId = 0;
    uint32_t blockId = 0;
    uint32_t length = 0;  // bytes received
    // Set when the receive wrote the bytes after the header into a frame buffer: there.
    const uint8_t* payload = nullptr;
};
