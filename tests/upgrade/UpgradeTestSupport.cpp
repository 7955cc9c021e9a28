#include "UpgradeTestSupport.h"

#include <stdexcept>

namespace upgradetest {

FlashCamera::FlashCamera(qvsim::StorageLayout layout, uint16_t deviceId,
                         const char* hardwareVersion) {
    m_device.SetDeviceType(layout == qvsim::StorageLayout::kUsb3Flash ? 0x1301 : 0x2001);
    m_flash.Attach(m_device);
    qvsim::StoredFields f;
    f.serial[0] = "UPG0001";
    f.productName = "QV-UPG";
    f.sensorType = kSensorType;
    f.deviceId = uint32_t{deviceId} << 16;
    qvsim::SetPropertyWord(f.property, qvsim::kPropModelCode, kBoardCode);
    qvsim::SetPropertyWord(f.property, qvsim::kPropWrittenFlag, 1);
    qvsim::WriteStorageImage(m_flash.Bytes(), layout, f);
    CStorageData* storage = CreateStorageData(&m_device, hardwareVersion);
    if (storage == nullptr) throw std::runtime_error("no storage over the test flash");
    m_device.AdoptStorage(storage);
    tDevInfo info{};
    info.uDeviceId = deviceId;
    m_device.SetDeviceInfo(info);
    m_device.ClearCalls();
}

}  // namespace upgradetest
