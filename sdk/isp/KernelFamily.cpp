#include "KernelFamily.h"

#include <atomic>

namespace qv::isp {

namespace {

KernelFamily WidestSupported() {
    // __builtin_cpu_supports("avx2") also asks the operating system (XGETBV) whether it saves
    // the 256-bit registers.
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") ? KernelFamily::kAvx2 : KernelFamily::kSse41;
}

// Read once per frame by every camera's kernels; written at load time and by the seam.
std::atomic<KernelFamily> g_family{WidestSupported()};

}  // namespace

KernelFamily ActiveKernelFamily() {
    return g_family.load(std::memory_order_relaxed);
}

bool KernelFamilySupported(KernelFamily family) {
    if (family == KernelFamily::kSse41) return true;
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

bool SelectKernelFamily(KernelFamily family) {
    if (!KernelFamilySupported(family)) return false;
    g_family.store(family, std::memory_order_relaxed);
    return true;
}

const char* KernelFamilyName(KernelFamily family) {
    return family == KernelFamily::kAvx2 ? "avx2" : "sse4.1";
}

}  // namespace qv::isp
