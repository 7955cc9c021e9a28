#include "SimMachXO2.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint8_t kStatusDone = 0x01;
constexpr uint8_t kStatusConfigMode = 0x02;
constexpr uint8_t kStatusBusy = 0x10;
constexpr uint8_t kStatusFail = 0x20;

// The erase operand's array bits.
constexpr uint8_t kEraseConfig = 0x04;
constexpr uint8_t kEraseUfm = 0x08;

// The rows in address order (a row skipped reads as zeros).
std::vector<CSimMachXO2::Row> Present(const std::vector<std::optional<CSimMachXO2::Row>>& rows) {
    std::vector<CSimMachXO2::Row> out;
    for (const auto& r : rows) out.push_back(r.value_or(CSimMachXO2::Row{}));
    return out;
}

}  // namespace

CSimMachXO2::CSimMachXO2(CSimUsbCamera& camera, const SimMachXO2Config& config)
    : m_config(config),
      m_featureRow(config.featureRow),
      m_featureBits(config.featureBits),
      m_done(config.done) {
    camera.AttachI2cDevice(
        kBusAddress,
        {.onWrite = [this](const uint8_t* d, size_t n, uint16_t) { OnWrite(d, n); },
         .onRead = [this](uint8_t* out, size_t n, uint16_t) { return OnRead(out, n); }});
}

void CSimMachXO2::OnWrite(const uint8_t* d, size_t n) {
    std::lock_guard lock(m_mutex);
    m_replyStatus = false;
    m_reply.clear();
    if (n == 0) return;
    auto program = [&](std::vector<std::optional<Row>>& array) {
        if (n != 4 + 16 || !m_configMode) return;
        if (array.size() <= m_address) array.resize(m_address + 1);
        Row row;
        std::memcpy(row.data(), d + 4, row.size());
        array[m_address++] = row;
        Busy();
    };
    auto readBack = [&](const std::vector<std::optional<Row>>& array, bool corrupt) {
        Row row{};
        if (m_address < array.size() && array[m_address]) row = *array[m_address];
        if (corrupt && m_corruptRow == m_address) row[0] = static_cast<uint8_t>(~row[0]);
        ++m_address;
        m_reply.assign(row.begin(), row.end());
    };
    switch (d[0]) {
        case 0x74:  // enable configuration mode (offline)
        case 0xC6:  // enable configuration mode (transparent)
            m_configMode = true;
            break;
        case 0x26:  // disable configuration mode
            m_configMode = false;
            break;
        case 0xE7:  // read feature row
            m_reply.assign(m_featureRow.begin(), m_featureRow.end());
            break;
        case 0xFB:  // read feature bits
            m_reply.assign(m_featureBits.begin(), m_featureBits.end());
            break;
        case 0x3C:  // read status
            m_replyStatus = true;
            break;
        case 0x0E:  // erase
            if (!m_configMode || n < 2) break;
            if (d[1] & kEraseConfig) m_cfg.clear();
            if (d[1] & kEraseUfm) m_ufm.clear();
            m_done = false;
            ++m_erases;
            Busy();
            break;
        case 0x46:  // configuration address to 0
            m_ufmSelected = false;
            m_address = 0;
            break;
        case 0x47:  // UFM address to 0
            m_ufmSelected = true;
            m_address = 0;
            break;
        case 0x70:  // program a configuration row
            if (!m_ufmSelected) program(m_cfg);
            break;
        case 0xC9:  // program a UFM row
            if (m_ufmSelected) program(m_ufm);
            break;
        case 0x73:  // read a configuration row
            if (!m_ufmSelected) readBack(m_cfg, true);
            break;
        case 0xCA:  // read a UFM row
            if (m_ufmSelected) readBack(m_ufm, false);
            break;
        case 0x5E:  // program DONE
            if (m_configMode && !m_doneNeverSets) m_done = true;
            break;
        case 0xE4:  // program the feature row
            if (m_configMode && n == 4 + 8) {
                std::memcpy(m_featureRow.data(), d + 4, 8);
                ++m_featureWrites;
                Busy();
            }
            break;
        case 0xF8:  // program the feature bits
            if (m_configMode && n == 4 + 2) {
                std::memcpy(m_featureBits.data(), d + 4, 2);
                if (m_featureBitsFail) m_failBit = true;
                Busy();
            }
            break;
        case 0x79:  // refresh: the part starts from what it holds
            m_configMode = false;
            ++m_refreshes;
            break;
        default:  // 0xCE, 0xFF (bypass) and the rest change nothing here
            break;
    }
}

bool CSimMachXO2::OnRead(uint8_t* out, size_t n) {
    std::lock_guard lock(m_mutex);
    std::memset(out, 0, n);
    if (m_replyStatus) {
        uint8_t flags = 0;
        if (m_done) flags |= kStatusDone;
        if (m_configMode) flags |= kStatusConfigMode;
        if (m_busyLeft > 0 || m_staysBusy) flags |= kStatusBusy;
        if (m_failBit) flags |= kStatusFail;
        if (m_busyLeft > 0) --m_busyLeft;
        if (n >= 3) out[2] = flags;
        return true;
    }
    std::memcpy(out, m_reply.data(), std::min(n, m_reply.size()));
    return true;
}

std::vector<CSimMachXO2::Row> CSimMachXO2::ConfigRows() const {
    std::lock_guard lock(m_mutex);
    return Present(m_cfg);
}

std::vector<CSimMachXO2::Row> CSimMachXO2::UfmRows() const {
    std::lock_guard lock(m_mutex);
    return Present(m_ufm);
}

std::array<uint8_t, 8> CSimMachXO2::FeatureRow() const {
    std::lock_guard lock(m_mutex);
    return m_featureRow;
}

std::array<uint8_t, 2> CSimMachXO2::FeatureBits() const {
    std::lock_guard lock(m_mutex);
    return m_featureBits;
}

bool CSimMachXO2::Done() const {
    std::lock_guard lock(m_mutex);
    return m_done;
}

bool CSimMachXO2::ConfigMode() const {
    std::lock_guard lock(m_mutex);
    return m_configMode;
}

int CSimMachXO2::Erases() const {
    std::lock_guard lock(m_mutex);
    return m_erases;
}

int CSimMachXO2::FeatureWrites() const {
    std::lock_guard lock(m_mutex);
    return m_featureWrites;
}

int CSimMachXO2::Refreshes() const {
    std::lock_guard lock(m_mutex);
    return m_refreshes;
}

void CSimMachXO2::SetFailBit(bool on) {
    std::lock_guard lock(m_mutex);
    m_failBit = on;
}

void CSimMachXO2::SetStaysBusy(bool on) {
    std::lock_guard lock(m_mutex);
    m_staysBusy = on;
}

void CSimMachXO2::SetDoneNeverSets(bool on) {
    std::lock_guard lock(m_mutex);
    m_doneNeverSets = on;
}

void CSimMachXO2::SetFeatureBitsFail(bool on) {
    std::lock_guard lock(m_mutex);
    m_featureBitsFail = on;
}

void CSimMachXO2::CorruptConfigReadBack(std::optional<size_t> row) {
    std::lock_guard lock(m_mutex);
    m_corruptRow = row;
}
