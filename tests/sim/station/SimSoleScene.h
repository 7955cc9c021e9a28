// A synthetic foot on the sole camera's glass plate, for the simulated USB sole camera.
//
// The foot is drawn upright as the station sees it (520 wide, 1200 high, toes up, heel down):
// a forefoot ellipse in the upper half and a heel ellipse in the lower half, in contact (value
// kContact) on an empty plate (kPlate). It is mapped into the camera's 1280x1024 frame as the
// station's crop and rotation expect it: upright (x, y) is frame row 252 + x, column 1239 - y.
//
// The walk of a foot, heel first: kEmpty, kHeel, kFull, kRoll (the heel lifting), kToe, kEmpty.
// The test sets the phase; the camera renders whichever phase is current when a frame begins.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include <opencv2/core.hpp>

class CSimSoleScene {
  public:
    enum class Phase { kEmpty, kHeel, kFull, kRoll, kToe, kCount };

    static constexpr int kFrameWidth = 1280;
    static constexpr int kFrameHeight = 1024;
    static constexpr int kPlate = 10;
    static constexpr int kContact = 200;

    // The ellipses (centre, semi-axes) in upright coordinates.
    static const cv::Point kForefootCentre;
    static const cv::Size kForefootAxes;
    static const cv::Point kHeelCentre;
    static const cv::Size kHeelAxes;
    static const cv::Size kLiftingHeelAxes;  // kRoll

    // The upright 520x1200 image of a phase.
    static cv::Mat Upright(Phase phase);
    // The whole impression of a walk: every pixel that was in contact in some phase, 255 on 0.
    static cv::Mat Impression();
    // The 1280x1024 frame showing an upright image.
    static cv::Mat ToFrame(const cv::Mat& upright);

    CSimSoleScene();

    void SetPhase(Phase phase);
    Phase CurrentPhase() const;
    // Renders the current phase into a frame of `bytes` bytes (anything but 1280x1024 stays
    // empty plate); safe from any thread.
    void Render(uint8_t* image, uint32_t bytes) const;

  private:
    mutable std::mutex m_mutex;  // guards m_phase
    Phase m_phase = Phase::kEmpty;
    std::vector<cv::Mat> m_frames;  // per phase, made once
};
