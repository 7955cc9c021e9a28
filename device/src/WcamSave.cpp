// The saved upper views: the four frozen frames at 1280x720 (views 1 and 3 lens-corrected at
// full resolution, 0 and 2 cut and scaled) and the 2x2 group image.
#include <cmath>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "TarnLog.h"
#include "Wcam.h"

namespace {

constexpr int kViewWidth = 1280;
constexpr int kViewHeight = 720;
// Views 0 and 2: this rectangle of the frame, stretched by 1280/1100 and 720/600.
const cv::Rect kPlainCut(110, 60, 1100, 600);
// Views 1 and 3: the lens centre lies 5 pixels right of and 10 above the frame's middle.
constexpr int kCorrectCx = -5;
constexpr int kCorrectCy = 10;
constexpr float kCorrectRatio = 1.1f;
constexpr int kCorrectX = 100;
constexpr int kCorrectY = 65;
constexpr int kCorrectWidth = 1031;
constexpr int kCorrectHeight = 580;

// Where each source sample of the corrected rectangle comes from. The positions depend only on
// the frame size and the correction's constants, so they are computed once for a size and kept:
// the square roots, the polynomial and the divisions are most of a correction's cost.
struct CorrectionMap {
    int cols, rows, cx, cy, x, y;
    float ratio;
    struct Sample {
        int32_t ax;  // -1: the source lies outside the frame, the pixel stays black
        int32_t ay;
        float fx;  // fractions as stored in single precision
        float fy;
    };
    std::vector<Sample> samples;  // kCorrectHeight rows of kCorrectWidth

    bool Matches(int c, int r, int dx, int dy, int px, int py, float q) const {
        return cols == c && rows == r && cx == dx && cy == dy && x == px && y == py && ratio == q;
    }
};

std::shared_ptr<const CorrectionMap> BuildCorrectionMap(int cols, int rows, int cx, int cy, int x,
                                                        int y, float ratio) {
    auto map = std::make_shared<CorrectionMap>();
    *map = CorrectionMap{cols, rows, cx, cy, x, y, ratio, {}};
    map->samples.resize(static_cast<size_t>(kCorrectWidth) * kCorrectHeight);
    // Integer division: (645, 350) for a 1280x720 frame.
    const int cx0 = cols / 2 - cx;
    const int cy0 = rows / 2 - cy;
    const double q = ratio;
    CorrectionMap::Sample* out = map->samples.data();
    for (int r = y; r < y + kCorrectHeight; ++r) {
        for (int c = x; c < x + kCorrectWidth; ++c, ++out) {
            const int64_t dr = r - cy0;
            const int64_t dc = c - cx0;
            const double rho = std::sqrt(static_cast<double>(dr * dr + dc * dc)) * q;
            const double rho2 = rho * rho;
            const double rho3 = rho2 * rho;
            const double rho4 = rho2 * rho2;
            const double s = 0.9998 - (1e-4 * 4.2932) * rho + (1e-6 * 3.4327) * rho2 -
                             (1e-9 * 2.8526) * rho3 + (1e-13 * 9.8223) * rho4;
            // The bounds test uses the coordinates as stored: checking the double and indexing
            // with the float could read one pixel past the edge.
            const float sx = static_cast<float>(cx0 + static_cast<double>(dc) / s * 1.35);
            const float sy = static_cast<float>(cy0 + static_cast<double>(dr) / s * 1.35);
            if (!(sy >= 0 && sy < static_cast<float>(rows - 1) && sx >= 0 &&
                  sx < static_cast<float>(cols - 1))) {
                *out = {-1, -1, 0.0f, 0.0f};
                continue;
            }
            const int32_t ax = static_cast<int32_t>(sx);
            const int32_t ay = static_cast<int32_t>(sy);
            *out = {ax, ay, sx - static_cast<float>(ax), sy - static_cast<float>(ay)};
        }
    }
    return map;
}

std::shared_ptr<const CorrectionMap> CorrectionMapFor(int cols, int rows, int cx, int cy, int x,
                                                      int y, float ratio) {
    static std::mutex mutex;  // guards cached
    static std::shared_ptr<const CorrectionMap> cached;
    std::lock_guard<std::mutex> lock(mutex);
    if (!cached || !cached->Matches(cols, rows, cx, cy, x, y, ratio))
        cached = BuildCorrectionMap(cols, rows, cx, cy, x, y, ratio);
    return cached;
}

bool Fits(const cv::Mat& frame, int right, int bottom) {
    return frame.cols >= right && frame.rows >= bottom;
}

// Why a frozen frame cannot give its view, or nothing.
std::string Unusable(int view, const cv::Mat& frame) {
    if (frame.type() != CV_8UC3) return "is not 8-bit blue-green-red";
    const bool fits = view == 1 || view == 3
                          ? Fits(frame, kCorrectX + kCorrectWidth, kCorrectY + kCorrectHeight)
                          : Fits(frame, kPlainCut.br().x, kPlainCut.br().y);
    if (!fits)
        return "is " + std::to_string(frame.cols) + "x" + std::to_string(frame.rows) +
               ", too small for its view";
    return std::string();
}

bool HasWriter(const char* path) {
    try {
        return path != nullptr && cv::haveImageWriter(path);
    } catch (const std::exception&) {
        return false;
    }
}

bool Write(const char* path, const cv::Mat& image) {
    bool written = false;
    try {
        written = cv::imwrite(path, image);
    } catch (const std::exception& e) {
        TARN_LOG_ERROR(std::string("cannot write ") + path + ": " + e.what());
        return false;
    }
    if (!written) TARN_LOG_ERROR(std::string("cannot write ") + path);
    return written;
}

}  // namespace

void wcam_CorrectRectForSave(const cv::Mat& frame, cv::Mat& corrected, int cx, int cy, int x, int y,
                             float ratio) {
    corrected.release();
    if (frame.type() != CV_8UC3 || x < 0 || y < 0 || x + kCorrectWidth > frame.cols ||
        y + kCorrectHeight > frame.rows)
        return;
    const auto map = CorrectionMapFor(frame.cols, frame.rows, cx, cy, x, y, ratio);
    corrected.create(kCorrectHeight, kCorrectWidth, CV_8UC3);
    const CorrectionMap::Sample* sample = map->samples.data();
    for (int r = 0; r < kCorrectHeight; ++r) {
        uint8_t* out = corrected.ptr<uint8_t>(r);
        for (int c = 0; c < kCorrectWidth; ++c, ++sample, out += 3) {
            if (sample->ax < 0) {
                out[0] = out[1] = out[2] = 0;
                continue;
            }
            const double fx = sample->fx;
            const double fy = sample->fy;
            const uint8_t* p00 = frame.ptr<uint8_t>(sample->ay) + 3 * sample->ax;
            const uint8_t* p01 = frame.ptr<uint8_t>(sample->ay + 1) + 3 * sample->ax;
            const uint8_t* p10 = p00 + 3;
            const uint8_t* p11 = p01 + 3;
            for (int ch = 0; ch < 3; ++ch) {
                const double v = p00[ch] * (1 - fx) * (1 - fy) + p10[ch] * fx * (1 - fy) +
                                 p01[ch] * fy * (1 - fx) + p11[ch] * fy * fx;
                out[ch] = static_cast<uint8_t>(static_cast<int>(v));
            }
        }
    }
}

void wcam_OnCorrectMiddleForSave(cv::Mat frame, cv::Mat& drc, int cx, int cy, int x, int y,
                                 float ratio) {
    cv::Mat corrected;
    wcam_CorrectRectForSave(frame, corrected, cx, cy, x, y, ratio);
    if (corrected.empty()) {
        drc.release();
        return;
    }
    cv::resize(corrected, drc, cv::Size(kViewWidth, kViewHeight), 0, 0, cv::INTER_LINEAR);
}

bool wcam_save(char XMImageFullPath[4][260], char* XMGroupImageFullPath) {
    // Own deep copies, taken under the lock the shot holds while it replaces the frozen frames.
    cv::Mat frames[CAMERA_NUM];
    {
        std::lock_guard<std::mutex> lock(m_shotMutex);
        for (const cv::Mat& frozen : m_shotFrames)
            if (frozen.empty()) return true;  // not every camera frozen yet: nothing is due
        for (int i = 0; i < CAMERA_NUM; ++i) frames[i] = m_shotFrames[i].clone();
    }

    // Refused as a whole, before anything is written: a frame that cannot give its view, or a
    // name whose extension no image writer knows.
    for (int i = 0; i < CAMERA_NUM; ++i) {
        const std::string why = Unusable(i, frames[i]);
        if (!why.empty()) {
            TARN_LOG_ERROR("upper views not saved: camera " + std::to_string(i) + " " + why);
            return false;
        }
    }
    for (int i = 0; i <= CAMERA_NUM; ++i) {
        const char* path = i < CAMERA_NUM ? XMImageFullPath[i] : XMGroupImageFullPath;
        if (!HasWriter(path)) {
            TARN_LOG_ERROR(std::string("upper views not saved: no image format for ") +
                           (path != nullptr ? path : "(null)"));
            return false;
        }
    }

    cv::Mat views[CAMERA_NUM];
    cv::Mat group(2 * kViewHeight, 2 * kViewWidth, CV_8UC3);
    try {
        for (int i = 0; i < CAMERA_NUM; ++i) {
            if (i == 1 || i == 3)
                wcam_OnCorrectMiddleForSave(frames[i], views[i], kCorrectCx, kCorrectCy, kCorrectX,
                                            kCorrectY, kCorrectRatio);
            else
                cv::resize(frames[i](kPlainCut), views[i], cv::Size(kViewWidth, kViewHeight), 0, 0,
                           cv::INTER_LINEAR);
            const cv::Rect place((i % 2) * kViewWidth, (i / 2) * kViewHeight, kViewWidth,
                                 kViewHeight);
            views[i].copyTo(group(place));
        }
    } catch (const std::exception& e) {
        TARN_LOG_ERROR(std::string("upper views not saved: ") + e.what());
        return false;
    }

    bool allWritten = true;
    for (int i = 0; i < CAMERA_NUM; ++i)
        allWritten = Write(XMImageFullPath[i], views[i]) && allWritten;
    allWritten = Write(XMGroupImageFullPath, group) && allWritten;
    return allWritten;
}
