// Parameter-group files: naming, the configuration folder, saving, loading every file version,
// the clamps, and what a failed save or load leaves behind.
//
// Fixture files of the older versions are built byte by byte from their layout tables (offsets
// written below), never from the record struct, so a moved field shows up as a failure.
#include "CameraParameterBuilder.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "LogCapture.h"
#include "ScopedHome.h"

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kMagic = 0xAB673EF1;
constexpr size_t kTableBytes = 4096 * 2;

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

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> DirEntries(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

using Table = std::array<uint16_t, 4096>;

Table MakeTable(uint16_t seed) {
    Table t;
    for (size_t i = 0; i < t.size(); ++i) t[i] = static_cast<uint16_t>((seed + i * 7) & 0xFFF);
    return t;
}

// A record whose every byte is set, with the clamped fields at values the clamps keep.
CameraParameter PatternedRecord(uint8_t seed) {
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

bool SameBytes(const CameraParameter& a, const CameraParameter& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

tDevInfo MakeDevInfo(const char* product, const char* friendly, const char* sn) {
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

// ---- Saving and loading --------------------------------------------------------------------

TEST_F(ParameterFiles, SavedFileLoadsBackByteForByteWithItsTables) {
    CameraParameter saved = PatternedRecord(3);
    const Table t1 = MakeTable(1), t2 = MakeTable(2), t3 = MakeTable(3);
    const std::string path = Path("roundtrip.bin");
    ASSERT_EQ(m_builder.SaveToFile(path.c_str(), &saved, t1.data(), t2.data(), t3.data()), 0);

    // The save stamps the record itself: magic, then version 4.
    EXPECT_EQ(saved.magic, kMagic);
    EXPECT_EQ(saved.version, 4);
    const std::vector<uint8_t> file = ReadFile(path);
    ASSERT_EQ(file.size(), 1216 + 3 * kTableBytes);
    const uint8_t head[8] = {0xF1, 0x3E, 0x67, 0xAB, 4, 0, 0, 0};
    EXPECT_EQ(std::memcmp(file.data(), head, 8), 0);
    EXPECT_EQ(std::memcmp(file.data() + 1216 + kTableBytes, t2.data(), kTableBytes), 0);

    CameraParameter loaded{};
    Table l1{}, l2{}, l3{};
    ASSERT_EQ(m_builder.LoadFromFile(path.c_str(), &loaded, l1.data(), l2.data(), l3.data()), 0);
    EXPECT_TRUE(SameBytes(loaded, saved));
    EXPECT_EQ(l1, t1);
    EXPECT_EQ(l2, t2);
    EXPECT_EQ(l3, t3);
}

TEST_F(ParameterFiles, AbsentTablesAreLeftOutAndTheOthersMoveUp) {
    CameraParameter saved = PatternedRecord(5);
    const Table t1 = MakeTable(10), t3 = MakeTable(30);
    const std::string path = Path("two.bin");
    ASSERT_EQ(m_builder.SaveToFile(path.c_str(), &saved, t1.data(), nullptr, t3.data()), 0);
    EXPECT_EQ(ReadFile(path).size(), 1216 + 2 * kTableBytes);

    CameraParameter loaded{};
    const Table untouched = MakeTable(99);
    Table l1{}, l2{}, l3 = untouched;
    ASSERT_EQ(m_builder.GetCfgFile(path.c_str(), &loaded, l1.data(), l2.data(), l3.data()), 0);
    EXPECT_EQ(l1, t1);
    EXPECT_EQ(l2, t3);
    EXPECT_EQ(l3, untouched);
}

TEST_F(ParameterFiles, ReplacingAFileLeavesNoTemporaryBehind) {
    CameraParameter r = PatternedRecord(1);
    const std::string path = Path("p.bin");
    ASSERT_EQ(m_builder.SaveToFile(path.c_str(), &r, nullptr, nullptr, nullptr), 0);
    r.settings.blackLevel = 42;
    ASSERT_EQ(m_builder.SaveToFile(path.c_str(), &r, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(DirEntries(m_dir), std::vector<std::string>{"p.bin"});
    CameraParameter loaded{};
    ASSERT_EQ(m_builder.GetCfgFile(path.c_str(), &loaded, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(loaded.settings.blackLevel, 42);
}

TEST_F(ParameterFiles, Version3GainsInEighthsOfAUnitBecomeHundredths) {
    // Record offsets: magic 0, version 4, rgbGain 652 (red, green, blue).
    FileImage image(1216);
    image.U32(0, kMagic).I32(4, 3).U32(652, 128).U32(656, 300).U32(660, 1).I32(628, 1);
    image.I32(956, 1500);
    const std::string path = Path("v3.bin");
    image.WriteTo(path);

    CameraParameter r{};
    ASSERT_EQ(m_builder.GetCfgFile(path.c_str(), &r, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(r.settings.rgbGain[0], 100u);  // 128 * 100 / 128
    EXPECT_EQ(r.settings.rgbGain[1], 234u);  // 300 * 100 / 128 = 234.375
    EXPECT_EQ(r.settings.rgbGain[2], 0u);    // 1 * 100 / 128 = 0.78
    EXPECT_EQ(r.version, 3);
}

TEST_F(ParameterFiles, Version2RecordIsMappedAndTheNewerFieldsDefaulted) {
    // The version 2 record: 1096 bytes, bytes 0-807 as today, trigger frame count at 808 and
    // trigger delay at 816; its first table follows at 1096.
    FileImage image(1096, 0xC7);
    image.U32(0, kMagic).I32(4, 2).U32(8, 0x5A01);
    image.I32(28 + 0, 255).U32(28 + 68, 1280).U32(28 + 72, 720);  // resolution
    image.U8(212, 1);                                             // AE window visible
    image.I32(420, 100).I32(424, 200).I32(432, 1);                // cross line 0
    image.I32(568, 1).F64(576, 12345.5).U32(584, 2500);           // AE state, exposure, gain
    image.I32(628, 2);                                            // light frequency
    image.U32(652, 181).U32(656, 100).U32(660, 198);              // gains
    image.I32(716, 2).I32(720, 15).I32(728, 1);        // trigger, resolution index, speed
    image.I32(780, 2).I32(784, 3).I32(800, 60);        // mode, group, black level
    image.U8(804, 0).U8(805, 1);                       // dead pixels, int flag
    image.I32(808, 5).U32(812, 0xDEAD).U32(816, 777);  // trigger count, unused, delay
    const Table t1 = MakeTable(5);
    image.Append(t1.data(), kTableBytes);
    const std::string path = Path("v2.bin");
    image.WriteTo(path);

    CameraParameter r = PatternedRecord(9);
    r.sensorOutFormat = 0x01100010;  // neither carried by version 2 nor defaulted
    Table l1{};
    ASSERT_EQ(m_builder.GetCfgFile(path.c_str(), &r, l1.data(), nullptr, nullptr), 0);
    EXPECT_EQ(r.magic, kMagic);
    EXPECT_EQ(r.version, 2);
    EXPECT_EQ(r.deviceId, 0x5A01u);
    EXPECT_EQ(r.resolution.iIndex, 255);
    EXPECT_EQ(r.resolution.uWidth, 1280u);
    EXPECT_EQ(r.resolution.uHeight, 720u);
    EXPECT_EQ(r.aeWindowVisible, 1);
    EXPECT_EQ(r.crossLines[0].x, 100);
    EXPECT_EQ(r.crossLines[0].y, 200);
    EXPECT_EQ(r.crossLines[0].visible, 1);
    EXPECT_EQ(r.settings.aeState, 1);
    EXPECT_EQ(r.settings.exposureTime, 12345.5);
    EXPECT_EQ(r.settings.analogGain, 2500u);
    EXPECT_EQ(r.settings.lightFrequency, 2);
    EXPECT_EQ(r.settings.rgbGain[0], 181u);  // hundredths already: not rescaled
    EXPECT_EQ(r.settings.rgbGain[2], 198u);
    EXPECT_EQ(r.settings.triggerMode, 2);
    EXPECT_EQ(r.settings.resolutionIndex, 15);
    EXPECT_EQ(r.settings.frameSpeed, 1);
    EXPECT_EQ(r.settings.parameterMode, 2);
    EXPECT_EQ(r.settings.parameterGroup, 3);
    EXPECT_EQ(r.settings.blackLevel, 60);
    EXPECT_EQ(r.settings.correctDeadPixel, 0);
    EXPECT_EQ(r.settings.intValueFlag, 1);
    EXPECT_EQ(r.triggerFrameCount, 5);
    EXPECT_EQ(r.triggerDelayTime, 777u);
    EXPECT_EQ(r.packetSize, 9000);
    EXPECT_EQ(r.transferMode, 0);
    EXPECT_EQ(r.packetDelay, 0u);
    EXPECT_EQ(r.intValueA, -1);
    // From the defaults: the line settings and the other integer values.
    EXPECT_EQ(r.inputLines[1].mode, 1);
    EXPECT_EQ(r.inputLines[1].jitterTime, 50000u);
    EXPECT_EQ(r.outputLines[2].strobePulseWidth, 1000u);
    EXPECT_EQ(r.intValueC, 1);
    // Kept from the record in force.
    EXPECT_EQ(r.sensorOutFormat, 0x01100010u);
    EXPECT_EQ(l1, t1);
}

TEST_F(ParameterFiles, LegacyRecordIsMappedFieldByField) {
    // The legacy layout: 1640 bytes, signature text at 1600, 256 unused bytes, then the tables.
    FileImage image(1640, 0x3C);
    image.U32(1632, 0x4321);                                       // device stamp
    image.I32(48, 11).I32(52, 12).I32(56, 13).I32(60, 14);         // record 12, 16, 20, 24
    image.I32(420, 3).U32(420 + 68, 1024).U32(420 + 72, 768);      // resolution
    image.I32(948, 8).U32(948 + 68, 320).U32(948 + 72, 240);       // snapshot resolution
    image.U32(308, 0x0201);                                        // AE visible: low byte
    image.Pattern(656, 100, 0x10);                                 // AE window block
    image.U32(312, 0x0300);                                        // WB visible: low byte 0
    image.Pattern(756, 100, 0x80);                                 // WB window block
    image.I32(512, 640).I32(516, 480).U32(520, 0xFF).I32(524, 1);  // cross line 0
    image.I32(512 + 8 * 16 + 12, 1);                               // cross line 8 visible
    // AE block (80 bytes from 64 -> record 568).
    image.I32(64, 1).F64(72, 33333.0).U32(80, 4000).I32(84, 120);
    image.I32(124, 2).I32(128, 10).I32(132, 20).I32(136, 300).I32(140, 200);
    // WB and ISP block (96 bytes from 144 -> record 648).
    image.I32(144, 1).U32(148, 150).U32(152, 100).U32(156, 170);
    image.I32(176, 256).I32(208, 256);  // colour matrix first and last
    image.I32(212, 1).I32(216, 9).U32(220, 0x02180014).I32(224, 2).I32(236, 110);
    // Settings tail (48 bytes from 256 -> record 760).
    image.I32(276, 1).I32(280, 2).I32(284, 1).I32(288, 0).I32(292, 1).I32(296, 40);
    image.U8(300, 0).U8(301, 1);  // overridden: dead pixels on, int flag off
    image.Raw(1600, "JNCamera Better And Better!", 28);
    FileImage skipped(256, 0xEE);
    image.Append(skipped.Bytes().data(), 256);
    const Table t1 = MakeTable(77);
    image.Append(t1.data(), kTableBytes);
    const std::string path = Path("legacy.bin");
    image.WriteTo(path);

    CameraParameter r = PatternedRecord(4);
    Table l1{};
    ASSERT_EQ(m_builder.GetCfgFile(path.c_str(), &r, l1.data(), nullptr, nullptr), 0);
    EXPECT_EQ(r.magic, kMagic);
    EXPECT_EQ(r.version, 3);
    EXPECT_EQ(r.deviceId, 0x4321u);
    EXPECT_EQ(r.aeProcessArg, 11);
    EXPECT_EQ(r.awbProcessArg, 12);
    EXPECT_EQ(r.bayerAlgMode, 13);
    EXPECT_EQ(r.bayerAlgThreshold, 14);
    EXPECT_EQ(r.resolution.iIndex, 3);
    EXPECT_EQ(r.resolution.uWidth, 1024u);
    EXPECT_EQ(r.snapResolution.iIndex, 8);
    EXPECT_EQ(r.snapResolution.uHeight, 240u);
    EXPECT_EQ(r.aeWindowVisible, 1);
    EXPECT_EQ(r.wbWindowVisible, 0);
    EXPECT_EQ(r.aeWindowBlock[0], 0x10);
    EXPECT_EQ(r.aeWindowBlock[99], static_cast<uint8_t>(0x10 + 99));
    EXPECT_EQ(r.wbWindowBlock[99], static_cast<uint8_t>(0x80 + 99));
    EXPECT_EQ(r.crossLines[0].x, 640);
    EXPECT_EQ(r.crossLines[0].y, 480);
    EXPECT_EQ(r.crossLines[0].colour, 0xFFu);
    EXPECT_EQ(r.crossLines[8].visible, 1);
    EXPECT_EQ(r.settings.aeState, 1);
    EXPECT_EQ(r.settings.exposureTime, 33333.0);
    EXPECT_EQ(r.settings.analogGain, 4000u);
    EXPECT_EQ(r.settings.aeTarget, 120);
    EXPECT_EQ(r.settings.lightFrequency, 2);
    EXPECT_EQ(r.settings.aeWindow[0], 10);
    EXPECT_EQ(r.settings.aeWindow[3], 200);
    EXPECT_EQ(r.settings.wbMode, 1);
    EXPECT_EQ(r.settings.rgbGain[0], 150u);
    EXPECT_EQ(r.settings.rgbGain[2], 170u);
    EXPECT_EQ(r.settings.colorMatrix[0], 256);
    EXPECT_EQ(r.settings.colorMatrix[8], 256);
    EXPECT_EQ(r.settings.triggerMode, 1);
    EXPECT_EQ(r.settings.resolutionIndex, 9);
    EXPECT_EQ(r.settings.ispOutFormat, 0x02180014u);
    EXPECT_EQ(r.settings.frameSpeed, 2);
    EXPECT_EQ(r.settings.contrast, 110);
    EXPECT_EQ(r.settings.parameterMode, 1);
    EXPECT_EQ(r.settings.parameterGroup, 2);
    EXPECT_EQ(r.settings.mirrorH, 1);
    EXPECT_EQ(r.settings.monochrome, 1);
    EXPECT_EQ(r.settings.blackLevel, 40);
    // Fields the legacy file never had.
    EXPECT_EQ(r.settings.lutMode, 0);
    EXPECT_EQ(r.settings.gamma, 100);
    EXPECT_EQ(r.settings.contrastLut, 100);
    EXPECT_EQ(r.settings.lutPreset, 0);
    EXPECT_EQ(r.settings.correctDeadPixel, 1);
    EXPECT_EQ(r.settings.intValueFlag, 0);
    EXPECT_EQ(r.triggerFrameCount, 1);
    EXPECT_EQ(r.triggerDelayTime, 0u);
    EXPECT_EQ(r.inputLines[0].mode, 0);
    EXPECT_EQ(r.inputLines[0].signalType, 0);
    EXPECT_EQ(r.inputLines[0].jitterTime, 50000u);
    EXPECT_EQ(r.outputLines[0].strobeMode, 0);
    EXPECT_EQ(r.outputLines[0].strobeDelay, 0u);
    EXPECT_EQ(r.outputLines[0].strobePolarity, 1);
    EXPECT_EQ(r.outputLines[0].strobePulseWidth, 1000u);
    EXPECT_EQ(r.packetSize, 9000);
    EXPECT_EQ(r.transferMode, 0);
    EXPECT_EQ(r.packetDelay, 0u);
    EXPECT_EQ(r.intValueA, -1);
    // The table comes after the 256 skipped bytes.
    EXPECT_EQ(l1, t1);
}

// ---- Clamps ---------------------------------------------------------------------------------

struct ClampCase {
    const char* field;
    size_t offset;
    int64_t stored;
    int64_t loaded;
};

void PrintTo(const ClampCase& c, std::ostream* os) {
    *os << c.field << " " << c.stored;
}

class ParameterClamps : public ParameterFiles, public ::testing::WithParamInterface<ClampCase> {};

TEST_P(ParameterClamps, LoadedValueIsBroughtIntoRange) {
    const ClampCase& c = GetParam();
    // A version 4 record with every clamped field valid, then the one under test.
    FileImage image(1216);
    image.U32(0, kMagic).I32(4, 4).I32(628, 1).U8(804, 1).U8(805, 0).I32(956, 1500);
    image.U32(964, 0).I32(968, 5);
    if (c.offset == 804 || c.offset == 805)
        image.U8(c.offset, static_cast<uint8_t>(c.stored));
    else
        image.I32(c.offset, static_cast<int32_t>(c.stored));
    const std::string path = Path("clamp.bin");
    image.WriteTo(path);

    CameraParameter r{};
    ASSERT_EQ(m_builder.GetCfgFile(path.c_str(), &r, nullptr, nullptr, nullptr), 0);
    const auto* bytes = reinterpret_cast<const uint8_t*>(&r);
    int64_t got;
    if (c.offset == 804 || c.offset == 805) {
        got = bytes[c.offset];
    } else {
        int32_t v;
        std::memcpy(&v, bytes + c.offset, 4);
        got = c.offset == 964 ? static_cast<int64_t>(static_cast<uint32_t>(v)) : v;
    }
    EXPECT_EQ(got, c.loaded) << c.field << " stored as " << c.stored;
}

INSTANTIATE_TEST_SUITE_P(
    Fields, ParameterClamps,
    ::testing::Values(
        ClampCase{"lightFrequency", 628, 0, 1}, ClampCase{"lightFrequency", 628, 3, 1},
        ClampCase{"lightFrequency", 628, 2, 2}, ClampCase{"correctDeadPixel", 804, 2, 1},
        ClampCase{"correctDeadPixel", 804, 0, 0}, ClampCase{"intValueFlag", 805, 2, 0},
        ClampCase{"intValueFlag", 805, 1, 1}, ClampCase{"packetSize", 956, 9001, 1500},
        ClampCase{"packetSize", 956, 9004, 9000}, ClampCase{"packetSize", 956, 1000, 1500},
        ClampCase{"packetSize", 956, 1498, 1500}, ClampCase{"packetSize", 956, -4, 1500},
        ClampCase{"packetSize", 956, 8996, 8996}, ClampCase{"packetDelay", 964, 1001, 1000},
        ClampCase{"packetDelay", 964, -1, 1000}, ClampCase{"packetDelay", 964, 1000, 1000},
        ClampCase{"intValueA", 968, 0, -1}, ClampCase{"intValueA", 968, 5, 5},
        ClampCase{"transferMode", 960, 2, 0}));

// ---- Bad files ------------------------------------------------------------------------------

struct BadFile {
    const char* what;
    std::vector<uint8_t> bytes;
};

std::vector<uint8_t> Header(uint32_t magic, int32_t version, size_t size) {
    FileImage image(size);
    if (size >= 8) image.U32(0, magic).I32(4, version);
    return image.Bytes();
}

std::vector<uint8_t> Legacy(size_t size, bool signed_) {
    FileImage image(size, 0x11);
    if (signed_ && size >= 1628) image.Raw(1600, "JNCamera Better And Better!", 28);
    return image.Bytes();
}

TEST_F(ParameterFiles, ShortOrCorruptFileFailsAndLeavesRecordAndTablesInForce) {
    std::vector<uint8_t> badSignature = Legacy(1640, true);
    badSignature[1627] = '!';  // the terminating zero is part of the signature
    const std::vector<BadFile> cases = {
        {"empty", {}},
        {"half a header", {0xF1, 0x3E, 0x67, 0xAB}},
        {"version 4, one byte short", Header(kMagic, 4, 1215)},
        {"version 3, short", Header(kMagic, 3, 1000)},
        {"version 2, one byte short", Header(kMagic, 2, 1095)},
        {"version 5", Header(kMagic, 5, 1216)},
        {"version 1", Header(kMagic, 1, 1216)},
        {"version -1", Header(kMagic, -1, 1216)},
        {"legacy, one byte short", Legacy(1639, true)},
        {"legacy without signature", Legacy(1640, false)},
        {"legacy, signature not terminated", badSignature},
    };
    for (const BadFile& c : cases) {
        const std::string path = Path("bad.bin");
        FileImage image(0);
        image.Append(c.bytes.data(), c.bytes.size());
        image.WriteTo(path);
        const CameraParameter before = PatternedRecord(21);
        CameraParameter r = before;
        const Table t = MakeTable(4);
        Table l1 = t, l2 = t, l3 = t;
        EXPECT_EQ(m_builder.GetCfgFile(path.c_str(), &r, l1.data(), l2.data(), l3.data()),
                  CAMERA_STATUS_FAILED)
            << c.what;
        EXPECT_TRUE(SameBytes(r, before)) << c.what;
        EXPECT_TRUE(l1 == t && l2 == t && l3 == t) << c.what;
    }
}

TEST_F(ParameterFiles, UnreadableFileGivesFileIoFailedWithItsLogLine) {
    const std::string missing = Path("missing.bin");
    const CameraParameter before = PatternedRecord(8);
    CameraParameter r = before;
    EXPECT_EQ(m_builder.GetCfgFile(missing.c_str(), &r, nullptr, nullptr, nullptr),
              CAMERA_STATUS_FILE_IO_FAILED);
    EXPECT_TRUE(SameBytes(r, before));
    EXPECT_EQ(Log(), std::vector<std::string>{"GetCfgFile err:" + missing + "\n"});

    EXPECT_EQ(m_builder.GetCfgFile(m_dir.c_str(), &r, nullptr, nullptr, nullptr),
              CAMERA_STATUS_FILE_IO_FAILED);
    const std::string fifo = Path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    EXPECT_EQ(m_builder.GetCfgFile(fifo.c_str(), &r, nullptr, nullptr, nullptr),
              CAMERA_STATUS_FILE_IO_FAILED);
    EXPECT_TRUE(SameBytes(r, before));
}

TEST_F(ParameterFiles, NullArgumentsGiveTheirCodes) {
    CameraParameter r{};
    EXPECT_EQ(m_builder.GetCfgFile("x", nullptr, nullptr, nullptr, nullptr), CAMERA_STATUS_FAILED);
    EXPECT_EQ(m_builder.LoadFromFile("x", nullptr, nullptr, nullptr, nullptr),
              CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(m_builder.LoadFromFile(nullptr, &r, nullptr, nullptr, nullptr),
              CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(m_builder.SaveToFile(nullptr, &r, nullptr, nullptr, nullptr),
              CAMERA_STATUS_PARAMETER_INVALID);
    const tDevInfo info = MakeDevInfo("P", "F", "S");
    EXPECT_EQ(m_builder.SaveGroup(nullptr, &r, 0, 0, &info, nullptr, nullptr, nullptr),
              CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(m_builder.LoadGroup(m_dir.c_str(), 0, 0, nullptr, &r, nullptr, nullptr, nullptr),
              CAMERA_STATUS_PARAMETER_INVALID);
}

TEST_F(ParameterFiles, TruncatedTablesFillAsFarAsTheFileGoes) {
    CameraParameter saved = PatternedRecord(6);
    const Table t1 = MakeTable(100), t2 = MakeTable(200), t3 = MakeTable(300);
    const std::string full = Path("full.bin");
    ASSERT_EQ(m_builder.SaveToFile(full.c_str(), &saved, t1.data(), t2.data(), t3.data()), 0);
    const std::vector<uint8_t> bytes = ReadFile(full);

    const Table old = MakeTable(7);
    // Every size inside the record fails; sizes inside the tables fill whole entries only.
    for (size_t size = 0; size <= bytes.size(); size += (size < 1240 ? 1 : 331)) {
        FileImage image(0);
        image.Append(bytes.data(), size);
        const std::string path = Path("cut.bin");
        image.WriteTo(path);
        CameraParameter r = PatternedRecord(50);
        const CameraParameter before = r;
        Table l[3] = {old, old, old};
        const int result =
            m_builder.GetCfgFile(path.c_str(), &r, l[0].data(), l[1].data(), l[2].data());
        if (size < 1216) {
            ASSERT_EQ(result, CAMERA_STATUS_FAILED) << size;
            ASSERT_TRUE(SameBytes(r, before)) << size;
            continue;
        }
        ASSERT_EQ(result, 0) << size;
        ASSERT_TRUE(SameBytes(r, saved)) << size;
        const Table* written[3] = {&t1, &t2, &t3};
        for (size_t t = 0; t < 3; ++t) {
            const size_t start = 1216 + t * kTableBytes;
            const size_t entries = size > start ? std::min<size_t>((size - start) / 2, 4096) : 0;
            for (size_t i = 0; i < 4096; ++i) {
                const uint16_t expected = i < entries ? (*written[t])[i] : old[i];
                ASSERT_EQ(l[t][i], expected) << "size " << size << " table " << t << " entry " << i;
            }
        }
    }
}

// Arbitrary bytes, some with a valid magic or legacy signature: a load either fails and changes
// nothing, or succeeds with the clamped fields in range.
TEST_F(ParameterFiles, ArbitraryBytesNeverCorruptTheRecord) {
    std::mt19937 rng(20240611);
    const std::string path = Path("fuzz.bin");
    for (int i = 0; i < 400; ++i) {
        const size_t size = std::uniform_int_distribution<size_t>(0, 28000)(rng);
        std::vector<uint8_t> bytes(size);
        for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
        const int kind = i % 4;
        if (kind == 1 && size >= 8) {
            const int32_t version = std::uniform_int_distribution<int32_t>(1, 5)(rng);
            std::memcpy(bytes.data(), &kMagic, 4);
            std::memcpy(bytes.data() + 4, &version, 4);
        } else if (kind == 2 && size >= 1628) {
            std::memcpy(bytes.data() + 1600, "JNCamera Better And Better!", 28);
        }
        FileImage image(0);
        image.Append(bytes.data(), bytes.size());
        image.WriteTo(path);

        const CameraParameter before = PatternedRecord(static_cast<uint8_t>(i));
        CameraParameter r = before;
        Table l1{}, l2{}, l3{};
        const int result = m_builder.GetCfgFile(path.c_str(), &r, l1.data(), l2.data(), l3.data());
        if (result != 0) {
            ASSERT_EQ(result, CAMERA_STATUS_FAILED);
            ASSERT_TRUE(SameBytes(r, before)) << i;
            continue;
        }
        ASSERT_TRUE(r.settings.lightFrequency == 1 || r.settings.lightFrequency == 2);
        ASSERT_LE(r.settings.correctDeadPixel, 1);
        ASSERT_LE(r.settings.intValueFlag, 1);
        ASSERT_GE(r.packetSize, 1500);
        ASSERT_LE(r.packetSize, 9000);
        ASSERT_EQ(r.packetSize % 4, 0);
        ASSERT_LE(r.packetDelay, 1000u);
        ASSERT_NE(r.intValueA, 0);
        ASSERT_EQ(r.transferMode, 0);
    }
}

// ---- Failed saves ---------------------------------------------------------------------------

TEST_F(ParameterFiles, SaveIntoMissingFolderFailsAndSaysSo) {
    CameraParameter r = PatternedRecord(2);
    const std::string path = m_root + "/no-such-folder/p.bin";
    EXPECT_EQ(m_builder.SaveToFile(path.c_str(), &r, nullptr, nullptr, nullptr),
              CAMERA_STATUS_FAILED);
    EXPECT_EQ(Log(), std::vector<std::string>{"CreateCfgFile err:" + path + "\n"});
    EXPECT_FALSE(fs::exists(m_root + "/no-such-folder"));

    const tDevInfo info = MakeDevInfo("QV-200", "Line 1", "SN0001");
    const std::string missingDir = m_root + "/gone";
    EXPECT_EQ(m_builder.SaveGroup(missingDir.c_str(), &r, 0, 1, &info, nullptr, nullptr, nullptr),
              CAMERA_STATUS_FAILED);
}

TEST_F(ParameterFiles, ShortWriteKeepsThePreviousFile) {
    CameraParameter good = PatternedRecord(11);
    const Table t = MakeTable(3);
    const std::string path = Path("keep.bin");
    ASSERT_EQ(m_builder.SaveToFile(path.c_str(), &good, t.data(), nullptr, nullptr), 0);
    const std::vector<uint8_t> before = ReadFile(path);

    // A file-size limit below the new file's 1216 + 3 * 8192 bytes makes the write come up
    // short, as a full disk does.
    struct sigaction ignore {
    }, old{};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &old), 0);
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    CameraParameter bigger = PatternedRecord(12);
    const int result = m_builder.SaveToFile(path.c_str(), &bigger, t.data(), t.data(), t.data());
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::sigaction(SIGXFSZ, &old, nullptr);

    EXPECT_EQ(result, CAMERA_STATUS_FILE_IO_FAILED);
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_EQ(DirEntries(m_dir), std::vector<std::string>{"keep.bin"});
    EXPECT_EQ(Log(), std::vector<std::string>{"CreateCfgFile err:" + path + "\n"});
}

TEST_F(ParameterFiles, SaveOverAFolderFailsAndCleansUp) {
    fs::create_directory(Path("taken.bin"));
    fs::create_directory(Path("taken.bin/inside"));
    CameraParameter r = PatternedRecord(1);
    const std::string path = Path("taken.bin");
    EXPECT_EQ(m_builder.SaveToFile(path.c_str(), &r, nullptr, nullptr, nullptr),
              CAMERA_STATUS_FAILED);
    EXPECT_EQ(DirEntries(m_dir), std::vector<std::string>{"taken.bin"});
}

// ---- Names, groups and the configuration folder --------------------------------------------

TEST_F(ParameterFiles, GroupFileNamesFollowModeAndGroup) {
    const tDevInfo info = MakeDevInfo("QV-200", "Line 1", "SN0001");
    struct Case {
        int mode, group;
        const char* name;
    };
    const Case cases[] = {
        {0, 0, "QV-200_Cfg_A.bin"},  {1, 1, "Line 1_Cfg_B.bin"},      {2, 2, "SN0001_Cfg_C.bin"},
        {0, 3, "QV-200_Cfg_D.bin"},  {0, 255, "QV-200_Cfg_SAVE.bin"}, {0, 7, "QV-200_Cfg_A.bin"},
        {0, -1, "QV-200_Cfg_A.bin"}, {5, 1, "QV-200_Cfg_B.bin"},      {-1, 2, "QV-200_Cfg_C.bin"},
    };
    for (const Case& c : cases) {
        std::string path;
        m_builder.MakeCfgFilePath(path, "/cfg", c.mode, c.group, &info);
        EXPECT_EQ(path, std::string("/cfg/") + c.name) << c.mode << "," << c.group;
    }
    std::string path;
    m_builder.MakeCfgFilePath(path, "/cfg/", 0, 0, &info);
    EXPECT_EQ(path, "/cfg/QV-200_Cfg_A.bin");
}

TEST_F(ParameterFiles, DeviceNamesCannotLeaveTheFolderOrOverrunTheirFields) {
    tDevInfo info{};
    std::memcpy(info.acFriendlyName, "../../etc/passwd", 17);
    std::memset(info.acProductName, 'P', sizeof info.acProductName);  // no terminator
    std::string path;
    m_builder.MakeCfgFilePath(path, "/cfg", 1, 0, &info);
    EXPECT_EQ(path, "/cfg/.._.._etc_passwd_Cfg_A.bin");
    m_builder.MakeCfgFilePath(path, "/cfg", 0, 0, &info);
    EXPECT_EQ(path, "/cfg/" + std::string(32, 'P') + "_Cfg_A.bin");
}

TEST_F(ParameterFiles, GroupSevenReadsAndWritesTheFirstGroupFile) {
    const tDevInfo info = MakeDevInfo("QV-200", "Line 1", "SN0001");
    CameraParameter r = PatternedRecord(30);
    ASSERT_EQ(m_builder.SaveGroup(m_dir.c_str(), &r, 0, 7, &info, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(DirEntries(m_dir), std::vector<std::string>{"QV-200_Cfg_A.bin"});
    CameraParameter loaded{};
    ASSERT_EQ(m_builder.LoadGroup(m_dir.c_str(), 0, 7, &info, &loaded, nullptr, nullptr, nullptr),
              0);
    EXPECT_TRUE(SameBytes(loaded, r));
}

// What a controller does: saving group g writes the group file under the chosen key and the
// "_SAVE" file under the product name; a later start without a given group reads "_SAVE" and
// follows the mode and group it names.
TEST_F(ParameterFiles, SaveFileLeadsTheNextStartToTheSavedGroup) {
    const tDevInfo info = MakeDevInfo("QV-200", "Line 1", "SN0001");
    CameraParameter current = PatternedRecord(40);
    current.settings.parameterMode = 2;
    current.settings.parameterGroup = 2;
    current.settings.blackLevel = 33;
    ASSERT_EQ(m_builder.SaveGroup(m_dir.c_str(), &current, 2, 2, &info, nullptr, nullptr, nullptr),
              0);
    ASSERT_EQ(m_builder.SaveGroup(m_dir.c_str(), &current, 0, CameraParameterBuilder::kSaveGroup,
                                  &info, nullptr, nullptr, nullptr),
              0);
    EXPECT_EQ(DirEntries(m_dir),
              (std::vector<std::string>{"QV-200_Cfg_SAVE.bin", "SN0001_Cfg_C.bin"}));

    CameraParameter next{};
    ASSERT_EQ(m_builder.LoadGroup(m_dir.c_str(), 0, CameraParameterBuilder::kSaveGroup, &info,
                                  &next, nullptr, nullptr, nullptr),
              0);
    ASSERT_EQ(next.settings.parameterMode, 2);
    ASSERT_EQ(next.settings.parameterGroup, 2);
    CameraParameter group{};
    ASSERT_EQ(
        m_builder.LoadGroup(m_dir.c_str(), next.settings.parameterMode,
                            next.settings.parameterGroup, &info, &group, nullptr, nullptr, nullptr),
        0);
    EXPECT_EQ(group.settings.blackLevel, 33);

    // Another model has no "_SAVE" file here.
    const tDevInfo other = MakeDevInfo("QV-500", "Line 1", "SN0001");
    EXPECT_EQ(m_builder.LoadGroup(m_dir.c_str(), 0, 255, &other, &next, nullptr, nullptr, nullptr),
              CAMERA_STATUS_FILE_IO_FAILED);
}

TEST_F(ParameterFiles, SetDefaultChangesOnlyItsFields) {
    CameraParameter r;
    std::memset(&r, 0x5A, sizeof r);
    FileImage expected(sizeof r, 0x5A);
    expected.U32(0, kMagic).I32(4, 3);
    expected.I32(628, 1);  // 0x5A5A5A5A is no light frequency
    expected.U8(804, 1).U8(805, 0);
    expected.I32(808, 1).U32(812, 0);
    expected.U8(816, 0).I32(820, 1).U32(824, 50000);  // input line 0
    expected.U8(828, 1).I32(832, 1).U32(836, 50000);  // input line 1
    for (int line = 0; line < 4; ++line) {            // output lines, 28 bytes each from 840
        const size_t at = 840 + 28 * line;
        expected.U8(at, line == 0 ? 0 : 1).U8(at + 1, 0);
        const int32_t words[6] = {0, 0, 1, 1000, 0, 0};
        expected.Raw(at + 4, words, sizeof words);
    }
    expected.I32(956, 9000).I32(960, 0).U32(964, 0).I32(968, -1).I32(972, 0).I32(976, 1);

    m_builder.SetDefault(&r);
    const auto* got = reinterpret_cast<const uint8_t*>(&r);
    for (size_t i = 0; i < sizeof r; ++i) ASSERT_EQ(got[i], expected.Bytes()[i]) << "byte " << i;

    r.settings.lightFrequency = 2;
    m_builder.SetDefault(&r);
    EXPECT_EQ(r.settings.lightFrequency, 2);
}

TEST_F(ParameterFiles, ConfigFolderIsMadeUnderHome) {
    const mode_t oldMask = ::umask(022);
    std::string dir;
    EXPECT_EQ(CameraParameterBuilder::MakeConfigFolder(dir), 0);
    EXPECT_EQ(dir, m_root + "/.QVConfig/");
    struct stat st {};
    ASSERT_EQ(::stat(dir.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    EXPECT_EQ(CameraParameterBuilder::MakeConfigFolder(dir), 0);  // already there

    // HOME unset or empty: the current directory.
    const fs::path cwd = fs::current_path();
    fs::current_path(m_dir);
    ::unsetenv("HOME");
    EXPECT_EQ(CameraParameterBuilder::MakeConfigFolder(dir), 0);
    EXPECT_EQ(dir, "./.QVConfig/");
    EXPECT_TRUE(fs::is_directory(m_dir + "/.QVConfig"));
    ::setenv("HOME", "", 1);
    EXPECT_EQ(CameraParameterBuilder::MakeConfigFolder(dir), 0);
    EXPECT_EQ(dir, "./.QVConfig/");
    fs::current_path(cwd);
    ::umask(oldMask);
}

TEST_F(ParameterFiles, ConfigFolderOfAnyHomeLengthIsBuiltWholeOrRefused) {
    // A home deeper than any fixed path buffer: 6 levels of 100 characters.
    std::string home = m_root;
    for (int i = 0; i < 6; ++i) home += "/" + std::string(100, static_cast<char>('a' + i));
    fs::create_directories(home);
    ::setenv("HOME", home.c_str(), 1);
    std::string dir;
    EXPECT_EQ(CameraParameterBuilder::MakeConfigFolder(dir), 0);
    EXPECT_EQ(dir, home + "/.QVConfig/");
    EXPECT_TRUE(fs::is_directory(dir));

    const tDevInfo info = MakeDevInfo("QV-200", "Line 1", "SN0001");
    CameraParameter r = PatternedRecord(1);
    EXPECT_EQ(m_builder.SaveGroup(dir.c_str(), &r, 0, 0, &info, nullptr, nullptr, nullptr), 0);
    EXPECT_TRUE(fs::exists(dir + "QV-200_Cfg_A.bin"));

    // Longer than the system takes in a path: refused, not cut short.
    const std::string huge = m_root + "/" + std::string(20000, 'x');
    ::setenv("HOME", huge.c_str(), 1);
    EXPECT_EQ(CameraParameterBuilder::MakeConfigFolder(dir), CAMERA_STATUS_FAILED);
    EXPECT_EQ(dir, huge + "/.QVConfig/");

    // A home that is a file.
    const std::string file = m_root + "/plain";
    std::ofstream(file) << "x";
    ::setenv("HOME", file.c_str(), 1);
    EXPECT_EQ(CameraParameterBuilder::MakeConfigFolder(dir), CAMERA_STATUS_FAILED);
    // A ".QVConfig" that is a file.
    std::ofstream(m_root + "/.QVConfig") << "x";
    ::setenv("HOME", m_root.c_str(), 1);
    EXPECT_EQ(CameraParameterBuilder::MakeConfigFolder(dir), CAMERA_STATUS_FAILED);
}

}  // namespace
