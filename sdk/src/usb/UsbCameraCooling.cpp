// CUsbCamera: sensor cooling on the boards that have a cooler. Type 107 reads the temperature
// from its own sensor and has no power setting; type 111 reads it from the image sensor's driver
// and sets the cooler power. A loop on a thread of its own steers the power towards the target
// temperature (usb/UsbCooling.h has its arithmetic).
#include <algorithm>
#include <chrono>

#include "common/Log.h"
#include "sensors/SensorInf.h"
#include "usb/UsbCamera.h"
#include "usb/UsbCooling.h"
#include "usb/UsbVendorRequest.h"

namespace usb = qv::usb;

namespace {

constexpr uint16_t kRegCooling = 38;
constexpr uint16_t kCoolingEnableBit = 0x20;
constexpr uint16_t kCoolerOnBit = 0x10;

// The board's temperature sensor on request 0xDB.
constexpr uint16_t kCoolingSensorChannel = 0;

// The first period compares with a made-up previous reading of 30 degrees, a cooler's usual
// starting point, and may wait up to 10 s.
constexpr double kFirstPreviousCelsius = 30;
constexpr int kFirstWaitMs = 10000;

bool HasCooler(int type) {
    return type == 107 || type == 111;
}

}  // namespace

int CUsbCamera::SetCoolerPower(int percent) {
    if (m_hardwareType != 111) return CAMERA_STATUS_NOT_SUPPORTED;
    // Outside 0..100 the drive value would wrap to the weakest setting.
    m_coolerPower = std::clamp(percent, 0, 100);
    return CAMERA_STATUS_SUCCESS;
}

int CUsbCamera::SetTargetTemperature(float celsius) {
    if (!HasCooler(m_hardwareType)) return CAMERA_STATUS_NOT_SUPPORTED;
    m_targetTemperature = celsius;
    return CAMERA_STATUS_SUCCESS;
}

int CUsbCamera::EnableCooling(bool on) {
    if (!HasCooler(m_hardwareType)) return CAMERA_STATUS_NOT_SUPPORTED;
    if (on) {
        std::lock_guard lock(m_coolingMutex);
        if (m_coolingThread == nullptr)
            m_coolingThread = std::make_unique<std::jthread>(
                [this](std::stop_token stop) { CoolingThreadProc(stop); });
        return CAMERA_STATUS_SUCCESS;
    }
    StopCoolingThread();
    SetRegister38Bits(kCoolingEnableBit | kCoolerOnBit, false);
    m_coolerPower = 0;  // not sent: the cooler is off with its bits
    return CAMERA_STATUS_SUCCESS;
}

bool CUsbCamera::CoolingRunning() {
    std::lock_guard lock(m_coolingMutex);
    return m_coolingThread != nullptr;
}

void CUsbCamera::StopCoolingThread() {
    std::unique_ptr<std::jthread> thread;
    {
        std::lock_guard lock(m_coolingMutex);
        thread = std::move(m_coolingThread);
    }
    if (thread == nullptr) return;
    // The stop request wakes the loop's wait; joining waits at most for a request in flight.
    thread->request_stop();
    thread->join();
}

int CUsbCamera::GetTemperature(float* celsius) {
    const int t = m_hardwareType;
    if (t != 107 && t != 111) return CAMERA_STATUS_NOT_SUPPORTED;
    if (celsius == nullptr) return CAMERA_STATUS_PARAMETER_INVALID;
    if (t == 107) {
        uint16_t raw = 0;
        if (ReadCoolingSensor(&raw) != CAMERA_STATUS_SUCCESS) return CAMERA_STATUS_FAILED;
        *celsius = static_cast<float>(usb::CoolingSensorCelsius(raw));
        return CAMERA_STATUS_SUCCESS;
    }
    std::lock_guard sensorLock(m_sensorMutex);
    if (m_pSensor == nullptr) return CAMERA_STATUS_NO_SENSOR;
    // The driver's read is a sequence of register accesses; keep other requests out of it.
    std::lock_guard transferLock(m_transferMutex);
    return m_pSensor->GetTemperature(celsius);
}

int CUsbCamera::ApplyCoolerPower(int percent) {
    if (m_hardwareType != 111) return CAMERA_STATUS_NOT_SUPPORTED;
    const uint16_t drive = usb::CoolerDriveValue(percent);
    return usb::ExecuteCommand(m_link, usb::CoolerWrite(drive, drive));
}

int CUsbCamera::SetRegister38Bits(uint16_t bits, bool on) {
    if (!HasCooler(m_hardwareType)) return CAMERA_STATUS_NOT_SUPPORTED;
    std::lock_guard lock(m_transferMutex);
    uint32_t value = 0;
    const int r = ReadFpgaReg(kRegCooling, &value);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    return WriteFpgaReg(kRegCooling, on ? (value | bits) : (value & ~uint32_t{bits}));
}

int CUsbCamera::SetCoolingEnableBit(bool on) {
    return SetRegister38Bits(kCoolingEnableBit, on);
}

int CUsbCamera::SetCoolerOnBit(bool on) {
    return SetRegister38Bits(kCoolerOnBit, on);
}

int CUsbCamera::ReadCoolingSensor(uint16_t* raw) {
    if (!HasCooler(m_hardwareType)) return CAMERA_STATUS_NOT_SUPPORTED;
    return usb::ExecuteReadU16<3>(m_link, usb::CoolerRead(kCoolingSensorChannel), raw);
}

void CUsbCamera::CoolingThreadProc(std::stop_token stop) {
    // Failed requests are not reported: the loop tries again in the next period.
    usb::CoolingLoopState state;
    state.previousPower = m_coolerPower.load();
    ApplyCoolerPower(state.previousPower);
    SetCoolingEnableBit(true);
    float celsius = 0;
    if (GetTemperature(&celsius) == CAMERA_STATUS_SUCCESS) state.last = kFirstPreviousCelsius;
    state.waitMs = kFirstWaitMs;

    while (!stop.stop_requested()) {
        if (GetTemperature(&celsius) == CAMERA_STATUS_SUCCESS) {
            bool apply = false;
            const int power = usb::CoolingStep(state, celsius, m_targetTemperature.load(),
                                               m_coolerPower.load(), &apply);
            if (apply) {
                m_coolerPower = power;
                ApplyCoolerPower(power);
                SetCoolerOnBit(power > 0);
            }
        }
        std::unique_lock lock(m_coolingMutex);
        m_coolingCond.wait_for(lock, stop, std::chrono::milliseconds(state.waitMs),
                               [] { return false; });
    }
}
