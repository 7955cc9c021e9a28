// CJNDevice: the abstract camera device. Every camera the SDK can open, USB or GigE, is an object
// of a transport class derived from it. The manager holds devices through
// std::shared_ptr<CJNDevice>; a controller reaches its device only through its attachment holder
// (CJNCamObject); sensor drivers see it as imginf; storage objects reach the camera's EEPROM and
// flash through it.
//
// The base implements the transport-neutral part: serial number and names, the storage-backed
// accessors, creation and ownership of the sensor driver and forwarding to it, the device
// information filled at open, the property defaults, and the device-parameter read of camera
// initialisation. Everything else is the transports'.
//
// Locking: callers serialise device operations through the attachment holder's mutex. The base
// takes m_devMutex only around the driver texts and the disconnect callback; transports use the
// same recursive mutex for their own state and may call device operations while holding it.
// Lock order: attachment mutex, then m_devMutex, then the transport's other mutexes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "device/DeviceMiscInfo.h"
#include "QVDeviceDef.h"
#include "device/imginf.h"
#include "sensors/SensorInf.h"
#include "storage/CameraProperty.h"

class CFrameBucketProducer;
class CStorageData;
struct CameraInitParam;

class CJNDevice : public imginf, public std::enable_shared_from_this<CJNDevice> {
  public:
    // Called by the transport as callback(nullptr, 0, context) when it finds the camera gone.
    using DisconnectCallback = void (*)(void* device, int status, void* context);
    using UpgradeProgress = void (*)(int percent, void* context);

    // Bounded copies of the three texts (256, 256 and 32 bytes); everything else empty.
    CJNDevice(const char* symbolicName, const char* driverName, const char* driverVersion);
    // Deletes a sensor driver that is still there. The storage object is the transport's to
    // delete at the last Close.
    ~CJNDevice() override;

    CJNDevice(const CJNDevice&) = delete;
    CJNDevice& operator=(const CJNDevice&) = delete;

    // ---- imginf operations the base implements ----
    int GetSN(char* sn) override;  // -6 for null; copies the 32 bytes read at open
    // Storage-backed: forward to the storage object; an open device is required (asserted).
    int DevWriteSN(uint8_t* sn, INT level) override;
    int DevReadSN(uint8_t* sn, INT level) override;
    int DevSaveUserData(uint32_t offset, uint8_t* data, int len) override;
    int DevLoadUserData(uint32_t offset, uint8_t* data, int len) override;
    int DevSaveBadPixelTable(uint8_t* data, int len) override;
    int DevLoadBadPixelTable(uint8_t* data, int len) override;
    int DevGetFriendlyName(char* name) override;
    int DevSetFriendlyName(char* name) override;

    // ---- Life cycle (transports) ----
    // Reference-counted: only the first call opens, in this order: make the storage object
    // (null: CAMERA_STATUS_DEVICE_OPEN_FAILED), read the serial number (USB), LoadDeviceProperty,
    // store the user-data size, derive m_hardwareType, FillDevInfo. A failed open undoes the
    // count. opener is the attaching object, or null.
    virtual int Open(void* opener) = 0;
    // Decrements the count (a close without open is a broken invariant); the last close closes
    // the stream and deletes the storage object.
    virtual int Close() = 0;
    // Initialises the sensor (InitSensor with param) and creates the frame receiver that feeds
    // producer; the receiver posts status 0 into the pool. The producer stays valid until
    // CloseStream returns.
    virtual int OpenStream(CFrameBucketProducer* producer, CameraInitParam* param) = 0;
    virtual int CloseStream() = 0;
    // Stores both under m_devMutex; a null callback removes it. Once this returns, the old
    // callback is neither running nor called again (transports call it only through
    // NotifyDisconnect, which holds m_devMutex).
    virtual int SetDisconnectCallback(DisconnectCallback callback, void* context);
    // Creates the sensor driver when there is none (type from storage, FPGA load when the
    // hardware type is known) and runs its Init.
    virtual int InitSensor(CameraInitParam* param);
    // -57 without a driver; when the driver's Uninit fails the driver stays and its code is
    // returned; otherwise the driver is deleted.
    virtual int UnInitSensor();
    // -56 when the device is not open.
    virtual int GetAccessStatus(DevAccessStatus* status) = 0;
    virtual int Reboot() = 0;
    virtual int GetDriverName(char* name);  // copies up to 256 bytes when name is not null

    // ---- Sensor forwarders: the driver's operation of the same meaning, or
    //      CAMERA_STATUS_NO_SENSOR (-57) without a driver ----
    virtual int SetSensorAuxValue(int value);
    virtual int GetLineTime(int* ns);
    virtual int SetExposureLines(uint32_t lines);
    virtual int SetExposure(double us);
    virtual int GetExposure(double* us);
    virtual int GetExposureLineTime(double* us);
    virtual int SetFrameTime(double us);
    virtual int GetFrameTime(double* us);
    virtual int SetFrameSpeed(int speed);
    virtual int GetFrameSpeed(int* speed);
    virtual int GetFrameTimeRange(int* min, int* max);
    virtual int SetSensorAuxPair(int a, unsigned b);
    virtual int GetAnalogGainRange(int* min, int* max);
    virtual int SetAnalogGain(uint32_t gain);
    virtual int GetAnalogGain(int* gain);
    virtual int SetBlackLevel(uint32_t level);
    virtual int GetBlackLevel(int* level);
    virtual int SetWdrMode(int mode);
    virtual int GetWdrMode(int* mode);
    virtual int StreamOn();
    virtual int StreamOff();
    virtual int SetTriggerMode(int mode);
    virtual int SoftTrigger();
    virtual int GetSensorTypeInfo(SensorInfo* info);
    virtual int GetSensorParam(SensorParam* param);
    virtual int GetImageInfo(stImageInfo* info);
    virtual int SetResolution(tSdkResolution* res);
    virtual int GetResolution(tSdkResolution* res);
    virtual int SetRoiOffset(int x, int y);
    virtual int SetAeTarget(int target);

    // ---- Raw EEPROM and flash (storage objects call these; -4 where the camera has none) ----
    virtual int WriteEEProm(uint16_t address, uint8_t* data, uint16_t len) = 0;
    virtual int ReadEEProm(uint16_t address, uint8_t* data, uint16_t len) = 0;
    // Erases the 4 KiB sector at address; callers pass option 0.
    virtual int EraseFlashSector(uint32_t address, uint8_t option) = 0;
    virtual int ReadFlash(uint32_t address, uint16_t len, uint8_t* data) = 0;
    virtual int WriteFlash(uint32_t address, uint16_t len, uint8_t* data) = 0;

    // ---- Identity ----
    // Whether devSn equals this device's serial number (null is a broken invariant).
    virtual bool IsSameDevice(const char* devSn);
    // The in-use byte of GetAccessStatus, false when that fails (GigE overrides).
    virtual bool IsInUse();
    // The device-parameter read of camera initialisation: device information, property record
    // refreshed from the sensor's limits and capability, and the capability record. 0, -6, -57,
    // the storage's error, or CAMERA_STATUS_PROPERTY_NOT_WRITTEN (-58) when the property record
    // was never written (info, prop and misc are filled then).
    virtual int GetCameraDevParam(tSdkCapability* cap, tDevInfo* info, CameraProperty* prop,
                                  DeviceMiscInfo* misc);
    // Storage-backed (see above).
    virtual int DevSetProductName(char* name);
    virtual int DevGetProductName(char* name);
    virtual int DevSetProductSeries(char* series);
    virtual int DevGetProductSeries(char* series);
    virtual int DevGetDeviceID(uint32_t* id);
    virtual int DevSetDeviceID(uint32_t id);
    virtual int DevGetDevicePortType(char* text);
    virtual int DevSetDevicePortType(char* text);
    virtual int DevGetDeviceMonoCfg(uint32_t* word);
    virtual int DevSetDeviceMonoCfg(uint32_t word);
    virtual int DevGetSensorType(SensorTypeE* type);
    virtual int DevSetSensorType(SensorTypeE type);
    // Requires the storage object; the camera keeps no dead-pixel positions: -4.
    virtual int DevSetDeadPixelPosition(BYTE* data, size_t len);
    virtual const char* GetSymbolicName();
    virtual bool IsSameSymbolicName(const char* name);  // null is a broken invariant
    virtual bool CompareSymbolicName(const CJNDevice* other);
    virtual int GetDriverVersion(char* version);  // copies up to 32 bytes when not null

    // ---- Capture, stream buffers, I/O lines ----
    virtual int StartCapture() = 0;  // -1 without an open stream
    virtual int StopCapture() = 0;
    virtual int SetStreamBufferCount(int count) = 0;
    virtual int GetStreamBufferCount(int* count) = 0;
    virtual int SetTriggerSignalType(int line, int type) = 0;
    virtual int SetOutputIOMode(int line, int mode) = 0;
    // The trigger control word's enable bit becomes 1 when inhibit is 0, else 0.
    virtual int SetTriggerInhibit(int line, int inhibit) = 0;
    virtual int SetOutputIOState(int line, int state) = 0;
    virtual int SetOutputIOPWM(int line, uint32_t period, uint32_t duty) = 0;
    virtual int GetInputIOState(int line, int* state) = 0;
    virtual int RequestTransferImage() = 0;             // -4 on USB
    virtual int RequestTransferImageEx(int value) = 0;  // -4 on USB

    // ---- GigE network settings: the base answers CAMERA_STATUS_NOT_SUPPORTED ----
    virtual int GetIpConfig(tGigeIpConfig* config);
    virtual int SetIpConfig(tGigeIpConfig* config);
    virtual int SetPacketDelay(uint32_t delay);
    virtual int SetResend(uint8_t enable, int a, int b, int c);
    virtual int GetOptimalPacketSize(int* size);

    // ---- Information, upgrade, integer settings ----
    // Fills info (all but uInUse; a null info is a broken invariant) and, when not null, misc.
    virtual int GetDeviceInfo(tDevInfo* info, DeviceMiscInfo* misc) = 0;
    // Copies the property record loaded at open (a null record is a broken invariant); 0.
    virtual int GetDeviceProperty(CameraProperty* prop);
    // Runs the matching upgrade procedure; progress 0 at the start, 1..99, 100 at the end.
    virtual int Upgrade(const char* path, UpgradeProgress progress, void* context) = 0;
    virtual int SetIntValue(int id, int value) = 0;
    virtual int GetIntValue(int id, int* value) = 0;

    // ---- Non-virtual members ----
    CStorageData* GetEEPromData();  // the storage object (asserted present)
    // The storage factory: null on USB, the 32-byte hardware version text on GigE.
    CStorageData* MakeEEPromInstance(const char* hardwareVersion);
    // Done once at open by the transports, on m_devProperty and m_devInfo.
    int LoadDeviceProperty(CameraProperty* prop);
    int FillDevInfo(tDevInfo* info);
    // Sensor factory bound to this device (FPGA load first when loadFpga; -59 from it gives
    // -57, any other failure of it is returned as it is). CreateSensor stores the driver;
    // NewSensor returns one without storing it.
    int CreateSensor(SensorTypeE type, bool loadFpga);
    bool ProbeSensor(SensorTypeE type, bool loadFpga);
    SensorInf* NewSensor(SensorTypeE type);
    // Capability builders: a new media-type array, the whole capability record, its preset list.
    int MakeMediaTypeArray(INT& count, tSdkBayerType** array,
                           std::vector<unsigned int>& supportMediaType);
    int MakeCapability(tSdkCapability* cap, CameraProperty* prop, SensorTypeE type,
                       SensorCapability* sensorCap);
    int MakeResolutionList(tSdkCapability* cap, CameraProperty* prop, SensorTypeE type);

  protected:
    // Calls the disconnect callback, if any, as callback(nullptr, status, context) with
    // m_devMutex held, so that SetDisconnectCallback(nullptr) waits for a call in flight.
    void NotifyDisconnect(int status);

    char m_symbolicName[256];  // USB "bus:%hhu:address:%hhu", GigE the serial number
    char m_driverName[256];
    char m_driverVersion[32];
    SensorInf* m_pSensor = nullptr;  // owned; created at the first stream open
    // Guards the driver texts and the disconnect callback; the transports' state mutex.
    std::recursive_mutex m_devMutex;
    int32_t m_hardwareType = 0;             // 0 until the open derives it from the property record
    SensorTypeE m_sensorType{};             // read from storage by InitSensor
    CStorageData* m_pEEPromData = nullptr;  // owned; made at open, deleted at the last close
    char m_sn[33];                          // serial number, 32 characters and a terminator
    CameraProperty m_devProperty;
    tDevInfo m_devInfo;  // filled at open; uInUse is the manager's
    DeviceMiscInfo m_miscInfo;
    DisconnectCallback m_disconnectCallback = nullptr;  // guarded by m_devMutex
    void* m_disconnectContext = nullptr;                // guarded by m_devMutex
};
