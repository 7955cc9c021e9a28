#include "usb/UsbFpgaConfig.h"

#include <algorithm>
#include <initializer_list>
#include <optional>

#include "common/ByteOrder.h"
#include "common/Log.h"
#include "QVDeviceDef.h"
#include "common/TimeUtil.h"
#include "usb/FpgaImages.h"

namespace qv::usb {

namespace {

constexpr bool In(int v, int lo, int hi) {
    return v >= lo && v <= hi;
}
constexpr bool OneOf(int v, std::initializer_list<int> set) {
    return std::find(set.begin(), set.end(), v) != set.end();
}

constexpr uint8_t kResetPin = 23;  // the FPGA reset of the self-configuring types
constexpr unsigned kResetPulseUs = 10000;
constexpr uint8_t kModeOutput = 0;
constexpr uint8_t kModeInput = 1;
constexpr uint16_t kSelfConfiguredVersion = 0x2201;

// Instruction-port codes of the type 108 FPGA.
constexpr uint8_t kJtagParameter = 5;
constexpr uint8_t kJtagReadId = 0x11;
constexpr uint8_t kJtagReadStatus = 0x41;
constexpr uint8_t kJtagConfigEnable = 0x15;
constexpr uint8_t kJtagEraseSram = 0x05;
constexpr uint8_t kJtagNoop = 0x02;
constexpr uint8_t kJtagEraseDone = 0x09;
constexpr uint8_t kJtagConfigDisable = 0x3A;
constexpr uint8_t kJtagInitAddress = 0x12;
constexpr uint8_t kJtagWriteSram = 0x17;
constexpr uint16_t kJtagFirstPiece = 1;
constexpr uint16_t kJtagLastPiece = 0x500;

// Flash commands (request 0xBC) around hardware type 7's flash image.
constexpr uint16_t kFlashBegin = 4;
constexpr uint16_t kFlashWriteEnable = 3;
constexpr uint16_t kFlashEnd = 5;
constexpr uint8_t kFlashBootSelectPin = 16;

// Accepted versions of the host-configured types, at most two; none (zeros): always configured
// again.
struct Versions {
    uint16_t first = 0;
    uint16_t second = 0;
};

Versions AcceptedVersions(int hw, int s) {
    switch (hw) {
        case 1:
        case 2:
        case 3:
            return {0x1207};
        case 4:
            return {0x1407};
        case 5:
            return {0x1504};
        case 6:
            return {0x1305};
        case 7:
            return {0x120A};
        case 100:
            if (In(s, 22, 23)) return {0x1301, 0x1306};
            if (In(s, 24, 35) || OneOf(s, {46, 47, 57, 58})) return {0x1305, 0x1306};
            return {0x1306};
        case 102:
            return {0x1302};
        case 103:
            return {0x1305};
        case 104:
            return {0x1301};
        case 105:
            return {0x1304};
        case 106:
            if (OneOf(s, {14, 19, 20, 37})) return {0x1300};
            if (In(s, 40, 41)) return {0x1303};
            if (In(s, 53, 56)) return {0x1301};
            return {};
        case 107:
            if (s == 38) return {0x1205};
            if (s == 39) return {0x1204};
            return {};
        case 110:
            if (OneOf(s, {3,  4,  8,  9,  17, 30, 31, 32, 33, 34, 35,
                          40, 41, 46, 47, 53, 54, 67, 68, 69, 71, 72}) ||
                In(s, 19, 23) || In(s, 57, 59))
                return {0x2300};
            return {};
        case 111:
            if (OneOf(s, {57, 59, 73})) return {0x2300};
            return {};
        default:
            return {};
    }
}

}  // namespace

CUsbFpgaConfig::CUsbFpgaConfig(VendorTransfer transfer, int hardwareType, PauseUs pause)
    : m_transfer(transfer), m_hardwareType(hardwareType), m_pause(pause ? pause : SleepUs) {}

bool CUsbFpgaConfig::IsSelfConfiguring(int hw) {
    return hw == 8 || hw == 9 || hw == 108 || In(hw, 300, 306);
}

bool CUsbFpgaConfig::IsVersionAccepted(int hw, int sensorType, uint16_t version) {
    const Versions accepted = AcceptedVersions(hw, sensorType);
    return version != 0 && (version == accepted.first || version == accepted.second);
}

CUsbFpgaConfig::Pins CUsbFpgaConfig::ConfigPins() const {
    if (OneOf(m_hardwareType, {100, 101, 107})) return {25, 23, 27};
    if (OneOf(m_hardwareType, {110, 111})) return {25, -1, 27};
    return {64, 67, 65};
}

uint8_t CUsbFpgaConfig::DoneProbePin() const {
    return OneOf(m_hardwareType, {100, 101, 106, 107, 110, 111}) ? 27 : 65;
}

int CUsbFpgaConfig::ReadPin(uint8_t pin, uint8_t* level) {
    return ReadGpio(m_transfer, pin, level);
}

int CUsbFpgaConfig::LoadFpga(int sensorType) {
    // A camera of unknown hardware type streams without any FPGA set-up.
    if (m_hardwareType == 0) return CAMERA_STATUS_SUCCESS;
    return IsSelfConfiguring(m_hardwareType) ? LoadSelfConfiguring(sensorType)
                                             : LoadHostConfigured(sensorType);
}

int CUsbFpgaConfig::LoadSelfConfiguring(int sensorType) {
    int r = SetGpioMode(m_transfer, kResetPin, kModeOutput);
    if (r == CAMERA_STATUS_SUCCESS) r = WriteGpio(m_transfer, kResetPin, 0);
    if (r == CAMERA_STATUS_SUCCESS) {
        m_pause(kResetPulseUs);
        r = WriteGpio(m_transfer, kResetPin, 1);
    }
    if (r != CAMERA_STATUS_SUCCESS) {
        qv::Log("fpga reset failed: %d\n", r);
        return r;
    }
    m_pause(kResetPulseUs);
    const bool d8 = m_hardwareType == 306 || m_hardwareType == 108;
    SendRequestD8(m_transfer, d8 ? 0xD8 : 0x82, 0x21);

    if (m_hardwareType == 108 && JtagStep(sensorType) != CAMERA_STATUS_SUCCESS)
        return CAMERA_STATUS_FPGA_ERROR;

    uint16_t version = 0;
    if (GetFpgaVersion(m_transfer, &version) != CAMERA_STATUS_SUCCESS)
        return CAMERA_STATUS_FPGA_ERROR;
    if (m_hardwareType == 108) return CAMERA_STATUS_SUCCESS;
    const uint16_t expected =
        FpgaDescriptorVersion(m_hardwareType).value_or(kSelfConfiguredVersion);
    if (version != expected) {
        qv::Log("fpga version 0x%04x, expected 0x%04x\n", version, expected);
        return CAMERA_STATUS_FPGA_ERROR;
    }
    return CAMERA_STATUS_SUCCESS;
}

int CUsbFpgaConfig::LoadHostConfigured(int sensorType) {
    const uint8_t probe = DoneProbePin();
    uint8_t done = 0;
    if (SetGpioMode(m_transfer, probe, kModeInput) != CAMERA_STATUS_SUCCESS ||
        ReadPin(probe, &done) != CAMERA_STATUS_SUCCESS)
        return CAMERA_STATUS_FPGA_ERROR;
    if (done) {
        if (m_hardwareType == 101) SetGpioMode(m_transfer, 23, kModeOutput);
        SendRequestD8(m_transfer, 0xD8, 0x21);
        uint16_t version = 0;
        if (GetFpgaVersion(m_transfer, &version) == CAMERA_STATUS_SUCCESS &&
            IsVersionAccepted(m_hardwareType, sensorType, version))
            return CAMERA_STATUS_SUCCESS;
    }

    // Everything the download needs is made ready before PROG erases the running image, so that
    // a missing or damaged image leaves the camera as it was.
    const std::optional<FpgaImageId> id = SelectProgImage(m_hardwareType, sensorType);
    if (!id) {
        qv::Log("no fpga image for hardware %d sensor %d\n", m_hardwareType, sensorType);
        return CAMERA_STATUS_FPGA_ERROR;
    }
    std::vector<uint8_t> image;
    if (InflateFpgaImage(*id, image) != CAMERA_STATUS_SUCCESS) return CAMERA_STATUS_FPGA_ERROR;
    if (m_hardwareType == 110 || m_hardwareType == 111)
        image.resize(image.size() + kTrailingZeros, 0);
    std::vector<uint8_t> flashImage;
    if (m_hardwareType == 7 &&
        InflateFpgaImage(kFlashImageType7, flashImage) != CAMERA_STATUS_SUCCESS)
        return CAMERA_STATUS_FPGA_ERROR;

    int r = FpgaConfigBegin();
    if (r == CAMERA_STATUS_SUCCESS) {
        r = FpgaConfigWrite(image.data(), image.size());
        image = {};
        if (r == CAMERA_STATUS_SUCCESS) r = FpgaConfigEnd();
    }
    if (r != CAMERA_STATUS_SUCCESS) {
        qv::Log("fpga configuration failed: %d\n", r);
        return CAMERA_STATUS_FPGA_ERROR;
    }
    if (m_hardwareType == 7) {
        r = WriteFlashImage(flashImage);
        if (r != CAMERA_STATUS_SUCCESS) return r;
    }
    SendRequestD8(m_transfer, 0xD8, 0x21);
    return CAMERA_STATUS_SUCCESS;
}

// Hardware type 7 boots its FPGA from flash: the second image goes there, then PROG is pulsed
// with the boot-select line low and DONE must be high a second later.
int CUsbFpgaConfig::WriteFlashImage(const std::vector<uint8_t>& image) {
    if (Execute(m_transfer, FlashCommand(kFlashBegin), nullptr) != CAMERA_STATUS_SUCCESS ||
        Execute(m_transfer, FlashCommand(kFlashWriteEnable), nullptr) != CAMERA_STATUS_SUCCESS) {
        qv::Log("fpga flash image: flash command failed\n");
        return CAMERA_STATUS_IO_ERROR;
    }
    for (size_t offset = 0; offset < image.size(); offset += kConfigChunkMax) {
        const size_t n = std::min(kConfigChunkMax, image.size() - offset);
        if (WriteFlash(m_transfer, static_cast<uint32_t>(offset), static_cast<uint16_t>(n),
                       image.data() + offset) != CAMERA_STATUS_SUCCESS) {
            qv::Log("fpga flash image: write at 0x%zx failed\n", offset);
            return CAMERA_STATUS_IO_ERROR;
        }
    }
    if (Execute(m_transfer, FlashCommand(kFlashEnd), nullptr) != CAMERA_STATUS_SUCCESS)
        return CAMERA_STATUS_IO_ERROR;

    const uint8_t modes[][2] = {
        {64, kModeOutput}, {65, kModeInput}, {67, kModeInput}, {kFlashBootSelectPin, kModeOutput}};
    for (const auto& m : modes) {
        const int r = SetGpioMode(m_transfer, m[0], m[1]);
        if (r != CAMERA_STATUS_SUCCESS) return r;
    }
    const uint8_t levels[][2] = {{kFlashBootSelectPin, 0}, {64, 0}, {64, 1}};
    for (const auto& l : levels) {
        const int r = WriteGpio(m_transfer, l[0], l[1]);
        if (r != CAMERA_STATUS_SUCCESS) return r;
    }
    int r = SetGpioMode(m_transfer, 64, kModeInput);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    m_pause(kFlashBootUs);
    uint8_t done = 0;
    if (SetGpioMode(m_transfer, 65, kModeInput) != CAMERA_STATUS_SUCCESS ||
        ReadPin(65, &done) != CAMERA_STATUS_SUCCESS || !done) {
        qv::Log("fpga did not boot from flash\n");
        return CAMERA_STATUS_FPGA_ERROR;
    }
    return CAMERA_STATUS_SUCCESS;
}

int CUsbFpgaConfig::FpgaConfigBegin() {
    const Pins pins = ConfigPins();
    auto mode = [&](uint8_t pin, uint8_t m) { return SetGpioMode(m_transfer, pin, m); };
    auto write = [&](uint8_t pin, uint8_t level) { return WriteGpio(m_transfer, pin, level); };
    int r = mode(pins.prog, kModeOutput);
    if (r == CAMERA_STATUS_SUCCESS) r = mode(pins.done, kModeInput);
    if (r == CAMERA_STATUS_SUCCESS && pins.init >= 0)
        r = mode(static_cast<uint8_t>(pins.init), kModeInput);
    if (r == CAMERA_STATUS_SUCCESS && m_hardwareType == 7) {
        // Boot-select high: the FPGA takes its image from the host, not from flash.
        r = mode(kFlashBootSelectPin, kModeOutput);
        if (r == CAMERA_STATUS_SUCCESS) r = write(kFlashBootSelectPin, 1);
    }
    if (r == CAMERA_STATUS_SUCCESS) r = write(pins.prog, 0);
    if (r == CAMERA_STATUS_SUCCESS && pins.init < 0) m_pause(100);  // PROG low for 100 us
    if (r == CAMERA_STATUS_SUCCESS) r = write(pins.prog, 1);
    if (r == CAMERA_STATUS_SUCCESS && pins.init < 0) m_pause(1000);  // no INIT: wait 1 ms
    if (r == CAMERA_STATUS_SUCCESS) r = mode(pins.prog, kModeInput);
    if (r != CAMERA_STATUS_SUCCESS) return r;

    if (pins.init >= 0) {
        bool ready = false;
        for (int i = 0; i < kInitReads && !ready; ++i) {
            uint8_t level = 0;
            r = ReadPin(static_cast<uint8_t>(pins.init), &level);
            if (r != CAMERA_STATUS_SUCCESS) return r;
            ready = level == 1;
        }
        if (!ready) {
            qv::Log("fpga INIT did not rise\n");
            return CAMERA_STATUS_FAILED;
        }
    }
    return ExecuteCommand(m_transfer, ConfigBegin());
}

int CUsbFpgaConfig::FpgaConfigEnd() {
    const Pins pins = ConfigPins();
    for (int pass = 0; pass < kDonePasses; ++pass) {
        uint8_t init = 0;
        if (pins.init >= 0) {
            const int r = ReadPin(static_cast<uint8_t>(pins.init), &init);
            if (r != CAMERA_STATUS_SUCCESS) return r;
        }
        uint8_t done = 0;
        const int r = ReadPin(pins.done, &done);
        if (r != CAMERA_STATUS_SUCCESS) return r;
        if (done) {
            if (m_hardwareType == 101) SetGpioMode(m_transfer, 23, kModeOutput);
            return ExecuteCommand(m_transfer, ConfigEnd());
        }
        // INIT low while DONE is low: the FPGA rejected the data.
        if (init != 1) {
            qv::Log("fpga DONE did not rise\n");
            return CAMERA_STATUS_FAILED;
        }
    }
    qv::Log("fpga DONE did not rise\n");
    return CAMERA_STATUS_FAILED;
}

int CUsbFpgaConfig::FpgaConfigWrite(const uint8_t* data, size_t length) {
    return qv::usb::FpgaConfigWrite(m_transfer, data, length);
}

// ---- instruction port (type 108) ---------------------------------------------------------

int CUsbFpgaConfig::JtagBegin() {
    return ExecuteCommand(m_transfer, ConfigBegin());
}

int CUsbFpgaConfig::JtagEnd() {
    return ExecuteCommand(m_transfer, ConfigEnd());
}

int CUsbFpgaConfig::JtagInstruction(uint8_t code) {
    return ExecuteCommand(m_transfer, ConfigInstruction(code, kJtagParameter));
}

int CUsbFpgaConfig::JtagReadBack(uint32_t* value) {
    uint8_t reply[4] = {};
    const int r = Execute(m_transfer, ConfigReadBack(4), reply);
    if (r == CAMERA_STATUS_SUCCESS) *value = LoadLe32(reply);
    return r;
}

int CUsbFpgaConfig::JtagReadId(uint32_t* id) {
    const int r = JtagInstruction(kJtagReadId);
    return r == CAMERA_STATUS_SUCCESS ? JtagReadBack(id) : r;
}

int CUsbFpgaConfig::JtagReadStatus(uint32_t* status) {
    const int r = JtagInstruction(kJtagReadStatus);
    return r == CAMERA_STATUS_SUCCESS ? JtagReadBack(status) : r;
}

int CUsbFpgaConfig::JtagDownload(const uint8_t* data, size_t length) {
    if (data == nullptr || length == 0) return CAMERA_STATUS_PARAMETER_INVALID;
    uint32_t status = 0;
    if (JtagReadStatus(&status) != CAMERA_STATUS_SUCCESS) return CAMERA_STATUS_IO_ERROR;
    auto run = [&](std::initializer_list<uint8_t> codes) {
        for (uint8_t c : codes)
            if (JtagInstruction(c) != CAMERA_STATUS_SUCCESS) return false;
        return true;
    };
    if (status & kJtagDone) {
        // Clear the running image first.
        if (!run({kJtagConfigEnable, kJtagEraseSram, kJtagNoop})) return CAMERA_STATUS_IO_ERROR;
        m_pause(10000);
        if (!run({kJtagEraseDone, kJtagNoop, kJtagConfigDisable, kJtagNoop}))
            return CAMERA_STATUS_IO_ERROR;
    }
    if (!run({kJtagConfigEnable, kJtagInitAddress, kJtagWriteSram})) return CAMERA_STATUS_IO_ERROR;
    for (size_t offset = 0; offset < length; offset += kConfigChunkMax) {
        const size_t n = std::min(kConfigChunkMax, length - offset);
        uint16_t flags = offset == 0 ? kJtagFirstPiece : 0;
        if (offset + n == length) flags = static_cast<uint16_t>(flags + kJtagLastPiece);
        if (Execute(m_transfer, ConfigData(flags, n), nullptr, data + offset) !=
            CAMERA_STATUS_SUCCESS)
            return CAMERA_STATUS_IO_ERROR;
    }
    if (!run({kJtagConfigDisable, kJtagNoop})) return CAMERA_STATUS_IO_ERROR;
    if (JtagReadStatus(&status) != CAMERA_STATUS_SUCCESS) return CAMERA_STATUS_IO_ERROR;
    return (status & kJtagDone) ? CAMERA_STATUS_SUCCESS : CAMERA_STATUS_IO_ERROR;
}

// Loads the instruction-port FPGA when it reports no running image. Any failure is the FPGA's:
// a camera whose load failed must not go on to stream.
int CUsbFpgaConfig::JtagStep(int sensorType) {
    if (JtagBegin() != CAMERA_STATUS_SUCCESS) return CAMERA_STATUS_FPGA_ERROR;
    uint32_t id = 0;
    uint32_t status = 0;
    int result = CAMERA_STATUS_SUCCESS;
    if (JtagReadId(&id) != CAMERA_STATUS_SUCCESS ||
        JtagReadStatus(&status) != CAMERA_STATUS_SUCCESS)
        result = CAMERA_STATUS_FPGA_ERROR;
    if (result == CAMERA_STATUS_SUCCESS && !(status & kJtagDone)) {
        const std::optional<FpgaImageId> image = SelectJtagImage(sensorType);
        std::vector<uint8_t> data;
        if (!image) {
            qv::Log("no fpga image for hardware 108 sensor %d\n", sensorType);
            result = CAMERA_STATUS_FPGA_ERROR;
        } else if (InflateFpgaImage(*image, data) != CAMERA_STATUS_SUCCESS ||
                   JtagDownload(data.data(), data.size()) != CAMERA_STATUS_SUCCESS) {
            qv::Log("fpga download failed\n");
            result = CAMERA_STATUS_FPGA_ERROR;
        }
    }
    if (JtagEnd() != CAMERA_STATUS_SUCCESS) result = CAMERA_STATUS_FPGA_ERROR;
    return result;
}

}  // namespace qv::usb
