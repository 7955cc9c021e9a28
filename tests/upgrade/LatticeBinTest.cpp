// The MachXO2 JEDEC parser on texts made from the format: the split between configuration and
// UFM rows by device, the feature fields, and the texts it refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include "UpgradeFiles.h"
#include "upgrade/LatticeBin.h"

namespace {

using qvsim::BuildJedec;
using qvsim::JedecSpec;
using Rows = std::vector<std::array<uint8_t, 16>>;

CLatticeBin Parse(const std::string& text) {
    return CLatticeBin(text.data(), static_cast<int>(text.size()));
}

void ExpectRows(const uint8_t* got, const Rows& rows, size_t from, size_t count) {
    ASSERT_NE(got, nullptr);
    for (size_t r = 0; r < count; ++r)
        ASSERT_EQ(std::memcmp(got + 16 * r, rows[from + r].data(), 16), 0) << "row " << from + r;
}

TEST(LatticeBin, Machxo2_1200SplitsConfigurationAndUfm) {
    JedecSpec spec;
    spec.deviceName = "LCMXO2-1200HC-4TG100C";
    spec.rows = qvsim::RandomRows(2175 + 512, 1);
    spec.featureRow = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
    spec.featureBits = {0x60, 0x04};
    const CLatticeBin bin = Parse(BuildJedec(spec));
    ASSERT_TRUE(bin.IsParsed());
    EXPECT_EQ(bin.DeviceCode(), 3u);
    EXPECT_EQ(bin.ConfigBytes(), 34800u);
    EXPECT_EQ(bin.UfmBytes(), 8192u);
    ExpectRows(bin.ConfigData(), spec.rows, 0, 2175);
    ExpectRows(bin.UfmData(), spec.rows, 2175, 512);
    EXPECT_EQ(std::memcmp(bin.Features(), spec.featureRow.data(), 8), 0);
    EXPECT_EQ(std::memcmp(bin.Features() + 8, spec.featureBits.data(), 2), 0);
}

TEST(LatticeBin, WithoutDeviceNameSplitsAsTheMachxo2_1200) {
    JedecSpec spec;
    spec.rows = qvsim::RandomRows(2180, 2);
    spec.lineEnd = "\n";
    const CLatticeBin bin = Parse(BuildJedec(spec));
    ASSERT_TRUE(bin.IsParsed());
    EXPECT_EQ(bin.DeviceCode(), 3u);
    EXPECT_EQ(bin.ConfigBytes(), 2175u * 16);
    EXPECT_EQ(bin.UfmBytes(), 5u * 16);
    ExpectRows(bin.UfmData(), spec.rows, 2175, 5);
}

TEST(LatticeBin, FeatureFieldsReadFromTheirLastCharacter) {
    // E, 63 zeros and a final 1: the first feature byte is 0x80.
    const std::string zeros63(63, '0');
    std::string text = "\x02\r\nE" + zeros63 + "1\r\n0000000000000001*\r\n\x03";
    CLatticeBin bin = Parse(text);
    ASSERT_TRUE(bin.IsParsed());
    const uint8_t expected[10] = {0x80, 0, 0, 0, 0, 0, 0, 0, 0x80, 0};
    EXPECT_EQ(std::memcmp(bin.Features(), expected, 10), 0);
    // The first character is the lowest bit of the last byte.
    text = "\x02\nE1" + zeros63 + "\n1000000000000000\n";
    CLatticeBin first = Parse(text);
    ASSERT_TRUE(first.IsParsed());
    const uint8_t expectedFirst[10] = {0, 0, 0, 0, 0, 0, 0, 0x01, 0, 0x01};
    EXPECT_EQ(std::memcmp(first.Features(), expectedFirst, 10), 0);
    EXPECT_EQ(first.ConfigBytes(), 0u);
    EXPECT_EQ(first.ConfigData(), nullptr);
}

TEST(LatticeBin, DeviceNamesTheULongerNamesFirst) {
    struct Case {
        const char* name;
        uint32_t code;
        uint32_t configRows;
    };
    const Case cases[] = {
        {"LCMXO2-256HC-4SG32C", 0, 575},      {"LCMXO2-640HC-4TG100C", 1, 1152},
        {"LCMXO2-640UHC-4TG144C", 2, 2175},   {"LCMXO2-1200HC-4TG100C", 3, 2175},
        {"LCMXO2-1200UHC-4FTG256C", 4, 3200}, {"LCMXO2-2000HC-4TG100C", 5, 3200},
        {"LCMXO2-2000UHC-4FTG256C", 6, 5760}, {"LCMXO2-4000HC-4TG144C", 7, 5760},
        {"LCMXO2-7000HC-4TG144C", 8, 9216},   {"LFXP2-5E-5QN208C", 3, 2175},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CLatticeBin::DeviceCodeOf(c.name), c.code);
        EXPECT_EQ(CLatticeBin::kDevices[c.code].configRows, c.configRows);
        // One row past the configuration rows is the first UFM row.
        JedecSpec spec;
        spec.deviceName = c.name;
        spec.rows = qvsim::RandomRows(c.configRows + 1, c.code);
        const CLatticeBin bin = Parse(BuildJedec(spec));
        ASSERT_TRUE(bin.IsParsed());
        EXPECT_EQ(bin.DeviceCode(), c.code);
        EXPECT_EQ(bin.ConfigBytes(), 16 * c.configRows);
        EXPECT_EQ(bin.UfmBytes(), 16u);
        ExpectRows(bin.UfmData(), spec.rows, c.configRows, 1);
    }
}

TEST(LatticeBin, TellsWhetherEveryConfigurationRowIsThere) {
    struct Case {
        const char* device;  // empty: no NOTE DEVICE NAME line
        size_t rows;
        bool all;
    };
    const Case cases[] = {
        {"LCMXO2-256HC-4SG32C", 575, true},
        {"LCMXO2-256HC-4SG32C", 574, false},
        {"LCMXO2-256HC-4SG32C", 576, true},
        {"LCMXO2-256HC-4SG32C", 0, false},
        {"LCMXO2-7000HC-4TG144C", 9216, true},
        {"LCMXO2-7000HC-4TG144C", 9215, false},
        {"", 2175, true},
        {"", 2174, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.device) + " " + std::to_string(c.rows));
        JedecSpec spec;
        spec.deviceName = c.device;
        spec.rows = qvsim::RandomRows(c.rows, 6);
        const CLatticeBin bin = Parse(BuildJedec(spec));
        ASSERT_TRUE(bin.IsParsed());
        EXPECT_EQ(bin.HasAllConfigRows(), c.all);
        EXPECT_EQ(bin.ConfigRowsNeeded(), CLatticeBin::kDevices[bin.DeviceCode()].configRows);
    }
    // A text that does not parse has nothing to program.
    EXPECT_FALSE(Parse("").HasAllConfigRows());
}

TEST(LatticeBin, ConfigurationSectionEndsAtItsNoteOrWhereItsAddressesStop) {
    // Rows of a MachXO2-1200 text; with ufmFrom, the rows from there on are a section of their
    // own (see JedecSpec). The split of the rows is the same whatever the sections say.
    struct Case {
        const char* what;
        size_t rows;
        std::optional<size_t> ufmFrom;
        bool endNote;
        std::optional<uint64_t> ufmAddress;
        uint32_t sectionRows;
        bool all;
    };
    const Case cases[] = {
        {"one section", 2175 + 512, std::nullopt, true, std::nullopt, 2175 + 512, true},
        {"note after every row", 2175 + 512, 2175, true, std::nullopt, 2175, true},
        {"note, UFM numbered from 0", 2175 + 512, 2175, true, 0, 2175, true},
        // The UFM section's own note ends the configuration section, whatever its numbers.
        {"UFM address right after", 2175 + 512, 2175, false, 2175 * 128, 2175, true},
        {"UFM address further on", 2175 + 512, 2175, false, 3000 * 128, 2175, true},
        {"UFM numbered from 0", 2175 + 512, 2175, false, 0, 2175, true},
        {"no UFM rows after the note", 2175, 2175, true, std::nullopt, 2175, true},
        {"note one row early", 2175 + 512, 2174, true, std::nullopt, 2174, false},
        {"note one row late", 2176 + 511, 2176, true, std::nullopt, 2176, false},
        {"short, then UFM at its address", 2100 + 512, 2100, false, 2175 * 128, 2100, false},
        {"short, then UFM from 0", 2100 + 512, 2100, false, 0, 2100, false},
        {"short, then UFM by the note", 2100 + 512, 2100, true, 2100 * 128, 2100, false},
        {"long, then UFM", 2200 + 512, 2200, false, 2200 * 128 + 128, 2200, false},
        {"UFM note early, address that goes on", 2175 + 512, 1000, false, 1000 * 128, 1000, false},
        {"UFM note after a short section, address that goes on", 2100 + 10, 2100, false, 2100 * 128,
         2100, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        JedecSpec spec;
        spec.deviceName = "LCMXO2-1200HC-4TG100C";
        spec.rows = qvsim::RandomRows(c.rows, 8);
        spec.ufmFrom = c.ufmFrom;
        spec.endNote = c.endNote;
        spec.ufmAddress = c.ufmAddress;
        const CLatticeBin bin = Parse(BuildJedec(spec));
        ASSERT_TRUE(bin.IsParsed());
        EXPECT_EQ(bin.ConfigSectionRows(), c.sectionRows);
        EXPECT_EQ(bin.HasAllConfigRows(), c.all);
        const size_t config = std::min<size_t>(c.rows, 2175);
        EXPECT_EQ(bin.ConfigBytes(), 16 * config);
        EXPECT_EQ(bin.UfmBytes(), 16 * (c.rows - config));
        ExpectRows(bin.ConfigData(), spec.rows, 0, config);
        if (c.rows > config) ExpectRows(bin.UfmData(), spec.rows, config, c.rows - config);
    }
}

TEST(LatticeBin, ADeviceNamedAfterTheRowsNeverPassesWithRowsOfAnotherKind) {
    // The device's name note after its rows: the rows are taken as they come, by the device
    // known when each arrives, while the section is counted against the device named at the
    // end. A text that is held to configure the whole device must hold exactly its
    // configuration rows as such, and its UFM rows as UFM rows; otherwise it must be refused.
    struct Case {
        const char* name;
        uint32_t code;
        size_t config;
        size_t ufm;
    };
    const Case cases[] = {
        // Fewer configuration rows than the default part: the UFM rows would be configuration.
        {"LCMXO2-640HC-4TG100C", 1, 1152, 191},
        // More: the last configuration rows would be programmed into the UFM.
        {"LCMXO2-2000HC-4TG100C", 5, 3200, 639},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        JedecSpec spec;
        spec.rows = qvsim::RandomRows(c.config + c.ufm, 12);
        spec.ufmFrom = c.config;
        std::string text = BuildJedec(spec);
        const size_t feature = text.find("\r\nE");
        ASSERT_NE(feature, std::string::npos);
        text.insert(feature + 2, "NOTE DEVICE NAME:\t" + std::string(c.name) + "*\r\n");
        const CLatticeBin bin = Parse(text);
        ASSERT_TRUE(bin.IsParsed());
        EXPECT_EQ(bin.DeviceCode(), c.code);
        EXPECT_EQ(bin.ConfigSectionRows(), c.config);
        if (bin.HasAllConfigRows()) {
            EXPECT_EQ(bin.ConfigBytes(), 16 * c.config);
            EXPECT_EQ(bin.UfmBytes(), 16 * c.ufm);
        }
    }
}

TEST(LatticeBin, AUfmSectionWithoutTheEndNoteStillEndsAShortConfigurationSection) {
    // A MachXO2-1200 text whose configuration section stops after 2100 of its 2175 rows, then
    // its UFM section as such texts mark it ("*" closing the fuse field, "NOTE TAG DATA*"),
    // without the end note: its 512 UFM rows are no configuration rows, whether the UFM field
    // gives a fuse number right after the rows before it or none at all.
    struct Case {
        const char* what;
        bool addressLine;
    };
    const Case cases[] = {{"UFM fuse number right after the rows", true},
                          {"no fuse number for the UFM", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        JedecSpec spec;
        spec.deviceName = "LCMXO2-1200HC-4TG100C";
        spec.rows = qvsim::RandomRows(2100 + 512, 13);
        spec.ufmFrom = 2100;
        spec.endNote = false;
        std::string text = BuildJedec(spec);
        const std::string address = "NOTE TAG DATA*\r\nL268800\r\n";
        const size_t at = text.find(address);
        ASSERT_NE(at, std::string::npos);
        if (!c.addressLine) text.replace(at, address.size(), "NOTE TAG DATA*\r\n");
        const CLatticeBin bin = Parse(text);
        ASSERT_TRUE(bin.IsParsed());
        EXPECT_EQ(bin.RowCount(), 2612u);
        EXPECT_EQ(bin.ConfigSectionRows(), 2100u);
        EXPECT_FALSE(bin.HasAllConfigRows());
    }
}

TEST(LatticeBin, AnAddressThatDoesNotGoOnInsideTheSectionIsNoWholeConfiguration) {
    // A MachXO2-256 text whose 575 configuration rows come in two fuse fields, the second not
    // numbered where the first ends (past it: rows 500 to 509 are missing and the last 10 rows
    // lie beyond the part's configuration; before it: rows 565 to 574 are missing), then the
    // end note. The rows are programmed one after the other whatever their numbers: neither
    // text configures the whole part, with the end note as without it.
    const Rows rows = qvsim::RandomRows(575, 14);
    std::string first;
    std::string second;
    for (size_t r = 0; r < rows.size(); ++r)
        (r < 500 ? first : second) += qvsim::FuseRowText(rows[r]) + "\r\n";
    const std::string feature =
        "E" + std::string(64, '0') + "\r\n" + std::string(16, '0') + "*\r\n";
    struct Case {
        const char* address;
        bool endNote;
    };
    const Case cases[] = {
        {"L065280", true}, {"L065280", false}, {"L062720", true}, {"L062720", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.address) + (c.endNote ? " with the end note" : ""));
        const std::string text = "\x02*\r\nNOTE DEVICE NAME:\tLCMXO2-256HC-4SG32C*\r\nL000000\r\n" +
                                 first + "*\r\n" + c.address + "\r\n" + second + "*\r\n" +
                                 (c.endNote ? "NOTE END CONFIG DATA*\r\n" : "") + feature + "\x03";
        const CLatticeBin bin = Parse(text);
        ASSERT_TRUE(bin.IsParsed());
        EXPECT_EQ(bin.RowCount(), 575u);
        EXPECT_FALSE(bin.HasAllConfigRows());
    }
}

TEST(LatticeBin, FuseFieldsThatGoOnAreOneSection) {
    // A MachXO2-256 text whose 575 configuration rows come in two fuse fields of 500 and 75
    // rows, the first closed with '*': the second goes on the section when its fuse number goes
    // on where the first ends, and is a section of its own without one. Then 3 more rows, and
    // the end note where the fields say the configuration ends or a row later.
    const Rows rows = qvsim::RandomRows(575 + 3, 15);
    auto text = [&](size_t from, size_t to) {
        std::string t;
        for (size_t r = from; r < to; ++r) t += qvsim::FuseRowText(rows[r]) + "\r\n";
        return t;
    };
    const std::string feature =
        "E" + std::string(64, '0') + "\r\n" + std::string(16, '0') + "*\r\n";
    const std::string endNote = "*\r\nNOTE END CONFIG DATA*\r\n";
    struct Case {
        const char* what;
        std::string second;  // what opens the second field
        std::string afterConfig;
        std::string tail;  // after the last row
        uint32_t sectionRows;
        bool all;
    };
    const Case cases[] = {
        {"going on, end note", "L064000\r\n", endNote, "", 575, true},
        {"going on after a note", "NOTE EBR_INIT DATA*\r\nL064000\r\n", endNote, "", 575, true},
        {"going on, UFM note", "L064000\r\n", "*\r\nNOTE TAG DATA*\r\nL073600\r\n", "", 575, true},
        {"going on, UFM numbered from 0", "L064000\r\n", "*\r\nL000000\r\n", "", 575, true},
        {"going on, UFM without a number", "L064000\r\n", "*\r\n", "", 575, true},
        {"going on, nothing after", "L064000\r\n", "", "", 578, true},
        {"going on, end note a row late", "L064000\r\n", "", endNote, 578, false},
        {"no number, end note", "", endNote, "", 500, false},
        {"L without digits, end note", "L\r\n", endNote, "", 500, false},
        {"no number, nothing after", "", "", "", 500, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string t = "\x02*\r\nNOTE DEVICE NAME:\tLCMXO2-256HC-4SG32C*\r\nL000000\r\n" +
                              text(0, 500) + "*\r\n" + c.second + text(500, 575) + c.afterConfig +
                              text(575, 578) + c.tail + "*\r\n" + feature + "\x03";
        const CLatticeBin bin = Parse(t);
        ASSERT_TRUE(bin.IsParsed());
        EXPECT_EQ(bin.RowCount(), 578u);
        EXPECT_EQ(bin.ConfigSectionRows(), c.sectionRows);
        EXPECT_EQ(bin.HasAllConfigRows(), c.all);
        EXPECT_EQ(bin.ConfigBytes(), 575u * 16);
        EXPECT_EQ(bin.UfmBytes(), 3u * 16);
        ExpectRows(bin.UfmData(), rows, 575, 3);
    }
}

TEST(LatticeBin, AddressLinesOfAnyWidthAndEnding) {
    // L fields as JEDEC writes them: decimal fuse numbers, with or without leading zeros and
    // a closing '*'; an L line without digits says nothing about where rows go.
    const Rows rows = qvsim::RandomRows(3, 9);
    std::string body;
    for (const auto& r : rows) body += qvsim::FuseRowText(r) + "\n";
    const std::string feature = "E" + std::string(64, '0') + "\n" + std::string(16, '0') + "*\n";
    struct Case {
        const char* line;
        uint32_t sectionRows;
    };
    const Case cases[] = {
        {"L384", 6},    {"L0000384", 6}, {"L384*", 6}, {"L000385", 3},
        {"L0*", 3},     {"L", 6},        {"Lx", 6},    {"L99999999999999999999", 3},
        {"L000256", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const std::string text = "\x02\nNOTE DEVICE NAME: LCMXO2-256HC*\nL000000\n" + body +
                                 c.line + "\n" + body + "*\n" + feature + "\x03";
        const CLatticeBin bin = Parse(text);
        ASSERT_TRUE(bin.IsParsed());
        EXPECT_EQ(bin.RowCount(), 6u);
        EXPECT_EQ(bin.ConfigSectionRows(), c.sectionRows);
    }
}

TEST(LatticeBin, UfmRowsUpToTheBufferAndNoMore) {
    JedecSpec spec;
    spec.deviceName = "LCMXO2-256HC";
    spec.rows = qvsim::RandomRows(575 + 2048, 3);
    const CLatticeBin full = Parse(BuildJedec(spec));
    ASSERT_TRUE(full.IsParsed());
    EXPECT_EQ(full.UfmBytes(), 32768u);
    ExpectRows(full.UfmData(), spec.rows, 575, 2048);
    spec.rows.push_back(spec.rows.front());
    EXPECT_FALSE(Parse(BuildJedec(spec)).IsParsed());
}

TEST(LatticeBin, LongLinesAreCutNotSplit) {
    const std::string row = qvsim::FuseRowText(qvsim::RandomRows(1, 4)[0]);
    const std::string feature = "E" + std::string(64, '0') + "\n" + std::string(16, '0') + "\n";
    // A comment of exactly 1024 characters, and one of 1024 characters followed by what
    // would read as a fuse row if the rest of the line were taken as a line of its own.
    const std::string exact = "N" + std::string(1023, 'x');
    const std::string longer = "N" + std::string(1023, 'x') + std::string(128, '0');
    const CLatticeBin bin =
        Parse("\x02\n" + exact + "\n" + longer + "\r\n" + row + "\n" + feature + "\x03");
    ASSERT_TRUE(bin.IsParsed());
    EXPECT_EQ(bin.RowCount(), 1u);
    EXPECT_EQ(bin.ConfigBytes(), 16u);
}

TEST(LatticeBin, MalformedTextsAreNotParsed) {
    const std::string row = qvsim::FuseRowText(qvsim::RandomRows(1, 5)[0]);
    const std::string e = "E" + std::string(64, '1');
    const std::string bits = std::string(16, '0');
    const std::string good = "\x02\n" + row + "\n" + e + "\n" + bits + "\n\x03";
    ASSERT_TRUE(Parse(good).IsParsed());
    struct Case {
        const char* what;
        std::string text;
    };
    const Case cases[] = {
        {"empty", ""},
        {"line ends only", "\r\n\r\n"},
        {"no STX", "*\n" + row + "\n" + e + "\n" + bits + "\n\x03"},
        {"short row", "\x02\n" + row.substr(1) + "\n" + e + "\n" + bits + "\n\x03"},
        {"long row", "\x02\n" + row + "0\n" + e + "\n" + bits + "\n\x03"},
        {"row with another character", "\x02\n" + row.substr(0, 127) + "2\n" + e + "\n" + bits},
        {"short feature row", "\x02\n" + row + "\n" + e.substr(0, 64) + "\n" + bits + "\n\x03"},
        {"feature row with another character",
         "\x02\n" + row + "\nE" + std::string(63, '0') + "x\n" + bits + "\n\x03"},
        {"no feature bits line", "\x02\n" + row + "\n" + e + "\n"},
        {"short feature bits line", "\x02\n" + row + "\n" + e + "\n" + bits.substr(1) + "\n"},
        {"no feature row", "\x02\n" + row + "\n\x03"},
        {"feature row after the end", "\x02\n" + row + "\n\x03\n" + e + "\n" + bits + "\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const CLatticeBin bin = Parse(c.text);
        EXPECT_FALSE(bin.IsParsed());
        EXPECT_EQ(bin.ConfigBytes(), 0u);
        EXPECT_EQ(bin.UfmBytes(), 0u);
    }
    EXPECT_FALSE(CLatticeBin(nullptr, 10).IsParsed());
    EXPECT_FALSE(CLatticeBin(good.data(), -1).IsParsed());
}

}  // namespace
