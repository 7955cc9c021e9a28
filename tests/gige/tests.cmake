# GigE camera transport. Every program moves into a network namespace of its own before main
# (qv_gige_own_netns), where the simulated cameras live on loopback addresses or behind veth
# links into further namespaces.
qv_add_test(gige_socket_test SOURCES gige/SocketTest.cpp $<TARGET_OBJECTS:qv_gige_own_netns>
  LIBS qvsdk_static qv_sim_gige)
