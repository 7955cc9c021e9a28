// CIMX294Family: what the IMX294 and IMX533 drivers share. Both colour chips sit on hardware
// types 107 (USB, reset on GPIO 45) and 201 (GigE). The FPGA generates their frame and line
// timing (FPGA registers 35 to 37 on board 107, SetImageTiming elsewhere) and the chip holds only
// the shutter. Exposures longer than the shutter reaches run the host-timed long-exposure cycle.
// Gain is the Sony inverse code with a digital factor of 1, 2, 4 or 8 in front.
#pragma once

#include <cstdint>

#include "LongExposureCycle.h"
#include "SensorBase.h"
#include "SensorGain.h"

class CIMX294Family : public CSensorBase {
  public:
    struct Chip {
        const char* instanceName;
        const char* kind;
        int32_t auxValue;
        uint8_t busAddress;
        uint32_t defaultIndex;  // preset resolution, also the only bit of the mask
        uint32_t fullWidth, fullHeight;
        uint32_t gainMax;            // thousandths
        uint32_t expLinesMax;        // before the first frame speed
        uint32_t gainScale;          // S of the inverse code
        uint32_t gainCap;            // the largest gain the code takes; above it the code stays
        uint16_t columnAdd, rowAdd;  // the chip's window start past the even offsets
        CLongExposureCycle::Chip cycle;
    };

    ~CIMX294Family() override;

    int Reset() override;
    int Uninit() override;  // ends the long-exposure cycle, the camera out of long exposure
    int SetExposure(double us) override;
    int SetFrameSpeed(int speed) override;
    int StreamOn() override;
    int StreamOff() override;
    int SetTriggerMode(int mode) override;
    int SoftTrigger() override;
    int SetRoiOffset(int x, int y) override;
    void GetCapability(SensorCapability& cap) override;

    // The long-exposure cycle (tests step it by hand).
    CLongExposureCycle& Cycle() { return m_cycle; }

  protected:
    CIMX294Family(SensorTypeE type, imginf* inf, const Chip& chip);

    static bool Serves(int hw) { return hw == 107 || hw == 201; }
    uint16_t WordBits() const { return m_ifMode | m_bitMode; }
    // The resolution record into the window members and the chip's window start.
    void ApplyWindow();
    // The FPGA frame timing (frame length in lines, line length in clocks); frameInForce gets
    // the frame length the path holds.
    int WriteImageTiming(uint32_t frameLength, uint32_t lineLength,
                         uint32_t* frameInForce = nullptr);
    // The gain code of a gain and the gain it gives: the analog code, the digital step (0 to 3)
    // and the gain in thousandths.
    sensor::InverseGainCode EncodeGain(uint32_t gain) const;
    // The exposure's time in whole milliseconds, as the cycle takes it.
    int ExposureMs() const;

    // ---- What the members decide ----
    virtual int WriteWindow() = 0;        // the chip's window registers
    virtual int WriteStandby() = 0;       // StreamOff's standby write
    virtual bool CycleRunning() = 0;      // the trigger modes end a cycle when this holds
    virtual int SoftTriggerPeriod() = 0;  // a software trigger restarts a cycle; <0: none runs

    const Chip& m_chip;
    CLongExposureCycle m_cycle;
    uint16_t m_ifMode = 0;  // in every sensor-interface word
    uint16_t m_windowX = 0, m_windowY = 0;
};
