// The sole camera's image steps and the saved sole image, on synthetic images: the crop and
// rotation, the contact detector as a table of count sequences, the contrast stretch, the
// measurements on exact 1774x4134 images, and the ruler of the saved image.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "Qvcam.h"
#include "StdStreamCapture.h"

namespace {

namespace fs = std::filesystem;

TEST(ProcessImage, TheUprightImageIsTheFrameTurned) {
    std::vector<uint8_t> frame(1280 * 1024);
    for (int r = 0; r < 1024; ++r)
        for (int c = 0; c < 1280; ++c) frame[r * 1280 + c] = static_cast<uint8_t>(r * 7 + c * 3);
    std::vector<uint8_t> upright(kSoleBytes, 0);
    qvcam_processImage(frame.data(), 1280, 1024, 40, 252, 1200, 520, false, upright.data());
    int wrong = 0;
    for (int y = 0; y < 1200; ++y)
        for (int x = 0; x < 520; ++x)
            wrong += upright[y * 520 + x] != frame[(252 + x) * 1280 + (1239 - y)];
    EXPECT_EQ(wrong, 0);

    // The other mirror: the column order reversed instead of the rows.
    qvcam_processImage(frame.data(), 1280, 1024, 40, 252, 1200, 520, true, upright.data());
    wrong = 0;
    for (int y = 0; y < 1200; ++y)
        for (int x = 0; x < 520; ++x)
            wrong += upright[y * 520 + x] != frame[(252 + 519 - x) * 1280 + (40 + y)];
    EXPECT_EQ(wrong, 0);

    // A rectangle outside the frame is not cut.
    std::vector<uint8_t> untouched(kSoleBytes, 0xAB);
    qvcam_processImage(frame.data(), 1280, 771, 40, 252, 1200, 520, false, untouched.data());
    qvcam_processImage(frame.data(), 1200, 1024, 40, 252, 1200, 520, false, untouched.data());
    EXPECT_EQ(untouched, std::vector<uint8_t>(kSoleBytes, 0xAB));
}

// Draws `count` contact pixels (255) row by row into the detector's window of one half.
void Fill(std::vector<uint8_t>& image, int count, int firstRow) {
    for (int i = 0; i < count; ++i) image[(firstRow + i / 400) * 520 + 60 + i % 400] = 255;
}

struct Counts {
    int upper, lower;
};

struct DetectorCase {
    const char* name;
    std::vector<Counts> frames;
    std::vector<int> shots;  // frames that fire
};

void PrintTo(const DetectorCase& c, std::ostream* os) {
    *os << c.name;
}

class Detector : public ::testing::TestWithParam<DetectorCase> {};

TEST_P(Detector, FiresOnTheFramesOfFullContact) {
    const DetectorCase& c = GetParam();
    qvcam_ResetDetector();
    std::vector<int> shots;
    CStdStreamCapture capture;
    for (size_t i = 0; i < c.frames.size(); ++i) {
        std::vector<uint8_t> image(kSoleBytes, 59);  // just below contact
        Fill(image, c.frames[i].upper, 80);
        Fill(image, c.frames[i].lower, 600);
        // Contact outside the windows never counts.
        for (int y : {79, 1120}) image[y * 520 + 200] = 255;
        for (int x : {59, 460}) image[300 * 520 + x] = image[900 * 520 + x] = 255;
        if (qvcam_DetectFullContact(image.data(), 520, 1200)) shots.push_back(static_cast<int>(i));
    }
    capture.Stop();
    EXPECT_EQ(shots, c.shots);
    size_t logged = 0;
    for (size_t at = 0; (at = capture.Out().find("[INFO] : 抓拍\n", at)) != std::string::npos; ++at)
        ++logged;
    EXPECT_EQ(logged, c.shots.size());
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, Detector,
    ::testing::Values(
        DetectorCase{"HeelFirstThenTheHeelLifts", {{0, 101}, {1001, 150}, {1001, 140}}, {2}},
        DetectorCase{"AHeelOf101Starts", {{0, 101}, {1001, 90}}, {1}},
        DetectorCase{"AHeelOf100DoesNotStart", {{0, 100}, {1001, 90}}, {}},
        DetectorCase{"AnUpperCountOf1000IsNotEnough",
                     {{0, 101}, {1000, 150}, {1000, 140}, {1001, 130}},
                     {3}},
        DetectorCase{
            "TwoEmptyFramesKeepTheEvent", {{0, 500}, {0, 0}, {0, 0}, {1001, 100}, {1001, 50}}, {4}},
        DetectorCase{"ThreeEmptyFramesAbandonIt",
                     {{0, 500}, {0, 0}, {0, 0}, {0, 0}, {1001, 100}, {1001, 50}},
                     {}},
        DetectorCase{"NoSecondShotUntilBothHalvesEmpty",
                     {{0, 101},
                      {1001, 150},
                      {1001, 140},
                      {1001, 130},
                      {300, 100},
                      {201, 0},
                      {1001, 120},
                      {200, 200},
                      {0, 250},
                      {1001, 240}},
                     {2, 9}},
        DetectorCase{
            "ForefootFirstThenTheForefootLifts", {{101, 0}, {150, 1001}, {140, 1001}}, {2}},
        DetectorCase{"ADecreaseWithoutTheOtherHalfIsNoShot", {{0, 500}, {0, 400}, {0, 300}}, {}}),
    [](const ::testing::TestParamInfo<DetectorCase>& info) {
        return std::string(info.param.name);
    });

TEST(Stretch, SpreadsTheRangeTruncatingAndKeepsAFlatImage) {
    struct Case {
        std::vector<uint8_t> in, out;
    };
    const Case cases[] = {
        {{10, 20, 15, 10}, {0, 255, 127, 0}},
        {{0, 254, 127, 1}, {0, 255, 127, 1}},  // 127 x 255/254 = 127.5: truncated, not rounded
        {{77, 77, 77, 77}, {77, 77, 77, 77}},
        {{0, 255, 128, 3}, {0, 255, 128, 3}},
    };
    for (const Case& c : cases) {
        // Long enough for the vector loop and its tail.
        std::vector<uint8_t> in, expected;
        for (int r = 0; r < 9; ++r) {
            in.insert(in.end(), c.in.begin(), c.in.end());
            expected.insert(expected.end(), c.out.begin(), c.out.end());
        }
        std::vector<uint8_t> out(in.size(), 0xEE);
        qvcam_ContrastStretchingAuto(in.data(), out.data(), static_cast<int>(in.size()), 1);
        EXPECT_EQ(out, expected);
    }
}

struct Measures {
    int score, length, front, back;
    bool operator==(const Measures&) const = default;
};

void PrintTo(const Measures& m, std::ostream* os) {
    *os << "(" << m.score << ", " << m.length << ", " << m.front << ", " << m.back << ")";
}

struct Block {
    cv::Rect rect;
    int value;
};

struct AnalysisCase {
    const char* name;
    std::vector<Block> blocks;
    Measures expected;
};

// Rectangles in full-image coordinates of the 1774x4134 saved impression.
cv::Rect Span(int x0, int x1, int y0, int y1) {
    return cv::Rect(x0, y0, x1 - x0, y1 - y0);
}

TEST(Analysis, MeasuresExactImages) {
    const AnalysisCase cases[] = {
        {"black", {}, {-89, -342, -142, -142}},
        {"rectangle", {{Span(540, 1240, 540, 3540), 255}}, {91, 254, 59, 59}},
        {"wide upper, narrow lower",
         {{Span(400, 1300, 500, 2067), 255}, {Span(600, 1100, 2067, 3600), 255}},
         {94, 262, 76, 42}},
        {"narrow upper, wide lower",
         {{Span(600, 1100, 500, 2067), 255}, {Span(400, 1300, 2067, 3600), 255}},
         {94, 262, 76, 42}},
        {"lower half only", {{Span(600, 1100, 2500, 3600), 255}}, {-4, -41, 42, -142}},
        {"all white", {{Span(0, 1774, 0, 4134), 255}}, {100, 343, 143, 143}},
        {"a column 6 pixels wide", {{Span(800, 806, 600, 3000), 255}}, {53, 203, 1, 1}},
        {"a column 5 pixels wide", {{Span(800, 805, 600, 3000), 255}}, {53, 203, 0, 0}},
        {"a value of 20 is background",
         {{Span(540, 1240, 540, 3540), 20}},
         {-89, -342, -142, -142}},
        {"a value of 21 is impression", {{Span(540, 1240, 540, 3540), 21}}, {91, 254, 59, 59}},
        {"the border is left out",
         {{Span(0, 1774, 0, 40), 255}, {Span(1734, 1774, 0, 4134), 255}},
         {-89, -342, -142, -142}},
    };
    for (const AnalysisCase& c : cases) {
        SCOPED_TRACE(c.name);
        cv::Mat image(4134, 1774, CV_8UC1, cv::Scalar(0));
        for (const Block& b : c.blocks) image(b.rect).setTo(cv::Scalar(b.value));
        Measures m{1000, 1000, 1000, 1000};
        EXPECT_EQ(qvcam_Analysis(image, &m.length, &m.front, &m.back, &m.score), 1);
        EXPECT_EQ(m, c.expected);
    }
}

TEST(Analysis, AnImageWithNothingInsideItsBorderIsRefused) {
    Measures m{7, 7, 7, 7};
    EXPECT_EQ(qvcam_Analysis(cv::Mat(80, 500, CV_8UC1, cv::Scalar(255)), &m.length, &m.front,
                             &m.back, &m.score),
              -1);
    EXPECT_EQ(qvcam_Analysis(cv::Mat(4134, 1774, CV_8UC3, cv::Scalar(255)), &m.length, &m.front,
                             &m.back, &m.score),
              -1);
    EXPECT_EQ(m, (Measures{7, 7, 7, 7}));
}

// The saved sole image of the published image, which is black before any foot.
class SoleImage : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/qv-sole-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
    }
    void TearDown() override { fs::remove_all(m_dir); }

    cv::Mat Save(int dir) {
        std::string path = m_dir + "/shoe" + std::to_string(dir) + ".png";
        Measures m{};
        CStdStreamCapture capture;
        EXPECT_TRUE(qvcam_save(path.data(), dir, &m.length, &m.front, &m.back, &m.score));
        capture.Stop();
        EXPECT_EQ(capture.Out(), "[INFO] : qvcam_save\n[INFO] : 图像保存成功: " + path + "\n");
        EXPECT_EQ(m, (Measures{-89, -342, -142, -142}));
        return cv::imread(path, cv::IMREAD_UNCHANGED);
    }

    std::string m_dir;
};

const cv::Vec3b kYellow(0, 255, 255), kBlue(255, 0, 0), kBlack(0, 0, 0);

struct Tick {
    int mm, row, length;
};
const Tick kTicks[] = {{0, 0, 60},      {1, 11, 10},     {5, 59, 35},
                       {10, 118, 60},   {35, 413, 35},   {100, 1181, 60},
                       {254, 3000, 10}, {349, 4122, 10}, {350, 4133, 60}};

// Whether a dark glyph pixel lies in the box [x, x + w) x [y - h, y).
bool DarkIn(const cv::Mat& canvas, int x, int y, int w, int h) {
    for (int r = std::max(0, y - h); r < std::min(canvas.rows, y); ++r)
        for (int c = x; c < x + w; ++c)
            if (canvas.at<cv::Vec3b>(r, c) == kBlack) return true;
    return false;
}

TEST_F(SoleImage, TheRulerStandsRightOfTheImpressionForSide0) {
    const cv::Mat canvas = Save(0);
    ASSERT_EQ(canvas.size(), cv::Size(1934, 4134));
    ASSERT_EQ(canvas.type(), CV_8UC3);
    const int s = 1774;
    for (const Tick& t : kTicks) {
        SCOPED_TRACE("mm " + std::to_string(t.mm));
        for (int x = s; x < s + t.length; ++x) EXPECT_EQ(canvas.at<cv::Vec3b>(t.row, x), kBlue);
        EXPECT_EQ(canvas.at<cv::Vec3b>(t.row, s + t.length + 2), kYellow);
    }
    // Between the ticks the strip is yellow, and the impression (black, no foot) stays black.
    EXPECT_EQ(canvas.at<cv::Vec3b>(5, 1933), kYellow);
    EXPECT_EQ(canvas.at<cv::Vec3b>(2000, 1800), kYellow);
    EXPECT_EQ(canvas.at<cv::Vec3b>(2000, 1773), kBlack);
    // (The centimetre ticks, 2 pixels thick, end one pixel into the impression.)
    EXPECT_EQ(cv::countNonZero(canvas(cv::Rect(0, 0, 1773, 4134)).reshape(1)), 0);
    // Labels: "0" at its own height below the top, "35" at row 4129.
    int base = 0;
    const cv::Size zero = cv::getTextSize("0", cv::FONT_HERSHEY_SIMPLEX, 1.0, 2, &base);
    const cv::Size five = cv::getTextSize("35", cv::FONT_HERSHEY_SIMPLEX, 1.0, 2, &base);
    EXPECT_TRUE(
        DarkIn(canvas, s + 90 + (100 - zero.width) / 10, zero.height, zero.width, zero.height));
    EXPECT_TRUE(DarkIn(canvas, s + 90 + (100 - five.width) / 10, 4129, five.width, five.height));
    EXPECT_FALSE(
        DarkIn(canvas, s + 90 + (100 - five.width) / 10, 4129 - five.height, five.width, 10))
        << "the label 35 drawn too high";
}

TEST_F(SoleImage, TheRulerStandsLeftOfTheImpressionForSide1) {
    const cv::Mat canvas = Save(1);
    ASSERT_EQ(canvas.size(), cv::Size(1934, 4134));
    for (const Tick& t : kTicks) {
        SCOPED_TRACE("mm " + std::to_string(t.mm));
        for (int x = 160 - t.length; x < 160; ++x) EXPECT_EQ(canvas.at<cv::Vec3b>(t.row, x), kBlue);
        EXPECT_EQ(canvas.at<cv::Vec3b>(t.row, 160 - t.length - 2), kYellow);
    }
    EXPECT_EQ(canvas.at<cv::Vec3b>(2000, 0), kYellow);
    EXPECT_EQ(canvas.at<cv::Vec3b>(2000, 161), kBlack);
    EXPECT_EQ(cv::countNonZero(canvas(cv::Rect(162, 0, 1772, 4134)).reshape(1)), 0);
    int base = 0;
    const cv::Size five = cv::getTextSize("35", cv::FONT_HERSHEY_SIMPLEX, 1.0, 2, &base);
    EXPECT_TRUE(
        DarkIn(canvas, 90 - (100 + five.width) / 10 - five.width, 4129, five.width, five.height));
}

TEST_F(SoleImage, AFileThatCannotBeWrittenIsAnErrorWithTheMeasurementsFilled) {
    for (const std::string name : {"/missing/shoe.png", "/shoe.unknown"}) {
        std::string path = m_dir + name;
        Measures m{};
        CStdStreamCapture capture;
        EXPECT_FALSE(qvcam_save(path.data(), 0, &m.length, &m.front, &m.back, &m.score));
        capture.Stop();
        EXPECT_EQ(m, (Measures{-89, -342, -142, -142}));
        EXPECT_EQ(capture.Out(), "[INFO] : qvcam_save\n") << "no success line";
        EXPECT_NE(capture.Err().find("[ERROR] "), std::string::npos);
        EXPECT_FALSE(fs::exists(path));
    }
}

}  // namespace
