#include "manager/JNDeviceMgr.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "common/Log.h"
#include "gige/GvcpProtocol.h"
#include "gige/SocketException.h"
#include "gige/UDP.h"

namespace {

// The sort key of one device is its information, read once per enumeration: a device whose
// information changes while the vector is sorted (a GigE camera's discovery answer) cannot make
// the order inconsistent.
std::string_view Field(const char* text, size_t room) {
    return std::string_view(text, strnlen(text, room));
}

// Friendly name, then serial number, compared as strcmp does (bytes as unsigned char); the
// fields need not be terminated.
bool KeyLess(const tDevInfo& a, const tDevInfo& b) {
    const int byName = Field(a.acFriendlyName, sizeof a.acFriendlyName)
                           .compare(Field(b.acFriendlyName, sizeof b.acFriendlyName));
    if (byName != 0) return byName < 0;
    return Field(a.acSn, sizeof a.acSn).compare(Field(b.acSn, sizeof b.acSn)) < 0;
}

void ReadInfo(CJNDevice& device, tDevInfo& info) {
    std::memset(&info, 0, sizeof info);
    device.GetDeviceInfo(&info, nullptr);
}

// The GVCP software-trigger vendor command: header {0x42, flags 0, command, payload length,
// request identifier}, big-endian, then the one payload byte.
constexpr int kBroadcastRepeats = 3;

}  // namespace

CJNDeviceMgr::CJNDeviceMgr(std::unique_ptr<CCameraFactory> usbFactory,
                           std::unique_ptr<CCameraFactory> gigeFactory, unsigned keepAlivePeriodMs)
    : CDevKeepAliveMgr(keepAlivePeriodMs),
      m_usbFactory(std::move(usbFactory)),
      m_gigeFactory(std::move(gigeFactory)) {}

CJNDeviceMgr::~CJNDeviceMgr() {
    // The service thread calls this class's hooks: it must end before the members do.
    StopService();
    m_gigeFactory.reset();
    ClearDeviceList();
    m_keepLiveDevList.clear();
    m_usbFactory.reset();
}

// ---- Enumeration ---------------------------------------------------------------------------

void CJNDeviceMgr::ClearDeviceList() {
    std::lock_guard lock(m_listMutex);
    m_devices.clear();
}

int CJNDeviceMgr::DeviceCount() {
    std::lock_guard lock(m_listMutex);
    return static_cast<int>(m_devices.size());
}

int CJNDeviceMgr::EnumerateDevice(unsigned flags) {
    std::lock_guard lock(m_listMutex);
    // The old objects go first: a transport may then reopen the same cameras.
    m_devices.clear();
    EnumerateToList(m_devices, flags);
    return CAMERA_STATUS_SUCCESS;
}

void CJNDeviceMgr::EnumerateFromOpenedDevList(int n, const int* fds, const unsigned* vidPid,
                                              const char* const* paths) {
    std::lock_guard lock(m_listMutex);
    m_devices.clear();
    if (m_usbFactory) m_usbFactory->EnumerateFromOpenedDevList(m_devices, n, fds, vidPid, paths);
    m_devices.erase(std::remove(m_devices.begin(), m_devices.end(), nullptr), m_devices.end());
}

void CJNDeviceMgr::EnumerateToList(std::vector<std::shared_ptr<CJNDevice>>& devices,
                                   unsigned flags) {
    // A failing factory simply contributes nothing.
    if ((flags & kEnumUsb) && m_usbFactory) m_usbFactory->GetDeviceList(devices);
    if ((flags & kEnumGige) && m_gigeFactory) m_gigeFactory->GetDeviceList(devices);
    devices.erase(std::remove(devices.begin(), devices.end(), nullptr), devices.end());

    std::vector<std::pair<tDevInfo, std::shared_ptr<CJNDevice>>> keyed(devices.size());
    for (size_t i = 0; i < devices.size(); ++i) {
        ReadInfo(*devices[i], keyed[i].first);
        keyed[i].second = std::move(devices[i]);
    }
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto& a, const auto& b) { return KeyLess(a.first, b.first); });
    devices.clear();
    for (auto& entry : keyed) devices.push_back(std::move(entry.second));
}

bool CJNDeviceMgr::CompareDevice(const std::shared_ptr<CJNDevice>& a,
                                 const std::shared_ptr<CJNDevice>& b) {
    tDevInfo ia, ib;
    ReadInfo(*a, ia);
    ReadInfo(*b, ib);
    return KeyLess(ia, ib);
}

// ---- Per-index queries -----------------------------------------------------------------------

std::shared_ptr<CJNDevice> CJNDeviceMgr::DeviceAt(int index) {
    std::lock_guard lock(m_listMutex);
    if (index < 0 || index >= static_cast<int>(m_devices.size())) return nullptr;
    return m_devices[static_cast<size_t>(index)];
}

int CJNDeviceMgr::GetDevice(int index, std::shared_ptr<CJNDevice>& out) {
    std::lock_guard lock(m_listMutex);
    std::shared_ptr<CJNDevice> device = DeviceAt(index);
    if (!device) return CAMERA_STATUS_PARAMETER_INVALID;
    if (device->IsInUse()) return CAMERA_STATUS_DEVICE_IS_OPENED;
    out = std::move(device);
    return CAMERA_STATUS_SUCCESS;
}

int CJNDeviceMgr::GetDeviceInfo(int index, tDevInfo* info) {
    std::lock_guard lock(m_listMutex);
    std::shared_ptr<CJNDevice> device = DeviceAt(index);
    if (!device) return CAMERA_STATUS_PARAMETER_INVALID;
    return device->GetDeviceInfo(info, nullptr);
}

int CJNDeviceMgr::IsDeviceInUse(int index) {
    std::lock_guard lock(m_listMutex);
    std::shared_ptr<CJNDevice> device = DeviceAt(index);
    if (!device) return CAMERA_STATUS_PARAMETER_INVALID;
    return device->IsInUse() ? 1 : 0;
}

int CJNDeviceMgr::GigeGetIp(int index, tGigeIpConfig* config) {
    std::lock_guard lock(m_listMutex);
    std::shared_ptr<CJNDevice> device = DeviceAt(index);
    if (!device) return CAMERA_STATUS_PARAMETER_INVALID;
    return device->GetIpConfig(config);
}

int CJNDeviceMgr::GigeSetIp(int index, tGigeIpConfig* config) {
    std::lock_guard lock(m_listMutex);
    std::shared_ptr<CJNDevice> device = DeviceAt(index);
    if (!device) return CAMERA_STATUS_PARAMETER_INVALID;
    return device->SetIpConfig(config);
}

int CJNDeviceMgr::GetEnumIndexInfo(int index, tDevInfo* info, std::shared_ptr<CJNDevice>* out) {
    if (info == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    std::lock_guard lock(m_listMutex);
    std::shared_ptr<CJNDevice> device = DeviceAt(index);
    if (!device) return CAMERA_STATUS_PARAMETER_INVALID;
    std::memset(info, 0, sizeof *info);
    const int r = device->GetDeviceInfo(info, nullptr);
    info->uInUse = device->IsInUse() ? 1 : 0;
    if (out != nullptr) *out = std::move(device);
    return r;
}

int CJNDeviceMgr::FindDevice(DeviceKey which, const char* key, std::shared_ptr<CJNDevice>& out,
                             tDevInfo* info) {
    if (key == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    std::lock_guard lock(m_listMutex);
    for (const auto& device : m_devices) {
        tDevInfo candidate;
        std::memset(&candidate, 0, sizeof candidate);
        if (device->GetDeviceInfo(&candidate, nullptr) != CAMERA_STATUS_SUCCESS) continue;
        const std::string_view field =
            which == DeviceKey::kFriendlyName
                ? Field(candidate.acFriendlyName, sizeof candidate.acFriendlyName)
                : Field(candidate.acSn, sizeof candidate.acSn);
        if (field != std::string_view(key)) continue;
        candidate.uInUse = device->IsInUse() ? 1 : 0;
        if (info != nullptr) *info = candidate;
        out = device;
        return CAMERA_STATUS_SUCCESS;
    }
    return CAMERA_STATUS_PARAMETER_INVALID;
}

// ---- Broadcast software trigger --------------------------------------------------------------

uint16_t CJNDeviceMgr::NextRequestId() {
    std::lock_guard lock(m_requestIdMutex);
    const uint16_t id = m_requestId;
    m_requestId = static_cast<uint16_t>(m_requestId + 1);
    if (m_requestId == 0) m_requestId = 1;  // 0 is never sent
    return id;
}

int CJNDeviceMgr::GigeBroadcastSoftTrigger(const char* localIp, int value) {
    if (localIp == nullptr) return CAMERA_STATUS_FAILED;
    namespace gige = qv::gige;
    const uint16_t id = NextRequestId();
    uint8_t command[gige::kHeaderSize + 1];
    gige::EncodeCmdHeader(command, {0x00, gige::kVendorSoftTrigger, 1, id});
    command[gige::kHeaderSize] = static_cast<uint8_t>(value & 0xFF);
    LQComponent::UDP socket;
    int result = CAMERA_STATUS_FAILED;
    try {
        socket.open();
        socket.set_reuseaddr(1);
        // Bound to the interface's address, the broadcast leaves by that interface only; a
        // socket that cannot be bound there sends nothing.
        if (socket.bind(std::string(localIp), 0) == 0 && socket.set_broadcast(1) == 0) {
            size_t sent = 0;
            for (int i = 0; i < kBroadcastRepeats; ++i)
                sent = socket.send("255.255.255.255", gige::GvcpPort(), command, sizeof command);
            if (sent == sizeof command) result = CAMERA_STATUS_SUCCESS;
        }
    } catch (const LQComponent::SocketException& e) {
        qv::Log("broadcast: %s\n", e.what());
    }
    socket.close();
    return result;
}

// ---- Forwarders ------------------------------------------------------------------------------

int CJNDeviceMgr::ForwardSetDisconnectCallback(const std::shared_ptr<CJNDevice>& device,
                                               CJNDevice::DisconnectCallback callback,
                                               void* context) {
    if (!device) return CAMERA_STATUS_FAILED;
    std::lock_guard lock(m_listMutex);
    return device->SetDisconnectCallback(callback, context);
}

// ---- Keep-alive hooks ------------------------------------------------------------------------

int CJNDeviceMgr::KLive_init() {
    QV_ASSERT(m_keepLiveDevList.empty());
    std::vector<std::shared_ptr<CJNDevice>> found;
    EnumerateToList(found, kEnumAll);
    for (auto& device : found)
        if (device->CheckAlive()) m_keepLiveDevList.push_back(std::move(device));
    return 0;
}

int CJNDeviceMgr::KLive_GetDevList(std::list<std::shared_ptr<CJNDevice>>& out) {
    m_keepLiveDevList.remove_if(
        [](const std::shared_ptr<CJNDevice>& device) { return !device || !device->CheckAlive(); });
    if (m_usbFactory) m_usbFactory->RefreshDeviceList(m_keepLiveDevList);
    if (m_gigeFactory) m_gigeFactory->RefreshDeviceList(m_keepLiveDevList);
    for (const auto& device : m_keepLiveDevList) {
        if (!device) continue;
        DevAccessStatus status{};
        if (device->GetAccessStatus(&status) == CAMERA_STATUS_SUCCESS && status.inUse == 0)
            out.push_back(device);
    }
    return 0;
}

int CJNDeviceMgr::KLive_uninit() {
    m_keepLiveDevList.clear();
    return 0;
}
