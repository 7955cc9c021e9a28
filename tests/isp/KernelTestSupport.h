// Test helpers of the kernel tests: memory with a guard page after it, and the kernel family
// a test runs in.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "KernelFamily.h"

namespace qvtest {

// Memory whose last byte lies right before an inaccessible page: a read or write past the end
// faults at once. One region per use is kept and reused, so large frames do not pay for fresh
// pages on every run.
class GuardedBuffer {
  public:
    uint8_t* Place(size_t size) {
        if (size > m_capacity) Grow(size);
        return m_end - size;
    }
    ~GuardedBuffer() {
        if (m_base != nullptr) munmap(m_base, m_total);
    }

  private:
    void Grow(size_t size) {
        if (m_base != nullptr) munmap(m_base, m_total);
        const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        const size_t pages = (size + page - 1) / page;
        m_total = (pages + 1) * page;
        void* base =
            mmap(nullptr, m_total, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (base == MAP_FAILED) std::abort();
        m_base = static_cast<uint8_t*>(base);
        if (mprotect(m_base + pages * page, page, PROT_NONE) != 0) std::abort();
        m_end = m_base + pages * page;
        m_capacity = pages * page;
    }

    uint8_t* m_base = nullptr;
    uint8_t* m_end = nullptr;
    size_t m_total = 0;
    size_t m_capacity = 0;
};

// Widths of the table of frame shapes every kernel family runs: narrow frames, odd multiples
// of the 8-, 16- and 32-sample vector widths, widths just past a vector, 18 and 20 on either
// side of the narrowest frame that holds a block of sixteen between two border cells, and the
// 12, 68 and 1284 of real layouts. Each kernel takes those its rules cover (the colour kernels
// even widths from 12). The sweep of every width in KernelFamilySweepTest covers the rest.
inline constexpr int kShapeWidths[] = {1,  2,  3, 5,  7,  8,  24, 40, 16, 48,  80,
                                       32, 96, 9, 17, 33, 18, 20, 12, 68, 1284};

// Runs the vector kernels in one family for the life of the object and puts the family in
// force before back afterwards. `Runs()` is false where the processor lacks the family.
class ScopedKernelFamily {
  public:
    explicit ScopedKernelFamily(qv::isp::KernelFamily family)
        : m_previous(qv::isp::ActiveKernelFamily()), m_runs(qv::isp::SelectKernelFamily(family)) {}
    ~ScopedKernelFamily() { qv::isp::SelectKernelFamily(m_previous); }
    ScopedKernelFamily(const ScopedKernelFamily&) = delete;
    ScopedKernelFamily& operator=(const ScopedKernelFamily&) = delete;
    bool Runs() const { return m_runs; }

  private:
    qv::isp::KernelFamily m_previous;
    bool m_runs;
};

}  // namespace qvtest
