// CDevKeepAliveObj: the hook of an object that waits for its camera to come back (the camera
// controller). While registered with the keep-alive service it is offered, once per period, the
// cameras that are present and free.
#pragma once

#include <list>
#include <memory>

class CJNDevice;

class CDevKeepAliveObj {
  public:
    virtual ~CDevKeepAliveObj() = default;

    // Runs on the keep-alive thread with the service's list mutex held. It may unregister this
    // object (not another one), and must not block on a lock whose holder may register or
    // unregister: it tries such locks and leaves the work to the next period. The devices in
    // present stay alive for the call; keep a copy of the pointer to hold one longer.
    virtual int KLive_Reconnect(std::list<std::shared_ptr<CJNDevice>>& present) {
        (void)present;
        return 0;
    }
};
