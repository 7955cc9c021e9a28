# USB camera transport: vendor request wire format, frame header, simulated camera.
qv_add_test(usb_wire_test SOURCES usb/UsbVendorRequestTest.cpp LIBS qvsdk_static)
qv_add_test(usb_sim_test SOURCES usb/SimUsbCameraTest.cpp LIBS qv_sim_usb)
qv_add_test(usb_fpga_test SOURCES usb/FpgaImagesTest.cpp usb/UsbFpgaConfigTest.cpp
  usb/UsbPllTest.cpp LIBS qv_sim_usb)

# The simulated camera behind the real libusb; the executable re-executes itself under the
# umockdev preload.
if(TARGET qv_sim_usb_umockdev)
  qv_add_test(usb_sim_libusb_test SOURCES usb/SimUsbLibusbTest.cpp $<TARGET_OBJECTS:qv_umockdev_preload>
    LIBS qv_sim_usb_umockdev ${CMAKE_DL_LIBS} LABELS concurrency)
  # The USB camera device on the real libusb.
  qv_add_test(usb_libusb_camera_test SOURCES usb/LibUsbCameraTest.cpp
    $<TARGET_OBJECTS:qv_umockdev_preload>
    LIBS qv_sim_usb_umockdev qv_storage_image qv_sim ${CMAKE_DL_LIBS} LABELS concurrency)
endif()

# The USB camera device over the in-process link.
qv_add_test(usb_camera_test SOURCES usb/UsbCameraTest.cpp LIBS qv_sim_usb qv_sim)
qv_add_test(usb_camera_threads_test SOURCES usb/UsbCameraThreadsTest.cpp LIBS qv_sim_usb qv_sim
  LABELS concurrency)
# Cooling of a USB camera through the controller's integer values.
qv_add_test(usb_cooling_api_test SOURCES usb/UsbCoolingApiTest.cpp LIBS qv_sim_usb qv_sim
  LABELS concurrency)

# The frame receiver and discovery on the real libusb, with the factory's event thread.
if(TARGET qv_sim_usb_umockdev)
  qv_add_test(usb_frame_receiver_test SOURCES usb/LibUsbFrameReceiverTest.cpp
    $<TARGET_OBJECTS:qv_umockdev_preload>
    LIBS qv_sim_usb_umockdev qv_storage_image qv_sim ${CMAKE_DL_LIBS} LABELS concurrency)
endif()
if(TARGET qv_sim_usb_umockdev)
  qv_add_test(usb_camera_factory_test SOURCES usb/LibUsbCameraFactoryTest.cpp
    $<TARGET_OBJECTS:qv_umockdev_preload>
    LIBS qv_sim_usb_umockdev qv_storage_image qv_sim ${CMAKE_DL_LIBS} LABELS concurrency)
endif()
