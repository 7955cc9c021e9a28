// imginf: the leading operations of the camera device (CJNDevice), and all that a sensor driver
// sees of it: identity, sensor and FPGA registers, I2C, GPIO, FPGA configuration, clocks, the
// FPGA image window, trigger and strobe. The USB and GigE devices implement them.
//
// Contract for every operation below (unless its line says otherwise):
// - 0 on success or a negative status of QVDeviceDef.h; a null out pointer gives
//   CAMERA_STATUS_PARAMETER_INVALID; a device that is not open gives
//   CAMERA_STATUS_HARDWARE_NOT_FOUND; a failed transfer gives the transport's error.
// - Called with the caller's attachment mutex held (the controller's, or the device's own
//   during open and stream open), one call at a time per device. Implementations may take the
//   device's own recursive mutexes; they must not call back into the controller.
// - The register operations block for at most one transfer time-out per request.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>

#include "QVDeviceDef.h"

enum SensorTypeE : int32_t;

class imginf {
  public:
    virtual ~imginf() = default;

    // ---- Identity and storage (sensor drivers never call these) ----
    virtual bool CheckAlive() = 0;  // true while the device answers
    // 16-bit device type: 0x1201 USB 2.0, 0x1301 USB 3.0, 0x2001 GigE.
    virtual int GetDeviceType(uint16_t* type) = 0;
    virtual int GetSN(char* sn) = 0;  // the 32-byte serial number read at open
    // Four 4-bit fields, major in the top nibble.
    virtual int GetFirmwareVersion(uint16_t* version) = 0;
    virtual int DevWriteSN(uint8_t* sn, INT level) = 0;
    virtual int DevReadSN(uint8_t* sn, INT level) = 0;  // levels 0, 1, 2
    virtual int DevSaveUserData(uint32_t offset, uint8_t* data, int len) = 0;
    virtual int DevLoadUserData(uint32_t offset, uint8_t* data, int len) = 0;
    virtual int DevSaveBadPixelTable(uint8_t* data, int len) = 0;
    virtual int DevLoadBadPixelTable(uint8_t* data, int len) = 0;
    virtual int DevGetFriendlyName(char* name) = 0;
    virtual int DevSetFriendlyName(char* name) = 0;

    // ---- Sensor bus ----
    // Selects the bus address and the access widths (high nibble data bytes, low nibble
    // register-address bytes) for the following sensor register accesses.
    virtual int SetSensorBus(uint8_t address, uint8_t widths) = 0;
    virtual int WriteSensorReg(uint16_t reg, uint16_t value) = 0;
    // (register, value) pairs, even count above 0 (a broken invariant otherwise); register
    // 0xFFFF is a pause of value milliseconds (0: none), carried out in order. Stops at and
    // returns the first failure.
    virtual int WriteSensorRegs(std::span<const uint16_t> regAndVal) = 0;
    int WriteSensorRegs(std::initializer_list<uint16_t> regAndVal) {
        return WriteSensorRegs(std::span<const uint16_t>(regAndVal.begin(), regAndVal.size()));
    }
    virtual int ReadSensorReg(uint16_t reg, uint16_t* value) = 0;

    // ---- FPGA registers ----
    virtual int WriteFpgaReg(uint16_t reg, uint32_t value) = 0;
    // (register, value) pairs, even count above 0; stops at the first failure.
    virtual int WriteFpgaRegs(std::span<const uint32_t> regAndVal) = 0;
    int WriteFpgaRegs(std::initializer_list<uint32_t> regAndVal) {
        return WriteFpgaRegs(std::span<const uint32_t>(regAndVal.begin(), regAndVal.size()));
    }
    virtual int ReadFpgaReg(uint16_t reg, uint32_t* value) = 0;

    // ---- Raw I2C on the sensor bus, GPIO ----
    virtual int I2CWrite(uint8_t address, uint8_t* data, uint8_t len) = 0;
    virtual int I2CRead(uint8_t address, uint8_t* data, uint8_t len) = 0;
    virtual int SetGpioMode(uint8_t pin, uint8_t mode) = 0;
    virtual int WriteGpio(uint8_t pin, uint8_t level) = 0;
    virtual int ReadGpio(uint8_t pin, uint8_t* level) = 0;

    // ---- FPGA configuration (no-ops answering 0 on GigE) ----
    virtual int FpgaConfigBegin() = 0;
    virtual int FpgaConfigEnd() = 0;
    virtual int FpgaConfigWrite(uint8_t* data, uint32_t len) = 0;
    // Makes sure the FPGA runs the image for the hardware type and this sensor type;
    // CAMERA_STATUS_FPGA_ERROR on an FPGA error.
    virtual int LoadFpga(SensorTypeE type) = 0;
    // The hardware type derived at open from the property record (0 = none known); no traffic.
    virtual int GetHardwareType() = 0;
    virtual int GetFpgaVersion(uint16_t* version) = 0;
    virtual int StartStream() = 0;
    virtual int StopStream() = 0;

    // ---- Clock and FPGA image path ----
    virtual int SetPll(uint8_t v1, uint8_t v2, uint8_t v3, uint8_t v4, uint8_t v5, uint8_t v6,
                       uint8_t v7, uint8_t v8) = 0;
    virtual int SetFpgaImageEnable(uint8_t flag, int value) = 0;
    virtual int SetSensorInterface(uint16_t control) = 0;
    // FPGA image window; bits is 8 or 16 per pixel.
    virtual int SetImageWindow(uint16_t x, uint16_t y, uint16_t width, uint16_t height,
                               uint16_t fovWidth, uint16_t fovHeight, uint8_t bits) = 0;
    virtual int SetImageTiming(uint16_t a, uint16_t b, uint8_t c) = 0;
    virtual int SetFrameBuffer(uint32_t start, uint32_t end, uint32_t frameStep, uint8_t mode) = 0;
    virtual int SetFpgaPixelFormat(uint32_t mediaType) = 0;  // no-op 0 on USB

    // ---- Trigger and strobe ----
    virtual int SetTriggerTiming(uint16_t a, uint16_t b) = 0;
    virtual int SetTriggerFrameCount(uint32_t count) = 0;
    virtual int SetTriggerJitterTime(int line, uint32_t time) = 0;
    virtual int SetTriggerDelayTime(uint32_t time) = 0;
    // Writes the trigger control word: mode << 6 | (flag != 0) << 4 | source << 1 | (enable != 0).
    virtual int SetTriggerControl(uint16_t mode, uint16_t source, uint16_t flag,
                                  uint16_t enable) = 0;
    // Reads it back as word >> 6, bits 1-3, bit 4 and bit 0; null pointers are skipped.
    virtual int GetTriggerControl(uint16_t* mode, uint16_t* source, uint16_t* flag,
                                  uint16_t* enable) = 0;
    virtual int SetStrobeMode(int line, int mode) = 0;
    virtual int SetStrobeDelayTime(int line, uint32_t time) = 0;
    virtual int SetStrobePolarity(int line, int polarity) = 0;
    virtual int SetStrobePulseWidth(int line, uint32_t width) = 0;
    virtual int SendSoftTrigger() = 0;
    virtual int ResetTimestamp() = 0;
};
