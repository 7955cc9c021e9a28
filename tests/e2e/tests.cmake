# The SDK end to end through its exported functions, with simulated USB cameras behind the real
# libusb (the executable re-executes itself under the umockdev preload).
if(TARGET qv_sim_usb_umockdev)
  qv_add_test(usb_end_to_end_test SOURCES e2e/UsbEndToEndTest.cpp
    $<TARGET_OBJECTS:qv_umockdev_preload>
    LIBS qv_sim_usb_imx290 ${CMAKE_DL_LIBS} LABELS concurrency)
endif()
