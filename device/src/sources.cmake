target_sources(tarnlex_objects PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/TarnLog.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PW_Mosaic.cpp
  ${CMAKE_CURRENT_LIST_DIR}/V4l2FrameSource.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Wcam.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WcamStitch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WcamSave.cpp
)
