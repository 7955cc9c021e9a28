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

#include "QVDeviceDef.h"

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
    // Registers n cameras whose device files the host program opened itself (descriptor,
    // (vendor << 16) | product, device path of each), then appends those of them that open and
    // answer, and no other camera. Only a transport with device files has such cameras; the
    // others answer CAMERA_STATUS_NOT_SUPPORTED.
    virtual int EnumerateFromOpenedDevList(std::vector<std::shared_ptr<CJNDevice>>& devices, int n,
                                           const int* fds, const unsigned* vidPid,
                                           const char* const* paths) {
        (void)devices, (void)n, (void)fds, (void)vidPid, (void)paths;
        return CAMERA_STATUS_NOT_SUPPORTED;
    }
};

// The transports' factories for the manager; null while a transport is not built in.
std::unique_ptr<CCameraFactory> MakeUsbCameraFactory();
std::unique_ptr<CCameraFactory> MakeGigeCameraFactory();
