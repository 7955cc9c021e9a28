// CameraWhiteBalance: the white-balance controller of one camera. ProcessFrame reads the raw
// frame and writes the red, green and blue gains (percent, 100 = unity) that the controller
// keeps in its settings.
//
// The setters record pending values with a dirty code; the next ProcessFrame takes them over.
//
// Locking: m_mutex of CPendingSettings (recursive) guards every member; every operation takes
// it. It is a leaf: nothing is called out of this object while it is held.
#pragma once

#include <cstdint>

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

    uint16_t m_currentGains[3] = {100, 100, 100};  // red, green, blue the smoothing reached
    uint16_t m_startGains[3] = {100, 100, 100};    // before the last smoothing move
    uint16_t m_targetGains[3] = {100, 100, 100};   // the smoothing moves towards these
    int m_smoothStep = 1;
    uint32_t m_gainRanges[6] = {0, 0, 0, 0, 0, 0};
    int m_autoFlag = 0;
    int m_onceFlag = 0;
    uint32_t m_frameCounter = 0;
    uint32_t m_frameInterval = 3;
};
