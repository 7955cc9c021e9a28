// CGigeCamera: flash and EEPROM, reboot, IP configuration with FORCEIP, stream settings, image
// transfer, vendor value and action, transfer test, integer settings and upgrade.
#include <arpa/inet.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <vector>

#include "common/ByteOrder.h"
#include "common/Log.h"
#include "common/TextCopy.h"
#include "gige/GVSPReceiver.h"
#include "gige/GigeCamera.h"
#include "gige/GigeNetcard.h"
#include "gige/SocketException.h"
#include "gige/SocketGroup.h"
#include "upgrade/UpgradeGigeCamera.h"
#include "upgrade/UpgradeGigeCameraFlash4M.h"
#include "upgrade/UpgradeGigeCameraFlash4MEF.h"

namespace gige = qv::gige;

namespace {

constexpr int kTimeoutMs = 100;
constexpr int kTries = 3;
constexpr int kFlashEraseTimeoutMs = 1000;
constexpr int kFlashWriteTimeoutMs = 1000;
constexpr int kFlashReadTimeoutMs = 500;
constexpr int kForceIpTimeoutMs = 300;
constexpr int kForceIpTries = 3;
constexpr uint16_t kRegInput = 128;
constexpr uint32_t kPersistentIp = 1;

enum IntSetting : int {
    kIntOutputCount = 8,
    kIntFrameCount = 9,
    kIntVendorValue = 10,
    kIntInputLow = 11,
    kIntTriggerSignal = 12,
    kIntTransferTest = 10000,
};

}  // namespace

// ---- Storage ---------------------------------------------------------------------------------

int CGigeCamera::WriteEEProm(uint16_t address, uint8_t* data, uint16_t len) {
    (void)address, (void)data, (void)len;
    return CAMERA_STATUS_NOT_SUPPORTED;
}

int CGigeCamera::ReadEEProm(uint16_t address, uint8_t* data, uint16_t len) {
    (void)address, (void)data, (void)len;
    return CAMERA_STATUS_NOT_SUPPORTED;
}

int CGigeCamera::EraseFlashSector(uint32_t address, uint8_t option) {
    uint8_t payload[8];
    qv::StoreBe32(payload, address);
    qv::StoreBe32(payload + 4, option);
    return Vendor(gige::kVendorFlashErase, payload, sizeof payload, nullptr, nullptr,
                  kFlashEraseTimeoutMs, kTries);
}

int CGigeCamera::ReadFlash(uint32_t address, uint16_t len, uint8_t* data) {
    if (len == 0) return CAMERA_STATUS_SUCCESS;
    if (data == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    for (uint32_t done = 0; done < len;) {
        const uint32_t n = std::min<uint32_t>(len - done, gige::kMaxFlashReadPiece);
        uint8_t payload[8];
        qv::StoreBe32(payload, address + done);
        qv::StoreBe32(payload + 4, n);
        size_t got = n;
        const int r = Vendor(gige::kVendorFlashRead, payload, sizeof payload, data + done, &got,
                             kFlashReadTimeoutMs, kTries);
        if (r != CAMERA_STATUS_SUCCESS) return r;
        // Fewer bytes would never finish, more were not copied: either is no answer to trust.
        if (got != n) return CAMERA_STATUS_COMM_ERROR;
        done += n;
    }
    return CAMERA_STATUS_SUCCESS;
}

int CGigeCamera::WriteFlash(uint32_t address, uint16_t len, uint8_t* data) {
    if (len != 0 && data == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    std::vector<uint8_t> payload;
    for (uint32_t done = 0; done < len;) {
        const uint32_t n = std::min<uint32_t>(len - done, gige::kMaxFlashWritePiece);
        payload.assign(8 + n, 0);
        qv::StoreBe32(payload.data(), address + done);
        qv::StoreBe32(payload.data() + 4, n);
        std::memcpy(payload.data() + 8, data + done, n);
        const int r = Vendor(gige::kVendorFlashWrite, payload.data(), payload.size(), nullptr,
                             nullptr, kFlashWriteTimeoutMs, kTries);
        if (r != CAMERA_STATUS_SUCCESS) return r;
        done += n;
    }
    return CAMERA_STATUS_SUCCESS;
}

int CGigeCamera::Reboot() {
    return Vendor(gige::kVendorReboot, nullptr, 0, nullptr, nullptr, kTimeoutMs, kTries);
}

// ---- IP configuration ------------------------------------------------------------------------

int CGigeCamera::GetIpConfig(tGigeIpConfig* config) {
    if (config == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    std::memset(config, 0, sizeof *config);
    std::string netcard;
    {
        std::lock_guard lock(m_infoMutex);
        const DISCOVERY_ACK_DATA& a = m_discoveryAck;
        config->uPersistent = qv::LoadBe32(a.ipConfigCurrent) == kPersistentIp ? 1 : 0;
        uint32_t ip, mask, gw;
        std::memcpy(&ip, a.currentIp, 4);
        std::memcpy(&mask, a.subnetMask, 4);
        std::memcpy(&gw, a.defaultGateway, 4);
        qv::CopyText(config->acIp, gige::IpText(ip).c_str());
        qv::CopyText(config->acMask, gige::IpText(mask).c_str());
        qv::CopyText(config->acGateway, gige::IpText(gw).c_str());
        std::memcpy(config->abMac, a.macHigh, 2);
        std::memcpy(config->abMac + 2, a.macLow, 4);
        netcard = m_netcardName;
    }
    qv::CopyText(config->acAdapterName, netcard.c_str());
    const gige::NetcardAddress host = gige::GetNetcardAddress(netcard);
    qv::CopyText(config->acAdapterIp, gige::IpText(host.ip).c_str());
    qv::CopyText(config->acAdapterMask, gige::IpText(host.mask).c_str());
    qv::CopyText(config->acAdapterGateway, gige::IpText(host.gateway).c_str());
    return CAMERA_STATUS_SUCCESS;
}

int CGigeCamera::SetIpConfig(tGigeIpConfig* config) {
    if (config == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    char ip[sizeof config->acIp + 1], mask[sizeof config->acMask + 1],
        gw[sizeof config->acGateway + 1];
    qv::CopyText(ip, config->acIp);
    qv::CopyText(mask, config->acMask);
    qv::CopyText(gw, config->acGateway);
    // Commands follow the record's address, also after a temporary FORCEIP: that one sends
    // zeros, and the camera's own address shows only in its next discovery answer. An address
    // no command can go to (0.0.0.0, or a text that is none) leaves the control address as it
    // was: 0.0.0.0 would send them to this host.
    const uint32_t address = inet_addr(ip);
    const bool usable = address != INADDR_ANY && address != INADDR_NONE;
    return ForceIpAndFollow(config->uPersistent != 0, address, inet_addr(mask), inet_addr(gw),
                            usable ? std::optional<uint32_t>(address) : std::nullopt);
}

int CGigeCamera::ForceIp(bool persistent, uint32_t ip, uint32_t mask, uint32_t gateway) {
    return ForceIpAndFollow(persistent, ip, mask, gateway, std::nullopt);
}

int CGigeCamera::ForceIpAndFollow(bool persistent, uint32_t ip, uint32_t mask, uint32_t gateway,
                                  std::optional<uint32_t> follow) {
    if (!persistent) ip = mask = gateway = 0;
    const gige::NetcardAddress host = gige::GetNetcardAddress(GetNetcardName());
    LQComponent::UDP sender;
    // A camera moved to another subnet answers by broadcast, which only a socket bound to
    // 0.0.0.0 receives: listen there too, on the same port, as discovery does.
    LQComponent::UDP listener;
    std::lock_guard lock(m_infoMutex);
    int result = CAMERA_STATUS_FAILED;
    try {
        sender.open();
        sender.set_reuseaddr(1);
        sender.bind(host.ip, 0);
        sender.set_broadcast(1);
        listener.open();
        listener.set_reuseaddr(1);
        listener.bind(static_cast<uint32_t>(INADDR_ANY), sender.get_port());
        LQComponent::SocketGroup group;
        group.add(sender);
        group.add(listener);

        uint8_t command[gige::kForceIpCommandSize];
        gige::BuildForceIpCommand(command, m_discoveryAck, ip, mask, gateway);
        uint8_t answer[gige::kForceIpCommandSize];
        uint32_t got = 0;
        for (int i = 0; i < kForceIpTries && got == 0; ++i) {
            sender.send("255.255.255.255", gige::GvcpPort(), command, sizeof command);
            std::memset(answer, 0, sizeof answer);
            got = sizeof answer;
            LQComponent::Address from;
            if (group.receive_timeout(kForceIpTimeoutMs, from, answer, &got, nullptr) == 0) got = 0;
        }
        gige::AckHeader ack{};
        if (got == gige::kHeaderSize && gige::DecodeAckHeader(answer, got, &ack) &&
            ack.status == 0 && ack.ackId == 1 && ack.ackCode == gige::kForceIpAck) {
            qv::StoreBe32(m_discoveryAck.ipConfigCurrent, persistent ? kPersistentIp : 0);
            std::memcpy(m_discoveryAck.currentIp, &ip, 4);
            std::memcpy(m_discoveryAck.subnetMask, &mask, 4);
            std::memcpy(m_discoveryAck.defaultGateway, &gateway, 4);
            if (follow) {
                uint8_t address[4];
                std::memcpy(address, &*follow, sizeof address);
                SetPeerIp(address);
            }
            m_forcedAt = std::chrono::steady_clock::now();
            result = CAMERA_STATUS_SUCCESS;
        }
    } catch (const LQComponent::SocketException& e) {
        qv::Log("GigE force ip failed: %s\r\n", e.what());
        result = CAMERA_STATUS_COMM_ERROR;
    }
    sender.close();
    listener.close();
    return result;
}

// ---- Stream settings -------------------------------------------------------------------------

int CGigeCamera::SetPacketDelay(uint32_t delay) {
    return WriteReg(gige::kRegStreamPacketDelay, delay);
}

int CGigeCamera::SetResend(uint8_t enable, int percent, int timeoutMs, int retries) {
    std::lock_guard lock(m_receiverMutex);
    if (m_gvspReceiver != nullptr)
        m_gvspReceiver->SetResendParam(enable != 0, percent, timeoutMs, retries);
    return CAMERA_STATUS_SUCCESS;
}

int CGigeCamera::GetOptimalPacketSize(int* size) {
    if (size == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    std::lock_guard lock(m_receiverMutex);
    *size = static_cast<int>(m_packetSize);
    return CAMERA_STATUS_SUCCESS;
}

bool CGigeCamera::IsResendSupported() {
    return (m_gvcpCapability.load() & gige::kCapabilityPacketResend) != 0;
}

// ---- Transfers and vendor commands -----------------------------------------------------------

int CGigeCamera::RequestTransferImage() {
    return Vendor(gige::kVendorTransferImage, nullptr, 0, nullptr, nullptr, kTimeoutMs, kTries);
}

int CGigeCamera::RequestTransferImageEx(int value) {
    const auto byte = static_cast<uint8_t>(value);
    return Vendor(gige::kVendorTransferImage, &byte, 1, nullptr, nullptr, kTimeoutMs, kTries);
}

int CGigeCamera::SetVendorValue(uint32_t value) {
    uint8_t payload[4];
    qv::StoreBe32(payload, value);
    return Vendor(gige::kVendorSetValue, payload, sizeof payload, nullptr, nullptr, kTimeoutMs,
                  kTries);
}

int CGigeCamera::TriggerVendorAction() {
    return Vendor(gige::kVendorAction, nullptr, 0, nullptr, nullptr, kTimeoutMs, kTries);
}

int CGigeCamera::RunTransferTest(int count) {
    if (Vendor(gige::kVendorTransferTestStart, nullptr, 0, nullptr, nullptr, kTimeoutMs, 1) != 0)
        return CAMERA_STATUS_COMM_ERROR;
    std::vector<uint8_t> block(gige::kTransferTestBlockSize, gige::kTransferTestFill);
    for (int i = 0; i < count; ++i)
        if (Vendor(gige::kVendorTransferTestBlock, block.data(), block.size(), nullptr, nullptr,
                   kTimeoutMs, 1) != 0)
            return CAMERA_STATUS_COMM_ERROR;
    uint8_t answer[4];
    size_t len = sizeof answer;
    if (Vendor(gige::kVendorTransferTestCount, nullptr, 0, answer, &len, kTimeoutMs, 1) != 0 ||
        len != sizeof answer || qv::LoadBe32(answer) != static_cast<uint32_t>(count))
        return CAMERA_STATUS_COMM_ERROR;
    return CAMERA_STATUS_SUCCESS;
}

// ---- Integer settings ------------------------------------------------------------------------

int CGigeCamera::SetIntValue(int id, int value) {
    switch (id) {
        case kIntFrameCount:
            return SetStreamBufferCount(value);
        case kIntVendorValue:
            return SetVendorValue(static_cast<uint32_t>(value));
        case kIntTriggerSignal: {
            uint16_t mode = 0, source = 0, flag = 0, enable = 0;
            const int r = GetTriggerControl(&mode, &source, &flag, &enable);
            if (r != CAMERA_STATUS_SUCCESS) return r;
            if (value != 0) return SetTriggerControl(mode, m_triggerSignalCode, flag, enable);
            const int w = SetTriggerControl(mode, 1, flag, enable);
            m_triggerSignalCode = source;
            return w;
        }
        case kIntTransferTest:
            return RunTransferTest(value);
        default:
            return CAMERA_STATUS_NOT_SUPPORTED;
    }
}

int CGigeCamera::GetIntValue(int id, int* value) {
    if (value == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    switch (id) {
        case kIntOutputCount:
            *value = m_hardwareType == 204 ? 4 : 1;
            return CAMERA_STATUS_SUCCESS;
        case kIntFrameCount:
            return GetStreamBufferCount(value);
        case kIntInputLow: {
            if (m_hardwareType != 205) return CAMERA_STATUS_NOT_SUPPORTED;
            uint32_t word = 0;
            const int r = ReadFpgaReg(kRegInput, &word);
            if (r == CAMERA_STATUS_SUCCESS) *value = (word & 1) == 0 ? 1 : 0;
            return r;
        }
        case kIntTriggerSignal: {
            uint16_t source = 0;
            const int r = GetTriggerControl(nullptr, &source, nullptr, nullptr);
            if (r == CAMERA_STATUS_SUCCESS) *value = source < 5 ? 1 : 0;
            return r;
        }
        default:
            return CAMERA_STATUS_NOT_SUPPORTED;
    }
}

// ---- Upgrade ---------------------------------------------------------------------------------

int CGigeCamera::Upgrade(const char* path, UpgradeProgress progress, void* context) {
    switch (m_hardwareType) {
        case 203:
        case 204: {
            CUpgradeGigeCameraFlash4M upgrade(this);
            return upgrade.Upgrade(path, progress, context);
        }
        case 205: {
            CUpgradeGigeCameraFlash4MEF upgrade(this);
            return upgrade.Upgrade(path, progress, context);
        }
        default: {
            CUpgradeGigeCamera upgrade(this);
            return upgrade.Upgrade(path, progress, context);
        }
    }
}
