// The USB 2.0 camera update on the in-process link to a simulated camera: the EEPROM image, the
// MachXO2 programmer over I2C (models of the part's configuration port) and the GW1N flash
// writer on the configuration port, with the pauses taken on a recording clock.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "LogCapture.h"
#include "SimGw1n.h"
#include "SimMachXO2.h"
#include "SimUsbInProcessCamera.h"
#include "StorageImage.h"
#include "UpgradeFiles.h"
#include "UpgradeTestSupport.h"
#include "upgrade/LatticeBin.h"
#include "upgrade/UpgradeU2Camera.h"

namespace {

using qvsim::TempFile;
using qvsim::UpgradeElementSpec;
using qvsim::UpgradeFileSpec;
using upgradetest::ProgressLog;
using upgradetest::RecordingClock;

constexpr uint16_t kDeviceId = 0x0120;
constexpr size_t kStorageBase = 0x3800;

class UsbTwoUpgrade : public ::testing::Test {
  protected:
    void SetUp() override {
        SimUsbCameraConfig config;
        config.generation = SimUsbGeneration::kUsb2;
        model = std::make_shared<CSimUsbCamera>(config);
        qvsim::StoredFields f;
        f.serial[0] = "U2UPG01";
        f.productName = "QV-U2";
        f.sensorType = upgradetest::kSensorType;
        qvsim::SetPropertyWord(f.property, qvsim::kPropModelCode, upgradetest::kBoardCode);
        qvsim::SetPropertyWord(f.property, qvsim::kPropWrittenFlag, 1);
        std::vector<uint8_t> eeprom(model->StorageSize(), 0xFF);
        qvsim::WriteStorageImage(eeprom, qvsim::StorageLayout::kEeprom1, f);
        model->WriteStorage(0, eeprom);
        camera = std::make_unique<CSimUsbInProcessCamera>(model);
        ASSERT_TRUE(camera->OpenStorage());
        tDevInfo info{};
        info.uDeviceId = kDeviceId;
        camera->SetDeviceInfo(info);
        machxo2 = std::make_unique<CSimMachXO2>(
            *model, SimMachXO2Config{.featureRow = kFeatureRow, .featureBits = kFeatureBits});
        gw1n = std::make_unique<CSimGw1n>(*model);
        stored = model->ReadStorage(kStorageBase, 0x10000 - kStorageBase);
    }

    int RunUpgrade(std::vector<UpgradeElementSpec> elements, ProgressLog* log = nullptr) {
        UpgradeFileSpec f;
        f.deviceId = kDeviceId;
        f.support = {{upgradetest::kSensorType, upgradetest::kBoardCode}};
        f.elements = std::move(elements);
        const TempFile file(qvsim::BuildUpgradeFile(f));
        CUpgradeU2Camera up(camera.get());
        return up.Upgrade(file.CPath(), log != nullptr ? &ProgressLog::Callback : nullptr, log);
    }

    std::vector<SimI2cWrite> FpgaWrites() const {
        std::vector<SimI2cWrite> out;
        for (auto& w : model->I2cWrites())
            if ((w.address & 0xFF) == CSimMachXO2::kBusAddress) out.push_back(w);
        return out;
    }
    std::vector<uint8_t> LastFpgaWrite(size_t back = 0) const {
        const auto w = FpgaWrites();
        return w.size() > back ? w[w.size() - 1 - back].data : std::vector<uint8_t>{};
    }

    static constexpr std::array<uint8_t, 8> kFeatureRow{0x00, 0x00, 0x00, 0x00,
                                                        0x00, 0x08, 0x00, 0x00};
    static constexpr std::array<uint8_t, 2> kFeatureBits{0x60, 0x04};

    RecordingClock clock;
    std::shared_ptr<CSimUsbCamera> model;
    std::unique_ptr<CSimUsbInProcessCamera> camera;
    std::unique_ptr<CSimMachXO2> machxo2;
    std::unique_ptr<CSimGw1n> gw1n;
    std::vector<uint8_t> stored;  // the identity and user data from 0x3800
};

std::string Jedec(size_t configRows, std::array<uint8_t, 8> featureRow,
                  std::array<uint8_t, 2> featureBits, uint32_t seed = 1) {
    qvsim::JedecSpec spec;
    spec.deviceName = "LCMXO2-256HC-4SG32C";  // 575 configuration rows and no UFM
    spec.rows = qvsim::RandomRows(configRows, seed);
    spec.featureRow = featureRow;
    spec.featureBits = featureBits;
    return qvsim::BuildJedec(spec);
}

std::vector<uint8_t> Bytes(const std::string& s) {
    return {s.begin(), s.end()};
}

// ---- EEPROM -----------------------------------------------------------------------------------

TEST_F(UsbTwoUpgrade, EepromImageLandsInPiecesAndSkipsUnknownTypes) {
    const std::vector<uint8_t> image = qvsim::RandomBytes(3000, 11);
    ProgressLog log;
    qvsim::LogCapture logs;
    ASSERT_EQ(
        RunUpgrade({{.type = 2, .data = qvsim::RandomBytes(100, 12)}, {.type = 1, .data = image}},
                   &log),
        0);
    EXPECT_EQ(model->ReadStorage(0, image.size()), image);
    EXPECT_EQ(model->ReadStorage(kStorageBase, stored.size()), stored);
    EXPECT_EQ(logs.Count("flash type 2\n"), 1);
    // Pieces of 1024, 1024 and 952 bytes after the 100 skipped.
    for (const char* line : {"write total byte size 1124\r\n", "write total byte size 2148\r\n",
                             "write total byte size 3100\r\n"})
        EXPECT_EQ(logs.Count(line), 1) << line;
    EXPECT_EQ(log.values, (std::vector<int>{0, 35, 68, 99, 100}));
    EXPECT_TRUE(FpgaWrites().empty());
}

TEST_F(UsbTwoUpgrade, EepromImageUpToTheStoredIdentity) {
    const std::vector<uint8_t> before = model->ReadStorage(0, 0x10000);
    EXPECT_EQ(RunUpgrade({{.type = 1, .data = qvsim::RandomBytes(0x3801, 13)}}),
              CAMERA_STATUS_UPGRADE_WRITE_FAILED);
    EXPECT_EQ(model->ReadStorage(0, 0x10000), before);
    const std::vector<uint8_t> image = qvsim::RandomBytes(0x3800, 14);
    ASSERT_EQ(RunUpgrade({{.type = 1, .data = image}}), 0);
    EXPECT_EQ(model->ReadStorage(0, image.size()), image);
    EXPECT_EQ(model->ReadStorage(kStorageBase, stored.size()), stored);
}

// ---- MachXO2 ----------------------------------------------------------------------------------

TEST_F(UsbTwoUpgrade, MachXO2WithItsOwnFeatureRowEndsWithRefresh) {
    // A MachXO2-640: its 1152 configuration rows, then 3 of its 191 UFM rows.
    qvsim::JedecSpec spec;
    spec.deviceName = "LCMXO2-640HC-4TG100C";
    spec.rows = qvsim::RandomRows(1152 + 3, 1);
    spec.featureRow = kFeatureRow;
    spec.featureBits = kFeatureBits;
    const std::string text = qvsim::BuildJedec(spec);
    const CLatticeBin jedec(text.data(), static_cast<int>(text.size()));
    ASSERT_TRUE(jedec.IsParsed());
    ProgressLog log;
    ASSERT_EQ(RunUpgrade({{.type = 3, .data = Bytes(text)}}, &log), 0);

    ASSERT_EQ(machxo2->ConfigRows().size(), 1152u);
    ASSERT_EQ(machxo2->UfmRows().size(), 3u);
    for (size_t r = 0; r < 1152; ++r)
        ASSERT_EQ(std::memcmp(machxo2->ConfigRows()[r].data(), jedec.ConfigData() + 16 * r, 16), 0);
    for (size_t r = 0; r < 3; ++r)
        ASSERT_EQ(std::memcmp(machxo2->UfmRows()[r].data(), jedec.UfmData() + 16 * r, 16), 0);
    EXPECT_EQ(machxo2->Erases(), 1);
    EXPECT_TRUE(machxo2->Done());
    EXPECT_FALSE(machxo2->ConfigMode());
    EXPECT_EQ(machxo2->Refreshes(), 1);
    EXPECT_EQ(machxo2->FeatureWrites(), 0);
    // Refresh, then the status check.
    EXPECT_EQ(LastFpgaWrite(2), (std::vector<uint8_t>{0x26, 0x00, 0x00}));
    EXPECT_EQ(LastFpgaWrite(1), (std::vector<uint8_t>{0x79, 0x00, 0x00}));
    EXPECT_EQ(LastFpgaWrite(), (std::vector<uint8_t>{0x3C, 0x00, 0x00, 0x00}));
    EXPECT_TRUE(log.Sound());
    EXPECT_GT(log.values.size(), 50u);
    // The second between erase and programming, and the pause after each row.
    EXPECT_GE(clock.TotalUs(), 1000000u + 1155u * 200 + 22000);
}

TEST_F(UsbTwoUpgrade, MachXO2WithAnotherFeatureRowProgramsIt) {
    const std::array<uint8_t, 8> row{1, 2, 3, 4, 5, 6, 7, 8};
    const std::array<uint8_t, 2> bits{0x40, 0x06};
    ASSERT_EQ(RunUpgrade({{.type = 3, .data = Bytes(Jedec(575, row, bits))}}), 0);
    EXPECT_EQ(machxo2->ConfigRows().size(), 575u);
    EXPECT_EQ(machxo2->FeatureRow(), row);
    EXPECT_EQ(machxo2->FeatureBits(), bits);
    EXPECT_EQ(machxo2->FeatureWrites(), 1);
    EXPECT_EQ(machxo2->Refreshes(), 0);
    // The feature bits, then status reads until the part is no longer busy.
    std::vector<SimI2cWrite> writes = FpgaWrites();
    const std::vector<uint8_t> status{0x3C, 0x00, 0x00, 0x00};
    ASSERT_EQ(writes.back().data, status);
    while (!writes.empty() && writes.back().data == status) writes.pop_back();
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.back().data, (std::vector<uint8_t>{0xF8, 0x00, 0x00, 0x00, 0x40, 0x06}));
}

TEST_F(UsbTwoUpgrade, MachXO2FailuresLeaveConfigurationMode) {
    struct Case {
        const char* what;
        std::function<void(CSimMachXO2&)> fault;
        bool otherFeatures;
    };
    const Case cases[] = {
        {"verification mismatch", [](CSimMachXO2& m) { m.CorruptConfigReadBack(7); }, false},
        {"fail bit", [](CSimMachXO2& m) { m.SetFailBit(true); }, false},
        {"stays busy", [](CSimMachXO2& m) { m.SetStaysBusy(true); }, false},
        {"done never sets", [](CSimMachXO2& m) { m.SetDoneNeverSets(true); }, false},
        {"last busy poll fails", [](CSimMachXO2& m) { m.SetFeatureBitsFail(true); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        machxo2 = std::make_unique<CSimMachXO2>(
            *model, SimMachXO2Config{.featureRow = kFeatureRow, .featureBits = kFeatureBits});
        c.fault(*machxo2);
        const std::array<uint8_t, 8> row =
            c.otherFeatures ? std::array<uint8_t, 8>{9} : kFeatureRow;
        ProgressLog log;
        EXPECT_EQ(RunUpgrade({{.type = 3, .data = Bytes(Jedec(575, row, kFeatureBits))}}, &log),
                  CAMERA_STATUS_UPGRADE_WRITE_FAILED);
        EXPECT_EQ(LastFpgaWrite(1), (std::vector<uint8_t>{0x26, 0x00, 0x00}));
        EXPECT_EQ(LastFpgaWrite(), (std::vector<uint8_t>{0xFF}));
        EXPECT_FALSE(machxo2->ConfigMode());
        EXPECT_NE(log.values.back(), 100);
    }
}

TEST_F(UsbTwoUpgrade, UnparsableJedecIsRefusedBeforeAnythingIsWritten) {
    const std::vector<uint8_t> before = model->ReadStorage(0, 0x10000);
    std::string text = Jedec(10, kFeatureRow, kFeatureBits);
    text[0] = '*';  // no STX
    ProgressLog log;
    EXPECT_EQ(RunUpgrade({{.type = 1, .data = qvsim::RandomBytes(100, 15)},
                          {.type = 3, .data = Bytes(text)}},
                         &log),
              CAMERA_STATUS_UPGRADE_WRITE_FAILED);
    EXPECT_TRUE(FpgaWrites().empty());
    EXPECT_EQ(model->ReadStorage(0, 0x10000), before);
    EXPECT_TRUE(log.values.empty());
}

TEST_F(UsbTwoUpgrade, JedecWithRowsMissingIsRefusedBeforeAnythingIsErased) {
    // The feature lines and the end are there, the last configuration rows are not: such a
    // text would leave the part with a partial configuration.
    // With a UFM section (ufmFrom), the configuration section is what comes before it, however
    // many rows the whole text holds: its UFM rows would otherwise be programmed as
    // configuration rows, or configuration rows as UFM rows.
    struct Case {
        const char* device;
        size_t rows;
        const char* log;
        std::optional<size_t> ufmFrom{};
        bool endNote = true;
        std::optional<uint64_t> ufmAddress{};
    };
    const Case cases[] = {
        {"LCMXO2-256HC-4SG32C", 574,
         "upgrade element type 3 holds 574 of the 575 configuration rows of a MachXO2-256\n"},
        {"LCMXO2-256HC-4SG32C", 0,
         "upgrade element type 3 holds 0 of the 575 configuration rows of a MachXO2-256\n"},
        {"LCMXO2-1200HC-4TG100C", 575,
         "upgrade element type 3 holds 575 of the 2175 configuration rows of a MachXO2-1200\n"},
        // Short configuration sections followed by the whole UFM: ended by the note, by an L
        // address where the configuration rows would go on, by the UFM numbered from 0.
        {"LCMXO2-1200HC-4TG100C", 2100 + 512,
         "upgrade element type 3 holds 2100 of the 2175 configuration rows of a MachXO2-1200\n",
         2100},
        {"LCMXO2-1200HC-4TG100C", 2100 + 512,
         "upgrade element type 3 holds 2100 of the 2175 configuration rows of a MachXO2-1200\n",
         2100, false, 2175 * 128},
        {"LCMXO2-1200HC-4TG100C", 2174 + 512,
         "upgrade element type 3 holds 2174 of the 2175 configuration rows of a MachXO2-1200\n",
         2174, false, 0},
        // A section longer than the part's: its last rows would become UFM rows.
        {"LCMXO2-256HC-4SG32C", 576 + 1,
         "upgrade element type 3 holds 576 of the 575 configuration rows of a MachXO2-256\n", 576},
        {"", 3200 + 639,
         "upgrade element type 3 holds 3200 of the 2175 configuration rows of a MachXO2-1200\n",
         3200, false, 3200 * 128 + 1024},
    };
    const std::vector<uint8_t> before = model->ReadStorage(0, 0x10000);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.log);
        qvsim::JedecSpec spec;
        spec.deviceName = c.device;
        spec.rows = qvsim::RandomRows(c.rows, 21);
        spec.ufmFrom = c.ufmFrom;
        spec.endNote = c.endNote;
        spec.ufmAddress = c.ufmAddress;
        spec.featureRow = kFeatureRow;
        spec.featureBits = kFeatureBits;
        const std::string text = qvsim::BuildJedec(spec);
        ASSERT_TRUE(CLatticeBin(text.data(), static_cast<int>(text.size())).IsParsed());
        ProgressLog log;
        qvsim::LogCapture logs;
        EXPECT_EQ(RunUpgrade({{.type = 1, .data = qvsim::RandomBytes(100, 22)},
                              {.type = 3, .data = Bytes(text)}},
                             &log),
                  CAMERA_STATUS_UPGRADE_WRITE_FAILED);
        EXPECT_EQ(logs.Count(c.log), 1);
        EXPECT_TRUE(FpgaWrites().empty());
        EXPECT_EQ(machxo2->Erases(), 0);
        EXPECT_TRUE(machxo2->ConfigRows().empty());
        EXPECT_EQ(model->ReadStorage(0, 0x10000), before);
        EXPECT_TRUE(log.values.empty());
    }
}

TEST_F(UsbTwoUpgrade, JedecWithAShortSectionBeforeItsUfmAndNoEndNoteIsRefused) {
    // A MachXO2-1200 text with 2100 of its 2175 configuration rows, then its UFM section
    // ("*", "NOTE TAG DATA*" and the UFM fuse field numbered on from the rows before it), with
    // no end note: 75 of its UFM rows would be programmed as configuration rows.
    qvsim::JedecSpec spec;
    spec.deviceName = "LCMXO2-1200HC-4TG100C";
    spec.rows = qvsim::RandomRows(2100 + 512, 23);
    spec.ufmFrom = 2100;
    spec.endNote = false;
    spec.featureRow = kFeatureRow;
    spec.featureBits = kFeatureBits;
    const std::string text = qvsim::BuildJedec(spec);
    const std::vector<uint8_t> before = model->ReadStorage(0, 0x10000);
    ProgressLog log;
    qvsim::LogCapture logs;
    EXPECT_EQ(RunUpgrade({{.type = 3, .data = Bytes(text)}}, &log),
              CAMERA_STATUS_UPGRADE_WRITE_FAILED);
    EXPECT_EQ(logs.Count("upgrade element type 3 holds 2100 of the 2175 configuration rows of a "
                         "MachXO2-1200\n"),
              1);
    EXPECT_EQ(machxo2->Erases(), 0);
    EXPECT_TRUE(machxo2->ConfigRows().empty());
    EXPECT_EQ(model->ReadStorage(0, 0x10000), before);
    EXPECT_TRUE(log.values.empty());
}

TEST_F(UsbTwoUpgrade, JedecNamingItsDeviceAfterItsRowsProgramsNoRowAsTheOtherKind) {
    // A MachXO2-640 text (1152 configuration rows, 191 UFM rows, the end note between them)
    // whose device name note comes after the rows. Refused before the erase, or programmed as
    // the part it names: never its UFM rows as configuration rows.
    qvsim::JedecSpec spec;
    spec.rows = qvsim::RandomRows(1152 + 191, 24);
    spec.ufmFrom = 1152;
    spec.featureRow = kFeatureRow;
    spec.featureBits = kFeatureBits;
    std::string text = qvsim::BuildJedec(spec);
    const size_t feature = text.find("\r\nE");
    ASSERT_NE(feature, std::string::npos);
    text.insert(feature + 2, "NOTE DEVICE NAME:\tLCMXO2-640HC-4TG100C*\r\n");
    const int r = RunUpgrade({{.type = 3, .data = Bytes(text)}});
    if (r == CAMERA_STATUS_SUCCESS) {
        EXPECT_EQ(machxo2->ConfigRows().size(), 1152u);
        EXPECT_EQ(machxo2->UfmRows().size(), 191u);
    } else {
        EXPECT_EQ(r, CAMERA_STATUS_UPGRADE_WRITE_FAILED);
        EXPECT_EQ(machxo2->Erases(), 0);
    }
}

TEST_F(UsbTwoUpgrade, JedecWithMoreUfmRowsThanItsPartHoldsIsRefusedBeforeTheErase) {
    // Every MachXO2 part, its configuration section whole and closed by the end note, then a
    // UFM section one row longer than the part's UFM (the MachXO2-256 has none): those rows
    // have nowhere to go on the part, so the text is refused before anything is erased.
    struct Case {
        const char* name;
        const char* device;
        size_t config;
        size_t ufm;
    };
    const Case cases[] = {
        {"LCMXO2-256HC-4SG32C", "MachXO2-256", 575, 0},
        {"LCMXO2-640HC-4TG100C", "MachXO2-640", 1152, 191},
        {"LCMXO2-640UHC-4TG144C", "MachXO2-640U", 2175, 512},
        {"LCMXO2-1200HC-4TG100C", "MachXO2-1200", 2175, 512},
        {"LCMXO2-1200UHC-4FTG256C", "MachXO2-1200U", 3200, 639},
        {"LCMXO2-2000HC-4TG100C", "MachXO2-2000", 3200, 639},
        {"LCMXO2-2000UHC-4FTG256C", "MachXO2-2000U", 5760, 767},
        {"LCMXO2-4000HC-4TG144C", "MachXO2-4000", 5760, 767},
        {"LCMXO2-7000HC-4TG144C", "MachXO2-7000", 9216, 2046},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        qvsim::JedecSpec spec;
        spec.deviceName = c.name;
        spec.rows = qvsim::RandomRows(c.config + c.ufm + 1, 31);
        spec.ufmFrom = c.config;
        spec.featureRow = kFeatureRow;
        spec.featureBits = kFeatureBits;
        const std::string text = qvsim::BuildJedec(spec);
        const int erasesBefore = machxo2->Erases();
        qvsim::LogCapture logs;
        EXPECT_EQ(RunUpgrade({{.type = 3, .data = Bytes(text)}}),
                  CAMERA_STATUS_UPGRADE_WRITE_FAILED);
        EXPECT_EQ(machxo2->Erases(), erasesBefore);
        EXPECT_EQ(logs.Count("upgrade element type 3 holds " + std::to_string(c.ufm + 1) +
                             " UFM rows, more than the " + std::to_string(c.ufm) + " of a " +
                             c.device + "\n"),
                  1);
    }
}

TEST_F(UsbTwoUpgrade, EmptyElementsProgramNothing) {
    // An empty EEPROM image and an empty GW1N image: nothing to write, so the configuration
    // port is not even opened (the GW1N writer would erase the part's flash).
    const std::vector<uint8_t> before = model->ReadStorage(0, 0x10000);
    ProgressLog log;
    ASSERT_EQ(RunUpgrade({{.type = 4, .data = {}}, {.type = 1, .data = {}}}, &log), 0);
    EXPECT_TRUE(gw1n->Instructions().empty());
    for (const auto& r : model->Requests()) EXPECT_NE(r.setup.request, 0xE3);
    EXPECT_EQ(model->ReadStorage(0, 0x10000), before);
    EXPECT_EQ(log.values, (std::vector<int>{0, 100}));
}

// ---- GW1N -------------------------------------------------------------------------------------

TEST_F(UsbTwoUpgrade, Gw1nTenBytesAreOnePageWithTheLastWordFilledUp) {
    const std::vector<uint8_t> image{0x10, 0x11, 0x12, 0x13, 0x20, 0x21, 0x22, 0x23, 0x30, 0x31};
    ProgressLog log;
    ASSERT_EQ(RunUpgrade({{.type = 4, .data = image}}, &log), 0);
    const auto pages = gw1n->Pages();
    ASSERT_EQ(pages.size(), 1u);
    ASSERT_EQ(pages.count(0), 1u);
    std::vector<uint8_t> expected{0x4E, 0x31, 0x57, 0x47,  // the image header word
                                  0x13, 0x12, 0x11, 0x10, 0x23, 0x22,
                                  0x21, 0x20, 0xFF, 0xFF, 0x31, 0x30};
    expected.resize(256, 0xFF);
    EXPECT_EQ(pages.at(0), expected);
    EXPECT_TRUE(gw1n->Done());
    EXPECT_FALSE(gw1n->PortOpen());
    EXPECT_EQ(gw1n->FlashErases(), 1);
    EXPECT_EQ(log.values, (std::vector<int>{0, 99, 100}));

    // The running part left its configuration before the flash erase, and the page went out
    // after its address.
    const auto ins = gw1n->Instructions();
    const std::vector<std::pair<uint8_t, uint8_t>> head(ins.begin(), ins.begin() + 9);
    EXPECT_EQ(head, (std::vector<std::pair<uint8_t, uint8_t>>{{0x41, 5},
                                                              {0x15, 5},
                                                              {0x05, 5},
                                                              {0x02, 5},
                                                              {0x09, 5},
                                                              {0x02, 5},
                                                              {0x3A, 5},
                                                              {0x02, 5},
                                                              {0x15, 5}}));
    EXPECT_NE(std::find(ins.begin(), ins.end(), std::make_pair<uint8_t, uint8_t>(0x71, 200)),
              ins.end());
}

TEST_F(UsbTwoUpgrade, Gw1nImageOfSeveralPages) {
    const std::vector<uint8_t> image = qvsim::RandomBytes(1001, 16);
    ProgressLog log;
    ASSERT_EQ(RunUpgrade({{.type = 4, .data = image}}, &log), 0);
    const auto pages = gw1n->Pages();
    std::vector<uint32_t> addresses;
    for (const auto& p : pages) addresses.push_back(p.first);
    EXPECT_EQ(addresses, (std::vector<uint32_t>{0, 64, 128, 192}));
    // Word k of the image, byte order reversed, follows the header word.
    const std::vector<uint8_t> flash = gw1n->Flash();
    std::vector<uint8_t> padded = image;
    padded.resize(1004, 0xFF);
    for (size_t k = 0; k < padded.size() / 4; ++k)
        for (size_t b = 0; b < 4; ++b)
            ASSERT_EQ(flash[4 + 4 * k + b], padded[4 * k + 3 - b]) << "word " << k;
    EXPECT_EQ(flash.size(), 1024u);
    EXPECT_TRUE(log.Sound());
    EXPECT_EQ(log.values.size(), 6u);
}

TEST_F(UsbTwoUpgrade, Gw1nFailuresCloseThePort) {
    struct Case {
        const char* what;
        std::function<void(CSimGw1n&)> fault;
        bool opens;
    };
    const Case cases[] = {
        {"port refuses to open", [](CSimGw1n& g) { g.SetRefuseOpen(true); }, false},
        {"port check fails", [](CSimGw1n& g) { g.SetFailCheck(true); }, true},
        {"erase leaves done set", [](CSimGw1n& g) { g.SetDoneStuck(true); }, true},
        {"done never rises", [](CSimGw1n& g) { g.SetDoneNeverRises(true); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        gw1n = std::make_unique<CSimGw1n>(*model);
        c.fault(*gw1n);
        model->ClearRequests();
        EXPECT_EQ(RunUpgrade({{.type = 4, .data = qvsim::RandomBytes(64, 17)}}),
                  CAMERA_STATUS_UPGRADE_WRITE_FAILED);
        EXPECT_FALSE(gw1n->PortOpen());
        if (!c.opens) {
            EXPECT_TRUE(gw1n->Instructions().empty());
            continue;
        }
        // The last configuration-port request closes it.
        const auto requests = model->Requests();
        ASSERT_FALSE(requests.empty());
        EXPECT_EQ(requests.back().setup.request, 0xE3);
        EXPECT_EQ(requests.back().setup.index, 161);
    }
}

}  // namespace
