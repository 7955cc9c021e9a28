// Good and bad calls on one streaming handle from several threads at once: setters, getters,
// calls with null pointers and out-of-range values, and frame waits. Every call answers what the
// same call answers alone, each frame waiter sees rising frame numbers, and afterwards the camera
// still streams.
#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "BadInputArgs.h"
#include "UsbEndToEndFixture.h"

namespace {

using namespace std::chrono_literals;
using badinput::IsStatusCode;
using e2etest::Clock;
using e2etest::UsbEndToEnd;

constexpr int kInvalid = CAMERA_STATUS_PARAMETER_INVALID;

struct ConcurrentRow {
    const char* name;
    std::function<int(HANDLE)> call;
};

// Settings in range and out of it; each setter's value is one the camera keeps streaming with.
std::vector<ConcurrentRow> SetterRows() {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    return {
        {"SetExposureTime 10000", [](HANDLE h) { return CameraSetExposureTime(h, 10000.0); }},
        {"SetExposureTime -1", [](HANDLE h) { return CameraSetExposureTime(h, -1.0); }},
        {"SetExposureTime NaN", [nan](HANDLE h) { return CameraSetExposureTime(h, nan); }},
        {"SetAnalogGain 1", [](HANDLE h) { return CameraSetAnalogGain(h, 1); }},
        {"SetAnalogGain INT_MAX", [](HANDLE h) { return CameraSetAnalogGain(h, INT_MAX); }},
        {"SetGamma 100", [](HANDLE h) { return CameraSetGamma(h, 100); }},
        {"SetGamma -1", [](HANDLE h) { return CameraSetGamma(h, -1); }},
        {"SetContrast 50", [](HANDLE h) { return CameraSetContrast(h, 50); }},
        {"SetContrast INT_MIN", [](HANDLE h) { return CameraSetContrast(h, INT_MIN); }},
        {"SetSharpness 0", [](HANDLE h) { return CameraSetSharpness(h, 0); }},
        {"SetMirror 0 1", [](HANDLE h) { return CameraSetMirror(h, 0, 1); }},
        {"SetMirror 0 0", [](HANDLE h) { return CameraSetMirror(h, 0, 0); }},
        {"SetMirror 7 1", [](HANDLE h) { return CameraSetMirror(h, 7, 1); }},
        {"SetAeTarget 120", [](HANDLE h) { return CameraSetAeTarget(h, 120); }},
        {"SetFrameSpeed -1", [](HANDLE h) { return CameraSetFrameSpeed(h, -1); }},
        {"SetMirror null handle", [](HANDLE) { return CameraSetMirror(nullptr, 0, 1); }},
    };
}

std::vector<ConcurrentRow> GetterRows() {
    return {
        {"GetExposureTime",
         [](HANDLE h) {
             double us = 0;
             return CameraGetExposureTime(h, &us);
         }},
        {"GetExposureTime null", [](HANDLE h) { return CameraGetExposureTime(h, nullptr); }},
        {"GetAnalogGain null", [](HANDLE h) { return CameraGetAnalogGain(h, nullptr); }},
        {"GetGamma null", [](HANDLE h) { return CameraGetGamma(h, nullptr); }},
        {"GetCapability",
         [](HANDLE h) {
             tSdkCapability cap{};
             return CameraGetCapability(h, &cap);
         }},
        {"GetCapability null", [](HANDLE h) { return CameraGetCapability(h, nullptr); }},
        {"GetFrameStatistic",
         [](HANDLE h) {
             tSdkFrameStatistic s{};
             return CameraGetFrameStatistic(h, &s);
         }},
        {"GetCurResolution",
         [](HANDLE h) {
             tSdkResolution r{};
             return CameraGetCurResolution(h, &r);
         }},
        {"GetFriendlyName",
         [](HANDLE h) {
             char name[32] = {};
             return CameraGetFriendlyName(h, name);
         }},
        {"GetAeTarget null handle",
         [](HANDLE) {
             USHORT t = 0;
             return CameraGetAeTarget(nullptr, &t);
         }},
    };
}

// Frame calls with bad arguments beside the waiters that take real frames.
std::vector<ConcurrentRow> FrameRows() {
    static uint32_t notAFrame = 0;
    return {
        {"ReleaseFrameHandle null", [](HANDLE h) { return CameraReleaseFrameHandle(h, nullptr); }},
        {"ReleaseFrameHandle foreign",
         [](HANDLE h) { return CameraReleaseFrameHandle(h, &notAFrame); }},
        {"GetRawImageBuffer null",
         [](HANDLE h) { return CameraGetRawImageBuffer(h, nullptr, 50); }},
        {"GetImageFrameNo null frame",
         [](HANDLE h) {
             uint64_t no = 0;
             return CameraGetImageFrameNo(h, nullptr, &no);
         }},
    };
}

class BadInputConcurrently : public UsbEndToEnd {
  protected:
    void SetUp() override {
        UsbEndToEnd::SetUp();
        Plug(71, "BAD-CONCURRENT", 60);
        ASSERT_EQ(EnumerateUntil(1), 0);
        m_h = Init(0);
        ASSERT_NE(m_h, nullptr);
        ASSERT_EQ(CameraPlay(m_h), 0);
    }

    HANDLE m_h = nullptr;
};

TEST_F(BadInputConcurrently, CallsFromSeveralThreadsWhileStreaming) {
    HANDLE h = m_h;
    // What each call answers alone, before any thread starts.
    std::vector<std::vector<ConcurrentRow>> groups = {SetterRows(), GetterRows(), FrameRows()};
    std::vector<std::vector<int>> alone(groups.size());
    for (size_t g = 0; g < groups.size(); ++g)
        for (const ConcurrentRow& row : groups[g]) {
            const int r = row.call(h);
            EXPECT_TRUE(IsStatusCode(r)) << row.name << " answered " << r;
            alone[g].push_back(r);
        }
    // Null handles and pointers to no frame fail (the table pins every answer).
    for (size_t g = 0; g < groups.size(); ++g)
        for (size_t i = 0; i < groups[g].size(); ++i) {
            const std::string name = groups[g][i].name;
            if (name.find("null handle") != std::string::npos ||
                name.find("foreign") != std::string::npos) {
                EXPECT_EQ(alone[g][i], kInvalid) << name;
            }
        }

    constexpr int kRounds = 40;
    std::atomic<int> callersLeft{static_cast<int>(groups.size())};
    std::vector<std::thread> threads;
    std::vector<std::string> mismatches[3];
    for (size_t g = 0; g < groups.size(); ++g)
        threads.emplace_back([&, g] {
            for (int round = 0; round < kRounds; ++round)
                for (size_t i = 0; i < groups[g].size(); ++i) {
                    const int r = groups[g][i].call(h);
                    if (r != alone[g][i])
                        mismatches[g].push_back(std::string(groups[g][i].name) + " answered " +
                                                std::to_string(r) + ", alone " +
                                                std::to_string(alone[g][i]));
                }
            --callersLeft;
        });

    // Two raw-frame waiters and one processed-frame waiter, until the callers are done and
    // each has had frames.
    constexpr int kWaiters = 2;
    std::atomic<uint64_t> newest{0};
    std::vector<std::string> waiterFaults[kWaiters + 1];
    int frames[kWaiters + 1] = {};
    const auto deadline = Clock::now() + 120s;
    for (int w = 0; w < kWaiters; ++w)
        threads.emplace_back([&, w] {
            uint64_t last = 0;
            while (Clock::now() < deadline && (callersLeft > 0 || frames[w] < 3)) {
                CameraFrameHandle f = nullptr;
                const int r = CameraGetRawImageBuffer(h, &f, 2000);
                if (r == CAMERA_STATUS_TIMEOUT) continue;
                if (r != 0) {
                    waiterFaults[w].push_back("frame wait answered " + std::to_string(r));
                    break;
                }
                uint64_t no = 0;
                if (CameraGetImageFrameNo(h, f, &no) != 0) waiterFaults[w].push_back("no number");
                if (no <= last)
                    waiterFaults[w].push_back("frame " + std::to_string(no) + " after " +
                                              std::to_string(last));
                last = no;
                uint64_t seen = newest.load();
                while (no > seen && !newest.compare_exchange_weak(seen, no)) {
                }
                if (CameraReleaseFrameHandle(h, f) != 0)
                    waiterFaults[w].push_back("release failed");
                ++frames[w];
            }
        });
    threads.emplace_back([&] {
        while (Clock::now() < deadline && (callersLeft > 0 || frames[kWaiters] < 3)) {
            stImageInfo info{};
            if (CameraGetImageBufferEx(h, &info, 2000) == nullptr) continue;
            if (info.iWidth <= 0 || info.iHeight <= 0)
                waiterFaults[kWaiters].push_back("processed frame without a size");
            ++frames[kWaiters];
        }
    });
    for (std::thread& t : threads) t.join();

    for (size_t g = 0; g < groups.size(); ++g) {
        EXPECT_TRUE(mismatches[g].empty())
            << mismatches[g].size() << " calls, the first " << mismatches[g].front();
    }
    for (int w = 0; w <= kWaiters; ++w) {
        EXPECT_TRUE(waiterFaults[w].empty()) << "waiter " << w << ": " << waiterFaults[w].front();
        EXPECT_GE(frames[w], 3) << "waiter " << w;
    }

    // Still streaming: a newer frame than any a waiter saw.
    ASSERT_EQ(CameraPlay(h), 0);
    CameraFrameHandle f = nullptr;
    ASSERT_EQ(CameraGetRawImageBuffer(h, &f, 10000), 0);
    uint64_t no = 0;
    EXPECT_EQ(CameraGetImageFrameNo(h, f, &no), 0);
    EXPECT_GT(no, newest.load());
    EXPECT_EQ(CameraReleaseFrameHandle(h, f), 0);
}

}  // namespace
