// The USB camera device over the in-process link to the simulated camera: the hardware type
// table, the FPGA register settings by board, the integer settings, the cooling arithmetic and
// requests, the stream hooks, device information, reboot and the closed device. Expected
// registers and values are the boards' register maps as documented, written out here.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "FakeSensor.h"
#include "LogCapture.h"
#include "SimUsbFpga.h"
#include "SimUsbInProcessCamera.h"
#include "storage/CameraProperty.h"
#include "usb/UsbCooling.h"

namespace {

using Writes = std::vector<std::pair<int, int>>;  // (FPGA register, value) in order

std::shared_ptr<CSimUsbInProcessCamera> MakeCamera(int hardwareType) {
    return std::make_shared<CSimUsbInProcessCamera>(std::make_shared<CSimUsbCamera>(),
                                                    hardwareType);
}

Writes FpgaWrites(const CSimUsbCamera& model) {
    Writes writes;
    for (const SimControlRecord& r : model.Requests())
        if (r.setup.request == 0xD6) writes.emplace_back(r.setup.index, r.setup.value);
    return writes;
}

std::string Show(const Writes& writes) {
    std::string text;
    for (auto [reg, value] : writes)
        text += std::to_string(reg) + ":" + std::to_string(value) + " ";
    return text;
}

// ---- Hardware type ----------------------------------------------------------------------------

TEST(UsbCameraHardwareType, EveryModelCodeOfTheTableAndNothingElse) {
    const std::pair<uint32_t, int> table[] = {
        {0xAA000001, 1},
        {0xAA010001, 2},
        {0xAA010002, 3},
        {0xAA020001, 4},
        {0xAA030001, 6},
        {0xAA030002, 5},
        {0xAA040001, 300},
        {0xAA040002, 305},
        {0xAA050001, 301},
        {0xAA060001, 302},
        {0xAA070001, 303},
        {0xAA080001, 304},
        {0xAA090001, 7},
        {0xAA0A0001, 306},
        {0xAA0B0001, 8},
        {0xAA0C0001, 9},
        {0xAA210001, 100},
        {0xAA220002, 102},
        {0xAA220003, 101},
        {0xAA220001, 103},
        {0xAA220004, 104},
        {0xAA220005, 105},
        {0xAA220006, 106},
        {0xAA220007, 107},
        {0xAA220008, 108},
        {0xAA220009, 109},
        {0xAA22000A, 110},
        {0xAA22000B, 111},
        // Neighbours of real codes and a blank record carry no board.
        {0, 0},
        {0xFFFFFFFF, 0},
        {0xAA000000, 0},
        {0xAA000002, 0},
        {0xAA22000C, 0},
        {0xAA210002, 0},
        {0xAB220001, 0},
        {0x010000AA, 0},
    };
    for (auto [code, type] : table) {
        CameraProperty prop{};
        prop.modelCode = code;
        EXPECT_EQ(CUsbCamera::GetFpgaType(&prop), type) << std::hex << code;
    }
    EXPECT_EQ(CUsbCamera::GetFpgaType(nullptr), 0);
}

// ---- Image path -------------------------------------------------------------------------------

struct RegisterCase {
    const char* what;
    int type;
    std::function<int(CUsbCamera&)> op;
    Writes expected;
    int result = 0;
    std::function<void(CSimUsbCamera&)> setup = nullptr;  // register contents before the call
};

void RunCases(const std::vector<RegisterCase>& cases) {
    for (const RegisterCase& c : cases) {
        auto camera = MakeCamera(c.type);
        if (c.setup) c.setup(camera->Model());
        camera->Model().ClearRequests();
        EXPECT_EQ(c.op(*camera), c.result) << c.what << " on type " << c.type;
        EXPECT_EQ(FpgaWrites(camera->Model()), c.expected)
            << c.what << " on type " << c.type << ": " << Show(FpgaWrites(camera->Model()));
    }
}

TEST(UsbCameraImagePath, RegistersByBoard) {
    // 640 x 480 at 8 bits is 307200 bytes = 0x4B000: high word 0x4, low word 0xB000.
    auto window8 = [](CUsbCamera& c) { return c.SetImageWindow(4, 2, 640, 480, 648, 484, 8); };
    // 2048 x 2048 at 16 bits is 8 MiB = 0x800000 bytes.
    auto window16 = [](CUsbCamera& c) {
        return c.SetImageWindow(0, 0, 2048, 2048, 2048, 2048, 16);
    };
    auto timing = [](CUsbCamera& c) { return c.SetImageTiming(100, 50, 10); };
    auto buffer = [](CUsbCamera& c) {
        return c.SetFrameBuffer(0x12345678, 0x9ABCDEF0, 0x00020003, 2);
    };
    RunCases({
        {"image on", 100, [](CUsbCamera& c) { return c.SetFpgaImageEnable(1, 0); }, {{7, 0}}},
        {"image off", 100, [](CUsbCamera& c) { return c.SetFpgaImageEnable(0, 0); }, {{7, 1}}},
        {"image off", 0, [](CUsbCamera& c) { return c.SetFpgaImageEnable(0, 0); }, {{7, 1}}},
        {"image off", 303, [](CUsbCamera& c) { return c.SetFpgaImageEnable(0, 0); }, {}},
        {"image off", 108, [](CUsbCamera& c) { return c.SetFpgaImageEnable(0, 0); }, {}},
        {"image off", 111, [](CUsbCamera& c) { return c.SetFpgaImageEnable(0, 0); }, {}},
        {"image off", 9, [](CUsbCamera& c) { return c.SetFpgaImageEnable(0, 0); }, {}},
        {"interface", 9, [](CUsbCamera& c) { return c.SetSensorInterface(0x1234); }, {{0, 0x1234}}},
        {"interface",
         303,
         [](CUsbCamera& c) { return c.SetSensorInterface(0x1234); },
         {{0, 0x1234}}},
        {"interface",
         109,
         [](CUsbCamera& c) { return c.SetSensorInterface(0x1234); },
         {{19, 0x1234}}},
        {"window", 100, window8, {{25, 2}, {26, 4}, {27, 648}, {28, 484}, {33, 0x4}, {34, 0xB000}}},
        {"window", 303, window8, {{25, 2}, {26, 4}, {27, 648}, {28, 484}, {33, 0x4}, {34, 0xB000}}},
        {"window", 304, window8, {{1, 0x4}, {2, 0xB000}, {3, 0x0402}, {4, 640}, {5, 480}}},
        {"window", 306, window8, {{1, 0x4}, {2, 0xB000}, {3, 0x0402}, {4, 644}, {5, 482}}},
        {"window", 9, window8, {{1, 0x4}, {2, 0xB000}, {12, 0x0402}, {13, 652}, {14, 486}}},
        {"window", 300, window8, {{1, 0x4}, {2, 0xB000}}},
        {"window 16 bit",
         100,
         window16,
         {{25, 0}, {26, 0}, {27, 2048}, {28, 2048}, {33, 0x80}, {34, 0}}},
        {"timing", 100, timing, {{35, 99}, {36, 39}, {37, 9}}},
        {"timing", 303, timing, {{35, 99}, {36, 39}, {37, 9}}},
        {"timing", 300, timing, {}},
        {"timing", 8, timing, {}},
        {"buffer",
         100,
         buffer,
         {{0, 0x1234}, {1, 0x5678}, {2, 0x9ABC}, {3, 0xDEF0}, {4, 0x8002}, {5, 3}}},
        {"buffer", 9, buffer, {}},
        {"pixel format", 100, [](CUsbCamera& c) { return c.SetFpgaPixelFormat(0x01080000); }, {}},
    });
}

// A write the camera refuses makes the whole setting fail, while the others still go out.
TEST(UsbCameraImagePath, ARefusedWriteFailsTheSetting) {
    auto camera = MakeCamera(100);
    camera->Model().InjectFault({.kind = SimFaultKind::kWrongStatus, .request = 0xD6, .skip = 2});
    EXPECT_EQ(camera->SetImageWindow(4, 2, 640, 480, 648, 484, 8), CAMERA_STATUS_IO_ERROR);
    EXPECT_EQ(FpgaWrites(camera->Model()).size(), 6u);
    camera->Model().InjectFault({.kind = SimFaultKind::kWrongStatus, .request = 0xD6});
    EXPECT_EQ(camera->SetFpgaImageEnable(1, 0), CAMERA_STATUS_IO_ERROR);
}

// ---- Trigger and strobe -----------------------------------------------------------------------

TEST(UsbCameraTrigger, TimingCountJitterAndDelayByBoard) {
    auto timing = [](CUsbCamera& c) { return c.SetTriggerTiming(0x1111, 0x2222); };
    auto count = [](uint32_t n) {
        return [n](CUsbCamera& c) { return c.SetTriggerFrameCount(n); };
    };
    auto jitter = [](CUsbCamera& c) { return c.SetTriggerJitterTime(0, 0x50006); };
    auto delay = [](uint32_t t) { return [t](CUsbCamera& c) { return c.SetTriggerDelayTime(t); }; };
    auto reg6 = [](CSimUsbCamera& m) { m.SetFpgaReg(6, 0xABCD); };
    RunCases({
        {"timing", 9, timing, {{18, 2}, {11, 0x1111}}},
        {"timing", 300, timing, {{11, 0x1111}}},
        {"timing", 304, timing, {}},
        {"timing", 100, timing, {{17, 0x1111}, {18, 0x2222}}},
        {"timing", 0, timing, {}, CAMERA_STATUS_NOT_SUPPORTED},
        {"timing", 303, timing, {}, CAMERA_STATUS_NOT_SUPPORTED},
        {"count 0 means 1", 100, count(0), {{10, 0}, {11, 1}}},
        {"count", 100, count(0x30005), {{10, 3}, {11, 5}}},
        {"count", 305, count(0x30005), {{3, 5}}},
        {"count", 8, count(2), {}, CAMERA_STATUS_NOT_SUPPORTED},
        {"count", 304, count(2), {}, CAMERA_STATUS_NOT_SUPPORTED},
        {"count", 306, count(0x12), {{6, 0x12CD}}, 0, reg6},
        {"count", 109, count(2), {}, CAMERA_STATUS_NOT_SUPPORTED},
        {"jitter", 100, jitter, {{12, 5}, {13, 6}}},
        {"jitter", 301, jitter, {{4, 6}}},
        {"jitter", 8, jitter, {}, CAMERA_STATUS_NOT_SUPPORTED},
        {"jitter", 306, jitter, {}, CAMERA_STATUS_NOT_SUPPORTED},
        {"jitter", 0, jitter, {}, CAMERA_STATUS_NOT_SUPPORTED},
        {"delay over 24 bits", 300, delay(0x1000000), {}, CAMERA_STATUS_PARAMETER_OUT_OF_RANGE},
        {"delay over 24 bits", 100, delay(0x1000000), {{14, 0x100}, {15, 0}}},
        {"delay", 305, delay(0x123456), {{6, 0x3456}, {5, 0x12}}},
        {"delay", 8, delay(1), {}, CAMERA_STATUS_NOT_SUPPORTED},
        {"delay", 304, delay(1), {}, CAMERA_STATUS_NOT_SUPPORTED},
        {"delay", 303, delay(1), {}, CAMERA_STATUS_NOT_SUPPORTED},
    });
}

// Settings written as several registers report a register the camera refused (the first or
// the last), while the others still go out: a refused write is a setting the camera does not
// hold, not a success.
TEST(UsbCameraTrigger, ARefusedRegisterFailsTheSetting) {
    struct Case {
        const char* name;
        int type;
        std::function<int(CUsbCamera&)> set;
        int writes;  // registers the setting writes
    };
    const Case cases[] = {
        {"timing", 100, [](CUsbCamera& c) { return c.SetTriggerTiming(0x1111, 0x2222); }, 2},
        {"jitter", 100, [](CUsbCamera& c) { return c.SetTriggerJitterTime(0, 0x50006); }, 2},
        {"delay", 100, [](CUsbCamera& c) { return c.SetTriggerDelayTime(0x123456); }, 2},
        {"window", 300, [](CUsbCamera& c) { return c.SetImageWindow(4, 2, 640, 480, 648, 484, 8); },
         2},
    };
    for (const Case& c : cases) {
        for (int skip : {0, c.writes - 1}) {
            SCOPED_TRACE(::testing::Message() << c.name << ", write " << skip + 1 << " refused");
            auto camera = MakeCamera(c.type);
            camera->Model().InjectFault(
                {.kind = SimFaultKind::kWrongStatus, .request = 0xD6, .skip = skip});
            EXPECT_EQ(c.set(*camera), CAMERA_STATUS_IO_ERROR);
            EXPECT_EQ(static_cast<int>(FpgaWrites(camera->Model()).size()), c.writes);
        }
    }
}

TEST(UsbCameraTrigger, StrobeTimesSoftTriggerAndTimestamp) {
    auto delay = [](int line, uint32_t t) {
        return [line, t](CUsbCamera& c) { return c.SetStrobeDelayTime(line, t); };
    };
    auto width = [](int line, uint32_t t) {
        return [line, t](CUsbCamera& c) { return c.SetStrobePulseWidth(line, t); };
    };
    auto reg7 = [](uint16_t v) { return [v](CSimUsbCamera& m) { m.SetFpgaReg(7, v); }; };
    RunCases({
        // Register 7 of the compact boards: delay high byte above the pulse width's.
        {"delay", 300, delay(0, 0x123456), {{7, 0x12AB}, {9, 0x3456}}, 0, reg7(0x00AB)},
        {"delay", 300, delay(1, 1), {}, CAMERA_STATUS_NOT_SUPPORTED},
        {"delay", 300, delay(0, 0x1000000), {}, CAMERA_STATUS_PARAMETER_OUT_OF_RANGE},
        {"delay", 100, delay(0, 0x123456), {{22, 0x12}, {23, 0x3456}}},
        {"delay", 100, delay(1, 0x123456), {{31, 0x12}, {32, 0x3456}}},
        {"delay", 100, delay(2, 1), {}, CAMERA_STATUS_NOT_SUPPORTED},
        {"delay", 0, delay(0, 0x123456), {{22, 0x12}, {23, 0x3456}}},
        {"delay", 304, delay(0, 1), {}, CAMERA_STATUS_NOT_SUPPORTED},
        {"width", 300, width(0, 0x123456), {{7, 0xAB12}, {8, 0x3456}}, 0, reg7(0xAB00)},
        {"width", 9, width(1, 1), {}, CAMERA_STATUS_NOT_SUPPORTED},
        {"width", 100, width(0, 0x123456), {{20, 0x12}, {21, 0x3456}}},
        {"width", 100, width(1, 0x123456), {{29, 0x12}, {30, 0x3456}}},
        {"width", 306, width(0, 1), {}, CAMERA_STATUS_NOT_SUPPORTED},
        {"soft trigger", 304, [](CUsbCamera& c) { return c.SendSoftTrigger(); }, {{128, 1}}},
        {"soft trigger", 0, [](CUsbCamera& c) { return c.SendSoftTrigger(); }, {{128, 1}}},
        {"timestamp", 100, [](CUsbCamera& c) { return c.ResetTimestamp(); }, {{128, 2}}},
        {"timestamp",
         0,
         [](CUsbCamera& c) { return c.ResetTimestamp(); },
         {},
         CAMERA_STATUS_NOT_SUPPORTED},
    });
}

TEST(UsbCameraTrigger, ControlWordRegisterAndLayout) {
    for (auto [type, reg] :
         {std::pair{100, 16}, {0, 16}, {303, 16}, {9, 10}, {305, 10}, {304, 6}, {306, 6}}) {
        auto camera = MakeCamera(type);
        // mode field 0x3FF from bit 6, trigger flag bit 4, source 6 in bits 1-3, enable bit 0.
        EXPECT_EQ(camera->SetTriggerControl(0x3FF, 6, 1, 1), 0);
        EXPECT_EQ(FpgaWrites(camera->Model()), (Writes{{reg, 0xFFDD}})) << type;
        uint16_t mode = 0, source = 0, flag = 0, enable = 0;
        EXPECT_EQ(camera->GetTriggerControl(&mode, &source, &flag, &enable), 0);
        EXPECT_EQ(mode, 0x3FF);
        EXPECT_EQ(source, 6);
        EXPECT_EQ(flag, 1);
        EXPECT_EQ(enable, 1);
        EXPECT_EQ(camera->GetTriggerControl(nullptr, nullptr, nullptr, nullptr), 0);
    }
}

// Each line and signal setter changes its own field of the control word and keeps the rest.
TEST(UsbCameraLines, SettersShareTheControlWord) {
    auto camera = MakeCamera(100);
    CSimUsbCamera& model = camera->Model();
    model.SetFpgaReg(16, 0x0211);  // enabled, trigger flag, bit 9 as the drivers set it
    EXPECT_EQ(camera->SetStrobeMode(0, 1), 0);
    EXPECT_EQ(model.FpgaReg(16), 0x0251);
    EXPECT_EQ(camera->SetStrobePolarity(1, 1), 0);
    EXPECT_EQ(model.FpgaReg(16), 0x8251);
    EXPECT_EQ(camera->SetTriggerSignalType(0, 2), 0);  // signal type 2 is code 3
    EXPECT_EQ(model.FpgaReg(16), 0x8257);
    EXPECT_EQ(camera->SetOutputIOState(1, 0), 0);  // low level is code 3
    EXPECT_EQ(model.FpgaReg(16), 0x9A57);
    EXPECT_EQ(camera->SetTriggerInhibit(0, 1), 0);
    EXPECT_EQ(model.FpgaReg(16), 0x9A56);
    EXPECT_EQ(camera->SetTriggerInhibit(1, 0), 0);
    EXPECT_EQ(model.FpgaReg(16), 0x9A57);
    EXPECT_EQ(camera->SetStrobePolarity(1, 0), 0);
    EXPECT_EQ(model.FpgaReg(16), 0x1A57);
    EXPECT_EQ(camera->SetOutputIOState(0, 1), 0);  // high level is code 2
    EXPECT_EQ(model.FpgaReg(16), 0x1A97);
    EXPECT_EQ(camera->SetOutputIOMode(0, 2), 0);  // PWM is code 4
    EXPECT_EQ(model.FpgaReg(16), 0x1B17);
    EXPECT_EQ(camera->SetOutputIOMode(1, 255), 0);  // code 6
    EXPECT_EQ(model.FpgaReg(16), 0x3317);

    uint16_t mode = 0, source = 0, flag = 0, enable = 0;
    EXPECT_EQ(camera->GetTriggerControl(&mode, &source, &flag, &enable), 0);
    EXPECT_EQ(mode, 0x3317 >> 6);
    EXPECT_EQ(source, 3);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(enable, 1);
}

TEST(UsbCameraLines, ArgumentChecksAndUnsupportedBoards) {
    auto camera = MakeCamera(100);
    CSimUsbCamera& model = camera->Model();
    model.ClearRequests();
    EXPECT_EQ(camera->SetStrobeMode(3, 2), CAMERA_STATUS_PARAMETER_INVALID);  // mode first
    EXPECT_EQ(camera->SetStrobeMode(2, 1), CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(camera->SetStrobePolarity(-1, 1), CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(camera->SetOutputIOMode(0, 1), 0);  // strobe and GP modes: nothing to write
    EXPECT_EQ(camera->SetOutputIOMode(1, 0), 0);
    EXPECT_EQ(camera->SetOutputIOMode(0, 3), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(camera->SetOutputIOMode(2, 2), CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(camera->SetOutputIOState(2, 1), CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(camera->SetTriggerInhibit(2, 1), CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(camera->RequestTransferImage(), CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(camera->RequestTransferImageEx(1), CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_TRUE(model.Requests().empty());
    // The signal type is checked after the control word was read.
    EXPECT_EQ(camera->SetTriggerSignalType(0, 5), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(camera->SetTriggerSignalType(0, -1), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_TRUE(FpgaWrites(model).empty());
    for (int type : {0, 8, 109, 303, 304, 306})
        EXPECT_EQ(MakeCamera(type)->SetTriggerSignalType(0, 1), CAMERA_STATUS_NOT_SUPPORTED)
            << type;

    // A failed read of the control word is the setter's result, and nothing is written.
    model.InjectFault({.kind = SimFaultKind::kStall, .request = 0xD7});
    EXPECT_EQ(camera->SetStrobeMode(0, 0), CAMERA_STATUS_IO_ERROR);
    EXPECT_TRUE(FpgaWrites(model).empty());
    // A refused write is reported.
    model.InjectFault({.kind = SimFaultKind::kWrongStatus, .request = 0xD6});
    EXPECT_EQ(camera->SetOutputIOState(0, 1), CAMERA_STATUS_IO_ERROR);
    model.InjectFault({.kind = SimFaultKind::kWrongStatus, .request = 0xD6});
    EXPECT_EQ(camera->SetTriggerControl(0, 0, 0, 1), CAMERA_STATUS_IO_ERROR);
}

TEST(UsbCameraLines, PwmAndInputLine) {
    auto pwm = [](int line, uint32_t period, uint32_t duty) {
        return [=](CUsbCamera& c) { return c.SetOutputIOPWM(line, period, duty); };
    };
    RunCases({
        // A width above the period is cut to the period.
        {"pwm", 100, pwm(0, 0x10002, 0x30004), {{22, 1}, {23, 2}, {20, 1}, {21, 2}}},
        {"pwm", 100, pwm(1, 0x50006, 0x20003), {{31, 5}, {32, 6}, {29, 2}, {30, 3}}},
        {"pwm", 300, pwm(0, 0x120034, 0x050006), {{9, 0x34}, {8, 6}, {7, 0x1205}}},
        {"pwm", 300, pwm(1, 1, 1), {}, CAMERA_STATUS_NOT_SUPPORTED},
        {"pwm", 304, pwm(0, 1, 1), {}, CAMERA_STATUS_NOT_SUPPORTED},
        {"pwm", 100, pwm(2, 1, 1), {}, CAMERA_STATUS_NOT_SUPPORTED},
    });
    auto camera = MakeCamera(100);
    camera->Model().SetFpgaReg(130, 1);
    int state = -1;
    EXPECT_EQ(camera->GetInputIOState(0, &state), 0);
    EXPECT_EQ(state, 1);
    EXPECT_EQ(camera->GetInputIOState(1, &state), CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(camera->GetInputIOState(0, nullptr), CAMERA_STATUS_PARAMETER_INVALID);
}

// ---- Integer settings -------------------------------------------------------------------------

TEST(UsbCameraIntValues, BoardSettings) {
    RunCases({
        {"id 1", 9, [](CUsbCamera& c) { return c.SetIntValue(1, 80); }, {{15, 0x3232}}},
        {"id 1", 9, [](CUsbCamera& c) { return c.SetIntValue(1, -5); }, {{15, 0x3200}}},
        {"id 1",
         100,
         [](CUsbCamera& c) { return c.SetIntValue(1, 5); },
         {},
         CAMERA_STATUS_NOT_SUPPORTED},
        {"id 2",
         9,
         [](CUsbCamera& c) { return c.SetIntValue(2, 5); },
         {},
         CAMERA_STATUS_NOT_SUPPORTED},
    });

    auto camera = MakeCamera(9);
    CSimUsbCamera& model = camera->Model();
    // Id 3 goes to the board's I2C device 12 as two bytes of 120 + v: 8 + 120 = 0x80.
    EXPECT_EQ(camera->SetIntValue(3, 8), 0);
    EXPECT_EQ(camera->SetIntValue(3, 10), 0);  // 0x82
    const auto i2c = model.I2cWrites();
    ASSERT_EQ(i2c.size(), 2u);
    EXPECT_EQ(i2c[0].address, 12);
    EXPECT_EQ(i2c[0].data, (std::vector<uint8_t>{0x08, 0x00}));
    EXPECT_EQ(i2c[1].data, (std::vector<uint8_t>{0x08, 0x20}));
    EXPECT_EQ(MakeCamera(100)->SetIntValue(3, 1), CAMERA_STATUS_NOT_SUPPORTED);

    // Ids 4 to 7 ask the same device; without it answering, 4 to 6 are unsupported.
    int v = -1;
    for (int id : {4, 5, 6}) EXPECT_EQ(camera->GetIntValue(id, &v), CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(camera->GetIntValue(7, &v), 0);
    EXPECT_EQ(v, 0);
    model.AttachI2cDevice(12, {.onRead = [](uint8_t*, size_t, uint16_t) { return true; }});
    for (auto [id, expected] : {std::pair{4, 0}, {5, 720}, {6, 0}, {7, 1}}) {
        v = -1;
        EXPECT_EQ(camera->GetIntValue(id, &v), 0) << id;
        EXPECT_EQ(v, expected) << id;
    }
    EXPECT_EQ(MakeCamera(100)->GetIntValue(5, &v), CAMERA_STATUS_NOT_SUPPORTED);

    for (auto [type, expected] : {std::pair{7, 2}, {106, 4}, {100, 1}, {0, 1}}) {
        EXPECT_EQ(MakeCamera(type)->GetIntValue(8, &v), 0);
        EXPECT_EQ(v, expected) << type;
    }
    EXPECT_EQ(camera->GetIntValue(8, nullptr), CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(camera->GetIntValue(99, &v), CAMERA_STATUS_NOT_SUPPORTED);
    // Stream buffers are the frame receiver's; this camera has no stream.
    EXPECT_EQ(camera->SetIntValue(9, 4), CAMERA_STATUS_FAILED);
    EXPECT_EQ(camera->GetIntValue(9, &v), CAMERA_STATUS_FAILED);
}

TEST(UsbCameraIntValues, TriggerSignalSwitchedOffAndBack) {
    auto camera = MakeCamera(100);
    CSimUsbCamera& model = camera->Model();
    model.SetFpgaReg(16, 0x0011);
    ASSERT_EQ(camera->SetTriggerSignalType(0, 2), 0);  // code 3
    int v = -1;
    EXPECT_EQ(camera->GetIntValue(12, &v), 0);
    EXPECT_EQ(v, 1);
    EXPECT_EQ(camera->SetIntValue(12, 0), 0);
    EXPECT_EQ(model.FpgaReg(16), 0x0013);      // code 1
    EXPECT_EQ(camera->SetIntValue(12, 0), 0);  // twice: the code taken out is kept
    EXPECT_EQ(camera->SetIntValue(12, 1), 0);
    EXPECT_EQ(model.FpgaReg(16), 0x0017);              // code 3 again
    ASSERT_EQ(camera->SetTriggerSignalType(0, 4), 0);  // code 5
    EXPECT_EQ(camera->GetIntValue(12, &v), 0);
    EXPECT_EQ(v, 0);
}

// ---- Cooling ----------------------------------------------------------------------------------

TEST(UsbCooling, SensorReadingAndDriveValue) {
    for (auto [raw, celsius] : {std::pair{uint16_t{0x1900}, 22.0},
                                {uint16_t{0xFFF0}, -3.0625},
                                {uint16_t{0x0000}, -3.0},
                                {uint16_t{0x7FF0}, 124.9375},
                                {uint16_t{0x8000}, -131.0},
                                {uint16_t{0x190F}, 22.0}})
        EXPECT_DOUBLE_EQ(qv::usb::CoolingSensorCelsius(raw), celsius) << std::hex << raw;
    // 60 / (p * 0.0398 + 0.53) - 13.3, times 1.27, truncated.
    for (auto [percent, drive] : {std::pair{0, 126},
                                  {100, 0},
                                  {50, 13},
                                  {10, 65},
                                  // Outside 0..100 the nearest end, never a wrapped value.
                                  {150, 0},
                                  {-20, 126}})
        EXPECT_EQ(qv::usb::CoolerDriveValue(percent), drive) << percent;
}

TEST(UsbCooling, LoopStepTable) {
    struct Row {
        const char* what;
        qv::usb::CoolingLoopState before;
        double t, target;
        int power;
        int expectPower;
        bool expectApply;
        int expectWait;
        bool expectRising;
    };
    const Row rows[] = {
        // The first period compares with 30 degrees: 25 is falling fast enough towards 20.
        {"first period", {30, false, 10, 10000}, 25, 20, 10, 10, false, 5000, false},
        {"then steps up", {25, false, 10, 5000}, 25, 20, 10, 13, true, 3000, true},
        {"falling: wait grows", {25, true, 13, 3000}, 24.8, 20, 13, 13, false, 4000, true},
        {"falling: up to 5 s", {24.8, true, 13, 5000}, 24.6, 20, 13, 13, false, 5000, true},
        {"no trend without power", {30, false, 0, 10000}, 25, 20, 0, 3, true, 3000, true},
        {"warmer after more power", {21, true, 12, 3000}, 22.5, 20, 12, 11, true, 3000, false},
        {"2 above", {-1000, false, 12, 3000}, 22.1, 20, 12, 14, true, 4000, true},
        {"0.2 above", {-1000, false, 12, 3000}, 20.5, 20, 12, 13, true, 5000, true},
        {"on target", {-1000, false, 12, 3000}, 20.1, 20, 12, 12, true, 3000, false},
        {"0.2 below", {-1000, false, 12, 3000}, 19.5, 20, 12, 11, true, 5000, false},
        {"2 below", {-1000, false, 12, 3000}, 17.9, 20, 12, 10, true, 4000, false},
        {"3 below", {-1000, false, 12, 3000}, 16, 20, 12, 9, true, 3000, false},
        {"capped at 100", {-1000, false, 99, 3000}, 30, 0, 99, 100, true, 3000, true},
        {"floored at 0", {-1000, false, 1, 3000}, 10, 20, 1, 0, true, 3000, false},
    };
    for (const Row& r : rows) {
        qv::usb::CoolingLoopState s = r.before;
        bool apply = !r.expectApply;
        EXPECT_EQ(qv::usb::CoolingStep(s, r.t, r.target, r.power, &apply), r.expectPower) << r.what;
        EXPECT_EQ(apply, r.expectApply) << r.what;
        EXPECT_EQ(s.waitMs, r.expectWait) << r.what;
        EXPECT_DOUBLE_EQ(s.last, r.t) << r.what;
        EXPECT_EQ(s.rising, r.expectRising) << r.what;
    }
}

// A driver with a temperature sensor, as the type-111 boards carry.
class ThermalSensor : public qvsim::CFakeSensor {
  public:
    using CFakeSensor::CFakeSensor;
    int GetTemperature(float* celsius) override {
        ++reads;
        if (celsius != nullptr) *celsius = temperature;
        return 0;
    }
    std::atomic<float> temperature{25};
    std::atomic<int> reads{0};
};

TEST(UsbCooling, BoardsAndTemperatureSources) {
    float celsius = 0;
    int v = 0;
    auto type107 = MakeCamera(107);
    type107->Model().SetCoolerChannel(0, 0x1900);
    EXPECT_EQ(type107->GetTemperature(&celsius), 0);
    EXPECT_FLOAT_EQ(celsius, 22.0f);
    EXPECT_EQ(type107->GetIntValue(16, &v), 0);
    EXPECT_EQ(v, 220);
    EXPECT_EQ(type107->SetCoolerPower(10), CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(type107->SetTargetTemperature(-5), 0);
    EXPECT_EQ(type107->SetIntValue(15, 100), 0);
    EXPECT_EQ(type107->GetIntValue(15, &v), CAMERA_STATUS_NOT_SUPPORTED);  // read on 111 only
    EXPECT_EQ(type107->SetIntValue(14, 10), CAMERA_STATUS_NOT_SUPPORTED);
    type107->Model().InjectFault({.kind = SimFaultKind::kWrongStatus, .request = 0xDB});
    EXPECT_EQ(type107->GetTemperature(&celsius), CAMERA_STATUS_FAILED);

    auto type111 = MakeCamera(111);
    EXPECT_EQ(type111->GetTemperature(&celsius), CAMERA_STATUS_NO_SENSOR);  // no driver yet
    type111->AdoptSensor(new qvsim::CFakeSensor(SENSOR_TYPE_IMX990I, type111.get()));
    EXPECT_EQ(type111->GetTemperature(&celsius), CAMERA_STATUS_NOT_SUPPORTED);
    auto* sensor = new ThermalSensor(SENSOR_TYPE_IMX990I, type111.get());
    sensor->temperature = -12.5f;
    type111->AdoptSensor(sensor);
    EXPECT_EQ(type111->GetIntValue(16, &v), 0);
    EXPECT_EQ(v, -125);
    EXPECT_EQ(type111->SetIntValue(14, 150), 0);  // kept within 0..100
    EXPECT_EQ(type111->GetIntValue(14, &v), 0);
    EXPECT_EQ(v, 100);
    EXPECT_EQ(type111->SetIntValue(15, 255), 0);  // tenths of a degree
    EXPECT_EQ(type111->GetIntValue(15, &v), 0);
    EXPECT_EQ(v, 255);

    auto type100 = MakeCamera(100);
    EXPECT_EQ(type100->GetTemperature(&celsius), CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(type100->EnableCooling(true), CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(type100->SetTargetTemperature(1), CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(type100->SetIntValue(13, 1), CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(type100->GetIntValue(16, &v), CAMERA_STATUS_NOT_SUPPORTED);
}

// ---- Stream hooks -----------------------------------------------------------------------------

struct Request {
    int request, value, index;
    bool operator==(const Request&) const = default;
};

std::vector<Request> RequestsOf(const CSimUsbCamera& model) {
    std::vector<Request> out;
    for (const SimControlRecord& r : model.Requests())
        out.push_back({r.setup.request, r.setup.value, r.setup.index});
    return out;
}

TEST(UsbCameraStreamHooks, CoolerSetUpAndParkingByBoard) {
    struct Row {
        int type;
        std::vector<Request> open, close;
    };
    const Row rows[] = {
        // 0xDC carries (a, b) as b << 8 | a; 0xDA a channel's value in wValue, the channel in
        // wIndex.
        {107,
         {{0xDC, 0x2190, 0}, {0xDA, 0x6000, 1}, {0xDA, 0xC900, 2}, {0xDA, 0x7FF0, 3}},
         {{0xDA, 1, 1}}},
        {111, {{0xDC, 0x115E, 0}}, {}},
        {9, {}, {{0xD6, 0x3200, 15}}},
        {100, {}, {}},
    };
    for (const Row& r : rows) {
        auto camera = MakeCamera(r.type);
        CSimUsbCamera& model = camera->Model();
        EXPECT_EQ(camera->CloseStream(), 0);  // before any stream: nothing
        EXPECT_TRUE(model.Requests().empty()) << r.type;
        EXPECT_EQ(camera->OpenStream(nullptr, nullptr), 0);
        EXPECT_EQ(RequestsOf(model), r.open) << r.type;
        model.ClearRequests();
        EXPECT_EQ(camera->CloseStream(), 0);
        EXPECT_EQ(RequestsOf(model), r.close) << r.type;
        model.ClearRequests();
        EXPECT_EQ(camera->CloseStream(), 0);
        EXPECT_TRUE(model.Requests().empty()) << r.type;
    }
}

// ---- Identity, information, maintenance -------------------------------------------------------

TEST(UsbCameraDevice, DeviceInformation) {
    auto camera = MakeCamera(0);
    tDevInfo stored{};
    std::strcpy(stored.acSn, "SN-0042");
    std::strcpy(stored.acPortType, "stored port");
    stored.uFirmwareVersion = 0x1A2F;
    stored.uInUse = 5;
    camera->SetDeviceInfo(stored);
    tDevInfo info{};
    info.uInUse = 7;
    DeviceMiscInfo misc{};
    EXPECT_EQ(camera->GetDeviceInfo(&info, &misc), 0);
    EXPECT_STREQ(info.acSn, "SN-0042");
    EXPECT_EQ(info.uFirmwareVersion, 0x1A2F);
    EXPECT_EQ(info.uInUse, 7u);  // the manager's
    EXPECT_STREQ(misc.firmwareVersion, "v1.10.2.15");
    EXPECT_EQ(misc.defaultFrameSpeed, 1);  // unknown board
    camera->SetHardwareType(303);
    EXPECT_EQ(camera->GetDeviceInfo(&info, &misc), 0);
    EXPECT_EQ(misc.defaultFrameSpeed, 2);
    EXPECT_EQ(camera->GetDeviceInfo(&info, nullptr), 0);
}

TEST(UsbCameraDevice, RebootHoldsTheCpuForAMoment) {
    auto camera = MakeCamera(100);
    CSimUsbCamera& model = camera->Model();
    EXPECT_EQ(camera->Reboot(), 0);
    const auto log = model.Requests();
    ASSERT_EQ(log.size(), 2u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(log[i].setup.requestType, 0x40);
        EXPECT_EQ(log[i].setup.request, 0xA0);
        EXPECT_EQ(log[i].setup.value, 0xE600);
        EXPECT_EQ(log[i].setup.index, 0);
    }
    EXPECT_EQ(log[0].outData, std::vector<uint8_t>{1});
    EXPECT_EQ(log[1].outData, std::vector<uint8_t>{0});
    EXPECT_EQ(model.CpuResets(), 1);

    // A hold that fails is reported, and the CPU is released all the same.
    model.ClearRequests();
    model.InjectFault({.kind = SimFaultKind::kStall, .request = 0xA0});
    EXPECT_EQ(camera->Reboot(), CAMERA_STATUS_IO_ERROR);
    ASSERT_EQ(model.Requests().size(), 2u);
    EXPECT_EQ(model.Requests()[1].outData, std::vector<uint8_t>{0});
}

TEST(UsbCameraDevice, ClosedDeviceAnswersNotFoundWithoutTraffic) {
    auto camera = MakeCamera(100);
    camera->SetOpen(false);
    uint16_t type = 0;
    uint32_t value = 0;
    EXPECT_EQ(camera->GetDeviceType(&type), CAMERA_STATUS_HARDWARE_NOT_FOUND);
    EXPECT_EQ(camera->ReadFpgaReg(1, &value), CAMERA_STATUS_HARDWARE_NOT_FOUND);
    EXPECT_FALSE(camera->CheckAlive());
    EXPECT_EQ(camera->Upgrade("/nonexistent", nullptr, nullptr), CAMERA_STATUS_HARDWARE_NOT_FOUND);
    EXPECT_TRUE(camera->Model().Requests().empty());
    camera->SetOpen(true);
    EXPECT_TRUE(camera->CheckAlive());
}

// The device type code picks the update procedure; a missing file then gives -22. Any other
// code has none.
TEST(UsbCameraDevice, UpgradeByDeviceType) {
    struct Case {
        SimUsbGeneration generation;
        std::optional<uint16_t> deviceType;
        int result;
    };
    const Case cases[] = {
        {SimUsbGeneration::kUsb3, std::nullopt, CAMERA_STATUS_FILE_OPEN_FAILED},
        {SimUsbGeneration::kUsb2, std::nullopt, CAMERA_STATUS_FILE_OPEN_FAILED},
        {SimUsbGeneration::kUsb3, 0x1401, CAMERA_STATUS_NOT_SUPPORTED},
        {SimUsbGeneration::kUsb2, 0x1200, CAMERA_STATUS_NOT_SUPPORTED},
    };
    for (const Case& c : cases) {
        qvsim::LogCapture log;
        SimUsbCameraConfig config;
        config.generation = c.generation;
        config.deviceType = c.deviceType;
        CSimUsbInProcessCamera camera(std::make_shared<CSimUsbCamera>(config), 100);
        EXPECT_EQ(camera.Upgrade("/nonexistent", nullptr, nullptr), c.result);
        EXPECT_EQ(log.Count("this camera Does not support upgrade\n"),
                  c.result == CAMERA_STATUS_NOT_SUPPORTED ? 1 : 0);
    }
}

// The device's FPGA operations are the configuration unit's on this camera's requests.
TEST(UsbCameraDevice, FpgaLoadAndSensorClock) {
    auto camera = MakeCamera(100);
    SimUsbFpgaConfig board;
    board.progPin = 25, board.initPin = 23, board.donePin = 27;
    board.configuredVersion = 0x1306;
    CSimUsbFpga fpga(camera->Model(), board);
    EXPECT_EQ(camera->LoadFpga(SENSOR_TYPE_IMX183C), 0);
    ASSERT_EQ(fpga.Loaded().size(), 1u);
    EXPECT_EQ(fpga.Loaded()[0].hardwareType, 100);
    EXPECT_EQ(camera->Model().FpgaReg(129), 0x1306);
    // Accepted now: nothing more is sent.
    EXPECT_EQ(camera->LoadFpga(SENSOR_TYPE_IMX183C), 0);
    EXPECT_EQ(fpga.Loaded().size(), 1u);
    // No image for sensor type 40 on a type-107 board.
    camera->SetHardwareType(107);
    EXPECT_EQ(camera->LoadFpga(static_cast<SensorTypeE>(40)), CAMERA_STATUS_FPGA_ERROR);
    camera->SetHardwareType(100);

    EXPECT_EQ(camera->SetPll(20, 1, 5, 5, 10, 10, 20, 40), 0);
    EXPECT_EQ(fpga.DrpWrites().size(), 23u);
    fpga.SetPllNeverLocks(true);
    EXPECT_EQ(camera->SetPll(20, 1, 5, 5, 10, 10, 20, 40), CAMERA_STATUS_FPGA_ERROR);

    auto unknownBoard = MakeCamera(0);
    EXPECT_EQ(unknownBoard->LoadFpga(SENSOR_TYPE_IMX178C), 0);
    EXPECT_TRUE(unknownBoard->Model().Requests().empty());
}

}  // namespace
