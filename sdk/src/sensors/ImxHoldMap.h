// CImxHoldMap: the register map of the Sony IMX487 and the IMX990, IMX991 and IMX992 (bus
// 0x34/0x12), in which every update of more than one register is bracketed by the hold register
// 0x3034 (1 before, 0 after) so that the chip takes the registers together at the next frame.
//
// It holds the frame length VMAX (0x30D4 to 0x30D6), the line length HMAX (0x30D8/0x30D9), the
// shutter start SHR (0x3240 to 0x3242, exposure = frame length - SHR), a gain in 0.1 dB steps
// (0x3514/0x3515) and the window (mode 0x3104, column, row, width and height from 0x3120).
// Exposures longer than the frame stretch it to n + margin lines with SHR = margin until the next
// ordinary exposure; in the trigger modes the chip exposes for the FPGA's trigger pulse and the
// exposure is a pulse width in microseconds.
#pragma once

#include <cstdint>

#include "SensorBase.h"

class CImxHoldMap : public CSensorBase {
  public:
    int SetExposureLines(uint32_t lines) override;
    int GetExposureLineTime(double* us) override;  // 1.0 while the exposure is a pulse width
    int SetAnalogGain(uint32_t gain) override;

    // The thermometer's reading: a 12-bit two's-complement count of eighths of a degree Celsius
    // (0x0F38 is -25.0, 0x00C8 is 25.0); bits above 11 are not part of it.
    static double DecodeTemperature(uint16_t raw);

  protected:
    CImxHoldMap(SensorTypeE type, imginf* inf, uint32_t margin);

    static constexpr uint16_t kRegHold = 0x3034;
    static constexpr uint16_t kRegStandby = 0x3000;       // 1: standby
    static constexpr uint16_t kRegTriggerWidth = 0x3400;  // the chip exposes for the pulse
    static constexpr uint32_t kMaxFrameLength = 0xFFFFF;
    static constexpr uint32_t kMaxLines = 0xFFFF0;

    // ---- List pieces ----
    static void AddFrameLength(sensor::RegList& list, uint32_t frameLength);  // VMAX, 3 bytes
    static void AddLineLength(sensor::RegList& list, uint32_t lineLength);    // HMAX, 2 bytes
    static void AddShutter(sensor::RegList& list, uint32_t shutter);          // SHR, 3 bytes
    // Mode 3 (cropped) and the window's column, width, row and height.
    static void AddWindow(sensor::RegList& list, uint32_t x, uint32_t y, uint32_t w, uint32_t h);
    // Moves the window start under hold.
    int WriteWindowStart(uint32_t x, uint32_t y);

    // ---- Exposure ----
    // The exposure of a time: in the trigger modes the pulse (below 15 us the shortest pulse,
    // reported as 15), else lines of the time less the 14 us the chip adds, at least one.
    int ExposeFor(double us);
    // The trigger modes' exposure range, in microseconds: 15 to 1000000.
    void UsePulseRange();
    // Continuous mode's range, in lines: from 1 to maxExposureUs at the line time in force.
    void UseLineRange(double maxExposureUs);

    // ---- Temperature ----
    // The chip's thermometer: 0x3588 bit 0 latches a reading, which 0x3490 (low byte) and 0x3491
    // (high byte) then hold as a 12-bit two's-complement count of eighths of a degree. A failed
    // read or write before the reading ends with its status; the result is that of putting the
    // latch bit back.
    int ReadTemperature(float* celsius);

    // The stretched frame for a long exposure: the default writes VMAX and SHR = margin under
    // hold in one list. A member whose frame the FPGA times writes it there instead.
    virtual int WriteLongFrame(uint32_t frameLength);
    // Puts the frame length in force back after a stretched frame, inside the ordinary
    // exposure's hold bracket; the default writes VMAX.
    virtual int RestoreFrame();

    const uint32_t m_margin;      // a frame holds n lines while n + margin <= frame length
    bool m_longFrame = false;     // the frame is stretched for a long exposure
    bool m_triggerWidth = false;  // the exposure is the FPGA trigger pulse
};
