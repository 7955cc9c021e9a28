// Shared pieces of the parameter-file tests: file images built byte by byte from their layout
// tables (offsets written in the tests), never from the record struct, so a moved field shows
// up as a failure; sample records and tables; a fixture with a temporary HOME and folder.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "params/CameraParameterBuilder.h"
#include "LogCapture.h"
#include "ScopedHome.h"

namespace paramtest {

namespace fs = std::filesystem;

inline constexpr uint32_t kMagic = 0xAB673EF1;
inline constexpr size_t kTableBytes = 4096 * 2;

// ---- A file image built from offsets -------------------------------------------------------

class FileImage {
  public:
    explicit FileImage(size_t size, uint8_t fill = 0) : m_bytes(size, fill) {}
    FileImage& U8(size_t at, uint8_t v) {
        m_bytes.at(at) = v;
        return *this;
    }
    FileImage& U32(size_t at, uint32_t v) { return Raw(at, &v, 4); }
    FileImage& I32(size_t at, int32_t v) { return Raw(at, &v, 4); }
    FileImage& F64(size_t at, double v) { return Raw(at, &v, 8); }
    FileImage& Raw(size_t at, const void* data, size_t len) {
        EXPECT_LE(at + len, m_bytes.size());
        std::memcpy(m_bytes.data() + at, data, len);
        return *this;
    }
    FileImage& Pattern(size_t at, size_t len, uint8_t seed) {
        for (size_t i = 0; i < len; ++i) m_bytes.at(at + i) = static_cast<uint8_t>(seed + i);
        return *this;
    }
    FileImage& Append(const void* data, size_t len) {
        const auto* p = static_cast<const uint8_t*>(data);
        m_bytes.insert(m_bytes.end(), p, p + len);
        return *this;
    }
    void Truncate(size_t size) { m_bytes.resize(size); }
    const std::vector<uint8_t>& Bytes() const { return m_bytes; }
    void WriteTo(const std::string& path) const {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(m_bytes.data()),
                  static_cast<std::streamsize>(m_bytes.size()));
        ASSERT_TRUE(out.good()) << path;
    }

  private:
    std::vector<uint8_t> m_bytes;
};

inline std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::vector<std::string> DirEntries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

using Table = std::array<uint16_t, 4096>;

inline Table MakeTable(uint16_t seed) {
    Table t;
    for (size_t i = 0; i < t.size(); ++i) t[i] = static_cast<uint16_t>((seed + i * 7) & 0xFFF);
    return t;
}

// A record whose every byte is set, with the clamped fields at values the clamps keep.
inline CameraParameter PatternedRecord(uint8_t seed) {
    CameraParameter r;
    auto* bytes = reinterpret_cast<uint8_t*>(&r);
    for (size_t i = 0; i < sizeof r; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 13);
    r.settings.lightFrequency = 2;
    r.settings.correctDeadPixel = 0;
    r.settings.intValueFlag = 1;
    r.packetSize = 8000;
    r.packetDelay = 500;
    r.intValueA = 7;
    r.transferMode = 0;
    return r;
}

inline bool SameBytes(const CameraParameter& a, const CameraParameter& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

inline tDevInfo MakeDevInfo(const char* product, const char* friendly, const char* sn) {
    tDevInfo info{};
    std::strncpy(info.acProductName, product, sizeof info.acProductName);
    std::strncpy(info.acFriendlyName, friendly, sizeof info.acFriendlyName);
    std::strncpy(info.acSn, sn, sizeof info.acSn);
    return info;
}

// ---- Fixture: a temporary HOME and folder --------------------------------------------------

class ParameterFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_home.Made());
        m_root = m_home.Path();
        m_dir = m_root + "/cfg";
        fs::create_directory(m_dir);
    }
    std::string Path(const std::string& name) const { return m_dir + "/" + name; }
    std::vector<std::string> Log() const { return m_log.Lines(); }

    qvsim::ScopedHome m_home;  // restores HOME, which some tests change
    qvsim::LogCapture m_log;
    CameraParameterBuilder m_builder;
    std::string m_root;
    std::string m_dir;
};

}  // namespace paramtest
