// JNCameraMgr: the one process-wide camera manager behind the exported functions that take no
// camera handle. On CJNDeviceMgr it adds the processing level read by the image pipeline, the
// manager mutex and the list of opened camera controllers.
//
// Locking: m_mgrMutex (recursive) guards m_cameraList and serialises the index queries, the
// GigE IP functions and the open and release of controllers; enumeration does not take it. Lock
// order: m_mgrMutex, then a controller's API mutex or the device list mutex.
//
// The controller plugs in here: the init family resolves its device with GetDevice (by index)
// or FindDevice (by name or serial number; the device found is the one opened, whatever a
// concurrent enumeration does to the indices), creates the CameraControl with this manager as
// its CJNDeviceMgr, and keeps it in m_cameraList under m_mgrMutex.
#pragma once

#include <list>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "control/CameraInitOption.h"
#include "manager/JNDeviceMgr.h"

class CameraControl;

class JNCameraMgr : public CJNDeviceMgr {
  public:
    // The manager, made by the first call (with the transports' factories) and never destroyed.
    static JNCameraMgr* GetInstance();

    static constexpr int kProcessLevel = 6;
    int GetProcessLevel() const { return m_processLevel; }

    // Rescan all transports; -16 with count 0 ("No camera was found!!!!") when there is none.
    int CameraEnumerateDevice(int* count);
    // The same for the transports in flags (bit 1 USB, bit 0 GigE).
    int CameraEnumerateDeviceEx(int* count, int flags);
    // Rescan the USB cameras whose device files the host opened itself (n descriptors, their
    // (vendor << 16) | product words and device paths); -16 with count 0 when there is none.
    int CameraEnumerateDeviceFromOpenedDevList(int* count, int n, const int* fds,
                                               const unsigned* vidPid, const char* const* paths);
    // -6 for a null info or a bad index (info untouched); else info zeroed and filled from the
    // device with its in-use flag, and the device's result.
    int CameraGetEnumIndexInfo(int index, tDevInfo* info);
    // The IP configuration of the enumerated camera with this serial number; -6 when none.
    int CameraGigeGetIp(const char* sn, tGigeIpConfig* config);
    // Sets it; -4 when the firmware gate refuses a temporary address, -6 when no camera matches.
    int CameraGigeSetIp(const char* sn, tGigeIpConfig* config);
    int CameraGigeBroadcastSoftTrigger(const char* localIp, int value);

    // ---- Opening and release ----
    // Each opens one enumerated camera with a new controller and writes its handle. The handle
    // is kept for the results 0, -51 and -58 (a -51 handle has no device until CameraUnInit);
    // any other result destroys the controller and writes nothing. -6 for a bad index, a name
    // or serial number no enumerated camera has; -18 for a camera that reports itself in use or
    // that a controller of this process holds (a USB camera's stream would be reset under it).
    // CameraInit holds the manager mutex throughout; the others release it while the camera
    // opens.
    int CameraInit(HANDLE* handle, int index);
    int CameraInitEx(HANDLE* handle, int index, int paramMode, int paramGroup);
    int CameraInitEx2(HANDLE* handle, const char* name);
    int CameraInitEx3(HANDLE* handle, const char* sn);
    int CameraInitEx3WithParam(HANDLE* handle, const char* sn, const CameraInitOption* options);
    // Releases a handle of the init family: 0, or -6 when it is not one; -28 from the handle's
    // own frame callback (the controller cannot end the thread it runs on).
    int CameraDevUnInit(HANDLE handle);
    size_t CameraCount();  // opened controllers

    // Whether the camera's firmware refuses a temporary address: the camera's product series is
    // one of gatedSeries (compared with the terminator) and its first firmware word
    // (uDeviceType) is 0x0206 or below. An empty list gates nothing.
    static bool FirmwareRefusesIp(const tDevInfo& info, const tGigeIpConfig& config,
                                  std::span<const char* const> gatedSeries);

  protected:
    JNCameraMgr(std::unique_ptr<CCameraFactory> usbFactory,
                std::unique_ptr<CCameraFactory> gigeFactory);
    ~JNCameraMgr() override;

    // The vector kernels of the image pipeline run from level 5 on; nothing changes it.
    const int m_processLevel = kProcessLevel;
    std::recursive_mutex m_mgrMutex;         // guards the three lists below
    std::list<CameraControl*> m_cameraList;  // the opened controllers, owned
    // Cameras a released mutex lets other calls overlap with: devices being opened, and
    // controllers unlinked by CameraDevUnInit that are being destroyed.
    std::vector<std::shared_ptr<CJNDevice>> m_openingDevices;
    std::list<CameraControl*> m_closingList;

  private:
    // With m_mgrMutex held: whether an opened, opening or closing controller holds device's
    // camera.
    bool IsCameraHeldLocked(const std::shared_ptr<CJNDevice>& device);
    // Without m_mgrMutex, for a device the caller put into m_openingDevices: creates and
    // initialises a controller, then takes the device out of that list and keeps the
    // controller when its result allows. *out is the kept controller or null.
    int OpenController(const std::shared_ptr<CJNDevice>& device, int paramMode, int paramGroup,
                       const CameraInitOption* options, CameraControl** out);
    int InitByKey(HANDLE* handle, DeviceKey key, const char* value,
                  const CameraInitOption* options);
};

namespace qv::internal {
// Test seam (not exported): the factories the manager is made with, instead of the transports'.
// Takes effect only before the first GetInstance; false when the manager exists already.
bool InstallManagerFactories(std::unique_ptr<CCameraFactory> usbFactory,
                             std::unique_ptr<CCameraFactory> gigeFactory);
}  // namespace qv::internal
