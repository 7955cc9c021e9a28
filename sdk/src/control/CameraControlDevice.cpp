// What the controller reads from and writes to the camera itself: serial numbers, user data,
// the friendly name, version texts, firmware upgrade and the integer values; and the fixed
// answers of the settings pages.
//
// None of these takes a controller lock (but the channel mask, which reopens the stream): they
// hold the device mutex, under which the camera records and the integer values they share with
// the stream operations change.
#include <cstdio>
#include <cstring>

#include "common/TextCopy.h"
#include "control/CameraControl.h"

namespace {

constexpr size_t kTextBytes = 32;  // the text fields the exports fill

// Whether [offset, offset + length) lies inside an area of capacity bytes, without the sum
// wrapping around.
bool InsideArea(uint32_t offset, uint32_t length, uint32_t capacity) {
    return offset <= capacity && length <= capacity - offset;
}

}  // namespace

int CameraControl::CameraWriteSN(BYTE* sn, int level) {
    if (sn == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return DevWriteSN(sn, level);
}

int CameraControl::CameraReadSN(BYTE* sn, int level) {
    if (sn == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    if (level == 0) {
        const DeviceHold hold = HoldDevice();
        static_assert(sizeof m_devInfo.acSn == kTextBytes);
        std::memcpy(sn, m_devInfo.acSn, kTextBytes);
        return CAMERA_STATUS_SUCCESS;
    }
    return DevReadSN(sn, level);
}

uint32_t CameraControl::UserDataCapacity() {
    const DeviceHold hold = HoldDevice();
    return m_capability.uUserDataSize;
}

int CameraControl::CameraSaveUserData(uint32_t offset, BYTE* data, uint32_t length) {
    const uint32_t capacity = UserDataCapacity();
    if (capacity == 0) return CAMERA_STATUS_NOT_SUPPORTED;
    if (data == nullptr || !InsideArea(offset, length, capacity))
        return CAMERA_STATUS_PARAMETER_INVALID;
    if (length == 0) return CAMERA_STATUS_SUCCESS;
    return DevSaveUserData(offset, data, static_cast<int>(length));
}

int CameraControl::CameraLoadUserData(uint32_t offset, BYTE* data, uint32_t length) {
    const uint32_t capacity = UserDataCapacity();
    if (capacity == 0) return CAMERA_STATUS_NOT_SUPPORTED;
    if (data == nullptr || !InsideArea(offset, length, capacity))
        return CAMERA_STATUS_PARAMETER_INVALID;
    if (length == 0) return CAMERA_STATUS_SUCCESS;
    return DevLoadUserData(offset, data, static_cast<int>(length));
}

int CameraControl::CameraGetFriendlyName(char* name) {
    if (!m_initialized) return CAMERA_STATUS_NOT_INITIALIZED;
    if (name == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    const DeviceHold hold = HoldDevice();
    qv::CopyText(name, kTextBytes, m_devInfo.acFriendlyName);
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSetFriendlyName(const char* name) {
    if (name == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    // The camera's field holds 31 characters and the terminator.
    char text[kTextBytes];
    qv::CopyText(text, name);
    const DeviceHold hold = HoldDevice();
    const int r = DevSetFriendlyName(text);
    if (r == CAMERA_STATUS_SUCCESS) qv::CopyText(m_devInfo.acFriendlyName, text);
    return r;
}

int CameraControl::CameraCheckFwUpdate(uint8_t* needUpdate) {
    if (needUpdate != nullptr) *needUpdate = 0;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetFirmwareVision(char* version) {
    if (version == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    const DeviceHold hold = HoldDevice();
    // The device's field need not be terminated (a full "v255.255.255.255" fills it).
    const size_t n = strnlen(m_miscInfo.firmwareVersion, sizeof m_miscInfo.firmwareVersion);
    std::memset(version, 0, kTextBytes);
    std::memcpy(version, m_miscInfo.firmwareVersion, n);
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetDeviceType(int* type) {
    if (type == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    const DeviceHold hold = HoldDevice();
    *type = static_cast<int>(m_devInfo.uDeviceId);
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetInerfaceVersion(char* version) {
    if (version == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    const DeviceHold hold = HoldDevice();
    // Property bytes 188 to 191: four 4-bit version fields in the low 16 bits.
    const uint32_t word = m_property.hostWord;
    std::snprintf(version, kTextBytes, "V%d.%d.%d.%d", static_cast<int>(word >> 12 & 0xF),
                  static_cast<int>(word >> 8 & 0xF), static_cast<int>(word >> 4 & 0xF),
                  static_cast<int>(word & 0xF));
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraUpgrade(const char* path, CameraUpgradeProgressCallback progress,
                                 void* context) {
    if (path == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Upgrade(path, progress, context);
}

int CameraControl::CameraSetIntValue(int id, int value) {
    if (id == 0) {
        // The channel mask reaches the sensor only through a stream open.
        if (value == 0) return CAMERA_STATUS_PARAMETER_INVALID;
        ApiLock lock(m_apiMutex);
        CloseCameraStream();
        {
            const DeviceHold hold = HoldDevice();  // a save copies the record under it
            ChannelMask() = value;
        }
        return ReopenCameraStream(true);
    }
    const DeviceHold hold = HoldDevice();
    switch (id) {
        case 1:
        case 3: {
            const int r = SetIntValue(id, value);
            if (r == CAMERA_STATUS_SUCCESS) (id == 1 ? m_intValue1 : m_intValue3) = value;
            return r;
        }
        case 2: {
            const int r = SetWdrMode(value);
            if (r == CAMERA_STATUS_SUCCESS)
                m_param.intValueB = static_cast<int32_t>(static_cast<uint8_t>(value));
            return r;
        }
        case 13: {
            if (value != 0) SetIntValue(14, 0);
            const int r = SetIntValue(13, value);
            if (r == CAMERA_STATUS_SUCCESS) IntValue13Flag() = value != 0 ? 1 : 0;
            return r;
        }
        case 15:
            IntValue15() = value;
            return SetIntValue(15, value);
        default:
            return SetIntValue(id, value);
    }
}

int CameraControl::CameraGetIntValue(int id, int* value) {
    if (value == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    if (id == 0) {
        ApiLock lock(m_apiMutex);
        *value = ChannelMask();
        return CAMERA_STATUS_SUCCESS;
    }
    const DeviceHold hold = HoldDevice();
    switch (id) {
        case 1:
            *value = m_intValue1;
            return CAMERA_STATUS_SUCCESS;
        case 2:
            *value = WdrMode();
            return CAMERA_STATUS_SUCCESS;
        case 3:
            *value = m_intValue3;
            return CAMERA_STATUS_SUCCESS;
        case 15: {
            const int r = GetIntValue(15, value);
            if (r != CAMERA_STATUS_SUCCESS) *value = IntValue15();
            return r;
        }
        default:
            return GetIntValue(id, value);
    }
}

int CameraControl::CameraShowSettingPage(int) {
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSetActivePage(uintptr_t pages, int index) {
    const DeviceHold hold = HoldDevice();
    m_settingPage = pages;
    m_activePageIndex = index;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraCreateSettingPageEx() {
    const DeviceHold hold = HoldDevice();
    m_settingPage = 0;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraCustomizeReferWin() {
    return CAMERA_STATUS_FAILED;
}
