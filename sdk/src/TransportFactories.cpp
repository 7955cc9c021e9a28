// The transports' factories as the manager makes them. No transport is built in yet, so the
// manager runs without either and finds no camera; the USB and GigE transport work each replace
// one body here with their factory.
#include "CameraFactory.h"

std::unique_ptr<CCameraFactory> MakeUsbCameraFactory() {
    return nullptr;
}

std::unique_ptr<CCameraFactory> MakeGigeCameraFactory() {
    return nullptr;
}
