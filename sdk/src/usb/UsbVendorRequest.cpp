#include "usb/UsbVendorRequest.h"

#include <algorithm>
#include <cstdio>

#include "common/Log.h"
#include "QVDeviceDef.h"
#include "common/TimeUtil.h"

namespace qv::usb {

namespace {

VendorRequest In(uint8_t request, uint16_t value, uint16_t index, uint16_t length) {
    VendorRequest rq;
    rq.request = request;
    rq.value = value;
    rq.index = index;
    rq.direction = Direction::kIn;
    rq.length = length;
    return rq;
}

VendorRequest Out(uint8_t request, uint16_t value, uint16_t index, uint16_t length) {
    VendorRequest rq = In(request, value, index, length);
    rq.direction = Direction::kOut;
    return rq;
}

// A one-byte status reply.
VendorRequest Status(uint8_t request, uint16_t value, uint16_t index, uint8_t ok) {
    VendorRequest rq = In(request, value, index, 1);
    rq.statusOffset = 0;
    rq.statusOk = ok;
    return rq;
}

// A 16-bit value followed by a status byte.
VendorRequest ValueAndStatus(uint8_t request, uint16_t value, uint16_t index, uint8_t ok) {
    VendorRequest rq = In(request, value, index, 3);
    rq.statusOffset = 2;
    rq.statusOk = ok;
    return rq;
}

constexpr uint16_t Pack(uint8_t high, uint8_t low) {
    return static_cast<uint16_t>((high << 8) | low);
}

}  // namespace

int CheckTransferred(uint16_t requested, int transferred) {
    if (transferred < 0 || transferred < static_cast<int>(requested)) return CAMERA_STATUS_IO_ERROR;
    return CAMERA_STATUS_SUCCESS;
}

VendorRequest CpuReset(bool hold) {
    VendorRequest rq = Out(kReqCpuReset, kCpuResetRegister, 0, 1);
    rq.inlineData[0] = hold ? 1 : 0;
    rq.hasInlineData = true;
    return rq;
}

VendorRequest EepromWrite(uint16_t address, uint16_t length) {
    return Out(kReqEeprom, address, 0, length);
}

VendorRequest EepromRead(uint16_t address, uint16_t length) {
    return In(kReqEeprom, address, 0, length);
}

VendorRequest RequestB0() {
    return Status(kReqB0, 0, 0, kStatusOk0);
}
VendorRequest FirmwareVersion() {
    return In(kReqFirmwareVersion, 0, 0, 2);
}
VendorRequest StreamStart() {
    return Status(kReqStreamStart, 0, 0, kStatusOk0);
}
VendorRequest StreamStop() {
    return Status(kReqStreamStop, 0, 0, kStatusOk0);
}
VendorRequest DeviceType() {
    return In(kReqDeviceType, 0, 0, 2);
}
VendorRequest ResetFifo() {
    return Status(kReqResetFifo, 0, 0, kStatusOk0);
}

VendorRequest FlashErase(uint32_t sectorAddress) {
    VendorRequest rq = Out(kReqFlashCommand, 0, kFlashCmdErase, 4);
    for (int i = 0; i < 4; ++i) rq.inlineData[i] = static_cast<uint8_t>(sectorAddress >> (8 * i));
    rq.hasInlineData = true;
    return rq;
}

VendorRequest FlashCommand(uint16_t command) {
    return Out(kReqFlashCommand, 0, command, 0);
}

VendorRequest FlashRead(uint32_t address, uint16_t length) {
    return In(kReqFlashRead, static_cast<uint16_t>(address >> 16),
              static_cast<uint16_t>(address & 0xFFFF), length);
}

VendorRequest FlashWrite(uint32_t address, uint16_t length) {
    return Out(kReqFlashWrite, static_cast<uint16_t>(address >> 16),
               static_cast<uint16_t>(address & 0xFFFF), length);
}

VendorRequest SensorWrite(uint16_t reg, uint16_t value) {
    return Status(kReqSensorWrite, value, reg, kStatusOk8);
}

VendorRequest SensorRead(uint16_t reg) {
    return ValueAndStatus(kReqSensorRead, 0, reg, kStatusOk8);
}

VendorRequest SensorWrite8(uint8_t reg, uint8_t value) {
    return Status(kReqSensorWrite8, Pack(value, reg), 0, kStatusOk0);
}

VendorRequest I2cWrite(uint16_t address, size_t length, uint16_t index) {
    VendorRequest rq = Out(kReqI2c, address, index, static_cast<uint16_t>(length));
    rq.valid = length <= kI2cMax;
    return rq;
}

VendorRequest I2cRead(uint16_t address, size_t length, uint16_t index) {
    // The status byte comes first, the data after it.
    VendorRequest rq = In(kReqI2c, address, index, static_cast<uint16_t>(length + 1));
    rq.statusOffset = 0;
    rq.statusOk = kStatusOk8;
    rq.valid = length <= kI2cMax;
    return rq;
}

VendorRequest FpgaWrite(uint16_t reg, uint32_t value) {
    // FPGA registers are 16 bits wide: a wider value loses its high bits here.
    return Status(kReqFpgaWrite, static_cast<uint16_t>(value & 0xFFFF), reg, kStatusOk8);
}

VendorRequest FpgaRead(uint16_t reg) {
    return ValueAndStatus(kReqFpgaRead, 0, reg, kStatusOk8);
}

VendorRequest RequestD8(uint8_t a, uint8_t b) {
    return Status(kReqD8, Pack(b, a), 0, kStatusOk0);
}

VendorRequest CoolerWrite(uint16_t channel, uint16_t value) {
    return Status(kReqCoolerWrite, value, channel, kStatusOk8);
}

VendorRequest CoolerRead(uint16_t channel) {
    return ValueAndStatus(kReqCoolerRead, 0, channel, kStatusOk8);
}

VendorRequest CoolerSetup(uint8_t a, uint8_t b) {
    return Status(kReqCoolerSetup, Pack(b, a), 0, kStatusOk0);
}

VendorRequest GpioWrite(uint8_t pin, uint8_t level) {
    return Status(kReqGpioWrite, Pack(level, pin), 0, kStatusOk0);
}

VendorRequest GpioRead(uint8_t pin) {
    return In(kReqGpioRead, pin, 0, 1);
}

VendorRequest GpioMode(uint8_t pin, uint8_t mode) {
    return Status(kReqGpioMode, Pack(mode, pin), 0, kStatusOk0);
}

VendorRequest ConfigBegin() {
    return Status(kReqConfigPort, 0, kCfgBegin, kStatusOk0);
}
VendorRequest ConfigEnd() {
    return Status(kReqConfigPort, 0, kCfgEnd, kStatusOk0);
}

VendorRequest ConfigInstruction(uint8_t instruction, uint8_t parameter) {
    return Status(kReqConfigPort, Pack(parameter, instruction), kCfgInstruction, kStatusOk0);
}

VendorRequest ConfigReadBack(uint8_t length) {
    VendorRequest rq = In(kReqConfigPort, Pack(length, 0), kCfgData, length);
    rq.valid = length > 0;
    return rq;
}

VendorRequest ConfigWriteData(uint8_t code, uint16_t length) {
    return Out(kReqConfigPort, Pack(code, 0), kCfgData, length);
}

VendorRequest ConfigCheck() {
    return Status(kReqConfigPort, 0, kCfgCheck, kStatusOk0);
}

VendorRequest ConfigData(uint16_t flags, size_t length) {
    VendorRequest rq = Out(kReqConfigData, flags, 0, static_cast<uint16_t>(length));
    rq.valid = length <= kConfigChunkMax;
    return rq;
}

int ExecuteCommand(VendorTransfer transfer, const VendorRequest& rq) {
    uint8_t status = 0;
    return Execute(transfer, rq, &status);
}

int Execute(VendorTransfer transfer, const VendorRequest& rq, uint8_t* reply, const uint8_t* data) {
    if (!rq.valid) return CAMERA_STATUS_PARAMETER_INVALID;
    if (rq.direction == Direction::kIn) {
        // An IN request of length 0 cannot exist: the transfer operation would send it as OUT.
        if (rq.length == 0 || reply == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
        const int r = transfer(rq.request, rq.value, rq.index, rq.length, reply, 0, nullptr);
        if (r != CAMERA_STATUS_SUCCESS) return r;
        if (rq.statusOffset >= 0 && reply[rq.statusOffset] != rq.statusOk)
            return CAMERA_STATUS_IO_ERROR;
        return CAMERA_STATUS_SUCCESS;
    }
    const uint8_t* out = rq.hasInlineData ? rq.inlineData : data;
    if (rq.length > 0 && out == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    // The transfer operation takes a mutable pointer; an OUT transfer only reads it.
    return transfer(rq.request, rq.value, rq.index, 0, nullptr, rq.length,
                    rq.length ? const_cast<uint8_t*>(out) : nullptr);
}

int GetDeviceType(VendorTransfer transfer, uint16_t* type) {
    return ExecuteReadU16<2>(transfer, DeviceType(), type);
}

int GetFirmwareVersion(VendorTransfer transfer, uint16_t* version) {
    return ExecuteReadU16<2>(transfer, FirmwareVersion(), version);
}

int WriteSensorReg8(VendorTransfer transfer, uint8_t reg, uint8_t value) {
    return ExecuteCommand(transfer, SensorWrite8(reg, value));
}

int WriteSensorReg(VendorTransfer transfer, uint16_t reg, uint16_t value) {
    return ExecuteCommand(transfer, SensorWrite(reg, value));
}

int ReadSensorReg(VendorTransfer transfer, uint16_t reg, uint16_t* value) {
    return ExecuteReadU16<3>(transfer, SensorRead(reg), value);
}

int WriteFpgaReg(VendorTransfer transfer, uint16_t reg, uint32_t value) {
    return ExecuteCommand(transfer, FpgaWrite(reg, value));
}

int ReadFpgaReg(VendorTransfer transfer, uint16_t reg, uint32_t* value) {
    return ExecuteReadU16<3>(transfer, FpgaRead(reg), value);
}

int GetFpgaVersion(VendorTransfer transfer, uint16_t* version) {
    if (version == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    uint32_t value = 0;
    const int r = ReadFpgaReg(transfer, kFpgaVersionRegister, &value);
    if (r == CAMERA_STATUS_SUCCESS) *version = static_cast<uint16_t>(value);
    return r;
}

int I2CWrite(VendorTransfer transfer, uint16_t address, const uint8_t* data, size_t n) {
    return Execute(transfer, I2cWrite(address, n), nullptr, data);
}

int I2CRead(VendorTransfer transfer, uint16_t address, uint8_t* data, size_t n) {
    const VendorRequest rq = I2cRead(address, n);
    if (!rq.valid) return CAMERA_STATUS_PARAMETER_INVALID;
    uint8_t reply[kI2cMax + 1];
    const int r = Execute(transfer, rq, reply);
    if (r == CAMERA_STATUS_SUCCESS && data != nullptr) std::copy_n(reply + 1, n, data);
    return r;
}

int SetGpioMode(VendorTransfer transfer, uint8_t pin, uint8_t mode) {
    return ExecuteCommand(transfer, GpioMode(pin, mode));
}

int WriteGpio(VendorTransfer transfer, uint8_t pin, uint8_t level) {
    return ExecuteCommand(transfer, GpioWrite(pin, level));
}

int ReadGpio(VendorTransfer transfer, uint8_t pin, uint8_t* level) {
    if (level == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    uint8_t reply;
    const int r = Execute(transfer, GpioRead(pin), &reply);
    if (r == CAMERA_STATUS_SUCCESS) *level = reply;
    return r;
}

int WriteEEProm(VendorTransfer transfer, uint16_t address, const uint8_t* data, uint16_t len) {
    return Execute(transfer, EepromWrite(address, len), nullptr, data);
}

int ReadEEProm(VendorTransfer transfer, uint16_t address, uint8_t* data, uint16_t len) {
    if (len == 0) return CAMERA_STATUS_SUCCESS;
    if (data == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Execute(transfer, EepromRead(address, len), data);
}

int EraseFlashSector(VendorTransfer transfer, uint32_t address, uint8_t command) {
    VendorRequest rq = FlashErase(address);
    rq.index = command;
    return Execute(transfer, rq, nullptr);
}

int ReadFlash(VendorTransfer transfer, uint32_t address, uint16_t len, uint8_t* data) {
    if (len == 0) return CAMERA_STATUS_SUCCESS;
    if (data == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return Execute(transfer, FlashRead(address, len), data);
}

int WriteFlash(VendorTransfer transfer, uint32_t address, uint16_t len, const uint8_t* data) {
    return Execute(transfer, FlashWrite(address, len), nullptr, data);
}

int SendRequestD8(VendorTransfer transfer, uint8_t a, uint8_t b) {
    return ExecuteCommand(transfer, RequestD8(a, b));
}

int SendRequestB0(VendorTransfer transfer) {
    return ExecuteCommand(transfer, RequestB0());
}

int WriteSensorRegs(VendorTransfer transfer, std::span<const uint16_t> regAndVal, PauseFn pause) {
    QV_ASSERT(regAndVal.size() > 0 && (regAndVal.size() % 2) == 0);
    if (pause == nullptr) pause = SleepMs;
    for (size_t i = 0; i < regAndVal.size(); i += 2) {
        const uint16_t reg = regAndVal[i];
        const uint16_t value = regAndVal[i + 1];
        if (reg == kPauseRegister) {
            if (value != 0) pause(value);
            continue;
        }
        const int r = WriteSensorReg(transfer, reg, value);
        if (r != CAMERA_STATUS_SUCCESS) return r;
    }
    return CAMERA_STATUS_SUCCESS;
}

int WriteFpgaRegs(VendorTransfer transfer, std::span<const uint32_t> regAndVal) {
    QV_ASSERT(regAndVal.size() > 0 && (regAndVal.size() % 2) == 0);
    for (size_t i = 0; i < regAndVal.size(); i += 2) {
        const int r = WriteFpgaReg(transfer, static_cast<uint16_t>(regAndVal[i]), regAndVal[i + 1]);
        if (r != CAMERA_STATUS_SUCCESS) return r;
    }
    return CAMERA_STATUS_SUCCESS;
}

int WriteFpgaRegsAll(VendorTransfer transfer, std::span<const uint32_t> regAndVal) {
    QV_ASSERT(regAndVal.size() > 0 && (regAndVal.size() % 2) == 0);
    int result = CAMERA_STATUS_SUCCESS;
    for (size_t i = 0; i < regAndVal.size(); i += 2)
        result |= WriteFpgaReg(transfer, static_cast<uint16_t>(regAndVal[i]), regAndVal[i + 1]);
    return result;
}

int FpgaConfigWrite(VendorTransfer transfer, const uint8_t* data, size_t length) {
    if (length == 0) return CAMERA_STATUS_FAILED;
    if (data == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    for (size_t offset = 0; offset < length; offset += kConfigChunkMax) {
        const size_t chunk = std::min(kConfigChunkMax, length - offset);
        if (Execute(transfer, ConfigData(0, chunk), nullptr, data + offset) !=
            CAMERA_STATUS_SUCCESS)
            return CAMERA_STATUS_IO_ERROR;
    }
    return CAMERA_STATUS_SUCCESS;
}

std::string FirmwareVersionText(uint16_t version) {
    char text[24];
    std::snprintf(text, sizeof text, "v%hu.%hu.%hu.%hu", static_cast<unsigned short>(version >> 12),
                  static_cast<unsigned short>((version >> 8) & 0xF),
                  static_cast<unsigned short>((version >> 4) & 0xF),
                  static_cast<unsigned short>(version & 0xF));
    return text;
}

}  // namespace qv::usb
