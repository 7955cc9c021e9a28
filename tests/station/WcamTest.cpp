// The upper cameras through scripted frame sources (and once through OpenCV's image-sequence
// reader): opening, the format settings, capture, the contact shot with its frozen frames and
// the preview mosaic, and the failures of opening against OpenCV's real V4L2 back end.
#include <gtest/gtest.h>

#include <pthread.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "ImageSequenceFrameSource.h"
#include "ScriptedUpperCameras.h"
#include "StdStreamCapture.h"
#include "Wcam.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const cv::Rect kQuarter[CAMERA_NUM] = {
    {0, 0, 160, 90}, {160, 0, 160, 90}, {0, 90, 160, 90}, {160, 90, 160, 90}};

// Pixels of `image` that differ from `colour` in any channel.
int Differing(const cv::Mat& image, const cv::Scalar& colour) {
    cv::Mat diff;
    cv::absdiff(image, colour, diff);
    cv::Mat any;
    cv::cvtColor(diff, any, cv::COLOR_BGR2GRAY);
    return cv::countNonZero(any);
}

cv::Vec3b At(const cv::Mat& image, int x, int y) {
    return image.at<cv::Vec3b>(y, x);
}

cv::Vec3b Colour(const cv::Scalar& s) {
    return cv::Vec3b(static_cast<uint8_t>(s[0]), static_cast<uint8_t>(s[1]),
                     static_cast<uint8_t>(s[2]));
}

void ForgetShots() {
    {
        std::lock_guard<std::mutex> lock(m_shotMutex);
        for (cv::Mat& frozen : m_shotFrames) frozen.release();
    }
    std::lock_guard<std::mutex> lock(m_previewMutex);
    m_previewImage.release();
    m_newPreviewAvailable = false;
}

cv::Mat Frozen(int camera) {
    std::lock_guard<std::mutex> lock(m_shotMutex);
    return m_shotFrames[camera].clone();
}

std::string TempFolder() {
    char pattern[] = "/tmp/qv-wcam-test-XXXXXX";
    return mkdtemp(pattern) != nullptr ? pattern : "";
}

class UpperCameras : public ::testing::Test {
  protected:
    void SetUp() override { ForgetShots(); }
    void TearDown() override {
        wcam_Close();
        ForgetShots();
    }

    // Open, stream, and wait for the five warm-up reads and one more of every camera.
    void Stream() {
        ASSERT_TRUE(wcam_OpenPaths(m_cameras.Links()));
        ASSERT_TRUE(wcam_StartStreaming());
        for (int i = 0; i < CAMERA_NUM; ++i) ASSERT_TRUE(m_cameras.WaitForReads(i, 7));
    }

    // The mosaic of the last shot; fails when none was new.
    static cv::Mat Fetch() {
        std::vector<uint8_t> bytes(kMosaicBytes, 0xEE);
        EXPECT_TRUE(wcam_FetchPreview(bytes.data()));
        return cv::Mat(kMosaicHeight, kMosaicWidth, CV_8UC3, bytes.data()).clone();
    }

    CScriptedUpperCameras m_cameras;
};

TEST_F(UpperCameras, OpenSetsTheFormatInOrderAndLogsTheResolvedPaths) {
    CStdStreamCapture capture;
    ASSERT_TRUE(wcam_OpenPaths(m_cameras.Links()));
    capture.Stop();
    std::string expected;
    for (int i = 0; i < CAMERA_NUM; ++i)
        expected += "[INFO] : " + fs::canonical(m_cameras.Links()[i]).string() + "\n";
    expected += "[INFO] : 鞋面相机打开成功\n";
    EXPECT_EQ(capture.Out(), expected);
    EXPECT_EQ(m_cameras.Opens(), CAMERA_NUM);
    const std::vector<std::pair<int, double>> sets = {
        {cv::CAP_PROP_FOURCC, cv::VideoWriter::fourcc('Y', 'U', 'Y', 'V')},
        {cv::CAP_PROP_FRAME_WIDTH, 1280},
        {cv::CAP_PROP_FRAME_HEIGHT, 720},
        {cv::CAP_PROP_FPS, 60}};
    for (int i = 0; i < CAMERA_NUM; ++i) EXPECT_EQ(m_cameras.SetCalls(i), sets) << "camera " << i;
    EXPECT_EQ(m_cameras.Reads(0), 0u) << "nothing is read before streaming starts";
}

TEST_F(UpperCameras, TheShotPlacesEachCameraInItsQuarterWithItsColourAndIsFetchedOnce) {
    Stream();
    std::vector<uint8_t> none(kMosaicBytes, 0xEE);
    EXPECT_FALSE(wcam_FetchPreview(none.data())) << "no mosaic before the first shot";
    EXPECT_TRUE(wcam_shot());
    const cv::Mat mosaic = Fetch();
    for (int i = 0; i < CAMERA_NUM; ++i)
        EXPECT_EQ(Differing(mosaic(kQuarter[i]), CScriptedUpperCameras::DefaultColour(i)), 0)
            << "quarter of camera " << i;
    // Blue, green, red byte order: camera 0 is red.
    EXPECT_EQ(mosaic.data[0], 0);
    EXPECT_EQ(mosaic.data[2], 200);
    EXPECT_FALSE(wcam_FetchPreview(none.data())) << "the mosaic is handed out once";
    EXPECT_EQ(none, std::vector<uint8_t>(kMosaicBytes, 0xEE));

    // A second shot before a fetch leaves one new mosaic.
    EXPECT_TRUE(wcam_shot());
    EXPECT_TRUE(wcam_shot());
    Fetch();
    EXPECT_FALSE(wcam_FetchPreview(none.data()));
}

TEST_F(UpperCameras, CorrectedQuartersShowTheLensCentreInTheMiddleAndSpreadTheView) {
    const cv::Scalar white(255, 255, 255);
    // Camera 1: a block on the lens centre. Camera 3: a block around (194, 109), which the
    // correction brings to the quarter's top-left corner, and one on the frame's corner, which
    // the correction pushes out of view.
    m_cameras.Serve(1, CScriptedUpperCameras::Frame(CScriptedUpperCameras::DefaultColour(1),
                                                    cv::Rect(608, 328, 64, 64), white));
    cv::Mat three = CScriptedUpperCameras::Frame(CScriptedUpperCameras::DefaultColour(3),
                                                 cv::Rect(178, 93, 32, 32), white);
    three(cv::Rect(1200, 680, 80, 40)).setTo(white);
    m_cameras.Serve(3, three);
    Stream();
    wcam_shot();
    const cv::Mat mosaic = Fetch();
    const cv::Vec3b green = Colour(CScriptedUpperCameras::DefaultColour(1));
    const cv::Vec3b yellow = Colour(CScriptedUpperCameras::DefaultColour(3));
    EXPECT_EQ(At(mosaic, 240, 45), cv::Vec3b(255, 255, 255));
    EXPECT_EQ(At(mosaic, 240 + 10, 45), green);
    EXPECT_EQ(At(mosaic, 240, 45 + 10), green);
    EXPECT_EQ(At(mosaic, 160, 90), cv::Vec3b(255, 255, 255));
    EXPECT_EQ(At(mosaic, 160 + 6, 90 + 6), yellow);
    EXPECT_EQ(At(mosaic, 319, 179), yellow) << "the frame's corner lies outside the view";
}

TEST(OnCorrectMiddle0, APixelWhoseSourceLiesOutsideTheFrameIsBlack) {
    // Without the radius scale the edges of the view map outside the frame.
    const cv::Mat frame(180, 320, CV_8UC3, cv::Scalar(10, 20, 30));
    cv::Mat quarter;
    OnCorrectMiddle0(frame, quarter, 0, 0, 0, 0, 0.0f);
    ASSERT_EQ(quarter.size(), cv::Size(160, 90));
    EXPECT_EQ(At(quarter, 0, 0), cv::Vec3b(0, 0, 0));
    EXPECT_EQ(At(quarter, 159, 89), cv::Vec3b(0, 0, 0));
    EXPECT_EQ(At(quarter, 80, 45), cv::Vec3b(10, 20, 30));
    // With the stitch's scale no pixel of the view lies outside.
    OnCorrectMiddle0(frame, quarter, 0, 0, 0, 0, 3.6f);
    EXPECT_EQ(Differing(quarter, cv::Scalar(10, 20, 30)), 0);
}

TEST_F(UpperCameras, AShotWhileACameraDeliversNothingKeepsItsEarlierFrozenFrame) {
    Stream();
    wcam_shot();
    Fetch();
    m_cameras.ServeNothing(2);
    const cv::Scalar later(77, 66, 55);
    for (int i : {0, 1, 3}) m_cameras.Serve(i, CScriptedUpperCameras::Frame(later));
    ASSERT_TRUE(m_cameras.WaitForFreshReads());
    wcam_shot();
    EXPECT_EQ(At(Frozen(2), 0, 0), Colour(CScriptedUpperCameras::DefaultColour(2)));
    for (int i : {0, 1, 3}) EXPECT_EQ(At(Frozen(i), 0, 0), Colour(later)) << "camera " << i;
    const cv::Mat mosaic = Fetch();
    EXPECT_EQ(Differing(mosaic(kQuarter[2]), CScriptedUpperCameras::DefaultColour(2)), 0);
    EXPECT_EQ(Differing(mosaic(kQuarter[0]), later), 0);
}

TEST_F(UpperCameras, ACameraThatNeverDeliveredLeavesItsQuarterBlack) {
    m_cameras.ServeNothing(3);
    CStdStreamCapture capture;
    Stream();
    wcam_shot();
    capture.Stop();
    EXPECT_TRUE(Frozen(3).empty());
    const cv::Mat mosaic = Fetch();
    EXPECT_EQ(cv::countNonZero(mosaic(kQuarter[3]).reshape(1)), 0);
    EXPECT_EQ(Differing(mosaic(kQuarter[0]), CScriptedUpperCameras::DefaultColour(0)), 0);
    EXPECT_EQ(capture.Err(), "") << "an empty camera is no error";
}

TEST_F(UpperCameras, FramesOfAnySizeOrTypeNeverBreakTheShot) {
    m_cameras.Serve(0, cv::Mat(1, 1280, CV_8UC3, cv::Scalar(1, 2, 3)));
    m_cameras.Serve(1, cv::Mat(720, 1280, CV_8UC1, cv::Scalar(9)));
    m_cameras.Serve(2, cv::Mat(2, 2, CV_8UC3, cv::Scalar(4, 5, 6)));
    m_cameras.Serve(3, cv::Mat(480, 640, CV_8UC3, cv::Scalar(7, 8, 9)));
    CStdStreamCapture capture;
    Stream();
    wcam_shot();
    capture.Stop();
    const cv::Mat mosaic = Fetch();
    EXPECT_EQ(Differing(mosaic(kQuarter[0]), cv::Scalar(1, 2, 3)), 0);
    EXPECT_EQ(cv::countNonZero(mosaic(kQuarter[1]).reshape(1)), 0) << "a grey frame is skipped";
    EXPECT_EQ(Differing(mosaic(kQuarter[2]), cv::Scalar(4, 5, 6)), 0);
    EXPECT_EQ(Differing(mosaic(kQuarter[3]), cv::Scalar(7, 8, 9)), 0);
    EXPECT_NE(capture.Err().find("[ERROR] "), std::string::npos);
}

TEST_F(UpperCameras, AMissingLinkFailsTheOpenBeforeAnyCameraOpens) {
    auto links = m_cameras.Links();
    fs::remove(links[2]);
    CStdStreamCapture capture;
    EXPECT_FALSE(wcam_OpenPaths(links));
    capture.Stop();
    EXPECT_EQ(capture.Out(), "[INFO] : " + fs::canonical(links[0]).string() +
                                 "\n[INFO] : " + fs::canonical(links[1]).string() +
                                 "\n[INFO] : \n[INFO] : 符号链接解析失败\n");
    EXPECT_EQ(capture.Err(), "realpath: No such file or directory\n");
    EXPECT_EQ(m_cameras.Opens(), 0);
}

TEST_F(UpperCameras, APathLongerThanTheResolveBufferIsUnresolved) {
    auto links = m_cameras.Links();
    links[0] = "/" + std::string(5000, 'a');
    CStdStreamCapture capture;
    EXPECT_FALSE(wcam_OpenPaths(links));
    capture.Stop();
    EXPECT_EQ(capture.Out().find("[INFO] : \n[INFO] : 符号链接解析失败\n"), 0u);
    EXPECT_EQ(m_cameras.Opens(), 0);
}

TEST_F(UpperCameras, ARefusedOpenFailsWithTheDeviceLine) {
    m_cameras.RefuseOpen(1);
    CStdStreamCapture capture;
    EXPECT_FALSE(wcam_OpenPaths(m_cameras.Links()));
    capture.Stop();
    EXPECT_EQ(capture.Err(),
              "错误：无法打开摄像头设备：" + fs::canonical(m_cameras.Links()[1]).string() + "\n");
    EXPECT_EQ(m_cameras.Opens(), 1) << "camera 0 stays open until the close";
}

TEST_F(UpperCameras, CloseDuringTheWarmUpWaitsForOneReadOnly) {
    m_cameras.Hold(0);
    ASSERT_TRUE(wcam_OpenPaths(m_cameras.Links()));
    ASSERT_TRUE(wcam_StartStreaming());
    ASSERT_TRUE(m_cameras.WaitUntilHeld(0));
    std::thread closer([] { wcam_Close(); });
    // The close has cleared the run flag and waits for the held read.
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (m_wcamThreadState && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    ASSERT_FALSE(m_wcamThreadState);
    m_cameras.Let(0);
    closer.join();
    EXPECT_EQ(m_cameras.Reads(0), 1u) << "the warm-up stops at the run flag";
}

TEST_F(UpperCameras, AFailedThreadStartStopsWhatRanAndReportsTheCamera) {
    pthread_attr_t saved;
    ASSERT_EQ(pthread_getattr_default_np(&saved), 0);
    pthread_attr_t huge;
    pthread_attr_init(&huge);
    // A stack no machine can map: every thread creation with default attributes fails.
    ASSERT_EQ(pthread_attr_setstacksize(&huge, size_t{1} << 44), 0);
    ASSERT_TRUE(wcam_OpenPaths(m_cameras.Links()));
    ASSERT_EQ(pthread_setattr_default_np(&huge), 0);
    CStdStreamCapture capture;
    const bool started = wcam_StartStreaming();
    capture.Stop();
    ASSERT_EQ(pthread_setattr_default_np(&saved), 0);
    pthread_attr_destroy(&huge);
    pthread_attr_destroy(&saved);
    EXPECT_FALSE(started);
    EXPECT_NE(capture.Err().find("创建相机0线程失败\n"), std::string::npos) << capture.Err();
    EXPECT_FALSE(m_wcamThreadState);
    // Streaming can start afterwards.
    ASSERT_TRUE(wcam_StartStreaming());
    EXPECT_TRUE(m_cameras.WaitForReads(3, 1));
}

// OpenCV's real V4L2 back end, with no video device on this machine.
TEST(UpperCamerasV4l2, ADanglingLinkAndARegularFileFailWithTheirMessages) {
    const std::string dir = TempFolder();
    ASSERT_FALSE(dir.empty());
    std::array<std::string, CAMERA_NUM> links;
    for (int i = 0; i < CAMERA_NUM; ++i) {
        const std::string target = dir + "/file" + std::to_string(i);
        std::ofstream(target) << "not a video device\n";
        links[i] = dir + "/wcam" + std::to_string(i + 1);
        fs::create_symlink(target, links[i]);
    }
    {
        CStdStreamCapture capture;
        EXPECT_FALSE(wcam_OpenPaths(links));
        capture.Stop();
        EXPECT_NE(capture.Err().find("错误：无法打开摄像头设备：" + dir + "/file0\n"),
                  std::string::npos)
            << capture.Err();
        EXPECT_EQ(capture.Out().find("符号链接解析失败"), std::string::npos);
    }
    wcam_Close();
    fs::remove(dir + "/file0");
    {
        CStdStreamCapture capture;
        EXPECT_FALSE(wcam_OpenPaths(links));
        capture.Stop();
        EXPECT_NE(capture.Out().find("[INFO] : \n[INFO] : 符号链接解析失败\n"), std::string::npos);
        EXPECT_NE(capture.Err().find("realpath: No such file or directory\n"), std::string::npos);
    }
    wcam_Close();
    fs::remove_all(dir);
}

// OpenCV's image-sequence reader behind the seam: the real VideoCapture read path.
TEST(UpperCamerasImageSequence, TheShotShowsEachCameraFromItsPngFrames) {
    ForgetShots();
    const std::string dir = TempFolder();
    ASSERT_FALSE(dir.empty());
    std::array<std::string, CAMERA_NUM> links;
    for (int i = 0; i < CAMERA_NUM; ++i)
        links[i] = CImageSequenceFrameSource::WriteSequence(
            dir, i, CScriptedUpperCameras::Frame(CScriptedUpperCameras::DefaultColour(i)), 3);
    wcam_SetFrameSourceFactory([] { return std::make_unique<CImageSequenceFrameSource>(); });
    ASSERT_TRUE(wcam_OpenPaths(links));
    ASSERT_TRUE(wcam_StartStreaming());
    // Every camera has a newest frame.
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    for (int i = 0; i < CAMERA_NUM; ++i) {
        for (;;) {
            {
                std::lock_guard<std::mutex> lock(m_frameMutexes[i]);
                if (!m_wCameraFrames[i].empty()) break;
            }
            ASSERT_LT(std::chrono::steady_clock::now(), deadline);
            std::this_thread::sleep_for(2ms);
        }
    }
    wcam_shot();
    std::vector<uint8_t> bytes(kMosaicBytes);
    ASSERT_TRUE(wcam_FetchPreview(bytes.data()));
    const cv::Mat mosaic(kMosaicHeight, kMosaicWidth, CV_8UC3, bytes.data());
    for (int i = 0; i < CAMERA_NUM; ++i)
        EXPECT_EQ(Differing(mosaic(kQuarter[i]), CScriptedUpperCameras::DefaultColour(i)), 0)
            << "camera " << i;
    wcam_Close();
    wcam_SetFrameSourceFactory(nullptr);
    ForgetShots();
    fs::remove_all(dir);
}

}  // namespace
