// CIMX990Family: the Sony SWIR chips IMX990, IMX991 and IMX992 (mono, bus 0x34/0x12) on the
// hold-bracket register map they share with the IMX487. Beyond it they read their temperature,
// and on board 111 (and the IMX992 on every board) the FPGA generates the frame: FPGA registers 35
// to 37 on board 111, register 40 as the frame length.
//
// A member is a descriptor: its boards and clocks, line lengths, tables and margins.
#pragma once

#include <cstdint>
#include <span>

#include "ImxHoldMap.h"

// The IMX990 and IMX991 share their clocks on every board, the 8-bit converter settings and
// the two readout speed tables.
namespace imx990 {
inline constexpr sensor::PllSetting kPll100 = sensor::Pll({27, 1, 1, 1, 10, 13, 13, 6}, 74250000);
inline constexpr sensor::PllSetting kPll201 = sensor::Pll({18, 1, 1, 1, 12, 12, 6, 27}, 74250000);
// Board 9 runs the chip at half the clock; its line lengths are those of the other USB boards.
inline constexpr sensor::PllSetting kPll9 = sensor::Pll({1, 8, 128, 0, 0, 0, 0, 0}, 37125000);
// clang-format off
inline constexpr uint16_t kSettings8[] = {
    0x3220, 0x50,  0x3221, 0x16,  0x3224, 0x50,  0x3225, 0x16,  0x343C, 0xF0,  0x3444, 0x02,
    0x3445, 0x03,  0x3502, 0x00,
};
inline constexpr uint16_t kSpeedA[] = {0x3226, 0xA3,  0x30DC, 0x01};
inline constexpr uint16_t kSpeedB[] = {0x3226, 0x93,  0x30DC, 0x00};
// clang-format on
}  // namespace imx990

class CIMX990Family : public CImxHoldMap {
  public:
    // A board: its reset line, clock and lane bits; the clock-generator setting where it has one.
    struct Board {
        int hwType;
        sensor::ResetLine reset;
        sensor::PllSetting pll;  // inputClock: the chip's clock on this board
        bool pllChecked;         // a failing SetPll ends Init
        bool settle;             // 20 ms after the clock
        uint16_t laneBits;
        bool speedTableA;  // the GigE boards' readout speed table
        // Line lengths (clocks) for 8-bit and 10/12-bit output.
        uint32_t line8, line12;
        bool initServes;  // Init and the speeds serve it (the reset alone may know more boards)
    };

    struct Chip {
        const char* instanceName;
        const char* kind;
        int32_t auxValue;
        uint32_t mediaAtConstruction;
        uint32_t defaultIndex;  // preset resolution, also the only bit of the mask
        uint32_t fullWidth, fullHeight;
        uint32_t expLinesMax;  // before the first frame speed
        uint32_t margin;       // a frame holds n lines while n + margin <= frame length
        std::span<const Board> boards;
        uint16_t widthCode8;  // 10 and 12 bits take width code 0
        // The FPGA generates the frame on every board (else on board 111 only).
        bool fpgaTimedEverywhere;
        uint16_t triggerOff, triggerOn;  // register 0x3230 in continuous and trigger modes
        uint16_t fullOffsetX, fullOffsetY, offsetX, offsetY;  // FPGA offsets of the windows
        std::span<const uint16_t> init, settings8;
        std::span<const uint16_t> outputMode[3];  // by width code
        std::span<const uint16_t> speedA, speedB;
        bool masterStart;  // 0x300C starts and stops the chip's master mode
    };

    int Reset() override;
    int Init(CameraInitParam* param) override;
    int SetExposure(double us) override;
    int SetFrameSpeed(int speed) override;
    int StreamOn() override;
    int StreamOff() override;
    int SetTriggerMode(int mode) override;
    int SoftTrigger() override;
    int SetRoiOffset(int x, int y) override;
    int GetTemperature(float* celsius) override;
    void GetCapability(SensorCapability& cap) override;

  protected:
    CIMX990Family(SensorTypeE type, imginf* inf, const Chip& chip);

    const Board* CurrentBoard(bool forInit);
    uint16_t WordBits() const { return m_widthCode | m_bitMode | m_laneBits; }
    bool FpgaTimed() const { return m_chip.fpgaTimedEverywhere || m_hwType == 111; }
    // The frame length to the FPGA: registers 35 to 37 on board 111, register 40 elsewhere.
    void WriteFpgaFrame(uint32_t frameLength);

    int WriteLongFrame(uint32_t frameLength) override;
    int RestoreFrame() override;

    const Chip& m_chip;
    int m_hwType = 0;
    uint16_t m_laneBits = 4;
    uint16_t m_widthCode = 0;
    bool m_speedTableA = false;
    uint32_t m_baseFrameLength = 0;  // the window's, before the frame speed
};
