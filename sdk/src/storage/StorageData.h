// CStorageData: the interface to a camera's non-volatile memory (EEPROM on USB 2.0 cameras,
// flash on USB 3.0 and GigE cameras). The device makes one at open (MakeEEPromInstance), owns
// it and reaches it for every storage-backed operation. Storage objects have no locks of their
// own: they run under the attachment mutex of their caller, and every EEPROM or flash access
// goes back through the owning device's WriteEEProm, ReadEEProm, EraseFlashSector, ReadFlash
// and WriteFlash.
//
// All operations return 0 or a negative status: null pointers give -6, bounds are tested before
// any device access, and the device's transfer errors are returned unchanged.
#pragma once

#include <cstdint>

#include "sensors/SensorInf.h"

class CJNDevice;
struct CameraProperty;

class CStorageData {
  public:
    explicit CStorageData(CJNDevice* device) : m_pDevice(device) {}
    virtual ~CStorageData() = default;

    CStorageData(const CStorageData&) = delete;
    CStorageData& operator=(const CStorageData&) = delete;

    // Writes the layout header where the layout has one; 0 for every other class.
    virtual int Format() = 0;
    // The 32-byte serial number field of level 0, 1 or 2 (a serial number may fill all 32
    // bytes, so readers keep a 33rd byte for the terminator); -6 for another level.
    virtual int WriteSN(uint8_t* sn, INT level) = 0;
    virtual int ReadSN(uint8_t* sn, INT level) = 0;
    // Texts, in 32-byte buffers: getters give at most 31 characters and always a terminator,
    // setters store at most 32 bytes (the terminator included when the text is shorter).
    virtual int GetFriendlyName(char* name) = 0;
    virtual int SetFriendlyName(char* name) = 0;
    virtual int GetProductName(char* name) = 0;
    virtual int SetProductName(char* name) = 0;
    virtual int GetProductSeries(char* series) = 0;
    virtual int SetProductSeries(char* series) = 0;
    virtual int GetDeviceID(uint32_t* id) = 0;
    virtual int SetDeviceID(uint32_t id) = 0;
    virtual int GetDevicePortType(char* text) = 0;
    virtual int SetDevicePortType(char* text) = 0;
    virtual int GetDeviceMonoCfg(uint32_t* word) = 0;
    virtual int SetDeviceMonoCfg(uint32_t word) = 0;
    virtual int GetSensorType(SensorTypeE* type) = 0;
    // -4 where the layout derives the type instead of storing it.
    virtual int SetSensorType(SensorTypeE type) = 0;
    virtual int ReadDeviceProperty(CameraProperty* prop) = 0;
    virtual int WriteDeviceProperty(const CameraProperty* prop) = 0;
    virtual int GetUserDataSize() = 0;  // capacity of the user-data area in bytes
    // -6 when data is null, len is 0 or negative, or offset + len passes the capacity (tested
    // without wrapping, so no offset reaches outside the area).
    virtual int SaveUserData(uint32_t offset, uint8_t* data, int len) = 0;
    virtual int LoadUserData(uint32_t offset, uint8_t* data, int len) = 0;
    // -4 where the layout has no table; else -6 for null, 0 or fewer, or above 0x40000 bytes.
    virtual int SaveBadPixelTable(uint8_t* data, int len) = 0;
    virtual int LoadBadPixelTable(uint8_t* data, int len) = 0;
    // Flash classes: read both parameter blocks / write the blocks changed since the last
    // flush. 0 for the others. The flash classes add their block operations after these.
    virtual int LoadParam() = 0;
    virtual int Flush() = 0;

  protected:
    // Whether len bytes at offset lie inside an area of capacity bytes, with data not null and
    // len above 0. Compared without forming offset + len, which could wrap past the capacity.
    static bool RangeValid(uint32_t offset, const uint8_t* data, int len, uint32_t capacity) {
        return data != nullptr && len > 0 && offset <= capacity &&
               static_cast<uint32_t>(len) <= capacity - offset;
    }

    CJNDevice* m_pDevice;  // the owning device; not owned
};

// The storage factory behind CJNDevice::MakeEEPromInstance: picks the layout class by the
// device's type code (and, on GigE, the hardware version text read from the camera, null on
// USB), loads what the layout needs and returns a new object, or null when the device's storage
// cannot be recognised or read (the open then fails with CAMERA_STATUS_DEVICE_OPEN_FAILED).
CStorageData* CreateStorageData(CJNDevice* device, const char* hardwareVersion);
