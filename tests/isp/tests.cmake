# Image processing: lookup tables, mono kernels, output formats, raw resize, pipeline objects.
qv_add_test(isp_test
  SOURCES isp/LutTablesTest.cpp isp/MonoKernelsTest.cpp isp/OutFormatTest.cpp
          isp/RawResizerTest.cpp isp/CameraIspTest.cpp isp/CameraExposureWbTest.cpp
  LIBS qvsdk_static)
# The references compute the single-precision contrast exactly as written: no fused multiply-add.
target_compile_options(isp_test PRIVATE -ffp-contract=off)

# The pipeline objects with frames on one thread and setters on others.
qv_add_test(isp_concurrency_test
  SOURCES isp/PipelineObjectsConcurrencyTest.cpp
  LIBS qvsdk_static
  LABELS concurrency)

# The colour kernels against per-pixel models of their rules.
qv_add_test(isp_colour_test
  SOURCES isp/ColourKernelsTest.cpp isp/ColourReference.cpp
  LIBS qvsdk_static)
target_compile_options(isp_colour_test PRIVATE -ffp-contract=off)
