# The shared library as hosts see it: export table, symbol versions, public headers from C.
qv_add_test(api_export_test
  SOURCES api/ExportTableTest.cpp api/PublicHeaderTest.cpp api/PublicHeaderCheck.c
  LIBS QVCameraSDK::QVCameraSDK)
target_compile_definitions(api_export_test PRIVATE
  QVSDK_LIBRARY_PATH="$<TARGET_FILE:QVCameraSDK>"
  QVSDK_EXPORTS_LIST="${PROJECT_SOURCE_DIR}/sdk/exports.list")

# Bad input over every export on a simulated USB camera that streams throughout (the executable
# re-executes itself under the umockdev preload).
if(TARGET qv_sim_usb_umockdev)
  qv_add_test(api_bad_input_test
    SOURCES api/BadInputTest.cpp api/BadInputArgs.cpp api/BadInputRowsAcquisition.cpp
      api/BadInputRowsSettings.cpp api/BadInputRowsLines.cpp api/BadInputRowsOther.cpp
      $<TARGET_OBJECTS:qv_umockdev_preload>
    LIBS qv_sim_usb_imx290 ${CMAKE_DL_LIBS})
  target_include_directories(api_bad_input_test PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/e2e)
endif()

# The same on one streaming handle from several threads at once.
if(TARGET qv_sim_usb_umockdev)
  qv_add_test(api_bad_input_concurrency_test
    SOURCES api/BadInputConcurrencyTest.cpp api/BadInputArgs.cpp
      $<TARGET_OBJECTS:qv_umockdev_preload>
    LIBS qv_sim_usb_imx290 ${CMAKE_DL_LIBS} LABELS concurrency)
  target_include_directories(api_bad_input_concurrency_test PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/e2e)
endif()

# A host that loads the library with dlopen, starts its services and unloads it. The test itself
# does not link the library, so the unload is real.
qv_add_test(api_unload_test SOURCES api/UnloadTest.cpp LIBS ${CMAKE_DL_LIBS})
target_compile_definitions(api_unload_test PRIVATE QVSDK_LIBRARY_PATH="$<TARGET_FILE:QVCameraSDK>")
add_dependencies(api_unload_test QVCameraSDK)
