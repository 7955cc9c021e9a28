// CGVSPReceiverBySocket: the stream receiver on its UDP socket with one receive thread.
#pragma once

#include <atomic>
#include <memory>
#include <thread>

#include "gige/GVSPReceiver.h"

class CGVSPReceiverBySocket : public CGVSPReceiver {
  public:
    static constexpr int kDefaultFrameCount = 6;
    static constexpr int kMaxFrameCount = 10;

    // frameCount 0 (or less) means kDefaultFrameCount.
    CGVSPReceiverBySocket(CGigeCamera* camera, const LQComponent::Address& streamAddress,
                          int frameCount);
    ~CGVSPReceiverBySocket() override;

    int Init(int payloadSize) override;
    int Uninit() override;
    int OpenStream(CFrameBucketProducer* producer) override;
    int CloseStream() override;
    int Start() override;
    void Stop() override;
    int SetFrameCount(int count) override;
    int GetFrameCount(int* count) override;

    bool IsRunning() const { return m_isRun.load(); }

  private:
    void ReceiveThread();

    CFrameBucketProducer* m_producer = nullptr;
    int m_payloadSize = 0;
    std::atomic<int> m_frameCount;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_isRun{false};
    std::unique_ptr<std::thread> m_thread;
};
