// Test data for the firmware update: upgrade files, MachXO2 JEDEC texts and temporary files.
// Written from the file formats alone, sharing no code or type with the SDK, so a wrong offset
// or mask on either side shows up as a mismatch. Damaged variants are made by overriding what a
// correct file would hold.
//
//   qvsim::UpgradeFileSpec f;
//   f.deviceId = 0x1301;
//   f.support = {{37, 0xAA220002}};
//   f.elements = {{.type = 2, .data = qvsim::RandomBytes(1500, 7)}};
//   qvsim::TempFile file(qvsim::BuildUpgradeFile(f));   // file.Path() for the upgrade
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qvsim {

constexpr uint32_t kUpgradeFileMagic = 0xBB7863D1;
constexpr uint32_t kUpgradeElementMagic = 0xBB7863DD;
constexpr size_t kUpgradeHeaderBytes = 20;
constexpr size_t kSupportEntryBytes = 8;
constexpr size_t kElementHeaderBytes = 32;

struct UpgradeElementSpec {
    uint32_t type = 1;
    std::vector<uint8_t> data;  // as the camera should receive it (the builder masks it)
    std::array<uint32_t, 4> mask{0x12345678, 0x9ABCDEF0, 0x0F1E2D3C, 0xA5A55A5A};
    uint32_t magic = kUpgradeElementMagic;
    std::optional<uint32_t> length{};  // the header's length word; default: the data's size
};

struct UpgradeFileSpec {
    uint32_t magic = kUpgradeFileMagic;
    uint32_t deviceId = 0;
    // {sensor type, board model code}
    std::vector<std::pair<uint32_t, uint32_t>> support;
    std::vector<UpgradeElementSpec> elements;
    std::optional<uint32_t> total;         // default: the sum of the element lengths
    std::optional<uint32_t> elementCount;  // default: the number of elements
};

std::vector<uint8_t> BuildUpgradeFile(const UpgradeFileSpec& spec);
// Data as stored in a file: 32-bit little-endian word i XORed with mask[i mod 4], the last
// size mod 4 bytes plain.
std::vector<uint8_t> MaskElementData(const std::vector<uint8_t>& data,
                                     const std::array<uint32_t, 4>& mask);
// Offset of element i's header in a file built from spec.
size_t ElementOffset(const UpgradeFileSpec& spec, size_t i);

// Reproducible pseudo-random bytes.
std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed);

// A MachXO2 JEDEC text: STX line, a header comment, the optional NOTE DEVICE NAME line, the
// fuse rows after an L000000 line (each 16 bytes as 128 characters, most significant bit
// first), the feature row line (E and 64 characters, byte 0 the last 8, most significant bit
// last) and the feature bits line, the checksum line and ETX.
//
// With a UFM section, the rows from ufmFrom on follow the configuration rows as a section of
// their own: "*", the "NOTE END CONFIG DATA*" line (when endNote), "NOTE TAG DATA*" and an L
// line with the fuse number of their first row (ufmAddress; default: right after the rows
// before them, 128 fuses a row).
struct JedecSpec {
    std::string deviceName;  // e.g. "LCMXO2-1200HC-4TG100C"; empty: no NOTE DEVICE NAME line
    std::vector<std::array<uint8_t, 16>> rows;
    std::optional<size_t> ufmFrom;
    bool endNote = true;
    std::optional<uint64_t> ufmAddress;
    std::array<uint8_t, 8> featureRow{};
    std::array<uint8_t, 2> featureBits{};
    bool featureLine = true;
    std::string lineEnd = "\r\n";
};
std::string BuildJedec(const JedecSpec& spec);
std::vector<std::array<uint8_t, 16>> RandomRows(size_t n, uint32_t seed);
std::string FuseRowText(const std::array<uint8_t, 16>& row);
// A feature field: byte 0 from the last 8 characters, its most significant bit the very last.
std::string FeatureText(const uint8_t* bytes, size_t n);

// A file in the temporary folder with the given bytes, removed again by the destructor.
class TempFile {
  public:
    explicit TempFile(const std::vector<uint8_t>& bytes);
    explicit TempFile(const std::string& text);
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    const char* CPath() const { return m_text.c_str(); }

  private:
    std::filesystem::path m_path;
    std::string m_text;
};

}  // namespace qvsim
