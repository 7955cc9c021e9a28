# Display conversion and text drawing on their own.
qv_add_test(display_test SOURCES display/DisplayConvertTest.cpp display/TextDrawingTest.cpp
  LIBS qvsdk_static)
