// GVSP stream packets from arbitrary bytes into the receiver's packet path, on the fuzzer's own
// thread: the receiver's receive loop runs step by step on a port of the fuzzer's (the socket's
// place) whose datagrams and clock the input gives, so no input waits for anything. The
// receiver assembles frames from 24-byte payloads into a pool of three buffers, with resend on.
// Whatever the packets claim (block ids, packet ids, formats, statuses, sizes) and whatever the
// camera, the consumer and the clock do around them, nothing may crash or write outside a
// frame, every frame that reaches the pool is whole (as many bytes as its image), and after a
// pause no pool buffer is left being filled.
//
// Input: one byte for the receiver's frame count (1 + b % 10), then operations, each a tag byte
// (tag % 8) and its arguments:
//   0 datagram from the camera: u16 length (big-endian; cut to what is left), the bytes
//   1 datagram from another sender, as 0
//   2 datagram longer than the packet buffer (arrives cut), as 0
//   3 one turn of the receive loop: the datagrams queued as one batch, or a 30 ms wait with the
//     idle actions (resend scan, held frames, dummy, heartbeat)
//   4 the clock: u16 milliseconds pass, then one turn of the loop
//   5 pause and play: u8; below 128 the frame count becomes 1 + b % 10 while paused
//   6 the consumer: u8; even: takes the newest frame and keeps it (the pool runs out), odd:
//     gives back every frame it keeps
//   7 settings: u8 which, then: 0 resend (u8 enable, u8 percent, u16 timeout ms, u8 retries);
//     1 camera announces resend (u8); 2 PACKETRESEND fails (u8); 3 the camera's image (u8: 16 x
//     4, 40 x 30 or 100 x 100 mono); 4 hardware type (u8: 205 when odd, else 201)
// Datagrams queued are taken at the next turn of the loop, at most a batch at a time; at the end
// of the input the loop runs until nothing is queued, then the receiver is paused.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "GvspTestRig.h"
#include "frames/FrameBucket.h"
#include "gige/GVSPReceiverBySocket.h"

namespace {

using ResendParam = CGVSPReceiver::ResendParam;

constexpr int kPayload = 24;
constexpr int kPoolFrames = 3;
constexpr uint32_t kCamera = 0x0100007F;  // 127.0.0.1 in network order
constexpr uint32_t kOther = 0x0900007F;   // 127.0.0.9
constexpr int64_t kStartNs = 1000LL * 1000000000LL;

stImageInfo Image(unsigned which) {
    const uint32_t sizes[][2] = {{16, 4}, {40, 30}, {100, 100}};
    stImageInfo info{};
    info.iWidth = sizes[which % 3][0];
    info.iHeight = sizes[which % 3][1];
    info.TotalBytes = info.iWidth * info.iHeight;
    info.uiMediaType = 0x01080000;
    return info;
}

// The socket's place: datagrams point into the current input until the loop takes them.
class FuzzPort final : public CGVSPReceiverBySocket::Port {
  public:
    struct Datagram {
        const uint8_t* data;
        uint32_t length;
        Arrival from;
    };

    void Restart() {
        m_queue.clear();
        m_head = 0;
        m_nowNs = kStartNs;
    }
    void Queue(const uint8_t* data, uint32_t length, Arrival from) {
        m_queue.push_back({data, length, from});
    }
    bool Queued() const { return m_head < m_queue.size(); }
    void Advance(int64_t ns) { m_nowNs += ns; }

    int64_t NowNs() override { return m_nowNs; }
    int Receive(CGVSPPacket* packets, Arrival* arrivals, int count) override {
        int n = 0;
        for (; n < count && m_head < m_queue.size(); ++n, ++m_head) {
            const Datagram& d = m_queue[m_head];
            const uint32_t length = std::min(d.length, packets[n].Capacity());
            std::memcpy(packets[n].Data(), d.data, length);
            packets[n].length = length;
            arrivals[n] = d.from;
        }
        return n;
    }
    bool Wait(int ms) override {
        m_nowNs += int64_t{ms} * 1000000;
        return false;
    }
    void Nap() override { m_nowNs += int64_t{CGVSPReceiverBySocket::kBatchNapUs} * 1000; }
    void SendDummy() override {}

  private:
    std::vector<Datagram> m_queue;
    size_t m_head = 0;
    int64_t m_nowNs = kStartNs;
};

struct Rig {
    Rig() {
        // The stream address only receives the dummies of the opens.
        fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) std::abort();
        socklen_t len = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        for (int i = 0; i < CGVSPReceiverBySocket::kMaxFrameCount; ++i) {
            auto& r = receivers[static_cast<size_t>(i)];
            r = std::make_unique<CGVSPReceiverBySocket>(
                &camera, LQComponent::Address("127.0.0.1", ntohs(a.sin_port)), i + 1);
            r->SetPortForTest(&port);
            if (r->Init(kPayload) != 0 || r->OpenStream(bucket.GetProducer()) != 0) std::abort();
        }
        client = bucket.CreateBucketClient();
        kept.reserve(kPoolFrames);
    }

    // One receiver per frame count, each with its frames made once: frames made and destroyed
    // per input would leave the allocations of an input unbalanced, which makes libFuzzer look
    // for a leak, at more cost than the input.
    CGVSPReceiverBySocket& Receiver(uint8_t count) {
        return *receivers[count % CGVSPReceiverBySocket::kMaxFrameCount];
    }

    // A frame in the pool is whole: as many bytes as its image, which is one the camera has.
    static void Check(const CFrameBufferShared& frame) {
        stImageInfo info{};
        frame->GetImageInfo(&info);
        if (info.TotalBytes == 0 || frame->GetFilledSize() != info.TotalBytes ||
            info.TotalBytes > Image(2).TotalBytes || frame->GetFrameNo() == 0 ||
            frame->GetFrameNo() > 65535)
            __builtin_trap();
        volatile uint8_t sum = 0;
        const uint8_t* data = frame->GetData();
        for (uint32_t i = 0; i < frame->GetFilledSize(); ++i)
            sum = static_cast<uint8_t>(sum + data[i]);
    }
    void Take() {
        CFrameBufferShared frame;
        if (client->GetFullFrame(frame, 0) != 0) return;
        Check(frame);
        kept.push_back(frame);
    }
    void ReleaseKept() {
        for (const CFrameBufferShared& frame : kept) client->ReleaseFrame(frame);
        kept.clear();
    }
    // After a pause no buffer is being filled: every frame in assembly went back or to the pool.
    void CheckPaused() const {
        for (int i = 0; i < bucket.GetFrameCount(); ++i)
            if (bucket.GetFrameAt(i)->GetState() == CFrameBuffer::kFilling) __builtin_trap();
    }

    gvsptest::CCameraDouble camera;
    CFrameBucket bucket{kPoolFrames};
    CFrameBucketClient* client = nullptr;
    FuzzPort port;
    std::array<std::unique_ptr<CGVSPReceiverBySocket>, CGVSPReceiverBySocket::kMaxFrameCount>
        receivers;
    std::vector<CFrameBufferShared> kept;
    int fd = -1;
};

class Input {
  public:
    Input(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    bool Empty() const { return m_size == 0; }
    uint8_t U8() {
        if (m_size == 0) return 0;
        --m_size;
        return *m_data++;
    }
    uint16_t U16() { return static_cast<uint16_t>(U8() << 8 | U8()); }
    // Up to n bytes, as many as are left.
    const uint8_t* Bytes(size_t* n) {
        *n = std::min(*n, m_size);
        const uint8_t* p = m_data;
        m_data += *n;
        m_size -= *n;
        return p;
    }

  private:
    const uint8_t* m_data;
    size_t m_size;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Never destroyed: it lives as long as the process.
    static Rig* rig = new Rig();
    FuzzPort& port = rig->port;
    Input in(data, size);

    rig->camera.SetInfo(Image(0));
    rig->camera.SetType(201);
    rig->camera.SetResendSupported(true);
    rig->camera.SetSendResult(0);
    CGVSPReceiverBySocket* receiver = &rig->Receiver(in.U8());
    receiver->SetResendParam(true, 0, 30, 3);
    rig->bucket.Reset();
    rig->client->Reset();
    port.Restart();
    receiver->Start();

    while (!in.Empty()) {
        const uint8_t tag = in.U8();
        switch (tag % 8) {
            case 0:
            case 1:
            case 2: {
                size_t n = in.U16();
                const uint8_t* bytes = in.Bytes(&n);
                CGVSPReceiverBySocket::Port::Arrival from;
                from.sender = tag % 8 == 1 ? kOther : kCamera;
                from.truncated = tag % 8 == 2;
                port.Queue(bytes, static_cast<uint32_t>(n), from);
                break;
            }
            case 3:
                receiver->Step();
                break;
            case 4:
                port.Advance(int64_t{in.U16()} * 1000000);
                receiver->Step();
                break;
            case 5: {
                const uint8_t count = in.U8();
                receiver->Stop();
                rig->CheckPaused();
                if (count < 128) {
                    // Another frame count, as the camera's receiver takes it while paused.
                    const ResendParam resend = receiver->GetResendParam();
                    receiver = &rig->Receiver(count);
                    receiver->SetResendParam(resend.enable, resend.percent, resend.timeoutMs,
                                             resend.retries);
                }
                receiver->Start();
                break;
            }
            case 6:
                if (in.U8() % 2 == 0)
                    rig->Take();
                else
                    rig->ReleaseKept();
                break;
            case 7:
                switch (in.U8() % 5) {
                    case 0: {
                        const bool enable = in.U8() % 2 == 0;
                        const int percent = in.U8();
                        const int timeout = in.U16();
                        receiver->SetResendParam(enable, percent, timeout, in.U8() % 8);
                        break;
                    }
                    case 1:
                        rig->camera.SetResendSupported(in.U8() % 2 == 0);
                        break;
                    case 2:
                        rig->camera.SetSendResult(in.U8() % 2 == 0 ? 0 : -14);
                        break;
                    case 3:
                        rig->camera.SetInfo(Image(in.U8()));
                        break;
                    default:
                        rig->camera.SetType(in.U8() % 2 != 0 ? 205 : 201);
                        break;
                }
                break;
        }
    }
    while (port.Queued()) receiver->Step();
    receiver->Stop();
    rig->CheckPaused();
    rig->Take();
    rig->ReleaseKept();
    rig->camera.ClearRequests();
    return 0;
}
