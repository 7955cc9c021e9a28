#include "SimSoleScene.h"

#include <cstring>

#include <opencv2/imgproc.hpp>

const cv::Point CSimSoleScene::kForefootCentre(260, 400);
const cv::Size CSimSoleScene::kForefootAxes(100, 190);
const cv::Point CSimSoleScene::kHeelCentre(260, 850);
const cv::Size CSimSoleScene::kHeelAxes(70, 150);
const cv::Size CSimSoleScene::kLiftingHeelAxes(50, 100);

namespace {

constexpr int kSoleWidth = 520;
constexpr int kSoleHeight = 1200;

void Ellipse(cv::Mat& image, cv::Point centre, cv::Size axes, int value) {
    cv::ellipse(image, centre, axes, 0, 0, 360, cv::Scalar(value), cv::FILLED, cv::LINE_8);
}

}  // namespace

cv::Mat CSimSoleScene::Upright(Phase phase) {
    cv::Mat image(kSoleHeight, kSoleWidth, CV_8UC1, cv::Scalar(kPlate));
    const bool forefoot = phase == Phase::kFull || phase == Phase::kRoll || phase == Phase::kToe;
    if (forefoot) Ellipse(image, kForefootCentre, kForefootAxes, kContact);
    if (phase == Phase::kHeel || phase == Phase::kFull)
        Ellipse(image, kHeelCentre, kHeelAxes, kContact);
    if (phase == Phase::kRoll) Ellipse(image, kHeelCentre, kLiftingHeelAxes, kContact);
    return image;
}

cv::Mat CSimSoleScene::Impression() {
    cv::Mat image(kSoleHeight, kSoleWidth, CV_8UC1, cv::Scalar(0));
    Ellipse(image, kForefootCentre, kForefootAxes, 255);
    Ellipse(image, kHeelCentre, kHeelAxes, 255);
    return image;
}

cv::Mat CSimSoleScene::ToFrame(const cv::Mat& upright) {
    cv::Mat frame(kFrameHeight, kFrameWidth, CV_8UC1, cv::Scalar(kPlate));
    for (int y = 0; y < kSoleHeight; ++y)
        for (int x = 0; x < kSoleWidth; ++x)
            frame.at<uint8_t>(252 + x, 1239 - y) = upright.at<uint8_t>(y, x);
    return frame;
}

CSimSoleScene::CSimSoleScene() {
    for (int p = 0; p < static_cast<int>(Phase::kCount); ++p)
        m_frames.push_back(ToFrame(Upright(static_cast<Phase>(p))));
}

void CSimSoleScene::SetPhase(Phase phase) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_phase = phase;
}

CSimSoleScene::Phase CSimSoleScene::CurrentPhase() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_phase;
}

void CSimSoleScene::Render(uint8_t* image, uint32_t bytes) const {
    if (bytes != static_cast<uint32_t>(kFrameWidth) * kFrameHeight) {
        std::memset(image, kPlate, bytes);
        return;
    }
    const cv::Mat& frame = m_frames[static_cast<size_t>(CurrentPhase())];
    std::memcpy(image, frame.data, bytes);
}
