#include "FakeStorage.h"

#include <cstring>

namespace qvsim {

namespace {
int GetText(char* out, const char (&field)[32]) {
    if (out == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    std::memset(out, 0, 32);
    std::memcpy(out, field, 31);
    return CAMERA_STATUS_SUCCESS;
}
int SetText(char (&field)[32], const char* in) {
    if (in == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    std::memset(field, 0, sizeof field);
    std::memcpy(field, in, std::min<size_t>(std::strlen(in) + 1, sizeof field));
    return CAMERA_STATUS_SUCCESS;
}
}  // namespace

CFakeStorage::CFakeStorage(CJNDevice* device) : CStorageData(device) {}

void CFakeStorage::SetResult(const std::string& op, int result) {
    std::lock_guard lock(m_mutex);
    m_results[op] = result;
}

std::vector<std::string> CFakeStorage::CallNames() {
    std::lock_guard lock(m_mutex);
    return m_calls;
}

int CFakeStorage::Rec(const char* op) {
    std::lock_guard lock(m_mutex);
    m_calls.emplace_back(op);
    auto it = m_results.find(op);
    return it == m_results.end() ? 0 : it->second;
}

#define FAKE_STORAGE_RESULT(op) \
    if (const int r = Rec(op); r != CAMERA_STATUS_SUCCESS) return r

int CFakeStorage::Format() {
    return Rec("Format");
}

int CFakeStorage::WriteSN(uint8_t* in, INT level) {
    FAKE_STORAGE_RESULT("WriteSN");
    if (in == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    if (level < 0 || level > 2) return CAMERA_STATUS_PARAMETER_INVALID;
    std::memcpy(sn[level], in, 32);
    return CAMERA_STATUS_SUCCESS;
}
int CFakeStorage::ReadSN(uint8_t* out, INT level) {
    FAKE_STORAGE_RESULT("ReadSN");
    if (out == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    if (level < 0 || level > 2) return CAMERA_STATUS_PARAMETER_INVALID;
    std::memcpy(out, sn[level], 32);
    return CAMERA_STATUS_SUCCESS;
}
int CFakeStorage::GetFriendlyName(char* name) {
    FAKE_STORAGE_RESULT("GetFriendlyName");
    return GetText(name, friendlyName);
}
int CFakeStorage::SetFriendlyName(char* name) {
    FAKE_STORAGE_RESULT("SetFriendlyName");
    return SetText(friendlyName, name);
}
int CFakeStorage::GetProductName(char* name) {
    FAKE_STORAGE_RESULT("GetProductName");
    return GetText(name, productName);
}
int CFakeStorage::SetProductName(char* name) {
    FAKE_STORAGE_RESULT("SetProductName");
    return SetText(productName, name);
}
int CFakeStorage::GetProductSeries(char* series) {
    FAKE_STORAGE_RESULT("GetProductSeries");
    return GetText(series, productSeries);
}
int CFakeStorage::SetProductSeries(char* series) {
    FAKE_STORAGE_RESULT("SetProductSeries");
    return SetText(productSeries, series);
}
int CFakeStorage::GetDeviceID(uint32_t* id) {
    FAKE_STORAGE_RESULT("GetDeviceID");
    if (id == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    *id = deviceId;
    return CAMERA_STATUS_SUCCESS;
}
int CFakeStorage::SetDeviceID(uint32_t id) {
    FAKE_STORAGE_RESULT("SetDeviceID");
    deviceId = id;
    return CAMERA_STATUS_SUCCESS;
}
int CFakeStorage::GetDevicePortType(char* text) {
    FAKE_STORAGE_RESULT("GetDevicePortType");
    return GetText(text, portType);
}
int CFakeStorage::SetDevicePortType(char* text) {
    FAKE_STORAGE_RESULT("SetDevicePortType");
    return SetText(portType, text);
}
int CFakeStorage::GetDeviceMonoCfg(uint32_t* word) {
    FAKE_STORAGE_RESULT("GetDeviceMonoCfg");
    if (word == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    *word = monoCfg;
    return CAMERA_STATUS_SUCCESS;
}
int CFakeStorage::SetDeviceMonoCfg(uint32_t word) {
    FAKE_STORAGE_RESULT("SetDeviceMonoCfg");
    monoCfg = word;
    return CAMERA_STATUS_SUCCESS;
}
int CFakeStorage::GetSensorType(SensorTypeE* type) {
    FAKE_STORAGE_RESULT("GetSensorType");
    if (type == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    *type = sensorType;
    return CAMERA_STATUS_SUCCESS;
}
int CFakeStorage::SetSensorType(SensorTypeE type) {
    FAKE_STORAGE_RESULT("SetSensorType");
    sensorType = type;
    return CAMERA_STATUS_SUCCESS;
}
int CFakeStorage::ReadDeviceProperty(CameraProperty* prop) {
    FAKE_STORAGE_RESULT("ReadDeviceProperty");
    if (prop == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    *prop = property;
    return CAMERA_STATUS_SUCCESS;
}
int CFakeStorage::WriteDeviceProperty(const CameraProperty* prop) {
    FAKE_STORAGE_RESULT("WriteDeviceProperty");
    if (prop == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    property = *prop;
    return CAMERA_STATUS_SUCCESS;
}
int CFakeStorage::GetUserDataSize() {
    Rec("GetUserDataSize");
    return static_cast<int>(userData.size());
}
int CFakeStorage::SaveUserData(uint32_t offset, uint8_t* data, int len) {
    FAKE_STORAGE_RESULT("SaveUserData");
    if (data == nullptr || len <= 0 || offset + static_cast<uint64_t>(len) > userData.size())
        return CAMERA_STATUS_PARAMETER_INVALID;
    std::memcpy(userData.data() + offset, data, static_cast<size_t>(len));
    return CAMERA_STATUS_SUCCESS;
}
int CFakeStorage::LoadUserData(uint32_t offset, uint8_t* data, int len) {
    FAKE_STORAGE_RESULT("LoadUserData");
    if (data == nullptr || len <= 0 || offset + static_cast<uint64_t>(len) > userData.size())
        return CAMERA_STATUS_PARAMETER_INVALID;
    std::memcpy(data, userData.data() + offset, static_cast<size_t>(len));
    return CAMERA_STATUS_SUCCESS;
}
int CFakeStorage::SaveBadPixelTable(uint8_t* data, int len) {
    (void)data, (void)len;
    FAKE_STORAGE_RESULT("SaveBadPixelTable");
    return CAMERA_STATUS_NOT_SUPPORTED;
}
int CFakeStorage::LoadBadPixelTable(uint8_t* data, int len) {
    (void)data, (void)len;
    FAKE_STORAGE_RESULT("LoadBadPixelTable");
    return CAMERA_STATUS_NOT_SUPPORTED;
}
int CFakeStorage::LoadParam() {
    return Rec("LoadParam");
}
int CFakeStorage::Flush() {
    return Rec("Flush");
}

}  // namespace qvsim
