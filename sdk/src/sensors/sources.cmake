# Sensor drivers: the interface, the factory, the shared driver layer and one source per driver.
target_sources(qvsdk_objects PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/SensorInf.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SensorFactory.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SensorClock.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SensorBase.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SensorGain.cpp
  # Drivers
  ${CMAKE_CURRENT_LIST_DIR}/IMX290.cpp
)
