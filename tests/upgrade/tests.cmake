# Firmware update: upgrade files, the flash, EEPROM and FPGA procedures, the JEDEC parser.
qv_add_test(upgrade_test
  SOURCES
    upgrade/LatticeBinTest.cpp
    upgrade/UpgradeFileTest.cpp
    upgrade/UpgradeFlashTest.cpp
    upgrade/UpgradeTestSupport.cpp
    upgrade/UpgradeU2Test.cpp
  LIBS qv_sim_storage qv_sim_usb qv_upgrade_files)

# Heap use of the update: a program of its own, since it replaces the allocation operators.
qv_add_test(upgrade_memory_test
  SOURCES
    upgrade/UpgradeMemoryTest.cpp
    upgrade/UpgradeTestSupport.cpp
  LIBS qv_sim_storage qv_upgrade_files)
