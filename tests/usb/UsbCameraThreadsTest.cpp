// The USB camera device's own threads over the in-process link: the cooling loop (start, stop,
// the stream close and the destructor stopping it) and the liveness poll on the timer service
// (a lost camera reported every period, removal, destruction, no deadlock with a remover that
// holds the transfer mutex). Run under ThreadSanitizer in CI.
#include <gtest/gtest.h>

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "FakeSensor.h"
#include "SimUsbInProcessCamera.h"
#include "services/TimerMng.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

template <typename Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds limit = 30s) {
    const auto deadline = Clock::now() + limit;
    while (!pred()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

class ThermalSensor : public qvsim::CFakeSensor {
  public:
    using CFakeSensor::CFakeSensor;
    int GetTemperature(float* celsius) override {
        ++reads;
        if (reader != nullptr) *reader = static_cast<pid_t>(syscall(SYS_gettid));
        if (celsius != nullptr) *celsius = 25.0f;
        return 0;
    }
    std::atomic<int> reads{0};
    std::atomic<pid_t>* reader = nullptr;  // the thread that read last, kept by the test
};

// A type-111 board with a driver that reads 25 degrees.
struct CooledCamera {
    CooledCamera() {
        camera = std::make_shared<CSimUsbInProcessCamera>(model, 111);
        sensor = new ThermalSensor(SENSOR_TYPE_IMX990I, camera.get());
        sensor->reader = &reader;
        camera->AdoptSensor(sensor);
    }
    std::atomic<pid_t> reader{0};
    std::shared_ptr<CSimUsbCamera> model = std::make_shared<CSimUsbCamera>();
    std::shared_ptr<CSimUsbInProcessCamera> camera;
    ThermalSensor* sensor;
};

TEST(UsbCameraCoolingLoop, StartsAppliesPowerAndStopsAtOnce) {
    CooledCamera c;
    CSimUsbCamera& model = *c.model;
    ASSERT_EQ(c.camera->SetCoolerPower(10), 0);
    ASSERT_EQ(c.camera->SetTargetTemperature(20), 0);
    ASSERT_EQ(c.camera->EnableCooling(true), 0);
    EXPECT_EQ(c.camera->EnableCooling(true), 0);  // already running: nothing more
    // The loop applies the stored power (10 % drives 65), enables cooling (register 38 bit 5)
    // and reads the temperature twice before its first wait.
    ASSERT_TRUE(WaitFor([&] { return c.sensor->reads.load() >= 2; }));
    EXPECT_EQ(model.CoolerChannel(65), 65);
    EXPECT_EQ(model.FpgaReg(38) & 0x20, 0x20);
    int v = 0;
    EXPECT_EQ(c.camera->GetIntValue(13, &v), 0);
    EXPECT_EQ(v, 1);

    // The first wait is seconds long; switching off ends it at once, clears both bits and the
    // stored power.
    EXPECT_EQ(c.camera->SetIntValue(13, 0), 0);
    EXPECT_EQ(c.camera->GetIntValue(13, &v), 0);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(model.FpgaReg(38) & 0x30, 0);
    EXPECT_EQ(c.camera->GetIntValue(14, &v), 0);
    EXPECT_EQ(v, 0);
    const int reads = c.sensor->reads.load();
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(c.sensor->reads.load(), reads);
}

TEST(UsbCameraCoolingLoop, StreamCloseStopsTheLoopAndKeepsItsSettings) {
    CooledCamera c;
    ASSERT_EQ(c.camera->SetCoolerPower(40), 0);
    ASSERT_EQ(c.camera->OpenStream(nullptr, nullptr), 0);
    ASSERT_EQ(c.camera->EnableCooling(true), 0);
    ASSERT_TRUE(WaitFor([&] { return c.sensor->reads.load() >= 2; }));
    EXPECT_EQ(c.camera->CloseStream(), 0);
    int v = -1;
    EXPECT_EQ(c.camera->GetIntValue(13, &v), 0);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(c.model->FpgaReg(38) & 0x20, 0x20);
    EXPECT_EQ(c.camera->GetIntValue(14, &v), 0);
    EXPECT_EQ(v, 40);
}

// No stream was opened; the loop must still end before the device's members go. Its thread
// (the one that reads the sensor) is gone once the device is, and the camera hears nothing
// more from it.
TEST(UsbCameraCoolingLoop, DestroyingTheDeviceStopsTheLoop) {
    CooledCamera c;
    ASSERT_EQ(c.camera->EnableCooling(true), 0);
    ASSERT_TRUE(WaitFor([&] { return c.sensor->reads.load() >= 1; }));
    const pid_t loop = c.reader.load();
    const std::string task = "/proc/self/task/" + std::to_string(loop);
    ASSERT_NE(loop, static_cast<pid_t>(syscall(SYS_gettid)));
    ASSERT_EQ(access(task.c_str(), F_OK), 0);
    c.camera.reset();
    const size_t requests = c.model->Requests().size();
    // The kernel lets go of a thread's entry a moment after the thread has ended.
    EXPECT_TRUE(WaitFor([&] { return access(task.c_str(), F_OK) != 0; }));
    EXPECT_EQ(c.model->Requests().size(), requests);
}

// A type-107 board against the camera's thermal model (its cooler runs while the cooler-on bit
// is set): the loop's first period sets the bit when the power rises above 0 and leaves it
// clear when the power stays 0, the sensor then cools or warms on the model's clock, and the
// stream close ends the loop in the middle of its wait.
TEST(UsbCameraCoolingLoop, Type107AgainstTheThermalModel) {
    struct Row {
        const char* name;
        double start;
        bool coolerOn;
    };
    for (const Row& row :
         {Row{"warmer than the target", 21.0, true}, Row{"far below the target", 15.0, false}}) {
        SCOPED_TRACE(row.name);
        SimUsbCameraConfig config;
        config.thermal = SimThermalConfig{.ambient = 21.0, .start = row.start};
        auto model = std::make_shared<CSimUsbCamera>(config);
        auto camera = std::make_shared<CSimUsbInProcessCamera>(model, 107);
        auto coolingWrites = [&] {
            int n = 0;
            for (const SimControlRecord& r : model->Requests())
                n += r.setup.request == 0xD6 && r.setup.index == 38;
            return n;
        };
        int tenths = 0;
        ASSERT_EQ(camera->GetIntValue(16, &tenths), 0);
        EXPECT_EQ(tenths, static_cast<int>(row.start * 10));
        ASSERT_EQ(camera->OpenStream(nullptr, nullptr), 0);
        ASSERT_EQ(camera->SetIntValue(15, 200), 0);  // 20.0 degrees
        ASSERT_EQ(camera->SetIntValue(13, 1), 0);
        // The loop's start enables cooling (bit 5); its first period sets the cooler-on bit
        // (bit 4) to follow the power, then waits 5 s (warm) or 3 s (cold).
        ASSERT_TRUE(WaitFor([&] { return coolingWrites() >= 2; }));
        EXPECT_EQ(model->FpgaReg(38) & 0x30, row.coolerOn ? 0x30 : 0x20);

        model->AdvanceThermalClock(60s);
        ASSERT_EQ(camera->GetIntValue(16, &tenths), 0);
        if (row.coolerOn)
            EXPECT_LT(tenths, 210 - 100);  // cooling towards 21 - 40 degrees
        else
            EXPECT_GT(tenths, 150 + 30);  // warming back towards 21 degrees

        const auto closing = Clock::now();
        EXPECT_EQ(camera->CloseStream(), 0);
        if (row.coolerOn) {
            EXPECT_LT(Clock::now() - closing, 4s);  // not after the 5 s wait
        }
        // The close leaves the bits; switching cooling off clears them, and the sensor drifts
        // back to ambient.
        EXPECT_EQ(model->FpgaReg(38) & 0x30, row.coolerOn ? 0x30 : 0x20);
        ASSERT_EQ(camera->SetIntValue(13, 0), 0);
        EXPECT_EQ(model->FpgaReg(38) & 0x30, 0);
        model->AdvanceThermalClock(600s);
        ASSERT_EQ(camera->GetIntValue(16, &tenths), 0);
        EXPECT_NEAR(tenths, 210, 2);
    }
}

// ---- Liveness -------------------------------------------------------------------------------

struct Calls {
    std::atomic<int> count{0};
    std::atomic<int> badArguments{0};
};

void OnDisconnect(void* device, int status, void* context) {
    auto* calls = static_cast<Calls*>(context);
    if (device != nullptr || status != 0) ++calls->badArguments;
    ++calls->count;
}

TEST(UsbCameraLiveness, LostCameraIsReportedEveryPeriodUntilTheCallbackGoes) {
    const size_t timersBefore = CTimerMng::GetInstance()->GetTimerCount();
    auto model = std::make_shared<CSimUsbCamera>();
    auto camera = std::make_shared<CSimUsbInProcessCamera>(model, 100);
    Calls calls;
    ASSERT_EQ(camera->SetDisconnectCallback(OnDisconnect, &calls), 0);
    EXPECT_EQ(CTimerMng::GetInstance()->GetTimerCount(), timersBefore + 1);
    ASSERT_EQ(camera->SetDisconnectCallback(OnDisconnect, &calls), 0);  // still one poll
    EXPECT_EQ(CTimerMng::GetInstance()->GetTimerCount(), timersBefore + 1);

    std::this_thread::sleep_for(600ms);  // an answering camera is not reported
    EXPECT_EQ(calls.count.load(), 0);
    const auto unplugged = Clock::now();
    model->Unplug();
    ASSERT_TRUE(WaitFor([&] { return calls.count.load() >= 2; }));
    // The first report comes within a period (or two, when the unplug just missed a poll); the
    // bound leaves room for a busy machine but not for a poll that stopped.
    EXPECT_LT(Clock::now() - unplugged, 10s);
    EXPECT_EQ(calls.badArguments.load(), 0);

    ASSERT_EQ(camera->SetDisconnectCallback(nullptr, nullptr), 0);
    EXPECT_EQ(CTimerMng::GetInstance()->GetTimerCount(), timersBefore);
    const int after = calls.count.load();
    std::this_thread::sleep_for(600ms);
    EXPECT_EQ(calls.count.load(), after);
}

TEST(UsbCameraLiveness, DestroyingTheDeviceEndsThePoll) {
    const size_t timersBefore = CTimerMng::GetInstance()->GetTimerCount();
    auto model = std::make_shared<CSimUsbCamera>();
    auto camera = std::make_shared<CSimUsbInProcessCamera>(model, 100);
    Calls calls;
    ASSERT_EQ(camera->SetDisconnectCallback(OnDisconnect, &calls), 0);
    model->Unplug();
    ASSERT_TRUE(WaitFor([&] { return calls.count.load() >= 1; }));
    camera.reset();
    EXPECT_EQ(CTimerMng::GetInstance()->GetTimerCount(), timersBefore);
    const int after = calls.count.load();
    std::this_thread::sleep_for(600ms);
    EXPECT_EQ(calls.count.load(), after);
}

// The poll never waits for the transfer mutex, so a thread holding it may remove the poll: the
// removal waits for a poll in progress, which would otherwise wait for that thread.
TEST(UsbCameraLiveness, RemovalWhileHoldingTheTransferMutexDoesNotDeadlock) {
    auto model = std::make_shared<CSimUsbCamera>();
    auto camera = std::make_shared<CSimUsbInProcessCamera>(model, 100);
    Calls calls;
    model->Unplug();
    auto done = std::async(std::launch::async, [&] {
        auto hold = camera->HoldTransfers();
        // The poll is installed only now, so every poll finds the mutex taken.
        camera->SetDisconnectCallback(OnDisconnect, &calls);
        std::this_thread::sleep_for(700ms);  // a poll comes due meanwhile
        camera->SetDisconnectCallback(nullptr, nullptr);
    });
    if (done.wait_for(20s) != std::future_status::ready) {
        std::fprintf(stderr, "deadlock: removing the liveness poll under the transfer mutex\n");
        std::abort();
    }
    // Busy while the poll came: it looked again later or not at all, but never reported a
    // camera it could not ask.
    EXPECT_EQ(calls.count.load(), 0);
}

// Requests from the caller's thread, the poll on the timer thread and callbacks coming and
// going: once SetDisconnectCallback(nullptr) has returned, the old callback is never called.
TEST(UsbCameraLiveness, CallbackChangesRaceWithPollsAndRequests) {
    auto model = std::make_shared<CSimUsbCamera>();
    auto camera = std::make_shared<CSimUsbInProcessCamera>(model, 100);
    struct Registration {
        std::atomic<bool> removed{false};
        std::atomic<int> calls{0};
        std::atomic<int> lateCalls{0};
    };
    static constexpr int kRounds = 4;
    std::vector<std::unique_ptr<Registration>> regs;
    for (int i = 0; i < kRounds; ++i) regs.push_back(std::make_unique<Registration>());
    auto callback = [](void*, int, void* context) {
        auto* reg = static_cast<Registration*>(context);
        if (reg->removed.load()) ++reg->lateCalls;
        ++reg->calls;
    };

    // Requests as a controller makes them: one after another, with a little time between.
    std::atomic<bool> stop{false};
    std::thread requests([&] {
        uint32_t value = 0;
        while (!stop.load()) {
            camera->ReadFpgaReg(1, &value);
            std::this_thread::sleep_for(200us);
        }
    });
    model->Unplug();
    for (auto& reg : regs) {
        EXPECT_EQ(camera->SetDisconnectCallback(callback, reg.get()), 0);
        const bool reported = WaitFor([&] { return reg->calls.load() >= 1; });
        EXPECT_EQ(camera->SetDisconnectCallback(nullptr, nullptr), 0);
        reg->removed = true;
        if (!reported) {
            ADD_FAILURE() << "a lost camera was not reported";
            break;
        }
    }
    stop = true;
    requests.join();
    std::this_thread::sleep_for(600ms);
    for (auto& reg : regs) EXPECT_EQ(reg->lateCalls.load(), 0);
}

}  // namespace
