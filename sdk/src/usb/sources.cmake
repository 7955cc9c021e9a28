# USB camera transport: vendor request wire format, frame header, USB identity, the device, FPGA
# configuration and the embedded FPGA images, the frame receiver, discovery.
target_sources(qvsdk_objects PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/FpgaImages.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LibUsbCamera.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LibUsbCameraFactory.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LibUsbFrame.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LibUsbFrameReceiver.cpp
  ${CMAKE_CURRENT_LIST_DIR}/S6Pll.cpp
  ${CMAKE_CURRENT_LIST_DIR}/S6PllTables.cpp
  ${CMAKE_CURRENT_LIST_DIR}/UsbCamera.cpp
  ${CMAKE_CURRENT_LIST_DIR}/UsbCameraCooling.cpp
  ${CMAKE_CURRENT_LIST_DIR}/UsbCameraSettings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/UsbCooling.cpp
  ${CMAKE_CURRENT_LIST_DIR}/UsbFpgaConfig.cpp
  ${CMAKE_CURRENT_LIST_DIR}/UsbFrameHeader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/UsbHardwareType.cpp
  ${CMAKE_CURRENT_LIST_DIR}/UsbOpenedDeviceList.cpp
  ${CMAKE_CURRENT_LIST_DIR}/UsbPll.cpp
  ${CMAKE_CURRENT_LIST_DIR}/UsbVendorRequest.cpp
)
find_package(PkgConfig REQUIRED)
pkg_check_modules(QV_SDK_LIBUSB REQUIRED IMPORTED_TARGET libusb-1.0)
target_link_libraries(qvsdk_objects PUBLIC PkgConfig::QV_SDK_LIBUSB)
include(${CMAKE_CURRENT_LIST_DIR}/FpgaImages.cmake)
