// Ends the AVX2 region that Avx2TargetBegin.h opened.
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
