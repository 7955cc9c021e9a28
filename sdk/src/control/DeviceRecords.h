// The camera records as one device-parameter read gives them, with what the controller makes
// of them, held apart from the controller's own until they are stored in one step: a save or a
// getter beside the read then sees either the old records or the new ones, never a mixture.
#pragma once

#include "device/DeviceMiscInfo.h"
#include "params/DeviceCapability.h"
#include "QVDeviceDef.h"
#include "storage/CameraProperty.h"

struct DeviceRecords {
    DeviceRecords() = default;
    DeviceRecords(const DeviceRecords&) = delete;
    DeviceRecords& operator=(const DeviceRecords&) = delete;
    // The capability's lists belong to whoever holds the record; once it is stored in the
    // controller, what is left here nobody refers to.
    ~DeviceRecords() { ReleaseCapabilityLists(&capability); }

    int result = 0;  // the device's answer to the read
    tSdkCapability capability{};
    tDevInfo info{};
    CameraProperty property{};
    DeviceMiscInfo misc{};
    // The preset the factory settings name, looked up in these records.
    tSdkResolution defaultResolution{};
};
