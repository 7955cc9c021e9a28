#include "usb/UsbCamera.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>

#include "common/Log.h"
#include "common/TimeUtil.h"
#include "services/TimerMng.h"
#include "upgrade/UpgradeU2Camera.h"
#include "upgrade/UpgradeU3Camera.h"
#include "usb/UsbFpgaConfig.h"
#include "usb/UsbHardwareType.h"
#include "usb/UsbPll.h"
#include "usb/UsbVendorRequest.h"

namespace usb = qv::usb;

namespace {

// The liveness poll's period.
constexpr int kAlivePeriodMs = 500;

// How long the controller CPU is held in reset: long enough for its reset logic, short enough
// that the host sees one clean re-enumeration.
constexpr unsigned kCpuResetHoldMs = 10;

// The device type codes of the two controller generations, which choose the update procedure.
constexpr uint16_t kDeviceTypeUsb3 = 0x1301;
constexpr uint16_t kDeviceTypeUsb2 = 0x1201;

}  // namespace

CUsbCamera::CUsbCamera(const char* symbolicName, const char* driverName, const char* driverVersion)
    : CJNDevice(symbolicName, driverName, driverVersion) {}

CUsbCamera::~CUsbCamera() {
    Shutdown();
}

void CUsbCamera::Shutdown() {
    TimerEntry* entry = nullptr;
    {
        std::lock_guard lock(m_aliveMutex);
        std::swap(entry, m_aliveTimer);
    }
    // Waits for a poll in progress; the poll holds no lock we hold here.
    if (entry != nullptr) CTimerMng::GetInstance()->RemoveTimer(entry);
    StopCoolingThread();
    // While requests still work: a driver's periodic work may be in a step that makes them.
    UnInitSensor();
}

void CUsbCamera::StopSensorWork() {
    std::lock_guard lock(m_sensorMutex);
    if (m_pSensor != nullptr) m_pSensor->Uninit();
}

int CUsbCamera::GetFpgaType(const CameraProperty* prop) {
    return prop != nullptr ? usb::HardwareTypeFromModelCode(prop->modelCode) : 0;
}

// ---- Identity -------------------------------------------------------------------------------

bool CUsbCamera::CheckAlive() {
    uint16_t type = 0;
    return GetDeviceType(&type) == CAMERA_STATUS_SUCCESS;
}

int CUsbCamera::GetDeviceType(uint16_t* type) {
    return usb::GetDeviceType(m_link, type);
}

int CUsbCamera::GetFirmwareVersion(uint16_t* version) {
    return usb::GetFirmwareVersion(m_link, version);
}

// ---- Registers, I2C, GPIO -------------------------------------------------------------------

int CUsbCamera::SetSensorBus(uint8_t address, uint8_t widths) {
    return usb::SetSensorBus(m_link, address, widths);
}

int CUsbCamera::WriteSensorReg(uint16_t reg, uint16_t value) {
    return usb::WriteSensorReg(m_link, reg, value);
}

int CUsbCamera::WriteSensorRegs(std::span<const uint16_t> regAndVal) {
    return usb::WriteSensorRegs(m_link, regAndVal);
}

int CUsbCamera::ReadSensorReg(uint16_t reg, uint16_t* value) {
    return usb::ReadSensorReg(m_link, reg, value);
}

int CUsbCamera::WriteFpgaReg(uint16_t reg, uint32_t value) {
    return usb::WriteFpgaReg(m_link, reg, value);
}

int CUsbCamera::WriteFpgaRegs(std::span<const uint32_t> regAndVal) {
    return usb::WriteFpgaRegs(m_link, regAndVal);
}

int CUsbCamera::ReadFpgaReg(uint16_t reg, uint32_t* value) {
    return usb::ReadFpgaReg(m_link, reg, value);
}

int CUsbCamera::I2CWrite(uint8_t address, uint8_t* data, uint8_t len) {
    return usb::I2CWrite(m_link, address, data, len);
}

int CUsbCamera::I2CRead(uint8_t address, uint8_t* data, uint8_t len) {
    return usb::I2CRead(m_link, address, data, len);
}

int CUsbCamera::SetGpioMode(uint8_t pin, uint8_t mode) {
    return usb::SetGpioMode(m_link, pin, mode);
}

int CUsbCamera::WriteGpio(uint8_t pin, uint8_t level) {
    return usb::WriteGpio(m_link, pin, level);
}

int CUsbCamera::ReadGpio(uint8_t pin, uint8_t* level) {
    return usb::ReadGpio(m_link, pin, level);
}

int CUsbCamera::SendRequestD8(uint8_t a, uint8_t b) {
    return usb::SendRequestD8(m_link, a, b);
}

int CUsbCamera::SendRequestB0() {
    return usb::SendRequestB0(m_link);
}

// ---- FPGA configuration ---------------------------------------------------------------------

int CUsbCamera::FpgaConfigBegin() {
    std::lock_guard lock(m_transferMutex);
    return usb::CUsbFpgaConfig(m_link, m_hardwareType).FpgaConfigBegin();
}

int CUsbCamera::FpgaConfigEnd() {
    std::lock_guard lock(m_transferMutex);
    return usb::CUsbFpgaConfig(m_link, m_hardwareType).FpgaConfigEnd();
}

int CUsbCamera::FpgaConfigWrite(uint8_t* data, uint32_t len) {
    return usb::FpgaConfigWrite(m_link, data, len);
}

int CUsbCamera::LoadFpga(SensorTypeE type) {
    // One sequence of pin, port and data requests that nothing may interleave with.
    std::lock_guard lock(m_transferMutex);
    return usb::CUsbFpgaConfig(m_link, m_hardwareType).LoadFpga(type);
}

int CUsbCamera::GetHardwareType() {
    return m_hardwareType;
}

int CUsbCamera::GetFpgaVersion(uint16_t* version) {
    return usb::GetFpgaVersion(m_link, version);
}

int CUsbCamera::StartStream() {
    return CAMERA_STATUS_SUCCESS;
}

int CUsbCamera::StopStream() {
    return CAMERA_STATUS_SUCCESS;
}

int CUsbCamera::SetPll(uint8_t v1, uint8_t v2, uint8_t v3, uint8_t v4, uint8_t v5, uint8_t v6,
                       uint8_t v7, uint8_t v8) {
    std::lock_guard lock(m_transferMutex);
    return usb::CUsbPll(m_link, m_hardwareType).SetPll({v1, v2, v3, v4, v5, v6, v7, v8});
}

// ---- Storage --------------------------------------------------------------------------------

int CUsbCamera::WriteEEProm(uint16_t address, uint8_t* data, uint16_t len) {
    return usb::WriteEEProm(m_link, address, data, len);
}

int CUsbCamera::ReadEEProm(uint16_t address, uint8_t* data, uint16_t len) {
    return usb::ReadEEProm(m_link, address, data, len);
}

int CUsbCamera::EraseFlashSector(uint32_t address, uint8_t option) {
    return usb::EraseFlashSector(m_link, address, option);
}

int CUsbCamera::ReadFlash(uint32_t address, uint16_t len, uint8_t* data) {
    return usb::ReadFlash(m_link, address, len, data);
}

int CUsbCamera::WriteFlash(uint32_t address, uint16_t len, uint8_t* data) {
    return usb::WriteFlash(m_link, address, len, data);
}

// ---- Life cycle -----------------------------------------------------------------------------

int CUsbCamera::Open(void* opener) {
    (void)opener;
    return CAMERA_STATUS_SUCCESS;
}

int CUsbCamera::Close() {
    return CAMERA_STATUS_SUCCESS;
}

int CUsbCamera::OpenStream(CFrameBucketProducer* producer, CameraInitParam* param) {
    (void)producer, (void)param;
    {
        std::lock_guard lock(m_transferMutex);
        // Results are not used: a cooler that missed its set-up only cools less.
        if (m_hardwareType == 107) {
            usb::ExecuteCommand(m_link, usb::CoolerSetup(144, 33));
            usb::ExecuteCommand(m_link, usb::CoolerWrite(1, 0x6000));
            usb::ExecuteCommand(m_link, usb::CoolerWrite(2, 0xC900));
            usb::ExecuteCommand(m_link, usb::CoolerWrite(3, 0x7FF0));
        } else if (m_hardwareType == 111) {
            usb::ExecuteCommand(m_link, usb::CoolerSetup(94, 17));
        }
    }
    m_streamOpen = true;
    return CAMERA_STATUS_SUCCESS;
}

int CUsbCamera::CloseStream() {
    if (!m_streamOpen.exchange(false)) return CAMERA_STATUS_SUCCESS;
    // The driver outlives the stream (the next open initialises it again), its periodic work
    // does not: nothing is to be exposed until then.
    StopSensorWork();
    if (m_hardwareType == 9) {
        // Integer setting 1 back to 0.
        WriteFpgaReg(15, 0x3200);
    } else if (m_hardwareType == 107) {
        usb::ExecuteCommand(m_link, usb::CoolerWrite(1, 1));
        StopCoolingThread();
    } else if (m_hardwareType == 111) {
        StopCoolingThread();
    }
    return CAMERA_STATUS_SUCCESS;
}

int CUsbCamera::InitSensor(CameraInitParam* param) {
    std::lock_guard lock(m_sensorMutex);
    return CJNDevice::InitSensor(param);
}

int CUsbCamera::UnInitSensor() {
    std::lock_guard lock(m_sensorMutex);
    return CJNDevice::UnInitSensor();
}

int CUsbCamera::Reboot() {
    std::lock_guard lock(m_transferMutex);
    const int held = usb::Execute(m_link, usb::CpuReset(true), nullptr);
    SleepMs(kCpuResetHoldMs);
    // Released even when the hold was not acknowledged: a CPU left in reset would keep the
    // camera off the bus until it is power-cycled.
    const int released = usb::Execute(m_link, usb::CpuReset(false), nullptr);
    return held != CAMERA_STATUS_SUCCESS ? held : released;
}

// ---- Liveness -------------------------------------------------------------------------------

int CUsbCamera::SetDisconnectCallback(DisconnectCallback callback, void* context) {
    CJNDevice::SetDisconnectCallback(callback, context);
    TimerEntry* stale = nullptr;
    {
        std::lock_guard lock(m_aliveMutex);
        if (callback != nullptr && m_aliveTimer == nullptr)
            m_aliveTimer = CTimerMng::GetInstance()->AddTimer(AliveTimerProc, kAlivePeriodMs, this);
        else if (callback == nullptr)
            std::swap(stale, m_aliveTimer);
    }
    // Outside our mutexes: removal waits for a poll in progress.
    if (stale != nullptr) CTimerMng::GetInstance()->RemoveTimer(stale);
    return CAMERA_STATUS_SUCCESS;
}

int CUsbCamera::AliveTimerProc(TimerEntry* entry, void* user) {
    (void)entry;
    auto* self = static_cast<CUsbCamera*>(user);
    // Keeps the device alive for the poll. Empty while the device is being destroyed (its
    // destructor removes this entry and waits for us) or when no shared pointer owns it.
    const std::shared_ptr<CJNDevice> keep = self->weak_from_this().lock();
    if (!keep) return 0;
    // Only tried: a thread holding the mutex is making requests, so the camera's answer shows
    // there, and whoever removes this entry may hold it. The next period looks again.
    std::unique_lock lock(self->m_transferMutex, std::try_to_lock);
    if (!lock.owns_lock() || self->CheckAlive()) return 0;
    self->NotifyDisconnect(0);
    return 0;
}

// ---- Information and upgrade ----------------------------------------------------------------

int CUsbCamera::GetDeviceInfo(tDevInfo* devinfo, DeviceMiscInfo* misc) {
    QV_ASSERT(devinfo != NULL);
    std::memcpy(devinfo, &m_devInfo, offsetof(tDevInfo, uInUse));
    if (misc != nullptr) {
        const std::string version = usb::FirmwareVersionText(m_devInfo.uFirmwareVersion);
        std::memset(misc->firmwareVersion, 0, sizeof misc->firmwareVersion);
        std::memcpy(misc->firmwareVersion, version.data(),
                    std::min(version.size(), sizeof misc->firmwareVersion - 1));
        constexpr size_t kRest = offsetof(DeviceMiscInfo, secondText);
        std::memcpy(reinterpret_cast<char*>(misc) + kRest,
                    reinterpret_cast<const char*>(&m_miscInfo) + kRest,
                    sizeof(DeviceMiscInfo) - kRest);
        misc->defaultFrameSpeed = m_hardwareType != 0 ? 2 : 1;
    }
    return CAMERA_STATUS_SUCCESS;
}

int CUsbCamera::Upgrade(const char* path, UpgradeProgress progress, void* context) {
    uint16_t type = 0;
    const int r = GetDeviceType(&type);
    if (r != CAMERA_STATUS_SUCCESS) return r;
    switch (type) {
        case kDeviceTypeUsb3: {
            CUpgradeU3Camera upgrade(this);
            return upgrade.Upgrade(path, progress, context);
        }
        case kDeviceTypeUsb2: {
            CUpgradeU2Camera upgrade(this);
            return upgrade.Upgrade(path, progress, context);
        }
        default:
            qv::Log("this camera Does not support upgrade\n");
            return CAMERA_STATUS_NOT_SUPPORTED;
    }
}
