// The AE and WB windows as the host sees them and as the statistics get them across resolution
// changes, mirroring, region offsets and snapshots at their own resolution.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "ControllerTestBase.h"
#include "LogCapture.h"
#include "control/WindowGeometry.h"
#include "SettingsCamera.h"

namespace {

using ctltest::ControllerTest;
using ctltest::CSettingsCamera;
using ctltest::Region;

class Windows : public ControllerTest {
  public:
    CameraControl* OpenCamera() {
        m_camera = std::make_shared<CSettingsCamera>();
        CameraControl* control = Open(m_camera);
        m_camera->ClearCalls();
        return control;
    }
    std::shared_ptr<CSettingsCamera> m_camera;
};

// ---- AE and WB windows ---------------------------------------------------------------------

// A window given on the output image, reported back on the current image: through the sensor's
// coordinates, so the skip factor, the region offsets and the mirror flags of both resolutions
// count; the report is clipped to the image.
TEST_F(Windows, WindowReportedOnTheCurrentImage) {
    auto res = [](int x, int y, unsigned skip, unsigned w, unsigned h) {
        tSdkResolution r = Region(x, y, static_cast<int>(w * (skip + 1)),
                                  static_cast<int>(h * (skip + 1)), w, h, skip);
        return r;
    };
    struct Row {
        const char* name;
        int32_t window[4];
        tSdkResolution rs;
        bool rsH, rsV;
        tSdkResolution rc;
        bool h, v;
        int out[4];  // left, top, width, height
        int wb[4];   // the same for white balance, which reads whole blocks from even positions
    };
    const Row rows[] = {
        {"same",
         {10, 20, 100, 50},
         res(0, 0, 0, 640, 480),
         false,
         false,
         res(0, 0, 0, 640, 480),
         false,
         false,
         {10, 20, 100, 50},
         {10, 20, 100, 50}},
        {"now skipping 2",
         {10, 20, 100, 50},
         res(0, 0, 0, 640, 480),
         false,
         false,
         res(0, 0, 1, 320, 240),
         false,
         false,
         {5, 10, 50, 25},
         {6, 10, 50, 24}},
        {"set while skipping, offsets",
         {10, 20, 30, 10},
         res(8, 4, 1, 200, 200),
         false,
         false,
         res(0, 0, 0, 640, 480),
         false,
         false,
         {28, 44, 60, 20},
         {28, 44, 60, 20}},
        // Mirrored when set and when reported: the same window comes back.
        {"mirrored both times",
         {10, 20, 100, 50},
         res(0, 0, 0, 640, 480),
         true,
         true,
         res(0, 0, 0, 640, 480),
         true,
         true,
         {10, 20, 100, 50},
         {10, 20, 100, 50}},
        // Mirrored when set only: sensor x 530, y 410, shown unmirrored.
        {"mirrored then",
         {10, 20, 100, 50},
         res(0, 0, 0, 640, 480),
         true,
         true,
         res(0, 0, 0, 640, 480),
         false,
         false,
         {530, 410, 100, 50},
         {530, 410, 100, 50}},
        {"clipped to the image",
         {600, 400, 200, 200},
         res(0, 0, 0, 640, 480),
         false,
         false,
         res(0, 0, 0, 640, 480),
         false,
         false,
         {600, 400, 40, 80},
         {600, 400, 40, 80}},
        {"cut at the region's left edge",
         {10, 20, 100, 50},
         res(0, 0, 0, 640, 480),
         false,
         false,
         res(40, 0, 0, 320, 480),
         false,
         false,
         {0, 20, 70, 50},
         {0, 20, 70, 50}},
        {"empty",
         {10, 20, 0, 50},
         res(0, 0, 0, 640, 480),
         false,
         false,
         res(0, 0, 0, 640, 480),
         false,
         false,
         {0, 0, 0, 0},
         {0, 0, 0, 0}},
    };
    for (const Row& r : rows) {
        int out[4] = {-1, -1, -1, -1};
        CWindowGeometry::ClipWindowToImage(r.window, r.rs, r.rsH, r.rsV, r.rc, r.h, r.v,
                                           CWindowGeometry::Cells::kExposure, out);
        EXPECT_EQ(std::vector<int>(out, out + 4), std::vector<int>(r.out, r.out + 4)) << r.name;
        CWindowGeometry::ClipWindowToImage(r.window, r.rs, r.rsH, r.rsV, r.rc, r.h, r.v,
                                           CWindowGeometry::Cells::kWhiteBalance, out);
        EXPECT_EQ(std::vector<int>(out, out + 4), std::vector<int>(r.wb, r.wb + 4)) << r.name;
    }
}

std::vector<int> AeWindow(CameraControl* c) {
    int w[4] = {-1, -1, -1, -1};
    EXPECT_EQ(c->CameraGetAeWindow(&w[0], &w[1], &w[2], &w[3]), 0);
    return {w[0], w[1], w[2], w[3]};
}

TEST_F(Windows, WindowSetReportedAndMappedAgainAtReopen) {
    CameraControl fresh(m_mgr.get());
    EXPECT_EQ(AeWindow(&fresh), (std::vector<int>{0, 0, 0, 0}));  // nothing stored

    CameraControl* c = OpenCamera();
    EXPECT_EQ(c->CameraSetAeWindow(0, 0, 101, 100), 0);
    EXPECT_EQ(c->GetParameterRecord().settings.aeWindow[2], 100);
    EXPECT_EQ(AeWindow(c), (std::vector<int>{0, 0, 100, 100}));

    const CameraParameter before = c->GetParameterRecord();
    EXPECT_EQ(c->CameraSetAeWindow(0, 0, -2, 100), -6);
    EXPECT_EQ(c->CameraSetWbWindow(0, 0, 10, -1), -6);
    const CameraParameter after = c->GetParameterRecord();
    EXPECT_EQ(std::memcmp(&before, &after, sizeof after), 0);

    // Set on the full image; after the switch to skipping 2 the statistics get it at half the
    // size, and the host sees it where it was on the scene.
    ASSERT_EQ(c->CameraSetAeWindow(10, 20, 100, 50), 0);
    ASSERT_EQ(c->CameraSetWbWindow(600, 400, 200, 200), 0);
    qvsim::LogCapture log;
    ASSERT_EQ(c->CameraSetResolution(1), 0);
    EXPECT_EQ(log.Count("mExposure.CE_CameraSetAeWindow  left:5,top:10,width:50,height:25\n"), 1);
    // A window reaching beyond the frame reaches the statistics clipped to it.
    EXPECT_EQ(log.Count("mWb.CWB_CameraSetWbWindow  left:300,top:200,width:20,height:40\n"), 1);
    EXPECT_EQ(AeWindow(c), (std::vector<int>{5, 10, 50, 25}));

    // A region the window does not reach: the statistics measure the whole frame.
    log.Clear();
    tSdkResolution region = Region(320, 240, 320, 240, 320, 240);
    ASSERT_EQ(c->CameraSetResolutionEx(&region), 0);
    EXPECT_EQ(log.Count("mExposure.CE_CameraSetAeWindow  left:0,top:0,width:0,height:0\n"), 1);
}

TEST_F(Windows, WindowOnAMirroredImageComesBackAsGiven) {
    CameraControl* c = OpenCamera();
    ASSERT_EQ(c->CameraSetMirror(0, 1), 0);
    qvsim::LogCapture log;
    ASSERT_EQ(c->CameraSetWbWindow(10, 20, 100, 50), 0);
    int w[4];
    ASSERT_EQ(c->CameraGetWbWindow(&w[0], &w[1], &w[2], &w[3]), 0);
    EXPECT_EQ(std::vector<int>(w, w + 4), (std::vector<int>{10, 20, 100, 50}));
    ASSERT_EQ(c->CameraSetResolution(0), 0);
    // The raw frame is not mirrored: the statistics look at the other side.
    EXPECT_EQ(log.Count("mWb.CWB_CameraSetWbWindow  left:530,top:20,width:100,height:50\n"), 1);
}

// The window the AE (or WB) object runs with, on the raw frame.
std::vector<int> StatisticsWindow(const CameraControl* c, bool ae) {
    int w[4] = {-1, -1, -1, -1};
    if (ae)
        c->ExposureObject().CE_CameraGetAeWindow(&w[0], &w[1], &w[2], &w[3]);
    else
        c->WhiteBalanceObject().CWB_CameraGetWbWindow(&w[0], &w[1], &w[2], &w[3]);
    return {w[0], w[1], w[2], w[3]};
}

// The window the statistics run on: the AE and WB objects after one processed frame, for
// windows set on mirrored images of regions away from the sensor's centre and of skipping ones
// (sensor 640 x 480); the host gets its window back as it gave it.
TEST_F(Windows, WindowOnAMirroredRegionReachesTheStatistics) {
    struct Row {
        const char* name;
        tSdkResolution region;  // index 1: the skipping preset
        bool h, v;
        int window[4];
        int raw[4];  // left, top, width, height on the raw frame
    };
    const Row rows[] = {
        // Sensor x = 0 + 320 - 0 - 100 = 220: the region's right edge, not the sensor's.
        {"left quarter, mirrored",
         Region(0, 0, 320, 240, 320, 240),
         true,
         false,
         {0, 0, 100, 100},
         {220, 0, 100, 100}},
        {"lower right quarter, mirrored both ways",
         Region(320, 240, 320, 240, 320, 240),
         true,
         true,
         {10, 20, 100, 50},
         {210, 170, 100, 50}},
        {"skipping preset, mirrored",
         Region(0, 0, 640, 480, 320, 240, 1, 1),
         true,
         false,
         {10, 20, 100, 50},
         {210, 20, 100, 50}},
        // Raw row (60 + 300 - 2 x 70 - 60) / 2 = 80 = 150 - 20 - 50.
        {"skipping region, mirrored upside down",
         Region(100, 60, 400, 300, 200, 150, 1),
         false,
         true,
         {10, 20, 100, 50},
         {10, 80, 100, 50}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        m_camera = std::make_shared<CSettingsCamera>(CSettingsCamera::Options{.softwareAe = true});
        CameraControl* c = Open(m_camera);
        if (row.region.iIndex == 1) {
            ASSERT_EQ(c->CameraSetResolution(1), 0);
        } else {
            tSdkResolution region = row.region;
            ASSERT_EQ(c->CameraSetResolutionEx(&region), 0);
        }
        ASSERT_EQ(c->CameraSetMirror(0, row.h ? 1 : 0), 0);
        ASSERT_EQ(c->CameraSetMirror(1, row.v ? 1 : 0), 0);
        const int* w = row.window;
        ASSERT_EQ(c->CameraSetAeWindow(w[0], w[1], w[2], w[3]), 0);
        ASSERT_EQ(c->CameraSetWbWindow(w[0], w[1], w[2], w[3]), 0);
        ASSERT_EQ(m_camera->PushTestFrame(), 0);
        ASSERT_NE(c->CameraGetImageBufferEx(nullptr, 1000), nullptr);
        const std::vector<int> raw(row.raw, row.raw + 4);
        EXPECT_EQ(StatisticsWindow(c, true), raw);
        EXPECT_EQ(StatisticsWindow(c, false), raw);
        EXPECT_EQ(AeWindow(c), std::vector<int>(w, w + 4));
        m_controls.clear();
    }
}

// What the statistics measure after one processed frame: the window on the raw frame, or all 0
// when they measure the whole frame.
std::vector<int> MeasuredWindow(const CameraControl* c, bool ae) {
    const int enabled = ae ? c->ExposureObject().GetActiveSettings().windowEnabled
                           : c->WhiteBalanceObject().GetActiveSettings().windowEnabled;
    return enabled != 0 ? StatisticsWindow(c, ae) : std::vector<int>{0, 0, 0, 0};
}

// Windows reaching past an edge of a mirrored image, and wholly off it: on the sensor the part
// past the right (bottom) edge lies left of (above) the region and is cut there; a window with
// nothing left on the frame leaves the statistics on the whole frame and is reported as the
// whole image. Sensor 640 x 480.
TEST_F(Windows, WindowPastAMirroredEdgeIsCut) {
    struct Row {
        const char* name;
        tSdkResolution region;  // index 0 and 1: the presets
        bool h, v;
        int window[4];
        int raw[4];       // measured on the raw frame; all 0: the whole frame
        int reported[4];  // what the getter answers
    };
    const Row rows[] = {
        // Sensor x 640 - 600 - 200 = -160 to 40: 40 columns are left.
        {"full, past the right edge, mirrored",
         Region(0, 0, 640, 480, 640, 480, 0, 0),
         true,
         false,
         {600, 400, 200, 200},
         {0, 400, 40, 80},
         {600, 400, 40, 80}},
        {"full, past the bottom edge, upside down",
         Region(0, 0, 640, 480, 640, 480, 0, 0),
         false,
         true,
         {600, 400, 200, 200},
         {600, 0, 40, 80},
         {600, 400, 40, 80}},
        {"full, past the corner, mirrored both ways",
         Region(0, 0, 640, 480, 640, 480, 0, 0),
         true,
         true,
         {600, 400, 200, 200},
         {0, 0, 40, 80},
         {600, 400, 40, 80}},
        {"full, off the right edge, mirrored",
         Region(0, 0, 640, 480, 640, 480, 0, 0),
         true,
         false,
         {700, 0, 100, 100},
         {0, 0, 0, 0},
         {0, 0, 640, 480}},
        {"full, off the bottom edge, upside down",
         Region(0, 0, 640, 480, 640, 480, 0, 0),
         false,
         true,
         {0, 500, 100, 100},
         {0, 0, 0, 0},
         {0, 0, 640, 480}},
        {"full, off the right edge",
         Region(0, 0, 640, 480, 640, 480, 0, 0),
         false,
         false,
         {700, 0, 100, 100},
         {0, 0, 0, 0},
         {0, 0, 640, 480}},
        // Sensor x 20 + 400 - 350 - 100 = -30 to 70; the region starts at 20.
        {"region with offsets, past the right edge, mirrored",
         Region(20, 10, 400, 300, 400, 300),
         true,
         false,
         {350, 0, 100, 100},
         {0, 0, 50, 100},
         {350, 0, 50, 100}},
        // Sensor y 10 + 300 - 250 - 100 = -40 to 60; the region starts at 10.
        {"region with offsets, past the bottom edge, upside down",
         Region(20, 10, 400, 300, 400, 300),
         false,
         true,
         {0, 250, 100, 100},
         {0, 0, 100, 50},
         {0, 250, 100, 50}},
        // Sensor x -130 to -30: nothing of it on the region.
        {"region with offsets, off the right edge, mirrored",
         Region(20, 10, 400, 300, 400, 300),
         true,
         false,
         {450, 0, 100, 100},
         {0, 0, 0, 0},
         {0, 0, 400, 300}},
        {"region with offsets, off the bottom edge, upside down",
         Region(20, 10, 400, 300, 400, 300),
         false,
         true,
         {0, 320, 100, 100},
         {0, 0, 0, 0},
         {0, 0, 400, 300}},
        // Skipping 2: sensor x 640 - 600 - 80 = -40 to 40, 20 raw columns.
        {"skipping preset, past the right edge, mirrored",
         Region(0, 0, 640, 480, 320, 240, 1, 1),
         true,
         false,
         {300, 0, 40, 40},
         {0, 0, 20, 40},
         {300, 0, 20, 40}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        m_camera = std::make_shared<CSettingsCamera>(CSettingsCamera::Options{.softwareAe = true});
        CameraControl* c = Open(m_camera);
        if (row.region.iIndex != 255) {
            ASSERT_EQ(c->CameraSetResolution(row.region.iIndex), 0);
        } else {
            tSdkResolution region = row.region;
            ASSERT_EQ(c->CameraSetResolutionEx(&region), 0);
        }
        ASSERT_EQ(c->CameraSetMirror(0, row.h ? 1 : 0), 0);
        ASSERT_EQ(c->CameraSetMirror(1, row.v ? 1 : 0), 0);
        const int* w = row.window;
        // A window inside first, so that a window left active by mistake shows.
        ASSERT_EQ(c->CameraSetAeWindow(2, 2, 4, 4), 0);
        ASSERT_EQ(c->CameraSetWbWindow(2, 2, 4, 4), 0);
        ASSERT_EQ(m_camera->PushTestFrame(), 0);
        ASSERT_NE(c->CameraGetImageBufferEx(nullptr, 1000), nullptr);
        ASSERT_EQ(c->CameraSetAeWindow(w[0], w[1], w[2], w[3]), 0);
        ASSERT_EQ(c->CameraSetWbWindow(w[0], w[1], w[2], w[3]), 0);
        ASSERT_EQ(m_camera->PushTestFrame(), 0);
        ASSERT_NE(c->CameraGetImageBufferEx(nullptr, 1000), nullptr);
        const std::vector<int> raw(row.raw, row.raw + 4);
        EXPECT_EQ(MeasuredWindow(c, true), raw);
        EXPECT_EQ(MeasuredWindow(c, false), raw);
        const std::vector<int> reported(row.reported, row.reported + 4);
        EXPECT_EQ(AeWindow(c), reported);
        int wb[4] = {-1, -1, -1, -1};
        ASSERT_EQ(c->CameraGetWbWindow(&wb[0], &wb[1], &wb[2], &wb[3]), 0);
        EXPECT_EQ(std::vector<int>(wb, wb + 4), reported);
        // Mapped again at a reopen, with the same result.
        ASSERT_EQ(c->CameraSetResolution(row.region.iIndex), 0);
        ASSERT_EQ(m_camera->PushTestFrame(), 0);
        ASSERT_NE(c->CameraGetImageBufferEx(nullptr, 1000), nullptr);
        EXPECT_EQ(MeasuredWindow(c, true), raw);
        EXPECT_EQ(AeWindow(c), reported);
        m_controls.clear();
    }
}

// A window the host sets while a snapshot runs at its own resolution is given on the host's
// image: it is kept for the host's resolution, which the resolution getter also answers
// meanwhile.
TEST_F(Windows, WindowSetDuringASnapshotIsTheHostsWindow) {
    m_camera = std::make_shared<CSettingsCamera>(CSettingsCamera::Options{.softwareAe = true});
    CameraControl* c = Open(m_camera);
    ASSERT_EQ(c->CameraSetResolution(1), 0);  // 320 x 240, skipping 2
    tSdkResolution snapRes{};
    ASSERT_EQ(c->CameraGetResolutionEx(0, &snapRes), 0);
    ASSERT_EQ(snapRes.uWidth, 640u);
    ASSERT_EQ(c->CameraSetResolutionForSnap(&snapRes), 0);

    std::atomic<int> snapResult{1};
    CameraFrameHandle frame = nullptr;
    std::thread snap([&] { snapResult = c->CameraSnapToBuffer(&frame, nullptr, nullptr, 20000); });
    // The stream runs at the snapshot's resolution from its open on.
    EXPECT_TRUE(
        ctltest::WaitFor([&] { return m_camera->LastInitParam().resolution.uWidth == 640; }));
    ASSERT_EQ(c->CameraSetAeWindow(10, 20, 100, 50), 0);
    ASSERT_EQ(c->CameraSetWbWindow(10, 20, 100, 50), 0);
    EXPECT_EQ(AeWindow(c), (std::vector<int>{10, 20, 100, 50}));
    tSdkResolution cur{};
    ASSERT_EQ(c->CameraGetCurResolution(&cur), 0);
    EXPECT_EQ(cur.uWidth, 320u);
    EXPECT_EQ(cur.uHeight, 240u);
    int index = -1;
    ASSERT_EQ(c->CameraGetResolution(&index), 0);
    EXPECT_EQ(index, 1);
    qvsim::LogCapture log;
    EXPECT_EQ(m_camera->PushTestFrame(), 0);
    snap.join();
    EXPECT_EQ(snapResult.load(), 0);
    if (frame != nullptr) {
        EXPECT_EQ(c->CameraReleaseFrameHandle(frame), 0);
    }

    // Back on the host's resolution: the window as the host gave it, for the statistics too.
    EXPECT_EQ(log.Count("mExposure.CE_CameraSetAeWindow  left:10,top:20,width:100,height:50\n"), 1);
    EXPECT_EQ(log.Count("mWb.CWB_CameraSetWbWindow  left:10,top:20,width:100,height:50\n"), 1);
    EXPECT_EQ(AeWindow(c), (std::vector<int>{10, 20, 100, 50}));
    ASSERT_EQ(c->CameraGetCurResolution(&cur), 0);
    EXPECT_EQ(cur.uWidth, 320u);
    // Kept for the host's resolution, in the record a save writes, and across reopens.
    tSdkResolution stored{};
    std::memcpy(&stored, c->GetParameterRecord().aeWindowBlock, sizeof stored);
    EXPECT_EQ(stored.uWidth, 320u);
    ASSERT_EQ(c->CameraSetResolution(1), 0);
    EXPECT_EQ(AeWindow(c), (std::vector<int>{10, 20, 100, 50}));
    ASSERT_EQ(c->CameraSetResolution(0), 0);
    EXPECT_EQ(AeWindow(c), (std::vector<int>{20, 40, 200, 100}));
}

// A window of which less than one column is left on the frame after the cut: the statistics
// cannot measure a sliver narrower than two columns (the AE window width is even) and measure
// the whole frame; the getter must then not report the sliver as the window in force.
TEST_F(Windows, SliverLeftOfAWindowIsReportedAsWhatIsMeasured) {
    struct Row {
        const char* name;
        int index;  // preset
        bool h;
        int window[4];
    };
    const Row rows[] = {
        // Sensor x 640 - 639 - 4 = -3 to 1: one column left.
        {"full, past the right edge, mirrored", 0, true, {639, 0, 4, 100}},
        // Sensor x 640 - 638 - 8 = -6 to 2: on the raw frame of skip 2, one column.
        {"skipping preset, past the right edge, mirrored", 1, true, {319, 0, 4, 40}},
        // The same on an image that is not mirrored.
        {"full, past the right edge", 0, false, {639, 0, 4, 100}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        m_camera = std::make_shared<CSettingsCamera>(CSettingsCamera::Options{.softwareAe = true});
        CameraControl* c = Open(m_camera);
        ASSERT_EQ(c->CameraSetResolution(row.index), 0);
        ASSERT_EQ(c->CameraSetMirror(0, row.h ? 1 : 0), 0);
        const int* w = row.window;
        ASSERT_EQ(c->CameraSetAeWindow(w[0], w[1], w[2], w[3]), 0);
        ASSERT_EQ(m_camera->PushTestFrame(), 0);
        ASSERT_NE(c->CameraGetImageBufferEx(nullptr, 1000), nullptr);
        tSdkResolution cur{};
        ASSERT_EQ(c->CameraGetCurResolution(&cur), 0);
        const std::vector<int> whole{0, 0, static_cast<int>(cur.uWidth),
                                     static_cast<int>(cur.uHeight)};
        const std::vector<int> active = StatisticsWindow(c, true);
        const bool measuresWhole = c->ExposureObject().GetActiveSettings().windowEnabled == 0 ||
                                   active[2] <= 0 || active[3] <= 0;
        const std::vector<int> reported = AeWindow(c);
        if (measuresWhole) {
            EXPECT_EQ(reported, whole);
        } else {
            // Measured as a window: the one reported, brought back onto the raw frame.
            std::vector<int> raw = reported;
            if (row.h) raw[0] = whole[2] - reported[0] - reported[2];
            EXPECT_EQ(active, raw);
        }
        m_controls.clear();
    }
}

// Remnants of one to four columns (rows) left of a window that reaches past an edge of the
// image, at each edge, mirrored and not, on the full preset, the skipping one and a region with
// offsets. What auto exposure and white balance measure, the windows they were given (which they
// read as they stand: an even AE width, WB blocks from even positions), is what the getters
// report, brought onto the raw frame: never a sliver while the whole frame is measured. A
// remnant narrower than two pixels grows to two, inwards; an odd AE width loses its last raw
// column, a WB window starts at the next even column or row.
TEST_F(Windows, RemnantsAtTheEdgesAreReportedAsMeasured) {
    struct Resolution {
        const char* name;
        tSdkResolution region;
    };
    const Resolution resolutions[] = {
        {"full", Region(0, 0, 640, 480, 640, 480, 0, 0)},
        {"skipping 2", Region(0, 0, 640, 480, 320, 240, 1, 1)},
        {"region with offsets", Region(20, 10, 400, 300, 400, 300)},
    };
    // The raw span measured of a remnant of n pixels: [0, low) of one at the low edge (left or
    // top of the raw frame), [N - highBegin, N - highEnd) of one at the high edge.
    struct Span {
        int low, highBegin, highEnd;
    };
    const Span aeColumns[4] = {{2, 2, 0}, {2, 2, 0}, {2, 3, 1}, {4, 4, 0}};
    const Span aeRows[4] = {{2, 2, 0}, {2, 2, 0}, {3, 3, 0}, {4, 4, 0}};
    const Span wbSpans[4] = {{2, 2, 0}, {2, 2, 0}, {2, 2, 0}, {4, 4, 0}};
    constexpr int kBand = 10, kBandLength = 20;  // the window's extent along the edge
    constexpr int kReach = 20;                   // its extent across it, mostly off the image

    for (const Resolution& res : resolutions) {
        const int W = static_cast<int>(res.region.uWidth), H = static_cast<int>(res.region.uHeight);
        for (int mirror = 0; mirror < 4; ++mirror) {
            const bool mh = (mirror & 1) != 0, mv = (mirror & 2) != 0;
            m_camera =
                std::make_shared<CSettingsCamera>(CSettingsCamera::Options{.softwareAe = true});
            CameraControl* c = Open(m_camera);
            if (res.region.iIndex != 255) {
                ASSERT_EQ(c->CameraSetResolution(res.region.iIndex), 0);
            } else {
                tSdkResolution region = res.region;
                ASSERT_EQ(c->CameraSetResolutionEx(&region), 0);
            }
            ASSERT_EQ(c->CameraSetMirror(0, mh ? 1 : 0), 0);
            ASSERT_EQ(c->CameraSetMirror(1, mv ? 1 : 0), 0);
            for (int vertical = 0; vertical < 2; ++vertical) {
                for (int highOnImage = 0; highOnImage < 2; ++highOnImage) {
                    for (int n = 1; n <= 4; ++n) {
                        SCOPED_TRACE(::testing::Message()
                                     << res.name << (mh ? ", mirrored" : "")
                                     << (mv ? ", upside down" : "") << ", " << n
                                     << (vertical ? " rows at the " : " columns at the ")
                                     << (highOnImage ? (vertical ? "bottom" : "right")
                                                     : (vertical ? "top" : "left")));
                        const int extent = vertical ? H : W;
                        // On the image: the remnant [0, n) or [extent - n, extent) across, the
                        // band [kBand, kBand + kBandLength) along the edge.
                        const int across = highOnImage ? extent - n : n - kReach;
                        int window[4] = {kBand, kBand, kBandLength, kBandLength};
                        window[vertical ? 1 : 0] = across;
                        window[vertical ? 3 : 2] = kReach;
                        ASSERT_EQ(c->CameraSetAeWindow(window[0], window[1], window[2], window[3]),
                                  0);
                        ASSERT_EQ(c->CameraSetWbWindow(window[0], window[1], window[2], window[3]),
                                  0);
                        ASSERT_EQ(m_camera->PushTestFrame(), 0);
                        ASSERT_NE(c->CameraGetImageBufferEx(nullptr, 1000), nullptr);

                        // On the raw frame, which is never mirrored.
                        const bool flipAcross = vertical ? mv : mh;
                        const bool flipAlong = vertical ? mh : mv;
                        const int along = vertical ? W : H;
                        const bool highOnRaw = (highOnImage != 0) != flipAcross;
                        auto expected = [&](const Span& s) {
                            const int begin = highOnRaw ? extent - s.highBegin : 0;
                            const int end = highOnRaw ? extent - s.highEnd : s.low;
                            const int bandBegin = flipAlong ? along - kBand - kBandLength : kBand;
                            std::vector<int> raw(4);
                            raw[vertical ? 1 : 0] = begin;
                            raw[vertical ? 3 : 2] = end - begin;
                            raw[vertical ? 0 : 1] = bandBegin;
                            raw[vertical ? 2 : 3] = kBandLength;
                            return raw;
                        };
                        const std::vector<int> ae =
                            expected(vertical ? aeRows[n - 1] : aeColumns[n - 1]);
                        const std::vector<int> wb = expected(wbSpans[n - 1]);
                        EXPECT_EQ(c->ExposureObject().GetActiveSettings().windowEnabled, 1);
                        EXPECT_EQ(StatisticsWindow(c, true), ae);
                        EXPECT_EQ(c->WhiteBalanceObject().GetActiveSettings().windowEnabled, 1);
                        EXPECT_EQ(StatisticsWindow(c, false), wb);
                        // WB reads whole blocks from even positions: its window is one.
                        for (int v : wb) EXPECT_EQ(v % 2, 0);

                        // Reported on the image: the measured windows mirrored back.
                        auto onImage = [&](std::vector<int> raw) {
                            if (mh) raw[0] = W - raw[0] - raw[2];
                            if (mv) raw[1] = H - raw[1] - raw[3];
                            return raw;
                        };
                        EXPECT_EQ(AeWindow(c), onImage(ae));
                        int r[4] = {-1, -1, -1, -1};
                        ASSERT_EQ(c->CameraGetWbWindow(&r[0], &r[1], &r[2], &r[3]), 0);
                        EXPECT_EQ(std::vector<int>(r, r + 4), onImage(wb));
                    }
                }
            }
            m_controls.clear();
        }
    }
}

// A window stored in a parameter group, set on a mirrored region: the group loaded at
// CameraInit gives the statistics the window mapped onto the raw frame from the start, as a
// stream reopen would.
TEST_F(Windows, WindowOfAGroupLoadedAtInitIsMapped) {
    struct Snapshot {  // the companions of a stored window in the record
        tSdkResolution resolution;
        int32_t mirrorH;
        int32_t mirrorV;
    };
    static_assert(sizeof(Snapshot) == sizeof(CameraParameter::aeWindowBlock));
    CameraParameter r = BaseRecord();
    const tSdkResolution region = Region(0, 0, 320, 240, 320, 240);
    r.settings.resolutionIndex = 255;
    r.resolution = region;
    r.settings.mirrorH = 1;
    const Snapshot snap{region, 1, 0};
    const int32_t window[4] = {0, 0, 100, 100};
    std::memcpy(r.settings.aeWindow, window, sizeof window);
    std::memcpy(r.settings.wbWindow, window, sizeof window);
    std::memcpy(r.aeWindowBlock, &snap, sizeof snap);
    std::memcpy(r.wbWindowBlock, &snap, sizeof snap);
    SaveGroup(r, 0);
    m_camera = std::make_shared<CSettingsCamera>(CSettingsCamera::Options{.softwareAe = true});
    CameraControl* c = Open(m_camera, 0, 0);
    ASSERT_EQ(c->GetCurrentResolution().uWidth, 320u);
    ASSERT_EQ(m_camera->PushTestFrame(), 0);
    ASSERT_NE(c->CameraGetImageBufferEx(nullptr, 1000), nullptr);
    EXPECT_EQ(StatisticsWindow(c, true), (std::vector<int>{220, 0, 100, 100}));
    EXPECT_EQ(StatisticsWindow(c, false), (std::vector<int>{220, 0, 100, 100}));
    EXPECT_EQ(AeWindow(c), (std::vector<int>{0, 0, 100, 100}));
}

TEST_F(Windows, UnsetWindowIsTheWholeImage) {
    CameraParameter r = BaseRecord();
    r.settings.aeWindow[0] = r.settings.aeWindow[1] = 0;
    r.settings.aeWindow[2] = r.settings.aeWindow[3] = -1;
    SaveGroup(r, 0);
    m_camera = std::make_shared<CSettingsCamera>();
    CameraControl* c = Open(m_camera, 0, 0);
    EXPECT_EQ(AeWindow(c), (std::vector<int>{0, 0, 640, 480}));
}

TEST_F(Windows, WindowVisibilityNeedsTheDisplay) {
    CameraControl* c = OpenCamera();
    EXPECT_EQ(c->CameraSetAeWinVisible(1), -6);
    EXPECT_EQ(c->CameraSetWbWinVisible(1), -6);
    uint8_t visible = 9;
    EXPECT_EQ(c->CameraGetAeWinVisible(&visible), 0);
    EXPECT_EQ(visible, 0);
}

}  // namespace
