// CUpgradeU2Camera: the update of a USB 2.0 camera (device type 0x1201). Element types:
//   1  image of the USB controller's EEPROM from address 0, at most 0x3800 bytes (the camera's
//      stored identity begins there); written in pieces of 1024 bytes, progress in bytes
//   3  JEDEC file of a Lattice MachXO2 FPGA (CLatticeBin), programmed over the camera's I2C bus
//      (request 0xD4, the FPGA's configuration port at address 0x40); progress in percent
//   4  configuration image for the embedded flash of a Gowin GW1N FPGA, written through the
//      USB controller's configuration port (request 0xE3); progress in percent
// Other types are skipped. A JEDEC file that does not parse is refused with the rest of the
// file's checks, before anything is written. The elements of one file together hold at most
// kMaxWrittenBytes (8 MiB: the EEPROM image, the JEDEC text of the largest MachXO2, about
// 1.5 MB, and a GW1N image fit many times over).
//
// The FPGA procedures pause as the parts need (a second after the MachXO2 erase, 200 us per
// row, half a second after the GW1N erase) on UpgradeClock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "upgrade/Upgrade.h"

class CUsbCamera;

class CUpgradeU2Camera : public CUpgrade {
  public:
    static constexpr uint32_t kEepromImageSize = 0x3800;
    static constexpr uint32_t kMaxWrittenBytes = 8 * 1024 * 1024;
    static constexpr uint16_t kEepromPiece = 1024;
    static constexpr uint8_t kFpgaBusAddress = 0x40;
    static constexpr uint32_t kGw1nHeaderWord = 0x4757314E;  // the first word of the image
    static constexpr int kGw1nPageWords = 64;

    explicit CUpgradeU2Camera(CUsbCamera* device);

    int Upgrade(const char* path, ProgressCallback progress, void* context) override;

    // ---- Requests of the USB controller: 0, or CAMERA_STATUS_IO_ERROR for a failed transfer
    //      or a wrong status byte ----
    // I2C to the FPGA at kFpgaBusAddress (request 0xD4): with and without a stop condition,
    // and a read of n bytes behind the status byte 8.
    int BusWrite(const uint8_t* data, uint16_t n);
    int BusWriteNoStop(const uint8_t* data, uint16_t n);
    int BusRead(uint8_t* data, uint16_t n);
    // The configuration port (request 0xE3, status byte 0 where there is one).
    int CfgPortOpen();
    int CfgPortClose();
    int CfgInstruction(uint8_t instruction, uint8_t flags);
    int CfgReadData(uint8_t* data, uint8_t n);
    int CfgWriteData(uint8_t flags, const uint8_t* data, uint16_t n);
    int CfgPortCheck();

    // ---- The element writers: 0, or negative ----
    int WriteEEPromImage(uint32_t length, const BYTE* data, const ElementProgress& progress);
    int ProgramMachXO2(uint32_t length, const BYTE* data, const ElementProgress& progress);
    int WriteGw1nFlash(uint32_t length, const BYTE* data, const ElementProgress& progress);

  protected:
    ElementKind KindOf(uint32_t type) const override;
    uint64_t MaxWrittenBytes() const override { return kMaxWrittenBytes; }
    int CheckElement(uint32_t type, uint32_t length, const BYTE* data) override;
    int WriteElement(uint32_t type, uint32_t length, BYTE* data,
                     const ElementProgress& progress) override;

  private:
    // One I2C transaction with the FPGA: the bytes out, then (when in is not empty) a read of
    // inLength bytes after a repeated start.
    int Transfer(const uint8_t* out, uint16_t outLength, uint8_t* in = nullptr,
                 uint16_t inLength = 0);
    template <size_t N>
    int Send(const uint8_t (&bytes)[N]) {
        return Transfer(bytes, N);
    }
    // The MachXO2's status register (0x3C) as a little-endian word of its four bytes.
    int ReadMachXO2Status(uint32_t* status);
    // Polls until the MachXO2 is no longer busy: 0, -1 for its fail bit or when it stays busy,
    // or the transfer's error.
    int WaitMachXO2();
    // Leaves the MachXO2's configuration mode after a failure; -1.
    int FailMachXO2();
    // The GW1N's status word (instruction 0x41, then four bytes); done is its bit 13.
    int ReadGw1nStatus(uint32_t* status);
    int EraseGw1n();
    int Gw1nInstructions(std::initializer_list<uint8_t> instructions, uint8_t flags = 5);

    CUsbCamera* m_pUsbCamera;  // the same device as m_pDevice
};
