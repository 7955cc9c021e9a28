// The namespace fixture of the GigE tests: the calling thread's namespace is the host; camera
// namespaces hang off it by veth links with 198.18.0.0/15 addresses. A camera namespace may have
// several links (a camera reachable over two host interfaces) and several cameras (cameras on one
// link); a camera that FORCEIP moves takes its address along on its link. Everything is deleted
// by the destructor, and by the kernel with the process on any other way out.
//
//   qvsim::CSimGigeNetwork net;
//   const int ns = net.AddNamespace();
//   const int link = net.AddLink(ns, "198.18.1.1", "198.18.1.254");
//   auto& camera = net.AddCamera(link, options);   // options.ip "198.18.1.2"
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "SimGigeImx290Camera.h"
#include "SimNetns.h"

namespace qvsim {

class CSimGigeNetwork {
  public:
    CSimGigeNetwork() = default;
    ~CSimGigeNetwork();  // cameras first, then links, then namespaces
    CSimGigeNetwork(const CSimGigeNetwork&) = delete;
    CSimGigeNetwork& operator=(const CSimGigeNetwork&) = delete;

    // A camera namespace; its index.
    int AddNamespace();
    // A link from the host (hostIp/prefix on the host end) into namespace ns; the camera end
    // gets cameraEndIp (may be empty) and a default route when it is the namespace's first link.
    // Its index.
    int AddLink(int ns, const std::string& hostIp, const std::string& cameraEndIp = "",
                int prefix = 24, int mtu = 0);
    // A camera on a link: options.ip is added to the link's camera end (prefix of options.mask);
    // the camera runs in the link's namespace.
    CSimGigeImx290Camera& AddCamera(int link, SimGigeImx290Options options);

    const std::string& HostInterface(int link) const;
    CSimNetns& Namespace(int ns) { return *m_namespaces.at(static_cast<size_t>(ns)); }
    // Deletes a link now (an interface that disappears).
    void RemoveLink(int link);

  private:
    struct LinkEntry {
        int ns;
        std::unique_ptr<CSimVethLink> veth;
    };
    std::vector<std::unique_ptr<CSimNetns>> m_namespaces;
    std::vector<LinkEntry> m_links;
    std::vector<std::unique_ptr<CSimGigeImx290Camera>> m_cameras;
};

}  // namespace qvsim
