# Parameter-group files.
qv_add_test(parameter_file_test
  SOURCES params/ParameterFileTest.cpp params/ParameterFileFaultTest.cpp
  params/ParameterFolderTest.cpp
  LIBS qv_sim)
