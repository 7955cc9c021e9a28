// The fixture of the end-to-end tests: simulated mono IMX290 cameras (board 102) in one umockdev
// testbed per process, behind the real libusb, driven through the exported functions.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "control/ControlClock.h"
#include "QVCameraApi.h"
#include "SimHostSettings.h"
#include "SimUsbImx290Camera.h"

namespace e2etest {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kMono8 = 0x01080000;

// The loss rule's clock, moved by the test: a playing camera is declared lost after 5 s
// without a frame, which the test passes at once.
class CManualClock : public CControlClock {
  public:
    uint64_t NowMs() override { return m_ms.load(); }
    void Advance(uint64_t ms) { m_ms += ms; }

  private:
    std::atomic<uint64_t> m_ms{1000000};
};

class UsbEndToEnd : public ::testing::Test {
  protected:
    // Once per process: the manager's libusb keeps following the testbed it started with, so
    // the testbed outlives every test (also when the tests are repeated).
    static void SetUpTestSuite() {
        if (s_testbed != nullptr) return;
        // The cameras' parameter files go to a folder of this run.
        s_home = std::filesystem::temp_directory_path() /
                 ("qv-e2e-" + std::to_string(static_cast<long>(getpid())));
        std::filesystem::create_directories(s_home);
        setenv("HOME", s_home.c_str(), 1);
        // Small frames, so the sanitizer builds keep up: the 320 x 240 crop.
        ASSERT_TRUE(qvsim::UseImx290Resolution(qvsim::PresetResolution(8)));
        // Before the first exported call: the manager's libusb has to find the testbed.
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
    }

    void TearDown() override {
        for (HANDLE h : m_handles) CameraUnInit(h);
        // An enumeration of no transport empties the manager's list and closes its cameras,
        // before their devices leave the testbed.
        int count = 0;
        CameraEnumerateDeviceEx(&count, 0);
        m_cameras.clear();
        for (CSimUsbDevice* d : m_others) s_testbed->RemoveDevice(*d);
    }

    CSimUsbImx290Camera& Plug(int address, const char* serial, double fps = 30,
                              SimFramePattern pattern = SimFramePattern::kRamp,
                              uint8_t constant = 0) {
        SimImx290Options o;
        o.serial = serial;
        o.port = {1, address};
        o.fps = fps;
        o.pattern = pattern;
        o.constant = constant;
        return PlugWith(o);
    }
    CSimUsbImx290Camera& PlugWith(const SimImx290Options& options) {
        m_cameras.push_back(std::make_unique<CSimUsbImx290Camera>(*s_testbed, options));
        return *m_cameras.back();
    }

    // Enumerates until `cameras` are listed: libusb learns of a device plugged in a moment ago
    // from its hot-plug events, as on a real bus.
    static int EnumerateUntil(int cameras) {
        int count = 0;
        int r = CAMERA_STATUS_NO_DEVICE_FOUND;
        const auto deadline = Clock::now() + 10s;
        while (Clock::now() < deadline) {
            r = CameraEnumerateDevice(&count);
            if (count == cameras) break;
            std::this_thread::sleep_for(20ms);
        }
        EXPECT_EQ(count, cameras);
        return r;
    }

    HANDLE Init(int index) {
        HANDLE h = nullptr;
        EXPECT_EQ(CameraInit(&h, index), 0);
        if (h != nullptr) m_handles.push_back(h);
        return h;
    }

    HANDLE InitBySerial(const char* sn) {
        HANDLE h = nullptr;
        EXPECT_EQ(CameraInitEx3(&h, sn), 0);
        if (h != nullptr) m_handles.push_back(h);
        return h;
    }

    void UnInit(HANDLE h) {
        std::erase(m_handles, h);
        EXPECT_EQ(CameraUnInit(h), 0);
    }

    // The frame number and timestamp of the next raw frame, its image checked against the
    // camera's pattern; nothing when none came within timeoutMs.
    struct RawFrame {
        uint64_t no;
        uint64_t stamp;
    };
    static std::optional<RawFrame> TakeRaw(HANDLE h, int timeoutMs = 5000) {
        CameraFrameHandle raw = nullptr;
        if (CameraGetRawImageBuffer(h, &raw, timeoutMs) != 0) return std::nullopt;
        RawFrame f{};
        EXPECT_EQ(CameraGetImageFrameNo(h, raw, &f.no), 0);
        EXPECT_EQ(CameraGetImageTimestamp(h, raw, &f.stamp), 0);
        stImageInfo info{};
        const BYTE* data = CameraGetImageInfo(h, raw, &info);
        EXPECT_NE(data, nullptr);
        if (data != nullptr) {
            // The image behind the header is the camera's pattern of that frame number.
            for (uint32_t o : {0u, 1u, info.TotalBytes / 2, info.TotalBytes - 1})
                EXPECT_EQ(data[o], CSimFrameGenerator::RampByte(f.no, o)) << "offset " << o;
        }
        EXPECT_EQ(CameraReleaseFrameHandle(h, raw), 0);
        return f;
    }

    static inline std::filesystem::path s_home;
    static inline CSimUsbTestbed* s_testbed = nullptr;
    std::vector<std::unique_ptr<CSimUsbImx290Camera>> m_cameras;
    std::vector<CSimUsbDevice*> m_others;
    std::vector<HANDLE> m_handles;
};

}  // namespace e2etest
