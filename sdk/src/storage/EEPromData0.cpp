#include "EEPromData0.h"

namespace {
constexpr CEEPromData::Layout kLayout0{
    .serial = {0, 32, 64},
    .friendlyName = 96,
    .productSeries = 128,
    .productName = 160,
    .portType = 988,
    .monoCfg = 984,
    .deviceId = 1020,
    .sensorType = CEEPromData::kNoField,
    .property = 192,
};
static_assert(kLayout0.property + sizeof(CameraProperty) == 904);
static_assert(kLayout0.deviceId + 4 == CEEPromData::kUserDataOffset);
}  // namespace

CEEPromData0::CEEPromData0(CJNDevice* device, uint32_t baseAddress)
    : CEEPromData(device, baseAddress, kLayout0) {}

int CEEPromData0::Format() {
    return CAMERA_STATUS_SUCCESS;
}

int CEEPromData0::GetSensorType(SensorTypeE* type) {
    if (type == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    uint32_t id = 0;
    if (ReadWord(m_layout.deviceId, &id) != CAMERA_STATUS_SUCCESS) return CAMERA_STATUS_FAILED;
    *type = static_cast<SensorTypeE>(id & 0xFFFF);
    return CAMERA_STATUS_SUCCESS;
}

int CEEPromData0::SetSensorType(SensorTypeE type) {
    (void)type;
    return CAMERA_STATUS_NOT_SUPPORTED;
}
