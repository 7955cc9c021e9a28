# The footprint station's library: accumulator, upper cameras and their saved views.
if(TARGET qv_sim_station)
  qv_add_test(station_mosaic_test SOURCES station/MosaicTest.cpp LIBS qv_sim_station)
  qv_add_test(station_wcam_test SOURCES station/WcamTest.cpp LIBS qv_sim_station)
  qv_add_test(station_wcam_save_test SOURCES station/WcamSaveTest.cpp LIBS qv_sim_station)
  qv_add_test(station_wcam_threads_test SOURCES station/WcamThreadsTest.cpp LIBS qv_sim_station
    LABELS concurrency)
  # Image codecs initialise GDAL, whose own lock order a thread checker questions.
  set_tests_properties(station_wcam_threads_test station_wcam_test station_wcam_save_test PROPERTIES
    ENVIRONMENT "TSAN_OPTIONS=suppressions=${CMAKE_CURRENT_LIST_DIR}/tsan.supp")
endif()
