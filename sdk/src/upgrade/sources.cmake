# Firmware update: upgrade files, the USB and GigE update procedures, the JEDEC parser.
target_sources(qvsdk_objects PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ElementRunRecorder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/LatticeBin.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Upgrade.cpp
  ${CMAKE_CURRENT_LIST_DIR}/UpgradeClock.cpp
  ${CMAKE_CURRENT_LIST_DIR}/UpgradeFile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/UpgradeGigeCamera.cpp
  ${CMAKE_CURRENT_LIST_DIR}/UpgradeU2Camera.cpp
  ${CMAKE_CURRENT_LIST_DIR}/UpgradeU3Camera.cpp
)
