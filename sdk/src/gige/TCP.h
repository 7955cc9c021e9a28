// LQComponent::TCP: a stream socket. One object is either a listener, which accepts connections
// into its client list, or one end of a connection, made by connect_to or by accepting.
//
// A listener's client list holds the descriptor and peer address of every connection it
// accepted that is still open: an accepted socket shares the list (and the mutex over it) with
// its listener and leaves it when it is closed through TCP::close. At most kMaxClients
// connections are kept; one more is refused. Closing a listener leaves its connections open.
//
// Failures of listen, accept, connect, send and receive throw SocketException (messages begin
// with the operation in brackets); a receive reports a connection the peer closed or reset as
// -2. Sends never raise SIGPIPE. Waits go on through signals, as the datagram socket's do.
//
// Copies share the descriptor, the peer and the list; close only one of them. A connection is
// used by one thread at a time; the client list may be read from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "gige/CommonSocket.h"

namespace LQComponent {

class TCP : public CommonSocket {
  public:
    static constexpr size_t kMaxClients = 1024;

    struct Client {
        int descriptor;
        Address address;
    };

    TCP();

    // Listens for up to listeners pending connections on port, binding 0.0.0.0:port first when
    // the socket is not bound (port 0: any port; the bound port when bound). Throws
    // "[listen_on_port] with [port=<port>] Cannot listen on a port other than the bound one
    // (<bound>)", "... Cannot bind" and "... Cannot listen".
    void listen_on_port(uint16_t port, int listeners = 1);
    // Waits for the next connection on a listener and returns it (opened, bound, accepted, its
    // peer known), kept in the client list. Throws "[accept_client] Not listening",
    // "[accept_client] Cannot accept" and, with kMaxClients connections kept, "[accept_client] Too
    // many clients (1024)" (the new connection is closed).
    TCP accept_client();
    // The connections the listener accepted that are still open, in the order accepted.
    std::vector<Client> clients() const;

    // Connects to ip:port, opening the socket when needed. Throws an invalid address text and
    // "[connect_to] with [ip=<ip>] [port=<port>] Cannot connect".
    void connect_to(const std::string& ip, uint16_t port);
    void connect_to(const Address& server);

    // Sends all len bytes, waiting as long as the connection needs: the bytes sent (fewer only
    // when the send time-out ran out, or a non-blocking socket was full). Throws "[send] Not
    // connected" and "[send] with [len=<len>] Cannot send" (a closed or reset peer included).
    size_t send(const void* data, size_t len);
    // As send, waiting at most timeoutMs in all for the connection to take the bytes: the bytes
    // sent (fewer when the time ran out). Messages begin with "[send_timeout]".
    size_t send_timeout(int timeoutMs, const void* data, size_t len);
    // Receives at most capacity bytes, waiting for the first: their count; -2 when the peer
    // closed or reset the connection; 0 when the receive time-out ran out or a non-blocking
    // socket had nothing. Throws "[receive] Not connected" and "[receive] Cannot receive".
    int receive(void* buffer, size_t capacity);
    // As receive, waiting at most timeoutMs: 0 when nothing came in time. Messages begin with
    // "[receive_timeout]".
    int receive_timeout(int timeoutMs, void* buffer, size_t capacity);

    // Closes the descriptor (see CommonSocket::close); an accepted connection also leaves its
    // listener's client list.
    void close();

    bool IsAccepted() const { return m_accepted; }
    bool IsListening() const { return m_listening; }
    bool IsConnected() const { return m_opened && m_connected; }
    // The other end of the connection (0.0.0.0:0 when none).
    Address get_peer_address() const { return m_peer; }

  private:
    struct ClientList {
        mutable std::mutex mutex;  // guards clients
        std::vector<Client> clients;
    };

    void CheckConnected(const char* op) const;
    // One recv into buffer: the count, -2 for a closed or reset connection, 0 when nothing was
    // there to take.
    int ReceiveSome(void* buffer, size_t capacity, int flags, const char* op);

    Address m_peer;
    bool m_accepted = false;
    bool m_listening = false;
    bool m_connected = false;
    // A listener's list, shared with the connections it accepted.
    std::shared_ptr<ClientList> m_clients;
};

}  // namespace LQComponent
