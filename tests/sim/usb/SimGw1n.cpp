#include "SimGw1n.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint8_t kConfigPort = 0xE3;
constexpr uint32_t kStatusDone = 1u << 13;
// The first word of a GW1N flash image, as the part stores it ("N1WG" read as bytes).
constexpr uint8_t kImageHeader[] = {0x4E, 0x31, 0x57, 0x47};

SimControlResult Reply(uint8_t* data, uint8_t status) {
    data[0] = status;
    return {SimControlOutcome::kOk, 1};
}

}  // namespace

CSimGw1n::CSimGw1n(CSimUsbCamera& camera, const SimGw1nConfig& config)
    : m_config(config), m_done(config.done) {
    camera.SetRequestHandler(
        kConfigPort, [this](const SimControlSetup& s, uint8_t* d) { return OnRequest(s, d); });
}

std::optional<SimControlResult> CSimGw1n::OnRequest(const SimControlSetup& s, uint8_t* data) {
    std::lock_guard lock(m_mutex);
    const bool statusRequest = s.index == 160 || s.index == 161 || s.index == 162 || s.index == 164;
    if (statusRequest && (!s.In() || s.length < 1))
        return SimControlResult{SimControlOutcome::kStall, 0};
    switch (s.index) {
        case 160:
            if (m_refuseOpen) return Reply(data, 1);
            m_portOpen = true;
            return Reply(data, 0);
        case 161:
            m_portOpen = false;
            return Reply(data, 0);
        case 162:
            if (!m_portOpen) return Reply(data, 1);
            Instruction(static_cast<uint8_t>(s.value & 0xFF), static_cast<uint8_t>(s.value >> 8));
            return Reply(data, 0);
        case 164:
            return Reply(data, m_portOpen && !m_failCheck ? 0 : 1);
        case 163:
            break;
        default:
            return SimControlResult{SimControlOutcome::kStall, 0};
    }
    if (s.In()) {
        std::memset(data, 0, s.length);
        if (m_lastInstruction == 0x41) {
            const uint32_t word = StatusWord();
            for (size_t i = 0; i < std::min<size_t>(4, s.length); ++i)
                data[i] = static_cast<uint8_t>(word >> (8 * i));
        }
        return SimControlResult{SimControlOutcome::kOk, s.length};
    }
    const uint8_t parameter = static_cast<uint8_t>(s.value >> 8);
    if (m_portOpen && m_writeArmed && parameter == 200 && s.length == 4) {
        m_address = static_cast<uint32_t>(data[0] | data[1] << 8 | data[2] << 16) |
                    static_cast<uint32_t>(data[3]) << 24;
    } else if (m_portOpen && m_writeArmed && parameter == 26 && s.length == kPageBytes &&
               m_address) {
        m_pages[*m_address] = std::vector<uint8_t>(data, data + s.length);
        m_address.reset();
    }
    return SimControlResult{SimControlOutcome::kOk, s.length};
}

void CSimGw1n::Instruction(uint8_t code, uint8_t parameter) {
    m_instructions.emplace_back(code, parameter);
    m_lastInstruction = code;
    switch (code) {
        case 0x05:  // SRAM erase: the running configuration stops
            if (!m_doneStuck) m_done = false;
            m_reloadLeft.reset();
            break;
        case 0x75:  // flash erase
            m_pages.clear();
            ++m_flashErases;
            break;
        case 0x71:  // flash write: address and pages follow
            m_writeArmed = true;
            break;
        case 0x3C: {  // reload from flash
            auto first = m_pages.find(0);
            const bool image =
                first != m_pages.end() &&
                std::equal(std::begin(kImageHeader), std::end(kImageHeader), first->second.begin());
            if (!m_doneStuck) m_done = false;
            if (image && !m_doneNeverRises) m_reloadLeft = m_config.reloadReads;
            break;
        }
        default:
            break;
    }
}

uint32_t CSimGw1n::StatusWord() {
    if (m_reloadLeft) {
        if (*m_reloadLeft == 0) {
            m_done = true;
            m_reloadLeft.reset();
        } else {
            --*m_reloadLeft;
        }
    }
    return m_done ? kStatusDone : 0;
}

std::map<uint32_t, std::vector<uint8_t>> CSimGw1n::Pages() const {
    std::lock_guard lock(m_mutex);
    return m_pages;
}

std::vector<uint8_t> CSimGw1n::Flash() const {
    std::lock_guard lock(m_mutex);
    size_t end = 0;
    for (const auto& [address, page] : m_pages)
        end = std::max<size_t>(end, 4 * size_t{address} + page.size());
    std::vector<uint8_t> flash(end, 0xFF);
    for (const auto& [address, page] : m_pages)
        std::copy(page.begin(), page.end(), flash.begin() + 4 * static_cast<ptrdiff_t>(address));
    return flash;
}

std::vector<std::pair<uint8_t, uint8_t>> CSimGw1n::Instructions() const {
    std::lock_guard lock(m_mutex);
    return m_instructions;
}

bool CSimGw1n::Done() const {
    std::lock_guard lock(m_mutex);
    return m_done;
}

bool CSimGw1n::PortOpen() const {
    std::lock_guard lock(m_mutex);
    return m_portOpen;
}

int CSimGw1n::FlashErases() const {
    std::lock_guard lock(m_mutex);
    return m_flashErases;
}

void CSimGw1n::SetRefuseOpen(bool on) {
    std::lock_guard lock(m_mutex);
    m_refuseOpen = on;
}

void CSimGw1n::SetFailCheck(bool on) {
    std::lock_guard lock(m_mutex);
    m_failCheck = on;
}

void CSimGw1n::SetDoneNeverRises(bool on) {
    std::lock_guard lock(m_mutex);
    m_doneNeverRises = on;
}

void CSimGw1n::SetDoneStuck(bool on) {
    std::lock_guard lock(m_mutex);
    m_doneStuck = on;
}
