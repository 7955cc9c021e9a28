#include "SimGigeNetwork.h"

namespace qvsim {

CSimGigeNetwork::~CSimGigeNetwork() {
    m_cameras.clear();
    m_links.clear();
    m_namespaces.clear();
}

int CSimGigeNetwork::AddNamespace() {
    m_namespaces.push_back(std::make_unique<CSimNetns>());
    return static_cast<int>(m_namespaces.size()) - 1;
}

int CSimGigeNetwork::AddLink(int ns, const std::string& hostIp, const std::string& cameraEndIp,
                             int prefix, int mtu) {
    bool first = true;
    for (const LinkEntry& l : m_links) first &= l.ns != ns;
    SimLinkEnd host{hostIp, prefix, false};
    SimLinkEnd camera{cameraEndIp, prefix, first};
    m_links.push_back({ns, std::make_unique<CSimVethLink>(Namespace(ns), host, camera, mtu)});
    return static_cast<int>(m_links.size()) - 1;
}

CSimGigeImx290Camera& CSimGigeNetwork::AddCamera(int link, SimGigeImx290Options options) {
    LinkEntry& l = m_links.at(static_cast<size_t>(link));
    l.veth->AddPeerAddress(options.ip, PrefixOf(options.mask));
    options.netnsFd = Namespace(l.ns).Fd();
    CSimVethLink* veth = l.veth.get();
    options.onAddressChange = [veth](const std::string& oldIp, const std::string& oldMask,
                                     const std::string& newIp, const std::string& newMask) {
        veth->AddPeerAddress(newIp, PrefixOf(newMask));
        veth->RemovePeerAddress(oldIp, PrefixOf(oldMask));
    };
    m_cameras.push_back(std::make_unique<CSimGigeImx290Camera>(options));
    return *m_cameras.back();
}

const std::string& CSimGigeNetwork::HostInterface(int link) const {
    return m_links.at(static_cast<size_t>(link)).veth->HostName();
}

void CSimGigeNetwork::RemoveLink(int link) {
    m_links.at(static_cast<size_t>(link)).veth->Remove();
}

}  // namespace qvsim
