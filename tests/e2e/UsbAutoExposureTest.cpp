// Auto exposure end to end: a simulated mono IMX290 camera behind the real libusb renders its
// scene with the exposure and gain the SDK programmed into the sensor's registers, and the SDK,
// driven only through its exported functions, brings the brightness of its frames to the target
// from a frame 5 times too dark and from a saturated one, with anti-flicker off and on. The
// camera is gated: each frame begins only when the test asks for it, after the SDK has
// processed the one before, so no frame is taken with settings older than the test assumes.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "QVCameraApi.h"
#include "SimHostSettings.h"
#include "SimUsbImx290Camera.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kTarget = 120;
constexpr double kTolerance = 12;
constexpr int kSettleFrames = 60;  // processed frames allowed to get there
constexpr int kStayFrames = 30;    // and then to stay
// One anti-flicker quantum at 50 Hz: 10 ms. The scene reaches the target at two quanta with
// unity gain, so anti-flicker has a whole number of quanta to land on.
constexpr double kQuantumUs = 10000;

class UsbAutoExposure : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (s_testbed != nullptr) return;
        s_home = std::filesystem::temp_directory_path() /
                 ("qv-ae-" + std::to_string(static_cast<long>(getpid())));
        std::filesystem::create_directories(s_home);
        setenv("HOME", s_home.c_str(), 1);
        ASSERT_TRUE(qvsim::UseImx290Resolution(qvsim::PresetResolution(8)));  // 320 x 240
        s_testbed = new CSimUsbTestbed();
        std::atexit([] {
            delete s_testbed;
            s_testbed = nullptr;
            std::error_code ec;
            std::filesystem::remove_all(s_home, ec);
        });
    }

    void SetUp() override {
        ASSERT_TRUE(CSimUsbTestbed::PreloadActive()) << "not running under the umockdev preload";
        SimImx290Options o;
        o.serial = "AE-0001";
        o.port = {1, 12};
        o.fps = 0;
        o.scene = 1;  // set once the line time is known
        m_camera = std::make_unique<CSimUsbImx290Camera>(*s_testbed, o);
        const auto deadline = Clock::now() + 10s;
        int count = 0;
        while (Clock::now() < deadline) {
            CameraEnumerateDevice(&count);
            if (count == 1) break;
            std::this_thread::sleep_for(20ms);
        }
        ASSERT_EQ(count, 1);
        ASSERT_EQ(CameraInit(&m_handle, 0), 0);
        // After the stream open, which sets the trigger logic's gate for continuous mode.
        m_camera->Model().GateFrames(true);
        // Playing throughout: a paused stream ends with a read in flight that would swallow
        // the next gated frame.
        ASSERT_EQ(CameraPlay(m_handle), 0);
    }

    void TearDown() override {
        if (m_handle != nullptr) CameraUnInit(m_handle);
        int count = 0;
        CameraEnumerateDeviceEx(&count, 0);
        m_camera.reset();
    }

    // The mean brightness of the next processed frame; -1 when none came.
    double NextBrightness() {
        m_camera->AllowFrames(1);
        stImageInfo info{};
        const BYTE* data = CameraGetImageBufferEx(m_handle, &info, 5000);
        if (data == nullptr) return -1;
        EXPECT_EQ(info.uiMediaType, 0x01080000u);
        double sum = 0;
        for (uint32_t i = 0; i < info.iWidth * info.iHeight; ++i) sum += data[i];
        return sum / (info.iWidth * info.iHeight);
    }

    // Auto exposure from startUs with anti-flicker as given: the frame where the brightness
    // first lies within the tolerance of the target (-1: never), failing when it leaves again.
    int Converge(double startUs, bool antiFlicker, double* startBrightness) {
        EXPECT_EQ(CameraSetAeState(m_handle, 0), 0);
        EXPECT_EQ(CameraSetAnalogGain(m_handle, 1000), 0);
        EXPECT_EQ(CameraSetExposureTime(m_handle, startUs), 0);
        EXPECT_EQ(CameraSetAeTarget(m_handle, kTarget), 0);
        EXPECT_EQ(CameraSetLightFrequency(m_handle, 1), 0);
        EXPECT_EQ(CameraSetAntiFlick(m_handle, antiFlicker ? 1 : 0), 0);
        *startBrightness = NextBrightness();
        m_trace.clear();
        EXPECT_EQ(CameraSetAeState(m_handle, 1), 0);
        int settledAt = -1;
        for (int frame = 0; frame < kSettleFrames + kStayFrames; ++frame) {
            const double b = NextBrightness();
            m_trace += " " + std::to_string(static_cast<int>(b));
            if (b < 0) {
                ADD_FAILURE() << "no frame " << frame;
                return -1;
            }
            const bool inside = std::abs(b - kTarget) <= kTolerance;
            if (inside && settledAt < 0) settledAt = frame;
            if (settledAt >= 0 && !inside) {
                ADD_FAILURE() << "left the target at frame " << frame << ":" << m_trace;
                return -1;
            }
            if (settledAt < 0 && frame >= kSettleFrames) break;
        }
        return settledAt;
    }

    // A scene that reaches the target at two anti-flicker quanta with unity gain.
    void SetScene() {
        double lineTime = 0;
        ASSERT_EQ(CameraGetExposureLineTime(m_handle, &lineTime), 0);
        ASSERT_GT(lineTime, 0);
        m_camera->SetScene(kTarget / (2 * kQuantumUs / lineTime));
    }

    static std::filesystem::path s_home;
    static CSimUsbTestbed* s_testbed;
    std::unique_ptr<CSimUsbImx290Camera> m_camera;
    HANDLE m_handle = nullptr;
    std::string m_trace;  // the brightness of each frame of the last run
};

std::filesystem::path UsbAutoExposure::s_home;
CSimUsbTestbed* UsbAutoExposure::s_testbed = nullptr;

TEST_F(UsbAutoExposure, ConvergesFromDarkAndFromSaturated) {
    SetScene();
    struct Row {
        const char* name;
        double startUs;
        bool antiFlicker;
    };
    const Row rows[] = {
        {"5 times too dark", 4000, false},
        {"saturated", 60000, false},
        {"5 times too dark, anti-flicker", 4000, true},
        {"saturated, anti-flicker", 60000, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        double start = 0;
        const int settledAt = Converge(row.startUs, row.antiFlicker, &start);
        // The start is what the row says it is.
        if (row.startUs < 10000) {
            EXPECT_NEAR(start, kTarget / 5.0, 3);
        } else {
            EXPECT_GE(start, 250);
        }
        EXPECT_GE(settledAt, 0) << m_trace;
        EXPECT_LE(settledAt, kSettleFrames) << m_trace;
    }
}

}  // namespace
