// The simulated USB camera through its in-process link: the firmware's answers to the SDK's
// request encodings, its register files and storage, the frame source, and every fault knob.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <numeric>
#include <vector>

#include "SimFrameGenerator.h"
#include "SimUsbCamera.h"
#include "SimUsbInProcess.h"
#include "usb/UsbVendorRequest.h"

namespace {

using namespace qv::usb;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class SimUsbCameraTest : public ::testing::Test {
  protected:
    CSimUsbCamera usb3{SimUsbCameraConfig{}};
    CSimUsbInProcess link{usb3};
};

TEST_F(SimUsbCameraTest, IdentityAndVersions) {
    uint16_t type = 0;
    EXPECT_EQ(GetDeviceType(link, &type), 0);
    EXPECT_EQ(type, 0x1301);
    uint16_t version = 0;
    EXPECT_EQ(GetFirmwareVersion(link, &version), 0);
    EXPECT_EQ(version, 0x1234);

    SimUsbCameraConfig cfg;
    cfg.generation = SimUsbGeneration::kUsb2;
    cfg.firmwareVersion = 0x2101;
    CSimUsbCamera usb2(cfg);
    CSimUsbInProcess link2(usb2);
    EXPECT_EQ(GetDeviceType(link2, &type), 0);
    EXPECT_EQ(type, 0x1201);
    EXPECT_EQ(GetFirmwareVersion(link2, &version), 0);
    EXPECT_EQ(version, 0x2101);
}

TEST_F(SimUsbCameraTest, FpgaRegisterFileReadsBackSixteenBits) {
    EXPECT_EQ(WriteFpgaReg(link, 33, 0x12345), 0);
    uint32_t value = 0xFFFFFFFF;
    EXPECT_EQ(ReadFpgaReg(link, 33, &value), 0);
    EXPECT_EQ(value, 0x2345u);
    EXPECT_EQ(usb3.FpgaReg(33), 0x2345);

    // The version register is the FPGA's own: the host cannot change it.
    usb3.SetFpgaReg(129, 0x1306);
    EXPECT_EQ(WriteFpgaReg(link, 129, 0x1111), 0);
    EXPECT_EQ(ReadFpgaReg(link, 129, &value), 0);
    EXPECT_EQ(value, 0x1306u);

    // The all-registers form: a failure in the middle still lets the others through.
    usb3.InjectFault({.kind = SimFaultKind::kWrongStatus, .request = 0xD6, .skip = 1});
    const uint32_t pairs[] = {25, 1, 26, 2, 27, 3};
    EXPECT_EQ(WriteFpgaRegsAll(link, pairs), -13);
    EXPECT_EQ(usb3.FpgaReg(25), 1);
    EXPECT_EQ(usb3.FpgaReg(27), 3);
}

TEST_F(SimUsbCameraTest, SensorBusSelectsChipAndWidths) {
    // A chip with 8-bit registers and 16-bit values at bus address 0xBA, identity 0x1621 in
    // register 0x00; a second with 16-bit registers and 8-bit values at 0x34.
    usb3.AttachSensor({0xBA, {{0x00, 0x1621}}, 0});
    usb3.AttachSensor({0x34, {{0x3000, 0x01}}, 0});

    uint16_t v = 0;
    EXPECT_EQ(WriteSensorReg8(link, 0xBA, 0x21), 0);  // bus address 0xBA, widths 0x21
    EXPECT_EQ(usb3.SensorBusAddress(), 0xBA);
    EXPECT_EQ(usb3.SensorBusWidths(), 0x21);
    EXPECT_EQ(ReadSensorReg(link, 0x00, &v), 0);
    EXPECT_EQ(v, 0x1621);
    EXPECT_EQ(WriteSensorReg(link, 0x0109, 0xBEEF), 0);  // 8-bit register: 0x09
    EXPECT_EQ(usb3.SensorReg(0xBA, 0x09), 0xBEEF);

    EXPECT_EQ(SetSensorBus(link, 0x34, 0x12), 0);
    EXPECT_EQ(WriteSensorReg(link, 0x3001, 0x1234), 0);  // 8-bit data: 0x34
    EXPECT_EQ(ReadSensorReg(link, 0x3001, &v), 0);
    EXPECT_EQ(v, 0x34);

    // Nobody at the bus address: the write and the read get no acknowledge.
    EXPECT_EQ(WriteSensorReg8(link, 0x20, 0x22), 0);
    EXPECT_EQ(WriteSensorReg(link, 0x3000, 1), -13);
    v = 0x5555;
    EXPECT_EQ(ReadSensorReg(link, 0x3000, &v), -13);
    EXPECT_EQ(v, 0x5555);

    // Register lists reach the chip in order; the pause entry writes nothing.
    EXPECT_EQ(WriteSensorReg8(link, 0xBA, 0x21), 0);
    const uint16_t list[] = {0x10, 1, 0xFFFF, 0, 0x11, 2};
    EXPECT_EQ(WriteSensorRegs(link, list, [](unsigned) {}), 0);
    EXPECT_EQ(usb3.SensorReg(0xBA, 0x10), 1);
    EXPECT_EQ(usb3.SensorReg(0xBA, 0x11), 2);
}

TEST_F(SimUsbCameraTest, GpioModesLevelsAndObserver) {
    std::vector<std::tuple<int, int, int>> seen;
    usb3.SetGpioObserver(
        [&](uint8_t pin, uint8_t mode, uint8_t level) { seen.emplace_back(pin, mode, level); });
    uint8_t level = 9;
    EXPECT_EQ(ReadGpio(link, 27, &level), 0);  // an input nobody drives
    EXPECT_EQ(level, 0);
    usb3.SetGpioInput(27, 1);
    EXPECT_EQ(ReadGpio(link, 27, &level), 0);
    EXPECT_EQ(level, 1);

    EXPECT_EQ(SetGpioMode(link, 25, 0), 0);
    EXPECT_EQ(WriteGpio(link, 25, 1), 0);
    EXPECT_EQ(usb3.GpioMode(25), 0);
    EXPECT_EQ(usb3.GpioOutput(25), 1);
    EXPECT_EQ(ReadGpio(link, 25, &level), 0);  // an output reads what it drives
    EXPECT_EQ(level, 1);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1], std::make_tuple(25, 0, 1));
}

TEST_F(SimUsbCameraTest, FlashBehavesAsNorFlash) {
    EXPECT_EQ(usb3.StorageSize(), 0x200000u);
    const std::vector<uint8_t> block = {0xF0, 0x0F, 0xAA};
    usb3.WriteStorage(0x10000, block);
    uint8_t got[3] = {};
    EXPECT_EQ(ReadFlash(link, 0x10000, 3, got), 0);
    EXPECT_EQ(std::vector<uint8_t>(got, got + 3), block);

    const uint8_t over[3] = {0x0F, 0xFF, 0x55};
    EXPECT_EQ(WriteFlash(link, 0x10000, 3, over), 0);  // programming only clears bits
    EXPECT_EQ(usb3.ReadStorage(0x10000, 3), (std::vector<uint8_t>{0x00, 0x0F, 0x00}));

    EXPECT_EQ(EraseFlashSector(link, 0x10234, 0), 0);  // the whole 4 KiB sector at 0x10000
    EXPECT_EQ(usb3.ReadStorage(0x10000, 1)[0], 0xFF);
    EXPECT_EQ(usb3.ReadStorage(0x10FFF, 1)[0], 0xFF);
    EXPECT_EQ(usb3.FlashErases(), 1);

    EXPECT_EQ(ReadFlash(link, 0x1FFFFF, 2, got), -13);  // past the end
    EXPECT_EQ(ReadEEProm(link, 0, got, 1), -13);        // no EEPROM on this generation
}

TEST(SimUsbCameraUsb2, EepromReadsAndWrites) {
    CSimUsbCamera cam(SimUsbCameraConfig{.generation = SimUsbGeneration::kUsb2});
    CSimUsbInProcess link(cam);
    const uint8_t magic[4] = {0x01, 0x00, 0xAA, 0xEE};  // 0xEEAA0001 little-endian
    EXPECT_EQ(WriteEEProm(link, 0x3800, magic, 4), 0);
    uint8_t got[4] = {};
    EXPECT_EQ(ReadEEProm(link, 0x3800, got, 4), 0);
    EXPECT_EQ(std::vector<uint8_t>(got, got + 4), std::vector<uint8_t>(magic, magic + 4));
    EXPECT_EQ(cam.ReadStorage(0x3800, 4), std::vector<uint8_t>(magic, magic + 4));
    EXPECT_EQ(ReadFlash(link, 0, 4, got), -13);  // no flash on this generation
    EXPECT_EQ(ReadEEProm(link, 0xFFFE, got, 4), -13);
}

TEST_F(SimUsbCameraTest, I2cCoolingConfigurationAndReboot) {
    // The clock chip only listens; a device at 0x0C answers two bytes.
    usb3.AttachI2cDevice(0x0C, {nullptr, [](uint8_t* out, size_t n, uint16_t) {
                                    for (size_t i = 0; i < n; ++i) out[i] = uint8_t(0x40 + i);
                                    return true;
                                }});
    const uint8_t pll[2] = {200, 7};
    EXPECT_EQ(I2CWrite(link, 0x41, pll, 2), 0);
    ASSERT_EQ(usb3.I2cWrites().size(), 1u);
    EXPECT_EQ(usb3.I2cWrites()[0].address, 0x41);
    EXPECT_EQ(usb3.I2cWrites()[0].data, (std::vector<uint8_t>{200, 7}));
    uint8_t in[2] = {};
    EXPECT_EQ(I2CRead(link, 0x0C, in, 2), 0);
    EXPECT_EQ(in[1], 0x41);
    EXPECT_EQ(I2CRead(link, 0x0D, in, 2), -13);  // no acknowledge

    uint8_t reply[4];
    EXPECT_EQ(Execute(link, CoolerWrite(1, 0x6000), reply), 0);
    EXPECT_EQ(usb3.CoolerChannel(1), 0x6000);
    usb3.SetCoolerChannel(0, 0x1900);
    EXPECT_EQ(Execute(link, CoolerRead(0), reply), 0);
    EXPECT_EQ(ReplyU16(reply), 0x1900);

    std::vector<uint8_t> image(2500);
    std::iota(image.begin(), image.end(), 0);
    EXPECT_EQ(Execute(link, ConfigBegin(), reply), 0);
    EXPECT_EQ(FpgaConfigWrite(link, image.data(), image.size()), 0);
    EXPECT_EQ(Execute(link, ConfigEnd(), reply), 0);
    EXPECT_EQ(usb3.ConfigData(), image);
    usb3.SetConfigReadBack({0x00, 0x20, 0x00, 0x00});  // status word with bit 13 set
    EXPECT_EQ(Execute(link, ConfigReadBack(4), reply), 0);
    EXPECT_EQ(ReplyU16(reply), 0x2000);

    EXPECT_EQ(Execute(link, CpuReset(true), nullptr), 0);
    EXPECT_EQ(usb3.CpuResets(), 0);
    EXPECT_EQ(Execute(link, CpuReset(false), nullptr), 0);
    EXPECT_EQ(usb3.CpuResets(), 1);

    uint8_t status;
    EXPECT_EQ(SendRequestD8(link, 0xD8, 0x21), 0);
    EXPECT_EQ(SendRequestB0(link), 0);
    EXPECT_EQ(Execute(link, CoolerSetup(144, 33), &status), 0);
    EXPECT_EQ(Execute(link, ResetFifo(), &status), 0);
    EXPECT_EQ(Execute(link, FlashCommand(4), nullptr), 0);
    EXPECT_EQ(link.ControlTransfer(0xC0, 0x7F, 0, 0, reply, 1), CSimUsbInProcess::kErrorPipe);
}

TEST_F(SimUsbCameraTest, RequestLogShowsWhatTheDeviceSaw) {
    EXPECT_EQ(WriteFpgaReg(link, 35, 0x1FFFF), 0);
    const auto log = usb3.Requests();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].setup.requestType, 0xC0);
    EXPECT_EQ(log[0].setup.request, 0xD6);
    EXPECT_EQ(log[0].setup.value, 0xFFFF);
    EXPECT_EQ(log[0].setup.index, 35);
    EXPECT_EQ(log[0].reply, std::vector<uint8_t>{8});
    usb3.ClearRequests();
    EXPECT_TRUE(usb3.Requests().empty());
}

TEST_F(SimUsbCameraTest, RequestHandlerTakesOverACode) {
    int seen = 0;
    usb3.SetRequestHandler(
        0xE3, [&](const SimControlSetup& s, uint8_t* data) -> std::optional<SimControlResult> {
            if (s.index != 160) return std::nullopt;  // the rest stays built in
            ++seen;
            data[0] = 3;
            return SimControlResult{SimControlOutcome::kOk, 1};
        });
    uint8_t status;
    EXPECT_EQ(Execute(link, ConfigBegin(), &status), -13);
    EXPECT_EQ(Execute(link, ConfigEnd(), &status), 0);
    EXPECT_EQ(seen, 1);
}

// ---- fault knobs ---------------------------------------------------------------------------

TEST_F(SimUsbCameraTest, WrongStatusMatchesOnlyRequestsWithAStatus) {
    usb3.InjectFault({.kind = SimFaultKind::kWrongStatus, .status = 0x5A});
    uint16_t type = 0;
    EXPECT_EQ(GetDeviceType(link, &type), 0);  // no status byte: not matched
    uint32_t v = 7;
    EXPECT_EQ(ReadFpgaReg(link, 1, &v), -13);
    EXPECT_EQ(v, 7u);
    EXPECT_EQ(ReadFpgaReg(link, 1, &v), 0);  // once
    EXPECT_EQ(usb3.Requests().back().reply.back(), 8);
}

TEST_F(SimUsbCameraTest, ShortReplyNeverYieldsAValue) {
    usb3.SetFpgaReg(129, 0x1306);
    usb3.InjectFault({.kind = SimFaultKind::kShortReply, .request = 0xD7, .missing = 1});
    uint8_t buf[3] = {0xEE, 0xEE, 0xEE};
    // The status byte does not arrive; the bytes beyond the reply stay as they were.
    EXPECT_EQ(link.ControlTransfer(0xC0, 0xD7, 0, 129, buf, 3), 2);
    EXPECT_EQ(buf[2], 0xEE);
    usb3.InjectFault({.kind = SimFaultKind::kShortReply, .request = 0xD7, .missing = 1});
    uint32_t v = 7;
    EXPECT_EQ(ReadFpgaReg(link, 129, &v), -13);
    EXPECT_EQ(v, 7u);
    usb3.InjectFault({.kind = SimFaultKind::kShortReply, .request = 0xB9, .missing = 2});
    uint16_t type = 7;
    EXPECT_EQ(GetDeviceType(link, &type), -13);
    EXPECT_EQ(type, 7);
    EXPECT_EQ(GetDeviceType(link, &type), 0);
    EXPECT_EQ(type, 0x1301);
}

TEST_F(SimUsbCameraTest, StallAndNoAnswerKeepTheRequestFromRunning) {
    usb3.InjectFault({.kind = SimFaultKind::kStall, .request = 0xD6, .skip = 1, .times = 2});
    EXPECT_EQ(WriteFpgaReg(link, 1, 1), 0);    // skipped
    EXPECT_EQ(WriteFpgaReg(link, 2, 2), -13);  // stalled
    uint8_t st;
    EXPECT_EQ(link.ControlTransfer(0xC0, 0xD6, 3, 3, &st, 1), CSimUsbInProcess::kErrorPipe);
    EXPECT_EQ(WriteFpgaReg(link, 4, 4), 0);
    EXPECT_EQ(usb3.FpgaReg(1), 1);
    EXPECT_EQ(usb3.FpgaReg(2), 0);  // a stalled write changes nothing
    EXPECT_EQ(usb3.FpgaReg(3), 0);
    EXPECT_EQ(usb3.FpgaReg(4), 4);

    usb3.InjectFault({.kind = SimFaultKind::kNoAnswer, .times = -1});
    EXPECT_EQ(link.ControlTransfer(0xC0, 0xB9, 0, 0, &st, 1), CSimUsbInProcess::kErrorTimeout);
    uint16_t type;
    EXPECT_EQ(GetDeviceType(link, &type), -13);
    EXPECT_EQ(usb3.Requests().back().outcome, SimControlOutcome::kNoAnswer);
    usb3.ClearFaults();
    EXPECT_EQ(GetDeviceType(link, &type), 0);
}

TEST_F(SimUsbCameraTest, UnplugEndsEverything) {
    uint8_t st;
    EXPECT_EQ(Execute(link, StreamStart(), &st), 0);
    usb3.Unplug();
    uint16_t type;
    EXPECT_EQ(GetDeviceType(link, &type), -13);
    EXPECT_EQ(link.ControlTransfer(0xC0, 0xB9, 0, 0, &st, 1), CSimUsbInProcess::kErrorNoDevice);
    uint8_t buf[64];
    EXPECT_EQ(usb3.PullBulkIn(0x82, buf, sizeof buf, Clock::now()).outcome, SimBulkOutcome::kGone);
    EXPECT_FALSE(usb3.IsStreaming());
}

// ---- bulk frames ---------------------------------------------------------------------------

TEST_F(SimUsbCameraTest, StreamRunsBetweenStartAndStopAndEndsFramesShort) {
    usb3.SetFrameFormat({.imageBytes = 100});
    uint8_t buf[256];
    const auto now = Clock::now();
    EXPECT_EQ(usb3.PullBulkIn(0x82, buf, 64, now).outcome, SimBulkOutcome::kNotReady);
    EXPECT_FALSE(usb3.NextBulkEvent(now).has_value());
    uint8_t st;
    EXPECT_EQ(Execute(link, StreamStart(), &st), 0);
    EXPECT_TRUE(usb3.IsStreaming());
    // 116 bytes per frame: reads of 64 give 64 and a short 52, never reaching into the next.
    EXPECT_EQ(usb3.PullBulkIn(0x82, buf, 64, Clock::now()).bytes, 64u);
    EXPECT_EQ(usb3.PullBulkIn(0x82, buf, 64, Clock::now()).bytes, 52u);
    EXPECT_EQ(usb3.FramesCompleted(), 1u);
    EXPECT_EQ(usb3.PullBulkIn(0x82, buf, 256, Clock::now()).bytes, 116u);
    usb3.StallBulkOnce();
    EXPECT_EQ(usb3.PullBulkIn(0x82, buf, 256, Clock::now()).outcome, SimBulkOutcome::kStall);
    EXPECT_EQ(usb3.PullBulkIn(0x82, buf, 256, Clock::now()).bytes, 116u);
    EXPECT_EQ(Execute(link, StreamStop(), &st), 0);
    EXPECT_EQ(usb3.PullBulkIn(0x82, buf, 256, Clock::now()).outcome, SimBulkOutcome::kNotReady);
    EXPECT_EQ(Execute(link, StreamStart(), &st), 0);
    usb3.OnBusReset();
    EXPECT_FALSE(usb3.IsStreaming());
    EXPECT_EQ(usb3.BusResets(), 1);
}

// The FPGA's trigger logic by board layout: with the word's bit 0 set frames flow only when
// triggered, each trigger (software, or an input edge with a hardware source) gives the frame
// count of its layout (0 counting as 1), and the output lines decode from the word.
TEST(SimUsbCameraTrigger, FramesFlowOnlyWhenTriggered) {
    struct Row {
        uint16_t word;                   // register of the trigger control word
        std::vector<uint32_t> setCount;  // register, value pairs that set a count of 3
    };
    for (const Row& row : {Row{16, {10, 0, 11, 3}}, Row{10, {3, 3}}, Row{6, {}}}) {
        SCOPED_TRACE(row.word);
        SimUsbCameraConfig config;
        config.frames = {.imageBytes = 32, .header = false};
        config.triggerRegister = row.word;
        CSimUsbCamera cam(config);
        CSimUsbInProcess link(cam);
        uint8_t buf[64];
        // Frames the host can read now, at most kReads.
        constexpr int kReads = 10;
        auto frames = [&] {
            int n = 0;
            while (n < kReads && cam.PullBulkIn(0x82, buf, sizeof buf, Clock::now()).bytes == 32)
                ++n;
            return n;
        };
        uint8_t st;
        ASSERT_EQ(Execute(link, StreamStart(), &st), 0);
        EXPECT_EQ(frames(), kReads);  // free running: a frame whenever the host reads
        // Trigger on, source software (6); on the board whose count shares the word's
        // register, the count (3) is its high byte.
        const uint32_t word = (row.word == 6 ? 0x300u : 0u) | (6u << 1) | 1u;
        ASSERT_EQ(WriteFpgaReg(link, row.word, word), 0);
        EXPECT_EQ(frames(), 0);
        EXPECT_FALSE(cam.NextBulkEvent(Clock::now()).has_value());
        ASSERT_EQ(WriteFpgaReg(link, 128, 1), 0);
        EXPECT_EQ(frames(), row.word == 6 ? 3 : 1);  // count 0 counts as 1
        for (size_t i = 0; i + 1 < row.setCount.size(); i += 2)
            ASSERT_EQ(WriteFpgaReg(link, uint16_t(row.setCount[i]), row.setCount[i + 1]), 0);
        ASSERT_EQ(WriteFpgaReg(link, 128, 1), 0);
        EXPECT_EQ(frames(), 3);
        cam.PulseInput();  // no hardware source selected
        EXPECT_EQ(frames(), 0);
        ASSERT_EQ(WriteFpgaReg(link, row.word, (word & ~0xEu) | (2u << 1)), 0);  // source 2
        cam.PulseInput();
        EXPECT_EQ(frames(), 3);
        EXPECT_EQ(cam.TriggersTaken(), 3u);
        // A trigger while stopped is lost; stopping drops what was let through.
        ASSERT_EQ(WriteFpgaReg(link, 128, 1), 0);
        ASSERT_EQ(Execute(link, StreamStop(), &st), 0);
        ASSERT_EQ(WriteFpgaReg(link, 128, 1), 0);
        ASSERT_EQ(Execute(link, StreamStart(), &st), 0);
        EXPECT_EQ(frames(), 0);
        EXPECT_EQ(cam.TriggersTaken(), 4u);
        ASSERT_EQ(WriteFpgaReg(link, row.word, word & ~1u), 0);  // trigger off
        EXPECT_EQ(frames(), kReads);
    }

    // Output lines of the word, with the full map's timing registers; the input line level.
    SimUsbCameraConfig config;
    config.triggerRegister = 16;
    CSimUsbCamera cam(config);
    CSimUsbInProcess link(cam);
    ASSERT_EQ(WriteFpgaReg(link, 16, (1u << 6) | (1u << 10) | (3u << 11)), 0);
    for (const auto& [reg, value] : {std::pair{22, 1}, {23, 2}, {20, 3}, {21, 4}, {31, 5}})
        ASSERT_EQ(WriteFpgaReg(link, uint16_t(reg), uint32_t(value)), 0);
    const SimOutputLine line0 = cam.OutputLine(0), line1 = cam.OutputLine(1);
    EXPECT_TRUE(line0.Strobe());
    EXPECT_EQ(line0.code, 1);
    EXPECT_TRUE(line0.polarity);
    EXPECT_EQ(line0.strobeDelay, 0x10002u);
    EXPECT_EQ(line0.pulseWidth, 0x30004u);
    EXPECT_TRUE(line1.DrivenLow());
    EXPECT_FALSE(line1.polarity);
    EXPECT_EQ(line1.strobeDelay, 0x50000u);
    cam.SetInputLevel(1);
    uint32_t level = 0;
    EXPECT_EQ(ReadFpgaReg(link, 130, &level), 0);
    EXPECT_EQ(level, 1u);
}

// The thermal model: the cooling sensor reading of request 0xDB channel 0, the temperature
// settling towards ambient less the cooler's share, by the drive value of request 0xDA.
TEST(SimUsbCameraThermal, DriveValueCoolsAndTheReadingFollows) {
    SimUsbCameraConfig config;
    config.thermal = SimThermalConfig{.cooler = SimThermalConfig::Cooler::kDriveValue,
                                      .ambient = 22.0,
                                      .start = 22.0,
                                      .fullPowerDrop = 40.0,
                                      .timeConstantSeconds = 10.0};
    CSimUsbCamera cam(config);
    CSimUsbInProcess link(cam);
    uint16_t raw = 0;
    ASSERT_EQ(ExecuteReadU16<3>(link, CoolerRead(0), &raw), 0);
    EXPECT_EQ(raw, 0x1900);  // 22 degrees
    cam.AdvanceThermalClock(1000s);
    EXPECT_DOUBLE_EQ(cam.SensorTemperature(), 22.0);  // cooler off
    uint8_t st = 0;
    ASSERT_EQ(Execute(link, CoolerWrite(0, 0), &st), 0);  // drive 0: full power
    EXPECT_DOUBLE_EQ(cam.CoolerPower(), 1.0);
    cam.AdvanceThermalClock(1000s);
    EXPECT_NEAR(cam.SensorTemperature(), -18.0, 1e-6);
    ASSERT_EQ(ExecuteReadU16<3>(link, CoolerRead(0), &raw), 0);
    EXPECT_EQ(raw, 0xF100);                                 // -240 sixteenths above -3 degrees: -18
    ASSERT_EQ(Execute(link, CoolerWrite(63, 63), &st), 0);  // half power
    EXPECT_DOUBLE_EQ(cam.CoolerPower(), 0.5);
    cam.AdvanceThermalClock(10s);  // one time constant towards 2 degrees
    EXPECT_NEAR(cam.SensorTemperature(), 2.0 - 20.0 / std::exp(1.0), 1e-6);
}

uint64_t Le64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

TEST(SimFrameGenerator, HeaderPatternAndRate) {
    const auto t0 = Clock::time_point{} + 1h;
    CSimFrameGenerator gen(t0);
    gen.SetFormat({.imageBytes = 300, .header = true, .fps = 10});
    gen.Start(t0 + 5ms);
    uint8_t frame[400];
    ASSERT_EQ(gen.Produce(frame, sizeof frame, t0 + 5ms), 316u);
    EXPECT_EQ(Le64(frame), 5000u);  // microseconds since the epoch, at the frame's due time
    EXPECT_EQ(Le64(frame + 8), 0u);
    for (uint32_t i = 0; i < 300; ++i)
        ASSERT_EQ(frame[16 + i], CSimFrameGenerator::RampByte(0, i)) << i;

    // At 10 fps the next frame is due 100 ms after the first.
    EXPECT_EQ(gen.Produce(frame, sizeof frame, t0 + 104ms), 0u);
    EXPECT_EQ(gen.NextData(t0 + 104ms), t0 + 105ms);
    ASSERT_EQ(gen.Produce(frame, 10, t0 + 105ms), 10u);  // header split over reads
    ASSERT_EQ(gen.Produce(frame + 10, sizeof frame, t0 + 105ms), 306u);
    EXPECT_EQ(Le64(frame), 105000u);
    EXPECT_EQ(Le64(frame + 8), 1u);
    EXPECT_EQ(frame[16 + 7], CSimFrameGenerator::RampByte(1, 7));
    EXPECT_NE(CSimFrameGenerator::RampByte(1, 7), CSimFrameGenerator::RampByte(0, 7));
    EXPECT_NE(CSimFrameGenerator::RampByte(0, 0), CSimFrameGenerator::RampByte(0, 256));

    // A host that falls behind gets no burst: the next frame comes one period after this one.
    ASSERT_EQ(gen.Produce(frame, sizeof frame, t0 + 1000ms), 316u);
    EXPECT_EQ(gen.Produce(frame, sizeof frame, t0 + 1050ms), 0u);
    EXPECT_EQ(gen.Produce(frame, sizeof frame, t0 + 1100ms), 316u);

    gen.SetFormat({.imageBytes = 8,
                   .header = false,
                   .pattern = SimFramePattern::kConstant,
                   .constant = 0x7E});
    ASSERT_EQ(gen.Produce(frame, sizeof frame, t0 + 2000ms), 8u);  // the format applies next frame
    EXPECT_EQ(frame[0], 0x7E);
    EXPECT_EQ(frame[7], 0x7E);
}

}  // namespace
