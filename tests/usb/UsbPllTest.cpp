// The sensor clock set-up: the counter arithmetic of the PLL reconfiguration with worked
// numbers, the reconfiguration against the simulated PLL (kept bits, order, verify, lock), and
// the register and clock-chip variants of the other hardware types.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <vector>

#include "QVDeviceDef.h"
#include "SimUsbCamera.h"
#include "SimUsbFpga.h"
#include "SimUsbInProcess.h"
#include "usb/S6Pll.h"
#include "usb/UsbPll.h"

namespace {

using namespace qv::usb;

void NoPause(unsigned) {}

TEST(S6PllCounter, WorkedNumbers) {
    struct Row {
        uint8_t divide;
        int32_t phase;
        uint32_t word;
    } rows[] = {
        {1, 0, 0x1041},   // bypassed: no-count, high 1, low 1
        {2, 0, 0x0041},   // high 1, low 1
        {3, 0, 0x2042},   // t = 1536: high 1, edge 1, low 2
        {4, 0, 0x0082},   // high 2, low 2
        {64, 0, 0x0820},  // high 32, low 32
        // 180 degrees at divide 2: x = 184320 * 2 / 360 = 1024, delay 1, mux 0.
        {2, 180000, 0x4041},
        // At divide 3: x = 1536, delay 1, mux (1536 >> 7) & 7 = 4: phase word 0x101.
        {3, 180000, 0x406042},
        // At divide 5: x = 2560, delay 2, mux 4: phase word 0x102; high 2, edge 1, low 3.
        {5, 180000, 0x40A083},
        // -90 degrees is 270: x = 276480 * 4 / 360 = 3072, delay 3, mux 0.
        {4, -90000, 0xC082},
        // 10 degrees at divide 3: x = 10240 * 3 / 360 = 85, bit 6 set so 213: mux 1, delay 0.
        {3, 10000, 0x102042},
    };
    for (const Row& r : rows)
        EXPECT_EQ(S6PllCounterWord(r.divide, r.phase, 50000), r.word)
            << int{r.divide} << " " << r.phase;
}

TEST(S6PllLookups, WordsAreSplitAsTheRegistersTakeThem) {
    for (unsigned d : {1u, 10u, 11u, 36u, 37u, 64u}) {
        uint16_t lock[3];
        s6_pll_lock_lookup(d, lock);
        const uint64_t word = kS6PllLockTable[d - 1];
        EXPECT_EQ(lock[0], (word >> 32) & 0xFF);
        EXPECT_EQ(lock[1], (word >> 16) & 0xFFFF);
        EXPECT_EQ(lock[2], word & 0xFFFF);
        const uint32_t filter = kS6PllFilterTable[d - 1];
        EXPECT_EQ(s6_pll_filter_lookup(d, true), (filter >> 10) & 0x3FF);
        EXPECT_EQ(s6_pll_filter_lookup(d, false), filter & 0x3FF);
    }
}

TEST(S6PllLookupsDeathTest, DivideOutsideTheTable) {
    uint16_t lock[3];
    EXPECT_DEATH(s6_pll_lock_lookup(0, lock), "");
    EXPECT_DEATH(s6_pll_lock_lookup(65, lock), "");
    EXPECT_DEATH(s6_pll_filter_lookup(65, true), "");
}

// ---- reconfiguration against the simulated PLL --------------------------------------------

// DRP registers 0x05-0x1A and 0x1D and the bits of each that a reconfiguration keeps.
constexpr uint8_t kAddress[23] = {0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C,
                                  0x0D, 0x0E, 0x0F, 0x10, 0x11, 0x12, 0x13, 0x14,
                                  0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1D};
constexpr uint16_t kKeep[23] = {0x50FF, 0x010B, 0xE02C, 0x4001, 0x0D03, 0xB001, 0x110B, 0x0B00,
                                0x0008, 0x00D0, 0x0003, 0x800C, 0xFC00, 0xF0FF, 0x5120, 0x2FFF,
                                0xBFF4, 0x0A55, 0xFFD0, 0x1039, 0x0000, 0xFFFC, 0x2FFF};

struct PllRig {
    explicit PllRig(int hw)
        : fpga(camera, SimUsbFpgaConfig{}), link(camera), pll(link, hw, NoPause) {}
    size_t Count(uint8_t request) const {
        size_t n = 0;
        for (const auto& r : camera.Requests()) n += r.setup.request == request;
        return n;
    }
    CSimUsbCamera camera{SimUsbCameraConfig{}};
    CSimUsbFpga fpga;
    CSimUsbInProcess link;
    CUsbPll pll;
};

const S6PllSettings kSettings = {20, 1, 5, 5, 10, 10, 20, 40};

TEST(S6PllReconfigure, KeptBitsStayAndEveryRegisterIsWrittenInOrder) {
    for (int hw : {1, 2, 3, 4, 5, 6, 7, 100, 101, 102, 103, 104, 105, 106, 107, 109}) {
        SCOPED_TRACE(hw);
        PllRig rig(hw);
        const auto before = rig.fpga.Drp();
        EXPECT_EQ(rig.pll.SetPll(kSettings), 0);
        const auto after = rig.fpga.Drp();
        const auto writes = rig.fpga.DrpWrites();
        ASSERT_EQ(writes.size(), 23u);
        for (size_t i = 0; i < 23; ++i) {
            EXPECT_EQ(writes[i].first, kAddress[i]);
            EXPECT_EQ(after[kAddress[i]] & kKeep[i], before[kAddress[i]] & kKeep[i]) << i;
        }
        // Registers outside the 23 are never touched.
        for (size_t a = 0; a < after.size(); ++a) {
            const bool listed =
                std::find(std::begin(kAddress), std::end(kAddress), a) != std::end(kAddress);
            if (!listed) {
                EXPECT_EQ(after[a], before[a]) << a;
            }
        }
        EXPECT_EQ(rig.fpga.PllReleases(), 1);
        EXPECT_EQ(rig.camera.FpgaReg(7), 0);  // released
    }
}

TEST(S6PllReconfigure, SettingsReachTheFreeBits) {
    PllRig a(102);
    PllRig b(102);
    EXPECT_EQ(a.pll.SetPll(kSettings), 0);
    S6PllSettings other = kSettings;
    other[2] = 6;
    EXPECT_EQ(b.pll.SetPll(other), 0);
    EXPECT_NE(a.fpga.Drp(), b.fpga.Drp());
    // The same settings on the same PLL give the same registers: nothing depends on chance.
    PllRig c(102);
    EXPECT_EQ(c.pll.SetPll(kSettings), 0);
    EXPECT_EQ(a.fpga.Drp(), c.fpga.Drp());
}

TEST(S6PllReconfigure, LostWritesAreRetried) {
    PllRig rig(102);
    rig.fpga.DropDrpWrites(5);
    EXPECT_EQ(rig.pll.SetPll(kSettings), 0);
    EXPECT_EQ(rig.fpga.PllReleases(), 1);
    EXPECT_EQ(rig.fpga.DrpWrites().size(), 23u + 18u);  // 18 of the first round, 23 again
}

TEST(S6PllReconfigure, NeverLockingIsAnFpgaErrorAfterTenAttempts) {
    for (int hw : {1, 2, 3, 4, 5, 6, 7, 100, 101, 102, 103, 104, 105, 106, 107, 109}) {
        SCOPED_TRACE(hw);
        PllRig rig(hw);
        rig.fpga.SetPllNeverLocks(true);
        EXPECT_EQ(rig.pll.SetPll(kSettings), CAMERA_STATUS_FPGA_ERROR);
        EXPECT_EQ(rig.fpga.PllReleases(), 10);
        size_t lockPolls = 0;
        for (const auto& r : rig.camera.Requests())
            lockPolls += r.setup.request == 0xD7 && r.setup.index == 131;
        EXPECT_EQ(lockPolls, 100u);
    }

    PllRig never(100);
    never.fpga.DropDrpWrites(1000);  // the read-back never matches
    EXPECT_EQ(never.pll.SetPll(kSettings), CAMERA_STATUS_FPGA_ERROR);
    EXPECT_EQ(never.fpga.PllReleases(), 0);
}

TEST(S6PllReconfigure, FailedReadAndBadMultiplier) {
    PllRig rig(102);
    rig.camera.InjectFault({.kind = SimFaultKind::kStall, .request = 0xD7, .skip = 4});
    EXPECT_EQ(rig.pll.SetPll(kSettings), -1);
    EXPECT_TRUE(rig.fpga.DrpWrites().empty());

    for (uint8_t p0 : {uint8_t{0}, uint8_t{65}, uint8_t{255}}) {
        PllRig bad(102);
        S6PllSettings s = kSettings;
        s[0] = p0;
        EXPECT_EQ(bad.pll.SetPll(s), CAMERA_STATUS_PARAMETER_INVALID);
        EXPECT_TRUE(bad.camera.Requests().empty());
    }
}

// ---- the other hardware types -------------------------------------------------------------

TEST(SetPll, FpgaClockRegistersOfTypes9And108) {
    struct Row {
        int hw;
        uint16_t low;
        uint16_t high;
    } rows[] = {{9, 16, 17}, {108, 6, 7}};
    for (const Row& row : rows) {
        PllRig rig(row.hw);
        // p0 10, p1 2, p2 8: 64 - 8 / 2 = 60; (64 - 2) << 8 | (64 - 10) = 0x3E36.
        EXPECT_EQ(rig.pll.SetPll({10, 2, 8, 0, 0, 0, 0, 0}), 0);
        std::vector<std::pair<uint16_t, uint16_t>> writes;
        for (const auto& r : rig.camera.Requests())
            if (r.setup.request == 0xD6) writes.emplace_back(r.setup.index, r.setup.value);
        EXPECT_EQ(writes, (std::vector<std::pair<uint16_t, uint16_t>>{
                              {row.high, 60}, {row.low, 0x3E36}, {row.high, 0x803C}}));
    }
    PllRig wrap(9);
    // 64 - 70 wraps to 250 in 8 bits.
    EXPECT_EQ(wrap.pll.SetPll({70, 64, 200, 0, 0, 0, 0, 0}), 0);
    EXPECT_EQ(wrap.camera.FpgaReg(16), 0x00FA);
    EXPECT_EQ(wrap.camera.FpgaReg(17), 0x8000 + static_cast<uint8_t>(64 - 100));

    PllRig failing(9);
    failing.camera.InjectFault({.kind = SimFaultKind::kWrongStatus, .request = 0xD6});
    EXPECT_EQ(failing.pll.SetPll({10, 2, 8, 0, 0, 0, 0, 0}), CAMERA_STATUS_IO_ERROR);
}

TEST(SetPll, ClockChipOfTypes300To305) {
    for (int hw : {300, 301, 302, 305}) {
        PllRig rig(hw);
        EXPECT_EQ(rig.pll.SetPll({1, 2, 3, 4, 5, 6, 7, 8}), 0);
        const auto writes = rig.camera.I2cWrites();
        ASSERT_EQ(writes.size(), 1u) << hw;
        EXPECT_EQ(writes[0].address, 0x41);
        EXPECT_EQ(writes[0].data, (std::vector<uint8_t>{200, 5}));
    }
    PllRig rig(304);
    EXPECT_EQ(rig.pll.SetPll({1, 2, 3, 4, 5, 6, 7, 8}), 0);
    const auto writes = rig.camera.I2cWrites();
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[0].data, (std::vector<uint8_t>{198, 3}));
    EXPECT_EQ(writes[1].data, (std::vector<uint8_t>{199, 4}));
    EXPECT_EQ(writes[2].data, (std::vector<uint8_t>{200, 5}));

    PllRig failing(304);
    failing.camera.InjectFault({.kind = SimFaultKind::kStall, .request = 0xD4, .skip = 1});
    EXPECT_EQ(failing.pll.SetPll({1, 2, 3, 4, 5, 6, 7, 8}), CAMERA_STATUS_IO_ERROR);
    EXPECT_EQ(failing.camera.I2cWrites().size(), 1u);
}

TEST(SetPll, SelfClockedTypesSendNothing) {
    for (int hw : {8, 110, 111, 306}) {
        PllRig rig(hw);
        EXPECT_EQ(rig.pll.SetPll({0, 0, 0, 0, 0, 0, 0, 0}), 0);
        EXPECT_TRUE(rig.camera.Requests().empty()) << hw;
    }
}

}  // namespace
