// The instruction-set family the vector kernels run in. Every family computes the same bytes;
// they differ only in speed. The family is chosen once from the processor: AVX2 where the
// processor and the operating system offer 256-bit registers, SSE4.1 everywhere else. The
// sources of the AVX2 kernels are the only code built for AVX2, so the library loads and runs
// on a processor without it.
#pragma once

namespace qv::isp {

enum class KernelFamily {
    kSse41,
    kAvx2,
};

// The family the vector kernels of every camera run in.
KernelFamily ActiveKernelFamily();

// Whether this processor can run the family.
bool KernelFamilySupported(KernelFamily family);

// Internal seam for the tests and the benchmarks, which compare the families on one machine:
// from now on the vector kernels run in `family`. False, and nothing changed, when the
// processor cannot run it. Call it between frames, not while a frame is processed.
bool SelectKernelFamily(KernelFamily family);

// The family's name for reports: "sse4.1" or "avx2".
const char* KernelFamilyName(KernelFamily family);

}  // namespace qv::isp
