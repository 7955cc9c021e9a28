// The FPGA of a simulated USB camera, attached to a CSimUsbCamera through its hooks: the
// PROG/INIT/DONE pins and the configuration port (0xE3 wIndex 160/161, data 0xE4), the
// instruction port of the type 108 FPGA (0xE3 wIndex 162/163), the flash boot of type 7
// (0xBC commands 4/3/5, data 0xBE, boot-select pin), and the sensor clock PLL's reconfiguration
// port behind FPGA registers 6 to 9 and 131.
//
// The FPGA runs an image only when a complete, valid one arrived: the build's placeholder
// images carry a header naming their hardware and sensor types and a CRC-32 of the payload, and
// this model checks them as the FPGA's own CRC check would. Only then does DONE rise and the
// version register (129) read the configured version; a PROG pulse clears both.
//
// Like CSimUsbCamera, it shares no tables with the SDK. Thread-safe like the camera model.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "SimUsbCamera.h"

struct SimUsbFpgaConfig {
    // Board wiring.
    uint8_t progPin = 64;
    int initPin = 67;  // -1: no INIT line
    uint8_t donePin = 65;
    int bootSelectPin = -1;        // type 7: 16; low when PROG is released = boot from flash
    bool instructionPort = false;  // the type 108 FPGA, loaded through 0xE3/0xE4 instructions
    // Register 129 once an image runs.
    uint16_t configuredVersion = 0;
    // INIT reads low this many times after PROG is released before it rises.
    int initDelayReads = 3;
};

// A downloaded placeholder image, as its header names it.
struct SimFpgaImage {
    std::string file;  // the image's file name
    uint16_t hardwareType = 0;
    uint8_t kind = 0;     // 0 PROG path, 1 flash, 2 instruction port
    std::string sensors;  // the sensor types it is for
    size_t length = 0;    // header and payload
};

class CSimUsbFpga {
  public:
    CSimUsbFpga(CSimUsbCamera& camera, const SimUsbFpgaConfig& config);
    CSimUsbFpga(const CSimUsbFpga&) = delete;
    CSimUsbFpga& operator=(const CSimUsbFpga&) = delete;

    // ---- state ------------------------------------------------------------------------------
    // The FPGA runs an image with this version (DONE high), or none (DONE low, version 0).
    void SetRunning(uint16_t version);
    void SetUnconfigured();
    bool Running() const;
    // Parses a placeholder image header; nothing when the bytes are not a complete, valid
    // placeholder (trailing zero bytes are allowed).
    static std::optional<SimFpgaImage> Parse(const std::vector<uint8_t>& bytes);

    // ---- what arrived -----------------------------------------------------------------------
    // Every image the FPGA accepted, in order (configuration port, instruction port or boot
    // from flash).
    std::vector<SimFpgaImage> Loaded() const;
    // Bytes received through the configuration port since the last PROG pulse.
    std::vector<uint8_t> Received() const;
    int ProgPulses() const;
    int InitReads() const;
    std::vector<uint16_t> FlashCommands() const;  // 0xBC commands 3, 4 and 5
    std::vector<uint8_t> Instructions() const;    // instruction-port codes

    // ---- faults -----------------------------------------------------------------------------
    void SetInitNeverRises(bool on);
    // DONE stays low and INIT falls at the end of the data, as on a CRC error.
    void SetRejectImages(bool on);
    // DONE stays low and INIT high whatever arrives.
    void SetDoneNeverRises(bool on);

    // ---- sensor clock PLL -------------------------------------------------------------------
    static constexpr size_t kDrpSize = 32;
    std::array<uint16_t, kDrpSize> Drp() const;
    void SetDrp(const std::array<uint16_t, kDrpSize>& values);
    // Every DRP write the PLL took: address and value.
    std::vector<std::pair<uint8_t, uint16_t>> DrpWrites() const;
    void SetPllNeverLocks(bool on);
    // The next n DRP writes are lost (the read-back then differs).
    void DropDrpWrites(int n);
    int PllReleases() const;

  private:
    std::optional<SimControlResult> OnGpioRead(const SimControlSetup& s, uint8_t* data);
    std::optional<SimControlResult> OnConfigPort(const SimControlSetup& s, uint8_t* data);
    std::optional<SimControlResult> OnConfigData(const SimControlSetup& s, uint8_t* data);
    std::optional<SimControlResult> OnFlashCommand(const SimControlSetup& s, uint8_t* data);
    std::optional<SimControlResult> OnFpgaWrite(const SimControlSetup& s, uint8_t* data);
    void OnPin(uint8_t pin, uint8_t mode, uint8_t level);
    void Clear();
    void Start(const SimFpgaImage& image);
    void CheckData();
    void Instruction(uint8_t code);

    CSimUsbCamera& m_camera;
    const SimUsbFpgaConfig m_config;
    // Guards everything below. Lock order: the camera's mutex (held by the hooks), then this
    // one; the accessors never call into the camera while holding it.
    mutable std::mutex m_mutex;
    bool m_doneStuck = false;
    bool m_running = false;
    bool m_progLow = false;
    bool m_portOpen = false;
    bool m_initNeverRises = false;
    bool m_reject = false;
    int m_initLeft = 0;
    int m_progPulses = 0;
    int m_initReads = 0;
    std::vector<uint8_t> m_received;
    std::vector<SimFpgaImage> m_loaded;
    std::vector<uint16_t> m_flashCommands;
    // Instruction port.
    std::vector<uint8_t> m_instructions;
    uint8_t m_lastInstruction = 0;
    bool m_configMode = false;
    bool m_writingSram = false;
    // PLL.
    std::array<uint16_t, kDrpSize> m_drp{};
    std::vector<std::pair<uint8_t, uint16_t>> m_drpWrites;
    bool m_pllNeverLocks = false;
    int m_dropWrites = 0;
    int m_pllReleases = 0;
};
