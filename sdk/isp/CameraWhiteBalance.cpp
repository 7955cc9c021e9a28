#include "CameraWhiteBalance.h"

#include "control/CameraSettings.h"

CameraWhiteBalance::CameraWhiteBalance() = default;

CameraWhiteBalance::~CameraWhiteBalance() = default;

int CameraWhiteBalance::LoadParameter(const CameraSettings& settings, int autoFlag, int onceFlag,
                                      uint32_t redMin, uint32_t redMax, uint32_t greenMin,
                                      uint32_t greenMax, uint32_t blueMin, uint32_t blueMax) {
    Lock lock(m_mutex);
    Settings s;
    s.wbMode = settings.wbMode;
    LoadWindow(s, settings.wbWindow);
    LoadSettings(s);
    for (int c = 0; c < 3; ++c) {
        const auto gain = static_cast<uint16_t>(settings.rgbGain[c]);
        m_currentGains[c] = m_startGains[c] = m_targetGains[c] = gain;
    }
    const uint32_t ranges[6] = {redMin, redMax, greenMin, greenMax, blueMin, blueMax};
    for (int i = 0; i < 6; ++i) m_gainRanges[i] = ranges[i];
    m_smoothStep = 1;
    m_autoFlag = autoFlag;
    m_onceFlag = onceFlag;
    return 0;
}

int CameraWhiteBalance::SetFrameInterval(uint32_t n) {
    Lock lock(m_mutex);
    m_frameInterval = n;
    return 0;
}

void CameraWhiteBalance::ApplyPending() {
    if (m_dirty == kDirtyNone) return;
    Settings& a = m_active;
    Settings& p = m_pending;
    a.wbMode = p.wbMode;
    if (p.onceRequest != a.onceRequest) {
        if (a.wbMode != 0) {
            // Automatic white balance is on: a one-shot request has nothing to do.
            p.onceRequest = a.onceRequest;
        } else if (p.onceRequest != 0) {
            a.onceRequest = 1;
            p.onceRequest = 0;
        }
    }
    ApplyPendingWindow();
    a.blackOffset = p.blackOffset;
    m_dirty = kDirtyNone;
}

int CameraWhiteBalance::ProcessFrame(const uint8_t* raw, const stImageInfo* info, uint32_t* redGain,
                                     uint32_t* greenGain, uint32_t* blueGain, int statisticsFlag,
                                     int brightness) {
    (void)raw;
    (void)info;
    (void)redGain;
    (void)greenGain;
    (void)blueGain;
    (void)statisticsFlag;
    (void)brightness;
    Lock lock(m_mutex);
    ApplyPending();
    // The white-dot statistics and the smoothing are not built yet: the gains stay what the
    // host set, in every mode, and a one-shot request stays due.
    return 0;
}

int CameraWhiteBalance::CWB_CameraSetWbMode(int mode) {
    return SetPending(&Settings::wbMode, mode, kDirtyWbMode);
}

int CameraWhiteBalance::CWB_CameraSetOnceWB() {
    return SetPending(&Settings::onceRequest, 1, kDirtyOnceWb);
}

int CameraWhiteBalance::CWB_CameraSetWbWindow(int left, int top, int width, int height) {
    // Whole 2 x 2 Bayer cells in both directions.
    return SetPendingWindow(left, top, width, height & ~1, kDirtyWbWindow);
}

int CameraWhiteBalance::SetBlackOffset(int offset) {
    return SetPending(&Settings::blackOffset, offset, kDirtyBlackOffset);
}

int CameraWhiteBalance::CWB_CameraGetWbMode() const {
    return GetActive(&Settings::wbMode);
}

int CameraWhiteBalance::CWB_CameraGetWbWindow(int* left, int* top, int* width, int* height) const {
    return GetWindow(left, top, width, height);
}

bool CameraWhiteBalance::CWB_CameraGetOnceWB() const {
    Lock lock(m_mutex);
    return m_active.onceRequest != 0;
}

int CameraWhiteBalance::GetCurrentGains(uint32_t* red, uint32_t* green, uint32_t* blue) const {
    Lock lock(m_mutex);
    if (red != nullptr) *red = m_currentGains[0];
    if (green != nullptr) *green = m_currentGains[1];
    if (blue != nullptr) *blue = m_currentGains[2];
    return 0;
}

int CameraWhiteBalance::GetGainRanges(uint32_t ranges[6]) const {
    Lock lock(m_mutex);
    for (int i = 0; i < 6; ++i) ranges[i] = m_gainRanges[i];
    return 0;
}

uint32_t CameraWhiteBalance::GetFrameInterval() const {
    Lock lock(m_mutex);
    return m_frameInterval;
}
