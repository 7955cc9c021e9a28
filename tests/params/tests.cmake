# Parameter-group files.
qv_add_test(parameter_file_test SOURCES params/ParameterFileTest.cpp LIBS qv_sim)
