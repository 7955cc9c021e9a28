// Builds every function that follows for AVX2, up to Avx2TargetEnd.h. Included by the AVX2
// sources after their other headers, so the inline functions of those stay built for the
// baseline and the library still runs on a processor without AVX2. No include guard: each
// source opens and closes the region once.
//
// clang (the fuzz build) has no GCC target pragma: its own attribute does the same.
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif
