# Image processing: lookup tables, mono kernels, output formats, raw resize, pipeline objects.
qv_add_test(isp_test
  SOURCES isp/LutTablesTest.cpp isp/MonoKernelsTest.cpp isp/OutFormatTest.cpp
          isp/RawResizerTest.cpp isp/CameraIspTest.cpp isp/CameraExposureWbTest.cpp
          isp/ExposureStatisticsTest.cpp isp/AutoExposureTest.cpp isp/LensShadingTest.cpp
          isp/WhiteBalanceAwbTest.cpp
  LIBS qvsdk_static)
# The references compute the single-precision contrast exactly as written: no fused multiply-add.
target_compile_options(isp_test PRIVATE -ffp-contract=off)

# The pipeline objects with frames on one thread and setters on others.
qv_add_test(isp_concurrency_test
  SOURCES isp/PipelineObjectsConcurrencyTest.cpp
  LIBS qvsdk_static
  LABELS concurrency)

# Per-pixel models of the colour kernels' rules, and the kernels against them.
add_library(qv_colour_model STATIC isp/ColourReference.cpp)
target_include_directories(qv_colour_model PUBLIC ${CMAKE_CURRENT_LIST_DIR})
# The models walk megapixel frames pixel by pixel: optimised in the sanitizer builds as well.
target_compile_options(qv_colour_model PRIVATE -ffp-contract=off $<$<CONFIG:Debug>:-O1>)
qv_add_test(isp_colour_test
  SOURCES isp/ColourKernelsTest.cpp isp/RawYuvKernelsTest.cpp
  LIBS qvsdk_static qv_colour_model)

# Only the AVX2 kernels hold AVX instructions, so the library runs on processors without them.
add_test(NAME isp_avx2_containment_test
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/CheckAvx2Containment.sh $<TARGET_FILE:QVCameraSDK>
          $<TARGET_OBJECTS:qvsdk_objects>
  COMMAND_EXPAND_LISTS)

# The AVX2 family against the SSE4.1 family at every width, with guard pages.
qv_add_test(isp_family_sweep_test
  SOURCES isp/KernelFamilySweepTest.cpp
  LIBS qvsdk_static)

# On an emulated processor without AVX2: the library loads and a frame of each kind goes through
# the SSE4.1 family, and the image-pipeline tests pass there. The emulator cannot run the
# sanitizers' shadow memory, so only the plain builds take part.
add_executable(isp_family_probe isp/KernelFamilyProbe.cpp)
target_link_libraries(isp_family_probe PRIVATE qvsdk_static ${CMAKE_DL_LIBS})
find_program(QV_QEMU_X86_64 qemu-x86_64)
if(QV_QEMU_X86_64 AND NOT QV_SANITIZE)
  # A test program that starts itself over (the network-namespace guard does) starts under the
  # same emulator again, not natively.
  set(qv_emulated_env "QV_TEST_EMULATOR=${QV_QEMU_X86_64} -cpu Nehalem")
  add_test(NAME isp_no_avx2_probe_test
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/CheckNoAvx2.sh ${QV_QEMU_X86_64}
            $<TARGET_FILE:isp_family_probe> $<TARGET_FILE:QVCameraSDK>)
  foreach(t isp_test isp_colour_test)
    add_test(NAME ${t}_no_avx2 COMMAND ${QV_QEMU_X86_64} -cpu Nehalem $<TARGET_FILE:${t}>)
    set_tests_properties(${t}_no_avx2 PROPERTIES TIMEOUT 900 LABELS emulated
                         ENVIRONMENT "${qv_emulated_env}")
  endforeach()
  set_tests_properties(isp_no_avx2_probe_test PROPERTIES LABELS emulated)
  # The emulated test programs must stay emulated when they start themselves over.
  add_test(NAME isp_no_avx2_reexec_test
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/CheckNoAvx2Reexec.sh ${QV_QEMU_X86_64}
            $<TARGET_FILE:isp_colour_test>)
  set_tests_properties(isp_no_avx2_reexec_test PROPERTIES LABELS emulated
                       ENVIRONMENT "${qv_emulated_env}")
elseif(NOT QV_QEMU_X86_64 AND NOT QV_SANITIZE)
  # Without the emulator nothing shows that the library runs on a processor without AVX2; a
  # build held to warnings as errors (CI's) must not pass without that proof.
  if(QV_WERROR)
    message(FATAL_ERROR "qemu-x86_64 not found (Debian: qemu-user): the library cannot be tried "
                        "on a processor without AVX2")
  endif()
  message(WARNING "qemu-x86_64 not found (Debian: qemu-user): the library is not tried on a "
                  "processor without AVX2; the emulated tests are left out")
endif()
