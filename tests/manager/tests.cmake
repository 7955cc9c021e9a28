# Camera manager: enumeration, index queries, GigE IP functions, broadcast trigger, exports.
qv_add_test(manager_test SOURCES manager/ManagerTest.cpp LIBS qv_sim LABELS concurrency)
qv_add_test(manager_api_test SOURCES manager/ManagerApiTest.cpp LIBS qv_sim)
