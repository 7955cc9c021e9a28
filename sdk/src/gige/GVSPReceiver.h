// CGVSPReceiver: the stream receiver of one open GigE stream: its UDP socket, its resend
// parameters, and the operations the camera device drives it with (Init, OpenStream, Start,
// Stop, CloseStream, Uninit, in that order over one stream). CGVSPReceiverBySocket implements
// them with a receive thread of its own.
//
// The socket is bound to any local port; the camera device writes that port into the camera's
// stream-channel host-port register. One zero byte sent to the camera's stream source port at
// open (and every 60 s while the stream idles) keeps a host firewall's path towards the stream
// open.
#pragma once

#include <atomic>
#include <cstdint>

#include "gige/Address.h"
#include "gige/UDP.h"

class CFrameBucketProducer;
class CGigeCamera;

class CGVSPReceiver {
  public:
    // Resend parameters the camera announces at open (they travel to every request).
    struct ResendParam {
        bool enable = true;
        int percent = 0;
        int timeoutMs = 30;
        int retries = 3;
    };

    CGVSPReceiver(CGigeCamera* camera, const LQComponent::Address& streamAddress);
    virtual ~CGVSPReceiver() = default;
    CGVSPReceiver(const CGVSPReceiver&) = delete;
    CGVSPReceiver& operator=(const CGVSPReceiver&) = delete;

    // payloadSize: image bytes one data packet carries (the stream packet size less 36).
    virtual int Init(int payloadSize) = 0;
    virtual int Uninit() = 0;
    // Opens the socket and keeps the producer; status 0 is posted into the pool. -13 when the
    // socket cannot be opened or the first dummy cannot be sent. Throws nothing.
    virtual int OpenStream(CFrameBucketProducer* producer) = 0;
    // Only while stopped: closes the socket and gives every frame still assembling back to the
    // pool as empty.
    virtual int CloseStream() = 0;
    // Starts the receive thread (only while stopped); 0.
    virtual int Start() = 0;
    // Ends the receive thread and waits for it; nothing when not running.
    virtual void Stop() = 0;
    // -28 while running; -6 outside 1 to 10.
    virtual int SetFrameCount(int count) = 0;
    virtual int GetFrameCount(int* count) = 0;
    // May be called while the thread runs; the values are clamped (a negative timeout or retry
    // count means 0, a percent outside 0 to 100 is brought into it).
    virtual void SetResendParam(bool enable, int percent, int timeoutMs, int retries);
    ResendParam GetResendParam() const;

    uint16_t GetLocalPort() const { return m_localPort; }

    // What the receive thread has seen (for diagnostics and the benchmarks); any thread.
    struct Stats {
        uint64_t receiveCalls = 0;  // reads that returned datagrams
        uint64_t datagrams = 0;     // taken from the camera
        uint64_t foreign = 0;       // dropped: another sender, too long or too short
        uint64_t resent = 0;        // datagrams marked as resent by the camera
        uint64_t framesCompleted = 0;
        uint64_t framesLost = 0;  // given up, and block ids skipped
        int64_t threadCpuNs = 0;  // the receive thread's own CPU time so far
    };
    virtual Stats GetStats() const { return {}; }

  protected:
    // Opens and binds the socket, sends the first dummy, asks for a 10 MiB receive buffer (and
    // logs what the system granted); -1 when the dummy does not go out (socket closed then).
    int OpenSocket();
    void CloseSocket();
    // One zero byte to the camera's stream source port; throws what the socket throws.
    void SendDummy();
    // Lets the socket take only the camera's datagrams (a socket filter: the kernel drops the
    // others before they are queued); false where the system refuses one.
    bool FilterSender();

    CGigeCamera* m_camera;
    LQComponent::Address m_streamAddress;
    LQComponent::UDP m_socket;
    uint16_t m_localPort = 0;
    // Only the camera's datagrams reach the socket: their sender needs no check.
    bool m_senderFiltered = false;

  private:
    std::atomic<bool> m_resendEnable{true};
    std::atomic<int> m_resendPercent{0};
    std::atomic<int> m_resendTimeoutMs{30};
    std::atomic<int> m_resendRetries{3};
};
