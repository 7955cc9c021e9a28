// FPGA configuration against the simulated camera's FPGA: version check, image choice and
// download on every hardware type, the pin sequences, the time-outs of INIT and DONE, the
// flash boot of type 7, the instruction port of type 108, and failures on the way.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "QVDeviceDef.h"
#include "SimUsbCamera.h"
#include "SimUsbFpga.h"
#include "SimUsbInProcess.h"
#include "usb/FpgaImages.h"
#include "usb/UsbFpgaConfig.h"

namespace {

using namespace qv::usb;

void NoPause(unsigned) {}

// The board wiring of each hardware type: PROG/INIT/DONE 25/23/27 on 100, 101 and 107, 25/-/27
// on 110 and 111, 64/67/65 elsewhere; type 7 boots from flash through pin 16; type 108 has the
// instruction port.
SimUsbFpgaConfig Board(int hw, uint16_t configuredVersion) {
    SimUsbFpgaConfig c;
    if (hw == 100 || hw == 101 || hw == 107) {
        c.progPin = 25, c.initPin = 23, c.donePin = 27;
    } else if (hw == 110 || hw == 111) {
        c.progPin = 25, c.initPin = -1, c.donePin = 27;
    }
    if (hw == 7) c.bootSelectPin = 16;
    if (hw == 108) c.instructionPort = true;
    c.configuredVersion = configuredVersion;
    return c;
}

struct Rig {
    Rig(int hw, uint16_t configuredVersion)
        : fpga(camera, Board(hw, configuredVersion)), link(camera), config(link, hw, NoPause) {}

    std::vector<SimControlRecord> Requests(uint8_t request) const {
        std::vector<SimControlRecord> out;
        for (const SimControlRecord& r : camera.Requests())
            if (r.setup.request == request) out.push_back(r);
        return out;
    }
    size_t PinReads(uint8_t pin) const {
        size_t n = 0;
        for (const SimControlRecord& r : Requests(0xE1)) n += (r.setup.value & 0xFF) == pin;
        return n;
    }

    CSimUsbCamera camera{SimUsbCameraConfig{}};
    CSimUsbFpga fpga;
    CSimUsbInProcess link;
    CUsbFpgaConfig config;
};

// What the test expects of an image: the types its header names.
struct Expect {
    int hardwareType;
    const char* sensors;
};

bool Placeholders() {
    std::vector<uint8_t> bytes;
    return InflateFpgaImage(FpgaImageId::kCommon, bytes) == 0 && CSimUsbFpga::Parse(bytes);
}

// ---- the table over the host-configured types --------------------------------------------

struct HostRow {
    int hw;
    int sensor;
    uint16_t accepted;  // a version the type accepts for the sensor; 0: none
    Expect image;
};

const HostRow kHostRows[] = {
    {1, 3, 0x1207, {0, ""}},
    {2, 3, 0x1207, {0, ""}},
    {3, 3, 0x1207, {3, ""}},
    {4, 3, 0x1407, {4, ""}},
    {5, 3, 0x1504, {5, ""}},
    {6, 3, 0x1305, {6, ""}},
    {7, 3, 0x120A, {7, ""}},
    {100, 22, 0x1301, {100, "22-23"}},
    {100, 22, 0x1306, {100, "22-23"}},
    {100, 30, 0x1305, {100, "30-31"}},
    {100, 1, 0x1306, {100, "other"}},
    {101, 22, 0, {0, ""}},
    {102, 3, 0x1302, {102, ""}},
    {103, 3, 0x1305, {103, ""}},
    {104, 3, 0x1301, {104, ""}},
    {105, 3, 0x1304, {105, ""}},
    {106, 37, 0x1300, {106, "14,37"}},
    {106, 40, 0x1303, {106, "40-41"}},
    {106, 55, 0x1301, {106, "55-56"}},
    {106, 1, 0, {106, "other"}},
    {107, 38, 0x1205, {107, "38"}},
    {107, 39, 0x1204, {107, "39"}},
    {109, 3, 0, {0, ""}},
    {110, 8, 0x2300, {110, "8-9"}},
    {110, 72, 0x2300, {110, "71-72"}},
    {111, 73, 0x2300, {111, "73"}},
    {111, 58, 0, {110, "58"}},
};

class HostTypes : public ::testing::TestWithParam<HostRow> {};

std::string RowName(const ::testing::TestParamInfo<HostRow>& info) {
    return "hw" + std::to_string(info.param.hw) + "_sensor" + std::to_string(info.param.sensor) +
           "_v" + std::to_string(info.param.accepted);
}

// Type 106 shows DONE on pin 27 for the first check; the others on their DONE pin.
void ShowRunning(Rig& rig, int hw, uint16_t version) {
    rig.fpga.SetRunning(version);
    if (hw == 106) rig.camera.SetGpioInput(27, 1);
}

TEST_P(HostTypes, AcceptedVersionIsLeftAlone) {
    const HostRow& row = GetParam();
    if (row.accepted == 0) {
        // No version is accepted for this sensor: a running FPGA is configured again whatever
        // it reports.
        for (uint16_t version : {0x1306, 0x2300, 0x1207}) {
            Rig rig(row.hw, 0x1111);
            ShowRunning(rig, row.hw, version);
            EXPECT_EQ(rig.config.LoadFpga(row.sensor), 0);
            EXPECT_EQ(rig.fpga.ProgPulses(), 1);
        }
        return;
    }
    Rig rig(row.hw, row.accepted);
    ShowRunning(rig, row.hw, row.accepted);
    EXPECT_EQ(rig.config.LoadFpga(row.sensor), 0);
    EXPECT_EQ(rig.fpga.ProgPulses(), 0);
    EXPECT_TRUE(rig.Requests(0xE4).empty());
    EXPECT_TRUE(rig.fpga.Running());
    EXPECT_EQ(rig.camera.FpgaReg(129), row.accepted);
}

TEST_P(HostTypes, OtherVersionGetsTheRightImage) {
    if (!Placeholders()) GTEST_SKIP() << "built with the maker's images";
    const HostRow& row = GetParam();
    const uint16_t configured = row.accepted ? row.accepted : 0x1111;
    Rig rig(row.hw, configured);
    ShowRunning(rig, row.hw, 0x0815);  // running, but not a version this camera keeps
    EXPECT_EQ(rig.config.LoadFpga(row.sensor), 0);
    const std::vector<SimFpgaImage> loaded = rig.fpga.Loaded();
    ASSERT_FALSE(loaded.empty());
    EXPECT_EQ(loaded[0].hardwareType, row.image.hardwareType);
    EXPECT_EQ(loaded[0].sensors, row.image.sensors);
    EXPECT_EQ(loaded[0].kind, 0);
    EXPECT_EQ(rig.camera.FpgaReg(129), configured);
    // The whole inflated image, and on 110 and 111 200 zero bytes of extra clocks after it
    // (type 7's reboot from flash clears the port's record).
    const size_t extra = (row.hw == 110 || row.hw == 111) ? 200 : 0;
    if (row.hw != 7) {
        EXPECT_EQ(rig.fpga.Received().size(), loaded[0].length + extra);
    }
    for (const SimControlRecord& r : rig.Requests(0xE4)) EXPECT_LE(r.outData.size(), 1024u);
}

TEST_P(HostTypes, UnconfiguredFpgaIsConfigured) {
    if (!Placeholders()) GTEST_SKIP() << "built with the maker's images";
    const HostRow& row = GetParam();
    Rig rig(row.hw, 0x4242);
    EXPECT_EQ(rig.config.LoadFpga(row.sensor), 0);
    ASSERT_FALSE(rig.fpga.Loaded().empty());
    EXPECT_EQ(rig.fpga.Loaded()[0].hardwareType, row.image.hardwareType);
    EXPECT_EQ(rig.camera.FpgaReg(129), 0x4242);
    // A fresh FPGA is not asked for its version: DONE was low.
    for (const SimControlRecord& r : rig.Requests(0xD7)) EXPECT_NE(r.setup.index, 129);
}

TEST_P(HostTypes, InterruptedDownloadIsAnFpgaError) {
    const HostRow& row = GetParam();
    Rig rig(row.hw, 0x4242);
    ShowRunning(rig, row.hw, 0x0815);
    rig.camera.InjectFault({.kind = SimFaultKind::kStall, .request = 0xE4, .skip = 40});
    EXPECT_EQ(rig.config.LoadFpga(row.sensor), CAMERA_STATUS_FPGA_ERROR);
    EXPECT_EQ(rig.Requests(0xE4).size(), 41u);
    EXPECT_TRUE(rig.fpga.Loaded().empty());
    EXPECT_FALSE(rig.fpga.Running());
    EXPECT_EQ(rig.camera.FpgaReg(129), 0);  // no version without a complete image
}

TEST_P(HostTypes, RejectedImageIsAnFpgaError) {
    const HostRow& row = GetParam();
    Rig rig(row.hw, 0x4242);
    rig.fpga.SetRejectImages(true);
    EXPECT_EQ(rig.config.LoadFpga(row.sensor), CAMERA_STATUS_FPGA_ERROR);
    EXPECT_EQ(rig.camera.FpgaReg(129), 0);
}

INSTANTIATE_TEST_SUITE_P(Table, HostTypes, ::testing::ValuesIn(kHostRows), RowName);

TEST(HostConfigured, MissingImageIsAnFpgaErrorAndKeepsTheRunningImage) {
    struct Row {
        int hw;
        int sensor;
    } rows[] = {{107, 40}, {107, 14}, {110, 14}, {110, 73}, {111, 22}};
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.hw << "/" << r.sensor);
        Rig rig(r.hw, 0x4242);
        ShowRunning(rig, r.hw, 0x0815);
        EXPECT_EQ(rig.config.LoadFpga(r.sensor), CAMERA_STATUS_FPGA_ERROR);
        EXPECT_EQ(rig.fpga.ProgPulses(), 0);
        EXPECT_TRUE(rig.fpga.Running());
        EXPECT_EQ(rig.camera.FpgaReg(129), 0x0815);
    }
    // DONE low: nothing to keep, the same answer.
    Rig rig(107, 0x4242);
    EXPECT_EQ(rig.config.LoadFpga(40), CAMERA_STATUS_FPGA_ERROR);
    EXPECT_TRUE(rig.Requests(0xE4).empty());
}

TEST(HostConfigured, Type111WithSensor58IsConfiguredAtEveryCreation) {
    if (!Placeholders()) GTEST_SKIP() << "built with the maker's images";
    Rig rig(111, 0x2300);
    rig.fpga.SetRunning(0x2300);
    EXPECT_EQ(rig.config.LoadFpga(58), 0);
    EXPECT_EQ(rig.config.LoadFpga(58), 0);
    ASSERT_EQ(rig.fpga.Loaded().size(), 2u);
    EXPECT_EQ(rig.fpga.Loaded()[1].hardwareType, 110);
    EXPECT_EQ(rig.fpga.Loaded()[1].sensors, "58");
}

TEST(HostConfigured, Type106ChecksDoneOnPin27ButConfiguresThrough64) {
    Rig rig(106, 0x1300);
    rig.fpga.SetRunning(0x1300);  // DONE (65) high, but pin 27 reads low
    EXPECT_EQ(rig.config.LoadFpga(14), 0);
    EXPECT_EQ(rig.fpga.ProgPulses(), 1);
    EXPECT_GT(rig.PinReads(27), 0u);
    EXPECT_GT(rig.PinReads(67), 0u);
}

TEST(HostConfigured, UnknownHardwareTypeLoadsNothing) {
    Rig rig(0, 0);
    EXPECT_EQ(rig.config.LoadFpga(3), 0);
    EXPECT_TRUE(rig.camera.Requests().empty());
}

TEST(HostConfigured, FailedDoneReadIsAnFpgaError) {
    Rig rig(102, 0x1302);
    rig.camera.InjectFault({.kind = SimFaultKind::kStall, .request = 0xE1});
    EXPECT_EQ(rig.config.LoadFpga(3), CAMERA_STATUS_FPGA_ERROR);
    EXPECT_EQ(rig.fpga.ProgPulses(), 0);
}

// ---- primitives ---------------------------------------------------------------------------

struct Gpio {
    uint8_t request;  // 0xE2 mode, 0xE0 write
    uint8_t pin;
    uint8_t value;
    bool operator==(const Gpio&) const = default;
};

std::vector<Gpio> GpioTrace(const Rig& rig) {
    std::vector<Gpio> out;
    for (const SimControlRecord& r : rig.camera.Requests())
        if (r.setup.request == 0xE0 || r.setup.request == 0xE2)
            out.push_back({r.setup.request, static_cast<uint8_t>(r.setup.value & 0xFF),
                           static_cast<uint8_t>(r.setup.value >> 8)});
    return out;
}

constexpr uint8_t M = 0xE2;
constexpr uint8_t W = 0xE0;

TEST(ConfigBegin, PinSequencesPerBoard) {
    struct Row {
        int hw;
        std::vector<Gpio> trace;
        uint8_t initPin;  // 0: none
    } rows[] = {
        {100, {{M, 25, 0}, {M, 27, 1}, {M, 23, 1}, {W, 25, 0}, {W, 25, 1}, {M, 25, 1}}, 23},
        {107, {{M, 25, 0}, {M, 27, 1}, {M, 23, 1}, {W, 25, 0}, {W, 25, 1}, {M, 25, 1}}, 23},
        {110, {{M, 25, 0}, {M, 27, 1}, {W, 25, 0}, {W, 25, 1}, {M, 25, 1}}, 0},
        {102, {{M, 64, 0}, {M, 65, 1}, {M, 67, 1}, {W, 64, 0}, {W, 64, 1}, {M, 64, 1}}, 67},
        {106, {{M, 64, 0}, {M, 65, 1}, {M, 67, 1}, {W, 64, 0}, {W, 64, 1}, {M, 64, 1}}, 67},
        {7,
         {{M, 64, 0},
          {M, 65, 1},
          {M, 67, 1},
          {M, 16, 0},
          {W, 16, 1},
          {W, 64, 0},
          {W, 64, 1},
          {M, 64, 1}},
         67},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.hw);
        Rig rig(row.hw, 0);
        EXPECT_EQ(rig.config.FpgaConfigBegin(), 0);
        EXPECT_EQ(GpioTrace(rig), row.trace);
        EXPECT_EQ(rig.fpga.ProgPulses(), 1);
        // INIT rises after the model's 3 reads; the port opens last.
        EXPECT_EQ(rig.PinReads(row.initPin), row.initPin ? 3u : 0u);
        const auto log = rig.camera.Requests();
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.back().setup.request, 0xE3);
        EXPECT_EQ(log.back().setup.index, 160);
    }
}

TEST(ConfigBegin, InitNeverRisingGivesUpAfter1000Reads) {
    Rig rig(102, 0x1302);
    rig.fpga.SetInitNeverRises(true);
    EXPECT_EQ(rig.config.FpgaConfigBegin(), -1);
    EXPECT_EQ(rig.PinReads(67), 1000u);
    EXPECT_TRUE(rig.Requests(0xE3).empty());
    EXPECT_EQ(rig.config.LoadFpga(3), CAMERA_STATUS_FPGA_ERROR);
    EXPECT_TRUE(rig.Requests(0xE4).empty());
}

TEST(ConfigBegin, PortRefusalAndFailedPinRequest) {
    Rig rig(102, 0);
    rig.camera.InjectFault({.kind = SimFaultKind::kStall, .request = 0xE3});
    EXPECT_EQ(rig.config.FpgaConfigBegin(), CAMERA_STATUS_IO_ERROR);
    Rig rig2(102, 0);
    rig2.camera.InjectFault({.kind = SimFaultKind::kStall, .request = 0xE0});
    EXPECT_EQ(rig2.config.FpgaConfigBegin(), CAMERA_STATUS_IO_ERROR);
    EXPECT_EQ(rig2.fpga.ProgPulses(), 0);
}

TEST(ConfigEnd, DoneNeverRising) {
    {  // INIT stays high: 1001 passes, then -1.
        Rig rig(102, 0);
        rig.fpga.SetDoneNeverRises(true);
        EXPECT_EQ(rig.config.FpgaConfigBegin(), 0);
        rig.camera.ClearRequests();
        EXPECT_EQ(rig.config.FpgaConfigEnd(), -1);
        EXPECT_EQ(rig.PinReads(65), 1001u);
        EXPECT_EQ(rig.PinReads(67), 1001u);
        EXPECT_TRUE(rig.Requests(0xE3).empty());
    }
    {  // INIT falls (the FPGA rejected the data): -1 at once.
        Rig rig(100, 0);
        rig.fpga.SetRejectImages(true);
        EXPECT_EQ(rig.config.FpgaConfigBegin(), 0);
        const std::vector<uint8_t> junk(4096, 0xA5);
        EXPECT_EQ(rig.config.FpgaConfigWrite(junk.data(), junk.size()), 0);
        rig.camera.ClearRequests();
        EXPECT_EQ(rig.config.FpgaConfigEnd(), -1);
        EXPECT_EQ(rig.PinReads(27), 1u);
    }
    {  // No INIT line (110): DONE is checked once.
        Rig rig(110, 0);
        rig.fpga.SetDoneNeverRises(true);
        EXPECT_EQ(rig.config.FpgaConfigBegin(), 0);
        rig.camera.ClearRequests();
        EXPECT_EQ(rig.config.FpgaConfigEnd(), -1);
        EXPECT_EQ(rig.PinReads(27), 1u);
    }
}

TEST(ConfigEnd, Type101DrivesPin23OnceConfigured) {
    Rig rig(101, 0x1111);
    EXPECT_EQ(rig.config.LoadFpga(22), 0);
    EXPECT_EQ(rig.camera.GpioMode(23), 0);
    const auto trace = GpioTrace(rig);
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ(trace.back(), (Gpio{M, 23, 0}));
}

TEST(ConfigWrite, EmptyBufferSendsNothing) {
    Rig rig(102, 0);
    EXPECT_EQ(rig.config.FpgaConfigWrite(nullptr, 0), -1);
    EXPECT_TRUE(rig.Requests(0xE4).empty());
}

// ---- type 7: second image in flash -------------------------------------------------------

TEST(FlashBoot, Type7WritesItsSecondImageAndBootsFromIt) {
    if (!Placeholders()) GTEST_SKIP() << "built with the maker's images";
    Rig rig(7, 0x120A);
    EXPECT_EQ(rig.config.LoadFpga(3), 0);
    EXPECT_EQ(rig.fpga.FlashCommands(), (std::vector<uint16_t>{4, 3, 5}));
    const auto loaded = rig.fpga.Loaded();
    ASSERT_EQ(loaded.size(), 2u);
    EXPECT_EQ(loaded[0].hardwareType, 7);
    EXPECT_EQ(loaded[0].kind, 0);
    EXPECT_EQ(loaded[1].hardwareType, 7);
    EXPECT_EQ(loaded[1].kind, 1);
    // Written from address 0 in consecutive pieces of at most 1024 bytes.
    uint32_t next = 0;
    for (const SimControlRecord& r : rig.Requests(0xBE)) {
        EXPECT_EQ((uint32_t{r.setup.value} << 16) | r.setup.index, next);
        EXPECT_LE(r.outData.size(), 1024u);
        next += static_cast<uint32_t>(r.outData.size());
    }
    EXPECT_EQ(next, loaded[1].length);
}

TEST(FlashBoot, FlashWriteFailureReachesTheCaller) {
    Rig rig(7, 0x120A);
    rig.camera.InjectFault({.kind = SimFaultKind::kStall, .request = 0xBE, .skip = 7});
    EXPECT_EQ(rig.config.LoadFpga(3), CAMERA_STATUS_IO_ERROR);
    EXPECT_EQ(rig.Requests(0xBE).size(), 8u);
}

TEST(FlashBoot, NoBootFromFlashIsAnFpgaError) {
    Rig rig(7, 0x120A);
    // The image arrives, but the flash copy is refused as it boots: DONE stays low.
    rig.camera.SetRequestHandler(0xBE, [](const SimControlSetup& s, uint8_t*) {
        return std::optional<SimControlResult>(SimControlResult{SimControlOutcome::kOk, s.length});
    });
    EXPECT_EQ(rig.config.LoadFpga(3), CAMERA_STATUS_FPGA_ERROR);
}

// ---- self-configuring types ---------------------------------------------------------------

struct SelfRow {
    int hw;
    uint16_t version;
    int result;
};

TEST(SelfConfiguring, ResetPulseThenVersionCheck) {
    const SelfRow rows[] = {
        {8, 0x2201, 0},
        {8, 0x2200, CAMERA_STATUS_FPGA_ERROR},
        {9, 0x2201, 0},
        {300, 0x2201, 0},
        {300, 0x2200, CAMERA_STATUS_FPGA_ERROR},
        {301, 0x2201, 0},
        {302, 0x2201, 0},
        {303, 0x2201, 0},
        {303, 0x1207, CAMERA_STATUS_FPGA_ERROR},
        {304, 0x2201, 0},
        {305, 0x2201, 0},
        {306, 0x2201, 0},
        {306, 0x0000, CAMERA_STATUS_FPGA_ERROR},
    };
    for (const SelfRow& row : rows) {
        SCOPED_TRACE(testing::Message() << row.hw << " 0x" << std::hex << row.version);
        Rig rig(row.hw, 0);
        rig.camera.SetFpgaReg(129, row.version);
        EXPECT_EQ(rig.config.LoadFpga(3), row.result);
        EXPECT_EQ(GpioTrace(rig), (std::vector<Gpio>{{M, 23, 0}, {W, 23, 0}, {W, 23, 1}}));
        EXPECT_TRUE(rig.Requests(0xE4).empty());
        const auto d8 = rig.Requests(0xD8);
        ASSERT_EQ(d8.size(), 1u);
        EXPECT_EQ(d8[0].setup.value, row.hw == 306 ? 0x21D8 : 0x2182);
    }
}

TEST(SelfConfiguring, FailedResetPulseOrVersionRead) {
    Rig rig(300, 0);
    rig.camera.InjectFault({.kind = SimFaultKind::kStall, .request = 0xE0, .skip = 1});
    EXPECT_EQ(rig.config.LoadFpga(3), CAMERA_STATUS_IO_ERROR);
    EXPECT_TRUE(rig.Requests(0xD7).empty());

    Rig rig2(304, 0);
    rig2.camera.SetFpgaReg(129, 0x2201);
    rig2.camera.InjectFault({.kind = SimFaultKind::kStall, .request = 0xD7});
    EXPECT_EQ(rig2.config.LoadFpga(3), CAMERA_STATUS_FPGA_ERROR);
}

// ---- type 108: the instruction port -------------------------------------------------------

TEST(InstructionPort, UnconfiguredFpgaIsLoaded) {
    if (!Placeholders()) GTEST_SKIP() << "built with the maker's images";
    struct Row {
        int sensor;
        const char* sensors;
    } rows[] = {{8, "8-9"}, {37, "14,37"}};
    for (const Row& row : rows) {
        Rig rig(108, 0x3301);
        EXPECT_EQ(rig.config.LoadFpga(row.sensor), 0);
        const auto loaded = rig.fpga.Loaded();
        ASSERT_EQ(loaded.size(), 1u);
        EXPECT_EQ(loaded[0].hardwareType, 108);
        EXPECT_EQ(loaded[0].sensors, row.sensors);
        EXPECT_EQ(rig.fpga.Instructions(),
                  (std::vector<uint8_t>{0x11, 0x41, 0x41, 0x15, 0x12, 0x17, 0x3A, 0x02, 0x41}));
        // Pieces: wValue 1 on the first, 0 after, 0x500 added on the last.
        const auto data = rig.Requests(0xE4);
        ASSERT_GE(data.size(), 2u);
        EXPECT_EQ(data.front().setup.value, 1);
        for (size_t i = 1; i + 1 < data.size(); ++i) EXPECT_EQ(data[i].setup.value, 0);
        EXPECT_EQ(data.back().setup.value, 0x500);
        // Begin and end bracket it; the version is read once at the end.
        const auto port = rig.Requests(0xE3);
        EXPECT_EQ(port.front().setup.index, 160);
        EXPECT_EQ(port.back().setup.index, 161);
        EXPECT_EQ(rig.camera.Requests().back().setup.request, 0xD7);
    }
}

TEST(InstructionPort, SinglePieceCarriesBothFlags) {
    Rig rig(108, 0x3301);
    // A tiny valid image: the 64-byte header and 16 bytes of payload.
    std::vector<uint8_t> image(80, 0);
    std::memcpy(image.data(), "QVFPGAPH", 8);
    image[8] = 80;
    const uint32_t crc = static_cast<uint32_t>(crc32(crc32(0L, Z_NULL, 0), &image[64], 16));
    for (int i = 0; i < 4; ++i) image[12 + i] = static_cast<uint8_t>(crc >> (8 * i));
    EXPECT_EQ(rig.config.JtagDownload(image.data(), image.size()), 0);
    const auto data = rig.Requests(0xE4);
    ASSERT_EQ(data.size(), 1u);
    EXPECT_EQ(data[0].setup.value, 0x501);
    EXPECT_TRUE(rig.fpga.Running());
}

TEST(InstructionPort, RunningImageIsKeptAndAnyVersionAccepted) {
    Rig rig(108, 0);
    rig.fpga.SetRunning(0x0042);
    EXPECT_EQ(rig.config.LoadFpga(22), 0);
    EXPECT_TRUE(rig.Requests(0xE4).empty());
    EXPECT_EQ(rig.fpga.Instructions(), (std::vector<uint8_t>{0x11, 0x41}));
}

TEST(InstructionPort, FailedLoadIsAnFpgaError) {
    {  // No image for the sensor.
        Rig rig(108, 0x3301);
        EXPECT_EQ(rig.config.LoadFpga(22), CAMERA_STATUS_FPGA_ERROR);
        EXPECT_EQ(rig.Requests(0xE3).back().setup.index, 161);  // the port is closed again
    }
    {  // The FPGA does not start on the data.
        Rig rig(108, 0x3301);
        rig.fpga.SetRejectImages(true);
        EXPECT_EQ(rig.config.LoadFpga(8), CAMERA_STATUS_FPGA_ERROR);
    }
    {  // A piece fails.
        Rig rig(108, 0x3301);
        rig.camera.InjectFault({.kind = SimFaultKind::kStall, .request = 0xE4, .skip = 3});
        EXPECT_EQ(rig.config.LoadFpga(8), CAMERA_STATUS_FPGA_ERROR);
        EXPECT_FALSE(rig.fpga.Running());
    }
}

TEST(InstructionPort, RunningImageIsErasedBeforeANewDownload) {
    if (!Placeholders()) GTEST_SKIP() << "built with the maker's images";
    Rig rig(108, 0x3301);
    rig.fpga.SetRunning(0x3300);
    EXPECT_EQ(rig.config.JtagBegin(), 0);
    std::vector<uint8_t> bytes;
    ASSERT_EQ(InflateFpgaImage(FpgaImageId::kJtag108S8To9, bytes), 0);
    EXPECT_EQ(rig.config.JtagDownload(bytes.data(), bytes.size()), 0);
    EXPECT_EQ(rig.fpga.Instructions(),
              (std::vector<uint8_t>{0x41, 0x15, 0x05, 0x02, 0x09, 0x02, 0x3A, 0x02, 0x15, 0x12,
                                    0x17, 0x3A, 0x02, 0x41}));
}

}  // namespace
