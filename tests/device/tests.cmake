# Device base, attachment and the device test double.
qv_add_test(fake_device_test SOURCES device/FakeDeviceTest.cpp LIBS qv_sim LABELS concurrency)
qv_add_test(device_base_test SOURCES device/DeviceBaseTest.cpp LIBS qv_sim)
