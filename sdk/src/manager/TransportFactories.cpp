// The transports' factories as the manager makes them.
#include "gige/GigeCameraFactory.h"
#include "manager/CameraFactory.h"
#include "usb/LibUsbCameraFactory.h"

std::unique_ptr<CCameraFactory> MakeUsbCameraFactory() {
    return std::make_unique<CLibUsbCameraFactory>();
}

std::unique_ptr<CCameraFactory> MakeGigeCameraFactory() {
    return std::make_unique<CGigeCameraFactory>();
}
