# On-camera storage: EEPROM layouts, flash parameter blocks, factory, bad-pixel table.
qv_add_test(storage_test
  SOURCES
    storage/BadPixelTableTest.cpp
    storage/EEPromDataTest.cpp
    storage/FlashDataTest.cpp
    storage/StorageFactoryTest.cpp
    storage/StorageRobustnessTest.cpp
  LIBS qv_sim_storage)
