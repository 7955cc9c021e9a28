// CGvcpTransport: the datagram socket of a camera's GVCP channel and the clock its waits are
// measured on. In the product that is an LQComponent::UDP socket and the steady clock. A channel
// opened while a backend is installed (InstallBackendForTest, an internal seam that nothing in the
// product calls) sends, receives and reads the time through that backend instead: the channel's
// own framing, decoding and transaction logic then runs in-process, with no socket and no real
// wait, which is how the GVCP fuzz target drives it.
//
// The operations mirror the socket's and throw what it throws (LQComponent::SocketException).
// Not thread-safe: the channel's command mutex serialises every use.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>

#include "gige/Address.h"
#include "gige/UDP.h"

class CGvcpTransport {
  public:
    using Clock = std::chrono::steady_clock;

    // What stands in for the network and the clock. Send and Receive behave as the socket's
    // send and receive_timeout; a receive that finds nothing returns 0 at once and moves the
    // backend's clock on by the time the wait would have taken.
    class Backend {
      public:
        virtual ~Backend() = default;
        virtual size_t Send(const LQComponent::Address& to, const void* data, size_t len) = 0;
        virtual uint32_t Receive(int timeoutMs, LQComponent::Address& from, void* buffer,
                                 uint32_t* len) = 0;
        virtual Clock::time_point Now() = 0;
    };

    // Channels opened from now on use backend (nullptr: the socket again). The backend must
    // outlive them.
    static void InstallBackendForTest(Backend* backend);

    // Opens the socket (or takes the installed backend); bind(0) binds an ephemeral port.
    void open();
    int bind(uint16_t port);
    void close();
    bool IsOpened() const;

    size_t send(const LQComponent::Address& to, const void* data, size_t len);
    uint32_t receive_timeout(int timeoutMs, LQComponent::Address& from, void* buffer,
                             uint32_t* len);
    Clock::time_point Now() const;

  private:
    static std::atomic<Backend*> s_installed;

    LQComponent::UDP m_socket;
    Backend* m_backend = nullptr;  // set from open to close when a backend was installed
};
