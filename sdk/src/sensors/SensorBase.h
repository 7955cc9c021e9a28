// CSensorBase: the layer every chip driver stands on. It holds the conventional driver state
// under its usual names, implements the operations that read that state back, and offers the
// steps the drivers are built from: board resets, clock settings, timing arithmetic, the shutter
// engine of the Sony frame-length/shutter chips, the trigger-mode sequence, the channel mask of
// multi-sensor boards and the chip identity check.
//
// A chip driver derives from it, keeps its tables as constants in its own source file, and
// implements what is left pure here: Reset, Init, SetExposureLines, SetExposure, SetFrameSpeed,
// SetAnalogGain, StreamOn, StreamOff, SetTriggerMode, SoftTrigger and
// GetCapability. Its constructor must end by calling SetPixelFormat with its default format
// (from the most-derived constructor, because SetPixelFormat asks the driver's GetCapability).
//
// Like every driver, the layer takes no locks: its caller serialises the calls.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>

#include "device/CameraInitParam.h"
#include "SensorInf.h"
#include "SensorTables.h"

// Frame-length/shutter register layout of the Sony chips that program the exposure as a shutter
// start line counted back from the end of the frame (SHS = frame length - lines) and stretch the
// frame for exposures longer than it.
struct ShutterLayout {
    std::span<const sensor::RegField> frameLength;  // VMAX byte lanes, low first
    std::span<const sensor::RegField> shutter;      // SHS byte lanes, low first
    // n lines fit the frame when n + fitMargin <= frame length; longer ones stretch it.
    uint32_t fitMargin;
    uint32_t stretchExtra;    // stretched frame length = n + stretchExtra
    uint32_t stretchShutter;  // shutter value while stretched
    uint32_t shutterOffset;   // fitting shutter = frame length - n - shutterOffset
    // Order of a fitting exposure after a stretched one: true writes the frame length back
    // before the shutter, false after it.
    bool restoreFirst;
    uint32_t maxFrameLength;  // what the frame-length field holds; stretches stop there
};

// Frame-count/shutter register layout of the Sony chips that program a long exposure as k whole
// frames plus a shutter start s inside the last one: k = n / frame length, s = (k + 1) x frame
// length - n, and a shutter start too close to the frame start moves into the next frame.
struct FrameCountLayout {
    std::span<const sensor::RegField> frameCount;  // k byte lanes, in the order written
    std::span<const sensor::RegField> shutter;     // s byte lanes, in the order written
    uint32_t minShutter;                           // s at most this moves k up by one frame
    bool cacheCount;             // write k only when it differs from the last one written
    uint32_t maxCount = 0xFFFF;  // the largest k the frame-count registers hold
};

// How a chip takes the software trigger itself, on the boards whose FPGA does not take it: not
// at all, or a pulse on one of its GPIO lines or registers. The pulse sets the line or register
// to `high`; with a release it then waits pauseMs and sets it to `low`. A failed first write ends
// the pulse with its status; after a release its status is returned, or 0 where the driver does
// not use it (releaseStatus false).
struct ChipTrigger {
    enum class Kind : uint8_t { None, Gpio, Register };
    Kind kind = Kind::None;
    uint16_t target = 0;  // GPIO pin or register
    uint16_t high = 1;
    bool release = false;
    uint16_t low = 0;
    uint8_t pauseMs = 0;
    bool releaseStatus = true;
};

// One identity register of a chip and the value it must hold (under mask).
struct ChipId {
    uint16_t reg;
    uint16_t value;
    uint16_t mask = 0xFFFF;
};

// The limits a driver reports in its SensorParam; the members left out take the values most
// chips share.
struct SensorLimits {
    uint32_t aeTargetMin, aeTargetMax;
    uint32_t gainMin = 1000, gainMax;  // thousandths
    uint32_t expLinesMin = 1, expLinesMax;
    uint32_t maxWidth, maxHeight;
    uint32_t minWidth = 32, minHeight = 32;
    uint32_t reductionModeMask;
};

class CSensorBase : public SensorInf {
  public:
    CSensorBase(SensorTypeE type, imginf* inf);

    // ---- Operations the layer implements from the conventional state ----
    int Uninit() override;                // 0
    int SetAuxValue(int value) override;  // stores m_auxValue
    int GetLineTime(int* ns) override;    // m_lineTimeNs, truncated
    int GetExposure(double* us) override;
    int GetExposureLineTime(double* us) override;
    int GetFrameTime(double* us) override;  // m_frameTimeNs / 1000
    int GetFrameSpeed(int* speed) override;
    int GetAnalogGainRange(int* min, int* max) override;  // the gain words of m_param
    int GetAnalogGain(int* gain) override;
    int SetBlackLevel(uint32_t level) override;  // stores the low byte in m_blackLevel only
    int GetBlackLevel(int* level) override;
    int GetInfo(SensorInfo* info) override;           // -6 for null
    int GetSensorParam(SensorParam* param) override;  // -6 for null
    int GetImageInfo(stImageInfo* info) override;     // -6 for null
    int SetResolution(tSdkResolution* res) override;  // stores the record; null: 0
    int GetResolution(tSdkResolution* res) override;  // writes the window back; null: 0

  protected:
    // ---- Time ----
    static void Pause(unsigned ms);  // on the driver clock (SensorClock); 0: no pause

    // ---- Reset ----
    // Pulses the reset line (or the lines, in order); the first device failure is returned.
    int PulseReset(const sensor::ResetLine& line);
    int PulseReset(const sensor::ResetSequence& lines);
    int PulseGpio(uint8_t pin);
    int PulseGpioPair(uint8_t pin, uint8_t pin2);
    int PulseGpioPairTogether(uint8_t pin, uint8_t pin2);
    int PulseFpgaResetBit();  // FPGA register 15, bit 16
    // The usual reset: pulse the line, select the sensor bus and, when that succeeded, wait
    // settleMs. A line of kind None only selects the bus.
    int ResetAndSelectBus(const sensor::ResetSequence& lines, uint8_t busAddress, uint8_t busWidths,
                          unsigned settleMs);
    int ResetAndSelectBus(const sensor::ResetSequence& lines, const sensor::SensorBus& bus) {
        return ResetAndSelectBus(lines, bus.address, bus.widths, bus.settleMs);
    }

    // ---- Clock ----
    // Sends a present setting to the clock generator and records its input clock in
    // m_inputClock; a setting that is not present sends nothing and only records its input clock
    // (when it names one).
    int ApplyPll(const sensor::PllSetting& pll);

    // ---- Timing ----
    // m_pixelPeriodNs = 1e9 / countingClock, m_lineTimeNs = m_lineLength x period,
    // m_frameTimeNs = m_frameLength x m_lineTimeNs, m_lineTimeUs = m_lineTimeNs / 1000.
    void RecomputeTiming(uint32_t countingClockHz);
    // Lines of a time: us x 1000 / m_lineTimeNs + 0.5, truncated and raised to minLines. Times
    // past the 32-bit range stop there (the caller clamps to its field); without a line time yet
    // the minimum is returned.
    uint32_t LinesForUs(double us, uint32_t minLines) const;
    // m_expLines = lines and m_expTimeUs = lines x m_lineTimeNs / 1000.
    void RecordExposureLines(uint32_t lines);

    // ---- Window ----
    // Copies the stored resolution record into m_width, m_height, m_fovWidth, m_fovHeight,
    // m_roiMode and the window start m_roiX, m_roiY (each lowered to even).
    void ApplyResolution();

    // ---- Shutter engines (Sony chips) ----
    // Programs n lines (already clamped by the driver) against the frame length in force.
    // longFrame says whether the frame is stretched now and is updated. Returns the device
    // status; linesInForce (optional) receives the lines the registers really hold, which is
    // fewer than n only when a stretch meets maxFrameLength.
    int WriteShutter(const ShutterLayout& layout, uint32_t n, uint32_t frameLength, bool& longFrame,
                     uint32_t* linesInForce = nullptr);

    // Programs n lines as frames plus shutter. frameCount holds the k last written (and is
    // updated only when its write succeeded). Returns the device status. Longer exposures than
    // FrameCountMaxLines are cut to it (drivers clamp before they record the exposure).
    int WriteFrameCountShutter(const FrameCountLayout& layout, uint32_t n, uint32_t frameLength,
                               uint16_t& frameCount);
    // The longest exposure the frame-count registers hold at this frame length: maxCount whole
    // frames (the shutter then starts one frame length before the end).
    static uint32_t FrameCountMaxLines(const FrameCountLayout& layout, uint32_t frameLength);

    // ---- FPGA frame timing (chips whose frame timing the FPGA generates) ----
    // Frame length (lines) and line length to the FPGA. Without directReg they go through
    // SetImageTiming (frame, line, c), whose frame-length field holds 16 bits; boards with
    // timing registers of their own take directReg = (frame - 1) & 0xFFFF, directReg + 1 =
    // line - c - 1 and directReg + 2 = (frame - 1) >> 16, all three written, the first failure
    // returned. A frame longer than the path holds is cut to the longest it holds, and frames
    // below one line are one line; frameInForce (optional) receives the frame length written.
    static constexpr uint32_t kImageTimingMaxFrame = 0xFFFF;
    int WriteFrameTiming(uint32_t frameLength, uint32_t lineLength, uint16_t directReg = 0,
                         uint32_t* frameInForce = nullptr, uint8_t c = 18);
    // The longest frame WriteFrameTiming programs on that path.
    static uint32_t FrameTimingMaxFrame(uint16_t directReg) {
        return directReg != 0 ? 0xFFFFFFFFu : kImageTimingMaxFrame;
    }

    // ---- Changes that need the chip's output stopped (clock switches, line lengths) ----
    // Runs change() with the output stopped. A running stream (m_streaming) is stopped by stop()
    // first and started again by start() afterwards, also after a failed change, so the stream
    // is left as it was; while paused neither runs and the stream stays paused. Returns the
    // first failure of stop, change and start.
    template <class Stop, class Change, class Start>
    int WhileStopped(Stop&& stop, Change&& change, Start&& start) {
        const bool running = m_streaming;
        int r = running ? stop() : CAMERA_STATUS_SUCCESS;
        if (r == CAMERA_STATUS_SUCCESS) r = change();
        if (running) {
            const int restarted = start();
            if (r == CAMERA_STATUS_SUCCESS) r = restarted;
        }
        return r;
    }

    // ---- Trigger ----
    // The common trigger-mode sequence: read the trigger control word, OR 0x108 into its mode
    // field and write it back with mode 0 (source 0, flag 1, enable 0), 1 (source 6, flag 1,
    // enable 1) or 2 (the source read back, 1 when nothing could be read; flag 1, enable 1);
    // modes 1 and 2 then set the trigger timing (timingA, timingB). Other modes: 0, nothing done.
    int ApplyTriggerMode(int mode, uint16_t timingA, uint16_t timingB);
    // The same for the chips that take no trigger timing: the control word only. Some chips
    // want the flag cleared in the triggered modes (triggeredFlag). Where a failed read of the
    // word must end the change (readFailureEnds), its status is returned before any write.
    int ApplyTriggerControl(int mode, uint16_t triggeredFlag = 1, bool readFailureEnds = false);
    // The software trigger of the chips the FPGA triggers on some boards only: the FPGA's
    // trigger where fpga holds (its status returned), the chip's own elsewhere.
    int SoftTriggerVia(bool fpga, const ChipTrigger& chip = {});
    // The exposure of the chips that, in the trigger modes, expose for the FPGA's trigger pulse
    // and 14 us past it: below 15 us the shortest pulse (1 us), reported as 15 us; otherwise a
    // pulse of the whole microseconds of us - 14, reported as the time asked, or, for a time the
    // 32-bit pulse cannot hold, the longest pulse, reported as what it gives. The result is the
    // status of SetTriggerTiming.
    int SetPulseExposure(double us);

    // ---- Multi-sensor boards ----
    // Takes the low four bits of the channel mask, writes them back into the record, stores the
    // number of set bits in count and, when fpgaReg is not 0, writes the mask to that FPGA
    // register. A mask without set bits gives CAMERA_STATUS_PARAMETER_INVALID before any write.
    int TakeChannelMask(CameraInitParam& param, uint8_t& count, uint16_t fpgaReg);

    // ---- Chip identity ----
    // The identity check of a class's static Probe: probe is a temporary driver of the class
    // bound to the device; it is reset, then each register is read and compared. 0 when all
    // match, the device status of a failed reset or read, CAMERA_STATUS_HARDWARE_NOT_FOUND when a
    // register holds another value.
    static int CheckChipIdentity(CSensorBase& probe, std::initializer_list<ChipId> ids);

    // ---- Information ----
    // m_info for this driver's code with the name the chip calls itself, which for several
    // classes differs from the model name of the type table.
    void SetInstanceInfo(const char* name, const char* kind);

    // ---- Limits ----
    // Fills the limit words of m_param (the others keep their values).
    void SetLimits(const SensorLimits& limits);

    // ---- Capability ----
    // Replaces the format list (never empty: a driver that has none for a board passes its
    // 8-bit default).
    static void SetFormats(SensorCapability& cap, std::span<const uint32_t> formats);
    // The choice most chips make: the mono or the colour list, 8 and 12 bits where with12 holds
    // (the boards that carry the 12-bit format), the 8-bit format alone elsewhere.
    static void SetFormats8Or12(SensorCapability& cap, bool mono, bool with12);

    int WriteRegs(const sensor::RegList& list) { return WriteSensorRegs(list.Words()); }

    // ---- Conventional driver state ----
    int32_t m_auxValue = 0;      // SetAuxValue
    uint16_t m_fpgaOffsetY = 0;  // lines the FPGA discards at the frame start (or sensor row)
    uint16_t m_fpgaOffsetX = 0;  // pixels the FPGA discards at the line start (or sensor column)
    uint16_t m_roiX = 0;         // window start, even
    uint16_t m_roiY = 0;
    uint16_t m_roiMode = 0;  // the resolution record's mode word (uModeC)
    uint32_t m_width = 0;    // output image size
    uint32_t m_height = 0;
    uint32_t m_lineLength = 0;   // HMAX, in counting-clock periods
    uint32_t m_frameLength = 0;  // VMAX, in lines
    double m_frameTimeNs = 200000000.0;
    double m_lineTimeNs = 0;
    double m_pixelPeriodNs = 0;
    uint32_t m_gainReg = 0;     // last gain code written
    uint32_t m_expLines = 0;    // exposure in lines
    uint32_t m_inputClock = 0;  // Hz
    uint32_t m_pixelClock = 0;  // Hz, counting clock of the line time
    uint32_t m_blackLevel = 0;
    uint32_t m_fovWidth = 0;  // sensor window before binning or skipping
    uint32_t m_fovHeight = 0;
    double m_expTimeUs = 0;
    double m_lineTimeUs = 0;
    uint32_t m_gain = 0;        // thousandths
    uint32_t m_frameSpeed = 0;  // 0, 1, 2
    bool m_streaming = false;   // set by a successful StreamOn, cleared by StreamOff
    SensorInfo m_info{};
    SensorParam m_param{};
    tSdkResolution m_resolution{};  // the record SetResolution stored
};
