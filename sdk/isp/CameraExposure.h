// CameraExposure: the auto-exposure controller of one camera. It never talks to the device: it
// reads the frame descriptor and hands the exposure (in sensor lines) and the analog gain it
// wants back through ProcessFrame's outputs; the controller programs them.
//
// The setters record pending values with a dirty code; the next ProcessFrame takes them over.
// Units: brightness 0 to 255, exposure in lines, exposure limits in microseconds, gains in the
// sensor's unit with 1000 as unity, white-balance gains in percent.
//
// Locking: m_mutex of CPendingSettings (recursive) guards every member; every operation takes
// it, ProcessFrame for the whole frame. It is a leaf: nothing is called out of this object while
// it is held.
#pragma once

#include <cstdint>

#include "PendingSettings.h"
#include "QVDeviceDef.h"

struct CameraSettings;
struct SensorParam;

// The settings that have a pending copy.
struct CameraExposureSettings {
    int aeState = 0;  // 1: auto exposure on
    uint16_t aeTarget = 128;
    uint8_t windowEnabled = 0;
    uint8_t windowChanged = 0;     // pending copy only: a window setter ran
    int window[4] = {0, 0, 0, 0};  // left, top, width, height in raw-frame pixels
    int antiFlick = 0;
    uint8_t lightFrequency = 1;        // 1: 50 Hz, 2: 60 Hz
    double frameTimeLimit = 200000.0;  // microseconds
    int blackOffset = 0;
    int exposureMode = 0;
    double exposureMin = -1.0;  // microseconds, -1: not set
    double exposureMax = -1.0;
    uint32_t aeGainMin = 0;
    uint32_t aeGainMax = 0;
};

class CameraExposure : public qv::isp::CPendingSettings<CameraExposureSettings> {
  public:
    // Dirty codes: the last kind of pending change (only zero or non-zero matters to a frame).
    enum DirtyCode : uint16_t {
        kDirtyNone = 0,
        kDirtyAeState = 1,
        kDirtyAeTarget = 2,
        kDirtyAeWindow = 5,
        kDirtyAntiFlick = 6,
        kDirtyLightFrequency = 7,
        kDirtyFrameTime = 8,
        kDirtyBlackOffset = 9,
        kDirtyGainRange = 10,
        kDirtyExposureRange = 11,
        kDirtyExposureMode = 12,
    };

    // Statistics methods of ProcessFrame.
    enum StatisticsMethod : int { kStatMean = 0, kStatHistogram = 1, kStatZones = 2 };

    // Bins of the brightness histograms.
    static constexpr int RGBRANGE = 256;
    // One peak of a brightness histogram: its first and last bin (group boundaries), its mean
    // level and its share of the pixels in percent.
    struct Peak {
        int start;
        int end;
        int level;
        int share;
    };

    using Settings = CameraExposureSettings;

    CameraExposure();
    virtual ~CameraExposure();
    CameraExposure(const CameraExposure&) = delete;
    CameraExposure& operator=(const CameraExposure&) = delete;

    // (Re)initialises every setting from the sensor limits and the controller's settings block
    // (its auto-exposure part); anything pending is discarded. Always 0.
    int LoadParameter(const SensorParam& limits, const CameraSettings& settings, int blackOffset);

    // Sensor limits that changed since the load (a driver changes them with the trigger
    // mode): the AE gain range follows them by the rule the controller's record follows, a
    // whole range staying whole, any other cut to them (their whole range when nothing is
    // left). The exposure range is the controller's to set. 0.
    int SetSensorLimits(const SensorParam& limits);
    // Likewise, told by the caller whether the range is whole (one its record holds equal to
    // the whole range may be the host's own, cut to it by an earlier refresh). 0.
    int SetSensorLimits(const SensorParam& limits, bool whole);
    // The sensor's frame time in microseconds: becomes the pending frame-time limit when it
    // differs from the active one. 0.
    int SetFrameTime(double frameTimeUs);
    // Measure every (n + 1)-th processed frame while the exposure holds. 0.
    int SetFrameInterval(int n);
    // White-balance gains in percent that weight the histogram statistics. 0.
    int SetWbGains(uint32_t red, uint32_t green, uint32_t blue);

    // The exposure of a frame in sensor lines, trunc(time / line time + 0.5); 0 when the line
    // time gives no meaningful count (0, negative or not a number), saturated at the 32-bit
    // maximum.
    static uint32_t ExposureLinesOf(const stImageInfo& info);

    // The per-frame step on a raw frame: applies the pending settings, then writes the exposure
    // in lines and the gain to program into the two outputs (either may be null). Always 0.
    int ProcessFrame(const stImageInfo* info, const uint8_t* raw, int statisticsMethod,
                     uint32_t* exposureLines, uint32_t* gain);

    // Brightness measurements of one raw frame (8- and 12-bit Bayer GRBG and mono), 0 to 255.
    // 0; -6 for a frame without data; -4 (histograms) for a media type they do not take, which
    // the mean and the zones measure as 0; -8 for a frame too small to measure or shorter than
    // its description. The mean and the histograms also keep the channel statistics.
    int StatisticsMean(const uint8_t* raw, const stImageInfo* info, uint8_t* brightness);
    // Centre-weighted 3 x 3 zones; noDivide skips the final division by the weights' sum.
    int StatisticsZone(const uint8_t* raw, const stImageInfo* info, int noDivide,
                       uint8_t* brightness);
    // Histograms with peak analysis, weighted by the white-balance gains: over the whole frame,
    // or over the AE window clipped to the frame (the whole frame when nothing of it is left).
    int StatisticsHist(const uint8_t* raw, const stImageInfo* info, uint8_t* brightness);
    int StatisticsHistWindow(const uint8_t* raw, const stImageInfo* info, uint8_t* brightness);
    // The brightness of one histogram of width x height pixels: the level of its up to three
    // peaks weighted by their shares; pixels outside the peaks count as black. The peaks found
    // go to peakCount and peaks (either may be null).
    static int AnalyzePeaks(uint32_t width, uint32_t height, const uint32_t histogram[RGBRANGE],
                            uint8_t* peakCount, Peak peaks[3]);

    int GetBrightness(uint8_t* brightness) const;  // 0
    // The channel statistics of the last measurement (any pointer may be null). 0.
    int GetFrameStatistics(uint8_t* red, uint8_t* green1, uint8_t* green2, uint8_t* blue) const;
    // The next processed frame is measured (after a manual exposure or gain change). 0.
    int RestartCount();

    // Setters behind the exports: pending value and dirty code; 0.
    int CE_CameraSetAeState(int on);
    // Low 16 bits, brought into the sensor's AE target range.
    int CE_CameraSetAeTarget(uint32_t target);
    // Width 0 disables the window (left and top are kept); otherwise it is enabled with its
    // width rounded down to even. Raw-frame pixels.
    int CE_CameraSetAeWindow(int left, int top, int width, int height);
    int CE_CameraSetAntiFlick(int on);
    int CE_CameraSetLightFrequency(int frequency);  // low 8 bits: 1 50 Hz, 2 60 Hz
    int CE_CameraSetAeExposureMode(int mode);
    int CE_CameraSetAeExposureRange(double minUs, double maxUs);
    // Both ends cut to the sensor's gain range; -6 (nothing changes) when that leaves no range.
    int CE_CameraSetAeAnalogGainRange(uint32_t minGain, uint32_t maxGain);
    int SetBlackOffset(int offset);

    // Getters of the active settings.
    int CE_CameraGetAeState() const;
    uint16_t CE_CameraGetAeTarget() const;
    int CE_CameraGetAeWindow(int* left, int* top, int* width, int* height) const;  // 0
    int CE_CameraGetAntiFlick() const;
    int CE_CameraGetLightFrequency() const;
    int CE_CameraGetAeExposureMode() const;
    int CE_CameraGetAeExposureRange(double* minUs, double* maxUs) const;            // 0
    int CE_CameraGetAeAnalogGainRange(uint32_t* minGain, uint32_t* maxGain) const;  // 0
    double GetFrameTime() const;  // the active frame-time limit, microseconds
    int GetFrameInterval() const;

  private:
    // The sensor words auto exposure keeps to; called under m_mutex.
    void TakeSensorLimits(const SensorParam& limits);
    void ApplyPending();
    // One measurement by the statistics method; with auto exposure on it enters the moving
    // average. Nothing changes when the method fails.
    void Measure(const uint8_t* raw, const stImageInfo& info, int method, bool averaged);
    uint8_t MovingAverage(uint8_t measurement);
    // The comparison with the target and the new exposure and gain it asks for.
    void Step();
    void StepUp(double s);
    void StepDown(double s);
    // The new exposure and gain turned into what is programmed.
    void ApplyStep(uint32_t* exposureLines, uint32_t* gain);
    // Exposure limits in lines at the current line time, and whether anti-flicker is in force.
    uint32_t MaxLines() const;
    uint32_t MinLines() const;
    bool AntiFlickerActive() const;
    // x lines brought down to whole anti-flicker quanta (x itself below one quantum).
    double WholeQuanta(double x) const;
    // The histogram measurement of a region [left, right) x [top, bottom) of the frame, with
    // the pixel count of the region.
    int HistogramOfRegion(const uint8_t* raw, const stImageInfo& info, uint32_t left, uint32_t top,
                          uint32_t right, uint32_t bottom, uint8_t* brightness);

    // Copied at load: AE target range, sensor gain range, exposure-line range.
    uint32_t m_targetMin = 0;
    uint32_t m_targetMax = 255;
    uint32_t m_sensorGainMin = 0;
    uint32_t m_sensorGainMax = 0;
    uint32_t m_linesMin = 0;
    uint32_t m_linesMax = 0;
    double m_flickerQuantum = 10000.0;  // microseconds: one half-period of 50 Hz mains
    // The frame being processed and what the step made of it.
    double m_lineTime = 0;       // microseconds per line
    uint32_t m_curGain = 0;      // gain of the frame
    uint32_t m_curExposure = 0;  // exposure of the frame in lines
    uint32_t m_newGain = 0;      // asked for by the step
    uint32_t m_newExposure = 0;  // asked for by the step
    uint8_t m_avgCount = 0;      // measurements in the history, at most 4
    uint8_t m_history[4] = {};   // oldest first
    uint8_t m_brightness = 128;
    uint32_t m_wbGains[3] = {100, 100, 100};
    uint8_t m_channelStats[5] = {0, 0, 0, 0, 0};  // red, green average, green 1, green 2, blue
    int m_frameCounter = 0;
    int m_frameInterval = 2;
};
