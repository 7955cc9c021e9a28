# Frames for the host: descriptors, resize, processed frames, snapshots, through the controller
# on the camera double.
add_library(qv_frames_fixture STATIC frames/FramesTestBase.cpp)
target_link_libraries(qv_frames_fixture PUBLIC qv_controller_fixture)
target_include_directories(qv_frames_fixture PUBLIC ${CMAKE_CURRENT_LIST_DIR}
  ${PROJECT_SOURCE_DIR}/tests/controller)
qv_add_test(frames_test
  SOURCES frames/FrameDescriptorTest.cpp frames/ProcessedFrameTest.cpp
  LIBS qv_frames_fixture)
qv_add_test(frames_colour_test SOURCES frames/ColourFrameTest.cpp
  LIBS qv_frames_fixture qv_colour_model)
qv_add_test(frames_snap_test SOURCES frames/SnapTest.cpp LIBS qv_frames_fixture)
qv_add_test(frames_concurrency_test SOURCES frames/FramesConcurrencyTest.cpp
  LIBS qv_frames_fixture LABELS concurrency)
