#include "SimUsbCamera.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Request codes as the camera firmware knows them.
constexpr uint8_t kCpuReset = 0xA0;
constexpr uint8_t kEeprom = 0xA9;
constexpr uint8_t kB0 = 0xB0;
constexpr uint8_t kFirmwareVersion = 0xB6;
constexpr uint8_t kStreamStart = 0xB7;
constexpr uint8_t kStreamStop = 0xB8;
constexpr uint8_t kDeviceType = 0xB9;
constexpr uint8_t kResetFifo = 0xBB;
constexpr uint8_t kFlashCommand = 0xBC;
constexpr uint8_t kFlashRead = 0xBD;
constexpr uint8_t kFlashWrite = 0xBE;
constexpr uint8_t kSensorWrite = 0xD0;
constexpr uint8_t kSensorRead = 0xD1;
constexpr uint8_t kSensorBus = 0xD3;
constexpr uint8_t kI2c = 0xD4;
constexpr uint8_t kFpgaWrite = 0xD6;
constexpr uint8_t kFpgaRead = 0xD7;
constexpr uint8_t kD8 = 0xD8;
constexpr uint8_t kCoolerWrite = 0xDA;
constexpr uint8_t kCoolerRead = 0xDB;
constexpr uint8_t kCoolerSetup = 0xDC;
constexpr uint8_t kGpioWrite = 0xE0;
constexpr uint8_t kGpioRead = 0xE1;
constexpr uint8_t kGpioMode = 0xE2;
constexpr uint8_t kConfigPort = 0xE3;
constexpr uint8_t kConfigData = 0xE4;

constexpr uint8_t kOk8 = 8;
constexpr uint8_t kOk0 = 0;
constexpr uint16_t kFpgaVersionReg = 129;
constexpr uint8_t kBulkIn = 0x82;
constexpr size_t kSectorBytes = 4096;

// FPGA registers of the trigger and I/O logic.
constexpr uint16_t kCommandReg = 128;  // 1: software trigger
constexpr uint16_t kInputLineReg = 130;
constexpr uint16_t kCoolingReg = 38;
constexpr uint16_t kCoolerOnBit = 0x10;
constexpr uint16_t kFullMapTriggerReg = 16;
constexpr uint16_t kCompactTriggerReg = 10;
// Output line groups of the trigger control word: 3 code bits and a polarity bit.
constexpr int kLineShift[2] = {6, 11};
constexpr int kPolarityOffset = 4;
constexpr uint16_t kDrivenHigh = 2;  // output line code: general-purpose output driven high
// Timing registers of the full map per output line: delay (PWM period) high and low, pulse
// width (PWM duty) high and low.
constexpr uint16_t kLineTiming[2][4] = {{22, 23, 20, 21}, {31, 32, 29, 30}};
constexpr uint16_t kCoolerOff = 126;

}  // namespace

CSimUsbCamera::CSimUsbCamera(const SimUsbCameraConfig& config)
    : m_config(config), m_frames(Clock::now()) {
    size_t bytes = config.storageBytes;
    if (bytes == 0) bytes = config.generation == SimUsbGeneration::kUsb2 ? 0x10000 : 0x200000;
    // A new EEPROM or a freshly erased flash reads all ones.
    m_storage.assign(bytes, 0xFF);
    m_fpga[kFpgaVersionReg] = config.fpgaVersion;
    m_frames.SetFormat(config.frames);
    if (config.thermal) m_temperature = config.thermal->start;
}

uint16_t CSimUsbCamera::DeviceTypeCode() const {
    if (m_config.deviceType) return *m_config.deviceType;
    return m_config.generation == SimUsbGeneration::kUsb2 ? 0x1201 : 0x1301;
}

CSimUsbCamera::PendingFault* CSimUsbCamera::TakeFault(const SimControlSetup& setup,
                                                      SimFaultKind kind, bool applies) {
    if (!applies) return nullptr;
    for (PendingFault& f : m_faults) {
        if (f.fault.kind != kind || f.timesLeft == 0) continue;
        if (f.fault.request != kSimAnyRequest && f.fault.request != setup.request) continue;
        if (f.skipLeft > 0) {
            --f.skipLeft;
            continue;
        }
        if (f.timesLeft > 0) --f.timesLeft;
        return &f;
    }
    return nullptr;
}

SimControlResult CSimUsbCamera::HandleControl(const SimControlSetup& setup, uint8_t* data) {
    std::lock_guard lock(m_mutex);
    SimControlRecord record;
    record.setup = setup;
    if (!setup.In() && setup.length) record.outData.assign(data, data + setup.length);

    auto finish = [&](SimControlOutcome outcome, uint16_t actual) {
        record.outcome = outcome;
        if (setup.In() && outcome == SimControlOutcome::kOk)
            record.reply.assign(data, data + actual);
        m_log.push_back(std::move(record));
        return SimControlResult{outcome, actual};
    };

    if (m_unplugged) return finish(SimControlOutcome::kGone, 0);

    // Faults that keep the request from running at all.
    if (TakeFault(setup, SimFaultKind::kStall, true)) return finish(SimControlOutcome::kStall, 0);
    if (TakeFault(setup, SimFaultKind::kNoAnswer, true))
        return finish(SimControlOutcome::kNoAnswer, 0);

    Reply reply;
    bool handled = false;
    if (auto it = m_handlers.find(setup.request); it != m_handlers.end() && it->second) {
        if (std::optional<SimControlResult> r = it->second(setup, data)) {
            reply = {r->outcome, r->actual, -1};
            handled = true;
        }
    }
    if (!handled) {
        // Only vendor requests to the device reach the firmware.
        if ((setup.requestType & 0x7F) != 0x40)
            reply = Stall();
        else
            reply = Firmware(setup, data);
    }
    if (reply.outcome != SimControlOutcome::kOk) return finish(reply.outcome, 0);

    const bool hasStatus = reply.statusAt >= 0 && reply.statusAt < reply.actual;
    // Faults that let the request run and damage its answer.
    if (PendingFault* f = TakeFault(setup, SimFaultKind::kWrongStatus, hasStatus))
        data[reply.statusAt] = f->fault.status;
    if (PendingFault* f = TakeFault(setup, SimFaultKind::kShortReply, setup.In()))
        reply.actual = static_cast<uint16_t>(
            reply.actual > f->fault.missing ? reply.actual - f->fault.missing : 0);
    return finish(SimControlOutcome::kOk, reply.actual);
}

CSimUsbCamera::Reply CSimUsbCamera::StatusReply(uint8_t* data, uint8_t status) {
    data[0] = status;
    return {SimControlOutcome::kOk, 1, 0};
}

CSimUsbCamera::Reply CSimUsbCamera::ValueReply(uint8_t* data, uint16_t value, uint8_t status) {
    data[0] = static_cast<uint8_t>(value);
    data[1] = static_cast<uint8_t>(value >> 8);
    data[2] = status;
    return {SimControlOutcome::kOk, 3, 2};
}

CSimUsbCamera::Reply CSimUsbCamera::Firmware(const SimControlSetup& s, uint8_t* data) {
    const bool in = s.In();
    // The reply forms below need room; a shorter IN request is refused as the controller's
    // firmware refuses a request it cannot answer.
    auto needIn = [&](uint16_t n) { return in && s.length >= n; };
    switch (s.request) {
        case kCpuReset:
            if (in || s.value != 0xE600 || s.length < 1) return Stall();
            if (data[0] == 1) {
                m_cpuHeld = true;
            } else if (data[0] == 0 && m_cpuHeld) {
                m_cpuHeld = false;
                ++m_cpuResets;
                m_frames.Stop();
            }
            return {SimControlOutcome::kOk, s.length, -1};
        case kEeprom:
            if (m_config.generation != SimUsbGeneration::kUsb2) return Stall();
            return Storage(s, data);
        case kB0:
        case kResetFifo:
        case kD8:
        case kCoolerSetup:
            if (!needIn(1)) return Stall();
            return StatusReply(data, kOk0);
        case kFirmwareVersion:
        case kDeviceType: {
            if (!needIn(2)) return Stall();
            const uint16_t v =
                s.request == kDeviceType ? DeviceTypeCode() : m_config.firmwareVersion;
            data[0] = static_cast<uint8_t>(v);
            data[1] = static_cast<uint8_t>(v >> 8);
            return {SimControlOutcome::kOk, 2, -1};
        }
        case kStreamStart:
            if (!needIn(1)) return Stall();
            if (m_config.frameSizeFromFpga) {
                const uint32_t bytes = (uint32_t{FpgaReg(33)} << 16) | FpgaReg(34);
                if (bytes != 0 && bytes != m_frames.Format().imageBytes) {
                    SimFrameFormat format = m_frames.Format();
                    format.imageBytes = bytes;
                    m_frames.SetFormat(format);
                }
                // A scene is laid out on the image window the FPGA was given (width in register
                // 27, height in 28): two bytes per sample when the frame size says so.
                const uint32_t width = FpgaReg(27), height = FpgaReg(28);
                SimFrameFormat format = m_frames.Format();
                if (format.pattern == SimFramePattern::kBayerScene && width != 0) {
                    format.bayerScene.width = width;
                    format.bayerScene.sampleBytes = format.imageBytes == width * height * 2 ? 2 : 1;
                    m_frames.SetFormat(format);
                }
            }
            if (!m_frames.Running()) m_frames.Start(Clock::now());
            return StatusReply(data, kOk0);
        case kStreamStop:
            if (!needIn(1)) return Stall();
            m_frames.Stop();
            return StatusReply(data, kOk0);
        case kFlashCommand:
        case kFlashRead:
        case kFlashWrite:
            if (m_config.generation != SimUsbGeneration::kUsb3) return Stall();
            return Storage(s, data);
        case kSensorWrite:
            if (!needIn(1)) return Stall();
            return SensorWrite(s.index, s.value, data);
        case kSensorRead:
            if (!needIn(3)) return Stall();
            return SensorRead(s.index, data);
        case kSensorBus:
            if (!needIn(1)) return Stall();
            m_sensorBus = static_cast<uint8_t>(s.value & 0xFF);
            m_sensorWidths = static_cast<uint8_t>(s.value >> 8);
            return StatusReply(data, kOk0);
        case kI2c:
            return I2c(s, data);
        case kFpgaWrite:
            if (!needIn(1)) return Stall();
            if (s.index != kFpgaVersionReg) {
                const uint16_t before = m_fpga[s.index];
                m_fpga[s.index] = s.value;
                OnFpgaWrite(s.index, before, s.value);
            }
            return StatusReply(data, kOk8);
        case kFpgaRead: {
            if (!needIn(3)) return Stall();
            auto it = m_fpga.find(s.index);
            return ValueReply(data, it == m_fpga.end() ? 0 : it->second, kOk8);
        }
        case kCoolerWrite:
            if (!needIn(1)) return Stall();
            m_cooler[s.index] = s.value;
            if (m_config.thermal &&
                m_config.thermal->cooler == SimThermalConfig::Cooler::kDriveValue &&
                s.index == s.value)
                m_coolerDrive = s.value;
            return StatusReply(data, kOk8);
        case kCoolerRead:
            if (!needIn(3)) return Stall();
            if (m_config.thermal && s.index == 0)
                return ValueReply(data, CoolingSensorReading(), kOk8);
            return ValueReply(data, CoolerChannel(s.index), kOk8);
        case kGpioWrite: {
            if (!needIn(1)) return Stall();
            const uint8_t pin = static_cast<uint8_t>(s.value & 0xFF);
            SetPin(pin, m_pins[pin].mode, static_cast<uint8_t>(s.value >> 8));
            return StatusReply(data, kOk0);
        }
        case kGpioRead: {
            if (!needIn(1)) return Stall();
            const Pin& p = m_pins[static_cast<uint8_t>(s.value & 0xFF)];
            data[0] = p.mode == 0 ? p.output : p.input;
            return {SimControlOutcome::kOk, 1, -1};
        }
        case kGpioMode: {
            if (!needIn(1)) return Stall();
            const uint8_t pin = static_cast<uint8_t>(s.value & 0xFF);
            SetPin(pin, static_cast<uint8_t>(s.value >> 8), m_pins[pin].output);
            return StatusReply(data, kOk0);
        }
        case kConfigPort:
            return ConfigPort(s, data);
        case kConfigData:
            if (in || s.length > 1024) return Stall();
            m_configData.insert(m_configData.end(), data, data + s.length);
            return {SimControlOutcome::kOk, s.length, -1};
        default:
            return Stall();
    }
}

CSimUsbCamera::Reply CSimUsbCamera::SensorWrite(uint16_t reg, uint16_t value, uint8_t* data) {
    auto it = m_sensors.find(m_sensorBus);
    if (it == m_sensors.end()) return StatusReply(data, kNackStatus);
    const uint16_t regMask = (m_sensorWidths & 0x0F) == 1 ? 0xFF : 0xFFFF;
    const uint16_t valueMask = (m_sensorWidths >> 4) == 1 ? 0xFF : 0xFFFF;
    it->second.registers[reg & regMask] = value & valueMask;
    return StatusReply(data, kOk8);
}

CSimUsbCamera::Reply CSimUsbCamera::SensorRead(uint16_t reg, uint8_t* data) {
    auto it = m_sensors.find(m_sensorBus);
    if (it == m_sensors.end()) return ValueReply(data, 0, kNackStatus);
    const uint16_t regMask = (m_sensorWidths & 0x0F) == 1 ? 0xFF : 0xFFFF;
    const uint16_t valueMask = (m_sensorWidths >> 4) == 1 ? 0xFF : 0xFFFF;
    const Chip& chip = it->second;
    auto r = chip.registers.find(reg & regMask);
    const uint16_t v = r == chip.registers.end() ? chip.defaultValue : r->second;
    return ValueReply(data, v & valueMask, kOk8);
}

CSimUsbCamera::Reply CSimUsbCamera::I2c(const SimControlSetup& s, uint8_t* data) {
    const uint8_t address = static_cast<uint8_t>(s.value & 0xFF);
    auto dev = m_i2c.find(address);
    if (!s.In()) {
        if (s.length > 255) return Stall();
        m_i2cWrites.push_back({s.value, s.index, std::vector<uint8_t>(data, data + s.length)});
        if (dev != m_i2c.end() && dev->second.onWrite) dev->second.onWrite(data, s.length, s.index);
        return {SimControlOutcome::kOk, s.length, -1};
    }
    if (s.length < 1 || s.length > 256) return Stall();
    const size_t n = s.length - 1u;
    std::memset(data, 0, s.length);
    const bool ack =
        dev != m_i2c.end() && dev->second.onRead && dev->second.onRead(data + 1, n, s.index);
    data[0] = ack ? kOk8 : kNackStatus;
    return {SimControlOutcome::kOk, s.length, 0};
}

CSimUsbCamera::Reply CSimUsbCamera::Storage(const SimControlSetup& s, uint8_t* data) {
    const size_t size = m_storage.size();
    if (s.request == kEeprom) {
        const size_t address = s.value;
        if (address + s.length > size) return Stall();
        if (s.In())
            std::memcpy(data, m_storage.data() + address, s.length);
        else
            std::memcpy(m_storage.data() + address, data, s.length);
        return {SimControlOutcome::kOk, s.length, -1};
    }
    if (s.request == kFlashCommand) {
        if (s.In()) return Stall();
        if (s.index == 0) {
            if (s.length < 4) return Stall();
            const size_t address = static_cast<size_t>(data[0]) | (size_t{data[1]} << 8) |
                                   (size_t{data[2]} << 16) | (size_t{data[3]} << 24);
            const size_t sector = address & ~(kSectorBytes - 1);
            if (sector + kSectorBytes > size) return Stall();
            std::memset(m_storage.data() + sector, 0xFF, kSectorBytes);
            ++m_flashErases;
            return {SimControlOutcome::kOk, s.length, -1};
        }
        // The FPGA flash-boot commands: accepted, nothing to model yet.
        if (s.index == 3 || s.index == 4 || s.index == 5)
            return {SimControlOutcome::kOk, s.length, -1};
        return Stall();
    }
    const size_t address = (static_cast<size_t>(s.value) << 16) | s.index;
    if (address + s.length > size) return Stall();
    if (s.request == kFlashRead) {
        if (!s.In()) return Stall();
        std::memcpy(data, m_storage.data() + address, s.length);
    } else {
        if (s.In()) return Stall();
        // NOR flash: programming can only clear bits; an erase sets them again.
        for (size_t i = 0; i < s.length; ++i) m_storage[address + i] &= data[i];
    }
    return {SimControlOutcome::kOk, s.length, -1};
}

CSimUsbCamera::Reply CSimUsbCamera::ConfigPort(const SimControlSetup& s, uint8_t* data) {
    switch (s.index) {
        case 160:
        case 161:
        case 162:
        case 164:
            if (!s.In() || s.length < 1) return Stall();
            return StatusReply(data, kOk0);
        case 163:
            if (!s.In()) return {SimControlOutcome::kOk, s.length, -1};
            std::memset(data, 0, s.length);
            std::copy_n(m_configReadBack.begin(),
                        std::min<size_t>(s.length, m_configReadBack.size()), data);
            return {SimControlOutcome::kOk, s.length, -1};
        default:
            return Stall();
    }
}

// ---- trigger and I/O lines ----------------------------------------------------------------

bool CSimUsbCamera::TriggerMode() const {
    return m_config.triggerRegister != 0 && (FpgaReg(m_config.triggerRegister) & 1) != 0;
}

void CSimUsbCamera::OnFpgaWrite(uint16_t reg, uint16_t before, uint16_t value) {
    if (reg == m_config.triggerRegister && reg != 0) {
        m_frames.SetGated((value & 1) != 0);
        // Line 0 rising on the loop-back cable.
        const auto lineCode = [](uint16_t word) { return (word >> kLineShift[0]) & 7; };
        if (m_config.outputLoopedToInput && lineCode(before) != kDrivenHigh &&
            lineCode(value) == kDrivenHigh)
            InputEdge();
    }
    if (reg == kCommandReg && value == 1) Trigger();
}

void CSimUsbCamera::Trigger() {
    if (!TriggerMode() || !m_frames.Running()) return;
    uint32_t count;
    switch (m_config.triggerRegister) {
        case kFullMapTriggerReg:
            count = (uint32_t{FpgaReg(10)} << 16) | FpgaReg(11);
            break;
        case kCompactTriggerReg:
            count = FpgaReg(3);
            break;
        default:
            count = FpgaReg(m_config.triggerRegister) >> 8;
            break;
    }
    m_frames.Release(count == 0 ? 1 : count);
    ++m_triggers;
}

void CSimUsbCamera::PulseInput() {
    std::lock_guard lock(m_mutex);
    InputEdge();
}

void CSimUsbCamera::InputEdge() {
    if (m_config.triggerRegister == 0) return;
    const uint16_t source = (FpgaReg(m_config.triggerRegister) >> 1) & 7;
    if (source >= 1 && source <= 5) Trigger();
}

void CSimUsbCamera::SetInputLevel(uint8_t level) {
    std::lock_guard lock(m_mutex);
    m_fpga[kInputLineReg] = level;
}

uint64_t CSimUsbCamera::TriggersTaken() const {
    std::lock_guard lock(m_mutex);
    return m_triggers;
}

SimOutputLine CSimUsbCamera::OutputLine(int line) const {
    std::lock_guard lock(m_mutex);
    SimOutputLine out;
    if ((line != 0 && line != 1) || m_config.triggerRegister == 0) return out;
    const uint16_t word = FpgaReg(m_config.triggerRegister);
    out.code = static_cast<uint8_t>((word >> kLineShift[line]) & 7);
    out.polarity = ((word >> (kLineShift[line] + kPolarityOffset)) & 1) != 0;
    if (m_config.triggerRegister == kFullMapTriggerReg) {
        const uint16_t* r = kLineTiming[line];
        out.strobeDelay = (uint32_t{FpgaReg(r[0])} << 16) | FpgaReg(r[1]);
        out.pulseWidth = (uint32_t{FpgaReg(r[2])} << 16) | FpgaReg(r[3]);
    }
    return out;
}

// ---- thermal model --------------------------------------------------------------------------

double CSimUsbCamera::CoolerPower() const {
    std::lock_guard lock(m_mutex);
    if (!m_config.thermal) return 0;
    if (m_config.thermal->cooler == SimThermalConfig::Cooler::kOnBit)
        return (FpgaReg(kCoolingReg) & kCoolerOnBit) != 0 ? 1.0 : 0.0;
    return (kCoolerOff - std::min(m_coolerDrive, kCoolerOff)) / double{kCoolerOff};
}

void CSimUsbCamera::AdvanceThermalClock(std::chrono::milliseconds elapsed) {
    std::lock_guard lock(m_mutex);
    if (!m_config.thermal) return;
    const SimThermalConfig& t = *m_config.thermal;
    const double settle = t.ambient - t.fullPowerDrop * CoolerPower();
    const double seconds = std::chrono::duration<double>(elapsed).count();
    m_temperature = settle + (m_temperature - settle) * std::exp(-seconds / t.timeConstantSeconds);
}

double CSimUsbCamera::SensorTemperature() const {
    std::lock_guard lock(m_mutex);
    return m_temperature;
}

uint16_t CSimUsbCamera::CoolingSensorReading() const {
    const long steps = std::lround((m_temperature + 3.0) * 16.0);
    return static_cast<uint16_t>((static_cast<uint32_t>(steps) & 0xFFF) << 4);
}

void CSimUsbCamera::SetPin(uint8_t pin, uint8_t mode, uint8_t level) {
    Pin& p = m_pins[pin];
    p.mode = mode;
    p.output = level;
    if (m_gpioObserver) m_gpioObserver(pin, mode, level);
}

SimBulkResult CSimUsbCamera::PullBulkIn(uint8_t endpoint, uint8_t* buf, uint32_t len,
                                        Clock::time_point now) {
    std::lock_guard lock(m_mutex);
    if (m_unplugged) return {SimBulkOutcome::kGone, 0};
    if (endpoint != kBulkIn) return {SimBulkOutcome::kStall, 0};
    if (m_bulkStall) {
        m_bulkStall = false;
        return {SimBulkOutcome::kStall, 0};
    }
    if (m_bulkZeroLength) {
        m_bulkZeroLength = false;
        return {SimBulkOutcome::kData, 0};
    }
    const uint32_t n = m_frames.Produce(buf, len, now);
    return n ? SimBulkResult{SimBulkOutcome::kData, n}
             : SimBulkResult{SimBulkOutcome::kNotReady, 0};
}

std::optional<CSimUsbCamera::Clock::time_point> CSimUsbCamera::NextBulkEvent(
    Clock::time_point now) {
    std::lock_guard lock(m_mutex);
    if (m_unplugged || m_bulkStall || m_bulkZeroLength) return now;
    return m_frames.NextData(now);
}

void CSimUsbCamera::OnBusReset() {
    std::lock_guard lock(m_mutex);
    m_frames.Stop();
    ++m_busResets;
}

void CSimUsbCamera::InjectFault(const SimFault& fault) {
    std::lock_guard lock(m_mutex);
    m_faults.push_back({fault, fault.skip, fault.times});
}

void CSimUsbCamera::ClearFaults() {
    std::lock_guard lock(m_mutex);
    m_faults.clear();
}

void CSimUsbCamera::Unplug() {
    std::lock_guard lock(m_mutex);
    m_unplugged = true;
    m_frames.Stop();
}

bool CSimUsbCamera::IsUnplugged() const {
    std::lock_guard lock(m_mutex);
    return m_unplugged;
}

void CSimUsbCamera::StallBulkOnce() {
    std::lock_guard lock(m_mutex);
    m_bulkStall = true;
}

void CSimUsbCamera::ZeroLengthBulkOnce() {
    std::lock_guard lock(m_mutex);
    m_bulkZeroLength = true;
}

void CSimUsbCamera::CutNextFrame(uint32_t missing) {
    std::lock_guard lock(m_mutex);
    m_frames.CutNextFrame(missing);
}

std::vector<SimControlRecord> CSimUsbCamera::Requests() const {
    std::lock_guard lock(m_mutex);
    return m_log;
}

void CSimUsbCamera::ClearRequests() {
    std::lock_guard lock(m_mutex);
    m_log.clear();
}

void CSimUsbCamera::SetRequestHandler(uint8_t request, RequestHandler handler) {
    std::lock_guard lock(m_mutex);
    m_handlers[request] = std::move(handler);
}

uint16_t CSimUsbCamera::FpgaReg(uint16_t reg) const {
    std::lock_guard lock(m_mutex);
    auto it = m_fpga.find(reg);
    return it == m_fpga.end() ? 0 : it->second;
}

void CSimUsbCamera::SetFpgaReg(uint16_t reg, uint16_t value) {
    std::lock_guard lock(m_mutex);
    m_fpga[reg] = value;
}

void CSimUsbCamera::AttachSensor(const SimSensorChip& chip) {
    std::lock_guard lock(m_mutex);
    Chip& c = m_sensors[chip.busAddress];
    c.registers.clear();
    for (const auto& [reg, value] : chip.registers) c.registers[reg] = value;
    c.defaultValue = chip.defaultValue;
}

void CSimUsbCamera::DetachSensor(uint8_t busAddress) {
    std::lock_guard lock(m_mutex);
    m_sensors.erase(busAddress);
}

std::optional<uint16_t> CSimUsbCamera::SensorReg(uint8_t busAddress, uint16_t reg) const {
    std::lock_guard lock(m_mutex);
    auto it = m_sensors.find(busAddress);
    if (it == m_sensors.end()) return std::nullopt;
    auto r = it->second.registers.find(reg);
    return r == it->second.registers.end() ? it->second.defaultValue : r->second;
}

bool CSimUsbCamera::SetSensorReg(uint8_t busAddress, uint16_t reg, uint16_t value) {
    std::lock_guard lock(m_mutex);
    auto it = m_sensors.find(busAddress);
    if (it == m_sensors.end()) return false;
    it->second.registers[reg] = value;
    return true;
}

uint8_t CSimUsbCamera::SensorBusAddress() const {
    std::lock_guard lock(m_mutex);
    return m_sensorBus;
}

uint8_t CSimUsbCamera::SensorBusWidths() const {
    std::lock_guard lock(m_mutex);
    return m_sensorWidths;
}

uint8_t CSimUsbCamera::GpioMode(uint8_t pin) const {
    std::lock_guard lock(m_mutex);
    auto it = m_pins.find(pin);
    return it == m_pins.end() ? Pin{}.mode : it->second.mode;
}

uint8_t CSimUsbCamera::GpioOutput(uint8_t pin) const {
    std::lock_guard lock(m_mutex);
    auto it = m_pins.find(pin);
    return it == m_pins.end() ? Pin{}.output : it->second.output;
}

void CSimUsbCamera::SetGpioInput(uint8_t pin, uint8_t level) {
    std::lock_guard lock(m_mutex);
    m_pins[pin].input = level;
}

void CSimUsbCamera::SetGpioObserver(GpioObserver observer) {
    std::lock_guard lock(m_mutex);
    m_gpioObserver = std::move(observer);
}

void CSimUsbCamera::AttachI2cDevice(uint8_t address, SimI2cDevice device) {
    std::lock_guard lock(m_mutex);
    m_i2c[address] = std::move(device);
}

std::vector<SimI2cWrite> CSimUsbCamera::I2cWrites() const {
    std::lock_guard lock(m_mutex);
    return m_i2cWrites;
}

uint16_t CSimUsbCamera::CoolerChannel(uint16_t channel) const {
    std::lock_guard lock(m_mutex);
    auto it = m_cooler.find(channel);
    return it == m_cooler.end() ? 0 : it->second;
}

void CSimUsbCamera::SetCoolerChannel(uint16_t channel, uint16_t raw) {
    std::lock_guard lock(m_mutex);
    m_cooler[channel] = raw;
}

std::vector<uint8_t> CSimUsbCamera::ConfigData() const {
    std::lock_guard lock(m_mutex);
    return m_configData;
}

void CSimUsbCamera::ClearConfigData() {
    std::lock_guard lock(m_mutex);
    m_configData.clear();
}

void CSimUsbCamera::SetConfigReadBack(std::vector<uint8_t> bytes) {
    std::lock_guard lock(m_mutex);
    m_configReadBack = std::move(bytes);
}

size_t CSimUsbCamera::StorageSize() const {
    std::lock_guard lock(m_mutex);
    return m_storage.size();
}

std::vector<uint8_t> CSimUsbCamera::ReadStorage(size_t address, size_t length) const {
    std::lock_guard lock(m_mutex);
    if (address >= m_storage.size()) return {};
    length = std::min(length, m_storage.size() - address);
    return {m_storage.begin() + static_cast<ptrdiff_t>(address),
            m_storage.begin() + static_cast<ptrdiff_t>(address + length)};
}

void CSimUsbCamera::WriteStorage(size_t address, std::span<const uint8_t> bytes) {
    std::lock_guard lock(m_mutex);
    if (address >= m_storage.size()) return;
    const size_t n = std::min(bytes.size(), m_storage.size() - address);
    std::copy_n(bytes.begin(), n, m_storage.begin() + static_cast<ptrdiff_t>(address));
}

void CSimUsbCamera::FillStorage(uint8_t value) {
    std::lock_guard lock(m_mutex);
    std::fill(m_storage.begin(), m_storage.end(), value);
}

void CSimUsbCamera::SetFrameFormat(const SimFrameFormat& format) {
    std::lock_guard lock(m_mutex);
    m_frames.SetFormat(format);
}

void CSimUsbCamera::GateFrames(bool gated) {
    std::lock_guard lock(m_mutex);
    m_frames.SetGated(gated);
}

void CSimUsbCamera::AllowFrames(uint32_t frames) {
    std::lock_guard lock(m_mutex);
    m_frames.Release(frames);
}

void CSimUsbCamera::SetFrameStartHook(std::function<void(SimFrameFormat&)> hook) {
    std::lock_guard lock(m_mutex);
    m_frames.SetFrameStartHook(std::move(hook));
}

SimFrameFormat CSimUsbCamera::FrameFormat() const {
    std::lock_guard lock(m_mutex);
    return m_frames.Format();
}

bool CSimUsbCamera::IsStreaming() const {
    std::lock_guard lock(m_mutex);
    return m_frames.Running();
}

uint64_t CSimUsbCamera::FramesCompleted() const {
    std::lock_guard lock(m_mutex);
    return m_frames.FramesCompleted();
}

uint64_t CSimUsbCamera::NextFrameNumber() const {
    std::lock_guard lock(m_mutex);
    return m_frames.NextFrameNumber();
}

int CSimUsbCamera::BusResets() const {
    std::lock_guard lock(m_mutex);
    return m_busResets;
}

int CSimUsbCamera::CpuResets() const {
    std::lock_guard lock(m_mutex);
    return m_cpuResets;
}

int CSimUsbCamera::FlashErases() const {
    std::lock_guard lock(m_mutex);
    return m_flashErases;
}
