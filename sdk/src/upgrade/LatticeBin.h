// CLatticeBin: the JEDEC fuse file of a Lattice MachXO2 FPGA (JESD3 text, as the vendor's tools
// write it) turned into the byte rows the USB 2.0 camera upgrade programs over I2C:
// configuration rows, UFM rows, the feature row and the feature bits. It parses once, in the
// constructor, from text the caller keeps alive.
//
// The text, line by line:
//   STX (0x02)                      first line; without it nothing is parsed
//   NOTE DEVICE NAME: LCMXO2-...    the device, which fixes how many rows are configuration
//                                   (code 3, MachXO2-1200, when no such line names one)
//   128 characters of '0' and '1'   one fuse row: 16 bytes, first character most significant;
//                                   the device's configuration rows first, then UFM rows
//   L + decimal digits              a fuse field: the fuse number of its first row (128 fuses
//                                   a row)
//   '*' first on a line             the end of the fuse field
//   NOTE END CONFIG DATA            the end of the configuration section
//   NOTE TAG DATA                   the UFM section begins
//   E + 64 characters               the feature row (8 bytes, read from the last character
//                                   backwards), and on the next line 16 characters of feature
//                                   bits (2 bytes, read the same way)
//   ETX (0x03)                      the end
//   'C', 'D', 'G', 'U' and anything else: ignored
// A malformed fuse row or feature line, or more rows than the buffers hold (32768 rows in all,
// 2048 of them past the device's configuration rows), fails the parse. Rows are split by their
// place in the text, by the device the text names (its last NOTE DEVICE NAME line, wherever it
// stands): the device's configuration rows first. A text that parses may still not hold the
// device's configuration (a file cut short keeps its feature lines, a configuration section
// cut short or too long is followed by its UFM section): HasAllConfigRows tells whether it can
// configure the whole device.
//
// The configuration section ends at the first of: its end note; the UFM section's note; a fuse
// row after a field closed with '*' and no fuse number that goes on where the rows before it
// end; an L line whose fuse number does not go on there (the UFM section, whether numbered on
// from the configuration fuse numbers or again from 0, or configuration rows with a gap or an
// overlap, which would be programmed one after the other all the same). A fuse list split into
// fields whose numbers go on is one section. An end note after such a break leaves rows before
// it that are no configuration.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

class CLatticeBin {
  public:
    static constexpr size_t kLineCapacity = 1024;  // characters of one line; longer ones are cut
    static constexpr size_t kRowChars = 128;
    static constexpr size_t kRowBytes = 16;
    static constexpr size_t kConfigCapacity = 512 * 1024;
    static constexpr size_t kUfmCapacity = 32 * 1024;
    static constexpr size_t kFeatureRowBytes = 8;
    static constexpr size_t kFeatureBitsBytes = 2;
    static constexpr uint32_t kDefaultDevice = 3;

    struct Device {
        const char* name;
        uint32_t configRows;
        uint32_t ufmRows;
        uint32_t further[4];  // carried with the table; nothing here reads them
    };
    static constexpr Device kDevices[] = {
        {"MachXO2-256", 575, 0, {700, 0, 1, 0}},
        {"MachXO2-640", 1152, 191, {1100, 600, 1, 0}},
        {"MachXO2-640U", 2175, 512, {1400, 700, 1, 0}},
        {"MachXO2-1200", 2175, 512, {1400, 700, 1, 0}},
        {"MachXO2-1200U", 3200, 639, {1900, 900, 2, 0}},
        {"MachXO2-2000", 3200, 639, {1900, 900, 2, 0}},
        {"MachXO2-2000U", 5760, 767, {3100, 1000, 3, 0}},
        {"MachXO2-4000", 5760, 767, {3100, 1000, 3, 0}},
        {"MachXO2-7000", 9216, 2046, {4800, 1600, 4, 0}},
    };

    CLatticeBin(const char* text, int length);
    virtual ~CLatticeBin();
    CLatticeBin(const CLatticeBin&) = delete;
    CLatticeBin& operator=(const CLatticeBin&) = delete;

    bool IsParsed() const { return m_parsed; }
    // Parsed, with every configuration row of its device in its configuration section, one
    // unbroken run of fuse numbers up to its end note when it has one: programming fewer would
    // leave the part with a partial configuration, and a section of another size would put UFM
    // rows among the configuration rows or the other way round. A text with no sign of where
    // the section ends holds it when it holds enough rows.
    bool HasAllConfigRows() const;
    // The fuse rows of the configuration section, up to the first of its ends (all rows when
    // nothing ends it).
    uint32_t ConfigSectionRows() const;
    uint32_t ConfigRowsNeeded() const { return kDevices[m_deviceCode].configRows; }
    uint32_t DeviceCode() const { return m_deviceCode; }
    uint32_t RowCount() const { return m_rows; }
    const uint8_t* ConfigData() const { return m_config.get(); }  // null without rows
    uint32_t ConfigBytes() const { return m_configBytes; }
    const uint8_t* UfmData() const { return m_ufm.get(); }  // null without UFM rows
    uint32_t UfmBytes() const { return m_ufmBytes; }
    // The feature row (8 bytes) followed by the feature bits (2 bytes).
    const uint8_t* Features() const { return m_features; }

    // The device code a "NOTE DEVICE NAME:" text names (kDefaultDevice when none).
    static uint32_t DeviceCodeOf(const char* name);

  private:
    // The next line into buf (at most kLineCapacity characters and a terminator): its length,
    // 0 when only line ends were left, -1 at the end of the text.
    int ReadLine(char* buf);
    bool Parse();
    // Splits the rows read into configuration and UFM rows by the device the whole text names.
    bool SplitRows();
    bool AddRow(const char* line, size_t length);
    bool ReadFeatures(const char* eLine, size_t length);
    // An L line: where the next row goes.
    void FuseAddress(const char* line, size_t length);
    void EndConfigSection(uint32_t* at);
    // The configuration section ends otherwise than by its end note.
    void BreakConfigSection() { EndConfigSection(&m_rowsAtBreak); }

    uint32_t m_deviceCode = kDefaultDevice;
    uint32_t m_rows = 0;
    uint32_t m_configBytes = 0;
    uint32_t m_ufmBytes = 0;
    // kConfigCapacity, made at the first row: every row as read, until the split leaves the
    // configuration rows at its start.
    std::unique_ptr<uint8_t[]> m_config;
    std::unique_ptr<uint8_t[]> m_ufm;  // kUfmCapacity, made when there are UFM rows
    uint8_t m_features[kFeatureRowBytes + kFeatureBitsBytes] = {};
    const char* m_text;
    size_t m_left;
    bool m_parsed = false;
    // Where the configuration section ends, in rows: at its end note, and at its first other
    // end (see above); kOpen until seen.
    static constexpr uint32_t kOpen = UINT32_MAX;
    uint32_t m_rowsAtEndNote = kOpen;
    uint32_t m_rowsAtBreak = kOpen;
    uint64_t m_firstFuse = 0;  // fuse number of the first row (the first L line before any row)
    // A '*' closed the field of the last rows, and no L line has said where the next go since.
    bool m_fieldClosed = false;
};
