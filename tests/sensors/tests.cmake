# Sensor drivers: the shared driver layer, the factory and the drivers, on the device test double
# with the virtual driver clock.
qv_add_test(sensor_layer_test SOURCES sensors/SensorLayerTest.cpp LIBS qv_sensor_sim)
qv_add_test(sensor_factory_test SOURCES sensors/SensorFactoryTest.cpp LIBS qv_sensor_sim)
qv_add_test(imx290_init_test SOURCES sensors/Imx290InitTest.cpp LIBS qv_sensor_sim)
qv_add_test(imx290_test SOURCES sensors/Imx290Test.cpp LIBS qv_sensor_sim)
qv_add_test(sensor_device_test SOURCES sensors/SensorDeviceTest.cpp LIBS qv_sensor_sim)
qv_add_test(sony_driver_table_test SOURCES sensors/SonyDriverTableTest.cpp
  sensors/DriverFixture.cpp LIBS qv_sensor_sim)
qv_add_test(sony_rolling_test SOURCES sensors/SonyRollingTest.cpp sensors/DriverFixture.cpp
  LIBS qv_sensor_sim)
qv_add_test(sony_frame_count_test SOURCES sensors/SonyFrameCountTest.cpp
  sensors/DriverFixture.cpp LIBS qv_sensor_sim)
qv_add_test(aptina_micron_table_test SOURCES sensors/AptinaMicronTableTest.cpp
  sensors/DriverFixture.cpp LIBS qv_sensor_sim)
qv_add_test(aptina_micron_test SOURCES sensors/AptinaMicronTest.cpp sensors/DriverFixture.cpp
  LIBS qv_sensor_sim)
qv_add_test(shutter_driver_table_test SOURCES sensors/ShutterDriverTableTest.cpp
  sensors/DriverFixture.cpp LIBS qv_sensor_sim)
qv_add_test(global_shutter_test SOURCES sensors/GlobalShutterTest.cpp sensors/DriverFixture.cpp
  LIBS qv_sensor_sim)
qv_add_test(ov_driver_test SOURCES sensors/OvDriverTest.cpp sensors/DriverFixture.cpp
  LIBS qv_sensor_sim)
qv_add_test(long_exposure_test SOURCES sensors/LongExposureTest.cpp sensors/DriverFixture.cpp
  LIBS qv_sensor_sim)
qv_add_test(long_exposure_threads_test SOURCES sensors/LongExposureThreadsTest.cpp
  sensors/DriverFixture.cpp LIBS qv_sensor_sim LABELS concurrency)
qv_add_test(mixed_families_table_test SOURCES sensors/MixedFamiliesTableTest.cpp
  sensors/DriverFixture.cpp LIBS qv_sensor_sim)
qv_add_test(swir_imx_test SOURCES sensors/SwirImxTest.cpp sensors/DriverFixture.cpp
  LIBS qv_sensor_sim)
qv_add_test(mixed_families_test SOURCES sensors/MixedFamiliesTest.cpp sensors/DriverFixture.cpp
  LIBS qv_sensor_sim)
