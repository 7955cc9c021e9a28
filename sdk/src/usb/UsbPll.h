// The sensor clock of a USB camera: the PLL set-up that sensor drivers ask for with eight
// settings while they initialise. What the settings program depends on the hardware type: FPGA
// clock registers (types 9 and 108), the clock chip on the I2C bus (300-302, 304, 305), nothing
// (8, 110, 111, 306), or the FPGA's Spartan-6 PLL through its reconfiguration port (all others).
//
// Works on the camera's vendor transfer alone; the device serialises the requests.
#pragma once

#include <cstdint>

#include "usb/S6Pll.h"
#include "usb/UsbVendorRequest.h"

namespace qv::usb {

class CUsbPll {
  public:
    // Waits in microseconds; tests pass one that does not sleep.
    using PauseUs = void (*)(unsigned us);

    // FPGA registers of the reconfiguration port.
    static constexpr uint16_t kRegStrobe = 6;   // 1 read, 2 write, 0 idle
    static constexpr uint16_t kRegAddress = 7;  // DRP address * 2 + 1; 0 releases the PLL
    static constexpr uint16_t kRegWriteData = 8;
    static constexpr uint16_t kRegReadData = 9;
    static constexpr uint16_t kRegStatus = 131;  // bit 0: locked
    static constexpr uint8_t kClockChipAddress = 0x41;
    static constexpr int kAttempts = 10;
    static constexpr int kLockPolls = 10;
    static constexpr unsigned kLockPollUs = 2000;

    CUsbPll(VendorTransfer transfer, int hardwareType, PauseUs pause = nullptr);

    // 0; -6 for a feedback multiplier (settings[0]) outside 1 to 64 on the reconfiguration
    // path; -1 when a DRP read fails; -13 (or the transfer's code) when a write fails;
    // CAMERA_STATUS_FPGA_ERROR when the PLL neither takes the values nor locks in 10 attempts.
    int SetPll(const S6PllSettings& settings);

  private:
    int SetFpgaClock(const S6PllSettings& p, uint16_t low, uint16_t high);
    int SetClockChip(const S6PllSettings& p);
    int Reconfigure(const S6PllSettings& p);
    int ReadDrp(uint8_t address, uint16_t* value);
    int WriteDrp(uint8_t address, uint16_t value);
    int WaitLocked();

    VendorTransfer m_transfer;
    int m_hardwareType;
    PauseUs m_pause;
};

}  // namespace qv::usb
