// CGigeCamera: identity and device information, all from the latest discovery answer.
#include <cstdio>
#include <cstring>

#include "common/ByteOrder.h"
#include "common/Log.h"
#include "common/TextCopy.h"
#include "gige/GigeCamera.h"
#include "sensors/SensorInf.h"

namespace {

constexpr uint16_t kDeviceTypeGige = 0x2001;
constexpr const char* kAccessDescription = "QV GiGEVison camera";
constexpr const char* kLinkTexts[] = {"unlink",         "GigE 10M Full",  "GigE 10M Half",
                                      "GigE 100M Full", "GigE 100M Half", "GigE 1000M Full",
                                      "GigE 1000M Half"};

// A text field of the answer, bounded by its width (it need not be terminated).
template <size_t N>
void CopyField(char* dst, size_t room, const char (&field)[N]) {
    std::memset(dst, 0, room);
    std::memcpy(dst, field, std::min(strnlen(field, N), room - 1));
}

template <size_t N>
bool SameField(const char (&a)[N], const char (&b)[N]) {
    return strncmp(a, b, N) == 0;
}

}  // namespace

bool CGigeCamera::MatchDiscoveryAck(const DISCOVERY_ACK_DATA& ack) {
    std::lock_guard lock(m_infoMutex);
    return SameField(ack.serialNumber, m_discoveryAck.serialNumber) &&
           SameField(ack.manufacturerName, m_discoveryAck.manufacturerName);
}

void CGigeCamera::UpdateDiscoveryAck(const DISCOVERY_ACK_DATA& ack,
                                     std::chrono::steady_clock::time_point askedAt) {
    std::lock_guard lock(m_infoMutex);
    if (askedAt < m_forcedAt) return;
    m_discoveryAck = ack;
    SetPeerIp(ack.currentIp);
}

CGigeCamera::DISCOVERY_ACK_DATA CGigeCamera::GetDiscoveryAck() {
    std::lock_guard lock(m_infoMutex);
    return m_discoveryAck;
}

std::string CGigeCamera::GetNetcardName() {
    std::lock_guard lock(m_infoMutex);
    return m_netcardName;
}

int CGigeCamera::GetDeviceType(uint16_t* type) {
    if (type == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    *type = kDeviceTypeGige;
    return CAMERA_STATUS_SUCCESS;
}

int CGigeCamera::GetFirmwareVersion(uint16_t* version) {
    if (version == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    char text[sizeof m_discoveryAck.deviceVersion + 1];
    {
        std::lock_guard lock(m_infoMutex);
        CopyField(text, sizeof text, m_discoveryAck.deviceVersion);
    }
    unsigned a = 1, b = 0, c = 0, d = 0;
    std::sscanf(text, "v%u.%u.%u.%u", &a, &b, &c, &d);
    *version = static_cast<uint16_t>((a & 15) << 12 | (b & 15) << 8 | (c & 15) << 4 | (d & 15));
    return CAMERA_STATUS_SUCCESS;
}

bool CGigeCamera::IsInUse() {
    std::lock_guard lock(m_infoMutex);
    return (m_discoveryAck.accessBits & 0x03) != 0;
}

int CGigeCamera::GetAccessStatus(DevAccessStatus* status) {
    if (status == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    std::memset(status, 0, sizeof *status);
    status->openCount = m_openRef.load();
    status->accessWord = 0;
    status->inUse = IsInUse() ? 1 : 0;
    qv::CopyText(status->description, kAccessDescription);
    return CAMERA_STATUS_SUCCESS;
}

int CGigeCamera::GetDeviceInfo(tDevInfo* info, DeviceMiscInfo* misc) {
    QV_ASSERT(info != nullptr);
    std::memset(info, 0, offsetof(tDevInfo, uInUse));
    DISCOVERY_ACK_DATA ack;
    {
        std::lock_guard lock(m_infoMutex);
        ack = m_discoveryAck;
    }
    CopyField(info->acProductSeries, sizeof info->acProductSeries, ack.productSeries);
    CopyField(info->acProductName, sizeof info->acProductName, ack.modelName);
    CopyField(info->acFriendlyName, sizeof info->acFriendlyName, ack.userDefinedName);
    if (ack.runState == 0) {
        const size_t used = std::strlen(info->acFriendlyName);
        std::snprintf(info->acFriendlyName + used, sizeof info->acFriendlyName - used, "(boot)");
    }
    qv::CopyText(info->acDriverName, "GigE Vision");
    std::snprintf(info->acDriverVersion, sizeof info->acDriverVersion, "v%hu.%hu",
                  qv::LoadBe16(ack.specVersionMajor), qv::LoadBe16(ack.specVersionMinor));
    SensorInfo sensor{};
    const auto sensorType = static_cast<SensorTypeE>(qv::LoadBe32(ack.sensorType));
    if (SensorInf::GetSensorInfo(sensorType, &sensor) == CAMERA_STATUS_SUCCESS)
        CopyField(info->acSensorName, sizeof info->acSensorName, sensor.kind);
    qv::CopyText(info->acPortType, kLinkTexts[ack.linkState <= 6 ? ack.linkState : 0]);
    // The reserved word as it lies in memory.
    uint16_t reserved;
    std::memcpy(&reserved, ack.reserved8, sizeof reserved);
    info->iAccess = reserved;
    CopyField(info->acSn, sizeof info->acSn, ack.serialNumber);
    info->uDeviceType = qv::LoadBe16(ack.firmwareWord1);
    info->uFirmwareVersion = qv::LoadBe16(ack.firmwareWord2);
    info->uDeviceId = qv::LoadBe16(ack.deviceId);
    const uint8_t* ip = ack.currentIp;
    const uint8_t* mask = ack.subnetMask;
    const uint8_t* gw = ack.defaultGateway;
    std::snprintf(info->acSymbolicName, sizeof info->acSymbolicName,
                  "%u.%u.%u.%u:%u.%u.%u.%u:%u.%u.%u.%u", ip[0], ip[1], ip[2], ip[3], mask[0],
                  mask[1], mask[2], mask[3], gw[0], gw[1], gw[2], gw[3]);
    if (misc != nullptr) {
        *misc = m_miscInfo;
        char version[32];
        std::snprintf(version, sizeof version, "v%hu.%hu.%hu.%hu",
                      static_cast<unsigned short>(ack.firmwareWord1[0]),
                      static_cast<unsigned short>(ack.firmwareWord1[1]),
                      static_cast<unsigned short>(ack.firmwareWord2[0]),
                      static_cast<unsigned short>(ack.firmwareWord2[1]));
        qv::CopyText(misc->firmwareVersion, version);
        misc->defaultFrameSpeed = 2;
    }
    return CAMERA_STATUS_SUCCESS;
}
