# Image processing: the pipeline objects, lookup tables, kernels and the vector constants they
# share.
set(qv_isp_sources
  ${CMAKE_CURRENT_LIST_DIR}/BayerAvx2.cpp
  ${CMAKE_CURRENT_LIST_DIR}/BayerKernels.cpp
  ${CMAKE_CURRENT_LIST_DIR}/BayerLoad.cpp
  ${CMAKE_CURRENT_LIST_DIR}/BayerOutput.cpp
  ${CMAKE_CURRENT_LIST_DIR}/BayerScalar.cpp
  ${CMAKE_CURRENT_LIST_DIR}/BayerSharpen.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CameraExposure.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CameraExposureStatistics.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CameraISP.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CameraWhiteBalance.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ColourSetup.cpp
  ${CMAKE_CURRENT_LIST_DIR}/IspVectorConstants.cpp
  ${CMAKE_CURRENT_LIST_DIR}/KernelFamily.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LensShading.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LutTables.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MonoKernels.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MonoKernelsAvx2.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MonoKernelsVector.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OutFormat.cpp
  ${CMAKE_CURRENT_LIST_DIR}/RawResizer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/RawYuvKernels.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SharpenVector.cpp
  ${CMAKE_CURRENT_LIST_DIR}/YuvRowsAvx2.cpp
)
target_sources(qvsdk_objects PRIVATE ${qv_isp_sources})
target_include_directories(qvsdk_objects PUBLIC ${CMAKE_CURRENT_LIST_DIR})
# The pipeline's results are defined to the bit: SSE4.1 as the baseline (no processor check is
# made for it), and no fused multiply-add, which would round (v - p) x f + p only once. The
# AVX2 kernels (the *Avx2.cpp sources) switch to AVX2 with a target pragma after their headers,
# so that no inline function of a shared header is built for AVX2 and picked by the linker for
# the whole library; KernelFamily.cpp runs them only where the processor has AVX2.
set_source_files_properties(${qv_isp_sources} PROPERTIES COMPILE_OPTIONS "-msse4.1;-ffp-contract=off")
