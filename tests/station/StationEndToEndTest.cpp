// The whole station through its six exports, on simulated cameras: the sole camera is the
// simulated mono IMX290 (1280x1024) behind the real libusb under umockdev, reached through the
// camera SDK's shared library, showing a synthetic foot that walks heel first; the four upper
// cameras are scripted sources behind /dev/wcam1 to /dev/wcam4 (links in the umockdev testbed,
// which the process sees in /dev). The executable re-executes itself under the umockdev preload
// and inside a private network namespace.
#include <gtest/gtest.h>

#include <dirent.h>
#include <pthread.h>
#include <signal.h>
#include <sys/time.h>
#include <umockdev.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "HostWaits.h"
#include "PW_Mosaic.h"
#include "QVCameraApi.h"
#include "ScriptedUpperCameras.h"
#include "SimHostSettings.h"
#include "SimSoleScene.h"
#include "SimUsbImx290Camera.h"
#include "StdStreamCapture.h"
#include "Tarnlex.h"
#include "Wcam.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Phase = CSimSoleScene::Phase;
using qvstation::BlockingRead;
using qvstation::WaitFor;

constexpr size_t kSoleBytes = 520 * 1200;
constexpr size_t kMosaicBytes = 320 * 180 * 3;
constexpr double kPixelsPerMm = 300.0 / 25.4;

// The station's own threads running now: the capture threads "wcam1" to "wcam4" and the sole
// thread "qvcam".
int StationThreads() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/task")) {
        while (dirent* e = readdir(d)) {
            if (e->d_name[0] == '.') continue;
            std::ifstream comm(std::string("/proc/self/task/") + e->d_name + "/comm");
            std::string name;
            std::getline(comm, name);
            n += name.rfind("wcam", 0) == 0 || name == "qvcam";
        }
        closedir(d);
    }
    return n;
}

// A clock that stands still: a foot may stand as long as this machine needs, with no six-second
// reset.
Clock::time_point StandingClock() {
    return Clock::time_point{};
}

std::atomic<int> g_hostAlarms{0};
void CountHostAlarm(int) {
    ++g_hostAlarms;
}

class Station : public ::testing::Test {
  protected:
    // Once per process: the SDK's libusb keeps following the testbed it started with.
    static void SetUpTestSuite() {
        if (s_testbed != nullptr) return;
        // OpenCV's worker threads synchronise out of a thread checker's sight: the station's
        // image work runs in the threads that call it.
        cv::setNumThreads(0);
        s_home = fs::temp_directory_path() / ("qv-station-" + std::to_string(getpid()));
        fs::create_directories(s_home);
        setenv("HOME", s_home.c_str(), 1);
        // The sole camera keeps 1280x1024 as its stored resolution.
        ASSERT_TRUE(qvsim::UseImx290Resolution(qvsim::CustomResolution(320, 28, 1280, 1024)));
        s_testbed = new CSimUsbTestbed();
        std::atexit([] {
            delete s_testbed;
            s_testbed = nullptr;
            std::error_code ec;
            fs::remove_all(s_home, ec);
        });
    }

    void SetUp() override {
        ASSERT_TRUE(CSimUsbTestbed::PreloadActive()) << "not running under the umockdev preload";
        m_out =
            s_home /
            ("out-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    }

    void TearDown() override {
        m_upper.LetAll();
        Tarn_ReleaseDevice();
        MOSAIC_SetClock(nullptr);
        Unlink();
        // The manager's list still holds the camera: empty it before the device goes.
        int count = 0;
        CameraEnumerateDeviceEx(&count, 0);
        m_sole.reset();
        std::lock_guard<std::mutex> lock(m_shotMutex);
        for (cv::Mat& m : m_shotFrames) m.release();
    }

    // The sole camera, plugged in and listed by the SDK.
    void PlugSole() {
        SimImx290Options o;
        o.serial = "QV-SOLE-0001";
        o.port = {1, 4};
        // Each 1.3 MB frame costs a thread checker a great deal of bookkeeping (and the control
        // requests of the opening and closing wait behind them in the emulation): fewer there.
#if defined(__SANITIZE_THREAD__)
        o.fps = 3;
#else
        o.fps = 15;
#endif
        o.pattern = SimFramePattern::kCallback;
        o.image = [this](uint64_t, uint8_t* image, uint32_t bytes) {
            m_scene.Render(image, bytes);
        };
        m_sole = std::make_unique<CSimUsbImx290Camera>(*s_testbed, o);
        // libusb learns of the device from its hot-plug events.
        ASSERT_TRUE(WaitFor([] {
            int count = 0;
            CameraEnumerateDevice(&count);
            return count == 1;
        }));
    }

    // /dev/wcam1 to /dev/wcam4, as the process sees them: links in the testbed, to device files
    // in the testbed too (the station resolves the links, and the testbed's paths come back as
    // /dev paths), which stand for the scripted cameras.
    void LinkUpperCameras() {
        gchar* root = umockdev_testbed_get_root_dir(s_testbed->Raw());
        m_devDir = std::string(root) + "/dev";
        g_free(root);
        fs::create_directories(m_devDir + "/qv-upper");
        for (int i = 1; i <= 4; ++i) {
            const std::string device = "/qv-upper/video" + std::to_string(i);
            std::ofstream(m_devDir + device).put('\n');
            fs::create_symlink(m_devDir + device, m_devDir + "/wcam" + std::to_string(i));
            m_upper.Alias(i - 1, "/dev" + device);
        }
    }
    void Unlink() {
        if (m_devDir.empty()) return;
        for (int i = 1; i <= 4; ++i) fs::remove(m_devDir + "/wcam" + std::to_string(i));
        fs::remove_all(m_devDir + "/qv-upper");
    }

    // The six files in the format of `extension` (JPEG where only the saving matters: it is the
    // quickest to write).
    int Save(const std::string& dir, FOOT_XD_INFO* info, const std::string& extension) {
        char out[256], sole[32], group[32], v[4][32];
        std::snprintf(out, sizeof out, "%s", dir.c_str());
        std::snprintf(sole, sizeof sole, "shoe%s", extension.c_str());
        std::snprintf(group, sizeof group, "view%s", extension.c_str());
        char* views[4];
        for (int i = 0; i < 4; ++i) {
            std::snprintf(v[i], sizeof v[i], "view%d%s", i + 1, extension.c_str());
            views[i] = v[i];
        }
        return Tarn_SaveXDImageEX(out, sole, views, group, info);
    }

    // Contact pixels of the sole preview (above half scale) inside the upright rectangle.
    static int Shown(const std::vector<unsigned char>& sole, const cv::Rect& area) {
        const cv::Mat image(1200, 520, CV_8UC1, const_cast<unsigned char*>(sole.data()));
        cv::Mat bright;
        cv::threshold(image(area), bright, 127, 255, cv::THRESH_BINARY);
        return cv::countNonZero(bright);
    }

    static inline CSimUsbTestbed* s_testbed = nullptr;
    static inline fs::path s_home;
    fs::path m_out;
    CSimSoleScene m_scene;
    CScriptedUpperCameras m_upper;
    std::unique_ptr<CSimUsbImx290Camera> m_sole;
    std::string m_devDir;
};

const cv::Rect kForefootArea(160, 210, 201, 381);
const cv::Rect kHeelArea(190, 700, 141, 301);

TEST_F(Station, WithoutASoleCameraTheOpenIsUndoneWholly) {
    LinkUpperCameras();
    int count = 0;
    CameraEnumerateDevice(&count);
    ASSERT_EQ(count, 0);
    CStdStreamCapture capture;
    EXPECT_EQ(Tarn_InitDevice(), -1);
    capture.Stop();
    EXPECT_NE(capture.Out().find("[INFO] : 鞋面相机打开成功\n"), std::string::npos);
    EXPECT_NE(capture.Out().find("[INFO] : 异常:鞋底相机枚举设备失败，检查驱动和USB连接\n"),
              std::string::npos);
    EXPECT_GT(m_upper.Reads(0), 0u) << "the upper cameras streamed before the sole camera opened";
    EXPECT_FALSE(m_wcamThreadState);
    EXPECT_EQ(StationThreads(), 0);
}

TEST_F(Station, UpperThreadsThatCannotStartUndoTheOpen) {
    LinkUpperCameras();
    PlugSole();
    pthread_attr_t saved, huge;
    ASSERT_EQ(pthread_getattr_default_np(&saved), 0);
    pthread_attr_init(&huge);
    // A stack no machine can map: every thread creation with default attributes fails.
    ASSERT_EQ(pthread_attr_setstacksize(&huge, size_t{1} << 44), 0);
    ASSERT_EQ(pthread_setattr_default_np(&huge), 0);
    CStdStreamCapture capture;
    const int result = Tarn_InitDevice();
    capture.Stop();
    ASSERT_EQ(pthread_setattr_default_np(&saved), 0);
    pthread_attr_destroy(&huge);
    pthread_attr_destroy(&saved);
    EXPECT_EQ(result, -5);
    EXPECT_NE(capture.Err().find("创建相机0线程失败\n"), std::string::npos);
    EXPECT_EQ(StationThreads(), 0);
    EXPECT_FALSE(m_sole->Model().OutputLine(0).DrivenHigh()) << "the light was switched on";
}

// The process's signals, its interval timer and its blocking calls are the host's, while the
// station runs and after its release.
TEST_F(Station, TheHostKeepsItsSignalHandlerTimerAndBlockingCalls) {
    struct sigaction host {};
    struct sigaction saved {};
    host.sa_handler = CountHostAlarm;
    sigemptyset(&host.sa_mask);
    host.sa_flags = SA_RESTART;
    ASSERT_EQ(sigaction(SIGALRM, &host, &saved), 0);
    // Long enough never to expire during the test.
    const itimerval timer{{500, 0}, {1000, 0}};
    ASSERT_EQ(setitimer(ITIMER_REAL, &timer, nullptr), 0);
    struct Restore {
        struct sigaction saved;
        ~Restore() {
            const itimerval off{};
            setitimer(ITIMER_REAL, &off, nullptr);
            sigaction(SIGALRM, &saved, nullptr);
        }
    } restore{saved};
    auto expectTheHosts = [](const char* when) {
        SCOPED_TRACE(when);
        struct sigaction now {};
        ASSERT_EQ(sigaction(SIGALRM, nullptr, &now), 0);
        EXPECT_EQ(now.sa_handler, &CountHostAlarm);
        itimerval left{};
        ASSERT_EQ(getitimer(ITIMER_REAL, &left), 0);
        EXPECT_EQ(left.it_interval.tv_sec, 500);
        EXPECT_GT(left.it_value.tv_sec, 900);
        const int before = g_hostAlarms;
        raise(SIGALRM);
        EXPECT_EQ(g_hostAlarms, before + 1);
        // In the main thread, which a signal to the process reaches first; longer than a
        // second, the period of any timer a station might arm.
        const auto [n, error] = BlockingRead(2500ms);
        EXPECT_EQ(n, 1) << "the blocking read ended early: " << std::strerror(error);
    };

    LinkUpperCameras();
    PlugSole();
    ASSERT_EQ(Tarn_InitDevice(), 1);
    ASSERT_TRUE(WaitFor([] { return StationThreads() == 5; }));
    expectTheHosts("while the station runs");
    ASSERT_EQ(Tarn_ReleaseDevice(), 1);
    expectTheHosts("after the release");
}

TEST_F(Station, FramesOfAnotherSizeNeverReachTheCrop) {
    // This time the camera keeps 320x240 as its resolution.
    ASSERT_TRUE(qvsim::UseImx290Resolution(qvsim::PresetResolution(8)));
    LinkUpperCameras();
    PlugSole();
    m_scene.SetPhase(Phase::kFull);
    m_upper.HoldAfter(6);
    // Captured from before the open: the sole thread can meet its first frame before the open
    // returns.
    auto capture = std::make_unique<CStdStreamCapture>();
    ASSERT_EQ(Tarn_InitDevice(), 1);
    const uint64_t from = m_sole->Model().FramesCompleted();
    const bool streamed = WaitFor([&] { return m_sole->Model().FramesCompleted() >= from + 10; });
    capture->Stop();
    const std::string err = capture->Err();
    capture.reset();
    ASSERT_TRUE(qvsim::UseImx290Resolution(qvsim::CustomResolution(320, 28, 1280, 1024)));
    ASSERT_TRUE(streamed);
    size_t lines = 0;
    for (size_t at = 0; (at = err.find("[ERROR] ", at)) != std::string::npos; ++at) ++lines;
    EXPECT_EQ(lines, 1u) << err;
    EXPECT_NE(err.find("frame 320x240 of media type 0x01080000 skipped"), std::string::npos) << err;
    std::vector<unsigned char> sole(kSoleBytes, 0xAB), mosaic(kMosaicBytes);
    EXPECT_EQ(Tarn_GetPreviewImage(sole.data(), mosaic.data()), 1);
    EXPECT_EQ(sole, std::vector<unsigned char>(kSoleBytes, 0)) << "a frame was cropped";
}

TEST_F(Station, AFootWalksOnIsShotAndSaved) {
    LinkUpperCameras();
    PlugSole();
    // Each upper camera's warm-up frames and one more are all the shot needs; the capture threads
    // then wait rather than copy frames all the time.
    m_upper.HoldAfter(6);
    auto capture = std::make_unique<CStdStreamCapture>();
    ASSERT_EQ(Tarn_InitDevice(), 1);
    capture->Stop();
    std::string out = capture->Out();
    for (const char* line : {"[INFO] : 初始化足迹采集设备\n", "[INFO] : 鞋面相机打开成功\n",
                             "[INFO] : 鞋底相机打开成功\n"})
        EXPECT_NE(out.find(line), std::string::npos) << line;
    MOSAIC_SetClock(StandingClock);
    // (Each thread names itself as it starts.)
    EXPECT_TRUE(WaitFor([] { return StationThreads() == 5; }));
    EXPECT_EQ(Tarn_InitDevice(), 1) << "a second open while running";
    EXPECT_EQ(StationThreads(), 5);
    EXPECT_TRUE(m_sole->Model().OutputLine(0).DrivenHigh()) << "the plate light";

    std::vector<unsigned char> sole(kSoleBytes, 0xAB), mosaic(kMosaicBytes, 0xCD);
    EXPECT_EQ(Tarn_GetPreviewImage(sole.data(), mosaic.data()), 1);
    EXPECT_EQ(sole, std::vector<unsigned char>(kSoleBytes, 0)) << "black before the first foot";

    auto poll = [&] { return Tarn_GetPreviewImage(sole.data(), mosaic.data()); };
    // The heel. The station learns the empty plate from the first frame it takes; should that
    // already have been a heel frame (a station slower than the camera), the heel never shows,
    // and it is tried again after more empty frames (seven quiet frames relearn the plate).
    bool heel = false;
    for (int attempt = 1; attempt <= 5 && !heel; ++attempt) {
        m_scene.SetPhase(Phase::kEmpty);
        const uint64_t from = m_sole->Model().FramesCompleted();
        ASSERT_TRUE(
            WaitFor([&] { return m_sole->Model().FramesCompleted() >= from + 10 * attempt; }));
        m_scene.SetPhase(Phase::kHeel);
        const uint64_t shown = m_sole->Model().FramesCompleted();
        heel = WaitFor([&] {
                   poll();
                   return Shown(sole, kHeelArea) > 10000 ||
                          m_sole->Model().FramesCompleted() > shown + 20 * attempt;
               }) &&
               Shown(sole, kHeelArea) > 10000;
    }
    ASSERT_TRUE(heel) << "the heel never showed";

    // A host thread saves while the foot walks on (as the GUI thread does).
    std::atomic<bool> walking{true};
    std::atomic<int> saves{0};
    std::thread saver;
    // Joined however the walk ends.
    struct Joiner {
        std::atomic<bool>& walking;
        std::thread& thread;
        ~Joiner() {
            walking = false;
            if (thread.joinable()) thread.join();
        }
    } joiner{walking, saver};
    saver = std::thread([&] {
        const std::string dir = m_out.string() + "-busy";
        FOOT_XD_INFO info{};
        if (Save(dir, &info, ".jpg") == 1) ++saves;
    });

    m_scene.SetPhase(Phase::kFull);
    ASSERT_TRUE(WaitFor([&] {
        EXPECT_NE(poll(), 2) << "a shot before the foot rolled";
        return Shown(sole, kForefootArea) > 30000;
    }));
    // Every upper camera has its newest frame for the shot.
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(m_upper.WaitForReads(i, 6));
    m_scene.SetPhase(Phase::kRoll);
    int shot = 0;
    ASSERT_TRUE(WaitFor([&] { return (shot = poll()) == 2; })) << "no contact shot";
    // The mosaic: each upper camera in its quarter, colours unchanged.
    const cv::Mat shotImage(180, 320, CV_8UC3, mosaic.data());
    for (int i = 0; i < 4; ++i) {
        const cv::Vec3b expected(CScriptedUpperCameras::DefaultColour(i)[0],
                                 CScriptedUpperCameras::DefaultColour(i)[1],
                                 CScriptedUpperCameras::DefaultColour(i)[2]);
        EXPECT_EQ(shotImage.at<cv::Vec3b>(45 + 90 * (i / 2), 80 + 160 * (i % 2)), expected)
            << "quarter " << i;
    }
    EXPECT_EQ(poll(), 1) << "the mosaic is handed out once";

    // The foot rolls off and leaves; the preview keeps its impression.
    m_scene.SetPhase(Phase::kToe);
    uint64_t from = m_sole->Model().FramesCompleted();
    ASSERT_TRUE(WaitFor([&] { return m_sole->Model().FramesCompleted() >= from + 3; }));
    m_scene.SetPhase(Phase::kEmpty);
    from = m_sole->Model().FramesCompleted();
    ASSERT_TRUE(WaitFor([&] { return m_sole->Model().FramesCompleted() >= from + 10; }));
    walking = false;
    saver.join();
    EXPECT_GT(saves, 0);
    EXPECT_EQ(poll(), 1);
    cv::Mat shown;
    cv::threshold(cv::Mat(1200, 520, CV_8UC1, sole.data()), shown, 127, 255, cv::THRESH_BINARY);
    cv::Mat differing;
    cv::bitwise_xor(shown, CSimSoleScene::Impression(), differing);
    EXPECT_LT(cv::countNonZero(differing), 200) << "the preview is not the whole impression";

    m_upper.LetAll();
    capture = std::make_unique<CStdStreamCapture>();
    EXPECT_EQ(Tarn_ReleaseDevice(), 1);
    capture->Stop();
    EXPECT_EQ(capture->Out(),
              "[INFO] : 释放足迹采集设备\n[INFO] : wcam_Close\n[INFO] : qvcam_Close\n");
    capture.reset();
    EXPECT_TRUE(m_sole->Model().OutputLine(0).DrivenLow()) << "the light stays on";
    EXPECT_EQ(StationThreads(), 0);

    // Saved after the release: the impression published last and the views frozen last.
    FOOT_XD_INFO info{};
    ASSERT_EQ(Save(m_out.string(), &info, ".bmp"), 1);
    for (const char* name :
         {"shoe.bmp", "view1.bmp", "view2.bmp", "view3.bmp", "view4.bmp", "view.bmp"})
        EXPECT_TRUE(fs::exists(m_out / name)) << name;
    EXPECT_EQ(cv::imread((m_out / "view.bmp").string()).size(), cv::Size(2560, 1440));
    EXPECT_EQ(cv::imread((m_out / "shoe.bmp").string()).size(), cv::Size(1934, 4134));

    // The measurements of the drawn foot at 300 dpi: the impression scaled from 520x1200 to
    // 1774x4134.
    const double sx = 1774.0 / 520, sy = 4134.0 / 1200;
    const double front = (2 * CSimSoleScene::kForefootAxes.width + 1) * sx / kPixelsPerMm;
    const double back = (2 * CSimSoleScene::kHeelAxes.width + 1) * sx / kPixelsPerMm;
    const int top = CSimSoleScene::kForefootCentre.y - CSimSoleScene::kForefootAxes.height;
    const int bottom = CSimSoleScene::kHeelCentre.y + CSimSoleScene::kHeelAxes.height;
    const double lengthPixels = (bottom - top + 1) * sy;
    const double area = cv::countNonZero(CSimSoleScene::Impression()) * sx * sy;
    const double score = 0.9 * lengthPixels / 4054 * 100 + 0.8 * area / (1694.0 * 4054) * 100;
    EXPECT_NEAR(info.footFrontWidth, front, 1.0);
    EXPECT_NEAR(info.footBackWidth, back, 1.0);
    EXPECT_NEAR(info.footLong, lengthPixels / kPixelsPerMm, 1.0);
    EXPECT_NEAR(info.footScore, score, 1.0);
}

}  // namespace
