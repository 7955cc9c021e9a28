# GigE camera transport. Every program moves into a network namespace of its own before main
# (qv_gige_own_netns), where the simulated cameras live on loopback addresses or behind veth
# links into further namespaces.
qv_add_test(gige_socket_test SOURCES gige/SocketTest.cpp gige/SocketHelpersTest.cpp
  gige/TcpSocketTest.cpp $<TARGET_OBJECTS:qv_gige_own_netns> LIBS qvsdk_static qv_sim_gige)
qv_add_test(gige_channel_test SOURCES gige/GvcpChannelTest.cpp $<TARGET_OBJECTS:qv_gige_own_netns>
  LIBS qvsdk_static qv_sim_gige_imx290 LABELS concurrency)
# The same channel through a transport backend instead of its socket: no network at all.
qv_add_test(gige_transport_test SOURCES gige/GvcpTransportTest.cpp
  LIBS qvsdk_static qv_sim_gige_imx290)
qv_add_test(gige_camera_test SOURCES gige/GigeCameraTest.cpp $<TARGET_OBJECTS:qv_gige_own_netns>
  LIBS qvsdk_static qv_sim qv_sim_gige_imx290 LABELS concurrency)
qv_add_test(gige_discovery_test SOURCES gige/GigeDiscoveryTest.cpp $<TARGET_OBJECTS:qv_gige_own_netns>
  LIBS qvsdk_static qv_sim_gige_imx290 LABELS concurrency)
qv_add_test(gige_identity_test SOURCES gige/GigeIdentityTest.cpp LIBS qvsdk_static)
qv_add_test(gige_stream_test SOURCES gige/GigeStreamTest.cpp $<TARGET_OBJECTS:qv_gige_own_netns>
  LIBS qvsdk_static qv_sim qv_sim_gige_imx290 LABELS concurrency)
qv_add_test(gige_network_test SOURCES gige/GigeNetworkTest.cpp $<TARGET_OBJECTS:qv_gige_own_netns>
  LIBS qvsdk_static qv_sim_gige_imx290 LABELS concurrency)
qv_add_test(gige_settings_test SOURCES gige/GigeSettingsTest.cpp $<TARGET_OBJECTS:qv_gige_own_netns>
  LIBS qvsdk_static qv_sim_gige_imx290 LABELS concurrency)
qv_add_test(gige_gvsp_receiver_test SOURCES gige/GvspReceiverTest.cpp
  $<TARGET_OBJECTS:qv_gige_own_netns> LIBS qvsdk_static qv_sim qv_sim_gige LABELS concurrency)
qv_add_test(gige_gvsp_resend_test SOURCES gige/GvspResendTest.cpp LIBS qvsdk_static)
qv_add_test(gige_stream_frames_test SOURCES gige/GigeStreamFramesTest.cpp
  $<TARGET_OBJECTS:qv_gige_own_netns> LIBS qvsdk_static qv_sim_gige_imx290 LABELS concurrency)
qv_add_test(gige_stream_pause_test SOURCES gige/GigeStreamPauseTest.cpp
  $<TARGET_OBJECTS:qv_gige_own_netns> LIBS qvsdk_static qv_sim_gige_imx290 LABELS concurrency)
