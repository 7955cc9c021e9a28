#include "EEPromData1.h"

namespace {
constexpr uint32_t kMagicOffset = 0;
constexpr uint32_t kVersionOffset = 4;
constexpr CEEPromData::Layout kLayout1{
    .serial = {8, 40, 72},
    .friendlyName = 104,
    .productSeries = 136,
    .productName = 168,
    .portType = 200,
    .monoCfg = 232,
    .deviceId = 236,
    .sensorType = 240,
    .property = 248,
};
static_assert(kLayout1.property + sizeof(CameraProperty) == 960);
}  // namespace

CEEPromData1::CEEPromData1(CJNDevice* device, uint32_t baseAddress)
    : CEEPromData(device, baseAddress, kLayout1) {}

int CEEPromData1::Format() {
    const int magic = WriteWord(kMagicOffset, kMagic);
    const int version = WriteWord(kVersionOffset, kVersion);
    return magic != CAMERA_STATUS_SUCCESS ? magic : version;
}

int CEEPromData1::GetSensorType(SensorTypeE* type) {
    if (type == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    uint32_t word = 0;
    const int r = ReadWord(m_layout.sensorType, &word);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    *type = static_cast<SensorTypeE>(static_cast<int32_t>(word));
    return CAMERA_STATUS_SUCCESS;
}

int CEEPromData1::SetSensorType(SensorTypeE type) {
    return WriteWord(m_layout.sensorType, static_cast<uint32_t>(type));
}
