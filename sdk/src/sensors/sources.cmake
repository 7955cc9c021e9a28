# Sensor drivers: the interface, the factory, the shared driver layer and one source per driver.
target_sources(qvsdk_objects PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/SensorInf.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SensorFactory.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SensorClock.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SensorBase.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SensorGain.cpp
  # Drivers
  ${CMAKE_CURRENT_LIST_DIR}/IMX290.cpp
  ${CMAKE_CURRENT_LIST_DIR}/IMX290_WDR.cpp
  ${CMAKE_CURRENT_LIST_DIR}/IMX225.cpp
  ${CMAKE_CURRENT_LIST_DIR}/IMX183Family.cpp
  ${CMAKE_CURRENT_LIST_DIR}/IMX183.cpp
  ${CMAKE_CURRENT_LIST_DIR}/IMX206.cpp
  ${CMAKE_CURRENT_LIST_DIR}/IMX226.cpp
  ${CMAKE_CURRENT_LIST_DIR}/IMX178.cpp
  ${CMAKE_CURRENT_LIST_DIR}/IMX377Family.cpp
  ${CMAKE_CURRENT_LIST_DIR}/IMX377.cpp
  ${CMAKE_CURRENT_LIST_DIR}/IMX577.cpp
  ${CMAKE_CURRENT_LIST_DIR}/IMX335.cpp
)
