// A Lattice MachXO2 FPGA on the I2C pass-through of a simulated USB 2.0 camera, at bus address
// 0x40, as its configuration port answers: enable and disable of configuration mode, the
// feature row and feature bits, erase, the configuration and UFM arrays with their address
// counters (program a row, read a row back), the DONE bit, refresh, and the status register
// (four bytes; the third holds done 0x01, configuration mode 0x02, busy 0x10 and fail 0x20).
//
// Busy lasts a given number of status reads after each erase and program; faults on demand:
// the fail bit, a part that stays busy, a row that reads back different, DONE that never sets.
//
// Like CSimUsbCamera, it shares no tables with the SDK. Thread-safe like the camera model (lock
// order: the camera's mutex, held by the I2C hooks, then this one).
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "SimUsbCamera.h"

struct SimMachXO2Config {
    std::array<uint8_t, 8> featureRow{};
    std::array<uint8_t, 2> featureBits{};
    int busyReads = 2;  // status reads that report busy after an erase or a program
    bool done = true;   // the part starts configured
};

class CSimMachXO2 {
  public:
    static constexpr uint8_t kBusAddress = 0x40;
    using Row = std::array<uint8_t, 16>;

    CSimMachXO2(CSimUsbCamera& camera, const SimMachXO2Config& config = {});
    CSimMachXO2(const CSimMachXO2&) = delete;
    CSimMachXO2& operator=(const CSimMachXO2&) = delete;

    // ---- state --------------------------------------------------------------------------------
    // The rows programmed since the last erase, in address order, up to the last one
    // programmed.
    std::vector<Row> ConfigRows() const;
    std::vector<Row> UfmRows() const;
    std::array<uint8_t, 8> FeatureRow() const;
    std::array<uint8_t, 2> FeatureBits() const;
    bool Done() const;
    bool ConfigMode() const;
    int Erases() const;
    int FeatureWrites() const;  // feature row programs
    int Refreshes() const;

    // ---- faults -------------------------------------------------------------------------------
    void SetFailBit(bool on);          // every status read reports fail
    void SetStaysBusy(bool on);        // every status read reports busy
    void SetDoneNeverSets(bool on);    // the DONE program has no effect
    void SetFeatureBitsFail(bool on);  // programming the feature bits sets the fail bit
    // Reading back configuration row `row` answers it with its first byte inverted.
    void CorruptConfigReadBack(std::optional<size_t> row);

  private:
    void OnWrite(const uint8_t* data, size_t n);
    bool OnRead(uint8_t* out, size_t n);
    void Busy() { m_busyLeft = m_config.busyReads; }

    const SimMachXO2Config m_config;
    mutable std::mutex m_mutex;  // guards everything below
    std::vector<std::optional<Row>> m_cfg;
    std::vector<std::optional<Row>> m_ufm;
    std::array<uint8_t, 8> m_featureRow;
    std::array<uint8_t, 2> m_featureBits;
    bool m_done;
    bool m_configMode = false;
    bool m_ufmSelected = false;
    size_t m_address = 0;
    int m_busyLeft = 0;
    int m_erases = 0;
    int m_featureWrites = 0;
    int m_refreshes = 0;
    std::vector<uint8_t> m_reply;  // what the next read answers
    bool m_replyStatus = false;    // the next read answers the status register
    bool m_failBit = false;
    bool m_staysBusy = false;
    bool m_doneNeverSets = false;
    bool m_featureBitsFail = false;
    std::optional<size_t> m_corruptRow;
};
