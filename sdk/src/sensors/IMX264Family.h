// CIMX264Family: the Sony global-shutter chips IMX264, IMX265, IMX287, IMX297, IMX392 and IMX296.
// They share one register layout: the frame length VMAX (20 bits), the line length HMAX, the
// shutter start SHS (exposure = frame length - SHS), a gain in 0.1 dB steps, two trigger-exposure
// switches and the window registers. IMX264 to IMX297 keep it in bank 0x02xx (bus 0x00/0x12);
// IMX392 and IMX296 keep the same layout 0x2E00 higher (bus 0x34/0x12).
//
// Exposures longer than the frame stretch the frame to n + margin lines (SHS = margin) until the
// next ordinary exposure. In the trigger modes the chip exposes for the FPGA's trigger pulse: the
// exposure is then a pulse width in microseconds and the line time reads 1.0.
//
// A member is a descriptor (boards, limits, tables, the differences in its exposure and window
// rules) plus its clock set-up and, where it has one, its own line-length rule.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "SensorBase.h"

class CIMX264Family : public CSensorBase {
  public:
    // How the trigger pulse is made from an exposure time in the trigger modes. The chip adds
    // 14 us to the pulse it is given.
    enum class Pulse : uint8_t {
        Offset,  // pulse us - 14 (0 below 14); reported as the pulse plus pulseReportUs
        Min100,  // pulse us - 14, at least 100 us; reported as the pulse
        Min15,   // below 15 us the shortest pulse (1) and 15 reported; else the time asked
    };

    struct Chip {
        const char* instanceName;
        const char* kind;
        int32_t auxValue;
        SensorTypeE monoCode;
        bool monoAsksMono8;  // the mono code asks for Mono8 at construction (else Bayer)
        uint16_t bank;       // added to the 0x02xx addresses: 0 or 0x2E00
        uint8_t busAddress;
        std::span<const sensor::BoardReset> resets;  // the boards Reset knows
        std::span<const int> served;                 // Init, speeds, streaming, trigger
        std::span<const int> formatBoards;           // boards offering 8 and 12 bits
        uint16_t widthCode8, widthCode12;            // ORed into the interface word

        // ---- Capability and limits ----
        uint32_t defaultIndex;  // preset resolution, also the only bit of the mask
        uint32_t redGain, greenGain, blueGain;
        uint32_t defaultBlackLevel;
        uint32_t fullWidth, fullHeight;
        uint32_t expLinesMax;  // before the first frame speed
        double maxExposureUs;  // the exposure-lines maximum from each speed; 0: unchanged

        // ---- Exposure ----
        uint32_t margin;         // a frame holds n lines while n + margin <= frame length
        uint32_t maxLines;       // the longest exposure the 20-bit frame length holds
        double reportedExtraUs;  // added to the exposure time the lines give
        uint32_t minLines;       // SetExposure's minimum
        Pulse pulse;
        double pulseReportUs;     // Pulse::Offset
        int triggerTimingOffset;  // trigger modes set the pulse from the exposure less this; -1 not
        bool reapplyOnSoftware;   // software trigger mode re-applies the exposure
        bool startGainExposure;   // Init ends with unity gain and 2 lines
        bool logs;                // exposure changes are logged
        int noTriggerResetBoard;  // Init leaves the trigger word alone on this board; 0: none

        // ---- Streaming ----
        bool fpgaFirst;         // StreamOn starts the FPGA before the chip (without waits)
        unsigned masterWaitMs;  // after the master start

        // ---- Window ----
        uint16_t roiHold;  // SetRoiOffset's hold register; 0: SetRoiOffset does nothing
        uint16_t roiXHighMask, roiYHighMask;
        bool roiStatusIgnored;
        uint32_t minWindowWidth;   // narrower windows are read this wide
        uint32_t maxColumnForMin;  // ... from a column at most this
        uint16_t windowPad;        // added to width and height in the window registers

        // ---- Init ----
        std::span<const uint16_t> init, readout, fullWindow, speedPrefix;
        std::span<const uint16_t> outputMode[3];  // by width code; empty: none
        bool outputModeFirst;                     // before the readout table
        bool lengthsFromClock;                    // the clock set-up set the lengths (all windows)
        uint32_t fullFrameLength;
        uint16_t fullOffsetX, fullOffsetY;
        uint32_t extraLines;  // other windows: frame length = height + extraLines
        uint16_t offsetX, offsetY;
        uint32_t initLineLength;  // 0: the speed sets it
    };

    int Reset() override;
    int Init(CameraInitParam* param) override;
    int SetExposureLines(uint32_t lines) override;
    int SetExposure(double us) override;
    int GetExposureLineTime(double* us) override;
    int SetFrameSpeed(int speed) override;
    int SetAnalogGain(uint32_t gain) override;
    int SetBlackLevel(uint32_t level) override;
    int StreamOn() override;
    int StreamOff() override;
    int SetTriggerMode(int mode) override;
    int SoftTrigger() override;
    int GetImageInfo(stImageInfo* info) override;
    int SetRoiOffset(int x, int y) override;
    void GetCapability(SensorCapability& cap) override;

  protected:
    CIMX264Family(SensorTypeE type, imginf* inf, const Chip& chip);

    bool Serves(int hw) const;
    uint16_t WordBits() const { return m_widthCode | m_bitMode | m_laneBits; }
    uint16_t Reg(uint16_t reg02xx) const { return static_cast<uint16_t>(reg02xx + m_chip.bank); }

    // ---- What the members decide ----
    // The board's clock: SetPll, m_inputClock and the settling wait; channel set-up on the
    // multi-chip boards (which may set the base lengths). CAMERA_STATUS_NOT_SUPPORTED for boards
    // the member does not serve.
    virtual int ApplyClock(CameraInitParam& param) = 0;
    // The line length of a frame speed; by default the one Init set.
    virtual uint32_t SpeedLineLength(int hw) const {
        (void)hw;
        return m_baseLineLength;
    }
    // The frame length of a frame speed from the base one scaled by the speed.
    virtual uint32_t SpeedFrameLength(int hw, uint32_t scaled) const {
        (void)hw;
        return scaled;
    }
    // Called before the shutter registers are written (the IMX296 mirrors them to the FPGA).
    virtual void BeforeShutter(bool longFrame, uint32_t shutter) { (void)longFrame, (void)shutter; }

    const Chip& m_chip;
    uint16_t m_windowX = 0, m_windowY = 0;  // the window start written to the chip
    uint16_t m_laneBits = 0;
    uint16_t m_widthCode = 0;
    bool m_longFrame = false;       // the frame is stretched for a long exposure
    bool m_triggerWidth = false;    // the exposure is the FPGA trigger pulse
    uint8_t m_channelCount = 1;     // chips read out side by side
    uint32_t m_baseLineLength = 0;  // the lengths of the window, before the frame speed
    uint32_t m_baseFrameLength = 0;

  private:
    std::array<sensor::RegField, 3> m_vmax;  // frame length lanes in this chip's bank
    std::array<sensor::RegField, 3> m_shs;   // shutter lanes
    ShutterLayout m_shutter;

    int WriteWindow(uint32_t x, uint32_t y, uint32_t w, uint32_t h);
    int WriteTables();
    int TriggerExposure(double us);
};
