// The contact shot: the four newest frames frozen and composed into the preview mosaic.
#include <cmath>
#include <exception>
#include <string>

#include <opencv2/imgproc.hpp>

#include "TarnLog.h"
#include "Wcam.h"

namespace {

// Where camera i's quarter goes in the mosaic.
const cv::Rect kQuarterRects[CAMERA_NUM] = {
    {0, 0, kQuarterWidth, kQuarterHeight},
    {kQuarterWidth, 0, kQuarterWidth, kQuarterHeight},
    {0, kQuarterHeight, kQuarterWidth, kQuarterHeight},
    {kQuarterWidth, kQuarterHeight, kQuarterWidth, kQuarterHeight},
};

// Cameras 1 and 3 look through a strongly curved lens; 0 and 2 are only cropped.
bool IsCorrected(int camera) {
    return camera == 1 || camera == 3;
}

cv::Mat MakeQuarter(int camera, const cv::Mat& frame) {
    cv::Mat quarter;
    if (IsCorrected(camera)) {
        // Scaled down first, so the correction runs on 320x180 only.
        cv::Mat scaled;
        cv::resize(frame, scaled, cv::Size(kMosaicWidth, kMosaicHeight), 0, 0, cv::INTER_NEAREST);
        OnCorrectMiddle0(scaled, quarter, 0, 0, 0, 0, 3.6f);
    } else {
        cv::Mat scaled;
        cv::resize(frame, scaled, cv::Size(kQuarterWidth, kQuarterHeight), 0, 0, cv::INTER_NEAREST);
        cv::resize(scaled(cv::Rect(13, 7, 137, 75)), quarter,
                   cv::Size(kQuarterWidth, kQuarterHeight), 0, 0, cv::INTER_NEAREST);
    }
    return quarter;
}

}  // namespace

bool wcam_shot() {
    wcam_StitchCameraFrames();
    return true;
}

void wcam_StitchCameraFrames() {
    // Deep copies under each frame mutex; a camera without a newest frame keeps its earlier
    // frozen frame.
    cv::Mat frozen[CAMERA_NUM];
    for (int i = 0; i < CAMERA_NUM; ++i) {
        std::lock_guard<std::mutex> lock(m_frameMutexes[i]);
        if (!m_wCameraFrames[i].empty()) frozen[i] = m_wCameraFrames[i].clone();
    }
    {
        // Frozen frames are only ever replaced, never written in place, so the shot may go on
        // with shared references while a save copies them.
        std::lock_guard<std::mutex> lock(m_shotMutex);
        for (int i = 0; i < CAMERA_NUM; ++i) {
            if (!frozen[i].empty())
                m_shotFrames[i] = frozen[i];
            else
                frozen[i] = m_shotFrames[i];
        }
    }

    // A camera that never delivered a usable frame keeps its quarter as it was.
    cv::Mat quarters[CAMERA_NUM];
    for (int i = 0; i < CAMERA_NUM; ++i) {
        if (frozen[i].empty()) continue;
        if (frozen[i].type() != CV_8UC3) {
            TARN_LOG_ERROR("相机" + std::to_string(i) + ": frame is not 8-bit blue-green-red");
            continue;
        }
        try {
            quarters[i] = MakeQuarter(i, frozen[i]);
        } catch (const std::exception& e) {
            TARN_LOG_ERROR("相机" + std::to_string(i) + ": " + e.what());
            quarters[i].release();
        }
    }

    // Composed under the mutex, so a fetch never copies a half-made mosaic.
    std::lock_guard<std::mutex> lock(m_previewMutex);
    if (m_previewImage.empty())
        m_previewImage = cv::Mat::zeros(kMosaicHeight, kMosaicWidth, CV_8UC3);
    for (int i = 0; i < CAMERA_NUM; ++i) {
        if (quarters[i].size() == kQuarterRects[i].size() && quarters[i].type() == CV_8UC3)
            quarters[i].copyTo(m_previewImage(kQuarterRects[i]));
    }
    m_newPreviewAvailable = true;
}

void OnCorrectMiddle0(cv::Mat frame, cv::Mat& drc, int cx, int cy, int x, int y, float ratio) {
    const float cx0 = static_cast<float>(frame.cols) / 2.0f - static_cast<float>(cx);
    const float cy0 = static_cast<float>(frame.rows) / 2.0f - static_cast<float>(cy);
    cv::Mat mapX(frame.size(), CV_32FC1);
    cv::Mat mapY(frame.size(), CV_32FC1);
    for (int r = 0; r < frame.rows; ++r) {
        float* mx = mapX.ptr<float>(r);
        float* my = mapY.ptr<float>(r);
        for (int c = 0; c < frame.cols; ++c) {
            const float dx = static_cast<float>(c) - cx0;
            const float dy = static_cast<float>(r) - cy0;
            const float rho = std::sqrt(dx * dx + dy * dy) * ratio;
            const float rho2 = rho * rho;
            const float rho3 = rho2 * rho;
            const float rho4 = rho2 * rho2;
            const float s = 0.9998f - 4.2932e-4f * rho + 3.4327e-6f * rho2 - 2.8526e-9f * rho3 +
                            9.8223e-13f * rho4;
            mx[c] = dx / s * 1.1f + cx0;
            my[c] = dy / s * 1.1f + cy0;
        }
    }
    cv::Mat corrected;
    cv::remap(frame, corrected, mapX, mapY, cv::INTER_LINEAR, cv::BORDER_CONSTANT,
              cv::Scalar::all(0));
    const cv::Mat cut = corrected(cv::Rect(x, y, kMosaicWidth, kMosaicHeight)).clone();
    cv::resize(cut, drc, cv::Size(kQuarterWidth, kQuarterHeight), 0, 0, cv::INTER_LINEAR);
}
