// CEEPromData: the EEPROM of a USB 2.0 camera's controller, reached through the device's
// ReadEEProm and WriteEEProm (16-bit addresses). Both layouts start at the same base address and
// keep the same kinds of field, only at other places; each layout class hands its field offsets
// to this class, which implements every operation on them. Every call goes to the EEPROM at
// once, except the property record, which is kept after its first successful read.
#pragma once

#include <cstdint>

#include "CameraProperty.h"
#include "StorageData.h"

class CEEPromData : public CStorageData {
  public:
    static constexpr uint32_t kBaseAddress = 0x3800;
    // Transfers go in pieces of at most 512 bytes: the controller's EEPROM request carries no
    // more in one control transfer.
    static constexpr int kChunkSize = 512;
    static constexpr uint32_t kUserDataOffset = 1024;
    static constexpr int kUserDataSize = 0x4000;
    static constexpr uint32_t kFieldSize = 32;  // serial numbers and texts
    static constexpr uint32_t kNoField = UINT32_MAX;

    // Field offsets relative to the base address.
    struct Layout {
        uint32_t serial[3];
        uint32_t friendlyName;
        uint32_t productSeries;
        uint32_t productName;
        uint32_t portType;
        uint32_t monoCfg;
        uint32_t deviceId;
        uint32_t sensorType;  // kNoField: derived from the device ID word
        uint32_t property;
    };

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
    int ReadDeviceProperty(CameraProperty* prop) override;
    int WriteDeviceProperty(const CameraProperty* prop) override;
    int GetUserDataSize() override;
    int SaveUserData(uint32_t offset, uint8_t* data, int len) override;
    int LoadUserData(uint32_t offset, uint8_t* data, int len) override;
    int SaveBadPixelTable(uint8_t* data, int len) override;  // -4: no table in EEPROM
    int LoadBadPixelTable(uint8_t* data, int len) override;  // -4
    int LoadParam() override;                                // 0
    int Flush() override;                                    // 0

  protected:
    CEEPromData(CJNDevice* device, uint32_t baseAddress, const Layout& layout);

    // Chunked transfers at base + offset: -6 for a length of 0 or less or a range that leaves
    // the 16-bit address space; else the first error of the device, or 0.
    int ReadBytes(uint32_t offset, uint8_t* data, int len);
    int WriteBytes(uint32_t offset, const uint8_t* data, int len);
    int ReadWord(uint32_t offset, uint32_t* word);
    int WriteWord(uint32_t offset, uint32_t word);

    const uint32_t m_baseAddress;
    const Layout m_layout;

  private:
    int ReadText(uint32_t offset, char* text);
    int WriteText(uint32_t offset, const char* text);

    CameraProperty m_property{};  // the cached record, valid once read or written
    bool m_propertyValid = false;
};
