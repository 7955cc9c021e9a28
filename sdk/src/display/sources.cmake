# Display of output images (32-bit conversion, the display sink), overlays and text.
set(qv_display_sources
  ${CMAKE_CURRENT_LIST_DIR}/Display.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DisplayConvert.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DisplayFactory.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ImageDrawing.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MakeFont.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TextDrawing.cpp
)
target_sources(qvsdk_objects PRIVATE ${qv_display_sources})
# The conversion's vector path is built as the pipeline's kernels are: SSE4.1 at most.
set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/DisplayConvert.cpp PROPERTIES
  COMPILE_OPTIONS "-msse4.1;-ffp-contract=off")
