// CFakeStorage: a storage object over plain fields, for tests of the device base and of its
// users that need no EEPROM or flash layout. Every operation answers SetResult(name, code)
// (0 by default) before touching the fields; calls are recorded by name.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "storage/CameraProperty.h"
#include "storage/StorageData.h"

namespace qvsim {

class CFakeStorage : public CStorageData {
  public:
    explicit CFakeStorage(CJNDevice* device = nullptr);

    void SetResult(const std::string& op, int result);
    std::vector<std::string> CallNames();

    // The stored values (tests set them before use).
    char sn[3][32] = {};
    char friendlyName[32] = {};
    char productName[32] = {};
    char productSeries[32] = {};
    char portType[32] = {};
    uint32_t deviceId = 0;
    uint32_t monoCfg = 0;
    SensorTypeE sensorType = SENSOR_TYPE_UNKNOWN;
    CameraProperty property{};
    std::vector<uint8_t> userData = std::vector<uint8_t>(0x4000);

    int Format() override;
    int WriteSN(uint8_t* sn, INT level) override;
    int ReadSN(uint8_t* sn, INT level) override;
    int GetFriendlyName(char* name) override;
    int SetFriendlyName(char* name) override;
    int GetProductName(char* name) override;
    int SetProductName(char* name) override;
    int GetProductSeries(char* series) override;
    int SetProductSeries(char* series) override;
    int GetDeviceID(uint32_t* id) override;
    int SetDeviceID(uint32_t id) override;
    int GetDevicePortType(char* text) override;
    int SetDevicePortType(char* text) override;
    int GetDeviceMonoCfg(uint32_t* word) override;
    int SetDeviceMonoCfg(uint32_t word) override;
    int GetSensorType(SensorTypeE* type) override;
    int SetSensorType(SensorTypeE type) override;
    int ReadDeviceProperty(CameraProperty* prop) override;
    int WriteDeviceProperty(const CameraProperty* prop) override;
    int GetUserDataSize() override;
    int SaveUserData(uint32_t offset, uint8_t* data, int len) override;
    int LoadUserData(uint32_t offset, uint8_t* data, int len) override;
    int SaveBadPixelTable(uint8_t* data, int len) override;
    int LoadBadPixelTable(uint8_t* data, int len) override;
    int LoadParam() override;
    int Flush() override;

  private:
    int Rec(const char* op);

    std::mutex m_mutex;  // guards the results and the call names
    std::map<std::string, int> m_results;
    std::vector<std::string> m_calls;
};

}  // namespace qvsim
