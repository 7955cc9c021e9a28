// The storage factory: one layout class per camera generation, picked by the device type code
// and, on GigE, by the hardware version text the camera reports.
#include <cstring>
#include <memory>

#include "common/ByteOrder.h"
#include "EEPromData0.h"
#include "EEPromData1.h"
#include "GigeFlash4MData.h"
#include "GigeFlash4MDataEF.h"
#include "GigeFlashData.h"
#include "device/JNDevice.h"
#include "common/Log.h"
#include "StorageData.h"
#include "common/TextCopy.h"

namespace {

constexpr uint16_t kDeviceTypeUsb2 = 0x1201;
constexpr uint16_t kDeviceTypeUsb3 = 0x1301;
constexpr uint16_t kDeviceTypeGige = 0x2001;
constexpr size_t kHardwareVersionSize = 32;

// A flash object is kept only when both parameter blocks are present: block A must have been
// read intact, block B is replaced by defaults when damaged.
CStorageData* KeepIfLoaded(std::unique_ptr<CFlashData> flash) {
    if (flash->LoadParam() != CAMERA_STATUS_SUCCESS || !flash->BlocksValid()) return nullptr;
    return flash.release();
}

CStorageData* CreateUsb2Storage(CJNDevice* device) {
    uint8_t magic[4];
    if (device->ReadEEProm(static_cast<uint16_t>(CEEPromData::kBaseAddress), magic, sizeof magic) !=
        CAMERA_STATUS_SUCCESS)
        return nullptr;
    if (qv::LoadLe32(magic) == CEEPromData1::kMagic)
        return new CEEPromData1(device, CEEPromData::kBaseAddress);
    return new CEEPromData0(device, CEEPromData::kBaseAddress);
}

CStorageData* CreateGigeStorage(CJNDevice* device, const char* hardwareVersion) {
    // The text comes from the camera's memory and need not be terminated.
    char text[kHardwareVersionSize + 1];
    qv::CopyText(text, hardwareVersion);
    qv::Log("read hardware version %s\n", text);
    // Five bytes with the terminator: "v4.0x" is none of the named versions.
    if (std::memcmp(text, "v4.0", 5) == 0)
        return KeepIfLoaded(std::make_unique<CGigeFlash4MDataEF>(device));
    if (std::memcmp(text, "v3.0", 5) == 0)
        return KeepIfLoaded(std::make_unique<CGigeFlash4MData>(device));
    return KeepIfLoaded(std::make_unique<CGigeFlashData>(device));
}

}  // namespace

CStorageData* CreateStorageData(CJNDevice* device, const char* hardwareVersion) {
    if (device == nullptr) return nullptr;
    uint16_t type = 0;
    if (device->GetDeviceType(&type) != CAMERA_STATUS_SUCCESS) return nullptr;
    switch (type) {
        case kDeviceTypeUsb3:
            return KeepIfLoaded(std::make_unique<CFlashData>(device));
        case kDeviceTypeUsb2:
            return CreateUsb2Storage(device);
        case kDeviceTypeGige:
            return CreateGigeStorage(device, hardwareVersion);
        default:
            return nullptr;
    }
}
