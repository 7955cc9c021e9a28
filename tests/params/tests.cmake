# Parameter-group files.
qv_add_test(parameter_file_test SOURCES params/ParameterFileTest.cpp LIBS qvsdk_static)
