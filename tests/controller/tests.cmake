# Camera controller: opening and release, stream, frames, loss and reconnection.
add_library(qv_controller_fixture STATIC controller/ControllerFixture.cpp
  controller/SettingsCamera.cpp)
target_link_libraries(qv_controller_fixture PUBLIC qv_sim GTest::gtest)
qv_add_test(controller_init_test SOURCES controller/ControllerInitTest.cpp
  LIBS qv_controller_fixture LABELS concurrency)
qv_add_test(controller_stream_test SOURCES controller/ControllerStreamTest.cpp
  LIBS qv_controller_fixture LABELS concurrency)
qv_add_test(controller_reconnect_test SOURCES controller/ControllerReconnectTest.cpp
  LIBS qv_controller_fixture LABELS concurrency)
qv_add_test(controller_settings_test SOURCES controller/ControllerSettingsTest.cpp
  controller/ControllerAeRefreshTest.cpp
  LIBS qv_controller_fixture LABELS concurrency)
qv_add_test(controller_resolution_test SOURCES controller/ControllerResolutionTest.cpp
  LIBS qv_controller_fixture)
qv_add_test(controller_window_test SOURCES controller/ControllerWindowTest.cpp
  LIBS qv_controller_fixture)
qv_add_test(controller_trigger_test SOURCES controller/ControllerTriggerTest.cpp
  LIBS qv_controller_fixture)
qv_add_test(controller_parameters_test SOURCES controller/ControllerParametersTest.cpp
  LIBS qv_controller_fixture)
qv_add_test(controller_display_test SOURCES controller/ControllerDisplayTest.cpp
  LIBS qv_controller_fixture)
qv_add_test(controller_lock_test SOURCES controller/ControllerLockTest.cpp
  LIBS qv_controller_fixture LABELS concurrency)
qv_add_test(controller_image_lock_test SOURCES controller/ControllerImageLockTest.cpp
  LIBS qv_controller_fixture LABELS concurrency)
