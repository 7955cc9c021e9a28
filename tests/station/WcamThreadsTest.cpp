// The upper cameras' threads together (also run under ThreadSanitizer): contact shots from one
// thread and preview fetches from another while the capture threads stream frames that keep
// changing; then a save while the shots go on; then a close while the shots go on.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "ScriptedUpperCameras.h"
#include "Wcam.h"

namespace {

namespace fs = std::filesystem;

// Whether every pixel of `image` is within `tolerance` of its first pixel.
bool Uniform(const cv::Mat& image, int tolerance = 0) {
    if (image.empty()) return false;
    cv::Mat diff;
    cv::absdiff(image, cv::Scalar(image.at<cv::Vec3b>(0, 0)), diff);
    double worst = 0;
    cv::minMaxLoc(diff.reshape(1), nullptr, &worst);
    return worst <= tolerance;
}

TEST(UpperCameraThreads, ShotsFetchesAndSavesWhileStreamingAndClosing) {
    // OpenCV's own worker threads synchronise out of a thread checker's sight; the station's
    // threads are what this test is about.
    cv::setNumThreads(0);
    CScriptedUpperCameras cameras;
    // Small frames while the shots and fetches run (the mosaic takes any size); full-size ones
    // for the save.
    const cv::Size small(320, 180);
    for (int i = 0; i < CAMERA_NUM; ++i)
        cameras.Serve(i, cv::Mat(small, CV_8UC3, CScriptedUpperCameras::DefaultColour(i)));
    ASSERT_TRUE(wcam_OpenPaths(cameras.Links()));
    ASSERT_TRUE(wcam_StartStreaming());
    for (int i = 0; i < CAMERA_NUM; ++i) ASSERT_TRUE(cameras.WaitForReads(i, 6));

    std::atomic<bool> done{false};
    std::atomic<int> shots{0};
    std::atomic<int> tornQuarters{0};
    std::atomic<int> fetched{0};

    std::thread shooter([&] {
        while (!done) {
            wcam_shot();
            ++shots;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    std::thread fetcher([&] {
        std::vector<uint8_t> bytes(kMosaicBytes);
        while (!done) {
            if (!wcam_FetchPreview(bytes.data())) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            ++fetched;
            const cv::Mat mosaic(kMosaicHeight, kMosaicWidth, CV_8UC3, bytes.data());
            for (int q = 0; q < CAMERA_NUM; ++q) {
                const cv::Rect r((q % 2) * kQuarterWidth, (q / 2) * kQuarterHeight, kQuarterWidth,
                                 kQuarterHeight);
                if (!Uniform(mosaic(r))) ++tornQuarters;
            }
        }
    });

    // New frames for every camera while the shots run.
    for (int g = 0; g < 4; ++g) {
        for (int i = 0; i < CAMERA_NUM; ++i)
            cameras.Serve(
                i, cv::Mat(small, CV_8UC3, cv::Scalar((g * 37 + i) % 256, (g * 11) % 256, 90 + i)));
        ASSERT_TRUE(cameras.WaitForFreshReads(1));
    }
    for (int i = 0; i < CAMERA_NUM; ++i)
        cameras.Serve(i, CScriptedUpperCameras::Frame(cv::Scalar(40 + i, 50, 60)));
    ASSERT_TRUE(cameras.WaitForFreshReads(2));
    // A shot that started after that has frozen full-size frames.
    const int fullSize = shots + 2;
    while (shots < fullSize) std::this_thread::yield();

    // A save while the shots replace the frozen frames (the capture threads held, so the
    // checker's time goes to the shot and the save).
    for (int i = 0; i < CAMERA_NUM; ++i) cameras.Hold(i);
    char pattern[] = "/tmp/qv-wcam-threads-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    char views[4][260];
    char group[260];
    for (int i = 0; i < CAMERA_NUM; ++i)
        std::snprintf(views[i], sizeof views[i], "%s/view%d.bmp", dir.c_str(), i + 1);
    std::snprintf(group, sizeof group, "%s/view.bmp", dir.c_str());
    EXPECT_TRUE(wcam_save(views, group));
    for (const char* path : views) {
        // Each view comes from one whole frozen frame (the corrected ones may lose 1).
        EXPECT_TRUE(Uniform(cv::imread(path), 1)) << path;
    }

    // Closing while the shots go on, then shots on closed cameras.
    cameras.StopWaiting();
    for (int i = 0; i < CAMERA_NUM; ++i) cameras.Let(i);
    wcam_Close();
    const int atClose = shots;
    while (shots < atClose + 2) std::this_thread::yield();
    done = true;
    shooter.join();
    fetcher.join();
    EXPECT_EQ(tornQuarters, 0);
    EXPECT_GT(fetched, 0);
    fs::remove_all(dir);
}

}  // namespace
