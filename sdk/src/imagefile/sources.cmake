# Image files (BMP, JPEG, PNG, RAW) and AVI recording of frames the host holds.
target_sources(qvsdk_objects PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/AtomicFile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/AviWriter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/BmpImageFile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FileTarget.cpp
  ${CMAKE_CURRENT_LIST_DIR}/JpegImageFile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PixelRows.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PngImageFile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/RawImageFile.cpp
)
# The encoders: libjpeg (Debian's libjpeg-turbo) and libpng 1.6; zlib comes with the USB room.
find_package(JPEG REQUIRED)
find_package(PNG REQUIRED)
target_link_libraries(qvsdk_objects PUBLIC JPEG::JPEG PNG::PNG)
