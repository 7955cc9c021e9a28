// Display, cross lines and overlays on the controller: the display's state rules and codes, the
// 32-bit frame a display receives (through a recording display installed by the test), its
// callback, recovery from display errors, and overlays checked against images the test draws
// from the drawing rules.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ControllerTestBase.h"
#include "SettingsCamera.h"
#include "LogCapture.h"
#include "QVCameraApi.h"
#include "display/DisplayFactory.h"

namespace {

using ctltest::ControllerTest;
using ctltest::CTestCamera;

// What the recording displays saw; shared by every display the factory made.
struct DisplayLog {
    int created = 0;
    std::vector<std::string> calls;
    std::vector<uint8_t> pixels;  // what DrawImage received
    int width = 0, stride = 0;
    int height = 0;  // rows of the frames the test shows
    bool offerSurface = false;
    int failBeginFrame = 0;  // how many BeginFrame calls fail from now
};

// A display that keeps the pixels it is given and, when asked, offers them as its surface.
class CRecordingDisplay : public Display {
  public:
    explicit CRecordingDisplay(DisplayLog* log) : m_log(log) { ++m_log->created; }
    int Init() override { return Note("Init"); }
    int BeginFrame(uintptr_t window, int width, int height) override {
        Note("BeginFrame(" + std::to_string(window) + "," + std::to_string(width) + "," +
             std::to_string(height) + ")");
        if (m_log->failBeginFrame > 0) {
            --m_log->failBeginFrame;
            return CAMERA_STATUS_FAILED;
        }
        return CAMERA_STATUS_SUCCESS;
    }
    int DrawImage(const uint8_t* pixels, int width, int stride) override {
        Note("DrawImage");
        m_log->width = width;
        m_log->stride = stride;
        m_log->pixels.assign(pixels, pixels + static_cast<size_t>(stride) * m_log->height);
        return CAMERA_STATUS_SUCCESS;
    }
    int GetSurface(uint8_t** surface) override {
        Note("GetSurface");
        if (!m_log->offerSurface) return Display::GetSurface(surface);
        *surface = m_log->pixels.data();
        return CAMERA_STATUS_SUCCESS;
    }
    int ReleaseSurface() override { return Note("ReleaseSurface"); }
    int EndFrame() override { return Note("EndFrame"); }
    int SetMode(int mode) override { return Note("SetMode(" + std::to_string(mode) + ")"); }

  private:
    int Note(const std::string& call) {
        m_log->calls.push_back(call);
        return CAMERA_STATUS_SUCCESS;
    }
    DisplayLog* m_log;
};

class CRecordingFactory : public CDisplayFactory {
  public:
    std::unique_ptr<Display> CreateDisplay() override {
        return std::make_unique<CRecordingDisplay>(&log);
    }
    DisplayLog log;
};

struct CallbackSeen {
    int calls = 0;
    HANDLE handle = nullptr;
    BYTE* image = nullptr;
    stImageInfo info{};
    void* context = nullptr;
    int stride = 0;
};

void OnDisplay(HANDLE handle, BYTE* image, stImageInfo* info, void* context, int stride) {
    auto* seen = static_cast<CallbackSeen*>(context);
    ++seen->calls;
    seen->handle = handle;
    seen->image = image;
    seen->info = *info;
    seen->context = context;
    seen->stride = stride;
}

// An image of width x height in a media type with every byte given by the pattern.
struct Image {
    Image(uint32_t w, uint32_t h, uint32_t type, unsigned bpp) : bytes(size_t{w} * h * bpp) {
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
        head.iWidth = w;
        head.iHeight = h;
        head.uiMediaType = type;
        head.TotalBytes = static_cast<uint32_t>(bytes.size());
    }
    std::vector<uint8_t> bytes;
    stImageInfo head{};
};

using Display_ = ControllerTest;

// -5 before initialisation and before CameraDisplayInit; scale and offset only after mode 1
// (the flag starts as after mode 1); the callback only with a display.
TEST_F(Display_, StateMachine) {
    CameraControl unopened(nullptr);
    Image img(8, 4, CAMERA_MEDIA_TYPE_BGR8, 3);
    EXPECT_EQ(unopened.CameraDisplay(img.bytes.data(), &img.head), CAMERA_STATUS_NOT_INITIALIZED);
    EXPECT_EQ(unopened.CameraDisplayInit(1), CAMERA_STATUS_NOT_INITIALIZED);

    CameraControl* c = Open(AddCamera());
    HANDLE h = static_cast<HANDLE>(c);
    EXPECT_EQ(CameraDisplay(h, img.bytes.data(), &img.head), CAMERA_STATUS_NOT_INITIALIZED);
    EXPECT_EQ(CameraSetDisplayMode(h, 0), CAMERA_STATUS_NOT_INITIALIZED);
    EXPECT_EQ(CameraSetDisplayScaleRadio(h, 2), CAMERA_STATUS_NOT_INITIALIZED);
    EXPECT_EQ(CameraSetDisplayOffset(h, 1, 1), CAMERA_STATUS_NOT_INITIALIZED);
    EXPECT_EQ(CameraSetDisplaySize(h, 10, 10), CAMERA_STATUS_NOT_INITIALIZED);
    EXPECT_EQ(CameraSetDisplayCallbackFun(h, OnDisplay, nullptr, nullptr),
              CAMERA_STATUS_PARAMETER_INVALID);
    EXPECT_EQ(CameraSetAeWinVisible(h, 1), CAMERA_STATUS_PARAMETER_INVALID);

    ASSERT_EQ(CameraDisplayInit(h, 0x1000), 0);
    EXPECT_EQ(CameraSetDisplayScaleRadio(h, 2), 0);
    EXPECT_EQ(CameraSetDisplayMode(h, 0), 0);
    EXPECT_EQ(CameraSetDisplayScaleRadio(h, 2), CAMERA_STATUS_FAILED);
    EXPECT_EQ(CameraSetDisplayOffset(h, 1, 1), CAMERA_STATUS_FAILED);
    EXPECT_EQ(CameraSetDisplayMode(h, 7), 0);  // neither mode: the flag stays
    EXPECT_EQ(CameraSetDisplayScaleRadio(h, 2), CAMERA_STATUS_FAILED);
    EXPECT_EQ(CameraSetDisplayMode(h, 1), 0);
    EXPECT_EQ(CameraSetDisplayScaleRadio(h, 2), 0);
    EXPECT_EQ(CameraSetDisplayOffset(h, 1, 1), 0);
    EXPECT_EQ(CameraSetDisplaySize(h, 10, 10), 0);
    EXPECT_EQ(CameraSetAeWinVisible(h, 1), 0);
    EXPECT_EQ(CameraSetDisplayCallbackFun(h, nullptr, nullptr, nullptr),
              CAMERA_STATUS_PARAMETER_INVALID);

    // The library's own display shows nothing and offers no surface: no callback, result 0.
    CallbackSeen seen;
    CameraDisplayCallback previous = OnDisplay;
    ASSERT_EQ(CameraSetDisplayCallbackFun(h, OnDisplay, &seen, &previous), 0);
    EXPECT_EQ(previous, nullptr);
    EXPECT_EQ(CameraDisplay(h, img.bytes.data(), &img.head), 0);
    EXPECT_EQ(seen.calls, 0);
    EXPECT_EQ(CameraDisplay(h, nullptr, &img.head), CAMERA_STATUS_PARAMETER_INVALID);

    // Released with the camera.
    ASSERT_EQ(c->CameraUninit(), 0);
    EXPECT_EQ(CameraSetDisplayMode(h, 0), CAMERA_STATUS_NOT_INITIALIZED);
}

class DisplayFrames : public ControllerTest {
  protected:
    void SetUp() override { CDisplayFactory::Install(&m_displays); }
    void TearDown() override {
        m_controls.clear();
        CDisplayFactory::Install(nullptr);
    }
    CRecordingFactory m_displays;
};

// The display receives the 32-bit frame (B, G, R, 0 from BGR), with the call order of a frame;
// the callback gets the display's surface, the size, the context and the stride. A width that
// is not a multiple of 4 is converted whole; a head whose byte count is short of its width x
// height pixels is refused before anything reaches the display.
TEST_F(DisplayFrames, FrameReachesTheDisplayAndTheCallback) {
    // A camera that describes its frames: the display starts with the current image's size.
    auto camera = std::make_shared<ctltest::CSettingsCamera>();
    m_factory->AddDevice(camera);
    CameraControl* c = Open(camera);
    HANDLE h = static_cast<HANDLE>(c);
    ASSERT_EQ(CameraDisplayInit(h, 0x77), 0);
    EXPECT_EQ(m_displays.log.calls,
              (std::vector<std::string>{"Init", "BeginFrame(119,640,480)", "SetMode(1)"}));
    CallbackSeen seen;
    ASSERT_EQ(CameraSetDisplayCallbackFun(h, OnDisplay, &seen, nullptr), 0);
    m_displays.log.offerSurface = true;

    for (const auto& [w, height] : {std::pair<uint32_t, uint32_t>{16, 4}, {13, 5}}) {
        SCOPED_TRACE(w);
        Image img(w, height, CAMERA_MEDIA_TYPE_BGR8, 3);
        m_displays.log.height = static_cast<int>(height);
        m_displays.log.calls.clear();
        stImageInfo shortHead = img.head;
        --shortHead.TotalBytes;
        EXPECT_EQ(CameraDisplay(h, img.bytes.data(), &shortHead), CAMERA_STATUS_PARAMETER_INVALID);
        EXPECT_TRUE(m_displays.log.calls.empty());
        ASSERT_EQ(CameraDisplay(h, img.bytes.data(), &img.head), 0);
        std::vector<uint8_t> want;
        for (size_t i = 0; i < size_t{w} * height; ++i)
            want.insert(want.end(),
                        {img.bytes[3 * i], img.bytes[3 * i + 1], img.bytes[3 * i + 2], 0});
        EXPECT_EQ(m_displays.log.pixels, want);
        EXPECT_EQ(m_displays.log.width, static_cast<int>(w));
        EXPECT_EQ(m_displays.log.stride, static_cast<int>(w * 4));
        EXPECT_EQ(m_displays.log.calls,
                  (std::vector<std::string>{
                      "BeginFrame(119," + std::to_string(w) + "," + std::to_string(height) + ")",
                      "DrawImage", "GetSurface", "ReleaseSurface", "EndFrame"}));
        EXPECT_EQ(seen.handle, h);
        EXPECT_EQ(seen.image, m_displays.log.pixels.data());
        EXPECT_EQ(seen.info.iWidth, w);
        EXPECT_EQ(seen.info.iHeight, height);
        EXPECT_EQ(seen.info.TotalBytes, 0u);
        EXPECT_EQ(seen.info.uiMediaType, 0u);
        EXPECT_EQ(seen.context, &seen);
        EXPECT_EQ(seen.stride, static_cast<int>(w * 4));
    }
    EXPECT_EQ(seen.calls, 2);
}

// A display that fails a frame is logged and made anew; the call still answers 0.
TEST_F(DisplayFrames, FailedFrameRecreatesTheDisplay) {
    qvsim::LogCapture log;
    CameraControl* c = Open(AddCamera());
    HANDLE h = static_cast<HANDLE>(c);
    ASSERT_EQ(CameraDisplayInit(h, 5), 0);
    EXPECT_EQ(m_displays.log.created, 1);
    Image img(8, 2, CAMERA_MEDIA_TYPE_MONO8, 1);
    m_displays.log.height = 2;
    m_displays.log.failBeginFrame = 1;
    m_displays.log.calls.clear();
    EXPECT_EQ(CameraDisplay(h, img.bytes.data(), &img.head), 0);
    EXPECT_EQ(log.Count("DisplayFrame 1 err\n"), 1);
    EXPECT_EQ(log.Count(" !!!!!!DisplayFrame err!!!\n"), 1);
    EXPECT_EQ(m_displays.log.created, 2);
    EXPECT_EQ(m_displays.log.calls,
              (std::vector<std::string>{"BeginFrame(5,8,2)", "Init", "BeginFrame(5,8,2)"}));
    // The new display takes the next frame.
    m_displays.log.calls.clear();
    EXPECT_EQ(CameraDisplay(h, img.bytes.data(), &img.head), 0);
    EXPECT_EQ(m_displays.log.calls.size(), 4u);  // begin, draw, surface (none), end
}

// ---- Cross lines ------------------------------------------------------------------------------

TEST_F(Display_, CrossLines) {
    CameraControl* c = Open(AddCamera());
    HANDLE h = static_cast<HANDLE>(c);
    ASSERT_EQ(CameraSetCrossLine(h, 3, 10, 20, 0x00FF00FF, 5), 0);
    int x = 0, y = 0, visible = 0;
    UINT colour = 0;
    ASSERT_EQ(CameraGetCrossLine(h, 3, &x, &y, &colour, &visible), 0);
    EXPECT_EQ(std::vector<int>({x, y, visible}), std::vector<int>({10, 20, 1}));
    EXPECT_EQ(colour, 0x00FF00FFu);
    // Hidden: the position and colour stay.
    ASSERT_EQ(CameraSetCrossLine(h, 3, 99, 98, 0x1, 0), 0);
    ASSERT_EQ(CameraGetCrossLine(h, 3, &x, &y, &colour, &visible), 0);
    EXPECT_EQ(std::vector<int>({x, y, visible}), std::vector<int>({10, 20, 0}));
    EXPECT_EQ(colour, 0x00FF00FFu);
    EXPECT_EQ(CameraGetCrossLine(h, 3, nullptr, nullptr, nullptr, nullptr), 0);
    for (int line : {-1, 9}) {
        EXPECT_EQ(CameraSetCrossLine(h, line, 1, 1, 1, 1), CAMERA_STATUS_PARAMETER_INVALID);
        EXPECT_EQ(CameraGetCrossLine(h, line, &x, &y, &colour, &visible),
                  CAMERA_STATUS_PARAMETER_INVALID);
    }
    EXPECT_EQ(c->GetParameterRecord().crossLines[3].x, 10);
}

// ---- Overlay ----------------------------------------------------------------------------------

// The image the overlay must leave: pixels set by the test from the drawing rules.
class Expect {
  public:
    Expect(const Image& img, unsigned bpp, bool rgb)
        : m_img(img.bytes), m_w(img.head.iWidth), m_h(img.head.iHeight), m_bpp(bpp), m_rgb(rgb) {}
    void Pixel(int x, int y, uint32_t c) {
        ASSERT_TRUE(x >= 0 && y >= 0 && x < m_w && y < m_h) << x << "," << y;
        uint8_t* p = m_img.data() + (static_cast<size_t>(y) * m_w + x) * m_bpp;
        const uint8_t r = c & 0xFF, g = c >> 8 & 0xFF, b = c >> 16 & 0xFF;
        p[0] = m_rgb ? r : b;
        p[1] = g;
        p[2] = m_rgb ? b : r;
    }
    void Row(int y, int x0, int x1, uint32_t c) {
        for (int x = x0; x <= x1; ++x) Pixel(x, y, c);
    }
    void Column(int x, int y0, int y1, uint32_t c) {
        for (int y = y0; y <= y1; ++y) Pixel(x, y, c);
    }
    const std::vector<uint8_t>& Bytes() const { return m_img; }

  private:
    std::vector<uint8_t> m_img;
    int m_w, m_h;
    unsigned m_bpp;
    bool m_rgb;
};

constexpr uint32_t kYellow = 0x0000FFFF;
constexpr uint32_t kCyan = 0x00FFFF00;

TEST_F(Display_, OverlayCases) {
    CameraControl* c = Open(AddCamera());  // current image 640 x 480
    HANDLE h = static_cast<HANDLE>(c);
    ASSERT_EQ(CameraDisplayInit(h, 1), 0);

    // Cross lines: 1 and 4 inside; 0 on column 0, 2 on the last row + 1, 5 hidden: not drawn.
    ASSERT_EQ(CameraSetCrossLine(h, 0, 0, 10, 0x0000FF, 1), 0);
    ASSERT_EQ(CameraSetCrossLine(h, 1, 5, 6, 0x112233, 1), 0);
    ASSERT_EQ(CameraSetCrossLine(h, 2, 10, 40, 0x445566, 1), 0);
    ASSERT_EQ(CameraSetCrossLine(h, 4, 30, 2, 0x778899, 1), 0);
    ASSERT_EQ(CameraSetCrossLine(h, 5, 12, 12, 0xAABBCC, 0), 0);
    for (const auto& [type, bpp] : {std::pair<uint32_t, unsigned>{CAMERA_MEDIA_TYPE_RGB8, 3},
                                    {CAMERA_MEDIA_TYPE_BGR8, 3},
                                    {CAMERA_MEDIA_TYPE_BGRA8, 4}}) {
        SCOPED_TRACE(type);
        Image img(40, 40, type, bpp);
        Expect want(img, bpp, (type & 0xFF) == 0x14);
        want.Row(6, 0, 39, 0x112233);
        want.Row(2, 0, 39, 0x778899);
        want.Column(5, 0, 39, 0x112233);
        want.Column(30, 0, 39, 0x778899);
        ASSERT_EQ(CameraImageOverlay(h, img.bytes.data(), &img.head), 0);
        EXPECT_EQ(img.bytes, want.Bytes());
    }
    // Mono images are not drawn on.
    Image mono(40, 40, CAMERA_MEDIA_TYPE_MONO8, 1);
    const std::vector<uint8_t> before = mono.bytes;
    ASSERT_EQ(CameraImageOverlay(h, mono.bytes.data(), &mono.head), 0);
    EXPECT_EQ(mono.bytes, before);
    EXPECT_EQ(CameraImageOverlay(h, nullptr, &mono.head), CAMERA_STATUS_PARAMETER_INVALID);
}

TEST_F(Display_, OverlayWindows) {
    auto camera = AddCamera();
    // The WB window of the camera's defaults is not set (size -1): the whole image.
    camera->ScriptParameters(0, [](CameraProperty& p) {
        p.defaultSettings.wbWindow[2] = -1;
        p.defaultSettings.wbWindow[3] = -1;
    });
    CameraControl* c = Open(camera);  // current image 640 x 480
    HANDLE h = static_cast<HANDLE>(c);
    ASSERT_EQ(CameraDisplayInit(h, 1), 0);
    ASSERT_EQ(CameraSetAeWinVisible(h, 1), 0);

    // AE window (0, 0, 5000, 5000) on 640 x 480: along the border.
    ASSERT_EQ(CameraSetAeWindow(h, 0, 0, 5000, 5000), 0);
    {
        Image img(640, 480, CAMERA_MEDIA_TYPE_BGR8, 3);
        Expect want(img, 3, false);
        want.Row(0, 0, 639, kYellow);
        want.Row(479, 0, 639, kYellow);
        want.Column(0, 0, 479, kYellow);
        want.Column(639, 0, 479, kYellow);
        ASSERT_EQ(CameraImageOverlay(h, img.bytes.data(), &img.head), 0);
        EXPECT_EQ(img.bytes, want.Bytes());
    }
    // A window inside, and the WB window not set (the whole image) in cyan, drawn after it.
    ASSERT_EQ(CameraSetAeWindow(h, 100, 50, 200, 100), 0);
    ASSERT_EQ(CameraSetWbWinVisible(h, 1), 0);
    {
        Image img(640, 480, CAMERA_MEDIA_TYPE_RGB8, 3);
        Expect want(img, 3, true);
        want.Row(50, 100, 300, kYellow);
        want.Row(150, 100, 300, kYellow);
        want.Column(100, 50, 150, kYellow);
        want.Column(300, 50, 150, kYellow);
        want.Row(0, 0, 639, kCyan);
        want.Row(479, 0, 639, kCyan);
        want.Column(0, 0, 479, kCyan);
        want.Column(639, 0, 479, kCyan);
        ASSERT_EQ(CameraImageOverlay(h, img.bytes.data(), &img.head), 0);
        EXPECT_EQ(img.bytes, want.Bytes());
    }
    // An image smaller than the current one: the window is cut to it; what lies beyond it is
    // not drawn (the window at 100..300 x 50..150 on 160 x 120: its right edge and bottom are
    // cut to the image's last column and row).
    ASSERT_EQ(CameraSetWbWinVisible(h, 0), 0);
    {
        Image img(160, 120, CAMERA_MEDIA_TYPE_BGR8, 3);
        Expect want(img, 3, false);
        want.Row(50, 100, 159, kYellow);
        want.Row(119, 100, 159, kYellow);
        want.Column(100, 50, 119, kYellow);
        want.Column(159, 50, 119, kYellow);
        ASSERT_EQ(CameraImageOverlay(h, img.bytes.data(), &img.head), 0);
        EXPECT_EQ(img.bytes, want.Bytes());
    }
    {
        Image img(80, 40, CAMERA_MEDIA_TYPE_BGR8, 3);  // the window lies wholly outside
        const std::vector<uint8_t> before = img.bytes;
        ASSERT_EQ(CameraImageOverlay(h, img.bytes.data(), &img.head), 0);
        EXPECT_EQ(img.bytes, before);
    }
}

}  // namespace
