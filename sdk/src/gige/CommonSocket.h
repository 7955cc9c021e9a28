// LQComponent::CommonSocket: an IPv4 socket descriptor with its opened and bound flags, the base
// of the datagram socket UDP. Destroying a socket object never closes its descriptor: copies
// share it (UDP copies, SocketGroup entries), and the owner calls close.
//
// Only open (and the operations that open on demand), get_address and the receive and send
// operations of UDP throw SocketException. Binds, option setters and SetBufferSize report a
// failure as -1 and throw nothing.
//
// Waits for readability use poll, so a descriptor number above the select set size is no
// hazard, and a wait cut short by a signal (EINTR; the station library raises SIGALRM every
// second without SA_RESTART) goes on waiting for the rest of its time instead of failing.
//
// Not thread-safe: a socket object is used by one thread at a time; its owner guarantees that.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "gige/Address.h"

namespace LQComponent {

class CommonSocket {
  public:
    static constexpr int kStream = 1;
    static constexpr int kDatagram = 2;

    explicit CommonSocket(int type) : m_type(type) {}
    virtual ~CommonSocket() = default;
    CommonSocket(const CommonSocket&) = default;
    CommonSocket& operator=(const CommonSocket&) = default;

    // Creates the descriptor when not opened ("[open] Cannot create socket" on failure); sets
    // opened, clears bound.
    void open();
    // Shuts the descriptor down both ways and closes it when opened; always clears both flags.
    void close();

    // -1 at once when already bound; opens when needed; binds 0.0.0.0:port (0 = any).
    virtual int bind(uint16_t port);
    // Opens when needed and binds ip:port; the system decides about a socket already bound. An
    // invalid ip text throws the address exception.
    virtual int bind(const std::string& ip, uint16_t port);
    virtual int bind(uint32_t ipNetworkOrder, uint16_t port);

    int GetSocket() const { return m_socketId; }
    bool IsOpened() const { return m_opened; }
    bool IsBinded() const { return m_binded; }

    // SO_SNDBUF when sendSize > 0 (-1 at once on failure), then SO_RCVBUF when recvSize > 0
    // (its result); 0 when neither is asked for.
    int SetBufferSize(int sendSize, int recvSize);
    // SO_REUSEADDR / SO_BROADCAST: the system call's result (0 or -1); they do not open.
    int set_reuseaddr(int value);
    int set_broadcast(int value);
    int set_extra_option(int flag) {
        (void)flag;
        return 0;
    }

    // The local address ("[get_address] getsockname() error" when it cannot be read).
    Address get_address() const;
    uint16_t get_port() const { return get_address().port(); }

  protected:
    // Waits up to timeoutMs for one of fds to become readable: its index, or -1 when the time
    // ran out. poll failing for another reason than a signal throws
    // "[receive_timeout] select() return SOCKET_ERROR".
    static int WaitReadable(std::span<const int> fds, int timeoutMs);
    // Receives one datagram of at most capacity bytes from fd: the byte count (0 for an empty
    // datagram); "[receive_timeout] Cannot receive" on failure.
    static uint32_t ReceiveFrom(int fd, Address& from, void* buffer, uint32_t capacity);
    // Throws the over-long receive message when capacity exceeds the datagram limit.
    static void CheckReceiveCapacity(const void* buffer, uint32_t capacity);
    // At most a short prefix of data as printable text, for messages.
    static std::string Printable(const void* data, size_t len);

    int m_socketId = -1;
    int m_type;
    bool m_opened = false;
    bool m_binded = false;
};

}  // namespace LQComponent
