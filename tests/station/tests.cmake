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

# The sole camera's image steps, the saved sole image and the six exports with the station
# closed.
if(TARGET qv_sim_station)
  qv_add_test(station_sole_image_test SOURCES station/SoleImageTest.cpp LIBS qv_sim_station)
  qv_add_test(station_tarn_test SOURCES station/TarnTest.cpp LIBS qv_sim_station)
endif()

# The station end to end through its exports: the simulated USB sole camera behind the real
# libusb (the executable re-executes itself under the umockdev preload) and scripted upper
# cameras. The SDK's shared library is listed first, so the station's calls bind to its exports.
if(TARGET qv_sim_station AND TARGET qv_sim_usb_imx290)
  qv_add_test(station_end_to_end_test SOURCES station/StationEndToEndTest.cpp
    $<TARGET_OBJECTS:qv_umockdev_preload>
    LIBS QVCameraSDK::QVCameraSDK qv_sim_station qv_sim_usb_imx290 ${CMAKE_DL_LIBS}
    LABELS concurrency)
  set_tests_properties(station_end_to_end_test PROPERTIES
    ENVIRONMENT "TSAN_OPTIONS=suppressions=${CMAKE_CURRENT_LIST_DIR}/tsan.supp")
endif()

# The shared library as hosts see it: a C program using only the public header, and the
# library's exports, symbol versions and run path.
if(TARGET Tarnlex)
  add_executable(station_tarnlex_host station/TarnlexHost.c)
  target_link_libraries(station_tarnlex_host PRIVATE qv_netns_guard Tarnlex::Tarnlex)
  # The network-namespace guard is C++.
  set_target_properties(station_tarnlex_host PROPERTIES LINKER_LANGUAGE CXX)
  add_test(NAME station_tarnlex_host COMMAND station_tarnlex_host)
  add_test(NAME station_tarnlex_library
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/check-tarnlex-library.sh $<TARGET_FILE:Tarnlex>)
  set_tests_properties(station_tarnlex_host station_tarnlex_library PROPERTIES TIMEOUT 120)
endif()

# The main job's program (scripts/station runs it): the capture program's dialog driving the
# station on simulated cameras, a synthetic foot walking on the sole camera. Also a test, short.
if(TARGET qv_sim_station AND TARGET qv_sim_usb_imx290 AND TARGET pwcapture_dialog)
  find_package(Qt6 COMPONENTS Widgets REQUIRED)
  add_executable(qv_station station/StationRun.cpp $<TARGET_OBJECTS:qv_umockdev_preload>)
  target_link_libraries(qv_station PRIVATE qv_netns_guard QVCameraSDK::QVCameraSDK
    pwcapture_dialog qv_sim_station qv_sim_usb_imx290 Qt6::Widgets ${CMAKE_DL_LIBS})
  add_test(NAME station_run COMMAND qv_station --seconds 1 --no-time-limit
    --out ${CMAKE_CURRENT_BINARY_DIR}/station-run)
  set_tests_properties(station_run PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
    TIMEOUT 600)
endif()

# A host that loads libTarnlex.so with dlopen, the sole camera simulated under umockdev and the
# upper cameras' capture functions defined in the host: it exits with the station open, 20 times
# (5 under a sanitizer), and it unloads the library after release and lives on.
if(TARGET Tarnlex AND TARGET qv_sim_usb_imx290 AND TARGET qv_sim_interposed_capture)
  add_executable(station_host station/StationHost.cpp $<TARGET_OBJECTS:qv_umockdev_preload>)
  target_compile_definitions(station_host PRIVATE QV_TARNLEX_LIBRARY="$<TARGET_FILE:Tarnlex>")
  target_include_directories(station_host PRIVATE ${PROJECT_SOURCE_DIR}/device/src)
  target_link_libraries(station_host PRIVATE qv_netns_guard qv_sim_interposed_capture
    qv_sim_usb_imx290 ${CMAKE_DL_LIBS})
  # Only the capture's functions are exported: the SDK's code the simulation links must stay out
  # of the library's reach.
  target_link_options(station_host PRIVATE
    -Wl,--dynamic-list=${CMAKE_CURRENT_LIST_DIR}/station-host.dynamic-list)
  add_dependencies(station_host Tarnlex)
  # A sanitizer build reports a use after destruction on the first run it happens in, and each
  # run costs it several times as much: fewer exits there.
  if(QV_SANITIZE)
    set(station_host_exits 5)
  else()
    set(station_host_exits 20)
  endif()
  add_test(NAME station_host COMMAND ${CMAKE_CURRENT_LIST_DIR}/station-host.sh
    $<TARGET_FILE:station_host> ${station_host_exits})
  set_tests_properties(station_host PROPERTIES TIMEOUT 600)
  # A child forked while the station runs exits, and the station runs on; the library unloaded
  # without the release is loaded and opened again. Threads end and start in both: a
  # ThreadSanitizer run too.
  foreach(mode fork reload)
    add_test(NAME station_host_${mode} COMMAND station_host ${mode})
    # 77: a mode that does not run in this build (fork under AddressSanitizer).
    set_tests_properties(station_host_${mode} PROPERTIES TIMEOUT 300 LABELS concurrency
      SKIP_RETURN_CODE 77
      ENVIRONMENT "TSAN_OPTIONS=suppressions=${CMAKE_CURRENT_LIST_DIR}/tsan.supp")
  endforeach()
  # The same with the host and its child each the first process of a PID namespace (as a host
  # in a container may be): both have process ID 1.
  add_test(NAME station_host_pidns COMMAND station_host pidns)
  set_tests_properties(station_host_pidns PROPERTIES TIMEOUT 300 SKIP_RETURN_CODE 77)
  add_dependencies(concurrency_tests station_host)
endif()
