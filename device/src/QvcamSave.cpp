// The saved sole image (300 dpi with a millimetre ruler) and the four measurements.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "Qvcam.h"
#include "TarnLog.h"

namespace {

// 300 dots per inch.
constexpr double pixels_per_mm = 300.0 / 25.4;  // 11.811023622047244
// The published 520x1200 image covers about 150 x 350 mm of the plate.
constexpr int kSavedWidth = 1774;
constexpr int kSavedHeight = 4134;
constexpr int ruler_width = 160;
// The measurement leaves out this border.
constexpr int kBorder = 40;
// A pixel above this is part of the impression.
constexpr int kForegroundThreshold = 20;

const cv::Scalar kStripColour(0, 255, 255);  // yellow
const cv::Scalar kTickColour(255, 0, 0);     // blue
const cv::Scalar kLabelColour(0, 0, 0);

// Rounded as the measurements always were: plus one half, truncated toward zero.
int Round(double value) {
    return static_cast<int>(value + 0.5);
}

void DrawRuler(cv::Mat& canvas, int dir) {
    const int s = dir == 0 ? kSavedWidth : 0;                           // the strip's first column
    const int lastMm = static_cast<int>(kSavedHeight / pixels_per_mm);  // 350
    for (int m = 0; m <= lastMm; ++m) {
        const int y = static_cast<int>(m * pixels_per_mm);
        if (y < 0 || y >= kSavedHeight) continue;
        const int length = m % 10 == 0 ? 60 : m % 5 == 0 ? 35 : 10;
        const int thickness = m % 10 == 0 ? 2 : 1;
        // The tick starts at the strip's edge next to the impression.
        const int x0 = dir == 0 ? s : s + ruler_width - length;
        const int x1 = dir == 0 ? s + length : s + ruler_width;
        cv::line(canvas, cv::Point(x0, y), cv::Point(x1, y), kTickColour, thickness, cv::LINE_8);
        if (m % 10 != 0) continue;

        const std::string label = std::to_string(m / 10);
        int baseline = 0;
        const cv::Size size = cv::getTextSize(label, cv::FONT_HERSHEY_SIMPLEX, 1.0, 2, &baseline);
        const int w = size.width;
        const int h = size.height;
        const int x = dir == 0 ? x1 + (ruler_width - length - w) / 10 - 30 + length
                               : x0 - (ruler_width - length + w) / 10 - 10 - w;
        // Kept inside the image at both ends.
        int ty = y + 10;
        if (ty - h < 0)
            ty = h;
        else if (ty > kSavedHeight)
            ty = 4129;
        cv::putText(canvas, label, cv::Point(x, ty), cv::FONT_HERSHEY_SIMPLEX, 1.0, kLabelColour, 2,
                    cv::LINE_8);
    }
}

}  // namespace

int qvcam_Analysis(cv::Mat imageInput, int* footLongth, int* footFrontWidth, int* footBackWidth,
                   int* score) {
    if (imageInput.type() != CV_8UC1 || imageInput.cols <= 2 * kBorder ||
        imageInput.rows <= 2 * kBorder)
        return -1;
    const cv::Mat region = imageInput(
        cv::Rect(kBorder, kBorder, imageInput.cols - 2 * kBorder, imageInput.rows - 2 * kBorder));
    cv::Mat binary;
    cv::threshold(region, binary, kForegroundThreshold, 255, cv::THRESH_BINARY);

    const int rows = binary.rows;
    const int cols = binary.cols;
    const int mid = rows / 2;
    int upperLeft = cols, upperRight = 0, top = rows;
    int lowerLeft = cols, lowerRight = 0, bottom = 0;
    for (int r = 0; r < rows; ++r) {
        const uint8_t* row = binary.ptr<uint8_t>(r);
        const void* first = std::memchr(row, 255, static_cast<size_t>(cols));
        if (first == nullptr) continue;
        const int left = static_cast<int>(static_cast<const uint8_t*>(first) - row);
        const int right = static_cast<int>(
            static_cast<const uint8_t*>(memrchr(row, 255, static_cast<size_t>(cols))) - row);
        if (r < mid) {
            upperLeft = std::min(upperLeft, left);
            upperRight = std::max(upperRight, right);
            top = std::min(top, r);
        } else {
            lowerLeft = std::min(lowerLeft, left);
            lowerRight = std::max(lowerRight, right);
            bottom = std::max(bottom, r);
        }
    }

    // Without any pixel in a half these come out negative (1 - 1694 pixels wide, 1 - 4054 long):
    // the values a host receives for an empty plate.
    const double upperWidth = (upperRight - upperLeft + 1) / pixels_per_mm;
    const double lowerWidth = (lowerRight - lowerLeft + 1) / pixels_per_mm;
    const bool upperIsFront = upperWidth >= lowerWidth;
    *footFrontWidth = Round(upperIsFront ? upperWidth : lowerWidth);
    *footBackWidth = Round(upperIsFront ? lowerWidth : upperWidth);
    const double lengthPixels = bottom - top + 1;
    *footLongth = Round(lengthPixels / pixels_per_mm);

    const double foregroundShare =
        static_cast<double>(cv::countNonZero(binary)) / (static_cast<double>(rows) * cols) * 100.0;
    const double lengthShare = lengthPixels / rows * 100.0;
    *score = static_cast<int>(std::min(100.0, 0.9 * lengthShare + 0.8 * foregroundShare));
    return 1;
}

bool qvcam_save(char* XDImageFullPath, int dir, int* footLongth, int* footFrontWidth,
                int* footBackWidth, int* score) {
    TARN_LOG_INFO("qvcam_save");
    std::vector<unsigned char> copy(kSoleBytes);
    qvcam_CopyPublished(copy.data());
    try {
        const cv::Mat published(kSoleHeight, kSoleWidth, CV_8UC1, copy.data());
        cv::Mat scaled;
        cv::resize(published, scaled, cv::Size(kSavedWidth, kSavedHeight), 0, 0, cv::INTER_CUBIC);
        qvcam_Analysis(scaled, footLongth, footFrontWidth, footBackWidth, score);

        cv::Mat colour;
        cv::cvtColor(scaled, colour, cv::COLOR_GRAY2BGR);
        cv::Mat canvas = cv::Mat::zeros(kSavedHeight, kSavedWidth + ruler_width, CV_8UC3);
        const int impressionX = dir == 0 ? 0 : ruler_width;
        const int stripX = dir == 0 ? kSavedWidth : 0;
        colour.copyTo(canvas(cv::Rect(impressionX, 0, kSavedWidth, kSavedHeight)));
        canvas(cv::Rect(stripX, 0, ruler_width, kSavedHeight)).setTo(kStripColour);
        DrawRuler(canvas, dir);

        if (!cv::imwrite(XDImageFullPath, canvas)) {
            TARN_LOG_ERROR(std::string("cannot write the sole image ") + XDImageFullPath);
            return false;
        }
    } catch (const std::exception& e) {
        TARN_LOG_ERROR(std::string("cannot write the sole image ") + XDImageFullPath + ": " +
                       e.what());
        return false;
    }
    TARN_LOG_INFO(std::string("图像保存成功: ") + XDImageFullPath);
    return true;
}
