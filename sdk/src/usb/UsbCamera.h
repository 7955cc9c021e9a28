// CUsbCamera: a USB camera as a CJNDevice, built on vendor requests on endpoint 0. The register,
// I2C, GPIO, EEPROM, flash and configuration accesses, the image path, trigger, strobe and line
// settings, the integer settings, sensor cooling and the liveness poll all reach the wire through
// one transfer operation, Ioctl, which a leaf class implements on a USB stack (CLibUsbCamera on
// libusb). Open, stream open and their counterparts here are the hooks a leaf runs around its
// own work.
//
// Locking, outermost first:
//   m_sensorMutex    the sensor driver's lifetime against the cooling thread, which reads the
//                    temperature through the driver on some boards.
//   m_transferMutex  (recursive) every control transfer, and sequences of them that must not be
//                    split: read-modify-write of a register, reboot, the stream hooks, a
//                    driver's temperature read, the leaf's stream preparation.
//   m_devMutex       (CJNDevice) the disconnect callback. The liveness poll reports a lost
//                    camera holding the transfer mutex, then this one.
//   m_aliveMutex, m_coolingMutex  leaves: nothing else is taken while they are held.
// No mutex of this class is held while a sensor driver runs Init or Uninit (a driver may remove
// a timer whose callback makes requests, and removal waits for that callback), nor while the
// cooling thread is joined (it makes requests) or the liveness timer removed (its callback takes
// the transfer mutex, if only by trying). The liveness callback only tries the transfer mutex, so
// a remover holding it never deadlocks with the timer service.
//
// A leaf's destructor must call Shutdown() first, while its Ioctl still works: the cooling thread
// and the liveness poll call virtual operations.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>

#include "device/JNDevice.h"

struct TimerEntry;

class CUsbCamera : public CJNDevice {
  public:
    CUsbCamera(const char* symbolicName, const char* driverName, const char* driverVersion);
    ~CUsbCamera() override;

    // The hardware type of a board from the model code in its property record; 0 for a null
    // record or a model code no board carries.
    static int GetFpgaType(const CameraProperty* prop);

    // ---- Identity ----
    bool CheckAlive() override;  // the device type still reads
    int GetDeviceType(uint16_t* type) override;
    int GetFirmwareVersion(uint16_t* version) override;

    // ---- Sensor and FPGA registers, I2C, GPIO ----
    int SetSensorBus(uint8_t address, uint8_t widths) override;
    int WriteSensorReg(uint16_t reg, uint16_t value) override;
    int WriteSensorRegs(std::span<const uint16_t> regAndVal) override;
    int ReadSensorReg(uint16_t reg, uint16_t* value) override;
    int WriteFpgaReg(uint16_t reg, uint32_t value) override;  // the low 16 bits go out
    int WriteFpgaRegs(std::span<const uint32_t> regAndVal) override;
    int ReadFpgaReg(uint16_t reg, uint32_t* value) override;
    int I2CWrite(uint8_t address, uint8_t* data, uint8_t len) override;
    int I2CRead(uint8_t address, uint8_t* data, uint8_t len) override;
    int SetGpioMode(uint8_t pin, uint8_t mode) override;
    int WriteGpio(uint8_t pin, uint8_t level) override;
    int ReadGpio(uint8_t pin, uint8_t* level) override;

    // ---- FPGA configuration (CUsbFpgaConfig, by hardware type) ----
    int FpgaConfigBegin() override;
    int FpgaConfigEnd() override;
    int FpgaConfigWrite(uint8_t* data, uint32_t len) override;  // chunks of at most 1024 bytes
    // 0 for a board without FPGA image (type 0); CAMERA_STATUS_FPGA_ERROR, or the request's
    // code of a failed reset pulse or flash write, and the sensor is not created.
    int LoadFpga(SensorTypeE type) override;
    int GetHardwareType() override;
    int GetFpgaVersion(uint16_t* version) override;
    int StartStream() override;  // hooks run by the leaf's stream start and stop: 0
    int StopStream() override;

    // ---- Clock and FPGA image path ----
    // The sensor clock by hardware type (CUsbPll); CAMERA_STATUS_FPGA_ERROR when the PLL never
    // locks.
    int SetPll(uint8_t v1, uint8_t v2, uint8_t v3, uint8_t v4, uint8_t v5, uint8_t v6, uint8_t v7,
               uint8_t v8) override;
    int SetFpgaImageEnable(uint8_t flag, int value) override;
    int SetSensorInterface(uint16_t control) override;
    int SetImageWindow(uint16_t x, uint16_t y, uint16_t width, uint16_t height, uint16_t fovWidth,
                       uint16_t fovHeight, uint8_t bits) override;
    int SetImageTiming(uint16_t a, uint16_t b, uint8_t c) override;
    int SetFrameBuffer(uint32_t start, uint32_t end, uint32_t frameStep, uint8_t mode) override;
    int SetFpgaPixelFormat(uint32_t mediaType) override;  // nothing to do: 0

    // ---- Trigger and strobe ----
    int SetTriggerTiming(uint16_t a, uint16_t b) override;
    int SetTriggerFrameCount(uint32_t count) override;
    int SetTriggerJitterTime(int line, uint32_t time) override;
    int SetTriggerDelayTime(uint32_t time) override;
    int SetTriggerControl(uint16_t mode, uint16_t source, uint16_t flag, uint16_t enable) override;
    int GetTriggerControl(uint16_t* mode, uint16_t* source, uint16_t* flag,
                          uint16_t* enable) override;
    int SetStrobeMode(int line, int mode) override;
    int SetStrobeDelayTime(int line, uint32_t time) override;
    int SetStrobePolarity(int line, int polarity) override;
    int SetStrobePulseWidth(int line, uint32_t width) override;
    int SendSoftTrigger() override;
    int ResetTimestamp() override;

    // ---- Life cycle hooks, run by the leaf around its own work ----
    int Open(void* opener) override;  // 0
    int Close() override;             // 0
    // The boards with a cooler prepare it (types 107 and 111); marks the stream open. 0.
    int OpenStream(CFrameBucketProducer* producer, CameraInitParam* param) override;
    // Only after OpenStream: type 9 clears its integer setting 1, type 107 parks its cooler, and
    // both cooled boards stop the cooling loop (leaving its bits and power). 0.
    int CloseStream() override;
    // Stores the callback; while one is set, the camera is polled every 500 ms and the callback
    // is called, on the timer thread, in every period in which the camera does not answer. A
    // period in which another thread is making requests is skipped (their results show the
    // camera's state). The poll runs for a device owned by std::shared_ptr, as the manager
    // holds every device. Callers of this and of the destructor must not hold m_transferMutex.
    int SetDisconnectCallback(DisconnectCallback callback, void* context) override;
    // The base behaviour, with the driver's lifetime guarded against the cooling thread.
    int InitSensor(CameraInitParam* param) override;
    int UnInitSensor() override;
    // Holds the camera's controller CPU in reset for 10 ms. The first failing request's code.
    int Reboot() override;

    // ---- Storage ----
    int WriteEEProm(uint16_t address, uint8_t* data, uint16_t len) override;
    int ReadEEProm(uint16_t address, uint8_t* data, uint16_t len) override;
    int EraseFlashSector(uint32_t address, uint8_t option) override;
    int ReadFlash(uint32_t address, uint16_t len, uint8_t* data) override;
    int WriteFlash(uint32_t address, uint16_t len, uint8_t* data) override;

    // ---- I/O lines (lines 0 and 1) ----
    int SetTriggerSignalType(int line, int type) override;
    int SetOutputIOMode(int line, int mode) override;
    int SetTriggerInhibit(int line, int inhibit) override;
    int SetOutputIOState(int line, int state) override;
    int SetOutputIOPWM(int line, uint32_t period, uint32_t duty) override;
    int GetInputIOState(int line, int* state) override;
    int RequestTransferImage() override;             // CAMERA_STATUS_NOT_SUPPORTED
    int RequestTransferImageEx(int value) override;  // CAMERA_STATUS_NOT_SUPPORTED

    // ---- Information, upgrade, integer settings ----
    int GetDeviceInfo(tDevInfo* info, DeviceMiscInfo* misc) override;
    int Upgrade(const char* path, UpgradeProgress progress, void* context) override;
    int SetIntValue(int id, int value) override;
    int GetIntValue(int id, int* value) override;

    // ---- USB camera operations (reached through a CUsbCamera only) ----
    // One vendor control transfer: IN (bmRequestType 0xC0) when inLen is non-zero, else OUT
    // (0x40) with outLen bytes of outBuf; 2000 ms. 0 when every byte asked for moved;
    // CAMERA_STATUS_IO_ERROR for a failed or short transfer; CAMERA_STATUS_HARDWARE_NOT_FOUND
    // when the device is not open. Implementations hold m_transferMutex around the transfer.
    virtual int Ioctl(uint8_t request, uint16_t value, uint16_t index, uint16_t inLen,
                      uint8_t* inBuf, uint16_t outLen, uint8_t* outBuf) = 0;
    virtual int SendRequestD8(uint8_t a, uint8_t b);
    virtual int SendRequestB0();
    // Cooling (boards 107 and 111): the cooler power in percent (type 111 only; kept within 0 to
    // 100 and applied by the loop), the loop on or off, the target in degrees Celsius, and the
    // temperature (107: the board's sensor; 111: the image sensor's driver, -57 before the
    // driver exists). Other boards: CAMERA_STATUS_NOT_SUPPORTED.
    virtual int SetCoolerPower(int percent);
    virtual int EnableCooling(bool on);
    virtual int SetTargetTemperature(float celsius);
    virtual int GetTemperature(float* celsius);

  protected:
    // The transfer operation as the wire format unit takes it.
    struct Link {
        CUsbCamera* camera;
        int operator()(uint8_t request, uint16_t value, uint16_t index, uint16_t inLen,
                       uint8_t* inBuf, uint16_t outLen, uint8_t* outBuf) const {
            return camera->Ioctl(request, value, index, inLen, inBuf, outLen, outBuf);
        }
    };

    // Ends the liveness poll, the cooling loop and the sensor driver (whose periodic work makes
    // requests too); idempotent. Leaf destructors call it first.
    void Shutdown();
    // Ends the sensor driver's periodic work (Uninit) and keeps the driver for the next stream
    // open; without our transfer mutex, since ending that work waits for a step in progress.
    void StopSensorWork();
    // Stops the cooling loop if it runs, leaving its bits and power; the caller holds none of
    // our mutexes (the loop is joined).
    void StopCoolingThread();

    // Cooling primitives (types 107 and 111, else CAMERA_STATUS_NOT_SUPPORTED): the cooler
    // drive for a power (type 111 only), the enable and cooler-on bits of FPGA register 38, and
    // the board's temperature sensor (request 0xDB, channel 0).
    int ApplyCoolerPower(int percent);
    int SetCoolingEnableBit(bool on);
    int SetCoolerOnBit(bool on);
    int ReadCoolingSensor(uint16_t* raw);
    bool CoolingRunning();

    std::mutex m_sensorMutex;              // see the lock order above
    std::recursive_mutex m_transferMutex;  // see the lock order above
    Link m_link{this};

  private:
    static int AliveTimerProc(TimerEntry* entry, void* user);
    void CoolingThreadProc(std::stop_token stop);
    int SetRegister38Bits(uint16_t bits, bool on);
    // Read-modify-write of the trigger control word's line field (bits 6 and up).
    int UpdateLineField(uint16_t mask, uint16_t bits);
    int WriteSignalCode(uint16_t code);

    std::mutex m_aliveMutex;             // guards m_aliveTimer
    TimerEntry* m_aliveTimer = nullptr;  // the liveness poll's entry while a callback is set
    uint16_t m_triggerSignalCode = 0;    // last code SetTriggerSignalType wrote
    // The code integer setting 12 took out of the control word, until it is put back.
    uint16_t m_savedSignalCode = 0;
    bool m_signalCodeSaved = false;
    std::atomic<bool> m_streamOpen{false};  // between the stream hooks
    std::atomic<int32_t> m_coolerPower{0};  // percent
    std::atomic<float> m_targetTemperature{0};
    std::mutex m_coolingMutex;  // guards m_coolingThread; the loop waits on it
    // Woken by the loop's stop request (the stop token stands for a stop flag).
    std::condition_variable_any m_coolingCond;
    std::unique_ptr<std::jthread> m_coolingThread;  // the cooling loop while it runs
};
