// CUsbCamera: the settings kept in FPGA registers (the image path the sensor drivers set up,
// trigger and strobe, the I/O lines) and the integer settings. Which registers an operation
// touches depends on the board's register map (usb/UsbHardwareType.h).
//
// Operations that write several registers report the bitwise or of the single results, so 0
// means every write went through; one that was refused shows as a failure rather than being
// reported as done.
#include <algorithm>
#include <cstdint>

#include "usb/UsbCamera.h"
#include "usb/UsbHardwareType.h"

namespace usb = qv::usb;

namespace {

// Time values of the compact boards' FPGA carry 24 bits.
constexpr uint32_t kMaxTime24 = 0xFFFFFF;

// The trigger control word (FPGA register 6, 10 or 16 by board): bit 0 trigger enable, bits
// 1-3 the trigger source code, bit 4 the trigger flag, and from bit 6 the line field, in which
// each output line has a 5-bit group: a 3-bit output code and, in its bit 4, the polarity.
constexpr int kLineFieldShift = 6;
constexpr int kLineGroupBits = 5;
constexpr uint16_t kLineCodeMask = 0x07;
constexpr uint16_t kLinePolarityBit = 0x10;

// Output codes of a line.
constexpr uint16_t kOutputHigh = 2;  // general-purpose output driven for a true level
constexpr uint16_t kOutputLow = 3;
constexpr uint16_t kOutputPwm = 4;
constexpr uint16_t kOutputMode255 = 6;

// Trigger source codes: 1 to 5 are the hardware signal types 0 to 4.
constexpr int kSignalTypes = 5;
constexpr uint16_t kSignalCodeFirst = 1;

constexpr uint16_t kRegCommand = 128;  // 1 software trigger, 2 timestamp reset
constexpr uint16_t kRegInputLine = 130;

constexpr uint32_t Hi16(uint32_t v) {
    return v >> 16;
}
constexpr uint32_t Lo16(uint32_t v) {
    return v & 0xFFFF;
}

bool IsLine(int line) {
    return line == 0 || line == 1;
}

uint16_t LineShift(int line) {
    return static_cast<uint16_t>(line * kLineGroupBits);
}

}  // namespace

// ---- Image path -----------------------------------------------------------------------------

int CUsbCamera::SetFpgaImageEnable(uint8_t flag, int value) {
    (void)value;
    const int t = m_hardwareType;
    if (t == 8 || t == 9 || t == 108 || t == 110 || t == 111 || (t >= 300 && t <= 306))
        return CAMERA_STATUS_SUCCESS;
    return WriteFpgaReg(7, flag == 0 ? 1 : 0);
}

int CUsbCamera::SetSensorInterface(uint16_t control) {
    const int t = m_hardwareType;
    const bool compactMap = t == 8 || t == 9 || (t >= 300 && t <= 306);
    return WriteFpgaReg(compactMap ? 0 : 19, control);
}

int CUsbCamera::SetImageWindow(uint16_t x, uint16_t y, uint16_t width, uint16_t height,
                               uint16_t fovWidth, uint16_t fovHeight, uint8_t bits) {
    // The frame size in bits; the FPGA takes it in bytes (bits 3 and up), split in two words.
    const uint64_t frameBits = uint64_t{width} * height * bits;
    const uint32_t sizeHigh = static_cast<uint32_t>((frameBits >> 19) & 0xFFFF);
    const uint32_t sizeLow = static_cast<uint32_t>((frameBits >> 3) & 0xFFFF);
    const int t = m_hardwareType;
    if (!usb::HasCompactImagePath(t)) {
        return WriteFpgaReg(25, y) | WriteFpgaReg(26, x) | WriteFpgaReg(27, fovWidth) |
               WriteFpgaReg(28, fovHeight) | WriteFpgaReg(33, sizeHigh) | WriteFpgaReg(34, sizeLow);
    }
    int r = WriteFpgaReg(1, sizeHigh) | WriteFpgaReg(2, sizeLow);
    const uint32_t start = ((x & 0xFFu) << 8) | (y & 0xFFu);
    if (t == 304) {
        r |= WriteFpgaReg(3, start) | WriteFpgaReg(4, width) | WriteFpgaReg(5, height);
    } else if (t == 306) {
        r |= WriteFpgaReg(3, start) | WriteFpgaReg(4, uint32_t{width} + x) |
             WriteFpgaReg(5, uint32_t{height} + y);
    } else if (t == 8 || t == 9) {
        r |= WriteFpgaReg(12, start) | WriteFpgaReg(13, uint32_t{x} + fovWidth) |
             WriteFpgaReg(14, uint32_t{fovHeight} + y);
    }
    return r;
}

int CUsbCamera::SetImageTiming(uint16_t a, uint16_t b, uint8_t c) {
    if (usb::HasCompactImagePath(m_hardwareType)) return CAMERA_STATUS_SUCCESS;
    // Each count is programmed as its value minus one (16-bit wrap-around).
    return WriteFpgaReg(35, uint32_t{a} - 1) | WriteFpgaReg(36, uint32_t{b} - c - 1) |
           WriteFpgaReg(37, uint32_t{c} - 1);
}

int CUsbCamera::SetFrameBuffer(uint32_t start, uint32_t end, uint32_t frameStep, uint8_t mode) {
    if (usb::HasCompactImagePath(m_hardwareType)) return CAMERA_STATUS_SUCCESS;
    return WriteFpgaReg(0, Hi16(start)) | WriteFpgaReg(1, Lo16(start)) |
           WriteFpgaReg(2, Hi16(end)) | WriteFpgaReg(3, Lo16(end)) |
           WriteFpgaReg(4, (uint32_t{mode} << 14) | Hi16(frameStep)) |
           WriteFpgaReg(5, Lo16(frameStep));
}

int CUsbCamera::SetFpgaPixelFormat(uint32_t mediaType) {
    (void)mediaType;
    return CAMERA_STATUS_SUCCESS;
}

// ---- Trigger and strobe ---------------------------------------------------------------------

int CUsbCamera::SetTriggerTiming(uint16_t a, uint16_t b) {
    const int t = m_hardwareType;
    if (usb::InSetX(t)) {
        int r = CAMERA_STATUS_SUCCESS;
        if (t == 9) r = WriteFpgaReg(18, b & 0xFu);
        return r | WriteFpgaReg(11, a);
    }
    if (usb::InSetY(t)) return CAMERA_STATUS_SUCCESS;
    if (usb::InSetZ(t)) return WriteFpgaReg(17, a) | WriteFpgaReg(18, b);
    return CAMERA_STATUS_NOT_SUPPORTED;
}

int CUsbCamera::SetTriggerFrameCount(uint32_t count) {
    const uint32_t n = count != 0 ? count : 1;
    const int t = m_hardwareType;
    if (usb::InSetX(t)) {
        if (t == 8) return CAMERA_STATUS_NOT_SUPPORTED;
        return WriteFpgaReg(3, Lo16(n));
    }
    if (t == 306) {
        // The count shares register 6 with the trigger control word's low byte.
        std::lock_guard lock(m_transferMutex);
        uint32_t word = 0;
        const int r = ReadFpgaReg(6, &word);
        if (r != CAMERA_STATUS_SUCCESS) return r;
        return WriteFpgaReg(6, (word & 0xFF) | (n << 8));
    }
    if (usb::InSetZ(t)) {
        const int r = WriteFpgaReg(10, Hi16(n));
        if (r != CAMERA_STATUS_SUCCESS) return r;
        return WriteFpgaReg(11, Lo16(n));
    }
    return CAMERA_STATUS_NOT_SUPPORTED;
}

int CUsbCamera::SetTriggerJitterTime(int line, uint32_t time) {
    (void)line;  // one trigger input filter on every board
    const int t = m_hardwareType;
    if (usb::InSetX(t)) {
        if (t == 8) return CAMERA_STATUS_NOT_SUPPORTED;
        return WriteFpgaReg(4, Lo16(time));
    }
    if (usb::InSetZ(t)) return WriteFpgaReg(12, Hi16(time)) | WriteFpgaReg(13, Lo16(time));
    return CAMERA_STATUS_NOT_SUPPORTED;
}

int CUsbCamera::SetTriggerDelayTime(uint32_t time) {
    const int t = m_hardwareType;
    if (usb::InSetX(t)) {
        if (t == 8) return CAMERA_STATUS_NOT_SUPPORTED;
        if (time > kMaxTime24) return CAMERA_STATUS_PARAMETER_OUT_OF_RANGE;
        return WriteFpgaReg(6, Lo16(time)) | WriteFpgaReg(5, Hi16(time));
    }
    if (usb::InSetZ(t)) return WriteFpgaReg(14, Hi16(time)) | WriteFpgaReg(15, Lo16(time));
    return CAMERA_STATUS_NOT_SUPPORTED;
}

int CUsbCamera::SetTriggerControl(uint16_t mode, uint16_t source, uint16_t flag, uint16_t enable) {
    const uint32_t word = (uint32_t{mode} << kLineFieldShift) | (flag != 0 ? 0x10u : 0u) |
                          (uint32_t{source} << 1) | (enable != 0 ? 1u : 0u);
    return WriteFpgaReg(usb::TriggerControlRegister(m_hardwareType), word);
}

int CUsbCamera::GetTriggerControl(uint16_t* mode, uint16_t* source, uint16_t* flag,
                                  uint16_t* enable) {
    uint32_t word = 0;
    const int r = ReadFpgaReg(usb::TriggerControlRegister(m_hardwareType), &word);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (mode != nullptr) *mode = static_cast<uint16_t>(word >> kLineFieldShift);
    if (source != nullptr) *source = static_cast<uint16_t>((word >> 1) & 7);
    if (flag != nullptr) *flag = static_cast<uint16_t>((word >> 4) & 1);
    if (enable != nullptr) *enable = static_cast<uint16_t>(word & 1);
    return CAMERA_STATUS_SUCCESS;
}

int CUsbCamera::UpdateLineField(uint16_t mask, uint16_t bits) {
    std::lock_guard lock(m_transferMutex);
    uint16_t field = 0, source = 0, flag = 0, enable = 0;
    const int r = GetTriggerControl(&field, &source, &flag, &enable);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    field = static_cast<uint16_t>((field & ~mask) | (bits & mask));
    return SetTriggerControl(field, source, flag, enable);
}

int CUsbCamera::WriteSignalCode(uint16_t code) {
    std::lock_guard lock(m_transferMutex);
    uint16_t field = 0, flag = 0, enable = 0;
    const int r = GetTriggerControl(&field, nullptr, &flag, &enable);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    return SetTriggerControl(field, code, flag, enable);
}

int CUsbCamera::SetStrobeMode(int line, int mode) {
    if (mode != 0 && mode != 1) return CAMERA_STATUS_PARAMETER_INVALID;
    if (!IsLine(line)) return CAMERA_STATUS_NOT_SUPPORTED;
    const uint16_t shift = LineShift(line);
    return UpdateLineField(static_cast<uint16_t>(kLineCodeMask << shift),
                           static_cast<uint16_t>(mode << shift));
}

int CUsbCamera::SetStrobePolarity(int line, int polarity) {
    if (!IsLine(line)) return CAMERA_STATUS_NOT_SUPPORTED;
    const uint16_t bit = static_cast<uint16_t>(kLinePolarityBit << LineShift(line));
    return UpdateLineField(bit, polarity != 0 ? bit : 0);
}

int CUsbCamera::SetStrobeDelayTime(int line, uint32_t time) {
    const int t = m_hardwareType;
    if (usb::InSetX(t)) {
        if (time > kMaxTime24) return CAMERA_STATUS_PARAMETER_OUT_OF_RANGE;
        if (line != 0) return CAMERA_STATUS_NOT_SUPPORTED;
        // Register 7 holds the delay's high byte above the pulse width's.
        std::lock_guard lock(m_transferMutex);
        uint32_t reg7 = 0;
        const int r = ReadFpgaReg(7, &reg7);
        if (r != CAMERA_STATUS_SUCCESS) return r;
        return WriteFpgaReg(7, (Hi16(time) << 8) | (reg7 & 0xFF)) | WriteFpgaReg(9, Lo16(time));
    }
    if (usb::InSetY(t)) return CAMERA_STATUS_NOT_SUPPORTED;
    if (line == 0) return WriteFpgaReg(22, Hi16(time)) | WriteFpgaReg(23, Lo16(time));
    if (line == 1) return WriteFpgaReg(31, Hi16(time)) | WriteFpgaReg(32, Lo16(time));
    return CAMERA_STATUS_NOT_SUPPORTED;
}

int CUsbCamera::SetStrobePulseWidth(int line, uint32_t width) {
    const int t = m_hardwareType;
    if (usb::InSetX(t)) {
        if (width > kMaxTime24) return CAMERA_STATUS_PARAMETER_OUT_OF_RANGE;
        if (line != 0) return CAMERA_STATUS_NOT_SUPPORTED;
        std::lock_guard lock(m_transferMutex);
        uint32_t reg7 = 0;
        const int r = ReadFpgaReg(7, &reg7);
        if (r != CAMERA_STATUS_SUCCESS) return r;
        return WriteFpgaReg(7, (reg7 & ~0xFFu) | Hi16(width)) | WriteFpgaReg(8, Lo16(width));
    }
    if (usb::InSetY(t)) return CAMERA_STATUS_NOT_SUPPORTED;
    if (line == 0) return WriteFpgaReg(20, Hi16(width)) | WriteFpgaReg(21, Lo16(width));
    if (line == 1) return WriteFpgaReg(29, Hi16(width)) | WriteFpgaReg(30, Lo16(width));
    return CAMERA_STATUS_NOT_SUPPORTED;
}

int CUsbCamera::SendSoftTrigger() {
    return WriteFpgaReg(kRegCommand, 1);
}

int CUsbCamera::ResetTimestamp() {
    if (m_hardwareType == 0) return CAMERA_STATUS_NOT_SUPPORTED;
    return WriteFpgaReg(kRegCommand, 2);
}

// ---- I/O lines ------------------------------------------------------------------------------

int CUsbCamera::SetTriggerSignalType(int line, int type) {
    const int t = m_hardwareType;
    if (t == 0 || t == 8 || t == 109 || t == 303 || t == 304 || t == 306)
        return CAMERA_STATUS_NOT_SUPPORTED;
    if (!IsLine(line)) return CAMERA_STATUS_NOT_SUPPORTED;
    std::lock_guard lock(m_transferMutex);
    uint16_t field = 0, flag = 0, enable = 0;
    const int r = GetTriggerControl(&field, nullptr, &flag, &enable);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (type < 0 || type >= kSignalTypes) return CAMERA_STATUS_PARAMETER_INVALID;
    m_triggerSignalCode = static_cast<uint16_t>(kSignalCodeFirst + type);
    return SetTriggerControl(field, m_triggerSignalCode, flag, enable);
}

int CUsbCamera::SetOutputIOMode(int line, int mode) {
    if (!IsLine(line)) return CAMERA_STATUS_NOT_SUPPORTED;
    uint16_t code;
    switch (mode) {
        case 0:  // strobe and general-purpose output: their own setters write the code
        case 1:
            return CAMERA_STATUS_SUCCESS;
        case 2:
            code = kOutputPwm;
            break;
        case 255:
            code = kOutputMode255;
            break;
        default:
            return CAMERA_STATUS_PARAMETER_INVALID;
    }
    const uint16_t shift = LineShift(line);
    return UpdateLineField(static_cast<uint16_t>(kLineCodeMask << shift),
                           static_cast<uint16_t>(code << shift));
}

int CUsbCamera::SetTriggerInhibit(int line, int inhibit) {
    if (!IsLine(line)) return CAMERA_STATUS_NOT_SUPPORTED;
    std::lock_guard lock(m_transferMutex);
    uint16_t field = 0, source = 0, flag = 0;
    const int r = GetTriggerControl(&field, &source, &flag, nullptr);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    return SetTriggerControl(field, source, flag, inhibit == 0 ? 1 : 0);
}

int CUsbCamera::SetOutputIOState(int line, int state) {
    if (!IsLine(line)) return CAMERA_STATUS_NOT_SUPPORTED;
    const uint16_t shift = LineShift(line);
    const uint16_t code = state != 0 ? kOutputHigh : kOutputLow;
    return UpdateLineField(static_cast<uint16_t>(kLineCodeMask << shift),
                           static_cast<uint16_t>(code << shift));
}

int CUsbCamera::SetOutputIOPWM(int line, uint32_t period, uint32_t duty) {
    const int t = m_hardwareType;
    if (t == 304 || t == 306 || !IsLine(line)) return CAMERA_STATUS_NOT_SUPPORTED;
    const uint32_t width = std::min(period, duty);
    if (usb::InSetX(t)) {
        if (line != 0) return CAMERA_STATUS_NOT_SUPPORTED;
        return WriteFpgaReg(9, Lo16(period)) | WriteFpgaReg(8, Lo16(width)) |
               WriteFpgaReg(7, (Hi16(period) << 8) | (Hi16(width) & 0xFF));
    }
    const uint16_t base = line == 0 ? 20 : 29;  // width high, width low, period high, low
    return WriteFpgaReg(base + 2, Hi16(period)) | WriteFpgaReg(base + 3, Lo16(period)) |
           WriteFpgaReg(base, Hi16(width)) | WriteFpgaReg(base + 1, Lo16(width));
}

int CUsbCamera::GetInputIOState(int line, int* state) {
    if (line != 0) return CAMERA_STATUS_NOT_SUPPORTED;
    if (state == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    uint32_t value = 0;
    const int r = ReadFpgaReg(kRegInputLine, &value);
    if (r == CAMERA_STATUS_SUCCESS) *state = static_cast<int>(value);
    return r;
}

int CUsbCamera::RequestTransferImage() {
    return CAMERA_STATUS_NOT_SUPPORTED;
}

int CUsbCamera::RequestTransferImageEx(int value) {
    (void)value;
    return CAMERA_STATUS_NOT_SUPPORTED;
}

// ---- Integer settings -----------------------------------------------------------------------

namespace {

// The I2C device of the type-9 board at bus address 12.
constexpr uint8_t kType9I2cDevice = 12;
constexpr int kType9SettingMax = 50;
constexpr uint32_t kType9SettingBase = 0x3200;
constexpr int kType9I2cOffset = 120;

}  // namespace

int CUsbCamera::SetIntValue(int id, int value) {
    const int t = m_hardwareType;
    switch (id) {
        case 1:
            if (t != 9) return CAMERA_STATUS_NOT_SUPPORTED;
            return WriteFpgaReg(15, kType9SettingBase | static_cast<uint32_t>(std::clamp(
                                                            value, 0, kType9SettingMax)));
        case 3: {
            if (t != 9) return CAMERA_STATUS_NOT_SUPPORTED;
            const int w = value + kType9I2cOffset;
            uint8_t bytes[2] = {static_cast<uint8_t>((w >> 4) & 0x3F),
                                static_cast<uint8_t>((w << 4) & 0xFF)};
            return I2CWrite(kType9I2cDevice, bytes, 2);
        }
        case 9:
            return SetStreamBufferCount(value);
        case 12: {
            std::lock_guard lock(m_transferMutex);
            if (value == 0) {
                // A second switch-off keeps the code taken out by the first.
                if (!m_signalCodeSaved) {
                    uint16_t source = 0;
                    const int r = GetTriggerControl(nullptr, &source, nullptr, nullptr);
                    if (r != CAMERA_STATUS_SUCCESS) return r;
                    m_savedSignalCode = source;
                    m_signalCodeSaved = true;
                }
                return WriteSignalCode(kSignalCodeFirst);
            }
            const uint16_t code = m_signalCodeSaved ? m_savedSignalCode : m_triggerSignalCode;
            const int r = WriteSignalCode(code);
            if (r == CAMERA_STATUS_SUCCESS) m_signalCodeSaved = false;
            return r;
        }
        case 13:
            if (t != 107 && t != 111) return CAMERA_STATUS_NOT_SUPPORTED;
            return EnableCooling(value != 0);
        case 14:
            if (t != 111) return CAMERA_STATUS_NOT_SUPPORTED;
            return SetCoolerPower(value);
        case 15:
            if (t != 107 && t != 111) return CAMERA_STATUS_NOT_SUPPORTED;
            // Tenths of a degree.
            return SetTargetTemperature(static_cast<float>(value) / 10.0f);
        default:
            return CAMERA_STATUS_NOT_SUPPORTED;
    }
}

int CUsbCamera::GetIntValue(int id, int* value) {
    if (value == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    const int t = m_hardwareType;
    switch (id) {
        case 4:
        case 5:
        case 6:
        case 7: {
            if (t != 9) return CAMERA_STATUS_NOT_SUPPORTED;
            uint8_t reply[2];
            const bool answered = I2CRead(kType9I2cDevice, reply, 2) == CAMERA_STATUS_SUCCESS;
            if (id == 7) {
                *value = answered ? 1 : 0;
                return CAMERA_STATUS_SUCCESS;
            }
            if (!answered) return CAMERA_STATUS_NOT_SUPPORTED;
            *value = id == 5 ? 720 : 0;
            return CAMERA_STATUS_SUCCESS;
        }
        case 8:
            *value = t == 7 ? 2 : t == 106 ? 4 : 1;
            return CAMERA_STATUS_SUCCESS;
        case 9:
            return GetStreamBufferCount(value);
        case 12: {
            uint16_t source = 0;
            const int r = GetTriggerControl(nullptr, &source, nullptr, nullptr);
            if (r == CAMERA_STATUS_SUCCESS) *value = source < 5 ? 1 : 0;
            return r;
        }
        case 13:
            if (t != 111) return CAMERA_STATUS_NOT_SUPPORTED;
            *value = CoolingRunning() ? 1 : 0;
            return CAMERA_STATUS_SUCCESS;
        case 14:
            if (t != 111) return CAMERA_STATUS_NOT_SUPPORTED;
            *value = m_coolerPower.load();
            return CAMERA_STATUS_SUCCESS;
        case 15:
            if (t != 111) return CAMERA_STATUS_NOT_SUPPORTED;
            *value = static_cast<int>(m_targetTemperature.load() * 10.0f);
            return CAMERA_STATUS_SUCCESS;
        case 16: {
            float celsius = 0;
            const int r = GetTemperature(&celsius);
            if (r == CAMERA_STATUS_SUCCESS) *value = static_cast<int>(celsius * 10.0f);
            return r;
        }
        default:
            return CAMERA_STATUS_NOT_SUPPORTED;
    }
}
