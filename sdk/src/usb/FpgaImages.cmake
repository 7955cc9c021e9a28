# The FPGA configuration images embedded in the SDK (see FpgaImageList.h and the README).
#
# QV_FPGA_IMAGE_DIR names a folder with the camera maker's images, one zlib stream per image
# named <file>.zlib after the list; left empty, the build generates placeholder images. Either
# way a small host tool writes the streams and a source file that embeds them with .incbin.
set(QV_FPGA_IMAGE_DIR "" CACHE PATH
    "Folder with the camera maker's FPGA images (<file>.zlib); empty: generated placeholders")

find_package(ZLIB REQUIRED)
target_link_libraries(qvsdk_objects PUBLIC ZLIB::ZLIB)

add_executable(qv_fpga_image_tool ${CMAKE_CURRENT_LIST_DIR}/tools/FpgaImageTool.cpp)
target_include_directories(qv_fpga_image_tool PRIVATE ${CMAKE_CURRENT_LIST_DIR}/..)
target_link_libraries(qv_fpga_image_tool PRIVATE ZLIB::ZLIB)
# The tool runs during the build, outside any test wrapper: ThreadSanitizer's runtime would need
# the fixed address layout that only the test runs get.
target_compile_options(qv_fpga_image_tool PRIVATE -fno-sanitize=all)
target_link_options(qv_fpga_image_tool PRIVATE -fno-sanitize=all)

set(qv_fpga_out ${CMAKE_CURRENT_BINARY_DIR}/fpga_images)
file(MAKE_DIRECTORY ${qv_fpga_out})
set(qv_fpga_inputs)
if(QV_FPGA_IMAGE_DIR)
  file(GLOB qv_fpga_inputs CONFIGURE_DEPENDS ${QV_FPGA_IMAGE_DIR}/*.zlib)
endif()
add_custom_command(
  OUTPUT ${qv_fpga_out}/FpgaImageBlobs.cpp
  COMMAND qv_fpga_image_tool ${qv_fpga_out} ${QV_FPGA_IMAGE_DIR}
  DEPENDS qv_fpga_image_tool ${qv_fpga_inputs} ${CMAKE_CURRENT_LIST_DIR}/FpgaImageList.h
  COMMENT "FPGA images ${QV_FPGA_IMAGE_DIR}"
  VERBATIM)
target_sources(qvsdk_objects PRIVATE ${qv_fpga_out}/FpgaImageBlobs.cpp)
