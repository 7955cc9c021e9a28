#include "SimGigeFirmware.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>

namespace qvsim {

namespace {

// Wire codes as the camera knows them.
constexpr uint16_t kReadReg = 0x0080;
constexpr uint16_t kWriteReg = 0x0082;
constexpr uint16_t kReadMem = 0x0084;
constexpr uint16_t kWriteMem = 0x0086;

constexpr uint32_t kRegCapability = 0x0934;
constexpr uint32_t kRegHeartbeat = 0x0938;
constexpr uint32_t kRegCcp = 0x0A00;
constexpr uint32_t kRegScp = 0x0D00;
constexpr uint32_t kRegScps = 0x0D04;
constexpr uint32_t kRegScpd = 0x0D08;
constexpr uint32_t kRegScda = 0x0D18;
constexpr uint32_t kRegScsp = 0x0D1C;
constexpr uint32_t kRegStreamCap = 0x0D20;
constexpr uint32_t kRegAcqStart = 0x20000000;
constexpr uint32_t kRegAcqStop = 0x20000004;
constexpr uint32_t kMemVersion = 0x30024;
constexpr uint32_t kMemVersionSize = 32;

constexpr uint32_t kSectorSize = 0x1000;

uint16_t Be16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}
uint32_t Be32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}
void Put16(std::vector<uint8_t>& v, uint16_t x) {
    v.push_back(static_cast<uint8_t>(x >> 8));
    v.push_back(static_cast<uint8_t>(x));
}
void Put32(std::vector<uint8_t>& v, uint32_t x) {
    for (int s = 24; s >= 0; s -= 8) v.push_back(static_cast<uint8_t>(x >> s));
}
void PutText(uint8_t* field, size_t room, const std::string& text) {
    std::memcpy(field, text.data(), std::min(room, text.size()));
}
uint32_t Ip(const std::string& text) {
    in_addr a{};
    return inet_pton(AF_INET, text.c_str(), &a) == 1 ? a.s_addr : 0;
}

CSimGigeFirmware::Answer Status(uint16_t status, uint16_t ackCode) {
    CSimGigeFirmware::Answer a;
    a.status = status;
    a.ackCode = ackCode;
    return a;
}

}  // namespace

CSimGigeFirmware::CSimGigeFirmware(const SimGigeFirmwareConfig& config)
    : m_config(config), m_startup(config.identity), m_flash(config.flashSize, 0xFF) {
    std::lock_guard lock(m_mutex);
    ResetVolatileLocked();
}

void CSimGigeFirmware::ResetVolatileLocked() {
    m_registers.clear();
    m_fpga.clear();
    m_sensor.clear();
    m_gpio.clear();
    m_gpioMode.clear();
    m_registers[kRegCapability] = m_config.gvcpCapability;
    m_registers[kRegHeartbeat] = m_config.heartbeatMs;
    m_registers[kRegStreamCap] = m_config.streamCapability;
    m_holder.reset();
    m_testPacket.reset();
    m_acquisition = false;
    m_busAddress = 0;
    m_busWidths = 0x22;
}

void CSimGigeFirmware::PowerCycle() {
    std::lock_guard lock(m_mutex);
    ResetVolatileLocked();
    if (!m_config.identity.persistentIp) {
        m_config.identity.ip = m_startup.ip;
        m_config.identity.mask = m_startup.mask;
        m_config.identity.gateway = m_startup.gateway;
    }
}

// ---- Control privilege ---------------------------------------------------------------------

bool CSimGigeFirmware::IsControllerLocked(const Request& r) const {
    return m_holder && m_holder->ip == r.fromIp && m_holder->port == r.fromPort;
}

bool CSimGigeFirmware::RefusedLocked(const Request& r) const {
    return m_holder && !IsControllerLocked(r);
}

void CSimGigeFirmware::Tick(Clock::time_point now) {
    std::lock_guard lock(m_mutex);
    const uint32_t timeout = m_registers[kRegHeartbeat];
    if (!m_holder || timeout == 0) return;
    if (now - m_lastHeartbeat >= std::chrono::milliseconds(timeout)) {
        m_holder.reset();
        ++m_expiries;
    }
}

std::optional<CSimGigeFirmware::Holder> CSimGigeFirmware::CcpHolder() {
    std::lock_guard lock(m_mutex);
    return m_holder;
}

unsigned CSimGigeFirmware::CcpExpiries() {
    std::lock_guard lock(m_mutex);
    return m_expiries;
}

// ---- Commands ------------------------------------------------------------------------------

CSimGigeFirmware::Answer CSimGigeFirmware::Execute(const Request& r, Clock::time_point now) {
    std::unique_lock lock(m_mutex);
    // Every message of the controlling application keeps its privilege alive.
    if (IsControllerLocked(r)) m_lastHeartbeat = now;
    lock.unlock();
    switch (r.command) {
        case kReadReg:
            return ReadRegisters(r);
        case kWriteReg:
            return WriteRegisters(r, now);
        case kReadMem:
            return ReadMemory(r);
        case kWriteMem:
            return WriteMemory(r, now);
        default:
            if (r.command >= 0x8000) return Vendor(r);
            return Status(kGevStatusNotImplemented, static_cast<uint16_t>(r.command + 1));
    }
}

uint32_t CSimGigeFirmware::ReadRegisterLocked(uint32_t address) {
    switch (address) {
        case kRegCcp:
            return m_holder ? 2u : 0u;
        case kRegScsp:
            return m_sourcePort;
        default: {
            const auto it = m_registers.find(address);
            return it != m_registers.end() ? it->second : 0;
        }
    }
}

CSimGigeFirmware::Answer CSimGigeFirmware::ReadRegisters(const Request& r) {
    if (r.payload.empty() || r.payload.size() % 4 != 0)
        return Status(kGevStatusInvalidParameter, kReadReg + 1);
    std::lock_guard lock(m_mutex);
    Answer a;
    a.ackCode = kReadReg + 1;
    for (size_t i = 0; i + 4 <= r.payload.size(); i += 4)
        Put32(a.payload, ReadRegisterLocked(Be32(&r.payload[i])));
    return a;
}

bool CSimGigeFirmware::WriteRegisterLocked(uint32_t address, uint32_t value, const Request& r,
                                           Clock::time_point now) {
    switch (address) {
        case kRegCcp:
            if (value & 2) {
                m_holder = Holder{r.fromIp, r.fromPort};
                m_lastHeartbeat = now;
            } else {
                m_holder.reset();
            }
            return true;
        case kRegScsp:
        case kRegStreamCap:
        case kRegCapability:
            return false;  // read-only
        case kRegScps:
            m_registers[address] = value & 0xFFFF;
            if (value & 0x80000000u)
                m_testPacket = TestPacket{value & 0xFFFF, (value & 0x40000000u) != 0};
            return true;
        case kRegAcqStart:
            m_acquisition = true;
            return true;
        case kRegAcqStop:
            m_acquisition = false;
            return true;
        default:
            m_registers[address] = value;
            return true;
    }
}

CSimGigeFirmware::Answer CSimGigeFirmware::WriteRegisters(const Request& r, Clock::time_point now) {
    if (r.payload.empty() || r.payload.size() % 8 != 0)
        return Status(kGevStatusInvalidParameter, kWriteReg + 1);
    std::lock_guard lock(m_mutex);
    if (RefusedLocked(r)) return Status(kGevStatusAccessDenied, kWriteReg + 1);
    uint16_t written = 0;
    for (size_t i = 0; i + 8 <= r.payload.size(); i += 8) {
        if (!WriteRegisterLocked(Be32(&r.payload[i]), Be32(&r.payload[i + 4]), r, now)) {
            Answer a = Status(kGevStatusInvalidAddress, kWriteReg + 1);
            Put16(a.payload, 0);
            Put16(a.payload, written);
            return a;
        }
        ++written;
    }
    Answer a;
    a.ackCode = kWriteReg + 1;
    Put16(a.payload, 0);
    Put16(a.payload, written);
    return a;
}

CSimGigeFirmware::Answer CSimGigeFirmware::ReadMemory(const Request& r) {
    if (r.payload.size() != 8) return Status(kGevStatusInvalidParameter, kReadMem + 1);
    const uint32_t address = Be32(&r.payload[0]);
    const uint16_t count = Be16(&r.payload[6]);
    if (count == 0 || count > 536 || count % 4 != 0)
        return Status(kGevStatusInvalidParameter, kReadMem + 1);
    std::lock_guard lock(m_mutex);
    Answer a;
    a.ackCode = kReadMem + 1;
    Put32(a.payload, address);
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t at = address + i;
        uint8_t byte = 0;
        if (at >= kMemVersion && at < kMemVersion + kMemVersionSize) {
            const size_t k = at - kMemVersion;
            byte = k < m_config.hardwareVersion.size()
                       ? static_cast<uint8_t>(m_config.hardwareVersion[k])
                       : 0;
        } else {
            byte = static_cast<uint8_t>(ReadRegisterLocked(at & ~3u) >> (8 * (3 - at % 4)));
        }
        a.payload.push_back(byte);
    }
    return a;
}

// Whole words at a word address, each written as a register would be; the hardware version text
// is read-only. The answer carries the number of bytes written.
CSimGigeFirmware::Answer CSimGigeFirmware::WriteMemory(const Request& r, Clock::time_point now) {
    if (r.payload.size() < 8 || r.payload.size() > 540 || r.payload.size() % 4 != 0)
        return Status(kGevStatusInvalidParameter, kWriteMem + 1);
    const uint32_t address = Be32(&r.payload[0]);
    const uint32_t count = static_cast<uint32_t>(r.payload.size() - 4);
    if (address % 4 != 0) return Status(kGevStatusInvalidParameter, kWriteMem + 1);
    std::lock_guard lock(m_mutex);
    if (RefusedLocked(r)) return Status(kGevStatusAccessDenied, kWriteMem + 1);
    if (address < kMemVersion + kMemVersionSize && kMemVersion < address + count)
        return Status(kGevStatusInvalidAddress, kWriteMem + 1);
    uint16_t written = 0;
    for (uint32_t i = 0; i < count; i += 4) {
        if (!WriteRegisterLocked(address + i, Be32(&r.payload[4 + i]), r, now)) {
            Answer a = Status(kGevStatusInvalidAddress, kWriteMem + 1);
            Put16(a.payload, 0);
            Put16(a.payload, written);
            return a;
        }
        written = static_cast<uint16_t>(written + 4);
    }
    Answer a;
    a.ackCode = kWriteMem + 1;
    Put16(a.payload, 0);
    Put16(a.payload, written);
    return a;
}

CSimGigeFirmware::Answer CSimGigeFirmware::Vendor(const Request& r) {
    const std::vector<uint8_t>& p = r.payload;
    const uint16_t code = r.command;
    std::lock_guard lock(m_mutex);
    if (RefusedLocked(r)) return Status(kGevStatusAccessDenied, code);
    Answer a;
    a.ackCode = code;
    auto bad = [&] { return Status(kGevStatusInvalidParameter, code); };
    switch (code) {
        case 0x8000:  // reboot: answered, then the camera starts over
            ++m_counters.reboots;
            return a;
        case 0x8001: {  // erase: address, option (0 and 1: the 4 KiB sector at the address)
            if (p.size() != 8) return bad();
            const uint32_t address = Be32(&p[0]);
            const uint32_t count = std::max<uint32_t>(1, Be32(&p[4]) & 0xFF);
            for (uint32_t s = 0; s < count; ++s) {
                const uint64_t start = (address & ~(kSectorSize - 1)) + uint64_t{s} * kSectorSize;
                if (start + kSectorSize > m_flash.size()) return bad();
                std::fill_n(m_flash.begin() + static_cast<std::ptrdiff_t>(start), kSectorSize,
                            0xFF);
                m_erased.push_back(static_cast<uint32_t>(start));
            }
            return a;
        }
        case 0x8002: {  // write: address, n, data; NOR cells only clear bits
            if (p.size() < 8) return bad();
            const uint32_t address = Be32(&p[0]);
            const uint32_t n = Be32(&p[4]);
            if (n > 532 || p.size() != 8 + n || uint64_t{address} + n > m_flash.size())
                return bad();
            for (uint32_t i = 0; i < n; ++i) m_flash[address + i] &= p[8 + i];
            return a;
        }
        case 0x8003: {  // read: address, n
            if (p.size() != 8) return bad();
            const uint32_t address = Be32(&p[0]);
            const uint32_t n = Be32(&p[4]);
            if (n == 0 || n > 540 || uint64_t{address} + n > m_flash.size()) return bad();
            a.payload.assign(m_flash.begin() + address, m_flash.begin() + address + n);
            return a;
        }
        case 0x8006:  // sensor bus: 0, address, widths
            if (p.size() != 3) return bad();
            m_busAddress = p[1];
            m_busWidths = p[2];
            return a;
        case 0x8007: {
            if (p.size() >= 2 && p[0] == 0 && p[1] == 0) {  // 0, 0, (reg16, value16)...
                if ((p.size() - 2) % 4 != 0 || p.size() == 2) return bad();
                for (size_t i = 2; i + 4 <= p.size(); i += 4) {
                    const uint16_t reg = Be16(&p[i]);
                    const uint16_t value = Be16(&p[i + 2]);
                    if (reg == 0xFFFF)
                        a.delayMs += value;
                    else
                        m_sensor[uint32_t{m_busAddress} << 16 | reg] = value;
                }
                return a;
            }
            // Raw I2C write: address, n, n bytes (kept as registers 0.. of that chip).
            if (p.size() < 2 || p.size() != 2u + p[1]) return bad();
            for (uint8_t i = 0; i < p[1]; ++i) m_sensor[uint32_t{p[0]} << 16 | i] = p[2 + i];
            return a;
        }
        case 0x8008: {  // 0, 0, reg16
            if (p.size() != 4) return bad();
            const auto it = m_sensor.find(uint32_t{m_busAddress} << 16 | Be16(&p[2]));
            Put16(a.payload, it != m_sensor.end() ? it->second : 0);
            return a;
        }
        case 0x800C: {  // address, n
            if (p.size() != 2) return bad();
            for (uint8_t i = 0; i < p[1]; ++i) {
                const auto it = m_sensor.find(uint32_t{p[0]} << 16 | i);
                a.payload.push_back(it != m_sensor.end() ? static_cast<uint8_t>(it->second) : 0);
            }
            return a;
        }
        case 0x800D:
            if (p.size() != 2) return bad();
            m_gpioMode[p[0]] = p[1];
            return a;
        case 0x800E:
            if (p.size() != 2) return bad();
            m_gpio[p[0]] = p[1];
            return a;
        case 0x800F: {
            if (p.size() != 1) return bad();
            const auto in = m_inputLevel.find(p[0]);
            const auto out = m_gpio.find(p[0]);
            a.payload.push_back(in != m_inputLevel.end() ? in->second
                                : out != m_gpio.end()    ? out->second
                                                         : 0);
            return a;
        }
        case 0x8010:  // (reg32, value32)...
            if (p.empty() || p.size() % 8 != 0) return bad();
            for (size_t i = 0; i + 8 <= p.size(); i += 8) {
                const uint32_t reg = Be32(&p[i]);
                const uint32_t value = Be32(&p[i + 4]);
                if (reg == 0xFFFFFFFFu)
                    a.delayMs += value;
                else
                    m_fpga[reg] = value;
            }
            return a;
        case 0x8011: {
            if (p.size() != 4) return bad();
            const auto it = m_fpga.find(Be32(&p[0]));
            Put32(a.payload, it != m_fpga.end() ? it->second : 0);
            return a;
        }
        case 0x8012: {
            if (p.size() != 12) return bad();
            const uint32_t reg = Be32(&p[0]);
            const uint32_t mask = Be32(&p[4]);
            uint32_t& cell = m_fpga[reg];
            cell = (cell & ~mask) | (Be32(&p[8]) & mask);
            return a;
        }
        case 0x8013:
            ++m_counters.softTriggers;
            return a;
        case 0x8014:
            if (p.size() != 8) return bad();
            m_counters.lastPll = p;
            return a;
        case 0x8015:
            ++m_counters.timestampResets;
            return a;
        case 0x8016:
            if (p.size() > 1) return bad();
            ++m_counters.transferRequests;
            if (p.size() == 1) m_counters.lastTransferValue = p[0];
            return a;
        case 0x801B:
            if (p.size() != 4) return bad();
            m_counters.vendorValue = Be32(&p[0]);
            return a;
        case 0x801C:
            ++m_counters.vendorActions;
            return a;
        case 0x8F01:
            m_counters.testBlocks = 0;
            return a;
        case 0x8F02:
            if (p.size() != 540 ||
                std::any_of(p.begin(), p.end(), [](uint8_t b) { return b != 0x5A; }))
                return bad();
            ++m_counters.testBlocks;
            return a;
        case 0x8F03:
            Put32(a.payload, m_testCountOverride.value_or(m_counters.testBlocks));
            return a;
        default:
            return Status(kGevStatusNotImplemented, code);
    }
}

// ---- FORCEIP ------------------------------------------------------------------------------

CSimGigeFirmware::ForceIpResult CSimGigeFirmware::ForceIp(const std::vector<uint8_t>& p) {
    ForceIpResult r;
    std::lock_guard lock(m_mutex);
    SimGigeIdentity& id = m_config.identity;
    if (p.size() != 56 || std::memcmp(&p[2], id.mac.data(), 6) != 0) return r;
    r.forThisCamera = true;
    r.oldIp = id.ip;
    r.oldMask = id.mask;
    uint32_t ip, mask, gw;
    std::memcpy(&ip, &p[20], 4);
    std::memcpy(&mask, &p[36], 4);
    std::memcpy(&gw, &p[52], 4);
    auto text = [](uint32_t a) {
        char t[INET_ADDRSTRLEN] = "0.0.0.0";
        inet_ntop(AF_INET, &a, t, sizeof t);
        return std::string(t);
    };
    if (ip == 0) {
        id.ip = m_startup.ip;
        id.mask = m_startup.mask;
        id.gateway = m_startup.gateway;
        id.persistentIp = false;
    } else {
        id.ip = text(ip);
        id.mask = text(mask);
        id.gateway = text(gw);
        id.persistentIp = true;
    }
    r.newIp = id.ip;
    r.newMask = id.mask;
    return r;
}

// ---- Discovery and identity ----------------------------------------------------------------

std::vector<uint8_t> CSimGigeFirmware::DiscoveryAnswer() {
    std::lock_guard lock(m_mutex);
    const SimGigeIdentity& id = m_config.identity;
    std::vector<uint8_t> d(248, 0);
    d[0] = static_cast<uint8_t>(id.specMajor >> 8);
    d[1] = static_cast<uint8_t>(id.specMajor);
    d[2] = static_cast<uint8_t>(id.specMinor >> 8);
    d[3] = static_cast<uint8_t>(id.specMinor);
    std::memcpy(&d[10], id.mac.data(), 6);
    d[19] = 0x07;  // options: persistent, DHCP, LLA
    d[23] = id.persistentIp ? 1 : 4;
    const uint32_t ip = Ip(id.ip), mask = Ip(id.mask), gw = Ip(id.gateway);
    std::memcpy(&d[36], &ip, 4);
    std::memcpy(&d[52], &mask, 4);
    std::memcpy(&d[68], &gw, 4);
    PutText(&d[72], 32, id.manufacturer);
    PutText(&d[104], 32, id.model);
    PutText(&d[136], 32, id.deviceVersion);
    d[169] = id.linkState;
    d[170] = m_holder ? 0x02 : 0x00;
    d[171] = id.runState;
    PutText(&d[172], 16, id.productSeries);
    for (int i = 0; i < 4; ++i) d[188 + i] = static_cast<uint8_t>(id.sensorType >> (24 - 8 * i));
    d[192] = static_cast<uint8_t>(id.deviceId >> 8);
    d[193] = static_cast<uint8_t>(id.deviceId);
    d[194] = static_cast<uint8_t>(id.firmwareWord1 >> 8);
    d[195] = static_cast<uint8_t>(id.firmwareWord1);
    d[196] = static_cast<uint8_t>(id.firmwareWord2 >> 8);
    d[197] = static_cast<uint8_t>(id.firmwareWord2);
    PutText(&d[216], 16, id.serial);
    PutText(&d[232], 16, id.userName);
    return d;
}

SimGigeIdentity CSimGigeFirmware::Identity() {
    std::lock_guard lock(m_mutex);
    return m_config.identity;
}

void CSimGigeFirmware::SetIdentity(const SimGigeIdentity& identity) {
    std::lock_guard lock(m_mutex);
    m_config.identity = identity;
}

uint32_t CSimGigeFirmware::CurrentIp() {
    std::lock_guard lock(m_mutex);
    return Ip(m_config.identity.ip);
}

uint32_t CSimGigeFirmware::CurrentMask() {
    std::lock_guard lock(m_mutex);
    return Ip(m_config.identity.mask);
}

// ---- Accessors -----------------------------------------------------------------------------

uint32_t CSimGigeFirmware::Register(uint32_t address) {
    std::lock_guard lock(m_mutex);
    return ReadRegisterLocked(address);
}

void CSimGigeFirmware::SetRegister(uint32_t address, uint32_t value) {
    std::lock_guard lock(m_mutex);
    m_registers[address] = value;
}

uint32_t CSimGigeFirmware::FpgaRegister(uint32_t reg) {
    std::lock_guard lock(m_mutex);
    const auto it = m_fpga.find(reg);
    return it != m_fpga.end() ? it->second : 0;
}

void CSimGigeFirmware::SetFpgaRegister(uint32_t reg, uint32_t value) {
    std::lock_guard lock(m_mutex);
    m_fpga[reg] = value;
}

uint16_t CSimGigeFirmware::SensorRegister(uint8_t busAddress, uint16_t reg) {
    std::lock_guard lock(m_mutex);
    const auto it = m_sensor.find(uint32_t{busAddress} << 16 | reg);
    return it != m_sensor.end() ? it->second : 0;
}

uint8_t CSimGigeFirmware::SensorBusAddress() {
    std::lock_guard lock(m_mutex);
    return m_busAddress;
}

uint8_t CSimGigeFirmware::SensorBusWidths() {
    std::lock_guard lock(m_mutex);
    return m_busWidths;
}

std::vector<uint8_t> CSimGigeFirmware::FlashBytes(uint32_t address, size_t len) {
    std::lock_guard lock(m_mutex);
    if (uint64_t{address} + len > m_flash.size()) return {};
    return {m_flash.begin() + address,
            m_flash.begin() + static_cast<std::ptrdiff_t>(address + len)};
}

void CSimGigeFirmware::WriteFlashBytes(uint32_t address, std::span<const uint8_t> data) {
    std::lock_guard lock(m_mutex);
    if (uint64_t{address} + data.size() > m_flash.size()) return;
    std::copy(data.begin(), data.end(), m_flash.begin() + address);
}

std::vector<uint32_t> CSimGigeFirmware::ErasedSectors() {
    std::lock_guard lock(m_mutex);
    return m_erased;
}

uint8_t CSimGigeFirmware::Gpio(uint8_t pin) {
    std::lock_guard lock(m_mutex);
    const auto it = m_gpio.find(pin);
    return it != m_gpio.end() ? it->second : 0;
}

uint8_t CSimGigeFirmware::GpioMode(uint8_t pin) {
    std::lock_guard lock(m_mutex);
    const auto it = m_gpioMode.find(pin);
    return it != m_gpioMode.end() ? it->second : 0;
}

void CSimGigeFirmware::SetInputLevel(uint8_t pin, uint8_t level) {
    std::lock_guard lock(m_mutex);
    m_inputLevel[pin] = level;
}

CSimGigeFirmware::Counters CSimGigeFirmware::GetCounters() {
    std::lock_guard lock(m_mutex);
    return m_counters;
}

void CSimGigeFirmware::SetTransferTestCountOverride(std::optional<uint32_t> count) {
    std::lock_guard lock(m_mutex);
    m_testCountOverride = count;
}

std::optional<CSimGigeFirmware::TestPacket> CSimGigeFirmware::TakeTestPacket() {
    std::lock_guard lock(m_mutex);
    std::optional<TestPacket> t;
    t.swap(m_testPacket);
    return t;
}

uint16_t CSimGigeFirmware::StreamHostPort() {
    std::lock_guard lock(m_mutex);
    return static_cast<uint16_t>(ReadRegisterLocked(kRegScp));
}

uint32_t CSimGigeFirmware::StreamDestination() {
    std::lock_guard lock(m_mutex);
    return htonl(ReadRegisterLocked(kRegScda));
}

uint32_t CSimGigeFirmware::StreamPacketSize() {
    std::lock_guard lock(m_mutex);
    return ReadRegisterLocked(kRegScps) & 0xFFFF;
}

uint32_t CSimGigeFirmware::StreamPacketDelay() {
    std::lock_guard lock(m_mutex);
    return ReadRegisterLocked(kRegScpd);
}

bool CSimGigeFirmware::AcquisitionRunning() {
    std::lock_guard lock(m_mutex);
    return m_acquisition;
}

void CSimGigeFirmware::SetStreamSourcePort(uint16_t port) {
    std::lock_guard lock(m_mutex);
    m_sourcePort = port;
}

}  // namespace qvsim
