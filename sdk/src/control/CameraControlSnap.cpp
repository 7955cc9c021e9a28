// CameraControl: the one-shot capture at a separate snapshot resolution.
#include <algorithm>
#include <climits>

#include "control/CameraControl.h"
#include "control/ResolutionRules.h"
#include "common/Log.h"
#include "common/TimeUtil.h"

using namespace qv::control;

int CameraControl::CameraSetResolutionForSnap(tSdkResolution* res) {
    ApiLock lock(m_apiMutex);
    if (!m_initialized) return CAMERA_STATUS_NOT_INITIALIZED;
    if (!m_devParamValid) return CAMERA_STATUS_FAILED;
    if (res == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    const SensorWords words = SensorWordsCopy();
    const UINT* sensor = words.data();
    if (!ModesOffered(*res, sensor)) return CAMERA_STATUS_PARAMETER_INVALID;

    // A save copies the record under the device mutex.
    const DeviceHold hold = HoldDevice();
    if (res->uWidth == 0 || res->uHeight == 0) {
        // The current resolution. A custom region is followed as it is at the time of the
        // shot, which is what "no separate snapshot resolution" gives.
        res->iIndex = m_param.settings.resolutionIndex;
        if (res->iIndex == kCustomIndex)
            m_param.snapResolution = tSdkResolution{};
        else
            m_param.snapResolution = m_curResolution;
        return CAMERA_STATUS_SUCCESS;
    }

    AlignToSensorSteps(*res);
    res->uResizeWidth = 0;
    res->uResizeHeight = 0;
    if (!FitsSensor(*res, sensor)) return CAMERA_STATUS_PARAMETER_INVALID;

    tSdkResolution preset;
    if (res->iIndex != kCustomIndex &&
        GetResolutionDesc(res->iIndex, &preset) == CAMERA_STATUS_SUCCESS &&
        preset.uWidth == res->uWidth && preset.uHeight == res->uHeight) {
        m_param.snapResolution = preset;
    } else {
        res->iIndex = kCustomIndex;
        m_param.snapResolution = *res;
    }
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetResolutionForSnap(tSdkResolution* res) {
    if (res == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    ApiLock lock(m_apiMutex);
    *res = m_param.snapResolution.uWidth != 0 ? m_param.snapResolution : m_curResolution;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::WaitSnapFrame(CFrameBufferShared& taken, int timeoutMs) {
    const uint64_t deadline = GetTickCountMs() + static_cast<uint64_t>(timeoutMs);
    for (;;) {
        if (m_param.settings.triggerMode == TRIGGER_MODE_SOFTWARE) CameraSoftTrigger();
        const uint64_t now = GetTickCountMs();
        const int left = now < deadline ? static_cast<int>(deadline - now) : 0;
        const int r = m_bucketClient->GetFullFrame(taken, left);
        if (r == CAMERA_STATUS_SUCCESS) return r;
        if (r == CAMERA_STATUS_DEVICE_LOST) {
            HandleDeviceLoss();
            qv::Log("lost device register!!!!\n");
            return CAMERA_STATUS_TIMEOUT;
        }
        if (r == CAMERA_STATUS_TIMEOUT || GetTickCountMs() >= deadline)
            return CAMERA_STATUS_TIMEOUT;
        // Another status posted into the pool (none of the transports posts one) answers at
        // once: try again after a pause, within the caller's time.
        SleepMs(kCaptureRetryMs);
    }
}

int CameraControl::CameraSnapToBuffer(CameraFrameHandle* frame, stImageInfo* info, BYTE** data,
                                      unsigned timeoutMs) {
    if (frame == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    *frame = nullptr;
    if (data != nullptr) *data = nullptr;
    // Held for the whole shot: nothing may change the stream between the switch and the
    // switch back.
    ApiLock lock(m_apiMutex);
    if (!m_initialized) return CAMERA_STATUS_NOT_INITIALIZED;
    if (!m_devParamValid) return CAMERA_STATUS_FAILED;
    // 0xFFFFFFFF ("wait for ever") and the like must not turn into a negative wait.
    const int timeout = static_cast<int>(std::min<unsigned>(timeoutMs, INT_MAX));

    const tSdkResolution savedResolution = m_curResolution;
    const bool wasPlaying = m_playing;
    stImageInfo settingsHead{};
    const bool haveHead =
        CameraGetFrameHead(&settingsHead, static_cast<int>(m_curResolution.uResizeWidth),
                           static_cast<int>(m_curResolution.uResizeHeight)) ==
        CAMERA_STATUS_SUCCESS;

    if (!wasPlaying) {
        if (StartCapture() != CAMERA_STATUS_SUCCESS) return CAMERA_STATUS_FAILED;
        // A paused sensor is off: on for the shot, off again afterwards.
        StreamOn();
        m_playing = true;
        m_lastFrameMs = m_clock->NowMs();
    }

    int result = CAMERA_STATUS_FAILED;
    bool switched = false;
    const tSdkResolution snap = m_param.snapResolution;
    if (snap.uWidth != 0 &&
        (snap.uWidth != m_curResolution.uWidth || snap.uHeight != m_curResolution.uHeight)) {
        switched = true;
        // Only the stream runs at the snapshot's resolution: the record keeps the host's, which
        // a save may copy meanwhile and a reconnection after a loss reopens with.
        CloseCameraStream();
        {
            // The host's windows and resolution getter keep referring to the host's resolution.
            const DeviceHold hold = HoldDevice();
            m_hostResolution = savedResolution;
            m_snapSwitched = true;
            m_curResolution = snap;
        }
        qv::Log("CameraSnapToBuffer 1!!!\n");
        if (RestartStream(false) == CAMERA_STATUS_SUCCESS) result = CAMERA_STATUS_SUCCESS;
    } else {
        result = CAMERA_STATUS_SUCCESS;
    }

    if (result == CAMERA_STATUS_SUCCESS) {
        CFrameBufferShared taken;
        result = WaitSnapFrame(taken, timeout);
        if (result == CAMERA_STATUS_SUCCESS) {
            // The shot answers one software trigger, as a raw wait does, so the release can
            // stop the emulated stream again.
            if (m_param.settings.triggerMode == TRIGGER_MODE_SOFTWARE && m_softTriggerEmulation &&
                m_pendingTriggers > 0)
                --m_pendingTriggers;
            m_lastFrameMs = m_clock->NowMs();
            *frame = static_cast<CameraFrameHandle>(taken.get());
            if (data != nullptr) *data = taken->GetData();
            if (info != nullptr) {
                taken->GetImageInfo(info);
                // The frame's exposure as set when the shot was asked for.
                if (haveHead) {
                    info->ExpTime = settingsHead.ExpTime;
                    info->ExpLineTime = settingsHead.ExpLineTime;
                    info->Gain = settingsHead.Gain;
                }
            }
        }
    }

    if (!wasPlaying) {
        StreamOff();
        StopCapture();
        m_playing = false;
    }
    if (switched) {
        {
            const DeviceHold hold = HoldDevice();
            m_curResolution = savedResolution;
            m_snapSwitched = false;
        }
        // A camera lost during the shot gets its resolution back with the reconnection.
        if (!IsRegistered()) {
            CloseCameraStream();
            qv::Log("CameraSnapToBuffer 1!!!\n");
            if (ReopenCameraStream(true) != CAMERA_STATUS_SUCCESS) {
                CloseCameraStream();
                Detach();
                RegisterKeepAlive(this);
            }
        }
    }
    return result;
}
