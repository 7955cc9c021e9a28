// FPGA configuration of a USB camera: the check-and-load run when the sensor driver is created,
// the three configuration primitives the sensor drivers also call, and the instruction-port
// download of hardware type 108.
//
// By hardware type the FPGA is
//   - self-configuring (8, 9, 108, 300-306): the host pulses its reset and checks its version;
//     type 108 is loaded through its instruction port when it reports itself unconfigured;
//   - host-configured (all others): when DONE is low or the version is not one the hardware
//     and sensor type accept, the host pulses PROG, waits for INIT, sends the image through the
//     configuration port and waits for DONE. Type 7 also writes its second image to the
//     camera's flash and reboots the FPGA from there.
// Pins (GPIO of the USB controller): PROG/INIT/DONE 25/23/27 for 100, 101 and 107; 25/-/27 for
// 110 and 111; 64/67/65 for the others. Type 106 reports DONE on pin 27 for the first check
// but is configured through 64/67/65.
//
// Works on the camera's vendor transfer alone; the device serialises the requests and holds
// its transfer mutex for the whole stream open.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "usb/UsbVendorRequest.h"

namespace qv::usb {

class CUsbFpgaConfig {
  public:
    // Waits in microseconds; tests pass one that does not sleep.
    using PauseUs = void (*)(unsigned us);

    static constexpr int kInitReads = 1000;        // INIT polls after the PROG pulse
    static constexpr int kDonePasses = 1001;       // INIT/DONE polls after the data
    static constexpr size_t kTrailingZeros = 200;  // extra configuration clocks of 110 and 111
    static constexpr uint32_t kJtagDone = 0x2000;  // status bit: the FPGA runs an image
    static constexpr unsigned kFlashBootUs = 1000000;

    CUsbFpgaConfig(VendorTransfer transfer, int hardwareType, PauseUs pause = nullptr);

    // Makes sure the FPGA runs the image for the hardware type and this sensor type (nothing to
    // do for type 0). 0; CAMERA_STATUS_FPGA_ERROR when the FPGA cannot be brought to a version this
    // camera accepts (no image, image damaged, PROG/INIT/DONE or data failure, wrong version,
    // failed instruction-port download); the request's own code when the reset pulse or, on type 7,
    // the flash write fails.
    int LoadFpga(int sensorType);

    // PROG pulse, wait for INIT (up to 1000 reads), open the configuration port. 0, -1 when
    // INIT never rises, a GPIO request's code, or -13 when the port refuses.
    int FpgaConfigBegin();
    // Wait for DONE (up to 1001 passes; INIT falling ends it at once), then close the port. 0,
    // -1, a GPIO request's code, or -13 when the port refuses.
    int FpgaConfigEnd();
    // Configuration data in pieces of at most 1024 bytes. 0, -1 for no data, -13.
    int FpgaConfigWrite(const uint8_t* data, size_t length);

    // Instruction port of type 108 (requests 0xE3 and 0xE4).
    int JtagBegin();
    int JtagEnd();
    int JtagInstruction(uint8_t code);
    int JtagReadBack(uint32_t* value);  // the 4 bytes after an instruction, little-endian
    int JtagReadId(uint32_t* id);
    int JtagReadStatus(uint32_t* status);
    // 0 when the status shows the image running afterwards, else -13.
    int JtagDownload(const uint8_t* data, size_t length);

    static bool IsSelfConfiguring(int hardwareType);
    // Whether a host-configured FPGA reporting this version is left as it is.
    static bool IsVersionAccepted(int hardwareType, int sensorType, uint16_t version);

  private:
    struct Pins {
        uint8_t prog;
        int init;  // -1: the board has no INIT line
        uint8_t done;
    };
    Pins ConfigPins() const;
    uint8_t DoneProbePin() const;
    int LoadSelfConfiguring(int sensorType);
    int LoadHostConfigured(int sensorType);
    int JtagStep(int sensorType);
    int WriteFlashImage(const std::vector<uint8_t>& image);
    int ReadPin(uint8_t pin, uint8_t* level);

    VendorTransfer m_transfer;
    int m_hardwareType;
    PauseUs m_pause;
};

}  // namespace qv::usb
