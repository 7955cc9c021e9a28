# Camera API and control: exports, manager, controller, device base, frame pool, services.
target_sources(qvsdk_objects PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ApiAcquisition.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ApiEnumeration.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ApiInit.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ApiMaintenance.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ApiVersion.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CameraControlLifecycle.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CameraControlLoss.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CameraControlStream.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CameraControlWindow.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CameraParameterBuilder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ControlClock.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DevKeepAliveMgr.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DeviceCapability.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FrameBucket.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FrameBuffer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/JNCamObject.cpp
  ${CMAKE_CURRENT_LIST_DIR}/JNCameraMgr.cpp
  ${CMAKE_CURRENT_LIST_DIR}/JNDevice.cpp
  ${CMAKE_CURRENT_LIST_DIR}/JNDeviceMgr.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Log.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TimeUtil.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TimerMng.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TransportFactories.cpp
  ${CMAKE_CURRENT_LIST_DIR}/UdpBroadcast.cpp
)
