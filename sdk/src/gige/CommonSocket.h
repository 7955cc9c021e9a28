// LQComponent::CommonSocket: an IPv4 socket descriptor with its opened and bound flags, the base
// of the datagram socket UDP and the stream socket TCP. Destroying a socket object never closes
// its descriptor: copies share it (UDP copies, SocketGroup entries), and the owner calls close.
//
// Only open (and the operations that open on demand), get_address and the receive, send,
// connect, listen and accept operations of UDP and TCP throw SocketException. Binds, option
// setters and getters, SetBufferSize and GetBufferSize report a failure as -1 and throw
// nothing; none of them opens the socket.
//
// Waits for readability use poll, so a descriptor number above the select set size is no
// hazard, and a wait cut short by a signal (EINTR; a host's handler installed without
// SA_RESTART) goes on waiting for the rest of its time instead of failing.
//
// Not thread-safe: a socket object is used by one thread at a time; its owner guarantees that.
#pragma once

#include <cstdint>
#include <optional>
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
    // The sizes the system keeps (Linux doubles what was set, for its bookkeeping): 0, or -1
    // when either cannot be read (then neither output is written).
    int GetBufferSize(int* sendSize, int* recvSize) const;

    // IP_TTL, IP_TOS and IP_MULTICAST_TTL. The setters return 0 or -1; the getters the value,
    // or -1 when it cannot be read.
    int set_ttl(int ttl);
    int get_ttl() const;
    int set_tos(int tos);
    int get_tos() const;
    int set_multicast_ttl(int ttl);
    int get_multicast_ttl() const;
    // SO_LINGER: a close that waits up to seconds for unsent data, or (off) one that returns at
    // once. get_linger: 1 when on (*seconds, when given, gets its time), 0 when off, -1 when it
    // cannot be read.
    int set_linger_on(int seconds);
    int set_linger_off();
    int get_linger(int* seconds = nullptr) const;
    // O_NONBLOCK. get_nonblocking: 1, 0, or -1 when it cannot be read.
    int set_nonblocking(bool on);
    int get_nonblocking() const;
    // Any option at any level: 0 or -1; get_option writes *len as the system does.
    int set_option(int level, int name, const void* value, uint32_t len);
    int get_option(int level, int name, void* value, uint32_t* len) const;
    // SO_SNDTIMEO / SO_RCVTIMEO in milliseconds (0: blocking calls wait without end); they
    // bound the blocking send and receive operations. The getters: the time (the system keeps
    // it in steps of its clock tick, so it may read a few ms longer), or -1.
    int set_send_timeout(int ms);
    int get_send_timeout() const;
    int set_receive_timeout(int ms);
    int get_receive_timeout() const;

    // The local address ("[get_address] getsockname() error" when it cannot be read).
    Address get_address() const;
    uint16_t get_port() const { return get_address().port(); }

  protected:
    // Waits up to timeoutMs for one of fds to be ready for events (POLLIN, POLLOUT): its index,
    // or -1 when the time ran out; a signal does not end the wait early. poll failing for
    // another reason throws "[<op>] select() return SOCKET_ERROR".
    static int WaitReady(std::span<const int> fds, short events, int timeoutMs, const char* op);
    // WaitReady for reading, as receive_timeout waits.
    static int WaitReadable(std::span<const int> fds, int timeoutMs);
    // Receives one datagram of at most capacity bytes from fd (recvfrom with flags): the byte
    // count (0 for an empty datagram), or nothing when none was there to take (a wait flagged
    // MSG_DONTWAIT, a non-blocking socket, or the socket's receive time-out ran out);
    // "[<op>] Cannot receive" on failure.
    static std::optional<uint32_t> ReceiveFrom(int fd, Address& from, void* buffer,
                                               uint32_t capacity, int flags,
                                               const char* op = "receive_timeout");
    // Throws the over-long receive message of op when capacity exceeds the datagram limit.
    static void CheckReceiveCapacity(const void* buffer, uint32_t capacity,
                                     const char* op = "receive_timeout");
    // At most a short prefix of data as printable text, for messages.
    static std::string Printable(const void* data, size_t len);

    int m_socketId = -1;
    int m_type;
    bool m_opened = false;
    bool m_binded = false;
};

}  // namespace LQComponent
