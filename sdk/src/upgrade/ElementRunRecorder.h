// ElementRunRecorder: the runs of elements an upgrade writes, kept as a byte stream of small
// records, so that what the check holds besides the bytes to write stays a few bytes per run
// whatever the lengths and types in the file. Each record is four LEB128 numbers: the bytes
// passed over since the run before, the type, the length and the count (4 bytes while each is
// below 128, a byte more per 7 bits of a larger one).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// A run of elements to write: count elements of one type and length in a row, after skipBefore
// bytes of elements passed over since the run before.
struct ElementRun {
    uint64_t skipBefore;
    uint32_t type;
    uint32_t length;
    uint32_t count;
};

// The run recorded at *at in records, *at moved past it: false at their end.
bool GetElementRun(const std::vector<uint8_t>& records, size_t* at, ElementRun* run);

// Gathers the elements to write into runs; a run's record is made when the run is closed.
// Without records it only counts their bytes; with them it refuses to grow them past limit
// (what the count found, so a file that changed in between cannot make them grow).
class ElementRunRecorder {
  public:
    ElementRunRecorder(std::vector<uint8_t>* records, size_t limit)
        : m_records(records), m_limit(limit) {}

    // One more element to write, after skip bytes passed over: false when the records would
    // pass the limit.
    bool Add(uint64_t skip, uint32_t type, uint32_t length);
    // Records the open run: false when it would pass the limit.
    bool Close();
    size_t Bytes() const { return m_bytes; }

  private:
    std::vector<uint8_t>* m_records;
    size_t m_limit;
    size_t m_bytes = 0;
    ElementRun m_run{};
    bool m_open = false;
};
