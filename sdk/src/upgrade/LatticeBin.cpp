#include "upgrade/LatticeBin.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

constexpr char kStx = 0x02;
constexpr char kEtx = 0x03;
constexpr char kDeviceNameNote[] = "NOTE DEVICE NAME:";
constexpr char kEndConfigNote[] = "NOTE END CONFIG DATA";
constexpr char kTagDataNote[] = "NOTE TAG DATA";
constexpr uint64_t kRowFuses = 8 * CLatticeBin::kRowBytes;

bool AllBits(const char* chars, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (chars[i] != '0' && chars[i] != '1') return false;
    return true;
}

// A fuse row: 8 characters per byte, the first character the most significant bit.
void RowBytes(const char* chars, uint8_t* out) {
    for (size_t b = 0; b < CLatticeBin::kRowBytes; ++b) {
        uint8_t v = 0;
        for (size_t i = 0; i < 8; ++i) v = static_cast<uint8_t>(v << 1 | (chars[8 * b + i] - '0'));
        out[b] = v;
    }
}

// Feature fields run the other way: byte 0 takes the last 8 characters, the very last one its
// most significant bit.
void ReversedBytes(const char* chars, size_t bytes, uint8_t* out) {
    const size_t n = 8 * bytes;
    for (size_t k = 0; k < bytes; ++k) {
        uint8_t v = 0;
        for (size_t j = 0; j < 8; ++j)
            v = static_cast<uint8_t>(v << 1 | (chars[n - 1 - 8 * k - j] - '0'));
        out[k] = v;
    }
}

}  // namespace

CLatticeBin::CLatticeBin(const char* text, int length)
    : m_text(text), m_left(text != nullptr && length > 0 ? static_cast<size_t>(length) : 0) {
    m_parsed = Parse() && SplitRows();
    if (!m_parsed) {
        m_configBytes = 0;
        m_ufmBytes = 0;
    }
}

CLatticeBin::~CLatticeBin() = default;

uint32_t CLatticeBin::ConfigSectionRows() const {
    const uint32_t end = std::min(m_rowsAtEndNote, m_rowsAtBreak);
    return end != kOpen ? end : m_rows;
}

bool CLatticeBin::HasAllConfigRows() const {
    if (!m_parsed) return false;
    const uint32_t needed = kDevices[m_deviceCode].configRows;
    if (m_rowsAtEndNote == kOpen && m_rowsAtBreak == kOpen) return m_rows >= needed;
    // An end note after a break: the rows between them are configuration by the note and not
    // by their fuse numbers.
    if (m_rowsAtEndNote != kOpen && m_rowsAtBreak < m_rowsAtEndNote) return false;
    return ConfigSectionRows() == needed;
}

void CLatticeBin::EndConfigSection(uint32_t* at) {
    if (*at == kOpen) *at = m_rows;
}

void CLatticeBin::FuseAddress(const char* line, size_t length) {
    // A fuse number too long for 64 bits is nowhere the rows could go on.
    constexpr size_t kMaxDigits = 19;
    size_t digits = 0;
    uint64_t fuse = 0;
    while (1 + digits < length && line[1 + digits] >= '0' && line[1 + digits] <= '9') {
        if (digits < kMaxDigits) fuse = fuse * 10 + static_cast<uint64_t>(line[1 + digits] - '0');
        ++digits;
    }
    if (digits == 0) return;
    if (m_rows == 0) {
        m_firstFuse = fuse;
        return;
    }
    if (digits > kMaxDigits || fuse != m_firstFuse + kRowFuses * m_rows)
        BreakConfigSection();
    else
        m_fieldClosed = false;  // the fuse list goes on in a field of its own
}

uint32_t CLatticeBin::DeviceCodeOf(const char* name) {
    // The "U" parts first: each name begins with the name of the part without it.
    static constexpr struct {
        const char* text;
        uint32_t code;
    } kNames[] = {
        {"LCMXO2-640U", 2}, {"LCMXO2-1200U", 4}, {"LCMXO2-2000U", 6},
        {"LCMXO2-256", 0},  {"LCMXO2-640", 1},   {"LCMXO2-1200", 3},
        {"LCMXO2-2000", 5}, {"LCMXO2-4000", 7},  {"LCMXO2-7000", 8},
    };
    for (const auto& n : kNames)
        if (std::strstr(name, n.text) != nullptr) return n.code;
    return kDefaultDevice;
}

int CLatticeBin::ReadLine(char* buf) {
    if (m_left == 0) return -1;
    while (m_left > 0 && (*m_text == '\r' || *m_text == '\n')) ++m_text, --m_left;
    if (m_left == 0) return 0;
    size_t n = 0;
    while (m_left > 0 && *m_text != '\r' && *m_text != '\n' && n < kLineCapacity)
        buf[n++] = *m_text++, --m_left;
    // A line longer than the buffer loses its rest rather than having it read as a line of
    // its own.
    while (m_left > 0 && *m_text != '\r' && *m_text != '\n') ++m_text, --m_left;
    if (m_left > 0) ++m_text, --m_left;  // the line end
    buf[n] = '\0';
    return static_cast<int>(n);
}

bool CLatticeBin::AddRow(const char* line, size_t length) {
    if (length != kRowChars || !AllBits(line, length)) return false;
    // The rows are kept as they come: which of them are configuration rows is known only
    // from the device the whole text names, and a name note may follow the rows.
    if ((m_rows + 1) * kRowBytes > kConfigCapacity) return false;
    if (!m_config) m_config.reset(new (std::nothrow) uint8_t[kConfigCapacity]);
    if (!m_config) return false;
    // Rows in a field of their own, with no fuse number where the rows before them end.
    if (m_fieldClosed) BreakConfigSection();
    RowBytes(line, m_config.get() + kRowBytes * m_rows);
    ++m_rows;
    return true;
}

bool CLatticeBin::SplitRows() {
    const uint32_t config = std::min(m_rows, kDevices[m_deviceCode].configRows);
    const uint32_t ufm = m_rows - config;
    if (ufm * kRowBytes > kUfmCapacity) return false;
    if (ufm > 0) {
        m_ufm.reset(new (std::nothrow) uint8_t[kUfmCapacity]);
        if (!m_ufm) return false;
        std::memcpy(m_ufm.get(), m_config.get() + kRowBytes * config, kRowBytes * ufm);
    }
    m_configBytes = static_cast<uint32_t>(kRowBytes * config);
    m_ufmBytes = static_cast<uint32_t>(kRowBytes * ufm);
    return true;
}

bool CLatticeBin::ReadFeatures(const char* eLine, size_t length) {
    constexpr size_t kFeatureRowChars = 8 * kFeatureRowBytes;
    constexpr size_t kBitsChars = 8 * kFeatureBitsBytes;
    if (length < 1 + kFeatureRowChars || !AllBits(eLine + 1, kFeatureRowChars)) return false;
    ReversedBytes(eLine + 1, kFeatureRowBytes, m_features);
    char bits[kLineCapacity + 1];
    const int n = ReadLine(bits);
    if (n < static_cast<int>(kBitsChars) || !AllBits(bits, kBitsChars)) return false;
    ReversedBytes(bits, kFeatureBitsBytes, m_features + kFeatureRowBytes);
    return true;
}

bool CLatticeBin::Parse() {
    char line[kLineCapacity + 1];
    if (ReadLine(line) <= 0 || line[0] != kStx) return false;
    bool features = false;
    for (int n; (n = ReadLine(line)) != -1;) {
        if (n == 0) continue;
        const auto length = static_cast<size_t>(n);
        switch (line[0]) {
            case '0':
            case '1':
                if (!AddRow(line, length)) return false;
                break;
            case 'E':
                if (!ReadFeatures(line, length)) return false;
                features = true;
                break;
            case 'N':
                if (std::strncmp(line, kDeviceNameNote, sizeof kDeviceNameNote - 1) == 0)
                    m_deviceCode = DeviceCodeOf(line + sizeof kDeviceNameNote - 1);
                else if (std::strncmp(line, kEndConfigNote, sizeof kEndConfigNote - 1) == 0)
                    EndConfigSection(&m_rowsAtEndNote);
                else if (std::strncmp(line, kTagDataNote, sizeof kTagDataNote - 1) == 0)
                    BreakConfigSection();
                break;
            case 'L':
                FuseAddress(line, length);
                break;
            case '*':
                if (m_rows > 0) m_fieldClosed = true;
                break;
            case kEtx:
                return features;
            default:  // 'C', 'D', 'G', 'U' and the rest carry nothing needed here
                break;
        }
    }
    // Without its feature row the part would be programmed with a made-up one.
    return features;
}
