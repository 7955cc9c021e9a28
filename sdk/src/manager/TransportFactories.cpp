// The transports' factories as the manager makes them. The GigE transport is not built in yet:
// the manager runs without it; the GigE transport work replaces its body here with its factory.
#include "manager/CameraFactory.h"
#include "usb/LibUsbCameraFactory.h"

std::unique_ptr<CCameraFactory> MakeUsbCameraFactory() {
    return std::make_unique<CLibUsbCameraFactory>();
}

std::unique_ptr<CCameraFactory> MakeGigeCameraFactory() {
    return nullptr;
}
