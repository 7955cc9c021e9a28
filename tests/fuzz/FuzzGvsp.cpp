// GVSP stream packets from arbitrary bytes into the receiver, as they would arrive from a
// camera: the input is a list of datagrams (two length bytes, then that many bytes, at most 48
// datagrams), sent over loopback to a receiver that assembles 16 x 4 mono frames from 24-byte
// payloads with resend on. Whatever the packets claim (block ids, packet ids, formats,
// statuses, sizes), every datagram is taken or dropped, frames reach the pool no larger than the
// image, and nothing may crash or write outside a frame. The process runs in a network
// namespace of its own.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <thread>

#include "GvspTestRig.h"
#include "frames/FrameBucket.h"
#include "gige/GVSPReceiverBySocket.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Rig {
    Rig() {
        fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) std::abort();
        socklen_t len = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        receiver = std::make_unique<CGVSPReceiverBySocket>(
            &camera, LQComponent::Address("127.0.0.1", ntohs(a.sin_port)), 4);
        receiver->SetResendParam(true, 100, 20, 2);
        if (receiver->Init(24) != 0 || receiver->OpenStream(bucket.GetProducer()) != 0 ||
            receiver->Start() != 0)
            std::abort();
        client = bucket.CreateBucketClient();
        to.sin_family = AF_INET;
        to.sin_port = htons(receiver->GetLocalPort());
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    }

    gvsptest::CCameraDouble camera;
    CFrameBucket bucket{4};
    CFrameBucketClient* client = nullptr;
    std::unique_ptr<CGVSPReceiverBySocket> receiver;
    int fd = -1;
    sockaddr_in to{};
    uint64_t sent = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Never destroyed: the receive thread runs until the process ends.
    static Rig* rig = new Rig();
    for (int n = 0; n < 48 && size >= 2; ++n) {
        const size_t len = std::min<size_t>((data[0] << 8 | data[1]) % 2048, size - 2);
        data += 2;
        size -= 2;
        if (sendto(rig->fd, data, len, 0, reinterpret_cast<sockaddr*>(&rig->to), sizeof rig->to) ==
            static_cast<ssize_t>(len))
            ++rig->sent;
        data += len;
        size -= len;
    }
    // Until the receive thread has looked at every datagram sent (loopback may drop one when
    // the socket's buffer is full; a receiver that stops taking them shows as a timeout).
    const auto deadline = Clock::now() + std::chrono::seconds(1);
    while (Clock::now() < deadline) {
        const auto s = rig->receiver->GetStats();
        if (s.datagrams + s.foreign >= rig->sent) break;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    {
        const auto s = rig->receiver->GetStats();
        rig->sent = s.datagrams + s.foreign;
    }
    CFrameBufferShared frame;
    while (rig->client->GetFullFrame(frame, 0) == 0) {
        if (frame->GetFilledSize() > 64) __builtin_trap();
        volatile uint8_t sum = 0;
        for (uint32_t i = 0; i < frame->GetFilledSize(); ++i)
            sum = static_cast<uint8_t>(sum + frame->GetData()[i]);
        rig->client->ReleaseFrame(frame);
    }
    rig->camera.ClearRequests();
    return 0;
}
