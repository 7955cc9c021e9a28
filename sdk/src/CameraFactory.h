// CCameraFactory: how the manager finds cameras of one transport. The USB and GigE transports
// each implement one; the manager owns both for the life of the process.
//
// Both operations may be called from the manager's enumeration and from the keep-alive thread at
// the same time, so implementations guard their own state. They may block for a transport's
// first discovery scan (GigE: up to 1.5 s after the factory was made) but otherwise return
// promptly. They must not call back into the manager.
#pragma once

#include <list>
#include <memory>
#include <vector>

class CJNDevice;

class CCameraFactory {
  public:
    virtual ~CCameraFactory() = default;

    // Appends the cameras present now (new or the transport's own objects); 0, or a negative
    // status when the transport cannot list (it then contributes nothing).
    virtual int GetDeviceList(std::vector<std::shared_ptr<CJNDevice>>& devices) = 0;
    // Brings the keep-alive list up to date: adds cameras that answer and are not listed yet (by
    // symbolic name), and may replace a listed object by the transport's current one for the same
    // camera.
    virtual int RefreshDeviceList(std::list<std::shared_ptr<CJNDevice>>& devices) = 0;
};

// The transports' factories for the manager; null while a transport is not built in.
std::unique_ptr<CCameraFactory> MakeUsbCameraFactory();
std::unique_ptr<CCameraFactory> MakeGigeCameraFactory();
