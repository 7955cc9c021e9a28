// CTestChip: a minimal chip driver on the shared layer, for tests of the layer and the factory.
#pragma once

#include <cstdint>
#include <vector>

#include "sensors/SensorBase.h"
#include "sensors/SensorFactory.h"

namespace qvsim {

// Reset on GPIO 28 with bus 0x20/0x22, a format list chosen by the test, an identity register
// 0x3000 = 0x0356, and the layer's protected steps made reachable.
class CTestChip : public CSensorBase {
  public:
    static inline std::vector<uint32_t> formats{sensor::kBayerGR8, sensor::kBayerGR12};
    static inline bool mono = false;

    CTestChip(SensorTypeE type, imginf* inf) : CSensorBase(type, inf) {
        SetPixelFormat(sensor::kBayerGR8);
    }

    static int Probe(SensorTypeE type, imginf* inf) {
        CTestChip probe(type, inf);
        return CheckChipIdentity(probe, {{0x3000, 0x0356}});
    }
    static int GetSensorInfo(SensorTypeE type, SensorInfo* info) {
        return FillSensorInfo("CAR0144", type, info);
    }

    int Reset() override { return ResetAndSelectBus(sensor::GpioReset(28), 0x20, 0x22, 20); }
    int Init(CameraInitParam*) override { return 0; }
    int SetExposureLines(uint32_t lines) override {
        RecordExposureLines(lines);
        return 0;
    }
    int SetExposure(double us) override { return SetExposureLines(LinesForUs(us, 1)); }
    int SetFrameSpeed(int) override { return 0; }
    int SetAnalogGain(uint32_t) override { return 0; }
    int SetBlackLevel(uint32_t) override { return 0; }
    int StreamOn() override { return 0; }
    int StreamOff() override { return 0; }
    int SetTriggerMode(int mode) override { return ApplyTriggerMode(mode, 2000, 50000); }
    int SoftTrigger() override { return 0; }
    void GetCapability(SensorCapability& cap) override {
        cap.isMono = mono ? 1 : 0;
        cap.supportMediaType = formats;
    }

    using CSensorBase::ApplyPll;
    using CSensorBase::ApplyTriggerControl;
    using CSensorBase::CheckChipIdentity;
    using CSensorBase::FrameCountMaxLines;
    using CSensorBase::GetFrameBufferMode;
    using CSensorBase::LinesForUs;
    using CSensorBase::PulseGpioPair;
    using CSensorBase::PulseReset;
    using CSensorBase::RecomputeTiming;
    using CSensorBase::SetPixelFormat;
    using CSensorBase::SetupImageWindow;
    using CSensorBase::TakeChannelMask;
    using CSensorBase::WhileStopped;
    using CSensorBase::WriteFrameCountShutter;
    using CSensorBase::WriteFrameTiming;
    using CSensorBase::WriteShutter;
    void SetStreaming(bool on) { m_streaming = on; }
    uint32_t PixelFormat() const { return m_pixelFormat; }
    uint16_t BitMode() const { return m_bitMode; }
    void SetLineTiming(uint32_t lineLength, uint32_t frameLength, uint32_t clock) {
        m_lineLength = lineLength;
        m_frameLength = frameLength;
        RecomputeTiming(clock);
    }
    double LineTimeNs() const { return m_lineTimeNs; }
};

}  // namespace qvsim
