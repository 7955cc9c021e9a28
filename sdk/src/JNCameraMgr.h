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

#include "JNDeviceMgr.h"

class CameraControl;

class JNCameraMgr : public CJNDeviceMgr {
  public:
    // The manager, made by the first call (with the transports' factories) and never destroyed.
    static JNCameraMgr* GetInstance();

    int GetProcessLevel() const { return m_processLevel; }

    // Rescan all transports; -16 with count 0 ("No camera was found!!!!") when there is none.
    int CameraEnumerateDevice(int* count);
    // The same for the transports in flags (bit 1 USB, bit 0 GigE).
    int CameraEnumerateDeviceEx(int* count, int flags);
    // -6 for a null info or a bad index (info untouched); else info zeroed and filled from the
    // device with its in-use flag, and the device's result.
    int CameraGetEnumIndexInfo(int index, tDevInfo* info);
    // The IP configuration of the enumerated camera with this serial number; -6 when none.
    int CameraGigeGetIp(const char* sn, tGigeIpConfig* config);
    // Sets it; -4 when the firmware gate refuses a temporary address, -6 when no camera matches.
    int CameraGigeSetIp(const char* sn, tGigeIpConfig* config);
    int CameraGigeBroadcastSoftTrigger(const char* localIp, int value);

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
    const int m_processLevel = 6;
    std::recursive_mutex m_mgrMutex;         // guards m_cameraList
    std::list<CameraControl*> m_cameraList;  // the opened controllers, owned
};

namespace qv::internal {
// Test seam (not exported): the factories the manager is made with, instead of the transports'.
// Takes effect only before the first GetInstance; false when the manager exists already.
bool InstallManagerFactories(std::unique_ptr<CCameraFactory> usbFactory,
                             std::unique_ptr<CCameraFactory> gigeFactory);
}  // namespace qv::internal
