# The capture program's dialog and polling thread against a fake of the station's six functions,
# under Qt's offscreen platform.
if(TARGET pwcapture_dialog)
  find_package(Qt6 COMPONENTS Widgets Test REQUIRED)
  add_executable(capture_dialog_test capture/DialogTest.cpp capture/FakeTarnlex.cpp)
  set_target_properties(capture_dialog_test PROPERTIES AUTOMOC ON)
  target_include_directories(capture_dialog_test PRIVATE ${PROJECT_SOURCE_DIR}/device/src
    ${CMAKE_CURRENT_LIST_DIR}/capture)
  target_link_libraries(capture_dialog_test PRIVATE pwcapture_dialog Qt6::Test Qt6::Widgets)
  add_test(NAME capture_dialog_test COMMAND capture_dialog_test)
  set_tests_properties(capture_dialog_test PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 600)
endif()

# The same dialog with the real libTarnlex.so, on this machine without the station's cameras.
if(TARGET pwcapture_dialog AND TARGET Tarnlex)
  add_executable(capture_library_test capture/DialogLibraryTest.cpp)
  set_target_properties(capture_library_test PROPERTIES AUTOMOC ON)
  target_link_libraries(capture_library_test PRIVATE qv_netns_guard pwcapture_dialog
    Tarnlex::Tarnlex Qt6::Test Qt6::Widgets)
  add_test(NAME capture_library_test COMMAND capture_library_test)
  set_tests_properties(capture_library_test PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 600)
endif()

# The same again on an X server (Xvfb), through Qt's xcb platform as on a desktop.
find_program(QV_XVFB_RUN xvfb-run)
if(TARGET capture_library_test AND QV_XVFB_RUN)
  add_test(NAME capture_library_xvfb_test COMMAND ${QV_XVFB_RUN} -a
    -s "-screen 0 1280x1024x24 -nolisten tcp" $<TARGET_FILE:capture_library_test>)
  set_tests_properties(capture_library_xvfb_test PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=xcb;LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_LIST_DIR}/lsan.supp"
    TIMEOUT 600)
endif()
