# USB camera transport: vendor request wire format, frame header, USB identity.
target_sources(qvsdk_objects PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/UsbFrameHeader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/UsbVendorRequest.cpp
)
