// A Gowin GW1N FPGA with embedded flash behind the configuration port of a simulated USB 2.0
// camera (request 0xE3: wIndex 160 open, 161 close, 162 instruction with its parameter in the
// high byte of wValue, 163 data in and out, 164 check). It answers the instructions the flash
// update uses: 0x41 status (read back as a little-endian word, bit 13 done), 0x05 SRAM erase
// (the running configuration stops), 0x75 flash erase, 0x71 flash write (an address of four
// bytes, then 256-byte pages with parameter 26), 0x3C reload (the part starts from its flash when
// the flash holds an image: its first word the "GW1N" header). Pages are kept by address, so a
// test reads back what landed.
//
// Faults on demand: a port that refuses to open, a failing port check, a done bit that never
// rises after a reload, one that never falls.
//
// Like CSimUsbCamera, it shares no tables with the SDK. It takes over request 0xE3 of the
// camera. Thread-safe like the camera model (lock order: the camera's mutex, then this one).
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "SimUsbCamera.h"

struct SimGw1nConfig {
    bool done = true;     // the part starts configured
    int reloadReads = 2;  // status reads after a reload before done rises
};

class CSimGw1n {
  public:
    static constexpr size_t kPageBytes = 256;

    CSimGw1n(CSimUsbCamera& camera, const SimGw1nConfig& config = {});
    CSimGw1n(const CSimGw1n&) = delete;
    CSimGw1n& operator=(const CSimGw1n&) = delete;

    // ---- state --------------------------------------------------------------------------------
    // Pages written since the last flash erase, by the address sent before them.
    std::map<uint32_t, std::vector<uint8_t>> Pages() const;
    // The flash as bytes: each page at four times its address, 0xFF where nothing was written.
    std::vector<uint8_t> Flash() const;
    // Every instruction in order: (instruction, parameter).
    std::vector<std::pair<uint8_t, uint8_t>> Instructions() const;
    bool Done() const;
    bool PortOpen() const;
    int FlashErases() const;

    // ---- faults -------------------------------------------------------------------------------
    void SetRefuseOpen(bool on);
    void SetFailCheck(bool on);
    void SetDoneNeverRises(bool on);
    void SetDoneStuck(bool on);  // neither an erase nor anything else clears done

  private:
    std::optional<SimControlResult> OnRequest(const SimControlSetup& s, uint8_t* data);
    void Instruction(uint8_t code, uint8_t parameter);
    uint32_t StatusWord();

    const SimGw1nConfig m_config;
    mutable std::mutex m_mutex;  // guards everything below
    bool m_done;
    bool m_portOpen = false;
    uint8_t m_lastInstruction = 0;
    std::optional<int> m_reloadLeft;  // status reads until done rises after a reload
    bool m_writeArmed = false;        // 0x71 seen: an address and pages may follow
    std::optional<uint32_t> m_address;
    std::map<uint32_t, std::vector<uint8_t>> m_pages;
    std::vector<std::pair<uint8_t, uint8_t>> m_instructions;
    int m_flashErases = 0;
    bool m_refuseOpen = false;
    bool m_failCheck = false;
    bool m_doneNeverRises = false;
    bool m_doneStuck = false;
};
