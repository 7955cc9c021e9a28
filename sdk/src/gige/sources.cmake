# GigE camera transport: the socket component (datagram and stream sockets), the GVCP wire
# format, the camera device with its channel, identity, register and setting operations, the
# stream receiver, and discovery.
target_sources(qvsdk_objects PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/Address.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CommonSocket.cpp
  ${CMAKE_CURRENT_LIST_DIR}/GVSPFrame.cpp
  ${CMAKE_CURRENT_LIST_DIR}/GVSPReceiver.cpp
  ${CMAKE_CURRENT_LIST_DIR}/GVSPReceiverBySocket.cpp
  ${CMAKE_CURRENT_LIST_DIR}/GigeCamera.cpp
  ${CMAKE_CURRENT_LIST_DIR}/GigeCameraBySocket.cpp
  ${CMAKE_CURRENT_LIST_DIR}/GigeCameraChannel.cpp
  ${CMAKE_CURRENT_LIST_DIR}/GigeCameraFactory.cpp
  ${CMAKE_CURRENT_LIST_DIR}/GigeCameraIdentity.cpp
  ${CMAKE_CURRENT_LIST_DIR}/GigeCameraRegisters.cpp
  ${CMAKE_CURRENT_LIST_DIR}/GigeCameraSettings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/GigeNetcard.cpp
  ${CMAKE_CURRENT_LIST_DIR}/GvcpProtocol.cpp
  ${CMAKE_CURRENT_LIST_DIR}/GvcpTransport.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SocketGroup.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TCP.cpp
  ${CMAKE_CURRENT_LIST_DIR}/UDP.cpp
)
