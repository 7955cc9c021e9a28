// The AE ranges against sensor limits a driver changes at run time: capability refreshes that
// lower, raise and restore them, with ranges the host set and whole ones, in the record (the
// getters) and in what auto exposure runs with.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "ControllerTestBase.h"
#include "QVCameraApi.h"
#include "SettingsCamera.h"
#include "SettingsFixture.h"

namespace {

using ctltest::AeOn;
using ctltest::Pipeline;
using ctltest::ProcessOneFrame;
using ctltest::Settings;

// The AE exposure range set while capability calls take over a driver's exposure-line maximum,
// which moves between 50000 and 10000 lines of 20 us: a range is cut to the limits in force when
// it is stored, so once a refresh to 10000 lines is done the record's maximum is not above
// 200000 us, also with a range set at the same moment.
TEST_F(Settings, ExposureRangeBesideACapabilityRefresh) {
    CameraControl* c = OpenCamera({.softwareAe = true});
    AeOn(c);
    constexpr int kRounds = 20000;
    constexpr double kLowMaxUs = 10000 * ctltest::kLineTimeUs;
    std::atomic<bool> refreshing{true};
    std::atomic<int> sets{0};
    std::thread setter([&] {
        while (refreshing) {
            EXPECT_EQ(c->CameraSetAeExposureRange(100, 1000000), 0);
            ++sets;
        }
    });
    // The refreshes start once the setter runs.
    ASSERT_TRUE(ctltest::WaitFor([&] { return sets.load() > 0; }));
    int above = 0;
    for (int round = 0; round < kRounds; ++round) {
        const uint32_t lines = round & 1 ? ctltest::kLinesMax : 10000;
        m_camera->SetSensorLineLimits(1, lines);
        tSdkCapability capability{};
        ASSERT_EQ(c->CameraGetCapability(&capability), 0);
        if (lines == ctltest::kLinesMax) continue;
        double min = 0, max = 0;
        ASSERT_EQ(c->CameraGetAeExposureRange(&min, &max), 0);
        if (max > kLowMaxUs) ++above;
    }
    refreshing = false;
    setter.join();
    EXPECT_EQ(above, 0) << "of " << kRounds / 2 << " refreshes to 10000 lines";
}

// The sensor limits the double reports after opening: its capability's, with the gain and
// exposure-line limits given.
SensorParam LimitsOf(uint32_t gainMin, uint32_t gainMax, uint32_t linesMin, uint32_t linesMax) {
    SensorParam limits{};
    const tSdkCapability capability = ctltest::SettingsCapability({.softwareAe = true});
    static_assert(sizeof capability.auSensorParam <= sizeof limits);
    std::memcpy(&limits, capability.auSensorParam, sizeof capability.auSensorParam);
    limits.analogGainMin = gainMin;
    limits.analogGainMax = gainMax;
    limits.expLinesMin = linesMin;
    limits.expLinesMax = linesMax;
    return limits;
}

// A driver changes its limits with the trigger mode, back and forth; CameraGetCapability takes
// them over each time. Auto exposure then works in the AE gain range the getter reports, so
// the host is told what it runs with (the host set no range here: the camera's whole one).
TEST_F(Settings, AutoExposureKeepsTheGainRangeTheGetterReportsAcrossRefreshes) {
    struct Row {
        const char* name;
        std::vector<std::pair<uint32_t, uint32_t>> limits;  // each taken over in turn
    };
    const Row rows[] = {
        {"maximum lowered, then restored", {{1000, 8000}, {1000, 16000}}},
        {"maximum raised", {{1000, 32000}}},
        {"minimum lowered", {{500, 16000}}},
        {"minimum raised, then restored", {{2000, 16000}, {1000, 16000}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CameraControl* c = OpenCamera({.softwareAe = true});
        AeOn(c);
        for (const auto& [min, max] : row.limits) {
            m_camera->SetSensorLimits(LimitsOf(min, max, 1, ctltest::kLinesMax));
            tSdkCapability capability{};
            ASSERT_EQ(c->CameraGetCapability(&capability), 0);
            ASSERT_EQ(capability.auSensorParam[3], max);
        }
        int min = 0, max = 0;
        ASSERT_EQ(c->CameraGetAeAnalogGainRange(&min, &max), 0);
        const Pipeline p = ProcessOneFrame(*this, c);
        EXPECT_EQ(p.exposure.aeGainMin, static_cast<uint32_t>(min));
        EXPECT_EQ(p.exposure.aeGainMax, static_cast<uint32_t>(max));
        m_controls.clear();
    }
}

// The same for the exposure: the refresh brings the record's AE exposure range onto the new
// line limits (the getter reports it), and auto exposure works in that range, never beyond the
// sensor's new maximum. Lines of 20 us; the camera's range as opened is 1 to 50000 lines.
TEST_F(Settings, AutoExposureKeepsTheExposureRangeTheGetterReportsAcrossRefreshes) {
    struct Row {
        const char* name;
        std::vector<std::pair<uint32_t, uint32_t>> lines;  // each taken over in turn
        double wantMin, wantMax;                           // the getter, in us
    };
    const Row rows[] = {
        {"maximum lowered", {{1, 5000}}, 20, 100000},
        {"minimum raised", {{15, 50000}}, 300, 1000000},
        {"both changed", {{15, 5000}}, 300, 100000},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CameraControl* c = OpenCamera({.softwareAe = true});
        AeOn(c);
        for (const auto& [min, max] : row.lines) {
            m_camera->SetSensorLimits(LimitsOf(1000, 16000, min, max));
            tSdkCapability capability{};
            ASSERT_EQ(c->CameraGetCapability(&capability), 0);
            ASSERT_EQ(capability.auSensorParam[5], max);
        }
        double min = 0, max = 0;
        ASSERT_EQ(c->CameraGetAeExposureRange(&min, &max), 0);
        EXPECT_EQ(min, row.wantMin);
        EXPECT_EQ(max, row.wantMax);
        const Pipeline p = ProcessOneFrame(*this, c);
        EXPECT_EQ(p.exposure.exposureMin, min);
        EXPECT_EQ(p.exposure.exposureMax, max);

        // A dark scene at 4000 lines: auto exposure lengthens the exposure, within the sensor's
        // maximum.
        std::vector<uint8_t> dark(ctltest::kWidth * ctltest::kHeight, 0x10);
        stImageInfo info{};
        info.iWidth = ctltest::kWidth;
        info.iHeight = ctltest::kHeight;
        info.TotalBytes = ctltest::kWidth * ctltest::kHeight;
        info.uiMediaType = CAMERA_MEDIA_TYPE_MONO8;
        info.ExpLineTime = ctltest::kLineTimeUs;
        info.ExpTime = 4000 * ctltest::kLineTimeUs;
        info.Gain = 1000;
        m_camera->ClearCalls();
        for (int frame = 0; frame < 4; ++frame) {
            ASSERT_EQ(m_camera->PushFrame(dark.data(), static_cast<uint32_t>(dark.size()), info),
                      0);
            c->CameraGetImageBufferEx(nullptr, 1000);
        }
        const std::vector<qvsim::FakeCall> sent = m_camera->CallsNamed({"SetExposureLines"});
        ASSERT_FALSE(sent.empty());
        for (const qvsim::FakeCall& call : sent) {
            EXPECT_LE(call.args.at(0) * ctltest::kLineTimeUs, max);
            EXPECT_GE(call.args.at(0) * ctltest::kLineTimeUs, min);
        }
        m_controls.clear();
    }
}

// Ranges the host set, and whole ones, through refreshes that lower, raise and restore the
// limits: the record (the getters) and auto exposure keep the same ranges. A whole range
// follows the sensor's whole range both ways; a set one is cut to the limits and stays cut
// when they widen again; one with nothing left on them is their whole range.
TEST_F(Settings, SetAndWholeAeRangesFollowRefreshesAlikeInTheRecordAndAutoExposure) {
    struct Limits {
        uint32_t gainMin, gainMax, linesMin, linesMax;
    };
    struct Row {
        const char* name;
        int gainMin, gainMax;             // set before the refreshes; 0, 0: none (the whole range)
        double exposureMin, exposureMax;  // us, likewise
        std::vector<Limits> limits;       // each taken over in turn
        int wantGainMin, wantGainMax;
        double wantExposureMin, wantExposureMax;
    };
    const Row rows[] = {
        {"whole, limits lowered and restored",
         0,
         0,
         0,
         0,
         {{1000, 8000, 1, 5000}, {1000, 16000, 1, 50000}},
         1000,
         16000,
         20,
         1000000},
        {"whole, limits raised", 0, 0, 0, 0, {{1000, 32000, 1, 60000}}, 1000, 32000, 20, 1200000},
        {"set within, limits lowered and restored",
         2000,
         12000,
         1000,
         400000,
         {{1000, 8000, 1, 5000}, {1000, 16000, 1, 50000}},
         2000,
         8000,
         1000,
         100000},
        {"set within, limits raised",
         2000,
         12000,
         1000,
         400000,
         {{500, 32000, 1, 60000}},
         2000,
         12000,
         1000,
         400000},
        {"set, minimum raised into it",
         2000,
         12000,
         1000,
         400000,
         {{4000, 16000, 100, 50000}},
         4000,
         12000,
         2000,
         400000},
        // Cut to exactly the lowered limits' whole range, it is still the host's range: the
        // widening refresh must not carry it past the maximum the host set.
        {"set from the sensor's minimum, limits lowered and restored",
         1000,
         12000,
         20,
         400000,
         {{1000, 8000, 1, 5000}, {1000, 16000, 1, 50000}},
         1000,
         8000,
         20,
         100000},
        {"set, nothing left on the limits",
         10000,
         16000,
         600000,
         1000000,
         {{1000, 8000, 1, 20000}},
         1000,
         8000,
         20,
         400000},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CameraControl* c = OpenCamera({.softwareAe = true});
        AeOn(c);
        if (row.gainMax != 0) {
            ASSERT_EQ(c->CameraSetAeAnalogGainRange(row.gainMin, row.gainMax), 0);
        }
        if (row.exposureMax != 0) {
            ASSERT_EQ(c->CameraSetAeExposureRange(row.exposureMin, row.exposureMax), 0);
        }
        for (const Limits& l : row.limits) {
            m_camera->SetSensorLimits(LimitsOf(l.gainMin, l.gainMax, l.linesMin, l.linesMax));
            tSdkCapability capability{};
            ASSERT_EQ(c->CameraGetCapability(&capability), 0);
        }
        int gainMin = 0, gainMax = 0;
        ASSERT_EQ(c->CameraGetAeAnalogGainRange(&gainMin, &gainMax), 0);
        EXPECT_EQ(gainMin, row.wantGainMin);
        EXPECT_EQ(gainMax, row.wantGainMax);
        double exposureMin = 0, exposureMax = 0;
        ASSERT_EQ(c->CameraGetAeExposureRange(&exposureMin, &exposureMax), 0);
        EXPECT_EQ(exposureMin, row.wantExposureMin);
        EXPECT_EQ(exposureMax, row.wantExposureMax);
        const Pipeline p = ProcessOneFrame(*this, c);
        EXPECT_EQ(p.exposure.aeGainMin, static_cast<uint32_t>(row.wantGainMin));
        EXPECT_EQ(p.exposure.aeGainMax, static_cast<uint32_t>(row.wantGainMax));
        EXPECT_EQ(p.exposure.exposureMin, row.wantExposureMin);
        EXPECT_EQ(p.exposure.exposureMax, row.wantExposureMax);
        m_controls.clear();
    }
}

}  // namespace
