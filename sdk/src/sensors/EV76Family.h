// CEV76Family: the e2v EV76C560 and EV76C570 (8-bit registers, 16-bit data, bus 0x86/0x21). The
// frame length follows a pixel rate per frame speed for the window in use; the exposure counts
// units of an exposure-clock divider, which grows for exposures of 65536 lines and more; the gain
// is a coarse analog stage with a fine mantissa in register 0x91. The chip runs its own operating
// mode (0x8B): standby, continuous or triggered; streaming only switches the FPGA.
//
// The two chips differ in constants only: a member is a descriptor.
#pragma once

#include <cstdint>
#include <span>

#include "SensorBase.h"

class CEV76Family : public CSensorBase {
  public:
    struct Chip {
        const char* instanceName;
        const char* kind;
        int32_t auxValue;
        SensorTypeE monoCode;
        uint16_t identity;  // register 0x7F
        uint32_t defaultIndex;
        uint32_t fullWidth, fullHeight;
        uint32_t expLinesMax;     // before the first frame speed
        bool lineRangeFromSpeed;  // each frame speed sets 2 s of lines as the range
        std::span<const sensor::BoardReset> boards;
        uint32_t lineLength, divider;        // clocks per line, exposure-clock divider
        uint32_t lineLength305, divider305;  // the same on board 305
        uint16_t dividerFlags;               // ORed into register 0x84
        uint32_t frameLength;                // Init's, before the first frame speed
        // Pixel rates (per second) of speeds 0, 1, 2 on the boards other than 305 ...
        uint32_t rate[3];
        // ... and on board 305, whose speed 2 runs the slower rate with 10 or 12 bits.
        uint32_t rate305[3], rate305Wide;
        bool coarseAtThreshold;  // a coarse step is taken from its threshold on (else above it)
        uint16_t triggerTimingA;
        std::span<const uint16_t> tables[2];  // Init's register tables, in order
    };

    int Reset() override;
    int Init(CameraInitParam* param) override;
    int SetExposureLines(uint32_t lines) override;
    int SetExposure(double us) override;
    int SetFrameSpeed(int speed) override;
    int SetAnalogGain(uint32_t gain) override;
    int StreamOn() override;
    int StreamOff() override;
    int SetTriggerMode(int mode) override;
    int SoftTrigger() override;
    void GetCapability(SensorCapability& cap) override;

  protected:
    CEV76Family(SensorTypeE type, imginf* inf, const Chip& chip);

    static constexpr uint16_t kRegIdentity = 0x7F;

    bool Serves(int hw) const;
    uint16_t WordBits() const { return m_laneBits | m_bitMode; }

    const Chip& m_chip;
    uint16_t m_laneBits = 0;
    uint32_t m_divider = 0;   // the exposure clock's divider at ordinary exposures
    uint16_t m_rowStart = 0;  // the chip's window start: the even offsets and 6
    uint16_t m_columnStart = 0;
};
