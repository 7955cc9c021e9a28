// Pieces of the GVSP receiver tests: a camera test double (image information, hardware type,
// resend support, the PACKETRESEND ranges it was asked for) and datagrams built by hand.
#pragma once

#include <cstdint>
#include <cstring>
#include <mutex>
#include <tuple>
#include <vector>

#include "gige/GVSPPacket.h"
#include "gige/GigeCamera.h"

namespace gvsptest {

// 16 x 4 mono pixels: 64 bytes.
inline stImageInfo SmallImage() {
    stImageInfo info{};
    info.iWidth = 16;
    info.iHeight = 4;
    info.TotalBytes = 64;
    info.uiMediaType = 0x01080000;
    return info;
}

class CCameraDouble : public CGigeCamera {
  public:
    CCameraDouble() : CGigeCamera("DOUBLE", "M", "v1.2", "lo", Ack()) {}
    ~CCameraDouble() override { Shutdown(); }

    void GetFrameInfo(stImageInfo* info) override {
        std::lock_guard lock(m_mutex);
        *info = m_info;
    }
    int GetHardwareType() override { return m_type; }
    bool IsResendSupported() override { return m_resend; }
    int SendPacketResend(int block, int first, int last) override {
        std::lock_guard lock(m_mutex);
        m_requests.emplace_back(block, first, last);
        return m_sendResult;
    }
    CGVSPReceiver* CreateGVSPReceiver(const LQComponent::Address&, int) override { return nullptr; }

    void SetInfo(const stImageInfo& info) {
        std::lock_guard lock(m_mutex);
        m_info = info;
    }
    void SetType(int type) { m_type = type; }
    void SetResendSupported(bool on) { m_resend = on; }
    void SetSendResult(int r) { m_sendResult = r; }
    using Request = std::tuple<int, int, int>;
    std::vector<Request> Requests() {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }
    void ClearRequests() {
        std::lock_guard lock(m_mutex);
        m_requests.clear();
    }

  private:
    static DISCOVERY_ACK_DATA Ack() {
        DISCOVERY_ACK_DATA a;
        std::memset(&a, 0, sizeof a);
        a.currentIp[0] = 127;
        a.currentIp[3] = 1;
        return a;
    }
    std::mutex m_mutex;
    stImageInfo m_info = SmallImage();
    std::vector<Request> m_requests;
    std::atomic<int> m_type{201};
    std::atomic<bool> m_resend{true};
    std::atomic<int> m_sendResult{0};
};

inline void Put16(std::vector<uint8_t>& d, size_t at, uint16_t v) {
    d[at] = static_cast<uint8_t>(v >> 8);
    d[at + 1] = static_cast<uint8_t>(v);
}
inline void Put32(std::vector<uint8_t>& d, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) d[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

inline std::vector<uint8_t> Header(uint16_t status, uint32_t block, uint8_t format, uint32_t id) {
    std::vector<uint8_t> d(8);
    Put16(d, 0, status);
    Put16(d, 2, static_cast<uint16_t>(block));
    d[4] = format;
    d[5] = static_cast<uint8_t>(id >> 16);
    d[6] = static_cast<uint8_t>(id >> 8);
    d[7] = static_cast<uint8_t>(id);
    return d;
}

inline std::vector<uint8_t> Leader(uint32_t block, uint64_t timestamp = 1234, uint32_t x = 16,
                                   uint32_t y = 4, uint16_t type = 1, uint16_t status = 0) {
    std::vector<uint8_t> d = Header(status, block, 1, 0);
    d.resize(44, 0);
    Put16(d, 10, type);
    Put32(d, 12, static_cast<uint32_t>(timestamp >> 32));
    Put32(d, 16, static_cast<uint32_t>(timestamp));
    Put32(d, 20, 0x01080000);
    Put32(d, 24, x);
    Put32(d, 28, y);
    return d;
}

// The image byte at offset of block b.
inline uint8_t ImageByte(uint32_t block, size_t offset) {
    return static_cast<uint8_t>(block * 7 + offset);
}

// Data packet id of block b carrying image bytes [offset, offset + n).
inline std::vector<uint8_t> Data(uint32_t block, uint32_t id, size_t offset, size_t n,
                                 uint16_t status = 0) {
    std::vector<uint8_t> d = Header(status, block, 3, id);
    for (size_t i = 0; i < n; ++i) d.push_back(ImageByte(block, offset + i));
    return d;
}

inline std::vector<uint8_t> Trailer(uint32_t block, uint32_t id, uint16_t status = 0) {
    std::vector<uint8_t> d = Header(status, block, 2, id);
    d.resize(16, 0);
    return d;
}

inline CGVSPPacket Packet(const std::vector<uint8_t>& bytes) {
    CGVSPPacket p;
    std::memcpy(p.Data(), bytes.data(), bytes.size());
    p.length = static_cast<uint32_t>(bytes.size());
    p.Decode();
    return p;
}

}  // namespace gvsptest
