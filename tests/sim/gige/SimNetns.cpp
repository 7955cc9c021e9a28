#include "SimNetns.h"

// glibc's interface header first: the kernel's headers then leave out what it declares.
#include <net/if.h>
// clang-format off
#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/veth.h>
// clang-format on
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <exception>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <vector>

namespace qvsim {

namespace {

[[noreturn]] void Fail(const std::string& what, int error) {
    throw std::runtime_error(what + ": " + std::strerror(error));
}

// One rtnetlink request with its attributes, built in place.
class NlRequest {
  public:
    NlRequest(uint16_t type, uint16_t flags) {
        nlmsghdr h{};
        h.nlmsg_type = type;
        h.nlmsg_flags = static_cast<uint16_t>(NLM_F_REQUEST | NLM_F_ACK | flags);
        Append(&h, sizeof h);
    }
    template <typename T>
    void Header(const T& body) {
        Append(&body, sizeof body);
    }
    void Attr(uint16_t type, const void* data, size_t len) {
        rtattr a{};
        a.rta_type = type;
        a.rta_len = static_cast<uint16_t>(RTA_LENGTH(len));
        Append(&a, sizeof a);
        Append(data, len);
    }
    void Attr(uint16_t type, const std::string& text) { Attr(type, text.c_str(), text.size() + 1); }
    void Attr32(uint16_t type, uint32_t v) { Attr(type, &v, sizeof v); }
    size_t Begin(uint16_t type) {
        const size_t at = m_buf.size();
        Attr(type, nullptr, 0);
        return at;
    }
    void End(size_t at) {
        const auto len = static_cast<uint16_t>(m_buf.size() - at);
        std::memcpy(m_buf.data() + at + offsetof(rtattr, rta_len), &len, sizeof len);
    }
    std::vector<uint8_t>& Finish() {
        const auto len = static_cast<uint32_t>(m_buf.size());
        std::memcpy(m_buf.data() + offsetof(nlmsghdr, nlmsg_len), &len, sizeof len);
        return m_buf;
    }

  private:
    void Append(const void* data, size_t len) {
        const auto* p = static_cast<const uint8_t*>(data);
        if (len > 0) m_buf.insert(m_buf.end(), p, p + len);
        m_buf.resize((m_buf.size() + 3) & ~size_t{3});  // every piece is 4-byte aligned
    }
    std::vector<uint8_t> m_buf;
};

// Sends one request on a netlink socket of the calling thread's namespace and waits for its
// acknowledge; the kernel's error number, 0 on success.
int Talk(NlRequest& request) {
    const int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) return errno;
    std::vector<uint8_t>& msg = request.Finish();
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    int result = 0;
    if (sendto(fd, msg.data(), msg.size(), 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) <
        0) {
        result = errno;
    } else {
        alignas(nlmsghdr) uint8_t answer[8192];
        const ssize_t n = recv(fd, answer, sizeof answer, 0);
        if (n < 0) {
            result = errno;
        } else {
            const auto* h = reinterpret_cast<const nlmsghdr*>(answer);
            if (n >= static_cast<ssize_t>(sizeof *h + sizeof(nlmsgerr)) &&
                h->nlmsg_type == NLMSG_ERROR)
                result = -static_cast<const nlmsgerr*>(NLMSG_DATA(h))->error;
            else
                result = EPROTO;
        }
    }
    close(fd);
    return result;
}

int IndexOf(const std::string& name) {
    const unsigned index = if_nametoindex(name.c_str());
    if (index == 0) Fail("no interface " + name, errno);
    return static_cast<int>(index);
}

void LinkUp(const std::string& name, int mtu) {
    NlRequest r(RTM_NEWLINK, 0);
    ifinfomsg info{};
    info.ifi_family = AF_UNSPEC;
    info.ifi_index = IndexOf(name);
    info.ifi_flags = IFF_UP;
    info.ifi_change = IFF_UP;
    r.Header(info);
    if (mtu > 0) r.Attr32(IFLA_MTU, static_cast<uint32_t>(mtu));
    if (const int e = Talk(r)) Fail("link up " + name, e);
}

void Address(uint16_t type, const std::string& name, const std::string& ip, int prefix) {
    NlRequest r(type, type == RTM_NEWADDR ? NLM_F_CREATE | NLM_F_EXCL : 0);
    ifaddrmsg a{};
    a.ifa_family = AF_INET;
    a.ifa_prefixlen = static_cast<uint8_t>(prefix);
    const uint32_t addr = ParseIp(ip);
    // The kernel takes loopback-net addresses only with host scope.
    a.ifa_scope = (ntohl(addr) >> 24) == 127 ? RT_SCOPE_HOST : RT_SCOPE_UNIVERSE;
    a.ifa_index = static_cast<uint32_t>(IndexOf(name));
    r.Header(a);
    const uint32_t mask = prefix == 0 ? 0 : htonl(~uint32_t{0} << (32 - prefix));
    r.Attr32(IFA_LOCAL, addr);
    r.Attr32(IFA_ADDRESS, addr);
    r.Attr32(IFA_BROADCAST, addr | ~mask);
    if (const int e = Talk(r)) Fail("address " + ip + " on " + name, e);
}

void DefaultRoute(const std::string& name) {
    NlRequest r(RTM_NEWROUTE, NLM_F_CREATE | NLM_F_EXCL);
    rtmsg m{};
    m.rtm_family = AF_INET;
    m.rtm_table = RT_TABLE_MAIN;
    m.rtm_protocol = RTPROT_BOOT;
    m.rtm_scope = RT_SCOPE_LINK;
    m.rtm_type = RTN_UNICAST;
    r.Header(m);
    r.Attr32(RTA_OIF, static_cast<uint32_t>(IndexOf(name)));
    if (const int e = Talk(r)) Fail("default route via " + name, e);
}

// A neighbour solicitation that goes unanswered (seen on busy machines right after a link comes up)
// is sent again only after a second by default, which outlasts the SDK's three 100 ms tries of a
// control command; the retry on these links comes sooner. The setting belongs to the link's own
// namespace. Best effort: a kernel without the knob keeps its default.
void ShortenNeighbourRetry(const std::string& name) {
    const std::string path = "/proc/sys/net/ipv4/neigh/" + name + "/retrans_time_ms";
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return;
    const char value[] = "50\n";
    [[maybe_unused]] const ssize_t n = write(fd, value, sizeof value - 1);
    close(fd);
}

void SetUpEnd(const std::string& name, const SimLinkEnd& end, int mtu) {
    ShortenNeighbourRetry(name);
    LinkUp(name, mtu);
    if (!end.ip.empty()) Address(RTM_NEWADDR, name, end.ip, end.prefix);
    if (end.defaultRoute) DefaultRoute(name);
}

int OpenCurrentNetns() {
    const int fd = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    if (fd < 0) Fail("open the namespace", errno);
    return fd;
}

std::atomic<int> g_linkSerial{0};

}  // namespace

void EnterOwnNetns() {
    if (unshare(CLONE_NEWNET) != 0) Fail("unshare", errno);
    LinkUp("lo", 0);
}

uint32_t ParseIp(const std::string& text) {
    in_addr a{};
    if (inet_pton(AF_INET, text.c_str(), &a) != 1)
        throw std::runtime_error("not an IPv4 address: " + text);
    return a.s_addr;
}

int PrefixOf(const std::string& mask) {
    return __builtin_popcount(ParseIp(mask));
}

std::string IpText(uint32_t networkOrder) {
    char text[INET_ADDRSTRLEN];
    in_addr a{};
    a.s_addr = networkOrder;
    return inet_ntop(AF_INET, &a, text, sizeof text) != nullptr ? text : "";
}

CSimNetns::CSimNetns() {
    std::exception_ptr error;
    std::thread([&] {
        try {
            if (unshare(CLONE_NEWNET) != 0) Fail("unshare", errno);
            m_fd = OpenCurrentNetns();
            LinkUp("lo", 0);
            // Deleting an interface's first address of a subnet keeps the others of that subnet
            // (another camera's, or the one a camera moves to).
            for (const char* scope : {"all", "default"}) {
                std::ofstream f(std::string("/proc/sys/net/ipv4/conf/") + scope +
                                "/promote_secondaries");
                f << 1;
            }
        } catch (...) {
            error = std::current_exception();
        }
    }).join();
    if (error) {
        if (m_fd >= 0) close(m_fd);
        std::rethrow_exception(error);
    }
}

CSimNetns::~CSimNetns() {
    if (m_fd >= 0) close(m_fd);
}

void CSimNetns::Run(const std::function<void()>& fn) const {
    RunIn(m_fd, fn);
}

void CSimNetns::RunIn(int nsFd, const std::function<void()>& fn) {
    if (nsFd < 0) {
        fn();
        return;
    }
    std::exception_ptr error;
    std::thread([&] {
        try {
            if (setns(nsFd, CLONE_NEWNET) != 0) Fail("setns", errno);
            fn();
        } catch (...) {
            error = std::current_exception();
        }
    }).join();
    if (error) std::rethrow_exception(error);
}

CSimVethLink::CSimVethLink(const CSimNetns& peer, const SimLinkEnd& host, const SimLinkEnd& camera,
                           int mtu)
    : m_peer(peer) {
    const int serial = g_linkSerial.fetch_add(1);
    const std::string stem = "qv" + std::to_string(getpid()) + "x" + std::to_string(serial);
    m_hostName = stem + "h";
    m_peerName = stem + "c";
    if (m_hostName.size() >= IFNAMSIZ) throw std::runtime_error("interface name too long");

    NlRequest r(RTM_NEWLINK, NLM_F_CREATE | NLM_F_EXCL);
    ifinfomsg info{};
    info.ifi_family = AF_UNSPEC;
    r.Header(info);
    r.Attr(IFLA_IFNAME, m_hostName);
    const size_t linkInfo = r.Begin(IFLA_LINKINFO);
    r.Attr(IFLA_INFO_KIND, std::string("veth"));
    const size_t data = r.Begin(IFLA_INFO_DATA);
    const size_t peerInfo = r.Begin(VETH_INFO_PEER);
    r.Header(info);
    r.Attr(IFLA_IFNAME, m_peerName);
    r.Attr32(IFLA_NET_NS_FD, static_cast<uint32_t>(peer.Fd()));
    r.End(peerInfo);
    r.End(data);
    r.End(linkInfo);
    if (const int e = Talk(r)) Fail("veth " + m_hostName, e);
    m_present = true;
    m_hostNs = OpenCurrentNetns();
    try {
        SetUpEnd(m_hostName, host, mtu);
        peer.Run([&] { SetUpEnd(m_peerName, camera, mtu); });
    } catch (...) {
        Remove();
        close(m_hostNs);
        throw;
    }
}

CSimVethLink::~CSimVethLink() {
    Remove();
    if (m_hostNs >= 0) close(m_hostNs);
}

void CSimVethLink::AddPeerAddress(const std::string& ip, int prefix) {
    m_peer.Run([&] { Address(RTM_NEWADDR, m_peerName, ip, prefix); });
}

void CSimVethLink::RemovePeerAddress(const std::string& ip, int prefix) {
    m_peer.Run([&] { Address(RTM_DELADDR, m_peerName, ip, prefix); });
}

void CSimVethLink::Remove() {
    if (!m_present) return;
    m_present = false;
    CSimNetns::RunIn(m_hostNs, [&] {
        const unsigned index = if_nametoindex(m_hostName.c_str());
        if (index == 0) return;  // gone with its namespace already
        NlRequest r(RTM_DELLINK, 0);
        ifinfomsg info{};
        info.ifi_family = AF_UNSPEC;
        info.ifi_index = static_cast<int>(index);
        r.Header(info);
        Talk(r);
    });
}

void AddAddress(const std::string& ifname, const std::string& ip, int prefix) {
    Address(RTM_NEWADDR, ifname, ip, prefix);
}

}  // namespace qvsim
