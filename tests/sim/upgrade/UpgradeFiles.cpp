#include "UpgradeFiles.h"

#include <unistd.h>

#include <atomic>
#include <fstream>
#include <stdexcept>

namespace qvsim {

namespace {

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

std::vector<uint8_t> MaskElementData(const std::vector<uint8_t>& data,
                                     const std::array<uint32_t, 4>& mask) {
    std::vector<uint8_t> out = data;
    for (size_t i = 0; i + 4 <= out.size(); i += 4)
        for (size_t b = 0; b < 4; ++b)
            out[i + b] ^= static_cast<uint8_t>(mask[(i / 4) % 4] >> (8 * b));
    return out;
}

std::vector<uint8_t> BuildUpgradeFile(const UpgradeFileSpec& spec) {
    uint32_t total = 0;
    for (const auto& e : spec.elements) total += static_cast<uint32_t>(e.data.size());
    std::vector<uint8_t> out;
    Put32(out, spec.magic);
    Put32(out, spec.deviceId);
    Put32(out, spec.total.value_or(total));
    Put32(out, spec.elementCount.value_or(static_cast<uint32_t>(spec.elements.size())));
    Put32(out, static_cast<uint32_t>(spec.support.size()));
    for (const auto& [sensor, board] : spec.support) {
        Put32(out, sensor);
        Put32(out, board);
    }
    for (const auto& e : spec.elements) {
        Put32(out, e.magic);
        Put32(out, 0);
        Put32(out, e.length.value_or(static_cast<uint32_t>(e.data.size())));
        Put32(out, e.type);
        for (uint32_t m : e.mask) Put32(out, m);
        const std::vector<uint8_t> masked = MaskElementData(e.data, e.mask);
        out.insert(out.end(), masked.begin(), masked.end());
    }
    return out;
}

size_t ElementOffset(const UpgradeFileSpec& spec, size_t i) {
    size_t at = kUpgradeHeaderBytes + kSupportEntryBytes * spec.support.size();
    for (size_t k = 0; k < i; ++k) at += kElementHeaderBytes + spec.elements[k].data.size();
    return at;
}

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
    std::vector<uint8_t> out(n);
    uint32_t x = seed * 2654435761u + 1;
    for (uint8_t& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x >> 7);
    }
    return out;
}

std::vector<std::array<uint8_t, 16>> RandomRows(size_t n, uint32_t seed) {
    const std::vector<uint8_t> bytes = RandomBytes(16 * n, seed);
    std::vector<std::array<uint8_t, 16>> rows(n);
    for (size_t r = 0; r < n; ++r)
        for (size_t b = 0; b < 16; ++b) rows[r][b] = bytes[16 * r + b];
    return rows;
}

std::string FuseRowText(const std::array<uint8_t, 16>& row) {
    std::string text;
    for (uint8_t b : row)
        for (int bit = 7; bit >= 0; --bit) text += (b >> bit & 1) ? '1' : '0';
    return text;
}

std::string FeatureText(const uint8_t* bytes, size_t n) {
    // Built back to front: byte 0 fills the last 8 characters, least significant bit first
    // from the left of its group, so its most significant bit is the last character.
    std::string text(8 * n, '0');
    for (size_t k = 0; k < n; ++k)
        for (int bit = 0; bit < 8; ++bit)
            text[8 * n - 1 - 8 * k - (7 - bit)] = (bytes[k] >> bit & 1) ? '1' : '0';
    return text;
}

std::string BuildJedec(const JedecSpec& spec) {
    const std::string& nl = spec.lineEnd;
    std::string t;
    t += "\x02*" + nl;
    t += "NOTE Diamond generated fuse map*" + nl;
    if (!spec.deviceName.empty()) t += "NOTE DEVICE NAME:\t" + spec.deviceName + "*" + nl;
    t += "QP100*" + nl;
    t += "QF" + std::to_string(128 * spec.rows.size()) + "*" + nl;
    t += "G0*" + nl + "F0*" + nl;
    t += "L000000" + nl;
    for (size_t r = 0; r < spec.rows.size(); ++r) {
        if (spec.ufmFrom && *spec.ufmFrom == r) {
            t += "*" + nl;
            if (spec.endNote) t += "NOTE END CONFIG DATA*" + nl;
            t += "NOTE TAG DATA*" + nl;
            std::string address = std::to_string(spec.ufmAddress.value_or(128 * r));
            if (address.size() < 6) address.insert(0, 6 - address.size(), '0');
            t += "L" + address + nl;
        }
        t += FuseRowText(spec.rows[r]) + nl;
    }
    t += "*" + nl;
    if (spec.featureLine) {
        t += "E" + FeatureText(spec.featureRow.data(), 8) + nl;
        t += FeatureText(spec.featureBits.data(), 2) + "*" + nl;
    }
    t += "C1234*" + nl;
    t += "\x03";
    t += "0000" + nl;
    return t;
}

namespace {

std::filesystem::path UniquePath() {
    static std::atomic<unsigned> counter{0};
    return std::filesystem::temp_directory_path() /
           ("qv-upgrade-" + std::to_string(static_cast<long>(getpid())) + "-" +
            std::to_string(counter++) + ".bin");
}

}  // namespace

TempFile::TempFile(const std::vector<uint8_t>& bytes) : m_path(UniquePath()), m_text(m_path) {
    std::ofstream out(m_path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + m_text);
}

TempFile::TempFile(const std::string& text)
    : TempFile(std::vector<uint8_t>(text.begin(), text.end())) {}

TempFile::~TempFile() {
    std::error_code ec;
    std::filesystem::remove(m_path, ec);
}

}  // namespace qvsim
