// CameraControl: the device-loss rule of the frame wait, loss handling, connection-status events
// with their timer task, reconnection through the keep-alive service, and reboot.
#include <algorithm>
#include <cmath>

#include "control/CameraControl.h"
#include "common/Log.h"
#include "services/TimerMng.h"

namespace {

// A stream is given at least 5 s without frames before it counts as lost. Up to a frame or
// exposure time of 2.5 s that is at least two frame times; beyond it the allowance grows with
// the frame: two frames and half a second up to 5 s (2 x 5000 + 500 = 10500 ms at the upper
// end), then one frame and four seconds (5000 + 4000 = 9000 ms at its start, so the rule is not
// monotonic at 5 s; the long-exposure drivers are tuned to it).
constexpr double kShortFrameLimitMs = 2500;
constexpr double kMediumFrameLimitMs = 5000;
constexpr uint64_t kMinLossTimeMs = 5000;
constexpr double kMediumFrameSlackMs = 500;
constexpr double kLongFrameSlackMs = 4000;

}  // namespace

uint64_t CameraControl::DeviceLossTimeoutMs(double frameTimeUs, double exposureUs) {
    const double d = std::max({frameTimeUs, exposureUs, 0.0}) / 1000.0;
    if (!std::isfinite(d) || d < kShortFrameLimitMs) return kMinLossTimeMs;
    if (d < kMediumFrameLimitMs) return static_cast<uint64_t>(2 * d + kMediumFrameSlackMs);
    return static_cast<uint64_t>(d + kLongFrameSlackMs);
}

bool CameraControl::IsLossAfterFailedWait(int waitResult) {
    if (waitResult == CAMERA_STATUS_DEVICE_LOST) return true;  // posted by the transport
    if (m_param.settings.triggerMode == TRIGGER_MODE_CONTINUOUS) {
        if (waitResult != CAMERA_STATUS_TIMEOUT) return false;
        // A value the device cannot report counts as 0: the minimum loss time applies.
        double frameTime = 0;
        double exposure = 0;
        if (GetFrameTime(&frameTime) != CAMERA_STATUS_SUCCESS) frameTime = 0;
        if (GetExposure(&exposure) != CAMERA_STATUS_SUCCESS) exposure = 0;
        const uint64_t limit = DeviceLossTimeoutMs(frameTime, exposure);
        const uint64_t now = m_clock->NowMs();
        return now >= m_lastFrameMs && now - m_lastFrameMs >= limit;
    }
    // Triggers may stay away for any time: only a camera that stops answering is lost.
    return CheckAlive() == 0;
}

void CameraControl::HandleDeviceLoss() {
    CloseCameraStream();
    Detach();
    RegisterKeepAlive(this);
    m_lastFrameMs = m_clock->NowMs();
}

bool CameraControl::HoldsCamera(const std::shared_ptr<CJNDevice>& candidate) {
    if (IsAttachedTo(candidate)) return true;
    return IsRegistered() && IsSameDevice(candidate);
}

// ---- Connection-status events ------------------------------------------------------------------

int CameraControl::CameraSetConnectionStatusCallback(CameraConnectionStatusCallback callback,
                                                     void* context) {
    ApiLock lock(m_apiMutex);
    m_statusCallback = callback;
    m_statusContext = context;
    return SetDisconnectCallback(
        callback != nullptr ? &CameraControl::ConnectionStatusCallback : nullptr,
        callback != nullptr ? this : nullptr);
}

void CameraControl::ConnectionStatusCallback(void* device, int status, void* context) {
    (void)device;
    if (context != nullptr) static_cast<CameraControl*>(context)->OnConnectionStatus(status);
}

void CameraControl::OnConnectionStatus(int status) {
    // Runs on a transport thread with the device's mutex held: it must not wait for the API
    // mutex (its holder may be inside a device call) and makes no device call itself. The
    // status callback comes last, after the lock is let go: it may release the handle.
    CameraConnectionStatusCallback callback;
    void* context;
    {
        ApiLock lock(m_apiMutex, std::try_to_lock);
        if (!lock.owns_lock() || m_statusCallback == nullptr) return;
        callback = m_statusCallback;
        context = m_statusContext;
        if (status == 0) {
            if (m_disconnected) return;
            m_disconnected = true;
            if (m_deviceLostTimer == nullptr)
                m_deviceLostTimer = CTimerMng::GetInstance()->AddTimer(
                    &CameraControl::DeviceLostTimerProc, 0, this);
        } else if (status == 1) {
            m_disconnected = false;
        }
    }
    callback(static_cast<HANDLE>(this), status, context);
}

int CameraControl::DeviceLostTimerProc(TimerEntry* entry, void* user) {
    return static_cast<CameraControl*>(user)->DeviceLostTask(entry);
}

int CameraControl::DeviceLostTask(TimerEntry* entry) {
    // The timer thread serves every camera: it never waits here. A busy controller, or a
    // keep-alive service busy offering cameras, is tried again on the next tick.
    ApiLock lock(m_apiMutex, std::try_to_lock);
    if (!lock.owns_lock()) return 0;
    if (m_deviceLostTimer != entry) return -1;  // removed meanwhile
    if (!m_lossDetached && !IsRegistered()) {
        CloseCameraStream();
        Detach();
        m_lossDetached = true;
    }
    if (TryRegisterKeepAlive(this) == CAMERA_STATUS_BUSY) return 0;
    m_lossDetached = false;
    m_deviceLostTimer = nullptr;
    return -1;
}

// ---- Reconnection ------------------------------------------------------------------------------

int CameraControl::KLive_Reconnect(std::list<std::shared_ptr<CJNDevice>>& present) {
    if (present.empty()) return -1;
    // The keep-alive service holds its list mutex here, and a controller registers while holding
    // its API mutex: waiting for the API mutex could close that circle.
    ApiLock lock(m_apiMutex, std::try_to_lock);
    if (!lock.owns_lock()) return -1;
    for (const auto& device : present) {
        if (!IsSameDevice(device)) continue;
        Attach(device);
        m_intValue14 = 0;
        if (ReopenCameraStream(true) != CAMERA_STATUS_SUCCESS) {
            qv::Log("reconnect device err\n");
            Detach();
            return 0;
        }
        UnregisterKeepAlive(this);
        // A loss event still waiting for its timer task is older than this reconnection. Its
        // task only tries the locks held here, so removing it does not wait long.
        if (m_deviceLostTimer != nullptr) {
            CTimerMng::GetInstance()->RemoveTimer(m_deviceLostTimer);
            m_deviceLostTimer = nullptr;
        }
        m_lossDetached = false;
        if (m_statusCallback == nullptr || !m_disconnected) return 0;
        m_disconnected = false;
        CameraConnectionStatusCallback callback = m_statusCallback;
        void* context = m_statusContext;
        lock.unlock();
        // Last: the callback may release the handle.
        callback(static_cast<HANDLE>(this), 1, context);
        return 0;
    }
    return -1;
}

// ---- Reboot
// --------------------------------------------------------------------------------------

int CameraControl::CameraReboot() {
    const int r = Reboot();
    if (r != CAMERA_STATUS_SUCCESS) return r;
    OnConnectionStatus(0);
    return CAMERA_STATUS_SUCCESS;
}
