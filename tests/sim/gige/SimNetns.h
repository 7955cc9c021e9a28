// Private network namespaces for the GigE tests, so that no simulated camera and no discovery
// broadcast ever meets a real network, and concurrent test processes never meet each other.
//
// - EnterOwnNetns(): moves the calling thread (at process start: the whole process) into a new
//   namespace of its own with "lo" up. Every thread started afterwards inherits it; the SDK's
//   discovery then broadcasts only on the links the test creates there.
// - CSimNetns: one more namespace (a "camera" behind a veth link), held by a descriptor. Code run
//   through Run() executes on a helper thread inside it; sockets created there stay in it, so a
//   simulated camera in the same process lives in its own namespace.
// - CSimVethLink: a veth pair between the calling thread's namespace and a CSimNetns, with IPv4
//   addresses and links up on both ends; destroying it deletes the pair.
//
// Everything is anonymous (no names under /var/run/netns): namespaces, and the veth pairs in
// them, vanish with the last descriptor or socket that refers to them, also when the test
// process dies. Interface names carry the process id.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace qvsim {

// Moves the calling thread into a fresh network namespace with lo up. Call it before any other
// thread exists (the test programs do it before main through qv_gige_own_netns).
void EnterOwnNetns();

class CSimNetns {
  public:
    // A new namespace with lo up; throws std::runtime_error when the system refuses.
    CSimNetns();
    ~CSimNetns();
    CSimNetns(const CSimNetns&) = delete;
    CSimNetns& operator=(const CSimNetns&) = delete;

    int Fd() const { return m_fd; }
    // Runs fn on a helper thread inside this namespace and waits for it.
    void Run(const std::function<void()>& fn) const;
    // As Run for a namespace descriptor; -1 runs fn on the calling thread.
    static void RunIn(int nsFd, const std::function<void()>& fn);

  private:
    int m_fd = -1;
};

// IPv4 helpers for the fixtures ("198.18.1.2" and the like).
uint32_t ParseIp(const std::string& text);  // network byte order; throws on a bad text
int PrefixOf(const std::string& mask);      // "255.255.255.0": 24
std::string IpText(uint32_t networkOrder);

struct SimLinkEnd {
    std::string ip;  // "" leaves the end without an address
    int prefix = 24;
    bool defaultRoute = false;  // a default route through this end (needed to broadcast)
};

class CSimVethLink {
  public:
    // Creates the pair in the calling thread's namespace ("host" end) and moves the other end
    // into peer; both ends get their address and are up. mtu 0 keeps the default (1500).
    // Throws std::runtime_error on failure.
    CSimVethLink(const CSimNetns& peer, const SimLinkEnd& host, const SimLinkEnd& camera,
                 int mtu = 0);
    // Deletes the pair (from the host end's namespace).
    ~CSimVethLink();
    CSimVethLink(const CSimVethLink&) = delete;
    CSimVethLink& operator=(const CSimVethLink&) = delete;

    const std::string& HostName() const { return m_hostName; }
    const std::string& PeerName() const { return m_peerName; }
    // Adds another address to the camera end (two cameras on one link), or takes one away.
    void AddPeerAddress(const std::string& ip, int prefix = 24);
    void RemovePeerAddress(const std::string& ip, int prefix = 24);
    // Deletes the pair now (a link that disappears during a test); idempotent.
    void Remove();

  private:
    const CSimNetns& m_peer;
    std::string m_hostName;
    std::string m_peerName;
    int m_hostNs = -1;  // the creating thread's namespace, kept for the removal
    bool m_present = false;
};

// Adds an IPv4 address to an interface of the calling thread's namespace ("lo" and 127.0.0.2
// give discovery a loopback interface to broadcast on; only 127.0.0.1 is skipped).
void AddAddress(const std::string& ifname, const std::string& ip, int prefix);

}  // namespace qvsim
