// Firmware update of USB cameras end to end: upgrade files made from the format go through
// CameraUpgrade to simulated USB 3.0 and USB 2.0 cameras behind the real libusb, and what lands
// in the cameras (flash, EEPROM, the MachXO2 and GW1N models) is compared byte for byte with the
// elements. Refused files change nothing.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "SimGw1n.h"
#include "SimMachXO2.h"
#include "UpgradeFiles.h"
#include "UsbEndToEndFixture.h"
#include "upgrade/UpgradeClock.h"

namespace {

using e2etest::UsbEndToEnd;
using qvsim::TempFile;
using qvsim::UpgradeElementSpec;
using qvsim::UpgradeFileSpec;

constexpr uint32_t kDeviceIdWord = 0x02900000;  // the upgrade files name its high half
constexpr uint32_t kDeviceId = kDeviceIdWord >> 16;
constexpr int32_t kSensor = 37;
constexpr uint32_t kBoard = 0xAA220002;

struct Progress {
    std::vector<int> values;
    static void Callback(int percent, void* context) {
        static_cast<Progress*>(context)->values.push_back(percent);
    }
    // 0 first, 100 last, rising in between and within 1..99.
    bool Sound() const {
        if (values.size() < 3 || values.front() != 0 || values.back() != 100) return false;
        for (size_t i = 1; i + 1 < values.size(); ++i)
            if (values[i] < 1 || values[i] > 99 || values[i] <= values[i - 1]) return false;
        return true;
    }
};

// The FPGA procedures' pauses (a second after the MachXO2 erase, and more) are counted, not
// taken.
class CountingClock : public UpgradeClock {
  public:
    CountingClock() : m_replaced(UpgradeClock::Install(this)) {}
    ~CountingClock() override { UpgradeClock::Install(m_replaced); }
    void SleepUs(unsigned us) override { m_us += us; }
    uint64_t Us() const { return m_us.load(); }

  private:
    UpgradeClock* m_replaced;
    std::atomic<uint64_t> m_us{0};
};

UpgradeFileSpec File(std::vector<UpgradeElementSpec> elements) {
    UpgradeFileSpec f;
    f.deviceId = kDeviceId;
    f.support = {{kSensor, kBoard}};
    f.elements = std::move(elements);
    return f;
}

class UsbUpgradeEndToEnd : public UsbEndToEnd {
  protected:
    CSimUsbImx290Camera& PlugCamera(int address, const char* serial, SimUsbGeneration gen) {
        SimImx290Options o;
        o.serial = serial;
        o.port = {1, address};
        o.fps = 5;
        o.generation = gen;
        o.deviceId = kDeviceIdWord;
        o.sensorType = kSensor;
        o.modelCode = kBoard;
        m_cameras.push_back(std::make_unique<CSimUsbImx290Camera>(*s_testbed, o));
        return *m_cameras.back();
    }
};

TEST_F(UsbUpgradeEndToEnd, Usb3FlashImagesLandByteForByte) {
    CSimUsbImx290Camera& cam = PlugCamera(20, "UPG-U3", SimUsbGeneration::kUsb3);
    ASSERT_EQ(EnumerateUntil(1), 0);
    HANDLE h = InitBySerial("UPG-U3");
    ASSERT_NE(h, nullptr);
    CSimUsbCamera& model = cam.Model();
    const std::vector<uint8_t> identity = model.ReadStorage(0x10000, 0x10000);

    // A refused file first: its second element is cut short, and nothing may be erased.
    const std::vector<uint8_t> firmware = qvsim::RandomBytes(40000, 1);
    const std::vector<uint8_t> fpga = qvsim::RandomBytes(70001, 2);
    const UpgradeFileSpec spec = File({{.type = 1, .data = firmware},
                                       {.type = 7, .data = qvsim::RandomBytes(300, 3)},
                                       {.type = 2, .data = fpga}});
    std::vector<uint8_t> bytes = qvsim::BuildUpgradeFile(spec);
    const std::vector<uint8_t> before = model.ReadStorage(0, 0x100000);
    const int erases = model.FlashErases();
    {
        std::vector<uint8_t> cut(bytes.begin(), bytes.end() - 1);
        const TempFile file(cut);
        Progress progress;
        EXPECT_EQ(CameraUpgrade(h, file.CPath(), &Progress::Callback, &progress),
                  CAMERA_STATUS_UPGRADE_READ_FAILED);
        EXPECT_TRUE(progress.values.empty());
    }
    EXPECT_EQ(model.FlashErases(), erases);
    EXPECT_EQ(model.ReadStorage(0, 0x100000), before);

    const TempFile file(bytes);
    Progress progress;
    ASSERT_EQ(CameraUpgrade(h, file.CPath(), &Progress::Callback, &progress), 0);
    EXPECT_TRUE(progress.Sound());
    EXPECT_EQ(model.ReadStorage(0, firmware.size()), firmware);
    EXPECT_EQ(model.ReadStorage(0x20000, fpga.size()), fpga);
    EXPECT_EQ(model.ReadStorage(0x10000, 0x10000), identity);

    // The camera still works, and its identity reads as before.
    tDevInfo info{};
    ASSERT_EQ(CameraGetEnumIndexInfo(0, &info), 0);
    EXPECT_STREQ(info.acSn, "UPG-U3");
    EXPECT_EQ(CameraUpgrade(h, nullptr, nullptr, nullptr), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(CameraUpgrade(nullptr, file.CPath(), nullptr, nullptr),
              CAMERA_STATUS_PARAMETER_INVALID);
}

TEST_F(UsbUpgradeEndToEnd, Usb2EepromMachXO2AndGw1nLandByteForByte) {
    CountingClock clock;
    CSimUsbImx290Camera& cam = PlugCamera(21, "UPG-U2", SimUsbGeneration::kUsb2);
    ASSERT_EQ(EnumerateUntil(1), 0);
    HANDLE h = InitBySerial("UPG-U2");
    ASSERT_NE(h, nullptr);
    CSimUsbCamera& model = cam.Model();
    // The FPGA parts the update programs; the GW1N takes over the configuration port, which
    // the board's FPGA used at the stream open.
    CSimMachXO2 machxo2(model, {.busyReads = 1});
    CSimGw1n gw1n(model);
    const std::vector<uint8_t> identity = model.ReadStorage(0x3800, 0x10000 - 0x3800);

    const std::vector<uint8_t> eeprom = qvsim::RandomBytes(5000, 4);
    qvsim::JedecSpec jedec;
    jedec.deviceName = "LCMXO2-256HC-4SG32C";
    jedec.rows = qvsim::RandomRows(575, 5);  // every configuration row of the part
    jedec.featureRow = {0, 0, 0, 0, 0, 0x08, 0, 0};
    const std::string jedecText = qvsim::BuildJedec(jedec);
    const std::vector<uint8_t> gw1nImage = qvsim::RandomBytes(1000, 6);
    const TempFile file(qvsim::BuildUpgradeFile(
        File({{.type = 1, .data = eeprom},
              {.type = 3, .data = std::vector<uint8_t>(jedecText.begin(), jedecText.end())},
              {.type = 4, .data = gw1nImage}})));
    Progress progress;
    ASSERT_EQ(CameraUpgrade(h, file.CPath(), &Progress::Callback, &progress), 0);
    EXPECT_TRUE(progress.Sound());

    EXPECT_EQ(model.ReadStorage(0, eeprom.size()), eeprom);
    EXPECT_EQ(model.ReadStorage(0x3800, identity.size()), identity);
    ASSERT_EQ(machxo2.ConfigRows().size(), jedec.rows.size());
    for (size_t r = 0; r < jedec.rows.size(); ++r)
        EXPECT_EQ(machxo2.ConfigRows()[r], jedec.rows[r]) << "row " << r;
    EXPECT_TRUE(machxo2.Done());
    EXPECT_EQ(machxo2.FeatureRow(), jedec.featureRow);
    // The GW1N flash: the header word, then the image's words with their bytes reversed.
    const std::vector<uint8_t> flash = gw1n.Flash();
    ASSERT_GE(flash.size(), 4 + gw1nImage.size());
    for (size_t k = 0; k < gw1nImage.size() / 4; ++k)
        for (size_t b = 0; b < 4; ++b)
            ASSERT_EQ(flash[4 + 4 * k + b], gw1nImage[4 * k + 3 - b]) << "word " << k;
    EXPECT_TRUE(gw1n.Done());
    EXPECT_GE(clock.Us(), 1000000u);
}

}  // namespace
