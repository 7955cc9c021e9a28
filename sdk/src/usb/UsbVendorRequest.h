// The vendor request protocol of the USB cameras: how each operation is put on endpoint 0 and how
// its reply is read. Everything here is pure; the device class supplies the one control transfer
// (VendorTransfer) and gets the register, I2C, GPIO, storage and configuration operations on it.
//
// Wire conventions: bmRequestType 0xC0 when the request reads (IN length non-zero), 0x40
// otherwise; 2000 ms per request; reply values little-endian. Many IN requests carry their whole
// command in wValue and wIndex and read back one status byte whose success value is fixed per
// request (8 for the register and channel requests, 0 for the others).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <type_traits>

#include "QVDeviceDef.h"

namespace qv::usb {

inline constexpr uint8_t kRequestTypeIn = 0xC0;
inline constexpr uint8_t kRequestTypeOut = 0x40;
inline constexpr unsigned kControlTimeoutMs = 2000;

// Request codes.
inline constexpr uint8_t kReqCpuReset = 0xA0;
inline constexpr uint8_t kReqEeprom = 0xA9;
inline constexpr uint8_t kReqB0 = 0xB0;
inline constexpr uint8_t kReqFirmwareVersion = 0xB6;
inline constexpr uint8_t kReqStreamStart = 0xB7;
inline constexpr uint8_t kReqStreamStop = 0xB8;
inline constexpr uint8_t kReqDeviceType = 0xB9;
inline constexpr uint8_t kReqResetFifo = 0xBB;
inline constexpr uint8_t kReqFlashCommand = 0xBC;
inline constexpr uint8_t kReqFlashRead = 0xBD;
inline constexpr uint8_t kReqFlashWrite = 0xBE;
inline constexpr uint8_t kReqSensorWrite = 0xD0;
inline constexpr uint8_t kReqSensorRead = 0xD1;
inline constexpr uint8_t kReqSensorWrite8 = 0xD3;
inline constexpr uint8_t kReqI2c = 0xD4;
inline constexpr uint8_t kReqFpgaWrite = 0xD6;
inline constexpr uint8_t kReqFpgaRead = 0xD7;
inline constexpr uint8_t kReqD8 = 0xD8;
inline constexpr uint8_t kReqCoolerWrite = 0xDA;
inline constexpr uint8_t kReqCoolerRead = 0xDB;
inline constexpr uint8_t kReqCoolerSetup = 0xDC;
inline constexpr uint8_t kReqGpioWrite = 0xE0;
inline constexpr uint8_t kReqGpioRead = 0xE1;
inline constexpr uint8_t kReqGpioMode = 0xE2;
inline constexpr uint8_t kReqConfigPort = 0xE3;
inline constexpr uint8_t kReqConfigData = 0xE4;

// wValue of the CPU reset request: the address of the USB controller's CPU control register.
inline constexpr uint16_t kCpuResetRegister = 0xE600;

inline constexpr uint16_t kFpgaVersionRegister = 129;

// wIndex of the configuration port request 0xE3.
inline constexpr uint16_t kCfgBegin = 160;
inline constexpr uint16_t kCfgEnd = 161;
inline constexpr uint16_t kCfgInstruction = 162;
inline constexpr uint16_t kCfgData = 163;
inline constexpr uint16_t kCfgCheck = 164;

// wIndex of request 0xBC: 0 erases the sector whose address follows as 4 data bytes; the
// FPGA flash-boot sequence sends 4, 3 and 5 without data.
inline constexpr uint16_t kFlashCmdErase = 0;

inline constexpr uint8_t kStatusOk0 = 0;
inline constexpr uint8_t kStatusOk8 = 8;

// Largest chunk of FPGA configuration data per request, and largest I2C transfer (the reply
// length of a read is n + 1 and must stay a valid IN length).
inline constexpr size_t kConfigChunkMax = 1024;
inline constexpr size_t kI2cMax = 255;

// Register word that turns an entry of a sensor register list into a pause of value ms.
inline constexpr uint16_t kPauseRegister = 0xFFFF;

enum class Direction : uint8_t { kOut, kIn };

// One vendor request, fully encoded.
struct VendorRequest {
    uint8_t request = 0;
    uint16_t value = 0;
    uint16_t index = 0;
    Direction direction = Direction::kIn;
    uint16_t length = 0;         // wLength: the reply length (IN) or the data length (OUT)
    int statusOffset = -1;       // position of the status byte in the reply; -1: none
    uint8_t statusOk = 0;        // the status value that means success
    uint8_t inlineData[4] = {};  // OUT data the encoder builds itself (reset byte, sector address)
    bool hasInlineData = false;
    bool valid = true;  // false: the arguments cannot be carried on the wire

    uint8_t RequestType() const {
        return direction == Direction::kIn ? kRequestTypeIn : kRequestTypeOut;
    }
};

// The device's one vendor control transfer (the shape of CUsbCamera::Ioctl): IN when inLen is
// non-zero, otherwise OUT with outLen bytes (possibly none). 0 only when every byte asked for
// moved; -13 for a failed or short transfer; -56 when the device is not open.
// A non-owning reference to any callable of that shape.
class VendorTransfer {
  public:
    template <class F>
    requires(!std::is_same_v<std::remove_cv_t<F>, VendorTransfer>)
        VendorTransfer(F& f)  // NOLINT: implicit by design, like a function reference
        : m_target(&f),
          m_call([](void* t, uint8_t request, uint16_t value, uint16_t index, uint16_t inLen,
                    uint8_t* inBuf, uint16_t outLen, uint8_t* outBuf) {
              return (*static_cast<F*>(t))(request, value, index, inLen, inBuf, outLen, outBuf);
          }) {}

    int operator()(uint8_t request, uint16_t value, uint16_t index, uint16_t inLen, uint8_t* inBuf,
                   uint16_t outLen, uint8_t* outBuf) const {
        return m_call(m_target, request, value, index, inLen, inBuf, outLen, outBuf);
    }

  private:
    void* m_target;
    int (*m_call)(void*, uint8_t, uint16_t, uint16_t, uint16_t, uint8_t*, uint16_t, uint8_t*);
};

// Result of a control transfer for the transfer operation: transferred is what the USB stack
// reported (bytes moved, or a negative error). A transfer that moved fewer bytes than requested
// failed just as one the stack reported as failed, so nothing is ever read from reply bytes the
// device did not send.
int CheckTransferred(uint16_t requested, int transferred);

// Encoders, in the order of the request table.
VendorRequest CpuReset(bool hold);
VendorRequest EepromWrite(uint16_t address, uint16_t length);
VendorRequest EepromRead(uint16_t address, uint16_t length);
VendorRequest RequestB0();
VendorRequest FirmwareVersion();
VendorRequest StreamStart();
VendorRequest StreamStop();
VendorRequest DeviceType();
VendorRequest ResetFifo();
VendorRequest FlashErase(uint32_t sectorAddress);
VendorRequest FlashCommand(uint16_t command);  // the data-less commands (3, 4, 5)
VendorRequest FlashRead(uint32_t address, uint16_t length);
VendorRequest FlashWrite(uint32_t address, uint16_t length);
VendorRequest SensorWrite(uint16_t reg, uint16_t value);
VendorRequest SensorRead(uint16_t reg);
VendorRequest SensorWrite8(uint8_t reg, uint8_t value);
// I2C on bus address `address`; wIndex 0 unless a caller needs another (the USB 2.0 upgrade
// selects the stop condition with it).
VendorRequest I2cWrite(uint16_t address, size_t length, uint16_t index = 0);
VendorRequest I2cRead(uint16_t address, size_t length, uint16_t index = 0);
VendorRequest FpgaWrite(uint16_t reg, uint32_t value);  // only the low 16 bits go out
VendorRequest FpgaRead(uint16_t reg);
VendorRequest RequestD8(uint8_t a, uint8_t b);
VendorRequest CoolerWrite(uint16_t channel, uint16_t value);
VendorRequest CoolerRead(uint16_t channel);
VendorRequest CoolerSetup(uint8_t a, uint8_t b);
VendorRequest GpioWrite(uint8_t pin, uint8_t level);
VendorRequest GpioRead(uint8_t pin);
VendorRequest GpioMode(uint8_t pin, uint8_t mode);
VendorRequest ConfigBegin();
VendorRequest ConfigEnd();
VendorRequest ConfigInstruction(uint8_t instruction, uint8_t parameter);
VendorRequest ConfigReadBack(uint8_t length);
VendorRequest ConfigWriteData(uint8_t code, uint16_t length);
VendorRequest ConfigCheck();
VendorRequest ConfigData(uint16_t flags, size_t length);

// Little-endian 16-bit value at the start of a reply.
constexpr uint16_t ReplyU16(const uint8_t* reply) {
    return static_cast<uint16_t>(reply[0] | (reply[1] << 8));
}

// Sends one request. IN: reply receives rq.length bytes; the status byte, where the request has
// one, must hold its success value. OUT: the encoder's own data when it built some, else data
// (rq.length bytes). 0, -6 for a request the wire cannot carry, -13 for a failed transfer or a
// wrong status, or the transfer's own code (-56).
int Execute(VendorTransfer transfer, const VendorRequest& rq, uint8_t* reply,
            const uint8_t* data = nullptr);

// Sends a request whose reply is its one status byte.
int ExecuteCommand(VendorTransfer transfer, const VendorRequest& rq);

// Sends an IN request whose reply (kReplyBytes long) begins with a 16-bit value and stores the
// value on success; -6 for a null value, before anything is sent.
template <size_t kReplyBytes, typename T>
int ExecuteReadU16(VendorTransfer transfer, const VendorRequest& rq, T* value) {
    static_assert(kReplyBytes >= 2);
    if (value == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    uint8_t reply[kReplyBytes];
    const int r = Execute(transfer, rq, reply);
    if (r == CAMERA_STATUS_SUCCESS) *value = ReplyU16(reply);
    return r;
}

// The operations built on the transfer. Each returns 0 on success, -13 for a failed transfer or
// a wrong status byte, -6 for a missing output pointer where one is required; an output is
// written only on success.
int GetDeviceType(VendorTransfer transfer, uint16_t* type);
int GetFirmwareVersion(VendorTransfer transfer, uint16_t* version);
int WriteSensorReg8(VendorTransfer transfer, uint8_t reg, uint8_t value);
// The same request as the sensor drivers see it: it selects the sensor bus address and the
// access widths (high nibble data bytes, low nibble register bytes) of the accesses that follow.
inline int SetSensorBus(VendorTransfer transfer, uint8_t address, uint8_t widths) {
    return WriteSensorReg8(transfer, address, widths);
}
int WriteSensorReg(VendorTransfer transfer, uint16_t reg, uint16_t value);
int ReadSensorReg(VendorTransfer transfer, uint16_t reg, uint16_t* value);
int WriteFpgaReg(VendorTransfer transfer, uint16_t reg, uint32_t value);
int ReadFpgaReg(VendorTransfer transfer, uint16_t reg, uint32_t* value);
// The FPGA's version word, its register 129.
int GetFpgaVersion(VendorTransfer transfer, uint16_t* version);
// n at most 255 (-6 beyond). A read with a null buffer still transfers and checks the status.
int I2CWrite(VendorTransfer transfer, uint16_t address, const uint8_t* data, size_t n);
int I2CRead(VendorTransfer transfer, uint16_t address, uint8_t* data, size_t n);
int SetGpioMode(VendorTransfer transfer, uint8_t pin, uint8_t mode);
int WriteGpio(VendorTransfer transfer, uint8_t pin, uint8_t level);
int ReadGpio(VendorTransfer transfer, uint8_t pin, uint8_t* level);
// Storage. A read of 0 bytes moves nothing and succeeds (the transfer operation would otherwise
// send it as a write).
int WriteEEProm(VendorTransfer transfer, uint16_t address, const uint8_t* data, uint16_t len);
int ReadEEProm(VendorTransfer transfer, uint16_t address, uint8_t* data, uint16_t len);
int EraseFlashSector(VendorTransfer transfer, uint32_t address, uint8_t command);
int ReadFlash(VendorTransfer transfer, uint32_t address, uint16_t len, uint8_t* data);
int WriteFlash(VendorTransfer transfer, uint32_t address, uint16_t len, const uint8_t* data);
int SendRequestD8(VendorTransfer transfer, uint8_t a, uint8_t b);
int SendRequestB0(VendorTransfer transfer);

// Sensor register list: (register, value) pairs in order; register 0xFFFF is a pause of value ms
// (0: none). The first failing write ends the walk with its code. The list must be non-empty and
// of even length.
using PauseFn = void (*)(unsigned ms);
int WriteSensorRegs(VendorTransfer transfer, std::span<const uint16_t> regAndVal,
                    PauseFn pause = nullptr);
// FPGA register list: (register, value) pairs, no pause entries; the first failure ends it.
int WriteFpgaRegs(VendorTransfer transfer, std::span<const uint32_t> regAndVal);
// Writes every pair whatever the single results and reports their bitwise or: 0 exactly when all
// succeeded. For the settings that span several FPGA registers.
int WriteFpgaRegsAll(VendorTransfer transfer, std::span<const uint32_t> regAndVal);

// FPGA configuration data in consecutive chunks of at most 1024 bytes (wValue 0); -1 for an empty
// buffer, -13 when a chunk fails.
int FpgaConfigWrite(VendorTransfer transfer, const uint8_t* data, size_t length);

// "v%hu.%hu.%hu.%hu" of the four 4-bit fields of a firmware version word, highest first.
std::string FirmwareVersionText(uint16_t version);

}  // namespace qv::usb
