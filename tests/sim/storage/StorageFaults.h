// Fault injection for the simulated EEPROM and flash: rules that make chosen calls fail with a
// status, or make a write report success while storing nothing (the read-back then differs).
//
//   faults.Fail(StorageOp::kWrite, CAMERA_STATUS_IO_ERROR);            // the next write fails
//   faults.Fail(StorageOp::kRead, -13, StorageFaults::kAlways, 2);     // all reads after two
//   faults.Drop(StorageFaults::kAlways, 0, {0x11000, 0x12000});         // block B never sticks
//
// Thread safety: none of its own; the owning model calls it under its mutex.
#pragma once

#include <cstdint>
#include <vector>

namespace qvsim {

enum class StorageOp { kRead, kWrite, kErase };

struct AddressRange {
    uint32_t from = 0;
    uint32_t to = UINT32_MAX;  // exclusive
};

class StorageFaults {
  public:
    static constexpr int kAlways = -1;

    enum class Verdict { kPass, kFail, kDrop };

    // The matching calls of op after the first `skip` of them fail with code, `count` times
    // (kAlways: every one). A call matches when it touches the range.
    void Fail(StorageOp op, int code, int count = 1, int skip = 0, AddressRange range = {});
    // Matching writes report success and change nothing.
    void Drop(int count = 1, int skip = 0, AddressRange range = {});
    void Clear() { m_rules.clear(); }

    // Consulted by the model for every call; the first rule that fires decides.
    Verdict Check(StorageOp op, uint32_t address, uint32_t len, int* code);

  private:
    struct Rule {
        StorageOp op;
        Verdict verdict;
        int code;
        int count;
        int skip;
        AddressRange range;
    };
    std::vector<Rule> m_rules;
};

}  // namespace qvsim
