// Parameter-group files: saving, loading every file version, and the clamps of a loaded record.
#include "ParameterFileFixture.h"

namespace {

using namespace paramtest;

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

}  // namespace
