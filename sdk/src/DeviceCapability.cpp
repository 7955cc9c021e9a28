// Capability builders of CJNDevice. Placeholder until the capability tables are built: every
// builder fails with CAMERA_STATUS_FAILED, so a camera initialisation stops at its device
// parameters. The capability-table work replaces this file.
#include "JNDevice.h"

int CJNDevice::MakeMediaTypeArray(INT& count, tSdkBayerType** array,
                                  std::vector<unsigned int>& supportMediaType) {
    (void)count, (void)array, (void)supportMediaType;
    return CAMERA_STATUS_FAILED;
}

int CJNDevice::MakeCapability(tSdkCapability* cap, CameraProperty* prop, SensorTypeE type,
                              SensorCapability* sensorCap) {
    (void)cap, (void)prop, (void)type, (void)sensorCap;
    return CAMERA_STATUS_FAILED;
}

int CJNDevice::MakeResolutionList(tSdkCapability* cap, CameraProperty* prop, SensorTypeE type) {
    (void)cap, (void)prop, (void)type;
    return CAMERA_STATUS_FAILED;
}
