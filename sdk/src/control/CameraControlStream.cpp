// CameraControl: stream open, close and reopen with the re-application of the stored settings,
// play and pause, the capture thread of callback mode, raw frames, the software trigger and the
// transfer mode.
#include <algorithm>

#include "control/CameraControl.h"
#include "common/Log.h"
#include "common/TimeUtil.h"

namespace {

// Auto exposure and white balance evaluate every n-th processed frame: in continuous mode every
// 2nd and 3rd (frames come fast and the device needs time to take a new exposure), in the
// trigger modes every frame (each one may be the last for a while).
constexpr int kAeIntervalContinuous = 2;
constexpr int kAwbIntervalContinuous = 3;

}  // namespace

// ---- Stream open, close, reopen ----------------------------------------------------------------

CameraInitParam CameraControl::BuildInitParam() {
    CameraInitParam p{};
    p.resolution = m_curResolution;
    p.frameSpeed = m_param.settings.frameSpeed;
    p.mediaType = m_param.sensorOutFormat;
    p.transferMode = m_param.transferMode;
    p.packetSize = m_param.packetSize;
    p.channelMask = ChannelMask();
    p.frameCount = m_optFrameCount;
    p.heartbeat = m_optHeartbeat;
    return p;
}

int CameraControl::OpenCameraStream(CameraInitParam* param) {
    const int r = OpenStream(m_frameBucket ? m_frameBucket->GetProducer() : nullptr, param);
    if (r != CAMERA_STATUS_SUCCESS) {
        qv::Log("OpenStream err:%d\n", r);
        return r;
    }
    // From here on device errors are not fatal: the stream is open and runs with what the
    // device took. The line and integer settings are changed without the API mutex, under the
    // device mutex held here: each is sent as it stands, and one changed meanwhile reaches the
    // device after these.
    const DeviceHold hold = HoldDevice();
    SetIntValue(1, m_intValue1);
    SetIntValue(3, m_intValue3);
    SetIntValue(15, IntValue15());
    SetIntValue(14, m_intValue14);
    SetIntValue(13, IntValue13Flag() != 0 ? 1 : 0);
    SetPacketDelay(m_param.packetDelay);
    SetResend(m_resendEnable ? 1 : 0, m_resend[0], m_resend[1], m_resend[2]);
    ApplyOutputLines();
    ApplyTriggerMode();
    if (m_property.wdrSupported != 0) SetWdrMode(WdrMode());
    if (m_property.aeTargetOnSensor != 0) SetAeTarget(m_param.settings.aeTarget);
    SetExposure(m_param.settings.exposureTime);
    SetAnalogGain(m_param.settings.analogGain);
    SetBlackLevel(static_cast<uint32_t>(m_param.settings.blackLevel));
    // Under the emulation the device stream stays stopped until a software trigger starts it;
    // started here, it would deliver a frame taken before the first trigger as that trigger's.
    if (!m_softTriggerEmulation) StartStream();
    if (m_playing)
        StreamOn();
    else
        StopCapture();
    return CAMERA_STATUS_SUCCESS;
}

void CameraControl::ApplyOutputLines() {
    const int count =
        std::min<int>(static_cast<int>(m_capability.uOutputIoCount), kOutputLinesHandled);
    for (int i = 0; i < count; ++i) {
        const OutputLineSetting& line = m_param.outputLines[i];
        switch (line.mode) {
            case IOMODE_STROBE_OUTPUT:
                SetStrobeMode(i, line.strobeMode);
                SetStrobeDelayTime(i, line.strobeDelay);
                SetStrobePolarity(i, line.strobePolarity);
                SetStrobePulseWidth(i, line.strobePulseWidth);
                break;
            case IOMODE_PWM_OUTPUT:
                SetOutputIOPWM(i, line.pwmPeriod, line.pwmDuty);
                break;
            case IOMODE_GP_OUTPUT:
                SetOutputIOState(i, line.state);
                break;
            default:
                break;
        }
        SetOutputIOMode(i, line.mode);
    }
}

void CameraControl::ApplyTriggerMode() {
    // Decided again at every open: a device may take the software trigger after an upgrade.
    m_softTriggerEmulation = false;
    m_pendingTriggers = 0;
    // Both trigger modes: the mode with its frame count and delay; every frame is measured.
    auto setTriggerMode = [this](int mode) {
        const int r = SetTriggerMode(mode);
        SetTriggerFrameCount(static_cast<uint32_t>(m_param.triggerFrameCount));
        SetTriggerDelayTime(m_param.triggerDelayTime);
        mExposure.SetFrameInterval(0);
        mWb.SetFrameInterval(0);
        return r;
    };
    switch (m_param.settings.triggerMode) {
        case TRIGGER_MODE_SOFTWARE:
            if (setTriggerMode(TRIGGER_MODE_SOFTWARE) == CAMERA_STATUS_NOT_SUPPORTED) {
                m_softTriggerEmulation = true;
                StopStream();
            }
            break;
        case TRIGGER_MODE_HARDWARE: {
            setTriggerMode(TRIGGER_MODE_HARDWARE);
            const int inputs =
                std::min<int>(static_cast<int>(m_capability.uInputIoCount), kInputLinesHandled);
            for (int i = 0; i < inputs; ++i) {
                const InputLineSetting& line = m_param.inputLines[i];
                if (line.mode != 0) continue;
                SetTriggerSignalType(i, line.signalType);
                SetTriggerJitterTime(i, line.jitterTime);
            }
            break;
        }
        default:
            SetTriggerMode(TRIGGER_MODE_CONTINUOUS);
            mExposure.SetFrameInterval(kAeIntervalContinuous);
            mWb.SetFrameInterval(kAwbIntervalContinuous);
            break;
    }
}

int CameraControl::CloseCameraStream() {
    // A value the device cannot report (it may be gone) keeps the one stored, so a reconnection
    // restores what the camera last ran with. Read and stored in one hold: the exposure setters
    // change device and record together under it.
    {
        const DeviceHold hold = HoldDevice();
        double exposure = 0;
        if (GetExposure(&exposure) == CAMERA_STATUS_SUCCESS)
            m_param.settings.exposureTime = exposure;
        int gain = 0;
        if (GetAnalogGain(&gain) == CAMERA_STATUS_SUCCESS)
            m_param.settings.analogGain = static_cast<uint32_t>(gain);
    }
    int value14 = 0;
    m_intValue14 = GetIntValue(14, &value14) == CAMERA_STATUS_SUCCESS ? value14 : 0;
    int r = StreamOff();
    if (r != CAMERA_STATUS_SUCCESS) qv::Log("Img_Disable err:%d\n", r);
    StopStream();
    r = CloseStream();
    if (r != CAMERA_STATUS_SUCCESS) qv::Log("CloseStream err:%d\n", r);
    if (m_frameBucket) {
        m_frameBucket->Reset();
        if (m_bucketClient != nullptr) m_bucketClient->Reset();
    }
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::ReopenCameraStream(bool refreshFrameTime) {
    {
        const DeviceHold hold = HoldDevice();
        if (GetResolutionDesc(m_param.settings.resolutionIndex, &m_curResolution) != 0)
            m_curResolution = m_defaultResolution;
    }
    return RestartStream(refreshFrameTime);
}

int CameraControl::RestartStream(bool refreshFrameTime) {
    CameraInitParam param = BuildInitParam();
    if (OpenCameraStream(&param) != CAMERA_STATUS_SUCCESS) return CAMERA_STATUS_FAILED;
    if (refreshFrameTime) {
        // In one hold: CameraGetFrameTime reads and hands on under it too, so the last value
        // auto exposure gets is one read after this open.
        const DeviceHold hold = HoldDevice();
        double frameTime = 0;
        if (GetFrameTime(&frameTime) == CAMERA_STATUS_SUCCESS) mExposure.SetFrameTime(frameTime);
    }
    SendWindowsToPipeline();
    if (m_playing) {
        StartCapture();
        m_lastFrameMs = m_clock->NowMs();
    }
    return CAMERA_STATUS_SUCCESS;
}

// ---- Play, pause, capture thread -------------------------------------------------------------

int CameraControl::CameraPlay() {
    ApiLock lock(m_apiMutex);
    if (!m_initialized) return CAMERA_STATUS_NOT_INITIALIZED;
    if (!m_devParamValid) return CAMERA_STATUS_FAILED;
    if (m_playing) return CAMERA_STATUS_SUCCESS;
    if (m_callbackSet && m_hCamThread && m_threadExit) {
        // A thread told to end from inside its own callback: resumed from that callback it
        // keeps running, otherwise it has ended and is joined.
        if (IsCaptureThread())
            m_threadExit = false;
        else
            StopCaptureThread(lock);
    }
    if (m_callbackSet && !m_hCamThread) {
        m_threadExit = false;
        m_hCamThread = std::make_unique<std::thread>(&CameraControl::CamThreadProc, this);
    }
    if (StartCapture() != CAMERA_STATUS_SUCCESS) {
        CloseCameraStream();
        qv::Log("CAMERA_STATUS_DEVICE_LOST!!!!\n");
        Detach();
        RegisterKeepAlive(this);
    }
    StreamOn();
    m_playing = true;
    m_lastFrameMs = m_clock->NowMs();
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraPause() {
    ApiLock lock(m_apiMutex);
    if (!m_initialized) return CAMERA_STATUS_NOT_INITIALIZED;
    if (m_playing) {
        StreamOff();
        StopCapture();
        m_playing = false;
    }
    StopCaptureThread(lock);
    return CAMERA_STATUS_SUCCESS;
}

bool CameraControl::IsCaptureThread() const {
    return m_camThreadId.load() == std::this_thread::get_id();
}

void CameraControl::StopCaptureThread(ApiLock& lock) {
    if (!m_hCamThread) return;
    m_threadExit = true;
    // From the frame callback, or with the API mutex held more than once (released once it
    // would stay locked and the thread would never return): the thread ends on its own and is
    // joined by the next CameraPlay or CameraUninit.
    if (IsCaptureThread() || m_apiMutex.Depth() != 1) return;
    qv::Log("m_hCamThread Exit = %p\n", static_cast<void*>(m_hCamThread.get()));
    std::unique_ptr<std::thread> thread = std::move(m_hCamThread);
    lock.unlock();
    thread->join();
    lock.lock();
    qv::Log("Un JNCamera CamThread!!! = %p\n", static_cast<void*>(m_hCamThread.get()));
}

int CameraControl::CameraSetCallbackFunction(CameraFrameCallback callback, void* context,
                                             CameraFrameCallback* previous) {
    ApiLock lock(m_apiMutex);
    if (m_playing) return CAMERA_STATUS_BUSY;
    std::lock_guard callbackLock(m_callbackMutex);
    if (previous != nullptr) *previous = m_frameCallback;
    m_frameCallback = callback;
    m_frameContext = context;
    m_callbackSet = callback != nullptr;
    return CAMERA_STATUS_SUCCESS;
}

void CameraControl::CamThreadProc() {
    m_camThreadId = std::this_thread::get_id();
    while (!m_threadExit) {
        CameraFrameHandle frame = nullptr;
        if (CameraGetRawImageBuffer(&frame, kCaptureWaitMs) != CAMERA_STATUS_SUCCESS) {
            SleepMs(kCaptureRetryMs);
            continue;
        }
        CameraFrameCallback callback;
        void* context;
        {
            std::lock_guard callbackLock(m_callbackMutex);
            callback = m_frameCallback;
            context = m_frameContext;
        }
        if (callback != nullptr) {
            stImageInfo info{};
            // A frame the resize cannot take is not handed over without data.
            if (BYTE* data = CameraGetImageInfo(frame, &info))
                callback(static_cast<HANDLE>(this), data, &info, context);
        }
        CameraReleaseFrameHandle(frame);
    }
    m_camThreadId = std::thread::id();
}

// ---- Raw frames --------------------------------------------------------------------------------

int CameraControl::CameraGetRawImageBuffer(CameraFrameHandle* frame, int timeoutMs) {
    if (frame == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    *frame = nullptr;
    if (IsRegistered()) {
        SleepMs(kLostWaitPauseMs);
        return CAMERA_STATUS_DEVICE_LOST;
    }
    CFrameBucketClient* client = m_bucketClient;
    if (!m_initialized || client == nullptr) return CAMERA_STATUS_NOT_INITIALIZED;

    CFrameBufferShared taken;
    const int r = client->GetFullFrame(taken, timeoutMs);

    ApiLock lock(m_apiMutex);
    if (r == CAMERA_STATUS_SUCCESS) {
        if (m_param.settings.triggerMode == TRIGGER_MODE_SOFTWARE && m_softTriggerEmulation) {
            if (m_pendingTriggers == 0) {
                client->ReleaseFrame(taken);
                return CAMERA_STATUS_NOT_TRIGGERED;
            }
            --m_pendingTriggers;
        }
        *frame = static_cast<CameraFrameHandle>(taken.get());
        m_lastFrameMs = m_clock->NowMs();
        return CAMERA_STATUS_SUCCESS;
    }
    // Found lost by another thread while this one waited.
    if (IsRegistered()) return CAMERA_STATUS_DEVICE_LOST;
    if (!m_playing) {
        // A paused camera (or one without device parameters) is never declared lost. A status
        // posted into the pool returns at once: wait the time asked for, as a time-out would.
        if (r != CAMERA_STATUS_TIMEOUT && timeoutMs > 0) {
            lock.unlock();
            SleepMs(static_cast<unsigned>(timeoutMs));
        }
        return CAMERA_STATUS_TIMEOUT;
    }
    if (IsLossAfterFailedWait(r)) {
        HandleDeviceLoss();
        qv::Log("lost device register!!!!\n");
    }
    return CAMERA_STATUS_TIMEOUT;
}

int CameraControl::CameraReleaseFrameHandle(CameraFrameHandle frame) {
    if (frame == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    ApiLock lock(m_apiMutex);
    if (m_bucketClient == nullptr || !IsPoolFrame(frame)) return CAMERA_STATUS_PARAMETER_INVALID;
    // A frame nobody holds was given back already.
    if (!m_bucketClient->ReleaseFrame(static_cast<CFrameBuffer*>(frame)))
        return CAMERA_STATUS_PARAMETER_INVALID;
    if (m_param.settings.triggerMode == TRIGGER_MODE_SOFTWARE && m_softTriggerEmulation &&
        m_pendingTriggers == 0)
        StopStream();
    return CAMERA_STATUS_SUCCESS;
}

// ---- Software trigger and transfer mode ------------------------------------------------------

int CameraControl::CameraSoftTrigger() {
    ApiLock lock(m_apiMutex);
    if (m_param.settings.triggerMode != TRIGGER_MODE_SOFTWARE) return CAMERA_STATUS_FAILED;
    if (!m_softTriggerEmulation) return SoftTrigger();
    StreamOn();
    SleepMs(kSoftTriggerSettleMs);
    StartStream();
    ++m_pendingTriggers;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSetImageTransferMode(int mode) {
    ApiLock lock(m_apiMutex);
    if (!m_initialized) return CAMERA_STATUS_NOT_INITIALIZED;
    if (!m_devParamValid) return CAMERA_STATUS_FAILED;
    if (mode == m_param.transferMode) return CAMERA_STATUS_SUCCESS;
    CloseCameraStream();
    {
        const DeviceHold hold = HoldDevice();  // a save copies the record under it
        m_param.transferMode = mode;
    }
    return ReopenCameraStream(true);
}

int CameraControl::CameraGetImageTransferMode(int* mode) {
    if (mode == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    ApiLock lock(m_apiMutex);
    *mode = m_param.transferMode;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraRequestTransferImage() {
    ApiLock lock(m_apiMutex);
    if (!m_playing) return CAMERA_STATUS_FAILED;
    return RequestTransferImage();
}

int CameraControl::CameraRequestTransferImageEx(int value) {
    ApiLock lock(m_apiMutex);
    if (!m_playing) return CAMERA_STATUS_FAILED;
    return RequestTransferImageEx(value);
}
