// CFakeDevice: the device operations behind the contract: registers, board and trigger
// settings, the sensor-side values a controller test reads back, EEPROM and flash, capture, I/O
// lines, network and integer values.
#include <algorithm>
#include <cstring>

#include "FakeDevice.h"

namespace qvsim {

// ---- Registers -----------------------------------------------------------------------------

int CFakeDevice::SetSensorBus(uint8_t address, uint8_t widths) {
    return Rec("SetSensorBus", {address, widths});
}

int CFakeDevice::StoreSensorReg(uint16_t reg, uint16_t value) {
    if (onWriteSensorReg) return onWriteSensorReg(reg, value);
    std::lock_guard lock(m_mutex);
    m_sensorRegs[reg] = value;
    return CAMERA_STATUS_SUCCESS;
}

int CFakeDevice::StoreFpgaReg(uint16_t reg, uint32_t value) {
    if (onWriteFpgaReg) return onWriteFpgaReg(reg, value);
    std::lock_guard lock(m_mutex);
    m_fpgaRegs[reg] = value;
    return CAMERA_STATUS_SUCCESS;
}

int CFakeDevice::WriteSensorReg(uint16_t reg, uint16_t value) {
    const int r = Rec("WriteSensorReg", {reg, value});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    return StoreSensorReg(reg, value);
}

int CFakeDevice::WriteSensorRegs(std::span<const uint16_t> regAndVal) {
    const int r = RecList("WriteSensorRegs", {regAndVal.begin(), regAndVal.end()});
    if (regAndVal.empty() || regAndVal.size() % 2 != 0) {
        Violation("WriteSensorRegs with an odd or empty list");
        return CAMERA_STATUS_PARAMETER_INVALID;
    }
    if (r != CAMERA_STATUS_SUCCESS) return r;
    for (size_t i = 0; i < regAndVal.size(); i += 2) {
        const uint16_t reg = regAndVal[i], value = regAndVal[i + 1];
        if (reg == 0xFFFF) continue;  // a pause: the fake does not wait
        const int w = StoreSensorReg(reg, value);
        if (w != CAMERA_STATUS_SUCCESS) return w;
    }
    return CAMERA_STATUS_SUCCESS;
}

int CFakeDevice::ReadSensorReg(uint16_t reg, uint16_t* value) {
    const int r = Rec("ReadSensorReg", {reg});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (value == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    if (onReadSensorReg) return onReadSensorReg(reg, value);
    *value = SensorReg(reg);
    return CAMERA_STATUS_SUCCESS;
}

int CFakeDevice::WriteFpgaReg(uint16_t reg, uint32_t value) {
    const int r = Rec("WriteFpgaReg", {reg, value});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    return StoreFpgaReg(reg, value);
}

int CFakeDevice::WriteFpgaRegs(std::span<const uint32_t> regAndVal) {
    const int r = RecList("WriteFpgaRegs", {regAndVal.begin(), regAndVal.end()});
    if (regAndVal.empty() || regAndVal.size() % 2 != 0) {
        Violation("WriteFpgaRegs with an odd or empty list");
        return CAMERA_STATUS_PARAMETER_INVALID;
    }
    if (r != CAMERA_STATUS_SUCCESS) return r;
    for (size_t i = 0; i < regAndVal.size(); i += 2) {
        const int w = StoreFpgaReg(static_cast<uint16_t>(regAndVal[i]), regAndVal[i + 1]);
        if (w != CAMERA_STATUS_SUCCESS) return w;
    }
    return CAMERA_STATUS_SUCCESS;
}

int CFakeDevice::ReadFpgaReg(uint16_t reg, uint32_t* value) {
    const int r = Rec("ReadFpgaReg", {reg});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (value == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    if (onReadFpgaReg) return onReadFpgaReg(reg, value);
    *value = FpgaReg(reg);
    return CAMERA_STATUS_SUCCESS;
}

int CFakeDevice::I2CWrite(uint8_t address, uint8_t* data, uint8_t len) {
    std::vector<int64_t> args{address};
    for (uint8_t i = 0; data != nullptr && i < len; ++i) args.push_back(data[i]);
    return RecList("I2CWrite", std::move(args));
}

int CFakeDevice::I2CRead(uint8_t address, uint8_t* data, uint8_t len) {
    const int r = Rec("I2CRead", {address, len});
    if (r == CAMERA_STATUS_SUCCESS && data != nullptr) std::memset(data, 0, len);
    return r;
}

int CFakeDevice::SetGpioMode(uint8_t pin, uint8_t mode) {
    return Rec("SetGpioMode", {pin, mode});
}

int CFakeDevice::WriteGpio(uint8_t pin, uint8_t level) {
    const int r = Rec("WriteGpio", {pin, level});
    if (r == CAMERA_STATUS_SUCCESS) {
        std::lock_guard lock(m_mutex);
        m_gpio[pin] = level;
    }
    return r;
}

int CFakeDevice::ReadGpio(uint8_t pin, uint8_t* level) {
    const int r = Rec("ReadGpio", {pin});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (level == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    if (onReadGpio) return onReadGpio(pin, level);
    std::lock_guard lock(m_mutex);
    auto it = m_gpio.find(pin);
    *level = it == m_gpio.end() ? 0 : it->second;
    return CAMERA_STATUS_SUCCESS;
}

int CFakeDevice::FpgaConfigBegin() {
    return Rec("FpgaConfigBegin");
}
int CFakeDevice::FpgaConfigEnd() {
    return Rec("FpgaConfigEnd");
}
int CFakeDevice::FpgaConfigWrite(uint8_t* data, uint32_t len) {
    return Rec("FpgaConfigWrite", {P(data), len});
}
int CFakeDevice::LoadFpga(SensorTypeE type) {
    return Rec("LoadFpga", {type});
}
int CFakeDevice::GetHardwareType() {
    Rec("GetHardwareType");
    return m_hardwareType;
}
int CFakeDevice::GetFpgaVersion(uint16_t* version) {
    const int r = Rec("GetFpgaVersion", {P(version)});
    if (r == CAMERA_STATUS_SUCCESS && version != nullptr) *version = 0;
    return r;
}
int CFakeDevice::StartStream() {
    return Rec("StartStream");
}
int CFakeDevice::StopStream() {
    return Rec("StopStream");
}
int CFakeDevice::SetPll(uint8_t v1, uint8_t v2, uint8_t v3, uint8_t v4, uint8_t v5, uint8_t v6,
                        uint8_t v7, uint8_t v8) {
    return Rec("SetPll", {v1, v2, v3, v4, v5, v6, v7, v8});
}
int CFakeDevice::SetFpgaImageEnable(uint8_t flag, int value) {
    return Rec("SetFpgaImageEnable", {flag, value});
}
int CFakeDevice::SetSensorInterface(uint16_t control) {
    return Rec("SetSensorInterface", {control});
}
int CFakeDevice::SetImageWindow(uint16_t x, uint16_t y, uint16_t width, uint16_t height,
                                uint16_t fovWidth, uint16_t fovHeight, uint8_t bits) {
    return Rec("SetImageWindow", {x, y, width, height, fovWidth, fovHeight, bits});
}
int CFakeDevice::SetImageTiming(uint16_t a, uint16_t b, uint8_t c) {
    return Rec("SetImageTiming", {a, b, c});
}
int CFakeDevice::SetFrameBuffer(uint32_t start, uint32_t end, uint32_t frameStep, uint8_t mode) {
    return Rec("SetFrameBuffer", {start, end, frameStep, mode});
}
int CFakeDevice::SetFpgaPixelFormat(uint32_t mediaType) {
    return Rec("SetFpgaPixelFormat", {mediaType});
}
int CFakeDevice::SetTriggerTiming(uint16_t a, uint16_t b) {
    return Rec("SetTriggerTiming", {a, b});
}
int CFakeDevice::SetTriggerFrameCount(uint32_t count) {
    return Rec("SetTriggerFrameCount", {count});
}
int CFakeDevice::SetTriggerJitterTime(int line, uint32_t time) {
    return Rec("SetTriggerJitterTime", {line, time});
}
int CFakeDevice::SetTriggerDelayTime(uint32_t time) {
    return Rec("SetTriggerDelayTime", {time});
}

// The trigger control word lives in the FPGA map under a register of its own, so a read-modify-
// write sequence of a driver sees what it wrote.
namespace {
constexpr uint16_t kTriggerWordReg = 0xF000;
}

int CFakeDevice::SetTriggerControl(uint16_t mode, uint16_t source, uint16_t flag, uint16_t enable) {
    const int r = Rec("SetTriggerControl", {mode, source, flag, enable});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    const uint32_t word = static_cast<uint32_t>(mode) << 6 | (flag != 0 ? 0x10u : 0u) |
                          static_cast<uint32_t>(source) << 1 | (enable != 0 ? 1u : 0u);
    std::lock_guard lock(m_mutex);
    m_fpgaRegs[kTriggerWordReg] = word;
    return CAMERA_STATUS_SUCCESS;
}

int CFakeDevice::GetTriggerControl(uint16_t* mode, uint16_t* source, uint16_t* flag,
                                   uint16_t* enable) {
    const int r = Rec("GetTriggerControl");
    if (r != CAMERA_STATUS_SUCCESS) return r;
    const uint32_t word = FpgaReg(kTriggerWordReg);
    if (mode) *mode = static_cast<uint16_t>(word >> 6);
    if (source) *source = static_cast<uint16_t>((word >> 1) & 7);
    if (flag) *flag = static_cast<uint16_t>((word >> 4) & 1);
    if (enable) *enable = static_cast<uint16_t>(word & 1);
    return CAMERA_STATUS_SUCCESS;
}

int CFakeDevice::SetStrobeMode(int line, int mode) {
    return Rec("SetStrobeMode", {line, mode});
}
int CFakeDevice::SetStrobeDelayTime(int line, uint32_t time) {
    return Rec("SetStrobeDelayTime", {line, time});
}
int CFakeDevice::SetStrobePolarity(int line, int polarity) {
    return Rec("SetStrobePolarity", {line, polarity});
}
int CFakeDevice::SetStrobePulseWidth(int line, uint32_t width) {
    return Rec("SetStrobePulseWidth", {line, width});
}
int CFakeDevice::SendSoftTrigger() {
    return Rec("SendSoftTrigger");
}
int CFakeDevice::ResetTimestamp() {
    return Rec("ResetTimestamp");
}

// ---- Sensor-side values a controller test reads back -------------------------------------
// Without an adopted driver these behave like a simple sensor that keeps what it was given;
// with one, the base forwards to it.

int CFakeDevice::SetExposureLines(uint32_t lines) {
    const int r = Rec("SetExposureLines", {lines});
    if (m_pSensor) return CJNDevice::SetExposureLines(lines);
    return r;
}
int CFakeDevice::SetExposure(double us) {
    const int r = Rec("SetExposure", {}, us);
    if (m_pSensor) return CJNDevice::SetExposure(us);
    if (r == CAMERA_STATUS_SUCCESS) {
        std::lock_guard lock(m_mutex);
        m_exposureUs = us;
    }
    return r;
}
int CFakeDevice::GetExposure(double* us) {
    const int r = Rec("GetExposure");
    if (m_pSensor) return CJNDevice::GetExposure(us);
    if (r == CAMERA_STATUS_SUCCESS && us != nullptr) {
        std::lock_guard lock(m_mutex);
        *us = m_exposureUs;
    }
    return r;
}
int CFakeDevice::SetAnalogGain(uint32_t gain) {
    const int r = Rec("SetAnalogGain", {gain});
    if (m_pSensor) return CJNDevice::SetAnalogGain(gain);
    if (r == CAMERA_STATUS_SUCCESS) {
        std::lock_guard lock(m_mutex);
        m_analogGain = static_cast<int>(gain);
    }
    return r;
}
int CFakeDevice::GetAnalogGain(int* gain) {
    const int r = Rec("GetAnalogGain");
    if (m_pSensor) return CJNDevice::GetAnalogGain(gain);
    if (r == CAMERA_STATUS_SUCCESS && gain != nullptr) {
        std::lock_guard lock(m_mutex);
        *gain = m_analogGain;
    }
    return r;
}
int CFakeDevice::SetTriggerMode(int mode) {
    const int r = Rec("SetTriggerMode", {mode});
    return m_pSensor ? CJNDevice::SetTriggerMode(mode) : r;
}
int CFakeDevice::StreamOn() {
    const int r = Rec("StreamOn");
    return m_pSensor ? CJNDevice::StreamOn() : r;
}
int CFakeDevice::StreamOff() {
    const int r = Rec("StreamOff");
    return m_pSensor ? CJNDevice::StreamOff() : r;
}

// ---- EEPROM and flash --------------------------------------------------------------------

int CFakeDevice::WriteEEProm(uint16_t address, uint8_t* data, uint16_t len) {
    const int r = Rec("WriteEEProm", {address, len});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (onWriteEEProm) return onWriteEEProm(address, data, len);
    if (data == nullptr || static_cast<size_t>(address) + len > kEepromSize)
        return CAMERA_STATUS_IO_ERROR;
    std::lock_guard lock(m_mutex);
    std::memcpy(m_eeprom.data() + address, data, len);
    return CAMERA_STATUS_SUCCESS;
}

int CFakeDevice::ReadEEProm(uint16_t address, uint8_t* data, uint16_t len) {
    const int r = Rec("ReadEEProm", {address, len});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (onReadEEProm) return onReadEEProm(address, data, len);
    if (data == nullptr || static_cast<size_t>(address) + len > kEepromSize)
        return CAMERA_STATUS_IO_ERROR;
    std::lock_guard lock(m_mutex);
    std::memcpy(data, m_eeprom.data() + address, len);
    return CAMERA_STATUS_SUCCESS;
}

int CFakeDevice::EraseFlashSector(uint32_t address, uint8_t option) {
    const int r = Rec("EraseFlashSector", {address, option});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (onEraseFlashSector) return onEraseFlashSector(address);
    const uint32_t start = address & ~(kFlashSectorSize - 1);
    if (static_cast<size_t>(start) + kFlashSectorSize > kFlashSize) return CAMERA_STATUS_IO_ERROR;
    std::lock_guard lock(m_mutex);
    if (m_flash.empty()) m_flash.assign(kFlashSize, 0xFF);
    std::fill_n(m_flash.begin() + start, kFlashSectorSize, uint8_t{0xFF});
    return CAMERA_STATUS_SUCCESS;
}

int CFakeDevice::ReadFlash(uint32_t address, uint16_t len, uint8_t* data) {
    const int r = Rec("ReadFlash", {address, len});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (onReadFlash) return onReadFlash(address, len, data);
    if (data == nullptr || static_cast<size_t>(address) + len > kFlashSize)
        return CAMERA_STATUS_IO_ERROR;
    std::lock_guard lock(m_mutex);
    if (m_flash.empty()) m_flash.assign(kFlashSize, 0xFF);
    std::memcpy(data, m_flash.data() + address, len);
    return CAMERA_STATUS_SUCCESS;
}

int CFakeDevice::WriteFlash(uint32_t address, uint16_t len, uint8_t* data) {
    const int r = Rec("WriteFlash", {address, len});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (onWriteFlash) return onWriteFlash(address, len, data);
    if (data == nullptr || static_cast<size_t>(address) + len > kFlashSize)
        return CAMERA_STATUS_IO_ERROR;
    const bool overwrite = m_flashOverwrite.load();
    std::lock_guard lock(m_mutex);
    if (m_flash.empty()) m_flash.assign(kFlashSize, 0xFF);
    for (uint16_t i = 0; i < len; ++i) {
        uint8_t& cell = m_flash[address + i];
        cell = overwrite ? data[i] : static_cast<uint8_t>(cell & data[i]);
    }
    return CAMERA_STATUS_SUCCESS;
}

// ---- Capture, I/O lines, network, integers -------------------------------------------------

// Like the transports: -1 while no stream (frame receiver) exists.
int CFakeDevice::StartCapture() {
    const int r = Rec("StartCapture");
    if (r != CAMERA_STATUS_SUCCESS) return r;
    return HasStream() ? CAMERA_STATUS_SUCCESS : CAMERA_STATUS_FAILED;
}
int CFakeDevice::StopCapture() {
    const int r = Rec("StopCapture");
    if (r != CAMERA_STATUS_SUCCESS) return r;
    return HasStream() ? CAMERA_STATUS_SUCCESS : CAMERA_STATUS_FAILED;
}
int CFakeDevice::SetStreamBufferCount(int count) {
    return Rec("SetStreamBufferCount", {count});
}
int CFakeDevice::GetStreamBufferCount(int* count) {
    const int r = Rec("GetStreamBufferCount");
    if (r == CAMERA_STATUS_SUCCESS && count != nullptr) *count = 6;
    return r;
}
int CFakeDevice::SetTriggerSignalType(int line, int type) {
    return Rec("SetTriggerSignalType", {line, type});
}
int CFakeDevice::SetOutputIOMode(int line, int mode) {
    return Rec("SetOutputIOMode", {line, mode});
}
int CFakeDevice::SetTriggerInhibit(int line, int inhibit) {
    return Rec("SetTriggerInhibit", {line, inhibit});
}
int CFakeDevice::SetOutputIOState(int line, int state) {
    return Rec("SetOutputIOState", {line, state});
}
int CFakeDevice::SetOutputIOPWM(int line, uint32_t period, uint32_t duty) {
    return Rec("SetOutputIOPWM", {line, period, duty});
}
int CFakeDevice::GetInputIOState(int line, int* state) {
    const int r = Rec("GetInputIOState", {line});
    if (r == CAMERA_STATUS_SUCCESS && state != nullptr) *state = 0;
    return r;
}
int CFakeDevice::RequestTransferImage() {
    return Rec("RequestTransferImage");
}
int CFakeDevice::RequestTransferImageEx(int value) {
    return Rec("RequestTransferImageEx", {value});
}
int CFakeDevice::GetIpConfig(tGigeIpConfig* config) {
    return Rec("GetIpConfig", {P(config)});
}
int CFakeDevice::SetIpConfig(tGigeIpConfig* config) {
    return Rec("SetIpConfig", {P(config)});
}
int CFakeDevice::SetPacketDelay(uint32_t delay) {
    return Rec("SetPacketDelay", {delay});
}
int CFakeDevice::SetResend(uint8_t enable, int a, int b, int c) {
    return Rec("SetResend", {enable, a, b, c});
}
int CFakeDevice::GetOptimalPacketSize(int* size) {
    const int r = Rec("GetOptimalPacketSize");
    if (r == CAMERA_STATUS_SUCCESS && size != nullptr) *size = 1500;
    return r;
}
int CFakeDevice::Upgrade(const char* path, UpgradeProgress progress, void* context) {
    const int r = Rec("Upgrade", {P(path), P(reinterpret_cast<const void*>(progress)), P(context)});
    if (r == CAMERA_STATUS_SUCCESS && progress != nullptr) {
        progress(0, context);
        progress(100, context);
    }
    return r;
}
int CFakeDevice::SetIntValue(int id, int value) {
    const int r = Rec("SetIntValue", {id, value});
    if (r == CAMERA_STATUS_SUCCESS) {
        std::lock_guard lock(m_mutex);
        m_intValues[id] = value;
    }
    return r;
}
int CFakeDevice::GetIntValue(int id, int* value) {
    const int r = Rec("GetIntValue", {id});
    if (r != CAMERA_STATUS_SUCCESS) return r;
    if (value == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    std::lock_guard lock(m_mutex);
    auto it = m_intValues.find(id);
    *value = it == m_intValues.end() ? 0 : it->second;
    return CAMERA_STATUS_SUCCESS;
}

}  // namespace qvsim
