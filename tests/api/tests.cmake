# The shared library as hosts see it: export table, symbol versions, public headers from C.
qv_add_test(api_export_test
  SOURCES api/ExportTableTest.cpp api/PublicHeaderTest.cpp api/PublicHeaderCheck.c
  LIBS QVCameraSDK::QVCameraSDK)
target_compile_definitions(api_export_test PRIVATE
  QVSDK_LIBRARY_PATH="$<TARGET_FILE:QVCameraSDK>"
  QVSDK_EXPORTS_LIST="${PROJECT_SOURCE_DIR}/sdk/exports.list")
