#include "upgrade/UpgradeU2Camera.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "common/ByteOrder.h"
#include "common/Log.h"
#include "upgrade/LatticeBin.h"
#include "upgrade/UpgradeClock.h"
#include "usb/UsbCamera.h"

namespace {

constexpr uint8_t kRequestI2c = 0xD4;
constexpr uint8_t kRequestConfigPort = 0xE3;
constexpr uint8_t kI2cReadOk = 8;
constexpr uint16_t kIndexStop = 1;
constexpr uint16_t kIndexNoStop = 0;
constexpr uint16_t kPortOpen = 160;
constexpr uint16_t kPortClose = 161;
constexpr uint16_t kPortInstruction = 162;
constexpr uint16_t kPortData = 163;
constexpr uint16_t kPortCheck = 164;

// MachXO2 status register, as its four bytes arrive: the third byte carries done (0x01),
// busy (0x10) and fail (0x20); read as a little-endian word they are bits 16, 20 and 21.
constexpr uint8_t kMachXO2Busy = 0x10;
constexpr uint8_t kMachXO2Fail = 0x20;
constexpr int kMachXO2Polls = 10000;
constexpr uint32_t kMachXO2Programmed = 0x10000;  // done, neither busy nor failed
constexpr uint32_t kMachXO2ProgrammedMask = 0x310000;
constexpr uint32_t kMachXO2Running = 0x10000;  // done, and out of configuration mode
constexpr uint32_t kMachXO2RunningMask = 0x3F0000;
constexpr size_t kMachXO2Row = 16;

constexpr uint32_t kGw1nDone = 1u << 13;
constexpr uint8_t kGw1nFlags = 5;
constexpr uint8_t kGw1nAddressFlags = 200;
constexpr uint8_t kGw1nPageFlags = 26;
constexpr int kGw1nDonePolls = 20;

void Sleep(unsigned us) {
    UpgradeClock::Get().SleepUs(us);
}

}  // namespace

CUpgradeU2Camera::CUpgradeU2Camera(CUsbCamera* device) : CUpgrade(device), m_pUsbCamera(device) {}

int CUpgradeU2Camera::Upgrade(const char* path, ProgressCallback progress, void* context) {
    return RunUpgrade(path, progress, context);
}

CUpgrade::ElementKind CUpgradeU2Camera::KindOf(uint32_t type) const {
    switch (type) {
        case 1:
            return ElementKind::kBytes;
        case 3:
        case 4:
            return ElementKind::kPercent;
        default:
            return ElementKind::kUnknown;
    }
}

int CUpgradeU2Camera::CheckElement(uint32_t type, uint32_t length, const BYTE* data) {
    switch (type) {
        case 1:
            return FitsRegion(type, 0, kEepromImageSize, length) ? CAMERA_STATUS_SUCCESS
                                                                 : CAMERA_STATUS_FAILED;
        case 3: {
            const CLatticeBin jedec(reinterpret_cast<const char*>(data), static_cast<int>(length));
            if (!jedec.IsParsed()) {
                qv::Log("upgrade element type %u is no MachXO2 JEDEC file\n", type);
                return CAMERA_STATUS_FAILED;
            }
            if (!jedec.HasAllConfigRows()) {
                qv::Log("upgrade element type %u holds %u of the %u configuration rows of a %s\n",
                        type, jedec.ConfigSectionRows(), jedec.ConfigRowsNeeded(),
                        CLatticeBin::kDevices[jedec.DeviceCode()].name);
                return CAMERA_STATUS_FAILED;
            }
            // UFM rows past the part's UFM would be sent to addresses the part does not have.
            const CLatticeBin::Device& device = CLatticeBin::kDevices[jedec.DeviceCode()];
            const auto ufmRows = static_cast<uint32_t>(jedec.UfmBytes() / CLatticeBin::kRowBytes);
            if (ufmRows > device.ufmRows) {
                qv::Log("upgrade element type %u holds %u UFM rows, more than the %u of a %s\n",
                        type, ufmRows, device.ufmRows, device.name);
                return CAMERA_STATUS_FAILED;
            }
            return CAMERA_STATUS_SUCCESS;
        }
        case 4:
            return CAMERA_STATUS_SUCCESS;
        default:
            return CAMERA_STATUS_FAILED;
    }
}

int CUpgradeU2Camera::WriteElement(uint32_t type, uint32_t length, BYTE* data,
                                   const ElementProgress& progress) {
    switch (type) {
        case 1:
            return WriteEEPromImage(length, data, progress);
        case 3:
            return ProgramMachXO2(length, data, progress);
        case 4:
            return WriteGw1nFlash(length, data, progress);
        default:
            return CAMERA_STATUS_FAILED;
    }
}

// ---- Requests -----------------------------------------------------------------------------

int CUpgradeU2Camera::BusWrite(const uint8_t* data, uint16_t n) {
    return m_pUsbCamera->Ioctl(kRequestI2c, kFpgaBusAddress, kIndexStop, 0, nullptr, n,
                               const_cast<uint8_t*>(data)) == 0
               ? CAMERA_STATUS_SUCCESS
               : CAMERA_STATUS_IO_ERROR;
}

int CUpgradeU2Camera::BusWriteNoStop(const uint8_t* data, uint16_t n) {
    return m_pUsbCamera->Ioctl(kRequestI2c, kFpgaBusAddress, kIndexNoStop, 0, nullptr, n,
                               const_cast<uint8_t*>(data)) == 0
               ? CAMERA_STATUS_SUCCESS
               : CAMERA_STATUS_IO_ERROR;
}

int CUpgradeU2Camera::BusRead(uint8_t* data, uint16_t n) {
    std::vector<uint8_t> reply(n + 1u, 0);
    if (m_pUsbCamera->Ioctl(kRequestI2c, kFpgaBusAddress, kIndexStop, static_cast<uint16_t>(n + 1),
                            reply.data(), 0, nullptr) != 0 ||
        reply[0] != kI2cReadOk)
        return CAMERA_STATUS_IO_ERROR;
    std::memcpy(data, reply.data() + 1, n);
    return CAMERA_STATUS_SUCCESS;
}

namespace {

// A configuration-port request whose one reply byte is its status, 0 when done.
int PortStatusRequest(CUsbCamera* camera, uint16_t value, uint16_t index) {
    uint8_t status = 0xFF;
    return camera->Ioctl(kRequestConfigPort, value, index, 1, &status, 0, nullptr) == 0 &&
                   status == 0
               ? CAMERA_STATUS_SUCCESS
               : CAMERA_STATUS_IO_ERROR;
}

}  // namespace

int CUpgradeU2Camera::CfgPortOpen() {
    return PortStatusRequest(m_pUsbCamera, 0, kPortOpen);
}

int CUpgradeU2Camera::CfgPortClose() {
    return PortStatusRequest(m_pUsbCamera, 0, kPortClose);
}

int CUpgradeU2Camera::CfgInstruction(uint8_t instruction, uint8_t flags) {
    return PortStatusRequest(m_pUsbCamera, static_cast<uint16_t>(flags << 8 | instruction),
                             kPortInstruction);
}

int CUpgradeU2Camera::CfgReadData(uint8_t* data, uint8_t n) {
    return m_pUsbCamera->Ioctl(kRequestConfigPort, static_cast<uint16_t>(n << 8), kPortData, n,
                               data, 0, nullptr) == 0
               ? CAMERA_STATUS_SUCCESS
               : CAMERA_STATUS_IO_ERROR;
}

int CUpgradeU2Camera::CfgWriteData(uint8_t flags, const uint8_t* data, uint16_t n) {
    return m_pUsbCamera->Ioctl(kRequestConfigPort, static_cast<uint16_t>(flags << 8), kPortData, 0,
                               nullptr, n, const_cast<uint8_t*>(data)) == 0
               ? CAMERA_STATUS_SUCCESS
               : CAMERA_STATUS_IO_ERROR;
}

int CUpgradeU2Camera::CfgPortCheck() {
    return PortStatusRequest(m_pUsbCamera, 0, kPortCheck);
}

// ---- EEPROM ---------------------------------------------------------------------------------

int CUpgradeU2Camera::WriteEEPromImage(uint32_t length, const BYTE* data,
                                       const ElementProgress& progress) {
    for (uint32_t done = 0; done < length;) {
        const auto n = static_cast<uint16_t>(std::min<uint32_t>(kEepromPiece, length - done));
        if (m_pDevice->WriteEEProm(static_cast<uint16_t>(done), const_cast<BYTE*>(data + done),
                                   n) != CAMERA_STATUS_SUCCESS)
            return CAMERA_STATUS_FAILED;
        done += n;
        if (progress) progress(n);
    }
    return CAMERA_STATUS_SUCCESS;
}

// ---- MachXO2 over I2C -----------------------------------------------------------------------

int CUpgradeU2Camera::Transfer(const uint8_t* out, uint16_t outLength, uint8_t* in,
                               uint16_t inLength) {
    if (inLength == 0) return BusWrite(out, outLength);
    const int r = BusWriteNoStop(out, outLength);
    return r != CAMERA_STATUS_SUCCESS ? r : BusRead(in, inLength);
}

int CUpgradeU2Camera::ReadMachXO2Status(uint32_t* status) {
    static constexpr uint8_t kReadStatus[] = {0x3C, 0x00, 0x00, 0x00};
    uint8_t s[4];
    const int r = Transfer(kReadStatus, sizeof kReadStatus, s, sizeof s);
    if (r == CAMERA_STATUS_SUCCESS) *status = qv::LoadLe32(s);
    return r;
}

int CUpgradeU2Camera::WaitMachXO2() {
    for (int i = 0; i < kMachXO2Polls; ++i) {
        uint32_t status = 0;
        const int r = ReadMachXO2Status(&status);
        if (r != CAMERA_STATUS_SUCCESS) return r;
        const auto flags = static_cast<uint8_t>(status >> 16);
        if ((flags & kMachXO2Fail) != 0) return CAMERA_STATUS_FAILED;
        if ((flags & kMachXO2Busy) == 0) return CAMERA_STATUS_SUCCESS;
        Sleep(1000);
    }
    return CAMERA_STATUS_FAILED;
}

int CUpgradeU2Camera::FailMachXO2() {
    static constexpr uint8_t kDisable[] = {0x26, 0x00, 0x00};
    static constexpr uint8_t kBypass[] = {0xFF};
    Send(kDisable);
    Send(kBypass);
    return CAMERA_STATUS_FAILED;
}

int CUpgradeU2Camera::ProgramMachXO2(uint32_t length, const BYTE* data,
                                     const ElementProgress& progress) {
    const CLatticeBin jedec(reinterpret_cast<const char*>(data), static_cast<int>(length));
    // Nothing is erased for a text that cannot configure the whole part.
    if (!jedec.HasAllConfigRows()) return CAMERA_STATUS_FAILED;

    static constexpr uint8_t kEnable[] = {0x74, 0x08, 0x00};
    static constexpr uint8_t kReadFeatureRow[] = {0xE7, 0x00, 0x00, 0x00};
    static constexpr uint8_t kReadFeatureBits[] = {0xFB, 0x00, 0x00, 0x00};
    static constexpr uint8_t kErase[] = {0x0E, 0x0C, 0x00, 0x00};
    static constexpr uint8_t kConfigAddress[] = {0x46, 0x00, 0x00, 0x00};
    static constexpr uint8_t kUfmAddress[] = {0x47, 0x00, 0x00, 0x00};
    static constexpr uint8_t kProgramDone[] = {0x5E, 0x00, 0x00, 0x00};
    static constexpr uint8_t kAfterDone[] = {0xCE, 0x00, 0x00, 0x00};
    static constexpr uint8_t kDisable[] = {0x26, 0x00, 0x00};
    static constexpr uint8_t kEnableX[] = {0xC6, 0x08, 0x00};
    static constexpr uint8_t kRefresh[] = {0x79, 0x00, 0x00};

    // Progress: rows handled in the four passes (programming and verification of each row
    // count apart), so the last verified row reports 100.
    const uint64_t allBytes = 2ull * (jedec.ConfigBytes() + jedec.UfmBytes());
    uint64_t handled = 0;
    auto rowDone = [&] {
        handled += kMachXO2Row;
        if (progress) progress(static_cast<unsigned>(handled * 100 / allBytes));
    };

    uint8_t feature[CLatticeBin::kFeatureRowBytes + CLatticeBin::kFeatureBitsBytes];
    if (Send(kEnable) != CAMERA_STATUS_SUCCESS ||
        Transfer(kReadFeatureRow, sizeof kReadFeatureRow, feature, CLatticeBin::kFeatureRowBytes) !=
            CAMERA_STATUS_SUCCESS ||
        Transfer(kReadFeatureBits, sizeof kReadFeatureBits, feature + CLatticeBin::kFeatureRowBytes,
                 CLatticeBin::kFeatureBitsBytes) != CAMERA_STATUS_SUCCESS)
        return FailMachXO2();

    if (Send(kErase) != CAMERA_STATUS_SUCCESS) return FailMachXO2();
    Sleep(1000000);
    if (WaitMachXO2() != CAMERA_STATUS_SUCCESS) return FailMachXO2();

    // Programs the rows of one array, then reads each back.
    auto programArray = [&](const uint8_t(&address)[4], uint8_t programOp, uint8_t readOp,
                            const uint8_t* rows, uint32_t bytes) {
        if (Send(address) != CAMERA_STATUS_SUCCESS) return false;
        for (uint32_t at = 0; at < bytes; at += kMachXO2Row) {
            uint8_t command[4 + kMachXO2Row] = {programOp, 0x00, 0x00, 0x01};
            std::memcpy(command + 4, rows + at, kMachXO2Row);
            if (Send(command) != CAMERA_STATUS_SUCCESS) return false;
            Sleep(200);
            if (WaitMachXO2() != CAMERA_STATUS_SUCCESS) return false;
            rowDone();
        }
        if (Send(address) != CAMERA_STATUS_SUCCESS) return false;
        for (uint32_t at = 0; at < bytes; at += kMachXO2Row) {
            const uint8_t command[4] = {readOp, 0x00, 0x00, 0x01};
            uint8_t row[kMachXO2Row];
            if (Transfer(command, sizeof command, row, sizeof row) != CAMERA_STATUS_SUCCESS ||
                std::memcmp(row, rows + at, kMachXO2Row) != 0)
                return false;
            rowDone();
        }
        return true;
    };
    if (!programArray(kConfigAddress, 0x70, 0x73, jedec.ConfigData(), jedec.ConfigBytes()) ||
        !programArray(kUfmAddress, 0xC9, 0xCA, jedec.UfmData(), jedec.UfmBytes()))
        return FailMachXO2();

    if (Send(kProgramDone) != CAMERA_STATUS_SUCCESS) return FailMachXO2();
    Sleep(10000);
    if (Send(kAfterDone) != CAMERA_STATUS_SUCCESS) return FailMachXO2();
    Sleep(2000);
    uint32_t status = 0;
    if (ReadMachXO2Status(&status) != CAMERA_STATUS_SUCCESS ||
        (status & kMachXO2ProgrammedMask) != kMachXO2Programmed)
        return FailMachXO2();

    if (std::memcmp(feature, jedec.Features(), sizeof feature) != 0) {
        uint8_t featureRow[4 + CLatticeBin::kFeatureRowBytes] = {0xE4, 0x00, 0x00, 0x00};
        std::memcpy(featureRow + 4, jedec.Features(), CLatticeBin::kFeatureRowBytes);
        uint8_t featureBits[4 + CLatticeBin::kFeatureBitsBytes] = {0xF8, 0x00, 0x00, 0x00};
        std::memcpy(featureBits + 4, jedec.Features() + CLatticeBin::kFeatureRowBytes,
                    CLatticeBin::kFeatureBitsBytes);
        if (Send(kDisable) != CAMERA_STATUS_SUCCESS || Send(kEnableX) != CAMERA_STATUS_SUCCESS ||
            Send(featureRow) != CAMERA_STATUS_SUCCESS)
            return FailMachXO2();
        Sleep(200000);
        if (Send(featureBits) != CAMERA_STATUS_SUCCESS) return FailMachXO2();
        Sleep(200000);
        // The feature row decides how the part starts: a failure here is a failed upgrade.
        return WaitMachXO2() == CAMERA_STATUS_SUCCESS ? CAMERA_STATUS_SUCCESS : FailMachXO2();
    }
    if (Send(kDisable) != CAMERA_STATUS_SUCCESS || Send(kRefresh) != CAMERA_STATUS_SUCCESS)
        return FailMachXO2();
    Sleep(10000);
    if (ReadMachXO2Status(&status) != CAMERA_STATUS_SUCCESS ||
        (status & kMachXO2RunningMask) != kMachXO2Running)
        return FailMachXO2();
    return CAMERA_STATUS_SUCCESS;
}

// ---- GW1N through the configuration port ----------------------------------------------------

int CUpgradeU2Camera::Gw1nInstructions(std::initializer_list<uint8_t> instructions, uint8_t flags) {
    for (uint8_t i : instructions) {
        const int r = CfgInstruction(i, flags);
        if (r != CAMERA_STATUS_SUCCESS) return r;
    }
    return CAMERA_STATUS_SUCCESS;
}

int CUpgradeU2Camera::ReadGw1nStatus(uint32_t* status) {
    uint8_t word[4];
    int r = CfgInstruction(0x41, kGw1nFlags);
    if (r == CAMERA_STATUS_SUCCESS) r = CfgReadData(word, sizeof word);
    if (r == CAMERA_STATUS_SUCCESS) *status = qv::LoadLe32(word);
    return r;
}

int CUpgradeU2Camera::EraseGw1n() {
    uint32_t status = 0;
    if (ReadGw1nStatus(&status) != CAMERA_STATUS_SUCCESS) return CAMERA_STATUS_IO_ERROR;
    if ((status & kGw1nDone) != 0) {
        // A configured part first leaves its running configuration.
        if (Gw1nInstructions({0x15, 0x05, 0x02}) != CAMERA_STATUS_SUCCESS)
            return CAMERA_STATUS_IO_ERROR;
        Sleep(10000);
        if (Gw1nInstructions({0x09, 0x02, 0x3A, 0x02}) != CAMERA_STATUS_SUCCESS)
            return CAMERA_STATUS_IO_ERROR;
    }
    if (Gw1nInstructions({0x15, 0x75}) != CAMERA_STATUS_SUCCESS ||
        CfgPortCheck() != CAMERA_STATUS_SUCCESS ||
        Gw1nInstructions({0x3A, 0x02, 0x3C, 0x02}) != CAMERA_STATUS_SUCCESS)
        return CAMERA_STATUS_IO_ERROR;
    Sleep(500000);
    // An erased flash gives the part nothing to start from.
    if (ReadGw1nStatus(&status) != CAMERA_STATUS_SUCCESS || (status & kGw1nDone) != 0)
        return CAMERA_STATUS_IO_ERROR;
    return CAMERA_STATUS_SUCCESS;
}

int CUpgradeU2Camera::WriteGw1nFlash(uint32_t length, const BYTE* data,
                                     const ElementProgress& progress) {
    if (CfgPortOpen() != CAMERA_STATUS_SUCCESS) return CAMERA_STATUS_IO_ERROR;
    auto fail = [this] {
        CfgPortClose();
        return CAMERA_STATUS_IO_ERROR;
    };
    if (EraseGw1n() != CAMERA_STATUS_SUCCESS) return fail();
    if (CfgInstruction(0x15, kGw1nFlags) != CAMERA_STATUS_SUCCESS) return fail();

    // Data word k holds element bytes 4k to 4k + 3, the part's byte order the reverse of the
    // file's; the last word is filled up with 0xFF when the length is no multiple of 4.
    const uint32_t words = (length + 3) / 4;
    auto dataWord = [&](uint32_t k) {
        uint8_t b[4] = {0xFF, 0xFF, 0xFF, 0xFF};
        std::memcpy(b, data + 4 * k, std::min<uint32_t>(4, length - 4 * k));
        return qv::LoadBe32(b);
    };
    uint32_t sent = 0;
    for (uint32_t address = 0; sent < words; address += kGw1nPageWords) {
        Sleep(1000);
        uint8_t addressBytes[4];
        qv::StoreLe32(addressBytes, address);
        if (CfgInstruction(0x15, 8) != CAMERA_STATUS_SUCCESS ||
            CfgInstruction(0x71, kGw1nAddressFlags) != CAMERA_STATUS_SUCCESS ||
            CfgWriteData(kGw1nAddressFlags, addressBytes, sizeof addressBytes) !=
                CAMERA_STATUS_SUCCESS)
            return fail();
        uint8_t page[4 * kGw1nPageWords];
        for (int w = 0; w < kGw1nPageWords; ++w) {
            uint32_t value = 0xFFFFFFFF;
            if (address == 0 && w == 0)
                value = kGw1nHeaderWord;
            else if (sent < words)
                value = dataWord(sent++);
            qv::StoreLe32(page + 4 * w, value);
        }
        if (CfgWriteData(kGw1nPageFlags, page, sizeof page) != CAMERA_STATUS_SUCCESS) return fail();
        if (progress) progress(static_cast<unsigned>(uint64_t{sent} * 100 / words));
    }

    if (Gw1nInstructions({0x3A, 0x02}) != CAMERA_STATUS_SUCCESS) return fail();
    Sleep(100000);
    if (Gw1nInstructions({0x3C, 0x02}) != CAMERA_STATUS_SUCCESS) return fail();
    for (int i = 0; i < kGw1nDonePolls; ++i) {
        Sleep(100000);
        uint32_t status = 0;
        if (ReadGw1nStatus(&status) != CAMERA_STATUS_SUCCESS) return fail();
        if ((status & kGw1nDone) != 0) {
            CfgPortClose();
            return CAMERA_STATUS_SUCCESS;
        }
    }
    return fail();
}
