// CFakeDevice: an in-memory camera device for tests. It implements every CJNDevice operation,
// records each call with its arguments in order, answers with scripted results, keeps register
// maps, an EEPROM and a flash image, and keeps the frame-pool producer handed to OpenStream so a
// test thread can push synthetic frames.
//
// Scripting: every operation answers SetResult(name, code) (0 by default). Identity (serial
// number, names, device type, firmware, hardware type), liveness, in-use state, the device
// information, the property record and the device-parameter read are scripted by their own
// setters. Hooks replace the register maps (sensor, FPGA, GPIO) for chip models, and a call hook
// sees every call as it is recorded (to change state in the middle of a sequence).
//
// Open behaviour: by default Open only counts references. With SetOpenFollowsTransport(true) the
// first Open runs the transports' open sequence on the fake's own EEPROM or flash (storage
// factory, serial number, property record, user-data size, device information), and the last
// Close deletes the storage object, as a real transport does.
//
// Thread safety: all members may be called from any thread; scripted state and the call log are
// guarded by one mutex, which is never held while a hook or a CJNDevice base operation runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "device/CameraInitParam.h"
#include "frames/FrameBucket.h"
#include "device/JNDevice.h"

namespace qvsim {

struct FakeCall {
    std::string name;
    std::vector<int64_t> args;  // integers and pointers as given; lists expanded in order
    double value = 0;           // the argument of the operations that take a double

    std::string ToString() const;  // "Name(1,2,3)"
    bool operator==(const FakeCall& other) const {
        return name == other.name && args == other.args && value == other.value;
    }
};

// One register write as a sensor or FPGA saw it (WriteSensorRegs pairs included; a pause is
// register 0xFFFF with its milliseconds).
struct RegWrite {
    uint32_t reg;
    uint32_t value;
    bool operator==(const RegWrite&) const = default;
};

class CFakeDevice : public CJNDevice {
  public:
    static constexpr size_t kEepromSize = 0x10000;        // 16-bit EEPROM addresses
    static constexpr size_t kFlashSize = 0x400000;        // 4 MiB covers every flash map
    static constexpr uint32_t kFlashSectorSize = 0x1000;  // 4 KiB erase sectors

    // symbolicName defaults to the serial number (as GigE devices do).
    explicit CFakeDevice(const char* serial = "FAKE0001", const char* friendlyName = "Fake Camera",
                         const char* symbolicName = nullptr);
    ~CFakeDevice() override;

    // ---- Call log ----
    std::vector<FakeCall> Calls() const;
    // Only the calls with one of these names, in order.
    std::vector<FakeCall> CallsNamed(std::initializer_list<std::string> names) const;
    std::vector<std::string> CallNames() const;
    size_t CallCount(const std::string& name) const;
    void ClearCalls();
    // Sensor / FPGA register writes in order, lists expanded.
    std::vector<RegWrite> SensorRegWrites() const;
    std::vector<RegWrite> FpgaRegWrites() const;
    // Runs on the calling thread after each call is recorded, without the fake's lock.
    void SetCallHook(std::function<void(const FakeCall&)> hook);
    // Calls that broke the device contract (odd register lists, Close without Open, ...).
    int ContractViolations() const { return m_violations.load(); }

    // ---- Scripting ----
    void SetResult(const std::string& op, int result);  // 0 unless set
    void ClearResults();
    void SetSerial(const char* sn);
    void SetFriendlyName(const char* name);
    void SetProductName(const char* name);
    void SetDeviceType(uint16_t type);  // GetDeviceType; 0x1301 by default
    void SetFirmwareVersion(uint16_t version);
    void SetHardwareType(int type) { m_hardwareType = type; }
    void SetSensorType(SensorTypeE type) { m_sensorType = type; }
    void SetAlive(bool alive) { m_alive.store(alive); }
    void SetInUse(bool inUse) { m_inUse.store(inUse); }
    // The record GetDeviceInfo copies from (all but uInUse); SetSerial and the name setters
    // write into it too.
    void SetDeviceInfo(const tDevInfo& info);
    tDevInfo DeviceInfo() const;
    void SetMiscInfo(const DeviceMiscInfo& misc);
    void SetProperty(const CameraProperty& prop);
    // GetCameraDevParam answers result and copies the given records (null: left alone) instead
    // of running the base read. Without a script the base read runs.
    void ScriptDevParam(int result, const tSdkCapability* cap, const CameraProperty* prop,
                        const DeviceMiscInfo* misc);
    void SetOpenFollowsTransport(bool on) { m_transportOpen.store(on); }
    // OpenStream first runs InitSensor (and CloseStream UnInitSensor), as the transports do.
    void SetStreamInitsSensor(bool on) { m_streamInitsSensor.store(on); }
    // Takes ownership of a sensor driver (replacing any), as if InitSensor had created it.
    void AdoptSensor(SensorInf* sensor);
    SensorInf* Sensor() const { return m_pSensor; }
    // Takes ownership of a storage object (replacing and deleting any).
    void AdoptStorage(CStorageData* storage);
    bool HasStorage() const { return m_pEEPromData != nullptr; }
    int OpenCount() const { return m_openRef.load(); }

    // ---- Register models ----
    // Defaults: writes land in a map, reads answer the map (0 when never written), each subject
    // to SetResult of the operation. A hook replaces the map for its operation.
    std::function<int(uint16_t reg, uint16_t value)> onWriteSensorReg;
    std::function<int(uint16_t reg, uint16_t* value)> onReadSensorReg;
    std::function<int(uint16_t reg, uint32_t value)> onWriteFpgaReg;
    std::function<int(uint16_t reg, uint32_t* value)> onReadFpgaReg;
    std::function<int(uint8_t pin, uint8_t* level)> onReadGpio;
    uint16_t SensorReg(uint16_t reg) const;
    uint32_t FpgaReg(uint16_t reg) const;
    void SetSensorReg(uint16_t reg, uint16_t value);
    void SetFpgaReg(uint16_t reg, uint32_t value);

    // ---- Non-volatile memory (filled with 0xFF, like erased parts) ----
    std::vector<uint8_t>& Eeprom() { return m_eeprom; }
    std::vector<uint8_t>& Flash() { return m_flash; }
    // Flash writes clear bits only (NOR behaviour) unless plain overwrite is asked for.
    void SetFlashOverwrite(bool on) { m_flashOverwrite.store(on); }
    // Storage models (tests/sim/storage) replace the built-in images through these hooks; each
    // runs after the call is recorded and only when its scripted result is 0.
    std::function<int(uint16_t address, uint8_t* data, uint16_t len)> onWriteEEProm;
    std::function<int(uint16_t address, uint8_t* data, uint16_t len)> onReadEEProm;
    std::function<int(uint32_t address)> onEraseFlashSector;
    std::function<int(uint32_t address, uint16_t len, uint8_t* data)> onReadFlash;
    std::function<int(uint32_t address, uint16_t len, uint8_t* data)> onWriteFlash;

    // ---- Stream ----
    bool HasStream() const;
    CameraInitParam LastInitParam() const;
    // Hands one frame to the pool: 0, or -1 without an open stream or when the pool has no
    // buffer to give (the frame is then dropped, as a transport does).
    int PushFrame(const void* data, uint32_t size, const stImageInfo& info, uint32_t frameNo = 0,
                  uint64_t timestamp = 0);
    // A broken frame: buffer taken and given back, one lost frame counted.
    int PushBrokenFrame();
    int PostStatus(int status);  // e.g. CAMERA_STATUS_DEVICE_LOST
    // Calls the disconnect callback as a transport does when it finds the camera gone.
    void FireDisconnect(int status = 0) { NotifyDisconnect(status); }
    bool HasDisconnectCallback();

    // ---- CJNDevice ----
    bool CheckAlive() override;
    int GetDeviceType(uint16_t* type) override;
    int GetSN(char* sn) override;
    int GetFirmwareVersion(uint16_t* version) override;
    int SetSensorBus(uint8_t address, uint8_t widths) override;
    int WriteSensorReg(uint16_t reg, uint16_t value) override;
    int WriteSensorRegs(std::span<const uint16_t> regAndVal) override;
    int ReadSensorReg(uint16_t reg, uint16_t* value) override;
    int WriteFpgaReg(uint16_t reg, uint32_t value) override;
    int WriteFpgaRegs(std::span<const uint32_t> regAndVal) override;
    int ReadFpgaReg(uint16_t reg, uint32_t* value) override;
    int I2CWrite(uint8_t address, uint8_t* data, uint8_t len) override;
    int I2CRead(uint8_t address, uint8_t* data, uint8_t len) override;
    int SetGpioMode(uint8_t pin, uint8_t mode) override;
    int WriteGpio(uint8_t pin, uint8_t level) override;
    int ReadGpio(uint8_t pin, uint8_t* level) override;
    int FpgaConfigBegin() override;
    int FpgaConfigEnd() override;
    int FpgaConfigWrite(uint8_t* data, uint32_t len) override;
    int LoadFpga(SensorTypeE type) override;
    int GetHardwareType() override;
    int GetFpgaVersion(uint16_t* version) override;
    int StartStream() override;
    int StopStream() override;
    int SetPll(uint8_t v1, uint8_t v2, uint8_t v3, uint8_t v4, uint8_t v5, uint8_t v6, uint8_t v7,
               uint8_t v8) override;
    int SetFpgaImageEnable(uint8_t flag, int value) override;
    int SetSensorInterface(uint16_t control) override;
    int SetImageWindow(uint16_t x, uint16_t y, uint16_t width, uint16_t height, uint16_t fovWidth,
                       uint16_t fovHeight, uint8_t bits) override;
    int SetImageTiming(uint16_t a, uint16_t b, uint8_t c) override;
    int SetFrameBuffer(uint32_t start, uint32_t end, uint32_t frameStep, uint8_t mode) override;
    int SetFpgaPixelFormat(uint32_t mediaType) override;
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

    int Open(void* opener) override;
    int Close() override;
    int OpenStream(CFrameBucketProducer* producer, CameraInitParam* param) override;
    int CloseStream() override;
    int SetDisconnectCallback(DisconnectCallback callback, void* context) override;
    int GetAccessStatus(DevAccessStatus* status) override;
    int Reboot() override;

    int SetExposureLines(uint32_t lines) override;
    int SetExposure(double us) override;
    int GetExposure(double* us) override;
    int SetAnalogGain(uint32_t gain) override;
    int GetAnalogGain(int* gain) override;
    int SetTriggerMode(int mode) override;
    int StreamOn() override;
    int StreamOff() override;

    int WriteEEProm(uint16_t address, uint8_t* data, uint16_t len) override;
    int ReadEEProm(uint16_t address, uint8_t* data, uint16_t len) override;
    int EraseFlashSector(uint32_t address, uint8_t option) override;
    int ReadFlash(uint32_t address, uint16_t len, uint8_t* data) override;
    int WriteFlash(uint32_t address, uint16_t len, uint8_t* data) override;

    bool IsInUse() override;
    int GetCameraDevParam(tSdkCapability* cap, tDevInfo* info, CameraProperty* prop,
                          DeviceMiscInfo* misc) override;

    int StartCapture() override;
    int StopCapture() override;
    int SetStreamBufferCount(int count) override;
    int GetStreamBufferCount(int* count) override;
    int SetTriggerSignalType(int line, int type) override;
    int SetOutputIOMode(int line, int mode) override;
    int SetTriggerInhibit(int line, int inhibit) override;
    int SetOutputIOState(int line, int state) override;
    int SetOutputIOPWM(int line, uint32_t period, uint32_t duty) override;
    int GetInputIOState(int line, int* state) override;
    int RequestTransferImage() override;
    int RequestTransferImageEx(int value) override;

    int GetIpConfig(tGigeIpConfig* config) override;
    int SetIpConfig(tGigeIpConfig* config) override;
    int SetPacketDelay(uint32_t delay) override;
    int SetResend(uint8_t enable, int a, int b, int c) override;
    int GetOptimalPacketSize(int* size) override;

    int GetDeviceInfo(tDevInfo* info, DeviceMiscInfo* misc) override;
    int Upgrade(const char* path, UpgradeProgress progress, void* context) override;
    int SetIntValue(int id, int value) override;
    int GetIntValue(int id, int* value) override;

  protected:
    static int64_t P(const void* p) { return static_cast<int64_t>(reinterpret_cast<intptr_t>(p)); }
    // Records the call and returns its scripted result (subclasses log their own operations
    // into the same ordered log).
    int Rec(const char* name, std::initializer_list<int64_t> args = {}, double value = 0);

  private:
    // Logs the call, then runs the call hook outside the lock; the scripted result.
    int Record(const FakeCall& call);
    int RecList(const char* name, std::vector<int64_t> args);
    int ResultOf(const char* name) const;
    void Violation(const char* what);
    int TransportOpen();
    // One register write of a single or list write: the hook when set, else the register map.
    int StoreSensorReg(uint16_t reg, uint16_t value);
    int StoreFpgaReg(uint16_t reg, uint32_t value);
    // The pool producer of the open stream; null while no stream is open.
    CFrameBucketProducer* Producer();

    mutable std::mutex m_mutex;  // guards everything below that is not atomic
    std::vector<FakeCall> m_calls;
    std::map<std::string, int> m_results;
    std::function<void(const FakeCall&)> m_callHook;
    std::map<uint16_t, uint16_t> m_sensorRegs;
    std::map<uint16_t, uint32_t> m_fpgaRegs;
    std::map<uint8_t, uint8_t> m_gpio;
    std::map<int, int> m_intValues;
    uint16_t m_deviceType = 0x1301;
    uint16_t m_firmwareVersion = 0x1000;
    bool m_devParamScripted = false;
    int m_devParamResult = 0;
    bool m_scriptHasCap = false, m_scriptHasProp = false, m_scriptHasMisc = false;
    tSdkCapability m_scriptCap{};
    CameraProperty m_scriptProp{};
    DeviceMiscInfo m_scriptMisc{};
    CFrameBucketProducer* m_producer = nullptr;  // valid from OpenStream to CloseStream
    CameraInitParam m_initParam{};
    double m_exposureUs = 0;
    int m_analogGain = 1000;
    std::vector<uint8_t> m_eeprom;
    std::vector<uint8_t> m_flash;

    std::atomic<int> m_openRef{0};
    std::atomic<bool> m_alive{true};
    std::atomic<bool> m_inUse{false};
    std::atomic<bool> m_transportOpen{false};
    std::atomic<bool> m_streamInitsSensor{false};
    std::atomic<bool> m_flashOverwrite{false};
    std::atomic<int> m_violations{0};
    std::mutex m_streamMutex;  // held while a frame is pushed, so CloseStream waits for it
};

}  // namespace qvsim
