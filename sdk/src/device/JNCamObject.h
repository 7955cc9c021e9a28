// CJNCamObject: the attachment holder a camera controller inherits. It holds the attached device
// (a shared pointer, empty while detached), the device mutex that serialises every use of it,
// the serial number read at attachment (kept after detachment: the keep-alive service finds the
// returning camera by it) and the controller's registration with the keep-alive service.
//
// Every device operation the controller needs is one wrapper here: it takes the device mutex and
// answers CAMERA_STATUS_FAILED (-1) while no device is attached, else returns what the device's
// operation of the same name returns (through the manager's forwarder).
//
// A disconnect callback installed through SetDisconnectCallback belongs to this holder: it is
// removed from the device before every detachment and when the holder is destroyed, and
// installed again on the device of the next attachment, so a device never calls into a
// controller that has let it go. The callback must not take the device mutex of this holder
// (the removal holds it while it waits for a call in flight).
//
// Lock order: the controller's API mutex, then m_devMutex, then the manager's list mutex, then
// the device's own mutexes.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "manager/JNDeviceMgr.h"

class CJNCamObject {
  public:
    explicit CJNCamObject(CJNDeviceMgr* manager);
    // Detaches a device that is still attached (removing the disconnect callback) and, as a last
    // resort, leaves the keep-alive service; the controller unregisters itself before its own
    // members die.
    virtual ~CJNCamObject();

    CJNCamObject(const CJNCamObject&) = delete;
    CJNCamObject& operator=(const CJNCamObject&) = delete;

    // ---- Attachment ----
    // Opens device with this holder as opener and reads its serial number. Failures leave the
    // holder detached and the device closed: open fails -52 ("open failed"), the serial-number
    // read's code ("get device sn failed"), an empty device -6. A device attached before is
    // detached first.
    int Attach(std::shared_ptr<CJNDevice> device);
    // Closes and releases the attached device (nothing when detached).
    void Detach();
    bool IsAttached();
    // Whether candidate is the camera of the serial number kept here (false for an empty one,
    // without calling anything).
    bool IsSameDevice(const std::shared_ptr<CJNDevice>& candidate);
    // Whether candidate is the attached device, or another object for the same camera (same
    // symbolic name, as a re-enumerated USB camera is); false when detached.
    bool IsAttachedTo(const std::shared_ptr<CJNDevice>& candidate);
    // -1 without a device, else 1 when it answers and 0 when not.
    int CheckAlive();
    std::string SerialNumber();  // of the last attachment; empty before the first

    // ---- Keep-alive registration (self is the controller's own hook) ----
    // Registers once: a second call while registered does nothing and counts no loss.
    int RegisterKeepAlive(CDevKeepAliveObj* self);
    // As RegisterKeepAlive, but CAMERA_STATUS_BUSY (nothing changed) when the service is busy
    // offering cameras: for threads that must not wait (the timer thread).
    int TryRegisterKeepAlive(CDevKeepAliveObj* self);
    int UnregisterKeepAlive(CDevKeepAliveObj* self);
    bool IsRegistered() const { return m_registered.load() != 0; }
    int GetLostCount() const { return m_lostCount.load(); }

    // ---- Forwarded device operations ----
    int Open();  // as the manager's forwarder: with a null opener
    int Close();
    int SetDisconnectCallback(CJNDevice::DisconnectCallback callback, void* context);
    int InitSensor(CameraInitParam* param);
    int UnInitSensor();
    int SetSensorAuxValue(int value);
    int GetLineTime(int* ns);
    int SetExposureLines(uint32_t lines);
    int SetExposure(double us);
    int GetExposure(double* us);
    int GetExposureLineTime(double* us);
    int SetFrameTime(double us);
    int GetFrameTime(double* us);
    int SetFrameSpeed(int speed);
    int GetFrameSpeed(int* speed);
    int GetFrameTimeRange(int* min, int* max);
    int SetSensorAuxPair(int a, unsigned b);
    int GetAnalogGainRange(int* min, int* max);
    int SetAnalogGain(uint32_t gain);
    int GetAnalogGain(int* gain);
    int SetBlackLevel(uint32_t level);
    int GetBlackLevel(int* level);
    int SetWdrMode(int mode);
    int GetWdrMode(int* mode);
    int StreamOn();
    int StreamOff();
    int SetTriggerMode(int mode);
    int SoftTrigger();
    int GetSensorTypeInfo(SensorInfo* info);
    int GetSensorParam(SensorParam* param);
    int GetImageInfo(stImageInfo* info);
    int SetResolution(tSdkResolution* res);
    int GetResolution(tSdkResolution* res);
    int SetRoiOffset(int x, int y);
    int SetAeTarget(int target);
    int Reboot();
    int ResetTimestamp();
    int GetDeviceType(uint16_t* type);
    int GetSN(char* sn);
    int GetFirmwareVersion(uint16_t* version);
    int GetDriverVersion(char* version);
    int GetCameraDevParam(tSdkCapability* cap, tDevInfo* info, CameraProperty* prop,
                          DeviceMiscInfo* misc);
    int DevWriteSN(uint8_t* sn, INT level);
    int DevReadSN(uint8_t* sn, INT level);
    int DevSaveUserData(uint32_t offset, uint8_t* data, int len);
    int DevLoadUserData(uint32_t offset, uint8_t* data, int len);
    int DevSaveBadPixelTable(uint8_t* data, int len);
    int DevLoadBadPixelTable(uint8_t* data, int len);
    int DevGetFriendlyName(char* name);
    int DevSetFriendlyName(char* name);
    int SetTriggerFrameCount(uint32_t count);
    int SetTriggerJitterTime(int line, uint32_t time);
    int SetTriggerDelayTime(uint32_t time);
    int SetTriggerSignalType(int line, int type);
    int SetStrobeMode(int line, int mode);
    int SetStrobeDelayTime(int line, uint32_t time);
    int SetStrobePolarity(int line, int polarity);
    int SetStrobePulseWidth(int line, uint32_t width);
    int SetOutputIOMode(int line, int mode);
    int SetTriggerInhibit(int line, int inhibit);
    int SetOutputIOState(int line, int state);
    int SetOutputIOPWM(int line, uint32_t period, uint32_t duty);
    int GetInputIOState(int line, int* state);
    int GetIpConfig(tGigeIpConfig* config);
    int SetIpConfig(tGigeIpConfig* config);
    int SetPacketDelay(uint32_t delay);
    int SetResend(int enable, int a, int b, int c);  // the flag reaches the device as one byte
    int GetOptimalPacketSize(int* size);
    int RequestTransferImage();
    int RequestTransferImageEx(int value);
    int Upgrade(const char* path, CJNDevice::UpgradeProgress progress, void* context);
    int SetIntValue(int id, int value);
    int GetIntValue(int id, int* value);
    int StartStream();
    int StopStream();
    int StartCapture();
    int StopCapture();
    int OpenStream(CFrameBucketProducer* producer, CameraInitParam* param);
    int CloseStream();

  protected:
    // Holds the device mutex across several device calls and the caller's own bookkeeping, so
    // that they are one step for every other user of the device; the wrappers take it again
    // (it is recursive). Callers that also hold their API mutex take that one first.
    std::unique_lock<std::recursive_mutex> HoldDevice() {
        return std::unique_lock<std::recursive_mutex>(m_devMutex);
    }

    CJNDeviceMgr* const m_manager;  // not owned

  private:
    // C is CJNDevice or its base imginf (whose operations have that class's member type).
    template <typename C, typename... P, typename... A>
    int Call(int (C::*op)(P...), A&&... args) {
        std::lock_guard lock(m_devMutex);
        return CJNDeviceMgr::Forward(m_device, op, std::forward<A>(args)...);
    }
    // With m_devMutex held: removes this holder's callback from the attached device.
    void RemoveDisconnectCallbackLocked();

    std::recursive_mutex m_devMutex;  // guards everything below that is not atomic
    std::shared_ptr<CJNDevice> m_device;
    char m_sn[32] = {};  // serial number of the last attachment; need not be terminated
    CJNDevice::DisconnectCallback m_disconnectCallback = nullptr;  // installed through us
    void* m_disconnectContext = nullptr;
    std::atomic<uint8_t> m_registered{0};
    std::atomic<int32_t> m_lostCount{0};
    std::atomic<CDevKeepAliveObj*> m_registeredSelf{nullptr};
};
