# Image processing: lookup tables, mono kernels, output formats, raw resize.
qv_add_test(isp_test
  SOURCES isp/LutTablesTest.cpp isp/MonoKernelsTest.cpp isp/OutFormatTest.cpp
          isp/RawResizerTest.cpp
  LIBS qvsdk_static)
# The references compute the single-precision contrast exactly as written: no fused multiply-add.
target_compile_options(isp_test PRIVATE -ffp-contract=off)
