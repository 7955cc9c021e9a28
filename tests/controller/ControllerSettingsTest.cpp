// The controller's image settings: each family as one table of (value, limits, AE or WB state)
// -> status, stored value and what reached the device; the checks before initialisation and
// without device parameters; null pointers; the log texts; and the exports' flag handling and
// 16-bit answers.
#include <gtest/gtest.h>

#include <atomic>
#include <climits>

#include <cstring>
#include <functional>
#include <thread>
#include <utility>
#include <vector>

#include "ControllerTestBase.h"
#include "LogCapture.h"
#include "QVCameraApi.h"
#include "SettingsCamera.h"
#include "SettingsFixture.h"

namespace {

using ctltest::AeOn;
using ctltest::ControllerTest;
using ctltest::CSettingsCamera;
using ctltest::Pipeline;
using ctltest::ProcessOneFrame;
using ctltest::Settings;
using Record = CameraParameter;
using Check = std::function<void(const Record&)>;
using PipelineCheck = std::function<void(const Pipeline&)>;

// One setter call on a freshly opened camera, after an optional preparation.
struct SetterRow {
    const char* name;
    std::function<void(CameraControl*)> prepare;  // may be null
    std::function<int(CameraControl*)> call;
    int status;
    Check check;                       // the record afterwards
    std::vector<std::string> writes;   // what the device got, of the names watched
    PipelineCheck pipeline = nullptr;  // what the pipeline runs with at the next frame
};

// Auto exposure runs on every processed frame of these cameras, so the exposure object takes
// its pending settings over as the others do.
void RunRows(Settings& t, const std::vector<SetterRow>& rows,
             std::initializer_list<std::string> watched, CSettingsCamera::Options options = {}) {
    options.softwareAe = true;
    for (const SetterRow& row : rows) {
        SCOPED_TRACE(row.name);
        CameraControl* control = t.OpenCamera(options);
        if (row.prepare) row.prepare(control);
        const Record before = control->GetParameterRecord();
        t.m_camera->ClearCalls();
        EXPECT_EQ(row.call(control), row.status);
        const Record after = control->GetParameterRecord();
        if (row.status != 0) {
            // A refused call changes nothing.
            EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
        }
        if (row.check) row.check(after);
        EXPECT_EQ(t.Writes(watched), row.writes);
        if (row.pipeline) row.pipeline(ProcessOneFrame(t, control));
        t.m_controls.clear();
    }
}

// ---- Exposure ----------------------------------------------------------------------------------

TEST_F(Settings, ExposureSetters) {
    const std::vector<SetterRow> rows = {
        {"target: only the low 16 bits",
         nullptr,
         [](CameraControl* c) { return c->CameraSetAeTarget(65536 + 50); },
         0,
         [](const Record& r) { EXPECT_EQ(r.settings.aeTarget, 50); },
         {},
         [](const Pipeline& p) { EXPECT_EQ(p.exposure.aeTarget, 50); }},
        {"target below the sensor's",
         nullptr,
         [](CameraControl* c) { return c->CameraSetAeTarget(5); },
         0,
         [](const Record& r) { EXPECT_EQ(r.settings.aeTarget, 16); },
         {},
         [](const Pipeline& p) { EXPECT_EQ(p.exposure.aeTarget, 16); }},
        {"target above the sensor's",
         nullptr,
         [](CameraControl* c) { return c->CameraSetAeTarget(300); },
         0,
         [](const Record& r) { EXPECT_EQ(r.settings.aeTarget, 220); },
         {},
         [](const Pipeline& p) { EXPECT_EQ(p.exposure.aeTarget, 220); }},
        {"gain into the sensor's range",
         nullptr,
         [](CameraControl* c) { return c->CameraSetAnalogGain(500); },
         0,
         [](const Record& r) { EXPECT_EQ(r.settings.analogGain, 1000u); },
         {"SetAnalogGain(1000)"}},
        {"negative gain compares unsigned",
         nullptr,
         [](CameraControl* c) { return c->CameraSetAnalogGain(-1); },
         0,
         [](const Record& r) { EXPECT_EQ(r.settings.analogGain, 16000u); },
         {"SetAnalogGain(16000)"}},
        {"gain while AE is on",
         AeOn,
         [](CameraControl* c) { return c->CameraSetAnalogGain(2000); },
         -6,
         nullptr,
         {},
         [](const Pipeline& p) { EXPECT_EQ(p.exposure.aeState, 1); }},
        {"exposure",
         nullptr,
         [](CameraControl* c) { return c->CameraSetExposureTime(5000.0); },
         0,
         [](const Record& r) { EXPECT_EQ(r.settings.exposureTime, 5000.0); },
         {"SetExposure(5000.000000)"}},
        {"exposure while AE is on",
         AeOn,
         [](CameraControl* c) { return c->CameraSetExposureTime(5000.0); },
         -6,
         nullptr,
         {}},
        {"exposure mode while AE is off",
         nullptr,
         [](CameraControl* c) { return c->CameraSetAeExposureMode(1); },
         -6,
         nullptr,
         {}},
        {"exposure mode",
         AeOn,
         [](CameraControl* c) { return c->CameraSetAeExposureMode(1); },
         0,
         [](const Record& r) { EXPECT_EQ(r.settings.aeExposureMode, 1); },
         {},
         [](const Pipeline& p) { EXPECT_EQ(p.exposure.exposureMode, 1); }},
        {"anti-flicker and light frequency",
         nullptr,
         [](CameraControl* c) { return c->CameraSetAntiFlick(1) | c->CameraSetLightFrequency(2); },
         0,
         [](const Record& r) {
             EXPECT_EQ(r.settings.antiFlick, 1);
             EXPECT_EQ(r.settings.lightFrequency, 2);
         },
         {},
         // Taken also while auto exposure is off, so that the setting the record holds is the
         // one in force once it runs.
         [](const Pipeline& p) {
             EXPECT_EQ(p.exposure.antiFlick, 1);
             EXPECT_EQ(p.exposure.lightFrequency, 2);
         }},
        {"anti-flicker with AE on",
         AeOn,
         [](CameraControl* c) { return c->CameraSetAntiFlick(1); },
         0,
         [](const Record& r) { EXPECT_EQ(r.settings.antiFlick, 1); },
         {},
         [](const Pipeline& p) { EXPECT_EQ(p.exposure.antiFlick, 1); }},
    };
    RunRows(*this, rows, {"SetAnalogGain", "SetExposure", "SetAeTarget", "SetExposureLines"});
}

TEST_F(Settings, TargetGoesToASensorThatRunsItsOwnExposure) {
    const std::vector<SetterRow> rows = {
        {"own exposure control",
         nullptr,
         [](CameraControl* c) { return c->CameraSetAeTarget(65536 + 300); },
         0,
         [](const Record& r) { EXPECT_EQ(r.settings.aeTarget, 220); },
         {"SetAeTarget(220)"},
         // The camera's target, not the software's.
         [](const Pipeline& p) { EXPECT_EQ(p.exposure.aeTarget, 120); }},
    };
    RunRows(*this, rows, {"SetAeTarget"}, {.aeOnSensor = true});
}

// Line time 20 us and 1 to 50000 lines: the sensor takes 20 us to 1 s.
TEST_F(Settings, ExposureRange) {
    struct Row {
        const char* name;
        bool aeOn;
        double min, max;
        int status;
        double wantMin, wantMax;
    };
    const Row rows[] = {
        {"AE off", false, 100, 1000, -6, 0, 0},
        {"min above max", true, 1000, 100, -6, 0, 0},
        {"inside", true, 100, 1000, 0, 100, 1000},
        {"min raised to the sensor's", true, 5, 1000, 0, 20, 1000},
        // A maximum beyond the sensor's becomes its maximum; the minimum is kept as asked.
        {"max cut, min kept", true, 10, 10000000, 0, 10, 1000000},
        {"all below the sensor", true, 5, 15, -6, 0, 0},
        {"all above the sensor", true, 2000000, 3000000, -6, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CameraControl* c = OpenCamera({.softwareAe = true});
        if (row.aeOn) AeOn(c);
        const Record before = c->GetParameterRecord();
        EXPECT_EQ(c->CameraSetAeExposureRange(row.min, row.max), row.status);
        const Record after = c->GetParameterRecord();
        if (row.status == 0) {
            EXPECT_EQ(after.settings.aeExposureMin, row.wantMin);
            EXPECT_EQ(after.settings.aeExposureMax, row.wantMax);
            double min = 0, max = 0;
            EXPECT_EQ(c->CameraGetAeExposureRange(&min, &max), 0);
            EXPECT_EQ(min, row.wantMin);
            EXPECT_EQ(max, row.wantMax);
            const Pipeline p = ProcessOneFrame(*this, c);
            EXPECT_EQ(p.exposure.exposureMin, row.wantMin);
            EXPECT_EQ(p.exposure.exposureMax, row.wantMax);
        } else {
            EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
        }
        m_controls.clear();
    }
}

TEST_F(Settings, ExposureRangeReportedFromTheSensorWhereNotSet) {
    CameraControl* c = OpenCamera();
    double min = 0, max = 0;
    // The camera's defaults hold no range: opening gave it the sensor's.
    EXPECT_EQ(c->CameraGetAeExposureRange(&min, &max), 0);
    EXPECT_EQ(min, 20.0);
    EXPECT_EQ(max, 1000000.0);
    // Exposure mode 1: up to the frame time, from one line.
    AeOn(c);
    ASSERT_EQ(c->CameraSetAeExposureMode(1), 0);
    EXPECT_EQ(c->CameraGetAeExposureRange(&min, &max), 0);
    EXPECT_EQ(min, 20.0);
    EXPECT_EQ(max, 33333.0);
}

// Sensor gain 1000 to 16000. Both ends are cut to the sensor's range before they are compared:
// a range with nothing left of it is refused and changes nothing.
TEST_F(Settings, GainRange) {
    struct Row {
        const char* name;
        bool aeOn;
        int min, max;
        int status;
        int wantMin, wantMax;  // as the getter and auto exposure have them
    };
    const Row rows[] = {
        {"AE off", false, 2000, 8000, -6, 0, 0},
        {"max below min", true, 3000, 2000, -6, 0, 0},
        {"inside", true, 2000, 9000, 0, 2000, 9000},
        {"the sensor's", true, 1000, 16000, 0, 1000, 16000},
        {"one gain", true, 16000, 16000, 0, 16000, 16000},
        {"min raised to the sensor's", true, 500, 8000, 0, 1000, 8000},
        {"max cut, min raised", true, 500, 20000, 0, 1000, 16000},
        {"max cut, min kept", true, 2000, 20000, 0, 2000, 16000},
        {"negative min raised to the sensor's", true, -1, 8000, 0, 1000, 8000},
        {"max below min at the ends of int", true, INT_MAX, INT_MIN, -6, 0, 0},
        {"the ends of int", true, INT_MIN, INT_MAX, 0, 1000, 16000},
        {"both above the sensor's maximum", true, 16001, 20000, -6, 0, 0},
        {"min above the sensor's maximum", true, 20000, INT_MAX, -6, 0, 0},
        {"both below the sensor's minimum", true, 0, 500, -6, 0, 0},
        {"max just below the sensor's minimum", true, 999, 999, -6, 0, 0},
        {"negative min, max below the sensor's minimum", true, INT_MIN, 0, -6, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CameraControl* c = OpenCamera({.softwareAe = true});
        if (row.aeOn) AeOn(c);
        const Record before = c->GetParameterRecord();
        qvsim::LogCapture log;
        EXPECT_EQ(c->CameraSetAeAnalogGainRange(row.min, row.max), row.status);
        const Record after = c->GetParameterRecord();
        // Auto exposure runs with the range set, or with the sensor's from the load.
        const uint32_t aeMin = row.status == 0 ? static_cast<uint32_t>(row.wantMin) : 1000;
        const uint32_t aeMax = row.status == 0 ? static_cast<uint32_t>(row.wantMax) : 16000;
        if (row.status == 0) {
            int min = 0, max = 0;
            EXPECT_EQ(c->CameraGetAeAnalogGainRange(&min, &max), 0);
            EXPECT_EQ(min, row.wantMin);
            EXPECT_EQ(max, row.wantMax);
            EXPECT_EQ(log.Count("CameraSetAeAnalogGainRange  min:" + std::to_string(row.wantMin) +
                                ",max:" + std::to_string(row.wantMax) + "\n"),
                      1);
        } else {
            EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
            for (const std::string& line : log.Lines())
                EXPECT_EQ(line.rfind("CameraSetAeAnalogGainRange", 0), std::string::npos) << line;
        }
        const Pipeline p = ProcessOneFrame(*this, c);
        EXPECT_EQ(p.exposure.aeGainMin, aeMin);
        EXPECT_EQ(p.exposure.aeGainMax, aeMax);
        m_controls.clear();
    }
}

TEST_F(Settings, GainAndExposureReadBackAndFallBackToTheRecord) {
    CameraControl* c = OpenCamera();
    ASSERT_EQ(c->CameraSetExposureTime(4000.0), 0);
    ASSERT_EQ(c->CameraSetAnalogGain(3000), 0);
    double us = 0;
    int gain = 0;
    EXPECT_EQ(c->CameraGetExposureTime(&us), 0);
    EXPECT_EQ(us, 4000.0);
    EXPECT_EQ(c->CameraGetAnalogGain(&gain), 0);
    EXPECT_EQ(gain, 3000);
    // The camera no longer answers: the values set last.
    m_camera->SetResult("GetExposure", -13);
    m_camera->SetResult("GetAnalogGain", -13);
    us = 0;
    gain = 0;
    EXPECT_EQ(c->CameraGetExposureTime(&us), 0);
    EXPECT_EQ(us, 4000.0);
    EXPECT_EQ(c->CameraGetAnalogGain(&gain), 0);
    EXPECT_EQ(gain, 3000);
    // A set whose read-back fails keeps what was asked for.
    ASSERT_EQ(c->CameraSetExposureTime(2500.0), 0);
    EXPECT_EQ(c->GetParameterRecord().settings.exposureTime, 2500.0);

    double line = 0, frame = -1;
    EXPECT_EQ(c->CameraGetExposureLineTime(&line), 0);
    EXPECT_EQ(line, 20.0);
    EXPECT_EQ(c->CameraGetExposureLineTime(nullptr), -1);
    EXPECT_EQ(c->CameraGetFrameTime(&frame), 0);
    EXPECT_EQ(frame, 33333.0);
    m_camera->SetResult("GetFrameTime", -1);
    EXPECT_EQ(c->CameraGetFrameTime(&frame), 0);
    EXPECT_EQ(frame, 0.0);  // unknown
}

// With auto exposure off the stored gain is the host's: a frame taken before its last change
// (at unity) leaves it, so a saved group keeps what the host set. With it on, the stored gain
// follows what auto exposure programs.
TEST_F(Settings, StoredGainFollowsAutoExposureOnly) {
    CameraControl* c = OpenCamera({.softwareAe = true});
    ASSERT_EQ(c->CameraSetAnalogGain(3000), 0);
    ASSERT_EQ(m_camera->PushTestFrame(0x10), 0);  // taken at gain 1000
    c->CameraGetImageBufferEx(nullptr, 1000);
    EXPECT_EQ(c->GetParameterRecord().settings.analogGain, 3000u);

    ASSERT_EQ(c->CameraSetAeState(1), 0);
    m_camera->ClearCalls();
    ASSERT_EQ(m_camera->PushTestFrame(0x10), 0);  // dark: more exposure, gain as it was
    c->CameraGetImageBufferEx(nullptr, 1000);
    const std::vector<qvsim::FakeCall> gains = m_camera->CallsNamed({"SetAnalogGain"});
    const uint32_t stored = c->GetParameterRecord().settings.analogGain;
    if (gains.empty()) {
        EXPECT_EQ(stored, 1000u);  // the frame's gain, which auto exposure kept
    } else {
        EXPECT_EQ(stored, static_cast<uint32_t>(gains.back().args.at(0)));
    }
}

// ---- White balance -----------------------------------------------------------------------------

TEST_F(Settings, WhiteBalanceSetters) {
    auto wbOn = [](CameraControl* c) { ASSERT_EQ(c->CameraSetWbMode(1), 0); };
    auto gains = [](uint32_t r, uint32_t g, uint32_t b) {
        return [=](const Record& rec) {
            EXPECT_EQ(rec.settings.rgbGain[0], r);
            EXPECT_EQ(rec.settings.rgbGain[1], g);
            EXPECT_EQ(rec.settings.rgbGain[2], b);
        };
    };
    const std::vector<SetterRow> rows = {
        {"gains into the channel ranges",
         nullptr,
         [](CameraControl* c) { return c->CameraSetGain(30, 100, 500); },
         0,
         gains(50, 100, 400),
         {}},
        {"low 16 bits of each gain",
         nullptr,
         [](CameraControl* c) { return c->CameraSetGain(0x10000 + 120, 0x20000 + 90, 250); },
         0,
         gains(120, 90, 250),
         {}},
        {"gains while auto WB is on",
         wbOn,
         [](CameraControl* c) { return c->CameraSetGain(120, 100, 100); },
         -6,
         nullptr,
         {}},
        {"one push while auto WB is on",
         wbOn,
         [](CameraControl* c) { return c->CameraSetOnceWB(); },
         -6,
         nullptr,
         {}},
        {"WB mode",
         nullptr,
         [](CameraControl* c) { return c->CameraSetWbMode(1); },
         0,
         [](const Record& r) { EXPECT_EQ(r.settings.wbMode, 1); },
         {},
         [](const Pipeline& p) { EXPECT_EQ(p.wb.wbMode, 1); }},

    };
    RunRows(*this, rows, {"SetAnalogGain"});
}

TEST_F(Settings, OnePushWhiteBalance) {
    CameraControl* c = OpenCamera({.onceWb = false});
    EXPECT_EQ(c->CameraSetOnceWB(), CAMERA_STATUS_NOT_SUPPORTED);
    m_controls.clear();

    // Continuous mode: the call waits for the next processed frame (at most a second) and
    // answers 0 either way.
    c = OpenCamera();
    std::atomic<int> result{1};
    std::thread waiter([&] { result = c->CameraSetOnceWB(); });
    ASSERT_TRUE(ctltest::WaitFor([&] {
        if (result.load() != 1) return true;
        // Frames keep coming until the call has returned.
        if (m_camera->PushTestFrame() == 0) c->CameraGetImageBufferEx(nullptr, 50);
        return false;
    }));
    waiter.join();
    EXPECT_EQ(result.load(), 0);
    m_controls.clear();

    // One push on a grey scene under a colour cast (red 150, green 100, blue 80 in every 2 x 2
    // Bayer cell): nothing changes until a frame is processed, and the gains that make that frame
    // grey come with it, unsmoothed: red 100 x 100 / 150 = 66, blue 100 x 100 / 80 = 125.
    c = OpenCamera();
    ASSERT_EQ(c->CameraSetGain(100, 100, 100), 0);
    constexpr uint32_t kW = 64, kH = 48;
    std::vector<uint8_t> cast(kW * kH);
    for (uint32_t y = 0; y < kH; ++y)
        for (uint32_t x = 0; x < kW; ++x)  // G R / B G
            cast[y * kW + x] = (x + y) % 2 == 0 ? 100 : (y % 2 == 0 ? 150 : 80);
    stImageInfo info{};
    info.iWidth = kW;
    info.iHeight = kH;
    info.TotalBytes = kW * kH;
    info.uiMediaType = 0x01080008;  // "Bayer GRBG8"
    info.ExpTime = 10000.0;
    info.ExpLineTime = ctltest::kLineTimeUs;
    info.Gain = 1000;

    // No frame comes meanwhile: the call answers after its second.
    ASSERT_EQ(c->CameraSetOnceWB(), 0);
    uint16_t gain[3] = {0, 0, 0};
    ASSERT_EQ(c->CameraGetGain(&gain[0], &gain[1], &gain[2]), 0);
    EXPECT_EQ(std::vector<uint16_t>(gain, gain + 3), (std::vector<uint16_t>{100, 100, 100}));

    ASSERT_EQ(m_camera->PushFrame(cast.data(), static_cast<uint32_t>(cast.size()), info), 0);
    c->CameraGetImageBufferEx(nullptr, 1000);
    ASSERT_EQ(c->CameraGetGain(&gain[0], &gain[1], &gain[2]), 0);
    EXPECT_EQ(std::vector<uint16_t>(gain, gain + 3), (std::vector<uint16_t>{66, 100, 125}));
    // Answered: the next frame of the same scene leaves them.
    ASSERT_EQ(m_camera->PushFrame(cast.data(), static_cast<uint32_t>(cast.size()), info), 0);
    c->CameraGetImageBufferEx(nullptr, 1000);
    ASSERT_EQ(c->CameraGetGain(&gain[0], &gain[1], &gain[2]), 0);
    EXPECT_EQ(std::vector<uint16_t>(gain, gain + 3), (std::vector<uint16_t>{66, 100, 125}));
}

TEST_F(Settings, GetGainWritesOnlyThePointersGiven) {
    CameraControl* c = OpenCamera();
    ASSERT_EQ(c->CameraSetGain(120, 110, 130), 0);
    uint16_t red = 0;
    EXPECT_EQ(c->CameraGetGain(&red, nullptr, nullptr), 0);
    EXPECT_EQ(red, 120);
    uint16_t blue = 0;
    EXPECT_EQ(c->CameraGetGain(nullptr, nullptr, &blue), 0);
    EXPECT_EQ(blue, 130);
}

// ---- Lookup tables and image settings ----------------------------------------------------------

TEST_F(Settings, ImageSetters) {
    const std::vector<SetterRow> rows = {
        {"sharpness -1 is the maximum",
         nullptr,
         [](CameraControl* c) { return c->CameraSetSharpness(-1); },
         0,
         [](const Record& r) { EXPECT_EQ(r.settings.sharpness, 100); },
         {},
         [](const Pipeline& p) { EXPECT_EQ(p.isp.sharpness, 100); }},
        {"sharpness above the range",
         nullptr,
         [](CameraControl* c) { return c->CameraSetSharpness(150); },
         0,
         [](const Record& r) { EXPECT_EQ(r.settings.sharpness, 100); },
         {}},
        {"saturation",
         nullptr,
         [](CameraControl* c) { return c->CameraSetSaturation(90); },
         0,
         [](const Record& r) { EXPECT_EQ(r.settings.saturation, 90); },
         {},
         [](const Pipeline& p) { EXPECT_EQ(p.isp.saturation, 90); }},
        {"contrast negative",
         nullptr,
         [](CameraControl* c) { return c->CameraSetContrast(-7); },
         0,
         [](const Record& r) { EXPECT_EQ(r.settings.contrast, 100); },
         {},
         [](const Pipeline& p) { EXPECT_EQ(p.isp.contrast, 100); }},
        {"gamma below the range (signed)",
         nullptr,
         [](CameraControl* c) { return c->CameraSetGamma(-5); },
         0,
         [](const Record& r) { EXPECT_EQ(r.settings.gamma, 1); },
         {},
         [](const Pipeline& p) { EXPECT_EQ(p.ispObject->GetGamma(), 1); }},
        {"LUT contrast above the range",
         nullptr,
         [](CameraControl* c) { return c->CameraSetContrastLut(500); },
         0,
         [](const Record& r) { EXPECT_EQ(r.settings.contrastLut, 200); },
         {},
         [](const Pipeline& p) { EXPECT_EQ(p.ispObject->GetContrastLut(), 200); }},
        {"preset outside preset mode",
         nullptr,
         [](CameraControl* c) { return c->CameraSelectLutPreset(2); },
         -6,
         nullptr,
         {}},
        {"LUT mode",
         nullptr,
         [](CameraControl* c) { return c->CameraSetLutMode(1); },
         0,
         [](const Record& r) { EXPECT_EQ(r.settings.lutMode, 1); },
         {},
         [](const Pipeline& p) { EXPECT_EQ(p.ispObject->GetLutMode(), 1); }},
        {"custom curve without a table",
         nullptr,
         [](CameraControl* c) { return c->CameraSetCustomLut(0, nullptr); },
         -1,
         nullptr,
         {}},
        {"mirror, direction 2",
         nullptr,
         [](CameraControl* c) { return c->CameraSetMirror(2, 1); },
         -6,
         nullptr,
         {}},
        {"mirror vertical",
         nullptr,
         [](CameraControl* c) { return c->CameraSetMirror(1, 1); },
         0,
         [](const Record& r) {
             EXPECT_EQ(r.settings.mirrorV, 1);
             EXPECT_EQ(r.settings.mirrorH, 0);
         },
         {},
         [](const Pipeline& p) {
             EXPECT_EQ(p.isp.mirrorV, 1);
             EXPECT_EQ(p.isp.mirrorH, 0);
         }},
        {"monochrome",
         nullptr,
         [](CameraControl* c) { return c->CameraSetMonochrome(1); },
         0,
         [](const Record& r) { EXPECT_EQ(r.settings.monochrome, 1); },
         {},
         [](const Pipeline& p) { EXPECT_EQ(p.isp.monochrome, 1); }},
        {"output format mono becomes mono 8",
         nullptr,
         [](CameraControl* c) { return c->CameraSetIspOutFormat(0x01000000); },
         0,
         [](const Record& r) { EXPECT_EQ(r.settings.ispOutFormat, 0x01080000u); },
         {},
         [](const Pipeline& p) { EXPECT_EQ(p.isp.ispOutFormat, 0x01080000u); }},
        {"output format taken unchecked",
         nullptr,
         [](CameraControl* c) { return c->CameraSetIspOutFormat(0x12345678); },
         0,
         [](const Record& r) { EXPECT_EQ(r.settings.ispOutFormat, 0x12345678u); },
         {},
         // Taken over, though no kernel makes it (the frame is refused).
         [](const Pipeline& p) { EXPECT_EQ(p.isp.ispOutFormat, 0x12345678u); }},
        // The camera keeps the low byte; the record takes what it read back.
        {"black level read back",
         nullptr,
         [](CameraControl* c) { return c->CameraSetBlackLevel(300); },
         0,
         [](const Record& r) { EXPECT_EQ(r.settings.blackLevel, 44); },
         {"SetBlackLevel(300)"}},
        {"dead-pixel correction",
         nullptr,
         [](CameraControl* c) { return c->CameraSetCorrectDeadPixel(0); },
         0,
         [](const Record& r) { EXPECT_EQ(r.settings.correctDeadPixel, 0); },
         {},
         [](const Pipeline& p) { EXPECT_EQ(p.isp.deadPixel, 0); }},
        {"Bayer algorithm",
         nullptr,
         [](CameraControl* c) {
             return c->CameraSetBayerAlgMode(3) | c->CameraSetBayerAlgThreshold(77);
         },
         0,
         [](const Record& r) {
             EXPECT_EQ(r.bayerAlgMode, 3);
             EXPECT_EQ(r.bayerAlgThreshold, 77);
         },
         {},
         [](const Pipeline& p) {
             EXPECT_EQ(p.isp.bayerAlgMode, 3);
             EXPECT_EQ(p.isp.bayerAlgThreshold, 77);
         }},
    };
    RunRows(*this, rows, {"SetBlackLevel"});
}

TEST_F(Settings, CurvesGoThroughThePipeline) {
    CameraControl* c = OpenCamera();
    std::vector<uint16_t> curve(4096);
    EXPECT_EQ(c->CameraGetCurrentLut(1, curve.data()), 0);
    EXPECT_EQ(c->CameraGetCurrentLut(1, nullptr), -1);
    EXPECT_EQ(c->CameraGetCustomLut(1, nullptr), -1);
    // Custom curves only in custom mode, whose change a processed frame takes over.
    for (size_t i = 0; i < curve.size(); ++i) curve[i] = static_cast<uint16_t>(4095 - i);
    EXPECT_EQ(c->CameraSetCustomLut(1, curve.data()), -6);
    ASSERT_EQ(c->CameraSetLutMode(2), 0);
    ASSERT_EQ(m_camera->PushTestFrame(), 0);
    ASSERT_NE(c->CameraGetImageBufferEx(nullptr, 1000), nullptr);
    EXPECT_EQ(c->CameraSetCustomLut(1, curve.data()), 0);
    std::vector<uint16_t> back(4096);
    EXPECT_EQ(c->CameraGetCustomLut(1, back.data()), 0);
    EXPECT_EQ(back, curve);
}

// ---- Before initialisation and without device parameters ---------------------------------------

TEST_F(Settings, RefusedBeforeInitialisationAndWithoutDeviceParameters) {
    struct Row {
        const char* name;
        std::function<int(CameraControl*)> call;
        int notInitialised;  // the answer of a controller never opened
    };
    const Row rows[] = {
        {"AE target", [](CameraControl* c) { return c->CameraSetAeTarget(100); }, -5},
        {"gain", [](CameraControl* c) { return c->CameraSetAnalogGain(2000); }, -5},
        {"exposure", [](CameraControl* c) { return c->CameraSetExposureTime(100); }, -5},
        {"exposure mode", [](CameraControl* c) { return c->CameraSetAeExposureMode(1); }, -5},
        {"exposure range", [](CameraControl* c) { return c->CameraSetAeExposureRange(1, 9); }, -5},
        {"gain range", [](CameraControl* c) { return c->CameraSetAeAnalogGainRange(1, 9); }, -5},
        {"mirror", [](CameraControl* c) { return c->CameraSetMirror(0, 1); }, -5},
        {"monochrome", [](CameraControl* c) { return c->CameraSetMonochrome(1); }, -5},
        {"output format", [](CameraControl* c) { return c->CameraSetIspOutFormat(0x01080000); },
         -5},
        {"frame speed", [](CameraControl* c) { return c->CameraSetFrameSpeed(1); }, -5},
        {"resolution", [](CameraControl* c) { return c->CameraSetResolution(1); }, -5},
        {"sharpness", [](CameraControl* c) { return c->CameraSetSharpness(10); }, -1},
        {"saturation", [](CameraControl* c) { return c->CameraSetSaturation(10); }, -1},
        {"contrast", [](CameraControl* c) { return c->CameraSetContrast(10); }, -1},
    };
    CameraControl fresh(m_mgr.get());
    CameraControl* noParams = OpenCamera({.devParamResult = CAMERA_STATUS_PROPERTY_NOT_WRITTEN});
    ASSERT_TRUE(noParams->IsInitialized());
    ASSERT_FALSE(noParams->HasValidDeviceParameters());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.call(&fresh), row.notInitialised);
        EXPECT_EQ(row.call(noParams), CAMERA_STATUS_FAILED);
    }
    tSdkResolution res{};
    EXPECT_EQ(fresh.CameraSetResolutionEx(&res), -5);
    EXPECT_EQ(noParams->CameraSetResolutionEx(&res), -1);
}

// ---- Getters -----------------------------------------------------------------------------------

TEST_F(Settings, GettersAnswerNullPointers) {
    CameraControl* c = OpenCamera();
    // Listed with -6 for null.
    EXPECT_EQ(c->CameraGetAnalogGain(nullptr), -6);
    EXPECT_EQ(c->CameraGetExposureTime(nullptr), -6);
    EXPECT_EQ(c->CameraGetSensorOutPixelFormat(nullptr), -6);
    EXPECT_EQ(c->CameraGetCorrectDeadPixel(nullptr), -6);
    EXPECT_EQ(c->CameraGetFrameStatistic(nullptr), -6);
    // The others write nothing and answer 0.
    EXPECT_EQ(c->CameraGetAeState(nullptr), 0);
    EXPECT_EQ(c->CameraGetAeTarget(nullptr), 0);
    EXPECT_EQ(c->CameraGetAeWindow(nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(c->CameraGetAeExposureRange(nullptr, nullptr), 0);
    EXPECT_EQ(c->CameraGetAeAnalogGainRange(nullptr, nullptr), 0);
    EXPECT_EQ(c->CameraGetGain(nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(c->CameraGetWbWindow(nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(c->CameraGetSharpness(nullptr), 0);
    EXPECT_EQ(c->CameraGetMirror(0, nullptr), 0);
    EXPECT_EQ(c->CameraGetMirror(2, nullptr), -6);
    EXPECT_EQ(c->CameraGetCurResolution(nullptr), 0);
    EXPECT_EQ(c->CameraGetOutImageSize(nullptr, nullptr), 0);
    EXPECT_EQ(c->CameraGetFrameTime(nullptr), 0);
}

TEST_F(Settings, GettersReportTheRecord) {
    CameraControl* c = OpenCamera();
    ASSERT_EQ(c->CameraSetAeState(1), 0);
    ASSERT_EQ(c->CameraSetAeTarget(90), 0);
    ASSERT_EQ(c->CameraSetMirror(0, 1), 0);
    ASSERT_EQ(c->CameraSetSharpness(33), 0);
    ASSERT_EQ(c->CameraSetIspOutFormat(0x01000000), 0);
    uint8_t flag = 0;
    uint16_t target = 0;
    int value = 0;
    uint32_t format = 0;
    EXPECT_EQ(c->CameraGetAeState(&flag), 0);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(c->CameraGetAeTarget(&target), 0);
    EXPECT_EQ(target, 90);
    EXPECT_EQ(c->CameraGetMirror(0, &flag), 0);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(c->CameraGetMirror(1, &flag), 0);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(c->CameraGetSharpness(&value), 0);
    EXPECT_EQ(value, 33);
    EXPECT_EQ(c->CameraGetIspOutFormat(&format), 0);
    EXPECT_EQ(format, 0x01080000u);
    int width = 0, height = 0;
    EXPECT_EQ(c->CameraGetOutImageSize(&width, &height), 0);
    EXPECT_EQ(width, 640);
    EXPECT_EQ(height, 480);
    // A camera that cannot tell its size says so, and nothing is written.
    m_camera->SetResult("GetImageInfo", CAMERA_STATUS_NO_SENSOR);
    width = height = -7;
    EXPECT_EQ(c->CameraGetOutImageSize(&width, &height), CAMERA_STATUS_NO_SENSOR);
    EXPECT_EQ(width, -7);
    EXPECT_EQ(height, -7);
    m_camera->SetResult("GetImageInfo", 0);

    tSdkFrameStatistic stat{};
    ASSERT_EQ(m_camera->PushTestFrame(), 0);
    ASSERT_EQ(TakeFrame(c), 0);
    EXPECT_EQ(c->CameraGetFrameStatistic(&stat), 0);
    EXPECT_EQ(stat.uGoodFrames, 1u);
}

// ---- Log texts -------------------------------------------------------------------------------

TEST_F(Settings, LogTexts) {
    CameraControl* c = OpenCamera();
    qvsim::LogCapture log;
    c->CameraSetAeState(1);
    c->CameraSetAeTarget(100);
    c->CameraSetAeExposureMode(0);
    c->CameraSetAeExposureRange(100, 2000);
    c->CameraSetAeAnalogGainRange(1000, 4000);
    c->CameraSetWbMode(0);
    c->CameraSetSharpness(5);
    c->CameraSetSaturation(6);
    c->CameraSetContrast(7);
    c->CameraSetMonochrome(0);
    c->CameraSetBlackLevel(260);
    c->CameraSetIspOutFormat(0x01000000);
    c->CameraSetAeWindow(0, 0, 101, 100);
    c->CameraSetWbWindow(2, 4, 6, 8);
    c->CameraSetAeState(0);
    c->CameraSetAnalogGain(2500);
    c->CameraSetExposureTime(1500);
    ASSERT_EQ(c->CameraDisplayInit(1), 0);
    c->CameraSetAeWinVisible(1);
    c->CameraSetWbWinVisible(0);
    double frameTime = 0;
    c->CameraGetFrameTime(&frameTime);
    int speed = -1;
    ASSERT_EQ(c->CameraGetFrameSpeed(&speed), 0);
    const int otherSpeed = speed == 0 ? 1 : 0;
    c->CameraSetFrameSpeed(otherSpeed);
    c->CameraSetResolution(1);
    tSdkResolution region{};
    region.iIndex = 255;
    region.iSensorWidth = region.uWidth = 320;
    region.iSensorHeight = region.uHeight = 240;
    c->CameraSetResolutionEx(&region);
    const std::string speedLine = "CameraSetFrameSpeed:" + std::to_string(otherSpeed) + "\n";
    EXPECT_EQ(log.Count(speedLine), 1) << speedLine;
    // Both resolution changes pass the middle.
    EXPECT_EQ(log.Count("CameraSetResolution mid!!!\n"), 2);
    for (const char* line : {
             "CameraSetAeState  1\n",
             "CameraSetAeTarget  100\n",
             "CameraSetAeExposureMode  mode:0\n",
             "CameraSetAeExposureRange  min:100.000000,max:2000.000000\n",
             "CameraSetAeAnalogGainRange  min:1000,max:4000\n",
             "CameraSetWbMode  0\n",
             "CameraSetSharpness  5\n",
             "CameraSetSaturation  6\n",
             "CameraSetContrast  7\n",
             "CameraSetMonochrome  0\n",
             "CameraSetBlackLevel  4\n",
             "CameraSetIspOutFormat  MediaTypeMode:0X1080000\n",
             "CameraSetAeWindow  left:0,top:0,width:100,height:100\n",
             "CameraSetWbWindow  left:2,top:4,width:6,height:8\n",
             "CameraSetAnalogGain:2500\n",
             "CameraSetExposureTime:1500.000000\n",
             "CameraSetAeWinVisible  1\n",
             "CameraSetWbWinVisible  0\n",
             "==CameraGetFrame==33333.000000\n",
             "CameraSetResolution start!!!\n",
             "CameraSetResolution ok ResolutionMode:1!!!\n",
             "CameraSetResolution ok,ResolutionMode:255,width:320,height:240\n",
         })
        EXPECT_EQ(log.Count(line), 1) << line;
}

// ---- The exports -------------------------------------------------------------------------------

TEST_F(Settings, ExportsPassFlagsAsZeroOrOneAndWidenTheAnswers) {
    CameraControl* c = OpenCamera();
    HANDLE h = c;
    EXPECT_EQ(CameraSetAeState(h, 7), 0);
    EXPECT_EQ(c->GetParameterRecord().settings.aeState, 1);
    EXPECT_EQ(CameraSetMirror(h, 0, -3), 0);
    EXPECT_EQ(c->GetParameterRecord().settings.mirrorH, 1);
    EXPECT_EQ(CameraSetCorrectDeadPixel(h, 2), 0);
    EXPECT_EQ(c->GetParameterRecord().settings.correctDeadPixel, 1);

    int flag = -5;
    EXPECT_EQ(CameraGetAeState(h, &flag), 0);
    EXPECT_EQ(flag, 1);
    flag = -5;
    EXPECT_EQ(CameraGetMirror(h, 1, &flag), 0);
    EXPECT_EQ(flag, 0);
    // A bad direction still leaves an int behind.
    flag = -5;
    EXPECT_EQ(CameraGetMirror(h, 4, &flag), -6);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(CameraGetAeState(h, nullptr), -6);
    EXPECT_EQ(CameraGetAeState(nullptr, &flag), -6);
    EXPECT_EQ(CameraSetSharpness(nullptr, 1), -6);

    // 16-bit answers touch exactly two bytes each.
    ASSERT_EQ(CameraSetAeTarget(h, 100), 0);
    ASSERT_EQ(CameraSetGain(h, 120, 110, 130), 0);
    uint16_t words[6];
    std::memset(words, 0xAB, sizeof words);
    EXPECT_EQ(CameraGetAeTarget(h, &words[0]), 0);
    EXPECT_EQ(words[0], 100);
    EXPECT_EQ(words[1], 0xABAB);
    EXPECT_EQ(CameraGetGain(h, &words[1], &words[3], &words[5]), 0);
    EXPECT_EQ(words[1], 120);
    EXPECT_EQ(words[2], 0xABAB);
    EXPECT_EQ(words[3], 110);
    EXPECT_EQ(words[4], 0xABAB);
    EXPECT_EQ(words[5], 130);

    tSdkResolution res{};
    EXPECT_EQ(CameraCustomizeResolution(h, &res), -1);
    EXPECT_EQ(CameraCustomizeResolution(h, nullptr), -6);
    EXPECT_EQ(CameraGetFrameStatistic(nullptr, nullptr), -6);
}

}  // namespace
