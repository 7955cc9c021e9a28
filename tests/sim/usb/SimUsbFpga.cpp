#include "SimUsbFpga.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr uint8_t kGpioRead = 0xE1;
constexpr uint8_t kConfigPort = 0xE3;
constexpr uint8_t kConfigData = 0xE4;
constexpr uint8_t kFlashCommand = 0xBC;
constexpr uint8_t kFpgaWrite = 0xD6;
constexpr uint16_t kVersionReg = 129;
constexpr uint16_t kPllStatusReg = 131;
constexpr size_t kHeader = 64;
constexpr size_t kFlashImageArea = 1u << 20;

// Instruction-port codes and status of the type 108 FPGA.
constexpr uint8_t kReadId = 0x11;
constexpr uint8_t kReadStatus = 0x41;
constexpr uint8_t kConfigEnable = 0x15;
constexpr uint8_t kEraseSram = 0x05;
constexpr uint8_t kInitAddress = 0x12;
constexpr uint8_t kWriteSram = 0x17;
constexpr uint8_t kConfigDisable = 0x3A;
constexpr uint32_t kStatusDone = 0x2000;
constexpr uint32_t kIdCode = 0x0900281B;

uint32_t U32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16) | static_cast<uint32_t>(p[3]) << 24;
}

std::string Text(const uint8_t* p, size_t n) {
    return std::string(reinterpret_cast<const char*>(p),
                       strnlen(reinterpret_cast<const char*>(p), n));
}

SimControlResult Ok(uint16_t n) {
    return {SimControlOutcome::kOk, n};
}

SimControlResult Stall() {
    return {SimControlOutcome::kStall, 0};
}

}  // namespace

CSimUsbFpga::CSimUsbFpga(CSimUsbCamera& camera, const SimUsbFpgaConfig& config)
    : m_camera(camera), m_config(config) {
    // Power-up contents of the PLL's reconfiguration registers: arbitrary but fixed.
    uint32_t x = 0x9E3779B9u;
    for (uint16_t& v : m_drp) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        v = static_cast<uint16_t>(x);
    }
    m_camera.SetGpioObserver(
        [this](uint8_t pin, uint8_t mode, uint8_t level) { OnPin(pin, mode, level); });
    m_camera.SetRequestHandler(
        kGpioRead, [this](const SimControlSetup& s, uint8_t* d) { return OnGpioRead(s, d); });
    m_camera.SetRequestHandler(
        kConfigPort, [this](const SimControlSetup& s, uint8_t* d) { return OnConfigPort(s, d); });
    m_camera.SetRequestHandler(
        kConfigData, [this](const SimControlSetup& s, uint8_t* d) { return OnConfigData(s, d); });
    m_camera.SetRequestHandler(kFlashCommand, [this](const SimControlSetup& s, uint8_t* d) {
        return OnFlashCommand(s, d);
    });
    m_camera.SetRequestHandler(
        kFpgaWrite, [this](const SimControlSetup& s, uint8_t* d) { return OnFpgaWrite(s, d); });
    SetUnconfigured();
}

std::optional<SimFpgaImage> CSimUsbFpga::Parse(const std::vector<uint8_t>& b) {
    if (b.size() < kHeader || std::memcmp(b.data(), "QVFPGAPH", 8) != 0) return std::nullopt;
    const size_t length = U32(&b[8]);
    if (length < kHeader || length > b.size()) return std::nullopt;
    const uint32_t crc = static_cast<uint32_t>(
        crc32(crc32(0L, Z_NULL, 0), &b[kHeader], static_cast<uInt>(length - kHeader)));
    if (crc != U32(&b[12])) return std::nullopt;
    if (!std::all_of(b.begin() + static_cast<ptrdiff_t>(length), b.end(),
                     [](uint8_t v) { return v == 0; }))
        return std::nullopt;
    SimFpgaImage image;
    image.hardwareType = static_cast<uint16_t>(b[16] | b[17] << 8);
    image.kind = b[18];
    image.sensors = Text(&b[20], 20);
    image.file = Text(&b[40], 24);
    image.length = length;
    return image;
}

// ---- state ----------------------------------------------------------------------------------

void CSimUsbFpga::SetRunning(uint16_t version) {
    m_camera.SetFpgaReg(kVersionReg, version);
    m_camera.SetGpioInput(m_config.donePin, 1);
    if (m_config.initPin >= 0) m_camera.SetGpioInput(static_cast<uint8_t>(m_config.initPin), 1);
    std::lock_guard lock(m_mutex);
    m_running = true;
}

void CSimUsbFpga::SetUnconfigured() {
    m_camera.SetFpgaReg(kVersionReg, 0);
    m_camera.SetGpioInput(m_config.donePin, 0);
    if (m_config.initPin >= 0) m_camera.SetGpioInput(static_cast<uint8_t>(m_config.initPin), 1);
    std::lock_guard lock(m_mutex);
    m_running = false;
}

bool CSimUsbFpga::Running() const {
    std::lock_guard lock(m_mutex);
    return m_running;
}

std::vector<SimFpgaImage> CSimUsbFpga::Loaded() const {
    std::lock_guard lock(m_mutex);
    return m_loaded;
}

std::vector<uint8_t> CSimUsbFpga::Received() const {
    std::lock_guard lock(m_mutex);
    return m_received;
}

int CSimUsbFpga::ProgPulses() const {
    std::lock_guard lock(m_mutex);
    return m_progPulses;
}

int CSimUsbFpga::InitReads() const {
    std::lock_guard lock(m_mutex);
    return m_initReads;
}

std::vector<uint16_t> CSimUsbFpga::FlashCommands() const {
    std::lock_guard lock(m_mutex);
    return m_flashCommands;
}

std::vector<uint8_t> CSimUsbFpga::Instructions() const {
    std::lock_guard lock(m_mutex);
    return m_instructions;
}

void CSimUsbFpga::SetInitNeverRises(bool on) {
    std::lock_guard lock(m_mutex);
    m_initNeverRises = on;
}

void CSimUsbFpga::SetRejectImages(bool on) {
    std::lock_guard lock(m_mutex);
    m_reject = on;
}

void CSimUsbFpga::SetDoneNeverRises(bool on) {
    std::lock_guard lock(m_mutex);
    m_doneStuck = on;
}

std::array<uint16_t, CSimUsbFpga::kDrpSize> CSimUsbFpga::Drp() const {
    std::lock_guard lock(m_mutex);
    return m_drp;
}

void CSimUsbFpga::SetDrp(const std::array<uint16_t, kDrpSize>& values) {
    std::lock_guard lock(m_mutex);
    m_drp = values;
}

std::vector<std::pair<uint8_t, uint16_t>> CSimUsbFpga::DrpWrites() const {
    std::lock_guard lock(m_mutex);
    return m_drpWrites;
}

void CSimUsbFpga::SetPllNeverLocks(bool on) {
    std::lock_guard lock(m_mutex);
    m_pllNeverLocks = on;
}

void CSimUsbFpga::DropDrpWrites(int n) {
    std::lock_guard lock(m_mutex);
    m_dropWrites = n;
}

int CSimUsbFpga::PllReleases() const {
    std::lock_guard lock(m_mutex);
    return m_pllReleases;
}

// ---- the FPGA -------------------------------------------------------------------------------
// The hooks below run with the camera's mutex held; they take this model's mutex after it.

void CSimUsbFpga::Clear() {
    m_running = false;
    m_portOpen = false;
    m_received.clear();
    m_camera.SetFpgaReg(kVersionReg, 0);
    m_camera.SetGpioInput(m_config.donePin, 0);
    if (m_config.initPin >= 0) m_camera.SetGpioInput(static_cast<uint8_t>(m_config.initPin), 0);
}

void CSimUsbFpga::Start(const SimFpgaImage& image) {
    m_running = true;
    m_loaded.push_back(image);
    m_camera.SetFpgaReg(kVersionReg, m_config.configuredVersion);
    m_camera.SetGpioInput(m_config.donePin, 1);
}

void CSimUsbFpga::OnPin(uint8_t pin, uint8_t mode, uint8_t level) {
    std::lock_guard lock(m_mutex);
    if (pin != m_config.progPin || m_config.instructionPort) return;
    // PROG has a pull-up: as an input it reads high.
    const bool low = mode == 0 && level == 0;
    if (low && !m_progLow) {
        m_progLow = true;
        Clear();
        return;
    }
    if (low || !m_progLow) return;
    m_progLow = false;
    ++m_progPulses;
    const bool fromFlash = m_config.bootSelectPin >= 0 &&
                           m_camera.GpioMode(static_cast<uint8_t>(m_config.bootSelectPin)) == 0 &&
                           m_camera.GpioOutput(static_cast<uint8_t>(m_config.bootSelectPin)) == 0;
    if (fromFlash) {
        // The flash holds the image and erased bytes after it.
        std::vector<uint8_t> flash = m_camera.ReadStorage(0, kFlashImageArea);
        if (flash.size() >= kHeader) flash.resize(std::min<size_t>(flash.size(), U32(&flash[8])));
        const std::optional<SimFpgaImage> image = Parse(flash);
        if (image && !m_reject && !m_doneStuck) Start(*image);
        return;
    }
    m_initLeft = m_config.initDelayReads;
}

std::optional<SimControlResult> CSimUsbFpga::OnGpioRead(const SimControlSetup& s, uint8_t*) {
    std::lock_guard lock(m_mutex);
    const int pin = s.value & 0xFF;
    if (pin == m_config.initPin && !m_running && !m_progLow) {
        ++m_initReads;
        // INIT is held low while the FPGA clears its memory after the PROG pulse.
        if (m_initLeft > 0) --m_initLeft;
        if (m_initLeft == 0 && !m_initNeverRises && m_received.empty())
            m_camera.SetGpioInput(static_cast<uint8_t>(pin), 1);
    }
    return std::nullopt;
}

std::optional<SimControlResult> CSimUsbFpga::OnConfigPort(const SimControlSetup& s, uint8_t* data) {
    std::lock_guard lock(m_mutex);
    if (!s.In() || s.length < 1) return std::nullopt;
    switch (s.index) {
        case 160:
            if (!m_config.instructionPort) m_portOpen = true;
            data[0] = 0;
            return Ok(1);
        case 161:
            m_portOpen = false;
            data[0] = 0;
            return Ok(1);
        case 162:
            if (!m_config.instructionPort || (s.value >> 8) != 5) return Stall();
            Instruction(static_cast<uint8_t>(s.value & 0xFF));
            data[0] = 0;
            return Ok(1);
        case 163: {
            if (!m_config.instructionPort) return std::nullopt;
            uint32_t v = 0;
            if (m_lastInstruction == kReadId) v = kIdCode;
            if (m_lastInstruction == kReadStatus) v = m_running ? kStatusDone : 0;
            std::memset(data, 0, s.length);
            for (size_t i = 0; i < std::min<size_t>(4, s.length); ++i)
                data[i] = static_cast<uint8_t>(v >> (8 * i));
            return Ok(s.length);
        }
        default:
            return std::nullopt;
    }
}

void CSimUsbFpga::Instruction(uint8_t code) {
    m_instructions.push_back(code);
    m_lastInstruction = code;
    switch (code) {
        case kConfigEnable:
            m_configMode = true;
            break;
        case kEraseSram:
            if (m_configMode) {
                m_running = false;
                m_camera.SetFpgaReg(kVersionReg, 0);
            }
            break;
        case kInitAddress:
            if (m_configMode) m_received.clear();
            break;
        case kWriteSram:
            m_writingSram = m_configMode;
            break;
        case kConfigDisable: {
            if (m_writingSram && !m_reject && !m_doneStuck) {
                if (std::optional<SimFpgaImage> image = Parse(m_received)) Start(*image);
            }
            m_configMode = false;
            m_writingSram = false;
            break;
        }
        default:
            break;
    }
}

std::optional<SimControlResult> CSimUsbFpga::OnConfigData(const SimControlSetup& s, uint8_t* data) {
    std::lock_guard lock(m_mutex);
    if (s.In() || s.length > 1024) return Stall();
    if (m_config.instructionPort) {
        if (!m_writingSram) return Stall();
        if (s.value & 1) m_received.clear();  // first piece
        m_received.insert(m_received.end(), data, data + s.length);
        return std::nullopt;  // the camera records the bytes too
    }
    // The configuration port takes data only between begin and end; clocks after DONE rose
    // (trailing zeros) are ignored by the FPGA.
    if (!m_portOpen) return Stall();
    m_received.insert(m_received.end(), data, data + s.length);
    if (!m_running) CheckData();
    return std::nullopt;
}

// After each piece: once a whole image arrived the FPGA checks it and starts (DONE high), or
// signals a CRC error (INIT low).
void CSimUsbFpga::CheckData() {
    if (m_doneStuck) return;
    // Not an image at all (no sync header): a configuration error as soon as it shows.
    const size_t seen = std::min<size_t>(m_received.size(), 8);
    if (std::memcmp(m_received.data(), "QVFPGAPH", seen) != 0) {
        if (m_config.initPin >= 0) m_camera.SetGpioInput(static_cast<uint8_t>(m_config.initPin), 0);
        return;
    }
    if (m_received.size() < kHeader) return;
    const size_t length = U32(&m_received[8]);
    if (length < kHeader || m_received.size() < length) return;
    std::optional<SimFpgaImage> image = Parse(m_received);
    if (image && !m_reject) {
        Start(*image);
    } else if (m_config.initPin >= 0) {
        m_camera.SetGpioInput(static_cast<uint8_t>(m_config.initPin), 0);
    }
}

std::optional<SimControlResult> CSimUsbFpga::OnFlashCommand(const SimControlSetup& s, uint8_t*) {
    std::lock_guard lock(m_mutex);
    if (s.In() || (s.index != 3 && s.index != 4 && s.index != 5)) return std::nullopt;
    m_flashCommands.push_back(s.index);
    // Command 4 opens the FPGA image area and erases it, so the writes that follow land on
    // erased NOR flash.
    if (s.index == 4) m_camera.WriteStorage(0, std::vector<uint8_t>(kFlashImageArea, 0xFF));
    return Ok(s.length);
}

// The PLL's reconfiguration port: register 7 the address (0 releases the PLL from reset), 8 the
// data to write, 6 the strobe (1 read into register 9, 2 write), 131 bit 0 the lock.
std::optional<SimControlResult> CSimUsbFpga::OnFpgaWrite(const SimControlSetup& s, uint8_t*) {
    std::lock_guard lock(m_mutex);
    if (s.index == 7) {
        if (s.value == 0) {
            ++m_pllReleases;
            m_camera.SetFpgaReg(kPllStatusReg, m_pllNeverLocks ? 0 : 1);
        } else {
            m_camera.SetFpgaReg(kPllStatusReg, 0);
        }
    } else if (s.index == 6 && (s.value == 1 || s.value == 2)) {
        const uint16_t reg7 = m_camera.FpgaReg(7);
        const size_t address = (reg7 >> 1) & (kDrpSize - 1);
        if (s.value == 1) {
            m_camera.SetFpgaReg(9, m_drp[address]);
        } else if (m_dropWrites > 0) {
            --m_dropWrites;
        } else {
            m_drp[address] = m_camera.FpgaReg(8);
            m_drpWrites.emplace_back(static_cast<uint8_t>(address), m_drp[address]);
        }
    }
    return std::nullopt;  // the register file keeps the value as usual
}
