// The simulated USB camera's firmware: every vendor request on endpoint 0 with its status byte,
// the FPGA register file, the sensor register maps behind the sensor bus, GPIO, the EEPROM or
// flash, the bulk frame source on endpoint 0x82, and fault knobs. It knows nothing of any USB
// transport: an adapter (in-process, or usbfs under umockdev) feeds it setup packets and bulk
// reads, and tests set it up and inspect it directly.
//
// This model is written from the camera's point of view and on purpose shares no request table
// with the SDK, so that a wrong encoding on either side shows up as a disagreement.
//
// Thread safety: every member function may be called from any thread; one recursive mutex guards
// the whole state. Hooks (request handlers, the GPIO observer, I2C devices) run with that mutex
// held and may call back into the model, but must not block or wait for another thread that
// uses the model.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "SimFrameGenerator.h"

enum class SimUsbGeneration : uint8_t {
    kUsb2,  // USB 2.0 controller: device type 0x1201, EEPROM behind request 0xA9
    kUsb3,  // USB 3.0 controller: device type 0x1301, flash behind requests 0xBC-0xBE
};

// The sensor cooler of the cooled boards and the sensor's temperature, on a clock the test
// drives (CSimUsbCamera::AdvanceThermalClock). The temperature settles exponentially towards
// ambient - fullPowerDrop x power: it falls while the cooler runs and drifts back to ambient
// while it is off. Request 0xDB channel 0 reports it as the cooling sensor's 16-bit reading
// (a 12-bit two's-complement value in bits 4-15, 1/16 degree per step, 3 degrees high).
struct SimThermalConfig {
    enum class Cooler : uint8_t {
        kOnBit,       // on at full power while bit 4 of FPGA register 38 is set
        kDriveValue,  // driven by request 0xDA carrying one value in wValue and wIndex: 126 and
                      // above off, 0 full power, linear between
    };
    Cooler cooler = Cooler::kOnBit;
    double ambient = 25.0;
    double start = 25.0;
    double fullPowerDrop = 40.0;
    double timeConstantSeconds = 30.0;
};

// An output line as the FPGA drives it, decoded from the trigger control word (its 3-bit code
// and polarity bit) and, on the full register map, the line's timing registers.
struct SimOutputLine {
    uint8_t code = 0;  // 0, 1 strobe; 2 driven high; 3 driven low; 4 PWM; 6 other
    bool polarity = false;
    bool Strobe() const { return code <= 1; }
    bool DrivenHigh() const { return code == 2; }
    bool DrivenLow() const { return code == 3; }
    bool Pwm() const { return code == 4; }
    uint32_t strobeDelay = 0;  // also the PWM period
    uint32_t pulseWidth = 0;   // also the PWM duty
};

struct SimUsbCameraConfig {
    SimUsbGeneration generation = SimUsbGeneration::kUsb3;
    uint16_t firmwareVersion = 0x1234;
    std::optional<uint16_t> deviceType{};  // default: 0x1201 or 0x1301 by generation
    uint16_t fpgaVersion = 0;              // FPGA register 129
    // Storage bytes; 0: 64 KiB of EEPROM (16-bit addresses) or 2 MiB of flash (room for the
    // parameter blocks at 0x10000, the user data and the bad-pixel table up to 0x100000, and
    // the firmware images at 0 and 0x20000).
    size_t storageBytes = 0;
    SimFrameFormat frames{};
    // At each stream start, a non-zero frame size in FPGA registers 33 (bytes >> 16) and 34
    // (bytes & 0xFFFF) becomes the image size, as the FPGA of the boards with the full image
    // path (the image window set by the sensor driver) sends it.
    bool frameSizeFromFpga = false;
    // The FPGA's trigger logic: the register holding the trigger control word (16 on boards with
    // the full register map, 10 or 6 on the compact ones; 0: none). While its bit 0 is set no
    // frame flows on its own; each trigger lets the trigger frame count of frames through (FPGA
    // registers 10 and 11 on the full map, register 3 beside control register 10, the high byte
    // of register 6 on the board whose word is in register 6; 0 counts as 1). A trigger is
    // register 128 := 1 while streaming (software), or an edge on input line 0 while bits 1-3 of
    // the word hold a hardware source code (1-5).
    uint16_t triggerRegister = 0;
    // Output line 0 wired back to input line 0 (a loop-back cable on the I/O connector): the
    // moment the FPGA starts driving the output high (line code 2), the input sees an edge.
    bool outputLoopedToInput = false;
    std::optional<SimThermalConfig> thermal{};
};

// A sensor chip on the sensor bus: answers at its bus address with these register contents;
// registers not listed read as defaultValue. Request 0xD3 selects the bus address (low byte of
// wValue) and the access widths (high byte: data bytes in the high nibble, register bytes in the
// low nibble); the widths mask registers and values as a real bus would.
struct SimSensorChip {
    uint8_t busAddress = 0;
    std::vector<std::pair<uint16_t, uint16_t>> registers{};
    uint16_t defaultValue = 0;
};

// A device on the camera's I2C pass-through (request 0xD4). Writes to addresses without a device
// are accepted and only logged; a read from such an address answers a failing status.
struct SimI2cDevice {
    std::function<void(const uint8_t* data, size_t n, uint16_t index)> onWrite{};
    // false: no acknowledge (the read answers a failing status).
    std::function<bool(uint8_t* out, size_t n, uint16_t index)> onRead{};
};

struct SimControlSetup {
    uint8_t requestType = 0;
    uint8_t request = 0;
    uint16_t value = 0;
    uint16_t index = 0;
    uint16_t length = 0;
    bool In() const { return (requestType & 0x80) != 0; }
};

enum class SimControlOutcome : uint8_t {
    kOk,        // `actual` bytes of data moved (an IN reply may come back short)
    kStall,     // the request was refused (STALL handshake)
    kNoAnswer,  // the device never completes it; the host's timeout ends it
    kGone,      // the device is unplugged
};

struct SimControlResult {
    SimControlOutcome outcome = SimControlOutcome::kOk;
    uint16_t actual = 0;
};

// One control request as the device saw it.
struct SimControlRecord {
    SimControlSetup setup;
    std::vector<uint8_t> outData;  // OUT data stage
    std::vector<uint8_t> reply;    // IN data the device sent
    SimControlOutcome outcome = SimControlOutcome::kOk;
};

// The first two let the request run and damage its answer (as a lost acknowledge would); the
// last two keep it from running, so it changes nothing on the camera.
enum class SimFaultKind : uint8_t {
    kWrongStatus,  // the status byte of the reply is replaced by SimFault::status
    kShortReply,   // the IN reply loses its last SimFault::missing bytes
    kStall,        // the request stalls
    kNoAnswer,     // the request is never completed (the host's timeout ends it)
};

inline constexpr int kSimAnyRequest = -1;

// Applies to the matching requests after `skip` of them have passed, `times` times (-1: for
// ever). kWrongStatus matches only requests whose reply has a status byte, kShortReply only IN
// requests.
struct SimFault {
    SimFaultKind kind = SimFaultKind::kStall;
    int request = kSimAnyRequest;
    int skip = 0;
    int times = 1;
    uint8_t status = 0x5A;
    uint16_t missing = 1;
};

enum class SimBulkOutcome : uint8_t { kData, kNotReady, kStall, kGone };

struct SimBulkResult {
    SimBulkOutcome outcome = SimBulkOutcome::kNotReady;
    uint32_t bytes = 0;
};

struct SimI2cWrite {
    uint16_t address;
    uint16_t index;
    std::vector<uint8_t> data;
};

class CSimUsbCamera {
  public:
    using Clock = std::chrono::steady_clock;
    // Takes over a request code before the built-in firmware; nullopt falls through to it.
    // `data` holds setup.length bytes: the OUT data, or room for the IN reply.
    using RequestHandler =
        std::function<std::optional<SimControlResult>(const SimControlSetup& setup, uint8_t* data)>;
    // Every GPIO mode or output change: pin, mode (0 output, 1 input), output level.
    using GpioObserver = std::function<void(uint8_t pin, uint8_t mode, uint8_t level)>;

    // Status byte the firmware answers when a sensor or I2C access gets no acknowledge.
    static constexpr uint8_t kNackStatus = 0x01;

    explicit CSimUsbCamera(const SimUsbCameraConfig& config = {});
    CSimUsbCamera(const CSimUsbCamera&) = delete;
    CSimUsbCamera& operator=(const CSimUsbCamera&) = delete;

    // ---- transport side -------------------------------------------------------------------
    // One control request; data holds setup.length bytes (OUT data in, IN reply out).
    SimControlResult HandleControl(const SimControlSetup& setup, uint8_t* data);
    // One bulk IN read of at most len bytes.
    SimBulkResult PullBulkIn(uint8_t endpoint, uint8_t* buf, uint32_t len, Clock::time_point now);
    // When a bulk read will next complete (data, stall or unplug): now or later; nothing while
    // no stream runs.
    std::optional<Clock::time_point> NextBulkEvent(Clock::time_point now);
    // A USB port reset: the controller stops streaming.
    void OnBusReset();

    // ---- identity and faults --------------------------------------------------------------
    SimUsbGeneration Generation() const { return m_config.generation; }
    uint16_t DeviceTypeCode() const;
    void InjectFault(const SimFault& fault);
    void ClearFaults();
    // Every request and bulk read from now on ends as if the cable were pulled.
    void Unplug();
    bool IsUnplugged() const;
    // The next bulk read stalls (once).
    void StallBulkOnce();
    // The next bulk read completes at once with no data (a zero-length packet), once.
    void ZeroLengthBulkOnce();
    // The next frame to begin loses its last `missing` bytes (see CSimFrameGenerator).
    void CutNextFrame(uint32_t missing);

    // ---- request log ----------------------------------------------------------------------
    std::vector<SimControlRecord> Requests() const;
    void ClearRequests();
    void SetRequestHandler(uint8_t request, RequestHandler handler);

    // ---- FPGA register file (16-bit registers; 129 is the read-only version) --------------
    uint16_t FpgaReg(uint16_t reg) const;
    void SetFpgaReg(uint16_t reg, uint16_t value);  // test side: any register, 129 included

    // ---- trigger and I/O lines (see SimUsbCameraConfig::triggerRegister) -------------------
    // An edge on input line 0: a trigger when the word selects a hardware source; its level
    // (FPGA register 130) is left as it was.
    void PulseInput();
    // The level input line 0 reads (FPGA register 130).
    void SetInputLevel(uint8_t level);
    // Triggers the FPGA took while streaming in trigger mode, from any source.
    uint64_t TriggersTaken() const;
    // Output line 0 or 1 as the FPGA drives it now.
    SimOutputLine OutputLine(int line) const;

    // ---- thermal model (see SimUsbCameraConfig::thermal) ----------------------------------
    void AdvanceThermalClock(std::chrono::milliseconds elapsed);
    double SensorTemperature() const;
    double CoolerPower() const;  // 0 .. 1

    // ---- sensor bus -----------------------------------------------------------------------
    void AttachSensor(const SimSensorChip& chip);
    void DetachSensor(uint8_t busAddress);
    std::optional<uint16_t> SensorReg(uint8_t busAddress, uint16_t reg) const;
    // Test side: what a register of the chip at that address reads (as the chip's own
    // circuits would change it); false when no chip answers there.
    bool SetSensorReg(uint8_t busAddress, uint16_t reg, uint16_t value);
    uint8_t SensorBusAddress() const;
    uint8_t SensorBusWidths() const;

    // ---- GPIO (pins start as inputs reading 0) --------------------------------------------
    uint8_t GpioMode(uint8_t pin) const;
    uint8_t GpioOutput(uint8_t pin) const;
    void SetGpioInput(uint8_t pin, uint8_t level);  // the level an input pin reads
    void SetGpioObserver(GpioObserver observer);

    // ---- I2C pass-through -----------------------------------------------------------------
    void AttachI2cDevice(uint8_t address, SimI2cDevice device);
    std::vector<SimI2cWrite> I2cWrites() const;

    // ---- cooling channels (0xDA write, 0xDB read) -----------------------------------------
    uint16_t CoolerChannel(uint16_t channel) const;
    void SetCoolerChannel(uint16_t channel, uint16_t raw);

    // ---- configuration port (0xE3, 0xE4) --------------------------------------------------
    // Bytes received with 0xE4 since the last clear.
    std::vector<uint8_t> ConfigData() const;
    void ClearConfigData();
    // What the next 0xE3/163 read-back returns (zeros beyond).
    void SetConfigReadBack(std::vector<uint8_t> bytes);

    // ---- storage: EEPROM (USB 2.0) or flash (USB 3.0), raw bytes --------------------------
    // Flash requests behave as NOR flash: erase sets a 4 KiB sector to 0xFF, a write can only
    // clear bits. These test-side accessors write the bytes as given.
    size_t StorageSize() const;
    std::vector<uint8_t> ReadStorage(size_t address, size_t length) const;
    void WriteStorage(size_t address, std::span<const uint8_t> bytes);
    void FillStorage(uint8_t value);

    // ---- stream ---------------------------------------------------------------------------
    void SetFrameFormat(const SimFrameFormat& format);
    // A gate the test opens frame by frame, for a consumer the camera must not run ahead of
    // however slow the machine is (the trigger logic's gate, see CSimFrameGenerator::SetGated):
    // while gated, a frame begins only when allowed; a stream start drops the frames allowed
    // before it. The adapter notices an allowed frame at its next wake-up, so a test behind
    // usbfs also wakes the device (CSimUsbDevice::Wake).
    void GateFrames(bool gated);
    void AllowFrames(uint32_t frames);
    SimFrameFormat FrameFormat() const;
    // See CSimFrameGenerator; the hook runs with the model's mutex held and may read the model.
    void SetFrameStartHook(std::function<void(SimFrameFormat&)> hook);
    bool IsStreaming() const;
    uint64_t FramesCompleted() const;
    uint64_t NextFrameNumber() const;

    // ---- counters -------------------------------------------------------------------------
    int BusResets() const;
    int CpuResets() const;  // releases of the CPU reset (request 0xA0 with data 0 after 1)
    int FlashErases() const;

  private:
    struct Pin {
        uint8_t mode = 1;
        uint8_t output = 0;
        uint8_t input = 0;
    };
    struct Chip {
        std::map<uint16_t, uint16_t> registers;
        uint16_t defaultValue = 0;
    };
    struct PendingFault {
        SimFault fault;
        int skipLeft;
        int timesLeft;
    };

    // Built-in firmware; returns the reply length and where its status byte is (-1: none).
    struct Reply {
        SimControlOutcome outcome = SimControlOutcome::kOk;
        uint16_t actual = 0;
        int statusAt = -1;
    };
    Reply Firmware(const SimControlSetup& setup, uint8_t* data);
    Reply StatusReply(uint8_t* data, uint8_t status);
    Reply ValueReply(uint8_t* data, uint16_t value, uint8_t status);
    Reply Stall() { return {SimControlOutcome::kStall, 0, -1}; }
    Reply SensorWrite(uint16_t reg, uint16_t value, uint8_t* data);
    Reply SensorRead(uint16_t reg, uint8_t* data);
    Reply I2c(const SimControlSetup& setup, uint8_t* data);
    Reply Storage(const SimControlSetup& setup, uint8_t* data);
    Reply ConfigPort(const SimControlSetup& setup, uint8_t* data);
    void SetPin(uint8_t pin, uint8_t mode, uint8_t level);
    PendingFault* TakeFault(const SimControlSetup& setup, SimFaultKind kind, bool applies);
    // The FPGA logic behind a register the host wrote.
    void OnFpgaWrite(uint16_t reg, uint16_t before, uint16_t value);
    bool TriggerMode() const;
    void Trigger();
    void InputEdge();  // with m_mutex held
    uint16_t CoolingSensorReading() const;

    mutable std::recursive_mutex m_mutex;  // guards everything below
    SimUsbCameraConfig m_config;
    std::vector<uint8_t> m_storage;
    std::map<uint16_t, uint16_t> m_fpga;
    std::map<uint8_t, Chip> m_sensors;
    uint8_t m_sensorBus = 0;
    uint8_t m_sensorWidths = 0x22;
    std::map<uint8_t, Pin> m_pins;
    GpioObserver m_gpioObserver;
    std::map<uint8_t, SimI2cDevice> m_i2c;
    std::vector<SimI2cWrite> m_i2cWrites;
    std::map<uint16_t, uint16_t> m_cooler;
    std::vector<uint8_t> m_configData;
    std::vector<uint8_t> m_configReadBack;
    std::map<uint8_t, RequestHandler> m_handlers;
    std::vector<PendingFault> m_faults;
    std::vector<SimControlRecord> m_log;
    CSimFrameGenerator m_frames;
    bool m_unplugged = false;
    bool m_bulkStall = false;
    bool m_bulkZeroLength = false;
    bool m_cpuHeld = false;
    int m_busResets = 0;
    int m_cpuResets = 0;
    int m_flashErases = 0;
    uint64_t m_triggers = 0;
    double m_temperature = 0;
    uint16_t m_coolerDrive = 126;  // last drive value of a kDriveValue cooler: off
};
