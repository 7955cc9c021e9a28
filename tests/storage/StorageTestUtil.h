// Shared pieces of the storage tests: sample field values and conversions between the property
// record and its stored bytes.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "FakeDevice.h"
#include "LogCapture.h"
#include "MemEeprom.h"
#include "NorFlash.h"
#include "StorageImage.h"
#include "storage/CameraProperty.h"
#include "storage/StorageData.h"

namespace storagetest {

constexpr uint16_t kUsb2 = 0x1201;
constexpr uint16_t kUsb3 = 0x1301;
constexpr uint16_t kGige = 0x2001;

// Distinct values in every field, so a field read from or written to a neighbour's place shows.
// Serial numbers stay under 16 characters so the GigE reads give them whole.
inline qvsim::StoredFields SampleFields(int variant = 0) {
    const std::string v = std::to_string(variant);
    qvsim::StoredFields f;
    f.serial[0] = "SN0-" + v + "-A1B2C3";
    f.serial[1] = "SN1-" + v + "-D4E5";
    f.serial[2] = "SN2-" + v + "-F6";
    f.friendlyName = "Friendly " + v;
    f.productSeries = "Series " + v;
    f.productName = "Product " + v;
    f.portType = "USB3.0-" + v;
    f.monoCfg = 0x0A0B0C00u + static_cast<uint32_t>(variant);
    f.deviceId = 0x12340021u + (static_cast<uint32_t>(variant) << 16);
    f.sensorType = 17 + variant;
    for (size_t i = 0; i < f.property.size(); ++i)
        f.property[i] = static_cast<uint8_t>(i * 7 + 3 + variant);
    qvsim::SetPropertyWord(f.property, qvsim::kPropModelNumber, 4200);
    qvsim::SetPropertyWord(f.property, qvsim::kPropWrittenFlag, 1);
    qvsim::SetPropertyWord(f.property, qvsim::kPropModelCode, 0xAA220001);
    f.userData.resize(3000);
    for (size_t i = 0; i < f.userData.size(); ++i)
        f.userData[i] = static_cast<uint8_t>(i * 13 + variant);
    return f;
}

inline CameraProperty PropertyFrom(const qvsim::PropertyBytes& bytes) {
    CameraProperty prop;
    std::memcpy(&prop, bytes.data(), sizeof prop);
    return prop;
}

inline qvsim::PropertyBytes BytesOf(const CameraProperty& prop) {
    qvsim::PropertyBytes bytes;
    std::memcpy(bytes.data(), &prop, bytes.size());
    return bytes;
}

inline std::string Text(const char* buffer) {
    return std::string(buffer, strnlen(buffer, 32));
}

inline std::string Serial(const uint8_t* buffer, size_t limit = 32) {
    return std::string(reinterpret_cast<const char*>(buffer),
                       strnlen(reinterpret_cast<const char*>(buffer), limit));
}

// Every field of f read back through the storage object, the user data from offset 0; the
// sensor type as the layout gives it.
inline void ExpectStoredFields(CStorageData& s, const qvsim::StoredFields& f, uint32_t sensorType) {
    for (int level = 0; level < 3; ++level) {
        uint8_t sn[32];
        ASSERT_EQ(s.ReadSN(sn, level), 0);
        EXPECT_EQ(Serial(sn), f.serial[level]) << "level " << level;
    }
    char text[32];
    ASSERT_EQ(s.GetFriendlyName(text), 0);
    EXPECT_EQ(Text(text), f.friendlyName);
    ASSERT_EQ(s.GetProductSeries(text), 0);
    EXPECT_EQ(Text(text), f.productSeries);
    ASSERT_EQ(s.GetProductName(text), 0);
    EXPECT_EQ(Text(text), f.productName);
    ASSERT_EQ(s.GetDevicePortType(text), 0);
    EXPECT_EQ(Text(text), f.portType);
    uint32_t word = 0;
    ASSERT_EQ(s.GetDeviceID(&word), 0);
    EXPECT_EQ(word, f.deviceId);
    ASSERT_EQ(s.GetDeviceMonoCfg(&word), 0);
    EXPECT_EQ(word, f.monoCfg);
    SensorTypeE type{};
    ASSERT_EQ(s.GetSensorType(&type), 0);
    EXPECT_EQ(static_cast<uint32_t>(type), sensorType);
    CameraProperty prop;
    ASSERT_EQ(s.ReadDeviceProperty(&prop), 0);
    EXPECT_EQ(BytesOf(prop), f.property);
    std::vector<uint8_t> user(f.userData.size());
    ASSERT_EQ(s.LoadUserData(0, user.data(), static_cast<int>(user.size())), 0);
    EXPECT_EQ(user, f.userData);
}

// Every text, word and record operation refuses a null buffer with -6.
inline void ExpectNullBuffersRefused(CStorageData& storage) {
    CStorageData* s = &storage;
    EXPECT_EQ(s->GetFriendlyName(nullptr), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(s->SetFriendlyName(nullptr), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(s->GetProductName(nullptr), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(s->SetProductName(nullptr), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(s->GetProductSeries(nullptr), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(s->SetProductSeries(nullptr), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(s->GetDevicePortType(nullptr), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(s->SetDevicePortType(nullptr), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(s->GetDeviceID(nullptr), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(s->GetDeviceMonoCfg(nullptr), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(s->GetSensorType(nullptr), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(s->ReadDeviceProperty(nullptr), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(s->WriteDeviceProperty(nullptr), CAMERA_STATUS_PARAMETER_INVALID);
}

}  // namespace storagetest
