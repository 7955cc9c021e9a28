// Firmware update of GigE cameras end to end: simulated cameras of the three flash maps (plain,
// "v3.0" and "v4.0" hardware) on loopback addresses of the program's own namespace take upgrade
// files through CameraUpgrade, written over GVCP into their 4 MiB flash; each element lands in
// its map's region, the boot record is stamped, and nothing else is erased. A file with an
// element too large for its region erases nothing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "QVCameraApi.h"
#include "SimGigeImx290Camera.h"
#include "SimNetns.h"
#include "UpgradeFiles.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using qvsim::TempFile;
using qvsim::UpgradeElementSpec;
using qvsim::UpgradeFileSpec;

constexpr uint32_t kDeviceId = 0x0290;  // the simulated camera's discovery answer
constexpr uint32_t kSensor = 37;
constexpr uint32_t kStamp = 0x20190719;

bool Eventually(const std::function<bool()>& condition, std::chrono::seconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

struct MapCase {
    const char* serial;
    const char* ip;
    uint32_t modelCode;
    const char* hardwareVersion;
    uint32_t type1, type2, type3;  // type3 0: accepted and not written
    uint32_t bootRecord;
    uint32_t type1Size;
};

const MapCase kMaps[] = {
    {"QVG-UPG-1", "127.0.0.20", 0xAA310003, "v1.0", 0x5C000, 0x70000, 0xF0000, 0x5B000, 0x14000},
    {"QVG-UPG-2", "127.0.0.21", 0xAA310006, "v3.0", 0x185000, 0x1C5000, 0x3C5000, 0x184000,
     0x40000},
    {"QVG-UPG-3", "127.0.0.22", 0xAA320001, "v4.0", 0x231000, 0x138000, 0, 0x2B1000, 0x80000},
};

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16) |
           static_cast<uint32_t>(b[at + 3]) << 24;
}

class GigeUpgradeEndToEnd : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        static bool done = false;
        if (done) return;
        done = true;
        qvsim::AddAddress("lo", "127.0.0.2", 8);
        s_home = std::filesystem::temp_directory_path() /
                 ("qv-gige-upgrade-" + std::to_string(static_cast<long>(getpid())));
        std::filesystem::create_directories(s_home);
        setenv("HOME", s_home.c_str(), 1);
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(s_home, ec);
        });
    }
    static inline std::filesystem::path s_home;
};

TEST_F(GigeUpgradeEndToEnd, EachFlashMapTakesItsRegions) {
    std::vector<std::unique_ptr<CSimGigeImx290Camera>> sims;
    for (const MapCase& m : kMaps) {
        SimGigeImx290Options o;
        o.serial = m.serial;
        o.ip = m.ip;
        o.modelCode = m.modelCode;
        o.hardwareVersion = m.hardwareVersion;
        o.macLast = static_cast<uint8_t>(sims.size() + 20);
        sims.push_back(std::make_unique<CSimGigeImx290Camera>(o));
    }
    int count = 0;
    ASSERT_TRUE(Eventually([&] { return CameraEnumerateDevice(&count) == 0 && count == 3; }, 20s));

    for (size_t i = 0; i < std::size(kMaps); ++i) {
        const MapCase& m = kMaps[i];
        SCOPED_TRACE(m.serial);
        qvsim::CSimGigeFirmware& fw = sims[i]->Firmware();
        HANDLE h = nullptr;
        ASSERT_EQ(CameraInitEx3(&h, m.serial), 0);
        const std::vector<uint8_t> flashBefore = fw.FlashBytes(0, 4u << 20);
        const size_t erasedBefore = fw.ErasedSectors().size();

        UpgradeFileSpec f;
        f.deviceId = kDeviceId;
        f.support = {{kSensor, m.modelCode}};
        // Too large for the type 1 region: refused before anything is erased.
        f.elements = {{.type = 2, .data = qvsim::RandomBytes(3000, 1)},
                      {.type = 1, .data = std::vector<uint8_t>(m.type1Size + 1, 0)}};
        {
            const TempFile refused(qvsim::BuildUpgradeFile(f));
            EXPECT_EQ(CameraUpgrade(h, refused.CPath(), nullptr, nullptr),
                      CAMERA_STATUS_UPGRADE_WRITE_FAILED);
            EXPECT_EQ(fw.ErasedSectors().size(), erasedBefore);
            EXPECT_EQ(fw.FlashBytes(0, 4u << 20), flashBefore);
        }

        const std::vector<uint8_t> one = qvsim::RandomBytes(20000, 2);
        const std::vector<uint8_t> two = qvsim::RandomBytes(30000, 3);
        const std::vector<uint8_t> three = qvsim::RandomBytes(5000, 4);
        f.elements = {
            {.type = 1, .data = one}, {.type = 2, .data = two}, {.type = 3, .data = three}};
        const TempFile file(qvsim::BuildUpgradeFile(f));
        std::vector<int> progress;
        auto record = [](int p, void* ctx) { static_cast<std::vector<int>*>(ctx)->push_back(p); };
        ASSERT_EQ(CameraUpgrade(h, file.CPath(), record, &progress), 0);
        ASSERT_GE(progress.size(), 3u);
        EXPECT_EQ(progress.front(), 0);
        EXPECT_EQ(progress.back(), 100);

        EXPECT_EQ(fw.FlashBytes(m.type1, one.size()), one);
        EXPECT_EQ(fw.FlashBytes(m.type2, two.size()), two);
        if (m.type3 != 0) {
            EXPECT_EQ(fw.FlashBytes(m.type3, three.size()), three);
        }
        const std::vector<uint8_t> boot = fw.FlashBytes(m.bootRecord, 8);
        EXPECT_EQ(Le32(boot, 0), kStamp);
        EXPECT_EQ(Le32(boot, 4), kStamp);
        // Only the sectors of the elements and of the boot record were erased.
        auto inside = [&](uint32_t s, uint32_t start, size_t length) {
            return s >= start && s < start + length;
        };
        const std::vector<uint32_t> erased = fw.ErasedSectors();
        for (size_t e = erasedBefore; e < erased.size(); ++e) {
            const uint32_t s = erased[e];
            EXPECT_TRUE(inside(s, m.type1, one.size()) || inside(s, m.type2, two.size()) ||
                        (m.type3 != 0 && inside(s, m.type3, three.size())) || s == m.bootRecord)
                << std::hex << s;
        }
        ASSERT_EQ(CameraUnInit(h), 0);
    }
    CameraEnumerateDeviceEx(&count, 0);  // the manager lets go of its list
}

}  // namespace
