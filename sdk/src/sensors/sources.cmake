# Sensor drivers: the interface, the factory and one source per driver.
target_sources(qvsdk_objects PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/SensorFactory.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SensorInf.cpp
)
