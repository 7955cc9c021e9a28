# On-camera storage: EEPROM and flash layouts, upgrade files.
target_sources(qvsdk_objects PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/StorageFactory.cpp
)
