# USB camera transport: vendor request wire format, frame header, simulated camera.
qv_add_test(usb_wire_test SOURCES usb/UsbVendorRequestTest.cpp LIBS qvsdk_static)
