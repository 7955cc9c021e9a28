// The firmware of the simulated GigE camera: what it does with each GVCP command, apart from the
// network. It keeps the bootstrap registers (control privilege with its heartbeat expiry, stream
// channel, capabilities), the device memory with the hardware version text, a 4 MiB NOR flash,
// the FPGA register file, the registers of the sensor chips on the sensor bus, GPIO and raw I2C,
// and counts what the vendor commands ask for (soft triggers, timestamp resets, transfer
// requests, transfer-test blocks).
//
// It is written from the camera's side of the protocol and shares no code with the SDK.
//
// Thread safety: every public member may be called from any thread (one mutex inside).
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qvsim {

struct SimGigeIdentity {
    std::string ip = "198.18.0.2";
    std::string mask = "255.255.255.0";
    std::string gateway = "0.0.0.0";
    bool persistentIp = false;
    std::array<uint8_t, 6> mac{0x00, 0x1C, 0x51, 0x00, 0x00, 0x02};
    std::string manufacturer = "QV Vision";
    std::string model = "QV-G2M-290";
    std::string deviceVersion = "v1.2.0.3";
    std::string serial = "QVG0001";
    std::string userName = "cam";
    std::string productSeries = "QV-G2";
    uint16_t specMajor = 1;
    uint16_t specMinor = 2;
    uint8_t linkState = 5;  // "GigE 1000M Full"
    uint8_t runState = 1;   // 0: the boot program runs
    uint32_t sensorType = 37;
    uint16_t deviceId = 0x0290;
    uint16_t firmwareWord1 = 0x0102;
    uint16_t firmwareWord2 = 0x0304;
};

struct SimGigeFirmwareConfig {
    SimGigeIdentity identity;
    uint32_t gvcpCapability = 0;           // register 0x0934 (4: packet resend)
    uint32_t streamCapability = 0x300000;  // register 0x0D20 (vendor bits)
    std::string hardwareVersion = "v1.0";  // device memory 0x30024, 32 bytes
    uint32_t heartbeatMs = 3000;           // register 0x0938 after power-up
    size_t flashSize = 4u << 20;
};

// A GVCP acknowledge status of the standard.
inline constexpr uint16_t kGevStatusNotImplemented = 0x8001;
inline constexpr uint16_t kGevStatusInvalidParameter = 0x8002;
inline constexpr uint16_t kGevStatusInvalidAddress = 0x8003;
inline constexpr uint16_t kGevStatusAccessDenied = 0x8006;

class CSimGigeFirmware {
  public:
    using Clock = std::chrono::steady_clock;

    explicit CSimGigeFirmware(const SimGigeFirmwareConfig& config);

    struct Request {
        uint8_t flags = 0;
        uint16_t command = 0;
        uint16_t reqId = 0;
        std::vector<uint8_t> payload;
        uint32_t fromIp = 0;  // network byte order
        uint16_t fromPort = 0;
    };
    struct Answer {
        bool reply = true;  // false: the command is not acknowledged
        uint16_t status = 0;
        uint16_t ackCode = 0;
        std::vector<uint8_t> payload;
        unsigned delayMs = 0;  // pauses of sensor and FPGA lists the camera carries out first
    };
    Answer Execute(const Request& request, Clock::time_point now);
    // Releases the control privilege when its holder has been silent for the heartbeat time.
    void Tick(Clock::time_point now);
    // Power cycle: volatile state back to power-up (privilege free, stream channel cleared,
    // sensor and FPGA registers reset; the address back to its start-up value unless a
    // persistent one was forced); flash, memory and identity kept.
    void PowerCycle();

    // ---- FORCEIP ----
    struct ForceIpResult {
        bool forThisCamera = false;  // the payload names this camera's MAC address
        std::string oldIp;
        std::string oldMask;
        std::string newIp;
        std::string newMask;
    };
    // A FORCEIP payload (56 bytes): a static address becomes current and persistent; address
    // 0.0.0.0 sends the camera back to its start-up address, not persistent.
    ForceIpResult ForceIp(const std::vector<uint8_t>& payload);

    // ---- Identity and discovery ----
    std::vector<uint8_t> DiscoveryAnswer();  // the 248-byte payload as it stands now
    SimGigeIdentity Identity();
    void SetIdentity(const SimGigeIdentity& identity);
    uint32_t CurrentIp();  // network byte order
    uint32_t CurrentMask();

    // ---- Control privilege ----
    struct Holder {
        uint32_t ip;
        uint16_t port;
    };
    std::optional<Holder> CcpHolder();
    unsigned CcpExpiries();  // how often the privilege expired for want of a heartbeat

    // ---- Registers and stores ----
    uint32_t Register(uint32_t address);
    void SetRegister(uint32_t address, uint32_t value);
    uint32_t FpgaRegister(uint32_t reg);
    void SetFpgaRegister(uint32_t reg, uint32_t value);
    // The sensor chip at a bus address; register 0 of an unwritten chip reads 0.
    uint16_t SensorRegister(uint8_t busAddress, uint16_t reg);
    uint8_t SensorBusAddress();
    uint8_t SensorBusWidths();
    std::vector<uint8_t> FlashBytes(uint32_t address, size_t len);
    void WriteFlashBytes(uint32_t address, std::span<const uint8_t> data);  // as stored, no erase
    std::vector<uint32_t> ErasedSectors();  // sector addresses in erase order
    uint8_t Gpio(uint8_t pin);
    uint8_t GpioMode(uint8_t pin);
    void SetInputLevel(uint8_t pin, uint8_t level);  // what a GPIO read answers

    // ---- Counters of vendor actions ----
    struct Counters {
        unsigned softTriggers = 0;
        unsigned timestampResets = 0;
        unsigned transferRequests = 0;
        unsigned vendorActions = 0;
        unsigned reboots = 0;
        unsigned testBlocks = 0;  // transfer-test blocks since the last start
        std::vector<uint8_t> lastPll;
        std::optional<uint8_t> lastTransferValue;
        std::optional<uint32_t> vendorValue;
    };
    Counters GetCounters();
    // Makes the transfer-test count answer report this many blocks instead of the true count.
    void SetTransferTestCountOverride(std::optional<uint32_t> count);

    // ---- Stream channel ----
    // A test packet the host asked for with the fire bit of the packet-size register: its packet
    // size (IP and UDP headers included) and whether fragmenting is forbidden; taken once.
    struct TestPacket {
        uint32_t size;
        bool dontFragment;
    };
    std::optional<TestPacket> TakeTestPacket();
    uint16_t StreamHostPort();     // SCP
    uint32_t StreamDestination();  // SCDA, network byte order
    uint32_t StreamPacketSize();   // SCPS without the control bits
    uint32_t StreamPacketDelay();  // SCPD
    bool AcquisitionRunning();     // register 0x20000000 written since the last stop
    void SetStreamSourcePort(uint16_t port);

  private:
    Answer ReadRegisters(const Request& r);
    Answer WriteRegisters(const Request& r, Clock::time_point now);
    Answer ReadMemory(const Request& r);
    Answer WriteMemory(const Request& r, Clock::time_point now);
    Answer Vendor(const Request& r);
    bool WriteRegisterLocked(uint32_t address, uint32_t value, const Request& r,
                             Clock::time_point now);
    uint32_t ReadRegisterLocked(uint32_t address);
    bool IsControllerLocked(const Request& r) const;
    bool RefusedLocked(const Request& r) const;
    void ResetVolatileLocked();

    std::mutex m_mutex;  // guards everything below
    SimGigeFirmwareConfig m_config;
    SimGigeIdentity m_startup;  // the identity of power-up (temporary addresses revert to it)
    std::map<uint32_t, uint32_t> m_registers;
    std::map<uint32_t, uint32_t> m_fpga;
    std::map<uint32_t, uint16_t> m_sensor;  // (bus address << 16) | register
    std::map<uint8_t, uint8_t> m_gpio;
    std::map<uint8_t, uint8_t> m_gpioMode;
    std::map<uint8_t, uint8_t> m_inputLevel;
    std::vector<uint8_t> m_flash;
    std::vector<uint32_t> m_erased;
    uint8_t m_busAddress = 0;
    uint8_t m_busWidths = 0x22;
    std::optional<Holder> m_holder;
    Clock::time_point m_lastHeartbeat{};
    unsigned m_expiries = 0;
    Counters m_counters;
    std::optional<uint32_t> m_testCountOverride;
    std::optional<TestPacket> m_testPacket;
    bool m_acquisition = false;
    uint16_t m_sourcePort = 0;
};

}  // namespace qvsim
