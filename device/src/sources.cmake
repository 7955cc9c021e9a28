target_sources(tarnlex_objects PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/TarnLog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Tarn.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Tarnlex.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PW_Mosaic.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Qvcam.cpp
  ${CMAKE_CURRENT_LIST_DIR}/QvcamImage.cpp
  ${CMAKE_CURRENT_LIST_DIR}/QvcamSave.cpp
  ${CMAKE_CURRENT_LIST_DIR}/V4l2FrameSource.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Wcam.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WcamStitch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WcamSave.cpp
)
