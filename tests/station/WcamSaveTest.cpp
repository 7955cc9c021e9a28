// The saved upper views: the full-resolution lens correction of views 1 and 3 (source points of
// landmark destinations, the fixed lens centre, no black inside the cut), the cut and stretch of
// views 0 and 2, the group image, and the refusals (a camera not frozen, frames too small, a
// name without an image format, a folder that does not exist). Written as PNG, so pixels are
// exact.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "StdStreamCapture.h"
#include "Wcam.h"

namespace {

namespace fs = std::filesystem;

void Freeze(const std::vector<cv::Mat>& frames) {
    std::lock_guard<std::mutex> lock(m_shotMutex);
    for (int i = 0; i < CAMERA_NUM; ++i)
        m_shotFrames[i] = i < static_cast<int>(frames.size()) ? frames[i].clone() : cv::Mat();
}

int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size()) ++n;
    return n;
}

class SavedViews : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/qv-wcam-save-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        Name("view1.png", "view2.png", "view3.png", "view4.png", "view.png");
    }
    void TearDown() override {
        Freeze({});
        fs::remove_all(m_dir);
    }

    void Name(const char* v1, const char* v2, const char* v3, const char* v4, const char* group,
              const std::string& dir = "") {
        const std::string base = dir.empty() ? m_dir : dir;
        const char* names[CAMERA_NUM] = {v1, v2, v3, v4};
        for (int i = 0; i < CAMERA_NUM; ++i)
            std::snprintf(m_views[i], sizeof m_views[i], "%s/%s", base.c_str(), names[i]);
        std::snprintf(m_group, sizeof m_group, "%s/%s", base.c_str(), group);
    }

    bool Save() { return wcam_save(m_views, m_group); }
    cv::Mat View(int i) const { return cv::imread(m_views[i], cv::IMREAD_UNCHANGED); }
    cv::Mat Group() const { return cv::imread(m_group, cv::IMREAD_UNCHANGED); }
    size_t Files() const {
        return static_cast<size_t>(std::distance(fs::directory_iterator(m_dir), {}));
    }

    std::string m_dir;
    char m_views[4][260] = {};
    char m_group[260] = {};
};

const cv::Size kFrame(1280, 720);

cv::Mat Uniform(const cv::Scalar& colour, cv::Size size = kFrame) {
    return cv::Mat(size, CV_8UC3, colour);
}

// Destination points of the corrected 1280x720 frame and the source points they sample.
struct Landmark {
    int c, r;
    double sx, sy;
};

TEST(SaveCorrection, DestinationsSampleTheirSourcePoints) {
    const Landmark landmarks[] = {
        {100, 65, 186.0, 110.0},    {1130, 65, 1076.7, 96.3}, {100, 644, 188.0, 596.5},
        {1130, 644, 1074.6, 610.4}, {645, 65, 645.0, 7.7},    {645, 350, 645.0, 350.0},
    };
    for (const Landmark& l : landmarks) {
        SCOPED_TRACE(std::to_string(l.c) + "," + std::to_string(l.r));
        // Ramps of slope 1 around the expected source point: bilinear sampling reproduces them,
        // so the sample tells where it was taken (blue: column, green: row, offset 128).
        const int px = static_cast<int>(l.sx), py = static_cast<int>(l.sy);
        cv::Mat frame = Uniform(cv::Scalar(0, 0, 0));
        for (int y = std::max(0, py - 60); y < std::min(720, py + 60); ++y)
            for (int x = std::max(0, px - 60); x < std::min(1280, px + 60); ++x)
                frame.at<cv::Vec3b>(y, x) = cv::Vec3b(static_cast<uint8_t>(x - px + 128),
                                                      static_cast<uint8_t>(y - py + 128), 1);
        cv::Mat corrected;
        wcam_CorrectRectForSave(frame, corrected, -5, 10, 100, 65, 1.1f);
        ASSERT_EQ(corrected.size(), cv::Size(1031, 580));
        const cv::Vec3b v = corrected.at<cv::Vec3b>(l.r - 65, l.c - 100);
        ASSERT_EQ(v[2], 1) << "sampled outside the ramp";
        EXPECT_NEAR(v[0] - 128 + px, l.sx, 1.0);
        EXPECT_NEAR(v[1] - 128 + py, l.sy, 1.0);
    }
}

TEST(SaveCorrection, TheLensCentreStaysFixed) {
    // The destination (645, 350) samples the source at the same point: a 1-pixel dot there is
    // reproduced exactly, and nothing next to it.
    cv::Mat frame = Uniform(cv::Scalar(0, 0, 0));
    frame.at<cv::Vec3b>(350, 645) = cv::Vec3b(200, 100, 50);
    cv::Mat corrected;
    wcam_CorrectRectForSave(frame, corrected, -5, 10, 100, 65, 1.1f);
    EXPECT_EQ(corrected.at<cv::Vec3b>(350 - 65, 645 - 100), cv::Vec3b(200, 100, 50));
    EXPECT_EQ(cv::countNonZero(corrected.reshape(1)), 3);
}

TEST(SaveCorrection, ReusedMapsGiveTheSameImage) {
    cv::Mat ramp(kFrame, CV_8UC3);
    cv::randu(ramp, 0, 256);
    cv::Mat first, other, again;
    wcam_CorrectRectForSave(ramp, first, -5, 10, 100, 65, 1.1f);
    wcam_CorrectRectForSave(Uniform(cv::Scalar(9, 9, 9), cv::Size(1300, 700)), other, -5, 10, 100,
                            65, 1.1f);
    wcam_CorrectRectForSave(ramp, again, -5, 10, 100, 65, 1.1f);
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(cv::norm(first, again, cv::NORM_INF), 0);
    // Another frame size or centre has its own source points.
    wcam_CorrectRectForSave(ramp, other, -4, 10, 100, 65, 1.1f);
    EXPECT_GT(cv::norm(first, other, cv::NORM_INF), 0);
}

TEST(SaveCorrection, FramesThatCannotGiveTheRectangleGiveNothing) {
    cv::Mat view(5, 5, CV_8UC3);
    wcam_OnCorrectMiddleForSave(Uniform(cv::Scalar(1, 1, 1), cv::Size(1130, 720)), view, -5, 10,
                                100, 65, 1.1f);
    EXPECT_TRUE(view.empty());
    wcam_OnCorrectMiddleForSave(cv::Mat(720, 1280, CV_8UC1, cv::Scalar(1)), view, -5, 10, 100, 65,
                                1.1f);
    EXPECT_TRUE(view.empty());
    wcam_OnCorrectMiddleForSave(Uniform(cv::Scalar(1, 1, 1), cv::Size(1131, 645)), view, -5, 10,
                                100, 65, 1.1f);
    EXPECT_EQ(view.size(), cv::Size(1280, 720));
}

TEST_F(SavedViews, AUniformFrameGivesCorrectedViewsWithoutBlack) {
    Freeze({Uniform(cv::Scalar(200, 150, 100)), Uniform(cv::Scalar(200, 150, 100)),
            Uniform(cv::Scalar(200, 150, 100)), Uniform(cv::Scalar(200, 150, 100))});
    ASSERT_TRUE(Save());
    for (int i : {1, 3}) {
        const cv::Mat view = View(i);
        ASSERT_EQ(view.size(), cv::Size(1280, 720));
        cv::Mat low, high;
        cv::inRange(view, cv::Scalar(199, 149, 99), cv::Scalar(200, 150, 100), low);
        EXPECT_EQ(cv::countNonZero(low), 1280 * 720) << "view " << i;
    }
}

TEST_F(SavedViews, PlainViewsCutAndStretchTheFrame) {
    cv::Mat zero = Uniform(cv::Scalar(0, 0, 0));
    zero(cv::Rect(660, 360, 110, 100)).setTo(cv::Scalar(255, 255, 255));
    cv::Mat two = Uniform(cv::Scalar(0, 0, 0));
    two.at<cv::Vec3b>(60, 110) = cv::Vec3b(255, 128, 64);
    Freeze({zero, Uniform(cv::Scalar(1, 2, 3)), two, Uniform(cv::Scalar(1, 2, 3))});
    ASSERT_TRUE(Save());
    const cv::Mat v0 = View(0);
    ASSERT_EQ(v0.size(), cv::Size(1280, 720));
    // Columns [660, 770) land at [640, 768): 1280/1100; rows [360, 460) at [360, 480): 720/600.
    std::vector<int> cols, rows;
    for (int x = 0; x < 1280; ++x)
        if (v0.at<cv::Vec3b>(420, x)[0] > 127) cols.push_back(x);
    for (int y = 0; y < 720; ++y)
        if (v0.at<cv::Vec3b>(y, 700)[0] > 127) rows.push_back(y);
    ASSERT_FALSE(cols.empty());
    ASSERT_FALSE(rows.empty());
    EXPECT_NEAR(cols.front(), 640, 1);
    EXPECT_NEAR(cols.back() + 1, 768, 1);
    EXPECT_NEAR(rows.front(), 360, 1);
    EXPECT_NEAR(rows.back() + 1, 480, 1);
    // The cut's corner (110, 60) is the view's first pixel.
    EXPECT_EQ(View(2).at<cv::Vec3b>(0, 0), cv::Vec3b(255, 128, 64));
}

TEST_F(SavedViews, TheGroupImageHoldsTheFourViewsAndTheCentreDotStaysNearTheMiddle) {
    cv::Mat one = Uniform(cv::Scalar(0, 0, 0));
    one(cv::Rect(644, 349, 3, 3)).setTo(cv::Scalar(255, 255, 255));
    cv::Mat noise[CAMERA_NUM];
    for (cv::Mat& n : noise) {
        n.create(kFrame, CV_8UC3);
        cv::randu(n, 0, 256);
    }
    Freeze({noise[0], one, noise[2], noise[3]});
    ASSERT_TRUE(Save());
    const cv::Mat group = Group();
    ASSERT_EQ(group.size(), cv::Size(2560, 1440));
    const cv::Rect places[CAMERA_NUM] = {
        {0, 0, 1280, 720}, {1280, 0, 1280, 720}, {0, 720, 1280, 720}, {1280, 720, 1280, 720}};
    for (int i = 0; i < CAMERA_NUM; ++i)
        EXPECT_EQ(cv::norm(group(places[i]), View(i), cv::NORM_INF), 0) << "view " << i;
    // The lens centre (645, 350) becomes (645 - 100) x 1280/1031, (350 - 65) x 720/580 of the
    // saved view: about (676.6, 353.8).
    const cv::Mat v1 = View(1);
    EXPECT_GT(v1.at<cv::Vec3b>(354, 677)[0], 127);
    EXPECT_EQ(v1.at<cv::Vec3b>(354, 690)[0], 0);
    EXPECT_EQ(v1.at<cv::Vec3b>(365, 677)[0], 0);
}

TEST_F(SavedViews, NothingIsWrittenUntilEveryCameraIsFrozen) {
    Freeze(
        {Uniform(cv::Scalar(1, 1, 1)), Uniform(cv::Scalar(1, 1, 1)), Uniform(cv::Scalar(1, 1, 1))});
    CStdStreamCapture capture;
    EXPECT_TRUE(Save());
    capture.Stop();
    EXPECT_EQ(Files(), 0u);
    EXPECT_EQ(capture.Out() + capture.Err(), "");
}

// Frames of each camera and whether they give their views.
struct SizeCase {
    cv::Size plain;      // cameras 0 and 2
    cv::Size corrected;  // cameras 1 and 3
    bool saved;
};

TEST_F(SavedViews, FramesTooSmallForTheirCutsAreRefusedWhole) {
    const SizeCase cases[] = {
        {{1210, 660}, {1131, 645}, true},   {{1209, 660}, {1280, 720}, false},
        {{1210, 659}, {1280, 720}, false},  {{1280, 720}, {1130, 645}, false},
        {{1280, 720}, {1131, 644}, false},  {{640, 480}, {640, 480}, false},
        {{1920, 1080}, {1920, 1080}, true},
    };
    for (const SizeCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.plain.width) + "x" + std::to_string(c.plain.height) + ", " +
                     std::to_string(c.corrected.width) + "x" + std::to_string(c.corrected.height));
        fs::remove_all(m_dir);
        fs::create_directory(m_dir);
        Freeze({Uniform(cv::Scalar(5, 6, 7), c.plain), Uniform(cv::Scalar(5, 6, 7), c.corrected),
                Uniform(cv::Scalar(5, 6, 7), c.plain), Uniform(cv::Scalar(5, 6, 7), c.corrected)});
        CStdStreamCapture capture;
        EXPECT_EQ(Save(), c.saved);
        capture.Stop();
        EXPECT_EQ(Files(), c.saved ? 5u : 0u);
        EXPECT_EQ(Count(capture.Err(), "[ERROR] "), c.saved ? 0 : 1) << capture.Err();
    }
}

TEST_F(SavedViews, AGreyFrameIsRefused) {
    Freeze({Uniform(cv::Scalar(1, 1, 1)), cv::Mat(720, 1280, CV_8UC1, cv::Scalar(1)),
            Uniform(cv::Scalar(1, 1, 1)), Uniform(cv::Scalar(1, 1, 1))});
    CStdStreamCapture capture;
    EXPECT_FALSE(Save());
    capture.Stop();
    EXPECT_EQ(Files(), 0u);
    EXPECT_EQ(Count(capture.Err(), "[ERROR] "), 1);
}

TEST_F(SavedViews, ANameWithoutAnImageFormatIsRefusedBeforeAnythingIsWritten) {
    Freeze({Uniform(cv::Scalar(1, 1, 1)), Uniform(cv::Scalar(1, 1, 1)),
            Uniform(cv::Scalar(1, 1, 1)), Uniform(cv::Scalar(1, 1, 1))});
    Name("view1.png", "view2.png", "view3.png", "view4", "view.png");
    CStdStreamCapture capture;
    EXPECT_FALSE(Save());
    capture.Stop();
    EXPECT_EQ(Files(), 0u);
    EXPECT_EQ(Count(capture.Err(), "[ERROR] "), 1) << capture.Err();
}

TEST_F(SavedViews, EveryFileThatCannotBeWrittenIsAnError) {
    Freeze({Uniform(cv::Scalar(1, 1, 1)), Uniform(cv::Scalar(1, 1, 1)),
            Uniform(cv::Scalar(1, 1, 1)), Uniform(cv::Scalar(1, 1, 1))});
    Name("view1.png", "view2.png", "view3.png", "view4.png", "view.png", m_dir + "/missing");
    CStdStreamCapture capture;
    EXPECT_FALSE(Save());
    capture.Stop();
    EXPECT_EQ(Count(capture.Err(), "[ERROR] "), 5) << capture.Err();
}

}  // namespace
