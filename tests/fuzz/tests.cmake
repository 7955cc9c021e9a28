# libFuzzer targets, built with -DQV_FUZZ=ON under clang (target qv_fuzz_targets). Each target
# is one source with LLVMFuzzerTestOneInput and a seed corpus in fuzz/corpus/<corpus>/; the list
# of targets, with their corpora, goes to fuzz_targets.txt in the build folder, from which
# scripts/fuzz runs each for a bounded time.
if(NOT QV_FUZZ)
  return()
endif()

add_custom_target(qv_fuzz_targets)
set(QV_FUZZ_LIST ${CMAKE_BINARY_DIR}/fuzz_targets.txt)
file(WRITE ${QV_FUZZ_LIST} "")

# qv_add_fuzz_target(<name> <source> <corpus folder> [libraries...])
function(qv_add_fuzz_target name source corpus)
  add_executable(${name} ${source} ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/QuietLog.cpp)
  target_link_libraries(${name} PRIVATE qv_netns_guard qvsdk_static ${ARGN})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  add_dependencies(qv_fuzz_targets ${name})
  file(APPEND ${QV_FUZZ_LIST}
    "${name} ${CMAKE_CURRENT_BINARY_DIR}/${name} ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/${corpus}\n")
endfunction()

qv_add_fuzz_target(fuzz_upgrade_file fuzz/FuzzUpgradeFile.cpp upgrade_file)
qv_add_fuzz_target(fuzz_jedec fuzz/FuzzJedec.cpp jedec)
qv_add_fuzz_target(fuzz_param_file fuzz/FuzzParamFile.cpp param_file)
qv_add_fuzz_target(fuzz_storage_image fuzz/FuzzStorageImage.cpp storage_image qv_sim_storage)
qv_add_fuzz_target(fuzz_lsc_table fuzz/FuzzLscTable.cpp lsc_table)
qv_add_fuzz_target(fuzz_discovery fuzz/FuzzDiscovery.cpp discovery)
# The GigE targets move into a network namespace of their own before they start, though both
# run in-process: the GVSP receiver on a port of the fuzzer's in its socket's place, the GVCP
# channel through a transport backend to the simulated camera's firmware.
qv_add_fuzz_target(fuzz_gvsp fuzz/FuzzGvsp.cpp gvsp qv_sim_gige qv_gige_own_netns)
target_include_directories(fuzz_gvsp PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/gige)
qv_add_fuzz_target(fuzz_gvcp fuzz/FuzzGvcp.cpp gvcp qv_sim_gige_imx290
  qv_gige_own_netns)
