// CameraControl: trigger, strobe and I/O-line settings and the GigE stream settings.
//
// Each value lives in the parameter record. A line's values reach the device at once only while
// the line is in the matching mode (a strobe delay on a strobe output, a level on a
// general-purpose output, ...); otherwise they wait for the line's switch to that mode or the
// next stream open, which sends them all. A device failure is returned and leaves the stored
// value, so the record never claims what the camera refused.
//
// The line settings (and trigger frame count and delay, and the packet delay) take no
// controller lock, so that a host can drive its lines while another of its threads waits in a
// long call (a snapshot waiting for the trigger an output line fires). They hold the device
// mutex instead, for the device call and the record fields it goes with, which every stream
// open reads under the same mutex. The trigger mode, packet size, resend and optimal packet
// size take the API mutex: they reopen the stream or work with it.
#include <algorithm>

#include "common/Log.h"
#include "control/CameraControl.h"
#include "control/SettingRules.h"

using namespace qv::control;

namespace {

constexpr int kMinPacketSize = 1500;
constexpr uint32_t kMaxPacketSize = 9000;
constexpr uint32_t kMaxPacketDelay = 1000;

// The trigger-mode mask's bit of the hardware trigger: a camera without it has no trigger
// inputs to configure.
constexpr uint32_t kHardwareTriggerBit = 1u << TRIGGER_MODE_HARDWARE;

}  // namespace

bool CameraControl::IsOutputLine(int output) const {
    return output >= 0 && output < kOutputLinesHandled &&
           static_cast<int64_t>(output) < static_cast<int64_t>(m_capability.uOutputIoCount);
}

bool CameraControl::IsInputLine(int input) const {
    return input >= 0 && input < kInputLinesHandled &&
           static_cast<int64_t>(input) < static_cast<int64_t>(m_capability.uInputIoCount);
}

bool CameraControl::HasHardwareTrigger() const {
    return (m_property.triggerModeMask & kHardwareTriggerBit) != 0;
}

// ---- Trigger mode, count and delay -----------------------------------------------------------

int CameraControl::CameraSetTriggerMode(int mode) {
    ApiLock lock(m_apiMutex);
    if (!m_initialized) return CAMERA_STATUS_NOT_INITIALIZED;
    if (!m_devParamValid) return CAMERA_STATUS_FAILED;
    // Only the three modes, and only those the camera lists; checked before any shift.
    if (!TriggerModeOffered(mode, m_property.triggerModeMask))
        return CAMERA_STATUS_PARAMETER_INVALID;
    if (mode == m_param.settings.triggerMode) return CAMERA_STATUS_SUCCESS;
    CloseCameraStream();
    {
        // The trigger-input setters read the mode without the API mutex.
        const DeviceHold hold = HoldDevice();
        m_param.settings.triggerMode = mode;
    }
    const int r = ReopenCameraStream(true);
    qv::Log("CameraSetTriggerMode  %d\n", mode);
    return r;
}

int CameraControl::CameraGetTriggerMode(int* mode) {
    if (mode == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    const DeviceHold hold = HoldDevice();
    *mode = m_param.settings.triggerMode;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSetTriggerFrameCount(int count) {
    const DeviceHold hold = HoldDevice();
    // The device counts unsigned: a negative count reaches it as its two's-complement value.
    const int r = SetTriggerFrameCount(static_cast<uint32_t>(count));
    if (r == CAMERA_STATUS_SUCCESS) m_param.triggerFrameCount = count;
    return r;
}

int CameraControl::CameraGetTriggerFrameCount(int* count) {
    if (count == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    const DeviceHold hold = HoldDevice();
    *count = m_param.triggerFrameCount;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSetTriggerDelayTime(uint32_t delay) {
    const DeviceHold hold = HoldDevice();
    const int r = SetTriggerDelayTime(delay);
    if (r == CAMERA_STATUS_SUCCESS) m_param.triggerDelayTime = delay;
    return r;
}

int CameraControl::CameraGetTriggerDelayTime(uint32_t* delay) {
    if (delay == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    const DeviceHold hold = HoldDevice();
    *delay = m_param.triggerDelayTime;
    return CAMERA_STATUS_SUCCESS;
}

// ---- Trigger inputs --------------------------------------------------------------------------

int CameraControl::CameraSetTriggerJitterTime(int input, uint32_t time) {
    const DeviceHold hold = HoldDevice();
    if (!IsInputLine(input)) return CAMERA_STATUS_PARAMETER_INVALID;
    if (!HasHardwareTrigger()) return CAMERA_STATUS_NOT_SUPPORTED;
    const int r = SetTriggerJitterTime(input, time);
    if (r == CAMERA_STATUS_SUCCESS) m_param.inputLines[input].jitterTime = time;
    return r;
}

int CameraControl::CameraGetTriggerJitterTime(int input, uint32_t* time) {
    const DeviceHold hold = HoldDevice();
    if (!IsInputLine(input)) return CAMERA_STATUS_PARAMETER_INVALID;
    if (!HasHardwareTrigger()) return CAMERA_STATUS_NOT_SUPPORTED;
    if (time == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    *time = m_param.inputLines[input].jitterTime;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSetTriggerSignalType(int input, int type) {
    const DeviceHold hold = HoldDevice();
    if (!IsInputLine(input)) return CAMERA_STATUS_PARAMETER_INVALID;
    if (!HasHardwareTrigger()) return CAMERA_STATUS_NOT_SUPPORTED;
    InputLineSetting& line = m_param.inputLines[input];
    if (m_param.settings.triggerMode == TRIGGER_MODE_HARDWARE && line.mode == 0) {
        const int r = SetTriggerSignalType(input, type);
        if (r != CAMERA_STATUS_SUCCESS) return r;
    }
    line.signalType = type;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetTriggerSignalType(int input, int* type) {
    const DeviceHold hold = HoldDevice();
    if (!IsInputLine(input)) return CAMERA_STATUS_PARAMETER_INVALID;
    if (!HasHardwareTrigger()) return CAMERA_STATUS_NOT_SUPPORTED;
    if (type == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    *type = m_param.inputLines[input].signalType;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSetInputIOMode(int input, int mode) {
    const DeviceHold hold = HoldDevice();
    if (!IsInputLine(input)) return CAMERA_STATUS_NOT_SUPPORTED;
    if (!InputIoModeFits(mode)) return CAMERA_STATUS_PARAMETER_INVALID;
    InputLineSetting& line = m_param.inputLines[input];
    if (mode == 0 && m_param.settings.triggerMode == TRIGGER_MODE_HARDWARE) {
        // A line becoming a trigger input takes its trigger settings with it; as at a stream
        // open, what the device refuses does not keep the line from its mode.
        SetTriggerSignalType(input, line.signalType);
        SetTriggerJitterTime(input, line.jitterTime);
    }
    line.mode = static_cast<uint8_t>(mode);
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetInputIOMode(int input, int* mode) {
    const DeviceHold hold = HoldDevice();
    if (!IsInputLine(input)) return CAMERA_STATUS_NOT_SUPPORTED;
    if (mode == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    *mode = m_param.inputLines[input].mode;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetInputIOState(int input, uint32_t* state) {
    const DeviceHold hold = HoldDevice();
    if (input < 0 ||
        static_cast<int64_t>(input) >= static_cast<int64_t>(m_capability.uInputIoCount))
        return CAMERA_STATUS_NOT_SUPPORTED;
    if (state == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    int level = 0;
    const int r = GetInputIOState(input, &level);
    if (r == CAMERA_STATUS_SUCCESS) *state = static_cast<uint32_t>(level);
    return r;
}

// ---- Strobe ----------------------------------------------------------------------------------

int CameraControl::CameraSetStrobeMode(int output, int mode) {
    const DeviceHold hold = HoldDevice();
    if (!IsOutputLine(output)) return CAMERA_STATUS_PARAMETER_INVALID;
    OutputLineSetting& line = m_param.outputLines[output];
    if (line.mode == IOMODE_STROBE_OUTPUT) {
        const int r = SetStrobeMode(output, mode);
        if (r != CAMERA_STATUS_SUCCESS) return r;
    }
    line.strobeMode = mode;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetStrobeMode(int output, int* mode) {
    const DeviceHold hold = HoldDevice();
    if (!IsOutputLine(output) || mode == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    *mode = m_param.outputLines[output].strobeMode;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSetStrobeDelayTime(int output, uint32_t delay) {
    const DeviceHold hold = HoldDevice();
    if (!IsOutputLine(output)) return CAMERA_STATUS_PARAMETER_INVALID;
    OutputLineSetting& line = m_param.outputLines[output];
    if (line.mode == IOMODE_STROBE_OUTPUT) {
        const int r = SetStrobeDelayTime(output, delay);
        if (r != CAMERA_STATUS_SUCCESS) return r;
    }
    line.strobeDelay = delay;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetStrobeDelayTime(int output, uint32_t* delay) {
    const DeviceHold hold = HoldDevice();
    if (!IsOutputLine(output) || delay == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    *delay = m_param.outputLines[output].strobeDelay;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSetStrobePulseWidth(int output, uint32_t width) {
    const DeviceHold hold = HoldDevice();
    if (!IsOutputLine(output)) return CAMERA_STATUS_PARAMETER_INVALID;
    OutputLineSetting& line = m_param.outputLines[output];
    if (line.mode == IOMODE_STROBE_OUTPUT) {
        const int r = SetStrobePulseWidth(output, width);
        if (r != CAMERA_STATUS_SUCCESS) return r;
    }
    line.strobePulseWidth = width;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetStrobePulseWidth(int output, uint32_t* width) {
    const DeviceHold hold = HoldDevice();
    if (!IsOutputLine(output) || width == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    *width = m_param.outputLines[output].strobePulseWidth;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSetStrobePolarity(int output, int polarity) {
    const DeviceHold hold = HoldDevice();
    if (!IsOutputLine(output)) return CAMERA_STATUS_PARAMETER_INVALID;
    OutputLineSetting& line = m_param.outputLines[output];
    if (line.mode == IOMODE_STROBE_OUTPUT) {
        const int r = SetStrobePolarity(output, polarity);
        if (r != CAMERA_STATUS_SUCCESS) return r;
    }
    line.strobePolarity = polarity;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetStrobePolarity(int output, int* polarity) {
    const DeviceHold hold = HoldDevice();
    if (!IsOutputLine(output) || polarity == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    *polarity = m_param.outputLines[output].strobePolarity;
    return CAMERA_STATUS_SUCCESS;
}

// ---- Output lines ----------------------------------------------------------------------------

int CameraControl::CameraSetOutputIOMode(int output, int mode) {
    const DeviceHold hold = HoldDevice();
    if (!IsOutputLine(output)) return CAMERA_STATUS_NOT_SUPPORTED;
    // The record keeps the mode in a byte and the stream open knows these three: any other
    // would be stored as something the camera was never told.
    if (!OutputIoModeKnown(mode)) return CAMERA_STATUS_PARAMETER_INVALID;
    OutputLineSetting& line = m_param.outputLines[output];
    if (mode == line.mode) return CAMERA_STATUS_SUCCESS;
    int r = CAMERA_STATUS_SUCCESS;
    switch (mode) {
        case IOMODE_STROBE_OUTPUT:
            r |= SetStrobeMode(output, line.strobeMode);
            r |= SetStrobePolarity(output, line.strobePolarity);
            r |= SetStrobeDelayTime(output, line.strobeDelay);
            r |= SetStrobePulseWidth(output, line.strobePulseWidth);
            break;
        case IOMODE_GP_OUTPUT:
            r |= SetOutputIOState(output, line.state);
            break;
        default:
            r |= SetOutputIOPWM(output, line.pwmPeriod, line.pwmDuty);
            break;
    }
    r |= SetOutputIOMode(output, mode);
    line.mode = static_cast<uint8_t>(mode);
    return r;
}

int CameraControl::CameraGetOutputIOMode(int output, int* mode) {
    const DeviceHold hold = HoldDevice();
    if (!IsOutputLine(output)) return CAMERA_STATUS_NOT_SUPPORTED;
    if (mode == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    *mode = m_param.outputLines[output].mode;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSetOutputIOState(int output, int level) {
    const DeviceHold hold = HoldDevice();
    if (!IsOutputLine(output)) return CAMERA_STATUS_NOT_SUPPORTED;
    OutputLineSetting& line = m_param.outputLines[output];
    if (line.mode == IOMODE_GP_OUTPUT) {
        const int r = SetOutputIOState(output, level);
        if (r != CAMERA_STATUS_SUCCESS) return r;
    }
    // Any non-zero level drives the line: kept as 1, so the byte cannot turn it into 0.
    line.state = level != 0 ? 1 : 0;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetOutputIOState(int output, int* level) {
    const DeviceHold hold = HoldDevice();
    if (!IsOutputLine(output)) return CAMERA_STATUS_NOT_SUPPORTED;
    if (level == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    *level = m_param.outputLines[output].state;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraSetOutputIOPWM(int output, uint32_t period, uint32_t duty) {
    const DeviceHold hold = HoldDevice();
    if (!IsOutputLine(output)) return CAMERA_STATUS_NOT_SUPPORTED;
    if (period < duty) return CAMERA_STATUS_PARAMETER_INVALID;
    OutputLineSetting& line = m_param.outputLines[output];
    if (line.mode == IOMODE_PWM_OUTPUT) {
        const int r = SetOutputIOPWM(output, period, duty);
        if (r != CAMERA_STATUS_SUCCESS) return r;
    }
    line.pwmPeriod = period;
    line.pwmDuty = duty;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGetOutputIOPWM(int output, uint32_t* period, uint32_t* duty) {
    const DeviceHold hold = HoldDevice();
    if (!IsOutputLine(output)) return CAMERA_STATUS_NOT_SUPPORTED;
    if (period == nullptr || duty == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    *period = m_param.outputLines[output].pwmPeriod;
    *duty = m_param.outputLines[output].pwmDuty;
    return CAMERA_STATUS_SUCCESS;
}

// ---- GigE stream -----------------------------------------------------------------------------

int CameraControl::CameraGigeSetTransPacketSize(int size) {
    ApiLock lock(m_apiMutex);
    if (!m_initialized) return CAMERA_STATUS_NOT_INITIALIZED;
    if (!m_devParamValid) return CAMERA_STATUS_FAILED;
    uint32_t bytes = static_cast<uint32_t>(size) & ~3u;
    bytes = std::min(bytes, kMaxPacketSize);
    const int packet = std::max(static_cast<int>(bytes), kMinPacketSize);
    if (packet == m_param.packetSize) return CAMERA_STATUS_SUCCESS;
    CloseCameraStream();
    {
        const DeviceHold hold = HoldDevice();  // a save copies the record under it
        m_param.packetSize = packet;
    }
    return ReopenCameraStream(true);
}

int CameraControl::CameraGigeGetTransPacketSize(int* size) {
    if (size == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    ApiLock lock(m_apiMutex);
    *size = m_param.packetSize;
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGigeSetPacketDelayTime(uint32_t delay) {
    const DeviceHold hold = HoldDevice();
    delay = std::min(delay, kMaxPacketDelay);
    if (delay == m_param.packetDelay) return CAMERA_STATUS_SUCCESS;
    const int r = SetPacketDelay(delay);
    if (r == CAMERA_STATUS_SUCCESS) m_param.packetDelay = delay;
    return r;
}

int CameraControl::CameraGigeGetPacketDelayTime(int* delay) {
    if (delay == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    const DeviceHold hold = HoldDevice();
    *delay = static_cast<int>(m_param.packetDelay);
    return CAMERA_STATUS_SUCCESS;
}

int CameraControl::CameraGigeSetResend(int enable, int a, int b, int c) {
    ApiLock lock(m_apiMutex);
    if (!m_initialized) return CAMERA_STATUS_NOT_INITIALIZED;
    if (!m_devParamValid) return CAMERA_STATUS_FAILED;
    const int r = SetResend(enable != 0 ? 1 : 0, a, b, c);
    if (r == CAMERA_STATUS_SUCCESS) {
        m_resendEnable = enable != 0;
        m_resend[0] = a;
        m_resend[1] = b;
        m_resend[2] = c;
    }
    return r;
}

int CameraControl::CameraGigeGetOptimalPacketSize(int* size) {
    ApiLock lock(m_apiMutex);
    if (!m_initialized) return CAMERA_STATUS_NOT_INITIALIZED;
    if (!m_devParamValid) return CAMERA_STATUS_FAILED;
    if (size == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    return GetOptimalPacketSize(size);
}
