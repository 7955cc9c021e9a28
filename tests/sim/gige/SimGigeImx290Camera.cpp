#include "SimGigeImx290Camera.h"

#include <cstddef>
#include <cstring>
#include <vector>

#include "QVDeviceDef.h"
#include "StorageImage.h"
#include "control/CameraSettings.h"

void CSimGigeImx290Camera::FactorySettings(uint8_t (&block)[240]) {
    std::memset(block, 0, sizeof block);
    auto word = [&](size_t field, uint32_t v) {
        for (int i = 0; i < 4; ++i) block[field + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    const double exposure = 10000.0;  // 10 ms, in microseconds
    uint64_t bits;
    std::memcpy(&bits, &exposure, sizeof bits);
    word(offsetof(CameraSettings, exposureTime), static_cast<uint32_t>(bits));
    word(offsetof(CameraSettings, exposureTime) + 4, static_cast<uint32_t>(bits >> 32));
    word(offsetof(CameraSettings, analogGain), 1000);
    word(offsetof(CameraSettings, lightFrequency), 1);
    for (int c = 0; c < 3; ++c) word(offsetof(CameraSettings, rgbGain) + 4 * c, 100);
    word(offsetof(CameraSettings, ispOutFormat), CAMERA_MEDIA_TYPE_MONO8);
    word(offsetof(CameraSettings, frameSpeed), 2);
    word(offsetof(CameraSettings, saturation), 128);
    word(offsetof(CameraSettings, contrast), 50);
    word(offsetof(CameraSettings, gamma), 100);
    word(offsetof(CameraSettings, contrastLut), 100);
    word(offsetof(CameraSettings, aeTarget), 120);
}

namespace {

qvsim::StorageLayout LayoutOf(const std::string& hardwareVersion) {
    if (hardwareVersion == "v4.0") return qvsim::StorageLayout::kGigeFlash4MEF;
    if (hardwareVersion == "v3.0") return qvsim::StorageLayout::kGigeFlash4M;
    return qvsim::StorageLayout::kGigeFlash;
}

}  // namespace

qvsim::CSimGigeCamera::Config CSimGigeImx290Camera::MakeConfig(const SimGigeImx290Options& o) {
    qvsim::CSimGigeCamera::Config c;
    qvsim::SimGigeIdentity& id = c.firmware.identity;
    id.ip = o.ip;
    id.mask = o.mask;
    id.gateway = o.gateway;
    id.mac[5] = o.macLast;
    id.serial = o.serial;
    id.userName = o.userName.empty() ? o.serial : o.userName;
    id.model = kProductName;
    id.sensorType = kSensorImx290Mono;
    c.firmware.hardwareVersion = o.hardwareVersion;
    c.firmware.gvcpCapability = o.gvcpCapability;
    c.firmware.streamCapability = o.streamCapability;
    c.gvcpPort = o.gvcpPort;
    c.netnsFd = o.netnsFd;
    c.testPacketLimit = o.testPacketLimit;
    c.stream = o.stream;
    c.onAddressChange = o.onAddressChange;
    return c;
}

void CSimGigeImx290Camera::StoreIdentity(qvsim::CSimGigeFirmware& firmware,
                                         const SimGigeImx290Options& o) {
    qvsim::StoredFields f;
    f.serial[0] = o.serial;
    f.friendlyName = o.serial;
    f.productName = kProductName;
    f.productSeries = "QV-G2";
    f.sensorType = kSensorImx290Mono;
    qvsim::SetPropertyWord(f.property, qvsim::kPropModelCode, o.modelCode);
    qvsim::SetPropertyWord(f.property, qvsim::kPropWrittenFlag, 1);
    qvsim::SetPropertyWord(f.property, qvsim::kPropMonoSensor, 1);
    qvsim::SetPropertyWord(f.property, qvsim::kPropOutputFormatCount, 1);
    qvsim::SetPropertyWord(f.property, qvsim::kPropOutputFormatMask, 1);
    uint8_t block[240];
    FactorySettings(block);
    std::memcpy(f.property.data() + qvsim::kPropDefaultSettings, block, sizeof block);
    std::vector<uint8_t> flash = firmware.FlashBytes(0, 4u << 20);
    qvsim::WriteStorageImage(flash, LayoutOf(o.hardwareVersion), f);
    firmware.WriteFlashBytes(0, flash);
}

CSimGigeImx290Camera::CSimGigeImx290Camera(const SimGigeImx290Options& options)
    : m_options(options) {
    m_camera = std::make_unique<qvsim::CSimGigeCamera>(MakeConfig(options));
    StoreIdentity(m_camera->Firmware(), options);
}
