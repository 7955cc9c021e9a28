// The sensor driver interface. A driver is owned by its device (CJNDevice) and reaches the
// hardware only through the device's imginf operations, by the forwarders below. Drivers take
// no locks and start no threads of their own (timer-driven long exposure aside): every call
// arrives serialised by the attachment and device mutexes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

#include "QVDeviceDef.h"
#include "device/imginf.h"

struct CameraInitParam;

// The sensor type code kept in the camera's storage; it selects the driver. Colour and mono
// variants of one chip share a driver class. Codes 0, 44, 45, 60 to 63 and above 74 are unknown.
enum SensorTypeE : int32_t {
    SENSOR_TYPE_UNKNOWN = 0,
    SENSOR_TYPE_MT9T001 = 1,
    SENSOR_TYPE_AR0130 = 2,
    SENSOR_TYPE_MT9P031C = 3,
    SENSOR_TYPE_MT9P031M = 4,
    SENSOR_TYPE_MT9V024C = 5,
    SENSOR_TYPE_MT9V024M = 6,
    SENSOR_TYPE_MT9M001 = 7,
    SENSOR_TYPE_MT9J003C = 8,
    SENSOR_TYPE_MT9J003M = 9,
    SENSOR_TYPE_AR0134M = 10,
    SENSOR_TYPE_AR0134C = 11,
    SENSOR_TYPE_MT9M001_B = 12,
    SENSOR_TYPE_IMX290C_AST = 13,
    SENSOR_TYPE_IMX290C = 14,
    SENSOR_TYPE_OV5640 = 15,
    SENSOR_TYPE_IMX206 = 16,
    SENSOR_TYPE_IMX178C = 17,
    SENSOR_TYPE_OV7725 = 18,
    SENSOR_TYPE_AR0234M = 19,
    SENSOR_TYPE_AR0234C = 20,
    SENSOR_TYPE_IMX178M = 21,
    SENSOR_TYPE_IMX183C = 22,
    SENSOR_TYPE_IMX183M = 23,
    SENSOR_TYPE_EV76C560C = 24,
    SENSOR_TYPE_EV76C560M = 25,
    SENSOR_TYPE_EV76C570C = 26,
    SENSOR_TYPE_EV76C570M = 27,
    SENSOR_TYPE_PYTHON1300C = 28,
    SENSOR_TYPE_PYTHON1300M = 29,
    SENSOR_TYPE_IMX226C = 30,
    SENSOR_TYPE_IMX226M = 31,
    SENSOR_TYPE_IMX264C = 32,
    SENSOR_TYPE_IMX264M = 33,
    SENSOR_TYPE_IMX265C = 34,
    SENSOR_TYPE_IMX265M = 35,
    SENSOR_TYPE_IMX290M_AST = 36,
    SENSOR_TYPE_IMX290M = 37,
    SENSOR_TYPE_IMX533C = 38,
    SENSOR_TYPE_IMX294C = 39,
    SENSOR_TYPE_IMX335C = 40,
    SENSOR_TYPE_IMX335M = 41,
    SENSOR_TYPE_IMX297C = 42,
    SENSOR_TYPE_IMX297M = 43,
    SENSOR_TYPE_IMX287C = 46,
    SENSOR_TYPE_IMX287M = 47,
    SENSOR_TYPE_IMX296C = 48,
    SENSOR_TYPE_IMX296M = 49,
    SENSOR_TYPE_IMX290C_WDR = 50,
    SENSOR_TYPE_IMX225C = 51,
    SENSOR_TYPE_AR0144 = 52,
    SENSOR_TYPE_SC130GSC = 53,
    SENSOR_TYPE_SC130GSM = 54,
    SENSOR_TYPE_IMX392C = 55,
    SENSOR_TYPE_IMX392M = 56,
    SENSOR_TYPE_IMX990I = 57,
    SENSOR_TYPE_IMX487U = 58,
    SENSOR_TYPE_IMX991I = 59,
    SENSOR_TYPE_AR0521C = 64,
    SENSOR_TYPE_AR0521M = 65,
    SENSOR_TYPE_AR0522M = 66,
    SENSOR_TYPE_JXF28PC = 67,
    SENSOR_TYPE_IMX335C_B = 68,
    SENSOR_TYPE_IMX335M_B = 69,
    SENSOR_TYPE_IMX377C = 70,
    SENSOR_TYPE_AR0135C = 71,
    SENSOR_TYPE_AR0135M = 72,
    SENSOR_TYPE_IMX992I = 73,
    SENSOR_TYPE_IMX577C = 74,
};

// Type, model name and family text of a sensor (68 bytes); also copied into the public
// device information.
struct SensorInfo {
    int32_t type;   // the SensorTypeE asked for
    char name[32];  // model name, e.g. "IMX290C"
    char kind[32];  // family text, e.g. "CMOS_2M"
};
static_assert(sizeof(SensorInfo) == 68);

// Sensor limits (37 words). The eight words from maxHeight on are copied into the property
// record's sensorLimits; the first fourteen into the capability's sensor block.
struct SensorParam {
    uint32_t aeTargetMin;  // the controller clamps the AE target to these
    uint32_t aeTargetMax;
    uint32_t analogGainMin;  // thousandths
    uint32_t analogGainMax;
    uint32_t expLinesMin;
    uint32_t expLinesMax;
    uint32_t maxHeight;
    uint32_t minHeight;
    uint32_t maxWidth;
    uint32_t minWidth;
    // Bit 0 allows reduction by 2, bit 1 by 3, bit 2 by 4 (skipping: the resolution's uModeC).
    uint32_t reductionModeMask;
    uint32_t reductionModeMaskA;  // the same for uModeA (binning)
    uint32_t reductionModeMaskB;  // the same for uModeB (binning)
    uint32_t word13;
    uint32_t reserved[22];  // zero unless a driver family says otherwise
    int32_t lastWord;
};
static_assert(sizeof(SensorParam) == 37 * 4);
static_assert(offsetof(SensorParam, maxHeight) == 24);
static_assert(offsetof(SensorParam, reductionModeMask) == 40);

// What a sensor can do. The caller presets the defaults noted, then GetCapability overwrites
// what the driver knows.
struct SensorCapability {
    uint8_t isMono = 0;       // 1 for a mono chip or mono variant
    uint32_t driverWord = 0;  // set to 1 by every driver, read by nobody
    uint32_t unusedWord = 0;
    uint32_t defaultResolutionIndex = 0;
    uint64_t presetMask = 0;        // bit n: preset resolution n offered
    uint32_t defaultRedGain = 100;  // hundredths
    uint32_t defaultGreenGain = 100;
    uint32_t defaultBlueGain = 100;
    std::vector<uint32_t> supportMediaType;  // raw media types; the first is the default
    uint8_t wdrSupported = 0;
    uint8_t aeTargetOnSensor = 0;  // the sensor runs its own exposure control
    uint32_t defaultAeTarget = 100;
    uint32_t defaultBlackLevel = 0;
};

class SensorInf {
  public:
    // A null device is a broken invariant.
    SensorInf(SensorTypeE type, imginf* inf);
    virtual ~SensorInf();

    SensorInf(const SensorInf&) = delete;
    SensorInf& operator=(const SensorInf&) = delete;

    // ---- The driver operations (slot order). 0 on success unless noted. ----
    virtual int Reset() = 0;
    virtual int Init(CameraInitParam* param) = 0;
    virtual int Uninit() = 0;
    virtual int SetAuxValue(int value) = 0;
    virtual int GetLineTime(int* ns) = 0;
    virtual int SetExposureLines(uint32_t lines) = 0;
    virtual int SetExposure(double us) = 0;
    virtual int GetExposure(double* us) = 0;
    virtual int GetExposureLineTime(double* us) = 0;
    virtual int SetFrameTime(double us);  // default 0: only one driver acts on it
    virtual int GetFrameTime(double* us) = 0;
    virtual int SetFrameSpeed(int speed) = 0;  // 0, 1, 2; else -6
    virtual int GetFrameSpeed(int* speed) = 0;
    virtual int GetFrameTimeRange(int* min, int* max);  // default 0: only one driver acts
    virtual int SetAuxPair(int a, unsigned b);          // default 0
    virtual int GetAnalogGainRange(int* min, int* max) = 0;
    virtual int SetAnalogGain(uint32_t gain) = 0;  // thousandths
    virtual int GetAnalogGain(int* gain) = 0;
    virtual int SetBlackLevel(uint32_t level) = 0;
    virtual int GetBlackLevel(int* level) = 0;
    virtual int SetWdrMode(int mode);   // default -4
    virtual int GetWdrMode(int* mode);  // default: stores 0, -4
    virtual int StreamOn() = 0;
    virtual int StreamOff() = 0;
    virtual int SetTriggerMode(int mode) = 0;  // 0 continuous, 1 software, 2 hardware
    virtual int SoftTrigger() = 0;
    virtual int GetInfo(SensorInfo* info) = 0;           // -6 for null
    virtual int GetSensorParam(SensorParam* param) = 0;  // -6 for null
    virtual int GetImageInfo(stImageInfo* info) = 0;     // -6 for null
    virtual int SetResolution(tSdkResolution* res) = 0;
    virtual int GetResolution(tSdkResolution* res) = 0;
    virtual int SetRoiOffset(int x, int y);      // default 0, nothing done
    virtual int SetAeTarget(int target);         // default -4
    virtual int GetTemperature(float* celsius);  // default -4
    virtual void GetCapability(SensorCapability& cap) = 0;

    // ---- Factory, keyed by the sensor type code. ----
    // A new driver bound to the device after the chip's identity check, or null (unknown code
    // or failed check; the device then reports CAMERA_STATUS_NO_SENSOR).
    static SensorInf* CreateSensor(SensorTypeE type, imginf* inf);
    // Whether the chip answers its identity check (true for codes without a check).
    static bool ProbeSensor(SensorTypeE type, imginf* inf);
    // A new driver without any check, or null for an unknown code. Construction never touches
    // the hardware, so the device uses such drivers to read limits and capability.
    static SensorInf* NewSensor(SensorTypeE type, imginf* inf);
    // 0 and the record filled; CAMERA_STATUS_NO_SENSOR with all 68 bytes zero for an unknown code.
    static int GetSensorInfo(SensorTypeE type, SensorInfo* info);

  protected:
    // ---- Helpers every driver uses. ----
    // Takes mediaType when the driver's capability lists it, else the first listed format (the
    // 8-bit default when none is listed), with a log line; sets m_pixelFormat and m_bitMode.
    // Always 0. Calls the virtual GetCapability: call it from the most-derived constructor.
    int SetPixelFormat(uint32_t mediaType);
    // FPGA image window, frame-buffer ring (whole frames on 1 MiB steps below
    // frameBufferLimit) and FPGA pixel format, on the hardware types with an image window;
    // 0 without action on the others.
    int SetupImageWindow(unsigned x, unsigned y, unsigned width, unsigned height, unsigned fovWidth,
                         unsigned fovHeight, unsigned frameBufferLimit, unsigned frameBufferMode);
    static unsigned GetFrameBufferMode(unsigned mode);  // 1 to 3 unchanged, else 0

    // ---- The road to the hardware: the device's imginf operations, results unchanged. ----
    bool CheckAlive() { return m_inf->CheckAlive(); }
    int GetDeviceType(uint16_t* type) { return m_inf->GetDeviceType(type); }
    int GetSN(char* sn) { return m_inf->GetSN(sn); }
    int GetFirmwareVersion(uint16_t* version) { return m_inf->GetFirmwareVersion(version); }
    int DevWriteSN(uint8_t* sn, INT level) { return m_inf->DevWriteSN(sn, level); }
    int DevReadSN(uint8_t* sn, INT level) { return m_inf->DevReadSN(sn, level); }
    int DevSaveUserData(uint32_t offset, uint8_t* data, int len) {
        return m_inf->DevSaveUserData(offset, data, len);
    }
    int DevLoadUserData(uint32_t offset, uint8_t* data, int len) {
        return m_inf->DevLoadUserData(offset, data, len);
    }
    int DevGetFriendlyName(char* name) { return m_inf->DevGetFriendlyName(name); }
    int DevSetFriendlyName(char* name) { return m_inf->DevSetFriendlyName(name); }
    int SetSensorBus(uint8_t address, uint8_t widths) {
        return m_inf->SetSensorBus(address, widths);
    }
    int WriteSensorReg(uint16_t reg, uint16_t value) { return m_inf->WriteSensorReg(reg, value); }
    int WriteSensorRegs(std::initializer_list<uint16_t> regAndVal) {
        return m_inf->WriteSensorRegs(regAndVal);
    }
    int WriteSensorRegs(std::span<const uint16_t> regAndVal) {
        return m_inf->WriteSensorRegs(regAndVal);
    }
    int ReadSensorReg(uint16_t reg, uint16_t* value) { return m_inf->ReadSensorReg(reg, value); }
    int WriteFpgaReg(uint16_t reg, uint32_t value) { return m_inf->WriteFpgaReg(reg, value); }
    int WriteFpgaRegs(std::initializer_list<uint32_t> regAndVal) {
        return m_inf->WriteFpgaRegs(regAndVal);
    }
    int WriteFpgaRegs(std::span<const uint32_t> regAndVal) {
        return m_inf->WriteFpgaRegs(regAndVal);
    }
    int ReadFpgaReg(uint16_t reg, uint32_t* value) { return m_inf->ReadFpgaReg(reg, value); }
    int SetGpioMode(uint8_t pin, uint8_t mode) { return m_inf->SetGpioMode(pin, mode); }
    int WriteGpio(uint8_t pin, uint8_t level) { return m_inf->WriteGpio(pin, level); }
    int GetHardwareType() { return m_inf->GetHardwareType(); }
    int SetPll(uint8_t v1, uint8_t v2, uint8_t v3, uint8_t v4, uint8_t v5, uint8_t v6, uint8_t v7,
               uint8_t v8) {
        return m_inf->SetPll(v1, v2, v3, v4, v5, v6, v7, v8);
    }
    int SetFpgaImageEnable(uint8_t flag, int value = 0) {
        return m_inf->SetFpgaImageEnable(flag, value);
    }
    int SetSensorInterface(uint16_t control) { return m_inf->SetSensorInterface(control); }
    int SetImageWindow(uint16_t x, uint16_t y, uint16_t width, uint16_t height, uint16_t fovWidth,
                       uint16_t fovHeight, uint8_t bits) {
        return m_inf->SetImageWindow(x, y, width, height, fovWidth, fovHeight, bits);
    }
    int SetImageTiming(uint16_t a, uint16_t b, uint8_t c) { return m_inf->SetImageTiming(a, b, c); }
    int SetFrameBuffer(uint32_t start, uint32_t end, uint32_t frameStep, uint8_t mode) {
        return m_inf->SetFrameBuffer(start, end, frameStep, mode);
    }
    int SetFpgaPixelFormat(uint32_t mediaType) { return m_inf->SetFpgaPixelFormat(mediaType); }
    int SetTriggerTiming(uint16_t a, uint16_t b) { return m_inf->SetTriggerTiming(a, b); }
    int SetTriggerFrameCount(uint32_t count) { return m_inf->SetTriggerFrameCount(count); }
    int SetTriggerJitterTime(int line, uint32_t time) {
        return m_inf->SetTriggerJitterTime(line, time);
    }
    int SetTriggerDelayTime(uint32_t time) { return m_inf->SetTriggerDelayTime(time); }
    int SetTriggerControl(uint16_t mode, uint16_t source, uint16_t flag, uint16_t enable) {
        return m_inf->SetTriggerControl(mode, source, flag, enable);
    }
    int GetTriggerControl(uint16_t* mode, uint16_t* source, uint16_t* flag, uint16_t* enable) {
        return m_inf->GetTriggerControl(mode, source, flag, enable);
    }
    int SetStrobeDelayTime(int line, uint32_t time) {
        return m_inf->SetStrobeDelayTime(line, time);
    }
    int SetStrobePulseWidth(int line, uint32_t width) {
        return m_inf->SetStrobePulseWidth(line, width);
    }
    int SendSoftTrigger() { return m_inf->SendSoftTrigger(); }
    int ResetTimestamp() { return m_inf->ResetTimestamp(); }

    imginf* m_inf;               // the device; never null
    SensorTypeE m_sensorType;    // the code this driver was made for
    uint32_t m_pixelFormat = 0;  // raw media type in use (SetPixelFormat)
    uint16_t m_bitMode = 0;      // 0, 32 or 48; non-zero means two bytes per pixel
};
