// CameraWhiteBalance: the white-balance controller of one camera. ProcessFrame reads the raw
// frame and writes the red, green and blue gains (percent, 100 = unity) that the controller
// keeps in its settings.
//
// It finds the white dots of a raw Bayer frame (2 x 2 blocks whose colour lies near the frame's
// mean colour, pushed one spread further from neutral, and whose luma lies in a middle band),
// takes the brightest tenth of them and derives the gains that make them grey: green 100, red
// and blue scaled to match it, within the capability's ranges. In automatic mode it measures
// every (interval + 1)-th frame and glides the gains to the result over three frames; a
// one-shot request in manual mode measures once and takes the result at once.
//
// The setters record pending values with a dirty code; the next ProcessFrame takes them over.
//
// Locking: m_mutex of CPendingSettings (recursive) guards every member; every operation takes
// it, ProcessFrame for the whole frame. It is a leaf: nothing but the log is called out of this
// object while it is held.
#pragma once

#include <cstdint>
#include <vector>

#include "PendingSettings.h"
#include "QVDeviceDef.h"

struct CameraSettings;

// The settings that have a pending copy.
struct CameraWhiteBalanceSettings {
    int wbMode = 0;  // 1: automatic white balance
    uint8_t onceRequest = 0;
    int window[4] = {0, 0, 0, 0};  // left, top, width, height in raw-frame pixels
    uint8_t windowEnabled = 0;
    uint8_t windowChanged = 0;  // pending copy only: a window setter ran
    int blackOffset = 0;
};

class CameraWhiteBalance : public qv::isp::CPendingSettings<CameraWhiteBalanceSettings> {
  public:
    // Dirty codes: the last kind of pending change (only zero or non-zero matters to a frame).
    enum DirtyCode : uint16_t {
        kDirtyNone = 0,
        kDirtyWbMode = 1,
        kDirtyOnceWb = 3,
        kDirtyWbWindow = 4,
        kDirtyBlackOffset = 5,
    };

    using Settings = CameraWhiteBalanceSettings;

    CameraWhiteBalance();
    virtual ~CameraWhiteBalance();
    CameraWhiteBalance(const CameraWhiteBalance&) = delete;
    CameraWhiteBalance& operator=(const CameraWhiteBalance&) = delete;

    // (Re)initialises every setting from the controller's settings block (its white-balance
    // part), the capability's auto-WB and once-WB flags and its gain ranges (percent); anything
    // pending is discarded. Always 0.
    int LoadParameter(const CameraSettings& settings, int autoFlag, int onceFlag, uint32_t redMin,
                      uint32_t redMax, uint32_t greenMin, uint32_t greenMax, uint32_t blueMin,
                      uint32_t blueMax);

    // Measure every (n + 1)-th processed frame in automatic mode. 0.
    int SetFrameInterval(uint32_t n);

    // The per-frame step: applies the pending settings, then, in automatic mode or for a
    // one-shot request, updates the three gains in place (pointers to the controller's
    // settings). `brightness` is the auto-exposure brightness. Always 0.
    int ProcessFrame(const uint8_t* raw, const stImageInfo* info, uint32_t* redGain,
                     uint32_t* greenGain, uint32_t* blueGain, int statisticsFlag, int brightness);

    // Setters behind the exports: pending value and dirty code; 0.
    int CWB_CameraSetWbMode(int mode);
    int CWB_CameraSetOnceWB();
    // Width 0 disables the window (left and top are kept); otherwise it is enabled with its
    // width rounded down to even. The height is rounded down to even in both cases.
    int CWB_CameraSetWbWindow(int left, int top, int width, int height);
    int SetBlackOffset(int offset);

    // The white-dot statistics over the whole frame or inside the WB window: on success the
    // target gains and smoothing step 1; with too few white dots the start gains as targets and
    // the log line "===NONE WhiteDot====   Dr:%d,Db:%d,rate:%d\n". 0;
    // CAMERA_STATUS_PARAMETER_INVALID without a frame; CAMERA_STATUS_NOT_SUPPORTED for a media
    // type other than "Bayer GRBG8" and "Bayer GRBG12"; CAMERA_STATUS_DATA_INVALID for a frame
    // shorter than its size or an area without a whole 2 x 2 block. The targets stay on every
    // failure.
    int FindWhiteDots(const uint8_t* raw, const stImageInfo* info);
    int FindWhiteDotsInWindow(const uint8_t* raw, const stImageInfo* info);
    // The gains the smoothing moves towards (red, green, blue). 0.
    int GetTargetGains(uint32_t* red, uint32_t* green, uint32_t* blue) const;
    // Capacity of the white-dot buffer, in 32-bit values: it grows and never shrinks.
    size_t WhiteDotCapacity() const;

    // Getters of the active settings.
    int CWB_CameraGetWbMode() const;
    int CWB_CameraGetWbWindow(int* left, int* top, int* width, int* height) const;  // 0
    bool CWB_CameraGetOnceWB() const;  // a one-shot measurement is due
    // The gains the object holds (current, after loading or smoothing) and the capability's
    // ranges (red min, red max, green min, green max, blue min, blue max). 0.
    int GetCurrentGains(uint32_t* red, uint32_t* green, uint32_t* blue) const;
    int GetGainRanges(uint32_t ranges[6]) const;
    uint32_t GetFrameInterval() const;

  private:
    void ApplyPending();
    // The statistics over the blocks [bx0, bx0 + bw) x [by0, by0 + bh) (block coordinates);
    // `lowLuma` is the smallest luma of a white dot.
    int Measure(const uint8_t* raw, const stImageInfo& info, int bx0, int by0, int bw, int bh,
                int lowLuma);
    // One step of the glide from the current gains towards the targets.
    void Smooth(uint32_t* red, uint32_t* green, uint32_t* blue);

    uint16_t m_currentGains[3] = {100, 100, 100};  // red, green, blue the smoothing reached
    uint16_t m_startGains[3] = {100, 100, 100};    // before the last smoothing move
    uint16_t m_targetGains[3] = {100, 100, 100};   // the smoothing moves towards these
    int m_smoothStep = 1;
    uint32_t m_gainRanges[6] = {0, 0, 0, 0, 0, 0};
    int m_autoFlag = 0;
    int m_onceFlag = 0;
    uint32_t m_frameCounter = 0;
    uint32_t m_frameInterval = 3;
    std::vector<int32_t> m_whiteDots;  // luma, blue difference, red difference per block
};
