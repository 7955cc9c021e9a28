# On-camera storage: EEPROM and flash layouts.
target_sources(qvsdk_objects PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/BadPixelTable.cpp
  ${CMAKE_CURRENT_LIST_DIR}/EEPromData.cpp
  ${CMAKE_CURRENT_LIST_DIR}/EEPromData0.cpp
  ${CMAKE_CURRENT_LIST_DIR}/EEPromData1.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FlashData.cpp
  ${CMAKE_CURRENT_LIST_DIR}/GigeFlashData.cpp
  ${CMAKE_CURRENT_LIST_DIR}/StorageFactory.cpp
)
