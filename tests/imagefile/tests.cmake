# Image files and AVI recording: the files are read back by independent readers (python3-pil,
# pngcheck, ffprobe and ffmpeg).
add_library(qv_file_readers STATIC imagefile/FileReaders.cpp imagefile/FrameMaker.cpp)
target_link_libraries(qv_file_readers PUBLIC qv_sim GTest::gtest)
target_compile_definitions(qv_file_readers PRIVATE
  QV_IMAGE_READER="${CMAKE_CURRENT_SOURCE_DIR}/imagefile/image_reader.py")
qv_add_test(image_file_test SOURCES imagefile/ImageFileTest.cpp imagefile/AviRecordTest.cpp
  imagefile/SaveTargetTest.cpp
  LIBS qv_file_readers)
# Its own process: it makes a mount namespace, which needs a single-threaded process.
qv_add_test(image_file_disk_full_test SOURCES imagefile/DiskFullTest.cpp LIBS qv_file_readers)
