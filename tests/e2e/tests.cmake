# The SDK end to end through its exported functions, with simulated USB cameras behind the real
# libusb (the executable re-executes itself under the umockdev preload).
if(TARGET qv_sim_usb_umockdev)
  qv_add_test(usb_end_to_end_test SOURCES e2e/UsbEndToEndTest.cpp e2e/UsbColourEndToEndTest.cpp
    $<TARGET_OBJECTS:qv_umockdev_preload>
    LIBS qv_sim_usb_imx290 qv_sim ${CMAKE_DL_LIBS} LABELS concurrency)
  qv_add_test(usb_trigger_end_to_end_test SOURCES e2e/UsbTriggerEndToEndTest.cpp
    $<TARGET_OBJECTS:qv_umockdev_preload>
    LIBS qv_sim_usb_imx290 ${CMAKE_DL_LIBS} LABELS concurrency)
  # Auto exposure through the exports on a simulated camera that renders what it is programmed
  # with.
  qv_add_test(usb_auto_exposure_test SOURCES e2e/UsbAutoExposureTest.cpp
    $<TARGET_OBJECTS:qv_umockdev_preload>
    LIBS qv_sim_usb_imx290 ${CMAKE_DL_LIBS} LABELS concurrency)
  # Damaged parameter-group files met by CameraInit.
  qv_add_test(usb_parameter_file_test SOURCES e2e/UsbParameterFileEndToEndTest.cpp
    $<TARGET_OBJECTS:qv_umockdev_preload>
    LIBS qv_sim_usb_imx290 qv_sim ${CMAKE_DL_LIBS})
  # Firmware update through CameraUpgrade.
  qv_add_test(usb_upgrade_end_to_end_test SOURCES e2e/UsbUpgradeEndToEndTest.cpp
    $<TARGET_OBJECTS:qv_umockdev_preload>
    LIBS qv_sim_usb_imx290 qv_upgrade_files ${CMAKE_DL_LIBS})
endif()

# The main job's program (scripts/demo runs it): the simulated camera captured through the
# shared library's exports alone. Listed first, the shared library resolves every export.
if(TARGET qv_sim_usb_imx290)
  add_executable(qv_demo e2e/UsbDemo.cpp $<TARGET_OBJECTS:qv_umockdev_preload>)
  target_link_libraries(qv_demo PRIVATE qv_netns_guard QVCameraSDK::QVCameraSDK qv_sim_usb_imx290
    ${CMAKE_DL_LIBS})
  # A program a user runs: build/bin/qv_demo; its pictures go into the build tree unless asked.
  set_target_properties(qv_demo PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  target_compile_definitions(qv_demo PRIVATE QV_DEMO_OUTPUT_DIR="${CMAKE_BINARY_DIR}/demo-output")
endif()

# A simulated GigE camera through the exported functions, in a network namespace of the
# program's own.
qv_add_test(gige_end_to_end_test SOURCES e2e/GigeEndToEndTest.cpp
  $<TARGET_OBJECTS:qv_gige_own_netns> LIBS qvsdk_static qv_sim_gige_imx290 LABELS concurrency)
qv_add_test(gige_upgrade_end_to_end_test SOURCES e2e/GigeUpgradeEndToEndTest.cpp
  $<TARGET_OBJECTS:qv_gige_own_netns> LIBS qvsdk_static qv_sim_gige_imx290 qv_upgrade_files)
qv_add_test(gige_frames_end_to_end_test SOURCES e2e/GigeFramesEndToEndTest.cpp
  $<TARGET_OBJECTS:qv_gige_own_netns> LIBS qvsdk_static qv_sim_gige_imx290 LABELS concurrency)

# The cable pulled and plugged again while the camera streams, QV_SOAK_CYCLES times (ctest -L soak).
if(TARGET qv_sim_usb_umockdev)
  qv_add_test(usb_unplug_soak_test SOURCES e2e/UsbUnplugSoakTest.cpp
    $<TARGET_OBJECTS:qv_umockdev_preload>
    LIBS qv_sim_usb_imx290 ${CMAKE_DL_LIBS} LABELS soak)
endif()
