// Storage factory. Placeholder until the EEPROM and flash layouts are built: no layout is
// recognised, so every open fails with CAMERA_STATUS_DEVICE_OPEN_FAILED. The on-camera storage
// work replaces this file.
#include "StorageData.h"

CStorageData* CreateStorageData(CJNDevice* device, const char* hardwareVersion) {
    (void)device;
    (void)hardwareVersion;
    return nullptr;
}
