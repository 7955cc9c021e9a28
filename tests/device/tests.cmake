# Device base, attachment, keep-alive service and the device test double.
qv_add_test(fake_device_test SOURCES device/FakeDeviceTest.cpp LIBS qv_sim LABELS concurrency)
qv_add_test(device_base_test SOURCES device/DeviceBaseTest.cpp LIBS qv_sim)
qv_add_test(attach_test SOURCES device/AttachTest.cpp LIBS qv_sim LABELS concurrency)
qv_add_test(keep_alive_test SOURCES device/KeepAliveTest.cpp LIBS qv_sim LABELS concurrency)
