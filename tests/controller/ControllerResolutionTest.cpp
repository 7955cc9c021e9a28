// The controller's stream settings (frame speed, preset and custom resolutions, the sensor
// format, the output size during a snapshot), and the dead-pixel finder with the camera's
// dead-pixel table. The AE and WB windows are in ControllerWindowTest.cpp.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <thread>

#include "ControllerTestBase.h"
#include "LogCapture.h"
#include "control/WindowGeometry.h"
#include "SettingsCamera.h"
#include "api/ApiInternal.h"

namespace {

using ctltest::ControllerTest;
using ctltest::CSettingsCamera;
using ctltest::Region;

class Resolution : public ControllerTest {
  public:
    CameraControl* OpenCamera() {
        m_camera = std::make_shared<CSettingsCamera>();
        CameraControl* control = Open(m_camera);
        m_camera->ClearCalls();
        return control;
    }
    size_t Reopens() const { return m_camera->CallCount("CloseStream"); }
    std::shared_ptr<CSettingsCamera> m_camera;
};

// ---- Frame speed and presets -------------------------------------------------------------------

TEST_F(Resolution, FrameSpeedMustBeOffered) {
    CameraControl* c = OpenCamera();
    const int current = c->GetParameterRecord().settings.frameSpeed;  // speeds 0 to 2 offered
    for (int speed : {3, -1, 32, 40, 1 << 30}) {
        SCOPED_TRACE(speed);
        EXPECT_EQ(c->CameraSetFrameSpeed(speed), -6);
        EXPECT_EQ(c->GetParameterRecord().settings.frameSpeed, current);
    }
    EXPECT_EQ(Reopens(), 0u);
    EXPECT_EQ(c->CameraSetFrameSpeed(current), 0);  // the same speed: no restart
    EXPECT_EQ(Reopens(), 0u);
    const int other = current == 0 ? 1 : 0;
    EXPECT_EQ(c->CameraSetFrameSpeed(other), 0);
    EXPECT_EQ(Reopens(), 1u);
    EXPECT_EQ(m_camera->LastInitParam().frameSpeed, other);
    int speed = -1;
    EXPECT_EQ(c->CameraGetFrameSpeed(&speed), 0);
    EXPECT_EQ(speed, other);
}

TEST_F(Resolution, PresetsMustBeOfferedAndAlwaysRestart) {
    CameraControl* c = OpenCamera();
    for (int index : {2, 31, 32, 63, 64, -1, 255, 1000}) {  // presets 0 and 1; no custom region
        SCOPED_TRACE(index);
        EXPECT_EQ(c->CameraSetResolution(index), -6);
    }
    EXPECT_EQ(Reopens(), 0u);
    EXPECT_EQ(c->CameraSetResolution(1), 0);
    EXPECT_EQ(m_camera->LastInitParam().resolution.uWidth, 320u);
    EXPECT_EQ(c->CameraSetResolution(1), 0);
    EXPECT_EQ(Reopens(), 2u);
    int index = -1;
    EXPECT_EQ(c->CameraGetResolution(&index), 0);
    EXPECT_EQ(index, 1);
    tSdkResolution res{};
    EXPECT_EQ(c->CameraGetCurResolution(&res), 0);
    EXPECT_EQ(res.uHeight, 240u);
    EXPECT_EQ(c->CameraGetResolutionEx(0, &res), 0);
    EXPECT_EQ(res.uWidth, 640u);
    EXPECT_EQ(c->CameraGetResolutionEx(5, &res), -6);
    EXPECT_EQ(c->CameraGetResolutionEx(0, nullptr), 0);
}

// ---- Custom regions ------------------------------------------------------------------------

TEST_F(Resolution, CustomRegionRules) {
    struct Row {
        const char* name;
        bool mirrorH;
        tSdkResolution in;
        int status;
        tSdkResolution want;  // the record afterwards (on success, also the current region)
    };
    auto resized = [](tSdkResolution r, unsigned w, unsigned h) {
        r.uResizeWidth = w;
        r.uResizeHeight = h;
        return r;
    };
    tSdkResolution binned = Region(0, 0, 640, 480, 320, 240);
    binned.uModeA = 1;  // the sensor has no binning
    const Row rows[] = {
        {"binning not offered", false, binned, -6, binned},
        {"negative offset", false, Region(-2, 0, 320, 240, 320, 240), -6, {}},
        {"sizes rounded", false, Region(8, 4, 321, 241, 323, 241), 0,
         Region(8, 4, 320, 240, 320, 240)},
        {"window is the image times the skip", false, Region(0, 0, 640, 480, 320, 240, 1, 1), 0,
         Region(0, 0, 640, 480, 320, 240, 1, 1)},  // preset 1's size: preset 1 stays
        {"window not the image times the skip", false, Region(0, 0, 640, 480, 300, 240, 1), -6, {}},
        {"image off the sensor", false, Region(400, 0, 320, 240, 320, 240), -6, {}},
        {"below the sensor's minimum", false, Region(0, 0, 4, 4, 4, 4), -6, {}},
        {"preset index of another size", false, Region(0, 0, 320, 240, 320, 240, 0, 0), 0,
         Region(0, 0, 320, 240, 320, 240)},
        {"resize with a zero side", false, resized(Region(0, 0, 320, 240, 320, 240), 0, 100), 0,
         Region(0, 0, 320, 240, 320, 240)},
        {"resize rounded", false, resized(Region(0, 0, 320, 240, 320, 240), 163, 121), 0,
         resized(Region(0, 0, 320, 240, 320, 240), 160, 120)},
        // On a mirrored image the region is given from the far side: 640 - 16 - 320.
        {"mirrored", true, Region(16, 0, 320, 240, 320, 240), 0,
         Region(304, 0, 320, 240, 320, 240)},
        {"mirrored beyond the sensor", true, Region(400, 0, 320, 240, 320, 240), -6, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CameraControl* c = OpenCamera();
        if (row.mirrorH) {
            ASSERT_EQ(c->CameraSetMirror(0, 1), 0);
        }
        const tSdkResolution before = c->GetCurrentResolution();
        tSdkResolution res = row.in;
        EXPECT_EQ(c->CameraSetResolutionEx(&res), row.status);
        const tSdkResolution now = c->GetCurrentResolution();
        if (row.status == 0) {
            for (const tSdkResolution* r : {static_cast<const tSdkResolution*>(&res), &now}) {
                EXPECT_EQ(r->iIndex, row.want.iIndex);
                EXPECT_EQ(r->iOffsetX, row.want.iOffsetX);
                EXPECT_EQ(r->iOffsetY, row.want.iOffsetY);
                EXPECT_EQ(r->iSensorWidth, row.want.iSensorWidth);
                EXPECT_EQ(r->iSensorHeight, row.want.iSensorHeight);
                EXPECT_EQ(r->uWidth, row.want.uWidth);
                EXPECT_EQ(r->uHeight, row.want.uHeight);
                EXPECT_EQ(r->uResizeWidth, row.want.uResizeWidth);
                EXPECT_EQ(r->uResizeHeight, row.want.uResizeHeight);
            }
            EXPECT_EQ(Reopens(), 1u);
            EXPECT_EQ(c->GetParameterRecord().settings.resolutionIndex, row.want.iIndex);
        } else {
            EXPECT_EQ(std::memcmp(&before, &now, sizeof now), 0);
            EXPECT_EQ(Reopens(), 0u);
        }
        m_controls.clear();
    }
    CameraControl* c = OpenCamera();
    EXPECT_EQ(c->CameraSetResolutionEx(nullptr), -6);
}

TEST_F(Resolution, MovingARegionDoesNotRestartTheStream) {
    CameraControl* c = OpenCamera();
    tSdkResolution res = Region(0, 0, 320, 240, 320, 240);
    ASSERT_EQ(c->CameraSetResolutionEx(&res), 0);
    ASSERT_EQ(Reopens(), 1u);
    m_camera->ClearCalls();

    qvsim::LogCapture log;
    res = Region(16, 8, 320, 240, 320, 240);
    EXPECT_EQ(c->CameraSetResolutionEx(&res), 0);
    EXPECT_EQ(Reopens(), 0u);
    EXPECT_EQ(m_camera->CallCount("OpenStream"), 0u);
    ASSERT_EQ(m_camera->CallsNamed({"SetRoiOffset"}).size(), 1u);
    EXPECT_EQ(m_camera->CallsNamed({"SetRoiOffset"})[0].args, (std::vector<int64_t>{16, 8}));
    EXPECT_EQ(log.Count("=============================== just startx and starty is different\r\n"),
              1);
    EXPECT_EQ(c->GetCurrentResolution().iOffsetX, 16);
    EXPECT_EQ(c->GetParameterRecord().resolution.iOffsetY, 8);
    // The custom region is now a resolution of its own.
    EXPECT_EQ(c->CameraSetResolution(255), 0);
    EXPECT_EQ(m_camera->LastInitParam().resolution.iOffsetX, 16);
}

TEST_F(Resolution, SensorFormatMustBeListed) {
    m_camera = std::make_shared<CSettingsCamera>();
    m_camera->SetMediaTypes({0x01080001, 0x01080009});
    CameraControl* c = Open(m_camera);
    m_camera->ClearCalls();
    EXPECT_EQ(c->CameraSetSensorOutPixelFormat(0x01100005), CAMERA_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(c->CameraSetSensorOutPixelFormat(0x01080001), 0);  // in force: nothing to do
    EXPECT_EQ(Reopens(), 0u);
    EXPECT_EQ(c->CameraSetSensorOutPixelFormat(0x01080009), 0);
    EXPECT_EQ(Reopens(), 1u);
    EXPECT_EQ(m_camera->LastInitParam().mediaType, 0x01080009u);
    uint32_t format = 0;
    EXPECT_EQ(c->CameraGetSensorOutPixelFormat(&format), 0);
    EXPECT_EQ(format, 0x01080009u);
}

// While a snapshot runs at its own resolution the host's settings refer to the host's
// resolution, which CameraGetCurResolution answers; CameraGetOutImageSize tells what the sensor
// puts out now, the snapshot's size, and the host's again once the shot is over.
TEST_F(Resolution, OutImageSizeDuringASnapshotIsTheSensorsOutput) {
    m_camera = std::make_shared<CSettingsCamera>(CSettingsCamera::Options{.softwareAe = true});
    CameraControl* c = Open(m_camera);
    ASSERT_EQ(c->CameraSetResolution(1), 0);  // 320 x 240, skipping 2
    tSdkResolution snapRes{};
    ASSERT_EQ(c->CameraGetResolutionEx(0, &snapRes), 0);
    ASSERT_EQ(c->CameraSetResolutionForSnap(&snapRes), 0);

    std::atomic<int> snapResult{1};
    CameraFrameHandle frame = nullptr;
    std::thread snap([&] { snapResult = c->CameraSnapToBuffer(&frame, nullptr, nullptr, 20000); });
    EXPECT_TRUE(
        ctltest::WaitFor([&] { return m_camera->LastInitParam().resolution.uWidth == 640; }));
    tSdkResolution cur{};
    ASSERT_EQ(c->CameraGetCurResolution(&cur), 0);
    EXPECT_EQ(cur.uWidth, 320u);
    EXPECT_EQ(cur.uHeight, 240u);
    int width = 0, height = 0;
    ASSERT_EQ(c->CameraGetOutImageSize(&width, &height), 0);
    EXPECT_EQ(width, 640);
    EXPECT_EQ(height, 480);
    EXPECT_EQ(m_camera->PushTestFrame(), 0);
    snap.join();
    EXPECT_EQ(snapResult.load(), 0);
    if (frame != nullptr) {
        EXPECT_EQ(c->CameraReleaseFrameHandle(frame), 0);
    }
    ASSERT_EQ(c->CameraGetOutImageSize(&width, &height), 0);
    EXPECT_EQ(width, 320);
    EXPECT_EQ(height, 240);
}

// ---- Dead pixels ---------------------------------------------------------------------------

struct Frame {
    uint32_t width, height, mediaType;
    std::vector<uint8_t> bytes;
    stImageInfo info;
};

// A frame of value 100 with the pixels `marked` set to 200; 8 or 16 bits per pixel.
Frame MakeFrame(uint32_t width, uint32_t height, std::vector<std::pair<int, int>> marked,
                uint32_t mediaType = 0x01080000) {
    Frame f{width, height, mediaType, {}, {}};
    const size_t bytesPer = mediaType == 0x01080000 ? 1 : 2;
    f.bytes.assign(size_t{width} * height * bytesPer, 0);
    auto put = [&](size_t i, uint16_t v) {
        if (bytesPer == 1)
            f.bytes[i] = static_cast<uint8_t>(v);
        else
            std::memcpy(&f.bytes[2 * i], &v, 2);
    };
    for (size_t i = 0; i < size_t{width} * height; ++i) put(i, 100);
    for (auto [x, y] : marked) put(size_t{static_cast<uint32_t>(y)} * width + x, 200);
    f.info.iWidth = width;
    f.info.iHeight = height;
    f.info.uiMediaType = mediaType;
    f.info.TotalBytes = static_cast<UINT>(f.bytes.size());
    return f;
}

std::vector<uint32_t> Positions(const tSdkDeadPixelList& list) {
    return std::vector<uint32_t>(list.positions, list.positions + list.count);
}

constexpr uint32_t P(uint32_t x, uint32_t y) {
    return y << 16 | x;
}

TEST_F(Resolution, DeadPixelFinder) {
    CameraControl* c = OpenCamera();
    struct Row {
        const char* name;
        Frame frame;
        int status;
        std::vector<uint32_t> want;
    };
    // Two marked neighbours (3,3) and (4,3): every interior pixel whose 3 x 3 neighbourhood
    // holds both is listed, row by row.
    const std::vector<uint32_t> pair = {P(3, 2), P(4, 2), P(3, 3), P(4, 3), P(3, 4), P(4, 4)};
    const Row rows[] = {
        {"one marked pixel is noise", MakeFrame(8, 8, {{3, 3}}), 0, {}},
        {"two marked neighbours", MakeFrame(8, 8, {{3, 3}, {4, 3}}), 0, pair},
        {"16-bit samples", MakeFrame(8, 8, {{3, 3}, {4, 3}}, 0x01100005), 0, pair},
        {"16-bit samples, other code", MakeFrame(8, 8, {{3, 3}, {4, 3}}, 0x01100007), 0, pair},
        // Neighbourhoods of border pixels are not complete: only interior pixels are listed.
        {"pair at the border", MakeFrame(8, 8, {{0, 0}, {1, 0}}), 0, {P(1, 1)}},
        {"two rows", MakeFrame(8, 2, {{3, 0}, {4, 0}, {3, 1}}), 0, {}},
        {"colour frame", MakeFrame(8, 8, {{3, 3}}, 0x02180014), -4, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        tSdkDeadPixelList list{};
        list.count = 77;
        EXPECT_EQ(c->CameraFindDeadPixels(row.frame.bytes.data(), &row.frame.info, 100, 50, &list),
                  row.status);
        if (row.status == 0) {
            EXPECT_EQ(Positions(list), row.want);
            EXPECT_EQ(list.positions == nullptr, row.want.empty());
        }
    }
    // The threshold is exclusive: 200 is 100 away.
    const Frame f = MakeFrame(8, 8, {{3, 3}, {4, 3}});
    tSdkDeadPixelList list{};
    EXPECT_EQ(c->CameraFindDeadPixels(f.bytes.data(), &f.info, 100, 100, &list), 0);
    EXPECT_EQ(list.count, 0u);
    EXPECT_EQ(c->CameraFindDeadPixels(nullptr, &f.info, 100, 50, &list), -6);
    EXPECT_EQ(c->CameraFindDeadPixels(f.bytes.data(), nullptr, 100, 50, &list), -6);
    EXPECT_EQ(c->CameraFindDeadPixels(f.bytes.data(), &f.info, 100, 50, nullptr), -6);
}

TEST_F(Resolution, DeadPixelFinderStopsWhereTheTableIsFull) {
    CameraControl* c = OpenCamera();
    // Every pixel marked: 398 x 398 interior pixels, more than the table's 65528.
    Frame f = MakeFrame(400, 400, {});
    std::fill(f.bytes.begin(), f.bytes.end(), 0);
    tSdkDeadPixelList list{};
    ASSERT_EQ(c->CameraFindDeadPixels(f.bytes.data(), &f.info, 100, 50, &list), 0);
    ASSERT_EQ(list.count, 65528u);
    // Row by row from (1, 1): entry 65527 is the 65528th interior pixel.
    EXPECT_EQ(list.positions[0], P(1, 1));
    EXPECT_EQ(list.positions[65527], P(1 + 65527 % 398, 1 + 65527 / 398));
    // And the full list is one the camera can store.
    EXPECT_EQ(c->CameraSaveDeadPixels(&list), 0);
}

TEST_F(Resolution, DeadPixelTableSavedAndLoaded) {
    CameraControl* c = OpenCamera();
    uint32_t positions[] = {P(1, 2), P(300, 400), P(65535, 65535)};
    tSdkDeadPixelList list{};
    list.count = 3;
    list.positions = positions;
    ASSERT_EQ(c->CameraSaveDeadPixels(&list), 0);
    const std::vector<uint8_t> table = m_camera->Table();
    ASSERT_EQ(table.size(), 32u + 12u);
    const uint8_t head[8] = {0x05, 0x12, 0x23, 0x20, 3, 0, 0, 0};
    EXPECT_EQ(std::memcmp(table.data(), head, sizeof head), 0);
    EXPECT_EQ(std::vector<uint8_t>(table.begin() + 8, table.begin() + 32),
              std::vector<uint8_t>(24, 0));
    EXPECT_EQ(std::vector<uint8_t>(table.begin() + 36, table.begin() + 40),
              (std::vector<uint8_t>{0x2C, 0x01, 0x90, 0x01}));  // x 300, y 400

    tSdkDeadPixelList loaded;
    std::memset(&loaded, 0xEE, sizeof loaded);
    ASSERT_EQ(c->CameraLoadDeadPixels(&loaded), 0);
    EXPECT_EQ(Positions(loaded), std::vector<uint32_t>(positions, positions + 3));
    EXPECT_EQ(std::vector<uint8_t>(loaded.reserved, loaded.reserved + 32),
              std::vector<uint8_t>(32, 0));

    // Through the internal entries as well.
    tSdkDeadPixelList again{};
    EXPECT_EQ(CameraLoadDeadPixels(static_cast<HANDLE>(c), &again), 0);
    EXPECT_EQ(again.count, 3u);
    EXPECT_EQ(CameraLoadDeadPixels(nullptr, &again), -6);
}

TEST_F(Resolution, DeadPixelTableRefusals) {
    CameraControl* c = OpenCamera();
    tSdkDeadPixelList list{};
    EXPECT_EQ(c->CameraSaveDeadPixels(nullptr), -6);
    EXPECT_EQ(c->CameraSaveDeadPixels(&list), -6);  // empty
    std::vector<uint32_t> many(65529, P(1, 1));
    list.count = static_cast<uint32_t>(many.size());
    list.positions = many.data();
    EXPECT_EQ(c->CameraSaveDeadPixels(&list), -6);  // more than the table holds
    EXPECT_EQ(m_camera->CallCount("DevSaveBadPixelTable"), 0u);
    EXPECT_EQ(c->CameraLoadDeadPixels(nullptr), -6);

    struct Row {
        const char* name;
        std::vector<uint8_t> table;
        int status;
        size_t reads;  // calls of the table read
    };
    std::vector<uint8_t> badMagic(36, 0);
    badMagic[0] = 0x06;
    badMagic[4] = 1;
    // A count above what the area can hold: refused from the header alone.
    std::vector<uint8_t> tooMany = {0x05, 0x12, 0x23, 0x20, 0xF9, 0xFF, 0, 0};
    tooMany.resize(32, 0);
    std::vector<uint8_t> huge = {0x05, 0x12, 0x23, 0x20, 0, 0, 0, 0x40};  // 2^30
    huge.resize(32, 0);
    const Row rows[] = {
        {"wrong magic", badMagic, -8, 1},
        {"count above 65528", tooMany, -8, 1},
        {"count that wraps the size", huge, -8, 1},
        {"erased area", {}, -8, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        m_camera->SetTable(row.table);
        m_camera->ClearCalls();
        tSdkDeadPixelList out;
        std::memset(&out, 0xEE, sizeof out);
        EXPECT_EQ(c->CameraLoadDeadPixels(&out), row.status);
        EXPECT_EQ(out.count, 0u);
        EXPECT_EQ(out.positions, nullptr);
        EXPECT_EQ(m_camera->CallCount("DevLoadBadPixelTable"), row.reads);
    }
    // A storage that cannot be read: its status.
    m_camera->SetResult("DevLoadBadPixelTable", -13);
    tSdkDeadPixelList out{};
    EXPECT_EQ(c->CameraLoadDeadPixels(&out), -13);
}

}  // namespace
