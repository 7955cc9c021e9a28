// Cooling of a type-107 USB camera through the controller's integer values against the
// camera's thermal model: the target (id 15, tenths of a degree) and the switch (id 13) go in
// through CameraSetIntValue, the temperature (id 16) comes back through CameraGetIntValue. The
// loop's first period sets the cooler-on bit with the power, the sensor cools on the model's
// clock, and the stream close ends the loop in the middle of its wait.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "QVCameraApi.h"
#include "SimUsbInProcessCamera.h"
#include "control/CameraControl.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

template <typename Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds limit = 10s) {
    const auto deadline = Clock::now() + limit;
    while (!pred()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

TEST(UsbCoolingThroughTheApi, Type107AgainstTheThermalModel) {
    SimUsbCameraConfig config;
    config.thermal = SimThermalConfig{.ambient = 21.0, .start = 21.0};
    auto model = std::make_shared<CSimUsbCamera>(config);
    auto camera = std::make_shared<CSimUsbInProcessCamera>(model, 107);
    // A controller holding the camera: the integer values reach the device through it.
    CameraControl control(nullptr);
    ASSERT_EQ(control.Attach(camera), 0);
    HANDLE h = static_cast<HANDLE>(&control);
    auto coolingWrites = [&] {
        int n = 0;
        for (const SimControlRecord& r : model->Requests())
            n += r.setup.request == 0xD6 && r.setup.index == 38;
        return n;
    };

    int tenths = 0;
    ASSERT_EQ(CameraGetIntValue(h, 16, &tenths), 0);
    EXPECT_EQ(tenths, 210);
    ASSERT_EQ(camera->OpenStream(nullptr, nullptr), 0);
    ASSERT_EQ(CameraSetIntValue(h, 15, 200), 0);  // 20.0 degrees, kept by the controller too
    EXPECT_EQ(control.GetParameterRecord().intValueC, 200);
    // Type 107 cannot report the target: the kept value comes back with the camera's answer.
    tenths = 0;
    EXPECT_EQ(CameraGetIntValue(h, 15, &tenths), CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(tenths, 200);
    // On: the cooler power (14) is reset first (type 107 has none to reset), then the loop.
    ASSERT_EQ(CameraSetIntValue(h, 13, 1), 0);
    EXPECT_EQ(control.GetParameterRecord().settings.intValueFlag, 1);
    ASSERT_TRUE(WaitFor([&] { return coolingWrites() >= 2; }));
    EXPECT_EQ(model->FpgaReg(38) & 0x30, 0x30);  // enabled, cooler on

    model->AdvanceThermalClock(60s);
    ASSERT_EQ(CameraGetIntValue(h, 16, &tenths), 0);
    EXPECT_LT(tenths, 210 - 100);  // cooling towards 21 - 40 degrees

    // The loop waits 5 s per period here; the stream close ends it at once.
    const auto closing = Clock::now();
    EXPECT_EQ(camera->CloseStream(), 0);
    EXPECT_LT(Clock::now() - closing, 4s);
    EXPECT_EQ(model->FpgaReg(38) & 0x30, 0x30);
    ASSERT_EQ(CameraSetIntValue(h, 13, 0), 0);
    EXPECT_EQ(model->FpgaReg(38) & 0x30, 0);
    EXPECT_EQ(control.GetParameterRecord().settings.intValueFlag, 0);
    model->AdvanceThermalClock(600s);
    ASSERT_EQ(CameraGetIntValue(h, 16, &tenths), 0);
    EXPECT_NEAR(tenths, 210, 2);
    control.Detach();
}

}  // namespace
