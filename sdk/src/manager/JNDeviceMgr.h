// CJNDeviceMgr: the device side of the camera manager. It owns the two transport factories and
// the enumerated device vector (position = enumeration index), answers the per-index queries,
// is the keep-alive service for lost cameras (its hooks re-enumerate and offer the cameras that
// are present and free), and forwards the device operations of attachment holders.
//
// Locking: m_listMutex (recursive) guards the device vector. Enumeration takes only it; the
// camera manager takes its own mutex first and this one inside. Device operations run with it
// held only where noted (per-index queries, the disconnect-callback forwarder); a device is
// otherwise used through a copy of its shared pointer, so a concurrent enumeration never frees a
// device in use. Lock order: manager mutex, attachment mutex, list mutex, the device's mutexes.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <type_traits>
#include <utility>
#include <vector>

#include "manager/CameraFactory.h"
#include "services/DevKeepAliveMgr.h"
#include "device/JNDevice.h"

class CJNDeviceMgr : public CDevKeepAliveMgr {
  public:
    static constexpr unsigned kKeepAlivePeriodMs = 1000;
    // Enumeration flags: which transports to ask.
    static constexpr unsigned kEnumGige = 1u << 0;
    static constexpr unsigned kEnumUsb = 1u << 1;
    static constexpr unsigned kEnumAll = kEnumGige | kEnumUsb;
    static constexpr uint16_t kGvcpPort = 13956;  // the GigE cameras' control port

    // Either factory may be null (that transport contributes nothing).
    CJNDeviceMgr(std::unique_ptr<CCameraFactory> usbFactory,
                 std::unique_ptr<CCameraFactory> gigeFactory,
                 unsigned keepAlivePeriodMs = kKeepAlivePeriodMs);
    ~CJNDeviceMgr() override;

    // ---- Enumeration ----
    // Rebuilds the device vector from the factories in flags (USB first), sorted by friendly
    // name, then serial number. Indices handed out before become meaningless.
    int EnumerateDevice(unsigned flags);
    void ClearDeviceList();
    int DeviceCount();
    // Rebuilds the device vector from the USB cameras whose device files the host opened itself
    // (n descriptors with their (vendor << 16) | product words and device paths), unsorted; the
    // factory's result is not looked at.
    void EnumerateFromOpenedDevList(int n, const int* fds, const unsigned* vidPid,
                                    const char* const* paths);
    // Fills devices from the factories in flags and sorts the whole vector; the caller guards it.
    void EnumerateToList(std::vector<std::shared_ptr<CJNDevice>>& devices, unsigned flags);
    // Strict-weak "less" on (friendly name, serial number), both read now.
    static bool CompareDevice(const std::shared_ptr<CJNDevice>& a,
                              const std::shared_ptr<CJNDevice>& b);

    // ---- Per-index queries (-6 for an index outside 0 to count - 1) ----
    // -18 when the device reports itself in use; else out holds the device.
    int GetDevice(int index, std::shared_ptr<CJNDevice>& out);
    int GetDeviceInfo(int index, tDevInfo* info);
    int IsDeviceInUse(int index);  // 1 or 0
    int GigeGetIp(int index, tGigeIpConfig* config);
    int GigeSetIp(int index, tGigeIpConfig* config);
    // The information of one index and its in-use flag, both from the same device: info zeroed,
    // filled (all but uInUse) and uInUse set. -6 (info untouched) for a null info or a bad index;
    // else the device's GetDeviceInfo result. out, when given, receives the device.
    int GetEnumIndexInfo(int index, tDevInfo* info, std::shared_ptr<CJNDevice>* out = nullptr);

    // ---- Search by key, one consistent pass over the vector ----
    enum class DeviceKey { kFriendlyName, kSerialNumber };
    // The first enumerated device whose key equals key (its information read successfully);
    // 0 with out and info (when given) filled, or -6 (null key, no match).
    int FindDevice(DeviceKey which, const char* key, std::shared_ptr<CJNDevice>& out,
                   tDevInfo* info = nullptr);

    // ---- Broadcast software trigger ----
    // Sends the GigE software-trigger vendor command three times to 255.255.255.255:13956 from
    // localIp (any port). 0 when every send went out whole; -1 when the address is bad, the
    // socket cannot be bound or configured, or a send fails.
    int GigeBroadcastSoftTrigger(const char* localIp, int value);
    // The next GVCP request identifier: 1, 2, ..., 0xFFFF, 1, ...; never 0.
    uint16_t NextRequestId();

    // ---- Forwarders of the attachment holders: -1 for an empty device, else the device's
    //      result for the arguments unchanged. No lock, except for SetDisconnectCallback, which
    //      holds the list mutex around the device call. ----
    template <typename C, typename... P, typename... A>
    static int Forward(const std::shared_ptr<CJNDevice>& device, int (C::*op)(P...), A&&... args) {
        static_assert(std::is_base_of_v<C, CJNDevice>);
        if (!device) return CAMERA_STATUS_FAILED;
        return ((*device).*op)(std::forward<A>(args)...);
    }
    int ForwardSetDisconnectCallback(const std::shared_ptr<CJNDevice>& device,
                                     CJNDevice::DisconnectCallback callback, void* context);

  protected:
    // Keep-alive hooks (service thread only; m_keepLiveDevList needs no lock).
    int KLive_GetDevList(std::list<std::shared_ptr<CJNDevice>>& out) override;
    int KLive_init() override;
    int KLive_uninit() override;

    std::recursive_mutex m_listMutex;  // guards m_devices
    std::vector<std::shared_ptr<CJNDevice>> m_devices;
    // Devices watched for reconnection; the keep-alive thread's own.
    std::list<std::shared_ptr<CJNDevice>> m_keepLiveDevList;
    std::unique_ptr<CCameraFactory> m_usbFactory;
    std::unique_ptr<CCameraFactory> m_gigeFactory;

  private:
    std::shared_ptr<CJNDevice> DeviceAt(int index);  // empty for a bad index

    std::mutex m_requestIdMutex;  // guards m_requestId
    uint16_t m_requestId = 1;
};
